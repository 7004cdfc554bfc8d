// The report's source text, written out by hand for a small table in both variants, and the
// placements that keep titles, cells and totals in line.
#include "reports/ReportSource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltra::reports {
namespace {

// TELEF C 12 (12 wide), SUMMA N 10.2 (10 wide), DATA D (10 wide), PAID L (title 4 wide).
std::vector<ReportColumn> smallTable()
{
    return {{"TELEF", "Телефон", ColumnKind::Char, 12, 0, 1, 12},
            {"SUMMA", "Сумма", ColumnKind::Decimal, 10, 2, 2, 10},
            {"DATA", "Дата", ColumnKind::Date, 8, 0, 3, 10},
            {"PAID", "PAID", ColumnKind::Logical, 1, 0, 4, 4}};
}

constexpr char kFont[] =
    "  font.face='Arial' font.height='-10' font.weight='400'  font.family='2' font.pitch='2' font.charset='-52'";
constexpr char kBold[] =
    "  font.face='Arial' font.height='-10' font.weight='700'  font.family='2' font.pitch='2' font.charset='-52'";
constexpr char kClear[] = " background.mode='1' background.color='536870912' )";

// The whole text by hand. Widths: 12*7+8 = 92, 10*7+8 = 78, 78, 4*7+8 = 36; x from 5 with a gap of 2:
// 5, 99, 179, 259; the report ends at 295, so the page number sits at x 195 and the header lines
// take the least width, 300.
std::string expected(const std::string& band, const std::string& detailHeight, const std::string& colour,
                     const std::string& titleBorder, const std::string& detailBorder, const std::string& detailColour)
{
    const std::string t = "/data/abon.dbf";
    std::string s = "release 5; datawindow(units=1 timer_interval=0 color=" + colour +
                    " processing=0 print.documentname='' print.orientation = 0 print.margin.left = 24 "
                    "print.margin.right = 24 print.margin.top = 24 print.margin.bottom = 24 print.paper.source = 0 "
                    "print.paper.size = 0 print.prompt=no )header(height=106 color='536870912' )summary(height=42 "
                    "color='536870912' )footer(height=21 color='536870912' )detail(height=" +
                    detailHeight + " color='536870912' )table(";
    s += " column=(type=char(12) updatewhereclause=yes name=TELEF dbname='" + t + ".TELEF' )";
    s += " column=(type=decimal(2) updatewhereclause=yes name=SUMMA dbname='" + t + ".SUMMA' )";
    s += " column=(type=date updatewhereclause=yes name=DATA dbname='" + t + ".DATA' )";
    s += " column=(type=number updatewhereclause=yes name=PAID dbname='" + t + ".PAID' )";
    s += " retrieve='PBSELECT(TABLE(NAME=~'" + t + "~') COLUMN(NAME=~'" + t + ".TELEF~')COLUMN(NAME=~'" + t +
         ".SUMMA~')COLUMN(NAME=~'" + t + ".DATA~')COLUMN(NAME=~'" + t + ".PAID~'))' )";
    const char* titles[][4] = {{"Телефон", "5", "92", "TELEF"},
                               {"Сумма", "99", "78", "SUMMA"},
                               {"Дата", "179", "78", "DATA"},
                               {"PAID", "259", "36", "PAID"}};
    for (const auto& c : titles)
        s += std::string("text(band=header alignment='2' text='") + c[0] + "'border='" + titleBorder +
             "' color='0'x='" + c[1] + "' y='88' height='16' width='" + c[2] + "'  name=" + c[3] + "_t" + kFont +
             " background.mode='2' background.color='" + colour + "' )";
    s += std::string("text(band=header alignment='0' text='Задание:'border='0' color='0'x='5' y='4' height='16' "
                     "width='60'  name=tasktitle") + kBold + kClear;
    s += std::string("compute(band=header alignment='0' expression='today()'border='0' color='0' x='70' y='4' "
                     "height='16' width='64' format='dd.mm.yyyy'  name=comp_1") + kFont + kClear;
    s += std::string("compute(band=header alignment='1' expression='~'Стр. ~' + page() + ~' из ~' + "
                     "pageCount()'border='0' color='0' x='195' y='4' height='16' width='100' "
                     "format='[general]'  name=comp_2") + kFont + kClear;
    s += std::string("text(band=header alignment='0' text=''border='0' color='0'x='5' y='19' height='16' "
                     "width='300'  name=mtitle") + kBold + kClear;
    s += std::string("text(band=header alignment='0' text=''border='0' color='0'x='5' y='44' height='32' "
                     "width='300'  name=minfo") + kFont + kClear;
    s += "compute(band=" + band + " alignment='1' expression='round(sum(SUMMA),2)'border='0' color='0' x='99' "
         "y='21' height='16' width='78' format='[general]'  name=sm_SUMMA visible='1~t0'" + kFont + kClear;
    s += "compute(band=" + band + " alignment='0' expression='~'Всего строк: ~'+rowcount()'border='0' color='0' "
         "x='5' y='2' height='16' width='150' format='[general]'  name=total" + kFont + kClear;
    const char* cells[][4] = {{"1", "5", "92", "TELEF"}, {"2", "99", "78", "SUMMA"},
                              {"3", "179", "78", "DATA"}, {"4", "259", "36", "PAID"}};
    for (const auto& c : cells)
        s += std::string("column(band=detail id=") + c[0] + " alignment='1' tabsequence=32766 border='" +
             detailBorder + "' color='0' x='" + c[1] + "' y='1' height='19' width='" + c[2] +
             "' format='[general]'  name=" + c[3] +
             " edit.limit=0 edit.case=any edit.autoselect=yes edit.autohscroll=yes" + kFont +
             " background.mode='2' background.color='" + detailColour + "' )";
    return s;
}

TEST(ReportSourceTest, BothVariantsAreExact)
{
    EXPECT_EQ(reportSource(smallTable(), "/data/abon.dbf", ReportVariant::BindingTable),
              expected("footer", "23", "79416533", "6", "5", "536870912"));
    EXPECT_EQ(reportSource(smallTable(), "/data/abon.dbf", ReportVariant::ArchiveFile),
              expected("summary", "20", "16777215", "2", "2", "16777215"));
}

TEST(ReportSourceTest, ATableWithoutNumbersHasNoTotals)
{
    const std::vector<ReportColumn> columns = {{"TELEF", "Телефон", ColumnKind::Char, 12, 0, 1, 12},
                                               {"DATA", "Дата", ColumnKind::Date, 8, 0, 2, 10}};
    const std::string source = reportSource(columns, "t.dbf", ReportVariant::BindingTable);
    EXPECT_EQ(source.find("sm_"), std::string::npos);
    EXPECT_EQ(source.find("round(sum("), std::string::npos);
    EXPECT_NE(source.find("name=total"), std::string::npos);
}

TEST(ReportSourceTest, QuotesInNamesAreEscapedWithTildes)
{
    const std::vector<ReportColumn> columns = {{"A", "it's~", ColumnKind::Char, 5, 0, 1, 5}};
    const std::string source = reportSource(columns, "/d/o'k.dbf", ReportVariant::BindingTable);
    EXPECT_NE(source.find("text='it~'s~~'border"), std::string::npos);
    EXPECT_NE(source.find("dbname='/d/o~'k.dbf.A' )"), std::string::npos);
    // Inside the retrieve string the quote is escaped twice: once for PBSELECT, once for the string.
    EXPECT_NE(source.find("retrieve='PBSELECT(TABLE(NAME=~'/d/o~~~'k.dbf~') "), std::string::npos);
}

}  // namespace
}  // namespace peltra::reports
