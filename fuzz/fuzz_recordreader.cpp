// Reading a calibration record from arbitrary bytes.
//
// Whatever the bytes, the reader returns; when it reads a run, the record the
// program would write for that run reads back to the same run.

#include "core/history/recordreader.h"
#include "core/protocol.h"
#include "core/record.h"
#include "core/tipkind.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace
{

bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

void checkSameReading(const history::Reading &a, const history::Reading &b)
{
    FUZZ_CHECK(a.text == b.text);
    FUZZ_CHECK(sameNumber(a.value, b.value));
    FUZZ_CHECK(a.windowLow == b.windowLow && a.windowHigh == b.windowHigh);
    FUZZ_CHECK(a.verdict == b.verdict);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const history::RecordReading first = history::readRecord(bytes, QStringLiteral("f.txt"));
    FUZZ_CHECK(first.ok == first.error.isEmpty());
    if (!first.ok)
        return 0;
    const history::Run &run = first.run;
    FUZZ_CHECK(run.source == history::Source::Import);
    FUZZ_CHECK(run.key == QLatin1String("record:") + history::recordDigest(bytes));
    FUZZ_CHECK(run.started.isValid() && run.started == run.ended);
    FUZZ_CHECK((tipKindById(run.tipKind) != nullptr) == (run.tipKind != kNoTipKind));

    // The record keeps the serial-number line, the run only the number: a
    // line whose prefix removal left a prefix behind cannot be rebuilt.
    const QLatin1String serialPrefix(protocol::kSerialPrefix);
    if (run.serialNumber.contains(serialPrefix, Qt::CaseInsensitive))
        return 0;

    record::Inputs in;
    in.date = run.started.date();
    in.locale = QLocale::c();
    in.serialLine = serialPrefix + run.serialNumber;
    in.oldSlope = run.oldSlope;
    in.oldOffset = run.oldOffset;
    in.validationHigh = run.foundHigh.text;
    in.validationLow = run.foundLow.text;
    in.newSlope = run.newSlope;
    in.newOffset = run.newOffset;
    in.verificationHigh = run.leftHigh.text;
    in.verificationLow = run.leftLow.text;
    in.tip = tipKindById(run.tipKind);
    in.validationRun = run.outcome == history::Outcome::ValidatedDateSet;
    FUZZ_CHECK(in.validationRun || run.outcome == history::Outcome::Recalibrated);

    // UTF-8 keeps every character the first reading produced.
    const QByteArray rewritten = record::text(in).toUtf8();
    if (rewritten.size() > history::kMaxRecordSize)
        return 0;
    const history::RecordReading second = history::readRecord(rewritten, QStringLiteral("f.txt"));
    if (!second.ok)
        std::fprintf(stderr, "rewritten record refused: %s\n", qPrintable(second.error));
    FUZZ_CHECK(second.ok);
    const history::Run &again = second.run;
    FUZZ_CHECK(again.started == run.started && again.ended == run.ended);
    FUZZ_CHECK(again.serialNumber == run.serialNumber);
    FUZZ_CHECK(again.tipKind == run.tipKind && again.unit == run.unit);
    FUZZ_CHECK(again.oldSlope == run.oldSlope && again.oldOffset == run.oldOffset);
    FUZZ_CHECK(again.newSlope == run.newSlope && again.newOffset == run.newOffset);
    FUZZ_CHECK(again.outcome == run.outcome);
    checkSameReading(again.foundHigh, run.foundHigh);
    checkSameReading(again.foundLow, run.foundLow);
    checkSameReading(again.leftHigh, run.leftHigh);
    checkSameReading(again.leftLow, run.leftLow);
    return 0;
}
