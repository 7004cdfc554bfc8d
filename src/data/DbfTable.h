// A dBase table (.dbf): reads records by number or in sequence, writes fields in place, appends,
// marks deleted, packs, and creates new tables. dBase III/IV/7, FoxPro and Visual FoxPro headers.
#pragma once

#include "data/DbfCodePage.h"
#include "data/DbfMemo.h"
#include "data/DbfStorage.h"
#include "data/DbfTypes.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::data {

// File layout read and written here:
//
//   header   32 bytes: version, last update (YY-1900 MM DD), record count (u32 LE),
//            header length (u16), record length (u16), ..., language driver at 29
//   fields   32 bytes each (48 in dBase 7 tables), then 0x0D; FoxPro puts 263 more bytes after it
//   records  at header length, record length bytes each: the deleted flag (' ' or '*'), then the
//            fields in order
//   0x1A     end-of-file mark
//
// The record count is that of the header, cut to the records that the file really holds. Records
// are fixed-size, so a record keeps its number until the table is packed.
//
// A table whose header does not fit its file (fields that do not fill the record, a count of
// records the file does not hold, records that do not begin with a deleted flag, a memo file that
// is missing) is read as far as it goes, with damage() saying why, and is never written: every
// change is refused until the table is repaired, since writing by a wrong layout ruins records.
//
// M fields read as the text of their memo (DbfMemo) in the table's code page; a write stores the
// text as a new memo. Visual FoxPro's I, Y, B and T fields read and write as their binary values,
// NULL as zeros with the field's bit set in _NullFlags.
//
// Other programs read and write these tables while the station does, so every change is made in
// place with positional writes of just the bytes that change: a field update writes the changed
// bytes of one record, an append writes the record and the end mark before it raises the header's
// count (a reader at any moment sees a table whose counted records are all there), and pack
// writes a new file and renames it over the old one. Nothing truncates a table in place except
// the undoing of an append that failed. When a write fails, the bytes it changed are put back.
// Writers among the station's own processes are serialised by an advisory lock.
//
// One object is used by one thread at a time.
class DbfTable {
public:
    struct Options {
        bool writable = false;
        std::optional<unsigned> codePage;               // overrides the language-driver byte
        std::optional<unsigned> unmarkedCodePage = {};  // for a table without one, instead of judging its text
    };

    // Opens a table file. Nothing when it cannot be opened or its header is unsound; error says
    // "Table "<file name>": <fault>".
    static std::unique_ptr<DbfTable> open(const std::filesystem::path& path, const Options& options,
                                          std::string* error = nullptr);
    // Opens a table over any storage (memory for fuzzing and tests). Pack needs a file.
    static std::unique_ptr<DbfTable> openStorage(std::unique_ptr<DbfStorage> storage, std::string name,
                                                 const Options& options, std::string* error = nullptr);

    // Creates an empty dBase III table with the fields and the code page's language driver. Fails
    // when the file exists (unless overwrite), a field is unsound, or the file cannot be written;
    // nothing is left behind on failure.
    static bool create(const std::filesystem::path& path, const std::vector<DbfFieldSpec>& fields,
                       unsigned codePage, bool overwrite = false, std::string* error = nullptr);
    // The bytes of an empty table with these fields, as create writes them.
    static std::optional<std::string> emptyTableBytes(const std::vector<DbfFieldSpec>& fields, unsigned codePage,
                                                      DbfDate today, std::string* error = nullptr);

    ~DbfTable();
    DbfTable(const DbfTable&) = delete;
    DbfTable& operator=(const DbfTable&) = delete;

    const std::string& name() const { return m_name; }
    std::uint8_t version() const { return m_version; }
    std::uint8_t languageDriver() const { return m_languageDriver; }
    unsigned codePage() const { return m_codePage->number(); }
    DbfDate lastUpdate() const { return m_lastUpdate; }
    std::uint32_t headerLength() const { return m_headerLength; }
    std::uint32_t recordLength() const { return m_recordLength; }
    bool isWritable() const { return m_writable; }

    // Records really present, and the count the header claims (more when the file was cut short).
    std::uint32_t recordCount() const { return m_recordCount; }
    std::uint32_t declaredRecordCount() const { return m_declaredCount; }

    // Why the table does not fit its file and will not be changed; empty for a sound table.
    const std::string& damage() const { return m_damage; }

    const std::vector<DbfField>& fields() const { return m_fields; }
    // The field of that name, compared without regard to ASCII case.
    std::optional<std::size_t> fieldIndex(std::string_view name) const;

    // Re-reads the record count from the file (other programs may have appended).
    bool refresh(std::string* error = nullptr);

    // Reads one record's bytes (record length, starting with the deleted flag).
    bool readRecord(std::uint32_t index, std::string& bytes, std::string* error = nullptr) const;
    // Reads up to count records starting at first into bytes; fewer when the table ends.
    bool readRecords(std::uint32_t first, std::uint32_t count, std::string& bytes, std::string* error = nullptr) const;

