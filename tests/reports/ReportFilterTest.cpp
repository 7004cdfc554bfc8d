// The report's filter and sort expressions, the header texts, the period check, and the SQL order
// the choice becomes.
#include "reports/ReportFilter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace peltra::reports {
namespace {

ReportOptions options(ReportMode mode, std::optional<ReportPeriod> period = std::nullopt)
{
    return {"Абоненты", std::nullopt, mode, std::move(period), {}, ReportVariant::BindingTable};
}

ReportTaskView rangeTask(std::uint32_t typefilter = 1)
{
    return {"Долг", "SUMMA", "N", true, typefilter, "SUMMA", typefilter ? "SUMMA>=1 AND SUMMA<=100" : "",
            typefilter ? "\"SUMMA\">=1 AND \"SUMMA\"<=100" : ""};
}

const ReportPeriod kPeriod{"01/03/2024", "05/03/2024"};

TEST(ReportFilterTest, FilterAndSortTextsOfEachChoice)
{
    const struct {
        const char* name;
        ReportOptions options;
        std::optional<ReportTaskView> task;
        std::string filter;
    } cases[] = {
        {"1 all, whole file", options(ReportMode::All, kPeriod), std::nullopt, ""},
        {"2 notified", options(ReportMode::Notified), std::nullopt, "(not isNull(data))"},
        {"3 not notified ignores the period", options(ReportMode::NotNotified, kPeriod), std::nullopt, "isNull(data)"},
        {"4 all with a task filter", options(ReportMode::All), rangeTask(), " (SUMMA>=1 AND SUMMA<=100) "},
        {"5 period and task filter", options(ReportMode::Notified, kPeriod), rangeTask(),
         "(not isNull(data)) and data>=date('01/03/2024') and data<=date('05/03/2024') and  (SUMMA>=1 AND SUMMA<=100) "},
        {"6 Typefilter 0 adds nothing", options(ReportMode::NotNotified), rangeTask(0), "isNull(data)"},
    };
    // The rows the SQL chooses are held against the generated rows in the reader's test.
    for (const auto& c : cases)
        EXPECT_EQ(reportFilterText(c.options, c.task), c.filter) << c.name;

    ReportTaskView task = rangeTask();
    EXPECT_EQ(reportSortText(std::nullopt) + "|" + sqlOrder(std::nullopt), " telef A|TELEF ASC, rowid ASC");
    EXPECT_EQ(reportSortText(task) + "|" + sqlOrder(task), " NUMERIC(SUMMA) A|SUMMA ASC, rowid ASC");
    task.fieldSort = "TELEF";
    task.fieldSortType = "C";
    task.ascend = false;
    EXPECT_EQ(reportSortText(task) + "|" + sqlOrder(task), " NUMERIC(TELEF) D|CAST(TELEF AS REAL) DESC, rowid ASC");
    task.fieldSort.clear();
    EXPECT_EQ(reportSortText(task) + "|" + sqlOrder(task), "|");
}

TEST(ReportFilterTest, PeriodDatesMustBeRealDays)
{
    const std::pair<const char*, bool> cases[] = {
        {"29/02/2024", true},  {"29/02/2023", false}, {"31/02/2026", false}, {"31/12/2026", true},
        {"00/01/2026", false}, {"01/13/2026", false}, {"1/1/2026", false},   {"01-01-2026", false},
        {"01/01/0000", false}, {"aa/01/2026", false}, {"29/02/2000", true},  {"29/02/1900", false},
    };
    for (const auto& [text, real] : cases)
        EXPECT_EQ(parsePeriodDate(text).has_value(), real) << text;

    const auto wrong = checkPeriod(options(ReportMode::Notified, ReportPeriod{"01/02/2026", "31/02/2026"}));
    EXPECT_EQ(wrong.value_or(""), "Дата '31/02/2026' указана неверно: нужна существующая дата в виде ДД/ММ/ГГГГ.");
    // Modes that ignore the period do not judge it either.
    EXPECT_FALSE(checkPeriod(options(ReportMode::NotNotified, ReportPeriod{"x", "31/02/2026"})).has_value());
    EXPECT_FALSE(checkPeriod(options(ReportMode::Notified, kPeriod)).has_value());
}

}  // namespace
}  // namespace peltra::reports
