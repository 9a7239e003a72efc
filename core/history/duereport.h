#pragma once

// The fleet's due report for a period: the sensors overdue, those due within
// the period, those out of tolerance, and the reference standards due. Built
// from what the history holds by a pure function, then written as CSV or as
// PDF.

#include "core/history/register.h"
#include "core/history/store.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QString>

namespace history
{

// The period when none is given: a month ahead.
inline constexpr int kDefaultDueReportDays = 30;

// The stable names of the sections, as the CSV file has them.
inline constexpr char kDueSectionOverdue[] = "overdue";
inline constexpr char kDueSectionSoon[] = "due-soon";
inline constexpr char kDueSectionOutOfTolerance[] = "out-of-tolerance";
inline constexpr char kDueSectionStandard[] = "standard-due";

struct DueReport {
    struct Sensor {
        QString serialNumber;
        QString sensorType;
        QDate lastValidation; // invalid: never validated
        QDate due;
        int intervalDays = 0;
    };
    struct Reference {
        QString serialNumber;
        int tipKind = 0;
        QString certificateNumber;
        QDate calibratedOn;
        QDate dueOn;
        bool overdue = false;
    };
    QDate made;
    int days = 0;
    QString history; // where the history is, as the window's status bar says it
    bool training = false;
    QList<Sensor> overdue;        // due before today, oldest due first
    QList<Sensor> dueSoon;        // due from today to before today + days
    QList<Sensor> outOfTolerance; // by serial number
    QList<Reference> standards;   // due before today + days, soonest first

    // Something a workshop must act on now: a sensor overdue or out of
    // tolerance, or a standard overdue.
    bool needsAction() const;
    int standardsOverdue() const;
};

// The report of `today` for `days` ahead. Retired sensors, and those without
// a due date (no serial number, type unknown), are left out; each sensor's
// own interval counts. Withdrawn standards are left out.
DueReport dueReport(const QList<SensorSummary> &sensors, const QHash<QString, Standard> &standards,
                    const QDate &today, int days);

// One header row, then one row per sensor or standard, section by section;
// UTF-8 with a byte order mark, CR LF line ends, dates yyyy-MM-dd, cells a
// spreadsheet would take for a formula marked as the runs export marks them.
QByteArray dueReportCsv(const DueReport &report);
// The report as HTML for a printed page: every value plain text.
QString dueReportHtml(const DueReport &report);

// What a file name asks for, by its suffix (in any case).
inline constexpr char kDueReportPdfSuffix[] = "pdf";
inline constexpr char kDueReportCsvSuffix[] = "csv";
enum class DueReportFormat { Unknown, Pdf, Csv };
DueReportFormat dueReportFormat(const QString &path);

// Reads what the report needs from an open history.
bool readDueReport(const Store &store, const QDate &today, int days, bool training,
                   DueReport *report, QString *error);
// Writes the report in the format its file name asks for, replacing the file
// whole or not at all; false with a reason. A PDF needs a QGuiApplication.
bool writeDueReport(const DueReport &report, const QString &path, QString *error);
// Both, on a connection of its own (any thread): the report written, or
// false with a reason.
bool exportDueReport(const Location &location, const QString &path, const QDate &today, int days,
                     bool training, DueReport *report, QString *error);

} // namespace history
