// A whole station in this process on simulated lines: every row called and written back, the
// outcomes of parties that do not answer or hang up, pause and resume, local-phone mode, manual
// linking, a port dropped during a call, one station per home, an orderly shutdown, and another
// program on the table while the station runs (rows packed away, the writer lock held).
#include "engine/Station.h"

#include "calls/PortSettings.h"
#include "config/AppSettings.h"
#include "config/StationHome.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "lexicon/LibraryBuild.h"
#include "lexicon/StandardCatalogue.h"
#include "line/PhonogramLibrary.h"
#include "platform/registry/RegistryStore.h"
#include "sim/Simulator.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"
#include "speech/RowValues.h"
#include "speech/TemplateFunctions.h"
#include "support/HeldTableLock.h"
#include "support/PythonDbf.h"
#include "support/StationSetup.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace peltra::engine {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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

struct Person {
    std::string telef;
    double summa;
};

struct Stored {
    std::string telef;
    double proba = 0;
    std::optional<double> otboj;
    std::optional<data::DbfDate> data;
    std::string clock;
};

struct Outcome {
    unsigned line;
    std::string port;
    std::uint32_t result;
    calls::TaskLink link;
    std::string reason;
};

std::string fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

data::DbfDate today()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

// "HH:MM:SS" with a real hour, minute and second.
bool isClock(const std::string& text)
{
    unsigned h = 0, m = 0, s = 0;
    char tail = 0;
    return text.size() == 8 && text[2] == ':' && text[5] == ':' &&
           std::sscanf(text.c_str(), "%2u:%2u:%2u%c", &h, &m, &s, &tail) == 3 && h < 24 && m < 60 && s < 60;
}

// Everything the station showed, kept for the checks. Every member may be called from any thread.
class RecordingViews : public TaskListView, public StationView, public CallOutcomeListener, public calls::LineListView {
public:
    void taskAdded(const TaskRow& row) override { taskChanged(row); }
    void taskChanged(const TaskRow& row) override
    {
        std::lock_guard lock(m_mutex);
        auto& states = m_states[row.name];
        if (states.empty() || states.back() != row.stateText)
            states.push_back(row.stateText);
        auto& remarks = m_remarks[row.name];
        if (!row.remark.empty() && (remarks.empty() || remarks.back() != row.remark))
            remarks.push_back(row.remark);
    }
    void taskRemoved(std::uint32_t) override {}
    void workComplete() override
    {
        std::lock_guard lock(m_mutex);
        ++m_completes;
    }

    void showSchedulerState(const std::string& text, bool) override
    {
        std::lock_guard lock(m_mutex);
        m_schedulerTexts.push_back(text);
    }
    void showLocalPhoneState(const std::string& text, bool) override
    {
        std::lock_guard lock(m_mutex);
        m_localPhoneTexts.push_back(text);
    }
    void showNotice(const std::string&, const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_notices.push_back(text);
    }

    void callEnded(unsigned line, const std::string& port, std::uint32_t result, const calls::TaskLink& link,
                   const std::string& reason) override
    {
        std::lock_guard lock(m_mutex);
        m_outcomes.push_back({line, port, result, link, reason});
    }

    void lineRemoved(unsigned number) override
    {
        std::lock_guard lock(m_mutex);
        m_linesRemoved.push_back(number);
    }
    void noteChange(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_changes.push_back(text);
    }
    // How many changes noted so far begin with start.
    std::size_t changesStarting(const std::string& start) const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count_if(m_changes.begin(), m_changes.end(),
                                                      [&](const std::string& c) { return c.starts_with(start); }));
    }

    std::vector<std::string> states(const std::string& task) const
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_states.find(task);
        return it == m_states.end() ? std::vector<std::string>{} : it->second;
    }
    // Every remark the task showed, in order.
    std::vector<std::string> remarks(const std::string& task) const
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_remarks.find(task);
        return it == m_remarks.end() ? std::vector<std::string>{} : it->second;
    }
    std::string state(const std::string& task) const
    {
        const auto all = states(task);
        return all.empty() ? "" : all.back();
    }
    int completes() const
    {
        std::lock_guard lock(m_mutex);
        return m_completes;
    }
    std::vector<Outcome> outcomes() const
    {
        std::lock_guard lock(m_mutex);
        return m_outcomes;
    }
    std::size_t outcomeCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_outcomes.size();
    }
    std::vector<std::string> schedulerTexts() const
    {
        std::lock_guard lock(m_mutex);
        return m_schedulerTexts;
    }
    std::vector<std::string> localPhoneTexts() const
    {
        std::lock_guard lock(m_mutex);
        return m_localPhoneTexts;
    }
    std::vector<std::string> notices() const
    {
        std::lock_guard lock(m_mutex);
        return m_notices;
    }
    bool lineRemovedSeen(unsigned number) const
    {
        std::lock_guard lock(m_mutex);
        return std::find(m_linesRemoved.begin(), m_linesRemoved.end(), number) != m_linesRemoved.end();
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::vector<std::string>> m_states;
    std::map<std::string, std::vector<std::string>> m_remarks;
    int m_completes = 0;
    std::vector<std::string> m_schedulerTexts;
    std::vector<std::string> m_localPhoneTexts;
    std::vector<std::string> m_notices;
    std::vector<Outcome> m_outcomes;
    std::vector<unsigned> m_linesRemoved;
    std::vector<std::string> m_changes;
};

