#include "core/history/store.h"

#include "core/history/localfile.h"
#include "core/history/privacy.h"
#include "core/history/register.h"
#include "core/history/runfields.h"
#include "core/history/runformat.h"
#include "core/history/runrow.h"
#include "core/history/schema.h"
#include "core/tipkind.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

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
const QLatin1String kSQLiteDriver("QSQLITE");
const QLatin1String kPostgresDriver("QPSQL");
// SQLite's result codes for a database another connection holds.
const QLatin1String kSQLiteBusy("5");
const QLatin1String kSQLiteLocked("6");

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

// The sensor list takes each sensor's newest runs' fields as one text,
// joined by a character no outcome, verdict or date has.
const QLatin1String kSummarySeparator("|");
// The standard last: its serial number is anyone's text, and keeps any
// separator it holds.
const QStringList kNewestFields{QStringLiteral("outcome"), QStringLiteral("record_date"),
                                QStringLiteral("tip_kind"), QStringLiteral("standard_serial")};
const QStringList kJudgedFields{QStringLiteral("outcome"), QStringLiteral("found_high_verdict"),
                                QStringLiteral("found_low_verdict"),
                                QStringLiteral("left_high_verdict"),
                                QStringLiteral("left_low_verdict")};
const QStringList kValidatedFields{QStringLiteral("record_date")};
// The horizon is bound once per place it limits in the sensor list.
constexpr int kHorizonBinds = 5;

// One of those texts split into its fields; empty when there is none or it
// does not split into as many as were joined.
QStringList summaryFields(const QVariant &value, const QStringList &fields)
{
    if (value.isNull())
        return {};
    QStringList split = value.toString().split(kSummarySeparator);
    if (fields.last() == QLatin1String("standard_serial") && split.size() > fields.size()) {
        const QString serial = split.mid(fields.size() - 1).join(kSummarySeparator);
        split = split.mid(0, fields.size() - 1) << serial;
    }
    return split.size() == fields.size() ? split : QStringList();
}

QAtomicInteger<quint64> connectionCount;

// The newest revision of each run.
const QString &selectRuns()
{
    static const QString text = selectRunSql(QStringLiteral("runs"));
    return text;
}

bool isBusy(const QSqlError &error)
{
    return error.nativeErrorCode() == kSQLiteBusy || error.nativeErrorCode() == kSQLiteLocked;
}
} // namespace

