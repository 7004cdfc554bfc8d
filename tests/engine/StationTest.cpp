// A whole station in this process on simulated lines: every row called and written back by two
// tasks on one table, errors with the line's reasons, local-phone mode, an orderly shutdown, and
// its limit while another program holds the table's writer lock.
#include "engine/Station.h"

#include "calls/PortSettings.h"
#include "config/AppSettings.h"
#include "config/StationHome.h"
#include "engine/EngineTables.h"
#include "platform/registry/RegistryStore.h"
#include "sim/Simulator.h"
#include "speech/TemplateFunctions.h"
#include "support/HeldTableLock.h"
#include "support/StationSetup.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace peltra::engine {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Person;
using test::Stored;
using test::today;

constexpr char kBinding[] = "Абоненты";
constexpr char kTask[] = "Долг";
constexpr char kTaskName[] = "Абоненты\\Долг";
const std::vector<std::string> kPorts = {"SIM1", "SIM2"};

// Polls cond every 5 ms until it holds or limit passes.
template <typename Cond>
bool eventually(Cond cond, std::chrono::milliseconds limit = 8000ms)
{
    const auto until = Clock::now() + limit;
    while (!cond()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct Outcome {
    std::string port;
    std::uint32_t result;
    std::string reason;
};

// "HH:MM:SS" with a real hour, minute and second.
bool isClock(const std::string& text)
{
    unsigned h = 0, m = 0, s = 0;
    char tail = 0;
    return text.size() == 8 && text[2] == ':' && text[5] == ':' &&
           std::sscanf(text.c_str(), "%2u:%2u:%2u%c", &h, &m, &s, &tail) == 3 && h < 24 && m < 60 && s < 60;
}

// What the station showed, kept for the checks. Every member may be called from any thread.
class RecordingViews : public TaskListView, public StationView, public CallOutcomeListener, public calls::LineListView {
public:
    void taskAdded(const TaskRow& row) override { taskChanged(row); }
    void taskChanged(const TaskRow& row) override
    {
        std::lock_guard lock(m_mutex);
        m_states[row.name] = row.stateText;
        if (!row.remark.empty())
            m_remarks[row.name] = row.remark;
    }
    void taskRemoved(std::uint32_t) override {}
    void workComplete() override
    {
        std::lock_guard lock(m_mutex);
        ++m_completes;
    }
    void showLocalPhoneState(const std::string& text, bool) override { keep(m_localPhoneText, text); }
    void showNotice(const std::string&, const std::string& text) override { keep(m_notice, text); }
    void callEnded(unsigned, const std::string& port, std::uint32_t result, const calls::TaskLink&,
                   const std::string& reason) override
    {
        std::lock_guard lock(m_mutex);
        m_outcomes.push_back({port, result, reason});
    }

    // The last state and the last remark the task showed.
    std::string state(const std::string& task) const { return copy(m_states)[task]; }
    std::string remark(const std::string& task) const { return copy(m_remarks)[task]; }
    int completes() const { return copy(m_completes); }
    std::vector<Outcome> outcomes() const { return copy(m_outcomes); }
    std::size_t outcomeCount() const { return outcomes().size(); }
    std::string localPhoneText() const { return copy(m_localPhoneText); }
    std::string notice() const { return copy(m_notice); }

private:
    template <typename T>
    T copy(const T& member) const
    {
        std::lock_guard lock(m_mutex);
        return member;
    }
    void keep(std::string& member, const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        member = text;
    }

    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_states;
    std::map<std::string, std::string> m_remarks;
    int m_completes = 0;
    std::string m_localPhoneText;
    std::string m_notice;
    std::vector<Outcome> m_outcomes;
};

// People 5001, 5002, ... with sums 15, 25, ...: numbers of equal length, so each completes at once.
std::vector<Person> people(std::size_t count)
{
    std::vector<Person> all;
    for (std::size_t i = 0; i < count; ++i)
        all.push_back({std::to_string(5001 + i), 10.0 * static_cast<double>(i + 1) + 5});
    return all;
}

class StationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"TMP", "TEMP", "TMPDIR"})
            if (const char* value = std::getenv(name))
                m_savedEnv[name] = value;
        m_savedDir = fs::current_path();
    }
    void TearDown() override
    {
        m_station.reset();
        m_simulator.reset();
        fs::current_path(m_savedDir);
        for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
            const auto it = m_savedEnv.find(name);
            if (it != m_savedEnv.end())
                setenv(name, it->second.c_str(), 1);
            else
                unsetenv(name);
        }
    }

    // The home: the table, the store with fast ports SIM1 and SIM2, a valid task called all day
    // with the template "ZADL" and the sum, and a library that holds every phrase it speaks.
    void prepareHome(const std::vector<Person>& rows, double phraseSeconds = 0.02)
    {
        makeTable(rows, m_table);
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        ASSERT_TRUE(registry.isOpen()) << registry.openError();
        config::ConfigStore store(registry);
        ASSERT_TRUE(test::configureFastLines(store, static_cast<unsigned>(kPorts.size()), 1));
        test::addDebtPhrases(store);
        defineTask(store, kBinding, m_table);

        // Every code the template speaks for these sums, however the sum is written out.
        speech::Patterns patterns(store, kBinding, kTask);
        std::vector<speech::PatternItem> items;
        ASSERT_TRUE(patterns.Load(items));
        speech::assignColumns(items, {"SUMMA"});
        std::set<std::string> codes;
        for (const Person& person : rows) {
            for (const char* format : {"%.2f", "%.0f", "%g", "%.1f"}) {
                char text[64];
                std::snprintf(text, sizeof text, format, person.summa);
                speech::FieldRow row;
                row.set("SUMMA", text);
                speech::PhraseList list;
                patterns.BuildPhraseList(items, row, speech::today(), list);
                codes.insert(list.begin(), list.end());
            }
        }
        std::vector<std::pair<std::string, std::uint32_t>> phrases;
        for (const std::string& code : codes)
            if (code != speech::kDeliveryMarker && code != speech::kPause)
                phrases.push_back({code, static_cast<std::uint32_t>(phraseSeconds * 1000)});
        ASSERT_TRUE(test::writeToneLibrary(m_home / "peltra.awf", phrases));
    }

    static void defineTask(config::ConfigStore& store, const std::string& binding, const fs::path& table)
    {
        test::defineDebtTask(store, binding, kTask, table);
    }
    static void makeTable(const std::vector<Person>& rows, const fs::path& path) { test::makeDebtTable(path, rows); }

    // Changes the stored definitions or settings before the station starts.
    template <typename Change>
    void editStore(Change change)
    {
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        change(store);
    }

    // The simulator: every number answered after answerMs, so numbers complete as soon as they
    // are dialled.
    void makeSimulator(const std::vector<Person>& rows, std::uint32_t answerMs = 20, bool realTime = false)
    {
        sim::SimOptions options;
        options.realTime = realTime;
        options.digitTimeoutMs = 1000;
        m_simulator = std::make_unique<sim::Simulator>(static_cast<unsigned>(kPorts.size()), options);
        m_party.answerAfterMs = answerMs;
        m_simulator->setDefaultBehaviour(m_party);
        for (const Person& person : rows)
            ASSERT_TRUE(m_simulator->setBehaviour(person.telef, m_party));
    }

    void start()
    {
        StationOptions options;
        options.home = m_home.path();
        options.simulator = m_simulator.get();
        options.tickInterval = 200ms;
        options.passInterval = 0ms;
        options.timings.debounceMs = 20;
        options.timings.lineReadyWaitMs = 200;
        options.timings.polarityFaultMs = 50;
        m_station = std::make_unique<Station>(options, StationViews{&m_views, &m_views, &m_views, {}, &m_views});
        std::string error;
        ASSERT_EQ(m_station->start(error), Station::StartResult::Started) << error;
    }

    std::vector<Stored> stored(const fs::path& path) const { return test::readStored(path); }
    std::vector<Stored> stored() const { return stored(m_table); }
    bool taskIs(const std::string& text) const { return m_views.state(kTaskName) == text; }

    // The line serving port, if there is one.
    std::optional<unsigned> lineOf(const std::string& port)
    {
        for (unsigned n = 0; n < 16; ++n)
            if (m_station->lines().GetPortName(n) == port)
                return n;
        return std::nullopt;
    }
    bool anyLineBusy()
    {
        for (const std::string& port : kPorts)
            if (const auto n = lineOf(port); n && m_station->lines().GetState(*n) == calls::kLineBusy)
                return true;
        return false;
    }

    // Calls the exchange logged for number.
    std::size_t callsTo(const std::string& number) const
    {
        const auto calls = m_simulator->calls();
        return static_cast<std::size_t>(
            std::count_if(calls.begin(), calls.end(), [&](const sim::CallRecord& c) { return c.dialed == number; }));
    }
    // Outcomes the controller took on port (any port when empty) with that call result.
    std::size_t outcomesFor(const std::string& port, std::uint32_t result) const
    {
        const auto all = m_views.outcomes();
        return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [&](const Outcome& o) {
            return (port.empty() || o.port == port) && o.result == result;
        }));
    }

    static void expectDelivered(const Stored& r, const std::vector<data::DbfDate>& days)
    {
        EXPECT_EQ(r.proba, 1) << r.telef;
        EXPECT_EQ(r.otboj, 0) << r.telef;
        ASSERT_TRUE(r.data) << r.telef;
        EXPECT_NE(std::find(days.begin(), days.end(), *r.data), days.end()) << r.telef;
        EXPECT_TRUE(isClock(r.clock)) << r.telef << " '" << r.clock << "'";
    }

    test::TempDir m_runtime;
    test::ScopedRuntimeDir m_runtimeDir{m_runtime.path()};
    test::TempDir m_home;
    fs::path m_table = m_home / "abon.dbf";
    std::map<std::string, std::string> m_savedEnv;
    fs::path m_savedDir;
    sim::PartyBehaviour m_party;
    std::unique_ptr<sim::Simulator> m_simulator;
    RecordingViews m_views;
    std::unique_ptr<Station> m_station;
};

