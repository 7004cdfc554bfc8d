// What a scheduler pass reads from the store: 1,000 task definitions (ten bindings of a hundred
// tasks, each with three schedules, two ranges and a two-product condition), the allowed test of
// each, and both together. One iteration is a whole pass over the 1,000 tasks.
#include "BenchStore.h"
#include "config/TaskStore.h"
#include "engine/ListActiveTasks.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace peltra::config;
namespace engine = peltra::engine;
using peltra::bench::BenchStore;

constexpr int kBindings = 10;
constexpr int kTasksPerBinding = 100;

class NotSuspended : public SchedulingFlags {
public:
    bool paused() const override { return false; }
    bool waitingForCompletion() const override { return false; }
};

// Monday 21:30, outside every window below, so each test reads all three schedules.
constexpr LocalTime kMondayEvening{2026, 12, 1, 7, 21, 30, 0};

void fill(TaskStore& tasks)
{
    for (int b = 0; b < kBindings; ++b) {
        const std::string binding = "Абоненты " + std::to_string(b);
        tasks.addBinding(binding, "/var/lib/peltra/abon" + std::to_string(b) + ".dbf", "");
        for (int t = 0; t < kTasksPerBinding; ++t) {
            const std::string name = "Задолженность " + std::to_string(t);
            tasks.binding(binding)->operators().add(name);
            Operator task = *tasks.task(binding, name);
            task.setSort("SUMMA", "N", false);
            task.setRangeField("SUMMA", "N");
            task.addRange(100, 1000);
            task.addRange(5000, 10000);
            ConditionSet condition = task.conditions();
            condition.product(condition.addProduct())->add({kConditionCompare, "SUMMA", 5, "100", ""});
            condition.product(condition.addProduct())->add({kConditionExpression, "", 0, "", "DOM > 10"});
            task.applyConditions(condition);
            task.setNumber(TaskProperty::Typefilter, kFilterCondition);
            task.schedules().add(dailyBlock({9 * 3600, 20 * 3600}), 0, false);
            task.schedules().add(workWeekBlock(DayWindow{8 * 3600, 18 * 3600}, DayWindow{10 * 3600, 14 * 3600}), 0, false);
            task.schedules().add(dailyBlock({10 * 3600, 12 * 3600}), kOnlyChosenDays | 0x7F, false);
            task.setValid(true);
        }
    }
}

class TaskDefinitions : public benchmark::Fixture {
public:
    void SetUp(benchmark::State&) override
    {
        m_store = std::make_unique<BenchStore>();
        m_tasks = std::make_unique<TaskStore>(m_store->config());
        fill(*m_tasks);
    }
    void TearDown(benchmark::State&) override
    {
        m_tasks.reset();
        m_store.reset();
    }

protected:
    std::unique_ptr<BenchStore> m_store;
    std::unique_ptr<TaskStore> m_tasks;
};

BENCHMARK_DEFINE_F(TaskDefinitions, AllowedTestPass)(benchmark::State& state)
{
    const NotSuspended flags;
    for (auto _ : state) {
        int allowed = 0;
        for (const std::string& binding : m_tasks->bindingNames())
            for (const std::string& task : m_tasks->binding(binding)->operators().names())
                allowed += Operator(m_store->config(), binding, task).allowedAt(flags, kMondayEvening) ? 1 : 0;
        if (allowed != 0)
            state.SkipWithError("a window was open");
    }
    state.SetItemsProcessed(state.iterations() * kBindings * kTasksPerBinding);
}
BENCHMARK_REGISTER_F(TaskDefinitions, AllowedTestPass)->Unit(benchmark::kMillisecond);

BENCHMARK_DEFINE_F(TaskDefinitions, DefinitionsPass)(benchmark::State& state)
{
    for (auto _ : state) {
        const auto definitions = m_tasks->definitions();
        if (definitions.size() != kBindings * kTasksPerBinding || definitions.back().filterText.empty())
            state.SkipWithError("definitions incomplete");
    }
    state.SetItemsProcessed(state.iterations() * kBindings * kTasksPerBinding);
}
BENCHMARK_REGISTER_F(TaskDefinitions, DefinitionsPass)->Unit(benchmark::kMillisecond);

// The station's own pass: the running tasks brought in line with 1,000 definitions whose windows
// are closed (each is created once, then found, compared and asked to stop).
BENCHMARK_DEFINE_F(TaskDefinitions, StationSchedulerPass)(benchmark::State& state)
{
    engine::StationFlags flags;
    engine::ListActiveTasks tasks(m_store->config(), flags);
    const std::time_t mondayEvening = [] {
        std::tm parts{};
        parts.tm_year = 2026 - 1900;
        parts.tm_mon = 11;
        parts.tm_mday = 7;
        parts.tm_hour = 21;
        parts.tm_min = 30;
        parts.tm_isdst = -1;
        return std::mktime(&parts);
    }();
    tasks.setClock([=] { return mondayEvening; });
    tasks.schedulerPass();
    if (tasks.rows().size() != kBindings * kTasksPerBinding)
        state.SkipWithError("not every task was created");
    for (auto _ : state)
        tasks.schedulerPass();
    state.SetItemsProcessed(state.iterations() * kBindings * kTasksPerBinding);
}
BENCHMARK_REGISTER_F(TaskDefinitions, StationSchedulerPass)->Unit(benchmark::kMillisecond);

// A scheduler pass: every definition with its allowed test.
BENCHMARK_DEFINE_F(TaskDefinitions, SchedulerPass)(benchmark::State& state)
{
    const NotSuspended flags;
    for (auto _ : state) {
        for (const TaskDefinition& definition : m_tasks->definitions()) {
            Operator task(m_store->config(), definition.binding, definition.task);
            benchmark::DoNotOptimize(task.allowedAt(flags, kMondayEvening));
        }
    }
    state.SetItemsProcessed(state.iterations() * kBindings * kTasksPerBinding);
}
BENCHMARK_REGISTER_F(TaskDefinitions, SchedulerPass)->Unit(benchmark::kMillisecond);

}  // namespace
