// One-shot timers with callbacks, run on one dedicated thread against absolute monotonic deadlines.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace peltra::platform {

// The high-resolution counter: steady_clock (CLOCK_MONOTONIC), also the timers' clock.
std::chrono::steady_clock::time_point counterNow();
// The same counter in nanoseconds since an arbitrary fixed origin.
std::int64_t counterNowNs();

// A timer thread. Each timer runs its callback once, on the timer thread, at or shortly after its
// deadline; timers with the same deadline run in the order they were scheduled. Callbacks run one
// at a time and must be short (they delay every later timer): they may schedule and cancel
// timers, which is how pulse dialing chains make and break. The thread asks for real-time
// priority (SCHED_FIFO) and keeps normal priority when that is not permitted.
//
// schedule, scheduleAfter and cancel may be called from any thread, callbacks included. The
// service must not be destroyed from one of its own callbacks.
class TimerService {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Callback = std::function<void()>;
    using TimerId = std::uint64_t;

    // Never returned for a scheduled timer.
    static constexpr TimerId invalidTimer = 0;

    TimerService();
    // Stops and joins the thread after the callback in progress, if any; timers still pending are
    // dropped without running.
    ~TimerService();
    TimerService(const TimerService&) = delete;
    TimerService& operator=(const TimerService&) = delete;

    // Runs callback at deadline (at once when it has passed). Returns invalidTimer for an empty
    // callback.
    TimerId schedule(TimePoint deadline, Callback callback);
    // Runs callback delay from now.
    TimerId scheduleAfter(Clock::duration delay, Callback callback);
    TimerId scheduleAfter(std::uint32_t delayMs, Callback callback);

    // Removes a pending timer; true when it was removed before it ran. When the timer's callback is
    // running, waits for it to return (so the caller may then destroy what it touches) and returns
    // false — except on the timer thread itself, where waiting could never end.
    bool cancel(TimerId id);

    // True on the timer thread, that is, inside a callback.
    bool isTimerThread() const;
    // Whether the thread got real-time priority.
    bool hasRealTimePriority() const;

private:
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;      // a timer was added or the service is stopping
    std::condition_variable m_callbackDone; // the running callback returned
    // Pending timers by deadline, then id (ids grow, so ties run in scheduling order).
    std::map<std::pair<TimePoint, TimerId>, Callback> m_pending;
    std::unordered_map<TimerId, TimePoint> m_deadlines;
    TimerId m_nextId = 1;
    TimerId m_running = invalidTimer;
    bool m_stopping = false;
    bool m_realTime = false;
    bool m_started = false;
    std::thread::id m_threadId;
    std::thread m_thread;
};

}  // namespace peltra::platform
