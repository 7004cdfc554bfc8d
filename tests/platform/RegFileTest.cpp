// .reg files: every value form read and written, encodings, malformed files, exact round trips.
#include "platform/registry/RegFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <ostream>

namespace peltra::platform {
namespace {

using test::TempDir;
using Kind = RegFile::Operation::Kind;

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

// UTF-8 to UTF-16LE, written out here so that the tests do not lean on the converter under test.
std::string utf16le(std::string_view utf8)
{
    std::string out;
    auto unit = [&](std::uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = c;
        int extra = 0;
        if (c >= 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else if (c >= 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        }
        for (int k = 1; k <= extra; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

std::string hexOf(const Bytes& data)
{
    std::string out;
    char pair[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        out += (i ? "," : "") + std::string(pair);
    }
    return out;
}

Bytes bytesOf(std::string_view s)
{
    return Bytes(s.begin(), s.end());
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

std::vector<std::string> describeAll(const std::vector<RegFile::Operation>& ops)
{
    std::vector<std::string> out;
    for (const RegFile::Operation& op : ops)
        out.push_back(describe(op));
    return out;
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

class RegFileTest : public ::testing::Test {
protected:
    RegFileTest() : m_store(m_dir / "registry.db") {}

    std::vector<std::string> parseOk(const std::string& bytes)
    {
        RegFile::Error error;
        const auto ops = RegFile::parse(bytes, &error);
        EXPECT_TRUE(ops.has_value()) << error.text();
        return ops ? describeAll(*ops) : std::vector<std::string>{};
    }

    TempDir m_dir;
    RegistryStore m_store;
};

// ------------------------------------------------------------------ parsing

struct ParseCase {
    const char* name;
    std::string body;  // after the version 5 header
    std::vector<std::string> expected;
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.name;
}

class RegFileParseTest : public RegFileTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(RegFileParseTest, GivesTheOperations)
{
    EXPECT_EQ(parseOk(kHeader + GetParam().body), GetParam().expected);
}

const std::string kKey = "[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n";

INSTANTIATE_TEST_SUITE_P(
    ValueForms, RegFileParseTest,
    ::testing::Values(
        ParseCase{"String", kKey + "\"Name\"=\"text\"\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|Name|1|74,65,78,74"}},
        ParseCase{"StringEscapes", kKey + "\"Path\"=\"C:\\\\Temp \\\"q\\\"\"\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|Path|1|" +
                                                  hexOf(bytesOf("C:\\Temp \"q\""))}},
        ParseCase{"EscapesInName", kKey + "\"a\\\\b\\\"c\"=\"\"\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|a\\b\"c|1|"}},
        ParseCase{"EqualsAndSemicolonInsideQuotes", kKey + "\"a=b;c\"=\"x=;y\"\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|a=b;c|1|" + hexOf(bytesOf("x=;y"))}},
        ParseCase{"DefaultValue", kKey + "@=\"def\"\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA||1|64,65,66"}},
        ParseCase{"EmptyQuotedNameIsTheDefault", kKey + "\"\"=dword:00000001\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA||4|01,00,00,00"}},
        ParseCase{"Dword", kKey + "\"N\"=dword:0000002a\r\n\"M\"=dword:FFFFFFFF\r\n\"S\"=dword:7\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|N|4|2a,00,00,00",
                   "set Software\\PELTRA|M|4|ff,ff,ff,ff", "set Software\\PELTRA|S|4|07,00,00,00"}},
        ParseCase{"Binary", kKey + "\"B\"=hex:00,ff,10,A0\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|B|3|00,ff,10,a0"}},
        ParseCase{"EmptyBinary", kKey + "\"E\"=hex:\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|E|3|"}},
        ParseCase{"MultiStringIsUtf16WithTerminator",
                  kKey + "\"M\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|M|7|61,00,62,63,00"}},
        ParseCase{"EmptyMultiString", kKey + "\"M\"=hex(7):00,00\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|M|7|"}},
        ParseCase{"ExpandString", kKey + "\"X\"=hex(2):25,00,50,00,25,00,00,00\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|X|2|25,50,25"}},
        ParseCase{"ExpandStringCyrillic", kKey + "\"X\"=hex(2):1f,04,30,04,00,00\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|X|2|" + hexOf(bytesOf("Па"))}},
        ParseCase{"StringAsHex1", kKey + "\"S\"=hex(1):61,00,00,00,62,00,00,00\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|S|1|61,00,62"}},
        ParseCase{"QwordAndOtherTypesKeepTheirBytes",
                  kKey + "\"Q\"=hex(b):01,02,03,04,05,06,07,08\r\n\"Z\"=hex(0):\r\n"
                         "\"D\"=hex(4):01,02\r\n\"T\"=hex(1f):ab\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|Q|11|01,02,03,04,05,06,07,08",
                   "set Software\\PELTRA|Z|0|", "set Software\\PELTRA|D|4|01,02",
                   "set Software\\PELTRA|T|31|ab"}},
        ParseCase{"ContinuationLines",
                  kKey + "\"B\"=hex:01,02,\\\r\n  03,04,\\\r\n  05\r\n\"After\"=dword:00000001\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|B|3|01,02,03,04,05",
                   "set Software\\PELTRA|After|4|01,00,00,00"}},
        ParseCase{"ContinuationOfMultiString",
                  kKey + "\"M\"=hex(7):61,00,00,\\\r\n  00,00,00\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|M|7|61,00"}},
        ParseCase{"TrailingCommaIsAccepted", kKey + "\"B\"=hex:01,02,\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|B|3|01,02"}},
        ParseCase{"DeleteValue", kKey + "\"Old\"=-\r\n@=-\r\n",
                  {"create Software\\PELTRA", "unset Software\\PELTRA|Old", "unset Software\\PELTRA|"}},
        ParseCase{"DeleteKey", "[-HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Old]\r\n",
                  {"delete Software\\PELTRA\\Old"}},
        ParseCase{"ShortHiveAndEmptyComponents", "[hklm\\Software\\\\A\\]\r\n[HKEY_local_MACHINE]\r\n",
                  {"create Software\\A", "create "}},
        ParseCase{"CommentsBlankLinesAndSpaces",
                  "; a comment\r\n\r\n   " + kKey + "  ; another\r\n  \"A\" = \"x\"  \r\n\t@ =dword:1\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|A|1|78",
                   "set Software\\PELTRA||4|01,00,00,00"}},
        ParseCase{"CyrillicNames",
                  "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Tasks\\Ввод\\Операторы]\r\n\"Имя\"=\"Значение\"\r\n",
                  {"create Software\\PELTRA\\Tasks\\Ввод\\Операторы",
                   "set Software\\PELTRA\\Tasks\\Ввод\\Операторы|Имя|1|" + hexOf(bytesOf("Значение"))}},
        ParseCase{"KeyNameWithBracket", "[HKEY_LOCAL_MACHINE\\Software\\a]b]\r\n",
                  {"create Software\\a]b"}},
        ParseCase{"LaterOperationsFollowEarlier",
                  kKey + "\"A\"=dword:1\r\n\"a\"=-\r\n[-HKLM\\Software\\PELTRA]\r\n",
                  {"create Software\\PELTRA", "set Software\\PELTRA|A|4|01,00,00,00",
                   "unset Software\\PELTRA|a", "delete Software\\PELTRA"}}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST_F(RegFileTest, LineFeedEndsAndByteOrderMarkAreAccepted)
{
    const std::vector<std::string> expected = {"create Software\\PELTRA", "set Software\\PELTRA|A|1|78"};
    EXPECT_EQ(parseOk("Windows Registry Editor Version 5.00\n\n[HKLM\\Software\\PELTRA]\n\"A\"=\"x\"\n"),
              expected);
    EXPECT_EQ(parseOk("\xEF\xBB\xBF" + kHeader + kKey + "\"A\"=\"x\"\r\n"), expected);
    EXPECT_EQ(parseOk(kHeader + kKey + "\"A\"=\"x\""), expected);  // no line end at the end
}

