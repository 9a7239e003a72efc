#include "core/history/commands.h"

#include "core/history/certificate.h"
#include "core/history/csvfile.h"
#include "core/history/duereport.h"
#include "core/history/importer.h"
#include "core/history/pendingfiles.h"
#include "core/history/sensorcommands.h"
#include "core/history/showntext.h"
#include "core/history/standardcommands.h"
#include "core/history/store.h"
#include "core/history/verifier.h"
#include "core/history/writer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::Commands", text);
}

bool openStore(Store &store, QTextStream &err)
{
    QString error;
    if (store.open(&error))
        return true;
    err << tr("The history could not be opened: %1").arg(shown(error)) << Qt::endl;
    return false;
}

bool isFolder(const QString &path, QTextStream &err)
{
    if (QFileInfo(path).isDir())
        return true;
    err << tr("Not a folder: %1").arg(shown(path)) << Qt::endl;
    return false;
}

int importFolder(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    ImportRules rules;
    rules.training = command.training;
    const ImportResult result = importRecordFiles(store, recordFilesUnder(command.path), rules);
    for (const ImportResult::Refused &r : result.refused)
        err << shown(r.path) << ": " << shown(r.reason) << Qt::endl;
    if (!result.failure.isEmpty()) {
        err << shown(importStopped(result)) << Qt::endl;
        return kExitUnusable;
    }
    // Not a fault: the history keeps the name it met first.
    for (const ImportResult::Copy &copy : result.copies)
        out << tr("%1: a copy of %2, which the history holds")
                   .arg(shown(copy.path), shown(copy.recorded))
            << '\n';
    out << importSummary(result) << Qt::endl;
    return result.refused.isEmpty() ? kExitWell : kExitFindings;
}

int exportCsv(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    QString readError;
    const QList<Run> runs = command.sensor.isEmpty() ? store.allRuns(&readError)
                                                     : store.runsOf(command.sensor, &readError);
    StandardRevisions register_;
    if (readError.isEmpty())
        standardRevisions(store, &register_, &readError);
    if (!readError.isEmpty()) {
        err << tr("The history could not be read: %1").arg(shown(readError)) << Qt::endl;
        return kExitUnusable;
    }
    if (!command.sensor.isEmpty() && runs.isEmpty()) {
        err << tr("No runs of sensor %1 in the history: nothing written.")
                   .arg(shown(command.sensor))
            << Qt::endl;
        return kExitFindings;
    }
    QList<Run> matching;
    std::copy_if(runs.cbegin(), runs.cend(), std::back_inserter(matching),
                 [&](const Run &run) { return command.filter.matches(run); });
    QString writeError;
    if (!writeCsvFile(matching, register_, command.path, &writeError)) {
        err << tr("%1 could not be written: %2").arg(shown(command.path), shown(writeError))
            << Qt::endl;
        return kExitFindings;
    }
    out << tr("Runs exported: %1 to %2").arg(matching.size()).arg(shown(command.path)) << Qt::endl;
    return kExitWell;
}

int verifyFolder(const Command &command, const Store &store, QTextStream &out, QTextStream &err)
{
    const Verification result = verifyRecordFiles(store, command.path);
    if (!result.ok) {
        err << shown(result.error) << Qt::endl;
        return kExitUnusable;
    }
    using State = VerifiedFile::State;
    for (const VerifiedFile &file : result.files) {
        switch (file.state) {
        case State::Unchanged:
            break;
        case State::Altered:
            err << tr("altered: %1").arg(shown(file.path)) << Qt::endl;
            break;
        case State::Replaced:
            err << tr("replaced by another run's record: %1").arg(shown(file.path)) << Qt::endl;
            break;
        case State::Copy:
            out << tr("copy: %1").arg(shown(file.path)) << Qt::endl;
            break;
        case State::NotInHistory:
            err << tr("not in the history: %1").arg(shown(file.path)) << Qt::endl;
            break;
        case State::Unreadable:
            err << tr("cannot be read: %1: %2").arg(shown(file.path), shown(file.reason))
                << Qt::endl;
            break;
        }
    }
    for (const QString &path : result.missing)
        err << tr("missing: %1").arg(shown(path)) << Qt::endl;
    out << tr("Unchanged: %1").arg(result.count(State::Unchanged)) << '\n'
        << tr("Altered: %1").arg(result.count(State::Altered)) << '\n'
        << tr("Replaced: %1").arg(result.count(State::Replaced)) << '\n'
        << tr("Copies: %1").arg(result.count(State::Copy)) << '\n'
        << tr("Not in the history: %1").arg(result.count(State::NotInHistory)) << '\n'
        << tr("Unreadable: %1").arg(result.count(State::Unreadable)) << '\n'
        << tr("Missing: %1").arg(result.missing.size()) << Qt::endl;
    return result.allWell() ? kExitWell : kExitFindings;
}

