#include "core/history/paper.h"

#include <QCoreApplication>
#include <QSaveFile>

namespace history
{

namespace
{
PdfWriters &installed()
{
    static PdfWriters writers;
    return writers;
}
} // namespace

void setPdfWriters(const PdfWriters &writers)
{
    installed() = writers;
}

const PdfWriters &pdfWriters()
{
    return installed();
}

bool writePdfFile(const QString &path,
                  const std::function<bool(QIODevice *device, QString *error)> &write,
                  QString *error)
{
    if (!write) {
        *error = QCoreApplication::translate("history", "this program cannot draw PDF files");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    if (!write(&file, error)) {
        file.cancelWriting();
        return false;
    }
    if (file.error() != QFileDevice::NoError || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace history
