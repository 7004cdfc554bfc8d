// The error box text and the error records made from the SQL engine's failures.
#include "data/OdbcError.h"

#include "data/Functions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <string_view>

namespace peltra::data {
namespace {

// 1. Box text, piece by piece.
TEST(OdbcErrorTest, ErrorBoxText)
{
    const struct {
        OdbcError error;
        std::string_view text;
    } cases[] = {
        {{11, -1, "42S02", 1, "no such table: X"},
         "Функция SQLExecDirect вернула SQL_ERROR\r\n\r\nState 42S02 NativeCode 1\r\nno such table: X"},
        // An unnamed function: the two fixed pieces meet with two blanks.
        {{30, -1, "HY000", 5, "m"}, "Функция  вернула SQL_ERROR\r\n\r\nState HY000 NativeCode 5\r\nm"},
        {{13, 1000, "01000", 0, ""},
         "Функция SQLFetch вернула SQL_WCM_WARNING\r\n\r\nState 01000 NativeCode 0\r\n"},
        {{72, -1000, "", -7, "x"},
         "Функция SQL_API_SQLBINDPARAMETER вернула SQL_WCM_ERROR\r\n\r\nState  NativeCode -7\r\nx"},
        {{0, 5, "S1000", 2067, "a\r\nb"}, "Функция  вернула \r\n\r\nState S1000 NativeCode 2067\r\na\r\nb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorBoxText(c.error), c.text);
}

// 2. The named operations carry their own names in the box.
TEST(OdbcErrorTest, FunctionCodesNameTheirOperations)
{
    EXPECT_EQ(Functions::FunctionName(FunctionCode::SQLConnect), "SQLConnect");
    EXPECT_EQ(Functions::FunctionName(FunctionCode::SQLExecDirect), "SQLExecDirect");
    EXPECT_EQ(Functions::FunctionName(FunctionCode::SQLFetch), "SQLFetch");
    EXPECT_EQ(Functions::FunctionName(FunctionCode::SQLColumns), "SQLCOLUMNS");
    EXPECT_EQ(Functions::FunctionName(FunctionCode::SQLSetConnectOption), "SQLSETCONNECTOPTION");
    EXPECT_EQ(Functions::FunctionName(FunctionCode::SQLTables), "SQLTABLES");
    EXPECT_EQ(Functions::FunctionName(FunctionCode::SQLSetPos), "SQL_API_SQLSETPOS");
    EXPECT_EQ(Functions::ReturnCodeName(ReturnCode::Error), "SQL_ERROR");
    EXPECT_EQ(Functions::ReturnCodeName(ReturnCode::NoDataFound), "SQL_NO_DATA_FOUND");
}

// 3. Codes and messages as the engine gives them, mapped without running it.
TEST(OdbcErrorTest, SqliteCodeTable)
{
    const struct {
        int code;
        std::string_view message;
        std::string_view state;
        int returnCode;
    } cases[] = {
        {SQLITE_ERROR, "near \"SELEC\": syntax error", "42000", -1},
        {SQLITE_ERROR, "incomplete input", "42000", -1},
        {SQLITE_ERROR, "unrecognized token: \"'abc\"", "42000", -1},
        {SQLITE_ERROR, "no such function: FOO", "42000", -1},
        {SQLITE_ERROR, "no such table: main.X", "42S02", -1},
        {SQLITE_ERROR, "no such column: NAME", "42S22", -1},
        {SQLITE_ERROR, "table T already exists", "42S01", -1},
        {SQLITE_ERROR, "no such index: I", "42S12", -1},
        {SQLITE_ERROR, "something else", "HY000", -1},
        {SQLITE_CONSTRAINT_UNIQUE, "UNIQUE constraint failed: t.a", "23000", -1},
        {SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: t.a", "23000", -1},
        {SQLITE_IOERR_WRITE, "disk I/O error", "HY000", -1},
        {SQLITE_READONLY, "attempt to write a readonly database", "HY000", -1},
        {SQLITE_FULL, "database or disk is full", "HY000", -1},
        {SQLITE_CANTOPEN, "unable to open database file", "HY000", -1},
        {SQLITE_BUSY, "database is locked", "HYT00", -1},
        {SQLITE_BUSY_SNAPSHOT, "database is locked", "HYT00", -1},
        {SQLITE_LOCKED, "database table is locked", "HYT00", -1},
        {SQLITE_NOMEM, "out of memory", "HY001", -1},
        {SQLITE_AUTH, "not authorized", "42000", -1},
        {SQLITE_INTERRUPT, "interrupted", "HY008", -1},
        {SQLITE_WARNING, "w", "01000", 1},
        {SQLITE_OK, "not an error", "00000", 0},
        {SQLITE_DONE, "no more rows available", "00000", 0},
    };
    for (const auto& c : cases) {
        const OdbcError error = errorFromSqlite(FunctionCode::SQLExecDirect, c.code, c.message);
        EXPECT_EQ(error.sqlState, c.state) << c.message;
        EXPECT_EQ(error.returnCode, c.returnCode) << c.message;
        EXPECT_EQ(error.nativeCode, c.code) << c.message;
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(error.functionCode, FunctionCode::SQLExecDirect);
        EXPECT_EQ(sqlStateForSqlite(c.code, c.message), c.state);
    }
}

// 4. A failure without a message still says something.
TEST(OdbcErrorTest, EmptyMessageNamesTheCode)
{
    const OdbcError error = errorFromSqlite(FunctionCode::SQLFetch, SQLITE_IOERR_READ, "");
    EXPECT_EQ(error.message, "Ошибка SQL, код 266");
    EXPECT_EQ(error.sqlState, "HY000");
}

// Runs sql on db and maps its failure as the query layer will.
OdbcError failureOf(sqlite3* db, const char* sql)
{
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    EXPECT_NE(rc, SQLITE_OK) << sql;
    return errorFromSqlite(FunctionCode::SQLExecDirect, sqlite3_extended_errcode(db), sqlite3_errmsg(db));
}

// 5. The engine's real failures land in the intended classes.
TEST(OdbcErrorTest, RealEngineFailures)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    sqlite3_extended_result_codes(db, 1);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(a UNIQUE)", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO t VALUES(1)", nullptr, nullptr, nullptr), SQLITE_OK);

    const struct {
        const char* sql;
        std::string_view state;
        int native;
    } cases[] = {
        {"SELEC * FROM t", "42000", SQLITE_ERROR},
        {"SELECT * FROM", "42000", SQLITE_ERROR},
        {"SELECT * FROM nope", "42S02", SQLITE_ERROR},
        {"SELECT b FROM t", "42S22", SQLITE_ERROR},
        {"CREATE TABLE t(x)", "42S01", SQLITE_ERROR},
        {"INSERT INTO t VALUES(1)", "23000", SQLITE_CONSTRAINT_UNIQUE},
    };
    for (const auto& c : cases) {
        const OdbcError error = failureOf(db, c.sql);
        EXPECT_EQ(error.sqlState, c.state) << c.sql << ": " << error.message;
        EXPECT_EQ(error.nativeCode, c.native) << c.sql;
        EXPECT_EQ(error.returnCode, ReturnCode::Error);
        EXPECT_FALSE(error.message.empty());
    }
    sqlite3_close(db);
}

// 6. A writer locked out by another connection reads as a time-out; a read-only file as general.
TEST(OdbcErrorTest, RealBusyAndReadOnly)
{
    test::TempDir dir;
    const std::string path = (dir / "t.db").string();
    sqlite3* first = nullptr;
    sqlite3* second = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &first), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(first, "CREATE TABLE t(a); BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_open(path.c_str(), &second), SQLITE_OK);
    sqlite3_extended_result_codes(second, 1);
    OdbcError busy = failureOf(second, "SELECT * FROM t");
    EXPECT_EQ(busy.sqlState, "HYT00") << busy.message;
    EXPECT_EQ(busy.nativeCode & 0xff, SQLITE_BUSY);
    sqlite3_exec(first, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(second);
    sqlite3_close(first);

    sqlite3* readOnly = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &readOnly, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_extended_result_codes(readOnly, 1);
    const OdbcError denied = failureOf(readOnly, "INSERT INTO t VALUES(1)");
    EXPECT_EQ(denied.sqlState, "HY000");
    EXPECT_EQ(denied.nativeCode & 0xff, SQLITE_READONLY);
    sqlite3_close(readOnly);
}

}  // namespace
}  // namespace peltra::data
