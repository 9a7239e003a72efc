#include "core/history/runrow.h"

#include "core/history/runfields.h"
#include "core/history/runformat.h"

#include <cmath>
#include <limits>

namespace history
{

namespace
{
// The time the database stores a revision, by its own clock, as timeText()
// writes times.
const QLatin1String kSQLiteNow("strftime('%Y-%m-%dT%H:%M:%fZ', 'now')");
const QLatin1String kPostgresNow(
    "to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')");
// Who stored it: on PostgreSQL the login of the connection; SQLite has none,
// its trigger takes the operator's name.
const QLatin1String kSQLiteLogin("''");
const QLatin1String kPostgresLogin("session_user");
// The station's own number of the snapshot, kept beside the history's.
const QLatin1String kSnapshotColumn("snapshot");

const QVariant kNullText(QMetaType::fromType<QString>());
const QVariant kNullNumber(QMetaType::fromType<double>());

// SQLite keeps no NaN (it would store NULL); both databases store NULL for it.
QVariant sqlNumber(double value)
{
    return std::isnan(value) ? kNullNumber : QVariant(value);
}

double numberFrom(const QVariant &value)
{
    return value.isNull() ? std::numeric_limits<double>::quiet_NaN() : value.toDouble();
}

// The values of one field, one per column.
QVariantList fieldValues(const RunField &field, const Run &run)
{
    switch (field.kind) {
    case FieldKind::Text:
        return {sqlText(run.*field.text)};
    case FieldKind::Integer:
        return {run.*field.integer};
    case FieldKind::Number:
        return {run.*field.number ? sqlNumber(*(run.*field.number)) : kNullNumber};
    case FieldKind::Reading: {
        const Reading &reading = run.*field.reading;
        return {sqlText(reading.text), sqlNumber(reading.value), sqlNumber(reading.windowLow),
                sqlNumber(reading.windowHigh), sqlText(verdictName(reading.verdict))};
    }
    case FieldKind::Time:
        if (field.has(kWhenSet) && !(run.*field.time).isValid())
            return {kNullText};
        return {sqlText(timeText(run.*field.time))};
    case FieldKind::Date:
        return {sqlText((run.*field.date).isValid() ? (run.*field.date).toString(Qt::ISODate)
                                                    : QString())};
    case FieldKind::Flag:
        return {int(run.*field.flag)};
    case FieldKind::Source:
        return {sqlText(sourceName(run.*field.source))};
    case FieldKind::Outcome:
        return {sqlText(outcomeName(run.*field.outcome))};
    }
    return {};
}

// Reads one field from the row, starting at *column, and moves past it.
void readField(const RunField &field, const QSqlQuery &query, int *column, Run *run)
{
    const auto next = [&query, column] { return query.value((*column)++); };
    switch (field.kind) {
    case FieldKind::Text:
        run->*field.text = next().toString();
        return;
    case FieldKind::Integer:
        run->*field.integer = next().toInt();
        return;
    case FieldKind::Number: {
        const QVariant value = next();
        if (!value.isNull())
            run->*field.number = numberFrom(value);
        return;
    }
    case FieldKind::Reading: {
        Reading &reading = run->*field.reading;
        reading.text = next().toString();
        reading.value = numberFrom(next());
        reading.windowLow = numberFrom(next());
        reading.windowHigh = numberFrom(next());
        reading.verdict = verdictFromName(next().toString()).value_or(Verdict::None);
        return;
    }
    case FieldKind::Time:
        run->*field.time = timeFrom(next());
        return;
    case FieldKind::Date: {
        const QString text = next().toString();
        if (!text.isEmpty())
            run->*field.date = QDate::fromString(text, Qt::ISODate);
        return;
    }
    case FieldKind::Flag:
        run->*field.flag = next().toInt() != 0;
        return;
    case FieldKind::Source:
        run->*field.source = sourceFromName(next().toString()).value_or(run->*field.source);
        return;
    case FieldKind::Outcome:
        run->*field.outcome = outcomeFromName(next().toString()).value_or(run->*field.outcome);
        return;
    }
}

// The columns the program writes, or those the database sets.
QStringList columns(bool byDatabase)
{
    QStringList names;
    for (const RunField &field : runFields()) {
        if (field.has(kByDatabase) == byDatabase)
            names << field.columns();
    }
    return names;
}
} // namespace

QStringList runColumns()
{
    return columns(false) + columns(true);
}

QString insertRunSql(bool sqlite)
{
    // The database sets a time (when) and a text (who); the schema's
    // triggers set both again, whatever an insert gives them.
    const QStringList written = columns(false);
    QStringList set;
    for (const RunField &field : runFields()) {
        if (field.has(kByDatabase))
            set << (field.kind == FieldKind::Time ? (sqlite ? kSQLiteNow : kPostgresNow)
                                                  : (sqlite ? kSQLiteLogin : kPostgresLogin));
    }
    return QLatin1String("INSERT INTO run_revisions (") + (written + columns(true)).join(u',') +
           u',' + kSnapshotColumn + QLatin1String(") VALUES (") +
           QStringList(written.size(), QStringLiteral("?")).join(u',') + u',' + set.join(u',') +
           QLatin1String(",?) ON CONFLICT (run_key, revision) DO NOTHING");
}

QVariantList runValues(const Run &run)
{
    return runValues(run, run.revision);
}

QVariantList runValues(const Run &run, int snapshot)
{
    QVariantList values;
    for (const RunField &field : runFields()) {
        if (!field.has(kByDatabase))
            values << fieldValues(field, run);
    }
    return values << snapshot;
}

QString selectRunSql(const QString &table)
{
    return QLatin1String("SELECT ") + runColumns().join(u',') + QLatin1String(" FROM ") + table +
           u' ';
}

Run runFromRow(const QSqlQuery &query)
{
    Run run;
    int column = 0;
    // The written fields first, as runColumns() lists them.
    for (bool byDatabase : {false, true}) {
        for (const RunField &field : runFields()) {
            if (field.has(kByDatabase) == byDatabase)
                readField(field, query, &column, &run);
        }
    }
    return run;
}

QVariant sqlText(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QDateTime timeFrom(const QVariant &value)
{
    const QString text = value.toString();
    if (text.isEmpty())
        return QDateTime();
    return QDateTime::fromString(text, Qt::ISODateWithMs).toUTC();
}

} // namespace history
