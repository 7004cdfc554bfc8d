// The running tasks, the scheduler pass and the hand-out of rows.
#include "engine/ListActiveTasks.h"

#include "config/TaskStore.h"
#include <algorithm>
#include <unordered_map>

namespace peltra::engine {


ListActiveTasks::ListActiveTasks(config::ConfigStore& store, StationFlags& flags)
    : m_store(store), m_flags(flags), m_clock([] { return std::time(nullptr); })
{
}

ListActiveTasks::~ListActiveTasks() = default;

void ListActiveTasks::setView(TaskListView* view)
{
    std::lock_guard lock(m_mutex);
    m_view = view;
}

void ListActiveTasks::setClock(std::function<std::time_t()> clock)
{
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
    for (const auto& task : m_tasks)
        task->setClock(m_clock);
}

bool ListActiveTasks::allowedNow(const config::TaskDefinition& definition)
{
    config::Operator task(m_store, definition.binding, definition.task);
    return task.allowedAt(m_flags, config::localTime(m_clock()));
}

void ListActiveTasks::refreshLocked(ActiveTask& task)
{
    if (m_view)
        m_view->taskChanged(task.row());
}

void ListActiveTasks::schedulerPass()
{
    std::lock_guard lock(m_mutex);
    passLocked(true);
}

void ListActiveTasks::passLocked(bool readDefinitions)
{
    // Results a busy table kept back are tried at every pass: each try waits only briefly.
    for (const auto& task : m_tasks)
        if (task->retryResults())
            refreshLocked(*task);
    const auto now = std::chrono::steady_clock::now();
    if (!readDefinitions && m_passed && now - m_lastPass < m_passInterval) {
        checkCompleteLocked();
        return;
    }
    m_passed = true;
    m_lastPass = now;
    const std::vector<config::TaskDefinition> definitions = config::TaskStore(m_store).definitions();
    std::unordered_map<std::string, const config::TaskDefinition*> byKey;
    for (const config::TaskDefinition& definition : definitions)
        byKey.emplace(taskKeyOf(definition), &definition);

    // Removal: definitions gone or no longer valid; busy tasks stay until their rows are back.
    for (std::size_t i = 0; i < m_tasks.size();) {
        ActiveTask& task = *m_tasks[i];
        const auto definition = byKey.find(task.key());
        if (definition != byKey.end() && definition->second->valid) {
            ++i;
            continue;
        }
        task.requestStop();
        if (task.busy()) {
            refreshLocked(task);
            ++i;
            continue;
        }
        if (m_view)
            m_view->taskRemoved(task.id());
        m_tasks.erase(m_tasks.begin() + static_cast<std::ptrdiff_t>(i));
    }

    // Start and update, binding by binding in the store's order.
    std::unordered_map<std::string, ActiveTask*> running;
    for (const auto& task : m_tasks)
        running.emplace(task->key(), task.get());
    for (const config::TaskDefinition& definition : definitions) {
        if (!definition.valid)
            continue;
        if (const auto found = running.find(taskKeyOf(definition)); found != running.end()) {
            ActiveTask& task = *found->second;
            task.setRedialLimits(definition);
            if (settingsDiffer(task.settings(), definition)) {
                task.requestStop();
                if (!task.busy()) {
                    task.adopt(definition);
                    if (allowedNow(definition))
                        task.open();
                }
            } else if (allowedNow(definition)) {
                task.open();
            } else {
                task.requestStop();
            }
            refreshLocked(task);
            continue;
        }
        if (m_flags.waitingForCompletion())
            continue;
        auto task = std::make_unique<ActiveTask>(m_nextId++, m_store, definition);
        task->setClock(m_clock);
        if (allowedNow(definition))
            task->open();
        if (m_view)
            m_view->taskAdded(task->row());
        m_tasks.push_back(std::move(task));
    }
    checkCompleteLocked(true);
    if (m_view)
        m_view->passEnded();
}

void ListActiveTasks::checkCompleteLocked(bool explain)
{
    for (const auto& task : m_tasks)
        if (task->busy())
            return;
    if (!m_view)
        return;
    if (explain) {
        if (const std::vector<std::string> reasons = idleReasonsLocked(); !reasons.empty())
            m_view->nothingCanRun(reasons);
    }
    m_view->workComplete();
}

std::vector<std::string> ListActiveTasks::idleReasonsLocked()
{
    if (m_flags.paused())
        return {kSchedulerPaused};
    if (m_tasks.empty())
        return {"no task is included in scheduling (\"Включить в планирование\")"};
    std::vector<std::string> reasons;
    for (const auto& task : m_tasks) {
        const TaskRow row = task->row();
        const std::string name = "task " + row.name + ": ";
        if (row.state == TaskState::Finished) {
            reasons.push_back(name + row.stateText + ", nothing left to call, notified " + row.notified);
            continue;
        }
        config::Operator definition(m_store, task->binding(), task->task());
        if (!definition.allowedAt(m_flags, config::localTime(m_clock()))) {
            // A closed window opens again; a task without any never runs.
            if (!definition.schedules().names().empty())
                return {};
            reasons.push_back(name + "no schedule (\"Расписание\") lets it call");
            continue;
        }
        // Allowed now, and yet the pass that just tried could not open its table.
        if (row.remark.empty())
            return {};
        reasons.push_back(name + row.stateText + " (" + row.remark + ")");
    }
    return reasons;
}

std::optional<Work> ListActiveTasks::getWork(const std::string& port)
{
    std::lock_guard lock(m_mutex);
    passLocked(false);

    std::vector<ActiveTask*> candidates;
    for (const auto& task : m_tasks)
        if (task->busy())
            candidates.push_back(task.get());
    // Least recently served first; among equals, the older task.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](ActiveTask* a, ActiveTask* b) { return a->serviceStamp() < b->serviceStamp(); });
    if (m_flags.linkTaskPortManual()) {
        std::erase_if(candidates, [&](ActiveTask* task) {
            config::Operator definition(m_store, task->binding(), task->task());
            return !definition.availablePorts().contains(port);
        });
    }
    std::optional<Work> work;
    for (ActiveTask* task : candidates) {
        Work candidate;
        const auto inCallElsewhere = [&](std::string_view number) {
            return std::any_of(m_inCall.begin(), m_inCall.end(), [&](const InCall& call) {
                return call.taskId != task->id() && call.number == number;
            });
        };
        const bool handedOut = task->nextRow(candidate.handOut, inCallElsewhere) == 0;
        if (handedOut) {
            candidate.taskId = task->id();
            task->setServiceStamp(++m_serviceCounter);
            m_inCall.push_back({candidate.taskId, candidate.handOut.row, candidate.handOut.phone});
            work = std::move(candidate);
        }
        refreshLocked(*task);
        if (handedOut)
            break;
    }
    // A task finds that nothing is left only when asked for its next row: tell the end of work
    // now, not at the next tick.
    if (!work)
        checkCompleteLocked();
    return work;
}

void ListActiveTasks::result(std::uint32_t taskId, long long row, OutcomeKind kind)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_inCall, [&](const InCall& call) { return call.taskId == taskId && call.row == row; });
    for (const auto& task : m_tasks) {
        if (task->id() == taskId) {
            task->writeResult(row, kind);
            refreshLocked(*task);
            break;
        }
    }
    passLocked(false);
}

