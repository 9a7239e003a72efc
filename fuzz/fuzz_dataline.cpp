// One data line's fields: the commas test, the raw count, the reading and the
// acceptance windows of every tip; then the line as the newest of a collection.
//
// Input: one line as it stands in the buffer (read up to its first NUL, as the
// screen does). The fields are also found a second way, by splitting at
// commas, and both ways must agree.

#include "core/protocol.h"
#include "core/readings.h"
#include "core/tipkind.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace
{

using namespace protocol;

constexpr int kTipIds[] = {1, 2, 3};
constexpr QLatin1Char kComma(',');

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line =
        textUpToNul(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    FUZZ_CHECK(!line.contains(QChar(0)));
    const QStringList fields = line.split(kComma);

    FUZZ_CHECK(isDataLine(line) == (fields.size() == kDataLineCommas + 1));

    const QString field = readingField(line);
    FUZZ_CHECK(field == (fields.size() >= 2 ? fields.at(fields.size() - 2) : QString()));

    const qlonglong counts = rawCount(line);
    if (fields.size() < 2) {
        FUZZ_CHECK(counts == 0);
    } else {
        bool ok = false;
        const qlonglong expected = fields.first().toLongLong(&ok, 10);
        FUZZ_CHECK(counts == (ok ? expected : 0));
        // A count written back reads the same.
        if (counts != 0)
            FUZZ_CHECK(rawCount(QString::number(counts) + kComma) == counts);
    }

    const double value = field.toDouble();
    for (int id : kTipIds) {
        const TipKind *tip = tipKindById(id);
        FUZZ_CHECK(tip != nullptr);
        for (readings::Position position : {readings::Position::Low, readings::Position::High}) {
            const Window<double> &window =
                position == readings::Position::High ? tip->highWindow : tip->lowWindow;
            const bool in = readings::inWindow(tip, position, value);
            FUZZ_CHECK(in == (value >= window.low && value <= window.high));
            if (in)
                FUZZ_CHECK(std::isfinite(value));
        }
        if (tip->countWindow.contains(counts))
            FUZZ_CHECK(counts != 0);
    }
    FUZZ_CHECK(!readings::inWindow(nullptr, readings::Position::High, value));

    // The same line as the newest complete one of a buffer.
    QString newest;
    int position = -1;
    const QByteArray buffer = line.toLatin1() + kNewLine;
    FUZZ_CHECK(newestCompleteLine(buffer, &newest, &position));
    FUZZ_CHECK(position == buffer.count(kNewLine) - 1);
    if (!line.contains(QLatin1Char(kNewLine)))
        FUZZ_CHECK(newest == line);

    // A collection of ten such lines, as the sensor ends them: the newest is
    // this line, and five equal counts average to the count itself.
    if (line.contains(QLatin1Char(kNewLine)) || line.contains(QLatin1Char(kCarriageReturn)))
        return 0;
    const QByteArray collection = (line.toLatin1() + kCarriageReturn + kNewLine).repeated(10);
    const readings::Reading reading = readings::newestReading(collection);
    FUZZ_CHECK(reading.taken);
    FUZZ_CHECK(reading.line == line);
    FUZZ_CHECK(reading.text == field);
    FUZZ_CHECK(reading.value == value || (std::isnan(reading.value) && std::isnan(value)));
    for (int id : kTipIds) {
        const TipKind *tip = tipKindById(id);
        const readings::CountMean mean = readings::newestCountMean(collection, tip);
        FUZZ_CHECK(mean.accepted == tip->countWindow.contains(counts));
        FUZZ_CHECK(!mean.lines.isEmpty() && mean.lines.first() == line);
        if (mean.accepted) {
            FUZZ_CHECK(mean.lines.size() == readings::kCalibrationSamples);
            FUZZ_CHECK(mean.sum == counts * readings::kCalibrationSamples);
            FUZZ_CHECK(mean.mean == double(counts));
        } else {
            FUZZ_CHECK(mean.lines.size() == 1 && mean.count == 0);
        }
    }
    return 0;
}
