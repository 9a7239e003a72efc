// zolvex-history-sample as the screenshot script and the benchmark run it:
// --help and --version that write nothing, arguments refused with a reason
// and status 2, and exactly the runs asked for, none of them in the future.

#include "core/history/register.h"
#include "core/history/store.h"

#include <QDir>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

struct Ran {
    int status = -1;
    QString out;
    QString err;
};

Ran runSample(const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(ZOLVEX_HISTORY_SAMPLE), arguments);
    Ran ran;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return ran;
    ran.status = process.exitCode();
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

} // namespace

class HistorySampleTest : public QObject
{
    Q_OBJECT

private slots:
    void textsWriteNothing_data();
    void textsWriteNothing();
    void refusesWhatMakesNoSense_data();
    void refusesWhatMakesNoSense();
    void exactlyTheRunsAskedForNoneAhead();
};

void HistorySampleTest::textsWriteNothing_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("says");
    QTest::newRow("help") << "--help"
                          << "FILE [SENSORS [RUNS [SEED]]]";
    QTest::newRow("version") << "--version"
                             << "zolvex-history-sample " ZOLVEX_VERSION "\n";
}

void HistorySampleTest::textsWriteNothing()
{
    QFETCH(QString, option);
    QFETCH(QString, says);
    QTemporaryDir folder;
    const Ran ran = runSample({option}, folder.path());
    QCOMPARE(ran.status, 0);
    QVERIFY2(ran.out.contains(says), qPrintable(ran.out));
    QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void HistorySampleTest::refusesWhatMakesNoSense_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no file") << QStringList{} << "no history file named";
    QTest::newRow("unknown option") << QStringList{"--sensors=3", "h.sqlite"} << "sensors";
    QTest::newRow("no sensors") << QStringList{"h.sqlite", "0"} << "SENSORS must be";
    QTest::newRow("sensors not a number") << QStringList{"h.sqlite", "ten"} << "not ten";
    QTest::newRow("too many sensors") << QStringList{"h.sqlite", "100001"} << "SENSORS must be";
    QTest::newRow("no runs") << QStringList{"h.sqlite", "3", "0"} << "RUNS must be";
    QTest::newRow("negative runs") << QStringList{"h.sqlite", "3", "-4"} << "RUNS must be";
    QTest::newRow("seed too big") << QStringList{"h.sqlite", "3", "4", "4294967296"}
                                  << "SEED must be";
    QTest::newRow("one too many") << QStringList{"h.sqlite", "3", "4", "5", "6"}
                                  << "too many arguments: 6";
}

void HistorySampleTest::refusesWhatMakesNoSense()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    const Ran ran = runSample(arguments, folder.path());
    QCOMPARE(ran.status, 2);
    QVERIFY2(ran.err.contains(reason), qPrintable(ran.err));
    QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void HistorySampleTest::exactlyTheRunsAskedForNoneAhead()
{
    QTemporaryDir folder;
    const QString file = QDir(folder.path()).filePath("h.sqlite");
    // Many runs a sensor reach far back; the newest must still be behind us.
    const Ran ran = runSample({file, "30", "20", "7"}, folder.path());
    QCOMPARE(ran.status, 0);
    QVERIFY2(ran.out.contains("600 runs of 30 sensors"), qPrintable(ran.out + ran.err));

    history::Location location;
    location.path = file;
    history::Store store(location);
    QString error;
    QVERIFY2(store.open(&error), qPrintable(error));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QHash<QString, int> perSensor;
    const QList<history::Run> runs = store.allRuns();
    QCOMPARE(runs.size(), 600);
    for (const history::Run &run : runs) {
        ++perSensor[run.serialNumber];
        QVERIFY2(!run.standardSerial.isEmpty(), qPrintable(run.key));
        QVERIFY2(run.started < now && run.ended < now,
                 qPrintable(run.key + " " + run.started.toString(Qt::ISODate)));
    }
    QCOMPARE(perSensor.size(), 30);
    for (auto it = perSensor.cbegin(); it != perSensor.cend(); ++it)
        QVERIFY2(it.value() == 20, qPrintable(it.key() + ": " + QString::number(it.value())));

    // The register beside them: most runs signed, certificates of the runs,
    // each as issued.
    QHash<QString, QList<history::Signature>> signatures;
    QHash<QString, history::Certificate> certificates;
    QVERIFY2(history::allSignatures(store, &signatures, &error) &&
                 history::newestCertificates(store, &certificates, &error),
             qPrintable(error));
    QVERIFY2(signatures.size() > runs.size() / 2, qPrintable(QString::number(signatures.size())));
    QVERIFY(!certificates.isEmpty());
    for (const history::Certificate &certificate : std::as_const(certificates))
        QVERIFY2(certificate.contentSha256 == history::contentDigest(certificate.content) &&
                     certificate.content.contains(certificate.runKey),
                 qPrintable(certificate.number));
}

QTEST_GUILESS_MAIN(HistorySampleTest)
#include "tst_historysample.moc"
