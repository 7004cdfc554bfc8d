// peltra-reg run as the operator runs it: commands, output, exit codes and messages.
#include "support/ToolsFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;

class PeltraRegTest : public ToolsFixture {
protected:
    PeltraRegTest() : ToolsFixture(PELTRA_REG_PATH) {}
    fs::path storeFile() const { return home() / "registry.db"; }

    // Runs the tool with exactly these arguments and $PELTRA_HOME as given.
    ProgramResult exec(const Args& args, const std::optional<fs::path>& envHome = {})
    {
        return runProgram(m_program, args, work(), "",
                          {{"PELTRA_HOME", envHome ? std::optional(envHome->string()) : std::nullopt}});
    }

    // A command that must succeed saying nothing on standard error; its output.
    std::string ok(const Args& args, const std::string& input = "") { return fails(args, 0, "", input).out; }
};

const std::string kPorts = "Software\\PELTRA\\Ports\\COM1";

TEST_F(PeltraRegTest, GetPrintsWhatSetStored)
{
    const std::pair<Args, std::string> cases[] = {
        {{"--dword", "42"}, "42\n"},
        {{"--dword", "0xFFFFFFFF"}, "4294967295\n"},
        {{"--sz", "8 (495) Ёлка"}, "8 (495) Ёлка\n"},
        {{"--expand-sz", "%HOME%\\x"}, "%HOME%\\x\n"},
        {{"--binary", "AA,bb,0c"}, "aa,bb,0c\n"},
        {{"--multi", "один", "two"}, "один\ntwo\n"},
        {{"--multi"}, ""},
    };
    for (const auto& [type, printed] : cases) {
        SCOPED_TRACE(type[0] + " " + (type.size() > 1 ? type[1] : ""));
        Args args = {"set", kPorts, "Значение"};
        args.insert(args.end(), type.begin(), type.end());
        ok(args);
        EXPECT_EQ(ok({"get", kPorts, "значение"}), printed);
    }

    ok({"set", "HKLM\\Software\\PELTRA", "@", "--sz", "default"});
    EXPECT_EQ(ok({"get", "HKEY_LOCAL_MACHINE\\Software\\PELTRA", ""}), "default\n");
    EXPECT_EQ(ok({"get", "software\\peltra\\", "@"}), "default\n");
    fails({"get", "HKEY_CURRENT_USER\\Software", "x"}, 1, "only HKEY_LOCAL_MACHINE");
}

// Exit code 1 for values that cannot be stored, 2 (with the usage) for arguments that make no command.
TEST_F(PeltraRegTest, RefusedCommandsWriteNothing)
{
    const std::tuple<Args, int, const char*> cases[] = {
        {{"set", "K", "V", "--dword", "4294967296"}, 1, "from 0 to 4294967295"},
        {{"set", "K", "V", "--dword", "12a"}, 1, "from 0 to"},
        {{"set", "K", "V", "--binary", "abc"}, 1, "--binary needs hex"},
        {{"set", "K", "V", "--multi", "a", ""}, 1, "empty string"},
        {{"set", "K", "V", "--sz", "\xC3\x28"}, 1, "not valid UTF-8"},
        {{"set", "K", "V", "--float", "1"}, 2, "unknown value type --float"},
        {{"set", "K", "V"}, 2, "set needs KEY, VALUE and one of"},
        {{}, 2, "no command given"},
        {{"get", "K"}, 2, "get needs KEY and VALUE"},
        {{"export", "--encoding", "latin1"}, 2, "utf8 or utf16"},
    };
    for (const auto& [args, code, message] : cases) {
        SCOPED_TRACE(message);
        const ProgramResult r = fails(args, code, message);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.find("usage: peltra-reg") != std::string::npos, code == 2);
    }
    EXPECT_FALSE(fs::exists(storeFile()));

    const ProgramResult missing = exec({"--home"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("--home needs a folder"), std::string::npos);
}

