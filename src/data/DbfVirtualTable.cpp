// The "dbf" virtual-table module: a table object and a cursor object over DbfTable and DbfCursor.
#include "data/DbfVirtualTable.h"

#include "data/DbfStorage.h"
#include "data/Functions.h"

#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace peltra::data {
namespace {

// How to take back one change of a statement that failed later on.
struct Undo {
    enum class Kind { Update, Append, Delete } kind;
    std::uint32_t index;
    DbfFieldValues old;  // Update: the fields' values before
};

struct DbfVtab {
    sqlite3_vtab base;  // first, as SQLite expects
    std::shared_ptr<DbfTable> table;
    DbfTableSource* source;
    std::vector<Undo> undo;  // changes of the running statement, newest last
};

struct DbfVtabCursor {
    sqlite3_vtab_cursor base;  // first, as SQLite expects
    std::unique_ptr<DbfCursor> cursor;
    bool eof = true;
    bool single = false;  // a rowid look-up: one row at most
    DbfValue value;  // reused buffer of xColumn
};

// Index plans chosen by xBestIndex.
constexpr int kFullScan = 0;
constexpr int kByRowid = 1;

void setError(sqlite3_vtab* vtab, const std::string& message)
{
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_mprintf("%s", message.c_str());
}

// xCreate and xConnect: the table is already registered with the source under argv[3].
int dbfConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** errMsg)
{
    if (argc < 4) {
        *errMsg = sqlite3_mprintf("dbf: the table key is missing");
        return SQLITE_ERROR;
    }
    std::string key = argv[3];
    if (key.size() >= 2 && (key.front() == '\'' || key.front() == '"'))
        key = key.substr(1, key.size() - 2);
    std::string error;
    auto table = static_cast<DbfTableSource*>(aux)->dbfTable(key, error);
    if (!table) {
        *errMsg = sqlite3_mprintf("%s", error.c_str());
        return SQLITE_ERROR;
    }
    std::string schema = "CREATE TABLE x(";
    bool first = true;
    for (const DbfField& field : table->fields()) {
        if (!first)
            schema += ", ";
        first = false;
        schema += Functions::quotedName(field.name);
        // Visual FoxPro's _NullFlags is the codec's own bookkeeping: not in SELECT * nor written.
        schema += field.type == '0' ? " HIDDEN " : " ";
        schema += sqlTypeOfField(field);
    }
    schema += ')';
    const int rc = sqlite3_declare_vtab(db, schema.c_str());
    if (rc != SQLITE_OK) {
        *errMsg = sqlite3_mprintf("dbf: the fields of \"%s\" cannot be declared: %s", key.c_str(), sqlite3_errmsg(db));
        return rc;
    }
    auto* vtab = new DbfVtab {};
    vtab->table = std::move(table);
    vtab->source = static_cast<DbfTableSource*>(aux);
    *out = &vtab->base;
    return SQLITE_OK;
}

// xDisconnect and xDestroy: the file stays; DROP TABLE of a file is the engine's business.
int dbfDisconnect(sqlite3_vtab* vtab)
{
    delete reinterpret_cast<DbfVtab*>(vtab);
    return SQLITE_OK;
}

// xBestIndex: rowid equality reads one record; anything else is a full scan in record order.
int dbfBestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info)
{
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.usable && c.iColumn == -1 && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            info->idxNum = kByRowid;
            info->estimatedCost = 1;
            info->estimatedRows = 1;
            info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
            return SQLITE_OK;
        }
    }
    const auto rows = reinterpret_cast<DbfVtab*>(vtab)->table->recordCount();
    info->idxNum = kFullScan;
    info->estimatedCost = 10.0 + rows;
    info->estimatedRows = rows;
    return SQLITE_OK;
}

int dbfOpen(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out)
{
    auto* cursor = new DbfVtabCursor {};
    cursor->cursor = std::make_unique<DbfCursor>(*reinterpret_cast<DbfVtab*>(vtab)->table);
    *out = &cursor->base;
    return SQLITE_OK;
}

int dbfClose(sqlite3_vtab_cursor* cursor)
{
    delete reinterpret_cast<DbfVtabCursor*>(cursor);
    return SQLITE_OK;
}

