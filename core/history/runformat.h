#pragma once

// A run as text: JSON for the pending files, CSV (RFC 4180) for export.

#include "core/history/run.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace history
{

// Stable names of a verdict, as stored and exported: "none", "pass", "fail".
QString verdictName(Verdict verdict);
std::optional<Verdict> verdictFromName(const QString &name);
// And of a source: "station", "import".
QString sourceName(Source source);
std::optional<Source> sourceFromName(const QString &name);

QByteArray toJson(const Run &run);
// False (run unchanged) when the bytes are no run.
bool fromJson(const QByteArray &json, Run *run);

// UTF-8 with a byte order mark first, so that a spreadsheet reads accents
// right; it comes with the header row.
inline constexpr char kCsvByteOrderMark[] = "\xEF\xBB\xBF";
// Before a text cell that a spreadsheet would run as a formula ("=", "+",
// "-", "@", tab, CR first); a plain number never gets it.
inline constexpr char kCsvTextMarker = '\'';

// A time's column holds the local time as a spreadsheet reads it as a date,
// the outcome's the words the window shows; for scripts the same in stable
// form follow every field's columns: each time in UTC, ISO 8601 with
// milliseconds, under its column's name with this suffix, and the outcome's
// stable name.
inline constexpr char kCsvLocalTimeFormat[] = "yyyy-MM-dd HH:mm:ss";
inline constexpr char kCsvUtcSuffix[] = "_utc";
inline constexpr char kCsvOutcomeNameColumn[] = "outcome_name";
// The export's last column: verification readings of constants the sensor
// did not keep, labelled (verificationNotKept()); the as-left columns are
// empty then. Last, so that scripts reading the columns before keep working.
inline constexpr char kCsvNotKeptColumn[] = "verification_not_kept";
// After it, the fields added since (the standard the run was made with),
// and last what the register finds of that standard, in words.
inline constexpr char kCsvStandardFindingColumn[] = "standard_finding";

// The byte order mark and one header row, then one row per run; CR LF line
// ends, fields quoted where they hold a comma, a quote, CR or LF, quotes
// doubled.
QByteArray csvHeader();
QByteArray csvRow(const Run &run, const QString &standardFinding = QString());
// finding: the standard_finding cell of a run (none: every one empty).
QByteArray toCsv(const QList<Run> &runs,
                 const std::function<QString(const Run &)> &finding = nullptr);
// One cell as the export writes it: marked when a spreadsheet would take it
// for a formula, quoted where it must be.
QByteArray csvCell(const QString &text);

} // namespace history
