#pragma once

// Reads calibration record files back into runs: both kinds the screen
// writes (constants kept, new constants saved), any tip.

#include "core/history/run.h"

#include <QByteArray>
#include <QString>

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

// SHA-256 of a record's bytes, lower-case hex: how a file already in the
// history is recognised.
QString recordDigest(const QByteArray &bytes);

} // namespace history
