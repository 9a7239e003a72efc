#pragma once

// What the register's sensor and interval changes must make sense of before
// they are stored, and the interval each sensor's own as-found history
// suggests. No database here.

#include "core/history/run.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

namespace history
{

// The longest reason a sensor is retired for.
inline constexpr qsizetype kMaxRetireReasonLength = 200;
// Why a reason to retire a sensor makes no sense (empty, too long, control
// characters), or empty.
QString retireReasonRefusal(const QString &reason);
// Why a number of days given as an interval makes no sense, or empty; *days
// gets it when it does.
QString intervalRefusal(const QString &text, int *days);

// The basis of an interval someone set by hand.
inline constexpr char kIntervalBasisSet[] = "set";

// The suggestion: lengthen by kLengthenFactor (rounded, at most
// kMaxIntervalDays) when the newest kSeriesLength runs that took as-found
// readings were validations whose every as-found reading lay in the middle
// half of its window; shorten by kShortenFactor (rounded, never below
// kShortestSuggestedDays, never longer than the interval is) when the newest
// run that took as-found readings found one outside its window; else keep.
// Only runs started after the interval was set count, so a suggestion
// applied is not suggested again from the same runs.
inline constexpr int kSeriesLength = 3;
inline constexpr double kLengthenFactor = 1.25;
inline constexpr double kShortenFactor = 0.5;
inline constexpr int kShortestSuggestedDays = 30;

struct IntervalSuggestion {
    enum Rule { Keep, Lengthen, Shorten };
    Rule rule = Keep;
    int days = 0;
    // The basis an applied suggestion is stored with.
    QString basis() const;
};

// From one sensor's runs, oldest first, and its interval (set at `since`;
// invalid: never set, every run counts).
IntervalSuggestion suggestedInterval(const QList<Run> &runs, int intervalDays,
                                     const QDateTime &since);

struct IntervalSetting;
// When the interval a sensor goes by was set: its own, else its type's;
// invalid when neither was.
QDateTime intervalSince(const QHash<QString, IntervalSetting> &newest, const QString &serialNumber,
                        const QString &sensorType);
class Store;
struct RegisterChange;
// Retires the sensor (for a reason that makes sense) or reinstates it, as
// its next state; refused when it is so already.
RegisterChange changeSensorState(Store &store, const QString &serialNumber,
                                 const QString &sensorType, bool retire, const QString &reason);
// Stores the interval the sensor's runs suggest as its own; refused when
// they suggest keeping the one it has (*applied gets what was applied).
RegisterChange applySuggestedInterval(Store &store, const QString &serialNumber,
                                      const QString &sensorType, IntervalSuggestion *applied,
                                      int *was);

// What one sensor's runs in the history suggest, with the interval it has
// now (*current); false with a reason when they cannot be read.
bool suggestionOf(const Store &store, const QString &serialNumber, const QString &sensorType,
                  IntervalSuggestion *suggestion, int *current, QString *error);

// "365 days", or "365 days (suggested 456)" when the runs suggest another.
QString intervalText(int days, const IntervalSuggestion &suggestion);

} // namespace history
