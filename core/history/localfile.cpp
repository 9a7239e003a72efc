#include "core/history/localfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace history
{

namespace
{
QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

// statfs() f_type values of network file systems (linux/magic.h and the
// file systems' own sources).
struct NetworkType {
    qint64 type;
    const char *name;
};
constexpr NetworkType kNetworkTypes[] = {
    {0x6969, "NFS"},        {0x517B, "SMB"},      {0xFF534D42, "CIFS"}, {0xFE534D42, "SMB2"},
    {0x65735546, "FUSE"},   {0x01021997, "9P"},   {0x5346414F, "AFS"},  {0x6B414653, "AFS"},
    {0x00C36400, "Ceph"},   {0x73757245, "Coda"}, {0x564C, "NCP"},      {0x47504653, "GPFS"},
    {0x0BD00BD0, "Lustre"},
};

QString systemError()
{
    return systemReason(errno);
}

// Less room than this counts as a full disk: SQLite needs a few pages for its
// journal, and a pending file a few kilobytes.
constexpr qint64 kFullDiskBytes = 256 * 1024;

QString sentence(const Location &location, const QString &text)
{
    return location.describe() + QLatin1String(": ") + text;
}
} // namespace

QString noSpaceLeft()
{
    return tr("no space left on the device");
}

QString systemReason(int error)
{
    if (error == ENOSPC || error == EDQUOT)
        return noSpaceLeft();
    return QString::fromLocal8Bit(std::strerror(error));
}

bool diskFull(const QString &path)
{
    // The nearest folder that is there.
    QFileInfo info(QFileInfo(path).absoluteFilePath());
    while (!info.exists() && !info.isRoot())
        info = QFileInfo(info.path());
    struct statvfs system = {};
    if (::statvfs(QFile::encodeName(info.filePath()).constData(), &system) != 0)
        return false;
    return qint64(system.f_bavail) * qint64(system.f_frsize) < kFullDiskBytes;
}

QString networkFileSystem(qint64 type)
{
    for (const NetworkType &known : kNetworkTypes) {
        if (known.type == type)
            return QLatin1String(known.name);
    }
    return QString();
}

namespace
{
// Makes `absolute` and the folders above it that are missing, each 0700; a
// folder that is there is left as it is: a parent such as ~/.local/share,
// perhaps a group's, is not ours to change.
bool makeMissingFolders(const QString &absolute, QString *error)
{
    if (QFileInfo(absolute).isDir())
        return true;
    const QString parent = QFileInfo(absolute).path();
    if (parent != absolute && !makeMissingFolders(parent, error))
        return false;
    const QByteArray name = QFile::encodeName(absolute);
    if (::mkdir(name.constData(), kPrivateFolderMode) != 0) {
        if (errno == EEXIST)
            return true; // made meanwhile by someone else: not ours
        *error = tr("cannot make the folder %1: %2")
                     .arg(QDir::toNativeSeparators(absolute), systemError());
        return false;
    }
    // The umask may have taken bits from the owner too.
    ::chmod(name.constData(), kPrivateFolderMode);
    return true;
}
} // namespace

bool makePrivateFolder(const QString &path, QString *error)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!makeMissingFolders(absolute, error))
        return false;
    // A folder of an older version, or made by hand: this user's alone now.
    if (::chmod(QFile::encodeName(absolute).constData(), kPrivateFolderMode) != 0) {
        *error = tr("cannot make the folder %1 private: %2")
                     .arg(QDir::toNativeSeparators(absolute), systemError());
        return false;
    }
    return true;
}

bool prepareSQLiteFile(const Location &location, QString *error)
{
    const QString folder = QFileInfo(location.path).absolutePath();
    if (location.createFolder) {
        QString why;
        if (!makePrivateFolder(folder, &why)) {
            *error = sentence(location, why + u'.');
            return false;
        }
        // The program's own folder, perhaps made before by another part of
        // it (the pending runs) or an older version: its user's alone.
        ::chmod(QFile::encodeName(folder).constData(), kPrivateFolderMode);
    } else if (!QFileInfo(folder).isDir()) {
        *error = sentence(
            location, tr("its folder %1 does not exist.").arg(QDir::toNativeSeparators(folder)));
        return false;
    }
    struct statfs system = {};
    if (::statfs(QFile::encodeName(folder).constData(), &system) == 0) {
        const QString network = networkFileSystem(qint64(system.f_type));
        if (!network.isEmpty()) {
            *error = sentence(location,
                              tr("it is on a network file system (%1), where SQLite cannot lock "
                                 "it safely; use PostgreSQL to share a history between stations.")
                                  .arg(network));
            return false;
        }
    }
    // A file that is there keeps its mode: its owner may have chosen it.
    const QByteArray name = QFile::encodeName(location.path);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0) {
        if (errno == EEXIST)
            return true;
        *error = sentence(location, tr("cannot create it: %1.").arg(systemError()));
        return false;
    }
    ::fchmod(fd, kPrivateFileMode);
    ::close(fd);
    return true;
}

} // namespace history
