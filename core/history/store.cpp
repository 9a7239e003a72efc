#include "core/history/store.h"

#include "core/history/localfile.h"
#include "core/history/privacy.h"
#include "core/history/runformat.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <cmath>
#include <limits>

namespace history
{

namespace
{
QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

// SQLite waits this long for another station's write before it reports the
// database busy; a write then tries again a few times.
constexpr int kBusyTimeoutMs = 2000;
constexpr int kWriteAttempts = 3;
constexpr int kRetryPauseMs = 100;
// Serialises the migrations of stations that open a shared database at once.
constexpr qint64 kMigrationLock = 0x5a4f4c5645580001; // "ZOLVEX", 1

const QLatin1String kSQLiteDriver("QSQLITE");
const QLatin1String kPostgresDriver("QPSQL");
// SQLite's result codes for a database another connection holds.
const QLatin1String kSQLiteBusy("5");
const QLatin1String kSQLiteLocked("6");

// The schema's history: each version's statements, applied in order, each
// version in a transaction of its own. Never edit a published version; add
// one. The same text serves both databases.
struct Migration {
    int version;
    QList<const char *> statements;
    // Run after the statements, in the same transaction; false fails it.
    bool (*then)(QSqlQuery &query) = nullptr;
};

// A database's identity, given once when its schema is created.
bool giveIdentity(QSqlQuery &query)
{
    return query.prepare(QStringLiteral(
               "INSERT INTO history_identity (singleton, id, created) VALUES (1, ?, ?)")) &&
           (query.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces)),
            query.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)),
            query.exec());
}