TEST_F(PeltraRegTest, ListShowsSubKeysThenValuesAndDeleteRemovesThem)
{
    ok({"set", kPorts, "CallMode", "--dword", "1"});
    ok({"set", kPorts, "Prefix", "--sz", "9"});
    ok({"set", kPorts + "\\Deep", "X", "--dword", "1"});
    ok({"set", "Software\\PELTRA\\Лексемы и функции", "X", "--dword", "1"});
    ok({"set", "Software\\PELTRA", "Frozen", "--dword", "0"});
    ok({"set", "Software\\PELTRA", "@", "--sz", "по умолчанию"});
    ok({"set", "Software\\PELTRA", "Multi", "--multi", "a", "b c"});
    const std::string values = "@ = по умолчанию\nFrozen = 0\nMulti = a | b c\n";
    EXPECT_EQ(ok({"list", "HKLM\\software\\PELTRA"}), "[Ports]\n[Лексемы и функции]\n" + values);

    ok({"delete", kPorts, "callmode"});
    EXPECT_EQ(ok({"list", kPorts}), "[Deep]\nPrefix = 9\n");
    const ProgramResult r = run({"delete", kPorts, "CallMode"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "peltra-reg: value not found: \"CallMode\" in HKEY_LOCAL_MACHINE\\" + kPorts + "\n");
    ok({"delete", "software\\peltra\\PORTS"});
    EXPECT_EQ(ok({"list", "Software\\PELTRA"}), "[Лексемы и функции]\n" + values);
    for (const Args& args : {Args{"delete", kPorts}, Args{"list", kPorts}})
        EXPECT_EQ(run(args).err, "peltra-reg: key not found: HKEY_LOCAL_MACHINE\\" + kPorts + "\n");
    fails({"delete", "HKLM"}, 1, "refusing");
    EXPECT_EQ(ok({"get", "Software\\PELTRA", "Frozen"}), "0\n");
}

const std::string kExpectedExport =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n\"Frozen\"=dword:00000001\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Порты]\r\n\"Имя\"=\"Да\"\r\n\r\n";

TEST_F(PeltraRegTest, ImportAndExportThroughFilesAndStandardStreams)
{
    const fs::path in = work("in.reg");
    writeFile(in, kExpectedExport);
    ok({"import", in.string()});
    EXPECT_EQ(ok({"get", "Software\\PELTRA\\ПОРТЫ", "имя"}), "Да\n");
    EXPECT_EQ(ok({"export"}), kExpectedExport);
    EXPECT_EQ(ok({"export", "Software\\PELTRA", "-", "--encoding", "utf8"}), kExpectedExport);

    const fs::path out = work("out.reg");
    writeFile(out, "an older export that is replaced");
    EXPECT_EQ(ok({"export", "--encoding=utf16", "HKLM\\Software\\PELTRA\\порты", out.string()}), "");
    const std::string wide = readFile(out);
    EXPECT_EQ(wide.substr(0, 4), std::string("\xFF\xFEW\0", 4));
    EXPECT_NE(wide.find(std::string("\"\0\x14\x04\x30\x04\"\0", 8)), std::string::npos) << "\"Да\" in UTF-16LE";
    EXPECT_EQ(wide.find("older"), std::string::npos);

    // A cp1251 REGEDIT4 file from a Windows station, through standard input.
    ok({"import", "-"}, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\\xCF\xEE\xF0\xF2\xFB]\r\n"
                        "\"\xC8\xEC\xFF\"=\"\xCD\xE5\xF2\"\r\n\"Frozen\"=-\r\n");
    EXPECT_EQ(ok({"get", "Software\\PELTRA\\Порты", "Имя"}), "Нет\n");

    // What one home exports, another imports to the same bytes.
    ok({"export", "Software", out.string(), "--encoding", "utf16"});
    const std::string otherHome = work("other").string();
    ProgramResult r = exec({"--home", otherHome, "import", out.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    r = exec({"--home", otherHome, "export", "Software", "--encoding", "utf16"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, readFile(out));

    r = run({"export", "Software\\Nothing"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "peltra-reg: key not found: HKEY_LOCAL_MACHINE\\Software\\Nothing\n");
    fails({"export", "Software", (work("no") / "such" / "folder.reg").string()}, 1, "folder.reg");
}

}  // namespace
}  // namespace peltra::test
