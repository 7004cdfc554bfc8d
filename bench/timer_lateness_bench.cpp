// Measures how late one-shot timers run, with the 38/62 ms make/break cadence of pulse dialing.
//
// Usage: bench_timer_lateness [chains [timersPerChain [singleChainTimers]]]
// Defaults: 100 chains of 100 timers (10,000 timers, as many lines dialing at once, about 5 s),
// then one chain of 300 timers (one line dialing alone, about 15 s).
#include "platform/timer/TimerService.h"

#include "platform/sync/Event.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using peltra::platform::Event;
using peltra::platform::TimerService;
using Clock = TimerService::Clock;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds makeMs{38};
constexpr std::chrono::milliseconds breakMs{62};
// Lateness that fails a pulse digit: the make limit is 43 ms for 38 ms, the break limit 72 ms for 62.
constexpr std::chrono::microseconds makeLimit{5000};
constexpr std::chrono::microseconds breakLimit{10000};

struct Sample {
    std::int64_t latenessUs;
    bool make;
};

// One chain: each callback records its lateness and schedules the next timer from its own deadline.
class Chain {
public:
    Chain(TimerService& timers, int length, std::vector<Sample>& out, std::mutex& outMutex, Event& done,
          int& chainsLeft)
        : m_timers(timers), m_length(length), m_out(out), m_outMutex(outMutex), m_done(done), m_chainsLeft(chainsLeft)
    {
    }

    void start(Clock::time_point first) { scheduleAt(first); }

private:
    void scheduleAt(Clock::time_point deadline)
    {
        m_timers.schedule(deadline, [this, deadline] { fire(deadline); });
    }

    void fire(Clock::time_point deadline)
    {
        const auto now = peltra::platform::counterNow();
        const bool make = m_fired % 2 == 0;
        const auto lateness = std::chrono::duration_cast<std::chrono::microseconds>(now - deadline).count();
        ++m_fired;
        std::lock_guard lock(m_outMutex);
        m_out.push_back({lateness, make});
        if (m_fired < m_length) {
            // The delay just waited decides the next one: a make is followed by a break and so on.
            scheduleAt(deadline + (make ? breakMs : makeMs));
        } else if (--m_chainsLeft == 0) {
            m_done.set();
        }
    }

    TimerService& m_timers;
    const int m_length;
    int m_fired = 0;
    std::vector<Sample>& m_out;
    std::mutex& m_outMutex;
    Event& m_done;
    int& m_chainsLeft;
};

std::int64_t percentile(const std::vector<std::int64_t>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    std::size_t rank = static_cast<std::size_t>(p * static_cast<double>(sorted.size()) + 0.999999);
    rank = std::clamp<std::size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
}

bool run(const char* title, int chainCount, int length)
{
    auto timers = std::make_unique<TimerService>();
    const bool realTime = timers->hasRealTimePriority();
    std::vector<Sample> samples;
    samples.reserve(static_cast<std::size_t>(chainCount) * static_cast<std::size_t>(length));
    std::mutex samplesMutex;
    Event done(true, false);
    int chainsLeft = chainCount;
    std::vector<std::unique_ptr<Chain>> chains;
    for (int i = 0; i < chainCount; ++i)
        chains.push_back(std::make_unique<Chain>(*timers, length, samples, samplesMutex, done, chainsLeft));

    // Chains start spread over one make interval, as lines that began dialing at different moments.
    const auto start = Clock::now() + 20ms;
    for (int i = 0; i < chainCount; ++i)
        chains[i]->start(start + makeMs * i / chainCount);

    const auto expected = (makeMs + breakMs) * length / 2;
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(expected + 30s);
    const bool finished = done.wait(static_cast<std::uint32_t>(limit.count()));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // Stopped before the chains go, so that no callback can run on a chain that is gone.
    timers.reset();

    std::vector<std::int64_t> lateness;
    int pulseFaults = 0;
    std::int64_t earliest = 0;
    for (const Sample& s : samples) {
        lateness.push_back(s.latenessUs);
        earliest = std::min(earliest, s.latenessUs);
        if (s.latenessUs > (s.make ? makeLimit : breakLimit).count())
            ++pulseFaults;
    }
    std::sort(lateness.begin(), lateness.end());

    std::printf("%s\n", title);
    std::printf("  chains %d x %d timers = %zu timers in %.2f s%s\n", chainCount, length, lateness.size(), seconds,
                finished ? "" : "  (DID NOT FINISH)");
    std::printf("  real-time priority: %s\n", realTime ? "yes (SCHED_FIFO)" : "no (normal)");
    std::printf("  lateness us: p50 %lld  p99 %lld  max %lld  (earliest %lld)\n",
                static_cast<long long>(percentile(lateness, 0.50)), static_cast<long long>(percentile(lateness, 0.99)),
                static_cast<long long>(lateness.empty() ? 0 : lateness.back()), static_cast<long long>(earliest));
    std::printf("  timers late enough to fail a pulse digit (>5 ms make, >10 ms break): %d\n", pulseFaults);
    return finished && earliest >= 0;
}

int argument(int argc, char** argv, int index, int fallback)
{
    if (argc <= index)
        return fallback;
    const int value = std::atoi(argv[index]);
    return value > 0 ? value : fallback;
}

}  // namespace

int main(int argc, char** argv)
{
    const int chains = argument(argc, argv, 1, 100);
    const int perChain = argument(argc, argv, 2, 100);
    const int single = argument(argc, argv, 3, 300);
    std::printf("Timer lateness, 38/62 ms make/break cadence\n\n");
    bool ok = run("Many lines dialing at once", chains, perChain);
    std::printf("\n");
    ok = run("One line dialing alone", 1, single) && ok;
    return ok ? 0 : 1;
}
