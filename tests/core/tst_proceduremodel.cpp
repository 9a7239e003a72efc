// The procedure without a screen: scripted sensor bytes, ticks and answers
// in; prompts, status texts, outcomes and the exact bytes on the wire out.

#include "core/procedure.h"
#include "core/tipkind.h"
#include "tests/support/texts.h"

#include <QtTest>

#include <functional>

using procedure::Answer;
using procedure::Button;
using procedure::Field;
using procedure::Timer;
using readings::Position;

namespace
{

const QByteArray kListing = "RT-5K-MQ\r\nVersion 2.12\r\nserial number = 40317-20415\r\n"
                            "cal date = 01/15/26\r\nCslope = 0.002875\r\nCoffset = -14.37500\r\n"
                            "C1 =    1.00000\r\nC2 =    0.00000\r\nMaximum Conductivity = 2000\r\n"
                            "C3 =    0.00000\r\n";
// Enough lines for a reading: nine complete ones and the tail.
constexpr int kLines = 10;

QByteArray dataLines(const QByteArray &line)
{
    QByteArray bytes;
    for (int i = 0; i < kLines; ++i)
        bytes += line + "\r\n";
    return bytes;
}
// With the previous constants above, 215000 counts on the 525 standard give
// slope 0.002500 and offset -12.50000.
const QByteArray kHigh = dataLines("215000,25.0,525.0,0");
const QByteArray kLow = dataLines("85000,25.0,200.0,0");
const QByteArray kOutOfWindow = dataLines("300000,25.0,737.5,0");
const QByteArray kTooFew = "215000,25.0,525.0,0\r\n";
// Ends every prompt that asks to start sampling.
const QString kStartSampling = QStringLiteral("start sampling process. \r\n\n\t\tTHEN CLICK OK");

QByteArray dateCommand()
{
    return "cdate=" + QDate::currentDate().toString("MM/dd/yy").toLatin1() + "\r";
}

// The sensor's side and the operator's, scripted.
class Bench : public procedure::Asker, public procedure::Port, public procedure::Clock
{
public:
    Bench() : model(*this, *this, *this)
    {
        QObject::connect(&model, &Procedure::statusChanged,
                         [this](const QString &text) { events << "status: " + text; });
        QObject::connect(&model, &Procedure::closeRequested, [this] { events << "close"; });
        QObject::connect(&model, &Procedure::ended,
                         [this](history::Outcome outcome, const QString &detail) {
                             outcomes << qMakePair(outcome, detail);
                         });
    }

    Answer ask(const procedure::Prompt &prompt) override
    {
        prompts << prompt;
        if (whileAsked)
            std::exchange(whileAsked, nullptr)();
        if (prompt.buttons == Button::None)
            return Button::Ok;
        if (answers.isEmpty()) {
            unexpected << prompt.title;
            return Button::Cancel;
        }
        return answers.takeFirst();
    }
    bool write(const QByteArray &bytes) override
    {
        if (!usable())
            return false;
        if (failWrites) {
            model.linkLost(QStringLiteral("write failed"), QStringLiteral("cable pulled"));
            return false;
        }
        wire += bytes;
        return true;
    }
    bool usable() const override { return open && !model.isLinkLost(); }
    void release(bool deferDelete) override
    {
        open = false;
        releasedDeferred = deferDelete;
    }
    void start(Timer timer, int intervalMs) override
    {
        active[int(timer)] = true;
        interval[int(timer)] = intervalMs;
    }
    void stop(Timer timer) override { active[int(timer)] = false; }
    bool isActive(Timer timer) const override { return active[int(timer)]; }

    // Connected, identified and the validation high reading under way.
    void identify()
    {
        model.start(QStringLiteral("ttyTEST0"));
        model.receive("Timeout in 30 minutes\r\n");
        model.receive(kListing);
    }
    // One collection: its lines, then the ticks until it is judged.
    void collect(const QByteArray &bytes)
    {
        model.receive(bytes);
        for (int i = 0; i <= Procedure::kDataCountdown && isActive(Timer::Tick); ++i)
            model.tick();
    }
    // Validation readings out of window, the change chosen, the calibration
    // data collected: the new constants are computed and about to go out.
    void toNewConstants()
    {
        identify();
        collect(kHigh);
        answers << Button::No; // change the constants
        collect(kLow);
        collect(kHigh); // calibration data
    }
    void sendAll()
    {
        while (isActive(Timer::Send) && usable())
            model.sendTick();
    }
    QStringList titles() const
    {
        QStringList list;
        for (const procedure::Prompt &p : prompts)
            list << p.title;
        return list;
    }

