// The models behind the history window, on a real SQLite history: the sensor
// list with its due dates and overdue marking on a fixed day, its filter and
// sorting, and a sensor's runs with the readings coloured by verdict.

#include "core/history/register.h"
#include "gui/history/runtablemodel.h"
#include "gui/history/sensorfilter.h"
#include "gui/history/sensorlistmodel.h"
#include "tst_historysupport.h"

#include <QBrush>
#include <QFont>
#include <QIcon>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>

#include <cstdlib>
#include <ctime>

using history::Outcome;
using history::Run;
using history::RunTableModel;
using history::SensorFilter;
using history::SensorListModel;
using namespace historytest;

namespace
{

const QDate kToday(2026, 7, 1);

Run cancelled(const QString &serial, const QDate &date)
{
    Run run = validation(serial, date, "512.0", "");
    run.foundLow = history::Reading();
    run.outcome = Outcome::Cancelled;
    run.outcomeDetail = "validation";
    return run;
}

Run ofType(Run run, const QString &type)
{
    run.sensorType = type;
    return run;
}

// What a cell is painted with: "green", "red" or "" for no background.
QString background(const QModelIndex &index)
{
    const QVariant value = index.data(Qt::BackgroundRole);
    if (!value.isValid())
        return QString();
    const QColor color = value.value<QBrush>().color();
    if (color == QColor(Qt::green))
        return "green";
    if (color == QColor(Qt::red))
        return "red";
    return color.name();
}

QStringList column(const QAbstractItemModel &model, int column)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.index(row, column).data().toString();
    return values;
}

} // namespace

class HistoryModelsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sensorList();
    void dueDates_data();
    void dueDates();
    void anotherDayMovesTheMarks();
    void suggestedInterval_data();
    void suggestedInterval();
    void filter_data();
    void filter();
    void sorting_data();
    void sorting();
    void runColumns();
    void readingColours_data();
    void readingColours();
    void sensorMarks_data();
    void sensorMarks();
    void withoutSerialLastEitherWay_data();
    void withoutSerialLastEitherWay();
    void quickOrderIsTheValuesOrder();
};

void HistoryModelsTest::initTestCase()
{
    // The window shows local times; the expected texts are written for UTC.
    qputenv("TZ", "UTC");
    tzset();
}

void HistoryModelsTest::sensorList()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    const Run first = validation("40317-00101", {2026, 1, 10}, "512.0", "201.5");
    QVERIFY2(
        h.write({first,
                 recalibration(validation("40317-00101", {2026, 6, 1}, "600.1", "230.2"),
                               "0.002180", "-10.90000", "524.9", "200.3"),
                 ofType(validation("40317-00202", {2025, 3, 1}, "520.0", "199.0"), "RT-5K-MQ-CM"),
                 ofType(cancelled("40317-00202", {2025, 9, 1}), "RT-5K-MQ-CM"),
                 cancelled("40317-00303", {2026, 2, 2})}),
        qPrintable(h.error()));

    // One run signed: the ended runs nobody signed, counted in one read.
    QVERIFY(history::storeSignature(h.store(), first.key, 1, history::kMeaningReviewed));
    QHash<QString, int> unsignedRuns;
    QVERIFY(history::unsignedRunCounts(h.store(), &unsignedRuns, nullptr));
    SensorListModel model;
    model.setToday(kToday);
    model.setUnsignedRuns(unsignedRuns);
    model.setSensors(h.store().sensors());
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.columnCount(), 7);
    const QStringList headers{"Serial number", "Type",     "Runs",    "Last validation",
                              "Last outcome",  "Next due", "Interval"};
    for (int c = 0; c < headers.size(); ++c)
        QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), headers.at(c));

    const QList<QStringList> expected{
        {"40317-00101", "RT-5K-MQ", "2", "2026-06-01", "Recalibrated and saved", "2027-06-01",
         "365 days", "1"},
        {"40317-00202", "RT-5K-MQ-CM", "2", "2025-03-01", "Cancelled", "2026-03-01, overdue",
         "365 days", "2"},
        {"40317-00303", "RT-5K-MQ", "1", "never", "Cancelled", "2026-07-01, never validated",
         "365 days", "1"},
    };
    for (const QStringList &row : expected) {
        const int r = model.rowOf(row.first(), QString());
        QVERIFY2(r >= 0, qPrintable(row.first()));
        QStringList shown;
        for (int c = 0; c < model.columnCount(); ++c)
            shown << model.index(r, c).data().toString();
        shown << model.index(r, 0).data(SensorListModel::UnsignedRole).toString();
        QCOMPARE(shown, row);
    }
    QCOMPARE(model.overdueCount(), 1);
}

