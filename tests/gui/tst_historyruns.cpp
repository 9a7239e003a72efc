// The calibration history as real runs on the simulated sensor write it: one
// entry per run that reached the sensor's identification, first as
// "interrupted", then with how the run ended; a history that cannot be
// written changes nothing of the procedure.

#include "core/history/store.h"
#include "core/history/writer.h"
#include "gui/history/pendingruns.h"
#include "gui/widget.h"
#include "tests/support/guisuite.h"
#include "tests/support/historydatabases.h"
#include "tests/support/records.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <algorithm>

#include <memory>

using history::Outcome;
using history::Run;
using history::Verdict;
using Position = SimulatedSensor::Position;
Q_DECLARE_METATYPE(history::Outcome)
Q_DECLARE_METATYPE(Phase)

namespace
{

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A history of its own in a temporary folder; screens record into it once
// attached.
class History
{
public:
    explicit History(bool training = false)
    {
        location.path = dir.filePath("history.sqlite");
        location.training = training;
        writer = std::make_unique<history::Writer>(location, pendingFolder());
    }
    void attach(ScreenHarness &h) { h.screen->setHistorySink(writer.get()); }
    QString pendingFolder() const { return dir.filePath("pending"); }

    // Every run in the database once the writer is idle.
    QList<Run> runs()
    {
        if (!writer->waitForIdle(10000))
            return {};
        history::Store store(location);
        QString error;
        if (!store.open(&error)) {
            qWarning("%s", qPrintable(error));
            return {};
        }
        return store.allRuns();
    }

    QTemporaryDir dir;
    history::Location location;
    std::unique_ptr<history::Writer> writer;
};

SensorProfile profileNamed(const QString &name)
{
    SensorProfile profile = name == "drifted" ? driftedMetre() : quiet(metreProfile());
    if (name == "old firmware")
        profile.firmware = "2.11";
    else if (name == "unknown range")
        profile.maxConductivity = "5000";
    return profile;
}

} // namespace

class HistoryRunsTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void firstEntryAtIdentification_data();
    void firstEntryAtIdentification();
    void outcomes_data();
    void outcomes();
    void noEntryWithoutIdentification();
    void killedProcessLeavesInterruptedEntry();
    void unwritableHistoryChangesNothing_data();
    void unwritableHistoryChangesNothing();
    void windowLeavesRunsOfAnotherHistory();
    void windowKeepsNewerSnapshot();
    void lostRunSaidOnce();
};

// Before any reading the run is in the history, marked interrupted, with
// the sensor as it identified itself; each reading is in it once taken, so
// a station stopped at the next prompt keeps it.
void HistoryRunsTest::firstEntryAtIdentification_data()
{
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<QList<Field>>("taken");
    // The station's settings file, "shared" when others may change it or
    // "training" for the training history, and the standard the run names.
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("standard");
    QTest::newRow("identified") << Phase::ValidationHigh << QList<Field>() << QByteArray()
                                << QString() << QString();
    QTest::newRow("as found high read")
        << Phase::ValidationLow << QList<Field>{Field::HighValidation} << QByteArray() << QString()
        << QString();
    QTest::newRow("as found read, at the decision")
        << Phase::CalibrationData << QList<Field>{Field::HighValidation, Field::LowValidation}
        << QByteArray() << QString() << QString();
    QTest::newRow("verification high read")
        << Phase::VerificationLow
        << QList<Field>{Field::HighValidation, Field::LowValidation, Field::HighValue}
        << QByteArray() << QString() << QString();
    QTest::newRow("the station's standard")
        << Phase::ValidationHigh << QList<Field>() << QByteArray("[history]\nstandard=\"VT 7\"\n")
        << QString() << QString("VT 7");
    QTest::newRow("a settings file others may change: none")
        << Phase::ValidationHigh << QList<Field>() << QByteArray("[history]\nstandard=VT-7\n")
        << QString("shared") << QString();
    QTest::newRow("training, its sensor simulated: none")
        << Phase::ValidationHigh << QList<Field>() << QByteArray("[history]\nstandard=VT-7\n")
        << QString("training") << QString();
}

