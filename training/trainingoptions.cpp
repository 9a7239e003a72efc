#include "training/trainingoptions.h"

#include "core/history/trainingserial.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace
{

struct ModelName {
    TrainingOptions::Model model;
    const char *name;
    const char *help;
};

const ModelName kModels[] = {
    {TrainingOptions::Model::MetreRange2000, "ps-m-2000", "pS/m, range 2000 (VF tip 200/525)"},
    {TrainingOptions::Model::CentimetreRange2000, "ps-cm-2000",
     "pS/cm, range 2000 (VF tip 225/545)"},
    {TrainingOptions::Model::CentimetreRange10000, "ps-cm-10000",
     "pS/cm, range 10000 (VF tip 105/1055)"},
};

struct FaultName {
    TrainingOptions::Fault fault;
    const char *name;
    const char *help;
};

const FaultName kFaults[] = {
    {TrainingOptions::Fault::None, "none", "a sensor that works"},
    {TrainingOptions::Fault::NoReply, "no-reply", "the sensor answers nothing"},
    {TrainingOptions::Fault::OldFirmware, "old-firmware", "firmware 2.08, which is refused"},
    {TrainingOptions::Fault::BadData, "bad-data",
     "the first reading comes back short (practise Retry)"},
    {TrainingOptions::Fault::Unplug, "unplug",
     "the cable is pulled while the calibration data are collected"},
};

const char kModelOption[] = "model";
const char kDriftOption[] = "drift";
const char kFaultOption[] = "fault";

template <typename Table> QString choices(const Table &table)
{
    QStringList lines;
    for (const auto &entry : table)
        lines.append(QStringLiteral("%1: %2").arg(QLatin1String(entry.name), entry.help));
    return lines.join(QLatin1Char('\n'));
}

template <typename Table> QStringList names(const Table &table)
{
    QStringList list;
    for (const auto &entry : table)
        list.append(QLatin1String(entry.name));
    return list;
}

} // namespace

void addTrainingOptions(QCommandLineParser &parser)
{
    parser.addOption(QCommandLineOption(QLatin1String(kModelOption),
                                        QStringLiteral("The sensor model (default %1):\n%2")
                                            .arg(QLatin1String(kModels[0].name), choices(kModels)),
                                        QStringLiteral("model"), QLatin1String(kModels[0].name)));
    parser.addOption(QCommandLineOption(
        QLatin1String(kDriftOption),
        QStringLiteral("How far the sensor's slope has drifted, as a fraction between -%1 and "
                       "%1 (default %2: both validation readings fail, a calibration "
                       "mends them; 0: a sensor in calibration).")
            .arg(TrainingOptions::kMaximumDrift)
            .arg(TrainingOptions::kDefaultDrift),
        QStringLiteral("fraction"), QString::number(TrainingOptions::kDefaultDrift)));
    parser.addOption(QCommandLineOption(
        QLatin1String(kFaultOption),
        QStringLiteral("A fault to practise (default none):\n%1").arg(choices(kFaults)),
        QStringLiteral("fault"), QLatin1String(kFaults[0].name)));
}

bool readTrainingOptions(const QCommandLineParser &parser, TrainingOptions *options, QString *error)
{
    TrainingOptions result = *options;

    const QString model = parser.value(QLatin1String(kModelOption));
    const auto modelIt = std::find_if(std::begin(kModels), std::end(kModels),
                                      [&](const ModelName &m) { return model == m.name; });
    if (modelIt == std::end(kModels)) {
        *error = QStringLiteral("Unknown model \"%1\"; choose one of %2.")
                     .arg(model, names(kModels).join(QStringLiteral(", ")));
        return false;
    }
    result.model = modelIt->model;

    bool ok = false;
    const QString driftText = parser.value(QLatin1String(kDriftOption));
    const double drift = driftText.toDouble(&ok);
    if (!ok || !std::isfinite(drift) || std::abs(drift) > TrainingOptions::kMaximumDrift) {
        *error = QStringLiteral("Drift \"%1\" is not a fraction between -%2 and %2.")
                     .arg(driftText)
                     .arg(TrainingOptions::kMaximumDrift);
        return false;
    }
    result.drift = drift;

    const QString fault = parser.value(QLatin1String(kFaultOption));
    const auto faultIt = std::find_if(std::begin(kFaults), std::end(kFaults),
                                      [&](const FaultName &f) { return fault == f.name; });
    if (faultIt == std::end(kFaults)) {
        *error = QStringLiteral("Unknown fault \"%1\"; choose one of %2.")
                     .arg(fault, names(kFaults).join(QStringLiteral(", ")));
        return false;
    }
    result.fault = faultIt->fault;

    *options = result;
    return true;
}

SensorProfile profileFor(const TrainingOptions &options)
{
    SensorProfile profile;
    switch (options.model) {
    case TrainingOptions::Model::MetreRange2000:
        profile = metreProfile();
        break;
    case TrainingOptions::Model::CentimetreRange2000:
        profile = centimetreProfile();
        break;
    case TrainingOptions::Model::CentimetreRange10000:
        profile = centimetreWideProfile();
        break;
    }
    profile = drifted(profile, options.drift);
    // Practice records must never pass for a real sensor's.
    profile.serialNumber = history::trainingSerial(profile.serialNumber);
    if (options.fault == TrainingOptions::Fault::OldFirmware)
        profile.firmware = QStringLiteral("2.08");
    return profile;
}

QString describe(const TrainingOptions &options)
{
    QString model;
    for (const ModelName &m : kModels) {
        if (m.model == options.model)
            model = QLatin1String(m.name);
    }
    QString fault;
    for (const FaultName &f : kFaults) {
        if (f.fault == options.fault)
            fault = QLatin1String(f.name);
    }
    return QStringLiteral("%1, drift %2, fault %3").arg(model).arg(options.drift).arg(fault);
}
