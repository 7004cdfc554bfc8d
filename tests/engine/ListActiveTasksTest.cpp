// The running tasks without lines: the scheduler pass by schedules and definitions, the fair
// hand-out of rows, manual linking, restarts and removals while rows are out, the end-of-work
// notice and the outcomes written back, on real .dbf tables and a turned clock.
#include "engine/ListActiveTasks.h"

#include "config/AppSettings.h"
#include "engine/EngineTables.h"
#include "engine/StationFlags.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace peltra::engine {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kHour = 3600;

using test::Person;
using test::Stored;
using test::localMoment;

// Keeps everything the task list was shown.
class RecordingTaskView : public TaskListView {
public:
    void taskAdded(const TaskRow& row) override { added.push_back(row); }
    void taskChanged(const TaskRow&) override {}
    void taskRemoved(std::uint32_t id) override { removed.push_back(id); }
    void workComplete() override { ++completes; }

    bool wasRemoved(std::uint32_t id) const { return std::find(removed.begin(), removed.end(), id) != removed.end(); }

    std::vector<TaskRow> added;
    std::vector<std::uint32_t> removed;
    int completes = 0;
};

class ListActiveTasksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::addDebtPhrases(m_store);
        m_list.setView(&m_view);
        m_list.setClock([this] { return m_now; });
        m_list.setPassInterval(std::chrono::milliseconds(0));
    }
    void TearDown() override { m_list.clear(); }

    static void makeTable(const fs::path& path, const std::vector<Person>& people) { test::makeDebtTable(path, people); }

    void defineTask(const std::string& binding, const std::string& name, const fs::path& table,
                    config::DayWindow window = {0, 24 * kHour})
    {
        test::defineDebtTask(m_store, binding, name, table, window);
    }

    // The table abon.dbf of people and the task Абоненты\\Долг on it.
    fs::path debtTask(const std::vector<Person>& people, config::DayWindow window = {0, 24 * kHour})
    {
        const fs::path table = m_dir / "abon.dbf";
        makeTable(table, people);
        defineTask("Абоненты", "Долг", table, window);
        return table;
    }

    config::Operator op(const std::string& binding, const std::string& name)
    {
        return config::Operator(m_store, binding, name);
    }

    std::optional<TaskRow> row(const std::string& name)
    {
        for (const TaskRow& r : m_list.rows())
            if (r.name == name)
                return r;
        return std::nullopt;
    }
    std::string stateOf(const std::string& name)
    {
        const auto r = row(name);
        return r ? r->stateText : "(not listed)";
    }

    static std::vector<Stored> stored(const fs::path& path) { return test::readStored(path); }

    test::TempDir m_runtime;
    test::ScopedRuntimeDir m_runtimeDir{m_runtime.path()};
    test::TempDir m_dir;
    platform::RegistryStore m_registry{m_dir / "registry.db"};
    config::ConfigStore m_store{m_registry};
    config::TaskStore m_tasks{m_store};
    StationFlags m_flags;
    RecordingTaskView m_view;
    ListActiveTasks m_list{m_store, m_flags};
    std::time_t m_now = localMoment(2026, 12, 7, 8, 0, 0);
};

// ---- Schedules ------------------------------------------------------------------------------

TEST_F(ListActiveTasksTest, ATaskOutsideItsWindowIsStoppedAndOpensWhenTheWindowOpens)
{
    const fs::path table = debtTask({{"1", 10}, {"2", 20}}, {9 * kHour, 18 * kHour});

    m_list.schedulerPass();
    ASSERT_EQ(m_view.added.size(), 1u);
    EXPECT_EQ(m_view.added[0].stateText, "Остановлено");
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Остановлено");
    EXPECT_FALSE(m_list.hasUnfinishedSessions()) << "a closed window holds no open rows";
    EXPECT_FALSE(m_list.getWork("SIM1"));
    EXPECT_GE(m_view.completes, 1) << "nothing busy: the end of work";

    m_now = localMoment(2026, 12, 7, 9, 0, 0);
    m_list.schedulerPass();
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Бездействует");
    EXPECT_TRUE(m_list.hasUnfinishedSessions());
    const auto work = m_list.getWork("SIM1");
    ASSERT_TRUE(work);
    EXPECT_EQ(work->handOut.phone, "1");
    EXPECT_EQ(work->handOut.definitionPath, "Абоненты\\Долг");
    EXPECT_EQ(work->handOut.phrases, (speech::PhraseList{"ZADL", "_010", "__PS", "+RRE"}));
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Выполняется");

    // The window closes with a row out: withdrawn until the row comes back, then stopped.
    m_now = localMoment(2026, 12, 7, 18, 0, 1);
    m_list.schedulerPass();
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Снимается");
    EXPECT_FALSE(m_list.getWork("SIM2")) << "no new row while withdrawing";
    m_list.result(work->taskId, work->handOut.row, OutcomeKind::NoAnswer);
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Остановлено");
    EXPECT_FALSE(m_list.hasUnfinishedSessions());
    EXPECT_EQ(stored(table)[0].proba, 1) << "the last outcome is still written";

    // The next morning it opens again, as the same task.
    m_now = localMoment(2026, 12, 8, 9, 0, 0);
    const auto again = m_list.getWork("SIM1");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->taskId, work->taskId);
    EXPECT_EQ(m_list.rows().size(), 1u);
}