const QList<Migration> &migrations()
{
    static const QList<Migration> list{
        {1,
         {
             "CREATE TABLE schema_version ("
             " version INTEGER PRIMARY KEY,"
             " applied TEXT NOT NULL)",
             "CREATE TABLE runs ("
             " run_key TEXT PRIMARY KEY,"
             " revision INTEGER NOT NULL,"
             " source TEXT NOT NULL,"
             " started TEXT NOT NULL,"
             " ended TEXT,"
             " station TEXT NOT NULL,"
             " sensor_type TEXT NOT NULL,"
             " serial_number TEXT NOT NULL,"
             " firmware TEXT NOT NULL,"
             " sensor_range TEXT NOT NULL,"
             " tip_kind INTEGER NOT NULL,"
             " unit TEXT NOT NULL,"
             " old_slope TEXT NOT NULL,"
             " old_offset TEXT NOT NULL,"
             " found_high_text TEXT NOT NULL,"
             " found_high_value DOUBLE PRECISION,"
             " found_high_window_low DOUBLE PRECISION,"
             " found_high_window_high DOUBLE PRECISION,"
             " found_high_verdict TEXT NOT NULL,"
             " found_low_text TEXT NOT NULL,"
             " found_low_value DOUBLE PRECISION,"
             " found_low_window_low DOUBLE PRECISION,"
             " found_low_window_high DOUBLE PRECISION,"
             " found_low_verdict TEXT NOT NULL,"
             " mean_counts DOUBLE PRECISION,"
             " new_slope TEXT NOT NULL,"
             " new_offset TEXT NOT NULL,"
             " left_high_text TEXT NOT NULL,"
             " left_high_value DOUBLE PRECISION,"
             " left_high_window_low DOUBLE PRECISION,"
             " left_high_window_high DOUBLE PRECISION,"
             " left_high_verdict TEXT NOT NULL,"
             " left_low_text TEXT NOT NULL,"
             " left_low_value DOUBLE PRECISION,"
             " left_low_window_low DOUBLE PRECISION,"
             " left_low_window_high DOUBLE PRECISION,"
             " left_low_verdict TEXT NOT NULL,"
             " outcome TEXT NOT NULL,"
             " outcome_detail TEXT NOT NULL,"
             " unsaved_constants INTEGER NOT NULL,"
             " record_path TEXT NOT NULL)",
         }},
        // Record files read back are recognised by their digest; the sensor
        // list and a sensor's runs are looked up by serial number.
        {2,
         {
             "ALTER TABLE runs ADD COLUMN record_digest TEXT NOT NULL DEFAULT ''",
             "CREATE INDEX runs_by_serial ON runs (serial_number, started, run_key)",
             "CREATE INDEX runs_by_record_digest ON runs (record_digest)",
         }},
        // Runs become append-only: every snapshot is a row of its own with
        // the database's time and the operator, and nothing is ever updated
        // or deleted, so a station needs no more than INSERT and SELECT. The
        // newest revision of each run is what "runs" shows. A record's date
        // is kept as a date. The database gets its identity.
        {3,
         {
             "CREATE TABLE run_revisions ("
             " run_key TEXT NOT NULL,"
             " revision INTEGER NOT NULL,"
             " source TEXT NOT NULL,"
             " started TEXT NOT NULL,"
             " ended TEXT,"
             " station TEXT NOT NULL,"
             " sensor_type TEXT NOT NULL,"
             " serial_number TEXT NOT NULL,"
             " firmware TEXT NOT NULL,"
             " sensor_range TEXT NOT NULL,"
             " tip_kind INTEGER NOT NULL,"
             " unit TEXT NOT NULL,"
             " old_slope TEXT NOT NULL,"
             " old_offset TEXT NOT NULL,"
             " found_high_text TEXT NOT NULL,"
             " found_high_value DOUBLE PRECISION,"
             " found_high_window_low DOUBLE PRECISION,"
             " found_high_window_high DOUBLE PRECISION,"
             " found_high_verdict TEXT NOT NULL,"
             " found_low_text TEXT NOT NULL,"
             " found_low_value DOUBLE PRECISION,"
             " found_low_window_low DOUBLE PRECISION,"
             " found_low_window_high DOUBLE PRECISION,"
             " found_low_verdict TEXT NOT NULL,"
             " mean_counts DOUBLE PRECISION,"
             " new_slope TEXT NOT NULL,"
             " new_offset TEXT NOT NULL,"
             " left_high_text TEXT NOT NULL,"
             " left_high_value DOUBLE PRECISION,"
             " left_high_window_low DOUBLE PRECISION,"
             " left_high_window_high DOUBLE PRECISION,"
             " left_high_verdict TEXT NOT NULL,"
             " left_low_text TEXT NOT NULL,"
             " left_low_value DOUBLE PRECISION,"
             " left_low_window_low DOUBLE PRECISION,"
             " left_low_window_high DOUBLE PRECISION,"
             " left_low_verdict TEXT NOT NULL,"
             " outcome TEXT NOT NULL,"
             " outcome_detail TEXT NOT NULL,"
             " unsaved_constants INTEGER NOT NULL,"
             " record_path TEXT NOT NULL,"
             " record_digest TEXT NOT NULL,"
             " record_date TEXT NOT NULL,"
             " operator_name TEXT NOT NULL,"
             " recorded_at TEXT NOT NULL,"
             " PRIMARY KEY (run_key, revision))",
             // Imports were stored at midnight UTC of their record's date.
             "INSERT INTO run_revisions SELECT run_key, revision, source, started, ended, station,"
             " sensor_type, serial_number, firmware, sensor_range, tip_kind, unit, old_slope,"
             " old_offset, found_high_text, found_high_value, found_high_window_low,"
             " found_high_window_high, found_high_verdict, found_low_text, found_low_value,"
             " found_low_window_low, found_low_window_high, found_low_verdict, mean_counts,"
             " new_slope, new_offset, left_high_text, left_high_value, left_high_window_low,"
             " left_high_window_high, left_high_verdict, left_low_text, left_low_value,"
             " left_low_window_low, left_low_window_high, left_low_verdict, outcome,"
             " outcome_detail, unsaved_constants, record_path, record_digest,"
             " CASE WHEN source = 'import' THEN substr(started, 1, 10) ELSE '' END, '', ''"
             " FROM runs",
             "DROP TABLE runs",
             "CREATE VIEW runs AS SELECT * FROM run_revisions r WHERE r.revision ="
             " (SELECT MAX(m.revision) FROM run_revisions m WHERE m.run_key = r.run_key)",
             "CREATE INDEX run_revisions_by_sensor"
             " ON run_revisions (serial_number, sensor_type, started, run_key)",
             "CREATE INDEX run_revisions_by_record_digest ON run_revisions (record_digest)",
             "CREATE TABLE history_identity ("
             " singleton INTEGER PRIMARY KEY CHECK (singleton = 1),"
             " id TEXT NOT NULL,"
             " created TEXT NOT NULL)",
         },
         giveIdentity},
    };
    return list;
}