void HistoryModelsTest::dueDates_data()
{
    QTest::addColumn<QDate>("validated"); // invalid: never
    QTest::addColumn<int>("interval");
    QTest::addColumn<QString>("due");
    QTest::addColumn<bool>("late");
    QTest::addColumn<bool>("retired");

    QTest::newRow("within the interval")
        << QDate(2026, 1, 10) << 365 << "2027-01-10" << false << false;
    QTest::newRow("due today") << QDate(2025, 7, 1) << 365 << "2026-07-01" << false << false;
    QTest::newRow("a day late") << QDate(2025, 6, 30) << 365 << "2026-06-30, overdue" << true
                                << false;
    QTest::newRow("a short interval")
        << QDate(2026, 5, 1) << 30 << "2026-05-31, overdue" << true << false;
    QTest::newRow("a long interval") << QDate(2025, 1, 1) << 730 << "2027-01-01" << false << false;
    QTest::newRow("never validated")
        << QDate() << 365 << "2026-07-01, never validated" << false << false;
    QTest::newRow("retired, years late")
        << QDate(2020, 1, 1) << 365 << "Retired: dropped" << false << true;
}

void HistoryModelsTest::dueDates()
{
    QFETCH(QDate, validated);
    QFETCH(int, interval);
    QFETCH(QString, due);
    QFETCH(bool, late);
    QFETCH(bool, retired);

    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    const QString serial = "40317-00404";
    // A later run that does not count keeps the validation's date.
    QVERIFY2(h.write({validated.isValid() ? validation(serial, validated, "510.0", "200.0")
                                          : cancelled(serial, {2025, 12, 24}),
                      cancelled(serial, {2026, 6, 20})}),
             qPrintable(h.error()));

    const QString type = h.store().sensors().value(0).sensorType;
    QVERIFY(history::storeInterval(h.store(), serial, type, interval, "set"));
    QVERIFY(!retired || history::storeSensorState(h.store(), serial, type, true, "dropped"));
    SensorListModel model;
    model.setToday(kToday);
    model.setSensors(h.store().sensors());
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0, SensorListModel::NextDue).data().toString(), due);
    QCOMPARE(model.index(0, SensorListModel::NextDue).data(SensorListModel::SortRole).toDate(),
             QDate::fromString(due.left(10), Qt::ISODate));

    // The whole row is marked: red and bold, and a warning icon by the serial.
    for (int c = 0; c < model.columnCount(); ++c) {
        const QModelIndex index = model.index(0, c);
        QCOMPARE(index.data(SensorListModel::OverdueRole).toBool(), late);
        const QVariant foreground = index.data(Qt::ForegroundRole);
        QCOMPARE(foreground.isValid(), late);
        if (late)
            QCOMPARE(foreground.value<QBrush>().color(), QColor(Qt::red));
        QCOMPARE(index.data(Qt::FontRole).value<QFont>().bold(), late);
    }
    const QVariant icon = model.index(0, SensorListModel::Serial).data(Qt::DecorationRole);
    QCOMPARE(!icon.value<QIcon>().isNull(), late);
    QCOMPARE(model.overdueCount(), late ? 1 : 0);
}

void HistoryModelsTest::anotherDayMovesTheMarks()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QVERIFY2(h.write({validation("40317-00505", {2025, 7, 1}, "510.0", "200.0")}),
             qPrintable(h.error()));
    SensorListModel model;
    model.setToday(kToday);
    model.setSensors(h.store().sensors());
    QVERIFY(!model.isOverdue(0));

    // The views repaint on dataChanged: the next day must send it.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setToday(kToday.addDays(1));
    QCOMPARE(changed.size(), 1);
    QVERIFY(model.isOverdue(0));
    QCOMPARE(model.index(0, SensorListModel::NextDue).data().toString(),
             QString("2026-07-01, overdue"));

    QVERIFY(
        history::storeInterval(h.store(), "40317-00505", model.sensor(0).sensorType, 400, "set"));
    model.setSensors(h.store().sensors());
    QVERIFY(!model.isOverdue(0));
    QCOMPARE(model.index(0, SensorListModel::NextDue).data().toString(), QString("2026-08-05"));
}

