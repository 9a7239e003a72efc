#include "gui/history/historywindow.h"

#include "core/history/commands.h"
#include "core/history/duereport.h"
#include "core/history/showntext.h"
#include "core/history/writer.h"
#include "gui/history/csvexport.h"
#include "gui/history/driftchart.h"
#include "gui/history/filedialogs.h"
#include "gui/history/importflow.h"
#include "gui/history/pdfwriters.h"
#include "gui/history/pendingnotice.h"
#include "gui/history/recordimport.h"
#include "gui/history/reportprint.h"
#include "gui/history/revisionsdialog.h"
#include "gui/history/runfilterbar.h"
#include "gui/history/runtablemodel.h"
#include "gui/history/sensorfilter.h"
#include "gui/history/sensorlistmodel.h"
#include "gui/history/sortarrows.h"
#include "gui/history/standardsdialog.h"
#include "gui/history/windowactions.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace history
{

namespace
{

constexpr char kCsvFilter[] = QT_TRANSLATE_NOOP("history::HistoryWindow", "CSV files (*.csv)");
constexpr char kCsvSuffix[] = "csv";
constexpr char kReportFilter[] =
    QT_TRANSLATE_NOOP("history::HistoryWindow", "PDF files (*.pdf);;CSV files (*.csv)");
constexpr char kPdfFilter[] = QT_TRANSLATE_NOOP("history::HistoryWindow", "PDF files (*.pdf)");
constexpr char kPdfSuffix[] = "pdf";
// Rows looked at when a column is fitted to its contents.
constexpr int kFitRows = 200;
const QSize kWindowSize(1500, 860);
// The due dates move on just after midnight.
constexpr int kSecondsAfterMidnight = 1;
constexpr int kSensorPaneWidth = 700;
constexpr int kRunsPaneHeight = 320;
// Long outcome texts are cut to these when the table has no room to spare
// (the tooltip has them whole); with room, the outcome column takes it.
constexpr int kSensorOutcomeWidth = 150;
constexpr int kRunOutcomeWidth = 230;
// Rows as high as the text and a little air, to see many at once.
constexpr int kRowPadding = 6;
// Banners above the list: the training history, a history not read.
constexpr char kTrainingStyle[] = "QLabel { background: #ffd966; color: black; padding: 4px; }";
constexpr char kProblemStyle[] = "QLabel { background: #f4cccc; color: black; padding: 4px; }";
// The export of every sensor: the theme's "save all", else a disk.
constexpr char kExportAllIcon[] = "document-save-all";
// What a serial number and type may leave in a suggested file name.
constexpr char kUnsafeInFileName[] = "[^A-Za-z0-9._-]+";

void setUpTable(QTableView *view)
{
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(true);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + kRowPadding);
    view->horizontalHeader()->setResizeContentsPrecision(kFitRows);
    view->horizontalHeader()->setHighlightSections(false);
    showSortArrowsUpAscending(view->horizontalHeader());
}

// The system's time, and a timer for the wake-up.
class SystemClock : public Clock
{
public:
    SystemClock() { timer_.setSingleShot(true); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    void wakeAt(const QDateTime &when, std::function<void()> wake) override
    {
        QObject::disconnect(&timer_, &QTimer::timeout, nullptr, nullptr);
        QObject::connect(&timer_, &QTimer::timeout, std::move(wake));
        timer_.start(std::chrono::milliseconds(std::max<qint64>(0, now().msecsTo(when))));
    }

private:
    QTimer timer_;
};

} // namespace

// The outcome column: as wide as its texts within its limit, and wider still
// when the other columns leave room, so the table has no empty strip.
class OutcomeWidth : public QObject
{
public:
    OutcomeWidth(QTableView *view, int column, int limit)
        : QObject(view), view_(view), column_(column), limit_(limit)
    {
        view->viewport()->installEventFilter(this);
    }
    // Its width when the table has no room to spare, and with its texts whole.
    int wanted() const { return wanted_; }
    int whole() const { return whole_; }
    void fit()
    {
        view_->resizeColumnsToContents();
        whole_ = view_->columnWidth(column_);
        wanted_ = std::min(whole_, limit_);
        spread();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            spread();
        return QObject::eventFilter(watched, event);
    }

private:
    void spread()
    {
        int others = 0;
        for (int c = 0; c < view_->model()->columnCount(); ++c) {
            if (c != column_)
                others += view_->columnWidth(c);
        }
        view_->setColumnWidth(column_, std::max(wanted_, view_->viewport()->width() - others));
    }

    QTableView *view_;
    int column_;
    int limit_;
    int wanted_ = 0;
    int whole_ = 0;
};

HistoryWindow::HistoryWindow(const WindowOptions &options, QWidget *parent)
    : QMainWindow(parent), options_(options)
{
    // Certificates and the due report are drawn by this program's writers.
    installPaperWriters();
    setWindowTitle(options.training ? tr("ZOLVEX Calibration History - TRAINING")
                                    : tr("ZOLVEX Calibration History"));
    sensorModel_ = new SensorListModel(this);
    sensorFilter_ = new SensorFilter(this);
    sensorFilter_->setSourceModel(sensorModel_);
    runModel_ = new RunTableModel(this);
    runSorter_ = new RunFilterProxy(this);
    runSorter_->setSourceModel(runModel_);
    runSorter_->setSortRole(RunTableModel::SortRole);
    fileDialogs_ = std::make_unique<FileDialogs>(this);
    buildActions();
    buildWidgets();
    resize(kWindowSize);

    clock_ = options.clock ? options.clock : std::make_shared<SystemClock>();
    sensorModel_->setToday(clock_->now().date());
    startDayTimer();
}

void HistoryWindow::startDayTimer()
{
    // A window left open for days moves its due dates on at every midnight.
    const QDateTime tomorrow(clock_->now().date().addDays(1), QTime(0, 0, kSecondsAfterMidnight));
    QPointer<HistoryWindow> window(this);
    clock_->wakeAt(tomorrow, [window] {
        if (!window)
            return;
        window->setToday(window->clock_->now().date());
        window->startDayTimer();
    });
}

QString HistoryWindow::startFolder() const
{
    if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir())
        return lastFolder_;
    return QDir::homePath();
}

