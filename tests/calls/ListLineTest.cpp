// The line pool on simulated lines: lines follow the configured ports, numbers are never reused,
// busy lines wait for their result before they go, and call results come back as line states.
#include "calls/ListLine.h"

#include "platform/timer/TimerService.h"
#include "sim/Simulator.h"
#include "support/StationSetup.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace peltra::calls {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls cond every 2 ms until it holds or limit passes.
template <typename Cond>
bool eventually(Cond cond, std::chrono::milliseconds limit = 5000ms)
{
    const auto until = Clock::now() + limit;
    while (!cond()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

struct Row {
    std::string port;
    std::string stateText;
    std::string taskText;
    LineIcon icon = LineIcon::OutOfOrder;
    std::string remark;
};

// Keeps what the line list, the answer field and the message boxes were shown.
class RecordingListView : public LineListView {
public:
    struct Shown {
        std::vector<std::pair<unsigned, std::string>> added;
        std::vector<unsigned> removed;
        std::map<unsigned, Row> rows;
        std::vector<std::string> answers;
        std::vector<std::pair<std::string, std::string>> messages;  // caption, text
    };

    void lineAdded(unsigned number, const std::string& port) override
    {
        std::lock_guard lock(m_mutex);
        m_shown.added.emplace_back(number, port);
        m_shown.rows[number].port = port;
    }
    void lineRemoved(unsigned number) override
    {
        std::lock_guard lock(m_mutex);
        m_shown.removed.push_back(number);
        m_shown.rows.erase(number);
    }
    void lineChanged(unsigned number, const std::string& stateText, const std::string& taskText,
                     LineIcon icon, const std::string& remark) override
    {
        std::function<void(unsigned)> hook;
        {
            std::lock_guard lock(m_mutex);
            Row& row = m_shown.rows[number];
            row = {row.port, stateText, taskText, icon, remark};
            hook = m_onChange;
        }
        if (hook)
            hook(number);
    }
    void showAnswer(const std::string& word) override
    {
        std::lock_guard lock(m_mutex);
        m_shown.answers.push_back(word);
    }
    void showMessage(const std::string& caption, const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_shown.messages.emplace_back(caption, text);
    }
    // Called after every row change, as a window that reads the pool back would.
    void onChange(std::function<void(unsigned)> hook)
    {
        std::lock_guard lock(m_mutex);
        m_onChange = std::move(hook);
    }

    Shown shown() const
    {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }
    bool wasRemoved(unsigned number) const
    {
        const auto r = shown().removed;
        return std::find(r.begin(), r.end(), number) != r.end();
    }
    std::optional<Row> row(unsigned number) const
    {
        const Shown now = shown();
        const auto it = now.rows.find(number);
        return it == now.rows.end() ? std::nullopt : std::optional(it->second);
    }

private:
    mutable std::mutex m_mutex;
    Shown m_shown;
    std::function<void(unsigned)> m_onChange;
};

// The distributor's queue: keeps every posted line number.
class RecordingEvents : public LineEvents {
public:
    void postLineEvent(unsigned lineNumber) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_all.push_back(lineNumber);
        }
        // As if the poster were pre-empted right after queuing.
        std::this_thread::sleep_for(m_linger.load());
    }
    void lingerAfterPost(std::chrono::milliseconds linger) { m_linger.store(linger); }
    std::vector<unsigned> all() const
    {
        std::lock_guard lock(m_mutex);
        return m_all;
    }
    std::size_t count(unsigned lineNumber) const
    {
        const auto a = all();
        return static_cast<std::size_t>(std::count(a.begin(), a.end(), lineNumber));
    }

private:
    mutable std::mutex m_mutex;
    std::vector<unsigned> m_all;
    std::atomic<std::chrono::milliseconds> m_linger{std::chrono::milliseconds(0)};
};

class FixedSettings : public line::CallSettingsSource {
public:
    explicit FixedSettings(line::CallSettings settings) : m_settings(settings) {}
    line::CallSettings callSettings(const std::string&) override { return m_settings; }

private:
    line::CallSettings m_settings;
};

line::CallSettings shortCallSettings()
{
    line::CallSettings settings;
    settings.dial.pulseMode = false;
    settings.dial.delayFirstMs = 20;
    settings.ringOffMs = 20;
    settings.waitAnswerS = 2;
    return settings;
}

class ListLineTest : public ::testing::Test {
protected:
    ListLineTest()
        : settings(shortCallSettings()),
          environment(simulator, timers, shutdown, settings)
    {
        EXPECT_TRUE(test::writeToneLibrary(library, {{"_SHT", 100}}));
        environment.library = library;
        environment.timings.debounceMs = 20;
        environment.timings.lineReadyWaitMs = 50;
        environment.timings.polarityFaultMs = 50;
        simulator.setDefaultBehaviour(answeringAfter(0));
    }

