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
