// The headless station's window onto itself: every line result, task state change, notice and
// error written as a time-stamped log line, and the end of work that --until-complete waits for.
#pragma once

#include "calls/ListLine.h"
#include "engine/Controller.h"
#include "engine/ListActiveTasks.h"
#include "line/LineInterfaces.h"
#include "platform/sync/Event.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace peltra::shell {

class HeadlessLog : public engine::TaskListView,
                    public calls::LineListView,
                    public engine::StationView,
                    public engine::CallOutcomeListener {
public:
    // out: where the lines go (the station's standard output).
    explicit HeadlessLog(std::FILE* out);

    // Writes "YYYY-MM-DD HH:MM:SS text" and flushes, so a killed station leaves whole lines. Under
    // systemd (JOURNAL_STREAM set) the time stamp is left out: the journal adds its own.
    void write(const std::string& text);

    // Set by the first pass that finds no task busy after some task has been busy, or that finds
    // no task able to run at all.
    platform::Event& completed() { return m_completed; }

    // The monitor view of one line: its error messages.
    std::unique_ptr<line::LineView> lineView(unsigned number, const std::string& port);

    void taskAdded(const engine::TaskRow& row) override;
    void taskChanged(const engine::TaskRow& row) override;
    void taskRemoved(std::uint32_t id) override;
    void workComplete() override;
    // "nothing can run: <reason>", one line each, written again only when the reasons change.
    void nothingCanRun(const std::vector<std::string>& reasons) override;

    void lineAdded(unsigned number, const std::string& port) override;
    void lineRemoved(unsigned number) override;
    void lineChanged(unsigned number, const std::string& stateText, const std::string& taskText,
                     calls::LineIcon icon, const std::string& remark) override;
    void showMessage(const std::string& caption, const std::string& text) override;

    void showSchedulerState(const std::string& text, bool paused) override;
    void showLocalPhoneState(const std::string& text, bool on) override;
    void showNotice(const std::string& caption, const std::string& text) override;
    void noteChange(const std::string& text) override;

    // "line 0 (SIM1) <task> row 3: Ошибка (error: <reason>)"
    void callEnded(unsigned line, const std::string& port, std::uint32_t result, const calls::TaskLink& link,
                   const std::string& reason) override;

private:
    void noteTask(const engine::TaskRow& row, bool added);

    std::FILE* m_out;
    bool m_stamped;
    std::mutex m_mutex;
    std::map<std::uint32_t, std::string> m_taskStates;  // the last state and remark logged
    std::map<unsigned, std::string> m_lineStates;
    std::vector<std::string> m_idleReasons;  // the last reasons logged
    std::atomic<bool> m_sawBusy{false};
    platform::Event m_completed{true, false};
};

}  // namespace peltra::shell
