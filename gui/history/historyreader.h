#pragma once

// The history window's reads (and its writing of pending runs) on a thread
// and a connection of their own, so the window never waits for a database.
// Requests return at once; each result comes back as a signal on the
// window's thread. A result older than the newest request of its kind is
// dropped: a pick made while loading wins.

#include "core/history/intervals.h"
#include "core/history/certificate.h"
#include "core/history/location.h"
#include "core/history/register.h"
#include "core/history/store.h"
#include "core/history/writer.h"
#include "gui/history/pendingruns.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class QThread;

namespace history
{

class HistoryReader : public QObject
{
    Q_OBJECT

public:
    enum Kind {
        Open,
        Sensors,
        Runs,
        Revisions,
        PendingRuns,
        Types,
        SetType,
        Register,
        Certify,
        Sign,
        UnsignedRuns,
        Standards,
        StoreStandard,
        KindCount
    };
    // Called on the reader's thread before each request is carried out, with
    // what it is about (a serial number for runs); lets a test hold a read.
    using Hook = std::function<void(Kind kind, const QString &subject)>;

    explicit HistoryReader(const Location &location, Hook hook = {}, QObject *parent = nullptr);
    // Waits for a read under way a little while, then lets its thread go.
    ~HistoryReader() override;

    // Connects and migrates; fresh: on a new connection (after a failure).
    void open(bool fresh);
    void readSensors(const QDate &today);
    void readRuns(const QString &serialNumber, const QString &sensorType);
    void readRevisions(const QString &key);
    void writePending(const QString &pendingFolder, const QList<Pending> &pending);
    // The types the history knows for the run's serial number.
    void readTypes(const QString &key, const QString &serialNumber);
    // Every such request is carried out, each in turn.
    void setRunType(const QString &key, const QString &sensorType);
    // A change to the register (a sensor retired, an interval set), each
    // carried out in turn; `what` comes back with its answer.
    void changeRegister(const QString &what, std::function<RegisterChange(Store &)> change);
    // Each carried out too: the run's certificate (issued, or printed
    // again) written to the PDF at `path`; a signature of the run.
    void certify(const QString &key, const QString &path, bool training);
    void signRun(const QString &key, const QString &meaning);
    // The register's standards, newest revision of each.
    void readStandards();
    // Stores a standard's next revision (withdrawn: the newest one,
    // withdrawn); each is carried out, in turn.
    void storeStandard(const Standard &standard, bool withdrawn);

    // Some request has not been answered yet.
    bool busy() const;
    bool waiting(Kind kind) const;

signals:
    void opened(const QString &error); // empty when open
    // After sensorsRead, when counted: the ended runs nobody signed, by
    // sensorKey() (a read of its own: the list need not wait for it).
    void unsignedCounted(const QHash<QString, int> &counts);
    void sensorsRead(const QList<history::SensorSummary> &sensors, const QString &error);
    // Just before runsRead, when they were read: their signatures, by run key.
    void signaturesRead(const QHash<QString, QList<history::Signature>> &signatures);
    void runsRead(const QString &serialNumber, const QString &sensorType,
                  const QList<history::Run> &runs, const QString &error);
    void revisionsRead(const QString &key, const QList<history::Run> &revisions,
                       const QString &error);
    void pendingWritten(const history::PendingWrite &written);
    void typesRead(const QString &key, const QStringList &types, const QString &error);
    void typeSet(const QString &key, const QString &sensorType, const history::TypeChange &change);
    // With the runs of a sensor: the interval they suggest for it.
    void suggestionRead(const QString &serialNumber, const QString &sensorType,
                        const history::IntervalSuggestion &suggestion);
    void registerChanged(const QString &what, const history::RegisterChange &change);
    // writeError: why the PDF of a certificate issued or printed again was
    // not written.
    void certified(const history::CertificateIssue &issue, const QString &path,
                   const QString &writeError);
    void runSigned(const QString &key, const QString &meaning,
                   const history::RegisterChange &change, const QString &signer);
    // Every revision of every standard.
    void standardsRead(const history::StandardRevisions &standards, const QString &error);
    void standardStored(const QString &serialNumber, const history::RegisterChange &change);

private:
    struct Shared;
    // The next number of a kind; the reader skips requests already outdated.
    quint64 request(Kind kind);
    // Runs work on the reader's thread; its answer comes back here and is
    // delivered unless a newer request of its kind was made meanwhile.
    void post(Kind kind, quint64 number, const QString &subject,
              std::function<std::function<void()>()> work);

    std::shared_ptr<Shared> shared_;
    std::array<quint64, KindCount> newest_{};
    std::array<quint64, KindCount> answered_{};
    QThread *thread_ = nullptr;
    QObject *worker_ = nullptr; // lives on thread_
};

} // namespace history