// The columns a run is written to and read from, in this order.
QStringList runColumns()
{
    QStringList names{
        QStringLiteral("run_key"),      QStringLiteral("revision"),      QStringLiteral("source"),
        QStringLiteral("started"),      QStringLiteral("ended"),         QStringLiteral("station"),
        QStringLiteral("sensor_type"),  QStringLiteral("serial_number"), QStringLiteral("firmware"),
        QStringLiteral("sensor_range"), QStringLiteral("tip_kind"),      QStringLiteral("unit"),
        QStringLiteral("old_slope"),    QStringLiteral("old_offset"),
    };
    const auto reading = [&names](const QString &prefix) {
        for (const char *part : {"_text", "_value", "_window_low", "_window_high", "_verdict"})
            names << prefix + QLatin1String(part);
    };
    reading(QStringLiteral("found_high"));
    reading(QStringLiteral("found_low"));
    names << QStringLiteral("mean_counts") << QStringLiteral("new_slope")
          << QStringLiteral("new_offset");
    reading(QStringLiteral("left_high"));
    reading(QStringLiteral("left_low"));
    names << QStringLiteral("outcome") << QStringLiteral("outcome_detail")
          << QStringLiteral("unsaved_constants") << QStringLiteral("record_path")
          << QStringLiteral("record_digest") << QStringLiteral("record_date")
          << QStringLiteral("operator_name");
    return names;
}

// The time the database stored a revision, by its own clock, as timeText()
// writes times.
const QLatin1String kRecordedAt("recorded_at");
const QLatin1String kSQLiteNow("strftime('%Y-%m-%dT%H:%M:%fZ', 'now')");
const QLatin1String kPostgresNow(
    "to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')");

QString selectFrom(const char *table)
{
    return QLatin1String("SELECT ") + runColumns().join(u',') + u',' + kRecordedAt +
           QLatin1String(" FROM ") + QLatin1String(table) + u' ';
}

