// Record files against a real history (SQLite, and PostgreSQL where the test
// server runs): the import's decision for each file, copies with other line
// ends recognised as the record the history holds, and the verification of a
// folder of records.

#include "core/history/importer.h"
#include "core/history/recordreader.h"
#include "core/history/store.h"
#include "core/history/trainingserial.h"
#include "core/history/verifier.h"
#include "core/record.h"
#include "core/tipkind.h"
#include "tests/support/historydatabases.h"
#include "tests/support/records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>

using history::FileImport;
using history::ImportRules;
using history::Run;
using history::Store;
using history::VerifiedFile;
using historytest::TestDatabase;

namespace
{

QByteArray withLineFeeds(QByteArray bytes)
{
    return bytes.replace("\r\n", "\n");
}

using testrecords::writeFile;

// A station's run that wrote a record, as the calibration screen keeps it.
Run stationRun(const QString &serial, const QString &path, const QString &digest,
               const QDate &day = {})
{
    Run run = historytest::sampleRun(3, serial);
    run.date = QDate();
    if (day.isValid())
        run.started = QDateTime(day, QTime(12, 0), Qt::UTC);
    run.key = "station-" + serial + "-" + QFileInfo(path).fileName();
    run.source = history::Source::Station;
    run.recordPath = path;
    run.recordDigest = digest;
    return run;
}

const QDate kToday(2026, 6, 15);

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

} // namespace

class TestHistoryRecords : public QObject
{
    Q_OBJECT

private slots:
    void trainingSerials_data();
    void trainingSerials();
    void importDecisions_data();
    void importDecisions();
    void stationRecordIsOneRun_data() { databases(); }
    void stationRecordIsOneRun();
    void olderRawDigestsRecognised_data() { databases(); }
    void olderRawDigestsRecognised();
    void refusedWriteIsReportedAlone_data() { databases(); }
    void refusedWriteIsReportedAlone();
    void verifyFolder_data() { databases(); }
    void verifyFolder();

private:
    static void databases();
};

void TestHistoryRecords::databases()
{
    QTest::addColumn<QString>("database");
    QTest::newRow("SQLite") << "sqlite";
    QTest::newRow("PostgreSQL") << "postgresql";
}

void TestHistoryRecords::trainingSerials_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<bool>("training");
    QTest::newRow("training") << "TR-20415" << true;
    QTest::newRow("lower case") << "tr-20415" << true;
    QTest::newRow("blank before") << " TR-20415" << true;
    QTest::newRow("real") << "40317-20415" << false;
    QTest::newRow("TR inside") << "40317-TR-1" << false;
    QTest::newRow("TR without the dash") << "TR20415" << false;
    QTest::newRow("empty") << "" << false;
}

void TestHistoryRecords::trainingSerials()
{
    QFETCH(QString, serial);
    QFETCH(bool, training);
    QCOMPARE(history::isTrainingSerial(serial), training);
    QCOMPARE(history::trainingSerial("40317-20415"), QString("TR-20415"));
    QVERIFY(history::isTrainingSerial(history::trainingSerial("40317-21107")));
}

void TestHistoryRecords::importDecisions_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("training");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("reason"); // a part of it

    const auto imported = int(FileImport::Verdict::Imported);
    const auto refused = int(FileImport::Verdict::Refused);
    QTest::newRow("a record") << testrecords::driftedRecord("40317-03001", {2025, 4, 7}) << false
                              << imported << "";
    QTest::newRow("dated today") << testrecords::driftedRecord("40317-03002", kToday) << false
                                 << imported << "";
    QTest::newRow("dated tomorrow: a time zone ahead")
        << testrecords::driftedRecord("40317-03003", kToday.addDays(1)) << false << imported << "";
    QTest::newRow("dated the day after tomorrow")
        << testrecords::driftedRecord("40317-03004", kToday.addDays(2), true) << false << refused
        << "dated in the future: 2026-06-17";
    QTest::newRow("dated years ahead") << testrecords::driftedRecord("40317-03005", {2031, 1, 2})
                                       << true << refused << "dated in the future: 2031-01-02";
    QTest::newRow("practice record into the real history")
        << testrecords::driftedRecord("TR-20415", {2026, 6, 1}) << false << refused
        << "training program";
    QTest::newRow("practice record into the training history")
        << testrecords::driftedRecord("TR-20415", {2026, 6, 1}) << true << imported << "";
    QTest::newRow("real record into the training history")
        << testrecords::driftedRecord("40317-03006", {2026, 6, 1}) << true << imported << "";
    QTest::newRow("damaged") << testrecords::driftedRecord("40317-03007", {2026, 6, 1}).left(300)
                             << false << refused << "damaged";
    QTest::newRow("too large") << QByteArray(history::kMaxRecordSize + 1, 'x') << false << refused
                               << "too large";
}