void HistoryRunsTest::firstEntryAtIdentification()
{
    QFETCH(Phase, phase);
    QFETCH(QList<Field>, taken);
    QFETCH(QByteArray, conf);
    QFETCH(QString, station);
    QFETCH(QString, standard);
    History history(station == "training");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([config] { qputenv("XDG_CONFIG_HOME", config); });
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(history.dir.filePath("config")));
    const QString settings = history::settingsFile();
    QVERIFY(conf.isEmpty() ||
            (QDir().mkpath(QFileInfo(settings).path()) && testrecords::writeFile(settings, conf)));
    if (station == "shared")
        QVERIFY(QFile::setPermissions(settings,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup));
    ScreenHarness h(quiet(metreProfile()));
    history.attach(h);
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    QVERIFY2(h.driveTo(phase), h.failedStep());
    const QList<Run> runs = history.runs();
    QCOMPARE(runs.size(), 1);
    const Run &run = runs.first();
    QCOMPARE(run.outcome, Outcome::Interrupted);
    QVERIFY(!run.ended.isValid());
    QCOMPARE(run.source, history::Source::Station);
    QCOMPARE(run.station, QSysInfo::machineHostName());
    QVERIFY(run.started >= before && run.started <= QDateTime::currentDateTimeUtc());
    QCOMPARE(run.sensorType, QString("RT-5K-MQ"));
    QCOMPARE(run.serialNumber, QString("40317-20415"));
    QCOMPARE(run.firmware, QString("Version 2.12"));
    QCOMPARE(run.range, QString("2000"));
    QCOMPARE(run.tipKind, 1);
    QCOMPARE(run.unit, QString("pS/m"));
    QCOMPARE(run.oldSlope, QString("0.002500"));
    QCOMPARE(run.oldOffset, QString("-12.50000"));
    const std::pair<Field, const history::Reading *> readings[] = {
        {Field::HighValidation, &run.foundHigh},
        {Field::LowValidation, &run.foundLow},
        {Field::HighValue, &run.leftHigh},
        {Field::LowValue, &run.leftLow}};
    for (const auto &[field, reading] : readings) {
        QCOMPARE(reading->taken(), taken.contains(field));
        QCOMPARE(reading->text, h.field(field)->text());
    }
    QCOMPARE(run.unsavedConstants, holdsUnsavedConstants(phase));
    QVERIFY(!QUuid::fromString(run.key).isNull());
    QCOMPARE(run.standardSerial, standard);
}

void HistoryRunsTest::outcomes_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("road");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("unsaved");

    QTest::newRow("validated, date set") << "right"
                                         << "date" << Outcome::ValidatedDateSet << "" << false;
    QTest::newRow("validated, nothing changed")
        << "right"
        << "unchanged" << Outcome::ValidatedNoRecord << "" << false;
    QTest::newRow("recalibrated") << "drifted"
                                  << "save" << Outcome::Recalibrated << "" << false;
    QTest::newRow("recalibration abandoned")
        << "drifted"
        << "abort" << Outcome::RecalibrationAbandoned << "" << false;
    QTest::newRow("closed while collecting")
        << "right"
        << "close" << Outcome::Cancelled << "screen closed during validation high reading" << false;
    QTest::newRow("closed with new constants in the sensor")
        << "drifted"
        << "close unsaved" << Outcome::Cancelled
        << "screen closed with new constants in the sensor; previous constants restored" << false;
    QTest::newRow("bad reading cancelled")
        << "right"
        << "bad reading" << Outcome::Cancelled << "Bad Data from Sensor: validation high reading"
        << false;
    // A bad low reading restarts the pair from the high one.
    QTest::newRow("bad low reading cancelled")
        << "right"
        << "bad low reading" << Outcome::Cancelled
        << "Bad Data from Sensor: validation high reading" << false;
    // The end is kept as it came; the restore that follows on closing clears
    // the unsaved mark.
    QTest::newRow("bad verification cancelled, constants restored")
        << "drifted"
        << "bad verification" << Outcome::Cancelled
        << "Bad Data from Sensor: verification high reading" << false;
    QTest::newRow("communication error aborted")
        << "right"
        << "abort listing" << Outcome::Cancelled << "Sensor Communication Error" << false;
    QTest::newRow("link lost, calibration data")
        << "drifted"
        << "unplug calibration" << Outcome::LinkLost << "calibration data" << false;
    QTest::newRow("link lost, new constants unsaved")
        << "drifted"
        << "unplug verification" << Outcome::LinkLost << "verification high reading" << true;
    QTest::newRow("firmware too old") << "old firmware"
                                      << "listing" << Outcome::FirmwareTooOld << "" << false;
    QTest::newRow("unsupported sensor") << "unknown range"
                                        << "listing" << Outcome::UnsupportedSensor << "" << false;
    QTest::newRow("no response after identifying")
        << "right"
        << "silent after listing" << Outcome::NoResponse << "" << false;
}

