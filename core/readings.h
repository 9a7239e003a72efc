#pragma once

// What a collection of data lines yields: the newest reading and whether it
// lies in its window, or the mean of the newest raw counts for new constants.

#include <QByteArray>
#include <QString>
#include <QStringList>

struct TipKind;

namespace readings
{

// Nine complete lines and the tail: fewer is no data.
inline constexpr int kMinimumSegments = 10;
// Raw counts averaged for new constants.
inline constexpr int kCalibrationSamples = 5;

enum class Position { High, Low };

// The newest complete line's reading field: one sample, not an average.
struct Reading {
    bool taken = false; // false: too few lines
    QString line;       // the newest complete line
    QString text;       // its reading field, as shown
    double value = 0;   // the field as a number; 0 when it is not one
};
Reading newestReading(const QByteArray &buffer);

// True when the value lies in the tip's window for that position (bounds
// included); false without a known tip.
bool inWindow(const TipKind *tip, Position position, double value);

// The mean of the five newest raw counts, refused at the first count outside
// the tip's window (older lines are never looked at).
struct CountMean {
    bool accepted = false;
    QStringList lines; // the lines looked at, newest first
    qlonglong sum = 0;
    int count = 0;
    double mean = 0; // sum / count in integer arithmetic, as the counts are integers
};
CountMean newestCountMean(const QByteArray &buffer, const TipKind *tip);

} // namespace readings
