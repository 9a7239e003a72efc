#include "core/procedure.h"

#include "core/company.h"
#include "core/constants.h"
#include "core/listing.h"
#include "core/readings.h"
#include "core/record.h"
#include "core/sequence.h"
#include "core/tipkind.h"

#include <QCoreApplication>
#include <QDate>

// Enabled for debug output unless the logging rules say otherwise.
Q_LOGGING_CATEGORY(lcCalibration, "zolvex.calibration", QtDebugMsg)

using namespace procedure;

namespace
{
// Ends every prompt that asks the operator to start sampling.
const char kStartSampling[] =
    QT_TRANSLATE_NOOP("Procedure", "Using Sensor menu structure, start sampling process. "
                                   "\r\n\n\t\tTHEN CLICK OK");
// The two cancels after bad data; they differ by one blank, as they always have.
const char kCancelledCalibrationData[] =
    QT_TRANSLATE_NOOP("Procedure", "User Cancelled:Restart Program");
const char kCancelledReading[] = QT_TRANSLATE_NOOP("Procedure", "User Cancelled: Restart Program");
const char kRestoring[] = QT_TRANSLATE_NOOP("Procedure", "Restoring Previous Constants");
const char kRestoringTrace[] = "Restore Previous Constants";
const char kClosingWhenSaved[] = QT_TRANSLATE_NOOP(
    "Procedure", "Saving to sensor - the screen closes when the save is complete");
const char kCannotContinue[] = QT_TRANSLATE_NOOP("Procedure", "Program can not continue");
const char kErrorDetected[] = QT_TRANSLATE_NOOP("Procedure", "Error Detected");
const char kBadData[] = QT_TRANSLATE_NOOP("Procedure", "Bad Data from Sensor");
const char kUserActionNeeded[] = QT_TRANSLATE_NOOP("Procedure", "User Action Needed");
const char kUserActionRequired[] = QT_TRANSLATE_NOOP("Procedure", "User Action Required");
const char kValidationTitle[] = QT_TRANSLATE_NOOP("Procedure", "VALIDATION PROCESS");
const char kCollecting[] =
    QT_TRANSLATE_NOOP("Procedure", "Please wait while Software collects data");
} // namespace

Procedure::Procedure(Asker &asker, Port &port, Clock &clock, QObject *parent)
    : QObject(parent), asker_(asker), port_(port), clock_(clock)
{
}

// --- Plumbing -----------------------------------------------------------------

Answer Procedure::ask(Icon icon, const QString &title, const QString &text, Buttons buttons,
                      Escape escape, Box box)
{
    Prompt prompt;
    prompt.icon = icon;
    prompt.title = title;
    prompt.text = text;
    prompt.buttons = buttons;
    prompt.escape = escape;
    prompt.box = box;
    const Answer answer = asker_.ask(prompt);
    if (linkLost_)
        return std::nullopt;
    return answer;
}

bool Procedure::askToSample(readings::Position position, const QString &title, const QString &text,
                            Icon icon, Box box)
{
    emit samplingRequested(position);
    if (!ask(icon, title, text, Button::None, Escape::Default, box))
        return false;
    emit samplingConfirmed(position);
    return true;
}

void Procedure::setStatus(const QString &text)
{
    emit statusChanged(text);
}

void Procedure::setField(Field field, const QString &text, Mark mark)
{
    fields_[size_t(field)] = text;
    emit fieldChanged(field, text, mark);
}

void Procedure::setReading(Field field, const Reading &reading)
{
    readings_[size_t(field) - size_t(Field::HighValidate)] = reading;
    const Mark mark = !reading.taken     ? Mark::Plain
                      : reading.inWindow ? Mark::InWindow
                                         : Mark::OutWindow;
    emit fieldChanged(field, reading.text, mark);
}

void Procedure::clearReading(Field field)
{
    setReading(field, Reading());
}

QString Procedure::field(Field field) const
{
    return isReading(field) ? reading(field).text : fields_[size_t(field)];
}

Reading Procedure::reading(Field field) const
{
    if (!isReading(field))
        return Reading();
    return readings_[size_t(field) - size_t(Field::HighValidate)];
}

bool Procedure::write(const QByteArray &bytes)
{
    return port_.write(bytes);
}

const TipKind *Procedure::tip() const
{
    return tipKindById(tipKind);
}

void Procedure::stopTimer()
{
    clock_.stop(Timer::Tick);
    emit cursorPopped();
    qCDebug(lcCalibration) << "End of StopTimer method";
}

