#pragma once

// What the sensor's identification listing means: accepted (with the tip it
// needs), unreadable, firmware too old, or a sensor no verification tip fits.

#include "core/protocol.h"

#include <QString>

namespace listing
{

enum class Verdict {
    Accepted,       // firmware 2.12 or later and a known tip
    Unreadable,     // no firmware version in the listing: ask again
    FirmwareTooOld, // a version above 0 and below 2.12
    UnknownTip,     // firmware fine, but no tip for this type and range
};

// What the screen shows of the sensor.
struct Properties {
    QString type;         // line 0, as sent
    QString version;      // line 1, as sent
    QString serialNumber; // line 2 without "serial number = " (any case)
    QString slope;        // line 4 without "Cslope = " (any case)
    QString offset;       // line 5 without "Coffset = " (any case)
    QString range;        // line 8 without "Maximum Conductivity = "
};

struct Reading {
    Verdict verdict = Verdict::Unreadable;
    double firmware = -1; // -1 without "Version", 0 when it is no number
    int tipKind = 0;      // the tip an accepted listing needs; 0 otherwise
    Properties properties;
};

// The reply as received once its end marker is in: carriage returns and the
// line feeds before its first line removed, then split into its lines.
protocol::ReplyLines replyLines(QByteArray &buffer, int *segmentCount = nullptr);

// The listing's meaning; the firmware rule comes before the tip.
Reading read(const protocol::ReplyLines &lines);

} // namespace listing
