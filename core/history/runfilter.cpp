#include "core/history/runfilter.h"

namespace history
{

bool RunFilter::matches(const Run &run) const
{
    const QDate day = run.localDate();
    if (from.isValid() && (!day.isValid() || day < from))
        return false;
    if (to.isValid() && (!day.isValid() || day > to))
        return false;
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
