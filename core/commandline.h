#pragma once

// True when the command line asks only for a text (--help, --version and
// their short forms): such a run needs no display, so it can use a plain core
// application object instead of a GUI one.
bool onlyPrintsText(int argc, char **argv);