HistoryWindow::~HistoryWindow()
{
    // A read or an export under way is given a little while, then let go.
    delete export_;
    delete import_;
    reader_.reset();
}

void HistoryWindow::buildActions()
{
    QStyle *s = style();
    importAction_ =
        new QAction(s->standardIcon(QStyle::SP_DirOpenIcon), tr("&Import record files..."), this);
    importAction_->setObjectName(QStringLiteral("importAction"));
    importAction_->setShortcut(tr("Ctrl+I"));
    importAction_->setToolTip(tr("Read the calibration record files under a folder into the "
                                 "history"));
    connect(importAction_, &QAction::triggered, this, &HistoryWindow::importRecords);

    exportSensorAction_ = new QAction(s->standardIcon(QStyle::SP_DialogSaveButton),
                                      tr("&Export this sensor to CSV..."), this);
    exportSensorAction_->setObjectName(QStringLiteral("exportSensorAction"));
    exportSensorAction_->setShortcut(tr("Ctrl+E"));
    connect(exportSensorAction_, &QAction::triggered, this, &HistoryWindow::exportSensor);

    exportAllAction_ = new QAction(
        QIcon::fromTheme(QLatin1String(kExportAllIcon), s->standardIcon(QStyle::SP_DriveHDIcon)),
        tr("Export &all sensors to CSV..."), this);
    exportAllAction_->setObjectName(QStringLiteral("exportAllAction"));
    connect(exportAllAction_, &QAction::triggered, this, &HistoryWindow::exportAll);

    printAction_ = new QAction(s->standardIcon(QStyle::SP_FileDialogDetailedView),
                               tr("&Print report..."), this);
    printAction_->setObjectName(QStringLiteral("printAction"));
    printAction_->setShortcut(QKeySequence::Print);
    connect(printAction_, &QAction::triggered, this, &HistoryWindow::printReport);

    dueReportAction_ = new QAction(tr("&Due report..."), this);
    dueReportAction_->setObjectName(QStringLiteral("dueReportAction"));
    dueReportAction_->setToolTip(tr("The sensors overdue, due soon and out of tolerance, and the "
                                    "reference standards due, as PDF or CSV"));
    connect(dueReportAction_, &QAction::triggered, this, &HistoryWindow::dueReport);

    reloadAction_ = new QAction(s->standardIcon(QStyle::SP_BrowserReload), tr("&Reload"), this);
    reloadAction_->setObjectName(QStringLiteral("reloadAction"));
    reloadAction_->setShortcut(QKeySequence::Refresh);
    reloadAction_->setToolTip(tr("Read the history again, with the runs other stations "
                                 "recorded meanwhile"));
    connect(reloadAction_, &QAction::triggered, this, &HistoryWindow::reload);

    revisionsAction_ = new QAction(tr("Show &revisions..."), this);
    revisionsAction_->setObjectName(QStringLiteral("revisionsAction"));
    revisionsAction_->setToolTip(tr("Every stored revision of this run: when, where and by "
                                    "whom it was recorded"));
    connect(revisionsAction_, &QAction::triggered, this, &HistoryWindow::showRevisions);

    setTypeAction_ = new QAction(tr("Set sensor &type..."), this);
    setTypeAction_->setObjectName(QStringLiteral("setTypeAction"));
    setTypeAction_->setToolTip(tr("Give this run a sensor type, as a new revision of it"));
    connect(setTypeAction_, &QAction::triggered, this, &HistoryWindow::setRunType);

    certificateAction_ = new QAction(tr("Issue certificate..."), this);
    certificateAction_->setObjectName(QStringLiteral("certificateAction"));
    certificateAction_->setToolTip(tr("The certificate of this run as a PDF: the one issued, "
                                      "or a new one when the run or its signatures changed"));
    connect(certificateAction_, &QAction::triggered, this, &HistoryWindow::issueCertificate);

    signAction_ = new QAction(tr("Sign off..."), this);
    signAction_->setObjectName(QStringLiteral("signAction"));
    signAction_->setToolTip(tr("Sign this run reviewed or approved, under your own login"));
    connect(signAction_, &QAction::triggered, this, &HistoryWindow::signOff);

    standardsAction_ = new QAction(tr("&Standards..."), this);
    standardsAction_->setObjectName(QStringLiteral("standardsAction"));
    standardsAction_->setToolTip(tr("The workshop's reference standards: register, calibrate "
                                    "again, withdraw"));
    connect(standardsAction_, &QAction::triggered, this, &HistoryWindow::showStandards);
    stationStandardAction_ = new QAction(tr("Standard at &this station..."), this);
    stationStandardAction_->setObjectName(QStringLiteral("stationStandardAction"));
    connect(stationStandardAction_, &QAction::triggered, this,
            &HistoryWindow::chooseStationStandard);

    auto *quit = new QAction(tr("&Quit"), this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *file = menuBar()->addMenu(tr("&History"));
    file->addAction(importAction_);
    file->addSeparator();
    file->addAction(exportSensorAction_);
    file->addAction(exportAllAction_);
    file->addAction(printAction_);
    file->addAction(dueReportAction_);
    file->addSeparator();
    file->addAction(reloadAction_);
    file->addSeparator();
    file->addAction(standardsAction_);
    file->addAction(stationStandardAction_);
    file->addSeparator();
    file->addAction(quit);

    QToolBar *tools = addToolBar(tr("History"));
    tools->setObjectName(QStringLiteral("tools"));
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tools->addAction(importAction_);
    tools->addAction(exportSensorAction_);
    tools->addAction(exportAllAction_);
    tools->addAction(printAction_);
    tools->addAction(reloadAction_);
}

void HistoryWindow::buildWidgets()
{
    auto *left = new QWidget;
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    filter_ = new QLineEdit;
    filter_->setObjectName(QStringLiteral("filter"));
    filter_->setPlaceholderText(tr("Filter by serial number or type"));
    filter_->setClearButtonEnabled(true);
    connect(filter_, &QLineEdit::textChanged, sensorFilter_,
            &QSortFilterProxyModel::setFilterFixedString);
    // Return picks the first sensor the filter leaves, and goes to the list.
    connect(filter_, &QLineEdit::returnPressed, this, [this] {
        if (sensorFilter_->rowCount() == 0)
            return;
        sensorView_->setCurrentIndex(sensorFilter_->index(0, SensorListModel::Serial));
        sensorView_->setFocus();
    });
    auto *find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, filter_, [this] {
        filter_->setFocus();
        filter_->selectAll();
    });
    addAction(find);
    leftLayout->addWidget(filter_);

    sensorView_ = new QTableView;
    sensorView_->setObjectName(QStringLiteral("sensors"));
    setUpTable(sensorView_);
    sensorView_->setModel(sensorFilter_);
    sensorView_->sortByColumn(SensorListModel::NextDue, Qt::AscendingOrder);
    sensorOutcome_ =
        new OutcomeWidth(sensorView_, SensorListModel::LastOutcome, kSensorOutcomeWidth);
    connect(sensorView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    showSensor(current.data(SensorListModel::SerialRole).toString(),
                               current.data(SensorListModel::TypeRole).toString());
                else
                    clearSensor();
            });
    leftLayout->addWidget(sensorView_);
    buildSensorActions();

    auto *runsPane = new QWidget;
    auto *runsLayout = new QVBoxLayout(runsPane);
    runsLayout->setContentsMargins(0, 0, 0, 0);
    heading_ = new QLabel;
    heading_->setObjectName(QStringLiteral("heading"));
    heading_->setTextFormat(Qt::PlainText);
    QFont bigger = heading_->font();
    bigger.setBold(true);
    heading_->setFont(bigger);
    runsLayout->addWidget(heading_);
    runFilterBar_ = new RunFilterBar;
    runFilterBar_->setObjectName(QStringLiteral("runFilter"));
    connect(runFilterBar_, &RunFilterBar::changed, runSorter_, &RunFilterProxy::setFilter);
    runsLayout->addWidget(runFilterBar_);
    runView_ = new QTableView;
    runView_->setObjectName(QStringLiteral("runs"));
    setUpTable(runView_);
    runView_->setModel(runSorter_);
    runView_->sortByColumn(RunTableModel::Date, Qt::DescendingOrder);
    runOutcome_ = new OutcomeWidth(runView_, RunTableModel::Result, kRunOutcomeWidth);
    runView_->setContextMenuPolicy(Qt::ActionsContextMenu);
    runView_->addAction(revisionsAction_);
    runView_->addAction(setTypeAction_);
    runView_->addAction(certificateAction_);
    runView_->addAction(signAction_);
    connect(runView_, &QAbstractItemView::doubleClicked, this, &HistoryWindow::showRevisions);
    runsLayout->addWidget(runView_);

    chart_ = new DriftChart;
    chart_->setObjectName(QStringLiteral("chart"));

    auto *top = new QSplitter(Qt::Horizontal);
    top->setObjectName(QStringLiteral("top"));
    top_ = top;
    top->addWidget(left);
    top->addWidget(chart_);
    top->setStretchFactor(1, 1);
    top->setSizes({kSensorPaneWidth, kWindowSize.width() - kSensorPaneWidth});

    auto *split = new QSplitter(Qt::Vertical);
    split->addWidget(top);
    split->addWidget(runsPane);
    split->setStretchFactor(0, 1);
    split->setSizes({kWindowSize.height() - kRunsPaneHeight, kRunsPaneHeight});
    split->setContentsMargins(6, 6, 6, 0);

    auto *central = new QWidget;
    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    if (options_.training) {
        auto *training = new QLabel(tr("Training history: runs of the training program, not "
                                       "calibration records."));
        training->setObjectName(QStringLiteral("training"));
        training->setStyleSheet(QLatin1String(kTrainingStyle));
        centralLayout->addWidget(training);
    }
    problem_ = new QLabel;
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setTextFormat(Qt::PlainText);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QLatin1String(kProblemStyle));
    problem_->hide();
    centralLayout->addWidget(problem_);
    centralLayout->addWidget(split, 1);
    setCentralWidget(central);

    databaseLabel_ = new QLabel;
    databaseLabel_->setObjectName(QStringLiteral("database"));
    statusBar()->addPermanentWidget(databaseLabel_);
    clearSensor();
}

