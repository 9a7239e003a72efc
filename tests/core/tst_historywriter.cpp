// The writer beside the calibration screen: a run is in its pending file
// before any database is asked, leaves it only once the database has it,
// stays there with the reason when the database cannot take it, and reaches
// the database at the next start. Two station processes share a database
// without losing a run.

#include "core/history/store.h"
#include "core/history/writer.h"
#include "tests/support/historydatabases.h"

#include "core/history/pendingfiles.h"
#include "core/history/runformat.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <sys/stat.h>

using history::Location;
using history::Outcome;
using history::Pending;
using history::Run;
using history::Store;
using history::Writer;
using historytest::TestDatabase;

namespace
{
QMutex messagesMutex;
QStringList warnings;
QtMessageHandler previousHandler = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg) {
        QMutexLocker lock(&messagesMutex);
        warnings << message;
    }
    previousHandler(type, context, message);
}

QStringList takeWarnings()
{
    QMutexLocker lock(&messagesMutex);
    QStringList taken;
    taken.swap(warnings);
    return taken;
}

Run sample(int seed)
{
    Run run = historytest::sampleRun(seed);
    run.revision = 1;
    return run;
}

QString differenceFromStored(const Location &location, const Run &expected)
{
    Store store(location);
    QString error;
    if (!store.open(&error))
        return error;
    const QList<Run> runs = store.runsOf(expected.serialNumber);
    for (Run run : runs) {
        if (run.key != expected.key)
            continue;
        // The history numbers the snapshots it got; never past the station.
        if (run.revision < 1 || run.revision > expected.revision)
            return QStringLiteral("stored as revision %1").arg(run.revision);
        run.revision = expected.revision;
        return historytest::runDifference(expected, run);
    }
    return QStringLiteral("%1 is not in the database").arg(expected.key);
}

// The first run the database does not hold as given; empty when it holds all.
QString differenceFromStored(const Location &location, const QList<Run> &expected)
{
    for (const Run &run : expected) {
        const QString difference = differenceFromStored(location, run);
        if (!difference.isEmpty())
            return difference;
    }
    return QString();
}

// Holds SQLite's write lock on a database, as another station in the
// middle of its write would.
class WriteLock
{
public:
    explicit WriteLock(const QString &path) : name_(QStringLiteral("lock-%1").arg(quintptr(this)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name_);
        db.setDatabaseName(path);
        held_ = db.open() && QSqlQuery(db).exec("BEGIN IMMEDIATE");
    }
    ~WriteLock()
    {
        release();
        QSqlDatabase::removeDatabase(name_);
    }
    bool held() const { return held_; }
    void release()
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (held_)
            QSqlQuery(db).exec("ROLLBACK");
        held_ = false;
        db.close();
    }

private:
    QString name_;
    bool held_ = false;
};
} // namespace

class TestHistoryWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void pendingFileComesFirst();
    void closingLeavesRunsPending();
    void unwritable_data();
    void unwritable();
    void keysAsFileNames();
    void notice_data();
    void notice();
    void stations_data();
    void stations();
    void filesPrivateWhateverTheUmask();
    void folderLockHeld();
    void meantForItsHistory_data();
    void meantForItsHistory();
    void refusedFilesSetAside_data();
    void refusedFilesSetAside();
    void olderSnapshotKeepsNewerFile();
    void earlierFailuresWrittenWhenBack();
    void lostRunMadeKnownAndRetried();
    void leftoversOfAKillCleared();
    void fullDiskSaysSo();
    void closingWhileDatabaseHangs();
    void snapshotsKeptInOrder_data();
    void snapshotsKeptInOrder();
    void killedStationLeavesItsRuns();
    void closingKeepsLastSnapshots();
};

void TestHistoryWriter::initTestCase()
{
    previousHandler = qInstallMessageHandler(collectWarnings);
}

void TestHistoryWriter::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