// A second binding of the same table with the same task: both select every row, and the
// exchange still sees each person once and never one number on two lines at once.
TEST_F(StationTest, EveryRowIsCalledOnceAndWrittenBackAlsoWithTwoTasksOnTheTable)
{
    const auto rows = people(12);
    prepareHome(rows);
    editStore([&](config::ConfigStore& store) { defineTask(store, "Двойник", m_table); });
    makeSimulator(rows);
    const data::DbfDate startDay = today();
    start();
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено") && m_views.state("Двойник\\Долг") == "Завершено"; }))
        << m_views.state(kTaskName) << " " << m_views.state("Двойник\\Долг");
    ASSERT_TRUE(m_simulator->waitForCalls(rows.size(), 2000));
    EXPECT_TRUE(eventually([&] { return m_views.completes() > 0; }, 2000ms)) << "the end of work is announced";

    const auto table = stored();
    ASSERT_EQ(table.size(), rows.size());
    for (const Stored& r : table) {
        expectDelivered(r, {startDay, today()});
        EXPECT_EQ(callsTo(r.telef), 1u) << r.telef;
    }
    const auto calls = m_simulator->calls();
    EXPECT_EQ(calls.size(), rows.size());
    std::set<std::string> portsUsed;
    const auto endOf = [](const sim::CallRecord& call) {
        return call.offHookAt + std::chrono::microseconds(static_cast<long long>(call.callerHangupMs.value_or(0) * 1000));
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        portsUsed.insert(calls[i].port);
        EXPECT_TRUE(calls[i].answerMs) << calls[i].describe();
        EXPECT_GT(calls[i].partyHeardBytes, 0u) << calls[i].describe();
        for (std::size_t j = i + 1; j < calls.size(); ++j) {
            const bool apart = endOf(calls[i]) <= calls[j].offHookAt || endOf(calls[j]) <= calls[i].offHookAt;
            EXPECT_TRUE(calls[i].dialed != calls[j].dialed || apart) << calls[i].dialed << " on two lines at once";
        }
    }
    EXPECT_EQ(portsUsed, (std::set<std::string>{"SIM1", "SIM2"}));
    EXPECT_EQ(outcomesFor("", line::kCallDelivered), rows.size());
    EXPECT_EQ(m_views.outcomeCount(), rows.size());
    // Each task counts what it notified, of the twelve rows it selected.
    int notified = 0;
    for (const TaskRow& task : m_station->tasks().rows()) {
        int count = -1;
        EXPECT_EQ(std::sscanf(task.notified.c_str(), "%d из 12", &count), 1) << task.notified;
        notified += count;
    }
    EXPECT_EQ(notified, 12);
}

