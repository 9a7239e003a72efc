#pragma once

// True when the command line asks only for a text (--help, --version and
// their short forms): such a run needs no display, so it can use a plain core
// application object instead of a GUI one.
bool onlyPrintsText(int argc, char **argv);

class QCommandLineParser;
// When the command line asks only for a text, prints it (or the parser's
// error) with a plain core application object and ends the program;
// otherwise returns, and the program makes its GUI application object.
void printTextWithoutDisplay(int argc, char **argv, QCommandLineParser &parser);
