// Numbers, digit strings, telephone numbers and sums of money spoken as phrase codes.
#include "speech/Numbers.h"

#include <climits>
#include <string>

namespace peltra::speech {
namespace {

// Digit groups longer than this are not spoken: nine digits are the hundreds of millions.
constexpr std::size_t kMaxGroupedDigits = 9;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(std::string_view text)
{
    for (const char c : text) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

std::string digitsOnly(std::string_view text)
{
    std::string digits;
    for (const char c : text) {
        if (isDigit(c))
            digits += c;
    }
    return digits;
}

// Length of the first group of a digit string read in threes from the right.
std::size_t firstGroupLength(std::size_t length)
{
    return length % 3 == 0 ? 3 : length % 3;
}

// The three grammatical forms of a counted word: after 1, after 2-4, and otherwise.
struct WordForms {
    const char* one;
    const char* few;
    const char* many;
};

constexpr WordForms kThousand{"+13 ", "+13I", "+130"};
constexpr WordForms kMillion{"+16 ", "+16A", "+16B"};

struct CurrencyWords {
    WordForms unit;
    bool unitFeminine;
    WordForms minor;
    bool minorFeminine;  // of the numbers 1 and 2 before the minor unit
};

constexpr CurrencyWords kCurrencies[] = {
    {{"+GRA", "+GRI", "+GRE"}, true, {"+SS ", "+SSI", "+SSK"}, true},    // hryvnia, kopecks
    {{"+RR ", "+RRA", "+RRE"}, false, {"+SS ", "+SSI", "+SSK"}, true},   // rouble, kopecks
    {{"+DLR", "+DLA", "+DLV"}, false, {"+CNT", "+CNA", "+CNV"}, false},  // dollar, cents
    {{"+EUR", "+EUR", "+EUR"}, false, {"+CNT", "+CNA", "+CNV"}, false},  // euro, cents
};

// The form of a scale or currency word after the group value g: 21 takes the form of 1 and
// 22 that of 2, while 11-14 take the plural.
const char* formAfterGroup(const WordForms& forms, unsigned g)
{
    const unsigned last = g % 10;
    if (last == 1 && g % 100 != 11)
        return forms.one;
    if (last >= 2 && last <= 4 && (g % 100) / 10 != 1)
        return forms.few;
    return forms.many;
}

// The form of the minor unit word. Only the values 11 and 12-14 themselves take the plural here,
// so a three-digit minor part such as 111 takes the form of 1; two-digit parts are all correct.
const char* formAfterMinor(const WordForms& forms, unsigned v)
{
    const unsigned last = v % 10;
    if (last == 1)
        return v != 11 ? forms.one : forms.many;
    if (last >= 2 && last <= 4)
        return v / 10 != 1 ? forms.few : forms.many;
    return forms.many;
}

bool feminineForLastDigit(unsigned value)
{
    const unsigned last = value % 10;
    return last >= 1 && last <= 4;
}

void sayMinorPart(PhraseList& list, unsigned v, const CurrencyWords& words)
{
    // Minor parts are whole numbers of the minor unit; beyond 999 there are no number codes for
    // them, so such a part is left out rather than spoken as a bare unit word.
    if (v == 0 || v > 999)
        return;
    SayNumber(list, v, words.minorFeminine && feminineForLastDigit(v));
    list.emplace_back(formAfterMinor(words.minor, v));
}

// The whole part, 1-9 digits with a value that is not 0: millions, thousands, then units and
// the currency word.
void sayWholePart(PhraseList& list, std::string_view whole, const CurrencyWords& words)
{
    std::size_t groupCount = (whole.size() + 2) / 3;
    std::size_t pos = 0;
    std::size_t length = firstGroupLength(whole.size());
    for (; groupCount > 0; --groupCount) {
        const unsigned g = leadingValue(whole.substr(pos, length));
        if (groupCount == 3) {
            if (g != 0) {
                SayNumber(list, g, false);
                list.emplace_back(formAfterGroup(kMillion, g));
            }
        } else if (groupCount == 2) {
            if (g != 0) {
                SayNumber(list, g, feminineForLastDigit(g));
                list.emplace_back(formAfterGroup(kThousand, g));
            }
        } else if (g == 0) {
            list.emplace_back(kPause);
            list.emplace_back(words.unit.many);
        } else {
            SayNumber(list, g, words.unitFeminine);
            list.emplace_back(kPause);
            list.emplace_back(formAfterGroup(words.unit, g));
        }
        pos += length;
        length = 3;
    }
}

}  // namespace

unsigned leadingValue(std::string_view text)
{
    unsigned value = 0;
    for (const char c : text) {
        if (!isDigit(c))
            break;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (UINT_MAX - digit) / 10)
            return UINT_MAX;
        value = value * 10 + digit;
    }
    return value;
}

void SayDigit(PhraseList& list, char digit, bool feminine)
{
    static constexpr const char* kMasculine[] = {"", "_001", "_002", "_003", "_004",
                                                 "_005", "_006", "_007", "_008", "_009"};
    if (digit < '1' || digit > '9')
        return;
    if (feminine && digit == '1')
        list.emplace_back("_01A");
    else if (feminine && digit == '2')
        list.emplace_back("_02E");
    else
        list.emplace_back(kMasculine[digit - '0']);
}

void SayTens(PhraseList& list, std::string_view twoChars, bool feminine)
{
    if (twoChars.size() != 2 || !allDigits(twoChars))
        return;
    const unsigned n = leadingValue(twoChars);
    if (twoChars[0] == '0') {
        list.emplace_back("_000");
        if (n == 0)
            list.emplace_back("_000");
        else
            SayDigit(list, twoChars[1], feminine);
    } else if (n < 20) {
        list.emplace_back(std::string("_0") + twoChars[0] + twoChars[1]);
    } else {
        list.emplace_back(std::string("_0") + twoChars[0] + '0');
        SayDigit(list, twoChars[1], feminine);
    }
}

void SayHundreds(PhraseList& list, std::string_view threeChars, bool feminine)
{
    if (threeChars.size() != 3 || !allDigits(threeChars))
        return;
    if (threeChars[0] != '0')
        list.emplace_back(std::string("_") + threeChars[0] + "00");
    const unsigned rest = leadingValue(threeChars) % 100;
    if (rest == 0)
        return;
    if (rest < 10)
        SayDigit(list, threeChars[2], feminine);
    else
        SayTens(list, threeChars.substr(1), feminine);
}

void SayNumber(PhraseList& list, unsigned value, bool feminine)
{
    if (value == 0 || value > 999)
        return;
    const std::string text = std::to_string(value);
    if (value >= 100)
        SayHundreds(list, text, feminine);
    else if (value >= 10)
        SayTens(list, text, feminine);
    else
        SayDigit(list, text[0], feminine);
}

void SayDigitGroups(PhraseList& list, std::string_view text)
{
    std::string digits;
    for (const char c : text) {
        if (!isDigit(c))
            continue;
        if (digits.size() == kMaxGroupedDigits)
            return;
        digits += c;
    }
    if (digits.empty())
        return;

    std::size_t pos = 0;
    std::size_t length = firstGroupLength(digits.size());
    while (pos < digits.size()) {
        const std::string_view group = std::string_view(digits).substr(pos, length);
        list.emplace_back(kPause);
        // Leading zeros are spoken, so an account number keeps every digit it is written with.
        for (std::size_t i = 0; i < group.size() && group[i] == '0'; ++i)
            list.emplace_back("_000");
        SayNumber(list, leadingValue(group), false);
        pos += length;
        length = 3;
    }
}

void SayPhone(PhraseList& list, std::string_view text)
{
    const std::string digits = digitsOnly(text);
    const std::size_t length = digits.size();
    const std::string_view all(digits);
    if (length == 0)
        return;
    if (length == 1) {
        SayDigit(list, digits[0], false);
        return;
    }

    if (length == 3 || length == 5) {
        if (digits[0] == '0')
            list.emplace_back("_000");
        else
            SayDigit(list, digits[0], false);
        list.emplace_back(kPause);
    } else if (length == 6) {
        SayTens(list, all.substr(0, 2), false);
        list.emplace_back(kPause);
    } else if (length == 7) {
        SayHundreds(list, all.substr(0, 3), false);
        list.emplace_back(kPause);
    }

    if (length <= 3) {
        SayTens(list, all.substr(length - 2), false);
    } else {
        SayTens(list, all.substr(length - 4, 2), false);
        list.emplace_back(kPause);
        SayTens(list, all.substr(length - 2), false);
    }
}

void SayMoney(PhraseList& list, std::string_view text, Currency currency)
{
    const auto index = static_cast<std::size_t>(currency);
    if (index >= std::size(kCurrencies))
        return;
    const CurrencyWords& words = kCurrencies[index];

    // The first piece before a '.' or ',' is the whole part, the second the minor part; empty
    // pieces (",50", "1,,5") count as 0 and further pieces are ignored.
    std::string whole;
    std::string minor;
    int piece = 0;
    for (const char c : text) {
        if (c == '.' || c == ',') {
            if (piece < 2)
                ++piece;
        } else if (isDigit(c)) {
            if (piece == 0)
                whole += c;
            else if (piece == 1)
                minor += c;
        }
    }

    const unsigned wholeValue = leadingValue(whole);
    const unsigned minorValue = leadingValue(minor);
    if (wholeValue == 0 && minorValue == 0) {
        list.emplace_back("_000");
        list.emplace_back(kPause);
        list.emplace_back(words.unit.many);
        return;
    }
    if (wholeValue != 0 && whole.size() <= kMaxGroupedDigits)
        sayWholePart(list, whole, words);
    sayMinorPart(list, minorValue, words);
}

}  // namespace peltra::speech
