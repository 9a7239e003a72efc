// The simulated sensor seen through a real QSerialPort, and the test helpers
// that answer modal windows and capture debug output.

#include "simulator/simulatedsensor.h"
#include "tests/support/debugcapture.h"
#include "tests/support/guisuite.h"
#include "tests/support/modalanswerer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Fault = SimulatedSensor::Fault;
using Position = SimulatedSensor::Position;

Q_DECLARE_METATYPE(SensorProfile)
Q_DECLARE_METATYPE(SimulatedSensor::Fault)

namespace
{

const QByteArray timeoutReply = "Timeout in 30 minutes\r\n";
const QByteArray endMarker = "C3 =    0.00000";

// The program's side of the cable: the port settings the sensor needs.
struct Wire {
    explicit Wire(const QString &path)
    {
        port.setPortName(path);
        port.setBaudRate(QSerialPort::Baud9600);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        QObject::connect(&port, &QSerialPort::readyRead, &port, [this] {
            ++chunks;
            bytes += port.readAll();
        });
        opened = port.open(QIODevice::ReadWrite);
    }
    bool waitFor(const QByteArray &text, int timeoutMs = 3000)
    {
        return QTest::qWaitFor([&] { return bytes.contains(text); }, timeoutMs);
    }
    bool waitForLines(int n, int timeoutMs = 3000)
    {
        return QTest::qWaitFor([&] { return bytes.count("\r\n") >= n; }, timeoutMs);
    }
    QList<QByteArray> lines() const
    {
        QList<QByteArray> result = bytes.split('\n');
        result.removeLast(); // the text after the last line end
        for (QByteArray &line : result)
            line.chop(1); // "\r"
        return result;
    }

    QSerialPort port;
    QByteArray bytes;
    int chunks = 0;
    bool opened = false;
};

QList<QByteArray> fields(const QByteArray &line)
{
    return line.split(',');
}

} // namespace

class TestSimulator : public GuiSuite
{
    Q_OBJECT

private slots:
    void answersTimeoutAndListing_data();
    void answersTimeoutAndListing();
    void appliesConstantsAndSaves();
    void dataLinesFollowTheConstants_data();
    void dataLinesFollowTheConstants();
    void samplingStreamsUntilStopped();
    void replyFaults_data();
    void replyFaults();
    void dataFaults();
    void portCanBeReopened();
    void hangUpMakesThePortFail();

    void answersMessageBoxes();
    void closesUnexpectedWindows();
    void fillsFileDialogs();
    void printsToPdf();

    void debugCaptureCollectsAndRestores();
};

void TestSimulator::answersTimeoutAndListing_data()
{
    QTest::addColumn<SensorProfile>("profile");
    QTest::addColumn<QList<QByteArray>>("expected"); // lines 0, 2, 4, 5, 8

    QTest::newRow("metre") << metreProfile()
                           << QList<QByteArray>{"RT-5K-MQ", "serial number = 40317-20415",
                                                "Cslope = 0.002500", "Coffset = -12.50000",
                                                "Maximum Conductivity = 2000"};
    QTest::newRow("centimetre") << centimetreProfile()
                                << QList<QByteArray>{"RT-5K-MQ-CM", "serial number = 40317-20871",
                                                     "Cslope = 0.002700", "Coffset = -13.50000",
                                                     "Maximum Conductivity = 2000"};
    QTest::newRow("wide") << centimetreWideProfile()
                          << QList<QByteArray>{"RT-5K-MQ-CM", "serial number = 40317-21107",
                                               "Cslope = 0.040000", "Coffset = -20.00000",
                                               "Maximum Conductivity = 10000"};
}

