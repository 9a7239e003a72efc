#pragma once

// The import of the record files under a folder, from the window: the walk
// of the folder and the import run on a thread and a connection of their
// own; a progress dialog shows them and cancels them at any moment; the
// result comes back as finished().

#include "core/history/importer.h"
#include "core/history/location.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QProgressDialog;
class QWidget;

namespace history
{

class ImportFlow : public QObject
{
    Q_OBJECT

public:
    ImportFlow(const Location &location, const ImportRules &rules, const QString &folder,
               QWidget *window);
    // Cancels; lets a walk or a file under way end for a while, then lets
    // the thread go.
    ~ImportFlow() override;

    void start();
    QString folder() const { return folder_; }

public slots:
    // Stops before the next file, keeping what was imported; during the walk
    // of the folder, at once.
    void cancel();

signals:
    void finished(const history::ImportResult &result);

private:
    struct Shared;
    void progressed(int done, int total);
    void end(const ImportResult &result);
    void dropProgress();

    Location location_;
    ImportRules rules_;
    QString folder_;
    QWidget *window_;
    // A child of the window; never deleted at once: setValue() of a modal
    // progress dialog runs the event loop, which may end the import.
    QPointer<QProgressDialog> progress_;
    std::shared_ptr<Shared> shared_;
    bool ended_ = false;
};

} // namespace history
