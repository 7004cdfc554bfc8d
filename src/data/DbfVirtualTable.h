// The SQLite virtual-table module "dbf": SQL over .dbf tables, one row per record that is not
// marked deleted, rowid = record number (1 for the first record of the file).
#pragma once

#include "data/DbfTable.h"

#include <memory>
#include <string>
#include <string_view>

struct sqlite3;

namespace peltra::data {

// Gives the module the table object behind a virtual table. The engine owns the tables; the
// module only borrows them (shared so that a dropped table outlives a statement still using it).
class DbfTableSource {
public:
    virtual ~DbfTableSource() = default;
    // The table registered under key, or nothing with error set.
    virtual std::shared_ptr<DbfTable> dbfTable(std::string_view key, std::string& error) = 0;
    // A cell that does not read as its field's type (the overflow mark "******" of a numeric
    // field, a memo that cannot be found) was read; the module gives it as NULL.
    virtual void unreadableCell(const DbfTable& table, std::uint32_t record, std::size_t field) = 0;
};

// Registers the module on a database; "CREATE VIRTUAL TABLE x USING dbf(key)" then makes the
// table source's table under key readable and writable as x (a damaged table refuses every write
// statement, even one that would change no row). Returns an SQLite result code.
int registerDbfModule(sqlite3* db, DbfTableSource* source);

// The declared SQL type of a field: TEXT for C and D, INTEGER for N/F without decimals and L,
// REAL(length,decimals) for N/F with decimals, so a reader can show the value with the field's own
// decimals; Visual FoxPro's I is INTEGER, Y and B REAL; TEXT for every other type.
std::string sqlTypeOfField(const DbfField& field);

}  // namespace peltra::data
