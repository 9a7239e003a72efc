#include "core/history/register.h"

#include "core/history/location.h"
#include "core/history/privacy.h"
#include "core/history/run.h"
#include "core/history/runrow.h"
#include "core/history/schema.h"
#include "core/history/store.h"
#include "core/tipkind.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>

namespace history
{

namespace
{
QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

// A certificate number taken by another station at the same moment is
// taken again this many times.
constexpr int kIssueAttempts = 5;

using Values = QList<QPair<QLatin1String, QVariant>>;

bool isSQLite(const Store &store)
{
    return store.location().kind == Location::Kind::SQLite;
}

Stamp stampFrom(const QSqlQuery &query, int first)
{
    Stamp stamp;
    stamp.station = query.value(first).toString();
    stamp.recordedBy = query.value(first + 1).toString();
    stamp.recordedAt = timeFrom(query.value(first + 2));
    return stamp;
}

const QLatin1String kStampColumns("station, recorded_by, recorded_at");

// Runs a query with its values bound; on failure *error says why.
bool select(const Store &store, QSqlQuery &query, const QString &sql, const QVariantList &values,
            QString *error)
{
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    ok = ok && query.exec();
    if (!ok && error)
        *error = databaseFailure(store.location(), tr("the register could not be read"),
                                 query.lastError());
    return ok;
}

// Stores a row as the next revision of what `subject` names, in a
// transaction of its own: the revision follows the newest stored, and a
// station that stored one at the same moment makes this one fail rather
// than write over it.
RegisterChange appendRevision(Store &store, const QLatin1String &table, const Values &subject,
                              const Values &fields)
{
    RegisterChange change;
    QSqlDatabase db = store.database();
    if (!db.isOpen()) {
        change.reason = tr("the history is not open");
        return change;
    }
    QSqlError sqlError;
    if (!schema::begin(db, isSQLite(store), &sqlError)) {
        change.reason =
            databaseFailure(store.location(), tr("the register could not be written"), sqlError);
        return change;
    }
    QStringList where;
    QStringList columns;
    QStringList marks;
    for (const auto &[column, value] : subject) {
        where << column + QLatin1String(" = ?");
        columns << column;
        marks << QStringLiteral("?");
    }
    QSqlQuery query(db);
    bool ok = query.prepare(QLatin1String("SELECT COALESCE(MAX(revision), 0) FROM ") + table +
                            QLatin1String(" WHERE ") + where.join(QLatin1String(" AND ")));
    for (const auto &entry : subject)
        query.addBindValue(entry.second);
    ok = ok && query.exec() && query.next();
    const int revision = ok ? query.value(0).toInt() + 1 : 0;
    if (ok) {
        for (const auto &entry : fields) {
            columns << entry.first;
            marks << QStringLiteral("?");
        }
        columns << QStringLiteral("revision") << QStringLiteral("station")
                << QStringLiteral("recorded_by") << QStringLiteral("recorded_at");
        marks << QStringLiteral("?") << QStringLiteral("?") << QStringLiteral("?")
              << QStringLiteral("?");
        ok = query.prepare(QLatin1String("INSERT INTO ") + table + QLatin1String(" (") +
                           columns.join(QLatin1String(", ")) + QLatin1String(") VALUES (") +
                           marks.join(QLatin1String(", ")) + QLatin1Char(')'));
        for (const auto &entry : subject + fields)
            query.addBindValue(entry.second);
        query.addBindValue(revision);
        query.addBindValue(sqlText(QSysInfo::machineHostName()));
        // The database sets both on PostgreSQL; SQLite has no logins. The
        // time is never NULL, which its column refuses before SQLite's
        // trigger sets it.
        query.addBindValue(sqlText(loginName()));
        // Not NULL: the column refuses that before the trigger sets it.
        query.addBindValue(sqlText(QString()));
        ok = query.exec();
    }
    if (!ok)
        sqlError = query.lastError();
    query.finish();
    if (ok && schema::commit(db, &sqlError)) {
        change.kind = RegisterChange::Done;
        change.revision = revision;
        return change;
    }
    schema::rollback(db);
    change.reason =
        databaseFailure(store.location(), tr("the register could not be written"), sqlError);
    return change;
}

// The newest revision of each subject of a table, as the table's columns.
QString newestOf(const QLatin1String &table, const QLatin1String &columns,
                 const QLatin1String &subject)
{
    return QLatin1String("SELECT ") + columns + QLatin1String(", ") + kStampColumns +
           QLatin1String(" FROM ") + table + QLatin1String(" r WHERE r.revision = (SELECT MAX(") +
           QLatin1String("m.revision) FROM ") + table + QLatin1String(" m WHERE ") + subject +
           QLatin1Char(')');
}

const QLatin1String kStateColumns("serial_number, sensor_type, revision, retired, reason");

SensorState stateFrom(const QSqlQuery &query)
{
    SensorState state;
    state.serialNumber = query.value(0).toString();
    state.sensorType = query.value(1).toString();
    state.revision = query.value(2).toInt();
    state.retired = query.value(3).toInt() != 0;
    state.reason = query.value(4).toString();
    state.stamp = stampFrom(query, 5);
    return state;
}

const QLatin1String kIntervalColumns("sensor_type, serial_number, revision, days, basis");

IntervalSetting intervalFrom(const QSqlQuery &query)
{
    IntervalSetting setting;
    setting.sensorType = query.value(0).toString();
    setting.serialNumber = query.value(1).toString();
    setting.revision = query.value(2).toInt();
    setting.days = query.value(3).toInt();
    setting.basis = query.value(4).toString();
    setting.stamp = stampFrom(query, 5);
    return setting;
}

const QLatin1String kStandardColumns(
    "serial_number, revision, tip_kind, certificate_number, calibrated_on, due_on, withdrawn");

Standard standardFrom(const QSqlQuery &query)
{
    Standard standard;
    standard.serialNumber = query.value(0).toString();
    standard.revision = query.value(1).toInt();
    standard.tipKind = query.value(2).toInt();
    standard.certificateNumber = query.value(3).toString();
    standard.calibratedOn = QDate::fromString(query.value(4).toString(), Qt::ISODate);
    standard.dueOn = QDate::fromString(query.value(5).toString(), Qt::ISODate);
    standard.withdrawn = query.value(6).toInt() != 0;
    standard.stamp = stampFrom(query, 7);
    return standard;
}

const QLatin1String kSignatureColumns("run_key, run_revision, meaning");

Signature signatureFrom(const QSqlQuery &query)
{
    Signature signature;
    signature.runKey = query.value(0).toString();
    signature.runRevision = query.value(1).toInt();
    signature.meaning = query.value(2).toString();
    signature.stamp = stampFrom(query, 3);
    return signature;
}

const QLatin1String kCertificateColumns(
    "number, run_key, run_revision, signature_count, replaces, content, content_sha256");

Certificate certificateFrom(const QSqlQuery &query)
{
    Certificate certificate;
    certificate.number = query.value(0).toString();
    certificate.runKey = query.value(1).toString();
    certificate.runRevision = query.value(2).toInt();
    certificate.signatureCount = query.value(3).toInt();
    certificate.replaces = query.value(4).toString();
    certificate.content = query.value(5).toString();
    certificate.contentSha256 = query.value(6).toString();
    certificate.stamp = stampFrom(query, 7);
    return certificate;
}

} // namespace

QString sensorKey(const QString &serialNumber, const QString &sensorType)
{
    return serialNumber + u'\n' + sensorType;
}

bool sensorStates(const Store &store, QHash<QString, SensorState> *newest, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                newestOf(QLatin1String("sensor_states"), kStateColumns,
                         QLatin1String("m.serial_number = r.serial_number"
                                       " AND m.sensor_type = r.sensor_type")),
                {}, error))
        return false;
    newest->clear();
    while (query.next()) {
        const SensorState state = stateFrom(query);
        newest->insert(sensorKey(state.serialNumber, state.sensorType), state);
    }
    return true;
}

