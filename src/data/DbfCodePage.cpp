// Code page tables for dBase text, filled from iconv one byte at a time.
#include "data/DbfCodePage.h"

#include "platform/text/CodePage.h"
#include "platform/text/Utf8.h"

#include <iconv.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace peltra::data {
namespace {

struct DriverEntry {
    std::uint8_t driver;
    unsigned codePage;
};

// dBase IV / FoxPro language drivers. 0x57 is "the system's ANSI page", which on the Russian
// Windows these tables come from is 1251.
constexpr DriverEntry kDrivers[] = {
    {0x01, 437}, {0x02, 850}, {0x03, 1252}, {0x08, 865}, {0x09, 437}, {0x0A, 850}, {0x0B, 437},
    {0x0D, 437}, {0x0E, 850}, {0x0F, 437}, {0x10, 850}, {0x11, 437}, {0x12, 850}, {0x14, 850},
    {0x15, 437}, {0x16, 850}, {0x17, 865}, {0x18, 437}, {0x19, 437}, {0x1A, 850}, {0x1B, 437},
    {0x1C, 863}, {0x1D, 850}, {0x1F, 852}, {0x22, 852}, {0x23, 852}, {0x24, 860}, {0x25, 850},
    {0x26, 866}, {0x37, 850}, {0x40, 852}, {0x57, 1251}, {0x58, 1252}, {0x59, 1252}, {0x64, 852},
    {0x65, 866}, {0x66, 865}, {0x67, 861}, {0x6A, 737}, {0x6B, 857}, {0x86, 737}, {0x87, 852},
    {0x88, 857}, {0xC8, 1250}, {0xC9, 1251}, {0xCA, 1254}, {0xCB, 1253}, {0xCC, 1257},
};

// Drivers of multi-byte (CJK, Thai) pages, which these tables cannot be decoded with.
constexpr std::uint8_t kMultiByteDrivers[] = {0x13, 0x4D, 0x4E, 0x4F, 0x50, 0x78, 0x79, 0x7A, 0x7B, 0x7C};

// One byte through iconv; empty when the page leaves it undefined.
std::string byteToUtf8(iconv_t cd, unsigned char byte)
{
    char in = static_cast<char>(byte);
    char out[8];
    char* inPtr = &in;
    char* outPtr = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return {};
    return std::string(out, sizeof out - outLeft);
}

}  // namespace

std::optional<unsigned> codePageOfLanguageDriver(std::uint8_t driver)
{
    for (const auto& entry : kDrivers)
        if (entry.driver == driver)
            return entry.codePage;
    for (std::uint8_t multi : kMultiByteDrivers)
        if (multi == driver)
            return std::nullopt;
    return 866;
}

bool isCodePageMark(std::uint8_t driver)
{
    for (const auto& entry : kDrivers)
        if (entry.driver == driver)
            return true;
    return std::find(std::begin(kMultiByteDrivers), std::end(kMultiByteDrivers), driver) != std::end(kMultiByteDrivers);
}

unsigned cyrillicCodePageOf(std::string_view text)
{
    std::size_t dos = 0;
    std::size_t windows = 0;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0xAF)
            ++dos;
        else if ((b >= 0xC0 && b <= 0xDF) || b >= 0xF2 || b == 0xB8)
            ++windows;
    }
    return windows > dos ? 1251 : 866;
}

std::uint8_t languageDriverOfCodePage(unsigned codePage)
{
    switch (codePage) {
    case 866: return 0x65;
    case 1251: return 0xC9;
    case 1252: return 0x03;
    case 437: return 0x01;
    default: break;
    }
    for (const auto& entry : kDrivers)
        if (entry.codePage == codePage)
            return entry.driver;
    return 0;
}

std::shared_ptr<const DbfCodePage> DbfCodePage::get(unsigned codePage)
{
    static std::mutex mutex;
    static std::map<unsigned, std::shared_ptr<const DbfCodePage>> cache;
    std::lock_guard lock(mutex);
    if (auto it = cache.find(codePage); it != cache.end())
        return it->second;
    std::shared_ptr<DbfCodePage> page(new DbfCodePage(codePage));
    if (!page->build())
        return nullptr;
    cache.emplace(codePage, page);
    return page;
}

bool DbfCodePage::build()
{
    // The two Cyrillic pages go through the platform's converter; others straight through iconv.
    std::optional<platform::CodePage> platformPage;
    if (m_number == 866)
        platformPage = platform::CodePage::Cp866;
    else if (m_number == 1251)
        platformPage = platform::CodePage::Cp1251;

    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    if (!platformPage) {
        const std::string name = "CP" + std::to_string(m_number);
        cd = iconv_open("UTF-8", name.c_str());
        if (cd == reinterpret_cast<iconv_t>(-1))
            return false;
    }
    for (unsigned b = 0; b < 256; ++b) {
        std::string utf8;
        if (b < 0x80) {
            utf8.assign(1, static_cast<char>(b));
        } else if (platformPage) {
            const char byte = static_cast<char>(b);
            utf8 = platform::toUtf8(std::string_view(&byte, 1), *platformPage).value_or("");
        } else {
            utf8 = byteToUtf8(cd, static_cast<unsigned char>(b));
        }
        char32_t cp = 0;
        if (!utf8.empty() && platform::decodeUtf8(utf8, 0, cp) == utf8.size()) {
            m_fromUnicode.emplace(cp, static_cast<char>(b));
            m_toUtf8[b] = utf8;
        } else {
            m_toUtf8[b] = "\xEF\xBF\xBD";  // U+FFFD
        }
    }
    if (cd != reinterpret_cast<iconv_t>(-1))
        iconv_close(cd);
    return true;
}

void DbfCodePage::decode(std::string_view bytes, std::string& out) const
{
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80)
            out.push_back(c);
        else
            out += m_toUtf8[b];
    }
}

std::optional<std::string> DbfCodePage::encode(std::string_view utf8) const
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[pos]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++pos;
            continue;
        }
        char32_t cp = 0;
        const std::size_t length = platform::decodeUtf8(utf8, pos, cp);
        if (length == 0)
            return std::nullopt;
        const auto it = m_fromUnicode.find(cp);
        if (it == m_fromUnicode.end())
            return std::nullopt;
        out.push_back(it->second);
        pos += length;
    }
    return out;
}

}  // namespace peltra::data
