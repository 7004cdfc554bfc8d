// Reading and writing Windows .reg text for the configuration store.
#include "platform/registry/RegFile.h"

#include "platform/text/CaseFold.h"
#include "platform/text/CodePage.h"
#include "platform/text/Hex.h"
#include "platform/text/Utf8.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace peltra::platform {
namespace {

constexpr std::string_view kHive = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kHiveShort = "HKLM";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kEol = "\r\n";
// regedit breaks a hex value's line once the line has reached this many characters.
constexpr std::size_t kHexWrapColumn = 77;

// Hives a Windows file may name that the store does not hold.
constexpr std::array<std::string_view, 9> kOtherHives = {
    "HKEY_CURRENT_USER", "HKCU", "HKEY_CLASSES_ROOT", "HKCR", "HKEY_USERS",
    "HKU", "HKEY_CURRENT_CONFIG", "HKCC", "HKEY_PERFORMANCE_DATA",
};

bool isTextType(RegType type)
{
    return type == RegType::Sz || type == RegType::ExpandSz || type == RegType::MultiSz;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        char b = prefix[i];
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

// Characters as a text editor counts them (UTF-8 continuation bytes do not count).
std::size_t charCount(std::string_view utf8)
{
    std::size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

bool hasLineBreakOrNul(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// ---------------------------------------------------------------- export

class Exporter {
public:
    Exporter(RegistryStore& store, RegFile::Error* error) : m_store(store), m_error(error) {}

    // Appends the key and its sub-tree; path has the stored spelling.
    bool writeKey(const std::string& path);
    std::string& text() { return m_out; }

private:
    bool fail(std::string message);
    bool writeValue(const std::string& keyPath, const NamedValue& value);
    void writeHex(std::size_t lineLength, std::uint32_t type, std::string_view data);

    RegistryStore& m_store;
    RegFile::Error* m_error;
    std::string m_out;
};

std::string hiveDisplay(const std::string& path)
{
    return path.empty() ? std::string(kHive) : std::string(kHive) + "\\" + path;
}

std::string escapeQuoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

bool Exporter::fail(std::string message)
{
    if (m_error)
        *m_error = RegFile::Error{0, std::move(message)};
    return false;
}

bool Exporter::writeKey(const std::string& path)
{
    if (hasLineBreakOrNul(path))
        return fail("key " + hiveDisplay(path) + " has a name that a .reg file cannot hold");
    m_out += '[';
    m_out += hiveDisplay(path);
    m_out += ']';
    m_out += kEol;
    for (const NamedValue& value : m_store.values(path)) {
        if (!writeValue(path, value))
            return false;
    }
    m_out += kEol;
    for (const std::string& child : m_store.subKeys(path)) {
        if (!writeKey(path.empty() ? child : path + "\\" + child))
            return false;
    }
    return true;
}

// Texts are UTF-8 in the store and UTF-16LE with their terminating NUL in a version 5 file.
std::optional<std::string> windowsText(const Bytes& data)
{
    std::optional<std::string> wide =
        fromUtf8(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                 CodePage::Utf16Le);
    if (wide)
        wide->append(2, '\0');
    return wide;
}

bool Exporter::writeValue(const std::string& keyPath, const NamedValue& named)
{
    const RegistryValue& value = named.value;
    const std::string where = hiveDisplay(keyPath) + ", value \"" + named.name + "\"";
    if (hasLineBreakOrNul(named.name))
        return fail(where + ": the name cannot be written to a .reg file");

    const std::size_t lineStart = m_out.size();
    if (named.name.empty())
        m_out += '@';
    else
        m_out += '"' + escapeQuoted(named.name) + '"';
    m_out += '=';
    const std::size_t prefixLength = charCount(std::string_view(m_out).substr(lineStart));

    const std::string_view raw(reinterpret_cast<const char*>(value.data.data()), value.data.size());
    const auto type = static_cast<std::uint32_t>(value.type);
    if (value.type == RegType::Sz && isValidUtf8(raw) && !hasLineBreakOrNul(raw)) {
        m_out += '"' + escapeQuoted(raw) + '"';
    } else if (value.type == RegType::Dword && value.data.size() == 4) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(value.asDword()));
        m_out += digits;
    } else if (isTextType(value.type)) {
        const std::optional<std::string> wide = windowsText(value.data);
        if (!wide)
            return fail(where + ": the text is not valid UTF-8");
        writeHex(prefixLength, type, *wide);
    } else {
        writeHex(prefixLength, type, raw);
    }
    m_out += kEol;
    return true;
}

// As regedit writes hex data: "hex:" for binary, "hex(N):" otherwise, bytes "aa," and a ",\"
// continuation with two leading spaces once a line reaches the wrap column.
void Exporter::writeHex(std::size_t lineLength, std::uint32_t type, std::string_view data)
{
    char tag[24];
    if (type == static_cast<std::uint32_t>(RegType::Binary))
        std::snprintf(tag, sizeof tag, "hex:");
    else
        std::snprintf(tag, sizeof tag, "hex(%x):", static_cast<unsigned>(type));
    m_out += tag;
    lineLength += std::string_view(tag).size();

    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        m_out += kDigits[byte >> 4];
        m_out += kDigits[byte & 0x0F];
        if (i + 1 == data.size())
            break;
        m_out += ',';
        lineLength += 3;
        if (lineLength >= kHexWrapColumn) {
            m_out += '\\';
            m_out += kEol;
            m_out += "  ";
            lineLength = 2;
        }
    }
}

// The stored spelling of a key path, or nothing when a component is missing.
std::optional<std::string> storedSpelling(RegistryStore& store, const std::string& keyPath)
{
    std::string path;
    for (const std::string& component : splitKeyPath(keyPath)) {
        std::optional<std::string> found;
        for (const std::string& child : store.subKeys(path)) {
            if (equalsIgnoreCase(child, component)) {
                found = child;
                break;
            }
        }
        if (!found)
            return std::nullopt;
        path = path.empty() ? *found : path + "\\" + *found;
    }
    return path;
}

// ---------------------------------------------------------------- import

struct Line {
    int number = 0;
    std::string text;  // UTF-8, line end removed
};

struct Decoded {
    std::vector<Line> lines;
    bool regedit4 = false;
};

bool setError(RegFile::Error* error, int line, std::string message)
{
    if (error)
        *error = RegFile::Error{line, std::move(message)};
    return false;
}

// Splits 8-bit text at LF and converts each line to UTF-8.
bool decodeBytes(std::string_view bytes, CodePage page, Decoded& out, RegFile::Error* error)
{
    int number = 0;
    std::size_t start = 0;
    while (start <= bytes.size()) {
        const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        std::string_view raw = bytes.substr(start, end - start);
        ++number;
        std::optional<std::string> text;
        if (page == CodePage::Utf8) {
            if (isValidUtf8(raw))
                text = std::string(raw);
        } else {
            text = toUtf8(raw, page);
        }
        if (!text)
            return setError(error, number,
                            page == CodePage::Utf8 ? "the text is not valid UTF-8"
                                                   : "the text is not valid cp1251");
        out.lines.push_back(Line{number, std::move(*text)});
        if (end == bytes.size())
            break;
        start = end + 1;
    }
    return true;
}

// Splits UTF-16LE text at LF code units and converts each line to UTF-8.
bool decodeUtf16(std::string_view bytes, Decoded& out, RegFile::Error* error)
{
    if (bytes.size() % 2 != 0)
        return setError(error, 0, "the file has an odd number of bytes for UTF-16LE text");
    int number = 0;
    std::size_t start = 0;
    while (start <= bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && !(bytes[end] == '\n' && bytes[end + 1] == '\0'))
            end += 2;
        ++number;
        std::optional<std::string> text = toUtf8(bytes.substr(start, end - start), CodePage::Utf16Le);
        if (!text)
            return setError(error, number, "the text is not valid UTF-16LE");
        out.lines.push_back(Line{number, std::move(*text)});
        if (end == bytes.size())
            break;
        start = end + 2;
    }
    return true;
}

