#include "core/history/trainingserial.h"

namespace history
{

bool isTrainingSerial(const QString &serialNumber)
{
    return serialNumber.trimmed().startsWith(QLatin1String(kTrainingSerialPrefix),
                                             Qt::CaseInsensitive);
}

QString trainingSerial(const QString &modelSerial)
{
    return QLatin1String(kTrainingSerialPrefix) + modelSerial.section(QLatin1Char('-'), -1);
}

} // namespace history