// While another station holds the database, record() returns at once with
// the run safe in its pending file; the writer keeps trying and finishes once
// the database is free, and a later revision recorded meanwhile wins over an
// earlier one.
void TestHistoryWriter::pendingFileComesFirst()
{
    TestDatabase db("sqlite");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    {
        Store store(db.location());
        QString error;
        QVERIFY2(store.open(&error), qPrintable(error));
    }
    WriteLock lock(db.location().path);
    QVERIFY(lock.held());
    const QString pending = db.folder() + "/pending";

    Writer writer(db.location(), pending);
    QSignalSpy failed(&writer, &Writer::failed);
    const Run first = sample(1);
    QElapsedTimer clock;
    clock.start();
    writer.record(first);
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));

    QList<Pending> waiting = history::pendingRuns(pending);
    QCOMPARE(waiting.size(), 1);
    QVERIFY(historytest::runDifference(first, waiting.first().run).isEmpty());
    QVERIFY(waiting.first().error.isEmpty());

    Run third = first;
    third.revision = 3;
    third.outcome = history::Outcome::Recalibrated;
    Run second = first;
    second.revision = 2;
    second.outcome = history::Outcome::Cancelled;
    writer.record(third);
    writer.record(second); // late: must not replace the third
    waiting = history::pendingRuns(pending);
    QCOMPARE(waiting.size(), 1);
    QCOMPARE(waiting.first().run.revision, 3);

    // The database stays held longer than SQLite waits for a lock at a
    // time: the writer tries again rather than giving up.
    QVERIFY(!writer.waitForIdle(4000));
    QCOMPARE(QDir(pending).entryList(QDir::Files).size(), 1);
    lock.release();
    QVERIFY(writer.waitForIdle(30000));
    QCOMPARE(failed.count(), 0);
    QVERIFY(history::pendingRuns(pending).isEmpty());
    QVERIFY(QDir(pending).entryList(QDir::Files | QDir::Hidden).isEmpty());
    const QString difference = differenceFromStored(db.location(), third);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// Closing the program while the database is held waits a bounded time; the
