#include "core/history/sensorcommands.h"

#include "core/history/intervals.h"
#include "core/history/register.h"
#include "core/history/runfields.h"
#include "core/history/showntext.h"
#include "core/history/store.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <tuple>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::Commands", text);
}

// "RT-5K-MQ 40317-20415"; the serial number alone when the type is not known.
QString sensorName(const SensorSummary &sensor)
{
    return sensor.sensorType.isEmpty() ? sensor.serialNumber
                                       : sensor.sensorType + u' ' + sensor.serialNumber;
}

// The sensor a command names; false with the status when it names none or
// several.
bool findSensor(const Command &command, const Store &store, SensorSummary *found, int *status,
                QTextStream &err)
{
    QString error;
    const QList<SensorSummary> sensors = store.sensors(&error);
    if (!error.isEmpty()) {
        err << tr("The history could not be read: %1").arg(shown(error)) << Qt::endl;
        *status = kExitUnusable;
        return false;
    }
    QList<SensorSummary> matches;
    QStringList types;
    for (const SensorSummary &sensor : sensors) {
        // Rows of runs whose type is unknown are no sensor of their own.
        if (sensor.serialNumber != command.sensor || sensor.typeUnknown)
            continue;
        types << sensor.sensorType;
        if (command.sensorType.isNull() || sensor.sensorType == command.sensorType)
            matches << sensor;
    }
    *status = kExitFindings;
    if (types.isEmpty()) {
        err << tr("No sensor %1 in the history.").arg(shown(command.sensor)) << Qt::endl;
        return false;
    }
    if (matches.isEmpty()) {
        err << tr("Sensor %1 is not known as type %2; its types: %3")
                   .arg(shown(command.sensor), shown(command.sensorType),
                        shown(types.join(QLatin1String(", "))))
            << Qt::endl;
        return false;
    }
    if (matches.size() > 1) {
        err << tr("Sensor %1 is known under several types (%2): name one with %3.")
                   .arg(shown(command.sensor), shown(types.join(QLatin1String(", "))),
                        dashed(kSensorTypeOption))
            << Qt::endl;
        return false;
    }
    *found = matches.first();
    return true;
}

int retireOrReinstate(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    const bool retire = command.action == Command::Action::Retire;
    const QString what = retire ? tr("Not retired") : tr("Not reinstated");
    const QString refusal = retire ? retireReasonRefusal(command.reason) : QString();
    if (!refusal.isEmpty()) {
        err << tr("%1: %2").arg(what, refusal) << Qt::endl;
        return kExitFindings;
    }
    SensorSummary sensor;
    int status = kExitWell;
    if (!findSensor(command, store, &sensor, &status, err))
        return status;
    const QString name = sensorName(sensor);
    const RegisterChange change =
        changeSensorState(store, sensor.serialNumber, sensor.sensorType, retire, command.reason);
    status = reportChange(change, QString(), tr("%1: sensor %2").arg(what, shown(name)), out, err);
    if (status == kExitWell)
        out << (retire ? tr("Sensor %1 is retired (revision %2).")
                       : tr("Sensor %1 is reinstated (revision %2)."))
                   .arg(shown(name))
                   .arg(change.revision)
            << Qt::endl;
    return status;
}

int setInterval(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    const QString what = tr("The interval was not set");
    int days = 0;
    QString refusal = intervalRefusal(command.intervalText, &days);
    if (refusal.isEmpty() && command.sensor.isEmpty())
        refusal = typeRefusal(command.sensorType);
    if (!refusal.isEmpty()) {
        err << tr("%1: %2").arg(what, shown(refusal)) << Qt::endl;
        return kExitFindings;
    }
    SensorSummary sensor;
    sensor.sensorType = command.sensorType;
    int status = kExitWell;
    if (!command.sensor.isEmpty() && !findSensor(command, store, &sensor, &status, err))
        return status;
    const RegisterChange change = storeInterval(store, sensor.serialNumber, sensor.sensorType, days,
                                                QLatin1String(kIntervalBasisSet));
    status = reportChange(change, QString(), what, out, err);
    if (status == kExitWell)
        out << (sensor.hasSerial() ? tr("Sensor %1: calibration interval %2 days (revision %3).")
                                         .arg(shown(sensorName(sensor)))
                                   : tr("Type %1: calibration interval %2 days (revision %3).")
                                         .arg(shown(sensor.sensorType)))
                   .arg(days)
                   .arg(change.revision)
            << Qt::endl;
    return status;
}

