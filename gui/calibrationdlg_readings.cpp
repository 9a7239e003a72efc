// Turning the collected data lines into a reading or a mean raw count, and
// showing readings in their fields.

#include "gui/calibrationdlg.h"

#include "core/readings.h"
#include "ui_calibrationdlg.h"

#include <QDebug>

bool CalibrationDlg::checkCalibrationData()
{
    qDebug() << "Entered Validation Method";
    const readings::CountMean mean = readings::newestCountMean(receiveBuffer, tip());
    for (const QString &line : mean.lines)
        qDebug() << line;
    if (!mean.accepted)
        return false;
    highCounts = mean.mean;
    qDebug() << mean.sum << "/" << mean.count << "=" << highCounts;
    return true;
}

bool CalibrationDlg::checkValidationData()
{
    qDebug() << "Entered Validation High Data Method";
    const readings::Reading reading = readings::newestReading(receiveBuffer);
    if (!reading.taken)
        return false;
    qDebug() << reading.line;
    qDebug() << reading.text;

    const bool high = stateMachine == CollectingHighValues;
    QLineEdit *target = high ? (validationRun ? ui->calLE_HighValue_Validate : ui->calLE_HighValue)
                             : (validationRun ? ui->calLE_LowValue_Validate : ui->calLE_LowValue);
    if (tip())
        showReading(target, reading.text,
                    readings::inWindow(tip(),
                                       high ? readings::Position::High : readings::Position::Low,
                                       reading.value));
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
