// The SQL engine of a connection: table references, the front end, SQL functions and the authorizer.
#include "data/SqlEngine.h"

#include "data/Functions.h"
#include "platform/text/CaseFold.h"
#include "platform/text/Utf8.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <system_error>

namespace peltra::data {
namespace {

namespace fs = std::filesystem;

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isWordChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
}

bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (isSpace(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && (isSpace(s.back()) || s.back() == ';'))
        s.remove_suffix(1);
    return s;
}

unsigned long long inodeOf(const fs::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return static_cast<unsigned long long>(st.st_ino) ^ (static_cast<unsigned long long>(st.st_dev) << 40);
}

// Words after which a FROM list's table name is not followed by an alias.
bool isClauseWord(const std::string& w)
{
    static const char* const kWords[] = {"WHERE", "ORDER", "GROUP", "HAVING", "LIMIT", "JOIN", "LEFT", "RIGHT",
                                         "INNER", "OUTER", "CROSS", "NATURAL", "FULL", "ON", "USING", "UNION",
                                         "EXCEPT", "INTERSECT", "SET", "VALUES", "SELECT", "DEFAULT", "WINDOW",
                                         "RETURNING", "INDEXED", "NOT", "OFFSET"};
    return std::any_of(std::begin(kWords), std::end(kWords), [&](const char* k) { return w == k; });
}

// Skips blanks and comments from pos.
std::size_t skipSpace(std::string_view s, std::size_t pos)
{
    for (;;) {
        while (pos < s.size() && isSpace(s[pos]))
            ++pos;
        if (s.substr(pos, 2) == "--") {
            while (pos < s.size() && s[pos] != '\n')
                ++pos;
        } else if (s.substr(pos, 2) == "/*") {
            const auto end = s.find("*/", pos + 2);
            pos = end == std::string_view::npos ? s.size() : end + 2;
        } else {
            return pos;
        }
    }
}

// The end of a quoted token starting at pos (its closing quote included).
std::size_t skipQuoted(std::string_view s, std::size_t pos)
{
    const char open = s[pos];
    const char close = open == '[' ? ']' : open;
    std::size_t i = pos + 1;
    while (i < s.size()) {
        if (s[i] == close) {
            if (close != ']' && i + 1 < s.size() && s[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return s.size();
}

std::string unquote(std::string_view token)
{
    if (token.size() >= 2 && (token[0] == '"' || token[0] == '`' || token[0] == '[')) {
        const char close = token[0] == '[' ? ']' : token[0];
        std::string out;
        for (std::size_t i = 1; i + 1 < token.size(); ++i) {
            out += token[i];
            if (token[i] == close && close != ']' && i + 2 < token.size() && token[i + 1] == close)
                ++i;
        }
        return out;
    }
    return std::string(token);
}

// A table reference at pos: a quoted name, or everything up to a blank or one of ",();".
std::size_t referenceEnd(std::string_view s, std::size_t pos)
{
    if (pos >= s.size())
        return pos;
    if (s[pos] == '"' || s[pos] == '`' || s[pos] == '[')
        return skipQuoted(s, pos);
    std::size_t i = pos;
    while (i < s.size() && !isSpace(s[i]) && std::strchr(",();", s[i]) == nullptr)
        ++i;
    return i;
}

// Code points of the case-folded text; bytes that are not UTF-8 stand for themselves.
std::u32string foldedCodePoints(std::string_view text)
{
    const std::string folded = platform::foldCase(text);
    std::u32string out;
    out.reserve(folded.size());
    for (std::size_t i = 0; i < folded.size();) {
        char32_t cp = 0;
        const std::size_t n = platform::decodeUtf8(folded, i, cp);
        if (n == 0) {
            out += static_cast<char32_t>(0xDC00 + static_cast<unsigned char>(folded[i]));
            ++i;
        } else {
            out += cp;
            i += n;
        }
    }
    return out;
}

// LIKE with '%' and '_' over code points, the escape character taking the next one literally.
bool likeMatch(const std::u32string& pattern, const std::u32string& text, std::optional<char32_t> escape)
{
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starP = std::u32string::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && escape && pattern[p] == *escape && p + 1 < pattern.size()) {
            if (pattern[p + 1] == text[t]) {
                p += 2;
                ++t;
                continue;
            }
        } else if (p < pattern.size() && pattern[p] == U'%') {
            starP = p++;
            starT = t;
            continue;
        } else if (p < pattern.size() && (pattern[p] == U'_' || pattern[p] == text[t])) {
            ++p;
            ++t;
            continue;
        }
        if (starP == std::u32string::npos)
            return false;
        p = starP + 1;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == U'%')
        ++p;
    return p == pattern.size();
}

// like(pattern, text [, escape]): X LIKE Y without regard to letter case, Cyrillic included.
void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
    auto text = [](sqlite3_value* v) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
        return std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
    };
    std::optional<char32_t> escape;
    if (argc == 3) {
        const std::u32string e = foldedCodePoints(text(argv[2]));
        if (e.size() != 1)
            return sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
        escape = e[0];
    }
    sqlite3_result_int(ctx, likeMatch(foldedCodePoints(text(argv[0])), foldedCodePoints(text(argv[1])), escape) ? 1 : 0);
}

// TODAY(): the local date as 'YYYY-MM-DD', the form date fields read in.
void todayFunction(sqlite3_context* ctx, int, sqlite3_value**)
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    sqlite3_result_text(ctx, buffer, -1, SQLITE_TRANSIENT);
}

