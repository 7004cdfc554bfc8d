// Code page conversions through iconv.
#include "platform/text/CodePage.h"

#include <iconv.h>

#include <cerrno>

namespace peltra::platform {
namespace {

const char* iconvName(CodePage page)
{
    switch (page) {
    case CodePage::Utf8: return "UTF-8";
    case CodePage::Cp1251: return "CP1251";
    case CodePage::Cp866: return "CP866";
    case CodePage::Utf16Le: return "UTF-16LE";
    }
    return "UTF-8";
}

}  // namespace

std::optional<std::string> convertCodePage(std::string_view bytes, CodePage from, CodePage to)
{
    iconv_t cd = iconv_open(iconvName(to), iconvName(from));
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;

    std::string out;
    out.resize(bytes.size() * 4 + 16);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t written = 0;
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = out.data() + written;
        std::size_t outLeft = out.size() - written;
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        written = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        ok = false;  // EILSEQ or EINVAL: a character that cannot be converted, or a cut sequence
        break;
    }
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.resize(written);
    return out;
}

std::optional<std::string> toUtf8(std::string_view bytes, CodePage from)
{
    return convertCodePage(bytes, from, CodePage::Utf8);
}

std::optional<std::string> fromUtf8(std::string_view utf8, CodePage to)
{
    return convertCodePage(utf8, CodePage::Utf8, to);
}

}  // namespace peltra::platform
