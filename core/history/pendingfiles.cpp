#include "core/history/pendingfiles.h"

#include "core/history/runformat.h"
#include "core/history/trainingserial.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace history
{

namespace
{
const QLatin1String kErrorField("error");
const QLatin1String kLocationField("location");
const QLatin1String kIdentityField("identity");
// File names longer than this are replaced by a digest of the key.
constexpr int kLongestFileName = 200;
constexpr char kTemporaryPattern[] = ".pending-XXXXXX";
constexpr char kTemporaryNames[] = ".pending-*";
// A temporary file this old was left by a writer that died: each is renamed
// or removed within moments, with the folder's lock held.
constexpr qint64 kStaleTemporarySeconds = 60 * 60;
// A holder of the lock that died leaves it stale after this long.
constexpr int kStaleLockMs = 30000;

QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

QString systemError()
{
    return systemReason(errno);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString damagedFolder(const QString &folder)
{
    return folder + u'/' + QLatin1String(kDamagedFolder);
}

// With the folder's lock held: the temporary files of writers killed in the
// middle of one, which would otherwise stay for ever.
void removeStaleTemporaries(const QString &folder)
{
    const QDateTime staleBefore = QDateTime::currentDateTimeUtc().addSecs(-kStaleTemporarySeconds);
    for (const QString &where : {folder, damagedFolder(folder)}) {
        const QDir dir(where);
        const QFileInfoList found = dir.entryInfoList({QLatin1String(kTemporaryNames)},
                                                      QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo &file : found) {
            if (file.lastModified() < staleBefore && QFile::remove(file.filePath()))
                qWarning().noquote() << tr("history: removed %1, left by a writer that stopped")
                                            .arg(file.filePath());
        }
    }
}

// A lock file that is a link (or anything but a file) is no lock of ours:
// QLockFile would follow it, and a dangling one would hold the folder for
// ever. The link itself goes; what it points at is never touched.
void removeOddLock(const QString &path)
{
    struct stat status {
    };
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode) &&
        ::unlink(name.constData()) == 0)
        qWarning().noquote() << tr("history: removed the lock %1, which was not a file").arg(path);
}
} // namespace

QString locationText(const Location &location)
{
    if (location.kind == Location::Kind::SQLite)
        return QFileInfo(location.path).absoluteFilePath();
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(location.user);
    url.setHost(location.host);
    url.setPort(location.port);
    url.setPath(u'/' + location.database);
    return url.toString();
}

QString pendingPath(const QString &folder, const QString &key)
{
    // The key percent-encoded, so that no two keys share a name and none
    // leaves the folder.
    QByteArray name = key.toUtf8().toPercentEncoding("-_");
    if (name.size() > kLongestFileName)
        name = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex();
    return folder + u'/' + QString::fromLatin1(name) + QLatin1String(kPendingSuffix);
}

bool writePrivateFile(const QString &path, const QByteArray &bytes, QString *error)
{
    const QString folder = QFileInfo(path).absolutePath();
    QByteArray temporary = QFile::encodeName(folder + u'/' + QLatin1String(kTemporaryPattern));
    const int fd = ::mkstemp(temporary.data()); // 0600 whatever the umask
    if (fd < 0) {
        *error = tr("cannot create a file in %1: %2").arg(folder, systemError());
        return false;
    }
    const bool written =
        ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    const QString reason = systemError();
    const bool closed = ::close(fd) == 0;
    if (!written || !closed ||
        ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        *error = tr("cannot write %1: %2").arg(path, written && closed ? systemError() : reason);
        ::unlink(temporary.constData());
        return false;
    }
    syncFolder(folder);
    return true;
}

PendingLock::PendingLock(const QString &folder, int timeoutMs)
    : folder_(folder), lock_(folder + u'/' + QLatin1String(kLockName))
{
    removeOddLock(lock_.fileName());
    lock_.setStaleLockTime(kStaleLockMs);
    locked_ = lock_.tryLock(timeoutMs);
}

QString PendingLock::error() const
{
    switch (lock_.error()) {
    case QLockFile::NoError:
        return QString();
    case QLockFile::LockFailedError:
        return tr("the folder of pending runs %1 is in use by another program").arg(folder_);
    case QLockFile::PermissionError:
        return tr("the folder of pending runs %1 cannot be locked: permission denied").arg(folder_);
    case QLockFile::UnknownError:
        break;
    }
    // QLockFile keeps the system's reason to itself; a full disk is the
    // likely one, and what the operator must hear.
    if (diskFull(folder_))
        return tr("the folder of pending runs %1 cannot be used: %2").arg(folder_, noSpaceLeft());
    return tr("the folder of pending runs %1 cannot be locked").arg(folder_);
}

