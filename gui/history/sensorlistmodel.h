#pragma once

// The sensors of the history, one row each: serial, type, runs, the last
// validation and outcome, and the date each is next due, overdue ones marked.

#include "core/history/store.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QList>

namespace history
{

class SensorListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Serial, Type, Runs, LastValidation, LastOutcome, NextDue, ColumnCount };
    // What a column sorts by: dates as dates, counts as numbers.
    static constexpr int SortRole = Qt::UserRole;
    // True on every column of an overdue sensor's row.
    static constexpr int OverdueRole = Qt::UserRole + 1;
    // The serial number as recorded, also where the list shows "(none)".
    static constexpr int SerialRole = Qt::UserRole + 2;

    explicit SensorListModel(QObject *parent = nullptr);

    void setSensors(const QList<SensorSummary> &sensors);
    // The due dates follow these; today is the system's date unless set.
    void setIntervalDays(int days);
    void setToday(const QDate &today);
    int intervalDays() const { return intervalDays_; }
    QDate today() const { return today_; }

    const SensorSummary &sensor(int row) const { return sensors_.at(row); }
    int rowOfSerial(const QString &serialNumber) const; // -1 when absent
    QDate dueDate(int row) const { return due_.at(row).date; }
    bool isOverdue(int row) const { return due_.at(row).overdue; }
    int overdueCount() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Due {
        QDate date;
        bool overdue = false;
    };
    void computeDueDates();
    QString displayText(int row, int column) const;

    QList<SensorSummary> sensors_;
    QList<Due> due_; // computed once per change, not per paint
    int intervalDays_ = kDefaultIntervalDays;
    QDate today_;
};

// Dates and times as the history shows them: ISO dates, local times.
QString dateText(const QDate &date);
QString dateTimeText(const QDateTime &utc);

} // namespace history
