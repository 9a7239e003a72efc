#include "core/history/writer.h"

#include "core/history/runformat.h"
#include "core/history/store.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSaveFile>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>

namespace history
{

namespace
{
// How long a closing writer lets queued runs reach the database; what is
// left stays pending for the next start.
constexpr int kShutdownGraceMs = 3000;
const QLatin1String kErrorField("error");
const QLatin1String kPendingSuffix(".json");
// File names longer than this are replaced by a digest of the key.
constexpr int kLongestFileName = 200;

QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

// One file per run key, the key percent-encoded so that no two keys share
// a name and none leaves the folder.
QString pendingPath(const QString &folder, const QString &key)
{
    QByteArray name = key.toUtf8().toPercentEncoding("-_");
    if (name.size() > kLongestFileName)
        name = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex();
    return folder + u'/' + QString::fromLatin1(name) + kPendingSuffix;
}

struct PendingFile {
    bool exists = false;
    Pending pending;
};

PendingFile readPending(const QString &path)
{
    PendingFile file;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return file;
    const QByteArray bytes = in.readAll();
    if (!fromJson(bytes, &file.pending.run))
        return file;
    file.exists = true;
    file.pending.error = QJsonDocument::fromJson(bytes).object().value(kErrorField).toString();
    return file;
}

bool writePending(const QString &path, const Run &run, const QString &error, QString *reason)
{
    QByteArray bytes = toJson(run);
    if (!error.isEmpty()) {
        QJsonObject object = QJsonDocument::fromJson(bytes).object();
        object.insert(kErrorField, error);
        bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        *reason = out.errorString();
        return false;
    }
    return true;
}
} // namespace

// The thread that owns the writer's Store. Everything it shares with the
// caller's thread is behind mutex_; the pending files are read and written
// only while holding it, so that a snapshot and the removal of an older one
// never cross. No database call is ever made with mutex_ held.
class Writer::Worker
{
public:
    Worker(Writer *writer, const Location &location, const QString &folder)
        : writer_(writer), location_(location), folder_(folder)
    {
    }

    void start()
    {
        thread_.reset(QThread::create([this] { loop(); }));
        thread_->setObjectName(QStringLiteral("history writer"));
        thread_->start();
    }

    // Finishes what it can within the grace period and leaves the rest
    // pending. A database call under way ends within its own timeouts.
    void stop()
    {
        waitForIdle(kShutdownGraceMs);
        {
            QMutexLocker lock(&mutex_);
            stopping_ = true;
            wake_.wakeAll();
        }
        thread_->wait();
    }