bool HistoryWindow::openHistory()
{
    reader_ = std::make_unique<HistoryReader>(options_.location, options_.readerHook);
    connect(reader_.get(), &HistoryReader::sensorsRead, this, &HistoryWindow::sensorsRead);
    connect(reader_.get(), &HistoryReader::runsRead, this, &HistoryWindow::runsRead);
    connect(reader_.get(), &HistoryReader::unsignedCounted, sensorModel_,
            &SensorListModel::setUnsignedRuns);
    connect(reader_.get(), &HistoryReader::signaturesRead, runModel_,
            &RunTableModel::setSignatures);
    connect(reader_.get(), &HistoryReader::certified, this, &HistoryWindow::certified);
    connect(reader_.get(), &HistoryReader::runSigned, this,
            [this](const QString &, const QString &meaning, const RegisterChange &change,
                   const QString &signer) { runSigned(meaning, change, signer); });
    connect(reader_.get(), &HistoryReader::opened, this, [this](const QString &error) {
        if (historyOpen_ && !error.isEmpty())
            readFailed(error); // a fresh connection failed too
    });
    connect(reader_.get(), &HistoryReader::pendingWritten, this,
            [this](const PendingWrite &written) { pendingMessage_ = pendingWrittenText(written); });
    connect(reader_.get(), &HistoryReader::typesRead, this,
            [this](const QString &key, const QStringList &types, const QString &) {
                askRunType(key, types); // none known: the operator types one
            });
    connect(reader_.get(), &HistoryReader::typeSet, this,
            [this](const QString &, const QString &type, const TypeChange &change) {
                runTypeSet(type, change);
            });
    connect(reader_.get(), &HistoryReader::suggestionRead, this,
            [this](const QString &serial, const QString &type, const IntervalSuggestion &s) {
                sensorModel_->setSuggestion(serial, type, s);
                updateSensorActions();
            });
    connect(reader_.get(), &HistoryReader::registerChanged, this, &HistoryWindow::registerChanged);
    connect(reader_.get(), &HistoryReader::standardsRead, this,
            [this](const StandardRevisions &standards, const QString &error) {
                if (error.isEmpty()) {
                    standards_ = standards;
                    standardsRead_ = true;
                    runModel_->setStandards(standards);
                }
                if (standardsDialog_)
                    standardsDialog_->setStandards(newestStandards(standards), error);
            });
    connect(reader_.get(), &HistoryReader::standardStored, this,
            [this](const QString &serial, const RegisterChange &change) {
                if (standardsDialog_)
                    standardsDialog_->changeDone(serial, change);
                reader_->readStandards();
            });
    connect(reader_.get(), &HistoryReader::revisionsRead, this,
            [this](const QString &, const QList<Run> &revisions, const QString &error) {
                RevisionsDialog dialog(revisions, error, this,
                                       standardsRead_ ? &standards_ : nullptr);
                dialog.exec();
            });

    // Connecting (and migrating) may take a while: the window's events run
    // meanwhile, and it says what it waits for.
    heading_->setText(tr("Opening the history..."));
    QString error;
    int waitingFor = 2; // the history, and the folder of pending runs
    QEventLoop wait;
    const auto done = [&] {
        if (--waitingFor == 0)
            wait.quit();
    };
    connect(reader_.get(), &HistoryReader::opened, &wait, [&](const QString &e) {
        error = e;
        done();
    });
    // The pending folder is a disk, and its lock may be held by a station
    // for a moment: read on a thread too.
    QList<Pending> pending;
    QList<DamagedFile> damagedFiles;
    const QString folder = options_.pendingFolder;
    const bool training = options_.training;
    std::unique_ptr<QThread> folderReader(
        QThread::create([&pending, &damagedFiles, folder, training] {
            pending = pendingRuns(folder, training);
            damagedFiles = damagedPending(folder);
        }));
    connect(folderReader.get(), &QThread::finished, &wait, done);
    reader_->open(false);
    folderReader->start();
    if (waitingFor > 0)
        wait.exec();
    folderReader->wait();
    const bool opened = error.isEmpty();

    QStringList damaged;
    for (const DamagedFile &file : std::as_const(damagedFiles))
        damaged << tr("%1: %2").arg(QDir::toNativeSeparators(file.path), file.reason);
    showPendingNotices(this, pendingNotices(pending), damaged, opened);

    if (!opened) {
        heading_->clear();
        QMessageBox::critical(this, windowTitle(),
                              tr("The calibration history cannot be opened.\n\n%1").arg(error));
        reader_.reset();
        return false;
    }
    historyOpen_ = true;
    // Written before the sensors are read: they are listed with the rest.
    if (!pending.isEmpty())
        reader_->writePending(options_.pendingFolder, pending);
    reload();
    return true;
}

