// The history database, on a real SQLite file and a real PostgreSQL server:
// every field kept, the revision rule, the sensor list and due dates, the
// schema's migration from version 1 and the refusal of a newer one.

#include "core/history/csvfile.h"
#include "core/history/intervals.h"
#include "core/history/register.h"
#include "core/history/runfields.h"
#include "core/history/runformat.h"
#include "core/history/runrow.h"
#include "core/history/store.h"
#include "tests/support/historydatabases.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <QWaitCondition>
#include <QtTest>

#include <cmath>
#include <limits>

using history::Location;
using history::Outcome;
using history::Run;
using history::SensorSummary;
using history::Store;
using history::WriteResult;
using historytest::TestDatabase;

namespace
{
// The first published schema, as ZOLVEX 1.04 created it: a frozen copy, so
// that a migration is tested against what is really out there.
const QStringList kVersion1Schema{
    "CREATE TABLE schema_version (version INTEGER PRIMARY KEY, applied TEXT NOT NULL)",
    "CREATE TABLE runs (run_key TEXT PRIMARY KEY, revision INTEGER NOT NULL,"
    " source TEXT NOT NULL, started TEXT NOT NULL, ended TEXT, station TEXT NOT NULL,"
    " sensor_type TEXT NOT NULL, serial_number TEXT NOT NULL, firmware TEXT NOT NULL,"
    " sensor_range TEXT NOT NULL, tip_kind INTEGER NOT NULL, unit TEXT NOT NULL,"
    " old_slope TEXT NOT NULL, old_offset TEXT NOT NULL,"
    " found_high_text TEXT NOT NULL, found_high_value DOUBLE PRECISION,"
    " found_high_window_low DOUBLE PRECISION, found_high_window_high DOUBLE PRECISION,"
    " found_high_verdict TEXT NOT NULL,"
    " found_low_text TEXT NOT NULL, found_low_value DOUBLE PRECISION,"
    " found_low_window_low DOUBLE PRECISION, found_low_window_high DOUBLE PRECISION,"
    " found_low_verdict TEXT NOT NULL,"
    " mean_counts DOUBLE PRECISION, new_slope TEXT NOT NULL, new_offset TEXT NOT NULL,"
    " left_high_text TEXT NOT NULL, left_high_value DOUBLE PRECISION,"
    " left_high_window_low DOUBLE PRECISION, left_high_window_high DOUBLE PRECISION,"
    " left_high_verdict TEXT NOT NULL,"
    " left_low_text TEXT NOT NULL, left_low_value DOUBLE PRECISION,"
    " left_low_window_low DOUBLE PRECISION, left_low_window_high DOUBLE PRECISION,"
    " left_low_verdict TEXT NOT NULL,"
    " outcome TEXT NOT NULL, outcome_detail TEXT NOT NULL,"
    " unsaved_constants INTEGER NOT NULL, record_path TEXT NOT NULL)",
    "INSERT INTO schema_version VALUES (1, '2026-11-02T09:00:00.000Z')",
    // A recalibration and a link lost, as a version-1 station wrote them.
    "INSERT INTO runs VALUES ('{0b8e5c1a-0001}', 3, 'station', '2026-11-03T08:10:00.250Z',"
    " '2026-11-03T08:31:12.000Z', 'bench-2.orvane.example', 'RT-5K-MQ', '40317-00815',"
    " 'Version 2.12', '2000', 1, 'pS/m', '1.000000', '0.00000',"
    " '604.2', 604.2, 500, 550, 'fail', '230.1', 230.1, 190, 210, 'fail',"
    " 201234.4, '0.869000', '0.01200',"
    " '524.8', 524.8, 500, 550, 'pass', '199.7', 199.7, 190, 210, 'pass',"
    " 'recalibrated', '', 0, '/home/tech/records/40317-00815.txt')",
    "INSERT INTO runs VALUES ('{0b8e5c1a-0002}', 2, 'station', '2026-11-04T14:00:00.000Z',"
    " NULL, 'bench-2.orvane.example', 'RT-5K-MQ', '40317-00816',"
    " 'Version 2.12', '2000', 2, 'pS/cm', '1.010000', '-0.01000',"
    " '', NULL, NULL, NULL, 'none', '', NULL, NULL, NULL, 'none',"
    " NULL, '', '', '', NULL, NULL, NULL, 'none', '', NULL, NULL, NULL, 'none',"
    " 'link-lost', 'validation high', 1, '')",
};

Run at(Run run, const QString &serial, Outcome outcome, const QDateTime &started,
       const QString &type = "RT-5K-MQ")
{
    run.key = QStringLiteral("%1 %2").arg(serial, started.toString(Qt::ISODate));
    run.serialNumber = serial;
    run.outcome = outcome;
    run.started = started;
    run.date = QDate(); // a run of its time, not a record's date
    run.ended = started.addSecs(1200);
    run.sensorType = type;
    return run;
}

QDateTime utc(int y, int m, int d, int h = 12)
{
    return QDateTime(QDate(y, m, d), QTime(h, 0), Qt::UTC);
}

// Copies a stored revision (`where` picks it) as its run's next one, with
// `column` set to `value` (SQL), as someone writing to the table would.
QString copiedRevision(const QString &column, const QString &value, const QString &where)
{
    QStringList copied;
    for (const QString &name : history::runColumns())
        copied << (name == column ? value : name == "revision" ? "revision + 1" : name);
    return "INSERT INTO run_revisions (" + history::runColumns().join(',') + ") SELECT " +
           copied.join(',') + " FROM run_revisions WHERE " + where;
}

QString fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}
} // namespace

#define OPEN_STORE(store)                                                                          \
    do {                                                                                           \
        QString error_;                                                                            \
        QVERIFY2((store).open(&error_), qPrintable(error_));                                       \
    } while (false)

#define NEED_DATABASE(db)                                                                          \
    do {                                                                                           \
        QFETCH(QString, database);                                                                 \
        if (database == "postgresql")                                                              \
            HISTORY_NEED_POSTGRES();                                                               \
        (db) = std::make_unique<TestDatabase>(database);                                           \
        QVERIFY2((db)->ok(), qPrintable((db)->error()));                                           \
    } while (false)

