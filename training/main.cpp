// zolvex-training: the real main window and calibration screen against a
// simulated sensor, so the procedure can be practised without one.

#include "core/commandline.h"
#include "core/history/writer.h"
#include "gui/dialogfont.h"
#include "gui/widget.h"
#include "training/trainingoptions.h"
#include "training/trainingsession.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zolvex-training"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Practise the ZOLVEX validation and calibration procedure on a simulated sensor.\n"
        "The simulated sensor is listed first on the calibration screen; when a prompt asks\n"
        "to set the switch and start sampling, it does so once OK is clicked."));
    parser.addHelpOption();
    parser.addVersionOption();
    addTrainingOptions(parser);
    printTextWithoutDisplay(argc, argv, parser);

    QApplication app(argc, argv);
    parser.process(app);
    useDialogFont();

    TrainingOptions options;
    QString error;
    if (!readTrainingOptions(parser, &options, &error)) {
        std::fprintf(stderr, "zolvex-training: %s\n", qPrintable(error));
        return 2;
    }

    TrainingSession session(options);
    if (!session.sensor().isOpen()) {
        std::fprintf(stderr, "zolvex-training: cannot create the simulated sensor's port\n");
        return 1;
    }
    std::printf("Simulated sensor on %s (%s)\n", qPrintable(session.sensor().portPath()),
                qPrintable(describe(options)));
    std::fflush(stdout);

    // A trainee's runs go into a history of their own (zolvex-history
    // --training shows it), never into the real one.
    const history::Home home = history::trainingHome();
    history::Writer writer(home.location, home.pendingFolder);

    // Destroyed before the session, whose sensor its screens may hold open,
    // and before the writer.
    Widget window(session.portLister());
    window.setLinkLossNamer(session.linkLossNamer());
    window.setHistorySink(&writer);
    QObject::connect(&writer, &history::Writer::lost, &window, &Widget::runLost);
    window.setWindowTitle(window.windowTitle() + QStringLiteral(" - TRAINING"));
    window.show();
    return app.exec();
}
