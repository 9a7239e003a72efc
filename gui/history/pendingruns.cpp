#include "gui/history/pendingruns.h"

#include "core/history/pendingfiles.h"
#include "core/history/store.h"

#include <QSqlDatabase>

namespace history
{

namespace
{

constexpr char kSQLiteDriver[] = "QSQLITE";

// Where the store is connected to, as the pending files name it.
QString storeLocation(const Store &store)
{
    const QSqlDatabase db = store.database();
    Location location;
    if (db.driverName() == QLatin1String(kSQLiteDriver)) {
        location.path = db.databaseName();
    } else {
        location.kind = Location::Kind::PostgreSQL;
        location.host = db.hostName();
        location.port = db.port();
        location.database = db.databaseName();
        location.user = db.userName();
    }
    return locationText(location);
}

} // namespace

QStringList pendingNotices(const QList<Pending> &pending)
{
    QStringList notices;
    for (const Pending &p : pending) {
        if (!p.error.isEmpty())
            notices << notice(p);
    }
    return notices;
}

PendingWrite writePending(Store *store, const QString &pendingFolder, const QList<Pending> &pending)
{
    PendingWrite result;
    if (pending.isEmpty())
        return result;
    const QString location = storeLocation(*store);
    for (const Pending &p : pending) {
        // Only the history a run was meant for takes it: not a copy, not
        // another station's.
        const QString refused = meantForAnother(p, location, store->identity(), false);
        if (!refused.isEmpty()) {
            result.errors << refused;
            continue;
        }
        QString error;
        if (!store->write(p.run, &error)) {
            result.errors << error;
            continue;
        }
        ++result.written;
        // A station still running may have put a newer snapshot there since.
        const PendingLock lock(pendingFolder);
        if (lock.locked())
            removeIfNotNewer(pendingFolder, p.run.key, p.run.revision);
    }
    return result;
}

} // namespace history
