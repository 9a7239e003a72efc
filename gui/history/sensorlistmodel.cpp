#include "gui/history/sensorlistmodel.h"

#include <QApplication>
#include <QBrush>
#include <QFont>
#include <QStyle>

#include <algorithm>

namespace history
{

namespace
{
constexpr char kDateFormat[] = "yyyy-MM-dd";
constexpr char kDateTimeFormat[] = "yyyy-MM-dd HH:mm";
} // namespace

QString dateText(const QDate &date)
{
    return date.isValid() ? date.toString(QLatin1String(kDateFormat)) : QString();
}

QString dateTimeText(const QDateTime &utc)
{
    return utc.isValid() ? utc.toLocalTime().toString(QLatin1String(kDateTimeFormat)) : QString();
}

SensorListModel::SensorListModel(QObject *parent)
    : QAbstractTableModel(parent), today_(QDate::currentDate())
{
}

void SensorListModel::setSensors(const QList<SensorSummary> &sensors)
{
    beginResetModel();
    sensors_ = sensors;
    computeDueDates();
    endResetModel();
}

void SensorListModel::setIntervalDays(int days)
{
    intervalDays_ = days;
    computeDueDates();
    if (!sensors_.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void SensorListModel::setToday(const QDate &today)
{
    today_ = today;
    computeDueDates();
    if (!sensors_.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void SensorListModel::computeDueDates()
{
    due_.clear();
    due_.reserve(sensors_.size());
    for (const SensorSummary &s : sensors_)
        due_.append({nextDue(s, intervalDays_, today_), overdue(s, intervalDays_, today_)});
}

int SensorListModel::rowOfSerial(const QString &serialNumber) const
{
    for (int row = 0; row < sensors_.size(); ++row) {
        if (sensors_.at(row).serialNumber == serialNumber)
            return row;
    }
    return -1;
}

int SensorListModel::overdueCount() const
{
    return int(std::count_if(due_.cbegin(), due_.cend(), [](const Due &d) { return d.overdue; }));
}

int SensorListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(sensors_.size());
}

int SensorListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString SensorListModel::displayText(int row, int column) const
{
    const SensorSummary &s = sensors_.at(row);
    switch (column) {
    case Serial:
        return s.serialNumber.isEmpty() ? tr("(none)") : s.serialNumber;
    case Type:
        return s.sensorType;
    case Runs:
        return QString::number(s.runs);
    case LastValidation:
        return s.lastValidation.isValid() ? dateText(s.lastValidation.toLocalTime().date())
                                          : tr("never");
    case LastOutcome:
        return s.runs > 0 ? outcomeText(s.lastOutcome) : QString();
    case NextDue: {
        const Due &due = due_.at(row);
        if (!s.lastValidation.isValid())
            return tr("%1, never validated").arg(dateText(due.date));
        if (due.overdue)
            return tr("%1, overdue").arg(dateText(due.date));
        return dateText(due.date);
    }
    }
    return QString();
}

QVariant SensorListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= sensors_.size())
        return QVariant();
    const int row = index.row();
    const SensorSummary &s = sensors_.at(row);
    const bool late = due_.at(row).overdue;
    switch (role) {
    case Qt::DisplayRole:
        return displayText(row, index.column());
    case SortRole:
        switch (index.column()) {
        case Runs:
            return s.runs;
        case LastValidation:
            return s.lastValidation;
        case NextDue:
            return due_.at(row).date;
        default:
            return displayText(row, index.column());
        }
    case OverdueRole:
        return late;
    case SerialRole:
        return s.serialNumber;
    case Qt::ForegroundRole:
        return late ? QVariant(QBrush(Qt::red)) : QVariant();
    case Qt::FontRole:
        if (late) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return QVariant();
    case Qt::DecorationRole:
        if (late && index.column() == Serial)
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        return QVariant();
    case Qt::ToolTipRole:
        if (index.column() == LastOutcome)
            return displayText(row, LastOutcome);
        if (late)
            return tr("Overdue: the last validation is more than %1 days old.").arg(intervalDays_);
        return QVariant();
    case Qt::TextAlignmentRole:
        if (index.column() == Runs)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    }
    return QVariant();
}

QVariant SensorListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Serial:
        return tr("Serial number");
    case Type:
        return tr("Type");
    case Runs:
        return tr("Runs");
    case LastValidation:
        return tr("Last validation");
    case LastOutcome:
        return tr("Last outcome");
    case NextDue:
        return tr("Next due");
    }
    return QVariant();
}

} // namespace history
