// SQL over the .dbf tables of a folder: one in-memory SQLite database per connection, with the
// "dbf" virtual tables made on demand, TODAY(), a Cyrillic-aware LIKE, an authorizer, and a small
// front end for the statements SQLite does not know (PACK, CREATE TABLE x.dbf, DROP TABLE).
#pragma once

#include "data/DbfVirtualTable.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace peltra::data {

// A failure: SQLite's extended result code and the message.
struct SqlFailure {
    int code = 0;
    std::string message;
};

// How table names in a statement are found. Before SQLite sees a statement, the front end reads
// the names after FROM (and its comma list), JOIN, UPDATE, INTO and DELETE FROM. A name that is a
// .dbf file — by its file name with or without ".dbf", in any letter case, in the qualifier's
// folder, or by a path — gets a virtual table named after the file (its stem) and the name in the
// text is replaced by that table's quoted name. Other names are left for SQLite to judge (common
// table expressions, or "no such table"). The word NotLike outside quotes is read as NOT LIKE.
//
// One object is used by one thread at a time.
class SqlEngine : public DbfTableSource {
public:
    SqlEngine();
    ~SqlEngine() override;
    SqlEngine(const SqlEngine&) = delete;
    SqlEngine& operator=(const SqlEngine&) = delete;

    bool open(SqlFailure& failure);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // The folder plain table names are looked up in; the current directory until set.
    void setQualifier(std::filesystem::path folder);
    const std::filesystem::path& qualifier() const { return m_qualifier; }

    // The code page of tables without a code-page mark; nothing to judge each from its text.
    // Tables already made are read again with it when next named.
    void setUnmarkedCodePage(std::optional<unsigned> codePage) { m_unmarkedCodePage = codePage; }

    // The file a table reference names, when it exists.
    std::optional<std::filesystem::path> resolveTable(std::string_view reference) const;

    // Prepares one statement. Front-end statements (PACK, CREATE TABLE, DROP TABLE) are carried
    // out here: *statement is then null and changes (if given) receives the records affected.
    // With rowidColumn, a SELECT over one table gets that table's rowid as a hidden first column
    // (*withRowid tells whether it was added).
    bool prepare(std::string_view sql, sqlite3_stmt** statement, SqlFailure& failure,
                 bool rowidColumn = false, bool* withRowid = nullptr, long long* changes = nullptr);
    // Prepares and runs a statement to its end; changes receives the rows changed.
    bool execute(std::string_view sql, SqlFailure& failure, long long* changes = nullptr);
    // The number of rows a SELECT yields, counted by running it once.
    std::optional<long long> countRows(std::string_view sql, SqlFailure& failure);

    // The table behind a reference (made available on demand), for column listings.
    std::shared_ptr<DbfTable> table(std::string_view reference, SqlFailure& failure);

    sqlite3* handle() const { return m_db; }

    // What was read with misgivings since the last call, one text each: "Table "<file>": ..."
    // for a table read although it is damaged, and for the cells that did not read as their
    // field's type and were given as NULL (how many, and the first of them).
    std::vector<std::string> takeWarnings();

    std::shared_ptr<DbfTable> dbfTable(std::string_view key, std::string& error) override;
    void unreadableCell(const DbfTable& table, std::uint32_t record, std::size_t field) override;

private:
    struct Entry {
        std::filesystem::path path;
        std::shared_ptr<DbfTable> table;
        unsigned long long inode = 0;
        std::optional<unsigned> unmarkedCodePage;  // as it was when the table was opened
    };
    struct Rewritten {
        std::string text;
        std::size_t outerSources = 0;     // tables and subqueries after the outer statement's FROM and JOINs
        std::string outerAlias;           // the name to qualify rowid with: that of its first .dbf table
        std::string firstKeyword;         // upper case
        std::size_t firstKeywordEnd = 0;  // offset just past it in text
        bool groupedOrMerged = false;     // GROUP BY, DISTINCT, UNION and the like in the outer statement
        bool severalStatements = false;   // text follows a ';'
    };

    static int authorize(void* self, int action, const char* a1, const char* a2, const char* a3, const char* a4);
    bool rewriteStatement(std::string_view sql, Rewritten& out, SqlFailure& failure);
    std::optional<std::string> ensureTable(const std::filesystem::path& path, SqlFailure& failure);
    bool runInternal(const std::string& sql, SqlFailure& failure);
    bool frontEnd(std::string_view sql, bool& handled, SqlFailure& failure, long long* changes);
    bool createTable(std::string_view reference, std::string_view definition, SqlFailure& failure);
    bool dropTable(std::string_view reference, SqlFailure& failure);
    bool packTable(std::string_view reference, SqlFailure& failure, long long* changes);
    std::filesystem::path pathFor(std::string_view reference) const;

    sqlite3* m_db = nullptr;
    std::filesystem::path m_qualifier;
    std::optional<unsigned> m_unmarkedCodePage;
    std::map<std::string, Entry> m_tables;  // by lower-case vtab name
    struct Unreadable {
        std::set<std::uint64_t> cells;  // record << 16 | field, each counted once
        std::string first;
    };
    std::map<std::string, Unreadable> m_unreadable;  // by table file name
    std::vector<std::string> m_warnings;
    bool m_internal = false;                // the authorizer lets the engine's own statements pass
    bool m_readOnlyStatement = false;       // a SELECT is being prepared
};

}  // namespace peltra::data
