#include "gui/history/runtablemodel.h"

#include "gui/history/sensorlistmodel.h"

#include "core/history/certificate.h"

#include <QBrush>
#include <QFont>

namespace history
{

namespace
{

bool isLeftColumn(int column)
{
    return column == RunTableModel::LeftHigh || column == RunTableModel::LeftLow;
}

// The reading a column shows; none in the as-left columns when the sensor did
// not keep the constants they were taken with.
const Reading *readingOf(const Run &run, int column)
{
    switch (column) {
    case RunTableModel::FoundHigh:
        return &run.foundHigh;
    case RunTableModel::FoundLow:
        return &run.foundLow;
    case RunTableModel::LeftHigh:
        return verificationHeld(run) ? &run.leftHigh : nullptr;
    case RunTableModel::LeftLow:
        return verificationHeld(run) ? &run.leftLow : nullptr;
    }
    return nullptr;
}

} // namespace

QVariant verdictBackground(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return QBrush(Qt::green);
    case Verdict::Fail:
        return QBrush(Qt::red);
    case Verdict::None:
        break;
    }
    return QVariant();
}

bool changedConstants(const Run &run)
{
    return run.outcome == Outcome::Recalibrated && !run.newSlope.isEmpty();
}

QString slopeAfter(const Run &run)
{
    return changedConstants(run) ? run.newSlope : run.oldSlope;
}

QString resultText(const Run &run)
{
    QString text = shownOutcomeText(run);
    if (!run.outcomeDetail.isEmpty())
        text = RunTableModel::tr("%1 (%2)").arg(text, run.outcomeDetail);
    if (run.unsavedConstants)
        text = RunTableModel::tr("%1; the sensor may hold unsaved constants").arg(text);
    return text;
}

QString standardText(const Run &run, const StandardRevisions *standards)
{
    const QString findings = standards ? standardFindingLine(run, *standards) : QString();
    return findings.isEmpty() ? run.standardSerial
                              : RunTableModel::tr("%1: %2").arg(run.standardSerial, findings);
}

QVariant findingBackground()
{
    return QBrush(QColor(255, 190, 60));
}

RunTableModel::RunTableModel(QObject *parent) : QAbstractTableModel(parent)
{
}

void RunTableModel::setStandards(const history::StandardRevisions &standards)
{
    standards_ = standards;
    standardsKnown_ = true;
    if (!runs_.isEmpty())
        emit dataChanged(index(0, Standard), index(int(runs_.size()) - 1, Standard));
}

void RunTableModel::setRuns(const QList<Run> &runs)
{
    beginResetModel();
    runs_ = runs;
    endResetModel();
}

void RunTableModel::setSignatures(const QHash<QString, QList<Signature>> &signatures)
{
    signatures_ = signatures;
}

int RunTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(runs_.size());
}

int RunTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RunTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= runs_.size())
        return QVariant();
    const Run &run = runs_.at(index.row());
    const int column = index.column();
    const Reading *reading = readingOf(run, column);
    const bool changed = changedConstants(run);

    if (role == Qt::DisplayRole) {
        if (reading)
            return reading->text;
        if (isLeftColumn(column))
            return QString();
        switch (column) {
        case Date:
            return runDateText(run);
        case Station:
            return run.source == Source::Import ? tr("record file") : run.station;
        case Result:
            return resultText(run);
        case SlopeBefore:
            return run.oldSlope;
        case OffsetBefore:
            return run.oldOffset;
        case SlopeAfter:
            return changed ? run.newSlope : QString();
        case OffsetAfter:
            return changed ? run.newOffset : QString();
        case SignOff:
            return signOffText(signatures_.value(run.key));
        case Standard:
            return standardText(run, standardsKnown_ ? &standards_ : nullptr);
        }
        return QVariant();
    }
    const bool finding =
        column == Standard && standardsKnown_ && standardFindingsAt(run, standards_).any();
    if (role == SortRole) {
        if (reading)
            return reading->text.isEmpty() ? QVariant() : QVariant(reading->value);
        if (isLeftColumn(column))
            return QVariant();
        if (column == Date)
            return run.started;
        if (column >= SlopeBefore && column <= OffsetAfter) {
            // Constants as numbers; one that is none, or not a number, sorts apart.
            bool ok = false;
            const double value = data(index, Qt::DisplayRole).toString().toDouble(&ok);
            return ok ? QVariant(value) : QVariant();
        }
        return data(index, Qt::DisplayRole);
    }
    if (role == Qt::BackgroundRole)
        return reading ? verdictBackground(reading->verdict)
                       : (finding ? findingBackground() : QVariant());
    if (role == VerdictRole)
        return reading ? QVariant(int(reading->verdict)) : QVariant();
    if (role == Qt::ToolTipRole) {
        if (reading && reading->verdict != Verdict::None)
            return plainToolTip(tr("Window %1 to %2 %3")
                                    .arg(reading->windowLow)
                                    .arg(reading->windowHigh)
                                    .arg(run.unit));
        if (isLeftColumn(column) && !reading) {
            const QString notKept = verificationNotKept(run);
            return notKept.isEmpty() ? QVariant() : QVariant(plainToolTip(notKept));
        }
        if (column == Station && run.source == Source::Import)
            return plainToolTip(run.recordPath);
        if (column == Station)
            return plainToolTip(tr("%1, operator %2").arg(run.station, run.operatorName));
        if (column == Result)
            return plainToolTip(resultText(run));
        if (finding)
            return plainToolTip(standardFindingTextsAt(run, standards_).join(u'\n'));
        if (column == Date && run.ended.isValid() && !run.dateOnly())
            return tr("Ended %1").arg(dateTimeText(run.ended));
        if (column == Date && run.dateOnly())
            return tr("From a record file, which gives the date alone");
        return QVariant();
    }
    if (role == Qt::FontRole && column == Station && run.source == Source::Import) {
        QFont italic;
        italic.setItalic(true);
        return italic;
    }
    if (role == Qt::TextAlignmentRole && column >= FoundHigh && column != Standard)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

QVariant RunTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Date:
        return tr("Date");
    case Station:
        return tr("Station");
    case Result:
        return tr("Outcome");
    case FoundHigh:
        return tr("As found\nhigh");
    case FoundLow:
        return tr("As found\nlow");
    case SlopeBefore:
        return tr("Slope\nbefore");
    case OffsetBefore:
        return tr("Offset\nbefore");
    case SlopeAfter:
        return tr("Slope\nafter");
    case OffsetAfter:
        return tr("Offset\nafter");
    case LeftHigh:
        return tr("As left\nhigh");
    case LeftLow:
        return tr("As left\nlow");
    case SignOff:
        return tr("Sign-off");
    case Standard:
        return tr("Standard");
    }
    return QVariant();
}

} // namespace history