void HistoryModelsTest::suggestedInterval_data()
{
    QTest::addColumn<QStringList>("found"); // as-found high/low of each run, oldest first
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("setAfter"); // runs before the interval was set; -1: never set
    QTest::addColumn<int>("suggested");

    const QString margin = "520.0/200.0"; // the middle half: 495-555 and 187.5-212.5
    const QStringList three{margin, margin, margin};
    QTest::newRow("three with margin: longer") << three << 365 << -1 << 456;
    QTest::newRow("two with margin: kept") << QStringList{margin, margin} << 365 << -1 << 365;
    QTest::newRow("one near its window's edge: kept")
        << QStringList{margin, "580.0/200.0", margin} << 365 << -1 << 365;
    QTest::newRow("the low one near its edge: kept")
        << QStringList{margin, margin, "520.0/186.0"} << 365 << -1 << 365;
    QTest::newRow("the newest out of tolerance: shorter")
        << QStringList{margin, margin, "600.0/200.0"} << 365 << -1 << 183;
    QTest::newRow("never below 30 days") << QStringList{"520.0/230.0"} << 40 << -1 << 30;
    QTest::newRow("below 30 already: kept") << QStringList{"520.0/230.0"} << 20 << -1 << 20;
    QTest::newRow("at most ten years") << three << 3000 << -1 << 3650;
    QTest::newRow("an old failure, then three with margin")
        << (QStringList{"600.0/200.0"} + three) << 365 << -1 << 456;
    QTest::newRow("runs before the interval was set do not count") << three << 456 << 3 << 456;
    QTest::newRow("nor a failure before it") << QStringList{"600.0/200.0"} << 183 << 1 << 183;
}

// From one sensor's as-found readings: longer after a series with margin,
// shorter after one out of tolerance, else kept.
void HistoryModelsTest::suggestedInterval()
{
    QFETCH(QStringList, found);
    QFETCH(int, interval);
    QFETCH(int, setAfter);
    QList<Run> runs;
    QDateTime since;
    for (const QString &pair : found) {
        runs << validation("40317-00606", QDate(2020, 1, 1).addDays(100 * runs.size()),
                           pair.section('/', 0, 0), pair.section('/', 1, 1));
        if (runs.size() == setAfter)
            since = runs.last().ended;
    }
    QTEST(history::suggestedInterval(runs, interval, since).days, "suggested");
}

void HistoryModelsTest::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("serials");

    QTest::newRow("empty") << "" << QStringList{"40317-00101", "40317-00202", "50999-00303"};
    QTest::newRow("part of a serial") << "00202" << QStringList{"40317-00202"};
    QTest::newRow("start of serials") << "40317-" << QStringList{"40317-00101", "40317-00202"};
    QTest::newRow("type, other case") << "-cm" << QStringList{"40317-00202"};
    QTest::newRow("type, all") << "rt-5k-mq"
                               << QStringList{"40317-00101", "40317-00202", "50999-00303"};
    QTest::newRow("no match") << "40318" << QStringList{};
    // Only serial and type are looked at, not the other columns.
    QTest::newRow("an outcome") << "cancelled" << QStringList{};
    QTest::newRow("a date") << "2026-" << QStringList{};
    QTest::newRow("regex characters") << "40317.00101" << QStringList{};
}

void HistoryModelsTest::filter()
{
    QFETCH(QString, text);
    QFETCH(QStringList, serials);

    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QVERIFY2(h.write({validation("40317-00101", {2026, 1, 10}, "512.0", "201.5"),
                      ofType(cancelled("40317-00202", {2026, 2, 1}), "RT-5K-MQ-CM"),
                      validation("50999-00303", {2026, 3, 1}, "512.0", "201.5")}),
             qPrintable(h.error()));
    SensorListModel model;
    model.setToday(kToday);
    model.setSensors(h.store().sensors());
    SensorFilter filter;
    filter.setSourceModel(&model);
    filter.sort(SensorListModel::Serial);
    filter.setFilterFixedString(text);
    QCOMPARE(column(filter, SensorListModel::Serial), serials);
}

