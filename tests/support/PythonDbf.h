// Test helper: Debian's python3 with python3-dbf (scripts/install-deps.sh), the other dBase program
// that writes, reads, deletes and packs the station's tables in the tests.
#pragma once

#include "support/RunProgram.h"

#include <filesystem>
#include <string>
#include <vector>

namespace peltra::test {

// Debian's python3-dbf lives in the system interpreter's packages, not in one first on the path.
inline constexpr char kPython[] = "/usr/bin/python3";

// Runs script after "import dbf,sys" with args as sys.argv[1:]; fails the test when it does not
// exit 0. What the script prints is its answer.
ProgramResult runPythonDbf(const std::string& script, std::vector<std::string> args,
                           const std::filesystem::path& workDir);

// Writes a dBase III table with python3-dbf: fields as it declares them ("TELEF C(12); DATA D"),
// rows as Python tuples ("('2345678', None, 'Иванов')"), text in codePage ("cp866", "cp1251").
// Unmarked: the language-driver byte is set to 0 afterwards, as tools that know no code page
// leave it. Fails the calling test when python3-dbf cannot write it.
void writeTableByPython(const std::filesystem::path& table, const std::string& fields,
                        const std::vector<std::string>& rows, const std::string& codePage, bool unmarked);

// Every record's value of a character field as python3-dbf reads it in codePage, blanks trimmed.
std::vector<std::string> readFieldByPython(const std::filesystem::path& table, const std::string& field,
                                           const std::string& codePage);

}  // namespace peltra::test
