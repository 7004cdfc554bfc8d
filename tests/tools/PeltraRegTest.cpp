// peltra-reg run as the operator runs it: commands, output, exit codes and messages.
#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& file, const std::string& data)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << data;
}

class PeltraRegTest : public ::testing::Test {
protected:
    fs::path home() const { return m_dir / "home"; }
    fs::path storeFile() const { return home() / "registry.db"; }

    // Runs the tool with --home (unless envHome is given, which goes to $PELTRA_HOME instead).
    Result run(const std::vector<std::string>& args, const std::string& input = "",
               const std::optional<fs::path>& envHome = std::nullopt)
    {
        std::vector<std::string> full = {PELTRA_REG_PATH};
        if (!envHome) {
            full.push_back("--home");
            full.push_back(home().string());
        }
        full.insert(full.end(), args.begin(), args.end());
        return runRaw(full, input, envHome);
    }

    Result runRaw(const std::vector<std::string>& argv, const std::string& input = "",
                  const std::optional<fs::path>& envHome = std::nullopt)
    {
        const fs::path in = m_dir / "stdin", out = m_dir / "stdout", err = m_dir / "stderr";
        writeFile(in, input);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const std::string userHome = (m_dir / "user").string();
        const pid_t pid = fork();
        if (pid == 0) {
            const int fdIn = open(in.c_str(), O_RDONLY);
            const int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fdIn < 0 || fdOut < 0 || fdErr < 0)
                _exit(126);
            dup2(fdIn, 0);
            dup2(fdOut, 1);
            dup2(fdErr, 2);
            // Never the real home folder of whoever runs the tests.
            setenv("HOME", userHome.c_str(), 1);
            if (envHome)
                setenv("PELTRA_HOME", envHome->c_str(), 1);
            else
                unsetenv("PELTRA_HOME");
            execv(args[0], args.data());
            _exit(127);
        }
        Result result;
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.code = WEXITSTATUS(status);
        result.out = readFile(out);
        result.err = readFile(err);
        return result;
    }

    // Runs a command that must succeed silently on stderr.
    std::string ok(const std::vector<std::string>& args, const std::string& input = "")
    {
        const Result r = run(args, input);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    TempDir m_dir;
};

const std::string kPorts = "Software\\PELTRA\\Ports\\COM1";

// ------------------------------------------------------------------ set and get

struct SetGetCase {
    const char* name;
    std::vector<std::string> setArgs;  // after KEY VALUE
    std::string printed;
};

void PrintTo(const SetGetCase& c, std::ostream* os)
{
    *os << c.name;
}

class PeltraRegSetGetTest : public PeltraRegTest, public ::testing::WithParamInterface<SetGetCase> {};

