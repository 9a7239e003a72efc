// A run as text: the JSON of the pending files and the CSV export.

#include "core/history/csvfile.h"
#include "core/history/register.h"
#include "core/history/runfields.h"
#include "core/history/runfilter.h"
#include "core/history/runformat.h"
#include "core/history/runrow.h"
#include "core/history/store.h"
#include "tests/support/historydatabases.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cmath>
#include <limits>

using history::FieldKind;
using history::Run;
using history::RunField;
Q_DECLARE_METATYPE(history::Run)

namespace
{
// Reads RFC 4180 text independently of the product: records end in CR LF,
// quoted fields may hold anything, a doubled quote is a quote. Empty on any
// breach of the rules.
QList<QStringList> parseCsv(const QByteArray &bytes)
{
    QList<QStringList> records;
    QStringList record;
    QByteArray field;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes.at(i + 1) == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            if (!field.isEmpty() || wasQuoted)
                return {};
            quoted = wasQuoted = true;
        } else if (c == ',') {
            record << QString::fromUtf8(field);
            field.clear();
            wasQuoted = false;
        } else if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') {
            record << QString::fromUtf8(field);
            records << record;
            record.clear();
            field.clear();
            wasQuoted = false;
            ++i;
        } else if (c == '\r' || c == '\n' || wasQuoted) {
            return {}; // a bare line end, or text after a closing quote
        } else {
            field += c;
        }
    }
    if (quoted || !field.isEmpty() || !record.isEmpty())
        return {}; // the last record lacks its CR LF
    return records;
}

Run minimalRun()
{
    Run run;
    run.key = "k";
    return run;
}

Run nonFiniteRun()
{
    Run run = historytest::sampleRun(7);
    run.foundHigh.value = std::numeric_limits<double>::quiet_NaN();
    run.foundHigh.windowHigh = std::numeric_limits<double>::infinity();
    run.foundLow.windowLow = -std::numeric_limits<double>::infinity();
    run.meanCounts = std::numeric_limits<double>::quiet_NaN();
    return run;
}

// sampleRun(1) as a pending file of the previous version had it: the keys,
// their types and the formatting that files waiting on disk still carry.
const char kFrozenPendingRun[] =
    "{\n"
    "    \"date\": \"2026-03-02\",\n"
    "    \"ended\": \"2026-03-02T08:31:31.125Z\",\n"
    "    \"firmware\": \"Version 2.11\",\n"
    "    \"foundHigh\": {\n"
    "        \"text\": \"605.3\",\n"
    "        \"value\": 605.25,\n"
    "        \"verdict\": \"fail\",\n"
    "        \"windowHigh\": 550,\n"
    "        \"windowLow\": 500\n"
    "    },\n"
    "    \"foundLow\": {\n"
    "        \"text\": \"231.5\",\n"
    "        \"value\": 231.5,\n"
    "        \"verdict\": \"fail\",\n"
    "        \"windowHigh\": 210,\n"
    "        \"windowLow\": 190\n"
    "    },\n"
    "    \"key\": \"{6a1f0c2e-0001-4c55-9d1e-3b7a51c2e9f0}\",\n"
    "    \"leftHigh\": {\n"
    "        \"text\": \"525.8\",\n"
    "        \"value\": 525.75,\n"
    "        \"verdict\": \"pass\",\n"
    "        \"windowHigh\": 550,\n"
    "        \"windowLow\": 500\n"
    "    },\n"
    "    \"leftLow\": {\n"
    "        \"text\": \"200.1\",\n"
    "        \"value\": 200.125,\n"
    "        \"verdict\": \"pass\",\n"
    "        \"windowHigh\": 210,\n"
    "        \"windowLow\": 190\n"
    "    },\n"
    "    \"meanCounts\": 201235.5,\n"
    "    \"newOffset\": \"0.01201\",\n"
    "    \"newSlope\": \"0.8691\",\n"
    "    \"oldOffset\": \"-0.01\",\n"
    "    \"oldSlope\": \"1.01\",\n"
    "    \"operator\": \"tech1\",\n"
    "    \"outcome\": \"recalibrated\",\n"
    "    \"outcomeDetail\": \"step \\\"1\\\", then\\r\\nretry; O'Brien — Übung\",\n"
    "    \"range\": \"2000\",\n"
    "    \"recordDigest\": \"1111111111111111111111111111111111111111111111111111111111111111\",\n"
    "    \"recordPath\": \"/home/tech/records/40317 1, copy.txt\",\n"
    "    \"revision\": 3,\n"
    "    \"sensorType\": \"RT-5K-MQ\",\n"
    "    \"serialNumber\": \"40317-00001\",\n"
    "    \"source\": \"import\",\n"
    "    \"started\": \"2026-03-02T08:16:30.125Z\",\n"
    "    \"station\": \"bench-1.orvane.example\",\n"
    "    \"tipKind\": 2,\n"
    "    \"unit\": \"pS/cm\",\n"
    "    \"unsavedConstants\": false\n"
    "}\n";