bool hasNonAscii(std::string_view bytes)
{
    for (unsigned char c : bytes) {
        if (c >= 0x80)
            return true;
    }
    return false;
}

// Chooses the encoding by the byte-order mark and the header: UTF-16LE with FF FE, UTF-8 with
// EF BB BF; without a mark, a REGEDIT4 file is cp1251 (unless it is well-formed UTF-8 with
// non-ASCII text, which cp1251 Russian text never is) and any other file UTF-8.
bool decode(std::string_view bytes, Decoded& out, RegFile::Error* error)
{
    if (bytes.starts_with("\xFF\xFE"))
        return decodeUtf16(bytes.substr(2), out, error);
    if (bytes.starts_with("\xFE\xFF"))
        return setError(error, 0, "UTF-16 big-endian files are not supported; save it as UTF-16LE or UTF-8");
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return decodeBytes(bytes.substr(3), CodePage::Utf8, out, error);
    const std::size_t firstEnd = std::min(bytes.find('\n'), bytes.size());
    const bool regedit4 = trim(bytes.substr(0, firstEnd)) == kHeader4;
    if (regedit4 && !(hasNonAscii(bytes) && isValidUtf8(bytes)))
        return decodeBytes(bytes, CodePage::Cp1251, out, error);
    return decodeBytes(bytes, CodePage::Utf8, out, error);
}

