// The running station's state for people and monitoring: status.json in its home, rewritten after
// every scheduler pass and every call result, while every report goes on to the station's views.
#pragma once

#include "calls/ListLine.h"
#include "engine/Controller.h"
#include "engine/ListActiveTasks.h"
#include "engine/Station.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace peltra::shell {

// The file's name in the station's home.
inline constexpr char kStatusFileName[] = "status.json";

class StatusFile : public engine::TaskListView,
                   public calls::LineListView,
                   public engine::StationView,
                   public engine::CallOutcomeListener {
public:
    // next: the views every report goes on to (any member may be empty); tick: the scheduler's
    // period, written into the file so that a reader can tell a stale one.
    StatusFile(const std::filesystem::path& home, std::chrono::milliseconds tick, engine::StationViews next);
    // Writes what is still pending, then stops the writer.
    ~StatusFile() override;
    StatusFile(const StatusFile&) = delete;
    StatusFile& operator=(const StatusFile&) = delete;

    // The views to give the station: this object in front of next.
    engine::StationViews views();

    void taskAdded(const engine::TaskRow& row) override;
    void taskChanged(const engine::TaskRow& row) override;
    void taskRemoved(std::uint32_t id) override;
    void workComplete() override;
    void nothingCanRun(const std::vector<std::string>& reasons) override;
    void passEnded() override;

    void lineAdded(unsigned number, const std::string& port) override;
    void lineRemoved(unsigned number) override;
    void lineChanged(unsigned number, const std::string& stateText, const std::string& taskText,
                     calls::LineIcon icon, const std::string& remark) override;
    void showAnswer(const std::string& word) override;
    void showMessage(const std::string& caption, const std::string& text) override;

    void showSchedulerState(const std::string& text, bool paused) override;
    void showLocalPhoneState(const std::string& text, bool on) override;
    void showNotice(const std::string& caption, const std::string& text) override;
    void noteChange(const std::string& text) override;

    void callEnded(unsigned line, const std::string& port, std::uint32_t result, const calls::TaskLink& link,
                   const std::string& reason) override;

private:
    struct LineState {
        std::string port;
        std::string stateText;
        std::string taskText;
        calls::LineIcon icon = calls::LineIcon::Free;
        std::optional<std::uint32_t> lastResult;
    };

    // Asks the writer for a new file; the caller holds no lock.
    void changed();
    std::string render();
    void writer();

    std::filesystem::path m_path;
    std::chrono::milliseconds m_tick;
    engine::StationViews m_next;
    std::string m_lock;  // the lock file that marks the home in use

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_dirty = false;
    bool m_stopping = false;
    std::string m_writeError;  // the last failure, reported once until a write succeeds
    std::map<std::uint32_t, engine::TaskRow> m_tasks;
    std::map<unsigned, LineState> m_lines;
    bool m_paused = false;
    std::string m_schedulerText;
    bool m_localPhone = false;
    std::string m_localPhoneText;
    std::array<std::uint64_t, 4> m_calls{};  // delivered, no answer, hung up, error
    std::chrono::system_clock::time_point m_started;
    std::optional<std::chrono::system_clock::time_point> m_lastPass;
    std::thread m_thread;
};

}  // namespace peltra::shell
