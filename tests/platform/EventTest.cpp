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
bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds limit = 2000ms)
{
    const auto deadline = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct InitialCase {
    bool manual;
    bool initiallySet;
    bool setAfterWait;  // state after one wait(0)
};

class EventInitialTest : public ::testing::TestWithParam<InitialCase> {};

TEST_P(EventInitialTest, InitialStateAndOneZeroWait)
{
    const InitialCase c = GetParam();
    Event event(c.manual, c.initiallySet);
    EXPECT_EQ(event.isManualReset(), c.manual);
    EXPECT_EQ(event.isSet(), c.initiallySet);
    EXPECT_EQ(event.isSet(), c.initiallySet) << "isSet must not consume";
    EXPECT_EQ(event.wait(0), c.initiallySet);
    EXPECT_EQ(event.isSet(), c.setAfterWait);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EventInitialTest,
                         ::testing::Values(InitialCase{true, false, false}, InitialCase{true, true, true},
                                           InitialCase{false, false, false}, InitialCase{false, true, false}));

TEST(EventTest, ManualResetStaysSetUntilReset)
{
    Event event(true, false);
    event.set();
    event.set();
    EXPECT_TRUE(event.wait(0));
    EXPECT_TRUE(event.wait(0));
    event.reset();
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(event.wait(0));
}

TEST(EventTest, AutoResetSignalIsConsumedOnceAndSetsDoNotAccumulate)
{
    Event event(false, false);
    event.set();
    event.set();
    EXPECT_TRUE(event.wait(0));
    EXPECT_FALSE(event.wait(0));
    event.set();
    event.reset();
    EXPECT_FALSE(event.wait(0));
}

TEST(EventTest, ManualResetReleasesEveryWaiter)
{
    Event event(true, false);
    constexpr int waiterCount = 8;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < waiterCount; ++i)
        waiters.emplace_back([&] {
            if (event.wait(safetyMs))
                ++released;
        });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(released.load(), 0);
    event.set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), waiterCount);
    EXPECT_TRUE(event.isSet());
}

// Many threads on one auto-reset event: each set releases exactly one of them.
TEST(EventTest, AutoResetReleasesExactlyOneWaiterPerSet)
{
    Event event(false, false);
    constexpr int waiterCount = 16;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < waiterCount; ++i)
        waiters.emplace_back([&] {
            if (event.wait(safetyMs))
                ++released;
        });
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(released.load(), 0);

    for (int n = 1; n <= 5; ++n) {
        event.set();
        ASSERT_TRUE(eventually([&] { return released.load() >= n; })) << "set " << n << " released nobody";
        std::this_thread::sleep_for(5ms);
        EXPECT_EQ(released.load(), n) << "set " << n << " released more than one waiter";
        EXPECT_FALSE(event.isSet());
    }
    for (int n = 6; n <= waiterCount; ++n) {
        event.set();
        ASSERT_TRUE(eventually([&] { return released.load() >= n; }));
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), waiterCount);
    EXPECT_FALSE(event.isSet());
}

TEST(EventTest, LowestSignalledIndexWinsAndOnlyItIsConsumed)
{
    Event a(false, false);
    Event b(false, true);
    Event c(true, true);
    Event d(false, true);
    EXPECT_EQ(waitAny({&a, &b, &c, &d}, 0), 1);
    EXPECT_FALSE(b.isSet());
    EXPECT_TRUE(c.isSet());
    EXPECT_TRUE(d.isSet()) << "an auto-reset event that did not end the wait keeps its signal";
    EXPECT_EQ(waitAny({&a, &b, &c, &d}, 0), 2);
    EXPECT_EQ(waitAny({&a, &b, &c, &d}, 0), 2) << "manual-reset stays set";
    c.reset();
    EXPECT_EQ(waitAny({&a, &b, &c, &d}, 0), 3);
    EXPECT_EQ(waitAny({&a, &b, &c, &d}, 0), waitTimedOut);
}

TEST(EventTest, RepeatedEventReportsItsFirstIndex)
{
    Event a(false, false);
    Event b(false, true);
    EXPECT_EQ(waitAny({&a, &b, &a, &b}, 0), 1);

    std::atomic<int> result{-100};
    std::thread waiter([&] { result = waitAny({&b, &a, &a}, safetyMs); });
    std::this_thread::sleep_for(10ms);
    a.set();
    waiter.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_FALSE(a.isSet());
}

struct TimeoutCase {
    std::uint32_t timeoutMs;
};

class EventTimeoutTest : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(EventTimeoutTest, TimesOutNeitherEarlyNorMuchLate)
{
    const auto timeout = std::chrono::milliseconds(GetParam().timeoutMs);
    Event a(false, false);
    Event b(true, false);
    const auto start = Clock::now();
    EXPECT_EQ(waitAny({&a, &b}, GetParam().timeoutMs), waitTimedOut);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, timeout);
    EXPECT_LT(elapsed, timeout + lateTolerance);
}