bool sensorStateHistory(const Store &store, const QString &serialNumber, const QString &sensorType,
                        QList<SensorState> *states, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kStateColumns + QLatin1String(", ") + kStampColumns +
                    QLatin1String(" FROM sensor_states WHERE serial_number = ?"
                                  " AND sensor_type = ? ORDER BY revision"),
                {sqlText(serialNumber), sqlText(sensorType)}, error))
        return false;
    states->clear();
    while (query.next())
        states->append(stateFrom(query));
    return true;
}

RegisterChange storeSensorState(Store &store, const QString &serialNumber,
                                const QString &sensorType, bool retired, const QString &reason)
{
    return appendRevision(
        store, QLatin1String("sensor_states"),
        {{QLatin1String("serial_number"), sqlText(serialNumber)},
         {QLatin1String("sensor_type"), sqlText(sensorType)}},
        {{QLatin1String("retired"), retired ? 1 : 0}, {QLatin1String("reason"), sqlText(reason)}});
}

bool intervalSettings(const Store &store, QHash<QString, IntervalSetting> *newest, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                newestOf(QLatin1String("intervals"), kIntervalColumns,
                         QLatin1String("m.serial_number = r.serial_number"
                                       " AND m.sensor_type = r.sensor_type")),
                {}, error))
        return false;
    newest->clear();
    while (query.next()) {
        const IntervalSetting setting = intervalFrom(query);
        newest->insert(sensorKey(setting.serialNumber, setting.sensorType), setting);
    }
    return true;
}

