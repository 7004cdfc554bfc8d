// Tests of the one-shot timer service: order, punctuality and cancellation.
#include "platform/timer/TimerService.h"

#include "platform/sync/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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

TEST(TimerServiceTest, FiresInDeadlineOrderAndTiesInSchedulingOrder)
{
    TimerService timers;
    std::vector<int> order;  // written on the timer thread only, read after `done`
    Event done(true, false);
    const auto base = Clock::now() + 20ms;
    const std::pair<std::chrono::milliseconds, int> entries[] = {{30ms, 5}, {0ms, 1}, {20ms, 3},
                                                                 {10ms, 2}, {20ms, 4}, {40ms, 6}};
    for (const auto& [offset, tag] : entries)
        timers.schedule(base + offset, [&order, &done, tag = tag] {
            order.push_back(tag);
            if (tag == 6)
                done.set();
        });
    ASSERT_TRUE(done.wait(safetyMs));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(TimerServiceTest, CallbacksRunOnTheTimerThreadNeitherEarlyNorMuchLate)
{
    TimerService timers;
    EXPECT_FALSE(timers.isTimerThread());
    RecordProperty("realTimePriority", timers.hasRealTimePriority() ? "yes" : "no");

    // Absolute deadlines, a past one (runs at once), and delays in ms and as a duration.
    constexpr int count = 8;
    std::vector<Clock::time_point> deadlines(count + 3);
    std::vector<Clock::time_point> fired(count + 3);
    std::atomic<bool> allOnTimerThread{true};
    std::atomic<int> left{count + 3};
    Event done(true, false);
    auto record = [&](int i) {
        return [&, i] {
            fired[i] = counterNow();
            allOnTimerThread = allOnTimerThread && timers.isTimerThread();
            if (--left == 0)
                done.set();
        };
    };
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        deadlines[i] = start + std::chrono::milliseconds(5 * (i + 1));
        timers.schedule(deadlines[i], record(i));
    }
    deadlines[count] = start;
    timers.schedule(start - 1s, record(count));
    deadlines[count + 1] = start + 15ms;
    timers.scheduleAfter(std::uint32_t{15}, record(count + 1));
    deadlines[count + 2] = start + 30ms;
    timers.scheduleAfter(std::chrono::microseconds(30000), record(count + 2));
    ASSERT_TRUE(done.wait(safetyMs));
    EXPECT_TRUE(allOnTimerThread.load());
    for (int i = 0; i < count + 3; ++i) {
        EXPECT_GE(fired[i], deadlines[i]) << "timer " << i << " ran early";
        EXPECT_LT(fired[i] - deadlines[i], lateTolerance) << "timer " << i;
    }
}

TEST(TimerServiceTest, CancelRemovesOnlyAPendingTimerAndWaitsForARunningOne)
{
    TimerService timers;
    EXPECT_EQ(timers.scheduleAfter(std::uint32_t{1}, TimerService::Callback()), TimerService::invalidTimer);
    std::atomic<bool> cancelledRan{false};
    Event later(false, false);
    const auto id = timers.scheduleAfter(std::uint32_t{20}, [&] { cancelledRan = true; });
    const auto laterId = timers.scheduleAfter(std::uint32_t{40}, [&] { later.set(); });
    ASSERT_NE(id, TimerService::invalidTimer);
    EXPECT_TRUE(timers.cancel(id));
    EXPECT_FALSE(timers.cancel(id)) << "a second cancel finds nothing";
    ASSERT_TRUE(later.wait(safetyMs));
    EXPECT_FALSE(cancelledRan.load());
    std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(timers.cancel(laterId)) << "it has run";
    EXPECT_FALSE(timers.cancel(TimerService::invalidTimer));

    // The owner of what a callback touches cancels it and may then destroy that state at once.
    Event entered(true, false);
    auto state = std::make_unique<std::atomic<int>>(0);
    const auto running = timers.scheduleAfter(std::uint32_t{1}, [&entered, raw = state.get()] {
        entered.set();
        std::this_thread::sleep_for(40ms);
        *raw = 1;
    });
    ASSERT_TRUE(entered.wait(safetyMs));
    EXPECT_FALSE(timers.cancel(running)) << "it was already running";
    EXPECT_EQ(state->load(), 1) << "cancel returned before the callback finished";
}

}  // namespace
}  // namespace peltra::platform