    static sim::PartyBehaviour answeringAfter(std::optional<std::uint32_t> ms)
    {
        sim::PartyBehaviour party;
        party.answerAfterMs = ms;
        return party;
    }

    ~ListLineTest() override
    {
        releaseGate();
        pool.reset();
    }

    // Creates the pool with these ports configured and waits for its first synchronisation.
    void start(std::vector<std::string> ports)
    {
        configure(std::move(ports));
        pool = std::make_unique<ListLine>(
            environment, linesChanged, [this] { return configuredPorts(); },
            [this](unsigned number, const std::string& port) {
                std::lock_guard lock(m_mutex);
                viewsMade.emplace_back(number, port);
                return std::make_unique<line::LineView>();
            },
            &view);
        pool->setLineEvents(&events);
        ASSERT_TRUE(resync());
    }

    void configure(std::vector<std::string> ports)
    {
        std::lock_guard lock(m_mutex);
        m_ports = std::move(ports);
    }

    // Signals LinesChangedEvent and waits until a synchronisation has run to its end.
    bool resync()
    {
        const std::uint64_t before = pool->synchronisations();
        linesChanged.set();
        return eventually([&] { return pool->synchronisations() > before; });
    }

    // The next synchronisation stops inside the configured-port source until releaseGate.
    void holdNextSynchronisation()
    {
        std::lock_guard lock(m_mutex);
        m_gateArmed = true;
        m_gateEntered = false;
    }
    bool synchronisationHeld()
    {
        return eventually([&] {
            std::lock_guard lock(m_mutex);
            return m_gateEntered;
        });
    }
    void releaseGate()
    {
        std::lock_guard lock(m_mutex);
        m_gateArmed = false;
        m_gateOpen.notify_all();
    }

    test::TempDir dir;
    std::filesystem::path library = dir / "peltra.awf";
    sim::Simulator simulator{3};
    platform::TimerService timers;
    platform::Event shutdown{true, false};
    platform::Event linesChanged{false, false};
    FixedSettings settings;
    line::LineEnvironment environment;
    RecordingListView view;
    RecordingEvents events;
    std::vector<std::pair<unsigned, std::string>> viewsMade;
    std::unique_ptr<ListLine> pool;

private:
    std::vector<std::string> configuredPorts()
    {
        std::unique_lock lock(m_mutex);
        if (m_gateArmed) {
            m_gateEntered = true;
            m_gateOpen.wait(lock, [&] { return !m_gateArmed; });
        }
        return m_ports;
    }

    std::mutex m_mutex;
    std::condition_variable m_gateOpen;
    std::vector<std::string> m_ports;
    bool m_gateArmed = false;
    bool m_gateEntered = false;
};


TEST_F(ListLineTest, TwoPortsMakeLinesZeroAndOneAndTheFreeWalkVisitsBoth)
{
    start({"SIM1", "SIM2", "sim1", "", "SIM2"});  // each port once, whatever its case
    using Added = std::vector<std::pair<unsigned, std::string>>;
    EXPECT_EQ(view.shown().added, (Added{{0, "SIM1"}, {1, "SIM2"}}));
    EXPECT_EQ(viewsMade, (Added{{0, "SIM1"}, {1, "SIM2"}}));
    EXPECT_EQ(events.all(), (std::vector<unsigned>{0, 1}));
    for (unsigned n : {0u, 1u}) {
        EXPECT_EQ(pool->GetState(n), kLineFree);
        const auto row = view.row(n);
        ASSERT_TRUE(row);
        EXPECT_EQ(std::tie(row->stateText, row->icon, row->taskText, row->remark),
                  std::make_tuple("Бездействует", LineIcon::Free, "", ""));
    }
    EXPECT_EQ(pool->FirstFree(), 0u);
    EXPECT_EQ(pool->NextFree(0), 1u);
    EXPECT_EQ(pool->NextFree(1), std::nullopt);
    EXPECT_TRUE(pool->FindByPortName("sim2"));
    EXPECT_FALSE(pool->FindByPortName("SIM3"));
    EXPECT_TRUE(view.shown().messages.empty());

    // Another synchronisation with the same ports changes nothing.
    ASSERT_TRUE(resync());
    EXPECT_EQ(view.shown().added.size(), 2u);
    EXPECT_EQ(events.all().size(), 2u);
}

