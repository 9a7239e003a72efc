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

bool writeAll(QSaveFile &file, const QByteArray &bytes)
{
    return file.write(bytes) == bytes.size();
}

} // namespace

namespace
{
bool writeBytes(const QByteArray &bytes, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
} // namespace

bool writeCsvFile(const QList<Run> &runs, const QString &path, QString *error)
{
    return writeBytes(toCsv(runs), path, error);
}

bool writeCsvFile(const QList<Run> &runs, const StandardRevisions &standards, const QString &path,
                  QString *error)
{
    return writeBytes(
        toCsv(runs, [&standards](const Run &run) { return standardFindingLine(run, standards); }),
        path, error);
}

int exportHistoryToCsv(const Location &location, const QString &path, QString *error)
{
    Store store(location);
    if (!store.open(error))
        return -1;
    StandardRevisions register_;
    QString registerError;
    if (!standardRevisions(store, &register_, &registerError)) {
        *error = tr("The history could not be read: %1").arg(registerError);
        return -1;
    }
    // Row by row as read: the whole history never sits in memory, as runs
    // or as text. The file is replaced only once every run is in it.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !writeAll(file, csvHeader())) {
        *error = file.errorString();
        return -1;
    }
    int runs = 0;
    bool written = true;
    QString readError;
    const QHash<QString, QDateTime> latestStarts = store.latestStarts();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool read = store.visitAllRuns(
        [&](Run run) {
            run.inProgress = inProgress(run, latestStarts.value(run.station), now);
            written = writeAll(file, csvRow(run, standardFindingLine(run, register_)));
            ++runs;
            return written;
        },
        &readError);
    if (!written) {
        *error = file.errorString();
        file.cancelWriting();
        return -1;
    }
    if (!read) {
        *error = tr("The history could not be read: %1").arg(readError);
        file.cancelWriting();
        return -1;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return -1;
    }
    return runs;
}

} // namespace history
