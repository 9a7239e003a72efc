#pragma once

// A calibration screen wired to a simulated sensor, with the steps tests
// repeat: connect, read the listing, collect data and drive both timers by
// calling their slots instead of waiting.

#include "gui/calibrationdlg.h"
#include "simulator/simulatedsensor.h"
#include "tests/support/debugcapture.h"
#include "tests/support/modalanswerer.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <memory>

class ScreenHarness
{
public:
    explicit ScreenHarness(const SensorProfile &profile = metreProfile());
    ~ScreenHarness();

    SimulatedSensor sensor;
    ModalAnswerer answers;
    DebugCapture debug;
    std::unique_ptr<CalibrationDlg> screen;

    // The sensor's port, as the system would list an FTDI port.
    PortDescription sensorPort() const;

    // Presses Connect.
    void connect();
    // Connects and answers the listing's prompts with OK; ends collecting the
    // validation high reading. False when something went otherwise.
    bool reachValidation();
    // Connects and takes both validation readings from sensor data, then
    // answers "Verify Validation Values." with decision and the prompt that
    // follows with next. False when something went otherwise.
    bool validate(QMessageBox::StandardButton decision, QMessageBox::StandardButton next);
    // Lets the sensor write n data lines and waits until the screen took them.
    bool feed(SimulatedSensor::Position position, int lines = 12);
    // Calls updateTimer() n times; one collection needs 26.
    void tick(int n = 1);
    void collectionTicks() { tick(CalibrationDlg::kDataCountdown + 1); }
    // Calls sendParameters() n times.
    void send(int n = 1);
    // Processes events until the sensor has received this many bytes in all.
    bool waitForReceived(int size, int timeoutMs = 3000);

    QString status() const;
    QLineEdit *field(const char *name) const;
    QPushButton *button(const char *name) const;
    QTimer *timer(const char *name) const;
    // True while some QSerialPort holds the sensor's device (the screen's):
    // a second open of it is refused then.
    bool deviceHeld() const;
};
