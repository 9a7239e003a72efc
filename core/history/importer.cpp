#include "core/history/importer.h"

#include "core/history/recordreader.h"
#include "core/history/store.h"
#include "core/history/trainingserial.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <optional>

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

namespace
{

// Files read ahead and written in one transaction: on PostgreSQL a file
// then costs one round trip instead of a transaction of its own.
constexpr int kImportBatchFiles = 200;

// A file read and judged by itself; refused, or a run to write.
struct ReadFile {
    QString path;
    QByteArray bytes;
    Run run;
    std::optional<FileImport> decided; // refused before the history was asked
};

ReadFile readFile(const QString &path, const ImportRules &rules)
{
    ReadFile read;
    read.path = path;
    const auto refuse = [&read](const QString &reason) {
        read.decided = FileImport{FileImport::Verdict::Refused, reason};
        return read;
    };

    QFile file(path);
    // A record is a page of text: a file far larger is none, and is not read.
    if (file.size() > kMaxRecordSize)
        return refuse(tr("not a calibration record: too large (%1 bytes)").arg(file.size()));
    if (!file.open(QIODevice::ReadOnly))
        return refuse(tr("cannot be read: %1").arg(file.errorString()));
    read.bytes = file.read(kMaxRecordSize + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(tr("cannot be read: %1").arg(file.errorString()));

    const RecordReading reading = readRecord(read.bytes, QFileInfo(path).absoluteFilePath());
    if (!reading.ok)
        return refuse(reading.error);
    const QString refusal = refusalOf(reading.run, rules);
    if (!refusal.isEmpty())
        return refuse(refusal);
    read.run = reading.run;
    read.run.operatorName = loginName();
    return read;
}

FileImport fromWrite(const WriteResult &written, const QString &error)
{
    if (!written)
        return {FileImport::Verdict::Refused,
                tr("could not be written to the history: %1").arg(error)};
    if (written.kind == WriteResult::AlreadyThere)
        return {FileImport::Verdict::AlreadyThere, QString()};
    return {FileImport::Verdict::Imported, QString()};
}

// One file against the history, in a transaction of its own.
FileImport importRead(Store &store, const ReadFile &read)
{
    if (read.decided)
        return *read.decided;
    if (alreadyThere(store, read.bytes))
        return {FileImport::Verdict::AlreadyThere, QString()};
    QString error;
    const WriteResult written = store.write(read.run, &error);
    return fromWrite(written, error);
}

// The batch's files as importRead() would judge them one after the other,
// in two queries and one transaction; false when the history could not
// answer or the transaction failed, and nothing of the batch was written.
bool importBatch(Store &store, const QList<ReadFile> &batch, QList<FileImport> *verdicts)
{
    QList<QStringList> digests(batch.size());
    QStringList asked;
    for (int i = 0; i < batch.size(); ++i) {
        if (!batch.at(i).decided) {
            digests[i] = knownDigests(batch.at(i).bytes);
            asked += digests.at(i);
        }
    }
    QSet<QString> known;
    QString error;
    if (!store.knownRecordDigests(asked, &known, &error))
        return false;
    // A file after another of the batch with the same record finds it there,
    // as it would have had the first been written alone.
    QList<Run> runs;
    QList<int> written;
    verdicts->clear();
    for (int i = 0; i < batch.size(); ++i) {
        const ReadFile &read = batch.at(i);
        if (read.decided) {
            verdicts->append(*read.decided);
        } else if (std::any_of(digests.at(i).begin(), digests.at(i).end(),
                               [&](const QString &digest) { return known.contains(digest); })) {
            verdicts->append({FileImport::Verdict::AlreadyThere, QString()});
        } else {
            if (!read.run.recordDigest.isEmpty())
                known.insert(read.run.recordDigest);
            runs << read.run;
            written << i;
            verdicts->append({FileImport::Verdict::Imported, QString()});
        }
    }
    QList<bool> inserted;
    if (!store.writeAll(runs, &inserted, &error))
        return false;
    for (int k = 0; k < written.size(); ++k) {
        if (!inserted.at(k))
            (*verdicts)[written.at(k)] = {FileImport::Verdict::AlreadyThere, QString()};
    }
    return true;
}

void count(ImportResult *result, const QString &path, const FileImport &file)
{
    switch (file.verdict) {
    case FileImport::Verdict::Imported:
        ++result->imported;
        break;
    case FileImport::Verdict::AlreadyThere:
        ++result->alreadyThere;
        break;
    case FileImport::Verdict::Refused:
        result->refused.append({path, file.reason});
        break;
    }
}

// Writes the batch; when it fails as a whole, file by file, so that a file
// the history refuses is reported alone and the others still go in.
void flush(Store &store, QList<ReadFile> *batch, ImportResult *result)
{
    QList<FileImport> verdicts;
    if (!importBatch(store, *batch, &verdicts)) {
        verdicts.clear();
        for (const ReadFile &read : std::as_const(*batch))
            verdicts << importRead(store, read);
    }
    for (int i = 0; i < batch->size(); ++i)
        count(result, batch->at(i).path, verdicts.at(i));
    batch->clear();
}

} // namespace

FileImport importRecordFile(Store &store, const QString &path, const ImportRules &rules)
{
    return importRead(store, readFile(path, rules));
}

ImportResult importRecordFiles(Store &store, const QStringList &files, const ImportRules &rules,
                               const std::function<bool(int, int)> &goOn)
{
    ImportResult result;
    result.total = int(files.size());
    QList<ReadFile> batch;
    for (int i = 0; i < files.size(); ++i) {
        if (goOn && !goOn(i, result.total)) {
            // What was read before the stop counts as tried.
            flush(store, &batch, &result);
            result.cancelled = true;
            return result;
        }
        batch << readFile(files.at(i), rules);
        if (batch.size() == kImportBatchFiles)
            flush(store, &batch, &result);
    }
    flush(store, &batch, &result);
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
