// UTF-8 decoding and encoding of single code points.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace peltra::platform {

// Decodes the well-formed UTF-8 sequence starting at pos into out and returns its length in
// bytes; returns 0 (out untouched) for a malformed, overlong or truncated sequence or a surrogate.
std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& out);

// Appends the UTF-8 form of a code point.
void encodeUtf8(char32_t codePoint, std::string& out);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// The number of characters a text shows in a fixed-width column: its code points, a byte of a
// malformed sequence counting as one.
std::size_t utf8Width(std::string_view text);

}  // namespace peltra::platform
