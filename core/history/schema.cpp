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
// one. The same text serves both databases, but for what one of them alone
// can say.
struct Migration {
    int version;
    QList<const char *> statements;
    // Run after the statements, in the same transaction; false fails it.
    bool (*then)(QSqlQuery &query) = nullptr;
    // After the common statements, on that database only.
    QList<const char *> sqliteOnly = {};
    QList<const char *> postgresOnly = {};
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
        // The database decides what a station cannot: the time a revision is
        // stored (its own clock), who stored it (on PostgreSQL the login of
        // the connection), that a revision is its run's next one and that a
        // run keeps the station of its first. A revision stored before passes
        // on to the key, which refuses it or lets the insert skip it. Rows
        // stored before keep an empty login: nobody recorded it. The number
        // a station gave its snapshot is kept apart from the history's own.
        {4,
         {
             "ALTER TABLE run_revisions ADD COLUMN recorded_by TEXT NOT NULL DEFAULT ''",
             "ALTER TABLE run_revisions ADD COLUMN snapshot INTEGER NOT NULL DEFAULT 0",
             "UPDATE run_revisions SET snapshot = revision",
             // A station's latest run, for telling whether one is in progress.
             "CREATE INDEX run_revisions_by_station ON run_revisions (station, started)",
         },
         nullptr,
         {
             "CREATE TRIGGER run_revisions_in_order BEFORE INSERT ON run_revisions"
             " WHEN NOT EXISTS (SELECT 1 FROM run_revisions o"
             " WHERE o.run_key = NEW.run_key AND o.revision = NEW.revision)"
             " BEGIN"
             " SELECT RAISE(ABORT, 'refused: not the next revision of its run')"
             " WHERE NEW.revision <> 1 + COALESCE((SELECT MAX(o.revision) FROM run_revisions o"
             " WHERE o.run_key = NEW.run_key), 0);"
             " SELECT RAISE(ABORT, 'refused: a run keeps the station of its first revision')"
             " WHERE NEW.station <> (SELECT o.station FROM run_revisions o"
             " WHERE o.run_key = NEW.run_key ORDER BY o.revision LIMIT 1);"
             " END",
             "CREATE TRIGGER run_revisions_stamp AFTER INSERT ON run_revisions"
             " BEGIN"
             " UPDATE run_revisions SET recorded_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now'),"
             " recorded_by = NEW.operator_name"
             " WHERE run_key = NEW.run_key AND revision = NEW.revision;"
             " END",
         },
         {
             // PostgreSQL fixed the view's columns when it was created.
             "CREATE OR REPLACE VIEW runs AS SELECT * FROM run_revisions r WHERE r.revision ="
             " (SELECT MAX(m.revision) FROM run_revisions m WHERE m.run_key = r.run_key)",
             // The table is named through the trigger's own schema: a name
             // looked up in the session's search path could be a temporary
             // table the station made.
             "CREATE FUNCTION run_revisions_guard() RETURNS trigger LANGUAGE plpgsql"
             " SET search_path = pg_catalog AS $guard$"
             " DECLARE newest integer; first_station text; known boolean;"
             " BEGIN"
             " NEW.recorded_at := to_char(clock_timestamp() AT TIME ZONE 'UTC',"
             " 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"');"
             " NEW.recorded_by := session_user;"
             " EXECUTE format('SELECT EXISTS (SELECT 1 FROM %I.%I WHERE run_key = $1"
             " AND revision = $2)', TG_TABLE_SCHEMA, TG_TABLE_NAME)"
             " INTO known USING NEW.run_key, NEW.revision;"
             " IF known THEN RETURN NEW; END IF;"
             " EXECUTE format('SELECT MAX(revision) FROM %I.%I WHERE run_key = $1',"
             " TG_TABLE_SCHEMA, TG_TABLE_NAME) INTO newest USING NEW.run_key;"
             " IF NEW.revision <> COALESCE(newest, 0) + 1 THEN"
             " RAISE EXCEPTION 'refused: revision % of run % is not its next one (%)',"
             " NEW.revision, NEW.run_key, COALESCE(newest, 0) + 1"
             " USING ERRCODE = 'check_violation';"
             " END IF;"
             " EXECUTE format('SELECT station FROM %I.%I WHERE run_key = $1"
             " ORDER BY revision LIMIT 1', TG_TABLE_SCHEMA, TG_TABLE_NAME)"
             " INTO first_station USING NEW.run_key;"
             " IF newest IS NOT NULL AND NEW.station IS DISTINCT FROM first_station THEN"
             " RAISE EXCEPTION 'refused: run % keeps the station of its first revision',"
             " NEW.run_key USING ERRCODE = 'check_violation';"
             " END IF;"
             " RETURN NEW;"
             " END $guard$",
             "CREATE TRIGGER run_revisions_guard BEFORE INSERT ON run_revisions"
             " FOR EACH ROW EXECUTE FUNCTION run_revisions_guard()",
         }},
        // The register beside the runs: sensors retired and reinstated,
        // calibration intervals, the reference standards (verification
        // tips), signatures, certificates and the workshop's own settings.
        // Every change is a new row with who and when, as for runs; on
        // PostgreSQL who is the login the server authenticated, and only a
        // member of zolvex_signers (never a superuser) signs. A run names the
        // standard its station used.
        {5,
         {
             "ALTER TABLE run_revisions ADD COLUMN standard_serial TEXT NOT NULL DEFAULT ''",
             "CREATE TABLE sensor_states ("
             " serial_number TEXT NOT NULL,"
             " sensor_type TEXT NOT NULL,"
             " revision INTEGER NOT NULL,"
             " retired INTEGER NOT NULL,"
             " reason TEXT NOT NULL,"
             " station TEXT NOT NULL,"
             " recorded_by TEXT NOT NULL,"
             " recorded_at TEXT NOT NULL,"
             " PRIMARY KEY (serial_number, sensor_type, revision))",
             // An empty serial number: the interval of every sensor of the type.
             "CREATE TABLE intervals ("
             " sensor_type TEXT NOT NULL,"
             " serial_number TEXT NOT NULL,"
             " revision INTEGER NOT NULL,"
             " days INTEGER NOT NULL CHECK (days BETWEEN 1 AND 3650),"
             " basis TEXT NOT NULL,"
             " station TEXT NOT NULL,"
             " recorded_by TEXT NOT NULL,"
             " recorded_at TEXT NOT NULL,"
             " PRIMARY KEY (sensor_type, serial_number, revision))",
             "CREATE TABLE standards ("
             " serial_number TEXT NOT NULL,"
             " revision INTEGER NOT NULL,"
             " tip_kind INTEGER NOT NULL CHECK (tip_kind BETWEEN 1 AND 3),"
             " certificate_number TEXT NOT NULL,"
             " calibrated_on TEXT NOT NULL,"
             " due_on TEXT NOT NULL,"
             " withdrawn INTEGER NOT NULL,"
             " station TEXT NOT NULL,"
             " recorded_by TEXT NOT NULL,"
             " recorded_at TEXT NOT NULL,"
             " PRIMARY KEY (serial_number, revision))",
             "CREATE TABLE signatures ("
             " run_key TEXT NOT NULL,"
             " run_revision INTEGER NOT NULL,"
             " meaning TEXT NOT NULL CHECK (meaning IN ('reviewed', 'approved')),"
             " station TEXT NOT NULL,"
             " recorded_by TEXT NOT NULL,"
             " recorded_at TEXT NOT NULL,"
             " PRIMARY KEY (run_key, run_revision, meaning, recorded_by))",
             // A certificate's content is kept as issued, with its digest.
             "CREATE TABLE certificates ("
             " number TEXT PRIMARY KEY,"
             " run_key TEXT NOT NULL,"
             " run_revision INTEGER NOT NULL,"
             " signature_count INTEGER NOT NULL,"
             " replaces TEXT NOT NULL,"
             " content TEXT NOT NULL,"
             " content_sha256 TEXT NOT NULL,"
             " station TEXT NOT NULL,"
             " recorded_by TEXT NOT NULL,"
             " recorded_at TEXT NOT NULL)",
             "CREATE INDEX certificates_by_run ON certificates (run_key)",
             "CREATE TABLE register_settings ("
             " name TEXT NOT NULL,"
             " revision INTEGER NOT NULL,"
             " value TEXT NOT NULL,"
             " station TEXT NOT NULL,"
             " recorded_by TEXT NOT NULL,"
             " recorded_at TEXT NOT NULL,"
             " PRIMARY KEY (name, revision))",
         },
         nullptr,
         {
             "CREATE TRIGGER sensor_states_stamp AFTER INSERT ON sensor_states BEGIN"
             " UPDATE sensor_states SET recorded_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"
             " WHERE rowid = NEW.rowid; END",
             "CREATE TRIGGER intervals_stamp AFTER INSERT ON intervals BEGIN"
             " UPDATE intervals SET recorded_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"
             " WHERE rowid = NEW.rowid; END",
             "CREATE TRIGGER standards_stamp AFTER INSERT ON standards BEGIN"
             " UPDATE standards SET recorded_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"
             " WHERE rowid = NEW.rowid; END",
             "CREATE TRIGGER signatures_stamp AFTER INSERT ON signatures BEGIN"
             " UPDATE signatures SET recorded_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"
             " WHERE rowid = NEW.rowid; END",
             "CREATE TRIGGER certificates_stamp AFTER INSERT ON certificates BEGIN"
             " UPDATE certificates SET recorded_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"
             " WHERE rowid = NEW.rowid; END",
             "CREATE TRIGGER register_settings_stamp AFTER INSERT ON register_settings BEGIN"
             " UPDATE register_settings SET recorded_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"
             " WHERE rowid = NEW.rowid; END",
             "CREATE TRIGGER signatures_guard BEFORE INSERT ON signatures BEGIN"
             " SELECT RAISE(ABORT, 'refused: the operator of a run may not approve it')"
             " WHERE NEW.meaning = 'approved'"
             " AND (SELECT value FROM register_settings WHERE name = 'approver_not_operator'"
             " ORDER BY revision DESC LIMIT 1) = 'on'"
             " AND EXISTS (SELECT 1 FROM run_revisions WHERE run_key = NEW.run_key"
             " AND lower(operator_name) = lower(NEW.recorded_by));"
             " END",
         },
         {
             "CREATE OR REPLACE VIEW runs AS SELECT * FROM run_revisions r WHERE r.revision ="
             " (SELECT MAX(m.revision) FROM run_revisions m WHERE m.run_key = r.run_key)",
             "CREATE FUNCTION register_stamp() RETURNS trigger LANGUAGE plpgsql"
             " SET search_path = pg_catalog AS $stamp$"
             " BEGIN"
             " NEW.recorded_at := to_char(clock_timestamp() AT TIME ZONE 'UTC',"
             " 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"');"
             " NEW.recorded_by := session_user;"
             " RETURN NEW;"
             " END $stamp$",
             "CREATE TRIGGER sensor_states_stamp BEFORE INSERT ON sensor_states"
             " FOR EACH ROW EXECUTE FUNCTION register_stamp()",
             "CREATE TRIGGER intervals_stamp BEFORE INSERT ON intervals"
             " FOR EACH ROW EXECUTE FUNCTION register_stamp()",
             "CREATE TRIGGER standards_stamp BEFORE INSERT ON standards"
             " FOR EACH ROW EXECUTE FUNCTION register_stamp()",
             "CREATE TRIGGER certificates_stamp BEFORE INSERT ON certificates"
             " FOR EACH ROW EXECUTE FUNCTION register_stamp()",
             "CREATE TRIGGER register_settings_stamp BEFORE INSERT ON register_settings"
             " FOR EACH ROW EXECUTE FUNCTION register_stamp()",
             // A signature names the login the server authenticated. A
             // shared station role is no member of zolvex_signers, so it
             // cannot sign; a superuser could be anyone, so it cannot either.
             "CREATE FUNCTION signatures_guard() RETURNS trigger LANGUAGE plpgsql"
             " SET search_path = pg_catalog AS $guard$"
             " DECLARE rule text; operated boolean;"
             " BEGIN"
             " NEW.recorded_at := to_char(clock_timestamp() AT TIME ZONE 'UTC',"
             " 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"');"
             " NEW.recorded_by := session_user;"
             " IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'zolvex_signers')"
             " OR NOT pg_has_role(session_user, 'zolvex_signers', 'MEMBER')"
             " OR (SELECT rolsuper FROM pg_roles WHERE rolname = session_user) THEN"
             " RAISE EXCEPTION 'refused: the role % may not sign; a reviewer signs with a login"
             " role of their own that is a member of zolvex_signers', session_user"
             " USING ERRCODE = 'insufficient_privilege';"
             " END IF;"
             " IF NEW.meaning = 'approved' THEN"
             " EXECUTE format('SELECT value FROM %I.register_settings WHERE name = $1"
             " ORDER BY revision DESC LIMIT 1', TG_TABLE_SCHEMA)"
             " INTO rule USING 'approver_not_operator';"
             " EXECUTE format('SELECT EXISTS (SELECT 1 FROM %I.run_revisions"
             " WHERE run_key = $1 AND lower(operator_name) = lower($2))', TG_TABLE_SCHEMA)"
             " INTO operated USING NEW.run_key, NEW.recorded_by;"
             " IF rule = 'on' AND operated THEN"
             " RAISE EXCEPTION 'refused: the operator of a run may not approve it'"
             " USING ERRCODE = 'check_violation';"
             " END IF;"
             " END IF;"
             " RETURN NEW;"
             " END $guard$",
             "CREATE TRIGGER signatures_guard BEFORE INSERT ON signatures"
             " FOR EACH ROW EXECUTE FUNCTION signatures_guard()",
         }},
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
        for (const char *statement :
             migration.statements + (sqlite ? migration.sqliteOnly : migration.postgresOnly)) {
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
