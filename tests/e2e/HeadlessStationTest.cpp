// The headless station run as an operator runs it, on simulated lines and real .dbf tables: a whole
// campaign with its archive, mixed outcomes stopped by signal, a kill and the run after it, the
// delivery marker, a table taken away or locked by another program (and a second start meanwhile),
// the store changed with peltra-reg while the station runs, the runs that have nothing to do, and
// the status the station keeps for peltra-status. Every row of the table is checked against the
// simulated exchange's own log of the calls it saw.
#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "e2e/StationProcess.h"
#include "engine/EngineTables.h"
#include "platform/registry/RegistryStore.h"
#include "sim/CallLog.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"
#include "calls/PortSettings.h"
#include "sip/support/SippPeer.h"
#include "support/HeldTableLock.h"
#include "support/RunProgram.h"
#include "support/StationSetup.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using config::TaskProperty;
using Keys = std::vector<std::pair<std::string, std::string>>;

constexpr char kBinding[] = "Абоненты";
constexpr char kTask[] = "Оповещение";

// How long any single run may take before the test gives up on it.
constexpr auto kRunLimit = 60s;

// A person of the table as the test writes it.
struct Person {
    std::string telef;
    int nom = 0;  // the sort key
    std::optional<data::DbfDate> data;  // notified before the run
    std::string clock;
    int proba = 0;
};

// A row as read back from the file.
using Row = Stored;

// Seconds since the epoch of a local date and "HH:MM:SS"; nothing when the time is not one.
std::optional<std::time_t> localMoment(const data::DbfDate& date, const std::string& clock)
{
    int h = -1, m = -1, s = -1;
    char tail = 0;
    if (clock.size() != 8 || std::sscanf(clock.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &tail) != 3 || h > 23 ||
        m > 59 || s > 59 || clock[2] != ':' || clock[5] != ':')
        return std::nullopt;
    return test::localMoment(date.year, date.month, date.day, h, m, s);
}

// The log's "2024-05-01T12:00:00.123Z" as seconds since the epoch.
std::optional<double> utcMoment(const std::string& stamp)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double s = 0;
    if (std::sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%lfZ", &y, &mo, &d, &h, &mi, &s) != 6)
        return std::nullopt;
    std::tm parts{};
    parts.tm_year = y - 1900;
    parts.tm_mon = mo - 1;
    parts.tm_mday = d;
    parts.tm_hour = h;
    parts.tm_min = mi;
    return static_cast<double>(timegm(&parts)) + s;
}

// How often part occurs in text.
std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// "23000NN": the telephone of person n.
std::string phoneOf(int n) { return "2300" + std::string(n < 100 ? "0" : "") + std::string(n < 10 ? "0" : "") + std::to_string(n); }

class HeadlessStationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("PELTRA_HOME");
        fs::create_directories(m_home);
        fs::create_directories(m_db);
    }

    // ---- preparation, with the store closed again before the station starts ----

    static void makeTable(const fs::path& path, const std::vector<Person>& people)
    {
        const std::vector<data::DbfFieldSpec> fields = {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},
                                                        {"OTBOJ", 'N', 3, 0},  {"DATA", 'D', 8, 0},
                                                        {"CLOCK", 'C', 8, 0},  {"NOM", 'N', 5, 0}};
        std::string error;
        ASSERT_TRUE(data::DbfTable::create(path, fields, 866, false, &error)) << error;
        data::DbfTable::Options options;
        options.writable = true;
        auto table = data::DbfTable::open(path, options, &error);
        ASSERT_TRUE(table) << error;
        for (const Person& p : people) {
            data::DbfFieldValues values = {{0, data::DbfValue::ofText(p.telef)},
                                           {1, data::DbfValue::ofNumber(p.proba)},
                                           {5, data::DbfValue::ofNumber(p.nom)}};
            if (p.data)
                values.push_back({3, data::DbfValue::ofDate(*p.data)});
            if (!p.clock.empty())
                values.push_back({4, data::DbfValue::ofText(p.clock)});
            ASSERT_TRUE(table->append(values, nullptr, &error)) << error;
        }
    }

    // n people numbered from 1: NOM n.
    static std::vector<Person> people(int n)
    {
        std::vector<Person> all;
        for (int i = 1; i <= n; ++i)
            all.push_back({phoneOf(i), i, std::nullopt, "", 0});
        return all;
    }

    // Lines that keep a call short (tone dialing, short pauses, waitAnswerS for an answer), the
    // catalogue and the phonogram library that speaks it: ms of tone for the greeting and the
    // introduction before the delivery marker and for the message after it.
    void prepareStation(unsigned lines = 4, std::uint32_t waitAnswerS = 1,
                        const std::array<std::uint32_t, 3>& soundMs = {60, 60, 60})
    {
        platform::RegistryStore registry(m_home / "registry.db");
        config::ConfigStore store(registry);
        ASSERT_TRUE(configureFastLines(store, lines, waitAnswerS));
        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Приветствие", "PRIV", "Здравствуйте"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Вступление", "VSTU", "Вам звонят из расчётного центра"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Отметка", "____", "Отметка о доставке"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Сообщение", "TEXT", "Ваша задолженность"));

        ASSERT_TRUE(writeToneLibrary(m_home / "peltra.awf", {{"PRIV", soundMs[0]}, {"VSTU", soundMs[1]}, {"TEXT", soundMs[2]}}));
    }

    // A task over table, sorted by NOM ascending, open all day, template greeting,
    // introduction, marker, message; included in scheduling.
    void defineTask(const fs::path& table, const std::optional<fs::path>& archive = std::nullopt)
    {
        platform::RegistryStore registry(m_home / "registry.db");
        config::ConfigStore store(registry);
        config::TaskStore tasks(store);
        ASSERT_EQ(tasks.addBinding(kBinding, table.string(), "e2e"), config::AddResult::Added);
        ASSERT_EQ(config::Operators(store, kBinding).add(kTask), config::AddResult::Added);
        config::Operator task = *tasks.task(kBinding, kTask);
        ASSERT_EQ(task.setSort("NOM", "N", true), config::Change::Changed);
        ASSERT_TRUE(task.setNumber(TaskProperty::Behaviour, config::kStartFromBeginning));
        if (archive) {
            ASSERT_TRUE(task.setNumber(TaskProperty::Arhive, 1));
            ASSERT_TRUE(task.setText(TaskProperty::ArhiveFile, archive->string()));
        }
        ASSERT_TRUE(task.schedules().add(config::dailyBlock({0, 86400}), 0, false));
        speech::Patterns patterns(store, kBinding, kTask);
        speech::PatternItem item;
        item.path = "Фразы\\Приветствие";
        const auto first = patterns.Insert("", item);
        ASSERT_TRUE(first);
        item.path = "Фразы\\Вступление";
        const auto introduction = patterns.Insert(*first, item);
        ASSERT_TRUE(introduction);
        item.path = "Фразы\\Отметка";
        const auto second = patterns.Insert(*introduction, item);
        ASSERT_TRUE(second);
        item.path = "Фразы\\Сообщение";
        ASSERT_TRUE(patterns.Insert(*second, item));
        ASSERT_TRUE(task.setValid(true));
    }

    // A plan: every line ok, each listed number with its behaviour (JSON object), the others
    // answering after 100 ms. A number is complete after 100 ms without a digit; paced in real
    // time the tones of one digit and the pause after it take longer than that, so then 500 ms.
    fs::path writePlan(const std::map<std::string, std::string>& numbers, bool realTime = false,
                       unsigned lines = 4, const std::string& name = "plan.json")
    {
        std::string text = "{\"lines\": " + std::to_string(lines) + ", \"seed\": 7, \"realtime\": " +
                           (realTime ? "true" : "false") +
                           ", \"digit_timeout_ms\": " + (realTime ? "500" : "100") +
                           ", \"default\": {\"answer_after_ms\": 100}, \"numbers\": {";
        bool first = true;
        for (const auto& [number, behaviour] : numbers) {
            text += std::string(first ? "" : ", ") + "\"" + number + "\": " + behaviour;
            first = false;
        }
        text += "}}";
        const fs::path path = m_dir / name;
        writeFile(path, text);
        return path;
    }

    std::vector<std::string> stationArgs(const fs::path& plan, const fs::path& log, bool untilComplete)
    {
        std::vector<std::string> args = {"--headless", "--home",  m_home.string(), "--simulate", plan.string(),
                                         "--sim-log",  log.string(), "--tick-ms", "200"};
        if (untilComplete)
            args.push_back("--until-complete");
        return args;
    }

    // Runs the station until its work is complete; its exit code.
    int runToCompletion(const fs::path& plan, const fs::path& log, std::string* out = nullptr)
    {
        StationProcess station;
        EXPECT_TRUE(station.start(PELTRA_PATH, stationArgs(plan, log, true), m_dir.path(), "complete"));
        const std::optional<int> code = station.wait(kRunLimit);
        EXPECT_TRUE(code) << "the station did not finish its work in time:\n" << station.out();
        if (out)
            *out = station.out();
        return code.value_or(-1);
    }

    // peltra-reg on the station's home, as an operator changes the store while it runs.
    void reg(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = {"--home", m_home.string()};
        all.insert(all.end(), args.begin(), args.end());
        const ProgramResult result = runProgram(PELTRA_REG_PATH, all, m_dir.path());
        ASSERT_EQ(result.code, 0) << result.err;
    }
    // A .reg file of top-level values (name, DWORD) imported with peltra-reg.
    void importValues(const std::vector<std::pair<std::string, std::uint32_t>>& values)
    {
        std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\PELTRA]\r\n";
        for (const auto& [name, value] : values) {
            char number[16];
            std::snprintf(number, sizeof number, "%08x", value);
            text += "\"" + name + "\"=dword:" + number + "\r\n";
        }
        const fs::path file = m_dir / "change.reg";
        writeFile(file, text);
        reg({"import", file.string()});
    }

    // Stops a running station with SIGTERM and expects the orderly stop.
    static void stopOrderly(StationProcess& station)
    {
        station.signal(SIGTERM);
        const std::optional<int> code = station.wait(30s);
        ASSERT_TRUE(code) << "no stop after SIGTERM:\n" << station.out();
        EXPECT_EQ(*code, 0) << station.err();
        const std::string out = station.out();
        EXPECT_NE(out.find("stop requested (SIGTERM)"), std::string::npos) << out;
        EXPECT_NE(out.find("station stopped"), std::string::npos) << out;
    }

    // ---- reading back ----

    static std::vector<Row> readRows(const fs::path& path) { return readStored(path); }

    static std::vector<sim::CallLogEntry> readLog(const fs::path& path)
    {
        if (!fs::exists(path))
            return {};
        std::string error;
        const auto contents = sim::readCallLog(path, error);
        EXPECT_TRUE(contents) << error;
        return contents ? contents->entries : std::vector<sim::CallLogEntry>{};
    }

    static std::map<std::string, std::vector<sim::CallLogEntry>> byNumber(const std::vector<sim::CallLogEntry>& log)
    {
        std::map<std::string, std::vector<sim::CallLogEntry>> calls;
        for (const sim::CallLogEntry& entry : log)
            calls[entry.number].push_back(entry);
        return calls;
    }

    static std::size_t countResult(const std::vector<sim::CallLogEntry>& calls, std::uint32_t result)
    {
        return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(),
                                                      [&](const sim::CallLogEntry& e) { return e.result == result; }));
    }

    // The table matches the log row by row: PROBA counts the calls of results 0 to 2 (on top of
    // what the row held before, given by `before` for the people it lists), OTBOJ those of
    // result 2, and a row is notified (DATA today, CLOCK the time of its one delivered call)
    // exactly when the log has a delivered call for it; otherwise DATA and CLOCK are as before.
    static void expectRowsMatchLog(const std::vector<Row>& rows, const std::vector<sim::CallLogEntry>& log,
                                   const std::vector<Person>& before = {})
    {
        auto calls = byNumber(log);
        for (const Row& row : rows) {
            SCOPED_TRACE("TELEF " + row.telef);
            Person was;
            for (const Person& p : before)
                if (p.telef == row.telef)
                    was = p;
            const auto& mine = calls[row.telef];
            const std::size_t delivered = countResult(mine, sim::kResultDelivered);
            const std::size_t hungUp = countResult(mine, sim::kResultHungUp);
            const std::size_t counted = delivered + countResult(mine, sim::kResultNoAnswer) + hungUp;
            EXPECT_EQ(row.proba, static_cast<double>(was.proba + static_cast<int>(counted)));
            EXPECT_EQ(row.otboj.value_or(0), static_cast<double>(hungUp));
            ASSERT_LE(delivered, 1u) << "a notified row is called again";
            if (delivered == 0) {
                EXPECT_EQ(row.data, was.data) << "a row without a delivered call changed its date";
                EXPECT_EQ(row.clock, was.clock);
                continue;
            }
            ASSERT_TRUE(row.data) << "a delivered call left the row without its date";
            EXPECT_EQ(*row.data, today());
            const auto written = localMoment(*row.data, row.clock);
            ASSERT_TRUE(written) << "CLOCK \"" << row.clock << "\" is not a time";
            const auto it = std::find_if(mine.begin(), mine.end(),
                                         [](const sim::CallLogEntry& e) { return e.result == sim::kResultDelivered; });
            const auto logged = utcMoment(it->loggedAt);
            ASSERT_TRUE(logged) << it->loggedAt;
            EXPECT_NEAR(static_cast<double>(*written), *logged, 3.0) << "CLOCK " << row.clock << ", logged " << it->loggedAt;
        }
        // Every number the exchange saw is a number of the table.
        std::set<std::string> telefs;
        for (const Row& row : rows)
            telefs.insert(row.telef);
        for (const auto& [number, entries] : calls) {
            if (!entries.empty()) {
                EXPECT_TRUE(telefs.count(number)) << "the exchange saw a call to " << number;
            }
        }
    }

    // The file is whole: the header's record count and the file's size agree.
    static void expectWholeTable(const fs::path& path)
    {
        std::string error;
        auto table = data::DbfTable::open(path, {}, &error);
        ASSERT_TRUE(table) << error;
        EXPECT_EQ(table->declaredRecordCount(), table->recordCount());
        const std::uintmax_t body = table->headerLength() + std::uintmax_t{table->recordLength()} * table->recordCount();
        const std::uintmax_t size = fs::file_size(path);
        EXPECT_TRUE(size == body || size == body + 1) << "size " << size << ", header says " << body;
    }

    TempDir m_runtime;
    // The station's locks live here, for the test and every program it starts.
    ScopedRuntimeDir m_runtimeDir{m_runtime.path()};
    TempDir m_dir;
    fs::path m_home = m_dir / "home";
    fs::path m_db = m_dir / "db";
    fs::path m_table = m_db / "abon.dbf";
};

