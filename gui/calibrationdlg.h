#pragma once

// The calibration screen: the view of the procedure (core/procedure.h). It
// opens the port, runs the timers, shows the procedure's prompts in message
// boxes and its texts in its fields; its operations are split over several
// .cpp files by concern (screen, connection, procedure, record, printing).

#include "core/history/run.h"
#include "core/history/sink.h"
#include "core/listing.h"
#include "core/ports.h"
#include "core/procedure.h"

#include <QByteArray>
#include <QDialog>
#include <QMessageBox>
#include <QSerialPort>
#include <QString>

class QLineEdit;
class QShowEvent;
class QTimer;
namespace Ui
{
class CalibrationDlg;
}

class CalibrationDlg : public QDialog,
                       private procedure::Asker,
                       private procedure::Port,
                       private procedure::Clock
{
    Q_OBJECT

public:
    explicit CalibrationDlg(QWidget *parent = nullptr);
    // A screen whose port list comes from the given lister instead of the system.
    explicit CalibrationDlg(PortLister portLister, QWidget *parent = nullptr);
    ~CalibrationDlg() override;

    static constexpr int kReplyCountdown = Procedure::kReplyCountdown;
    static constexpr int kDataCountdown = Procedure::kDataCountdown;

    // How the lost-connection box names the loss; without one it shows the
    // system's error text.
    void setLinkLossNamer(LinkLossNamer namer);

    // Where this screen's runs are recorded (not owned); without one, nowhere.
    void setHistorySink(history::Sink *sink);
    history::Sink *historySink() const { return sink_; }

    // The procedure this screen shows.
    const Procedure &procedure() const { return *procedure_; }

    // Whether the first-use costs of the prompts and of the record's file
    // dialog (style icons, the icon theme, the MIME database) have been paid
    // since the screen was first shown, so that none holds the screen later.
    bool isWarmedUp() const;

    // Ends the screen however it is asked to (Close, Escape, the close box,
    // a cancel path): a save under way first runs to its end with its record,
    // new constants that were never saved are first replaced by the previous
    // ones, then the timers stop and the port is released.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

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
    // One short step of the warm-up, each from the event loop.
    void warmUpStep();
    // Connect with no port listed: says what to check, opens nothing.
    void noSensorPort();
    void StopTimer();
    void connectProcedure();

    // What Escape and a prompt's close box answer.
    using Escape = procedure::Escape;

    // A new parentless box, deleted on close, run modally. Texts are plain,
    // never markup: some carry bytes from the sensor.
    static int runBox(QMessageBox *&slot, QMessageBox::Icon icon, const QString &title,
                      const QString &text, QMessageBox::StandardButtons buttons, Escape escape,
                      QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // The procedure's prompts, bytes and timers.
    procedure::Answer ask(const procedure::Prompt &prompt) override;
    bool write(const QByteArray &bytes) override;
    bool usable() const override;
    void release(bool deferDelete) override;
    void start(procedure::Timer timer, int intervalMs) override;
    void stop(procedure::Timer timer) override;
    bool isActive(procedure::Timer timer) const override;
    QTimer *timerOf(procedure::Timer timer) const;

    void showField(procedure::Field field, const QString &text, procedure::Mark mark);
    QLineEdit *lineEditOf(procedure::Field field) const;

    // Record
    void writeCalibrationRecord();

    // History: the run is recorded once the sensor has identified itself,
    // again when something the history keeps changes, and when it ends.
    void recordIdentification(const listing::Reading &reading);
    void recordOutcome(history::Outcome outcome, const QString &detail = QString());
    void recordSnapshot();
    void recordEndOfScreen();

    // The port and the wait cursor
    bool portUsable() const;
    bool writeToPort(const QByteArray &bytes);
    void releasePort(bool deferDelete = false);
    void linkLost(const QString &reason);
    void pushWaitCursor();
    void popCursor();
    void restoreAllCursors();
    void stopTimers();

    QMessageBox *msgBox = nullptr;
    QMessageBox *verifyMsgBox = nullptr;
    QString enumName;
    bool portCreated = false;
    Ui::CalibrationDlg *ui;
    QTimer *tickTimer = nullptr;
    QTimer *sendTimer = nullptr;
    QTimer *warmUpTimer_ = nullptr;
    int warmUpDone_ = 0; // steps run
    QSerialPort *port = nullptr;
    QString portName;
    Procedure *procedure_ = nullptr;

    // Wait cursors this screen has pushed and not yet popped.
    int cursorDepth_ = 0;

    // This run, as the calibration history keeps it; connectedAt_ is the
    // last press of Connect.
    history::Run run_;
    bool runIdentified_ = false;
    // A lost link has fixed whether the run left unsaved constants.
    bool unsavedSettled_ = false;
    QDateTime connectedAt_;
    history::Sink *sink_ = nullptr;

    LinkLossNamer linkLossNamer_;
};