// Moves to the next record that is not deleted; eof at the end.
int advance(DbfVtabCursor* c)
{
    std::string error;
    while (c->cursor->next(&error)) {
        if (!c->cursor->isDeleted())
            return SQLITE_OK;
    }
    c->eof = true;
    if (!error.empty()) {
        setError(c->base.pVtab, error);
        return SQLITE_IOERR;
    }
    return SQLITE_OK;
}

// xFilter: starts a scan, or positions on the one record the rowid names.
int dbfFilter(sqlite3_vtab_cursor* cursor, int idxNum, const char*, int argc, sqlite3_value** argv)
{
    auto* c = reinterpret_cast<DbfVtabCursor*>(cursor);
    auto* vtab = reinterpret_cast<DbfVtab*>(cursor->pVtab);
    std::string error;
    // Other programs may have appended since the last statement.
    if (!vtab->table->refresh(&error)) {
        setError(cursor->pVtab, error);
        return SQLITE_IOERR;
    }
    c->cursor = std::make_unique<DbfCursor>(*vtab->table);
    c->eof = false;
    c->single = idxNum == kByRowid;
    if (idxNum == kByRowid && argc == 1) {
        c->eof = true;
        if (sqlite3_value_numeric_type(argv[0]) != SQLITE_INTEGER)
            return SQLITE_OK;
        const sqlite3_int64 rowid = sqlite3_value_int64(argv[0]);
        if (rowid < 1 || rowid > vtab->table->recordCount())
            return SQLITE_OK;
        if (!c->cursor->seek(static_cast<std::uint32_t>(rowid - 1), &error)) {
            if (error.empty())
                return SQLITE_OK;
            setError(cursor->pVtab, error);
            return SQLITE_IOERR;
        }
        c->eof = c->cursor->isDeleted();
        return SQLITE_OK;
    }
    return advance(c);
}

int dbfNext(sqlite3_vtab_cursor* cursor)
{
    auto* c = reinterpret_cast<DbfVtabCursor*>(cursor);
    if (c->single)
        c->eof = true;
    if (c->eof)
        return SQLITE_OK;
    return advance(c);
}

int dbfEof(sqlite3_vtab_cursor* cursor)
{
    auto* c = reinterpret_cast<DbfVtabCursor*>(cursor);
    return c->eof ? 1 : 0;
}

// Fields whose content, when it does not read as the type, is given as NULL rather than as its bytes.
bool nullWhenUnreadable(const DbfTable& table, const DbfField& field)
{
    const bool visualFoxPro = table.version() >= 0x30 && table.version() <= 0x32;
    return field.type == 'N' || field.type == 'F' || field.type == 'M'
        || (visualFoxPro && (field.type == 'I' || field.type == 'Y' || field.type == 'B' || field.type == 'T'));
}

// xColumn: the decoded value in the column's SQL type; nothing for a column an UPDATE leaves alone,
// so that xUpdate writes only the fields that were set.
int dbfColumn(sqlite3_vtab_cursor* cursor, sqlite3_context* ctx, int column)
{
    if (sqlite3_vtab_nochange(ctx))
        return SQLITE_OK;
    auto* c = reinterpret_cast<DbfVtabCursor*>(cursor);
    const auto& table = *reinterpret_cast<DbfVtab*>(cursor->pVtab)->table;
    if (column < 0 || static_cast<std::size_t>(column) >= table.fields().size()) {
        sqlite3_result_null(ctx);
        return SQLITE_OK;
    }
    const DbfField& field = table.fields()[static_cast<std::size_t>(column)];
    c->cursor->value(static_cast<std::size_t>(column), c->value);
    const DbfValue& v = c->value;
    switch (v.kind) {
    case DbfValue::Kind::Null: sqlite3_result_null(ctx); break;
    case DbfValue::Kind::Text:
        sqlite3_result_text(ctx, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
        break;
    case DbfValue::Kind::Number:
        if (field.decimals == 0 && std::fabs(v.number) < 9.0e18 && v.number == std::trunc(v.number))
            sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(v.number));
        else
            sqlite3_result_double(ctx, v.number);
        break;
    case DbfValue::Kind::Date: {
        const std::string text = v.date.text();
        sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    case DbfValue::Kind::Logical: sqlite3_result_int(ctx, v.logical ? 1 : 0); break;
    case DbfValue::Kind::Raw: {
        if (nullWhenUnreadable(table, field)) {
            reinterpret_cast<DbfVtab*>(cursor->pVtab)->source->unreadableCell(table, c->cursor->index(),
                                                                              static_cast<std::size_t>(column));
            sqlite3_result_null(ctx);
            break;
        }
        std::string_view raw = v.text;
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0'))
            raw.remove_suffix(1);
        sqlite3_result_text(ctx, raw.data(), static_cast<int>(raw.size()), SQLITE_TRANSIENT);
        break;
    }
    }
    return SQLITE_OK;
}

int dbfRowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid)
{
    *rowid = static_cast<sqlite3_int64>(reinterpret_cast<DbfVtabCursor*>(cursor)->cursor->index()) + 1;
    return SQLITE_OK;
}

