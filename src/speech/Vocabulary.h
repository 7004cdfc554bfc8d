// Every phrase code the value converters and template functions can emit, with the Russian words
// they stand for, grouped as the standard catalogue shows them; and the template functions' names.
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace peltra::speech {

struct VocabularyWord {
    std::string_view group;  // the catalogue folder the word belongs in
    std::string_view code;   // four characters
    std::string_view text;   // what is spoken (and synthesised for a fresh library)
};

// In the order of the groups: cardinals, gender forms, scales, currencies, minor units, day
// ordinals of both sets, months, hours and minutes, house and flat words, spelled symbols, pause.
std::span<const VocabularyWord> converterVocabulary();

struct FunctionName {
    unsigned number;        // the "@NNN" code's number
    std::string_view name;  // the leaf's name and text
};

// The template functions 0 ... 13.
std::span<const FunctionName> templateFunctionNames();

// Every code template function `number` can speak, whatever the row holds; none for the
// functions that speak nothing.
std::vector<std::string_view> functionVocabulary(unsigned number);

}  // namespace peltra::speech
