#include "core/history/writer.h"

#include "core/history/letgo.h"
#include "core/history/showntext.h"
#include "core/history/store.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QSqlDatabase>
#include <QThread>
#include <QWaitCondition>

namespace history
{

namespace
{
// How long a closing writer lets queued runs reach the database, and then
// how long it waits for a call under way to end; what is left stays pending
// for the next start.
constexpr int kShutdownGraceMs = 3000;
constexpr int kShutdownLastMs = 1000;
// How long the pending folder's lock is waited for; short, as the screen's
// thread may be the one waiting. Not got, the run is kept in memory.
constexpr int kLockWaitMs = 500;

QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}
} // namespace

// The thread that owns the writer's Store. Everything it shares with the
// caller's thread is behind mutex_; the pending files are read and written
// only while holding it (and the folder's lock), so that a snapshot and the
// removal of an older one never cross. No database call is ever made with
// mutex_ held, and no signal is emitted with it held.
class Writer::Worker
{
public:
    Worker(Writer *writer, const Location &location, const QString &folder, int retryMs)
        : writer_(writer), location_(location), locationText_(locationText(location)),
          folder_(folder), retryMs_(retryMs)
    {
    }

    void start()
    {
        thread_.reset(QThread::create([this] { loop(); }));
        thread_->setObjectName(QStringLiteral("history writer"));
        thread_->start();
    }

    // Finishes what it can within the grace period and leaves the rest
    // pending; false when the thread is still in a database call.
    bool stop()
    {
        waitForIdle(kShutdownGraceMs);
        {
            QMutexLocker lock(&mutex_);
            stopping_ = true;
            wake_.wakeAll();
        }
        return thread_->wait(kShutdownLastMs);
    }

    // The writer is gone: no more signals.
    void detach()
    {
        QMutexLocker lock(&signalMutex_);
        writer_ = nullptr;
    }

    void record(const Run &run)
    {
        QMutexLocker lock(&mutex_);
        Pending entry{run, QString(), locationText_, identity_};
        QString why;
        if (!keepLocked(entry, &why)) {
            qWarning().noquote() << tr("history: the run %1 could not be kept pending in %2: %3")
                                        .arg(run.key, folder_, why);
            remember(run);
        }
        enqueue(entry);
    }

    void queueFolder()
    {
        QMutexLocker lock(&mutex_);
        queueFolderLocked();
    }

    bool waitForIdle(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        QMutexLocker lock(&mutex_);
        while (!order_.isEmpty() || busy_) {
            if (!idle_.wait(&mutex_, deadline))
                return false;
        }
        return true;
    }

private:
    // With mutex_ held: the snapshot in its file, unless a newer one is there.
    bool keepLocked(const Pending &entry, QString *why)
    {
        const PendingLock lock(folder_, kLockWaitMs);
        if (!lock.locked()) {
            *why = lock.error();
            return false;
        }
        if (!keepPending(folder_, entry, why))
            return false;
        forget(entry.run);
        return true;
    }

    // With mutex_ held: a run that is in no file waits in memory.
    void remember(const Run &run)
    {
        const auto known = memory_.constFind(run.key);
        if (known == memory_.constEnd() || known->revision <= run.revision)
            memory_.insert(run.key, run);
    }
    void forget(const Run &run)
    {
        const auto known = memory_.constFind(run.key);
        if (known != memory_.constEnd() && known->revision <= run.revision)
            memory_.remove(run.key);
    }

    // With mutex_ held. A queued older snapshot of the same run is replaced.
    void enqueue(const Pending &entry)
    {
        const auto queued = queue_.constFind(entry.run.key);
        if (queued != queue_.constEnd()) {
            if (queued->run.revision <= entry.run.revision)
                queue_.insert(entry.run.key, entry);
            return;
        }
        queue_.insert(entry.run.key, entry);
        order_.append(entry.run.key);
        wake_.wakeAll();
    }

