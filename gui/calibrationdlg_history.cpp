// Recording the run in the calibration history from the procedure's values,
// beside it and never in its way: snapshots go to the sink the screen was
// given, which never waits for a database. Without a sink nothing is recorded.

#include "gui/calibrationdlg.h"

#include "core/history/sink.h"
#include "core/tipkind.h"

#include <QSysInfo>
#include <QUuid>

namespace
{
// The procedure's reading as the history keeps it: value, window and verdict
// as the procedure judged them. An empty text is no reading there, as an
// empty field of a record file is not.
history::Reading recorded(const procedure::Reading &taken)
{
    history::Reading reading;
    reading.text = taken.text;
    reading.value = taken.value;
    if (!taken.taken || taken.text.isEmpty())
        return reading;
    reading.windowLow = taken.window.low;
    reading.windowHigh = taken.window.high;
    reading.verdict = taken.inWindow ? history::Verdict::Pass : history::Verdict::Fail;
    return reading;
}
} // namespace

void CalibrationDlg::setHistorySink(history::Sink *sink)
{
    sink_ = sink;
}

void CalibrationDlg::recordIdentification(const listing::Reading &reading)
{
    if (!runIdentified_) {
        run_ = history::Run();
        run_.key = QUuid::createUuid().toString(QUuid::WithoutBraces);
        run_.started = connectedAt_;
        run_.station = QSysInfo::machineHostName();
        run_.operatorName = history::loginName();
        // The standard the station names, read once a run: nothing asked,
        // and a settings file that cannot be used gives none.
        run_.standardSerial = sink_ ? sink_->stationStandard() : QString();
        runIdentified_ = true;
    }
    const listing::Properties &p = reading.properties;
    run_.sensorType = p.type;
    run_.serialNumber = p.serialNumber.trimmed();
    run_.firmware = p.version;
    run_.range = p.range;
    run_.tipKind = reading.tipKind;
    run_.unit = procedure_->tip() ? QLatin1String(procedure_->tip()->unit) : QString();
    run_.oldSlope = p.slope;
    run_.oldOffset = p.offset;

    switch (reading.verdict) {
    case listing::Verdict::Accepted:
    case listing::Verdict::Unreadable:
        recordSnapshot();
        break;
    case listing::Verdict::UnknownTip:
        recordOutcome(history::Outcome::UnsupportedSensor);
        break;
    case listing::Verdict::FirmwareTooOld:
        recordOutcome(history::Outcome::FirmwareTooOld);
        break;
    }
}

void CalibrationDlg::recordOutcome(history::Outcome outcome, const QString &detail)
{
    if (!runIdentified_)
        return;
    bool changed = false;
    // A lost link records whether the sensor held unsaved constants then,
    // whatever ended the run before it; nothing after it can change that.
    if (outcome == history::Outcome::LinkLost && !unsavedSettled_) {
        unsavedSettled_ = true;
        const bool unsaved = procedure_->hasUnsavedConstants();
        changed = unsaved != run_.unsavedConstants;
        run_.unsavedConstants = unsaved;
    }
    // The first end counts: a link lost after the constants were saved does
    // not undo the save.
    if (run_.outcome == history::Outcome::Interrupted) {
        run_.outcome = outcome;
        run_.outcomeDetail = detail;
        run_.ended = QDateTime::currentDateTimeUtc();
        changed = true;
    }
    if (changed)
        recordSnapshot();
}

void CalibrationDlg::recordSnapshot()
{
    if (!runIdentified_ || !sink_)
        return;
    using procedure::Field;
    const Procedure &p = *procedure_;
    run_.foundHigh = recorded(p.reading(Field::HighValidate));
    run_.foundLow = recorded(p.reading(Field::LowValidate));
    // Verification readings stay once taken, until new ones replace them:
    // the screen clears them when the previous constants go back (Abort) or
    // bad data come, and the history keeps them apart as readings of
    // constants the sensor did not keep.
    for (auto [field, kept] :
         {std::pair(Field::High, &run_.leftHigh), std::pair(Field::Low, &run_.leftLow)}) {
        if (const history::Reading now = recorded(p.reading(field)); now.taken())
            *kept = now;
    }
    run_.newSlope = p.field(Field::NewSlope);
    run_.newOffset = p.field(Field::NewOffset);
    if (!run_.newSlope.isEmpty())
        run_.meanCounts = p.meanCounts();
    // Whether the sensor holds constants never saved, until the screen
    // closes: a run that ended with them in the sensor may still put the
    // previous ones back. A lost link records what it was when the link went.
    if (!unsavedSettled_)
        run_.unsavedConstants = p.hasUnsavedConstants();
    ++run_.revision;
    sink_->record(run_);
}

void CalibrationDlg::recordEndOfScreen()
{
    procedure_->closing();
}