void Procedure::stopWaiting()
{
    stopTimer();
}

void Procedure::stopTimers()
{
    clock_.stop(Timer::Tick);
    clock_.stop(Timer::Send);
}

// --- Start and link -------------------------------------------------------------

void Procedure::clearReceived()
{
    receiveBuffer.clear();
}

void Procedure::resetLink()
{
    linkLost_ = false;
}

void Procedure::start(const QString &portName)
{
    portName_ = portName;
    awaitReply(AwaitingTimeoutReply, protocol::kTimeoutCommand);
}

void Procedure::linkLost(const QString &reason, const QString &shownReason)
{
    if (linkLost_)
        return;
    linkLost_ = true;
    const bool unsaved = unsavedConstants_;
    emit ended(history::Outcome::LinkLost, phase());
    const bool closeAfterwards = closeAfterRestore_ || closeAfterSave_;
    unsavedConstants_ = false;
    closeAfterRestore_ = false;
    closeAfterSave_ = false;
    stopTimers();
    port_.release(true);
    emit cursorsRestored();
    qCDebug(lcCalibration) << "Connection to sensor lost:" << reason;
    setStatus(tr(kCannotContinue));

    QString text = tr("The connection to the sensor was lost (%1).\r\n"
                      "The procedure must be repeated.")
                       .arg(shownReason);
    if (unsaved)
        text += tr("\r\nNew constants were sent to the sensor but not saved. "
                   "Do not use the sensor before the procedure has been repeated.");
    text += tr("\r\nCheck the cable on port %1 and that the sensor is switched on, then close "
               "the calibration screen and start again from the main window.")
                .arg(portName_);
    Prompt prompt;
    prompt.icon = Icon::Critical;
    prompt.title = tr(kErrorDetected);
    prompt.text = text;
    static_cast<void>(asker_.ask(prompt));
    if (closeAfterwards)
        emit closeRequested();
}

void Procedure::beginRestoreBeforeClose()
{
    closeAfterRestore_ = true;
    const bool restoring =
        clock_.isActive(Timer::Send) && sequence::kindOf(commandStep) == sequence::Kind::Restore;
    if (restoring)
        return;
    clock_.stop(Timer::Tick);
    clock_.stop(Timer::Send);
    setStatus(tr(kRestoring));
    qCDebug(lcCalibration) << kRestoringTrace;
    commandStep = sequence::kRestoreStep;
    emit waitCursorPushed();
    clock_.start(Timer::Send, kSendIntervalMs);
}

bool Procedure::isSaving() const
{
    return recordPending_ ||
           (clock_.isActive(Timer::Send) && sequence::kindOf(commandStep) == sequence::Kind::Save);
}

bool Procedure::closeWhenSaved()
{
    if (!isSaving())
        return false;
    closeAfterSave_ = true;
    setStatus(tr(kClosingWhenSaved));
    qCDebug(lcCalibration) << "Close waits for the save";
    return true;
}

void Procedure::closing()
{
    closeAfterRestore_ = false;
    closeAfterSave_ = false;
    emit ended(history::Outcome::Cancelled, tr("screen closed during %1").arg(phase()));
}

// --- Waiting --------------------------------------------------------------------

void Procedure::awaitReply(State state, const char *command)
{
    countdown = kReplyCountdown;
    clock_.start(Timer::Tick, kTickIntervalMs);
    stateMachine = state;
    receiveBuffer.clear();
    write(command);
}

void Procedure::startCollecting(State state)
{
    emit waitCursorPushed();
    receiveBuffer.clear();
    stateMachine = state;
    countdown = kDataCountdown;
    clock_.start(Timer::Tick, kTickIntervalMs);
}

// --- Receiving ------------------------------------------------------------------

void Procedure::receive(const QByteArray &bytes)
{
    receiveBuffer.append(bytes);

    switch (stateMachine) {
    case AwaitingTimeoutReply:
        if (!receiveBuffer.contains(protocol::kTimeoutReply))
            return;
        stopTimer();
        setStatus(tr("Sensor timeout set to 30 minutes"));
        awaitReply(AwaitingConstantsReply, protocol::kReadConstantsCommand);
        break;
    case AwaitingConstantsReply:
        if (!receiveBuffer.contains(protocol::kListingEnd))
            return;
        stopTimer();
        readListing();
        break;
    case CollectingCalibrationData:
    case CollectingHighValues:
    case CollectingLowValues:
        handleDataProgress();
        break;
    }
}