bool HistoryWindow::isReading() const
{
    return reader_ && reader_->busy();
}

void HistoryWindow::setToday(const QDate &today)
{
    sensorModel_->setToday(today);
    updateHeading();
    updateStatus();
}

void HistoryWindow::readFailed(const QString &error)
{
    readFailed_ = true;
    problem_->setText(tr("The history cannot be read: %1\nWhat this window shows may be out of "
                         "date; Reload tries again.")
                          .arg(error));
    problem_->show();
    updateStatus();
}

void HistoryWindow::reload()
{
    if (!reader_ || !historyOpen_)
        return;
    // A connection that failed may stay broken (a server restarted, say): a
    // fresh one.
    if (readFailed_)
        reader_->open(true);
    reader_->readSensors(sensorModel_->today());
    statusBar()->showMessage(tr("Loading the sensors..."));
    updateHeading();
}

void HistoryWindow::sensorsRead(const QList<SensorSummary> &sensors, const QString &error)
{
    if (!error.isEmpty()) {
        readFailed(error); // what is shown stays: never an empty history in its place
        updateHeading();
        return;
    }
    readFailed_ = false;
    problem_->hide();
    const QString keep = current_;
    const QString keepType = currentType_;
    const bool showing = showing_;
    sensorModel_->setSensors(sensors);
    sensorOutcome_->fit();
    if (!sized_ && sensorModel_->rowCount() > 0)
        fitSensorPane();
    updateStatus();
    if (!pendingMessage_.isEmpty())
        statusBar()->showMessage(std::exchange(pendingMessage_, QString()));
    const int row = showing ? sensorModel_->rowOf(keep, keepType) : -1;
    if (row >= 0) {
        selectSensor(keep, keepType);
        showSensor(keep, keepType); // the same sensor: its runs may have changed
    } else if (sensorFilter_->rowCount() > 0) {
        sensorView_->setCurrentIndex(sensorFilter_->index(0, SensorListModel::Serial));
    } else {
        clearSensor();
    }
}

