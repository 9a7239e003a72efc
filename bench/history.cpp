// The calibration history window on a large history in a real SQLite file,
// timed:
//
//   zolvex_bench_history fill <file> <sensors> <runs per sensor> <seed>
//       fills a history with the sample generator
//   zolvex_bench_history window <file>
//       the window built as zolvex-history's main() builds it; prints
//       "paint <CLOCK_MONOTONIC ns>" at the end of the first frame that draws
//       the sensor list filled (for zolvex_bench_startup), and on standard
//       error the time from main() entry to then
//   zolvex_bench_history pick <file> <picks> <warm-up picks>
//       from picking a sensor in the list to the end of the last frame that
//       draws its runs table and its chart
//   zolvex_bench_history export <file> <out folder> <repetitions>
//       every run to CSV: as the window's export does it (Store::allRuns,
//       history::toCsv, QSaveFile), and through the window's own Export all,
//       its file dialog answered at once
//   zolvex_bench_history import <work folder> <files> <repetitions>
//       record files written with record::text() (both kinds, every tip and
//       none) imported into a fresh history, then imported again: with
//       RecordImport as the window uses it, and through the window's own
//       Import action, its dialogs answered at once
//
// Times are wall-clock (CLOCK_MONOTONIC), CPU is this process's (every
// thread, getrusage). Results are printed as key=value pairs, one line each;
// a run that shows something wrong says so on standard error and the program
// ends with status 1.

#include "bench/stallmeter.h"
#include "core/history/location.h"
#include "core/history/run.h"
#include "core/history/runformat.h"
#include "core/history/store.h"
#include "core/record.h"
#include "core/tipkind.h"
#include "gui/history/driftchart.h"
#include "gui/history/historywindow.h"
#include "gui/history/recordimport.h"
#include "gui/history/sample/samplehistory.h"
#include "gui/history/sensorlistmodel.h"

#include <QApplication>
#include <QChart>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>

namespace
{

constexpr double kNsPerMs = 1e6;
// Nothing drawn for this long after a pick: the window has settled.
constexpr int kQuietMs = 300;
constexpr int kPickTimeoutMs = 10000;
constexpr int kExposeTimeoutMs = 10000;
// Every run of a fleet, through a slow server, takes a while.
constexpr int kExportTimeoutMs = 120000;
constexpr int kImportTimeoutMs = 300000;
constexpr int kListTimeoutMs = 60000;
constexpr int kFilterTimeoutMs = 10000;
// How often a wait looks at what it waits for.
constexpr int kPollMs = 5;
// The record files' contents; another seed makes files a history has not seen.
constexpr quint32 kRecordSeed = 7;
const QDate kFirstRecordDay(2016, 1, 4);
constexpr int kMostRecordDays = 3000;

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double msBetween(qint64 fromNs, qint64 toNs)
{
    return double(toNs - fromNs) / kNsPerMs;
}

bool fail(const QString &why)
{
    std::fprintf(stderr, "zolvex_bench_history: %s\n", qPrintable(why));
    return false;
}

// Sees every event: the end of each paint of the widgets watched, the end of
// the frame that painted them (when control is back in the event loop, the
// window's backing store flushed), and each top-level window shown.
class BenchApplication : public QApplication
{
public:
    using QApplication::QApplication;

    void watch(QObject *widget) { watched_.append(widget); }
    std::function<void(QObject *)> painted; // at the end of the paint event
    std::function<void()> frameEnded;       // a frame that painted a watched widget
    std::function<void(QWidget *)> shown;   // a top-level window's show event

    bool notify(QObject *receiver, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        QPointer<QWidget> window;
        if (type == QEvent::Show && receiver->isWidgetType() &&
            static_cast<QWidget *>(receiver)->isWindow())
            window = static_cast<QWidget *>(receiver);
        ++depth_;
        const bool result = QApplication::notify(receiver, event);
        --depth_;
        if (type == QEvent::Paint && watched_.contains(receiver)) {
            paintedInFrame_ = true;
            if (painted)
                painted(receiver);
        }
        if (window && shown)
            shown(window);
        if (depth_ == 0 && paintedInFrame_) {
            paintedInFrame_ = false;
            if (frameEnded)
                frameEnded();
        }
        return result;
    }

private:
    QList<QObject *> watched_;
    int depth_ = 0;
    bool paintedInFrame_ = false;
};

// Processes events until the condition holds; false on timeout.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const qint64 deadline = monotonicNs() + qint64(timeoutMs) * 1000000;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || monotonicNs() > deadline)
            loop.quit();
    });
    if (condition())
        return true;
    poll.start();
    loop.exec();
    return condition();
}

