// Dates, times of day and house or flat designations spoken as phrase codes.
#pragma once

#include "speech/PhraseList.h"

#include <string_view>

namespace peltra::speech {

// Like the number converters, these only append to the list and never fail.

// A day ordinal and a month, with a pause between them: "25" and "03" speak the twenty-fifth of
// March. The second set gives the other ordinal case ("_O05" instead of "_E05"). Only the
// leading digits of each text count; a day outside 1-31 or a month outside 1-12 is left out,
// the pause stays.
void SayDate(PhraseList& list, std::string_view dayText, std::string_view monthText,
             bool secondSet);

// The number of the first two characters of a text (fewer when it is shorter): "00" is zero, "05"
// five, "14" fourteen, "9:" nine; a text that does not start with a digit is zero.
void SayTwoDigits(PhraseList& list, std::string_view twoChars, bool feminine);

// A time of day: hours from the first two characters and minutes from the last two, each
// followed by its word ("14:31" is fourteen hours thirty-one minutes, "9:30" nine hours thirty
// minutes). The text is taken as it is, not trimmed.
void SayTime(PhraseList& list, std::string_view text);

// A house or flat designation such as "12А" or "5/2" (UTF-8): runs of digits in groups, the
// slash and the letters А Б В Г Д Е Ж З И К of either case spelled; every other character is
// skipped without breaking the digit run around it.
void SayAddress(PhraseList& list, std::string_view text);

}  // namespace peltra::speech