void HistoryWindow::fitSensorPane()
{
    // Once, when the first sensors are shown: wide enough for every column
    // whole, as far as the chart leaves room; after that the splitter is the
    // operator's.
    sized_ = true;
    int width =
        2 * sensorView_->frameWidth() + sensorView_->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < SensorListModel::ColumnCount; ++c)
        width += c == SensorListModel::LastOutcome ? sensorOutcome_->whole()
                                                   : sensorView_->columnWidth(c);
    const int total = top_->width() > 0 ? top_->width() : kWindowSize.width();
    const int pane = std::max(
        0, std::min(width, total - top_->handleWidth() - chart_->minimumSizeHint().width()));
    top_->setSizes({pane, total - pane});
}

void HistoryWindow::selectSensor(const QString &serialNumber, const QString &sensorType)
{
    const int row = sensorModel_->rowOf(serialNumber, sensorType);
    if (row < 0)
        return;
    const QModelIndex index =
        sensorFilter_->mapFromSource(sensorModel_->index(row, SensorListModel::Serial));
    if (index.isValid())
        sensorView_->setCurrentIndex(index);
    else // filtered out of the list, shown all the same
        showSensor(serialNumber, sensorModel_->sensor(row).sensorType);
}

int HistoryWindow::currentRow() const
{
    return showing_ ? sensorModel_->rowOf(current_, currentType_) : -1;
}

void HistoryWindow::showSensor(const QString &serialNumber, const QString &sensorType)
{
    showing_ = true;
    current_ = serialNumber;
    currentType_ = sensorType;
    refreshSensor();
}

void HistoryWindow::clearSensor()
{
    showing_ = false;
    current_.clear();
    currentType_.clear();
    refreshSensor();
}