TEST_F(RegFileTest, Utf16FileWithCyrillicNames)
{
    const std::string text = kHeader +
                             "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Лексемы и функции]\r\n"
                             "\"Группа\"=\"Ёлка ё\"\r\n"
                             "\"X\"=hex(2):1f,04,00,00\r\n";
    const std::vector<std::string> expected = {
        "create Software\\PELTRA\\Лексемы и функции",
        "set Software\\PELTRA\\Лексемы и функции|Группа|1|" + hexOf(bytesOf("Ёлка ё")),
        "set Software\\PELTRA\\Лексемы и функции|X|2|" + hexOf(bytesOf("П")),
    };
    EXPECT_EQ(parseOk("\xFF\xFE" + utf16le(text)), expected);
}

TEST_F(RegFileTest, Regedit4FileIsCp1251IncludingItsTextData)
{
    // "Порты", "Имя", "Да", and the strings "А", "Б" as cp1251 bytes.
    const std::string file =
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\\xCF\xEE\xF0\xF2\xFB]\r\n"
        "\"\xC8\xEC\xFF\"=\"\xC4\xE0\"\r\n"
        "\"E\"=hex(2):25,50,25,00\r\n"
        "\"M\"=hex(7):c0,00,c1,00,00\r\n"
        "\"B\"=hex:c0,00\r\n";
    const std::vector<std::string> expected = {
        "create Software\\PELTRA\\Порты",
        "set Software\\PELTRA\\Порты|Имя|1|" + hexOf(bytesOf("Да")),
        "set Software\\PELTRA\\Порты|E|2|25,50,25",
        "set Software\\PELTRA\\Порты|M|7|" + hexOf(bytesOf(std::string_view("А\0Б\0", 6))),
        "set Software\\PELTRA\\Порты|B|3|c0,00",  // binary stays as it is
    };
    EXPECT_EQ(parseOk(file), expected);
}