    void queueFolderLocked()
    {
        const PendingLock lock(folder_, kLockWaitMs);
        if (!lock.locked()) {
            qWarning().noquote()
                << tr("history: the pending runs in %1 wait: %2").arg(folder_, lock.error());
            return;
        }
        for (const Pending &entry : readPendingFolder(folder_, location_.training))
            enqueue(entry);
    }

    // With mutex_ held: everything that still waits, in files or in memory.
    void queueRetriesLocked()
    {
        queueFolderLocked();
        for (const Run &run : std::as_const(memory_))
            enqueue(Pending{run, QString(), locationText_, identity_});
    }

    void loop()
    {
        QMutexLocker lock(&mutex_);
        QDeadlineTimer nextRetry(retryMs_);
        for (;;) {
            while (order_.isEmpty() && !stopping_) {
                if (!wake_.wait(&mutex_, nextRetry)) {
                    nextRetry.setRemainingTime(retryMs_);
                    queueRetriesLocked();
                }
            }
            if (stopping_)
                break;
            const Pending entry = queue_.take(order_.takeFirst());
            busy_ = true;
            lock.unlock();
            write(entry);
            lock.relock();
            busy_ = false;
            if (order_.isEmpty())
                idle_.wakeAll();
        }
        // What is still queued stays in its pending file.
        order_.clear();
        queue_.clear();
        busy_ = false;
        idle_.wakeAll();
        lock.unlock();
        store_.reset();
    }

    // On the worker's thread, without mutex_.
    void write(const Pending &entry)
    {
        QString error;
        if (!store_) {
            store_ = std::make_unique<Store>(location_);
            if (!store_->open(&error)) {
                // Everything queued would meet the same closed door: keep it
                // all pending with this reason instead of knocking for each.
                store_.reset();
                QList<Pending> failed{entry};
                {
                    QMutexLocker lock(&mutex_);
                    for (const QString &key : std::as_const(order_))
                        failed << queue_.value(key);
                    order_.clear();
                    queue_.clear();
                }
                for (const Pending &each : failed)
                    fail(each, error);
                return;
            }
            QMutexLocker lock(&mutex_);
            identity_ = store_->identity();
        }
        const QString refused = meantForAnother(entry, locationText_, store_->identity(), true);
        if (!refused.isEmpty()) {
            // It stays where it is, for the history it names.
            bool first = false;
            {
                QMutexLocker lock(&mutex_);
                first = !refusedReported_.contains(entry.run.key);
                refusedReported_.insert(entry.run.key);
            }
            if (first) {
                qWarning().noquote()
                    << tr("history: the run %1 stays pending: %2").arg(entry.run.key, refused);
                emitFailed(entry.run.key, refused);
            }
            return;
        }
        if (!store_->write(entry.run, &error)) {
            store_.reset(); // reconnect for the next run
            fail(entry, error);
            return;
        }
        // Written, already there or superseded: the history holds it.
        QMutexLocker lock(&mutex_);
        forget(entry.run);
        {
            const PendingLock folderLock(folder_, kLockWaitMs);
            // Without the lock the file stays, and goes at a later try.
            if (folderLock.locked())
                removeIfNotNewer(folder_, entry.run.key, entry.run.revision);
        } // released: the folder's lock is not taken twice

        // The database is back: what earlier failures left is written now.
        if (failedSinceSuccess_) {
            failedSinceSuccess_ = false;
            queueRetriesLocked();
        }
    }

    void fail(const Pending &entry, const QString &error)
    {
        QString lostReason;
        {
            QMutexLocker lock(&mutex_);
            failedSinceSuccess_ = true;
            Pending failed = entry;
            failed.error = error;
            if (failed.location == locationText_ && failed.identity.isEmpty())
                failed.identity = identity_;
            QString why;
            if (!keepLocked(failed, &why)) {
                qWarning().noquote()
                    << tr("history: the run %1 could not be kept pending in %2: %3")
                           .arg(entry.run.key, folder_, why);
                // In no file: it waits in memory, and someone must know.
                if (memory_.contains(entry.run.key) && !lostReported_.contains(entry.run.key)) {
                    lostReported_.insert(entry.run.key);
                    lostReason = tr("%1; %2").arg(error, why);
                }
            }
        }
        qWarning().noquote()
            << tr("history: the run %1 stays pending: %2").arg(entry.run.key, error);
        emitFailed(entry.run.key, error);
        if (!lostReason.isEmpty()) {
            QMutexLocker lock(&signalMutex_);
            if (writer_)
                emit writer_->lost(entry.run.key, runName(entry.run), lostReason);
        }
    }

