#include "gui/history/filedialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace history
{

FileDialogs::FileDialogs(QWidget *parent) : parent_(parent)
{
    makeSave();
    makeFolder();
}

void FileDialogs::makeSave()
{
    save_ = new QFileDialog(parent_);
    save_->setAcceptMode(QFileDialog::AcceptSave);
    // Of several filters, the one chosen gives a name without a suffix its own.
    QObject::connect(save_, &QFileDialog::filterSelected, save_,
                     [dialog = save_.data()](const QString &filter) {
                         static const QRegularExpression suffix(QStringLiteral("\\*\\.(\\w+)"));
                         const QRegularExpressionMatch match = suffix.match(filter);
                         if (match.hasMatch())
                             dialog->setDefaultSuffix(match.captured(1));
                     });
}

void FileDialogs::makeFolder()
{
    // As QFileDialog::getExistingDirectory() makes its dialog.
    folder_ = new QFileDialog(parent_);
    folder_->setFileMode(QFileDialog::Directory);
    folder_->setOption(QFileDialog::ShowDirsOnly, true);
}

QString FileDialogs::savePath(const QString &caption, const QString &suggestedPath,
                              const QString &filter, const QString &suffix)
{
    if (!save_)
        makeSave();
    const QFileInfo suggested(suggestedPath);
    save_->setWindowTitle(caption);
    save_->setNameFilter(filter);
    save_->setDefaultSuffix(suffix);
    save_->setDirectory(suggested.absolutePath());
    save_->selectFile(suggested.fileName());
    if (save_->exec() != QDialog::Accepted || save_->selectedFiles().isEmpty())
        return {};
    QString path = save_->selectedFiles().constFirst();
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + save_->defaultSuffix();
    return path;
}

QString FileDialogs::folder(const QString &caption, const QString &start)
{
    if (!folder_)
        makeFolder();
    folder_->setWindowTitle(caption);
    folder_->setDirectory(start);
    folder_->selectFile(QString());
    if (folder_->exec() != QDialog::Accepted)
        return {};
    return folder_->selectedUrls().value(0).toLocalFile();
}

} // namespace history
