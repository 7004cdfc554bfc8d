// peltra-sms run as an operator runs it on a temporary home: a task built item by item, shown and
// rendered over a generated table, edited, and the refusals with their exit codes.
#include "data/HandDbf.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

class PeltraSmsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_dir / "db");
        fs::create_directories(m_dir / "runtime");
        const std::vector<HandField> fields = {{"TELEF", 'C', 12, 0}, {"FIO", 'C', 10, 0}, {"SUMMA", 'N', 8, 2}};
        writeFileBytes((m_dir / "db" / "abon.dbf").string(),
                       handTable({}, fields, {"2345678     Ivanov       12.50", "  111       Petrov        3.00"}));
    }

    ProgramResult run(Args args)
    {
        args.insert(args.begin(), {"--home", (m_dir / "home").string()});
        return runProgram(PELTRA_SMS_PATH, args, m_dir.path(), "",
                          {{"PELTRA_HOME", std::nullopt}, {"XDG_RUNTIME_DIR", (m_dir / "runtime").string()}});
    }

    std::string ok(const Args& args)
    {
        const ProgramResult r = run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }

    void fails(const Args& args, int code, const std::string& part)
    {
        const ProgramResult r = run(args);
        EXPECT_EQ(r.code, code) << r.out;
        EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    }

    std::string table() const { return (m_dir / "db" / "abon.dbf").string(); }

    TempDir m_dir;
};

TEST_F(PeltraSmsTest, BuildsShowsAndRendersATask)
{
    EXPECT_EQ(ok({"list"}), "");
    ok({"add", "Долг"});
    ok({"set-file", "Долг", table()});
    EXPECT_EQ(ok({"add-text", "Долг", "Уважаемый "}), "0001\n");
    EXPECT_EQ(ok({"add-field", "Долг", "FIO"}), "0002\n");
    EXPECT_EQ(ok({"add-text", "Долг", ", долг "}), "0003\n");
    EXPECT_EQ(ok({"add-field", "Долг", "SUMMA"}), "0004\n");
    EXPECT_EQ(ok({"add-text", "Долг", "Внимание! ", "--first"}), "0005\n");
    EXPECT_EQ(ok({"add-text", "Долг", " руб.", "--after", "4"}), "0006\n");
    EXPECT_EQ(ok({"list"}), "Долг\n");
    EXPECT_EQ(ok({"show", "Долг"}), table() + "\nTEXT\tВнимание! \nTEXT\tУважаемый \nFIELD\tFIO\n"
                                              "TEXT\t, долг \nFIELD\tSUMMA\nTEXT\t руб.\n");
    const std::string expected = "2345678\tВнимание! Уважаемый Ivanov, долг 12.50 руб.\n"
                                 "111\tВнимание! Уважаемый Petrov, долг 3.00 руб.\n";
    EXPECT_EQ(ok({"render", "Долг"}), expected);

    // Elsewhere the table sits in another folder: --db finds it by the file's name.
    fs::create_directories(m_dir / "copy");
    fs::copy_file(table(), m_dir / "copy" / "ABON.DBF");
    fs::remove(table());
    fails({"render", "Долг"}, 1, "abon.dbf");
    EXPECT_EQ(ok({"render", "Долг", "--db", (m_dir / "copy").string()}), expected);
    EXPECT_EQ(ok({"render", "Долг", "--db=" + (m_dir / "copy" / "ABON.DBF").string()}), expected);
}

TEST_F(PeltraSmsTest, EditsItemsByKeyOrNumber)
{
    ok({"add", "Долг"});
    for (const char* text : {"a", "b", "c"})
        ok({"add-text", "Долг", text});
    ok({"move-item", "Долг", "3"});
    EXPECT_EQ(ok({"show", "Долг", "--keys"}), "\n0003\tTEXT\tc\n0001\tTEXT\ta\n0002\tTEXT\tb\n");
    ok({"move-item", "Долг", "0003", "--after", "0002"});
    ok({"remove-item", "Долг", "1"});
    EXPECT_EQ(ok({"show", "Долг", "--keys"}), "\n0002\tTEXT\tb\n0003\tTEXT\tc\n");
    fails({"remove-item", "Долг", "1"}, 1, "no template item \"1\"");
    fails({"move-item", "Долг", "2", "--after", "9"}, 1, "no template item \"9\"");
    fails({"add-text", "Долг", "x", "--after", "7"}, 1, "no template item \"7\"");
}

TEST_F(PeltraSmsTest, RefusesBadInputWithItsExitCode)
{
    struct Case { const char* what; Args args; int code; const char* part; };
    ok({"add", "Долг"});
    const std::vector<Case> cases = {
        {"1 unknown command", {"frobnicate"}, 2, "unknown command"},
        {"2 missing name", {"add"}, 2, "add needs TASK"},
        {"3 duplicate", {"add", "ДОЛГ"}, 1, "Задание с таким именем уже есть"},
        {"6 no task", {"show", "Нет"}, 1, "there is no SMS task \"Нет\""},
        {"7 empty text", {"add-text", "Долг", ""}, 1, "the text is empty"},
        {"8 both options", {"add-field", "Долг", "FIO", "--first", "--after", "1"}, 2, "not both"},
        {"10 no source file", {"render", "Долг"}, 1, "no source file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fails(c.args, c.code, c.part);
    }
    const ProgramResult missing = run({"set-file", "Долг", (m_dir / "none.dbf").string()});
    EXPECT_EQ(missing.code, 0);
    EXPECT_NE(missing.err.find("stored all the same"), std::string::npos) << missing.err;
    ok({"set-file", "Долг", "db/abon.dbf"});  // stored as the absolute path it names from here
    EXPECT_EQ(ok({"show", "Долг"}), (fs::current_path() / "db/abon.dbf").string() + "\n");
    ok({"set-file", "Долг", table()});
    ok({"add-field", "Долг", "ADRES"});
    fails({"render", "Долг"}, 1, "no column \"ADRES\"");
    ok({"remove", "Долг"});
    EXPECT_EQ(ok({"list"}), "");
    fails({"remove", "Долг"}, 1, "there is no SMS task");
}

TEST_F(PeltraSmsTest, TwoProcessesAddingAtOnceKeepOneList)
{
    ok({"add", "Долг"});
    constexpr int kEach = 12;
    auto adder = [&](const std::string& prefix) {
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(run({"add-text", "Долг", prefix + std::to_string(i), i % 2 ? "--first" : "--"}).code, 0);
    };
    std::thread first(adder, "a");
    std::thread second(adder, "b");
    first.join();
    second.join();
    const std::string shown = ok({"show", "Долг", "--keys"});
    std::vector<std::string> keys;
    for (std::size_t at = shown.find('\n') + 1; at < shown.size(); at = shown.find('\n', at) + 1)
        keys.push_back(shown.substr(at, 4));
    EXPECT_EQ(keys.size(), 2u * kEach) << shown;
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::unique(keys.begin(), keys.end()), keys.end()) << shown;
}

}  // namespace
}  // namespace peltra::test