void TestHistoryRecords::importDecisions()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, training);
    QFETCH(int, verdict);
    QFETCH(QString, reason);
    TestDatabase db("sqlite");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    Store store(db.location());
    OPEN_STORE(store);
    const QString path = QDir(db.folder()).filePath("records/r.txt");
    QVERIFY(writeFile(path, bytes));

    ImportRules rules;
    rules.training = training;
    rules.today = kToday;
    const FileImport first = history::importRecordFile(store, path, rules);
    QCOMPARE(int(first.verdict), verdict);
    QVERIFY2(first.reason.contains(reason), qPrintable(first.reason));
    QCOMPARE(store.allRuns().size(), verdict == int(FileImport::Verdict::Imported) ? 1 : 0);
    if (verdict == int(FileImport::Verdict::Refused)) {
        QVERIFY(!first.reason.isEmpty());
        return;
    }
    QCOMPARE(store.allRuns().first().recordPath, path);
    QCOMPARE(store.allRuns().first().recordDigest, history::recordDigest(bytes));
    // Again, and a copy with other line ends: already there.
    QCOMPARE(history::importRecordFile(store, path, rules).verdict,
             FileImport::Verdict::AlreadyThere);
    const QString copy = QDir(db.folder()).filePath("records/copy.txt");
    QVERIFY(writeFile(copy, withLineFeeds(bytes)));
    QCOMPARE(history::importRecordFile(store, copy, rules).verdict,
             FileImport::Verdict::AlreadyThere);
    QCOMPARE(store.allRuns().size(), 1);
}

// The screen keeps the digest of the record it wrote with its run; a later
// import of that record, in any line ends, is the same run.
void TestHistoryRecords::stationRecordIsOneRun()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);
    const QByteArray written = testrecords::driftedRecord("40317-05010", {2026, 5, 2}, true);
    const QString path = QDir(db->folder()).filePath("station/record.txt");
    QVERIFY(writeFile(path, written));
    QString error;
    QVERIFY2(store.write(stationRun("40317-05010", path, history::recordDigest(written)), &error),
             qPrintable(error));

    QByteArray crcrlf = written;
    crcrlf.replace("\r\n", "\r\r\n");
    const QList<QPair<QString, QByteArray>> copies{
        {"copies/as-written.txt", written},
        {"copies/lf.txt", withLineFeeds(written)},
        {"copies/crcrlf.txt", crcrlf},
        {"copies/final-lf.txt", withLineFeeds(written) + "\n"},
    };
    QStringList files;
    for (const auto &copy : copies) {
        files << QDir(db->folder()).filePath(copy.first);
        QVERIFY(writeFile(files.last(), copy.second));
    }
    ImportRules rules;
    const history::ImportResult result = history::importRecordFiles(store, files, rules);
    QCOMPARE(result.imported, 0);
    // The CR CR LF copy is no record to read (stray carriage returns), but
    // never a second run.
    QCOMPARE(result.alreadyThere, 3);
    QCOMPARE(result.refused.size(), 1);
    QCOMPARE(result.refused.first().path, files.at(2));
    QCOMPARE(store.runsOf("40317-05010").size(), 1);
}

