#pragma once

// The training program's simulated sensor has serial numbers of its own
// kind, so that a practice record is known wherever it turns up and never
// enters the real history.

#include <QString>

namespace history
{

inline constexpr char kTrainingSerialPrefix[] = "TR-";

// True for a serial number of the training program's simulated sensor (the
// prefix in any case, blanks around it ignored).
bool isTrainingSerial(const QString &serialNumber);

// Why a run of the training sensor `serialNumber` is refused by the real
// history, wherever it comes from (a record file, a pending file).
QString practiceRefusal(const QString &serialNumber);

// The training sensor's serial number for a model's: the prefix and the
// model serial's last part ("40317-20415" gives "TR-20415"), as short as the
// screen's serial field needs.
QString trainingSerial(const QString &modelSerial);

} // namespace history
