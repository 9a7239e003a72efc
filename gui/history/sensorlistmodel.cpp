#include "gui/history/sensorlistmodel.h"

#include "core/history/register.h"
#include "core/history/showntext.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QStyle>

#include <algorithm>
#include <map>

namespace history
{

namespace
{
constexpr char kDateFormat[] = "yyyy-MM-dd";
constexpr char kDateTimeFormat[] = "yyyy-MM-dd HH:mm";
// Distinct from an overdue sensor's red: the sensor reads wrong, whatever
// its date.
const QColor kOutOfToleranceColor(160, 0, 160);
} // namespace

QString runDateText(const Run &run)
{
    return run.dateOnly() ? dateText(run.date) : dateTimeText(run.started);
}

QString plainToolTip(const QString &text)
{
    if (text.isEmpty())
        return text;
    // A tooltip that might be markup is shown as markup: always give it as
    // markup, the text escaped, so it never is.
    QString html = text.toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return QStringLiteral("<qt>%1</qt>").arg(html);
}

QString serialText(const QString &serialNumber)
{
    return serialNumber.isEmpty() ? SensorListModel::tr("(none)") : shown(serialNumber);
}

QString typeText(const QString &sensorType)
{
    return shown(sensorType);
}

QString sensorText(const QString &sensorType, const QString &serialNumber)
{
    if (sensorType.isEmpty())
        return serialText(serialNumber);
    return SensorListModel::tr("%1 %2").arg(typeText(sensorType), serialText(serialNumber));
}

QString dueText(const SensorSummary &s, const QDate &due, bool overdue)
{
    QString text;
    if (!s.hasSerial())
        text = SensorListModel::tr("none, no serial number");
    else if (s.typeUnknown)
        text = SensorListModel::tr("none, type unknown");
    else if (s.retired)
        text = SensorListModel::tr("Retired: %1").arg(shown(s.retiredReason));
    else if (!s.lastValidation.isValid())
        text = SensorListModel::tr("%1, never validated").arg(dateText(due));
    else if (overdue)
        text = SensorListModel::tr("%1, overdue").arg(dateText(due));
    else
        text = dateText(due);
    if (s.outOfTolerance)
        text = SensorListModel::tr("%1, out of tolerance").arg(text);
    return text;
}

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

SensorListModel::~SensorListModel() = default;

void SensorListModel::setSensors(const QList<SensorSummary> &sensors)
{
    beginResetModel();
    sensors_ = sensors;
    // An interval may have changed since: each suggestion comes again with
    // its sensor's runs.
    suggestions_.clear();
    computeDueDates();
    // A handful of outcomes: each text made once and shared by its rows.
    std::map<Outcome, QString> texts;
    outcomes_.clear();
    outcomes_.reserve(sensors_.size());
    for (const SensorSummary &s : sensors_) {
        if (s.runs <= 0 || s.lastInProgress) {
            outcomes_.append(s.lastInProgress ? inProgressText() : QString());
            continue;
        }
        auto text = texts.find(s.lastOutcome);
        if (text == texts.end())
            text = texts.emplace(s.lastOutcome, outcomeText(s.lastOutcome)).first;
        outcomes_.append(s.standardFinding ? tr("%1; standard not in order").arg(text->second)
                                           : text->second);
    }
    // Made again when a sort needs them.
    serialKeys_.clear();
    typeKeys_.clear();
    intervalKeys_.clear();
    countUnsigned();
    endResetModel();
}

void SensorListModel::setUnsignedRuns(const QHash<QString, int> &counts)
{
    unsignedRuns_ = counts;
    countUnsigned();
    if (!sensors_.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void SensorListModel::countUnsigned()
{
    unsigned_.clear();
    unsigned_.reserve(sensors_.size());
    for (const SensorSummary &s : sensors_)
        unsigned_.append(unsignedRuns_.value(sensorKey(s.serialNumber, s.sensorType)));
}

void SensorListModel::setSuggestion(const QString &serialNumber, const QString &sensorType,
                                    const IntervalSuggestion &suggestion)
{
    suggestions_.insert(sensorKey(serialNumber, sensorType), suggestion);
    const int row = rowOf(serialNumber, sensorType);
    if (row >= 0) {
        if (!intervalKeys_.isEmpty())
            intervalKeys_[row] = intervalKey(row);
        emit dataChanged(index(row, Interval), index(row, Interval));
    }
}

IntervalSuggestion SensorListModel::suggestion(int row) const
{
    const SensorSummary &s = sensors_.at(row);
    return suggestions_.value(sensorKey(s.serialNumber, s.sensorType));
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
        due_.append({nextDue(s, today_), overdue(s, today_)});
}

int SensorListModel::rowOf(const QString &serialNumber, const QString &sensorType) const
{
    for (int row = 0; row < sensors_.size(); ++row) {
        const SensorSummary &s = sensors_.at(row);
        if (s.serialNumber == serialNumber && (sensorType.isEmpty() || s.sensorType == sensorType))
            return row;
    }
    return -1;
}

bool SensorListModel::isOutOfTolerance(int row) const
{
    return sensors_.at(row).outOfTolerance;
}

namespace
{
// A row that is a sensor of its own: runs of no serial number, or of one whose
// type is unknown, are not.
bool counted(const SensorSummary &s)
{
    return s.hasSerial() && !s.typeUnknown;
}
} // namespace

qint64 SensorListModel::intervalKey(int row) const
{
    // By the days, then the days suggested (none: 0); rows that show no
    // interval first.
    const SensorSummary &s = sensors_.at(row);
    if (!counted(s) || s.retired)
        return -1;
    return qint64(s.intervalDays) * (kMaxIntervalDays + 1) + suggestion(row).days;
}

int SensorListModel::sensorCount() const
{
    return int(std::count_if(sensors_.cbegin(), sensors_.cend(),
                             [](const SensorSummary &s) { return counted(s); }));
}

int SensorListModel::overdueCount() const
{
    int count = 0;
    for (int row = 0; row < sensors_.size(); ++row)
        count += sensors_.at(row).hasSerial() && due_.at(row).overdue ? 1 : 0;
    return count;
}

int SensorListModel::outOfToleranceCount() const
{
    return int(std::count_if(sensors_.cbegin(), sensors_.cend(), [](const SensorSummary &s) {
        return counted(s) && s.outOfTolerance;
    }));
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
        return serialText(s.serialNumber);
    case Type:
        // A record names no type: its runs are listed by their serial number.
        return s.hasSerial() && s.sensorType.isEmpty() ? tr("type unknown")
                                                       : typeText(s.sensorType);
    case Runs:
        return QString::number(s.runs);
    case LastValidation:
        return s.lastValidation.isValid() ? dateText(s.lastValidationDay()) : tr("never");
    case LastOutcome:
        return outcomes_.at(row);
    case NextDue:
        return dueText(s, due_.at(row).date, due_.at(row).overdue);
    case Interval:
        return counted(s) && !s.retired ? intervalText(s.intervalDays, suggestion(row)) : QString();
    }
    return QString();
}

const SensorListModel::Marks &SensorListModel::marks() const
{
    // Made on first use (a style and a font need the application), then
    // shared: each paint and each fit of a column asks for them per row.
    if (!marks_) {
        marks_ = std::make_unique<Marks>();
        marks_->bold.setBold(true);
        marks_->failing = QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
        marks_->late = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        IntervalSuggestion longest;
        longest.rule = IntervalSuggestion::Lengthen;
        longest.days = kMaxIntervalDays;
        const QFontMetrics metrics(QApplication::font());
        // The margins a view's item delegate puts either side of a text.
        const int margin = QApplication::style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
        marks_->widestInterval = QSize(
            metrics.horizontalAdvance(intervalText(kMaxIntervalDays - 1, longest)) + 2 * margin + 1,
            metrics.height());
        marks_->unsignedRuns = QApplication::style()->standardIcon(QStyle::SP_FileDialogInfoView);
    }
    return *marks_;
}

const QList<QString> &SensorListModel::textKeys(int column) const
{
    // A sort compares each row many times: its text, case folded, made once.
    QList<QString> &keys = column == Serial ? serialKeys_ : typeKeys_;
    if (keys.size() != sensors_.size()) {
        keys.clear();
        keys.reserve(sensors_.size());
        for (int row = 0; row < sensors_.size(); ++row)
            keys.append(displayText(row, column).toCaseFolded());
    }
    return keys;
}

void SensorListModel::intervalKeys() const
{
    if (intervalKeys_.size() == sensors_.size())
        return;
    intervalKeys_.clear();
    intervalKeys_.reserve(sensors_.size());
    for (int row = 0; row < sensors_.size(); ++row)
        intervalKeys_.append(intervalKey(row));
}

bool SensorListModel::lessThan(int leftRow, int rightRow, int column) const
{
    const SensorSummary &left = sensors_.at(leftRow);
    const SensorSummary &right = sensors_.at(rightRow);
    switch (column) {
    case Runs:
        return left.runs < right.runs;
    case LastValidation:
        return left.lastValidation < right.lastValidation;
    case NextDue:
        return due_.at(leftRow).date < due_.at(rightRow).date;
    case Serial:
    case Type: {
        const QList<QString> &keys = textKeys(column);
        return keys.at(leftRow) < keys.at(rightRow);
    }
    case Interval:
        intervalKeys();
        return intervalKeys_.at(leftRow) < intervalKeys_.at(rightRow);
    default:
        return QString::compare(displayText(leftRow, column), displayText(rightRow, column),
                                Qt::CaseInsensitive) < 0;
    }
}

QVariant SensorListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= sensors_.size())
        return QVariant();
    const int row = index.row();
    const SensorSummary &s = sensors_.at(row);
    const bool late = s.hasSerial() && due_.at(row).overdue;
    const bool failing = s.outOfTolerance;
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
        case Interval:
            return intervalKey(row);
        default:
            return displayText(row, index.column());
        }
    case OverdueRole:
        return late;
    case SerialRole:
        return s.serialNumber;
    case TypeRole:
        return s.sensorType;
    case OutOfToleranceRole:
        return failing;
    case UnsignedRole:
        return unsigned_.at(row);
    case Qt::ForegroundRole:
        if (failing)
            return QBrush(kOutOfToleranceColor);
        return late ? QVariant(QBrush(Qt::red)) : QVariant();
    case Qt::FontRole:
        return late ? QVariant(marks().bold) : QVariant();
    case Qt::DecorationRole:
        if (index.column() == Runs && unsigned_.at(row) > 0)
            return marks().unsignedRuns;
        if (index.column() != Serial)
            return QVariant();
        if (failing)
            return marks().failing;
        if (late)
            return marks().late;
        return QVariant();
    case Qt::ToolTipRole: {
        QStringList lines;
        if (index.column() == Serial || index.column() == Type || index.column() == LastOutcome)
            lines << displayText(row, index.column());
        if (failing)
            lines << tr("Out of tolerance: its newest run left a reading outside its window.");
        if (late)
            lines
                << tr("Overdue: the last validation is more than %1 days old.").arg(s.intervalDays);
        if (s.retired)
            lines << tr("Retired: %1").arg(s.retiredReason);
        if (index.column() == Runs && unsigned_.at(row) > 0)
            lines << tr("Ended runs nobody signed off: %1.").arg(unsigned_.at(row));
        if (s.standardFinding)
            lines << tr("Its newest run was made with standard %1, which was overdue, withdrawn "
                        "or not registered, or is of another tip kind.")
                         .arg(s.lastStandardSerial);
        if (!s.hasSerial())
            lines << tr("Runs of a sensor that gave no serial number: never due.");
        if (s.typeUnknown)
            lines << tr("Runs of record files that cannot be told to be another row's sensor: "
                        "never due. Set their type from the runs' menu.");
        return plainToolTip(lines.join(QLatin1Char('\n')));
    }
    case Qt::SizeHintRole:
        return index.column() == Interval ? QVariant(marks().widestInterval) : QVariant();
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
    case Interval:
        return tr("Interval");
    }
    return QVariant();
}

} // namespace history
