// Measures the station's selection and write-back through the SQL engine over a .dbf table against
// SQLite running the same statement on the same rows held in a native table.
//
// Usage: bench_sql_selection [rows]   (default 1,000,000 rows of 95 bytes, about 95 MB)
// Prints the selection time on both, their ratio (target at most 3), positioned write-back rows/s
// (target at least 20,000) and the peak resident memory.
#include "data/Connection.h"
#include "data/DbfTable.h"
#include "data/Query.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace peltra::data;
using Clock = std::chrono::steady_clock;

constexpr char kSelection[] =
    "SELECT TELEF, PROBA, OTBOJ, DATA, CLOCK, FIO, SUMMA, LS FROM abon "
    "WHERE DATA IS NULL AND (SUMMA > 100) ORDER BY LS";

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string padRight(const std::string& text, std::size_t width)
{
    return (text + std::string(width, ' ')).substr(0, width);
}

std::string padLeft(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text.substr(0, width) : std::string(width - text.size(), ' ') + text;
}

// Row i: every third notified already, sums spread so about half pass the filter.
struct Row {
    std::string telef, fio, data, clock;
    int proba, otboj;
    double summa;
    long ls;
};

Row makeRow(long i)
{
    Row r;
    r.telef = std::to_string(2000000 + i % 7000000);
    r.proba = static_cast<int>(i % 5);
    r.otboj = static_cast<int>(i % 3);
    r.data = i % 3 == 0 ? "20261201" : "";
    r.clock = i % 3 == 0 ? "12:00:00" : "";
    r.fio = "Абонент " + std::to_string(i);
    r.summa = static_cast<double>((i * 7919) % 20000) / 100.0;
    r.ls = (i * 104729) % 10000000;
    return r;
}

// Lays the records down directly behind a header written by the codec: far faster than
// appending a million records one by one, and the codec reads the result like any table.
bool writeTable(const std::filesystem::path& path, long rows)
{
    const std::vector<DbfFieldSpec> fields = {
        {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},  {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0},
        {"CLOCK", 'C', 8, 0},  {"FIO", 'C', 40, 0},   {"SUMMA", 'N', 10, 2}, {"LS", 'N', 10, 0}};
    std::string error;
    const auto empty = DbfTable::emptyTableBytes(fields, 866, DbfDate{2026, 12, 6}, &error);
    if (!empty) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    std::string header = empty->substr(0, empty->size() - 1);  // without the end mark
    header[4] = static_cast<char>(rows & 0xFF);
    header[5] = static_cast<char>((rows >> 8) & 0xFF);
    header[6] = static_cast<char>((rows >> 16) & 0xFF);
    header[7] = static_cast<char>((rows >> 24) & 0xFF);
    std::ofstream out(path, std::ios::binary);
    out << header;
    std::string record;
    char number[32];
    for (long i = 0; i < rows; ++i) {
        const Row r = makeRow(i);
        record = " " + padRight(r.telef, 12) + padLeft(std::to_string(r.proba), 3) +
                 padLeft(std::to_string(r.otboj), 3) + padRight(r.data, 8) + padRight(r.clock, 8);
        record += padRight(std::to_string(i), 40);  // FIO kept ASCII: the same bytes in every code page
        std::snprintf(number, sizeof number, "%10.2f", r.summa);
        record += number;
        record += padLeft(std::to_string(r.ls), 10);
        out << record;
    }
    out << '\x1A';
    return static_cast<bool>(out);
}

// The same rows in a native SQLite table, in memory.
sqlite3* nativeCopy(long rows)
{
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db,
                 "CREATE TABLE abon(TELEF TEXT, PROBA INTEGER, OTBOJ INTEGER, DATA TEXT, CLOCK TEXT, "
                 "FIO TEXT, SUMMA REAL, LS INTEGER); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO abon VALUES(?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
    for (long i = 0; i < rows; ++i) {
        const Row r = makeRow(i);
        const std::string date = r.data.empty() ? "" : "2026-12-01";
        sqlite3_bind_text(insert, 1, r.telef.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 2, r.proba);
        sqlite3_bind_int(insert, 3, r.otboj);
        if (date.empty())
            sqlite3_bind_null(insert, 4);
        else
            sqlite3_bind_text(insert, 4, date.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 5, r.clock.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 6, std::to_string(i).c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 7, r.summa);
        sqlite3_bind_int64(insert, 8, r.ls);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return db;
}

}  // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::max(1000L, std::atol(argv[1])) : 1000000L;
    const auto folder = std::filesystem::temp_directory_path() /
                        ("peltra-sql-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    if (!writeTable(folder / "abon.dbf", rows))
        return 1;
    const long rssBefore = peakRssKb();

    Connection connection;
    connection.bind("peltra");
    connection.connect();
    connection.setConnectOption(109, folder.string());
    Query query(connection);
    query.setSql(kSelection);
    auto started = Clock::now();
    if (!query.open()) {
        for (const auto& e : connection.takeErrors())
            std::fprintf(stderr, "%s\n", e.message.c_str());
        return 1;
    }
    long selected = 0;
    std::size_t bytes = 0;
    for (bool more = !query.isEof(); more; more = query.moveNext() && !query.isEof()) {
        for (int c = 1; c <= query.columnCount(); ++c)
            bytes += query.getText(c).size();
        ++selected;
    }
    const double dbfSeconds = seconds(started);
    const long rssAfterSelect = peakRssKb();

    // Positioned write-back of the first 20,000 selected rows, as results arrive.
    query.moveFirst();
    const long writes = std::min(20000L, selected);
    started = Clock::now();
    long written = 0;
    for (; written < writes && !query.isEof(); ++written) {
        if (!query.edit() || !query.setValue(2, "1") || !query.setValue(4, "2026-12-06") ||
            !query.setValue(5, "10:15:00") || !query.update())
            break;
        query.moveNext();
    }
    const double writeSeconds = seconds(started);
    query.close();

    sqlite3* native = nativeCopy(rows);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(native, kSelection, -1, &statement, nullptr);
    started = Clock::now();
    long nativeSelected = 0;
    std::size_t nativeBytes = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        for (int c = 0; c < 8; ++c) {
            const unsigned char* text = sqlite3_column_text(statement, c);
            nativeBytes += text != nullptr ? std::strlen(reinterpret_cast<const char*>(text)) : 0;
        }
        ++nativeSelected;
    }
    const double nativeSeconds = seconds(started);
    sqlite3_finalize(statement);
    sqlite3_close(native);
    std::filesystem::remove_all(folder);

    std::printf("table: %ld rows, %ld selected (native %ld)\n", rows, selected, nativeSelected);
    std::printf("selection over .dbf: %.3f s   native SQLite: %.3f s   ratio %.2f (target <= 3)\n",
                dbfSeconds, nativeSeconds, dbfSeconds / nativeSeconds);
    std::printf("positioned write-back: %ld rows in %.3f s = %.0f rows/s (target >= 20000)\n", written,
                writeSeconds, static_cast<double>(written) / writeSeconds);
    std::printf("peak RSS: %ld kB before the selection, %ld kB after it\n", rssBefore, rssAfterSelect);
    (void)bytes;
    (void)nativeBytes;
    return selected == nativeSelected ? 0 : 1;
}