void Procedure::readListing()
{
    int segments = 0;
    replyLines = listing::replyLines(receiveBuffer, &segments);
    qCDebug(lcCalibration) << receiveBuffer;
    qCDebug(lcCalibration) << segments;
    for (int i = 0; i < qMin(segments - 1, protocol::kReplyLineCount); ++i)
        qCDebug(lcCalibration) << replyLines[i];

    const listing::Reading reading = listing::read(replyLines);
    if (reading.verdict == listing::Verdict::Accepted)
        tipKind = reading.tipKind;
    emit identified(reading);
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

void Procedure::showSensorProperties(const listing::Properties &properties)
{
    setField(Field::Type, properties.type);
    setField(Field::SerialNumber, properties.serialNumber);
    setField(Field::Version, properties.version);
    setField(Field::OldSlope, properties.slope);
    setField(Field::OldOffset, properties.offset);
    qCDebug(lcCalibration) << replyLines[protocol::kSerialLine];
    qCDebug(lcCalibration) << replyLines[protocol::kSlopeLine];
    qCDebug(lcCalibration) << replyLines[protocol::kOffsetLine];
}

void Procedure::acceptListing()
{
    qCDebug(lcCalibration) << tip()->choiceTrace;

    if (!ask(Icon::Warning, tr(kUserActionNeeded),
             QCoreApplication::translate("Procedure", tip()->prompt)))
        return;
    setStatus(tr("Start sampling sequence with high value setting"));
    emit connectionFixed();
    if (!askToSample(readings::Position::High, tr(kValidationTitle), tr(kStartSampling)))
        return;
    startCollecting(CollectingHighValues);
    setStatus(tr(kCollecting));
}

void Procedure::refuseUnknownTip(const listing::Properties &properties)
{
    // No verification tip fits this sensor: no window to judge its readings
    // and no standard for new constants, so the procedure stops here.
    clock_.stop(Timer::Tick);
    emit cursorPopped();
    if (!ask(Icon::Warning, tr(kErrorDetected),
             tr("Sensor type \"%1\" with maximum conductivity \"%2\" is not supported. "
                "Contact %3 %4")
                 .arg(properties.type, properties.range, QLatin1String(company::kMakerShortName),
                      QLatin1String(company::kMakerPhone))))
        return;
    setStatus(tr(kCannotContinue));
}

void Procedure::communicationError()
{
    clock_.stop(Timer::Tick);
    emit cursorPopped();
    const Answer answer =
        ask(Icon::Warning, tr(kErrorDetected), tr("Sensor Communication Error. Please try again"),
            Button::Abort | Button::Retry);
    if (!answer)
        return;
    if (*answer == Button::Retry) {
        replyLines.fill(QString());
        awaitReply(AwaitingConstantsReply, protocol::kReadConstantsCommand);
    } else {
        emit ended(history::Outcome::Cancelled, tr("Sensor Communication Error"));
        emit closeRequested();
    }
}

void Procedure::firmwareTooOld()
{
    clock_.stop(Timer::Tick);
    emit cursorPopped();
    if (!ask(
            Icon::Warning, tr(kErrorDetected),
            tr("Sensor Firmware version invalid. Contact %1 %2")
                .arg(QLatin1String(company::kMakerShortName), QLatin1String(company::kMakerPhone))))
        return;
    setStatus(tr(kCannotContinue));
}

void Procedure::handleDataProgress()
{
    if (!receiveBuffer.contains(protocol::kCarriageReturn))
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
    setStatus(label + QString::number(position) + QStringLiteral(" : ") + line);
    qCDebug(lcCalibration).noquote() << "Just the one line - " + line;
}

// --- The timed procedure --------------------------------------------------------

void Procedure::tick()
{
    // A tick after the port was let go has nothing left to wait for.
    if (!port_.usable()) {
        clock_.stop(Timer::Tick);
        return;
    }
    if (countdown > 0) {
        --countdown;
        return;
    }
    stopTimer();
    if (stateMachine == CollectingCalibrationData || stateMachine == CollectingHighValues ||
        stateMachine == CollectingLowValues)
        emit collectionEnded();

    switch (stateMachine) {
    case CollectingCalibrationData:
        qCDebug(lcCalibration) << "Process Input Data";
        if (!checkCalibrationData()) {
            qCDebug(lcCalibration) << "Insert Error Box";
            refuseCalibrationData();
            return;
        }
        qCDebug(lcCalibration) << "Data Values make sense";
        zeroCounts = computeZeroCounts();
        if (!computeNewConstants()) {
            qCDebug(lcCalibration)
                << "New constants are not finite numbers: zero counts" << zeroCounts
                << "high counts" << highCounts << "previous constants" << field(Field::OldSlope)
                << field(Field::OldOffset);
            qCDebug(lcCalibration) << "Insert Error Box";
            refuseCalibrationData();
            return;
        }
        commandStep = sequence::kSendForVerificationStep;
        startConstantTransfer(false);
        break;
    case CollectingHighValues: {
        qCDebug(lcCalibration) << "Validation High Values";
        if (!checkValidationData()) {
            handleBadReading();
            return;
        }
        const bool next =
            validationRun
                ? askToSample(readings::Position::Low, tr(kValidationTitle),
                              tr("User should now perform Validation Test\r\nVerify switch is in "
                                 "Low position\r\n") +
                                  tr(kStartSampling))
                : askToSample(readings::Position::Low, tr("VERIFICATION PROCESS"),
                              tr("User should now perform Verfication Test\r\nVerify switch is "
                                 "in Low position\r\n") +
                                  tr(kStartSampling));
        if (!next)
            return;
        startCollecting(CollectingLowValues);
        break;
    }
    case CollectingLowValues:
        qCDebug(lcCalibration) << "Validation Low Values";
        if (!checkValidationData()) {
            handleBadReading();
            return;
        }
        decideAfterLowReading();
        break;
    case AwaitingTimeoutReply:
    case AwaitingConstantsReply:
        // The sensor did not answer "toff" or "rcal" in time; the run ends here.
        emit ended(history::Outcome::NoResponse, QString());
        static_cast<void>(ask(Icon::Critical, tr(kErrorDetected), tr("No Response from Sensor")));
        break;
    }
}

bool Procedure::retryOrCancel(const QString &retryText, const QString &cancelStatus,
                              bool statusFirst)
{
    const Answer answer =
        ask(Icon::Critical, tr(kErrorDetected), tr(kBadData), Button::Retry | Button::Cancel);
    if (!answer)
        return false;
    // Both retries start again in the high position.
    if (*answer == Button::Retry)
        return askToSample(readings::Position::High, tr(kUserActionRequired), retryText,
                           Icon::Critical);
    clock_.stop(Timer::Tick);
    if (statusFirst) {
        setStatus(cancelStatus);
        qCDebug(lcCalibration).noquote() << cancelStatus;
    }
    emit ended(history::Outcome::Cancelled, tr("Bad Data from Sensor: %1").arg(phase()));
    emit closeRequested();
    if (!statusFirst)
        setStatus(cancelStatus);
    return false;
}

void Procedure::refuseCalibrationData()
{
    if (retryOrCancel(tr(kStartSampling), tr(kCancelledCalibrationData), false))
        startCollecting(CollectingCalibrationData);
}

void Procedure::handleBadReading()
{
    clearReading(Field::High);
    clearReading(Field::Low);
    // A bad low reading restarts the pair from the high one.
    stateMachine = CollectingHighValues;
    if (!retryOrCancel(tr("Restarting validation Process, make sure switch is in high "
                          "position.\r\n") +
                           tr(kStartSampling),
                       tr(kCancelledReading), true))
        return;
    startCollecting(CollectingHighValues);
    if (validationRun)
        clearReading(Field::HighValidate);
}

void Procedure::decideAfterLowReading()
{
    if (!write(protocol::kTimeoutCommand))
        return;

    if (validationRun) {
        // Escape keeps the constants: No would start changing them.
        const Answer answer = ask(Icon::Information, tr(kUserActionNeeded),
                                  tr("Verify Validation Values.\r\nYes takes no action on the "
                                     "constants\r\nNo continues process to Change Constants"),
                                  Button::Yes | Button::No, Escape::AnswersYes);
        if (!answer)
            return;
        if (*answer == Button::No) {
            validationRun = false;
            if (!askToSample(readings::Position::High, tr(kUserActionRequired),
                             tr("Verify switch is in High position.\r\n") + tr(kStartSampling)))
                return;
            startCollecting(CollectingCalibrationData);
            setStatus(tr(kCollecting));
            qCDebug(lcCalibration).nospace() << "stateMachine = " << int(stateMachine);
        } else if (*answer == Button::Yes) {
            const Answer create =
                ask(Icon::Information, tr(kUserActionNeeded),
                    tr("Create a File\r\nYes creates file and changes sensor's cal date\r\nNo "
                       "completes process without changing anything"),
                    Button::Yes | Button::No);
            if (!create)
                return;
            if (*create == Button::Yes) {
                commandStep = sequence::kSaveDateStep;
                emit waitCursorPushed();
                clock_.start(Timer::Send, kSendIntervalMs);
                setStatus(tr("Changing Cal Date in Sensor"));
            } else {
                setStatus(tr("Process Complete: Close all windows"));
                emit ended(history::Outcome::ValidatedNoRecord, QString());
            }
            qCDebug(lcCalibration).nospace() << "stateMachine = " << int(stateMachine);
        }
        return;
    }

    // Save and Abort both write to the sensor: only a button answers.
    const Answer answer = ask(Icon::Information, tr("Final Calibration Phase"),
                              tr("Save: Keep all changed constants and write file.\r\nAbort: "
                                 "Replaces original constants.\r\n"),
                              Button::Save | Button::Abort, Escape::Ignored);
    if (!answer)
        return;
    if (*answer == Button::Save) {
        commandStep = sequence::kSaveConstantsStep;
        startConstantTransfer(true);
    } else {
        clearReading(Field::High);
        clearReading(Field::Low);
        setStatus(tr(kRestoring));
        qCDebug(lcCalibration) << kRestoringTrace;
        commandStep = sequence::kRestoreStep;
        startConstantTransfer(true);
    }
}

void Procedure::sendTick()
{
    if (!port_.usable()) {
        clock_.stop(Timer::Send);
        return;
    }
    const int step = commandStep;
    qCDebug(lcCalibration).nospace() << "Command Value = " << step;
    sequence::Texts texts;
    texts.newSlope = field(Field::NewSlope);
    texts.newOffset = field(Field::NewOffset);
    texts.oldSlope = field(Field::OldSlope);
    texts.oldOffset = field(Field::OldOffset);
    texts.date = QDate::currentDate(); // the date of the tick that sends it
    const QByteArray command = sequence::command(step, texts);
    if (command.isEmpty()) {
        finishSequence(step);
        return;
    }
    const QString text = QString::fromLatin1(command);
    // Once Close waits for the save, the status keeps saying so.
    if (!closeAfterSave_)
        setStatus(text);
    qCDebug(lcCalibration) << text;
    if (!write(command))
        return;
    const bool unsaved = sequence::unsavedAfter(step, unsavedConstants_);
    const bool changedNow = unsaved != unsavedConstants_;
    unsavedConstants_ = unsaved;
    ++commandStep;
    // A crash from here on leaves a history entry that says so.
    if (changedNow)
        emit changed();
}

void Procedure::finishSequence(int step)
{
    clock_.stop(Timer::Send);
    if (!write(protocol::kTimeoutCommand))
        return;
    emit cursorPopped();

    switch (sequence::kindOf(step)) {
    case sequence::Kind::Save:
        // Saved in the sensor whether or not a record follows.
        emit ended(validationRun ? history::Outcome::ValidatedDateSet
                                 : history::Outcome::Recalibrated,
                   QString());
        recordPending_ = true;
        emit recordDue();
        recordPending_ = false;
        if (closeAfterSave_ && !linkLost_) {
            closeAfterSave_ = false;
            emit closeRequested();
        }
        break;
    case sequence::Kind::SendForVerification: {
        const bool next =
            validationRun
                ? askToSample(readings::Position::High, tr("Validation Process"),
                              tr("User should now perform Validation Test\r\nVerify switch is "
                                 "in High position\r\n") +
                                  tr(kStartSampling),
                              Icon::Information, Box::Verification)
                : askToSample(readings::Position::High, tr("Verfication Process"),
                              tr("User should now perform Verification Test\r\nVerify switch "
                                 "is in High position\r\n") +
                                  tr(kStartSampling),
                              Icon::Information, Box::Verification);
        if (!next)
            return;
        commandStep = 0;
        startCollecting(CollectingHighValues);
        break;
    }
    case sequence::Kind::Restore:
        setStatus(tr("Process Complete - No Constants changed"));
        if (closeAfterRestore_) {
            emit ended(history::Outcome::Cancelled,
                       tr("screen closed with new constants in the sensor; previous "
                          "constants restored"));
            emit closeRequested();
        } else {
            emit ended(history::Outcome::RecalibrationAbandoned, QString());
        }
        break;
    case sequence::Kind::None:
        break;
    }
}

// --- Readings and constants -----------------------------------------------------

bool Procedure::checkCalibrationData()
{
    qCDebug(lcCalibration) << "Entered Validation Method";
    const readings::CountMean mean = readings::newestCountMean(receiveBuffer, tip());
    for (const QString &line : mean.lines)
        qCDebug(lcCalibration) << line;
    if (!mean.accepted)
        return false;
    highCounts = mean.mean;
    qCDebug(lcCalibration) << mean.sum << "/" << mean.count << "=" << highCounts;
    return true;
}

bool Procedure::checkValidationData()
{
    qCDebug(lcCalibration) << "Entered Validation High Data Method";
    const readings::Reading reading = readings::newestReading(receiveBuffer);
    if (!reading.taken)
        return false;
    qCDebug(lcCalibration) << reading.line;
    qCDebug(lcCalibration) << reading.text;

    const bool high = stateMachine == CollectingHighValues;
    const Field target = high ? (validationRun ? Field::HighValidate : Field::High)
                              : (validationRun ? Field::LowValidate : Field::Low);
    if (const TipKind *t = tip()) {
        const readings::Position position =
            high ? readings::Position::High : readings::Position::Low;
        Reading taken;
        taken.taken = true;
        taken.text = reading.text;
        taken.value = reading.value;
        taken.window = high ? t->highWindow : t->lowWindow;
        taken.inWindow = readings::inWindow(t, position, reading.value);
        setReading(target, taken);
        // Into the history at once: a station stopped at the next prompt
        // keeps what it read.
        emit changed();
    }
    return true;
}

double Procedure::computeZeroCounts()
{
    const double zero = constants::zeroCounts(constants::parseConstant(field(Field::OldOffset)),
                                              constants::parseConstant(field(Field::OldSlope)));
    qCDebug(lcCalibration).nospace() << "Zero Counts: " << zero;
    return zero;
}

bool Procedure::computeNewConstants()
{
    const TipKind *t = tip();
    if (!t)
        return false;
    const constants::Pair pair = constants::newConstants(t->highStandard, highCounts, zeroCounts);
    // Equal counts, a zero previous slope or unreadable previous constants
    // give no usable line; such values are never shown nor sent.
    if (!pair.isFinite())
        return false;
    newCslp = pair.slope;
    newCoff = pair.offset;
    setField(Field::NewSlope, constants::slopeText(newCslp));
    setField(Field::NewOffset, constants::offsetText(newCoff));
    return true;
}

void Procedure::startConstantTransfer(bool saving)
{
    emit waitCursorPushed();
    // A restore keeps "Restoring Previous Constants": nothing is saved then.
    if (sequence::kindOf(commandStep) != sequence::Kind::Restore)
        setStatus(saving ? tr("Saving constants to sensor") : tr("Sending constants to sensor"));
    clock_.start(Timer::Send, kSendIntervalMs);
}

// --- What others read -----------------------------------------------------------

QString Procedure::phase() const
{
    if (clock_.isActive(Timer::Send)) {
        switch (sequence::kindOf(commandStep)) {
        case sequence::Kind::Save:
            return validationRun ? tr("saving the calibration date") : tr("saving new constants");
        case sequence::Kind::SendForVerification:
            return tr("sending new constants");
        case sequence::Kind::Restore:
            return tr("restoring previous constants");
        case sequence::Kind::None:
            break;
        }
    }
    switch (stateMachine) {
    case AwaitingTimeoutReply:
    case AwaitingConstantsReply:
        return tr("identification");
    case CollectingHighValues:
        return validationRun ? tr("validation high reading") : tr("verification high reading");
    case CollectingLowValues:
        return validationRun ? tr("validation low reading") : tr("verification low reading");
    case CollectingCalibrationData:
        return tr("calibration data");
    }
    return QString();
}

record::Inputs Procedure::recordInputs() const
{
    record::Inputs inputs;
    inputs.serialLine = replyLines[protocol::kSerialLine];
    inputs.oldSlope = field(Field::OldSlope);
    inputs.oldOffset = field(Field::OldOffset);
    inputs.validationHigh = field(Field::HighValidate);
    inputs.validationLow = field(Field::LowValidate);
    inputs.newSlope = field(Field::NewSlope);
    inputs.newOffset = field(Field::NewOffset);
    inputs.verificationHigh = field(Field::High);
    inputs.verificationLow = field(Field::Low);
    inputs.tip = tip();
    inputs.validationRun = validationRun;
    return inputs;
}
