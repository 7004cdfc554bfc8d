// Tables written and read by python3-dbf for the tests, through the system interpreter.
#include "support/PythonDbf.h"

#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <sstream>

namespace peltra::test {
namespace {

// Debian's python3-dbf lives in the system interpreter's packages.
constexpr char kPython[] = "/usr/bin/python3";

ProgramResult runPython(const std::string& script, const std::vector<std::string>& args,
                        const std::filesystem::path& table)
{
    std::vector<std::string> all = {"-c", script};
    all.insert(all.end(), args.begin(), args.end());
    return runProgram(kPython, all, table.parent_path());
}

}  // namespace

void writeTableByPython(const std::filesystem::path& table, const std::string& fields,
                        const std::vector<std::string>& rows, const std::string& codePage, bool unmarked)
{
    std::string script = "import sys, dbf\n"
                         "t = dbf.Table(sys.argv[1], sys.argv[2], codepage=sys.argv[3], dbf_type='db3')\n"
                         "t.open(dbf.READ_WRITE)\n";
    for (const std::string& row : rows)
        script += "t.append(" + row + ")\n";
    script += "t.close()\n";
    if (unmarked)
        script += "f = open(sys.argv[1], 'r+b'); f.seek(29); f.write(b'\\0'); f.close()\n";
    const ProgramResult r = runPython(script, {table.string(), fields, codePage}, table);
    ASSERT_EQ(r.code, 0) << "python3-dbf could not write " << table << ": " << r.err;
}

std::vector<std::string> readFieldByPython(const std::filesystem::path& table, const std::string& field,
                                           const std::string& codePage)
{
    const std::string script = "import sys, dbf\n"
                               "t = dbf.Table(sys.argv[1], codepage=sys.argv[3])\n"
                               "t.open(dbf.READ_ONLY)\n"
                               "for r in t: sys.stdout.buffer.write((r[sys.argv[2].lower()] or '').strip().encode() + b'\\n')\n"
                               "t.close()\n";
    const ProgramResult r = runPython(script, {table.string(), field, codePage}, table);
    EXPECT_EQ(r.code, 0) << "python3-dbf could not read " << table << ": " << r.err;
    std::vector<std::string> values;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        values.push_back(line);
    return values;
}

}  // namespace peltra::test
