#include "core/history/run.h"

#include "core/tipkind.h"

#include <QCoreApplication>

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
    reading.verdict = readings::inWindow(tip, position, reading.value) ? Verdict::Pass : Verdict::Fail;
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

} // namespace history