class Parser {
public:
    Parser(const Decoded& decoded, RegFile::Error* error) : m_lines(decoded.lines), m_error(error) {}

    std::optional<std::vector<RegFile::Operation>> run();

private:
    bool fail(int line, std::string message) { return setError(m_error, line, std::move(message)); }
    bool parseKey(const Line& line, std::string_view content);
    bool parseValue(std::size_t& index, std::string_view content);
    // Reads a quoted string starting at s[0] == '"'; pos ends just past the closing quote.
    bool parseQuoted(int line, std::string_view s, std::size_t& pos, std::string& out,
                     const char* what);
    bool parseDword(int line, std::string_view digits, RegFile::Operation& op);
    bool parseHex(std::size_t& index, std::string_view rest, RegFile::Operation& op);
    bool hexToValue(int line, std::uint32_t type, Bytes bytes, RegFile::Operation& op);

    const std::vector<Line>& m_lines;
    RegFile::Error* m_error;
    bool m_regedit4 = false;
    std::vector<RegFile::Operation> m_ops;
    std::optional<std::string> m_key;  // the key values go to; nothing before the first key
    bool m_keyDeleted = false;
};

std::optional<std::vector<RegFile::Operation>> Parser::run()
{
    std::size_t index = 0;
    while (index < m_lines.size() && trim(m_lines[index].text).empty())
        ++index;
    const std::string_view header = index < m_lines.size() ? trim(m_lines[index].text) : "";
    if (header == kHeader5) {
        m_regedit4 = false;
    } else if (header == kHeader4) {
        m_regedit4 = true;
    } else {
        fail(index < m_lines.size() ? m_lines[index].number : 1,
             "not a registry file: the first line must be \"" + std::string(kHeader5) +
                 "\" or \"" + std::string(kHeader4) + "\"");
        return std::nullopt;
    }
    for (++index; index < m_lines.size(); ++index) {
        const Line& line = m_lines[index];
        const std::string_view content = trim(line.text);
        if (content.empty() || content.front() == ';')
            continue;
        bool ok;
        if (content.front() == '[')
            ok = parseKey(line, content);
        else if (content.front() == '"' || content.front() == '@')
            ok = parseValue(index, content);
        else
            ok = fail(line.number, "expected a [key], a value or a comment");
        if (!ok)
            return std::nullopt;
    }
    return std::move(m_ops);
}