SqlFailure dbFailure(sqlite3* db)
{
    return {sqlite3_extended_errcode(db), sqlite3_errmsg(db)};
}

// Restores a flag on leaving a scope.
class FlagScope {
public:
    FlagScope(bool& flag, bool value) : m_flag(flag), m_old(flag) { m_flag = value; }
    ~FlagScope() { m_flag = m_old; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
    bool m_old;
};

// One field of "CREATE TABLE x.dbf (NAME type(w,d), ...)".
bool parseFieldDefinition(std::string_view text, DbfFieldSpec& definedField, std::string& error)
{
    text = trim(text);
    std::size_t i = 0;
    while (i < text.size() && !isSpace(text[i]) && text[i] != '(')
        ++i;
    definedField.name = unquote(text.substr(0, i));
    std::string_view rest = trim(text.substr(i));
    std::size_t j = 0;
    while (j < rest.size() && std::isalpha(static_cast<unsigned char>(rest[j])))
        ++j;
    const std::string type = upper(rest.substr(0, j));
    std::string_view sizes = trim(rest.substr(j));
    std::vector<int> numbers;
    if (!sizes.empty()) {
        if (sizes.front() != '(' || sizes.back() != ')') {
            error = "field " + definedField.name + ": cannot read \"" + std::string(rest) + "\"";
            return false;
        }
        std::string inner(sizes.substr(1, sizes.size() - 2));
        std::size_t pos = 0;
        while (pos <= inner.size()) {
            const auto comma = inner.find(',', pos);
            const std::string part(trim(std::string_view(inner).substr(pos, comma == std::string::npos ? std::string::npos : comma - pos)));
            if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 5) {
                error = "field " + definedField.name + ": \"" + std::string(sizes) + "\" is not a size";
                return false;
            }
            numbers.push_back(std::stoi(part));
            if (comma == std::string::npos)
                break;
            pos = comma + 1;
        }
        if (numbers.size() > 2) {
            error = "field " + definedField.name + ": \"" + std::string(sizes) + "\" is not a size";
            return false;
        }
    }
    const int first = numbers.empty() ? -1 : numbers[0];
    const int second = numbers.size() > 1 ? numbers[1] : 0;
    if (type == "NUMERIC" || type == "NUMBER" || type == "NUM" || type == "DECIMAL" || type == "N") {
        definedField.type = 'N';
        // numeric(p,s) counts digits; the field also holds the decimal point.
        definedField.length = first < 0 ? 10 : (second > 0 ? first + 1 : first);
        definedField.decimals = second;
    } else if (type == "FLOAT" || type == "DOUBLE" || type == "F") {
        definedField.type = 'F';
        definedField.length = first < 0 ? 20 : (second > 0 ? first + 1 : first);
        definedField.decimals = first < 0 ? 5 : second;
    } else if (type == "CHAR" || type == "CHARACTER" || type == "VARCHAR" || type == "TEXT" || type == "C") {
        definedField.type = 'C';
        definedField.length = first < 0 ? 1 : first;
        definedField.decimals = 0;
    } else if (type == "DATE" || type == "D") {
        definedField.type = 'D';
        definedField.length = 8;
        definedField.decimals = 0;
    } else if (type == "LOGICAL" || type == "BOOLEAN" || type == "BIT" || type == "L") {
        definedField.type = 'L';
        definedField.length = 1;
        definedField.decimals = 0;
    } else {
        error = "field " + definedField.name + ": unknown type \"" + std::string(rest.substr(0, j)) + "\"";
        return false;
    }
    return true;
}

}  // namespace

