#include "core/history/runformat.h"

#include "core/history/runfields.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QPair>
#include <QRegularExpression>

#include <cmath>
#include <iterator>
#include <limits>
#include <string_view>

namespace history
{

namespace
{
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

// A reading's keys in its JSON object.
constexpr char kReadingText[] = "text";
constexpr char kReadingValue[] = "value";
constexpr char kReadingLow[] = "windowLow";
constexpr char kReadingHigh[] = "windowHigh";
constexpr char kReadingVerdict[] = "verdict";

QJsonObject readingObject(const Reading &reading)
{
    return QJsonObject{
        {QLatin1String(kReadingText), reading.text},
        {QLatin1String(kReadingValue), numberValue(reading.value)},
        {QLatin1String(kReadingLow), numberValue(reading.windowLow)},
        {QLatin1String(kReadingHigh), numberValue(reading.windowHigh)},
        {QLatin1String(kReadingVerdict), verdictName(reading.verdict)},
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
        fields.text(kReadingText, &out->text);
        fields.number(kReadingValue, &out->value);
        fields.number(kReadingLow, &out->windowLow);
        fields.number(kReadingHigh, &out->windowHigh);
        QString verdict;
        fields.text(kReadingVerdict, &verdict);
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

// A spreadsheet takes a cell whose first visible character is one of these
// (or its full-width or small form) as a formula, and drops a leading tab or
// carriage return: such a text gets kCsvTextMarker first.
constexpr char kFormulaStarts[] = "=+-@";
constexpr char kDroppedStarts[] = "\t\r";

// Blanks and characters that show nothing (zero-width space, word joiner,
// byte order mark, ...), which a spreadsheet may skip before a formula.
bool unseen(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Format;
}

bool startsFormula(const QString &text)
{
    if (text.isEmpty())
        return false;
    if (QLatin1String(kDroppedStarts).contains(text.front()))
        return true;
    for (const QChar c : text) {
        if (unseen(c))
            continue;
        // Compatibility decomposition makes U+FF1D and U+FE66 the '=' they show.
        const QString plain = QString(c).normalized(QString::NormalizationForm_KC);
        return plain.size() == 1 && QLatin1String(kFormulaStarts).contains(plain.front());
    }
    return false;
}

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
    if (startsFormula(text) && !isPlainNumber(text))
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

// The export's words for a flag.
const QLatin1String kCsvYes("yes");
const QLatin1String kCsvNo("no");

// One field's cells in the export; a reading never taken leaves its five
// empty.
QStringList csvCells(const RunField &field, const Run &run)
{
    switch (field.kind) {
    case FieldKind::Text:
        return {run.*field.text};
    case FieldKind::Integer: {
        const int value = run.*field.integer;
        return {value == 0 && field.has(kBlankWhenZero) ? QString() : QString::number(value)};
    }
    case FieldKind::Number:
        return {run.*field.number ? csvNumber(*(run.*field.number)) : QString()};
    case FieldKind::Reading: {
        const Reading &reading = run.*field.reading;
        // The as-left columns hold the state the sensor kept; verification
        // readings of constants put back go to kCsvNotKeptColumn.
        const bool notKept = (field.reading == &Run::leftHigh || field.reading == &Run::leftLow) &&
                             !verificationHeld(run);
        if (!reading.taken() || notKept)
            return QStringList(std::size(kReadingSuffixes), QString());
        return {reading.text, csvNumber(reading.value), csvNumber(reading.windowLow),
                csvNumber(reading.windowHigh), verdictName(reading.verdict)};
    }
    case FieldKind::Time: {
        const QDateTime &time = run.*field.time;
        return {time.isValid() ? time.toLocalTime().toString(QLatin1String(kCsvLocalTimeFormat))
                               : QString()};
    }
    case FieldKind::Date:
        return {(run.*field.date).isValid() ? (run.*field.date).toString(Qt::ISODate) : QString()};
    case FieldKind::Flag:
        return {run.*field.flag ? kCsvYes : kCsvNo};
    case FieldKind::Source:
        return {sourceName(run.*field.source)};
    case FieldKind::Outcome:
        return {shownOutcomeText(run)};
    }
    return {};
}

// The stable columns after every field's: a time's or the outcome's column
// name with its cell for scripts; none for other fields.
std::optional<QPair<QString, QString>> csvScriptCell(const RunField &field, const Run &run)
{
    if (field.kind == FieldKind::Time)
        return qMakePair(QLatin1String(field.csv) + QLatin1String(kCsvUtcSuffix),
                         timeText(run.*field.time));
    if (field.kind == FieldKind::Outcome)
        return qMakePair(QString::fromLatin1(kCsvOutcomeNameColumn), shownOutcomeName(run));
    return std::nullopt;
}

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
    QJsonObject object;
    for (const RunField &field : runFields()) {
        if (!field.json)
            continue;
        const QLatin1String key(field.json);
        switch (field.kind) {
        case FieldKind::Text:
            if (!field.has(kWhenSet) || !(run.*field.text).isEmpty())
                object.insert(key, run.*field.text);
            break;
        case FieldKind::Integer:
            object.insert(key, run.*field.integer);
            break;
        case FieldKind::Number:
            if (run.*field.number)
                object.insert(key, numberValue(*(run.*field.number)));
            break;
        case FieldKind::Reading:
            object.insert(key, readingObject(run.*field.reading));
            break;
        case FieldKind::Time:
            if (!field.has(kWhenSet) || (run.*field.time).isValid())
                object.insert(key, timeText(run.*field.time));
            break;
        case FieldKind::Date:
            if ((run.*field.date).isValid())
                object.insert(key, (run.*field.date).toString(Qt::ISODate));
            break;
        case FieldKind::Flag:
            object.insert(key, run.*field.flag);
            break;
        case FieldKind::Source:
            object.insert(key, sourceName(run.*field.source));
            break;
        case FieldKind::Outcome:
            object.insert(key, outcomeName(run.*field.outcome));
            break;
        }
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

namespace
{
// A name (a source, an outcome) read into *out; empty keeps the default
// unless the field is required; false for a name not known.
template <typename T>
bool readName(Fields &fields, const RunField &field, std::optional<T> (*fromName)(const QString &),
              T *out)
{
    QString name;
    fields.text(field.json, &name);
    if (name.isEmpty() && !field.has(kRequired))
        return true;
    const std::optional<T> known = fromName(name);
    if (known)
        *out = *known;
    return known.has_value();
}

// One field from the object into *run; false when its value makes the
// object no run (a wrong type is noted in fields).
bool readField(Fields &fields, const RunField &field, Run *run)
{
    const char *key = field.json;
    switch (field.kind) {
    case FieldKind::Text:
        fields.text(key, &(run->*field.text));
        return !field.has(kRequired) || !(run->*field.text).isEmpty();
    case FieldKind::Integer:
        if (field.has(kRequired) && !fields.has(key))
            return false;
        fields.integer(key, &(run->*field.integer));
        return !field.has(kRequired) || run->*field.integer >= 0;
    case FieldKind::Number:
        if (fields.has(key)) {
            double value = 0;
            fields.number(key, &value);
            run->*field.number = value;
        }
        return true;
    case FieldKind::Reading:
        fields.reading(key, &(run->*field.reading));
        return true;
    case FieldKind::Time:
        fields.time(key, &(run->*field.time));
        return true;
    case FieldKind::Date: {
        QString text;
        fields.text(key, &text);
        if (text.isEmpty())
            return true;
        run->*field.date = QDate::fromString(text, Qt::ISODate);
        return (run->*field.date).isValid();
    }
    case FieldKind::Flag:
        fields.boolean(key, &(run->*field.flag));
        return true;
    case FieldKind::Source:
        return readName(fields, field, &sourceFromName, &(run->*field.source));
    case FieldKind::Outcome:
        return readName(fields, field, &outcomeFromName, &(run->*field.outcome));
    }
    return false;
}
} // namespace

bool fromJson(const QByteArray &json, Run *run)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;

    // What makes an object a run: the required fields (its key, revision
    // and outcome), and every field present of its type.
    Fields fields(document.object());
    Run parsed;
    for (const RunField &field : runFields()) {
        if (field.json && !readField(fields, field, &parsed))
            return false;
    }
    if (!fields.ok())
        return false;
    *run = parsed;
    return true;
}

QByteArray csvHeader()
{
    QByteArray line(kCsvByteOrderMark);
    for (const RunField &field : runFields()) {
        if (field.has(kExportedLast))
            continue;
        for (const QString &name : field.csvColumns()) {
            if (line.size() > qsizetype(sizeof kCsvByteOrderMark - 1))
                line += ',';
            line += name.toUtf8();
        }
    }
    for (const RunField &field : runFields()) {
        if (const auto script = csvScriptCell(field, Run()))
            line += ',' + script->first.toUtf8();
    }
    line += ',' + QByteArray(kCsvNotKeptColumn);
    for (const RunField &field : runFields()) {
        if (field.has(kExportedLast))
            line += ',' + field.csvColumns().join(u',').toUtf8();
    }
    return line + ',' + kCsvStandardFindingColumn + "\r\n";
}

QByteArray csvRow(const Run &run, const QString &standardFinding)
{
    QByteArray line;
    bool first = true;
    for (const RunField &field : runFields()) {
        if (field.has(kExportedLast))
            continue;
        for (const QString &cell : csvCells(field, run)) {
            if (!first)
                line += ',';
            first = false;
            line += csvField(cell);
        }
    }
    for (const RunField &field : runFields()) {
        if (const auto script = csvScriptCell(field, run))
            line += ',' + csvField(script->second);
    }
    line += ',' + csvField(verificationNotKept(run));
    for (const RunField &field : runFields()) {
        if (!field.has(kExportedLast))
            continue;
        for (const QString &cell : csvCells(field, run))
            line += ',' + csvField(cell);
    }
    return line + ',' + csvField(standardFinding) + "\r\n";
}

QByteArray toCsv(const QList<Run> &runs, const std::function<QString(const Run &)> &finding)
{
    QByteArray csv = csvHeader();
    for (const Run &run : runs)
        csv += csvRow(run, finding ? finding(run) : QString());
    return csv;
}

QByteArray csvCell(const QString &text)
{
    return csvField(text);
}

} // namespace history
