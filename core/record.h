#pragma once

// The calibration record: its exact text from plain inputs.

#include <QDate>
#include <QLocale>
#include <QString>

struct TipKind;

namespace record
{

// The record's file-name filter, also used when a file is chosen for printing.
inline constexpr char kFileFilter[] = "Text files (*.txt)";
// Added to a record's name typed without an extension.
inline constexpr char kFileSuffix[] = "txt";
// The run date; the format itself ends with a carriage return.
inline constexpr char kRunDateFormat[] = "dd/MMM/yyyy\r";

// The record's fixed pieces, as text() writes them and the history's reader
// reads them back.
inline constexpr char kRunDateLabel[] = "Verification Software Run Date:";
inline constexpr char kPreviousConstants[] = "Previous Constants";
inline constexpr char kSlopePrefix[] = "cslp=";
inline constexpr char kOffsetPrefix[] = "coff=";
inline constexpr char kValidationTitle[] = "Validation Values";
inline constexpr char kVerificationTitle[] = "Verification Values";
// Without a known tip the titles say so and the STANDARD and DELTA columns
// stay empty rather than show invented numbers.
inline constexpr char kUnknownUnit[] = "unknown";
inline constexpr char kColumnHeader[] = "    \tSTANDARD\tSENSOR\t\tDELTA";
inline constexpr char kHighRowStart[] = "High\t   ";
inline constexpr char kLowRowStart[] = "Low \t   ";
inline constexpr char kAfterStandard[] = "  \t";
inline constexpr char kBeforeDelta[] = "  \t\t ";
inline constexpr char kConstantsKept[] = "Operator chose not to update constants";
inline constexpr char kNewConstants[] = "New Constants";

struct Inputs {
    QDate date;
    QLocale locale;     // month abbreviation of the run date
    QString serialLine; // the listing's serial-number line, prefix included
    QString oldSlope;   // texts of the screen's fields, as shown
    QString oldOffset;
    QString validationHigh;
    QString validationLow;
    QString newSlope;
    QString newOffset;
    QString verificationHigh;
    QString verificationLow;
    const TipKind *tip = nullptr; // nullptr: no known tip
    bool validationRun = true;    // true: constants kept, no new-constants block
};

// "dd/MMM/yyyy\r" in the given locale.
QString runDate(const QDate &date, const QLocale &locale);

// standard - reading, in %g form; a reading that is not a number counts as 0.
QString delta(const QString &standard, const QString &reading);

// The whole record, CR LF line ends, no line end after the last line.
QString text(const Inputs &inputs);

} // namespace record
