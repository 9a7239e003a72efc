#pragma once

// A calibration screen wired to a simulated sensor, with the steps tests
// repeat: connect, read the listing, collect data, drive both timers by
// calling their slots instead of waiting, and drive a whole run to a phase.
//
// Every wait fails fast: it gives up at once when a window came that no answer
// was queued for (ModalAnswerer::sawUnexpected()), and a wait for a status
// text also gives up when the status line shows a text that ends the run.

#include "core/history/sink.h"
#include "gui/calibrationdlg.h"
#include "simulator/simulatedsensor.h"
#include "tests/support/debugcapture.h"
#include "tests/support/drifted.h"
#include "tests/support/modalanswerer.h"

#include <QByteArrayList>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

class InfoBar;

// The screen's line edits, by what they show.
enum class Field {
    Type,
    Serial,
    Version,
    OldSlope,
    OldOffset,
    NewSlope,
    NewOffset,
    HighValue, // the verification readings
    LowValue,
    HighValidation, // the validation readings
    LowValidation,
};
inline constexpr Field kAllFields[] = {Field::Type,           Field::Serial,       Field::Version,
                                       Field::OldSlope,       Field::OldOffset,    Field::NewSlope,
                                       Field::NewOffset,      Field::HighValue,    Field::LowValue,
                                       Field::HighValidation, Field::LowValidation};

// The screen's parts and private slots, for any calibration screen, also one
// the harness did not make. Only these know the object and slot names.
namespace screenparts
{
QLineEdit *field(const CalibrationDlg &screen, Field which);
QPushButton *connectButton(const CalibrationDlg &screen);
QPushButton *closeButton(const CalibrationDlg &screen);
QPushButton *printButton(const CalibrationDlg &screen);
QComboBox *portBox(const CalibrationDlg &screen);
InfoBar *statusBar(const CalibrationDlg &screen);
// The status bar's label: what the operator reads.
QLabel *statusLabel(const CalibrationDlg &screen);
// The waiting and collecting timer, and the one that paces commands.
QTimer *tickTimer(const CalibrationDlg &screen);
QTimer *sendTimer(const CalibrationDlg &screen);
// One timeout of each timer, by calling its slot; false when the slot was
// not found.
bool tickOnce(CalibrationDlg &screen);
bool sendTickOnce(CalibrationDlg &screen);
// Print, by calling the button's slot: it opens modal windows, which a click
// would wait on.
bool clickPrint(CalibrationDlg &screen);
} // namespace screenparts

// Where a driven run stands. From ValidationHigh on, each is reached on the
// road of the harness's own sensor, whose data lines give the readings;
// before it, the sensor is silent and the test speaks for it.
enum class Phase {
    BeforeConnect,
    AwaitingTimeout,        // "toff" written, unanswered
    AwaitingListing,        // "rcal" written, unanswered
    MidListing,             // half of a listing has come
    EndNoResponse,          // "No Response from Sensor" answered
    ValidationHigh,         // collecting the high reading, no data yet
    ValidationLow,          // collecting the low reading, no data yet
    CalibrationData,        // No at "Verify Validation Values.": collecting, no data yet
    SendingForVerification, // new slope sent, new offset not yet
    VerificationHigh,       // collecting, new constants unsaved in the sensor, no data yet
    VerificationLow,        // collecting, new constants unsaved in the sensor, no data yet
    SavingSlope,            // Save: new slope sent, offset not yet
    SavingConstants,        // Save: new slope and offset sent, no date, no save
    RecordDialog,           // save command sent; the next step opens the record dialog
    EndRecorded,            // record written, Print shown
    Restoring,              // Abort: previous slope sent back, previous offset not yet
    EndRestored,            // "Process Complete - No Constants changed"
    DateChosen,             // Yes, Yes: the date-only sequence runs, nothing sent yet
    SavingDate,             // date-only road: date sent, no save
    DateRecordDialog,       // date-only road: save command sent; the next step opens the dialog
    EndUnchanged,           // Yes, No: "Process Complete: Close all windows"
};

