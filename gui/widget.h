#pragma once

// The main window: instructions the operator must scroll through, the About
// text, and the way into the calibration screen.

#include "core/ports.h"

#include <QWidget>

class QMessageBox;

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

private slots:
    void on_mainPB_About_clicked();
    void on_MainPB_Close_clicked();
    void on_mainPB_OK_clicked();
    // Hides QWidget::update(); the scroll-to-end gate.
    void update(int value);

private:
    QMessageBox *msgBox = nullptr;
    Ui::Widget *ui;
    PortLister portLister_;
};