class TestHistoryStore : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data() { databases(); }
    void roundTrip();
    void revisionRule_data() { databases(); }
    void revisionRule();
    void sensors_data() { databases(); }
    void sensors();
    void sensorSense_data();
    void sensorSense();
    void dateOnlyRuns_data();
    void dateOnlyRuns();
    void identity_data() { databases(); }
    void identity();
    void stationRole_data();
    void stationRole();
    void recordDigest_data() { databases(); }
    void recordDigest();
    void migratesVersion1_data() { databases(); }
    void migratesVersion1();
    void failedMigrationChangesNothing_data() { databases(); }
    void failedMigrationChangesNothing();
    void refusesNewerSchema_data() { databases(); }
    void refusesNewerSchema();
    void concurrentFirstOpen_data() { databases(); }
    void concurrentFirstOpen();
    void passwordRole_data();
    void passwordRole();
    void nextDue_data();
    void nextDue();
    void inProgress_data();
    void inProgress();
    void exportStreamsEveryRun_data() { databases(); }
    void exportStreamsEveryRun();
    void manySensors_data() { databases(); }
    void manySensors();

private:
    static void databases();
};

void TestHistoryStore::databases()
{
    QTest::addColumn<QString>("database");
    QTest::newRow("SQLite") << "sqlite";
    QTest::newRow("PostgreSQL") << "postgresql";
}

void TestHistoryStore::roundTrip()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    QList<Run> runs;
    for (int seed = 1; seed <= 4; ++seed)
        runs << historytest::sampleRun(seed, "40317-00815");
    Run running = historytest::sampleRun(5, "40317-00815");
    running.ended = QDateTime();
    running.meanCounts.reset();
    running.leftHigh = history::Reading();
    running.leftLow = history::Reading();
    running.outcome = Outcome::Interrupted;
    runs << running;
    Run odd = historytest::sampleRun(6, "40317-00815");
    odd.foundHigh.value = std::numeric_limits<double>::quiet_NaN();
    odd.foundHigh.windowHigh = std::numeric_limits<double>::infinity();
    odd.foundLow.windowLow = -std::numeric_limits<double>::infinity();
    odd.meanCounts = 0.0;
    odd.leftLow.value = 1.0 / 3.0;
    runs << odd;
    {
        Store store(db->location());
        OPEN_STORE(store);
        QCOMPARE(store.schemaVersion(), Store::kSchemaVersion);
        for (const Run &run : runs) {
            QString error;
            QVERIFY2(store.write(run, &error), qPrintable(error));
        }
    }
    // Read on a connection of its own: what was written was committed.
    Store store(db->location());
    OPEN_STORE(store);
    const QList<Run> back = store.runsOf("40317-00815");
    QCOMPARE(back.size(), runs.size());
    for (const Run &run : runs) {
        const auto found =
            std::find_if(back.begin(), back.end(), [&](const Run &b) { return b.key == run.key; });
        QVERIFY2(found != back.end(), qPrintable(run.key));
        Run first = run; // the history's first revision of it
        first.revision = 1;
        const QString difference = historytest::runDifference(first, *found);
        QVERIFY2(difference.isEmpty(), qPrintable(run.key + ": " + difference));
    }
    for (int i = 1; i < back.size(); ++i)
        QVERIFY(back.at(i - 1).started <= back.at(i).started);
    QCOMPARE(store.allRuns().size(), runs.size());
    QVERIFY(store.runsOf("40317-99999").isEmpty());
    // A reading that is no number is NULL in either database, for whoever
    // reads the table itself.
    QCOMPARE(db->value("SELECT COUNT(*) FROM runs WHERE found_high_value IS NULL").toInt(), 1);
}

void TestHistoryStore::revisionRule()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);

    Run run = historytest::sampleRun(1);
    const auto snapshot = [&](int revision, Outcome outcome, const QString &detail) {
        Run r = run;
        r.revision = revision;
        r.outcome = outcome;
        r.outcomeDetail = detail;
        return r;
    };
    const auto stored = [&] {
        const QList<Run> runs = store.allRuns();
        return runs.size() == 1 ? runs.first() : Run();
    };
    QString error;
    const auto write = [&](const Run &r) { return store.write(r, &error).kind; };
    QCOMPARE(write(snapshot(1, Outcome::Interrupted, "first")), WriteResult::Written);
    // The station's second snapshot never arrived: its third is the
    // history's second revision.
    QCOMPARE(write(snapshot(3, Outcome::Recalibrated, "third")), WriteResult::Written);
    QCOMPARE(stored().revision, 2);
    QCOMPARE(stored().outcomeDetail, QString("third"));
    // The same snapshot again, or a late, older one, is no error and
    // changes nothing; nor does a stored snapshot altered since.
    QCOMPARE(write(snapshot(3, Outcome::Recalibrated, "third")), WriteResult::AlreadyThere);
    QCOMPARE(write(snapshot(2, Outcome::Interrupted, "second")), WriteResult::Superseded);
    QCOMPARE(write(snapshot(1, Outcome::ValidatedDateSet, "first, altered")),
             WriteResult::AlreadyThere);
    QCOMPARE(stored().outcome, Outcome::Recalibrated);
    QCOMPARE(stored().outcomeDetail, QString("third"));
    // A copy of the station's newest snapshot altered since changes nothing;
    // its next snapshot is the next revision.
    QCOMPARE(write(snapshot(3, Outcome::ValidatedNoRecord, "changed")), WriteResult::AlreadyThere);
    QCOMPARE(write(snapshot(5, Outcome::RecalibrationAbandoned, "fifth")), WriteResult::Written);
    Run last = stored();
    QCOMPARE(last.revision, 3);
    last.revision = 5;
    QVERIFY(historytest::runDifference(snapshot(5, Outcome::RecalibrationAbandoned, "fifth"), last)
                .isEmpty());

    // Every revision stays, in order, each with the database's time of it.
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-60);
    const QList<Run> revisions = store.revisionsOf(run.key, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(revisions.size(), 3);
    QCOMPARE(revisions.at(0).outcomeDetail, QString("first"));
    QCOMPARE(revisions.at(1).outcomeDetail, QString("third"));
    QCOMPARE(revisions.at(2).outcomeDetail, QString("fifth"));
    for (const Run &r : revisions) {
        QCOMPARE(r.operatorName, run.operatorName);
        QVERIFY2(r.recordedAt > before && r.recordedAt < before.addSecs(120),
                 qPrintable(r.recordedAt.toString(Qt::ISODateWithMs)));
    }
    QVERIFY(store.revisionsOf("no such run", &error).isEmpty());
    // Written to the table by hand: the database itself takes a revision only
    // as its run's next one, for the station of the run's first.
    QVERIFY(!db->exec({copiedRevision("revision", "99", "revision = 3")}, &error));
    QVERIFY(!db->exec({copiedRevision("station", "'elsewhere'", "revision = 3")}, &error));

    // A type set later is the run's next revision, of its station, by who set it.
    const history::TypeChange set = store.setRunType(run.key, "RT-5K-MQ-CM");
    QVERIFY2(set.kind == history::TypeChange::Set, qPrintable(set.reason));
    QCOMPARE(set.revision, 4);
    QCOMPARE(stored().sensorType, QString("RT-5K-MQ-CM"));
    QCOMPARE(stored().station, run.station);
    QCOMPARE(stored().operatorName, history::loginName());
    QVERIFY(stored().recordedAt > before);
    for (const QString &refused : {QString("RT-5K-MQ-CM"), QString(), QString("RT\n5K")})
        QCOMPARE(store.setRunType(run.key, refused).kind, history::TypeChange::Refused);
    QCOMPARE(store.setRunType("no such run", "RT-5K-MQ").kind, history::TypeChange::Refused);
    // Nothing is ever rewritten in place.
    QCOMPARE(db->value("SELECT COUNT(*) FROM run_revisions").toInt(), 4);
    // A run without an end may still get snapshots from its station; one
    // that comes late, numbered as the history's next, is still older.
    Run going = historytest::sampleRun(2);
    going.ended = QDateTime();
    going.revision = 3;
    QCOMPARE(write(going), WriteResult::Written);
    going.revision = 2;
    QCOMPARE(write(going), WriteResult::Superseded);
    QCOMPARE(store.setRunType(going.key, "RT-5K-MQ-CM").kind, history::TypeChange::Refused);
}

