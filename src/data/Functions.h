// Display names of ODBC function codes, return codes and SQL type codes, and the test and
// spelling of column names in generated SQL.
#pragma once

#include <string>
#include <string_view>

namespace peltra::data {

// Pure look-ups; safe on any thread. A code without a name gives an empty text.
class Functions {
public:
    // ODBC function identifier → name as the error box shows it (1 "SQLAllocConnect" …
    // 23 "SQLTransact", 40 "SQLCOLUMNS" … 54 "SQLTABLES", 55 "SQL_API_SQLBROWSECONNECT" …
    // 72 "SQL_API_SQLBINDPARAMETER"); the mixed letter cases are part of the names.
    static std::string_view FunctionName(int code);
    // Return code → name (0 "SQL_SUCCESS", −1 "SQL_ERROR", 1000 "SQL_WCM_WARNING", …).
    static std::string_view ReturnCodeName(int code);
    // ODBC SQL data type code → name (1 "CHAR", −7 "BIT", …).
    static std::string_view TypeName(int code);
    // True when the name holds a character other than an ASCII letter, digit or '_'.
    // An empty name also counts: it cannot stand bare in a statement.
    static bool NeedsQuoting(std::string_view name);
    // The name as it goes into generated SQL: bare when it is a plain identifier, otherwise in
    // double quotes with every embedded double quote doubled. Names that pass NeedsQuoting but
    // would still not parse bare (a leading digit, an SQL keyword such as ORDER) are quoted too.
    static std::string sqlName(std::string_view name);
    // The name always in double quotes, embedded double quotes doubled: for statements the
    // engine builds itself, whatever the name.
    static std::string quotedName(std::string_view name);
};

}  // namespace peltra::data
