// Code page conversions at the station's edges, against the code pages' published charts.
#include "platform/text/CodePage.h"

#include <gtest/gtest.h>

namespace peltra::platform {
namespace {

TEST(CodePage, ConvertsBothWaysByTheCharts)
{
    const struct {
        const char* utf8;
        CodePage page;
        std::string bytes;
    } cases[] = {
        {"Нормально, Ёж, ёж", CodePage::Cp1251, "\xCD\xEE\xF0\xEC\xE0\xEB\xFC\xED\xEE, \xA8\xE6, \xB8\xE6"},
        {"Нормально, Ёж, ёж", CodePage::Cp866, "\x8D\xAE\xE0\xAC\xA0\xAB\xEC\xAD\xAE, \xF0\xA6, \xF1\xA6"},
        {"ЄєЇїЎў°∙·√№", CodePage::Cp866, "\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC"},
        {"Аб", CodePage::Utf16Le, std::string("\x10\x04\x31\x04", 4)},  // no byte order mark
        {"", CodePage::Cp1251, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(fromUtf8(c.utf8, c.page), c.bytes);
        EXPECT_EQ(toUtf8(c.bytes, c.page), c.utf8);
    }
    EXPECT_EQ(convertCodePage(cases[1].bytes, CodePage::Cp866, CodePage::Cp1251), cases[0].bytes);
}

TEST(CodePage, FailsRatherThanGuesses)
{
    EXPECT_FALSE(fromUtf8("€ and ✓", CodePage::Cp866));              // no such characters in cp866
    EXPECT_FALSE(toUtf8("\xD0", CodePage::Utf8));                     // not UTF-8 at all
    EXPECT_FALSE(toUtf8(std::string("\x10", 1), CodePage::Utf16Le));  // half a code unit
}

}  // namespace
}  // namespace peltra::platform
