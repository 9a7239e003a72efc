#include "core/history/trainingserial.h"

#include <QCoreApplication>

namespace history
{

bool isTrainingSerial(const QString &serialNumber)
{
    return serialNumber.trimmed().startsWith(QLatin1String(kTrainingSerialPrefix),
                                             Qt::CaseInsensitive);
}

QString practiceRefusal(const QString &serialNumber)
{
    return QCoreApplication::translate("history",
                                       "a practice record of the training program (serial number "
                                       "%1): it belongs in the training history, not the real one")
        .arg(serialNumber);
}

QString trainingSerial(const QString &modelSerial)
{
    return QLatin1String(kTrainingSerialPrefix) + modelSerial.section(QLatin1Char('-'), -1);
}

} // namespace history
