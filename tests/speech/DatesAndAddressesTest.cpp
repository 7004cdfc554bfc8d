// Dates, times of day and house or flat designations as phrase codes.
#include "speech/DatesAndAddresses.h"

#include "Spoken.h"
#include "platform/text/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace peltra::speech {
namespace {

using test::codes;
using test::Codes;

struct Row {
    const char* input;
    const char* expected;
};

TEST(SayDate, DayOrdinalsInBothSetsThenMonth)
{
    // Day, month, the codes of the first set; the second set has "_O" where the first has "_E".
    const struct {
        const char* day;
        const char* month;
        const char* expected;
    } rows[] = {
        {"25", "03", "_020|_E05|__PS|+T03"}, {"31", "12", "_030|_E01|__PS|+T12"}, {"30", "01", "_E30|__PS|+T01"},
        {"1", "1", "_E01|__PS|+T01"},        {"09", "09", "_E09|__PS|+T09"},      {"11", "11", "_E11|__PS|+T11"},
        {"20", "04", "_E20|__PS|+T04"},      {"21", "05", "_020|_E01|__PS|+T05"}, {"22", "06", "_020|_E02|__PS|+T06"},
        {"29", "07", "_020|_E09|__PS|+T07"}, {"15", "10", "_E15|__PS|+T10"},      {"05th", "3rd", "_E05|__PS|+T03"},
        // Out of range: the code is left out, the pause stays.
        {"0", "5", "__PS|+T05"},             {"32", "13", "__PS"},                {"25", "0", "_020|_E05|__PS"},
        {"", "", "__PS"},                    {"99999999999999", "x", "__PS"},     {" 5", " 5", "__PS"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.day << " " << row.month);
        std::string second = row.expected;
        for (std::size_t at = second.find("_E"); at != std::string::npos; at = second.find("_E", at))
            second[at + 1] = 'O';
        for (const bool secondSet : {false, true}) {
            const test::ExactText month(row.month);
            EXPECT_EQ(test::spoken(row.day, [&](Codes& l, std::string_view d) { SayDate(l, d, month.view(), secondSet); }),
                      codes(secondSet ? second : row.expected));
        }
    }
}

TEST(SayTwoDigits, ZeroDigitOrTens)
{
    const Row rows[] = {
        {"00", "_000"}, {"05", "_005"}, {"01f", "_01A"}, {"02f", "_02E"}, {"10", "_010"}, {"21f", "_020|_01A"},
        {"123", "_012"},  // only the first two characters count
        {"5", "_005"},  {"", "_000"},   {"a5", "_000"},
        // A single digit before a non-digit still speaks the digit whose value was taken.
        {"9:", "_009"}, {"2 f", "_02E"},
    };
    for (const Row& row : rows) {
        std::string_view text = row.input;
        const bool feminine = text.ends_with('f');
        if (feminine)
            text.remove_suffix(1);
        EXPECT_EQ(test::spoken(text, [&](Codes& l, std::string_view t) { SayTwoDigits(l, t, feminine); }),
                  codes(row.expected))
            << row.input;
    }
}

TEST(SayTime, HoursAndMinutesWithTheirWords)
{
    const Row rows[] = {
        {"14:31", "_014|+CLW|_030|_01A|+MNA"}, {"09:02", "_009|+CLW|_02E|+MNI"}, {"00:00", "_000|+CLW|_000|+MNT"},
        {"11:11", "_011|+CLW|_011|+MNT"},
        // The hour's word after 1, 2-4 and the rest.
        {"01:00", "_001|+CLC|_000|+MNT"}, {"02:10", "_002|+CLA|_010|+MNT"}, {"04:12", "_004|+CLA|_012|+MNT"},
        {"05:14", "_005|+CLW|_014|+MNT"}, {"12:20", "_012|+CLW|_020|+MNT"}, {"20:04", "_020|+CLW|_004|+MNI"},
        {"21:22", "_020|_001|+CLC|_020|_02E|+MNI"}, {"23:05", "_020|_003|+CLA|_005|+MNT"},
        {"24:21", "_020|_004|+CLA|_020|_01A|+MNA"}, {"10:25", "_010|+CLW|_020|_005|+MNT"},
        {"10:41", "_010|+CLW|_040|_01A|+MNA"}, {"10:59", "_010|+CLW|_050|_009|+MNT"},
        // Other shapes: the first and the last two characters.
        {"1431", "_014|+CLW|_030|_01A|+MNA"},
        {"9:30", "_009|+CLW|_030|+MNT"},  // one-digit hour keeps its digit
        {"12:30:45", "_012|+CLW|_040|_005|+MNT"}, {"5", "_005|+CLW|_005|+MNT"}, {"", "_000|+CLW|_000|+MNT"},
        {" 14:31", "_000|+CLW|_030|_01A|+MNA"}, {"99:99", "_090|_009|+CLA|_090|_009|+MNT"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(test::spoken(row.input, SayTime), codes(row.expected)) << row.input;
}

TEST(SayAddress, NumbersSlashAndLetters)
{
    const Row rows[] = {
        {"12А", "__PS|_012|___А"},
        {"12а", "__PS|_012|___А"},  // lower case speaks the same letter
        {"5/2", "__PS|_005|___/|__PS|_002"},
        {"1 2", "__PS|_012"},  // a blank does not break the number
        {"12-14", "__PS|_001|__PS|_200|_014"},
        {"7Й", "__PS|_007"},  // Й and the letters after К are not spelled
        {"7й", "__PS|_007"},
        {"7Л8", "__PS|_070|_008"},  // and do not break the number either
        {"12A", "__PS|_012"},       // Latin letters are not spelled
        {"  12А  ", "__PS|_012|___А"}, {"12А/3б", "__PS|_012|___А|___/|__PS|_003|___Б"},
        {"//", "___/|___/"},
        {"012", "__PS|_000|_012"},
        {"1234567890", ""},  // beyond the limit of digit groups
        {"1234567890/5", "___/|__PS|_005"},
        {"1\xC0" "2", "__PS|_012"},  // a byte that is not UTF-8 is skipped
        {"1\xD0", "__PS|_001"},      // so is a sequence cut short at the end
        {"   ", ""}, {"Л", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(test::spoken(row.input, SayAddress), codes(row.expected)) << row.input;
}

// The whole Cyrillic alphabet in either case, as tables of either code page reach us once decoded:
// the first ten capitals but Й (А-И and К) are spelled as their capital, every other letter is skipped.
TEST(SayAddress, OnlyTheFirstTenCapitalsButShortIAreSpelledInEitherCase)
{
    const std::u32string alphabet = U"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
    const std::string spelled[] = {"А", "Б", "В", "Г", "Д", "Е", "", "Ж", "З", "И", "", "К"};
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        const char32_t small = alphabet[i] == U'Ё' ? U'ё' : static_cast<char32_t>(alphabet[i] + 0x20);
        for (const char32_t letter : {alphabet[i], small}) {
            std::string text = "4";
            platform::encodeUtf8(letter, text);
            text += "5";
            const std::string capital = i < std::size(spelled) ? spelled[i] : "";
            const Codes expected = capital.empty() ? codes("__PS|_040|_005") : codes("__PS|_004|___" + capital + "|__PS|_005");
            EXPECT_EQ(test::spoken(text, SayAddress), expected) << text;
        }
    }
}

}  // namespace
}  // namespace peltra::speech
