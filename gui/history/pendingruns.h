#pragma once

// Runs a station kept pending because the database could not take them: the
// history window shows why, once, then writes them itself.

#include "core/history/writer.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace history
{

class Store;

// The notices of the pending runs that were tried and failed, oldest first.
QStringList pendingNotices(const QList<Pending> &pending);

struct PendingWrite {
    int written = 0;
    QStringList errors; // one per run that is still pending
};

// Writes each pending run into the store and removes its file once written,
// unless the file meanwhile holds a newer snapshot of the run.
PendingWrite writePending(Store *store, const QString &pendingFolder,
                          const QList<Pending> &pending);

} // namespace history
