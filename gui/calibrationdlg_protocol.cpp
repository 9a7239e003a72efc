// Receiving the sensor's replies and data lines, and acting on its listing.

#include "gui/calibrationdlg.h"

#include "core/company.h"
#include "core/tipkind.h"
#include "ui_calibrationdlg.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

void CalibrationDlg::onReadyRead()
{
    if (!portUsable() || port->bytesAvailable() == 0)
        return;
    // Reception is gated by the tick timer: bytes that come while it is
    // stopped wait in the port until the next collection.
    if (!tickTimer->isActive())
        return;
    receiveBuffer.append(port->readAll());

    switch (stateMachine) {
    case AwaitingTimeoutReply:
        if (!receiveBuffer.contains(protocol::kTimeoutReply))
            return;
        StopTimer();
        ui->calDlg_statusbar->setText(tr("Sensor timeout set to 30 minutes"));
        awaitReply(AwaitingConstantsReply, protocol::kReadConstantsCommand);
        break;
    case AwaitingConstantsReply:
        if (!receiveBuffer.contains(protocol::kListingEnd))
            return;
        StopTimer();
        readListing();
        break;
    case CollectingCalibrationData:
    case CollectingHighValues:
    case CollectingLowValues:
        handleDataProgress();
        break;
    }
}

void CalibrationDlg::readListing()
{
    int segments = 0;
    replyLines = listing::replyLines(receiveBuffer, &segments);
    qDebug() << receiveBuffer;
    qDebug() << segments;
    for (int i = 0; i < qMin(segments - 1, protocol::kReplyLineCount); ++i)
        qDebug() << replyLines[i];

    const listing::Reading reading = listing::read(replyLines);
    if (reading.verdict == listing::Verdict::Accepted)
        tipKind = reading.tipKind;
    recordIdentification(reading);
    switch (reading.verdict) {
    case listing::Verdict::Accepted:
        showSensorProperties(reading.properties);
        acceptListing();
        break;
    case listing::Verdict::UnknownTip:
        showSensorProperties(reading.properties);
        refuseUnknownTip(reading.properties);
        break;
    case listing::Verdict::Unreadable:
        communicationError();
        break;
    case listing::Verdict::FirmwareTooOld:
        firmwareTooOld();
        break;
    }
}

void CalibrationDlg::showSensorProperties(const listing::Properties &properties)
{
    ui->calLE_Type->setText(properties.type);
    ui->calLE_SN->setText(properties.serialNumber);
    ui->calLE_Version->setText(properties.version);
    ui->calLE_OldCslp->setText(properties.slope);
    ui->calLE_OldCoff->setText(properties.offset);
    qDebug() << replyLines[protocol::kSerialLine];
    qDebug() << replyLines[protocol::kSlopeLine];
    qDebug() << replyLines[protocol::kOffsetLine];
}

void CalibrationDlg::acceptListing()
{
    qDebug() << tip()->choiceTrace;

    if (!prompt(QMessageBox::Warning, tr("User Action Needed"),
                QCoreApplication::translate("CalibrationDlg", tip()->prompt)))
        return;
    ui->calDlg_statusbar->setText(tr("Start sampling sequence with high value setting"));
    ui->calibrationDlgCB_comport->hide();
    ui->calibrationPB_Connect->hide();
    if (!prompt(QMessageBox::Information, tr("VALIDATION PROCESS"),
                tr("Using Sensor menu structure, start sampling process. \r\n\n\t\tTHEN CLICK OK")))
        return;
    startCollecting(CollectingHighValues);
    ui->calDlg_statusbar->setText(tr("Please wait while Software collects data"));
}

void CalibrationDlg::refuseUnknownTip(const listing::Properties &properties)
{
    // No verification tip fits this sensor: no window to judge its readings
    // and no standard for new constants, so the procedure stops here.
    tickTimer->stop();
    popCursor();
    if (!prompt(QMessageBox::Warning, tr("Error Detected"),
                tr("Sensor type \"%1\" with maximum conductivity \"%2\" is not supported. "
                   "Contact %3 %4")
                    .arg(properties.type, properties.range, QLatin1String(company::kMakerShortName),
                         QLatin1String(company::kMakerPhone))))
        return;
    ui->calDlg_statusbar->setText(tr("Program can not continue"));
}

void CalibrationDlg::communicationError()
{
    tickTimer->stop();
    popCursor();
    const Answer answer = prompt(QMessageBox::Warning, tr("Error Detected"),
                                 tr("Sensor Communication Error. Please try again"),
                                 QMessageBox::Abort | QMessageBox::Retry);
    if (!answer)
        return;
    if (*answer == QMessageBox::Retry) {
        replyLines.fill(QString());
        awaitReply(AwaitingConstantsReply, protocol::kReadConstantsCommand);
    } else {
        recordOutcome(history::Outcome::Cancelled, tr("Sensor Communication Error"));
        reject();
    }
}

void CalibrationDlg::firmwareTooOld()
{
    tickTimer->stop();
    popCursor();
    if (!prompt(
            QMessageBox::Warning, tr("Error Detected"),
            tr("Sensor Firmware version invalid. Contact %1 %2")
                .arg(QLatin1String(company::kMakerShortName), QLatin1String(company::kMakerPhone))))
        return;
    ui->calDlg_statusbar->setText(tr("Program can not continue"));
}

void CalibrationDlg::handleDataProgress()
{
    if (!receiveBuffer.contains(carriageReturn))
        return;
    protocol::removeCarriageReturns(receiveBuffer);
    QString line;
    int position = 0;
    if (!protocol::newestCompleteLine(receiveBuffer, &line, &position))
        return;
    if (!protocol::isDataLine(line))
        return;
    const QString label = stateMachine == CollectingCalibrationData
                              ? QStringLiteral("Data Set ")
                              : QStringLiteral("Validation Set ");
    ui->calDlg_statusbar->setText(label + QString::number(position) + QStringLiteral(" : ") + line);
    qDebug().noquote() << "Just the one line - " + line;
}
