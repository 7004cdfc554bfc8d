// The row source of a running task: the selection over the task's table, the next row to call
// (new rows, rows due for a repeat, rows out on lines), the restart point, and the write-back of
// each call's outcome into the row, with the copy of notified rows into an archive table.
#pragma once

#include "config/ConfigStore.h"
#include "config/Operator.h"
#include "data/Connection.h"
#include "speech/Patterns.h"
#include "speech/PhraseList.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace peltra::engine {

// What a call's outcome does to its row.
enum class OutcomeKind : int {
    Notified = 0,    // PROBA + 1, DATA and CLOCK set: the row is done (or due for a repeat)
    NoAnswer = 1,    // PROBA + 1
    HungUp = 2,      // PROBA + 1, OTBOJ + 1
    Error = 3,       // nothing written
    LocalPhone = 4,  // a local-phone call without result writing: nothing written
};

// The error texts a task shows.
inline constexpr char kFileNotFound[] = "Не найден файл";
inline constexpr char kQueryFailed[] = "Ошибка выполнения запроса";
inline constexpr char kFieldMissing[] = "Отсутствует необходимое поле";
inline constexpr char kCountUnknown[] = "Невозможно определить количество записей";

// A row handed to a line.
struct HandOut {
    long long row = 0;           // the row's record number in the table
    std::string definitionPath;  // binding, backslash, task
    std::string phone;           // TELEF as text, blanks trimmed
    speech::PhraseList phrases;  // the template spoken for the row
};

// The source keeps, for every row the selection found, only what the choice of the next row
// needs (record number, DATA, CLOCK and the repeat count), so a table of a million rows costs a
// few tens of megabytes; each row handed out is read afresh from the table, so a row changed or
// deleted by another program since the selection is never called by mistake.
//
// Not thread-safe: the active task calls it under its own lock.
class TaskDataSource {
public:
    // The store gives the template and takes the restart point (Phonelast).
    explicit TaskDataSource(config::ConfigStore& store);
    ~TaskDataSource();
    TaskDataSource(const TaskDataSource&) = delete;
    TaskDataSource& operator=(const TaskDataSource&) = delete;

    // The settings copied from the definition; takes effect at the next open.
    void setDefinition(const config::TaskDefinition& definition);
    const config::TaskDefinition& definition() const { return m_definition; }
    // What the clock says; the tests turn it.
    void setClock(std::function<std::time_t()> clock) { m_clock = std::move(clock); }

    // Runs the selection. True when the rows are ready, or when there is nothing to call (then
    // exhausted and closed); false with the error text when it failed, or at once while
    // exhausted.
    bool open();
    // Hands out the next row to call: 0 with out filled, 1 when there is nothing now.
    int nextRow(HandOut& out);
    // Writes a call's outcome into its row and frees the row.
    void writeResult(long long row, OutcomeKind kind);
    // No more rows are handed out; the rows close once no row is out on a line.
    void requestStop();
    // What a call to the table's record would speak, read and expanded as nextRow does, whether
    // or not the selection would call it now; false with the reason when the template's table or
    // the record cannot be read. For a source that is not open.
    bool speakRecord(long long record, speech::PhraseList& phrases, std::string& error);
    // Clears the stopping and exhausted flags, for a restart with new settings.
    void clearFlags();

    bool isOpen() const { return m_open; }
    bool stopping() const { return m_stopping; }
    bool exhausted() const { return m_exhausted; }
    std::size_t rowsOut() const { return m_rowsOut.size(); }
    long long recordCount() const { return m_recordCount; }
    unsigned notified() const { return m_notified; }
    const std::string& lastError() const { return m_lastError; }
    // The selection as it was last built.
    const std::string& statement() const { return m_statement; }
    std::string definitionPath() const { return m_definition.binding + "\\" + m_definition.task; }

private:
    // What the choice of the next row needs of one row.
    struct RowState {
        long long record = 0;
        std::int32_t dataDay = -1;     // DATA as days since 1970-01-01; -1 while NULL
        std::int32_t clockSecond = 0;  // CLOCK as seconds after midnight
        std::int32_t repeatCount = 0;  // the repeat field's value
        bool gone = false;             // deleted, or no longer selected
    };
    struct ActiveRow {
        long long record = 0;
        std::size_t position = 0;
    };
    class RowQuery;

    void close();
    bool fail(const char* error);
    // Opens the connection on the definition's table; the error text when it cannot.
    const char* attach();
    // The template expanded against the row a call is made for.
    void speak(RowQuery& row, speech::PhraseList& phrases);
    std::string columnList() const;
    bool loadTemplate();
    // Whether the row is to be called now; sets seenNew / seenRepeat as the lap's findings.
    bool isDue(const RowState& row, std::time_t now, bool& seenNew, bool& seenRepeat) const;
    // Reads the row afresh and refreshes its state; false when it is gone or unreadable.
    bool refresh(RowState& row, RowQuery& query);
    void archive(long long record);
    bool connectTo(data::Connection& connection, const std::string& folder);

    config::ConfigStore& m_store;
    config::TaskDefinition m_definition;
    std::function<std::time_t()> m_clock;

    std::vector<speech::PatternItem> m_items;
    std::unique_ptr<speech::Patterns> m_patterns;
    std::string m_table;   // the table name: the file's name without extension
    std::string m_folder;  // and its folder
    std::string m_statement;
    std::unique_ptr<data::Connection> m_connection;

    bool m_open = false;
    bool m_stopping = false;
    bool m_exhausted = false;
    std::vector<RowState> m_rows;
    std::size_t m_position = 0;
    std::vector<ActiveRow> m_rowsOut;
    long long m_recordCount = 0;
    unsigned m_notified = 0;
    std::string m_lastError;
};

}  // namespace peltra::engine
