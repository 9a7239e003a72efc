#pragma once

// Which runs a person asked to see: a range of local dates, a station, an
// operator and an outcome, each left empty for any.

#include "core/history/run.h"

#include <QDate>
#include <QString>

#include <optional>

namespace history
{

// The form a date is given in on the command line.
inline constexpr char kFilterDateFormat[] = "yyyy-MM-dd";

struct RunFilter {
    QDate from; // the first local day shown; invalid: any
    QDate to;   // the last one
    QString station;
    QString operatorName;
    std::optional<Outcome> outcome;

    bool isEmpty() const
    {
        return !from.isValid() && !to.isValid() && station.isEmpty() && operatorName.isEmpty() &&
               !outcome;
    }
    // The run's local day within from and to (both included), and its
    // station, operator and stored outcome the ones asked for.
    bool matches(const Run &run) const;
};

// A date as a person gives it (yyyy-MM-dd); invalid when it is none.
QDate filterDate(const QString &text);

} // namespace history
