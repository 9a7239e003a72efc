// The history window on a real SQLite history: the sensors, a sensor's runs
// and chart when it is picked, the filter as it is typed, the pending runs
// shown once and then written, a database that cannot be opened, export to
// CSV through the save dialog and the report printed to PDF.

#include "core/history/pendingfiles.h"
#include "core/history/register.h"
#include "core/history/runformat.h"
#include "core/history/writer.h"
#include "gui/history/driftchart.h"
#include "gui/history/historywindow.h"
#include "gui/history/revisionsdialog.h"
#include "gui/history/runtablemodel.h"
#include "gui/history/sensorlistmodel.h"
#include "gui/history/standardsdialog.h"
#include "gui/history/windowactions.h"
#include "tests/support/guisuite.h"
#include "tests/support/historydatabases.h"
#include "tests/support/modalanswerer.h"
#include "tests/support/pdf.h"
#include "tst_historysupport.h"

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSemaphore>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QXYSeries>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

using history::HistoryWindow;
using history::Outcome;
using history::Run;
using namespace historytest;

namespace
{

const QDate kToday(2026, 7, 1);
// Enough to count the chart's blue pixels.
constexpr double kReportDpi = 50;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(cannot read)");
}

QStringList pendingFiles(const QString &folder)
{
    return QDir(folder).entryList({"*.json"}, QDir::Files);
}

// Two sensors: one validated and later recalibrated, one whose last run was
// cancelled more than a year after its validation.
QList<Run> smallHistory()
{
    Run first = validation("40317-00101", {2026, 1, 10}, "512.0", "201.5");
    first.station = "bench \"B\", hangar 2"; // a field CSV must quote
    Run cancelled = validation("40317-00202", {2025, 6, 20}, "530.0", "", "0.002610", "-13.05000");
    cancelled.foundLow = history::Reading();
    cancelled.outcome = Outcome::Cancelled;
    cancelled.outcomeDetail = "validation";
    return {first,
            recalibration(validation("40317-00101", {2026, 6, 1}, "600.1", "230.2"), "0.002180",
                          "-10.90000", "524.9", "200.3"),
            validation("40317-00202", {2025, 5, 2}, "520.0", "199.0", "0.002610", "-13.05000"),
            cancelled};
}

// The byte order mark first, for the spreadsheets.
const QByteArray kCsvHeader =
    "\xEF\xBB\xBF"
    "key,revision,source,started,ended,station,sensor_type,serial_number,firmware,range,tip,"
    "unit,old_slope,old_offset,found_high_text,found_high_value,found_high_window_low,"
    "found_high_window_high,found_high_verdict,found_low_text,found_low_value,"
    "found_low_window_low,found_low_window_high,found_low_verdict,mean_counts,new_slope,"
    "new_offset,left_high_text,left_high_value,left_high_window_low,left_high_window_high,"
    "left_high_verdict,left_low_text,left_low_value,left_low_window_low,left_low_window_high,"
    "left_low_verdict,outcome,outcome_detail,unsaved_constants,record_path,record_digest,"
    "record_date,operator,recorded_at,recorded_by,started_utc,ended_utc,outcome_name,"
    "recorded_at_utc,verification_not_kept,standard_serial,standard_finding\r\n";

const QByteArray kCsvSensor1 =
    "run-40317-00101-2026-01-10,1,station,2026-01-10 12:00:00,2026-01-10 12:10:00,"
    "\"bench \"\"B\"\", hangar 2\",RT-5K-MQ,40317-00101,Version 2.12,2000,1,pS/m,0.002500,"
    "-12.50000,512.0,512,465,585,pass,201.5,201.5,175,225,pass,,,,,,,,,,,,,,"
    "\"Validated, date set\",,no,,,,,RECORDED,,2026-01-10T12:00:00.000Z,"
    "2026-01-10T12:10:00.000Z,validated-date-set,RECORDED,,,\r\n"
    "run-40317-00101-2026-06-01,1,station,2026-06-01 12:00:00,2026-06-01 12:10:00,"
    "bench-1,RT-5K-MQ,40317-00101,Version 2.12,2000,1,pS/m,0.002500,-12.50000,600.1,600.1,"
    "465,585,fail,230.2,230.2,175,225,fail,210000,0.002180,-10.90000,524.9,524.9,465,585,pass,"
    "200.3,200.3,175,225,pass,Recalibrated and saved,,no,,,,,RECORDED,,2026-06-01T12:00:00.000Z,"
    "2026-06-01T12:10:00.000Z,recalibrated,RECORDED,,,\r\n";

const QByteArray kCsvSensor2 =
    "run-40317-00202-2025-05-02,1,station,2025-05-02 12:00:00,2025-05-02 12:10:00,"
    "bench-1,RT-5K-MQ,40317-00202,Version 2.12,2000,1,pS/m,0.002610,-13.05000,520.0,520,465,"
    "585,pass,199.0,199,175,225,pass,,,,,,,,,,,,,,\"Validated, date set\",,no,,,,,RECORDED,,"
    "2025-05-02T12:00:00.000Z,2025-05-02T12:10:00.000Z,validated-date-set,RECORDED,,,\r\n"
    "run-40317-00202-2025-06-20,1,station,2025-06-20 12:00:00,2025-06-20 12:10:00,"
    "bench-1,RT-5K-MQ,40317-00202,Version 2.12,2000,1,pS/m,0.002610,-13.05000,530.0,530,465,"
    "585,pass,,,,,,,,,,,,,,,,,,,Cancelled,validation,no,,,,,RECORDED,,2025-06-20T12:00:00.000Z,"
    "2025-06-20T12:10:00.000Z,cancelled,RECORDED,,,\r\n";

// The database's own time of each row, local after the operator and in UTC
// among the columns for scripts (who stored it: on SQLite the operator, none
// here): its shape is checked, the time itself masked.
QByteArray recordedMasked(QByteArray csv)
{
    static const QRegularExpression recorded(
        QStringLiteral(",\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d(,[^,]*,[^,]*,[^,]*,[^,]*),"
                       "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z((?:,[^,\r\n]*)*)\r\n"));
    // Decoding would take the byte order mark away: it stays as it is.
    const QByteArray mark = csv.startsWith("\xEF\xBB\xBF") ? csv.left(3) : QByteArray();
    return mark + QString::fromUtf8(csv.mid(mark.size()))
                      .replace(recorded, QStringLiteral(",RECORDED\\1,RECORDED\\2\r\n"))
                      .toUtf8();
}

// A clock the test moves on by hand; the window's wake-up waits until the
// test calls it.
class HandClock : public history::Clock
{
public:
    explicit HandClock(const QDateTime &now) : now_(now) {}
    QDateTime now() const override { return now_; }
    void wakeAt(const QDateTime &when, std::function<void()> wake) override
    {
        when_ = when;
        wake_ = std::move(wake);
    }
    QDateTime armedFor() const { return wake_ ? when_ : QDateTime(); }
    // The time comes to the armed wake-up, which is called (once).
    bool wakeUp()
    {
        if (!wake_)
            return false;
        now_ = when_;
        std::function<void()> wake = std::move(wake_);
        wake_ = nullptr;
        wake();
        return true;
    }

private:
    QDateTime now_;
    QDateTime when_;
    std::function<void()> wake_;
};

// A reader hook that holds the read of one sensor's runs until released.
history::HistoryReader::Hook holdRuns(const QString &serial, QSemaphore *reached,
                                      QSemaphore *release)
{
    return [=](history::HistoryReader::Kind kind, const QString &subject) {
        if (kind == history::HistoryReader::Runs && subject == serial) {
            reached->release();
            release->tryAcquire(1, 20000);
        }
    };
}

} // namespace

class HistoryWindowTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void showsTheSensorsAndTheMostUrgent();
    void pickingASensorShowsItsRunsAndChart();
    void filterAsYouType();
    void sensorWithoutSerialNumber();
    void emptyHistory();
    void pendingRunsNoticedOnceAndWritten();
    void cannotOpen_data();
    void cannotOpen();
    void exportSensor();
    void exportAll();
    void exportAllOfAnUnreadableHistory();
    void dueReportFromTheMenu();
    void lockedHistory();
    void pendingFolderHeldByAStation();
    void exportCancelled();
    void reportPrintsToPdf();
    void sameSerialTwoTypes();
    void outOfToleranceMarkedAndCounted();
    void dateOnlyRunShownWithoutTime();
    void databaseGoneAndBack();
    void markupShownAsText();
    void trainingSaysSo();
    void earlierRevisions();
    void runTypeSetFromItsMenu();
    void sensorRetiredFromItsMenu();
    void signedOffFromItsMenu();
    void standardRegisteredAndChosen();
    void everyToolbarActionHasAnIcon();
    void fileDialogsStartInTheLastFolder();
    void fileDialogsAskAfreshAndSaveTheirStateAtClose();
    void closingEndsTheConnectionOnItsThread();
    void outcomeTakesTheSpareWidth();
    void sensorListAndSortArrowsAsRead();
    void onlyTheNewestAnswerDelivered();
    void runsSortByValue_data();
    void runsSortByValue();
    void dueDatesMoveOnAtEveryMidnight();
    void staleRunsNeverShown();
    void enabledActions_data();
    void enabledActions();

private:
    // The window on this history, opened as the program opens it.
    std::unique_ptr<HistoryWindow> openWindow(const history::Location &location,
                                              const QString &pendingFolder, bool opens = true,
                                              bool training = false,
                                              history::HistoryReader::Hook hook = {});
    // The report of the sensor shown, printed to PDF, as text.
    QString printedReport(const QString &folder);
    QTableView *view(const char *name) const;
    QAction *action(const char *name) const;
    int seenBefore_ = 0;

    std::unique_ptr<ModalAnswerer> answers_;
    std::unique_ptr<HistoryWindow> window_;
};