// Nobody is rung for a message the library cannot play, and every error names its reason, as the
// line gives it, to the controller's listeners and in the task's remark.
TEST_F(StationTest, AnErrorResultCarriesTheLinesReasonToTheOutcomeAndTheTaskRemark)
{
    const auto rows = people(2);
    prepareHome(rows);
    const struct {
        const char* name;
        bool phraseMissing;
        bool deadLine;
        const char* reason;
    } cases[] = {
        {"a dead line", false, true, "неисправность"},
        {"a phrase missing from the library", true, false, "\"ZADL\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.phraseMissing) {
            ASSERT_TRUE(test::writeToneLibrary(m_home / "peltra.awf", {{"_001", 20}}));
        }
        makeSimulator(rows);
        if (c.deadLine) {
            sim::PartyBehaviour dead;
            dead.condition = sim::LineCondition::Dead;
            m_simulator->setDefaultBehaviour(dead);
        }
        const std::size_t before = outcomesFor("", line::kCallError);
        start();
        ASSERT_TRUE(eventually([&] { return outcomesFor("", line::kCallError) >= before + 2; }, 15000ms));
        const auto taskRows = m_station->tasks().rows();
        m_station->shutdown();

        EXPECT_TRUE(m_simulator->calls().empty()) << m_simulator->calls().at(0).describe();
        const auto outcomes = m_views.outcomes();
        for (std::size_t i = outcomes.size() - 2; i < outcomes.size(); ++i) {
            EXPECT_EQ(outcomes[i].result, line::kCallError);
            EXPECT_NE(outcomes[i].reason.find(c.reason), std::string::npos) << outcomes[i].reason;
        }
        ASSERT_EQ(taskRows.size(), 1u);
        EXPECT_NE(taskRows[0].remark.find(c.reason), std::string::npos) << taskRows[0].remark;
        for (const Stored& r : stored()) {
            EXPECT_EQ(r.proba, 0) << r.telef << ": an error writes nothing";
        }
        m_station.reset();
        m_simulator.reset();
    }
}

