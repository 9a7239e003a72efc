#pragma once

// The training program's simulated sensor and the operator's hands on it:
// when the procedure's prompt to set the switch and start sampling is
// answered, the sensor starts sampling in the position the procedure names;
// the end of that reading's collection, a new sampling prompt or a command
// from the program stops it.

#include "core/ports.h"
#include "core/readings.h"
#include "simulator/simulatedsensor.h"
#include "training/trainingoptions.h"

#include <QObject>

class TrainingSession : public QObject
{
    Q_OBJECT
public:
    // Watches the procedure of every calibration screen that talks to the
    // sensor, from construction on.
    explicit TrainingSession(const TrainingOptions &options, QObject *parent = nullptr);
    ~TrainingSession() override;

    SimulatedSensor &sensor() { return sensor_; }
    const TrainingOptions &options() const { return options_; }

    // The simulated sensor's port, described as an FTDI port.
    PortDescription sensorPort() const;
    // The simulated sensor first, so a screen offers it by default, then the
    // system's ports (the screen keeps only the FTDI ones). A sensor whose
    // cable was pulled is plugged in again, on a new port, when a screen lists.
    PortLister portLister();
    // Names the loss of the port whose cable the session pulled, in words;
    // the screens then show no system error for it.
    LinkLossNamer linkLossNamer() const;
    // The trainee pulls the cable (--fault unplug does it during a run).
    void pullCable();

    // Sampling runs started so far.
    int samplingRuns() const { return samplingRuns_; }

signals:
    void samplingStarted(SimulatedSensor::Position position);

private:
    void watchScreens();
    void readingOver();
    void samplingConfirmed(readings::Position position);
    void startSampling(SimulatedSensor::Position position);

    TrainingOptions options_;
    SimulatedSensor sensor_;
    int samplingRuns_ = 0;
    QString unpluggedPort_; // the port whose cable was pulled, until plugged in again
};
