// The checks on table files and the query checker's core.
#include "data/TableChecks.h"

#include "data/Connection.h"
#include "data/DbfTable.h"
#include "data/Functions.h"
#include "data/Query.h"
#include "data/SourceCheck.h"

#include <system_error>

namespace peltra::data {
namespace {

namespace fs = std::filesystem;

// The connection option that sets the folder tables are named in.
constexpr int kCurrentQualifier = 109;

// The table's fields, or nothing when it cannot be read (error says why).
std::optional<std::vector<FieldShape>> fieldsOf(const fs::path& table, std::string& error)
{
    const std::unique_ptr<DbfTable> dbf = DbfTable::open(table, {}, &error);
    if (!dbf)
        return std::nullopt;
    std::vector<FieldShape> shapes;
    for (const DbfField& field : dbf->fields())
        shapes.push_back({field.name, field.type, field.length, field.decimals});
    return shapes;
}

// The canonical path of an existing file, as tables are addressed; nothing when it is missing.
std::optional<fs::path> existingTable(const fs::path& table)
{
    std::error_code ec;
    fs::path canonical = fs::canonical(table, ec);
    if (ec || !fs::is_regular_file(canonical, ec))
        return std::nullopt;
    return canonical;
}

bool connect(Connection& connection)
{
    return connection.bind("peltra") && connection.connect();
}

}  // namespace

CheckOutcome SourceCheck(const fs::path& table)
{
    CheckOutcome outcome;
    const std::optional<fs::path> file = existingTable(table);
    if (!file) {
        outcome.message = std::string(kTableNotFoundMessage);
        return outcome;
    }
    std::string error;
    const auto fields = fieldsOf(*file, error);
    if (!fields) {
        outcome.message = error;
        return outcome;
    }
    std::vector<std::string> names;
    for (const FieldShape& field : *fields)
        names.push_back(field.name);
    if (const auto missing = checkSourceColumns(names)) {
        outcome.message = *missing;
        return outcome;
    }
    if (const std::vector<UnfitColumn> unfit = unfitRequiredColumns(*fields); !unfit.empty()) {
        outcome.message = unfitColumnsMessage(unfit);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

std::vector<UnfitColumn> unfitResultColumns(const fs::path& table)
{
    std::string error;
    const auto fields = fieldsOf(table, error);
    return fields ? unfitRequiredColumns(*fields) : std::vector<UnfitColumn>{};
}

CheckOutcome ArchiveCheck(const fs::path& source, const fs::path& archive)
{
    CheckOutcome outcome;
    std::error_code ec;
    if (!fs::exists(archive, ec)) {
        if (!fs::copy_file(source, archive, ec)) {
            outcome.message = "Не удалось создать файл архива " + archive.string() + ": " + ec.message();
            return outcome;
        }
        Connection connection;
        const std::string name = Functions::quotedName(fs::absolute(archive).string());
        if (!connect(connection) || !connection.executeDirect("DELETE FROM " + name) ||
            !connection.executeDirect("PACK " + name)) {
            outcome.errors = connection.takeErrors();
            outcome.message = "Не удалось очистить файл архива " + archive.string();
            fs::remove(archive, ec);
            return outcome;
        }
        outcome.ok = true;
        return outcome;
    }
    std::string error;
    const auto sourceFields = fieldsOf(source, error);
    const auto archiveFields = sourceFields ? fieldsOf(archive, error) : std::nullopt;
    if (!archiveFields) {
        outcome.message = error;
        return outcome;
    }
    if (const auto findings = checkArchiveStructure(*sourceFields, *archiveFields)) {
        outcome.message = *findings;
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

QueryCheck runQueryCheck(const fs::path& table, const std::string& condition,
                         const std::string& sortColumn, bool ascending, const std::string& unmarkedCodePage)
{
    QueryCheck check;
    const std::string fileName = table.filename().string();
    check.log = "Выполнение запроса\r\n";
    check.log += "DB=" + fileName + "\r\n";

    Connection connection;
    if (!connect(connection)) {
        check.message = "Ошибка соединения с базой данных.";
        check.errors = connection.takeErrors();
        return check;
    }
    const auto columns = connection.setConnectOption(kCurrentQualifier, table.parent_path().string()) &&
                                 connection.setConnectOption(kUnmarkedCodePageOption, unmarkedCodePage)
                             ? connection.columns(fileName)
                             : std::nullopt;
    if (!columns) {
        check.status = "Ошибка SQL запроса";
        check.message = "Ошибка выполнения SQL запроса.";
        check.errors = connection.takeErrors();
        return check;
    }
    std::string selectList;
    for (const ColumnInfo& column : *columns) {
        check.columns.push_back(column.name);
        selectList += (selectList.empty() ? "" : ", ") + Functions::sqlName(column.name);
    }
    check.sql = "SELECT " + selectList + " FROM " + fileName;
    if (!condition.empty())
        check.sql += " WHERE " + condition;
    if (!sortColumn.empty())
        check.sql += " ORDER BY " + sortColumn + (ascending ? " ASC" : " DESC");
    check.log += "SQL Statement=" + check.sql;

    Query query(connection);
    query.setSql(check.sql);
    bool ok = query.open();
    for (bool more = ok && !query.isEof(); more; more = query.moveNext() && !query.isEof()) {
        std::vector<std::string> row;
        for (int c = 1; c <= query.columnCount(); ++c)
            row.push_back(query.getText(c));
        check.rows.push_back(std::move(row));
    }
    ok = ok && !connection.hasErrors();
    if (!ok) {
        check.rows.clear();
        check.status = "Ошибка SQL запроса";
        check.message = "Ошибка выполнения SQL запроса.";
        check.errors = connection.takeErrors();
        return check;
    }
    const std::string count = std::to_string(check.rows.size());
    check.ok = true;
    check.status = "Выбрано " + count + " строк.";
    check.message = "Ошибок не обнаружено. Выбрано " + count + " строк.";
    return check;
}

}  // namespace peltra::data
