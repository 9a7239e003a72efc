#include "core/constants.h"

#include <QtNumeric>

#include <cmath>

namespace constants
{

double parseConstant(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    // NaN rather than 0, so that an unreadable constant cannot yield a
    // plausible-looking calibration. "inf" converts, but an infinite slope
    // would put the zero point at 0 counts: no constant either.
    return ok && std::isfinite(value) ? value : qQNaN();
}

double zeroCounts(double oldOffset, double oldSlope)
{
    return -(oldOffset / oldSlope);
}

bool Pair::isFinite() const
{
    return std::isfinite(slope) && std::isfinite(offset);
}

Pair newConstants(double highStandard, double highCounts, double zeroCounts)
{
    Pair pair;
    pair.slope = highStandard / (highCounts - zeroCounts);
    pair.offset = 0.0 - pair.slope * zeroCounts;
    return pair;
}

QString slopeText(double slope)
{
    return QString::number(slope, 'f', kSlopeDecimals);
}

QString offsetText(double offset)
{
    return QString::number(offset, 'f', kOffsetDecimals);
}

} // namespace constants
