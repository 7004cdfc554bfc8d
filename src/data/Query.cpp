// The query: stepping through a statement's rows, reading values, and positioned write-back.
#include "data/Query.h"

#include "data/Functions.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace peltra::data {
namespace {

bool equalsAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

Query::Query(Connection& connection) : m_connection(connection) {}

Query::~Query()
{
    close();
}

bool Query::fail(int functionCode, std::string sqlState, std::string message)
{
    m_connection.addError(functionCode, std::move(sqlState), std::move(message));
    return false;
}

void Query::close()
{
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
    sqlite3_finalize(m_writeStatement);
    m_writeStatement = nullptr;
    m_writeSql.clear();
    m_open = false;
    m_eof = true;
    m_withRowid = false;
    m_rowsSeen = 0;
    m_rowsAffected = 0;
    m_rowCount.reset();
    m_decimals.clear();
    m_mode = Mode::None;
    m_pending.clear();
}

// A column of a field with decimals is declared with them ("REAL(10,2)"); an expression has no
// declared type and keeps the engine's text.
void Query::readDecimals()
{
    const int count = sqlite3_column_count(m_statement);
    m_decimals.assign(static_cast<std::size_t>(count), -1);
    for (int i = 0; i < count; ++i) {
        const char* declared = sqlite3_column_decltype(m_statement, i);
        const char* comma = declared ? std::strchr(declared, ',') : nullptr;
        if (!comma || !std::strchr(declared, '('))
            continue;
        const int decimals = std::atoi(comma + 1);
        if (decimals > 0 && decimals <= 15)
            m_decimals[static_cast<std::size_t>(i)] = decimals;
    }
}

bool Query::open()
{
    close();
    if (!m_connection.isConnected())
        return fail(FunctionCode::SQLExecDirect, "08003", "The connection is not open");
    SqlFailure failure;
    long long changes = 0;
    if (!m_connection.engine().prepare(m_sql, &m_statement, failure, true, &m_withRowid, &changes)) {
        m_connection.addError(FunctionCode::SQLExecDirect, failure);
        return false;
    }
    m_open = true;
    if (!m_statement) {  // a statement the engine carried out itself
        m_rowCount = 0;
        m_rowsAffected = changes;
        return true;
    }
    readDecimals();
    return step(FunctionCode::SQLExecDirect);
}

bool Query::step(int functionCode)
{
    m_mode = Mode::None;
    m_pending.clear();
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW) {
        m_eof = false;
        ++m_rowsSeen;
        return true;
    }
    m_eof = true;
    if (rc == SQLITE_DONE) {
        m_rowCount = m_rowsSeen;
        if (!sqlite3_stmt_readonly(m_statement))
            m_rowsAffected = sqlite3_changes64(m_connection.engine().handle());
        return true;
    }
    sqlite3* db = m_connection.engine().handle();
    m_connection.addError(functionCode, SqlFailure {sqlite3_extended_errcode(db), sqlite3_errmsg(db)});
    return false;
}

int Query::columnCount() const
{
    if (!m_statement)
        return 0;
    return sqlite3_column_count(m_statement) - (m_withRowid ? 1 : 0);
}

long long Query::rowCount()
{
    if (m_rowCount)
        return *m_rowCount;
    if (!m_open || !m_statement)
        return -1;
    SqlFailure failure;
    m_rowCount = m_connection.engine().countRows(m_sql, failure);
    if (!m_rowCount) {
        m_connection.addError(FunctionCode::SQLFetch, failure);
        return -1;
    }
    return *m_rowCount;
}

int Query::raw(int column) const
{
    if (!m_statement || column < 1 || column > columnCount())
        return -1;
    return column - 1 + (m_withRowid ? 1 : 0);
}

std::string Query::columnName(int column) const
{
    const int i = raw(column);
    if (i < 0)
        return {};
    const char* name = sqlite3_column_name(m_statement, i);
    return name ? name : "";
}

std::optional<int> Query::columnIndex(std::string_view name) const
{
    for (int c = 1; c <= columnCount(); ++c)
        if (equalsAscii(columnName(c), name))
            return c;
    return std::nullopt;
}

bool Query::moveFirst()
{
    if (!m_open || !m_statement)
        return false;
    sqlite3_reset(m_statement);
    m_rowsSeen = 0;
    return step(FunctionCode::SQLFetch);
}

bool Query::moveNext()
{
    if (!m_open || !m_statement || m_eof)
        return false;
    return step(FunctionCode::SQLFetch) && !m_eof;
}

long long Query::recordNumber() const
{
    if (!m_withRowid || m_eof || !m_statement)
        return 0;
    return sqlite3_column_int64(m_statement, 0);
}

Query::ValueType Query::valueType(int column) const
{
    if (isNull(column))
        return ValueType::Null;
    switch (sqlite3_column_type(m_statement, raw(column))) {
    case SQLITE_INTEGER: return ValueType::Integer;
    case SQLITE_FLOAT: return ValueType::Real;
    default: return ValueType::Text;
    }
}

bool Query::isNull(int column) const
{
    const int i = raw(column);
    return i < 0 || m_eof || sqlite3_column_type(m_statement, i) == SQLITE_NULL;
}