void HistoryWindowTest::initTestCase()
{
    // Local times are shown; the expected texts are written for UTC.
    qputenv("TZ", "UTC");
    tzset();
    const QString missing = pdfread::toolsMissing();
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
}

void HistoryWindowTest::init()
{
    GuiSuite::init();
    answers_ = std::make_unique<ModalAnswerer>();
}

void HistoryWindowTest::cleanup()
{
    window_.reset();
    // No other window of any kind was left behind.
    const QString open = shownWindow();
    QVERIFY2(open.isEmpty(), qPrintable("left open: " + open));
    answers_.reset();
    GuiSuite::cleanup();
}

std::unique_ptr<HistoryWindow> HistoryWindowTest::openWindow(const history::Location &location,
                                                             const QString &pendingFolder,
                                                             bool opens, bool training,
                                                             history::HistoryReader::Hook hook)
{
    history::WindowOptions options;
    options.location = location;
    options.pendingFolder = pendingFolder;
    options.training = training;
    options.readerHook = std::move(hook);
    auto window = std::make_unique<HistoryWindow>(options);
    window->setToday(kToday);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    if (window->openHistory() != opens || !loaded(window.get()))
        return nullptr;
    return window;
}

QTableView *HistoryWindowTest::view(const char *name) const
{
    return window_->findChild<QTableView *>(QLatin1String(name));
}

QAction *HistoryWindowTest::action(const char *name) const
{
    return window_->findChild<QAction *>(QLatin1String(name));
}

void HistoryWindowTest::showsTheSensorsAndTheMostUrgent()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QCOMPARE(answers_->seen().size(), 0);

    QTableView *sensors = view("sensors");
    QCOMPARE(sensors->model()->rowCount(), 2);
    // Overdue first: its due date is the earliest.
    QCOMPARE(sensors->model()->index(0, 0).data().toString(), QString("40317-00202"));
    QCOMPARE(sensors->model()->index(0, 5).data().toString(), QString("2026-05-02, overdue"));
    QCOMPARE(window_->currentSerial(), QString("40317-00202"));
    QCOMPARE(sensors->currentIndex().row(), 0);

    // Its runs, newest first.
    QTableView *runs = view("runs");
    QCOMPARE(runs->model()->rowCount(), 2);
    QCOMPARE(runs->model()->index(0, 0).data().toString(), QString("2025-06-20 12:00"));
    QCOMPARE(runs->model()->index(0, 2).data().toString(), QString("Cancelled (validation)"));
    QCOMPARE(runs->model()->index(1, 0).data().toString(), QString("2025-05-02 12:00"));
    QCOMPARE(window_->findChild<QLabel *>("heading")->text(),
             QString("RT-5K-MQ 40317-00202 - runs: 2 - next due 2026-05-02, overdue"));
    QVERIFY(window_->findChild<QLabel *>("database")->text().contains(h.location().path));
}

void HistoryWindowTest::pickingASensorShowsItsRunsAndChart()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);

    QTableView *sensors = view("sensors");
    const QModelIndex other = sensors->model()->index(1, 0);
    QCOMPARE(other.data().toString(), QString("40317-00101"));
    QTest::mouseClick(sensors->viewport(), Qt::LeftButton, {}, sensors->visualRect(other).center());
    QVERIFY(loaded(window_.get()));
    QCOMPARE(window_->currentSerial(), QString("40317-00101"));

    QTableView *runs = view("runs");
    QCOMPARE(runs->model()->rowCount(), 2);
    QCOMPARE(runs->model()->index(0, 2).data().toString(), QString("Recalibrated and saved"));
    QCOMPARE(runs->model()->index(0, 7).data().toString(), QString("0.002180"));
    QCOMPARE(runs->model()->index(0, 3).data(Qt::BackgroundRole).value<QBrush>().color(),
             QColor(Qt::red));
    QCOMPARE(runs->model()->index(0, 9).data(Qt::BackgroundRole).value<QBrush>().color(),
             QColor(Qt::green));

    auto *chart = window_->findChild<history::DriftChart *>("chart");
    QVERIFY(chart->chart()->title().contains("40317-00101"));
    QXYSeries *high = nullptr;
    for (QAbstractSeries *s : chart->chart()->series()) {
        if (s->objectName() == "foundHigh")
            high = qobject_cast<QXYSeries *>(s);
    }
    QVERIFY(high);
    QCOMPARE(high->points(),
             (QList<QPointF>{{qreal(noon({2026, 1, 10}).toMSecsSinceEpoch()), 512.0},
                             {qreal(noon({2026, 6, 1}).toMSecsSinceEpoch()), 600.1}}));
    QVERIFY(action("exportSensorAction")->isEnabled());
    QVERIFY(action("printAction")->isEnabled());
}

void HistoryWindowTest::filterAsYouType()
{
    TempHistory h;
    QList<Run> runs = smallHistory();
    Run cm = validation("50999-00303", {2026, 2, 2}, "515.0", "200.0");
    cm.sensorType = "RT-5K-MQ-CM";
    runs << cm;
    QVERIFY2(h.ok() && h.write(runs), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QTableView *sensors = view("sensors");
    auto *filter = window_->findChild<QLineEdit *>("filter");

    const auto shown = [sensors] {
        QStringList serials;
        for (int r = 0; r < sensors->model()->rowCount(); ++r)
            serials << sensors->model()->index(r, 0).data().toString();
        serials.sort();
        return serials;
    };
    QTest::keyClicks(filter, "4031");
    QCOMPARE(shown(), (QStringList{"40317-00101", "40317-00202"}));
    QTest::keyClicks(filter, "7-002");
    QCOMPARE(shown(), QStringList{"40317-00202"});
    filter->clear();
    QCOMPARE(shown().size(), 3);
    QTest::keyClicks(filter, "mq-CM");
    QCOMPARE(shown(), QStringList{"50999-00303"});

    // Return shows the first sensor left (the most urgent); the list keeps
    // it when the filter is cleared.
    filter->clear();
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));
    QTest::keyClicks(filter, "rt-5k-mq");
    QCOMPARE(shown().size(), 3);
    QCOMPARE(window_->currentSerial(), QString("40317-00101"));
    QTest::keyClick(filter, Qt::Key_Return);
    QCOMPARE(window_->currentSerial(), QString("40317-00202"));
    QVERIFY(sensors->hasFocus());
    filter->clear();
    QCOMPARE(window_->currentSerial(), QString("40317-00202"));
    QCOMPARE(sensors->currentIndex().data().toString(), QString("40317-00202"));
}

void HistoryWindowTest::sensorWithoutSerialNumber()
{
    // A sensor whose listing gave no serial number is still a sensor.
    TempHistory h;
    Run nameless = validation("", {2026, 5, 5}, "599.0", "200.0");
    QVERIFY2(h.ok() &&
                 h.write({nameless, validation("40317-00101", {2026, 1, 10}, "512.0", "201.5")}),
             qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QTableView *sensors = view("sensors");
    QCOMPARE(window_->currentSerial(), QString("40317-00101")); // due first
    const QModelIndex none = sensors->model()->index(1, 0);
    QCOMPARE(none.data().toString(), QString("(none)"));
    // Never due, never overdue, and no sensor in the count.
    // Its reading of 599.0 was outside the window, but no sensor can be out of tolerance.
    QCOMPARE(sensors->model()->index(1, 5).data().toString(), QString("none, no serial number"));
    QVERIFY(!none.data(history::SensorListModel::OverdueRole).toBool());
    QCOMPARE(window_->statusBar()->currentMessage(),
             QString("Sensors: 1, overdue: 0, out of tolerance: 0"));
    // After the sensors in either order.
    sensors->sortByColumn(5, Qt::DescendingOrder);
    QCOMPARE(sensors->model()->index(1, 0).data().toString(), QString("(none)"));
    sensors->sortByColumn(5, Qt::AscendingOrder);
    QTest::mouseClick(sensors->viewport(), Qt::LeftButton, {}, sensors->visualRect(none).center());
    QVERIFY(loaded(window_.get()));
    QCOMPARE(window_->currentSerial(), QString());
    QCOMPARE(view("runs")->model()->rowCount(), 1);
    QCOMPARE(view("runs")->model()->index(0, 3).data().toString(), QString("599.0"));
    QCOMPARE(window_->findChild<QLabel *>("heading")->text(),
             QString("RT-5K-MQ (none) - runs: 1 - next due none, no serial number"));
    QVERIFY(action("exportSensorAction")->isEnabled());
}

void HistoryWindowTest::emptyHistory()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QCOMPARE(view("sensors")->model()->rowCount(), 0);
    QCOMPARE(view("runs")->model()->rowCount(), 0);
    QCOMPARE(window_->findChild<QLabel *>("heading")->text(),
             QString("No runs are recorded in this history yet."));
    QVERIFY(!action("exportSensorAction")->isEnabled());
    QVERIFY(!action("printAction")->isEnabled());
    QVERIFY(window_->findChild<history::DriftChart *>("chart")->chart()->series().isEmpty());
}

