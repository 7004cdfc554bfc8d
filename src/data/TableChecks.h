// The checks the binding and task windows run on table files, and the query checker's core:
// each works on its own connection and returns its messages for the caller to show.
#pragma once

#include "data/OdbcError.h"
#include "data/SourceCheck.h"

#include <filesystem>
#include <string>
#include <vector>

namespace peltra::data {

// What a check found.
struct CheckOutcome {
    bool ok = false;
    std::string message;              // the text to show when not ok
    std::vector<OdbcError> errors;    // error records of a failed statement, for the error box
};

// Whether the file can be a task's source: it exists, and it has the columns TELEF, PROBA, OTBOJ,
// DATA and CLOCK (names compared exactly), each able to take what the station writes into it
// (text, numbers, a date, text of 8). Otherwise "Данная таблица не обнаружена. ..." or the
// list of missing columns.
CheckOutcome SourceCheck(const std::filesystem::path& table);

// The required columns of a table that cannot take the station's results (none when the table
// cannot be read: the other checks say so).
std::vector<UnfitColumn> unfitResultColumns(const std::filesystem::path& table);

// The archive file of a task. A missing file is created as an empty table of the source's
// structure (a copy of the source, emptied and packed). An existing one must hold every field of
// the source with the same type and at least its size; otherwise the findings message.
CheckOutcome ArchiveCheck(const std::filesystem::path& source, const std::filesystem::path& archive);

// What the query checker shows for a table, a filter condition and a sort.
struct QueryCheck {
    std::string log;                        // "Выполнение запроса", "DB=...", "SQL Statement=..."
    std::string sql;                        // the statement it ran
    std::vector<std::string> columns;       // the table's columns, in order
    std::vector<std::vector<std::string>> rows;  // the selected rows as text
    bool ok = false;
    std::string status;                     // "Выбрано N строк." or "Ошибка SQL запроса"
    std::string message;                    // the message box text
    std::vector<OdbcError> errors;          // for the error boxes when the statement failed
};

// Selects every column of table, with " WHERE condition" when one is given and
// " ORDER BY column ASC|DESC" when a sort column is given, exactly as a task would, reading an
// unmarked table in the binding's code page setting ("866", "1251", or "" to judge its text).
QueryCheck runQueryCheck(const std::filesystem::path& table, const std::string& condition,
                         const std::string& sortColumn, bool ascending, const std::string& unmarkedCodePage = {});

}  // namespace peltra::data