bool Parser::parseKey(const Line& line, std::string_view content)
{
    if (content.back() != ']')
        return fail(line.number, "the key has no closing ']'");
    std::string_view inner = content.substr(1, content.size() - 2);
    const bool deletion = !inner.empty() && inner.front() == '-';
    if (deletion)
        inner.remove_prefix(1);
    const std::size_t slash = inner.find('\\');
    const std::string_view hive = inner.substr(0, slash);
    const std::string_view rest = slash == std::string_view::npos ? "" : inner.substr(slash + 1);
    switch (RegFile::hiveOf(hive)) {
    case RegFile::Hive::LocalMachine:
        break;
    case RegFile::Hive::Other:
        return fail(line.number, "the store holds only HKEY_LOCAL_MACHINE, not " + std::string(hive));
    case RegFile::Hive::None:
        return fail(line.number, "unknown hive \"" + std::string(hive) + "\"");
    }
    const std::string path = joinKeyPath(splitKeyPath(std::string(rest)));
    if (deletion && path.empty())
        return fail(line.number, "the whole of HKEY_LOCAL_MACHINE cannot be deleted");

    RegFile::Operation op;
    op.kind = deletion ? RegFile::Operation::Kind::DeleteKey : RegFile::Operation::Kind::CreateKey;
    op.keyPath = path;
    op.line = line.number;
    m_ops.push_back(std::move(op));
    m_key = path;
    m_keyDeleted = deletion;
    return true;
}

bool Parser::parseQuoted(int line, std::string_view s, std::size_t& pos, std::string& out,
                         const char* what)
{
    out.clear();
    for (pos = 1; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\') {
            if (pos + 1 >= s.size())
                break;
            const char next = s[++pos];
            if (next != '\\' && next != '"')
                return fail(line, std::string("unknown escape \\") + next + " in the " + what +
                                      " (write a backslash as \\\\)");
            out += next;
        } else {
            out += c;
        }
    }
    return fail(line, std::string("unterminated ") + what);
}

bool Parser::parseValue(std::size_t& index, std::string_view content)
{
    const int number = m_lines[index].number;
    if (!m_key)
        return fail(number, "a value before any [key]");
    if (m_keyDeleted)
        return fail(number, "a value under a key that this file deletes");

    RegFile::Operation op;
    op.keyPath = *m_key;
    op.line = number;
    std::size_t pos = 0;
    if (content.front() == '@') {
        pos = 1;
    } else if (!parseQuoted(number, content, pos, op.valueName, "value name")) {
        return false;
    }
    while (pos < content.size() && isBlank(content[pos]))
        ++pos;
    if (pos >= content.size() || content[pos] != '=')
        return fail(number, "expected '=' after the value name");
    ++pos;
    while (pos < content.size() && isBlank(content[pos]))
        ++pos;
    const std::string_view data = content.substr(pos);

    if (data == "-") {
        op.kind = RegFile::Operation::Kind::DeleteValue;
    } else if (!data.empty() && data.front() == '"') {
        std::string text;
        std::size_t end = 0;
        if (!parseQuoted(number, data, end, text, "string"))
            return false;
        if (!trim(data.substr(end)).empty())
            return fail(number, "unexpected text after the closing quote");
        op.kind = RegFile::Operation::Kind::SetValue;
        op.value = RegistryValue::text(text);
    } else if (startsWithNoCase(data, "dword:")) {
        op.kind = RegFile::Operation::Kind::SetValue;
        if (!parseDword(number, trim(data.substr(6)), op))
            return false;
    } else if (startsWithNoCase(data, "hex")) {
        op.kind = RegFile::Operation::Kind::SetValue;
        if (!parseHex(index, data, op))
            return false;
    } else {
        return fail(number, "unknown value form (expected \"text\", dword:, hex:, hex(N): or -)");
    }
    m_ops.push_back(std::move(op));
    return true;
}

bool Parser::parseDword(int line, std::string_view digits, RegFile::Operation& op)
{
    if (digits.empty())
        return fail(line, "the dword value has no digits");
    std::uint64_t value = 0;
    for (char c : digits) {
        const int d = hexDigitValue(c);
        if (d < 0)
            return fail(line, "the dword value \"" + std::string(digits) + "\" is not a hex number");
        value = value * 16 + static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFu)
            return fail(line, "the dword value " + std::string(digits) + " is out of the 32-bit range");
    }
    op.value = RegistryValue::dword(static_cast<std::uint32_t>(value));
    return true;
}