void TestHistoryStore::sensors()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);
    const Run base = historytest::sampleRun(1);
    const QList<Run> runs{
        // A: validated, then a run that was interrupted.
        at(base, "A-1", Outcome::ValidatedDateSet, utc(2025, 1, 10)),
        at(base, "A-1", Outcome::ValidatedNoRecord, utc(2024, 5, 2)),
        at(base, "A-1", Outcome::Interrupted, utc(2025, 3, 1)),
        // B: recalibrated, later cancelled and abandoned; its type changed.
        at(base, "B-2", Outcome::Recalibrated, utc(2024, 1, 1), "RT-5K-MQ"),
        at(base, "B-2", Outcome::Cancelled, utc(2024, 6, 1), "RT-5K-MQ"),
        at(base, "B-2", Outcome::RecalibrationAbandoned, utc(2024, 7, 1), "RT-5K-MQ/2"),
        // C: never validated.
        at(base, "C-3", Outcome::LinkLost, utc(2025, 2, 2)),
        at(base, "C-3", Outcome::FirmwareTooOld, utc(2025, 2, 1)),
        at(base, "C-3", Outcome::NoResponse, utc(2025, 2, 3)),
        at(base, "C-3", Outcome::UnsupportedSensor, utc(2025, 1, 3)),
    };
    for (const Run &run : runs) {
        QString error;
        QVERIFY2(store.write(run, &error), qPrintable(error));
    }
    const QList<SensorSummary> list = store.sensors();
    QCOMPARE(list.size(), 4);
    QCOMPARE(list.at(0).serialNumber, QString("A-1"));
    QCOMPARE(list.at(0).runs, 3);
    QCOMPARE(list.at(0).lastValidation, utc(2025, 1, 10));
    QCOMPARE(list.at(0).lastOutcome, Outcome::Interrupted);
    QCOMPARE(list.at(0).lastRun, utc(2025, 3, 1));

    // A serial number under two types is two sensors: neither lends the
    // other its validation.
    QCOMPARE(list.at(1).serialNumber, QString("B-2"));
    QCOMPARE(list.at(1).sensorType, QString("RT-5K-MQ"));
    QCOMPARE(list.at(1).runs, 2);
    QCOMPARE(list.at(1).lastValidation, utc(2024, 1, 1));
    QCOMPARE(list.at(1).lastOutcome, Outcome::Cancelled);
    QCOMPARE(list.at(1).lastRun, utc(2024, 6, 1));
    QCOMPARE(list.at(2).serialNumber, QString("B-2"));
    QCOMPARE(list.at(2).sensorType, QString("RT-5K-MQ/2"));
    QCOMPARE(list.at(2).runs, 1);
    QVERIFY(!list.at(2).lastValidation.isValid());
    QCOMPARE(list.at(2).lastOutcome, Outcome::RecalibrationAbandoned);
    QCOMPARE(store.runsOf("B-2", "RT-5K-MQ/2").size(), 1);
    QCOMPARE(store.runsOf("B-2").size(), 3);

    QCOMPARE(list.at(3).serialNumber, QString("C-3"));
    QCOMPARE(list.at(3).runs, 4);
    QVERIFY(!list.at(3).lastValidation.isValid());
    QCOMPARE(list.at(3).lastOutcome, Outcome::NoResponse);
    QCOMPARE(list.at(3).lastRun, utc(2025, 2, 3));

    // With a yearly interval, on 2026-01-10: A is due today, B long overdue,
    // C (never validated) due today.
    const QDate today(2026, 1, 10);
    QCOMPARE(history::nextDue(list.at(0), 365, today), QDate(2026, 1, 10));
    QVERIFY(!history::overdue(list.at(0), 365, today));
    QVERIFY(history::overdue(list.at(0), 365, today.addDays(1)));
    QCOMPARE(history::nextDue(list.at(1), 365, today), QDate(2024, 12, 31));
    QVERIFY(history::overdue(list.at(1), 365, today));
    QCOMPARE(history::nextDue(list.at(3), 365, today), today);
    QVERIFY(!history::overdue(list.at(3), 365, today));

    // From the register: B retired is never due; A goes by its own interval
    // before its type's.
    QVERIFY(history::changeSensorState(store, "B-2", "RT-5K-MQ", true, "scrapped"));
    QVERIFY(history::storeInterval(store, QString(), list.at(0).sensorType, 30, "set"));
    QVERIFY(history::storeInterval(store, "A-1", list.at(0).sensorType, 400, "set"));
    const QList<SensorSummary> read = store.sensors();
    QVERIFY(read.at(1).retired && read.at(1).retiredReason == "scrapped");
    QVERIFY(!history::nextDue(read.at(1), today).isValid() && !history::overdue(read.at(1), today));
    QCOMPARE(history::nextDue(read.at(0), today), QDate(2026, 2, 14));
    QCOMPARE(read.at(3).intervalDays, list.at(3).sensorType == list.at(0).sensorType ? 30 : 365);
}