SqlEngine::SqlEngine() = default;

SqlEngine::~SqlEngine()
{
    close();
}

bool SqlEngine::open(SqlFailure& failure)
{
    if (m_db)
        return true;
    const int rc = sqlite3_open_v2(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        failure = {rc, m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc)};
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    int ok = registerDbfModule(m_db, this);
    if (ok == SQLITE_OK)
        ok = sqlite3_create_function(m_db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, likeFunction,
                                     nullptr, nullptr);
    if (ok == SQLITE_OK)
        ok = sqlite3_create_function(m_db, "like", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, likeFunction,
                                     nullptr, nullptr);
    if (ok == SQLITE_OK)
        ok = sqlite3_create_function(m_db, "today", 0, SQLITE_UTF8, nullptr, todayFunction, nullptr, nullptr);
    if (ok == SQLITE_OK)
        ok = sqlite3_set_authorizer(m_db, &SqlEngine::authorize, this);
    if (ok != SQLITE_OK) {
        failure = dbFailure(m_db);
        close();
        return false;
    }
    return true;
}

void SqlEngine::close()
{
    if (!m_db)
        return;
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_tables.clear();
}

void SqlEngine::setQualifier(std::filesystem::path folder)
{
    m_qualifier = std::move(folder);
}

std::filesystem::path SqlEngine::pathFor(std::string_view reference) const
{
    fs::path path(unquote(reference));
    if (path.is_relative() && !m_qualifier.empty())
        path = m_qualifier / path;
    return path;
}

std::optional<std::filesystem::path> SqlEngine::resolveTable(std::string_view reference) const
{
    if (reference.empty())
        return std::nullopt;
    const fs::path path = pathFor(reference);
    std::vector<fs::path> candidates {path};
    if (lower(path.extension().string()) != ".dbf")
        candidates.push_back(fs::path(path.string() + ".dbf"));
    std::error_code ec;
    for (const fs::path& candidate : candidates) {
        if (fs::is_regular_file(candidate, ec))
            return fs::weakly_canonical(candidate, ec);
    }
    // Names are matched without regard to case, as the station's tables come from Windows.
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    for (const fs::path& candidate : candidates) {
        const std::string wanted = platform::foldCase(candidate.filename().string());
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->is_regular_file(ec) && platform::foldCase(it->path().filename().string()) == wanted)
                return fs::weakly_canonical(it->path(), ec);
        }
    }
    return std::nullopt;
}

std::shared_ptr<DbfTable> SqlEngine::dbfTable(std::string_view key, std::string& error)
{
    const auto it = m_tables.find(std::string(key));
    if (it == m_tables.end()) {
        error = "no table is registered as \"" + std::string(key) + "\"";
        return nullptr;
    }
    return it->second.table;
}

void SqlEngine::unreadableCell(const DbfTable& table, std::uint32_t record, std::size_t field)
{
    // Bounded, so that a long-running connection that never asks keeps no growing list.
    constexpr std::size_t kMaxCells = 100000;
    Unreadable& u = m_unreadable[table.name()];
    if (u.cells.size() >= kMaxCells)
        return;
    if (u.cells.insert(std::uint64_t(record) << 16 | (field & 0xFFFF)).second && u.first.empty())
        u.first = "field " + table.fields()[field].name + " of record " + std::to_string(record + 1);
}