TEST_F(StationTest, ALocalPhoneThatCannotBeDialledCallsNobodyAndIsRefused)
{
    const auto rows = people(2);
    prepareHome(rows);
    editStore([](config::ConfigStore& store) {
        config::AppSettings settings(store);
        ASSERT_TRUE(settings.setLocalPhone(true));
        ASSERT_TRUE(settings.setLocalPhoneString("abc"));
        ASSERT_TRUE(settings.setLocalPhoneUpdate(true));
    });
    makeSimulator(rows);
    const std::string before = test::fileBytes(m_table);
    start();
    EXPECT_EQ(m_views.localPhoneText(),
              "Внимание: режим \"Местный телефон\" с номером \"abc\", который набрать нельзя: звонки не производятся.");
    // Several ticks: the task is open, yet neither "abc" nor a real person is called.
    ASSERT_TRUE(eventually([&] { return taskIs("Бездействует"); })) << m_views.state(kTaskName);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(m_simulator->calls().empty());
    EXPECT_FALSE(anyLineBusy());
    EXPECT_EQ(test::fileBytes(m_table), before) << "no row's attempts are counted";

    // The operator's command with another such number is refused and changes nothing.
    EXPECT_FALSE(m_station->controller().setLocalPhone(true, "", true));
    EXPECT_EQ(m_views.notice(), localPhoneRefusal(""));
    EXPECT_EQ(config::AppSettings(m_station->store()).localPhoneString(), "abc");
    // A number that can be dialled takes over at once.
    ASSERT_TRUE(m_simulator->setBehaviour("777", m_party));
    EXPECT_TRUE(m_station->controller().setLocalPhone(true, "777", true));
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    for (const sim::CallRecord& call : m_simulator->calls())
        EXPECT_EQ(call.dialed, "777");
    // With "write results" on, the local calls are written into the rows they stood for.
    for (const Stored& r : stored())
        expectDelivered(r, {today()});
}

TEST_F(StationTest, ShutdownStopsTheCallsInProgressAndJoinsEverything)
{
    const auto rows = people(6);
    prepareHome(rows);
    makeSimulator(rows, 500);
    start();
    ASSERT_TRUE(eventually([&] { return anyLineBusy(); }));
    const auto begin = Clock::now();
    m_station->shutdown();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
    EXPECT_LT(took.count(), 3000) << "the calls in progress are abandoned, not waited for";
    EXPECT_FALSE(m_station->controller().running());
    EXPECT_TRUE(m_station->tasks().rows().empty());
    for (const std::string& port : kPorts)
        EXPECT_EQ(m_simulator->line(port), nullptr) << port << " is closed";
    const std::size_t outcomes = m_views.outcomeCount();
    m_station->shutdown();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_views.outcomeCount(), outcomes) << "nothing reports after the shutdown";
    // The rows of abandoned calls keep no false result.
    for (const Stored& r : stored())
        EXPECT_TRUE(r.data ? r.proba == 1 : r.proba == 0) << r.telef;
}

TEST_F(StationTest, ShutdownKeepsItsLimitWhileATableIsLockedAndNamesWhatWasNotWritten)
{
    const auto rows = people(3);
    prepareHome(rows);
    makeSimulator(rows);
    test::HeldTableLock lock(m_table, m_runtime / "lock");
    ASSERT_TRUE(lock.held());
    start();
    ASSERT_TRUE(eventually([&] { return m_views.outcomeCount() >= rows.size(); }));
    const auto begin = Clock::now();
    m_station->shutdown();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
    EXPECT_LT(took.count(), 3000);
    const std::string remark = m_views.remark(kTaskName);
    EXPECT_TRUE(remark.starts_with(std::string(kResultNotWritten) + ": 3 ")) << remark;
    lock.release();
    for (const Stored& r : stored())
        EXPECT_FALSE(r.data) << r.telef;
}

}  // namespace
}  // namespace peltra::engine
