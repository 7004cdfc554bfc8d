// Reading and writing dBase tables in place.
#include "data/DbfTable.h"

#include "platform/errors/SystemError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace peltra::data {
namespace {

constexpr std::size_t kHeaderSize = 32;
constexpr char kTerminator = 0x0D;
constexpr char kEndMark = 0x1A;

// Version bytes of dBase III, IV, 5 and 7, FoxBase, FoxPro and Visual FoxPro tables.
constexpr std::uint8_t kVersions[] = {0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x43, 0x63, 0x7B, 0x83,
                                      0x8B, 0x8C, 0x8E, 0xB3, 0xCB, 0xE5, 0xF5, 0xFB};

std::uint16_t u16(const std::string& b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t u32(const std::string& b, std::size_t at)
{
    return static_cast<std::uint32_t>(u16(b, at)) | static_cast<std::uint32_t>(u16(b, at + 2)) << 16;
}

void putU16(std::string& b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}

void putU32(std::string& b, std::size_t at, std::uint32_t v)
{
    putU16(b, at, v & 0xFFFF);
    putU16(b, at + 2, v >> 16);
}

void putDate(std::string& b, std::size_t at, DbfDate d)
{
    b[at] = static_cast<char>(std::clamp(d.year - 1900, 0, 255));
    b[at + 1] = static_cast<char>(d.month);
    b[at + 2] = static_cast<char>(d.day);
}

DbfDate localToday()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

// Whether a field's type letter is one of these (a NUL type byte is none of them).
bool typeIn(char type, std::string_view types)
{
    return type != '\0' && types.find(type) != std::string_view::npos;
}

// Field padding: blanks, and the NULs some writers leave in unused fields.
bool isPadding(char c)
{
    return c == ' ' || c == '\0';
}

std::string_view trimPadding(std::string_view s)
{
    while (!s.empty() && isPadding(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isPadding(s.back()))
        s.remove_suffix(1);
    return s;
}

// A number as dBase tools write it: optional sign, digits, '.' (or ','), exponent for F fields.
std::optional<double> parseNumber(std::string_view s)
{
    s = trimPadding(s);
    if (s.empty() || s.size() > 64)
        return std::nullopt;
    char buffer[72];
    std::size_t n = 0;
    std::size_t i = 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        i = 1;
    }
    if (i >= s.size() || !(std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.' || s[i] == ','))
        return std::nullopt;
    for (; i < s.size(); ++i)
        buffer[n++] = s[i] == ',' ? '.' : s[i];
    double value = 0;
    const auto [end, ec] = std::from_chars(buffer, buffer + n, value);
    if (ec != std::errc() || end != buffer + n || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

std::uint64_t getLe(std::string_view b, std::size_t n)
{
    std::uint64_t v = 0;
    for (std::size_t i = n; i-- > 0;)
        v = v << 8 | static_cast<unsigned char>(b[i]);
    return v;
}

void putLe(char* b, std::size_t n, std::uint64_t v)
{
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

// Julian day numbers, as Visual FoxPro's T fields count days.
long julianDay(const DbfDate& d)
{
    const long a = (14 - d.month) / 12;
    const long y = d.year + 4800 - a;
    const long m = d.month + 12 * a - 3;
    return d.day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

DbfDate fromJulianDay(long j)
{
    const long a = j + 32044;
    const long b = (4 * a + 3) / 146097;
    const long c = a - 146097 * b / 4;
    const long d = (4 * c + 3) / 1461;
    const long e = c - 1461 * d / 4;
    const long m = (5 * e + 2) / 153;
    return {static_cast<int>(100 * b + d - 4800 + m / 10), static_cast<int>(m + 3 - 12 * (m / 10)),
            static_cast<int>(e - (153 * m + 2) / 5 + 1)};
}

std::optional<DbfDate> parseDateDigits(std::string_view s)
{
    if (s.size() != 8)
        return std::nullopt;
    for (char c : s)
        if (c < '0' || c > '9')
            return std::nullopt;
    auto num = [&](std::size_t at, std::size_t len) {
        int v = 0;
        for (std::size_t i = at; i < at + len; ++i)
            v = v * 10 + (s[i] - '0');
        return v;
    };
    DbfDate d {num(0, 4), num(4, 2), num(6, 2)};
    if (!d.isValid())
        return std::nullopt;
    return d;
}

// Dates given as text: YYYYMMDD, or YYYY-MM-DD with '-', '/' or '.' between the parts.
std::optional<DbfDate> parseDateText(std::string_view s)
{
    if (s.size() == 10 && (s[4] == '-' || s[4] == '/' || s[4] == '.') && s[7] == s[4]) {
        std::string digits;
        digits.append(s.substr(0, 4)).append(s.substr(5, 2)).append(s.substr(8, 2));
        return parseDateDigits(digits);
    }
    return parseDateDigits(s);
}

std::string describe(const DbfField& f)
{
    char buffer[64];
    if (f.type == 'N' || f.type == 'F')
        std::snprintf(buffer, sizeof buffer, "%c %u,%u", f.type, unsigned(f.length), unsigned(f.decimals));
    else
        std::snprintf(buffer, sizeof buffer, "%c %u", f.type, unsigned(f.length));
    return buffer;
}

// Parses 32-byte (or dBase 7's 48-byte) field descriptors. Offsets follow each other from 1.
bool parseFields(const std::string& header, std::size_t start, std::size_t size, std::uint32_t recordLength,
                 const DbfCodePage& page, std::vector<DbfField>& fields, std::string& fault)
{
    fields.clear();
    const std::size_t nameSize = size == 48 ? 32 : 11;
    std::vector<std::uint8_t> highLength;
    std::size_t pos = start;
    bool terminated = false;
    while (pos < header.size()) {
        if (header[pos] == kTerminator) {
            terminated = true;
            break;
        }
        if (pos + size > header.size())
            break;
        DbfField field;
        const char* name = header.data() + pos;
        const std::size_t nameLength = std::find(name, name + nameSize, '\0') - name;
        page.decode(std::string_view(name, nameLength), field.name);
        field.type = header[pos + nameSize];
        field.length = static_cast<unsigned char>(header[pos + nameSize + 5]);
        field.decimals = static_cast<unsigned char>(header[pos + nameSize + 6]);
        if (size == 48) {
            field.length = static_cast<unsigned char>(header[pos + 33]);
            field.decimals = static_cast<unsigned char>(header[pos + 34]);
        } else {
            field.flags = static_cast<unsigned char>(header[pos + 18]);
        }
        highLength.push_back(field.decimals);
        fields.push_back(std::move(field));
        pos += size;
    }
    if (!terminated) {
        fault = "its field descriptors have no terminator within the header";
        return false;
    }
    if (fields.empty()) {
        fault = "it has no fields";
        return false;
    }
    for (const auto& f : fields)
        if (f.length == 0) {
            fault = "field \"" + f.name + "\" has length 0";
            return false;
        }
    auto total = [&](bool wideText) {
        std::uint64_t sum = 1;
        for (std::size_t i = 0; i < fields.size(); ++i)
            sum += fields[i].length + (wideText && fields[i].type == 'C' ? highLength[i] * 256u : 0u);
        return sum;
    };
    // FoxPro and Clipper keep the high byte of a long C field's length in the decimals byte.
    if (total(false) != recordLength && total(true) == recordLength) {
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fields[i].type == 'C') {
                fields[i].length = static_cast<std::uint16_t>(fields[i].length + highLength[i] * 256u);
                fields[i].decimals = 0;
            }
    }
    if (total(false) > recordLength) {
        fault = "its fields (" + std::to_string(total(false)) + " bytes with the deleted flag) run past the record length ("
            + std::to_string(recordLength) + " bytes)";
        return false;
    }
    std::uint32_t offset = 1;
    for (auto& f : fields) {
        f.offset = offset;
        offset += f.length;
    }
    return true;
}

// The stored text of the character fields of a table's first records (a bounded sample): what
// the code page of an unmarked table is judged from. Empty when they cannot be read.
std::string sampleText(DbfStorage& storage, std::uint32_t headerLength, std::uint32_t recordLength,
                       std::uint64_t records, const std::vector<DbfField>& fields)
{
    constexpr std::uint64_t kSampleRecords = 1000;
    constexpr std::uint64_t kSampleBytes = 256 * 1024;
    const std::uint64_t count =
        std::min({records, kSampleRecords, std::max<std::uint64_t>(1, kSampleBytes / recordLength)});
    std::string bytes(static_cast<std::size_t>(count * recordLength), '\0');
    std::size_t got = 0;
    std::string ignored;
    if (bytes.empty() || !storage.readAt(headerLength, bytes.data(), bytes.size(), got, ignored))
        return {};
    std::string text;
    for (std::size_t at = 0; at + recordLength <= got; at += recordLength)
        for (const DbfField& f : fields)
            if (f.type == 'C' && f.offset + f.length <= recordLength)
                text.append(bytes, at + f.offset, f.length);
    return text;
}

}  // namespace

DbfTable::~DbfTable() = default;

std::unique_ptr<DbfTable> DbfTable::open(const std::filesystem::path& path, const Options& options, std::string* error)
{
    std::string fault;
    auto storage = openFileStorage(path, options.writable, fault);
    if (!storage) {
        if (error)
            *error = "Table \"" + path.filename().string() + "\": " + fault;
        return nullptr;
    }
    auto table = openStorage(std::move(storage), path.filename().string(), options, error);
    if (table) {
        table->m_path = path;
        table->attachMemo();
    }
    return table;
}

std::unique_ptr<DbfTable> DbfTable::openStorage(std::unique_ptr<DbfStorage> storage, std::string name,
                                                const Options& options, std::string* error)
{
    std::unique_ptr<DbfTable> table(new DbfTable());
    table->m_storage = std::move(storage);
    table->m_name = std::move(name);
    table->m_writable = options.writable;
    table->m_forcedCodePage = options.codePage;
    table->m_unmarkedCodePage = options.unmarkedCodePage;
    std::string fault;
    if (!table->load(fault)) {
        table->fail(error, fault);
        return nullptr;
    }
    return table;
}

bool DbfTable::fail(std::string* error, const std::string& fault) const
{
    if (error)
        *error = "Table \"" + m_name + "\": " + fault;
    return false;
}

DbfDate DbfTable::today() const
{
    return m_today ? m_today() : localToday();
}

bool DbfTable::load(std::string& fault)
{
    std::uint64_t fileSize = 0;
    if (!m_storage->size(fileSize, fault))
        return false;
    if (fileSize < kHeaderSize + 1) {
        fault = "it is too short for a dBase table (" + std::to_string(fileSize) + " bytes)";
        return false;
    }
    std::string head(kHeaderSize, '\0');
    std::size_t got = 0;
    if (!m_storage->readAt(0, head.data(), head.size(), got, fault))
        return false;
    if (got < head.size()) {
        fault = "it is too short for a dBase table";
        return false;
    }
    const auto version = static_cast<std::uint8_t>(head[0]);
    if (std::find(std::begin(kVersions), std::end(kVersions), version) == std::end(kVersions)) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", unsigned(version));
        fault = std::string("it is not a dBase table (version byte ") + text + ")";
        return false;
    }
    const std::uint32_t headerLength = u16(head, 8);
    const std::uint32_t recordLength = u16(head, 10);
    if (headerLength < kHeaderSize + 1) {
        fault = "its header length (" + std::to_string(headerLength) + " bytes) is too small";
        return false;
    }
    if (headerLength > fileSize) {
        fault = "its header (" + std::to_string(headerLength) + " bytes) runs past the end of the file ("
            + std::to_string(fileSize) + " bytes)";
        return false;
    }
    if (recordLength < 2) {
        fault = "its record length (" + std::to_string(recordLength) + " bytes) is too small";
        return false;
    }
    std::string header(headerLength, '\0');
    if (!m_storage->readAt(0, header.data(), header.size(), got, fault))
        return false;
    if (got < header.size()) {
        fault = "its header could not be read whole";
        return false;
    }

    const auto driver = static_cast<std::uint8_t>(head[29]);
    // An unmarked table is read in the page its opener names, else in the page its own text is
    // judged to be in; a table read again after a pack keeps the page it was opened with.
    const bool judge = !m_forcedCodePage && !isCodePageMark(driver) && !m_unmarkedCodePage && !m_codePage;
    std::optional<unsigned> pageNumber = m_forcedCodePage ? m_forcedCodePage
        : isCodePageMark(driver)                       ? codePageOfLanguageDriver(driver)
        : m_unmarkedCodePage                           ? m_unmarkedCodePage
        : m_codePage                                   ? std::optional<unsigned>(m_codePage->number())
                                                       : std::optional<unsigned>(866);
    if (!pageNumber) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", unsigned(driver));
        fault = std::string("its language driver ") + text + " names a multi-byte code page, which is not supported";
        return false;
    }
    auto page = DbfCodePage::get(*pageNumber);
    if (!page) {
        fault = "code page " + std::to_string(*pageNumber) + " is not available";
        return false;
    }

    std::vector<DbfField> fields;
    auto parse = [&](const DbfCodePage& withPage) {
        if (parseFields(header, kHeaderSize, 32, recordLength, withPage, fields, fault))
            return true;
        // dBase 7 tables have a 68-byte header and 48-byte descriptors.
        std::string fault7;
        return (version & 0x07) == 4 && headerLength >= 69 && parseFields(header, 68, 48, recordLength, withPage, fields, fault7);
    };
    if (!parse(*page))
        return false;
    if (judge) {
        const std::uint64_t records = std::min<std::uint64_t>(u32(head, 4), (fileSize - headerLength) / recordLength);
        const unsigned judged = cyrillicCodePageOf(sampleText(*m_storage, headerLength, recordLength, records, fields));
        if (judged != page->number()) {
            page = DbfCodePage::get(judged);
            if (!page || !parse(*page)) {
                fault = "code page " + std::to_string(judged) + " is not available";
                return false;
            }
        }
    }

    m_version = version;
    m_languageDriver = driver;
    m_codePage = std::move(page);
    m_lastUpdate = {1900 + static_cast<unsigned char>(head[1]), static_cast<unsigned char>(head[2]),
                    static_cast<unsigned char>(head[3])};
    m_headerLength = headerLength;
    m_recordLength = recordLength;
    m_fields = std::move(fields);
    m_headerDamage.clear();
    std::uint64_t fieldBytes = 1;
    for (const auto& f : m_fields)
        fieldBytes += f.length;
    if (fieldBytes != recordLength)
        m_headerDamage = "its fields fill " + std::to_string(fieldBytes) + " bytes of each record, but its header says "
            + std::to_string(recordLength);
    // Visual FoxPro also records where each field begins in the record.
    for (std::size_t i = 0; i < m_fields.size() && m_headerDamage.empty() && isVisualFoxPro(); ++i) {
        const std::uint32_t stored = u32(header, kHeaderSize + 32 * i + 12);
        if (stored != 0 && stored != m_fields[i].offset)
            m_headerDamage = "field " + m_fields[i].name + " begins at byte " + std::to_string(m_fields[i].offset)
                + " of the record, but its header says " + std::to_string(stored);
    }
    // Visual FoxPro numbers the NULL marks of the fields that may hold NULL in field order; a
    // varying-length field takes a bit of its own as well.
    m_nullFlags.reset();
    int bit = 0;
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        DbfField& f = m_fields[i];
        f.nullBit = -1;
        if (!isVisualFoxPro())
            continue;
        if (f.type == '0')
            m_nullFlags = i;
        else if (f.type == 'V' || f.type == 'Q')
            ++bit;
        if (f.type != '0' && (f.flags & 0x02))
            f.nullBit = bit++;
    }
    if (!m_nullFlags || m_fields[*m_nullFlags].length * 8 < bit)
        for (auto& f : m_fields)
            f.nullBit = -1;
    m_declaredCount = u32(head, 4);
    const std::uint64_t present = (fileSize - headerLength) / recordLength;
    m_recordCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_declaredCount, present));
    if (!assess(fileSize, fault))
        return false;
    ++m_generation;
    return true;
}

bool DbfTable::isVisualFoxPro() const
{
    return m_version == 0x30 || m_version == 0x31 || m_version == 0x32;
}

// Finds and opens the memo file of a table with M fields: name.fpt for FoxPro tables, name.dbt
// for dBase tables, with the extension in the letter case of the table's own.
void DbfTable::attachMemo()
{
    m_memo.reset();
    if (std::none_of(m_fields.begin(), m_fields.end(), [](const DbfField& f) { return f.type == 'M'; }))
        return;
    const bool fox = m_version == 0xF5 || m_version == 0xFB || isVisualFoxPro();
    const std::string extension = m_path.extension().string();
    const bool upper = !extension.empty() && std::isupper(static_cast<unsigned char>(extension.back()));
    std::filesystem::path memoPath = m_path;
    memoPath.replace_extension(fox ? (upper ? ".FPT" : ".fpt") : (upper ? ".DBT" : ".dbt"));
    std::string fault;
    auto storage = openFileStorage(memoPath, m_writable, fault);
    if (storage) {
        const auto layout = fox ? DbfMemo::Layout::FoxPro
            : (m_version == 0x83 || m_version == 0x03) ? DbfMemo::Layout::DBase3
                                                       : DbfMemo::Layout::DBase4;
        m_memo = DbfMemo::open(std::move(storage), layout, fault);
    }
    std::uint64_t fileSize = 0;
    if (m_storage->size(fileSize, fault))
        assess(fileSize, fault);
}

// Sets damage() from the header's faults and from how the header fits the file now.
bool DbfTable::assess(std::uint64_t fileSize, std::string& fault)
{
    m_damage = m_headerDamage;
    const bool memoFields
        = std::any_of(m_fields.begin(), m_fields.end(), [](const DbfField& f) { return f.type == 'M'; });
    if (m_damage.empty() && memoFields && !m_memo)
        m_damage = "its memo file is missing or unreadable";
    if (m_damage.empty() && m_declaredCount > m_recordCount)
        m_damage = "its header counts " + std::to_string(m_declaredCount) + " records, but the file ("
            + std::to_string(fileSize) + " bytes) holds only " + std::to_string(m_recordCount);
    if (!m_damage.empty() || m_recordCount == 0)
        return true;
    for (const std::uint32_t index : {0u, m_recordCount - 1}) {
        char flag = 0;
        std::size_t got = 0;
        if (!m_storage->readAt(m_headerLength + std::uint64_t(index) * m_recordLength, &flag, 1, got, fault))
            return false;
        if (got == 1 && flag != ' ' && flag != '*') {
            m_damage = "record " + std::to_string(index + 1)
                + " does not begin with a deleted flag, so its header's lengths do not fit the records";
            break;
        }
    }
    return true;
}

std::optional<std::size_t> DbfTable::fieldIndex(std::string_view name) const
{
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const std::string& f = m_fields[i].name;
        if (f.size() == name.size()
            && std::equal(f.begin(), f.end(), name.begin(), [](char a, char b) {
                   auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
                   return up(a) == up(b);
               }))
            return i;
    }
    return std::nullopt;
}

