#include "core/history/run.h"

#include "core/tipkind.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

#include <pwd.h>
#include <unistd.h>

namespace history
{

namespace
{
struct OutcomeNames {
    Outcome outcome;
    const char *name;
    const char *text;
};

constexpr OutcomeNames kOutcomes[] = {
    {Outcome::Interrupted, "interrupted", QT_TRANSLATE_NOOP("history", "Interrupted")},
    {Outcome::ValidatedDateSet, "validated-date-set",
     QT_TRANSLATE_NOOP("history", "Validated, date set")},
    {Outcome::ValidatedNoRecord, "validated-no-record",
     QT_TRANSLATE_NOOP("history", "Validated, nothing changed")},
    {Outcome::Recalibrated, "recalibrated", QT_TRANSLATE_NOOP("history", "Recalibrated and saved")},
    {Outcome::RecalibrationAbandoned, "recalibration-abandoned",
     QT_TRANSLATE_NOOP("history", "Recalibration abandoned, previous constants restored")},
    {Outcome::Cancelled, "cancelled", QT_TRANSLATE_NOOP("history", "Cancelled")},
    {Outcome::LinkLost, "link-lost", QT_TRANSLATE_NOOP("history", "Link lost")},
    {Outcome::UnsupportedSensor, "unsupported-sensor",
     QT_TRANSLATE_NOOP("history", "Unsupported sensor")},
    {Outcome::FirmwareTooOld, "firmware-too-old", QT_TRANSLATE_NOOP("history", "Firmware too old")},
    {Outcome::NoResponse, "no-response", QT_TRANSLATE_NOOP("history", "No response")},
};
// A run in progress, as shown and exported.
constexpr char kInProgressName[] = "in-progress";
constexpr char kInProgressText[] = QT_TRANSLATE_NOOP("history", "In progress");
} // namespace

Reading judgedReading(const TipKind *tip, readings::Position position, const QString &text)
{
    Reading reading;
    reading.text = text;
    reading.value = text.toDouble(); // not a number: 0, as the screen and the record read it
    if (text.isEmpty() || !tip)
        return reading;
    const Window<double> &window =
        position == readings::Position::High ? tip->highWindow : tip->lowWindow;
    reading.windowLow = window.low;
    reading.windowHigh = window.high;
    reading.verdict =
        readings::inWindow(tip, position, reading.value) ? Verdict::Pass : Verdict::Fail;
    return reading;
}

QString outcomeName(Outcome outcome)
{
    for (const OutcomeNames &o : kOutcomes) {
        if (o.outcome == outcome)
            return QLatin1String(o.name);
    }
    return QString();
}

std::optional<Outcome> outcomeFromName(const QString &name)
{
    for (const OutcomeNames &o : kOutcomes) {
        if (name == QLatin1String(o.name))
            return o.outcome;
    }
    return std::nullopt;
}

QString outcomeText(Outcome outcome)
{
    for (const OutcomeNames &o : kOutcomes) {
        if (o.outcome == outcome)
            return QCoreApplication::translate("history", o.text);
    }
    return QString();
}

bool countsAsValidation(Outcome outcome)
{
    return outcome == Outcome::ValidatedDateSet || outcome == Outcome::ValidatedNoRecord ||
           outcome == Outcome::Recalibrated;
}

QString implausible(const Run &run, const QDate &today)
{
    if (run.key.isEmpty())
        return QCoreApplication::translate("history", "the run has no key");
    if (run.revision < 1 || run.revision > kMaxRevision)
        return QCoreApplication::translate("history", "its revision %1 is not from 1 to %2")
            .arg(run.revision)
            .arg(kMaxRevision);
    // Tomorrow still counts: a station east of this one may already be there.
    if (run.localDate() > today.addDays(1))
        return QCoreApplication::translate("history", "it is dated in the future (%1)")
            .arg(run.localDate().toString(Qt::ISODate));
    return QString();
}

QString loginName()
{
    // The account, not a variable anyone can set; the variable only where
    // the account has no entry.
    if (const passwd *entry = getpwuid(geteuid()); entry && entry->pw_name && *entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QProcessEnvironment::systemEnvironment().value(QStringLiteral("USER"));
}

bool verificationHeld(const Run &run)
{
    return run.outcome == Outcome::Recalibrated;
}

QString verificationNotKept(const Run &run)
{
    if (verificationHeld(run) || (!run.leftHigh.taken() && !run.leftLow.taken()))
        return QString();
    const auto part = [](const char *position, const Reading &reading) {
        if (!reading.taken())
            return QCoreApplication::translate("history", position).arg(QLatin1String("-"));
        QString text = QCoreApplication::translate("history", position).arg(reading.text);
        if (reading.verdict == Verdict::Pass)
            text = QCoreApplication::translate("history", "%1 (pass)").arg(text);
        else if (reading.verdict == Verdict::Fail)
            text = QCoreApplication::translate("history", "%1 (fail)").arg(text);
        return text;
    };
    const char *label =
        run.unsavedConstants
            ? QT_TRANSLATE_NOOP("history", "Verification with constants never saved")
            : QT_TRANSLATE_NOOP("history", "Verification with constants put back");
    return QCoreApplication::translate("history", "%1: %2, %3")
        .arg(QCoreApplication::translate("history", label),
             part(QT_TRANSLATE_NOOP("history", "high %1"), run.leftHigh),
             part(QT_TRANSLATE_NOOP("history", "low %1"), run.leftLow));
}

bool inProgress(const Run &run, const QDateTime &stationsLatestStart, const QDateTime &now)
{
    if (run.outcome != Outcome::Interrupted || run.ended.isValid() || run.source != Source::Station)
        return false;
    // Its station has started another run since: this one was left.
    if (stationsLatestStart.isValid() && stationsLatestStart > run.started)
        return false;
    const QDateTime seen = run.recordedAt.isValid() ? run.recordedAt : run.started;
    return seen.isValid() && seen.secsTo(now) < kInProgressSeconds;
}

void markInProgress(QList<Run> *runs, const QHash<QString, QDateTime> &latestStarts,
                    const QDateTime &now)
{
    for (Run &run : *runs)
        run.inProgress = inProgress(run, latestStarts.value(run.station), now);
}

void markRevisionsInProgress(QList<Run> *revisions, const QHash<QString, QDateTime> &latestStarts,
                             const QDateTime &now)
{
    for (int i = 0; i < revisions->size(); ++i) {
        Run &run = (*revisions)[i];
        run.inProgress = i + 1 < revisions->size()
                             ? run.outcome == Outcome::Interrupted && !run.ended.isValid() &&
                                   run.source == Source::Station
                             : inProgress(run, latestStarts.value(run.station), now);
    }
}

QString shownOutcomeName(const Run &run)
{
    return run.inProgress ? QLatin1String(kInProgressName) : outcomeName(run.outcome);
}

QString shownOutcomeText(const Run &run)
{
    return run.inProgress ? inProgressText() : outcomeText(run.outcome);
}

QString inProgressText()
{
    return QCoreApplication::translate("history", kInProgressText);
}

bool leftFailing(const Run &run)
{
    const auto failed = [](const Reading &r) { return r.verdict == Verdict::Fail; };
    if (verificationHeld(run))
        return failed(run.leftHigh) || failed(run.leftLow);
    return failed(run.foundHigh) || failed(run.foundLow);
}

} // namespace history
