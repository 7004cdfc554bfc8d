// The name tables of the error box, the spelling of column names in generated SQL, and the error
// records made from the SQL engine's failures, real ones included.
#include "data/Functions.h"
#include "data/OdbcError.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <string>
#include <string_view>

namespace peltra::data {
namespace {

// The ends of every range, a few inside, and the codes just outside.
TEST(FunctionsTest, NamesOfFunctionsReturnCodesAndTypes)
{
    const struct { std::string_view (*name)(int); int code; std::string_view expected; } cases[] = {
        {Functions::FunctionName, 1, "SQLAllocConnect"},   {Functions::FunctionName, 11, "SQLExecDirect"},
        {Functions::FunctionName, 23, "SQLTransact"},      {Functions::FunctionName, 40, "SQLCOLUMNS"},
        {Functions::FunctionName, 54, "SQLTABLES"},        {Functions::FunctionName, 55, "SQL_API_SQLBROWSECONNECT"},
        {Functions::FunctionName, 72, "SQL_API_SQLBINDPARAMETER"}, {Functions::FunctionName, INT_MIN, ""},
        {Functions::ReturnCodeName, 0, "SQL_SUCCESS"},     {Functions::ReturnCodeName, 1, "SQL_SUCCESS_WITH_INFO"},
        {Functions::ReturnCodeName, 2, "SQL_STILL_EXECUTING"}, {Functions::ReturnCodeName, 99, "SQL_NEED_DATA"},
        {Functions::ReturnCodeName, 100, "SQL_NO_DATA_FOUND"}, {Functions::ReturnCodeName, -1, "SQL_ERROR"},
        {Functions::ReturnCodeName, -2, "SQL_INVALID_HANDLE"}, {Functions::ReturnCodeName, 1000, "SQL_WCM_WARNING"},
        {Functions::ReturnCodeName, -1000, "SQL_WCM_ERROR"}, {Functions::ReturnCodeName, 3, ""},
        {Functions::ReturnCodeName, -3, ""},               {Functions::TypeName, 0, "TYPE_NULL"},
        {Functions::TypeName, 2, "NUMERIC"},               {Functions::TypeName, 12, "VARCHAR"},
        {Functions::TypeName, 13, ""},                     {Functions::TypeName, -1, "LONGVARCHAR"},
        {Functions::TypeName, -5, "BIGINT"},               {Functions::TypeName, -7, "BIT"},
        {Functions::TypeName, -8, ""},                     {Functions::TypeName, INT_MIN, ""},
        {Functions::TypeName, INT_MAX, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.name(c.code), c.expected) << "code " << c.code;
    // Exactly the 23 + 15 + 18 listed function codes have names, with no gaps inside a range.
    for (int code = -100; code <= 200; ++code)
        EXPECT_EQ(!Functions::FunctionName(code).empty(), (code >= 1 && code <= 23) || (code >= 40 && code <= 72))
            << "code " << code;
}

TEST(FunctionsTest, SqlNameQuotesWhatIsNotAPlainIdentifier)
{
    const struct { std::string_view name; bool needsQuoting; std::string_view sql; } cases[] = {
        {"FIO_1", false, "FIO_1"},    {"summa", false, "summa"},     {"1ST", false, "\"1ST\""},
        {"ORDER", false, "\"ORDER\""}, {"group", false, "\"group\""}, {"FIO 1", true, "\"FIO 1\""},
        {"ФИО", true, "\"ФИО\""},     {"TELEFО", true, "\"TELEFО\""}, {"A\"B", true, "\"A\"\"B\""},
        {"\"", true, "\"\"\"\""},     {"", true, "\"\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Functions::NeedsQuoting(c.name), c.needsQuoting) << "'" << c.name << "'";
        EXPECT_EQ(Functions::sqlName(c.name), c.sql) << "'" << c.name << "'";
    }
    EXPECT_EQ(Functions::quotedName("a\"b"), "\"a\"\"b\"");
}

// Creates a one-column table named through sqlName and reads the column's name back through a
// SELECT that names it the same way; empty when either statement does not compile.
std::string roundTrip(sqlite3* db, const std::string& name)
{
    const std::string column = Functions::sqlName(name);
    const std::string create = "CREATE TABLE t(" + column + ")";
    if (sqlite3_exec(db, "DROP TABLE IF EXISTS t", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return {};
    sqlite3_stmt* stmt = nullptr;
    std::string result;
    if (sqlite3_prepare_v2(db, ("SELECT " + column + " FROM t").c_str(), -1, &stmt, nullptr) == SQLITE_OK)
        result = sqlite3_column_name(stmt, 0);
    sqlite3_finalize(stmt);
    return result;
}

// Every name sqlName writes is one identifier to the SQL engine, its keywords included.
TEST(FunctionsTest, SqlNameParsesAsTheSameIdentifier)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    for (const char* name : {"FIO_1", "FIO 1", "ФИО", "A\"B", "\"", "1ST", "a;b", "x'y", "DATA"})
        EXPECT_EQ(roundTrip(db, name), name);
    for (int i = 0; i < sqlite3_keyword_count(); ++i) {
        const char* word = nullptr;
        int length = 0;
        ASSERT_EQ(sqlite3_keyword_name(i, &word, &length), SQLITE_OK);
        const std::string keyword(word, static_cast<std::size_t>(length));
        EXPECT_EQ(roundTrip(db, keyword), keyword);
    }
    sqlite3_close(db);
}

TEST(OdbcErrorTest, ErrorBoxText)
{
    const struct { OdbcError error; std::string_view text; } cases[] = {
        {{11, -1, "42S02", 1, "no such table: X"},
         "Функция SQLExecDirect вернула SQL_ERROR\r\n\r\nState 42S02 NativeCode 1\r\nno such table: X"},
        // An unnamed function: the two fixed pieces meet with two blanks.
        {{30, -1, "HY000", 5, "m"}, "Функция  вернула SQL_ERROR\r\n\r\nState HY000 NativeCode 5\r\nm"},
        {{72, -1000, "", -7, "a\r\nb"},
         "Функция SQL_API_SQLBINDPARAMETER вернула SQL_WCM_ERROR\r\n\r\nState  NativeCode -7\r\na\r\nb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorBoxText(c.error), c.text);
    EXPECT_EQ(errorFromSqlite(FunctionCode::SQLFetch, SQLITE_IOERR_READ, "").message, "Ошибка SQL, код 266");
}

// Runs sql on db and maps its failure as the query layer will.
OdbcError failureOf(sqlite3* db, const char* sql)
{
    EXPECT_NE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    return errorFromSqlite(FunctionCode::SQLExecDirect, sqlite3_extended_errcode(db), sqlite3_errmsg(db));
}

// The engine's real failures land in the intended classes (the statements' own ones are held by the
// SQL engine's tests): a broken constraint, a writer locked out by another connection as a time-out,
// a read-only file as a general error.
TEST(OdbcErrorTest, RealEngineFailures)
{
    test::TempDir dir;
    const std::string path = (dir / "t.db").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_extended_result_codes(db, 1);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(a UNIQUE); INSERT INTO t VALUES(1)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    const OdbcError duplicate = failureOf(db, "INSERT INTO t VALUES(1)");
    EXPECT_EQ(std::make_pair(duplicate.sqlState, duplicate.nativeCode), std::make_pair(std::string("23000"), SQLITE_CONSTRAINT_UNIQUE));
    EXPECT_EQ(duplicate.returnCode, ReturnCode::Error);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3* second = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &second), SQLITE_OK);
    sqlite3_extended_result_codes(second, 1);
    EXPECT_EQ(failureOf(second, "SELECT * FROM t").sqlState, "HYT00");
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(second);
    sqlite3_close(db);
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_extended_result_codes(db, 1);
    const OdbcError denied = failureOf(db, "INSERT INTO t VALUES(2)");
    EXPECT_EQ(denied.sqlState, "HY000");
    EXPECT_EQ(denied.nativeCode & 0xff, SQLITE_READONLY);
    sqlite3_close(db);
}

}  // namespace
}  // namespace peltra::data
