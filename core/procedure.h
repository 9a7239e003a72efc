#pragma once

// The calibration procedure without a screen: the conversation with the
// sensor, the timed waits and command sequences, and the operator's
// decisions. Bytes from the sensor, timer ticks and answers go in; prompts,
// status texts, field texts and bytes for the sensor come out. Prompts are
// asked synchronously (the screen's boxes are modal and the timers keep
// ticking under them); an answer may be "none": the link was lost meanwhile.

#include "core/history/run.h"
#include "core/listing.h"
#include "core/protocol.h"
#include "core/readings.h"
#include "core/record.h"
#include "core/tipkind.h"

#include <QByteArray>
#include <QFlags>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <array>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcCalibration)

namespace procedure
{

// The answers a prompt offers; the screen maps them to its own buttons.
enum class Button : unsigned {
    None = 0,
    Ok = 1u << 0,
    Save = 1u << 1,
    Yes = 1u << 2,
    No = 1u << 3,
    Abort = 1u << 4,
    Retry = 1u << 5,
    Cancel = 1u << 6,
};
Q_DECLARE_FLAGS(Buttons, Button)

enum class Icon { Information, Warning, Critical };

// What Escape and a prompt's close box answer.
enum class Escape {
    Default,    // the toolkit's choice (Cancel, No, Abort or the only button)
    AnswersYes, // Yes, where No would start changing the sensor
    Ignored,    // nothing: every answer writes to the sensor
};

// Which box shows the prompt: the one before the verification run has its own.
enum class Box { Main, Verification };

struct Prompt {
    Icon icon = Icon::Information;
    QString title;
    QString text;                   // plain text, never markup: some carries bytes from the sensor
    Buttons buttons = Button::None; // None: the toolkit's single OK
    Button defaultButton = Button::None; // None: the toolkit's choice
    Escape escape = Escape::Default;
    Box box = Box::Main;
};

// The button that answered; nothing when the link was lost while it was open.
using Answer = std::optional<Button>;

class Asker
{
public:
    virtual ~Asker() = default;
    virtual Answer ask(const Prompt &prompt) = 0;
};

class Port
{
public:
    virtual ~Port() = default;
    // False when the port failed (it then reports the loss through linkLost()).
    virtual bool write(const QByteArray &bytes) = 0;
    virtual bool usable() const = 0;
    // Lets go of the device; deferred while the port is reporting an error.
    virtual void release(bool deferDelete) = 0;
};

enum class Timer { Tick, Send };

class Clock
{
public:
    virtual ~Clock() = default;
    virtual void start(Timer timer, int intervalMs) = 0;
    virtual void stop(Timer timer) = 0;
    virtual bool isActive(Timer timer) const = 0;
};

// The screen's fields, by what they show.
enum class Field {
    Type,
    SerialNumber,
    Version,
    OldSlope,
    OldOffset,
    NewSlope,
    NewOffset,
    HighValidate, // readings of the validation run (as found)
    LowValidate,
    High, // readings of the verification run (as left)
    Low,
};
inline constexpr int kFieldCount = int(Field::Low) + 1;
inline constexpr int kReadingCount = int(Field::Low) - int(Field::HighValidate) + 1;

// The four readings come last; the others are texts.
constexpr bool isReading(Field field)
{
    return field >= Field::HighValidate;
}

// A reading as the procedure took it: the sensor's field as shown, its number
// and the window it was judged against.
struct Reading {
    bool taken = false; // false: none yet, or cleared
    QString text;       // the sensor's reading field, as shown
    double value = 0;   // the field as a number; 0 when it is not one
    Window<double> window{0, 0};
    bool inWindow = false;
};

enum class Mark {
    Plain,     // a text, no judgement
    InWindow,  // a reading inside its window
    OutWindow, // a reading outside it
};

} // namespace procedure

Q_DECLARE_OPERATORS_FOR_FLAGS(procedure::Buttons)

class Procedure : public QObject
{
    Q_OBJECT

public:
    // Values of stateMachine.
    enum State {
        AwaitingTimeoutReply = 0,
        AwaitingConstantsReply = 1,
        CollectingCalibrationData = 2,
        CollectingHighValues = 7,
        CollectingLowValues = 8,
    };

    static constexpr int kTickIntervalMs = 1000;
    static constexpr int kSendIntervalMs = 5000;
    static constexpr int kReplyCountdown = 2;
    static constexpr int kDataCountdown = 25;

    Procedure(procedure::Asker &asker, procedure::Port &port, procedure::Clock &clock,
              QObject *parent = nullptr);