void HistoryWindowTest::pendingRunsNoticedOnceAndWritten()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    const QString pending = h.pendingFolder();

    // Two runs a station could not record: its database could not be
    // reached then (here: a location the station could not use).
    history::Location unreachable = h.location();
    unreachable.error = QStringLiteral("the disk of %1 was not there").arg(h.location().path);
    {
        history::Writer writer(unreachable, pending);
        writer.record(validation("40317-01001", {2026, 6, 1}, "520.0", "200.0"));
        writer.record(validation("40317-01002", {2026, 6, 2}, "521.0", "201.0"));
        QVERIFY(writer.waitForIdle(10000));
    }
    // And one left by a station that ended before it tried.
    {
        history::PendingEntry untried;
        untried.run = validation("40317-01003", {2026, 6, 3}, "522.0", "202.0");
        untried.location = history::locationText(h.location());
        QString error;
        history::PendingLock lock(pending);
        QVERIFY2(lock.locked() && history::keepPending(pending, untried, &error),
                 qPrintable(error));
    }
    QCOMPARE(pendingFiles(pending).size(), 3);

    answers_->click(QMessageBox::Ok);
    window_ = openWindow(h.location(), pending);
    QVERIFY(window_);
    QCOMPARE(answers_->seen().size(), 1);
    const SeenWindow box = answers_->seen().first();
    QCOMPARE(box.icon, QMessageBox::Information);
    const QStringList lines = box.text.split('\n');
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0), QString("Runs that could not be recorded when they ended:"));
    const QString start = "The run of %1 for sensor %2 could not be recorded: ";
    QVERIFY2(lines.at(2).startsWith(start.arg("2026-06-01 12:00", "40317-01001")),
             qPrintable(lines.at(2)));
    QVERIFY2(lines.at(3).startsWith(start.arg("2026-06-02 12:00", "40317-01002")),
             qPrintable(lines.at(3)));
    // The reason is the one the station met.
    QVERIFY2(lines.at(2).contains(unreachable.error), qPrintable(lines.at(2)));
    QCOMPARE(lines.at(5), QString("They are written into the history now."));

    // All three are in the history, listed, and no longer pending.
    for (const QString serial : {"40317-01001", "40317-01002", "40317-01003"})
        QCOMPARE(h.store().runsOf(serial).size(), 1);
    QCOMPARE(view("sensors")->model()->rowCount(), 3);
    QCOMPARE(pendingFiles(pending), QStringList());

    // Once: the next start has nothing to say.
    window_.reset();
    window_ = openWindow(h.location(), pending);
    QVERIFY(window_);
    QCOMPARE(answers_->seen().size(), 1);
}

void HistoryWindowTest::cannotOpen_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("pendingRun");

    QTest::newRow("sqlite under a file") << "sqlite" << false;
    QTest::newRow("postgresql without a server") << "postgresql" << false;
    QTest::newRow("runs stay pending") << "sqlite" << true;
}

void HistoryWindowTest::cannotOpen()
{
    QFETCH(QString, kind);
    QFETCH(bool, pendingRun);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString password = "s3cret-Pa55";
    QFile blocker(dir.filePath("not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    history::Location location;
    if (kind == "sqlite") {
        location.path = blocker.fileName() + "/history.sqlite";
    } else {
        // A socket folder no server listens in: refused at once.
        location.kind = history::Location::Kind::PostgreSQL;
        location.host = dir.path();
        location.database = "zolvex";
        location.user = "technician";
        location.password = password;
    }
    const QString pending = dir.filePath("pending");
    if (pendingRun) {
        history::Writer writer(location, pending);
        writer.record(validation("40317-02001", {2026, 6, 5}, "520.0", "200.0"));
        QVERIFY(writer.waitForIdle(10000));
    }

    if (pendingRun)
        answers_->click(QMessageBox::Ok);
    answers_->click(QMessageBox::Ok);
    window_ = openWindow(location, pending, false);
    QVERIFY2(window_, "the window opened a history that cannot be opened");
    QCOMPARE(answers_->seen().size(), pendingRun ? 2 : 1);
    if (pendingRun) {
        QVERIFY(answers_->seen().first().text.endsWith(
            "They stay pending until the history can be reached."));
        QCOMPARE(pendingFiles(pending).size(), 1);
    }
    const SeenWindow error = answers_->seen().last();
    QCOMPARE(error.icon, QMessageBox::Critical);
    // The reason names the database, once.
    const QString start = "The calibration history cannot be opened.\n\n" + location.describe();
    QVERIFY2(error.text.startsWith(start), qPrintable(error.text));
    QVERIFY2(error.text.size() > start.size(), "no reason given");
    QVERIFY(location.describe().contains(kind == "sqlite" ? location.path : location.database));
    QVERIFY2(!error.text.contains(password), qPrintable(error.text));
    // Nothing to export or print from a history that is not there.
    QTableView *sensors = window_->findChild<QTableView *>("sensors");
    QCOMPARE(sensors->model()->rowCount(), 0);
}

void HistoryWindowTest::exportSensor()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));

    // A name typed without an extension gets ".csv".
    const QString name = QDir(h.folder()).filePath("sensor-export");
    answers_->fileName(name);
    action("exportSensorAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(answers_->seen().size(), 1);
    QCOMPARE(answers_->seen().first().className, QString("QFileDialog"));
    QVERIFY(!QFile::exists(name));
    // Written beside the window, which says so when the file is complete.
    QTRY_COMPARE(window_->statusBar()->currentMessage(),
                 "Runs exported to " + QDir::toNativeSeparators(name) + ".csv: 2");
    QCOMPARE(recordedMasked(readAll(name + ".csv")), kCsvHeader + kCsvSensor1);
}

void HistoryWindowTest::exportAll()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    // Whatever the filter shows, all sensors go.
    QTest::keyClicks(window_->findChild<QLineEdit *>("filter"), "00202");

    const QString name = QDir(h.folder()).filePath("all.csv");
    answers_->fileName(name);
    action("exportAllAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    // Written beside the window, which says so when the file is complete.
    QTRY_COMPARE(window_->statusBar()->currentMessage(),
                 "Runs exported to " + QDir::toNativeSeparators(name) + ": 4");
    QCOMPARE(recordedMasked(readAll(name)), kCsvHeader + kCsvSensor1 + kCsvSensor2);
    QVERIFY(action("exportAllAction")->isEnabled());
}

void HistoryWindowTest::exportAllOfAnUnreadableHistory()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    // The runs go after the window has read its list: the export cannot read
    // them, and must not write a file that looks like an empty history.
    QSqlQuery drop(h.store().database());
    QVERIFY2(drop.exec("DROP VIEW runs"), qPrintable(drop.lastError().text()));

    const QString name = QDir(h.folder()).filePath("all.csv");
    answers_->fileName(name);
    answers_->click(QMessageBox::Ok);
    action("exportAllAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(answers_->seen().size(), 2);
    const SeenWindow box = answers_->seen().last();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY2(box.text.startsWith("Cannot write " + QDir::toNativeSeparators(name) +
                                 ":\nThe history could not be read: "),
             qPrintable(box.text));
    QVERIFY(!QFile::exists(name));
    QVERIFY(!window_->statusBar()->currentMessage().startsWith("Runs exported"));
}

