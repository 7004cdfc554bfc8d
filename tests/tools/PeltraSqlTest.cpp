// peltra-sql run as a technician runs it: rows of a table as tab-separated text, CSV and JSON,
// rows changed by other statements, unmarked tables in either Cyrillic code page, and error
// records on failure.
#include "data/DbfTable.h"
#include "support/PythonDbf.h"
#include "support/ToolsFixture.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace peltra::test {
namespace {

using data::DbfTable;

class PeltraSqlTest : public ToolsFixture {
protected:
    PeltraSqlTest() : ToolsFixture(PELTRA_SQL_PATH) { m_lead = {"--db", m_db.string()}; }

    // The table as another dBase program writes it: a full row, and one with only its telephone.
    void SetUp() override
    {
        std::filesystem::create_directories(m_db);
        writeTableByPython(m_db / "subs.dbf", "TELEF C(12); PROBA N(3,0); DATA D; SUMMA N(8,2); FIO C(20)",
                           {"('2345678', 2, dbf.Date(2024, 3, 5), 10.5, 'Иванов, \"Пётр\"')", "{'telef': '111'}"},
                           "cp866", false);
    }

    const std::filesystem::path m_db = work("db");
};

TEST_F(PeltraSqlTest, PrintsRowsInEachFormatAndRowsChanged)
{
    const std::string sql = "SELECT telef, proba, data, summa, fio FROM subs ORDER BY telef DESC";
    // SUMMA N(8,2) prints as the table holds it: 10.50.
    EXPECT_EQ(ok({sql}), "TELEF\tPROBA\tDATA\tSUMMA\tFIO\n2345678\t2\t2024-03-05\t10.50\tИванов, \"Пётр\"\n111\t\t\t\t\n");
    EXPECT_EQ(ok({"--csv", sql}),
              "TELEF,PROBA,DATA,SUMMA,FIO\n2345678,2,2024-03-05,10.50,\"Иванов, \"\"Пётр\"\"\"\n111,,,,\n");
    const auto json = nlohmann::json::parse(ok({"--json", sql}));
    EXPECT_EQ(json["columns"], nlohmann::json({"TELEF", "PROBA", "DATA", "SUMMA", "FIO"}));
    EXPECT_EQ(json["rows"][0], nlohmann::json({"2345678", 2, "2024-03-05", 10.5, "Иванов, \"Пётр\""}));
    EXPECT_EQ(json["rows"][1], nlohmann::json({"111", nullptr, nullptr, nullptr, ""}));

    EXPECT_EQ(ok({"UPDATE subs SET proba = 1"}), "2\n");
    EXPECT_EQ(ok({"DELETE FROM subs.dbf WHERE telef = '111'"}), "1\n");
    EXPECT_EQ(ok({"PACK subs"}), "1\n");
    EXPECT_EQ(nlohmann::json::parse(ok({"--json", "SELECT count(*) AS n FROM subs"}))["rows"][0][0], 1);
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
    const ProgramResult r = run({"SELECT telef, summa FROM subs WHERE summa > 5 OR summa IS NULL"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "TELEF\tSUMMA\n2345678\t10.50\n111\t\n");
    for (const char* warning : {"вернула SQL_SUCCESS_WITH_INFO\r\n\r\nState 01000",
                                "Table \"subs.dbf\": 1 value does not read as its field's type",
                                "the first: field SUMMA of record 2"})
        EXPECT_NE(r.err.find(warning), std::string::npos) << r.err;
    EXPECT_EQ(ok({"SELECT count(*) FROM subs WHERE summa > 100"}), "count(*)\n0\n");
}

// A table whose header does not fit its file (here its record length) is read with a warning and
// no statement changes a byte of it: each fails with the reason.
TEST_F(PeltraSqlTest, DamagedTableIsReadWithAWarningAndNeverWritten)
{
    std::string bytes = readFile(m_db / "subs.dbf");
    bytes[10] = bytes[11] = static_cast<char>(0xFF);
    writeFile(m_db / "subs.dbf", bytes);
    const ProgramResult r = fails({"SELECT count(*) FROM subs"}, 0,
                                  "but its header says 65535; it is read as far as it goes and will not be changed");
    EXPECT_EQ(r.out, "count(*)\n0\n");
    for (const char* sql : {"PACK subs", "UPDATE subs SET proba = 1", "INSERT INTO subs (telef) VALUES ('1')",
                            "DELETE FROM subs"}) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(fails({sql}, 1, "Table \"subs.dbf\": it is damaged and is left unchanged until it is repaired: its "
                                  "fields fill").out,
                  "");
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
    for (const std::string table : {"dos", "win"}) {
        SCOPED_TRACE(table);
        EXPECT_EQ(ok({"SELECT fio, dom FROM " + table}), "FIO\tDOM\nИванов Пётр\t12а\nЁлкина Анна\t5/2\n");
        EXPECT_EQ(ok({"SELECT telef FROM " + table + " WHERE fio LIKE 'иван%' AND dom = '12а'"}), "TELEF\n2345678\n");
    }
    // The setting wins over the text: read in the other page, the names are garbage.
    EXPECT_EQ(ok({"--codepage", "866", "SELECT fio FROM win WHERE telef = '2345678'"}), "FIO\n╚трэют ╧╕ЄЁ\n");
    EXPECT_EQ(ok({"--codepage", "1251", "SELECT fio FROM win WHERE telef = '2345678'"}), "FIO\nИванов Пётр\n");
    EXPECT_EQ(ok({"--codepage", "auto", "SELECT fio FROM dos WHERE telef = '111'"}), "FIO\nЁлкина Анна\n");
    fails({"--codepage", "1252", "SELECT fio FROM dos"}, 1, "1252");
    // Written in the page the table was read in: the other program reads the new name right.
    for (const auto& [table, page] : {std::pair{"dos", "cp866"}, {"win", "cp1251"}}) {
        ok({std::string("UPDATE ") + table + " SET fio = 'Сидоров Ёж' WHERE telef = '111'"});
        EXPECT_EQ(readFieldByPython(m_db / (std::string(table) + ".dbf"), "FIO", page),
                  (std::vector<std::string>{"Иванов Пётр", "Сидоров Ёж"}))
            << table;
    }
}

TEST_F(PeltraSqlTest, FailuresPrintTheErrorBoxText)
{
    EXPECT_EQ(fails({"SELECT * FROM nothere"}, 1, "Функция SQLExecDirect вернула SQL_ERROR\r\n\r\nState 42S02").out, "");
    fails({}, 2, "no statement given");
    fails({"--bogus", "SELECT 1"}, 2, "unknown option --bogus");
    fails({"SELECT 1", "SELECT 2"}, 2, "give the statement as one argument");
}

}  // namespace
}  // namespace peltra::test