bool DbfTable::refresh(std::string* error)
{
    std::string head(12, '\0');
    std::size_t got = 0;
    std::string fault;
    std::uint64_t fileSize = 0;
    if (!m_storage->size(fileSize, fault) || !m_storage->readAt(0, head.data(), head.size(), got, fault))
        return fail(error, fault);
    if (got < head.size() || static_cast<std::uint8_t>(head[0]) != m_version || u16(head, 8) != m_headerLength
        || u16(head, 10) != m_recordLength || fileSize < m_headerLength)
        return fail(error, "its structure changed since it was opened");
    m_declaredCount = u32(head, 4);
    const std::uint64_t present = (fileSize - m_headerLength) / m_recordLength;
    m_recordCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_declaredCount, present));
    m_lastUpdate = {1900 + static_cast<unsigned char>(head[1]), static_cast<unsigned char>(head[2]),
                    static_cast<unsigned char>(head[3])};
    if (!assess(fileSize, fault))
        return fail(error, fault);
    ++m_generation;
    return true;
}

bool DbfTable::readRecord(std::uint32_t index, std::string& bytes, std::string* error) const
{
    if (index >= m_recordCount)
        return fail(error, "record " + std::to_string(index) + " is past the end (" + std::to_string(m_recordCount)
                               + " records)");
    if (!readRecords(index, 1, bytes, error))
        return false;
    if (bytes.size() != m_recordLength)
        return fail(error, "record " + std::to_string(index) + " is no longer in the file");
    return true;
}

