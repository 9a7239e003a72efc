#pragma once

// New calibration constants from the previous ones and the mean raw count on
// the tip's high standard. The sensor reads conductivity = slope * counts +
// offset; the new line keeps the previous zero point and passes through
// (highCounts, highStandard).

#include <QString>

namespace constants
{

inline constexpr int kSlopeDecimals = 6;
inline constexpr int kOffsetDecimals = 5;

// A line-edit text as a number; NaN when it is not one (blank-surrounded
// numbers are read).
double parseConstant(const QString &text);

// The count at which the previous constants read zero: -(offset / slope).
// Not finite when either is NaN or the slope is 0.
double zeroCounts(double oldOffset, double oldSlope);

struct Pair {
    double slope;
    double offset;
    bool isFinite() const;
};

// slope = highStandard / (highCounts - zeroCounts); offset = -slope * zeroCounts.
Pair newConstants(double highStandard, double highCounts, double zeroCounts);

// Fixed point, 6 and 5 decimals, point separator, no grouping.
QString slopeText(double slope);
QString offsetText(double offset);

} // namespace constants