    Procedure model;
    QList<Button> answers;
    QList<procedure::Prompt> prompts;
    QStringList unexpected;
    QStringList events;
    QList<QPair<history::Outcome, QString>> outcomes;
    std::function<void()> whileAsked;
    QByteArray wire;
    bool open = true;
    bool failWrites = false;
    bool releasedDeferred = false;
    bool active[2] = {false, false};
    int interval[2] = {0, 0};
};

} // namespace

Q_DECLARE_METATYPE(history::Outcome)
Q_DECLARE_METATYPE(procedure::Button)
Q_DECLARE_METATYPE(procedure::Field)
Q_DECLARE_METATYPE(procedure::Mark)
Q_DECLARE_METATYPE(readings::Position)

class TestProcedureModel : public QObject
{
    Q_OBJECT

private slots:
    // Whole runs
    void identification();
    void validationRun_data();
    void validationRun();
    void changeAndSave_data();
    void changeAndSave();
    // Bad data and the ways out
    void badData_data();
    void badData();
    void noResponse();
    void communicationErrorAbort();
    void closeWithUnsavedConstants();
    // What the operator's hands and the history follow
    void samplingSignals_data();
    void samplingSignals();
    void noSamplingAfterLinkLostUnderPrompt();
    void readingsAsValues_data();
    void readingsAsValues();
    // The link
    void linkLostDuringTransfer();
    void linkLostUnderPrompt();
    // Traces
    void tracesInTheirCategory();
};

void TestProcedureModel::identification()
{
    Bench b;
    b.identify();
    QCOMPARE(b.wire, QByteArray("toff\rrcal\r"));
    QCOMPARE(b.model.field(Field::SerialNumber), QString("40317-20415"));
    QCOMPARE(b.model.field(Field::OldSlope), QString("0.002875"));
    QCOMPARE(b.model.field(Field::OldOffset), QString("-14.37500"));
    QCOMPARE(b.titles(), QStringList({"User Action Needed", "VALIDATION PROCESS"}));
    QCOMPARE(
        b.prompts.at(1).text,
        QString("Using Sensor menu structure, start sampling process. \r\n\n\t\tTHEN CLICK OK"));
    QCOMPARE(b.model.state(), Procedure::CollectingHighValues);
    QVERIFY(b.isActive(Timer::Tick));
    QCOMPARE(b.interval[int(Timer::Tick)], Procedure::kTickIntervalMs);
}

void TestProcedureModel::validationRun_data()
{
    QTest::addColumn<Button>("create");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<history::Outcome>("outcome");
    QTest::newRow("date set") << Button::Yes << dateCommand() + "***e\rtoff\r"
                              << history::Outcome::ValidatedDateSet;
    QTest::newRow("nothing written")
        << Button::No << QByteArray() << history::Outcome::ValidatedNoRecord;
}

void TestProcedureModel::validationRun()
{
    QFETCH(Button, create);
    QFETCH(QByteArray, tail);
    QFETCH(history::Outcome, outcome);
    Bench b;
    QSignalSpy recordDue(&b.model, &Procedure::recordDue);
    b.identify();
    b.collect(kHigh);
    QCOMPARE(b.model.field(Field::HighValidate), QString("525.0"));
    b.answers << Button::Yes << create;
    b.collect(kLow);
    QCOMPARE(b.model.field(Field::LowValidate), QString("200.0"));
    b.sendAll();
    b.sendAll();

    QCOMPARE(b.wire, "toff\rrcal\rtoff\r" + tail);
    QVERIFY(b.unexpected.isEmpty());
    QCOMPARE(b.prompts.at(3).escape, procedure::Escape::AnswersYes);
    QCOMPARE(b.outcomes.size(), 1);
    QCOMPARE(b.outcomes.first().first, outcome);
    QCOMPARE(recordDue.size(), create == Button::Yes ? 1 : 0);
    QVERIFY(!b.model.hasUnsavedConstants());
}

