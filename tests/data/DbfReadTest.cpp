// Reading hand-made dBase III, IV and FoxPro tables: values, NULLs, deleted records, code pages.
#include "data/DbfTable.h"

#include "DbfTestData.h"
#include "HandDbf.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace {

using namespace peltra::data;
using namespace peltra::test;

std::unique_ptr<DbfTable> openBytes(const std::string& bytes, std::string* error = nullptr,
                                    DbfTable::Options options = {})
{
    return DbfTable::openStorage(std::make_unique<MemoryStorage>(bytes), "t.dbf", options, error);
}

DbfValue valueOf(const DbfTable& table, std::uint32_t index, const char* field)
{
    std::string record;
    EXPECT_TRUE(table.readRecord(index, record));
    return table.value(record, *table.fieldIndex(field));
}

TEST(DbfRead, ValuesOfEveryType)
{
    const auto table = openBytes(handTable({}, subscriberFields(), subscriberRecords(kIvanovCp866), {false, false, true}));
    ASSERT_TRUE(table);
    struct Case { std::uint32_t row; const char* field; DbfValue expected; } cases[] = {
        {0, "TELEF", DbfValue::ofText("2345678")},  {0, "PROBA", DbfValue::ofNumber(2)},
        {0, "DATA", DbfValue::ofDate({2024, 3, 5})}, {0, "CLOCK", DbfValue::ofText("12:34:56")},
        {0, "FIO", DbfValue::ofText(kIvanovUtf8)},   {0, "SUMMA", DbfValue::ofNumber(1234.5)},
        {0, "FLAG", DbfValue::ofLogical(true)},      {0, "RATE", DbfValue::ofNumber(-1.25)},
        {1, "TELEF", DbfValue::ofText("89161234567")}, {1, "PROBA", DbfValue::null()},
        {1, "DATA", DbfValue::null()},               {1, "CLOCK", DbfValue::ofText("")},
        {1, "SUMMA", DbfValue::null()},              {1, "FLAG", DbfValue::null()},
        {2, "FLAG", DbfValue::ofLogical(false)},     {2, "RATE", DbfValue::ofNumber(150)},
        {2, "DATA", DbfValue::ofDate({2023, 12, 31})}, {3, "DATA", DbfValue::null()},
        {3, "FLAG", DbfValue::null()},               {3, "SUMMA", DbfValue::ofNumber(-5)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(valueOf(*table, c.row, c.field), c.expected) << "row " << c.row << " " << c.field;
    EXPECT_EQ(valueOf(*table, 0, "DATA").date.text(), "2024-03-05");
}

// The same Russian words stored in either Cyrillic code page read as the same UTF-8 text: by the
// table's code-page mark, else by the page its opener names, else by the page its text is in; a
// page the opener forces wins over all. Western pages by their marks.
TEST(DbfRead, CodePages)
{
    const std::string plain = "Ivanov";
    const std::string muller1252 = "M\xFCller", muller437 = "M\x81ller";
    struct Case {
        std::uint8_t driver;
        const std::string& bytes;
        std::optional<unsigned> unmarkedCodePage;
        std::optional<unsigned> forced;
        unsigned codePage;
        std::string text;  // empty: not read as the words stored
    } cases[] = {
        {0x65, kIvanovCp866, {}, {}, 866, kIvanovUtf8},   {0x26, kIvanovCp866, {}, {}, 866, kIvanovUtf8},
        {0xC9, kIvanovCp1251, {}, {}, 1251, kIvanovUtf8}, {0x57, kIvanovCp1251, {}, {}, 1251, kIvanovUtf8},
        {0x00, kIvanovCp866, {}, {}, 866, kIvanovUtf8},   {0x00, kIvanovCp1251, {}, {}, 1251, kIvanovUtf8},
        {0x42, kIvanovCp1251, {}, {}, 1251, kIvanovUtf8},  // a byte no driver uses marks nothing
        {0x00, plain, {}, {}, 866, ""},                    // no Russian text: the usual page
        {0x00, kIvanovCp1251, 866u, {}, 866, ""},         {0x00, kIvanovCp866, 1251u, {}, 1251, ""},
        {0x00, kIvanovCp1251, 1251u, {}, 1251, kIvanovUtf8}, {0x65, kIvanovCp1251, {}, {}, 866, ""},
        {0xC9, kIvanovCp1251, 866u, {}, 1251, kIvanovUtf8}, {0x65, kIvanovCp1251, {}, 1251u, 1251, kIvanovUtf8},
        {0x03, muller1252, {}, {}, 1252, "Müller"},       {0x01, muller437, {}, {}, 437, "Müller"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("driver " + std::to_string(c.driver) + ", setting " + std::to_string(c.unmarkedCodePage.value_or(0))
                     + ", expected " + std::to_string(c.codePage));
        const auto table = openBytes(handTable({.driver = c.driver}, subscriberFields(), subscriberRecords(c.bytes)), nullptr,
                                     {.codePage = c.forced, .unmarkedCodePage = c.unmarkedCodePage});
        ASSERT_TRUE(table);
        EXPECT_EQ(table->codePage(), c.codePage);
        EXPECT_EQ(table->languageDriver(), c.driver);
        EXPECT_EQ(valueOf(*table, 0, "FIO").text, c.text.empty() ? valueOf(*table, 0, "FIO").text : c.text);
        EXPECT_EQ(valueOf(*table, 0, "FIO").text == kIvanovUtf8, c.text == kIvanovUtf8);
    }
}

TEST(DbfRead, OtherTypesAndUnreadableContentAreRaw)
{
    const std::vector<HandField> fields = {
        {"NOTE", 'M', 10, 0}, {"CNT", 'I', 4, 0}, {"NAME", 'C', 5, 0}, {"WHEN", 'T', 8, 0}, {"N", 'N', 4, 1}};
    const std::string record = std::string("       123") + std::string("\x01\x00\x00\x80", 4) + "Abc  "
        + std::string(8, '\x07') + " 2.5";
    auto table = openBytes(handTable({}, fields, {record}));
    ASSERT_TRUE(table);
    std::string bytes;
    ASSERT_TRUE(table->readRecord(0, bytes));
    EXPECT_FALSE(table->fields()[0].isDecoded());
    EXPECT_EQ(table->value(bytes, 0).kind, DbfValue::Kind::Raw);
    EXPECT_EQ(table->value(bytes, 0).text, "       123");
    EXPECT_EQ(table->value(bytes, 1).text, std::string("\x01\x00\x00\x80", 4));
    EXPECT_EQ(table->value(bytes, 2).text, "Abc");
    EXPECT_EQ(table->value(bytes, 3).kind, DbfValue::Kind::Raw);
    EXPECT_EQ(table->value(bytes, 4).number, 2.5);
    std::string error;
    std::string encoded;
    EXPECT_FALSE(table->encode(0, DbfValue::ofText("1"), encoded, &error));
    EXPECT_NE(error.find("cannot be written"), std::string::npos) << error;

    // Content that does not read as its field's type comes back raw rather than as a wrong value.
    const std::vector<HandField> odd = {{"N", 'N', 5, 0}, {"D", 'D', 8, 0}, {"L", 'L', 1, 0}, {"F", 'F', 5, 0}};
    table = openBytes(handTable({}, odd, {"12a  20231345X  inf", "*****2024022  1,500"}));
    ASSERT_TRUE(table);
    std::string r;
    ASSERT_TRUE(table->readRecord(0, r));
    for (std::size_t f = 0; f < 4; ++f)
        EXPECT_EQ(table->value(r, f).kind, DbfValue::Kind::Raw) << f;
    ASSERT_TRUE(table->readRecord(1, r));
    EXPECT_EQ(table->value(r, 0).kind, DbfValue::Kind::Raw);  // overflow stars
    EXPECT_EQ(table->value(r, 1).kind, DbfValue::Kind::Raw);  // 2024-02-2 and a blank
    EXPECT_EQ(table->value(r, 2).kind, DbfValue::Kind::Null);
    EXPECT_EQ(table->value(r, 3).number, 1.5);  // a decimal comma
}

TEST(DbfRead, FoxProLongTextFieldUsesTheDecimalsByte)
{
    // handTable sums single-byte lengths, so lay the record length out by hand.
    std::string bytes = handTable({.version = 0x30}, {{"ID", 'N', 2, 0}, {"TEXT", 'C', 300 - 256, 1}}, {});
    put16(bytes, 10, 1 + 2 + 300);
    bytes[4] = 1;
    bytes.pop_back();  // the end mark
    bytes += "  7" + std::string(299, 'a') + "b" + "\x1A";
    const auto table = openBytes(bytes);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->fields()[1].length, 300);
    std::string r;
    ASSERT_TRUE(table->readRecord(0, r));
    EXPECT_EQ(table->value(r, 1).text, std::string(299, 'a') + "b");
    EXPECT_EQ(table->value(r, 0).number, 7);
}

TEST(DbfRead, CursorScansAndSeeksWithAnyBlockSize)
{
    std::vector<std::string> records;
    std::vector<bool> deleted;
    for (int i = 0; i < 100; ++i) {
        records.push_back(subscriberRecord(std::to_string(1000 + i), std::to_string(i % 7), "", "", "", "", "", "T", ""));
        deleted.push_back(i % 10 == 3);
    }
    const auto table = openBytes(handTable({}, subscriberFields(), records, deleted));
    ASSERT_TRUE(table);
    for (std::size_t blockBytes : {1, 65, 650, 64 * 1024}) {
        SCOPED_TRACE(blockBytes);
        DbfCursor cursor(*table, blockBytes);
        int n = 0;
        std::string error;
        while (cursor.next(&error)) {
            EXPECT_EQ(cursor.index(), static_cast<std::uint32_t>(n));
            EXPECT_EQ(cursor.value(0).text, std::to_string(1000 + n));
            EXPECT_EQ(cursor.value(1).number, n % 7);
            EXPECT_EQ(cursor.isDeleted(), n % 10 == 3);
            ++n;
        }
        EXPECT_TRUE(error.empty());
        EXPECT_EQ(n, 100);
        EXPECT_FALSE(cursor.next());
        for (std::uint32_t i : {99u, 0u, 57u, 58u, 13u}) {
            ASSERT_TRUE(cursor.seek(i));
            EXPECT_EQ(cursor.value(0).text, std::to_string(1000 + i));
        }
        EXPECT_FALSE(cursor.seek(100));
        EXPECT_TRUE(cursor.record().empty());
    }
}

}  // namespace
