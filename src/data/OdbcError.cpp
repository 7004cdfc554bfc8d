// Error box text and the SQLite → ODBC error record translation.
#include "data/OdbcError.h"

#include "data/Functions.h"

#include <sqlite3.h>

namespace peltra::data {
namespace {

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// SQLITE_ERROR covers everything from a misspelt keyword to a missing table; the message tells
// which.
std::string_view stateForGenericError(std::string_view message)
{
    if (startsWith(message, "no such table"))
        return "42S02";
    if (startsWith(message, "no such column"))
        return "42S22";
    if (startsWith(message, "no such index"))
        return "42S12";
    if (startsWith(message, "table ") && contains(message, "already exists"))
        return "42S01";
    if (contains(message, "syntax error") || startsWith(message, "incomplete input") ||
        startsWith(message, "unrecognized token") || startsWith(message, "no such function"))
        return "42000";
    return "HY000";
}

}  // namespace

std::string errorBoxText(const OdbcError& error)
{
    std::string text = "Функция ";
    text += Functions::FunctionName(error.functionCode);
    text += " вернула ";
    text += Functions::ReturnCodeName(error.returnCode);
    text += "\r\n\r\n";
    text += "State ";
    text += error.sqlState;
    text += " NativeCode ";
    text += std::to_string(error.nativeCode);
    text += "\r\n";
    text += error.message;
    return text;
}

std::string sqlStateForSqlite(int sqliteCode, std::string_view message)
{
    switch (sqliteCode & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return "00000";
    case SQLITE_NOTICE:
    case SQLITE_WARNING: return "01000";
    case SQLITE_ERROR: return std::string(stateForGenericError(message));
    case SQLITE_CONSTRAINT: return "23000";
    case SQLITE_AUTH: return "42000";  // refused by the connection's authorizer: an access violation
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "HYT00";
    case SQLITE_NOMEM: return "HY001";
    case SQLITE_INTERRUPT: return "HY008";
    default: return "HY000";  // I/O, read-only, full, corrupt, cannot open and the rest
    }
}

OdbcError errorFromSqlite(int functionCode, int sqliteExtendedCode, std::string_view message)
{
    OdbcError error;
    error.functionCode = functionCode;
    error.sqlState = sqlStateForSqlite(sqliteExtendedCode, message);
    error.nativeCode = sqliteExtendedCode;
    switch (sqliteExtendedCode & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: error.returnCode = ReturnCode::Success; break;
    case SQLITE_NOTICE:
    case SQLITE_WARNING: error.returnCode = ReturnCode::SuccessWithInfo; break;
    default: error.returnCode = ReturnCode::Error; break;
    }
    if (message.empty())
        error.message = "Ошибка SQL, код " + std::to_string(sqliteExtendedCode);
    else
        error.message = std::string(message);
    return error;
}

}  // namespace peltra::data