void TestProcedureModel::changeAndSave_data()
{
    QTest::addColumn<Button>("final");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<history::Outcome>("outcome");
    QTest::newRow("save") << Button::Save
                          << "Cslp=0.002500\rCoff=-12.50000\r" + dateCommand() + "***e\rtoff\r"
                          << history::Outcome::Recalibrated;
    QTest::newRow("abort") << Button::Abort << QByteArray("Cslp=0.002875\rCoff=-14.37500\rtoff\r")
                           << history::Outcome::RecalibrationAbandoned;
}

void TestProcedureModel::changeAndSave()
{
    QFETCH(Button, final);
    QFETCH(QByteArray, tail);
    QFETCH(history::Outcome, outcome);
    Bench b;
    b.toNewConstants();
    QCOMPARE(b.model.field(Field::NewSlope), QString("0.002500"));
    QCOMPARE(b.model.field(Field::NewOffset), QString("-12.50000"));
    QCOMPARE(b.interval[int(Timer::Send)], Procedure::kSendIntervalMs);
    b.sendAll();
    QVERIFY(b.model.hasUnsavedConstants());
    QCOMPARE(b.prompts.last().box, procedure::Box::Verification);
    b.collect(kHigh);
    QCOMPARE(b.model.field(Field::High), QString("525.0"));
    b.answers << final;
    b.collect(kLow);
    QCOMPARE(b.prompts.last().escape, procedure::Escape::Ignored);
    b.sendAll();

    QCOMPARE(b.wire, "toff\rrcal\rtoff\rCslp=0.002500\rCoff=-12.50000\rtoff\rtoff\r" + tail);
    QVERIFY(b.unexpected.isEmpty());
    QCOMPARE(b.outcomes.size(), 1);
    QCOMPARE(b.outcomes.first().first, outcome);
    QVERIFY(!b.model.hasUnsavedConstants());
    // The record sees the verification readings only when they are kept.
    QCOMPARE(b.model.recordInputs().verificationLow.isEmpty(), final == Button::Abort);
    QCOMPARE(b.model.reading(Field::Low).taken, final == Button::Save);
    QVERIFY(!b.model.recordInputs().validationRun);
}

void TestProcedureModel::badData_data()
{
    QTest::addColumn<bool>("calibration");
    QTest::addColumn<QByteArray>("bad");
    QTest::addColumn<Button>("answer");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("detail");
    QTest::newRow("reading retried")
        << false << kTooFew << Button::Retry << QStringList() << QString();
    QTest::newRow("reading cancelled") << false << kTooFew << Button::Cancel
                                       << QStringList({"status: " + texts::kCancelled, "close"})
                                       << "Bad Data from Sensor: validation high reading";
    QTest::newRow("counts retried")
        << true << kOutOfWindow << Button::Retry << QStringList() << QString();
    // The status comes after the close here, as it always has.
    QTest::newRow("counts cancelled")
        << true << kOutOfWindow << Button::Cancel
        << QStringList({"close", "status: User Cancelled:Restart Program"})
        << "Bad Data from Sensor: calibration data";
}

void TestProcedureModel::badData()
{
    QFETCH(bool, calibration);
    QFETCH(QByteArray, bad);
    QFETCH(Button, answer);
    QFETCH(QStringList, events);
    QFETCH(QString, detail);
    Bench b;
    b.identify();
    if (calibration) {
        b.collect(kHigh);
        b.answers << Button::No;
        b.collect(kLow);
    }
    b.events.clear();
    b.answers << answer;
    b.collect(bad);

    // The echo of the data lines aside, what the operator is told.
    const QStringList told = b.events.filter(QRegularExpression("^status: (Data|Validation) Set "));
    for (const QString &echo : told)
        b.events.removeOne(echo);
    QCOMPARE(b.events, events);
    QVERIFY(b.unexpected.isEmpty());
    const QByteArray wireBefore = b.wire;
    if (answer == Button::Retry) {
        QCOMPARE(b.prompts.last().title, QString("User Action Required"));
        QVERIFY(b.prompts.last().text.endsWith(kStartSampling));
        QVERIFY(b.isActive(Timer::Tick));
        QCOMPARE(b.model.state(), calibration ? Procedure::CollectingCalibrationData
                                              : Procedure::CollectingHighValues);
        QVERIFY(b.outcomes.isEmpty());
    } else {
        QVERIFY(!b.isActive(Timer::Tick));
        QCOMPARE(b.outcomes.size(), 1);
        QCOMPARE(b.outcomes.first().first, history::Outcome::Cancelled);
        QCOMPARE(b.outcomes.first().second, detail);
    }
    QCOMPARE(b.wire, wireBefore);
    QCOMPARE(b.model.field(Field::NewSlope), QString());
}