TEST_P(PeltraRegSetGetTest, PrintsWhatWasSet)
{
    std::vector<std::string> args = {"set", kPorts, "Значение"};
    args.insert(args.end(), GetParam().setArgs.begin(), GetParam().setArgs.end());
    ok(args);
    EXPECT_EQ(ok({"get", kPorts, "значение"}), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Types, PeltraRegSetGetTest,
    ::testing::Values(SetGetCase{"DwordDecimal", {"--dword", "42"}, "42\n"},
                      SetGetCase{"DwordHex", {"--dword", "0xFFFFFFFF"}, "4294967295\n"},
                      SetGetCase{"DwordZero", {"--dword", "0"}, "0\n"},
                      SetGetCase{"Text", {"--sz", "8 (495) Ёлка"}, "8 (495) Ёлка\n"},
                      SetGetCase{"EmptyText", {"--sz", ""}, "\n"},
                      SetGetCase{"ExpandText", {"--expand-sz", "%HOME%\\x"}, "%HOME%\\x\n"},
                      SetGetCase{"BinaryWithCommas", {"--binary", "AA,bb,0c"}, "aa,bb,0c\n"},
                      SetGetCase{"BinaryRun", {"--binary", "00ff10"}, "00,ff,10\n"},
                      SetGetCase{"EmptyBinary", {"--binary", ""}, "\n"},
                      SetGetCase{"Multi", {"--multi", "один", "two"}, "один\ntwo\n"},
                      SetGetCase{"EmptyMulti", {"--multi"}, ""}),
    [](const ::testing::TestParamInfo<SetGetCase>& info) { return std::string(info.param.name); });

TEST_F(PeltraRegTest, DefaultValueAndHivePrefixes)
{
    ok({"set", "HKLM\\Software\\PELTRA", "@", "--sz", "default"});
    EXPECT_EQ(ok({"get", "HKEY_LOCAL_MACHINE\\Software\\PELTRA", ""}), "default\n");
    EXPECT_EQ(ok({"get", "software\\peltra\\", "@"}), "default\n");
    const Result other = run({"get", "HKEY_CURRENT_USER\\Software", "x"});
    EXPECT_EQ(other.code, 1);
    EXPECT_NE(other.err.find("only HKEY_LOCAL_MACHINE"), std::string::npos) << other.err;
}

TEST_F(PeltraRegTest, GetOnFreshHomeCreatesNothing)
{
    Result r = run({"get", "Software\\PELTRA", "Frozen"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "peltra-reg: key not found: HKEY_LOCAL_MACHINE\\Software\\PELTRA\n");
    EXPECT_FALSE(fs::exists(storeFile()));

    ok({"set", "Software\\PELTRA", "LocalPhone", "--dword", "1"});
    r = run({"get", "Software\\PELTRA", "Frozen"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "peltra-reg: value not found: \"Frozen\" in HKEY_LOCAL_MACHINE\\Software\\PELTRA\n");
    r = run({"get", "Software\\PELTRA\\Ports", "CallMode"});
    EXPECT_EQ(r.code, 1);
    // The read wrote no default and made no key.
    EXPECT_EQ(ok({"list", "Software\\PELTRA"}), "LocalPhone = 1\n");
}

struct BadSetCase {
    const char* name;
    std::vector<std::string> args;
    int code;
    std::string message;
};

void PrintTo(const BadSetCase& c, std::ostream* os)
{
    *os << c.name;
}

class PeltraRegBadSetTest : public PeltraRegTest, public ::testing::WithParamInterface<BadSetCase> {};

TEST_P(PeltraRegBadSetTest, IsRefusedAndWritesNothing)
{
    const Result r = run(GetParam().args);
    EXPECT_EQ(r.code, GetParam().code);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(run({"get", "K", "V"}).code, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PeltraRegBadSetTest,
    ::testing::Values(
        BadSetCase{"DwordTooLarge", {"set", "K", "V", "--dword", "4294967296"}, 1, "from 0 to 4294967295"},
        BadSetCase{"DwordHexTooLarge", {"set", "K", "V", "--dword", "0x100000000"}, 1, "from 0 to"},
        BadSetCase{"DwordNegative", {"set", "K", "V", "--dword", "-1"}, 1, "from 0 to"},
        BadSetCase{"DwordNotANumber", {"set", "K", "V", "--dword", "12a"}, 1, "from 0 to"},
        BadSetCase{"DwordBareHexPrefix", {"set", "K", "V", "--dword", "0x"}, 1, "from 0 to"},
        BadSetCase{"BinaryOddDigits", {"set", "K", "V", "--binary", "abc"}, 1, "--binary needs hex"},
        BadSetCase{"BinaryNotHex", {"set", "K", "V", "--binary", "zz"}, 1, "--binary needs hex"},
        BadSetCase{"BinaryByteTooLong", {"set", "K", "V", "--binary", "aa,bbb"}, 1, "--binary needs hex"},
        BadSetCase{"BinaryEmptyByte", {"set", "K", "V", "--binary", "aa,,bb"}, 1, "--binary needs hex"},
        BadSetCase{"MultiEmptyString", {"set", "K", "V", "--multi", "a", ""}, 1, "empty string"},
        BadSetCase{"TextInvalidUtf8", {"set", "K", "V", "--sz", "\xC3\x28"}, 1, "not valid UTF-8"},
        BadSetCase{"UnknownType", {"set", "K", "V", "--float", "1"}, 2, "unknown value type --float"},
        BadSetCase{"MissingType", {"set", "K", "V"}, 2, "usage:"},
        BadSetCase{"TwoArguments", {"set", "K", "V", "--sz", "a", "b"}, 2, "exactly one argument"}),
    [](const ::testing::TestParamInfo<BadSetCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ list and delete

TEST_F(PeltraRegTest, ListShowsSubKeysThenValues)
{
    ok({"set", "Software\\PELTRA\\ports\\COM1", "CallMode", "--dword", "1"});
    ok({"set", "Software\\PELTRA\\Tasks", "File", "--sz", ""});
    ok({"set", "Software\\PELTRA\\Лексемы и функции", "X", "--dword", "1"});
    ok({"set", "Software\\PELTRA", "Frozen", "--dword", "0"});
    ok({"set", "Software\\PELTRA", "@", "--sz", "по умолчанию"});
    ok({"set", "Software\\PELTRA", "Multi", "--multi", "a", "b c"});
    ok({"set", "Software\\PELTRA", "bin", "--binary", "0102"});
    EXPECT_EQ(ok({"list", "HKLM\\software\\PELTRA"}),
              "[ports]\n"
              "[Tasks]\n"
              "[Лексемы и функции]\n"
              "@ = по умолчанию\n"
              "bin = 01,02\n"
              "Frozen = 0\n"
              "Multi = a | b c\n");
    EXPECT_EQ(ok({"list", "Software\\PELTRA\\Tasks"}), "File = \n");

    const Result missing = run({"list", "Software\\PELTRA\\Nothing"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "peltra-reg: key not found: HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Nothing\n");
}

TEST_F(PeltraRegTest, DeleteValueAndKey)
{
    ok({"set", kPorts, "CallMode", "--dword", "1"});
    ok({"set", kPorts, "Prefix", "--sz", "9"});
    ok({"set", kPorts + "\\Deep", "X", "--dword", "1"});

    ok({"delete", kPorts, "callmode"});
    EXPECT_EQ(ok({"list", kPorts}), "[Deep]\nPrefix = 9\n");

    Result r = run({"delete", kPorts, "CallMode"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "peltra-reg: value not found: \"CallMode\" in HKEY_LOCAL_MACHINE\\" + kPorts + "\n");

    ok({"delete", "software\\peltra\\PORTS"});
    EXPECT_EQ(ok({"list", "Software\\PELTRA"}), "");
    r = run({"delete", kPorts});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "peltra-reg: key not found: HKEY_LOCAL_MACHINE\\" + kPorts + "\n");

    r = run({"delete", "HKLM"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("refusing"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(storeFile()));
}

// ------------------------------------------------------------------ export and import

const std::string kExpectedExport =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n"
    "\"Frozen\"=dword:00000001\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\Порты]\r\n"
    "\"Имя\"=\"Да\"\r\n"
    "\r\n";

TEST_F(PeltraRegTest, ExportToStandardOutputAndFiles)
{
    ok({"set", "Software\\PELTRA", "Frozen", "--dword", "1"});
    ok({"set", "Software\\PELTRA\\Порты", "Имя", "--sz", "Да"});
    EXPECT_EQ(ok({"export"}), kExpectedExport);
    EXPECT_EQ(ok({"export", "Software\\PELTRA", "-", "--encoding", "utf8"}), kExpectedExport);

    const fs::path file = m_dir / "out.reg";
    writeFile(file, "an older export that is replaced");
    EXPECT_EQ(ok({"export", "--encoding=utf16", "HKLM\\Software\\PELTRA\\порты", file.string()}), "");
    const std::string wide = readFile(file);
    ASSERT_GE(wide.size(), 4u);
    EXPECT_EQ(wide.substr(0, 4), std::string("\xFF\xFEW\0", 4));
    // "Да" is 14 04 30 04 in UTF-16LE.
    EXPECT_NE(wide.find(std::string("\"\0\x14\x04\x30\x04\"\0", 8)), std::string::npos);
    EXPECT_EQ(wide.find("older"), std::string::npos);

    Result r = run({"export", "Software\\Nothing"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "peltra-reg: key not found: HKEY_LOCAL_MACHINE\\Software\\Nothing\n");
    r = run({"export", "--encoding", "latin1"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("utf8 or utf16"), std::string::npos) << r.err;
    r = run({"export", "Software", (m_dir / "no" / "such" / "folder.reg").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("folder.reg"), std::string::npos) << r.err;
}

TEST_F(PeltraRegTest, ImportFromFileAndStandardInputRoundTrips)
{
    const fs::path file = m_dir / "in.reg";
    writeFile(file, kExpectedExport);
    ok({"import", file.string()});
    EXPECT_EQ(ok({"get", "Software\\PELTRA\\ПОРТЫ", "имя"}), "Да\n");
    EXPECT_EQ(ok({"export"}), kExpectedExport);

    // A cp1251 REGEDIT4 file from a Windows station, through standard input.
    ok({"import", "-"}, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA\\\xCF\xEE\xF0\xF2\xFB]\r\n"
                        "\"\xC8\xEC\xFF\"=\"\xCD\xE5\xF2\"\r\n\"Frozen\"=-\r\n");
    EXPECT_EQ(ok({"get", "Software\\PELTRA\\Порты", "Имя"}), "Нет\n");

    // What one home exports, another imports to the same bytes.
    const fs::path exported = m_dir / "all.reg";
    ok({"export", "Software", exported.string(), "--encoding", "utf16"});
    const fs::path otherHome = m_dir / "other";
    Result r = runRaw({PELTRA_REG_PATH, "--home", otherHome.string(), "import", exported.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    r = runRaw({PELTRA_REG_PATH, "--home", otherHome.string(), "export", "Software", "--encoding", "utf16"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, readFile(exported));
}

TEST_F(PeltraRegTest, BadImportNamesTheLineAndChangesNothing)
{
    ok({"set", "Software\\PELTRA", "Frozen", "--dword", "1"});
    const std::string before = ok({"export"});
    const fs::path file = m_dir / "bad.reg";
    writeFile(file, "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n"
                    "\"Frozen\"=dword:00000000\r\n"
                    "\"New\"=dword:123456789\r\n");
    Result r = run({"import", file.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "peltra-reg: " + file.string() +
                         ": line 5: the dword value 123456789 is out of the 32-bit range; "
                         "nothing was imported\n");
    EXPECT_EQ(ok({"export"}), before);

    r = run({"import", "-"}, "[HKLM\\Software]\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("standard input: line 1: not a registry file"), std::string::npos) << r.err;

    r = run({"import", (m_dir / "missing.reg").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
    EXPECT_EQ(ok({"export"}), before);
}

TEST_F(PeltraRegTest, BadImportOnFreshHomeCreatesNoStore)
{
    const Result r = run({"import", "-"}, "REGEDIT4\n[HKLM\\A]\n\"x\"=hex:1,2,3g\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("line 3"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(storeFile()));
}

// ------------------------------------------------------------------ arguments, home, store faults

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class PeltraRegUsageTest : public PeltraRegTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(PeltraRegUsageTest, ExitsWithTwoAndShowsUsage)
{
    const Result r = run(GetParam().args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: peltra-reg"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, PeltraRegUsageTest,
    ::testing::Values(UsageCase{"NoCommand", {}, "no command given"},
                      UsageCase{"UnknownCommand", {"frobnicate"}, "unknown command frobnicate"},
                      UsageCase{"UnknownOption", {"--verbose", "list", "K"}, "unknown option --verbose"},
                      UsageCase{"GetOneArgument", {"get", "K"}, "get needs KEY and VALUE"},
                      UsageCase{"ListNoKey", {"list"}, "list needs KEY"},
                      UsageCase{"DeleteTooMany", {"delete", "K", "V", "W"}, "delete needs KEY"},
                      UsageCase{"ExportTooMany", {"export", "K", "F", "G"}, "at most KEY and FILE"},
                      UsageCase{"ImportNoFile", {"import"}, "import needs FILE"}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

TEST_F(PeltraRegTest, HelpGoesToStandardOutput)
{
    const Result r = runRaw({PELTRA_REG_PATH, "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("usage: peltra-reg"), std::string::npos);
    EXPECT_NE(r.out.find("Exit status: 0 success, 1 failure"), std::string::npos);
    const Result missing = runRaw({PELTRA_REG_PATH, "--home"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("--home needs a folder"), std::string::npos);
}

TEST_F(PeltraRegTest, HomeComesFromTheEnvironmentWithoutOption)
{
    const fs::path envHome = m_dir / "env home";
    Result r = run({"set", "K", "V", "--dword", "5"}, "", envHome);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(envHome / "registry.db"));
    EXPECT_FALSE(fs::exists(storeFile()));
    r = run({"get", "K", "V"}, "", envHome);
    EXPECT_EQ(r.out, "5\n");
    // --home wins over the environment.
    r = runRaw({PELTRA_REG_PATH, "--home", home().string(), "get", "K", "V"}, "", envHome);
    EXPECT_EQ(r.code, 1);
}

TEST_F(PeltraRegTest, FileThatIsNotAStoreIsReported)
{
    fs::create_directories(home());
    writeFile(storeFile(), std::string(4096, 'x'));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"get", "K", "V"}, {"set", "K", "V", "--dword", "1"}, {"list", "K"},
          {"export"}, {"delete", "K"}}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_NE(r.err.find("is not a configuration store"), std::string::npos) << args[0] << ": " << r.err;
    }
    EXPECT_EQ(readFile(storeFile()), std::string(4096, 'x'));
}

TEST_F(PeltraRegTest, ReadOnlyStoreCanBeReadButNotChanged)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes to read-only files";
    ok({"set", "K", "V", "--dword", "7"});
    ASSERT_EQ(chmod(storeFile().c_str(), 0400), 0);
    EXPECT_EQ(ok({"get", "K", "V"}), "7\n");
    EXPECT_EQ(ok({"list", "K"}), "V = 7\n");
    EXPECT_NE(ok({"export", "K"}).find("\"V\"=dword:00000007"), std::string::npos);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"set", "K", "V", "--dword", "8"}, {"delete", "K"}, {"delete", "K", "V"},
          {"import", "-"}}) {
        const Result r = run(args, "REGEDIT4\n[HKLM\\K]\n\"V\"=dword:8\n");
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_NE(r.err.find("read-only"), std::string::npos) << args[0] << ": " << r.err;
    }
    EXPECT_EQ(ok({"get", "K", "V"}), "7\n");
}

}  // namespace
}  // namespace peltra::test
