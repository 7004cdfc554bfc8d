// The converters' vocabulary: well-formed codes, and for every template function, exactly the
// codes that function speaks over a wide spread of field values.
#include "speech/Vocabulary.h"

#include "speech/Catalogue.h"
#include "speech/TemplateFunctions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace peltra::speech {
namespace {

std::set<std::string> converterCodes()
{
    std::set<std::string> codes;
    for (const VocabularyWord& word : converterVocabulary())
        codes.insert(std::string(word.code));
    return codes;
}

TEST(VocabularyTest, EveryWordIsAUniquePhraseCodeWithAUniqueNameInItsGroup)
{
    std::set<std::string> codes;
    std::set<std::pair<std::string, std::string>> names;
    std::vector<std::string> groupOrder;
    ASSERT_FALSE(converterVocabulary().empty());
    for (const VocabularyWord& word : converterVocabulary()) {
        SCOPED_TRACE(std::string(word.code));
        EXPECT_TRUE(isPhraseCode(word.code));
        EXPECT_NE(word.code[0], '@') << "function codes are not words";
        EXPECT_NE(word.code[0], '#') << "dictionary codes are not words";
        EXPECT_NE(word.code, kDeliveryMarker);
        EXPECT_TRUE(codes.insert(std::string(word.code)).second) << "code listed twice";
        EXPECT_FALSE(word.text.empty());
        EXPECT_FALSE(word.group.empty());
        // The text is the leaf's name in the catalogue: it must be a key name, once per folder.
        EXPECT_EQ(word.text.find('\\'), std::string_view::npos);
        EXPECT_EQ(word.group.find('\\'), std::string_view::npos);
        EXPECT_TRUE(names.insert({std::string(word.group), std::string(word.text)}).second) << word.text;
        // Each group is one run, so the catalogue shows its folders in the order given.
        if (groupOrder.empty() || groupOrder.back() != word.group) {
            EXPECT_EQ(std::count(groupOrder.begin(), groupOrder.end(), std::string(word.group)), 0)
                << "group " << word.group << " is split";
            groupOrder.emplace_back(word.group);
        }
    }
    EXPECT_TRUE(codes.count(kPause));
}

TEST(VocabularyTest, TemplateFunctionsAreNumberedZeroToThirteen)
{
    const auto functions = templateFunctionNames();
    ASSERT_EQ(functions.size(), 14u);
    std::set<std::string_view> names;
    for (unsigned n = 0; n < functions.size(); ++n) {
        EXPECT_EQ(functions[n].number, n);
        EXPECT_FALSE(functions[n].name.empty());
        EXPECT_EQ(functions[n].name.find('\\'), std::string_view::npos);
        EXPECT_TRUE(names.insert(functions[n].name).second) << functions[n].name;
    }
}

TEST(VocabularyTest, FunctionsThatSpeakNothingHaveNoVocabulary)
{
    for (const unsigned n : {5u, 6u, 14u, 99u, 1000u})
        EXPECT_TRUE(functionVocabulary(n).empty()) << n;
    for (unsigned n = 0; n <= 13; ++n) {
        if (n != 5 && n != 6) {
            EXPECT_FALSE(functionVocabulary(n).empty()) << n;
        }
    }
}

TEST(VocabularyTest, EachFunctionsVocabularyIsPartOfTheConvertersAndListedOnce)
{
    const std::set<std::string> all = converterCodes();
    for (unsigned n = 0; n <= 14; ++n) {
        std::set<std::string> seen;
        for (std::string_view code : functionVocabulary(n)) {
            EXPECT_TRUE(all.count(std::string(code))) << "function " << n << ": " << code;
            EXPECT_TRUE(seen.insert(std::string(code)).second) << "function " << n << " lists " << code << " twice";
        }
    }
}

std::string twoDigits(unsigned v)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02u", v % 100);
    return text;
}

