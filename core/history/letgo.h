#pragma once

// Threads stuck in a database call at exit are let go rather than awaited
// (a running QThread cannot be destroyed). What they use stays allocated on
// purpose, and reachable from here, so that a leak checker does not take a
// deliberate choice for a lost object.

namespace history
{

void keepReachable(const void *object);

} // namespace history