QDate nextDue(const SensorSummary &sensor, int intervalDays, const QDate &today)
{
    if (!sensor.hasSerial() || sensor.typeUnknown || sensor.retired)
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

QDate nextDue(const SensorSummary &sensor, const QDate &today)
{
    return nextDue(sensor, sensor.intervalDays, today);
}

bool overdue(const SensorSummary &sensor, const QDate &today)
{
    return overdue(sensor, sensor.intervalDays, today);
}

QString joinedType(const QList<KnownSensor> &known, int tipKind, const QString &unit)
{
    const TipKind *tip = tipKindById(tipKind);
    if (!tip || unit != QLatin1String(tip->unit))
        return QString();
    QString type;
    bool agrees = false;
    for (const KnownSensor &sensor : known) {
        if (sensor.type.isEmpty())
            continue;
        if (!type.isEmpty() && sensor.type != type)
            return QString();
        type = sensor.type;
        if ((!sensor.range.isEmpty() && sensor.range != QLatin1String(tip->maxConductivity)) ||
            (!sensor.unit.isEmpty() && sensor.unit != unit))
            return QString();
        agrees = agrees || (!sensor.range.isEmpty() && !sensor.unit.isEmpty());
    }
    return agrees ? type : QString();
}

QString typeRefusal(const QString &type)
{
    if (type.trimmed().isEmpty())
        return tr("a sensor type cannot be empty");
    if (type != type.trimmed())
        return tr("a sensor type neither begins nor ends with a space");
    if (type.size() > kMaxSensorTypeLength)
        return tr("a sensor type has at most %1 characters").arg(kMaxSensorTypeLength);
    for (const QChar c : type) {
        if (!c.isPrint())
            return tr("a sensor type holds no control characters");
    }
    return QString();
}

namespace
{
// Serial numbers asked for at once: within any SQLite's limit of bound values.
constexpr int kSerialsPerQuery = 500;

// The type every run of the serial number without one belongs to; empty
// when there is none or one of them cannot be told.
QString typeOfUntyped(const QList<KnownSensor> &known)
{
    QString type;
    for (const KnownSensor &sensor : known) {
        if (!sensor.type.isEmpty())
            continue;
        const QString joined = joinedType(known, sensor.tipKind, sensor.unit);
        if (joined.isEmpty() || (!type.isEmpty() && joined != type))
            return QString();
        type = joined;
    }
    return type;
}

// The summary of a sensor's runs that name no type, taken into its own.
void absorb(SensorSummary *sensor, const SensorSummary &untyped)
{
    sensor->runs += untyped.runs;
    if (untyped.lastValidation.isValid() &&
        (!sensor->lastValidation.isValid() ||
         untyped.lastValidationDay() > sensor->lastValidationDay())) {
        sensor->lastValidation = untyped.lastValidation;
        sensor->lastValidationDate = untyped.lastValidationDate;
        sensor->lastValidationLocalDay = untyped.lastValidationLocalDay;
    }
    // A record's run starts with its day: a timed run of that day is newer.
    if (untyped.lastRun.isValid() &&
        (!sensor->lastRun.isValid() || untyped.lastRun > sensor->lastRun)) {
        sensor->lastRun = untyped.lastRun;
        sensor->lastOutcome = untyped.lastOutcome;
        sensor->lastRunDateOnly = untyped.lastRunDateOnly;
        sensor->outOfTolerance = untyped.outOfTolerance;
    }
}
} // namespace

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

// The session's limits on waiting: bound, as set_config() takes them. No
// JIT: the sensor list's estimate passes its threshold, and compiling it
// cost a second where the query itself takes less than half of one.
bool applyTimeouts(QSqlDatabase &db, const Location &location, QSqlError *error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT set_config('statement_timeout', ?, false), "
                                 "set_config('lock_timeout', ?, false), "
                                 "set_config('jit', 'off', false)"));
    query.addBindValue(QString::number(location.statementTimeoutMs));
    query.addBindValue(QString::number(location.lockTimeoutMs));
    if (!query.exec()) {
        *error = query.lastError();
        return false;
    }
    return true;
}

bool isSQLite(const Location &location)
{
    return location.kind == Location::Kind::SQLite;
}

