// The station's status file.
#include "shell/StatusFile.h"

#include "line/LineInterfaces.h"
#include "platform/files/ReplaceFile.h"
#include "platform/locks/NamedLock.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace peltra::shell {

namespace {

using nlohmann::json;

// The index into the call counts, and the name a reader sees, of a call result.
std::size_t resultIndex(std::uint32_t result)
{
    switch (result) {
    case line::kCallDelivered:
        return 0;
    case line::kCallNoAnswer:
        return 1;
    case line::kCallHungUp:
        return 2;
    default:
        return 3;
    }
}

constexpr const char* kResultNames[] = {"delivered", "no_answer", "hung_up", "error"};

const char* iconName(calls::LineIcon icon)
{
    switch (icon) {
    case calls::LineIcon::Free:
        return "free";
    case calls::LineIcon::Working:
        return "working";
    case calls::LineIcon::OutOfOrder:
        break;
    }
    return "out_of_order";
}

const char* taskStateName(engine::TaskState state)
{
    switch (state) {
    case engine::TaskState::Stopped:
        return "stopped";
    case engine::TaskState::Running:
        return "running";
    case engine::TaskState::Idle:
        return "idle";
    case engine::TaskState::Finished:
        return "finished";
    case engine::TaskState::Withdrawing:
        break;
    }
    return "withdrawing";
}

// Seconds since the epoch to the millisecond: a reader compares them with periods well below a
// second in tests.
double unixSeconds(std::chrono::system_clock::time_point moment)
{
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::milliseconds>(moment.time_since_epoch()).count()) /
           1000.0;
}

std::string utcText(std::chrono::system_clock::time_point moment)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace

StatusFile::StatusFile(const std::filesystem::path& home, std::chrono::milliseconds tick, engine::StationViews next)
    : m_path(home / kStatusFileName), m_tick(tick), m_next(std::move(next)),
      m_started(std::chrono::system_clock::now())
{
    // The same file the station locks to keep its home to itself; a reader checks that it is held.
    if (const auto folder = platform::lockFolder())
        m_lock = (*folder / platform::lockFileName(engine::stationLockName(home))).string();
    m_thread = std::thread([this] { writer(); });
}

StatusFile::~StatusFile()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

engine::StationViews StatusFile::views()
{
    engine::StationViews views = m_next;
    views.tasks = this;
    views.lines = this;
    views.station = this;
    views.outcomes = this;
    return views;
}

void StatusFile::changed()
{
    {
        std::lock_guard lock(m_mutex);
        m_dirty = true;
    }
    m_wake.notify_one();
}

void StatusFile::taskAdded(const engine::TaskRow& row)
{
    if (m_next.tasks)
        m_next.tasks->taskAdded(row);
    {
        std::lock_guard lock(m_mutex);
        m_tasks[row.id] = row;
    }
    changed();
}

void StatusFile::taskChanged(const engine::TaskRow& row)
{
    if (m_next.tasks)
        m_next.tasks->taskChanged(row);
    {
        std::lock_guard lock(m_mutex);
        m_tasks[row.id] = row;
    }
    changed();
}

void StatusFile::taskRemoved(std::uint32_t id)
{
    if (m_next.tasks)
        m_next.tasks->taskRemoved(id);
    {
        std::lock_guard lock(m_mutex);
        m_tasks.erase(id);
    }
    changed();
}

void StatusFile::workComplete()
{
    if (m_next.tasks)
        m_next.tasks->workComplete();
}

void StatusFile::nothingCanRun(const std::vector<std::string>& reasons)
{
    if (m_next.tasks)
        m_next.tasks->nothingCanRun(reasons);
}

void StatusFile::passEnded()
{
    if (m_next.tasks)
        m_next.tasks->passEnded();
    {
        std::lock_guard lock(m_mutex);
        m_lastPass = std::chrono::system_clock::now();
    }
    changed();
}

void StatusFile::lineAdded(unsigned number, const std::string& port)
{
    if (m_next.lines)
        m_next.lines->lineAdded(number, port);
    {
        std::lock_guard lock(m_mutex);
        m_lines[number].port = port;
    }
    changed();
}

void StatusFile::lineRemoved(unsigned number)
{
    if (m_next.lines)
        m_next.lines->lineRemoved(number);
    {
        std::lock_guard lock(m_mutex);
        m_lines.erase(number);
    }
    changed();
}