TEST_F(RegFileTest, Regedit4FileSavedAsUtf8IsReadAsUtf8)
{
    const std::string file = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Порты]\n\"E\"=hex(2):c0,00\n";
    const std::vector<std::string> expected = {
        "create Software\\Порты", "set Software\\Порты|E|2|" + hexOf(bytesOf("А"))};
    EXPECT_EQ(parseOk(file), expected);
}

// ------------------------------------------------------------------ malformed files

struct BadCase {
    const char* name;
    std::string file;
    int line;
    std::string message;  // a part of the reason
};

void PrintTo(const BadCase& c, std::ostream* os)
{
    *os << c.name;
}

class RegFileBadTest : public RegFileTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(RegFileBadTest, IsRefusedWithItsLineAndNothingIsWritten)
{
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA", "Frozen", RegistryValue::dword(1)));
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA\\Ports\\COM1", "CallMode", RegistryValue::dword(2)));
    const std::string before = dump(m_store);

    RegFile::Error error;
    EXPECT_FALSE(RegFile::import(m_store, GetParam().file, &error));
    EXPECT_EQ(error.line, GetParam().line) << error.text();
    EXPECT_NE(error.message.find(GetParam().message), std::string::npos) << error.message;
    EXPECT_EQ(dump(m_store), before);
}

// Line 3 of every case below changes the store, so a partial import would show.
const std::string kGood = kHeader + "[-HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports]\r\n" +
                          "[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n\"Frozen\"=dword:00000000\r\n";

