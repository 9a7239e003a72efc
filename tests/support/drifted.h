#pragma once

// The metre sensor whose slope drifted 15 % (ScreenHarness's driftedMetre()):
// its previous constants, the new ones a calibration computes, and the
// readings before and after, as numbers and as the screen and the record
// show them.

#include <QString>

namespace driftedsensor
{

inline constexpr double kOldSlope = 0.002875;
inline constexpr double kOldOffset = -14.375;
inline constexpr double kNewSlope = 0.0025;
inline constexpr double kNewOffset = -12.5;
inline const QString kOldSlopeText = QStringLiteral("0.002875");
inline const QString kOldOffsetText = QStringLiteral("-14.37500");
inline const QString kNewSlopeText = QStringLiteral("0.002500");
inline const QString kNewOffsetText = QStringLiteral("-12.50000");
// Validation (as found) and verification (as left) readings, high and low.
inline const QString kFoundHighText = QStringLiteral("603.8");
inline const QString kFoundLowText = QStringLiteral("230.0");
inline const QString kLeftHighText = QStringLiteral("525.0");
inline const QString kLeftLowText = QStringLiteral("200.0");

} // namespace driftedsensor
