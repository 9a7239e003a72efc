#pragma once

// The base of every widget suite. Its init() and cleanup() run around each
// test function (Qt Test finds them by name in a base class too; a suite
// with its own calls these): a test fails when a modal window came that no
// answer was queued for, or when it leaves a modal window open, and the
// failure names the window's title and text.

#include <QObject>
#include <QString>

class GuiSuite : public QObject
{
    Q_OBJECT

protected slots:
    void init();
    void cleanup();

protected:
    // The first top-level window of any kind still shown, as
    // 'class "title"'; empty when none is.
    static QString shownWindow();
};