// What the list says of a sensor must not mislead: a run dated in the
// future neither puts off the due date nor hides today's run; runs without
// a serial number are no sensor to be due; a sensor left failing says so.
void TestHistoryStore::sensorSense_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QList<Run>>("runs");
    QTest::addColumn<QString>("lastValidation"); // ISO date, or empty
    QTest::addColumn<QString>("lastOutcome");
    QTest::addColumn<bool>("outOfTolerance");
    QTest::addColumn<bool>("due");
    QTest::addColumn<int>("listed"); // sensors in the list; the first is checked

    const Run base = historytest::sampleRun(1);
    const auto run = [&](Outcome outcome, QDate day, history::Verdict high,
                         history::Verdict left = history::Verdict::None) {
        Run r = at(base, "S-1", outcome, QDateTime(day, QTime(9, 0), Qt::UTC));
        r.foundHigh.verdict = high;
        r.foundLow.verdict = history::Verdict::Pass;
        r.leftHigh.verdict = left;
        r.leftLow.verdict = left == history::Verdict::None ? left : history::Verdict::Pass;
        return r;
    };
    using history::Verdict;
    const QDate today = QDate::currentDate();
    const QDate year = today.addDays(-300);
    Run far = run(Outcome::ValidatedDateSet, QDate(9999, 12, 31), Verdict::Pass);
    Run noSerial = run(Outcome::ValidatedDateSet, today, Verdict::Pass);
    noSerial.serialNumber.clear();
    // A newer revision of a run is the run: what the list says follows it.
    const auto revised = [](Run r, Outcome outcome) {
        r.revision += 1;
        r.outcome = outcome;
        return r;
    };
    const Run failedToday = run(Outcome::Cancelled, today, Verdict::Fail);
    Run lostLink = run(Outcome::LinkLost, today, Verdict::None);
    lostLink.foundHigh = history::Reading();
    lostLink.foundLow = history::Reading();
    // A record file's run names its tip, but no type and no range.
    const auto record = [&](QDate day, int tip) {
        return historytest::asRecord(run(Outcome::ValidatedDateSet, day, Verdict::Pass),
                                     "record:" + day.toString(Qt::ISODate), tip);
    };
    for (const char *database : {"sqlite", "postgresql"}) {
        const auto row = [&](const char *name) {
            return &(QTest::addRow("%s: %s", database, name) << QString(database));
        };
        *row("failed today, a record of 9999 beside it")
            << QList<Run>{run(Outcome::ValidatedNoRecord, year, Verdict::Pass), far,
                          run(Outcome::Cancelled, today, Verdict::Fail)}
            << year.toString(Qt::ISODate) << "cancelled" << true << true << 1;
        *row("abandoned recalibration leaves the failure standing")
            << QList<Run>{run(Outcome::ValidatedNoRecord, year, Verdict::Pass),
                          run(Outcome::RecalibrationAbandoned, today, Verdict::Fail, Verdict::Pass)}
            << year.toString(Qt::ISODate) << "recalibration-abandoned" << true << true << 1;
        *row("a saved recalibration puts it right")
            << QList<Run>{run(Outcome::Recalibrated, today, Verdict::Fail, Verdict::Pass)}
            << today.toString(Qt::ISODate) << "recalibrated" << false << true << 1;
        *row("a saved recalibration whose as-left high fails")
            << QList<Run>{run(Outcome::Recalibrated, today, Verdict::Pass, Verdict::Fail)}
            << today.toString(Qt::ISODate) << "recalibrated" << true << true << 1;
        *row("a failure stands through a later run without readings")
            << QList<Run>{run(Outcome::Cancelled, year, Verdict::Fail), lostLink} << QString()
            << "link-lost" << true << true << 1;
        *row("a newer revision validates the failed run")
            << QList<Run>{failedToday, revised(failedToday, Outcome::ValidatedDateSet)}
            << today.toString(Qt::ISODate) << "validated-date-set" << true << true << 1;
        *row("a newer revision takes the validation back")
            << QList<Run>{revised(run(Outcome::ValidatedNoRecord, today, Verdict::Pass),
                                  Outcome::Cancelled),
                          run(Outcome::ValidatedNoRecord, today, Verdict::Pass)}
            << QString() << "cancelled" << false << true << 1;
        *row("no serial number: never due") << QList<Run>{noSerial} << today.toString(Qt::ISODate)
                                            << "validated-date-set" << false << false << 1;
        *row("a record without a type joins the sensor of its number")
            << QList<Run>{run(Outcome::ValidatedNoRecord, year, Verdict::Pass), record(today, 2)}
            << today.toString(Qt::ISODate) << "validated-date-set" << false << true << 1;
        *row("a record of another tip: type unknown, never due")
            << QList<Run>{run(Outcome::ValidatedNoRecord, today, Verdict::Pass), record(year, 1)}
            << year.toString(Qt::ISODate) << "validated-date-set" << false << false << 2;
    }
}

void TestHistoryStore::sensorSense()
{
    QFETCH(QString, database);
    QFETCH(QList<Run>, runs);
    QFETCH(QString, lastValidation);
    QFETCH(QString, lastOutcome);
    QFETCH(bool, outOfTolerance);
    QFETCH(bool, due);
    QFETCH(int, listed);
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);
    QString error;
    for (const Run &run : runs)
        QVERIFY2(store.write(run, &error), qPrintable(error));
    const QList<SensorSummary> list = store.sensors(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(list.size(), listed);
    const SensorSummary &sensor = list.first();
    // The sensor's runs are the ones it counts.
    QCOMPARE(store.runsOf(sensor.serialNumber, sensor.sensorType).size(), sensor.runs);
    QCOMPARE(sensor.lastValidation.isValid() ? sensor.lastValidation.date().toString(Qt::ISODate)
                                             : QString(),
             lastValidation);
    QCOMPARE(history::outcomeName(sensor.lastOutcome), lastOutcome);
    QCOMPARE(sensor.outOfTolerance, outOfTolerance);
    QCOMPARE(history::nextDue(sensor, 365, QDate::currentDate()).isValid(), due);
    if (!due)
        QVERIFY(!history::overdue(sensor, 1, QDate::currentDate().addYears(5)));
}

void TestHistoryStore::recordDigest()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);
    Run imported = historytest::sampleRun(3);
    imported.recordDigest = QString(64, 'a');
    Run recorded = historytest::sampleRun(4);
    recorded.recordDigest.clear();
    QString error;
    QVERIFY2(store.write(imported, &error), qPrintable(error));
    QVERIFY2(store.write(recorded, &error), qPrintable(error));
    QVERIFY(store.hasRecordDigest(QString(64, 'a')));
    QVERIFY(!store.hasRecordDigest(QString(64, 'b')));
    QVERIFY(!store.hasRecordDigest(QString())); // a run without a record is no record
}

