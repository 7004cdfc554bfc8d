// The error record the connection keeps for each failed call, the error box text built from it,
// and the translation of SQL engine failures into such records.
#pragma once

#include <string>
#include <string_view>

namespace peltra::data {

// ODBC function identifiers of the operations our connection and query objects stand for; a
// record names the operation that failed with one of these.
namespace FunctionCode {
inline constexpr int SQLConnect = 7;
inline constexpr int SQLExecDirect = 11;
inline constexpr int SQLFetch = 13;
inline constexpr int SQLColumns = 40;
inline constexpr int SQLSetConnectOption = 50;
inline constexpr int SQLTables = 54;
inline constexpr int SQLSetPos = 68;  // positioned update of the current row
}  // namespace FunctionCode

// Return codes of a record.
namespace ReturnCode {
inline constexpr int Success = 0;
inline constexpr int SuccessWithInfo = 1;
inline constexpr int NoDataFound = 100;
inline constexpr int Error = -1;
inline constexpr int InvalidHandle = -2;
}  // namespace ReturnCode

// One failed (or warning) call, as the connection hands it over.
struct OdbcError {
    int functionCode = 0;   // ODBC function identifier (FunctionCode)
    int returnCode = 0;     // ReturnCode; 0 means nothing to show
    std::string sqlState;   // five characters, "HY000" and the like
    int nativeCode = 0;     // the engine's own code (SQLite's extended result code)
    std::string message;    // the engine's message, shown as it is
};

// The text of the error box: "Функция <function> вернула <return code>", an empty line,
// "State <SQLSTATE> NativeCode <native>", then the message.
std::string errorBoxText(const OdbcError& error);

// SQLSTATE for an SQLite result code (primary or extended) and its message text: syntax
// errors 42000, no such table 42S02, no such column 42S22, table already exists 42S01,
// constraint 23000, busy or locked HYT00, out of memory HY001, interrupted HY008, anything
// else HY000. Success codes give "00000", warnings "01000".
std::string sqlStateForSqlite(int sqliteCode, std::string_view message);

// The record for an SQLite failure during the operation functionCode stands for. The native code
// is the extended result code; the return code is SQL_ERROR for failures, SQL_SUCCESS_WITH_INFO
// for warnings and SQL_SUCCESS for SQLITE_OK, SQLITE_ROW and SQLITE_DONE. An empty message is
// replaced by one naming the code, so the box never ends in nothing.
OdbcError errorFromSqlite(int functionCode, int sqliteExtendedCode, std::string_view message);

}  // namespace peltra::data