bool DbfTable::readRecords(std::uint32_t first, std::uint32_t count, std::string& bytes, std::string* error) const
{
    bytes.clear();
    if (first >= m_recordCount)
        return true;
    count = std::min(count, m_recordCount - first);
    bytes.resize(static_cast<std::size_t>(count) * m_recordLength);
    std::size_t got = 0;
    std::string fault;
    if (!m_storage->readAt(m_headerLength + std::uint64_t(first) * m_recordLength, bytes.data(), bytes.size(), got,
                           fault)) {
        bytes.clear();
        return fail(error, fault);
    }
    bytes.resize(got - got % m_recordLength);  // a file cut short since it was opened
    return true;
}

std::string_view DbfTable::rawField(std::string_view record, std::size_t field) const
{
    if (field >= m_fields.size())
        return {};
    const DbfField& f = m_fields[field];
    if (f.offset >= record.size())
        return {};
    return record.substr(f.offset, std::min<std::size_t>(f.length, record.size() - f.offset));
}

DbfValue DbfTable::value(std::string_view record, std::size_t field) const
{
    DbfValue out;
    value(record, field, out);
    return out;
}

void DbfTable::value(std::string_view record, std::size_t field, DbfValue& out) const
{
    out.text.clear();
    out.kind = DbfValue::Kind::Null;
    if (field >= m_fields.size())
        return;
    const DbfField& f = m_fields[field];
    const std::string_view raw = rawField(record, field);
    auto asRaw = [&] {
        out.kind = DbfValue::Kind::Raw;
        out.text.assign(raw);
    };
    if (raw.size() != f.length)
        return asRaw();
    if (f.nullBit >= 0) {
        const std::string_view flags = rawField(record, *m_nullFlags);
        const auto byte = static_cast<std::size_t>(f.nullBit / 8);
        if (byte < flags.size() && (static_cast<unsigned char>(flags[byte]) >> (f.nullBit % 8) & 1))
            return;
    }
    if (f.type == 'M') {
        if (!readMemo(raw, f, out))
            asRaw();
        return;
    }
    if (isVisualFoxPro()) {
        switch (f.type) {
        case 'I':
            if (f.length != 4)
                break;
            out.kind = DbfValue::Kind::Number;
            out.number = static_cast<std::int32_t>(getLe(raw, 4));
            return;
        case 'Y':
            if (f.length != 8)
                break;
            out.kind = DbfValue::Kind::Number;
            out.number = static_cast<double>(static_cast<std::int64_t>(getLe(raw, 8))) / 10000.0;
            return;
        case 'B': {
            if (f.length != 8)
                break;
            const std::uint64_t bits = getLe(raw, 8);
            double number = 0;
            std::memcpy(&number, &bits, sizeof number);
            if (!std::isfinite(number))
                return asRaw();
            out.kind = DbfValue::Kind::Number;
            out.number = number;
            return;
        }
        case 'T': {
            if (f.length != 8)
                break;
            const auto day = static_cast<std::int32_t>(getLe(raw, 4));
            const auto ms = static_cast<std::int32_t>(getLe(raw.substr(4), 4));
            if (day == 0 && ms == 0)
                return;
            const DbfDate date = fromJulianDay(day);
            if (day < 0 || ms < 0 || ms >= 86400000 || !date.isValid())
                return asRaw();
            const int seconds = ms / 1000;
            char text[32];
            std::snprintf(text, sizeof text, "%s %02d:%02d:%02d", date.text().c_str(), seconds / 3600,
                          seconds / 60 % 60, seconds % 60);
            out.kind = DbfValue::Kind::Text;
            out.text = text;
            return;
        }
        default: break;
        }
    }
    if (!f.isDecoded())
        return asRaw();
    switch (f.type) {
    case 'C': {
        std::string_view s = raw;
        while (!s.empty() && isPadding(s.back()))
            s.remove_suffix(1);
        out.kind = DbfValue::Kind::Text;
        m_codePage->decode(s, out.text);
        return;
    }
    case 'N':
    case 'F': {
        if (trimPadding(raw).empty())
            return;
        const auto number = parseNumber(raw);
        if (!number)
            return asRaw();
        out.kind = DbfValue::Kind::Number;
        out.number = *number;
        return;
    }
    case 'D': {
        if (std::all_of(raw.begin(), raw.end(), [](char c) { return isPadding(c) || c == '0'; }))
            return;
        const auto date = parseDateDigits(raw);
        if (!date)
            return asRaw();
        out.kind = DbfValue::Kind::Date;
        out.date = *date;
        return;
    }
    case 'L':
        switch (raw[0]) {
        case 'T': case 't': case 'Y': case 'y':
            out.kind = DbfValue::Kind::Logical;
            out.logical = true;
            return;
        case 'F': case 'f': case 'N': case 'n':
            out.kind = DbfValue::Kind::Logical;
            out.logical = false;
            return;
        case '?': case ' ': case '\0':
            return;
        default:
            return asRaw();
        }
    default:
        return asRaw();
    }
}