std::vector<std::string> SqlEngine::takeWarnings()
{
    std::vector<std::string> warnings;
    warnings.swap(m_warnings);
    for (const auto& [name, u] : m_unreadable) {
        const std::size_t n = u.cells.size();
        warnings.push_back("Table \"" + name + "\": " + std::to_string(n) + (n == 1 ? " value does" : " values do")
                           + " not read as its field's type (such as the overflow mark ******) and "
                           + (n == 1 ? "is" : "are") + " taken as NULL; the first: " + u.first);
    }
    m_unreadable.clear();
    return warnings;
}

bool SqlEngine::runInternal(const std::string& sql, SqlFailure& failure)
{
    FlagScope scope(m_internal, true);
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        failure = {sqlite3_extended_errcode(m_db), message ? message : sqlite3_errstr(rc)};
        sqlite3_free(message);
        return false;
    }
    return true;
}

std::optional<std::string> SqlEngine::ensureTable(const std::filesystem::path& path, SqlFailure& failure)
{
    const unsigned long long inode = inodeOf(path);
    for (auto it = m_tables.begin(); it != m_tables.end(); ++it) {
        if (it->second.path != path)
            continue;
        if (it->second.inode == inode && it->second.unmarkedCodePage == m_unmarkedCodePage)
            return it->first;
        // The file was replaced by another program, or is to be read in another code page: read it afresh.
        SqlFailure ignored;
        if (!runInternal("DROP TABLE main." + Functions::quotedName(it->first), ignored))
            return it->first;
        m_tables.erase(it);
        break;
    }
    std::string stem = lower(path.stem().string());
    if (stem.empty())
        stem = "t";
    std::string name = stem;
    for (int n = 2; m_tables.count(name) != 0; ++n)
        name = stem + "_" + std::to_string(n);

    DbfTable::Options options;
    options.writable = true;
    options.unmarkedCodePage = m_unmarkedCodePage;
    std::string error;
    auto table = DbfTable::open(path, options, &error);
    if (!table) {
        // A table we may not write is still readable; writes then fail as statements.
        options.writable = false;
        std::string readError;
        table = DbfTable::open(path, options, &readError);
        if (!table) {
            failure = {SQLITE_CANTOPEN, readError};
            return std::nullopt;
        }
    }
    if (!table->damage().empty())
        m_warnings.push_back("Table \"" + table->name() + "\": " + table->damage()
                             + "; it is read as far as it goes and will not be changed");
    m_tables[name] = Entry {path, std::shared_ptr<DbfTable>(std::move(table)), inode, m_unmarkedCodePage};
    if (!runInternal("CREATE VIRTUAL TABLE main." + Functions::quotedName(name) + " USING dbf(" + Functions::quotedName(name) + ")",
                     failure)) {
        m_tables.erase(name);
        return std::nullopt;
    }
    return name;
}

std::shared_ptr<DbfTable> SqlEngine::table(std::string_view reference, SqlFailure& failure)
{
    const auto path = resolveTable(reference);
    if (!path) {
        failure = {SQLITE_ERROR, "no such table: " + std::string(reference)};
        return nullptr;
    }
    const auto name = ensureTable(*path, failure);
    if (!name)
        return nullptr;
    return m_tables[*name].table;
}