TEST_F(ListActiveTasksTest, WindowEndsAreInside)
{
    const fs::path table = debtTask({{"1", 10}}, {9 * kHour, 18 * kHour});
    const struct {
        int hour, minute, second;
        const char* state;
    } cases[] = {
        {8, 59, 59, "Остановлено"}, {9, 0, 0, "Бездействует"},  {12, 0, 0, "Бездействует"},
        {18, 0, 0, "Бездействует"}, {18, 0, 1, "Остановлено"},  {23, 0, 0, "Остановлено"},
    };
    for (const auto& c : cases) {
        m_now = localMoment(2026, 12, 7, c.hour, c.minute, c.second);
        m_list.schedulerPass();
        EXPECT_EQ(stateOf("Абоненты\\Долг"), c.state) << c.hour << ":" << c.minute << ":" << c.second;
    }
}

// ---- Distribution ---------------------------------------------------------------------------

TEST_F(ListActiveTasksTest, TwoBusyTasksTakeTurnsOnOneLine)
{
    makeTable(m_dir / "a.dbf", {{"a1", 1}, {"a2", 2}, {"a3", 3}});
    makeTable(m_dir / "b.dbf", {{"b1", 1}, {"b2", 2}, {"b3", 3}, {"b4", 4}, {"b5", 5}});
    defineTask("А", "Задание", m_dir / "a.dbf");
    defineTask("Б", "Задание", m_dir / "b.dbf");

    // One line: every row comes back before the next is asked for.
    std::vector<std::string> phones;
    for (int i = 0; i < 20; ++i) {
        const auto work = m_list.getWork("SIM1");
        if (!work)
            break;
        phones.push_back(work->handOut.phone);
        m_list.result(work->taskId, work->handOut.row, OutcomeKind::Notified);
    }
    ASSERT_EQ(phones.size(), 8u);
    // Least recently served first: they alternate while both have rows, then B goes on alone.
    for (std::size_t i = 0; i + 1 < 6; ++i)
        EXPECT_NE(phones[i][0], phones[i + 1][0]) << "hand-out " << i << " and " << i + 1;
    EXPECT_EQ(phones[6], "b4");
    EXPECT_EQ(phones[7], "b5");
    // Each task's rows in its own sort order.
    std::vector<std::string> a, b;
    for (const std::string& p : phones)
        (p[0] == 'a' ? a : b).push_back(p);
    EXPECT_EQ(a, (std::vector<std::string>{"a1", "a2", "a3"}));
    EXPECT_EQ(b, (std::vector<std::string>{"b1", "b2", "b3", "b4", "b5"}));
}

TEST_F(ListActiveTasksTest, ManualLinkingServesOnlyTheLinkedPorts)
{
    const fs::path table = debtTask({{"1", 10}, {"2", 20}, {"3", 30}});
    m_flags.setLinkTaskPortManual(true);
    EXPECT_FALSE(m_list.getWork("SIM1")) << "no task is linked to any port";
    EXPECT_TRUE(m_list.hasUnfinishedSessions()) << "the task is open all the same";

    ASSERT_TRUE(op("Абоненты", "Долг").availablePorts().set({"SIM2"}));
    EXPECT_FALSE(m_list.getWork("SIM1"));
    const auto linked = m_list.getWork("SIM2");
    ASSERT_TRUE(linked);
    EXPECT_EQ(linked->handOut.phone, "1");

    m_flags.setLinkTaskPortManual(false);
    const auto any = m_list.getWork("SIM1");
    ASSERT_TRUE(any) << "without manual linking every port serves every task";
    EXPECT_EQ(any->handOut.phone, "2");
}