void HistoryWindow::refreshSensor()
{
    const int row = currentRow();
    const bool same =
        runsShown_ && row >= 0 && runsSerial_ == current_ && runsType_ == currentType_;
    if (row >= 0 && reader_ && historyOpen_ && !readFailed_)
        reader_->readRuns(current_, currentType_);
    else if (!same) // the runs shown stay; the window says they may be out of date
        showRuns({});
    updateActions();
    updateHeading();
}

void HistoryWindow::runsRead(const QString &serialNumber, const QString &sensorType,
                             const QList<Run> &runs, const QString &error)
{
    // Only the newest request comes back; the sensor may have gone since.
    if (currentRow() < 0 || serialNumber != current_ || sensorType != currentType_)
        return;
    const bool same = runsShown_ && runsSerial_ == current_ && runsType_ == currentType_;
    if (!error.isEmpty()) {
        readFailed(error);
        if (!same)
            showRuns({});
    } else {
        showRuns(runs);
    }
    updateHeading();
}

void HistoryWindow::showRuns(const QList<Run> &runs)
{
    runModel_->setRuns(runs);
    runFilterBar_->setRuns(runs);
    runOutcome_->fit();
    chart_->setRuns(runs);
    runsShown_ = currentRow() >= 0;
    runsSerial_ = current_;
    runsType_ = currentType_;
}

void HistoryWindow::updateHeading()
{
    const int row = currentRow();
    const bool reading = reader_ && historyOpen_ && !readFailed_;
    if (row < 0) {
        if (reading && reader_->waiting(HistoryReader::Sensors))
            heading_->setText(tr("Loading the sensors..."));
        else
            heading_->setText(reading && sensorModel_->rowCount() == 0
                                  ? tr("No runs are recorded in this history yet.")
                                  : QString());
        return;
    }
    // As the list says it.
    const auto shown = [this, row](int column) {
        return sensorModel_->index(row, column).data().toString();
    };
    if (reading && reader_->waiting(HistoryReader::Runs)) {
        heading_->setText(tr("Loading the runs of %1...").arg(sensorText(currentType_, current_)));
        return;
    }
    heading_->setText(tr("%1 - runs: %2 - next due %3")
                          .arg(sensorText(currentType_, current_), shown(SensorListModel::Runs),
                               shown(SensorListModel::NextDue)));
}

void HistoryWindow::updateStatus()
{
    databaseLabel_->setText(tr("History: %1").arg(options_.location.describe()));
    if (readFailed_) {
        statusBar()->showMessage(
            tr("The history cannot be read: what is shown may be out of date"));
        return;
    }
    statusBar()->showMessage(tr("Sensors: %1, overdue: %2, out of tolerance: %3")
                                 .arg(sensorModel_->sensorCount())
                                 .arg(sensorModel_->overdueCount())
                                 .arg(sensorModel_->outOfToleranceCount()));
}

void HistoryWindow::updateActions()
{
    WindowState state;
    state.historyOpen = historyOpen_;
    state.sensorShown = currentRow() >= 0;
    state.importing = import_ != nullptr;
    state.exporting = export_ != nullptr;
    const EnabledActions enabled = enabledActions(state);
    importAction_->setEnabled(enabled.import);
    exportSensorAction_->setEnabled(enabled.exportSensor);
    exportAllAction_->setEnabled(enabled.exportAll);
    dueReportAction_->setEnabled(enabled.exportAll);
    printAction_->setEnabled(enabled.print);
    reloadAction_->setEnabled(enabled.reload);
    centralWidget()->setEnabled(enabled.lists);
    updateSensorActions();
}

void HistoryWindow::exportSensor()
{
    if (!historyOpen_ || export_ || currentRow() < 0)
        return;
    // Both come from the sensor: nothing of them may name another folder.
    QString name = currentType_.isEmpty() ? serialText(current_)
                                          : tr("%1 %2").arg(serialText(current_), currentType_);
    name.replace(QRegularExpression(QLatin1String(kUnsafeInFileName)), QStringLiteral("_"));
    const QString path = askCsvPath(name + QLatin1Char('.') + QLatin1String(kCsvSuffix));
    if (path.isEmpty())
        return;
    startExport(new CsvExport(options_.location, current_, currentType_, path, this));
}

void HistoryWindow::exportAll()
{
    if (!historyOpen_ || export_)
        return;
    const QString path =
        askCsvPath(tr("calibration-history") + QLatin1Char('.') + QLatin1String(kCsvSuffix));
    if (path.isEmpty())
        return;
    startExport(new CsvExport(options_.location, path, this));
}

void HistoryWindow::startExport(CsvExport *job, bool report)
{
    export_ = job;
    connect(job, &CsvExport::finished, this,
            [this, job, report](const QString &path, int listed, const QString &error) {
                export_ = nullptr;
                job->deleteLater();
                updateActions();
                if (!report || listed < 0)
                    showExportEnd(this, path, listed, error);
                else
                    statusBar()->showMessage(tr("Due report written to %1: %2 listed")
                                                 .arg(QDir::toNativeSeparators(path))
                                                 .arg(listed));
            });
    statusBar()->showMessage(
        (report ? tr("Writing the due report to %1...") : tr("Exporting runs to %1..."))
            .arg(QDir::toNativeSeparators(job->path())));
    job->start();
    updateActions();
}

