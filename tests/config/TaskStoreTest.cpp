// Bindings and their tasks by name: adding and removing them, names that are refused, handles
// kept past a removal, the table path that withdraws every task, and the definitions' copies.
#include "config/TaskStore.h"

#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using Names = std::vector<std::string>;
using enum TaskProperty;

class TaskStoreTest : public ::testing::Test {
protected:
    std::string bindingPath(const std::string& binding) const { return ConfigStore::fullPath(bindingKey(binding)); }
    std::string taskPath(const std::string& binding, const std::string& task) const
    {
        return ConfigStore::fullPath(taskKey(binding, task));
    }
    Operators operators(const std::string& binding) { return Operators(m_store, binding); }

    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
    TaskStore m_tasks{m_store};
};

TEST(KeyNameTest, ANameMustNameExactlyOneKey)
{
    const std::pair<const char*, bool> cases[] = {
        {"Абоненты", true}, {"0001", true},   {"Вода 2", true},  {" ", true},    {"..", true},
        {"", false},        {"\\", false},    {"a\\b", false},  {"\\a", false}, {"a\\", false},
    };
    for (const auto& [name, ok] : cases)
        EXPECT_EQ(isKeyName(name), ok) << name;
}

TEST_F(TaskStoreTest, BindingsAreAddedOnceUnderNamesThatNameOneKey)
{
    EXPECT_TRUE(m_tasks.bindingNames().empty());
    struct Case {
        const char* name;
        const char* file;
        AddResult result;
    };
    const Case cases[] = {
        {"Абоненты", "/data/abon.dbf", AddResult::Added},
        {"Абоненты", "/other.dbf", AddResult::Exists},
        {"абоненты", "/other.dbf", AddResult::Exists},
        {"АБОНЕНТЫ", "/other.dbf", AddResult::Exists},
        {"Должники", "/data/dolg.dbf", AddResult::Added},
        {"", "/x.dbf", AddResult::BadName},
        {"Tasks\\X", "/x.dbf", AddResult::BadName},
        {"\\", "/x.dbf", AddResult::BadName},
        {"Абоненты\\Операторы", "/x.dbf", AddResult::BadName},
        {"Архив", "", AddResult::Added},
    };
    for (const Case& c : cases)
        EXPECT_EQ(m_tasks.addBinding(c.name, c.file, "заметка"), c.result) << c.name;

    EXPECT_EQ(m_tasks.bindingNames(), (Names{"Абоненты", "Архив", "Должники"}));
    EXPECT_EQ(m_registry.getValue(bindingPath("Абоненты"), "File"), RegistryValue::text("/data/abon.dbf"))
        << "a refused add leaves the binding as it was";
    EXPECT_EQ(m_registry.getValue(bindingPath("Абоненты"), "Comm"), RegistryValue::text("заметка"));
    EXPECT_EQ(m_registry.getValue(bindingPath("Архив"), "File"), RegistryValue::text(""));
    EXPECT_EQ(m_registry.subKeys(bindingPath("Абоненты")), (Names{"Операторы"}));
    EXPECT_FALSE(m_registry.keyExists(ConfigStore::fullPath("Tasks\\X")));

    auto binding = m_tasks.binding("абоненты");
    ASSERT_TRUE(binding);
    EXPECT_EQ(binding->file(), "/data/abon.dbf");
    EXPECT_EQ(binding->comment(), "заметка");
    EXPECT_TRUE(binding->setComment("другая"));
    EXPECT_EQ(m_tasks.binding("Абоненты")->comment(), "другая");
    for (const char* missing : {"Нет", "", "Абоненты\\Операторы"})
        EXPECT_FALSE(m_tasks.binding(missing)) << missing;
}