// The simulator's ports, but a hidden one fails to open as an unplugged adapter does.
class HidingPorts : public platform::PortOpener {
public:
    explicit HidingPorts(platform::PortOpener& ports) : m_ports(ports) {}
    void hide(const std::string& name, bool hidden)
    {
        std::lock_guard lock(m_mutex);
        if (hidden)
            m_hidden.insert(name);
        else
            m_hidden.erase(name);
    }
    std::unique_ptr<platform::SerialPort> open(const std::string& name, int& error) override
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_hidden.count(name)) {
                error = ENOENT;
                return nullptr;
            }
        }
        return m_ports.open(name, error);
    }
    std::vector<std::string> candidateNames() override { return m_ports.candidateNames(); }

private:
    platform::PortOpener& m_ports;
    std::mutex m_mutex;
    std::set<std::string> m_hidden;
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
        for (const char* name : {"XDG_RUNTIME_DIR", "TMP", "TEMP", "TMPDIR"})
            if (const char* value = std::getenv(name))
                m_savedEnv[name] = value;
        setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
        m_savedDir = fs::current_path();
    }
    void TearDown() override
    {
        m_second.reset();
        m_station.reset();
        m_simulator.reset();
        fs::current_path(m_savedDir);
        for (const char* name : {"XDG_RUNTIME_DIR", "TMP", "TEMP", "TMPDIR"}) {
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
        makeTable(rows);
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        ASSERT_TRUE(registry.isOpen()) << registry.openError();
        config::ConfigStore store(registry);
        ASSERT_TRUE(test::configureFastLines(store, static_cast<unsigned>(kPorts.size()), 1));

        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Долг", "ZADL", "Ваша задолженность"));
        ASSERT_TRUE(catalogue.addFolder("", "Функции"));
        ASSERT_TRUE(catalogue.addLeaf("Функции", "Рубли", "@009", "Сумма (рубли)"));

        defineTask(store, kBinding, m_table);

        // Every code the template speaks for these sums, however the sum is written out.
        speech::Patterns patterns(store, kBinding, kTask);
        std::vector<speech::PatternItem> items;
        ASSERT_TRUE(patterns.Load(items));
        speech::assignColumns(items, {"SUMMA"});
        std::set<std::string> codes = {speech::kPause};
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

    // The task kTask of binding on table, called all day with the template "ZADL" and the sum.
    static void defineTask(config::ConfigStore& store, const std::string& binding, const fs::path& table)
    {
        config::TaskStore tasks(store);
        ASSERT_EQ(tasks.addBinding(binding, table.string(), ""), config::AddResult::Added);
        ASSERT_EQ(config::Operators(store, binding).add(kTask), config::AddResult::Added);
        config::Operator task(store, binding, kTask);
        ASSERT_EQ(task.setSort("SUMMA", "N", true), config::Change::Changed);
        speech::Patterns patterns(store, binding, kTask);
        speech::PatternItem item;
        item.path = "Фразы\\Долг";
        ASSERT_TRUE(patterns.Insert("", item));
        item.path = "Функции\\Рубли";
        item.arg = "SUMMA";
        ASSERT_TRUE(patterns.Insert("0001", item));
        ASSERT_TRUE(task.schedules().add(config::dailyBlock({0, config::kSecondsPerDay}), 0, false));
        ASSERT_TRUE(task.setValid(true));
    }

    // Changes the stored definitions or settings before the station starts.
    template <typename Change>
    void editStore(Change change)
    {
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        change(store);
    }

    void makeTable(const std::vector<Person>& rows) { makeTable(rows, m_table); }
    void makeTable(const std::vector<Person>& rows, const fs::path& path)
    {
        const std::vector<data::DbfFieldSpec> fields = {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},
                                                        {"OTBOJ", 'N', 3, 0},  {"DATA", 'D', 8, 0},
                                                        {"CLOCK", 'C', 8, 0},  {"SUMMA", 'N', 10, 2}};
        std::string error;
        ASSERT_TRUE(data::DbfTable::create(path, fields, 866, true, &error)) << error;
        data::DbfTable::Options options;
        options.writable = true;
        auto table = data::DbfTable::open(path, options, &error);
        ASSERT_TRUE(table) << error;
        for (const Person& person : rows)
            ASSERT_TRUE(table->append({{0, data::DbfValue::ofText(person.telef)},
                                       {1, data::DbfValue::ofNumber(0)},
                                       {5, data::DbfValue::ofNumber(person.summa)}},
                                      nullptr, &error))
                << error;
    }

    // The simulator: every person's number registered with the party given (the default party
    // answers after answerMs), so numbers complete as soon as they are dialled.
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

    StationOptions options()
    {
        StationOptions options;
        options.home = m_home.path();
        options.simulator = m_simulator.get();
        options.tickInterval = 200ms;
        options.passInterval = 0ms;
        options.timings.debounceMs = 20;
        options.timings.lineReadyWaitMs = 200;
        options.timings.polarityFaultMs = 50;
        return options;
    }

    StationViews views()
    {
        StationViews views;
        views.tasks = &m_views;
        views.lines = &m_views;
        views.station = &m_views;
        views.outcomes = &m_views;
        return views;
    }

    void start()
    {
        m_station = std::make_unique<Station>(options(), views());
        std::string error;
        ASSERT_EQ(m_station->start(error), Station::StartResult::Started) << error;
    }

    std::vector<Stored> stored() const { return stored(m_table); }
    std::vector<Stored> stored(const fs::path& path) const
    {
        std::string error;
        auto table = data::DbfTable::open(path, {}, &error);
        EXPECT_TRUE(table) << error;
        std::vector<Stored> rows;
        for (std::uint32_t i = 0; table && i < table->recordCount(); ++i) {
            std::string bytes;
            EXPECT_TRUE(table->readRecord(i, bytes, &error)) << error;
            Stored r;
            r.telef = table->value(bytes, 0).text;
            r.proba = table->value(bytes, 1).number;
            const data::DbfValue otboj = table->value(bytes, 2);
            if (otboj.kind == data::DbfValue::Kind::Number)
                r.otboj = otboj.number;
            const data::DbfValue date = table->value(bytes, 3);
            if (date.kind == data::DbfValue::Kind::Date)
                r.data = date.date;
            r.clock = table->value(bytes, 4).text;
            rows.push_back(r);
        }
        return rows;
    }

    std::optional<Stored> storedRow(const std::string& telef) const
    {
        for (const Stored& r : stored())
            if (r.telef == telef)
                return r;
        return std::nullopt;
    }

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
        std::size_t count = 0;
        for (const sim::CallRecord& call : m_simulator->calls())
            count += call.dialed == number ? 1 : 0;
        return count;
    }
    // Outcomes the controller took on port (any port when empty) with that call result.
    std::size_t outcomesFor(const std::string& port, std::uint32_t result) const
    {
        std::size_t count = 0;
        for (const Outcome& o : m_views.outcomes())
            count += (port.empty() || o.port == port) && o.result == result ? 1 : 0;
        return count;
    }

    void expectDelivered(const Stored& r, const std::vector<data::DbfDate>& days)
    {
        EXPECT_EQ(r.proba, 1) << r.telef;
        EXPECT_EQ(r.otboj, 0) << r.telef;
        ASSERT_TRUE(r.data) << r.telef;
        EXPECT_TRUE(std::find(days.begin(), days.end(), *r.data) != days.end()) << r.telef << " " << r.data->year << "/" << r.data->month << "/"
                                         << r.data->day;
        EXPECT_TRUE(isClock(r.clock)) << r.telef << " '" << r.clock << "'";
    }

    test::TempDir m_runtime;
    test::TempDir m_home;
    fs::path m_table = m_home / "abon.dbf";
    std::map<std::string, std::string> m_savedEnv;
    fs::path m_savedDir;
    sim::PartyBehaviour m_party;
    std::unique_ptr<sim::Simulator> m_simulator;
    RecordingViews m_views;
    std::unique_ptr<Station> m_station;
    std::unique_ptr<Station> m_second;
};

