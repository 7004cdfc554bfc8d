// What a template function speaks for the text of a table field.
#pragma once

#include "speech/PhraseList.h"

#include <string_view>

namespace peltra::speech {

// A day of the year; the date functions speak today's when a field holds no whole date.
struct CalendarDate {
    unsigned day = 1;    // 1-31
    unsigned month = 1;  // 1-12
};

// The local date now.
CalendarDate today();

// Appends what template function `number` (0-13) speaks for a field holding `text` (UTF-8, as
// decoded from the table), with the caller's preparation: empty money is "0,0"; a date is split
// into pieces and today's date is spoken when there are fewer than three; house and flat speak
// their lead word only for text that is not empty or blank. Other numbers append nothing.
void SpeakFunction(unsigned number, std::string_view text, const CalendarDate& today,
                   PhraseList& list);

}  // namespace peltra::speech
