// The receive path of the calibration screen, state by state, without a port.
//
// Input: byte 0 picks the state the screen starts in and, for the data states,
// the tip in use; byte 1 is the size of the chunks the port hands over (0:
// everything at once); the rest is what the sensor sends. Each chunk goes
// through the same pure functions, in the same order, as the screen's
// onReadyRead(); a collecting state is judged at the end, as when its
// countdown runs out.

#include "gui/calibrationdlg.h"
#include "core/tipkind.h"
#include "fuzz/fuzzcheck.h"
#include "core/protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace
{

using namespace protocol;

constexpr int kStartStates[] = {
    CalibrationDlg::AwaitingTimeoutReply,      CalibrationDlg::AwaitingConstantsReply,
    CalibrationDlg::CollectingCalibrationData, CalibrationDlg::CollectingHighValues,
    CalibrationDlg::CollectingLowValues,
};
constexpr int kStartStateCount = int(sizeof(kStartStates) / sizeof(kStartStates[0]));
// Tip ids 0 (none) to 3.
constexpr int kTipChoices = 4;

bool isCollecting(int state)
{
    return state == CalibrationDlg::CollectingCalibrationData ||
           state == CalibrationDlg::CollectingHighValues ||
           state == CalibrationDlg::CollectingLowValues;
}

// Segment i of the buffer split at line feeds, found without split().
QByteArray segmentAt(const QByteArray &buffer, qsizetype index)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < index; ++i)
        start = buffer.indexOf(kNewLine, start) + 1;
    const qsizetype end = buffer.indexOf(kNewLine, start);
    return buffer.mid(start, end < 0 ? -1 : end - start);
}

void removeCarriageReturnsChecked(QByteArray &buffer)
{
    const qsizetype before = buffer.size();
    const qsizetype returns = buffer.count(kCarriageReturn);
    removeCarriageReturns(buffer);
    FUZZ_CHECK(!buffer.contains(kCarriageReturn));
    FUZZ_CHECK(buffer.size() == before - returns);
}

void removeLeadingLineFeedsChecked(QByteArray &buffer)
{
    const QByteArray before = buffer;
    removeLeadingLineFeeds(buffer);
    FUZZ_CHECK(!buffer.startsWith(kNewLine));
    FUZZ_CHECK(before.endsWith(buffer));
    FUZZ_CHECK(before.left(before.size() - buffer.size()).count(kNewLine) ==
               before.size() - buffer.size());
}

void checkStripped(const QString &line, const char *prefix, Qt::CaseSensitivity cs)
{
    const QString p = QLatin1String(prefix);
    const QString stripped = stripPrefix(line, p, cs);
    FUZZ_CHECK(stripped.size() <= line.size());
    FUZZ_CHECK((line.size() - stripped.size()) % p.size() == 0);
    if (!line.contains(p, cs))
        FUZZ_CHECK(stripped == line);
}

enum class ListingOutcome { Accepted, CommunicationError, FirmwareTooOld, UnknownTip };

// State 1 once the end marker is in: what the screen decides from the listing.
ListingOutcome readListing(QByteArray &buffer, int *tipId)
{
    removeCarriageReturnsChecked(buffer);
    removeLeadingLineFeedsChecked(buffer);
    // Removing bytes cannot break a marker that holds none of them.
    FUZZ_CHECK(buffer.contains(kListingEnd));

    int segments = 0;
    const ReplyLines lines = splitReply(buffer, &segments);
    FUZZ_CHECK(segments == buffer.count(kNewLine) + 1);
    const int complete = qMin(segments - 1, kReplyLineCount);
    for (int i = 0; i < kReplyLineCount; ++i) {
        const QString &line = lines[size_t(i)];
        if (i >= complete) {
            FUZZ_CHECK(line.isEmpty());
            continue;
        }
        FUZZ_CHECK(!line.contains(QLatin1Char(kNewLine)));
        FUZZ_CHECK(!line.contains(QChar(0)));
        FUZZ_CHECK(line == textUpToNul(segmentAt(buffer, i)));
    }

    const QString &versionLine = lines[kVersionLine];
    const double version = firmwareVersion(versionLine);
    FUZZ_CHECK(std::isfinite(version));
    if (!versionLine.contains(QLatin1String(kVersionMarker), Qt::CaseSensitive))
        FUZZ_CHECK(version == -1);
    if (version <= 0)
        return ListingOutcome::CommunicationError;
    if (version < kMinimumFirmware)
        return ListingOutcome::FirmwareTooOld;

    checkStripped(lines[kSerialLine], kSerialPrefix, Qt::CaseInsensitive);
    checkStripped(lines[kSlopeLine], kSlopePrefix, Qt::CaseInsensitive);
    checkStripped(lines[kOffsetLine], kOffsetPrefix, Qt::CaseInsensitive);
    checkStripped(lines[kRangeLine], kRangePrefix, Qt::CaseSensitive);

    const QString &typeLine = lines[kTypeLine];
    const int id = chooseTipKindId(typeLine, lines[kRangeLine]);
    const TipKind *tip = tipKindById(id);
    FUZZ_CHECK((id == kNoTipKind) == (tip == nullptr));
    if (!tip)
        return ListingOutcome::UnknownTip;
    FUZZ_CHECK(tip->centimetreModel ==
               typeLine.contains(QLatin1String(kCentimetreModelMarker), Qt::CaseSensitive));
    FUZZ_CHECK(stripPrefix(lines[kRangeLine], QLatin1String(kRangePrefix), Qt::CaseSensitive) ==
               QLatin1String(tip->maxConductivity));
    *tipId = id;
    return ListingOutcome::Accepted;
}

