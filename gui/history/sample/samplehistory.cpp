#include "gui/history/sample/samplehistory.h"

#include "core/constants.h"
#include "core/history/store.h"
#include "core/readings.h"
#include "core/tipkind.h"

#include <QRandomGenerator>
#include <QSqlQuery>

#include <cmath>

namespace history
{

namespace
{

struct Model {
    const char *type;
    const char *range;
    int tip;
    double slope; // constants that read right when new
    double offset;
};

constexpr Model kModels[] = {
    {"RT-5K-MQ", "2000", 1, 0.0025, -12.5},
    {"RT-5K-MQ-CM", "2000", 2, 0.0027, -13.5},
    {"RT-5K-MQ-CM", "10000", 3, 0.04, -20.0},
};

// Days from the newest run to today, for a sensor in use and for one overdue
// (the upper bounds excluded); days between two runs.
constexpr int kLastAgoLow = 5;
constexpr int kLastAgoHigh = 330;
constexpr int kLateLow = 380;
constexpr int kLateHigh = 600;
constexpr int kGapLow = 150;
constexpr int kGapHigh = 250;

const char *const kStations[] = {"lab-bench-1", "lab-bench-2", "hangar-3", "field-van"};

QString number(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

int fillSampleHistory(Store *store, const SampleShape &shape, QString *error)
{
    QRandomGenerator random(shape.seed);
    const auto uniform = [&random](double low, double high) {
        return low + (high - low) * random.generateDouble();
    };
    // A fast file for a sample: nothing here needs to survive a power cut.
    if (store->database().driverName() == QLatin1String("QSQLITE"))
        QSqlQuery(store->database()).exec(QStringLiteral("PRAGMA synchronous = OFF"));

    if (shape.sensors < 0 || shape.runsPerSensor < 1) {
        *error = QStringLiteral("a sample needs no fewer than 0 sensors and 1 run per sensor");
        return -1;
    }
    int written = 0;
    for (int n = 0; n < shape.sensors; ++n) {
        const Model &model = kModels[random.bounded(int(std::size(kModels)))];
        const TipKind *tip = tipKindById(model.tip);
        const QString serial =
            QStringLiteral("40317-%1").arg(20001 + n * 37 % 9000, 5, 10, QLatin1Char('0'));
        // The true response drifts; the stored constants follow only when
        // the sensor is recalibrated.
        double trueSlope = model.slope * uniform(0.97, 1.03);
        double slope = model.slope;
        double offset = model.offset;
        const double driftPerYear = uniform(-0.06, 0.08);
        const int runs = shape.runsPerSensor;
        // Some sensors were last seen long ago: overdue now.
        const bool late = random.bounded(100) < 15;
        const int lastAgo =
            late ? random.bounded(kLateLow, kLateHigh) : random.bounded(kLastAgoLow, kLastAgoHigh);
        // Counted back from the newest run, which is days before today:
        // no run lies in the future.
        QList<int> gaps;
        int span = lastAgo;
        for (int r = 1; r < runs; ++r) {
            gaps << random.bounded(kGapLow, kGapHigh);
            span += gaps.last();
        }
        QDateTime started(shape.today.addDays(-span), QTime(8, 0), Qt::UTC);
        for (int r = 0; r < runs; ++r) {
            if (r > 0) {
                const int days = gaps.at(r - 1);
                trueSlope *= 1 + driftPerYear * days / 365.0 + uniform(-0.004, 0.004);
                started = started.addDays(days);
            }
            started.setTime(QTime(random.bounded(7, 17), random.bounded(60)));
            Run run;
            run.key = QStringLiteral("sample-%1-%2").arg(serial).arg(r);
            run.revision = 2;
            run.started = started;
            run.ended = started.addSecs(random.bounded(240, 900));
            run.station = QLatin1String(kStations[random.bounded(int(std::size(kStations)))]);
            run.sensorType = QLatin1String(model.type);
            run.serialNumber = serial;
            run.firmware = QStringLiteral("Version 2.%1").arg(12 + r / 4);
            run.range = QLatin1String(model.range);
            run.tipKind = model.tip;
            run.unit = QLatin1String(tip->unit);
            run.oldSlope = constants::slopeText(slope);
            run.oldOffset = constants::offsetText(offset);

            // What the sensor reads on a standard with the constants it holds.
            const auto reads = [&](double standard, double s) {
                return standard * s / trueSlope + uniform(-2.5, 2.5);
            };
            const double lowStandard = (tip->lowWindow.low + tip->lowWindow.high) / 2;
            run.foundHigh = judgedReading(tip, readings::Position::High,
                                          number(reads(tip->highStandard, slope)));
            run.foundLow =
                judgedReading(tip, readings::Position::Low, number(reads(lowStandard, slope)));

            const int fate = random.bounded(100);
            const bool failed =
                run.foundHigh.verdict == Verdict::Fail || run.foundLow.verdict == Verdict::Fail;
            if (fate < 4) {
                run.outcome = Outcome::Cancelled;
                run.outcomeDetail = QStringLiteral("validation");
                run.foundLow = Reading();
            } else if (fate < 7) {
                run.outcome = Outcome::LinkLost;
                run.outcomeDetail = QStringLiteral("validation");
            } else if (failed || fate < 30) {
                // Recalibrated on the high standard, then verified.
                const double newSlope = trueSlope * uniform(0.998, 1.002);
                run.meanCounts = (tip->highStandard - offset) / trueSlope;
                run.newSlope = constants::slopeText(newSlope);
                run.newOffset = constants::offsetText(offset * newSlope / slope);
                run.leftHigh = judgedReading(tip, readings::Position::High,
                                             number(reads(tip->highStandard, newSlope)));
                run.leftLow = judgedReading(tip, readings::Position::Low,
                                            number(reads(lowStandard, newSlope)));
                if (fate % 17 == 0) {
                    run.outcome = Outcome::RecalibrationAbandoned;
                } else {
                    run.outcome = Outcome::Recalibrated;
                    offset = offset * newSlope / slope;
                    slope = newSlope;
                }
            } else {
                run.outcome =
                    fate % 3 == 0 ? Outcome::ValidatedNoRecord : Outcome::ValidatedDateSet;
            }
            if (!store->write(run, error))
                return -1;
            ++written;
        }
    }
    return written;
}

} // namespace history
