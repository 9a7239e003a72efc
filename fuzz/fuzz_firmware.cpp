// The identification listing read line by line: the firmware version, the
// prefixes the screen strips and the choice of the verification tip.
//
// Input: a listing as the sensor sends it, split into its lines by the same
// call the screen makes. Every line, the whole input and the input after
// "Version " are each read as a version line, so that the number parser gets
// fuzzed even when the marker is missing.

#include "core/listing.h"
#include "core/protocol.h"
#include "core/tipkind.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace
{

using namespace protocol;

void checkVersion(const QString &line)
{
    const double version = firmwareVersion(line);
    FUZZ_CHECK(std::isfinite(version));
    if (!line.contains(QLatin1String(kVersionMarker), Qt::CaseSensitive)) {
        FUZZ_CHECK(version == -1);
        return;
    }
    // The rest after every "Version " is the number, or the version is 0.
    bool ok = false;
    const double number =
        stripPrefix(line, QLatin1String(kVersionPrefix), Qt::CaseInsensitive).toDouble(&ok);
    if (ok && std::isfinite(number))
        FUZZ_CHECK(version == number);
    else
        FUZZ_CHECK(version == 0);
}

void checkStripped(const QString &line, const char *prefix, Qt::CaseSensitivity cs)
{
    const QString p = QLatin1String(prefix);
    const QString stripped = stripPrefix(line, p, cs);
    FUZZ_CHECK(stripped.size() <= line.size());
    FUZZ_CHECK((line.size() - stripped.size()) % p.size() == 0);
    // Occurrences are removed left to right without overlap, so a prefix in
    // front changes nothing else.
    FUZZ_CHECK(stripPrefix(p + line, p, cs) == stripped);
}

void checkTipChoice(const QString &typeLine, const QString &rangeLine)
{
    const int id = chooseTipKindId(typeLine, rangeLine);
    FUZZ_CHECK(id >= kNoTipKind && id <= 3);
    const TipKind *tip = tipKindById(id);
    FUZZ_CHECK((id == kNoTipKind) == (tip == nullptr));
    if (!tip)
        return;
    FUZZ_CHECK(tip->id == id);
    FUZZ_CHECK(tip->centimetreModel ==
               typeLine.contains(QLatin1String(kCentimetreModelMarker), Qt::CaseSensitive));
    FUZZ_CHECK(stripPrefix(rangeLine, QLatin1String(kRangePrefix), Qt::CaseSensitive) ==
               QLatin1String(tip->maxConductivity));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray buffer(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype returns = buffer.count(kCarriageReturn);
    // As the screen reads it: carriage returns, then the line feeds left at the start.
    int segments = 0;
    const ReplyLines lines = listing::replyLines(buffer, &segments);
    FUZZ_CHECK(!buffer.contains(kCarriageReturn));
    FUZZ_CHECK(!buffer.startsWith(kNewLine));
    FUZZ_CHECK(buffer.size() <= qsizetype(size) - returns);
    FUZZ_CHECK(segments >= 1);
    FUZZ_CHECK(segments == buffer.count(kNewLine) + 1);
    for (int i = 0; i < kReplyLineCount; ++i) {
        const QString &line = lines[size_t(i)];
        if (i >= segments - 1)
            FUZZ_CHECK(line.isEmpty());
        FUZZ_CHECK(!line.contains(QLatin1Char(kNewLine)));
        FUZZ_CHECK(!line.contains(QChar(0)));
        checkVersion(line);
    }

    const QString whole = textUpToNul(buffer);
    checkVersion(whole);
    checkVersion(QLatin1String(kVersionPrefix) + whole);

    checkStripped(lines[kSerialLine], kSerialPrefix, Qt::CaseInsensitive);
    checkStripped(lines[kSlopeLine], kSlopePrefix, Qt::CaseInsensitive);
    checkStripped(lines[kOffsetLine], kOffsetPrefix, Qt::CaseInsensitive);
    checkStripped(lines[kRangeLine], kRangePrefix, Qt::CaseSensitive);

    checkTipChoice(lines[kTypeLine], lines[kRangeLine]);
    // The first line against the rest, so the fuzzer reaches each tip from a short input.
    const qsizetype lineFeed = whole.indexOf(QLatin1Char(kNewLine));
    if (lineFeed >= 0)
        checkTipChoice(whole.left(lineFeed), whole.mid(lineFeed + 1));
    return 0;
}