void TestSimulator::answersTimeoutAndListing()
{
    QFETCH(SensorProfile, profile);
    QFETCH(QList<QByteArray>, expected);

    SimulatedSensor sensor(profile);
    QVERIFY(sensor.isOpen());
    QVERIFY(sensor.portPath().startsWith("/dev/pts/"));
    QSignalSpy commands(&sensor, &SimulatedSensor::commandReceived);
    Wire wire(sensor.portPath());
    QVERIFY2(wire.opened, qPrintable(wire.port.errorString()));

    wire.port.write("toff\r");
    QVERIFY(wire.waitFor(timeoutReply));
    QCOMPARE(wire.bytes, timeoutReply);

    wire.bytes.clear();
    wire.port.write("rcal\r");
    QVERIFY(wire.waitFor(QByteArray(endMarker) + "\r\n"));
    QVERIFY(wire.bytes.endsWith("\r\n"));
    const QList<QByteArray> lines = wire.lines();
    QCOMPARE(lines.size(), 10);
    QCOMPARE(lines.at(0), expected.at(0));
    QCOMPARE(lines.at(1), QByteArray("Version 2.12"));
    QCOMPARE(lines.at(2), expected.at(1));
    QCOMPARE(lines.at(4), expected.at(2));
    QCOMPARE(lines.at(5), expected.at(3));
    QCOMPARE(lines.at(8), expected.at(4));
    QCOMPARE(lines.at(9), endMarker);

    QCOMPARE(sensor.received(), QByteArray("toff\rrcal\r"));
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands.at(0).at(0).toByteArray(), QByteArray("toff\r"));
    QCOMPARE(commands.at(1).at(0).toByteArray(), QByteArray("rcal\r"));
}

void TestSimulator::appliesConstantsAndSaves()
{
    SimulatedSensor sensor;
    QSignalSpy commands(&sensor, &SimulatedSensor::commandReceived);
    Wire wire(sensor.portPath());
    QVERIFY(wire.opened);

    // A command split over two writes, and several in one.
    wire.port.write("Cslp=0.0026");
    QVERIFY(QTest::qWaitFor([&] { return sensor.received().size() == 11; }));
    QCOMPARE(commands.size(), 0);
    wire.port.write("00\rCoff=-13.00000\rcdate=12/06/26\rCslp=abc\r");
    QVERIFY(QTest::qWaitFor([&] { return commands.size() == 4; }));
    QCOMPARE(commands.at(0).at(0).toByteArray(), QByteArray("Cslp=0.002600\r"));
    QCOMPARE(commands.at(2).at(0).toByteArray(), QByteArray("cdate=12/06/26\r"));

    QCOMPARE(sensor.workingSlope(), 0.0026);
    QCOMPARE(sensor.workingOffset(), -13.0);
    QCOMPARE(sensor.workingDate(), QString("12/06/26"));
    QCOMPARE(sensor.savedSlope(), 0.0025);
    QCOMPARE(sensor.savedOffset(), -12.5);
    QCOMPARE(sensor.savedDate(), QString("01/15/26"));
    QCOMPARE(sensor.saveCount(), 0);
    QCOMPARE(sensor.readingFor(200000), 507.0);

    wire.port.write("rcal\r");
    QVERIFY(wire.waitFor(endMarker));
    QVERIFY(wire.bytes.contains("Cslope = 0.002600\r\n"));
    QVERIFY(wire.bytes.contains("Coffset = -13.00000\r\n"));
    QVERIFY(wire.bytes.startsWith("RT-5K-MQ\r\n")); // nothing answered to the set commands

    wire.port.write("***e\r");
    QVERIFY(QTest::qWaitFor([&] { return sensor.saveCount() == 1; }));
    QCOMPARE(sensor.savedSlope(), 0.0026);
    QCOMPARE(sensor.savedOffset(), -13.0);
    QCOMPARE(sensor.savedDate(), QString("12/06/26"));
}