// A memo pointer: 10 digits (blank for none) in dBase and FoxPro tables, a u32 LE (0 for none) in
// Visual FoxPro's 4-byte M fields.
bool DbfTable::readMemo(std::string_view pointer, const DbfField& field, DbfValue& out) const
{
    std::uint64_t block = 0;
    if (field.length == 4) {
        block = getLe(pointer, 4);
    } else {
        const std::string_view digits = trimPadding(pointer);
        if (digits.empty())
            return true;
        for (char c : digits) {
            if (c < '0' || c > '9' || block > 0xFFFFFFFFu)
                return false;
            block = block * 10 + static_cast<unsigned>(c - '0');
        }
    }
    if (block == 0)
        return true;
    if (!m_memo || block > 0xFFFFFFFFu)
        return false;
    std::string bytes;
    std::string fault;
    if (!m_memo->read(static_cast<std::uint32_t>(block), bytes, fault))
        return false;
    out.kind = DbfValue::Kind::Text;
    m_codePage->decode(bytes, out.text);
    return true;
}

bool DbfTable::encode(std::size_t field, const DbfValue& value, std::string& bytes, std::string* error) const
{
    if (field >= m_fields.size())
        return fail(error, "there is no field number " + std::to_string(field));
    const DbfField& f = m_fields[field];
    const std::string where = "field " + f.name + " (" + describe(f) + ")";
    auto wrongKind = [&] { return fail(error, where + " cannot take this kind of value"); };
    // A number given as such or as its text; false, with the reason, for anything else.
    auto numberOf = [&](double& number) {
        if (value.kind == DbfValue::Kind::Number) {
            number = value.number;
        } else if (value.kind == DbfValue::Kind::Text) {
            const auto parsed = parseNumber(value.text);
            if (!parsed)
                return fail(error, where + ": \"" + value.text + "\" is not a number");
            number = *parsed;
        } else {
            return wrongKind();
        }
        return std::isfinite(number) || fail(error, where + ": the value is not a finite number");
    };
    if (isVisualFoxPro() && f.length == (f.type == 'I' ? 4 : 8) && typeIn(f.type, "IYBT")) {
        bytes.assign(f.length, '\0');
        if (value.kind == DbfValue::Kind::Null
            || (value.kind == DbfValue::Kind::Text && trimPadding(value.text).empty()))
            return true;
        if (f.type == 'T') {
            std::optional<DbfDate> date;
            long ms = 0;
            if (value.kind == DbfValue::Kind::Date) {
                date = value.date;
            } else if (value.kind == DbfValue::Kind::Text) {
                const std::string_view text = trimPadding(value.text);
                date = parseDateText(text.substr(0, std::min<std::size_t>(text.size(), 10)));
                int h = 0, m = 0, sec = 0;
                char tail = 0;
                if (text.size() > 10
                    && (std::sscanf(std::string(text.substr(10)).c_str(), " %2d:%2d:%2d%c", &h, &m, &sec, &tail) != 3
                        || h > 23 || m > 59 || sec > 59 || h < 0 || m < 0 || sec < 0))
                    date.reset();
                ms = ((h * 60L + m) * 60 + sec) * 1000;
            } else {
                return wrongKind();
            }
            if (!date || !date->isValid())
                return fail(error, where + ": not a valid date and time");
            putLe(bytes.data(), 4, static_cast<std::uint32_t>(julianDay(*date)));
            putLe(bytes.data() + 4, 4, static_cast<std::uint32_t>(ms));
            return true;
        }
        double number = 0;
        if (!numberOf(number))
            return false;
        if (f.type == 'B') {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &number, sizeof bits);
            putLe(bytes.data(), 8, bits);
            return true;
        }
        const double scaled = f.type == 'Y' ? std::round(number * 10000.0) : number;
        const double limit = f.type == 'Y' ? 9.2e18 : 2147483647.0;
        if (scaled != std::trunc(scaled) || scaled > limit || scaled < -limit - (f.type == 'I' ? 1 : 0))
            return fail(error, where + ": the value " + std::to_string(number) + " does not fit");
        putLe(bytes.data(), f.length, static_cast<std::uint64_t>(static_cast<std::int64_t>(scaled)));
        return true;
    }
    if (f.type == 'M' && (f.length == 10 || (f.length == 4 && isVisualFoxPro()))) {
        // The empty memo; a text is stored in the memo file by update and append.
        bytes.assign(f.length, f.length == 4 ? '\0' : ' ');
        if (value.kind == DbfValue::Kind::Null || (value.kind == DbfValue::Kind::Text && value.text.empty()))
            return true;
        return fail(error, where + " cannot be written on its own: a memo text is stored with its record");
    }
    if (!f.isDecoded())
        return fail(error, where + " cannot be written");
    bytes.assign(f.length, ' ');
    if (value.kind == DbfValue::Kind::Null)
        return true;

    switch (f.type) {
    case 'C': {
        std::string text;
        if (value.kind == DbfValue::Kind::Text) {
            text = value.text;
        } else if (value.kind == DbfValue::Kind::Number && std::isfinite(value.number)) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.15g", value.number);
            text = buffer;
        } else {
            return wrongKind();
        }
        const auto encoded = m_codePage->encode(text);
        if (!encoded)
            return fail(error, where + ": the text has a character that code page " + std::to_string(codePage())
                                   + " cannot hold");
        if (encoded->size() > f.length)
            return fail(error, where + ": the text (" + std::to_string(encoded->size()) + " characters) does not fit");
        std::memcpy(bytes.data(), encoded->data(), encoded->size());
        return true;
    }
    case 'N':
    case 'F': {
        if (value.kind == DbfValue::Kind::Text && trimPadding(value.text).empty())
            return true;
        double number = 0;
        if (!numberOf(number))
            return false;
        const int decimals = f.decimals;
        const int needed = std::snprintf(nullptr, 0, "%.*f", decimals, number);
        std::string text(static_cast<std::size_t>(std::max(needed, 0)) + 1, '\0');
        std::snprintf(text.data(), text.size(), "%.*f", decimals, number);
        text.resize(static_cast<std::size_t>(std::max(needed, 0)));
        // A negative value that rounds to zero is written as zero.
        if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
            text.erase(0, 1);
        if (text.size() > f.length)
            return fail(error, where + ": the value " + text + " does not fit");
        std::memcpy(bytes.data() + (f.length - text.size()), text.data(), text.size());
        return true;
    }
    case 'D': {
        std::optional<DbfDate> date;
        if (value.kind == DbfValue::Kind::Date) {
            date = value.date;
            if (!date->isValid())
                date.reset();
        } else if (value.kind == DbfValue::Kind::Text) {
            if (trimPadding(value.text).empty())
                return true;
            date = parseDateText(value.text);
        } else {
            return wrongKind();
        }
        if (!date)
            return fail(error, where + ": not a valid date");
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", date->year, date->month, date->day);
        std::memcpy(bytes.data(), buffer, 8);
        return true;
    }
    case 'L':
        if (value.kind == DbfValue::Kind::Logical) {
            bytes[0] = value.logical ? 'T' : 'F';
            return true;
        }
        if (value.kind == DbfValue::Kind::Text && value.text.size() == 1
            && std::strchr("TtYyFfNn?", value.text[0]) != nullptr) {
            bytes[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(value.text[0])));
            if (bytes[0] == 'Y' || bytes[0] == 'N')
                bytes[0] = bytes[0] == 'Y' ? 'T' : 'F';
            if (bytes[0] == '?')
                bytes[0] = ' ';
            return true;
        }
        return wrongKind();
    default:
        return wrongKind();
    }
}