// Each way a run ends, on the real screen, as the history keeps it.
void HistoryRunsTest::outcomes()
{
    QFETCH(QString, profile);
    QFETCH(QString, road);
    QFETCH(Outcome, outcome);
    QFETCH(QString, detail);
    QFETCH(bool, unsaved);

    History history;
    QTemporaryDir records;
    const QString recordPath = records.filePath("record.txt");
    ScreenHarness h(profileNamed(profile));
    history.attach(h);

    if (road == "date") {
        QVERIFY2(h.driveTo(Phase::DateRecordDialog), h.failedStep());
        h.answers.fileName(recordPath);
        h.send();
        QVERIFY(h.answers.waitUntilDone());
    } else if (road == "unchanged") {
        QVERIFY2(h.driveTo(Phase::EndUnchanged), h.failedStep());
    } else if (road == "save") {
        QVERIFY2(h.driveTo(Phase::EndRecorded, recordPath), h.failedStep());
    } else if (road == "abort") {
        QVERIFY2(h.driveTo(Phase::EndRestored), h.failedStep());
    } else if (road == "close") {
        QVERIFY2(h.driveTo(Phase::ValidationHigh), h.failedStep());
        h.closeButton()->click();
    } else if (road == "close unsaved") {
        QVERIFY2(h.driveTo(Phase::VerificationHigh), h.failedStep());
        h.closeButton()->click();
        h.send(3); // the previous constants go back first
        QVERIFY(h.waitUntil([&] { return !h.screen->isVisible(); }));
    } else if (road == "bad reading" || road == "bad low reading") {
        QVERIFY2(h.driveTo(road == "bad reading" ? Phase::ValidationHigh : Phase::ValidationLow),
                 h.failedStep());
        h.answers.click(QMessageBox::Cancel);
        h.collectionTicks(); // no data came
        QVERIFY(h.answers.waitUntilDone());
    } else if (road == "bad verification") {
        QVERIFY2(h.driveTo(Phase::VerificationHigh), h.failedStep());
        h.answers.click(QMessageBox::Cancel);
        h.collectionTicks(); // no data came
        QVERIFY(h.answers.waitUntilDone());
        h.send(3); // the previous constants go back before the screen closes
        QVERIFY(h.waitUntil([&] { return !h.screen->isVisible(); }));
    } else if (road == "abort listing" || road == "silent after listing") {
        h.sensor.setFault(SimulatedSensor::Fault::NoVersion);
        if (road == "abort listing") {
            h.answers.click(QMessageBox::Abort);
        } else {
            h.answers.handle([&h](QWidget *w) {
                h.sensor.setFault(SimulatedSensor::Fault::Silent);
                static_cast<QMessageBox *>(w)->button(QMessageBox::Retry)->click();
            });
        }
        h.connect();
        QVERIFY(h.answers.waitUntilDone());
        if (road == "silent after listing") {
            h.answers.click(QMessageBox::Ok);
            QVERIFY(h.tickUntilStopped());
            QVERIFY(h.answers.waitUntilDone());
            QCOMPARE(h.answers.seen().last().text, texts::kNoResponse);
        }
    } else if (road == "unplug calibration" || road == "unplug verification") {
        QVERIFY2(h.driveTo(road == "unplug calibration" ? Phase::CalibrationData
                                                        : Phase::VerificationHigh),
                 h.failedStep());
        h.answers.click(QMessageBox::Ok);
        h.sensor.hangUp();
        QVERIFY(h.answers.waitUntilDone());
        QVERIFY(h.answers.seen().last().text.startsWith(texts::kLinkLostStart));
    } else if (road == "listing") {
        h.answers.click(QMessageBox::Ok);
        h.connect();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(h.status(), texts::kStopped);
    }

    const QList<Run> runs = history.runs();
    QCOMPARE(runs.size(), 1);
    const Run &run = runs.first();
    QCOMPARE(history::outcomeName(run.outcome), history::outcomeName(outcome));
    QCOMPARE(run.outcomeDetail, detail);
    QCOMPARE(run.unsavedConstants, unsaved);
    QVERIFY(run.started.isValid() && run.ended.isValid() && run.started <= run.ended);
    QCOMPARE(run.serialNumber, QString("40317-20415"));
    QVERIFY(history::pendingRuns(history.pendingFolder()).isEmpty());

    if (profile == "old firmware") {
        QCOMPARE(run.firmware, QString("Version 2.11"));
        QCOMPARE(run.tipKind, 0);
    }
    if (profile == "unknown range") {
        QCOMPARE(run.range, QString("5000"));
        QCOMPARE(run.tipKind, 0);
        QVERIFY(run.unit.isEmpty());
    }

    const bool recorded = road == "date" || road == "save";
    QCOMPARE(run.recordPath, recorded ? recordPath : QString());
    if (recorded) {
        const QByteArray bytes = fileBytes(recordPath);
        QVERIFY(!bytes.isEmpty());
        QVERIFY(bytes.contains("\r\n"));
        // The digest leaves out the line ends' carriage returns, so that a
        // copy with LF line ends is the same record.
        QByteArray withoutCr = bytes;
        withoutCr.replace('\r', QByteArray());
        QCOMPARE(run.recordDigest,
                 QString(QCryptographicHash::hash(withoutCr, QCryptographicHash::Sha256).toHex()));
    }

    // As found: what the screen showed, judged as it coloured it.
    if (road == "date" || road == "unchanged") {
        QCOMPARE(run.foundHigh.text, h.field(Field::HighValidation)->text());
        QCOMPARE(run.foundHigh.verdict, Verdict::Pass);
        QCOMPARE(run.foundHigh.windowLow, 465.0);
        QCOMPARE(run.foundHigh.windowHigh, 585.0);
        QCOMPARE(run.foundLow.verdict, Verdict::Pass);
        QCOMPARE(run.foundLow.windowLow, 175.0);
        QCOMPARE(run.foundLow.windowHigh, 225.0);
        QVERIFY(run.newSlope.isEmpty());
        QVERIFY(!run.meanCounts);
    }
    if (road == "save" || road == "abort") {
        QCOMPARE(run.foundHigh.verdict, Verdict::Fail);
        QCOMPARE(qRound(run.foundHigh.value), 604);
        QCOMPARE(run.foundLow.verdict, Verdict::Fail);
        QCOMPARE(run.oldSlope, QString("0.002875"));
        QCOMPARE(run.newSlope, QString("0.002500"));
        QCOMPARE(run.newOffset, QString("-12.50000"));
        QVERIFY(run.meanCounts && *run.meanCounts > 0);
    }
    if (road == "save") {
        QCOMPARE(run.leftHigh.text, QString("525.0"));
        QCOMPARE(run.leftHigh.verdict, Verdict::Pass);
        QCOMPARE(run.leftLow.text, QString("200.0"));
        QCOMPARE(run.leftLow.verdict, Verdict::Pass);
    }
    // The verification of constants put back is kept apart, never as left.
    if (road == "abort")
        QCOMPARE(history::verificationNotKept(run),
                 QString("Verification with constants put back: high 525.0 (pass), low 200.0 "
                         "(pass)"));
}