void TestProcedureModel::noResponse()
{
    Bench b;
    b.model.start(QStringLiteral("ttyTEST0"));
    for (int i = 0; i <= Procedure::kReplyCountdown; ++i)
        b.model.tick();
    QCOMPARE(b.wire, QByteArray("toff\r"));
    QVERIFY(!b.isActive(Timer::Tick));
    QCOMPARE(b.titles(), QStringList({"Error Detected"}));
    QCOMPARE(b.prompts.first().text, QString("No Response from Sensor"));
    QCOMPARE(b.outcomes.size(), 1);
    QCOMPARE(b.outcomes.first().first, history::Outcome::NoResponse);
}

void TestProcedureModel::communicationErrorAbort()
{
    Bench b;
    b.answers << Button::Abort;
    b.model.start(QStringLiteral("ttyTEST0"));
    b.model.receive("Timeout in 30 minutes\r\n");
    b.model.receive("garbage\r\nC3 =    0.00000\r\n");
    QVERIFY(b.prompts.first().buttons == (Button::Abort | Button::Retry));
    QCOMPARE(b.events.last(), QString("close"));
    QCOMPARE(b.wire, QByteArray("toff\rrcal\r"));
    QCOMPARE(b.outcomes.size(), 1);
    QCOMPARE(b.outcomes.first().second, QString("Sensor Communication Error"));
}

void TestProcedureModel::closeWithUnsavedConstants()
{
    Bench b;
    b.toNewConstants();
    b.model.sendTick(); // the new slope is in the sensor now
    QVERIFY(b.model.hasUnsavedConstants());
    b.events.clear();
    b.model.beginRestoreBeforeClose();
    b.sendAll();

    QVERIFY(b.wire.endsWith("Cslp=0.002500\rCslp=0.002875\rCoff=-14.37500\rtoff\r"));
    QVERIFY(!b.model.hasUnsavedConstants());
    QCOMPARE(b.events.first(), QString("status: Restoring Previous Constants"));
    QCOMPARE(b.events.last(), QString("close"));
    QCOMPARE(b.outcomes.last().first, history::Outcome::Cancelled);
}

void TestProcedureModel::samplingSignals_data()
{
    QTest::addColumn<QList<QByteArray>>("collections");
    QTest::addColumn<QList<Button>>("answers");
    QTest::addColumn<QList<Position>>("positions");

    QTest::newRow("validation only")
        << QList<QByteArray>{kHigh, kLow} << QList<Button>{Button::Yes, Button::No}
        << QList<Position>{Position::High, Position::Low};
    QTest::newRow("change and save")
        << QList<QByteArray>{kHigh, kLow, kHigh, kHigh, kLow}
        << QList<Button>{Button::No, Button::Save}
        << QList<Position>{Position::High, Position::Low, Position::High, Position::High,
                           Position::Low};
    // A bad low reading restarts the pair from the high one.
    QTest::newRow("low reading retried")
        << QList<QByteArray>{kHigh, kTooFew} << QList<Button>{Button::Retry}
        << QList<Position>{Position::High, Position::Low, Position::High};
    QTest::newRow("counts retried")
        << QList<QByteArray>{kHigh, kLow, kOutOfWindow} << QList<Button>{Button::No, Button::Retry}
        << QList<Position>{Position::High, Position::Low, Position::High, Position::High};
}

