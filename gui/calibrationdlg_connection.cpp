// Finding the sensor's port and opening it.

#include "gui/calibrationdlg.h"

#include "ui_calibrationdlg.h"

#include <QDebug>
#include <QTimer>

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
    qDebug() << portName;
}

void CalibrationDlg::on_calibrationPB_Connect_clicked()
{
    qDebug() << "you hit the Connect Button";
    // A run that ended before the listing was accepted (firmware, unknown
    // tip, no response) is over: the next identification is a new run.
    runIdentified_ = false;
    connectedAt_ = QDateTime::currentDateTimeUtc();
    receiveBuffer.clear();
    portName = ui->calibrationDlgCB_comport->currentText();
    qDebug() << portName;

    // A press while a reply is still awaited ends that wait first.
    if (tickTimer->isActive())
        StopTimer();
    pushWaitCursor();

    // A retry after a failed open or an unanswered command: the previous
    // port object would otherwise keep the device busy.
    releasePort();
    linkLost_ = false;

    port = new QSerialPort(portName);
    portCreated = true;
    applySensorLineSettings(*port);

    if (port->open(QIODevice::ReadWrite)) {
        connect(port, &QSerialPort::readyRead, this, &CalibrationDlg::onReadyRead);
        connect(port, &QSerialPort::errorOccurred, this, &CalibrationDlg::onPortError);
        qDebug() << "listening for data on" << port->portName();
        ui->calDlg_statusbar->setText(tr("Initializing sensor"));
        awaitReply(AwaitingTimeoutReply, protocol::kTimeoutCommand);
    } else {
        qDebug() << "device failed to open:" << port->errorString();
        popCursor();
        ui->calDlg_statusbar->setText(tr("device failed to open"));
    }
}