// Reads "hex:" or "hex(N):" and its bytes, following continuation lines that end in '\'.
bool Parser::parseHex(std::size_t& index, std::string_view rest, RegFile::Operation& op)
{
    const int number = m_lines[index].number;
    std::uint32_t type = static_cast<std::uint32_t>(RegType::Binary);
    std::size_t pos = 3;
    if (pos < rest.size() && rest[pos] == '(') {
        const std::size_t close = rest.find(')', pos);
        if (close == std::string_view::npos)
            return fail(number, "hex( has no closing ')'");
        const std::string_view digits = rest.substr(pos + 1, close - pos - 1);
        if (digits.empty() || digits.size() > 8)
            return fail(number, "the type in hex(N) must be 1 to 8 hex digits");
        type = 0;
        for (char c : digits) {
            const int d = hexDigitValue(c);
            if (d < 0)
                return fail(number, "the type in hex(" + std::string(digits) + ") is not a hex number");
            type = type * 16 + static_cast<std::uint32_t>(d);
        }
        pos = close + 1;
    }
    if (pos >= rest.size() || rest[pos] != ':')
        return fail(number, "expected ':' after hex");
    ++pos;

    // Gather the data of this line and its continuation lines, each piece with its line number.
    struct Piece {
        std::string_view text;
        int line;
    };
    std::vector<Piece> pieces;
    std::string_view piece = trim(rest.substr(pos));
    int pieceLine = number;
    for (;;) {
        const bool continued = !piece.empty() && piece.back() == '\\';
        if (continued)
            piece.remove_suffix(1);
        pieces.push_back(Piece{piece, pieceLine});
        if (!continued)
            break;
        if (index + 1 >= m_lines.size())
            return fail(pieceLine, "the value continues past the end of the file");
        ++index;
        piece = trim(m_lines[index].text);
        pieceLine = m_lines[index].number;
    }

    // Bytes are separated by commas, which may also end a piece before its continuation.
    Bytes bytes;
    std::string token;
    int tokenLine = number;
    bool afterComma = false;
    auto takeToken = [&](bool last) -> bool {
        const std::string_view t = trim(token);
        if (t.empty()) {
            if (last && (afterComma || bytes.empty()))
                return true;  // "hex:" with no data, or one trailing comma
            return fail(tokenLine, "a byte is missing between commas");
        }
        unsigned value = 0;
        for (char c : t) {
            const int d = hexDigitValue(c);
            if (d < 0)
                return fail(tokenLine, "\"" + std::string(t) + "\" is not a hex byte");
            value = value * 16 + static_cast<unsigned>(d);
            if (value > 0xFF)
                return fail(tokenLine, "the hex byte \"" + std::string(t) + "\" is out of range");
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        return true;
    };
    for (const Piece& p : pieces) {
        for (char c : p.text) {
            if (c == ',') {
                if (!takeToken(false))
                    return false;
                token.clear();
                afterComma = true;
            } else {
                if (trim(token).empty())
                    tokenLine = p.line;
                token += c;
            }
        }
        if (trim(token).empty())
            tokenLine = p.line;
    }
    if (!takeToken(true))
        return false;
    return hexToValue(tokenLine, type, std::move(bytes), op);
}

// Text types carry UTF-16LE (version 5) or cp1251 (REGEDIT4) data with a terminating NUL; the
// store keeps them as UTF-8 without that terminator. Other types keep their bytes.
bool Parser::hexToValue(int line, std::uint32_t type, Bytes bytes, RegFile::Operation& op)
{
    const auto regType = static_cast<RegType>(type);
    if (!isTextType(regType)) {
        op.value = RegistryValue::binary(std::move(bytes), regType);
        return true;
    }
    const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::optional<std::string> text;
    if (m_regedit4) {
        text = toUtf8(raw, CodePage::Cp1251);
    } else if (bytes.size() % 2 == 0) {
        text = toUtf8(raw, CodePage::Utf16Le);
    }
    if (!text) {
        char tag[24];
        std::snprintf(tag, sizeof tag, "hex(%x)", static_cast<unsigned>(type));
        return fail(line, std::string("the data of ") + tag + " is not " +
                              (m_regedit4 ? "cp1251" : "UTF-16LE") + " text");
    }
    if (!text->empty() && text->back() == '\0')
        text->pop_back();
    op.value = RegistryValue::binary(Bytes(text->begin(), text->end()), regType);
    return true;
}

}  // namespace

