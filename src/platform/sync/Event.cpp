// Events and wait-for-any built on one process-wide mutex and a condition variable per wait.
#include "platform/sync/Event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

// How it works. One mutex guards the state of every event, so a wait can look at several events
// and register with them atomically; event operations are short, so the one lock costs little.
// A thread that has to block puts a Waiter (with its own condition variable) on the list of each
// event it waits on. A set() satisfies waiters directly, as the kernel does with Win32 events: it
// writes the waiter's result, takes the waiter off all its events' lists and wakes only that
// thread. An auto-reset event hands its signal to the first waiter on its list and stays reset, so
// exactly one waiter is released per set() and nothing can steal or lose the signal in between;
// with nobody waiting it stays signalled until a wait consumes it. Hence the invariant: a
// signalled event has no waiters.

namespace peltra::platform {

namespace detail {

struct Waiter {
    std::span<Event* const> events;
    std::condition_variable wake;
    int result = waitTimedOut;  // set by the event that satisfies the wait
};

}  // namespace detail

namespace {

std::mutex& eventMutex()
{
    static std::mutex mutex;
    return mutex;
}

int indexOf(std::span<Event* const> events, const Event* event)
{
    auto it = std::find(events.begin(), events.end(), event);
    return static_cast<int>(it - events.begin());
}

void withdraw(std::vector<detail::Waiter*>& waiters, const detail::Waiter* waiter)
{
    std::erase(waiters, waiter);
}

}  // namespace

Event::Event(bool manualReset, bool initiallySet) : m_manualReset(manualReset), m_signalled(initiallySet)
{
}

Event::~Event() = default;

void Event::set()
{
    std::lock_guard lock(eventMutex());
    if (m_signalled)
        return;
    if (m_manualReset) {
        m_signalled = true;
        while (!m_waiters.empty())
            satisfy(*m_waiters.front());
    } else if (!m_waiters.empty()) {
        satisfy(*m_waiters.front());
    } else {
        m_signalled = true;
    }
}

void Event::reset()
{
    std::lock_guard lock(eventMutex());
    m_signalled = false;
}

bool Event::isSet() const
{
    std::lock_guard lock(eventMutex());
    return m_signalled;
}

bool Event::wait(std::uint32_t timeoutMs)
{
    Event* self = this;
    return waitAny(std::span<Event* const>(&self, 1), timeoutMs) == 0;
}

// Called with the event mutex held. The waiter's thread may return as soon as the mutex is
// released, so it is woken while the mutex is still held and never touched afterwards.
void Event::satisfy(detail::Waiter& waiter)
{
    waiter.result = indexOf(waiter.events, this);
    for (Event* event : waiter.events)
        withdraw(event->m_waiters, &waiter);
    waiter.wake.notify_one();
}

int waitAny(std::span<Event* const> events, std::uint32_t timeoutMs)
{
    if (events.empty() || events.size() > maxWaitEvents)
        return waitFailed;
    if (std::find(events.begin(), events.end(), nullptr) != events.end())
        return waitFailed;

    // The deadline is taken before the lock so that time spent waiting for it counts.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);

    std::unique_lock lock(eventMutex());
    for (std::size_t i = 0; i < events.size(); ++i) {
        Event* event = events[i];
        if (event->m_signalled) {
            if (!event->m_manualReset)
                event->m_signalled = false;
            return static_cast<int>(i);
        }
    }
    if (timeoutMs == 0)
        return waitTimedOut;

    detail::Waiter waiter;
    waiter.events = events;
    for (std::size_t i = 0; i < events.size(); ++i) {
        // An event listed twice is registered once.
        if (indexOf(events, events[i]) == static_cast<int>(i))
            events[i]->m_waiters.push_back(&waiter);
    }

    auto satisfied = [&waiter] { return waiter.result != waitTimedOut; };
    if (timeoutMs == infiniteTimeout) {
        waiter.wake.wait(lock, satisfied);
        return waiter.result;
    }
    if (waiter.wake.wait_until(lock, deadline, satisfied))
        return waiter.result;

    // Timed out: no event picked this waiter, so nothing was consumed on its behalf.
    for (Event* event : events)
        withdraw(event->m_waiters, &waiter);
    return waitTimedOut;
}

int waitAny(std::initializer_list<Event*> events, std::uint32_t timeoutMs)
{
    return waitAny(std::span<Event* const>(events.begin(), events.size()), timeoutMs);
}

}  // namespace peltra::platform