// A history filled before line ends were dropped from the digest holds the
// raw digests of the records as written.
void TestHistoryRecords::olderRawDigestsRecognised()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);
    const QByteArray written = testrecords::driftedRecord("40317-05020", {2025, 3, 4});
    const QString rawDigest = history::rawRecordDigest(written);
    QVERIFY(rawDigest != history::recordDigest(written));
    Run imported = history::readRecord(written, "/old/place.txt").run;
    imported.recordDigest = rawDigest;
    imported.key = "record:" + rawDigest;
    QString error;
    QVERIFY2(store.write(imported, &error), qPrintable(error));

    const QString crlf = QDir(db->folder()).filePath("same.txt");
    const QString lf = QDir(db->folder()).filePath("lf.txt");
    QVERIFY(writeFile(crlf, written));
    QVERIFY(writeFile(lf, withLineFeeds(written)));
    const history::ImportResult result = history::importRecordFiles(store, {crlf, lf}, {});
    QCOMPARE(result.alreadyThere, 2);
    QCOMPARE(store.allRuns().size(), 1);
}

// Files are written in batches: one file the database refuses fails its
// batch, and then is the only file reported; the others of the batch and
// the files after it go in, and the summary is what one by one would say.
void TestHistoryRecords::refusedWriteIsReportedAlone()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);
    const QString refusedSerial = "40317-08002";
    // A real refusal by the database itself, of that serial number only.
    const QStringList refusal =
        db->location().kind == history::Location::Kind::SQLite
            ? QStringList{"CREATE TRIGGER refuse BEFORE INSERT ON run_revisions WHEN"
                          " NEW.serial_number = '" +
                          refusedSerial + "' BEGIN SELECT RAISE(ABORT, 'refused'); END"}
            : QStringList{"ALTER TABLE run_revisions ADD CONSTRAINT refuse CHECK"
                          " (serial_number <> '" +
                          refusedSerial + "')"};
    QString error;
    QVERIFY2(db->exec(refusal, &error), qPrintable(error));

    QStringList files;
    const QStringList serials{"40317-08001", refusedSerial, "40317-08003", "40317-08001"};
    for (int i = 0; i < serials.size(); ++i) {
        files << QDir(db->folder()).filePath(QStringLiteral("r%1.txt").arg(i));
        QVERIFY(
            writeFile(files.last(), testrecords::driftedRecord(serials.at(i), {2025, 3, i + 1})));
    }
    // The same record again: already there, never a second run.
    files << QDir(db->folder()).filePath("copy.txt");
    QVERIFY(writeFile(files.last(), testrecords::driftedRecord(serials.at(0), {2025, 3, 1})));

    const history::ImportResult result = history::importRecordFiles(store, files, {});
    QCOMPARE(result.imported, 3);
    QCOMPARE(result.alreadyThere, 1);
    QCOMPARE(result.refused.size(), 1);
    QCOMPARE(result.refused.first().path, files.at(1));
    QVERIFY2(result.refused.first().reason.contains("could not be written"),
             qPrintable(result.refused.first().reason));
    QCOMPARE(store.allRuns().size(), 3);
    QVERIFY(store.runsOf(refusedSerial).isEmpty());
}

