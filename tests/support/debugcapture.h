#pragma once

// Collects debug output while alive (one entry per message, as printed).

#include <QStringList>

class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    QStringList lines() const;
    bool contains(const QString &line) const; // an exact line
    void clear();

private:
    QtMessageHandler previousHandler_;
    DebugCapture *outer_; // captures nest; the innermost one collects
    QStringList lines_;
};
