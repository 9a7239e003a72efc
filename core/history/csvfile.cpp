#include "core/history/csvfile.h"

#include "core/history/runformat.h"
#include "core/history/store.h"

#include <QCoreApplication>
#include <QSaveFile>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::CsvFile", text);
}

} // namespace

bool writeCsvFile(const QList<Run> &runs, const QString &path, QString *error)
{
    QSaveFile file(path);
    const QByteArray bytes = toCsv(runs);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

int exportHistoryToCsv(const Location &location, const QString &path, QString *error)
{
    Store store(location);
    if (!store.open(error))
        return -1;
    QString readError;
    const QList<Run> runs = store.allRuns(&readError);
    if (!readError.isEmpty()) {
        *error = tr("The history could not be read: %1").arg(readError);
        return -1;
    }
    return writeCsvFile(runs, path, error) ? int(runs.size()) : -1;
}

} // namespace history
