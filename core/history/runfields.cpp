#include "core/history/runfields.h"

namespace history
{

namespace
{
RunField field(FieldKind kind, const char *column, const char *json, const char *csv, int flags)
{
    RunField f{};
    f.kind = kind;
    f.column = column;
    f.json = json;
    f.csv = csv;
    f.flags = flags;
    return f;
}

RunField text(const char *column, const char *json, const char *csv, QString Run::*member,
              int flags = 0)
{
    RunField f = field(FieldKind::Text, column, json, csv, flags);
    f.text = member;
    return f;
}

RunField integer(const char *column, const char *json, const char *csv, int Run::*member,
                 int flags = 0)
{
    RunField f = field(FieldKind::Integer, column, json, csv, flags);
    f.integer = member;
    return f;
}

RunField number(const char *column, const char *json, const char *csv,
                std::optional<double> Run::*member)
{
    RunField f = field(FieldKind::Number, column, json, csv, 0);
    f.number = member;
    return f;
}

RunField reading(const char *prefix, const char *json, Reading Run::*member)
{
    RunField f = field(FieldKind::Reading, prefix, json, prefix, 0);
    f.reading = member;
    return f;
}

RunField time(const char *column, const char *json, const char *csv, QDateTime Run::*member,
              int flags = 0)
{
    RunField f = field(FieldKind::Time, column, json, csv, flags);
    f.time = member;
    return f;
}

RunField date(const char *column, const char *json, const char *csv, QDate Run::*member)
{
    RunField f = field(FieldKind::Date, column, json, csv, 0);
    f.date = member;
    return f;
}

RunField flag(const char *column, const char *json, const char *csv, bool Run::*member)
{
    RunField f = field(FieldKind::Flag, column, json, csv, 0);
    f.flag = member;
    return f;
}

RunField source(const char *name, Source Run::*member)
{
    RunField f = field(FieldKind::Source, name, name, name, 0);
    f.source = member;
    return f;
}

RunField outcome(const char *name, Outcome Run::*member)
{
    RunField f = field(FieldKind::Outcome, name, name, name, kRequired);
    f.outcome = member;
    return f;
}

QStringList names(const RunField &field, const char *name)
{
    if (field.kind != FieldKind::Reading)
        return {QLatin1String(name)};
    QStringList list;
    for (const char *suffix : kReadingSuffixes)
        list << QLatin1String(name) + QLatin1String(suffix);
    return list;
}
} // namespace

QStringList RunField::columns() const
{
    return names(*this, column);
}

QStringList RunField::csvColumns() const
{
    return names(*this, csv);
}

const QList<RunField> &runFields()
{
    static const QList<RunField> fields{
        text("run_key", "key", "key", &Run::key, kRequired),
        integer("revision", "revision", "revision", &Run::revision, kRequired),
        source("source", &Run::source),
        time("started", "started", "started", &Run::started),
        time("ended", "ended", "ended", &Run::ended, kWhenSet),
        text("station", "station", "station", &Run::station),
        text("sensor_type", "sensorType", "sensor_type", &Run::sensorType),
        text("serial_number", "serialNumber", "serial_number", &Run::serialNumber),
        text("firmware", "firmware", "firmware", &Run::firmware),
        text("sensor_range", "range", "range", &Run::range),
        integer("tip_kind", "tipKind", "tip", &Run::tipKind, kBlankWhenZero),
        text("unit", "unit", "unit", &Run::unit),
        text("old_slope", "oldSlope", "old_slope", &Run::oldSlope),
        text("old_offset", "oldOffset", "old_offset", &Run::oldOffset),
        reading("found_high", "foundHigh", &Run::foundHigh),
        reading("found_low", "foundLow", &Run::foundLow),
        number("mean_counts", "meanCounts", "mean_counts", &Run::meanCounts),
        text("new_slope", "newSlope", "new_slope", &Run::newSlope),
        text("new_offset", "newOffset", "new_offset", &Run::newOffset),
        reading("left_high", "leftHigh", &Run::leftHigh),
        reading("left_low", "leftLow", &Run::leftLow),
        outcome("outcome", &Run::outcome),
        text("outcome_detail", "outcomeDetail", "outcome_detail", &Run::outcomeDetail),
        flag("unsaved_constants", "unsavedConstants", "unsaved_constants", &Run::unsavedConstants),
        text("record_path", "recordPath", "record_path", &Run::recordPath),
        text("record_digest", "recordDigest", "record_digest", &Run::recordDigest),
        // Added later, so at the end: scripts reading the export's columns
        // before keep working.
        date("record_date", "date", "record_date", &Run::date),
        text("operator_name", "operator", "operator", &Run::operatorName),
        time("recorded_at", nullptr, "recorded_at", &Run::recordedAt, kByDatabase),
        text("recorded_by", nullptr, "recorded_by", &Run::recordedBy, kByDatabase),
        // Added after the export's own last columns, which keep their places;
        // a pending file written before reads as none.
        text("standard_serial", "standardSerial", "standard_serial", &Run::standardSerial,
             kWhenSet | kExportedLast),
    };
    return fields;
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace history
