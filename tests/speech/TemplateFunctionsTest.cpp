// Template functions 0-13 and what they speak (numbers, sums against a reference written from the
// counting rules, dates, times, addresses) on field texts and hostile input, and their vocabulary.
#include "speech/TemplateFunctions.h"

#include "platform/text/Utf8.h"
#include "speech/Catalogue.h"
#include "speech/DatesAndAddresses.h"
#include "speech/Numbers.h"
#include "speech/Vocabulary.h"
#include "support/SpeechReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <chrono>
#include <climits>
#include <cstdio>
#include <map>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace peltra::speech {
namespace {

using Codes = std::vector<std::string>;

// An exactly sized heap copy of a text: under the address sanitizer a read beyond it stops the test.
struct ExactText {
    explicit ExactText(std::string_view text) : bytes(text.begin(), text.end()) {}
    std::string_view view() const { return {bytes.data(), bytes.size()}; }
    std::vector<char> bytes;
};

// "_01A|+13 |__PS" as its codes; codes keep their blanks, an empty text is no code at all.
Codes codes(std::string_view text)
{
    Codes list;
    for (std::size_t from = 0; !text.empty() && from <= text.size();) {
        const std::size_t bar = std::min(text.find('|', from), text.size());
        list.emplace_back(text.substr(from, bar - from));
        from = bar + 1;
    }
    return list;
}

// Runs a converter over an exactly sized copy of the text.
template <typename Convert>
Codes spoken(std::string_view text, Convert convert)
{
    Codes list;
    convert(list, ExactText(text).view());
    return list;
}

using Row = std::pair<const char*, const char*>;  // input, expected codes

constexpr CalendarDate kToday{7, 11};

Codes speak(unsigned number, std::string_view text, CalendarDate today = kToday)
{
    return spoken(text, [&](Codes& list, std::string_view t) { SpeakFunction(number, t, today, list); });
}

TEST(SpeakFunction, EachFunctionOnItsFields)
{
    const char* const phone = "_200|_030|_004|__PS|_050|_006|__PS|_070|_008";
    const std::tuple<unsigned, const char*, const char*> rows[] = {
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
    for (const auto& [function, input, expected] : rows)
        EXPECT_EQ(speak(function, input), codes(expected)) << function << " on \"" << input << "\"";
    EXPECT_EQ(speak(3, "", {31, 12}), codes("_030|_E01|__PS|+T12"));

}

// Megabyte fields return promptly; what small hostile fields speak is the vocabulary test's.
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
    // Quadratic work would take hours; the limit leaves room for sanitizer builds on a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(90));
    const auto result = [&](unsigned function, std::size_t input) { return results[function * std::size(inputs) + input]; };
    // The phone keeps its last four; too many digits for sums and groups; a minor part far beyond 999.
    for (const auto& [function, input, expected] : {std::tuple{0u, 0u, "_070|_007|__PS|_070|_007"}, {2u, 0u, "_070|_007|+CLA|_070|_007|+MNT"},
                                                    {3u, 0u, "_E07|__PS|+T11"}, {7u, 0u, ""}, {8u, 0u, ""}, {11u, 0u, "HOME"},
                                                    {7u, 1u, "_000|__PS|+GRE"}, {11u, 2u, ""}, {9u, 6u, "_001|__PS|+RR "}})
        EXPECT_EQ(result(function, input), codes(expected)) << function << " " << input;
    EXPECT_EQ(result(11, 3).size(), 1 + kSize / 2);  // every letter spelled
    EXPECT_EQ(result(12, 5).size(), 1 + kSize / 2 * 3);  // every digit and slash
}



TEST(SayDate, DayOrdinalsInBothSetsThenMonth)
{
    // Day, month, the codes of the first set; the second set has "_O" where the first has "_E".
    const std::array<const char*, 3> rows[] = {
        {"25", "03", "_020|_E05|__PS|+T03"}, {"31", "12", "_030|_E01|__PS|+T12"}, {"30", "01", "_E30|__PS|+T01"},
        {"1", "1", "_E01|__PS|+T01"},        {"09", "09", "_E09|__PS|+T09"},      {"11", "11", "_E11|__PS|+T11"},
        {"20", "04", "_E20|__PS|+T04"},      {"21", "05", "_020|_E01|__PS|+T05"}, {"22", "06", "_020|_E02|__PS|+T06"},
        {"29", "07", "_020|_E09|__PS|+T07"}, {"15", "10", "_E15|__PS|+T10"},      {"05th", "3rd", "_E05|__PS|+T03"},
        // Out of range: the code is left out, the pause stays.
        {"0", "5", "__PS|+T05"},             {"32", "13", "__PS"},                {"25", "0", "_020|_E05|__PS"},
        {"", "", "__PS"},                    {"99999999999999", "x", "__PS"},     {" 5", " 5", "__PS"},
    };
    for (const auto& [day, monthText, first] : rows) {
        SCOPED_TRACE(testing::Message() << day << " " << monthText);
        std::string second = first;
        for (std::size_t at = second.find("_E"); at != std::string::npos; at = second.find("_E", at))
            second[at + 1] = 'O';
        for (const bool secondSet : {false, true}) {
            const ExactText month(monthText);
            EXPECT_EQ(spoken(day, [&](Codes& l, std::string_view d) { SayDate(l, d, month.view(), secondSet); }),
                      codes(secondSet ? second : first));
        }
    }
}



// The converters of one text, each on its rows. SayTime: each half is two characters spoken as a digit
// or tens (so no separate test of SayTwoDigits).
TEST(TextConverters, EachOnItsRows)
{
    using Convert = void (*)(PhraseList&, std::string_view);
    const std::pair<Convert, std::vector<Row>> tables[] = {
        {SayTime, {
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
        }},
        // Blanks, unspelled letters and bytes that are not UTF-8 do not break the number; ten digits say nothing.
        {SayAddress, {
            {"12А", "__PS|_012|___А"}, {"5/2", "__PS|_005|___/|__PS|_002"}, {"1 2", "__PS|_012"},
            {"12-14", "__PS|_001|__PS|_200|_014"}, {"7Л8", "__PS|_070|_008"}, {"12A", "__PS|_012"},
            {"  12А  ", "__PS|_012|___А"}, {"12А/3б", "__PS|_012|___А|___/|__PS|_003|___Б"}, {"//", "___/|___/"},
            {"012", "__PS|_000|_012"}, {"1234567890", ""}, {"1234567890/5", "___/|__PS|_005"},
            {"1\xC0" "2", "__PS|_012"}, {"1\xD0", "__PS|_001"}, {"   ", ""}, {"Л", ""},
        }},
        {SayDigitGroups, {
            {"1005", "__PS|_001|__PS|_000|_000|_005"}, {"0", "__PS|_000"}, {"000", "__PS|_000|_000|_000"},
            {"050", "__PS|_000|_050"},
            {"21", "__PS|_020|_001"},  // always masculine
            {"1000", "__PS|_001|__PS|_000|_000|_000"},
            {"123456789", "__PS|_100|_020|_003|__PS|_400|_050|_006|__PS|_700|_080|_009"},
            {"12 34-5", "__PS|_012|__PS|_300|_040|_005"},  // non-digits dropped
            {"№ 0012", "__PS|_000|__PS|_000|_012"},
            {"1234567890", ""},  // more than nine digits
            {"12345-67890", ""}, {"", ""}, {" -/., ", ""},
        }},
        {SayPhone, {
            {"7", "_007"},
            {"0", ""},  // a lone 0 speaks nothing
            {"00", "_000|_000"},
            {"21", "_020|_001"},  // always masculine
            {"105", "_001|__PS|_000|_005"}, {"023", "_000|__PS|_020|_003"}, {"1234", "_012|__PS|_030|_004"},
            {"12345", "_001|__PS|_020|_003|__PS|_040|_005"}, {"01234", "_000|__PS|_012|__PS|_030|_004"},
            {"450105", "_040|_005|__PS|_000|_001|__PS|_000|_005"},
            {"234-56-78", "_200|_030|_004|__PS|_050|_006|__PS|_070|_008"},
            {"0234567", "_020|_003|__PS|_040|_005|__PS|_060|_007"}, {"0004567", "__PS|_040|_005|__PS|_060|_007"},
            {"12345678", "_050|_006|__PS|_070|_008"},  // 8+ digits: the last four
            {"+7 (812) 234-56-78", "_050|_006|__PS|_070|_008"}, {"тел.", ""},
        }},
        // Digit strings of exact length; "f" marks the feminine.
        {[](PhraseList& l, std::string_view t) { SayTens(l, t.substr(0, t.size() - t.ends_with('f')), t.ends_with('f')); }, {
            {"00", "_000|_000"}, {"05", "_000|_005"}, {"01f", "_000|_01A"}, {"02f", "_000|_02E"}, {"10", "_010"},
            {"11f", "_011"},     {"19", "_019"},      {"21f", "_020|_01A"}, {"32f", "_030|_02E"}, {"99", "_090|_009"},
            {"", ""},            {"1", ""},           {"123", ""},          {"a5", ""},           {"5a", ""},
            {" 5", ""},          {"0:", ""},
        }},
        {[](PhraseList& l, std::string_view t) { SayHundreds(l, t.substr(0, t.size() - t.ends_with('f')), t.ends_with('f')); }, {
            {"105", "_100|_005"}, {"101f", "_100|_01A"}, {"000", ""},      {"005", "_005"},      {"023", "_020|_003"},
            {"12", ""},           {"1234", ""},          {"1a5", ""},      {"-12", ""},
        }},
    };
    for (const auto& [convert, rows] : tables)
        for (const auto& [input, expected] : rows)
            EXPECT_EQ(spoken(input, convert), codes(expected)) << input;
}

// The whole Cyrillic alphabet in either case: А-И and К are spelled as their capital, the rest skipped.
TEST(SayAddress, OnlyTheFirstTenCapitalsButShortIAreSpelledInEitherCase)
{
    const std::u32string alphabet = U"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
    const std::string spelled[] = {"А", "Б", "В", "Г", "Д", "Е", "", "Ж", "З", "И", "", "К"};
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        const char32_t small = alphabet[i] == U'Ё' ? U'ё' : static_cast<char32_t>(alphabet[i] + 0x20);
        for (const char32_t letter : {alphabet[i], small}) {
            std::string text = "4";
            platform::encodeUtf8(letter, text);
            const std::string capital = i < std::size(spelled) ? spelled[i] : "";
            EXPECT_EQ(spoken(text + "5", SayAddress),
                      codes(capital.empty() ? "__PS|_040|_005" : "__PS|_004|___" + capital + "|__PS|_005")) << text;
        }
    }
}