void HistoryModelsTest::sorting_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("serials");

    // Nine, ten and two runs: as text "10" < "2" < "9".
    QTest::newRow("runs") << int(SensorListModel::Runs)
                          << QStringList{"40317-00003", "40317-00001", "40317-00002"};
    // Never validated first (due today), then by date.
    QTest::newRow("last validation") << int(SensorListModel::LastValidation)
                                     << QStringList{"40317-00003", "40317-00002", "40317-00001"};
    QTest::newRow("next due") << int(SensorListModel::NextDue)
                              << QStringList{"40317-00002", "40317-00003", "40317-00001"};
}

void HistoryModelsTest::sorting()
{
    QFETCH(int, column);
    QFETCH(QStringList, serials);

    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QList<Run> runs;
    for (int i = 0; i < 9; ++i)
        runs << validation("40317-00001", QDate(2026, 6, 1).addDays(-30 * i), "510.0", "200.0");
    for (int i = 0; i < 10; ++i)
        runs << validation("40317-00002", QDate(2025, 5, 1).addDays(-30 * i), "510.0", "200.0");
    runs << cancelled("40317-00003", {2026, 1, 5}) << cancelled("40317-00003", {2026, 1, 6});
    QVERIFY2(h.write(runs), qPrintable(h.error()));

    SensorListModel model;
    model.setToday(kToday);
    model.setSensors(h.store().sensors());
    SensorFilter filter;
    filter.setSourceModel(&model);
    filter.sort(column, Qt::AscendingOrder);
    QCOMPARE(::column(filter, SensorListModel::Serial), serials);
}

void HistoryModelsTest::runColumns()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    Run imported = validation("40317-00606", {2025, 11, 3}, "497.3", "170.4");
    imported.source = history::Source::Import;
    imported.key = "record:00aa";
    imported.station = "";
    imported.recordPath = "/records/40317-00606.txt";
    imported.outcome = Outcome::ValidatedNoRecord;
    Run abandoned = recalibration(validation("40317-00606", {2026, 2, 14}, "598.0", "230.5"),
                                  "0.002300", "-11.50000", "530.0", "205.0");
    abandoned.outcome = Outcome::RecalibrationAbandoned;
    abandoned.standardSerial = "VT-2"; // the register not read yet: no finding
    Run linkLost = validation("40317-00606", {2026, 3, 1}, "", "");
    linkLost.foundHigh = history::Reading();
    linkLost.foundLow = history::Reading();
    linkLost.outcome = Outcome::LinkLost;
    linkLost.outcomeDetail = "validation";
    linkLost.unsavedConstants = true;
    QVERIFY2(h.write({imported,
                      recalibration(validation("40317-00606", {2026, 1, 20}, "601.2", "231.0"),
                                    "0.002150", "-10.75000", "524.1", "199.8"),
                      abandoned, linkLost}),
             qPrintable(h.error()));

    RunTableModel model;
    history::Signature reviewed{{}, 1, history::kMeaningReviewed, {{}, "anna", {}}};
    history::Signature approved{{}, 1, history::kMeaningApproved, {{}, "ben", {}}};
    model.setSignatures({{"run-40317-00606-2026-01-20", {reviewed, approved}}});
    model.setRuns(h.store().runsOf("40317-00606"));
    QCOMPARE(model.columnCount(), 13);
    const QStringList headers{"Date",          "Station",       "Outcome",        "As found\nhigh",
                              "As found\nlow", "Slope\nbefore", "Offset\nbefore", "Slope\nafter",
                              "Offset\nafter", "As left\nhigh", "As left\nlow",   "Standard",
                              "Sign-off"};
    for (int c = 0; c < headers.size(); ++c)
        QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), headers.at(c));

    const QList<QStringList> expected{
        {"2025-11-03 12:00", "record file", "Validated, nothing changed", "497.3", "170.4",
         "0.002500", "-12.50000", "", "", "", "", "", "unsigned"},
        {"2026-01-20 12:00", "bench-1", "Recalibrated and saved", "601.2", "231.0", "0.002500",
         "-12.50000", "0.002150", "-10.75000", "524.1", "199.8", "",
         "reviewed by anna, approved by ben"},
        // New constants sent and then taken back changed nothing: their
        // verification is no as-left state.
        {"2026-02-14 12:00", "bench-1", "Recalibration abandoned, previous constants restored",
         "598.0", "230.5", "0.002500", "-12.50000", "", "", "", "", "VT-2", "unsigned"},
        {"2026-03-01 12:00", "bench-1",
         "Link lost (validation); the sensor may hold unsaved constants", "", "", "0.002500",
         "-12.50000", "", "", "", "", "", "unsigned"},
    };
    QCOMPARE(model.rowCount(), int(expected.size()));
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList shown;
        for (int c = 0; c < model.columnCount(); ++c)
            shown << model.index(r, c).data().toString();
        QCOMPARE(shown, expected.at(r));
    }
    QCOMPARE(readToolTip(model.index(0, RunTableModel::Station).data(Qt::ToolTipRole).toString()),
             QString("/records/40317-00606.txt"));
    QCOMPARE(readToolTip(model.index(1, RunTableModel::FoundHigh).data(Qt::ToolTipRole).toString()),
             QString("Window 465 to 585 pS/m"));
    for (int c : {RunTableModel::LeftHigh, RunTableModel::LeftLow}) {
        QCOMPARE(readToolTip(model.index(2, c).data(Qt::ToolTipRole).toString()),
                 QString("Verification with constants put back: high 530.0 (pass), low 205.0 "
                         "(pass)"));
        QVERIFY(!model.index(2, c).data(Qt::BackgroundRole).isValid());
    }
}

