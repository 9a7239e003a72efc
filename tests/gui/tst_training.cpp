// The training program's pieces: its options, its port list, and whole runs
// in which the test only clicks the prompts and the simulated sensor starts
// sampling by itself. The screen's timers are driven by calling their slots.

#include "core/history/trainingserial.h"
#include "gui/calibrationdlg.h"
#include "gui/infobar.h"
#include "tests/support/debugcapture.h"
#include "tests/support/guisuite.h"
#include "tests/support/modalanswerer.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"
#include "training/trainingoptions.h"
#include "training/trainingsession.h"

#include <QComboBox>
#include <QCommandLineParser>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using Position = SimulatedSensor::Position;
Q_DECLARE_METATYPE(TrainingOptions::Model)
Q_DECLARE_METATYPE(TrainingOptions::Fault)

namespace
{

// Lines a second, so a reading's data come in well under a second.
constexpr int kFastLineIntervalMs = 5;
// More than a reading needs (nine complete lines).
constexpr int kLinesPerReading = 12;
// How the training program's lost-connection box names the simulated unplug.
const QString kCablePulled = QStringLiteral("the cable was pulled");

bool parse(const QStringList &arguments, TrainingOptions *options, QString *error)
{
    QCommandLineParser parser;
    addTrainingOptions(parser);
    if (!parser.parse(QStringList{"zolvex-training"} + arguments)) {
        *error = parser.errorText();
        return false;
    }
    return readTrainingOptions(parser, options, error);
}

// A calibration screen on the training session's port list, as the training
// program's main window opens it.
class TrainingRun
{
public:
    explicit TrainingRun(TrainingOptions options)
        : session(withFastLines(options)), screen(session.portLister())
    {
        screen.setLinkLossNamer(session.linkLossNamer());
        QObject::connect(&session, &TrainingSession::samplingStarted, &session,
                         [this](Position position) {
                             positions.append(position);
                             statusAtSamplingStart_ = status();
                         });
        screen.show();
    }

    // What the operator reads: the status line's label.
    QString status() const { return screenparts::statusLabel(screen)->text(); }
    QTimer *tickTimer() const { return screenparts::tickTimer(screen); }
    QTimer *sendTimer() const { return screenparts::sendTimer(screen); }
    QLineEdit *field(Field which) const { return screenparts::field(screen, which); }

    void connect() { screenparts::connectButton(screen)->click(); }

    // Waits until the screen has echoed `lines` data lines of the sampling run
    // that started last; gives up at once on an unexpected window or a status
    // that ends the run.
    bool waitForLines(int lines)
    {
        static const QRegularExpression echo(
            "^(?:" + QRegularExpression::escape(texts::kValidationSet) + "|" +
            QRegularExpression::escape(texts::kDataSet) + ")(\\d+) : ");
        const auto echoed = [&] {
            const QString now = status();
            const QRegularExpressionMatch m = echo.match(now);
            return now != statusAtSamplingStart_ && m.hasMatch() &&
                   m.captured(1).toInt() + 1 >= lines;
        };
        return QTest::qWaitFor([&] {
                   return echoed() || ModalAnswerer::sawUnexpected() ||
                          texts::kEndStatuses.contains(status());
               }) &&
               echoed() && !ModalAnswerer::sawUnexpected();
    }

    // Ticks until the screen acts: a window answered or a command sequence begun.
    bool tickUntilActed()
    {
        const auto before = answers.seen().size();
        for (int i = 0; i <= CalibrationDlg::kDataCountdown + 1; ++i) {
            screenparts::tickOnce(screen);
            if (answers.seen().size() > before || sendTimer()->isActive())
                return !ModalAnswerer::sawUnexpected();
        }
        return false;
    }

    // One reading: the sensor samples after the click, the screen collects.
    bool collect(int lines = kLinesPerReading) { return waitForLines(lines) && tickUntilActed(); }

    // Sends commands until the sequence ends with a window. Each command
    // reaches the sensor before the next, as when they go 5 s apart.
    bool sendUntilWindow()
    {
        const auto before = answers.seen().size();
        for (int i = 0; i < 8 && answers.seen().size() == before; ++i) {
            const auto sent = session.sensor().received().size();
            screenparts::sendTickOnce(screen);
            if (answers.seen().size() == before && !QTest::qWaitFor([&] {
                    return session.sensor().received().size() > sent ||
                           ModalAnswerer::sawUnexpected();
                }))
                return false;
            if (ModalAnswerer::sawUnexpected())
                return false;
        }
        return answers.seen().size() > before;
    }

