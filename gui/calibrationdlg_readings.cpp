// Turning the collected data lines into a reading or a mean raw count.

#include "gui/calibrationdlg.h"

#include "core/tipkind.h"
#include "ui_calibrationdlg.h"

#include <QDebug>
#include <QList>

namespace
{
// The buffer's segments, split at line feeds; carriage returns that came in
// after the last progress echo do not count as text.
QList<QByteArray> segmentsOf(QByteArray buffer)
{
    protocol::removeCarriageReturns(buffer);
    return buffer.split(protocol::kNewLine);
}
} // namespace

bool CalibrationDlg::checkCalibrationData()
{
    qDebug() << "Entered Validation Method";
    const QList<QByteArray> segments = segmentsOf(receiveBuffer);
    const int n = segments.size();
    const TipKind *t = tip();
    if (n < kMinimumDataSegments || !t)
        return false;

    qlonglong sum = 0;
    int count = 0;
    for (int i = n - 2; i > n - 2 - kCalibrationSamples; --i) {
        const QString line = protocol::textUpToNul(segments[i]);
        qDebug() << line;
        const qlonglong counts = protocol::rawCount(line);
        if (!t->countWindow.contains(counts))
            return false;
        sum += counts;
        ++count;
    }
    // An integer mean, truncated, as the sensor's counts are integers.
    highCounts = static_cast<double>(sum / count);
    qDebug() << sum << "/" << count << "=" << highCounts;
    return true;
}

bool CalibrationDlg::checkValidationData()
{
    qDebug() << "Entered Validation High Data Method";
    const QList<QByteArray> segments = segmentsOf(receiveBuffer);
    const int n = segments.size();
    if (n < kMinimumDataSegments)
        return false;

    const QString line = protocol::textUpToNul(segments[n - 2]);
    qDebug() << line;
    const QString field = protocol::readingField(line);
    qDebug() << field;
    const double value = field.toDouble(); // not a number: 0, outside every window

    const bool high = stateMachine == CollectingHighValues;
    QLineEdit *target = high ? (validationRun ? ui->calLE_HighValue_Validate : ui->calLE_HighValue)
                             : (validationRun ? ui->calLE_LowValue_Validate : ui->calLE_LowValue);
    if (const TipKind *t = tip())
        showReading(target, field, (high ? t->highWindow : t->lowWindow).contains(value));
    return true;
}

void CalibrationDlg::showReading(QLineEdit *field, const QString &text, bool inWindow)
{
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, inWindow ? Qt::green : Qt::red);
    field->setPalette(palette);
    field->setText(text);
}

void CalibrationDlg::clearReading(QLineEdit *field)
{
    field->clear();
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::white);
    field->setPalette(palette);
}
