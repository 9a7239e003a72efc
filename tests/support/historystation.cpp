// A station for the history tests: records runs through a history::Writer
// as fast as it can, as a calibration screen would (three snapshots a run),
// so that two of these processes can share one database.
//
//   zolvex_historystation <location> <pending folder> <station name> <runs>
//
// It starts recording when a line arrives on its standard input, so that
// both stations begin at the same moment, and exits 0 when every run reached
// the database and nothing is left pending.

#include "core/history/location.h"
#include "core/history/writer.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream out(stdout);
    if (args.size() != 5) {
        out << "usage: zolvex_historystation <location> <pending folder> <station> <runs>\n";
        return 2;
    }
    history::Location location;
    QString error;
    if (!history::parseLocation(args.at(1), &location, &error)) {
        out << "bad location: " << error << '\n';
        return 2;
    }
    const QString pending = args.at(2);
    const QString station = args.at(3);
    const int runs = args.at(4).toInt();

    QAtomicInt failures = 0;
    int exitCode = 0;
    {
        history::Writer writer(location, pending);
        // The worker thread reports; nobody runs an event loop here.
        QObject::connect(
            &writer, &history::Writer::failed, &writer,
            [&](const QString &key, const QString &reason) {
                failures.fetchAndAddOrdered(1);
                std::fprintf(stderr, "failed %s: %s\n", qPrintable(key), qPrintable(reason));
            },
            Qt::DirectConnection);

        std::string go;
        std::getline(std::cin, go);

        const QDateTime start = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < runs; ++i) {
            history::Run run;
            run.key = QStringLiteral("%1/%2").arg(station).arg(i);
            run.station = station;
            run.started = start.addSecs(i);
            run.serialNumber = QStringLiteral("40317-%1").arg(i % 25, 5, 10, QLatin1Char('0'));
            run.sensorType = QStringLiteral("RT-5K-MQ");
            run.revision = 1;
            writer.record(run); // identified
            run.revision = 2;
            run.foundHigh.text = QStringLiteral("525.0");
            run.foundHigh.value = 525.0;
            run.foundHigh.verdict = history::Verdict::Pass;
            writer.record(run); // found
            run.revision = 3;
            run.outcome = history::Outcome::ValidatedDateSet;
            run.ended = run.started.addSecs(600);
            writer.record(run); // ended
        }
        if (!writer.waitForIdle(180000)) {
            out << station << ": still writing after three minutes\n";
            exitCode = 1;
        }
    }
    const int left = history::pendingRuns(pending).size();
    out << station << ": " << runs << " runs, " << failures.loadRelaxed() << " failures, " << left
        << " pending\n";
    if (failures.loadRelaxed() != 0 || left != 0)
        exitCode = 1;
    return exitCode;
}
