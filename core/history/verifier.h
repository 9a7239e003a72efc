#pragma once

// Record files checked against the history: is each file one the history
// holds, unchanged; was it changed since; and which recorded files are gone.

#include <QList>
#include <QString>
#include <QStringList>

namespace history
{

class Store;

struct VerifiedFile {
    enum class State {
        Unchanged,    // a digest of it is one the history holds for a run
        Altered,      // a run recorded this very file, with another digest
        NotInHistory, // neither
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
    // Nothing altered, unreadable or missing.
    bool allWell() const;
};

// Checks every file under the folder (subfolders included) against the
// history. Reads only: neither the files nor the history change.
Verification verifyRecordFiles(const Store &store, const QString &folder);

} // namespace history
