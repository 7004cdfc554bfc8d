// The words the value converters speak, with their phrase codes, and the template functions' names.
#include "speech/Vocabulary.h"

#include <array>

namespace peltra::speech {

namespace {

constexpr std::array kVocabulary = {
    VocabularyWord{"Количественные числительные", "_000", "ноль"},
    VocabularyWord{"Количественные числительные", "_001", "один"},
    VocabularyWord{"Количественные числительные", "_002", "два"},
    VocabularyWord{"Количественные числительные", "_003", "три"},
    VocabularyWord{"Количественные числительные", "_004", "четыре"},
    VocabularyWord{"Количественные числительные", "_005", "пять"},
    VocabularyWord{"Количественные числительные", "_006", "шесть"},
    VocabularyWord{"Количественные числительные", "_007", "семь"},
    VocabularyWord{"Количественные числительные", "_008", "восемь"},
    VocabularyWord{"Количественные числительные", "_009", "девять"},
    VocabularyWord{"Количественные числительные", "_010", "десять"},
    VocabularyWord{"Количественные числительные", "_011", "одиннадцать"},
    VocabularyWord{"Количественные числительные", "_012", "двенадцать"},
    VocabularyWord{"Количественные числительные", "_013", "тринадцать"},
    VocabularyWord{"Количественные числительные", "_014", "четырнадцать"},
    VocabularyWord{"Количественные числительные", "_015", "пятнадцать"},
    VocabularyWord{"Количественные числительные", "_016", "шестнадцать"},
    VocabularyWord{"Количественные числительные", "_017", "семнадцать"},
    VocabularyWord{"Количественные числительные", "_018", "восемнадцать"},
    VocabularyWord{"Количественные числительные", "_019", "девятнадцать"},
    VocabularyWord{"Количественные числительные", "_020", "двадцать"},
    VocabularyWord{"Количественные числительные", "_030", "тридцать"},
    VocabularyWord{"Количественные числительные", "_040", "сорок"},
    VocabularyWord{"Количественные числительные", "_050", "пятьдесят"},
    VocabularyWord{"Количественные числительные", "_060", "шестьдесят"},
    VocabularyWord{"Количественные числительные", "_070", "семьдесят"},
    VocabularyWord{"Количественные числительные", "_080", "восемьдесят"},
    VocabularyWord{"Количественные числительные", "_090", "девяносто"},
    VocabularyWord{"Количественные числительные", "_100", "сто"},
    VocabularyWord{"Количественные числительные", "_200", "двести"},
    VocabularyWord{"Количественные числительные", "_300", "триста"},
    VocabularyWord{"Количественные числительные", "_400", "четыреста"},
    VocabularyWord{"Количественные числительные", "_500", "пятьсот"},
    VocabularyWord{"Количественные числительные", "_600", "шестьсот"},
    VocabularyWord{"Количественные числительные", "_700", "семьсот"},
    VocabularyWord{"Количественные числительные", "_800", "восемьсот"},
    VocabularyWord{"Количественные числительные", "_900", "девятьсот"},
    VocabularyWord{"Количественные числительные", "_01A", "одна"},
    VocabularyWord{"Количественные числительные", "_02E", "две"},
    VocabularyWord{"Разряды", "+13 ", "тысяча"},
    VocabularyWord{"Разряды", "+13I", "тысячи"},
    VocabularyWord{"Разряды", "+130", "тысяч"},
    VocabularyWord{"Разряды", "+16 ", "миллион"},
    VocabularyWord{"Разряды", "+16A", "миллиона"},
    VocabularyWord{"Разряды", "+16B", "миллионов"},
    VocabularyWord{"Денежные единицы", "+GRA", "гривна"},
    VocabularyWord{"Денежные единицы", "+GRI", "гривны"},
    VocabularyWord{"Денежные единицы", "+GRE", "гривен"},
    VocabularyWord{"Денежные единицы", "+RR ", "рубль"},
    VocabularyWord{"Денежные единицы", "+RRA", "рубля"},
    VocabularyWord{"Денежные единицы", "+RRE", "рублей"},
    VocabularyWord{"Денежные единицы", "+DLR", "доллар"},
    VocabularyWord{"Денежные единицы", "+DLA", "доллара"},
    VocabularyWord{"Денежные единицы", "+DLV", "долларов"},
    VocabularyWord{"Денежные единицы", "+EUR", "евро"},
    VocabularyWord{"Разменные единицы", "+SS ", "копейка"},
    VocabularyWord{"Разменные единицы", "+SSI", "копейки"},
    VocabularyWord{"Разменные единицы", "+SSK", "копеек"},
    VocabularyWord{"Разменные единицы", "+CNT", "цент"},
    VocabularyWord{"Разменные единицы", "+CNA", "цента"},
    VocabularyWord{"Разменные единицы", "+CNV", "центов"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E01", "первого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E02", "второго"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E03", "третьего"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E04", "четвёртого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E05", "пятого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E06", "шестого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E07", "седьмого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E08", "восьмого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E09", "девятого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E10", "десятого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E11", "одиннадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E12", "двенадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E13", "тринадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E14", "четырнадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E15", "пятнадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E16", "шестнадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E17", "семнадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E18", "восемнадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E19", "девятнадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E20", "двадцатого"},
    VocabularyWord{"Числа месяца (родительный падеж)", "_E30", "тридцатого"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O01", "первое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O02", "второе"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O03", "третье"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O04", "четвёртое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O05", "пятое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O06", "шестое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O07", "седьмое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O08", "восьмое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O09", "девятое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O10", "десятое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O11", "одиннадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O12", "двенадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O13", "тринадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O14", "четырнадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O15", "пятнадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O16", "шестнадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O17", "семнадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O18", "восемнадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O19", "девятнадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O20", "двадцатое"},
    VocabularyWord{"Числа месяца (именительный падеж)", "_O30", "тридцатое"},
    VocabularyWord{"Месяцы", "+T01", "января"},
    VocabularyWord{"Месяцы", "+T02", "февраля"},
    VocabularyWord{"Месяцы", "+T03", "марта"},
    VocabularyWord{"Месяцы", "+T04", "апреля"},
    VocabularyWord{"Месяцы", "+T05", "мая"},
    VocabularyWord{"Месяцы", "+T06", "июня"},
    VocabularyWord{"Месяцы", "+T07", "июля"},
    VocabularyWord{"Месяцы", "+T08", "августа"},
    VocabularyWord{"Месяцы", "+T09", "сентября"},
    VocabularyWord{"Месяцы", "+T10", "октября"},
    VocabularyWord{"Месяцы", "+T11", "ноября"},
    VocabularyWord{"Месяцы", "+T12", "декабря"},
    VocabularyWord{"Часы и минуты", "+CLC", "час"},
    VocabularyWord{"Часы и минуты", "+CLA", "часа"},
    VocabularyWord{"Часы и минуты", "+CLW", "часов"},
    VocabularyWord{"Часы и минуты", "+MNA", "минута"},
    VocabularyWord{"Часы и минуты", "+MNI", "минуты"},
    VocabularyWord{"Часы и минуты", "+MNT", "минут"},
    VocabularyWord{"Адрес", "HOME", "дом"},
    VocabularyWord{"Адрес", "FLAT", "квартира"},
    VocabularyWord{"Адрес", "___/", "дробь"},
    VocabularyWord{"Адрес", "___А", "а"},
    VocabularyWord{"Адрес", "___Б", "бэ"},
    VocabularyWord{"Адрес", "___В", "вэ"},
    VocabularyWord{"Адрес", "___Г", "гэ"},
    VocabularyWord{"Адрес", "___Д", "дэ"},
    VocabularyWord{"Адрес", "___Е", "е"},
    VocabularyWord{"Адрес", "___Ж", "жэ"},
    VocabularyWord{"Адрес", "___З", "зэ"},
    VocabularyWord{"Адрес", "___И", "и"},
    VocabularyWord{"Адрес", "___К", "ка"},
    VocabularyWord{"Служебные", "__PS", "пауза"},
};

constexpr std::array kFunctions = {
    FunctionName{0u, "Телефон"},
    FunctionName{1u, "Номер лицевого счета"},
    FunctionName{2u, "Время"},
    FunctionName{3u, "Дата (родительный падеж)"},
    FunctionName{4u, "Дата (именительный падеж)"},
    FunctionName{5u, "Резерв 5 (ничего не произносит)"},
    FunctionName{6u, "Резерв 6 (ничего не произносит)"},
    FunctionName{7u, "Сумма (гривны)"},
    FunctionName{8u, "Число по группам цифр"},
    FunctionName{9u, "Сумма (рубли)"},
    FunctionName{10u, "Сумма (доллары)"},
    FunctionName{11u, "Дом"},
    FunctionName{12u, "Квартира"},
    FunctionName{13u, "Сумма (евро)"},
};

constexpr std::string_view kCardinals = "Количественные числительные";
constexpr std::string_view kHoursAndMinutes = "Часы и минуты";

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The cardinals without the feminine forms of one and two.
bool masculineCardinal(const VocabularyWord& word)
{
    return word.group == kCardinals && word.code != "_01A" && word.code != "_02E";
}

bool pause(const VocabularyWord& word) { return word.code == "__PS"; }

// A date's day ordinals of one set, the tens that join them, the pause and the months.
bool dateWord(const VocabularyWord& word, std::string_view ordinalPrefix)
{
    return startsWith(word.code, ordinalPrefix) || word.code == "_020" || word.code == "_030" || pause(word) ||
           startsWith(word.code, "+T");
}

// A sum: every cardinal, the scales, the pause and the currency's unit and minor-unit words.
bool sumWord(const VocabularyWord& word, std::string_view unit, std::string_view minorUnit)
{
    return word.group == kCardinals || word.group == "Разряды" || pause(word) || startsWith(word.code, unit) ||
           startsWith(word.code, minorUnit);
}

bool addressWord(const VocabularyWord& word, std::string_view leadWord)
{
    return word.code == leadWord || startsWith(word.code, "___") || masculineCardinal(word) || pause(word);
}

}  // namespace

std::vector<std::string_view> functionVocabulary(unsigned number)
{
    std::vector<std::string_view> codes;
    const auto pick = [&](auto belongs) {
        for (const VocabularyWord& word : kVocabulary)
            if (belongs(word))
                codes.push_back(word.code);
    };
    switch (number) {
    case 0:
    case 1:
    case 8:
        pick([](const VocabularyWord& w) { return masculineCardinal(w) || pause(w); });
        break;
    case 2:
        // Hours and minutes are two digits each: no hundreds.
        pick([](const VocabularyWord& w) {
            return (w.group == kCardinals && w.code[1] == '0') || w.group == kHoursAndMinutes;
        });
        break;
    case 3:
        pick([](const VocabularyWord& w) { return dateWord(w, "_E"); });
        break;
    case 4:
        pick([](const VocabularyWord& w) { return dateWord(w, "_O"); });
        break;
    case 7:
        pick([](const VocabularyWord& w) { return sumWord(w, "+GR", "+SS"); });
        break;
    case 9:
        pick([](const VocabularyWord& w) { return sumWord(w, "+RR", "+SS"); });
        break;
    case 10:
        pick([](const VocabularyWord& w) { return sumWord(w, "+DL", "+CN"); });
        break;
    case 11:
        pick([](const VocabularyWord& w) { return addressWord(w, "HOME"); });
        break;
    case 12:
        pick([](const VocabularyWord& w) { return addressWord(w, "FLAT"); });
        break;
    case 13:
        pick([](const VocabularyWord& w) { return sumWord(w, "+EUR", "+CN"); });
        break;
    default:
        break;
    }
    return codes;
}

std::span<const VocabularyWord> converterVocabulary() { return kVocabulary; }

std::span<const FunctionName> templateFunctionNames() { return kFunctions; }

}  // namespace peltra::speech
