// What a template function speaks for the text of a table field.
#include "speech/TemplateFunctions.h"

#include "platform/text/Trim.h"
#include "speech/DatesAndAddresses.h"
#include "speech/Numbers.h"

#include <ctime>
#include <string>

namespace peltra::speech {
namespace {

bool isDateSeparator(char c)
{
    return c == ' ' || c == '/' || c == '-' || c == '.' || c == ',' || c == ':';
}

std::string twoDigitText(unsigned value)
{
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// A date column arrives as year, month and day ("2008-03-25", "2008/03/25 10:30:00"); the year is
// never spoken. A run of separators counts as one, so "2008 - 03 - 25" reads like "2008-03-25".
// A field without three pieces speaks today's date.
void sayDateField(PhraseList& list, std::string_view text, const CalendarDate& today,
                  bool secondSet)
{
    text = platform::trimBlanks(text);
    std::string_view pieces[3];
    std::size_t count = 0;
    std::size_t pos = 0;
    while (count < 3 && pos < text.size()) {
        while (pos < text.size() && isDateSeparator(text[pos]))
            ++pos;
        const std::size_t begin = pos;
        while (pos < text.size() && !isDateSeparator(text[pos]))
            ++pos;
        if (pos > begin)
            pieces[count++] = text.substr(begin, pos - begin);
    }
    if (count == 3)
        SayDate(list, pieces[2], pieces[1], secondSet);
    else
        SayDate(list, twoDigitText(today.day), twoDigitText(today.month), secondSet);
}

void sayMoneyField(PhraseList& list, std::string_view text, Currency currency)
{
    SayMoney(list, text.empty() ? std::string_view("0,0") : text, currency);
}

// A house or flat field that is empty, or holds only the blanks of a fixed-width column, speaks
// nothing at all, not even its lead word.
void sayAddressField(PhraseList& list, std::string_view text, const char* leadWord)
{
    if (platform::trimBlanks(text).empty())
        return;
    list.emplace_back(leadWord);
    SayAddress(list, text);
}

}  // namespace

CalendarDate today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return {};
    return {static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_mon + 1)};
}

void SpeakFunction(unsigned number, std::string_view text, const CalendarDate& today,
                   PhraseList& list)
{
    switch (number) {
    case 0:
    case 1:
        SayPhone(list, text);
        break;
    case 2:
        SayTime(list, text);
        break;
    case 3:
        sayDateField(list, text, today, false);
        break;
    case 4:
        sayDateField(list, text, today, true);
        break;
    case 7:
        sayMoneyField(list, text, Currency::Hryvnia);
        break;
    case 8:
        SayDigitGroups(list, text);
        break;
    case 9:
        sayMoneyField(list, text, Currency::Rouble);
        break;
    case 10:
        sayMoneyField(list, text, Currency::Dollar);
        break;
    case 11:
        sayAddressField(list, text, "HOME");
        break;
    case 12:
        sayAddressField(list, text, "FLAT");
        break;
    case 13:
        sayMoneyField(list, text, Currency::Euro);
        break;
    default:
        // 5 and 6 have no action; unknown numbers are skipped like them.
        break;
    }
}

}  // namespace peltra::speech