    TrainingSession session;
    CalibrationDlg screen;
    ModalAnswerer answers;
    QList<Position> positions;

private:
    static TrainingOptions withFastLines(TrainingOptions options)
    {
        options.samplingIntervalMs = kFastLineIntervalMs;
        return options;
    }
    QString statusAtSamplingStart_;
};

} // namespace

class TrainingTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void refusedOptions_data();
    void refusedOptions();
    void helpListsEveryChoice();
    void simulatedSensorIsOfferedFirst();
    void changeAndSaveWithClicksOnly();
    void badDataOnceThenRetry();
    void unplugDuringCalibrationData();
    void productBoxKeepsSystemError();
    void everyScreenIsFollowed();
    void faultAtConnect_data();
    void faultAtConnect();
    void serialShownWhole_data();
    void serialShownWhole();
};

void TrainingTest::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<TrainingOptions::Model>("model");
    QTest::addColumn<double>("drift");
    QTest::addColumn<TrainingOptions::Fault>("fault");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("serial");

    using M = TrainingOptions::Model;
    using F = TrainingOptions::Fault;
    QTest::newRow("defaults") << QStringList() << M::MetreRange2000 << 0.15 << F::None << "RT-5K-MQ"
                              << "2000"
                              << "TR-20415";
    QTest::newRow("cm 2000") << QStringList{"--model", "ps-cm-2000", "--drift", "0"}
                             << M::CentimetreRange2000 << 0.0 << F::None << "RT-5K-MQ-CM"
                             << "2000"
                             << "TR-20871";
    QTest::newRow("cm 10000") << QStringList{"--model=ps-cm-10000", "--drift=-0.2"}
                              << M::CentimetreRange10000 << -0.2 << F::None << "RT-5K-MQ-CM"
                              << "10000"
                              << "TR-21107";
    QTest::newRow("old firmware") << QStringList{"--fault", "old-firmware"} << M::MetreRange2000
                                  << 0.15 << F::OldFirmware << "RT-5K-MQ"
                                  << "2000"
                                  << "TR-20415";
}

void TrainingTest::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(TrainingOptions::Model, model);
    QFETCH(double, drift);
    QFETCH(TrainingOptions::Fault, fault);
    QFETCH(QString, type);
    QFETCH(QString, range);
    QFETCH(QString, serial);

    TrainingOptions options;
    QString error;
    QVERIFY2(parse(arguments, &options, &error), qPrintable(error));
    QCOMPARE(options.model, model);
    QCOMPARE(options.drift, drift);
    QCOMPARE(options.fault, fault);

    const SensorProfile profile = profileFor(options);
    QCOMPARE(profile.type, type);
    QCOMPARE(profile.maxConductivity, range);
    // The drift moves the stored slope away from the sensor's true response.
    QVERIFY(qFuzzyCompare(profile.slope, profile.trueSlope * (1 + drift)));
    QCOMPARE(profile.firmware == "2.12", fault != TrainingOptions::Fault::OldFirmware);
    // A practice sensor's serial number says so; the simulator's own stays real.
    QCOMPARE(profile.serialNumber, serial);
    QVERIFY(history::isTrainingSerial(profile.serialNumber));
    QVERIFY(!history::isTrainingSerial(metreProfile().serialNumber));
}

void TrainingTest::refusedOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");

    QTest::newRow("model") << QStringList{"--model", "ps-m-5000"} << "ps-m-5000";
    QTest::newRow("drift text") << QStringList{"--drift", "much"} << "much";
    QTest::newRow("drift too far") << QStringList{"--drift", "1.5"} << "1.5";
    QTest::newRow("drift nan") << QStringList{"--drift", "nan"} << "nan";
    QTest::newRow("fault") << QStringList{"--fault", "fire"} << "fire";
}

void TrainingTest::refusedOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);

    TrainingOptions options;
    options.drift = 0.5;
    QString error;
    QVERIFY(!parse(arguments, &options, &error));
    QVERIFY2(error.contains(named), qPrintable(error));
    QCOMPARE(options.drift, 0.5); // left as it was
}

