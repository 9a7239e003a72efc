#pragma once

// Every history action from the command line, without a display: import
// record files, export runs to CSV, verify record files, list the sensors
// due, issue certificates and sign runs off. A summary on the standard output, reasons on the
// standard error, and an exit status a script can act on.

#include "core/history/location.h"
#include "core/history/register.h"
#include "core/history/runfilter.h"
#include "core/history/showntext.h"

#include <QString>

class QCommandLineParser;
class QTextStream;

namespace history
{

// Exit statuses.
inline constexpr int kExitWell = 0;
// Something refused, altered, replaced, missing or overdue.
inline constexpr int kExitFindings = 1;
// The history could not be opened or read, or the command line is wrong.
inline constexpr int kExitUnusable = 2;

// The options (without "--").
inline constexpr char kImportOption[] = "import";
inline constexpr char kExportOption[] = "export-csv";
inline constexpr char kSensorOption[] = "sensor";
inline constexpr char kVerifyOption[] = "verify";
inline constexpr char kDueOption[] = "due";
inline constexpr char kSetTypeOption[] = "set-type";
inline constexpr char kRunOption[] = "run";
inline constexpr char kDueReportOption[] = "due-report";
// With --export-csv: which runs.
inline constexpr char kFromOption[] = "from";
inline constexpr char kToOption[] = "to";
inline constexpr char kStationOption[] = "station";
inline constexpr char kOperatorOption[] = "operator";
inline constexpr char kOutcomeOption[] = "outcome";
inline constexpr char kRetireOption[] = "retire";
inline constexpr char kReasonOption[] = "reason";
inline constexpr char kReinstateOption[] = "reinstate";
inline constexpr char kSetIntervalOption[] = "set-interval";
inline constexpr char kSensorTypeOption[] = "sensor-type";
inline constexpr char kIntervalsOption[] = "intervals";
inline constexpr char kApplySuggestedOption[] = "apply-suggested-interval";
inline constexpr char kCertificateOption[] = "certificate";
inline constexpr char kOutputOption[] = "output";
inline constexpr char kSignOption[] = "sign";
inline constexpr char kMeaningOption[] = "meaning";
inline constexpr char kApproverRuleOption[] = "approver-not-operator";
inline constexpr char kWorkshopNameOption[] = "workshop-name";
// The most days ahead --due looks: a century.
inline constexpr int kMaxDueDays = 36500;

struct Command {
    enum class Action {
        None,
        Import,
        ExportCsv,
        Verify,
        Due,
        SetType,
        Retire,
        Reinstate,
        SetInterval,
        Intervals,
        ApplySuggested,
        DueReport,
        Certificate,
        Sign,
        ApproverRule,
        WorkshopName,
        AddStandard,
        WithdrawStandard,
        Standards,
        StationStandard,
    };
    Action action = Action::None;
    QString path;     // the folder, the CSV file or the report
    QString sensor;   // export one sensor only, when set
    RunFilter filter; // export only the runs it matches
    int days = 0;     // --due: also the sensors due within this many days; --due-report: the period
    bool training = false;

    QString sensorType; // --set-type: the type the run is given
    QString runKey;     // --set-type: the run, by its key; --certificate, --sign: if given

    // --retire, --reinstate, --set-interval, --apply-suggested-interval: the
    // sensor is `sensor`, of `sensorType` where its serial number has several
    // (--set-interval: the type's interval when no sensor is named).
    QString reason;       // --retire
    QString intervalText; // --set-interval, as given

    // --certificate and --sign: the sensor, by its serial number (and its
    // type, where the number has several); the PDF written; the meaning.
    // --approver-not-operator, --workshop-name: the value set.
    QString serialNumber;
    QString value;

    Standard standard; // --add-standard: as given (checked when it runs)
};

// An option as typed: "--" and its name.
QString dashed(const char *option);
// What a change to the register ends with: `done` (if any) on `out`, or
// `notDone` with the reason on `err`; the exit status.
int reportChange(const RegisterChange &change, const QString &done, const QString &notDone,
                 QTextStream &out, QTextStream &err);

// Adds --import, --export-csv (with --sensor, --from, --to, --station,
// --operator and --outcome), --verify, --due, --due-report, --set-type,
// --run, the sensors' and intervals' options, --certificate, --output,
// --sign, --meaning, --approver-not-operator and --workshop-name.
void addCommandOptions(QCommandLineParser &parser);

// True when the arguments (the program's name first) name one of those
// options: the program then runs without a window.
bool asksForCommand(const QStringList &arguments);

// The command a parsed command line gives; false with a reason when it is
// not one (two actions, --sensor alone, a bad number of days, ...).
bool commandFrom(const QCommandLineParser &parser, bool training, Command *command, QString *error);

// Runs the command on the history at that location; the exit status.
// The runs pending in `pendingFolder` for that history are written into it
// first; those that cannot be are counted on `err`. They, and pending files
// set aside as damaged (named on `err` after the action), make it end with
// kExitFindings at least.
int runCommand(const Command &command, const Location &location, const QString &pendingFolder,
               QTextStream &out, QTextStream &err);

} // namespace history