const QString &selectRuns()
{
    static const QString text = selectFrom("runs");
    return text;
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime timeFrom(const QVariant &value)
{
    const QString text = value.toString();
    if (text.isEmpty())
        return QDateTime();
    return QDateTime::fromString(text, Qt::ISODateWithMs).toUTC();
}

// SQLite keeps no NaN (it would store NULL); both databases store NULL for it.
QVariant numberValue(double value)
{
    if (std::isnan(value))
        return QVariant(QMetaType::fromType<double>());
    return value;
}

double numberFrom(const QVariant &value)
{
    if (value.isNull())
        return std::numeric_limits<double>::quiet_NaN();
    return value.toDouble();
}

// The drivers bind a null QString as SQL NULL; the text columns hold ''.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

void bindReading(QVariantList *values, const Reading &reading)
{
    *values << text(reading.text) << numberValue(reading.value) << numberValue(reading.windowLow)
            << numberValue(reading.windowHigh) << text(verdictName(reading.verdict));
}

QVariantList runValues(const Run &run)
{
    QVariantList values;
    values << text(run.key) << run.revision << text(sourceName(run.source))
           << text(timeText(run.started))
           << (run.ended.isValid() ? QVariant(timeText(run.ended))
                                   : QVariant(QMetaType::fromType<QString>()))
           << text(run.station) << text(run.sensorType) << text(run.serialNumber)
           << text(run.firmware) << text(run.range) << run.tipKind << text(run.unit)
           << text(run.oldSlope) << text(run.oldOffset);
    bindReading(&values, run.foundHigh);
    bindReading(&values, run.foundLow);
    values << (run.meanCounts ? numberValue(*run.meanCounts)
                              : QVariant(QMetaType::fromType<double>()))
           << text(run.newSlope) << text(run.newOffset);
    bindReading(&values, run.leftHigh);
    bindReading(&values, run.leftLow);
    values << text(outcomeName(run.outcome)) << text(run.outcomeDetail) << int(run.unsavedConstants)
           << text(run.recordPath) << text(run.recordDigest)
           << text(run.date.isValid() ? run.date.toString(Qt::ISODate) : QString())
           << text(run.operatorName);
    return values;
}

// Reads the columns of runColumns(), in order, from the query's current row.
class RowReader
{
public:
    explicit RowReader(const QSqlQuery &query) : query_(query) {}
    QVariant next() { return query_.value(column_++); }
    QString text() { return next().toString(); }
    Reading reading()
    {
        Reading reading;
        reading.text = text();
        reading.value = numberFrom(next());
        reading.windowLow = numberFrom(next());
        reading.windowHigh = numberFrom(next());
        reading.verdict = verdictFromName(text()).value_or(Verdict::None);
        return reading;
    }

private:
    const QSqlQuery &query_;
    int column_ = 0;
};

Run runFrom(const QSqlQuery &query)
{
    RowReader row(query);
    Run run;
    run.key = row.text();
    run.revision = row.next().toInt();
    run.source = sourceFromName(row.text()).value_or(Source::Station);
    run.started = timeFrom(row.next());
    run.ended = timeFrom(row.next());
    run.station = row.text();
    run.sensorType = row.text();
    run.serialNumber = row.text();
    run.firmware = row.text();
    run.range = row.text();
    run.tipKind = row.next().toInt();
    run.unit = row.text();
    run.oldSlope = row.text();
    run.oldOffset = row.text();
    run.foundHigh = row.reading();
    run.foundLow = row.reading();
    const QVariant mean = row.next();
    if (!mean.isNull())
        run.meanCounts = numberFrom(mean);
    run.newSlope = row.text();
    run.newOffset = row.text();
    run.leftHigh = row.reading();
    run.leftLow = row.reading();
    run.outcome = outcomeFromName(row.text()).value_or(Outcome::Interrupted);
    run.outcomeDetail = row.text();
    run.unsavedConstants = row.next().toInt() != 0;
    run.recordPath = row.text();
    run.recordDigest = row.text();
    const QString date = row.text();
    if (!date.isEmpty())
        run.date = QDate::fromString(date, Qt::ISODate);
    run.operatorName = row.text();
    run.recordedAt = timeFrom(row.next());
    return run;
}

// The names of the outcomes that count as a validation, as an SQL list.
QString validationOutcomes()
{
    QStringList names;
    // Outcome's values run from 0 up; outcomeName() knows each of them.
    for (int value = 0;; ++value) {
        const Outcome outcome = static_cast<Outcome>(value);
        const QString name = outcomeName(outcome);
        if (name.isEmpty())
            break;
        if (countsAsValidation(outcome))
            names << u'\'' + name + u'\'';
    }
    return names.join(u',');
}

QAtomicInteger<quint64> connectionCount;

bool isBusy(const QSqlError &error)
{
    return error.nativeErrorCode() == kSQLiteBusy || error.nativeErrorCode() == kSQLiteLocked;
}
} // namespace

QDate nextDue(const SensorSummary &sensor, int intervalDays, const QDate &today)
{
    if (!sensor.hasSerial())
        return QDate();
    if (!sensor.lastValidation.isValid())
        return today;
    if (intervalDays <= 0)
        intervalDays = kDefaultIntervalDays;
    // The technician's calendar, not UTC's.
    return sensor.lastValidationDay().addDays(intervalDays);
}

bool overdue(const SensorSummary &sensor, int intervalDays, const QDate &today)
{
    const QDate due = nextDue(sensor, intervalDays, today);
    return due.isValid() && due < today;
}

Store::Store(const Location &location)
    : location_(location),
      connectionName_(QStringLiteral("zolvex-history-%1").arg(++connectionCount))
{
}

Store::~Store()
{
    if (!QSqlDatabase::contains(connectionName_))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName_);
}

namespace
{
// A database error as text for people: which database, what failed, and the
// driver's words, never the password (libpq can echo its connection string).
QString failure(const Location &location, const QString &what, const QSqlError &error)
{
    return databaseFailure(location, what, error);
}

// The session's limits on waiting: bound, as set_config() takes them.
bool applyTimeouts(QSqlDatabase &db, const Location &location, QSqlError *error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT set_config('statement_timeout', ?, false), "
                                 "set_config('lock_timeout', ?, false)"));
    query.addBindValue(QString::number(location.statementTimeoutMs));
    query.addBindValue(QString::number(location.lockTimeoutMs));
    if (!query.exec()) {
        *error = query.lastError();
        return false;
    }
    return true;
}

