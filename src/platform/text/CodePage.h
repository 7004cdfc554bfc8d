// Conversions between the station's UTF-8 text and the code pages found at its edges.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace peltra::platform {

enum class CodePage { Utf8, Cp1251, Cp866, Utf16Le };

// Converts bytes in one code page to another. Nothing when the input is not valid in the source
// code page or a character has no place in the target one.
std::optional<std::string> convertCodePage(std::string_view bytes, CodePage from, CodePage to);

// Shorthands for the usual directions.
std::optional<std::string> toUtf8(std::string_view bytes, CodePage from);
std::optional<std::string> fromUtf8(std::string_view utf8, CodePage to);

}  // namespace peltra::platform
