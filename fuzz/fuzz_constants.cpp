// New calibration constants from the sensor's previous ones, and their texts.
//
// Input, carved as libFuzzer's FuzzedDataProvider does: the previous slope and
// offset as the screen shows them (strings ended by a backslash and another
// character), then from the end the tip, the mean count inside its window and
// a locale set as the default (numbers must not follow any locale).

#include "core/constants.h"
#include "core/protocol.h"
#include "core/tipkind.h"
#include "fuzz/fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QLocale>
#include <QRegularExpression>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace
{

constexpr int kTipCount = 3;
constexpr QLocale::Language kLocales[] = {QLocale::C, QLocale::English, QLocale::German,
                                          QLocale::French, QLocale::Arabic};
constexpr std::size_t kLocaleCount = sizeof(kLocales) / sizeof(kLocales[0]);

// Fixed point with the given number of decimals: no grouping, no exponent,
// a point whatever the locale.
bool isFixedPoint(const QString &text, int decimals)
{
    const QRegularExpression pattern(QStringLiteral("^-?[0-9]+\\.[0-9]{%1}$").arg(decimals));
    return pattern.match(text).hasMatch();
}

// The text reads back as the value, to half its last decimal.
bool readsBack(const QString &text, double value, int decimals)
{
    const double read = constants::parseConstant(text);
    const double tolerance = 0.5 * std::pow(10.0, -decimals) +
                             4 * std::numeric_limits<double>::epsilon() * std::fabs(value);
    return std::isfinite(read) && std::fabs(read - value) <= tolerance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const QString oldSlope = QString::fromStdString(provider.ConsumeRandomLengthString());
    const QString oldOffset = QString::fromStdString(provider.ConsumeRandomLengthString());
    const TipKind *tip = tipKindById(provider.ConsumeIntegralInRange(1, kTipCount));
    FUZZ_CHECK(tip != nullptr);
    const double highCounts =
        double(provider.ConsumeIntegralInRange(tip->countWindow.low, tip->countWindow.high));
    QLocale::setDefault(
        QLocale(kLocales[provider.ConsumeIntegralInRange<std::size_t>(0, kLocaleCount - 1)]));

    const double slope = constants::parseConstant(oldSlope);
    const double offset = constants::parseConstant(oldOffset);
    const double zero = constants::zeroCounts(offset, slope);
    // Previous constants that are no line give no zero point, and so no new constants.
    if (!std::isfinite(slope) || !std::isfinite(offset) || slope == 0)
        FUZZ_CHECK(!std::isfinite(zero));

    const constants::Pair pair = constants::newConstants(tip->highStandard, highCounts, zero);
    if (!pair.isFinite())
        return 0;
    // The new line reads the high standard at the mean count.
    const double atHigh = pair.slope * highCounts + pair.offset;
    const double scale =
        std::fabs(pair.slope * highCounts) + std::fabs(pair.offset) + tip->highStandard;
    FUZZ_CHECK(std::fabs(atHigh - tip->highStandard) <= 1e-9 * scale);

    const QString slopeText = constants::slopeText(pair.slope);
    const QString offsetText = constants::offsetText(pair.offset);
    FUZZ_CHECK(isFixedPoint(slopeText, constants::kSlopeDecimals));
    FUZZ_CHECK(isFixedPoint(offsetText, constants::kOffsetDecimals));
    FUZZ_CHECK(readsBack(slopeText, pair.slope, constants::kSlopeDecimals));
    FUZZ_CHECK(readsBack(offsetText, pair.offset, constants::kOffsetDecimals));

    // The commands carry the texts byte for byte and end with one carriage return.
    const QByteArray command = protocol::composeCommand(protocol::kSlopeCommand, slopeText);
    FUZZ_CHECK(command == protocol::kSlopeCommand + slopeText.toLatin1() + protocol::kCommandEnd);
    FUZZ_CHECK(command.count(protocol::kCommandEnd) == 1);
    return 0;
}