// runs it could not write stay pending for the next start.
void TestHistoryWriter::closingLeavesRunsPending()
{
    TestDatabase db("sqlite");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    {
        Store store(db.location());
        QString error;
        QVERIFY2(store.open(&error), qPrintable(error));
    }
    const QString pending = db.folder() + "/pending";
    WriteLock lock(db.location().path);
    QVERIFY(lock.held());
    QList<Run> runs{sample(1), sample(2), sample(3)};
    QElapsedTimer clock;
    {
        Writer writer(db.location(), pending);
        for (const Run &run : runs)
            writer.record(run);
        clock.start();
    }
    qInfo("closing took %lld ms", clock.elapsed());
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(history::pendingRuns(pending).size(), runs.size());
    lock.release();
    {
        Writer writer(db.location(), pending);
        QVERIFY(writer.waitForIdle(30000));
    }
    QVERIFY(history::pendingRuns(pending).isEmpty());
    const QString difference = differenceFromStored(db.location(), runs);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestHistoryWriter::unwritable_data()
{
    QTest::addColumn<QString>("problem");
    QTest::newRow("SQLite in a read-only folder") << "read-only folder";
    QTest::newRow("SQLite file of garbage") << "corrupt file";
    QTest::newRow("PostgreSQL server stopped") << "server stopped";
}

void TestHistoryWriter::unwritable()
{
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    if (problem == "server stopped")
        HISTORY_NEED_POSTGRES();
    historytest::UnwritableHistory unwritable;
    QString error;
    QVERIFY2(unwritable.prepare(problem, dir.path(), &error), qPrintable(error));
    const Location location = unwritable.location();

    const Run run = sample(4);
    takeWarnings();
    {
        Writer writer(location, pending);
        QSignalSpy failed(&writer, &Writer::failed);
        writer.record(run);
        QVERIFY(writer.waitForIdle(60000));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().at(0).toString(), run.key);
        const QString reason = failed.first().at(1).toString();
        QVERIFY2(reason.startsWith(location.describe() + ": "), qPrintable(reason));
        if (!location.password.isEmpty())
            QVERIFY2(!reason.contains(location.password), qPrintable(reason));

        const QList<Pending> waiting = history::pendingRuns(pending);
        QCOMPARE(waiting.size(), 1);
        QVERIFY(historytest::runDifference(run, waiting.first().run).isEmpty());
        QCOMPARE(waiting.first().error, reason);
        const QString text = history::notice(waiting.first());
        QVERIFY2(
            text.endsWith(" for sensor " + run.serialNumber + " could not be recorded: " + reason),
            qPrintable(text));
        const QStringList said = takeWarnings();
        QVERIFY2(said.join('\n').contains(reason), qPrintable(said.join('\n')));
        if (!location.password.isEmpty())
            QVERIFY(!said.join('\n').contains(location.password));
    }
    QCOMPARE(history::pendingRuns(pending).size(), 1);

    // Put right, the next start writes it.
    QVERIFY2(unwritable.repair(&error), qPrintable(error));
    {
        Writer writer(location, pending);
        QSignalSpy failed(&writer, &Writer::failed);
        QVERIFY(writer.waitForIdle(60000));
        QCOMPARE(failed.count(), 0);
    }
    QVERIFY(history::pendingRuns(pending).isEmpty());
    const QString difference = differenceFromStored(location, run);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// Any key becomes a file of its own inside the pending folder.
void TestHistoryWriter::keysAsFileNames()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    Location closed;
    closed.error = "closed for the test";
    const QStringList keys{"a/b",
                           "a_b",
                           "a%2Fb",
                           "../../outside",
                           "..",
                           "record:" + QString(64, 'e'),
                           "{6a1f0c2e-0001-4c55-9d1e-3b7a51c2e9f0}",
                           QString(300, 'k'),
                           QString(299, 'k') + "j",
                           "Prüfstand süd"};
    {
        Writer writer(closed, pending);
        QSignalSpy failed(&writer, &Writer::failed);
        for (const QString &key : keys) {
            Run run = sample(1);
            run.key = key;
            writer.record(run);
        }
        QVERIFY(writer.waitForIdle(30000));
        QCOMPARE(failed.count(), keys.size());
    }
    QStringList found;
    for (const Pending &p : history::pendingRuns(pending)) {
        found << p.run.key;
        QCOMPARE(p.error, QString("closed for the test"));
    }
    found.sort();
    QStringList expected = keys;
    expected.sort();
    QCOMPARE(found, expected);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"pending"});
}

void TestHistoryWriter::notice_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("expected");

    QTest::newRow("a sensor")
        << "40317-00815"
        << "SQLite database /x: the run could not be written: disk I/O error"
        << "The run of 2026-12-07 09:05 for sensor 40317-00815 could not be recorded: SQLite "
           "database /x: the run could not be written: disk I/O error";
    QTest::newRow("no serial number")
        << ""
        << "database is locked"
        << "The run of 2026-12-07 09:05 for sensor (unknown) could not be recorded: database is "
           "locked";
}

void TestHistoryWriter::notice()
{
    QFETCH(QString, serial);
    QFETCH(QString, error);
    Pending pending;
    pending.run = sample(1);
    pending.run.serialNumber = serial;
    // Stored in UTC, shown in local time.
    pending.run.started = QDateTime(QDate(2026, 12, 7), QTime(9, 5, 59), Qt::LocalTime).toUTC();
    pending.error = error;
    QTEST(history::notice(pending), "expected");
}

void TestHistoryWriter::stations_data()
{
    QTest::addColumn<QString>("database");
    QTest::newRow("SQLite") << "sqlite";
    QTest::newRow("PostgreSQL") << "postgresql";
}