int intervalFor(const QHash<QString, IntervalSetting> &newest, const QString &serialNumber,
                const QString &sensorType)
{
    const auto own = newest.constFind(sensorKey(serialNumber, sensorType));
    if (!serialNumber.isEmpty() && own != newest.constEnd())
        return own->days;
    const auto type = newest.constFind(sensorKey(QString(), sensorType));
    return type != newest.constEnd() ? type->days : kDefaultIntervalDays;
}

bool intervalHistory(const Store &store, const QString &serialNumber, const QString &sensorType,
                     QList<IntervalSetting> *settings, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kIntervalColumns + QLatin1String(", ") + kStampColumns +
                    QLatin1String(" FROM intervals WHERE serial_number = ? AND sensor_type = ?"
                                  " ORDER BY revision"),
                {sqlText(serialNumber), sqlText(sensorType)}, error))
        return false;
    settings->clear();
    while (query.next())
        settings->append(intervalFrom(query));
    return true;
}

RegisterChange storeInterval(Store &store, const QString &serialNumber, const QString &sensorType,
                             int days, const QString &basis)
{
    return appendRevision(
        store, QLatin1String("intervals"),
        {{QLatin1String("sensor_type"), sqlText(sensorType)},
         {QLatin1String("serial_number"), sqlText(serialNumber)}},
        {{QLatin1String("days"), days}, {QLatin1String("basis"), sqlText(basis)}});
}

bool standards(const Store &store, QHash<QString, Standard> *newest, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                newestOf(QLatin1String("standards"), kStandardColumns,
                         QLatin1String("m.serial_number = r.serial_number")),
                {}, error))
        return false;
    newest->clear();
    while (query.next()) {
        const Standard standard = standardFrom(query);
        newest->insert(standard.serialNumber, standard);
    }
    return true;
}

bool standardHistory(const Store &store, const QString &serialNumber, QList<Standard> *revisions,
                     QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kStandardColumns + QLatin1String(", ") + kStampColumns +
                    QLatin1String(" FROM standards WHERE serial_number = ? ORDER BY revision"),
                {sqlText(serialNumber)}, error))
        return false;
    revisions->clear();
    while (query.next())
        revisions->append(standardFrom(query));
    return true;
}

RegisterChange storeStandard(Store &store, const Standard &standard)
{
    return appendRevision(
        store, QLatin1String("standards"),
        {{QLatin1String("serial_number"), sqlText(standard.serialNumber)}},
        {{QLatin1String("tip_kind"), standard.tipKind},
         {QLatin1String("certificate_number"), sqlText(standard.certificateNumber)},
         {QLatin1String("calibrated_on"), standard.calibratedOn.toString(Qt::ISODate)},
         {QLatin1String("due_on"), standard.dueOn.toString(Qt::ISODate)},
         {QLatin1String("withdrawn"), standard.withdrawn ? 1 : 0}});
}

StandardFindings standardFindings(const Run &run, const QHash<QString, Standard> &standards)
{
    StandardFindings findings;
    if (run.standardSerial.isEmpty())
        return findings;
    const auto standard = standards.constFind(run.standardSerial);
    if (standard == standards.constEnd()) {
        findings.unregistered = true;
        return findings;
    }
    const QDate day = run.localDate();
    findings.overdue = !standard->dueOn.isValid() || standard->dueOn < day ||
                       (standard->withdrawn && standard->stamp.recordedAt.isValid() &&
                        standard->stamp.recordedAt.toLocalTime().date() <= day);
    findings.kindDiffers = run.tipKind != 0 && run.tipKind != standard->tipKind;
    return findings;
}

