#include "core/history/runformat.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <string_view>

namespace history
{

namespace
{
QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

// JSON has no NaN or infinities; they travel as these strings.
const QLatin1String kNaN("NaN");
const QLatin1String kInfinity("Infinity");
const QLatin1String kMinusInfinity("-Infinity");

QJsonValue numberValue(double value)
{
    if (std::isnan(value))
        return kNaN;
    if (std::isinf(value))
        return value > 0 ? kInfinity : kMinusInfinity;
    return value;
}

QJsonObject readingObject(const Reading &reading)
{
    return QJsonObject{
        {QLatin1String("text"), reading.text},
        {QLatin1String("value"), numberValue(reading.value)},
        {QLatin1String("windowLow"), numberValue(reading.windowLow)},
        {QLatin1String("windowHigh"), numberValue(reading.windowHigh)},
        {QLatin1String("verdict"), verdictName(reading.verdict)},
    };
}

// Reads the fields of one JSON object; any field present with the wrong type
// makes the whole object no run.
class Fields
{
public:
    explicit Fields(const QJsonObject &object) : object_(object) {}
    bool ok() const { return ok_; }
    bool has(const char *name) const
    {
        const QJsonValue value = object_.value(QLatin1String(name));
        return !value.isUndefined() && !value.isNull();
    }

    void text(const char *name, QString *out)
    {
        const QJsonValue value = object_.value(QLatin1String(name));
        if (value.isUndefined() || value.isNull())
            return;
        if (!value.isString()) {
            ok_ = false;
            return;
        }
        *out = value.toString();
    }

    void integer(const char *name, int *out)
    {
        const QJsonValue value = object_.value(QLatin1String(name));
        if (value.isUndefined() || value.isNull())
            return;
        const double number = value.toDouble(std::numeric_limits<double>::quiet_NaN());
        if (!value.isDouble() || number != std::floor(number) ||
            std::abs(number) > std::numeric_limits<int>::max()) {
            ok_ = false;
            return;
        }
        *out = static_cast<int>(number);
    }

    void number(const char *name, double *out)
    {
        const QJsonValue value = object_.value(QLatin1String(name));
        if (value.isUndefined() || value.isNull())
            return;
        if (value.isDouble()) {
            *out = value.toDouble();
        } else if (value == QJsonValue(kNaN)) {
            *out = std::numeric_limits<double>::quiet_NaN();
        } else if (value == QJsonValue(kInfinity)) {
            *out = std::numeric_limits<double>::infinity();
        } else if (value == QJsonValue(kMinusInfinity)) {
            *out = -std::numeric_limits<double>::infinity();
        } else {
            ok_ = false;
        }
    }

    void boolean(const char *name, bool *out)
    {
        const QJsonValue value = object_.value(QLatin1String(name));
        if (value.isUndefined() || value.isNull())
            return;
        if (!value.isBool()) {
            ok_ = false;
            return;
        }
        *out = value.toBool();
    }

    void time(const char *name, QDateTime *out)
    {
        QString text;
        this->text(name, &text);
        if (text.isEmpty())
            return;
        const QDateTime parsed = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!parsed.isValid()) {
            ok_ = false;
            return;
        }
        *out = parsed.toUTC();
    }

