// The report's layout as DataWindow source text: bands, column declarations, the retrieve clause,
// header texts, totals, the row count and the detail columns, for the binding's table or for a
// task's archive file. Also the x positions and widths every output lines its columns up by.
#pragma once

#include "reports/ReportModel.h"

#include <string>
#include <string_view>
#include <vector>

namespace peltra::reports {

// Where a column sits, in report units (pixels): its title cell, its detail cell and its total
// share both numbers.
struct ColumnPlacement {
    int x = 0;
    int width = 0;
};

// Column placements from ReportColumn::displayWidth, left to right.
std::vector<ColumnPlacement> columnPlacements(const std::vector<ReportColumn>& columns);
// The width of the whole row of columns, from the left margin to the right edge of the last one.
int reportWidth(const std::vector<ReportColumn>& columns);

// The table name the source text names the table by. There are no 8.3 names here: the table is
// named by its path exactly as the binding (or the task's archive) stores it, which is also a
// reference the SQL engine resolves.
std::string sourceTableName(const std::string& path);

// A value inside a quoted string of the source text: '~' becomes "~~" and '\'' becomes "~'".
std::string tildeQuoted(std::string_view text);

// The whole source text of the report over table, in the variant's colours, borders and bands.
std::string reportSource(const std::vector<ReportColumn>& columns, const std::string& table, ReportVariant variant);

// The changes applied once the rows are read, in the control's Modify syntax: the header texts,
// the visibility of each total and the footer height (42 with a visible total, else 21).
std::vector<std::string> reportModifications(const ReportData& data);

}  // namespace peltra::reports
