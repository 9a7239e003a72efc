// The receive path of the calibration screen, state by state, without a port:
// the same core calls, in the same order, as its onReadyRead() and the checks
// when a collection's countdown runs out.
//
// Input: byte 0 picks the state the screen starts in and, for the data states,
// the tip in use; byte 1 is the size of the chunks the port hands over (0:
// everything at once); the rest is what the sensor sends. A collecting state
// is judged at the end, as when its countdown runs out.
//
// Each result is compared with a plain re-derivation written here: byte loops
// instead of the core's splitting and searching.

#include "core/listing.h"
#include "core/protocol.h"
#include "core/readings.h"
#include "core/tipkind.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace
{

// The screen's states, in the order byte 0 picks them (the seeds rely on it).
enum class State {
    AwaitingTimeoutReply,
    AwaitingConstantsReply,
    CollectingCalibrationData,
    CollectingHighValues,
    CollectingLowValues,
};
constexpr int kStateCount = 5;
// Tip ids 0 (none) to 3.
constexpr int kTipChoices = 4;
constexpr int kLastTipId = 3;

// Written out again rather than taken from the core, so a changed rule shows.
constexpr double kOldestAcceptedFirmware = 2.12;
constexpr int kLinesBeforeData = 9; // complete lines a collection needs
constexpr int kMeanSamples = 5;

constexpr char kLineFeed = '\n';
constexpr char kReturn = '\r';

bool isCollecting(State state)
{
    return state == State::CollectingCalibrationData || state == State::CollectingHighValues ||
           state == State::CollectingLowValues;
}

QByteArray withoutReturns(const QByteArray &bytes)
{
    QByteArray kept;
    for (char c : bytes) {
        if (c != kReturn)
            kept.append(c);
    }
    return kept;
}

QByteArray withoutLeadingLineFeeds(const QByteArray &bytes)
{
    qsizetype start = 0;
    while (start < bytes.size() && bytes[start] == kLineFeed)
        ++start;
    return bytes.mid(start);
}

// The pieces between line feeds; the last is the unfinished tail.
QList<QByteArray> pieces(const QByteArray &bytes)
{
    QList<QByteArray> result(1);
    for (char c : bytes) {
        if (c == kLineFeed)
            result.append(QByteArray());
        else
            result.last().append(c);
    }
    return result;
}

// 8-bit text up to the first NUL byte.
QString upToNul(const QByteArray &bytes)
{
    QString text;
    for (char c : bytes) {
        if (c == '\0')
            break;
        text.append(QChar(uchar(c)));
    }
    return text;
}

// The line with every occurrence of needle taken out, left to right.
QString withoutEvery(const QString &line, const char *needle, Qt::CaseSensitivity cs)
{
    const QString n = QLatin1String(needle);
    QString kept;
    qsizetype at = 0;
    for (qsizetype hit = line.indexOf(n, 0, cs); hit >= 0; hit = line.indexOf(n, at, cs)) {
        kept += line.mid(at, hit - at);
        at = hit + n.size();
    }
    return kept + line.mid(at);
}

// -1 without "Version" (case-sensitive); else the rest after taking out every
// "Version " (any case) as a finite number, or 0.
double expectedFirmware(const QString &versionLine)
{
    if (!versionLine.contains(QLatin1String("Version"), Qt::CaseSensitive))
        return -1;
    bool ok = false;
    const double number = withoutEvery(versionLine, "Version ", Qt::CaseInsensitive).toDouble(&ok);
    return ok && std::isfinite(number) ? number : 0;
}

// The one table entry whose "-CM" flag and range fit the listing; 0 for none.
int expectedTipId(const QString &typeLine, const QString &rangeLine)
{
    const bool centimetre = typeLine.contains(QLatin1String("-CM"), Qt::CaseSensitive);
    const QString range = withoutEvery(rangeLine, "Maximum Conductivity = ", Qt::CaseSensitive);
    int found = kNoTipKind;
    for (int id = 1; id <= kLastTipId; ++id) {
        const TipKind *tip = tipKindById(id);
        FUZZ_CHECK(tip != nullptr && tip->id == id);
        if (tip->centimetreModel == centimetre && range == QLatin1String(tip->maxConductivity)) {
            FUZZ_CHECK(found == kNoTipKind); // no two tips for one sensor
            found = id;
        }
    }
    return found;
}

bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// Field 1 of a data line as a base-10 count; 0 when it is none or there is no comma.
qlonglong firstCount(const QString &line)
{
    const QStringList fields = line.split(QLatin1Char(','));
    if (fields.size() < 2)
        return 0;
    bool ok = false;
    const qlonglong count = fields.first().toLongLong(&ok, 10);
    return ok ? count : 0;
}

// The screen's readListing() once the listing's end marker is in. Returns
// its verdict and leaves the tip an accepted listing needs in tipId.
listing::Verdict readListing(QByteArray &buffer, int *tipId)
{
    const QByteArray received = buffer;
    int segments = -1;
    const protocol::ReplyLines lines = listing::replyLines(buffer, &segments);

    FUZZ_CHECK(buffer == withoutLeadingLineFeeds(withoutReturns(received)));
    // The marker holds no carriage return and starts with no line feed.
    FUZZ_CHECK(buffer.contains(protocol::kListingEnd));
    const QList<QByteArray> parts = pieces(buffer);
    FUZZ_CHECK(segments == parts.size());
    for (int i = 0; i < protocol::kReplyLineCount; ++i) {
        const QString expected = i < parts.size() - 1 ? upToNul(parts[i]) : QString();
        FUZZ_CHECK(lines[size_t(i)] == expected);
    }

    const listing::Reading reading = listing::read(lines);
    const listing::Properties &p = reading.properties;
    FUZZ_CHECK(p.type == lines[protocol::kTypeLine]);
    FUZZ_CHECK(p.version == lines[protocol::kVersionLine]);
    FUZZ_CHECK(p.serialNumber ==
               withoutEvery(lines[protocol::kSerialLine], "serial number = ", Qt::CaseInsensitive));
    FUZZ_CHECK(p.slope ==
               withoutEvery(lines[protocol::kSlopeLine], "Cslope = ", Qt::CaseInsensitive));
    FUZZ_CHECK(p.offset ==
               withoutEvery(lines[protocol::kOffsetLine], "Coffset = ", Qt::CaseInsensitive));
    FUZZ_CHECK(p.range == withoutEvery(lines[protocol::kRangeLine],
                                       "Maximum Conductivity = ", Qt::CaseSensitive));

    const double firmware = expectedFirmware(lines[protocol::kVersionLine]);
    FUZZ_CHECK(reading.firmware == firmware);
    FUZZ_CHECK((reading.verdict == listing::Verdict::Unreadable) == (firmware <= 0));
    FUZZ_CHECK((reading.verdict == listing::Verdict::FirmwareTooOld) ==
               (firmware > 0 && firmware < kOldestAcceptedFirmware));
    if (reading.verdict != listing::Verdict::Accepted)
        FUZZ_CHECK(reading.tipKind == kNoTipKind);
    if (firmware >= kOldestAcceptedFirmware) {
        const int id = expectedTipId(lines[protocol::kTypeLine], lines[protocol::kRangeLine]);
        FUZZ_CHECK(reading.verdict ==
                   (id == kNoTipKind ? listing::Verdict::UnknownTip : listing::Verdict::Accepted));
        FUZZ_CHECK(reading.tipKind == id);
    }
    if (reading.verdict == listing::Verdict::Accepted) {
        FUZZ_CHECK(reading.firmware >= kOldestAcceptedFirmware);
        FUZZ_CHECK(reading.tipKind >= 1 && reading.tipKind <= kLastTipId);
        const TipKind *tip = tipKindById(reading.tipKind);
        FUZZ_CHECK(tip != nullptr);
        FUZZ_CHECK(tip->centimetreModel ==
                   p.type.contains(QLatin1String("-CM"), Qt::CaseSensitive));
        FUZZ_CHECK(p.range == QLatin1String(tip->maxConductivity));
        *tipId = reading.tipKind;
    }
    return reading.verdict;
}

// The screen's handleDataProgress(), each time bytes come in while collecting.
void echoProgress(QByteArray &buffer)
{
    if (!buffer.contains(kReturn))
        return;
    const qsizetype returns = buffer.count(kReturn);
    const qsizetype before = buffer.size();
    protocol::removeCarriageReturns(buffer);
    FUZZ_CHECK(buffer.size() == before - returns);
    FUZZ_CHECK(!buffer.contains(kReturn));

    QString line;
    int position = -1;
    const bool found = protocol::newestCompleteLine(buffer, &line, &position);

    // The last two line feeds and the count before them, by one pass. The
    // buffer grows all collection long: no copies here.
    qsizetype last = -1;
    qsizetype previous = -1;
    qsizetype lineFeeds = 0;
    for (qsizetype i = 0; i < buffer.size(); ++i) {
        if (buffer[i] == kLineFeed) {
            previous = last;
            last = i;
            ++lineFeeds;
        }
    }
    FUZZ_CHECK(found == (lineFeeds > 0));
    if (!found)
        return;
    FUZZ_CHECK(position == lineFeeds - 1);
    FUZZ_CHECK(line == upToNul(buffer.mid(previous + 1, last - previous - 1)));

    FUZZ_CHECK(protocol::isDataLine(line) == (line.split(QLatin1Char(',')).size() == 4));
}

// The screen's checkCalibrationData() when the countdown runs out.
void judgeCounts(const QByteArray &buffer, const TipKind *tip)
{
    const readings::CountMean mean = readings::newestCountMean(buffer, tip);
    const QList<QByteArray> parts = pieces(withoutReturns(buffer));
    const qsizetype n = parts.size();
    if (n - 1 < kLinesBeforeData || !tip) {
        FUZZ_CHECK(!mean.accepted);
        FUZZ_CHECK(mean.lines.isEmpty() && mean.count == 0 && mean.sum == 0);
        return;
    }

    // Newest first; every line but the last one looked at is inside the window.
    FUZZ_CHECK(!mean.lines.isEmpty() && mean.lines.size() <= kMeanSamples);
    const Window<qlonglong> &window = tip->countWindow;
    qlonglong sum = 0;
    int inside = 0;
    for (qsizetype k = 0; k < mean.lines.size(); ++k) {
        FUZZ_CHECK(mean.lines[k] == upToNul(parts[n - 2 - k]));
        const qlonglong counts = firstCount(mean.lines[k]);
        const bool in = counts >= window.low && counts <= window.high;
        if (k + 1 < mean.lines.size())
            FUZZ_CHECK(in);
        if (in) {
            sum += counts;
            ++inside;
        }
    }
    FUZZ_CHECK(mean.count == inside);
    FUZZ_CHECK(mean.sum == sum);
    if (!mean.accepted) {
        // Refused at the first count outside the window.
        FUZZ_CHECK(inside == mean.lines.size() - 1);
        return;
    }
    FUZZ_CHECK(mean.lines.size() == kMeanSamples && inside == kMeanSamples);
    FUZZ_CHECK(mean.mean == double(sum / kMeanSamples));
    FUZZ_CHECK(mean.mean >= double(window.low) && mean.mean <= double(window.high));
}

// The screen's checkValidationData() when the countdown runs out.
void judgeReading(const QByteArray &buffer, State state, const TipKind *tip)
{
    const readings::Reading reading = readings::newestReading(buffer);
    const QList<QByteArray> parts = pieces(withoutReturns(buffer));
    const qsizetype n = parts.size();
    FUZZ_CHECK(reading.taken == (n - 1 >= kLinesBeforeData));
    if (!reading.taken) {
        FUZZ_CHECK(reading.line.isEmpty() && reading.text.isEmpty() && reading.value == 0);
    } else {
        FUZZ_CHECK(reading.line == upToNul(parts[n - 2]));
        const QStringList fields = reading.line.split(QLatin1Char(','));
        FUZZ_CHECK(reading.text == (fields.size() >= 2 ? fields[fields.size() - 2] : QString()));
        FUZZ_CHECK(sameNumber(reading.value, reading.text.toDouble()));
    }

    const bool high = state == State::CollectingHighValues;
    const bool in = readings::inWindow(
        tip, high ? readings::Position::High : readings::Position::Low, reading.value);
    if (!tip) {
        FUZZ_CHECK(!in);
        return;
    }
    const Window<double> &window = high ? tip->highWindow : tip->lowWindow;
    FUZZ_CHECK(in == (reading.value >= window.low && reading.value <= window.high));
    if (in)
        FUZZ_CHECK(std::isfinite(reading.value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    State state = State(data[0] % kStateCount);
    int tipId = (data[0] / kStateCount) % kTipChoices;
    const size_t chunkSize = data[1] == 0 ? size : data[1];
    const char *bytes = reinterpret_cast<const char *>(data) + 2;
    const size_t length = size - 2;

    QByteArray receiveBuffer;
    bool stopped = false;
    for (size_t at = 0; at < length && !stopped; at += chunkSize) {
        receiveBuffer.append(bytes + at, qsizetype(qMin(chunkSize, length - at)));
        switch (state) {
        case State::AwaitingTimeoutReply:
            if (!receiveBuffer.contains(protocol::kTimeoutReply))
                break;
            state = State::AwaitingConstantsReply;
            receiveBuffer.clear();
            break;
        case State::AwaitingConstantsReply:
            if (!receiveBuffer.contains(protocol::kListingEnd))
                break;
            switch (readListing(receiveBuffer, &tipId)) {
            case listing::Verdict::Accepted:
                state = State::CollectingHighValues;
                receiveBuffer.clear();
                break;
            case listing::Verdict::Unreadable:
                // The operator's Retry: the next reply is read as a listing again.
                receiveBuffer.clear();
                break;
            case listing::Verdict::FirmwareTooOld:
            case listing::Verdict::UnknownTip:
                // The tick timer stays stopped: nothing more is read.
                stopped = true;
                break;
            }
            break;
        case State::CollectingCalibrationData:
        case State::CollectingHighValues:
        case State::CollectingLowValues:
            echoProgress(receiveBuffer);
            break;
        }
    }
    if (stopped || !isCollecting(state))
        return 0;
    const TipKind *tip = tipKindById(tipId);
    FUZZ_CHECK((tip == nullptr) == (tipId == kNoTipKind));
    if (state == State::CollectingCalibrationData)
        judgeCounts(receiveBuffer, tip);
    else
        judgeReading(receiveBuffer, state, tip);
    return 0;
}