// Each prompt to start sampling is announced with its switch position before
// it is asked and confirmed once answered, before the collection starts; each
// collection's end is announced once.
void TestProcedureModel::samplingSignals()
{
    QFETCH(QList<QByteArray>, collections);
    QFETCH(QList<Button>, answers);
    QFETCH(QList<Position>, positions);
    Bench b;
    QList<Position> requested;
    QList<Position> confirmed;
    int ended = 0;
    qsizetype promptsWhenRequested = -1;
    QObject::connect(&b.model, &Procedure::samplingRequested, [&](Position position) {
        requested << position;
        promptsWhenRequested = b.prompts.size();
    });
    QObject::connect(&b.model, &Procedure::samplingConfirmed, [&](Position position) {
        confirmed << position;
        // Its prompt, the one asked right after the request, was answered;
        // the collection has not begun yet.
        QCOMPARE(b.prompts.size(), promptsWhenRequested + 1);
        QVERIFY(b.prompts.last().text.endsWith(kStartSampling));
        QVERIFY(!b.isActive(Timer::Tick));
    });
    QObject::connect(&b.model, &Procedure::collectionEnded, [&] {
        ++ended;
        QVERIFY(!b.isActive(Timer::Tick));
    });

    b.identify();
    b.answers = answers;
    for (const QByteArray &lines : collections) {
        b.collect(lines);
        b.sendAll();
    }

    QVERIFY(b.unexpected.isEmpty());
    QCOMPARE(requested, positions);
    QCOMPARE(confirmed, positions);
    QCOMPARE(ended, collections.size());
    // Every prompt that asks for sampling was announced, and no other.
    int sampling = 0;
    for (const procedure::Prompt &prompt : std::as_const(b.prompts))
        sampling += prompt.text.endsWith(kStartSampling) ? 1 : 0;
    QCOMPARE(sampling, positions.size());
}

void TestProcedureModel::noSamplingAfterLinkLostUnderPrompt()
{
    // The cable goes while the first prompt to start sampling is open.
    Bench b;
    QSignalSpy requested(&b.model, &Procedure::samplingRequested);
    QSignalSpy confirmed(&b.model, &Procedure::samplingConfirmed);
    QObject::connect(&b.model, &Procedure::samplingRequested, [&b] {
        b.whileAsked = [&b] { b.model.linkLost(QStringLiteral("gone"), QStringLiteral("gone")); };
    });
    b.identify();
    QCOMPARE(requested.size(), 1);
    QCOMPARE(confirmed.size(), 0);
    QVERIFY(!b.isActive(Timer::Tick));
    QCOMPARE(b.prompts.last().title, QString("Error Detected"));
}

void TestProcedureModel::readingsAsValues_data()
{
    QTest::addColumn<QByteArray>("high");
    QTest::addColumn<QByteArray>("low"); // empty: the high reading only
    QTest::addColumn<Field>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("inWindow");

    QTest::newRow("high inside") << kHigh << QByteArray() << Field::HighValidate << "525.0" << 525.0
                                 << true;
    QTest::newRow("high on its bound") << dataLines("215000,25.0,585.0,0") << QByteArray()
                                       << Field::HighValidate << "585.0" << 585.0 << true;
    QTest::newRow("high above") << kOutOfWindow << QByteArray() << Field::HighValidate << "737.5"
                                << 737.5 << false;
    QTest::newRow("high not a number") << dataLines("215000,25.0,5x5,0") << QByteArray()
                                       << Field::HighValidate << "5x5" << 0.0 << false;
    QTest::newRow("low inside") << kHigh << kLow << Field::LowValidate << "200.0" << 200.0 << true;
    QTest::newRow("low below") << kHigh << dataLines("85000,25.0,174.9,0") << Field::LowValidate
                               << "174.9" << 174.9 << false;
}

