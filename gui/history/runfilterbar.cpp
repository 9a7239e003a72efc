#include "gui/history/runfilterbar.h"

#include "core/history/showntext.h"
#include "gui/history/runtablemodel.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>

#include <algorithm>

namespace history
{

namespace
{

// A date edit at this day shows "any" and sets no limit.
const QDate kAnyDate(1900, 1, 1);
// The outcome list is as wide as this many characters.
constexpr int kOutcomeChars = 24;

QDate chosenDate(const QDateEdit *edit)
{
    return edit->date() == kAnyDate ? QDate() : edit->date();
}

QDateEdit *dateEdit(const char *name, const QString &any)
{
    auto *edit = new QDateEdit;
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QLatin1String(kFilterDateFormat));
    edit->setMinimumDate(kAnyDate);
    edit->setSpecialValueText(any);
    edit->setCalendarPopup(true);
    edit->setDate(kAnyDate);
    return edit;
}

QComboBox *combo(const char *name, const QString &any)
{
    auto *box = new QComboBox;
    box->setObjectName(QLatin1String(name));
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    box->addItem(any, QString());
    return box;
}

// The values to choose from: any, each value of the runs, and the one chosen
// even when these runs have it not (the filter stays as it was asked).
void fill(QComboBox *box, QStringList values)
{
    const QString chosen = box->currentData().toString();
    if (!chosen.isEmpty())
        values << chosen;
    values.removeAll(QString());
    values.removeDuplicates();
    std::sort(values.begin(), values.end());
    const QSignalBlocker quiet(box);
    while (box->count() > 1)
        box->removeItem(1);
    for (const QString &value : std::as_const(values))
        box->addItem(shown(value), value);
    box->setCurrentIndex(std::max(0, box->findData(chosen)));
}

} // namespace

void RunFilterProxy::setFilter(const RunFilter &filter)
{
    filter_ = filter;
    invalidateFilter();
}

bool RunFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const auto *runs = qobject_cast<const RunTableModel *>(sourceModel());
    return !runs || sourceRow >= runs->runs().size() || filter_.matches(runs->runs().at(sourceRow));
}

RunFilterBar::RunFilterBar(QWidget *parent) : QWidget(parent)
{
    from_ = dateEdit("filterFrom", tr("any"));
    to_ = dateEdit("filterTo", tr("any"));
    station_ = combo("filterStation", tr("Any station"));
    operator_ = combo("filterOperator", tr("Any operator"));
    outcome_ = combo("filterOutcome", tr("Any outcome"));
    for (int o = int(Outcome::Interrupted); o <= int(Outcome::NoResponse); ++o)
        outcome_->addItem(outcomeText(Outcome(o)), outcomeName(Outcome(o)));
    // The longest outcome texts are cut rather than widen the bar past the window.
    outcome_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    outcome_->setMinimumContentsLength(kOutcomeChars);
    auto *clear = new QPushButton(tr("Show all"));
    clear->setObjectName(QStringLiteral("filterClear"));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("Runs from")));
    layout->addWidget(from_);
    layout->addWidget(new QLabel(tr("to")));
    layout->addWidget(to_);
    layout->addWidget(station_);
    layout->addWidget(operator_);
    layout->addWidget(outcome_);
    layout->addWidget(clear);
    layout->addStretch();

    for (QDateEdit *edit : {from_, to_})
        connect(edit, &QDateEdit::dateChanged, this, &RunFilterBar::emitChanged);
    for (QComboBox *box : {station_, operator_, outcome_})
        connect(box, &QComboBox::currentIndexChanged, this, &RunFilterBar::emitChanged);
    connect(clear, &QPushButton::clicked, this, [this] {
        {
            const QSignalBlocker a(from_), b(to_), c(station_), d(operator_), e(outcome_);
            from_->setDate(kAnyDate);
            to_->setDate(kAnyDate);
            for (QComboBox *box : {station_, operator_, outcome_})
                box->setCurrentIndex(0);
        }
        emitChanged();
    });
}

void RunFilterBar::setRuns(const QList<Run> &runs)
{
    QStringList stations;
    QStringList operators;
    for (const Run &run : runs) {
        stations << run.station;
        operators << run.operatorName;
    }
    fill(station_, stations);
    fill(operator_, operators);
}

RunFilter RunFilterBar::filter() const
{
    RunFilter filter;
    filter.from = chosenDate(from_);
    filter.to = chosenDate(to_);
    filter.station = station_->currentData().toString();
    filter.operatorName = operator_->currentData().toString();
    const QString outcome = outcome_->currentData().toString();
    if (!outcome.isEmpty())
        filter.outcome = outcomeFromName(outcome);
    return filter;
}

void RunFilterBar::emitChanged()
{
    emit changed(filter());
}

} // namespace history
