// Source and archive structure checks: which columns are missing or do not fit, and the exact
// messages.
#include "data/SourceCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace peltra::data {
namespace {

using Names = std::vector<std::string>;
using Fields = std::vector<FieldShape>;

const std::string kHeading = "В данной таблице отсутствуют следующие необходимые поля:\r\n\r\n";
const std::string kClosing = "\r\nТаблица не может быть источником задания.";
const std::string kArchiveHeading =
    "Структура выбранного для архивации файла не соответствует файлу базы данных:\r\n";

std::vector<std::string_view> namesOf(const std::vector<RequiredColumn>& columns)
{
    std::vector<std::string_view> names;
    for (const RequiredColumn& c : columns)
        names.push_back(c.name);
    return names;
}

// 1. The five columns, in message order, with their shown types.
TEST(SourceCheckTest, RequiredColumns)
{
    const auto required = requiredColumns();
    ASSERT_EQ(required.size(), 5u);
    const std::pair<std::string_view, std::string_view> expected[] = {
        {"TELEF", "Num (7,0)"}, {"PROBA", "Num (3,0)"}, {"OTBOJ", "Num (3,0)"},
        {"DATA", "Date (8)"},   {"CLOCK", "Char (8)"},
    };
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(required[i].name, expected[i].first);
        EXPECT_EQ(required[i].shownType, expected[i].second);
    }
}