// One sensor's suggestion, from its runs; false (with the status) when they
// cannot be read.
bool suggestionFor(const Store &store, const SensorSummary &sensor, IntervalSuggestion *suggestion,
                   int *status, QTextStream &err)
{
    QString error;
    int current = 0;
    if (suggestionOf(store, sensor.serialNumber, sensor.sensorType, suggestion, &current, &error))
        return true;
    err << tr("The history could not be read: %1").arg(shown(error)) << Qt::endl;
    *status = kExitUnusable;
    return false;
}

int listIntervals(const Store &store, QTextStream &out, QTextStream &err)
{
    QHash<QString, IntervalSetting> settings;
    QString error;
    QList<SensorSummary> sensors;
    if (intervalSettings(store, &settings, &error))
        sensors = store.sensors(&error);
    if (!error.isEmpty()) {
        err << tr("The history could not be read: %1").arg(shown(error)) << Qt::endl;
        return kExitUnusable;
    }
    // The settings: the types' first, then the sensors', each by name.
    QList<IntervalSetting> set = settings.values();
    std::sort(set.begin(), set.end(), [](const IntervalSetting &a, const IntervalSetting &b) {
        return std::make_tuple(!a.serialNumber.isEmpty(), a.sensorType, a.serialNumber) <
               std::make_tuple(!b.serialNumber.isEmpty(), b.sensorType, b.serialNumber);
    });
    for (const IntervalSetting &s : set) {
        out << (s.serialNumber.isEmpty() ? tr("type") : tr("sensor")) << '\t' << shown(s.sensorType)
            << '\t' << shown(s.serialNumber) << '\t' << tr("%1 days").arg(s.days) << '\t'
            << shown(s.basis) << '\t' << shown(s.stamp.recordedBy) << '\t'
            << timeText(s.stamp.recordedAt) << '\t' << shown(s.stamp.station) << '\n';
    }
    // Every sensor that can be due: its interval and what its runs suggest.
    for (const SensorSummary &sensor : sensors) {
        if (!sensor.hasSerial() || sensor.typeUnknown || sensor.retired)
            continue;
        IntervalSuggestion suggestion;
        int status = kExitWell;
        if (!suggestionFor(store, sensor, &suggestion, &status, err))
            return status;
        out << shown(sensor.serialNumber) << '\t' << shown(sensor.sensorType) << '\t'
            << intervalText(sensor.intervalDays, suggestion) << '\n';
    }
    out.flush();
    return kExitWell;
}

int applySuggested(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    SensorSummary sensor;
    int status = kExitWell;
    if (!findSensor(command, store, &sensor, &status, err))
        return status;
    const QString what = tr("No interval applied to sensor %1").arg(shown(sensorName(sensor)));
    if (sensor.retired) {
        err << tr("%1: it is retired.").arg(what) << Qt::endl;
        return kExitFindings;
    }
    IntervalSuggestion applied;
    int was = 0;
    const RegisterChange change =
        applySuggestedInterval(store, sensor.serialNumber, sensor.sensorType, &applied, &was);
    status = reportChange(change, QString(), what, out, err);
    if (status == kExitWell)
        out << tr("Sensor %1: calibration interval %2 days, was %3 (revision %4).")
                   .arg(shown(sensorName(sensor)))
                   .arg(applied.days)
                   .arg(was)
                   .arg(change.revision)
            << Qt::endl;
    return status;
}

} // namespace

QList<const char *> sensorOptions()
{
    return {kRetireOption,     kReasonOption,    kReinstateOption,     kSetIntervalOption,
            kSensorTypeOption, kIntervalsOption, kApplySuggestedOption};
}

bool isSensorAction(Command::Action action)
{
    using A = Command::Action;
    return action == A::Retire || action == A::Reinstate || action == A::SetInterval ||
           action == A::Intervals || action == A::ApplySuggested;
}

