// Blanks around texts from tables, the store and the command line.
#pragma once

#include <string_view>

namespace peltra::platform {

// Space, tab, line breaks, vertical tab and form feed.
bool isBlank(char c);

// The text without blanks at either end.
std::string_view trimBlanks(std::string_view text);

}  // namespace peltra::platform
