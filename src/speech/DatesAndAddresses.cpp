// Dates, times of day and house or flat designations spoken as phrase codes.
#include "speech/DatesAndAddresses.h"

#include "platform/text/Trim.h"
#include "platform/text/Utf8.h"
#include "speech/Numbers.h"

#include <string>

namespace peltra::speech {
namespace {

// The letters a house or flat number may carry run through the alphabet from А to К, leaving
// out Й, which is never spelled.
constexpr char32_t kCapitalA = U'А';
constexpr char32_t kSmallA = U'а';
constexpr char32_t kCapitalShortI = U'Й';
constexpr char32_t kCapitalKa = U'К';

// The capital letter to spell for a code point, or 0 when it is not spelled.
char32_t spelledLetter(char32_t cp)
{
    char32_t capital = cp;
    if (cp >= kSmallA && cp <= kSmallA + (kCapitalKa - kCapitalA))
        capital = cp - kSmallA + kCapitalA;
    if (capital < kCapitalA || capital > kCapitalKa || capital == kCapitalShortI)
        return 0;
    return capital;
}


// A value below 100 written with two digits.
std::string twoDigitText(unsigned value)
{
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

void flushDigits(PhraseList& list, std::string& digits)
{
    if (digits.empty())
        return;
    SayDigitGroups(list, digits);
    digits.clear();
}

}  // namespace

void SayDate(PhraseList& list, std::string_view dayText, std::string_view monthText,
             bool secondSet)
{
    unsigned day = leadingValue(dayText);
    if (day >= 21 && day <= 29) {
        list.emplace_back("_020");
        day -= 20;
    }
    if (day == 31) {
        list.emplace_back("_030");
        day = 1;
    }
    if ((day >= 1 && day <= 20) || day == 30)
        list.push_back((secondSet ? "_O" : "_E") + twoDigitText(day));
    list.emplace_back(kPause);
    const unsigned month = leadingValue(monthText);
    if (month >= 1 && month <= 12)
        list.push_back("+T" + twoDigitText(month));
}

void SayTwoDigits(PhraseList& list, std::string_view twoChars, bool feminine)
{
    const std::string_view text = twoChars.substr(0, 2);
    const unsigned value = leadingValue(text);
    if (value == 0) {
        list.emplace_back("_000");
    } else if (value < 10) {
        // The digit that carries the value, wherever it stands: "09" and the hour of "9:30" alike.
        SayDigit(list, static_cast<char>('0' + value), feminine);
    } else {
        SayTens(list, text, feminine);
    }
}

void SayTime(PhraseList& list, std::string_view text)
{
    const std::string_view hoursText = text.substr(0, 2);
    const std::string_view minutesText = text.substr(text.size() >= 2 ? text.size() - 2 : 0);

    const unsigned hours = leadingValue(hoursText);
    SayTwoDigits(list, hoursText, false);
    if ((hours >= 5 && hours <= 20) || hours % 10 == 0)
        list.emplace_back("+CLW");
    else if (hours % 10 == 1)
        list.emplace_back("+CLC");
    else
        list.emplace_back("+CLA");

    const unsigned minutes = leadingValue(minutesText);
    SayTwoDigits(list, minutesText, true);
    const unsigned last = minutes % 10;
    if ((minutes >= 5 && minutes <= 20) || last == 0 || last >= 5)
        list.emplace_back("+MNT");
    else if (last == 1)
        list.emplace_back("+MNA");
    else
        list.emplace_back("+MNI");
}

void SayAddress(PhraseList& list, std::string_view text)
{
    text = platform::trimBlanks(text);

    // Tables in either Cyrillic code page reach us decoded, so a letter is recognised by what it
    // is, in upper or lower case, whichever code page its table was written in.
    std::string digits;
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        std::size_t length = platform::decodeUtf8(text, pos, cp);
        if (length == 0) {
            // A byte that is not UTF-8 is skipped like any other unspelled character.
            length = 1;
            cp = 0xFFFD;
        }
        pos += length;

        if (cp >= U'0' && cp <= U'9') {
            digits += static_cast<char>(cp);
        } else if (cp == U'/') {
            flushDigits(list, digits);
            list.emplace_back("___/");
        } else if (const char32_t letter = spelledLetter(cp); letter != 0) {
            flushDigits(list, digits);
            std::string code = "___";
            platform::encodeUtf8(letter, code);
            list.push_back(std::move(code));
        }
    }
    flushDigits(list, digits);
}

}  // namespace peltra::speech
