// The report's filter, sort and header texts, and their SQL form.
#include "reports/ReportFilter.h"

#include "data/Functions.h"

#include <cstdio>

namespace peltra::reports {

namespace {

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

bool digits(const std::string& text, std::size_t from, std::size_t count, int& value)
{
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD", the form the data layer gives D fields in.
std::string isoDate(const PeriodDate& date)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", date.year, date.month, date.day);
    return buffer;
}

bool periodApplies(const ReportOptions& options)
{
    return options.mode == ReportMode::Notified && options.period.has_value();
}

bool isNumericType(const std::string& type) { return type == "N" || type == "n" || type == "F" || type == "f"; }
bool isDateType(const std::string& type) { return type == "D" || type == "d"; }

}  // namespace

std::optional<PeriodDate> parsePeriodDate(const std::string& text)
{
    PeriodDate date;
    if (text.size() != 10 || text[2] != '/' || text[5] != '/' || !digits(text, 0, 2, date.day) ||
        !digits(text, 3, 2, date.month) || !digits(text, 6, 4, date.year))
        return std::nullopt;
    if (date.year < 1 || date.month < 1 || date.month > 12 || date.day < 1 ||
        date.day > daysInMonth(date.year, date.month))
        return std::nullopt;
    return date;
}

std::optional<std::string> checkPeriod(const ReportOptions& options)
{
    if (!periodApplies(options))
        return std::nullopt;
    for (const std::string* text : {&options.period->from, &options.period->to})
        if (!parsePeriodDate(*text))
            return "Дата '" + *text + "' указана неверно: нужна существующая дата в виде ДД/ММ/ГГГГ.";
    return std::nullopt;
}

std::string reportFilterText(const ReportOptions& options, const std::optional<ReportTaskView>& task)
{
    std::string filter;
    if (options.mode == ReportMode::Notified) {
        filter = "(not isNull(data))";
        if (options.period)
            filter += " and data>=date('" + options.period->from + "') and data<=date('" + options.period->to + "')";
    } else if (options.mode == ReportMode::NotNotified) {
        filter = "isNull(data)";
    }
    if (task && !task->filterText.empty()) {
        if (!filter.empty())
            filter += " and ";
        filter += " (" + task->filterText + ") ";
    }
    return filter;
}

std::string reportSortText(const std::optional<ReportTaskView>& task)
{
    if (!task)
        return " telef A";
    if (task->fieldSort.empty())
        return {};
    return " NUMERIC(" + task->fieldSort + ") " + (task->ascend ? "A" : "D");
}

std::string sqlCondition(const ReportOptions& options, const std::optional<ReportTaskView>& task)
{
    // A row counts as notified when DATA holds something: a date, or (in a table that keeps DATA
    // as text) any text that is not blank.
    std::string condition;
    if (options.mode == ReportMode::Notified) {
        condition = "(DATA IS NOT NULL AND TRIM(DATA) <> '')";
        if (options.period) {
            const std::optional<PeriodDate> from = parsePeriodDate(options.period->from);
            const std::optional<PeriodDate> to = parsePeriodDate(options.period->to);
            if (from && to)
                condition += " AND DATA >= '" + isoDate(*from) + "' AND DATA <= '" + isoDate(*to) + "'";
            else
                condition += " AND 0";  // never reached past checkPeriod; no rows rather than all
        }
    } else if (options.mode == ReportMode::NotNotified) {
        condition = "(DATA IS NULL OR TRIM(DATA) = '')";
    }
    if (task && !task->filterSql.empty()) {
        if (!condition.empty())
            condition += " AND ";
        condition += "(" + task->filterSql + ")";
    }
    return condition;
}

std::string sqlOrder(const std::optional<ReportTaskView>& task)
{
    // Rows of equal keys keep table order, so a report reads the same every time.
    if (!task)
        return "TELEF ASC, rowid ASC";
    if (task->fieldSort.empty())
        return {};
    const std::string field = data::Functions::sqlName(task->fieldSort);
    const std::string direction = task->ascend ? " ASC" : " DESC";
    // The sort compares values as numbers. Dates come as YYYY-MM-DD text, which already sorts
    // by day; as a number it would be the year alone.
    const std::string key = isNumericType(task->fieldSortType) || isDateType(task->fieldSortType)
                                ? field
                                : "CAST(" + field + " AS REAL)";
    return key + direction + ", rowid ASC";
}

std::string modeText(const ReportOptions& options)
{
    switch (options.mode) {
    case ReportMode::All: return "Оповещенные и неоповещенные.";
    case ReportMode::Notified:
        if (options.period)
            return "Только оповещенные в период с " + options.period->from + " по " + options.period->to + ".";
        return "Только оповещенные.";
    case ReportMode::NotNotified: return "Только неоповещенные.";
    }
    return {};
}

std::string taskDescription(const std::optional<ReportTaskView>& task)
{
    if (!task)
        return {};
    std::string text = "Сортировка: ";
    text += task->fieldSort.empty() ? "не задана" : task->fieldSort + (task->ascend ? " возр." : " убыв.");
    text += "; фильтр: ";
    if (task->filterText.empty())
        text += "Не задан";
    else if (task->typefilter == 1)
        text += "Диапазоны по полю \"" + task->rangeField + "\": " + task->filterText;
    else
        text += "Логическое условие: " + task->filterText;
    return text + ".";
}

std::string titleText(const ReportOptions& options)
{
    return options.binding + " : " + (options.task ? *options.task : std::string(kWholeFile));
}

std::string infoText(const ReportOptions& options, const std::optional<ReportTaskView>& task)
{
    return modeText(options) + " " + taskDescription(task);
}

}  // namespace peltra::reports