INSTANTIATE_TEST_SUITE_P(
    Faults, RegFileBadTest,
    ::testing::Values(
        BadCase{"NoHeader", "[HKEY_LOCAL_MACHINE\\Software]\r\n", 1, "not a registry file"},
        BadCase{"WrongHeader", "Windows Registry Editor Version 4.00\r\n\r\n", 1, "not a registry file"},
        BadCase{"EmptyFile", "", 1, "not a registry file"},
        BadCase{"ValueBeforeAnyKey", kHeader + "\"A\"=\"x\"\r\n", 3, "before any [key]"},
        BadCase{"StrayText", kGood + "Frozen=1\r\n", 6, "expected a [key]"},
        BadCase{"UnterminatedString", kGood + "\"A\"=\"abc\r\n", 6, "unterminated string"},
        BadCase{"StringEndsInBackslash", kGood + "\"A\"=\"abc\\\"\r\n", 6, "unterminated string"},
        BadCase{"UnterminatedName", kGood + "\"A=dword:1\r\n", 6, "unterminated value name"},
        BadCase{"UnknownEscape", kGood + "\"A\"=\"C:\\Temp\"\r\n", 6, "unknown escape \\T"},
        BadCase{"TextAfterString", kGood + "\"A\"=\"x\" y\r\n", 6, "after the closing quote"},
        BadCase{"NoEquals", kGood + "\"A\" dword:1\r\n", 6, "expected '='"},
        BadCase{"UnknownForm", kGood + "\"A\"=str:x\r\n", 6, "unknown value form"},
        BadCase{"DeleteWithExtraText", kGood + "\"A\"=-x\r\n", 6, "unknown value form"},
        BadCase{"DwordTooLarge", kGood + "\"A\"=dword:100000000\r\n", 6, "out of the 32-bit range"},
        BadCase{"DwordNotHex", kGood + "\"A\"=dword:12g4\r\n", 6, "not a hex number"},
        BadCase{"DwordNegative", kGood + "\"A\"=dword:-1\r\n", 6, "not a hex number"},
        BadCase{"DwordEmpty", kGood + "\"A\"=dword:\r\n", 6, "no digits"},
        BadCase{"HexByteOutOfRange", kGood + "\"A\"=hex:01,100\r\n", 6, "\"100\" is out of range"},
        BadCase{"HexByteNotHex", kGood + "\"A\"=hex:01,zz\r\n", 6, "\"zz\" is not a hex byte"},
        BadCase{"HexByteMissing", kGood + "\"A\"=hex:01,,02\r\n", 6, "missing between commas"},
        BadCase{"BadByteOnContinuationLine", kGood + "\"A\"=hex:01,02,\\\r\n  03,\\\r\n  0g\r\n", 8,
                "\"0g\" is not a hex byte"},
        BadCase{"ContinuationPastEnd", kGood + "\"A\"=hex:01,02,\\\r\n  03,\\", 7, "past the end"},
        BadCase{"HexTypeUnclosed", kGood + "\"A\"=hex(7:00\r\n", 6, "no closing ')'"},
        BadCase{"HexTypeNotHex", kGood + "\"A\"=hex(zz):00\r\n", 6, "not a hex number"},
        BadCase{"HexTypeTooLong", kGood + "\"A\"=hex(123456789):00\r\n", 6, "1 to 8 hex digits"},
        BadCase{"HexWithoutColon", kGood + "\"A\"=hex 00\r\n", 6, "expected ':'"},
        BadCase{"OddUtf16Text", kGood + "\"A\"=hex(2):41,00,00\r\n", 6, "not UTF-16LE text"},
        BadCase{"OtherHive", kGood + "[HKEY_CURRENT_USER\\Software]\r\n", 6, "only HKEY_LOCAL_MACHINE"},
        BadCase{"UnknownHive", kGood + "[HKEY_NOWHERE\\Software]\r\n", 6, "unknown hive"},
        BadCase{"KeyWithoutBracket", kGood + "[HKEY_LOCAL_MACHINE\\Software\r\n", 6, "no closing ']'"},
        BadCase{"DeleteTheWholeHive", kGood + "[-HKLM]\r\n", 6, "cannot be deleted"},
        BadCase{"ValueUnderDeletedKey", kGood + "[-HKLM\\Software\\X]\r\n\"A\"=dword:1\r\n", 7,
                "key that this file deletes"},
        BadCase{"InvalidUtf8", kGood + "\"A\"=\"\xC3\x28\"\r\n", 6, "not valid UTF-8"},
        BadCase{"Cp1251UndefinedByte", "REGEDIT4\r\n\r\n[HKLM\\Software]\r\n\"A\"=\"\x98\"\r\n", 4,
                "not valid cp1251"},
        BadCase{"Utf16OddLength", "\xFF\xFE" + utf16le(kGood) + "x", 0, "odd number of bytes"},
        BadCase{"Utf16LoneSurrogate",
                "\xFF\xFE" + utf16le(kGood) + std::string("\x00\xD8\r\0\n\0", 6), 6, "not valid UTF-16LE"},
        BadCase{"Utf16BigEndian", "\xFE\xFF" + std::string("\0W", 2), 0, "big-endian"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

TEST_F(RegFileTest, StoreFailureDuringApplyUndoesEverything)
{
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA", "Frozen", RegistryValue::dword(1)));
    const std::string before = dump(m_store);
    RegFile::Operation set;
    set.kind = Kind::SetValue;
    set.keyPath = "Software\\PELTRA";
    set.valueName = "Frozen";
    set.value = RegistryValue::dword(0);
    set.line = 3;
    RegFile::Operation bad;  // the store refuses to delete its root
    bad.kind = Kind::DeleteKey;
    bad.keyPath = "";
    bad.line = 9;

    RegFile::Error error;
    EXPECT_FALSE(RegFile::apply(m_store, {set, bad}, &error));
    EXPECT_EQ(error.line, 9);
    EXPECT_FALSE(error.message.empty());
    EXPECT_EQ(dump(m_store), before);
}

TEST_F(RegFileTest, ReadOnlyStoreRefusesTheImport)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes to read-only files";
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA", "Frozen", RegistryValue::dword(1)));
    ASSERT_EQ(chmod((m_dir / "registry.db").c_str(), 0400), 0);
    RegistryStore readOnly(m_dir / "registry.db");
    ASSERT_TRUE(readOnly.isOpen()) << readOnly.openError();
    ASSERT_TRUE(readOnly.isReadOnly());

    RegFile::Error error;
    EXPECT_FALSE(RegFile::import(readOnly, kGood, &error));
    EXPECT_NE(error.message.find("read-only"), std::string::npos) << error.text();
    EXPECT_EQ(readOnly.getValue("Software\\PELTRA", "Frozen"), RegistryValue::dword(1));
    // Export still works from a store that can only be read.
    EXPECT_TRUE(RegFile::exportKey(readOnly, "Software", RegFile::Encoding::Utf8, &error)) << error.text();
}

// ------------------------------------------------------------------ applying

TEST_F(RegFileTest, ImportCreatesSetsAndDeletes)
{
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA\\Old\\Deep", "X", RegistryValue::dword(1)));
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA", "Gone", RegistryValue::dword(1)));
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA", "Kept", RegistryValue::dword(1)));
    const std::string file = kHeader +
                             "[-HKEY_LOCAL_MACHINE\\Software\\PELTRA\\old]\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n"
                             "\"gone\"=-\r\n"
                             "\"Frozen\"=dword:00000001\r\n"
                             "@=\"default\"\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports\\COM1]\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Tasks\\Ввод]\r\n"
                             "\"Имя\"=hex(7):61,00,00,00,00,00\r\n";
    RegFile::Error error;
    ASSERT_TRUE(RegFile::import(m_store, file, &error)) << error.text();
    EXPECT_FALSE(m_store.keyExists("Software\\PELTRA\\Old"));
    EXPECT_FALSE(m_store.getValue("Software\\PELTRA", "Gone"));
    EXPECT_EQ(m_store.getValue("Software\\PELTRA", "Kept"), RegistryValue::dword(1));
    EXPECT_EQ(m_store.getValue("Software\\PELTRA", "Frozen"), RegistryValue::dword(1));
    EXPECT_EQ(m_store.getValue("Software\\PELTRA", ""), RegistryValue::text("default"));
    EXPECT_TRUE(m_store.keyExists("Software\\PELTRA\\Ports\\COM1"));  // a key without values
    EXPECT_EQ(m_store.getValue("Software\\PELTRA\\Tasks\\ввод", "ИМЯ"), RegistryValue::multiText({"a"}));
}

// ------------------------------------------------------------------ export

class RegFileExportTest : public RegFileTest {
protected:
    std::string exportUtf8(const std::string& key)
    {
        RegFile::Error error;
        const auto text = RegFile::exportKey(m_store, key, RegFile::Encoding::Utf8, &error);
        EXPECT_TRUE(text.has_value()) << error.text();
        return text.value_or("");
    }
};

TEST_F(RegFileExportTest, WritesEveryValueFormAsRegeditDoes)
{
    const std::string k = "Software\\PELTRA";
    ASSERT_TRUE(m_store.setValue(k, "Frozen", RegistryValue::dword(0x2a)));
    ASSERT_TRUE(m_store.setValue(k, "", RegistryValue::text("def")));
    ASSERT_TRUE(m_store.setValue(k, "Path", RegistryValue::text("C:\\Temp \"q\"")));
    ASSERT_TRUE(m_store.setValue(k, "Bin", RegistryValue::binary({0x00, 0xff, 0x10})));
    ASSERT_TRUE(m_store.setValue(k, "Empty", RegistryValue::binary({})));
    ASSERT_TRUE(m_store.setValue(k, "Multi", RegistryValue::multiText({"a", "Б"})));
    ASSERT_TRUE(m_store.setValue(k, "NoStrings", RegistryValue::multiText({})));
    ASSERT_TRUE(m_store.setValue(k, "Exp", RegistryValue::text("%P%", RegType::ExpandSz)));
    ASSERT_TRUE(m_store.setValue(k, "Q", RegistryValue::qword(0x0102030405060708ull)));
    ASSERT_TRUE(m_store.setValue(k, "ShortDword", RegistryValue::binary({1, 2}, RegType::Dword)));
    ASSERT_TRUE(m_store.setValue(k, "Lines", RegistryValue::text("a\nb")));
    ASSERT_TRUE(m_store.setValue(k, "Nul", RegistryValue::binary({'a', 0, 'b'}, RegType::Sz)));
    ASSERT_TRUE(m_store.setValue(k, "Имя", RegistryValue::text("Значение")));
    ASSERT_TRUE(m_store.createKey(k + "\\tasks"));
    ASSERT_TRUE(m_store.setValue(k + "\\Ports\\COM1", "CallMode", RegistryValue::dword(1)));
    ASSERT_TRUE(m_store.createKey(k + "\\Ports\\COM10"));

    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n"
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
        "\"ShortDword\"=hex(4):01,02\r\n"
        "\"Имя\"=\"Значение\"\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports]\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports\\COM1]\r\n"
        "\"CallMode\"=dword:00000001\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Ports\\COM10]\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\tasks]\r\n"
        "\r\n";
    EXPECT_EQ(exportUtf8("software\\peltra"), expected);  // stored spelling, whatever was asked
}

TEST_F(RegFileExportTest, LongHexWrapsAsRegeditDoes)
{
    Bytes data;
    for (int i = 0; i < 60; ++i)
        data.push_back(static_cast<std::uint8_t>(i));
    ASSERT_TRUE(m_store.setValue("K", "Settings", RegistryValue::binary(data)));
    const std::string text = exportUtf8("K");

    // 21 bytes after "Settings"=hex:, then 25 a line after two spaces, then the rest.
    std::string expected = "\"Settings\"=hex:";
    for (int i = 0; i < 60; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x", i);
        expected += pair;
        if (i + 1 < 60)
            expected += ",";
        if (i == 20 || i == 45)
            expected += "\\\r\n  ";
    }
    expected += "\r\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_LE(end - start, 80u);
        start = end + 2;
    }
}

TEST_F(RegFileExportTest, Utf16IsTheSameTextWithMark)
{
    ASSERT_TRUE(m_store.setValue("Software\\PELTRA\\Порты", "Имя", RegistryValue::text("Да")));
    RegFile::Error error;
    const auto wide = RegFile::exportKey(m_store, "Software", RegFile::Encoding::Utf16Le, &error);
    ASSERT_TRUE(wide) << error.text();
    EXPECT_EQ(*wide, "\xFF\xFE" + utf16le(exportUtf8("Software")));
}

TEST_F(RegFileExportTest, MissingKeyAndUnwritableTextAreErrors)
{
    RegFile::Error error;
    EXPECT_FALSE(RegFile::exportKey(m_store, "Software\\Nothing", RegFile::Encoding::Utf8, &error));
    EXPECT_EQ(error.text(), "key not found: HKEY_LOCAL_MACHINE\\Software\\Nothing");

    ASSERT_TRUE(m_store.setValue("Bad", "T", RegistryValue::binary({0xC3, 0x28}, RegType::ExpandSz)));
    EXPECT_FALSE(RegFile::exportKey(m_store, "Bad", RegFile::Encoding::Utf8, &error));
    EXPECT_NE(error.message.find("not valid UTF-8"), std::string::npos) << error.message;

    ASSERT_TRUE(m_store.setValue("BadName", "a\nb", RegistryValue::dword(1)));
    EXPECT_FALSE(RegFile::exportKey(m_store, "BadName", RegFile::Encoding::Utf8, &error));
    EXPECT_NE(error.message.find("cannot be written"), std::string::npos) << error.message;
}

TEST_F(RegFileExportTest, WholeHive)
{
    ASSERT_TRUE(m_store.setValue("", "Top", RegistryValue::dword(1)));
    ASSERT_TRUE(m_store.createKey("A"));
    EXPECT_EQ(exportUtf8(""),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE]\r\n\"Top\"=dword:00000001\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\A]\r\n\r\n");
}

