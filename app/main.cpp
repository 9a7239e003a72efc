#include "core/commandline.h"
#include "core/history/writer.h"
#include "gui/dialogfont.h"
#include "gui/widget.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zolvex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Conductivity Validation and Calibration Utility: validates and, at the "
                       "operator's choice,\nrecalibrates the sensor over its USB serial cable."));
    parser.addHelpOption();
    parser.addVersionOption();
    printTextWithoutDisplay(argc, argv, parser);

    QApplication app(argc, argv);
    parser.process(app);
    useDialogFont();

    // Every run goes into the calibration history, quietly: a history that
    // cannot be written keeps its runs pending and never holds up a screen.
    const history::Home home = history::productHome();
    history::Writer writer(home.location, home.pendingFolder);

    // Declared after the application object and the writer, so destroyed before them.
    Widget window;
    window.setHistorySink(&writer);
    QObject::connect(&writer, &history::Writer::lost, &window, &Widget::runLost);
    window.show();
    return app.exec();
}
