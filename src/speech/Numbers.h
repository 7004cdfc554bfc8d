// Numbers, digit strings, telephone numbers and sums of money spoken as phrase codes.
#pragma once

#include "speech/PhraseList.h"

#include <string_view>

namespace peltra::speech {

// The currency of a sum; the value is the one the template functions use.
enum class Currency { Hryvnia = 0, Rouble = 1, Dollar = 2, Euro = 3 };

// The unsigned number formed by the leading decimal digits of a text; 0 when the text does not
// start with a digit. Saturates at UINT_MAX, so overlong digit runs stay large instead of wrapping.
unsigned leadingValue(std::string_view text);

// Every converter below only appends to the end of the list and never fails: input it does not
// expect speaks partly or not at all. The feminine flag changes only the codes for 1 and 2.

// One digit '1'-'9'; '0' and any other character append nothing.
void SayDigit(PhraseList& list, char digit, bool feminine);

// Exactly two digit characters: "05" is spoken as zero five, "00" as zero zero, teens as one
// code. Any other text (other length, a non-digit) appends nothing.
void SayTens(PhraseList& list, std::string_view twoChars, bool feminine);

// Exactly three digit characters: hundreds, then the rest without a spoken zero ("105" is a
// hundred and five). Any other text appends nothing.
void SayHundreds(PhraseList& list, std::string_view threeChars, bool feminine);

// A value 1-999; 0 and values of 1000 and more append nothing.
void SayNumber(PhraseList& list, unsigned value, bool feminine);

// The digits of a text in groups of three from the right, each group after a pause and with its
// leading zeros spoken; no digits or more than nine append nothing.
void SayDigitGroups(PhraseList& list, std::string_view text);

// A local telephone number read in pairs; numbers of eight digits and more are read by their last
// four digits only.
void SayPhone(PhraseList& list, std::string_view text);

// A sum such as "1251,32" or "1 000 000.5": the whole part with millions and thousands, then the
// minor part taken as a whole number (".5" and ".05" are both five minor units).
void SayMoney(PhraseList& list, std::string_view text, Currency currency);

}  // namespace peltra::speech
