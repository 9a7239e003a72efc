#pragma once

// The calibration screen's one-line status line.

#include <QString>
#include <QTimer>
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

    // The text is the new one at once; the label shows it at once too, unless
    // it changed less than kRepaintIntervalMs ago: then the newest text is
    // shown when that interval ends. A sensor streaming at full line rate
    // would otherwise repaint the line for every data line it sends.
    void setText(const QString &text);
    QString text() const;

    static constexpr int kRepaintIntervalMs = 200;

private:
    void showPending();

    Ui::InfoBar *ui;
    QString text_;
    QTimer repaintTimer_;
    bool pending_ = false;
};