// A data state, each time bytes come in: the progress shown.
void showProgress(QByteArray &buffer, int state)
{
    if (!buffer.contains(kCarriageReturn))
        return;
    removeCarriageReturnsChecked(buffer);
    QString line;
    int position = -1;
    const bool found = newestCompleteLine(buffer, &line, &position);
    const qsizetype lineFeeds = buffer.count(kNewLine);
    FUZZ_CHECK(found == (lineFeeds > 0));
    if (!found)
        return;
    FUZZ_CHECK(position == lineFeeds - 1);
    FUZZ_CHECK(line == textUpToNul(segmentAt(buffer, position)));
    if (!isDataLine(line))
        return;
    FUZZ_CHECK(line.count(QLatin1Char(',')) == kDataLineCommas);
    const QString label = state == CalibrationDlg::CollectingCalibrationData
                              ? QStringLiteral("Data Set ")
                              : QStringLiteral("Validation Set ");
    const QString status = label + QString::number(position) + QStringLiteral(" : ") + line;
    FUZZ_CHECK(status.endsWith(line));
}

// A data state when its countdown has run out: the screen's readings checks.
void judge(const QByteArray &received, int state, const TipKind *tip)
{
    QByteArray buffer = received;
    removeCarriageReturnsChecked(buffer);
    const QList<QByteArray> segments = buffer.split(kNewLine);
    const qsizetype n = segments.size();
    if (n < CalibrationDlg::kMinimumDataSegments)
        return;

    if (state == CalibrationDlg::CollectingCalibrationData) {
        if (!tip)
            return;
        qlonglong sum = 0;
        int count = 0;
        for (qsizetype i = n - 2; i > n - 2 - CalibrationDlg::kCalibrationSamples; --i) {
            const qlonglong counts = rawCount(textUpToNul(segments[i]));
            if (!tip->countWindow.contains(counts))
                return;
            sum += counts;
            ++count;
        }
        FUZZ_CHECK(count == CalibrationDlg::kCalibrationSamples);
        // The mean of counts inside the window stays inside it.
        const double highCounts = static_cast<double>(sum / count);
        FUZZ_CHECK(highCounts >= double(tip->countWindow.low) &&
                   highCounts <= double(tip->countWindow.high));
        return;
    }

    const QString field = readingField(textUpToNul(segments[n - 2]));
    FUZZ_CHECK(!field.contains(QLatin1Char(',')));
    const double value = field.toDouble();
    if (!tip)
        return;
    const Window<double> &window =
        state == CalibrationDlg::CollectingHighValues ? tip->highWindow : tip->lowWindow;
    if (window.contains(value))
        FUZZ_CHECK(std::isfinite(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    int state = kStartStates[data[0] % kStartStateCount];
    int tipId = (data[0] / kStartStateCount) % kTipChoices;
    const size_t chunkSize = data[1] == 0 ? size : data[1];
    const char *bytes = reinterpret_cast<const char *>(data) + 2;
    const size_t length = size - 2;

    QByteArray receiveBuffer;
    bool stopped = false;
    for (size_t at = 0; at < length && !stopped; at += chunkSize) {
        receiveBuffer.append(bytes + at, qsizetype(qMin(chunkSize, length - at)));
        switch (state) {
        case CalibrationDlg::AwaitingTimeoutReply:
            if (!receiveBuffer.contains(kTimeoutReply))
                break;
            state = CalibrationDlg::AwaitingConstantsReply;
            receiveBuffer.clear();
            break;
        case CalibrationDlg::AwaitingConstantsReply:
            if (!receiveBuffer.contains(kListingEnd))
                break;
            switch (readListing(receiveBuffer, &tipId)) {
            case ListingOutcome::Accepted:
                state = CalibrationDlg::CollectingHighValues;
                receiveBuffer.clear();
                break;
            case ListingOutcome::CommunicationError:
                // The operator's Retry: the next reply is read as a listing again.
                receiveBuffer.clear();
                break;
            case ListingOutcome::FirmwareTooOld:
            case ListingOutcome::UnknownTip:
                // The tick timer stays stopped: nothing more is read.
                stopped = true;
                break;
            }
            break;
        default:
            showProgress(receiveBuffer, state);
            break;
        }
    }
    if (!stopped && isCollecting(state))
        judge(receiveBuffer, state, tipKindById(tipId));
    return 0;
}
