// The timed procedure: the tick of the waiting timer, the command sequences of
// the sending timer, and the operator's decisions in between.

#include "gui/calibrationdlg.h"

#include "ui_calibrationdlg.h"

#include <QDate>
#include <QDebug>
#include <QTimer>

namespace
{
// Ranges of commandStep that tell the finished sequences apart.
constexpr int kSaveSequencesEnd = 10;
constexpr int kVerificationSequenceEnd = 20;
constexpr int kRestoreSequenceEnd = 30;

const char kStartSampling[] =
    QT_TRANSLATE_NOOP("CalibrationDlg", "Using Sensor menu structure, start sampling process. "
                                        "\r\n\n\t\tTHEN CLICK OK");
} // namespace

void CalibrationDlg::updateTimer()
{
    // A tick after the port was let go has nothing left to wait for.
    if (!portUsable()) {
        tickTimer->stop();
        return;
    }
    if (countdown > 0) {
        --countdown;
        return;
    }
    StopTimer();

    switch (stateMachine) {
    case CollectingCalibrationData:
        qDebug() << "Process Input Data";
        if (!checkCalibrationData()) {
            qDebug() << "Insert Error Box";
            refuseCalibrationData();
            return;
        }
        qDebug() << "Data Values make sense";
        zeroCounts = computeZeroCounts();
        if (!computeNewConstants()) {
            qDebug() << "New constants are not finite numbers: zero counts" << zeroCounts
                     << "high counts" << highCounts << "previous constants"
                     << ui->calLE_OldCslp->text() << ui->calLE_OldCoff->text();
            qDebug() << "Insert Error Box";
            refuseCalibrationData();
            return;
        }
        commandStep = kSendForVerificationStep;
        startConstantTransfer(false);
        break;
    case CollectingHighValues:
        qDebug() << "Validation High Values";
        if (!checkValidationData()) {
            handleBadReading();
            return;
        }
        if (validationRun)
            prompt(QMessageBox::Information, tr("VALIDATION PROCESS"),
                   tr("User should now perform Validation Test\r\nVerify switch is in Low "
                      "position\r\nUsing Sensor menu structure, start sampling process. "
                      "\r\n\n\t\tTHEN CLICK OK"));
        else
            prompt(QMessageBox::Information, tr("VERIFICATION PROCESS"),
                   tr("User should now perform Verfication Test\r\nVerify switch is in Low "
                      "position\r\nUsing Sensor menu structure, start sampling process. "
                      "\r\n\n\t\tTHEN CLICK OK"));
        if (linkLost_)
            return;
        startCollecting(CollectingLowValues);
        break;
    case CollectingLowValues:
        qDebug() << "Validation Low Values";
        if (!checkValidationData()) {
            handleBadReading();
            return;
        }
        decideAfterLowReading();
        break;
    default:
        // The sensor did not answer "toff" or "rcal" in time.
        prompt(QMessageBox::Critical, tr("Error Detected"), tr("No Response from Sensor"));
        break;
    }
}

void CalibrationDlg::startCollecting(int state, bool clearBuffer)
{
    pushWaitCursor();
    if (clearBuffer)
        receiveBuffer.clear();
    stateMachine = state;
    countdown = kDataCountdown;
    tickTimer->start(kTickIntervalMs);
}

void CalibrationDlg::refuseCalibrationData()
{
    const int answer = prompt(QMessageBox::Critical, tr("Error Detected"),
                              tr("Bad Data from Sensor"), QMessageBox::Retry | QMessageBox::Cancel);
    if (linkLost_)
        return;
    if (answer == QMessageBox::Retry) {
        prompt(QMessageBox::Critical, tr("User Action Required"), tr(kStartSampling));
        if (linkLost_)
            return;
        startCollecting(CollectingCalibrationData);
    } else {
        tickTimer->stop();
        reject();
        ui->calDlg_statusbar->setText(tr("User Cancelled:Restart Program"));
    }
}

void CalibrationDlg::handleBadReading()
{
    clearReading(ui->calLE_HighValue);
    clearReading(ui->calLE_LowValue);
    // A bad low reading restarts the pair from the high one.
    stateMachine = CollectingHighValues;
    const int answer = prompt(QMessageBox::Critical, tr("Error Detected"),
                              tr("Bad Data from Sensor"), QMessageBox::Retry | QMessageBox::Cancel);
    if (linkLost_)
        return;
    if (answer == QMessageBox::Retry) {
        prompt(QMessageBox::Critical, tr("User Action Required"),
               tr("Restarting validation Process, make sure switch is in high position.\r\nUsing "
                  "Sensor menu structure, start sampling process. \r\n\n\t\tTHEN CLICK OK"));
        if (linkLost_)
            return;
        receiveBuffer.clear();
        countdown = kDataCountdown;
        tickTimer->start(kTickIntervalMs);
        if (validationRun)
            clearReading(ui->calLE_HighValue_Validate);
        pushWaitCursor();
    } else {
        tickTimer->stop();
        ui->calDlg_statusbar->setText(tr("User Cancelled: Restart Program"));
        qDebug() << "User Cancelled: Restart Program";
        reject();
    }
}