void HistoryModelsTest::readingColours_data()
{
    QTest::addColumn<QString>("foundHigh");
    QTest::addColumn<QString>("foundLow");
    QTest::addColumn<QString>("leftHigh");
    QTest::addColumn<QString>("leftLow");
    QTest::addColumn<QStringList>("colours"); // found high, found low, left high, left low

    QTest::newRow("all pass") << "525.0"
                              << "200.0"
                              << "524.0"
                              << "201.0" << QStringList{"green", "green", "green", "green"};
    QTest::newRow("found fail, left pass")
        << "604.2"
        << "230.1"
        << "524.8"
        << "199.7" << QStringList{"red", "red", "green", "green"};
    QTest::newRow("on the bounds") << "465"
                                   << "225"
                                   << "585"
                                   << "175" << QStringList{"green", "green", "green", "green"};
    QTest::newRow("just outside") << "464.9"
                                  << "225.1"
                                  << "585.1"
                                  << "174.9" << QStringList{"red", "red", "red", "red"};
    QTest::newRow("mixed") << "470.0"
                           << "160.0"
                           << "590.0"
                           << "180.0" << QStringList{"green", "red", "red", "green"};
    // A reading never taken has no verdict and no colour.
    QTest::newRow("no readings") << ""
                                 << ""
                                 << ""
                                 << "" << QStringList{"", "", "", ""};
}

void HistoryModelsTest::readingColours()
{
    QFETCH(QString, foundHigh);
    QFETCH(QString, foundLow);
    QFETCH(QString, leftHigh);
    QFETCH(QString, leftLow);
    QFETCH(QStringList, colours);

    const auto taken = [](const QString &text, history::Reading (*judge)(const QString &)) {
        return text.isEmpty() ? history::Reading() : judge(text);
    };
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    Run run = validation("40317-00707", {2026, 4, 4}, "500", "200");
    run.foundHigh = taken(foundHigh, high);
    run.foundLow = taken(foundLow, low);
    run.leftHigh = taken(leftHigh, high);
    run.leftLow = taken(leftLow, low);
    run.outcome = history::Outcome::Recalibrated; // the as-left readings the sensor kept
    QVERIFY2(h.write({run}), qPrintable(h.error()));

    RunTableModel model;
    model.setRuns(h.store().runsOf("40317-00707"));
    QCOMPARE(model.rowCount(), 1);
    QStringList painted;
    for (int c : {RunTableModel::FoundHigh, RunTableModel::FoundLow, RunTableModel::LeftHigh,
                  RunTableModel::LeftLow})
        painted << background(model.index(0, c));
    QCOMPARE(painted, colours);
    // Nothing else is coloured.
    for (int c : {RunTableModel::Date, RunTableModel::Result, RunTableModel::SlopeBefore,
                  RunTableModel::SlopeAfter})
        QCOMPARE(background(model.index(0, c)), QString());
}

