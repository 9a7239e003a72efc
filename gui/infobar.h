#pragma once

// The calibration screen's one-line status line.

#include <QString>
#include <QWidget>

namespace Ui
{
class InfoBar;
}

class InfoBar : public QWidget
{
    Q_OBJECT

public:
    explicit InfoBar(QWidget *parent = nullptr);
    ~InfoBar() override;

    // Shown at once: the operator reads it while the next prompt is open. The
    // label shows plain text, since data lines from the sensor are echoed here.
    void setText(const QString &text);
    QString text() const;

private:
    Ui::InfoBar *ui;
};