// The snapshots of a run as a screen hands them to its history, in order.
class Snapshots : public history::Sink
{
public:
    void record(const history::Run &run) override { runs.append(run); }
    QList<history::Run> runs;
};

class ScreenHarness
{
public:
    explicit ScreenHarness(const SensorProfile &profile = metreProfile());
    ~ScreenHarness();

    SimulatedSensor sensor;
    ModalAnswerer answers;
    DebugCapture debug;
    // The screen's history unless a test gives it another.
    Snapshots snapshots;
    std::unique_ptr<CalibrationDlg> screen;

    // The sensor's port, as the system would list an FTDI port.
    PortDescription sensorPort() const;

    // The text with the sensor's port (its path, or the name the serial port
    // gives it) replaced by kPortPlaceholder: which pseudo-terminal a run got
    // is no part of what it did, and a suite running beside may take another.
    QString withoutPort(const QString &text) const;
    // The debug traces so far, each withoutPort().
    QStringList traces() const;
    static inline const QString kPortPlaceholder = QStringLiteral("<sensor port>");

    // Presses Connect.
    void connect();
    // Connects and answers the listing's prompts with OK; ends collecting the
    // validation high reading. False when something went otherwise.
    bool reachValidation();
    // After Connect, with the listing's prompts answered: waits until the high
    // reading is collected. Gives up at once on a status off that road, and
    // fails when an answer is still queued then (a prompt was left out).
    bool waitForListingAccepted();
    // Drives a fresh harness to the phase, answering every prompt on the way
    // (recordPath names the record where the phase writes one). False when
    // the road went otherwise; failedStep() says where.
    bool driveTo(Phase phase, const QString &recordPath = QString());
    // driveTo() on driftedMetre(), then: the constants the phase shows are
    // the drifted sensor's (the new ones once computed, the previous ones
    // while restored), and where a collection runs three data lines are in.
    bool driveToWithData(Phase phase, const QString &recordPath);
    const char *failedStep() const { return failedStep_; }

    // Lets the sensor write n data lines and waits until the screen took them.
    bool feed(SimulatedSensor::Position position, int lines = 12);
    // n timeouts of the tick timer; one collection needs 26.
    void tick(int n = 1);
    void collectionTicks() { tick(CalibrationDlg::kDataCountdown + 1); }
    // Ticks until the running collection has been judged: a window came, a
    // sequence started or the waiting timer stopped. False when an unexpected
    // window came.
    bool finishCollection();
    // Ticks until an awaited reply is given up (the waiting timer stops);
    // false when an unexpected window came.
    bool tickUntilStopped();
    // n timeouts of the send timer.
    void send(int n = 1);

    // Processes events until done() holds; false on timeout or at once when
    // an unexpected window has been seen.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs = kWaitMs);
    // Processes events until the sensor has received this many bytes in all.
    bool waitForReceived(int size, int timeoutMs = 3000);
    // Until the bytes the sensor received end with these.
    bool sentLast(const QByteArray &suffix);
    // Until the status line reads this text; gives up early on a status that
    // ends the run.
    bool waitForStatus(const QString &text, int timeoutMs = kWaitMs);
    // Until the status line echoes this data line (without its line end).
    bool waitForEcho(const QString &line, int timeoutMs = kWaitMs);

    QString status() const;
    QLineEdit *field(Field which) const { return screenparts::field(*screen, which); }
    QPushButton *connectButton() const { return screenparts::connectButton(*screen); }
    QPushButton *closeButton() const { return screenparts::closeButton(*screen); }
    QPushButton *printButton() const { return screenparts::printButton(*screen); }
    QComboBox *portBox() const { return screenparts::portBox(*screen); }
    QLabel *statusLabel() const { return screenparts::statusLabel(*screen); }
    QTimer *tickTimer() const { return screenparts::tickTimer(*screen); }
    QTimer *sendTimer() const { return screenparts::sendTimer(*screen); }
    // Print's slot; false when it was not found.
    bool clickPrint() { return screenparts::clickPrint(*screen); }
    // True while some QSerialPort holds the sensor's device (the screen's):
    // a second open of it is refused then.
    bool deviceHeld() const;
    // Whether any window seen so far says these words.
    bool anyBoxSays(const QString &words) const;
    // The debug traces that start so.
    int tracesStartingWith(const QString &start) const;

