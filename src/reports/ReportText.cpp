// The plain-text and CSV forms of a report.
#include "reports/ReportText.h"

#include "platform/text/Utf8.h"

#include <algorithm>

namespace peltra::reports {

namespace {

constexpr char kGap[] = "  ";

enum class Align { Left, Right, Centre };

// A cell on one line: line breaks and tabs inside a value become blanks.
void pad(std::string& line, std::string_view text, std::size_t width, Align align)
{
    std::string flat;
    if (text.find_first_of("\r\n\t") != std::string_view::npos) {
        flat.assign(text);
        std::replace_if(flat.begin(), flat.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
        text = flat;
    }
    const std::size_t length = platform::utf8Width(text);
    const std::size_t room = width > length ? width - length : 0;
    const std::size_t before = align == Align::Right ? room : align == Align::Centre ? room / 2 : 0;
    line.append(before, ' ');
    line += text;
    line.append(room - before, ' ');
}

void endLine(std::string& out, std::string& line)
{
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    out += line;
    out += '\n';
    line.clear();
}

Align cellAlign(const ReportColumn& column)
{
    return column.kind == ColumnKind::Char ? Align::Left : Align::Right;
}

std::size_t widthOf(const ReportColumn& column) { return static_cast<std::size_t>(std::max(column.displayWidth, 1)); }

void csvField(std::string& out, std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

std::string reportText(const ReportData& data)
{
    std::string out;
    std::string line = data.taskTitle + kGap + data.today;
    endLine(out, line);
    line = data.title;
    endLine(out, line);
    line = data.info;
    endLine(out, line);
    endLine(out, line);

    std::size_t total = 0;
    for (std::size_t i = 0; i < data.columns.size(); ++i) {
        if (i)
            line += kGap;
        pad(line, data.columns[i].title, widthOf(data.columns[i]), Align::Centre);
        total += widthOf(data.columns[i]) + (i ? 2 : 0);
    }
    endLine(out, line);
    line.assign(total, '-');
    endLine(out, line);

    for (std::size_t row = 0; row < data.rows.rowCount(); ++row) {
        for (std::size_t i = 0; i < data.columns.size(); ++i) {
            if (i)
                line += kGap;
            pad(line, data.rows.cell(row, i), widthOf(data.columns[i]), cellAlign(data.columns[i]));
        }
        endLine(out, line);
    }

    bool anyTotal = false;
    for (std::size_t i = 0; i < data.columns.size(); ++i)
        anyTotal = anyTotal || (i < data.totalVisible.size() && data.totalVisible[i] && i < data.totals.size() &&
                                data.totals[i].has_value());
    line.assign(total, '-');
    endLine(out, line);
    if (anyTotal) {
        for (std::size_t i = 0; i < data.columns.size(); ++i) {
            if (i)
                line += kGap;
            const bool shown = i < data.totalVisible.size() && data.totalVisible[i] && i < data.totals.size() &&
                               data.totals[i].has_value();
            pad(line, shown ? totalText(*data.totals[i]) : std::string(), widthOf(data.columns[i]), Align::Right);
        }
        endLine(out, line);
    }
    line = rowCountText(data.rows.rowCount());
    endLine(out, line);
    return out;
}

std::string reportCsv(const ReportData& data)
{
    std::string out;
    for (std::size_t i = 0; i < data.columns.size(); ++i) {
        if (i)
            out += ',';
        csvField(out, data.columns[i].title);
    }
    out += "\r\n";
    for (std::size_t row = 0; row < data.rows.rowCount(); ++row) {
        for (std::size_t i = 0; i < data.columns.size(); ++i) {
            if (i)
                out += ',';
            csvField(out, data.rows.cell(row, i));
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace peltra::reports
