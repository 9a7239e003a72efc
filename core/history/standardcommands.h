#pragma once

// The reference standards from the command line: register one (or its next
// calibration), withdraw one, list them, and name the one this station uses.

#include "core/history/commands.h"

class QCommandLineParser;
class QTextStream;

namespace history
{

class Store;

// The options of these actions (without "--").
inline constexpr char kAddStandardOption[] = "add-standard";
inline constexpr char kTipKindOption[] = "tip-kind";
inline constexpr char kStandardCertificateOption[] = "standard-certificate";
inline constexpr char kCalibratedOnOption[] = "calibrated-on";
inline constexpr char kDueOnOption[] = "due-on";
inline constexpr char kWithdrawStandardOption[] = "withdraw-standard";
inline constexpr char kStandardsOption[] = "standards";
inline constexpr char kStationStandardOption[] = "station-standard";
inline constexpr const char *kStandardOptions[] = {
    kAddStandardOption, kTipKindOption,          kStandardCertificateOption, kCalibratedOnOption,
    kDueOnOption,       kWithdrawStandardOption, kStandardsOption,           kStationStandardOption,
};
// How the dates of a standard are written.
inline constexpr char kStandardDateFormat[] = "yyyy-MM-dd";

void addStandardOptions(QCommandLineParser &parser);

// The rest of a command whose action is one of these, once the action and
// its value (Command::path) are known; false with a reason when the
// options do not go together.
bool standardCommandFrom(const QCommandLineParser &parser, Command *command, QString *error);

// Carries out such a command; the exit status.
int runStandardCommand(const Command &command, Store &store, QTextStream &out, QTextStream &err);

} // namespace history
