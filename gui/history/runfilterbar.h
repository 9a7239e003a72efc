#pragma once

// The filter bar above the runs table: a range of dates, a station, an
// operator and an outcome, each "any" until chosen; and the proxy that sorts
// the runs and leaves out those the bar does not match.

#include "core/history/runfilter.h"

#include <QList>
#include <QSortFilterProxyModel>
#include <QWidget>

class QComboBox;
class QDateEdit;

namespace history
{

class RunFilterProxy : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    // The source is a RunTableModel.
    void setFilter(const RunFilter &filter);
    const RunFilter &filter() const { return filter_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    RunFilter filter_;
};

class RunFilterBar : public QWidget
{
    Q_OBJECT

public:
    explicit RunFilterBar(QWidget *parent = nullptr);

    // The stations and operators of these runs to choose from; what is
    // chosen stays chosen.
    void setRuns(const QList<Run> &runs);
    RunFilter filter() const;

signals:
    void changed(const RunFilter &filter);

private:
    void emitChanged();

    QDateEdit *from_ = nullptr;
    QDateEdit *to_ = nullptr;
    QComboBox *station_ = nullptr;
    QComboBox *operator_ = nullptr;
    QComboBox *outcome_ = nullptr;
};

} // namespace history