// An SQL value as the codec takes it for a field. Texts go through the codec's own parsing
// (numbers, dates as YYYY-MM-DD, YYYY/MM/DD or YYYYMMDD, logicals as T F Y N ?).
DbfValue toDbfValue(const DbfField& field, sqlite3_value* value)
{
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL: return DbfValue::null();
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        if (field.type == 'L')
            return DbfValue::ofLogical(sqlite3_value_double(value) != 0);
        if (field.type == 'C' && sqlite3_value_type(value) == SQLITE_INTEGER)
            return DbfValue::ofText(std::to_string(sqlite3_value_int64(value)));
        return DbfValue::ofNumber(sqlite3_value_double(value));
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        std::string s(text ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(value)));
        if (field.type == 'L' && (s == "1" || s == "0"))
            return DbfValue::ofLogical(s == "1");
        return DbfValue::ofText(std::move(s));
    }
    }
}

// xUpdate: DELETE marks the record deleted, INSERT appends, UPDATE writes the fields that were set
// in place. A value that does not fit fails the statement with the codec's text and leaves the
// record as it was.
int dbfUpdate(sqlite3_vtab* vtab, int argc, sqlite3_value** argv, sqlite3_int64* rowid)
{
    auto& table = *reinterpret_cast<DbfVtab*>(vtab)->table;
    std::string error;
    const int failCode = table.isWritable() ? SQLITE_ERROR : SQLITE_READONLY;
    auto fail = [&] {
        setError(vtab, error);
        // Another program's writer lock is a passing state: the caller may try again.
        return error.find(kWritersLockBusy) != std::string::npos ? SQLITE_BUSY : failCode;
    };
    auto& undo = reinterpret_cast<DbfVtab*>(vtab)->undo;
    if (argc == 1) {
        const sqlite3_int64 old = sqlite3_value_int64(argv[0]);
        if (old < 1 || !table.setDeleted(static_cast<std::uint32_t>(old - 1), true, &error))
            return fail();
        undo.push_back({Undo::Kind::Delete, static_cast<std::uint32_t>(old - 1), {}});
        return SQLITE_OK;
    }
    const auto& fields = table.fields();
    if (argc != static_cast<int>(fields.size()) + 2) {
        setError(vtab, "dbf: unexpected number of values");
        return SQLITE_ERROR;
    }
    DbfFieldValues values;
    const bool inserting = sqlite3_value_type(argv[0]) == SQLITE_NULL;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        sqlite3_value* v = argv[i + 2];
        if (fields[i].type == '0' || (!inserting && sqlite3_value_nochange(v)))
            continue;
        if (inserting && sqlite3_value_type(v) == SQLITE_NULL)
            continue;
        values.emplace_back(i, toDbfValue(fields[i], v));
    }
    if (inserting) {
        if (sqlite3_value_type(argv[1]) != SQLITE_NULL) {
            setError(vtab, "a record number cannot be chosen: new records go to the end of the table");
            return SQLITE_ERROR;
        }
        std::uint32_t index = 0;
        if (!table.append(values, &index, &error))
            return fail();
        undo.push_back({Undo::Kind::Append, index, {}});
        *rowid = static_cast<sqlite3_int64>(index) + 1;
        return SQLITE_OK;
    }
    const sqlite3_int64 old = sqlite3_value_int64(argv[0]);
    if (sqlite3_value_int64(argv[1]) != old) {
        setError(vtab, "record numbers cannot be changed");
        return SQLITE_ERROR;
    }
    if (old < 1)
        return fail();
    const auto index = static_cast<std::uint32_t>(old - 1);
    std::string record;
    if (!table.readRecord(index, record, &error))
        return fail();
    Undo before {Undo::Kind::Update, index, {}};
    for (const auto& [field, value] : values)
        before.old.emplace_back(field, table.value(record, field));
    if (!table.update(index, values, &error))
        return fail();
    undo.push_back(std::move(before));
    return SQLITE_OK;
}