// The period asked, the file chosen, the report written beside the window.
void HistoryWindowTest::dueReportFromTheMenu()
{
    TempHistory h;
    const QDate today = kToday; // the window's
    QVERIFY2(h.ok() && h.write({validation("40317-00101", today.addDays(-400), "512.0", "201.5"),
                                validation("40317-00202", today.addDays(-330), "512.0", "201.5")}),
             qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    const QString name = QDir(h.folder()).filePath("due.csv");
    answers_->handle([](QWidget *window) {
        if (auto *ask = qobject_cast<QInputDialog *>(window))
            ask->setIntValue(40);
        qobject_cast<QDialog *>(window)->accept();
    });
    answers_->fileName(name);
    action("dueReportAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QTRY_COMPARE(window_->statusBar()->currentMessage(),
                 "Due report written to " + QDir::toNativeSeparators(name) + ": 2 listed");
    const QString day = "%1,%2,365,";
    QCOMPARE(readAll(name).split('\n').mid(1),
             (QList<QByteArray>{"overdue,40317-00101,RT-5K-MQ,,," +
                                    day.arg(today.addDays(-400).toString(Qt::ISODate),
                                            today.addDays(-35).toString(Qt::ISODate))
                                        .toUtf8() +
                                    "yes\r",
                                "due-soon,40317-00202,RT-5K-MQ,,," +
                                    day.arg(today.addDays(-330).toString(Qt::ISODate),
                                            today.addDays(35).toString(Qt::ISODate))
                                        .toUtf8() +
                                    "no\r",
                                ""}));
}

// Another connection holds the runs locked (a VACUUM FULL, a slow
// migration): the window's list comes back within the lock timeout and says
// the history is busy, keeping what it showed; and a window closed while its
// export waits for that lock does not wait with it: it is gone within its
// grace, leaving no half-written file.
void HistoryWindowTest::lockedHistory()
{
    HISTORY_NEED_POSTGRES();
    historytest::TestDatabase db("postgresql");
    QVERIFY2(db.ok(), qPrintable(db.error()));
    history::Location quick;
    history::Location patient;
    QString error;
    QVERIFY2(history::parseLocation(db.url() + "&lock_timeout=500", &quick, &error),
             qPrintable(error));
    // This one's export would wait 20 s for the lock.
    QVERIFY2(history::parseLocation(db.url() + "&lock_timeout=20000", &patient, &error),
             qPrintable(error));
    {
        history::Store store(quick);
        QVERIFY2(store.open(&error), qPrintable(error));
        for (const Run &run : smallHistory())
            QVERIFY2(store.write(run, &error), qPrintable(error));
    }
    QTemporaryDir dir;
    {
        historytest::TableLock holder(quick);
        QVERIFY2(holder.open(&error), qPrintable(error));
        window_ = openWindow(quick, dir.filePath("pending"));
        QVERIFY(window_);
        QCOMPARE(view("sensors")->model()->rowCount(), 2);
        QVERIFY2(holder.take("run_revisions", &error), qPrintable(error));
        // The list was read; the runs of the sensor picked now cannot be.
        window_->selectSensor("40317-00101");
        QVERIFY(loaded(window_.get()));
        QVERIFY(window_->findChild<QLabel *>("problem")->text().contains("The history is busy"));
        QCOMPARE(view("runs")->model()->rowCount(), 0); // not the other sensor's
        QVERIFY(window_->findChild<QLabel *>("heading")->text().startsWith("RT-5K-MQ 40317-00101"));
        QElapsedTimer timer;
        timer.start();
        action("reloadAction")->trigger();
        QVERIFY(loaded(window_.get()));
        const qint64 reloading = timer.elapsed();
        QVERIFY2(reloading < 3000, qPrintable(QString::number(reloading)));
        auto *problem = window_->findChild<QLabel *>("problem");
        QVERIFY(!problem->isHidden());
        QVERIFY2(problem->text().contains("The history is busy"), qPrintable(problem->text()));
        QCOMPARE(view("sensors")->model()->rowCount(), 2);
        window_.reset();
        QVERIFY(holder.release());

        // A read that waits for the lock holds nothing: the window's timers
        // fire, it says what it loads, and it closes within its grace.
        window_ = openWindow(patient, dir.filePath("pending"));
        QVERIFY(window_);
        QVERIFY2(holder.take("run_revisions", &error), qPrintable(error));
        timer.restart();
        action("reloadAction")->trigger();
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        bool fired = false;
        QTimer::singleShot(50, window_.get(), [&fired] { fired = true; });
        QTRY_VERIFY_WITH_TIMEOUT(fired, 2000);
        QVERIFY(window_->isReading());
        QCOMPARE(window_->statusBar()->currentMessage(), QString("Loading the sensors..."));
        QCOMPARE(view("sensors")->model()->rowCount(), 2);
        timer.restart();
        window_.reset();
        QVERIFY2(timer.elapsed() < 4500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(holder.release());

        window_ = openWindow(patient, dir.filePath("pending"));
        QVERIFY(window_);
        QVERIFY2(holder.take("run_revisions", &error), qPrintable(error));
        const QString name = dir.filePath("all.csv");
        answers_->fileName(name);
        action("exportAllAction")->trigger();
        QVERIFY(answers_->waitUntilDone());
        QTest::qWait(200); // the export is waiting for the lock now
        timer.restart();
        window_.reset();
        const qint64 closing = timer.elapsed();
        holder.release();
        QVERIFY2(closing < 4500, qPrintable(QString::number(closing)));
        QVERIFY(!QFile::exists(name));
    }
}

// A station holds the pending folder's lock for a moment while the window
// opens: the window waits for it off its own thread, its events running.
void HistoryWindowTest::pendingFolderHeldByAStation()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    QVERIFY(QDir().mkpath(h.pendingFolder()));
    auto station = std::make_unique<QLockFile>(h.pendingFolder() + "/" + history::kLockName);
    QVERIFY(station->tryLock(0));
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(20);
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start();
    QTimer::singleShot(1000, this, [&] { station.reset(); });
    QElapsedTimer timer;
    timer.start();
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QVERIFY2(timer.elapsed() >= 900, qPrintable(QString::number(timer.elapsed())));
    // About 50 ticks in that second; a window blocked on the lock gets none.
    QVERIFY2(ticks >= 25, qPrintable(QString::number(ticks)));
    QCOMPARE(view("sensors")->model()->rowCount(), 2);
}

void HistoryWindowTest::exportCancelled()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    const QStringList before = QDir(h.folder()).entryList(QDir::Files);
    answers_->reject();
    action("exportAllAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(QDir(h.folder()).entryList(QDir::Files), before);
}

void HistoryWindowTest::reportPrintsToPdf()
{
    TempHistory h;
    // Recalibrated with a standard that was overdue then.
    QList<Run> runs = smallHistory();
    runs[1].standardSerial = "VT-OLD";
    history::Standard old;
    old.serialNumber = "VT-OLD";
    old.tipKind = 1;
    old.certificateNumber = "C-1";
    old.calibratedOn = {2025, 1, 2};
    old.dueOn = {2026, 1, 2};
    // Calibrated again since: that does not clear the run.
    history::Standard again = old;
    again.calibratedOn = {2026, 6, 20};
    again.dueOn = {2027, 6, 20};
    QVERIFY2(h.ok() && h.write(runs) && history::storeStandard(h.store(), old) &&
                 history::storeStandard(h.store(), again),
             qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));
    const QModelIndex standard = view("runs")->model()->index(0, history::RunTableModel::Standard);
    QCOMPARE(standard.data().toString(), "VT-OLD: standard VT-OLD was overdue (due 2026-01-02)");
    QVERIFY(standard.data(Qt::BackgroundRole).isValid());
    QCOMPARE(view("sensors")->currentIndex().siblingAtColumn(4).data().toString(),
             "Recalibrated and saved; standard not in order");

    const QString pdf = QDir(h.folder()).filePath("report.pdf");
    answers_->printToPdf(pdf);
    action("printAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(answers_->seen().first().className, QString("QPrintDialog"));
    QVERIFY(QFile::exists(pdf));

    const int pages = pdfread::pageCount(pdf);
    QVERIFY2(pages != -1, "pdfinfo gave no page count");
    QVERIFY(pages >= 1);

    const QString text = pdfread::plainText(pdf);
    QVERIFY2(text.contains("Calibration history of sensor 40317-00101"), qPrintable(text));
    QVERIFY2(text.contains("Recalibrated and saved"), qPrintable(text));
    QVERIFY2(text.contains("Validated, date set"), qPrintable(text));
    QVERIFY2(text.contains("600.1 fail 230.2 fail"), qPrintable(text)); // words for monochrome
    QVERIFY2(text.contains("524.9 pass 200.3 pass"), qPrintable(text));
    QVERIFY2(text.contains("2027-06-01"), qPrintable(text)); // next due
    QVERIFY2(text.simplified().contains("standard VT-OLD was overdue"), qPrintable(text));
    QVERIFY2(!text.contains("40317-00202"), qPrintable(text)); // one sensor only
    // The chart is on paper, as an image, and drawn: its blue line and band
    // are the only blue on the page.
    QVERIFY2(pdfread::imageCount(pdf) >= 1, "no image in the report");
    const QImage page = pdfread::renderPage(pdf, 1, kReportDpi, pdfread::Colours::Full);
    QVERIFY(!page.isNull());
    int blue = 0;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            blue += c.blue() > c.red() + 40 && c.blue() > c.green() + 30 ? 1 : 0;
        }
    }
    QVERIFY2(blue > 500, qPrintable(QString::number(blue)));
}

QString HistoryWindowTest::printedReport(const QString &folder)
{
    const QString pdf = QDir(folder).filePath("report.pdf");
    QFile::remove(pdf);
    answers_->printToPdf(pdf);
    action("printAction")->trigger();
    if (!answers_->waitUntilDone())
        return QString();
    return pdfread::plainText(pdf);
}