constexpr char kAnswers[] = R"({"answer_after_ms": 100})";
constexpr char kAnswersLate[] = R"({"answer_after_ms": 1200})";
constexpr char kNeverAnswers[] = R"({"answer_after_ms": null})";

// Mixed outcomes stopped by SIGTERM: the table matches the call log row by row, and the status
// file and peltra-status agree with it while the station runs and after it stopped.
TEST_F(HeadlessStationTest, MixedOutcomesMatchTheCallLogInTheTableTheStatusFileAndPeltraStatus)
{
    // Paced in real time, so the file and the log can be read between two results, and a party
    // that hangs up during the long greeting hangs up before the delivery marker.
    makeTable(m_table, people(8));
    prepareStation(4, 1, {1500, 60, 200});
    defineTask(m_table);
    std::map<std::string, std::string> numbers;
    for (int i = 1; i <= 8; ++i)
        numbers[phoneOf(i)] = i % 3 == 0 ? kAnswers : i % 3 == 1 ? kNeverAnswers
                                                                  : R"({"answer_after_ms": 100, "hangup_after_ms": 300})";
    const fs::path log = m_dir / "calls.jsonl";
    const fs::path file = m_home / "status.json";
    // As under systemd: the journal stamps the lines, so the station does not.
    setenv("JOURNAL_STREAM", "8:4242", 1);
    StationProcess station;
    const bool started =
        station.start(PELTRA_PATH, stationArgs(writePlan(numbers, true), log, false), m_dir.path(), "status");
    unsetenv("JOURNAL_STREAM");
    ASSERT_TRUE(started);

    using nlohmann::json;
    const auto parse = [](const std::string& text) { return json::parse(text, nullptr, false); };
    const auto byResult = [&](const std::vector<sim::CallLogEntry>& calls) {
        const std::size_t known = countResult(calls, 0) + countResult(calls, 1) + countResult(calls, 2);
        return json{{"delivered", countResult(calls, 0)}, {"no_answer", countResult(calls, 1)},
                    {"hung_up", countResult(calls, 2)}, {"error", calls.size() - known}};
    };
    // Each line's last result is that of its port's last call in the log, and the task has
    // notified as many as were delivered.
    const auto agrees = [&](const json& status, const std::vector<sim::CallLogEntry>& calls) {
        if (status.is_discarded() || status.value("calls", json()) != byResult(calls))
            return false;
        std::map<std::string, std::uint32_t> lastByPort;
        for (const sim::CallLogEntry& e : calls)
            lastByPort[e.line] = e.result;
        for (const json& line : status["lines"]) {
            const auto last = lastByPort.find(line.value("port", ""));
            if (last == lastByPort.end() ? !line["last_result"].is_null()
                                         : line["last_result"].value("code", -1) != static_cast<int>(last->second))
                return false;
        }
        return status["tasks"].size() == 1 &&
               status["tasks"][0].value("notified", "") == std::to_string(countResult(calls, 0)) + " из 8";
    };
    json status;
    std::vector<sim::CallLogEntry> calls;
    ASSERT_TRUE(eventually(
        [&] {
            status = parse(readFile(file));
            calls = readLog(log);
            return calls.size() >= 6 && countResult(calls, 0) > 0 && agrees(status, calls);
        },
        30s))
        << station.out() << readFile(file) << readFile(log);
    const std::vector<sim::CallLogEntry> beforeFreeze = calls;
    EXPECT_EQ(status["tick_ms"], 200);
    EXPECT_EQ(status["scheduler"]["paused"], false);
    EXPECT_EQ(status["local_phone"]["on"], false);
    EXPECT_EQ(status["lines"].size(), 4u);
    EXPECT_EQ(status["tasks"][0]["name"], std::string(kBinding) + "\\" + kTask);

    const auto statusTool = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"--home", m_home.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return runProgram(PELTRA_STATUS_PATH, args, m_dir.path());
    };
    ProgramResult running;
    ASSERT_TRUE(eventually([&] { return (running = statusTool({"--json"})).code == 0; }, 5s)) << running.err;
    EXPECT_TRUE(parse(running.out).contains("calls")) << running.out;
    running = statusTool({});
    EXPECT_EQ(running.code, 0) << running.err;
    EXPECT_NE(running.out.find("scheduler: running"), std::string::npos) << running.out;
    EXPECT_NE(running.out.find("lines: 4\n  0 SIM1: "), std::string::npos) << running.out;
    EXPECT_NE(running.out.find("tasks: 1\n  " + std::string(kBinding) + "\\" + kTask + ": "), std::string::npos)
        << running.out;
    running = statusTool({"--prometheus"});
    EXPECT_EQ(running.code, 0) << running.err;
    EXPECT_NE(running.out.find("\npeltra_up 1\n"), std::string::npos) << running.out;
    EXPECT_NE(running.out.find("\npeltra_seconds_since_last_pass 0."), std::string::npos) << running.out;

    // A station that no longer passes (frozen here) is reported once its status is two periods old.
    station.signal(SIGSTOP);
    std::this_thread::sleep_for(1s);
    const ProgramResult frozen = statusTool({"--prometheus"});
    station.signal(SIGCONT);
    EXPECT_EQ(frozen.code, 1);
    EXPECT_NE(frozen.err.find("older than two scheduler periods"), std::string::npos) << frozen.err;
    EXPECT_NE(frozen.out.find("\npeltra_up 0\n"), std::string::npos) << frozen.out;
    EXPECT_TRUE(eventually([&] { return (running = statusTool({})).code == 0; }, 5s)) << running.err;

    // Stopped, the station leaves its last status, with every call of the log counted, and the tool
    // says no station runs.
    stopOrderly(station);
    calls = readLog(log);
    EXPECT_EQ(parse(readFile(file))["calls"], byResult(calls));
    expectRowsMatchLog(readRows(m_table), calls);
    // Each party did as its plan says (the calls that ended before the station was frozen).
    for (const sim::CallLogEntry& e : beforeFreeze) {
        const int n = std::stoi(e.number.substr(3));
        EXPECT_EQ(e.result, n % 3 == 0 ? sim::kResultDelivered : n % 3 == 1 ? sim::kResultNoAnswer : sim::kResultHungUp)
            << e.number;
    }
    // The station's log names each call's result as the exchange saw it for that row's number.
    const std::string said = station.out();
    EXPECT_EQ(countOf(said, " (delivered)\n"), countResult(calls, 0)) << said;
    EXPECT_EQ(countOf(said, " (no answer)\n") + countOf(said, " (hung up)\n"), countResult(calls, 1) + countResult(calls, 2));
    const auto logged = byNumber(calls);
    std::istringstream saidLines(said);
    for (std::string line; std::getline(saidLines, line);) {
        int row = 0;
        const std::size_t at = line.find(" row ");
        if (at == std::string::npos || std::sscanf(line.c_str() + at, " row %d:", &row) != 1)
            continue;
        const std::uint32_t result = line.ends_with(" (no answer)") ? 1 : line.ends_with(" (hung up)") ? 2 : 0;
        const auto& mine = logged.count(phoneOf(row)) ? logged.at(phoneOf(row)) : std::vector<sim::CallLogEntry>{};
        EXPECT_TRUE(result == 0 || countResult(mine, result) > 0) << line;
    }
    // Those who did not listen are still to be called.
    for (const Row& row : readRows(m_table))
        EXPECT_TRUE(std::stoi(row.telef.substr(3)) % 3 == 0 || !row.data) << row.telef;
    const ProgramResult plain = statusTool({});
    EXPECT_EQ(plain.code, 1);
    EXPECT_NE(plain.err.find("no station runs on " + m_home.string()), std::string::npos) << plain.err;
    EXPECT_NE(plain.out.find("calls since start: delivered " + std::to_string(countResult(calls, 0)) +
                             ", no_answer " + std::to_string(countResult(calls, 1)) + ", hung_up " +
                             std::to_string(countResult(calls, 2)) + ", error " +
                             std::to_string(byResult(calls)["error"].get<std::size_t>()) + "\n"),
              std::string::npos)
        << plain.out;
    const ProgramResult metrics = statusTool({"--prometheus"});
    EXPECT_EQ(metrics.code, 1);
    std::vector<std::string> samples = {"peltra_up 0"};
    const json counted = byResult(calls);
    for (const auto& [result, count] : counted.items())
        samples.push_back("peltra_calls_total{result=\"" + result + "\"} " + std::to_string(count.get<std::size_t>()));
    for (const std::string& sample : samples)
        EXPECT_NE(metrics.out.find("\n" + sample + "\n"), std::string::npos) << sample << "\n" << metrics.out;

    // Under JOURNAL_STREAM no line carries the station's own time stamp.
    std::istringstream out(station.out());
    std::string line;
    int lines = 0;
    while (std::getline(out, line)) {
        int y = 0, mo = 0, d = 0;
        ++lines;
        EXPECT_NE(std::sscanf(line.c_str(), "%4d-%2d-%2d ", &y, &mo, &d), 3) << "a time stamp: " << line;
    }
    EXPECT_GT(lines, 6);
}

