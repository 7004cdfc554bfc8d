// RIFF files built byte by byte for the WAV and phonogram library tests, not by the code under test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace peltra::test {

inline std::string le32(std::uint32_t v)
{
    std::string out;
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
    return out;
}

inline std::string le16(std::uint16_t v) { return le32(v).substr(0, 2); }

// A chunk as RIFF lays it out; pad adds the zero byte after odd data.
inline std::string chunk(const std::string& id, const std::string& data, bool pad = true)
{
    return id + le32(static_cast<std::uint32_t>(data.size())) + data + std::string(pad && data.size() % 2, '\0');
}

// A RIFF WAVE file around body, declaring its true size unless told another.
inline std::string riff(const std::string& body, std::optional<std::uint32_t> size = std::nullopt)
{
    return "RIFF" + le32(size.value_or(static_cast<std::uint32_t>(4 + body.size()))) + "WAVE" + body;
}

}  // namespace peltra::test