bool DbfTable::checkWritable(std::string* error) const
{
    if (!m_writable)
        return fail(error, "it was opened for reading only");
    if (!m_damage.empty())
        return fail(error, "it is damaged and is left unchanged until it is repaired: " + m_damage);
    return true;
}

bool DbfTable::checkIndex(std::uint32_t index, std::string* error)
{
    if (index >= m_recordCount && !refresh(error))
        return false;
    if (index >= m_recordCount)
        return fail(error, "record " + std::to_string(index) + " is past the end (" + std::to_string(m_recordCount)
                               + " records)");
    return true;
}

void DbfTable::setNull(std::string& record, const DbfField& field, bool null) const
{
    if (field.nullBit < 0)
        return;
    char& byte = record[m_fields[*m_nullFlags].offset + static_cast<std::size_t>(field.nullBit / 8)];
    const auto mask = static_cast<char>(1 << (field.nullBit % 8));
    byte = null ? static_cast<char>(byte | mask) : static_cast<char>(byte & ~mask);
}

// A new record: blanks in text-stored fields, zeros in binary ones, NULL marks for the fields
// that may hold NULL. Fails for a field type whose empty value is not known here.
bool DbfTable::emptyRecord(std::string& record, std::string* error) const
{
    record.assign(m_recordLength, ' ');
    for (const DbfField& f : m_fields) {
        const bool binary = isVisualFoxPro()
            && (f.type == '0' || (typeIn(f.type, "MGPI") && f.length == 4) || (typeIn(f.type, "YBT") && f.length == 8));
        const bool text = f.isDecoded() || (typeIn(f.type, "MGBP") && f.length == 10);
        if (binary)
            std::memset(record.data() + f.offset, 0, f.length);
        else if (!text)
            return fail(error, "field " + f.name + " (" + describe(f) + ") cannot be written, so no record is added");
    }
    for (const DbfField& f : m_fields)
        setNull(record, f, true);
    return true;
}