void HistoryWindowTest::sameSerialTwoTypes()
{
    TempHistory h;
    Run cm = validation("40317-00101", {2026, 3, 3}, "533.3", "188.8");
    cm.sensorType = "RT-5K-MQ-CM";
    QVERIFY2(h.ok() && h.write({validation("40317-00101", {2026, 1, 10}, "512.0", "201.5"), cm}),
             qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QTableView *sensors = view("sensors");
    QCOMPARE(sensors->model()->rowCount(), 2);
    QStringList types;
    for (int r = 0; r < 2; ++r) {
        QCOMPARE(sensors->model()->index(r, 0).data().toString(), QString("40317-00101"));
        types << sensors->model()->index(r, 1).data().toString();
    }
    types.sort();
    QCOMPARE(types, (QStringList{"RT-5K-MQ", "RT-5K-MQ-CM"}));
    QVERIFY(window_->statusBar()->currentMessage().startsWith("Sensors: 2,"));

    // Picking one shows its runs alone, everywhere.
    const int cmRow = sensors->model()->index(0, 1).data().toString() == "RT-5K-MQ-CM" ? 0 : 1;
    const QModelIndex pick = sensors->model()->index(cmRow, 0);
    QTest::mouseClick(sensors->viewport(), Qt::LeftButton, {}, sensors->visualRect(pick).center());
    QVERIFY(loaded(window_.get()));
    QCOMPARE(window_->currentType(), QString("RT-5K-MQ-CM"));
    QCOMPARE(view("runs")->model()->rowCount(), 1);
    QCOMPARE(view("runs")->model()->index(0, 3).data().toString(), QString("533.3"));
    QVERIFY2(window_->findChild<QLabel *>("heading")->text().startsWith(
                 "RT-5K-MQ-CM 40317-00101 - runs: 1 - "),
             qPrintable(window_->findChild<QLabel *>("heading")->text()));
    auto *chart = window_->findChild<history::DriftChart *>("chart");
    QVERIFY(readAsMarkup(chart->chart()->title()).startsWith("RT-5K-MQ-CM 40317-00101"));

    const QString name = QDir(h.folder()).filePath("cm.csv");
    answers_->fileName(name);
    action("exportSensorAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QTRY_VERIFY(QFile::exists(name));
    const QList<QByteArray> lines = readAll(name).split('\n');
    QCOMPARE(lines.size(), 3); // the header, one run, the empty end
    QVERIFY2(lines.at(1).contains(",RT-5K-MQ-CM,40317-00101,"), lines.at(1).constData());

    const QString text = printedReport(h.folder());
    QVERIFY2(text.contains("Calibration history of sensor 40317-00101 (RT-5K-MQ-CM)"),
             qPrintable(text));
    QVERIFY2(!text.contains("512.0"), qPrintable(text)); // the other type's run
}

void HistoryWindowTest::outOfToleranceMarkedAndCounted()
{
    TempHistory h;
    // Validated a month ago, so not due; but its high reading was outside.
    QVERIFY2(h.ok() && h.write({validation("40317-00101", {2026, 6, 1}, "600.1", "200.0"),
                                validation("40317-00202", {2026, 6, 2}, "520.0", "200.0"),
                                validation("40317-00303", {2025, 1, 2}, "520.0", "200.0")}),
             qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QTableView *sensors = view("sensors");
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));
    const QModelIndex failing = sensors->currentIndex().siblingAtColumn(5);
    QCOMPARE(failing.data().toString(), QString("2027-06-01, out of tolerance"));
    QVERIFY(failing.data(history::SensorListModel::OutOfToleranceRole).toBool());
    QVERIFY(!failing.data(history::SensorListModel::OverdueRole).toBool());
    const QColor failingColour = failing.data(Qt::ForegroundRole).value<QBrush>().color();
    QVERIFY(failingColour.isValid());

    window_->selectSensor("40317-00303");
    QVERIFY(loaded(window_.get()));
    const QModelIndex late = sensors->currentIndex().siblingAtColumn(5);
    QCOMPARE(late.data().toString(), QString("2026-01-02, overdue"));
    QVERIFY(!late.data(history::SensorListModel::OutOfToleranceRole).toBool());
    // Told apart at a glance.
    QVERIFY(late.data(Qt::ForegroundRole).value<QBrush>().color() != failingColour);

    window_->selectSensor("40317-00202");
    QVERIFY(loaded(window_.get()));
    QVERIFY(!sensors->currentIndex().data(Qt::ForegroundRole).isValid());
    QCOMPARE(window_->statusBar()->currentMessage(),
             QString("Sensors: 3, overdue: 1, out of tolerance: 1"));
}

void HistoryWindowTest::dateOnlyRunShownWithoutTime()
{
    TempHistory h;
    Run imported = validation("40317-00404", {2026, 3, 4}, "512.0", "201.5");
    imported.key = "record:0404";
    imported.source = history::Source::Import;
    imported.date = QDate(2026, 3, 4);
    imported.started = QDateTime(imported.date, QTime(0, 0)).toUTC();
    imported.ended = QDateTime();
    QVERIFY2(h.ok() && h.write({imported}), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QCOMPARE(view("runs")->model()->index(0, 0).data().toString(), QString("2026-03-04"));
    auto *chart = window_->findChild<history::DriftChart *>("chart");
    const QString tip = readToolTip(chart->toolTipAt(qreal(imported.started.toMSecsSinceEpoch())));
    QVERIFY2(tip.contains("40317-00404, 2026-03-04\n"), qPrintable(tip));
    QVERIFY2(!tip.contains("00:00"), qPrintable(tip));
    const QString text = printedReport(h.folder());
    QVERIFY2(text.contains("2026-03-04"), qPrintable(text));
    QVERIFY2(!text.contains("2026-03-04 00:00"), qPrintable(text));
}

void HistoryWindowTest::databaseGoneAndBack()
{
    OwnServer server;
    QString error;
    QVERIFY2(server.init(&error), qPrintable(error));
    {
        history::Store store(server.location());
        QVERIFY2(store.open(&error), qPrintable(error));
        for (const Run &run : smallHistory())
            QVERIFY2(store.write(run, &error), qPrintable(error));
    }
    window_ = openWindow(server.location(), QString());
    QVERIFY(window_);
    auto *problem = window_->findChild<QLabel *>("problem");
    QVERIFY(problem->isHidden());
    QCOMPARE(view("sensors")->model()->rowCount(), 2);
    QCOMPARE(view("runs")->model()->rowCount(), 2);

    QVERIFY2(server.stop(&error), qPrintable(error));
    action("reloadAction")->trigger();
    QVERIFY(loaded(window_.get()));
    // What was shown stays, and the window says it may be out of date.
    QVERIFY(!problem->isHidden());
    QVERIFY2(problem->text().startsWith("The history cannot be read: ") &&
                 problem->text().contains("may be out of date"),
             qPrintable(problem->text()));
    QVERIFY2(problem->text().size() > 80, qPrintable(problem->text())); // with the reason
    QCOMPARE(window_->statusBar()->currentMessage(),
             QString("The history cannot be read: what is shown may be out of date"));
    QCOMPARE(view("sensors")->model()->rowCount(), 2);
    QCOMPARE(view("runs")->model()->rowCount(), 2);
    QVERIFY(!window_->findChild<QLabel *>("heading")->text().startsWith("No runs"));
    // Another sensor picked meanwhile: still no empty history.
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));
    QVERIFY(!window_->findChild<QLabel *>("heading")->text().startsWith("No runs"));
    action("reloadAction")->trigger();
    QVERIFY(loaded(window_.get()));
    QVERIFY(!problem->isHidden());

    // Back, with a run another station recorded meanwhile.
    QVERIFY2(server.start(&error), qPrintable(error));
    {
        history::Store store(server.location());
        QVERIFY2(store.open(&error), qPrintable(error));
        QVERIFY2(store.write(validation("40317-00303", {2026, 6, 6}, "520.0", "200.0"), &error),
                 qPrintable(error));
    }
    action("reloadAction")->trigger();
    QVERIFY(loaded(window_.get()));
    QVERIFY2(problem->isHidden(), qPrintable(problem->text()));
    QCOMPARE(view("sensors")->model()->rowCount(), 3);
    QVERIFY2(window_->statusBar()->currentMessage().startsWith("Sensors: 3, overdue: 1,"),
             qPrintable(window_->statusBar()->currentMessage()));
    QCOMPARE(window_->currentSerial(), QString("40317-00101"));
    QCOMPARE(view("runs")->model()->rowCount(), 2);
}

void HistoryWindowTest::markupShownAsText()
{
    TempHistory h;
    Run run = validation(kMarkupSerial, {2026, 6, 1}, "512.0", "201.5");
    run.station = "<b>bench</b>";
    run.unit = "<i>pS/m</i>";
    QVERIFY2(h.ok() && h.write({run}), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QCOMPARE(window_->currentSerial(), kMarkupSerial);

    auto *chart = window_->findChild<history::DriftChart *>("chart");
    const QString title = readAsMarkup(chart->chart()->title());
    QVERIFY2(title.contains("RT-5K-MQ " + kMarkupSerial + ":"), qPrintable(title));
    QCOMPARE(readAsMarkup(chart->chart()->axes(Qt::Vertical).first()->titleText()),
             QString("Reading (<i>pS/m</i>)"));
    const QString tip = readToolTip(chart->toolTipAt(qreal(run.started.toMSecsSinceEpoch())));
    QVERIFY2(tip.startsWith("RT-5K-MQ " + kMarkupSerial + ", 2026-06-01 12:00"), qPrintable(tip));
    QVERIFY(window_->findChild<QLabel *>("heading")->text().contains(kMarkupSerial));
    const QModelIndex serial = view("sensors")->model()->index(0, 0);
    QCOMPARE(readToolTip(serial.data(Qt::ToolTipRole).toString()), kMarkupSerial);
    const QModelIndex station = view("runs")->model()->index(0, 1);
    QVERIFY(readToolTip(station.data(Qt::ToolTipRole).toString()).startsWith("<b>bench</b>, "));

    const QString text = printedReport(h.folder());
    QVERIFY2(text.contains("Calibration history of sensor " + kMarkupSerial + " (RT-5K-MQ)"),
             qPrintable(text));
    QVERIFY2(text.contains("<b>bench</b>"), qPrintable(text));
    QVERIFY2(!text.contains("Training"), qPrintable(text));
    QVERIFY(!window_->findChild<QLabel *>("training"));

    // Drawn as it is, it reads 40317-20415. Its type is not known.
    Run spoof = validation("40317-\u202E51402", {2026, 5, 1}, "512.0", "201.5");
    spoof.sensorType.clear();
    QVERIFY2(h.write({spoof}), qPrintable(h.error()));
    action("reloadAction")->trigger();
    QVERIFY(loaded(window_.get()));
    window_->selectSensor(spoof.serialNumber);
    QVERIFY(loaded(window_.get()));
    const QString shown = "40317-\uFFFD51402";
    QCOMPARE(view("sensors")->currentIndex().data().toString(), shown);
    QVERIFY(window_->findChild<QLabel *>("heading")->text().startsWith(shown + " - runs: 1"));
    QVERIFY(readAsMarkup(chart->chart()->title()).startsWith(shown + ": "));
    const QString report = printedReport(h.folder());
    QVERIFY2(report.contains("history of sensor " + shown + " Serial number"), qPrintable(report));
    QCOMPARE(answers_->seen().last().title, "Print the history of " + shown);
}

void HistoryWindowTest::trainingSaysSo()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder(), true, true);
    QVERIFY(window_);
    QVERIFY(window_->windowTitle().contains("TRAINING"));
    auto *label = window_->findChild<QLabel *>("training");
    QVERIFY(label && label->isVisible());
    QVERIFY(label->text().startsWith("Training history"));
    const QString text = printedReport(h.folder());
    QVERIFY2(text.startsWith("Training - not a calibration record"), qPrintable(text));
}

