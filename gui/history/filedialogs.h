#pragma once

// The history window's file dialogs, made with the window and kept until it
// goes. A file dialog writes its state to the toolkit's settings file,
// synced to the disk, whenever it is destroyed, and takes a while to make
// (its icons are read and decoded): made afresh for each export and import,
// it held the window's event loop for both each time. Made with the window,
// they are ready before its event loop runs. Each use still starts as a new
// dialog would: caption, folder, suggested name and filter are given afresh.

#include <QPointer>
#include <QString>

class QFileDialog;
class QWidget;

namespace history
{

class FileDialogs
{
public:
    explicit FileDialogs(QWidget *parent);

    // The file to save to, suggestedPath proposed; suffix added to a name
    // given without one. Empty when cancelled.
    QString savePath(const QString &caption, const QString &suggestedPath, const QString &filter,
                     const QString &suffix);
    // An existing folder, starting in start. Empty when cancelled.
    QString folder(const QString &caption, const QString &start);

private:
    void makeSave();
    void makeFolder();

    QWidget *parent_;
    QPointer<QFileDialog> save_;
    QPointer<QFileDialog> folder_;
};

} // namespace history