TEST_F(StationTest, EveryRowIsCalledOnceAndWrittenBack)
{
    const auto rows = people(12);
    prepareHome(rows);
    makeSimulator(rows);
    const data::DbfDate startDay = today();
    start();
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    ASSERT_TRUE(m_simulator->waitForCalls(rows.size(), 2000));
    EXPECT_TRUE(eventually([&] { return m_views.completes() > 0; }, 2000ms)) << "the end of work is announced";

    const std::vector<data::DbfDate> days = {startDay, today()};
    const auto table = stored();
    ASSERT_EQ(table.size(), rows.size());
    for (const Stored& r : table)
        expectDelivered(r, days);

    // The exchange saw exactly the table's numbers, each once, on both lines.
    const auto calls = m_simulator->calls();
    std::vector<std::string> dialed, expected;
    std::set<std::string> portsUsed;
    for (const sim::CallRecord& call : calls) {
        dialed.push_back(call.dialed);
        portsUsed.insert(call.port);
        EXPECT_TRUE(call.answerMs) << call.describe();
        EXPECT_GT(call.partyHeardBytes, 0u) << call.describe();
    }
    for (const Person& p : rows)
        expected.push_back(p.telef);
    std::sort(dialed.begin(), dialed.end());
    EXPECT_EQ(dialed, expected);
    EXPECT_EQ(portsUsed, (std::set<std::string>{"SIM1", "SIM2"}));
    EXPECT_EQ(outcomesFor("", line::kCallDelivered), rows.size());
    EXPECT_EQ(m_views.outcomeCount(), rows.size());

    const auto taskRows = m_station->tasks().rows();
    ASSERT_EQ(taskRows.size(), 1u);
    EXPECT_EQ(taskRows[0].notified, "12 из 12");
}

// Speaks every text as 30 ms of tone: a library for a whole catalogue in a moment.
class ToneVoice : public lexicon::Synthesizer {
public:
    std::optional<platform::WavAudio> speak(const std::string&, std::string&) const override
    {
        platform::WavAudio audio;
        audio.sampleRate = 8000;
        audio.channels = 1;
        audio.bitsPerSample = 16;
        for (int i = 0; i < 240; ++i)
            audio.samples.push_back(static_cast<float>(0.3 * std::sin(i * 0.4)));
        return audio;
    }
};

