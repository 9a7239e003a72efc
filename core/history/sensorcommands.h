#pragma once

// The command line's sensor and interval actions: retire and reinstate a
// sensor, set a type's or a sensor's calibration interval, list the
// intervals with each sensor's suggestion, and apply one.

#include "core/history/commands.h"

#include <QList>

class QCommandLineParser;
class QTextStream;

namespace history
{

class Store;

// Their options (without "--"), for telling a command line from the window's.
QList<const char *> sensorOptions();
bool isSensorAction(Command::Action action);
void addSensorOptions(QCommandLineParser &parser);
// Reads the action's own options into *command (its action set); false with
// a reason when the command line is wrong.
bool sensorCommandFrom(const QCommandLineParser &parser, Command *command, QString *error);
// The exit status: kExitFindings when refused (the reason on `err`),
// kExitUnusable when the history could not be read or written.
int runSensorAction(const Command &command, Store &store, QTextStream &out, QTextStream &err);

} // namespace history
