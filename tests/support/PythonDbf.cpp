// python3-dbf scripts run as another program.
#include "support/PythonDbf.h"

#include <gtest/gtest.h>

namespace peltra::test {

ProgramResult runPythonDbf(const std::string& script, std::vector<std::string> args,
                           const std::filesystem::path& workDir)
{
    std::filesystem::create_directories(workDir);
    args.insert(args.begin(), {"-c", "import dbf,sys\n" + script});
    ProgramResult result = runProgram(kPython, args, workDir);
    EXPECT_EQ(result.code, 0) << result.err << "\n(python3-dbf is installed by scripts/install-deps.sh)";
    return result;
}

}  // namespace peltra::test