// The field `index` of the table with another value than in `run`, by its
// kind alone: no knowledge of which field it is.
Run withFieldChanged(Run run, const RunField &field)
{
    switch (field.kind) {
    case FieldKind::Text:
        run.*field.text += QStringLiteral("·changed");
        break;
    case FieldKind::Integer:
        run.*field.integer += 1;
        break;
    case FieldKind::Number:
        run.*field.number = (run.*field.number).value_or(0) + 1.5;
        break;
    case FieldKind::Reading:
        (run.*field.reading).text += QStringLiteral("9");
        (run.*field.reading).value += 1;
        break;
    case FieldKind::Time:
        run.*field.time = (run.*field.time).isValid()
                              ? (run.*field.time).addSecs(61)
                              : QDateTime(QDate(2026, 4, 1), QTime(9, 0), Qt::UTC);
        break;
    case FieldKind::Date:
        run.*field.date =
            (run.*field.date).isValid() ? (run.*field.date).addDays(-1) : QDate(2026, 4, 1);
        break;
    case FieldKind::Flag:
        run.*field.flag = !(run.*field.flag);
        break;
    case FieldKind::Source:
        run.*field.source = run.*field.source == history::Source::Import ? history::Source::Station
                                                                         : history::Source::Import;
        break;
    case FieldKind::Outcome:
        run.*field.outcome = run.*field.outcome == history::Outcome::Cancelled
                                 ? history::Outcome::LinkLost
                                 : history::Outcome::Cancelled;
        break;
    }
    return run;
}

// Whether the field holds something in `run` (another value than a run
// just made has).
bool fieldSet(const Run &run, const RunField &field)
{
    const Run blank;
    switch (field.kind) {
    case FieldKind::Text:
        return !(run.*field.text).isEmpty();
    case FieldKind::Integer:
        return run.*field.integer != 0;
    case FieldKind::Number:
        return (run.*field.number).has_value();
    case FieldKind::Reading:
        return (run.*field.reading).taken();
    case FieldKind::Time:
        return (run.*field.time).isValid();
    case FieldKind::Date:
        return (run.*field.date).isValid();
    case FieldKind::Flag:
        return run.*field.flag != blank.*field.flag;
    case FieldKind::Source:
        return run.*field.source != blank.*field.source;
    case FieldKind::Outcome:
        return run.*field.outcome != blank.*field.outcome;
    }
    return false;
}

// The names between "(" and ")" of an INSERT, or between SELECT and FROM.
QStringList sqlColumns(const QString &sql, const QString &open, const QString &close)
{
    const qsizetype from = sql.indexOf(open) + open.size();
    return sql.mid(from, sql.indexOf(close, from) - from).split(u',');
}
} // namespace

class TestHistoryFormat : public QObject
{
    Q_OBJECT

private slots:
    void jsonRoundTrip_data();
    void jsonRoundTrip();
    void jsonToleratesUnknownFields();
    void jsonRefusesNonRuns_data();
    void jsonRefusesNonRuns();
    void csvQuoting_data();
    void csvQuoting();
    void csvExport();
    void csvFormulasMarked_data();
    void csvFormulasMarked();
    void csvNumbersStayNumbers();
    void csvStartsWithByteOrderMark();
    void fieldInEveryPlace_data();
    void fieldInEveryPlace();
    void frozenPendingRunReads();
    void everyFieldRoundTrip_data();
    void everyFieldRoundTrip();
    void runFilter_data();
    void runFilter();
    void standardFindings_data();
    void standardFindings();
};

