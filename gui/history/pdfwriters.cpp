#include "gui/history/pdfwriters.h"

#include "core/history/certificate.h"

#include <QCoreApplication>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::Certificate", text);
}

// Points: the body's size and the mark's across the page.
constexpr double kBodyPointSize = 10.5;
constexpr double kTitlePointSize = 15;
constexpr double kMarkPointSize = 90;
constexpr int kMarkGrey = 215;
constexpr double kMarkAngle = -40;
constexpr double kMarginMillimetres = 20;

bool drawCertificate(const QString &content, QIODevice *device, QString *error)
{
    QPdfWriter writer(device);
    writer.setCreator(QCoreApplication::applicationName());
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(
        QMarginsF(kMarginMillimetres, kMarginMillimetres, kMarginMillimetres, kMarginMillimetres),
        QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(&writer)) {
        *error = tr("the PDF could not be started");
        return false;
    }
    QStringList lines = content.split(u'\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const bool training = !lines.isEmpty() && lines.first() == QLatin1String(kTrainingMark);
    const QRectF page = painter.viewport();
    const auto mark = [&] {
        if (!training)
            return;
        painter.save();
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(kMarkPointSize);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(QColor(kMarkGrey, kMarkGrey, kMarkGrey));
        painter.translate(page.center());
        painter.rotate(kMarkAngle);
        painter.drawText(
            QRectF(-page.width(), -page.height() / 4, 2 * page.width(), page.height() / 2),
            Qt::AlignCenter, QLatin1String(kTrainingMark));
        painter.restore();
    };
    mark();
    QFont body(QStringLiteral("DejaVu Sans"));
    body.setPointSizeF(kBodyPointSize);
    // No ligatures: the text read back from the PDF is the content's.
    body.setStyleStrategy(QFont::PreferNoShaping);
    QFont title = body;
    title.setPointSizeF(kTitlePointSize);
    title.setBold(true);
    // The title: the certificate's number, under the mark's line if any.
    const int titleLines = training ? 2 : 1;
    double y = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const bool isTitle = i < titleLines;
        painter.setFont(isTitle ? title : body);
        const QRectF box = painter.boundingRect(QRectF(0, 0, page.width(), page.height()),
                                                Qt::TextWordWrap, lines.at(i));
        if (y + box.height() > page.height() && y > 0) {
            writer.newPage();
            mark();
            y = 0;
        }
        painter.drawText(QRectF(0, y, page.width(), box.height()), Qt::TextWordWrap, lines.at(i));
        y += box.height() * (i + 1 == titleLines ? 1.6 : 1.15);
    }
    if (!painter.end()) {
        *error = tr("the PDF could not be finished");
        return false;
    }
    return true;
}

// A report: its HTML laid out on A4 pages.
constexpr int kReportResolution = 300;
constexpr int kReportFontPoints = 9;

// A write that fails shows on the file, which the caller checks.
bool drawReport(const QString &html, const QString &title, QIODevice *device, QString *)
{
    QPdfWriter writer(device);
    writer.setResolution(kReportResolution);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setTitle(title);
    writer.setCreator(QCoreApplication::applicationName());
    QTextDocument document;
    QFont font = document.defaultFont();
    font.setPointSize(kReportFontPoints);
    document.setDefaultFont(font);
    document.setHtml(html);
    document.print(&writer);
    return true;
}

} // namespace

PdfWriters paperWriters()
{
    return {drawCertificate, drawReport};
}

void installPaperWriters()
{
    setPdfWriters(paperWriters());
}

} // namespace history