void TestHistoryStore::migratesVersion1()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    QString error;
    QVERIFY2(db->exec(kVersion1Schema, &error), qPrintable(error));

    Store store(db->location());
    OPEN_STORE(store);
    QCOMPARE(store.schemaVersion(), Store::kSchemaVersion);
    const QList<Run> runs = store.allRuns();
    QCOMPARE(runs.size(), 2);
    const Run &recalibrated = runs.at(0);
    QCOMPARE(recalibrated.key, QString("{0b8e5c1a-0001}"));
    QCOMPARE(recalibrated.revision, 3);
    QCOMPARE(recalibrated.started, QDateTime(QDate(2026, 11, 3), QTime(8, 10, 0, 250), Qt::UTC));
    QCOMPARE(recalibrated.ended, QDateTime(QDate(2026, 11, 3), QTime(8, 31, 12), Qt::UTC));
    QCOMPARE(recalibrated.serialNumber, QString("40317-00815"));
    QCOMPARE(recalibrated.foundHigh.value, 604.2);
    QCOMPARE(recalibrated.foundHigh.verdict, history::Verdict::Fail);
    QCOMPARE(recalibrated.leftLow.windowHigh, 210.0);
    QCOMPARE(recalibrated.meanCounts.value_or(-1), 201234.4);
    QCOMPARE(recalibrated.outcome, Outcome::Recalibrated);
    QCOMPARE(recalibrated.recordPath, QString("/home/tech/records/40317-00815.txt"));
    QCOMPARE(recalibrated.recordDigest, QString());
    const Run &lost = runs.at(1);
    QCOMPARE(lost.outcome, Outcome::LinkLost);
    QCOMPARE(lost.outcomeDetail, QString("validation high"));
    QVERIFY(!lost.ended.isValid());
    QVERIFY(!lost.meanCounts.has_value());
    QVERIFY(!lost.foundHigh.taken());
    QVERIFY(lost.unsavedConstants);

    // Its revisions 1 and 2 never reached the history: late, they are
    // superseded by the third.
    Run older = recalibrated;
    older.revision = 2;
    older.outcome = Outcome::Interrupted;
    QCOMPARE(store.write(older, &error).kind, WriteResult::Superseded);
    QCOMPARE(store.allRuns().at(0).outcome, Outcome::Recalibrated);
    QCOMPARE(store.allRuns().at(0).recordedBy, QString());

    // What version 2 brought works on the migrated data.
    Run next = recalibrated;
    next.revision = 4;
    next.recordDigest = QString(64, 'c');
    QVERIFY2(store.write(next, &error), qPrintable(error));
    QVERIFY(store.hasRecordDigest(QString(64, 'c')));
    QCOMPARE(store.sensors().size(), 2);
    // Opening again finds nothing left to do.
    Store again(db->location());
    OPEN_STORE(again);
    QCOMPARE(again.schemaVersion(), Store::kSchemaVersion);
    QCOMPARE(again.identity(), store.identity());
    QCOMPARE(again.allRuns().size(), 2);
}

// A migration that fails half-way leaves the database as it was, so that
// the next start, once the cause is gone, applies it whole.
void TestHistoryStore::failedMigrationChangesNothing()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    QString error;
    // An index someone made by hand under the name version 2 uses: its last
    // step fails after the others have run.
    QVERIFY2(db->exec(kVersion1Schema +
                          QStringList{"CREATE INDEX runs_by_record_digest ON runs (record_path)"},
                      &error),
             qPrintable(error));
    {
        Store store(db->location());
        QVERIFY(!store.open(&error));
        QVERIFY2(error.contains(db->location().describe()) && error.contains("version 2"),
                 qPrintable(error));
    }
    const bool sqlite = db->location().kind == Location::Kind::SQLite;
    const QString digestColumn =
        sqlite ? "SELECT COUNT(*) FROM pragma_table_info('runs') WHERE name = 'record_digest'"
               : "SELECT COUNT(*) FROM information_schema.columns"
                 " WHERE table_name = 'runs' AND column_name = 'record_digest'";
    const QString serialIndex =
        sqlite ? "SELECT COUNT(*) FROM sqlite_master WHERE name = 'runs_by_serial'"
               : "SELECT COUNT(*) FROM pg_indexes WHERE indexname = 'runs_by_serial'";
    QCOMPARE(db->value("SELECT MAX(version) FROM schema_version").toInt(), 1);
    QCOMPARE(db->value(digestColumn).toInt(), 0);
    QCOMPARE(db->value(serialIndex).toInt(), 0);
    QCOMPARE(db->value("SELECT COUNT(*) FROM runs").toInt(), 2);

    QVERIFY2(db->exec({"DROP INDEX runs_by_record_digest"}, &error), qPrintable(error));
    Store store(db->location());
    OPEN_STORE(store);
    QCOMPARE(store.schemaVersion(), Store::kSchemaVersion);
    QCOMPARE(store.allRuns().size(), 2);
    QCOMPARE(db->value("SELECT COUNT(*) FROM run_revisions WHERE record_digest = ''").toInt(), 2);
}

void TestHistoryStore::refusesNewerSchema()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    QString error;
    const QString newer = QString::number(Store::kSchemaVersion + 1);
    QVERIFY2(
        db->exec({"CREATE TABLE schema_version (version INTEGER PRIMARY KEY, applied TEXT)",
                  "INSERT INTO schema_version VALUES (" + newer + ", '2027-06-01T00:00:00.000Z')",
                  "CREATE TABLE runs (run_key TEXT PRIMARY KEY, shape TEXT)",
                  "INSERT INTO runs VALUES ('k', 'of things to come')"},
                 &error),
        qPrintable(error));
    const bool sqlite = db->location().kind == Location::Kind::SQLite;
    const QString before = sqlite ? fileDigest(db->location().path) : QString();

    Store store(db->location());
    QVERIFY(!store.open(&error));
    QVERIFY2(error.contains(db->location().describe()), qPrintable(error));
    QVERIFY2(error.contains(newer) && error.contains("newer"), qPrintable(error));
    QVERIFY(!store.isOpen());
    QVERIFY(store.sensors().isEmpty());
    Run run = historytest::sampleRun(1);
    QVERIFY(!store.write(run, &error));

    // Untouched: the same bytes, no WAL file; on the server the same rows.
    if (sqlite) {
        QCOMPARE(fileDigest(db->location().path), before);
        QVERIFY(!QFile::exists(db->location().path + "-wal"));
    }
    QCOMPARE(db->value("SELECT MAX(version) FROM schema_version").toInt(), newer.toInt());
    QCOMPARE(db->value("SELECT COUNT(*) FROM schema_version").toInt(), 1);
    QCOMPARE(db->value("SELECT shape FROM runs WHERE run_key = 'k'").toString(),
             QString("of things to come"));
    const QString indexes = sqlite ? "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index'"
                                   : "SELECT COUNT(*) FROM pg_indexes WHERE tablename = 'runs'";
    const int indexCount = db->value(indexes).toInt();
    QVERIFY(!store.open(&error));
    QCOMPARE(db->value(indexes).toInt(), indexCount);
}