// The connection's driver and parameters, and for SQLite its file; not yet
// open.
bool prepareConnection(QSqlDatabase &db, const Location &location, QString *error)
{
    if (!db.isValid()) {
        *error = failure(location, tr("its Qt SQL driver is not installed"), db.lastError());
        return false;
    }
    db.close();
    if (isSQLite(location)) {
        if (!prepareSQLiteFile(location, error))
            return false;
        db.setDatabaseName(location.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        return true;
    }
    db.setHostName(location.host);
    db.setPort(location.port);
    db.setDatabaseName(location.database);
    db.setUserName(location.user);
    db.setPassword(location.password);
    db.setConnectOptions(connectionOptions(location));
    return true;
}

bool connect(QSqlDatabase &db, const Location &location, QString *error)
{
    if (!db.open()) {
        *error = failure(location, tr("cannot connect"), db.lastError());
        return false;
    }
    QSqlError sqlError;
    if (!isSQLite(location) && !applyTimeouts(db, location, &sqlError)) {
        *error = failure(location, tr("cannot set its timeouts"), sqlError);
        return false;
    }
    return true;
}

// A newer program's database is refused before anything is written to it,
// the journal mode included.
bool checkVersion(QSqlDatabase &db, const Location &location, int *version, QString *error)
{
    QSqlError sqlError;
    if (!schema::readVersion(db, isSQLite(location), version, &sqlError)) {
        *error = failure(location, tr("cannot read the schema version"), sqlError);
        return false;
    }
    if (*version > Store::kSchemaVersion) {
        *error = schema::newerSchema(location, *version);
        return false;
    }
    return true;
}

// One PRAGMA, tried again while another connection holds the file.
bool pragma(QSqlDatabase &db, const char *statement, QSqlError *error)
{
    QSqlQuery query(db);
    for (int attempt = 1;; ++attempt) {
        const bool ok = query.exec(QLatin1String(statement));
        *error = query.lastError();
        query.finish();
        if (ok)
            return true;
        if (!isBusy(*error) || attempt == kWriteAttempts)
            return false;
        QThread::msleep(kRetryPauseMs * attempt);
    }
}

// WAL lets the history window read while a station writes. Switching a new
// file to WAL needs it alone for a moment: a station that meets another one
// doing the same is told "locked" at once, without the busy timeout, and
// tries again. FULL: a commit is on the disk before the writer removes the
// run's pending file (NORMAL would let a power cut take it back).
bool setJournal(QSqlDatabase &db, const Location &location, QString *error)
{
    if (!isSQLite(location))
        return true;
    for (const char *statement : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"}) {
        QSqlError sqlError;
        if (!pragma(db, statement, &sqlError)) {
            *error = failure(location, tr("cannot prepare the database"), sqlError);
            return false;
        }
    }
    return true;
}

bool readIdentity(QSqlDatabase &db, const Location &location, QString *identity, QString *error)
{
    QSqlQuery query(db);
    if (!query.exec(QLatin1String("SELECT id FROM history_identity")) || !query.next() ||
        query.value(0).toString().isEmpty()) {
        *error =
            failure(location, tr("cannot read the identity of the history"), query.lastError());
        return false;
    }
    *identity = query.value(0).toString();
    return true;
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
    QSqlDatabase db =
        QSqlDatabase::contains(connectionName_)
            ? QSqlDatabase::database(connectionName_, false)
            : QSqlDatabase::addDatabase(isSQLite(location_) ? kSQLiteDriver : kPostgresDriver,
                                        connectionName_);
    if (!prepareConnection(db, location_, error))
        return false;
    int version = 0;
    if (!connect(db, location_, error) || !checkVersion(db, location_, &version, error) ||
        !setJournal(db, location_, error) || !schema::migrate(db, location_, version, error) ||
        !readIdentity(db, location_, &identity_, error)) {
        db.close();
        return false;
    }
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
    if (!db.isOpen() || !schema::readVersion(db, isSQLite(location_), &version, &error))
        return 0;
    return version;
}

namespace
{
// The newest revision of a run the history holds and the highest number a
// station gave one of its snapshots, 0 for none; false when they could not
// be read.
bool newestRevision(QSqlQuery &query, const QString &key, int *newest, int *snapshot)
{
    if (!query.prepare(QStringLiteral(
            "SELECT MAX(revision), MAX(snapshot) FROM run_revisions WHERE run_key = ?")))
        return false;
    query.addBindValue(sqlText(key));
    if (!query.exec() || !query.next())
        return false;
    *newest = query.value(0).toInt();
    *snapshot = query.value(1).toInt();
    return true;
}

// Whether the history holds the station's snapshot of that number.
bool holdsSnapshot(QSqlQuery &query, const QString &key, int snapshot, bool *held)
{
    if (!query.prepare(QStringLiteral(
            "SELECT COUNT(*) FROM run_revisions WHERE run_key = ? AND snapshot = ?")))
        return false;
    query.addBindValue(sqlText(key));
    query.addBindValue(snapshot);
    if (!query.exec() || !query.next())
        return false;
    *held = query.value(0).toInt() > 0;
    return true;
}

// In the caller's transaction. The history numbers a run's revisions
// 1, 2, 3... itself, and the database takes only the next one; the number
// the station gave the snapshot is kept beside it. A station numbers its
// snapshots in order, so one the history holds is already there, and one
// numbered before the newest stored is superseded, however it differs. A
// snapshot numbered further on (one in between never arrived, or only the
// newest waited) is stored as the next revision. Nothing is ever replaced.
// A change made to a stored run by anyone else is written by its own path
// (Store::setRunType()). False with a reason.
bool writeRevision(QSqlQuery &query, const Run &run, bool sqlite, WriteResult *result,
                   QSqlError *error)
{
    const auto failed = [&query, error] {
        *error = query.lastError();
        return false;
    };
    int newest = 0;
    int latest = 0;
    bool held = false;
    if (!newestRevision(query, run.key, &newest, &latest) ||
        !holdsSnapshot(query, run.key, run.revision, &held))
        return failed();
    if (held || run.revision <= latest) {
        result->kind = held ? WriteResult::AlreadyThere : WriteResult::Superseded;
        return true;
    }
    Run stored = run;
    stored.revision = newest + 1;
    if (!query.prepare(insertRunSql(sqlite)))
        return failed();
    for (const QVariant &value : runValues(stored, run.revision))
        query.addBindValue(value);
    if (!query.exec())
        return failed();
    // Another connection stored that revision meanwhile: tried again later,
    // as the next one after it.
    if (query.numRowsAffected() == 0) {
        *error = QSqlError(tr("another revision of the run was stored at the same moment"),
                           QString(), QSqlError::TransactionError);
        return false;
    }
    result->kind = WriteResult::Written;
    return true;
}
} // namespace

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
    const bool sqlite = isSQLite(location_);
    QSqlError sqlError;
    for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
        // Freed after the transaction ends: PostgreSQL refuses to free a
        // statement inside a failed one.
        QSqlQuery query(db);
        if (schema::begin(db, sqlite, &sqlError)) {
            WriteResult result;
            const bool ok = writeRevision(query, run, sqlite, &result, &sqlError);
            query.finish();
            if (ok && schema::commit(db, &sqlError))
                return result;
            if (!ok)
                schema::rollback(db);
        }
        if (!sqlite || !isBusy(sqlError) || attempt == kWriteAttempts)
            break;
        QThread::msleep(kRetryPauseMs * attempt);
    }
    *error = failure(location_, tr("the run could not be written"), sqlError);
    return {};
}