// Names and uniqueness are held by installing the catalogue (the lexicon tests); here what the install cannot see.
TEST(VocabularyTest, WordsAreOrdinaryCodesInOneRunPerGroup)
{
    std::vector<std::string_view> groupOrder;
    bool pause = false;
    for (const VocabularyWord& word : converterVocabulary()) {
        EXPECT_TRUE(word.code[0] != '@' && word.code[0] != '#' && word.code != kDeliveryMarker) << word.code;
        pause = pause || word.code == kPause;
        // Each group is one run, so the catalogue shows its folders in the order given.
        if (groupOrder.empty() || groupOrder.back() != word.group) {
            EXPECT_EQ(std::count(groupOrder.begin(), groupOrder.end(), word.group), 0) << word.group << " is split";
            groupOrder.push_back(word.group);
        }
    }
    EXPECT_TRUE(pause);
}

std::string twoDigits(unsigned v)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02u", v % 100);
    return text;
}

// Field texts of every shape a table holds, hostile ones among them; every function gets them all.
std::vector<std::string> fields()
{
    std::vector<std::string> fields = {"", " ", "abc", "-5", "00", "\xFF\xFE", "\xD0", ",,,...///---:::", "1,,2..3",
                                       std::string("12\0" "34", 5), "1e10", "\t\r\n", "99999999999999999999,99"};
    for (unsigned v = 0; v <= 99999; v += 11)
        fields.push_back(std::to_string(v));
    for (const char* v : {"100000", "999999", "1000000", "1000001", "2000000", "5000000", "21999999", "123456789",
                          "999999999", "1000000000", "4294967296", "007", "0000", "1 000 000", "2 000 001,01"})
        fields.emplace_back(v);
    for (unsigned length = 1; length <= 12; ++length) {
        for (const char* digits : {"0123456789", "9876543210", "1111111111", "2020202020", "1357913579"}) {
            std::string phone;
            while (phone.size() < length)
                phone += digits;
            fields.push_back(phone.substr(0, length));
            fields.push_back(phone.substr(0, length).insert(length / 2, "-"));
        }
    }
    for (unsigned v = 0; v < 1000; ++v)
        fields.push_back(std::to_string(v) + "6789");
    for (unsigned h = 0; h < 25; ++h)
        for (unsigned m = 0; m < 60; ++m)
            fields.push_back(twoDigits(h) + ":" + twoDigits(m));
    for (const char* t : {"9:30", "99:99", "60:70", "85:80", "100:100", "12:5", "10:30:45"})
        fields.emplace_back(t);
    for (unsigned month = 0; month <= 13; ++month)
        for (unsigned day = 0; day <= 32; ++day)
            fields.push_back("2024-" + twoDigits(month) + "-" + twoDigits(day));
    for (unsigned v = 0; v <= 99999; v += 97)
        for (const char* minor : {",01", ",1", ",02", ",21", ",5", ",11", ",99", ".50"})
            fields.push_back(std::to_string(v) + minor);
    const char* letters[] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З", "И", "К", "а", "б", "в", "г", "д", "е", "ж", "з", "и", "к", "Л", "Z"};
    for (unsigned v = 0; v <= 2000; v += 3) {
        fields.push_back(std::to_string(v) + letters[v % 22]);
        fields.push_back(std::to_string(v) + "/" + std::to_string(v % 17) + " корп. " + letters[(v / 3) % 22]);
    }
    return fields;
}

