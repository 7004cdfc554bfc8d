// Template functions 0-13 on field texts, with the caller's preparation, and on hostile input.
#include "speech/TemplateFunctions.h"

#include "ExactText.h"
#include "platform/text/Utf8.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

namespace peltra::speech {
namespace {

using Codes = std::vector<std::string>;
using test::ExactText;

constexpr CalendarDate kToday{7, 11};

PhraseList speak(unsigned number, std::string_view text, CalendarDate today = kToday)
{
    PhraseList list;
    const ExactText exact(text);
    SpeakFunction(number, exact.view(), today, list);
    return list;
}

struct Row {
    unsigned function;
    const char* input;
    Codes expected;
};

void checkRows(const Row* rows, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(testing::Message() << i << ": function " << rows[i].function << " on \""
                                        << rows[i].input << "\"");
        EXPECT_EQ(speak(rows[i].function, rows[i].input), rows[i].expected);
    }
}

TEST(SpeakFunction, PhoneTimeDigitGroups)
{
    const Codes phone = {"_200", "_030", "_004", "__PS", "_050", "_006", "__PS", "_070", "_008"};
    const Row rows[] = {
        {0, "2345678", phone},
        {1, "2345678", phone},
        {0, "234-56-78", phone},
        {1, "", {}},
        {2, "14:31", {"_014", "+CLW", "_030", "_01A", "+MNA"}},
        {2, "09:02", {"_009", "+CLW", "_02E", "+MNI"}},
        {8, "1005", {"__PS", "_001", "__PS", "_000", "_000", "_005"}},
        {8, "1234567890", {}},
    };
    checkRows(rows, std::size(rows));
}

TEST(SpeakFunction, DateFieldsFromYearMonthDayText)
{
    const Row rows[] = {
        {3, "2008-03-25", {"_020", "_E05", "__PS", "+T03"}},
        {4, "2008-03-25", {"_020", "_O05", "__PS", "+T03"}},
        {3, "2008/12/31", {"_030", "_E01", "__PS", "+T12"}},
        {4, "2008.01.30", {"_O30", "__PS", "+T01"}},
        {3, "  2008-03-25  ", {"_020", "_E05", "__PS", "+T03"}},
        {3, "2008-03-25 10:30:00", {"_020", "_E05", "__PS", "+T03"}},  // a date with its time
        {3, "2008,3,5", {"_E05", "__PS", "+T03"}},
        // A run of separators counts as one.
        {3, "2008--03--25", {"_020", "_E05", "__PS", "+T03"}},
        {3, "2008 - 03 - 25", {"_020", "_E05", "__PS", "+T03"}},
        {3, "/2008/03/25/", {"_020", "_E05", "__PS", "+T03"}},
        // The year comes first: a day-first text puts the year where the day is expected.
        {3, "25.03.2008", {"__PS", "+T03"}},
        {3, "2008-13-32", {"__PS"}},
    };
    checkRows(rows, std::size(rows));
}

TEST(SpeakFunction, DateFieldWithoutThreePiecesSpeaksToday)
{
    const Codes todayFirst = {"_E07", "__PS", "+T11"};
    const Codes todaySecond = {"_O07", "__PS", "+T11"};
    const Row rows[] = {
        {3, "25.03", todayFirst},
        {4, "25.03", todaySecond},
        {3, "", todayFirst},
        {3, "   ", todayFirst},
        {3, "20080325", todayFirst},
        {3, "-/.,: ", todayFirst},
        {3, "2008--03", todayFirst},
        {3, "25.03.", todayFirst},  // trailing separators add no empty piece
        {4, "2008-03-", todaySecond},
    };
    checkRows(rows, std::size(rows));

    EXPECT_EQ(speak(3, "", {31, 12}), (Codes{"_030", "_E01", "__PS", "+T12"}));
    EXPECT_EQ(speak(4, "25.03", {25, 3}), (Codes{"_020", "_O05", "__PS", "+T03"}));
    EXPECT_EQ(speak(4, "", {1, 1}), (Codes{"_O01", "__PS", "+T01"}));
}

TEST(SpeakFunction, MoneyInFourCurrencies)
{
    const Row rows[] = {
        {7, "1251,32",
         {"_01A", "+13 ", "_200", "_050", "_01A", "__PS", "+GRA", "_030", "_02E", "+SSI"}},
        {9, "21", {"_020", "_001", "__PS", "+RR "}},
        {10, "0,01", {"_001", "+CNT"}},
        {13, "1", {"_001", "__PS", "+EUR"}},
        {13, "2", {"_002", "__PS", "+EUR"}},
        {13, "5", {"_005", "__PS", "+EUR"}},
        {13, "21,21", {"_020", "_001", "__PS", "+EUR", "_020", "_001", "+CNT"}},
        // An empty field is zero of the currency.
        {7, "", {"_000", "__PS", "+GRE"}},
        {9, "", {"_000", "__PS", "+RRE"}},
        {10, "", {"_000", "__PS", "+DLV"}},
        {13, "", {"_000", "__PS", "+EUR"}},
        {7, "   ", {"_000", "__PS", "+GRE"}},
    };
    checkRows(rows, std::size(rows));
}

TEST(SpeakFunction, HouseAndFlat)
{
    const Row rows[] = {
        {11, "12А", {"HOME", "__PS", "_012", "___А"}},
        {12, "5/2", {"FLAT", "__PS", "_005", "___/", "__PS", "_002"}},
        {11, "1 2", {"HOME", "__PS", "_012"}},
        {12, "7Л", {"FLAT", "__PS", "_007"}},
        {11, "", {}},
        {12, "", {}},
        // The blanks of an unfilled fixed-width column are no house number either.
        {11, "    ", {}},
        {12, " \t ", {}},
        // Text that has something in it keeps its lead word even when nothing of it is spoken.
        {11, "-", {"HOME"}},
        {12, "1234567890", {"FLAT"}},
    };
    checkRows(rows, std::size(rows));
}

TEST(SpeakFunction, FunctionsWithoutActionSpeakNothing)
{
    const char* const inputs[] = {"", "12", "2008-03-25", "12А", "1251,32"};
    const unsigned silent[] = {5, 6, 14, 15, 99, 1000, 4294967295u};
    for (const unsigned function : silent) {
        for (const char* input : inputs) {
            SCOPED_TRACE(testing::Message() << function << " " << input);
            EXPECT_EQ(speak(function, input), Codes{});
        }
    }
}

TEST(SpeakFunction, AppendsAfterWhatIsInTheList)
{
    PhraseList list = {"HELO"};
    SpeakFunction(11, "3", kToday, list);
    SpeakFunction(9, "", kToday, list);
    EXPECT_EQ(list, (Codes{"HELO", "HOME", "__PS", "_003", "_000", "__PS", "+RRE"}));
}

// Number of characters (code points) of a UTF-8 text, or 0 when it is not UTF-8.
std::size_t characterCount(std::string_view text)
{
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count) {
        char32_t cp = 0;
        const std::size_t length = platform::decodeUtf8(text, pos, cp);
        if (length == 0)
            return 0;
        pos += length;
    }
    return count;
}