TEST_F(ListLineTest, AnIdlePortRemovedGoesAndComesBackUnderANewNumber)
{
    start({"SIM1", "SIM2"});
    configure({"SIM1"});
    ASSERT_TRUE(resync());
    EXPECT_EQ(view.shown().removed, (std::vector<unsigned>{1}));
    EXPECT_FALSE(view.row(1));
    EXPECT_EQ(pool->GetState(1), kLineNotInService);
    EXPECT_EQ(simulator.line("SIM2"), nullptr) << "the port is closed";
    EXPECT_EQ(pool->NextFree(0), std::nullopt);

    configure({"SIM1", "SIM2"});
    ASSERT_TRUE(resync());
    EXPECT_EQ(view.shown().added.back(), std::make_pair(2u, std::string("SIM2")));
    EXPECT_EQ(events.all(), (std::vector<unsigned>{0, 1, 2}));
    EXPECT_EQ(pool->NextFree(0), 2u);
}

TEST_F(ListLineTest, APortThatDoesNotOpenIsOutOfOrderWithOneMessage)
{
    start({"SIM1", "SIM9"});
    EXPECT_EQ(pool->GetState(1), kLineOutOfOrder);
    EXPECT_EQ(view.row(1)->stateText, "Недоступен");
    EXPECT_EQ(view.row(1)->icon, LineIcon::OutOfOrder);
    using Messages = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(view.shown().messages, (Messages{{"Ошибка", "Невозможно инициализировать порт SIM9"}}));
    EXPECT_EQ(events.all(), (std::vector<unsigned>{0})) << "only free lines are offered";
    EXPECT_EQ(pool->NextFree(0), std::nullopt);
    EXPECT_FALSE(pool->StartCall(1, "5"));
    ASSERT_TRUE(resync());
    EXPECT_EQ(view.shown().messages.size(), 1u);
    configure({"SIM1"});
    ASSERT_TRUE(resync());
    EXPECT_EQ(view.shown().removed, (std::vector<unsigned>{1}));
}

TEST_F(ListLineTest, ALineToBeRemovedTakesNoNewCallAndOneConfiguredAgainStays)
{
    start({"SIM1", "SIM2", "SIM3"});
    ASSERT_TRUE(pool->SetState(1, kLineBusy));
    ASSERT_TRUE(pool->SetState(2, kLineBusy));
    configure({"SIM1", "SIM3"});
    ASSERT_TRUE(resync());
    configure({"SIM1"});
    ASSERT_TRUE(resync());
    configure({"SIM1", "SIM3"});
    ASSERT_TRUE(resync());

    // Keep the synchronisation that SetState asks for from running yet.
    holdNextSynchronisation();
    ASSERT_TRUE(pool->SetState(1, kLineFree));
    ASSERT_TRUE(synchronisationHeld());
    EXPECT_EQ(pool->NextFree(0), std::nullopt);
    EXPECT_FALSE(pool->StartCall(1, "5"));
    EXPECT_TRUE(simulator.calls().empty());
    releaseGate();
    ASSERT_TRUE(eventually([&] { return view.wasRemoved(1); }));

    ASSERT_TRUE(pool->SetState(2, kLineFree));
    ASSERT_TRUE(resync());
    EXPECT_FALSE(view.wasRemoved(2));
    EXPECT_EQ(pool->NextFree(0), 2u);
    EXPECT_EQ(view.shown().added.size(), 3u);
}

TEST_F(ListLineTest, EachStateShowsItsTextsAndStateZeroLeavesTheRowAsItWas)
{
    start({"SIM1"});
    ASSERT_TRUE(pool->SetTaskInfo(0, {3, 17, "Задолженность"}));
    const std::tuple<int, const char*, const char*, LineIcon> steps[] = {
        {2, "Работает", "Задолженность", LineIcon::Working},
        {0, "Работает", "Задолженность", LineIcon::Working},
        {1, "Бездействует", "", LineIcon::Free},
        {0, "Бездействует", "", LineIcon::Free},
        {7, "Работает", "Задолженность", LineIcon::Working},
        {3, "Недоступен", "", LineIcon::OutOfOrder},
    };
    for (const auto& [state, stateText, taskText, icon] : steps) {
        ASSERT_TRUE(pool->SetState(0, state));
        EXPECT_EQ(pool->GetState(0), state);
        const auto row = view.row(0);
        EXPECT_EQ(std::tie(row->stateText, row->taskText, row->icon), std::make_tuple(stateText, taskText, icon))
            << state;
    }
    EXPECT_FALSE(pool->SetState(0, 8));
    EXPECT_FALSE(pool->SetState(0, -1));
    EXPECT_EQ(pool->GetState(0), kLineOutOfOrder);
    EXPECT_EQ(pool->GetTaskInfo(0)->row, 17);
}