void TestSimulator::dataLinesFollowTheConstants_data()
{
    QTest::addColumn<SensorProfile>("profile");
    QTest::addColumn<double>("drift");
    QTest::addColumn<int>("lowestCounts"); // the window for counts on the high standard
    QTest::addColumn<int>("highestCounts");

    QTest::newRow("metre") << metreProfile() << 0.0 << 180000 << 225000;
    QTest::newRow("metre drifted") << metreProfile() << 0.06 << 180000 << 225000;
    QTest::newRow("centimetre") << centimetreProfile() << 0.0 << 155000 << 240000;
    QTest::newRow("centimetre drifted") << centimetreProfile() << -0.04 << 155000 << 240000;
    QTest::newRow("wide") << centimetreWideProfile() << 0.0 << 17000 << 37000;
    QTest::newRow("wide drifted") << centimetreWideProfile() << 0.03 << 17000 << 37000;
}

void TestSimulator::dataLinesFollowTheConstants()
{
    QFETCH(SensorProfile, profile);
    QFETCH(double, drift);
    QFETCH(int, lowestCounts);
    QFETCH(int, highestCounts);

    const SensorProfile changed = drifted(profile, drift);
    QVERIFY(qFuzzyCompare(-changed.offset / changed.slope, -profile.offset / profile.slope));
    SimulatedSensor sensor(changed);
    QCOMPARE(sensor.savedSlope(), changed.slope);
    Wire wire(sensor.portPath());
    QVERIFY(wire.opened);

    for (const Position position : {Position::High, Position::Low}) {
        const double standard =
            position == Position::High ? profile.highStandard : profile.lowStandard;
        wire.bytes.clear();
        sensor.emitDataLines(position, 20);
        QVERIFY(wire.waitForLines(20));
        QSet<int> distinctCounts;
        for (const QByteArray &line : wire.lines()) {
            const QList<QByteArray> f = fields(line);
            QCOMPARE(f.size(), 4);
            bool ok = false;
            const int counts = f.at(0).toInt(&ok);
            QVERIFY(ok);
            distinctCounts.insert(counts);
            QVERIFY(qAbs(counts - sensor.countsFor(standard)) <= profile.countNoise + 0.5);
            if (position == Position::High) {
                QVERIFY2(counts >= lowestCounts && counts <= highestCounts, line.constData());
            }
            QCOMPARE(f.at(2), QByteArray::number(sensor.readingFor(counts), 'f', 1));
            // A drifted slope reads the standard off by the drift.
            const double tolerance = profile.countNoise * changed.slope + 0.05;
            QVERIFY2(qAbs(f.at(2).toDouble() - standard * (1 + drift)) <= tolerance,
                     line.constData());
        }
        QVERIFY(distinctCounts.size() > 3); // the noise is there
    }
}

void TestSimulator::samplingStreamsUntilStopped()
{
    SimulatedSensor sensor;
    Wire wire(sensor.portPath());
    QVERIFY(wire.opened);

    sensor.startSampling(Position::Low, 20);
    QVERIFY(sensor.isSampling());
    QVERIFY(wire.waitForLines(3));
    sensor.stopSampling();
    QVERIFY(!sensor.isSampling());
    QTest::qWait(50); // let the last written line arrive
    const QByteArray streamed = wire.bytes;
    QTest::qWait(100);
    QCOMPARE(wire.bytes, streamed);
    const int counts = fields(wire.lines().first()).at(0).toInt();
    QVERIFY(qAbs(counts - sensor.countsFor(sensor.profile().lowStandard)) <=
            sensor.profile().countNoise + 0.5);
}

void TestSimulator::replyFaults_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QByteArray>("from"); // what changes in the normal answers
    QTest::addColumn<QByteArray>("to");

    QTest::newRow("silent") << Fault::Silent << QByteArray() << QByteArray();
    QTest::newRow("no version") << Fault::NoVersion << QByteArray("Version ")
                                << QByteArray("Firmware ");
    QTest::newRow("lower case") << Fault::LowercaseVersion << QByteArray("Version ")
                                << QByteArray("version ");
    QTest::newRow("garbled") << Fault::GarbledListing << endMarker << QByteArray("C3 =   0.00000");
    QTest::newRow("nul bytes") << Fault::NulBytes << QByteArray("\r\n") << QByteArray("\0\r\n", 3);
    QTest::newRow("split") << Fault::SplitReplies << QByteArray() << QByteArray("split");
}