    static constexpr int kWaitMs = 5000;
    // Long enough for an error loop to show itself as more boxes, traces or
    // bytes.
    static constexpr int kQuietMs = 300;

private:
    bool waitForStatusWhere(const std::function<bool(const QString &)> &matches, int timeoutMs);
    bool reached(bool ok, const char *step);
    bool answerDecision(QMessageBox::StandardButton decision, QMessageBox::StandardButton next);
    // A pair of readings from the high one's collection (high: ValidationHigh
    // or VerificationHigh) to the low one's data; *arrived when the phase is
    // on the way and reached.
    bool takeReadings(Phase phase, Phase high, bool *arrived);
    bool driveSilent(Phase phase);
    bool driveKeeping(Phase phase);
    bool driveChanging(Phase phase, const QString &recordPath);

    const char *failedStep_ = "";
};

// A profile without count noise, its slope drifted by the factor (1 + drift).
SensorProfile quiet(SensorProfile profile, double drift = 0);
// The metre sensor whose slope drifted 15 %: both validation readings fail
// and new constants (0.002500, -12.50000) bring them back exactly.
SensorProfile driftedMetre();

// Today as "cdate=" sends it.
QByteArray today();
// A line edit's background colour: green passes, red fails.
QColor base(QLineEdit *field);

// The identification listing of a metre sensor whose constants read right,
// one entry per line, without line ends.
QByteArrayList listingLines(const QByteArray &type = "RT-5K-MQ",
                            const QByteArray &version = "Version 2.12",
                            const QByteArray &range = "2000");
QByteArray joined(const QByteArrayList &lines, const QByteArray &lineEnd = "\r\n");
inline const QByteArray kTimeoutReply = QByteArrayLiteral("Timeout in 30 minutes\r\n");

// New constants are in the sensor's working memory, unsaved.
bool holdsUnsavedConstants(Phase phase);
// A quiet profile of the verification tip 1 (metre), 2 (centimetre) or 3
// (centimetre, wide range).
SensorProfile quietProfileOfTip(int tip);

// Bytes as a sensor may send them: in chunks of `size`; in two chunks cut
// inside the marker; data lines with these counts; deterministic binary
// garbage (every byte value, line ends and NULs included).
QByteArrayList inChunks(const QByteArray &bytes, int size);
QByteArrayList cutInside(const QByteArray &bytes, const QByteArray &marker);
QByteArray dataLine(qint64 counts, const QByteArray &reading = "525.0");
QByteArray countLines(const QList<qint64> &counts);
QByteArray garbage(int size);

// What every ending is checked for. Each fails the running test function;
// wrap the call in STOP_ON_FAILURE() to return from it then.
//
// No window came that no answer was queued for.
void expectNoUnexpectedWindow(const ScreenHarness &h);
// The procedure has stopped: no timer runs, and within kQuietMs no box,
// trace line or byte on the wire follows (no error loop).
void expectStopped(ScreenHarness &h);
// No record and no Print button unless the sensor saved; constants other
// than the saved ones only after a box said "not saved".
void expectHonestEnd(const ScreenHarness &h, const QString &recordFolder);
// The constants in the sensor's working memory and saved.
void expectConstants(const ScreenHarness &h, double workingSlope, double workingOffset,
                     double savedSlope, double savedOffset);

// Returns from the test function when the call failed it.
#define STOP_ON_FAILURE(call)                                                                      \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)