int listDue(const Command &command, const Store &store, QTextStream &out, QTextStream &err)
{
    const QDate today = QDate::currentDate();
    const QDate before = today.addDays(command.days);
    struct Due {
        QDate date;
        SensorSummary sensor;
    };
    QList<Due> due;
    for (const SensorSummary &sensor : store.sensors()) {
        const QDate date = nextDue(sensor, today);
        // None without a serial number or a known type, or retired: never listed.
        if (date.isValid() && date < before)
            due.append({date, sensor});
    }
    std::sort(due.begin(), due.end(), [](const Due &a, const Due &b) {
        return a.date != b.date ? a.date < b.date : a.sensor.serialNumber < b.sensor.serialNumber;
    });
    int overdueCount = 0;
    for (const Due &d : due) {
        out << shown(d.sensor.serialNumber) << '\t' << shown(d.sensor.sensorType) << '\t'
            << d.date.toString(Qt::ISODate);
        if (d.date < today) {
            out << '\t' << tr("overdue");
            ++overdueCount;
        }
        out << '\n';
    }
    out.flush();
    if (overdueCount > 0)
        err << tr("Sensors overdue: %1").arg(overdueCount) << Qt::endl;
    return overdueCount > 0 ? kExitFindings : kExitWell;
}

int writeReport(const Command &command, const Store &store, QTextStream &out, QTextStream &err)
{
    DueReport report;
    QString error;
    if (!readDueReport(store, QDate::currentDate(), command.days, command.training, &report,
                       &error)) {
        err << shown(error) << Qt::endl;
        return kExitUnusable;
    }
    if (!writeDueReport(report, command.path, &error)) {
        err << tr("%1 could not be written: %2").arg(shown(command.path), shown(error)) << Qt::endl;
        return kExitUnusable;
    }
    out << tr("Due report written to %1: overdue %2, due within %3 days %4, out of tolerance %5, "
              "standards due %6")
               .arg(shown(command.path))
               .arg(report.overdue.size())
               .arg(command.days)
               .arg(report.dueSoon.size())
               .arg(report.outOfTolerance.size())
               .arg(report.standards.size())
        << Qt::endl;
    if (!report.needsAction())
        return kExitWell;
    err << tr("Overdue: %1, out of tolerance: %2, standards overdue: %3")
               .arg(report.overdue.size())
               .arg(report.outOfTolerance.size())
               .arg(report.standardsOverdue())
        << Qt::endl;
    return kExitFindings;
}

