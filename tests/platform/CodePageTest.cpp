// Code page conversions at the station's edges.
#include "platform/text/CodePage.h"

#include <gtest/gtest.h>

namespace peltra::platform {
namespace {

TEST(CodePage, ConvertsRussianTextBothWays)
{
    const std::string utf8 = "Нормально, Ёж, ёж";
    const auto cp1251 = fromUtf8(utf8, CodePage::Cp1251);
    ASSERT_TRUE(cp1251);
    EXPECT_EQ(*cp1251, "\xCD\xEE\xF0\xEC\xE0\xEB\xFC\xED\xEE, \xA8\xE6, \xB8\xE6");
    const auto cp866 = fromUtf8(utf8, CodePage::Cp866);
    ASSERT_TRUE(cp866);
    EXPECT_EQ(*cp866, "\x8D\xAE\xE0\xAC\xA0\xAB\xEC\xAD\xAE, \xF0\xA6, \xF1\xA6");
    EXPECT_EQ(toUtf8(*cp1251, CodePage::Cp1251), utf8);
    EXPECT_EQ(toUtf8(*cp866, CodePage::Cp866), utf8);
    EXPECT_EQ(convertCodePage(*cp866, CodePage::Cp866, CodePage::Cp1251), *cp1251);
}

TEST(CodePage, Utf16LeHasNoByteOrderMark)
{
    const auto utf16 = fromUtf8("Аб", CodePage::Utf16Le);
    ASSERT_TRUE(utf16);
    EXPECT_EQ(*utf16, std::string("\x10\x04\x31\x04", 4));
    EXPECT_EQ(toUtf8(*utf16, CodePage::Utf16Le), "Аб");
}

TEST(CodePage, FailsRatherThanGuesses)
{
    EXPECT_FALSE(fromUtf8("€ and ✓", CodePage::Cp866));        // no such characters in cp866
    EXPECT_FALSE(toUtf8("\xD0", CodePage::Utf8));               // not UTF-8 at all
    EXPECT_FALSE(toUtf8(std::string("\x10", 1), CodePage::Utf16Le));  // half a code unit
    EXPECT_EQ(toUtf8("", CodePage::Cp1251), "");
}

}  // namespace
}  // namespace peltra::platform