void TrainingTest::helpListsEveryChoice()
{
    QCommandLineParser parser;
    addTrainingOptions(parser);
    const QString help = parser.helpText();
    for (const char *word :
         {"--model", "--drift", "--fault", "ps-m-2000", "ps-cm-2000", "ps-cm-10000", "none",
          "no-reply", "old-firmware", "bad-data", "unplug"})
        QVERIFY2(help.contains(QLatin1String(word)), word);
    // What the default drift does, as README says it: both readings fail. The
    // parser wraps long descriptions, so the words are compared unwrapped.
    const QString words = help.simplified();
    QVERIFY2(words.contains("(default 0.15: both validation readings fail, a calibration mends "
                            "them; 0: a sensor in calibration)."),
             qPrintable(words));
    QVERIFY(!words.contains("high reading fails"));
}

void TrainingTest::simulatedSensorIsOfferedFirst()
{
    TrainingSession session{TrainingOptions()};
    const QList<PortDescription> ports = session.portLister()();
    QVERIFY(!ports.isEmpty());
    QCOMPARE(ports.first().portName, session.sensor().portPath());
    QVERIFY(isSensorPort(ports.first()));
    QCOMPARE(ports.size(), systemPorts().size() + 1);

    CalibrationDlg screen(session.portLister());
    QCOMPARE(screenparts::portBox(screen)->currentText(), session.sensor().portPath());
}

// Validation fails on the drifted sensor, the constants are changed,
// verification passes and they are saved, the record file included.
void TrainingTest::changeAndSaveWithClicksOnly()
{
    QTemporaryDir dir;
    const QString recordPath = dir.filePath("record.txt");
    TrainingRun run{TrainingOptions()};
    run.answers.click(QMessageBox::Ok)
        .click(QMessageBox::Ok)    // start sampling, high
        .click(QMessageBox::Ok)    // low
        .click(QMessageBox::No)    // change the constants
        .click(QMessageBox::Ok)    // calibration data
        .click(QMessageBox::Ok)    // verification, high
        .click(QMessageBox::Ok)    // low
        .click(QMessageBox::Save); // keep them
    run.answers.fileName(recordPath);

    run.connect();
    QVERIFY(QTest::qWaitFor([&] { return run.positions.size() == 1; }));
    QVERIFY(run.collect()); // validation high
    QVERIFY(run.collect()); // validation low, then the decision
    // The default drift fails both readings, as the help says.
    QCOMPARE(run.field(Field::HighValidation)->palette().color(QPalette::Base), QColor(Qt::red));
    QCOMPARE(run.field(Field::LowValidation)->palette().color(QPalette::Base), QColor(Qt::red));
    QVERIFY(run.collect()); // calibration data
    QVERIFY(run.sendTimer()->isActive());
    QVERIFY(run.sendUntilWindow());
    QVERIFY(run.collect()); // verification high
    QVERIFY(run.collect()); // verification low, then the decision
    QVERIFY(run.sendUntilWindow());
    QCOMPARE(run.answers.pending(), 0);

    QCOMPARE(windowTitles(run.answers.seen()), texts::kChangeAndSaveTitles);
    for (const SeenWindow &window : run.answers.seen())
        QVERIFY2(!window.answer.startsWith("unexpected"), qPrintable(window.answer));
    QCOMPARE(run.positions, QList<Position>({Position::High, Position::Low, Position::High,
                                             Position::High, Position::Low}));
    QVERIFY(!run.session.sensor().isSampling());

    QCOMPARE(run.status(), texts::kCompletePrint);
    const QString slope = run.field(Field::NewSlope)->text();
    QCOMPARE(run.session.sensor().savedSlope(), slope.toDouble());
    // The calibration took out the drift.
    QVERIFY(qAbs(slope.toDouble() - metreProfile().trueSlope) < 0.02 * metreProfile().trueSlope);
    QCOMPARE(run.field(Field::HighValue)->palette().color(QPalette::Base), QColor(Qt::green));
    QCOMPARE(run.field(Field::LowValue)->palette().color(QPalette::Base), QColor(Qt::green));

    QFile record(recordPath);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QByteArray text = record.readAll();
    QVERIFY(text.contains("serial number = TR-20415"));
    QVERIFY(text.contains("New Constants\r\ncslp=" + slope.toLatin1() + "\r\n"));
}