// The filter of --export-csv from its options; false with a reason.
bool filterFrom(const QCommandLineParser &parser, RunFilter *filter, QString *error)
{
    const char *dates[] = {kFromOption, kToOption};
    for (const char *option : dates) {
        if (!parser.isSet(QLatin1String(option)))
            continue;
        const QString text = parser.value(QLatin1String(option));
        const QDate date = filterDate(text);
        if (!date.isValid()) {
            *error = tr("%1 takes a date as %2, not '%3'")
                         .arg(dashed(option), QLatin1String(kFilterDateFormat), shown(text));
            return false;
        }
        (option == dates[0] ? filter->from : filter->to) = date;
    }
    if (filter->from.isValid() && filter->to.isValid() && filter->from > filter->to) {
        *error = tr("%1 is after %2").arg(dashed(kFromOption), dashed(kToOption));
        return false;
    }
    const QPair<const char *, QString *> names[] = {{kStationOption, &filter->station},
                                                    {kOperatorOption, &filter->operatorName}};
    for (const auto &name : names) {
        if (!parser.isSet(QLatin1String(name.first)))
            continue;
        *name.second = parser.value(QLatin1String(name.first));
        if (name.second->trimmed().isEmpty()) {
            *error = tr("%1 needs a name").arg(dashed(name.first));
            return false;
        }
    }
    if (parser.isSet(QLatin1String(kOutcomeOption))) {
        const QString text = parser.value(QLatin1String(kOutcomeOption));
        filter->outcome = outcomeFromName(text);
        if (!filter->outcome) {
            QStringList known;
            for (int o = int(Outcome::Interrupted); o <= int(Outcome::NoResponse); ++o)
                known << outcomeName(Outcome(o));
            *error = tr("%1 takes one of %2, not '%3'")
                         .arg(dashed(kOutcomeOption), known.join(QLatin1String(", ")), shown(text));
            return false;
        }
    }
    return true;
}

int setType(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    const TypeChange change = store.setRunType(command.runKey, command.sensorType);
    switch (change.kind) {
    case TypeChange::Set:
        out << tr("Run %1 is of type %2 now (revision %3).")
                   .arg(shown(command.runKey), shown(command.sensorType))
                   .arg(change.revision)
            << Qt::endl;
        return kExitWell;
    case TypeChange::Refused:
        err << tr("The type of run %1 was not set: %2")
                   .arg(shown(command.runKey), shown(change.reason))
            << Qt::endl;
        return kExitFindings;
    case TypeChange::Failed:
        break;
    }
    err << tr("The history could not be written: %1").arg(shown(change.reason)) << Qt::endl;
    return kExitUnusable;
}

// The run --certificate or --sign names: that of --run, which must be of
// the sensor named, or the sensor's newest that `fits`. False with the
// reason on `err` and the exit status in *status.
bool chosenRun(const Command &command, const Store &store, bool (*fits)(const Run &), Run *chosen,
               QTextStream &err, int *status)
{
    QString error;
    *status = kExitFindings;
    if (!command.runKey.isEmpty()) {
        const QList<Run> revisions = store.revisionsOf(command.runKey, &error);
        if (error.isEmpty() && revisions.isEmpty())
            error = tr("no run has the key %1").arg(shown(command.runKey));
        else if (error.isEmpty() && (revisions.last().serialNumber != command.serialNumber ||
                                     (!command.sensorType.isEmpty() &&
                                      revisions.last().sensorType != command.sensorType)))
            error = tr("run %1 is not one of sensor %2")
                        .arg(shown(command.runKey), shown(command.serialNumber));
        else if (!revisions.isEmpty())
            *chosen = revisions.last();
        else
            *status = kExitUnusable;
        if (!error.isEmpty())
            err << shown(error) << Qt::endl;
        return error.isEmpty();
    }
    const QList<Run> runs = command.sensorType.isEmpty()
                                ? store.runsOf(command.serialNumber, &error)
                                : store.runsOf(command.serialNumber, command.sensorType, &error);
    if (!error.isEmpty()) {
        err << tr("The history could not be read: %1").arg(shown(error)) << Qt::endl;
        *status = kExitUnusable;
        return false;
    }
    QStringList types;
    for (const Run &run : runs) {
        if (!types.contains(run.sensorType))
            types << run.sensorType;
    }
    if (types.size() > 1) {
        err << tr("Sensor %1 is known under several types (%2): name one with %3")
                   .arg(shown(command.serialNumber), shown(types.join(QLatin1String(", "))),
                        dashed(kSensorTypeOption))
            << Qt::endl;
        return false;
    }
    for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
        if (fits(*run)) {
            *chosen = *run;
            return true;
        }
    }
    err << (runs.isEmpty() ? tr("No runs of sensor %1 in the history.")
                           : tr("Sensor %1 has no run that may have it."))
               .arg(shown(command.serialNumber))
        << Qt::endl;
    return false;
}

