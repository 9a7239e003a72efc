#include "gui/history/recordimport.h"

#include "core/history/recordreader.h"
#include "core/history/store.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace history
{

RecordImport::RecordImport(Store *store, QObject *parent) : QObject(parent), store_(store)
{
}

QStringList RecordImport::filesUnder(const QString &folder)
{
    QStringList files;
    // Without QDir::System: no FIFO, socket or device, which could block a read.
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    std::sort(files.begin(), files.end());
    return files;
}

void RecordImport::cancel()
{
    cancelled_ = true;
}

ImportResult RecordImport::run(const QStringList &files)
{
    ImportResult result;
    result.total = int(files.size());
    cancelled_ = false;
    for (int i = 0; i < files.size(); ++i) {
        emit progress(i, result.total);
        QCoreApplication::processEvents();
        if (cancelled_) {
            result.cancelled = true;
            return result;
        }
        importFile(files.at(i), &result);
    }
    emit progress(result.total, result.total);
    return result;
}

void RecordImport::importFile(const QString &path, ImportResult *result)
{
    const auto refuse = [&](const QString &reason) { result->refused.append({path, reason}); };

    QFile file(path);
    if (file.size() > kMaximumRecordBytes) {
        refuse(tr("too large to be a calibration record (%1 bytes)").arg(file.size()));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        refuse(tr("cannot be read: %1").arg(file.errorString()));
        return;
    }
    const QByteArray bytes = file.read(kMaximumRecordBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        refuse(tr("cannot be read: %1").arg(file.errorString()));
        return;
    }
    if (bytes.size() > kMaximumRecordBytes) {
        refuse(tr("too large to be a calibration record"));
        return;
    }

    const RecordReading reading = readRecord(bytes, QFileInfo(path).absoluteFilePath());
    if (!reading.ok) {
        refuse(reading.error);
        return;
    }
    if (store_->hasRecordDigest(reading.run.recordDigest)) {
        ++result->alreadyThere;
        return;
    }
    QString error;
    if (!store_->write(reading.run, &error)) {
        refuse(tr("could not be written to the history: %1").arg(error));
        return;
    }
    ++result->imported;
}

QString ImportSummaryDialog::summaryText(const ImportResult &result)
{
    QStringList lines;
    lines << tr("Imported: %1").arg(result.imported)
          << tr("Already in the history: %1").arg(result.alreadyThere)
          << tr("Not imported: %1").arg(result.refused.size());
    if (result.cancelled)
        lines << tr("Cancelled: %1 of %2 files were not looked at.")
                     .arg(result.total - result.tried())
                     .arg(result.total);
    return lines.join(QLatin1Char('\n'));
}

ImportSummaryDialog::ImportSummaryDialog(const ImportResult &result, const QString &folder,
                                         QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Import of record files"));
    auto *layout = new QVBoxLayout(this);

    auto *heading = new QLabel(tr("Record files under %1").arg(QDir::toNativeSeparators(folder)));
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto *summary = new QLabel(summaryText(result));
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

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    layout->addWidget(buttons);

    resize(result.refused.isEmpty() ? QSize(420, 160) : QSize(720, 420));
}

} // namespace history
