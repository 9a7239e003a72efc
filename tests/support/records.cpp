#include "tests/support/records.h"

#include "core/tipkind.h"
#include "tests/support/drifted.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringEncoder>

namespace testrecords
{

record::Inputs driftedInputs(const QString &serial, const QDate &date, bool newConstants, int tipId)
{
    record::Inputs in;
    in.date = date;
    in.locale = QLocale(QLocale::English);
    in.serialLine = "serial number = " + serial;
    in.oldSlope = driftedsensor::kOldSlopeText;
    in.oldOffset = driftedsensor::kOldOffsetText;
    in.validationHigh = driftedsensor::kFoundHighText;
    in.validationLow = driftedsensor::kFoundLowText;
    in.newSlope = driftedsensor::kNewSlopeText;
    in.newOffset = driftedsensor::kNewOffsetText;
    in.verificationHigh = driftedsensor::kLeftHighText;
    in.verificationLow = driftedsensor::kLeftLowText;
    in.tip = tipKindById(tipId);
    in.validationRun = !newConstants;
    return in;
}

QByteArray fileBytes(const record::Inputs &inputs)
{
    QStringEncoder encode(QStringConverter::System);
    return encode(record::text(inputs));
}

QByteArray driftedRecord(const QString &serial, const QDate &date, bool newConstants, int tipId)
{
    return fileBytes(driftedInputs(serial, date, newConstants, tipId));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace testrecords