INSTANTIATE_TEST_SUITE_P(Short, EventTimeoutTest,
                         ::testing::Values(TimeoutCase{0}, TimeoutCase{1}, TimeoutCase{20}, TimeoutCase{50}));

TEST(EventTest, TimedOutWaitLeavesNoTraceOnTheEvent)
{
    Event event(false, false);
    EXPECT_FALSE(event.wait(10));
    event.set();
    EXPECT_TRUE(event.isSet()) << "a withdrawn waiter must not take a later signal";
    EXPECT_TRUE(event.wait(0));
}

class EventWakeByAnyTest : public ::testing::TestWithParam<int> {};

// A thread blocked on several events wakes for whichever is set, and learns which.
TEST_P(EventWakeByAnyTest, WaiterOnSeveralWakesForTheOneSet)
{
    const int which = GetParam();
    Event manual(true, false);
    Event autoA(false, false);
    Event autoB(false, false);
    Event* events[] = {&manual, &autoA, &autoB};
    std::atomic<int> result{-100};
    Clock::time_point woke;
    std::thread waiter([&] {
        result = waitAny(events, safetyMs);
        woke = Clock::now();
    });
    std::this_thread::sleep_for(15ms);
    const auto setAt = Clock::now();
    events[which]->set();
    waiter.join();
    EXPECT_EQ(result.load(), which);
    EXPECT_LT(woke - setAt, lateTolerance);
    EXPECT_EQ(manual.isSet(), which == 0);
    EXPECT_FALSE(autoA.isSet());
    EXPECT_FALSE(autoB.isSet());
}

INSTANTIATE_TEST_SUITE_P(EachIndex, EventWakeByAnyTest, ::testing::Values(0, 1, 2));

// Threads each waiting on their own event and on one shared auto-reset event: one set of the shared
// event ends exactly one wait, and the others still wake on their own events.
TEST(EventTest, SharedAutoEventAmongOthersReleasesOneWaiter)
{
    constexpr int threadCount = 8;
    Event shared(false, false);
    std::vector<std::unique_ptr<Event>> own;
    for (int i = 0; i < threadCount; ++i)
        own.push_back(std::make_unique<Event>(false, false));
    std::vector<std::atomic<int>> results(threadCount);
    for (auto& r : results)
        r = -100;
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i)
        threads.emplace_back([&, i] {
            results[i] = waitAny({own[i].get(), &shared}, safetyMs);
            ++finished;
        });
    std::this_thread::sleep_for(20ms);
    shared.set();
    ASSERT_TRUE(eventually([&] { return finished.load() >= 1; }));
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(finished.load(), 1);
    for (auto& event : own)
        event->set();
    for (auto& t : threads)
        t.join();

    int byShared = 0;
    int byOwn = 0;
    for (auto& r : results) {
        byShared += r.load() == 1;
        byOwn += r.load() == 0;
    }
    EXPECT_EQ(byShared, 1);
    EXPECT_EQ(byOwn, threadCount - 1);
    EXPECT_FALSE(shared.isSet());
    // The thread that took the shared signal left its own event set.
    int ownStillSet = 0;
    for (auto& event : own)
        ownStillSet += event->isSet();
    EXPECT_EQ(ownStillSet, 1);
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
            for (;;) {
                const int r = waitAny({&stop, &first, &second}, safetyMs);
                if (r == 1 || r == 2)
                    ++taken[r - 1];
                else
                    return;
            }
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

TEST(EventTest, WaitOnSixtyFourEventsWorks)
{
    std::vector<std::unique_ptr<Event>> storage;
    std::vector<Event*> events;
    for (std::size_t i = 0; i < maxWaitEvents; ++i) {
        storage.push_back(std::make_unique<Event>(false, false));
        events.push_back(storage.back().get());
    }
    std::atomic<int> result{-100};
    std::thread waiter([&] { result = waitAny(events, safetyMs); });
    std::this_thread::sleep_for(10ms);
    events.back()->set();
    waiter.join();
    EXPECT_EQ(result.load(), 63);
}

TEST(EventTest, InvalidWaitsFailWithoutTouchingEvents)
{
    std::vector<std::unique_ptr<Event>> storage;
    std::vector<Event*> events;
    for (std::size_t i = 0; i <= maxWaitEvents; ++i) {
        storage.push_back(std::make_unique<Event>(false, true));
        events.push_back(storage.back().get());
    }
    EXPECT_EQ(waitAny(events, 0), waitFailed) << "65 events";
    EXPECT_EQ(waitAny(events, infiniteTimeout), waitFailed);
    EXPECT_TRUE(events.front()->isSet()) << "a rejected wait consumes nothing";

    EXPECT_EQ(waitAny(std::span<Event* const>(), 10), waitFailed) << "no events";
    EXPECT_EQ(waitAny({events[0], nullptr}, 10), waitFailed) << "null event";
    EXPECT_TRUE(events.front()->isSet());
}

}  // namespace
}  // namespace peltra::platform