// A sensor that never answered identified nothing: no entry.
void HistoryRunsTest::noEntryWithoutIdentification()
{
    History history;
    ScreenHarness h;
    history.attach(h);
    QVERIFY2(h.driveTo(Phase::EndNoResponse), h.failedStep());
    QVERIFY(history.writer->waitForIdle(5000));
    QVERIFY(history.runs().isEmpty());
    QVERIFY(history::pendingRuns(history.pendingFolder()).isEmpty());
}

// A station killed with new constants unsaved in the sensor leaves an
// interrupted entry that says so; the next start writes what was pending.
void HistoryRunsTest::killedProcessLeavesInterruptedEntry()
{
    QTemporaryDir dir;
    history::Location location;
    location.path = dir.filePath("history.sqlite");
    const QString pending = dir.filePath("pending");

    QProcess station;
    station.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    station.start(ZOLVEX_HISTORYSCREEN, {location.path, pending});
    QVERIFY(station.waitForStarted());
    QVERIFY(QTest::qWaitFor(
        [&] { return station.canReadLine() || station.state() == QProcess::NotRunning; }, 60000));
    QCOMPARE(station.readLine().trimmed(), QByteArray("reached"));
    station.kill();
    QVERIFY(station.waitForFinished());

    {
        history::Writer nextStart(location, pending);
        QVERIFY(nextStart.waitForIdle(10000));
    }
    QVERIFY(history::pendingRuns(pending).isEmpty());
    history::Store store(location);
    QString error;
    QVERIFY2(store.open(&error), qPrintable(error));
    const QList<Run> runs = store.allRuns();
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.first().outcome, Outcome::Interrupted);
    QVERIFY(runs.first().unsavedConstants);
    QCOMPARE(runs.first().newSlope, QString("0.002500"));
    QVERIFY(!runs.first().ended.isValid());
}

