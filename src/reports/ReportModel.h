// What a results report is made of once its rows are read: the options it was asked with, its
// columns, the rows as they are shown, the totals and the header texts. The source-text builder,
// the reader, the plain-text and CSV writers and the Qt renderer all meet here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::reports {

// Which rows the operator asked for.
enum class ReportMode { All = 0, Notified = 1, NotNotified = 2 };

// The report over the binding's own table, or over the task's archive of notified rows.
enum class ReportVariant { BindingTable, ArchiveFile };

// The notification period of mode Notified, both ends inclusive, as typed: "dd/mm/yyyy".
struct ReportPeriod {
    std::string from;
    std::string to;
};

// What the operator chose in the dialog (or on the peltra-report command line).
struct ReportOptions {
    std::string binding;                // database binding name
    std::optional<std::string> task;    // none stands for "Весь файл"
    ReportMode mode = ReportMode::All;
    std::optional<ReportPeriod> period; // ticked; only mode Notified looks at it
    std::vector<std::string> sumFields; // numeric fields whose totals are shown
    ReportVariant variant = ReportVariant::BindingTable;
};

// How a column is declared in the report and shown.
enum class ColumnKind { Char, Decimal, Date, Logical };

struct ReportColumn {
    std::string field;  // as the table names it
    std::string title;  // "Телефон" for TELEF and so on, else the field name
    ColumnKind kind = ColumnKind::Char;
    int length = 0;     // characters for Char, width for Decimal
    int scale = 0;      // decimals for Decimal
    int id = 0;         // 1-based position among the report's columns (the source text's column id)
    // Width in characters that holds both the title and the widest value the field can take,
    // so titles and cells line up in every output.
    int displayWidth = 0;
};

// The rows of a report as shown, kept in one text pool so a million rows cost little more than
// their text.
class ReportRows {
public:
    explicit ReportRows(std::size_t columnCount = 0) : m_columns(columnCount) {}

    std::size_t columnCount() const { return m_columns; }
    std::size_t rowCount() const { return m_rowStarts.size(); }
    std::string_view cell(std::size_t row, std::size_t column) const;

    // Appends one row; cells.size() must equal columnCount().
    void append(const std::vector<std::string>& cells);
    void clear();
    // Bytes held, for the benchmark's memory figure.
    std::size_t bytesHeld() const;

private:
    std::size_t m_columns;
    std::string m_text;
    std::vector<std::uint64_t> m_rowStarts;  // where each row's text begins
    std::vector<std::uint32_t> m_cellEnds;   // every cell's end, from its row's start, row-major
};

// A report ready to be shown, printed or written out.
struct ReportData {
    ReportVariant variant = ReportVariant::BindingTable;
    std::vector<ReportColumn> columns;
    ReportRows rows;
    // Per column: the sum of a numeric column rounded to two decimals; empty for other columns.
    std::vector<std::optional<double>> totals;
    // Per column: whether its total is shown ("Суммировать по:" ticked).
    std::vector<bool> totalVisible;
    std::string taskTitle = "Задание:";
    std::string title;  // binding name + " : " + task entry text
    std::string info;   // mode text + " " + task description
    std::string today;  // "dd.mm.yyyy"
};

// "Всего строк: n", the row count line under the rows.
std::string rowCountText(std::size_t rows);
// "Стр. n из m", the page line in the header.
std::string pageText(int page, int pageCount);
// A total as shown: two decimals at most, no trailing zeros ("[general]" of a rounded sum).
std::string totalText(double total);

}  // namespace peltra::reports
