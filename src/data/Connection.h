// A connection to the data source "peltra": the .dbf tables of one folder through the SQL engine,
// with the error records of the ODBC layer.
#pragma once

#include "data/OdbcError.h"
#include "data/SqlEngine.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::data {

// The connection option that sets the folder plain table names are looked up in.
inline constexpr int kCurrentQualifierOption = 109;
// The connection's own option (in the range ODBC leaves to drivers) that sets the code page of
// tables without a code-page mark: "866" or "1251"; "" or "auto" judges each from its text.
inline constexpr int kUnmarkedCodePageOption = 1000;

// A column of a table as the catalogue lists it.
struct ColumnInfo {
    std::string name;
    int sqlType = 0;  // ODBC SQL type: C 1 CHAR, N 2 NUMERIC, F 6 FLOAT, D 9 DATE, L -7 BIT, others 12
    int length = 0;
    int decimals = 0;
    char dbfType = 'C';
};

// Every failure adds an error record; hasErrors/takeErrors hand them over. One thread at a time.
class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The data source name: "peltra" in any letter case.
    bool bind(std::string_view dataSourceName);
    bool connect();
    void disconnect();
    bool isConnected() const { return m_engine.isOpen(); }

    // Option 109: the current folder; option 1000: the code page of unmarked tables. Other options
    // and values are refused.
    bool setConnectOption(int option, std::string_view value);

    // The .dbf files of the current folder (file names, sorted).
    std::optional<std::vector<std::string>> tables();
    std::optional<std::vector<ColumnInfo>> columns(std::string_view table);

    // Runs one statement; rowsAffected receives the rows changed.
    bool executeDirect(std::string_view sql, long long* rowsAffected = nullptr);

    bool hasErrors() const { return !m_errors.empty(); }
    std::vector<OdbcError> takeErrors();
    // Warnings of the statements run since the last call (SQL_SUCCESS_WITH_INFO, SQLSTATE 01000):
    // damaged tables read, cells taken as NULL. Not errors: hasErrors does not count them.
    std::vector<OdbcError> takeWarnings();

    // For queries of this connection.
    SqlEngine& engine() { return m_engine; }
    void addError(OdbcError error) { m_errors.push_back(std::move(error)); }
    void addError(int functionCode, const SqlFailure& failure);
    void addError(int functionCode, std::string sqlState, std::string message);

private:
    SqlEngine m_engine;
    bool m_bound = false;
    std::vector<OdbcError> m_errors;
};

}  // namespace peltra::data