void HistoryRunsTest::unwritableHistoryChangesNothing_data()
{
    QTest::addColumn<QString>("problem");
    QTest::newRow("read-only folder") << "read-only folder";
    QTest::newRow("corrupt file") << "corrupt file";
    QTest::newRow("server stopped") << "server stopped";
}

// A whole change-and-save run with a history that cannot be written: the
// prompts, the status line behind each, the wire and the record are byte
// for byte those of a run without any history; the run waits, pending, with
// its reason, which the debug output carries too.
void HistoryRunsTest::unwritableHistoryChangesNothing()
{
    QFETCH(QString, problem);

    struct Road {
        QStringList prompts;
        QByteArray wire;
        QByteArray record;
        QStringList debug;
    };
    QTemporaryDir dir;
    const auto drive = [&](const QString &recordName, history::Sink *sink, Road *out) {
        ScreenHarness h(driftedMetre());
        h.screen->setHistorySink(sink);
        const QString path = dir.filePath(recordName);
        if (!h.driveTo(Phase::EndRecorded, path))
            return false;
        for (const SeenWindow &window : h.answers.seen())
            out->prompts << h.withoutPort(window.title + " | " + window.text + " | " +
                                          window.context);
        out->prompts << h.withoutPort(h.status());
        out->wire = h.sensor.received();
        out->record = fileBytes(path);
        out->debug = h.traces();
        return true;
    };

    Road without;
    QVERIFY(drive("without.txt", nullptr, &without));

    if (problem == "server stopped")
        HISTORY_NEED_POSTGRES();
    historytest::UnwritableHistory unwritable;
    QString error;
    QVERIFY2(unwritable.prepare(problem, dir.path(), &error), qPrintable(error));
    const history::Location location = unwritable.location();

    const QString pending = dir.filePath("pending");
    Road with;
    QStringList reasons;
    {
        history::Writer writer(location, pending);
        QObject::connect(&writer, &history::Writer::failed, &writer,
                         [&](const QString &, const QString &reason) { reasons << reason; });
        const bool driven = drive("with.txt", &writer, &with);
        QVERIFY(writer.waitForIdle(30000));
        QVERIFY(driven);
    }
    QVERIFY2(unwritable.repair(&error), qPrintable(error));

    QCOMPARE(with.prompts, without.prompts);
    QCOMPARE(with.wire, without.wire);
    QCOMPARE(with.record, without.record);
    QVERIFY(!reasons.isEmpty());
    // The traces are the run's own, plus the writer's warnings.
    QStringList traces;
    for (const QString &line : with.debug) {
        if (!reasons.contains(line) &&
            !std::any_of(reasons.cbegin(), reasons.cend(),
                         [&](const QString &r) { return line.contains(r); }))
            traces << line;
    }
    QCOMPARE(traces, without.debug);
    QVERIFY(std::any_of(with.debug.cbegin(), with.debug.cend(),
                        [&](const QString &line) { return line.contains(reasons.last()); }));

    const QList<history::Pending> waiting = history::pendingRuns(pending);
    QCOMPARE(waiting.size(), 1);
    QCOMPARE(waiting.first().run.outcome, history::Outcome::Recalibrated);
    QCOMPARE(waiting.first().error, reasons.last());
    QVERIFY(history::notice(waiting.first())
                .endsWith("for sensor 40317-20415 could not be recorded: " + reasons.last()));
}