// Opens a transaction: for writes on SQLite an immediate one, which takes
// the write lock at once (waiting for it as long as the busy timeout), so
// that it never fails half-way for lack of it.
bool begin(QSqlDatabase &db, bool sqlite, QSqlError *error)
{
    QSqlQuery query(db);
    if (!query.exec(QLatin1String(sqlite ? "BEGIN IMMEDIATE" : "BEGIN"))) {
        *error = query.lastError();
        return false;
    }
    return true;
}

bool commit(QSqlDatabase &db, QSqlError *error)
{
    QSqlQuery query(db);
    if (!query.exec(QLatin1String("COMMIT"))) {
        *error = query.lastError();
        QSqlQuery(db).exec(QLatin1String("ROLLBACK"));
        return false;
    }
    return true;
}

void rollback(QSqlDatabase &db)
{
    QSqlQuery(db).exec(QLatin1String("ROLLBACK"));
}

// The schema version of the database; 0 when it has none yet.
bool readVersion(QSqlDatabase &db, bool sqlite, int *version, QSqlError *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // PostgreSQL: the catalog table itself, read in this statement's
    // snapshot. A name look-up (to_regclass) may answer from a cache that
    // predates the migration another station has just committed.
    const char *exists = sqlite ? "SELECT COUNT(*) FROM sqlite_master"
                                  " WHERE type = 'table' AND name = 'schema_version'"
                                : "SELECT COUNT(*) FROM pg_catalog.pg_tables"
                                  " WHERE schemaname = current_schema()"
                                  " AND tablename = 'schema_version'";
    if (!query.exec(QLatin1String(exists)) || !query.next()) {
        *error = query.lastError();
        return false;
    }
    if (query.value(0).toInt() == 0) {
        *version = 0;
        return true;
    }
    if (!query.exec(QLatin1String("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        *error = query.lastError();
        return false;
    }
    *version = query.value(0).toInt();
    return true;
}

QString newerSchema(const Location &location, int version)
{
    return location.describe() +
           tr(": its history has schema version %1, newer than this program knows (%2); it "
              "was left untouched. Use a newer ZOLVEX.")
               .arg(version)
               .arg(Store::kSchemaVersion);
}
} // namespace

bool Store::open(QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (!location_.error.isEmpty()) {
        *error = location_.error;
        return false;
    }
    const bool sqlite = location_.kind == Location::Kind::SQLite;
    QSqlDatabase db =
        QSqlDatabase::contains(connectionName_)
            ? QSqlDatabase::database(connectionName_, false)
            : QSqlDatabase::addDatabase(sqlite ? kSQLiteDriver : kPostgresDriver, connectionName_);
    if (!db.isValid()) {
        *error = failure(location_, tr("its Qt SQL driver is not installed"), db.lastError());
        return false;
    }
    db.close();
    if (sqlite) {
        if (!prepareSQLiteFile(location_, error))
            return false;
        db.setDatabaseName(location_.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    } else {
        db.setHostName(location_.host);
        db.setPort(location_.port);
        db.setDatabaseName(location_.database);
        db.setUserName(location_.user);
        db.setPassword(location_.password);
        db.setConnectOptions(connectionOptions(location_));
    }
    if (!db.open()) {
        *error = failure(location_, tr("cannot connect"), db.lastError());
        return false;
    }
    QSqlError sqlError;
    if (!sqlite && !applyTimeouts(db, location_, &sqlError)) {
        *error = failure(location_, tr("cannot set its timeouts"), sqlError);
        db.close();
        return false;
    }

    // A newer program's database is refused before anything is written to
    // it, the journal mode included.
    int version = 0;
    if (!readVersion(db, sqlite, &version, &sqlError)) {
        *error = failure(location_, tr("cannot read the schema version"), sqlError);
        db.close();
        return false;
    }
    if (version > kSchemaVersion) {
        *error = newerSchema(location_, version);
        db.close();
        return false;
    }
    if (sqlite) {
        // WAL lets the history window read while a station writes.
        // Switching a new file to WAL needs it alone for a moment: a station
        // that meets another one doing the same is told "locked" at once,
        // without the busy timeout, and tries again.
        QSqlQuery query(db);
        // FULL: a commit is on the disk before the writer removes the
        // run's pending file (NORMAL would let a power cut take it back).
        for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"}) {
            bool ok = false;
            for (int attempt = 1; !ok; ++attempt) {
                ok = query.exec(QLatin1String(pragma));
                sqlError = query.lastError();
                query.finish();
                if (ok || !isBusy(sqlError) || attempt == kWriteAttempts)
                    break;
                QThread::msleep(kRetryPauseMs * attempt);
            }
            if (!ok) {
                *error = failure(location_, tr("cannot prepare the database"), sqlError);
                db.close();
                return false;
            }
        }
    }

    for (const Migration &migration : migrations()) {
        if (migration.version <= version)
            continue;
        if (!begin(db, sqlite, &sqlError)) {
            *error = failure(location_, tr("cannot start the schema update"), sqlError);
            db.close();
            return false;
        }
        QSqlQuery query(db);
        bool ok =
            sqlite ||
            query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock));
        // Another station may have migrated while this one waited.
        ok = ok && readVersion(db, sqlite, &version, &sqlError);
        if (ok && version > kSchemaVersion) {
            rollback(db);
            *error = newerSchema(location_, version);
            db.close();
            return false;
        }
        if (ok && version < migration.version) {
            for (const char *statement : migration.statements) {
                ok = query.exec(QLatin1String(statement));
                if (!ok)
                    break;
            }
            if (ok && migration.then)
                ok = migration.then(query);
            if (ok) {
                ok = query.prepare(
                    QStringLiteral("INSERT INTO schema_version (version, applied) VALUES (?, ?)"));
                query.addBindValue(migration.version);
                query.addBindValue(timeText(QDateTime::currentDateTimeUtc()));
                ok = ok && query.exec();
            }
            if (!ok)
                sqlError = query.lastError();
        }
        query.finish();
        if (!ok) {
            rollback(db);
            *error = failure(location_,
                             tr("cannot update the schema to version %1").arg(migration.version),
                             sqlError);
            db.close();
            return false;
        }
        if (!commit(db, &sqlError)) {
            *error = failure(location_,
                             tr("cannot update the schema to version %1").arg(migration.version),
                             sqlError);
            db.close();
            return false;
        }
        version = std::max(version, migration.version);
    }

    QSqlQuery query(db);
    if (!query.exec(QLatin1String("SELECT id FROM history_identity")) || !query.next() ||
        query.value(0).toString().isEmpty()) {
        *error =
            failure(location_, tr("cannot read the identity of the history"), query.lastError());
        db.close();
        return false;
    }
    identity_ = query.value(0).toString();
    return true;
}