int issueCertificate(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    int status = kExitFindings;
    Run run;
    if (!chosenRun(command, store, certifiable, &run, err, &status))
        return status;
    if (!QFileInfo(command.path).absoluteDir().exists()) {
        err << tr("%1 could not be written: no such folder").arg(shown(command.path)) << Qt::endl;
        return kExitFindings;
    }
    const CertificateIssue issue = certificateFor(store, run.key, command.training);
    const Certificate &certificate = issue.certificate;
    switch (issue.kind) {
    case CertificateIssue::Failed:
        err << tr("The history could not be written: %1").arg(shown(issue.reason)) << Qt::endl;
        return kExitUnusable;
    case CertificateIssue::Refused:
        err << tr("No certificate for run %1: %2").arg(shown(run.key), shown(issue.reason))
            << Qt::endl;
        return kExitFindings;
    case CertificateIssue::Issued:
    case CertificateIssue::PrintedAgain:
        break;
    }
    QString error;
    if (!writeCertificatePdf(certificate.content, command.path, &error)) {
        err << tr("%1 could not be written: %2 (certificate %3 stands; asked again, it is "
                  "printed again)")
                   .arg(shown(command.path), shown(error), certificate.number)
            << Qt::endl;
        return kExitFindings;
    }
    if (issue.kind == CertificateIssue::PrintedAgain)
        out << tr("Certificate %1 of run %2 printed again to %3")
                   .arg(certificate.number, shown(run.key), shown(command.path));
    else if (certificate.replaces.isEmpty())
        out << tr("Certificate %1 of run %2 issued to %3")
                   .arg(certificate.number, shown(run.key), shown(command.path));
    else
        out << tr("Certificate %1 of run %2 issued to %3, replacing %4")
                   .arg(certificate.number, shown(run.key), shown(command.path),
                        certificate.replaces);
    out << Qt::endl;
    return kExitWell;
}

int signOff(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    int status = kExitFindings;
    Run run;
    if (!chosenRun(command, store, signable, &run, err, &status))
        return status;
    QString signer;
    const RegisterChange change = signRun(store, run.key, command.value, &signer);
    return reportChange(
        change,
        tr("Run %1 (revision %2) signed %3 by %4.")
            .arg(shown(run.key), QString::number(change.revision), command.value, shown(signer)),
        tr("Run %1 was not signed").arg(shown(run.key)), out, err);
}

int setRegister(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    const bool rule = command.action == Command::Action::ApproverRule;
    const QString option = dashed(rule ? kApproverRuleOption : kWorkshopNameOption);
    const RegisterChange change = storeRegisterSetting(
        store, QLatin1String(rule ? kApproverNotOperatorSetting : kWorkshopNameSetting),
        command.value);
    return reportChange(change,
                        tr("Set %1 %2 (revision %3).")
                            .arg(option, shown(command.value), QString::number(change.revision)),
                        tr("%1 was not set").arg(option), out, err);
}

} // namespace

QString dashed(const char *option)
{
    return QLatin1String("--") + QLatin1String(option);
}

int reportChange(const RegisterChange &change, const QString &done, const QString &notDone,
                 QTextStream &out, QTextStream &err)
{
    switch (change.kind) {
    case RegisterChange::Done:
        if (!done.isEmpty())
            out << done << Qt::endl;
        return kExitWell;
    case RegisterChange::Refused:
        err << tr("%1: %2").arg(notDone, shown(change.reason)) << Qt::endl;
        return kExitFindings;
    case RegisterChange::Failed:
        break;
    }
    err << tr("The history could not be written: %1").arg(shown(change.reason)) << Qt::endl;
    return kExitUnusable;
}

