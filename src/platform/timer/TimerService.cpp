// The timer thread: waits for the earliest deadline on CLOCK_MONOTONIC and runs due callbacks.
#include "platform/timer/TimerService.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

namespace peltra::platform {

namespace {

// Above ordinary real-time helpers, well below the kernel's own threads.
constexpr int timerThreadPriority = 20;
// Timer slack of the timer thread in ns: wake-ups as punctual as the kernel can make them.
constexpr unsigned long timerSlackNs = 1;

// Asks for SCHED_FIFO; silently stays at normal priority when not permitted.
bool raisePriority()
{
    prctl(PR_SET_TIMERSLACK, timerSlackNs, 0, 0, 0);
    sched_param param{};
    param.sched_priority = timerThreadPriority;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace

std::chrono::steady_clock::time_point counterNow()
{
    return std::chrono::steady_clock::now();
}

std::int64_t counterNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(counterNow().time_since_epoch()).count();
}

TimerService::TimerService()
{
    m_thread = std::thread([this] { run(); });
    // Wait until the thread has its id and priority so that the accessors are settled.
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_started; });
}

TimerService::~TimerService()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
    // Pending callbacks (and what they captured) are destroyed here, on the destroying thread.
}

TimerService::TimerId TimerService::schedule(TimePoint deadline, Callback callback)
{
    if (!callback)
        return invalidTimer;
    bool earliest = false;
    TimerId id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        auto it = m_pending.emplace(std::make_pair(deadline, id), std::move(callback)).first;
        m_deadlines.emplace(id, deadline);
        earliest = it == m_pending.begin();
    }
    // Only a new earliest deadline changes what the thread waits for.
    if (earliest)
        m_changed.notify_all();
    return id;
}

TimerService::TimerId TimerService::scheduleAfter(Clock::duration delay, Callback callback)
{
    return schedule(counterNow() + delay, std::move(callback));
}

TimerService::TimerId TimerService::scheduleAfter(std::uint32_t delayMs, Callback callback)
{
    return scheduleAfter(std::chrono::milliseconds(delayMs), std::move(callback));
}

bool TimerService::cancel(TimerId id)
{
    if (id == invalidTimer)
        return false;
    Callback removed;  // destroyed after the lock is released
    std::unique_lock lock(m_mutex);
    auto found = m_deadlines.find(id);
    if (found != m_deadlines.end()) {
        auto pending = m_pending.find(std::make_pair(found->second, id));
        removed = std::move(pending->second);
        m_pending.erase(pending);
        m_deadlines.erase(found);
        return true;
    }
    if (m_running == id && std::this_thread::get_id() != m_threadId)
        m_callbackDone.wait(lock, [this, id] { return m_running != id; });
    return false;
}

bool TimerService::isTimerThread() const
{
    return std::this_thread::get_id() == m_threadId;
}

bool TimerService::hasRealTimePriority() const
{
    std::lock_guard lock(m_mutex);
    return m_realTime;
}

void TimerService::run()
{
    pthread_setname_np(pthread_self(), "peltra-timer");
    const bool realTime = raisePriority();

    std::unique_lock lock(m_mutex);
    m_threadId = std::this_thread::get_id();
    m_realTime = realTime;
    m_started = true;
    m_changed.notify_all();

    while (!m_stopping) {
        if (m_pending.empty()) {
            m_changed.wait(lock);
            continue;
        }
        auto first = m_pending.begin();
        const TimePoint deadline = first->first.first;
        if (counterNow() < deadline) {
            // steady_clock waits are absolute CLOCK_MONOTONIC waits.
            m_changed.wait_until(lock, deadline);
            continue;
        }
        const TimerId id = first->first.second;
        Callback callback = std::move(first->second);
        m_pending.erase(first);
        m_deadlines.erase(id);
        m_running = id;
        lock.unlock();
        try {
            callback();
        } catch (...) {
            // A throwing callback must not take the timer thread, and every later timer, with it.
        }
        callback = nullptr;
        lock.lock();
        m_running = invalidTimer;
        m_callbackDone.notify_all();
    }
}

}  // namespace peltra::platform
