#include "training/trainingsession.h"

#include "core/procedure.h"
#include "core/protocol.h"
#include "gui/calibrationdlg.h"

#include <QApplication>
#include <QTimer>

namespace
{
// The calibration data are the third reading of a run: validation high and
// low come first. The cable is pulled a few lines into it.
constexpr int kUnplugDuringRun = 3;
constexpr int kUnplugAfterLines = 6;
// How the lost-connection box names the simulated unplug.
const char kCablePulled[] = QT_TRANSLATE_NOOP("TrainingSession", "the cable was pulled");

bool startsSequence(const QByteArray &command)
{
    for (const char *prefix : {protocol::kSlopeCommand, protocol::kOffsetCommand,
                               protocol::kDateCommand, protocol::kSaveCommand}) {
        if (command.startsWith(prefix))
            return true;
    }
    return false;
}
} // namespace

TrainingSession::TrainingSession(const TrainingOptions &options, QObject *parent)
    : QObject(parent), options_(options), sensor_(profileFor(options))
{
    switch (options_.fault) {
    case TrainingOptions::Fault::NoReply:
        sensor_.setFault(SimulatedSensor::Fault::Silent);
        break;
    case TrainingOptions::Fault::BadData:
        sensor_.setFault(SimulatedSensor::Fault::ShortData);
        break;
    default:
        break;
    }
    // The operator stops sampling before constants or a date are written. Not
    // on "toff": the program writes it just before some sampling prompts, and
    // it may arrive after the operator has started sampling.
    connect(&sensor_, &SimulatedSensor::commandReceived, this, [this](const QByteArray &command) {
        // The main window opens the screens and hands them to nobody: the one
        // that talks to the sensor is among the application's windows now,
        // long before it asks for sampling.
        watchScreens();
        if (startsSequence(command))
            sensor_.stopSampling();
    });
}

TrainingSession::~TrainingSession() = default;

PortDescription TrainingSession::sensorPort() const
{
    return sensor_.portDescription();
}

PortLister TrainingSession::portLister()
{
    return [this] {
        if (!sensor_.isOpen() && sensor_.plugIn())
            unpluggedPort_.clear();
        QList<PortDescription> ports{sensorPort()};
        ports += systemPorts();
        return ports;
    };
}

LinkLossNamer TrainingSession::linkLossNamer() const
{
    return [this](const QString &portName) {
        return !unpluggedPort_.isEmpty() && portName == unpluggedPort_ ? tr(kCablePulled)
                                                                       : QString();
    };
}

void TrainingSession::pullCable()
{
    if (!sensor_.isOpen())
        return;
    unpluggedPort_ = sensor_.portPath();
    sensor_.hangUp();
}

void TrainingSession::watchScreens()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto *screen = qobject_cast<CalibrationDlg *>(window);
        if (!screen)
            continue;
        const Procedure *procedure = &screen->procedure();
        connect(procedure, &Procedure::collectionEnded, this, &TrainingSession::readingOver,
                Qt::UniqueConnection);
        connect(procedure, &Procedure::samplingRequested, this, &TrainingSession::readingOver,
                Qt::UniqueConnection);
        connect(procedure, &Procedure::samplingConfirmed, this, &TrainingSession::samplingConfirmed,
                Qt::UniqueConnection);
    }
}

void TrainingSession::readingOver()
{
    // Lines sampled after the collection would reach the next reading.
    sensor_.stopSampling();
    // A short first reading is enough to practise; the retry gets full data.
    if (options_.fault == TrainingOptions::Fault::BadData && samplingRuns_ > 0)
        sensor_.setFault(SimulatedSensor::Fault::None);
}

void TrainingSession::samplingConfirmed(readings::Position position)
{
    // The operator starts sampling, then clicks OK: the collection begins with the click.
    startSampling(position == readings::Position::Low ? SimulatedSensor::Position::Low
                                                      : SimulatedSensor::Position::High);
}

void TrainingSession::startSampling(SimulatedSensor::Position position)
{
    if (!sensor_.isOpen())
        return;
    ++samplingRuns_;
    sensor_.startSampling(position, options_.samplingIntervalMs);
    emit samplingStarted(position);
    if (options_.fault == TrainingOptions::Fault::Unplug && samplingRuns_ == kUnplugDuringRun) {
        QTimer::singleShot(kUnplugAfterLines * options_.samplingIntervalMs, this,
                           [this] { pullCable(); });
    }
}
