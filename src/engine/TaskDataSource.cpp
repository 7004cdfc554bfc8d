// The task data source: selection, hand-out, write-back and archive copy.
#include "engine/TaskDataSource.h"

#include "data/DbfStorage.h"
#include "data/Functions.h"
#include "data/Query.h"
#include "data/SourceCheck.h"
#include "platform/text/CaseFold.h"
#include "platform/text/Trim.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

namespace peltra::engine {

namespace fs = std::filesystem;

namespace {

// Columns of the selection, in the order the statement names them.
constexpr int kTelef = 1;
constexpr int kProba = 2;
constexpr int kOtboj = 3;
constexpr int kData = 4;
constexpr int kClock = 5;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int32_t daysFromCivil(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct LocalNow {
    std::tm parts{};
    std::int32_t day = 0;     // today as days since 1970-01-01
    std::int64_t second = 0;  // local seconds since 1970-01-01 00:00
};

LocalNow localNow(std::time_t when)
{
    LocalNow now;
    localtime_r(&when, &now.parts);
    now.day = daysFromCivil(now.parts.tm_year + 1900, now.parts.tm_mon + 1, now.parts.tm_mday);
    now.second = std::int64_t{now.day} * 86400 + now.parts.tm_hour * 3600 + now.parts.tm_min * 60 + now.parts.tm_sec;
    return now;
}

// "HH:MM:SS" as seconds after midnight; nothing when it is not a time.
std::optional<std::int32_t> timeOfDay(const std::string& text)
{
    unsigned h = 0, m = 0, s = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u", &h, &m, &s) != 3 || h > 23 || m > 59 || s > 59)
        return std::nullopt;
    return static_cast<std::int32_t>(h * 3600 + m * 60 + s);
}

std::string formatWhole(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
    return buffer;
}

// A sort value as the restart point keeps it: the shortest text that reads back as the number.
std::string formatNumber(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

bool isNumericType(const std::string& type) { return type == "N" || type == "F"; }

// How long a result waits for another program's writer lock before it is kept for a later try:
// the controller thread, which writes it, serves every line meanwhile.
constexpr std::chrono::milliseconds kResultLockWait{100};

// The largest whole number a column holds: 999 for N(3,0), 99 for N(5,2); no limit for a
// column that is not numeric.
double largestWhole(const data::ColumnInfo& column)
{
    if (column.dbfType != 'N' && column.dbfType != 'F')
        return std::numeric_limits<double>::max();
    const int taken = column.decimals > 0 ? column.decimals + 1 : 0;
    return std::pow(10.0, std::max(column.length - taken, 0)) - 1;
}

// The text of a statement's failure: its last error record.
std::string failureText(data::Connection& connection)
{
    const std::vector<data::OdbcError> errors = connection.takeErrors();
    return errors.empty() ? std::string("неизвестная ошибка") : errors.back().message;
}

std::string sqlText(std::string_view text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

// One row of the table by its record number, with the selection's columns; the row a template
// reads when it is spoken.
class TaskDataSource::RowQuery : public speech::RowValues {
public:
    RowQuery(data::Connection& connection, const std::string& columns, const std::string& table, long long record)
        : m_query(connection)
    {
        m_query.setSql("SELECT " + columns + " FROM " + table + " WHERE rowid = " + std::to_string(record));
    }

    // False when the row cannot be read; found tells whether it is there.
    bool open(bool& found)
    {
        found = false;
        if (!m_query.open())
            return false;
        found = !m_query.isEof();
        return true;
    }
    data::Query& query() { return m_query; }

    std::optional<std::string> columnText(int column) const override
    {
        if (column < 1 || column > m_query.columnCount())
            return std::nullopt;
        return m_query.getText(column);
    }

private:
    data::Query m_query;
};

TaskDataSource::TaskDataSource(config::ConfigStore& store)
    : m_store(store), m_clock([] { return std::time(nullptr); })
{
}

TaskDataSource::~TaskDataSource() = default;

void TaskDataSource::setDefinition(const config::TaskDefinition& definition) { m_definition = definition; }

void TaskDataSource::clearFlags()
{
    m_stopping = false;
    m_exhausted = false;
    m_refused = false;
}

bool TaskDataSource::fail(const std::string& error)
{
    m_lastError = error;
    close();
    return false;
}

void TaskDataSource::close()
{
    m_open = false;
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_rowsOut.clear();
    m_position = 0;
    m_reselect = false;
    m_connection.reset();
}

std::string TaskDataSource::columnList() const
{
    std::string columns = "telef,proba,otboj,data,clock";
    // A task without a sort field selects the five columns alone, not a dangling comma.
    if (!m_definition.fieldSort.empty())
        columns += "," + m_definition.fieldSort;
    if (m_definition.repeat)
        columns += "," + m_definition.repeatField;
    for (const speech::PatternItem& item : m_items)
        if (item.column != 0)
            columns += "," + item.arg;
    return columns;
}

bool TaskDataSource::loadTemplate()
{
    m_items.clear();
    m_patterns = std::make_unique<speech::Patterns>(m_store, m_definition.binding, m_definition.task);
    if (!m_patterns->Load(m_items))
        return false;
    // The items that speak a field get the field's column in the selection, in template order.
    std::int16_t column = static_cast<std::int16_t>(kClock + (m_definition.fieldSort.empty() ? 0 : 1) +
                                                    (m_definition.repeat ? 1 : 0));
    for (speech::PatternItem& item : m_items) {
        const bool speaksField = !item.arg.empty() && !item.chunk.empty() && (item.chunk[0] == '@' || item.chunk[0] == '#');
        item.column = speaksField ? ++column : 0;
    }
    return true;
}

bool TaskDataSource::connectTo(data::Connection& connection, const std::string& folder)
{
    return connection.bind("peltra") && connection.connect() &&
           connection.setConnectOption(data::kCurrentQualifierOption, folder) &&
           connection.setConnectOption(data::kUnmarkedCodePageOption, m_definition.codePage);
}

const char* TaskDataSource::attach()
{
    std::error_code ec;
    const fs::path file(m_definition.file);
    if (m_definition.file.empty() || !fs::is_regular_file(file, ec))
        return kFileNotFound;
    m_table = data::Functions::sqlName(file.stem().string());
    m_folder = file.parent_path().string();
    m_connection = std::make_unique<data::Connection>();
    if (!connectTo(*m_connection, m_folder))
        return kQueryFailed;
    return nullptr;
}

bool TaskDataSource::open()
{
    m_stopping = false;
    if (m_open)
        return true;
    // A table that refused a result stays shut, its remark shown, until the task is restarted.
    if (m_exhausted || m_refused)
        return false;
    m_recordCount = 0;
    loadTemplate();
    if (const char* error = attach())
        return fail(error);

    // Calls are made only when their results can be written: every bookkeeping column must take
    // what is written into it, and a counter stops at the largest value its column holds.
    const auto columns = m_connection->columns(fs::path(m_definition.file).filename().string());
    if (!columns)
        return fail(kQueryFailed);
    std::vector<data::FieldShape> shapes;
    m_probaLimit = m_otbojLimit = m_repeatLimit = std::numeric_limits<double>::max();
    for (const data::ColumnInfo& column : *columns) {
        shapes.push_back({column.name, column.dbfType, static_cast<unsigned>(column.length),
                          static_cast<unsigned>(column.decimals)});
        if (column.name == "PROBA")
            m_probaLimit = largestWhole(column);
        else if (column.name == "OTBOJ")
            m_otbojLimit = largestWhole(column);
        if (m_definition.repeat && platform::equalsIgnoreCase(column.name, m_definition.repeatField))
            m_repeatLimit = largestWhole(column);
    }
    if (const std::vector<data::UnfitColumn> unfit = data::unfitRequiredColumns(shapes); !unfit.empty())
        return fail(data::unfitColumnText(unfit.front()));

    // In parentheses: the filter that follows applies to repeats and new rows alike.
    const std::string condition =
        m_definition.repeat ? "(" + m_definition.repeatField + " IS NULL OR " + m_definition.repeatField +
                                  " IS NOT NULL AND " + m_definition.repeatField + " < " +
                                  std::to_string(m_definition.repeatTimes) + ")"
                            : " data IS NULL ";
    const std::string filter = m_definition.filterText.empty() ? "" : " AND (" + m_definition.filterText + ") ";
    const std::string order = m_definition.fieldSort.empty()
                                  ? ""
                                  : " ORDER BY " + m_definition.fieldSort + (m_definition.ascend ? " ASC" : " DESC");
    m_statement = "SELECT " + columnList() + " FROM " + m_table + " WHERE " + condition + filter + order;

    data::Query query(*m_connection);
    query.setSql(m_statement);
    if (!query.open())
        return fail(kQueryFailed);
    if (query.isEof()) {
        m_exhausted = true;
        m_lastError.clear();
        close();
        return true;
    }
    const int sortColumn = m_definition.fieldSort.empty() ? 0 : kClock + 1;
    const int repeatColumn = m_definition.repeat ? kClock + 1 + (sortColumn ? 1 : 0) : 0;
    if (query.columnCount() < kClock + (sortColumn ? 1 : 0) + (repeatColumn ? 1 : 0) || query.recordNumber() == 0)
        return fail(kFieldMissing);

    // The restart point: the first row at or past Phonelast in the sort order. Behaviour is read
    // as it is stored now. A point that is still the start value of its order (a fresh sort, or
    // a sort never taken up) starts at the first row: no start value lies beyond every value of
    // a column ("999999999999" is below a wider number, "я" below "ё" in the rows' order).
    const bool fresh = m_definition.phonelast.empty() ||
                       m_definition.phonelast == config::phonelastStart(m_definition.fieldSortType, m_definition.ascend);
    const bool skip = config::Operator(m_store, m_definition.binding, m_definition.task)
                              .number(config::TaskProperty::Behaviour) == config::kContinueFromLast &&
                      sortColumn != 0 && !fresh &&
                      (isNumericType(m_definition.fieldSortType) || m_definition.fieldSortType == "C");
    const double lastNumber = std::atof(m_definition.phonelast.c_str());
    std::optional<std::size_t> start;
    m_rows.clear();
    do {
        RowState row;
        row.record = query.recordNumber();
        readState(row, query, repeatColumn);
        if (skip && !start) {
            bool reached = false;
            if (isNumericType(m_definition.fieldSortType)) {
                const double value = query.getDouble(sortColumn);
                reached = m_definition.ascend ? value >= lastNumber : value <= lastNumber;
            } else {
                const std::string text = query.getText(sortColumn);
                const std::string_view value = platform::trimBlanks(text);
                reached = m_definition.ascend ? value >= m_definition.phonelast : value <= m_definition.phonelast;
            }
            if (reached)
                start = m_rows.size();
        }
        m_rows.push_back(row);
    } while (query.moveNext());
    if (m_connection->hasErrors()) {
        m_connection->takeErrors();
        return fail(kQueryFailed);
    }
    m_recordCount = static_cast<long long>(m_rows.size());
    m_position = start.value_or(0);
    m_rowsOut.clear();
    m_open = true;
    m_exhausted = false;
    m_lastError.clear();
    return true;
}

void TaskDataSource::readState(RowState& row, data::Query& query, int repeatColumn) const
{
    const auto date = query.getDate(kData);
    row.dataDay = date ? daysFromCivil(date->year, date->month, date->day) : -1;
    const std::optional<std::int32_t> clock = timeOfDay(query.getText(kClock));
    row.clockSecond = clock.value_or(0);
    row.failedClock = date ? -1 : clock.value_or(-1);
    row.proba = static_cast<std::int32_t>(query.getDouble(kProba));
    if (repeatColumn)
        row.repeatCount = static_cast<std::int32_t>(query.getDouble(repeatColumn));
}

bool TaskDataSource::retryDue(const RowState& row, std::int64_t nowSecond) const
{
    const std::int64_t wait = std::int64_t{m_definition.retryMinute} * 60;
    if (wait == 0)
        return true;
    if (row.failedAt >= 0)
        return nowSecond - row.failedAt >= wait;
    if (row.failedClock < 0)
        return true;
    // An attempt of an earlier run left only its time of day: it is taken as the latest such time,
    // so the row is never dialled early (at most one wait late when the attempt is days old).
    const std::int64_t since = ((nowSecond % 86400 - row.failedClock) % 86400 + 86400) % 86400;
    return since >= std::min<std::int64_t>(wait, 86399);
}

bool TaskDataSource::isDue(const RowState& row, std::time_t now, bool& seenNew, bool& seenRepeat) const
{
    if (row.gone)
        return false;
    // A row out of attempts is no candidate at all: the task can finish without it.
    if (m_definition.maxAttempts != 0 && row.proba >= 0 &&
        static_cast<std::uint32_t>(row.proba) >= m_definition.maxAttempts)
        return false;
    if (row.dataDay < 0) {
        seenNew = true;
        return retryDue(row, localNow(now).second);
    }
    if (!m_definition.repeat || row.repeatCount < 0 ||
        static_cast<std::uint32_t>(row.repeatCount) >= m_definition.repeatTimes)
        return false;
    seenRepeat = true;
    const LocalNow local = localNow(now);
    if (!retryDue(row, local.second))
        return false;
    switch (m_definition.repeatType) {
    case 0:
        return local.day - row.dataDay >= static_cast<std::int64_t>(m_definition.repeatDay);
    case 1:
        return local.second - (std::int64_t{row.dataDay} * 86400 + row.clockSecond) >=
               std::int64_t{m_definition.repeatMinute} * 60;
    default:
        return false;
    }
}

bool TaskDataSource::refresh(RowState& row, RowQuery& query)
{
    bool found = false;
    if (!query.open(found)) {
        m_connection->takeErrors();
        return false;
    }
    if (!found) {
        row.gone = true;
        return false;
    }
    readState(row, query.query(), m_definition.repeat ? kClock + 1 + (m_definition.fieldSort.empty() ? 0 : 1) : 0);
    return true;
}

void TaskDataSource::setRedialLimits(std::uint32_t retryMinute, std::uint32_t maxAttempts)
{
    if (m_definition.retryMinute == retryMinute && m_definition.maxAttempts == maxAttempts)
        return;
    m_definition.retryMinute = retryMinute;
    m_definition.maxAttempts = maxAttempts;
    if (!m_open)
        m_exhausted = false;
}

int TaskDataSource::nextRow(HandOut& out, const std::function<bool(std::string_view number)>& inCallElsewhere)
{
    retryResults();
    if (!m_open || m_stopping || m_exhausted)
        return 1;
    if (m_reselect) {
        // The rows moved under their record numbers: no row is handed out by an old number; the
        // selection is made afresh once every row out has come back.
        if (!m_rowsOut.empty() || !m_waiting.empty())
            return 1;
        close();
        if (!open() || !m_open)
            return 1;
    }
    const std::time_t now = m_clock();
    bool seenNew = false;
    bool seenRepeat = false;
    const std::string columns = columnList();
    for (std::size_t step = 0; step < m_rows.size(); ++step) {
        const std::size_t position = (m_position + step) % m_rows.size();
        RowState& row = m_rows[position];
        if (!isDue(row, now, seenNew, seenRepeat))
            continue;
        bool alreadyOut = false;
        for (const ActiveRow& active : m_rowsOut)
            alreadyOut = alreadyOut || active.record == row.record;
        for (const Result& waiting : m_waiting)
            alreadyOut = alreadyOut || waiting.row.record == row.record;
        if (alreadyOut)
            continue;

        // The row as it is now: another program may have changed or deleted it.
        RowQuery query(*m_connection, columns, m_table, row.record);
        if (!refresh(row, query)) {
            if (row.gone)
                continue;
            // The table cannot be read any more (moved away, damaged): stop handing out.
            std::error_code ec;
            m_lastError = fs::exists(m_definition.file, ec) ? kQueryFailed : kFileNotFound;
            requestStop();
            return 1;
        }
        bool stillNew = false;
        bool stillRepeat = false;
        if (!isDue(row, now, stillNew, stillRepeat))
            continue;

        data::Query& q = query.query();
        const std::string phone = q.getText(kTelef);
        const std::string_view number = platform::trimBlanks(phone);
        // A number already on a line (or whose result waits) under another record number: the
        // table was packed meanwhile.
        const auto onLine = [&](const ActiveRow& active) { return active.phone == number; };
        if (std::any_of(m_rowsOut.begin(), m_rowsOut.end(), onLine) ||
            std::any_of(m_waiting.begin(), m_waiting.end(), [&](const Result& r) { return onLine(r.row); })) {
            m_reselect = true;
            return 1;
        }
        // The same person in a call for another task: one number is never on two lines at once.
        if (inCallElsewhere && inCallElsewhere(number))
            continue;
        out.row = row.record;
        out.definitionPath = definitionPath();
        out.phone = std::string(number);
        out.phrases.clear();
        if (!m_definition.fieldSort.empty()) {
            const std::string last = q.getText(kClock + 1);
            m_definition.phonelast = isNumericType(m_definition.fieldSortType) ? formatNumber(q.getDouble(kClock + 1))
                                                                              : std::string(platform::trimBlanks(last));
            config::Operator(m_store, m_definition.binding, m_definition.task)
                .setText(config::TaskProperty::Phonelast, m_definition.phonelast);
        }
        speak(query, out.phrases);
        m_rowsOut.push_back({row.record, position, out.phone});
        m_position = (position + 1) % m_rows.size();
        return 0;
    }
    if (!seenNew && !seenRepeat && m_rowsOut.empty() && m_waiting.empty()) {
        m_exhausted = true;
        close();
    }
    return 1;
}

void TaskDataSource::speak(RowQuery& row, speech::PhraseList& phrases)
{
    if (m_patterns)
        m_patterns->BuildPhraseList(m_items, row, speech::today(), phrases);
}

bool TaskDataSource::speakRecord(long long record, speech::PhraseList& phrases, std::string& error)
{
    phrases.clear();
    if (m_open) {
        error = "the task's rows are open";
        return false;
    }
    if (!loadTemplate()) {
        error = "the template cannot be read";
        return false;
    }
    if (const char* failure = attach()) {
        error = std::string(failure) + " " + m_definition.file;
        close();
        return false;
    }
    bool found = false;
    {
        RowQuery row(*m_connection, columnList(), m_table, record);
        if (!row.open(found)) {
            const auto errors = m_connection->takeErrors();
            error = std::string(kQueryFailed) + (errors.empty() ? "" : ": " + errors.front().message);
        } else if (!found) {
            error = "record " + std::to_string(record) + " is not in " + m_definition.file +
                    " (deleted, or past its end)";
        } else {
            speak(row, phrases);
        }
    }
    close();
    return found;
}

void TaskDataSource::writeResult(long long record, OutcomeKind kind)
{
    const auto out = std::find_if(m_rowsOut.begin(), m_rowsOut.end(),
                                  [&](const ActiveRow& row) { return row.record == record; });
    if (out == m_rowsOut.end() || !m_open)
        return;
    Result result{*out, kind, m_clock()};
    m_rowsOut.erase(out);
    if (kind == OutcomeKind::Notified || kind == OutcomeKind::NoAnswer || kind == OutcomeKind::HungUp) {
        // Behind the results still waiting, so that a row's results reach it in order.
        m_waiting.push_back(std::move(result));
        retryResults();
    }
    closeIfStopped();
}

bool TaskDataSource::retryResults()
{
    if (m_waiting.empty() || !m_connection)
        return false;
    data::WriterLockWait wait(kResultLockWait);
    bool settled = false;
    while (!m_waiting.empty()) {
        // The table is busy for every waiting result alike: the rest wait for the next try.
        if (write(m_waiting.front()) == Written::Busy)
            break;
        m_waiting.erase(m_waiting.begin());
        settled = true;
    }
    closeIfStopped();
    return settled;
}

void TaskDataSource::closeIfStopped()
{
    if (m_open && m_stopping && m_rowsOut.empty() && m_waiting.empty())
        close();
}

void TaskDataSource::noteFailure(const Result& result, Written how, const std::string& why)
{
    const std::string where = " (запись " + std::to_string(result.row.record) + ", телефон " + result.row.phone + "): ";
    m_lastError = (how == Written::Busy ? kResultDelayed : kResultNotWritten) + where + why;
    if (how == Written::Refused) {
        // Every later result would be lost the same way: no more calls until the task restarts.
        m_refused = true;
        m_stopping = true;
    }
}

std::optional<long long> TaskDataSource::findRow(const ActiveRow& row, std::string& error)
{
    RowQuery called(*m_connection, "telef", m_table, row.record);
    bool found = false;
    if (!called.open(found)) {
        error = failureText(*m_connection);
        return std::nullopt;
    }
    const std::string there = found ? called.query().getText(kTelef) : std::string();
    if (found && platform::trimBlanks(there) == row.phone)
        return row.record;
    // The record holds another number (another program deleted rows and packed the table):
    // the person is looked for by the number, and only a single match is taken.
    data::Query search(*m_connection);
    search.setSql("SELECT telef FROM " + m_table + " WHERE trim(telef) = " + sqlText(row.phone));
    if (!search.open()) {
        error = failureText(*m_connection);
        return std::nullopt;
    }
    std::vector<long long> matches;
    for (bool more = !search.isEof(); more; more = search.moveNext() && !search.isEof())
        matches.push_back(search.recordNumber());
    if (m_connection->hasErrors()) {
        error = failureText(*m_connection);
        return std::nullopt;
    }
    if (matches.size() == 1) {
        m_reselect = true;
        return matches.front();
    }
    error = matches.empty() ? "в таблице нет строки с этим номером"
                            : "номер есть в нескольких строках таблицы, строка не выбрана";
    return std::nullopt;
}

TaskDataSource::Written TaskDataSource::write(Result& result)
{
    std::string error;
    const std::optional<long long> record = findRow(result.row, error);
    if (!record) {
        noteFailure(result, Written::RowGone, error);
        return Written::RowGone;
    }
    const bool notified = result.kind == OutcomeKind::Notified;
    const bool repeatColumn = notified && m_definition.repeat;
    const std::string columns =
        std::string("telef,proba,otboj,data,clock") + (repeatColumn ? "," + m_definition.repeatField : "");
    RowQuery row(*m_connection, columns, m_table, *record);
    bool found = false;
    data::Query& q = row.query();
    const bool opened = row.open(found);
    if (opened && !found) {
        noteFailure(result, Written::RowGone, "строка исчезла из таблицы");
        return Written::RowGone;
    }
    if (!opened || !q.edit()) {
        noteFailure(result, Written::Refused, failureText(*m_connection));
        return Written::Refused;
    }
    // A counter at the top of its column stays there: the rest of the result is still written.
    const double proba = std::min(q.getDouble(kProba) + 1, m_probaLimit);
    q.setValue(kProba, formatWhole(proba));
    if (result.kind == OutcomeKind::HungUp)
        q.setValue(kOtboj, formatWhole(std::min(q.getDouble(kOtboj) + 1, m_otbojLimit)));
    const LocalNow now = localNow(result.when);
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02u:%02u:%02u", static_cast<unsigned>(now.parts.tm_hour),
                  static_cast<unsigned>(now.parts.tm_min), static_cast<unsigned>(now.parts.tm_sec));
    const bool failed = result.kind == OutcomeKind::NoAnswer || result.kind == OutcomeKind::HungUp;
    // The moment of a failed attempt, where only a row not yet notified has room for it: the wait
    // before the next attempt holds across a restart.
    if (failed && m_definition.retryMinute != 0 && !q.getDate(kData))
        q.setValue(kClock, clock);
    if (notified) {
        char date[32];
        std::snprintf(date, sizeof date, "%04u/%02u/%02u", static_cast<unsigned>(now.parts.tm_year + 1900),
                      static_cast<unsigned>(now.parts.tm_mon + 1), static_cast<unsigned>(now.parts.tm_mday));
        q.setValue(kOtboj, formatWhole(q.getDouble(kOtboj)));
        q.setValue(kData, date);
        q.setValue(kClock, clock);
        if (repeatColumn)
            q.setValue(kClock + 1, formatWhole(std::min(q.getDouble(kClock + 1) + 1, m_repeatLimit)));
    }
    if (!q.update()) {
        const std::vector<data::OdbcError> errors = m_connection->takeErrors();
        const bool busy = std::any_of(errors.begin(), errors.end(),
                                      [](const data::OdbcError& e) { return e.sqlState == "HYT00"; });
        const std::string text = errors.empty() ? std::string("неизвестная ошибка") : errors.back().message;
        // A busy table is noted once; the result waits for the next try.
        if (!busy || !m_lastError.starts_with(kResultDelayed))
            noteFailure(result, busy ? Written::Busy : Written::Refused, text);
        return busy ? Written::Busy : Written::Refused;
    }
    m_connection->takeErrors();
    if (m_lastError.starts_with(kResultDelayed))
        m_lastError.clear();
    RowState* state = result.row.position < m_rows.size() && m_rows[result.row.position].record == result.row.record
                          ? &m_rows[result.row.position]
                          : nullptr;
    if (state) {
        state->proba = static_cast<std::int32_t>(proba);
        if (failed)
            state->failedAt = now.second;
    }
    if (!notified)
        return Written::Yes;
    if (state) {
        state->dataDay = now.day;
        state->clockSecond = timeOfDay(clock).value_or(0);
        state->failedClock = -1;
        ++state->repeatCount;
    }
    ++m_notified;
    // The archive settings as they are stored now: switching the archive on needs no restart.
    config::Operator stored(m_store, m_definition.binding, m_definition.task);
    if (stored.flag(config::TaskProperty::Arhive) &&
        !archive(*record, stored.text(config::TaskProperty::ArhiveFile), error))
        m_lastError = std::string(kArchiveNotWritten) + " (запись " + std::to_string(*record) + ", телефон " +
                      result.row.phone + "): " + error;
    return Written::Yes;
}

void TaskDataSource::requestStop()
{
    m_stopping = true;
    retryResults();
    closeIfStopped();
}

void TaskDataSource::abandonResults()
{
    if (m_waiting.empty())
        return;
    const Result& first = m_waiting.front();
    m_lastError = std::string(kResultNotWritten) + ": " + std::to_string(m_waiting.size()) +
                  " (первый: запись " + std::to_string(first.row.record) + ", телефон " + first.row.phone +
                  "): " + data::kWritersLockBusy;
    m_waiting.clear();
    closeIfStopped();
}

bool TaskDataSource::archive(long long record, const std::string& file, std::string& error)
{
    if (file.empty()) {
        error = "не задан файл архива";
        return false;
    }
    const fs::path archivePath(file);
    std::error_code ec;
    const std::string archiveFolder = archivePath.parent_path().string();
    const std::string archiveTable = data::Functions::sqlName(archivePath.stem().string());
    data::Connection connection;
    if (!connectTo(connection, archiveFolder)) {
        error = failureText(connection);
        return false;
    }
    if (!fs::exists(archivePath, ec)) {
        // A new archive starts as an empty table of the source's structure.
        if (!fs::copy_file(m_definition.file, archivePath, fs::copy_options::none, ec)) {
            error = ec.message();
            return false;
        }
        if (!connection.executeDirect("DELETE FROM " + archiveTable) ||
            !connection.executeDirect("PACK " + archiveTable)) {
            error = failureText(connection);
            return false;
        }
    }

    // The row just written, found by its record number: no value of it is put into the statement.
    data::Query source(*m_connection);
    source.setSql("SELECT * FROM " + m_table + " WHERE rowid = " + std::to_string(record));
    if (!source.open() || source.isEof()) {
        error = source.isOpen() ? "строка исчезла из таблицы" : failureText(*m_connection);
        return false;
    }
    std::string names;
    for (int column = 1; column <= source.columnCount(); ++column)
        names += (column > 1 ? ", " : "") + data::Functions::sqlName(source.columnName(column));
    data::Query target(connection);
    target.setSql("SELECT " + names + " FROM " + archiveTable + " WHERE 1<>1");
    if (!target.open() || !target.addNew()) {
        error = failureText(connection);
        return false;
    }
    for (int column = 1; column <= source.columnCount(); ++column) {
        bool isNull = false;
        const std::string value = source.getText(column, &isNull);
        target.setValue(column, value, isNull);
    }
    if (!target.update()) {
        error = failureText(connection);
        return false;
    }
    return true;
}

}  // namespace peltra::engine
