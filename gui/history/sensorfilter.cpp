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