// A history as zolvex-history is pointed at one: a file, or a postgresql://
// address (exits on one it cannot read).
history::Location locationOf(const QString &text)
{
    history::Location location;
    QString error;
    if (!history::parseLocation(text, &location, &error)) {
        fail(QStringLiteral("%1: %2").arg(text, error));
        std::exit(2);
    }
    return location;
}

QString pendingBeside(const QString &file)
{
    return file + QStringLiteral(".pending");
}

// A file's pending runs beside it; a server's in a folder of the bench's own.
QString pendingFolderFor(const history::Location &location)
{
    return location.kind == history::Location::Kind::SQLite
               ? pendingBeside(location.path)
               : QDir::temp().filePath(QStringLiteral("zolvex-bench-server.pending"));
}

history::WindowOptions windowOptions(const QString &where)
{
    // As zolvex-history's main() does, with the history named here.
    history::WindowOptions options;
    options.location = locationOf(where);
    options.pendingFolder = pendingFolderFor(options.location);
    return options;
}

// Shown, drawn, and nothing more to draw for a moment.
bool settle(BenchApplication &app, QWidget *window)
{
    qint64 last = monotonicNs();
    app.frameEnded = [&last] { last = monotonicNs(); };
    const bool exposed = waitUntil(
        [window] { return window->windowHandle() && window->windowHandle()->isExposed(); },
        kExposeTimeoutMs);
    waitUntil([&last] { return msBetween(last, monotonicNs()) > kQuietMs; }, kExposeTimeoutMs);
    app.frameEnded = nullptr;
    return exposed || fail(QStringLiteral("the window was never shown"));
}

int fill(const QStringList &args)
{
    if (args.size() < 6)
        return fail(QStringLiteral("fill <file> <sensors> <runs per sensor> <seed>")), 2;
    history::Store store(locationOf(args.at(2)));
    QString error;
    if (!store.open(&error))
        return fail(error), 1;
    history::SampleShape shape;
    shape.sensors = args.at(3).toInt();
    shape.runsPerSensor = args.at(4).toInt();
    shape.seed = args.at(5).toUInt();
    const qint64 start = monotonicNs();
    history::SampleRegister made;
    const int written = history::fillSampleHistory(&store, shape, &error, &made);
    if (written < 0)
        return fail(error), 1;
    std::printf("runs=%d sensors=%d fill_ms=%.0f standards=%d signatures=%d certificates=%d "
                "retired=%d intervals=%d\n",
                written, int(store.sensors().size()), msBetween(start, monotonicNs()),
                made.standards, made.signatures, made.certificates, made.retired, made.intervals);
    return 0;
}

int window(BenchApplication &app, const QStringList &args, qint64 mainNs)
{
    if (args.size() < 3)
        return fail(QStringLiteral("window <file>")), 2;
    history::HistoryWindow window(windowOptions(args.at(2)));
    auto *sensors = window.findChild<QTableView *>(QStringLiteral("sensors"));
    if (!sensors)
        return fail(QStringLiteral("no sensor list")), 1;
    app.watch(sensors->viewport());
    bool listDrawn = false;
    bool reported = false;
    app.painted = [&](QObject *) { listDrawn = listDrawn || sensors->model()->rowCount() > 0; };
    app.frameEnded = [&] {
        if (!listDrawn || reported)
            return;
        reported = true;
        const qint64 now = monotonicNs();
        std::printf("paint %lld\n", static_cast<long long>(now));
        std::fflush(stdout);
        std::fprintf(stderr, "main_to_list_ms=%.1f cpu_ms=%.1f rows=%d\n", msBetween(mainNs, now),
                     cpuMs(), sensors->model()->rowCount());
    };
    window.show();
    if (!window.openHistory())
        return 1;
    return app.exec();
}

