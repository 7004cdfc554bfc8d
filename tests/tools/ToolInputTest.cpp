// Every tool given something else where it takes a file: a folder, a missing file, one it may not
// read, or a file of another kind. It names the file, exits with 1 and never aborts.
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;

enum Kind : unsigned { Folder = 1, Missing = 2, Unreadable = 4, WrongKind = 8, Every = 15 };

TEST(ToolInputTest, EveryToolRefusesWhatIsNoFileOfItsKind)
{
    TempDir home;
    TempDir work;
    const std::string homeDir = home.path().string();
    // A station with a table bound as "G", an SMS task "T" and a store the lexicon tool accepts.
    ASSERT_EQ(runProgram(PELTRA_SQL_PATH,
                         {"--db", work.path().string(),
                          "CREATE TABLE abon.dbf (TELEF char(12), PROBA numeric(3,0), OTBOJ numeric(3,0), DATA date, "
                          "CLOCK char(8))"},
                         work.path())
                  .code,
              0);
    for (const auto& [program, args] : std::vector<std::pair<const char*, std::vector<std::string>>>{
             {PELTRA_TASK_PATH, {"add-binding", "G", (work / "abon.dbf").string()}},
             {PELTRA_SMS_PATH, {"add", "T"}}}) {
        std::vector<std::string> all = {"--home", homeDir};
        all.insert(all.end(), args.begin(), args.end());
        const ProgramResult r = runProgram(program, all, work.path());
        ASSERT_EQ(r.code, 0) << program << ": " << r.err;
    }

    fs::create_directories(work / "folder");
    writeFile(work / "wrong.txt", "not what was asked for\n");
    writeFile(work / "locked.bin", "RIFF");
    ::chmod((work / "locked.bin").c_str(), 0);
    const bool canLock = ::access((work / "locked.bin").c_str(), R_OK) != 0;  // root reads anything
    const std::pair<Kind, fs::path> kinds[] = {{Folder, work / "folder"},
                                               {Missing, work / "missing.x"},
                                               {Unreadable, work / "locked.bin"},
                                               {WrongKind, work / "wrong.txt"}};

    const std::string out = (work / "out").string();
    // FILE stands for the path tried; kinds are those the use can tell apart (any bytes are
    // samples to modulate, and an SMS table may be a path of another machine).
    const struct {
        const char* program;
        std::vector<std::string> args;
        unsigned kinds;
    } uses[] = {
        {PELTRA_REG_PATH, {"import", "FILE"}, Every},
        {PELTRA_LINE_PATH, {"modulate", "FILE", out}, Folder | Missing | Unreadable},
        {PELTRA_LINE_PATH, {"play", "--port", "SIM1", "FILE"}, Folder | Missing | Unreadable},
        {PELTRA_LINE_PATH, {"call", "--port", "SIM1", "--library", "FILE", "1"}, Every},
        {PELTRA_LINE_PATH, {"call", "--port", "SIM1", "--sim-record", "FILE", "1"}, Folder},
        {PELTRA_SAY_PATH, {"number", "5", "--wav", out, "--library", "FILE"}, Every},
        {PELTRA_LEXICON_PATH, {"set", "_001", "FILE"}, Every},
        {PELTRA_LEXICON_PATH, {"check", "--library", "FILE"}, Every},
        {PELTRA_SQL_PATH, {"SELECT * FROM 'FILE'"}, Every},
        {PELTRA_TASK_PATH, {"add-binding", "B", "FILE"}, Every},
        {PELTRA_SMS_PATH, {"set-file", "T", "FILE"}, Folder | Unreadable | WrongKind},
        {PELTRA_REPORT_PATH, {"G", "--csv", "FILE"}, Folder},
    };
    for (const auto& use : uses) {
        for (const auto& [kind, path] : kinds) {
            if ((use.kinds & kind) == 0 || (kind == Unreadable && !canLock))
                continue;
            std::vector<std::string> args = {"--home", homeDir};
            if (std::string(use.program) == PELTRA_SQL_PATH)
                args = {"--db", work.path().string()};
            for (const std::string& arg : use.args) {
                const std::size_t at = arg.find("FILE");
                args.push_back(at == std::string::npos ? arg : arg.substr(0, at) + path.string() + arg.substr(at + 4));
            }
            SCOPED_TRACE(fs::path(use.program).filename().string() + " " + args[2] + " " + path.filename().string());
            const ProgramResult r = runProgram(use.program, args, work.path());
            EXPECT_EQ(r.code, 1) << r.err;
            EXPECT_NE(r.err.find(path.filename().string()), std::string::npos) << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(out)) << "a refused command writes nothing";
}

}  // namespace
}  // namespace peltra::test
