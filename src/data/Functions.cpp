// Name tables of the ODBC layer and the identifier test.
#include "data/Functions.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace peltra::data {
namespace {

// Function identifiers 1..23.
constexpr std::array<std::string_view, 23> kCoreFunctions = {
    "SQLAllocConnect", "SQLAllocEnv",      "SQLAllocSTMT",     "SQLBindCol",       "SQLCancel",
    "SQLColAttributes", "SQLConnect",      "SQLDescribeCol",   "SQLDisconnect",    "SQLError",
    "SQLExecDirect",   "SQLExecute",       "SQLFetch",         "SQLFreeConnect",   "SQLFreeEnv",
    "SQLFreeSTMT",     "SQLGetCursorName", "SQLNumResultCols", "SQLPrepare",       "SQLRowCount",
    "SQLSetCursorName", "SQLSetParam",     "SQLTransact",
};

// Function identifiers 40..54.
constexpr std::array<std::string_view, 15> kLevel1Functions = {
    "SQLCOLUMNS",       "SQLDRIVERCONNECT", "SQLGETCONNECTOPTION", "SQLGETDATA",   "SQLGETFUNCTIONS",
    "SQLGETINFO",       "SQLGETSTMTOPTION", "SQLGETTYPEINFO",      "SQLPARAMDATA", "SQLPUTDATA",
    "SQLSETCONNECTOPTION", "SQLSETSTMTOPTION", "SQLSPECIALCOLUMNS", "SQLSTATISTICS", "SQLTABLES",
};

// Function identifiers 55..72.
constexpr std::array<std::string_view, 18> kLevel2Functions = {
    "SQL_API_SQLBROWSECONNECT", "SQL_API_SQLCOLUMNPRIVILEGES", "SQL_API_SQLDATASOURCES",
    "SQL_API_SQLDESCRIBEPARAM", "SQL_API_SQLEXTENDEDFETCH",    "SQL_API_SQLFOREIGNKEYS",
    "SQL_API_SQLMORERESULTS",   "SQL_API_SQLNATIVESQL",        "SQL_API_SQLNUMPARAMS",
    "SQL_API_SQLPARAMOPTIONS",  "SQL_API_SQLPRIMARYKEYS",      "SQL_API_SQLPROCEDURECOLUMNS",
    "SQL_API_SQLPROCEDURES",    "SQL_API_SQLSETPOS",           "SQL_API_SQLSETSCROLLOPTIONS",
    "SQL_API_SQLTABLEPRIVILEGES", "SQL_API_SQLDRIVERS",        "SQL_API_SQLBINDPARAMETER",
};

// SQL type codes 0..12, then −1..−7.
constexpr std::array<std::string_view, 13> kPositiveTypes = {
    "TYPE_NULL", "CHAR", "NUMERIC", "DECIMAL", "INTEGER", "SMALLINT", "FLOAT",
    "REAL",      "DOUBLE", "DATE",  "TIME",    "TIMESTAMP", "VARCHAR",
};
constexpr std::array<std::string_view, 7> kNegativeTypes = {
    "LONGVARCHAR", "BINARY", "VARBINARY", "LONGVARBINARY", "BIGINT", "TINYINT", "BIT",
};

template <std::size_t N>
std::string_view pick(const std::array<std::string_view, N>& names, int first, int code)
{
    const long index = static_cast<long>(code) - first;
    if (index < 0 || index >= static_cast<long>(N))
        return {};
    return names[static_cast<std::size_t>(index)];
}

// SQLite's keywords, upper case and sorted, so that a column named like one is quoted.
constexpr std::array<std::string_view, 147> kKeywords = {
    "ABORT", "ACTION", "ADD", "AFTER", "ALL", "ALTER", "ALWAYS", "ANALYZE", "AND", "AS", "ASC",
    "ATTACH", "AUTOINCREMENT", "BEFORE", "BEGIN", "BETWEEN", "BY", "CASCADE", "CASE", "CAST",
    "CHECK", "COLLATE", "COLUMN", "COMMIT", "CONFLICT", "CONSTRAINT", "CREATE", "CROSS",
    "CURRENT", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP", "DATABASE", "DEFAULT",
    "DEFERRABLE", "DEFERRED", "DELETE", "DESC", "DETACH", "DISTINCT", "DO", "DROP", "EACH",
    "ELSE", "END", "ESCAPE", "EXCEPT", "EXCLUDE", "EXCLUSIVE", "EXISTS", "EXPLAIN", "FAIL",
    "FILTER", "FIRST", "FOLLOWING", "FOR", "FOREIGN", "FROM", "FULL", "GENERATED", "GLOB",
    "GROUP", "GROUPS", "HAVING", "IF", "IGNORE", "IMMEDIATE", "IN", "INDEX", "INDEXED",
    "INITIALLY", "INNER", "INSERT", "INSTEAD", "INTERSECT", "INTO", "IS", "ISNULL", "JOIN",
    "KEY", "LAST", "LEFT", "LIKE", "LIMIT", "MATCH", "MATERIALIZED", "NATURAL", "NO", "NOT",
    "NOTHING", "NOTNULL", "NULL", "NULLS", "OF", "OFFSET", "ON", "OR", "ORDER", "OTHERS",
    "OUTER", "OVER", "PARTITION", "PLAN", "PRAGMA", "PRECEDING", "PRIMARY", "QUERY", "RAISE",
    "RANGE", "RECURSIVE", "REFERENCES", "REGEXP", "REINDEX", "RELEASE", "RENAME", "REPLACE",
    "RESTRICT", "RETURNING", "RIGHT", "ROLLBACK", "ROW", "ROWS", "SAVEPOINT", "SELECT", "SET",
    "TABLE", "TEMP", "TEMPORARY", "THEN", "TIES", "TO", "TRANSACTION", "TRIGGER", "UNBOUNDED",
    "UNION", "UNIQUE", "UPDATE", "USING", "VACUUM", "VALUES", "VIEW", "VIRTUAL", "WHEN",
    "WHERE", "WINDOW", "WITH", "WITHOUT",
};

bool isKeyword(std::string_view name)
{
    std::string upper(name);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return std::binary_search(kKeywords.begin(), kKeywords.end(), std::string_view(upper));
}

bool isPlainCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::string_view Functions::FunctionName(int code)
{
    if (code >= 1 && code <= 23)
        return pick(kCoreFunctions, 1, code);
    if (code >= 40 && code <= 54)
        return pick(kLevel1Functions, 40, code);
    return pick(kLevel2Functions, 55, code);
}

std::string_view Functions::ReturnCodeName(int code)
{
    switch (code) {
    case 0: return "SQL_SUCCESS";
    case 1: return "SQL_SUCCESS_WITH_INFO";
    case 2: return "SQL_STILL_EXECUTING";
    case 99: return "SQL_NEED_DATA";
    case 100: return "SQL_NO_DATA_FOUND";
    case -1: return "SQL_ERROR";
    case -2: return "SQL_INVALID_HANDLE";
    case 1000: return "SQL_WCM_WARNING";
    case -1000: return "SQL_WCM_ERROR";
    default: return {};
    }
}

std::string_view Functions::TypeName(int code)
{
    if (code >= 0)
        return pick(kPositiveTypes, 0, code);
    if (code < -static_cast<int>(kNegativeTypes.size()))
        return {};
    return pick(kNegativeTypes, 1, -code);
}

bool Functions::NeedsQuoting(std::string_view name)
{
    return name.empty() || !std::all_of(name.begin(), name.end(), isPlainCharacter);
}

std::string Functions::sqlName(std::string_view name)
{
    const bool bare = !NeedsQuoting(name) && !(name.front() >= '0' && name.front() <= '9') &&
                      !isKeyword(name);
    return bare ? std::string(name) : quotedName(name);
}

std::string Functions::quotedName(std::string_view name)
{
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    quoted += '"';
    return quoted;
}

}  // namespace peltra::data
