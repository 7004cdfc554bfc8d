// The report's DataWindow source text and the column placements shared by every output.
#include "reports/ReportSource.h"

#include <algorithm>

namespace peltra::reports {

namespace {

constexpr int kLeftMargin = 5;
constexpr int kCharPixels = 7;  // an average Arial -10 character
constexpr int kCellPadding = 8;
constexpr int kColumnGap = 2;

// The placeholders in which the two variants differ.
struct VariantLook {
    const char* band;  // of the totals and the row count
    int detailHeight;
    const char* background;  // report colour and title cells
    int titleBorder;
    int detailBorder;
    const char* detailBackground;
};

VariantLook lookOf(ReportVariant variant)
{
    if (variant == ReportVariant::ArchiveFile)
        return {"summary", 20, "16777215", 2, 2, "16777215"};
    return {"footer", 23, "79416533", 6, 5, "536870912"};
}

constexpr char kFont[] = "  font.face='Arial' font.height='-10' font.weight='400'  font.family='2' font.pitch='2' font.charset='-52'";
constexpr char kBoldFont[] = "  font.face='Arial' font.height='-10' font.weight='700'  font.family='2' font.pitch='2' font.charset='-52'";
constexpr char kTransparent[] = " background.mode='1' background.color='536870912' )";

std::string number(int value) { return std::to_string(value); }

std::string placement(int x, int y, int height, int width)
{
    return "x='" + number(x) + "' y='" + number(y) + "' height='" + number(height) + "' width='" + number(width) + "'";
}

std::string columnType(const ReportColumn& column)
{
    switch (column.kind) {
    case ColumnKind::Char: return " column=(type=char(" + number(column.length) + ")";
    case ColumnKind::Decimal: return " column=(type=decimal(" + number(column.scale) + ")";
    case ColumnKind::Date: return " column=(type=date";
    case ColumnKind::Logical: return " column=(type=number";
    }
    return {};
}

}  // namespace

std::vector<ColumnPlacement> columnPlacements(const std::vector<ReportColumn>& columns)
{
    std::vector<ColumnPlacement> placements;
    placements.reserve(columns.size());
    int x = kLeftMargin;
    for (const ReportColumn& column : columns) {
        const int width = std::max(column.displayWidth, 1) * kCharPixels + kCellPadding;
        placements.push_back({x, width});
        x += width + kColumnGap;
    }
    return placements;
}

int reportWidth(const std::vector<ReportColumn>& columns)
{
    const std::vector<ColumnPlacement> placements = columnPlacements(columns);
    return placements.empty() ? kLeftMargin : placements.back().x + placements.back().width;
}

std::string sourceTableName(const std::string& path) { return path; }

std::string tildeQuoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '~' || c == '\'')
            out += '~';
        out += c;
    }
    return out;
}

