#pragma once

// Runs a station kept pending because the database could not take them: the
// history window shows why, once, then writes them itself (writePending()).

#include "core/history/writer.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace history
{

// The notices of the pending runs that were tried and failed, oldest first.
QStringList pendingNotices(const QList<Pending> &pending);

} // namespace history
