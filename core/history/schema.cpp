#include "core/history/schema.h"

#include "core/history/privacy.h"
#include "core/history/runfields.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <algorithm>

namespace history::schema
{

namespace
{
QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

// Serialises the migrations of stations that open a shared database at once.
constexpr qint64 kMigrationLock = 0x5a4f4c5645580001; // "ZOLVEX", 1

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

// Applies one version's statements and notes it, in the transaction the
// caller opened; *version is what the database had when the lock was taken.
bool apply(QSqlDatabase &db, bool sqlite, const Migration &migration, int *version,
           QSqlError *error)
{
    QSqlQuery query(db);
    bool ok = sqlite ||
              query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock));
    // Another station may have migrated while this one waited.
    ok = ok && readVersion(db, sqlite, version, error);
    if (ok && *version < migration.version && *version <= latestVersion()) {
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
            *error = query.lastError();
    } else if (!ok && !error->isValid()) {
        *error = query.lastError();
    }
    query.finish();
    return ok;
}
} // namespace

int latestVersion()
{
    return migrations().constLast().version;
}

bool migrate(QSqlDatabase &db, const Location &location, int version, QString *error)
{
    const bool sqlite = location.kind == Location::Kind::SQLite;
    for (const Migration &migration : migrations()) {
        if (migration.version <= version)
            continue;
        QSqlError sqlError;
        if (!begin(db, sqlite, &sqlError)) {
            *error = databaseFailure(location, tr("cannot start the schema update"), sqlError);
            return false;
        }
        const bool ok = apply(db, sqlite, migration, &version, &sqlError);
        if (ok && version > latestVersion()) {
            rollback(db);
            *error = newerSchema(location, version);
            return false;
        }
        if (!ok)
            rollback(db);
        if (!ok || !commit(db, &sqlError)) {
            *error = databaseFailure(
                location, tr("cannot update the schema to version %1").arg(migration.version),
                sqlError);
            return false;
        }
        version = std::max(version, migration.version);
    }
    return true;
}

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
        rollback(db);
        return false;
    }
    return true;
}

void rollback(QSqlDatabase &db)
{
    // A connection lost took its transaction with it; asking would only
    // bring the toolkit's own warning to the user's terminal.
    if (db.isOpen())
        QSqlQuery(db).exec(QLatin1String("ROLLBACK"));
}

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
               .arg(latestVersion());
}

} // namespace history::schema