QStringList standardFindingTexts(const Run &run, const QHash<QString, Standard> &standards)
{
    const StandardFindings findings = standardFindings(run, standards);
    QStringList texts;
    if (findings.unregistered)
        texts << tr("standard %1 is not registered").arg(run.standardSerial);
    if (findings.overdue) {
        const Standard &standard = standards[run.standardSerial];
        texts << (standard.withdrawn
                      ? tr("standard %1 was withdrawn").arg(run.standardSerial)
                      : tr("standard %1 was overdue (due %2)")
                            .arg(run.standardSerial, standard.dueOn.toString(Qt::ISODate)));
    }
    if (findings.kindDiffers)
        // One pass: a serial number holding "%3" is never filled in.
        texts << tr("the procedure used tip kind %1; standard %2 is of kind %3")
                     .arg(QString::number(run.tipKind), run.standardSerial,
                          QString::number(standards[run.standardSerial].tipKind));
    return texts;
}

QString standardRefusal(const Standard &standard, const QDate &today)
{
    const auto textProblem = [](const QString &text, const QString &what) {
        if (text.trimmed().isEmpty())
            return tr("the %1 is empty").arg(what);
        if (text.size() > kMaxStandardTextLength)
            return tr("the %1 is longer than %2 characters").arg(what).arg(kMaxStandardTextLength);
        if (text != text.trimmed())
            return tr("the %1 begins or ends with a blank").arg(what);
        for (const QChar c : text) {
            if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                c.isSurrogate() || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                return tr("the %1 holds a control character").arg(what);
        }
        return QString();
    };
    QString problem = textProblem(standard.serialNumber, tr("serial number"));
    if (problem.isEmpty())
        problem = textProblem(standard.certificateNumber, tr("certificate number"));
    if (!problem.isEmpty())
        return problem;
    if (!tipKindById(standard.tipKind))
        return tr("the tip kind is 1, 2 or 3");
    if (!standard.calibratedOn.isValid())
        return tr("the calibration date is not a date (yyyy-MM-dd)");
    if (!standard.dueOn.isValid())
        return tr("the due date is not a date (yyyy-MM-dd)");
    if (standard.calibratedOn > today)
        return tr("the calibration date %1 is in the future")
            .arg(standard.calibratedOn.toString(Qt::ISODate));
    if (standard.dueOn <= standard.calibratedOn)
        return tr("the due date %1 is not after the calibration date %2")
            .arg(standard.dueOn.toString(Qt::ISODate), standard.calibratedOn.toString(Qt::ISODate));
    return QString();
}

RegisterChange withdrawStandard(Store &store, const QString &serialNumber)
{
    RegisterChange change;
    QList<Standard> revisions;
    if (!standardHistory(store, serialNumber, &revisions, &change.reason))
        return change;
    change.kind = RegisterChange::Refused;
    if (revisions.isEmpty()) {
        change.reason = tr("no standard has the serial number %1").arg(serialNumber);
        return change;
    }
    Standard withdrawn = revisions.last();
    if (withdrawn.withdrawn) {
        change.reason = tr("standard %1 is withdrawn already").arg(serialNumber);
        return change;
    }
    withdrawn.withdrawn = true;
    return storeStandard(store, withdrawn);
}

bool standardRevisions(const Store &store, StandardRevisions *all, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kStandardColumns + QLatin1String(", ") + kStampColumns +
                    QLatin1String(" FROM standards ORDER BY serial_number, revision"),
                {}, error))
        return false;
    all->clear();
    while (query.next()) {
        const Standard standard = standardFrom(query);
        (*all)[standard.serialNumber].append(standard);
    }
    return true;
}

QHash<QString, Standard> newestStandards(const StandardRevisions &all)
{
    QHash<QString, Standard> newest;
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        if (!it->isEmpty())
            newest.insert(it.key(), it->last());
    }
    return newest;
}

QHash<QString, Standard> inForce(const Run &run, const StandardRevisions &all)
{
    const auto revisions = all.constFind(run.standardSerial);
    if (run.standardSerial.isEmpty() || revisions == all.constEnd() || revisions->isEmpty())
        return {};
    const Standard *held = &revisions->first();
    for (const Standard &revision : *revisions) {
        if (revision.stamp.recordedAt.isValid() && revision.stamp.recordedAt <= run.started)
            held = &revision;
    }
    return {{run.standardSerial, *held}};
}

StandardFindings standardFindingsAt(const Run &run, const StandardRevisions &all)
{
    return standardFindings(run, inForce(run, all));
}

QStringList standardFindingTextsAt(const Run &run, const StandardRevisions &all)
{
    return standardFindingTexts(run, inForce(run, all));
}

QString standardFindingLine(const Run &run, const StandardRevisions &all)
{
    return standardFindingTextsAt(run, all).join(QLatin1String("; "));
}