int pick(BenchApplication &app, const QStringList &args)
{
    if (args.size() < 5)
        return fail(QStringLiteral("pick <file> <picks> <warm-up picks>")), 2;
    const int picks = args.at(3).toInt();
    const int warmUps = args.at(4).toInt();
    history::HistoryWindow window(windowOptions(args.at(2)));
    auto *sensors = window.findChild<QTableView *>(QStringLiteral("sensors"));
    auto *runs = window.findChild<QTableView *>(QStringLiteral("runs"));
    auto *chart = window.findChild<history::DriftChart *>(QStringLiteral("chart"));
    if (!sensors || !runs || !chart)
        return fail(QStringLiteral("the window lacks its sensors, runs or chart")), 1;
    window.show();
    if (!window.openHistory() || !settle(app, &window))
        return 1;
    const int rows = sensors->model()->rowCount();
    if (rows < 2)
        return fail(QStringLiteral("too few sensors: %1").arg(rows)), 1;

    app.watch(runs->viewport());
    app.watch(chart->viewport());
    bool runsDrawn = false;
    bool chartDrawn = false;
    qint64 lastFrame = -1;
    double lastFrameCpu = 0;
    app.painted = [&](QObject *widget) {
        (widget == runs->viewport() ? runsDrawn : chartDrawn) = true;
    };
    app.frameEnded = [&] {
        lastFrame = monotonicNs();
        lastFrameCpu = cpuMs();
    };
    int failures = 0;
    for (int i = 1; i <= warmUps + picks; ++i) {
        // Spread over the list, never the sensor shown at the start (row 0).
        const QModelIndex index =
            sensors->model()->index((i * 37) % rows, history::SensorListModel::Serial);
        const QString serial = index.data(history::SensorListModel::SerialRole).toString();
        const int expectedRuns =
            index.siblingAtColumn(history::SensorListModel::Runs).data().toInt();
        qint64 quietSince = monotonicNs();
        app.frameEnded = [&quietSince] { quietSince = monotonicNs(); };
        waitUntil([&] { return msBetween(quietSince, monotonicNs()) > kQuietMs; }, kPickTimeoutMs);
        app.frameEnded = [&] {
            lastFrame = monotonicNs();
            lastFrameCpu = cpuMs();
        };

        runsDrawn = chartDrawn = false;
        lastFrame = -1;
        const double cpuBefore = cpuMs();
        const qint64 start = monotonicNs();
        sensors->setCurrentIndex(index);
        const bool drawn = waitUntil(
            [&] {
                return runsDrawn && chartDrawn && lastFrame >= 0 &&
                       msBetween(lastFrame, monotonicNs()) > kQuietMs;
            },
            kPickTimeoutMs);
        const bool right = window.currentSerial() == serial &&
                           runs->model()->rowCount() == expectedRuns &&
                           chart->chart()->title().contains(serial);
        if (!drawn || !right) {
            ++failures;
            fail(QStringLiteral("pick %1 (%2): %3")
                     .arg(i)
                     .arg(serial, !drawn ? "not drawn" : "wrong"));
            continue;
        }
        if (i > warmUps)
            std::printf("pick_ms=%.1f pick_cpu_ms=%.1f runs=%d serial=%s\n",
                        msBetween(start, lastFrame), lastFrameCpu - cpuBefore, expectedRuns,
                        qPrintable(serial));
    }
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}

// Answers the file dialog the window opens with this path, at once, and
// notes when it appeared and when it was answered.
struct DialogAnswer {
    QString path;
    qint64 shownNs = -1;
    qint64 answeredNs = -1;
    void operator()(QWidget *window)
    {
        auto *dialog = qobject_cast<QFileDialog *>(window);
        if (!dialog)
            return;
        shownNs = monotonicNs();
        QTimer::singleShot(0, dialog, [this, dialog] {
            if (QWidget *focus = dialog->focusWidget())
                focus->clearFocus(); // selectFile() leaves a focused name field alone
            dialog->selectFile(path);
            answeredNs = monotonicNs();
            static_cast<QDialog *>(dialog)->accept();
        });
    }
};