// ------------------------------------------------------------------ round trip

void fillRich(RegistryStore& store)
{
    const std::string k = "Software\\PELTRA";
    Bytes big;
    for (int i = 0; i < 700; ++i)
        big.push_back(static_cast<std::uint8_t>(i * 7));
    const std::vector<std::pair<std::string, RegistryValue>> values = {
        {"Frozen", RegistryValue::dword(0)},
        {"Max", RegistryValue::dword(0xFFFFFFFF)},
        {"LocalPhoneString", RegistryValue::text("8 (495) 123-45-67")},
        {"", RegistryValue::text("")},
        {"Quotes \"and\" \\slashes\\", RegistryValue::text("\\\\server\\share \"x\"")},
        {"Big", RegistryValue::binary(big)},
        {"Empty", RegistryValue::binary({})},
        {"Multi", RegistryValue::multiText({"один", "two", "три"})},
        {"EmptyMulti", RegistryValue::multiText({})},
        {"Expand", RegistryValue::text("%TEMP%\\Пельтра", RegType::ExpandSz)},
        {"Qword", RegistryValue::qword(42)},
        {"NoneType", RegistryValue::binary({1, 2, 3}, RegType::None)},
        {"Odd", RegistryValue::binary({9}, static_cast<RegType>(0x12345))},
        {"Lines", RegistryValue::text("first\r\nsecond")},
        {"Nul", RegistryValue::binary({'a', 0, 'b', 0}, RegType::Sz)},
        {"MultiNoEnd", RegistryValue::binary({'a', 0, 'b'}, RegType::MultiSz)},
        {"ShortDword", RegistryValue::binary({1}, RegType::Dword)},
        {"LongName" + std::string(90, 'n'), RegistryValue::binary(Bytes(40, 0xAB))},
        {"Эмодзи", RegistryValue::text("😀 ☎")},
    };
    for (const auto& [name, value] : values)
        ASSERT_TRUE(store.setValue(k, name, value));
    ASSERT_TRUE(store.setValue(k + "\\Tasks\\Ввод\\Операторы\\Должники", "Valid", RegistryValue::dword(1)));
    ASSERT_TRUE(store.setValue(k + "\\Tasks\\Ввод\\Операторы\\Должники\\Диапазоны", "0",
                               RegistryValue::text("1-10")));
    ASSERT_TRUE(store.createKey(k + "\\Tasks\\Ввод\\Операторы\\Должники\\Доступные Порты"));
    ASSERT_TRUE(store.setValue(k + "\\Лексемы и функции", "Числа", RegistryValue::dword(3)));
    ASSERT_TRUE(store.setValue(k + "\\Ports\\COM1", "Prefix", RegistryValue::text("9")));
    ASSERT_TRUE(store.setValue(k + "\\Ports\\com2", "Prefix", RegistryValue::text("8")));
    ASSERT_TRUE(store.setValue(k + "\\Name]With[Brackets", "x", RegistryValue::dword(7)));
}