void HistoryWindowTest::earlierRevisions()
{
    TempHistory h;
    Run started = validation("40317-00101", {2026, 6, 1}, "", "");
    started.revision = 1;
    started.foundHigh = history::Reading();
    started.foundLow = history::Reading();
    started.outcome = Outcome::Interrupted;
    started.ended = QDateTime();
    started.operatorName = "tech-a";
    started.station = "bench-2 <i>left</i>";
    Run ended = validation("40317-00101", {2026, 6, 1}, "512.0", "201.5");
    ended.station = started.station;
    ended.operatorName = "tech-b";
    QVERIFY2(h.ok() && h.write({started, ended}), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QTableView *runs = view("runs");
    QCOMPARE(runs->model()->rowCount(), 1);

    QList<QStringList> rows;
    const auto read = [&rows](QWidget *w) {
        auto *dialog = qobject_cast<history::RevisionsDialog *>(w);
        QTableWidget *table = dialog ? dialog->table() : nullptr;
        rows.clear();
        for (int r = 0; table && r < table->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < table->columnCount(); ++c)
                cells << (table->item(r, c) ? table->item(r, c)->text() : QString());
            rows << cells;
        }
        w->close();
    };
    answers_->handle(read);
    const QModelIndex row = runs->model()->index(0, 0);
    runs->setCurrentIndex(row);
    const QPoint centre = runs->visualRect(row).center();
    QTest::mouseClick(runs->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(runs->viewport(), Qt::LeftButton, {}, centre);
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(rows.size(), 2);
    // Oldest first: what the station wrote when the sensor identified itself,
    // the run going on. On SQLite the login the database records is the
    // operator's.
    QCOMPARE(rows.at(0).mid(2, 5),
             (QStringList{"bench-2 <i>left</i>", "tech-a", "tech-a", "In progress", QString()}));
    QCOMPARE(rows.at(1).mid(2, 5), (QStringList{"bench-2 <i>left</i>", "tech-b", "tech-b",
                                                "Validated, date set", "512.0"}));
    QCOMPARE(rows.at(0).at(0), QString("1"));
    QCOMPARE(rows.at(1).at(0), QString("2"));
    // The database's own time, as the window shows times.
    QVERIFY(QDateTime::fromString(rows.at(1).at(1), "yyyy-MM-dd HH:mm").isValid());

    // The same from the row's menu.
    rows.clear();
    answers_->handle(read);
    action("revisionsAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(rows.size(), 2);
}

// A record of a tip the sensor never had is no second due date; its type,
// set from the runs' menu, is the run's next revision, by who set it.
void HistoryWindowTest::runTypeSetFromItsMenu()
{
    TempHistory h;
    const Run record = historytest::asRecord(
        validation("40317-00101", {2025, 1, 10}, "512.0", "201.5"), "record:1", 3);
    QVERIFY2(h.ok() && h.write({validation("40317-00101", {2026, 6, 1}, "512.0", "201.5"), record}),
             qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QTableView *sensors = view("sensors");
    QCOMPARE(sensors->model()->rowCount(), 2);
    QCOMPARE(sensors->model()->index(1, 1).data().toString(), QString("type unknown"));
    QCOMPARE(sensors->model()->index(1, 5).data().toString(), QString("none, type unknown"));
    QVERIFY(window_->statusBar()->currentMessage().startsWith("Sensors: 1, overdue: 0,"));

    QTest::mouseClick(sensors->viewport(), Qt::LeftButton, {},
                      sensors->visualRect(sensors->model()->index(1, 0)).center());
    QVERIFY(loaded(window_.get()));
    view("runs")->setCurrentIndex(view("runs")->model()->index(0, 0));
    QStringList offered;
    answers_->handle([&offered](QWidget *w) {
        auto *dialog = qobject_cast<QInputDialog *>(w);
        QVERIFY2(dialog, w->metaObject()->className());
        offered = dialog->comboBoxItems();
        dialog->setTextValue("RT-5K-MQ");
        dialog->accept();
    });
    action("setTypeAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(offered, QStringList{"RT-5K-MQ"});
    QTRY_COMPARE(sensors->model()->rowCount(), 1);
    QCOMPARE(h.store().revisionsOf("record:1").last().sensorType, QString("RT-5K-MQ"));
}

// Retired from the Sensor menu for a reason: never due, listed after the
// others with the reason; an interval set there is the sensor's own.
void HistoryWindowTest::sensorRetiredFromItsMenu()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    window_->selectSensor("40317-00202");
    QVERIFY(loaded(window_.get()));
    answers_->handle([](QWidget *w) {
        auto *dialog = qobject_cast<QInputDialog *>(w);
        QVERIFY2(dialog, w->metaObject()->className());
        dialog->setTextValue("cracked <b>housing</b>");
        dialog->accept();
    });
    action("retireAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QTableView *sensors = view("sensors");
    QTRY_COMPARE(sensors->model()->index(1, 5).data().toString(),
                 QString("Retired: cracked <b>housing</b>"));
    QCOMPARE(sensors->model()->index(1, 0).data().toString(), QString("40317-00202"));
    QVERIFY(window_->statusBar()->currentMessage().startsWith("Sensors: 2, overdue: 0,"));
    QVERIFY(action("reinstateAction")->isEnabled() && !action("retireAction")->isEnabled());

    // Its newest as-found reading was out of tolerance: half the interval,
    // applied only when chosen, with the rule as its basis.
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));
    QTRY_COMPARE(sensors->model()->index(0, 6).data().toString(),
                 QString("365 days (suggested 183)"));
    action("applySuggestedAction")->trigger();
    QTRY_COMPARE(sensors->model()->index(0, 6).data().toString(), QString("183 days"));
    QList<history::IntervalSetting> set;
    QVERIFY(history::intervalHistory(h.store(), "40317-00101", "RT-5K-MQ", &set, nullptr));
    QVERIFY(set.size() == 1 && set.first().basis.startsWith("suggested: the newest"));
    answers_->handle([](QWidget *w) {
        w->findChild<QSpinBox *>("days")->setValue(30);
        qobject_cast<QDialog *>(w)->accept();
    });
    action("intervalAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QTRY_COMPARE(sensors->model()->index(0, 6).data().toString(), QString("30 days"));
}

// Signed from the runs' menu: the database names the signer, and the runs'
// Sign-off column and the sensor list's mark follow.
void HistoryWindowTest::signedOffFromItsMenu()
{
    using history::SensorListModel;
    TempHistory h;
    QVERIFY2(h.ok() && h.write({validation("40317-00101", {2026, 6, 1}, "512.0", "201.5")}),
             qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));
    const QModelIndex count = view("sensors")->model()->index(0, SensorListModel::Runs);
    QTRY_COMPARE(count.data(SensorListModel::UnsignedRole).toInt(), 1);
    view("runs")->setCurrentIndex(view("runs")->model()->index(0, 0));
    answers_->handle([](QWidget *w) {
        auto *dialog = qobject_cast<QInputDialog *>(w);
        QVERIFY2(dialog, w->metaObject()->className());
        dialog->setTextValue("approved");
        dialog->accept();
    });
    action("signAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QTRY_COMPARE(view("runs")->model()->index(0, history::RunTableModel::SignOff).data().toString(),
                 "approved by " + history::loginName());
    QTRY_COMPARE(view("sensors")->model()->index(0, 0).data(SensorListModel::UnsignedRole).toInt(),
                 0);
    // Its certificate, from the same menu, says so.
    view("runs")->setCurrentIndex(view("runs")->model()->index(0, 0));
    QTemporaryDir folder;
    answers_->handle([&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        QVERIFY2(dialog, w->metaObject()->className());
        if (QWidget *focus = dialog->focusWidget())
            focus->clearFocus();
        dialog->selectFile(folder.filePath("c.pdf"));
        static_cast<QDialog *>(dialog)->accept();
    });
    action("certificateAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QTRY_VERIFY(window_->statusBar()->currentMessage().startsWith("Certificate ZC-"));
    QVERIFY(pdfread::plainText(folder.filePath("c.pdf")).contains("Signature: approved by "));
}

// Registered in the Standards dialog, off the window's thread, listed once
// stored; then chosen as this station's in the settings file.
void HistoryWindowTest::standardRegisteredAndChosen()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([config] { qputenv("XDG_CONFIG_HOME", config); });
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(h.folder() + "/config"));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QStringList listed;
    answers_->handle([&listed](QWidget *w) {
        auto *dialog = qobject_cast<history::StandardsDialog *>(w);
        QVERIFY2(dialog, w->metaObject()->className());
        dialog->findChild<QLineEdit *>("standardSerial")->setText("VT-9");
        dialog->findChild<QLineEdit *>("standardCertificate")->setText("K-1");
        dialog->findChild<QDateEdit *>("standardCalibrated")->setDate({2026, 1, 5});
        dialog->findChild<QDateEdit *>("standardDue")->setDate({2027, 1, 5});
        dialog->findChild<QPushButton *>("storeStandard")->click();
        auto *table = dialog->findChild<QTableWidget *>("standards");
        QTRY_COMPARE(table->rowCount(), 1);
        for (int c = 0; c < 5; ++c)
            listed << table->item(0, c)->text();
        dialog->reject();
    });
    action("standardsAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(listed, QStringList({"VT-9", "1", "K-1", "2026-01-05", "2027-01-05"}));

    answers_->handle([](QWidget *w) {
        auto *dialog = qobject_cast<QInputDialog *>(w);
        QVERIFY2(dialog, w->metaObject()->className());
        QCOMPARE(dialog->comboBoxItems(), QStringList({"None", "VT-9"}));
        dialog->setTextValue("VT-9");
        dialog->accept();
    });
    action("stationStandardAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(history::stationStandard(history::settingsFile()), QString("VT-9"));
}

void HistoryWindowTest::everyToolbarActionHasAnIcon()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    auto *tools = window_->findChild<QToolBar *>("tools");
    QVERIFY(tools);
    QVERIFY(!tools->actions().isEmpty());
    for (QAction *action : tools->actions())
        QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
}

void HistoryWindowTest::fileDialogsStartInTheLastFolder()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));
    auto chosen = std::make_unique<QTemporaryDir>();
    QVERIFY(chosen->isValid());
    const QString chosenPath = QFileInfo(chosen->path()).canonicalFilePath();

    QStringList startedIn;
    const auto startsIn = [&startedIn](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        QVERIFY2(dialog, w->metaObject()->className());
        startedIn << QFileInfo(dialog->directory().absolutePath()).canonicalFilePath();
    };
    // The first export starts at home, and goes to another folder...
    answers_->handle([&](QWidget *w) {
        startsIn(w);
        auto *dialog = static_cast<QFileDialog *>(w);
        // As a person types it: the name field has no focus when it is set.
        if (QWidget *focus = dialog->focusWidget())
            focus->clearFocus();
        dialog->selectFile(QDir(chosenPath).filePath("first.csv"));
        static_cast<QDialog *>(dialog)->accept();
    });
    action("exportSensorAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QTRY_VERIFY(QFile::exists(QDir(chosenPath).filePath("first.csv")));
    // The export has ended (until then the next one is refused).
    QTRY_VERIFY(window_->statusBar()->currentMessage().startsWith("Runs exported to"));
    // ...where the next export and the import start.
    answers_->handle([&](QWidget *w) {
        startsIn(w);
        static_cast<QDialog *>(w)->reject();
    });
    action("exportSensorAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    answers_->handle([&](QWidget *w) {
        startsIn(w);
        static_cast<QDialog *>(w)->reject();
    });
    action("importAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    // That folder gone, they start at home again: never in a folder that is not there.
    chosen.reset();
    answers_->handle([&](QWidget *w) {
        startsIn(w);
        static_cast<QDialog *>(w)->reject();
    });
    action("importAction")->trigger();
    QVERIFY(answers_->waitUntilDone());

    const QString home = QFileInfo(QDir::homePath()).canonicalFilePath();
    QCOMPARE(startedIn, (QStringList{home, chosenPath, chosenPath, home}));
}

