#include "core/history/importer.h"

#include "core/history/recordreader.h"
#include "core/history/store.h"
#include "core/history/trainingserial.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::Importer", text);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

RecordFile notRegular()
{
    return {RecordFile::State::NotRegular, {}, tr("skipped: not a regular file")};
}

RecordFile tooLarge(qint64 size)
{
    return {RecordFile::State::TooLarge,
            {},
            tr("not a calibration record: too large (%1 bytes)").arg(size)};
}

// Empty when the history may take the run; otherwise why not.
QString refusalOf(const Run &run, const ImportRules &rules)
{
    const QDate date = run.started.date();
    // A day of grace: the station that wrote it may be a time zone ahead.
    if (date > rules.today.addDays(1))
        return tr("dated in the future: %1").arg(date.toString(Qt::ISODate));
    if (!rules.training && isTrainingSerial(run.serialNumber))
        return practiceRefusal(run.serialNumber);
    return QString();
}

// The verdict on a file one of whose digests the history knows (a copy when
// the history names another file for it); none when it knows none.
std::optional<FileImport> alreadyThere(const QStringList &digests, const QSet<QString> &known,
                                       const QHash<QString, QString> &paths, const QString &path)
{
    for (const QString &digest : digests) {
        if (!known.contains(digest))
            continue;
        const QString recorded = paths.value(digest);
        return FileImport{FileImport::Verdict::AlreadyThere, QString(),
                          recorded.isEmpty() || recorded == path ? QString() : recorded};
    }
    return std::nullopt;
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

RecordFile readRecordFile(const QString &path)
{
    RecordFile file;
    const QByteArray name = QFile::encodeName(path);
    struct stat status {
    };
    if (::stat(name.constData(), &status) != 0) {
        file.reason = systemError();
        return file;
    }
    if (!S_ISREG(status.st_mode))
        return notRegular();
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        file.reason = systemError();
        return file;
    }
    // Replaced by something else since the look above: still skipped.
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return notRegular();
    }
    if (status.st_size > kMaxRecordSize) {
        ::close(fd);
        return tooLarge(status.st_size);
    }
    // One byte more than a record may hold, for a file that grew meanwhile.
    file.bytes.resize(kMaxRecordSize + 1);
    qsizetype got = 0;
    while (got < file.bytes.size()) {
        const ssize_t n = ::read(fd, file.bytes.data() + got, size_t(file.bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            file.reason = systemError();
            ::close(fd);
            file.bytes.clear();
            return file;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    file.bytes.truncate(got);
    if (got > kMaxRecordSize)
        return tooLarge(got);
    file.state = RecordFile::State::Read;
    return file;
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
        read.decided = FileImport{FileImport::Verdict::Refused, reason, QString()};
        return read;
    };

    // A record is a page of text: a file far larger is none, and is not read.
    RecordFile file = readRecordFile(path);
    if (file.state == RecordFile::State::Unreadable)
        return refuse(tr("cannot be read: %1").arg(file.reason));
    if (file.state != RecordFile::State::Read)
        return refuse(file.reason);
    read.bytes = std::move(file.bytes);

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

// A record names no sensor type: each run joins the sensor of its serial
// number where the history can tell which that is. Where it cannot (or
// cannot be asked), the run stays without a type, and the sensor list
// shows it apart, never with a due date of its own.
void joinKnownSensors(const Store &store, QList<ReadFile> *batch)
{
    QStringList serials;
    for (const ReadFile &read : std::as_const(*batch)) {
        if (!read.decided && read.run.sensorType.isEmpty() && !read.run.serialNumber.isEmpty())
            serials << read.run.serialNumber;
    }
    serials.removeDuplicates();
    QHash<QString, QList<KnownSensor>> known;
    QString error;
    if (serials.isEmpty() || !store.knownSensors(serials, &known, &error))
        return;
    for (ReadFile &read : *batch) {
        if (!read.decided && read.run.sensorType.isEmpty())
            read.run.sensorType =
                joinedType(known.value(read.run.serialNumber), read.run.tipKind, read.run.unit);
    }
}

FileImport fromWrite(const WriteResult &written, const QString &error)
{
    if (!written)
        return {FileImport::Verdict::Refused,
                tr("could not be written to the history: %1").arg(error), QString()};
    if (written.kind == WriteResult::AlreadyThere)
        return {FileImport::Verdict::AlreadyThere, QString(), QString()};
    return {FileImport::Verdict::Imported, QString(), QString()};
}

// One file against the history, in a transaction of its own.
FileImport importRead(Store &store, const ReadFile &read)
{
    if (read.decided)
        return *read.decided;
    const QStringList digests = knownDigests(read.bytes);
    QSet<QString> known;
    QHash<QString, QString> paths;
    QString error;
    // Not looked up, it is written: the history keeps a record once.
    if (store.knownRecordDigests(digests, &known, &error, &paths)) {
        if (const auto there = alreadyThere(digests, known, paths, read.run.recordPath))
            return *there;
    }
    const WriteResult written = store.write(read.run, &error);
    return fromWrite(written, error);
}

// The batch's files as importRead() would judge them one after the other,
// in two queries and one transaction; false when the history could not
// answer or the transaction failed, and nothing of the batch was written.
bool importBatch(Store &store, const QList<ReadFile> &batch, QList<FileImport> *verdicts,
                 QString *error)
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
    QHash<QString, QString> paths;
    if (!store.knownRecordDigests(asked, &known, error, &paths))
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
        } else if (const auto there =
                       alreadyThere(digests.at(i), known, paths, read.run.recordPath)) {
            verdicts->append(*there);
        } else {
            if (!read.run.recordDigest.isEmpty()) {
                known.insert(read.run.recordDigest);
                paths.insert(read.run.recordDigest, read.run.recordPath);
            }
            runs << read.run;
            written << i;
            verdicts->append({FileImport::Verdict::Imported, QString(), QString()});
        }
    }
    QList<bool> inserted;
    if (!store.writeAll(runs, &inserted, error))
        return false;
    for (int k = 0; k < written.size(); ++k) {
        if (!inserted.at(k))
            (*verdicts)[written.at(k)] = {FileImport::Verdict::AlreadyThere, QString(), QString()};
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
        if (!file.copyOf.isEmpty())
            result->copies.append({path, file.copyOf});
        break;
    case FileImport::Verdict::Refused:
        result->refused.append({path, file.reason});
        break;
    }
}

