#include "gui/history/windowactions.h"

namespace history
{

EnabledActions enabledActions(const WindowState &state)
{
    // An import writes while it runs: nothing else reads or writes meanwhile.
    // One export at a time, each to a file of its own.
    const bool free = state.historyOpen && !state.importing;
    EnabledActions enabled;
    enabled.import = free;
    enabled.reload = free;
    enabled.exportAll = free && !state.exporting;
    enabled.exportSensor = free && !state.exporting && state.sensorShown;
    enabled.print = free && state.sensorShown;
    enabled.lists = !state.importing;
    return enabled;
}

} // namespace history
