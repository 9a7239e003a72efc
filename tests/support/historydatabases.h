#pragma once

// What the history suites share: the two databases a test runs against (a
// fresh SQLite file, a fresh database on the PostgreSQL server that
// scripts/with-postgres.sh starts), sample runs with every field set, and a
// field-by-field comparison of runs.

#include "core/history/location.h"
#include "core/history/run.h"

#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

namespace historytest
{

inline constexpr char kPostgresVariable[] = "ZOLVEX_TEST_POSTGRES";
inline constexpr char kPasswordVariable[] = "ZOLVEX_TEST_POSTGRES_PASSWORD";
inline constexpr char kRequireVariable[] = "ZOLVEX_REQUIRE_POSTGRES";
inline constexpr char kScriptVariable[] = "ZOLVEX_TEST_POSTGRES_SCRIPT";
// The password role over TCP to a server that takes TLS connections only.
inline constexpr char kTlsVariable[] = "ZOLVEX_TEST_POSTGRES_TLS";

// Empty when the server is there; otherwise why not, and whether that fails
// the test (the test script always starts one) or only skips it.
QString postgresMissing(bool *required);

// For a PostgreSQL row: skips it without a server, or fails it when the
// server was required.
#define HISTORY_NEED_POSTGRES()                                                                    \
    do {                                                                                           \
        bool required_ = false;                                                                    \
        const QString missing_ = historytest::postgresMissing(&required_);                         \
        if (!missing_.isEmpty()) {                                                                 \
            if (required_)                                                                         \
                QFAIL(qPrintable(missing_));                                                       \
            QSKIP(qPrintable(missing_));                                                           \
        }                                                                                          \
    } while (false)

// A database of its own for one test: kind "sqlite" or "postgresql". A
// PostgreSQL one is created on the test server and dropped afterwards.
class TestDatabase
{
public:
    explicit TestDatabase(const QString &kind);
    ~TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    history::Location location() const { return location_; }
    // The location as text, for a program that takes one.
    QString url() const;
    QString folder() const { return dir_.path(); }

    // Runs SQL on a connection of the test's own, not the Store's.
    bool exec(const QStringList &statements, QString *error) const;
    // The first column of the first row of a query; invalid on failure.
    QVariant value(const QString &query) const;

private:
    QTemporaryDir dir_;
    history::Location location_;
    QString error_;
};

// Root writes into read-only folders whatever their mode. While this lives
// the calling thread, and every thread it starts, does without that
// privilege; it stays permitted and comes back at the end.
class WithoutFileOverride
{
public:
    WithoutFileOverride();
    ~WithoutFileOverride();
    WithoutFileOverride(const WithoutFileOverride &) = delete;
    WithoutFileOverride &operator=(const WithoutFileOverride &) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// A PostgreSQL server of the test's own, to stop and start again, made by
// scripts/with-postgres.sh (whose path the script exports).
class OwnServer
{
public:
    OwnServer() = default;
    ~OwnServer();
    OwnServer(const OwnServer &) = delete;
    OwnServer &operator=(const OwnServer &) = delete;
    // With `tcp`, it also listens on the loopback, without TLS.
    bool init(QString *error, bool tcp = false);
    bool stop(QString *error);
    bool start(QString *error);
    history::Location location() const { return location_; }
    // The password role over TCP, when made with `tcp`.
    history::Location tcpLocation() const { return tcpLocation_; }

private:
    bool run(const QStringList &args, QByteArray *out, QString *error);

    QString script_;
    QString folder_;
    history::Location location_;
    history::Location tcpLocation_;
};

// A history that cannot be written: "read-only folder" (an SQLite file in a
// folder nobody may write, root included while this lives), "corrupt file"
// (an SQLite file of garbage) or "server stopped" (a PostgreSQL server of
// its own, with a password role, stopped).
class UnwritableHistory
{
public:
    bool prepare(const QString &problem, const QString &folder, QString *error);
    // Puts it right, as an operator would.
    bool repair(QString *error);
    history::Location location() const { return location_; }

private:
    QString problem_;
    history::Location location_;
    std::unique_ptr<OwnServer> server_;
    std::unique_ptr<WithoutFileOverride> noOverride_;
};

// Creates a database on a server; false with a reason.
bool createPostgresDatabase(const history::Location &server, const QString &name, QString *error);
bool dropPostgresDatabase(const history::Location &server, const QString &name);

// Holds an ACCESS EXCLUSIVE lock on a table of a PostgreSQL history, on a
// connection of its own, as another station in the middle of a long write
// would. The lock goes with release() or this; should a test hang, the
// server ends the transaction after kIdleTimeout.
class TableLock
{
public:
    static constexpr char kIdleTimeout[] = "30s";

    explicit TableLock(const history::Location &server);
    ~TableLock();
    TableLock(const TableLock &) = delete;
    TableLock &operator=(const TableLock &) = delete;

    // Connects; false with a reason.
    bool open(QString *error);
    // Begins a transaction and locks the table (a name of the history's
    // schema); false with a reason.
    bool take(const QString &table, QString *error);
    // Ends the transaction; false when it could not.
    bool release();

private:
    history::Location server_;
    QString connection_;
};

// Runs with every field set, different for each seed; `sensor` picks the
// serial number.
history::Run sampleRun(int seed, const QString &sensor = QString());

// `run` as an imported record file of tip `tip` holds it: dated, of no type
// and no range, its first revision under `key`.
history::Run asRecord(history::Run run, const QString &key, int tip);

// Empty when every field of the two runs is the same (NaN equals NaN);
// otherwise the first field that differs.
QString runDifference(const history::Run &expected, const history::Run &actual);

} // namespace historytest