void HistoryWindowTest::fileDialogsAskAfreshAndSaveTheirStateAtClose()
{
    // Where the toolkit's file dialogs keep their state (last folder, sidebar):
    // a folder of this test's own, no other suite writes there meanwhile.
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    const auto restore = qScopeGuard([] {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    });
    const QString dialogState = QSettings(QSettings::UserScope, "QtProject").fileName();
    QVERIFY(dialogState.startsWith(config.path()));
    const auto stateText = [&dialogState] {
        QFile file(dialogState);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    };
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    window_->selectSensor("40317-00101");
    QVERIFY(loaded(window_.get()));
    QTemporaryDir chosen;
    QVERIFY(chosen.isValid());
    const QByteArray stateBefore = stateText();

    struct Asked {
        QString title;
        QString name;
        QFileDialog::FileMode mode;
    };
    QList<Asked> asked;
    const auto note = [&asked](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        QVERIFY2(dialog, w->metaObject()->className());
        asked.append({dialog->windowTitle(), QFileInfo(dialog->selectedFiles().value(0)).fileName(),
                      dialog->fileMode()});
    };
    // An export saved under another name...
    answers_->handle([&](QWidget *w) {
        note(w);
        auto *dialog = static_cast<QFileDialog *>(w);
        if (QWidget *focus = dialog->focusWidget())
            focus->clearFocus();
        dialog->selectFile(QDir(chosen.path()).filePath("typed.csv"));
        static_cast<QDialog *>(dialog)->accept();
    });
    action("exportSensorAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QTRY_VERIFY(QFile::exists(QDir(chosen.path()).filePath("typed.csv")));
    QTRY_VERIFY(window_->statusBar()->currentMessage().startsWith("Runs exported to"));
    // ...then every other question starts as a new dialog would: its own
    // title, the name it suggests, folders only for the import.
    for (const char *name : {"exportAllAction", "exportSensorAction", "importAction"}) {
        answers_->handle([&](QWidget *w) {
            note(w);
            static_cast<QDialog *>(w)->reject();
        });
        action(name)->trigger();
        QVERIFY(answers_->waitUntilDone());
    }
    QCOMPARE(asked.size(), 4);
    QCOMPARE(asked.at(1).title, QString("Export to CSV"));
    QCOMPARE(asked.at(1).name, QString("calibration-history.csv"));
    QCOMPARE(asked.at(2).name, asked.at(0).name);
    QVERIFY(asked.at(0).name.startsWith("40317-00101"));
    QCOMPARE(asked.at(2).mode, QFileDialog::AnyFile);
    QCOMPARE(asked.at(3).title, QString("Import record files from"));
    QCOMPARE(asked.at(3).mode, QFileDialog::Directory);
    // Nothing written to the disk for the dialogs while the window is open;
    // their state is kept once it closes.
    QCOMPARE(stateText(), stateBefore);
    window_.reset();
    QVERIFY(stateText() != stateBefore);
}

// Closed while a read is under way: the read ends, then the connection, on
// the reader's thread, not on the window's after that thread has gone.
void HistoryWindowTest::closingEndsTheConnectionOnItsThread()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    const QString slow = "40317-00101";
    QSemaphore reached;
    QSemaphore release;
    window_ = openWindow(h.location(), h.pendingFolder(), true, false,
                         holdRuns(slow, &reached, &release));
    QVERIFY(window_);
    window_->selectSensor(slow);
    QVERIFY(reached.tryAcquire(1, 10000)); // its read is held now
    // The read goes on while the window closes (which waits for it).
    std::thread later([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        release.release();
    });
    QTest::failOnWarning(QRegularExpression("does not belong to the calling thread"));
    window_.reset();
    later.join();
}

