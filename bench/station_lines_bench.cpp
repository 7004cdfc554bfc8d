// A timed tool: the whole station on simulated lines paced at the real port rate. One task calls
// three people per line, each hearing a six-second message; reports the calls made, the transmit
// underruns the exchange saw (there must be none), and the station's CPU time per line.
//
// Usage: bench_station_lines [lines]   (default 64, at most 256)
#include "calls/PortSettings.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "engine/Station.h"
#include "line/PhonogramLibrary.h"
#include "sim/Simulator.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using namespace peltra;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr unsigned kDefaultLines = 64;
constexpr unsigned kMaxLines = 256;
constexpr unsigned kPeoplePerLine = 3;
constexpr int kPhrases = 6;  // one second each

void die(const std::string& what)
{
    std::fprintf(stderr, "station_lines_bench: %s\n", what.c_str());
    std::exit(1);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One second of a soft tone as 8 kHz 16-bit PCM.
line::PhonogramLibrary::Bytes tone(double hz)
{
    line::PhonogramLibrary::Bytes pcm;
    for (int i = 0; i < 8000; ++i) {
        const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * 3.14159265358979 * hz * i / 8000.0));
        pcm.push_back(static_cast<std::uint8_t>(v & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(v) >> 8) & 0xFF));
    }
    return pcm;
}

void prepare(const fs::path& home, unsigned lines, sim::Simulator& simulator)
{
    const fs::path table = home / "abon.dbf";
    std::string error;
    if (!data::DbfTable::create(table,
                                {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
                                 {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 8, 0}},
                                866, false, &error))
        die(error);
    data::DbfTable::Options options;
    options.writable = true;
    auto file = data::DbfTable::open(table, options, &error);
    sim::PartyBehaviour party;
    party.answerAfterMs = 200;
    for (unsigned i = 0; i < lines * kPeoplePerLine; ++i) {
        const std::string number = std::to_string(3000000 + i);
        if (!file->append({{0, data::DbfValue::ofText(number)}, {1, data::DbfValue::ofNumber(0)}}, nullptr, &error))
            die(error);
        simulator.setBehaviour(number, party);
    }
    file.reset();

    platform::RegistryStore registry(home / "registry.db");
    config::ConfigStore store(registry);
    calls::PortSettings ports(store);
    std::vector<std::string> names;
    for (unsigned i = 1; i <= lines; ++i) {
        const std::string port = "SIM" + std::to_string(i);
        names.push_back(port);
        ports.setPulseDialing(port, false);
        ports.setDelayFirstMs(port, 100);
        ports.setRingOffMs(port, 100);
        ports.setDelayWMs(port, 100);
        ports.setWaitAnswerS(port, 5);
    }
    ports.setConfiguredPorts(names);

    speech::Catalogue catalogue(store);
    catalogue.addFolder("", "Фразы");
    std::vector<line::PhonogramLibrary::Phrase> library;
    config::TaskStore tasks(store);
    tasks.addBinding("Абоненты", table.string(), "");
    tasks.binding("Абоненты")->operators().add("Долг");
    config::Operator task = *tasks.task("Абоненты", "Долг");
    task.schedules().add(config::dailyBlock({0, 86400}), 0, false);
    speech::Patterns patterns(store, "Абоненты", "Долг");
    std::string last;
    for (int i = 0; i < kPhrases; ++i) {
        const std::string code = "TON" + std::to_string(i);
        catalogue.addLeaf("Фразы", "Тон " + std::to_string(i), code, "тон");
        library.push_back({code, tone(300 + 100 * i)});
        speech::PatternItem item;
        item.path = "Фразы\\Тон " + std::to_string(i);
        last = patterns.Insert(last, item).value_or(last);
    }
    if (!line::PhonogramLibrary::write(home / "peltra.awf", line::PhonogramLibrary::pcmFormat(), library, &error))
        die(error);
    task.setValid(true);
}

void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned lines = kDefaultLines;
    if (argc > 2)
        die("usage: bench_station_lines [lines]");
    if (argc == 2) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(argv[1], &end, 10);
        if (*end != '\0' || value == 0 || value > kMaxLines)
            die("the line count is a number from 1 to " + std::to_string(kMaxLines));
        lines = static_cast<unsigned>(value);
    }
    raiseDescriptorLimit();
    std::string pattern = (fs::temp_directory_path() / "peltra-lines-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        die("cannot create a temporary folder");
    const fs::path home = pattern;
    sim::SimOptions simOptions;
    simOptions.realTime = true;
    sim::Simulator simulator(lines, simOptions);
    prepare(home, lines, simulator);

    engine::StationOptions options;
    options.home = home;
    options.simulator = &simulator;
    options.tickInterval = std::chrono::milliseconds(1000);
    engine::Station station(options, {});
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    std::string error;
    if (station.start(error) != engine::Station::StartResult::Started)
        die("the station did not start: " + error);
    const std::size_t expected = lines * kPeoplePerLine;
    const bool done = simulator.waitForCalls(expected, 120000);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    station.shutdown();

    std::uint64_t underruns = 0;
    std::uint64_t heard = 0;
    std::size_t answered = 0;
    for (const sim::CallRecord& call : simulator.calls()) {
        underruns += call.underruns;
        heard += call.partyHeardBytes;
        answered += call.answerMs ? 1 : 0;
    }
    std::printf("lines: %u, calls: %zu of %zu%s, answered: %zu\n", lines, simulator.calls().size(), expected,
                done ? "" : " (time limit reached)", answered);
    std::printf("speech heard: %.1f s in all; transmit underruns: %llu\n", static_cast<double>(heard) / 11520.0,
                static_cast<unsigned long long>(underruns));
    std::printf("wall %.1f s, station CPU %.1f s (%.1f%% of one core), %.2f%% of a core per line\n", wall, cpu,
                100 * cpu / wall, 100 * cpu / wall / lines);
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(home, ec);
    return underruns == 0 && done ? 0 : 1;
}
