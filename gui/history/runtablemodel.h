#pragma once

// One sensor's runs, one row each: when and where, how it ended, the readings
// as found and as left (coloured by verdict as the calibration screen colours
// its fields), the constants before and after, and who signed it off.

#include "core/history/register.h"
#include "core/history/run.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>

class QColor;

namespace history
{

class RunTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        Date,
        Station,
        Result,
        FoundHigh,
        FoundLow,
        SlopeBefore,
        OffsetBefore,
        SlopeAfter,
        OffsetAfter,
        LeftHigh,
        LeftLow,
        Standard, // the reference standard the run was made with, and the register's findings
        SignOff,
        ColumnCount
    };
    static constexpr int SortRole = Qt::UserRole;
    // A reading's verdict (an int of Verdict); none on the other columns.
    static constexpr int VerdictRole = Qt::UserRole + 1;

    explicit RunTableModel(QObject *parent = nullptr);

    void setRuns(const QList<Run> &runs); // oldest first, as the store gives them
    const QList<Run> &runs() const { return runs_; }
    // The runs' signatures by run key, for the next runs set.
    void setSignatures(const QHash<QString, QList<Signature>> &signatures);
    // The register's standards the runs are judged against; until they are
    // given, the runs' standards are shown without a finding.
    void setStandards(const history::StandardRevisions &standards);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<Run> runs_;
    QHash<QString, QList<Signature>> signatures_;
    history::StandardRevisions standards_;
    bool standardsKnown_ = false;
};

// A run's standard as the window shows it: its serial number, and what the
// register finds of it in words; empty when it names none.
QString standardText(const Run &run, const StandardRevisions *standards);
// The background of a standard with a finding.
QVariant findingBackground();

// The background the calibration screen gives a reading field: green when the
// reading lies in its window, red when not; none without a verdict.
QVariant verdictBackground(Verdict verdict);

// The constants a run left in the sensor: the new ones only when they were
// saved; a run that kept or restored the old ones changed nothing.
bool changedConstants(const Run &run);
// The slope in force after a run, as text.
QString slopeAfter(const Run &run);

// "Recalibrated and saved", with the step or phase where one was recorded.
QString resultText(const Run &run);

} // namespace history
