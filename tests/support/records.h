#pragma once

// Record files as the calibration screen writes them, for the suites that
// print, read or import them.

#include "core/record.h"

#include <QByteArray>
#include <QDate>
#include <QString>

namespace testrecords
{

// The record of a run on the drifted metre sensor (tests/support/drifted.h)
// with verification tip `tipId`: validated (readings as found) and, with
// newConstants, recalibrated (new constants, readings as left).
record::Inputs driftedInputs(const QString &serial, const QDate &date, bool newConstants = false,
                             int tipId = 1);
// The bytes the screen writes: the record's text in the system's encoding.
QByteArray fileBytes(const record::Inputs &inputs);
QByteArray driftedRecord(const QString &serial, const QDate &date, bool newConstants = false,
                         int tipId = 1);

// Writes the bytes to a file, making its folder; false when it could not.
bool writeFile(const QString &path, const QByteArray &bytes);

} // namespace testrecords