// Greeting and introduction (310 ms, 3564 bytes of stream) fit in the port's 4096-byte transmit
// queue at once: queued is not sent. Each row is notified exactly when the exchange's log shows
// the party heard everything before the marker.
TEST_F(HeadlessStationTest, ARowIsNotifiedExactlyWhenThePartyHeardEverythingBeforeTheMarker)
{
    constexpr std::uint64_t kBeforeMarker = 684 + 2880;
    makeTable(m_table, people(2));
    prepareStation(2, 1, {60, 250, 1500});
    defineTask(m_table);
    const fs::path log = m_dir / "calls.jsonl";
    StationProcess station;
    const fs::path plan = writePlan({{phoneOf(1), R"({"answer_after_ms": 100, "hangup_after_ms": 350})"},
                                     {phoneOf(2), R"({"answer_after_ms": 100, "hangup_after_ms": 900})"}},
                                    true, 2);
    ASSERT_TRUE(station.start(PELTRA_PATH, stationArgs(plan, log, false), m_dir.path(), "marker"));
    ASSERT_TRUE(eventually([&] { return readLog(log).size() >= 2; }, 20s)) << station.out();
    stopOrderly(station);

    const auto entries = readLog(log);
    for (const sim::CallLogEntry& e : entries) {
        SCOPED_TRACE(e.number);
        EXPECT_TRUE(e.hungUp);
        const bool heard = e.partyHeardBytes >= kBeforeMarker;
        EXPECT_EQ(heard, e.number == phoneOf(2)) << "the plan's hang-ups are 150 ms before and 400 ms after the marker";
        EXPECT_EQ(e.result, heard ? sim::kResultDelivered : sim::kResultHungUp) << e.partyHeardBytes << " bytes heard";
    }
    expectRowsMatchLog(readRows(m_table), entries);
}

