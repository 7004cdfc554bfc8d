// Template functions 0-13 on field texts, with the caller's preparation, and on hostile input.
#include "speech/TemplateFunctions.h"

#include "Spoken.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace peltra::speech {
namespace {

using test::codes;
using test::Codes;

constexpr CalendarDate kToday{7, 11};

Codes speak(unsigned number, std::string_view text, CalendarDate today = kToday)
{
    return test::spoken(text, [&](Codes& list, std::string_view t) { SpeakFunction(number, t, today, list); });
}

TEST(SpeakFunction, EachFunctionOnItsFields)
{
    const char* const phone = "_200|_030|_004|__PS|_050|_006|__PS|_070|_008";
    const struct {
        unsigned function;
        const char* input;
        const char* expected;
    } rows[] = {
        {0, "2345678", phone}, {1, "234-56-78", phone}, {2, "14:31", "_014|+CLW|_030|_01A|+MNA"},
        {8, "1005", "__PS|_001|__PS|_000|_000|_005"},
        // Dates come year first; a run of separators counts as one.
        {3, "2008-03-25", "_020|_E05|__PS|+T03"}, {4, "2008-03-25", "_020|_O05|__PS|+T03"},
        {3, "2008/12/31", "_030|_E01|__PS|+T12"}, {3, "  2008-03-25 10:30:00", "_020|_E05|__PS|+T03"},
        {3, "2008,3,5", "_E05|__PS|+T03"}, {3, "2008 - 03 - 25", "_020|_E05|__PS|+T03"},
        {3, "/2008/03/25/", "_020|_E05|__PS|+T03"},
        {3, "25.03.2008", "__PS|+T03"},  // a day-first text puts the year where the day is expected
        // Without three pieces a date field speaks today's date.
        {3, "25.03", "_E07|__PS|+T11"}, {4, "", "_O07|__PS|+T11"}, {3, "20080325", "_E07|__PS|+T11"},
        {4, "2008-03-", "_O07|__PS|+T11"},  // trailing separators add no empty piece
        // Sums; an empty field is zero of the currency.
        {7, "1251,32", "_01A|+13 |_200|_050|_01A|__PS|+GRA|_030|_02E|+SSI"}, {9, "21", "_020|_001|__PS|+RR "},
        {10, "0,01", "_001|+CNT"}, {13, "21,21", "_020|_001|__PS|+EUR|_020|_001|+CNT"}, {7, "", "_000|__PS|+GRE"},
        {9, "", "_000|__PS|+RRE"}, {10, "", "_000|__PS|+DLV"}, {13, "   ", "_000|__PS|+EUR"},
        // House and flat; an empty field or the blanks of a fixed-width column speak nothing.
        {11, "12А", "HOME|__PS|_012|___А"}, {12, "5/2", "FLAT|__PS|_005|___/|__PS|_002"}, {11, "    ", ""},
        {12, " \t ", ""},
        {11, "-", "HOME"},  // something in it keeps the lead word even when nothing of it is spoken
        {12, "1234567890", "FLAT"},
        // Functions without action.
        {5, "12", ""}, {6, "2008-03-25", ""}, {14, "12А", ""}, {4294967295u, "1251,32", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(speak(row.function, row.input), codes(row.expected)) << row.function << " on \"" << row.input << "\"";
    EXPECT_EQ(speak(3, "", {31, 12}), codes("_030|_E01|__PS|+T12"));

    PhraseList list = {"HELO"};
    SpeakFunction(11, "3", kToday, list);
    SpeakFunction(9, "", kToday, list);
    EXPECT_EQ(list, codes("HELO|HOME|__PS|_003|_000|__PS|+RRE")) << "appends after what is there";
}

// Megabyte fields return promptly; what small hostile fields speak is held to each function's
// vocabulary by the vocabulary's own test.
TEST(SpeakFunction, MegabyteFieldsReturnPromptly)
{
    constexpr std::size_t kSize = 1 << 20;
    std::string letters;
    std::string slashes;
    std::string mixed;
    while (letters.size() < kSize) {
        letters += "А";
        slashes += "1/";
    }
    for (std::size_t i = 0; mixed.size() < kSize; ++i)
        mixed += static_cast<char>((i * 7919 + 13) % 251 + 1);
    const std::string inputs[] = {std::string(kSize, '7'), std::string(kSize, ','), std::string(kSize, ' '), letters,
                                  mixed, slashes, "1," + std::string(kSize, '9')};
    const auto start = std::chrono::steady_clock::now();
    std::vector<Codes> results;
    for (unsigned function = 0; function <= 13; ++function) {
        for (const std::string& input : inputs)
            results.push_back(speak(function, input));
    }
    // A guard against work that grows with the square of the field, which would take hours here;
    // the limit leaves room for sanitizer builds on a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(90));
    const auto result = [&](unsigned function, std::size_t input) { return results[function * std::size(inputs) + input]; };
    EXPECT_EQ(result(0, 0), codes("_070|_007|__PS|_070|_007"));  // the phone keeps its last four
    EXPECT_EQ(result(2, 0), codes("_070|_007|+CLA|_070|_007|+MNT"));
    EXPECT_EQ(result(3, 0), codes("_E07|__PS|+T11"));
    EXPECT_EQ(result(7, 0), Codes{});  // too many digits for sums and groups
    EXPECT_EQ(result(8, 0), Codes{});
    EXPECT_EQ(result(11, 0), Codes{"HOME"});
    EXPECT_EQ(result(7, 1), codes("_000|__PS|+GRE"));
    EXPECT_EQ(result(11, 2), Codes{});
    EXPECT_EQ(result(11, 3).size(), 1 + kSize / 2);  // every letter spelled
    EXPECT_EQ(result(12, 5).size(), 1 + kSize / 2 * 3);  // every digit and slash
    EXPECT_EQ(result(9, 6), codes("_001|__PS|+RR "));  // a minor part far beyond 999
}

}  // namespace
}  // namespace peltra::speech
