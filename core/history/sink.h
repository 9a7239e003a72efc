#pragma once

// Where the calibration screens of this process send their runs. A program
// installs one at start (the product its history, the training program its
// own); without one, nothing is recorded.

#include "core/history/run.h"

namespace history
{

class Sink
{
public:
    virtual ~Sink() = default;
    // Takes a snapshot of a run; never waits for a database.
    virtual void record(const Run &run) = 0;
};

void installSink(Sink *sink); // not owned; nullptr removes it
Sink *installedSink();

} // namespace history