// The standard catalogue and the library built from it: a district the dictionary lacks (here
// every TELEF) is not spoken, and the call goes on to its end.
TEST_F(StationTest, AWordMissingFromTheDictionaryIsNotSpokenAndTheCallGoesOn)
{
    const auto rows = people(2);
    prepareHome(rows);
    editStore([&](config::ConfigStore& store) {
        speech::Catalogue catalogue(store);
        const lexicon::InstallReport report = lexicon::installStandardCatalogue(catalogue, false);
        ASSERT_TRUE(report.problems.empty()) << report.problems.front();
        speech::Patterns patterns(store, kBinding, kTask);
        speech::PatternItem item;
        item.path = "Словари\\Район";
        item.arg = "TELEF";
        ASSERT_TRUE(patterns.Insert("0002", item));
        std::string error;
        ASSERT_TRUE(lexicon::buildLibrary(lexicon::cataloguePhrases(catalogue), ToneVoice(), m_home / "peltra.awf",
                                          nullptr, error))
            << error;
    });
    makeSimulator(rows);
    const data::DbfDate startDay = today();
    start();
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    for (const Stored& r : stored())
        expectDelivered(r, {startDay, today()});
    EXPECT_EQ(outcomesFor("", line::kCallDelivered), rows.size());
}

TEST_F(StationTest, APartyThatNeverAnswersIsCalledAgainAndNeverMarked)
{
    const auto rows = people(3);
    prepareHome(rows);
    makeSimulator(rows);
    sim::PartyBehaviour silent;
    silent.answerAfterMs = std::nullopt;
    ASSERT_TRUE(m_simulator->setBehaviour("5002", silent));
    start();
    // Each attempt waits one second for the answer.
    ASSERT_TRUE(eventually([&] { return outcomesFor("", line::kCallNoAnswer) >= 2; })) << callsTo("5002");
    ASSERT_TRUE(eventually([&] { return outcomesFor("", line::kCallDelivered) >= 2; }));
    m_station->shutdown();

    const std::size_t noAnswers = outcomesFor("", line::kCallNoAnswer);
    const auto silentRow = storedRow("5002");
    ASSERT_TRUE(silentRow);
    EXPECT_EQ(silentRow->proba, static_cast<double>(noAnswers)) << "every attempt counted";
    EXPECT_FALSE(silentRow->data);
    EXPECT_NE(silentRow->otboj, std::optional<double>(1));
    for (const char* telef : {"5001", "5003"})
        expectDelivered(*storedRow(telef), {today()});
    // The exchange saw each attempt as a call of its own (one more may have been cut short by
    // the shutdown), never answered.
    const std::size_t attempts = callsTo("5002");
    EXPECT_GE(attempts, noAnswers);
    EXPECT_LE(attempts, noAnswers + 1);
    for (const sim::CallRecord& call : m_simulator->calls()) {
        if (call.dialed == "5002") {
            EXPECT_FALSE(call.answerMs);
        }
    }
}

TEST_F(StationTest, MaxAttemptsEndsTheRedialingOfAPartyThatNeverAnswers)
{
    const auto rows = people(3);
    prepareHome(rows);
    editStore([](config::ConfigStore& store) {
        ASSERT_TRUE(config::Operator(store, kBinding, kTask).setNumber(config::TaskProperty::MaxAttempts, 2));
    });
    makeSimulator(rows);
    sim::PartyBehaviour silent;
    silent.answerAfterMs = std::nullopt;
    ASSERT_TRUE(m_simulator->setBehaviour("5002", silent));
    start();
    // The row out of attempts is no work left: the task finishes.
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(callsTo("5002"), 2u);
    EXPECT_EQ(outcomesFor("", line::kCallNoAnswer), 2u);
    const test::ProgramResult read =
        test::runPythonDbf("t=dbf.Table(sys.argv[1]); t.open()\n"
                           "for r in t: print(r.telef.strip(), int(r.proba), bool(r.data))",
                           {m_table.string()}, m_runtime / "python");
    EXPECT_EQ(read.out, "5001 1 True\n5002 2 False\n5003 1 True\n");
}

TEST_F(StationTest, APartyThatHangsUpBeforeTheEndCountsAsAHangUp)
{
    // Paced as a real port, the message (about a second and a half, well past the port's
    // 4096-byte transmit queue) outlasts the party's 100 ms.
    const auto rows = people(3);
    prepareHome(rows, 0.3);
    makeSimulator(rows, 20, true);
    sim::PartyBehaviour impatient;
    impatient.answerAfterMs = 20;
    impatient.hangUpAfterMs = 100;
    ASSERT_TRUE(m_simulator->setBehaviour("5003", impatient));
    start();
    ASSERT_TRUE(eventually([&] { return outcomesFor("", line::kCallHungUp) >= 1; })) << [&] {
        std::string text;
        for (const Outcome& o : m_views.outcomes())
            text += o.port + " " + std::to_string(o.result) + " row " + std::to_string(o.link.row) + "\n";
        for (const sim::CallRecord& call : m_simulator->calls())
            text += call.describe();
        return text;
    }();
    ASSERT_TRUE(eventually([&] { return outcomesFor("", line::kCallDelivered) >= 2; }));
    m_station->shutdown();

    const std::size_t hangUps = outcomesFor("", line::kCallHungUp);
    const auto row = storedRow("5003");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->otboj, static_cast<double>(hangUps));
    EXPECT_GE(callsTo("5003"), hangUps);
    EXPECT_EQ(row->proba, static_cast<double>(hangUps));
    EXPECT_FALSE(row->data);
    for (const char* telef : {"5001", "5002"})
        expectDelivered(*storedRow(telef), {today()});
    for (const Outcome& o : m_views.outcomes())
        EXPECT_NE(o.result, line::kCallError) << o.port;
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

