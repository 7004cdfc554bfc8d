// Digits, numbers, digit groups, telephone numbers and sums of money as phrase codes, held against
// a reference written from the counting rules.
#include "speech/Numbers.h"

#include "Spoken.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace peltra::speech {
namespace {

using test::codes;
using test::Codes;

struct Row {
    const char* input;
    const char* expected;
};

// The reference: how a value 1-999 is spoken, and which of the three forms a counted word takes.
void referenceWords(Codes& out, unsigned n, bool feminine)
{
    if (n >= 100)
        out.push_back("_" + std::to_string(n / 100) + "00");
    const unsigned rest = n % 100;
    if (rest >= 10 && rest < 20) {
        out.push_back("_0" + std::to_string(rest));
        return;
    }
    if (rest >= 20)
        out.push_back("_0" + std::to_string(rest / 10) + "0");
    const unsigned digit = rest % 10;
    if (digit != 0)
        out.push_back(feminine && digit == 1 ? "_01A" : feminine && digit == 2 ? "_02E" : "_00" + std::to_string(digit));
}

// 0: after 1 (21, 101), 1: after 2-4 (22, 104), 2: after 0, 5-9 and 11-19.
int referenceForm(unsigned n)
{
    const unsigned digit = n % 10;
    if ((n % 100) / 10 == 1 || digit == 0 || digit >= 5)
        return 2;
    return digit == 1 ? 0 : 1;
}

struct Words {
    const char* forms[3];
    bool feminine;
};

struct CurrencyRule {
    Currency currency;
    Words unit;
    Words minor;
};

const CurrencyRule kRules[] = {
    {Currency::Hryvnia, {{"+GRA", "+GRI", "+GRE"}, true}, {{"+SS ", "+SSI", "+SSK"}, true}},
    {Currency::Rouble, {{"+RR ", "+RRA", "+RRE"}, false}, {{"+SS ", "+SSI", "+SSK"}, true}},
    {Currency::Dollar, {{"+DLR", "+DLA", "+DLV"}, false}, {{"+CNT", "+CNA", "+CNV"}, false}},
    {Currency::Euro, {{"+EUR", "+EUR", "+EUR"}, false}, {{"+CNT", "+CNA", "+CNV"}, false}},
};

void referenceCounted(Codes& out, unsigned n, const Words& words, bool pause)
{
    referenceWords(out, n, words.feminine);
    if (pause)
        out.emplace_back("__PS");
    out.emplace_back(words.forms[referenceForm(n)]);
}

Codes referenceMoney(unsigned whole, unsigned minor, const CurrencyRule& rule)
{
    Codes out;
    if (whole == 0 && minor == 0)
        return {"_000", "__PS", rule.unit.forms[2]};
    if (whole != 0) {
        if (const unsigned millions = whole / 1000000)
            referenceCounted(out, millions, {{"+16 ", "+16A", "+16B"}, false}, false);
        if (const unsigned thousands = whole / 1000 % 1000)
            referenceCounted(out, thousands, {{"+13 ", "+13I", "+130"}, true}, false);
        if (const unsigned units = whole % 1000)
            referenceCounted(out, units, rule.unit, true);
        else
            out.insert(out.end(), {"__PS", rule.unit.forms[2]});
    }
    if (minor != 0)
        referenceCounted(out, minor, rule.minor, false);
    return out;
}

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
    for (const CurrencyRule& rule : kRules) {
        for (const unsigned whole : wholes) {
            for (const unsigned minor : minors) {
                const std::string text = moneyText(whole, minor, whole % 2 == 0, minor % 2 == 0 ? ',' : '.');
                SCOPED_TRACE(testing::Message() << text << " currency " << static_cast<int>(rule.currency));
                ASSERT_EQ(test::spoken(text, [&](Codes& l, std::string_view t) { SayMoney(l, t, rule.currency); }),
                          referenceMoney(whole, minor, rule));
            }
        }
    }
}

TEST(SayNumber, AgreesWithTheReferenceFromOneToNineHundredNinetyNine)
{
    for (unsigned n = 0; n <= 1000; ++n) {
        for (const bool feminine : {false, true}) {
            Codes expected;
            if (n >= 1 && n <= 999)
                referenceWords(expected, n, feminine);
            Codes list;
            SayNumber(list, n, feminine);
            ASSERT_EQ(list, expected) << n << " feminine " << feminine;
        }
    }
    Codes list;
    SayNumber(list, UINT_MAX, false);
    EXPECT_TRUE(list.empty());
}

