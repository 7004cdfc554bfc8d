// Tests of manual- and auto-reset events and of the wait for any of several.
#include "platform/sync/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace peltra::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Upper slack for a wait's time-out; generous enough for a sanitizer build on a busy machine.
constexpr auto lateTolerance = 60ms;
// A limit for waits that are expected to end much sooner; only reached when something is wrong.
constexpr std::uint32_t safetyMs = 5000;

// Polls until pred holds or the limit passes; returns the final value of pred.
bool eventually(const std::function<bool()>& pred)
{
    for (const auto deadline = Clock::now() + 2s; !pred(); std::this_thread::sleep_for(1ms))
        if (Clock::now() > deadline)
            return false;
    return true;
}

TEST(EventTest, SetResetAndZeroWaits)
{
    const struct {
        bool manual;
        bool initiallySet;
        const char* steps;    // s = set, r = reset, w = wait(0), ? = isSet
        const char* results;  // of each w and ?, in order: 1 or 0
    } cases[] = {
        {true, false, "?w", "00"}, {true, true, "?w?", "111"}, {true, false, "sswwr?w", "1100"},  // set until reset
        {false, false, "?w", "00"}, {false, true, "??w?w", "11100"},  // isSet does not consume; a wait does
        {false, false, "ssww", "10"}, {false, false, "srw", "0"},      // sets do not accumulate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.manual ? "manual " : "auto ") + (c.initiallySet ? "set " : "") + c.steps);
        Event event(c.manual, c.initiallySet);
        std::string results;
        for (const char* step = c.steps; *step; ++step) {
            switch (*step) {
            case 's': event.set(); break;
            case 'r': event.reset(); break;
            case 'w': results += event.wait(0) ? '1' : '0'; break;
            case '?': results += event.isSet() ? '1' : '0'; break;
            }
        }
        EXPECT_EQ(results, c.results);
    }
}

// Many threads on one event: a set of a manual-reset event releases them all, a set of an
// auto-reset one exactly one of them.
TEST(EventTest, SetReleasesEveryWaiterOrExactlyOne)
{
    constexpr int waiterCount = 16;
    for (const bool manual : {true, false}) {
        SCOPED_TRACE(manual ? "manual" : "auto");
        Event event(manual, false);
        std::atomic<int> released{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < waiterCount; ++i)
            waiters.emplace_back([&] { released += event.wait(safetyMs); });
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(released.load(), 0);
        for (int n = 1; n <= (manual ? 1 : waiterCount); ++n) {
            event.set();
            const int expected = manual ? waiterCount : n;
            if (!eventually([&] { return released.load() >= expected; })) {
                ADD_FAILURE() << "set " << n << " released " << released.load() << " waiters in all";
                break;  // the others time out; no test may leave while its threads run
            }
            if (n <= 5) {
                std::this_thread::sleep_for(5ms);
                EXPECT_EQ(released.load(), expected) << "set " << n << " released too many";
                EXPECT_EQ(event.isSet(), manual);
            }
        }
        for (auto& t : waiters)
            t.join();
        EXPECT_EQ(released.load(), waiterCount);
    }
}

TEST(EventTest, TimesOutNeitherEarlyNorMuchLateAndLeavesNoTrace)
{
    Event a(false, false);
    EXPECT_FALSE(a.wait(10));
    a.set();
    EXPECT_TRUE(a.isSet()) << "a withdrawn waiter must not take a later signal";
    EXPECT_TRUE(a.wait(0));

    Event b(true, false);
    for (const std::uint32_t timeoutMs : {0u, 1u, 20u, 50u}) {
        SCOPED_TRACE(timeoutMs);
        const auto start = Clock::now();
        EXPECT_EQ(waitAny({&a, &b}, timeoutMs), waitTimedOut);
        const auto elapsed = Clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(timeoutMs));
        EXPECT_LT(elapsed, std::chrono::milliseconds(timeoutMs) + lateTolerance);
    }
}

// Several consumers on two auto-reset events against two setters, each set handed over before the
// next: no signal is lost and none is taken twice.
TEST(EventTest, ConcurrentSettersAndConsumersCountEverySignalOnce)
{
    constexpr int setsPerEvent = 200;
    Event first(false, false);
    Event second(false, false);
    Event stop(true, false);
    std::atomic<int> taken[2] = {0, 0};
    std::vector<std::thread> consumers;
    for (int i = 0; i < 4; ++i)
        consumers.emplace_back([&] {
            for (int r; (r = waitAny({&stop, &first, &second}, safetyMs)) == 1 || r == 2;)
                ++taken[r - 1];
        });
    auto setter = [&](Event& event, int slot) {
        for (int n = 1; n <= setsPerEvent; ++n) {
            event.set();
            if (!eventually([&] { return taken[slot].load() >= n; }))
                return;
        }
    };
    std::thread setFirst(setter, std::ref(first), 0);
    std::thread setSecond(setter, std::ref(second), 1);
    setFirst.join();
    setSecond.join();
    stop.set();
    for (auto& t : consumers)
        t.join();
    EXPECT_EQ(taken[0].load(), setsPerEvent);
    EXPECT_EQ(taken[1].load(), setsPerEvent);
    EXPECT_FALSE(first.isSet());
    EXPECT_FALSE(second.isSet());
}

}  // namespace
}  // namespace peltra::platform
