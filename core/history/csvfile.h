#pragma once

// Runs exported to a CSV file.

#include "core/history/location.h"
#include "core/history/register.h"
#include "core/history/run.h"

#include <QList>
#include <QString>

namespace history
{

// The runs to a CSV file, which is replaced whole or not at all; false with
// a reason. Each run's standard is judged against the register's
// standards (standardFindingLine()); the first form leaves that column
// empty.
bool writeCsvFile(const QList<Run> &runs, const QString &path, QString *error);
bool writeCsvFile(const QList<Run> &runs, const StandardRevisions &standards, const QString &path,
                  QString *error);

// Every run of the history at that location to a CSV file, read on a
// connection of its own, so that it may run on any thread. The number of runs
// written, or -1 with a reason (nothing is written then: never a file that
// leaves runs out).
int exportHistoryToCsv(const Location &location, const QString &path, QString *error);

} // namespace history