TEST_F(HeadlessStationTest, AKilledStationLeavesAWholeTableAndTheNextRunFinishesTheCampaign)
{
    makeTable(m_table, people(30));
    prepareStation();
    defineTask(m_table);
    std::map<std::string, std::string> numbers;
    for (int i = 1; i <= 30; ++i)
        numbers[phoneOf(i)] = kAnswers;
    const fs::path plan = writePlan(numbers);
    const fs::path firstLog = m_dir / "first.jsonl";
    {
        StationProcess station;
        ASSERT_TRUE(station.start(PELTRA_PATH, stationArgs(plan, firstLog, false), m_dir.path(), "killed"));
        ASSERT_TRUE(eventually([&] { return readLog(firstLog).size() >= 6; }, 30s)) << station.out();
        station.signal(SIGKILL);
        ASSERT_EQ(station.wait(10s), 128 + SIGKILL);
    }
    expectWholeTable(m_table);
    const auto first = byNumber(readLog(firstLog));
    std::set<std::string> written;
    for (const Row& row : readRows(m_table)) {
        SCOPED_TRACE("TELEF " + row.telef);
        if (row.data) {
            written.insert(row.telef);
            EXPECT_GE(row.proba, 1);
            EXPECT_EQ(*row.data, today());
            EXPECT_TRUE(localMoment(*row.data, row.clock)) << row.clock;
            // The exchange logs a call before its outcome reaches the table.
            const auto it = first.find(row.telef);
            EXPECT_TRUE(it != first.end() && countResult(it->second, sim::kResultDelivered) == 1);
        } else {
            EXPECT_EQ(row.proba, 0) << "a row not notified has no attempt in this campaign";
        }
    }
    EXPECT_GE(written.size(), 1u);
    EXPECT_LT(written.size(), 30u) << "the kill came too late to test anything";

    const fs::path secondLog = m_dir / "second.jsonl";
    EXPECT_EQ(runToCompletion(plan, secondLog), 0);
    const auto second = byNumber(readLog(secondLog));
    for (const Row& row : readRows(m_table)) {
        SCOPED_TRACE("TELEF " + row.telef);
        EXPECT_TRUE(row.data) << "not notified after the second run";
        // A row written as notified by the killed run is never called again; every other row,
        // the killed calls among them, is called once.
        EXPECT_EQ(second.count(row.telef) ? second.at(row.telef).size() : 0u, written.count(row.telef) ? 0u : 1u);
    }
    expectWholeTable(m_table);
}

// A station that cannot open its store says so on standard error and ends with 1. The desktop
// station also tells it in a box (at logon nobody reads standard error), which waits for its OK.
TEST_F(HeadlessStationTest, AStoreThatCannotBeOpenedIsToldOnStandardErrorAndOnTheDesktopInABox)
{
    writeFile(m_home / "registry.db", std::string(8192, 'x'));
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const bool headless : {true, false}) {
        SCOPED_TRACE(headless ? "headless" : "desktop");
        std::vector<std::string> args = {"--home", m_home.string()};
        if (headless)
            args.insert(args.begin(), "--headless");
        StationProcess station;
        ASSERT_TRUE(station.start(PELTRA_PATH, args, m_dir.path(), headless ? "headless" : "desktop"));
        EXPECT_TRUE(eventually([&] { return station.err().find("is not a configuration store") != std::string::npos; },
                               10s))
            << station.err();
        if (headless) {
            EXPECT_EQ(station.wait(5s), std::optional<int>(1));
        } else {
            EXPECT_FALSE(station.wait(1s).has_value()) << "no box waited for the operator";
            station.signal(SIGTERM);
            EXPECT_TRUE(station.wait(5s));
        }
    }
    unsetenv("QT_QPA_PLATFORM");
}

TEST_F(HeadlessStationTest, ATableTakenAwayMidRunStopsTheTaskWithItsErrorAndNothingElse)
{
    makeTable(m_table, people(30));
    prepareStation();
    defineTask(m_table);
    std::map<std::string, std::string> numbers;
    for (int i = 1; i <= 30; ++i)
        numbers[phoneOf(i)] = kNeverAnswers;
    const fs::path log = m_dir / "calls.jsonl";
    StationProcess station;
    ASSERT_TRUE(station.start(PELTRA_PATH, stationArgs(writePlan(numbers), log, false), m_dir.path(), "vanish"));
    ASSERT_TRUE(eventually([&] { return readLog(log).size() >= 2; }, 20s)) << station.out();
    const fs::path moved = m_dir / "moved.dbf";
    fs::rename(m_table, moved);
    const bool reported = eventually(
        [&] {
            const std::string out = station.out();
            return out.find("Не найден файл") != std::string::npos ||
                   out.find("Ошибка выполнения запроса") != std::string::npos;
        },
        15s);
    EXPECT_TRUE(reported) << station.out();
    EXPECT_TRUE(station.running()) << "the station ended when its table went away:\n" << station.err();
    stopOrderly(station);
    EXPECT_FALSE(fs::exists(m_table)) << "the station made a new table in place of the one taken away";

    // The table taken away is whole, and holds no more than the calls the exchange saw.
    expectWholeTable(moved);
    const auto calls = byNumber(readLog(log));
    for (const Row& row : readRows(moved)) {
        EXPECT_FALSE(row.data) << row.telef;
        const std::size_t seen = calls.count(row.telef) ? calls.at(row.telef).size() : 0;
        EXPECT_LE(row.proba, static_cast<double>(seen)) << row.telef;
    }
}

