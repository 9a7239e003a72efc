// Offering the sensor's ports, connecting, and letting go of the port however
// the screen ends. Which ports are the sensor's is the core's tst_ports; a
// "toff" reply in parts is a row of the fault matrix.

#include "gui/calibrationdlg.h"
#include "tests/support/guisuite.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QComboBox>
#include <QSerialPort>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include "gui/infobar.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(PortDescription)
Q_DECLARE_METATYPE(Field)

namespace
{

PortDescription port(const QString &name, const QString &enumName, bool hasVid, quint16 vid)
{
    PortDescription p;
    p.portName = name;
    p.enumName = enumName;
    p.hasVendorIdentifier = hasVid;
    p.vendorIdentifier = vid;
    return p;
}

} // namespace

class ConnectionTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void portListKeepsOrderAndOnlySensorPorts();
    void connectWritesTimeoutCommandFirst();
    void connectFailureShowsStatus();
    void noSensorPortSaysWhatToCheck_data();
    void noSensorPortSaysWhatToCheck();
    void closeBeforeConnect();
    void closeAfterConnectReleasesPort();
    void everyEndReleasesPort_data();
    void everyEndReleasesPort();
    void secondConnectReopens();
    void tracesWithoutThePort();
    void screenFieldsFound_data();
    void screenFieldsFound();
    void screenPartsFound();
    void timerSlotsCalledByName();
};

void ConnectionTest::portListKeepsOrderAndOnlySensorPorts()
{
    const QList<PortDescription> ports = {
        port("ttyS0", "", false, 0), port("ttyUSB1", "", true, 0x0403),
        port("ttyACM0", "", true, 0x2341), port("ttyUSB0", "", true, 0x0403)};
    CalibrationDlg screen([ports] { return ports; });
    auto *box = screenparts::portBox(screen);
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(0), QString("ttyUSB1"));
    QCOMPARE(box->itemText(1), QString("ttyUSB0"));
    QCOMPARE(box->currentIndex(), 0);
}

void ConnectionTest::connectWritesTimeoutCommandFirst()
{
    ScreenHarness h;
    h.sensor.setFault(SimulatedSensor::Fault::Silent);
    h.connect();
    QVERIFY(h.waitForReceived(5));
    QTest::qWait(50);
    QCOMPARE(h.sensor.received(), QByteArray("toff\r"));
    QCOMPARE(h.status(), texts::kInitializing);
    QVERIFY(h.tickTimer()->isActive());
    QCOMPARE(h.tickTimer()->interval(), 1000);
    QVERIFY(!h.sendTimer()->isActive());
    QVERIFY(QGuiApplication::overrideCursor());
    QVERIFY(h.debug.contains(traces::kConnectPressed));
    QVERIFY(h.debug.contains(traces::listeningOn(QString(h.sensor.portPath()).remove("/dev/"))));
    QVERIFY(h.deviceHeld());

    // The line settings, as the device itself has them now: 9600 8N1, no flow control.
    const int fd = ::open(h.sensor.portPath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios tio{};
    QCOMPARE(tcgetattr(fd, &tio), 0);
    ::close(fd);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));

    // The sensor answers: "rcal" follows and the timer restarts for it.
    h.sensor.setFault(SimulatedSensor::Fault::None);
    h.sensor.send(kTimeoutReply);
    QVERIFY(h.waitForReceived(10));
    QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\r"));
    QCOMPARE(h.status(), texts::kTimeoutSet);
    QVERIFY(h.tickTimer()->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
}

void ConnectionTest::connectFailureShowsStatus()
{
    DebugCapture debug;
    // Listed as the sensor's, but no such device.
    CalibrationDlg screen(
        [] { return QList<PortDescription>{port("/dev/zolvex-no-such-port", "", true, 0x0403)}; });
    screen.show();
    screenparts::connectButton(screen)->click();
    QCOMPARE(screenparts::statusBar(screen)->text(), texts::kOpenFailed);
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(!screenparts::tickTimer(screen)->isActive());
    bool traced = false;
    for (const QString &line : debug.lines())
        traced |= line.startsWith(traces::kOpenFailedBecause);
    QVERIFY(traced);
    QVERIFY(screenparts::connectButton(screen)->isVisible());

    // Closing after a failed open touches no port.
    debug.clear();
    screenparts::closeButton(screen)->click();
    QVERIFY(!debug.contains(traces::kDisconnect));
    QCOMPARE(screen.result(), int(QDialog::Rejected));
}

void ConnectionTest::noSensorPortSaysWhatToCheck_data()
{
    QTest::addColumn<QList<PortDescription>>("listed");
    QTest::newRow("nothing listed") << QList<PortDescription>{};
    QTest::newRow("no FTDI port") << QList<PortDescription>{port("ttyS0", "", false, 0),
                                                            port("ttyACM0", "", true, 0x2341)};
}

