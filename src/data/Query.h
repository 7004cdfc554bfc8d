// A query on a connection: runs a statement and walks its rows, reads values by 1-based column
// number, and writes the current row back (edit, setValue, update) or adds one (addNew, update).
#pragma once

#include "data/Connection.h"
#include "data/DbfTypes.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3_stmt;

namespace peltra::data {

// Rows are read as the statement runs, so a row set over a large table costs one row of memory.
// A SELECT over one table carries the record number of each row (a hidden column), which is
// what update writes to; positions stay stable while the row set is open. moveFirst runs the
// statement again. Failures add error records to the connection.
class Query {
public:
    explicit Query(Connection& connection);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    void setSql(std::string sql) { m_sql = std::move(sql); }
    const std::string& sql() const { return m_sql; }
    // Runs the statement and moves to its first row (isEof when there is none).
    bool open();
    bool isOpen() const { return m_open; }
    void close();

    int columnCount() const;
    // Rows of the result: known at the end of the rows, otherwise counted by running the
    // statement once more; -1 when it cannot be counted.
    long long rowCount();
    std::string columnName(int column) const;
    std::optional<int> columnIndex(std::string_view name) const;  // ASCII case ignored

    bool moveFirst();
    bool moveNext();
    bool isEof() const { return m_eof; }
    // The record number of the current row (1 for the first record of the file), 0 when unknown.
    long long recordNumber() const;

    // Rows a statement that changes a table changed (0 for a SELECT).
    long long rowsAffected() const { return m_rowsAffected; }

    // The kind of value the current row holds in a column.
    enum class ValueType { Null, Integer, Real, Text };
    ValueType valueType(int column) const;

    // A number from a field with decimals reads with the field's decimals, as the table holds it
    // ("12.50", "0.10"), not as the engine's shortest text of the value ("12.5", "0.1").
    std::string getText(int column, bool* isNull = nullptr) const;
    bool isNull(int column) const;
    double getDouble(int column) const;
    std::optional<DbfDate> getDate(int column) const;
    int getInteger(int column) const;

    // Starts changing the current row / a new row; setValue then takes text values ("" = NULL
    // only when null is set); update writes them.
    bool edit();
    bool addNew();
    bool setValue(int column, std::string value, bool null = false);
    bool update();

private:
    bool step(int functionCode);
    int raw(int column) const;  // statement column of a 1-based column, -1 when out of range
    bool fail(int functionCode, std::string sqlState, std::string message);
    void readDecimals();

    Connection& m_connection;
    std::string m_sql;
    sqlite3_stmt* m_statement = nullptr;
    // The last write-back statement, kept prepared for the next row.
    std::string m_writeSql;
    sqlite3_stmt* m_writeStatement = nullptr;
    bool m_open = false;
    bool m_eof = true;
    bool m_withRowid = false;
    long long m_rowsSeen = 0;
    long long m_rowsAffected = 0;
    std::optional<long long> m_rowCount;
    // Per statement column: the decimals its numbers are written with, -1 when it has none.
    std::vector<int> m_decimals;
    enum class Mode { None, Edit, AddNew } m_mode = Mode::None;
    long long m_editRecord = 0;
    std::map<int, std::optional<std::string>> m_pending;
};

}  // namespace peltra::data
