// peltra-sql run as a technician runs it: rows of a table as tab-separated text, CSV and JSON,
// rows changed by other statements, unmarked tables in either Cyrillic code page, and error
// records on failure.
#include "data/DbfTable.h"
#include "support/PythonDbf.h"
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
    EXPECT_EQ(r.out, "1\n");
    r = run({"--json", "SELECT count(*) AS n FROM subs"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["rows"][0][0], 1);
}

// A numeric cell that holds the overflow mark reads as NULL, so no condition takes it for a number,
// and the warning on standard error says so.
TEST_F(PeltraSqlTest, OverflowMarkReadsAsNullWithAWarning)
{
    const auto table = DbfTable::open(m_db / "subs.dbf", {});
    ASSERT_TRUE(table);
    const std::size_t at = table->headerLength() + table->recordLength() + table->fields()[3].offset;
    std::string bytes = readFile(m_db / "subs.dbf");
    bytes.replace(at, 8, "********");
    writeFile(m_db / "subs.dbf", bytes);
    ProgramResult r = run({"SELECT telef, summa FROM subs WHERE summa > 5 OR summa IS NULL"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "TELEF\tSUMMA\n2345678\t10.50\n111\t\n");
    EXPECT_NE(r.err.find("вернула SQL_SUCCESS_WITH_INFO\r\n\r\nState 01000"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Table \"subs.dbf\": 1 value does not read as its field's type"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the first: field SUMMA of record 2"), std::string::npos) << r.err;
    r = run({"SELECT count(*) FROM subs WHERE summa > 100"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "count(*)\n0\n");
}

// A table whose header does not fit its file (here its record length) is read with a warning and
// no statement changes a byte of it: each fails with the reason.
TEST_F(PeltraSqlTest, DamagedTableIsReadWithAWarningAndNeverWritten)
{
    std::string bytes = readFile(m_db / "subs.dbf");
    bytes[10] = bytes[11] = static_cast<char>(0xFF);
    writeFile(m_db / "subs.dbf", bytes);
    ProgramResult r = run({"SELECT count(*) FROM subs"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "count(*)\n0\n");
    EXPECT_NE(r.err.find("but its header says 65535; it is read as far as it goes and will not be changed"),
              std::string::npos)
        << r.err;
    for (const char* sql : {"PACK subs", "UPDATE subs SET proba = 1", "INSERT INTO subs (telef) VALUES ('1')",
                            "DELETE FROM subs"}) {
        SCOPED_TRACE(sql);
        r = run({sql});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Table \"subs.dbf\": it is damaged and is left unchanged until it is repaired: its fields fill"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(readFile(m_db / "subs.dbf"), bytes);
    }
}

// Tables another program wrote in either Cyrillic code page without marking it: names read right
// (found by the table's own text), --codepage wins over that, and text written here is read right
// by that program again.
TEST_F(PeltraSqlTest, UnmarkedTablesInEitherCodePage)
{
    const std::string fields = "TELEF C(12); FIO C(30); DOM C(6)";
    const std::vector<std::string> rows = {"('2345678', 'Иванов Пётр', '12а')", "('111', 'Ёлкина Анна', '5/2')"};
    writeTableByPython(m_db / "dos.dbf", fields, rows, "cp866", true);
    writeTableByPython(m_db / "win.dbf", fields, rows, "cp1251", true);
    const std::string names = "FIO\tDOM\nИванов Пётр\t12а\nЁлкина Анна\t5/2\n";
    for (const char* table : {"dos", "win"}) {
        SCOPED_TRACE(table);
        ProgramResult r = run({std::string("SELECT fio, dom FROM ") + table});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, names);
        r = run({std::string("SELECT telef FROM ") + table + " WHERE fio LIKE 'иван%' AND dom = '12а'"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "TELEF\n2345678\n");
    }
    // The setting wins over the text: read in the other page, the names are garbage.
    ProgramResult r = run({"--codepage", "866", "SELECT fio FROM win WHERE telef = '2345678'"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "FIO\n╚трэют ╧╕ЄЁ\n");
    r = run({"--codepage", "1251", "SELECT fio FROM win WHERE telef = '2345678'"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "FIO\nИванов Пётр\n");
    r = run({"--codepage", "auto", "SELECT fio FROM dos WHERE telef = '111'"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "FIO\nЁлкина Анна\n");
    r = run({"--codepage", "1252", "SELECT fio FROM dos"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("1252"), std::string::npos) << r.err;

    // Written in the page the table was read in: the other program reads the new name right.
    for (const auto& [table, page] : {std::pair{"dos", "cp866"}, {"win", "cp1251"}}) {
        r = run({std::string("UPDATE ") + table + " SET fio = 'Сидоров Ёж' WHERE telef = '111'"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(readFieldByPython(m_db / (std::string(table) + ".dbf"), "FIO", page),
                  (std::vector<std::string> {"Иванов Пётр", "Сидоров Ёж"}))
            << table;
    }
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
