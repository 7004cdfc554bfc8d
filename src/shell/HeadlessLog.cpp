// The headless station's log.
#include "shell/HeadlessLog.h"

#include "platform/text/Trim.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace peltra::shell {

using platform::oneLine;

namespace {

// What a line's monitor window would show that matters without one: its error messages.
class LineMessages : public line::LineView {
public:
    LineMessages(HeadlessLog& log, std::string port) : m_log(log), m_port(std::move(port)) {}
    void showMessage(const std::string& caption, const std::string& text) override
    {
        m_log.write(m_port + ": " + oneLine(caption) + ": " + oneLine(text));
    }

private:
    HeadlessLog& m_log;
    std::string m_port;
};

std::string resultText(std::uint32_t result)
{
    switch (result) {
    case line::kCallDelivered:
        return "delivered";
    case line::kCallNoAnswer:
        return "no answer";
    case line::kCallHungUp:
        return "hung up";
    default:
        return "error";
    }
}

}  // namespace

HeadlessLog::HeadlessLog(std::FILE* out) : m_out(out), m_stamped(std::getenv("JOURNAL_STREAM") == nullptr) {}

void HeadlessLog::write(const std::string& text)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    std::lock_guard lock(m_mutex);
    if (m_stamped)
        std::fprintf(m_out, "%s %s\n", stamp, text.c_str());
    else
        std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
}

std::unique_ptr<line::LineView> HeadlessLog::lineView(unsigned, const std::string& port)
{
    return std::make_unique<LineMessages>(*this, port);
}

void HeadlessLog::noteTask(const engine::TaskRow& row, bool added)
{
    const bool busy = row.state == engine::TaskState::Running || row.state == engine::TaskState::Idle ||
                      row.state == engine::TaskState::Withdrawing;
    if (busy)
        m_sawBusy = true;
    const std::string shown = row.stateText + (row.remark.empty() ? "" : " (" + row.remark + ")");
    {
        std::lock_guard lock(m_mutex);
        // Work again: the next time nothing can run is news again.
        if (busy)
            m_idleReasons.clear();
        auto& last = m_taskStates[row.id];
        if (!added && last == shown)
            return;
        last = shown;
    }
    write("task " + row.name + ": " + shown + ", notified " + row.notified);
}

void HeadlessLog::taskAdded(const engine::TaskRow& row) { noteTask(row, true); }

void HeadlessLog::taskChanged(const engine::TaskRow& row) { noteTask(row, false); }

void HeadlessLog::taskRemoved(std::uint32_t id)
{
    {
        std::lock_guard lock(m_mutex);
        m_taskStates.erase(id);
    }
    write("task #" + std::to_string(id) + " removed");
}

void HeadlessLog::workComplete()
{
    if (m_sawBusy && !m_completed.isSet()) {
        write("no task is busy: the work is complete");
        m_completed.set();
    }
}

void HeadlessLog::nothingCanRun(const std::vector<std::string>& reasons)
{
    {
        std::lock_guard lock(m_mutex);
        if (reasons == m_idleReasons)
            return;
        m_idleReasons = reasons;
    }
    for (const std::string& reason : reasons)
        write("nothing can run: " + oneLine(reason));
    m_completed.set();
}

void HeadlessLog::lineAdded(unsigned number, const std::string& port)
{
    write("line " + std::to_string(number) + " on " + port + " added");
}

void HeadlessLog::lineRemoved(unsigned number)
{
    {
        std::lock_guard lock(m_mutex);
        m_lineStates.erase(number);
    }
    write("line " + std::to_string(number) + " removed");
}

void HeadlessLog::lineChanged(unsigned number, const std::string& stateText, const std::string&, calls::LineIcon icon,
                              const std::string&)
{
    // Busy and free follow every call; only a line going out of order or coming back is news.
    const bool outOfOrder = icon == calls::LineIcon::OutOfOrder;
    {
        std::lock_guard lock(m_mutex);
        auto& last = m_lineStates[number];
        const std::string now = outOfOrder ? "out" : "in";
        if (last == now || (last.empty() && !outOfOrder)) {
            last = now;
            return;
        }
        last = now;
    }
    write("line " + std::to_string(number) + ": " + stateText);
}

void HeadlessLog::showMessage(const std::string& caption, const std::string& text)
{
    write(oneLine(caption) + ": " + oneLine(text));
}

void HeadlessLog::showSchedulerState(const std::string& text, bool) { write(text); }

void HeadlessLog::showLocalPhoneState(const std::string& text, bool) { write(text); }

void HeadlessLog::showNotice(const std::string& caption, const std::string& text)
{
    write(oneLine(caption) + ": " + oneLine(text));
}

void HeadlessLog::noteChange(const std::string& text) { write(text); }

void HeadlessLog::callEnded(unsigned line, const std::string& port, std::uint32_t result, const calls::TaskLink& link,
                            const std::string& reason)
{
    write("line " + std::to_string(line) + " (" + port + ") " + link.text + " row " + std::to_string(link.row) + ": " +
          calls::answerWord(result) + " (" + resultText(result) + (reason.empty() ? "" : ": " + oneLine(reason)) + ")");
}

}  // namespace peltra::shell