    void reading(const char *name, Reading *out)
    {
        const QJsonValue value = object_.value(QLatin1String(name));
        if (value.isUndefined() || value.isNull())
            return;
        if (!value.isObject()) {
            ok_ = false;
            return;
        }
        Fields fields(value.toObject());
        fields.text("text", &out->text);
        fields.number("value", &out->value);
        fields.number("windowLow", &out->windowLow);
        fields.number("windowHigh", &out->windowHigh);
        QString verdict;
        fields.text("verdict", &verdict);
        if (!verdict.isEmpty()) {
            const std::optional<Verdict> known = verdictFromName(verdict);
            if (known)
                out->verdict = *known;
            else
                ok_ = false;
        }
        ok_ = ok_ && fields.ok();
    }

private:
    QJsonObject object_;
    bool ok_ = true;
};

// A spreadsheet takes a cell beginning with one of these as a formula (or
// drops the tab or carriage return): such a text gets kCsvTextMarker first.
constexpr char kFormulaStarts[] = "=+-@\t\r";

// Optional sign, digits with an optional fraction, optional exponent: what
// the number columns and the constants hold, read as a number by any
// spreadsheet and so never marked.
bool isPlainNumber(const QString &text)
{
    static const QRegularExpression number(QRegularExpression::anchoredPattern(
        QStringLiteral("[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?")));
    return number.match(text).hasMatch();
}

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() &&
        std::string_view(kFormulaStarts).find(bytes.at(0)) != std::string_view::npos &&
        !isPlainNumber(text))
        bytes.prepend(kCsvTextMarker);
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') ||
        bytes.contains('\n')) {
        bytes.replace('"', "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QString csvNumber(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

using Column = QString (*)(const Run &);

// A reading's five columns; a reading never taken leaves them empty.
template <Reading Run::*R> QString readingText(const Run &run)
{
    return (run.*R).taken() ? (run.*R).text : QString();
}
template <Reading Run::*R> QString readingValue(const Run &run)
{
    return (run.*R).taken() ? csvNumber((run.*R).value) : QString();
}
template <Reading Run::*R> QString readingLow(const Run &run)
{
    return (run.*R).taken() ? csvNumber((run.*R).windowLow) : QString();
}
template <Reading Run::*R> QString readingHigh(const Run &run)
{
    return (run.*R).taken() ? csvNumber((run.*R).windowHigh) : QString();
}
template <Reading Run::*R> QString readingVerdict(const Run &run)
{
    return (run.*R).taken() ? verdictName((run.*R).verdict) : QString();
}

#define ZOLVEX_READING_COLUMNS(prefix, member)                                                     \
    {prefix "_text", readingText<&Run::member>}, {prefix "_value", readingValue<&Run::member>},    \
        {prefix "_window_low", readingLow<&Run::member>},                                          \
        {prefix "_window_high", readingHigh<&Run::member>},                                        \
    {                                                                                              \
        prefix "_verdict", readingVerdict<&Run::member>                                            \
    }

struct CsvColumn {
    const char *name;
    Column value;
};

// The export's columns, header and rows from this one table.
const CsvColumn kCsvColumns[] = {
    {"key", [](const Run &r) { return r.key; }},
    {"revision", [](const Run &r) { return QString::number(r.revision); }},
    {"source", [](const Run &r) { return sourceName(r.source); }},
    {"started", [](const Run &r) { return timeText(r.started); }},
    {"ended", [](const Run &r) { return timeText(r.ended); }},
    {"station", [](const Run &r) { return r.station; }},
    {"sensor_type", [](const Run &r) { return r.sensorType; }},
    {"serial_number", [](const Run &r) { return r.serialNumber; }},
    {"firmware", [](const Run &r) { return r.firmware; }},
    {"range", [](const Run &r) { return r.range; }},
    {"tip", [](const Run &r) { return r.tipKind ? QString::number(r.tipKind) : QString(); }},
    {"unit", [](const Run &r) { return r.unit; }},
    {"old_slope", [](const Run &r) { return r.oldSlope; }},
    {"old_offset", [](const Run &r) { return r.oldOffset; }},
    ZOLVEX_READING_COLUMNS("found_high", foundHigh),
    ZOLVEX_READING_COLUMNS("found_low", foundLow),
    {"mean_counts",
     [](const Run &r) { return r.meanCounts ? csvNumber(*r.meanCounts) : QString(); }},
    {"new_slope", [](const Run &r) { return r.newSlope; }},
    {"new_offset", [](const Run &r) { return r.newOffset; }},
    ZOLVEX_READING_COLUMNS("left_high", leftHigh),
    ZOLVEX_READING_COLUMNS("left_low", leftLow),
    {"outcome", [](const Run &r) { return outcomeName(r.outcome); }},
    {"outcome_detail", [](const Run &r) { return r.outcomeDetail; }},
    {"unsaved_constants",
     [](const Run &r) {
         return r.unsavedConstants ? QStringLiteral("yes") : QStringLiteral("no");
     }},
    {"record_path", [](const Run &r) { return r.recordPath; }},
    {"record_digest", [](const Run &r) { return r.recordDigest; }},
    // Added later, so at the end: scripts reading the columns before keep working.
    {"record_date",
     [](const Run &r) { return r.date.isValid() ? r.date.toString(Qt::ISODate) : QString(); }},
    {"operator", [](const Run &r) { return r.operatorName; }},
    {"recorded_at", [](const Run &r) { return timeText(r.recordedAt); }},
};
#undef ZOLVEX_READING_COLUMNS

struct Name {
    int value;
    const char *name;
};
constexpr Name kVerdicts[] = {
    {static_cast<int>(Verdict::None), "none"},
    {static_cast<int>(Verdict::Pass), "pass"},
    {static_cast<int>(Verdict::Fail), "fail"},
};
constexpr Name kSources[] = {
    {static_cast<int>(Source::Station), "station"},
    {static_cast<int>(Source::Import), "import"},
};

template <size_t N> QString nameOf(const Name (&names)[N], int value)
{
    for (const Name &n : names) {
        if (n.value == value)
            return QLatin1String(n.name);
    }
    return QString();
}

template <size_t N> std::optional<int> valueOf(const Name (&names)[N], const QString &name)
{
    for (const Name &n : names) {
        if (name == QLatin1String(n.name))
            return n.value;
    }
    return std::nullopt;
}
} // namespace

QString verdictName(Verdict verdict)
{
    return nameOf(kVerdicts, static_cast<int>(verdict));
}

std::optional<Verdict> verdictFromName(const QString &name)
{
    const std::optional<int> value = valueOf(kVerdicts, name);
    return value ? std::optional<Verdict>(static_cast<Verdict>(*value)) : std::nullopt;
}

QString sourceName(Source source)
{
    return nameOf(kSources, static_cast<int>(source));
}

std::optional<Source> sourceFromName(const QString &name)
{
    const std::optional<int> value = valueOf(kSources, name);
    return value ? std::optional<Source>(static_cast<Source>(*value)) : std::nullopt;
}

QByteArray toJson(const Run &run)
{
    QJsonObject object{
        {QLatin1String("key"), run.key},
        {QLatin1String("revision"), run.revision},
        {QLatin1String("source"), sourceName(run.source)},
        {QLatin1String("started"), timeText(run.started)},
        {QLatin1String("station"), run.station},
        {QLatin1String("operator"), run.operatorName},
        {QLatin1String("sensorType"), run.sensorType},
        {QLatin1String("serialNumber"), run.serialNumber},
        {QLatin1String("firmware"), run.firmware},
        {QLatin1String("range"), run.range},
        {QLatin1String("tipKind"), run.tipKind},
        {QLatin1String("unit"), run.unit},
        {QLatin1String("oldSlope"), run.oldSlope},
        {QLatin1String("oldOffset"), run.oldOffset},
        {QLatin1String("foundHigh"), readingObject(run.foundHigh)},
        {QLatin1String("foundLow"), readingObject(run.foundLow)},
        {QLatin1String("newSlope"), run.newSlope},
        {QLatin1String("newOffset"), run.newOffset},
        {QLatin1String("leftHigh"), readingObject(run.leftHigh)},
        {QLatin1String("leftLow"), readingObject(run.leftLow)},
        {QLatin1String("outcome"), outcomeName(run.outcome)},
        {QLatin1String("outcomeDetail"), run.outcomeDetail},
        {QLatin1String("unsavedConstants"), run.unsavedConstants},
        {QLatin1String("recordPath"), run.recordPath},
        {QLatin1String("recordDigest"), run.recordDigest},
    };
    if (run.ended.isValid())
        object.insert(QLatin1String("ended"), timeText(run.ended));
    if (run.date.isValid())
        object.insert(QLatin1String("date"), run.date.toString(Qt::ISODate));
    if (run.meanCounts)
        object.insert(QLatin1String("meanCounts"), numberValue(*run.meanCounts));
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool fromJson(const QByteArray &json, Run *run)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();

    // What makes an object a run: its key, revision and outcome.
    Fields fields(object);
    Run parsed;
    fields.text("key", &parsed.key);
    fields.integer("revision", &parsed.revision);
    QString outcome;
    fields.text("outcome", &outcome);
    if (!fields.ok() || parsed.key.isEmpty() || !fields.has("revision") || parsed.revision < 0)
        return false;
    const std::optional<Outcome> knownOutcome = outcomeFromName(outcome);
    if (!knownOutcome)
        return false;
    parsed.outcome = *knownOutcome;

    QString source;
    fields.text("source", &source);
    if (!source.isEmpty()) {
        const std::optional<Source> knownSource = sourceFromName(source);
        if (!knownSource)
            return false;
        parsed.source = *knownSource;
    }
    fields.time("started", &parsed.started);
    fields.time("ended", &parsed.ended);
    fields.text("station", &parsed.station);
    fields.text("operator", &parsed.operatorName);
    QString date;
    fields.text("date", &date);
    if (!date.isEmpty()) {
        parsed.date = QDate::fromString(date, Qt::ISODate);
        if (!parsed.date.isValid())
            return false;
    }
    fields.text("sensorType", &parsed.sensorType);
    fields.text("serialNumber", &parsed.serialNumber);
    fields.text("firmware", &parsed.firmware);
    fields.text("range", &parsed.range);
    fields.integer("tipKind", &parsed.tipKind);
    fields.text("unit", &parsed.unit);
    fields.text("oldSlope", &parsed.oldSlope);
    fields.text("oldOffset", &parsed.oldOffset);
    fields.reading("foundHigh", &parsed.foundHigh);
    fields.reading("foundLow", &parsed.foundLow);
    if (fields.has("meanCounts")) {
        double mean = 0;
        fields.number("meanCounts", &mean);
        parsed.meanCounts = mean;
    }
    fields.text("newSlope", &parsed.newSlope);
    fields.text("newOffset", &parsed.newOffset);
    fields.reading("leftHigh", &parsed.leftHigh);
    fields.reading("leftLow", &parsed.leftLow);
    fields.text("outcomeDetail", &parsed.outcomeDetail);
    fields.boolean("unsavedConstants", &parsed.unsavedConstants);
    fields.text("recordPath", &parsed.recordPath);
    fields.text("recordDigest", &parsed.recordDigest);
    if (!fields.ok())
        return false;
    *run = parsed;
    return true;
}

QByteArray csvHeader()
{
    QByteArray line(kCsvByteOrderMark);
    for (const CsvColumn &column : kCsvColumns) {
        if (line.size() > qsizetype(sizeof kCsvByteOrderMark - 1))
            line += ',';
        line += column.name;
    }
    return line + "\r\n";
}

QByteArray csvRow(const Run &run)
{
    QByteArray line;
    bool first = true;
    for (const CsvColumn &column : kCsvColumns) {
        if (!first)
            line += ',';
        first = false;
        line += csvField(column.value(run));
    }
    return line + "\r\n";
}

QByteArray toCsv(const QList<Run> &runs)
{
    QByteArray csv = csvHeader();
    for (const Run &run : runs)
        csv += csvRow(run);
    return csv;
}

} // namespace history
