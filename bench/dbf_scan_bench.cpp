// A timed tool: a 1,000,000-row subscriber table (100-byte records) scanned whole with every field
// decoded, then 20,000 random in-place writes of PROBA, DATA and CLOCK, and appends; reports rows/s
// and the peak resident memory, which must not grow with the table.
#include "data/DbfTable.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

using namespace peltra::data;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long peakRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void die(const std::string& what)
{
    std::fprintf(stderr, "dbf_scan_bench: %s\n", what.c_str());
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::uint32_t rows = argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    const int writes = 20000;
    std::string pattern = (std::filesystem::temp_directory_path() / "peltra-dbf-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        die("cannot create a temporary folder");
    const std::filesystem::path dir = pattern;
    const std::filesystem::path path = dir / "subs.dbf";

    const std::vector<DbfFieldSpec> fields = {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},  {"OTBOJ", 'N', 3, 0},
                                              {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0},  {"FIO", 'C', 40, 0},
                                              {"SUMMA", 'N', 10, 2}, {"ADRES", 'C', 14, 0}, {"FLAG", 'L', 1, 0}};
    std::string error;
    if (!DbfTable::create(path, fields, 866, false, &error))
        die(error);

    // Fill: records encoded by the codec, written in bulk, then the header's count.
    auto start = Clock::now();
    {
        DbfTable::Options options;
        options.writable = true;
        auto table = DbfTable::open(path, options, &error);
        if (!table)
            die(error);
        std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(table->headerLength());
        std::string record, bytes;
        std::mt19937 random(1);
        for (std::uint32_t i = 0; i < rows; ++i) {
            record.assign(table->recordLength(), ' ');
            const DbfValue values[] = {DbfValue::ofText(std::to_string(2000000 + i)),
                                       DbfValue::ofNumber(i % 4),
                                       i % 3 ? DbfValue::null() : DbfValue::ofNumber(1),
                                       i % 2 ? DbfValue::null() : DbfValue::ofDate({2024, 1 + int(i % 12), 1 + int(i % 28)}),
                                       i % 2 ? DbfValue::ofText("") : DbfValue::ofText("12:30:00"),
                                       DbfValue::ofText("Иванов Пётр Сергеевич " + std::to_string(i)),
                                       DbfValue::ofNumber((random() % 10000000) / 100.0),
                                       DbfValue::ofText("ул. Ленина 1"),
                                       DbfValue::ofLogical(i % 5 == 0)};
            for (std::size_t f = 0; f < fields.size(); ++f) {
                if (!table->encode(f, values[f], bytes, &error))
                    die(error);
                record.replace(table->fields()[f].offset, bytes.size(), bytes);
            }
            out.write(record.data(), static_cast<std::streamsize>(record.size()));
        }
        out.put(0x1A);
        out.seekp(4);
        const char count[4] = {char(rows & 0xFF), char(rows >> 8 & 0xFF), char(rows >> 16 & 0xFF), char(rows >> 24)};
        out.write(count, 4);
        if (!out)
            die("cannot write the table");
    }
    const double fillSeconds = seconds(start);
    const auto fileBytes = std::filesystem::file_size(path);
    const long rssAfterFill = peakRssKb();

    DbfTable::Options options;
    options.writable = true;
    auto table = DbfTable::open(path, options, &error);
    if (!table || table->recordCount() != rows)
        die("reopen: " + error);

    // Full scan, every field decoded.
    start = Clock::now();
    DbfCursor cursor(*table);
    DbfValue value;
    std::uint64_t scanned = 0, deleted = 0, nullDates = 0;
    double sum = 0;
    while (cursor.next(&error)) {
        deleted += cursor.isDeleted();
        for (std::size_t f = 0; f < fields.size(); ++f) {
            cursor.value(f, value);
            if (f == 3 && value.isNull())
                ++nullDates;
            if (f == 6)
                sum += value.number;
        }
        ++scanned;
    }
    if (!error.empty() || scanned != rows)
        die("scan: " + error);
    const double scanSeconds = seconds(start);

    // Random in-place writes of what a call's outcome changes.
    std::mt19937 random(2);
    start = Clock::now();
    for (int i = 0; i < writes; ++i) {
        const std::uint32_t row = random() % rows;
        if (!table->update(row, {{1, DbfValue::ofNumber(row % 4 + 1)}, {3, DbfValue::ofDate({2025, 11, 7})},
                                 {4, DbfValue::ofText("10:11:12")}},
                           &error))
            die("update: " + error);
    }
    const double writeSeconds = seconds(start);

    // Random reads by record number, as a row set moving to a row does.
    start = Clock::now();
    std::string record;
    for (int i = 0; i < writes; ++i) {
        if (!table->readRecord(random() % rows, record, &error))
            die("read: " + error);
        table->value(record, 1, value);
    }
    const double readSeconds = seconds(start);

    const int appends = 10000;
    start = Clock::now();
    for (int i = 0; i < appends; ++i)
        if (!table->append({{0, DbfValue::ofText("9999999")}, {1, DbfValue::ofNumber(0)}}, nullptr, &error))
            die("append: " + error);
    const double appendSeconds = seconds(start);

    std::printf("table: %u rows x %u bytes = %.1f MB (filled in %.2f s)\n", rows, table->recordLength(),
                fileBytes / 1e6, fillSeconds);
    std::printf("scan, all %zu fields decoded: %.2f s, %.0f rows/s (%.0f MB/s); %llu NULL dates, checksum %.2f\n",
                fields.size(), scanSeconds, rows / scanSeconds, fileBytes / 1e6 / scanSeconds,
                static_cast<unsigned long long>(nullDates), sum);
    std::printf("random in-place writes of PROBA, DATA, CLOCK: %d in %.3f s, %.0f writes/s\n", writes, writeSeconds,
                writes / writeSeconds);
    std::printf("random reads by record number: %d in %.3f s, %.0f reads/s\n", writes, readSeconds,
                writes / readSeconds);
    std::printf("appends: %d in %.3f s, %.0f appends/s\n", appends, appendSeconds, appends / appendSeconds);
    std::printf("peak RSS: %ld KB after the fill, %ld KB at the end\n", rssAfterFill, peakRssKb());
    table.reset();
    std::filesystem::remove_all(dir);
    return 0;
}
