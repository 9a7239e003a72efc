// Receiving the sensor's replies and data lines, and reading its listing.

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
        countdown = kReplyCountdown;
        tickTimer->start(kTickIntervalMs);
        stateMachine = AwaitingConstantsReply;
        receiveBuffer.clear();
        writeToPort(protocol::kReadConstantsCommand);
        break;
    case AwaitingConstantsReply: {
        if (!receiveBuffer.contains(protocol::kListingEnd))
            return;
        StopTimer();
        protocol::removeCarriageReturns(receiveBuffer);
        // The "toff" answer's line end may arrive after its text: no line here.
        protocol::removeLeadingLineFeeds(receiveBuffer);
        qDebug() << receiveBuffer;
        int segments = 0;
        replyLines = protocol::splitReply(receiveBuffer, &segments);
        qDebug() << segments;
        for (int i = 0; i < qMin(segments - 1, protocol::kReplyLineCount); ++i)
            qDebug() << replyLines[i];

        const double version = readFirmwareVersion();
        if (version >= protocol::kMinimumFirmware)
            acceptListing();
        else if (version <= 0)
            communicationError();
        else
            firmwareTooOld();
        break;
    }
    case CollectingCalibrationData:
    case CollectingHighValues:
    case CollectingLowValues:
        handleDataProgress();
        break;
    default:
        break;
    }
}

double CalibrationDlg::readFirmwareVersion()
{
    return protocol::firmwareVersion(replyLines[protocol::kVersionLine]);
}

void CalibrationDlg::showSensorProperties()
{
    using namespace protocol;
    ui->calLE_Type->setText(replyLines[kTypeLine]);
    ui->calLE_SN->setText(
        stripPrefix(replyLines[kSerialLine], QLatin1String(kSerialPrefix), Qt::CaseInsensitive));
    ui->calLE_Version->setText(replyLines[kVersionLine]);
    ui->calLE_OldCslp->setText(
        stripPrefix(replyLines[kSlopeLine], QLatin1String(kSlopePrefix), Qt::CaseInsensitive));
    ui->calLE_OldCoff->setText(
        stripPrefix(replyLines[kOffsetLine], QLatin1String(kOffsetPrefix), Qt::CaseInsensitive));
    qDebug() << replyLines[kSerialLine];
    qDebug() << replyLines[kSlopeLine];
    qDebug() << replyLines[kOffsetLine];
}

void CalibrationDlg::chooseTipKind()
{
    const int id =
        chooseTipKindId(replyLines[protocol::kTypeLine], replyLines[protocol::kRangeLine]);
    if (const TipKind *chosen = tipKindById(id)) {
        tipKind = id;
        qDebug() << chosen->choiceTrace;
    }
}

void CalibrationDlg::acceptListing()
{
    showSensorProperties();
    chooseTipKind();
    if (!tip()) {
        refuseUnknownTip();
        return;
    }
    prompt(QMessageBox::Warning, tr("User Action Needed"),
           QCoreApplication::translate("CalibrationDlg", tip()->prompt));
    if (linkLost_)
        return;
    ui->calDlg_statusbar->setText(tr("Start sampling sequence with high value setting"));
    ui->calibrationDlgCB_comport->hide();
    ui->calibrationPB_Connect->hide();
    prompt(QMessageBox::Information, tr("VALIDATION PROCESS"),
           tr("Using Sensor menu structure, start sampling process. \r\n\n\t\tTHEN CLICK OK"));
    if (linkLost_)
        return;
    pushWaitCursor();
    countdown = kDataCountdown;
    tickTimer->start(kTickIntervalMs);
    stateMachine = CollectingHighValues;
    receiveBuffer.clear();
    ui->calDlg_statusbar->setText(tr("Please wait while Software collects data"));
}

void CalibrationDlg::refuseUnknownTip()
{
    // No verification tip fits this sensor: no window to judge its readings
    // and no standard for new constants, so the procedure stops here.
    tickTimer->stop();
    popCursor();
    const QString range = protocol::stripPrefix(
        replyLines[protocol::kRangeLine], QLatin1String(protocol::kRangePrefix), Qt::CaseSensitive);
    prompt(QMessageBox::Warning, tr("Error Detected"),
           tr("Sensor type \"%1\" with maximum conductivity \"%2\" is not supported. "
              "Contact %3 %4")
               .arg(replyLines[protocol::kTypeLine], range, QLatin1String(company::kMakerShortName),
                    QLatin1String(company::kMakerPhone)));
    if (linkLost_)
        return;
    ui->calDlg_statusbar->setText(tr("Program can not continue"));
}

void CalibrationDlg::communicationError()
{
    tickTimer->stop();
    popCursor();
    const int answer = prompt(QMessageBox::Warning, tr("Error Detected"),
                              tr("Sensor Communication Error. Please try again"),
                              QMessageBox::Abort | QMessageBox::Retry);
    if (linkLost_)
        return;
    if (answer == QMessageBox::Retry) {
        replyLines.fill(QString());
        countdown = kReplyCountdown;
        receiveBuffer.clear();
        writeToPort(protocol::kReadConstantsCommand);
        if (!linkLost_)
            tickTimer->start(kTickIntervalMs);
    } else {
        reject();
    }
}

void CalibrationDlg::firmwareTooOld()
{
    tickTimer->stop();
    popCursor();
    prompt(QMessageBox::Warning, tr("Error Detected"),
           tr("Sensor Firmware version invalid. Contact %1 %2")
               .arg(QLatin1String(company::kMakerShortName), QLatin1String(company::kMakerPhone)));
    if (linkLost_)
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
