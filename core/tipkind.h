#pragma once

// The three verification tips: the one place where their units, standards and
// acceptance windows are written.

#include <QString>

// An inclusive range.
template <typename T> struct Window {
    T low;
    T high;
    bool contains(T value) const { return value >= low && value <= high; }
};

struct TipKind {
    int id;                      // 1, 2 or 3
    const char *unit;            // "pS/m" or "pS/cm"
    const char *maxConductivity; // the sensor's range that selects this tip
    bool centimetreModel;        // the type line carries "-CM"
    const char *prompt;          // the "User Action Needed" text naming the tip
    const char *choiceTrace;     // the debug line when this tip is chosen
    const char *recordHigh;      // STANDARD texts of the record
    const char *recordLow;
    double highStandard;      // conductivity of the high position
    Window<double> lowWindow; // acceptance windows of readings
    Window<double> highWindow;
    Window<qlonglong> countWindow; // acceptance window of raw counts
};

// 0 when no tip matches.
inline constexpr int kNoTipKind = 0;

// The tip of that id, or nullptr for any other id.
const TipKind *tipKindById(int id);

// Chooses the tip from line 0 (type) and line 8 (range) of the sensor's
// listing; kNoTipKind when the combination matches none.
int chooseTipKindId(const QString &typeLine, const QString &rangeLine);
