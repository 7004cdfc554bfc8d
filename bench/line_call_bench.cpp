// Measures a whole line against the simulated exchange: pulse-dialing edges as the exchange sees
// them, and whether a long message streams at the real port rate without the transmit queue ever
// running dry while the other core is kept busy.
//
// Usage: bench_line_call [pulses|stream|all] [streamSeconds]
// Defaults: all; a 60 s message. pulses takes about 20 s, stream the message's length plus 2 s.
#include "line/Form1.h"
#include "line/PhonogramLibrary.h"
#include "platform/timer/TimerService.h"
#include "sim/Simulator.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace peltra;

class Settings : public line::CallSettingsSource {
public:
    explicit Settings(line::CallSettings settings) : m_settings(std::move(settings)) {}
    line::CallSettings callSettings(const std::string&) override { return m_settings; }

private:
    line::CallSettings m_settings;
};

class Result : public line::CallResultSink {
public:
    void callFinished(unsigned, std::uint32_t result, const std::string&) override
    {
        m_result.store(result);
        m_done.set();
    }
    platform::Event m_done{true, false};
    std::atomic<std::uint32_t> m_result{0};
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

// One call on SIM1 with the given settings and phrases; the simulator's record of it.
std::optional<sim::CallRecord> runCall(const line::CallSettings& callSettings, bool realTime,
                                       const std::filesystem::path& library,
                                       const std::vector<std::string>& phrases,
                                       const std::string& number)
{
    sim::SimOptions options;
    options.realTime = realTime;
    sim::Simulator simulator(1, options);
    sim::PartyBehaviour party;
    party.answerAfterMs = 0;
    simulator.setDefaultBehaviour(party);
    simulator.setBehaviour(number, party);

    platform::TimerService timers;
    platform::Event shutdown{true, false};
    Settings settings(callSettings);
    line::LineEnvironment environment(simulator, timers, shutdown, settings);
    environment.library = library;
    Result result;
    {
        line::Form1 device(environment);
        device.setOwner(&result);
        if (!device.Open(0, "SIM1"))
            return std::nullopt;
        device.GetPhraseList() = phrases;
        if (!device.StartCall(number))
            return std::nullopt;
        result.m_done.wait();
    }
    if (!simulator.waitForCalls(1, 5000))
        return std::nullopt;
    std::printf("result %u\n", result.m_result.load());
    return simulator.calls().front();
}

std::filesystem::path writeLibrary(const std::filesystem::path& folder, int seconds,
                                   std::vector<std::string>& phrases)
{
    // One-second phrases, so the playback hands a buffer over every second as in a real message.
    std::vector<line::PhonogramLibrary::Phrase> chunks;
    std::vector<std::uint8_t> pcm;
    for (int k = 0; k < 8000; ++k) {
        const auto s = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 300 * k / 8000.0));
        pcm.push_back(static_cast<std::uint8_t>(s & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    for (int i = 0; i < 10; ++i)
        chunks.push_back({"_00" + std::to_string(i), pcm});
    for (int i = 0; i < seconds; ++i)
        phrases.push_back("_00" + std::to_string(i % 10));
    const auto path = folder / "bench.awf";
    line::PhonogramLibrary::write(path, line::PhonogramLibrary::pcmFormat(), chunks);
    return path;
}

bool benchPulses(const std::filesystem::path& library)
{
    line::CallSettings settings;
    settings.dial.pulseMode = true;
    settings.dial.delayFirstMs = 100;
    settings.ringOffMs = 10;
    // Ten digits "0": 100 breaks and 90 makes between them, about 20 s.
    const auto record = runCall(settings, false, library, {"_000"}, "0000000000");
    if (!record) {
        std::printf("pulses: the call did not run\n");
        return false;
    }
    std::vector<double> deviations;
    for (double b : record->breakMs)
        deviations.push_back(std::fabs(b - sim::kNominalBreakMs));
    for (double m : record->makeMs)
        deviations.push_back(std::fabs(m - sim::kNominalMakeMs));
    const double p50 = percentile(deviations, 0.5), p99 = percentile(deviations, 0.99);
    const double worst = percentile(deviations, 1.0);
    std::printf("pulses: dialed %s, %zu breaks, %zu makes\n", record->dialed.c_str(),
                record->breakMs.size(), record->makeMs.size());
    std::printf("pulses: deviation from 62/38 ms  p50 %.3f ms  p99 %.3f ms  max %.3f ms  "
                "(target p99 <= 2 ms)\n", p50, p99, worst);
    return record->dialed == "0000000000" && p99 <= 2.0;
}

bool benchStream(const std::filesystem::path& library, const std::vector<std::string>& phrases)
{
    std::atomic<bool> busy{true};
    // Keeps the other core busy, as a report or a table scan would.
    std::thread hog([&] {
        volatile std::uint64_t spin = 0;
        while (busy.load(std::memory_order_relaxed))
            spin = spin + 1;
    });
    line::CallSettings settings;
    settings.dial.pulseMode = false;
    settings.dial.delayFirstMs = 50;
    settings.ringOffMs = 10;
    settings.waitAnswerS = 5;
    const auto started = std::chrono::steady_clock::now();
    const auto record = runCall(settings, true, library, phrases, "5");
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    busy.store(false);
    hog.join();
    if (!record) {
        std::printf("stream: the call did not run\n");
        return false;
    }
    const double speechSeconds = static_cast<double>(record->partyHeardBytes) / 11520.0;
    std::printf("stream: %zu s message, %llu bytes heard by the party (%.2f s), %u underruns, "
                "call took %.2f s (target 0 underruns)\n",
                phrases.size(), static_cast<unsigned long long>(record->partyHeardBytes),
                speechSeconds, record->underruns, took);
    return record->underruns == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string which = argc > 1 ? argv[1] : "all";
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    const auto folder = std::filesystem::temp_directory_path() /
                        ("peltra-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::vector<std::string> phrases;
    const auto library = writeLibrary(folder, seconds, phrases);
    bool ok = true;
    if (which == "pulses" || which == "all")
        ok = benchPulses(library) && ok;
    if (which == "stream" || which == "all")
        ok = benchStream(library, phrases) && ok;
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