namespace
{
// A history under a plain file, which no station can reach.
history::Location unreachableIn(const QString &folder)
{
    QFile blocker(folder + "/blocker");
    blocker.open(QIODevice::WriteOnly);
    history::Location location;
    location.path = blocker.fileName() + "/history.sqlite";
    return location;
}
} // namespace

// The history window writes a station's pending runs only into the history
// they were recorded for: pointed at a copy, it leaves them pending.
void HistoryRunsTest::windowLeavesRunsOfAnotherHistory()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    const history::Location station = unreachableIn(dir.path());
    const Run run = historytest::sampleRun(1);
    {
        history::Writer writer(station, pending);
        writer.record(run);
        QVERIFY(writer.waitForIdle(10000));
    }
    history::Location copy;
    copy.path = dir.filePath("copy.sqlite");
    history::Store store(copy);
    QString error;
    QVERIFY2(store.open(&error), qPrintable(error));
    const history::PendingWrite written =
        history::writePending(&store, pending, history::pendingRuns(pending));
    QCOMPARE(written.written, 0);
    QCOMPARE(written.errors,
             QStringList{"meant for another history: " + history::locationText(station)});
    QCOMPARE(store.allRuns().size(), 0);
    QCOMPARE(history::pendingRuns(pending).size(), 1);
}

// The window writes the snapshot it read; a newer one a station kept
// meanwhile stays pending.
void HistoryRunsTest::windowKeepsNewerSnapshot()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    QVERIFY(QDir().mkpath(pending));
    history::Location location;
    location.path = dir.filePath("history.sqlite");
    history::Pending first;
    first.run = historytest::sampleRun(2);
    first.run.revision = 1;
    first.location = history::locationText(location);
    QString error;
    QVERIFY2(history::keepPending(pending, first, &error), qPrintable(error));
    const QList<history::Pending> read = history::pendingRuns(pending);
    QCOMPARE(read.size(), 1);

    history::Pending second = first;
    second.run.revision = 2;
    QVERIFY2(history::keepPending(pending, second, &error), qPrintable(error));

    history::Store store(location);
    QVERIFY2(store.open(&error), qPrintable(error));
    const history::PendingWrite written = history::writePending(&store, pending, read);
    QCOMPARE(written.written, 1);
    const QList<history::Pending> left = history::pendingRuns(pending);
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.first().run.revision, 2);
}

// A run kept neither in the history nor pending is said in the main window,
// once, with its date, its sensor and why.
void HistoryRunsTest::lostRunSaidOnce()
{
    QTemporaryDir dir;
    const QString pending = dir.filePath("pending");
    {
        QFile file(pending);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const history::Location location = unreachableIn(dir.path());
    Widget window;
    history::Writer writer(location, pending, nullptr, 200);
    QObject::connect(&writer, &history::Writer::lost, &window, &Widget::runLost);
    Run run = historytest::sampleRun(3);
    writer.record(run);
    QMessageBox *box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = window.findChild<QMessageBox *>("lostRuns")) != nullptr, 10000);
    const QString text = box->text();
    QVERIFY2(text.contains(history::runName(run)), qPrintable(text));
    QVERIFY2(text.contains(location.path), qPrintable(text));
    QVERIFY2(text.contains("The calibration record files are not affected."), qPrintable(text));
    QVERIFY2(text.contains("are lost if it is closed before the history can be reached"),
             qPrintable(text));
    box->close();
    QTRY_VERIFY(!window.findChild<QMessageBox *>("lostRuns"));

    run.revision = 2;
    writer.record(run);
    QTest::qWait(1000); // a few retries
    QVERIFY(!window.findChild<QMessageBox *>("lostRuns"));
}

QTEST_MAIN(HistoryRunsTest)
#include "tst_historyruns.moc"