void CalibrationDlg::decideAfterLowReading()
{
    if (!writeToPort(protocol::kTimeoutCommand))
        return;

    if (validationRun) {
        const int answer = prompt(QMessageBox::Information, tr("User Action Needed"),
                                  tr("Verify Validation Values.\r\nYes takes no action on the "
                                     "constants\r\nNo continues process to Change Constants"),
                                  QMessageBox::Yes | QMessageBox::No, nullptr, Escape::AnswersYes);
        if (linkLost_)
            return;
        if (answer == QMessageBox::No) {
            validationRun = false;
            prompt(QMessageBox::Information, tr("User Action Required"),
                   tr("Verify switch is in High position.\r\nUsing Sensor menu structure, start "
                      "sampling process. \r\n\n\t\tTHEN CLICK OK"));
            if (linkLost_)
                return;
            startCollecting(CollectingCalibrationData);
            ui->calDlg_statusbar->setText(tr("Please wait while Software collects data"));
            qDebug().nospace() << "stateMachine = " << stateMachine;
        } else if (answer == QMessageBox::Yes) {
            const int create = prompt(QMessageBox::Information, tr("User Action Needed"),
                                      tr("Create a File\r\nYes creates file and changes sensor's "
                                         "cal date\r\nNo completes process without changing "
                                         "anything"),
                                      QMessageBox::Yes | QMessageBox::No);
            if (linkLost_)
                return;
            if (create == QMessageBox::Yes) {
                commandStep = kSaveDateStep;
                pushWaitCursor();
                sendTimer->start(kSendIntervalMs);
                ui->calDlg_statusbar->setText(tr("Changing Cal Date in Sensor"));
            } else {
                ui->calDlg_statusbar->setText(tr("Process Complete: Close all windows"));
            }
            qDebug().nospace() << "stateMachine = " << stateMachine;
        }
        return;
    }

    const int answer = prompt(QMessageBox::Information, tr("Final Calibration Phase"),
                              tr("Save: Keep all changed constants and write file.\r\nAbort: "
                                 "Replaces original constants.\r\n"),
                              QMessageBox::Save | QMessageBox::Abort, nullptr, Escape::Ignored);
    if (linkLost_)
        return;
    if (answer == QMessageBox::Save) {
        commandStep = kSaveConstantsStep;
        startConstantTransfer(true);
    } else {
        clearReading(ui->calLE_HighValue);
        clearReading(ui->calLE_LowValue);
        ui->calDlg_statusbar->setText(tr("Restoring Previous Constants"));
        qDebug() << "Restore Previous Constants";
        commandStep = kRestoreStep;
        startConstantTransfer(true);
    }
}

QByteArray CalibrationDlg::commandForStep(int step) const
{
    using namespace protocol;
    switch (step) {
    case kSaveConstantsStep:
    case kSendForVerificationStep:
        return composeCommand(kSlopeCommand, ui->calLE_NewCslp->text());
    case kRestoreStep:
        return composeCommand(kSlopeCommand, ui->calLE_OldCslp->text());
    case kSaveConstantsStep + 1:
    case kSendForVerificationStep + 1:
        return composeCommand(kOffsetCommand, ui->calLE_NewCoff->text());
    case kRestoreStep + 1:
        return composeCommand(kOffsetCommand, ui->calLE_OldCoff->text());
    case kSaveDateStep:
        // The date is the one of the tick that sends it.
        return dateCommand(QDate::currentDate());
    case kSaveDateStep + 1:
        return QByteArray(kSaveCommand);
    default:
        return QByteArray();
    }
}

void CalibrationDlg::sendParameters()
{
    if (!portUsable()) {
        sendTimer->stop();
        return;
    }
    const int step = commandStep;
    qDebug().nospace() << "Command Value = " << step;
    const QByteArray command = commandForStep(step);
    if (command.isEmpty()) {
        finishSequence(step);
        return;
    }
    const QString text = QString::fromLatin1(command);
    ui->calDlg_statusbar->setText(text);
    qDebug() << text;
    if (!writeToPort(command))
        return;
    // New constants are in the sensor unsaved from the first one sent until
    // the save command or until the previous offset is back.
    if (step == kSendForVerificationStep || step == kSaveConstantsStep)
        unsavedConstants_ = true;
    else if (step == kSaveDateStep + 1 || step == kRestoreStep + 1)
        unsavedConstants_ = false;
    ++commandStep;
}

void CalibrationDlg::finishSequence(int step)
{
    sendTimer->stop();
    if (!writeToPort(protocol::kTimeoutCommand))
        return;
    popCursor();

    if (step < kSaveSequencesEnd) {
        writeCalibrationRecord();
    } else if (step < kVerificationSequenceEnd) {
        if (validationRun)
            prompt(QMessageBox::Information, tr("Validation Process"),
                   tr("User should now perform Validation Test\r\nVerify switch is in High "
                      "position\r\nUsing Sensor menu structure, start sampling process. "
                      "\r\n\n\t\tTHEN CLICK OK"),
                   QMessageBox::NoButton, &verifyMsgBox);
        else
            prompt(QMessageBox::Information, tr("Verfication Process"),
                   tr("User should now perform Verification Test\r\nVerify switch is in High "
                      "position\r\nUsing Sensor menu structure, start sampling process. "
                      "\r\n\n\t\tTHEN CLICK OK"),
                   QMessageBox::NoButton, &verifyMsgBox);
        if (linkLost_)
            return;
        commandStep = 0;
        startCollecting(CollectingHighValues);
    } else if (step < kRestoreSequenceEnd) {
        ui->calDlg_statusbar->setText(tr("Process Complete - No Constants changed"));
        if (closeAfterRestore_)
            reject();
    }
}