TEST_F(ListLineTest, TheCallOutcomeEntrySetsTheStateShowsTheWordAndPostsTheLine)
{
    start({"SIM1"});
    const std::tuple<std::uint32_t, int, const char*> cases[] = {
        {0, 4, "Нормально"}, {1, 5, "Нет ответа"}, {2, 6, "Положили трубку"}, {0x80000000u, 7, "Ошибка"}, {5, 7, "Ошибка"},
    };
    ASSERT_TRUE(pool->SetTaskInfo(0, {9, 1234567890123LL, "Абоненты"}));
    std::size_t posted = events.count(0);
    for (const auto& [result, state, word] : cases) {
        SCOPED_TRACE(result);
        ASSERT_TRUE(pool->SetState(0, kLineBusy));
        pool->callFinished(0, result, "неисправность");
        EXPECT_EQ(pool->GetState(0), state);
        // Only an error keeps its reason, for the distributor to hand on.
        EXPECT_EQ(pool->GetCallError(0), state == kLineError ? "неисправность" : "");
        EXPECT_EQ(view.shown().answers.back(), word);
        EXPECT_EQ(events.count(0), ++posted);
        const auto row = view.row(0);
        EXPECT_EQ(std::tie(row->stateText, row->taskText, row->icon),
                  std::make_tuple("Работает", "Абоненты", LineIcon::Working));
        // The distributor comes too late to mark the call running: the result stays.
        EXPECT_FALSE(pool->SetState(0, kLineBusy));
        EXPECT_FALSE(pool->StartCall(0, "5"));
        EXPECT_EQ(pool->GetState(0), state);
        ASSERT_TRUE(pool->SetState(0, kLineFree));
        EXPECT_EQ(view.row(0)->taskText, "");
    }
    EXPECT_EQ(pool->GetTaskInfo(0)->row, 1234567890123LL);
    EXPECT_TRUE(simulator.calls().empty());
}

TEST_F(ListLineTest, ACallOnSim1EndsInState4ThroughTheOutcomeEntry)
{
    start({"SIM1"});
    ASSERT_TRUE(pool->SetTaskInfo(0, {1, 5, "Оповещение"}));
    ASSERT_TRUE(pool->SetPhraseList(0, {"_SHT", "_SHT"}));
    EXPECT_EQ(pool->GetPhraseList(0), (std::vector<std::string>{"_SHT", "_SHT"}));
    simulator.setBehaviour("5", answeringAfter(100));

    ASSERT_TRUE(pool->StartCall(0, "5"));
    EXPECT_EQ(pool->GetState(0), kLineBusy);
    const auto row = view.row(0);
    EXPECT_EQ(std::tie(row->remark, row->taskText, row->stateText),
              std::make_tuple("Номер 5", "Оповещение", "Работает"));
    EXPECT_FALSE(pool->SetPhraseList(0, {"_SHT"})) << "not while the call runs";

    ASSERT_TRUE(eventually([&] { return events.count(0) == 2; }));
    EXPECT_EQ(pool->GetState(0), kLineDelivered);
    EXPECT_EQ(view.shown().answers, (std::vector<std::string>{"Нормально"}));
    EXPECT_EQ(view.row(0)->remark, "Номер 5") << "until the result is collected";
    ASSERT_TRUE(simulator.waitForCalls(1, 2000));
    EXPECT_EQ(simulator.calls().at(0).dialed, "5");
    EXPECT_EQ(pool->GetPhraseList(0), std::vector<std::string>{});
    ASSERT_TRUE(pool->SetState(0, kLineFree));
    EXPECT_EQ(view.row(0)->remark, "");
}

TEST_F(ListLineTest, APortRemovedDuringACallGoesOnceItsResultIsCollected)
{
    start({"SIM1", "SIM2"});
    simulator.setBehaviour("7", answeringAfter(300));
    ASSERT_TRUE(pool->SetPhraseList(1, {"_SHT"}));
    ASSERT_TRUE(pool->StartCall(1, "7"));
    configure({"SIM1"});
    ASSERT_TRUE(resync());
    EXPECT_TRUE(pool->FindByPortName("SIM2"));
    EXPECT_EQ(pool->NextFree(0), std::nullopt);

    ASSERT_TRUE(eventually([&] { return events.count(1) == 2; }));
    EXPECT_EQ(pool->GetState(1), kLineDelivered);
    ASSERT_TRUE(resync());
    EXPECT_TRUE(view.row(1)) << "the row stays while the result waits";
    ASSERT_TRUE(pool->SetState(1, kLineFree));
    ASSERT_TRUE(eventually([&] { return view.wasRemoved(1); }));
    // The row goes first; the device is stopped and its port closed right after.
    EXPECT_TRUE(eventually([&] { return simulator.line("SIM2") == nullptr; }));
}

