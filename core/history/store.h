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
    // Runs of this serial number that name no type, where the history knows
    // the number under a type they cannot be told to belong to: listed
    // apart, and never a second due date.
    bool typeUnknown = false;
    // From the register: a retired sensor is listed apart and never due;
    // the interval is the sensor's own, else its type's, else the default.
    bool retired = false;
    QString retiredReason;
    int intervalDays = kDefaultIntervalDays;
    // The newest run's reference standard and tip kind; shown only:
    // whether the register finds fault with that standard (set where the
    // summary is read, with one read of the register for every sensor).
    QString lastStandardSerial;
    int lastTipKind = 0;
    bool standardFinding = false;
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
// today when it was never validated; none (invalid) without a serial number
// or when its type is unknown; none for a retired sensor.
QDate nextDue(const SensorSummary &sensor, int intervalDays, const QDate &today);
bool overdue(const SensorSummary &sensor, int intervalDays, const QDate &today);
// The same with the sensor's own interval.
QDate nextDue(const SensorSummary &sensor, const QDate &today);
bool overdue(const SensorSummary &sensor, const QDate &today);

// One type a serial number is known under, with the range and unit of a run
// of it (a serial number may give several).
struct KnownSensor {
    QString type;
    QString range;
    QString unit;
    int tipKind = 0;
};

// The type a run that names none (a record file) belongs to: the one type
// the history knows for its serial number, when every run of that type that
// names a range or a unit names the ones of the run's tip. Empty when that
// cannot be told.
QString joinedType(const QList<KnownSensor> &known, int tipKind, const QString &unit);

// The longest sensor type a person may give a run.
inline constexpr qsizetype kMaxSensorTypeLength = 40;
// Why a sensor type given by a person makes no sense, or empty.
QString typeRefusal(const QString &type);

// What setting a run's type did.
struct TypeChange {
    enum Kind {
        Failed,  // the history could not be read or written (reason says why)
        Refused, // no such run, the type makes no sense, or it is the run's already
        Set,     // stored as the run's next revision
    };
    Kind kind = Failed;
    QString reason;
    int revision = 0; // the revision written
};

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
    static constexpr int kSchemaVersion = 5;

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
    // false with a reason. `paths` (if given) gets each known one's record
    // file as the history names it.
    bool knownRecordDigests(const QStringList &digests, QSet<QString> *known, QString *error,
                            QHash<QString, QString> *paths = nullptr) const;

    // Of these serial numbers, the types, ranges and units their runs give,
    // by serial number; false with a reason.
    bool knownSensors(const QStringList &serialNumbers, QHash<QString, QList<KnownSensor>> *known,
                      QString *error) const;
    // The types the history knows for one serial number, sorted.
    QStringList typesOf(const QString &serialNumber, QString *error = nullptr) const;
    // Gives the run another sensor type: a new revision of it, its newest
    // plus one, with the station it had, this login name as the operator
    // and the database's time.
    TypeChange setRunType(const QString &key, const QString &sensorType);

    // The connection itself, for models in the window.
    QSqlDatabase database() const;
    const Location &location() const { return location_; }

private:
    // Runs of a serial number that name no type join its typed sensor's
    // summary where they can be told to be its; else they are type unknown.
    void joinUntyped(QList<SensorSummary> *list, QString *error) const;
    // Each sensor's state and interval from the register.
    void fillFromRegister(QList<SensorSummary> *list, QString *error) const;

    Location location_;
    QString connectionName_;
    QString identity_;
};

} // namespace history