// The library check relies on this: a function speaks no code outside its vocabulary, every code of it
// for some field, and every converter word belongs to some function.
TEST(VocabularyTest, EachFunctionSpeaksExactlyItsVocabulary)
{
    std::set<std::string_view> words;
    for (const VocabularyWord& word : converterVocabulary())
        words.insert(word.code);
    std::set<std::string_view> reachable;
    const CalendarDate days[] = {{1, 1}, {31, 12}, {20, 6}};
    const std::vector<std::string> all = fields();
    for (unsigned function = 0; function <= 15; ++function) {
        SCOPED_TRACE("function " + std::to_string(function));
        const auto vocabulary = functionVocabulary(function);
        const std::set<std::string> listed(vocabulary.begin(), vocabulary.end());
        EXPECT_EQ(listed.size(), vocabulary.size()) << "a code listed twice";
        EXPECT_EQ(vocabulary.empty(), function == 5 || function == 6 || function > 13);
        std::map<std::string, std::string> spoken;  // every code spoken, with one field that speaks it
        for (const std::string& field : all) {
            // Only the dates speak today's date.
            for (const CalendarDate& today : std::span(days).first(function == 3 || function == 4 ? 3 : 1)) {
                PhraseList list;
                SpeakFunction(function, field, today, list);
                for (const std::string& code : list)
                    spoken.emplace(code, field);
            }
        }
        for (const auto& [code, field] : spoken)
            EXPECT_TRUE(listed.count(code)) << "\"" << code << "\" spoken for \"" << field << "\"";
        for (const std::string_view code : vocabulary) {
            EXPECT_TRUE(spoken.count(std::string(code))) << "\"" << code << "\" is never spoken";
            EXPECT_TRUE(words.count(code)) << code;
            reachable.insert(code);
        }
    }
    EXPECT_EQ(reachable, words) << "a converter word no function speaks";
}



