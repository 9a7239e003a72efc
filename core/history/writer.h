#pragma once

// Records runs without ever holding up a screen: each snapshot is first kept
// in a small pending file of its own (so a crash or a dead database loses
// nothing), then written to the database on a thread of its own, and the
// pending file goes once the database has it. Pending runs left by an
// earlier start are written when the writer starts.

#include "core/history/location.h"
#include "core/history/sink.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace history
{

class Writer : public QObject, public Sink
{
    Q_OBJECT

public:
    // pendingFolder: where runs wait for the database (created if needed).
    Writer(const Location &location, const QString &pendingFolder, QObject *parent = nullptr);
    ~Writer() override; // waits a bounded time for queued runs; the rest stay pending

    void record(const Run &run) override;

    // Waits until every queued run was tried; false on timeout.
    bool waitForIdle(int timeoutMs);

signals:
    // A run could not be written; it stays pending. The reason names no password.
    void failed(const QString &key, const QString &reason);

private:
    class Worker;
    std::unique_ptr<Worker> worker_;
};

// The runs waiting in a pending folder, and why each could not be written
// (empty when it was never tried).
struct Pending {
    Run run;
    QString error;
};
QList<Pending> pendingRuns(const QString &pendingFolder);

// "The run of <date> for sensor <serial> could not be recorded: <reason>"
QString notice(const Pending &pending);

} // namespace history