bool DbfTable::encodeAll(const DbfFieldValues& values, std::string& record, std::vector<PendingMemo>& memos,
                         std::string* error) const
{
    memos.clear();
    std::string bytes;
    for (const auto& [field, value] : values) {
        const DbfField& f = m_fields[field];
        const bool emptyMemo
            = value.kind == DbfValue::Kind::Null || (value.kind == DbfValue::Kind::Text && value.text.empty());
        if (f.type == 'M' && !emptyMemo) {
            if (!m_memo)
                return fail(error, "field " + f.name + ": its memo file is missing");
            std::string text = value.text;
            if (value.kind == DbfValue::Kind::Number) {
                char buffer[64];
                std::snprintf(buffer, sizeof buffer, "%.15g", value.number);
                text = buffer;
            } else if (value.kind != DbfValue::Kind::Text) {
                return fail(error, "field " + f.name + " (" + describe(f) + ") cannot take this kind of value");
            }
            auto encoded = m_codePage->encode(text);
            if (!encoded)
                return fail(error, "field " + f.name + ": the text has a character that code page "
                                       + std::to_string(codePage()) + " cannot hold");
            memos.push_back({field, std::move(*encoded)});
            setNull(record, f, false);
            continue;
        }
        if (!encode(field, value, bytes, error))
            return false;
        std::memcpy(record.data() + f.offset, bytes.data(), bytes.size());
        setNull(record, f, value.kind == DbfValue::Kind::Null);
    }
    return true;
}

// Stores the memo texts as new memos and points their fields at them; under the writer lock.
bool DbfTable::storeMemos(const std::vector<PendingMemo>& memos, std::string& record, std::string* error)
{
    for (const auto& memo : memos) {
        const DbfField& f = m_fields[memo.field];
        std::uint32_t block = 0;
        std::string fault;
        if (!m_memo->append(memo.bytes, block, fault))
            return fail(error, "field " + f.name + ": " + fault);
        if (f.length == 4) {
            putLe(record.data() + f.offset, 4, block);
        } else {
            const std::string digits = std::to_string(block);
            std::memset(record.data() + f.offset, ' ', f.length);
            std::memcpy(record.data() + f.offset + f.length - digits.size(), digits.data(), digits.size());
        }
    }
    return true;
}

// Writes the bytes that differ between before and after (one span of the record), then the header's
// date when it changes; on failure, puts the old bytes back.
bool DbfTable::writeRecordSpan(std::uint32_t index, const std::string& before, const std::string& after,
                               std::string* error)
{
    std::size_t lo = 0;
    while (lo < before.size() && before[lo] == after[lo])
        ++lo;
    if (lo == before.size())
        return true;
    std::size_t hi = before.size();
    while (hi > lo && before[hi - 1] == after[hi - 1])
        --hi;
    const std::uint64_t at = m_headerLength + std::uint64_t(index) * m_recordLength + lo;
    std::string fault;
    std::string ignored;
    if (!m_storage->writeAt(at, after.data() + lo, hi - lo, fault)) {
        m_storage->writeAt(at, before.data() + lo, hi - lo, ignored);
        return fail(error, fault);
    }
    const DbfDate now = today();
    if (now != m_lastUpdate) {
        std::string date(3, '\0');
        putDate(date, 0, now);
        if (!m_storage->writeAt(1, date.data(), 3, fault)) {
            std::string old(3, '\0');
            putDate(old, 0, m_lastUpdate);
            m_storage->writeAt(1, old.data(), 3, ignored);
            m_storage->writeAt(at, before.data() + lo, hi - lo, ignored);
            return fail(error, fault);
        }
        m_lastUpdate = now;
    }
    return true;
}

namespace {

// Holds the writers' lock for one operation.
class WriterLock {
public:
    explicit WriterLock(DbfStorage& storage) : m_storage(storage) {}
    ~WriterLock()
    {
        if (m_locked)
            m_storage.unlockWriters();
    }
    bool lock(std::string& fault) { return m_locked = m_storage.lockWriters(fault); }
    void release()
    {
        if (m_locked)
            m_storage.unlockWriters();
        m_locked = false;
    }

private:
    DbfStorage& m_storage;
    bool m_locked = false;
};

}  // namespace

