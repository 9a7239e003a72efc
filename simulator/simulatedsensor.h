#pragma once

// A simulated sensor on a pseudo-terminal. The program under test opens
// portPath() with QSerialPort like any serial device; the simulator answers
// commands, streams data lines while sampling, keeps working and saved
// constants, records every byte it received and misbehaves on demand.
// It lives on the thread that creates it and needs that thread's event loop.
// "Cslp=", "Coff=", "cdate=" and "***e" are applied without an answer; a
// value that is not a number leaves the constant as it was.

#include "core/ports.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;

struct SensorProfile {
    QString type = QStringLiteral("RT-5K-MQ");
    QString firmware = QStringLiteral("2.12");
    QString serialNumber = QStringLiteral("40317-20415");
    QString maxConductivity = QStringLiteral("2000");
    double lowStandard = 200;  // conductivity at the switch's low position
    double highStandard = 525; // ... and at its high position
    // The sensor's physical response: true conductivity = trueSlope * counts + trueOffset.
    double trueSlope = 0.0025;
    double trueOffset = -12.5;
    // Constants stored in the sensor (working = saved at power-up).
    double slope = 0.0025;
    double offset = -12.5;
    QString calibrationDate = QStringLiteral("01/15/26");
    double countNoise = 20; // peak raw-count noise of a data line
};

// The three models, with constants that read right.
SensorProfile metreProfile();          // pS/m, range 2000
SensorProfile centimetreProfile();     // "-CM", pS/cm, range 2000
SensorProfile centimetreWideProfile(); // "-CM", pS/cm, range 10000
// The profile with its slope drifted by the factor (1 + drift), keeping its zero point.
SensorProfile drifted(SensorProfile profile, double drift);

class SimulatedSensor : public QObject
{
    Q_OBJECT
public:
    enum class Position { High, Low };

    enum class Fault {
        None,
        Silent,           // answers nothing and streams nothing
        NoVersion,        // listing without a "Version " line
        LowercaseVersion, // "version 2.12"
        GarbledListing,   // listing whose end marker never comes
        SplitReplies,     // everything written in single bytes, event-loop turns apart
        NulBytes,         // a NUL byte before every line end of replies and data lines
        CountsOutOfRange, // raw counts far outside every window
        ShortData,        // each burst (startSampling, emitDataLines) stops after four lines
        NonNumeric,       // data fields that are not numbers
    };

    explicit SimulatedSensor(const SensorProfile &profile = metreProfile(),
                             QObject *parent = nullptr);
    ~SimulatedSensor() override;

    bool isOpen() const;
    QString portPath() const; // the slave side, e.g. /dev/pts/7
    // The port as the system would list the sensor's: an FTDI converter.
    PortDescription portDescription() const;

    // The profile carries the working constants and date; setProfile() is a
    // different sensor on the same cable (its saved constants are its own).
    SensorProfile profile() const;
    void setProfile(const SensorProfile &profile);
    void setFault(Fault fault);

    // Every byte received since construction or clearReceived().
    QByteArray received() const;
    void clearReceived();

    // Working constants (what readings use) and saved ones (what survives a
    // power cycle); the date last received with "cdate=" and the saved one.
    double workingSlope() const;
    double workingOffset() const;
    double savedSlope() const;
    double savedOffset() const;
    QString workingDate() const;
    QString savedDate() const;
    int saveCount() const; // "***e\r" received

    // The reading a data line carries for a count, from the working constants.
    double readingFor(double counts) const;
    // The count the sensor measures on a standard (without noise).
    double countsFor(double conductivity) const;

    // Sampling, as the operator starts it with the sensor's menu: one line
    // every intervalMs until stopped.
    void startSampling(Position position, int intervalMs = 1000);
    void stopSampling();
    bool isSampling() const;
    // Writes n data lines at once (no timer).
    void emitDataLines(Position position, int n);
    // One data line as the sensor would write it (with "\r\n").
    QByteArray dataLine(Position position);

    // Writes raw bytes to the program.
    void send(const QByteArray &bytes);
    // Closes the master side: the cable is pulled.
    void hangUp();
    // After hangUp(): the cable goes back in, on a new pseudo-terminal (its
    // path may differ). The sensor keeps its constants and what it received.
    // False when no pseudo-terminal could be made.
    bool plugIn();

signals:
    // One complete command (up to and including its carriage return).
    void commandReceived(const QByteArray &command);

private:
    bool openPort();
    void onReadable();
    void handleCommand(const QByteArray &command);
    void reply(const QByteArray &text);
    QByteArray listing() const;
    void stream(Position position);
    void writeOut(const QByteArray &bytes);
    void drain();

    SensorProfile profile_;
    Fault fault_ = Fault::None;
    int masterFd_ = -1;
    int slaveFd_ = -1; // held open so the master never sees the line drop
    QString slavePath_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer *samplingTimer_ = nullptr;
    Position samplingPosition_ = Position::High;
    QByteArray received_;
    QByteArray pending_;  // bytes of a command not yet ended by "\r"
    QByteArray outgoing_; // bytes not yet written to the master
    QTimer *drainTimer_ = nullptr;
    double savedSlope_;
    double savedOffset_;
    QString savedDate_;
    int saveCount_ = 0;
    int linesStreamed_ = 0;
    quint32 noiseState_ = 12345;
};
