// zolvex-history: the calibration history of every sensor, from the same
// database the stations record their runs in.

#include "core/commandline.h"
#include "core/history/commands.h"
#include "core/history/location.h"
#include "gui/history/historywindow.h"
#include "gui/history/pdfwriters.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace
{

// The platform the command line draws its PDF files with: one that needs no
// display.
constexpr char kCommandPlatform[] = "offscreen";
// What that platform says when it starts without a runtime folder, which it
// does not need for drawing into a file.
constexpr char kRuntimeFolderWarning[] = "QStandardPaths: XDG_RUNTIME_DIR not set";

QtMessageHandler previousHandler = nullptr;

void withoutRuntimeFolderWarning(QtMsgType type, const QMessageLogContext &context,
                                 const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String(kRuntimeFolderWarning)))
        return;
    previousHandler(type, context, message);
}

// The application object of the command line: a plain core one, or one that
// draws (fonts and all, on no display) for an action that writes a PDF file.
std::unique_ptr<QCoreApplication> commandApplication(int &argc, char *argv[],
                                                     const QStringList &arguments)
{
    // The due report and a certificate.
    bool draws = false;
    for (const char *option : {history::kDueReportOption, history::kCertificateOption}) {
        const QString dashed = QLatin1String("--") + QLatin1String(option);
        draws =
            draws || std::any_of(arguments.cbegin() + 1, arguments.cend(), [&](const QString &a) {
                return a == dashed || a.startsWith(dashed + u'=');
            });
    }
    if (!draws)
        return std::make_unique<QCoreApplication>(argc, argv);
    qputenv("QT_QPA_PLATFORM", kCommandPlatform);
    previousHandler = qInstallMessageHandler(withoutRuntimeFolderWarning);
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(previousHandler);
    return app;
}

// An action of the command line: no window, so no display either.
int runWithoutWindow(int argc, char *argv[], const QStringList &arguments,
                     QCommandLineParser &parser, const QCommandLineOption &training)
{
    const std::unique_ptr<QCoreApplication> app = commandApplication(argc, argv, arguments);
    history::installPaperWriters();
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
    const QString moved = history::takeMovedIntervalSetting();
    if (!moved.isEmpty())
        err << QCoreApplication::applicationName() << ": " << history::shown(moved) << Qt::endl;
    const history::Home home = command.training ? history::trainingHome() : history::productHome();
    return history::runCommand(command, home.location, home.pendingFolder, out, err);
}

// The platform the window would use, and whether what it needs to show
// itself is there: without it Qt would abort the program.
bool displayAvailable(const QStringList &arguments)
{
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const qsizetype at = arguments.indexOf(QStringLiteral("-platform"));
    if (at >= 0 && at + 1 < arguments.size())
        platform = arguments.at(at + 1);
    platform = platform.section(u':', 0, 0);
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (platform.isEmpty())
        return x11 || wayland;
    if (platform == QLatin1String("xcb"))
        return x11;
    if (platform.startsWith(QLatin1String("wayland")))
        return wayland;
    return true; // offscreen, vnc, eglfs, ...: nothing to check here
}

// The window takes no argument of its own but the options: a stray one is
// said on the standard error, and false returned.
bool noStrayArgument(const QCommandLineParser &parser)
{
    if (parser.positionalArguments().isEmpty())
        return true;
    QTextStream(stderr) << QCoreApplication::applicationName() << ": "
                        << QCoreApplication::translate(
                               "history", "unexpected argument: '%1'; the window takes none "
                                          "(the days of --due go after it)")
                               .arg(history::shown(parser.positionalArguments().first()))
                        << Qt::endl;
    return false;
}

// Before a window is tried: no stray argument (Qt's own options, which only
// the application object knows, are checked after it), and a display.
bool windowCanStart(const QStringList &arguments, QCommandLineParser &parser)
{
    if (parser.parse(arguments) && !noStrayArgument(parser))
        return false;
    if (displayAvailable(arguments))
        return true;
    QTextStream(stderr) << QCoreApplication::applicationName() << ": "
                        << QCoreApplication::translate(
                               "history",
                               "the history window needs a display, and there is none. Without "
                               "one, --import, --export-csv, --verify, --due, --due-report, "
                               "--certificate, --sign and the other actions of --help do their "
                               "work.")
                        << Qt::endl;
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zolvex-history"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "ZOLVEX Calibration History: every run of every sensor, the date each is next due,\n"
        "export to CSV, a printed report, the import of calibration record files,\n"
        "certificates, sign-off and the workshop's register. Each action below (--import,\n"
        "--export-csv, --due, --due-report, --certificate, --sign and the others)\n"
        "does its work without a window and exits with 0 when all is well, 1 when\n"
        "something was refused, altered, replaced, missing, overdue, out of tolerance or\n"
        "left pending, and 2 when the history could not be opened, read or written, a\n"
        "file could not be written, the settings are wrong or the command line is. The\n"
        "window takes no argument and needs a display."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption training(
        QStringLiteral("training"),
        QStringLiteral("Show the training program's own history instead of the real one."));
    parser.addOption(training);
    history::addCommandOptions(parser);
    parser.addPositionalArgument(QStringLiteral("DAYS"),
                                 QStringLiteral("With --due: also the sensors due within this "
                                                "many days; with --due-report: its period."),
                                 QStringLiteral("[DAYS]"));
    printTextWithoutDisplay(argc, argv, parser);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (history::asksForCommand(arguments))
        return runWithoutWindow(argc, argv, arguments, parser, training);
    if (!windowCanStart(arguments, parser))
        return history::kExitUnusable;

    QApplication app(argc, argv);
    // Qt's own options are gone from the arguments now.
    if (!parser.parse(QCoreApplication::arguments())) {
        QTextStream(stderr) << QCoreApplication::applicationName() << ": " << parser.errorText()
                            << Qt::endl;
        return history::kExitUnusable;
    }
    if (!noStrayArgument(parser))
        return history::kExitUnusable;

    history::WindowOptions options;
    const QString moved = history::takeMovedIntervalSetting();
    if (!moved.isEmpty()) {
        // The value is anyone's text: never read as markup.
        QMessageBox box(QMessageBox::Information, QCoreApplication::applicationName(), moved);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
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
