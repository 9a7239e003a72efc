#pragma once

// The printable report of one sensor: its summary, the table of its runs with
// the readings coloured as in the window, and the chart.

#include "core/history/register.h"
#include "core/history/store.h"

#include <QDate>
#include <QList>

#include <memory>
#include <optional>

class QPrinter;
class QTextDocument;

namespace history
{

struct ReportInputs {
    SensorSummary sensor;
    QList<Run> runs; // oldest first
    QDate due;
    bool overdue = false;
    int intervalDays = kDefaultIntervalDays;
    QDate printed;
    bool training = false; // the training program's history: says so on paper
    // The register's standards the runs' are judged against, when known.
    std::optional<StandardRevisions> standards;
};

std::unique_ptr<QTextDocument> reportDocument(const ReportInputs &inputs);

// The report on the printer (or PDF file) chosen in the print dialog.
void printReport(const ReportInputs &inputs, QPrinter *printer);

} // namespace history
