// Digits, numbers, digit groups, telephone numbers and sums of money as phrase codes.
#include "speech/Numbers.h"

#include "ExactText.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace peltra::speech {
namespace {

using Codes = std::vector<std::string>;
using test::ExactText;

struct TextRow {
    const char* input;
    Codes expected;
};

struct GenderedRow {
    const char* input;
    bool feminine;
    Codes expected;
};

PhraseList tens(std::string_view text, bool feminine)
{
    PhraseList list;
    const ExactText exact(text);
    SayTens(list, exact.view(), feminine);
    return list;
}

PhraseList hundreds(std::string_view text, bool feminine)
{
    PhraseList list;
    const ExactText exact(text);
    SayHundreds(list, exact.view(), feminine);
    return list;
}

PhraseList digitGroups(std::string_view text)
{
    PhraseList list;
    const ExactText exact(text);
    SayDigitGroups(list, exact.view());
    return list;
}

PhraseList phone(std::string_view text)
{
    PhraseList list;
    const ExactText exact(text);
    SayPhone(list, exact.view());
    return list;
}

PhraseList money(std::string_view text, Currency currency)
{
    PhraseList list;
    const ExactText exact(text);
    SayMoney(list, exact.view(), currency);
    return list;
}

TEST(LeadingValue, CountsOnlyLeadingDigitsAndSaturates)
{
    EXPECT_EQ(leadingValue(""), 0u);
    EXPECT_EQ(leadingValue("abc"), 0u);
    EXPECT_EQ(leadingValue(" 12"), 0u);
    EXPECT_EQ(leadingValue("0012x5"), 12u);
    EXPECT_EQ(leadingValue("4294967295"), UINT_MAX);
    EXPECT_EQ(leadingValue("4294967296"), UINT_MAX);
    EXPECT_EQ(leadingValue(std::string(100000, '9')), UINT_MAX);
}

TEST(SayDigit, OneToNineWithFeminineOneAndTwo)
{
    struct Row {
        char digit;
        Codes masculine;
        Codes feminine;
    };
    const Row rows[] = {
        {'0', {}, {}},
        {'1', {"_001"}, {"_01A"}},
        {'2', {"_002"}, {"_02E"}},
        {'3', {"_003"}, {"_003"}},
        {'4', {"_004"}, {"_004"}},
        {'5', {"_005"}, {"_005"}},
        {'6', {"_006"}, {"_006"}},
        {'7', {"_007"}, {"_007"}},
        {'8', {"_008"}, {"_008"}},
        {'9', {"_009"}, {"_009"}},
        {'a', {}, {}},
        {' ', {}, {}},
        {'\0', {}, {}},
        {'/', {}, {}},  // the character just below '0'
        {':', {}, {}},  // and just above '9'
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.digit);
        PhraseList masculine;
        SayDigit(masculine, row.digit, false);
        EXPECT_EQ(masculine, row.masculine);
        PhraseList feminine;
        SayDigit(feminine, row.digit, true);
        EXPECT_EQ(feminine, row.feminine);
    }
}

