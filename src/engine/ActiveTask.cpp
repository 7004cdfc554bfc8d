// A running task and its state.
#include "engine/ActiveTask.h"

#include "platform/text/CaseFold.h"

namespace peltra::engine {

std::string_view taskStateText(TaskState state)
{
    switch (state) {
    case TaskState::Stopped:
        return "Остановлено";
    case TaskState::Running:
        return "Выполняется";
    case TaskState::Idle:
        return "Бездействует";
    case TaskState::Finished:
        return "Завершено";
    case TaskState::Withdrawing:
        return "Снимается";
    }
    return "";
}

std::string taskKeyOf(const config::TaskDefinition& definition)
{
    // A backslash never stands in a key name, so the pair is unambiguous.
    return platform::foldCase(definition.binding) + "\\" + platform::foldCase(definition.task);
}

bool settingsDiffer(const config::TaskDefinition& a, const config::TaskDefinition& b)
{
    return a.file != b.file || a.fieldSort != b.fieldSort || a.ascend != b.ascend || a.typefilter != b.typefilter ||
           a.filterText != b.filterText || a.repeat != b.repeat || a.repeatType != b.repeatType ||
           a.repeatDay != b.repeatDay || a.repeatMinute != b.repeatMinute || a.repeatTimes != b.repeatTimes ||
           a.repeatField != b.repeatField;
}

ActiveTask::ActiveTask(std::uint32_t id, config::ConfigStore& store, const config::TaskDefinition& definition)
    : m_id(id), m_binding(definition.binding), m_task(definition.task), m_key(taskKeyOf(definition)), m_source(store)
{
    m_source.setDefinition(definition);
}

config::TaskDefinition ActiveTask::settings()
{
    std::lock_guard lock(m_mutex);
    return m_source.definition();
}

void ActiveTask::adopt(const config::TaskDefinition& definition)
{
    std::lock_guard lock(m_mutex);
    m_source.clearFlags();
    m_source.setDefinition(definition);
}

bool ActiveTask::open()
{
    std::lock_guard lock(m_mutex);
    const bool wasOpen = m_source.isOpen();
    const bool opened = m_source.open();
    if (opened && !wasOpen)
        m_callError.clear();
    return opened;
}

int ActiveTask::nextRow(HandOut& out, const std::function<bool(std::string_view number)>& inCallElsewhere)
{
    std::lock_guard lock(m_mutex);
    return m_source.nextRow(out, inCallElsewhere);
}

void ActiveTask::setRedialLimits(const config::TaskDefinition& definition)
{
    std::lock_guard lock(m_mutex);
    m_source.setRedialLimits(definition.retryMinute, definition.maxAttempts);
}

void ActiveTask::writeResult(long long row, OutcomeKind kind)
{
    std::lock_guard lock(m_mutex);
    m_source.writeResult(row, kind);
}

bool ActiveTask::retryResults()
{
    std::lock_guard lock(m_mutex);
    return m_source.retryResults();
}

void ActiveTask::abandonResults()
{
    std::lock_guard lock(m_mutex);
    m_source.abandonResults();
}

void ActiveTask::noteCallError(const std::string& reason)
{
    std::lock_guard lock(m_mutex);
    m_callError = reason;
}

void ActiveTask::requestStop()
{
    std::lock_guard lock(m_mutex);
    m_source.requestStop();
}

TaskState ActiveTask::stateLocked() const
{
    if (!m_source.isOpen())
        return m_source.exhausted() ? TaskState::Finished : TaskState::Stopped;
    if (m_source.stopping())
        return TaskState::Withdrawing;
    return m_source.rowsOut() > 0 ? TaskState::Running : TaskState::Idle;
}

TaskState ActiveTask::state()
{
    std::lock_guard lock(m_mutex);
    return stateLocked();
}

bool ActiveTask::busy()
{
    std::lock_guard lock(m_mutex);
    return m_source.isOpen();
}

std::uint32_t ActiveTask::serviceStamp()
{
    std::lock_guard lock(m_mutex);
    return m_serviceStamp;
}

void ActiveTask::setServiceStamp(std::uint32_t stamp)
{
    std::lock_guard lock(m_mutex);
    m_serviceStamp = stamp;
}

TaskRow ActiveTask::row()
{
    std::lock_guard lock(m_mutex);
    TaskRow row;
    row.id = m_id;
    row.name = m_binding + "\\" + m_task;
    row.state = stateLocked();
    row.stateText = std::string(taskStateText(row.state));
    row.notified = std::to_string(m_source.notified()) + " из " + std::to_string(m_source.recordCount());
    // An error of the table outweighs one of a call: it stops the task.
    row.remark = m_source.lastError().empty() ? m_callError : m_source.lastError();
    return row;
}

void ActiveTask::setClock(std::function<std::time_t()> clock)
{
    std::lock_guard lock(m_mutex);
    m_source.setClock(std::move(clock));
}

}  // namespace peltra::engine
