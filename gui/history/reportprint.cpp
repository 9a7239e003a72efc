#include "gui/history/reportprint.h"

#include "gui/history/sensorlistmodel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::HistoryWindow", text);
}

} // namespace

QString printReportWithDialog(const ReportInputs &inputs, QWidget *parent)
{
    const QString sensor = sensorText(inputs.sensor.sensorType, inputs.sensor.serialNumber);
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setDocName(tr("Calibration history of %1").arg(sensor));
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(tr("Print the history of %1").arg(sensor));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QApplication::setOverrideCursor(Qt::WaitCursor);
    printReport(inputs, &printer);
    QApplication::restoreOverrideCursor();
    return printer.outputFileName().isEmpty() ? QString()
                                              : QFileInfo(printer.outputFileName()).absolutePath();
}

} // namespace history
