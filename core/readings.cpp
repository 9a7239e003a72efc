#include "core/readings.h"

#include "core/protocol.h"
#include "core/tipkind.h"

#include <QList>

namespace readings
{

namespace
{
// The buffer's segments, split at line feeds; carriage returns that came in
// after the last progress echo do not count as text.
QList<QByteArray> segmentsOf(QByteArray buffer)
{
    protocol::removeCarriageReturns(buffer);
    return buffer.split(protocol::kNewLine);
}
} // namespace

Reading newestReading(const QByteArray &buffer)
{
    Reading reading;
    const QList<QByteArray> segments = segmentsOf(buffer);
    const qsizetype n = segments.size();
    if (n < kMinimumSegments)
        return reading;
    reading.taken = true;
    reading.line = protocol::textUpToNul(segments.at(n - 2));
    reading.text = protocol::readingField(reading.line);
    reading.value = reading.text.toDouble(); // not a number: 0, outside every window
    return reading;
}

bool inWindow(const TipKind *tip, Position position, double value)
{
    if (!tip)
        return false;
    return (position == Position::High ? tip->highWindow : tip->lowWindow).contains(value);
}

CountMean newestCountMean(const QByteArray &buffer, const TipKind *tip)
{
    CountMean mean;
    const QList<QByteArray> segments = segmentsOf(buffer);
    const qsizetype n = segments.size();
    if (n < kMinimumSegments || !tip)
        return mean;
    for (qsizetype i = n - 2; i > n - 2 - kCalibrationSamples; --i) {
        const QString line = protocol::textUpToNul(segments.at(i));
        mean.lines.append(line);
        const qlonglong counts = protocol::rawCount(line);
        if (!tip->countWindow.contains(counts))
            return mean;
        mean.sum += counts;
        ++mean.count;
    }
    mean.mean = static_cast<double>(mean.sum / mean.count);
    mean.accepted = true;
    return mean;
}

} // namespace readings