std::string RegFile::Error::text() const
{
    return line > 0 ? "line " + std::to_string(line) + ": " + message : message;
}

RegFile::Hive RegFile::hiveOf(std::string_view name)
{
    if (equalsIgnoreCase(name, kHive) || equalsIgnoreCase(name, kHiveShort))
        return Hive::LocalMachine;
    for (std::string_view other : kOtherHives) {
        if (equalsIgnoreCase(name, other))
            return Hive::Other;
    }
    return Hive::None;
}

std::optional<std::string> RegFile::exportKey(RegistryStore& store, const std::string& keyPath,
                                              Encoding encoding, Error* error)
{
    if (!store.isOpen()) {
        setError(error, 0, store.openError());
        return std::nullopt;
    }
    Exporter exporter(store, error);
    bool ok = false;
    // One snapshot, so that a concurrent writer cannot tear the export.
    const std::function<bool()> work = [&] {
        const std::optional<std::string> path = storedSpelling(store, keyPath);
        if (!path) {
            const std::string wanted = joinKeyPath(splitKeyPath(keyPath));
            setError(error, 0, "key not found: " + hiveDisplay(wanted));
            return true;
        }
        exporter.text() = std::string(kHeader5) + std::string(kEol) + std::string(kEol);
        ok = exporter.writeKey(*path);
        return true;
    };
    const bool done = store.snapshot(work);
    if (!done) {
        setError(error, 0, RegistryStore::lastError());
        return std::nullopt;
    }
    if (!ok)
        return std::nullopt;
    if (encoding == Encoding::Utf8)
        return std::move(exporter.text());
    std::optional<std::string> wide = fromUtf8(exporter.text(), CodePage::Utf16Le);
    if (!wide) {
        setError(error, 0, "the text cannot be converted to UTF-16LE");
        return std::nullopt;
    }
    return std::string("\xFF\xFE") + *wide;
}

std::optional<std::vector<RegFile::Operation>> RegFile::parse(std::string_view bytes, Error* error)
{
    Decoded decoded;
    if (!decode(bytes, decoded, error))
        return std::nullopt;
    return Parser(decoded, error).run();
}

bool RegFile::apply(RegistryStore& store, const std::vector<Operation>& operations, Error* error)
{
    if (!store.isOpen())
        return setError(error, 0, store.openError());
    const Operation* failed = nullptr;
    std::string reason;
    const bool ok = store.transaction([&] {
        for (const Operation& op : operations) {
            bool done = false;
            switch (op.kind) {
            case Operation::Kind::CreateKey: done = store.createKey(op.keyPath); break;
            case Operation::Kind::DeleteKey: done = store.deleteKey(op.keyPath); break;
            case Operation::Kind::SetValue: done = store.setValue(op.keyPath, op.valueName, op.value); break;
            case Operation::Kind::DeleteValue: done = store.deleteValue(op.keyPath, op.valueName); break;
            }
            if (!done) {
                failed = &op;
                reason = RegistryStore::lastError();
                return false;
            }
        }
        return true;
    });
    if (ok)
        return true;
    if (failed)
        return setError(error, failed->line, reason.empty() ? "the store refused the change" : reason);
    return setError(error, 0, RegistryStore::lastError());
}

bool RegFile::import(RegistryStore& store, std::string_view bytes, Error* error)
{
    const std::optional<std::vector<Operation>> operations = parse(bytes, error);
    return operations && apply(store, *operations, error);
}

}  // namespace peltra::platform
