#pragma once

// The calibration history window: the sensors with their due dates, one
// sensor's runs and its chart; export to CSV, a printed report, and the
// import of calibration record files.

#include "core/history/importer.h"
#include "core/history/location.h"
#include "core/history/store.h"
#include "gui/history/historyreader.h"

#include <QDate>
#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QSplitter;
class QTableView;

namespace history
{

class CsvExport;
class DriftChart;
class FileDialogs;
class ImportFlow;
class OutcomeWidth;
class RunFilterBar;
class RunFilterProxy;
class RunTableModel;
class SensorFilter;
class SensorListModel;
class StandardsDialog;

// The time of day the window judges due dates by, and its wake-up at the next
// midnight; the system's unless the window is given another.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Calls wake once, at `when`; a later call replaces an earlier one.
    virtual void wakeAt(const QDateTime &when, std::function<void()> wake) = 0;
};

struct WindowOptions {
    Location location;
    QString pendingFolder;        // the runs this program's stations could not record
    bool training = false;        // the training program's history
    std::shared_ptr<Clock> clock; // none: the system's
    // Called on the reading thread before each read (tests hold a read with it).
    HistoryReader::Hook readerHook;
};

class HistoryWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit HistoryWindow(const WindowOptions &options, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    // Shows the notices of runs that could not be recorded and opens the
    // database (on the reading thread, this window's events running
    // meanwhile); then writes those runs into it and starts loading the
    // sensors. False (after saying why) when the database cannot be opened.
    bool openHistory();

    // A read of the history has not come back yet (the window shows what it
    // has meanwhile).
    bool isReading() const;

    // The day the due dates are judged on: the system's date, and the next
    // one from midnight on.
    void setToday(const QDate &today);

    // The sensor shown: its serial number and type.
    QString currentSerial() const { return current_; }
    QString currentType() const { return currentType_; }

public slots:
    // Reads the history again; after a failed read, on a fresh connection.
    // While it cannot be read, what was shown stays, and the window says so.
    void reload();
    // An empty type picks the first sensor with the serial number.
    void selectSensor(const QString &serialNumber, const QString &sensorType = QString());
    // The stored revisions of the run picked in the runs table.
    void showRevisions();
    // Asks for the sensor type of the run picked in the runs table (offering
    // the types the history knows for its serial number) and stores it as
    // the run's next revision.
    void setRunType();
    // The sensor shown: retire it (asking why), reinstate it, set its
    // calibration interval or its type's (asking how long), or apply the
    // interval its runs suggest; each stored as the next revision.
    void retireSensor();
    void reinstateSensor();
    void setSensorInterval();
    void applySuggestedInterval();
    // Asks where to save the PDF of the certificate of the run picked in the
    // runs table, and writes it: the one issued, or a new one.
    void issueCertificate();
    // Asks what the signature of the run picked in the runs table means, and
    // stores it; the database names the signer.
    void signOff();
    void exportSensor();
    void exportAll();
    void printReport();
    // Asks for the period and the file, then writes the fleet's due report
    // (PDF or CSV by the file's name) off this thread.
    void dueReport();
    void importRecords();
    // The register's reference standards: listed, registered, withdrawn.
    void showStandards();
    // Which of them this station uses.
    void chooseStationStandard();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildActions();
    void buildWidgets();
    void showSensor(const QString &serialNumber, const QString &sensorType);
    // Says the history cannot be read now, and that what is shown may be
    // out of date.
    void readFailed(const QString &error);
    void clearSensor();
    void refreshSensor(); // asks for the runs of the sensor shown
    void sensorsRead(const QList<SensorSummary> &sensors, const QString &error);
    void runsRead(const QString &serialNumber, const QString &sensorType, const QList<Run> &runs,
                  const QString &error);
    void showRuns(const QList<Run> &runs);
    void updateHeading();
    int currentRow() const; // in the sensor model; -1 when none is shown
    // The file an export goes to, asked of the operator; empty when cancelled.
    QString askCsvPath(const QString &suggestedName);
    // report: the job writes a due report, and its end says so.
    void startExport(CsvExport *job, bool report = false);
    void importFinished(const ImportResult &result, const QString &folder);
    void askRunType(const QString &key, const QStringList &types);
    void runTypeSet(const QString &sensorType, const TypeChange &change);
    void buildSensorActions(); // the Sensor menu, also the sensor list's context menu
    void updateSensorActions();
    void changeSensor(const QString &what, std::function<RegisterChange(Store &)> change);
    void registerChanged(const QString &what, const RegisterChange &change);
    void certified(const CertificateIssue &issue, const QString &path, const QString &writeError);
    void runSigned(const QString &meaning, const RegisterChange &change, const QString &signer);
    // The run picked in the runs table, or null.
    const Run *pickedRun() const;
    void updateStatus();
    void updateActions();
    void fitSensorPane();
    void startDayTimer();
    // Where a file dialog starts: the folder last chosen in this window while
    // it still exists, else the home folder.
    QString startFolder() const;

    WindowOptions options_;
    std::unique_ptr<HistoryReader> reader_;
    bool historyOpen_ = false;
    QString current_; // may be empty: a sensor that gave no serial number
    QString currentType_;
    bool readFailed_ = false; // the last read of the history failed
    // The sensor whose runs the table holds (they stay when a read fails).
    QString runsSerial_;
    QString runsType_;
    bool runsShown_ = false;
    bool showing_ = false;
    QString pendingMessage_; // what writing the pending runs did, said once loaded
    // Children of this window while they run.
    ImportFlow *import_ = nullptr;
    CsvExport *export_ = nullptr;
    bool closeAfterImport_ = false;
    bool sized_ = false; // the sensor pane fitted to its columns

    SensorListModel *sensorModel_ = nullptr;
    SensorFilter *sensorFilter_ = nullptr;
    RunTableModel *runModel_ = nullptr;
    RunFilterProxy *runSorter_ = nullptr;
    RunFilterBar *runFilterBar_ = nullptr;

    QLineEdit *filter_ = nullptr;
    QTableView *sensorView_ = nullptr;
    QLabel *heading_ = nullptr;
    QTableView *runView_ = nullptr;
    OutcomeWidth *sensorOutcome_ = nullptr;
    OutcomeWidth *runOutcome_ = nullptr;
    DriftChart *chart_ = nullptr;
    QLabel *databaseLabel_ = nullptr;
    QLabel *problem_ = nullptr; // shown while the history cannot be read
    QSplitter *top_ = nullptr;  // the sensor list beside the chart
    std::shared_ptr<Clock> clock_;
    QString lastFolder_; // the folder the operator last chose in a file dialog
    std::unique_ptr<FileDialogs> fileDialogs_;

    QAction *importAction_ = nullptr;
    QAction *exportSensorAction_ = nullptr;
    QAction *exportAllAction_ = nullptr;
    QAction *printAction_ = nullptr;
    QAction *dueReportAction_ = nullptr;
    QAction *reloadAction_ = nullptr;
    QAction *revisionsAction_ = nullptr;
    QAction *setTypeAction_ = nullptr;
    QAction *retireAction_ = nullptr;
    QAction *reinstateAction_ = nullptr;
    QAction *intervalAction_ = nullptr;
    QAction *applySuggestedAction_ = nullptr;
    QAction *certificateAction_ = nullptr;
    QAction *signAction_ = nullptr;
    Run typeRun_; // the run whose type is being asked for
    QAction *standardsAction_ = nullptr;
    QAction *stationStandardAction_ = nullptr;
    // The register's standards, read with every refresh of the sensors.
    StandardRevisions standards_;
    bool standardsRead_ = false;
    StandardsDialog *standardsDialog_ = nullptr; // while it is open
};

} // namespace history