bool SqlEngine::rewriteStatement(std::string_view sql, Rewritten& out, SqlFailure& failure)
{
    struct Replacement {
        std::size_t begin;
        std::size_t end;
        std::string text;
    };
    std::vector<Replacement> replacements;
    out = {};
    std::size_t pos = 0;
    bool firstWord = true;
    int depth = 0;  // of parentheses: 0 is the outer statement, more is inside a subquery

    // Reads one reference at pos (and, in a FROM list, its alias); false on a failure.
    auto reference = [&](bool fromList, bool& more) -> bool {
        more = false;
        pos = skipSpace(sql, pos);
        const std::size_t end = referenceEnd(sql, pos);
        if (depth == 0 && pos < sql.size() && (end != pos || sql[pos] == '('))
            ++out.outerSources;
        if (end == pos || sql[pos] == '(')
            return true;
        const std::string_view token = sql.substr(pos, end - pos);
        std::string vtab;
        if (const auto path = resolveTable(token)) {
            const auto name = ensureTable(*path, failure);
            if (!name)
                return false;
            vtab = *name;
            replacements.push_back({pos, end, Functions::quotedName(vtab)});
        } else {
            // A table named earlier from another folder must not stand in for a missing file.
            const std::string name = unquote(token);
            if (m_tables.count(lower(name)) != 0) {
                failure = {SQLITE_ERROR, "no such table: " + name};
                return false;
            }
        }
        pos = end;
        std::string alias = vtab.empty() ? std::string() : Functions::quotedName(vtab);
        if (fromList) {
            std::size_t p = skipSpace(sql, pos);
            std::size_t e = p;
            if (p < sql.size() && (sql[p] == '"' || sql[p] == '`' || sql[p] == '['))
                e = skipQuoted(sql, p);
            else
                while (e < sql.size() && isWordChar(sql[e]))
                    ++e;
            std::string word = upper(sql.substr(p, e - p));
            if (word == "AS") {
                p = skipSpace(sql, e);
                e = p;
                if (p < sql.size() && (sql[p] == '"' || sql[p] == '`' || sql[p] == '['))
                    e = skipQuoted(sql, p);
                else
                    while (e < sql.size() && isWordChar(sql[e]))
                        ++e;
                word = upper(sql.substr(p, e - p));
            }
            if (e > p && !isClauseWord(word)) {
                alias = std::string(sql.substr(p, e - p));
                pos = e;
            }
            p = skipSpace(sql, pos);
            if (p < sql.size() && sql[p] == ',') {
                pos = p + 1;
                more = true;
            }
        }
        if (depth == 0 && out.outerAlias.empty())
            out.outerAlias = alias;
        return true;
    };

    while (pos < sql.size()) {
        pos = skipSpace(sql, pos);
        if (pos >= sql.size())
            break;
        const char c = sql[pos];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            pos = skipQuoted(sql, pos);
            firstWord = false;
            continue;
        }
        if (!isWordChar(c)) {
            ++pos;
            if (c == '(')
                ++depth;
            else if (c == ')' && depth > 0)
                --depth;
            if (c == ';') {
                std::size_t p = skipSpace(sql, pos);
                while (p < sql.size() && sql[p] == ';')
                    p = skipSpace(sql, p + 1);
                out.severalStatements = out.severalStatements || p < sql.size();
            }
            continue;
        }
        const std::size_t start = pos;
        while (pos < sql.size() && isWordChar(sql[pos]))
            ++pos;
        const std::string word = upper(sql.substr(start, pos - start));
        if (firstWord) {
            out.firstKeyword = word;
            out.firstKeywordEnd = pos;
            firstWord = false;
        }
        // The condition editor's negated LIKE, kept in filter texts as the editor shows it.
        if (word == "NOTLIKE")
            replacements.push_back({start, pos, "NOT LIKE"});
        if (depth == 0 &&
            (word == "GROUP" || word == "DISTINCT" || word == "UNION" || word == "EXCEPT" || word == "INTERSECT"))
            out.groupedOrMerged = true;
        if (word == "FROM" || word == "JOIN" || word == "UPDATE" || word == "INTO") {
            bool more = true;
            while (more)
                if (!reference(word == "FROM", more))
                    return false;
        }
    }
    out.text = std::string(sql);
    for (auto it = replacements.rbegin(); it != replacements.rend(); ++it)
        out.text.replace(it->begin, it->end - it->begin, it->text);
    return true;
}

bool SqlEngine::frontEnd(std::string_view sql, bool& handled, SqlFailure& failure, long long* changes)
{
    handled = false;
    const std::string_view text = trim(sql);
    auto wordAt = [&](std::size_t& pos) {
        pos = skipSpace(text, pos);
        const std::size_t start = pos;
        while (pos < text.size() && isWordChar(text[pos]))
            ++pos;
        return upper(text.substr(start, pos - start));
    };
    std::size_t pos = 0;
    const std::string first = wordAt(pos);
    if (first == "PACK") {
        handled = true;
        return packTable(trim(text.substr(pos)), failure, changes);
    }
    if (first != "CREATE" && first != "DROP")
        return true;
    std::size_t after = pos;
    if (wordAt(after) != "TABLE")
        return true;
    handled = true;
    if (changes)
        *changes = 0;
    if (first == "DROP") {
        std::size_t p = after;
        bool ifExists = false;
        if (wordAt(p) == "IF" && wordAt(p) == "EXISTS") {
            after = p;
            ifExists = true;
        }
        const std::string_view reference = trim(text.substr(after));
        if (ifExists && !resolveTable(reference))
            return true;
        return dropTable(reference, failure);
    }
    const std::size_t refStart = skipSpace(text, after);
    std::size_t refEnd = referenceEnd(text, refStart);
    const std::string_view reference = text.substr(refStart, refEnd - refStart);
    const std::size_t open = skipSpace(text, refEnd);
    if (reference.empty() || open >= text.size() || text[open] != '(' || text.back() != ')') {
        failure = {SQLITE_ERROR, "syntax error: CREATE TABLE name (FIELD type, ...) expected"};
        return false;
    }
    return createTable(reference, text.substr(open + 1, text.size() - open - 2), failure);
}