TEST_F(ListLineTest, ALineIsOfferedItsNextCallTheMomentItsResultArrives)
{
    // A distributor as eager as the station's: the result's event is taken at once, and the next
    // call starts while the session that reported is still returning from its report.
    events.lingerAfterPost(20ms);
    start({"SIM1"});
    simulator.setBehaviour("5", answeringAfter(0));
    constexpr std::size_t kCalls = 4;
    for (std::size_t call = 1; call <= kCalls; ++call) {
        ASSERT_TRUE(pool->SetPhraseList(0, {"_SHT"}));
        ASSERT_TRUE(pool->StartCall(0, "5")) << "call " << call;
        ASSERT_TRUE(eventually([&] { return events.count(0) == call + 1; }, 5000ms));
        ASSERT_EQ(pool->GetState(0), kLineDelivered);
        ASSERT_TRUE(pool->SetState(0, kLineFree));
    }
    EXPECT_EQ(view.shown().answers.size(), static_cast<std::size_t>(kCalls));
    EXPECT_TRUE(simulator.waitForCalls(kCalls, 2000));
}

TEST_F(ListLineTest, AListViewMayCallBackIntoThePool)
{
    start({"SIM1", "SIM2"});
    std::mutex seenMutex;
    std::vector<std::pair<unsigned, int>> seen;
    view.onChange([&](unsigned number) {
        const int state = pool->GetState(number);
        // A change made from inside a change is shown after it, never lost.
        if (state == kLineDelivered)
            pool->SetState(number, kLineFree);
        std::lock_guard lock(seenMutex);
        seen.emplace_back(number, state);
    });
    simulator.setBehaviour("5", answeringAfter(0));
    ASSERT_TRUE(pool->SetPhraseList(1, {"_SHT"}));
    ASSERT_TRUE(pool->StartCall(1, "5"));
    ASSERT_TRUE(eventually([&] { return events.count(1) == 2; }));
    ASSERT_TRUE(eventually([&] { return view.row(1)->stateText == "Бездействует"; }));
    view.onChange({});
    std::lock_guard lock(seenMutex);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), std::make_pair(1u, kLineFree));
}

TEST_F(ListLineTest, ShutdownStopsEveryLineAndJoinsThePoolThread)
{
    start({"SIM1", "SIM2"});
    ASSERT_TRUE(pool->SetPhraseList(0, {"_SHT"}));
    simulator.setBehaviour("5", answeringAfter(std::nullopt));
    ASSERT_TRUE(pool->StartCall(0, "5"));

    const auto begin = Clock::now();
    pool->Shutdown();
    EXPECT_LT(Clock::now() - begin, 3s);
    EXPECT_EQ(view.shown().removed, (std::vector<unsigned>{0, 1}));
    EXPECT_EQ(simulator.line("SIM1"), nullptr);
    EXPECT_EQ(simulator.line("SIM2"), nullptr);
    EXPECT_EQ(pool->FirstFree(), std::nullopt);
    EXPECT_TRUE(view.shown().answers.empty()) << "a call stopped by shutdown reports nothing";
    EXPECT_EQ(pool->Add("SIM3"), std::nullopt);
    EXPECT_EQ(simulator.line("SIM3"), nullptr);
    pool->Shutdown();
    // Nothing synchronises any more.
    const auto syncs = pool->synchronisations();
    linesChanged.set();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(pool->synchronisations(), syncs);
}

TEST_F(ListLineTest, TheStationsShutdownEventEndsThePoolByItselfAndAddOpensALineBeforeIt)
{
    start({"SIM1"});
    EXPECT_EQ(pool->Add("SIM3"), 1u);
    EXPECT_EQ(pool->GetState(1), kLineFree);
    EXPECT_NE(simulator.line("SIM3"), nullptr);
    EXPECT_EQ(events.all(), (std::vector<unsigned>{0})) << "only a synchronisation offers new lines";
    shutdown.set();
    ASSERT_TRUE(eventually([&] { return view.shown().removed.size() == 2; }));
    // The rows go first; the lines are stopped, and their ports closed, right after.
    EXPECT_TRUE(eventually([&] { return simulator.line("SIM1") == nullptr; }));
    pool->Shutdown();
}

}  // namespace
}  // namespace peltra::calls
