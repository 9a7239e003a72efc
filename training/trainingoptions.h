#pragma once

// What the training program's simulated sensor is: its model, how far its
// slope has drifted, and the fault it shows.

#include "simulator/simulatedsensor.h"

#include <QString>

class QCommandLineParser;

struct TrainingOptions {
    enum class Model { MetreRange2000, CentimetreRange2000, CentimetreRange10000 };
    enum class Fault { None, NoReply, OldFirmware, BadData, Unplug };

    // Enough drift that both validation readings fail and a calibration is worth doing.
    static constexpr double kDefaultDrift = 0.15;
    static constexpr double kMaximumDrift = 0.9;
    static constexpr int kLineIntervalMs = 1000; // a real sensor writes one line a second

    Model model = Model::MetreRange2000;
    double drift = kDefaultDrift;
    Fault fault = Fault::None;
    int samplingIntervalMs = kLineIntervalMs;
};

// Adds --model, --drift and --fault.
void addTrainingOptions(QCommandLineParser &parser);
// Reads the options added above from a parser that has parsed the command
// line; false, with a message for the operator, when a value is not known.
bool readTrainingOptions(const QCommandLineParser &parser, TrainingOptions *options,
                         QString *error);

// The sensor the options describe, drift applied.
SensorProfile profileFor(const TrainingOptions &options);
// One line for the terminal, e.g. "ps-m-2000, drift 0.15, fault none".
QString describe(const TrainingOptions &options);
