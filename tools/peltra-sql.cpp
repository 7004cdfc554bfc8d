// peltra-sql: runs one SQL statement over the .dbf tables of a folder and prints its rows.
#include "ToolOutput.h"
#include "data/Connection.h"
#include "data/OdbcError.h"
#include "data/Query.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace peltra;
using peltra::tools::kExitFailure;
using peltra::tools::kExitOk;

constexpr char kUsage[] =
    R"(usage: peltra-sql [--db DIR] [--codepage 866|1251|auto] [--json|--csv] "STATEMENT"

Runs one statement over the .dbf tables of DIR (the current folder by default), as the
station's data source "peltra" does: a table is named by its file name, with or without
".dbf", or by its path. Besides SQLite's SQL the station's own statements work:
PACK name, CREATE TABLE name.dbf (FIELD char(n), FIELD numeric(w,d), FIELD date,
FIELD logical, ...), DROP TABLE name.dbf.

A table whose header marks its code page is read in it. An unmarked one is read in the
code page of --codepage, or by default (auto) in cp866 or cp1251 as its own text shows.

A statement with a result prints a header line and one line per row, tab-separated (tabs
and line breaks inside values become blanks), or CSV with --csv, or with --json
{"columns":[...],"rows":[[...],...]} where NULL is null and numbers are numbers. Any
other statement prints the number of rows it changed.

Warnings go to standard error and leave the exit status alone: a damaged table (read as far as
it goes; it is never changed), values that do not read as their field's type (such as the
overflow mark ******), which are taken as NULL. PACK prints the number of records it removed.

Exit status: 0 success, 1 failure (the error records on standard error), 2 bad arguments.
)";

const tools::ToolOutput output("peltra-sql", kUsage);

enum class Format { Tabs, Csv, Json };

std::string tabField(std::string text)
{
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

int reportErrors(data::Connection& connection)
{
    const auto errors = connection.takeErrors();
    for (const auto& error : errors)
        std::cerr << data::errorBoxText(error) << "\n";
    if (errors.empty())
        std::cerr << "peltra-sql: the statement failed\n";
    return kExitFailure;
}

int printRows(data::Query& query, Format format)
{
    const int columns = query.columnCount();
    if (format == Format::Json) {
        nlohmann::json result;
        result["columns"] = nlohmann::json::array();
        for (int c = 1; c <= columns; ++c)
            result["columns"].push_back(query.columnName(c));
        result["rows"] = nlohmann::json::array();
        for (; !query.isEof(); query.moveNext()) {
            nlohmann::json row = nlohmann::json::array();
            for (int c = 1; c <= columns; ++c) {
                switch (query.valueType(c)) {
                case data::Query::ValueType::Null: row.push_back(nullptr); break;
                case data::Query::ValueType::Integer: row.push_back(std::stoll(query.getText(c))); break;
                case data::Query::ValueType::Real: row.push_back(query.getDouble(c)); break;
                case data::Query::ValueType::Text: row.push_back(query.getText(c)); break;
                }
            }
            result["rows"].push_back(std::move(row));
        }
        // Text from tables that is not valid UTF-8 is shown with replacement characters.
        std::cout << result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return kExitOk;
    }
    const char* separator = format == Format::Csv ? "," : "\t";
    auto field = [&](const std::string& text) { return format == Format::Csv ? csvField(text) : tabField(text); };
    for (int c = 1; c <= columns; ++c)
        std::cout << (c > 1 ? separator : "") << field(query.columnName(c));
    std::cout << "\n";
    for (; !query.isEof(); query.moveNext()) {
        for (int c = 1; c <= columns; ++c)
            std::cout << (c > 1 ? separator : "") << field(query.getText(c));
        std::cout << "\n";
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder;
    std::string codePage;
    Format format = Format::Tabs;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--db") {
            if (i + 1 >= argc)
                return output.usageError("--db needs a folder");
            folder = argv[++i];
        } else if (arg == "--codepage") {
            if (i + 1 >= argc)
                return output.usageError("--codepage needs 866, 1251 or auto");
            codePage = argv[++i];
        } else if (arg == "--json") {
            format = Format::Json;
        } else if (arg == "--csv") {
            format = Format::Csv;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kExitOk;
        } else if (arg.rfind("--", 0) == 0) {
            return output.usageError("unknown option " + arg);
        } else {
            rest.push_back(arg);
        }
    }
    if (rest.size() != 1)
        return output.usageError(rest.empty() ? "no statement given" : "give the statement as one argument");

    data::Connection connection;
    if (!connection.bind("peltra") || !connection.connect())
        return reportErrors(connection);
    if (!folder.empty() && !connection.setConnectOption(data::kCurrentQualifierOption, folder))
        return reportErrors(connection);
    if (!connection.setConnectOption(data::kUnmarkedCodePageOption, codePage))
        return reportErrors(connection);
    data::Query query(connection);
    query.setSql(rest[0]);
    if (!query.open())
        return reportErrors(connection);
    int code = kExitOk;
    if (query.columnCount() > 0)
        code = printRows(query, format);
    else
        std::cout << query.rowsAffected() << "\n";
    for (const auto& warning : connection.takeWarnings())
        std::cerr << data::errorBoxText(warning) << "\n";
    // A row that fails to read half-way is a failure too.
    if (connection.hasErrors())
        return reportErrors(connection);
    return code;
}
