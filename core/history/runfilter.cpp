#include "core/history/runfilter.h"

namespace history
{

bool RunFilter::matches(const Run &run) const
{
    // The local day only when asked: each conversion looks the zone up.
    if (from.isValid() || to.isValid()) {
        const QDate day = run.localDate();
        if (!day.isValid() || (from.isValid() && day < from) || (to.isValid() && day > to))
            return false;
    }
    if (!station.isEmpty() && run.station != station)
        return false;
    if (!operatorName.isEmpty() && run.operatorName != operatorName)
        return false;
    return !outcome || run.outcome == *outcome;
}

QDate filterDate(const QString &text)
{
    return QDate::fromString(text, QLatin1String(kFilterDateFormat));
}

} // namespace history