// ---- Changes of the definitions -------------------------------------------------------------

TEST_F(ListActiveTasksTest, AChangedSortFieldWithdrawsTheTaskThenRestartsItWithTheNewOrder)
{
    const fs::path table = debtTask({{"1", 10}, {"2", 20}, {"3", 30}});
    const auto work = m_list.getWork("SIM1");
    ASSERT_TRUE(work);
    EXPECT_EQ(work->handOut.phone, "1");

    // The task manager changes the order and includes the task again after its test.
    config::Operator task = op("Абоненты", "Долг");
    ASSERT_EQ(task.setSort("SUMMA", "N", false), config::Change::Changed);
    ASSERT_TRUE(task.setValid(true));
    m_list.schedulerPass();
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Снимается");
    EXPECT_FALSE(m_list.getWork("SIM2")) << "no row while the task is being withdrawn";

    m_list.result(work->taskId, work->handOut.row, OutcomeKind::NoAnswer);
    ASSERT_EQ(m_list.rows().size(), 1u) << "restarted, not replaced";
    EXPECT_EQ(m_list.rows()[0].id, work->taskId);
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Бездействует");
    const auto next = m_list.getWork("SIM1");
    ASSERT_TRUE(next);
    EXPECT_EQ(next->handOut.phone, "3") << "the new order is descending";
    EXPECT_EQ(stored(table)[0].proba, 1);
}

TEST_F(ListActiveTasksTest, AFinishedTaskOpensAgainOnlyWhenItsDefinitionChanges)
{
    const fs::path table = debtTask({{"1", 10}});
    const auto work = m_list.getWork("SIM1");
    ASSERT_TRUE(work);
    m_list.result(work->taskId, work->handOut.row, OutcomeKind::Notified);
    EXPECT_FALSE(m_list.getWork("SIM1"));
    ASSERT_EQ(stateOf("Абоненты\\Долг"), "Завершено");

    // A new row in the table does not wake a finished task.
    std::string error;
    ASSERT_TRUE(test::writableTable(table)->append({{0, data::DbfValue::ofText("2")}, {5, data::DbfValue::ofNumber(20)}},
                                                   nullptr, &error))
        << error;
    m_list.schedulerPass();
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Завершено");
    EXPECT_FALSE(m_list.getWork("SIM1"));

    // A changed order does, and so does excluding and including the task again.
    config::Operator task = op("Абоненты", "Долг");
    ASSERT_EQ(task.setSort("SUMMA", "N", false), config::Change::Changed);
    ASSERT_TRUE(task.setValid(true));
    const auto restarted = m_list.getWork("SIM1");
    ASSERT_TRUE(restarted);
    EXPECT_EQ(restarted->handOut.phone, "2");
    EXPECT_EQ(restarted->taskId, work->taskId);
    m_list.result(restarted->taskId, restarted->handOut.row, OutcomeKind::NoAnswer);

    ASSERT_TRUE(task.setValid(false));
    m_list.schedulerPass();
    EXPECT_TRUE(m_list.rows().empty());
    ASSERT_TRUE(task.setValid(true));
    const auto renewed = m_list.getWork("SIM1");
    ASSERT_TRUE(renewed);
    EXPECT_EQ(renewed->handOut.phone, "2");
    EXPECT_NE(renewed->taskId, work->taskId) << "a new task, with the next id";
}

// How a definition leaves the schedule.
enum class Leave { Excluded, TaskRemoved, BindingRemoved };

class ListActiveTasksLeaveTest : public ListActiveTasksTest, public ::testing::WithParamInterface<Leave> {
protected:
    void leave()
    {
        switch (GetParam()) {
        case Leave::Excluded:
            ASSERT_TRUE(op("Абоненты", "Долг").setValid(false));
            break;
        case Leave::TaskRemoved:
            ASSERT_TRUE(config::Operators(m_store, "Абоненты").remove("Долг"));
            break;
        case Leave::BindingRemoved:
            ASSERT_TRUE(m_tasks.removeBinding("Абоненты"));
            break;
        }
    }
};

