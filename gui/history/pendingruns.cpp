#include "gui/history/pendingruns.h"

#include "core/history/runformat.h"
#include "core/history/store.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace history
{

namespace
{

constexpr char kPendingPattern[] = "*.json";

// The run a pending file holds, or false when it holds none (any more).
bool readRun(const QString &path, Run *run)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && fromJson(file.readAll(), run);
}

// The pending files by the key of their run. Found by what they hold, not by
// their names, which are the writer's business.
QHash<QString, QString> filesByKey(const QString &folder)
{
    QHash<QString, QString> files;
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QLatin1String(kPendingPattern)}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        Run run;
        if (readRun(dir.filePath(name), &run))
            files.insert(run.key, dir.filePath(name));
    }
    return files;
}

} // namespace

QStringList pendingNotices(const QList<Pending> &pending)
{
    QStringList notices;
    for (const Pending &p : pending) {
        if (!p.error.isEmpty())
            notices << notice(p);
    }
    return notices;
}

PendingWrite writePending(Store *store, const QString &pendingFolder, const QList<Pending> &pending)
{
    PendingWrite result;
    if (pending.isEmpty())
        return result;
    const QHash<QString, QString> files = filesByKey(pendingFolder);
    for (const Pending &p : pending) {
        QString error;
        if (!store->write(p.run, &error)) {
            result.errors << error;
            continue;
        }
        ++result.written;
        const QString path = files.value(p.run.key);
        Run now;
        // A station still running may have put a newer snapshot there since.
        if (!path.isEmpty() && readRun(path, &now) && now.revision <= p.run.revision)
            QFile::remove(path);
    }
    return result;
}

} // namespace history