int exportAll(BenchApplication &app, const QStringList &args)
{
    if (args.size() < 5)
        return fail(QStringLiteral("export <file> <out folder> <repetitions>")), 2;
    const QString file = args.at(2);
    const QDir out(args.at(3));
    const int repetitions = args.at(4).toInt();
    QByteArray expected;
    {
        history::Store store(locationOf(file));
        QString error;
        if (!store.open(&error))
            return fail(error), 1;
        const QString path = out.filePath(QStringLiteral("all.csv"));
        // The first one warms up and is not counted.
        for (int r = 0; r <= repetitions; ++r) {
            const double cpuBefore = cpuMs();
            const qint64 start = monotonicNs();
            const QList<history::Run> runs = store.allRuns();
            const qint64 read = monotonicNs();
            const QByteArray bytes = history::toCsv(runs);
            const qint64 made = monotonicNs();
            QSaveFile csv(path);
            if (!csv.open(QIODevice::WriteOnly) || csv.write(bytes) != bytes.size() ||
                !csv.commit())
                return fail(QStringLiteral("cannot write %1: %2").arg(path, csv.errorString())), 1;
            const qint64 end = monotonicNs();
            if (r > 0)
                std::printf("csv_ms=%.1f csv_cpu_ms=%.1f all_runs_ms=%.1f to_csv_ms=%.1f "
                            "write_ms=%.1f runs=%d bytes=%lld\n",
                            msBetween(start, end), cpuMs() - cpuBefore, msBetween(start, read),
                            msBetween(read, made), msBetween(made, end), int(runs.size()),
                            static_cast<long long>(bytes.size()));
            expected = bytes;
        }
    }

    history::HistoryWindow window(windowOptions(file));
    window.show();
    if (!window.openHistory() || !settle(app, &window))
        return 1;
    DialogAnswer answer;
    answer.path = out.filePath(QStringLiteral("window.csv"));
    app.shown = [&answer](QWidget *w) { answer(w); };
    const QString done = QStringLiteral("Runs exported to ");
    for (int r = 0; r <= repetitions; ++r) {
        QFile::remove(answer.path); // no question about overwriting it
        answer.shownNs = answer.answeredNs = -1;
        const qint64 start = monotonicNs();
        window.exportAll(); // back once the file is chosen and the export started
        const qint64 started = monotonicNs();
        // The window's longest stall while the file is written: the largest
        // gap between two ticks of a 1 ms timer, until it says it is done.
        qint64 lastTick = started;
        qint64 longestNs = 0;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = monotonicNs();
            longestNs = std::max(longestNs, now - lastTick);
            lastTick = now;
        });
        tick.start();
        const bool finished =
            waitUntil([&] { return window.statusBar()->currentMessage().startsWith(done); },
                      kExportTimeoutMs);
        const qint64 end = monotonicNs();
        tick.stop();
        QFile written(answer.path);
        if (!finished || answer.answeredNs < 0 || !written.open(QIODevice::ReadOnly) ||
            written.readAll() != expected)
            return fail(QStringLiteral("the window's export differs from the store's CSV")), 1;
        if (r > 0)
            std::printf("window_csv_ms=%.1f before_dialog_ms=%.1f after_dialog_ms=%.1f "
                        "stall_ms=%.1f\n",
                        msBetween(start, answer.shownNs) + msBetween(answer.answeredNs, end),
                        msBetween(start, answer.shownNs), msBetween(answer.answeredNs, end),
                        std::max(msBetween(answer.answeredNs, started), longestNs / kNsPerMs));
    }
    std::fflush(stdout);
    return 0;
}

// A record as the calibration screen writes it; no two alike.
QByteArray recordText(int n, const QDate &date, QRandomGenerator *random)
{
    const auto around = [random](double value, double spread) {
        return QString::number(value + spread * (2 * random->generateDouble() - 1), 'f', 1);
    };
    // Every kind with every tip, and the record of a sensor with no known tip.
    const int tipId = (n / 2) % 4;
    const TipKind *tip = tipKindById(tipId);
    const double high = tip ? tip->highStandard : 525;
    const double low = tip ? (tip->lowWindow.low + tip->lowWindow.high) / 2 : 200;
    record::Inputs in;
    in.date = date;
    in.locale = QLocale(QLocale::English);
    in.serialLine = QStringLiteral("serial number = 40317-%1").arg(30001 + n % 250);
    in.oldSlope = QString::number(0.0025 * (1 + 0.05 * random->generateDouble()), 'f', 6);
    in.oldOffset = QString::number(-12.5 - random->generateDouble(), 'f', 5);
    in.validationHigh = around(high * 1.04, 30);
    in.validationLow = around(low, 20);
    in.validationRun = n % 2 == 0;
    if (!in.validationRun) {
        in.newSlope = QString::number(0.0025 * (1 + 0.01 * random->generateDouble()), 'f', 6);
        in.newOffset = QString::number(-12.5 - random->generateDouble(), 'f', 5);
        in.verificationHigh = around(high, 5);
        in.verificationLow = around(low, 3);
    }
    in.tip = tip;
    return record::text(in).toLatin1();
}