void HistoryModelsTest::sensorMarks_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("validatedDaysAgo"); // -1: never
    QTest::addColumn<bool>("outOfTolerance");
    QTest::addColumn<QString>("due");
    QTest::addColumn<bool>("red");
    QTest::addColumn<int>("sensors");
    QTest::addColumn<int>("overdue");
    QTest::addColumn<int>("failing");

    QTest::newRow("in date") << "40317-00101" << 30 << false << "2027-06-01" << false << 1 << 0
                             << 0;
    QTest::newRow("in date, out of tolerance")
        << "40317-00101" << 30 << true << "2027-06-01, out of tolerance" << false << 1 << 0 << 1;
    QTest::newRow("overdue") << "40317-00101" << 400 << false << "2026-05-27, overdue" << true << 1
                             << 1 << 0;
    QTest::newRow("overdue and out of tolerance")
        << "40317-00101" << 400 << true << "2026-05-27, overdue, out of tolerance" << false << 1
        << 1 << 1;
    QTest::newRow("no serial") << "" << 30 << false << "none, no serial number" << false << 0 << 0
                               << 0;
    QTest::newRow("no serial, long ago")
        << "" << 900 << true << "none, no serial number, out of tolerance" << false << 0 << 0 << 0;
}

void HistoryModelsTest::sensorMarks()
{
    QFETCH(QString, serial);
    QFETCH(int, validatedDaysAgo);
    QFETCH(bool, outOfTolerance);
    QFETCH(QString, due);
    QFETCH(bool, red);
    QFETCH(int, sensors);
    QFETCH(int, overdue);
    QFETCH(int, failing);

    history::SensorSummary s;
    s.serialNumber = serial;
    s.sensorType = "RT-5K-MQ";
    s.runs = 1;
    if (validatedDaysAgo >= 0)
        s.lastValidation = noon(kToday.addDays(-validatedDaysAgo));
    s.lastOutcome = Outcome::ValidatedDateSet;
    s.lastRun = s.lastValidation;
    s.outOfTolerance = outOfTolerance;
    SensorListModel model;
    model.setToday(kToday);
    model.setSensors({s});

    const QModelIndex dueCell = model.index(0, SensorListModel::NextDue);
    QCOMPARE(dueCell.data().toString(), due);
    QCOMPARE(dueCell.data(SensorListModel::OutOfToleranceRole).toBool(), outOfTolerance);
    QCOMPARE(model.sensorCount(), sensors);
    QCOMPARE(model.overdueCount(), overdue);
    QCOMPARE(model.outOfToleranceCount(), failing);
    const QVariant colour = dueCell.data(Qt::ForegroundRole);
    QCOMPARE(colour.isValid() && colour.value<QBrush>().color() == QColor(Qt::red), red);
    // Out of tolerance has a colour and an icon of its own.
    QCOMPARE(colour.isValid(), outOfTolerance || red);
    const QIcon icon =
        model.index(0, SensorListModel::Serial).data(Qt::DecorationRole).value<QIcon>();
    QCOMPARE(!icon.isNull(), outOfTolerance || red);
    if (outOfTolerance) {
        const QString tip =
            readToolTip(model.index(0, SensorListModel::Serial).data(Qt::ToolTipRole).toString());
        QVERIFY2(tip.contains("Out of tolerance"), qPrintable(tip));
    }
}

void HistoryModelsTest::withoutSerialLastEitherWay_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    for (int column : {int(SensorListModel::Serial), int(SensorListModel::NextDue),
                       int(SensorListModel::Runs)}) {
        for (int order : {int(Qt::AscendingOrder), int(Qt::DescendingOrder)})
            QTest::addRow("column %d, %s", column, order == Qt::AscendingOrder ? "up" : "down")
                << column << order;
    }
}