void ListActiveTasks::noteCallError(std::uint32_t taskId, const std::string& reason)
{
    std::lock_guard lock(m_mutex);
    for (const auto& task : m_tasks) {
        if (task->id() == taskId) {
            task->noteCallError(reason);
            refreshLocked(*task);
            break;
        }
    }
}

bool ListActiveTasks::hasUnfinishedSessions()
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_tasks.begin(), m_tasks.end(), [](const auto& task) { return task->busy(); });
}

bool ListActiveTasks::requestStopAll()
{
    std::lock_guard lock(m_mutex);
    bool anyBusy = false;
    for (const auto& task : m_tasks) {
        task->requestStop();
        refreshLocked(*task);
        anyBusy = anyBusy || task->busy();
    }
    return !anyBusy;
}

void ListActiveTasks::clear()
{
    std::lock_guard lock(m_mutex);
    for (const auto& task : m_tasks) {
        // A result still kept from its table gets one last short try; what is left is named.
        task->retryResults();
        task->abandonResults();
        refreshLocked(*task);
        if (m_view)
            m_view->taskRemoved(task->id());
    }
    m_tasks.clear();
    m_inCall.clear();
}

std::vector<TaskRow> ListActiveTasks::rows()
{
    std::lock_guard lock(m_mutex);
    std::vector<TaskRow> all;
    for (const auto& task : m_tasks)
        all.push_back(task->row());
    return all;
}

}  // namespace peltra::engine
