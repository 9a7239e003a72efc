#include "gui/history/sensorfilter.h"

#include "gui/history/sensorlistmodel.h"

namespace history
{

SensorFilter::SensorFilter(QObject *parent) : QSortFilterProxyModel(parent)
{
    setFilterCaseSensitivity(Qt::CaseInsensitive);
    setSortRole(SensorListModel::SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
}

void SensorFilter::setSourceModel(QAbstractItemModel *sourceModel)
{
    sensors_ = qobject_cast<const SensorListModel *>(sourceModel);
    QSortFilterProxyModel::setSourceModel(sourceModel);
}

bool SensorFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QRegularExpression pattern = filterRegularExpression();
    if (pattern.pattern().isEmpty())
        return true;
    for (int column : {SensorListModel::Serial, SensorListModel::Type}) {
        const QString text =
            sensors_ ? sensors_->text(sourceRow, column)
                     : sourceModel()->index(sourceRow, column, sourceParent).data().toString();
        if (pattern.match(text).hasMatch())
            return true;
    }
    return false;
}

} // namespace history

namespace history
{

bool SensorFilter::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    if (!sensors_)
        return QSortFilterProxyModel::lessThan(left, right);
    const SensorSummary &l = sensors_->sensor(left.row());
    const SensorSummary &r = sensors_->sensor(right.row());
    // Retired sensors come after the others, and rows that are never due
    // (no serial number, type unknown) last.
    const auto rank = [](const SensorSummary &s) {
        return !s.hasSerial() || s.typeUnknown ? 2 : s.retired ? 1 : 0;
    };
    const bool leftNone = rank(l) == 2;
    if (rank(l) != rank(r)) {
        // A descending sort turns the answer round: give it the other way.
        return sortOrder() == Qt::AscendingOrder ? rank(l) < rank(r) : rank(l) > rank(r);
    }
    if (leftNone && left.column() == SensorListModel::NextDue)
        return l.sensorType < r.sensorType;
    return sensors_->lessThan(left.row(), right.row(), left.column());
}

} // namespace history
