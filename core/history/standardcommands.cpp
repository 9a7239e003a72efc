#include "core/history/standardcommands.h"

#include "core/history/location.h"
#include "core/history/showntext.h"
#include "core/history/store.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
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

QDate dateFrom(const QString &text)
{
    return QDate::fromString(text.trimmed(), QLatin1String(kStandardDateFormat));
}

QString dateText(const QDate &date)
{
    return date.toString(QLatin1String(kStandardDateFormat));
}

int addStandard(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    const Standard &standard = command.standard;
    const QString serial = shown(standard.serialNumber);
    const QString refusal = standardRefusal(standard, QDate::currentDate());
    if (!refusal.isEmpty()) {
        err << tr("%1: %2").arg(tr("Standard %1 was not stored").arg(serial), shown(refusal))
            << Qt::endl;
        return kExitFindings;
    }
    const RegisterChange change = storeStandard(store, standard);
    return reportChange(
        change,
        tr("Standard %1 stored (revision %2), due on %3.")
            .arg(serial, QString::number(change.revision), dateText(standard.dueOn)),
        tr("Standard %1 was not stored").arg(serial), out, err);
}

int withdraw(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    const QString serial = shown(command.path);
    const RegisterChange change = withdrawStandard(store, command.path);
    return reportChange(
        change,
        tr("Standard %1 withdrawn (revision %2).").arg(serial, QString::number(change.revision)),
        tr("Standard %1 was not withdrawn").arg(serial), out, err);
}

// One line a standard: serial, kind, certificate, calibrated, due, its
// state, and who stored its newest revision where and when.
int listStandards(const Store &store, QTextStream &out, QTextStream &err)
{
    QHash<QString, Standard> newest;
    QString error;
    if (!standards(store, &newest, &error)) {
        err << tr("The history could not be read: %1").arg(shown(error)) << Qt::endl;
        return kExitUnusable;
    }
    QList<Standard> listed = newest.values();
    std::sort(listed.begin(), listed.end(),
              [](const Standard &a, const Standard &b) { return a.serialNumber < b.serialNumber; });
    const QDate today = QDate::currentDate();
    int overdue = 0;
    for (const Standard &s : std::as_const(listed)) {
        QString state;
        if (s.withdrawn) {
            state = tr("withdrawn");
        } else if (!s.dueOn.isValid() || s.dueOn < today) {
            state = tr("overdue");
            ++overdue;
        }
        out << shown(s.serialNumber) << '\t' << s.tipKind << '\t' << shown(s.certificateNumber)
            << '\t' << dateText(s.calibratedOn) << '\t' << dateText(s.dueOn) << '\t' << state
            << '\t' << s.revision << '\t' << shown(s.stamp.recordedBy) << '\t'
            << shown(s.stamp.station) << '\t' << s.stamp.recordedAt.toUTC().toString(Qt::ISODate)
            << '\n';
    }
    out.flush();
    if (overdue > 0)
        err << tr("Standards overdue: %1").arg(overdue) << Qt::endl;
    return overdue > 0 ? kExitFindings : kExitWell;
}

int nameStationStandard(const Command &command, const Store &store, QTextStream &out,
                        QTextStream &err)
{
    const QString serial = command.path.trimmed();
    if (!serial.isEmpty()) {
        QHash<QString, Standard> newest;
        QString error;
        if (!standards(store, &newest, &error)) {
            err << tr("The history could not be read: %1").arg(shown(error)) << Qt::endl;
            return kExitUnusable;
        }
        const auto found = newest.constFind(serial);
        const QString refusal =
            found == newest.constEnd()
                ? tr("the register has no standard %1").arg(shown(serial))
                : (found->withdrawn ? tr("standard %1 is withdrawn").arg(shown(serial))
                                    : QString());
        if (!refusal.isEmpty()) {
            err << tr("The station's standard was not set: %1").arg(refusal) << Qt::endl;
            return kExitFindings;
        }
    }
    QString error;
    if (!setStationStandard(settingsFile(), serial, &error)) {
        err << tr("The station's standard was not set: %1").arg(shown(error)) << Qt::endl;
        return kExitUnusable;
    }
    if (serial.isEmpty())
        out << tr("This station names no standard now.") << Qt::endl;
    else
        out << tr("This station's standard is %1 now.").arg(shown(serial)) << Qt::endl;
    return kExitWell;
}

} // namespace