// Stations that meet a new database at the same moment all create its
// schema: each must find it made by another, or make it alone.
void TestHistoryStore::concurrentFirstOpen()
{
    constexpr int kRounds = 4;
    constexpr int kConnections = 8;
    for (int round = 0; round < kRounds; ++round) {
        std::unique_ptr<TestDatabase> db;
        NEED_DATABASE(db);
        QMutex mutex;
        QWaitCondition go;
        bool started = false;
        QStringList errors;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < kConnections; ++i) {
            threads.emplace_back(QThread::create([&] {
                {
                    QMutexLocker lock(&mutex);
                    while (!started)
                        go.wait(&mutex);
                }
                Store store(db->location());
                QString error;
                const bool opened = store.open(&error);
                QMutexLocker lock(&mutex);
                if (!opened)
                    errors << error;
            }));
            threads.back()->start();
        }
        QThread::msleep(50); // every thread at the gate
        {
            QMutexLocker lock(&mutex);
            started = true;
            go.wakeAll();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(60000));
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        QCOMPARE(db->value("SELECT COUNT(*) FROM schema_version").toInt(), Store::kSchemaVersion);
        QCOMPARE(db->value("SELECT MAX(version) FROM schema_version").toInt(),
                 Store::kSchemaVersion);
    }
}

void TestHistoryStore::passwordRole_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("in the location") << "location";
    QTest::newRow("kept apart in the settings") << "settings";
    QTest::newRow("wrong password") << "wrong";
}

// The role with a password, as a shared database would have one: the
// password must reach the server, and never any message.
void TestHistoryStore::passwordRole()
{
    HISTORY_NEED_POSTGRES();
    const QString url = qEnvironmentVariable(historytest::kPasswordVariable);
    QVERIFY2(!url.isEmpty(), "the test server has no role with a password");
    Location withPassword;
    QString error;
    QVERIFY2(history::parseLocation(url, &withPassword, &error), qPrintable(error));
    QVERIFY(!withPassword.password.isEmpty());

    QFETCH(QString, how);
    Location location = withPassword;
    if (how == "settings") {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("zolvex.conf"), QSettings::IniFormat);
        QString withoutPassword = url;
        withoutPassword.replace(QRegularExpression(":[^:@/]*@"), "@");
        settings.setValue(history::kDatabaseKey, withoutPassword);
        settings.setValue(history::kPasswordKey, withPassword.password);
        location = history::configuredLocation(settings, QProcessEnvironment(), dir.path());
        QCOMPARE(location.password, withPassword.password);
    } else if (how == "wrong") {
        location.password = withPassword.password + "x";
    }
    Store store(location);
    const bool opened = store.open(&error);
    if (how == "wrong") {
        QVERIFY(!opened);
        QVERIFY2(error.contains(location.describe()), qPrintable(error));
        QVERIFY2(error.contains("password", Qt::CaseInsensitive), qPrintable(error));
        QVERIFY2(!error.contains(withPassword.password), qPrintable(error));
        return;
    }
    QVERIFY2(opened, qPrintable(error));
    Run run = historytest::sampleRun(20, "PW-1");
    run.key = QStringLiteral("password role %1").arg(how);
    QVERIFY2(store.write(run, &error), qPrintable(error));
    const QList<Run> back = store.runsOf("PW-1");
    QVERIFY(std::any_of(back.begin(), back.end(), [&](const Run &r) { return r.key == run.key; }));
}

void TestHistoryStore::nextDue_data()
{
    QTest::addColumn<QDateTime>("lastValidation");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QDate>("today");
    QTest::addColumn<QDate>("due");
    QTest::addColumn<bool>("overdue");

    // Just after midnight UTC is the same day in Auckland, where this runs.
    const auto early = [](int y, int m, int d) {
        return QDateTime(QDate(y, m, d), QTime(0, 30), Qt::UTC);
    };
    const QDate today(2026, 12, 7);
    QTest::newRow("never validated: due today") << QDateTime() << 365 << today << today << false;
    QTest::newRow("validated a month ago")
        << early(2026, 11, 7) << 365 << today << QDate(2027, 11, 7) << false;
    QTest::newRow("due today is not overdue")
        << early(2025, 12, 7) << 365 << today << today << false;
    QTest::newRow("a day late") << early(2025, 12, 6) << 365 << today << QDate(2026, 12, 6) << true;
    QTest::newRow("a leap year between")
        << early(2027, 12, 7) << 366 << QDate(2028, 1, 1) << QDate(2028, 12, 7) << false;
    QTest::newRow("a 30-day interval")
        << early(2026, 11, 1) << 30 << today << QDate(2026, 12, 1) << true;
    QTest::newRow("no interval is the default one")
        << early(2026, 11, 1) << 0 << today << QDate(2027, 11, 1) << false;
    // 23:30 UTC on 31 March is 1 April in Auckland.
    QTest::newRow("the local calendar") << QDateTime(QDate(2026, 3, 31), QTime(23, 30), Qt::UTC)
                                        << 30 << QDate(2026, 4, 1) << QDate(2026, 5, 1) << false;
}

void TestHistoryStore::nextDue()
{
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Pacific/Auckland");
    tzset();
    QFETCH(QDateTime, lastValidation);
    QFETCH(int, interval);
    QFETCH(QDate, today);
    SensorSummary sensor;
    sensor.serialNumber = QStringLiteral("40317-00815");
    sensor.lastValidation = lastValidation;
    const QDate due = history::nextDue(sensor, interval, today);
    const bool late = history::overdue(sensor, interval, today);
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    tzset();
    QTEST(due, "due");
    QTEST(late, "overdue");
}