bool Store::writeAll(const QList<Run> &runs, QList<bool> *inserted, QString *error)
{
    inserted->clear();
    QSqlDatabase db = database();
    if (!db.isOpen()) {
        *error = location_.describe() + tr(": not open");
        return false;
    }
    if (runs.isEmpty())
        return true;
    const bool sqlite = isSQLite(location_);
    QSqlError sqlError;
    if (!schema::begin(db, sqlite, &sqlError)) {
        *error = failure(location_, tr("the runs could not be written"), sqlError);
        return false;
    }
    // Prepared once: on PostgreSQL each run is then one round trip. Freed
    // after the transaction ends, as in write().
    QSqlQuery query(db);
    QList<bool> news;
    bool ok = query.prepare(insertRunSql(sqlite));
    for (int i = 0; ok && i < runs.size(); ++i) {
        const QVariantList values = runValues(runs.at(i));
        for (int v = 0; v < values.size(); ++v)
            query.bindValue(v, values.at(v));
        ok = query.exec();
        news << (ok && query.numRowsAffected() > 0);
    }
    if (!ok)
        sqlError = query.lastError();
    query.finish();
    if (!ok) {
        schema::rollback(db);
        *error = failure(location_, tr("the runs could not be written"), sqlError);
        return false;
    }
    if (!schema::commit(db, &sqlError)) {
        *error = failure(location_, tr("the runs could not be written"), sqlError);
        return false;
    }
    *inserted = news;
    return true;
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
    // A sensor is its serial number and type. One pass over the newest
    // revisions for the figures, and per sensor one backward walk of the
    // sensor index for each of its newest run, the newest run that took
    // readings and the newest validation; each of those gives its fields as
    // one text, so no join over every run is needed. The newest revision is
    // found by the absence of a newer one: PostgreSQL plans that as one
    // anti-join, where the view's MAX() is a look-up per row. Runs dated
    // after tomorrow are left out of all but the count: a date in the future
    // must not put off the due date or hide today's run.
    static const QString sql = [] {
        const QString current =
            QStringLiteral(" NOT EXISTS (SELECT 1 FROM run_revisions m"
                           " WHERE m.run_key = %1.run_key AND m.revision > %1.revision)");
        const QString validation = QLatin1String(" IN (") + validationOutcomes() + u')';
        // The newest current revision of the sensor, dated before the horizon,
        // that meets `condition`; `fields` joined by the separator.
        const auto newest = [&](const QStringList &fields, const QString &condition) {
            QStringList joined;
            for (const QString &field : fields)
                joined << QLatin1String("k.") + field;
            return QLatin1String("(SELECT ") +
                   joined.join(QLatin1String(" || '") + kSummarySeparator +
                               QLatin1String("' || ")) +
                   QLatin1String(" FROM run_revisions k WHERE k.serial_number = r.serial_number"
                                 " AND k.sensor_type = r.sensor_type AND k.started < ? AND") +
                   current.arg(QLatin1String("k")) + condition +
                   QLatin1String(" ORDER BY k.started DESC, k.run_key DESC LIMIT 1)");
        };
        return QLatin1String("SELECT r.serial_number, r.sensor_type, COUNT(*),"
                             " MAX(CASE WHEN r.started < ? AND r.outcome") +
               validation +
               QLatin1String(" THEN r.started END),"
                             " MAX(CASE WHEN r.started < ? THEN r.started END), ") +
               newest(kNewestFields, QString()) + QLatin1String(", ") +
               newest(kJudgedFields, QStringLiteral(" AND (k.found_high_verdict <> 'none'"
                                                    " OR k.found_low_verdict <> 'none')")) +
               QLatin1String(", ") +
               newest(kValidatedFields, QLatin1String(" AND k.outcome") + validation) +
               QLatin1String(" FROM run_revisions r WHERE") + current.arg(QLatin1String("r")) +
               QLatin1String(" GROUP BY r.serial_number, r.sensor_type"
                             " ORDER BY r.serial_number, r.sensor_type");
    }();
    const QString horizon =
        timeText(QDateTime(today.addDays(2), QTime(0, 0), Qt::LocalTime).toUTC());
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (int i = 0; i < kHorizonBinds; ++i)
        query.addBindValue(horizon);
    if (!ok || !query.exec()) {
        const QString why = failure(location_, tr("cannot list the sensors"), query.lastError());
        qWarning().noquote() << why;
        if (error)
            *error = why;
        return list;
    }
    while (query.next()) {
        SensorSummary sensor;
        sensor.serialNumber = query.value(0).toString();
        sensor.sensorType = query.value(1).toString();
        sensor.runs = query.value(2).toInt();
        sensor.lastValidation = timeFrom(query.value(3));
        sensor.lastRun = timeFrom(query.value(4));
        // Fields that do not split as written are read as none.
        const QStringList newest = summaryFields(query.value(5), kNewestFields);
        const QStringList judged = summaryFields(query.value(6), kJudgedFields);
        const QStringList validated = summaryFields(query.value(7), kValidatedFields);
        if (!newest.isEmpty()) {
            sensor.lastOutcome = outcomeFromName(newest[0]).value_or(Outcome::Interrupted);
            sensor.lastRunDateOnly = !newest[1].isEmpty();
            sensor.lastTipKind = newest[2].toInt();
            sensor.lastStandardSerial = newest[3];
        }
        if (!judged.isEmpty()) {
            const auto verdict = [&judged](int field) {
                return verdictFromName(judged[field]).value_or(Verdict::None);
            };
            Run run;
            run.outcome = outcomeFromName(judged[0]).value_or(Outcome::Interrupted);
            run.foundHigh.verdict = verdict(1);
            run.foundLow.verdict = verdict(2);
            run.leftHigh.verdict = verdict(3);
            run.leftLow.verdict = verdict(4);
            // Runs without a serial number are no sensor that could be.
            sensor.outOfTolerance = sensor.hasSerial() && leftFailing(run);
        }
        if (!validated.isEmpty() && !validated[0].isEmpty())
            sensor.lastValidationDate = QDate::fromString(validated[0], Qt::ISODate);
        if (!sensor.lastValidationDate.isValid() && sensor.lastValidation.isValid())
            sensor.lastValidationLocalDay = sensor.lastValidation.toLocalTime().date();
        list << sensor;
    }
    if (query.lastError().isValid()) {
        const QString why = failure(location_, tr("cannot list the sensors"), query.lastError());
        qWarning().noquote() << why;
        if (error)
            *error = why;
    }
    joinUntyped(&list, error);
    fillFromRegister(&list, error);
    return list;
}

