// The configuration store on SQLite.
//
// Layout: table `keys` (id, parent, name, fold) is the tree, the hive root being id 1;
// table `vals` (key, name, fold, type, data) holds the values. `fold` is the upper-case fold
// of the name: uniqueness and order go by it, so names compare without regard to case while
// the stored name keeps its spelling. The file runs in WAL mode with a busy time-out, so
// several processes can share it; every write is one IMMEDIATE transaction (or a savepoint
// inside the caller's transaction).
#include "platform/registry/RegistryStore.h"

#include "platform/text/CaseFold.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace peltra::platform {
namespace {

constexpr sqlite3_int64 kRootKey = 1;
constexpr std::string_view kFormatName = "format";
constexpr std::string_view kFormatValue = "peltra-registry 1";

thread_local std::string t_lastError;

const char* const kSchema = R"sql(
CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER, name TEXT NOT NULL, fold TEXT NOT NULL);
CREATE UNIQUE INDEX keys_by_parent ON keys(parent, fold);
CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL,
                  type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;
INSERT INTO keys(id, parent, name, fold) VALUES (1, NULL, '', '');
)sql";

const char* const kFindChild = "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2";
const char* const kInsertChild = "INSERT INTO keys(parent, name, fold) VALUES (?1, ?2, ?3)";
const char* const kGetValue = "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2";
const char* const kSetValue =
    "INSERT INTO vals(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";
const char* const kDeleteValue = "DELETE FROM vals WHERE key = ?1 AND fold = ?2";
const char* const kListChildren = "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY fold";
const char* const kListValues = "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY fold";
const char* const kCopyValues =
    "INSERT INTO vals(key, name, fold, type, data) SELECT ?2, name, fold, type, data FROM vals "
    "WHERE key = ?1 ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";
// Both delete a key and everything below it.
const char* const kDeleteSubtreeValues =
    "WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN subtree ON keys.parent = subtree.id) "
    "DELETE FROM vals WHERE key IN (SELECT id FROM subtree)";
const char* const kDeleteSubtreeKeys =
    "WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN subtree ON keys.parent = subtree.id) "
    "DELETE FROM keys WHERE id IN (SELECT id FROM subtree)";

}  // namespace

