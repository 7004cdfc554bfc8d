// The checks on table files (source, archive) and the query checker's core, on real files.
#include "data/DbfTable.h"
#include "data/SourceCheck.h"
#include "data/TableChecks.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace peltra::data {
namespace {

const std::vector<DbfFieldSpec> kSourceFields = {
    {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
    {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0}, {"FIO", 'C', 30, 0}};

class TableChecksTest : public ::testing::Test {
protected:
    std::filesystem::path table(const std::string& name, const std::vector<DbfFieldSpec>& fields)
    {
        const auto path = m_dir / name;
        std::string error;
        EXPECT_TRUE(DbfTable::create(path, fields, 866, true, &error)) << error;
        return path;
    }

    std::filesystem::path subscribers()
    {
        const auto path = table("abon.dbf", kSourceFields);
        auto dbf = DbfTable::open(path, {true, std::nullopt});
        const struct {
            const char* telef;
            double proba;
            const char* fio;
        } rows[] = {{"2001", 0, "Иванов"}, {"2002", 3, "Петров"}, {"2003", 1, "Сидоров"}};
        for (const auto& r : rows) {
            EXPECT_TRUE(dbf->append({{0, DbfValue::ofText(r.telef)},
                                     {1, DbfValue::ofNumber(r.proba)},
                                     {5, DbfValue::ofText(r.fio)}}));
        }
        return path;
    }

    test::TempDir m_dir;
};

TEST_F(TableChecksTest, ASourceMustExistAndHoldTheFiveColumns)
{
    EXPECT_EQ(SourceCheck(m_dir / "none.dbf").message, kTableNotFoundMessage);
    EXPECT_TRUE(SourceCheck(subscribers()).ok);

    const auto partial = table("partial.dbf", {{"TELEF", 'C', 12, 0}, {"OTBOJ", 'N', 3, 0},
                                               {"DATA", 'D', 8, 0}});
    const CheckOutcome outcome = SourceCheck(partial);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message,
              "В данной таблице отсутствуют следующие необходимые поля:\r\n\r\n"
              "PROBA\tNum (3,0)\r\nCLOCK\tChar (8)\r\n"
              "\r\nТаблица не может быть источником задания.");
}

TEST_F(TableChecksTest, ASourceMustTakeWhatTheStationWritesIntoItsColumns)
{
    const struct {
        DbfFieldSpec field;  // replaces the required column of that name
        const char* line;    // the message's line; empty: the table passes
    } cases[] = {
        {{"TELEF", 'N', 12, 0}, "TELEF\tN12.0\tнужно Char"},
        {{"PROBA", 'C', 3, 0}, "PROBA\tC3\tнужно Num"},
        {{"OTBOJ", 'D', 8, 0}, "OTBOJ\tD\tнужно Num"},
        {{"DATA", 'C', 8, 0}, "DATA\tC8\tнужно Date (8)"},
        {{"CLOCK", 'C', 5, 0}, "CLOCK\tC5\tнужно Char (8)"},
        {{"CLOCK", 'N', 8, 0}, "CLOCK\tN8.0\tнужно Char (8)"},
        {{"PROBA", 'F', 5, 0}, ""},
        {{"CLOCK", 'C', 10, 0}, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<DbfFieldSpec> fields = kSourceFields;
        for (DbfFieldSpec& field : fields)
            if (field.name == c.field.name)
                field = c.field;
        const auto path = table("unfit" + std::to_string(++n) + ".dbf", fields);
        const CheckOutcome outcome = SourceCheck(path);
        EXPECT_EQ(outcome.ok, std::string(c.line).empty());
        EXPECT_EQ(unfitResultColumns(path).size(), std::string(c.line).empty() ? 0u : 1u);
        if (!outcome.ok) {
            EXPECT_EQ(outcome.message, "В данной таблице следующие необходимые поля не могут принять результаты "
                                       "звонков:\r\n\r\n" +
                                           std::string(c.line) + "\r\n\r\nТаблица не может быть источником задания.");
        }
    }
}

TEST_F(TableChecksTest, AMissingArchiveIsCreatedEmptyWithTheSourcesStructure)
{
    const auto source = subscribers();
    const auto archive = m_dir / "arhiv.dbf";
    const CheckOutcome outcome = ArchiveCheck(source, archive);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    const auto created = DbfTable::open(archive, {});
    ASSERT_TRUE(created);
    EXPECT_EQ(created->recordCount(), 0u);
    ASSERT_EQ(created->fields().size(), kSourceFields.size());
    for (std::size_t i = 0; i < kSourceFields.size(); ++i) {
        EXPECT_EQ(created->fields()[i].name, kSourceFields[i].name);
        EXPECT_EQ(created->fields()[i].length, kSourceFields[i].length);
    }
    // The source keeps its rows.
    EXPECT_EQ(DbfTable::open(source, {})->recordCount(), 3u);
    // Checked again, the archive now exists and fits.
    EXPECT_TRUE(ArchiveCheck(source, archive).ok);
}

TEST_F(TableChecksTest, AnArchiveThatDoesNotFitIsReportedWithItsFindings)
{
    const auto source = subscribers();
    const auto archive = table("small.dbf", {{"TELEF", 'C', 10, 0}, {"PROBA", 'N', 3, 0},
                                             {"OTBOJ", 'C', 3, 0}, {"DATA", 'D', 8, 0},
                                             {"CLOCK", 'C', 8, 0}});
    const CheckOutcome outcome = ArchiveCheck(source, archive);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message,
              "Структура выбранного для архивации файла не соответствует файлу базы данных:\r\n"
              "\r\nНесовпадение размерности -TELEF; Файл архива: C10 Исх. файл: C12"
              "\r\nНесовпадение типов полей -OTBOJ; Файл архива: C3 Исх. файл: N3.0"
              "\r\n Отсутствует поле: FIO");
}

TEST_F(TableChecksTest, TheQueryCheckerRunsWhatATaskWouldSelect)
{
    const auto source = subscribers();
    const QueryCheck check = runQueryCheck(source, "PROBA < 2", "TELEF", false);
    ASSERT_TRUE(check.ok) << check.message;
    EXPECT_EQ(check.sql,
              "SELECT TELEF, PROBA, OTBOJ, DATA, CLOCK, FIO FROM abon.dbf WHERE PROBA < 2 "
              "ORDER BY TELEF DESC");
    EXPECT_EQ(check.log, "Выполнение запроса\r\nDB=abon.dbf\r\nSQL Statement=" + check.sql);
    ASSERT_EQ(check.rows.size(), 2u);
    EXPECT_EQ(check.rows[0][0], "2003");
    EXPECT_EQ(check.rows[1][0], "2001");
    EXPECT_EQ(check.rows[1][5], "Иванов");
    EXPECT_EQ(check.status, "Выбрано 2 строк.");
    EXPECT_EQ(check.message, "Ошибок не обнаружено. Выбрано 2 строк.");

    const QueryCheck everything = runQueryCheck(source, "", "", true);
    EXPECT_EQ(everything.sql, "SELECT TELEF, PROBA, OTBOJ, DATA, CLOCK, FIO FROM abon.dbf");
    EXPECT_EQ(everything.rows.size(), 3u);
}

TEST_F(TableChecksTest, AFailingConditionGivesTheErrorRecords)
{
    const QueryCheck check = runQueryCheck(subscribers(), "PROBA <", "", true);
    EXPECT_FALSE(check.ok);
    EXPECT_TRUE(check.rows.empty());
    EXPECT_EQ(check.status, "Ошибка SQL запроса");
    EXPECT_EQ(check.message, "Ошибка выполнения SQL запроса.");
    ASSERT_FALSE(check.errors.empty());
    EXPECT_EQ(check.errors[0].sqlState, "42000");
}

}  // namespace
}  // namespace peltra::data
