#pragma once

// Which of the history window's actions can be used, decided in one place.

namespace history
{

struct WindowState {
    bool historyOpen = false;
    bool sensorShown = false;
    bool importing = false;
    bool exporting = false;
};

struct EnabledActions {
    bool import = false;
    bool exportSensor = false;
    bool exportAll = false;
    bool print = false;
    bool reload = false;
    bool lists = false; // the sensor list, the runs and the filter
};

EnabledActions enabledActions(const WindowState &state);

} // namespace history
