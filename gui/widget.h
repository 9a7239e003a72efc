#pragma once

// The main window: instructions the operator must scroll through, the About
// text, and the way into the calibration screen.

#include "core/ports.h"

#include <QStringList>
#include <QWidget>

class QMessageBox;

namespace history
{
class Sink;
}

namespace Ui
{
class Widget;
}

class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    // Calibration screens opened from this window list their ports with the
    // given lister instead of the system's.
    explicit Widget(PortLister portLister, QWidget *parent = nullptr);
    ~Widget() override;

    // Calibration screens opened from this window name a lost link with it.
    void setLinkLossNamer(LinkLossNamer namer);
    // Calibration screens opened from this window record their runs there
    // (not owned); without one they record nothing.
    void setHistorySink(history::Sink *sink);

public slots:
    // A run could be kept neither in the history nor pending: said once per
    // run, never while the calibration screen is open.
    void runLost(const QString &key, const QString &run, const QString &reason);

private slots:
    void on_mainPB_About_clicked();
    void on_MainPB_Close_clicked();
    void on_mainPB_OK_clicked();
    // Hides QWidget::update(); the scroll-to-end gate.
    void update(int value);

private:
    void showLostRuns();

    QMessageBox *msgBox = nullptr;
    bool screenOpen_ = false;
    QStringList lostToShow_;
    QStringList lostKeys_; // said already, or waiting to be
    Ui::Widget *ui;
    PortLister portLister_;
    LinkLossNamer linkLossNamer_;
    history::Sink *historySink_ = nullptr;
};