std::string reportSource(const std::vector<ReportColumn>& columns, const std::string& table, ReportVariant variant)
{
    const VariantLook look = lookOf(variant);
    const std::vector<ColumnPlacement> places = columnPlacements(columns);
    const int width = reportWidth(columns);
    const std::string background = look.background;
    std::string s;
    s.reserve(1024 + columns.size() * 1024);

    s += "release 5; datawindow(units=1 timer_interval=0 color=" + background +
         " processing=0 print.documentname='' print.orientation = 0 print.margin.left = 24"
         " print.margin.right = 24 print.margin.top = 24 print.margin.bottom = 24 print.paper.source = 0"
         " print.paper.size = 0 print.prompt=no )header(height=106 color='536870912' )summary(height=42"
         " color='536870912' )footer(height=21 color='536870912' )detail(height=" +
         number(look.detailHeight) + " color='536870912' )table(";

    const std::string quotedTable = tildeQuoted(table);
    for (const ReportColumn& column : columns)
        s += columnType(column) + " updatewhereclause=yes name=" + column.field + " dbname='" + quotedTable + "." +
             tildeQuoted(column.field) + "' )";

    // The retrieve clause is a quoted string holding the PBSELECT text, whose own quotes are
    // escaped once more.
    std::string select = "PBSELECT(TABLE(NAME='" + tildeQuoted(table) + "') ";
    for (const ReportColumn& column : columns)
        select += "COLUMN(NAME='" + tildeQuoted(table) + "." + tildeQuoted(column.field) + "')";
    s += " retrieve='" + tildeQuoted(select) + ")' )";

    for (std::size_t i = 0; i < columns.size(); ++i)
        s += "text(band=header alignment='2' text='" + tildeQuoted(columns[i].title) + "'border='" +
             number(look.titleBorder) + "' color='0'" + placement(places[i].x, 88, 16, places[i].width) + "  name=" +
             columns[i].field + "_t" + kFont + " background.mode='2' background.color='" + background + "' )";

    const int rightX = std::max(width - 100, 140);
    const int lineWidth = std::max(width - kLeftMargin, 300);
    s += std::string("text(band=header alignment='0' text='Задание:'border='0' color='0'") + placement(kLeftMargin, 4, 16, 60) +
         "  name=tasktitle" + kBoldFont + kTransparent;
    s += "compute(band=header alignment='0' expression='today()'border='0' color='0' " + placement(70, 4, 16, 64) +
         " format='dd.mm.yyyy'  name=comp_1" + kFont + kTransparent;
    s += "compute(band=header alignment='1' expression='~'Стр. ~' + page() + ~' из ~' + pageCount()'border='0' color='0' " +
         placement(rightX, 4, 16, 100) + " format='[general]'  name=comp_2" + kFont + kTransparent;
    s += "text(band=header alignment='0' text=''border='0' color='0'" + placement(kLeftMargin, 19, 16, lineWidth) +
         "  name=mtitle" + kBoldFont + kTransparent;
    s += "text(band=header alignment='0' text=''border='0' color='0'" + placement(kLeftMargin, 44, 32, lineWidth) +
         "  name=minfo" + kFont + kTransparent;

    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].kind != ColumnKind::Decimal)
            continue;
        s += std::string("compute(band=") + look.band + " alignment='1' expression='round(sum(" + columns[i].field +
             "),2)'border='0' color='0' " + placement(places[i].x, 21, 16, places[i].width) +
             " format='[general]'  name=sm_" + columns[i].field + " visible='1~t0'" + kFont + kTransparent;
    }

    s += std::string("compute(band=") + look.band +
         " alignment='0' expression='~'Всего строк: ~'+rowcount()'border='0' color='0' " +
         placement(kLeftMargin, 2, 16, 150) + " format='[general]'  name=total" + kFont + kTransparent;

    for (std::size_t i = 0; i < columns.size(); ++i)
        s += "column(band=detail id=" + number(columns[i].id) + " alignment='1' tabsequence=32766 border='" +
             number(look.detailBorder) + "' color='0' " + placement(places[i].x, 1, 19, places[i].width) +
             " format='[general]'  name=" + columns[i].field +
             " edit.limit=0 edit.case=any edit.autoselect=yes edit.autohscroll=yes" + kFont +
             " background.mode='2' background.color='" + look.detailBackground + "' )";
    return s;
}

std::vector<std::string> reportModifications(const ReportData& data)
{
    std::vector<std::string> changes;
    changes.push_back("mtitle.Text='" + tildeQuoted(data.title) + "'");
    changes.push_back("minfo.Text='" + tildeQuoted(data.info) + "'");
    bool anyVisible = false;
    for (std::size_t i = 0; i < data.columns.size(); ++i) {
        if (data.columns[i].kind != ColumnKind::Decimal)
            continue;
        const bool visible = i < data.totalVisible.size() && data.totalVisible[i];
        anyVisible = anyVisible || visible;
        changes.push_back("sm_" + data.columns[i].field + ".Visible=" + (visible ? "1" : "0"));
    }
    changes.push_back(std::string("DataWindow.Footer.Height=") + (anyVisible ? "42" : "21"));
    return changes;
}

}  // namespace peltra::reports