bool SqlEngine::createTable(std::string_view reference, std::string_view definition, SqlFailure& failure)
{
    fs::path path = pathFor(reference);
    if (lower(path.extension().string()) != ".dbf")
        path += ".dbf";
    std::vector<DbfFieldSpec> fields;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= definition.size(); ++i) {
        if (i < definition.size() && definition[i] == '(')
            ++depth;
        else if (i < definition.size() && definition[i] == ')')
            --depth;
        else if (i == definition.size() || (definition[i] == ',' && depth == 0)) {
            DbfFieldSpec definedField;
            std::string error;
            if (!parseFieldDefinition(definition.substr(start, i - start), definedField, error)) {
                failure = {SQLITE_ERROR, "syntax error: " + error};
                return false;
            }
            fields.push_back(definedField);
            start = i + 1;
        }
    }
    std::error_code ec;
    if (fs::exists(path, ec) || resolveTable(path.string())) {
        failure = {SQLITE_ERROR, "table " + path.filename().string() + " already exists"};
        return false;
    }
    std::string error;
    if (!DbfTable::create(path, fields, 866, false, &error)) {
        failure = {SQLITE_CANTOPEN, error};
        return false;
    }
    return true;
}

bool SqlEngine::dropTable(std::string_view reference, SqlFailure& failure)
{
    const auto path = resolveTable(reference);
    if (!path) {
        failure = {SQLITE_ERROR, "no such table: " + std::string(reference)};
        return false;
    }
    for (auto it = m_tables.begin(); it != m_tables.end(); ++it) {
        if (it->second.path == *path) {
            if (!runInternal("DROP TABLE main." + Functions::quotedName(it->first), failure))
                return false;
            m_tables.erase(it);
            break;
        }
    }
    std::error_code ec;
    if (!fs::remove(*path, ec)) {
        failure = {SQLITE_IOERR_DELETE, "cannot delete \"" + path->string() + "\": " + ec.message()};
        return false;
    }
    return true;
}

bool SqlEngine::packTable(std::string_view reference, SqlFailure& failure, long long* changes)
{
    const auto path = resolveTable(reference);
    if (!path) {
        failure = {SQLITE_ERROR, "no such table: " + std::string(reference)};
        return false;
    }
    const auto name = ensureTable(*path, failure);
    if (!name)
        return false;
    Entry& entry = m_tables[*name];
    std::string error;
    std::uint32_t removed = 0;
    if (!entry.table->pack(&error, &removed)) {
        failure = {entry.table->isWritable() ? SQLITE_IOERR : SQLITE_READONLY, error};
        return false;
    }
    if (changes)
        *changes = removed;
    entry.inode = inodeOf(entry.path);
    return true;
}