void TestHistoryFormat::jsonRoundTrip_data()
{
    QTest::addColumn<Run>("run");

    QTest::newRow("every field set") << historytest::sampleRun(1);
    QTest::newRow("an import") << historytest::sampleRun(2);
    QTest::newRow("only a key") << minimalRun();
    Run running = historytest::sampleRun(3);
    running.ended = QDateTime();
    running.meanCounts.reset();
    running.leftHigh = history::Reading();
    running.leftLow = history::Reading();
    running.outcome = history::Outcome::Interrupted;
    QTest::newRow("still running") << running;
    Run zeroMean = historytest::sampleRun(4);
    zeroMean.meanCounts = 0.0;
    QTest::newRow("a mean of zero is a mean") << zeroMean;
    QTest::newRow("NaN and infinities") << nonFiniteRun();
    Run local = historytest::sampleRun(5);
    local.started = QDateTime(QDate(2026, 7, 1), QTime(23, 30), Qt::OffsetFromUTC, 2 * 3600);
    QTest::newRow("a start given with an offset") << local;
}

void TestHistoryFormat::jsonRoundTrip()
{
    QFETCH(Run, run);
    const QByteArray json = history::toJson(run);
    QVERIFY(QJsonDocument::fromJson(json).isObject());
    Run back;
    QVERIFY2(history::fromJson(json, &back), json.constData());
    const QString difference = historytest::runDifference(run, back);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QVERIFY(!back.started.isValid() || back.started.timeSpec() == Qt::UTC);
}

// A pending file written by a newer ZOLVEX carries fields this one does not
// know; the run in it is still written.
void TestHistoryFormat::jsonToleratesUnknownFields()
{
    const Run run = historytest::sampleRun(9);
    QJsonObject object = QJsonDocument::fromJson(history::toJson(run)).object();
    object.insert("operatorBadge", "A-17");
    object.insert("error", "database is locked");
    QJsonObject high = object.value("foundHigh").toObject();
    high.insert("temperature", 21.5);
    object.insert("foundHigh", high);
    Run back;
    QVERIFY(history::fromJson(QJsonDocument(object).toJson(), &back));
    const QString difference = historytest::runDifference(run, back);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestHistoryFormat::jsonRefusesNonRuns_data()
{
    QTest::addColumn<QByteArray>("json");

    const QJsonObject good =
        QJsonDocument::fromJson(history::toJson(historytest::sampleRun(3))).object();
    const auto changed = [&](const char *field, const QJsonValue &value) {
        QJsonObject object = good;
        if (value.isUndefined())
            object.remove(field);
        else
            object.insert(field, value);
        return QJsonDocument(object).toJson();
    };
    QTest::newRow("not JSON") << QByteArray("{\"key\": \"k\", ");
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("an array") << QByteArray("[{\"key\": \"k\"}]");
    QTest::newRow("an empty object") << QByteArray("{}");
    QTest::newRow("another program's settings") << QByteArray("{\"theme\": \"dark\", \"size\": 3}");
    QTest::newRow("no key") << changed("key", QJsonValue::Undefined);
    QTest::newRow("empty key") << changed("key", "");
    QTest::newRow("key a number") << changed("key", 17);
    QTest::newRow("no revision") << changed("revision", QJsonValue::Undefined);
    QTest::newRow("revision as text") << changed("revision", "3");
    QTest::newRow("revision a fraction") << changed("revision", 2.5);
    QTest::newRow("revision negative") << changed("revision", -1);
    QTest::newRow("no outcome") << changed("outcome", QJsonValue::Undefined);
    QTest::newRow("unknown outcome") << changed("outcome", "exploded");
    QTest::newRow("unknown source") << changed("source", "fax");
    QTest::newRow("start a number") << changed("started", 1733500000);
    QTest::newRow("start not a time") << changed("started", "yesterday");
    QTest::newRow("tip as text") << changed("tipKind", "2");
    QTest::newRow("reading as text") << changed("foundHigh", "604.2");
    QTest::newRow("unknown verdict")
        << changed("leftLow", QJsonObject{{"text", "199.1"}, {"verdict", "maybe"}});
    QTest::newRow("reading value as a word")
        << changed("leftLow", QJsonObject{{"text", "199.1"}, {"value", "lots"}});
    QTest::newRow("unsaved as text") << changed("unsavedConstants", "yes");
    QTest::newRow("mean as text") << changed("meanCounts", "201234");
}

void TestHistoryFormat::jsonRefusesNonRuns()
{
    QFETCH(QByteArray, json);
    Run run = historytest::sampleRun(11);
    const Run before = run;
    QVERIFY(!history::fromJson(json, &run));
    QVERIFY(historytest::runDifference(before, run).isEmpty());
}

void TestHistoryFormat::csvQuoting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("field");

    QTest::newRow("plain") << "bench-1" << QByteArray("bench-1");
    QTest::newRow("empty") << "" << QByteArray("");
    QTest::newRow("blanks kept, unquoted") << " bench 1 " << QByteArray(" bench 1 ");
    QTest::newRow("comma") << "bench,1" << QByteArray("\"bench,1\"");
    QTest::newRow("quote") << "the \"east\" bench" << QByteArray("\"the \"\"east\"\" bench\"");
    QTest::newRow("only a quote") << "\"" << QByteArray("\"\"\"\"");
    QTest::newRow("line feed") << "a\nb" << QByteArray("\"a\nb\"");
    QTest::newRow("carriage return") << "a\rb" << QByteArray("\"a\rb\"");
    QTest::newRow("CR LF") << "a\r\nb" << QByteArray("\"a\r\nb\"");
    QTest::newRow("semicolon needs nothing") << "a;b" << QByteArray("a;b");
    QTest::newRow("UTF-8") << "Prüfstand Süd"
                           << QByteArray("Pr\xc3\xbc"
                                         "fstand S\xc3\xbc"
                                         "d");
}

