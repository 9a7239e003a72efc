#include "tests/support/pdf.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

namespace pdfread
{

namespace
{

const QStringList kTools = {"pdftotext", "pdfinfo", "pdfimages", "pdftoppm"};
constexpr int kToolTimeoutMs = 30000;

QString unescapeXml(QString text)
{
    text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"");
    text.replace("&apos;", "'").replace("&#39;", "'");
    return text.replace("&amp;", "&");
}

} // namespace

QString toolsMissing()
{
    for (const QString &tool : kTools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return kTools.join(", ") + " (poppler-utils) are needed";
    }
    return QString();
}

QByteArray run(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(kToolTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QByteArray();
    const QByteArray out = process.readAllStandardOutput();
    // Not null: the tool ran, even when it wrote nothing.
    return out.isNull() ? QByteArray("") : out;
}

int pageCount(const QString &file)
{
    const QString info = QString::fromUtf8(run("pdfinfo", {file}));
    const QRegularExpressionMatch m =
        QRegularExpression("^Pages:\\s+(\\d+)$", QRegularExpression::MultilineOption).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString plainText(const QString &file)
{
    return QString::fromUtf8(run("pdftotext", {file, "-"})).simplified();
}

QStringList pageTexts(const QString &file)
{
    const QByteArray out = run("pdftotext", {"-layout", file, "-"});
    QStringList pages = QString::fromUtf8(out).split(QChar('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast(); // pdftotext ends every page with a form feed
    return pages;
}

int imageCount(const QString &file)
{
    // Two lines of heading, then one line an image.
    const QList<QByteArray> lines = run("pdfimages", {"-list", file}).split('\n');
    int images = 0;
    for (qsizetype i = 2; i < lines.size(); ++i)
        images += lines.at(i).trimmed().isEmpty() ? 0 : 1;
    return images;
}

QList<Page> words(const QString &file)
{
    const QString html = QString::fromUtf8(run("pdftotext", {"-bbox", file, "-"}));
    const QRegularExpression pageStart("<page width=\"([^\"]*)\" height=\"([^\"]*)\">");
    const QRegularExpression word("<word xMin=\"([^\"]*)\" yMin=\"([^\"]*)\" "
                                  "xMax=\"([^\"]*)\" yMax=\"([^\"]*)\">([^<]*)</word>");
    QList<Page> pages;
    const QStringList chunks = html.split("<page ");
    for (int i = 1; i < chunks.size(); ++i) {
        const QString chunk = "<page " + chunks.at(i);
        const QRegularExpressionMatch size = pageStart.match(chunk);
        if (!size.hasMatch())
            return {};
        Page page;
        page.size = QSizeF(size.captured(1).toDouble(), size.captured(2).toDouble());
        auto it = word.globalMatch(chunk);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const QPointF topLeft(m.captured(1).toDouble(), m.captured(2).toDouble());
            const QPointF bottomRight(m.captured(3).toDouble(), m.captured(4).toDouble());
            page.words.append({unescapeXml(m.captured(5)), QRectF(topLeft, bottomRight)});
        }
        // pdftotext gives a table column by column; words of one line share
        // their top.
        std::sort(page.words.begin(), page.words.end(), [](const Word &a, const Word &b) {
            return std::make_pair(a.box.top(), a.box.left()) <
                   std::make_pair(b.box.top(), b.box.left());
        });
        pages.append(page);
    }
    return pages;
}

QImage renderPage(const QString &file, int number, double dpi, Colours colours)
{
    const QString prefix = file + QString("-page%1").arg(number);
    const QString n = QString::number(number);
    QStringList arguments = {"-r", QString::number(dpi), "-png", "-f", n, "-l", n, "-singlefile"};
    if (colours == Colours::Grey)
        arguments << "-gray";
    if (run("pdftoppm", arguments << file << prefix).isNull())
        return QImage();
    const QImage image(prefix + ".png");
    return colours == Colours::Grey ? image.convertToFormat(QImage::Format_Grayscale8) : image;
}

} // namespace pdfread
