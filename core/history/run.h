#pragma once

// One calibration screen run as the history keeps it: who, what sensor, the
// readings as found and as left, the constants before and after, and how the
// run ended. Written first when the sensor has identified itself (as
// "interrupted", so a crash leaves a trace) and again when the run ends.

#include "core/readings.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

struct TipKind;

namespace history
{

enum class Verdict {
    None, // no window applies (no known tip) or no reading taken
    Pass,
    Fail,
};

// One reading with the window it was judged against.
struct Reading {
    QString text; // as shown on the screen
    double value = 0;
    double windowLow = 0;
    double windowHigh = 0;
    Verdict verdict = Verdict::None;
    bool taken() const { return verdict != Verdict::None || !text.isEmpty(); }
};

enum class Outcome {
    Interrupted,            // identified, then no end was recorded (crash, killed)
    ValidatedDateSet,       // readings kept, "cdate=" and "***e" sent
    ValidatedNoRecord,      // readings kept, nothing written to the sensor
    Recalibrated,           // new constants saved with the date
    RecalibrationAbandoned, // new constants sent, previous ones put back
    Cancelled,              // the operator ended the run (see detail: the step)
    LinkLost,               // the port failed (detail: the phase; unsavedConstants)
    UnsupportedSensor,      // no verification tip for its type and range
    FirmwareTooOld,
    NoResponse, // the sensor stopped answering after it had identified itself
};

// A reading as the screen shows it, judged against the tip's window for its
// position; an empty text is no reading.
Reading judgedReading(const TipKind *tip, readings::Position position, const QString &text);

// Stable names, as stored and exported: "interrupted", "validated-date-set", ...
QString outcomeName(Outcome outcome);
std::optional<Outcome> outcomeFromName(const QString &name);
// For people: "Validated, date set", ...
QString outcomeText(Outcome outcome);
// A validation that counts for the due date: the sensor read right, or was
// made to.
bool countsAsValidation(Outcome outcome);

enum class Source {
    Station, // recorded beside a run on this or another station
    Import,  // read back from a calibration record file
};

struct Run {
    QString key;      // unique: a UUID for a recorded run, "record:<sha256>" for an import
    int revision = 0; // grows with every snapshot of the same run
    Source source = Source::Station;

    QDateTime started; // UTC; for a run known only by its date, the start of that local day
    QDateTime ended;   // UTC; invalid while running
    // The date alone, for a run read back from a record file, which names no
    // time: shown without one and never sorted after a timed run of its day.
    QDate date;
    QString station;      // host name
    QString operatorName; // the login name of who ran the screen or the import

    // The sensor, as it identified itself.
    QString sensorType;
    QString serialNumber;
    QString firmware; // the version line, as sent ("Version 2.12")
    QString range;    // maximum conductivity, as sent
    int tipKind = 0;  // 1, 2 or 3; 0 when none fits
    QString unit;     // "pS/m" or "pS/cm"; empty without a tip

    // Constants before the run, as read from the sensor.
    QString oldSlope;
    QString oldOffset;

    // As found: the validation readings.
    Reading foundHigh;
    Reading foundLow;

    // Recalibration: the mean raw count on the high standard, the constants
    // sent, and the verification readings (as left).
    std::optional<double> meanCounts;
    QString newSlope;
    QString newOffset;
    Reading leftHigh;
    Reading leftLow;

    Outcome outcome = Outcome::Interrupted;
    QString outcomeDetail;         // the step cancelled at, the phase the link was lost in
    bool unsavedConstants = false; // the sensor may hold constants never saved
    QString recordPath;            // the calibration record written, if any
    QString recordDigest;          // SHA-256 of the record's bytes (hex), if any
    // The reference standard (verification tip) its station named, by its
    // serial number; empty when the station named none.
    QString standardSerial;

    // Set by the database when this revision was stored (its own clock, UTC);
    // invalid for a run not read back from one.
    QDateTime recordedAt;
    // Shown only, never stored: no end is recorded yet and its station may
    // still be at it (see markInProgress()).
    bool inProgress = false;

    // Set by the database too: on PostgreSQL the login that connected to
    // store this revision, which a station cannot choose; on SQLite, which
    // has no logins, the operator name the station gave.
    QString recordedBy;

    bool dateOnly() const { return date.isValid(); }
    // The day of the run in the local calendar.
    QDate localDate() const { return dateOnly() ? date : started.toLocalTime().date(); }
};

// A run's snapshots are numbered from 1; a run has a few dozen at the most.
inline constexpr int kMaxRevision = 100000;

// Why a run may not enter a history, or empty: no key, a revision out of
// range, or a date after tomorrow (a sensor is never due from the future).
QString implausible(const Run &run, const QDate &today);

// The login name of the user this program runs as.
QString loginName();

// Whether the verification readings are the sensor's as-left state: only
// when the new constants they were taken with were saved. Otherwise they are
// readings of constants put back (or never saved), kept apart.
bool verificationHeld(const Run &run);

// The verification readings of constants the sensor did not keep, labelled
// as such for people ("Verification with constants put back: high 525.0
// (pass), low 200.0 (pass)"); empty when they are the as-left state or none
// was taken.
QString verificationNotKept(const Run &run);

// A run whose newest revision records no end is shown in progress while its
// station may still be at it: that revision is younger than this (the
// longest a run plausibly stays open, prompts and all; the calibration
// screen writes a snapshot at each step) and the station started no run
// after it. Afterwards it was interrupted.
inline constexpr qint64 kInProgressSeconds = 4 * 60 * 60;
bool inProgress(const Run &run, const QDateTime &stationsLatestStart, const QDateTime &now);
// Sets Run::inProgress on each run by that rule; latestStarts: the latest
// start of each station's runs (Store::latestStarts()).
void markInProgress(QList<Run> *runs, const QHash<QString, QDateTime> &latestStarts,
                    const QDateTime &now);
// The same for a run's revisions, oldest first: the newest by that rule, and
// an earlier one without an end was a snapshot of the run going on.
void markRevisionsInProgress(QList<Run> *revisions, const QHash<QString, QDateTime> &latestStarts,
                             const QDateTime &now);
// The outcome as shown and exported: "in-progress" / "In progress" for a
// run in progress, else outcomeName() / outcomeText().
QString shownOutcomeName(const Run &run);
QString shownOutcomeText(const Run &run);
QString inProgressText();

// Whether a reading left out of its window stands: the verification
// readings when new constants were saved, else the as-found ones.
bool leftFailing(const Run &run);

} // namespace history
