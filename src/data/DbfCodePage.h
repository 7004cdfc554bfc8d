// Single-byte code pages of dBase tables: the language-driver byte and fast byte <-> UTF-8 tables.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace peltra::data {

// The Windows code page number (866, 1251, 1252, 437, ...) that a language-driver byte (header
// offset 29) names; 866, the usual code page of Russian dBase tables, for bytes that mark none.
// Nothing for drivers of multi-byte code pages, which are not supported.
std::optional<unsigned> codePageOfLanguageDriver(std::uint8_t driver);

// Whether a language-driver byte marks the table's code page; 0 and bytes no driver uses leave the
// table unmarked, and its code page is then judged from its text.
bool isCodePageMark(std::uint8_t driver);

// The Cyrillic code page Russian text in these bytes is written in: 1251 when more of its bytes are
// letters only cp1251 uses (0xC0-0xDF, 0xF2-0xFF, 0xB8 'ё') than letters only cp866 uses
// (0x80-0xAF); 866 otherwise, a tie and text without such bytes included. The bytes 0xE0-0xF1 are
// letters in both and do not count.
unsigned cyrillicCodePageOf(std::string_view text);

// The language-driver byte written for a code page: 866 -> 0x65, 1251 -> 0xC9, 1252 -> 0x03,
// 437 -> 0x01, ...; 0 for a page without one.
std::uint8_t languageDriverOfCodePage(unsigned codePage);

// Conversion tables of one single-byte code page, built once through iconv. Bytes that the code page
// leaves undefined decode to U+FFFD and no character encodes to them.
class DbfCodePage {
public:
    // Nothing when iconv does not know the page or it is not a single-byte page.
    static std::shared_ptr<const DbfCodePage> get(unsigned codePage);

    unsigned number() const { return m_number; }

    // Appends the UTF-8 form of the bytes.
    void decode(std::string_view bytes, std::string& out) const;

    // The bytes of UTF-8 text; nothing when the text is not UTF-8 or has a character the page lacks.
    std::optional<std::string> encode(std::string_view utf8) const;

private:
    explicit DbfCodePage(unsigned number) : m_number(number) {}
    bool build();

    unsigned m_number;
    std::array<std::string, 256> m_toUtf8;
    std::unordered_map<char32_t, char> m_fromUnicode;
};

}  // namespace peltra::data
