// Reading a results report: the table (or archive) behind the options, its columns, and its rows
// chosen, sorted, formatted and totalled.
#include "reports/ReportReader.h"

#include "data/Connection.h"
#include "data/Functions.h"
#include "data/Query.h"
#include "platform/text/CaseFold.h"
#include "platform/text/Utf8.h"
#include "reports/ReportFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

namespace peltra::reports {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kRowsPerCheck = 256;

// The table a report reads, found from the options, with its connection.
struct OpenTable {
    fs::path file;
    std::string tableName;  // as the SQL names it: the file's stem in the qualifier's folder
    std::optional<ReportTaskView> task;
    std::unique_ptr<data::Connection> connection;
};

std::optional<ReportTaskView> taskView(config::Operator& task)
{
    const config::TaskDefinition definition = task.definition();
    ReportTaskView view;
    view.name = task.name();
    view.fieldSort = definition.fieldSort;
    view.fieldSortType = definition.fieldSortType;
    view.ascend = definition.ascend;
    view.typefilter = definition.typefilter;
    view.rangeField = task.rangeField();
    view.filterText = definition.filterText;
    view.filterSql = task.filterText(true);
    return view;
}

bool failWith(ReadResult& result, std::string message)
{
    result.outcome = ReadOutcome::Failed;
    result.message = std::move(message);
    return false;
}

// The binding, the task and the path of the file; false after filling result.
bool findTable(config::TaskStore& tasks, const ReportOptions& options, std::string& path,
               std::optional<ReportTaskView>* view, ReadResult& result)
{
    std::optional<config::Task> binding = tasks.binding(options.binding);
    if (!binding)
        return failWith(result, "Нет базы данных '" + options.binding + "'.");
    std::optional<config::Operator> task = options.task ? tasks.task(options.binding, *options.task) : std::nullopt;
    if (options.task) {
        if (!task)
            return failWith(result, "Нет задания '" + *options.task + "' у базы данных '" + options.binding + "'.");
        if (view)
            *view = taskView(*task);
    }
    if (options.variant == ReportVariant::ArchiveFile) {
        if (!task)
            return failWith(result, "Архив оповещенных есть только у задания: выберите задание.");
        path = task->text(config::TaskProperty::ArhiveFile);
        if (!task->flag(config::TaskProperty::Arhive) || path.empty())
            return failWith(result, "Задание '" + *options.task + "' не запоминает оповещенных в отдельном файле.");
    } else {
        path = binding->file();
        if (path.empty())
            return failWith(result, "У базы данных '" + options.binding + "' не указан файл.");
    }
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(path), ec))
        return failWith(result, std::string(options.variant == ReportVariant::ArchiveFile ? "Файл архива '"
                                                                                           : "Файл базы данных '") +
                                    path + "' не найден.");
    return true;
}

// Finds the table and connects with the file's folder as the qualifier.
bool openTable(config::TaskStore& tasks, const ReportOptions& options, OpenTable& out, ReadResult& result)
{
    std::string path;
    if (!findTable(tasks, options, path, &out.task, result))
        return false;
    std::error_code ec;
    out.file = fs::absolute(fs::path(path), ec);
    if (ec)
        return failWith(result, "Файл '" + path + "' не найден.");
    out.tableName = data::Functions::sqlName(out.file.stem().string());

    std::optional<config::Task> binding = tasks.binding(options.binding);
    out.connection = std::make_unique<data::Connection>();
    if (!out.connection->bind("peltra") || !out.connection->connect() ||
        !out.connection->setConnectOption(data::kCurrentQualifierOption, out.file.parent_path().string()) ||
        !out.connection->setConnectOption(data::kUnmarkedCodePageOption, binding ? binding->codePage() : "")) {
        result.outcome = ReadOutcome::Failed;
        result.errors = out.connection->takeErrors();
        return false;
    }
    return true;
}

std::string titleOf(const std::string& field)
{
    static constexpr std::pair<const char*, const char*> kTitles[] = {
        {"TELEF", "Телефон"}, {"PROBA", "Проба"}, {"OTBOJ", "Отбой"},
        {"DATA", "Дата"},     {"CLOCK", "Время"}, {"SUMMA", "Сумма"},
    };
    for (const auto& [name, title] : kTitles)
        if (platform::equalsIgnoreCase(field, name))
            return title;
    return field;
}

std::optional<std::vector<ReportColumn>> columnsOf(OpenTable& table, ReadResult& result)
{
    const auto infos = table.connection->columns(table.file.filename().string());
    if (!infos) {
        result.outcome = ReadOutcome::Failed;
        result.errors = table.connection->takeErrors();
        return std::nullopt;
    }
    std::vector<ReportColumn> columns;
    for (const data::ColumnInfo& info : *infos) {
        ReportColumn column;
        column.field = info.name;
        column.title = titleOf(info.name);
        column.length = info.length;
        int widest = 0;
        switch (info.sqlType) {
        case 1:
            column.kind = ColumnKind::Char;
            widest = info.length;
            break;
        case 2:
        case 3:
        case 6:  // F fields are numbers like N fields; they are summed too
            column.kind = ColumnKind::Decimal;
            column.scale = info.decimals;
            widest = info.length;
            break;
        case 9:
            column.kind = ColumnKind::Date;
            widest = 10;  // dd.mm.yyyy
            break;
        case -7:
            column.kind = ColumnKind::Logical;
            widest = 1;
            break;
        default: continue;  // memo, binary and the like are not shown
        }
        column.id = static_cast<int>(columns.size()) + 1;
        column.displayWidth = std::max(static_cast<int>(platform::utf8Width(column.title)), widest);
        columns.push_back(std::move(column));
    }
    return columns;
}

