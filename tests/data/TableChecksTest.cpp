// The checks on table files (source, archive) with their exact messages, and the query checker's
// core, on real files; the archive's field-by-field findings at their edges.
#include "data/DbfTable.h"
#include "data/SourceCheck.h"
#include "data/TableChecks.h"

#include "HandDbf.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace peltra::data {
namespace {

const std::vector<test::HandField> kSourceFields = {
    {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
    {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0}, {"FIO", 'C', 30, 0}};
const std::string kNoSource = "\r\nТаблица не может быть источником задания.";

class TableChecksTest : public ::testing::Test {
protected:
    std::filesystem::path table(const std::string& name, const std::vector<test::HandField>& fields)
    {
        test::writeFileBytes((m_dir / name).string(), test::handTable({}, fields, {}));
        return m_dir / name;
    }

    std::filesystem::path subscribers()
    {
        const auto path = table("abon.dbf", kSourceFields);
        auto dbf = DbfTable::open(path, {true, std::nullopt});
        for (const auto& [telef, proba, fio] : {std::tuple {"2001", 0, "Иванов"}, {"2002", 3, "Петров"},
                                                {"2003", 1, "Сидоров"}})
            EXPECT_TRUE(dbf->append({{0, DbfValue::ofText(telef)}, {1, DbfValue::ofNumber(proba)},
                                     {5, DbfValue::ofText(fio)}}));
        return path;
    }

    test::TempDir m_dir;
};

TEST_F(TableChecksTest, ASourceMustExistAndHoldTheFiveColumns)
{
    EXPECT_EQ(SourceCheck(m_dir / "none.dbf").message, kTableNotFoundMessage);
    EXPECT_TRUE(SourceCheck(subscribers()).ok);
    const CheckOutcome outcome =
        SourceCheck(table("partial.dbf", {{"TELEF", 'C', 12, 0}, {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0}}));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "В данной таблице отсутствуют следующие необходимые поля:\r\n\r\n"
                               "PROBA\tNum (3,0)\r\nCLOCK\tChar (8)\r\n" + kNoSource);
    // Missing columns come in the required order; names compare exactly.
    const std::vector<std::string> names = {"CLOCK", "telef", "OTBOJ ", "DATA"};
    std::string missing;
    for (const RequiredColumn& column : missingRequiredColumns(names))
        missing += std::string(column.name) + " ";
    EXPECT_EQ(missing, "TELEF PROBA OTBOJ ");
}

TEST_F(TableChecksTest, ASourceMustTakeWhatTheStationWritesIntoItsColumns)
{
    const struct {
        test::HandField field;  // replaces the required column of that name
        const char* line;    // the message's line; empty: the table passes
    } cases[] = {
        {{"TELEF", 'N', 12, 0}, "TELEF\tN12.0\tнужно Char"},   {{"PROBA", 'C', 3, 0}, "PROBA\tC3\tнужно Num"},
        {{"OTBOJ", 'D', 8, 0}, "OTBOJ\tD\tнужно Num"},         {{"DATA", 'C', 8, 0}, "DATA\tC8\tнужно Date (8)"},
        {{"CLOCK", 'C', 7, 0}, "CLOCK\tC7\tнужно Char (8)"},   {{"CLOCK", 'N', 8, 0}, "CLOCK\tN8.0\tнужно Char (8)"},
        {{"PROBA", 'F', 5, 0}, ""},                            {{"CLOCK", 'C', 10, 0}, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<test::HandField> fields = kSourceFields;
        for (test::HandField& field : fields)
            if (field.name == c.field.name)
                field = c.field;
        const auto path = table("unfit" + std::to_string(++n) + ".dbf", fields);
        const CheckOutcome outcome = SourceCheck(path);
        EXPECT_EQ(outcome.ok, std::string(c.line).empty());
        EXPECT_EQ(unfitResultColumns(path).size(), std::string(c.line).empty() ? 0u : 1u);
        EXPECT_EQ(outcome.message, outcome.ok ? "" : "В данной таблице следующие необходимые поля не могут принять "
                                   "результаты звонков:\r\n\r\n" + std::string(c.line) + "\r\n" + kNoSource);
    }
}

TEST_F(TableChecksTest, AMissingArchiveIsCreatedEmptyAndAnUnfitOneReported)
{
    const auto source = subscribers();
    const auto archive = m_dir / "arhiv.dbf";
    const CheckOutcome outcome = ArchiveCheck(source, archive);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    const auto created = DbfTable::open(archive, {});
    ASSERT_TRUE(created);
    EXPECT_EQ(created->recordCount(), 0u);
    std::string shapes;
    for (const auto& field : created->fields())
        shapes += field.name + field.type + std::to_string(field.length) + " ";
    EXPECT_EQ(shapes, "TELEFC12 PROBAN3 OTBOJN3 DATAD8 CLOCKC8 FIOC30 ");
    EXPECT_EQ(DbfTable::open(source, {})->recordCount(), 3u);
    EXPECT_TRUE(ArchiveCheck(source, archive).ok);

    const auto small = table("small.dbf", {{"TELEF", 'C', 10, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'C', 3, 0},
                                           {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 8, 0}});
    EXPECT_EQ(ArchiveCheck(source, small).message,
              "Структура выбранного для архивации файла не соответствует файлу базы данных:\r\n"
              "\r\nНесовпадение размерности -TELEF; Файл архива: C10 Исх. файл: C12"
              "\r\nНесовпадение типов полей -OTBOJ; Файл архива: C3 Исх. файл: N3.0"
              "\r\n Отсутствует поле: FIO");
}

// One source field against the archive's fields, one finding at most.
TEST(ArchiveFindingsTest, OneFieldAtItsEdges)
{
    const std::string types = "\r\nНесовпадение типов полей -";
    const std::string size = "\r\nНесовпадение размерности -";
    const struct {
        FieldShape source;
        FieldShape archive;
        std::string finding;  // empty: the field fits
    } cases[] = {
        {{"FIO", 'C', 40, 0}, {"FIO", 'C', 40, 0}, ""},
        {{"FIO", 'C', 40, 0}, {"FIO", 'C', 39, 0}, size + "FIO; Файл архива: C39 Исх. файл: C40"},
        {{"FIO", 'C', 40, 0}, {"fio", 'C', 40, 0}, "\r\n Отсутствует поле: FIO"},
        {{"DATA", 'D', 8, 0}, {"DATA", 'C', 8, 0}, types + "DATA; Файл архива: C8 Исх. файл: D"},
        {{"SUM", 'N', 10, 2}, {"SUM", 'F', 10, 2}, types + "SUM; Файл архива: F10.2 Исх. файл: N10.2"},
        {{"SUM", 'N', 10, 2}, {"SUM", 'N', 12, 3}, ""},
        {{"SUM", 'N', 10, 2}, {"SUM", 'N', 11, 1}, size + "SUM; Файл архива: N11.1 Исх. файл: N10.2"},
        // Same width, wider scale: fewer places before the point, so large sums would not fit.
        {{"SUM", 'N', 10, 2}, {"SUM", 'N', 10, 4}, size + "SUM; Файл архива: N10.4 Исх. файл: N10.2"},
        // Wider, but the point and two decimals leave 7 places for 8 digits.
        {{"LS", 'N', 8, 0}, {"LS", 'N', 10, 2}, size + "LS; Файл архива: N10.2 Исх. файл: N8.0"},
        {{"LS", 'N', 8, 0}, {"LS", 'N', 11, 2}, ""},
        {{"OK", 'L', 1, 0}, {"OK", 'L', 1, 0}, ""},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> findings = archiveFindings({&c.source, 1}, {&c.archive, 1});
        EXPECT_EQ(findings.empty() ? "" : findings.front(), c.finding) << c.source.name << " " << fieldTypeText(c.archive);
        EXPECT_LE(findings.size(), 1u);
    }
}

TEST_F(TableChecksTest, TheQueryCheckerRunsWhatATaskWouldSelect)
{
    const auto source = subscribers();
    const QueryCheck check = runQueryCheck(source, "PROBA < 2", "TELEF", false);
    ASSERT_TRUE(check.ok) << check.message;
    EXPECT_EQ(check.sql, "SELECT TELEF, PROBA, OTBOJ, DATA, CLOCK, FIO FROM abon.dbf WHERE PROBA < 2 "
                         "ORDER BY TELEF DESC");
    EXPECT_EQ(check.log, "Выполнение запроса\r\nDB=abon.dbf\r\nSQL Statement=" + check.sql);
    ASSERT_EQ(check.rows.size(), 2u);
    EXPECT_EQ(check.rows[0][0], "2003");
    EXPECT_EQ(check.rows[1][5], "Иванов");
    EXPECT_EQ(check.message, "Ошибок не обнаружено. Выбрано 2 строк.");
    EXPECT_EQ(runQueryCheck(source, "", "", true).sql, "SELECT TELEF, PROBA, OTBOJ, DATA, CLOCK, FIO FROM abon.dbf");

    const QueryCheck failed = runQueryCheck(source, "PROBA <", "", true);
    EXPECT_FALSE(failed.ok);
    EXPECT_TRUE(failed.rows.empty());
    EXPECT_EQ(failed.status, "Ошибка SQL запроса");
    EXPECT_EQ(failed.message, "Ошибка выполнения SQL запроса.");
    ASSERT_FALSE(failed.errors.empty());
    EXPECT_EQ(failed.errors[0].sqlState, "42000");
}

}  // namespace
}  // namespace peltra::data