TEST_P(ListActiveTasksLeaveTest, ABusyTaskStaysUntilItsRowComesBackThenGoes)
{
    const fs::path table = debtTask({{"1", 10}, {"2", 20}});
    const auto work = m_list.getWork("SIM1");
    ASSERT_TRUE(work);
    leave();
    m_list.schedulerPass();
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Снимается");
    EXPECT_FALSE(m_view.wasRemoved(work->taskId));
    EXPECT_FALSE(m_list.getWork("SIM2"));

    m_list.result(work->taskId, work->handOut.row, OutcomeKind::Notified);
    EXPECT_TRUE(m_list.rows().empty());
    EXPECT_TRUE(m_view.wasRemoved(work->taskId));
    EXPECT_EQ(stored(table)[0].proba, 1) << "the outcome of the last row is written";
    EXPECT_TRUE(stored(table)[0].data);
    EXPECT_FALSE(m_list.hasUnfinishedSessions());
}

TEST_P(ListActiveTasksLeaveTest, AnIdleTaskGoesAtTheNextPass)
{
    const fs::path table = debtTask({{"1", 10}});
    m_list.schedulerPass();
    ASSERT_EQ(m_list.rows().size(), 1u);
    const std::uint32_t id = m_list.rows()[0].id;
    leave();
    m_list.schedulerPass();
    EXPECT_TRUE(m_list.rows().empty());
    EXPECT_TRUE(m_view.wasRemoved(id));
    EXPECT_GE(m_view.completes, 1);
}

INSTANTIATE_TEST_SUITE_P(Ways, ListActiveTasksLeaveTest,
                         ::testing::Values(Leave::Excluded, Leave::TaskRemoved, Leave::BindingRemoved),
                         [](const ::testing::TestParamInfo<Leave>& info) {
                             return std::string(info.param == Leave::Excluded      ? "Excluded"
                                                : info.param == Leave::TaskRemoved ? "TaskRemoved"
                                                                                   : "BindingRemoved");
                         });

TEST_F(ListActiveTasksTest, PausingOrWaitingForCompletionStopsTheTasksAndCreatesNoOther)
{
    makeTable(m_dir / "a.dbf", {{"1", 10}});
    makeTable(m_dir / "b.dbf", {{"2", 20}});
    defineTask("А", "Задание", m_dir / "a.dbf");
    m_list.schedulerPass();
    ASSERT_EQ(stateOf("А\\Задание"), "Бездействует");

    defineTask("Б", "Задание", m_dir / "b.dbf");
    m_flags.setWaitForCompletion(true);
    m_list.schedulerPass();
    EXPECT_FALSE(row("Б\\Задание")) << "no new task while waiting for completion";
    EXPECT_EQ(stateOf("А\\Задание"), "Остановлено");
    EXPECT_FALSE(m_list.hasUnfinishedSessions());
    EXPECT_FALSE(m_list.getWork("SIM1"));
    m_flags.setWaitForCompletion(false);
    m_flags.setPaused(true);
    m_list.schedulerPass();
    EXPECT_EQ(stateOf("А\\Задание"), "Остановлено");
    EXPECT_FALSE(m_list.getWork("SIM1"));
    m_flags.setPaused(false);
    EXPECT_TRUE(m_list.getWork("SIM1"));
}

// ---- End of work, failures, shutdown --------------------------------------------------------

TEST_F(ListActiveTasksTest, TheEndOfWorkComesFromThePassAfterTheLastOutcome)
{
    debtTask({{"1", 10}, {"2", 20}});
    m_list.schedulerPass();
    const auto first = m_list.getWork("SIM1");
    const auto second = m_list.getWork("SIM2");
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(m_list.getWork("SIM3"));
    m_list.result(first->taskId, first->handOut.row, OutcomeKind::Notified);
    EXPECT_EQ(m_view.completes, 0) << "a row is still out";
    m_list.result(second->taskId, second->handOut.row, OutcomeKind::Notified);
    // The line that reported asks again: nothing is left, the task finishes, and the end of work
    // is announced then, not at the next tick.
    EXPECT_FALSE(m_list.getWork("SIM2"));
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Завершено");
    EXPECT_GE(m_view.completes, 1);
    EXPECT_EQ(row("Абоненты\\Долг")->notified, "2 из 2");

}

