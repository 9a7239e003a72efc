#pragma once

// The files runs wait in until their database has them: one private file
// per run, written whole or not at all, naming the history it is meant for.
// Whoever reads, compares or removes them holds the folder's lock meanwhile,
// in every process.

#include "core/history/localfile.h"
#include "core/history/location.h"
#include "core/history/run.h"

#include <QList>
#include <QLockFile>
#include <QString>

namespace history
{

// The folder damaged or refused pending files are moved to, under the
// pending folder, each with its reason beside it.
inline constexpr char kDamagedFolder[] = "damaged";
inline constexpr char kReasonSuffix[] = ".reason";
inline constexpr char kPendingSuffix[] = ".json";
inline constexpr char kLockName[] = ".lock";

// A location as stable text without any password: the SQLite file's
// absolute path, or postgresql://user@host:port/database.
QString locationText(const Location &location);

// The one file a run's snapshots wait in.
QString pendingPath(const QString &folder, const QString &key);

// Writes a file of this user's alone (0600) atomically: a temporary file in
// the same folder, flushed to the disk, then renamed over the old one.
bool writePrivateFile(const QString &path, const QByteArray &bytes, QString *error);

// Holds the lock of a pending folder while it lives (if it got it).
class PendingLock
{
public:
    explicit PendingLock(const QString &folder, int timeoutMs = kDefaultWaitMs);
    bool locked() const { return locked_; }
    QString error() const;
    static constexpr int kDefaultWaitMs = 10000;

private:
    QString folder_;
    QLockFile lock_;
    bool locked_ = false;
};

// A run waiting, with where it is meant to go and why it is still waiting.
struct PendingEntry {
    Run run;
    QString error;    // empty when never tried
    QString location; // locationText() of its history; empty in files of old
    QString identity; // Store::identity() of its history, once known
};

// Reading one pending file: Missing (gone meanwhile), Ok, or Refused with
// the reason (unreadable, no run, not its run's name, implausible).
struct PendingRead {
    enum State { Missing, Ok, Refused };
    State state = Missing;
    PendingEntry entry;
    QString reason;
};
PendingRead readPendingFile(const QString &path, const QDate &today = QDate::currentDate());

// Keeps a snapshot in its run's file unless the file holds a newer one
// (then true, nothing written). With the folder's lock held.
bool keepPending(const QString &folder, const PendingEntry &entry, QString *error);

// Removes the run's file if it still holds `revision` or an older one.
// With the folder's lock held.
void removeIfNotNewer(const QString &folder, const QString &key, int revision);

// Moves a refused file to the damaged folder with its reason beside it;
// never deletes it. With the folder's lock held.
bool setAside(const QString &folder, const QString &path, const QString &reason);

// Every pending file, oldest run first; refused ones are set aside (and
// warned about), and so are practice runs unless the folder is `training`'s.
// With the folder's lock held.
QList<PendingEntry> readPendingFolder(const QString &folder, bool training);

// A file set aside, and why.
struct DamagedFile {
    QString path;
    QString reason;
};
// The files set aside in a pending folder, by name. Takes the lock itself.
QList<DamagedFile> damagedPending(const QString &pendingFolder);

// Why an entry must not go into the history at `location` (locationText())
// with `identity`, or empty when it may. A file naming no history came from
// a writer before histories were named, and only `acceptUnnamed` takes it.
QString meantForAnother(const PendingEntry &entry, const QString &location, const QString &identity,
                        bool acceptUnnamed);

} // namespace history