void addCommandOptions(QCommandLineParser &parser)
{
    parser.addOption({QLatin1String(kImportOption),
                      tr("Import the calibration record files under FOLDER, without a window."),
                      tr("FOLDER")});
    parser.addOption({QLatin1String(kExportOption),
                      tr("Export the runs of every sensor (or of --sensor) to a CSV file."),
                      tr("FILE")});
    parser.addOption({QLatin1String(kSensorOption),
                      tr("With --export-csv: only the runs of this sensor; with "
                         "--set-interval: the sensor whose interval is set."),
                      tr("SERIAL")});
    parser.addOption({QLatin1String(kVerifyOption),
                      tr("Check the record files under FOLDER against the history, by the run "
                         "each names: unchanged, altered, replaced, copies, not in it, and "
                         "recorded files that are missing."),
                      tr("FOLDER")});
    parser.addOption({QLatin1String(kDueOption),
                      tr("List the sensors overdue, or with DAYS also those due within DAYS "
                         "days (DAYS after the option; 0 by default).")});
    parser.addOption({QLatin1String(kDueReportOption),
                      tr("Write the due report of the next DAYS days (DAYS after FILE; %1 "
                         "by default) to FILE, as PDF or CSV by its extension: the sensors "
                         "overdue, due within DAYS, out of tolerance, and the reference "
                         "standards due.")
                          .arg(kDefaultDueReportDays),
                      tr("FILE")});
    parser.addOption({QLatin1String(kFromOption),
                      tr("With --export-csv: only the runs of this day (yyyy-MM-dd) or later."),
                      tr("DATE")});
    parser.addOption({QLatin1String(kToOption),
                      tr("With --export-csv: only the runs of this day or earlier."), tr("DATE")});
    parser.addOption({QLatin1String(kStationOption),
                      tr("With --export-csv: only the runs recorded by this station."),
                      tr("NAME")});
    parser.addOption({QLatin1String(kOperatorOption),
                      tr("With --export-csv: only the runs of this operator."), tr("NAME")});
    parser.addOption({QLatin1String(kOutcomeOption),
                      tr("With --export-csv: only the runs that ended so, by the name the export "
                         "gives it (validated-date-set, recalibrated, ...)."),
                      tr("NAME")});
    parser.addOption({QLatin1String(kSetTypeOption),
                      tr("Give the run of --run this sensor type, as a new revision of it."),
                      tr("TYPE")});
    parser.addOption({QLatin1String(kRunOption),
                      tr("With --set-type, --certificate or --sign: the run, by its key (as the "
                         "CSV export shows it)."),
                      tr("KEY")});
    addSensorOptions(parser);
    parser.addOption({QLatin1String(kCertificateOption),
                      tr("Print the certificate of the sensor's newest run that ended validated, "
                         "recalibrated or abandoned (or of --run) to the PDF of --output: the "
                         "one issued before when neither the run nor its signatures changed "
                         "since, else a new one that names the one it replaces."),
                      tr("SERIAL")});
    parser.addOption({QLatin1String(kOutputOption), tr("With --certificate: the PDF file written."),
                      tr("FILE")});
    parser.addOption({QLatin1String(kSignOption),
                      tr("Sign the sensor's newest ended run (or --run) off, with --meaning; the "
                         "database names the signer."),
                      tr("SERIAL")});
    parser.addOption(
        {QLatin1String(kMeaningOption), tr("With --sign: reviewed or approved."), tr("MEANING")});
    parser.addOption({QLatin1String(kApproverRuleOption),
                      tr("on: whoever operated a run may not approve it; off: they may."),
                      tr("on|off")});
    parser.addOption({QLatin1String(kWorkshopNameOption),
                      tr("The workshop's name, printed on its certificates."), tr("TEXT")});
    addStandardOptions(parser);
}

bool asksForCommand(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        QList<const char *> options{
            kImportOption,  kExportOption,   kSensorOption,       kVerifyOption,      kDueOption,
            kSetTypeOption, kRunOption,      kDueReportOption,    kFromOption,        kToOption,
            kStationOption, kOperatorOption, kOutcomeOption,      kCertificateOption, kOutputOption,
            kSignOption,    kMeaningOption,  kApproverRuleOption, kWorkshopNameOption};
        options << sensorOptions();
        for (const char *option : kStandardOptions)
            options << option;
        for (const char *option : std::as_const(options)) {
            const QString name = dashed(option);
            if (argument == name || argument.startsWith(name + QLatin1Char('=')))
                return true;
        }
    }
    return false;
}

