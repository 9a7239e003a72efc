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

// Writes the runs through the store; the number written, or -1 with a reason.
int fillSampleHistory(Store *store, const SampleShape &shape, QString *error);

} // namespace history
