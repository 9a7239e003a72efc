#include "gui/history/recordimport.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace history
{

RecordImport::RecordImport(Store *store, const ImportRules &rules, QObject *parent)
    : QObject(parent), store_(store), rules_(rules)
{
}

QStringList RecordImport::filesUnder(const QString &folder)
{
    return recordFilesUnder(folder);
}

void RecordImport::cancel()
{
    cancelled_ = true;
}

ImportResult RecordImport::run(const QStringList &files)
{
    cancelled_ = false;
    const ImportResult result =
        importRecordFiles(*store_, files, rules_, [this](int done, int total) {
            emit progress(done, total);
            QCoreApplication::processEvents();
            return !cancelled_;
        });
    if (!result.cancelled)
        emit progress(result.total, result.total);
    return result;
}

QString ImportSummaryDialog::summaryText(const ImportResult &result)
{
    return importSummary(result);
}

ImportSummaryDialog::ImportSummaryDialog(const ImportResult &result, const QString &folder,
                                         QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Import of record files"));
    auto *layout = new QVBoxLayout(this);

    // Folder names and reasons are anyone's text: never read as markup.
    auto *heading = new QLabel(tr("Record files under %1").arg(QDir::toNativeSeparators(folder)));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto *summary = new QLabel(summaryText(result));
    summary->setTextFormat(Qt::PlainText);
    summary->setObjectName(QStringLiteral("summary"));
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary);

    auto *refused = new QTreeWidget;
    refused->setObjectName(QStringLiteral("refused"));
    refused->setColumnCount(2);
    refused->setHeaderLabels({tr("File"), tr("Reason")});
    refused->setRootIsDecorated(false);
    refused->setUniformRowHeights(true);
    refused->setAlternatingRowColors(true);
    const QDir base(folder);
    for (const ImportResult::Refused &r : result.refused) {
        auto *item = new QTreeWidgetItem(refused, {base.relativeFilePath(r.path), r.reason});
        item->setToolTip(0, r.path);
        item->setToolTip(1, r.reason);
    }
    refused->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    refused->setVisible(!result.refused.isEmpty());
    layout->addWidget(refused, 1);

    // Files the history already holds under the name it met first.
    auto *copies = new QTreeWidget;
    copies->setObjectName(QStringLiteral("copies"));
    copies->setColumnCount(2);
    copies->setHeaderLabels({tr("File"), tr("A copy of")});
    copies->setRootIsDecorated(false);
    copies->setUniformRowHeights(true);
    for (const ImportResult::Copy &copy : result.copies)
        new QTreeWidgetItem(copies, {base.relativeFilePath(copy.path), copy.recorded});
    copies->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    copies->setVisible(!result.copies.isEmpty());
    layout->addWidget(copies, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    layout->addWidget(buttons);

    resize(result.refused.isEmpty() && result.copies.isEmpty() ? QSize(420, 160) : QSize(720, 420));
}

} // namespace history