TEST(LeadingValue, CountsOnlyLeadingDigitsAndSaturates)
{
    EXPECT_EQ(leadingValue(""), 0u);
    EXPECT_EQ(leadingValue(" 12"), 0u);
    EXPECT_EQ(leadingValue("0012x5"), 12u);
    EXPECT_EQ(leadingValue("4294967295"), UINT_MAX);
    EXPECT_EQ(leadingValue(std::string(100000, '9')), UINT_MAX);
}

TEST(SayDigit, OneToNineWithFeminineOneAndTwo)
{
    // Masculine then feminine, for '/' (just below '0'), '0' to '9', ':' (just above) and others.
    const char* const rows[][2] = {{"/", ""}, {"0", ""}, {"1", "_001|_01A"}, {"2", "_002|_02E"},
                                   {"3", "_003|_003"}, {"9", "_009|_009"}, {":", ""}, {"a", ""}};
    for (const auto& [digit, expected] : rows) {
        Codes both;
        SayDigit(both, digit[0], false);
        SayDigit(both, digit[0], true);
        EXPECT_EQ(both, codes(expected)) << digit;
    }
}

TEST(SayTensAndHundreds, DigitStringsOfExactLength)
{
    // "f" marks the feminine.
    const Row tens[] = {
        {"00", "_000|_000"}, {"05", "_000|_005"}, {"01f", "_000|_01A"}, {"02f", "_000|_02E"}, {"10", "_010"},
        {"11f", "_011"},     {"19", "_019"},      {"21f", "_020|_01A"}, {"32f", "_030|_02E"}, {"99", "_090|_009"},
        {"", ""},            {"1", ""},           {"123", ""},          {"a5", ""},           {"5a", ""},
        {" 5", ""},          {"0:", ""},
    };
    const Row hundreds[] = {
        {"105", "_100|_005"}, {"101f", "_100|_01A"}, {"000", ""},      {"005", "_005"},      {"023", "_020|_003"},
        {"12", ""},           {"1234", ""},          {"1a5", ""},      {"-12", ""},
    };
    const auto run = [](const Row& row, auto convert) {
        std::string_view text = row.input;
        const bool feminine = text.ends_with('f');
        if (feminine)
            text.remove_suffix(1);
        EXPECT_EQ(test::spoken(text, [&](Codes& l, std::string_view t) { convert(l, t, feminine); }), codes(row.expected))
            << row.input;
    };
    for (const Row& row : tens)
        run(row, SayTens);
    for (const Row& row : hundreds)
        run(row, SayHundreds);
}

TEST(SayDigitGroups, GroupsOfThreeWithLeadingZerosSpoken)
{
    const Row rows[] = {
        {"1005", "__PS|_001|__PS|_000|_000|_005"}, {"0", "__PS|_000"}, {"000", "__PS|_000|_000|_000"},
        {"050", "__PS|_000|_050"},
        {"21", "__PS|_020|_001"},  // always masculine
        {"1000", "__PS|_001|__PS|_000|_000|_000"},
        {"123456789", "__PS|_100|_020|_003|__PS|_400|_050|_006|__PS|_700|_080|_009"},
        {"12 34-5", "__PS|_012|__PS|_300|_040|_005"},  // non-digits dropped
        {"№ 0012", "__PS|_000|__PS|_000|_012"},
        {"1234567890", ""},  // more than nine digits
        {"12345-67890", ""}, {"", ""}, {" -/., ", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(test::spoken(row.input, SayDigitGroups), codes(row.expected)) << row.input;
}

TEST(SayPhone, LeadPartByLengthThenPairs)
{
    const Row rows[] = {
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
    };
    for (const Row& row : rows)
        EXPECT_EQ(test::spoken(row.input, SayPhone), codes(row.expected)) << row.input;
}

// Texts the sweep does not write: odd separators, signs, long digit runs, three-digit minor parts.
TEST(SayMoney, OddTexts)
{
    constexpr Currency H = Currency::Hryvnia, R = Currency::Rouble, D = Currency::Dollar, E = Currency::Euro;
    const struct {
        const char* input;
        Currency currency;
        const char* expected;
    } rows[] = {
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
    for (const auto& row : rows) {
        EXPECT_EQ(test::spoken(row.input, [&](Codes& l, std::string_view t) { SayMoney(l, t, row.currency); }),
                  codes(row.expected))
            << row.input << " currency " << static_cast<int>(row.currency);
    }
}

TEST(Converters, AppendWithoutTouchingWhatIsThere)
{
    PhraseList list = {"AAAA", "____"};
    SayPhone(list, "12");
    SayMoney(list, "1", Currency::Euro);
    SayDigitGroups(list, "5");
    EXPECT_EQ(list, codes("AAAA|____|_012|_001|__PS|+EUR|__PS|_005"));
}

}  // namespace
}  // namespace peltra::speech
