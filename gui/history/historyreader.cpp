#include "gui/history/historyreader.h"

#include "core/history/letgo.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>

#include <atomic>

namespace history
{

namespace
{

// How long a closing window lets a read under way end.
constexpr int kCloseGraceMs = 3000;

// Requests carried out each, however many follow: those that write.
bool eachOne(HistoryReader::Kind kind)
{
    return kind == HistoryReader::PendingRuns || kind == HistoryReader::SetType ||
           kind == HistoryReader::Certify || kind == HistoryReader::Sign ||
           kind == HistoryReader::Register || kind == HistoryReader::StoreStandard;
}

// Whether each sensor's newest run was made with a standard the register
// finds fault with; here, off the window's thread, for the local day of
// each run.
void markStandardFindings(QList<SensorSummary> *sensors, const StandardRevisions &standards)
{
    for (SensorSummary &sensor : *sensors) {
        Run newest;
        newest.standardSerial = sensor.lastStandardSerial;
        newest.tipKind = sensor.lastTipKind;
        newest.started = sensor.lastRun;
        sensor.standardFinding =
            !newest.standardSerial.isEmpty() && standardFindingsAt(newest, standards).any();
    }
}

} // namespace

// What the reader's thread and the window's share. The store is touched on
// the reader's thread only.
struct HistoryReader::Shared {
    Location location;
    Hook hook;
    std::unique_ptr<Store> store;
    QString openError; // why the store is not open
    std::array<std::atomic<quint64>, KindCount> newest{};
    // Whether the window still takes answers; held while one is posted.
    QMutex mutex;
    bool gone = false;
};

HistoryReader::HistoryReader(const Location &location, Hook hook, QObject *parent)
    : QObject(parent), shared_(std::make_shared<Shared>())
{
    shared_->location = location;
    shared_->hook = std::move(hook);
    shared_->openError = tr("The history is not open.");
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("history reader"));
    worker_ = new QObject;
    worker_->moveToThread(thread_);
    thread_->start();
}

