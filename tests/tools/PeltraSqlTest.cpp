// peltra-sql run as a technician runs it: rows of a table as tab-separated text, CSV and JSON,
// rows changed by other statements, and error records on failure.
#include "data/DbfTable.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace peltra::test {
namespace {

using data::DbfDate;
using data::DbfTable;
using data::DbfValue;

class PeltraSqlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(DbfTable::create(m_db / "subs.dbf",
                                     {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"DATA", 'D', 8, 0},
                                      {"SUMMA", 'N', 8, 2}, {"FIO", 'C', 20, 0}},
                                     866, false, &error))
            << error;
        DbfTable::Options options;
        options.writable = true;
        auto table = DbfTable::open(m_db / "subs.dbf", options, &error);
        ASSERT_TRUE(table) << error;
        ASSERT_TRUE(table->append({{0, DbfValue::ofText("2345678")}, {1, DbfValue::ofNumber(2)},
                                   {2, DbfValue::ofDate(DbfDate {2024, 3, 5})}, {3, DbfValue::ofNumber(10.5)},
                                   {4, DbfValue::ofText("Иванов, \"Пётр\"")}},
                                  nullptr, &error))
            << error;
        ASSERT_TRUE(table->append({{0, DbfValue::ofText("111")}}, nullptr, &error)) << error;
    }

    ProgramResult run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--db", m_db.path().string()});
        return runProgram(PELTRA_SQL_PATH, args, m_work.path());
    }

    TempDir m_db;
    TempDir m_work;
};

TEST_F(PeltraSqlTest, PrintsRowsInEachFormat)
{
    const std::string sql = "SELECT telef, proba, data, summa, fio FROM subs ORDER BY telef DESC";
    // SUMMA N(8,2) prints as the table holds it: 10.50.
    ProgramResult r = run({sql});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "TELEF\tPROBA\tDATA\tSUMMA\tFIO\n2345678\t2\t2024-03-05\t10.50\tИванов, \"Пётр\"\n111\t\t\t\t\n");

    r = run({"--csv", sql});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "TELEF,PROBA,DATA,SUMMA,FIO\n2345678,2,2024-03-05,10.50,\"Иванов, \"\"Пётр\"\"\"\n111,,,,\n");

    r = run({"--json", sql});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["columns"], nlohmann::json({"TELEF", "PROBA", "DATA", "SUMMA", "FIO"}));
    EXPECT_EQ(json["rows"][0], nlohmann::json({"2345678", 2, "2024-03-05", 10.5, "Иванов, \"Пётр\""}));
    EXPECT_EQ(json["rows"][1], nlohmann::json({"111", nullptr, nullptr, nullptr, ""}));
    EXPECT_TRUE(json["rows"][0][1].is_number_integer());
}

TEST_F(PeltraSqlTest, OtherStatementsPrintRowsChanged)
{
    ProgramResult r = run({"UPDATE subs SET proba = 1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "2\n");
    r = run({"DELETE FROM subs.dbf WHERE telef = '111'"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");
    r = run({"PACK subs"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = run({"--json", "SELECT count(*) AS n FROM subs"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["rows"][0][0], 1);
}

TEST_F(PeltraSqlTest, FailuresPrintTheErrorBoxText)
{
    ProgramResult r = run({"SELECT * FROM nothere"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Функция SQLExecDirect вернула SQL_ERROR\r\n\r\nState 42S02"), std::string::npos) << r.err;
    r = run({});
    EXPECT_EQ(r.code, 2);
    r = run({"--bogus", "SELECT 1"});
    EXPECT_EQ(r.code, 2);
}

}  // namespace
}  // namespace peltra::test
