// The report's row choice in two languages: the filter and sort expressions of the report
// control, with the header texts that describe them, and their translation into the SQL the
// data layer runs. Also the check of the notification period.
#pragma once

#include "reports/ReportModel.h"

#include <cstdint>
#include <optional>
#include <string>

namespace peltra::reports {

// What of a task the report needs; no task stands for "Весь файл".
struct ReportTaskView {
    std::string name;
    std::string fieldSort;      // empty: no sort
    std::string fieldSortType;  // N C D ...
    bool ascend = false;
    std::uint32_t typefilter = 0;
    std::string rangeField;        // for the description of a range filter
    std::string filterText;        // field names unquoted, as the report control takes them
    std::string filterSql;         // field names quoted where they need it, for the SQL engine
};

inline constexpr char kWholeFile[] = "Весь файл";

// A period date "dd/mm/yyyy" that names a real day; nothing when it does not.
struct PeriodDate {
    int day = 0;
    int month = 0;
    int year = 0;
};
std::optional<PeriodDate> parsePeriodDate(const std::string& text);
// Why the period cannot be used (a date that is not a real day), or nothing when it can. Only
// mode Notified looks at the period; for the others nothing is checked.
std::optional<std::string> checkPeriod(const ReportOptions& options);

// The filter expression of the report control; empty when nothing is filtered.
std::string reportFilterText(const ReportOptions& options, const std::optional<ReportTaskView>& task);
// The sort expression: " telef A" for the whole file, " NUMERIC(field) A|D" for a task with a
// sort field, empty for a task without one.
std::string reportSortText(const std::optional<ReportTaskView>& task);

// The same choice in SQL: the condition for WHERE (empty: every row) and the ORDER BY list
// (empty: table order). The period must have passed checkPeriod.
std::string sqlCondition(const ReportOptions& options, const std::optional<ReportTaskView>& task);
std::string sqlOrder(const std::optional<ReportTaskView>& task);

// "Оповещенные и неоповещенные.", "Только оповещенные[ в период с A по B].", "Только неоповещенные."
std::string modeText(const ReportOptions& options);
// The task's sort and filter in words, as the task manager lists them; empty for the whole file.
std::string taskDescription(const std::optional<ReportTaskView>& task);
// mtitle: binding + " : " + task name or "Весь файл".
std::string titleText(const ReportOptions& options);
// minfo: mode text + " " + task description.
std::string infoText(const ReportOptions& options, const std::optional<ReportTaskView>& task);

}  // namespace peltra::reports
