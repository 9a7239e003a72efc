// The zolvex-history program itself: --help and --version need no display,
// and it opens the product's history or, with --training, the training
// program's own, writing the runs pending there.

#include "core/history/runformat.h"
#include "core/history/store.h"
#include "tst_historysupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace historytest;

namespace
{

const QString kProgram = QStringLiteral(ZOLVEX_HISTORY_PROGRAM);
const QString kVersion = QStringLiteral(ZOLVEX_VERSION);

// An environment with no display at all, and data and settings folders of
// the test's own.
QProcessEnvironment bareEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ZOLVEX_HISTORY_DATABASE"})
        env.remove(QLatin1String(name));
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    return env;
}

struct Output {
    bool finished = false;
    int code = -1;
    QString text;
};

Output run(const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kProgram, arguments);
    Output out;
    out.finished = process.waitForFinished(20000);
    out.code = process.exitCode();
    out.text = QString::fromUtf8(process.readAll());
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class HistoryProgramTest : public QObject
{
    Q_OBJECT

private slots:
    void textWithoutDisplay_data();
    void textWithoutDisplay();
    void opensItsHistory_data();
    void opensItsHistory();
};

void HistoryProgramTest::textWithoutDisplay_data()
{
    QTest::addColumn<QString>("option");
    QTest::newRow("--help") << "--help";
    QTest::newRow("-h") << "-h";
    QTest::newRow("--version") << "--version";
    QTest::newRow("-v") << "-v";
}

void HistoryProgramTest::textWithoutDisplay()
{
    QFETCH(QString, option);
    QTemporaryDir home;
    const Output out = run({option}, bareEnvironment(home.path()));
    QVERIFY(out.finished);
    QCOMPARE(out.code, 0);
    if (option.contains('v')) {
        QCOMPARE(out.text.trimmed(), "zolvex-history " + kVersion);
    } else {
        QVERIFY2(out.text.startsWith("Usage: " + kProgram), qPrintable(out.text));
        QVERIFY2(out.text.contains("--training"), qPrintable(out.text));
        QVERIFY2(out.text.contains("--version"), qPrintable(out.text));
    }
}

void HistoryProgramTest::opensItsHistory_data()
{
    QTest::addColumn<bool>("training");
    QTest::newRow("the product's") << false;
    QTest::newRow("--training") << true;
}

void HistoryProgramTest::opensItsHistory()
{
    QFETCH(bool, training);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString data = home.filePath(training ? "data/zolvex-training" : "data/zolvex");
    const QString other = home.filePath(training ? "data/zolvex" : "data/zolvex-training");
    // A run that waited, never tried: written on opening, with no notice to
    // answer.
    const QString pending = data + "/pending/waiting.json";
    QVERIFY(writeFile(pending,
                      history::toJson(validation("40317-05001", {2026, 3, 3}, "520.0", "200.0"))));

    QProcess process;
    QProcessEnvironment env = bareEnvironment(home.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kProgram, training ? QStringList{"--training"} : QStringList{});
    QVERIFY(process.waitForStarted());
    const bool written = QTest::qWaitFor([&] { return !QFile::exists(pending); }, 20000);
    const bool stillRunning = process.state() == QProcess::Running;
    process.terminate();
    process.waitForFinished(5000);
    QVERIFY2(written, qPrintable(QString::fromUtf8(process.readAll())));
    QVERIFY2(stillRunning, qPrintable(QString::fromUtf8(process.readAll())));

    history::Location location;
    location.path = data + "/history.sqlite";
    history::Store store(location);
    QString error;
    QVERIFY2(store.open(&error), qPrintable(error));
    QCOMPARE(store.runsOf("40317-05001").size(), 1);
    // The other history was left alone.
    QVERIFY(!QFile::exists(other + "/history.sqlite"));
}

QTEST_MAIN(HistoryProgramTest)
#include "tst_historyprogram.moc"