    void emitFailed(const QString &key, const QString &reason)
    {
        QMutexLocker lock(&signalMutex_);
        if (writer_)
            emit writer_->failed(key, reason);
    }

    QMutex signalMutex_; // guards writer_
    Writer *writer_;
    const Location location_;
    const QString locationText_;
    const QString folder_;
    const int retryMs_;
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<Store> store_; // the worker thread's only

    QMutex mutex_;
    QWaitCondition wake_; // something queued, or stopping
    QWaitCondition idle_; // the queue ran empty
    QHash<QString, Pending> queue_;
    QStringList order_;          // the keys of queue_, oldest first
    QHash<QString, Run> memory_; // runs in no pending file
    QSet<QString> lostReported_; // runs lost() was emitted for
    QSet<QString> refusedReported_;
    QString identity_; // the database's, once open
    bool busy_ = false;
    bool stopping_ = false;
    bool failedSinceSuccess_ = false;
};

QString Writer::stationStandard() const
{
    return training_ ? QString() : history::stationStandard(settingsFile());
}

Writer::Writer(const Location &location, const QString &pendingFolder, QObject *parent, int retryMs)
    : QObject(parent), worker_(std::make_unique<Worker>(this, location, pendingFolder, retryMs)),
      training_(location.training)
{
    QString error;
    if (!makePrivateFolder(pendingFolder, &error))
        qWarning().noquote() << tr("history: the pending runs cannot be kept: %1").arg(error);
    worker_->queueFolder();
    worker_->start();
}

Writer::~Writer()
{
    if (!worker_->stop()) {
        // The thread is stuck in a database call. Destroying a running
        // QThread would abort the program, and waiting could hold its exit
        // for ever: it is let go, deliberately leaked with its worker. Its
        // runs are in their pending files already.
        worker_->detach();
        qWarning().noquote() << tr(
            "history: the database did not answer in time; the runs not written stay "
            "pending");
        keepReachable(worker_.release());
    }
}

void Writer::record(const Run &run)
{
    if (run.key.isEmpty()) {
        qWarning().noquote() << tr("history: a run without a key cannot be recorded");
        return;
    }
    worker_->record(run);
}

bool Writer::waitForIdle(int timeoutMs)
{
    return worker_->waitForIdle(timeoutMs);
}

QList<Pending> pendingRuns(const QString &pendingFolder, bool training)
{
    if (!QFileInfo(pendingFolder).isDir())
        return {};
    const PendingLock lock(pendingFolder);
    if (!lock.locked()) {
        qWarning().noquote() << tr("history: the pending runs in %1 cannot be read: %2")
                                    .arg(pendingFolder, lock.error());
        return {};
    }
    return readPendingFolder(pendingFolder, training);
}

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

QString runName(const Run &run)
{
    const QString date =
        run.dateOnly() ? run.date.toString(Qt::ISODate)
        : run.started.isValid()
            ? run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
            : tr("(unknown)");
    const QString serial = run.serialNumber.isEmpty() ? tr("(unknown)") : shown(run.serialNumber);
    return tr("the run of %1 for sensor %2").arg(date, serial);
}

QString notice(const Pending &pending)
{
    const Run &run = pending.run;
    const QString date =
        run.started.isValid()
            ? run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
            : tr("(unknown)");
    const QString serial = run.serialNumber.isEmpty() ? tr("(unknown)") : shown(run.serialNumber);
    const QString reason = pending.error.isEmpty() ? tr("it was not written yet") : pending.error;
    return tr("The run of %1 for sensor %2 could not be recorded: %3").arg(date, serial, reason);
}

} // namespace history