// Writes the batch; when it fails as a whole, file by file, so that a file
// the history refuses is reported alone and the others still go in. A
// history whose connection is lost takes nothing more: the batch is left
// alone and result->failure says why; false then.
bool flush(Store &store, QList<ReadFile> *batch, ImportResult *result)
{
    joinKnownSensors(store, batch);
    QList<FileImport> verdicts;
    QString error;
    if (!importBatch(store, *batch, &verdicts, &error)) {
        verdicts.clear();
        for (const ReadFile &read : std::as_const(*batch)) {
            // Checked before each file: a closed connection is not asked again.
            if (!store.isOpen()) {
                result->failure = error;
                batch->clear();
                return false;
            }
            verdicts << importRead(store, read);
            if (verdicts.last().verdict == FileImport::Verdict::Refused && !read.decided)
                error = verdicts.last().reason;
        }
    }
    for (int i = 0; i < batch->size(); ++i)
        count(result, batch->at(i).path, verdicts.at(i));
    batch->clear();
    return true;
}

} // namespace

FileImport importRecordFile(Store &store, const QString &path, const ImportRules &rules)
{
    QList<ReadFile> one{readFile(path, rules)};
    joinKnownSensors(store, &one);
    return importRead(store, one.first());
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
            result.cancelled = result.failure.isEmpty();
            return result;
        }
        batch << readFile(files.at(i), rules);
        if (batch.size() == kImportBatchFiles && !flush(store, &batch, &result))
            return result;
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
    if (!result.failure.isEmpty())
        lines << importStopped(result);
    return lines.join(QLatin1Char('\n'));
}

QString importStopped(const ImportResult &result)
{
    if (result.failure.isEmpty())
        return QString();
    return tr("The import stopped, as the history failed (not imported: %1 of %2 files): %3")
        .arg(result.total - result.imported - result.alreadyThere)
        .arg(result.total)
        .arg(result.failure);
}

} // namespace history