TEST_F(HeadlessStationTest, ATableLockedByAnotherProgramFreezesNoLineAndSigtermStillEndsTheRun)
{
    makeTable(m_table, people(4));
    prepareStation();
    defineTask(m_table);
    std::map<std::string, std::string> numbers;
    for (int i = 1; i <= 4; ++i)
        numbers[phoneOf(i)] = kAnswers;
    HeldTableLock lock(m_table, m_dir / "lock");
    ASSERT_TRUE(lock.held());
    const fs::path log = m_dir / "calls.jsonl";
    const fs::path plan = writePlan(numbers);
    StationProcess station;
    ASSERT_TRUE(station.start(PELTRA_PATH, stationArgs(plan, log, false), m_dir.path(), "locked"));
    // Every number is called while the results wait, and the log says why they wait.
    ASSERT_TRUE(eventually([&] { return readLog(log).size() >= 4; }, 20s)) << station.out();
    EXPECT_TRUE(eventually([&] { return station.out().find("Результат ждёт записи") != std::string::npos; }, 5s))
        << station.out();
    EXPECT_NE(station.out().find("it is locked by another program"), std::string::npos) << station.out();

    // A second station on the same home ends at once and silently; the first goes on.
    const auto secondStarted = std::chrono::steady_clock::now();
    const ProgramResult second =
        runProgram(PELTRA_PATH, stationArgs(plan, m_dir / "second.jsonl", true), m_dir.path(), "", {});
    EXPECT_LT(std::chrono::steady_clock::now() - secondStarted, 2s);
    EXPECT_EQ(second.code, 0);
    EXPECT_EQ(second.out + second.err, "");
    EXPECT_TRUE(station.running()) << "the first station must go on";
    EXPECT_TRUE(readLog(m_dir / "second.jsonl").empty()) << "the second station made calls";

    // SIGTERM is heeded: the station waits, within its limit, for the results to be written...
    station.signal(SIGTERM);
    ASSERT_TRUE(eventually([&] { return station.out().find("waiting for the calls") != std::string::npos; }, 5s))
        << station.out();
    // ... which they are as soon as the other program lets go; then it stops.
    lock.release();
    const auto released = std::chrono::steady_clock::now();
    const std::optional<int> code = station.wait(30s);
    ASSERT_TRUE(code) << station.out();
    EXPECT_EQ(*code, 0) << station.err();
    EXPECT_LT(std::chrono::steady_clock::now() - released, 5s) << station.out();
    EXPECT_NE(station.out().find("station stopped"), std::string::npos) << station.out();
    expectRowsMatchLog(readRows(m_table), readLog(log));
    for (const Row& row : readRows(m_table))
        EXPECT_TRUE(row.data) << row.telef;
}

// A whole campaign to its end, every fifth party slow to answer, the archive on: every row not
// notified before is notified once, and the archive holds exactly those rows.
TEST_F(HeadlessStationTest, ACampaignNotifiesEveryRowOnceAndArchivesExactlyTheRowsItNotified)
{
    std::vector<Person> all = people(16);
    for (int i : {2, 7, 11}) {
        all[static_cast<std::size_t>(i)].data = data::DbfDate{2021, 3, 4};  // notified before: not archived now
        all[static_cast<std::size_t>(i)].clock = "09:30:00";
        all[static_cast<std::size_t>(i)].proba = 1;
    }
    makeTable(m_table, all);
    prepareStation(4, 3);
    fs::create_directories(m_dir / "archive");
    const fs::path archive = m_dir / "archive" / "arh.dbf";
    defineTask(m_table, archive);
    std::map<std::string, std::string> numbers;
    for (int i = 5; i <= 16; i += 5)
        numbers[phoneOf(i)] = kAnswersLate;
    const fs::path log = m_dir / "calls.jsonl";
    std::string out;
    EXPECT_EQ(runToCompletion(writePlan(numbers), log, &out), 0);
    EXPECT_NE(out.find("no task is busy: the work is complete"), std::string::npos) << out;

    const auto rows = readRows(m_table);
    const auto entries = readLog(log);
    expectRowsMatchLog(rows, entries, all);
    const auto calls = byNumber(entries);
    for (const Row& row : rows) {
        const bool before = row.data && *row.data != today();
        EXPECT_EQ(calls.count(row.telef) ? calls.at(row.telef).size() : 0u, before ? 0u : 1u) << row.telef;
        EXPECT_TRUE(before || row.otboj == 0.0) << row.telef << ": a notified row's OTBOJ is written as a number";
    }
    for (const sim::CallLogEntry& e : entries)
        EXPECT_EQ(e.result, sim::kResultDelivered) << e.number;
    ASSERT_TRUE(fs::exists(archive));
    expectWholeTable(archive);
    const auto archived = readRows(archive);
    std::map<std::string, Row> delivered;
    for (const Row& row : rows)
        if (row.data && *row.data == today())
            delivered[row.telef] = row;
    EXPECT_EQ(delivered.size(), 13u);
    EXPECT_EQ(archived.size(), delivered.size());
    std::set<std::string> telefs;
    for (const Row& row : archived) {
        SCOPED_TRACE("archived " + row.telef);
        EXPECT_TRUE(telefs.insert(row.telef).second) << "archived twice";
        ASSERT_TRUE(delivered.count(row.telef)) << "archived but not notified in this run";
        const Row& source = delivered.at(row.telef);
        EXPECT_EQ(row.proba, source.proba);
        EXPECT_EQ(row.data, source.data);
        EXPECT_EQ(row.clock, source.clock);
        EXPECT_EQ(row.otboj, source.otboj);
    }
}