    // The port is open: ask the sensor for its listing.
    void start(const QString &portName);
    // Forgets what came before a new press of Connect.
    void clearReceived();
    // A new port is about to be opened: the previous loss is over.
    void resetLink();
    // Bytes from the sensor, while the tick timer runs.
    void receive(const QByteArray &bytes);
    // The 1 s timer.
    void tick();
    // The 5 s timer.
    void sendTick();
    // Ends the wait for a reply.
    void stopWaiting();
    void stopTimers();
    // The port failed; reason is the system's text, shownReason what the
    // operator reads (the same unless the port has a friendlier name).
    void linkLost(const QString &reason, const QString &shownReason);
    // The screen is asked to close with unsaved constants in the sensor: the
    // previous ones go back first, then closeRequested().
    void beginRestoreBeforeClose();
    // The screen is asked to close while constants or the date are being
    // saved: the save runs to its end and its record is written as after any
    // save, then closeRequested(). False when no save is under way.
    bool closeWhenSaved();
    // The screen closes now.
    void closing();

    bool isLinkLost() const { return linkLost_; }
    bool hasUnsavedConstants() const { return unsavedConstants_; }
    // A save sequence runs, or the record of the one that ended is written.
    bool isSaving() const;
    bool isValidationRun() const { return validationRun; }
    State state() const { return stateMachine; }
    int step() const { return commandStep; }
    double meanCounts() const { return highCounts; }
    const TipKind *tip() const;
    QString field(procedure::Field field) const;
    // A reading field's value and verdict; a text field gives no reading.
    procedure::Reading reading(procedure::Field field) const;
    // What the procedure is doing, as the history names it.
    QString phase() const;
    // The record of a finished save, as the fields show it.
    record::Inputs recordInputs() const;

signals:
    void statusChanged(const QString &text);
    void fieldChanged(procedure::Field field, const QString &text, procedure::Mark mark);
    // The listing was accepted: no other port can be chosen now.
    void connectionFixed();
    void waitCursorPushed();
    void cursorPopped();
    void cursorsRestored();
    void closeRequested();
    // The constants are saved: the record file is written now.
    void recordDue();
    // History: the sensor identified itself, the run ended, or something the
    // history keeps changed.
    void identified(const listing::Reading &reading);
    void ended(history::Outcome outcome, const QString &detail);
    void changed();
    // A prompt asks the operator to set the switch and start sampling.
    void samplingRequested(readings::Position position);
    // That prompt was answered: the operator has started sampling and the
    // collection begins now.
    void samplingConfirmed(readings::Position position);
    // A reading's collection is over: lines the sensor sends from now on
    // belong to no reading.
    void collectionEnded();

private:
    procedure::Answer ask(procedure::Icon icon, const QString &title, const QString &text,
                          procedure::Buttons buttons = procedure::Button::None,
                          procedure::Escape escape = procedure::Escape::Default,
                          procedure::Box box = procedure::Box::Main);
    // A prompt that asks to start sampling in that position; false when the
    // link was lost meanwhile.
    bool askToSample(readings::Position position, const QString &title, const QString &text,
                     procedure::Icon icon = procedure::Icon::Information,
                     procedure::Box box = procedure::Box::Main);
    void setStatus(const QString &text);
    void setField(procedure::Field field, const QString &text,
                  procedure::Mark mark = procedure::Mark::Plain);
    void setReading(procedure::Field field, const procedure::Reading &reading);
    void clearReading(procedure::Field field);
    bool write(const QByteArray &bytes);
    void stopTimer();

    void awaitReply(State state, const char *command);
    void startCollecting(State state);

    void readListing();
    void showSensorProperties(const listing::Properties &properties);
    void acceptListing();
    void refuseUnknownTip(const listing::Properties &properties);
    void communicationError();
    void firmwareTooOld();
    void handleDataProgress();

    void decideAfterLowReading();
    void handleBadReading();
    void refuseCalibrationData();
    bool retryOrCancel(const QString &retryText, const QString &cancelStatus, bool statusFirst);
    void finishSequence(int step);

    bool checkCalibrationData();
    bool checkValidationData();
    double computeZeroCounts();
    bool computeNewConstants();
    void startConstantTransfer(bool saving);

    procedure::Asker &asker_;
    procedure::Port &port_;
    procedure::Clock &clock_;

    State stateMachine = AwaitingTimeoutReply;
    int countdown = 0;
    int commandStep = 0;
    bool validationRun = true;
    int tipKind = 0;
    QByteArray receiveBuffer;
    protocol::ReplyLines replyLines;
    double highCounts = 0;
    double zeroCounts = 0;
    double newCslp = 0;
    double newCoff = 0;
    // Texts as shown: the sensor's own and the new constants (reading fields
    // unused: readings_ holds them).
    std::array<QString, procedure::kFieldCount> fields_;
    std::array<procedure::Reading, procedure::kReadingCount> readings_;
    QString portName_;

    // New constants are in the sensor's working memory but not saved.
    bool unsavedConstants_ = false;
    // The screen closes once the restore sequence has finished.
    bool closeAfterRestore_ = false;
    // The screen closes once the save sequence and its record are done.
    bool closeAfterSave_ = false;
    // The record of a finished save is being written.
    bool recordPending_ = false;
    // The port failed; prompts report it to their callers.
    bool linkLost_ = false;
};