std::string todayText()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", parts.tm_mday, parts.tm_mon + 1, parts.tm_year + 1900);
    return buffer;
}

// A cell as the report shows it: numbers with their scale, dates dd.mm.yyyy, logicals 1 or 0,
// empty for a null.
void formatCell(const data::Query& query, int column, const ReportColumn& info, std::string& out, long double& sum)
{
    out.clear();
    switch (info.kind) {
    case ColumnKind::Char: out = query.getText(column); break;
    case ColumnKind::Decimal: {
        if (query.isNull(column))
            break;
        out = query.getText(column);
        sum += query.getDouble(column);
        break;
    }
    case ColumnKind::Date: {
        if (query.isNull(column))
            break;
        const std::optional<data::DbfDate> date = query.getDate(column);
        if (date && date->isValid()) {
            char buffer[48];
            std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", date->day, date->month, date->year);
            out = buffer;
        } else {
            out = query.getText(column);  // content that is no date is shown as it stands
        }
        break;
    }
    case ColumnKind::Logical:
        if (!query.isNull(column))
            out = query.getInteger(column) != 0 ? "1" : "0";
        break;
    }
}

}  // namespace

std::optional<std::string> reportTable(config::TaskStore& tasks, const ReportOptions& options, ReadResult& result)
{
    std::string path;
    if (!findTable(tasks, options, path, nullptr, result))
        return std::nullopt;
    return path;
}

std::optional<std::vector<ReportColumn>> reportColumns(config::TaskStore& tasks, const ReportOptions& options,
                                                       ReadResult& result)
{
    OpenTable table;
    if (!openTable(tasks, options, table, result))
        return std::nullopt;
    return columnsOf(table, result);
}

ReadResult readReport(config::TaskStore& tasks, const ReportOptions& options, ReportData& out,
                      const std::function<bool(std::size_t rowsRead)>& keepGoing)
{
    ReadResult result;
    out = ReportData();
    out.variant = options.variant;
    out.today = todayText();
    out.title = titleText(options);

    OpenTable table;
    if (!openTable(tasks, options, table, result))
        return result;
    out.info = infoText(options, table.task);
    if (const auto wrong = checkPeriod(options)) {
        result.message = *wrong;
        return result;
    }
    std::optional<std::vector<ReportColumn>> columns = columnsOf(table, result);
    if (!columns)
        return result;
    out.columns = std::move(*columns);
    const std::size_t count = out.columns.size();
    out.rows = ReportRows(count);
    out.totals.assign(count, std::nullopt);
    out.totalVisible.assign(count, false);
    for (const std::string& field : options.sumFields) {
        const auto it = std::find_if(out.columns.begin(), out.columns.end(), [&](const ReportColumn& c) {
            return platform::equalsIgnoreCase(c.field, field);
        });
        if (it == out.columns.end() || it->kind != ColumnKind::Decimal) {
            result.message = "Поле '" + field + "' не является числовым полем таблицы.";
            return result;
        }
        out.totalVisible[static_cast<std::size_t>(it - out.columns.begin())] = true;
    }
    if (count == 0) {
        result.message = "В таблице нет полей, которые можно показать в отчете.";
        return result;
    }

    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < count; ++i)
        sql += (i ? ", " : "") + data::Functions::sqlName(out.columns[i].field);
    sql += " FROM " + table.tableName;
    const std::string condition = sqlCondition(options, table.task);
    if (!condition.empty())
        sql += " WHERE " + condition;
    const std::string order = sqlOrder(table.task);
    if (!order.empty())
        sql += " ORDER BY " + order;

    data::Query query(*table.connection);
    query.setSql(sql);
    std::vector<std::string> cells(count);
    std::vector<long double> sums(count, 0.0L);
    const bool opened = query.open();
    for (bool more = opened && !query.isEof(); more; more = query.moveNext() && !query.isEof()) {
        for (std::size_t i = 0; i < count; ++i)
            formatCell(query, static_cast<int>(i) + 1, out.columns[i], cells[i], sums[i]);
        out.rows.append(cells);
        if (keepGoing && out.rows.rowCount() % kRowsPerCheck == 0 && !keepGoing(out.rows.rowCount())) {
            out.rows.clear();
            result.outcome = ReadOutcome::Stopped;
            return result;
        }
    }
    if (!opened || table.connection->hasErrors()) {
        out.rows.clear();
        result.errors = table.connection->takeErrors();
        if (result.errors.empty())
            result.message = "Ошибка выполнения SQL запроса.";
        return result;
    }
    for (std::size_t i = 0; i < count; ++i)
        if (out.columns[i].kind == ColumnKind::Decimal)
            out.totals[i] = std::round(static_cast<double>(sums[i]) * 100.0) / 100.0;
    result.outcome = ReadOutcome::Done;
    return result;
}

}  // namespace peltra::reports
