// The calibration screen's longest event-loop stall through a whole training
// run, with the history on a database of the bench's choosing:
//
//   zolvex_bench_screenrun <history> <work folder>
//
// <history> is an SQLite file or a postgresql:// address, as zolvex-history
// is pointed at one. The run is the training program's: its simulated sensor
// (the default drift, so both readings fail and the constants are changed),
// the calibration screen on the session's port list, and the history writer
// installed as the screen's sink, as zolvex-training's main() installs it.
// Every prompt is answered at once by the suites' modal answerer, and the
// record is saved in the work folder through the screen's own file dialog.
// The screen's real timers run, so a run takes about three minutes.
//
// Connect is pressed once the screen has been up for a while, as an operator
// would. Prints one line of key=value pairs: the longest gap of a 1 ms timer
// from Connect to the record saved (stall_ms), how many gaps passed a frame
// (frames_missed), the longest time the sink's record() took on the screen's
// thread (record_max_ms), the run's length, and the longest gap from the
// screen shown to Connect (before_connect_ms). Each gap longer than a frame
// is named on standard error with when it ended (seconds from Connect, and
// ended_at_s on the monotonic clock a profiler records by) and what the
// status line said, beside each window shown and each call of the sink, so
// that a gap can be put down to what ran in it. A run that goes
// wrong says why on standard error and ends with status 1.

