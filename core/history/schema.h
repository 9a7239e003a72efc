#pragma once

// The history's schema: its versions and the migrations between them, the
// reading of a database's version, and the transactions the migrations and
// the store's writes run in.

#include "core/history/location.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace history::schema
{

// The newest version the migrations lead to (Store::kSchemaVersion).
int latestVersion();

// The schema version of the database; 0 when it has none yet.
bool readVersion(QSqlDatabase &db, bool sqlite, int *version, QSqlError *error);
// Why a database of a newer program is refused.
QString newerSchema(const Location &location, int version);
// Brings the database from `version` to the latest, each version in a
// transaction of its own, one station at a time; false with a reason,
// and a failed version leaves the database as it was before it.
bool migrate(QSqlDatabase &db, const Location &location, int version, QString *error);

// Opens a transaction: for writes on SQLite an immediate one, which takes
// the write lock at once (waiting for it as long as the busy timeout), so
// that it never fails half-way for lack of it.
bool begin(QSqlDatabase &db, bool sqlite, QSqlError *error);
// Ends it; on failure it is rolled back.
bool commit(QSqlDatabase &db, QSqlError *error);
void rollback(QSqlDatabase &db);

} // namespace history::schema
