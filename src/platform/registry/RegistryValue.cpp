// Construction and reading of typed registry values.
#include "platform/registry/RegistryValue.h"

#include <algorithm>

namespace peltra::platform {

RegistryValue RegistryValue::dword(std::uint32_t value)
{
    RegistryValue v{RegType::Dword, Bytes(4)};
    for (int i = 0; i < 4; ++i)
        v.data[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return v;
}

RegistryValue RegistryValue::qword(std::uint64_t value)
{
    RegistryValue v{RegType::Qword, Bytes(8)};
    for (int i = 0; i < 8; ++i)
        v.data[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return v;
}

RegistryValue RegistryValue::text(const std::string& utf8, RegType type)
{
    return RegistryValue{type, Bytes(utf8.begin(), utf8.end())};
}

RegistryValue RegistryValue::multiText(const std::vector<std::string>& strings)
{
    RegistryValue v{RegType::MultiSz, {}};
    for (const std::string& s : strings) {
        v.data.insert(v.data.end(), s.begin(), s.end());
        v.data.push_back(0);
    }
    return v;
}

RegistryValue RegistryValue::binary(Bytes bytes, RegType type)
{
    return RegistryValue{type, std::move(bytes)};
}

std::uint32_t RegistryValue::asDword() const
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
        value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return value;
}

std::string RegistryValue::asText() const
{
    const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
    return std::string(data.begin(), end);
}

std::vector<std::string> RegistryValue::asMultiText() const
{
    std::vector<std::string> strings;
    auto begin = data.begin();
    while (begin != data.end()) {
        const auto end = std::find(begin, data.end(), std::uint8_t{0});
        strings.emplace_back(begin, end);
        begin = end == data.end() ? end : end + 1;
    }
    return strings;
}

}  // namespace peltra::platform