// Two stations start on a new database at the same moment (both create the
// schema) and write 200 runs each, three snapshots a run.
void TestHistoryWriter::stations()
{
    constexpr int kRuns = 200;
    QFETCH(QString, database);
    if (database == "postgresql")
        HISTORY_NEED_POSTGRES();
    TestDatabase db(database);
    QVERIFY2(db.ok(), qPrintable(db.error()));

    const QStringList names{"station-a", "station-b"};
    std::vector<std::unique_ptr<QProcess>> stations;
    const auto stopAll = qScopeGuard([&] {
        for (auto &process : stations) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    });
    for (const QString &name : names) {
        auto process = std::make_unique<QProcess>();
        process->start(ZOLVEX_HISTORYSTATION,
                       {db.url(), db.folder() + "/" + name, name, QString::number(kRuns)});
        QVERIFY2(process->waitForStarted(), qPrintable(process->errorString()));
        stations.push_back(std::move(process));
    }
    for (auto &process : stations) {
        process->write("go\n");
        process->closeWriteChannel();
    }
    for (auto &process : stations) {
        const bool finished = process->waitForFinished(240000);
        const QString output =
            QString::fromUtf8(process->readAllStandardOutput() + process->readAllStandardError());
        QVERIFY2(finished && process->exitStatus() == QProcess::NormalExit &&
                     process->exitCode() == 0,
                 qPrintable(output));
    }

    Store store(db.location());
    QString error;
    QVERIFY2(store.open(&error), qPrintable(error));
    QCOMPARE(store.schemaVersion(), Store::kSchemaVersion);
    const QList<Run> runs = store.allRuns();
    QCOMPARE(runs.size(), kRuns * names.size());
    QHash<QString, int> perStation;
    QSet<QString> keys;
    for (const Run &run : runs) {
        ++perStation[run.station];
        keys.insert(run.key);
        QVERIFY(run.revision >= 1 && run.revision <= 3);
        QCOMPARE(run.outcome, history::Outcome::ValidatedDateSet);
        QVERIFY(run.ended.isValid());
        QCOMPARE(run.foundHigh.verdict, history::Verdict::Pass);
    }
    QCOMPARE(keys.size(), runs.size());
    for (const QString &name : names) {
        QCOMPARE(perStation.value(name), kRuns);
        QVERIFY(history::pendingRuns(db.folder() + "/" + name).isEmpty());
    }
}

namespace
{
int modeOf(const QString &path)
{
    struct stat info {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// An SQLite history under a plain file: nothing can be created there until
// the file makes way for a folder.
Location underAFile(const QString &folder)
{
    QFile blocker(folder + "/blocker");
    blocker.open(QIODevice::WriteOnly);
    Location location;
    location.path = blocker.fileName() + "/history.sqlite";
    return location;
}

bool makeWay(const QString &folder)
{
    return QFile::remove(folder + "/blocker") && QDir(folder).mkdir("blocker");
}

QString createHistory(const Location &location)
{
    Store store(location);
    QString error;
    return store.open(&error) ? store.identity() : QString();
}
} // namespace

// Pending runs are the operator's alone, and a reader never sees half a
// file, even with a umask that leaves files readable by all.
void TestHistoryWriter::filesPrivateWhateverTheUmask()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    Location closed;
    closed.error = "closed for the test";
    const mode_t previous = ::umask(022);
    const auto restore = qScopeGuard([previous] { ::umask(previous); });
    {
        Writer writer(closed, pending);
        Run run = sample(1);
        writer.record(run);
        run.revision = 2;
        writer.record(run);
        QVERIFY(writer.waitForIdle(10000));
    }
    QCOMPARE(modeOf(pending), 0700);
    const QStringList names = QDir(pending).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(names,
             QStringList{QFileInfo(history::pendingPath(pending, sample(1).key)).fileName()});
    QCOMPARE(modeOf(QDir(pending).filePath(names.first())), 0600);
}

// The writer touches pending files only with the folder's lock: while
// another process holds it the run waits in memory, and is kept once the
// lock is free.
void TestHistoryWriter::folderLockHeld()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    QVERIFY(QDir().mkpath(pending));
    Location closed;
    closed.error = "closed for the test";
    const Run run = sample(2);
    auto other = std::make_unique<QLockFile>(pending + "/" + history::kLockName);
    QVERIFY(other->tryLock(0));
    Writer writer(closed, pending, nullptr, 200);
    writer.record(run);
    QVERIFY(!QFileInfo::exists(history::pendingPath(pending, run.key)));
    other.reset();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(history::pendingPath(pending, run.key)), 10000);
    const QList<Pending> waiting = history::pendingRuns(pending);
    QCOMPARE(waiting.size(), 1);
    QVERIFY(historytest::runDifference(run, waiting.first().run).isEmpty());
}

