// Finding the sensor's port and opening it.

#include "gui/calibrationdlg.h"

#include "ui_calibrationdlg.h"

#include <QTimer>

namespace
{
// With no sensor port listed there is nothing to open: the operator is told
// what to check instead of an open failure that reads like a permission problem.
const char kNoPortStatus[] = QT_TRANSLATE_NOOP("CalibrationDlg", "No sensor port found");
const char kNoPortTitle[] = QT_TRANSLATE_NOOP("CalibrationDlg", "No Sensor Port");
const char kNoPortText[] = QT_TRANSLATE_NOOP(
    "CalibrationDlg",
    "No sensor port was found, so there is nothing to connect to.\r\n"
    "Check the cable and that the sensor is switched on and awake, then close and reopen the "
    "calibration screen.\r\n"
    "On Linux, check that the system sees the sensor's FTDI USB-serial converter "
    "(ls -l /dev/ttyUSB*, dmesg | grep -i ftdi) and that you may open serial ports (the dialout "
    "group), as the README explains.");
} // namespace

void CalibrationDlg::fillPortList(const PortLister &portLister)
{
    // Listed once: ports that come and go later are not noticed.
    const QList<PortDescription> ports = portLister ? portLister() : QList<PortDescription>();
    ui->calibrationDlgCB_comport->clear();
    for (const PortDescription &description : ports) {
        enumName = description.enumName;
        if (isSensorPort(description))
            ui->calibrationDlgCB_comport->addItem(description.portName);
    }
}

void CalibrationDlg::on_calibrationDlgCB_comport_activated(int)
{
    portName = ui->calibrationDlgCB_comport->currentText();
    qCDebug(lcCalibration) << portName;
}

void CalibrationDlg::on_calibrationPB_Connect_clicked()
{
    qCDebug(lcCalibration) << "you hit the Connect Button";
    // A run that ended before the listing was accepted (firmware, unknown
    // tip, no response) is over: the next identification is a new run.
    runIdentified_ = false;
    connectedAt_ = QDateTime::currentDateTimeUtc();
    procedure_->clearReceived();
    portName = ui->calibrationDlgCB_comport->currentText();
    qCDebug(lcCalibration) << portName;
    if (portName.isEmpty()) {
        noSensorPort();
        return;
    }

    // A press while a reply is still awaited ends that wait first.
    if (tickTimer->isActive())
        StopTimer();
    pushWaitCursor();

    // A retry after a failed open or an unanswered command: the previous
    // port object would otherwise keep the device busy.
    releasePort();
    procedure_->resetLink();

    port = new QSerialPort(portName);
    portCreated = true;
    applySensorLineSettings(*port);

    if (port->open(QIODevice::ReadWrite)) {
        connect(port, &QSerialPort::readyRead, this, &CalibrationDlg::onReadyRead);
        connect(port, &QSerialPort::errorOccurred, this, &CalibrationDlg::onPortError);
        qCDebug(lcCalibration) << "listening for data on" << port->portName();
        ui->calDlg_statusbar->setText(tr("Initializing sensor"));
        procedure_->start(portName);
    } else {
        qCDebug(lcCalibration) << "device failed to open:" << port->errorString();
        popCursor();
        ui->calDlg_statusbar->setText(tr("device failed to open"));
    }
}

void CalibrationDlg::noSensorPort()
{
    qCDebug(lcCalibration) << "no sensor port listed";
    ui->calDlg_statusbar->setText(tr(kNoPortStatus));
    runBox(msgBox, QMessageBox::Warning, tr(kNoPortTitle), tr(kNoPortText), QMessageBox::Ok,
           Escape::Default);
}