TEST(SayTens, ZeroTensTeensAndTens)
{
    const GenderedRow rows[] = {
        {"00", false, {"_000", "_000"}},
        {"05", false, {"_000", "_005"}},
        {"01", false, {"_000", "_001"}},
        {"01", true, {"_000", "_01A"}},
        {"02", true, {"_000", "_02E"}},
        {"10", false, {"_010"}},
        {"11", true, {"_011"}},
        {"12", true, {"_012"}},
        {"15", false, {"_015"}},
        {"19", false, {"_019"}},
        {"20", false, {"_020"}},
        {"21", false, {"_020", "_001"}},
        {"21", true, {"_020", "_01A"}},
        {"32", true, {"_030", "_02E"}},
        {"40", true, {"_040"}},
        {"99", false, {"_090", "_009"}},
        // Anything but exactly two digits speaks nothing.
        {"", false, {}},
        {"1", false, {}},
        {"123", false, {}},
        {"a5", false, {}},
        {"5a", false, {}},
        {" 5", false, {}},
        {"0:", false, {}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(tens(rows[i].input, rows[i].feminine), rows[i].expected);
    }
}

TEST(SayHundreds, HundredsThenTheRestWithoutSpokenZero)
{
    const GenderedRow rows[] = {
        {"105", false, {"_100", "_005"}},
        {"100", false, {"_100"}},
        {"101", true, {"_100", "_01A"}},
        {"110", false, {"_100", "_010"}},
        {"120", false, {"_100", "_020"}},
        {"251", true, {"_200", "_050", "_01A"}},
        {"302", true, {"_300", "_02E"}},
        {"912", false, {"_900", "_012"}},
        {"999", false, {"_900", "_090", "_009"}},
        {"000", false, {}},
        {"005", false, {"_005"}},
        {"010", false, {"_010"}},
        {"023", false, {"_020", "_003"}},
        {"099", false, {"_090", "_009"}},
        {"", false, {}},
        {"12", false, {}},
        {"1234", false, {}},
        {"1a5", false, {}},
        {"-12", false, {}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(hundreds(rows[i].input, rows[i].feminine), rows[i].expected);
    }
}

TEST(SayNumber, OneToNineHundredNinetyNine)
{
    struct Row {
        unsigned value;
        bool feminine;
        Codes expected;
    };
    const Row rows[] = {
        {0, false, {}},
        {1, false, {"_001"}},
        {1, true, {"_01A"}},
        {2, true, {"_02E"}},
        {7, true, {"_007"}},
        {10, false, {"_010"}},
        {11, true, {"_011"}},
        {42, true, {"_040", "_02E"}},
        {100, false, {"_100"}},
        {101, false, {"_100", "_001"}},
        {111, true, {"_100", "_011"}},
        {221, true, {"_200", "_020", "_01A"}},
        {999, false, {"_900", "_090", "_009"}},
        {1000, false, {}},
        {UINT_MAX, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        PhraseList list;
        SayNumber(list, row.value, row.feminine);
        EXPECT_EQ(list, row.expected);
    }
}

TEST(SayDigitGroups, GroupsOfThreeWithLeadingZerosSpoken)
{
    const TextRow rows[] = {
        {"1005", {"__PS", "_001", "__PS", "_000", "_000", "_005"}},
        {"0", {"__PS", "_000"}},
        {"000", {"__PS", "_000", "_000", "_000"}},
        {"001", {"__PS", "_000", "_000", "_001"}},
        {"050", {"__PS", "_000", "_050"}},
        {"7", {"__PS", "_007"}},
        {"21", {"__PS", "_020", "_001"}},  // always masculine
        {"1234567",
         {"__PS", "_001", "__PS", "_200", "_030", "_004", "__PS", "_500", "_060", "_007"}},
        {"1000", {"__PS", "_001", "__PS", "_000", "_000", "_000"}},
        {"123456789",
         {"__PS", "_100", "_020", "_003", "__PS", "_400", "_050", "_006", "__PS", "_700", "_080",
          "_009"}},
        {"12 34-5", {"__PS", "_012", "__PS", "_300", "_040", "_005"}},  // non-digits dropped
        {"№ 0012", {"__PS", "_000", "__PS", "_000", "_012"}},
        {"1234567890", {}},  // more than nine digits
        {"12345-67890", {}},
        {"", {}},
        {"abc", {}},
        {" -/., ", {}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(digitGroups(rows[i].input), rows[i].expected);
    }
}

TEST(SayPhone, LeadPartByLengthThenPairs)
{
    const TextRow rows[] = {
        {"7", {"_007"}},
        {"0", {}},  // a lone 0 speaks nothing
        {"12", {"_012"}},
        {"00", {"_000", "_000"}},
        {"21", {"_020", "_001"}},  // always masculine
        {"105", {"_001", "__PS", "_000", "_005"}},
        {"023", {"_000", "__PS", "_020", "_003"}},
        {"1234", {"_012", "__PS", "_030", "_004"}},
        {"12345", {"_001", "__PS", "_020", "_003", "__PS", "_040", "_005"}},
        {"01234", {"_000", "__PS", "_012", "__PS", "_030", "_004"}},
        {"450105", {"_040", "_005", "__PS", "_000", "_001", "__PS", "_000", "_005"}},
        {"2345678",
         {"_200", "_030", "_004", "__PS", "_050", "_006", "__PS", "_070", "_008"}},
        {"0234567", {"_020", "_003", "__PS", "_040", "_005", "__PS", "_060", "_007"}},
        {"0034567", {"_003", "__PS", "_040", "_005", "__PS", "_060", "_007"}},
        {"0004567", {"__PS", "_040", "_005", "__PS", "_060", "_007"}},
        {"12345678", {"_050", "_006", "__PS", "_070", "_008"}},  // 8+ digits: the last four
        {"0123456789", {"_060", "_007", "__PS", "_080", "_009"}},
        {"+7 (812) 234-56-78", {"_050", "_006", "__PS", "_070", "_008"}},
        {"234-56-78", {"_200", "_030", "_004", "__PS", "_050", "_006", "__PS", "_070", "_008"}},
        {"", {}},
        {"тел.", {}},
        {" - ", {}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input);
        EXPECT_EQ(phone(rows[i].input), rows[i].expected);
    }
}

struct MoneyRow {
    const char* input;
    Currency currency;
    Codes expected;
};

void checkMoney(const MoneyRow* rows, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(testing::Message() << i << " " << rows[i].input << " currency "
                                        << static_cast<int>(rows[i].currency));
        EXPECT_EQ(money(rows[i].input, rows[i].currency), rows[i].expected);
    }
}

constexpr Currency kHryvnia = Currency::Hryvnia;
constexpr Currency kRouble = Currency::Rouble;
constexpr Currency kDollar = Currency::Dollar;
constexpr Currency kEuro = Currency::Euro;

TEST(SayMoney, WorkedExamples)
{
    const MoneyRow rows[] = {
        {"1251,32", kHryvnia,
         {"_01A", "+13 ", "_200", "_050", "_01A", "__PS", "+GRA", "_030", "_02E", "+SSI"}},
        {"21", kRouble, {"_020", "_001", "__PS", "+RR "}},
        {"11", kRouble, {"_011", "__PS", "+RRE"}},
        {"1 000 000", kRouble, {"_001", "+16 ", "__PS", "+RRE"}},
        {"22,21", kHryvnia, {"_020", "_02E", "__PS", "+GRI", "_020", "_01A", "+SS "}},
        {"0", kDollar, {"_000", "__PS", "+DLV"}},
        {"0,0", kDollar, {"_000", "__PS", "+DLV"}},
        {"0.01", kEuro, {"_001", "+CNT"}},
        {"0.50", kHryvnia, {"_050", "+SSK"}},
        {"12.5", kHryvnia, {"_012", "__PS", "+GRE", "_005", "+SSK"}},
        {"12.05", kHryvnia, {"_012", "__PS", "+GRE", "_005", "+SSK"}},
        {"5000", kHryvnia, {"_005", "+130", "__PS", "+GRE"}},
    };
    checkMoney(rows, std::size(rows));
}

TEST(SayMoney, ZeroTakesEachCurrencysPluralAndNoMinorUnit)
{
    const MoneyRow rows[] = {
        {"0,0", kHryvnia, {"_000", "__PS", "+GRE"}},
        {"0,0", kRouble, {"_000", "__PS", "+RRE"}},
        {"0,0", kDollar, {"_000", "__PS", "+DLV"}},
        {"0,0", kEuro, {"_000", "__PS", "+EUR"}},
        {"", kHryvnia, {"_000", "__PS", "+GRE"}},
        {"000.000", kRouble, {"_000", "__PS", "+RRE"}},
        {"0000000000000", kDollar, {"_000", "__PS", "+DLV"}},
        {".", kHryvnia, {"_000", "__PS", "+GRE"}},
        {"abc", kEuro, {"_000", "__PS", "+EUR"}},
    };
    checkMoney(rows, std::size(rows));
}

// The unit word after the last group and the gender of that group's number, per currency.
TEST(SayMoney, UnitFormsPerCurrency)
{
    struct Amount {
        const char* text;
        Codes masculine;
        Codes feminine;
        int form;  // 0: after 1, 1: after 2-4, 2: otherwise
    };
    const Amount amounts[] = {
        {"1", {"_001"}, {"_01A"}, 0},
        {"2", {"_002"}, {"_02E"}, 1},
        {"4", {"_004"}, {"_004"}, 1},
        {"5", {"_005"}, {"_005"}, 2},
        {"11", {"_011"}, {"_011"}, 2},
        {"12", {"_012"}, {"_012"}, 2},
        {"14", {"_014"}, {"_014"}, 2},
        {"20", {"_020"}, {"_020"}, 2},
        {"21", {"_020", "_001"}, {"_020", "_01A"}, 0},
        {"22", {"_020", "_002"}, {"_020", "_02E"}, 1},
        {"25", {"_020", "_005"}, {"_020", "_005"}, 2},
        {"111", {"_100", "_011"}, {"_100", "_011"}, 2},
        {"112", {"_100", "_012"}, {"_100", "_012"}, 2},
        {"101", {"_100", "_001"}, {"_100", "_01A"}, 0},
        {"1002", {"_01A", "+13 ", "_002"}, {"_01A", "+13 ", "_02E"}, 1},
    };
    struct CurrencyCase {
        Currency currency;
        bool feminine;
        const char* forms[3];
    };
    const CurrencyCase currencies[] = {
        {kHryvnia, true, {"+GRA", "+GRI", "+GRE"}},
        {kRouble, false, {"+RR ", "+RRA", "+RRE"}},
        {kDollar, false, {"+DLR", "+DLA", "+DLV"}},
        {kEuro, false, {"+EUR", "+EUR", "+EUR"}},
    };
    for (const CurrencyCase& currency : currencies) {
        for (const Amount& amount : amounts) {
            SCOPED_TRACE(testing::Message() << amount.text << " currency "
                                            << static_cast<int>(currency.currency));
            Codes expected = currency.feminine ? amount.feminine : amount.masculine;
            expected.emplace_back("__PS");
            expected.emplace_back(currency.forms[amount.form]);
            EXPECT_EQ(money(amount.text, currency.currency), expected);
        }
    }
}

// The minor unit after a zero whole part: kopecks take feminine 1 and 2, cents masculine.
TEST(SayMoney, MinorFormsPerCurrency)
{
    const MoneyRow rows[] = {
        {"0,01", kHryvnia, {"_01A", "+SS "}},
        {"0,02", kHryvnia, {"_02E", "+SSI"}},
        {"0,05", kHryvnia, {"_005", "+SSK"}},
        {"0,11", kHryvnia, {"_011", "+SSK"}},
        {"0,12", kHryvnia, {"_012", "+SSK"}},
        {"0,21", kHryvnia, {"_020", "_01A", "+SS "}},
        {"0,22", kHryvnia, {"_020", "_02E", "+SSI"}},
        {"0,01", kRouble, {"_01A", "+SS "}},
        {"0,02", kRouble, {"_02E", "+SSI"}},
        {"0,05", kRouble, {"_005", "+SSK"}},
        {"0,11", kRouble, {"_011", "+SSK"}},
        {"0,12", kRouble, {"_012", "+SSK"}},
        {"0,21", kRouble, {"_020", "_01A", "+SS "}},
        {"0,01", kDollar, {"_001", "+CNT"}},
        {"0,02", kDollar, {"_002", "+CNA"}},
        {"0,05", kDollar, {"_005", "+CNV"}},
        {"0,11", kDollar, {"_011", "+CNV"}},
        {"0,12", kDollar, {"_012", "+CNV"}},
        {"0,21", kDollar, {"_020", "_001", "+CNT"}},
        {"0,01", kEuro, {"_001", "+CNT"}},
        {"0,02", kEuro, {"_002", "+CNA"}},
        {"0,05", kEuro, {"_005", "+CNV"}},
        {"0,11", kEuro, {"_011", "+CNV"}},
        {"0,12", kEuro, {"_012", "+CNV"}},
        {"0,21", kEuro, {"_020", "_001", "+CNT"}},
        {"0,99", kEuro, {"_090", "_009", "+CNV"}},
        // Whole and minor part together: no pause before the minor part.
        {"1,01", kEuro, {"_001", "__PS", "+EUR", "_001", "+CNT"}},
        {"2,02", kRouble, {"_002", "__PS", "+RRA", "_02E", "+SSI"}},
        // Minor parts of three digits are whole numbers of the unit; the form follows the same
        // rule, under which only 11 itself and 12-14 themselves take the plural.
        {"12.500", kRouble, {"_012", "__PS", "+RRE", "_500", "+SSK"}},
        {"0.111", kHryvnia, {"_100", "_011", "+SS "}},
        {"0.112", kHryvnia, {"_100", "_012", "+SSI"}},
        // No number codes exist beyond 999: such a minor part is left out.
        {"1.5000", kRouble, {"_001", "__PS", "+RR "}},
        {"0.5000", kRouble, {}},
        {"1,", kRouble, {"_001", "__PS", "+RR "}},
    };
    checkMoney(rows, std::size(rows));
}

TEST(SayMoney, ThousandsAndMillions)
{
    const MoneyRow rows[] = {
        {"1000", kRouble, {"_01A", "+13 ", "__PS", "+RRE"}},
        {"2000", kRouble, {"_02E", "+13I", "__PS", "+RRE"}},
        {"4000", kRouble, {"_004", "+13I", "__PS", "+RRE"}},
        {"5000", kRouble, {"_005", "+130", "__PS", "+RRE"}},
        {"11000", kRouble, {"_011", "+130", "__PS", "+RRE"}},
        {"12000", kRouble, {"_012", "+130", "__PS", "+RRE"}},
        {"21000", kRouble, {"_020", "_01A", "+13 ", "__PS", "+RRE"}},
        {"22000", kRouble, {"_020", "_02E", "+13I", "__PS", "+RRE"}},
        {"25000", kRouble, {"_020", "_005", "+130", "__PS", "+RRE"}},
        {"111000", kRouble, {"_100", "_011", "+130", "__PS", "+RRE"}},
        {"1000000", kHryvnia, {"_001", "+16 ", "__PS", "+GRE"}},
        {"2000000", kHryvnia, {"_002", "+16A", "__PS", "+GRE"}},
        {"5000000", kHryvnia, {"_005", "+16B", "__PS", "+GRE"}},
        {"11000000", kHryvnia, {"_011", "+16B", "__PS", "+GRE"}},
        {"12000000", kHryvnia, {"_012", "+16B", "__PS", "+GRE"}},
        {"21000000", kHryvnia, {"_020", "_001", "+16 ", "__PS", "+GRE"}},
        {"22000000", kHryvnia, {"_020", "_002", "+16A", "__PS", "+GRE"}},
        {"25000000", kHryvnia, {"_020", "_005", "+16B", "__PS", "+GRE"}},
        {"111000000", kHryvnia, {"_100", "_011", "+16B", "__PS", "+GRE"}},
        {"1 001 000", kDollar, {"_001", "+16 ", "_01A", "+13 ", "__PS", "+DLV"}},
        {"121 222 333,44", kHryvnia,
         {"_100", "_020", "_001", "+16 ", "_200", "_020", "_02E", "+13I", "_300", "_030", "_003",
          "__PS", "+GRI", "_040", "_004", "+SSI"}},
        {"999999999", kDollar,
         {"_900", "_090", "_009", "+16B", "_900", "_090", "_009", "+130", "_900", "_090", "_009",
          "__PS", "+DLV"}},
        {"000000001", kDollar, {"_001", "__PS", "+DLR"}},
        {"0001000", kEuro, {"_01A", "+13 ", "__PS", "+EUR"}},
    };
    checkMoney(rows, std::size(rows));
}

TEST(SayMoney, OddTextsAndSeparators)
{
    const MoneyRow rows[] = {
        {",50", kHryvnia, {"_050", "+SSK"}},                        // empty whole part is 0
        {"1,,50", kHryvnia, {"_01A", "__PS", "+GRA"}},              // empty minor part is 0
        {"1.2.3", kHryvnia, {"_01A", "__PS", "+GRA", "_02E", "+SSI"}},  // third piece ignored
        {"1.234,56", kRouble, {"_001", "__PS", "+RR ", "_200", "_030", "_004", "+SSI"}},
        {"-12,50 грн", kHryvnia, {"_012", "__PS", "+GRE", "_050", "+SSK"}},
        {"12,", kDollar, {"_012", "__PS", "+DLV"}},
        {",", kDollar, {"_000", "__PS", "+DLV"}},
        {",,,", kDollar, {"_000", "__PS", "+DLV"}},
        // A whole part of ten or more digits is not spoken; its minor part still is.
        {"1234567890,15", kHryvnia, {"_015", "+SSK"}},
        {"1234567890", kHryvnia, {}},
        {"0000000001,5", kDollar, {"_005", "+CNV"}},
        {"0000000000,5", kDollar, {"_005", "+CNV"}},
    };
    checkMoney(rows, std::size(rows));
}

TEST(SayMoney, UnknownCurrencyValueSpeaksNothing)
{
    EXPECT_EQ(money("12", static_cast<Currency>(4)), Codes{});
}

TEST(Converters, AppendWithoutTouchingWhatIsThere)
{
    PhraseList list = {"AAAA", "____"};
    SayPhone(list, "12");
    SayMoney(list, "1", Currency::Euro);
    SayDigitGroups(list, "5");
    const Codes expected = {"AAAA", "____", "_012", "_001", "__PS", "+EUR", "__PS", "_005"};
    EXPECT_EQ(list, expected);
}

}  // namespace
}  // namespace peltra::speech