// Connect with no sensor port to open says so and what to check; nothing is
// opened or written, and the form stays as it was but for its status line.
// A sensor is there but not listed: it must hear nothing.
void ConnectionTest::noSensorPortSaysWhatToCheck()
{
    QFETCH(QList<PortDescription>, listed);
    SimulatedSensor sensor;
    DebugCapture debug;
    CalibrationDlg screen([listed] { return listed; });
    screen.show();
    ModalAnswerer answers;
    answers.watch([&] { return screenparts::statusBar(screen)->text(); });
    answers.click(QMessageBox::Ok);
    auto *connectButton = screenparts::connectButton(screen);
    connectButton->click();
    QVERIFY(answers.waitUntilDone());

    QCOMPARE(answers.seen().size(), 1);
    const SeenWindow &box = answers.seen().first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, texts::kNoSensorPortTitle);
    QCOMPARE(box.text, texts::kNoSensorPort);
    QCOMPARE(box.textFormat, Qt::PlainText);
    QCOMPARE(box.buttons, QMessageBox::Ok);
    QCOMPARE(box.context, texts::kNoSensorPortStatus);
    QCOMPARE(screenparts::statusBar(screen)->text(), texts::kNoSensorPortStatus);

    QCOMPARE(screenparts::portBox(screen)->count(), 0);
    QVERIFY(connectButton->isVisible() && connectButton->isEnabled());
    QVERIFY(!screenparts::printButton(screen)->isVisible());
    QCOMPARE(screen.windowTitle(), texts::kCalibrationScreenTitle);
    QVERIFY(screen.isVisible());
    QVERIFY(!screenparts::tickTimer(screen)->isActive());
    QVERIFY(!screenparts::sendTimer(screen)->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(!debug.contains(traces::kOpenFailed));
    for (const QString &line : debug.lines())
        QVERIFY2(!line.startsWith(traces::kListening) && !line.startsWith(traces::kDeviceFailed),
                 qPrintable(line));
    QTest::qWait(50);
    QVERIFY(sensor.received().isEmpty());

    // Pressed again it says the same; closing touches no port.
    answers.click(QMessageBox::Ok);
    connectButton->click();
    QVERIFY(answers.waitUntilDone());
    QCOMPARE(titles(answers.seen()),
             QStringList(2, texts::boxed(texts::kNoSensorPortTitle, texts::kNoSensorPort)));
    debug.clear();
    screenparts::closeButton(screen)->click();
    QVERIFY(!debug.contains(traces::kDisconnect));
    QVERIFY(sensor.received().isEmpty());
}

void ConnectionTest::closeBeforeConnect()
{
    ScreenHarness h;
    h.closeButton()->click();
    QVERIFY(!h.screen->isVisible());
    QCOMPARE(h.screen->result(), int(QDialog::Rejected));
    QVERIFY(!h.debug.contains(traces::kDisconnect));
    QCOMPARE(h.answers.seen().size(), 0);
}

void ConnectionTest::closeAfterConnectReleasesPort()
{
    ScreenHarness h;
    h.sensor.setFault(SimulatedSensor::Fault::Silent);
    h.connect();
    QVERIFY(h.deviceHeld());
    h.closeButton()->click();
    QVERIFY(h.debug.contains(traces::kDisconnect));
    QVERIFY(!h.deviceHeld());
    QCOMPARE(h.screen->result(), int(QDialog::Rejected));
    QVERIFY(!h.tickTimer()->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
    // A tick that was already on its way finds no port to use.
    h.tick(3);
    QVERIFY(!h.tickTimer()->isActive());
}

void ConnectionTest::everyEndReleasesPort_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close box") << "close";
    QTest::newRow("reject") << "reject";
}

// However the modal run ends, the timers stop and the device is free before
// exec() returns.
void ConnectionTest::everyEndReleasesPort()
{
    QFETCH(QString, how);
    ScreenHarness h;
    h.screen->hide();
    bool heldWhileRunning = false;
    bool freeAtReturn = false;
    QTimer::singleShot(0, h.screen.get(), [&] {
        h.sensor.setFault(SimulatedSensor::Fault::Silent);
        h.connect();
        heldWhileRunning = h.deviceHeld() && h.tickTimer()->isActive();
        if (how == "escape")
            QTest::keyClick(h.screen.get(), Qt::Key_Escape);
        else if (how == "close")
            h.screen->close();
        else
            h.screen->reject();
    });
    const int result = h.screen->exec();
    freeAtReturn = !h.deviceHeld();
    QVERIFY(heldWhileRunning);
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(freeAtReturn);
    QVERIFY(!h.tickTimer()->isActive());
    QVERIFY(!h.sendTimer()->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
}

// A second Connect after an unanswered "toff" opens the device again.
void ConnectionTest::secondConnectReopens()
{
    ScreenHarness h;
    h.sensor.setFault(SimulatedSensor::Fault::Silent);
    h.connect();
    QVERIFY(h.waitForReceived(5));
    h.answers.click(QMessageBox::Ok);
    h.tick(3);
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().last().text, texts::kNoResponse);

    h.sensor.setFault(SimulatedSensor::Fault::None);
    h.connect();
    QCOMPARE(h.status(), texts::kInitializing);
    QVERIFY(h.waitForReceived(15));
    QCOMPARE(h.sensor.received(), QByteArray("toff\rtoff\rrcal\r"));
    QVERIFY(h.debug.contains(traces::kDisconnect));
}