    // Decoding of a record's bytes as read above.
    static bool isDeleted(std::string_view record) { return !record.empty() && record[0] == '*'; }
    DbfValue value(std::string_view record, std::size_t field) const;
    void value(std::string_view record, std::size_t field, DbfValue& out) const;  // reuses out's buffer
    std::string_view rawField(std::string_view record, std::size_t field) const;

    // The stored bytes of a value for a field: text in the table's code page padded with blanks,
    // numbers right-aligned with the field's decimals, dates YYYYMMDD, NULL as blanks. Fails when
    // the value does not fit or is not of the field's kind.
    bool encode(std::size_t field, const DbfValue& value, std::string& bytes, std::string* error = nullptr) const;

    // Whether the table may be changed: opened for writing and not damaged; error says why not.
    bool checkWritable(std::string* error) const;

    // Writes the given fields of one record in place; nothing is written unless every value fits.
    bool update(std::uint32_t index, const DbfFieldValues& values, std::string* error = nullptr);
    // Appends a record with the given fields (others blank); index receives its number.
    bool append(const DbfFieldValues& values, std::uint32_t* index = nullptr, std::string* error = nullptr);
    // Sets or clears the deleted flag.
    bool setDeleted(std::uint32_t index, bool deleted, std::string* error = nullptr);
    // Rewrites the table without its deleted records (new file beside it, renamed over); removed
    // receives how many went. Record numbers change. File tables only.
    bool pack(std::string* error = nullptr, std::uint32_t* removed = nullptr);

    // The date written as "last update"; today's local date unless a test sets a clock.
    void setClock(std::function<DbfDate()> today) { m_today = std::move(today); }

    // Changes with every write and refresh, so cursors know to read again.
    std::uint64_t generation() const { return m_generation; }

private:
    DbfTable() = default;
    // A memo text waiting to be stored, in the table's code page.
    struct PendingMemo {
        std::size_t field;
        std::string bytes;
    };

    bool load(std::string& fault);
    void attachMemo();
    bool assess(std::uint64_t fileSize, std::string& fault);
    bool fail(std::string* error, const std::string& fault) const;
    bool checkIndex(std::uint32_t index, std::string* error);
    bool isVisualFoxPro() const;
    bool emptyRecord(std::string& record, std::string* error) const;
    void setNull(std::string& record, const DbfField& field, bool null) const;
    bool encodeAll(const DbfFieldValues& values, std::string& record, std::vector<PendingMemo>& memos,
                   std::string* error) const;
    bool storeMemos(const std::vector<PendingMemo>& memos, std::string& record, std::string* error);
    bool readMemo(std::string_view pointer, const DbfField& field, DbfValue& out) const;
    bool writeRecordSpan(std::uint32_t index, const std::string& before, const std::string& after, std::string* error);
    DbfDate today() const;

    std::unique_ptr<DbfStorage> m_storage;
    std::filesystem::path m_path;  // empty for tables not in a file
    std::string m_name;
    std::optional<unsigned> m_forcedCodePage;
    std::optional<unsigned> m_unmarkedCodePage;
    bool m_writable = false;
    std::uint8_t m_version = 0;
    std::uint8_t m_languageDriver = 0;
    std::shared_ptr<const DbfCodePage> m_codePage;
    DbfDate m_lastUpdate;
    std::uint32_t m_headerLength = 0;
    std::uint32_t m_recordLength = 0;
    std::uint32_t m_recordCount = 0;
    std::uint32_t m_declaredCount = 0;
    std::vector<DbfField> m_fields;
    std::optional<std::size_t> m_nullFlags;  // the _NullFlags field
    std::unique_ptr<DbfMemo> m_memo;
    std::string m_headerDamage;  // what the header itself gets wrong
    std::string m_damage;
    std::function<DbfDate()> m_today;
    std::uint64_t m_generation = 0;
};

// Walks a table's records in order, or jumps to any record number, reading blocks of records so that
// a scan costs one read per block and memory stays at one block whatever the table's size.
class DbfCursor {
public:
    explicit DbfCursor(const DbfTable& table, std::size_t blockBytes = 64 * 1024);

    // Moves to a record; false past the end (error stays empty) or when the read failed (error set).
    bool seek(std::uint32_t index, std::string* error = nullptr);
    // Moves to the next record (the first one on the first call).
    bool next(std::string* error = nullptr);

    std::uint32_t index() const { return m_index; }
    std::string_view record() const;
    bool isDeleted() const { return DbfTable::isDeleted(record()); }
    DbfValue value(std::size_t field) const { return m_table.value(record(), field); }
    void value(std::size_t field, DbfValue& out) const { m_table.value(record(), field, out); }

private:
    const DbfTable& m_table;
    std::uint32_t m_blockRecords;
    std::string m_block;
    std::uint32_t m_blockFirst = 0;
    std::uint32_t m_blockCount = 0;
    std::uint64_t m_blockGeneration = 0;
    std::uint32_t m_index = 0;
    bool m_started = false;
};

}  // namespace peltra::data