HistoryReader::~HistoryReader()
{
    {
        QMutexLocker lock(&shared_->mutex);
        shared_->gone = true;
    }
    // The connection ends on the thread that made it, and that thread ends
    // after it: told to quit at once, the thread could end before the
    // connection and leave it to be closed here, on the wrong thread.
    std::shared_ptr<Shared> shared = shared_;
    QMetaObject::invokeMethod(
        worker_,
        [shared] {
            shared->store.reset();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (thread_->wait(QDeadlineTimer(kCloseGraceMs))) {
        delete worker_;
        delete thread_;
        return;
    }
    // Stuck in the database: let go, deliberately not destroyed (that would
    // abort); it tells this window nothing more.
    keepReachable(worker_);
    keepReachable(thread_);
    keepReachable(new std::shared_ptr<Shared>(shared_));
}

quint64 HistoryReader::request(Kind kind)
{
    const quint64 number = ++newest_[kind];
    shared_->newest[kind] = number;
    return number;
}

bool HistoryReader::waiting(Kind kind) const
{
    return answered_[kind] < newest_[kind];
}

bool HistoryReader::busy() const
{
    for (int k = 0; k < KindCount; ++k) {
        if (waiting(Kind(k)))
            return true;
    }
    return false;
}

void HistoryReader::post(Kind kind, quint64 number, const QString &subject,
                         std::function<std::function<void()>()> work)
{
    std::shared_ptr<Shared> shared = shared_;
    QMetaObject::invokeMethod(
        worker_,
        [this, shared, kind, number, subject, work = std::move(work)] {
            // Pending runs are each written; any other request a newer one
            // of its kind replaces need not be carried out.
            std::function<void()> deliver;
            if (eachOne(kind) || number >= shared->newest[kind]) {
                if (shared->hook)
                    shared->hook(kind, subject);
                deliver = work();
            }
            QMutexLocker lock(&shared->mutex);
            if (shared->gone)
                return;
            QMetaObject::invokeMethod(
                this,
                [this, kind, number, deliver] {
                    answered_[kind] = std::max(answered_[kind], number);
                    if (deliver && (eachOne(kind) || number == newest_[kind]))
                        deliver();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void HistoryReader::open(bool fresh)
{
    std::shared_ptr<Shared> shared = shared_;
    post(Open, request(Open), QString(), [this, shared, fresh] {
        if (fresh || !shared->store) {
            shared->store.reset();
            shared->store = std::make_unique<Store>(shared->location);
            QString error;
            if (shared->store->open(&error)) {
                shared->openError.clear();
            } else {
                shared->openError = error;
                shared->store.reset();
            }
        }
        const QString error = shared->openError;
        return std::function<void()>([this, error] { emit opened(error); });
    });
}

void HistoryReader::readSensors(const QDate &today)
{
    std::shared_ptr<Shared> shared = shared_;
    post(Sensors, request(Sensors), QString(), [this, shared, today] {
        QString error = shared->openError;
        QList<SensorSummary> sensors;
        StandardRevisions register_;
        QString registerError = error;
        if (shared->store) {
            sensors = shared->store->sensors(&error, today);
            shared->store->markInProgress(&sensors, QDateTime::currentDateTimeUtc());
            if (standardRevisions(*shared->store, &register_, &registerError))
                registerError.clear();
            markStandardFindings(&sensors, register_);
        }
        return std::function<void()>([this, sensors, error, register_, registerError] {
            emit sensorsRead(sensors, error);
            emit standardsRead(register_, registerError);
        });
    });
    post(UnsignedRuns, request(UnsignedRuns), QString(), [this, shared] {
        QString error = shared->openError;
        QHash<QString, int> counts;
        if (shared->store && unsignedRunCounts(*shared->store, &counts, &error))
            return std::function<void()>([this, counts] { emit unsignedCounted(counts); });
        return std::function<void()>(); // the sensors' read says what failed
    });
}

void HistoryReader::readRuns(const QString &serialNumber, const QString &sensorType)
{
    std::shared_ptr<Shared> shared = shared_;
    post(Runs, request(Runs), serialNumber, [this, shared, serialNumber, sensorType] {
        QString error = shared->openError;
        QList<Run> runs;
        QHash<QString, QList<Signature>> signatures;
        if (shared->store) {
            runs = shared->store->runsOf(serialNumber, sensorType, &error);
            const QDateTime now = QDateTime::currentDateTimeUtc();
            markInProgress(&runs, shared->store->latestStarts(runs, now), now);
            if (error.isEmpty())
                signaturesOfSerial(*shared->store, serialNumber, &signatures, &error);
        }
        // The interval they suggest, when the register can be read.
        IntervalSuggestion suggestion;
        QHash<QString, IntervalSetting> settings;
        const bool suggested = shared->store && error.isEmpty() &&
                               intervalSettings(*shared->store, &settings, nullptr);
        if (suggested)
            suggestion = suggestedInterval(runs, intervalFor(settings, serialNumber, sensorType),
                                           intervalSince(settings, serialNumber, sensorType));
        return std::function<void()>([this, serialNumber, sensorType, runs, signatures, error,
                                      suggested, suggestion] {
            if (suggested)
                emit suggestionRead(serialNumber, sensorType, suggestion);
            if (error.isEmpty())
                emit signaturesRead(signatures);
            emit runsRead(serialNumber, sensorType, runs, error);
        });
    });
}

void HistoryReader::readRevisions(const QString &key)
{
    std::shared_ptr<Shared> shared = shared_;
    post(Revisions, request(Revisions), key, [this, shared, key] {
        QString error = shared->openError;
        QList<Run> revisions;
        if (shared->store) {
            revisions = shared->store->revisionsOf(key, &error);
            const QDateTime now = QDateTime::currentDateTimeUtc();
            markRevisionsInProgress(&revisions, shared->store->latestStarts(revisions, now), now);
        }
        return std::function<void()>(
            [this, key, revisions, error] { emit revisionsRead(key, revisions, error); });
    });
}

void HistoryReader::readTypes(const QString &key, const QString &serialNumber)
{
    std::shared_ptr<Shared> shared = shared_;
    post(Types, request(Types), serialNumber, [this, shared, key, serialNumber] {
        QString error = shared->openError;
        QStringList types;
        if (shared->store)
            types = shared->store->typesOf(serialNumber, &error);
        return std::function<void()>(
            [this, key, types, error] { emit typesRead(key, types, error); });
    });
}

void HistoryReader::setRunType(const QString &key, const QString &sensorType)
{
    std::shared_ptr<Shared> shared = shared_;
    post(SetType, request(SetType), key, [this, shared, key, sensorType] {
        TypeChange change;
        change.reason = shared->openError;
        if (shared->store)
            change = shared->store->setRunType(key, sensorType);
        return std::function<void()>(
            [this, key, sensorType, change] { emit typeSet(key, sensorType, change); });
    });
}

void HistoryReader::changeRegister(const QString &what,
                                   std::function<RegisterChange(Store &)> change)
{
    std::shared_ptr<Shared> shared = shared_;
    post(Register, request(Register), what, [this, shared, what, change = std::move(change)] {
        RegisterChange done;
        done.reason = shared->openError;
        if (shared->store)
            done = change(*shared->store);
        return std::function<void()>([this, what, done] { emit registerChanged(what, done); });
    });
}

void HistoryReader::certify(const QString &key, const QString &path, bool training)
{
    std::shared_ptr<Shared> shared = shared_;
    post(Certify, request(Certify), key, [this, shared, key, path, training] {
        CertificateIssue issue;
        issue.reason = shared->openError;
        QString writeError;
        if (shared->store)
            issue = certificateFor(*shared->store, key, training);
        if (issue.kind == CertificateIssue::Issued || issue.kind == CertificateIssue::PrintedAgain)
            writeCertificatePdf(issue.certificate.content, path, &writeError);
        return std::function<void()>(
            [this, issue, path, writeError] { emit certified(issue, path, writeError); });
    });
}

void HistoryReader::signRun(const QString &key, const QString &meaning)
{
    std::shared_ptr<Shared> shared = shared_;
    post(Sign, request(Sign), key, [this, shared, key, meaning] {
        RegisterChange change;
        change.reason = shared->openError;
        QString signer;
        if (shared->store)
            change = history::signRun(*shared->store, key, meaning, &signer);
        return std::function<void()>(
            [this, key, meaning, change, signer] { emit runSigned(key, meaning, change, signer); });
    });
}

void HistoryReader::readStandards()
{
    std::shared_ptr<Shared> shared = shared_;
    post(Standards, request(Standards), QString(), [this, shared] {
        QString error = shared->openError;
        StandardRevisions all;
        if (shared->store && standardRevisions(*shared->store, &all, &error))
            error.clear();
        return std::function<void()>([this, all, error] { emit standardsRead(all, error); });
    });
}

void HistoryReader::storeStandard(const Standard &standard, bool withdrawn)
{
    std::shared_ptr<Shared> shared = shared_;
    post(StoreStandard, request(StoreStandard), standard.serialNumber,
         [this, shared, standard, withdrawn] {
             RegisterChange change;
             change.reason = shared->openError;
             if (shared->store)
                 change = withdrawn ? withdrawStandard(*shared->store, standard.serialNumber)
                                    : history::storeStandard(*shared->store, standard);
             return std::function<void()>([this, serial = standard.serialNumber, change] {
                 emit standardStored(serial, change);
             });
         });
}

void HistoryReader::writePending(const QString &pendingFolder, const QList<Pending> &pending)
{
    std::shared_ptr<Shared> shared = shared_;
    post(PendingRuns, request(PendingRuns), pendingFolder, [this, shared, pendingFolder, pending] {
        PendingWrite written;
        if (shared->store)
            written = history::writePending(shared->store.get(), pendingFolder, pending);
        else
            written.errors.fill(shared->openError, pending.size());
        return std::function<void()>([this, written] { emit pendingWritten(written); });
    });
}

} // namespace history
