#include "gui/widget.h"

#include "core/company.h"
#include "gui/calibrationdlg.h"
#include "gui/dialogfont.h"
#include "ui_widget.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>

#include <utility>

Widget::Widget(QWidget *parent) : Widget(PortLister(), parent)
{
}

Widget::Widget(PortLister portLister, QWidget *parent)
    : QWidget(parent), ui(new Ui::Widget), portLister_(std::move(portLister))
{
    ui->setupUi(this);
    useDialogFont(this);
    connect(ui->mainTE_Instructions->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &Widget::update);
}

Widget::~Widget()
{
    delete ui;
}

void Widget::on_mainPB_About_clicked()
{
    QTextEdit *box = ui->mainTE_Instructions;
    box->clear();
    // The button's own text records which content is showing.
    if (ui->mainPB_About->text() == tr("About")) {
        ui->mainPB_About->setText(tr("Instructions"));
        box->setText(tr("Version 1.04\r\n"));
        box->append(tr("Quillmere\t                               %1")
                        .arg(QLatin1String(company::kMakerName)));
        box->append(
            tr("%1\t    %2")
                .arg(QLatin1String(company::kDistributorTown), QLatin1String(company::kMakerTown)));
        box->append(
            tr("%1\t     %2")
                .arg(QLatin1String(company::kDistributorWeb), QLatin1String(company::kMakerWeb)));
    } else {
        ui->mainPB_About->setText(tr("About"));
        box->setText(tr("Please read all instructions before proceeding.\r\n"));
        box->append(
            tr("1) This Program is designed to validate the RT-5K-MQ (40317-2) conductivity "
               "meter using a RT-5K-MQ-VF (40325-8) Verification Tip. The User should have a "
               "working knowledge of the equipment operation and should have the owner's "
               "manuals handy as a reference.\r\n"));
        box->append(
            tr("2) To perform this procedure, RT-5K-MQ (40317-2) must be fully charged, the "
               "instrument must be connected to the Computer via a USB cable and the proper "
               "USB driver must be loaded.\r\n"));
        box->append(tr("3) RT-5K-MQ (40317-2) must have firmware version 2.12 or higher for the "
                       "program to run. The program will alert user if not in compliance.\r\n"));
        box->append(tr("4) The Program will automatically initiate a Validation sequence. Upon "
                       "completion it will be at the user's discretion to update and store "
                       "calibration constants into the RT-5K-MQ (40317-2).\r\n"));
        box->append(
            tr("5) The Program will automatically create a text file with the old and newly "
               "created calibration constants for backup purposes.\r\n"));
        box->append(
            tr("6) After Calibration process has completed, it will automaticall y perform a "
               "verification process on the RT-5K-MQ (40317-2).\r\n"));
        box->append(tr("7) If Verification process is successful, the user can print out the text "
                       "file as a calibration certificate.\r\n"));
        box->append(tr("8) Once connected, do not disconnect USB cable from either PC or "
                       "instrument.\r\n"));
        box->append(
            tr("9) Always read and follow the software instructions that appear in the popup "
               "windows and further instructions appear in the status bar window.\r\n"));
        box->append(tr("10) Care must be taken during this procedure, the user is responsible for "
                       "proper operation during this procedure and all constants stored into the "
                       "sensor.\r\n"));
        box->append(tr("11) The term Sampling Data refers to the button sequence necessary for the "
                       "RT-5K-MQ (40317-2) to take actual data values. See section 3.0 in the "
                       "Owner's Manual for proper sequence.\r\n"));
        box->append(
            tr("12) The term AWAKE refers to the instrument having an active display. A Blank "
               "display means the instrument is ASLEEP.\r\n"));
    }
    QScrollBar *bar = box->verticalScrollBar();
    bar->setValue(bar->minimum());
}

void Widget::on_MainPB_Close_clicked()
{
    close();
}

void Widget::on_mainPB_OK_clicked()
{
    msgBox = new QMessageBox();
    msgBox->setAttribute(Qt::WA_DeleteOnClose);
    msgBox->setIcon(QMessageBox::Warning);
    msgBox->setWindowTitle(tr("End User Directive"));
    msgBox->setText(
        tr("Please Connect Sensor to computer via a USB cable and ensure sensor is powered"));
    msgBox->setFocus(Qt::OtherFocusReason);
    // However the box is dismissed, the screen follows.
    msgBox->exec();

    CalibrationDlg *screen = portLister_ ? new CalibrationDlg(portLister_) : new CalibrationDlg();
    if (linkLossNamer_)
        screen->setLinkLossNamer(linkLossNamer_);
    screen->setHistorySink(historySink_);
    screenOpen_ = true;
    if (screen->exec())
        qDebug() << "Accept";
    else
        qDebug() << "Reject";
    delete screen;
    screenOpen_ = false;
    showLostRuns();
}

void Widget::setLinkLossNamer(LinkLossNamer namer)
{
    linkLossNamer_ = std::move(namer);
}

void Widget::setHistorySink(history::Sink *sink)
{
    historySink_ = sink;
}

void Widget::runLost(const QString &key, const QString &run, const QString &reason)
{
    if (lostKeys_.contains(key))
        return;
    lostKeys_ << key;
    lostToShow_ << tr("%1: %2").arg(run, reason);
    if (!screenOpen_)
        showLostRuns();
}

void Widget::showLostRuns()
{
    if (lostToShow_.isEmpty())
        return;
    auto *box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("lostRuns"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Calibration history"));
    box->setTextFormat(Qt::PlainText);
    box->setText(tr("These runs could be kept neither in the calibration history nor as pending "
                    "runs. They are tried again while this program runs, and are lost if it is "
                    "closed before the history can be reached:\n\n%1\n\nThe calibration record "
                    "files are not affected.")
                     .arg(lostToShow_.join(u'\n')));
    lostToShow_.clear();
    box->open();
}

void Widget::update(int value)
{
    if (value == ui->mainTE_Instructions->verticalScrollBar()->maximum()) {
        qDebug() << "Slider @ bottom";
        ui->mainPB_OK->setEnabled(true);
    }
}
