#include "core/history/recordreader.h"

#include "core/company.h"
#include "core/protocol.h"
#include "core/readings.h"
#include "core/record.h"
#include "core/tipkind.h"

#include <QCryptographicHash>
#include <QDate>
#include <QLocale>
#include <QStringDecoder>
#include <QStringList>

#include <optional>

namespace history
{

namespace
{

using record::kAfterStandard;
using record::kBeforeDelta;
using record::kConstantsKept;
using record::kHighRowStart;
using record::kLowRowStart;
using record::kNewConstants;
using record::kOffsetPrefix;
using record::kRunDateLabel;
using record::kSlopePrefix;
using record::kUnknownUnit;
using record::kValidationTitle;
using record::kVerificationTitle;

// Where each part stands, counted from 0: no line before the disclaimer is
// optional, so each has its fixed place in either kind.
constexpr int kMakerNameLine = 0;
constexpr int kTownLine = 2;
constexpr int kRunDateLine = 4;
constexpr int kSerialLine = 6;
constexpr int kOldSlopeLine = 9;
constexpr int kOldOffsetLine = 10;
constexpr int kValidationTitleLine = 12;
constexpr int kKindLine = 17;
constexpr int kNewSlopeLine = 18;
constexpr int kNewOffsetLine = 19;
constexpr int kVerificationTitleLine = 21;
// A block's rows follow its title and its column header.
constexpr int kHighRowAfterTitle = 2;
constexpr int kLowRowAfterTitle = 3;

// "dd/MMM/yyyy": the longest month abbreviation is a few characters.
constexpr qsizetype kMaxRunDateLength = 40;
constexpr qsizetype kDayDigits = 2;
constexpr qsizetype kYearDigits = 4;
constexpr int kMonths = 12;
constexpr char kNotFromTheMaker[] =
    "not a calibration record: it does not begin with the maker's name and address";
// Shown of a line in a message.
constexpr qsizetype kQuotedLength = 60;

// The month is named in the writing system's locale. After this system's and
// English, these are tried in order; no two of them give one abbreviation to
// different months.
constexpr QLocale::Language kFallbackLanguages[] = {
    QLocale::German,          QLocale::French,     QLocale::Spanish, QLocale::Italian,
    QLocale::Dutch,           QLocale::Portuguese, QLocale::Swedish, QLocale::Danish,
    QLocale::NorwegianBokmal, QLocale::Finnish,    QLocale::Polish,  QLocale::Czech,
};

QString quoted(const QString &line)
{
    QString shown = line.left(kQuotedLength);
    shown.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    shown.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    if (line.size() > kQuotedLength)
        shown += QLatin1String("...");
    return QLatin1Char('\'') + shown + QLatin1Char('\'');
}

QString lineName(int index)
{
    return QStringLiteral("line %1").arg(index + 1);
}

// Valid UTF-8 is read as such (the system's encoding here); anything else as
// Latin-1, the 8-bit encoding of other systems. A leading byte-order mark is
// dropped.
QString decoded(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

bool allDigits(const QString &text, qsizetype count, int *value)
{
    if (text.size() != count)
        return false;
    int n = 0;
    for (const QChar c : text) {
        if (!c.isDigit())
            return false;
        n = n * 10 + c.digitValue();
    }
    *value = n;
    return true;
}

// The month's abbreviation as a locale writes it in a date, standing alone,
// or without its closing full stop.
bool namesMonth(const QLocale &locale, int month, const QString &name)
{
    for (const QString &known : {locale.monthName(month, QLocale::ShortFormat),
                                 locale.standaloneMonthName(month, QLocale::ShortFormat)}) {
        if (name == known || (known.endsWith(QLatin1Char('.')) && name == known.chopped(1)))
            return true;
    }
    return false;
}

// The run date without its carriage return.
std::optional<QDate> runDateOf(const QString &text)
{
    if (text.size() > kMaxRunDateLength)
        return std::nullopt;
    const QStringList parts = text.split(QLatin1Char('/'));
    int day = 0;
    int year = 0;
    if (parts.size() != 3 || !allDigits(parts.at(0), kDayDigits, &day) ||
        !allDigits(parts.at(2), kYearDigits, &year))
        return std::nullopt;

    QList<QLocale> locales{QLocale::system(), QLocale::c()};
    for (const QLocale::Language language : kFallbackLanguages)
        locales.append(QLocale(language));
    for (const QLocale &locale : locales) {
        for (int month = 1; month <= kMonths; ++month) {
            if (namesMonth(locale, month, parts.at(1))) {
                const QDate date(year, month, day);
                return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
            }
        }
    }
    return std::nullopt;
}

struct Row {
    QString standard;
    QString reading;
    QString delta;
};

// start + STANDARD + "  \t" + SENSOR + "  \t\t " + DELTA. The STANDARD is a
// number and the DELTA a %g text, so neither holds a separator: the first
// one ends the STANDARD and the last one begins the DELTA, whatever the
// SENSOR text holds.
std::optional<Row> rowOf(const QString &line, const char *start)
{
    const QLatin1String startText(start);
    if (!line.startsWith(startText))
        return std::nullopt;
    const QLatin1String afterStandard(kAfterStandard);
    const QLatin1String beforeDelta(kBeforeDelta);
    const qsizetype standardEnd = line.indexOf(afterStandard, startText.size());
    const qsizetype deltaStart = line.lastIndexOf(beforeDelta);
    if (standardEnd < 0 || deltaStart < standardEnd + afterStandard.size())
        return std::nullopt;
    Row row;
    row.standard = line.mid(startText.size(), standardEnd - startText.size());
    row.reading = line.mid(standardEnd + afterStandard.size(),
                           deltaStart - standardEnd - afterStandard.size());
    row.delta = line.mid(deltaStart + beforeDelta.size());
    return row;
}

// The tip whose unit and standards these are: kNoTipKind for the record of no
// known tip, nullopt when they match none.
std::optional<int> tipOf(const QString &unit, const Row &high, const Row &low)
{
    if (unit == QLatin1String(kUnknownUnit))
        return high.standard.isEmpty() && low.standard.isEmpty() ? std::optional<int>(kNoTipKind)
                                                                 : std::nullopt;
    for (int id = kNoTipKind + 1; const TipKind *tip = tipKindById(id); ++id) {
        if (unit == QLatin1String(tip->unit) && high.standard == QLatin1String(tip->recordHigh) &&
            low.standard == QLatin1String(tip->recordLow))
            return id;
    }
    return std::nullopt;
}

class Parser
{
public:
    explicit Parser(const QStringList &lines) : lines_(lines) {}

    bool read(Run *run);
    const QString &error() const { return error_; }

private:
    struct Block {
        int tipKind = kNoTipKind;
        QString unit;
        Row high;
        Row low;
    };

    bool fail(const QString &reason)
    {
        error_ = reason;
        return false;
    }
    // The line, or a failure naming what the record ends before.
    const QString *line(int index, const QString &what);
    bool field(int index, const char *prefix, const QString &what, QString *value);
    bool block(int titleLine, const char *title, const QString &what, Block *block);
    bool checkDelta(int index, const QString &what, const Row &row);
    bool sameAsWritten(const record::Inputs &inputs);

    const QStringList &lines_;
    QString error_;
};

const QString *Parser::line(int index, const QString &what)
{
    if (index < lines_.size())
        return &lines_.at(index);
    fail(QStringLiteral("damaged: the record ends before %1 (%2)").arg(what, lineName(index)));
    return nullptr;
}

bool Parser::field(int index, const char *prefix, const QString &what, QString *value)
{
    const QString *text = line(index, what);
    if (!text)
        return false;
    if (!text->startsWith(QLatin1String(prefix)))
        return fail(QStringLiteral("damaged: %1 should hold %2 ('%3...'), not %4")
                        .arg(lineName(index), what, QLatin1String(prefix), quoted(*text)));
    *value = text->mid(qsizetype(qstrlen(prefix)));
    return true;
}

bool Parser::checkDelta(int index, const QString &what, const Row &row)
{
    // The record leaves the DELTA empty when it has no STANDARD.
    const QString expected =
        row.standard.isEmpty() ? QString() : record::delta(row.standard, row.reading);
    if (row.delta == expected)
        return true;
    return fail(QStringLiteral("damaged: the DELTA of %1 (%2) is %3, but STANDARD %4 and SENSOR "
                               "%5 make it %6")
                    .arg(what, lineName(index), quoted(row.delta), quoted(row.standard),
                         quoted(row.reading), quoted(expected)));
}

bool Parser::block(int titleLine, const char *title, const QString &what, Block *block)
{
    const QString *titleText = line(titleLine, QStringLiteral("the title of the ") + what);
    if (!titleText)
        return false;
    const QString opening = QLatin1String(title) + QLatin1String(" (");
    if (!titleText->startsWith(opening) || !titleText->endsWith(QLatin1Char(')')))
        return fail(QStringLiteral("damaged: %1 should be the title of the %2, not %3")
                        .arg(lineName(titleLine), what, quoted(*titleText)));
    block->unit = titleText->mid(opening.size(), titleText->size() - opening.size() - 1);

    const int highLine = titleLine + kHighRowAfterTitle;
    const int lowLine = titleLine + kLowRowAfterTitle;
    const QString highWhat = QStringLiteral("the High row of the ") + what;
    const QString lowWhat = QStringLiteral("the Low row of the ") + what;
    const QString *highText = line(highLine, highWhat);
    if (!highText)
        return false;
    const std::optional<Row> high = rowOf(*highText, kHighRowStart);
    if (!high)
        return fail(
            QStringLiteral("damaged: %1 is incomplete (%2)").arg(highWhat, lineName(highLine)));
    const QString *lowText = line(lowLine, lowWhat);
    if (!lowText)
        return false;
    const std::optional<Row> low = rowOf(*lowText, kLowRowStart);
    if (!low)
        return fail(
            QStringLiteral("damaged: %1 is incomplete (%2)").arg(lowWhat, lineName(lowLine)));
    block->high = *high;
    block->low = *low;

    const std::optional<int> tip = tipOf(block->unit, block->high, block->low);
    if (!tip)
        return fail(QStringLiteral("damaged: the unit %1 and the standards %2 and %3 of the %4 "
                                   "(%5) match no verification tip")
                        .arg(quoted(block->unit), quoted(block->high.standard),
                             quoted(block->low.standard), what, lineName(titleLine)));
    block->tipKind = *tip;
    return checkDelta(highLine, highWhat, block->high) && checkDelta(lowLine, lowWhat, block->low);
}

// Everything not read above (the header, the blank lines, the column
// headers, the disclaimer) must be as the program writes it, and nothing may
// follow.
bool Parser::sameAsWritten(const record::Inputs &inputs)
{
    const QStringList written =
        record::text(inputs).split(QLatin1String("\r\n"), Qt::KeepEmptyParts);
    const qsizetype common = qMin(written.size(), lines_.size());
    for (int i = 0; i < common; ++i) {
        // The month's name may come from another locale than the one rewritten.
        if (i == kRunDateLine)
            continue;
        if (lines_.at(i) != written.at(i))
            return fail(QStringLiteral("damaged: %1 should read %2, not %3")
                            .arg(lineName(i), quoted(written.at(i)), quoted(lines_.at(i))));
    }
    if (lines_.size() < written.size())
        return fail(QStringLiteral("damaged: the record ends early, before %1 of %2")
                        .arg(lineName(int(lines_.size())))
                        .arg(written.size()));
    if (lines_.size() > written.size())
        return fail(QStringLiteral("damaged: text after the end of the record (%1)")
                        .arg(lineName(int(written.size()))));
    return true;
}

bool Parser::read(Run *run)
{
    const QString header[] = {QLatin1String(company::kMakerName),
                              QLatin1String(company::kMakerStreet),
                              QLatin1String(company::kMakerTown)};
    for (int i = kMakerNameLine; i <= kTownLine; ++i) {
        if (i >= lines_.size() || lines_.at(i) != header[i])
            return fail(QLatin1String(kNotFromTheMaker));
    }
    if (kRunDateLine >= lines_.size() ||
        !lines_.at(kRunDateLine).startsWith(QLatin1String(kRunDateLabel)))
        return fail(QStringLiteral("not a calibration record: no '%1' line")
                        .arg(QLatin1String(kRunDateLabel).chopped(1)));

    // The date format ends with a carriage return of its own: it stays when
    // the line ends become line feeds, unless every carriage return went.
    QString dateText = lines_.at(kRunDateLine).mid(qsizetype(qstrlen(kRunDateLabel)));
    if (dateText.endsWith(QLatin1Char('\r')))
        dateText.chop(1);
    const std::optional<QDate> date = runDateOf(dateText);
    if (!date)
        return fail(QStringLiteral("damaged: the run date %1 (%2) cannot be read")
                        .arg(quoted(dateText), lineName(kRunDateLine)));

    record::Inputs in;
    in.date = *date;
    in.locale = QLocale::c();
    const QString *serialLine = line(kSerialLine, QStringLiteral("the serial-number line"));
    if (!serialLine)
        return false;
    in.serialLine = *serialLine;
    if (!field(kOldSlopeLine, kSlopePrefix, QStringLiteral("the previous slope"), &in.oldSlope) ||
        !field(kOldOffsetLine, kOffsetPrefix, QStringLiteral("the previous offset"), &in.oldOffset))
        return false;

    Block validation;
    if (!block(kValidationTitleLine, kValidationTitle, QStringLiteral("validation values"),
               &validation))
        return false;
    in.tip = tipKindById(validation.tipKind);
    in.validationHigh = validation.high.reading;
    in.validationLow = validation.low.reading;

    const QString *kind = line(kKindLine, QStringLiteral("the new constants or the note that "
                                                         "there are none"));
    if (!kind)
        return false;
    Block verification;
    if (*kind == QLatin1String(kConstantsKept)) {
        in.validationRun = true;
    } else if (*kind == QLatin1String(kNewConstants)) {
        in.validationRun = false;
        if (!field(kNewSlopeLine, kSlopePrefix, QStringLiteral("the new slope"), &in.newSlope) ||
            !field(kNewOffsetLine, kOffsetPrefix, QStringLiteral("the new offset"),
                   &in.newOffset) ||
            !block(kVerificationTitleLine, kVerificationTitle,
                   QStringLiteral("verification values"), &verification))
            return false;
        // One tip serves the whole run.
        if (verification.tipKind != validation.tipKind || verification.unit != validation.unit)
            return fail(QStringLiteral("damaged: the verification values (%1) name another tip "
                                       "than the validation values")
                            .arg(lineName(kVerificationTitleLine)));
        in.verificationHigh = verification.high.reading;
        in.verificationLow = verification.low.reading;
    } else {
        return fail(QStringLiteral("damaged: %1 should read '%2' or '%3', not %4")
                        .arg(lineName(kKindLine), QLatin1String(kConstantsKept),
                             QLatin1String(kNewConstants), quoted(*kind)));
    }

    if (!sameAsWritten(in))
        return false;

    using readings::Position;
    // A record names its day, not a time: kept as a date, and placed at the
    // start of that day here for ordering, never after a timed run of it.
    run->date = in.date;
    run->started = in.date.startOfDay(Qt::LocalTime).toUTC();
    run->ended = run->started;
    // As the screen shows it: every prefix (any case) removed, trimmed.
    run->serialNumber = protocol::stripPrefix(in.serialLine, QLatin1String(protocol::kSerialPrefix),
                                              Qt::CaseInsensitive)
                            .trimmed();
    run->tipKind = validation.tipKind;
    run->unit = in.tip ? QLatin1String(in.tip->unit) : QString();
    run->oldSlope = in.oldSlope;
    run->oldOffset = in.oldOffset;
    run->foundHigh = judgedReading(in.tip, Position::High, in.validationHigh);
    run->foundLow = judgedReading(in.tip, Position::Low, in.validationLow);
    if (in.validationRun) {
        run->outcome = Outcome::ValidatedDateSet;
    } else {
        run->outcome = Outcome::Recalibrated;
        run->newSlope = in.newSlope;
        run->newOffset = in.newOffset;
        run->leftHigh = judgedReading(in.tip, Position::High, in.verificationHigh);
        run->leftLow = judgedReading(in.tip, Position::Low, in.verificationLow);
    }
    return true;
}

// The record's lines without their line ends: CR LF as written, or LF after
// a Unix tool; one line end after the last line is allowed. Nullopt with a
// reason when the line ends are mixed or a carriage return stands elsewhere.
std::optional<QStringList> linesOf(QString text, QString *error)
{
    const bool finalLineEnd = text.endsWith(QLatin1Char('\n'));
    if (finalLineEnd)
        text.chop(1);
    QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    const bool crlf = lines.first().endsWith(QLatin1Char('\r'));
    for (int i = 0; i < lines.size(); ++i) {
        QString &line = lines[i];
        const bool last = i + 1 == lines.size();
        if (crlf && (!last || finalLineEnd)) {
            if (line.endsWith(QLatin1Char('\r'))) {
                line.chop(1);
            } else if (!last) {
                // Only a line feed added after the last line, by a tool or by hand, may be bare.
                *error = QStringLiteral("damaged: %1 ends in a bare line feed, the others in "
                                        "CR LF")
                             .arg(lineName(i));
                return std::nullopt;
            }
        }
        // Only the run date line has a carriage return of its own, at its end.
        const qsizetype cr = line.indexOf(QLatin1Char('\r'));
        if (cr >= 0 && !(i == kRunDateLine && cr == line.size() - 1)) {
            *error = QStringLiteral("damaged: a stray carriage return in %1").arg(lineName(i));
            return std::nullopt;
        }
    }
    return lines;
}

} // namespace

RecordReading readRecord(const QByteArray &bytes, const QString &path)
{
    RecordReading result;
    if (bytes.isEmpty()) {
        result.error = QStringLiteral("not a calibration record: the file is empty");
        return result;
    }
    if (bytes.size() > kMaxRecordSize) {
        result.error =
            QStringLiteral("not a calibration record: too large (%1 bytes)").arg(bytes.size());
        return result;
    }
    if (bytes.contains('\0')) {
        result.error = QStringLiteral("not a calibration record: it holds binary data");
        return result;
    }

    const QString text = decoded(bytes);
    // Before the line ends are judged: a file of another kind is not "damaged".
    if (!text.startsWith(QLatin1String(company::kMakerName))) {
        result.error = QLatin1String(kNotFromTheMaker);
        return result;
    }
    const std::optional<QStringList> lines = linesOf(text, &result.error);
    if (!lines)
        return result;
    Parser parser(*lines);
    Run run;
    if (!parser.read(&run)) {
        result.error = parser.error();
        return result;
    }
    run.source = Source::Import;
    run.revision = 1; // a record is one snapshot of its run
    run.recordDigest = recordDigest(bytes);
    run.key = QLatin1String("record:") + run.recordDigest;
    run.recordPath = path;
    result.run = run;
    result.ok = true;
    return result;
}

bool recordNames(const QByteArray &bytes, QString *serialNumber, QDate *date)
{
    if (bytes.size() > kMaxRecordSize || bytes.contains('\0'))
        return false;
    QString text = decoded(bytes);
    if (!text.startsWith(QLatin1String(company::kMakerName)))
        return false;
    text.remove(QLatin1Char('\r'));
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() <= kSerialLine ||
        !lines.at(kRunDateLine).startsWith(QLatin1String(kRunDateLabel)))
        return false;
    const std::optional<QDate> day =
        runDateOf(lines.at(kRunDateLine).mid(qsizetype(qstrlen(kRunDateLabel))));
    if (!day)
        return false;
    *date = *day;
    // As readRecord() gives it.
    *serialNumber =
        protocol::stripPrefix(lines.at(kSerialLine), QLatin1String(protocol::kSerialPrefix),
                              Qt::CaseInsensitive)
            .trimmed();
    return true;
}

namespace
{
// Without carriage returns, and without the one line end a tool may add
// after the last line (the reader allows it).
QByteArray normalised(const QByteArray &bytes)
{
    QByteArray text = bytes;
    text.replace('\r', QByteArray());
    if (text.endsWith('\n'))
        text.chop(1);
    return text;
}
} // namespace

QString recordDigest(const QByteArray &bytes)
{
    return rawRecordDigest(normalised(bytes));
}

QString rawRecordDigest(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QStringList knownDigests(const QByteArray &bytes)
{
    // As written: CR LF between lines, none after the last, and the run
    // date's own carriage return.
    QList<QByteArray> lines = normalised(bytes).split('\n');
    if (lines.size() > kRunDateLine)
        lines[kRunDateLine] += '\r';
    QStringList digests{recordDigest(bytes), rawRecordDigest(bytes),
                        rawRecordDigest(lines.join("\r\n"))};
    digests.removeDuplicates();
    return digests;
}

} // namespace history
