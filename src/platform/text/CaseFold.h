// Case-insensitive comparison of UTF-8 names, the way the Windows registry compares key names.
#pragma once

#include <string>
#include <string_view>

namespace peltra::platform {

// The name with every letter that has an upper-case form replaced by it (Latin, Greek and
// Cyrillic, "ё" and the other extended Cyrillic letters included). Invalid UTF-8 bytes are kept
// as they are. Two names are the same name when their folds are equal; binary order of the
// folds is the enumeration order.
std::string foldCase(std::string_view utf8);

bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace peltra::platform