TEST_F(TaskStoreTest, TasksAreAddedOnceAndRemovedWithTheirKeys)
{
    ASSERT_EQ(m_tasks.addBinding("Абоненты", "/data/abon.dbf", ""), AddResult::Added);
    Operators ops = operators("Абоненты");
    struct Case {
        const char* name;
        AddResult result;
    };
    const Case cases[] = {
        {"Долг", AddResult::Added},       {"Долг", AddResult::Exists},     {"ДОЛГ", AddResult::Exists},
        {"Газ", AddResult::Added},        {"", AddResult::BadName},         {"a\\b", AddResult::BadName},
        {"Шаблоны\\", AddResult::BadName}, {"Вода 2", AddResult::Added},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ops.add(c.name), c.result) << c.name;
    EXPECT_EQ(ops.names(), (Names{"Вода 2", "Газ", "Долг"}));
    EXPECT_FALSE(m_registry.keyExists(taskPath("Абоненты", "a")));

    EXPECT_EQ(operators("").add("Долг"), AddResult::BadName);
    EXPECT_EQ(operators("a\\b").add("Долг"), AddResult::BadName);

    auto task = m_tasks.task("Абоненты", "долг");
    ASSERT_TRUE(task);
    ASSERT_TRUE(task->addRange(1, 2));
    ASSERT_TRUE(task->schedules().add(dailyBlock({0, 86400}), 0, false));
    EXPECT_TRUE(ops.remove("Долг"));
    EXPECT_FALSE(m_registry.keyExists(taskPath("Абоненты", "Долг")));
    EXPECT_FALSE(m_registry.keyExists(taskPath("Абоненты", "Долг") + "\\Диапазоны\\0001"));
    EXPECT_EQ(ops.names(), (Names{"Вода 2", "Газ"}));
    EXPECT_FALSE(m_tasks.task("Абоненты", "Долг"));
    EXPECT_FALSE(ops.remove("Долг"));
    for (const char* name : {"", "\\", "Газ\\Шаблоны"})
        EXPECT_FALSE(ops.remove(name)) << name;
    EXPECT_EQ(ops.names(), (Names{"Вода 2", "Газ"})) << "no name reaches past its own task";
    EXPECT_TRUE(m_registry.keyExists(taskPath("Абоненты", "Газ") + "\\Шаблоны"));

    for (const auto& [binding, name] : {std::pair<const char*, const char*>{"Абоненты", "a\\b"},
                                        {"Абоненты", ""},
                                        {"", "Газ"},
                                        {"Абоненты\\Операторы\\Газ", "Шаблоны"},
                                        {"Нет", "Газ"}})
        EXPECT_FALSE(m_tasks.task(binding, name)) << binding << " / " << name;
}

TEST_F(TaskStoreTest, RemovingABindingRemovesItsTasksAndNothingElse)
{
    ASSERT_EQ(m_tasks.addBinding("Абоненты", "/a.dbf", ""), AddResult::Added);
    ASSERT_EQ(m_tasks.addBinding("Должники", "/d.dbf", ""), AddResult::Added);
    ASSERT_EQ(operators("Абоненты").add("Долг"), AddResult::Added);
    ASSERT_EQ(operators("Должники").add("Долг"), AddResult::Added);

    for (const char* name : {"", "\\", "Нет", "Абоненты\\Операторы"})
        EXPECT_FALSE(m_tasks.removeBinding(name)) << name;
    EXPECT_TRUE(m_registry.keyExists(taskPath("Абоненты", "Долг")));

    EXPECT_TRUE(m_tasks.removeBinding("абоненты"));
    EXPECT_FALSE(m_registry.keyExists(bindingPath("Абоненты")));
    EXPECT_EQ(m_tasks.bindingNames(), (Names{"Должники"}));
    EXPECT_TRUE(m_registry.keyExists(taskPath("Должники", "Долг")));
    EXPECT_FALSE(m_tasks.task("Абоненты", "Долг"));
    EXPECT_FALSE(m_tasks.removeBinding("Абоненты"));
}