void HistoryWindowTest::outcomeTakesTheSpareWidth()
{
    TempHistory h;
    Run abandoned = recalibration(validation("40317-00101", {2026, 6, 1}, "600.1", "230.2"),
                                  "0.002180", "-10.90000", "524.9", "200.3");
    abandoned.outcome = Outcome::RecalibrationAbandoned;
    abandoned.outcomeDetail = "the operator stopped before the new constants were verified";
    QVERIFY2(h.ok() && h.write({abandoned}), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    window_->resize(2400, 900);
    QTableView *runs = view("runs");
    const int column = 2; // the outcome
    QCOMPARE(runs->model()->headerData(column, Qt::Horizontal).toString(), QString("Outcome"));
    const QModelIndex cell = runs->model()->index(0, column);
    const QString text = cell.data().toString();
    QVERIFY2(text.contains(abandoned.outcomeDetail), qPrintable(text));
    // Wide enough, the whole text shows and the columns fill the table.
    QTRY_VERIFY2(runs->columnWidth(column) >= runs->fontMetrics().horizontalAdvance(text),
                 qPrintable(QString::number(runs->columnWidth(column))));
    int total = 0;
    for (int c = 0; c < runs->model()->columnCount(); ++c)
        total += runs->columnWidth(c);
    QCOMPARE(total, runs->viewport()->width());
    // The sensor list's outcome column too takes what its pane leaves.
    QTableView *sensors = view("sensors");
    auto *top = window_->findChild<QSplitter *>("top");
    top->setSizes({1400, 400});
    QTRY_VERIFY(sensors->viewport()->width() > 1000);
    int listed = 0;
    for (int c = 0; c < sensors->model()->columnCount(); ++c)
        listed += sensors->columnWidth(c);
    QCOMPARE(listed, sensors->viewport()->width());
    // Narrow, it is cut, and its tooltip has it whole.
    window_->resize(900, 700);
    QTRY_VERIFY(runs->columnWidth(column) < runs->fontMetrics().horizontalAdvance(text));
    QCOMPARE(readToolTip(cell.data(Qt::ToolTipRole).toString()), text);
}

// As the window opens, each text of the sensor list shows whole in its row's
// font, and a sort arrow points up for oldest first, down for newest first.
void HistoryWindowTest::sensorListAndSortArrowsAsRead()
{
    TempHistory h;
    Run failing = validation("40317-00202", {2025, 3, 2}, "600.1", "201.5");
    failing.outcome = Outcome::ValidatedNoRecord; // "Validated, nothing changed", bold
    QVERIFY2(h.ok() && h.write({failing}), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QTableView *sensors = view("sensors");
    for (int c = 0; c < sensors->model()->columnCount(); ++c) {
        const QModelIndex cell = sensors->model()->index(0, c);
        const int needs = QFontMetrics(cell.data(Qt::FontRole).value<QFont>())
                              .horizontalAdvance(cell.data().toString());
        QVERIFY2(sensors->columnWidth(c) > needs, qPrintable(cell.data().toString()));
    }
    QCOMPARE(sensors->horizontalScrollBar()->maximum(), 0);
    window_->resize(900, 700); // narrower: the list gives way, not the chart's legend
    auto *chart = window_->findChild<history::DriftChart *>("chart");
    QTRY_VERIFY(chart->width() >= chart->minimumSizeHint().width());

    QHeaderView *header = view("runs")->horizontalHeader();
    for (const Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
        header->setSortIndicator(0, order);
        // The arrow's ink, at the right end of the date's section.
        const QImage shot = header->grab().toImage();
        QList<int> widths;
        for (int y = 2; y < header->height() - 2; ++y) {
            int ink = 0;
            for (int x = header->sectionSize(0) - header->height(); x < header->sectionSize(0) - 3;
                 ++x)
                ink += qGray(shot.pixel(x, y)) < 160 ? 1 : 0;
            if (ink > 0)
                widths << ink;
        }
        QVERIFY(widths.size() >= 2);
        QCOMPARE(widths.first() < widths.last(), order == Qt::AscendingOrder); // up: ascending
    }
}

// A read held while a newer one of its kind is asked for: its late answer is
// never delivered.
void HistoryWindowTest::onlyTheNewestAnswerDelivered()
{
    using history::HistoryReader;
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    for (const HistoryReader::Kind kind : {HistoryReader::Sensors, HistoryReader::Runs}) {
        QSemaphore reached;
        QSemaphore release;
        std::atomic<bool> held{false};
        HistoryReader reader(h.location(), [&](HistoryReader::Kind k, const QString &) {
            if (k == kind && !held.exchange(true)) {
                reached.release();
                release.tryAcquire(1, 20000);
            }
        });
        QStringList got;
        connect(&reader, &HistoryReader::sensorsRead, this, [&] { got << "list"; });
        connect(&reader, &HistoryReader::runsRead, this, [&](const QString &s) { got << s; });
        reader.open(false);
        const auto read = [&](const QString &serial) {
            kind == HistoryReader::Sensors ? reader.readSensors(kToday)
                                           : reader.readRuns(serial, "RT-5K-MQ");
        };
        read("40317-00101");
        QVERIFY(reached.tryAcquire(1, 10000));
        read("40317-00202");
        release.release();
        QTRY_VERIFY(!reader.busy());
        QCOMPARE(got, QStringList{kind == HistoryReader::Sensors ? "list" : "40317-00202"});
    }
}

void HistoryWindowTest::runsSortByValue_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("ascending");
    QTest::addColumn<QDate>("from"); // set in the filter bar

    QTest::newRow("as found high") << 3 << QStringList{"99.8", "525.0", "1000.5"} << QDate();
    QTest::newRow("offset before")
        << 6 << QStringList{"-3.00000", "5.00000", "12.50000"} << QDate();
    QTest::newRow("offset after, the last")
        << 8 << QStringList{"-4.00000", "6.00000", "11.5000"} << QDate();
    QTest::newRow("date") << 0
                          << QStringList{"2025-12-02 12:00", "2026-02-01 12:00", "2026-11-10 12:00"}
                          << QDate();
    QTest::newRow("date, filtered from a day")
        << 0 << QStringList{"2026-02-01 12:00", "2026-11-10 12:00"} << QDate(2026, 2, 1);
}

void HistoryWindowTest::runsSortByValue()
{
    QFETCH(int, column);
    QFETCH(QStringList, ascending);
    QFETCH(QDate, from);
    TempHistory h;
    // Each column's order as text differs from its order as a value.
    QList<Run> written{
        validation("40317-00101", {2026, 11, 10}, "525.0", "201.5", "0.010000", "12.50000"),
        validation("40317-00101", {2025, 12, 2}, "1000.5", "201.5", "0.002500", "-3.00000"),
        validation("40317-00101", {2026, 2, 1}, "99.8", "201.5", "0.000990", "5.00000")};
    for (const char *offsetAfter : {"6.00000", "11.5000", "-4.00000"})
        written << recalibration(written.takeFirst(), "0.002500", offsetAfter, "525.0", "200.0");
    QVERIFY2(h.ok() && h.write(written), qPrintable(h.error()));
    window_ = openWindow(h.location(), h.pendingFolder());
    QVERIFY(window_);
    QTableView *runs = view("runs");
    QCOMPARE(runs->model()->rowCount(), 3);
    if (from.isValid())
        window_->findChild<QDateEdit *>("filterFrom")->setDate(from);
    const auto shown = [runs, column] {
        QStringList texts;
        for (int r = 0; r < runs->model()->rowCount(); ++r)
            texts << runs->model()->index(r, column).data().toString();
        return texts;
    };
    runs->horizontalHeader()->setSortIndicator(column, Qt::AscendingOrder);
    QCOMPARE(shown(), ascending);
    runs->horizontalHeader()->setSortIndicator(column, Qt::DescendingOrder);
    std::reverse(ascending.begin(), ascending.end());
    QCOMPARE(shown(), ascending);
}

void HistoryWindowTest::dueDatesMoveOnAtEveryMidnight()
{
    TempHistory h;
    // Due on the three days the window stays open.
    QVERIFY2(h.ok() && h.write({validation("40317-00101", {2025, 6, 30}, "512.0", "201.5"),
                                validation("40317-00202", {2025, 7, 1}, "512.0", "201.5"),
                                validation("40317-00303", {2025, 7, 2}, "512.0", "201.5")}),
             qPrintable(h.error()));
    auto clock = std::make_shared<HandClock>(QDateTime({2026, 6, 30}, QTime(15, 0)));
    history::WindowOptions options;
    options.location = h.location();
    options.pendingFolder = h.pendingFolder();
    options.clock = clock;
    window_ = std::make_unique<HistoryWindow>(options);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(window_->openHistory());
    QVERIFY(loaded(window_.get()));

    const auto overdue = [this] {
        const QString status = window_->statusBar()->currentMessage();
        static const QRegularExpression count(QStringLiteral("overdue: (\\d+)"));
        const QRegularExpressionMatch match = count.match(status);
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    };
    const int first = overdue();
    QVERIFY2(first >= 0 && first <= 1, qPrintable(window_->statusBar()->currentMessage()));
    for (int night = 1; night <= 2; ++night) {
        const QDate day = QDate(2026, 6, 30).addDays(night);
        QCOMPARE(clock->armedFor().date(), day);
        QVERIFY(clock->armedFor().time() < QTime(1, 0));
        QVERIFY(clock->wakeUp());
        QCOMPARE(overdue(), first + night);
    }
    // And armed again for the next.
    QCOMPARE(clock->armedFor().date(), QDate(2026, 7, 3));
}

// A pick made while another sensor's runs load wins: the slower, older read
// never shows, not even for a moment.
void HistoryWindowTest::staleRunsNeverShown()
{
    TempHistory h;
    QVERIFY2(h.ok() && h.write(smallHistory()), qPrintable(h.error()));
    const QString slow = "40317-00101";
    QSemaphore reached;
    QSemaphore release;
    window_ = openWindow(h.location(), h.pendingFolder(), true, false,
                         holdRuns(slow, &reached, &release));
    QVERIFY(window_);
    QCOMPARE(window_->currentSerial(), QString("40317-00202"));

    QTableView *runs = view("runs");
    QStringList shownFirst; // the newest run's date, at every change of the table
    connect(runs->model(), &QAbstractItemModel::modelReset, window_.get(),
            [&] { shownFirst << runs->model()->index(0, 0).data().toString(); });
    window_->selectSensor(slow);
    QVERIFY(reached.tryAcquire(1, 10000)); // its read is held now
    QVERIFY(window_->findChild<QLabel *>("heading")->text().startsWith("Loading the runs of"));
    window_->selectSensor("40317-00202");
    release.release();
    QVERIFY(loaded(window_.get()));

    QCOMPARE(window_->currentSerial(), QString("40317-00202"));
    QCOMPARE(runs->model()->rowCount(), 2);
    QCOMPARE(runs->model()->index(0, 0).data().toString(), QString("2025-06-20 12:00"));
    // 40317-00101's newest run (2026-06-01) was never in the table.
    QCOMPARE(shownFirst, QStringList{"2025-06-20 12:00"});
    QCOMPARE(window_->findChild<QLabel *>("heading")->text(),
             QString("RT-5K-MQ 40317-00202 - runs: 2 - next due 2026-05-02, overdue"));
}

void HistoryWindowTest::enabledActions_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("sensor");
    QTest::addColumn<bool>("importing");
    QTest::addColumn<bool>("exporting");
    // import, export sensor, export all, print, reload, lists
    QTest::addColumn<QString>("enabled");

    QTest::newRow("not open") << false << false << false << false << "-----L";
    QTest::newRow("open, no sensor") << true << false << false << false << "I-A-RL";
    QTest::newRow("open, a sensor") << true << true << false << false << "ISAPRL";
    QTest::newRow("importing") << true << true << true << false << "------";
    QTest::newRow("exporting") << true << true << false << true << "I--PRL";
    QTest::newRow("exporting, no sensor") << true << false << false << true << "I---RL";
}

void HistoryWindowTest::enabledActions()
{
    QFETCH(bool, open);
    QFETCH(bool, sensor);
    QFETCH(bool, importing);
    QFETCH(bool, exporting);
    QFETCH(QString, enabled);
    history::WindowState state;
    state.historyOpen = open;
    state.sensorShown = sensor;
    state.importing = importing;
    state.exporting = exporting;
    const history::EnabledActions e = history::enabledActions(state);
    const QString got = QString(e.import ? "I" : "-") + (e.exportSensor ? "S" : "-") +
                        (e.exportAll ? "A" : "-") + (e.print ? "P" : "-") + (e.reload ? "R" : "-") +
                        (e.lists ? "L" : "-");
    QCOMPARE(got, enabled);
}

QTEST_MAIN(HistoryWindowTest)
#include "tst_historywindow.moc"
