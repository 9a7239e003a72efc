// A station that records into the history given on its command line and
// drives a calibration screen on the simulated sensor until new constants
// are in the sensor unsaved; then it prints "reached" and waits to be killed.
//
//   zolvex_historyscreen <sqlite file> <pending folder>

#include "core/history/writer.h"
#include "tests/support/screenharness.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: zolvex_historyscreen <sqlite file> <pending folder>\n");
        return 2;
    }
    history::Location location;
    location.path = QString::fromLocal8Bit(argv[1]);
    history::Writer writer(location, QString::fromLocal8Bit(argv[2]));

    ScreenHarness h(driftedMetre());
    h.screen->setHistorySink(&writer);
    if (!h.driveTo(Phase::VerificationHigh)) {
        std::fprintf(stderr, "zolvex_historyscreen: stopped at %s\n", h.failedStep());
        return 1;
    }
    writer.waitForIdle(10000);
    std::printf("reached\n");
    std::fflush(stdout);
    return app.exec();
}
