// SQL over .dbf tables through Connection and Query: reading every field type, Cyrillic LIKE,
// positioned write-back, the station's own statements, the authorizer and the error records.
#include "data/Connection.h"
#include "data/Query.h"

#include "HandDbf.h"
#include "support/PythonDbf.h"
#include "support/ReadOnlyFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace peltra::data;
using namespace peltra::test;
namespace fs = std::filesystem;

// The subscriber table as python3-dbf writes it in the code page; record 3 ("111") is then marked
// deleted when asked.
void makeTable(const fs::path& path, const char* codePage, bool deleteThird = false)
{
    writeTableByPython(path, "TELEF C(12); PROBA N(3,0); OTBOJ N(3,0); DATA D; CLOCK C(8); FIO C(20); SUMMA N(10,2); FLAG L",
                       {"('2345678', 2, None, dbf.Date(2024, 3, 5), '', 'Иванов Пётр', 1234.5, True)",
                        "('89161234567', None, None, None, '', 'иванова анна', None, False)",
                        "('111', 1, None, dbf.Date(2023, 12, 31), '', 'Петров', 0, None)",
                        "('222', 0, None, None, '', 'ПЕТРОВА', -5, True)"},
                       codePage, false);
    if (deleteThird) {
        ASSERT_TRUE(DbfTable::open(path, {.writable = true, .codePage = {}})->setDeleted(2, true));
    }
}

class SqlEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeTable(m_dir / "subs.dbf", "cp866");
        ASSERT_TRUE(m_connection.bind("Peltra"));
        ASSERT_TRUE(m_connection.connect());
        ASSERT_TRUE(m_connection.setConnectOption(kCurrentQualifierOption, m_dir.path().string()));
    }

    // The first column of every row of a statement, as text ("NULL" for NULL).
    std::vector<std::string> column(const std::string& sql)
    {
        Query query(m_connection);
        query.setSql(sql);
        std::vector<std::string> out;
        if (!query.open()) {
            for (const auto& e : m_connection.takeErrors())
                ADD_FAILURE() << sql << ": " << e.message;
            return out;
        }
        for (; !query.isEof(); query.moveNext()) {
            bool null = false;
            const std::string text = query.getText(1, &null);
            out.push_back(null ? "NULL" : text);
        }
        return out;
    }

    TempDir m_dir;
    Connection m_connection;
};

using Strings = std::vector<std::string>;