void TestHistoryFormat::csvQuoting()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, field);
    Run run = historytest::sampleRun(1);
    run.station = text;
    // The station's column lies between the end and the sensor type.
    const QByteArray row = history::csvRow(run);
    const QByteArray around = history::toCsv({run}).mid(history::csvHeader().size());
    QCOMPARE(around, row);
    QVERIFY2(row.contains("," + field + "," + run.sensorType.toUtf8() + ","), row.constData());
    const QList<QStringList> records = parseCsv(row);
    QCOMPARE(records.size(), 1);
    QVERIFY(records.first().contains(text));
}

void TestHistoryFormat::csvExport()
{
    Run notTaken = historytest::sampleRun(4);
    notTaken.leftHigh = history::Reading();
    notTaken.meanCounts.reset();
    notTaken.ended = QDateTime();
    Run putBack = historytest::sampleRun(5);
    putBack.outcome = history::Outcome::RecalibrationAbandoned;
    const QList<Run> runs{historytest::sampleRun(1), historytest::sampleRun(2), notTaken,
                          nonFiniteRun(), putBack};
    const QByteArray csv = history::toCsv(runs);
    QVERIFY(csv.endsWith("\r\n"));
    const QList<QStringList> records = parseCsv(csv);
    QCOMPARE(records.size(), 1 + runs.size());
    const QStringList header = records.first();
    QCOMPARE(QSet<QString>(header.begin(), header.end()).size(), header.size());

    const auto cell = [&](int row, const char *column) {
        const int at = header.indexOf(column);
        return at < 0 ? QStringLiteral("<no column %1>").arg(column) : records.at(row + 1).at(at);
    };
    for (int i = 0; i < runs.size(); ++i) {
        QCOMPARE(records.at(i + 1).size(), header.size());
        const Run &run = runs.at(i);
        QCOMPARE(cell(i, "key"), run.key);
        QCOMPARE(cell(i, "serial_number"), run.serialNumber);
        // A date a spreadsheet reads, in local time, and the window's words;
        // UTC to the millisecond and the stable name at the end, for scripts.
        QCOMPARE(cell(i, "started"), run.started.toLocalTime().toString("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(cell(i, "started_utc"), run.started.toUTC().toString(Qt::ISODateWithMs));
        QCOMPARE(cell(i, "outcome"), history::outcomeText(run.outcome));
        QCOMPARE(cell(i, "outcome_name"), history::outcomeName(run.outcome));
        QCOMPARE(cell(i, "outcome_detail"), run.outcomeDetail);
        QCOMPARE(cell(i, "found_low_value").toDouble(), run.foundLow.value);
        QCOMPARE(cell(i, "found_low_window_high").toDouble(), run.foundLow.windowHigh);
        QCOMPARE(cell(i, "found_low_verdict"), QString("fail"));
    }
    QCOMPARE(cell(0, "left_high_verdict"), QString("pass"));
    QCOMPARE(cell(0, "mean_counts").toDouble(), *runs.at(0).meanCounts);
    QCOMPARE(cell(0, "source"), QString("import"));
    QCOMPARE(cell(1, "source"), QString("station"));
    // Nothing taken, nothing shown; no mean, no end: empty cells.
    for (const char *column :
         {"left_high_text", "left_high_value", "left_high_window_low", "left_high_window_high",
          "left_high_verdict", "mean_counts", "ended", "ended_utc"})
        QCOMPARE(cell(2, column), QString());
    QVERIFY(std::isnan(cell(3, "found_high_value").toDouble()) ||
            cell(3, "found_high_value").compare("nan", Qt::CaseInsensitive) == 0);
    QCOMPARE(cell(3, "found_high_window_high").toDouble(), std::numeric_limits<double>::infinity());
    // Verification readings of constants put back are no as-left state:
    // apart, in the last column, labelled.
    for (const char *column : {"left_high_text", "left_high_verdict", "left_low_value"})
        QCOMPARE(cell(4, column), QString());
    QCOMPARE(cell(4, "verification_not_kept"), "Verification with constants put back: high " +
                                                   putBack.leftHigh.text + " (pass), low " +
                                                   putBack.leftLow.text + " (pass)");
}

void TestHistoryFormat::csvFormulasMarked_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("field");

    const auto row = [](const char *name, const char *column, const QString &text,
                        const QByteArray &field) {
        QTest::newRow(name) << QString(column) << text << field;
    };
    row("equals", "station", "=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\"");
    row("plus", "station", "+1+1", "'+1+1");
    row("minus and a cell", "station", "-1+A1", "'-1+A1");
    row("at", "station", "@SUM(A1:A9)", "'@SUM(A1:A9)");
    row("tab", "station", "\tbench", "'\tbench");
    row("carriage return, quoted", "station", "\rbench", "\"'\rbench\"");
    row("equals and a comma", "station", "=1,2", "\"'=1,2\"");
    row("a minus alone", "station", "-", "'-");
    row("minus, blank, number", "station", "- 12", "'- 12");
    row("a number with a blank after", "station", "-12.5 ", "'-12.5 ");
    row("equals later is harmless", "station", "a=b", "a=b");
    row("negative number text", "station", "-12.5", "-12.5");
    row("negative slope", "old_slope", "-0.00123", "-0.00123");
    row("signed slope", "old_slope", "+0.0025", "+0.0025");
    row("exponent", "old_slope", "-1.5e-05", "-1.5e-05");
    row("no digit before the point", "old_slope", "-.5", "-.5");
    row("formula in a constant", "old_slope", "-2+cmd|' /C calc'!A0", "'-2+cmd|' /C calc'!A0");
    row("number then a line feed", "old_slope", "-1\n", "\"'-1\n\"");
    row("blanks, then minus", "station", "  -1+A1", "'  -1+A1");
    row("full-width equals", "station", QStringLiteral("\uFF1D1"),
        "'\xEF\xBC\x9D"
        "1");
    row("invisible, then full-width at", "station",
        QStringLiteral("\u200B\uFEFF\u2060\u3000\uFF20x"),
        "'\xE2\x80\x8B\xEF\xBB\xBF\xE2\x81\xA0\xE3\x80\x80\xEF\xBC\xA0x");
}

// Each text written where a spreadsheet would run it as a formula gets a
// leading quote; a plain number never does.
void TestHistoryFormat::csvFormulasMarked()
{
    QFETCH(QString, column);
    QFETCH(QString, text);
    QFETCH(QByteArray, field);
    Run run = historytest::sampleRun(1);
    QByteArray before;
    QByteArray after;
    if (column == "station") {
        run.station = text;
        before = ",";
        after = "," + run.sensorType.toUtf8() + ",";
    } else {
        run.oldSlope = text;
        before = "," + run.unit.toUtf8() + ",";
        after = "," + run.oldOffset.toUtf8() + ",";
    }
    const QByteArray row = history::csvRow(run);
    QVERIFY2(row.contains(before + field + after), row.constData());
    const QList<QStringList> records = parseCsv(row);
    QCOMPARE(records.size(), 1);
}

void TestHistoryFormat::csvNumbersStayNumbers()
{
    Run run = historytest::sampleRun(2);
    run.foundLow.value = -12.5;
    run.foundLow.windowLow = -0.00123;
    run.meanCounts = -3;
    run.oldOffset = "-13.50000";
    run.newOffset = "-12.50000";
    const QByteArray csv = history::toCsv({run});
    const QList<QStringList> records = parseCsv(csv);
    QCOMPARE(records.size(), 2);
    const QStringList header = records.first();
    const auto cell = [&](const char *column) {
        return records.at(1).value(header.indexOf(column));
    };
    QCOMPARE(cell("found_low_value"), QString("-12.5"));
    QCOMPARE(cell("found_low_window_low"), QString("-0.00123"));
    QCOMPARE(cell("mean_counts"), QString("-3"));
    QCOMPARE(cell("old_offset"), QString("-13.50000"));
    QCOMPARE(cell("new_offset"), QString("-12.50000"));
    QVERIFY2(!csv.contains(",'"), csv.constData());
}

void TestHistoryFormat::csvStartsWithByteOrderMark()
{
    const QByteArray bom("\xEF\xBB\xBF");
    const QList<Run> runs{historytest::sampleRun(1), historytest::sampleRun(2)};
    const QByteArray csv = history::toCsv(runs);
    QVERIFY2(csv.startsWith(bom + "key,revision,"), csv.left(20).toHex().constData());
    QCOMPARE(csv.count(bom), 1);
    QVERIFY(!history::csvRow(runs.first()).contains(bom));
    QVERIFY(history::toCsv({}).startsWith(bom + "key,"));
    QCOMPARE(history::toCsv({}).count("\r\n"), 1);

    // The file as written, byte for byte.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("runs.csv");
    QString error;
    QVERIFY2(history::writeCsvFile(runs, path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), csv);
}

void TestHistoryFormat::fieldInEveryPlace_data()
{
    QTest::addColumn<int>("index");
    const QList<RunField> &fields = history::runFields();
    for (int i = 0; i < fields.size(); ++i)
        QTest::newRow(fields.at(i).column) << i;
}

void TestHistoryFormat::fieldInEveryPlace()
{
    QFETCH(int, index);
    const RunField &field = history::runFields().at(index);
    const Run run = historytest::sampleRun(1);
    const Run changed = withFieldChanged(run, field);

    // Named in the insert, on both databases, and in the select.
    for (bool sqlite : {true, false}) {
        const QStringList inserted =
            sqlColumns(history::insertRunSql(sqlite), QStringLiteral("("), QStringLiteral(")"));
        for (const QString &column : field.columns())
            QVERIFY2(inserted.contains(column), qPrintable(column));
    }
    const QStringList selected = sqlColumns(history::selectRunSql(QStringLiteral("runs")),
                                            QStringLiteral("SELECT "), QStringLiteral(" FROM"));
    for (const QString &column : field.columns())
        QVERIFY2(selected.contains(column), qPrintable(column));
    QCOMPARE(selected, history::runColumns());

    // Bound with its value, unless the database gives it one.
    const QVariantList values = history::runValues(run);
    QCOMPARE(history::insertRunSql(true).count(u'?'), values.size());
    QCOMPARE(history::runValues(changed) != values, !field.has(history::kByDatabase));

    // Kept in a pending file, under its key, and read back from it.
    const QJsonObject json = QJsonDocument::fromJson(history::toJson(run)).object();
    if (field.json) {
        QVERIFY2(json.contains(QLatin1String(field.json)), field.json);
        QVERIFY(history::toJson(changed) != history::toJson(run));
        Run back;
        QVERIFY(history::fromJson(history::toJson(changed), &back));
        QCOMPARE(history::toJson(back), history::toJson(changed));
    } else {
        QCOMPARE(history::toJson(changed), history::toJson(run));
    }

    // Exported under its column or columns, whose cells change with it.
    const QList<QStringList> csv =
        parseCsv(history::csvHeader().mid(3) + history::csvRow(run) + history::csvRow(changed));
    QCOMPARE(csv.size(), 3);
    const QStringList header = csv.at(0);
    QCOMPARE(csv.at(1).size(), header.size());
    bool cellChanged = false;
    for (const QString &column : field.csvColumns()) {
        const int at = header.indexOf(column);
        QVERIFY2(at >= 0, qPrintable(column));
        cellChanged = cellChanged || csv.at(1).at(at) != csv.at(2).at(at);
    }
    QVERIFY(cellChanged);
}

void TestHistoryFormat::frozenPendingRunReads()
{
    const QByteArray frozen(kFrozenPendingRun);
    Run run;
    QVERIFY(history::fromJson(frozen, &run));
    // Written before runs named their standard: none.
    Run expected = historytest::sampleRun(1);
    expected.standardSerial.clear();
    const QString difference = historytest::runDifference(expected, run);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    // And written the same way, key for key, byte for byte.
    QCOMPARE(history::toJson(run), frozen);
}

void TestHistoryFormat::everyFieldRoundTrip_data()
{
    QTest::addColumn<QString>("database");
    QTest::newRow("SQLite") << "sqlite";
    QTest::newRow("PostgreSQL") << "postgresql";
}

void TestHistoryFormat::everyFieldRoundTrip()
{
    QFETCH(QString, database);
    if (database == "postgresql")
        HISTORY_NEED_POSTGRES();
    historytest::TestDatabase db(database);
    QVERIFY2(db.ok(), qPrintable(db.error()));

    // An import (it has a date) with constants left unsaved.
    Run run = historytest::sampleRun(1);
    run.unsavedConstants = true;
    run.revision = 1; // the history numbers a run's revisions from 1
    for (const RunField &field : history::runFields()) {
        if (!field.has(history::kByDatabase))
            QVERIFY2(fieldSet(run, field), field.column);
    }

    // A pending file, then the database, then the export.
    Run pending;
    QVERIFY(history::fromJson(history::toJson(run), &pending));
    QString error;
    history::Store store(db.location());
    QVERIFY2(store.open(&error), qPrintable(error));
    QVERIFY2(store.write(pending, &error), qPrintable(error));
    const QList<Run> stored = store.revisionsOf(run.key, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(stored.size(), 1);
    const Run back = stored.first();
    for (const RunField &field : history::runFields())
        QVERIFY2(fieldSet(back, field), field.column);
    const QString difference = historytest::runDifference(run, back);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    Run expected = run;
    expected.recordedAt = back.recordedAt;
    expected.recordedBy = back.recordedBy;
    QCOMPARE(history::csvRow(back), history::csvRow(expected));
    const QList<QStringList> csv = parseCsv(history::toCsv({back}).mid(3));
    QCOMPARE(csv.size(), 2);
    QCOMPARE(csv.at(1).at(csv.at(0).indexOf("recorded_at_utc")),
             history::timeText(back.recordedAt));
}

QTEST_GUILESS_MAIN(TestHistoryFormat)
// A run of a local day, station, operator and outcome against each part of
// a filter.
void TestHistoryFormat::runFilter_data()
{
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("operatorName");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<bool>("dateOnly"); // a record's run, known by its date
    QTest::addColumn<bool>("matches");
    const QDate day(2026, 3, 10);
    const auto row = [](const char *name, QDate from, QDate to, const QString &station,
                        const QString &op, const QString &outcome, bool dateOnly, bool matches) {
        QTest::newRow(name) << from << to << station << op << outcome << dateOnly << matches;
    };
    row("nothing asked", {}, {}, {}, {}, {}, false, true);
    row("from its day", day, {}, {}, {}, {}, false, true);
    row("from the day after", day.addDays(1), {}, {}, {}, {}, false, false);
    row("to its day", {}, day, {}, {}, {}, false, true);
    row("to the day before", {}, day.addDays(-1), {}, {}, {}, false, false);
    row("a record, its day", day, day, {}, {}, {}, true, true);
    row("a record, the day after", day.addDays(1), {}, {}, {}, {}, true, false);
    row("its station", {}, {}, "bench-1", {}, {}, false, true);
    row("another station", {}, {}, "bench-2", {}, {}, false, false);
    row("its station in capitals", {}, {}, "BENCH-1", {}, {}, false, false);
    row("its operator", {}, {}, {}, "ana", {}, false, true);
    row("another operator", {}, {}, {}, "an", {}, false, false);
    row("its outcome", {}, {}, {}, {}, "recalibrated", false, true);
    row("another outcome", {}, {}, {}, {}, "validated-date-set", false, false);
    row("all of it", day, day, "bench-1", "ana", "recalibrated", false, true);
    row("all but the day", day.addDays(-2), day.addDays(-1), "bench-1", "ana", "recalibrated",
        false, false);
}

void TestHistoryFormat::runFilter()
{
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QString, station);
    QFETCH(QString, operatorName);
    QFETCH(QString, outcome);
    QFETCH(bool, dateOnly);
    QFETCH(bool, matches);
    history::Run run = historytest::sampleRun(3);
    // Noon UTC: the same local day in any zone a few hours either side.
    run.started = QDateTime(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC);
    run.date = dateOnly ? QDate(2026, 3, 10) : QDate();
    run.station = "bench-1";
    run.operatorName = "ana";
    run.outcome = history::Outcome::Recalibrated;
    history::RunFilter filter;
    filter.from = from;
    filter.to = to;
    filter.station = station;
    filter.operatorName = operatorName;
    if (!outcome.isEmpty())
        filter.outcome = history::outcomeFromName(outcome);
    QCOMPARE(filter.matches(run), matches);
}

// A run judged against the standard in force on its day: the words each
// finding is said in, a serial number never taken for a place to fill.
void TestHistoryFormat::standardFindings_data()
{
    QTest::addColumn<QString>("serial"); // the run's standard
    QTest::addColumn<int>("tipKind");    // the run's
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("none named") << "" << 1 << QStringList();
    QTest::newRow("in order") << "VT-1" << 1 << QStringList();
    QTest::newRow("not registered")
        << "VT-9" << 1 << QStringList{"standard VT-9 is not registered"};
    QTest::newRow("overdue, of another kind")
        << "VT-%3" << 2
        << QStringList{"standard VT-%3 was overdue (due 2026-03-09)",
                       "the procedure used tip kind 2; standard VT-%3 is of kind 1"};
    QTest::newRow("withdrawn before the run")
        << "VT-W" << 1 << QStringList{"standard VT-W was withdrawn"};
}

void TestHistoryFormat::standardFindings()
{
    QFETCH(QString, serial);
    QFETCH(int, tipKind);
    QFETCH(QStringList, texts);
    const QDate day(2026, 3, 10);
    const auto standard = [&](const QString &s, QDate due, bool withdrawn) {
        return history::Standard{
            s, 1, 1, "K-1", day.addYears(-1), due, withdrawn, {{}, {}, day.startOfDay(Qt::UTC)}};
    };
    const QHash<QString, history::Standard> register_{
        {"VT-1", standard("VT-1", day.addDays(1), false)},
        {"VT-%3", standard("VT-%3", day.addDays(-1), false)},
        {"VT-W", standard("VT-W", day.addDays(100), true)}};
    Run run = historytest::sampleRun(1);
    run.started = QDateTime(day, QTime(12, 0));
    run.date = QDate();
    run.standardSerial = serial;
    run.tipKind = tipKind;
    QCOMPARE(history::standardFindingTexts(run, register_), texts);
    QCOMPARE(history::standardFindings(run, register_).any(), !texts.isEmpty());
}

#include "tst_historyformat.moc"
