#include "core/history/importer.h"

#include "core/history/recordreader.h"
#include "core/history/store.h"
#include "core/history/trainingserial.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::Importer", text);
}

// Empty when the history may take the run; otherwise why not.
QString refusalOf(const Run &run, const ImportRules &rules)
{
    const QDate date = run.started.date();
    // A day of grace: the station that wrote it may be a time zone ahead.
    if (date > rules.today.addDays(1))
        return tr("dated in the future: %1").arg(date.toString(Qt::ISODate));
    if (!rules.training && isTrainingSerial(run.serialNumber))
        return tr("a practice record of the training program (serial number %1): it belongs "
                  "in the training history, not the real one")
            .arg(run.serialNumber);
    return QString();
}

bool alreadyThere(const Store &store, const QByteArray &bytes)
{
    const QStringList digests = knownDigests(bytes);
    return std::any_of(digests.begin(), digests.end(),
                       [&](const QString &digest) { return store.hasRecordDigest(digest); });
}

} // namespace

QStringList recordFilesUnder(const QString &folder)
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

FileImport importRecordFile(Store &store, const QString &path, const ImportRules &rules)
{
    const auto refuse = [](const QString &reason) {
        return FileImport{FileImport::Verdict::Refused, reason};
    };

    QFile file(path);
    // A record is a page of text: a file far larger is none, and is not read.
    if (file.size() > kMaxRecordSize)
        return refuse(tr("not a calibration record: too large (%1 bytes)").arg(file.size()));
    if (!file.open(QIODevice::ReadOnly))
        return refuse(tr("cannot be read: %1").arg(file.errorString()));
    const QByteArray bytes = file.read(kMaxRecordSize + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(tr("cannot be read: %1").arg(file.errorString()));

    const RecordReading reading = readRecord(bytes, QFileInfo(path).absoluteFilePath());
    if (!reading.ok)
        return refuse(reading.error);
    const QString refusal = refusalOf(reading.run, rules);
    if (!refusal.isEmpty())
        return refuse(refusal);
    if (alreadyThere(store, bytes))
        return {FileImport::Verdict::AlreadyThere, QString()};
    Run run = reading.run;
    run.operatorName = loginName();
    QString error;
    const WriteResult written = store.write(run, &error);
    if (!written)
        return refuse(tr("could not be written to the history: %1").arg(error));
    if (written.kind == WriteResult::AlreadyThere)
        return {FileImport::Verdict::AlreadyThere, QString()};
    return {FileImport::Verdict::Imported, QString()};
}

ImportResult importRecordFiles(Store &store, const QStringList &files, const ImportRules &rules,
                               const std::function<bool(int, int)> &goOn)
{
    ImportResult result;
    result.total = int(files.size());
    for (int i = 0; i < files.size(); ++i) {
        if (goOn && !goOn(i, result.total)) {
            result.cancelled = true;
            return result;
        }
        const FileImport file = importRecordFile(store, files.at(i), rules);
        switch (file.verdict) {
        case FileImport::Verdict::Imported:
            ++result.imported;
            break;
        case FileImport::Verdict::AlreadyThere:
            ++result.alreadyThere;
            break;
        case FileImport::Verdict::Refused:
            result.refused.append({files.at(i), file.reason});
            break;
        }
    }
    return result;
}

QString importSummary(const ImportResult &result)
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

} // namespace history