PendingRead readPendingFile(const QString &path, const QDate &today)
{
    PendingRead read;
    QFile in(path);
    if (!in.exists())
        return read;
    read.state = PendingRead::Refused;
    if (!in.open(QIODevice::ReadOnly)) {
        read.reason = tr("it cannot be read: %1").arg(in.errorString());
        return read;
    }
    const QByteArray bytes = in.readAll();
    PendingEntry &entry = read.entry;
    if (!fromJson(bytes, &entry.run)) {
        read.reason = tr("it holds no run");
        return read;
    }
    const QFileInfo info(path);
    if (QFileInfo(pendingPath(info.path(), entry.run.key)).fileName() != info.fileName()) {
        read.reason = tr("its name is not that of the run it holds (%1)").arg(entry.run.key);
        return read;
    }
    if (const QString why = implausible(entry.run, today); !why.isEmpty()) {
        read.reason = tr("the run it holds is implausible: %1").arg(why);
        return read;
    }
    const QJsonObject object = QJsonDocument::fromJson(bytes).object();
    entry.error = object.value(kErrorField).toString();
    entry.location = object.value(kLocationField).toString();
    entry.identity = object.value(kIdentityField).toString();
    read.state = PendingRead::Ok;
    return read;
}

bool keepPending(const QString &folder, const PendingEntry &entry, QString *error)
{
    const QString path = pendingPath(folder, entry.run.key);
    const PendingRead existing = readPendingFile(path);
    if (existing.state == PendingRead::Ok && existing.entry.run.revision > entry.run.revision)
        return true; // a newer snapshot of this run is already waiting
    QJsonObject object = QJsonDocument::fromJson(toJson(entry.run)).object();
    if (!entry.error.isEmpty())
        object.insert(kErrorField, entry.error);
    object.insert(kLocationField, entry.location);
    if (!entry.identity.isEmpty())
        object.insert(kIdentityField, entry.identity);
    return writePrivateFile(path, QJsonDocument(object).toJson(QJsonDocument::Indented), error);
}

void removeIfNotNewer(const QString &folder, const QString &key, int revision)
{
    const QString path = pendingPath(folder, key);
    const PendingRead file = readPendingFile(path);
    // A newer snapshot recorded meanwhile stays until it is written.
    if (file.state == PendingRead::Ok && file.entry.run.revision <= revision)
        QFile::remove(path);
}

bool setAside(const QString &folder, const QString &path, const QString &reason)
{
    const QString aside = damagedFolder(folder);
    QString error;
    if (!makePrivateFolder(aside, &error)) {
        qWarning().noquote() << tr("history: %1").arg(error);
        return false;
    }
    const QString name = QFileInfo(path).fileName();
    QString target = aside + u'/' + name;
    // An earlier file of the same name set aside stays too.
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = aside + u'/' + name + u'.' + QString::number(n);
    if (!writePrivateFile(target + QLatin1String(kReasonSuffix), reason.toUtf8(), &error) ||
        !QFile::rename(path, target)) {
        qWarning().noquote() << tr("history: the pending file %1 cannot be set aside: %2")
                                    .arg(path, error.isEmpty() ? reason : error);
        return false;
    }
    qWarning().noquote() << tr("history: the pending file %1 was refused and moved to %2: %3")
                                .arg(path, target, reason);
    return true;
}

QList<PendingEntry> readPendingFolder(const QString &folder, bool training)
{
    QList<PendingEntry> list;
    removeStaleTemporaries(folder);
    const QDir dir(folder);
    const QStringList names = dir.entryList({u'*' + QLatin1String(kPendingSuffix)},
                                            QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        const PendingRead read = readPendingFile(path);
        if (read.state == PendingRead::Ok && !training &&
            isTrainingSerial(read.entry.run.serialNumber))
            setAside(folder, path, practiceRefusal(read.entry.run.serialNumber));
        else if (read.state == PendingRead::Ok)
            list << read.entry;
        else if (read.state == PendingRead::Refused)
            setAside(folder, path, read.reason);
    }
    std::stable_sort(list.begin(), list.end(), [](const PendingEntry &a, const PendingEntry &b) {
        return a.run.started < b.run.started;
    });
    return list;
}

QList<DamagedFile> damagedPending(const QString &pendingFolder)
{
    QList<DamagedFile> list;
    const QDir dir(damagedFolder(pendingFolder));
    if (!dir.exists())
        return list;
    const PendingLock lock(pendingFolder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    const QLatin1String suffix(kReasonSuffix);
    for (const QString &name : names) {
        if (name.endsWith(suffix))
            continue;
        DamagedFile file;
        file.path = dir.filePath(name);
        QFile reason(file.path + suffix);
        file.reason = reason.open(QIODevice::ReadOnly) ? QString::fromUtf8(reason.readAll())
                                                       : tr("(no reason kept)");
        list << file;
    }
    return list;
}

QString meantForAnother(const PendingEntry &entry, const QString &location, const QString &identity,
                        bool acceptUnnamed)
{
    if (entry.location.isEmpty())
        return acceptUnnamed ? QString() : tr("meant for another history: it names none");
    if (entry.location != location ||
        (!entry.identity.isEmpty() && !identity.isEmpty() && entry.identity != identity))
        return tr("meant for another history: %1").arg(entry.location);
    return QString();
}

} // namespace history
