#pragma once

// The import of calibration record files, one file at a time: each is read as
// a record; one the history already holds (by any of its digests) is
// recognised and skipped; one that is no record, is damaged, is dated in the
// future or is a practice record bound for the real history is refused with
// the reason, and never stops the import. A record names no sensor type: its
// run takes the one the history knows for its serial number where the range
// and unit agree (joinedType()). No widgets: the window shows the progress,
// the command line prints the result.

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace history
{

class Store;

struct ImportResult {
    struct Refused {
        QString path;
        QString reason;
    };
    int total = 0; // files found
    int imported = 0;
    int alreadyThere = 0;
    QList<Refused> refused; // not records, damaged, unreadable, refused or not written
    // Files already in the history as a record file of another name: the
    // name recorded first stays.
    struct Copy {
        QString path;
        QString recorded;
    };
    QList<Copy> copies;
    bool cancelled = false; // the files after the last one tried were left alone
    // Why the history itself failed (its connection lost): the import stopped
    // there, and the files of the batch under way and after it were left alone.
    QString failure;
    int tried() const { return imported + alreadyThere + int(refused.size()); }
};

// What a history takes in.
struct ImportRules {
    // The training program's history takes its practice records; the real
    // one refuses them.
    bool training = false;
    // Records dated after the day after this are refused.
    QDate today = QDate::currentDate();
};

struct FileImport {
    enum class Verdict { Imported, AlreadyThere, Refused };
    Verdict verdict = Verdict::Refused;
    QString reason; // why refused
    QString copyOf; // already there as this record file, of another name
};

// The regular files under a folder, recursively, in a stable order; links to
// folders are not followed (they could loop).
QStringList recordFilesUnder(const QString &folder);

// A record file's bytes as readRecordFile() got them.
struct RecordFile {
    enum class State {
        Read,       // bytes: the whole file
        TooLarge,   // larger than any record: not read
        NotRegular, // a FIFO, device, socket or folder (also behind a link): skipped unopened
        Unreadable,
    };
    State state = State::Unreadable;
    QByteArray bytes;
    QString reason; // why not read (the system's words when unreadable)
};

// Reads a file found under an import or verify folder. Only a regular file is
// opened, and without waiting: reading a FIFO would wait for its writer for
// ever, and opening a device could act on it.
RecordFile readRecordFile(const QString &path);

// Reads one file and writes its run into the history, unless it is refused
// or already there.
FileImport importRecordFile(Store &store, const QString &path, const ImportRules &rules);

// Imports the files in turn. Before each, goOn (if given) is called with how
// many were done of how many; false stops the import there (cancelled), and
// what was imported stays.
ImportResult importRecordFiles(Store &store, const QStringList &files, const ImportRules &rules,
                               const std::function<bool(int done, int total)> &goOn = {});

// The counts for people, one a line: imported, already there, not imported,
// and how many were not looked at when cancelled or stopped by a failure of
// the history (importStopped()).
QString importSummary(const ImportResult &result);

// When the history failed: one line with the cause and how many files were
// not imported; empty otherwise.
QString importStopped(const ImportResult &result);

} // namespace history
