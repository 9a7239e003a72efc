#pragma once

// The SQLite file of a history: on this computer's own disk, private to
// its user.

#include "core/history/location.h"

#include <QString>

namespace history
{

// The name of a network file system by its statfs() type (NFS, SMB/CIFS,
// FUSE, ...), where SQLite's locking cannot be trusted; empty for a local one.
QString networkFileSystem(qint64 type);

// The system's reason for an error number; a full disk (or quota) in the
// words every part of the history uses for it.
QString systemReason(int error);
// Whether the file system that holds `path` (a file or folder, which need
// not exist yet) has next to no room left for this user: then a failure
// there is told as a full disk, whatever the failing call called it.
bool diskFull(const QString &path);
// "no space left on the device"
QString noSpaceLeft();

// Makes `path` and the folders above it that are missing, each 0700
// whatever the umask, and `path` itself 0700 if it was there already; a
// folder above it that is there keeps its mode. False with the system's
// reason.
bool makePrivateFolder(const QString &path, QString *error);

// Readies the location's SQLite file for opening: refuses a missing folder
// (unless it is the program's own, which is made) and a network file
// system, and creates a missing file 0600, so that SQLite gives its journal
// files that mode too. False with a sentence naming the file.
bool prepareSQLiteFile(const Location &location, QString *error);

} // namespace history
