#pragma once

// The calibration screen: the dialog in which the whole procedure runs. One
// class; its operations are split over several .cpp files by concern
// (screen, connection, protocol, procedure, readings, constants, record,
// printing). Decisions that need no widget live in pure functions beside them.

#include "core/history/run.h"
#include "core/listing.h"
#include "core/ports.h"
#include "core/protocol.h"

#include <QByteArray>
#include <QDialog>
#include <QMessageBox>
#include <QSerialPort>
#include <QString>

#include <optional>

class QLineEdit;
class QTimer;
struct TipKind;

namespace Ui
{
class CalibrationDlg;
}

class CalibrationDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CalibrationDlg(QWidget *parent = nullptr);
    // A screen whose port list comes from the given lister instead of the system.
    explicit CalibrationDlg(PortLister portLister, QWidget *parent = nullptr);
    ~CalibrationDlg() override;

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

    // How the lost-connection box names the loss; without one it shows the
    // system's error text.
    void setLinkLossNamer(LinkLossNamer namer);

    // Ends the screen however it is asked to (Close, Escape, the close box,
    // a cancel path): new constants that were never saved are first replaced
    // by the previous ones, then the timers stop and the port is released.
    void done(int result) override;

private slots:
    void on_CalibrationPB_Close_clicked();
    void on_calibrationDlg_Print_clicked();
    void updateTimer();
    void sendParameters();
    void on_calibrationPB_Connect_clicked();
    void onReadyRead();
    void on_calibrationDlgCB_comport_activated(int index);
    void onPortError(QSerialPort::SerialPortError error);

private:
    void fillPortList(const PortLister &portLister);
    // Connect with no port listed: says what to check, opens nothing.
    void noSensorPort();
    void StopTimer();

    // The button that answered a prompt; nothing when the link to the sensor
    // was lost while it was open (the operator has been told, the run is over).
    using Answer = std::optional<QMessageBox::StandardButton>;

    // What Escape and a prompt's close box answer.
    enum class Escape {
        QtDefault,  // the toolkit's choice (Cancel, No, Abort or the only button)
        AnswersYes, // Yes, where No would start changing the sensor
        Ignored,    // nothing: every answer writes to the sensor
    };

    // A new parentless box, deleted on close, run modally. Texts are plain,
    // never markup: some carry bytes from the sensor.
    static int runBox(QMessageBox *&slot, QMessageBox::Icon icon, const QString &title,
                      const QString &text, QMessageBox::StandardButtons buttons, Escape escape);
    // Every prompt of the procedure.
    [[nodiscard]] Answer prompt(QMessageBox::Icon icon, const QString &title, const QString &text,
                                QMessageBox::StandardButtons buttons = QMessageBox::NoButton,
                                QMessageBox **slot = nullptr, Escape escape = Escape::QtDefault);

    // The two ways the procedure waits: for a reply to a command, and for
    // the data lines of one collection.
    void awaitReply(State state, const char *command);
    void startCollecting(State state);

    // Protocol
    void readListing();
    void showSensorProperties(const listing::Properties &properties);
    void acceptListing();
    void refuseUnknownTip(const listing::Properties &properties);
    void handleDataProgress();
    void communicationError();
    void firmwareTooOld();

    // Procedure
    void decideAfterLowReading();
    void handleBadReading();
    void refuseCalibrationData();
    void finishSequence(int step);

    // Readings
    bool checkCalibrationData();
    bool checkValidationData();
    void showReading(QLineEdit *field, const QString &text, bool inWindow);
    void clearReading(QLineEdit *field);

    // Constants
    double computeZeroCounts();
    // False (nothing shown) when the new constants are not finite numbers.
    bool computeNewConstants();
    void startConstantTransfer(bool saving);

    // Record
    void writeCalibrationRecord();

    // History: the run is recorded once the sensor has identified itself,
    // again when something the history keeps changes, and when it ends.
    void recordIdentification(const listing::Reading &reading);
    void recordOutcome(history::Outcome outcome, const QString &detail = QString());
    void recordSnapshot();
    void recordEndOfScreen();
    QString phase() const;

    // The port and the wait cursor
    bool portUsable() const;
    bool writeToPort(const QByteArray &bytes);
    void releasePort(bool deferDelete = false);
    void linkLost(const QString &reason);
    void pushWaitCursor();
    void popCursor();
    void restoreAllCursors();
    void stopTimers();
    void beginRestoreBeforeClose();
    const TipKind *tip() const;

    QMessageBox *msgBox = nullptr;
    QMessageBox *verifyMsgBox = nullptr;
    QString enumName;
    bool portCreated = false;
    State stateMachine = AwaitingTimeoutReply;
    double highCounts = 0;
    double zeroCounts = 0;
    double newCslp = 0;
    double newCoff = 0;
    Ui::CalibrationDlg *ui;
    QTimer *tickTimer = nullptr;
    QTimer *sendTimer = nullptr;
    QSerialPort *port = nullptr;
    QByteArray receiveBuffer;
    protocol::ReplyLines replyLines;
    QString portName;
    static constexpr char newLine = protocol::kNewLine;
    static constexpr char carriageReturn = protocol::kCarriageReturn;
    int countdown = 0;
    int tipKind = 0;
    int commandStep = 0;
    bool validationRun = true;

    // Wait cursors this screen has pushed and not yet popped.
    int cursorDepth_ = 0;
    // New constants are in the sensor's working memory but not saved.
    bool unsavedConstants_ = false;
    // The screen closes once the restore sequence has finished.
    bool closeAfterRestore_ = false;
    // The port failed; prompts report it to their callers.
    bool linkLost_ = false;

    // This run, as the calibration history keeps it; connectedAt_ is the
    // last press of Connect.
    history::Run run_;
    bool runIdentified_ = false;
    QDateTime connectedAt_;

    LinkLossNamer linkLossNamer_;
};
