#include "gui/history/sample/samplehistory.h"

#include "core/constants.h"
#include "core/history/certificate.h"
#include "core/history/register.h"
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

// The register is drawn from a generator of its own (the seed mixed with
// this), so that the runs stay those of the seed.
constexpr quint32 kRegisterStream = 0x9e3779b9u;

// The workshop's verification tips: days from calibration to today and from
// today to due (below zero: overdue now).
struct SampleStandard {
    const char *serial;
    int tip;
    int calibratedAgo;
    int dueIn;
    bool withdrawn;
};

constexpr SampleStandard kStandards[] = {
    {"VT1-0101", 1, 120, 245, false}, {"VT1-0102", 1, 420, -55, false},
    {"VT2-0201", 2, 60, 305, false},  {"VT2-0202", 2, 300, 65, true},
    {"VT3-0301", 3, 200, 165, false}, {"VT3-0302", 3, 500, -135, false},
};
constexpr int kStandardsPerTip = 2;
// Named by a run now and then, never registered.
constexpr char kUnregisteredStandard[] = "VT-0999";
// In a thousand runs: one made with an unregistered tip, one with a tip of
// another kind.
constexpr int kUnregisteredPerMille = 5;
constexpr int kOtherKindPerMille = 5;
// In a hundred: ended runs reviewed; reviewed runs approved too; finished
// runs with a certificate; overdue sensors retired, and others; retired
// sensors reinstated since; sensors with an interval of their own.
constexpr int kReviewedPercent = 85;
constexpr int kApprovedPercent = 40;
constexpr int kCertifiedPercent = 30;
constexpr int kLateRetiredPercent = 40;
constexpr int kRetiredPercent = 1;
constexpr int kReinstatedPercent = 20;
constexpr int kOwnIntervalPercent = 5;
constexpr int kOwnIntervals[] = {90, 180, 540, 730};
// The interval of a type the workshop set.
constexpr char kShortIntervalType[] = "RT-5K-MQ-CM";
constexpr int kShortIntervalDays = 270;
constexpr char kIntervalBasis[] = "set";
constexpr char kWorkshopName[] = "Sample Fuel Laboratory";
const char *const kRetireReasons[] = {"scrapped: cell cracked", "lost in the field",
                                      "returned to the maker"};
constexpr char kReinstateReason[] = "repaired";

// Reference standards, the workshop's name and a type's interval, before
// any run; the standards as the register holds them, for the certificates.
bool fillRegisterSettings(Store *store, const QDate &today, StandardRevisions *standards,
                          QHash<QString, IntervalSetting> *intervals, SampleRegister *made,
                          QString *error)
{
    const auto failed = [error](const RegisterChange &change) {
        *error = change.reason;
        return false;
    };
    for (const SampleStandard &sample : kStandards) {
        Standard standard;
        standard.serialNumber = QLatin1String(sample.serial);
        standard.tipKind = sample.tip;
        standard.certificateNumber = QStringLiteral("CAL-%1").arg(standard.serialNumber);
        standard.calibratedOn = today.addDays(-sample.calibratedAgo);
        standard.dueOn = today.addDays(sample.dueIn);
        const RegisterChange change = storeStandard(*store, standard);
        if (!change)
            return failed(change);
        if (sample.withdrawn) {
            const RegisterChange withdrawn = withdrawStandard(*store, standard.serialNumber);
            if (!withdrawn)
                return failed(withdrawn);
        }
        ++made->standards;
    }
    RegisterChange change = storeRegisterSetting(*store, QLatin1String(kWorkshopNameSetting),
                                                 QLatin1String(kWorkshopName));
    if (change)
        change = storeInterval(*store, QString(), QLatin1String(kShortIntervalType),
                               kShortIntervalDays, QLatin1String(kIntervalBasis));
    if (!change)
        return failed(change);
    ++made->intervals;
    return standardRevisions(*store, standards, error) &&
           intervalSettings(*store, intervals, error);
}

// The tip a run was made with: mostly one of its kind's.
QString standardFor(QRandomGenerator &random, int tipKind)
{
    const int draw = random.bounded(1000);
    if (tipKind < 1 || tipKind > 3)
        return QString();
    if (draw < kUnregisteredPerMille)
        return QLatin1String(kUnregisteredStandard);
    if (draw < kUnregisteredPerMille + kOtherKindPerMille)
        tipKind = tipKind % 3 + 1;
    const int first = (tipKind - 1) * kStandardsPerTip;
    return QLatin1String(kStandards[first + random.bounded(kStandardsPerTip)].serial);
}