std::string Query::getText(int column, bool* null) const
{
    const bool isNullValue = isNull(column);
    if (null)
        *null = isNullValue;
    if (isNullValue)
        return {};
    const int i = raw(column);
    const int decimals = m_decimals[static_cast<std::size_t>(i)];
    if (decimals >= 0 && sqlite3_column_type(m_statement, i) == SQLITE_FLOAT) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, sqlite3_column_double(m_statement, i));
        return buffer;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, i));
    return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(m_statement, i)));
}

double Query::getDouble(int column) const
{
    return isNull(column) ? 0.0 : sqlite3_column_double(m_statement, raw(column));
}

int Query::getInteger(int column) const
{
    return isNull(column) ? 0 : sqlite3_column_int(m_statement, raw(column));
}

std::optional<DbfDate> Query::getDate(int column) const
{
    if (isNull(column))
        return std::nullopt;
    const std::string text = getText(column);
    DbfDate date;
    char dash1 = 0;
    char dash2 = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d%c%2d%c%2d", &date.year, &dash1, &date.month, &dash2, &date.day) != 5
        || dash1 != '-' || dash2 != '-' || !date.isValid())
        return std::nullopt;
    return date;
}

bool Query::edit()
{
    if (!m_open || m_eof)
        return fail(FunctionCode::SQLSetPos, "24000", "There is no current row to edit");
    if (!m_withRowid)
        return fail(FunctionCode::SQLSetPos, "HY000", "The rows of this statement cannot be updated");
    m_mode = Mode::Edit;
    m_editRecord = recordNumber();
    m_pending.clear();
    return true;
}

bool Query::addNew()
{
    if (!m_open || !m_statement)
        return fail(FunctionCode::SQLSetPos, "24000", "The query is not open");
    m_mode = Mode::AddNew;
    m_pending.clear();
    return true;
}

bool Query::setValue(int column, std::string value, bool null)
{
    if (m_mode == Mode::None)
        return fail(FunctionCode::SQLSetPos, "HY010", "setValue without edit or addNew");
    if (raw(column) < 0)
        return fail(FunctionCode::SQLSetPos, "07009", "There is no column " + std::to_string(column));
    m_pending[column] = null ? std::nullopt : std::optional<std::string>(std::move(value));
    return true;
}

bool Query::update()
{
    if (m_mode == Mode::None)
        return fail(FunctionCode::SQLSetPos, "HY010", "update without edit or addNew");
    const Mode mode = m_mode;
    m_mode = Mode::None;
    if (m_pending.empty())
        return true;
    // Every value goes to the table column the result column comes from.
    std::string table;
    std::vector<std::string> names;
    for (const auto& [column, value] : m_pending) {
        const char* origin = sqlite3_column_origin_name(m_statement, raw(column));
        const char* from = sqlite3_column_table_name(m_statement, raw(column));
        if (!origin || !from || (!table.empty() && table != from)) {
            m_pending.clear();
            return fail(FunctionCode::SQLSetPos, "HY000",
                        "Column " + columnName(column) + " is not a field of the table being updated");
        }
        table = from;
        names.push_back(Functions::quotedName(origin));
    }
    std::string sql;
    if (mode == Mode::Edit) {
        sql = "UPDATE " + Functions::quotedName(table) + " SET ";
        for (std::size_t i = 0; i < names.size(); ++i)
            sql += (i ? ", " : "") + names[i] + " = ?";
        sql += " WHERE rowid = ?";
    } else {
        sql = "INSERT INTO " + Functions::quotedName(table) + " (";
        for (std::size_t i = 0; i < names.size(); ++i)
            sql += (i ? ", " : "") + names[i];
        sql += ") VALUES (";
        for (std::size_t i = 0; i < names.size(); ++i)
            sql += i ? ", ?" : "?";
        sql += ")";
    }
    // Write-back sends the same statement row after row: it is prepared once and kept.
    sqlite3* db = m_connection.engine().handle();
    int rc = SQLITE_OK;
    if (sql != m_writeSql || !m_writeStatement) {
        sqlite3_finalize(m_writeStatement);
        m_writeStatement = nullptr;
        m_writeSql.clear();
        rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &m_writeStatement, nullptr);
        if (rc == SQLITE_OK)
            m_writeSql = sql;
    }
    sqlite3_stmt* statement = m_writeStatement;
    int index = 1;
    for (const auto& [column, value] : m_pending) {
        if (rc != SQLITE_OK)
            break;
        rc = value ? sqlite3_bind_text(statement, index, value->data(), static_cast<int>(value->size()), SQLITE_TRANSIENT)
                   : sqlite3_bind_null(statement, index);
        ++index;
    }
    if (rc == SQLITE_OK && mode == Mode::Edit)
        rc = sqlite3_bind_int64(statement, index, m_editRecord);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(statement);
    const bool ok = rc == SQLITE_DONE;
    const bool vanished = ok && mode == Mode::Edit && sqlite3_changes(db) != 1;
    if (!ok)
        m_connection.addError(FunctionCode::SQLSetPos, SqlFailure {sqlite3_extended_errcode(db), sqlite3_errmsg(db)});
    if (statement != nullptr) {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
    m_pending.clear();
    if (vanished)
        return fail(FunctionCode::SQLSetPos, "HY109", "Record " + std::to_string(m_editRecord) + " no longer exists");
    return ok;
}

}  // namespace peltra::data
