#pragma once

// The report of one sensor through the print dialog.

#include "gui/history/report.h"

#include <QString>

class QWidget;

namespace history
{

// Asks for a printer (or a PDF file) and prints; the folder of the file
// printed to, empty when none (cancelled, or a printer).
QString printReportWithDialog(const ReportInputs &inputs, QWidget *parent);

} // namespace history