using test::CurrencyRule;

// The whole part written as a table may hold it: plain, or in groups of three parted by blanks.
std::string moneyText(unsigned whole, unsigned minor, bool grouped, char separator)
{
    std::string text = std::to_string(whole);
    if (grouped) {
        for (std::size_t at = text.size(); at > 3; at -= 3)
            text.insert(at - 3, " ");
    }
    const char cents[] = {separator, static_cast<char>('0' + minor / 10), static_cast<char>('0' + minor % 10), 0};
    return text + cents;
}

TEST(SayMoney, AgreesWithTheReferenceOverASweepOfSums)
{
    std::vector<unsigned> wholes;
    for (unsigned v = 0; v <= 2200; ++v)
        wholes.push_back(v);
    for (unsigned v = 2201; v < 1000000000; v = v * 3 / 2 + 7919)
        wholes.push_back(v);
    for (const unsigned v : {11000u, 12000u, 21000u, 111000u, 1000000u, 2000000u, 11000000u, 21001001u, 999999999u})
        wholes.push_back(v);
    const unsigned minors[] = {0, 1, 2, 4, 5, 10, 11, 12, 14, 21, 22, 25, 50, 99};
    for (const CurrencyRule& rule : test::kCurrencyRules) {
        for (const unsigned whole : wholes) {
            for (const unsigned minor : minors) {
                const std::string text = moneyText(whole, minor, whole % 2 == 0, minor % 2 == 0 ? ',' : '.');
                SCOPED_TRACE(testing::Message() << text << " currency " << static_cast<int>(rule.currency));
                ASSERT_EQ(spoken(text, [&](Codes& l, std::string_view t) { SayMoney(l, t, rule.currency); }),
                          test::referenceMoney(whole, minor, rule));
            }
        }
    }
}

