#include "core/history/verifier.h"

#include "core/history/importer.h"
#include "core/history/recordreader.h"
#include "core/history/runrow.h"
#include "core/history/store.h"

#include <QCoreApplication>
#include <QDir>
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

// A run that holds a record, as the file is told apart by.
struct RecordedRun {
    QString path; // clean absolute path; empty when none was recorded
    QString digest;
};

// Every run that holds a record, looked up by its digest, by the file it
// recorded and by the sensor and date its record names.
struct Recorded {
    QList<RecordedRun> runs;
    QHash<QString, QList<int>> byDigest;
    QHash<QString, QList<int>> byPath;
    QHash<QPair<QString, QDate>, QList<int>> byDay; // serial number, date
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
    if (!query.prepare(
            QStringLiteral("SELECT record_path, record_digest, serial_number,"
                           " record_date, started FROM runs WHERE record_digest <> ?"))) {
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
        const RecordedRun run{path.isEmpty() ? QString() : QDir::cleanPath(path),
                              query.value(1).toString()};
        // A record names the local day of its run.
        const QString recordDate = query.value(3).toString();
        const QDate date = recordDate.isEmpty() ? timeFrom(query.value(4)).toLocalTime().date()
                                                : QDate::fromString(recordDate, Qt::ISODate);
        const int index = int(recorded->runs.size());
        recorded->runs.append(run);
        recorded->byDigest[run.digest].append(index);
        if (!run.path.isEmpty())
            recorded->byPath[run.path].append(index);
        recorded->byDay[{query.value(2).toString(), date}].append(index);
    }
    if (query.lastError().isValid()) {
        *error = query.lastError().text();
        return false;
    }
    return true;
}

using State = VerifiedFile::State;

// What the bytes at `path` are to the history.
State stateOf(const QString &path, const QByteArray &bytes, const Recorded &recorded)
{
    const bool recordedHere = recorded.byPath.contains(path);
    bool elsewhere = false;
    bool withoutPath = false;
    for (const QString &digest : knownDigests(bytes)) {
        for (int index : recorded.byDigest.value(digest)) {
            const QString &runPath = recorded.runs.at(index).path;
            if (runPath == path)
                return State::Unchanged;
            elsewhere = elsewhere || !runPath.isEmpty();
            withoutPath = withoutPath || runPath.isEmpty();
        }
    }
    if (recordedHere && (elsewhere || withoutPath))
        return State::Replaced;
    if (elsewhere)
        return State::Copy;
    if (withoutPath)
        return State::Unchanged;
    if (recordedHere)
        return State::Altered;
    QString serial;
    QDate date;
    if (recordNames(bytes, &serial, &date) && recorded.byDay.contains({serial, date}))
        return State::Altered;
    return State::NotInHistory;
}

VerifiedFile verifyFile(const QString &path, const Recorded &recorded)
{
    VerifiedFile result;
    result.path = path;
    const RecordFile file = readRecordFile(path);
    if (file.state == RecordFile::State::NotRegular ||
        file.state == RecordFile::State::Unreadable) {
        result.state = State::Unreadable;
        result.reason = file.reason;
        return result;
    }
    // Larger than any record: never one the history holds, but a recorded
    // file that grew is altered.
    if (file.state == RecordFile::State::TooLarge) {
        result.state = recorded.byPath.contains(path) ? State::Altered : State::NotInHistory;
        return result;
    }
    result.state = stateOf(path, file.bytes, recorded);
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
           count(VerifiedFile::State::Replaced) == 0 && count(VerifiedFile::State::Unreadable) == 0;
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