// Whatever a field holds, every function returns and every entry is a four-character code.
TEST(SpeakFunction, HostileFieldsGiveOnlyWholeCodes)
{
    const std::string inputs[] = {
        "",
        " ",
        ",",
        ".",
        "/",
        "-/.,: ",
        ",,,...///---:::",
        "1234567890",
        "99999999999999999999,99999999999999999999",
        ",50",
        "1,,2..3",
        "А",
        "a",
        "Й",
        "\xFF\xFE",
        "\xD0",
        std::string("12\0" "34", 5),
        "-1",
        "1e10",
        "\t\r\n",
    };
    for (unsigned function = 0; function <= 14; ++function) {
        for (const std::string& input : inputs) {
            SCOPED_TRACE(testing::Message() << function << " on \"" << input << "\"");
            for (const std::string& code : speak(function, input))
                EXPECT_EQ(characterCount(code), 4u) << code;
        }
    }
}

TEST(SpeakFunction, MegabyteFieldsReturnPromptly)
{
    constexpr std::size_t kSize = 1 << 20;
    std::string letters;
    while (letters.size() < kSize)
        letters += "А";
    std::string mixed;
    for (std::size_t i = 0; mixed.size() < kSize; ++i)
        mixed += static_cast<char>((i * 7919 + 13) % 251 + 1);
    std::string slashes;
    while (slashes.size() < kSize)
        slashes += "1/";
    const std::string inputs[] = {
        std::string(kSize, '7'), std::string(kSize, ','), std::string(kSize, ' '), letters, mixed,
        slashes, "1," + std::string(kSize, '9'),
    };

    const auto start = std::chrono::steady_clock::now();
    std::vector<PhraseList> results;
    for (unsigned function = 0; function <= 13; ++function) {
        for (const std::string& input : inputs)
            results.push_back(speak(function, input));
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // A guard against work that grows with the square of the field, which would take hours here;
    // the limit leaves room for sanitizer builds on a loaded machine.
    EXPECT_LT(elapsed, std::chrono::seconds(90));

    // Digits: the phone keeps its last four, too many for groups or sums, and no date.
    const std::size_t perFunction = std::size(inputs);
    EXPECT_EQ(results[0 * perFunction], (Codes{"_070", "_007", "__PS", "_070", "_007"}));
    EXPECT_EQ(results[2 * perFunction], (Codes{"_070", "_007", "+CLA", "_070", "_007", "+MNT"}));
    EXPECT_EQ(results[3 * perFunction], (Codes{"_E07", "__PS", "+T11"}));
    EXPECT_EQ(results[7 * perFunction], Codes{});
    EXPECT_EQ(results[8 * perFunction], Codes{});
    EXPECT_EQ(results[11 * perFunction], Codes{"HOME"});
    // Separators or blanks only.
    EXPECT_EQ(results[7 * perFunction + 1], (Codes{"_000", "__PS", "+GRE"}));
    EXPECT_EQ(results[11 * perFunction + 2], Codes{});
    // Spelled letters, every one of them.
    EXPECT_EQ(results[11 * perFunction + 3].size(), 1 + kSize / 2);
    // A minor part far beyond 999 is left out.
    EXPECT_EQ(results[9 * perFunction + 6], (Codes{"_001", "__PS", "+RR "}));
}

TEST(Today, IsTheLocalDate)
{
    const std::time_t before = std::time(nullptr);
    const CalendarDate date = today();
    const std::time_t after = std::time(nullptr);
    std::tm local{};
    ASSERT_NE(localtime_r(&before, &local), nullptr);
    std::tm localAfter{};
    ASSERT_NE(localtime_r(&after, &localAfter), nullptr);
    const bool matchesBefore =
        date.day == unsigned(local.tm_mday) && date.month == unsigned(local.tm_mon + 1);
    const bool matchesAfter =
        date.day == unsigned(localAfter.tm_mday) && date.month == unsigned(localAfter.tm_mon + 1);
    EXPECT_TRUE(matchesBefore || matchesAfter);
    EXPECT_GE(date.day, 1u);
    EXPECT_LE(date.day, 31u);
    EXPECT_GE(date.month, 1u);
    EXPECT_LE(date.month, 12u);
}

}  // namespace
}  // namespace peltra::speech