// xBegin: every write statement starts with an empty undo list; a table that may not be changed
// refuses the statement before any row is looked at.
int dbfBegin(sqlite3_vtab* vtab)
{
    auto* v = reinterpret_cast<DbfVtab*>(vtab);
    v->undo.clear();
    std::string error;
    if (!v->table->checkWritable(&error)) {
        setError(vtab, error);
        return v->table->isWritable() ? SQLITE_ERROR : SQLITE_READONLY;
    }
    return SQLITE_OK;
}

int dbfSync(sqlite3_vtab*)
{
    return SQLITE_OK;
}

// xCommit: the changes are in the file already.
int dbfCommit(sqlite3_vtab* vtab)
{
    reinterpret_cast<DbfVtab*>(vtab)->undo.clear();
    return SQLITE_OK;
}

// xRollback: a statement failed part-way; the records it changed get their values back, records
// it appended are marked deleted (an append cannot be taken out while others may read the file)
// and records it deleted are undeleted.
int dbfRollback(sqlite3_vtab* vtab)
{
    auto* v = reinterpret_cast<DbfVtab*>(vtab);
    int rc = SQLITE_OK;
    std::string error;
    for (auto it = v->undo.rbegin(); it != v->undo.rend(); ++it) {
        bool ok = true;
        switch (it->kind) {
        case Undo::Kind::Update: ok = v->table->update(it->index, it->old, &error); break;
        case Undo::Kind::Append: ok = v->table->setDeleted(it->index, true, &error); break;
        case Undo::Kind::Delete: ok = v->table->setDeleted(it->index, false, &error); break;
        }
        if (!ok) {
            setError(vtab, "the changes could not all be taken back: " + error);
            rc = SQLITE_IOERR;
        }
    }
    v->undo.clear();
    return rc;
}

const sqlite3_module kDbfModule = {
    /* iVersion */ 2,
    /* xCreate */ dbfConnect,
    /* xConnect */ dbfConnect,
    /* xBestIndex */ dbfBestIndex,
    /* xDisconnect */ dbfDisconnect,
    /* xDestroy */ dbfDisconnect,
    /* xOpen */ dbfOpen,
    /* xClose */ dbfClose,
    /* xFilter */ dbfFilter,
    /* xNext */ dbfNext,
    /* xEof */ dbfEof,
    /* xColumn */ dbfColumn,
    /* xRowid */ dbfRowid,
    /* xUpdate */ dbfUpdate,
    /* xBegin */ dbfBegin,
    /* xSync */ dbfSync,
    /* xCommit */ dbfCommit,
    /* xRollback */ dbfRollback,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
#if SQLITE_VERSION_NUMBER >= 3044000
    /* xIntegrity */ nullptr,
#endif
};

}  // namespace

std::string sqlTypeOfField(const DbfField& field)
{
    switch (field.type) {
    case 'N':
    case 'F':
        if (field.decimals == 0)
            return "INTEGER";
        return "REAL(" + std::to_string(field.length) + "," + std::to_string(field.decimals) + ")";
    case 'L':
    case 'I': return "INTEGER";
    case 'Y':
    case 'B': return field.length == 8 ? "REAL" : "TEXT";
    default: return "TEXT";
    }
}

int registerDbfModule(sqlite3* db, DbfTableSource* source)
{
    return sqlite3_create_module_v2(db, "dbf", &kDbfModule, source, nullptr);
}

}  // namespace peltra::data
