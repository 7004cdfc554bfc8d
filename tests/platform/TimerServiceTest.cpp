// Tests of the one-shot timer service: order, punctuality, cancellation, chains and shutdown.
#include "platform/timer/TimerService.h"

#include "platform/sync/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace peltra::platform {
namespace {

using namespace std::chrono_literals;
using Clock = TimerService::Clock;

// Allowed lateness of a callback; a plain build is far better (see the lateness benchmark), this
// leaves room for a sanitizer build on a loaded machine.
constexpr auto lateTolerance = 25ms;
constexpr std::uint32_t safetyMs = 5000;

// Records the order in which callbacks ran.
class Journal {
public:
    void add(int value)
    {
        std::lock_guard lock(m_mutex);
        m_values.push_back(value);
    }
    std::vector<int> values() const
    {
        std::lock_guard lock(m_mutex);
        return m_values;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_values;
};

TEST(TimerServiceTest, FiresInDeadlineOrderAndTiesInSchedulingOrder)
{
    TimerService timers;
    Journal journal;
    Event done(true, false);
    const auto base = Clock::now() + 20ms;
    struct Entry {
        std::chrono::milliseconds offset;
        int tag;
    };
    const Entry entries[] = {{30ms, 5}, {0ms, 1}, {20ms, 3}, {10ms, 2}, {20ms, 4}, {40ms, 6}};
    for (const Entry& e : entries)
        timers.schedule(base + e.offset, [&journal, &done, tag = e.tag] {
            journal.add(tag);
            if (tag == 6)
                done.set();
        });
    ASSERT_TRUE(done.wait(safetyMs));
    EXPECT_EQ(journal.values(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(TimerServiceTest, CallbacksRunOnTheTimerThreadNeitherEarlyNorMuchLate)
{
    TimerService timers;
    EXPECT_FALSE(timers.isTimerThread());
    RecordProperty("realTimePriority", timers.hasRealTimePriority() ? "yes" : "no");

    constexpr int count = 8;
    std::vector<Clock::time_point> deadlines(count);
    std::vector<Clock::time_point> fired(count);
    std::atomic<bool> allOnTimerThread{true};
    Event done(true, false);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        deadlines[i] = start + std::chrono::milliseconds(5 * (i + 1));
        timers.schedule(deadlines[i], [&, i] {
            fired[i] = counterNow();
            if (!timers.isTimerThread())
                allOnTimerThread = false;
            if (i == count - 1)
                done.set();
        });
    }
    ASSERT_TRUE(done.wait(safetyMs));
    EXPECT_TRUE(allOnTimerThread.load());
    for (int i = 0; i < count; ++i) {
        EXPECT_GE(fired[i], deadlines[i]) << "timer " << i << " ran early";
        EXPECT_LT(fired[i] - deadlines[i], lateTolerance) << "timer " << i;
    }
}

TEST(TimerServiceTest, ScheduleAfterMillisecondsAndDuration)
{
    TimerService timers;
    Event first(false, false);
    Event second(false, false);
    const auto start = Clock::now();
    timers.scheduleAfter(std::uint32_t{15}, [&] { first.set(); });
    timers.scheduleAfter(std::chrono::microseconds(30000), [&] { second.set(); });
    ASSERT_TRUE(first.wait(safetyMs));
    EXPECT_GE(Clock::now() - start, 15ms);
    ASSERT_TRUE(second.wait(safetyMs));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 30ms);
    EXPECT_LT(elapsed, 30ms + lateTolerance);
}

TEST(TimerServiceTest, PastDeadlineRunsAtOnce)
{
    TimerService timers;
    Event fired(false, false);
    const auto start = Clock::now();
    timers.schedule(start - 1s, [&] { fired.set(); });
    ASSERT_TRUE(fired.wait(safetyMs));
    EXPECT_LT(Clock::now() - start, lateTolerance);
}

TEST(TimerServiceTest, EmptyCallbackIsRefused)
{
    TimerService timers;
    EXPECT_EQ(timers.scheduleAfter(std::uint32_t{1}, TimerService::Callback()), TimerService::invalidTimer);
}

TEST(TimerServiceTest, CancelBeforeFiringRemovesTheTimer)
{
    TimerService timers;
    std::atomic<bool> cancelledRan{false};
    Event later(false, false);
    const auto id = timers.scheduleAfter(std::uint32_t{20}, [&] { cancelledRan = true; });
    timers.scheduleAfter(std::uint32_t{40}, [&] { later.set(); });
    ASSERT_NE(id, TimerService::invalidTimer);
    EXPECT_TRUE(timers.cancel(id));
    EXPECT_FALSE(timers.cancel(id)) << "a second cancel finds nothing";
    ASSERT_TRUE(later.wait(safetyMs));
    EXPECT_FALSE(cancelledRan.load());
    EXPECT_FALSE(timers.cancel(TimerService::invalidTimer));
    EXPECT_FALSE(timers.cancel(id + 1000));
}

TEST(TimerServiceTest, CancelAfterFiringReturnsFalse)
{
    TimerService timers;
    Event fired(false, false);
    const auto id = timers.scheduleAfter(std::uint32_t{1}, [&] { fired.set(); });
    ASSERT_TRUE(fired.wait(safetyMs));
    std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(timers.cancel(id));
}

// The owner of what a callback touches cancels it and may then destroy that state at once.
TEST(TimerServiceTest, CancelDuringRunningCallbackWaitsForIt)
{
    TimerService timers;
    Event entered(true, false);
    auto state = std::make_unique<std::atomic<int>>(0);
    std::atomic<int>* raw = state.get();
    const auto id = timers.scheduleAfter(std::uint32_t{1}, [&entered, raw] {
        entered.set();
        std::this_thread::sleep_for(40ms);
        *raw = 1;
    });
    ASSERT_TRUE(entered.wait(safetyMs));
    EXPECT_FALSE(timers.cancel(id)) << "it was already running";
    EXPECT_EQ(state->load(), 1) << "cancel returned before the callback finished";
    state.reset();
}

TEST(TimerServiceTest, CancelFromInsideCallbacks)
{
    TimerService timers;
    std::atomic<bool> victimRan{false};
    std::atomic<int> selfCancel{-1};
    std::atomic<int> otherCancel{-1};
    Event done(true, false);
    const auto victim = timers.scheduleAfter(std::uint32_t{30}, [&] { victimRan = true; });
    // The callback looks up its own id, so it waits until the id is stored.
    Event idKnown(true, false);
    std::atomic<TimerService::TimerId> self{TimerService::invalidTimer};
    self = timers.scheduleAfter(std::uint32_t{1}, [&] {
        idKnown.wait(safetyMs);
        selfCancel = timers.cancel(self.load()) ? 1 : 0;  // its own timer: must not wait for itself
        otherCancel = timers.cancel(victim) ? 1 : 0;
        done.set();
    });
    idKnown.set();
    ASSERT_TRUE(done.wait(safetyMs));
    EXPECT_EQ(selfCancel.load(), 0);
    EXPECT_EQ(otherCancel.load(), 1);
    std::this_thread::sleep_for(40ms);
    EXPECT_FALSE(victimRan.load());
}

// Pulse dialing chains timers from the callback: make, break, make, ...
TEST(TimerServiceTest, ChainScheduledFromCallbacksKeepsItsCadence)
{
    TimerService timers;
    constexpr int links = 6;
    const std::chrono::milliseconds steps[] = {8ms, 12ms};
    std::vector<Clock::time_point> fired;
    std::vector<Clock::time_point> deadlines;
    Event done(true, false);
    std::function<void(Clock::time_point)> link = [&](Clock::time_point deadline) {
        fired.push_back(counterNow());
        deadlines.push_back(deadline);
        if (static_cast<int>(fired.size()) == links) {
            done.set();
            return;
        }
        const auto next = deadline + steps[fired.size() % 2];
        timers.schedule(next, [&link, next] { link(next); });
    };
    const auto start = Clock::now();
    const auto first = start + steps[0];
    timers.schedule(first, [&link, first] { link(first); });
    ASSERT_TRUE(done.wait(safetyMs));
    ASSERT_EQ(fired.size(), static_cast<std::size_t>(links));
    for (int i = 0; i < links; ++i) {
        EXPECT_GE(fired[i], deadlines[i]);
        EXPECT_LT(fired[i] - deadlines[i], lateTolerance) << "link " << i;
    }
    // 8 + 12 + 8 + 12 + 8 + 12 ms from the start, not drifting with each link's lateness.
    EXPECT_EQ(deadlines.back() - start, 60ms);
}

TEST(TimerServiceTest, ThrowingCallbackDoesNotStopTheService)
{
    TimerService timers;
    Event after(false, false);
    timers.scheduleAfter(std::uint32_t{1}, [] { throw std::runtime_error("callback failure"); });
    timers.scheduleAfter(std::uint32_t{5}, [&] { after.set(); });
    EXPECT_TRUE(after.wait(safetyMs));
}

TEST(TimerServiceTest, DestructionDropsPendingTimersPromptly)
{
    auto captured = std::make_shared<int>(7);
    std::atomic<bool> ran{false};
    const auto start = Clock::now();
    {
        TimerService timers;
        timers.scheduleAfter(10s, [captured, &ran] { ran = true; });
        timers.scheduleAfter(std::uint32_t{200}, [captured, &ran] { ran = true; });
        EXPECT_EQ(captured.use_count(), 3);
    }
    EXPECT_LT(Clock::now() - start, 100ms);
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(captured.use_count(), 1) << "dropped callbacks are destroyed with the service";
}

TEST(TimerServiceTest, DestructionWaitsForTheRunningCallback)
{
    std::atomic<bool> finished{false};
    Event entered(true, false);
    {
        TimerService timers;
        timers.scheduleAfter(std::uint32_t{1}, [&] {
            entered.set();
            std::this_thread::sleep_for(30ms);
            finished = true;
        });
        ASSERT_TRUE(entered.wait(safetyMs));
    }
    EXPECT_TRUE(finished.load());
}

TEST(TimerServiceTest, CounterIsMonotonicNanoseconds)
{
    const auto a = counterNowNs();
    const auto t = counterNow();
    std::this_thread::sleep_for(2ms);
    const auto b = counterNowNs();
    EXPECT_GE(b - a, 2'000'000);
    EXPECT_LE(a, std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

}  // namespace
}  // namespace peltra::platform
