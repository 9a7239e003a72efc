// zolvex-history: the calibration history of every sensor, from the same
// database the stations record their runs in.

#include "core/commandline.h"
#include "core/history/commands.h"
#include "core/history/location.h"
#include "gui/history/historywindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

namespace
{

// An action of the command line: no window, so no display either.
int runWithoutWindow(int argc, char *argv[], QCommandLineParser &parser,
                     const QCommandLineOption &training)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    history::Command command;
    QString error;
    if (!parser.parse(QCoreApplication::arguments()) ||
        !history::commandFrom(parser, parser.isSet(training), &command, &error)) {
        err << QCoreApplication::applicationName() << ": "
            << (error.isEmpty() ? parser.errorText() : error) << Qt::endl;
        return history::kExitUnusable;
    }
    const history::Home home = command.training ? history::trainingHome() : history::productHome();
    return history::runCommand(command, home.location, home.pendingFolder,
                               history::configuredIntervalDays(), out, err);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zolvex-history"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "ZOLVEX Calibration History: every run of every sensor, the date each is next due,\n"
        "export to CSV, a printed report, and the import of calibration record files.\n"
        "--import, --export-csv, --verify, --due and --set-type do their work without a\n"
        "window and exit with 0 when all is well, 1 when something was refused, altered,\n"
        "replaced, missing or overdue, and 2 when the history could not be opened or the\n"
        "command line is wrong."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption training(
        QStringLiteral("training"),
        QStringLiteral("Show the training program's own history instead of the real one."));
    parser.addOption(training);
    history::addCommandOptions(parser);
    parser.addPositionalArgument(QStringLiteral("DAYS"),
                                 QStringLiteral("With --due: also the sensors due within this "
                                                "many days."),
                                 QStringLiteral("[DAYS]"));
    printTextWithoutDisplay(argc, argv, parser);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (history::asksForCommand(arguments))
        return runWithoutWindow(argc, argv, parser, training);

    QApplication app(argc, argv);
    parser.process(app);

    history::WindowOptions options;
    options.intervalDays = history::configuredIntervalDays();
    options.training = parser.isSet(training);
    const history::Home home = options.training ? history::trainingHome() : history::productHome();
    options.location = home.location;
    options.pendingFolder = home.pendingFolder;

    history::HistoryWindow window(options);
    window.show();
    if (!window.openHistory())
        return history::kExitUnusable;
    return app.exec();
}