void addStandardOptions(QCommandLineParser &parser)
{
    parser.addOption({QLatin1String(kAddStandardOption),
                      tr("Register a reference standard (verification tip), or its new "
                         "calibration as its next revision; with --tip-kind, "
                         "--standard-certificate, --calibrated-on and --due-on."),
                      tr("SERIAL")});
    parser.addOption({QLatin1String(kTipKindOption),
                      tr("With --add-standard: the tip kind, 1, 2 or 3."), tr("N")});
    parser.addOption({QLatin1String(kStandardCertificateOption),
                      tr("With --add-standard: the number of the standard's own certificate."),
                      tr("NUMBER")});
    parser.addOption({QLatin1String(kCalibratedOnOption),
                      tr("With --add-standard: the day it was calibrated (yyyy-MM-dd)."),
                      tr("DATE")});
    parser.addOption({QLatin1String(kDueOnOption),
                      tr("With --add-standard: the day it is due again (yyyy-MM-dd)."),
                      tr("DATE")});
    parser.addOption({QLatin1String(kWithdrawStandardOption),
                      tr("Withdraw a reference standard, as its next revision."), tr("SERIAL")});
    parser.addOption({QLatin1String(kStandardsOption),
                      tr("List the reference standards: serial, tip kind, certificate, "
                         "calibrated, due, overdue or withdrawn, revision, and who stored it "
                         "where and when.")});
    parser.addOption({QLatin1String(kStationStandardOption),
                      tr("Name the registered standard this station uses (\"\" for none); "
                         "every run recorded here names it."),
                      tr("SERIAL")});
}

bool standardCommandFrom(const QCommandLineParser &parser, Command *command, QString *error)
{
    const bool adding = command->action == Command::Action::AddStandard;
    const char *companions[] = {kTipKindOption, kStandardCertificateOption, kCalibratedOnOption,
                                kDueOnOption};
    QStringList missing;
    for (const char *option : companions) {
        const bool given = parser.isSet(QLatin1String(option));
        if (given && !adding) {
            *error = tr("%1 goes with %2").arg(dashed(option), dashed(kAddStandardOption));
            return false;
        }
        if (!given && adding)
            missing << dashed(option);
    }
    if (!missing.isEmpty()) {
        *error =
            tr("%1 needs %2").arg(dashed(kAddStandardOption), missing.join(QLatin1String(", ")));
        return false;
    }
    const bool serialNeeded = adding || command->action == Command::Action::WithdrawStandard;
    if (serialNeeded && command->path.trimmed().isEmpty()) {
        *error = tr("%1 needs a serial number")
                     .arg(dashed(adding ? kAddStandardOption : kWithdrawStandardOption));
        return false;
    }
    if (!adding)
        return true;
    Standard &standard = command->standard;
    standard.serialNumber = command->path;
    bool number = false;
    standard.tipKind = parser.value(QLatin1String(kTipKindOption)).trimmed().toInt(&number);
    if (!number)
        standard.tipKind = 0;
    standard.certificateNumber = parser.value(QLatin1String(kStandardCertificateOption));
    standard.calibratedOn = dateFrom(parser.value(QLatin1String(kCalibratedOnOption)));
    standard.dueOn = dateFrom(parser.value(QLatin1String(kDueOnOption)));
    return true;
}

int runStandardCommand(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    switch (command.action) {
    case Command::Action::AddStandard:
        return addStandard(command, store, out, err);
    case Command::Action::WithdrawStandard:
        return withdraw(command, store, out, err);
    case Command::Action::Standards:
        return listStandards(store, out, err);
    case Command::Action::StationStandard:
        return nameStationStandard(command, store, out, err);
    default:
        break;
    }
    return kExitUnusable;
}

} // namespace history