bool signaturesOf(const Store &store, const QString &runKey, QList<Signature> *signatures,
                  QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kSignatureColumns + QLatin1String(", ") + kStampColumns +
                    QLatin1String(" FROM signatures WHERE run_key = ? ORDER BY recorded_at"),
                {sqlText(runKey)}, error))
        return false;
    signatures->clear();
    while (query.next())
        signatures->append(signatureFrom(query));
    return true;
}

bool allSignatures(const Store &store, QHash<QString, QList<Signature>> *signatures, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kSignatureColumns + QLatin1String(", ") + kStampColumns +
                    QLatin1String(" FROM signatures ORDER BY recorded_at"),
                {}, error))
        return false;
    signatures->clear();
    while (query.next()) {
        const Signature signature = signatureFrom(query);
        (*signatures)[signature.runKey].append(signature);
    }
    return true;
}

RegisterChange storeSignature(Store &store, const QString &runKey, int runRevision,
                              const QString &meaning)
{
    RegisterChange change;
    QSqlDatabase db = store.database();
    if (!db.isOpen()) {
        change.reason = tr("the history is not open");
        return change;
    }
    QSqlQuery query(db);
    bool ok = query.prepare(QLatin1String("INSERT INTO signatures (run_key, run_revision,"
                                          " meaning, station, recorded_by, recorded_at)"
                                          " VALUES (?, ?, ?, ?, ?, ?)"));
    query.addBindValue(sqlText(runKey));
    query.addBindValue(runRevision);
    query.addBindValue(sqlText(meaning));
    query.addBindValue(sqlText(QSysInfo::machineHostName()));
    query.addBindValue(sqlText(loginName()));
    query.addBindValue(sqlText(QString()));
    ok = ok && query.exec();
    if (ok) {
        change.kind = RegisterChange::Done;
        change.revision = runRevision;
        return change;
    }
    // The database's own reason: who may not sign, or who may not approve.
    const QString text = query.lastError().databaseText();
    const qsizetype at = text.indexOf(QLatin1String("refused: "));
    if (at >= 0) {
        change.kind = RegisterChange::Refused;
        change.reason = text.mid(at + 9).section(u'\n', 0, 0).trimmed();
        return change;
    }
    change.reason = databaseFailure(store.location(), tr("the signature could not be stored"),
                                    query.lastError());
    return change;
}

bool signaturesOfSerial(const Store &store, const QString &serialNumber,
                        QHash<QString, QList<Signature>> *signatures, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kSignatureColumns + QLatin1String(", ") + kStampColumns +
                    QLatin1String(" FROM signatures WHERE run_key IN (SELECT run_key FROM"
                                  " run_revisions WHERE serial_number = ?) ORDER BY recorded_at"),
                {sqlText(serialNumber)}, error))
        return false;
    signatures->clear();
    while (query.next()) {
        const Signature signature = signatureFrom(query);
        (*signatures)[signature.runKey].append(signature);
    }
    return true;
}

bool unsignedRunCounts(const Store &store, QHash<QString, int> *counts, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                // Each run's newest revision by the absence of a newer one:
                // PostgreSQL looks the view's MAX() up per row (at fleet size
                // 0.4 s of the server's time on every refresh, not 0.1 s).
                QLatin1String("SELECT r.serial_number, r.sensor_type, COUNT(*) FROM run_revisions r"
                              " WHERE NOT EXISTS (SELECT 1 FROM run_revisions m"
                              " WHERE m.run_key = r.run_key AND m.revision > r.revision)"
                              " AND (COALESCE(r.ended, '') <> '' OR"
                              " COALESCE(r.record_date, '') <> '') AND NOT EXISTS (SELECT 1"
                              " FROM signatures s WHERE s.run_key = r.run_key)"
                              " GROUP BY r.serial_number, r.sensor_type"),
                {}, error))
        return false;
    counts->clear();
    while (query.next())
        counts->insert(sensorKey(query.value(0).toString(), query.value(1).toString()),
                       query.value(2).toInt());
    return true;
}

QString certificateNumber(int year, int count)
{
    return QStringLiteral("%1-%2-%3")
        .arg(QLatin1String(kCertificatePrefix))
        .arg(year, 4, 10, QLatin1Char('0'))
        .arg(count, kCertificateDigits, 10, QLatin1Char('0'));
}

