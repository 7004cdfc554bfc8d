// python3-dbf scripts run as another program.
#include "support/PythonDbf.h"

#include <gtest/gtest.h>

#include <sstream>

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

void writeTableByPython(const std::filesystem::path& table, const std::string& fields,
                        const std::vector<std::string>& rows, const std::string& codePage, bool unmarked)
{
    std::string script = "t = dbf.Table(sys.argv[1], sys.argv[2], codepage=sys.argv[3], dbf_type='db3')\n"
                         "t.open(dbf.READ_WRITE)\n";
    for (const std::string& row : rows)
        script += "t.append(" + row + ")\n";
    script += "t.close()\n";
    if (unmarked)
        script += "f = open(sys.argv[1], 'r+b'); f.seek(29); f.write(b'\\0'); f.close()\n";
    const ProgramResult r = runPythonDbf(script, {table.string(), fields, codePage}, table.parent_path());
    ASSERT_EQ(r.code, 0) << "python3-dbf could not write " << table;
}

std::vector<std::string> readFieldByPython(const std::filesystem::path& table, const std::string& field,
                                           const std::string& codePage)
{
    const std::string script =
        "t = dbf.Table(sys.argv[1], codepage=sys.argv[3])\n"
        "t.open(dbf.READ_ONLY)\n"
        "for r in t: sys.stdout.buffer.write((r[sys.argv[2].lower()] or '').strip().encode() + b'\\n')\n"
        "t.close()\n";
    const ProgramResult r = runPythonDbf(script, {table.string(), field, codePage}, table.parent_path());
    std::vector<std::string> values;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        values.push_back(line);
    return values;
}

}  // namespace peltra::test
