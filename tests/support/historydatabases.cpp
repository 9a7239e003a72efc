#include "tests/support/historydatabases.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <cmath>
#include <tuple>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

using history::Location;
using history::Reading;
using history::Run;

namespace historytest
{

namespace
{
QString connectionName()
{
    static int count = 0;
    return QStringLiteral("historytest-%1").arg(++count);
}

// Runs statements on a connection opened for the purpose; the first
// column of the last one's first row goes to `value`.
bool execOn(const Location &location, const QStringList &statements, QString *error,
            QVariant *value = nullptr)
{
    const QString name = connectionName();
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(
            location.kind == Location::Kind::SQLite ? "QSQLITE" : "QPSQL", name);
        if (location.kind == Location::Kind::SQLite) {
            db.setDatabaseName(location.path);
        } else {
            db.setHostName(location.host);
            db.setPort(location.port);
            db.setDatabaseName(location.database);
            db.setUserName(location.user);
            db.setPassword(location.password);
        }
        if (!db.open()) {
            *error = db.lastError().text();
            ok = false;
        }
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            if (!ok)
                break;
            if (!query.exec(statement)) {
                *error = statement + ": " + query.lastError().text();
                ok = false;
            } else if (value) {
                *value = query.next() ? query.value(0) : QVariant();
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

Location postgresServer(QString *error)
{
    Location server;
    if (!history::parseLocation(qEnvironmentVariable(kPostgresVariable), &server, error))
        *error = QStringLiteral("%1 is no location: %2").arg(kPostgresVariable, *error);
    return server;
}
} // namespace

QString postgresMissing(bool *required)
{
    *required = qEnvironmentVariable(kRequireVariable) == QLatin1String("1");
    if (!qEnvironmentVariableIsEmpty(kPostgresVariable))
        return QString();
    return QStringLiteral("%1 is not set: no PostgreSQL server (run the tests under "
                          "scripts/with-postgres.sh)%2")
        .arg(kPostgresVariable,
             *required ? QStringLiteral(", and %1=1 requires one").arg(kRequireVariable)
                       : QString());
}

bool createPostgresDatabase(const Location &server, const QString &name, QString *error)
{
    Location admin = server;
    admin.database = QStringLiteral("postgres");
    return execOn(admin, {QStringLiteral("CREATE DATABASE %1").arg(name)}, error);
}

bool dropPostgresDatabase(const Location &server, const QString &name)
{
    Location admin = server;
    admin.database = QStringLiteral("postgres");
    QString error;
    return execOn(admin, {QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name)},
                  &error);
}

TableLock::TableLock(const Location &server)
    : server_(server), connection_(QStringLiteral("table-lock-%1").arg(quintptr(this)))
{
}

TableLock::~TableLock()
{
    release();
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
}

bool TableLock::open(QString *error)
{
    QSqlDatabase holder = QSqlDatabase::addDatabase("QPSQL", connection_);
    holder.setHostName(server_.host);
    holder.setPort(server_.port);
    holder.setDatabaseName(server_.database);
    holder.setUserName(server_.user);
    holder.setPassword(server_.password);
    if (!holder.open()) {
        *error = holder.lastError().text();
        return false;
    }
    QSqlQuery query(holder);
    if (!query.exec(QStringLiteral("SET idle_in_transaction_session_timeout = '%1'")
                        .arg(QLatin1String(kIdleTimeout)))) {
        *error = query.lastError().text();
        return false;
    }
    return true;
}

bool TableLock::take(const QString &table, QString *error)
{
    // A name cannot be bound: only plain ones are taken.
    if (!QRegularExpression("^[a-z_]+$").match(table).hasMatch()) {
        *error = "not a table name: " + table;
        return false;
    }
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec("BEGIN") || !query.exec("LOCK TABLE " + table + " IN ACCESS EXCLUSIVE MODE")) {
        *error = query.lastError().text();
        return false;
    }
    return true;
}

bool TableLock::release()
{
    QSqlDatabase holder = QSqlDatabase::database(connection_, false);
    return holder.isOpen() && QSqlQuery(holder).exec("ROLLBACK");
}

TestDatabase::TestDatabase(const QString &kind)
{
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return;
    }
    if (kind == QLatin1String("sqlite")) {
        location_.kind = Location::Kind::SQLite;
        location_.path = dir_.filePath(QStringLiteral("history.sqlite"));
        return;
    }
    const Location server = postgresServer(&error_);
    if (!error_.isEmpty())
        return;
    location_ = server;
    location_.database =
        QStringLiteral("zolvex_t_%1")
            .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    createPostgresDatabase(server, location_.database, &error_);
}

