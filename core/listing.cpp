#include "core/listing.h"

#include "core/tipkind.h"

namespace listing
{

protocol::ReplyLines replyLines(QByteArray &buffer, int *segmentCount)
{
    protocol::removeCarriageReturns(buffer);
    // The "toff" answer's line end may arrive after its text: no line here.
    protocol::removeLeadingLineFeeds(buffer);
    return protocol::splitReply(buffer, segmentCount);
}

Reading read(const protocol::ReplyLines &lines)
{
    using namespace protocol;
    Reading reading;
    Properties &p = reading.properties;
    p.type = lines[kTypeLine];
    p.version = lines[kVersionLine];
    p.serialNumber =
        stripPrefix(lines[kSerialLine], QLatin1String(kSerialPrefix), Qt::CaseInsensitive);
    p.slope = stripPrefix(lines[kSlopeLine], QLatin1String(kSlopePrefix), Qt::CaseInsensitive);
    p.offset = stripPrefix(lines[kOffsetLine], QLatin1String(kOffsetPrefix), Qt::CaseInsensitive);
    p.range = stripPrefix(lines[kRangeLine], QLatin1String(kRangePrefix), Qt::CaseSensitive);

    reading.firmware = firmwareVersion(lines[kVersionLine]);
    if (reading.firmware <= 0) {
        reading.verdict = Verdict::Unreadable;
    } else if (reading.firmware < kMinimumFirmware) {
        reading.verdict = Verdict::FirmwareTooOld;
    } else {
        reading.tipKind = chooseTipKindId(lines[kTypeLine], lines[kRangeLine]);
        reading.verdict = reading.tipKind == kNoTipKind ? Verdict::UnknownTip : Verdict::Accepted;
    }
    return reading;
}

} // namespace listing