TEST_F(StationTest, PauseWithdrawsTheTaskAfterItsCallsAndResumeOpensItAgain)
{
    const auto rows = people(10);
    prepareHome(rows);
    makeSimulator(rows, 300);
    start();
    ASSERT_TRUE(eventually([&] { return anyLineBusy(); }));
    const std::size_t outcomesAtPause = m_views.outcomeCount();
    m_station->controller().pause();
    ASSERT_TRUE(eventually([&] { return taskIs("Остановлено"); }, 5000ms)) << m_views.state(kTaskName);
    const std::size_t outcomesAtStop = m_views.outcomeCount();
    EXPECT_LE(outcomesAtStop - outcomesAtPause, kPorts.size()) << "only the calls in progress end";

    const auto states = m_views.states(kTaskName);
    ASSERT_GE(states.size(), 2u);
    EXPECT_EQ(states[states.size() - 2], "Снимается") << "withdrawn while its calls ran";
    EXPECT_TRUE(config::AppSettings(m_station->store()).frozen());
    EXPECT_EQ(m_views.schedulerTexts().back(), kSchedulerPaused);
    EXPECT_TRUE(eventually([&] { return m_views.completes() > 0; }, 2000ms));
    EXPECT_FALSE(m_station->hasUnfinishedSessions());

    // Two ticks later still nothing has been dialled.
    ASSERT_TRUE(m_simulator->waitForCalls(outcomesAtStop, 2000));
    const std::size_t callsAtStop = m_simulator->calls().size();
    std::this_thread::sleep_for(450ms);
    EXPECT_EQ(m_simulator->calls().size(), callsAtStop);
    EXPECT_FALSE(anyLineBusy());
    EXPECT_EQ(m_views.outcomeCount(), outcomesAtStop);

    m_station->controller().resume();
    EXPECT_FALSE(config::AppSettings(m_station->store()).frozen());
    EXPECT_EQ(m_views.schedulerTexts().back(), kSchedulerRunning);
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    for (const Stored& r : stored())
        expectDelivered(r, {today()});
    ASSERT_TRUE(m_simulator->waitForCalls(rows.size(), 2000));
    EXPECT_EQ(m_simulator->calls().size(), rows.size()) << "no row was called twice";
}

TEST_F(StationTest, ANewSortOrderDuringCallsRestartsTheTaskOnceItsCallsReport)
{
    const auto rows = people(10);
    prepareHome(rows);
    makeSimulator(rows, 200);
    start();
    ASSERT_TRUE(eventually([&] { return m_views.outcomeCount() >= 2 && anyLineBusy(); }));
    {
        config::Operator task(m_station->store(), kBinding, kTask);
        ASSERT_EQ(task.setSort("SUMMA", "N", false), config::Change::Changed);
        ASSERT_TRUE(task.setValid(true));
    }
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    const auto states = m_views.states(kTaskName);
    const auto withdrawn = std::find(states.begin(), states.end(), "Снимается");
    ASSERT_NE(withdrawn, states.end()) << "withdrawn while its calls ran";
    EXPECT_NE(std::find(withdrawn, states.end(), "Выполняется"), states.end()) << "then running again";

    for (const Stored& r : stored())
        expectDelivered(r, {today()});
    ASSERT_TRUE(m_simulator->waitForCalls(rows.size(), 2000));
    EXPECT_EQ(m_simulator->calls().size(), rows.size()) << "each row called once";
    // After the restart the highest sum comes first: 5010 now ends before 5008, which the
    // ascending order would have called earlier.
    const auto calls = m_simulator->calls();
    const auto position = [&](const std::string& number) {
        return std::find_if(calls.begin(), calls.end(), [&](const sim::CallRecord& c) { return c.dialed == number; }) -
               calls.begin();
    };
    EXPECT_LT(position("5010"), position("5008"));
}

// A port stored as a line that is not there is told once, not at every pass, and gets its line
// as soon as it is back.
TEST_F(StationTest, AStoredPortThatIsAbsentIsToldOnceAndGetsItsLineWhenItIsBack)
{
    const auto rows = people(20);
    prepareHome(rows);
    makeSimulator(rows, 100);
    HidingPorts ports(*m_simulator);
    ports.hide("SIM2", true);
    StationOptions withPorts = options();
    withPorts.ports = &ports;
    m_station = std::make_unique<Station>(withPorts, views());
    std::string error;
    ASSERT_EQ(m_station->start(error), Station::StartResult::Started) << error;

    const std::string absent = "port SIM2 under Ports is absent";
    ASSERT_TRUE(eventually([&] { return m_views.changesStarting(absent) > 0; }, 2000ms));
    std::this_thread::sleep_for(700ms);  // three more passes
    EXPECT_EQ(m_views.changesStarting(absent), 1u);
    EXPECT_FALSE(m_station->lines().FindByPortName("SIM2"));
    EXPECT_TRUE(m_station->lines().FindByPortName("SIM1"));

    ports.hide("SIM2", false);
    ASSERT_TRUE(eventually([&] { return m_station->lines().FindByPortName("SIM2"); }, 2000ms));
    std::this_thread::sleep_for(450ms);
    EXPECT_EQ(m_views.changesStarting("port SIM2 under Ports is present again"), 1u);
    EXPECT_EQ(m_views.changesStarting(absent), 1u);
    ASSERT_TRUE(eventually([&] {
        const auto calls = m_simulator->calls();
        return std::any_of(calls.begin(), calls.end(), [](const sim::CallRecord& c) { return c.port == "SIM2"; });
    })) << "the line that came back takes calls";
}

