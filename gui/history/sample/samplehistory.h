#pragma once

// Plausible calibration histories: sensors whose response drifts between
// runs, validations that pass or fail, recalibrations that bring them back,
// and now and then a run cut short. For looking at the history window and for
// timing it on a large history.

#include <QDate>
#include <QString>

namespace history
{

class Store;

struct SampleShape {
    int sensors = 40;
    int runsPerSensor = 8; // each sensor has exactly these, the newest days before today
    quint32 seed = 1;
    QDate today = QDate::currentDate();
};

// What the sample put in the workshop's register beside its runs.
struct SampleRegister {
    int standards = 0;
    int signatures = 0;
    int certificates = 0;
    int retired = 0;   // sensors retired now
    int intervals = 0; // interval settings, of types and of sensors
};

// Writes the runs through the store, and the register beside them: reference
// standards the runs name (some overdue, one withdrawn), signatures on most
// runs, certificates for a share of the finished ones, some sensors retired,
// intervals of a type and of some sensors. The runs are those of the seed
// whatever the register holds. The number of runs written, or -1 with a
// reason; `made` (if given) gets what the register holds.
int fillSampleHistory(Store *store, const SampleShape &shape, QString *error,
                      SampleRegister *made = nullptr);

} // namespace history
