#pragma once

// A run's fields, listed once: where each is kept in the database, in a
// pending file's JSON and in the CSV export, and what kind of value it
// holds. The row mapping, the pending files and the export all walk this
// table, so a new field is one entry here (and a migration for its column).

#include "core/history/run.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace history
{

enum class FieldKind {
    Text,    // a QString as it is
    Integer, // an int
    Number,  // an optional double: absent is no value
    Reading, // five columns: text, value, window low and high, verdict
    Time,    // a UTC time, ISO 8601 with milliseconds
    Date,    // a date alone, ISO 8601
    Flag,    // a bool: "yes"/"no" in the export
    Source,  // by its name
    Outcome, // by its name
};

enum FieldFlag {
    kRequired = 1,      // a pending file without it (a key, a revision, an outcome) is no run
    kWhenSet = 2,       // a time left out of the JSON and NULL in the database when not set; a text
                        // left out of the JSON when empty
    kBlankWhenZero = 4, // the export leaves a zero empty
    kByDatabase = 8,    // the database sets it when it stores a row: never written, not pending
    kExportedLast = 16, // exported after the export's own last columns (see runformat.h)
};

struct RunField {
    FieldKind kind;
    const char *column; // in the database; for a reading the prefix of its five columns
    const char *json;   // in a pending file; nullptr: not kept there
    const char *csv;    // in the export; for a reading the prefix of its five columns
    int flags = 0;

    // The member of Run the field is, of the type its kind names.
    QString Run::*text = nullptr;
    int Run::*integer = nullptr;
    std::optional<double> Run::*number = nullptr;
    Reading Run::*reading = nullptr;
    QDateTime Run::*time = nullptr;
    QDate Run::*date = nullptr;
    bool Run::*flag = nullptr;
    Source Run::*source = nullptr;
    Outcome Run::*outcome = nullptr;

    bool has(FieldFlag f) const { return (flags & f) != 0; }
    // A reading's five names after its prefix; any other field's one name.
    QStringList columns() const;
    QStringList csvColumns() const;
};

// The suffixes of a reading's five columns, in the database and the export.
inline constexpr const char *kReadingSuffixes[] = {"_text", "_value", "_window_low", "_window_high",
                                                   "_verdict"};

// In the order of the export's columns, which is also the order of the
// database columns in the insert and the select.
const QList<RunField> &runFields();

// A time as kept everywhere: UTC, ISO 8601 with milliseconds; empty when
// not set.
QString timeText(const QDateTime &time);

} // namespace history