    void record(const Run &run)
    {
        QMutexLocker lock(&mutex_);
        const QString path = pendingPath(folder_, run.key);
        const PendingFile existing = readPending(path);
        if (existing.exists && existing.pending.run.revision > run.revision)
            return; // a newer snapshot of this run is already waiting
        QString reason;
        if (!writePending(path, run, QString(), &reason))
            qWarning().noquote() << tr("history: the run %1 could not be kept pending in %2: %3")
                                        .arg(run.key, folder_, reason);
        enqueue(run);
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
    // With mutex_ held. A queued older snapshot of the same run is replaced.
    void enqueue(const Run &run)
    {
        const auto queued = queue_.constFind(run.key);
        if (queued != queue_.constEnd()) {
            if (queued->revision <= run.revision)
                queue_.insert(run.key, run);
            return;
        }
        queue_.insert(run.key, run);
        order_.append(run.key);
        wake_.wakeAll();
    }

    void queueFolderLocked()
    {
        const QDir dir(folder_);
        const QStringList names = dir.entryList({QLatin1Char('*') + kPendingSuffix},
                                                QDir::Files | QDir::Hidden, QDir::Name);
        for (const QString &name : names) {
            const PendingFile file = readPending(dir.filePath(name));
            if (file.exists)
                enqueue(file.pending.run);
        }
    }

    void loop()
    {
        QMutexLocker lock(&mutex_);
        for (;;) {
            while (order_.isEmpty() && !stopping_)
                wake_.wait(&mutex_);
            if (stopping_)
                break;
            const Run run = queue_.take(order_.takeFirst());
            busy_ = true;
            lock.unlock();
            write(run);
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
    void write(const Run &run)
    {
        QString error;
        if (!store_) {
            store_ = std::make_unique<Store>(location_);
            if (!store_->open(&error)) {
                // Everything queued would meet the same closed door: keep it
                // all pending with this reason instead of knocking for each.
                store_.reset();
                QList<Run> failed{run};
                {
                    QMutexLocker lock(&mutex_);
                    for (const QString &key : std::as_const(order_))
                        failed << queue_.value(key);
                    order_.clear();
                    queue_.clear();
                }
                for (const Run &each : failed)
                    fail(each, error);
                return;
            }
        }
        if (!store_->write(run, &error)) {
            store_.reset(); // reconnect for the next run
            fail(run, error);
            return;
        }
        {
            QMutexLocker lock(&mutex_);
            const QString path = pendingPath(folder_, run.key);
            const PendingFile file = readPending(path);
            // A newer snapshot recorded meanwhile stays until it is written.
            if (!file.exists || file.pending.run.revision <= run.revision)
                QFile::remove(path);
            // The database is back: what earlier failures left is written now.
            if (failedSinceSuccess_) {
                failedSinceSuccess_ = false;
                queueFolderLocked();
            }
        }
    }

    void fail(const Run &run, const QString &error)
    {
        {
            QMutexLocker lock(&mutex_);
            failedSinceSuccess_ = true;
            const QString path = pendingPath(folder_, run.key);
            const PendingFile file = readPending(path);
            QString reason;
            if ((!file.exists || file.pending.run.revision <= run.revision) &&
                !writePending(path, run, error, &reason))
                qWarning().noquote()
                    << tr("history: the run %1 could not be kept pending in %2: %3")
                           .arg(run.key, folder_, reason);
        }
        qWarning().noquote() << tr("history: the run %1 stays pending: %2").arg(run.key, error);
        emit writer_->failed(run.key, error);
    }

    Writer *writer_;
    const Location location_;
    const QString folder_;
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<Store> store_; // the worker thread's only

    QMutex mutex_;
    QWaitCondition wake_; // something queued, or stopping
    QWaitCondition idle_; // the queue ran empty
    QHash<QString, Run> queue_;
    QStringList order_; // the keys of queue_, oldest first
    bool busy_ = false;
    bool stopping_ = false;
    bool failedSinceSuccess_ = false;
};

Writer::Writer(const Location &location, const QString &pendingFolder, QObject *parent)
    : QObject(parent), worker_(std::make_unique<Worker>(this, location, pendingFolder))
{
    if (!QDir().mkpath(pendingFolder))
        qWarning().noquote()
            << tr("history: cannot create the folder of pending runs %1").arg(pendingFolder);
    worker_->queueFolder();
    worker_->start();
}

Writer::~Writer()
{
    worker_->stop();
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

QList<Pending> pendingRuns(const QString &pendingFolder)
{
    QList<Pending> list;
    const QDir dir(pendingFolder);
    const QStringList names =
        dir.entryList({QLatin1Char('*') + kPendingSuffix}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const PendingFile file = readPending(dir.filePath(name));
        if (file.exists)
            list << file.pending;
    }
    std::stable_sort(list.begin(), list.end(), [](const Pending &a, const Pending &b) {
        return a.run.started < b.run.started;
    });
    return list;
}

QString notice(const Pending &pending)
{
    const Run &run = pending.run;
    const QString date =
        run.started.isValid()
            ? run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
            : tr("(unknown)");
    const QString serial = run.serialNumber.isEmpty() ? tr("(unknown)") : run.serialNumber;
    const QString reason = pending.error.isEmpty() ? tr("it was not written yet") : pending.error;
    return tr("The run of %1 for sensor %2 could not be recorded: %3").arg(date, serial, reason);
}

} // namespace history
