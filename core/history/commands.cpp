#include "core/history/commands.h"

#include "core/history/csvfile.h"
#include "core/history/importer.h"
#include "core/history/pendingfiles.h"
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

QString dashed(const char *option)
{
    return QLatin1String("--") + QLatin1String(option);
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
    QString writeError;
    if (!writeCsvFile(runs, register_, command.path, &writeError)) {
        err << tr("%1 could not be written: %2").arg(shown(command.path), shown(writeError))
            << Qt::endl;
        return kExitFindings;
    }
    out << tr("Runs exported: %1 to %2").arg(runs.size()).arg(shown(command.path)) << Qt::endl;
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

int listDue(const Command &command, const Store &store, int intervalDays, QTextStream &out,
            QTextStream &err)
{
    const QDate today = QDate::currentDate();
    const QDate before = today.addDays(command.days);
    struct Due {
        QDate date;
        SensorSummary sensor;
    };
    QList<Due> due;
    for (const SensorSummary &sensor : store.sensors()) {
        const QDate date = nextDue(sensor, intervalDays, today);
        // None without a serial number or a known type: never listed.
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

} // namespace

void addCommandOptions(QCommandLineParser &parser)
{
    parser.addOption({QLatin1String(kImportOption),
                      tr("Import the calibration record files under FOLDER, without a window."),
                      tr("FOLDER")});
    parser.addOption({QLatin1String(kExportOption),
                      tr("Export the runs of every sensor (or of --sensor) to a CSV file."),
                      tr("FILE")});
    parser.addOption({QLatin1String(kSensorOption),
                      tr("With --export-csv: only the runs of this sensor."), tr("SERIAL")});
    parser.addOption({QLatin1String(kVerifyOption),
                      tr("Check the record files under FOLDER against the history, by the run "
                         "each names: unchanged, altered, replaced, copies, not in it, and "
                         "recorded files that are missing."),
                      tr("FOLDER")});
    parser.addOption({QLatin1String(kDueOption),
                      tr("List the sensors overdue, or with DAYS also those due within DAYS "
                         "days (DAYS after the option; 0 by default).")});
    parser.addOption({QLatin1String(kSetTypeOption),
                      tr("Give the run of --run this sensor type, as a new revision of it."),
                      tr("TYPE")});
    parser.addOption({QLatin1String(kRunOption),
                      tr("With --set-type: the run, by its key (as the CSV export shows it)."),
                      tr("KEY")});
    addStandardOptions(parser);
}

bool asksForCommand(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        QList<const char *> options{kImportOption, kExportOption,  kSensorOption, kVerifyOption,
                                    kDueOption,    kSetTypeOption, kRunOption};
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
    if (given.isEmpty() || (runGiven && result.action != Command::Action::SetType)) {
        *error = runGiven ? tr("%1 goes with %2").arg(dashed(kRunOption), dashed(kSetTypeOption))
                          : tr("%1 goes with %2").arg(dashed(kSensorOption), dashed(kExportOption));
        return false;
    }
    if (result.action == Command::Action::SetType) {
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
        if (result.action != Command::Action::ExportCsv) {
            *error = tr("%1 goes with %2").arg(dashed(kSensorOption), dashed(kExportOption));
            return false;
        }
        result.sensor = parser.value(QLatin1String(kSensorOption)).trimmed();
        if (result.sensor.isEmpty()) {
            *error = tr("%1 needs a serial number").arg(dashed(kSensorOption));
            return false;
        }
    }

    const QStringList positional = parser.positionalArguments();
    if (result.action == Command::Action::Due && positional.size() == 1) {
        bool ok = false;
        result.days = positional.first().toInt(&ok);
        if (!ok || result.days < 0 || result.days > kMaxDueDays) {
            *error = tr("%1 takes a number of days from 0 to %2, not '%3'")
                         .arg(dashed(kDueOption))
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
              int intervalDays, QTextStream &out, QTextStream &err)
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
        status = listDue(command, store, intervalDays, out, err);
        break;
    case Command::Action::SetType:
        status = setType(command, store, out, err);
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
               int intervalDays, QTextStream &out, QTextStream &err)
{
    int status = runAction(command, location, pendingFolder, intervalDays, out, err);
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
