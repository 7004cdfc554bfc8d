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
#include <span>
#include <string>
#include <vector>

namespace peltra::speech {
namespace {

TEST(VocabularyTest, WordsAndFunctionNamesAreUniqueAndUsableAsKeyNames)
{
    std::set<std::string_view> codes;
    std::set<std::pair<std::string_view, std::string_view>> names;
    std::vector<std::string_view> groupOrder;
    for (const VocabularyWord& word : converterVocabulary()) {
        SCOPED_TRACE(std::string(word.code));
        EXPECT_TRUE(isPhraseCode(word.code));
        EXPECT_TRUE(word.code[0] != '@' && word.code[0] != '#' && word.code != kDeliveryMarker);
        EXPECT_TRUE(codes.insert(word.code).second) << "code listed twice";
        // The text is the leaf's name in the catalogue: a key name, once per folder.
        EXPECT_FALSE(word.text.empty() || word.group.empty());
        EXPECT_EQ((std::string(word.text) + std::string(word.group)).find('\\'), std::string::npos);
        EXPECT_TRUE(names.insert({word.group, word.text}).second) << word.text;
        // Each group is one run, so the catalogue shows its folders in the order given.
        if (groupOrder.empty() || groupOrder.back() != word.group) {
            EXPECT_EQ(std::count(groupOrder.begin(), groupOrder.end(), word.group), 0) << word.group << " is split";
            groupOrder.push_back(word.group);
        }
    }
    EXPECT_TRUE(codes.count(kPause));

    // Function names are key names too.
    std::set<std::string_view> functionNames;
    for (const FunctionName& function : templateFunctionNames()) {
        EXPECT_EQ(function.name.find('\\'), std::string_view::npos);
        EXPECT_TRUE(!function.name.empty() && functionNames.insert(function.name).second) << function.name;
    }
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

// The check of a library relies on this: a template function speaks exactly its vocabulary, no
// code outside it however the field is filled, and every code of it for some field; functions that
// speak nothing have none, and every converter word belongs to some function.
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

}  // namespace
}  // namespace peltra::speech
