#pragma once

// Record files checked against the history: is each file one the history
// holds, unchanged; was it changed since; and which recorded files are gone.
// A file is told by the run it describes (the serial number and date written
// in it): of two runs of one sensor on one date, the one whose digest it has,
// else the one that recorded this very file.

#include <QList>
#include <QString>
#include <QStringList>

namespace history
{

class Store;

struct VerifiedFile {
    enum class State {
        Unchanged, // the record a run holds, where that run recorded it
        // It names a recorded run (its serial number and date) but has none
        // of its digests, or a run recorded this very file, with another digest.
        Altered,
        Replaced,     // a run recorded this file, which now holds another run's record
        Copy,         // another file of a run that recorded its record elsewhere
        NotInHistory, // none of these
        Unreadable,   // could not be read (reason says why)
    };
    QString path; // absolute
    State state = State::NotInHistory;
    QString reason;
};

struct Verification {
    bool ok = false; // false: the history could not be read (error says why)
    QString error;
    QList<VerifiedFile> files; // every file under the folder, in a stable order
    // Record paths of runs under the folder, with a digest, whose file is not
    // there; sorted, each once.
    QStringList missing;

    int count(VerifiedFile::State state) const;
    // Nothing altered, replaced, unreadable or missing.
    bool allWell() const;
};

// Checks every file under the folder (subfolders included) against the
// history. Reads only: neither the files nor the history change.
Verification verifyRecordFiles(const Store &store, const QString &folder);

} // namespace history