void TestHistoryWriter::meantForItsHistory_data()
{
    QTest::addColumn<bool>("samePlace");
    QTest::addColumn<QString>("identity");
    QTest::addColumn<bool>("taken");
    QTest::newRow("its own history") << true << "own" << true;
    QTest::newRow("its own, identity not known yet") << true << "" << true;
    QTest::newRow("another database at the same place") << true << "other" << false;
    QTest::newRow("a copy of its history elsewhere") << false << "own" << false;
}

// A pending run goes only into the history it was recorded for; any other
// leaves it pending and says why.
void TestHistoryWriter::meantForItsHistory()
{
    QFETCH(bool, samePlace);
    QFETCH(QString, identity);
    QFETCH(bool, taken);
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    Location target;
    target.path = dir.filePath("history.sqlite");
    const QString targetIdentity = createHistory(target);
    QVERIFY(!targetIdentity.isEmpty());
    Location named;
    named.path = samePlace ? target.path : dir.filePath("original.sqlite");
    Pending entry;
    entry.run = sample(3);
    entry.location = history::locationText(named);
    entry.identity = identity == "own" ? targetIdentity : identity == "other" ? "elsewhere" : "";
    QString error;
    QVERIFY(QDir().mkpath(pending));
    QVERIFY2(history::keepPending(pending, entry, &error), qPrintable(error));

    {
        Writer writer(target, pending);
        QSignalSpy failed(&writer, &Writer::failed);
        QVERIFY(writer.waitForIdle(30000));
        QCOMPARE(failed.count(), taken ? 0 : 1);
        if (!taken)
            QCOMPARE(failed.first().at(1).toString(),
                     "meant for another history: " + entry.location);
    }
    Store store(target);
    QVERIFY(store.open(&error));
    QCOMPARE(store.allRuns().size(), taken ? 1 : 0);
    QCOMPARE(history::pendingRuns(pending).size(), taken ? 0 : 1);
}

void TestHistoryWriter::refusedFilesSetAside_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    Run run = sample(5);
    const QString own = QFileInfo(history::pendingPath("x", run.key)).fileName();
    QTest::newRow("another run's name")
        << "someone-else.json" << history::toJson(run) << "its name is not that of the run";
    QTest::newRow("no run") << own << QByteArray("{\"key\": 12") << "it holds no run";
    Run future = run;
    future.started = QDateTime::currentDateTimeUtc().addDays(3);
    future.date = QDate();
    QTest::newRow("dated after tomorrow")
        << own << history::toJson(future) << "it is dated in the future";
    Run huge = run;
    huge.revision = 2147483647;
    QTest::newRow("revision out of range")
        << own << history::toJson(huge) << "its revision 2147483647 is not";
    Run practice = run;
    practice.serialNumber = "TR-20415";
    QTest::newRow("a practice run, for the real history")
        << own << history::toJson(practice) << "a practice record of the training program";
}

