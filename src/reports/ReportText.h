// The report written out without a renderer: a plain-text table for a terminal and CSV for a
// spreadsheet.
#pragma once

#include "reports/ReportModel.h"

#include <string>

namespace peltra::reports {

// The header lines ("Задание:" with the date, the title, the info), the column titles padded to
// each column's display width, the rows (numbers right-aligned), a totals line when a total is
// shown, and "Всего строк: n". Lines end with '\n'; a line break inside a cell becomes a blank.
std::string reportText(const ReportData& data);

// A header row of the column titles, then one row per report row; fields quoted per RFC 4180
// where they hold a comma, a double quote, CR or LF; lines end with CR LF; UTF-8.
std::string reportCsv(const ReportData& data);

}  // namespace peltra::reports
