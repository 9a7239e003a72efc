// Printing a chosen text file, normally the calibration record.

#include "calibration/calibrationdlg.h"

#include "calibration/record.h"

#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace
{
constexpr int kLeftEdge = 100;
constexpr int kLineBox = 500; // width and height of each line's rectangle
constexpr int kMinimumLineStep = 10;
} // namespace

void CalibrationDlg::on_calibrationDlg_Print_clicked()
{
    QPrinter printer(QPrinter::ScreenResolution);
    QPrintDialog dialog(&printer);
    if (dialog.exec() != QDialog::Accepted)
        return;
    qDebug() << "we have a printer device";

    QPainter painter;
    painter.begin(&printer);
    const QString fileName =
        QFileDialog::getOpenFileName(this, tr("Print File"), QString(), tr(record::kFileFilter));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::warning(
            this, tr("Error Saving"),
            tr("Cannot read from file %1:\n%2.").arg(fileName, file.errorString()));
        return; // the painter ends the empty job
    }
    qDebug() << "File Opened";

    // One font line per text line, so lines never overlap, and a new page
    // before a line would pass the bottom of the printable area.
    const int lineStep = qMax(kMinimumLineStep, painter.fontMetrics().lineSpacing());
    const int pageBottom = printer.height();
    int offset = 0;
    while (!file.atEnd()) {
        offset += lineStep;
        if (offset + lineStep > pageBottom && offset > lineStep) {
            printer.newPage();
            offset = lineStep;
        }
        const QString line = protocol::textUpToNul(file.readLine());
        painter.drawText(QRect(kLeftEdge, offset, kLineBox, kLineBox), Qt::AlignLeft | Qt::AlignTop,
                         line);
    }
    painter.end();
    file.close();
}
