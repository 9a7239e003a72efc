#pragma once

// The calibration history in a database: one schema for SQLite and
// PostgreSQL, with a version number and migrations, one transaction per run.

#include "core/history/location.h"
#include "core/history/run.h"

#include <QDate>
#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace history
{

// One sensor of the history, for the sensor list.
struct SensorSummary {
    QString serialNumber;
    QString sensorType;
    int runs = 0;
    QDateTime lastValidation; // the last run that counts as a validation; invalid if none
    Outcome lastOutcome = Outcome::Interrupted;
    QDateTime lastRun;
};

// The date a sensor is next due: the last validation plus the interval;
// today when it was never validated.
QDate nextDue(const SensorSummary &sensor, int intervalDays, const QDate &today);
bool overdue(const SensorSummary &sensor, int intervalDays, const QDate &today);

class Store
{
public:
    static constexpr int kSchemaVersion = 2;

    // Each Store has a connection of its own (one per thread).
    explicit Store(const Location &location);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Connects, creates or migrates the schema; false with a reason.
    bool open(QString *error);
    bool isOpen() const;
    int schemaVersion() const;

    // Inserts or replaces the run of that key, in one transaction; an older
    // revision never replaces a newer one.
    bool write(const Run &run, QString *error);

    QList<SensorSummary> sensors() const;
    // Oldest first; when the runs cannot all be read, error (if given) says why.
    QList<Run> runsOf(const QString &serialNumber, QString *error = nullptr) const;
    // By sensor, then oldest first; the same.
    QList<Run> allRuns(QString *error = nullptr) const;
    bool hasRecordDigest(const QString &sha256) const;

    // The connection itself, for models in the window.
    QSqlDatabase database() const;

private:
    Location location_;
    QString connectionName_;
};

} // namespace history