// 2. Missing columns come out in the required order, whatever the table's order.
TEST(SourceCheckTest, MissingColumns)
{
    const struct {
        Names columns;
        std::vector<std::string_view> missing;
    } cases[] = {
        {{"FIO", "TELEF", "PROBA", "OTBOJ", "DATA", "CLOCK", "SUMMA"}, {}},
        {{"CLOCK", "DATA", "OTBOJ", "PROBA", "TELEF"}, {}},
        {{"TELEF", "OTBOJ", "DATA"}, {"PROBA", "CLOCK"}},
        {{"CLOCK", "FIO", "TELEF"}, {"PROBA", "OTBOJ", "DATA"}},
        {{}, {"TELEF", "PROBA", "OTBOJ", "DATA", "CLOCK"}},
        // Names are compared exactly: case and trailing blanks count.
        {{"telef", "proba", "otboj", "data", "clock"}, {"TELEF", "PROBA", "OTBOJ", "DATA", "CLOCK"}},
        {{"TELEF ", "PROBA", "OTBOJ", "DATA", "CLOCK"}, {"TELEF"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(namesOf(missingRequiredColumns(cases[i].columns)), cases[i].missing) << "case " << i;
}

// 3. The message text for two missing columns.
TEST(SourceCheckTest, MessageForProbaAndClock)
{
    const Names columns = {"TELEF", "OTBOJ", "DATA", "FIO"};
    const auto message = checkSourceColumns(columns);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, kHeading + "PROBA\tNum (3,0)\r\nCLOCK\tChar (8)\r\n" + kClosing);
}

// 4. The message text with every column missing.
TEST(SourceCheckTest, MessageForEmptyTable)
{
    const auto message = checkSourceColumns(Names{});
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, kHeading +
                            "TELEF\tNum (7,0)\r\nPROBA\tNum (3,0)\r\nOTBOJ\tNum (3,0)\r\n"
                            "DATA\tDate (8)\r\nCLOCK\tChar (8)\r\n" +
                            kClosing);
}

// 5. A fit table gives no message.
TEST(SourceCheckTest, FitTableHasNoMessage)
{
    EXPECT_FALSE(checkSourceColumns(Names{"TELEF", "PROBA", "OTBOJ", "DATA", "CLOCK"}).has_value());
}

// 6. Type texts of the archive message.
TEST(SourceCheckTest, FieldTypeText)
{
    const struct {
        FieldShape field;
        std::string_view text;
    } cases[] = {
        {{"A", 'N', 10, 2}, "N10.2"}, {{"A", 'N', 7, 0}, "N7.0"}, {{"A", 'n', 3, 0}, "N3.0"},
        {{"A", 'F', 20, 4}, "F20.4"}, {{"A", 'C', 12, 0}, "C12"},  {{"A", 'D', 8, 0}, "D"},
        {{"A", 'L', 1, 0}, "L"},      {{"A", 'M', 10, 0}, "M10"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fieldTypeText(c.field), c.text);
}

// 7. One source field against the archive's fields, one finding at most.
TEST(SourceCheckTest, ArchiveFindingPerField)
{
    const std::string types = "\r\nНесовпадение типов полей -";
    const std::string size = "\r\nНесовпадение размерности -";
    const struct {
        FieldShape source;
        Fields archive;
        std::string finding;  // empty: the field fits
    } cases[] = {
        {{"FIO", 'C', 40, 0}, {{"FIO", 'C', 40, 0}}, ""},
        {{"FIO", 'C', 40, 0}, {{"FIO", 'C', 60, 0}}, ""},
        {{"FIO", 'C', 40, 0}, {{"FIO", 'C', 39, 0}}, size + "FIO; Файл архива: C39 Исх. файл: C40"},
        {{"FIO", 'C', 40, 0}, {{"X", 'C', 40, 0}}, "\r\n Отсутствует поле: FIO"},
        {{"FIO", 'C', 40, 0}, {{"fio", 'C', 40, 0}}, "\r\n Отсутствует поле: FIO"},
        {{"TELEF", 'C', 12, 0}, {{"TELEF", 'N', 12, 0}},
         types + "TELEF; Файл архива: N12.0 Исх. файл: C12"},
        {{"DATA", 'D', 8, 0}, {{"DATA", 'C', 8, 0}}, types + "DATA; Файл архива: C8 Исх. файл: D"},
        {{"DATA", 'D', 8, 0}, {{"DATA", 'D', 8, 0}}, ""},
        {{"OK", 'L', 1, 0}, {{"OK", 'L', 1, 0}}, ""},
        {{"SUM", 'N', 10, 2}, {{"SUM", 'F', 10, 2}}, types + "SUM; Файл архива: F10.2 Исх. файл: N10.2"},
        {{"PROBA", 'N', 3, 0}, {{"PROBA", 'N', 3, 0}}, ""},
        {{"PROBA", 'N', 3, 0}, {{"PROBA", 'N', 2, 0}}, size + "PROBA; Файл архива: N2.0 Исх. файл: N3.0"},
        {{"SUM", 'N', 10, 2}, {{"SUM", 'N', 12, 2}}, ""},
        {{"SUM", 'N', 10, 2}, {{"SUM", 'N', 12, 3}}, ""},
        {{"SUM", 'N', 10, 2}, {{"SUM", 'N', 11, 1}}, size + "SUM; Файл архива: N11.1 Исх. файл: N10.2"},
        // Same width, wider scale: fewer places before the point, so large sums would not fit.
        {{"SUM", 'N', 10, 2}, {{"SUM", 'N', 10, 4}}, size + "SUM; Файл архива: N10.4 Исх. файл: N10.2"},
        // Wider, but the point and two decimals leave 7 places for 8 digits.
        {{"LS", 'N', 8, 0}, {{"LS", 'N', 10, 2}}, size + "LS; Файл архива: N10.2 Исх. файл: N8.0"},
        {{"LS", 'N', 8, 0}, {{"LS", 'N', 11, 2}}, ""},
        {{"K", 'F', 20, 4}, {{"K", 'F', 20, 3}}, size + "K; Файл архива: F20.3 Исх. файл: F20.4"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Fields source = {cases[i].source};
        const std::vector<std::string> findings = archiveFindings(source, cases[i].archive);
        if (cases[i].finding.empty()) {
            EXPECT_TRUE(findings.empty()) << "case " << i << ": " << (findings.empty() ? "" : findings[0]);
        } else {
            ASSERT_EQ(findings.size(), 1u) << "case " << i;
            EXPECT_EQ(findings[0], cases[i].finding) << "case " << i;
        }
    }
}

const Fields kSource = {
    {"FIO", 'C', 40, 0}, {"TELEF", 'C', 12, 0}, {"SUMMA", 'N', 10, 2},
    {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 8, 0},
};

// 8. An archive with the same fields in another order and an extra field passes.
TEST(SourceCheckTest, ArchiveWithExtraFieldPasses)
{
    Fields archive(kSource.rbegin(), kSource.rend());
    archive.push_back({"ARHDATE", 'D', 8, 0});
    EXPECT_FALSE(checkArchiveStructure(kSource, archive).has_value());
    EXPECT_FALSE(checkArchiveStructure(kSource, kSource).has_value());
}

// 9. Every finding, in the source's field order, under one heading.
TEST(SourceCheckTest, ArchiveMessageCollectsAllFindings)
{
    const Fields archive = {
        {"CLOCK", 'C', 5, 0}, {"DATA", 'D', 8, 0}, {"PROBA", 'C', 3, 0},
        {"SUMMA", 'N', 10, 2}, {"FIO", 'C', 40, 0}, {"EXTRA", 'L', 1, 0},
    };
    const auto message = checkArchiveStructure(kSource, archive);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, kArchiveHeading +
                            "\r\n Отсутствует поле: TELEF"
                            "\r\nНесовпадение типов полей -PROBA; Файл архива: C3 Исх. файл: N3.0"
                            "\r\n Отсутствует поле: OTBOJ"
                            "\r\nНесовпадение размерности -CLOCK; Файл архива: C5 Исх. файл: C8");
}

// 10. An empty archive lacks every field.
TEST(SourceCheckTest, EmptyArchiveLacksEverything)
{
    EXPECT_EQ(archiveFindings(kSource, Fields{}).size(), kSource.size());
}

}  // namespace
}  // namespace peltra::data
