#include "core/history/intervals.h"

#include "core/history/register.h"
#include "core/history/store.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace history
{

namespace
{
QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

// A reading taken, within the middle half of its window.
bool withMargin(const Reading &reading)
{
    if (reading.verdict != Verdict::Pass)
        return false;
    const double quarter = (reading.windowHigh - reading.windowLow) / 4;
    return reading.value >= reading.windowLow + quarter &&
           reading.value <= reading.windowHigh - quarter;
}

bool foundTaken(const Run &run)
{
    return run.foundHigh.verdict != Verdict::None || run.foundLow.verdict != Verdict::None;
}

bool foundFailing(const Run &run)
{
    return run.foundHigh.verdict == Verdict::Fail || run.foundLow.verdict == Verdict::Fail;
}

// Every as-found reading the run took lay in the middle half of its window.
bool foundWithMargin(const Run &run)
{
    for (const Reading *reading : {&run.foundHigh, &run.foundLow}) {
        if (reading->verdict != Verdict::None && !withMargin(*reading))
            return false;
    }
    return true;
}
} // namespace

QString retireReasonRefusal(const QString &reason)
{
    if (reason.trimmed().isEmpty())
        return tr("a sensor is retired with a reason");
    if (reason.size() > kMaxRetireReasonLength)
        return tr("a reason has at most %1 characters").arg(kMaxRetireReasonLength);
    for (const QChar c : reason) {
        if (!c.isPrint() && c != QLatin1Char(' '))
            return tr("a reason has no control characters");
    }
    return QString();
}

QString intervalRefusal(const QString &text, int *days)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < kMinIntervalDays || value > kMaxIntervalDays)
        return tr("an interval is a whole number of days from %1 to %2, not '%3'")
            .arg(kMinIntervalDays)
            .arg(kMaxIntervalDays)
            .arg(text);
    *days = value;
    return QString();
}

QString IntervalSuggestion::basis() const
{
    switch (rule) {
    case Lengthen:
        return QStringLiteral("suggested: the last %1 as-found readings in the middle half of "
                              "their windows")
            .arg(kSeriesLength);
    case Shorten:
        return QStringLiteral("suggested: the newest as-found reading out of tolerance");
    case Keep:
        break;
    }
    return QStringLiteral("suggested: kept");
}

IntervalSuggestion suggestedInterval(const QList<Run> &runs, int intervalDays,
                                     const QDateTime &since)
{
    IntervalSuggestion suggestion;
    suggestion.days = intervalDays;
    QList<const Run *> found;
    for (const Run &run : runs) {
        if (foundTaken(run) && (!since.isValid() || run.started > since))
            found.append(&run);
    }
    if (found.isEmpty())
        return suggestion;
    if (foundFailing(*found.last())) {
        const int shorter =
            std::max(kShortestSuggestedDays, int(std::lround(intervalDays * kShortenFactor)));
        if (shorter < intervalDays) {
            suggestion.rule = IntervalSuggestion::Shorten;
            suggestion.days = shorter;
        }
        return suggestion;
    }
    if (found.size() < kSeriesLength)
        return suggestion;
    for (qsizetype i = found.size() - kSeriesLength; i < found.size(); ++i) {
        if (!countsAsValidation(found.at(i)->outcome) || !foundWithMargin(*found.at(i)))
            return suggestion;
    }
    const int longer = std::min(kMaxIntervalDays, int(std::lround(intervalDays * kLengthenFactor)));
    if (longer > intervalDays) {
        suggestion.rule = IntervalSuggestion::Lengthen;
        suggestion.days = longer;
    }
    return suggestion;
}

QDateTime intervalSince(const QHash<QString, IntervalSetting> &newest, const QString &serialNumber,
                        const QString &sensorType)
{
    const auto own = newest.constFind(sensorKey(serialNumber, sensorType));
    if (!serialNumber.isEmpty() && own != newest.constEnd())
        return own->stamp.recordedAt;
    return newest.value(sensorKey(QString(), sensorType)).stamp.recordedAt;
}

bool suggestionOf(const Store &store, const QString &serialNumber, const QString &sensorType,
                  IntervalSuggestion *suggestion, int *current, QString *error)
{
    QHash<QString, IntervalSetting> settings;
    if (!intervalSettings(store, &settings, error))
        return false;
    QString why;
    const QList<Run> runs = store.runsOf(serialNumber, sensorType, &why);
    if (!why.isEmpty()) {
        *error = why;
        return false;
    }
    *current = intervalFor(settings, serialNumber, sensorType);
    *suggestion =
        suggestedInterval(runs, *current, intervalSince(settings, serialNumber, sensorType));
    return true;
}

RegisterChange changeSensorState(Store &store, const QString &serialNumber,
                                 const QString &sensorType, bool retire, const QString &reason)
{
    RegisterChange change;
    change.kind = RegisterChange::Refused;
    change.reason = retire ? retireReasonRefusal(reason) : QString();
    if (!change.reason.isEmpty())
        return change;
    QHash<QString, SensorState> states;
    if (!sensorStates(store, &states, &change.reason)) {
        change.kind = RegisterChange::Failed;
        return change;
    }
    const SensorState state = states.value(sensorKey(serialNumber, sensorType));
    if (state.retired == retire) {
        change.reason =
            retire ? tr("it is retired already (%1)").arg(state.reason) : tr("it is not retired");
        return change;
    }
    return storeSensorState(store, serialNumber, sensorType, retire,
                            retire ? reason.trimmed() : QString());
}

RegisterChange applySuggestedInterval(Store &store, const QString &serialNumber,
                                      const QString &sensorType, IntervalSuggestion *applied,
                                      int *was)
{
    RegisterChange change;
    if (!suggestionOf(store, serialNumber, sensorType, applied, was, &change.reason))
        return change;
    if (applied->rule == IntervalSuggestion::Keep) {
        change.kind = RegisterChange::Refused;
        change.reason = tr("its runs suggest keeping its %1 days").arg(*was);
        return change;
    }
    return storeInterval(store, serialNumber, sensorType, applied->days, applied->basis());
}

QString intervalText(int days, const IntervalSuggestion &suggestion)
{
    if (suggestion.rule == IntervalSuggestion::Keep || suggestion.days == days)
        return tr("%1 days").arg(days);
    return tr("%1 days (suggested %2)").arg(days).arg(suggestion.days);
}

} // namespace history
