// The timed procedure: the tick of the waiting timer, the command sequences of
// the sending timer, and the operator's decisions in between.

#include "gui/calibrationdlg.h"

#include "core/sequence.h"
#include "ui_calibrationdlg.h"

#include <QDate>
#include <QDebug>
#include <QTimer>

namespace
{
const char kStartSampling[] =
    QT_TRANSLATE_NOOP("CalibrationDlg", "Using Sensor menu structure, start sampling process. "
                                        "\r\n\n\t\tTHEN CLICK OK");
} // namespace

void CalibrationDlg::awaitReply(State state, const char *command)
{
    countdown = kReplyCountdown;
    tickTimer->start(kTickIntervalMs);
    stateMachine = state;
    receiveBuffer.clear();
    writeToPort(command);
}

void CalibrationDlg::startCollecting(State state)
{
    pushWaitCursor();
    receiveBuffer.clear();
    stateMachine = state;
    countdown = kDataCountdown;
    tickTimer->start(kTickIntervalMs);
}

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
        commandStep = sequence::kSendForVerificationStep;
        startConstantTransfer(false);
        break;
    case CollectingHighValues: {
        qDebug() << "Validation High Values";
        if (!checkValidationData()) {
            handleBadReading();
            return;
        }
        const Answer next =
            validationRun
                ? prompt(QMessageBox::Information, tr("VALIDATION PROCESS"),
                         tr("User should now perform Validation Test\r\nVerify switch is in Low "
                            "position\r\nUsing Sensor menu structure, start sampling process. "
                            "\r\n\n\t\tTHEN CLICK OK"))
                : prompt(QMessageBox::Information, tr("VERIFICATION PROCESS"),
                         tr("User should now perform Verfication Test\r\nVerify switch is in Low "
                            "position\r\nUsing Sensor menu structure, start sampling process. "
                            "\r\n\n\t\tTHEN CLICK OK"));
        if (!next)
            return;
        startCollecting(CollectingLowValues);
        break;
    }
    case CollectingLowValues:
        qDebug() << "Validation Low Values";
        if (!checkValidationData()) {
            handleBadReading();
            return;
        }
        decideAfterLowReading();
        break;
    case AwaitingTimeoutReply:
    case AwaitingConstantsReply:
        // The sensor did not answer "toff" or "rcal" in time; the run ends here.
        recordOutcome(history::Outcome::NoResponse);
        static_cast<void>(
            prompt(QMessageBox::Critical, tr("Error Detected"), tr("No Response from Sensor")));
        break;
    }
}

