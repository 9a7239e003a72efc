#pragma once

// Drawing on paper (a PDF file) is Qt's painting, which sits above this
// library: the programs hand in the writers (gui/history/pdfwriters.h)
// before the history's actions run, and the actions call them. Without them
// an action that would write a PDF says so and writes nothing.

#include <QString>

#include <functional>

class QIODevice;

namespace history
{

struct PdfWriters {
    // A certificate's content, a line of text each; "TRAINING" across every
    // page when its first line says so.
    std::function<bool(const QString &content, QIODevice *device, QString *error)> certificate;
    // A report given as HTML, with the document's title.
    std::function<bool(const QString &html, const QString &title, QIODevice *device,
                       QString *error)>
        report;
};

void setPdfWriters(const PdfWriters &writers);
const PdfWriters &pdfWriters();

// Writes the file whole or leaves it as it was: `write` draws into it.
bool writePdfFile(const QString &path,
                  const std::function<bool(QIODevice *device, QString *error)> &write,
                  QString *error);

} // namespace history
