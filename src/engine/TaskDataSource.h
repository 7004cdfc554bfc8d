// The row source of a running task: the selection over the task's table, the next row to call
// (new rows, rows due for a repeat, rows out on lines), the restart point, and the write-back of
// each call's outcome into the row, with the copy of notified rows into an archive table.
#pragma once

#include "config/ConfigStore.h"
#include "config/Operator.h"
#include "data/Connection.h"
#include "data/Query.h"
#include "speech/Patterns.h"
#include "speech/PhraseList.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
// The beginnings of the remark a result that was not written leaves.
inline constexpr char kResultNotWritten[] = "Результат не записан";
inline constexpr char kResultDelayed[] = "Результат ждёт записи";
inline constexpr char kArchiveNotWritten[] = "Строка не скопирована в архив";

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
// deleted by another program since the selection is never called by mistake. A result is written
// only into a row that still holds the number that was called (found again by the number when
// another program has packed the table); a result the table refuses stops the task with the
// table's own words in its last error; a result kept from the table by another program's writer
// lock waits and is tried again, so that the thread that writes it never waits long.
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
    // Hands out the next row to call: 0 with out filled, 1 when there is nothing now. A row whose
    // number inCallElsewhere names (in a call on another task's line) is passed over for now.
    int nextRow(HandOut& out, const std::function<bool(std::string_view number)>& inCallElsewhere = {});
    // Takes changed RetryMinute and MaxAttempts at once, without selecting the rows again; a
    // finished task may then open again (a higher limit leaves rows to call).
    void setRedialLimits(std::uint32_t retryMinute, std::uint32_t maxAttempts);
    // Writes a call's outcome into its row and frees the row.
    void writeResult(long long row, OutcomeKind kind);
    // Tries again the results a busy table kept back; true when some was settled.
    bool retryResults();
    // No more rows are handed out; the rows close once no row is out on a line and no result
    // waits to be written.
    void requestStop();
    // Gives up the results still waiting (at shutdown), naming them in the last error.
    void abandonResults();
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
    std::size_t resultsWaiting() const { return m_waiting.size(); }
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
        std::int32_t proba = 0;        // PROBA: the attempts made
        // CLOCK while DATA is NULL: the time of day of the last failed attempt; -1 when none
        std::int32_t failedClock = -1;
        // The last failed attempt of this run, as local seconds since 1970; -1 when none
        std::int64_t failedAt = -1;
        bool gone = false;             // deleted, or no longer selected
    };
    struct ActiveRow {
        long long record = 0;
        std::size_t position = 0;
        std::string phone;  // the number called: the row must still hold it when the result comes
    };
    // A result to write, with the moment of the call's end (DATA and CLOCK tell that moment,
    // however late the table lets the result in).
    struct Result {
        ActiveRow row;
        OutcomeKind kind = OutcomeKind::Error;
        std::time_t when = 0;
    };
    enum class Written { Yes, Busy, Refused, RowGone };
    class RowQuery;

    void close();
    bool fail(const std::string& error);
    // Opens the connection on the definition's table; the error text when it cannot.
    const char* attach();
    // The template expanded against the row a call is made for.
    void speak(RowQuery& row, speech::PhraseList& phrases);
    std::string columnList() const;
    bool loadTemplate();
    // Whether the row is to be called now; sets seenNew / seenRepeat as the lap's findings.
    bool isDue(const RowState& row, std::time_t now, bool& seenNew, bool& seenRepeat) const;
    // Whether RetryMinute has passed since the row's last failed attempt.
    bool retryDue(const RowState& row, std::int64_t nowSecond) const;
    // The bookkeeping columns of a row as the selection or a fresh read gives them.
    void readState(RowState& row, data::Query& query, int repeatColumn) const;
    // Reads the row afresh and refreshes its state; false when it is gone or unreadable.
    bool refresh(RowState& row, RowQuery& query);
    Written write(Result& result);
    // The record that holds the number now: the one called, or the only one holding the number.
    std::optional<long long> findRow(const ActiveRow& row, std::string& error);
    // Sets the remark of a result that was not written; a refusal also stops the hand-out.
    void noteFailure(const Result& result, Written how, const std::string& why);
    void closeIfStopped();
    bool archive(long long record, const std::string& file, std::string& error);
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
    bool m_refused = false;   // the table refused a result: no row is handed out until a restart
    bool m_reselect = false;  // another program packed the table: the record numbers are stale
    std::vector<RowState> m_rows;
    std::size_t m_position = 0;
    std::vector<ActiveRow> m_rowsOut;
    std::vector<Result> m_waiting;  // results a busy table kept back, oldest first
    // The largest values PROBA, OTBOJ and the repeat field can hold.
    double m_probaLimit = 0;
    double m_otbojLimit = 0;
    double m_repeatLimit = 0;
    long long m_recordCount = 0;
    unsigned m_notified = 0;
    std::string m_lastError;
};

}  // namespace peltra::engine
