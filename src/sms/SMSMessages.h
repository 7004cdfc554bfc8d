// The message text a template makes of a table row, and the messages of a whole source table.
#pragma once

#include "data/Connection.h"
#include "sms/SMSTasks.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace peltra::sms {

// A row's value by field name (compared without regard to case); nothing when the row has no
// such field.
using FieldLookup = std::function<std::optional<std::string>(const std::string& field)>;

// Text items stand for themselves; a field item for the row's value with blanks at both ends
// dropped (dBase pads character fields). A field the row lacks gives nothing. renderMessages
// hands over numbers with their column's decimals ("12.50") and dates as DD.MM.YYYY.
std::string messageText(const std::vector<SMSPatternItem>& items, const FieldLookup& row);

// The table a task's File stands for. Without a folder: the File itself. With a folder: the
// File's name (the part after its last '/' or '\', so a path written on Windows works too) in
// that folder, matched without regard to case when no file of exactly that name is there.
std::optional<std::filesystem::path> sourceTable(const std::string& file,
                                                 const std::optional<std::filesystem::path>& folder,
                                                 std::string* error = nullptr);

// The columns of a table, read through a connection on its folder ("DB=" + the folder).
std::optional<std::vector<data::ColumnInfo>> tableFields(const std::filesystem::path& table,
                                                         std::string* error = nullptr);

struct SMSMessage {
    std::string phone;  // TELEF, trimmed
    std::string text;
};

// Every row of the table in file order, as a message. Fails before the first row when the table
// cannot be read, has no TELEF column, or a field item names a column the table does not have;
// error then says which.
bool renderMessages(const std::filesystem::path& table, const std::vector<SMSPatternItem>& items,
                    const std::function<void(const SMSMessage&)>& each, std::string* error = nullptr);

}  // namespace peltra::sms