QString Store::identity() const
{
    return isOpen() ? identity_ : QString();
}

bool Store::isOpen() const
{
    return database().isOpen();
}

int Store::schemaVersion() const
{
    QSqlDatabase db = database();
    int version = 0;
    QSqlError error;
    if (!db.isOpen() ||
        !readVersion(db, location_.kind == Location::Kind::SQLite, &version, &error))
        return 0;
    return version;
}

WriteResult Store::write(const Run &run, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    QSqlDatabase db = database();
    if (!db.isOpen()) {
        *error = location_.describe() + tr(": not open");
        return {};
    }
    const bool sqlite = location_.kind == Location::Kind::SQLite;
    // A revision stored before (a pending file written twice, a copy of one)
    // is left as it was: nothing is ever updated.
    const QString insert = [sqlite] {
        const QStringList columns = runColumns();
        return QLatin1String("INSERT INTO run_revisions (") + columns.join(u',') + u',' +
               kRecordedAt + QLatin1String(") VALUES (") +
               QStringList(columns.size(), QStringLiteral("?")).join(u',') + u',' +
               (sqlite ? kSQLiteNow : kPostgresNow) +
               QLatin1String(") ON CONFLICT (run_key, revision) DO NOTHING");
    }();
    const QVariantList values = runValues(run);

    QSqlError sqlError;
    for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
        // Freed after the transaction ends: PostgreSQL refuses to free a
        // statement inside a failed one.
        QSqlQuery query(db);
        if (begin(db, sqlite, &sqlError)) {
            WriteResult result;
            bool ok = query.prepare(insert);
            for (const QVariant &value : values)
                query.addBindValue(value);
            ok = ok && query.exec();
            if (ok) {
                const bool inserted = query.numRowsAffected() > 0;
                ok = query.prepare(
                    QStringLiteral("SELECT MAX(revision) FROM run_revisions WHERE run_key = ?"));
                query.addBindValue(text(run.key));
                ok = ok && query.exec() && query.next();
                if (ok) {
                    const int newest = query.value(0).toInt();
                    result.kind = !inserted               ? WriteResult::AlreadyThere
                                  : newest > run.revision ? WriteResult::Superseded
                                                          : WriteResult::Written;
                }
            }
            if (!ok)
                sqlError = query.lastError();
            query.finish();
            if (ok && commit(db, &sqlError))
                return result;
            if (!ok)
                rollback(db);
        }
        if (!sqlite || !isBusy(sqlError) || attempt == kWriteAttempts)
            break;
        QThread::msleep(kRetryPauseMs * attempt);
    }
    *error = failure(location_, tr("the run could not be written"), sqlError);
    return {};
}