TEST_F(TaskStoreTest, AHandleKeptPastTheRemovalDoesNotBringTheTaskBack)
{
    ASSERT_EQ(m_tasks.addBinding("Абоненты", "/a.dbf", ""), AddResult::Added);
    ASSERT_EQ(operators("Абоненты").add("Долг"), AddResult::Added);
    auto kept = m_tasks.task("Абоненты", "Долг");
    ASSERT_TRUE(kept);
    ASSERT_TRUE(kept->setNumber(Behaviour, 2));
    ASSERT_TRUE(kept->setText(Phonelast, "123"));
    ASSERT_TRUE(operators("Абоненты").remove("Долг"));

    const std::string path = taskPath("Абоненты", "Долг");
    EXPECT_FALSE(kept->exists());
    // Getters give the defaults.
    EXPECT_EQ(kept->number(Behaviour), 1u);
    EXPECT_EQ(kept->text(Phonelast), "");
    EXPECT_EQ(kept->number(RepeatMinute), 15u);
    EXPECT_FALSE(kept->valid());
    EXPECT_EQ(kept->filterText(false), "");
    EXPECT_TRUE(kept->ranges().empty());
    EXPECT_TRUE(kept->conditions().products.empty());
    EXPECT_EQ(kept->rangeField(), "");
    EXPECT_TRUE(kept->definition().fieldSort.empty());
    // Setters fail.
    EXPECT_FALSE(kept->setNumber(Behaviour, 2));
    EXPECT_FALSE(kept->setNumber(Typefilter, 1));
    EXPECT_FALSE(kept->setText(Phonelast, "9"));
    EXPECT_FALSE(kept->setValid(true));
    EXPECT_EQ(kept->setSort("SUMMA", "N", true), Change::NotFound);
    EXPECT_FALSE(kept->addRange(1, 2));
    EXPECT_EQ(kept->setRangeBounds("0001", 1, 2), Change::NotFound);
    EXPECT_EQ(kept->setRangeField("SUMMA", "N"), Change::NotFound);
    EXPECT_FALSE(kept->removeRange("0001"));
    ConditionSet set;
    set.products[set.addProduct()].add({kConditionExpression, "", 2, "", "PROBA = 0"});
    EXPECT_FALSE(kept->applyConditions(set));
    EXPECT_FALSE(kept->open());
    EXPECT_FALSE(m_registry.keyExists(path));
    EXPECT_TRUE(operators("Абоненты").names().empty());
}

TEST_F(TaskStoreTest, TheSchedulesAndPortsOfAKeptHandleDoNotBringTheTaskBack)
{
    ASSERT_EQ(m_tasks.addBinding("Абоненты", "/a.dbf", ""), AddResult::Added);
    ASSERT_EQ(operators("Абоненты").add("Долг"), AddResult::Added);
    auto kept = m_tasks.task("Абоненты", "Долг");
    ASSERT_TRUE(kept);
    ASSERT_TRUE(operators("Абоненты").remove("Долг"));
    const std::string path = taskPath("Абоненты", "Долг");

    EXPECT_TRUE(kept->schedules().all().empty());
    EXPECT_FALSE(m_registry.keyExists(path));
    EXPECT_FALSE(kept->schedules().add(dailyBlock({0, 86400}), 0, false));
    EXPECT_FALSE(m_registry.keyExists(path));
    m_registry.deleteKey(path);
    EXPECT_TRUE(kept->availablePorts().list().empty());
    EXPECT_FALSE(m_registry.keyExists(path));
    m_registry.deleteKey(path);
    EXPECT_FALSE(kept->availablePorts().set({"COM1"}));
    EXPECT_FALSE(m_registry.keyExists(path));
    m_registry.deleteKey(path);
    EXPECT_TRUE(operators("Абоненты").names().empty());
}

