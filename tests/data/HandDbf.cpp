// Byte-level packing and unpacking of dBase tables for the codec's tests.
#include "HandDbf.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace peltra::test {
void put16(std::string& b, std::size_t at, unsigned v)
{
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

namespace {

unsigned get8(const std::string& b, std::size_t at) { return static_cast<unsigned char>(b.at(at)); }
unsigned get16(const std::string& b, std::size_t at) { return get8(b, at) | get8(b, at + 1) << 8; }

}  // namespace

std::string handTable(const HandLayout& layout, const std::vector<HandField>& fields,
                      const std::vector<std::string>& records, const std::vector<bool>& deleted)
{
    unsigned recordLength = 1;
    for (const auto& f : fields)
        recordLength += f.length;
    const unsigned headerLength = static_cast<unsigned>(32 + 32 * fields.size() + 1 + layout.backlink);
    std::string b(headerLength, '\0');
    b[0] = static_cast<char>(layout.version);
    b.replace(1, 3, "\x7C\x03\x05");
    put16(b, 4, records.size() & 0xFFFF);
    put16(b, 6, records.size() >> 16);
    put16(b, 8, headerLength);
    put16(b, 10, recordLength);
    b[29] = static_cast<char>(layout.driver);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t at = 32 + 32 * i;
        b.replace(at, fields[i].name.size(), fields[i].name);
        b[at + 11] = fields[i].type;
        b[at + 16] = static_cast<char>(fields[i].length);
        b[at + 17] = static_cast<char>(fields[i].decimals);
    }
    b[32 + 32 * fields.size()] = 0x0D;
    for (std::size_t r = 0; r < records.size(); ++r) {
        std::string record = records[r];
        if (record.size() != recordLength - 1)
            throw std::logic_error("hand record " + std::to_string(r) + " has the wrong length");
        b.push_back(r < deleted.size() && deleted[r] ? '*' : ' ');
        b += record;
    }
    b.push_back(0x1A);
    return b;
}

HandParsed handParse(const std::string& b)
{
    HandParsed p;
    p.version = static_cast<std::uint8_t>(get8(b, 0));
    p.count = get16(b, 4) | get16(b, 6) << 16;
    p.headerLength = static_cast<std::uint16_t>(get16(b, 8));
    p.recordLength = static_cast<std::uint16_t>(get16(b, 10));
    p.driver = static_cast<std::uint8_t>(get8(b, 29));
    for (std::size_t at = 32; b.at(at) != 0x0D; at += 32) {
        HandField f;
        f.name = b.substr(at, 11);
        f.name.resize(f.name.find('\0') == std::string::npos ? 11 : f.name.find('\0'));
        f.type = b[at + 11];
        f.length = static_cast<std::uint8_t>(get8(b, at + 16));
        f.decimals = static_cast<std::uint8_t>(get8(b, at + 17));
        p.fields.push_back(f);
    }
    for (std::uint32_t r = 0; r < p.count; ++r)
        p.records.push_back(b.substr(p.headerLength + std::size_t(r) * p.recordLength, p.recordLength));
    p.afterRecords = b.substr(std::min(b.size(), p.headerLength + std::size_t(p.count) * p.recordLength));
    return p;
}

std::string readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace peltra::test
