// The running tasks: the scheduler pass that starts, restarts, stops and removes them by their
// definitions and schedules, the hand-out of rows to lines (least recently served task first),
// the outcomes written back, and the end-of-work notice.
#pragma once

#include "config/ConfigStore.h"
#include "config/Schedules.h"
#include "engine/ActiveTask.h"
#include "engine/StationFlags.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace peltra::engine {

// What the task list view shows. Called under the collection's lock, from the controller thread
// or the thread that runs a pass; an implementation queues the change and returns.
class TaskListView {
public:
    virtual ~TaskListView() = default;
    virtual void taskAdded(const TaskRow& row) = 0;
    virtual void taskChanged(const TaskRow& row) = 0;
    virtual void taskRemoved(std::uint32_t id) = 0;
    // A pass found no task busy: the end of work ("PELTRA_COMPLETE").
    virtual void workComplete() = 0;
    // A whole pass found no task busy and none that will be without a change of the store
    // (told before workComplete): reasons says why, one line per task, or one for the station.
    virtual void nothingCanRun(const std::vector<std::string>& /*reasons*/) {}
    // A pass has read the definitions and brought every task up to date.
    virtual void passEnded() {}
};

// A row handed to a line, with the task that owns it.
struct Work {
    std::uint32_t taskId = 0;
    HandOut handOut;
};

class ListActiveTasks {
public:
    ListActiveTasks(config::ConfigStore& store, StationFlags& flags);
    ~ListActiveTasks();
    ListActiveTasks(const ListActiveTasks&) = delete;
    ListActiveTasks& operator=(const ListActiveTasks&) = delete;

    void setView(TaskListView* view);
    // What the allowed test takes as now, and the data sources' clock; the tests turn them.
    void setClock(std::function<std::time_t()> clock);
    // The passes that Get work and Result run read every definition; when they come faster
    // than this, the reading is left to the next one (the end-of-work check still runs).
    void setPassInterval(std::chrono::milliseconds interval) { m_passInterval = interval; }

    // A whole pass: removal, start and update, end of work.
    void schedulerPass();

    // The next row for the line on port, from the busy task served least recently; nothing
    // when there is no work. A number in a call on another line is not handed out until that
    // call's outcome has come back (two tasks may select the same person).
    std::optional<Work> getWork(const std::string& port);
    // Writes an outcome into the task that owns the row; a task removed meanwhile is ignored.
    void result(std::uint32_t taskId, long long row, OutcomeKind kind);
    // Shows why a call of the task failed as its last error; a task removed meanwhile is ignored.
    void noteCallError(std::uint32_t taskId, const std::string& reason);

    bool hasUnfinishedSessions();
    // Asks every task to stop; true when none is busy any more.
    bool requestStopAll();
    // Removes every task (at shutdown).
    void clear();

    std::vector<TaskRow> rows();

private:
    void passLocked(bool readDefinitions);
    // explain: a whole pass has just run, so a task that is not open could not be opened.
    void checkCompleteLocked(bool explain = false);
    // Why no task can run without a change of the store; empty when one is only waiting for its
    // time window. Only right after a whole pass that left no task busy.
    std::vector<std::string> idleReasonsLocked();
    bool allowedNow(const config::TaskDefinition& definition);
    void refreshLocked(ActiveTask& task);

    config::ConfigStore& m_store;
    StationFlags& m_flags;
    TaskListView* m_view = nullptr;
    std::function<std::time_t()> m_clock;
    std::chrono::milliseconds m_passInterval{1000};
    std::chrono::steady_clock::time_point m_lastPass{};
    bool m_passed = false;

    // A row handed to a line whose outcome has not come back: its number is in a call.
    struct InCall {
        std::uint32_t taskId = 0;
        long long row = 0;
        std::string number;
    };

    std::mutex m_mutex;
    std::vector<std::unique_ptr<ActiveTask>> m_tasks;
    std::vector<InCall> m_inCall;
    std::uint32_t m_nextId = 0;
    std::uint32_t m_serviceCounter = 0;
};

}  // namespace peltra::engine
