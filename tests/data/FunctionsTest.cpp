// Name tables of the error box and the spelling of column names in generated SQL.
#include "data/Functions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <string>
#include <string_view>

namespace peltra::data {
namespace {

struct NameCase {
    int code;
    std::string_view name;
};

// 1. Function names: the ends of every range, a few inside, and the codes just outside.
TEST(FunctionsTest, FunctionNameByRange)
{
    const NameCase cases[] = {
        {1, "SQLAllocConnect"},
        {7, "SQLConnect"},
        {11, "SQLExecDirect"},
        {13, "SQLFetch"},
        {23, "SQLTransact"},
        {40, "SQLCOLUMNS"},
        {50, "SQLSETCONNECTOPTION"},
        {54, "SQLTABLES"},
        {55, "SQL_API_SQLBROWSECONNECT"},
        {68, "SQL_API_SQLSETPOS"},
        {72, "SQL_API_SQLBINDPARAMETER"},
        {0, ""},
        {24, ""},
        {30, ""},
        {39, ""},
        {73, ""},
        {-1, ""},
        {INT_MIN, ""},
        {INT_MAX, ""},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(Functions::FunctionName(c.code), c.name) << "code " << c.code;
}

// 2. Exactly the 23 + 15 + 18 listed codes have names, with no gaps inside a range.
TEST(FunctionsTest, FunctionNameCoversExactlyTheThreeRanges)
{
    for (int code = -100; code <= 200; ++code) {
        const bool listed = (code >= 1 && code <= 23) || (code >= 40 && code <= 72);
        EXPECT_EQ(!Functions::FunctionName(code).empty(), listed) << "code " << code;
    }
}

// 3. Return codes, the two class-library codes included.
TEST(FunctionsTest, ReturnCodeName)
{
    const NameCase cases[] = {
        {0, "SQL_SUCCESS"},
        {1, "SQL_SUCCESS_WITH_INFO"},
        {2, "SQL_STILL_EXECUTING"},
        {99, "SQL_NEED_DATA"},
        {100, "SQL_NO_DATA_FOUND"},
        {-1, "SQL_ERROR"},
        {-2, "SQL_INVALID_HANDLE"},
        {1000, "SQL_WCM_WARNING"},
        {-1000, "SQL_WCM_ERROR"},
        {3, ""},
        {98, ""},
        {101, ""},
        {-3, ""},
        {999, ""},
        {1001, ""},
        {-999, ""},
        {-1001, ""},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(Functions::ReturnCodeName(c.code), c.name) << "code " << c.code;
}

// 4. SQL type names on both sides of zero.
TEST(FunctionsTest, TypeName)
{
    const NameCase cases[] = {
        {0, "TYPE_NULL"},
        {1, "CHAR"},
        {2, "NUMERIC"},
        {9, "DATE"},
        {12, "VARCHAR"},
        {13, ""},
        {-1, "LONGVARCHAR"},
        {-5, "BIGINT"},
        {-7, "BIT"},
        {-8, ""},
        {91, ""},
        {INT_MIN, ""},
        {INT_MAX, ""},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(Functions::TypeName(c.code), c.name) << "code " << c.code;
}

// 5. Only ASCII letters, digits and '_' stand bare.
TEST(FunctionsTest, NeedsQuoting)
{
    const struct {
        std::string_view name;
        bool quoted;
    } cases[] = {
        {"FIO_1", false},
        {"TELEF", false},
        {"fio", false},
        {"_", false},
        {"1ST", false},
        {"FIO 1", true},
        {"ФИО", true},
        {"TELEFО", true},  // last letter Cyrillic
        {"A-B", true},
        {"A\"B", true},
        {"A.B", true},
        {"", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Functions::NeedsQuoting(c.name), c.quoted) << "'" << c.name << "'";
}

// 6. The text written into SQL.
TEST(FunctionsTest, SqlName)
{
    const struct {
        std::string_view name;
        std::string_view sql;
    } cases[] = {
        {"FIO_1", "FIO_1"},
        {"summa", "summa"},
        {"FIO 1", "\"FIO 1\""},
        {"ФИО", "\"ФИО\""},
        {"A\"B", "\"A\"\"B\""},
        {"\"", "\"\"\"\""},
        {"1ST", "\"1ST\""},
        {"ORDER", "\"ORDER\""},
        {"group", "\"group\""},
        {"", "\"\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Functions::sqlName(c.name), c.sql) << "'" << c.name << "'";
    // The engine's own statements quote every name, plain ones too.
    EXPECT_EQ(Functions::quotedName("FIO_1"), "\"FIO_1\"");
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
    const std::string select = "SELECT " + column + " FROM t";
    sqlite3_stmt* stmt = nullptr;
    std::string result;
    if (sqlite3_prepare_v2(db, select.c_str(), -1, &stmt, nullptr) == SQLITE_OK)
        result = sqlite3_column_name(stmt, 0);
    sqlite3_finalize(stmt);
    return result;
}

// 7. Every name sqlName writes is one identifier to the SQL engine, SQL keywords included.
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

}  // namespace
}  // namespace peltra::data
