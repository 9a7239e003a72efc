#include "core/commandline.h"

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
