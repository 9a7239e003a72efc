#pragma once

// Reads calibration record files back into runs: both kinds the screen
// writes (constants kept, new constants saved), any tip.

#include "core/history/run.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace history
{

struct RecordReading {
    bool ok = false;
    QString error; // why the bytes are not a record, or which part is damaged
    Run run;       // source Import, key "record:<sha256>", recordDigest set
};

// A record is a few kilobytes; larger files are refused unread, so a reader
// need not load more than this and one byte.
inline constexpr qsizetype kMaxRecordSize = 64 * 1024;

// The bytes of a record file; `path` goes into the run as its record path.
RecordReading readRecord(const QByteArray &bytes, const QString &path = QString());

// The run a record names, from its serial-number and date lines alone: a
// record changed elsewhere (its readings, say) is still told by its run.
// False when the bytes begin as no record or those lines cannot be read.
bool recordNames(const QByteArray &bytes, QString *serialNumber, QDate *date);

// SHA-256 of a record's bytes with every carriage return dropped, and a line
// feed after the last line, lower-case hex: how a file already in the history
// is recognised, so that copies with CR LF, LF or CR CR LF line ends are one
// record.
QString recordDigest(const QByteArray &bytes);
// SHA-256 of the bytes as they are: what histories kept before line ends
// were dropped from the digest.
QString rawRecordDigest(const QByteArray &bytes);
// Every digest a history may know these bytes by: recordDigest(), the raw
// one, and the raw one of the record as the screen writes it (CR LF line
// ends), for a copy whose line ends were changed after an older history
// took in the original. Without repeats.
QStringList knownDigests(const QByteArray &bytes);

} // namespace history
