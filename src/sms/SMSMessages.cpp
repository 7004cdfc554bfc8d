// Message texts of table rows: the template's items filled with the row's field values.
#include "sms/SMSMessages.h"

#include "data/Functions.h"
#include "data/Query.h"
#include "platform/text/CaseFold.h"
#include "platform/text/Trim.h"

#include <cstdio>

namespace peltra::sms {
namespace {

namespace fs = std::filesystem;

bool fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

// The first error record's message, or the fallback.
std::string connectionError(data::Connection& connection, const std::string& fallback)
{
    const std::vector<data::OdbcError> errors = connection.takeErrors();
    return errors.empty() ? fallback : fallback + ": " + errors.front().message;
}

bool openOn(data::Connection& connection, const fs::path& folder, std::string* error)
{
    if (!connection.bind("peltra") || !connection.connect() ||
        !connection.setConnectOption(data::kCurrentQualifierOption, folder.string()))
        return fail(error, connectionError(connection, "cannot open the folder " + folder.string()));
    return true;
}

// A value as the message shows it: dates as DD.MM.YYYY, anything else as read (numbers with
// their field's decimals, "12.50").
std::string fieldText(const data::Query& query, int column, const data::ColumnInfo& info)
{
    if (query.isNull(column))
        return {};
    if (info.dbfType == 'D') {
        if (const auto date = query.getDate(column)) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", date->day, date->month, date->year);
            return buffer;
        }
    }
    return query.getText(column);
}

}  // namespace

std::string messageText(const std::vector<SMSPatternItem>& items, const FieldLookup& row)
{
    std::string text;
    for (const SMSPatternItem& item : items) {
        if (item.type == ItemType::Text) {
            text += item.value;
        } else if (const auto value = row(item.value)) {
            text += platform::trimBlanks(*value);
        }
    }
    return text;
}

std::optional<fs::path> sourceTable(const std::string& file, const std::optional<fs::path>& folder,
                                    std::string* error)
{
    if (file.empty()) {
        fail(error, "the task has no source file");
        return std::nullopt;
    }
    if (!folder)
        return fs::path(file);
    const std::size_t slash = file.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    if (name.empty()) {
        fail(error, "the source file " + inQuotes(file) + " names no file");
        return std::nullopt;
    }
    std::error_code ec;
    if (fs::exists(*folder / name, ec))
        return *folder / name;
    for (const auto& entry : fs::directory_iterator(*folder, ec)) {
        if (platform::equalsIgnoreCase(entry.path().filename().string(), name))
            return entry.path();
    }
    fail(error, "there is no " + inQuotes(name) + " in " + folder->string());
    return std::nullopt;
}

std::optional<std::vector<data::ColumnInfo>> tableFields(const fs::path& table, std::string* error)
{
    std::error_code ec;
    if (!fs::is_regular_file(table, ec)) {
        fail(error, "there is no table " + table.string());
        return std::nullopt;
    }
    const fs::path absolute = fs::absolute(table, ec);
    data::Connection connection;
    if (!openOn(connection, absolute.parent_path(), error))
        return std::nullopt;
    auto columns = connection.columns(absolute.filename().string());
    if (!columns)
        fail(error, connectionError(connection, "cannot read the columns of " + table.string()));
    return columns;
}

bool renderMessages(const fs::path& table, const std::vector<SMSPatternItem>& items,
                    const std::function<void(const SMSMessage&)>& each, std::string* error)
{
    const auto columns = tableFields(table, error);
    if (!columns)
        return false;
    std::string selectList;
    for (const data::ColumnInfo& column : *columns)
        selectList += (selectList.empty() ? "" : ", ") + data::Functions::quotedName(column.name);
    const auto columnOf = [&](const std::string& name) -> std::optional<int> {
        for (std::size_t i = 0; i < columns->size(); ++i)
            if (platform::equalsIgnoreCase((*columns)[i].name, name))
                return static_cast<int>(i) + 1;
        return std::nullopt;
    };
    const std::optional<int> phone = columnOf(kPhoneField);
    if (!phone)
        return fail(error, "the table " + table.string() + " has no column " + kPhoneField);
    for (const SMSPatternItem& item : items) {
        if (item.type == ItemType::Field && !columnOf(item.value))
            return fail(error, "the table " + table.string() + " has no column " + inQuotes(item.value) +
                                   " (template item " + item.key + ")");
    }

    std::error_code ec;
    const fs::path absolute = fs::absolute(table, ec);
    data::Connection connection;
    if (!openOn(connection, absolute.parent_path(), error))
        return false;
    data::Query query(connection);
    query.setSql("SELECT " + selectList + " FROM " + data::Functions::quotedName(absolute.string()));
    bool ok = query.open();
    for (bool more = ok && !query.isEof(); more; more = query.moveNext() && !query.isEof()) {
        SMSMessage message;
        message.phone = std::string(platform::trimBlanks(query.getText(*phone)));
        message.text = messageText(items, [&](const std::string& field) -> std::optional<std::string> {
            const auto column = columnOf(field);
            if (!column)
                return std::nullopt;
            return fieldText(query, *column, (*columns)[static_cast<std::size_t>(*column) - 1]);
        });
        each(message);
    }
    if (!ok || connection.hasErrors())
        return fail(error, connectionError(connection, "cannot read the rows of " + table.string()));
    return true;
}

}  // namespace peltra::sms
