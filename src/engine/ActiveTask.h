// One running notification task: its data source under its own lock, its id and service stamp,
// and the state the task list shows.
#pragma once

#include "config/Operator.h"
#include "engine/TaskDataSource.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace peltra::engine {

enum class TaskState {
    Stopped = 0,      // rows closed, not finished
    Running = 1,      // rows open, at least one out on a line
    Idle = 2,         // rows open, none out
    Finished = 3,     // nothing left to call
    Withdrawing = 4,  // asked to stop while rows are out
};

std::string_view taskStateText(TaskState state);

// What the task list shows of one task.
struct TaskRow {
    std::uint32_t id = 0;
    std::string name;       // binding, backslash, task
    TaskState state = TaskState::Stopped;
    std::string stateText;
    std::string notified;   // "%u из %u": notified since the start, of the rows selected
    std::string remark;     // the last error
};

// The key of a definition's binding and task, folded as the store compares names.
std::string taskKeyOf(const config::TaskDefinition& definition);

// Whether two definitions differ in a setting that needs the task's rows selected again.
bool settingsDiffer(const config::TaskDefinition& running, const config::TaskDefinition& stored);

// Every operation takes the task's own lock; the collection's lock, when held, is taken first.
class ActiveTask {
public:
    ActiveTask(std::uint32_t id, config::ConfigStore& store, const config::TaskDefinition& definition);

    std::uint32_t id() const { return m_id; }
    const std::string& binding() const { return m_binding; }
    const std::string& task() const { return m_task; }
    // Binding and task folded as the store compares names: what finds the task's definition.
    const std::string& key() const { return m_key; }

    // The settings the task runs with; adopt() replaces them and clears the stopping and
    // finished flags (a restart with the definition as it is now).
    config::TaskDefinition settings();
    void adopt(const config::TaskDefinition& definition);

    bool open();
    int nextRow(HandOut& out, const std::function<bool(std::string_view number)>& inCallElsewhere);
    void setRedialLimits(const config::TaskDefinition& definition);
    void writeResult(long long row, OutcomeKind kind);
    // Results a busy table kept back: tried again (true when some was settled), or given up.
    bool retryResults();
    void abandonResults();
    // A call of the task failed: its reason is the task's last error until a later error or the
    // next successful open.
    void noteCallError(const std::string& reason);
    void requestStop();

    TaskState state();
    // The rows are open: some work is unfinished.
    bool busy();
    std::uint32_t serviceStamp();
    void setServiceStamp(std::uint32_t stamp);
    TaskRow row();

    // For the data source's clock in tests.
    void setClock(std::function<std::time_t()> clock);

private:
    TaskState stateLocked() const;

    const std::uint32_t m_id;
    const std::string m_binding;
    const std::string m_task;
    const std::string m_key;
    std::mutex m_mutex;
    TaskDataSource m_source;
    std::uint32_t m_serviceStamp = 0;
    std::string m_callError;
};

}  // namespace peltra::engine
