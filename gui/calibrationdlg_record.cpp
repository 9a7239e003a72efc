// Writing the calibration record at the end of a save.

#include "gui/calibrationdlg.h"

#include "core/history/recordreader.h"
#include "core/record.h"
#include "core/tipkind.h"
#include "ui_calibrationdlg.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>

#include <memory>

void CalibrationDlg::writeCalibrationRecord()
{
    for (;;) {
        // A name typed without an extension gets ".txt", so the record shows
        // up under the same filter when it is chosen for printing.
        auto dialog =
            std::make_unique<QFileDialog>(this, tr("SaveFile"), QString(), tr(record::kFileFilter));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setDefaultSuffix(QLatin1String(record::kFileSuffix));
        const QString fileName =
            dialog->exec() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
        // The operator has been told the procedure must be repeated.
        if (procedure_->isLinkLost())
            return;
        // The previous content of the file is replaced only once the whole
        // record has been written, so a failed write loses nothing.
        QSaveFile file(fileName);
        file.setDirectWriteFallback(true);
        bool written = false;
        if (file.open(QIODevice::WriteOnly)) {
            record::Inputs inputs = procedure_->recordInputs();
            inputs.date = QDate::currentDate();
            inputs.locale = QLocale::system();
            qCDebug(lcCalibration) << record::runDate(inputs.date, inputs.locale);

            // 8-bit text in the system's encoding, as written; the history
            // keeps a digest of these bytes to know the file again.
            QStringEncoder encode(QStringConverter::System);
            const QByteArray bytes = encode(record::text(inputs));
            written = !encode.hasError() && file.write(bytes) == bytes.size() && file.commit();
            if (written) {
                run_.recordPath = QFileInfo(fileName).absoluteFilePath();
                run_.recordDigest = history::recordDigest(bytes);
            }
        }
        if (written) {
            // Its destruction writes the dialog's own settings to disk and
            // waits for its folder reader: once the save is shown, from the
            // event loop. A dialog opened again meets them written.
            dialog.release()->deleteLater();
            break;
        }
        // The constants are in the sensor now; the record is the only other
        // copy of the previous ones, so the operator may try another place.
        QMessageBox box(QMessageBox::Warning, tr("Error Saving"),
                        tr("Cannot write to file %1:\n%2.").arg(fileName, file.errorString()),
                        QMessageBox::Retry | QMessageBox::Cancel, this);
        box.setTextFormat(Qt::PlainText); // the name is the operator's
        if (box.exec() != QMessageBox::Retry)
            return;
    }
    ui->calDlg_statusbar->setText(tr("Process Complete - Use Print Button for hard copy"));
    qCDebug(lcCalibration) << "about to show the button";
    ui->calibrationDlg_Print->show();
    recordSnapshot();
}
