// Case-insensitive name comparison: Latin, Cyrillic, and bytes that are not UTF-8.
#include "platform/text/CaseFold.h"
#include "platform/text/Utf8.h"

#include <gtest/gtest.h>

#include <tuple>

namespace peltra::platform {
namespace {

TEST(CaseFold, ComparesNamesLikeTheRegistry)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"Software", "SOFTWARE", true}, {"операторы", "ОпЕрАтОрЫ", true},
        {"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", true},
        {"Ёлка", "Елка", false},  // Ё and Е are different letters
        {"COM1", "COM1:", false}, {"Ґанок", "ґанок", true}, {"Її", "її", true},
        {"Straße", "STRASSE", false},  // no multi-letter folds
        {"äöü", "ÄÖÜ", true}, {"", "", true},
    };
    for (const auto& [a, b, same] : cases)
        EXPECT_EQ(equalsIgnoreCase(a, b), same) << a << " vs " << b;
}

TEST(CaseFold, KeepsInvalidBytesAndDigits)
{
    const std::string broken = "A\xFF\xC3z";  // stray byte and a cut sequence
    EXPECT_EQ(foldCase(broken), "A\xFF\xC3Z");
    EXPECT_EQ(foldCase("0001_x"), "0001_X");
}

TEST(Utf8, WidthCountsCharactersAndEachStrayByteOnce)
{
    EXPECT_EQ(utf8Width(""), 0u);
    EXPECT_EQ(utf8Width("Телефон"), 7u);
    EXPECT_EQ(utf8Width("Ёж 12"), 5u);
    EXPECT_EQ(utf8Width("a\xD0"), 2u);          // a truncated sequence at the end
    EXPECT_EQ(utf8Width("\xFF\xFE\x41"), 3u);  // bytes that begin no sequence
}

TEST(Utf8, ValidatesWellFormedSequencesOnly)
{
    EXPECT_TRUE(isValidUtf8("Привет, мир"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x93\x9E"));  // telephone receiver
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xD0"));             // cut
    EXPECT_FALSE(isValidUtf8("\xCF\xF0\xE8"));     // cp1251 bytes
}

}  // namespace
}  // namespace peltra::platform
