// The calibration screen, connected to zolvex_bench_sensor (another process),
// measured while it collects the validation high reading:
//
//   zolvex_bench_collect steady <bytes/s>   CPU over one whole collection while
//                                           data lines stream at that rate
//   zolvex_bench_collect garbage <bytes>    time, CPU and peak memory to take in
//   zolvex_bench_collect lines <bytes>      a burst of garbage or of data lines
//   zolvex_bench_collect hangup             CPU in the 10 s after the line drops
//
// CPU is this process's (every thread: the screen and Qt's own), from
// getrusage(). Results are printed as key=value pairs on one line.

#include "gui/calibrationdlg.h"
#include "gui/infobar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace
{

const QString kCollecting = QStringLiteral("Please wait while Software collects data");
const QString kMarkerEcho = QStringLiteral(" : 424242,21.5,999.9,0");
constexpr int kSetupTimeoutMs = 20000;
constexpr int kBurstTimeoutMs = 120000;
constexpr int kBurstPollMs = 1;
constexpr int kStreamBeforeHangUpMs = 3000;
constexpr int kAfterHangUpMs = 10000;
constexpr int kSettledAfterHangUpMs = 1000;

struct Sample {
    qint64 wallNs = -1;
    double cpuMs = 0;
    long voluntarySwitches = 0;
    bool valid() const { return wallNs >= 0; }
};

QElapsedTimer wallClock;

Sample sample()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    Sample s;
    s.wallNs = wallClock.nsecsElapsed();
    s.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    s.voluntarySwitches = usage.ru_nvcsw;
    return s;
}

// A "Name:   1234 kB" field of /proc/self/status, in kB.
long long statusField(const char *name)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(name))
            return line.mid(qstrlen(name)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Starts the peak resident size (VmHWM) afresh from the present one.
void resetPeakMemory()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

// Runs the event loop until done() holds (checked every pollMs; 0: only when
// something calls wake()) or the time is up.
QEventLoop *currentLoop = nullptr;
bool runUntil(const std::function<bool()> &done, int timeoutMs, int pollMs)
{
    QEventLoop loop;
    currentLoop = &loop;
    QTimer poll;
    if (pollMs > 0) {
        poll.setTimerType(Qt::PreciseTimer);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        poll.start(pollMs);
    }
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    currentLoop = nullptr;
    return done();
}

void wake()
{
    if (currentLoop)
        currentLoop->quit();
}

// Answers the screen's message boxes with OK while autoOk holds, and tells
// whoever listens when one is shown.
class BoxWatcher : public QObject
{
public:
    bool autoOk = true;
    int shown = 0;
    QString lastText;
    std::function<void(QMessageBox *)> onShown;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(watched)) {
                ++shown;
                lastText = box->text();
                if (onShown)
                    onShown(box);
                if (autoOk) {
                    // The OK button of a box without buttons exists only once shown.
                    QTimer::singleShot(0, box, [box] {
                        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                            ok->click();
                    });
                }
            }
        }
        return false;
    }
};

class SensorProcess
{
public:
    bool start()
    {
        process.setProgram(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/zolvex_bench_sensor"));
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        const QByteArray first = answer();
        if (!first.startsWith("port "))
            return false;
        portPath = QString::fromLocal8Bit(first.mid(5));
        return true;
    }
    void command(const QByteArray &text)
    {
        process.write(text + '\n');
        process.waitForBytesWritten();
    }
    // Blocks until the next answer line.
    QByteArray answer()
    {
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(kSetupTimeoutMs))
                return {};
        }
        return process.readLine().trimmed();
    }
    void stop()
    {
        command("quit");
        if (!process.waitForFinished(3000))
            process.kill();
    }

    QProcess process;
    QString portPath;
};

void report(const QString &pairs)
{
    std::printf("%s\n", qPrintable(pairs));
    std::fflush(stdout);
}

