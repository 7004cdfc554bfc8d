// .reg files: every value form read and written, encodings, malformed files, exact round trips.
#include "platform/registry/RegFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace peltra::platform {
namespace {

using Kind = RegFile::Operation::Kind;
using Lines = std::vector<std::string>;

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kKey = "[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n";

// UTF-8 to UTF-16LE (no surrogates needed here), written out here so that the tests do not lean
// on the converter under test.
std::string utf16le(std::string_view utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int extra = c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        std::uint32_t cp = extra == 2 ? c & 0x0F : extra == 1 ? c & 0x1F : c;
        for (int k = 1; k <= extra; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += 1 + extra;
        out += static_cast<char>(cp & 0xFF);
        out += static_cast<char>(cp >> 8);
    }
    return out;
}

std::string hexOf(std::string_view data)
{
    std::string out;
    char pair[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(data[i]));
        out += (i ? "," : "") + std::string(pair);
    }
    return out;
}

std::string hexOf(const Bytes& data)
{
    return hexOf(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

// An operation as one line: "create KEY", "delete KEY", "set KEY|NAME|TYPE|HEX", "unset KEY|NAME".
std::string describe(const RegFile::Operation& op)
{
    switch (op.kind) {
    case Kind::CreateKey: return "create " + op.keyPath;
    case Kind::DeleteKey: return "delete " + op.keyPath;
    case Kind::DeleteValue: return "unset " + op.keyPath + "|" + op.valueName;
    case Kind::SetValue:
        return "set " + op.keyPath + "|" + op.valueName + "|" +
               std::to_string(static_cast<unsigned>(op.value.type)) + "|" + hexOf(op.value.data);
    }
    return "?";
}

// The whole store as lines, read through the store's own API, for before/after comparisons.
std::string dump(RegistryStore& store, const std::string& path = "")
{
    std::string out = "[" + path + "]\n";
    for (const NamedValue& v : store.values(path))
        out += v.name + "|" + std::to_string(static_cast<unsigned>(v.value.type)) + "|" +
               hexOf(v.value.data) + "\n";
    for (const std::string& child : store.subKeys(path))
        out += dump(store, path.empty() ? child : path + "\\" + child);
    return out;
}

Lines parseOk(const std::string& bytes)
{
    RegFile::Error error;
    const auto ops = RegFile::parse(bytes, &error);
    EXPECT_TRUE(ops.has_value()) << error.text();
    Lines out;
    for (const RegFile::Operation& op : ops.value_or(std::vector<RegFile::Operation>{}))
        out.push_back(describe(op));
    return out;
}

class RegFileTest : public ::testing::Test {
protected:
    RegFileTest() : m_store(m_dir / "registry.db") {}

    test::TempDir m_dir;
    RegistryStore m_store;
};

// ------------------------------------------------------------------ parsing

TEST(RegFileParse, ValueForms)
{
    const struct {
        std::string lines;  // under [HKEY_LOCAL_MACHINE\Software\PELTRA], '\n' standing for CR LF
        Lines expected;     // "NAME|TYPE|HEX" set in that key, or "-NAME" deleted from it
    } cases[] = {
        {R"("Name"="text")", {"Name|1|74,65,78,74"}},
        {R"("Path"="C:\\Temp \"q\"")", {"Path|1|" + hexOf("C:\\Temp \"q\"")}},
        {R"("a\\b\"c"="")", {"a\\b\"c|1|"}},
        {R"(@="def")", {"|1|64,65,66"}},
        {R"(""=dword:00000001)", {"|4|01,00,00,00"}},
        {"\"N\"=dword:0000002a\n\"M\"=dword:FFFFFFFF\n\"S\"=dword:7",
         {"N|4|2a,00,00,00", "M|4|ff,ff,ff,ff", "S|4|07,00,00,00"}},
        {R"("B"=hex:00,ff,10,A0)", {"B|3|00,ff,10,a0"}},
        {R"("E"=hex:)", {"E|3|"}},
        {R"("M"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00)", {"M|7|61,00,62,63,00"}},
        {R"("X"=hex(2):25,00,50,00,25,00,00,00)", {"X|2|25,50,25"}},
        {"\"Q\"=hex(b):01,02,03,04,05,06,07,08\n\"Z\"=hex(0):\n\"D\"=hex(4):01,02\n\"T\"=hex(1f):ab",
         {"Q|11|01,02,03,04,05,06,07,08", "Z|0|", "D|4|01,02", "T|31|ab"}},
        {"\"B\"=hex:01,02,\\\n  03,04,\\\n  05\n\"After\"=dword:00000001",
         {"B|3|01,02,03,04,05", "After|4|01,00,00,00"}},
        {"\"Old\"=-\n@=-", {"-Old", "-"}},
        {"  ; a comment\n\n  \"A\" = \"x\"  \n\t@ =dword:1", {"A|1|78", "|4|01,00,00,00"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        std::string body;
        for (const char ch : c.lines)
            body += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        Lines expected = {"create Software\\PELTRA"};
        for (const std::string& e : c.expected)
            expected.push_back(e[0] == '-' ? "unset Software\\PELTRA|" + e.substr(1) : "set Software\\PELTRA|" + e);
        EXPECT_EQ(parseOk(kHeader + kKey + body + "\r\n"), expected);
    }
}