void HistoryModelsTest::withoutSerialLastEitherWay()
{
    QFETCH(int, column);
    QFETCH(int, order);
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    Run nameless = validation("", {2026, 6, 20}, "520.0", "200.0");
    QVERIFY2(h.write({validation("40317-00001", {2026, 6, 1}, "510.0", "200.0"), nameless,
                      validation("40317-00002", {2025, 5, 1}, "510.0", "200.0"),
                      validation("40317-00002", {2025, 4, 1}, "510.0", "200.0")}),
             qPrintable(h.error()));
    // A retired sensor goes after the others, before those.
    QVERIFY(history::storeSensorState(h.store(), "40317-00002", "RT-5K-MQ", true, "scrapped"));
    SensorListModel model;
    model.setToday(kToday);
    model.setSensors(h.store().sensors());
    SensorFilter filter;
    filter.setSourceModel(&model);
    filter.sort(column, Qt::SortOrder(order));
    const QStringList serials = ::column(filter, SensorListModel::Serial);
    QCOMPARE(serials, QStringList({"40317-00001", "40317-00002", "(none)"}));
}

void HistoryModelsTest::quickOrderIsTheValuesOrder()
{
    // Sensors that differ in every sorted column, with ties, case and
    // never-validated ones: the list's own comparison must order them as
    // the values its SortRole gives, compared by the generic proxy.
    QList<history::SensorSummary> sensors;
    const QStringList serials{"40317-00020", "abc-7", "ABD-1", "40317-00003", "Abc-7", "z9"};
    const QStringList types{"RT-5K-MQ", "rt-5k-mq", "RT-5K-MQ-CM"};
    const Outcome outcomes[] = {Outcome::ValidatedDateSet, Outcome::Recalibrated,
                                Outcome::RecalibrationAbandoned, Outcome::LinkLost};
    for (int i = 0; i < 36; ++i) {
        history::SensorSummary s;
        s.serialNumber =
            serials.at(i % serials.size()) + (i < 6 ? QString() : QString::number(i % 4));
        s.sensorType = types.at(i % types.size());
        s.runs = (i * 7) % 5;
        s.intervalDays = i % 3 == 0 ? 90 : 365; // by the days, not by the text
        s.lastOutcome = outcomes[i % 4];
        if (i % 5 != 0)
            s.lastValidation = QDateTime(kToday.addDays(-(i * 53) % 700), QTime(9, i), Qt::UTC);
        sensors << s;
    }
    SensorListModel model;
    model.setToday(kToday);
    model.setSensors(sensors);
    SensorFilter quick;
    quick.setSourceModel(&model);
    QSortFilterProxyModel generic;
    generic.setSourceModel(&model);
    generic.setSortRole(SensorListModel::SortRole);
    generic.setSortCaseSensitivity(Qt::CaseInsensitive);
    generic.setFilterCaseSensitivity(Qt::CaseInsensitive);
    generic.setFilterKeyColumn(-1);
    const auto rows = [](const QAbstractItemModel &m) {
        QStringList texts;
        for (int r = 0; r < m.rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < SensorListModel::ColumnCount; ++c)
                cells << m.index(r, c).data().toString();
            texts << cells.join('|');
        }
        return texts;
    };
    for (int column = 0; column < SensorListModel::ColumnCount; ++column) {
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            quick.sort(column, order);
            generic.sort(column, order);
            QCOMPARE(rows(quick), rows(generic));
        }
    }
    quick.sort(SensorListModel::Interval, Qt::AscendingOrder);
    QCOMPARE(quick.index(0, SensorListModel::Interval).data().toString(), QString("90 days"));
    // The filter looks in the serial number and the type as shown, in any case.
    for (const char *text : {"ab", "MQ-cm", "7", "0002"}) {
        quick.setFilterFixedString(text);
        QStringList expected;
        for (const QString &row : rows(generic)) {
            const QStringList cells = row.split('|');
            if (cells.at(SensorListModel::Serial).contains(text, Qt::CaseInsensitive) ||
                cells.at(SensorListModel::Type).contains(text, Qt::CaseInsensitive))
                expected << row;
        }
        QVERIFY(!expected.isEmpty());
        // Which rows; their order among equals is the proxy's own.
        QStringList shown = rows(quick);
        shown.sort();
        expected.sort();
        QCOMPARE(shown, expected);
    }
}

QTEST_MAIN(HistoryModelsTest)
#include "tst_historymodels.moc"
