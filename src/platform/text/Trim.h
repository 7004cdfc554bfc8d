// Blanks around texts from tables, the store and the command line, and texts made one line.
#pragma once

#include <string>
#include <string_view>

namespace peltra::platform {

// Space, tab, line breaks, vertical tab and form feed.
bool isBlank(char c);

// The text without blanks at either end.
std::string_view trimBlanks(std::string_view text);

// A message text on one line, for a log line or a list cell: CR LF and LF become " / ", and none
// is left at the end.
std::string oneLine(const std::string& text);

}  // namespace peltra::platform