// The harness finds every field, each its own: a renamed or misnamed one
// would otherwise fail some run far from here, or compare the wrong widget.
void ConnectionTest::screenFieldsFound_data()
{
    QTest::addColumn<Field>("which");
    QTest::newRow("type") << Field::Type;
    QTest::newRow("serial") << Field::Serial;
    QTest::newRow("version") << Field::Version;
    QTest::newRow("old slope") << Field::OldSlope;
    QTest::newRow("old offset") << Field::OldOffset;
    QTest::newRow("new slope") << Field::NewSlope;
    QTest::newRow("new offset") << Field::NewOffset;
    QTest::newRow("high value") << Field::HighValue;
    QTest::newRow("low value") << Field::LowValue;
    QTest::newRow("high validation") << Field::HighValidation;
    QTest::newRow("low validation") << Field::LowValidation;
}

void ConnectionTest::screenFieldsFound()
{
    QFETCH(Field, which);
    CalibrationDlg screen;
    QLineEdit *field = screenparts::field(screen, which);
    QVERIFY(field);
    QVERIFY(field->isReadOnly());
    for (const Field other : kAllFields) {
        if (other != which)
            QVERIFY(screenparts::field(screen, other) != field);
    }
}

// The buttons, timers and status line, each found and each its own.
void ConnectionTest::screenPartsFound()
{
    CalibrationDlg screen;
    const QSet<QPushButton *> buttons = {screenparts::connectButton(screen),
                                         screenparts::closeButton(screen),
                                         screenparts::printButton(screen)};
    QCOMPARE(buttons.size(), 3);
    QVERIFY(!buttons.contains(nullptr));
    QVERIFY(screenparts::portBox(screen));
    QVERIFY(screenparts::statusBar(screen));
    QVERIFY(screenparts::statusLabel(screen));
    QVERIFY(screenparts::statusBar(screen)->isAncestorOf(screenparts::statusLabel(screen)));
    QVERIFY(screenparts::tickTimer(screen));
    QVERIFY(screenparts::sendTimer(screen));
    QVERIFY(screenparts::tickTimer(screen) != screenparts::sendTimer(screen));
}

// Each timer's slot is found by its name and does its step: a renamed slot
// would leave every driven run standing still.
void ConnectionTest::timerSlotsCalledByName()
{
    ScreenHarness waiting;
    QVERIFY2(waiting.driveTo(Phase::AwaitingTimeout), waiting.failedStep());
    waiting.answers.click(QMessageBox::Ok);
    for (int i = 0; i <= CalibrationDlg::kReplyCountdown && waiting.tickTimer()->isActive(); ++i)
        QVERIFY(screenparts::tickOnce(*waiting.screen));
    QVERIFY(waiting.answers.waitUntilDone());
    QCOMPARE(waiting.answers.seen().last().text, texts::kNoResponse);
    QVERIFY(!waiting.tickTimer()->isActive());

    ScreenHarness sending;
    QVERIFY2(sending.driveTo(Phase::SendingForVerification), sending.failedStep());
    const int before = int(sending.sensor.received().size());
    QVERIFY(screenparts::sendTickOnce(*sending.screen));
    QVERIFY(sending.waitForReceived(before + 1));
    QVERIFY(sending.sensor.received().mid(before).startsWith("Coff="));
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"

// Two runs compare their traces without the pseudo-terminal each got: the
// sensor's path and the serial port's name for it become one placeholder,
// another port's number that merely begins alike does not.
void ConnectionTest::tracesWithoutThePort()
{
    ScreenHarness h;
    h.sensor.setFault(SimulatedSensor::Fault::Silent);
    h.connect();
    QVERIFY(h.waitForReceived(5));
    const QString path = h.sensor.portPath();
    const QString name = QString(path).remove("/dev/");
    const QString placeholder = ScreenHarness::kPortPlaceholder;

    const QStringList traces = h.traces();
    QVERIFY(traces.contains(traces::quoted(placeholder)));
    QVERIFY(traces.contains(traces::listeningOn(placeholder)));
    for (const QString &line : traces) {
        QVERIFY2(!line.contains(name), qPrintable(line));
        QVERIFY2(!line.contains("pts"), qPrintable(line));
    }
    QCOMPARE(traces.size(), h.debug.lines().size());

    QCOMPARE(h.withoutPort("port " + path + ", again " + name + "."),
             "port " + placeholder + ", again " + placeholder + ".");
    QCOMPARE(h.withoutPort(path + "7"), path + "7");
    QCOMPARE(h.withoutPort(name + "7 and /dev/tty" + name), name + "7 and /dev/tty" + name);
}