TEST_F(SqlEngineTest, SelectsByEveryFieldType)
{
    struct Case { const char* sql; Strings expected; } cases[] = {
        {"SELECT telef FROM subs WHERE data IS NULL", {"89161234567", "222"}},
        {"SELECT telef FROM subs WHERE proba >= 1 ORDER BY proba DESC", {"2345678", "111"}},
        {"SELECT telef FROM subs WHERE data > '2024-01-01'", {"2345678"}},
        {"SELECT data FROM subs ORDER BY data", {"NULL", "NULL", "2023-12-31", "2024-03-05"}},
        {"SELECT telef FROM subs WHERE flag = 1", {"2345678", "222"}},
        // A field's number reads with the field's decimals; a computed value has no field and
        // reads as the engine writes it.
        {"SELECT summa FROM subs WHERE summa < 0", {"-5.00"}},
        {"SELECT summa / 4 FROM subs WHERE summa < 0", {"-1.25"}},
        {"SELECT telef FROM subs WHERE telef = 111", {"111"}},
        {"SELECT telef FROM SUBS.DBF WHERE telef = '222'", {"222"}},
        {"select telef from Subs where  data IS NULL  AND (proba = 0) ORDER BY telef ASC", {"222"}},
        {"SELECT count(*) FROM subs s, subs t WHERE s.telef = t.telef", {"4"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(column(c.sql), c.expected) << c.sql;
}

TEST_F(SqlEngineTest, LikeIgnoresCyrillicCaseInBothCodePages)
{
    makeTable(m_dir / "win.dbf", "cp1251");
    for (const char* table : {"subs", "win"}) {
        const std::string from = std::string(" FROM ") + table;
        EXPECT_EQ(column("SELECT telef" + from + " WHERE fio LIKE 'ИВАН%'"), (Strings {"2345678", "89161234567"}))
            << table;
        EXPECT_EQ(column("SELECT telef" + from + " WHERE fio LIKE '%пётр'"), (Strings {"2345678"})) << table;
        EXPECT_EQ(column("SELECT telef" + from + " WHERE fio LIKE 'петров_'"), (Strings {"222"})) << table;
        EXPECT_EQ(column("SELECT telef" + from + " WHERE fio NOT LIKE 'ив%' ORDER BY telef"), (Strings {"111", "222"}))
            << table;
        // The condition editor's NotLike, in any letter case, is the negated LIKE.
        EXPECT_EQ(column("SELECT telef" + from + " WHERE fio notLIKE '%ов' ORDER BY telef"),
                  (Strings {"222", "2345678", "89161234567"}))
            << table;
    }
}

TEST_F(SqlEngineTest, PositionedUpdateWritesTheRecord)
{
    Query query(m_connection);
    query.setSql("SELECT telef,proba,otboj,data,clock FROM subs WHERE  data IS NULL  ORDER BY telef DESC");
    ASSERT_TRUE(query.open());
    EXPECT_EQ(query.columnCount(), 5);
    EXPECT_EQ(query.columnName(1), "TELEF");  // as the table names its field
    EXPECT_EQ(query.columnIndex("clock"), 5);
    EXPECT_EQ(query.rowCount(), 2);
    ASSERT_FALSE(query.isEof());
    EXPECT_EQ(query.getText(1), "89161234567");
    EXPECT_EQ(query.recordNumber(), 2);
    ASSERT_TRUE(query.edit());
    ASSERT_TRUE(query.setValue(2, "1"));
    ASSERT_TRUE(query.setValue(4, "2026/12/06"));
    ASSERT_TRUE(query.setValue(5, "09:05:00"));
    ASSERT_TRUE(query.update()) << m_connection.takeErrors().at(0).message;
    ASSERT_TRUE(query.moveNext());
    EXPECT_EQ(query.getText(1), "222");
    EXPECT_EQ(query.getInteger(2), 0);
    query.close();

    std::string error;
    auto table = DbfTable::open(m_dir / "subs.dbf", {}, &error);
    ASSERT_TRUE(table) << error;
    std::string record;
    ASSERT_TRUE(table->readRecord(1, record));
    EXPECT_EQ(table->value(record, 1), DbfValue::ofNumber(1));
    EXPECT_EQ(table->value(record, 3), DbfValue::ofDate({2026, 12, 6}));
    EXPECT_EQ(table->value(record, 4), DbfValue::ofText("09:05:00"));
    EXPECT_EQ(table->value(record, 5), DbfValue::ofText("иванова анна"));  // untouched
    EXPECT_TRUE(table->value(record, 2).isNull());  // OTBOJ was not set

    // The archive's append goes through a selection that holds no row.
    query.setSql("select TELEF, PROBA, DATA, FIO from subs where 1<>1");
    ASSERT_TRUE(query.open());
    EXPECT_TRUE(query.isEof());
    ASSERT_TRUE(query.addNew());
    ASSERT_TRUE(query.setValue(1, "555") && query.setValue(2, "0") && query.setValue(3, "2026/12/06"));
    ASSERT_TRUE(query.setValue(4, "Сидоров") && query.update());
    EXPECT_EQ(column("SELECT fio FROM subs WHERE telef = '555' AND data = '2026-12-06'"), (Strings {"Сидоров"}));
}

// Subqueries in FROM, in the select list and in WHERE: rows of one table (whatever the subqueries
// read) carry its record number for write-back; rows of a derived table or a join carry none.
TEST_F(SqlEngineTest, DerivedTablesAndScalarSubqueries)
{
    const struct {
        const char* sql;
        Strings rows;
        long long firstRecord;  // 0: the rows cannot be written back
    } cases[] = {
        {"SELECT n FROM (SELECT count(*) AS n FROM subs)", {"4"}, 0},
        {"SELECT n FROM ( SELECT telef AS n FROM subs WHERE proba >= 1 ) AS d ORDER BY n", {"111", "2345678"}, 0},
        {"SELECT (SELECT count(*) FROM subs) AS n", {"4"}, 0},
        {"SELECT telef, (SELECT max(proba) FROM subs) AS m FROM subs WHERE telef = '222'", {"222"}, 4},
        {"SELECT telef FROM subs WHERE proba = (SELECT max(proba) FROM subs)", {"2345678"}, 1},
        {"SELECT telef FROM subs WHERE telef IN (SELECT DISTINCT telef FROM subs WHERE flag = 1) ORDER BY telef",
         {"222", "2345678"}, 4},
        {"SELECT s.telef FROM subs s JOIN (SELECT telef FROM subs WHERE flag = 1) t ON s.telef = t.telef "
         "ORDER BY s.telef",
         {"222", "2345678"}, 0},
        {"SELECT a.telef FROM subs a, subs b WHERE a.telef = b.telef AND a.proba = 1", {"111"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(column(c.sql), c.rows);
        Query query(m_connection);
        query.setSql(c.sql);
        ASSERT_TRUE(query.open());
        EXPECT_EQ(query.recordNumber(), c.firstRecord);
        EXPECT_EQ(query.rowCount(), static_cast<long long>(c.rows.size()));
        EXPECT_EQ(query.edit(), c.firstRecord != 0);
        m_connection.takeErrors();
    }
}

TEST_F(SqlEngineTest, LikeEscapeAndDeletedRecordsOfATableReplacedOnDisk)
{
    ASSERT_TRUE(m_connection.executeDirect("UPDATE subs SET fio = '100% Ё_ж' WHERE telef = '111'"));
    EXPECT_EQ(column("SELECT telef FROM subs WHERE fio LIKE '100!% ё!_Ж' ESCAPE '!'"), (Strings {"111"}));
    EXPECT_EQ(column("SELECT telef FROM subs WHERE fio LIKE '100!%_ё%' ESCAPE '!'"), (Strings {"111"}));
    EXPECT_EQ(column("SELECT telef FROM subs WHERE fio LIKE '100!% ё!_' ESCAPE '!'"), Strings {});

    // Another program writes a new file over the table: the next statement reads the new one, its
    // deleted record skipped, rowid the record number.
    makeTable(m_dir / "new.dbf", "cp866", true);
    fs::rename(m_dir / "new.dbf", m_dir / "subs.dbf");
    EXPECT_EQ(column("SELECT rowid FROM subs"), (Strings {"1", "2", "4"}));
    EXPECT_EQ(column("SELECT telef FROM subs WHERE rowid = 4"), (Strings {"222"}));
    EXPECT_EQ(column("SELECT telef FROM subs WHERE rowid = 3"), Strings {});
}

TEST_F(SqlEngineTest, StatementsChangeTheTable)
{
    long long changed = 0;
    ASSERT_TRUE(m_connection.executeDirect("UPDATE subs SET proba = proba + 1 WHERE proba IS NOT NULL", &changed));
    EXPECT_EQ(changed, 3);
    EXPECT_EQ(column("SELECT proba FROM subs"), (Strings {"3", "NULL", "2", "1"}));
    ASSERT_TRUE(m_connection.executeDirect("INSERT INTO subs (telef, fio, flag) VALUES ('777', 'Новый', 'T')"));
    EXPECT_EQ(column("SELECT rowid FROM subs WHERE telef = '777' AND flag = 1"), (Strings {"5"}));
    ASSERT_TRUE(m_connection.executeDirect("DELETE FROM subs WHERE telef = '111'", &changed));
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(column("SELECT rowid FROM subs"), (Strings {"1", "2", "4", "5"}));
    ASSERT_TRUE(m_connection.executeDirect("PACK subs"));
    EXPECT_EQ(column("SELECT telef FROM subs WHERE rowid = 3"), (Strings {"222"}));
    ASSERT_TRUE(m_connection.executeDirect("DELETE FROM subs"));
    ASSERT_TRUE(m_connection.executeDirect("PACK subs"));
    std::string error;
    auto table = DbfTable::open(m_dir / "subs.dbf", {}, &error);
    ASSERT_TRUE(table) << error;
    EXPECT_EQ(table->recordCount(), 0u);
}

TEST_F(SqlEngineTest, CreatesAndDropsTablesAsTheNewTableFormWritesThem)
{
    ASSERT_TRUE(m_connection.executeDirect("CREATE TABLE __tmp__.dbf(\r\n TELEF Char(12) \r\n, PROBA numeric(3,0) \r\n"
                                           ", DATA Date \r\n, SUMMA numeric(9,2) \r\n, OK logical \r\n )"))
        << m_connection.takeErrors().at(0).message;
    const auto columns = m_connection.columns("__tmp__.dbf");
    ASSERT_TRUE(columns);
    std::string shapes;
    for (const ColumnInfo& c : *columns)
        shapes += c.name + " " + std::to_string(c.sqlType) + " " + std::to_string(c.length) + "," +
                  std::to_string(c.decimals) + "; ";
    EXPECT_EQ(shapes, "TELEF 1 12,0; PROBA 2 3,0; DATA 9 8,0; SUMMA 2 10,2; OK -7 1,0; ");
    EXPECT_EQ(column("SELECT count(*) FROM __tmp__.dbf"), (Strings {"0"}));
    EXPECT_EQ(m_connection.tables(), (Strings {"__tmp__.dbf", "subs.dbf"}));

    EXPECT_FALSE(m_connection.executeDirect("CREATE TABLE __tmp__.dbf (A char(1))"));
    EXPECT_EQ(m_connection.takeErrors().at(0).sqlState, "42S01");
    ASSERT_TRUE(m_connection.executeDirect("DROP TABLE __tmp__.dbf"));
    EXPECT_FALSE(fs::exists(m_dir / "__tmp__.dbf"));
    EXPECT_FALSE(m_connection.executeDirect("DROP TABLE __tmp__.dbf"));
    EXPECT_EQ(m_connection.takeErrors().at(0).sqlState, "42S02");
    EXPECT_FALSE(m_connection.executeDirect("CREATE TABLE bad.dbf (A money(3))"));
    EXPECT_EQ(m_connection.takeErrors().at(0).sqlState, "42000");
    EXPECT_FALSE(fs::exists(m_dir / "bad.dbf"));
}

TEST_F(SqlEngineTest, TablesByPathAndByNameAfterTheQualifier)
{
    TempDir other;
    makeTable(other / "Other.DBF", "cp866");
    Connection connection;
    ASSERT_TRUE(connection.bind("PELTRA"));
    ASSERT_TRUE(connection.connect());
    Query query(connection);
    query.setSql("SELECT count(*) FROM " + (other / "Other.DBF").string());
    ASSERT_TRUE(query.open());
    EXPECT_EQ(query.getInteger(1), 4);
    query.setSql("SELECT count(*) FROM \"" + (m_dir / "subs.dbf").string() + "\" WHERE data IS NULL");
    ASSERT_TRUE(query.open());
    EXPECT_EQ(query.getInteger(1), 2);
    query.setSql("SELECT count(*) FROM other");
    EXPECT_FALSE(query.open());
    ASSERT_TRUE(connection.setConnectOption(kCurrentQualifierOption, other.path().string()));
    EXPECT_TRUE(connection.takeErrors().size() == 1);
    ASSERT_TRUE(query.open());
    EXPECT_EQ(query.getInteger(1), 4);
}

// Refused and failing statements each give one error record of SQLExecDirect and change nothing.
TEST_F(SqlEngineTest, RefusedAndFailingStatementsGiveErrorRecords)
{
    const std::pair<const char*, const char*> cases[] = {  // the statement, its state or "" when refused
        {"SELEKT * FROM subs", "42000"},
        {"SELECT * FROM nothere", "42S02"},
        {"SELECT nosuch FROM subs", "42S22"},
        {"ATTACH DATABASE '/tmp/x.db' AS x", ""},
        {"PRAGMA table_info(subs)", ""},
        {"SELECT load_extension('/tmp/nothing.so')", ""},
        {"CREATE VIEW v AS SELECT 1", ""},
        {"SELECT * FROM sqlite_master", ""},
        {"SELECT 1; DELETE FROM subs", ""},
        {"INSERT INTO sqlite_master VALUES ('table', 'x', 'x', 0, '')", ""},
        {"DELETE FROM subs; SELECT 1", ""},
    };
    for (const auto& [sql, state] : cases) {
        Query query(m_connection);
        query.setSql(sql);
        EXPECT_FALSE(query.open()) << sql;
        const auto errors = m_connection.takeErrors();
        ASSERT_EQ(errors.size(), 1u) << sql;
        const OdbcError& e = errors[0];
        EXPECT_EQ(std::make_pair(e.functionCode, e.returnCode),
                  std::make_pair(FunctionCode::SQLExecDirect, ReturnCode::Error));
        if (*state)
            EXPECT_EQ(e.sqlState, state) << sql << ": " << e.message;
        else
            EXPECT_TRUE(e.message.find("not authorized") != std::string::npos
                        || e.message.find("prohibited") != std::string::npos
                        || e.message.find("one statement") != std::string::npos)
                << sql << ": " << e.message;
    }
    EXPECT_EQ(column("SELECT count(*) FROM subs"), (Strings {"4"}));
}

TEST_F(SqlEngineTest, StatementFailingHalfWayTakesItsChangesBack)
{
    const std::string before = readFileBytes((m_dir / "subs.dbf").string());
    const char* statements[] = {
        "UPDATE subs SET proba = 300 * rowid",  // the fourth record's 1200 does not fit
        "UPDATE subs SET fio = 'Новое имя', summa = 3000000 * rowid",
        "INSERT INTO subs (telef, proba) SELECT telef, 300 * rowid FROM subs",
    };
    for (const char* sql : statements) {
        EXPECT_FALSE(m_connection.executeDirect(sql)) << sql;
        const auto errors = m_connection.takeErrors();
        ASSERT_EQ(errors.size(), 1u) << sql;
        EXPECT_NE(errors[0].message.find("does not fit"), std::string::npos) << errors[0].message;
    }
    EXPECT_EQ(column("SELECT proba FROM subs"), (Strings {"2", "NULL", "1", "0"}));
    EXPECT_EQ(column("SELECT count(*) FROM subs"), (Strings {"4"}));
    // The appended records are marked deleted; everything else is as it was.
    ASSERT_TRUE(m_connection.executeDirect("PACK subs"));
    const std::string after = readFileBytes((m_dir / "subs.dbf").string());
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.substr(32), before.substr(32));
}

TEST_F(SqlEngineTest, WriteToAReadOnlyTableFailsAndLeavesTheFile)
{
    const fs::path path = m_dir / "ro.dbf";
    makeTable(path, "cp866");
    const std::string before = readFileBytes(path.string());
    ReadOnlyFile readOnly(path);
    if (!readOnly.isReadOnly())
        GTEST_SKIP() << "cannot make the file read-only here";
    EXPECT_EQ(column("SELECT count(*) FROM ro"), (Strings {"4"}));
    const char* writes[] = {"UPDATE ro SET proba = 9", "INSERT INTO ro (telef) VALUES ('1')", "DELETE FROM ro",
                            "PACK ro"};
    for (const char* sql : writes) {
        EXPECT_FALSE(m_connection.executeDirect(sql)) << sql;
        const auto errors = m_connection.takeErrors();
        ASSERT_EQ(errors.size(), 1u) << sql;
        EXPECT_EQ(errors[0].returnCode, ReturnCode::Error);
        EXPECT_FALSE(errors[0].message.empty());
    }
    EXPECT_EQ(readFileBytes(path.string()), before);
}

}  // namespace