TestDatabase::~TestDatabase()
{
    if (location_.kind == Location::Kind::PostgreSQL && !location_.database.isEmpty())
        dropPostgresDatabase(location_, location_.database);
}

QString TestDatabase::url() const
{
    if (location_.kind == Location::Kind::SQLite)
        return QStringLiteral("sqlite:") + location_.path;
    const auto enc = [](const QString &text) {
        return QString::fromLatin1(QUrl::toPercentEncoding(text));
    };
    QString userInfo = enc(location_.user);
    if (!location_.password.isEmpty())
        userInfo += u':' + enc(location_.password);
    // Concatenated: the encoded folder is full of "%2F", which arg() would take
    // for a place to fill.
    return "postgresql://" + userInfo + "@/" + enc(location_.database) +
           "?host=" + enc(location_.host) + "&port=" + QString::number(location_.port);
}

bool TestDatabase::exec(const QStringList &statements, QString *error) const
{
    return execOn(location_, statements, error);
}

QVariant TestDatabase::value(const QString &query) const
{
    QString error;
    QVariant value;
    if (!execOn(location_, {query}, &error, &value))
        qWarning("%s", qPrintable(error));
    return value;
}

Run asRecord(Run run, const QString &key, int tip)
{
    run.key = key;
    run.revision = 1;
    run.source = history::Source::Import;
    run.date = run.started.date();
    run.sensorType.clear();
    run.range.clear();
    run.tipKind = tip;
    run.unit = tip == 1 ? "pS/m" : "pS/cm";
    return run;
}

Run sampleRun(int seed, const QString &sensor)
{
    const auto reading = [seed](double value, double low, double high, history::Verdict verdict) {
        Reading r;
        r.text = QString::number(value + seed, 'f', 1);
        r.value = value + seed;
        r.windowLow = low;
        r.windowHigh = high;
        r.verdict = verdict;
        return r;
    };
    Run run;
    run.key =
        QStringLiteral("{6a1f0c2e-%1-4c55-9d1e-3b7a51c2e9f0}").arg(seed, 4, 10, QLatin1Char('0'));
    run.revision = 2 + seed % 3;
    run.source = seed % 2 ? history::Source::Import : history::Source::Station;
    run.started =
        QDateTime(QDate(2026, 3, 1 + seed % 27), QTime(8, 15, 30, 125), Qt::UTC).addSecs(seed * 60);
    run.ended = run.started.addSecs(900 + seed);
    run.station = QStringLiteral("bench-%1.orvane.example").arg(seed);
    run.operatorName = QStringLiteral("tech%1").arg(seed);
    // Imports name their day only.
    if (run.source == history::Source::Import)
        run.date = run.started.date();
    run.sensorType = QStringLiteral("RT-5K-MQ");
    run.serialNumber =
        sensor.isEmpty() ? QStringLiteral("40317-%1").arg(seed, 5, 10, QLatin1Char('0')) : sensor;
    run.firmware = QStringLiteral("Version 2.1%1").arg(seed % 10);
    run.range = QStringLiteral("2000");
    run.tipKind = 1 + seed % 3;
    run.unit = seed % 2 ? QStringLiteral("pS/cm") : QStringLiteral("pS/m");
    run.oldSlope = QStringLiteral("1.0%1").arg(seed);
    run.oldOffset = QStringLiteral("-0.0%1").arg(seed);
    run.foundHigh = reading(604.25, 500, 550, history::Verdict::Fail);
    run.foundLow = reading(230.5, 190, 210, history::Verdict::Fail);
    run.meanCounts = 201234.5 + seed;
    run.newSlope = QStringLiteral("0.869%1").arg(seed);
    run.newOffset = QStringLiteral("0.0120%1").arg(seed);
    run.leftHigh = reading(524.75, 500, 550, history::Verdict::Pass);
    run.leftLow = reading(199.125, 190, 210, history::Verdict::Pass);
    run.outcome = history::Outcome::Recalibrated;
    // Texts a careless writer would break: quotes, commas, line ends, accents.
    run.outcomeDetail = QStringLiteral("step \"%1\", then\r\nretry; O'Brien — Übung").arg(seed);
    run.unsavedConstants = seed % 2 == 0;
    run.recordPath = QStringLiteral("/home/tech/records/40317 %1, copy.txt").arg(seed);
    run.recordDigest = QString(64, QLatin1Char("0123456789abcdef"[seed % 16]));
    run.standardSerial = QStringLiteral("VT-%1").arg(seed % 4);
    return run;
}

