// Upper-case folding of UTF-8 names, close to the registry's own comparison of key names.
#include "platform/text/CaseFold.h"

#include "platform/text/Utf8.h"

namespace peltra::platform {
namespace {

// Upper case of the letters that station names use: Latin, Greek and Cyrillic.
char32_t toUpper(char32_t c)
{
    if (c >= U'a' && c <= U'z')
        return c - 0x20;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))  // Latin-1 letters
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: mostly even upper, odd lower
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return (c % 2 == 0) ? c - 1 : c;
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F)
            return c;
        return (c % 2 == 1) ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)  // Greek small letters
        return c - 0x20;
    if (c == 0x3C2)  // final sigma
        return 0x3A3;
    if (c >= 0x430 && c <= 0x44F)  // Cyrillic а..я
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)  // Cyrillic ѐ..џ, ё among them
        return c - 0x50;
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return (c % 2 == 1) ? c - 1 : c;  // extended Cyrillic pairs: even upper, odd lower
    if (c >= 0x4C1 && c <= 0x4CE)
        return (c % 2 == 0) ? c - 1 : c;
    if (c == 0x4CF)
        return 0x4C0;
    return c;
}

}  // namespace

std::string foldCase(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp;
        const std::size_t length = decodeUtf8(utf8, pos, cp);
        if (length == 0) {
            out += utf8[pos++];
            continue;
        }
        if (cp < 0x80)
            out += static_cast<char>(toUpper(cp));
        else
            encodeUtf8(toUpper(cp), out);
        pos += length;
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    return foldCase(a) == foldCase(b);
}

}  // namespace peltra::platform