TEST_F(ListActiveTasksTest, HandOutsWithinThePassIntervalLeaveTheDefinitionsToTheNextPass)
{
    m_list.setPassInterval(std::chrono::hours(1));
    makeTable(m_dir / "a.dbf", {{"a1", 1}, {"a2", 2}});
    makeTable(m_dir / "b.dbf", {{"b1", 1}});
    defineTask("А", "Задание", m_dir / "a.dbf");
    m_list.schedulerPass();
    defineTask("Б", "Задание", m_dir / "b.dbf");
    const auto first = m_list.getWork("SIM1");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->handOut.phone, "a1");
    EXPECT_FALSE(row("Б\\Задание")) << "not read again within the interval";
    m_list.schedulerPass();
    ASSERT_TRUE(row("Б\\Задание")) << "a whole pass reads every definition";
    const auto second = m_list.getWork("SIM1");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->handOut.phone, "b1") << "the new task was never served";
}

TEST_F(ListActiveTasksTest, ATaskThatCannotOpenShowsItsErrorAndOpensOnceItCan)
{
    const fs::path table = m_dir / "later.dbf";
    defineTask("Абоненты", "Долг", table);
    m_list.schedulerPass();
    const auto failed = row("Абоненты\\Долг");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->stateText, "Остановлено");
    EXPECT_EQ(failed->remark, "Не найден файл");
    // A call's error does not hide the table's, which is what keeps the task from running.
    m_list.noteCallError(failed->id, "неисправность линии");
    EXPECT_EQ(row("Абоненты\\Долг")->remark, "Не найден файл");
    EXPECT_FALSE(m_list.hasUnfinishedSessions());
    EXPECT_FALSE(m_list.getWork("SIM1"));

    makeTable(table, {{"1", 10}});
    m_list.schedulerPass();
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Бездействует") << "every pass tries again";
    EXPECT_EQ(row("Абоненты\\Долг")->remark, "");
    EXPECT_EQ(row("Абоненты\\Долг")->id, failed->id);
}

TEST_F(ListActiveTasksTest, StopAllWaitsForTheRowsOutThenClearRemovesEverything)
{
    const fs::path table = debtTask({{"1", 10}, {"2", 20}});
    const auto work = m_list.getWork("SIM1");
    ASSERT_TRUE(work);
    EXPECT_TRUE(m_list.hasUnfinishedSessions());
    EXPECT_FALSE(m_list.requestStopAll()) << "a row is out on a line";
    EXPECT_EQ(stateOf("Абоненты\\Долг"), "Снимается");
    m_list.result(work->taskId, work->handOut.row, OutcomeKind::HungUp);
    EXPECT_TRUE(m_list.requestStopAll());
    EXPECT_FALSE(m_list.hasUnfinishedSessions());
    const auto r = stored(table)[0];
    EXPECT_EQ(r.proba, 1);
    EXPECT_EQ(r.otboj, 1);
    EXPECT_FALSE(r.data);

    m_list.clear();
    EXPECT_TRUE(m_list.rows().empty());
    EXPECT_TRUE(m_view.wasRemoved(work->taskId));
}

TEST(StationFlagsFollow, AStoreThatCannotBeReadChangesNoFlagAndAnOperatorsChangeDoes)
{
    test::TempDir dir;
    platform::RegistryStore registry(dir / "registry.db");
    config::ConfigStore store(registry);
    config::AppSettings settings(store);
    ASSERT_TRUE(settings.setFrozen(true));
    ASSERT_TRUE(settings.setLocalPhone(true));
    ASSERT_TRUE(settings.setLocalPhoneString("777"));
    StationFlags flags;
    flags.load(settings);
    ASSERT_TRUE(flags.paused());

    // A busy or damaged store answers with defaults; a paused station must not resume on that.
    std::ofstream(dir / "broken.db") << "not a database";
    platform::RegistryStore brokenRegistry(dir / "broken.db");
    config::ConfigStore brokenStore(brokenRegistry);
    config::AppSettings broken(brokenStore);
    EXPECT_FALSE(flags.follow(broken).any());
    EXPECT_TRUE(flags.paused());
    EXPECT_TRUE(flags.localPhone());
    EXPECT_EQ(flags.localPhoneString(), "777");

    ASSERT_TRUE(settings.setFrozen(false));
    ASSERT_TRUE(settings.setLocalPhoneString("778"));
    const FlagChanges changes = flags.follow(settings);
    EXPECT_TRUE(changes.paused);
    EXPECT_TRUE(changes.localPhone);
    EXPECT_FALSE(flags.paused());
    EXPECT_EQ(flags.localPhoneString(), "778");
}

}  // namespace
}  // namespace peltra::engine