namespace
{
bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

QString readingDifference(const char *name, const Reading &a, const Reading &b)
{
    if (a.text != b.text)
        return QStringLiteral("%1.text: %2 / %3").arg(name, a.text, b.text);
    if (!sameNumber(a.value, b.value))
        return QStringLiteral("%1.value: %2 / %3").arg(name).arg(a.value).arg(b.value);
    if (!sameNumber(a.windowLow, b.windowLow))
        return QStringLiteral("%1.windowLow: %2 / %3").arg(name).arg(a.windowLow).arg(b.windowLow);
    if (!sameNumber(a.windowHigh, b.windowHigh))
        return QStringLiteral("%1.windowHigh: %2 / %3")
            .arg(name)
            .arg(a.windowHigh)
            .arg(b.windowHigh);
    if (a.verdict != b.verdict)
        return QStringLiteral("%1.verdict: %2 / %3")
            .arg(name)
            .arg(int(a.verdict))
            .arg(int(b.verdict));
    return QString();
}
} // namespace

QString runDifference(const Run &a, const Run &b)
{
#define HISTORY_SAME(field)                                                                        \
    if (a.field != b.field)                                                                        \
        return QStringLiteral(#field ": %1 / %2")                                                  \
            .arg(QVariant::fromValue(a.field).toString(),                                          \
                 QVariant::fromValue(b.field).toString());
    HISTORY_SAME(key)
    HISTORY_SAME(revision)
    HISTORY_SAME(started)
    HISTORY_SAME(date)
    HISTORY_SAME(operatorName)
    HISTORY_SAME(ended)
    HISTORY_SAME(station)
    HISTORY_SAME(sensorType)
    HISTORY_SAME(serialNumber)
    HISTORY_SAME(firmware)
    HISTORY_SAME(range)
    HISTORY_SAME(tipKind)
    HISTORY_SAME(unit)
    HISTORY_SAME(oldSlope)
    HISTORY_SAME(oldOffset)
    HISTORY_SAME(newSlope)
    HISTORY_SAME(newOffset)
    HISTORY_SAME(outcomeDetail)
    HISTORY_SAME(unsavedConstants)
    HISTORY_SAME(recordPath)
    HISTORY_SAME(recordDigest)
    HISTORY_SAME(standardSerial)
#undef HISTORY_SAME
    if (a.source != b.source)
        return QStringLiteral("source: %1 / %2").arg(int(a.source)).arg(int(b.source));
    if (a.outcome != b.outcome)
        return QStringLiteral("outcome: %1 / %2")
            .arg(history::outcomeName(a.outcome), history::outcomeName(b.outcome));
    if (a.meanCounts.has_value() != b.meanCounts.has_value() ||
        (a.meanCounts && !sameNumber(*a.meanCounts, *b.meanCounts)))
        return QStringLiteral("meanCounts: %1 / %2")
            .arg(a.meanCounts ? QString::number(*a.meanCounts) : QStringLiteral("none"),
                 b.meanCounts ? QString::number(*b.meanCounts) : QStringLiteral("none"));
    for (const auto &[name, ra, rb] : {std::tuple{"foundHigh", a.foundHigh, b.foundHigh},
                                       std::tuple{"foundLow", a.foundLow, b.foundLow},
                                       std::tuple{"leftHigh", a.leftHigh, b.leftHigh},
                                       std::tuple{"leftLow", a.leftLow, b.leftLow}}) {
        const QString difference = readingDifference(name, ra, rb);
        if (!difference.isEmpty())
            return difference;
    }
    return QString();
}

struct WithoutFileOverride::Saved {
    __user_cap_header_struct header{};
    __user_cap_data_struct data[2]{};
};

WithoutFileOverride::WithoutFileOverride()
{
    if (geteuid() != 0)
        return;
    auto saved = std::make_unique<Saved>();
    saved->header.version = _LINUX_CAPABILITY_VERSION_3;
    saved->header.pid = 0;
    if (syscall(SYS_capget, &saved->header, saved->data) != 0)
        return;
    __user_cap_data_struct reduced[2] = {saved->data[0], saved->data[1]};
    reduced[0].effective &=
        ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    if (syscall(SYS_capset, &saved->header, reduced) == 0)
        saved_ = std::move(saved);
}

WithoutFileOverride::~WithoutFileOverride()
{
    if (saved_)
        syscall(SYS_capset, &saved_->header, saved_->data);
}

OwnServer::~OwnServer()
{
    if (!folder_.isEmpty()) {
        QByteArray out;
        QString error;
        run({"--remove", folder_}, &out, &error);
    }
}

bool OwnServer::init(QString *error, bool tcp)
{
    script_ = qEnvironmentVariable(kScriptVariable);
    if (script_.isEmpty()) {
        *error = QStringLiteral("%1 is not set").arg(kScriptVariable);
        return false;
    }
    QByteArray out;
    if (!run(tcp ? QStringList{"--init", "--tcp"} : QStringList{"--init"}, &out, error))
        return false;
    const QList<QByteArray> lines = out.trimmed().split('\n');
    if (lines.size() != (tcp ? 3 : 2)) {
        *error = "unexpected output: " + QString::fromUtf8(out);
        return false;
    }
    folder_ = QString::fromUtf8(lines.at(0));
    if (tcp && !history::parseLocation(QString::fromUtf8(lines.at(2)), &tcpLocation_, error))
        return false;
    return history::parseLocation(QString::fromUtf8(lines.at(1)), &location_, error);
}

bool OwnServer::stop(QString *error)
{
    QByteArray out;
    return run({"--stop", folder_}, &out, error);
}

bool OwnServer::start(QString *error)
{
    QByteArray out;
    return run({"--start", folder_}, &out, error);
}

bool OwnServer::run(const QStringList &args, QByteArray *out, QString *error)
{
    QProcess process;
    process.start("bash", QStringList{script_} + args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = QStringLiteral("with-postgres.sh %1 failed: %2")
                     .arg(args.join(' '), QString::fromUtf8(process.readAllStandardError()));
        return false;
    }
    *out = process.readAllStandardOutput();
    return true;
}

bool UnwritableHistory::prepare(const QString &problem, const QString &folder, QString *error)
{
    problem_ = problem;
    location_ = Location();
    if (problem == QLatin1String("read-only folder")) {
        const QString readOnly = folder + QStringLiteral("/readonly");
        if (!QDir().mkpath(readOnly) ||
            !QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner)) {
            *error = QStringLiteral("cannot make %1 read-only").arg(readOnly);
            return false;
        }
        location_.path = readOnly + QStringLiteral("/history.sqlite");
        noOverride_ = std::make_unique<WithoutFileOverride>();
        QFile probe(readOnly + QStringLiteral("/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("the folder is writable after all");
            return false;
        }
        return true;
    }
    if (problem == QLatin1String("corrupt file")) {
        location_.path = folder + QStringLiteral("/history.sqlite");
        QFile file(location_.path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QByteArray("\x13\x37garbage, not a database\n").repeated(300)) < 0) {
            *error = file.errorString();
            return false;
        }
        return true;
    }
    server_ = std::make_unique<OwnServer>();
    if (!server_->init(error))
        return false;
    // As a shared database is reached: a role with a password.
    Location withPassword;
    if (!history::parseLocation(qEnvironmentVariable(kPasswordVariable), &withPassword, error))
        return false;
    location_ = server_->location();
    location_.user = withPassword.user;
    location_.password = withPassword.password;
    return server_->stop(error);
}

bool UnwritableHistory::repair(QString *error)
{
    noOverride_.reset();
    if (problem_ == QLatin1String("read-only folder"))
        return QFile::setPermissions(QFileInfo(location_.path).path(),
                                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (problem_ == QLatin1String("corrupt file"))
        return QFile::remove(location_.path);
    return server_->start(error);
}

} // namespace historytest