// A record's date is a date: in any time zone it stays that day, it is due
// a year from that day, and it never hides a timed run of the same day.
// A run without an end (unless `ended`), its newest revision `age` seconds
// old; its station's latest start `later` seconds after its own.
void TestHistoryStore::inProgress_data()
{
    QTest::addColumn<bool>("ended");
    QTest::addColumn<qint64>("age");
    QTest::addColumn<qint64>("later");
    QTest::addColumn<bool>("inProgress");
    const qint64 limit = history::kInProgressSeconds;
    QTest::newRow("just identified") << false << qint64(60) << qint64(0) << true;
    QTest::newRow("a snapshot before the limit") << false << limit - 1 << qint64(0) << true;
    QTest::newRow("nothing since the limit") << false << limit << qint64(0) << false;
    QTest::newRow("its station ran another") << false << qint64(60) << qint64(30) << false;
    QTest::newRow("ended") << true << qint64(60) << qint64(0) << false;
}

// Also as the window asks and the export writes it, stored just now.
void TestHistoryStore::inProgress()
{
    QFETCH(bool, ended);
    QFETCH(qint64, age);
    QFETCH(qint64, later);
    QFETCH(bool, inProgress);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    Run run = at(historytest::sampleRun(1), "P-1", Outcome::Interrupted, now.addSecs(-age - 60));
    run.source = history::Source::Station;
    run.ended = ended ? now : QDateTime();
    run.recordedAt = now.addSecs(-age);
    const QDateTime latest = run.started.addSecs(later);
    QCOMPARE(history::inProgress(run, latest, now), inProgress);

    TestDatabase db("sqlite");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    Store store(db.location());
    OPEN_STORE(store);
    QString error;
    QVERIFY2(store.write(run, &error), qPrintable(error));
    if (later)
        QVERIFY2(store.write(at(run, "P-2", Outcome::Cancelled, latest), &error),
                 qPrintable(error));
    QList<SensorSummary> sensors = store.sensors(&error);
    store.markInProgress(&sensors, now);
    QCOMPARE(sensors.first().lastInProgress, !ended && !later);
    const QString path = QDir(db.folder()).filePath("all.csv");
    QVERIFY(history::exportHistoryToCsv(db.location(), path, &error) > 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().contains(",in-progress,"), !ended && !later);
}

void TestHistoryStore::dateOnlyRuns_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("zone");
    for (const char *database : {"sqlite", "postgresql"}) {
        for (const char *zone : {"America/Los_Angeles", "Australia/Brisbane"})
            QTest::addRow("%s in %s", database, zone) << QString(database) << QString(zone);
    }
}

void TestHistoryStore::dateOnlyRuns()
{
    QFETCH(QString, zone);
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", zone.toLatin1());
    tzset();
    const auto restore = qScopeGuard([&] {
        if (saved.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", saved);
        tzset();
    });
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);

    const QDate day(2026, 3, 5);
    QByteArray bytes;
    Run recorded =
        at(historytest::sampleRun(1), "40317-00815", Outcome::ValidatedDateSet, QDateTime());
    recorded.source = history::Source::Import;
    recorded.date = day;
    recorded.started = day.startOfDay(Qt::LocalTime).toUTC();
    recorded.key = "record:" + QString(64, 'a');
    // 09:00 that day, here: the link went with new constants in the sensor.
    Run lost = at(historytest::sampleRun(2), "40317-00815", Outcome::LinkLost,
                  QDateTime(day, QTime(9, 0), Qt::LocalTime).toUTC());
    QString error;
    QVERIFY2(store.write(recorded, &error), qPrintable(error));
    QVERIFY2(store.write(lost, &error), qPrintable(error));

    const QList<SensorSummary> list = store.sensors(&error, QDate(2026, 3, 6));
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first().lastOutcome, Outcome::LinkLost);
    QCOMPARE(history::nextDue(list.first(), 365, QDate(2026, 3, 6)), QDate(2027, 3, 5));
    // Read in a zone west of both, where its start is the day before, the
    // record's day is still its day.
    qputenv("TZ", "Pacific/Pago_Pago");
    tzset();
    const QList<SensorSummary> far = store.sensors(&error, QDate(2026, 3, 6));
    QCOMPARE(far.size(), 1);
    QCOMPARE(far.first().lastValidationDay(), day);
    QCOMPARE(history::nextDue(far.first(), 365, QDate(2026, 3, 6)), QDate(2027, 3, 5));
    const QList<Run> runs = store.runsOf("40317-00815", &error);
    QCOMPARE(runs.size(), 2);
    QCOMPARE(runs.first().key, recorded.key);
    QCOMPARE(runs.first().date, day);
    QCOMPARE(runs.first().localDate(), day);
    QVERIFY(!runs.last().dateOnly());
}

// Each database has an identity of its own from its creation; a copy of an
// SQLite file keeps it (it is the same history, elsewhere).
void TestHistoryStore::identity()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    std::unique_ptr<TestDatabase> other;
    {
        QFETCH(QString, database);
        other = std::make_unique<TestDatabase>(database);
        QVERIFY2(other->ok(), qPrintable(other->error()));
    }
    Store store(db->location());
    QVERIFY(store.identity().isEmpty());
    OPEN_STORE(store);
    Store second(other->location());
    OPEN_STORE(second);
    QVERIFY(!QUuid::fromString(store.identity()).isNull());
    QVERIFY(!QUuid::fromString(second.identity()).isNull());
    QVERIFY(store.identity() != second.identity());
    QCOMPARE(db->value("SELECT COUNT(*) FROM history_identity").toInt(), 1);
    Store again(db->location());
    OPEN_STORE(again);
    QCOMPARE(again.identity(), store.identity());
}

// A station's role copies a run's newest revision by hand as its next one,
// with one column (SQL) forged: the server refuses it, or stores its own.
void TestHistoryStore::stationRole_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("forged");
    QTest::addColumn<bool>("refused");
    QTest::newRow("a revision skipped ahead") << "revision"
                                              << "99999" << true;
    QTest::newRow("another station") << "station"
                                     << "'bench-9.elsewhere'" << true;
    QTest::newRow("back-dated") << "recorded_at"
                                << "'2000-01-01T00:00:00.000Z'" << false;
    QTest::newRow("another login") << "recorded_by"
                                   << "'zolvex_owner'" << false;
}

