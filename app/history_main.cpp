// zolvex-history: the calibration history of every sensor, from the same
// database the stations record their runs in.

#include "core/commandline.h"
#include "core/history/location.h"
#include "gui/history/historywindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QProcessEnvironment>
#include <QSettings>

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
    if (onlyPrintsText(argc, argv)) {
        QCoreApplication app(argc, argv);
        parser.process(app); // prints the text and ends the program
        return 0;
    }

    QApplication app(argc, argv);
    parser.process(app);

    const QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                             QLatin1String(history::kSettingsOrganization),
                             QLatin1String(history::kSettingsApplication));
    history::WindowOptions options;
    options.intervalDays = history::intervalDays(settings);
    options.training = parser.isSet(training);
    const QString data = history::dataFolder(
        QLatin1String(options.training ? history::kTrainingData : history::kProductData));
    if (options.training)
        options.location.path = data + QLatin1String(history::kSQLiteFile);
    else
        options.location =
            history::configuredLocation(settings, QProcessEnvironment::systemEnvironment(), data);
    options.pendingFolder = data + QLatin1String(history::kPendingFolder);

    history::HistoryWindow window(options);
    window.show();
    if (!window.openHistory())
        return 1;
    return app.exec();
}
