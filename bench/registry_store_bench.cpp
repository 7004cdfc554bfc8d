// Throughput of the configuration store: read-with-default from a warm store, and committed writes.
#include "BenchStore.h"
#include "config/ConfigStore.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using peltra::bench::BenchStore;

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
