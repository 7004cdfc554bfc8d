// Manual- and auto-reset events with a wait for any of several, as the station's threads use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace peltra::platform {

// A time-out that never expires.
inline constexpr std::uint32_t infiniteTimeout = 0xFFFFFFFFu;
// The most events one wait may watch.
inline constexpr std::size_t maxWaitEvents = 64;
// waitAny results other than an event's index.
inline constexpr int waitTimedOut = -1;
inline constexpr int waitFailed = -2;

namespace detail {
struct Waiter;
}

// An event is signalled or not. A manual-reset event stays signalled until reset() and releases
// every waiter; an auto-reset event releases exactly one waiter per set() and is reset by the wait
// it satisfies. All members may be called from any thread. An event must outlive every wait on it.
class Event {
public:
    Event(bool manualReset, bool initiallySet);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // The current state, without consuming an auto-reset signal.
    bool isSet() const;
    bool isManualReset() const { return m_manualReset; }

    // Waits for this event alone; true when it was signalled within timeoutMs.
    bool wait(std::uint32_t timeoutMs = infiniteTimeout);

private:
    friend int waitAny(std::span<Event* const> events, std::uint32_t timeoutMs);
    // Ends the wait of a waiter on this event: records the event's index and withdraws the waiter
    // from every event it was waiting on.
    void satisfy(detail::Waiter& waiter);

    const bool m_manualReset;
    // Both guarded by the process-wide event mutex (see Event.cpp).
    bool m_signalled;
    std::vector<detail::Waiter*> m_waiters;
};

// Waits until one of the events is signalled or timeoutMs passes (infiniteTimeout: no limit; 0:
// test and return at once). Returns the index of the event that ended the wait, the lowest index
// when several were already signalled; only that event is consumed when it is auto-reset. Returns
// waitTimedOut on time-out and waitFailed for an empty list, more than maxWaitEvents events or a
// null pointer. The same event may appear more than once; its lowest index is reported.
int waitAny(std::span<Event* const> events, std::uint32_t timeoutMs);
int waitAny(std::initializer_list<Event*> events, std::uint32_t timeoutMs);

}  // namespace peltra::platform
