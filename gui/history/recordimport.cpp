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

namespace
{
// A list of files, by their names under the folder, and one more column.
QTreeWidget *fileList(const QString &name, const QString &second)
{
    auto *list = new QTreeWidget;
    list->setObjectName(name);
    list->setColumnCount(2);
    list->setHeaderLabels({ImportSummaryDialog::tr("File"), second});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    return list;
}
} // namespace

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

    auto *refused = fileList(QStringLiteral("refused"), tr("Reason"));
    refused->setAlternatingRowColors(true);
    const QDir base(folder);
    for (const ImportResult::Refused &r : result.refused) {
        auto *item = new QTreeWidgetItem(refused, {base.relativeFilePath(r.path), r.reason});
        item->setToolTip(0, r.path);
        item->setToolTip(1, r.reason);
    }
    refused->setVisible(!result.refused.isEmpty());
    layout->addWidget(refused, 1);

    // Files the history already holds under the name it met first.
    auto *copies = fileList(QStringLiteral("copies"), tr("A copy of"));
    for (const ImportResult::Copy &copy : result.copies)
        new QTreeWidgetItem(copies, {base.relativeFilePath(copy.path), copy.recorded});
    copies->setVisible(!result.copies.isEmpty());
    layout->addWidget(copies, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    layout->addWidget(buttons);

    resize(result.refused.isEmpty() && result.copies.isEmpty() ? QSize(420, 160) : QSize(720, 420));
}

} // namespace history