TEST(RegFileParse, KeysEncodingsAndLineEnds)
{
    const std::string text = kHeader +
                             "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Лексемы и функции]\r\n"
                             "\"Группа\"=\"Ёлка ё\"\r\n\"X\"=hex(2):1f,04,00,00\r\n";
    const Lines simple = {"create Software\\PELTRA", "set Software\\PELTRA|A|1|78"};
    const struct {
        const char* what;
        std::string bytes;
        Lines expected;
    } cases[] = {
        {"delete a key", kHeader + "[-HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Old]\r\n", {"delete Software\\PELTRA\\Old"}},
        {"bracket in a key name", kHeader + "[HKEY_LOCAL_MACHINE\\Software\\a]b]\r\n", {"create Software\\a]b"}},
        {"later operations follow earlier", kHeader + kKey + "\"A\"=dword:1\r\n\"a\"=-\r\n[-HKLM\\Software\\PELTRA]\r\n",
         {"create Software\\PELTRA", "set Software\\PELTRA|A|4|01,00,00,00", "unset Software\\PELTRA|a",
          "delete Software\\PELTRA"}},
        {"line feeds only", "Windows Registry Editor Version 5.00\n\n[HKLM\\Software\\PELTRA]\n\"A\"=\"x\"\n", simple},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF" + kHeader + kKey + "\"A\"=\"x\"\r\n", simple},
        {"UTF-16LE with Cyrillic names", "\xFF\xFE" + utf16le(text),
         {"create Software\\PELTRA\\Лексемы и функции",
          "set Software\\PELTRA\\Лексемы и функции|Группа|1|" + hexOf("Ёлка ё"),
          "set Software\\PELTRA\\Лексемы и функции|X|2|" + hexOf("П")}},
        // "Порты", "Имя", "Да" and the strings "А", "Б" as cp1251 bytes; binary stays as it is.
        {"REGEDIT4 in cp1251, text data included",
         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\\xCF\xEE\xF0\xF2\xFB]\r\n\"\xC8\xEC\xFF\"=\"\xC4\xE0\"\r\n"
         "\"E\"=hex(2):25,50,25,00\r\n\"M\"=hex(7):c0,00,c1,00,00\r\n\"B\"=hex:c0,00\r\n",
         {"create Software\\PELTRA\\Порты", "set Software\\PELTRA\\Порты|Имя|1|" + hexOf("Да"),
          "set Software\\PELTRA\\Порты|E|2|25,50,25",
          "set Software\\PELTRA\\Порты|M|7|" + hexOf(std::string_view("А\0Б\0", 6)),
          "set Software\\PELTRA\\Порты|B|3|c0,00"}},
        {"REGEDIT4 saved as UTF-8", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Порты]\n\"E\"=hex(2):c0,00\n",
         {"create Software\\Порты", "set Software\\Порты|E|2|" + hexOf("А")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseOk(c.bytes), c.expected) << c.what;
}

// ------------------------------------------------------------------ malformed files