QList<SensorSummary> Store::sensors(QString *error, const QDate &today) const
{
    QList<SensorSummary> list;
    QSqlDatabase db = database();
    if (!db.isOpen()) {
        if (error)
            *error = tr("the history is not open");
        return list;
    }
    // A sensor is its serial number and type. One pass over the sensor index
    // for the figures, and index look-ups per sensor for its newest run and
    // the newest run that took readings. Runs dated after tomorrow are left
    // out of both and of the last validation: a date in the future must not
    // put off the due date or hide today's run.
    static const QString sql =
        QLatin1String(
            "SELECT s.serial_number, s.sensor_type, s.runs, s.last_validation, n.outcome,"
            " s.last_run, n.record_date, j.outcome, j.found_high_verdict, j.found_low_verdict,"
            " j.left_high_verdict, j.left_low_verdict, v.record_date FROM ("
            " SELECT r.serial_number, r.sensor_type, COUNT(*) AS runs,"
            " MAX(CASE WHEN r.started < ? AND r.outcome IN (") +
        validationOutcomes() +
        QLatin1String(") THEN r.started END) AS last_validation,"
                      " MAX(CASE WHEN r.started < ? THEN r.started END) AS last_run,"
                      " (SELECT k.run_key FROM runs k WHERE k.serial_number = r.serial_number"
                      " AND k.sensor_type = r.sensor_type AND k.started < ?"
                      " ORDER BY k.started DESC, k.run_key DESC LIMIT 1) AS newest,"
                      " (SELECT k.run_key FROM runs k WHERE k.serial_number = r.serial_number"
                      " AND k.sensor_type = r.sensor_type AND k.started < ?"
                      " AND (k.found_high_verdict <> 'none' OR k.found_low_verdict <> 'none')"
                      " ORDER BY k.started DESC, k.run_key DESC LIMIT 1) AS judged,"
                      " (SELECT k.run_key FROM runs k WHERE k.serial_number = r.serial_number"
                      " AND k.sensor_type = r.sensor_type AND k.started < ? AND k.outcome IN (") +
        validationOutcomes() +
        QLatin1String(") ORDER BY k.started DESC, k.run_key DESC LIMIT 1) AS validated"
                      " FROM runs r GROUP BY r.serial_number, r.sensor_type"
                      ") s LEFT JOIN runs n ON n.run_key = s.newest"
                      " LEFT JOIN runs j ON j.run_key = s.judged"
                      " LEFT JOIN runs v ON v.run_key = s.validated"
                      " ORDER BY s.serial_number, s.sensor_type");
    const QString horizon =
        timeText(QDateTime(today.addDays(2), QTime(0, 0), Qt::LocalTime).toUTC());
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (int i = 0; i < 5; ++i)
        query.addBindValue(horizon);
    if (!ok || !query.exec()) {
        const QString why = failure(location_, tr("cannot list the sensors"), query.lastError());
        qWarning().noquote() << why;
        if (error)
            *error = why;
        return list;
    }
    const auto verdict = [&query](int column) {
        return verdictFromName(query.value(column).toString()).value_or(Verdict::None);
    };
    while (query.next()) {
        SensorSummary sensor;
        sensor.serialNumber = query.value(0).toString();
        sensor.sensorType = query.value(1).toString();
        sensor.runs = query.value(2).toInt();
        sensor.lastValidation = timeFrom(query.value(3));
        sensor.lastOutcome =
            outcomeFromName(query.value(4).toString()).value_or(Outcome::Interrupted);
        sensor.lastRun = timeFrom(query.value(5));
        sensor.lastRunDateOnly = !query.value(6).toString().isEmpty();
        if (!query.value(7).isNull()) {
            Run judged;
            judged.outcome =
                outcomeFromName(query.value(7).toString()).value_or(Outcome::Interrupted);
            judged.foundHigh.verdict = verdict(8);
            judged.foundLow.verdict = verdict(9);
            judged.leftHigh.verdict = verdict(10);
            judged.leftLow.verdict = verdict(11);
            // Runs without a serial number are no sensor that could be.
            sensor.outOfTolerance = sensor.hasSerial() && leftFailing(judged);
        }
        const QString validatedOn = query.value(12).toString();
        if (!validatedOn.isEmpty())
            sensor.lastValidationDate = QDate::fromString(validatedOn, Qt::ISODate);
        list << sensor;
    }
    if (query.lastError().isValid()) {
        const QString why = failure(location_, tr("cannot list the sensors"), query.lastError());
        qWarning().noquote() << why;
        if (error)
            *error = why;
    }
    return list;
}