QString ms(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    wallClock.start();
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QByteArray amount = argc > 2 ? QByteArray(argv[2]) : QByteArray();

    SensorProcess sensor;
    if (!sensor.start()) {
        report(QStringLiteral("error=sensor-did-not-start"));
        return 1;
    }

    BoxWatcher boxes;
    app.installEventFilter(&boxes);

    PortDescription port;
    port.portName = sensor.portPath;
    port.hasVendorIdentifier = true;
    port.vendorIdentifier = kFtdiVendorIdentifier;
    auto screen = std::make_unique<CalibrationDlg>([port] { return QList<PortDescription>{port}; });
    screen->show();
    auto *statusLine = screen->findChild<InfoBar *>(QStringLiteral("calDlg_statusbar"));
    const auto status = [statusLine] { return statusLine->text(); };

    screen->findChild<QPushButton *>(QStringLiteral("calibrationPB_Connect"))->click();
    if (!runUntil([&] { return status() == kCollecting; }, kSetupTimeoutMs, 10)) {
        report(QStringLiteral("error=not-collecting status=\"%1\"").arg(status()));
        return 1;
    }

    int result = 0;
    if (mode == QLatin1String("steady")) {
        // One whole collection: from its start to the prompt that ends it.
        Sample end;
        QString endStatus;
        boxes.onShown = [&](QMessageBox *) {
            if (!end.valid()) {
                end = sample();
                endStatus = status();
                wake();
            }
        };
        sensor.command("stream high " + amount);
        const Sample begin = sample();
        runUntil([&] { return end.valid(); }, 60000, 0);
        sensor.command("stop");
        const QList<QByteArray> streamed = sensor.answer().split(' ');
        if (!end.valid()) {
            report(QStringLiteral("error=collection-did-not-end"));
            result = 1;
        } else {
            const double wallS = (end.wallNs - begin.wallNs) / 1e9;
            const double cpuMs = end.cpuMs - begin.cpuMs;
            report(QStringLiteral("wall_s=%1 cpu_ms=%2 share_pct=%3 bytes_streamed=%4 "
                                  "stream_s=%5 last_echo=\"%6\"")
                       .arg(QString::number(wallS, 'f', 2), ms(cpuMs),
                            QString::number(100 * cpuMs / 1e3 / wallS, 'f', 3),
                            QString::fromLatin1(streamed.value(1)),
                            QString::fromLatin1(streamed.value(2)), endStatus));
        }
    } else if (mode == QLatin1String("garbage") || mode == QLatin1String("lines")) {
        sensor.command(mode.toLatin1() + ' ' + amount);
        if (sensor.answer() != "ready") {
            report(QStringLiteral("error=burst-not-prepared"));
            return 1;
        }
        bool collectionEnded = false;
        boxes.autoOk = false;
        boxes.onShown = [&](QMessageBox *) { collectionEnded = true; };
        resetPeakMemory();
        const long long rssBefore = statusField("VmRSS:");
        const Sample begin = sample();
        sensor.command("send");
        Sample end;
        runUntil(
            [&] {
                if (!end.valid() && status().endsWith(kMarkerEcho))
                    end = sample();
                return end.valid() || collectionEnded;
            },
            kBurstTimeoutMs, kBurstPollMs);
        const long long peak = statusField("VmHWM:");
        if (!end.valid()) {
            report(QStringLiteral("error=burst-not-taken-in collection_ended=%1 wall_ms=%2 "
                                  "status=\"%3\"")
                       .arg(collectionEnded)
                       .arg(ms((sample().wallNs - begin.wallNs) / 1e6), status().left(60)));
            result = 1;
        } else {
            report(QStringLiteral("wall_ms=%1 cpu_ms=%2 rss_before_kb=%3 peak_kb=%4 "
                                  "peak_growth_kb=%5 last_echo=\"%6\"")
                       .arg(ms((end.wallNs - begin.wallNs) / 1e6), ms(end.cpuMs - begin.cpuMs))
                       .arg(rssBefore)
                       .arg(peak)
                       .arg(peak - rssBefore)
                       .arg(status().left(60)));
        }
    } else if (mode == QLatin1String("hangup")) {
        sensor.command("stream high 960");
        runUntil([] { return false; }, kStreamBeforeHangUpMs, 0);
        // Nobody answers the box the hang-up brings: an operator away from the desk.
        boxes.autoOk = false;
        const int boxesBefore = boxes.shown;
        Sample settled;
        Sample end;
        QTimer::singleShot(kSettledAfterHangUpMs, [&] { settled = sample(); });
        QTimer::singleShot(kAfterHangUpMs, [&] {
            end = sample();
            // The box's own event loop must end before ours can.
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
            wake();
        });
        const Sample begin = sample();
        sensor.command("hangup");
        runUntil([&] { return end.valid(); }, kAfterHangUpMs * 2, 0);
        report(QStringLiteral("cpu_0_10s_ms=%1 cpu_1_10s_ms=%2 wakeups_1_10s=%3 boxes=%4 "
                              "box_text=\"%5\" status=\"%6\"")
                   .arg(ms(end.cpuMs - begin.cpuMs), ms(end.cpuMs - settled.cpuMs))
                   .arg(end.voluntarySwitches - settled.voluntarySwitches)
                   .arg(boxes.shown - boxesBefore)
                   .arg(boxes.lastText.simplified(), status()));
    } else {
        report(QStringLiteral("error=unknown-mode"));
        result = 2;
    }

    app.removeEventFilter(&boxes);
    screen.reset();
    sensor.stop();
    return result;
}
