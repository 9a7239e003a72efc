// Recording the run in the calibration history, beside the procedure and
// never in its way: snapshots go to the installed sink, which never waits for
// a database. Without a sink nothing is recorded.

#include "gui/calibrationdlg.h"

#include "core/history/sink.h"
#include "core/sequence.h"
#include "core/tipkind.h"
#include "ui_calibrationdlg.h"

#include <QSysInfo>
#include <QTimer>
#include <QUuid>

void CalibrationDlg::recordIdentification(const listing::Reading &reading)
{
    if (!runIdentified_) {
        run_ = history::Run();
        run_.key = QUuid::createUuid().toString(QUuid::WithoutBraces);
        run_.started = connectedAt_;
        run_.station = QSysInfo::machineHostName();
        run_.operatorName = history::loginName();
        runIdentified_ = true;
    }
    const listing::Properties &p = reading.properties;
    run_.sensorType = p.type;
    run_.serialNumber = p.serialNumber.trimmed();
    run_.firmware = p.version;
    run_.range = p.range;
    run_.tipKind = reading.tipKind;
    run_.unit = tip() ? QLatin1String(tip()->unit) : QString();
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
    // The first end counts: a link lost after the constants were saved does
    // not undo the save.
    if (!runIdentified_ || run_.outcome != history::Outcome::Interrupted)
        return;
    run_.outcome = outcome;
    run_.outcomeDetail = detail;
    run_.ended = QDateTime::currentDateTimeUtc();
    recordSnapshot();
}

void CalibrationDlg::recordSnapshot()
{
    history::Sink *sink = history::installedSink();
    if (!runIdentified_ || !sink)
        return;
    using readings::Position;
    run_.foundHigh =
        history::judgedReading(tip(), Position::High, ui->calLE_HighValue_Validate->text());
    run_.foundLow =
        history::judgedReading(tip(), Position::Low, ui->calLE_LowValue_Validate->text());
    run_.leftHigh = history::judgedReading(tip(), Position::High, ui->calLE_HighValue->text());
    run_.leftLow = history::judgedReading(tip(), Position::Low, ui->calLE_LowValue->text());
    run_.newSlope = ui->calLE_NewCslp->text();
    run_.newOffset = ui->calLE_NewCoff->text();
    if (!run_.newSlope.isEmpty())
        run_.meanCounts = highCounts;
    // While the run goes on, whether the sensor holds constants never saved;
    // a lost link records what it was when the link went.
    if (run_.outcome == history::Outcome::Interrupted)
        run_.unsavedConstants = unsavedConstants_;
    ++run_.revision;
    sink->record(run_);
}

void CalibrationDlg::recordEndOfScreen()
{
    recordOutcome(history::Outcome::Cancelled, tr("screen closed during %1").arg(phase()));
}

QString CalibrationDlg::phase() const
{
    if (sendTimer->isActive()) {
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