namespace
{
QList<Run> queryRuns(const Location &location, QSqlDatabase db, const QString &sql,
                     const QVariantList &values, QString *error)
{
    QList<Run> runs;
    if (!db.isOpen()) {
        if (error)
            *error = tr("the history is not open");
        return runs;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!ok || !query.exec()) {
        const QString why = failure(location, tr("cannot read the runs"), query.lastError());
        qWarning().noquote() << why;
        if (error)
            *error = why;
        return runs;
    }
    while (query.next())
        runs << runFrom(query);
    // A connection lost half-way ends the rows early: not every run was read.
    if (query.lastError().isValid()) {
        const QString why = failure(location, tr("cannot read the runs"), query.lastError());
        qWarning().noquote() << why;
        if (error)
            *error = why;
    }
    return runs;
}
} // namespace

QList<Run> Store::runsOf(const QString &serialNumber, QString *error) const
{
    return queryRuns(location_, database(),
                     selectRuns() +
                         QLatin1String("WHERE serial_number = ? ORDER BY started, run_key"),
                     {serialNumber}, error);
}

QList<Run> Store::runsOf(const QString &serialNumber, const QString &sensorType,
                         QString *error) const
{
    return queryRuns(location_, database(),
                     selectRuns() + QLatin1String("WHERE serial_number = ? AND sensor_type = ?"
                                                  " ORDER BY started, run_key"),
                     {text(serialNumber), text(sensorType)}, error);
}

QList<Run> Store::revisionsOf(const QString &key, QString *error) const
{
    return queryRuns(location_, database(),
                     selectFrom("run_revisions") +
                         QLatin1String("WHERE run_key = ? ORDER BY revision"),
                     {text(key)}, error);
}

QList<Run> Store::allRuns(QString *error) const
{
    return queryRuns(location_, database(),
                     selectRuns() + QLatin1String("ORDER BY serial_number, started, run_key"), {},
                     error);
}

bool Store::hasRecordDigest(const QString &sha256) const
{
    QSqlDatabase db = database();
    if (sha256.isEmpty() || !db.isOpen())
        return false;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT 1 FROM runs WHERE record_digest = ? LIMIT 1")))
        return false;
    query.addBindValue(sha256);
    if (!query.exec()) {
        qWarning().noquote() << failure(location_, tr("cannot look up a record"),
                                        query.lastError());
        return false;
    }
    return query.next();
}

QSqlDatabase Store::database() const
{
    return QSqlDatabase::database(connectionName_, false);
}

} // namespace history
