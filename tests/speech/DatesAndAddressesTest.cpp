// Dates, times of day and house or flat designations as phrase codes.
#include "speech/DatesAndAddresses.h"

#include "ExactText.h"
#include "platform/text/CodePage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltra::speech {
namespace {

using Codes = std::vector<std::string>;
using test::ExactText;

PhraseList date(std::string_view day, std::string_view month, bool secondSet)
{
    PhraseList list;
    const ExactText exactDay(day);
    const ExactText exactMonth(month);
    SayDate(list, exactDay.view(), exactMonth.view(), secondSet);
    return list;
}

PhraseList twoDigits(std::string_view text, bool feminine)
{
    PhraseList list;
    const ExactText exact(text);
    SayTwoDigits(list, exact.view(), feminine);
    return list;
}

PhraseList time(std::string_view text)
{
    PhraseList list;
    const ExactText exact(text);
    SayTime(list, exact.view());
    return list;
}

PhraseList address(std::string_view text)
{
    PhraseList list;
    const ExactText exact(text);
    SayAddress(list, exact.view());
    return list;
}

struct DateRow {
    const char* day;
    const char* month;
    Codes first;
    Codes second;
};

TEST(SayDate, DayOrdinalsInBothSetsThenMonth)
{
    const DateRow rows[] = {
        {"25", "03", {"_020", "_E05", "__PS", "+T03"}, {"_020", "_O05", "__PS", "+T03"}},
        {"31", "12", {"_030", "_E01", "__PS", "+T12"}, {"_030", "_O01", "__PS", "+T12"}},
        {"30", "01", {"_E30", "__PS", "+T01"}, {"_O30", "__PS", "+T01"}},
        {"1", "1", {"_E01", "__PS", "+T01"}, {"_O01", "__PS", "+T01"}},
        {"01", "02", {"_E01", "__PS", "+T02"}, {"_O01", "__PS", "+T02"}},
        {"09", "09", {"_E09", "__PS", "+T09"}, {"_O09", "__PS", "+T09"}},
        {"10", "10", {"_E10", "__PS", "+T10"}, {"_O10", "__PS", "+T10"}},
        {"11", "11", {"_E11", "__PS", "+T11"}, {"_O11", "__PS", "+T11"}},
        {"20", "04", {"_E20", "__PS", "+T04"}, {"_O20", "__PS", "+T04"}},
        {"21", "05", {"_020", "_E01", "__PS", "+T05"}, {"_020", "_O01", "__PS", "+T05"}},
        {"22", "06", {"_020", "_E02", "__PS", "+T06"}, {"_020", "_O02", "__PS", "+T06"}},
        {"29", "07", {"_020", "_E09", "__PS", "+T07"}, {"_020", "_O09", "__PS", "+T07"}},
        {"15", "08", {"_E15", "__PS", "+T08"}, {"_O15", "__PS", "+T08"}},
        {"05th", "3rd", {"_E05", "__PS", "+T03"}, {"_O05", "__PS", "+T03"}},
        // Out of range: the code is left out, the pause stays.
        {"0", "5", {"__PS", "+T05"}, {"__PS", "+T05"}},
        {"32", "13", {"__PS"}, {"__PS"}},
        {"25", "0", {"_020", "_E05", "__PS"}, {"_020", "_O05", "__PS"}},
        {"", "", {"__PS"}, {"__PS"}},
        {"abc", "x", {"__PS"}, {"__PS"}},
        {"99999999999999", "99999999999999", {"__PS"}, {"__PS"}},
        {" 5", " 5", {"__PS"}, {"__PS"}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].day << " " << rows[i].month);
        EXPECT_EQ(date(rows[i].day, rows[i].month, false), rows[i].first);
        EXPECT_EQ(date(rows[i].day, rows[i].month, true), rows[i].second);
    }
}

struct TwoDigitRow {
    const char* input;
    bool feminine;
    Codes expected;
};