void Store::fillFromRegister(QList<SensorSummary> *list, QString *error) const
{
    QHash<QString, SensorState> states;
    QHash<QString, IntervalSetting> intervals;
    QString why;
    if (!sensorStates(*this, &states, &why) || !intervalSettings(*this, &intervals, &why)) {
        qWarning().noquote() << why;
        if (error)
            *error = why;
        return;
    }
    for (SensorSummary &sensor : *list) {
        const SensorState state = states.value(sensorKey(sensor.serialNumber, sensor.sensorType));
        sensor.retired = sensor.hasSerial() && state.retired;
        sensor.retiredReason = sensor.retired ? state.reason : QString();
        sensor.intervalDays = intervalFor(intervals, sensor.serialNumber, sensor.sensorType);
    }
}

void Store::joinUntyped(QList<SensorSummary> *list, QString *error) const
{
    // Sorted by serial number, then type: the runs without one come first.
    QStringList shared;
    for (qsizetype i = 0; i + 1 < list->size(); ++i) {
        const SensorSummary &sensor = list->at(i);
        if (sensor.hasSerial() && sensor.sensorType.isEmpty() &&
            list->at(i + 1).serialNumber == sensor.serialNumber) {
            (*list)[i].typeUnknown = true;
            shared << sensor.serialNumber;
        }
    }
    QHash<QString, QList<KnownSensor>> known;
    QString why;
    if (shared.isEmpty())
        return;
    if (!knownSensors(shared, &known, &why)) {
        if (error)
            *error = why;
        return;
    }
    for (qsizetype i = 0; i < list->size(); ++i) {
        const SensorSummary untyped = list->at(i);
        const QString type =
            untyped.typeUnknown ? typeOfUntyped(known.value(untyped.serialNumber)) : QString();
        if (type.isEmpty())
            continue;
        for (qsizetype k = i + 1; k < list->size(); ++k) {
            if (list->at(k).serialNumber == untyped.serialNumber &&
                list->at(k).sensorType == type) {
                absorb(&(*list)[k], untyped);
                list->removeAt(i--);
                break;
            }
        }
    }
}

