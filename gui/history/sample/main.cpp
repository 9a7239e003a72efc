// zolvex-history-sample: fills a history database with plausible runs, to look
// at the history window (docs/history-window.png) or to time it.
// Usage: zolvex-history-sample FILE.sqlite [SENSORS [RUNS_PER_SENSOR [SEED]]]

#include "core/history/store.h"
#include "gui/history/sample/samplehistory.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: zolvex-history-sample FILE.sqlite [SENSORS [RUNS [SEED]]]\n");
        return 2;
    }
    history::Location location;
    location.path = args.at(1);
    history::SampleShape shape;
    if (args.size() > 2)
        shape.sensors = args.at(2).toInt();
    if (args.size() > 3)
        shape.runsPerSensor = args.at(3).toInt();
    if (args.size() > 4)
        shape.seed = args.at(4).toUInt();

    history::Store store(location);
    QString error;
    if (!store.open(&error)) {
        std::fprintf(stderr, "zolvex-history-sample: %s\n", qPrintable(error));
        return 1;
    }
    const int written = history::fillSampleHistory(&store, shape, &error);
    if (written < 0) {
        std::fprintf(stderr, "zolvex-history-sample: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%d runs of %d sensors written to %s\n", written, shape.sensors,
                qPrintable(location.path));
    return 0;
}