void CalibrationDlg::refuseCalibrationData()
{
    const Answer answer =
        prompt(QMessageBox::Critical, tr("Error Detected"), tr("Bad Data from Sensor"),
               QMessageBox::Retry | QMessageBox::Cancel);
    if (!answer)
        return;
    if (*answer == QMessageBox::Retry) {
        if (!prompt(QMessageBox::Critical, tr("User Action Required"), tr(kStartSampling)))
            return;
        startCollecting(CollectingCalibrationData);
    } else {
        tickTimer->stop();
        recordOutcome(history::Outcome::Cancelled, tr("Bad Data from Sensor: %1").arg(phase()));
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
    const Answer answer =
        prompt(QMessageBox::Critical, tr("Error Detected"), tr("Bad Data from Sensor"),
               QMessageBox::Retry | QMessageBox::Cancel);
    if (!answer)
        return;
    if (*answer == QMessageBox::Retry) {
        if (!prompt(QMessageBox::Critical, tr("User Action Required"),
                    tr("Restarting validation Process, make sure switch is in high "
                       "position.\r\nUsing Sensor menu structure, start sampling process. "
                       "\r\n\n\t\tTHEN CLICK OK")))
            return;
        startCollecting(CollectingHighValues);
        if (validationRun)
            clearReading(ui->calLE_HighValue_Validate);
    } else {
        tickTimer->stop();
        ui->calDlg_statusbar->setText(tr("User Cancelled: Restart Program"));
        qDebug() << "User Cancelled: Restart Program";
        recordOutcome(history::Outcome::Cancelled, tr("Bad Data from Sensor: %1").arg(phase()));
        reject();
    }
}

void CalibrationDlg::decideAfterLowReading()
{
    if (!writeToPort(protocol::kTimeoutCommand))
        return;

    if (validationRun) {
        // Escape keeps the constants: No would start changing them.
        const Answer answer =
            prompt(QMessageBox::Information, tr("User Action Needed"),
                   tr("Verify Validation Values.\r\nYes takes no action on the "
                      "constants\r\nNo continues process to Change Constants"),
                   QMessageBox::Yes | QMessageBox::No, nullptr, Escape::AnswersYes);
        if (!answer)
            return;
        if (*answer == QMessageBox::No) {
            validationRun = false;
            if (!prompt(QMessageBox::Information, tr("User Action Required"),
                        tr("Verify switch is in High position.\r\nUsing Sensor menu structure, "
                           "start sampling process. \r\n\n\t\tTHEN CLICK OK")))
                return;
            startCollecting(CollectingCalibrationData);
            ui->calDlg_statusbar->setText(tr("Please wait while Software collects data"));
            qDebug().nospace() << "stateMachine = " << int(stateMachine);
        } else if (*answer == QMessageBox::Yes) {
            const Answer create =
                prompt(QMessageBox::Information, tr("User Action Needed"),
                       tr("Create a File\r\nYes creates file and changes sensor's cal date\r\nNo "
                          "completes process without changing anything"),
                       QMessageBox::Yes | QMessageBox::No);
            if (!create)
                return;
            if (*create == QMessageBox::Yes) {
                commandStep = sequence::kSaveDateStep;
                pushWaitCursor();
                sendTimer->start(kSendIntervalMs);
                ui->calDlg_statusbar->setText(tr("Changing Cal Date in Sensor"));
            } else {
                ui->calDlg_statusbar->setText(tr("Process Complete: Close all windows"));
                recordOutcome(history::Outcome::ValidatedNoRecord);
            }
            qDebug().nospace() << "stateMachine = " << int(stateMachine);
        }
        return;
    }

    // Save and Abort both write to the sensor: only a button answers.
    const Answer answer = prompt(QMessageBox::Information, tr("Final Calibration Phase"),
                                 tr("Save: Keep all changed constants and write file.\r\nAbort: "
                                    "Replaces original constants.\r\n"),
                                 QMessageBox::Save | QMessageBox::Abort, nullptr, Escape::Ignored);
    if (!answer)
        return;
    if (*answer == QMessageBox::Save) {
        commandStep = sequence::kSaveConstantsStep;
        startConstantTransfer(true);
    } else {
        clearReading(ui->calLE_HighValue);
        clearReading(ui->calLE_LowValue);
        ui->calDlg_statusbar->setText(tr("Restoring Previous Constants"));
        qDebug() << "Restore Previous Constants";
        commandStep = sequence::kRestoreStep;
        startConstantTransfer(true);
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
    sequence::Texts texts;
    texts.newSlope = ui->calLE_NewCslp->text();
    texts.newOffset = ui->calLE_NewCoff->text();
    texts.oldSlope = ui->calLE_OldCslp->text();
    texts.oldOffset = ui->calLE_OldCoff->text();
    texts.date = QDate::currentDate(); // the date of the tick that sends it
    const QByteArray command = sequence::command(step, texts);
    if (command.isEmpty()) {
        finishSequence(step);
        return;
    }
    const QString text = QString::fromLatin1(command);
    ui->calDlg_statusbar->setText(text);
    qDebug() << text;
    if (!writeToPort(command))
        return;
    const bool unsaved = sequence::unsavedAfter(step, unsavedConstants_);
    const bool changed = unsaved != unsavedConstants_;
    unsavedConstants_ = unsaved;
    ++commandStep;
    // A crash from here on leaves a history entry that says so.
    if (changed)
        recordSnapshot();
}

void CalibrationDlg::finishSequence(int step)
{
    sendTimer->stop();
    if (!writeToPort(protocol::kTimeoutCommand))
        return;
    popCursor();

    switch (sequence::kindOf(step)) {
    case sequence::Kind::Save:
        // Saved in the sensor whether or not a record follows.
        recordOutcome(validationRun ? history::Outcome::ValidatedDateSet
                                    : history::Outcome::Recalibrated);
        writeCalibrationRecord();
        break;
    case sequence::Kind::SendForVerification: {
        const Answer next =
            validationRun
                ? prompt(QMessageBox::Information, tr("Validation Process"),
                         tr("User should now perform Validation Test\r\nVerify switch is in High "
                            "position\r\nUsing Sensor menu structure, start sampling process. "
                            "\r\n\n\t\tTHEN CLICK OK"),
                         QMessageBox::NoButton, &verifyMsgBox)
                : prompt(QMessageBox::Information, tr("Verfication Process"),
                         tr("User should now perform Verification Test\r\nVerify switch is in "
                            "High position\r\nUsing Sensor menu structure, start sampling "
                            "process. \r\n\n\t\tTHEN CLICK OK"),
                         QMessageBox::NoButton, &verifyMsgBox);
        if (!next)
            return;
        commandStep = 0;
        startCollecting(CollectingHighValues);
        break;
    }
    case sequence::Kind::Restore:
        ui->calDlg_statusbar->setText(tr("Process Complete - No Constants changed"));
        if (closeAfterRestore_) {
            recordOutcome(history::Outcome::Cancelled,
                          tr("screen closed with new constants in the sensor; previous "
                             "constants restored"));
            reject();
        } else {
            recordOutcome(history::Outcome::RecalibrationAbandoned);
        }
        break;
    case sequence::Kind::None:
        break;
    }
}
