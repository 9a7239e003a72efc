#pragma once

// The timed command sequences that write to the sensor, one command a step:
// what each step sends, which sequence a step belongs to, and whether the
// sensor holds constants that were never saved once it has been sent.
//
//   steps  3-7   save new constants: Cslp=, Coff=, cdate=, ***e
//   steps  5-7   save the calibration date only: cdate=, ***e
//   steps 13-15  send new constants for the verification run: Cslp=, Coff=
//   steps 23-25  restore the previous constants: Cslp=, Coff=
// The last step of each sends nothing and ends the sequence.

#include <QByteArray>
#include <QDate>
#include <QString>

namespace sequence
{

// First steps, as the procedure puts them in commandStep.
inline constexpr int kSaveConstantsStep = 3;
inline constexpr int kSaveDateStep = 5;
inline constexpr int kSendForVerificationStep = 13;
inline constexpr int kRestoreStep = 23;

enum class Kind {
    None,
    Save,                // ends with the record file
    SendForVerification, // ends with the verification run
    Restore,             // ends with "Process Complete - No Constants changed"
};

// The sequence a step belongs to, by its range.
Kind kindOf(int step);

// The texts the commands carry: the screen's constant fields, as shown, and
// the date of the tick that sends the date.
struct Texts {
    QString newSlope;
    QString newOffset;
    QString oldSlope;
    QString oldOffset;
    QDate date;
};

// The command a step sends; empty for the step that ends its sequence.
QByteArray command(int step, const Texts &texts);

// Whether the sensor holds unsaved constants once the step's command went
// out: from the first new slope until the save command, or until the
// previous offset is back.
bool unsavedAfter(int step, bool unsavedBefore);

} // namespace sequence