QString contentDigest(const QString &content)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(content.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool certificatesOf(const Store &store, const QString &runKey, QList<Certificate> *certificates,
                    QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kCertificateColumns + QLatin1String(", ") +
                    kStampColumns +
                    QLatin1String(" FROM certificates WHERE run_key = ? ORDER BY number"),
                {sqlText(runKey)}, error))
        return false;
    certificates->clear();
    while (query.next())
        certificates->append(certificateFrom(query));
    return true;
}

bool newestCertificates(const Store &store, QHash<QString, Certificate> *newest, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT ") + kCertificateColumns + QLatin1String(", ") +
                    kStampColumns + QLatin1String(" FROM certificates ORDER BY number"),
                {}, error))
        return false;
    newest->clear();
    while (query.next()) {
        const Certificate certificate = certificateFrom(query);
        newest->insert(certificate.runKey, certificate);
    }
    return true;
}

RegisterChange storeCertificate(Store &store, Certificate *issued)
{
    const QString content = issued->content;
    return storeCertificate(store, issued, [&content](const QString &) { return content; });
}

RegisterChange storeCertificate(Store &store, Certificate *issued,
                                const std::function<QString(const QString &number)> &contentFor)
{
    RegisterChange change;
    QSqlDatabase db = store.database();
    if (!db.isOpen()) {
        change.reason = tr("the history is not open");
        return change;
    }
    const bool sqlite = isSQLite(store);
    QSqlError sqlError;
    for (int attempt = 0; attempt < kIssueAttempts; ++attempt) {
        if (!schema::begin(db, sqlite, &sqlError))
            break;
        QSqlQuery query(db);
        // The year by the database's clock, so stations that disagree on the
        // date never count one year twice.
        bool ok = query.exec(QLatin1String(
                      sqlite ? "SELECT CAST(strftime('%Y', 'now') AS INTEGER)"
                             : "SELECT CAST(EXTRACT(YEAR FROM clock_timestamp() AT TIME ZONE "
                               "'UTC') AS INTEGER)")) &&
                  query.next();
        const int year = ok ? query.value(0).toInt() : 0;
        const QString prefix = certificateNumber(year, 0).chopped(kCertificateDigits);
        ok = ok && query.prepare(QLatin1String(
                       "SELECT number FROM certificates WHERE number LIKE ? ORDER BY number DESC"
                       " LIMIT 1"));
        query.addBindValue(prefix + u'%');
        ok = ok && query.exec();
        int count = 0;
        if (ok && query.next())
            count = query.value(0).toString().mid(prefix.size()).toInt();
        if (ok) {
            issued->number = certificateNumber(year, count + 1);
            issued->content = contentFor(issued->number);
            issued->contentSha256 = contentDigest(issued->content);
            ok = query.prepare(QLatin1String(
                "INSERT INTO certificates (number, run_key, run_revision, signature_count,"
                " replaces, content, content_sha256, station, recorded_by, recorded_at)"
                " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
            query.addBindValue(issued->number);
            query.addBindValue(sqlText(issued->runKey));
            query.addBindValue(issued->runRevision);
            query.addBindValue(issued->signatureCount);
            query.addBindValue(sqlText(issued->replaces));
            query.addBindValue(issued->content);
            query.addBindValue(issued->contentSha256);
            query.addBindValue(sqlText(QSysInfo::machineHostName()));
            query.addBindValue(sqlText(loginName()));
            query.addBindValue(sqlText(QString()));
            ok = query.exec();
        }
        if (!ok)
            sqlError = query.lastError();
        query.finish();
        if (ok && schema::commit(db, &sqlError)) {
            change.kind = RegisterChange::Done;
            return change;
        }
        schema::rollback(db);
        // Another station took the number: count again.
    }
    change.reason =
        databaseFailure(store.location(), tr("the certificate could not be stored"), sqlError);
    return change;
}

bool registerSetting(const Store &store, const QString &name, QString *value, QString *error)
{
    QSqlQuery query(store.database());
    if (!select(store, query,
                QLatin1String("SELECT value FROM register_settings WHERE name = ?"
                              " ORDER BY revision DESC LIMIT 1"),
                {sqlText(name)}, error))
        return false;
    *value = query.next() ? query.value(0).toString() : QString();
    return true;
}

RegisterChange storeRegisterSetting(Store &store, const QString &name, const QString &value)
{
    return appendRevision(store, QLatin1String("register_settings"),
                          {{QLatin1String("name"), sqlText(name)}},
                          {{QLatin1String("value"), sqlText(value)}});
}

} // namespace history