namespace
{
const QString &allRunsSql()
{
    static const QString text =
        selectRuns() + QLatin1String("ORDER BY serial_number, started, run_key");
    return text;
}

// Each run the query gives to visit as it is read; false when they could not
// all be read (error, if given, says why) or visit stopped.
bool visitRuns(const Location &location, QSqlDatabase db, const QString &sql,
               const QVariantList &values, const std::function<bool(const Run &)> &visit,
               QString *error)
{
    if (!db.isOpen()) {
        if (error)
            *error = tr("the history is not open");
        return false;
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
        return false;
    }
    while (query.next()) {
        if (!visit(runFromRow(query)))
            return false;
    }
    // A connection lost half-way ends the rows early: not every run was read.
    if (query.lastError().isValid()) {
        const QString why = failure(location, tr("cannot read the runs"), query.lastError());
        qWarning().noquote() << why;
        if (error)
            *error = why;
        return false;
    }
    return true;
}

QList<Run> queryRuns(const Location &location, QSqlDatabase db, const QString &sql,
                     const QVariantList &values, QString *error)
{
    QList<Run> runs;
    visitRuns(
        location, db, sql, values,
        [&runs](const Run &run) {
            runs << run;
            return true;
        },
        error);
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
    // The runs without a type that belong to the sensor are its runs too.
    QHash<QString, QList<KnownSensor>> known;
    if (!sensorType.isEmpty() && !knownSensors({serialNumber}, &known, error))
        return {};
    const bool joined =
        !sensorType.isEmpty() && typeOfUntyped(known.value(serialNumber)) == sensorType;
    return queryRuns(location_, database(),
                     selectRuns() +
                         QLatin1String("WHERE serial_number = ? AND (sensor_type = ? OR"
                                       " (? = 1 AND sensor_type = '')) ORDER BY started, run_key"),
                     {sqlText(serialNumber), sqlText(sensorType), int(joined)}, error);
}

bool Store::knownSensors(const QStringList &serialNumbers,
                         QHash<QString, QList<KnownSensor>> *known, QString *error) const
{
    known->clear();
    QSqlDatabase db = database();
    if (!db.isOpen()) {
        if (error)
            *error = tr("the history is not open");
        return false;
    }
    for (qsizetype from = 0; from < serialNumbers.size(); from += kSerialsPerQuery) {
        const QStringList asked = serialNumbers.mid(from, kSerialsPerQuery);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        bool ok = query.prepare(
            QLatin1String("SELECT DISTINCT serial_number, sensor_type, sensor_range, unit, tip_kind"
                          " FROM runs WHERE serial_number IN (") +
            QStringList(asked.size(), QStringLiteral("?")).join(u',') +
            QLatin1String(") ORDER BY serial_number, sensor_type"));
        for (const QString &serial : asked)
            query.addBindValue(sqlText(serial));
        ok = ok && query.exec();
        while (ok && query.next()) {
            (*known)[query.value(0).toString()].append(
                {query.value(1).toString(), query.value(2).toString(), query.value(3).toString(),
                 query.value(4).toInt()});
        }
        if (!ok || query.lastError().isValid()) {
            const QString why =
                failure(location_, tr("cannot read the sensor types"), query.lastError());
            qWarning().noquote() << why;
            if (error)
                *error = why;
            known->clear();
            return false;
        }
    }
    return true;
}

QStringList Store::typesOf(const QString &serialNumber, QString *error) const
{
    QHash<QString, QList<KnownSensor>> known;
    QStringList types;
    if (!knownSensors({serialNumber}, &known, error))
        return types;
    for (const KnownSensor &sensor : known.value(serialNumber)) {
        if (!sensor.type.isEmpty() && !types.contains(sensor.type))
            types << sensor.type;
    }
    return types;
}

TypeChange Store::setRunType(const QString &key, const QString &sensorType)
{
    TypeChange change;
    const QString refusal = typeRefusal(sensorType);
    if (!refusal.isEmpty()) {
        change.kind = TypeChange::Refused;
        change.reason = refusal;
        return change;
    }
    QSqlDatabase db = database();
    if (!db.isOpen()) {
        change.reason = tr("the history is not open");
        return change;
    }
    const bool sqlite = isSQLite(location_);
    QSqlError sqlError;
    if (!schema::begin(db, sqlite, &sqlError)) {
        change.reason = failure(location_, tr("the type could not be set"), sqlError);
        return change;
    }
    // Read and written in one transaction: the new revision follows the
    // newest, and keeps its station.
    QSqlQuery query(db);
    bool ok = query.prepare(selectRunSql(QStringLiteral("run_revisions")) +
                            QLatin1String("WHERE run_key = ? ORDER BY revision DESC LIMIT 1"));
    query.addBindValue(sqlText(key));
    ok = ok && query.exec();
    const bool found = ok && query.next();
    Run run;
    if (found)
        run = runFromRow(query);
    ok = ok && !query.lastError().isValid();
    if (ok && !found)
        change.reason = tr("no run has the key %1").arg(key);
    else if (ok && run.sensorType == sensorType)
        change.reason = tr("the run is of type %1 already").arg(sensorType);
    // Its station may still store snapshots of it, numbered by its own count:
    // a revision added here would be taken for one of them.
    else if (ok && run.source == Source::Station && !run.ended.isValid())
        change.reason = tr("the run has not ended (its station may still be recording it)");
    else if (ok && run.revision >= kMaxRevision)
        change.reason = tr("the run has as many revisions as it may have");
    if (ok && change.reason.isEmpty()) {
        run.revision += 1;
        run.sensorType = sensorType;
        run.operatorName = loginName();
        ok = query.prepare(insertRunSql(sqlite));
        for (const QVariant &value : runValues(run))
            query.addBindValue(value);
        ok = ok && query.exec();
        // Another revision came first: nothing is written over it.
        if (ok && query.numRowsAffected() <= 0)
            change.reason = tr("the run changed meanwhile; try again");
    }
    if (!ok)
        sqlError = query.lastError();
    query.finish();
    if (ok && change.reason.isEmpty() && schema::commit(db, &sqlError)) {
        change.kind = TypeChange::Set;
        change.revision = run.revision;
        return change;
    }
    schema::rollback(db);
    if (ok && !change.reason.isEmpty()) {
        change.kind = TypeChange::Refused;
        return change;
    }
    change.reason = failure(location_, tr("the type could not be set"), sqlError);
    return change;
}

QList<Run> Store::revisionsOf(const QString &key, QString *error) const
{
    return queryRuns(location_, database(),
                     selectRunSql(QStringLiteral("run_revisions")) +
                         QLatin1String("WHERE run_key = ? ORDER BY revision"),
                     {sqlText(key)}, error);
}

QList<Run> Store::allRuns(QString *error) const
{
    return queryRuns(location_, database(), allRunsSql(), {}, error);
}

bool Store::visitAllRuns(const std::function<bool(const Run &)> &visit, QString *error) const
{
    return visitRuns(location_, database(), allRunsSql(), {}, visit, error);
}

namespace
{
// Of the given stations, or of every one (null).
QHash<QString, QDateTime> queryLatestStarts(const Location &location, QSqlDatabase db,
                                            const QStringList *stations, QString *error)
{
    QHash<QString, QDateTime> starts;
    if (!db.isOpen()) {
        if (error)
            *error = tr("the history is not open");
        return starts;
    }
    if (stations && stations->isEmpty())
        return starts;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    QString sql =
        QStringLiteral("SELECT station, MAX(started) FROM run_revisions WHERE source = ?");
    if (stations)
        sql += QLatin1String(" AND station IN (") +
               QStringList(stations->size(), QStringLiteral("?")).join(u',') + u')';
    bool ok = query.prepare(sql + QLatin1String(" GROUP BY station"));
    query.addBindValue(sourceName(Source::Station));
    for (const QString &station : stations ? *stations : QStringList())
        query.addBindValue(sqlText(station));
    ok = ok && query.exec();
    while (ok && query.next())
        starts.insert(query.value(0).toString(), timeFrom(query.value(1)));
    if (!ok || query.lastError().isValid()) {
        const QString why = failure(location, tr("cannot read the runs"), query.lastError());
        qWarning().noquote() << why;
        if (error)
            *error = why;
    }
    return starts;
}
} // namespace

QHash<QString, QDateTime> Store::latestStarts(QString *error) const
{
    return queryLatestStarts(location_, database(), nullptr, error);
}

QHash<QString, QDateTime> Store::latestStarts(const QList<Run> &runs, const QDateTime &now) const
{
    QStringList stations;
    for (const Run &run : runs) {
        if (inProgress(run, QDateTime(), now) && !stations.contains(run.station))
            stations << run.station;
    }
    return queryLatestStarts(location_, database(), &stations, nullptr);
}

void Store::markInProgress(QList<SensorSummary> *sensors, const QDateTime &now) const
{
    // Few sensors end on a run without an end: each is looked up alone.
    for (SensorSummary &sensor : *sensors) {
        if (sensor.runs <= 0 || sensor.lastOutcome != Outcome::Interrupted)
            continue;
        const QList<Run> newest =
            queryRuns(location_, database(),
                      selectRuns() + QLatin1String("WHERE serial_number = ? AND sensor_type = ?"
                                                   " ORDER BY started DESC, run_key DESC LIMIT 1"),
                      {sqlText(sensor.serialNumber), sqlText(sensor.sensorType)}, nullptr);
        sensor.lastInProgress =
            !newest.isEmpty() &&
            inProgress(newest.first(), latestStarts(newest, now).value(newest.first().station),
                       now);
    }
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

bool Store::knownRecordDigests(const QStringList &digests, QSet<QString> *known, QString *error,
                               QHash<QString, QString> *paths) const
{
    known->clear();
    if (paths)
        paths->clear();
    QSqlDatabase db = database();
    if (!db.isOpen()) {
        *error = tr("the history is not open");
        return false;
    }
    QStringList asked;
    for (const QString &digest : digests) {
        if (!digest.isEmpty() && !asked.contains(digest))
            asked << digest;
    }
    if (asked.isEmpty())
        return true;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ok = query.prepare(QLatin1String("SELECT DISTINCT record_digest, record_path FROM runs"
                                          " WHERE record_digest IN (") +
                            QStringList(asked.size(), QStringLiteral("?")).join(u',') +
                            QLatin1String(") ORDER BY record_path"));
    for (const QString &digest : asked)
        query.addBindValue(digest);
    ok = ok && query.exec();
    while (ok && query.next()) {
        known->insert(query.value(0).toString());
        if (paths && !paths->contains(query.value(0).toString()))
            paths->insert(query.value(0).toString(), query.value(1).toString());
    }
    if (!ok || query.lastError().isValid()) {
        *error = failure(location_, tr("cannot look up the records"), query.lastError());
        known->clear();
        if (paths)
            paths->clear();
        return false;
    }
    return true;
}

QSqlDatabase Store::database() const
{
    return QSqlDatabase::database(connectionName_, false);
}

} // namespace history