TEST_F(RegFileTest, MalformedFileIsRefusedWithItsLineAndNothingIsWritten)
{
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA", "Frozen", RegistryValue::dword(1)));
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA\\Ports\\COM1", "CallMode", RegistryValue::dword(2)));
    const std::string before = dump(m_store);

    // Lines 3 to 5 of kGood change the store, so a partial import would show.
    const std::string kGood = kHeader + "[-HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports]\r\n" + kKey +
                              "\"Frozen\"=dword:00000000\r\n";
    const struct {
        std::string file;
        int line;
        const char* message;  // a part of the reason
    } cases[] = {
        {"[HKEY_LOCAL_MACHINE\\Software]\r\n", 1, "not a registry file"},
        {kHeader + "\"A\"=\"x\"\r\n", 3, "before any [key]"},
        {kGood + "Frozen=1\r\n", 6, "expected a [key]"},
        {kGood + "\"A\"=\"abc\r\n", 6, "unterminated string"},
        {kGood + "\"A=dword:1\r\n", 6, "unterminated value name"},
        {kGood + "\"A\"=\"C:\\Temp\"\r\n", 6, "unknown escape \\T"},
        {kGood + "\"A\" dword:1\r\n", 6, "expected '='"},
        {kGood + "\"A\"=str:x\r\n", 6, "unknown value form"},
        {kGood + "\"A\"=dword:100000000\r\n", 6, "out of the 32-bit range"},
        {kGood + "\"A\"=dword:12g4\r\n", 6, "not a hex number"},
        {kGood + "\"A\"=hex:01,100\r\n", 6, "\"100\" is out of range"},
        {kGood + "\"A\"=hex:01,,02\r\n", 6, "missing between commas"},
        {kGood + "\"A\"=hex:01,02,\\\r\n  03,\\\r\n  0g\r\n", 8, "\"0g\" is not a hex byte"},
        {kGood + "\"A\"=hex(2):41,00,00\r\n", 6, "not UTF-16LE text"},
        {kGood + "[HKEY_CURRENT_USER\\Software]\r\n", 6, "only HKEY_LOCAL_MACHINE"},
        {kGood + "[-HKLM]\r\n", 6, "cannot be deleted"},
        {kGood + "[-HKLM\\Software\\X]\r\n\"A\"=dword:1\r\n", 7, "key that this file deletes"},
        {kGood + "\"A\"=\"\xC3\x28\"\r\n", 6, "not valid UTF-8"},
        {"REGEDIT4\r\n\r\n[HKLM\\Software]\r\n\"A\"=\"\x98\"\r\n", 4, "not valid cp1251"},
        {"\xFF\xFE" + utf16le(kGood) + "x", 0, "odd number of bytes"},
        {"\xFF\xFE" + utf16le(kGood) + std::string("\x00\xD8\r\0\n\0", 6), 6, "not valid UTF-16LE"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i + 1) + ": " + cases[i].message);
        RegFile::Error error;
        EXPECT_FALSE(RegFile::import(m_store, cases[i].file, &error));
        EXPECT_EQ(error.line, cases[i].line) << error.text();
        EXPECT_NE(error.message.find(cases[i].message), std::string::npos) << error.message;
        EXPECT_EQ(dump(m_store), before);
    }
}

// ------------------------------------------------------------------ export and round trip

