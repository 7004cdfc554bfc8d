// The connection: data source name, folder, catalogue and direct execution.
#include "data/Connection.h"

#include "platform/text/CaseFold.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace peltra::data {

namespace fs = std::filesystem;

void Connection::addError(int functionCode, const SqlFailure& failure)
{
    m_errors.push_back(errorFromSqlite(functionCode, failure.code, failure.message));
}

void Connection::addError(int functionCode, std::string sqlState, std::string message)
{
    OdbcError error;
    error.functionCode = functionCode;
    error.returnCode = ReturnCode::Error;
    error.sqlState = std::move(sqlState);
    error.message = std::move(message);
    m_errors.push_back(std::move(error));
}

bool Connection::bind(std::string_view dataSourceName)
{
    m_bound = platform::equalsIgnoreCase(dataSourceName, "peltra");
    if (!m_bound)
        addError(FunctionCode::SQLConnect, "IM002",
                 "Data source name not found: \"" + std::string(dataSourceName) + "\"");
    return m_bound;
}

bool Connection::connect()
{
    if (!m_bound) {
        addError(FunctionCode::SQLConnect, "IM002", "No data source is bound to the connection");
        return false;
    }
    SqlFailure failure;
    if (!m_engine.open(failure)) {
        addError(FunctionCode::SQLConnect, failure);
        return false;
    }
    return true;
}

void Connection::disconnect()
{
    m_engine.close();
}

bool Connection::setConnectOption(int option, std::string_view value)
{
    if (option == kUnmarkedCodePageOption) {
        if (value.empty() || platform::equalsIgnoreCase(value, "auto"))
            m_engine.setUnmarkedCodePage(std::nullopt);
        else if (value == "866" || value == "1251")
            m_engine.setUnmarkedCodePage(value == "866" ? 866u : 1251u);
        else {
            addError(FunctionCode::SQLSetConnectOption, "HY024",
                     "Code page \"" + std::string(value) + "\" is not 866, 1251 or auto");
            return false;
        }
        return true;
    }
    if (option != kCurrentQualifierOption) {
        addError(FunctionCode::SQLSetConnectOption, "HY092", "Option " + std::to_string(option) + " is not supported");
        return false;
    }
    std::error_code ec;
    if (!fs::is_directory(fs::path(value), ec)) {
        addError(FunctionCode::SQLSetConnectOption, "HY024", "No such folder: \"" + std::string(value) + "\"");
        return false;
    }
    m_engine.setQualifier(fs::path(value));
    return true;
}

std::optional<std::vector<std::string>> Connection::tables()
{
    const fs::path folder = m_engine.qualifier().empty() ? fs::current_path() : m_engine.qualifier();
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (extension == ".dbf" && it->is_regular_file(ec))
            names.push_back(it->path().filename().string());
    }
    if (ec) {
        addError(FunctionCode::SQLTables, "HY000", "Cannot list \"" + folder.string() + "\": " + ec.message());
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::vector<ColumnInfo>> Connection::columns(std::string_view table)
{
    if (!isConnected()) {
        addError(FunctionCode::SQLColumns, "08003", "The connection is not open");
        return std::nullopt;
    }
    SqlFailure failure;
    const auto dbf = m_engine.table(table, failure);
    if (!dbf) {
        addError(FunctionCode::SQLColumns, failure);
        return std::nullopt;
    }
    std::vector<ColumnInfo> columns;
    for (const DbfField& field : dbf->fields()) {
        ColumnInfo info;
        info.name = field.name;
        info.length = field.length;
        info.decimals = field.decimals;
        info.dbfType = field.type;
        switch (field.type) {
        case 'C': info.sqlType = 1; break;
        case 'N': info.sqlType = 2; break;
        case 'F': info.sqlType = 6; break;
        case 'D': info.sqlType = 9; break;
        case 'L': info.sqlType = -7; break;
        default: info.sqlType = 12; break;
        }
        columns.push_back(std::move(info));
    }
    return columns;
}

bool Connection::executeDirect(std::string_view sql, long long* rowsAffected)
{
    if (!isConnected()) {
        addError(FunctionCode::SQLExecDirect, "08003", "The connection is not open");
        return false;
    }
    SqlFailure failure;
    if (!m_engine.execute(sql, failure, rowsAffected)) {
        addError(FunctionCode::SQLExecDirect, failure);
        return false;
    }
    return true;
}

std::vector<OdbcError> Connection::takeWarnings()
{
    std::vector<OdbcError> warnings;
    for (auto& text : m_engine.takeWarnings()) {
        OdbcError warning;
        warning.functionCode = FunctionCode::SQLFetch;
        warning.returnCode = ReturnCode::SuccessWithInfo;
        warning.sqlState = "01000";
        warning.message = std::move(text);
        warnings.push_back(std::move(warning));
    }
    return warnings;
}

std::vector<OdbcError> Connection::takeErrors()
{
    std::vector<OdbcError> errors;
    errors.swap(m_errors);
    return errors;
}

}  // namespace peltra::data
