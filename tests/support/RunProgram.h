// Test helper: runs one of the station's programs as an operator would, and captures what it says.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace peltra::test {

struct ProgramResult {
    int code = -1;  // exit code; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs program with args, input on its standard input, and the environment changed by env (a
// value sets the variable, nothing unsets it). HOME is always set to workDir/user, so a program
// under test never touches the real home of whoever runs the tests. workDir holds the captured
// streams.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workDir, const std::string& input = "",
                         const std::map<std::string, std::optional<std::string>>& env = {});

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& data);

}  // namespace peltra::test
