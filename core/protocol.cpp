#include "core/protocol.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace protocol
{

namespace
{

constexpr char kFieldSeparator = ',';

} // namespace

QByteArray composeCommand(const char *prefix, const QString &value)
{
    QByteArray command(prefix);
    command += value.toLatin1();
    command += kCommandEnd;
    return command;
}

QByteArray dateCommand(const QDate &date)
{
    // The format ends with the command's carriage return.
    return QByteArray(kDateCommand) + date.toString(QLatin1String(kDateFormat)).toLatin1();
}

QString textUpToNul(const QByteArray &bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

void removeCarriageReturns(QByteArray &buffer)
{
    buffer.removeIf([](char c) { return c == kCarriageReturn; });
}

void removeLeadingLineFeeds(QByteArray &buffer)
{
    qsizetype count = 0;
    while (count < buffer.size() && buffer.at(count) == kNewLine)
        ++count;
    buffer.remove(0, count);
}

ReplyLines splitReply(const QByteArray &buffer, int *segmentCount)
{
    const QList<QByteArray> segments = buffer.split(kNewLine);
    if (segmentCount)
        *segmentCount = int(segments.size());

    ReplyLines lines;
    // The last segment is the unfinished tail, never a line.
    const qsizetype complete = qMin<qsizetype>(segments.size() - 1, kReplyLineCount);
    for (qsizetype i = 0; i < complete; ++i)
        lines[size_t(i)] = textUpToNul(segments.at(i));
    return lines;
}

double firmwareVersion(const QString &versionLine)
{
    if (!versionLine.contains(QLatin1String(kVersionMarker), Qt::CaseSensitive))
        return -1;
    const QString number =
        stripPrefix(versionLine, QLatin1String(kVersionPrefix), Qt::CaseInsensitive);
    bool ok = false;
    const double version = number.toDouble(&ok);
    // "nan" and "inf" convert, but are no version: treat them like any other garbage.
    return ok && std::isfinite(version) ? version : 0;
}

QString stripPrefix(const QString &line, const QString &prefix, Qt::CaseSensitivity cs)
{
    QString stripped = line;
    stripped.remove(prefix, cs);
    return stripped;
}

bool newestCompleteLine(const QByteArray &buffer, QString *line, int *position)
{
    // A collection's buffer keeps every line and this runs at every arrival:
    // find the last two line feeds and count the earlier ones, rather than
    // splitting the whole buffer.
    const qsizetype last = buffer.lastIndexOf(kNewLine);
    if (last < 0)
        return false;
    // lastIndexOf(c, -1) would search from the end again.
    const qsizetype previous = last == 0 ? -1 : buffer.lastIndexOf(kNewLine, last - 1);
    if (line)
        *line = textUpToNul(buffer.mid(previous + 1, last - previous - 1));
    if (position)
        *position = int(std::count(buffer.cbegin(), buffer.cbegin() + last, kNewLine));
    return true;
}

bool isDataLine(const QString &line)
{
    return line.count(QLatin1Char(kFieldSeparator)) == kDataLineCommas;
}

qlonglong rawCount(const QString &line)
{
    const qsizetype comma = line.indexOf(QLatin1Char(kFieldSeparator));
    if (comma < 0)
        return 0;
    bool ok = false;
    const qlonglong count = line.left(comma).toLongLong(&ok, 10);
    return ok ? count : 0;
}

QString readingField(const QString &line)
{
    const qsizetype last = line.lastIndexOf(QLatin1Char(kFieldSeparator));
    if (last < 0)
        return {};
    // lastIndexOf(..., -1) would search from the end again.
    const qsizetype before =
        last == 0 ? -1 : line.lastIndexOf(QLatin1Char(kFieldSeparator), last - 1);
    return line.mid(before + 1, last - before - 1);
}

} // namespace protocol
