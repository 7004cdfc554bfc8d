// Test helper: dBase tables packed and unpacked byte by byte at explicit offsets, independently of
// the codec under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace peltra::test {

struct HandField {
    std::string name;  // stored bytes, up to 10
    char type = 'C';
    std::uint8_t length = 0;
    std::uint8_t decimals = 0;
};

struct HandLayout {
    std::uint8_t version = 0x03;
    std::uint8_t driver = 0x65;
    std::size_t backlink = 0;  // bytes after the terminator (263 in Visual FoxPro tables)
};

// A whole table file, last updated 2024-03-05. Each record is given as its bytes without the
// deleted flag; a leading '*' in deleted marks the record.
std::string handTable(const HandLayout& layout, const std::vector<HandField>& fields,
                      const std::vector<std::string>& records, const std::vector<bool>& deleted = {});

// A table file taken apart.
struct HandParsed {
    std::uint8_t version = 0;
    std::uint32_t count = 0;
    std::uint16_t headerLength = 0;
    std::uint16_t recordLength = 0;
    std::uint8_t driver = 0;
    std::vector<HandField> fields;
    std::vector<std::string> records;  // whole records, deleted flag first
    std::string afterRecords;  // the bytes after the counted records (the end mark)
};

HandParsed handParse(const std::string& bytes);

// Puts a little-endian 16-bit value at byte at.
void put16(std::string& bytes, std::size_t at, unsigned value);

std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);

}  // namespace peltra::test