void TestHistoryRecords::verifyFolder()
{
    std::unique_ptr<TestDatabase> db;
    NEED_DATABASE(db);
    Store store(db->location());
    OPEN_STORE(store);
    const QDir root(QDir(db->folder()).filePath("records"));
    const QString outside = QDir(db->folder()).filePath("elsewhere/kept.txt");

    struct Made {
        const char *file;
        const char *serial;
        bool recorded;  // a station run wrote it here
        bool onDisk;    // still there
        bool edited;    // changed after
        bool lineFeeds; // copied with LF line ends
    };
    const Made made[] = {
        {"a.txt", "40317-07001", true, true, false, false},
        {"sub/b.txt", "40317-07002", true, true, false, true},
        {"sub/c.txt", "40317-07003", true, true, true, false},
        {"gone.txt", "40317-07004", true, false, false, false},
        {"copy of a.txt", "40317-07001", false, true, false, true},
        {"new.txt", "40317-07005", false, true, false, false},
        // It names a.txt's run, under another name.
        {"renamed.txt", "40317-07001", false, true, true, false},
    };
    const QDate day(2026, 1, 20);
    QString error;
    for (const Made &m : made) {
        const QString path = root.filePath(m.file);
        QByteArray bytes = testrecords::driftedRecord(m.serial, day);
        if (m.recorded)
            QVERIFY2(
                store.write(stationRun(m.serial, path, history::recordDigest(bytes), day), &error),
                qPrintable(error));
        if (m.edited)
            bytes.replace("603.8", "503.8");
        if (m.lineFeeds)
            bytes = withLineFeeds(bytes);
        if (m.onDisk)
            QVERIFY(writeFile(path, bytes));
    }
    // Two runs of one sensor on one day, each record in the other's file.
    const QByteArray days[] = {testrecords::driftedRecord("40317-07006", day),
                               testrecords::driftedRecord("40317-07006", day, true)};
    for (int i = 0; i < 2; ++i) {
        const QString path = root.filePath(QStringLiteral("day%1.txt").arg(i));
        QVERIFY(store.write(stationRun("40317-07006", path, history::recordDigest(days[i]), day),
                            &error));
        QVERIFY(writeFile(path, days[1 - i]));
    }
    QVERIFY(writeFile(root.filePath("notes.txt"), "Bring the tip back on Friday.\n"));
    // A link to a FIFO: reading it would wait for a writer for ever.
    const QString fifo = QDir(db->folder()).filePath("pipe");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QVERIFY(QFile::link(fifo, root.filePath("sub/pipe.txt")));
    // Recorded outside the folder and gone: not this folder's concern.
    QVERIFY2(store.write(stationRun("40317-07009", outside, history::recordDigest("x")), &error),
             qPrintable(error));
    // A run of a sibling folder whose name begins like this one's.
    QVERIFY2(store.write(
                 stationRun("40317-07010", root.path() + "-old/x.txt", history::recordDigest("y")),
                 &error),
             qPrintable(error));

    // Given with a trailing slash and a "..": the same folder.
    const history::Verification result =
        history::verifyRecordFiles(store, root.path() + "/sub/../");
    QVERIFY2(result.ok, qPrintable(result.error));
    QStringList states;
    for (const VerifiedFile &f : result.files)
        states << root.relativeFilePath(f.path) + "=" + QString::number(int(f.state));
    const auto s = [](VerifiedFile::State state) { return QString::number(int(state)); };
    QCOMPARE(states, (QStringList{"a.txt=" + s(VerifiedFile::State::Unchanged),
                                  "copy of a.txt=" + s(VerifiedFile::State::Copy),
                                  "day0.txt=" + s(VerifiedFile::State::Replaced),
                                  "day1.txt=" + s(VerifiedFile::State::Replaced),
                                  "new.txt=" + s(VerifiedFile::State::NotInHistory),
                                  "notes.txt=" + s(VerifiedFile::State::NotInHistory),
                                  "renamed.txt=" + s(VerifiedFile::State::Altered),
                                  "sub/b.txt=" + s(VerifiedFile::State::Unchanged),
                                  "sub/c.txt=" + s(VerifiedFile::State::Altered),
                                  "sub/pipe.txt=" + s(VerifiedFile::State::Unreadable)}));
    QCOMPARE(result.files.last().reason, QString("skipped: not a regular file"));
    QCOMPARE(history::importRecordFile(store, root.filePath("sub/pipe.txt"), ImportRules()).reason,
             result.files.last().reason);
    QVERIFY(QFile::remove(root.filePath("sub/pipe.txt")));
    QCOMPARE(result.missing, QStringList{root.filePath("gone.txt")});
    QCOMPARE(result.count(VerifiedFile::State::Unchanged), 2);
    QVERIFY(!result.allWell());

    // Put right: the altered and swapped files back as written, the gone one
    // restored, the renamed one removed.
    QVERIFY(writeFile(root.filePath("sub/c.txt"), testrecords::driftedRecord("40317-07003", day)));
    QVERIFY(writeFile(root.filePath("gone.txt"), testrecords::driftedRecord("40317-07004", day)));
    for (int i = 0; i < 2; ++i)
        QVERIFY(writeFile(root.filePath(QStringLiteral("day%1.txt").arg(i)), days[i]));
    QVERIFY(QFile::remove(root.filePath("renamed.txt")));
    const history::Verification again = history::verifyRecordFiles(store, root.path());
    QVERIFY(again.missing.isEmpty());
    QCOMPARE(again.count(VerifiedFile::State::Altered), 0);
    QCOMPARE(again.count(VerifiedFile::State::Unchanged), 6);
    QVERIFY(again.allWell());
}

QTEST_GUILESS_MAIN(TestHistoryRecords)
#include "tst_historyrecords.moc"