bool commandFrom(const QCommandLineParser &parser, bool training, Command *command, QString *error)
{
    struct Choice {
        const char *option;
        Command::Action action;
    };
    const Choice choices[] = {
        {kImportOption, Command::Action::Import},
        {kExportOption, Command::Action::ExportCsv},
        {kVerifyOption, Command::Action::Verify},
        {kDueOption, Command::Action::Due},
        {kSetTypeOption, Command::Action::SetType},
        {kRetireOption, Command::Action::Retire},
        {kReinstateOption, Command::Action::Reinstate},
        {kSetIntervalOption, Command::Action::SetInterval},
        {kIntervalsOption, Command::Action::Intervals},
        {kApplySuggestedOption, Command::Action::ApplySuggested},
        {kDueReportOption, Command::Action::DueReport},
        {kCertificateOption, Command::Action::Certificate},
        {kSignOption, Command::Action::Sign},
        {kApproverRuleOption, Command::Action::ApproverRule},
        {kWorkshopNameOption, Command::Action::WorkshopName},
        {kAddStandardOption, Command::Action::AddStandard},
        {kWithdrawStandardOption, Command::Action::WithdrawStandard},
        {kStandardsOption, Command::Action::Standards},
        {kStationStandardOption, Command::Action::StationStandard},
    };
    Command result;
    result.training = training;
    QStringList given;
    for (const Choice &choice : choices) {
        if (parser.isSet(QLatin1String(choice.option))) {
            given << dashed(choice.option);
            result.action = choice.action;
            if (choice.action != Command::Action::Due)
                result.path = parser.value(QLatin1String(choice.option));
        }
    }
    if (given.size() > 1) {
        *error = tr("one action at a time, not %1").arg(given.join(QLatin1String(" and ")));
        return false;
    }
    const bool runGiven = parser.isSet(QLatin1String(kRunOption));
    const bool ofRun =
        result.action == Command::Action::Certificate || result.action == Command::Action::Sign;
    // Each option that goes with some actions only, and the words that say so.
    const struct {
        const char *option;
        bool fits;
        QString partners;
    } companions[] = {
        {kOutputOption, result.action == Command::Action::Certificate, dashed(kCertificateOption)},
        {kMeaningOption, result.action == Command::Action::Sign, dashed(kSignOption)},
        {kSensorTypeOption, ofRun || isSensorAction(result.action),
         tr("%1, %2 or an action on a sensor, such as %3")
             .arg(dashed(kCertificateOption), dashed(kSignOption), dashed(kSetIntervalOption))},
    };
    for (const auto &companion : companions) {
        if (parser.isSet(QLatin1String(companion.option)) && !companion.fits) {
            *error = tr("%1 goes with %2").arg(dashed(companion.option), companion.partners);
            return false;
        }
    }
    if (given.isEmpty() || (runGiven && result.action != Command::Action::SetType && !ofRun)) {
        *error = runGiven ? tr("%1 goes with %2, %3 or %4")
                                .arg(dashed(kRunOption), dashed(kSetTypeOption),
                                     dashed(kCertificateOption), dashed(kSignOption))
                          : tr("%1 goes with %2").arg(dashed(kSensorOption), dashed(kExportOption));
        if (given.isEmpty() && parser.isSet(QLatin1String(kReasonOption)))
            *error = tr("%1 goes with %2").arg(dashed(kReasonOption), dashed(kRetireOption));
        else if (given.isEmpty() && parser.isSet(QLatin1String(kSensorTypeOption)))
            *error = tr("%1 goes with an action on a sensor, such as %2")
                         .arg(dashed(kSensorTypeOption), dashed(kSetIntervalOption));
        return false;
    }
    if (isSensorAction(result.action)) {
        result.path.clear();
        if (!sensorCommandFrom(parser, &result, error))
            return false;
    } else if (ofRun) {
        result.serialNumber = result.path.trimmed();
        result.runKey = parser.value(QLatin1String(kRunOption));
        result.sensorType = parser.value(QLatin1String(kSensorTypeOption));
        const bool certificate = result.action == Command::Action::Certificate;
        result.path = certificate ? parser.value(QLatin1String(kOutputOption)) : QString();
        result.value = certificate ? QString() : parser.value(QLatin1String(kMeaningOption));
        if (result.serialNumber.isEmpty() || (runGiven && result.runKey.isEmpty())) {
            *error = tr("%1 needs a serial number").arg(given.first());
            return false;
        }
        if (certificate && result.path.isEmpty()) {
            *error = tr("%1 needs %2 FILE.pdf").arg(given.first(), dashed(kOutputOption));
            return false;
        }
        if (!certificate && result.value != QLatin1String(kMeaningReviewed) &&
            result.value != QLatin1String(kMeaningApproved)) {
            *error = tr("%1 needs %2 %3 or %4")
                         .arg(given.first(), dashed(kMeaningOption),
                              QLatin1String(kMeaningReviewed), QLatin1String(kMeaningApproved));
            return false;
        }
    } else if (result.action == Command::Action::ApproverRule ||
               result.action == Command::Action::WorkshopName) {
        result.value = result.path;
        result.path.clear();
        const QString refusal =
            result.action == Command::Action::WorkshopName
                ? workshopNameRefusal(result.value)
                : (result.value == QLatin1String(kSettingOn) ||
                           result.value == QLatin1String(kSettingOff)
                       ? QString()
                       : tr("%1 takes %2 or %3, not '%4'")
                             .arg(given.first(), QLatin1String(kSettingOn),
                                  QLatin1String(kSettingOff), shown(result.value)));
        if (!refusal.isEmpty()) {
            *error = refusal;
            return false;
        }
    } else if (parser.isSet(QLatin1String(kReasonOption)) ||
               parser.isSet(QLatin1String(kSensorTypeOption))) {
        *error = tr("%1 goes with %2")
                     .arg(dashed(parser.isSet(QLatin1String(kReasonOption)) ? kReasonOption
                                                                            : kSensorTypeOption),
                          dashed(parser.isSet(QLatin1String(kReasonOption)) ? kRetireOption
                                                                            : kSetIntervalOption));
        return false;
    } else if (result.action == Command::Action::SetType) {
        result.sensorType = result.path;
        result.path.clear();
        result.runKey = parser.value(QLatin1String(kRunOption));
        if (result.sensorType.isEmpty() || result.runKey.isEmpty()) {
            *error = tr("%1 needs a sensor type and %2 a run's key")
                         .arg(dashed(kSetTypeOption), dashed(kRunOption));
            return false;
        }
    } else if (!standardCommandFrom(parser, &result, error)) {
        return false;
    } else if (result.action != Command::Action::Due &&
               result.action != Command::Action::Standards &&
               result.action != Command::Action::StationStandard && result.path.isEmpty()) {
        *error = tr("%1 needs a path").arg(given.first());
        return false;
    }
    if (parser.isSet(QLatin1String(kSensorOption))) {
        if (result.action != Command::Action::ExportCsv &&
            result.action != Command::Action::SetInterval) {
            *error = tr("%1 goes with %2").arg(dashed(kSensorOption), dashed(kExportOption));
            return false;
        }
        result.sensor = parser.value(QLatin1String(kSensorOption)).trimmed();
        if (result.sensor.isEmpty()) {
            *error = tr("%1 needs a serial number").arg(dashed(kSensorOption));
            return false;
        }
    }

    for (const char *option :
         {kFromOption, kToOption, kStationOption, kOperatorOption, kOutcomeOption}) {
        if (parser.isSet(QLatin1String(option)) && result.action != Command::Action::ExportCsv) {
            *error = tr("%1 goes with %2").arg(dashed(option), dashed(kExportOption));
            return false;
        }
    }
    if (result.action == Command::Action::ExportCsv && !filterFrom(parser, &result.filter, error))
        return false;
    if (result.action == Command::Action::DueReport) {
        result.days = kDefaultDueReportDays;
        if (dueReportFormat(result.path) == DueReportFormat::Unknown) {
            *error = tr("%1 writes a .%2 or a .%3 file, not '%4'")
                         .arg(dashed(kDueReportOption), QLatin1String(kDueReportPdfSuffix),
                              QLatin1String(kDueReportCsvSuffix), shown(result.path));
            return false;
        }
    }

    const QStringList positional = parser.positionalArguments();
    const bool takesDays =
        result.action == Command::Action::Due || result.action == Command::Action::DueReport;
    if (takesDays && positional.size() == 1) {
        bool ok = false;
        result.days = positional.first().toInt(&ok);
        if (!ok || result.days < 0 || result.days > kMaxDueDays) {
            *error = tr("%1 takes a number of days from 0 to %2, not '%3'")
                         .arg(given.first())
                         .arg(kMaxDueDays)
                         .arg(shown(positional.first()));
            return false;
        }
    } else if (!positional.isEmpty()) {
        *error = tr("unexpected argument: '%1'").arg(shown(positional.last()));
        return false;
    }
    *command = result;
    return true;
}

