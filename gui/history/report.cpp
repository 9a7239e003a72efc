#include "gui/history/report.h"

#include "gui/history/driftchart.h"
#include "gui/history/runtablemodel.h"
#include "gui/history/sensorlistmodel.h"

#include <QBrush>
#include <QCoreApplication>
#include <QPrinter>
#include <QTextDocument>
#include <QUrl>

namespace history
{

namespace
{

// The chart's size on paper, in the document's pixels (96 to the inch).
const QSize kChartSize(900, 380);
// Drawn at this multiple so it stays sharp on paper.
constexpr qreal kChartScale = 3;
constexpr char kChartUrl[] = "zolvex-report:chart.png";
constexpr int kFontPoints = 8;

// The texts of the report, for translation.
class Report
{
    Q_DECLARE_TR_FUNCTIONS(history::Report)
};

QString cell(const QString &text, const QVariant &background = QVariant(), bool header = false)
{
    const char *tag = header ? "th" : "td";
    QString attributes;
    if (background.canConvert<QBrush>()) {
        const QColor color = background.value<QBrush>().color();
        attributes = QStringLiteral(" bgcolor=\"%1\"").arg(color.name());
    }
    // Headers broken over two lines in the window are broken so on paper too.
    QString html = text.toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return QStringLiteral("<%1%2>%3</%1>").arg(QLatin1String(tag), attributes, html);
}

QString summaryRow(const QString &label, const QString &value)
{
    return QStringLiteral("<tr>") + cell(label, QVariant(), true) + cell(value) +
           QStringLiteral("</tr>");
}

// Paper may be printed without colour: a judged reading says so in words too.
QString judged(const QString &reading, const QVariant &verdict)
{
    switch (Verdict(verdict.toInt())) {
    case Verdict::Pass:
        return Report::tr("%1 pass").arg(reading);
    case Verdict::Fail:
        return Report::tr("%1 fail").arg(reading);
    case Verdict::None:
        break;
    }
    return reading;
}

// The runs as the window's table shows them, newest first, judged readings
// marked in words; without the standards and the sign-off, which the page has no
// room for (the standards go below the table).
QString runsTable(const QList<Run> &runs, const std::optional<StandardRevisions> &standards)
{
    constexpr int kColumns = RunTableModel::Standard;
    RunTableModel model;
    model.setRuns(runs);
    if (standards)
        model.setStandards(*standards);
    QString html = QStringLiteral(
        "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\"><thead><tr>");
    for (int column = 0; column < kColumns; ++column)
        html += cell(model.headerData(column, Qt::Horizontal).toString(), QVariant(), true);
    html += QStringLiteral("</tr></thead>");
    for (int row = model.rowCount() - 1; row >= 0; --row) {
        html += QStringLiteral("<tr>");
        for (int column = 0; column < kColumns; ++column) {
            const QModelIndex index = model.index(row, column);
            html += cell(judged(index.data().toString(), index.data(RunTableModel::VerdictRole)),
                         index.data(Qt::BackgroundRole));
        }
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

// Verification readings of constants the sensor did not keep: apart from the
// table's as-left columns, labelled, newest first.
QString notKeptNotes(const QList<Run> &runs)
{
    QString html;
    for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
        const QString notKept = verificationNotKept(*run);
        if (!notKept.isEmpty())
            html += QStringLiteral("<p>%1</p>")
                        .arg(Report::tr("%1: %2").arg(runDateText(*run), notKept).toHtmlEscaped());
    }
    return html;
}

// The standard each run was made with, and what the register finds of it,
// newest first; on a coloured ground when there is a finding.
QString standardNotes(const QList<Run> &runs, const std::optional<StandardRevisions> &standards)
{
    QString html;
    for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
        if (run->standardSerial.isEmpty())
            continue;
        const QString text =
            Report::tr("%1: made with standard %2")
                .arg(runDateText(*run), standardText(*run, standards ? &*standards : nullptr));
        const bool finding = standards && standardFindingsAt(*run, *standards).any();
        html += finding ? QStringLiteral("<p style=\"background-color:%1\">%2</p>")
                              .arg(findingBackground().value<QBrush>().color().name(),
                                   text.toHtmlEscaped())
                        : QStringLiteral("<p>%1</p>").arg(text.toHtmlEscaped());
    }
    return html;
}

} // namespace

std::unique_ptr<QTextDocument> reportDocument(const ReportInputs &in)
{
    auto document = std::make_unique<QTextDocument>();
    QFont font = document->defaultFont();
    font.setPointSize(kFontPoints);
    document->setDefaultFont(font);
    document->addResource(QTextDocument::ImageResource, QUrl(QLatin1String(kChartUrl)),
                          chartImage(in.runs, kChartSize, kChartScale));

    const SensorSummary &s = in.sensor;
    const QString due = dueText(s, in.due, in.overdue);

    QString html = QStringLiteral("<html><body>");
    if (in.training)
        html += QStringLiteral("<h1>%1</h1>")
                    .arg(Report::tr("Training - not a calibration record").toHtmlEscaped());
    const QString title =
        s.sensorType.isEmpty()
            ? Report::tr("Calibration history of sensor %1").arg(serialText(s.serialNumber))
            : Report::tr("Calibration history of sensor %1 (%2)")
                  .arg(serialText(s.serialNumber), typeText(s.sensorType));
    html += QStringLiteral("<h2>%1</h2>").arg(title.toHtmlEscaped());
    html += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\">");
    html += summaryRow(Report::tr("Serial number"), serialText(s.serialNumber));
    html += summaryRow(Report::tr("Type"), typeText(s.sensorType));
    html += summaryRow(Report::tr("Runs"), QString::number(s.runs));
    html += summaryRow(Report::tr("Last validation"), s.lastValidation.isValid()
                                                          ? dateText(s.lastValidationDay())
                                                          : Report::tr("never"));
    html += summaryRow(Report::tr("Last outcome"), s.runs <= 0        ? QString()
                                                   : s.lastInProgress ? inProgressText()
                                                                      : outcomeText(s.lastOutcome));
    html += summaryRow(Report::tr("Next due"), due);
    html +=
        summaryRow(Report::tr("Calibration interval"), Report::tr("%1 days").arg(in.intervalDays));
    html += summaryRow(Report::tr("Printed"), dateText(in.printed));
    html += QStringLiteral("</table>");
    html += QStringLiteral("<p><img src=\"%1\" width=\"%2\" height=\"%3\"></p>")
                .arg(QLatin1String(kChartUrl))
                .arg(kChartSize.width())
                .arg(kChartSize.height());
    html += QStringLiteral("<p>%1</p>")
                .arg(Report::tr("Readings marked pass, on a green ground, lie within their window; "
                                "those marked fail, on a red ground, outside it. Constants after a "
                                "run are shown only when new ones were saved.")
                         .toHtmlEscaped());
    html += runsTable(in.runs, in.standards);
    html += notKeptNotes(in.runs);
    html += standardNotes(in.runs, in.standards);
    html += QStringLiteral("</body></html>");
    document->setHtml(html);
    return document;
}

void printReport(const ReportInputs &inputs, QPrinter *printer)
{
    reportDocument(inputs)->print(printer);
}

} // namespace history
