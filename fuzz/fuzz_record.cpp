// The calibration record built from arbitrary inputs.
//
// Input, carved as libFuzzer's FuzzedDataProvider does: the serial-number line
// and the eight field texts (strings ended by a backslash and another
// character), then from the end whether this is a validation run, the tip id
// (0 for none), the day of the run and the locale of its month name.

#include "core/record.h"
#include "core/tipkind.h"
#include "fuzz/fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringConverter>

#include <cstddef>
#include <cstdint>

namespace
{

constexpr int kLastTipId = 3;
constexpr QLocale::Language kLocales[] = {QLocale::C,      QLocale::English, QLocale::German,
                                          QLocale::French, QLocale::Arabic,  QLocale::Chinese};
constexpr std::size_t kLocaleCount = sizeof(kLocales) / sizeof(kLocales[0]);
// Run dates from 1900 to 2199, and now and then an invalid one.
const qint64 kFirstDay = QDate(1900, 1, 1).toJulianDay();
const qint64 kLastDay = QDate(2199, 12, 31).toJulianDay();

const QString kDisclaimerStart = QStringLiteral("DISCLAIMER:\r\n");
const QString kRunDateLabel = QStringLiteral("Verification Software Run Date:");
const QString kLineEnd = QStringLiteral("\r\n");
const QString kBlankLine = QStringLiteral("\r\n\r\n");

QString fieldText(FuzzedDataProvider &provider)
{
    // Line edits hold any text: read the bytes as UTF-8, invalid sequences included.
    return QString::fromStdString(provider.ConsumeRandomLengthString());
}

// The parts of the record that no input touches, taken from a record of
// empty inputs: the header up to the run date, and the disclaimer to the end.
struct FixedParts {
    QString header;
    QString disclaimer;
};

const FixedParts &fixedParts()
{
    static const FixedParts parts = [] {
        const QString empty = record::text(record::Inputs{});
        FixedParts p;
        p.header = empty.left(empty.indexOf(kRunDateLabel) + kRunDateLabel.size());
        p.disclaimer = empty.mid(empty.lastIndexOf(kDisclaimerStart));
        return p;
    }();
    return parts;
}

QString expectedRow(const char *start, const char *standard, const QString &reading,
                    const QString &end)
{
    const QString standardText = QLatin1String(standard);
    const QString deltaText =
        standardText.isEmpty() ? QString() : record::delta(standardText, reading);
    return QLatin1String(start) + standardText + QStringLiteral("  \t") + reading.trimmed() +
           QStringLiteral("  \t\t ") + deltaText + end;
}

void checkBlock(const QString &text, const record::Inputs &in, const QString &high,
                const QString &low)
{
    const TipKind *tip = in.tip;
    const QString rows = expectedRow("High\t   ", tip ? tip->recordHigh : "", high, kLineEnd) +
                         expectedRow("Low \t   ", tip ? tip->recordLow : "", low, kBlankLine);
    FUZZ_CHECK(text.contains(rows));
    if (tip) {
        // %g of a finite difference, or inf/nan for readings that are not finite.
        for (const QString &reading : {high, low}) {
            const QString delta = record::delta(QLatin1String(tip->recordHigh), reading);
            bool ok = false;
            delta.toDouble(&ok);
            FUZZ_CHECK(ok || delta.contains(QLatin1String("inf")) ||
                       delta.contains(QLatin1String("nan")));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    record::Inputs in;
    // The listing's line: 8-bit text up to a NUL.
    in.serialLine = QString::fromLatin1(provider.ConsumeRandomLengthString().c_str());
    in.oldSlope = fieldText(provider);
    in.oldOffset = fieldText(provider);
    in.validationHigh = fieldText(provider);
    in.validationLow = fieldText(provider);
    in.newSlope = fieldText(provider);
    in.newOffset = fieldText(provider);
    in.verificationHigh = fieldText(provider);
    in.verificationLow = fieldText(provider);
    in.validationRun = provider.ConsumeBool();
    const int tipId = provider.ConsumeIntegralInRange(0, kLastTipId);
    in.tip = tipKindById(tipId);
    FUZZ_CHECK((in.tip == nullptr) == (tipId == kNoTipKind));
    const qint64 day = provider.ConsumeIntegralInRange(kFirstDay - 1, kLastDay);
    in.date = day < kFirstDay ? QDate() : QDate::fromJulianDay(day);
    in.locale =
        QLocale(kLocales[provider.ConsumeIntegralInRange<std::size_t>(0, kLocaleCount - 1)]);

    const QString text = record::text(in);
    const FixedParts &fixed = fixedParts();

    // Header, run date, serial-number line and previous constants, in order.
    const QString opening = fixed.header + record::runDate(in.date, in.locale) + kBlankLine +
                            in.serialLine + kBlankLine + QStringLiteral("Previous Constants") +
                            kLineEnd + QStringLiteral("cslp=") + in.oldSlope.trimmed() + kLineEnd +
                            QStringLiteral("coff=") + in.oldOffset.trimmed() + kBlankLine;
    FUZZ_CHECK(text.startsWith(opening));
    if (in.date.isValid())
        FUZZ_CHECK(record::runDate(in.date, in.locale).endsWith(QLatin1Char('\r')));

    // The disclaimer closes every record, with no line end after it.
    FUZZ_CHECK(text.endsWith(fixed.disclaimer));
    FUZZ_CHECK(!text.endsWith(QLatin1Char('\n')) && !text.endsWith(QLatin1Char('\r')));

    checkBlock(text, in, in.validationHigh, in.validationLow);
    if (!in.validationRun) {
        FUZZ_CHECK(text.contains(QStringLiteral("New Constants") + kLineEnd +
                                 QStringLiteral("cslp=") + in.newSlope.trimmed() + kLineEnd +
                                 QStringLiteral("coff=") + in.newOffset.trimmed() + kBlankLine));
        checkBlock(text, in, in.verificationHigh, in.verificationLow);
    }

    // The file is written in the system's encoding.
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder(text);
    FUZZ_CHECK(!bytes.isEmpty());
    return 0;
}