// Configuration is never cached: what peltra-reg changes counts from the next tick, and the log
// says so in the station's own words. Local-phone mode dials one number and writes nothing, so
// calls go on until the store says otherwise.
TEST_F(HeadlessStationTest, ChangesMadeWithPeltraRegTakeEffectWhileTheStationRuns)
{
    makeTable(m_table, people(6));
    prepareStation(3, 1);
    defineTask(m_table);
    {
        platform::RegistryStore registry(m_home / "registry.db");
        ASSERT_TRUE(registry.deleteValue("Software\\PELTRA\\Ports", "SIM3"));
    }
    importValues({{"LocalPhone", 1}, {"LocalPhoneUpdate", 0}});
    reg({"set", "Software\\PELTRA", "LocalPhoneString", "--sz", "2399999"});
    const fs::path log = m_dir / "calls.jsonl";
    StationProcess station;
    ASSERT_TRUE(station.start(PELTRA_PATH, stationArgs(writePlan({}, false, 3), log, false), m_dir.path(), "follow"));
    const auto logged = [&](const std::string& text) { return station.out().find(text) != std::string::npos; };
    const auto callsOn = [&](const std::string& port) {
        const auto entries = readLog(log);
        return static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(),
                                                      [&](const sim::CallLogEntry& e) { return e.line == port; }));
    };
    // Calls in progress end within a second; after that nothing more may be dialled.
    const auto expectQuiet = [&](const std::string& why) {
        std::this_thread::sleep_for(1000ms);
        const std::size_t before = readLog(log).size();
        std::this_thread::sleep_for(800ms);
        EXPECT_EQ(readLog(log).size(), before) << why << ":\n" << station.out();
    };
    ASSERT_TRUE(eventually([&] { return readLog(log).size() >= 2; }, 20s)) << station.out();

    // The port list and the local number, as the port dialog and the local-phone dialog write them.
    reg({"set", "Software\\PELTRA\\Ports", "SIM3", "--sz", "SIM3"});
    reg({"set", "Software\\PELTRA\\Ports", "SIM7", "--sz", "SIM7"});
    reg({"delete", "Software\\PELTRA\\Ports", "SIM1"});
    reg({"set", "Software\\PELTRA", "LocalPhoneString", "--sz", "2388888"});
    ASSERT_TRUE(eventually(
        [&] {
            return logged("on SIM3 added") && logged("line 0 removed") && logged("port SIM7 under Ports is absent") &&
                   logged("Внимание: включен режим \"Местный телефон\": 2388888");
        },
        5s))
        << station.out();
    const std::size_t onSim1 = callsOn("SIM1");
    ASSERT_TRUE(eventually(
        [&] {
            const auto entries = readLog(log);
            return std::any_of(entries.begin(), entries.end(), [](const sim::CallLogEntry& e) {
                return e.line == "SIM3" && e.number == "2388888";
            });
        },
        10s))
        << "the new port calls the new number:\n" << station.out();

    // Manual linking with no task linked: no line is given work.
    reg({"set", "Software\\PELTRA", "LinkTaskPortManual", "--dword", "1"});
    ASSERT_TRUE(eventually([&] { return logged("LinkTaskPortManual = 1: "); }, 3s)) << station.out();
    expectQuiet("manual linking without links");

    // Paused, from an import that also switches manual linking off again.
    const auto pausedAt = std::chrono::steady_clock::now();
    importValues({{"LinkTaskPortManual", 0}, {"Frozen", 1}});
    ASSERT_TRUE(eventually(
        [&] {
            return logged("Frozen = 1: Планирование заданий приостановлено. / Задания будут сняты по завершению "
                          "текущих звонков.") &&
                   logged("Внимание: планировщик заданий остановлен");
        },
        3s))
        << station.out();
    EXPECT_LT(std::chrono::steady_clock::now() - pausedAt, 2s) << "one tick is 200 ms";
    EXPECT_TRUE(logged("LinkTaskPortManual = 0: "));
    expectQuiet("paused");

    // Resumed with real calls: every row is notified.
    importValues({{"Frozen", 0}, {"LocalPhone", 0}});
    ASSERT_TRUE(eventually(
        [&] {
            const auto rows = readRows(m_table);
            return std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.data.has_value(); });
        },
        15s))
        << station.out();
    stopOrderly(station);

    const std::string out = station.out();
    EXPECT_TRUE(logged("Планировщик заданий работает")) << out;
    EXPECT_TRUE(logged("Включен режим реальной прозвонки.")) << out;
    EXPECT_EQ(countOf(out, "port SIM7 under Ports is absent"), 1u) << "told once, not at every pass:\n" << out;
    EXPECT_EQ(callsOn("SIM1"), onSim1) << "a call on the removed port";
    EXPECT_EQ(callsOn("SIM7"), 0u);
    std::vector<sim::CallLogEntry> real;
    for (const sim::CallLogEntry& e : readLog(log)) {
        if (e.number == "2399999" || e.number == "2388888")
            continue;
        EXPECT_EQ(e.line == "SIM2" || e.line == "SIM3", true) << e.line;
        real.push_back(e);
    }
    EXPECT_EQ(real.size(), 6u);
    // The local-phone calls wrote nothing: the table holds the real calls alone.
    expectRowsMatchLog(readRows(m_table), real);
}

// --until-complete ends after the first pass that finds nothing able to run, and says why; a
// task that only waits for its time window is waited for.
TEST_F(HeadlessStationTest, UntilCompleteEndsWhenNothingCanRunAndSaysWhy)
{
    struct Case {
        const char* name;
        std::function<void(config::ConfigStore&)> change;
        const char* why;  // nothing: the station keeps waiting
    };
    const std::string task = std::string("task ") + kBinding + "\\" + kTask + ": ";
    const std::string done = task + "Завершено, nothing left to call";
    const std::string badTable = task + "Остановлено (";
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    // A window of one minute two hours from now.
    const std::uint32_t later = static_cast<std::uint32_t>((parts.tm_hour * 3600 + parts.tm_min * 60 + 7200) % 86400);
    const std::vector<Case> cases = {
        {"every row done", {}, done.c_str()},
        {"paused", [](config::ConfigStore& store) { config::AppSettings(store).setFrozen(true); },
         "nothing can run: Внимание: планировщик заданий остановлен"},
        {"a wrong table path",
         [&](config::ConfigStore& store) { store.writeText(config::bindingKey(kBinding), "File", (m_db / "none.dbf").string()); },
         badTable.c_str()},
        {"no task included",
         [](config::ConfigStore& store) { config::TaskStore(store).task(kBinding, kTask)->setValid(false); },
         "nothing can run: no task is included in scheduling"},
        {"no schedule",
         [](config::ConfigStore& store) {
             config::Operator definition = *config::TaskStore(store).task(kBinding, kTask);
             for (const std::string& name : definition.schedules().names())
                 definition.schedules().remove(name);
         },
         "nothing can run: task Абоненты\\Оповещение: no schedule"},
        {"a window that opens later",
         [&](config::ConfigStore& store) {
             config::Operator definition = *config::TaskStore(store).task(kBinding, kTask);
             for (const std::string& name : definition.schedules().names())
                 definition.schedules().remove(name);
             definition.schedules().add(config::dailyBlock({later, later + 60}), 0, false);
         },
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_home);
        fs::create_directories(m_home);
        fs::remove(m_table);
        std::vector<Person> all = people(3);
        for (Person& p : all) {
            // Notified before, so nothing is left to call; but rows to call for the window.
            if (c.why != nullptr) {
                p.data = data::DbfDate{2021, 3, 4};
                p.clock = "09:30:00";
            }
        }
        makeTable(m_table, all);
        prepareStation(2, 1);
        defineTask(m_table);
        if (c.change) {
            platform::RegistryStore registry(m_home / "registry.db");
            config::ConfigStore store(registry);
            c.change(store);
        }
        StationProcess station;
        ASSERT_TRUE(station.start(PELTRA_PATH, stationArgs(writePlan({}, false, 2), m_dir / "calls.jsonl", true),
                                  m_dir.path(), "idle"));
        if (c.why == nullptr) {
            EXPECT_FALSE(station.wait(1500ms)) << "ended while a window was still to open:\n" << station.out();
            stopOrderly(station);
            EXPECT_EQ(station.out().find("nothing can run"), std::string::npos) << station.out();
            continue;
        }
        const std::optional<int> code = station.wait(10s);
        ASSERT_TRUE(code) << "no end with nothing to run:\n" << station.out();
        EXPECT_EQ(*code, 0) << station.err();
        EXPECT_NE(station.out().find(c.why), std::string::npos) << station.out();
        EXPECT_NE(station.out().find("station stopped"), std::string::npos) << station.out();
    }
    EXPECT_TRUE(readLog(m_dir / "calls.jsonl").empty()) << "nothing was to be called";
}


