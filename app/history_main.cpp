// zolvex-history: the calibration history of every sensor, from the same
// database the stations record their runs in.

#include "core/commandline.h"
#include "core/history/location.h"
#include "gui/history/historywindow.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zolvex-history"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "ZOLVEX Calibration History: every run of every sensor, the date each is next due,\n"
        "export to CSV, a printed report, and the import of calibration record files."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption training(
        QStringLiteral("training"),
        QStringLiteral("Show the training program's own history instead of the real one."));
    parser.addOption(training);
    printTextWithoutDisplay(argc, argv, parser);

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
        return 1;
    return app.exec();
}