// A file that holds no plausible run of its own name never reaches the
// database and is never deleted: it is set aside with its reason, and
// listed.
void TestHistoryWriter::refusedFilesSetAside()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    QVERIFY(QDir().mkpath(pending));
    {
        QFile file(QDir(pending).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    Location target;
    target.path = dir.filePath("history.sqlite");
    {
        Writer writer(target, pending);
        QVERIFY(writer.waitForIdle(30000));
    }
    Store store(target);
    QString error;
    QVERIFY(store.open(&error));
    QCOMPARE(store.allRuns().size(), 0);
    QVERIFY(history::pendingRuns(pending).isEmpty());
    const QList<history::DamagedFile> damaged = history::damagedPending(pending);
    QCOMPARE(damaged.size(), 1);
    QVERIFY2(damaged.first().reason.contains(reason), qPrintable(damaged.first().reason));
    QFile kept(damaged.first().path);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
}

// A snapshot that failed after a newer one was kept never replaces it.
void TestHistoryWriter::olderSnapshotKeepsNewerFile()
{
    QTemporaryDir dir;
    Pending newer;
    newer.run = sample(6);
    newer.run.revision = 3;
    Pending older = newer;
    older.run.revision = 1;
    older.error = "the database failed";
    QString error;
    QVERIFY2(history::keepPending(dir.path(), newer, &error), qPrintable(error));
    QVERIFY2(history::keepPending(dir.path(), older, &error), qPrintable(error));
    const QList<Pending> waiting = history::pendingRuns(dir.path());
    QCOMPARE(waiting.size(), 1);
    QCOMPARE(waiting.first().run.revision, 3);
    QVERIFY(waiting.first().error.isEmpty());
}

// A database that comes back takes the runs that failed before it, not
// only the one that found it back, long before the next periodic retry.
void TestHistoryWriter::earlierFailuresWrittenWhenBack()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    const Location location = underAFile(dir.path());
    Writer writer(location, pending, nullptr, 3600 * 1000);
    QSignalSpy failed(&writer, &Writer::failed);
    const Run early = sample(7);
    writer.record(early);
    QVERIFY(writer.waitForIdle(10000));
    QCOMPARE(failed.count(), 1);
    QVERIFY(makeWay(dir.path()));
    const Run late = sample(8);
    writer.record(late);
    QVERIFY(writer.waitForIdle(30000));
    QVERIFY(history::pendingRuns(pending).isEmpty());
    for (const Run &run : {early, late}) {
        const QString difference = differenceFromStored(location, run);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

// A run that has neither a database nor a pending file is said, once, and
// kept in memory until the database takes it.
void TestHistoryWriter::lostRunMadeKnownAndRetried()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    {
        QFile file(pending);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const Location location = underAFile(dir.path());
    Writer writer(location, pending, nullptr, 300);
    QSignalSpy lost(&writer, &Writer::lost);
    Run run = sample(9);
    writer.record(run);
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    QCOMPARE(lost.first().at(0).toString(), run.key);
    QCOMPARE(lost.first().at(1).toString(), history::runName(run));
    QVERIFY(lost.first().at(1).toString().contains(run.serialNumber));
    const QString reason = lost.first().at(2).toString();
    QVERIFY2(reason.contains(location.path) && reason.contains(pending), qPrintable(reason));

    run.revision = 2;
    writer.record(run);
    QTest::qWait(1000); // a few retries
    QCOMPARE(lost.count(), 1);
    QVERIFY(makeWay(dir.path()));
    QTRY_VERIFY_WITH_TIMEOUT(differenceFromStored(location, run).isEmpty(), 10000);
}

// A killed writer leaves its temporary files, and a lock file may be a link;
// the next use of the folder clears what is stale, never following a link.
void TestHistoryWriter::leftoversOfAKillCleared()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    QString error;
    QVERIFY(QDir().mkpath(pending + "/damaged"));
    QVERIFY2(history::keepPending(pending, Pending{sample(10), {}, {}, {}}, &error),
             qPrintable(error));
    for (const QString name :
         {"/.pending-Ab12Cd", "/damaged/.pending-Ef34Gh", "/.pending-Ij56Kl"}) {
        QFile file(pending + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("half") > 0 && file.flush());
        // The last one is new: a writer may be at it.
        QVERIFY(name.endsWith("Kl") || file.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                                        QFileDevice::FileModificationTime));
    }
    QVERIFY(QFile::link(dir.filePath("elsewhere"), pending + "/" + history::kLockName));
    QCOMPARE(history::pendingRuns(pending).size(), 1);
    QVERIFY(!QFileInfo::exists(dir.filePath("elsewhere")));
    QCOMPARE(QDir(pending).entryList({".pending-*"}, QDir::Files | QDir::Hidden) +
                 QDir(pending + "/damaged").entryList(QDir::Files | QDir::Hidden),
             QStringList{".pending-Ij56Kl"});
}

