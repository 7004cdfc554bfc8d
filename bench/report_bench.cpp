// The results report over a 1,000,000-row table: reading every row, reading the notified rows of
// a period, and a task's range filter sorted by SUMMA, each with the SUMMA total. Reports rows/s,
// the row pool's bytes and the peak resident memory.
#include "BenchStore.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "reports/ReportReader.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace peltra;

constexpr std::uint32_t kRows = 1000000;

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void die(const std::string& what)
{
    std::fprintf(stderr, "report_bench: %s\n", what.c_str());
    std::exit(1);
}

// The table, written once for all benchmarks, and a store with its binding and a task.
class ReportTable {
public:
    ReportTable()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "peltra-report-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            die("cannot create a temporary folder");
        m_dir = pattern;
        const std::filesystem::path table = m_dir / "abon.dbf";
        const std::vector<data::DbfFieldSpec> fields = {
            {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},  {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 8, 0},
            {"FIO", 'C', 40, 0},   {"SUMMA", 'N', 10, 2}, {"DOM", 'C', 6, 0},   {"KV", 'C', 6, 0}};
        std::string error;
        if (!data::DbfTable::create(table, fields, 866, false, &error))
            die(error);
        data::DbfTable::Options options;
        options.writable = true;
        auto file = data::DbfTable::open(table, options, &error);
        if (!file)
            die(error);
        for (std::uint32_t i = 0; i < kRows; ++i) {
            data::DbfFieldValues values = {{0, data::DbfValue::ofText(std::to_string(2000000 + i))},
                                           {1, data::DbfValue::ofNumber(i % 4)},
                                           {5, data::DbfValue::ofText("Абонент " + std::to_string(i))},
                                           {6, data::DbfValue::ofNumber(static_cast<double>((i * 7919u) % 100000) / 100.0)},
                                           {7, data::DbfValue::ofText(std::to_string(i % 200 + 1))},
                                           {8, data::DbfValue::ofText(std::to_string(i % 90 + 1))}};
            if (i % 3 != 0) {
                values.push_back({3, data::DbfValue::ofDate({2024, 3, static_cast<int>(i % 28) + 1})});
                values.push_back({4, data::DbfValue::ofText("10:00:00")});
            }
            if (!file->append(values, nullptr, &error))
                die(error);
        }
        file.reset();
        m_tasks = std::make_unique<config::TaskStore>(m_store.config());
        m_tasks->addBinding("Абоненты", table.string(), "");
        m_tasks->binding("Абоненты")->operators().add("Долг");
        config::Operator task = *m_tasks->task("Абоненты", "Долг");
        task.setSort("SUMMA", "N", true);
        task.setNumber(config::TaskProperty::Typefilter, config::kFilterRanges);
        task.setRangeField("SUMMA", "N");
        task.addRange(100, 300);
        task.addRange(700, 900);
    }
    ~ReportTable() { std::filesystem::remove_all(m_dir); }

    config::TaskStore& tasks() { return *m_tasks; }

private:
    std::filesystem::path m_dir;
    bench::BenchStore m_store;
    std::unique_ptr<config::TaskStore> m_tasks;
};

ReportTable& table()
{
    static ReportTable instance;
    return instance;
}

void runReport(benchmark::State& state, reports::ReportOptions options)
{
    config::TaskStore& tasks = table().tasks();
    options.binding = "Абоненты";
    options.sumFields = {"SUMMA"};
    std::size_t rows = 0, bytes = 0;
    for (auto _ : state) {
        reports::ReportData data;
        const reports::ReadResult result = reports::readReport(tasks, options, data);
        if (result.outcome != reports::ReadOutcome::Done)
            state.SkipWithError(("read failed: " + result.message).c_str());
        rows = data.rows.rowCount();
        bytes = data.rows.bytesHeld();
        benchmark::DoNotOptimize(data.totals);
    }
    state.counters["table_rows_per_s"] =
        benchmark::Counter(static_cast<double>(kRows) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["report_rows"] = static_cast<double>(rows);
    state.counters["pool_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["peak_rss_MB"] = static_cast<double>(peakRssKb()) / 1024.0;
}

void BM_WholeFile(benchmark::State& state) { runReport(state, {}); }

void BM_NotifiedInPeriod(benchmark::State& state)
{
    reports::ReportOptions options;
    options.mode = reports::ReportMode::Notified;
    options.period = reports::ReportPeriod{"05/03/2024", "20/03/2024"};
    runReport(state, options);
}

void BM_TaskRangesSortedBySumma(benchmark::State& state)
{
    reports::ReportOptions options;
    options.task = "Долг";
    runReport(state, options);
}

}  // namespace

BENCHMARK(BM_WholeFile)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_NotifiedInPeriod)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_TaskRangesSortedBySumma)->Unit(benchmark::kMillisecond)->Iterations(2);