// A station needs no more than INSERT and SELECT: the owner creates and
// migrates the schema, the stations' role cannot change a stored run, and
// the server decides what a station cannot.
void TestHistoryStore::stationRole()
{
    QFETCH(QString, column);
    QFETCH(QString, forged);
    QFETCH(bool, refused);
    HISTORY_NEED_POSTGRES();
    TestDatabase db("postgresql");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    {
        Store owner(db.location());
        OPEN_STORE(owner);
        QVERIFY(owner.write(historytest::sampleRun(1), nullptr));
    }
    const QString role =
        QStringLiteral("zolvex_station_%1").arg(QRandomGenerator::global()->generate() % 100000);
    QString error;
    // As README.md says to grant it.
    QVERIFY2(db.exec({"CREATE ROLE " + role + " LOGIN",
                      "GRANT CONNECT ON DATABASE " + db.location().database + " TO " + role,
                      "GRANT USAGE ON SCHEMA public TO " + role,
                      "GRANT SELECT ON schema_version, history_identity, runs TO " + role,
                      "GRANT SELECT, INSERT ON run_revisions TO " + role,
                      "GRANT SELECT, INSERT ON sensor_states, intervals TO " + role},
                     &error),
             qPrintable(error));
    const auto dropRole = qScopeGuard([&] {
        QString ignored;
        db.exec({"DROP OWNED BY " + role, "DROP ROLE " + role}, &ignored);
    });
    Location asStation = db.location();
    asStation.user = role;
    {
        Store station(asStation);
        OPEN_STORE(station);
        Run next = historytest::sampleRun(1);
        ++next.revision;
        QCOMPARE(station.write(next, &error).kind, WriteResult::Written);
        QCOMPARE(station.write(historytest::sampleRun(2), &error).kind, WriteResult::Written);
        error.clear();
        QCOMPARE(station.sensors(&error).size(), 2);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // It may retire a sensor: a revision by its own login.
        QVERIFY(history::changeSensorState(station, next.serialNumber, next.sensorType, true, "x"));
        QHash<QString, history::SensorState> states;
        QVERIFY(history::sensorStates(station, &states, &error));
        QCOMPARE(states.begin()->stamp.recordedBy, role);
        QCOMPARE(station.revisionsOf(next.key, &error).size(), 2);
        QCOMPARE(station.revisionsOf(next.key, &error).last().recordedBy, role);

        QSqlQuery forge(station.database());
        QVERIFY(forge.prepare(copiedRevision(column, forged, "revision = 2")));
        QCOMPARE(forge.exec(), !refused);
        QVERIFY2(!refused || forge.lastError().text().contains("refused"),
                 qPrintable(forge.lastError().text()));

        for (const QString &change :
             {QStringLiteral("UPDATE run_revisions SET outcome = 'validated-date-set'"),
              QStringLiteral("DELETE FROM run_revisions")}) {
            QSqlQuery query(station.database());
            QVERIFY2(!query.exec(change), qPrintable(change));
            QVERIFY2(query.lastError().text().contains("permission denied"),
                     qPrintable(query.lastError().text()));
        }
    }
    QCOMPARE(db.value("SELECT COUNT(*) FROM run_revisions").toInt(), refused ? 3 : 4);
    QCOMPARE(db.value("SELECT COUNT(*) FROM run_revisions WHERE " + column + " = " + forged), 0);
}

// 10,000 runs of 500 sensors: the sensor list must come back at once.
// The export writes the runs as it reads them: the file holds the same
// text as every run of the history formatted at once, newest revisions only.
void TestHistoryStore::exportStreamsEveryRun()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);
    const Run base = historytest::sampleRun(1);
    Run revised = at(base, "E-2", Outcome::Cancelled, utc(2025, 4, 1));
    const QList<Run> runs{at(base, "E-1", Outcome::ValidatedDateSet, utc(2025, 1, 10)), revised,
                          at(base, "E-3", Outcome::Recalibrated, utc(2025, 2, 2))};
    revised.revision += 1;
    revised.outcome = Outcome::ValidatedNoRecord;
    QString error;
    for (const Run &run : runs + QList<Run>{revised})
        QVERIFY2(store.write(run, &error), qPrintable(error));
    const QString path = QDir(db->folder()).filePath("all.csv");
    QCOMPARE(history::exportHistoryToCsv(db->location(), path, &error), 3);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Each naming a standard the empty register does not know.
    QCOMPARE(file.readAll(), history::toCsv(store.allRuns(), [](const Run &run) {
                 return history::standardFindingLine(run, {});
             }));
}

void TestHistoryStore::manySensors()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    constexpr int kSensors = 500;
    constexpr int kRunsEach = 20;
    Store store(db->location());
    OPEN_STORE(store);
    const Run base = historytest::sampleRun(1);
    const QList<Outcome> outcomes{Outcome::ValidatedDateSet, Outcome::Cancelled,
                                  Outcome::Recalibrated, Outcome::LinkLost};
    QElapsedTimer clock;
    clock.start();
    for (int s = 0; s < kSensors; ++s) {
        const QString serial = QStringLiteral("S-%1").arg(s, 4, 10, QLatin1Char('0'));
        for (int r = 0; r < kRunsEach; ++r) {
            const Run run = at(base, serial, outcomes.at((s + r) % outcomes.size()),
                               utc(2020, 1, 1).addDays(r * 30 + s % 7));
            QString error;
            QVERIFY2(store.write(run, &error), qPrintable(error));
        }
    }
    const qint64 writing = clock.restart();
    const QList<SensorSummary> list = store.sensors();
    const qint64 listing = clock.restart();
    const QList<Run> one = store.runsOf("S-0250");
    const qint64 oneSensor = clock.restart();
    const QList<Run> all = store.allRuns();
    const qint64 everything = clock.restart();
    qInfo("%s: %d writes %lld ms; sensors() %lld ms; runsOf() %lld ms; allRuns() %lld ms",
          qPrintable(db->location().describe()), kSensors * kRunsEach, writing, listing, oneSensor,
          everything);

    QCOMPARE(list.size(), kSensors);
    QCOMPARE(one.size(), kRunsEach);
    QCOMPARE(all.size(), kSensors * kRunsEach);
    for (const SensorSummary &sensor : list) {
        QCOMPARE(sensor.runs, kRunsEach);
        QVERIFY(sensor.lastValidation.isValid());
        QCOMPARE(
            sensor.lastRun,
            utc(2020, 1, 1).addDays((kRunsEach - 1) * 30 + sensor.serialNumber.mid(2).toInt() % 7));
    }
    // A generous bound, for a busy machine: without the index by serial
    // number the list takes seconds.
    QVERIFY2(listing < 1000, qPrintable(QString::number(listing)));
}

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_historystore.moc"
