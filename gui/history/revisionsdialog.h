#pragma once

// Every stored revision of one run, oldest first (the newest is the run as
// the history shows it): when the database recorded it, from which station,
// by whom, how the run stood and its readings.

#include "core/history/register.h"
#include "core/history/run.h"

#include <QDialog>
#include <QList>

class QTableWidget;

namespace history
{

class RevisionsDialog : public QDialog
{
    Q_OBJECT

public:
    enum Column {
        Revision,
        Recorded,
        Station,
        Operator,
        Login, // who the database saw store it
        Result,
        FoundHigh,
        FoundLow,
        LeftHigh,
        LeftLow,
        Standard,
        ColumnCount
    };

    // `error`, when not empty, says why the list may be incomplete;
    // `standards`, when given, the register the runs' standards are judged
    // against.
    RevisionsDialog(const QList<Run> &revisions, const QString &error, QWidget *parent = nullptr,
                    const history::StandardRevisions *standards = nullptr);

    QTableWidget *table() const { return table_; }

private:
    QTableWidget *table_ = nullptr;
};

} // namespace history