// Field texts of every shape a table holds for a function.
std::vector<std::string> fieldsFor(unsigned function)
{
    std::vector<std::string> fields = {"", " ", "abc", "-5", "0", "00", "\xFF\xFE"};
    const auto numbers = [&](unsigned step) {
        for (unsigned v = 0; v <= 99999; v += step)
            fields.push_back(std::to_string(v));
        for (const char* v : {"100000", "999999", "1000000", "1000001", "2000000", "5000000", "21999999",
                              "123456789", "999999999", "1000000000", "4294967296", "007", "0000"})
            fields.emplace_back(v);
    };
    switch (function) {
    case 0:
    case 1:
    case 8:
        numbers(7);
        for (unsigned length = 1; length <= 12; ++length) {
            for (const char* digits : {"0123456789", "9876543210", "1111111111", "2020202020", "1357913579"}) {
                std::string phone;
                while (phone.size() < length)
                    phone += digits;
                fields.push_back(phone.substr(0, length));
                fields.push_back(phone.substr(0, length).insert(length / 2, "-"));
            }
        }
        for (unsigned v = 0; v < 1000; ++v) {
            fields.push_back("23" + std::to_string(v) + "45");
            fields.push_back(std::to_string(v) + "6789");
        }
        break;
    case 2:
        for (unsigned h = 0; h < 24; ++h)
            for (unsigned m = 0; m < 60; ++m)
                fields.push_back(twoDigits(h) + ":" + twoDigits(m));
        for (const char* t : {"9:30", "99:99", "24:00", "60:70", "85:80", "100:100", "7", "12:5", "1230", "10:30:45"})
            fields.emplace_back(t);
        break;
    case 3:
    case 4:
        for (unsigned month = 0; month <= 13; ++month)
            for (unsigned day = 0; day <= 32; ++day) {
                fields.push_back("2024-" + twoDigits(month) + "-" + twoDigits(day));
                fields.push_back("2008/" + std::to_string(month) + "/" + std::to_string(day) + " 10:30:00");
            }
        for (const char* d : {"25.03", "2024", "2024-02", "1999 - 12 - 31", "2024-99-99"})
            fields.emplace_back(d);
        break;
    case 7:
    case 9:
    case 10:
    case 13:
        numbers(13);
        for (unsigned v = 0; v <= 99999; v += 97)
            for (const char* minor : {",0", ",01", ",1", ",02", ",21", ",5", ",05", ",11", ",32", ",99", ".50"})
                fields.push_back(std::to_string(v) + minor);
        for (const char* s : {"1 000 000", "1 251,32", "2 000 001,01", "0,0", ",5", "12,", "1e5"})
            fields.emplace_back(s);
        break;
    case 11:
    case 12: {
        const char* letters[] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З", "И", "К",
                                 "а", "б", "в", "г", "д", "е", "ж", "з", "и", "к", "Л", "Z"};
        for (unsigned v = 0; v <= 2000; v += 3) {
            fields.push_back(std::to_string(v));
            fields.push_back(std::to_string(v) + letters[v % 22]);
            fields.push_back(std::to_string(v) + "/" + std::to_string(v % 17));
            fields.push_back(std::to_string(v) + " корп. " + letters[(v / 3) % 22]);
        }
        for (const char* a : letters)
            fields.push_back(std::string("12") + a + "/3");
        for (const char* a : {"/", "1234567", "12-А", "  15  ", "дом 5"})
            fields.emplace_back(a);
        break;
    }
    default:
        numbers(997);
        break;
    }
    return fields;
}

// Every code the function speaks for the fields, with one field that speaks it.
std::map<std::string, std::string> spokenBy(unsigned function)
{
    std::map<std::string, std::string> spoken;
    const CalendarDate days[] = {{1, 1}, {31, 12}, {20, 6}};
    for (const std::string& field : fieldsFor(function)) {
        for (const CalendarDate& today : days) {
            PhraseList list;
            SpeakFunction(function, field, today, list);
            for (const std::string& code : list)
                spoken.emplace(code, field);
        }
    }
    return spoken;
}

// The check of a library relies on this: a template function never speaks a code outside its
// vocabulary, however the field is filled.
TEST(VocabularyTest, EachFunctionSpeaksOnlyItsVocabulary)
{
    for (unsigned function = 0; function <= 14; ++function) {
        SCOPED_TRACE("function " + std::to_string(function));
        const auto vocabulary = functionVocabulary(function);
        const std::set<std::string> allowed(vocabulary.begin(), vocabulary.end());
        for (const auto& [code, field] : spokenBy(function))
            EXPECT_TRUE(allowed.count(code)) << "\"" << code << "\" spoken for \"" << field << "\"";
    }
}

// The other direction: the vocabulary asks the library for no word the function cannot speak.
TEST(VocabularyTest, EveryWordOfAFunctionsVocabularyIsSpokenForSomeField)
{
    for (unsigned function = 0; function <= 13; ++function) {
        SCOPED_TRACE("function " + std::to_string(function));
        const auto spoken = spokenBy(function);
        for (std::string_view code : functionVocabulary(function))
            EXPECT_TRUE(spoken.count(std::string(code))) << "\"" << code << "\" is never spoken";
    }
}

// Each converter word is spoken by some function, so no recording in a fresh library is dead.
TEST(VocabularyTest, EveryConverterWordBelongsToSomeFunction)
{
    std::set<std::string> reachable;
    for (unsigned function = 0; function <= 13; ++function)
        for (std::string_view code : functionVocabulary(function))
            reachable.insert(std::string(code));
    for (const std::string& code : converterCodes())
        EXPECT_TRUE(reachable.count(code)) << code;
}

}  // namespace
}  // namespace peltra::speech