TEST_F(StationTest, LocalPhoneWithoutResultsDialsTheOneNumberAndWritesNothing)
{
    const auto rows = people(3);
    prepareHome(rows);
    editStore([](config::ConfigStore& store) { ASSERT_TRUE(config::AppSettings(store).setFrozen(true)); });
    makeSimulator(rows);
    sim::PartyBehaviour local;
    local.answerAfterMs = 0;
    ASSERT_TRUE(m_simulator->setBehaviour("777", local));
    const std::string before = fileBytes(m_table);
    start();
    ASSERT_TRUE(eventually([&] { return taskIs("Остановлено"); })) << "started paused";
    ASSERT_FALSE(m_views.schedulerTexts().empty());
    EXPECT_EQ(m_views.schedulerTexts().front(), kSchedulerPaused);
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(m_views.outcomeCount(), 0u);
    EXPECT_TRUE(m_simulator->calls().empty());
    EXPECT_FALSE(anyLineBusy()) << "nothing is called while paused";

    m_station->controller().setLocalPhone(true, "777", false);
    m_station->controller().resume();
    // More calls than rows: the rows stay to be called.
    ASSERT_TRUE(eventually([&] { return m_views.outcomeCount() >= 2 * rows.size() + 1; }));
    m_station->shutdown();

    // A call the shutdown cut short may have dialled nothing yet.
    std::size_t cutShort = 0;
    for (const sim::CallRecord& call : m_simulator->calls()) {
        if (!call.completeMs && call.dialed.empty())
            ++cutShort;
        else
            EXPECT_EQ(call.dialed, "777") << call.port;
    }
    EXPECT_LE(cutShort, kPorts.size());
    EXPECT_GE(m_simulator->calls().size(), m_views.outcomeCount());
    for (const Outcome& o : m_views.outcomes())
        EXPECT_EQ(o.result, line::kCallDelivered) << o.port;
    EXPECT_EQ(fileBytes(m_table), before) << "the table is byte for byte as it was";
    config::AppSettings settings(m_station->store());
    EXPECT_TRUE(settings.localPhone());
    EXPECT_EQ(settings.localPhoneString(), "777");
    EXPECT_FALSE(settings.localPhoneUpdate());
    ASSERT_FALSE(m_views.localPhoneTexts().empty());
    EXPECT_EQ(m_views.localPhoneTexts().back(), std::string(kLocalPhoneStatus) + "777");
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
    const std::string before = fileBytes(m_table);
    start();
    ASSERT_FALSE(m_views.localPhoneTexts().empty());
    EXPECT_EQ(m_views.localPhoneTexts().back(),
              "Внимание: режим \"Местный телефон\" с номером \"abc\", который набрать нельзя: звонки не производятся.");
    // Several ticks: the task is open, yet neither "abc" nor a real person is called.
    ASSERT_TRUE(eventually([&] { return taskIs("Бездействует"); })) << m_views.state(kTaskName);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(m_simulator->calls().empty());
    EXPECT_FALSE(anyLineBusy());
    EXPECT_EQ(fileBytes(m_table), before) << "no row's attempts are counted";

    // The operator's command with another such number is refused and changes nothing.
    EXPECT_FALSE(m_station->controller().setLocalPhone(true, "", true));
    ASSERT_FALSE(m_views.notices().empty());
    EXPECT_EQ(m_views.notices().back(), localPhoneRefusal(""));
    EXPECT_EQ(config::AppSettings(m_station->store()).localPhoneString(), "abc");
    // A number that can be dialled takes over at once.
    ASSERT_TRUE(m_simulator->setBehaviour("777", m_party));
    EXPECT_TRUE(m_station->controller().setLocalPhone(true, "777", true));
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    for (const sim::CallRecord& call : m_simulator->calls())
        EXPECT_EQ(call.dialed, "777");
}

TEST_F(StationTest, LocalPhoneWithResultsWritesTheRows)
{
    const auto rows = people(3);
    prepareHome(rows);
    editStore([](config::ConfigStore& store) {
        config::AppSettings settings(store);
        ASSERT_TRUE(settings.setLocalPhone(true));
        ASSERT_TRUE(settings.setLocalPhoneString("777"));
        ASSERT_TRUE(settings.setLocalPhoneUpdate(true));
    });
    makeSimulator(rows);
    ASSERT_TRUE(m_simulator->setBehaviour("777", m_party));
    start();
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    for (const Stored& r : stored())
        expectDelivered(r, {today()});
    ASSERT_TRUE(m_simulator->waitForCalls(rows.size(), 2000));
    for (const sim::CallRecord& call : m_simulator->calls())
        EXPECT_EQ(call.dialed, "777");
}

