#include "core/history/duereport.h"

#include "core/history/paper.h"
#include "core/history/runformat.h"
#include "core/history/showntext.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::DueReport", text);
}

// The CSV file's columns; a sensor leaves the standard's empty, and the
// other way round.
constexpr const char *kCsvColumns[] = {"section",  "serial_number",      "sensor_type",
                                       "tip_kind", "certificate_number", "last_calibrated",
                                       "due",      "interval_days",      "overdue"};
const QLatin1String kCsvYes("yes");
const QLatin1String kCsvNo("no");

QString isoDate(const QDate &date)
{
    return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

QByteArray csvLine(const QStringList &cells)
{
    QByteArrayList line;
    for (const QString &cell : cells)
        line << csvCell(cell);
    return line.join(',') + "\r\n";
}

// Plain text in a cell of the printed report, never markup.
QString cell(const QString &text, bool header = false)
{
    const char *tag = header ? "th" : "td";
    return QStringLiteral("<%1 align=\"left\">%2</%1>")
        .arg(QLatin1String(tag), shown(text).toHtmlEscaped());
}

QString table(const QStringList &headers, const QList<QStringList> &rows)
{
    if (rows.isEmpty())
        return QStringLiteral("<p>%1</p>").arg(tr("None.").toHtmlEscaped());
    QString html = QStringLiteral(
        "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\"><tr>");
    for (const QString &header : headers)
        html += cell(header, true);
    html += QStringLiteral("</tr>");
    for (const QStringList &row : rows) {
        html += QStringLiteral("<tr>");
        for (const QString &text : row)
            html += cell(text);
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

QString section(const QString &title, const QString &content)
{
    return QStringLiteral("<h3>%1</h3>").arg(title.toHtmlEscaped()) + content;
}

QString sensorTable(const QList<DueReport::Sensor> &sensors)
{
    QList<QStringList> rows;
    for (const DueReport::Sensor &s : sensors)
        rows << QStringList{s.serialNumber, s.sensorType,
                            s.lastValidation.isValid() ? isoDate(s.lastValidation) : tr("never"),
                            tr("%1 days").arg(s.intervalDays), isoDate(s.due)};
    return table(
        {tr("Serial number"), tr("Type"), tr("Last validation"), tr("Interval"), tr("Next due")},
        rows);
}

} // namespace

bool DueReport::needsAction() const
{
    return !overdue.isEmpty() || !outOfTolerance.isEmpty() || standardsOverdue() > 0;
}

int DueReport::standardsOverdue() const
{
    return int(std::count_if(standards.cbegin(), standards.cend(),
                             [](const Reference &r) { return r.overdue; }));
}

DueReport dueReport(const QList<SensorSummary> &sensors, const QHash<QString, Standard> &standards,
                    const QDate &today, int days)
{
    DueReport report;
    report.made = today;
    report.days = days;
    const QDate before = today.addDays(days);
    for (const SensorSummary &sensor : sensors) {
        if (sensor.retired)
            continue;
        const QDate due = nextDue(sensor, sensor.intervalDays, today);
        if (!due.isValid())
            continue;
        const DueReport::Sensor row{
            sensor.serialNumber, sensor.sensorType,
            sensor.lastValidation.isValid() || sensor.lastValidationDate.isValid()
                ? sensor.lastValidationDay()
                : QDate(),
            due, sensor.intervalDays > 0 ? sensor.intervalDays : kDefaultIntervalDays};
        if (due < today)
            report.overdue << row;
        else if (due < before)
            report.dueSoon << row;
        if (sensor.outOfTolerance)
            report.outOfTolerance << row;
    }
    const auto byDue = [](const DueReport::Sensor &a, const DueReport::Sensor &b) {
        return a.due != b.due ? a.due < b.due : a.serialNumber < b.serialNumber;
    };
    std::sort(report.overdue.begin(), report.overdue.end(), byDue);
    std::sort(report.dueSoon.begin(), report.dueSoon.end(), byDue);
    std::sort(report.outOfTolerance.begin(), report.outOfTolerance.end(),
              [](const DueReport::Sensor &a, const DueReport::Sensor &b) {
                  return a.serialNumber != b.serialNumber ? a.serialNumber < b.serialNumber
                                                          : a.sensorType < b.sensorType;
              });
    for (const Standard &standard : standards) {
        // A standard without a due date is due now: nobody can say otherwise.
        if (standard.withdrawn || (standard.dueOn.isValid() && standard.dueOn >= before))
            continue;
        report.standards << DueReport::Reference{
            standard.serialNumber,
            standard.tipKind,
            standard.certificateNumber,
            standard.calibratedOn,
            standard.dueOn,
            !standard.dueOn.isValid() || standard.dueOn < today};
    }
    std::sort(report.standards.begin(), report.standards.end(),
              [](const DueReport::Reference &a, const DueReport::Reference &b) {
                  return a.dueOn != b.dueOn ? a.dueOn < b.dueOn : a.serialNumber < b.serialNumber;
              });
    return report;
}

QByteArray dueReportCsv(const DueReport &report)
{
    QStringList header;
    for (const char *column : kCsvColumns)
        header << QLatin1String(column);
    QByteArray csv = kCsvByteOrderMark + csvLine(header);
    const auto sensors = [&](const char *name, const QList<DueReport::Sensor> &list) {
        for (const DueReport::Sensor &s : list)
            csv +=
                csvLine({QLatin1String(name), s.serialNumber, s.sensorType, QString(), QString(),
                         isoDate(s.lastValidation), isoDate(s.due), QString::number(s.intervalDays),
                         s.due < report.made ? kCsvYes : kCsvNo});
    };
    sensors(kDueSectionOverdue, report.overdue);
    sensors(kDueSectionSoon, report.dueSoon);
    sensors(kDueSectionOutOfTolerance, report.outOfTolerance);
    for (const DueReport::Reference &r : report.standards)
        csv += csvLine({QLatin1String(kDueSectionStandard), r.serialNumber, QString(),
                        QString::number(r.tipKind), r.certificateNumber, isoDate(r.calibratedOn),
                        isoDate(r.dueOn), QString(), r.overdue ? kCsvYes : kCsvNo});
    return csv;
}

QString dueReportHtml(const DueReport &report)
{
    QString html = QStringLiteral("<html><body>");
    if (report.training)
        html += QStringLiteral("<h1>%1</h1>")
                    .arg(tr("Training - not a calibration record").toHtmlEscaped());
    html += QStringLiteral("<h2>%1</h2>")
                .arg(tr("Due report: the next %1 days").arg(report.days).toHtmlEscaped());
    html += QStringLiteral("<p>%1<br>%2</p>")
                .arg(tr("Made on %1").arg(isoDate(report.made)).toHtmlEscaped(),
                     shown(tr("History: %1").arg(report.history)).toHtmlEscaped());
    html += section(tr("Overdue"), sensorTable(report.overdue));
    html += section(tr("Due within %1 days").arg(report.days), sensorTable(report.dueSoon));
    html += section(tr("Out of tolerance"), sensorTable(report.outOfTolerance));
    QList<QStringList> rows;
    for (const DueReport::Reference &r : report.standards)
        rows << QStringList{r.serialNumber,      tr("Tip %1").arg(r.tipKind),
                            r.certificateNumber, isoDate(r.calibratedOn),
                            isoDate(r.dueOn),    r.overdue ? tr("OVERDUE") : QString()};
    html += section(tr("Reference standards due"),
                    table({tr("Serial number"), tr("Kind"), tr("Certificate"), tr("Calibrated on"),
                           tr("Due on"), tr("State")},
                          rows));
    return html + QStringLiteral("</body></html>");
}

DueReportFormat dueReportFormat(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String(kDueReportPdfSuffix))
        return DueReportFormat::Pdf;
    if (suffix == QLatin1String(kDueReportCsvSuffix))
        return DueReportFormat::Csv;
    return DueReportFormat::Unknown;
}

bool readDueReport(const Store &store, const QDate &today, int days, bool training,
                   DueReport *report, QString *error)
{
    QString readError;
    const QList<SensorSummary> sensors = store.sensors(&readError, today);
    QHash<QString, Standard> references;
    if (!readError.isEmpty() || !standards(store, &references, &readError)) {
        *error = tr("The history could not be read: %1").arg(readError);
        return false;
    }
    *report = dueReport(sensors, references, today, days);
    report->history = store.location().describe();
    report->training = training;
    return true;
}

bool writeDueReport(const DueReport &report, const QString &path, QString *error)
{
    const DueReportFormat format = dueReportFormat(path);
    if (format == DueReportFormat::Unknown) {
        *error = tr("a due report is a .%1 or a .%2 file")
                     .arg(QLatin1String(kDueReportPdfSuffix), QLatin1String(kDueReportCsvSuffix));
        return false;
    }
    if (format == DueReportFormat::Pdf) {
        const auto &draw = pdfWriters().report;
        return writePdfFile(
            path,
            draw
                ? [&](QIODevice *device,
                      QString *
                          why) { return draw(dueReportHtml(report), tr("Due report"), device, why); }
                : std::function<bool(QIODevice *, QString *)>(),
            error);
    }
    QSaveFile file(path);
    const QByteArray bytes = dueReportCsv(report);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool exportDueReport(const Location &location, const QString &path, const QDate &today, int days,
                     bool training, DueReport *report, QString *error)
{
    Store store(location);
    return store.open(error) && readDueReport(store, today, days, training, report, error) &&
           writeDueReport(*report, path, error);
}

} // namespace history