std::vector<std::string> splitKeyPath(const std::string& keyPath)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= keyPath.size()) {
        std::size_t end = keyPath.find('\\', start);
        if (end == std::string::npos)
            end = keyPath.size();
        if (end > start)
            parts.push_back(keyPath.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string joinKeyPath(const std::vector<std::string>& components)
{
    std::string path;
    for (const std::string& part : components) {
        if (!path.empty())
            path += '\\';
        path += part;
    }
    return path;
}

class RegistryStore::Impl {
public:
    class Query;

    explicit Impl(std::filesystem::path file) : m_file(std::move(file)) {}
    ~Impl();

    bool open();
    // Opens the connection and counts the file's schema objects; returns SQLite's result code.
    int connect(bool immutable, sqlite3_int64& objects);
    void closeConnection();

    // Runs work inside a read snapshot (a deferred transaction, or the caller's transaction).
    template <typename Work>
    auto read(Work&& work) -> decltype(work());
    // Runs work as an atomic write: an IMMEDIATE transaction, or a savepoint inside the caller's.
    bool write(const std::function<bool()>& work);

    sqlite3_stmt* statement(const char* sql);
    bool step(sqlite3_stmt* stmt, bool& hasRow);
    bool exec(const char* sql);
    bool fail(const char* what);
    bool failWith(const std::string& message);

    // Finds (and with create, makes) the key of a path; nothing when missing or on error.
    std::optional<sqlite3_int64> resolve(const std::string& keyPath, bool create);
    std::optional<sqlite3_int64> findChild(sqlite3_int64 parent, const std::string& name);
    std::optional<sqlite3_int64> createChild(sqlite3_int64 parent, const std::string& name);
    std::optional<RegistryValue> readValue(sqlite3_int64 key, const std::string& name, bool& ok);
    bool writeValue(sqlite3_int64 key, const std::string& name, const RegistryValue& value);
    bool copyTree(sqlite3_int64 from, sqlite3_int64 to);

    std::filesystem::path m_file;
    sqlite3* m_db = nullptr;
    bool m_readOnly = false;
    std::string m_openError;
    int m_busyTimeoutMs = 5000;
    std::recursive_mutex m_mutex;
    int m_depth = 0;  // nesting of transactions, on the thread holding m_mutex
    // Key ids found inside the current outermost transaction, by path. What a transaction sees
    // changes only through its own deletes and rollbacks, which empty this.
    std::unordered_map<std::string, sqlite3_int64> m_resolved;
    std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

// One use of a cached statement: binds its parameters, steps through its rows, and leaves the
// statement reset for the next use when it goes out of scope.
class RegistryStore::Impl::Query {
public:
    Query(Impl& impl, const char* sql);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    explicit operator bool() const { return m_stmt != nullptr; }
    Query& bind(int index, sqlite3_int64 value);
    Query& bind(int index, std::string_view text);
    Query& bind(int index, const Bytes& blob);
    // Moves to the next row; false at the end or on failure (then lastError() says why).
    bool next();
    // Runs a statement that returns no rows.
    bool run();
    bool failed() const { return m_failed; }

    sqlite3_int64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string text(int column) const;
    Bytes blob(int column) const;

private:
    Impl& m_impl;
    sqlite3_stmt* m_stmt;
    bool m_failed = false;
};

RegistryStore::Impl::~Impl()
{
    closeConnection();
}

bool RegistryStore::Impl::open()
{
    const std::string name = m_file.string();
    std::error_code ec;
    if (m_file.has_parent_path() && !std::filesystem::exists(m_file.parent_path(), ec)) {
        std::filesystem::create_directories(m_file.parent_path(), ec);
        if (ec) {
            m_openError = "cannot create the folder of the configuration store " + name + ": " +
                          ec.message();
            return false;
        }
        chmod(m_file.parent_path().c_str(), 0700);
    }
    // Create the file ourselves so that it is private from the first byte on.
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno == EACCES || errno == EROFS || errno == EPERM) {
        m_readOnly = true;
    } else {
        m_openError = "cannot open the configuration store " + name + ": " + std::strerror(errno);
        return false;
    }

    sqlite3_int64 objects = -1;
    int rc = connect(false, objects);
    if ((rc == SQLITE_CANTOPEN || rc == SQLITE_READONLY) && m_readOnly) {
        // A read-only WAL store needs its shared-memory file; where that cannot be created
        // (a folder we may not write), read the file as an unchanging snapshot instead.
        closeConnection();
        rc = connect(true, objects);
    }
    if (!m_db) {
        m_openError = "cannot open the configuration store " + name + ": " + sqlite3_errstr(rc);
        return false;
    }
    if (objects < 0) {
        m_openError = name + " is not a configuration store: " + sqlite3_errstr(rc);
        return false;
    }
    if (objects == 0) {
        if (m_readOnly) {
            m_openError = "the configuration store " + name + " is empty and read-only";
            return false;
        }
        const bool created = write([&] {
            // Another process may have made it meanwhile.
            {
                Query count(*this, "SELECT count(*) FROM sqlite_schema");
                if (!count.next())
                    return false;
                if (count.integer(0) != 0)
                    return true;
            }
            return exec(kSchema) &&
                   Query(*this, "INSERT INTO meta(name, value) VALUES (?1, ?2)")
                       .bind(1, kFormatName)
                       .bind(2, kFormatValue)
                       .run();
        });
        if (!created) {
            m_openError = t_lastError;
            return false;
        }
    }
    std::string found;
    {
        Query format(*this, "SELECT value FROM meta WHERE name = ?1");
        if (format.bind(1, kFormatName).next())
            found = format.text(0);
    }
    if (found != kFormatValue) {
        m_openError = name + " is not a configuration store of this station";
        return false;
    }
    // Only now that the file is known to be ours may its journal mode change.
    if (!m_readOnly) {
        exec("PRAGMA journal_mode=WAL");
        // A commit survives the death of the process at once; after a power failure the store
        // opens intact, possibly without the last moments' writes, as the Windows registry does.
        exec("PRAGMA synchronous=NORMAL");
    }
    return true;
}

int RegistryStore::Impl::connect(bool immutable, sqlite3_int64& objects)
{
    std::string uri = "file:";
    for (unsigned char c : m_file.string()) {
        if (std::isalnum(c) || std::strchr("/._-~", c) || c >= 0x80) {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    if (m_readOnly)
        uri += immutable ? "?mode=ro&immutable=1" : "?mode=ro";
    const int flags = (m_readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
    int rc = sqlite3_open_v2(uri.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        closeConnection();
        return rc;
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, m_busyTimeoutMs);

    // An empty file becomes a store; anything else must already be one.
    sqlite3_stmt* probe = nullptr;
    rc = sqlite3_prepare_v2(m_db, "SELECT count(*) FROM sqlite_schema", -1, &probe, nullptr);
    if (rc == SQLITE_OK && (rc = sqlite3_step(probe)) == SQLITE_ROW)
        objects = sqlite3_column_int64(probe, 0);
    sqlite3_finalize(probe);
    return rc & 0xFF;
}

void RegistryStore::Impl::closeConnection()
{
    for (auto& [sql, stmt] : m_statements)
        sqlite3_finalize(stmt);
    m_statements.clear();
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
}

sqlite3_stmt* RegistryStore::Impl::statement(const char* sql)
{
    if (auto it = m_statements.find(sql); it != m_statements.end())
        return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
        fail("prepare");
        return nullptr;
    }
    m_statements.emplace(sql, stmt);
    return stmt;
}

bool RegistryStore::Impl::step(sqlite3_stmt* stmt, bool& hasRow)
{
    const int rc = sqlite3_step(stmt);
    hasRow = rc == SQLITE_ROW;
    if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        return true;
    sqlite3_reset(stmt);
    return fail("query");
}

bool RegistryStore::Impl::exec(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    sqlite3_free(message);
    return fail("statement");
}

bool RegistryStore::Impl::fail(const char* what)
{
    const int rc = sqlite3_extended_errcode(m_db);
    const std::string name = m_file.string();
    switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return failWith("the configuration store " + name + " is locked by another process (waited " +
                        std::to_string(m_busyTimeoutMs) + " ms)");
    case SQLITE_READONLY:
        return failWith("the configuration store " + name + " is read-only");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return failWith("the configuration store " + name + " is damaged: " + sqlite3_errmsg(m_db));
    default:
        return failWith("the configuration store " + name + ": " + what + " failed: " +
                        sqlite3_errmsg(m_db));
    }
}

bool RegistryStore::Impl::failWith(const std::string& message)
{
    t_lastError = message;
    return false;
}

template <typename Work>
auto RegistryStore::Impl::read(Work&& work) -> decltype(work())
{
    std::lock_guard lock(m_mutex);
    if (m_depth > 0)
        return work();
    if (!exec("BEGIN"))
        return decltype(work()){};
    ++m_depth;
    auto result = work();
    --m_depth;
    exec("COMMIT");
    m_resolved.clear();
    return result;
}

bool RegistryStore::Impl::write(const std::function<bool()>& work)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return failWith(m_openError);
    if (m_readOnly)
        return failWith("the configuration store " + m_file.string() + " is read-only");
    const bool outermost = m_depth == 0;
    const std::string savepoint = "s" + std::to_string(m_depth);
    if (!exec(outermost ? "BEGIN IMMEDIATE" : ("SAVEPOINT " + savepoint).c_str()))
        return false;
    ++m_depth;
    bool ok = work();
    --m_depth;
    if (outermost) {
        if (ok && !exec("COMMIT")) {
            const std::string error = t_lastError;
            ok = false;
            t_lastError = error;
        }
        if (!ok)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        m_resolved.clear();
    } else {
        if (!ok) {
            const std::string error = t_lastError;
            m_resolved.clear();
            exec(("ROLLBACK TO " + savepoint).c_str());
            t_lastError = error;
        }
        exec(("RELEASE " + savepoint).c_str());
    }
    return ok;
}

RegistryStore::Impl::Query::Query(Impl& impl, const char* sql) : m_impl(impl), m_stmt(impl.statement(sql))
{
    m_failed = m_stmt == nullptr;
}

RegistryStore::Impl::Query::~Query()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

RegistryStore::Impl::Query& RegistryStore::Impl::Query::bind(int index, sqlite3_int64 value)
{
    if (m_stmt)
        sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

RegistryStore::Impl::Query& RegistryStore::Impl::Query::bind(int index, std::string_view text)
{
    if (m_stmt)
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

RegistryStore::Impl::Query& RegistryStore::Impl::Query::bind(int index, const Bytes& blob)
{
    // A zero-length blob must still be a blob, not NULL.
    static const std::uint8_t empty = 0;
    if (m_stmt)
        sqlite3_bind_blob(m_stmt, index, blob.empty() ? &empty : blob.data(),
                          static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    return *this;
}

bool RegistryStore::Impl::Query::next()
{
    if (!m_stmt || m_failed)
        return false;
    bool hasRow = false;
    m_failed = !m_impl.step(m_stmt, hasRow);
    return hasRow;
}

bool RegistryStore::Impl::Query::run()
{
    next();
    return !m_failed;
}

std::string RegistryStore::Impl::Query::text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
}

Bytes RegistryStore::Impl::Query::blob(int column) const
{
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(m_stmt, column));
    return Bytes(data, data + sqlite3_column_bytes(m_stmt, column));
}

std::optional<sqlite3_int64> RegistryStore::Impl::findChild(sqlite3_int64 parent,
                                                            const std::string& name)
{
    Query query(*this, kFindChild);
    query.bind(1, parent).bind(2, foldCase(name));
    if (!query.next())
        return std::nullopt;
    return query.integer(0);
}

std::optional<sqlite3_int64> RegistryStore::Impl::createChild(sqlite3_int64 parent,
                                                              const std::string& name)
{
    Query query(*this, kInsertChild);
    query.bind(1, parent).bind(2, name).bind(3, foldCase(name));
    if (!query.run())
        return std::nullopt;
    return sqlite3_last_insert_rowid(m_db);
}

std::optional<sqlite3_int64> RegistryStore::Impl::resolve(const std::string& keyPath, bool create)
{
    const bool cached = m_depth > 0;
    sqlite3_int64 id = kRootKey;
    std::string path;
    for (const std::string& part : splitKeyPath(keyPath)) {
        path += '\\';
        path += part;
        if (cached) {
            if (const auto found = m_resolved.find(path); found != m_resolved.end()) {
                id = found->second;
                continue;
            }
        }
        std::optional<sqlite3_int64> child = findChild(id, part);
        if (!child && create)
            child = createChild(id, part);
        if (!child)
            return std::nullopt;
        id = *child;
        if (cached)
            m_resolved.emplace(path, id);
    }
    return id;
}

std::optional<RegistryValue> RegistryStore::Impl::readValue(sqlite3_int64 key,
                                                            const std::string& name, bool& ok)
{
    Query query(*this, kGetValue);
    query.bind(1, key).bind(2, foldCase(name));
    std::optional<RegistryValue> value;
    if (query.next())
        value = RegistryValue{static_cast<RegType>(query.integer(0)), query.blob(1)};
    ok = !query.failed();
    return value;
}

bool RegistryStore::Impl::writeValue(sqlite3_int64 key, const std::string& name,
                                     const RegistryValue& value)
{
    Query query(*this, kSetValue);
    query.bind(1, key).bind(2, name).bind(3, foldCase(name));
    query.bind(4, static_cast<sqlite3_int64>(value.type)).bind(5, value.data);
    return query.run();
}

bool RegistryStore::Impl::copyTree(sqlite3_int64 from, sqlite3_int64 to)
{
    if (!Query(*this, kCopyValues).bind(1, from).bind(2, to).run())
        return false;

    std::vector<std::pair<sqlite3_int64, std::string>> children;
    {
        Query list(*this, kListChildren);
        list.bind(1, from);
        while (list.next())
            children.emplace_back(list.integer(0), list.text(1));
        if (list.failed())
            return false;
    }
    for (const auto& [childId, name] : children) {
        std::optional<sqlite3_int64> target = findChild(to, name);
        if (!target)
            target = createChild(to, name);
        if (!target || !copyTree(childId, *target))
            return false;
    }
    return true;
}

RegistryStore::RegistryStore(std::filesystem::path file) : m_impl(std::make_unique<Impl>(std::move(file)))
{
    if (!m_impl->open())
        m_impl->closeConnection();
}

RegistryStore::~RegistryStore() = default;

bool RegistryStore::isOpen() const { return m_impl->m_db != nullptr; }
bool RegistryStore::isReadOnly() const { return m_impl->m_readOnly; }
const std::string& RegistryStore::openError() const { return m_impl->m_openError; }
const std::filesystem::path& RegistryStore::file() const { return m_impl->m_file; }

void RegistryStore::setBusyTimeout(int ms)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_busyTimeoutMs = ms;
    if (m_impl->m_db)
        sqlite3_busy_timeout(m_impl->m_db, ms);
}

std::string RegistryStore::lastError() { return t_lastError; }

bool RegistryStore::keyExists(const std::string& keyPath)
{
    if (!isOpen())
        return m_impl->failWith(m_impl->m_openError);
    return m_impl->read([&] { return m_impl->resolve(keyPath, false).has_value(); });
}

std::optional<RegistryValue> RegistryStore::getValue(const std::string& keyPath,
                                                     const std::string& name)
{
    if (!isOpen())
        return m_impl->failWith(m_impl->m_openError), std::nullopt;
    return m_impl->read([&]() -> std::optional<RegistryValue> {
        const auto key = m_impl->resolve(keyPath, false);
        if (!key)
            return std::nullopt;
        bool ok = false;
        return m_impl->readValue(*key, name, ok);
    });
}

std::vector<std::string> RegistryStore::subKeys(const std::string& keyPath)
{
    if (!isOpen())
        return m_impl->failWith(m_impl->m_openError), std::vector<std::string>{};
    return m_impl->read([&] {
        std::vector<std::string> names;
        const auto key = m_impl->resolve(keyPath, false);
        if (!key)
            return names;
        Impl::Query query(*m_impl, kListChildren);
        query.bind(1, *key);
        while (query.next())
            names.push_back(query.text(1));
        return names;
    });
}

std::vector<NamedValue> RegistryStore::values(const std::string& keyPath)
{
    if (!isOpen())
        return m_impl->failWith(m_impl->m_openError), std::vector<NamedValue>{};
    return m_impl->read([&] {
        std::vector<NamedValue> result;
        const auto key = m_impl->resolve(keyPath, false);
        if (!key)
            return result;
        Impl::Query query(*m_impl, kListValues);
        query.bind(1, *key);
        while (query.next())
            result.push_back({query.text(0), {static_cast<RegType>(query.integer(1)), query.blob(2)}});
        return result;
    });
}

bool RegistryStore::createKey(const std::string& keyPath)
{
    return m_impl->write([&] { return m_impl->resolve(keyPath, true).has_value(); });
}

bool RegistryStore::setValue(const std::string& keyPath, const std::string& name,
                             const RegistryValue& value)
{
    return m_impl->write([&] {
        const auto key = m_impl->resolve(keyPath, true);
        return key && m_impl->writeValue(*key, name, value);
    });
}

std::optional<RegistryValue> RegistryStore::getOrSetDefault(const std::string& keyPath,
                                                            const std::string& name,
                                                            const RegistryValue& defaultValue)
{
    // The usual case, a value that exists, needs no write lock.
    if (auto value = getValue(keyPath, name))
        return value;
    if (!isOpen())
        return std::nullopt;
    std::optional<RegistryValue> result;
    const bool ok = m_impl->write([&] {
        const auto key = m_impl->resolve(keyPath, true);
        if (!key)
            return false;
        bool readOk = false;
        result = m_impl->readValue(*key, name, readOk);
        if (!readOk)
            return false;
        if (result)
            return true;
        result = defaultValue;
        return m_impl->writeValue(*key, name, defaultValue);
    });
    if (!ok)
        return std::nullopt;
    return result;
}

bool RegistryStore::deleteValue(const std::string& keyPath, const std::string& name)
{
    return m_impl->write([&] {
        const auto key = m_impl->resolve(keyPath, false);
        return !key || Impl::Query(*m_impl, kDeleteValue).bind(1, *key).bind(2, foldCase(name)).run();
    });
}

bool RegistryStore::deleteKey(const std::string& keyPath)
{
    if (splitKeyPath(keyPath).empty())
        return m_impl->failWith("the root of the configuration store cannot be deleted");
    return m_impl->write([&] {
        const auto key = m_impl->resolve(keyPath, false);
        if (!key)
            return true;
        m_impl->m_resolved.clear();
        return Impl::Query(*m_impl, kDeleteSubtreeValues).bind(1, *key).run() &&
               Impl::Query(*m_impl, kDeleteSubtreeKeys).bind(1, *key).run();
    });
}

bool RegistryStore::copyKey(const std::string& fromPath, const std::string& toPath)
{
    std::vector<std::string> from = splitKeyPath(fromPath);
    std::vector<std::string> to = splitKeyPath(toPath);
    const bool inside = to.size() >= from.size() &&
                        std::equal(from.begin(), from.end(), to.begin(),
                                   [](const std::string& a, const std::string& b) {
                                       return equalsIgnoreCase(a, b);
                                   });
    if (inside)
        return m_impl->failWith("a key cannot be copied into itself: " + fromPath + " to " + toPath);
    return m_impl->write([&] {
        const auto source = m_impl->resolve(fromPath, false);
        if (!source)
            return m_impl->failWith("the key " + fromPath + " does not exist");
        const auto target = m_impl->resolve(toPath, true);
        return target && m_impl->copyTree(*source, *target);
    });
}

bool RegistryStore::transaction(const std::function<bool()>& work)
{
    return m_impl->write(work);
}

bool RegistryStore::snapshot(const std::function<bool()>& work)
{
    if (!isOpen())
        return m_impl->failWith(m_impl->m_openError);
    return m_impl->read([&] { return work(); });
}

}  // namespace peltra::platform