void addSensorOptions(QCommandLineParser &parser)
{
    parser.addOption({QLatin1String(kRetireOption),
                      tr("Retire the sensor (never due again, listed apart), with --reason."),
                      tr("SERIAL")});
    parser.addOption(
        {QLatin1String(kReasonOption), tr("With --retire: why it is retired."), tr("TEXT")});
    parser.addOption(
        {QLatin1String(kReinstateOption), tr("Reinstate a retired sensor."), tr("SERIAL")});
    parser.addOption({QLatin1String(kSetIntervalOption),
                      tr("Set the calibration interval of the type of --sensor-type, or of the "
                         "one sensor of --sensor, in days."),
                      tr("DAYS")});
    parser.addOption({QLatin1String(kSensorTypeOption),
                      tr("The sensor's type, where its serial number is known under several "
                         "(also with --certificate and --sign); with --set-interval alone, the "
                         "type whose interval is set."),
                      tr("TYPE")});
    parser.addOption({QLatin1String(kIntervalsOption),
                      tr("List the intervals set for types and sensors (who, when), then each "
                         "sensor's interval and the one its runs suggest.")});
    parser.addOption({QLatin1String(kApplySuggestedOption),
                      tr("Set the sensor's interval to the one its runs suggest."), tr("SERIAL")});
}

bool sensorCommandFrom(const QCommandLineParser &parser, Command *command, QString *error)
{
    using A = Command::Action;
    const auto value = [&parser](const char *option) {
        return parser.value(QLatin1String(option)).trimmed();
    };
    if (parser.isSet(QLatin1String(kSensorTypeOption))) {
        command->sensorType = value(kSensorTypeOption);
        if (command->action == A::Intervals || command->sensorType.isEmpty()) {
            *error = command->sensorType.isEmpty()
                         ? tr("%1 needs a type").arg(dashed(kSensorTypeOption))
                         : tr("%1 does not go with %2")
                               .arg(dashed(kSensorTypeOption), dashed(kIntervalsOption));
            return false;
        }
    }
    const bool reasonGiven = parser.isSet(QLatin1String(kReasonOption));
    if (reasonGiven != (command->action == A::Retire)) {
        *error = reasonGiven
                     ? tr("%1 goes with %2").arg(dashed(kReasonOption), dashed(kRetireOption))
                     : tr("%1 needs %2").arg(dashed(kRetireOption), dashed(kReasonOption));
        return false;
    }
    command->reason = parser.value(QLatin1String(kReasonOption));
    switch (command->action) {
    case A::Retire:
        command->sensor = value(kRetireOption);
        break;
    case A::Reinstate:
        command->sensor = value(kReinstateOption);
        break;
    case A::ApplySuggested:
        command->sensor = value(kApplySuggestedOption);
        break;
    case A::SetInterval:
        command->intervalText = value(kSetIntervalOption);
        command->sensor = value(kSensorOption);
        if (command->sensor.isEmpty() && command->sensorType.isEmpty()) {
            *error = tr("%1 needs %2 or %3")
                         .arg(dashed(kSetIntervalOption), dashed(kSensorTypeOption),
                              dashed(kSensorOption));
            return false;
        }
        return true;
    default:
        return true;
    }
    if (command->sensor.isEmpty()) {
        const char *option = command->action == A::Retire      ? kRetireOption
                             : command->action == A::Reinstate ? kReinstateOption
                                                               : kApplySuggestedOption;
        *error = tr("%1 needs a serial number").arg(dashed(option));
        return false;
    }
    return true;
}

int runSensorAction(const Command &command, Store &store, QTextStream &out, QTextStream &err)
{
    switch (command.action) {
    case Command::Action::Retire:
    case Command::Action::Reinstate:
        return retireOrReinstate(command, store, out, err);
    case Command::Action::SetInterval:
        return setInterval(command, store, out, err);
    case Command::Action::Intervals:
        return listIntervals(store, out, err);
    case Command::Action::ApplySuggested:
        return applySuggested(command, store, out, err);
    default:
        return kExitUnusable;
    }
}

} // namespace history