void TestSimulator::replyFaults()
{
    QFETCH(Fault, fault);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);

    QByteArray expected;
    {
        SimulatedSensor normal;
        Wire wire(normal.portPath());
        QVERIFY(wire.opened);
        wire.port.write("toff\rrcal\r");
        QVERIFY(wire.waitFor(endMarker + "\r\n"));
        expected = wire.bytes;
    }
    if (fault == Fault::Silent)
        expected.clear();
    else if (!from.isEmpty())
        expected.replace(from, to);

    SimulatedSensor sensor;
    sensor.setFault(fault);
    Wire wire(sensor.portPath());
    QVERIFY(wire.opened);
    wire.port.write("toff\rrcal\r");
    QVERIFY(QTest::qWaitFor([&] { return sensor.received() == "toff\rrcal\r"; }));
    QVERIFY(QTest::qWaitFor([&] { return wire.bytes == expected; }));
    QTest::qWait(50);
    QCOMPARE(wire.bytes, expected); // and nothing more
    if (fault == Fault::SplitReplies)
        QVERIFY2(wire.chunks > expected.size() / 2, qPrintable(QString::number(wire.chunks)));
}

void TestSimulator::dataFaults()
{
    SimulatedSensor sensor(centimetreWideProfile()); // the smallest counts
    Wire wire(sensor.portPath());
    QVERIFY(wire.opened);

    sensor.setFault(Fault::CountsOutOfRange);
    for (const Position position : {Position::High, Position::Low}) {
        const QByteArray line = sensor.dataLine(position);
        const int counts = fields(line).at(0).toInt();
        QVERIFY2(counts < 17000 || counts > 240000, line.constData());
    }

    sensor.setFault(Fault::NonNumeric);
    const QList<QByteArray> f = fields(sensor.dataLine(Position::High));
    QCOMPARE(f.size(), 4);
    bool ok = true;
    f.at(0).toInt(&ok);
    QVERIFY(!ok);
    f.at(2).toDouble(&ok);
    QVERIFY(!ok);

    sensor.setFault(Fault::NulBytes);
    QVERIFY(sensor.dataLine(Position::Low).endsWith(QByteArray(",0\0\r\n", 5)));

    sensor.setFault(Fault::Silent);
    sensor.emitDataLines(Position::High, 3);

    // Each burst stops after four lines; a new one starts afresh.
    sensor.setFault(Fault::ShortData);
    sensor.emitDataLines(Position::High, 10);
    QVERIFY(wire.waitForLines(4));
    sensor.startSampling(Position::High, 10);
    QVERIFY(wire.waitForLines(8));
    QTest::qWait(150);
    QCOMPARE(wire.lines().size(), 8);
    QVERIFY(sensor.isSampling());
}

void TestSimulator::portCanBeReopened()
{
    SimulatedSensor sensor;
    {
        Wire first(sensor.portPath());
        QVERIFY(first.opened);
        first.port.write("toff\r");
        QVERIFY(first.waitFor(timeoutReply));
    }
    Wire second(sensor.portPath());
    QVERIFY2(second.opened, qPrintable(second.port.errorString()));
    second.port.write("rcal\r");
    QVERIFY(second.waitFor(endMarker));
    QCOMPARE(sensor.received(), QByteArray("toff\rrcal\r"));
}

