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

bool SensorFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QRegularExpression &pattern = filterRegularExpression();
    if (pattern.pattern().isEmpty())
        return true;
    for (int column : {SensorListModel::Serial, SensorListModel::Type}) {
        const QModelIndex index = sourceModel()->index(sourceRow, column, sourceParent);
        if (pattern.match(index.data(Qt::DisplayRole).toString()).hasMatch())
            return true;
    }
    return false;
}

} // namespace history

namespace history
{

bool SensorFilter::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const bool leftNone = left.data(SensorListModel::SerialRole).toString().isEmpty();
    const bool rightNone = right.data(SensorListModel::SerialRole).toString().isEmpty();
    if (leftNone != rightNone) {
        // A descending sort turns the answer round: give it the other way.
        return sortOrder() == Qt::AscendingOrder ? rightNone : leftNone;
    }
    if (leftNone && left.column() == SensorListModel::NextDue)
        return left.data(SensorListModel::TypeRole).toString() <
               right.data(SensorListModel::TypeRole).toString();
    return QSortFilterProxyModel::lessThan(left, right);
}

} // namespace history