// On a full disk the reason says so, not that a lock or the disk failed.
void TestHistoryWriter::fullDiskSaysSo()
{
    QTemporaryDir dir;
    const QString disk = dir.filePath("disk");
    if (!QDir().mkpath(disk) ||
        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", disk}) != 0)
        QSKIP("a small disk to fill takes root");
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {disk}); });
    Location location;
    location.path = disk + "/history.sqlite";
    Writer writer(location, disk + "/pending");
    QSignalSpy lost(&writer, &Writer::lost);
    QFile filler(disk + "/filler");
    QVERIFY(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(1024, 'x')) > 0 && filler.flush()) {
    }
    writer.record(sample(12));
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    const QString reason = lost.first().at(2).toString();
    QVERIFY2(reason.count("no space left on the device") == 2 && !reason.contains("locked"),
             qPrintable(reason));
}

// A database that hangs (a table held by another connection) holds the
// closing program up no more than a few seconds; the run stays pending and
// reaches the database once it answers.
void TestHistoryWriter::closingWhileDatabaseHangs()
{
    HISTORY_NEED_POSTGRES();
    TestDatabase db("postgresql");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    QVERIFY(!createHistory(db.location()).isEmpty());
    const Location location = db.location();
    historytest::TableLock holder(location);
    QString error;
    QVERIFY2(holder.open(&error), qPrintable(error));
    QVERIFY2(holder.take("run_revisions", &error), qPrintable(error));
    const QString pending = db.folder() + "/pending";
    const Run run = sample(10);
    QElapsedTimer clock;
    {
        Writer writer(location, pending);
        writer.record(run);
        QTest::qWait(300); // the write is under way
        clock.start();
    }
    const qint64 took = clock.elapsed();
    qInfo("closing took %lld ms", took);
    QVERIFY2(took < 4500, qPrintable(QString::number(took)));
    QCOMPARE(history::pendingRuns(pending).size(), 1);

    holder.release();
    // The let-go thread finishes its write and clears the file.
    QTRY_VERIFY_WITH_TIMEOUT(history::pendingRuns(pending).isEmpty(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(differenceFromStored(location, run).isEmpty(), 10000);
}

void TestHistoryWriter::snapshotsKeptInOrder_data()
{
    QTest::addColumn<QList<int>>("revisions");
    QTest::addColumn<int>("runs");
    QTest::newRow("one snapshot") << QList<int>{1} << 1;
    QTest::newRow("a run's snapshots") << QList<int>{1, 2, 3, 4, 5} << 1;
    QTest::newRow("an older one late") << QList<int>{1, 3, 2} << 1;
    QTest::newRow("three runs in turn") << QList<int>{1, 2, 3} << 3;
    QTest::newRow("a burst") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12} << 4;
}

// Each snapshot is whole in its file by the time record() returns, whatever
// is left to flush to the disk, and a file never goes back to an older
// snapshot; the database ends with each run's newest.
void TestHistoryWriter::snapshotsKeptInOrder()
{
    QFETCH(QList<int>, revisions);
    QFETCH(int, runs);
    TestDatabase db("sqlite");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    QVERIFY(!createHistory(db.location()).isEmpty());
    WriteLock lock(db.location().path);
    QVERIFY(lock.held());
    const QString pending = db.folder() + "/pending";
    QList<Run> newest;
    for (int i = 0; i < runs; ++i)
        newest << sample(20 + i);

    Writer writer(db.location(), pending);
    for (const int revision : revisions) {
        for (Run &run : newest) {
            Run snapshot = run;
            snapshot.revision = revision;
            snapshot.outcome = Outcome(revision % 3);
            writer.record(snapshot);
            if (revision >= run.revision)
                run = snapshot;
            const history::PendingRead file =
                history::readPendingFile(history::pendingPath(pending, run.key));
            QCOMPARE(file.state, history::PendingRead::Ok);
            QCOMPARE(file.entry.run.revision, run.revision);
        }
    }
    lock.release();
    QVERIFY(writer.waitForIdle(30000));
    QVERIFY(history::pendingRuns(pending).isEmpty());
    const QString difference = differenceFromStored(db.location(), newest);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// A station killed while it records leaves every run it began in its file,
// whole and in order: all but the newest with their last snapshot, the
// newest interrupted or ended. The next start writes them as they are.
void TestHistoryWriter::killedStationLeavesItsRuns()
{
    constexpr int kRuns = 200;
    constexpr int kRunsBeforeKill = 30;
    constexpr int kLastRevision = 3; // the station's end of a run
    TestDatabase db("sqlite");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    QVERIFY(!createHistory(db.location()).isEmpty());
    // Nothing reaches the database: what the station leaves is in its files.
    WriteLock lock(db.location().path);
    QVERIFY(lock.held());
    const QString pending = db.folder() + "/pending";
    const QString station = "station-k";

    QProcess process;
    process.start(ZOLVEX_HISTORYSTATION, {db.url(), pending, station, QString::number(kRuns)});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    const auto files = [&] {
        return QDir(pending).entryList({QString("*") + history::kPendingSuffix}, QDir::Files);
    };
    process.write("go\n");
    process.closeWriteChannel();
    QVERIFY(QTest::qWaitFor([&] { return files().size() >= kRunsBeforeKill; }, 60000));
    process.kill();
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    {
        // A kill between the folder lock's creation and its contents leaves a
        // lock that counts as stale only after its stale time, as for any
        // program that reads the folder next.
        const history::PendingLock settled(pending, 40000);
        QVERIFY2(settled.locked(), qPrintable(settled.error()));
    }

    const int left = files().size();
    QVERIFY2(left >= kRunsBeforeKill && left < kRuns, qPrintable(QString::number(left)));
    const QList<Pending> waiting = history::pendingRuns(pending);
    QVERIFY(history::damagedPending(pending).isEmpty());
    QCOMPARE(waiting.size(), left);
    for (int i = 0; i < left; ++i) {
        const Run &run = waiting.at(i).run;
        QCOMPARE(run.key, QString("%1/%2").arg(station).arg(i));
        if (i + 1 < left)
            QCOMPARE(run.revision, kLastRevision);
        QCOMPARE(run.outcome,
                 run.revision == kLastRevision ? Outcome::ValidatedDateSet : Outcome::Interrupted);
    }

    lock.release();
    {
        Writer nextStart(db.location(), pending);
        QVERIFY(nextStart.waitForIdle(30000));
    }
    QVERIFY(history::pendingRuns(pending).isEmpty());
    for (const Pending &entry : waiting) {
        const QString difference = differenceFromStored(db.location(), entry.run);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

// Closing straight after a burst of snapshots, the database held, stays
// within its bound and leaves each run's last snapshot in its file.
void TestHistoryWriter::closingKeepsLastSnapshots()
{
    constexpr int kRuns = 30;
    constexpr int kSnapshots = 3;
    constexpr qint64 kBoundMs = 4500; // the grace, the last call and the flushing
    TestDatabase db("sqlite");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    QVERIFY(!createHistory(db.location()).isEmpty());
    WriteLock lock(db.location().path);
    QVERIFY(lock.held());
    const QString pending = db.folder() + "/pending";
    QHash<QString, Run> last;
    QElapsedTimer clock;
    {
        Writer writer(db.location(), pending);
        for (int i = 0; i < kRuns; ++i) {
            Run run = sample(40 + i);
            for (int revision = 1; revision <= kSnapshots; ++revision) {
                run.revision = revision;
                run.outcome = revision == kSnapshots ? Outcome::Recalibrated : Outcome::Interrupted;
                writer.record(run);
            }
            last.insert(run.key, run);
        }
        clock.start();
    }
    const qint64 took = clock.elapsed();
    qInfo("closing took %lld ms", took);
    QVERIFY2(took < kBoundMs, qPrintable(QString::number(took)));
    const QList<Pending> waiting = history::pendingRuns(pending);
    QCOMPARE(waiting.size(), kRuns);
    for (const Pending &entry : waiting) {
        QVERIFY(last.contains(entry.run.key));
        const QString difference = historytest::runDifference(last.value(entry.run.key), entry.run);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

QTEST_GUILESS_MAIN(TestHistoryWriter)
#include "tst_historywriter.moc"