void TrainingTest::badDataOnceThenRetry()
{
    TrainingOptions options;
    options.fault = TrainingOptions::Fault::BadData;
    TrainingRun run(options);
    run.answers.click(QMessageBox::Ok)
        .click(QMessageBox::Ok)
        .click(QMessageBox::Retry)
        .click(QMessageBox::Ok) // start sampling again, high
        .click(QMessageBox::Ok);

    run.connect();
    QVERIFY(QTest::qWaitFor([&] { return run.positions.size() == 1; }));
    QVERIFY(run.collect(4)); // a short reading
    QVERIFY(run.collect());  // the retry has full data
    QVERIFY(run.answers.waitUntilDone());
    QCOMPARE(
        windowTitles(run.answers.seen()),
        QStringList({texts::kUserActionNeeded, texts::kValidationProcess, texts::kErrorDetected,
                     texts::kUserActionRequired, texts::kValidationProcess}));
    QCOMPARE(run.answers.seen().at(2).text, texts::kBadData);
    QCOMPARE(run.positions, QList<Position>({Position::High, Position::High, Position::Low}));
    QVERIFY(!run.field(Field::HighValidation)->text().isEmpty());
}

void TrainingTest::unplugDuringCalibrationData()
{
    TrainingOptions options;
    options.fault = TrainingOptions::Fault::Unplug;
    TrainingRun run(options);
    run.answers.click(QMessageBox::Ok)
        .click(QMessageBox::Ok)
        .click(QMessageBox::Ok)
        .click(QMessageBox::No)
        .click(QMessageBox::Ok)  // calibration data: the cable goes
        .click(QMessageBox::Ok); // the lost connection

    run.connect();
    QVERIFY(QTest::qWaitFor([&] { return run.positions.size() == 1; }));
    QVERIFY(run.collect());
    QVERIFY(run.collect());
    QVERIFY(run.session.sensor().isOpen());
    QVERIFY(run.answers.waitUntilDone());
    QCOMPARE(run.answers.seen().last().title, texts::kErrorDetected);
    const QString unplugged = screenparts::portBox(run.screen)->currentText();
    // The box names the fault in words, not the system's error.
    const QString lost = run.answers.seen().last().text;
    QVERIFY2(lost.startsWith(texts::kLinkLostStart + kCablePulled + ").\r\n"), qPrintable(lost));
    QVERIFY2(lost.endsWith(texts::linkLostCheckCable(unplugged)), qPrintable(lost));
    QVERIFY(!run.session.sensor().isOpen());
    QCOMPARE(run.status(), texts::kStopped);
    QVERIFY(!run.tickTimer()->isActive());

    // Started again, as the box says: the screen opened anew lists the sensor
    // on its new port first, which opens and answers.
    run.screen.reject();
    CalibrationDlg again(run.session.portLister());
    again.setLinkLossNamer(run.session.linkLossNamer());
    again.show();
    QVERIFY(run.session.sensor().isOpen());
    const QString replugged = run.session.sensor().portPath();
    QCOMPARE(screenparts::portBox(again)->currentText(), replugged);
    const auto sent = run.session.sensor().received().size();
    run.answers.click(QMessageBox::Ok).click(QMessageBox::Ok); // the tip, start sampling
    screenparts::connectButton(again)->click();
    QVERIFY(run.answers.waitUntilDone());
    QCOMPARE(run.session.sensor().received().mid(sent), QByteArray("toff\rrcal\r"));
    QCOMPARE(windowTitles(run.answers.seen()).mid(run.answers.seen().size() - 2),
             QStringList({texts::kUserActionNeeded, texts::kValidationProcess}));
    QCOMPARE(screenparts::statusLabel(again)->text(), texts::kWait);
    // A loss on the new port is not the pulled cable's.
    QVERIFY(run.session.linkLossNamer()(replugged).isEmpty());
    QVERIFY(run.session.linkLossNamer()(unplugged).isEmpty());
}

// The product's screen has no namer: its box keeps the system's error text,
// the one the trace gives.
void TrainingTest::productBoxKeepsSystemError()
{
    TrainingOptions options;
    options.fault = TrainingOptions::Fault::Unplug;
    TrainingSession session(options);
    DebugCapture debug;
    CalibrationDlg screen(session.portLister());
    screen.show();
    ModalAnswerer answers;
    answers.click(QMessageBox::Ok);
    screenparts::connectButton(screen)->click();
    QVERIFY(session.sensor().isOpen());
    session.pullCable();
    QVERIFY(answers.waitUntilDone());
    QCOMPARE(answers.seen().size(), 1);
    QCOMPARE(answers.seen().first().title, texts::kErrorDetected);
    QString reason;
    for (const QString &line : debug.lines()) {
        if (line.startsWith(traces::kLinkLostBecause))
            reason = line.mid(traces::kLinkLostBecause.size()).chopped(1);
    }
    QVERIFY(!reason.isEmpty());
    QVERIFY(reason != kCablePulled);
    QVERIFY2(answers.seen().first().text.startsWith(texts::kLinkLostStart + reason + ")."),
             qPrintable(answers.seen().first().text));
}

