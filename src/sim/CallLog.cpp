// The simulator's call log file: one JSON object per line and call, with the station's result.
#include "sim/CallLog.h"

#include "sim/SimPlan.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace peltra::sim {
namespace {

using Json = nlohmann::ordered_json;

Json tenthsOfMs(const std::optional<double>& ms)
{
    if (!ms)
        return nullptr;
    return std::round(*ms * 10) / 10;
}

std::string utcNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

std::string formatLine(const CallRecord& record, const PartyBehaviour& behaviour, std::uint32_t result)
{
    Json line;
    line["call"] = record.callNumber;
    line["line"] = record.port;
    line["number"] = record.dialed;
    line["behaviour"] = Json::parse(describeBehaviour(behaviour));
    line["answered"] = record.answerMs.has_value();
    line["bytes_heard"] = record.bytesHeard;
    line["party_heard_bytes"] = record.partyHeardBytes;
    line["hung_up"] = record.partyHangupMs.has_value();
    line["unplugged"] = record.unplugged;
    line["result"] = result;
    line["complete_ms"] = tenthsOfMs(record.completeMs);
    line["answer_ms"] = tenthsOfMs(record.answerMs);
    line["party_hangup_ms"] = tenthsOfMs(record.partyHangupMs);
    line["caller_hangup_ms"] = tenthsOfMs(record.callerHangupMs);
    line["logged_at"] = utcNow();
    // Port names and digits are ASCII; anything else must not make the line unwritable.
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string systemError(int code)
{
    return std::strerror(code);
}

// Reads the fields of a parsed line; the first fault ends the reading.
class EntryReader {
public:
    EntryReader(const Json& object, const std::string& place, std::string& error)
        : m_object(object), m_place(place), m_error(error)
    {
    }

    bool fail(const std::string& key, const std::string& problem)
    {
        m_error = m_place + ": " + key + ": " + problem;
        return false;
    }

    const Json* field(const char* key)
    {
        const auto it = m_object.find(key);
        if (it == m_object.end()) {
            fail(key, "missing");
            return nullptr;
        }
        return &*it;
    }

    bool text(const char* key, std::string& out)
    {
        const Json* value = field(key);
        if (!value)
            return false;
        if (!value->is_string())
            return fail(key, "must be a string");
        out = value->get<std::string>();
        return true;
    }

    bool flag(const char* key, bool& out)
    {
        const Json* value = field(key);
        if (!value)
            return false;
        if (!value->is_boolean())
            return fail(key, "must be true or false");
        out = value->get<bool>();
        return true;
    }

    bool count(const char* key, std::uint64_t max, std::uint64_t& out)
    {
        const Json* value = field(key);
        if (!value)
            return false;
        if (!value->is_number_unsigned() || value->get<std::uint64_t>() > max)
            return fail(key, "must be a whole number from 0 to " + std::to_string(max));
        out = value->get<std::uint64_t>();
        return true;
    }

    bool time(const char* key, std::optional<double>& out)
    {
        const Json* value = field(key);
        if (!value)
            return false;
        if (value->is_null()) {
            out.reset();
            return true;
        }
        if (!value->is_number())
            return fail(key, "must be a number of ms or null");
        out = value->get<double>();
        return true;
    }

private:
    const Json& m_object;
    const std::string& m_place;
    std::string& m_error;
};

}  // namespace

std::string formatCallLogLine(const CallRecord& record, std::uint32_t result)
{
    return formatLine(record, record.behaviour, result);
}

std::optional<CallLogEntry> parseCallLogLine(std::string_view line, const std::string& place, std::string& error)
{
    Json object;
    try {
        object = Json::parse(line.begin(), line.end());
    } catch (const Json::exception& e) {
        std::string what = e.what();
        const std::size_t bracket = what.find("] ");
        error = place + ": not valid JSON: " + (bracket == std::string::npos ? what : what.substr(bracket + 2));
        return std::nullopt;
    }
    if (!object.is_object()) {
        error = place + ": not a JSON object";
        return std::nullopt;
    }
    CallLogEntry entry;
    EntryReader reader(object, place, error);
    std::uint64_t call = 0;
    std::uint64_t result = 0;
    if (!reader.count("call", std::numeric_limits<std::size_t>::max(), call) || !reader.text("line", entry.line) ||
        !reader.text("number", entry.number) || !reader.flag("answered", entry.answered) ||
        !reader.count("bytes_heard", std::numeric_limits<std::uint64_t>::max(), entry.bytesHeard) ||
        !reader.count("party_heard_bytes", std::numeric_limits<std::uint64_t>::max(), entry.partyHeardBytes) ||
        !reader.flag("hung_up", entry.hungUp) || !reader.flag("unplugged", entry.unplugged) ||
        !reader.count("result", std::numeric_limits<std::uint32_t>::max(), result) ||
        !reader.time("complete_ms", entry.completeMs) || !reader.time("answer_ms", entry.answerMs) ||
        !reader.time("party_hangup_ms", entry.partyHangupMs) ||
        !reader.time("caller_hangup_ms", entry.callerHangupMs) || !reader.text("logged_at", entry.loggedAt))
        return std::nullopt;
    entry.call = static_cast<std::size_t>(call);
    entry.result = static_cast<std::uint32_t>(result);
    const auto behaviour = object.find("behaviour");
    if (behaviour == object.end()) {
        error = place + ": behaviour: missing";
        return std::nullopt;
    }
    const auto party = parseBehaviour(behaviour->dump(), place, error);
    if (!party)
        return std::nullopt;
    entry.behaviour = *party;
    return entry;
}

// ---- CallLog ------------------------------------------------------------------------------------

CallLog::~CallLog()
{
    close();
}

bool CallLog::open(const std::filesystem::path& path, std::string& error)
{
    const std::lock_guard lock(m_mutex);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_path = path;
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = path.string() + ": cannot open the call log: " + systemError(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = path.string() + ": the call log must be a regular file";
        ::close(fd);
        return false;
    }
    if (status.st_size > 0) {
        char last = '\n';
        if (::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n' && ::write(fd, "\n", 1) != 1) {
            error = path.string() + ": cannot end the unfinished last line: " + systemError(errno);
            ::close(fd);
            return false;
        }
    }
    m_fd = fd;
    return true;
}

bool CallLog::isOpen() const
{
    const std::lock_guard lock(m_mutex);
    return m_fd >= 0;
}

void CallLog::close()
{
    const std::lock_guard lock(m_mutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool CallLog::write(const CallRecord& record, std::uint32_t result, std::string& error)
{
    return write(record, record.behaviour, result, error);
}

bool CallLog::write(const CallRecord& record, const PartyBehaviour& behaviour, std::uint32_t result,
                    std::string& error)
{
    const std::string line = formatLine(record, behaviour, result) + "\n";
    const std::lock_guard lock(m_mutex);
    if (m_fd < 0) {
        error = (m_path.empty() ? std::string("call log") : m_path.string()) + ": the call log is not open";
        return false;
    }
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : EIO;
            // End a part-written line so that the next entry still starts a line of its own.
            if (done > 0) {
                [[maybe_unused]] const ssize_t ended = ::write(m_fd, "\n", 1);
            }
            error = m_path.string() + ": cannot write the call log: " + systemError(code);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// ---- Reading ------------------------------------------------------------------------------------

std::optional<CallLogContents> readCallLog(const std::filesystem::path& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path.string() + ": cannot open the call log: " + systemError(errno);
        return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        error = path.string() + ": cannot read the call log";
        return std::nullopt;
    }
    const std::string text = buffer.str();

    CallLogContents contents;
    std::size_t from = 0;
    for (std::size_t lineNumber = 1; from < text.size(); ++lineNumber) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line(text.data() + from, end - from);
        from = end + 1;
        if (line.empty())
            continue;
        // A line cut short is the start of an object whose text ends too soon.
        bool torn = false;
        if (line.front() == '{') {
            try {
                [[maybe_unused]] const Json parsed = Json::parse(line.begin(), line.end());
            } catch (const Json::parse_error& e) {
                torn = e.byte > line.size();
            }
        }
        if (torn) {
            ++contents.tornLines;
            continue;
        }
        auto entry = parseCallLogLine(line, path.string() + ": line " + std::to_string(lineNumber), error);
        if (!entry)
            return std::nullopt;
        contents.entries.push_back(std::move(*entry));
    }
    return contents;
}

}  // namespace peltra::sim
