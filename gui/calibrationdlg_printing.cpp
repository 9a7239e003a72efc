// Printing a chosen text file, normally the calibration record.

#include "gui/calibrationdlg.h"

#include "core/record.h"

#include <QFile>
#include <QFileDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextLayout>

namespace
{
constexpr int kLeftEdge = 100;
constexpr int kMinimumLineStep = 10;
// Tab stops every eight columns, as text files count them, a column as wide
// as a wide capital: the record's eight-letter headings then fit in one
// column and start at the same stops as the numbers under them.
constexpr int kTabColumns = 8;
constexpr char kWideCharacter = 'M';

QString withoutLineEnd(QString line)
{
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}
} // namespace

void CalibrationDlg::on_calibrationDlg_Print_clicked()
{
    QPrinter printer(QPrinter::ScreenResolution);
    QPrintDialog dialog(&printer);
    if (dialog.exec() != QDialog::Accepted)
        return;
    qCDebug(lcCalibration) << "we have a printer device";

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
    qCDebug(lcCalibration) << "File Opened";

    // One font line per printed line, so lines never overlap, and a new page
    // before a line would pass the bottom of the printable area. A line wider
    // than the paper wraps rather than being cut off.
    const QFontMetrics metrics = painter.fontMetrics();
    const int lineStep = qMax(kMinimumLineStep, metrics.lineSpacing());
    const int pageBottom = printer.height();
    const int textWidth = printer.width() - kLeftEdge;
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(kTabColumns * metrics.horizontalAdvance(QLatin1Char(kWideCharacter)));
    int offset = 0;
    while (!file.atEnd()) {
        QTextLayout layout(withoutLineEnd(protocol::textUpToNul(file.readLine())), painter.font(),
                           &printer);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
            line.setLineWidth(textWidth);
        layout.endLayout();

        // An empty line still takes its step.
        const int printedLines = qMax(1, layout.lineCount());
        for (int i = 0; i < printedLines; ++i) {
            offset += lineStep;
            if (offset + lineStep > pageBottom && offset > lineStep) {
                printer.newPage();
                offset = lineStep;
            }
            if (i < layout.lineCount()) {
                const QTextLine line = layout.lineAt(i);
                line.draw(&painter, QPointF(kLeftEdge, offset - line.y()));
            }
        }
    }
    painter.end();
    file.close();
}