class RegFileRoundTripTest : public RegFileTest,
                             public ::testing::WithParamInterface<RegFile::Encoding> {};

TEST_P(RegFileRoundTripTest, ExportImportExportIsExact)
{
    fillRich(m_store);
    RegFile::Error error;
    const auto first = RegFile::exportKey(m_store, "Software\\PELTRA", GetParam(), &error);
    ASSERT_TRUE(first) << error.text();

    RegistryStore fresh(m_dir / "fresh.db");
    ASSERT_TRUE(RegFile::import(fresh, *first, &error)) << error.text();
    const auto second = RegFile::exportKey(fresh, "Software\\PELTRA", GetParam(), &error);
    ASSERT_TRUE(second) << error.text();
    EXPECT_EQ(*first, *second);
    EXPECT_EQ(dump(fresh), dump(m_store));  // every byte of every value came across
}

INSTANTIATE_TEST_SUITE_P(Encodings, RegFileRoundTripTest,
                         ::testing::Values(RegFile::Encoding::Utf8, RegFile::Encoding::Utf16Le),
                         [](const ::testing::TestParamInfo<RegFile::Encoding>& info) {
                             return info.param == RegFile::Encoding::Utf8 ? "Utf8" : "Utf16";
                         });

}  // namespace
}  // namespace peltra::platform