TEST_F(StationTest, ManualLinkingCallsOnlyOnTheLinkedPort)
{
    const auto rows = people(6);
    prepareHome(rows);
    editStore([](config::ConfigStore& store) {
        ASSERT_TRUE(config::AppSettings(store).setLinkTaskPortManual(true));
        ASSERT_TRUE(config::Operator(store, kBinding, kTask).availablePorts().set({"SIM2"}));
    });
    makeSimulator(rows);
    start();
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    ASSERT_TRUE(m_simulator->waitForCalls(rows.size(), 2000));
    EXPECT_EQ(m_simulator->calls().size(), rows.size());
    for (const sim::CallRecord& call : m_simulator->calls())
        EXPECT_EQ(call.port, "SIM2") << call.dialed;
    for (const Stored& r : stored())
        expectDelivered(r, {today()});
    const auto sim1 = lineOf("SIM1");
    ASSERT_TRUE(sim1);
    EXPECT_EQ(m_station->lines().GetState(*sim1), calls::kLineFree);
}

TEST_F(StationTest, APortDroppedDuringACallWritesItsResultThenTheLineGoes)
{
    const auto rows = people(8);
    prepareHome(rows);
    makeSimulator(rows, 300);
    start();
    std::optional<unsigned> dropped;
    ASSERT_TRUE(eventually([&] {
        dropped = lineOf("SIM2");
        return dropped && m_station->lines().GetState(*dropped) == calls::kLineBusy;
    }));
    ASSERT_TRUE(calls::PortSettings(m_station->store()).setConfiguredPorts({"SIM1"}));
    m_station->linesChanged().set();

    ASSERT_TRUE(eventually([&] { return m_station->lines().GetPortName(*dropped).empty(); }))
        << "state " << m_station->lines().GetState(*dropped);
    EXPECT_TRUE(m_views.lineRemovedSeen(*dropped));
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);

    // Every call made on SIM2 came back and was written.
    ASSERT_TRUE(m_simulator->waitForCalls(rows.size(), 2000));
    std::size_t onSim2 = 0;
    for (const sim::CallRecord& call : m_simulator->calls())
        onSim2 += call.port == "SIM2" ? 1 : 0;
    EXPECT_GE(onSim2, 1u);
    EXPECT_EQ(outcomesFor("SIM2", line::kCallDelivered), onSim2);
    EXPECT_EQ(m_simulator->calls().size(), rows.size());
    for (const Stored& r : stored())
        expectDelivered(r, {today()});
    EXPECT_FALSE(lineOf("SIM2"));
}

TEST_F(StationTest, OneStationPerHome)
{
    const auto rows = people(2);
    prepareHome(rows);
    makeSimulator(rows);
    start();
    const fs::path dir = fs::current_path();
    m_second = std::make_unique<Station>(options(), StationViews{});
    std::string error;
    EXPECT_EQ(m_second->start(error), Station::StartResult::AlreadyRunning);
    EXPECT_EQ(fs::current_path(), dir) << "the second start changes nothing";
    m_second.reset();
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); }));

    // Once the first is gone, the home is free.
    m_station.reset();
    m_second = std::make_unique<Station>(options(), StationViews{});
    EXPECT_EQ(m_second->start(error), Station::StartResult::Started) << error;
}

TEST_F(StationTest, WaitingForCompletionLetsTheCallsInProgressFinishAndStartsNoOther)
{
    const auto rows = people(8);
    prepareHome(rows);
    makeSimulator(rows, 300);
    start();
    ASSERT_TRUE(eventually([&] { return anyLineBusy(); }));
    const std::size_t outcomesBefore = m_views.outcomeCount();
    ASSERT_TRUE(m_station->waitForCompletion(5000ms));
    EXPECT_FALSE(m_station->hasUnfinishedSessions());
    ASSERT_TRUE(eventually([&] { return !anyLineBusy(); }, 2000ms));
    const std::size_t outcomes = m_views.outcomeCount();
    EXPECT_GE(outcomes, outcomesBefore + 1) << "the call in progress reported";
    EXPECT_LE(outcomes, outcomesBefore + kPorts.size());
    m_station->shutdown();

    // Every call that ended was written; the rows never handed out are untouched.
    std::size_t delivered = 0;
    for (const Stored& r : stored()) {
        if (r.data) {
            expectDelivered(r, {today()});
            ++delivered;
        } else {
            EXPECT_EQ(r.proba, 0) << r.telef;
        }
    }
    EXPECT_EQ(delivered, outcomes);
    EXPECT_LT(delivered, rows.size());
    ASSERT_TRUE(m_simulator->waitForCalls(outcomes, 2000));
    EXPECT_EQ(m_simulator->calls().size(), outcomes) << "no call started after the wait began";
}

