#include "core/record.h"

#include "core/company.h"
#include "core/tipkind.h"

#include <cstdio>

#include <locale.h>

namespace record
{

namespace
{

using company::kMakerName;
using company::kMakerSalesEmail;
using company::kMakerStreet;
using company::kMakerTown;

constexpr char kLineEnd[] = "\r\n";
constexpr char kBlankLineEnd[] = "\r\n\r\n";

QString unitTitle(const char *title, const TipKind *tip)
{
    return QLatin1String(title) + QLatin1String(" (") +
           QLatin1String(tip ? tip->unit : kUnknownUnit) + QLatin1Char(')') +
           QLatin1String(kLineEnd);
}

QString row(const char *start, const char *standard, const QString &reading, const char *end)
{
    const QString standardText = QLatin1String(standard);
    const QString deltaText = standardText.isEmpty() ? QString() : delta(standardText, reading);
    return QLatin1String(start) + standardText + QLatin1String(kAfterStandard) + reading.trimmed() +
           QLatin1String(kBeforeDelta) + deltaText + QLatin1String(end);
}

QString readingsBlock(const char *title, const TipKind *tip, const QString &high,
                      const QString &low)
{
    return unitTitle(title, tip) + QLatin1String(kColumnHeader) + QLatin1String(kLineEnd) +
           row(kHighRowStart, tip ? tip->recordHigh : "", high, kLineEnd) +
           row(kLowRowStart, tip ? tip->recordLow : "", low, kBlankLineEnd);
}

} // namespace

QString runDate(const QDate &date, const QLocale &locale)
{
    return locale.toString(date, QLatin1String(kRunDateFormat));
}

QString delta(const QString &standard, const QString &reading)
{
    // toDouble() gives 0 for a reading that is not a number, as the record wants.
    const double value = standard.toDouble() - reading.toDouble();
    // The C library's %g, which rounds exact ties to even where
    // QString::asprintf rounds them up; in the C locale, for a decimal point
    // whatever the operator's locale.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const locale_t previous = cLocale ? uselocale(cLocale) : locale_t(nullptr);
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    if (previous)
        uselocale(previous);
    return QString::fromLatin1(text);
}

QString text(const Inputs &in)
{
    QString out;
    out += QLatin1String(kMakerName) + QLatin1String(kLineEnd);
    out += QLatin1String(kMakerStreet) + QLatin1String(kLineEnd);
    out += QLatin1String(kMakerTown) + QLatin1String(kBlankLineEnd);
    out +=
        QLatin1String(kRunDateLabel) + runDate(in.date, in.locale) + QLatin1String(kBlankLineEnd);
    out += in.serialLine + QLatin1String(kBlankLineEnd);

    out += QLatin1String(kPreviousConstants) + QLatin1String(kLineEnd);
    out += QLatin1String(kSlopePrefix) + in.oldSlope.trimmed() + QLatin1String(kLineEnd);
    out += QLatin1String(kOffsetPrefix) + in.oldOffset.trimmed() + QLatin1String(kBlankLineEnd);

    out += readingsBlock(kValidationTitle, in.tip, in.validationHigh, in.validationLow);

    if (in.validationRun) {
        out += QLatin1String(kConstantsKept) + QLatin1String(kBlankLineEnd);
    } else {
        out += QLatin1String(kNewConstants) + QLatin1String(kLineEnd);
        out += QLatin1String(kSlopePrefix) + in.newSlope.trimmed() + QLatin1String(kLineEnd);
        out += QLatin1String(kOffsetPrefix) + in.newOffset.trimmed() + QLatin1String(kBlankLineEnd);
        out += readingsBlock(kVerificationTitle, in.tip, in.verificationHigh, in.verificationLow);
    }

    out += QLatin1String("DISCLAIMER:\r\n\r\n");
    out += QLatin1String("This procedure evaluates the electronic accuracy only.\r\n");
    out += QLatin1String("The procedure cannot take into effect changes that may have occurred to "
                         "the Sensor Tip's\r\n");
    out += QLatin1String("physical geometry(K-constant).\r\n\r\n");
    out +=
        QLatin1String("Consult ASTM D2624 Appendix for method calibration requirements.\r\n\r\n");
    out +=
        QLatin1String("Consult ") + QLatin1String(company::kMakerShortName) +
        QLatin1String(" factory for information on how to obtain a Calibration Certificate.\r\n");
    out += QLatin1String("Phone: +") + QLatin1String(company::kMakerPhone) +
           QLatin1String(", Email: ") + QLatin1String(kMakerSalesEmail);
    return out;
}

} // namespace record
