#include "core/history/verifier.h"

#include "core/history/importer.h"
#include "core/history/recordreader.h"
#include "core/history/store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::Verifier", text);
}

// The digests every run holds, and by record file the digests of the runs
// that recorded it.
struct Recorded {
    QSet<QString> digests;
    QHash<QString, QSet<QString>> byPath; // clean absolute path
};

bool readRecorded(const Store &store, Recorded *recorded, QString *error)
{
    QSqlDatabase db = store.database();
    if (!db.isOpen()) {
        *error = tr("the history is not open");
        return false;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral(
            "SELECT record_path, record_digest FROM runs WHERE record_digest <> ?"))) {
        *error = query.lastError().text();
        return false;
    }
    query.addBindValue(QString(QLatin1String("")));
    if (!query.exec()) {
        *error = query.lastError().text();
        return false;
    }
    while (query.next()) {
        const QString path = query.value(0).toString();
        const QString digest = query.value(1).toString();
        recorded->digests.insert(digest);
        if (!path.isEmpty())
            recorded->byPath[QDir::cleanPath(path)].insert(digest);
    }
    return true;
}

VerifiedFile verifyFile(const QString &path, const Recorded &recorded)
{
    VerifiedFile result;
    result.path = path;
    // Larger than any record: never one the history holds, but a recorded
    // file that grew is altered.
    const RecordFile file = readRecordFile(path);
    if (file.state == RecordFile::State::NotRegular ||
        file.state == RecordFile::State::Unreadable) {
        result.state = VerifiedFile::State::Unreadable;
        result.reason = file.reason;
        return result;
    }
    if (file.state == RecordFile::State::Read) {
        for (const QString &digest : knownDigests(file.bytes)) {
            if (recorded.digests.contains(digest)) {
                result.state = VerifiedFile::State::Unchanged;
                return result;
            }
        }
    }
    result.state = recorded.byPath.contains(QDir::cleanPath(path))
                       ? VerifiedFile::State::Altered
                       : VerifiedFile::State::NotInHistory;
    return result;
}

} // namespace

int Verification::count(VerifiedFile::State state) const
{
    return int(std::count_if(files.begin(), files.end(),
                             [state](const VerifiedFile &f) { return f.state == state; }));
}

bool Verification::allWell() const
{
    return ok && missing.isEmpty() && count(VerifiedFile::State::Altered) == 0 &&
           count(VerifiedFile::State::Unreadable) == 0;
}

Verification verifyRecordFiles(const Store &store, const QString &folder)
{
    Verification result;
    Recorded recorded;
    if (!readRecorded(store, &recorded, &result.error)) {
        result.error = tr("The history could not be read: %1").arg(result.error);
        return result;
    }
    const QString root = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    for (const QString &path : recordFilesUnder(root))
        result.files.append(verifyFile(QDir::cleanPath(path), recorded));

    const QString under = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    for (auto it = recorded.byPath.cbegin(); it != recorded.byPath.cend(); ++it) {
        if (it.key().startsWith(under) && !QFileInfo::exists(it.key()))
            result.missing.append(it.key());
    }
    result.missing.sort();
    result.ok = true;
    return result;
}

} // namespace history