// The files in a folder a year each, as a lab might keep them.
bool writeRecords(const QDir &folder, int count, quint32 seed = kRecordSeed)
{
    QRandomGenerator random(seed);
    for (int n = 0; n < count; ++n) {
        // A record a day; more a day when there are so many that a day each
        // would reach past today, which an import refuses.
        const QDate date = kFirstRecordDay.addDays(n / (1 + count / kMostRecordDays));
        const QString year = QString::number(date.year());
        if (!folder.mkpath(year))
            return fail(QStringLiteral("cannot make %1").arg(folder.filePath(year)));
        const QString name = QStringLiteral("%1/40317-%2_%3.txt")
                                 .arg(year)
                                 .arg(30001 + n % 250)
                                 .arg(date.toString(Qt::ISODate));
        QFile file(folder.filePath(name));
        const QByteArray bytes = recordText(n, date, &random);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return fail(QStringLiteral("cannot write %1").arg(file.fileName()));
    }
    return true;
}

int imported(history::Store &store)
{
    int n = 0;
    for (const history::Run &run : store.allRuns())
        n += run.source == history::Source::Import ? 1 : 0;
    return n;
}

// The counts of the import summary the window shows.
struct Summary {
    qint64 shownNs = -1;
    QString text;
    void operator()(QWidget *window)
    {
        auto *dialog = qobject_cast<history::ImportSummaryDialog *>(window);
        if (!dialog)
            return;
        shownNs = monotonicNs();
        if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("summary")))
            text = label->text();
        QTimer::singleShot(0, dialog, &QDialog::accept);
    }
};

int importRecords(BenchApplication &app, const QStringList &args)
{
    if (args.size() < 5)
        return fail(QStringLiteral("import <work folder> <files> <repetitions>")), 2;
    const QDir work(args.at(2));
    const int count = args.at(3).toInt();
    const int repetitions = args.at(4).toInt();
    const QString recordFolder = work.filePath(QStringLiteral("records"));
    const qint64 writeStart = monotonicNs();
    if (!writeRecords(QDir(recordFolder), count))
        return 1;
    std::printf("files=%d write_files_ms=%.0f\n", count, msBetween(writeStart, monotonicNs()));

    // RecordImport, as the window drives it.
    for (int r = 0; r <= repetitions; ++r) {
        history::Location location;
        location.path = work.filePath(QStringLiteral("import-%1.sqlite").arg(r));
        auto store = std::make_unique<history::Store>(location);
        QString error;
        if (!store->open(&error))
            return fail(error), 1;
        double cpuBefore = cpuMs();
        qint64 start = monotonicNs();
        history::RecordImport first(store.get());
        const history::ImportResult once =
            first.run(history::RecordImport::filesUnder(recordFolder));
        const double importMs = msBetween(start, monotonicNs());
        const double importCpu = cpuMs() - cpuBefore;

        cpuBefore = cpuMs();
        start = monotonicNs();
        history::RecordImport second(store.get());
        const history::ImportResult twice =
            second.run(history::RecordImport::filesUnder(recordFolder));
        const double reimportMs = msBetween(start, monotonicNs());
        const double reimportCpu = cpuMs() - cpuBefore;

        if (once.imported != count || !once.refused.isEmpty() || twice.alreadyThere != count ||
            twice.imported != 0 || !twice.refused.isEmpty() || imported(*store) != count) {
            for (const history::ImportResult::Refused &refused : once.refused)
                fail(refused.path + QStringLiteral(": ") + refused.reason);
            return fail(QStringLiteral("imported %1, then %2 already there of %3")
                            .arg(once.imported)
                            .arg(twice.alreadyThere)
                            .arg(count)),
                   1;
        }
        if (r > 0)
            std::printf("import_ms=%.1f import_cpu_ms=%.1f reimport_ms=%.1f reimport_cpu_ms=%.1f "
                        "imported=%d already=%d\n",
                        importMs, importCpu, reimportMs, reimportCpu, once.imported,
                        twice.alreadyThere);
        store.reset();
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(location.path + QLatin1String(suffix));
    }

    // The window's Import action: from the folder chosen to the summary.
    for (int r = 0; r <= repetitions; ++r) {
        const QString file = work.filePath(QStringLiteral("window-%1.sqlite").arg(r));
        {
            history::HistoryWindow window(windowOptions(file));
            window.show();
            if (!window.openHistory() || !settle(app, &window))
                return 1;
            DialogAnswer folder;
            folder.path = recordFolder;
            Summary summary;
            app.shown = [&](QWidget *w) {
                folder(w);
                summary(w);
            };
            double times[2] = {0, 0};
            QString texts[2];
            for (int pass = 0; pass < 2; ++pass) {
                folder.answeredNs = summary.shownNs = -1;
                window.importRecords();
                // The import runs on a thread of its own: its summary ends it.
                waitUntil([&] { return summary.shownNs >= 0; }, kImportTimeoutMs);
                if (folder.answeredNs < 0 || summary.shownNs < 0)
                    return fail(QStringLiteral("the import's dialogs were not seen")), 1;
                times[pass] = msBetween(folder.answeredNs, summary.shownNs);
                texts[pass] = summary.text;
            }
            app.shown = nullptr;
            const QString once = QStringLiteral("Imported: %1\n").arg(count);
            const QString twice = QStringLiteral("Already in the history: %1\n").arg(count);
            if (!texts[0].startsWith(once) || !texts[1].contains(twice) ||
                !texts[1].contains(QStringLiteral("Not imported: 0")))
                return fail(QStringLiteral("the summaries say\n%1\nand\n%2")
                                .arg(texts[0], texts[1])),
                       1;
            if (r > 0)
                std::printf("window_import_ms=%.1f window_reimport_ms=%.1f\n", times[0], times[1]);
        }
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(file + QLatin1String(suffix));
    }
    std::fflush(stdout);
    return 0;
}

