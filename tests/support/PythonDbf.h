// Test helper: Debian's python3 with python3-dbf (scripts/install-deps.sh), the other dBase program
// that writes, reads, deletes and packs the station's tables in the tests.
#pragma once

#include "support/RunProgram.h"

#include <filesystem>
#include <string>
#include <vector>

namespace peltra::test {

inline constexpr char kPython[] = "/usr/bin/python3";

// Runs script after "import dbf,sys" with args as sys.argv[1:]; fails the test when it does not
// exit 0. What the script prints is its answer.
ProgramResult runPythonDbf(const std::string& script, std::vector<std::string> args,
                           const std::filesystem::path& workDir);

}  // namespace peltra::test
