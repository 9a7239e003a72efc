#pragma once

// Records runs without ever holding up a screen: each snapshot is first kept
// in a small private pending file of its own (so a crash or a dead database
// loses nothing), then written to the database on a thread of its own, and
// the pending file goes once the database has it. Pending runs left by an
// earlier start, and any the database refused, are tried again while the
// program runs. A run kept neither in the database nor in a file is made
// known through lost().

#include "core/history/location.h"
#include "core/history/pendingfiles.h"
#include "core/history/sink.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace history
{

class Store;

class Writer : public QObject, public Sink
{
    Q_OBJECT

public:
    static constexpr int kDefaultRetryMs = 60000;

    // pendingFolder: where runs wait for the database (created if needed,
    // this user's alone). retryMs: how often what waits is tried again.
    Writer(const Location &location, const QString &pendingFolder, QObject *parent = nullptr,
           int retryMs = kDefaultRetryMs);
    // Returns within a few seconds even when a database call hangs: what is
    // not written by then stays pending.
    ~Writer() override;

    void record(const Run &run) override;
    // The settings file's, read each time; none for the training history,
    // whose sensor is simulated.
    QString stationStandard() const override;

    // Waits until every queued run was tried; false on timeout.
    bool waitForIdle(int timeoutMs);

signals:
    // A run could not be written; it stays pending. The reason names no password.
    void failed(const QString &key, const QString &reason);
    // A run could be kept neither in the database nor in a pending file; it
    // is tried again from memory while the program runs. `run` names its
    // date and sensor. Once per run.
    void lost(const QString &key, const QString &run, const QString &reason);

private:
    class Worker;
    std::unique_ptr<Worker> worker_;
    bool training_ = false;
};

using Pending = PendingEntry;

// The runs waiting in a pending folder, oldest first, and why each could not
// be written (empty when it was never tried). Files that hold no plausible
// run of their own name, and practice runs unless the folder is the training
// program's, are set aside (see damagedPending()), not skipped.
QList<Pending> pendingRuns(const QString &pendingFolder, bool training = false);

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

// "the run of <date> for sensor <serial>"
QString runName(const Run &run);

// "The run of <date> for sensor <serial> could not be recorded: <reason>"
QString notice(const Pending &pending);

} // namespace history
