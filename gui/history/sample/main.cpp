// zolvex-history-sample: fills a history database with plausible runs, to look
// at the history window (docs/history-window.png) or to time it (bench/).
// A developer's tool, run from the build folder; not installed.

#include "core/history/store.h"
#include "gui/history/sample/samplehistory.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <limits>

namespace
{

constexpr char kProgram[] = "zolvex-history-sample";
// Beyond these a sample is more than any test or picture needs.
constexpr int kMostSensors = 100000;
constexpr int kMostRunsPerSensor = 1000;
constexpr int kDefaultSensors = 40;
constexpr int kDefaultRunsPerSensor = 8;
// Exit statuses: the history could not be written; the command line is wrong.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int usageError(const QString &why)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, qPrintable(why), kProgram);
    return kUsage;
}

// A whole number from low to high, or false.
bool number(const QString &text, qint64 low, qint64 high, qint64 *value)
{
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok && *value >= low && *value <= high;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kProgram));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes plausible calibration runs (drifting slopes, failed readings, "
                       "recalibrations) into a history file, for looking at the history window "
                       "or timing it. Every sensor gets exactly RUNS runs, the newest some days "
                       "before today. The register is filled beside them: reference standards "
                       "the runs name (some overdue, one withdrawn), signatures on most runs, "
                       "certificates for some finished ones, some sensors retired, intervals of "
                       "a type and of some sensors."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The SQLite history file (created if missing)."));
    parser.addPositionalArgument(
        QStringLiteral("SENSORS"),
        QStringLiteral("Sensors, 1 to %1 (default %2).").arg(kMostSensors).arg(kDefaultSensors),
        QStringLiteral("[SENSORS"));
    parser.addPositionalArgument(QStringLiteral("RUNS"),
                                 QStringLiteral("Runs per sensor, 1 to %1 (default %2).")
                                     .arg(kMostRunsPerSensor)
                                     .arg(kDefaultRunsPerSensor),
                                 QStringLiteral("[RUNS"));
    parser.addPositionalArgument(QStringLiteral("SEED"),
                                 QStringLiteral("The random seed, 0 to 4294967295 (default 1)."),
                                 QStringLiteral("[SEED]]]"));
    // "FILE 3 -4" is a wrong number of runs, not an unknown option.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", kProgram, PROJECT_VERSION);
        return 0;
    }

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usageError(QStringLiteral("no history file named"));
    if (args.size() > 4)
        return usageError(QStringLiteral("too many arguments: %1").arg(args.mid(4).join(' ')));
    history::SampleShape shape;
    shape.sensors = kDefaultSensors;
    shape.runsPerSensor = kDefaultRunsPerSensor;
    qint64 value = 0;
    if (args.size() > 1) {
        if (!number(args.at(1), 1, kMostSensors, &value))
            return usageError(QStringLiteral("SENSORS must be a whole number from 1 to %1, not %2")
                                  .arg(kMostSensors)
                                  .arg(args.at(1)));
        shape.sensors = int(value);
    }
    if (args.size() > 2) {
        if (!number(args.at(2), 1, kMostRunsPerSensor, &value))
            return usageError(QStringLiteral("RUNS must be a whole number from 1 to %1, not %2")
                                  .arg(kMostRunsPerSensor)
                                  .arg(args.at(2)));
        shape.runsPerSensor = int(value);
    }
    if (args.size() > 3) {
        if (!number(args.at(3), 0, std::numeric_limits<quint32>::max(), &value))
            return usageError(QStringLiteral("SEED must be a whole number from 0 to %1, not %2")
                                  .arg(std::numeric_limits<quint32>::max())
                                  .arg(args.at(3)));
        shape.seed = quint32(value);
    }

    history::Location location;
    location.path = args.at(0);
    history::Store store(location);
    QString error;
    if (!store.open(&error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, qPrintable(error));
        return kFailed;
    }
    const int written = history::fillSampleHistory(&store, shape, &error);
    if (written < 0) {
        std::fprintf(stderr, "%s: %s\n", kProgram, qPrintable(error));
        return kFailed;
    }
    std::printf("%d runs of %d sensors written to %s\n", written, shape.sensors,
                qPrintable(location.path));
    return 0;
}
