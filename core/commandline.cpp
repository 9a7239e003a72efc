#include "core/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdlib>
#include <cstring>

bool onlyPrintsText(int argc, char **argv)
{
    static const char *const textOptions[] = {"-h",         "--help", "-?",
                                              "--help-all", "-v",     "--version"};
    for (int i = 1; i < argc; ++i) {
        for (const char *option : textOptions) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

void printTextWithoutDisplay(int argc, char **argv, QCommandLineParser &parser)
{
    if (!onlyPrintsText(argc, argv))
        return;
    QCoreApplication app(argc, argv);
    parser.process(app); // prints the text and ends the program
    std::exit(EXIT_SUCCESS);
}