TEST_F(TaskStoreTest, ADifferentTablePathWithdrawsEveryTaskOfThatBindingOnly)
{
    ASSERT_EQ(m_tasks.addBinding("Абоненты", "/a.dbf", ""), AddResult::Added);
    ASSERT_EQ(m_tasks.addBinding("Должники", "/d.dbf", ""), AddResult::Added);
    for (const char* binding : {"Абоненты", "Должники"})
        for (const char* task : {"Газ", "Долг", "Свет"}) {
            ASSERT_EQ(operators(binding).add(task), AddResult::Added);
            ASSERT_TRUE(m_tasks.task(binding, task)->setValid(true));
        }
    const auto validity = [&](const char* binding) {
        std::vector<bool> valid;
        for (const std::string& task : operators(binding).names())
            valid.push_back(m_tasks.task(binding, task)->valid());
        return valid;
    };

    auto binding = m_tasks.binding("Абоненты");
    ASSERT_TRUE(binding);
    EXPECT_EQ(binding->setFile("/a.dbf"), Change::Unchanged);
    EXPECT_EQ(validity("Абоненты"), (std::vector<bool>{true, true, true}));

    EXPECT_EQ(binding->setFile("/b.dbf"), Change::Changed);
    EXPECT_EQ(binding->file(), "/b.dbf");
    EXPECT_EQ(validity("Абоненты"), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(validity("Должники"), (std::vector<bool>{true, true, true}));

    // The notes are not the table.
    ASSERT_TRUE(m_tasks.task("Абоненты", "Газ")->setValid(true));
    EXPECT_TRUE(binding->setComment("новая"));
    EXPECT_TRUE(m_tasks.task("Абоненты", "Газ")->valid());

    // A binding removed meanwhile is not made again.
    ASSERT_TRUE(m_tasks.removeBinding("Абоненты"));
    EXPECT_EQ(binding->setFile("/c.dbf"), Change::NotFound);
    EXPECT_FALSE(binding->setComment("x"));
    EXPECT_FALSE(m_registry.keyExists(bindingPath("Абоненты")));
}

TEST_F(TaskStoreTest, AKeptBindingDoesNotComeBackThroughANewTask)
{
    ASSERT_EQ(m_tasks.addBinding("Абоненты", "/a.dbf", ""), AddResult::Added);
    auto binding = m_tasks.binding("Абоненты");
    ASSERT_TRUE(binding);
    ASSERT_TRUE(m_tasks.removeBinding("Абоненты"));
    EXPECT_TRUE(binding->operators().names().empty());
    // Not even a bare binding without its table comes back.
    EXPECT_NE(binding->operators().add("Новое"), AddResult::Added);
    EXPECT_FALSE(m_registry.keyExists(bindingPath("Абоненты")));
    EXPECT_TRUE(m_tasks.bindingNames().empty());
}

TEST_F(TaskStoreTest, DefinitionsAreCopiesBindingByBindingInTheStoresOrder)
{
    ASSERT_EQ(m_tasks.addBinding("Должники", "/data/dolg.dbf", ""), AddResult::Added);
    ASSERT_EQ(m_tasks.addBinding("Абоненты", "/data/abon.dbf", ""), AddResult::Added);
    ASSERT_EQ(operators("Должники").add("Пеня"), AddResult::Added);
    ASSERT_EQ(operators("Абоненты").add("Газ"), AddResult::Added);
    ASSERT_EQ(operators("Абоненты").add("Долг"), AddResult::Added);

    auto debt = m_tasks.task("Абоненты", "Долг");
    ASSERT_EQ(debt->setSort("SUMMA", "N", false), Change::Changed);
    ASSERT_TRUE(debt->setNumber(Typefilter, kFilterRanges));
    ASSERT_EQ(debt->setRangeField("SUMMA", "N"), Change::Changed);
    ASSERT_TRUE(debt->addRange(100, 500));
    ASSERT_TRUE(debt->setNumber(Behaviour, kStartFromBeginning));
    ASSERT_TRUE(debt->setNumber(Repeat, 1));
    ASSERT_TRUE(debt->setNumber(RepeatType, 1));
    ASSERT_TRUE(debt->setNumber(RepeatDay, 3));
    ASSERT_TRUE(debt->setNumber(RepeatMinute, 40));
    ASSERT_TRUE(debt->setNumber(RepeatTimes, 4));
    ASSERT_TRUE(debt->setText(RepeatField, "KOL"));
    ASSERT_TRUE(debt->setNumber(Arhive, 1));
    ASSERT_TRUE(debt->setText(ArhiveFile, "/data/arh.dbf"));
    ASSERT_TRUE(debt->setText(Phonelast, "5000"));
    ASSERT_TRUE(debt->setValid(true));

    const std::vector<TaskDefinition> all = m_tasks.definitions();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].binding, "Абоненты");
    EXPECT_EQ(all[0].task, "Газ");
    EXPECT_EQ(all[1].task, "Долг");
    EXPECT_EQ(all[2].binding, "Должники");
    EXPECT_EQ(all[2].task, "Пеня");
    EXPECT_EQ(all[2].file, "/data/dolg.dbf");

    const TaskDefinition& d = all[1];
    EXPECT_EQ(d.file, "/data/abon.dbf");
    EXPECT_EQ(d.fieldSort, "SUMMA");
    EXPECT_EQ(d.fieldSortType, "N");
    EXPECT_FALSE(d.ascend);
    EXPECT_TRUE(d.valid);
    EXPECT_EQ(d.phonelast, "5000");
    EXPECT_EQ(d.behaviour, 2u);
    EXPECT_EQ(d.typefilter, 1u);
    EXPECT_EQ(d.filterText, "SUMMA>=100 AND SUMMA<=500");
    EXPECT_TRUE(d.repeat);
    EXPECT_EQ(d.repeatType, 1u);
    EXPECT_EQ(d.repeatDay, 3u);
    EXPECT_EQ(d.repeatMinute, 40u);
    EXPECT_EQ(d.repeatTimes, 4u);
    EXPECT_EQ(d.repeatField, "KOL");
    EXPECT_TRUE(d.arhive);
    EXPECT_EQ(d.arhiveFile, "/data/arh.dbf");

    // A task never touched reads its defaults, and they are now stored.
    const TaskDefinition& fresh = all[0];
    EXPECT_EQ(fresh.fieldSort, "");
    EXPECT_FALSE(fresh.valid);
    EXPECT_EQ(fresh.behaviour, 1u);
    EXPECT_EQ(fresh.typefilter, 0u);
    EXPECT_EQ(fresh.filterText, "");
    EXPECT_EQ(fresh.repeatDay, 1u);
    EXPECT_EQ(fresh.repeatMinute, 15u);
    EXPECT_EQ(fresh.repeatTimes, 2u);
    EXPECT_EQ(m_registry.getValue(taskPath("Абоненты", "Газ"), "RepeatMinute"), RegistryValue::dword(15));
}

