#pragma once

// The sensors of the history, one row each: serial, type, runs, the last
// validation and outcome, and the date each is next due, overdue and out of
// tolerance ones marked. A sensor is its serial number and type; runs that
// gave no serial number have rows of their own, never due.

#include "core/history/intervals.h"
#include "core/history/store.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QList>

#include <memory>

namespace history
{

class SensorListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Serial, Type, Runs, LastValidation, LastOutcome, NextDue, Interval, ColumnCount };
    // What a column sorts by: dates as dates, counts as numbers.
    static constexpr int SortRole = Qt::UserRole;
    // True on every column of an overdue sensor's row.
    static constexpr int OverdueRole = Qt::UserRole + 1;
    // The serial number as recorded, also where the list shows "(none)".
    static constexpr int SerialRole = Qt::UserRole + 2;
    static constexpr int TypeRole = Qt::UserRole + 3;
    // True on every column of a sensor its newest judged run left failing.
    static constexpr int OutOfToleranceRole = Qt::UserRole + 4;
    // The sensor's ended runs nobody signed off, marked on its runs' count.
    static constexpr int UnsignedRole = Qt::UserRole + 5;

    explicit SensorListModel(QObject *parent = nullptr);
    ~SensorListModel() override;

    void setSensors(const QList<SensorSummary> &sensors);
    // The due dates follow each sensor's interval and today, the system's
    // date unless set.
    void setToday(const QDate &today);
    // The ended runs nobody signed, by sensorKey(); kept for the next sensors.
    void setUnsignedRuns(const QHash<QString, int> &counts);
    QDate today() const { return today_; }
    // What one sensor's runs suggest for its interval, shown beside it.
    void setSuggestion(const QString &serialNumber, const QString &sensorType,
                       const IntervalSuggestion &suggestion);
    IntervalSuggestion suggestion(int row) const;

    const SensorSummary &sensor(int row) const { return sensors_.at(row); }
    // -1 when absent; an empty type takes the first row of the serial number.
    int rowOf(const QString &serialNumber, const QString &sensorType) const;
    QDate dueDate(int row) const { return due_.at(row).date; }
    bool isOverdue(int row) const { return due_.at(row).overdue; }
    bool isOutOfTolerance(int row) const;
    // Rows with a serial number: runs without one are no sensor to be due.
    int sensorCount() const;
    int overdueCount() const;
    int outOfToleranceCount() const;

    // The text a cell shows.
    QString text(int row, int column) const { return displayText(row, column); }
    // Whether leftRow sorts before rightRow by column, as SortRole orders
    // them: counts as numbers, dates as dates, the other columns by the text
    // shown, in any case. Read straight from the rows: sorting thousands of
    // sensors compares tens of thousands of pairs, too many to go through
    // data() for each.
    bool lessThan(int leftRow, int rightRow, int column) const;

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
    void countUnsigned();
    QString displayText(int row, int column) const;
    qint64 intervalKey(int row) const; // the order of the Interval column

    QList<SensorSummary> sensors_;
    QList<Due> due_;          // computed once per change, not per paint
    QList<QString> outcomes_; // each row's last outcome as shown, likewise
    // For sorting, made when a sort first needs them: each row's serial
    // number and type as shown, case folded, and its intervalKey().
    const QList<QString> &textKeys(int column) const;
    void intervalKeys() const;
    mutable QList<QString> serialKeys_;
    mutable QList<QString> typeKeys_;
    mutable QList<qint64> intervalKeys_;
    QHash<QString, int> unsignedRuns_;
    QList<int> unsigned_; // each row's count of them, likewise
    // How overdue and out-of-tolerance rows are marked.
    struct Marks {
        QFont bold;
        QIcon failing;
        QIcon late;
        // The interval column has room for the longest suggestion from the
        // start: one comes with a sensor's runs, after the list is fitted.
        QSize widestInterval;
        QIcon unsignedRuns;
    };
    const Marks &marks() const;
    mutable std::unique_ptr<Marks> marks_;
    QHash<QString, IntervalSuggestion> suggestions_; // by sensorKey()
    QDate today_;
};

// Dates and times as the history shows them: ISO dates, local times.
QString dateText(const QDate &date);
QString dateTimeText(const QDateTime &utc);
// A run's date: without a time when only its date is known.
QString runDateText(const Run &run);

// Text from outside (the sensor, a record file, the database) as a tooltip
// that shows it literally, markup and all.
QString plainToolTip(const QString &text);
// The due column's words, also used by the heading and the report.
QString dueText(const SensorSummary &sensor, const QDate &due, bool overdue);
// "(none)" for runs without a serial number. Serial numbers and types are
// shown with their control, format and bidirectional characters visible.
QString serialText(const QString &serialNumber);
QString typeText(const QString &sensorType);
// The sensor as a person names it, "RT-5K-MQ 40317-20415"; the serial number
// alone when the type is not known.
QString sensorText(const QString &sensorType, const QString &serialNumber);

} // namespace history