TEST_F(StationTest, AHomeThatIsNoFolderFailsToStartWithAReason)
{
    makeSimulator({});
    const fs::path file = m_home / "not-a-folder";
    std::ofstream(file) << "x";
    StationOptions bad = options();
    bad.home = file;
    Station station(bad, views());
    std::string error;
    EXPECT_EQ(station.start(error), Station::StartResult::Failed);
    EXPECT_NE(error.find("not-a-folder"), std::string::npos) << error;
    EXPECT_EQ(fs::current_path(), m_savedDir);
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

TEST_F(StationTest, ALockedTableDelaysOnlyItsOwnResultsAndTheyAreWrittenOnceItIsFree)
{
    const auto rows = people(4);
    prepareHome(rows);
    // A second task on a table of its own, with the same sums under other numbers.
    std::vector<Person> others;
    for (const Person& p : rows)
        others.push_back({"6" + p.telef.substr(1), p.summa});
    const fs::path second = m_home / "second.dbf";
    makeTable(others, second);
    editStore([&](config::ConfigStore& store) { defineTask(store, "Второй", second); });
    makeSimulator(rows);
    for (const Person& p : others)
        ASSERT_TRUE(m_simulator->setBehaviour(p.telef, m_party));

    test::HeldTableLock lock(m_table, m_runtime / "lock");
    ASSERT_TRUE(lock.held());
    start();
    ASSERT_TRUE(eventually([&] { return m_views.state("Второй\\Долг") == "Завершено"; }))
        << m_views.state("Второй\\Долг");
    for (const Stored& r : stored(second))
        expectDelivered(r, {today()});
    ASSERT_TRUE(eventually([&] { return m_views.outcomeCount() >= rows.size() + others.size(); }));
    for (const Stored& r : stored())
        EXPECT_EQ(r.proba, 0) << r.telef << ": nothing is written while the table is locked";
    const auto remarks = m_views.remarks(kTaskName);
    ASSERT_FALSE(remarks.empty());
    EXPECT_TRUE(remarks.front().starts_with(kResultDelayed)) << remarks.front();

    lock.release();
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); })) << m_views.state(kTaskName);
    for (const Stored& r : stored())
        expectDelivered(r, {today()});
    // Checked against the exchange: every number called once, the waiting rows not again.
    for (const std::vector<Person>& table : {rows, others})
        for (const Person& p : table)
            EXPECT_EQ(callsTo(p.telef), 1u) << p.telef;
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
    const auto remarks = m_views.remarks(kTaskName);
    ASSERT_FALSE(remarks.empty());
    EXPECT_TRUE(remarks.back().starts_with(std::string(kResultNotWritten) + ": 3 ")) << remarks.back();
    lock.release();
    for (const Stored& r : stored())
        EXPECT_FALSE(r.data) << r.telef;
}

TEST_F(StationTest, RowsPackedAwayDuringCallsNeverTakeAnotherPersonsResult)
{
    // Paced as real ports, so that calls last long enough for another program to pack the table
    // under two of them.
    const auto rows = people(8);
    prepareHome(rows, 0.4);
    makeSimulator(rows, 20, true);
    start();
    ASSERT_TRUE(eventually([&] { return m_views.outcomeCount() >= 2; }, 20000ms));
    // 5001 and 5002 are done, 5003 and 5004 on the lines: the first two go, and the rest move up.
    test::runPythonDbf("t=dbf.Table(sys.argv[1]); t.open(dbf.READ_WRITE)\n"
                       "for r in t:\n"
                       "    if r.telef.strip() in ('5001','5002'): dbf.delete(r)\n"
                       "t.pack(); t.close()",
                       {m_table.string()}, m_runtime / "python");
    ASSERT_EQ(m_views.outcomeCount(), 2u) << "the pack must come while the next two calls are on the lines";
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено"); }, 30000ms)) << m_views.state(kTaskName);

    // Every row left against the call log: each number called once, and notified.
    EXPECT_EQ(outcomesFor("", line::kCallDelivered), rows.size());
    const auto table = stored();
    ASSERT_EQ(table.size(), rows.size() - 2);
    for (const Stored& r : table) {
        EXPECT_EQ(callsTo(r.telef), 1u) << r.telef;
        expectDelivered(r, {today()});
    }
    EXPECT_EQ(callsTo("5001"), 1u);
    EXPECT_EQ(callsTo("5002"), 1u);
}

TEST_F(StationTest, TwoTasksOnOneTableNeverHaveOneNumberOnTwoLinesAtOnce)
{
    // A second binding of the same table with the same task: both select every row.
    const auto rows = people(6);
    prepareHome(rows);
    editStore([&](config::ConfigStore& store) { defineTask(store, "Двойник", m_table); });
    makeSimulator(rows);
    start();
    ASSERT_TRUE(eventually([&] { return taskIs("Завершено") && m_views.state("Двойник\\Долг") == "Завершено"; }))
        << m_views.state(kTaskName) << " " << m_views.state("Двойник\\Долг");
    ASSERT_TRUE(m_simulator->waitForCalls(rows.size(), 2000));

    // The exchange's log: no number in two calls that overlap, and each person called once.
    const auto calls = m_simulator->calls();
    const auto endOf = [](const sim::CallRecord& call) {
        return call.offHookAt + std::chrono::microseconds(static_cast<long long>(*call.callerHangupMs * 1000));
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        for (std::size_t j = i + 1; j < calls.size(); ++j) {
            if (calls[i].dialed == calls[j].dialed) {
                EXPECT_TRUE(endOf(calls[i]) <= calls[j].offHookAt || endOf(calls[j]) <= calls[i].offHookAt)
                    << calls[i].dialed << " on " << calls[i].port << " and " << calls[j].port;
            }
        }
    }
    for (const Stored& r : stored()) {
        EXPECT_EQ(callsTo(r.telef), 1u) << r.telef;
        expectDelivered(r, {today()});
    }
    std::set<std::string> portsUsed;
    for (const sim::CallRecord& call : calls)
        portsUsed.insert(call.port);
    EXPECT_EQ(portsUsed.size(), kPorts.size()) << "both lines worked";
}

}  // namespace
}  // namespace peltra::engine