// 1-999 in both genders are held to the reference by the sums' sweep; beyond them nothing is said.
TEST(SayNumber, LeadingValueAndNumbersOutsideOneToNineHundredNinetyNine)
{
    Codes list;
    for (const unsigned n : {0u, 1000u, UINT_MAX})
        SayNumber(list, n, false);
    EXPECT_TRUE(list.empty());
    for (const auto& [text, value] : {std::pair<std::string, unsigned>{"", 0}, {" 12", 0}, {"0012x5", 12},
                                      {"4294967295", UINT_MAX}, {std::string(100000, '9'), UINT_MAX}})
        EXPECT_EQ(leadingValue(text), value) << text.substr(0, 12);
}




// Texts the sweep does not write: odd separators, signs, long digit runs, three-digit minor parts.
TEST(SayMoney, OddTexts)
{
    constexpr Currency H = Currency::Hryvnia, R = Currency::Rouble, D = Currency::Dollar, E = Currency::Euro;
    const std::tuple<const char*, Currency, const char*> rows[] = {
        {"", H, "_000|__PS|+GRE"}, {"abc", E, "_000|__PS|+EUR"}, {"0000000000000", D, "_000|__PS|+DLV"},
        {"12.5", H, "_012|__PS|+GRE|_005|+SSK"},  // ".5" is five kopecks, like ".05"
        {",50", H, "_050|+SSK"}, {"1,,50", H, "_01A|__PS|+GRA"}, {"1.2.3", H, "_01A|__PS|+GRA|_02E|+SSI"},
        {"1.234,56", R, "_001|__PS|+RR |_200|_030|_004|+SSI"}, {"-12,50 грн", H, "_012|__PS|+GRE|_050|+SSK"},
        {",,,", D, "_000|__PS|+DLV"}, {"000000001", D, "_001|__PS|+DLR"},
        // Minor parts of three digits: only 11 and 12-14 themselves take the plural.
        {"12.500", R, "_012|__PS|+RRE|_500|+SSK"}, {"0.111", H, "_100|_011|+SS "}, {"0.112", H, "_100|_012|+SSI"},
        // No number codes exist beyond 999: such a minor part is left out.
        {"1.5000", R, "_001|__PS|+RR "}, {"0.5000", R, ""},
        // A whole part of ten or more digits is not spoken; its minor part still is.
        {"1234567890,15", H, "_015|+SSK"}, {"0000000000,5", D, "_005|+CNV"}, {"12", static_cast<Currency>(4), ""},
    };
    for (const auto& [input, currency, expected] : rows)
        EXPECT_EQ(spoken(input, [&](Codes& l, std::string_view t) { SayMoney(l, t, currency); }), codes(expected))
            << input << " currency " << static_cast<int>(currency);
}

}  // namespace
}  // namespace peltra::speech
