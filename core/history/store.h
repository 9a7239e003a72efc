#pragma once

// The calibration history in a database: one schema for SQLite and
// PostgreSQL, with a version number and migrations, one transaction per run.

#include "core/history/location.h"
#include "core/history/run.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>

#include <functional>

namespace history
{

// One sensor of the history, for the sensor list: a serial number of one
// type (two types may share a number). Runs that gave no serial number are
// listed apart, one entry per type, and are never due.
struct SensorSummary {
    QString serialNumber;
    QString sensorType;
    int runs = 0;
    QDateTime lastValidation; // the last run that counts as a validation; invalid if none
    // That run's date when it is known by its date alone (a record file).
    QDate lastValidationDate;
    Outcome lastOutcome = Outcome::Interrupted;
    // Shown only: the newest run is in progress (Store::markInProgress()).
    bool lastInProgress = false;
    QDateTime lastRun;
    bool lastRunDateOnly = false; // the newest run is known by its date alone
    // The newest run that took readings left one out of its window, and no
    // saved recalibration put it right.
    bool outOfTolerance = false;
    // The local day of lastValidation, worked out where the summary is read:
    // each conversion to local time looks the zone up again, too slow for
    // thousands of sensors on the window's thread. Invalid: not worked out.
    QDate lastValidationLocalDay;
    bool hasSerial() const { return !serialNumber.isEmpty(); }
    // The day of the last validation in the local calendar; a record's own
    // date wherever it is read.
    QDate lastValidationDay() const
    {
        if (lastValidationDate.isValid())
            return lastValidationDate;
        return lastValidationLocalDay.isValid() ? lastValidationLocalDay
                                                : lastValidation.toLocalTime().date();
    }
};

// The date a sensor is next due: the last validation plus the interval;
// today when it was never validated; none (invalid) without a serial number.
QDate nextDue(const SensorSummary &sensor, int intervalDays, const QDate &today);
bool overdue(const SensorSummary &sensor, int intervalDays, const QDate &today);

// What a write did with a run's snapshot.
struct WriteResult {
    enum Kind {
        Failed,
        Written,      // stored, and it is the run's newest revision
        AlreadyThere, // this snapshot of the run was stored before; nothing changed
        // Not stored: an older snapshot the history never got, while it
        // holds a later one of the run, which is what the run came to.
        Superseded,
    };
    Kind kind = Failed;
    // The history holds the snapshot (whatever else it holds).
    explicit operator bool() const { return kind != Failed; }
};

class Store
{
public:
    static constexpr int kSchemaVersion = 4;

    // Each Store has a connection of its own (one per thread).
    explicit Store(const Location &location);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Connects, creates or migrates the schema; false with a reason.
    bool open(QString *error);
    bool isOpen() const;
    int schemaVersion() const;

    // The database's own identity, given when its schema was created: a copy
    // at another place keeps it, a new database gets another. Empty when
    // not open.
    QString identity() const;

    // Appends the snapshot as its run's next revision (the history numbers
    // them itself), with the database's time and login and the station and
    // operator it names; nothing is ever replaced. The newest revision is the
    // run as the history shows it.
    WriteResult write(const Run &run, QString *error);
    // Appends the snapshots as write() does, all in one transaction: either
    // every one is stored or none is (false with a reason, tried once). For
    // each, *inserted says whether it was new to the history.
    bool writeAll(const QList<Run> &runs, QList<bool> *inserted, QString *error);

    // With `today`, runs dated after tomorrow count neither for the due date
    // nor as the newest run.
    QList<SensorSummary> sensors(QString *error = nullptr,
                                 const QDate &today = QDate::currentDate()) const;
    // Oldest first; when the runs cannot all be read, error (if given) says why.
    // Every type that carries the serial number:
    QList<Run> runsOf(const QString &serialNumber, QString *error = nullptr) const;
    // One sensor:
    QList<Run> runsOf(const QString &serialNumber, const QString &sensorType,
                      QString *error = nullptr) const;
    // By sensor, then oldest first; the same.
    QList<Run> allRuns(QString *error = nullptr) const;
    // The same runs handed one at a time as they are read, none held; visit
    // returning false stops. False when they could not all be read (error
    // says why) or visit stopped.
    bool visitAllRuns(const std::function<bool(const Run &)> &visit, QString *error) const;
    // Every stored revision of one run, oldest first.
    QList<Run> revisionsOf(const QString &key, QString *error = nullptr) const;
    // The latest start of the runs each station recorded, by station, for
    // telling a run in progress from one interrupted (markInProgress()):
    // every station's, or those of the runs that may be in progress.
    QHash<QString, QDateTime> latestStarts(QString *error = nullptr) const;
    QHash<QString, QDateTime> latestStarts(const QList<Run> &runs, const QDateTime &now) const;
    // Sets lastInProgress of the sensors whose newest run has no end.
    void markInProgress(QList<SensorSummary> *sensors, const QDateTime &now) const;
    bool hasRecordDigest(const QString &sha256) const;
    // Of these digests, the ones a run of the history carries, in one query;
    // false with a reason.
    bool knownRecordDigests(const QStringList &digests, QSet<QString> *known, QString *error) const;

    // The connection itself, for models in the window.
    QSqlDatabase database() const;

private:
    Location location_;
    QString connectionName_;
    QString identity_;
};

} // namespace history
