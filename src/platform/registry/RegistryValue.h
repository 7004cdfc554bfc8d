// Typed registry values as the station stores them: numbers, texts, byte strings and string lists.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace peltra::platform {

// Value types with the numbers Windows gives them, so .reg files carry over unchanged.
enum class RegType : std::uint32_t {
    None = 0,
    Sz = 1,
    ExpandSz = 2,
    Binary = 3,
    Dword = 4,
    DwordBigEndian = 5,
    Link = 6,
    MultiSz = 7,
    ResourceList = 8,
    FullResourceDescriptor = 9,
    ResourceRequirementsList = 10,
    Qword = 11,
};

using Bytes = std::vector<std::uint8_t>;

// One stored value. Texts (Sz, ExpandSz, MultiSz) are held as UTF-8: a MultiSz is its strings
// each followed by a NUL, so an empty list is empty data. Numbers are little-endian. Every other
// type is the raw bytes it was given.
struct RegistryValue {
    RegType type = RegType::None;
    Bytes data;

    static RegistryValue dword(std::uint32_t value);
    static RegistryValue qword(std::uint64_t value);
    static RegistryValue text(const std::string& utf8, RegType type = RegType::Sz);
    static RegistryValue multiText(const std::vector<std::string>& strings);
    static RegistryValue binary(Bytes bytes, RegType type = RegType::Binary);

    // The first four data bytes as a little-endian number, missing bytes taken as zero:
    // what a DWORD read of a value of any type yields.
    std::uint32_t asDword() const;
    // The data up to the first NUL as text: what a text read of a value of any type yields.
    std::string asText() const;
    // The strings of a MultiSz (for other types: the one text, or none when empty).
    std::vector<std::string> asMultiText() const;

    bool operator==(const RegistryValue&) const = default;
};

}  // namespace peltra::platform