TEST(SayTwoDigits, ZeroDigitOrTens)
{
    const TwoDigitRow rows[] = {
        {"00", false, {"_000"}},
        {"05", false, {"_005"}},
        {"01", false, {"_001"}},
        {"01", true, {"_01A"}},
        {"02", true, {"_02E"}},
        {"10", false, {"_010"}},
        {"21", true, {"_020", "_01A"}},
        {"99", false, {"_090", "_009"}},
        {"123", false, {"_012"}},  // only the first two characters count
        {"5", false, {"_005"}},
        {"", false, {"_000"}},
        {"a5", false, {"_000"}},
        // A single digit before a non-digit still speaks the digit whose value was taken.
        {"9:", false, {"_009"}},
        {"2 ", true, {"_02E"}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(twoDigits(rows[i].input, rows[i].feminine), rows[i].expected);
    }
}

struct TextRow {
    const char* input;
    Codes expected;
};

TEST(SayTime, WorkedExamples)
{
    const TextRow rows[] = {
        {"14:31", {"_014", "+CLW", "_030", "_01A", "+MNA"}},
        {"09:02", {"_009", "+CLW", "_02E", "+MNI"}},
        {"00:00", {"_000", "+CLW", "_000", "+MNT"}},
        {"21:22", {"_020", "_001", "+CLC", "_020", "_02E", "+MNI"}},
        {"11:11", {"_011", "+CLW", "_011", "+MNT"}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(time(rows[i].input), rows[i].expected);
    }
}

TEST(SayTime, HourWords)
{
    const TextRow rows[] = {
        {"01:00", {"_001", "+CLC", "_000", "+MNT"}},
        {"02:00", {"_002", "+CLA", "_000", "+MNT"}},
        {"03:00", {"_003", "+CLA", "_000", "+MNT"}},
        {"04:00", {"_004", "+CLA", "_000", "+MNT"}},
        {"05:00", {"_005", "+CLW", "_000", "+MNT"}},
        {"10:00", {"_010", "+CLW", "_000", "+MNT"}},
        {"12:00", {"_012", "+CLW", "_000", "+MNT"}},
        {"20:00", {"_020", "+CLW", "_000", "+MNT"}},
        {"21:00", {"_020", "_001", "+CLC", "_000", "+MNT"}},
        {"22:00", {"_020", "_002", "+CLA", "_000", "+MNT"}},
        {"23:00", {"_020", "_003", "+CLA", "_000", "+MNT"}},
        {"24:00", {"_020", "_004", "+CLA", "_000", "+MNT"}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(time(rows[i].input), rows[i].expected);
    }
}

TEST(SayTime, MinuteWordsWithFeminineOneAndTwo)
{
    const TextRow rows[] = {
        {"10:01", {"_010", "+CLW", "_01A", "+MNA"}},
        {"10:02", {"_010", "+CLW", "_02E", "+MNI"}},
        {"10:04", {"_010", "+CLW", "_004", "+MNI"}},
        {"10:05", {"_010", "+CLW", "_005", "+MNT"}},
        {"10:11", {"_010", "+CLW", "_011", "+MNT"}},
        {"10:12", {"_010", "+CLW", "_012", "+MNT"}},
        {"10:20", {"_010", "+CLW", "_020", "+MNT"}},
        {"10:21", {"_010", "+CLW", "_020", "_01A", "+MNA"}},
        {"10:22", {"_010", "+CLW", "_020", "_02E", "+MNI"}},
        {"10:24", {"_010", "+CLW", "_020", "_004", "+MNI"}},
        {"10:25", {"_010", "+CLW", "_020", "_005", "+MNT"}},
        {"10:30", {"_010", "+CLW", "_030", "+MNT"}},
        {"10:41", {"_010", "+CLW", "_040", "_01A", "+MNA"}},
        {"10:59", {"_010", "+CLW", "_050", "_009", "+MNT"}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(time(rows[i].input), rows[i].expected);
    }
}

TEST(SayTime, OtherShapesUseFirstAndLastTwoCharacters)
{
    const TextRow rows[] = {
        {"1431", {"_014", "+CLW", "_030", "_01A", "+MNA"}},
        {"9:30", {"_009", "+CLW", "_030", "+MNT"}},         // one-digit hour keeps its digit
        {"9:05", {"_009", "+CLW", "_005", "+MNT"}},
        {"12:30:45", {"_012", "+CLW", "_040", "_005", "+MNT"}},  // last two are the seconds
        {"5", {"_005", "+CLW", "_005", "+MNT"}},
        {"", {"_000", "+CLW", "_000", "+MNT"}},
        {"ab:cd", {"_000", "+CLW", "_000", "+MNT"}},
        {" 14:31", {"_000", "+CLW", "_030", "_01A", "+MNA"}},
        {"99:99", {"_090", "_009", "+CLA", "_090", "_009", "+MNT"}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(time(rows[i].input), rows[i].expected);
    }
}

TEST(SayAddress, NumbersSlashAndLetters)
{
    const TextRow rows[] = {
        {"12А", {"__PS", "_012", "___А"}},
        {"12а", {"__PS", "_012", "___А"}},  // lower case speaks the same letter
        {"5/2", {"__PS", "_005", "___/", "__PS", "_002"}},
        {"1 2", {"__PS", "_012"}},       // a blank does not break the number
        {"12-14", {"__PS", "_001", "__PS", "_200", "_014"}},
        {"7Л", {"__PS", "_007"}},        // a letter after Й is not spelled
        {"7Й", {"__PS", "_007"}},
        {"7й", {"__PS", "_007"}},
        {"7Л8", {"__PS", "_070", "_008"}},       // and does not break the number either
        {"12A", {"__PS", "_012"}},       // Latin letters are not spelled
        {"12Ё", {"__PS", "_012"}},
        {"  12А  ", {"__PS", "_012", "___А"}},
        {"12А/3б", {"__PS", "_012", "___А", "___/", "__PS", "_003", "___Б"}},
        {"А", {"___А"}},
        {"/", {"___/"}},
        {"//", {"___/", "___/"}},
        {"012", {"__PS", "_000", "_012"}},
        {"1005", {"__PS", "_001", "__PS", "_000", "_000", "_005"}},
        {"1234567890", {}},  // beyond the limit of digit groups
        {"1234567890/5", {"___/", "__PS", "_005"}},
        {"1\xC0" "2", {"__PS", "_012"}},  // a byte that is not UTF-8 is skipped
        {"1\xD0", {"__PS", "_001"}},      // so is a sequence cut short at the end
        {"", {}},
        {"   ", {}},
        {"-.,", {}},
        {"Л", {}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(address(rows[i].input), rows[i].expected);
    }
}

TEST(SayAddress, TenLettersInEitherCase)
{
    const char* const upper[] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З", "И", "К"};
    const char* const lower[] = {"а", "б", "в", "г", "д", "е", "ж", "з", "и", "к"};
    for (std::size_t i = 0; i < std::size(upper); ++i) {
        SCOPED_TRACE(upper[i]);
        const Codes expected = {"__PS", "_003", std::string("___") + upper[i]};
        EXPECT_EQ(address(std::string("3") + upper[i]), expected);
        EXPECT_EQ(address(std::string("3") + lower[i]), expected);
    }
}

// Tables come in either Cyrillic code page; once decoded, a house letter is recognised whichever
// one its table used.
TEST(SayAddress, LettersFromTablesInEitherCodePage)
{
    const char* const letters[] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З", "И", "К"};
    const unsigned char spelled[4][10] = {
        {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xCA},  // cp1251 upper
        {0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xEA},  // cp1251 lower
        {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x8A},  // cp866 upper
        {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xAA},  // cp866 lower
    };
    const platform::CodePage pages[4] = {platform::CodePage::Cp1251, platform::CodePage::Cp1251,
                                         platform::CodePage::Cp866, platform::CodePage::Cp866};
    for (std::size_t row = 0; row < 4; ++row) {
        for (std::size_t i = 0; i < 10; ++i) {
            SCOPED_TRACE(testing::Message() << "row " << row << " byte " << int(spelled[row][i]));
            const std::string raw = {'4', static_cast<char>(spelled[row][i])};
            const auto decoded = platform::toUtf8(raw, pages[row]);
            ASSERT_TRUE(decoded.has_value());
            const Codes expected = {"__PS", "_004", std::string("___") + letters[i]};
            EXPECT_EQ(address(*decoded), expected);
        }
    }

    struct Unspelled {
        unsigned char byte;
        platform::CodePage page;
    };
    const Unspelled others[] = {
        {0xC9, platform::CodePage::Cp1251},  // Й
        {0xE9, platform::CodePage::Cp1251},  // й
        {0x89, platform::CodePage::Cp866},   // Й
        {0xA9, platform::CodePage::Cp866},   // й
        {0xCB, platform::CodePage::Cp1251},  // Л
        {0xDF, platform::CodePage::Cp1251},  // Я
        {0xA8, platform::CodePage::Cp1251},  // Ё
        {0x8B, platform::CodePage::Cp866},   // Л
        {0xF0, platform::CodePage::Cp866},   // Ё
        {0xEF, platform::CodePage::Cp866},   // я
    };
    for (const Unspelled& other : others) {
        SCOPED_TRACE(int(other.byte));
        const std::string raw = {'4', static_cast<char>(other.byte), '5'};
        const auto decoded = platform::toUtf8(raw, other.page);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(address(*decoded), (Codes{"__PS", "_040", "_005"}));
    }
}

}  // namespace
}  // namespace peltra::speech
