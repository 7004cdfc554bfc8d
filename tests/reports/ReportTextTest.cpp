// The plain-text table and the CSV of a small report built by hand.
#include "reports/ReportText.h"

#include <gtest/gtest.h>

#include <string>

namespace peltra::reports {
namespace {

ReportData smallReport(bool sumShown)
{
    ReportData data{ReportVariant::BindingTable,
                    {{"TELEF", "Телефон", ColumnKind::Char, 9, 0, 1, 9}, {"FIO", "FIO", ColumnKind::Char, 12, 0, 2, 12},
                     {"SUMMA", "Сумма", ColumnKind::Decimal, 8, 2, 3, 8}},
                    ReportRows(3), {std::nullopt, std::nullopt, 10.75}, {false, false, sumShown}, "Задание:",
                    "Абоненты : Весь файл", "Оповещенные и неоповещенные. ", "06.12.2026"};
    data.rows.append({"2345678", "Петров, П.", "10.50"});
    data.rows.append({"11", "Сидоров \"мл\"", ""});
    data.rows.append({"99", "a\r\nb", "0.25"});
    return data;
}

TEST(ReportTextTest, PlainTextAndCsvOfTitlesCellsAndTotals)
{
    const std::string want = "Задание:  06.12.2026\n"
                             "Абоненты : Весь файл\n"
                             "Оповещенные и неоповещенные.\n"
                             "\n"
                             " Телефон       FIO        Сумма\n"
                             "---------------------------------\n"
                             "2345678    Петров, П.       10.50\n"
                             "11         Сидоров \"мл\"\n"
                             "99         a  b              0.25\n"  // line breaks inside a cell become blanks

                             "---------------------------------\n"
                             "                            10.75\n"
                             "Всего строк: 3\n";
    EXPECT_EQ(reportText(smallReport(true)), want);
    EXPECT_EQ(reportCsv(smallReport(true)), "Телефон,FIO,Сумма\r\n"
                                            "2345678,\"Петров, П.\",10.50\r\n"
                                            "11,\"Сидоров \"\"мл\"\"\",\r\n"
                                            "99,\"a\r\nb\",0.25\r\n");

    // No totals line when none is shown; an empty report still counts its rows.
    ReportData data = smallReport(false);
    const std::string text = reportText(data);
    EXPECT_EQ(text.find("10.75"), std::string::npos);
    EXPECT_NE(text.find("---------------------------------\nВсего строк: 3\n"), std::string::npos) << text;
    data.rows.clear();
    EXPECT_NE(reportText(data).find("Всего строк: 0\n"), std::string::npos);
    EXPECT_EQ(reportCsv(data), "Телефон,FIO,Сумма\r\n");

    // Totals lose only trailing zeros.
    for (const auto& [total, text] : {std::pair{10.0, "10"}, {12.5, "12.5"}, {3.583, "3.58"}, {-0.001, "0"}, {0.1, "0.1"}})
        EXPECT_EQ(totalText(total), text) << total;
}

}  // namespace
}  // namespace peltra::reports