// The calls each far end logged, by number: the distinct Call-IDs of the INVITEs it received
// (a challenged INVITE is sent again in the same call).
std::map<std::string, std::size_t> invitesByNumber(const std::string& messages)
{
    std::map<std::string, std::set<std::string>> calls;
    std::istringstream in(messages);
    std::string line, number;
    while (std::getline(in, line)) {
        if (line.rfind("INVITE sip:", 0) == 0)
            number = line.substr(11, line.find('@') - 11);
        else if (!number.empty() && line.rfind("Call-ID:", 0) == 0) {
            calls[number].insert(line.substr(8));
            number.clear();
        }
    }
    std::map<std::string, std::size_t> counts;
    for (const auto& [n, ids] : calls)
        counts[n] = ids.size();
    return counts;
}

// A campaign over three SIP channels, each on a trunk of its own to a SIPp far end that answers,
// is busy, or hangs up before the delivery marker: every row of the table matches what the far
// ends logged.
TEST_F(HeadlessStationTest, ACampaignOverSipChannelsMatchesWhatTheFarEndsLogged)
{
    const std::vector<Person> all = people(9);
    makeTable(m_table, all);
    prepareStation(1, 2, {500, 500, 200});
    defineTask(m_table);
    const Keys pcma{{"ring_ms", "100"}, {"codec_pt", "8"}, {"codec_name", "PCMA"}};
    Keys hangUp = pcma;
    hangUp.emplace_back("talk_ms", "300");
    SippPeer answering({"answer", pcma, false, 0, {}, {}}, m_dir / "answer");
    SippPeer busy({"reject", {{"reject_code", "486"}}, false, 0, {}, {}}, m_dir / "busy");
    SippPeer hanging({"hangup", hangUp, false, 0, {}, {}}, m_dir / "hangup");
    const std::vector<std::pair<std::string, SippPeer*>> trunks = {
        {"answer", &answering}, {"busy", &busy}, {"hangup", &hanging}};
    {
        platform::RegistryStore registry(m_home / "registry.db");
        config::ConfigStore store(registry);
        calls::PortSettings ports(store);
        std::vector<std::string> names;
        for (std::size_t i = 0; i < trunks.size(); ++i) {
            ASSERT_TRUE(trunks[i].second->started()) << trunks[i].second->error();
            const std::string key = "Sip\\" + trunks[i].first;
            store.writeText(key, "Proxy", "sip:127.0.0.1:" + std::to_string(trunks[i].second->port()));
            store.writeText(key, "Domain", "127.0.0.1");
            store.writeText(key, "LocalAddress", "127.0.0.1");
            store.writeNumber(key, "RtpPortMin", 20000);
            store.writeNumber(key, "RtpPortMax", 29999);
            names.push_back("SIP" + std::to_string(i + 1));
            store.writeText("Ports\\" + names.back(), "Trunk", trunks[i].first);
            ports.setDelayFirstMs(names.back(), 0);
            ports.setRingOffMs(names.back(), 100);
            ports.setWaitAnswerS(names.back(), 2);
        }
        ASSERT_TRUE(ports.setConfiguredPorts(names));
        config::Operator task = *config::TaskStore(store).task(kBinding, kTask);
        ASSERT_TRUE(task.setNumber(TaskProperty::MaxAttempts, 2));
    }
    StationProcess station;
    ASSERT_TRUE(station.start(PELTRA_PATH, {"--headless", "--home", m_home.string(), "--tick-ms", "200", "--until-complete"},
                              m_dir.path(), "sip"));
    const std::optional<int> code = station.wait(kRunLimit);
    ASSERT_TRUE(code) << station.out();
    EXPECT_EQ(*code, 0) << station.err();
    // Each far end lingers half a second at the end of a call before it counts it.
    std::this_thread::sleep_for(1s);
    for (const auto& [name, peer] : trunks)
        peer->stop();

    const auto answered = invitesByNumber(answering.messages());
    const auto refused = invitesByNumber(busy.messages());
    const auto hungUp = invitesByNumber(hanging.messages());
    const auto count = [](const std::map<std::string, std::size_t>& calls, const std::string& n) {
        return calls.count(n) ? calls.at(n) : 0u;
    };
    std::size_t total = 0;
    for (const Row& row : readRows(m_table)) {
        SCOPED_TRACE("TELEF " + row.telef);
        const std::size_t delivered = count(answered, row.telef);
        const std::size_t calls = delivered + count(refused, row.telef) + count(hungUp, row.telef);
        total += calls;
        EXPECT_LE(delivered, 1u) << "a notified row is called again";
        EXPECT_EQ(row.proba, static_cast<double>(calls));
        EXPECT_EQ(row.otboj.value_or(0), static_cast<double>(count(hungUp, row.telef)));
        EXPECT_EQ(row.data.has_value(), delivered == 1);
        // Not notified: the task gave up after its two attempts.
        EXPECT_TRUE(delivered == 1 || calls == 2);
    }
    EXPECT_EQ(answering.counts().successful + busy.counts().successful + hanging.counts().successful, total)
        << answering.counts().failed << " " << busy.counts().failed << " " << hanging.counts().failed;
    EXPECT_GT(answered.size(), 0u);
    EXPECT_GT(refused.size() + hungUp.size(), 0u);
}

}  // namespace
}  // namespace peltra::test
