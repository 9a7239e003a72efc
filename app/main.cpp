#include "core/commandline.h"
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
    if (onlyPrintsText(argc, argv)) {
        QCoreApplication app(argc, argv);
        parser.process(app); // prints the text and ends the program
        return 0;
    }

    QApplication app(argc, argv);
    parser.process(app);
    useDialogFont();
    // Declared after the application object, so destroyed before it.
    Widget window;
    window.show();
    return app.exec();
}
