#pragma once

// A PDF file printed by a test, read back with poppler's tools (pdftotext,
// pdfinfo, pdfimages, pdftoppm): its text layer, its pages, its images and
// the pages rendered, to see what is on paper.

#include <QImage>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace pdfread
{

// Empty when every poppler tool the helpers below run is installed;
// otherwise which package to install.
QString toolsMissing();

// Output of a poppler tool, or a null array when it could not run or failed.
QByteArray run(const QString &tool, const QStringList &arguments);

// The number of pages pdfinfo reports, -1 when it could not tell.
int pageCount(const QString &file);

// All the text, every run of white space made one blank.
QString plainText(const QString &file);

// The text of each page, in layout mode.
QStringList pageTexts(const QString &file);

// The number of images pdfimages lists.
int imageCount(const QString &file);

// One word as pdftotext -bbox reports it, in points from the page's top left.
struct Word {
    QString text;
    QRectF box;
};

struct Page {
    QSizeF size; // points
    QList<Word> words;
};

// Every page's size and words, the words in reading order: lines from top to
// bottom, each line left to right.
QList<Page> words(const QString &file);

enum class Colours { Grey, Full };

// Page `number` (from 1) rendered at `dpi`, in grey levels (Grayscale8) or
// in colour; a null image when pdftoppm failed.
QImage renderPage(const QString &file, int number, double dpi, Colours colours);

} // namespace pdfread