namespace
{
// The runs waiting in the station's pending folder for this history go in
// first, as the window writes them on opening: a list or a check must not
// miss what the station recorded. What stays pending is counted in one line;
// false then.
bool writePendingFirst(Store &store, const QString &pendingFolder, bool training, QTextStream &err)
{
    const PendingWrite written =
        writePending(&store, pendingFolder, pendingRuns(pendingFolder, training));
    if (written.errors.isEmpty())
        return true;
    err << tr("Pending runs not written into the history, not counted here: %1 (%2)")
               .arg(written.errors.size())
               .arg(shown(written.errors.first()))
        << Qt::endl;
    return false;
}

int runAction(const Command &command, const Location &location, const QString &pendingFolder,
              QTextStream &out, QTextStream &err)
{
    if ((command.action == Command::Action::Import || command.action == Command::Action::Verify) &&
        !isFolder(command.path, err))
        return kExitUnusable;
    Store store(location);
    if (!openStore(store, err))
        return kExitUnusable;
    const bool writtenFirst = writePendingFirst(store, pendingFolder, command.training, err);
    int status = kExitUnusable;
    switch (command.action) {
    case Command::Action::Import:
        status = importFolder(command, store, out, err);
        break;
    case Command::Action::ExportCsv:
        status = exportCsv(command, store, out, err);
        break;
    case Command::Action::Verify:
        status = verifyFolder(command, store, out, err);
        break;
    case Command::Action::Due:
        status = listDue(command, store, out, err);
        break;
    case Command::Action::SetType:
        status = setType(command, store, out, err);
        break;
    case Command::Action::DueReport:
        status = writeReport(command, store, out, err);
        break;
    case Command::Action::Retire:
    case Command::Action::Reinstate:
    case Command::Action::SetInterval:
    case Command::Action::Intervals:
    case Command::Action::ApplySuggested:
        status = runSensorAction(command, store, out, err);
        break;
    case Command::Action::Certificate:
        status = issueCertificate(command, store, out, err);
        break;
    case Command::Action::Sign:
        status = signOff(command, store, out, err);
        break;
    case Command::Action::ApproverRule:
    case Command::Action::WorkshopName:
        status = setRegister(command, store, out, err);
        break;
    case Command::Action::AddStandard:
    case Command::Action::WithdrawStandard:
    case Command::Action::Standards:
    case Command::Action::StationStandard:
        status = runStandardCommand(command, store, out, err);
        break;
    case Command::Action::None:
        break;
    }
    return !writtenFirst && status == kExitWell ? kExitFindings : status;
}
} // namespace

int runCommand(const Command &command, const Location &location, const QString &pendingFolder,
               QTextStream &out, QTextStream &err)
{
    int status = runAction(command, location, pendingFolder, out, err);
    // Reading the folder sets aside what cannot be taken.
    pendingRuns(pendingFolder, command.training);
    const QList<DamagedFile> damaged = damagedPending(pendingFolder);
    for (const DamagedFile &file : damaged)
        err << tr("damaged pending run, kept aside: %1: %2")
                   .arg(shown(QDir::toNativeSeparators(file.path)), shown(file.reason))
            << Qt::endl;
    if (!damaged.isEmpty() && status == kExitWell)
        status = kExitFindings;
    return status;
}

} // namespace history