bool DbfTable::update(std::uint32_t index, const DbfFieldValues& values, std::string* error)
{
    if (!checkWritable(error) || !checkIndex(index, error))
        return false;
    std::string before;
    if (!readRecord(index, before, error))
        return false;
    std::string after = before;
    std::vector<PendingMemo> memos;
    if (!encodeAll(values, after, memos, error))
        return false;
    std::string fault;
    WriterLock lock(*m_storage);
    if (!lock.lock(fault))
        return fail(error, fault);
    // Read again under the lock so that fields another writer changed meanwhile are kept.
    if (!refresh(error) || !checkWritable(error) || !readRecord(index, before, error))
        return false;
    after = before;
    encodeAll(values, after, memos, error);
    if (!storeMemos(memos, after, error))
        return false;
    const bool ok = writeRecordSpan(index, before, after, error);
    ++m_generation;
    return ok;
}

bool DbfTable::setDeleted(std::uint32_t index, bool deleted, std::string* error)
{
    if (!checkWritable(error) || !checkIndex(index, error))
        return false;
    std::string fault;
    WriterLock lock(*m_storage);
    if (!lock.lock(fault))
        return fail(error, fault);
    std::string before;
    if (!refresh(error) || !checkWritable(error) || !readRecord(index, before, error))
        return false;
    std::string after = before;
    after[0] = deleted ? '*' : ' ';
    const bool ok = writeRecordSpan(index, before, after, error);
    ++m_generation;
    return ok;
}

bool DbfTable::append(const DbfFieldValues& values, std::uint32_t* index, std::string* error)
{
    if (!checkWritable(error))
        return false;
    std::string record;
    std::vector<PendingMemo> memos;
    if (!emptyRecord(record, error) || !encodeAll(values, record, memos, error))
        return false;

    std::string fault;
    WriterLock lock(*m_storage);
    if (!lock.lock(fault))
        return fail(error, fault);
    // Another program may have appended since we looked: take the count from the file now.
    if (!refresh(error) || !checkWritable(error) || !storeMemos(memos, record, error))
        return false;
    record.push_back(kEndMark);
    if (m_recordCount == 0xFFFFFFFFu)
        return fail(error, "it cannot hold more records");
    std::uint64_t fileSize = 0;
    if (!m_storage->size(fileSize, fault))
        return fail(error, fault);
    const std::uint32_t number = m_recordCount;
    const std::uint64_t at = m_headerLength + std::uint64_t(number) * m_recordLength;
    // What the append overwrites (the old end mark, or bytes of an append that never completed).
    std::string old(static_cast<std::size_t>(std::min<std::uint64_t>(record.size(), fileSize - at)), '\0');
    std::size_t got = 0;
    if (!m_storage->readAt(at, old.data(), old.size(), got, fault))
        return fail(error, fault);
    old.resize(got);

    std::string ignored;
    auto undoRecord = [&] {
        m_storage->writeAt(at, old.data(), old.size(), ignored);
        m_storage->truncate(fileSize, ignored);
    };
    if (!m_storage->writeAt(at, record.data(), record.size(), fault)) {
        undoRecord();
        return fail(error, fault);
    }
    const DbfDate now = today();
    std::string head(7, '\0');
    putDate(head, 0, now);
    putU32(head, 3, number + 1);
    if (!m_storage->writeAt(1, head.data(), head.size(), fault)) {
        std::string oldHead(7, '\0');
        putDate(oldHead, 0, m_lastUpdate);
        putU32(oldHead, 3, m_declaredCount);
        m_storage->writeAt(1, oldHead.data(), oldHead.size(), ignored);
        undoRecord();
        return fail(error, fault);
    }
    m_lastUpdate = now;
    m_declaredCount = number + 1;
    m_recordCount = number + 1;
    ++m_generation;
    if (index)
        *index = number;
    return true;
}

bool DbfTable::pack(std::string* error, std::uint32_t* removed)
{
    if (!checkWritable(error))
        return false;
    if (m_path.empty())
        return fail(error, "only a table in a file can be packed");
    std::string fault;
    WriterLock lock(*m_storage);
    if (!lock.lock(fault))
        return fail(error, fault);
    if (!refresh(error) || !checkWritable(error))
        return false;
    std::string header(m_headerLength, '\0');
    std::size_t got = 0;
    if (!m_storage->readAt(0, header.data(), header.size(), got, fault) || got != header.size())
        return fail(error, fault.empty() ? "its header could not be read" : fault);

    const std::filesystem::path folder = m_path.parent_path().empty() ? "." : m_path.parent_path();
    std::string tempName = (folder / ("." + m_path.filename().string() + ".pack-XXXXXX")).string();
    const int fd = ::mkstemp(tempName.data());
    if (fd < 0)
        return fail(error, "cannot create a file in \"" + folder.string() + "\": " + platform::systemMessage(errno));
    auto writeOut = [&](const std::string& bytes, std::uint64_t at) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fault = "cannot write the packed table: " + platform::systemMessage(n < 0 ? errno : ENOSPC);
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    };
    auto abandon = [&](const std::string& why) {
        ::close(fd);
        ::unlink(tempName.c_str());
        return fail(error, why);
    };

    std::uint32_t kept = 0;
    std::uint64_t at = m_headerLength;
    std::string block;
    std::string out;
    const std::uint32_t perBlock = std::max<std::uint32_t>(1, (1u << 20) / m_recordLength);
    for (std::uint32_t first = 0; first < m_recordCount; first += perBlock) {
        if (!readRecords(first, perBlock, block, error)) {
            ::close(fd);
            ::unlink(tempName.c_str());
            return false;
        }
        if (block.size() < std::min<std::uint64_t>(perBlock, m_recordCount - first) * m_recordLength)
            return abandon("it was cut short while being packed");
        out.clear();
        for (std::size_t off = 0; off < block.size(); off += m_recordLength)
            if (block[off] != '*') {
                out.append(block, off, m_recordLength);
                ++kept;
            }
        if (!writeOut(out, at))
            return abandon(fault);
        at += out.size();
    }
    const DbfDate now = today();
    putDate(header, 1, now);
    putU32(header, 4, kept);
    if (!writeOut(std::string(1, kEndMark), at) || !writeOut(header, 0))
        return abandon(fault);
    struct stat st {};
    std::string oldFault;
    if (::stat(m_path.c_str(), &st) == 0)
        ::fchmod(fd, st.st_mode & 07777);
    if (::fsync(fd) != 0)
        return abandon("cannot write the packed table: " + platform::systemMessage(errno));
    ::close(fd);
    if (::rename(tempName.c_str(), m_path.c_str()) != 0) {
        const int e = errno;
        ::unlink(tempName.c_str());
        return fail(error, "cannot replace it: " + platform::systemMessage(e));
    }
    // From here on the table is the packed file; the lock was on the old one.
    lock.release();
    auto storage = openFileStorage(m_path, true, fault);
    if (!storage)
        return fail(error, "packed, but " + fault);
    m_storage = std::move(storage);
    if (removed)
        *removed = m_recordCount - kept;
    if (!load(fault))
        return fail(error, "packed, but " + fault);
    return true;
}

