// Test helper: tables written and read by python3-dbf, a dBase library from outside the station.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace peltra::test {

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