#include "bench/stallmeter.h"
#include "core/history/location.h"
#include "core/history/sink.h"
#include "core/history/writer.h"
#include "gui/calibrationdlg.h"
#include "gui/dialogfont.h"
#include "tests/support/modalanswerer.h"
#include "tests/support/texts.h"
#include "training/trainingoptions.h"
#include "training/trainingsession.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace
{

// A run takes about three minutes; the bench's own timeout is the last resort.
constexpr int kGiveUpMs = 280 * 1000;
constexpr int kPollMs = 20;
// After the record is saved: the last snapshot's write on the screen's thread
// is in the figure, and what follows it too.
constexpr int kAfterSaveMs = 500;
// The database may be slow (the delaying proxy); the run is written or not by then.
constexpr int kIdleWaitMs = 30000;
// Connect is pressed once the screen has been up this long, as no operator
// presses it sooner; the screen's longest stall until then is named apart.
constexpr int kOperatorMs = 1500;
const char kRecordName[] = "record.txt";
const char kPendingName[] = "pending";

[[noreturn]] void giveUp(const QString &why)
{
    std::fprintf(stderr, "zolvex_bench_screenrun: %s\n", qPrintable(why));
    std::fflush(stdout);
    // The screen may be in a modal loop: leave at once.
    std::_Exit(1);
}

// Seconds since the run began, for the log on standard error.
QElapsedTimer runClock;
double at()
{
    return runClock.isValid() ? double(runClock.nsecsElapsed()) / 1e9 : 0;
}

// The clock a profiler records by (perf record -k CLOCK_MONOTONIC).
double monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The writer, timed where the screen calls it.
class TimedSink : public history::Sink
{
public:
    explicit TimedSink(history::Sink *sink) : sink_(sink) {}
    void record(const history::Run &run) override
    {
        QElapsedTimer clock;
        clock.start();
        sink_->record(run);
        const qint64 ns = clock.nsecsElapsed();
        longestNs_ = std::max(longestNs_, ns);
        ++records_;
        std::fprintf(stderr, "record at_s=%.3f ms=%.1f revision=%d\n", at(), double(ns) / 1e6,
                     run.revision);
    }
    double longestMs() const { return double(longestNs_) / 1e6; }
    int records() const { return records_; }

private:
    history::Sink *sink_;
    qint64 longestNs_ = 0;
    int records_ = 0;
};

// Names each window as it is shown.
class ShowLog : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow())
            std::fprintf(stderr, "shown at_s=%.3f class=%s\n", at(),
                         watched->metaObject()->className());
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    // A platform theme's native file dialog is no widget the answerer can see.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    useDialogFont();
    const QStringList args = QApplication::arguments();
    const bool abort = args.size() == 4 && args.at(3) == QLatin1String("--abort");
    if (args.size() < 3 || (args.size() == 4 && !abort) || args.size() > 4) {
        std::fprintf(stderr, "usage: zolvex_bench_screenrun <history> <work folder> [--abort]\n");
        return 2;
    }
    history::Location location;
    QString error;
    if (!history::parseLocation(args.at(1), &location, &error))
        giveUp(QStringLiteral("%1: %2").arg(args.at(1), error));
    const QDir work(args.at(2));
    const QString recordPath = work.filePath(QLatin1String(kRecordName));
    const QString pendingFolder = work.filePath(QLatin1String(kPendingName));

    TrainingSession session{TrainingOptions()};
    if (!session.sensor().isOpen())
        giveUp(QStringLiteral("cannot create the simulated sensor's port"));
    // As zolvex-training's main() hands its writer to the screens.
    history::Writer writer(location, pendingFolder);
    TimedSink timed(&writer);

    // The screen as the training program's main window opens it, shown
    // rather than run modally, so that the answerer sees the prompts alone.
    CalibrationDlg screen(session.portLister());
    screen.setLinkLossNamer(session.linkLossNamer());
    screen.setHistorySink(&timed);
    auto *connectButton = screen.findChild<QPushButton *>(QStringLiteral("calibrationPB_Connect"));
    auto *printButton = screen.findChild<QPushButton *>(QStringLiteral("calibrationDlg_Print"));
    auto *status = screen.findChild<QLabel *>(QStringLiteral("infobar_status"));
    if (!connectButton || !printButton || !status)
        giveUp(QStringLiteral("the screen lacks its Connect or Print button or its status line"));

    ModalAnswerer answers;
    answers
        .click(QMessageBox::Ok)  // fit the tip
        .click(QMessageBox::Ok)  // validation high: the sensor samples on OK
        .click(QMessageBox::Ok)  // validation low
        .click(QMessageBox::No)  // change the constants
        .click(QMessageBox::Ok)  // calibration data
        .click(QMessageBox::Ok)  // verification high
        .click(QMessageBox::Ok); // verification low
    if (abort)
        answers.click(QMessageBox::Abort); // the previous constants go back
    else
        answers.click(QMessageBox::Save).fileName(recordPath); // keep them

    StallMeter stall;
    int framesMissed = 0;
    stall.watchGaps(kFrameMs, [&](double ms, double cpuMs) {
        ++framesMissed;
        std::fprintf(stderr, "gap_ms=%.1f cpu_ms=%.1f at_s=%.3f ended_at_s=%.6f status=%s\n", ms,
                     cpuMs, at(), monotonicSeconds(), qPrintable(status->text()));
    });

    ShowLog shows;
    app.installEventFilter(&shows);
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (ModalAnswerer::sawUnexpected())
            giveUp(QStringLiteral("unexpected window: %1")
                       .arg(ModalAnswerer::unexpectedWindows().join(QStringLiteral("; "))));
        const bool over =
            abort ? status->text() == texts::kCompleteRestored : printButton->isVisible();
        if (answers.pending() > 0 || !over)
            return;
        poll.stop();
        QTimer::singleShot(kAfterSaveMs, &app, [&] { app.quit(); });
    });
    QTimer::singleShot(kGiveUpMs, &app, [&] {
        giveUp(QStringLiteral("the run did not end in time; status: %1").arg(status->text()));
    });

    double beforeConnectMs = 0;
    screen.show();
    stall.reset();
    QTimer::singleShot(kOperatorMs, &app, [&] {
        beforeConnectMs = stall.longestMs();
        stall.reset();
        framesMissed = 0;
        runClock.start();
        poll.start();
        connectButton->click();
    });
    app.exec();
    const double stallMs = stall.longestMs();
    const double runSeconds = at();

    if (!abort && !QFileInfo(recordPath).isFile())
        giveUp(QStringLiteral("no record was saved at %1").arg(recordPath));
    const bool idle = writer.waitForIdle(kIdleWaitMs);
    const qsizetype pendingLeft = history::pendingRuns(pendingFolder).size();
    std::printf("stall_ms=%.1f frames_missed=%d record_max_ms=%.1f records=%d run_s=%.1f "
                "written=%s pending_left=%d before_connect_ms=%.1f\n",
                stallMs, framesMissed, timed.longestMs(), timed.records(), runSeconds,
                idle && pendingLeft == 0 ? "yes" : "no", int(pendingLeft), beforeConnectMs);
    std::fflush(stdout);
    return idle && pendingLeft == 0 ? 0 : 1;
}
