// A timed tool: a running task over a 1,000,000-row table. Reports the time to open the task's
// selection (sorted by SUMMA), then 10,000 hand-outs each followed by its write-back, as rows/s,
// and the peak resident memory.
#include "BenchStore.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "engine/TaskDataSource.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace peltra;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void die(const std::string& what)
{
    std::fprintf(stderr, "task_source_bench: %s\n", what.c_str());
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::uint32_t rows = argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    const int handOuts = 10000;
    std::string pattern = (std::filesystem::temp_directory_path() / "peltra-task-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        die("cannot create a temporary folder");
    const std::filesystem::path dir = pattern;
    const std::filesystem::path table = dir / "abon.dbf";

    const std::vector<data::DbfFieldSpec> fields = {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},  {"OTBOJ", 'N', 3, 0},
                                                    {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0},  {"FIO", 'C', 40, 0},
                                                    {"SUMMA", 'N', 10, 2}, {"DOM", 'C', 6, 0},   {"KV", 'C', 6, 0}};
    std::string error;
    if (!data::DbfTable::create(table, fields, 866, false, &error))
        die(error);
    {
        data::DbfTable::Options options;
        options.writable = true;
        auto file = data::DbfTable::open(table, options, &error);
        if (!file)
            die(error);
        for (std::uint32_t i = 0; i < rows; ++i) {
            const double summa = static_cast<double>((i * 7919u) % 100000) / 100.0;
            if (!file->append({{0, data::DbfValue::ofText(std::to_string(2000000 + i))},
                               {1, data::DbfValue::ofNumber(0)},
                               {5, data::DbfValue::ofText("Абонент " + std::to_string(i))},
                               {6, data::DbfValue::ofNumber(summa)},
                               {7, data::DbfValue::ofText(std::to_string(i % 200 + 1))},
                               {8, data::DbfValue::ofText(std::to_string(i % 90 + 1))}},
                              nullptr, &error))
                die(error);
        }
    }

    bench::BenchStore store;
    config::TaskStore tasks(store.config());
    tasks.addBinding("Абоненты", table.string(), "");
    tasks.binding("Абоненты")->operators().add("Долг");
    config::Operator task = *tasks.task("Абоненты", "Долг");
    task.setSort("SUMMA", "N", true);
    speech::Catalogue catalogue(store.config());
    catalogue.addFolder("", "Функции");
    catalogue.addLeaf("Функции", "Рубли", "@009", "Сумма (рубли)");
    catalogue.addLeaf("Функции", "Дом", "@011", "Дом");
    speech::Patterns patterns(store.config(), "Абоненты", "Долг");
    speech::PatternItem item;
    item.path = "Функции\\Рубли";
    item.arg = "SUMMA";
    const auto first = patterns.Insert("", item);
    item.path = "Функции\\Дом";
    item.arg = "DOM";
    patterns.Insert(first.value_or(""), item);
    const long rssBefore = peakRssKb();

    engine::TaskDataSource source(store.config());
    source.setDefinition(task.definition());
    auto start = Clock::now();
    if (!source.open())
        die("open: " + source.lastError());
    const double openSeconds = seconds(start);
    const long rssOpen = peakRssKb();

    start = Clock::now();
    engine::HandOut out;
    for (int i = 0; i < handOuts; ++i) {
        if (source.nextRow(out) != 0)
            die("nothing handed out at " + std::to_string(i));
        source.writeResult(out.row, i % 3 == 0 ? engine::OutcomeKind::NoAnswer : engine::OutcomeKind::Notified);
    }
    const double cycleSeconds = seconds(start);

    std::printf("rows: %u\n", rows);
    std::printf("open (select, sort, keep the row states): %.2f s, %.0f rows/s\n", openSeconds, rows / openSeconds);
    std::printf("hand-out + write-back: %d in %.2f s, %.0f rows/s\n", handOuts, cycleSeconds, handOuts / cycleSeconds);
    std::printf("peak RSS: %ld KB before open, %ld KB after open, %ld KB at the end\n", rssBefore, rssOpen,
                peakRssKb());
    std::filesystem::remove_all(dir);
    return 0;
}