QString HistoryWindow::askCsvPath(const QString &suggestedName)
{
    const QString path =
        fileDialogs_->savePath(tr("Export to CSV"), QDir(startFolder()).filePath(suggestedName),
                               tr(kCsvFilter), QLatin1String(kCsvSuffix));
    if (!path.isEmpty())
        lastFolder_ = QFileInfo(path).absolutePath();
    return path;
}

void HistoryWindow::printReport()
{
    const int row = currentRow();
    if (!historyOpen_ || row < 0)
        return;
    ReportInputs inputs;
    inputs.sensor = sensorModel_->sensor(row);
    inputs.runs = runModel_->runs();
    inputs.due = sensorModel_->dueDate(row);
    inputs.overdue = sensorModel_->isOverdue(row);
    inputs.intervalDays = inputs.sensor.intervalDays;
    inputs.printed = sensorModel_->today();
    inputs.training = options_.training;
    if (standardsRead_)
        inputs.standards = standards_;
    const QString folder = printReportWithDialog(inputs, this);
    if (!folder.isEmpty())
        lastFolder_ = folder;
}

void HistoryWindow::dueReport()
{
    if (!historyOpen_ || export_)
        return;
    QInputDialog ask(this);
    ask.setObjectName(QStringLiteral("dueDaysDialog"));
    ask.setWindowTitle(tr("Due report"));
    ask.setLabelText(tr("Sensors and standards due within how many days:"));
    ask.setInputMode(QInputDialog::IntInput);
    ask.setIntRange(0, kMaxDueDays);
    ask.setIntValue(kDefaultDueReportDays);
    if (ask.exec() != QDialog::Accepted)
        return;
    const int days = ask.intValue();
    const QDate today = sensorModel_->today();
    const QString name = tr("due-report-%1").arg(today.toString(Qt::ISODate)) + QLatin1Char('.') +
                         QLatin1String(kDueReportPdfSuffix);
    const QString path =
        fileDialogs_->savePath(tr("Due report"), QDir(startFolder()).filePath(name),
                               tr(kReportFilter), QLatin1String(kDueReportPdfSuffix));
    if (path.isEmpty())
        return;
    lastFolder_ = QFileInfo(path).absolutePath();
    if (dueReportFormat(path) == DueReportFormat::Unknown) {
        QMessageBox::warning(this, windowTitle(),
                             tr("A due report is written as PDF (.pdf) or CSV (.csv), not as %1.")
                                 .arg(QDir::toNativeSeparators(path)));
        return;
    }
    const bool training = options_.training;
    startExport(
        new CsvExport(
            options_.location, path,
            [today, days, training](const Location &location, const QString &file, QString *error) {
                DueReport report;
                if (!exportDueReport(location, file, today, days, training, &report, error))
                    return -1;
                return int(report.overdue.size() + report.dueSoon.size() +
                           report.outOfTolerance.size() + report.standards.size());
            },
            this),
        true);
}

void HistoryWindow::showRevisions()
{
    const QModelIndex index = runSorter_->mapToSource(runView_->currentIndex());
    if (!reader_ || !historyOpen_ || !index.isValid())
        return;
    reader_->readRevisions(runModel_->runs().at(index.row()).key);
}

void HistoryWindow::showStandards()
{
    if (!reader_ || !historyOpen_)
        return;
    StandardsDialog dialog(sensorModel_->today(), this);
    standardsDialog_ = &dialog;
    connect(&dialog, &StandardsDialog::storeRequested, this,
            [this](const Standard &standard, bool withdrawn) {
                reader_->storeStandard(standard, withdrawn);
            });
    dialog.setStandards(newestStandards(standards_), QString());
    reader_->readStandards();
    dialog.exec();
    standardsDialog_ = nullptr;
}

void HistoryWindow::chooseStationStandard()
{
    history::chooseStationStandard(this, newestStandards(standards_));
}

void HistoryWindow::setRunType()
{
    const QModelIndex index = runSorter_->mapToSource(runView_->currentIndex());
    if (!reader_ || !historyOpen_ || !index.isValid())
        return;
    typeRun_ = runModel_->runs().at(index.row());
    reader_->readTypes(typeRun_.key, typeRun_.serialNumber);
}

namespace
{
void warnPlain(QWidget *parent, const QString &title, const QString &text)
{
    // The text may hold what a record or a person gave: never markup.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
} // namespace

void HistoryWindow::askRunType(const QString &key, const QStringList &types)
{
    if (key != typeRun_.key || !historyOpen_)
        return;
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("typeDialog"));
    dialog.setWindowTitle(tr("Set sensor type - %1").arg(serialText(typeRun_.serialNumber)));
    dialog.setLabelText(tr("Sensor type of this run (kept as a new revision of it):"));
    dialog.setComboBoxItems(types);
    dialog.setComboBoxEditable(true);
    dialog.setTextValue(typeRun_.sensorType.isEmpty() ? types.value(0) : typeRun_.sensorType);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString type = dialog.textValue();
    const QString refusal = typeRefusal(type);
    if (!refusal.isEmpty()) {
        warnPlain(this, tr("Set sensor type"), tr("The type was not set: %1").arg(refusal));
        return;
    }
    reader_->setRunType(key, type);
}