TEST_F(TaskStoreTest, OpeningAllFillsInWhatOldTasksLack)
{
    ASSERT_EQ(m_tasks.addBinding("Абоненты", "/a.dbf", ""), AddResult::Added);
    ASSERT_TRUE(
        m_registry.setValue(taskPath("Абоненты", "Старое") + "\\Диапазоны", "Field", RegistryValue::text("SUMMA")));
    ASSERT_TRUE(m_registry.createKey(taskPath("Абоненты", "Пустое")));
    m_tasks.openAll();
    EXPECT_EQ(m_registry.getValue(taskPath("Абоненты", "Старое"), "Typefilter"), RegistryValue::dword(1));
    EXPECT_EQ(m_registry.getValue(taskPath("Абоненты", "Пустое"), "Typefilter"), RegistryValue::dword(0));
    for (const char* task : {"Старое", "Пустое"}) {
        SCOPED_TRACE(task);
        EXPECT_EQ(m_registry.getValue(taskPath("Абоненты", task), "FieldSort"), RegistryValue::text(""));
        EXPECT_EQ(m_registry.getValue(taskPath("Абоненты", task), "Ascend"), RegistryValue::dword(0));
        EXPECT_EQ(m_registry.subKeys(taskPath("Абоненты", task)).size(), 5u);
    }
}

}  // namespace
}  // namespace peltra::config
