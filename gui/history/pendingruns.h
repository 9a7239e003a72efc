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

// Writes each pending run meant for the store's history into it and removes
// its file once the history holds it, unless the file meanwhile holds a newer
// snapshot of the run. Runs meant for another history stay, with the reason
// in errors. Damaged files are listed by damagedPending().
PendingWrite writePending(Store *store, const QString &pendingFolder,
                          const QList<Pending> &pending);

} // namespace history
