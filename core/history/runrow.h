#pragma once

// A run and its row in the database, both ways, driven by the table of a
// run's fields: the insert and the select name the same columns in the same
// order, and the values are bound, never pasted.

#include "core/history/run.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace history
{

// The columns a run's row has, in the order the select reads them: the ones
// the program writes, then the ones the database sets.
QStringList runColumns();

// Appends a snapshot to run_revisions, with the database's own time and
// login as its recorded_at and recorded_by; a revision stored before is
// left as it was.
QString insertRunSql(bool sqlite);
// The values insertRunSql() binds, in its order. The last is the number the
// station gave the snapshot (`snapshot`), which the history keeps beside its
// own revision number: by default the run's revision.
QVariantList runValues(const Run &run);
QVariantList runValues(const Run &run, int snapshot);

// "SELECT <runColumns()> FROM <table> ", for a WHERE or ORDER BY to follow.
QString selectRunSql(const QString &table);
// The run on the query's current row of a selectRunSql() statement.
Run runFromRow(const QSqlQuery &query);

// A text bound as '' when null: the drivers bind a null QString as SQL NULL.
QVariant sqlText(const QString &value);
// A time as the columns hold it; invalid for an empty one.
QDateTime timeFrom(const QVariant &value);

} // namespace history
