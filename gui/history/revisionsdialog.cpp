#include "gui/history/revisionsdialog.h"

#include "gui/history/runtablemodel.h"
#include "gui/history/sensorlistmodel.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace history
{

namespace
{
const QSize kDialogSize(980, 360);
} // namespace

RevisionsDialog::RevisionsDialog(const QList<Run> &revisions, const QString &error, QWidget *parent,
                                 const history::StandardRevisions *standards)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("revisionsDialog"));
    const Run *newest = revisions.isEmpty() ? nullptr : &revisions.last();
    setWindowTitle(newest ? tr("Revisions of the run of %1, sensor %2")
                                .arg(runDateText(*newest),
                                     sensorText(newest->sensorType, newest->serialNumber))
                          : tr("Revisions of the run"));
    auto *layout = new QVBoxLayout(this);

    if (!error.isEmpty()) {
        auto *problem = new QLabel(tr("The revisions could not all be read: %1").arg(error));
        problem->setObjectName(QStringLiteral("revisionsError"));
        problem->setTextFormat(Qt::PlainText);
        problem->setWordWrap(true);
        layout->addWidget(problem);
    }

    table_ = new QTableWidget(int(revisions.size()), ColumnCount, this);
    table_->setObjectName(QStringLiteral("revisions"));
    table_->setHorizontalHeaderLabels({tr("Revision"), tr("Recorded"), tr("Station"),
                                       tr("Operator"), tr("Login"), tr("Outcome"),
                                       tr("As found\nhigh"), tr("As found\nlow"),
                                       tr("As left\nhigh"), tr("As left\nlow"), tr("Standard")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->setWordWrap(false);
    // Newest last, as they were stored. Items show their text as it is.
    for (int row = 0; row < revisions.size(); ++row) {
        const Run &run = revisions.at(row);
        const auto put = [this, row](int column, const QString &text,
                                     const QVariant &background = QVariant(),
                                     const QString &toolTip = QString()) {
            auto *item = new QTableWidgetItem(text);
            if (background.isValid())
                item->setBackground(background.value<QBrush>());
            if (!toolTip.isEmpty())
                item->setToolTip(plainToolTip(toolTip));
            table_->setItem(row, column, item);
        };
        put(Revision, QString::number(run.revision));
        put(Recorded, dateTimeText(run.recordedAt));
        put(Station, run.source == Source::Import ? tr("record file") : run.station);
        put(Operator, run.operatorName);
        put(Login, run.recordedBy);
        put(Result, resultText(run));
        put(FoundHigh, run.foundHigh.text, verdictBackground(run.foundHigh.verdict));
        put(FoundLow, run.foundLow.text, verdictBackground(run.foundLow.verdict));
        // Verification readings of constants the sensor did not keep are no
        // as-left state: apart, in the cells' tool tips.
        const QString notKept = verificationNotKept(run);
        if (notKept.isEmpty()) {
            put(LeftHigh, run.leftHigh.text, verdictBackground(run.leftHigh.verdict));
            put(LeftLow, run.leftLow.text, verdictBackground(run.leftLow.verdict));
        } else {
            put(LeftHigh, QString(), QVariant(), notKept);
            put(LeftLow, QString(), QVariant(), notKept);
        }
        const bool finding = standards && standardFindingsAt(run, *standards).any();
        put(Standard, standardText(run, standards), finding ? findingBackground() : QVariant());
    }
    table_->resizeColumnsToContents();
    layout->addWidget(table_);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(kDialogSize);
}

} // namespace history