void TestSimulator::hangUpMakesThePortFail()
{
    SimulatedSensor sensor;
    Wire wire(sensor.portPath());
    QVERIFY(wire.opened);
    QList<QSerialPort::SerialPortError> errors;
    QObject::connect(&wire.port, &QSerialPort::errorOccurred, &wire.port,
                     [&](QSerialPort::SerialPortError error) {
                         if (error == QSerialPort::NoError)
                             return;
                         errors.append(error);
                         wire.port.close(); // it reports again and again until closed
                     });

    wire.port.write("toff\r");
    QVERIFY(wire.waitFor(timeoutReply));
    sensor.hangUp();
    QVERIFY(!sensor.isOpen());
    QVERIFY(QTest::qWaitFor([&] { return !errors.isEmpty(); }));
    QVERIFY(errors.first() == QSerialPort::ReadError ||
            errors.first() == QSerialPort::ResourceError);
    QVERIFY(!wire.port.isOpen());
    sensor.send("late"); // nowhere to go, and no harm
}

void TestSimulator::answersMessageBoxes()
{
    ModalAnswerer answerer;
    QWidget *handled = nullptr;
    answerer.click(QMessageBox::Retry).escape().click(QMessageBox::Save);
    answerer.handle([&](QWidget *window) {
        handled = window;
        qobject_cast<QDialog *>(window)->done(7);
    });
    QCOMPARE(answerer.pending(), 4);

    QMessageBox error(QMessageBox::Warning, "Error Detected",
                      "Sensor Communication Error. Please try again",
                      QMessageBox::Retry | QMessageBox::Abort);
    QCOMPARE(error.exec(), int(QMessageBox::Retry));

    QMessageBox question(QMessageBox::Information, "User Action Needed", "Create a File",
                         QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question.exec(), int(QMessageBox::No)); // No is the escape button

    auto *final = new QMessageBox(QMessageBox::Information, "Final Calibration Phase", "Save?",
                                  QMessageBox::Save | QMessageBox::Abort);
    final->setAttribute(Qt::WA_DeleteOnClose);
    QCOMPARE(final->exec(), int(QMessageBox::Save));

    QDialog other;
    QCOMPARE(other.exec(), 7);
    QCOMPARE(handled, &other);

    QVERIFY(answerer.waitUntilDone(100));
    const QList<SeenWindow> &seen = answerer.seen();
    QCOMPARE(seen.size(), 4);
    QCOMPARE(seen.at(0).className, QString("QMessageBox"));
    QCOMPARE(seen.at(0).icon, QMessageBox::Warning);
    QCOMPARE(seen.at(0).buttons, QMessageBox::Retry | QMessageBox::Abort);
    QCOMPARE(seen.at(0).answer, QString("Retry"));
    QCOMPARE(seen.at(1).icon, QMessageBox::Information);
    QCOMPARE(seen.at(1).answer, QString("escape"));
    QCOMPARE(seen.at(2).answer, QString("Save"));
    QCOMPARE(seen.at(3).answer, QString("handled"));
    QCOMPARE(titles(seen),
             QStringList({"Error Detected: Sensor Communication Error. Please try again",
                          "User Action Needed: Create a File", "Final Calibration Phase: Save?"}));
}