void HistoryWindow::runTypeSet(const QString &sensorType, const TypeChange &change)
{
    if (change.kind == TypeChange::Set) {
        statusBar()->showMessage(
            tr("Sensor type set to %1 (revision %2).").arg(sensorType).arg(change.revision));
        reload();
        return;
    }
    warnPlain(this, tr("Set sensor type"), tr("The type was not set: %1").arg(change.reason));
}

const Run *HistoryWindow::pickedRun() const
{
    const QModelIndex index = runSorter_->mapToSource(runView_->currentIndex());
    if (!reader_ || !historyOpen_ || !index.isValid())
        return nullptr;
    return &runModel_->runs().at(index.row());
}

void HistoryWindow::issueCertificate()
{
    const Run *run = pickedRun();
    if (!run)
        return;
    const QString key = run->key;
    QString name = tr("certificate %1").arg(serialText(run->serialNumber));
    name.replace(QRegularExpression(QLatin1String(kUnsafeInFileName)), QStringLiteral("_"));
    const QString path = fileDialogs_->savePath(
        tr("Issue certificate"),
        QDir(startFolder()).filePath(name + QLatin1Char('.') + QLatin1String(kPdfSuffix)),
        tr(kPdfFilter), QLatin1String(kPdfSuffix));
    if (path.isEmpty())
        return;
    lastFolder_ = QFileInfo(path).absolutePath();
    reader_->certify(key, path, options_.training);
}

void HistoryWindow::certified(const CertificateIssue &issue, const QString &path,
                              const QString &writeError)
{
    const QString file = QDir::toNativeSeparators(path);
    if (issue.kind != CertificateIssue::Issued && issue.kind != CertificateIssue::PrintedAgain) {
        warnPlain(this, tr("Issue certificate"), tr("No certificate: %1").arg(issue.reason));
        return;
    }
    const QString &number = issue.certificate.number;
    if (!writeError.isEmpty()) {
        warnPlain(this, tr("Issue certificate"),
                  tr("%1 could not be written: %2 (certificate %3 stands; asked again, it is "
                     "printed again)")
                      .arg(file, writeError, number));
        return;
    }
    statusBar()->showMessage(issue.kind == CertificateIssue::PrintedAgain
                                 ? tr("Certificate %1 printed again to %2").arg(number, file)
                             : issue.certificate.replaces.isEmpty()
                                 ? tr("Certificate %1 issued to %2").arg(number, file)
                                 : tr("Certificate %1 issued to %2, replacing %3")
                                       .arg(number, file, issue.certificate.replaces));
}

void HistoryWindow::signOff()
{
    const Run *run = pickedRun();
    if (!run)
        return;
    const QString key = run->key;
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("signDialog"));
    dialog.setWindowTitle(tr("Sign off - %1").arg(serialText(run->serialNumber)));
    dialog.setLabelText(tr("This run, signed under your login as:"));
    dialog.setComboBoxItems({QLatin1String(kMeaningReviewed), QLatin1String(kMeaningApproved)});
    if (dialog.exec() != QDialog::Accepted)
        return;
    reader_->signRun(key, dialog.textValue());
}

void HistoryWindow::runSigned(const QString &meaning, const RegisterChange &change,
                              const QString &signer)
{
    if (!change) {
        warnPlain(this, tr("Sign off"), tr("The run was not signed: %1").arg(change.reason));
        return;
    }
    statusBar()->showMessage(tr("Run signed %1 by %2.").arg(meaning, shown(signer)));
    reload();
}

void HistoryWindow::importRecords()
{
    if (!historyOpen_ || import_)
        return;
    const QString folder = fileDialogs_->folder(tr("Import record files from"), startFolder());
    if (folder.isEmpty())
        return;
    lastFolder_ = folder;
    import_ = new ImportFlow(options_.location, ImportRules{options_.training}, folder, this);
    connect(import_, &ImportFlow::finished, this,
            [this, folder](const ImportResult &result) { importFinished(result, folder); });
    updateActions();
    import_->start();
}

void HistoryWindow::importFinished(const ImportResult &result, const QString &folder)
{
    import_->deleteLater();
    import_ = nullptr;
    updateActions();
    reload();
    statusBar()->showMessage(tr("Record files imported: %1").arg(result.imported));
    if (closeAfterImport_) {
        close(); // what was imported stays
        return;
    }
    ImportSummaryDialog summary(result, folder, this);
    summary.exec();
}

void HistoryWindow::closeEvent(QCloseEvent *event)
{
    // Let the import stop between two files, then close.
    if (import_) {
        closeAfterImport_ = true;
        event->ignore();
        import_->cancel();
        return;
    }
    QMainWindow::closeEvent(event);
}

} // namespace history
