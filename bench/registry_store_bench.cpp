// Throughput of the configuration store: read-with-default from a warm store, and committed writes.
#include "config/ConfigStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using peltra::config::ConfigStore;
using peltra::platform::RegistryStore;

// A store in a fresh temporary folder, removed afterwards.
class BenchStore {
public:
    BenchStore()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "peltra-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        m_dir = pattern;
        m_registry = std::make_unique<RegistryStore>(m_dir / "registry.db");
        m_config = std::make_unique<ConfigStore>(*m_registry);
    }
    ~BenchStore()
    {
        m_config.reset();
        m_registry.reset();
        std::filesystem::remove_all(m_dir);
    }
    ConfigStore& config() { return *m_config; }

private:
    std::filesystem::path m_dir;
    std::unique_ptr<RegistryStore> m_registry;
    std::unique_ptr<ConfigStore> m_config;
};

// What a call's start does eleven times over: a port value that already exists.
void readWithDefault(benchmark::State& state)
{
    BenchStore store;
    const char* names[] = {"CallMode", "RingOff", "DelayFirst", "WaitAnswer", "DelayW", "DelayP"};
    for (const char* name : names)
        store.config().readNumber("Ports\\COM1", name, 1000);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.config().readNumber("Ports\\COM1", names[i++ % 6], 1000));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(readWithDefault);

// Each write is its own committed transaction, visible to other processes when it returns.
void committedWrite(benchmark::State& state)
{
    BenchStore store;
    std::uint32_t value = 0;
    for (auto _ : state) {
        if (!store.config().writeNumber("Tasks\\Абоненты\\Операторы\\Задача", "Phonelast", ++value))
            state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(committedWrite);

// A numbered sub-key added to a list that already holds a hundred items.
void createNumberedSubKey(benchmark::State& state)
{
    BenchStore store;
    for (int i = 0; i < 100; ++i)
        store.config().createNumberedSubKey("Ranges");
    for (auto _ : state) {
        state.PauseTiming();
        store.config().deleteKey("Ranges\\0101");
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.config().createNumberedSubKey("Ranges"));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(createNumberedSubKey);

}  // namespace