// A reading is kept as the number the sensor sent and its verdict, and the
// field shows the sensor's own text, marked by that verdict.
void TestProcedureModel::readingsAsValues()
{
    QFETCH(QByteArray, high);
    QFETCH(QByteArray, low);
    QFETCH(Field, field);
    QFETCH(QString, text);
    QFETCH(double, value);
    QFETCH(bool, inWindow);
    Bench b;
    QSignalSpy shown(&b.model, &Procedure::fieldChanged);
    b.identify();
    QVERIFY(!b.model.reading(field).taken);
    b.collect(high);
    if (!low.isEmpty()) {
        b.answers << Button::Yes << Button::No;
        b.collect(low);
    }
    QVERIFY(b.unexpected.isEmpty());

    const procedure::Reading reading = b.model.reading(field);
    QVERIFY(reading.taken);
    QCOMPARE(reading.text, text);
    QCOMPARE(reading.value, value);
    QCOMPARE(reading.inWindow, inWindow);
    const TipKind *tip = tipKindById(1); // the listing's RT-5K-MQ, range 2000
    QCOMPARE(b.model.tip(), tip);
    const Window<double> window = field == Field::HighValidate ? tip->highWindow : tip->lowWindow;
    QCOMPARE(reading.window.low, window.low);
    QCOMPARE(reading.window.high, window.high);
    QCOMPARE(b.model.field(field), text);

    QList<QVariant> last;
    for (const QList<QVariant> &signal : std::as_const(shown))
        if (signal.at(0).value<Field>() == field)
            last = signal;
    QCOMPARE(last.size(), 3);
    QCOMPARE(last.at(1).toString(), text);
    QCOMPARE(last.at(2).value<procedure::Mark>(),
             inWindow ? procedure::Mark::InWindow : procedure::Mark::OutWindow);
    // A text field holds no reading.
    QVERIFY(!b.model.reading(Field::SerialNumber).taken);
}

void TestProcedureModel::linkLostDuringTransfer()
{
    Bench b;
    b.toNewConstants();
    b.model.sendTick(); // Cslp= out
    b.failWrites = true;
    b.model.sendTick(); // Coff= fails
    b.model.sendTick();
    b.model.tick();

    QVERIFY(b.wire.endsWith("toff\rCslp=0.002500\r"));
    QVERIFY(b.model.isLinkLost());
    QVERIFY(!b.open);
    QVERIFY(b.releasedDeferred);
    QVERIFY(!b.isActive(Timer::Send));
    QVERIFY(!b.isActive(Timer::Tick));
    QCOMPARE(b.outcomes.size(), 1);
    QCOMPARE(b.outcomes.first().first, history::Outcome::LinkLost);
    QCOMPARE(b.outcomes.first().second, QString("sending new constants"));
    const QString text = b.prompts.last().text;
    QVERIFY(text.startsWith("The connection to the sensor was lost (cable pulled)."));
    QVERIFY(text.contains("New constants were sent to the sensor but not saved."));
    QVERIFY(text.contains("on port ttyTEST0"));
    QCOMPARE(b.events.last(), QString("status: Program can not continue"));
}

void TestProcedureModel::linkLostUnderPrompt()
{
    // The link goes while "Verify Validation Values" is open: whatever the
    // operator answers, nothing more is sent or asked.
    Bench b;
    b.identify();
    b.collect(kHigh);
    b.answers << Button::No;
    b.whileAsked = [&b] {
        if (b.prompts.last().title == QLatin1String("User Action Needed"))
            b.model.linkLost(QStringLiteral("gone"), QStringLiteral("gone"));
    };
    b.collect(kLow);
    const int asked = b.prompts.size();
    b.sendAll();
    b.model.tick();

    QCOMPARE(b.wire, QByteArray("toff\rrcal\rtoff\r"));
    QCOMPARE(b.prompts.size(), asked);
    QCOMPARE(b.prompts.last().title, QString("Error Detected"));
    QVERIFY(b.model.isValidationRun());
    QCOMPARE(b.model.state(), Procedure::CollectingLowValues);
}

namespace
{
QStringList traced;
void traceCollector(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    traced << QString::fromLatin1(context.category) + QStringLiteral(": ") + message;
}
} // namespace

void TestProcedureModel::tracesInTheirCategory()
{
    // On by default, so the debug output keeps every trace.
    QVERIFY(lcCalibration().isDebugEnabled());
    traced.clear();
    const QtMessageHandler previous = qInstallMessageHandler(traceCollector);
    {
        Bench b;
        b.model.start(QStringLiteral("ttyTEST0"));
        b.failWrites = true; // "rcal" does not go out
        b.model.receive("Timeout in 30 minutes\r\n");
    }
    qInstallMessageHandler(previous);
    QCOMPARE(traced, QStringList({traces::inCategory(traces::kStopTimerEnd),
                                  traces::inCategory(traces::linkLost("write failed"))}));
}

QTEST_GUILESS_MAIN(TestProcedureModel)
#include "tst_proceduremodel.moc"