void TestSimulator::closesUnexpectedWindows()
{
    ModalAnswerer answerer;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ModalAnswerer: .*no answer queued"));
    QMessageBox unasked(QMessageBox::Critical, "Error Detected", "No Response from Sensor");
    unasked.exec(); // returns instead of hanging

    answerer.click(QMessageBox::Yes);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ModalAnswerer: .*no button Yes"));
    QMessageBox okOnly(QMessageBox::Information, "VALIDATION PROCESS", "THEN CLICK OK");
    okOnly.exec();

    QCOMPARE(answerer.seen().size(), 2);
    QCOMPARE(answerer.seen().at(0).answer, QString("unexpected: no answer queued"));
    QCOMPARE(answerer.seen().at(1).answer, QString("unexpected: no button Yes"));
    QCOMPARE(answerer.seen().at(1).title, QString("VALIDATION PROCESS"));

    // An idle answerer, polling first, leaves the window to the busy one.
    ModalAnswerer idle;
    ModalAnswerer busy;
    busy.click(QMessageBox::Ok);
    QMessageBox later(QMessageBox::Information, "VALIDATION PROCESS", "THEN CLICK OK");
    QCOMPARE(later.exec(), int(QMessageBox::Ok));
    QVERIFY(idle.seen().isEmpty());
    QCOMPARE(busy.seen().size(), 1);

    // The unexpected windows are in the log all answerers share, which
    // outlives them; while it is not empty a wait for answers gives up at once.
    ModalAnswerer waiting;
    waiting.click(QMessageBox::Ok);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!waiting.waitUntilDone(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(ModalAnswerer::unexpectedWindows(),
             QStringList({"QMessageBox \"Error Detected\": No Response from Sensor (no answer "
                          "queued)",
                          "QMessageBox \"VALIDATION PROCESS\": THEN CLICK OK (no button Yes)"}));
    QCOMPARE(ModalAnswerer::takeUnexpectedWindows().size(), 2);
    QVERIFY(!ModalAnswerer::sawUnexpected());
    QVERIFY(ModalAnswerer::unexpectedWindows().isEmpty());
}

void TestSimulator::fillsFileDialogs()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("record.txt");
    ModalAnswerer answerer;

    answerer.fileName(path);
    QCOMPARE(QFileDialog::getSaveFileName(nullptr, "Save", dir.path(), "Text files (*.txt)"), path);

    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    answerer.fileName(path);
    QCOMPARE(QFileDialog::getOpenFileName(nullptr, "Open", dir.path(), "Text files (*.txt)"), path);

    // Saving over a file asks first, inside the dialog's accept().
    answerer.fileName(path).click(QMessageBox::Yes);
    QCOMPARE(QFileDialog::getSaveFileName(nullptr, "Save", dir.path(), "Text files (*.txt)"), path);
    QVERIFY(answerer.waitUntilDone(100));
    const QList<SeenWindow> &seen = answerer.seen();
    QCOMPARE(seen.size(), 4);
    QCOMPARE(seen.at(0).className, QString("QFileDialog"));
    QCOMPARE(seen.at(0).answer, path);
    QCOMPARE(seen.at(3).className, QString("QMessageBox"));
    QCOMPARE(seen.at(3).answer, QString("Yes"));

    answerer.reject();
    QVERIFY(QFileDialog::getSaveFileName(nullptr, "Save", dir.path()).isEmpty());
}

void TestSimulator::printsToPdf()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("record.pdf");
    ModalAnswerer answerer;
    answerer.printToPdf(path);

    QPrinter printer;
    QPrintDialog dialog(&printer);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QPainter painter;
    QVERIFY(painter.begin(&printer));
    painter.drawText(100, 100, "Calibration record");
    painter.end();

    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).className, QString("QPrintDialog"));
    QFile pdf(path);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.read(4) == "%PDF");
}

namespace
{
QStringList *outerLines = nullptr;
void outerHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    outerLines->append(message);
}
} // namespace

void TestSimulator::debugCaptureCollectsAndRestores()
{
    QStringList outer;
    outerLines = &outer;
    const QtMessageHandler testHandler = qInstallMessageHandler(outerHandler);
    {
        DebugCapture capture;
        qDebug() << "Command Value = " << 3;
        {
            DebugCapture inner;
            qDebug("End of StopTimer method");
            QVERIFY(inner.contains("End of StopTimer method"));
        }
        qDebug() << QByteArray("\"toff\r\"");
        QCOMPARE(capture.lines(), QStringList({"Command Value =  3", "\"\\\"toff\\r\\\"\""}));
        QVERIFY(!capture.contains("End of StopTimer method"));
        capture.clear();
        QVERIFY(capture.lines().isEmpty());
    }
    qDebug("after");
    qInstallMessageHandler(testHandler);
    QCOMPARE(outer, QStringList{"after"});
}

QTEST_MAIN(TestSimulator)
#include "tst_simulator.moc"