// One sensor's part of the register, after its runs: signatures, an
// interval of its own now and then, certificates, retirement.
bool fillSensorRegister(Store *store, QRandomGenerator &random, const QList<Run> &runs, bool late,
                        const StandardRevisions &standards,
                        QHash<QString, IntervalSetting> *intervals, SampleRegister *made,
                        QString *error)
{
    const Run &first = runs.first();
    QSqlDatabase db = store->database();
    // One transaction for the sensor's signatures: a sample of fleet size
    // is written in minutes, not hours.
    if (!db.transaction()) {
        *error = QStringLiteral("the signatures could not be written");
        return false;
    }
    for (const Run &run : runs) {
        if (!signable(run) || random.bounded(100) >= kReviewedPercent)
            continue;
        RegisterChange change =
            storeSignature(*store, run.key, run.revision, QLatin1String(kMeaningReviewed));
        ++made->signatures;
        if (change && random.bounded(100) < kApprovedPercent) {
            change = storeSignature(*store, run.key, run.revision, QLatin1String(kMeaningApproved));
            ++made->signatures;
        }
        if (!change) {
            db.rollback();
            *error = change.reason;
            return false;
        }
    }
    if (!db.commit()) {
        *error = QStringLiteral("the signatures could not be written");
        return false;
    }
    if (random.bounded(100) < kOwnIntervalPercent) {
        const int days = kOwnIntervals[random.bounded(int(std::size(kOwnIntervals)))];
        const RegisterChange change = storeInterval(*store, first.serialNumber, first.sensorType,
                                                    days, QLatin1String(kIntervalBasis));
        if (!change) {
            *error = change.reason;
            return false;
        }
        IntervalSetting setting;
        setting.serialNumber = first.serialNumber;
        setting.sensorType = first.sensorType;
        setting.days = days;
        intervals->insert(sensorKey(first.serialNumber, first.sensorType), setting);
        ++made->intervals;
    }

    QHash<QString, QList<Signature>> signatures;
    if (!signaturesOfSerial(*store, first.serialNumber, &signatures, error))
        return false;
    CertificateFacts facts;
    facts.workshopName = QLatin1String(kWorkshopName);
    facts.intervalDays = intervalFor(*intervals, first.serialNumber, first.sensorType);
    for (const Run &run : runs) {
        if (!certifiable(run) || random.bounded(100) >= kCertifiedPercent)
            continue;
        facts.run = run;
        facts.signatures = signatures.value(run.key);
        facts.standards = inForce(run, standards);
        Certificate certificate;
        certificate.runKey = run.key;
        certificate.runRevision = run.revision;
        certificate.signatureCount = int(facts.signatures.size());
        const RegisterChange change =
            storeCertificate(*store, &certificate, [&facts](const QString &number) {
                facts.number = number;
                return certificateContent(facts);
            });
        if (!change) {
            *error = change.reason;
            return false;
        }
        ++made->certificates;
    }

    if (random.bounded(100) >= (late ? kLateRetiredPercent : kRetiredPercent))
        return true;
    const QString reason =
        QLatin1String(kRetireReasons[random.bounded(int(std::size(kRetireReasons)))]);
    RegisterChange change =
        storeSensorState(*store, first.serialNumber, first.sensorType, true, reason);
    const bool reinstated = random.bounded(100) < kReinstatedPercent;
    if (change && reinstated)
        change = storeSensorState(*store, first.serialNumber, first.sensorType, false,
                                  QLatin1String(kReinstateReason));
    if (!change) {
        *error = change.reason;
        return false;
    }
    made->retired += reinstated ? 0 : 1;
    return true;
}

} // namespace

int fillSampleHistory(Store *store, const SampleShape &shape, QString *error, SampleRegister *made)
{
    QRandomGenerator random(shape.seed);
    QRandomGenerator registerRandom(shape.seed ^ kRegisterStream);
    SampleRegister counts;
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
    StandardRevisions standards;
    QHash<QString, IntervalSetting> intervals;
    if (!fillRegisterSettings(store, shape.today, &standards, &intervals, &counts, error))
        return -1;
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
        QList<Run> sensorRuns;
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
            run.standardSerial = standardFor(registerRandom, run.tipKind);
            if (!store->write(run, error))
                return -1;
            ++written;
            sensorRuns << run;
        }
        if (!fillSensorRegister(store, registerRandom, sensorRuns, late, standards, &intervals,
                                &counts, error))
            return -1;
    }
    if (made)
        *made = counts;
    return written;
}

} // namespace history
