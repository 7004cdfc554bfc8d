// The task data source: selection, hand-out, write-back and archive copy.
#include "engine/TaskDataSource.h"

#include "data/Functions.h"
#include "data/Query.h"
#include "platform/text/Trim.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
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

// "HH:MM:SS" as seconds after midnight; 0 when it is not a time.
std::int32_t clockSeconds(const std::string& text)
{
    unsigned h = 0, m = 0, s = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u", &h, &m, &s) != 3 || h > 23 || m > 59 || s > 59)
        return 0;
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
}

bool TaskDataSource::fail(const char* error)
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

bool TaskDataSource::open()
{
    m_stopping = false;
    if (m_open)
        return true;
    if (m_exhausted)
        return false;
    m_recordCount = 0;
    loadTemplate();

    std::error_code ec;
    const fs::path file(m_definition.file);
    if (m_definition.file.empty() || !fs::is_regular_file(file, ec))
        return fail(kFileNotFound);
    m_table = data::Functions::sqlName(file.stem().string());
    m_folder = file.parent_path().string();
    m_connection = std::make_unique<data::Connection>();
    if (!connectTo(*m_connection, m_folder))
        return fail(kQueryFailed);

    const std::string condition =
        m_definition.repeat ? m_definition.repeatField + " IS NULL OR " + m_definition.repeatField + " IS NOT NULL AND " +
                                  m_definition.repeatField + " < " + std::to_string(m_definition.repeatTimes)
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

    // The restart point: the first row at or past Phonelast in the sort order.
    const bool skip = m_definition.behaviour == config::kContinueFromLast && sortColumn != 0 &&
                      (isNumericType(m_definition.fieldSortType) || m_definition.fieldSortType == "C");
    const double lastNumber = std::atof(m_definition.phonelast.c_str());
    std::optional<std::size_t> start;
    m_rows.clear();
    do {
        RowState row;
        row.record = query.recordNumber();
        if (const auto date = query.getDate(kData))
            row.dataDay = daysFromCivil(date->year, date->month, date->day);
        row.clockSecond = clockSeconds(query.getText(kClock));
        if (repeatColumn)
            row.repeatCount = static_cast<std::int32_t>(query.getDouble(repeatColumn));
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

bool TaskDataSource::isDue(const RowState& row, std::time_t now, bool& seenNew, bool& seenRepeat) const
{
    if (row.gone)
        return false;
    if (row.dataDay < 0) {
        seenNew = true;
        return true;
    }
    if (!m_definition.repeat || row.repeatCount < 0 ||
        static_cast<std::uint32_t>(row.repeatCount) >= m_definition.repeatTimes)
        return false;
    seenRepeat = true;
    const LocalNow local = localNow(now);
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
    data::Query& q = query.query();
    const auto date = q.getDate(kData);
    row.dataDay = date ? daysFromCivil(date->year, date->month, date->day) : -1;
    row.clockSecond = clockSeconds(q.getText(kClock));
    if (m_definition.repeat)
        row.repeatCount = static_cast<std::int32_t>(q.getDouble(kClock + 1 + (m_definition.fieldSort.empty() ? 0 : 1)));
    return true;
}

int TaskDataSource::nextRow(HandOut& out)
{
    if (!m_open || m_stopping || m_exhausted)
        return 1;
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
        out.row = row.record;
        out.definitionPath = definitionPath();
        const std::string phone = q.getText(kTelef);
        out.phone = std::string(platform::trimBlanks(phone));
        out.phrases.clear();
        if (!m_definition.fieldSort.empty()) {
            const std::string last = q.getText(kClock + 1);
            m_definition.phonelast = isNumericType(m_definition.fieldSortType) ? formatNumber(q.getDouble(kClock + 1))
                                                                              : std::string(platform::trimBlanks(last));
            config::Operator(m_store, m_definition.binding, m_definition.task)
                .setText(config::TaskProperty::Phonelast, m_definition.phonelast);
        }
        if (m_patterns)
            m_patterns->BuildPhraseList(m_items, query, speech::today(), out.phrases);
        m_rowsOut.push_back({row.record, position});
        m_position = (position + 1) % m_rows.size();
        return 0;
    }
    if (!seenNew && !seenRepeat) {
        m_exhausted = true;
        close();
    }
    return 1;
}

void TaskDataSource::writeResult(long long record, OutcomeKind kind)
{
    std::size_t index = 0;
    while (index < m_rowsOut.size() && m_rowsOut[index].record != record)
        ++index;
    if (index == m_rowsOut.size() || !m_open)
        return;
    const std::size_t position = m_rowsOut[index].position;
    m_rowsOut.erase(m_rowsOut.begin() + static_cast<std::ptrdiff_t>(index));

    if (kind == OutcomeKind::Notified || kind == OutcomeKind::NoAnswer || kind == OutcomeKind::HungUp) {
        const bool repeatColumn = kind == OutcomeKind::Notified && m_definition.repeat;
        const std::string columns =
            std::string("telef,proba,otboj,data,clock") + (repeatColumn ? "," + m_definition.repeatField : "");
        RowQuery row(*m_connection, columns, m_table, record);
        bool found = false;
        data::Query& q = row.query();
        if (row.open(found) && found && q.edit()) {
            q.setValue(kProba, formatWhole(q.getDouble(kProba) + 1));
            if (kind == OutcomeKind::HungUp)
                q.setValue(kOtboj, formatWhole(q.getDouble(kOtboj) + 1));
            RowState& state = m_rows[position];
            if (kind == OutcomeKind::Notified) {
                const LocalNow now = localNow(m_clock());
                char date[32];
                char clock[16];
                std::snprintf(date, sizeof date, "%04u/%02u/%02u", static_cast<unsigned>(now.parts.tm_year + 1900),
                              static_cast<unsigned>(now.parts.tm_mon + 1), static_cast<unsigned>(now.parts.tm_mday));
                std::snprintf(clock, sizeof clock, "%02u:%02u:%02u", static_cast<unsigned>(now.parts.tm_hour),
                              static_cast<unsigned>(now.parts.tm_min), static_cast<unsigned>(now.parts.tm_sec));
                q.setValue(kOtboj, formatWhole(q.getDouble(kOtboj)));
                q.setValue(kData, date);
                q.setValue(kClock, clock);
                if (repeatColumn)
                    q.setValue(kClock + 1, formatWhole(q.getDouble(kClock + 1) + 1));
                state.dataDay = now.day;
                state.clockSecond = clockSeconds(clock);
                ++state.repeatCount;
            }
            if (q.update() && kind == OutcomeKind::Notified) {
                ++m_notified;
                if (m_definition.arhive)
                    archive(record);
            }
        }
        m_connection->takeErrors();
    }
    if (m_stopping && m_rowsOut.empty())
        close();
}

void TaskDataSource::requestStop()
{
    m_stopping = true;
    if (m_rowsOut.empty())
        close();
}

void TaskDataSource::archive(long long record)
{
    const fs::path archivePath(m_definition.arhiveFile);
    if (m_definition.arhiveFile.empty())
        return;
    std::error_code ec;
    const std::string archiveFolder = archivePath.parent_path().string();
    const std::string archiveTable = data::Functions::sqlName(archivePath.stem().string());
    data::Connection connection;
    if (!connectTo(connection, archiveFolder))
        return;
    if (!fs::exists(archivePath, ec)) {
        // A new archive starts as an empty table of the source's structure.
        if (!fs::copy_file(m_definition.file, archivePath, fs::copy_options::none, ec))
            return;
        if (connection.executeDirect("DELETE FROM " + archiveTable))
            connection.executeDirect("PACK " + archiveTable);
    }
    if (!fs::exists(archivePath, ec))
        return;

    // The row just written, found by its record number: no value of it is put into the statement.
    data::Query source(*m_connection);
    source.setSql("SELECT * FROM " + m_table + " WHERE rowid = " + std::to_string(record));
    if (!source.open() || source.isEof())
        return;
    std::string names;
    for (int column = 1; column <= source.columnCount(); ++column)
        names += (column > 1 ? ", " : "") + data::Functions::sqlName(source.columnName(column));
    data::Query target(connection);
    target.setSql("SELECT " + names + " FROM " + archiveTable + " WHERE 1<>1");
    if (!target.open() || !target.addNew())
        return;
    for (int column = 1; column <= source.columnCount(); ++column) {
        bool isNull = false;
        const std::string value = source.getText(column, &isNull);
        target.setValue(column, value, isNull);
    }
    target.update();
}

}  // namespace peltra::engine