TEST_F(RegFileTest, ExportWritesEveryValueFormAsRegeditDoesAndReadsBackExactly)
{
    const std::string k = "Software\\PELTRA";
    Bytes sixty;
    for (int i = 0; i < 60; ++i)
        sixty.push_back(static_cast<std::uint8_t>(i));
    const std::pair<const char*, RegistryValue> values[] = {
        {"Frozen", RegistryValue::dword(0x2a)},
        {"", RegistryValue::text("def")},
        {"Path", RegistryValue::text("C:\\Temp \"q\"")},
        {"Bin", RegistryValue::binary({0x00, 0xff, 0x10})},
        {"Empty", RegistryValue::binary({})},
        {"Multi", RegistryValue::multiText({"a", "Б"})},
        {"NoStrings", RegistryValue::multiText({})},
        {"Exp", RegistryValue::text("%P%", RegType::ExpandSz)},
        {"Q", RegistryValue::qword(0x0102030405060708ull)},
        {"Settings", RegistryValue::binary(sixty)},
        {"ShortDword", RegistryValue::binary({1, 2}, RegType::Dword)},
        {"Lines", RegistryValue::text("a\nb")},
        {"Nul", RegistryValue::binary({'a', 0, 'b'}, RegType::Sz)},
        {"Имя", RegistryValue::text("Значение")},
    };
    for (const auto& [name, value] : values)
        ASSERT_TRUE(m_store.setValue(k, name, value));
    ASSERT_TRUE(m_store.createKey(k + "\\tasks"));
    ASSERT_TRUE(m_store.setValue(k + "\\Ports\\COM1", "CallMode", RegistryValue::dword(1)));
    ASSERT_TRUE(m_store.createKey(k + "\\Ports\\COM10"));

    RegFile::Error error;  // the stored spelling is written, whatever was asked
    EXPECT_EQ(RegFile::exportKey(m_store, "software\\peltra", RegFile::Encoding::Utf8, &error),
              "Windows Registry Editor Version 5.00\r\n"
              "\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n"
              "@=\"def\"\r\n"
              "\"Bin\"=hex:00,ff,10\r\n"
              "\"Empty\"=hex:\r\n"
              "\"Exp\"=hex(2):25,00,50,00,25,00,00,00\r\n"
              "\"Frozen\"=dword:0000002a\r\n"
              "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
              "\"Multi\"=hex(7):61,00,00,00,11,04,00,00,00,00\r\n"
              "\"NoStrings\"=hex(7):00,00\r\n"
              "\"Nul\"=hex(1):61,00,00,00,62,00,00,00\r\n"
              "\"Path\"=\"C:\\\\Temp \\\"q\\\"\"\r\n"
              "\"Q\"=hex(b):08,07,06,05,04,03,02,01\r\n"
              // 21 bytes after the name, then 25 a line after two spaces, as regedit wraps them.
              "\"Settings\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\r\n"
              "  15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,\\\r\n"
              "  2e,2f,30,31,32,33,34,35,36,37,38,39,3a,3b\r\n"
              "\"ShortDword\"=hex(4):01,02\r\n"
              "\"Имя\"=\"Значение\"\r\n"
              "\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports]\r\n"
              "\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports\\COM1]\r\n"
              "\"CallMode\"=dword:00000001\r\n"
              "\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports\\COM10]\r\n"
              "\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\tasks]\r\n"
              "\r\n");

    // Then forms the text above does not show: export, import into a fresh store and export again.
    Bytes big(700);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    const std::pair<std::string, RegistryValue> more[] = {
        {"Quotes \"and\" \\slashes\\", RegistryValue::text("\\\\server\\share \"x\"")},
        {"Big", RegistryValue::binary(big)},
        {"Odd", RegistryValue::binary({9}, static_cast<RegType>(0x12345))},
        {"CrLf", RegistryValue::text("first\r\nsecond")},
        {"MultiNoEnd", RegistryValue::binary({'a', 0, 'b'}, RegType::MultiSz)},
        {"LongName" + std::string(90, 'n'), RegistryValue::binary(Bytes(40, 0xAB))},
        {"Эмодзи", RegistryValue::text("😀 ☎")},
    };
    for (const auto& [name, value] : more)
        ASSERT_TRUE(m_store.setValue(k, name, value));
    ASSERT_TRUE(m_store.setValue(k + "\\Tasks\\Ввод\\Операторы\\Должники", "Valid", RegistryValue::dword(1)));
    ASSERT_TRUE(m_store.setValue(k + "\\Name]With[Brackets", "x", RegistryValue::dword(7)));
    for (const auto encoding : {RegFile::Encoding::Utf8, RegFile::Encoding::Utf16Le}) {
        SCOPED_TRACE(encoding == RegFile::Encoding::Utf8 ? "UTF-8" : "UTF-16LE");
        const auto first = RegFile::exportKey(m_store, k, encoding, &error);
        ASSERT_TRUE(first) << error.text();
        RegistryStore fresh(m_dir / (encoding == RegFile::Encoding::Utf8 ? "utf8.db" : "utf16.db"));
        ASSERT_TRUE(RegFile::import(fresh, *first, &error)) << error.text();
        EXPECT_EQ(RegFile::exportKey(fresh, k, encoding, &error), first);
        EXPECT_EQ(dump(fresh), dump(m_store));  // every byte of every value came across
    }
}

}  // namespace
}  // namespace peltra::platform
