#pragma once

// The conversation with the sensor: command texts, reply markers and the
// small parsers for its identification listing and data lines. Everything
// here is pure: no port, no widget.

#include <QByteArray>
#include <QDate>
#include <QString>

#include <array>

namespace protocol
{

// Commands (host to sensor). Every command ends with one carriage return.
inline constexpr char kTimeoutCommand[] = "toff\r";
inline constexpr char kReadConstantsCommand[] = "rcal\r";
inline constexpr char kSaveCommand[] = "***e\r";
inline constexpr char kSlopeCommand[] = "Cslp=";
inline constexpr char kOffsetCommand[] = "Coff=";
inline constexpr char kDateCommand[] = "cdate=";
inline constexpr char kCommandEnd = '\r';
// The carriage return of the date command belongs to the date format.
inline constexpr char kDateFormat[] = "MM/dd/yy\r";

// Reply markers, searched byte-exact and case-sensitive.
inline constexpr char kTimeoutReply[] = "Timeout in 30 minutes";
inline constexpr char kListingEnd[] = "C3 =    0.00000";

// Line separators of everything the sensor sends.
inline constexpr char kNewLine = '\n';
inline constexpr char kCarriageReturn = '\r';

// The identification listing, by line position.
inline constexpr int kReplyLineCount = 13;
inline constexpr int kTypeLine = 0;
inline constexpr int kVersionLine = 1;
inline constexpr int kSerialLine = 2;
inline constexpr int kSlopeLine = 4;
inline constexpr int kOffsetLine = 5;
inline constexpr int kRangeLine = 8;

inline constexpr char kVersionMarker[] = "Version";
inline constexpr char kVersionPrefix[] = "Version ";
inline constexpr char kSerialPrefix[] = "serial number = ";
inline constexpr char kSlopePrefix[] = "Cslope = ";
inline constexpr char kOffsetPrefix[] = "Coffset = ";
inline constexpr char kRangePrefix[] = "Maximum Conductivity = ";
// The type line of the model that measures in pS/cm contains this.
inline constexpr char kCentimetreModelMarker[] = "-CM";

inline constexpr double kMinimumFirmware = 2.12;
// A data line has four fields: three commas.
inline constexpr int kDataLineCommas = 3;

using ReplyLines = std::array<QString, kReplyLineCount>;

// prefix + value (as 8-bit text, unchanged) + "\r".
QByteArray composeCommand(const char *prefix, const QString &value);
// "cdate=" + date as "MM/dd/yy" + "\r".
QByteArray dateCommand(const QDate &date);

// Bytes as text, one byte per character, up to the first NUL byte.
QString textUpToNul(const QByteArray &bytes);

// Removes every carriage return from the buffer, in place.
void removeCarriageReturns(QByteArray &buffer);

// Removes the line feeds at the start of the buffer, in place: the end of
// the previous reply that came after the buffer was cleared for this one.
void removeLeadingLineFeeds(QByteArray &buffer);

// Splits a listing (carriage returns already removed) at line feeds. Every
// segment but the last (the text after the last line feed) is a line; each
// line is cut at its first NUL byte. Only the first kReplyLineCount lines are
// kept; later ones are dropped. Slots without a line stay empty.
ReplyLines splitReply(const QByteArray &buffer, int *segmentCount = nullptr);

// The firmware version of line 1: -1 when the line lacks "Version"
// (case-sensitive); otherwise every "Version " (any case) removed and the rest
// read as a number, 0 when it is not one.
double firmwareVersion(const QString &versionLine);

// The line with every occurrence of prefix removed; nothing trimmed.
QString stripPrefix(const QString &line, const QString &prefix, Qt::CaseSensitivity cs);

// The newest complete line of a data buffer (carriage returns removed): the
// segment before the last, and its zero-based position. False when the buffer
// holds fewer than two segments.
bool newestCompleteLine(const QByteArray &buffer, QString *line, int *position);

// True when a data line has exactly three commas.
bool isDataLine(const QString &line);

// Field 1 of a data line read as a base-10 integer; 0 when it is not one.
qlonglong rawCount(const QString &line);

// The second-to-last comma-separated field (the third of four); the first
// field when there is one comma; empty when there is none.
QString readingField(const QString &line);

} // namespace protocol