// "VmRSS" or "VmHWM" of this process, in kB; -1 when unknown.
long statusKb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// From now to the end of the first frame that draws `view` once the
// condition holds; -1 on timeout.
double toFrameWhere(BenchApplication &app, QAbstractItemView *view,
                    const std::function<bool()> &condition, const std::function<void()> &act,
                    int timeoutMs, const std::function<void()> &eachFrame = nullptr)
{
    bool ready = false;
    qint64 frame = -1;
    app.painted = [&](QObject *widget) {
        ready = ready || (widget == view->viewport() && condition());
    };
    app.frameEnded = [&] {
        if (eachFrame)
            eachFrame();
        if (ready && frame < 0)
            frame = monotonicNs();
    };
    const qint64 start = monotonicNs();
    act();
    const bool drawn = waitUntil([&] { return frame >= 0; }, timeoutMs);
    app.painted = nullptr;
    app.frameEnded = nullptr;
    return drawn ? msBetween(start, frame) : -1;
}

// The window on a fleet, in one process, its event loop watched throughout:
// start, filter keystrokes, picks, sorting, reload, export of every run and
// the import of record files; then its resident memory.
int tour(BenchApplication &app, const QStringList &args)
{
    if (args.size() < 7)
        return fail(QStringLiteral("tour <history> <work folder> <files> <picks> <records seed>")),
               2;
    const QString where = args.at(2);
    const QDir work(args.at(3));
    const int files = args.at(4).toInt();
    const int picks = args.at(5).toInt();
    const quint32 recordSeed = args.at(6).toUInt();
    const QString recordFolder = work.filePath(QStringLiteral("records-%1").arg(recordSeed));
    if (!writeRecords(QDir(recordFolder), files, recordSeed))
        return 1;
    QApplication::processEvents(); // the first gap is the window's, not the files'

    StallMeter stall;
    // Each gap longer than a frame, to stderr, with the clock a profiler
    // records by (perf record -k CLOCK_MONOTONIC), to find what held the loop.
    const char *phaseNow = "start";
    stall.watchGaps(kFrameMs, [&phaseNow](double ms, double cpuMs) {
        std::fprintf(stderr, "gap_ms=%.1f cpu_ms=%.1f ended_at_s=%.6f during=%s\n", ms, cpuMs,
                     double(monotonicNs()) / 1e9, phaseNow);
    });
    const auto phase = [&stall, &phaseNow](const char *name, const char *next,
                                           const QString &figures) {
        std::printf("phase=%s %s stall_ms=%.1f\n", name, qPrintable(figures), stall.longestMs());
        std::fflush(stdout);
        stall.reset();
        phaseNow = next;
    };

    // Start: to the first frame that draws the sensor list filled.
    const qint64 start = monotonicNs();
    history::HistoryWindow window(windowOptions(where));
    auto *filter = window.findChild<QLineEdit *>(QStringLiteral("filter"));
    auto *sensors = window.findChild<QTableView *>(QStringLiteral("sensors"));
    auto *runs = window.findChild<QTableView *>(QStringLiteral("runs"));
    auto *chart = window.findChild<history::DriftChart *>(QStringLiteral("chart"));
    if (!filter || !sensors || !runs || !chart)
        return fail(QStringLiteral("the window lacks its filter, sensors, runs or chart")), 1;
    app.watch(sensors->viewport());
    app.watch(runs->viewport());
    app.watch(chart->viewport());
    const auto rows = [sensors] { return sensors->model()->rowCount(); };
    // zolvex-history builds and shows its window before its event loop runs:
    // until the first frame there is no frame to miss, and that time is in
    // the start-up figure. The stalls count from the end of the first frame.
    double firstFrameMs = -1;
    const double listMs = toFrameWhere(
        app, sensors, [&] { return rows() > 0; },
        [&] {
            window.show();
            window.openHistory();
        },
        kListTimeoutMs,
        [&] {
            if (firstFrameMs >= 0)
                return;
            firstFrameMs = msBetween(start, monotonicNs());
            stall.reset();
        });
    const int allRows = rows();
    if (listMs < 0)
        return fail(QStringLiteral("the sensor list was never drawn filled")), 1;
    if (!settle(app, &window))
        return 1;
    phase("start", "filter",
          QStringLiteral("list_ms=%1 rows=%2 from_construction_ms=%3 first_frame_ms=%4")
              .arg(listMs, 0, 'f', 1)
              .arg(allRows)
              .arg(msBetween(start, monotonicNs()), 0, 'f', 1)
              .arg(firstFrameMs, 0, 'f', 1));

    // Filtering: keystrokes that each change the list, then back to all.
    filter->setFocus();
    struct Key {
        int key;
        const char *text;
    };
    const Key keys[] = {
        {Qt::Key_9, "9"}, {Qt::Key_9, "9"}, {Qt::Key_Backspace, ""}, {Qt::Key_Backspace, ""}};
    for (const Key &key : keys) {
        const int before = rows();
        const QString textBefore = filter->text();
        const double ms = toFrameWhere(
            app, sensors, [&] { return filter->text() != textBefore && rows() != before; },
            [&] {
                QCoreApplication::postEvent(
                    filter, new QKeyEvent(QEvent::KeyPress, key.key, Qt::NoModifier, key.text));
                QCoreApplication::postEvent(
                    filter, new QKeyEvent(QEvent::KeyRelease, key.key, Qt::NoModifier, key.text));
            },
            kFilterTimeoutMs);
        if (ms < 0)
            return fail(QStringLiteral("the filter \"%1\" never changed the list")
                            .arg(filter->text())),
                   1;
        std::printf("filter_ms=%.1f text=%s rows=%d\n", ms, qPrintable(filter->text()), rows());
    }
    if (rows() != allRows)
        return fail(QStringLiteral("the list has %1 rows after the filter was emptied, not %2")
                        .arg(rows())
                        .arg(allRows)),
               1;
    settle(app, &window);
    phase("filter", "pick", QString());

    // Picks: to the last frame that draws the sensor's runs and chart.
    for (int i = 1; i <= picks; ++i) {
        const QModelIndex index =
            sensors->model()->index((i * 997) % allRows, history::SensorListModel::Serial);
        const QString serial = index.data(history::SensorListModel::SerialRole).toString();
        const int expected = index.siblingAtColumn(history::SensorListModel::Runs).data().toInt();
        bool runsDrawn = false;
        bool chartDrawn = false;
        qint64 lastFrame = -1;
        app.painted = [&](QObject *widget) {
            if (window.currentSerial() != serial || runs->model()->rowCount() != expected)
                return;
            runsDrawn = runsDrawn || widget == runs->viewport();
            chartDrawn = chartDrawn || widget == chart->viewport();
        };
        app.frameEnded = [&] {
            if (runsDrawn && chartDrawn)
                lastFrame = monotonicNs();
        };
        const qint64 pickStart = monotonicNs();
        sensors->setCurrentIndex(index);
        const bool drawn = waitUntil(
            [&] { return lastFrame >= 0 && msBetween(lastFrame, monotonicNs()) > kQuietMs; },
            kPickTimeoutMs);
        app.painted = nullptr;
        app.frameEnded = nullptr;
        if (!drawn || !chart->chart()->title().contains(serial))
            return fail(QStringLiteral("pick of %1: its %2 runs never drawn")
                            .arg(serial)
                            .arg(expected)),
                   1;
        std::printf("pick_ms=%.1f runs=%d serial=%s\n", msBetween(pickStart, lastFrame), expected,
                    qPrintable(serial));
    }
    phase("pick", "sort", QString());

    // Sorting the sensor list by each column, both ways.
    {
        const qint64 sortStart = monotonicNs();
        for (int column = 0; column < history::SensorListModel::ColumnCount; ++column) {
            for (Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
                sensors->sortByColumn(column, order);
                waitUntil([] { return false; }, 2 * kPollMs);
            }
        }
        sensors->sortByColumn(history::SensorListModel::Serial, Qt::AscendingOrder);
        settle(app, &window);
        if (rows() != allRows)
            return fail(QStringLiteral("sorting changed the list")), 1;
        phase("sort", "reload",
              QStringLiteral("sort_all_ms=%1").arg(msBetween(sortStart, monotonicNs()), 0, 'f', 1));
    }

    // Reload: to the frame that draws the list again.
    {
        bool emptied = false;
        const double ms = toFrameWhere(
            app, sensors, [&] { return rows() == allRows; },
            [&] {
                window.reload();
                emptied = rows() != allRows;
            },
            kListTimeoutMs);
        settle(app, &window);
        if (ms < 0)
            return fail(QStringLiteral("the list was never drawn after reload")), 1;
        phase("reload", "export",
              QStringLiteral("reload_ms=%1 emptied=%2").arg(ms, 0, 'f', 1).arg(emptied));
    }

    // Export of every run through Export all, its dialog answered at once.
    QString exported;
    {
        DialogAnswer answer;
        answer.path = work.filePath(QStringLiteral("fleet.csv"));
        QFile::remove(answer.path);
        app.shown = [&answer](QWidget *w) { answer(w); };
        const QString done = QStringLiteral("Runs exported to ");
        const qint64 exportStart = monotonicNs();
        window.exportAll();
        const bool finished =
            waitUntil([&] { return window.statusBar()->currentMessage().startsWith(done); },
                      kExportTimeoutMs);
        const qint64 end = monotonicNs();
        app.shown = nullptr;
        if (!finished || answer.answeredNs < 0 || QFileInfo(answer.path).size() == 0)
            return fail(QStringLiteral("Export all never finished")), 1;
        phase("export", "import",
              QStringLiteral("export_ms=%1 bytes=%2")
                  .arg(msBetween(exportStart, answer.shownNs) + msBetween(answer.answeredNs, end),
                       0, 'f', 1)
                  .arg(QFileInfo(answer.path).size()));
        exported = answer.path; // removed after the tour: a large unlink holds the loop
    }

    // Import of the record files through the Import action.
    {
        DialogAnswer folder;
        folder.path = recordFolder;
        Summary summary;
        app.shown = [&](QWidget *w) {
            folder(w);
            summary(w);
        };
        window.importRecords();
        // The import runs on a thread of its own: its summary ends it.
        waitUntil([&] { return summary.shownNs >= 0; }, kImportTimeoutMs);
        app.shown = nullptr;
        if (folder.answeredNs < 0 || summary.shownNs < 0)
            return fail(QStringLiteral("the import's dialogs were not seen")), 1;
        if (!summary.text.startsWith(QStringLiteral("Imported: %1\n").arg(files)))
            return fail(QStringLiteral("the import's summary says %1").arg(summary.text)), 1;
        phase("import", "end",
              QStringLiteral("import_ms=%1 files=%2")
                  .arg(msBetween(folder.answeredNs, summary.shownNs), 0, 'f', 1)
                  .arg(files));
    }
    std::printf("rss_kb=%ld hwm_kb=%ld\n", statusKb("VmRSS"), statusKb("VmHWM"));
    QFile::remove(exported);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const qint64 mainNs = monotonicNs();
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("fill")) {
        QCoreApplication app(argc, argv);
        return fill(app.arguments());
    }
    QCoreApplication::setApplicationName(QStringLiteral("zolvex-history"));
    BenchApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (mode == QLatin1String("window"))
        return window(app, args, mainNs);
    if (mode == QLatin1String("pick"))
        return pick(app, args);
    if (mode == QLatin1String("export"))
        return exportAll(app, args);
    if (mode == QLatin1String("import"))
        return importRecords(app, args);
    if (mode == QLatin1String("tour"))
        return tour(app, args);
    std::fprintf(stderr, "usage: zolvex_bench_history fill|window|pick|export|import|tour ...\n");
    return 2;
}
