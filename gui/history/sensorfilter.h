#pragma once

// The sensor list as the window shows it: sorted by any column, and narrowed
// to the sensors whose serial number or type holds the filter text (any case).
// Retired sensors stay after the others in either order, and runs without a
// serial number after them.

#include <QSortFilterProxyModel>

namespace history
{

class SensorListModel;

class SensorFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit SensorFilter(QObject *parent = nullptr);
    void setSourceModel(QAbstractItemModel *sourceModel) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    // The sensor list it shows, read directly (none: another model, read
    // through data()).
    const SensorListModel *sensors_ = nullptr;
};

} // namespace history