void StatusFile::lineChanged(unsigned number, const std::string& stateText, const std::string& taskText,
                             calls::LineIcon icon, const std::string& remark)
{
    if (m_next.lines)
        m_next.lines->lineChanged(number, stateText, taskText, icon, remark);
    {
        std::lock_guard lock(m_mutex);
        LineState& line = m_lines[number];
        line.stateText = stateText;
        line.taskText = taskText;
        line.icon = icon;
    }
    // A line's busy and free follow every call; the file follows the passes and the results.
}

void StatusFile::showAnswer(const std::string& word)
{
    if (m_next.lines)
        m_next.lines->showAnswer(word);
}

void StatusFile::showMessage(const std::string& caption, const std::string& text)
{
    if (m_next.lines)
        m_next.lines->showMessage(caption, text);
}

void StatusFile::showSchedulerState(const std::string& text, bool paused)
{
    if (m_next.station)
        m_next.station->showSchedulerState(text, paused);
    {
        std::lock_guard lock(m_mutex);
        m_paused = paused;
        m_schedulerText = text;
    }
    changed();
}

void StatusFile::showLocalPhoneState(const std::string& text, bool on)
{
    if (m_next.station)
        m_next.station->showLocalPhoneState(text, on);
    {
        std::lock_guard lock(m_mutex);
        m_localPhone = on;
        m_localPhoneText = text;
    }
    changed();
}

void StatusFile::showNotice(const std::string& caption, const std::string& text)
{
    if (m_next.station)
        m_next.station->showNotice(caption, text);
}

void StatusFile::noteChange(const std::string& text)
{
    if (m_next.station)
        m_next.station->noteChange(text);
}

void StatusFile::callEnded(unsigned line, const std::string& port, std::uint32_t result, const calls::TaskLink& link,
                           const std::string& reason)
{
    if (m_next.outcomes)
        m_next.outcomes->callEnded(line, port, result, link, reason);
    {
        std::lock_guard lock(m_mutex);
        LineState& state = m_lines[line];
        state.port = port;
        state.lastResult = result;
        ++m_calls[resultIndex(result)];
    }
    changed();
}

std::string StatusFile::render()
{
    const auto now = std::chrono::system_clock::now();
    json status = {{"time", utcText(now)},
                   {"unix_time", unixSeconds(now)},
                   {"started", utcText(m_started)},
                   {"pid", static_cast<long long>(getpid())},
                   {"lock", m_lock},
                   {"tick_ms", m_tick.count()},
                   {"last_pass", m_lastPass ? json(utcText(*m_lastPass)) : json(nullptr)},
                   {"last_pass_unix", m_lastPass ? json(unixSeconds(*m_lastPass)) : json(nullptr)},
                   {"scheduler", {{"paused", m_paused}, {"text", m_schedulerText}}},
                   {"local_phone", {{"on", m_localPhone}, {"text", m_localPhoneText}}}};
    json lines = json::array();
    for (const auto& [number, line] : m_lines) {
        json last = nullptr;
        if (line.lastResult)
            last = {{"code", *line.lastResult},
                    {"name", kResultNames[resultIndex(*line.lastResult)]},
                    {"word", calls::answerWord(*line.lastResult)}};
        lines.push_back({{"number", number},
                         {"port", line.port},
                         {"state", iconName(line.icon)},
                         {"state_text", line.stateText},
                         {"task", line.taskText},
                         {"last_result", last}});
    }
    status["lines"] = std::move(lines);
    json tasks = json::array();
    for (const auto& [id, row] : m_tasks)
        tasks.push_back({{"id", id},
                         {"name", row.name},
                         {"state", taskStateName(row.state)},
                         {"state_text", row.stateText},
                         {"notified", row.notified},
                         {"last_error", row.remark}});
    status["tasks"] = std::move(tasks);
    json calls = json::object();
    for (std::size_t i = 0; i < m_calls.size(); ++i)
        calls[kResultNames[i]] = m_calls[i];
    status["calls"] = std::move(calls);
    // Texts from tables and ports may hold bytes that are not UTF-8: they are replaced, never fatal.
    return status.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

void StatusFile::writer()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_dirty || m_stopping; });
        if (!m_dirty)
            return;
        m_dirty = false;
        const std::string content = render();
        lock.unlock();
        std::string error;
        const bool written = platform::replaceFile(m_path, content, error);
        lock.lock();
        if (!written && error != m_writeError)
            std::fprintf(stderr, "peltra: %s: %s\n", m_path.string().c_str(), error.c_str());
        m_writeError = written ? std::string() : error;
    }
}

}  // namespace peltra::shell