bool SqlEngine::prepare(std::string_view sql, sqlite3_stmt** statement, SqlFailure& failure, bool rowidColumn,
                        bool* withRowid, long long* changes)
{
    *statement = nullptr;
    if (withRowid)
        *withRowid = false;
    if (!m_db) {
        failure = {SQLITE_MISUSE, "the connection is not open"};
        return false;
    }
    bool handled = false;
    if (!frontEnd(sql, handled, failure, changes))
        return false;
    if (handled)
        return true;
    Rewritten rewritten;
    if (!rewriteStatement(sql, rewritten, failure))
        return false;
    if (rewritten.severalStatements) {
        failure = {SQLITE_ERROR, "syntax error: only one statement can be run at a time"};
        return false;
    }
    std::string text = rewritten.text;
    const bool isSelect = rewritten.firstKeyword == "SELECT";
    // Only rows that are records of one table carry its rowid: not those of a join or a subquery
    // in FROM, nor grouped or merged ones. Tables read by subqueries elsewhere do not count.
    if (rowidColumn && isSelect && rewritten.outerSources == 1 && !rewritten.groupedOrMerged
        && !rewritten.outerAlias.empty()) {
        text.insert(rewritten.firstKeywordEnd, " " + rewritten.outerAlias + ".rowid,");
        if (withRowid)
            *withRowid = true;
    }
    FlagScope readOnly(m_readOnlyStatement, isSelect || rewritten.firstKeyword == "VALUES");
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, text.c_str(), static_cast<int>(text.size()), statement, &tail);
    if (rc != SQLITE_OK) {
        failure = dbFailure(m_db);
        sqlite3_finalize(*statement);
        *statement = nullptr;
        return false;
    }
    const std::string_view rest(tail ? tail : "");
    std::size_t p = skipSpace(rest, 0);
    while (p < rest.size() && rest[p] == ';')
        p = skipSpace(rest, p + 1);
    if (p < rest.size()) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
        failure = {SQLITE_ERROR, "syntax error: only one statement can be run at a time"};
        return false;
    }
    if (!*statement) {
        failure = {SQLITE_ERROR, "syntax error: the statement is empty"};
        return false;
    }
    return true;
}

bool SqlEngine::execute(std::string_view sql, SqlFailure& failure, long long* changes)
{
    sqlite3_stmt* statement = nullptr;
    if (changes)
        *changes = 0;
    if (!prepare(sql, &statement, failure, false, nullptr, changes))
        return false;
    if (!statement)
        return true;
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW)
        rc = sqlite3_step(statement);
    bool ok = rc == SQLITE_DONE;
    if (!ok)
        failure = dbFailure(m_db);
    else if (changes && !sqlite3_stmt_readonly(statement))
        *changes = sqlite3_changes64(m_db);
    sqlite3_finalize(statement);
    return ok;
}

std::optional<long long> SqlEngine::countRows(std::string_view sql, SqlFailure& failure)
{
    Rewritten rewritten;
    if (!rewriteStatement(sql, rewritten, failure))
        return std::nullopt;
    if (rewritten.firstKeyword != "SELECT" && rewritten.firstKeyword != "VALUES") {
        failure = {SQLITE_MISUSE, "only a SELECT yields rows to count"};
        return std::nullopt;
    }
    std::string text(trim(rewritten.text));
    text = "SELECT count(*) FROM (" + text + "\n)";
    FlagScope readOnly(m_readOnlyStatement, true);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, text.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        failure = dbFailure(m_db);
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    std::optional<long long> count;
    if (sqlite3_step(statement) == SQLITE_ROW)
        count = sqlite3_column_int64(statement, 0);
    else
        failure = dbFailure(m_db);
    sqlite3_finalize(statement);
    return count;
}

// Statements may read and write the connection's .dbf tables and nothing else; the engine's own
// statements (making and dropping virtual tables) pass while m_internal is set.
int SqlEngine::authorize(void* self, int action, const char* a1, const char* a2, const char*, const char*)
{
    auto* engine = static_cast<SqlEngine*>(self);
    if (engine->m_internal)
        return SQLITE_OK;
    auto ours = [&](const char* table) { return table && engine->m_tables.count(lower(table)) != 0; };
    switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_PRAGMA:
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_INDEX:
    case SQLITE_DROP_TEMP_TABLE:
    case SQLITE_DROP_TEMP_TRIGGER:
    case SQLITE_DROP_TEMP_VIEW:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_VIEW:
    case SQLITE_DROP_VTABLE:
    case SQLITE_ALTER_TABLE:
    case SQLITE_REINDEX:
    case SQLITE_ANALYZE: return SQLITE_DENY;
    case SQLITE_FUNCTION: return a2 && lower(a2) == "load_extension" ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE: return engine->m_readOnlyStatement || !ours(a1) ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_READ: return a1 && lower(a1).rfind("sqlite_", 0) == 0 ? SQLITE_DENY : SQLITE_OK;
    default: return SQLITE_OK;
    }
}

}  // namespace peltra::data