std::optional<std::string> DbfTable::emptyTableBytes(const std::vector<DbfFieldSpec>& fields, unsigned codePage,
                                                     DbfDate today, std::string* error)
{
    auto refuse = [&](const std::string& why) -> std::optional<std::string> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (fields.empty())
        return refuse("a table needs at least one field");
    if (fields.size() > 255)
        return refuse("a table holds at most 255 fields");
    if (!DbfCodePage::get(codePage) || languageDriverOfCodePage(codePage) == 0)
        return refuse("code page " + std::to_string(codePage) + " cannot be written in a table");
    std::uint32_t recordLength = 1;
    std::vector<std::string> names;
    for (const auto& f : fields) {
        std::string name;
        for (char c : f.name)
            name.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
        const std::string what = "field \"" + f.name + "\"";
        if (name.empty() || name.size() > 10)
            return refuse(what + ": a name has 1 to 10 characters");
        if (!(name[0] >= 'A' && name[0] <= 'Z'))
            return refuse(what + ": a name begins with a letter");
        for (char c : name)
            if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
                return refuse(what + ": a name has only letters A-Z, digits and '_'");
        if (std::find(names.begin(), names.end(), name) != names.end())
            return refuse(what + ": the name is used twice");
        names.push_back(name);
        bool sound = false;
        switch (f.type) {
        case 'C': sound = f.length >= 1 && f.length <= 254 && f.decimals == 0; break;
        case 'N':
        case 'F':
            sound = f.length >= 1 && f.length <= 20 && f.decimals >= 0 && (f.decimals == 0 || f.decimals <= f.length - 2);
            break;
        case 'D': sound = f.length == 8 && f.decimals == 0; break;
        case 'L': sound = f.length == 1 && f.decimals == 0; break;
        default:
            return refuse(what + ": type " + std::string(1, f.type) + " cannot be created (C, N, F, D or L)");
        }
        if (!sound)
            return refuse(what + ": length " + std::to_string(f.length) + "," + std::to_string(f.decimals)
                          + " does not suit type " + std::string(1, f.type));
        recordLength += static_cast<std::uint32_t>(f.length);
    }
    if (recordLength > 65535)
        return refuse("the record would be longer than 65535 bytes");

    const std::uint32_t headerLength = static_cast<std::uint32_t>(kHeaderSize + 32 * fields.size() + 1);
    std::string bytes(headerLength, '\0');
    bytes[0] = 0x03;
    putDate(bytes, 1, today);
    putU32(bytes, 4, 0);
    putU16(bytes, 8, headerLength);
    putU16(bytes, 10, recordLength);
    bytes[29] = static_cast<char>(languageDriverOfCodePage(codePage));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t at = kHeaderSize + 32 * i;
        std::memcpy(bytes.data() + at, names[i].data(), names[i].size());
        bytes[at + 11] = fields[i].type;
        bytes[at + 16] = static_cast<char>(fields[i].length);
        bytes[at + 17] = static_cast<char>(fields[i].decimals);
    }
    bytes[headerLength - 1] = kTerminator;
    bytes.push_back(kEndMark);
    return bytes;
}

bool DbfTable::create(const std::filesystem::path& path, const std::vector<DbfFieldSpec>& fields, unsigned codePage,
                      bool overwrite, std::string* error)
{
    const std::string tableName = path.filename().string();
    auto refuse = [&](const std::string& why) {
        if (error)
            *error = "Table \"" + tableName + "\": " + why;
        return false;
    };
    std::string fault;
    const auto bytes = emptyTableBytes(fields, codePage, localToday(), &fault);
    if (!bytes)
        return refuse(fault);
    std::error_code ec;
    if (!overwrite && std::filesystem::exists(path, ec))
        return refuse("the file already exists");

    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    std::string tempName = (folder / ("." + tableName + ".new-XXXXXX")).string();
    const int fd = ::mkstemp(tempName.data());
    if (fd < 0)
        return refuse("cannot create a file in \"" + folder.string() + "\": " + platform::systemMessage(errno));
    ::fchmod(fd, 0666 & ~[] { mode_t m = ::umask(0); ::umask(m); return m; }());
    std::size_t done = 0;
    int writeError = 0;
    while (done < bytes->size()) {
        const ssize_t n = ::write(fd, bytes->data() + done, bytes->size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            writeError = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (writeError == 0 && ::fsync(fd) != 0)
        writeError = errno;
    ::close(fd);
    if (writeError != 0) {
        ::unlink(tempName.c_str());
        return refuse("cannot write it: " + platform::systemMessage(writeError));
    }
    // link() refuses to replace a file that appeared meanwhile; rename() replaces on request.
    const int rc = overwrite ? ::rename(tempName.c_str(), path.c_str()) : ::link(tempName.c_str(), path.c_str());
    const int e = errno;
    if (!overwrite || rc != 0)
        ::unlink(tempName.c_str());
    if (rc != 0)
        return refuse(e == EEXIST ? "the file already exists" : "cannot create it: " + platform::systemMessage(e));
    return true;
}

DbfCursor::DbfCursor(const DbfTable& table, std::size_t blockBytes)
    : m_table(table),
      m_blockRecords(static_cast<std::uint32_t>(std::max<std::size_t>(1, blockBytes / table.recordLength())))
{
}

bool DbfCursor::seek(std::uint32_t index, std::string* error)
{
    if (error)
        error->clear();
    m_started = true;
    m_index = index;
    if (index >= m_table.recordCount())
        return false;
    if (m_blockGeneration == m_table.generation() && index >= m_blockFirst && index - m_blockFirst < m_blockCount)
        return true;
    if (!m_table.readRecords(index, m_blockRecords, m_block, error)) {
        m_blockCount = 0;
        return false;
    }
    m_blockFirst = index;
    m_blockCount = static_cast<std::uint32_t>(m_block.size() / m_table.recordLength());
    m_blockGeneration = m_table.generation();
    return m_blockCount > 0;
}

bool DbfCursor::next(std::string* error)
{
    if (!m_started)
        return seek(0, error);
    if (m_index >= m_table.recordCount()) {
        if (error)
            error->clear();
        return false;
    }
    return seek(m_index + 1, error);
}

std::string_view DbfCursor::record() const
{
    if (m_index < m_blockFirst || m_index - m_blockFirst >= m_blockCount)
        return {};
    return std::string_view(m_block).substr(static_cast<std::size_t>(m_index - m_blockFirst) * m_table.recordLength(),
                                            m_table.recordLength());
}

}  // namespace peltra::data