// The main window opens a new screen for every run and deletes it afterwards:
// the session follows each one that talks to the sensor, once, and outlives it.
void TrainingTest::everyScreenIsFollowed()
{
    TrainingOptions options;
    options.samplingIntervalMs = kFastLineIntervalMs;
    TrainingSession session(options);
    QList<Position> positions;
    QObject::connect(&session, &TrainingSession::samplingStarted, &session,
                     [&positions](Position position) { positions.append(position); });
    ModalAnswerer answers;
    constexpr int kScreens = 2;
    for (int opened = 1; opened <= kScreens; ++opened) {
        auto screen = std::make_unique<CalibrationDlg>(session.portLister());
        screen->show();
        answers.click(QMessageBox::Ok).click(QMessageBox::Ok); // the tip, start sampling
        screenparts::connectButton(*screen)->click();
        QVERIFY(answers.waitUntilDone());
        QVERIFY(QTest::qWaitFor([&] { return positions.size() == opened; }));
        QVERIFY(session.sensor().isSampling());
        // The trainee stops sampling and the screen goes, as after a run.
        session.sensor().stopSampling();
        screen.reset();
    }
    QCOMPARE(positions, QList<Position>(kScreens, Position::High));
    QCOMPARE(session.samplingRuns(), kScreens);
}

void TrainingTest::faultAtConnect_data()
{
    QTest::addColumn<TrainingOptions::Fault>("fault");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("text");
    QTest::newRow("no reply") << TrainingOptions::Fault::NoReply << true << texts::kNoResponse;
    QTest::newRow("old firmware") << TrainingOptions::Fault::OldFirmware << false
                                  << texts::kFirmwareRefused;
}

void TrainingTest::faultAtConnect()
{
    QFETCH(TrainingOptions::Fault, fault);
    QFETCH(bool, silent);
    QFETCH(QString, text);
    TrainingOptions options;
    options.fault = fault;
    TrainingRun run(options);
    run.answers.click(QMessageBox::Ok);
    run.connect();
    // A silent sensor is found out when the reply countdown has run out.
    if (silent)
        QVERIFY(run.tickUntilActed());
    QVERIFY(run.answers.waitUntilDone());
    QCOMPARE(run.answers.seen().size(), 1);
    QCOMPARE(run.answers.seen().first().title, texts::kErrorDetected);
    QCOMPARE(run.answers.seen().first().text, text);
    QVERIFY(run.positions.isEmpty());
}

void TrainingTest::serialShownWhole_data()
{
    QTest::addColumn<TrainingOptions::Model>("model");
    QTest::newRow("ps-m-2000") << TrainingOptions::Model::MetreRange2000;
    QTest::newRow("ps-cm-2000") << TrainingOptions::Model::CentimetreRange2000;
    QTest::newRow("ps-cm-10000") << TrainingOptions::Model::CentimetreRange10000;
}

// The screen's serial field shows the practice serial number whole.
void TrainingTest::serialShownWhole()
{
    QFETCH(TrainingOptions::Model, model);
    TrainingOptions options;
    options.model = model;
    TrainingRun run(options);
    run.answers.click(QMessageBox::Ok).click(QMessageBox::Ok); // start sampling, high
    run.connect();
    QVERIFY(run.answers.waitUntilDone());
    QVERIFY(QTest::qWaitFor([&] { return run.positions.size() == 1; }));
    QLineEdit *edit = run.field(Field::Serial);
    QCOMPARE(edit->text(), profileFor(options).serialNumber);

    // As QLineEdit lays out its text: the frame, the text margins and two
    // pixels either side.
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    option.state |= QStyle::State_Sunken;
    constexpr int kInnerMargin = 2;
    const QRect room = edit->style()
                           ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                           .marginsRemoved(edit->textMargins())
                           .adjusted(kInnerMargin, 0, -kInnerMargin, 0);
    const int needs = QFontMetrics(edit->font()).horizontalAdvance(edit->text());
    QVERIFY2(needs <= room.width(),
             qPrintable(
                 QString("%1 needs %2 px, has %3").arg(edit->text()).arg(needs).arg(room.width())));
}

QTEST_MAIN(TrainingTest)
#include "tst_training.moc"
