#pragma once

// Where a calibration screen sends its runs. A program hands its sink to the
// main window, which hands it to every screen it opens (the product its
// history, the training program its own); a screen without one records
// nothing.

#include "core/history/run.h"

namespace history
{

class Sink
{
public:
    virtual ~Sink() = default;
    // Takes a snapshot of a run; never waits for a database.
    virtual void record(const Run &run) = 0;
    // The reference standard the station names for its runs; none unless the
    // sink's history keeps it.
    virtual QString stationStandard() const { return QString(); }
};

} // namespace history
