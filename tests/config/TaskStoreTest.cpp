// Bindings and their tasks by name: adding and removing them, names that are refused, handles
// kept past a removal, the table path that withdraws every task, and the definitions' copies.
#include "config/TaskStore.h"

#include "support/ConfigTestStore.h"

#include <gtest/gtest.h>

namespace peltra::config {
namespace {

using platform::RegistryValue;
using test::Names;
using enum TaskProperty;

class TaskStoreTest : public ::testing::Test, protected test::ConfigTestStore {
protected:
    static std::string bindingPath(const std::string& binding) { return ConfigStore::fullPath(bindingKey(binding)); }
    static std::string taskPath(const std::string& binding, const std::string& task)
    {
        return ConfigStore::fullPath(taskKey(binding, task));
    }
    Operators operators(const std::string& binding) { return Operators(store, binding); }
};

TEST_F(TaskStoreTest, BindingsAndTasksAreAddedOnceUnderNamesThatNameOneKey)
{
    const std::tuple<const char*, const char*, AddResult> bindings[] = {
        {"Абоненты", "/data/abon.dbf", AddResult::Added},   {"АБОНЕНТЫ", "/other.dbf", AddResult::Exists},
        {"Должники", "/data/dolg.dbf", AddResult::Added},   {"", "/x.dbf", AddResult::BadName},
        {"Tasks\\X", "/x.dbf", AddResult::BadName},         {"Абоненты\\Операторы", "/x.dbf", AddResult::BadName},
    };
    for (const auto& [name, file, result] : bindings)
        EXPECT_EQ(tasks.addBinding(name, file, "заметка"), result) << name;
    EXPECT_EQ(tasks.bindingNames(), (Names{"Абоненты", "Должники"}));
    EXPECT_EQ(registry.getValue(bindingPath("Абоненты"), "File"), RegistryValue::text("/data/abon.dbf"))
        << "a refused add leaves the binding as it was";
    EXPECT_EQ(registry.getValue(bindingPath("Абоненты"), "Comm"), RegistryValue::text("заметка"));
    EXPECT_EQ(registry.subKeys(bindingPath("Абоненты")), (Names{"Операторы"}));
    EXPECT_FALSE(registry.keyExists(ConfigStore::fullPath("Tasks\\X")));
    EXPECT_EQ(tasks.binding("абоненты")->file(), "/data/abon.dbf");
    for (const char* missing : {"Нет", "", "Абоненты\\Операторы"})
        EXPECT_FALSE(tasks.binding(missing)) << missing;

    Operators ops = operators("Абоненты");
    const std::pair<const char*, AddResult> names[] = {
        {"Долг", AddResult::Added}, {"ДОЛГ", AddResult::Exists},     {"Газ", AddResult::Added},
        {"", AddResult::BadName},   {"Шаблоны\\", AddResult::BadName}, {"Вода 2", AddResult::Added},
    };
    for (const auto& [name, result] : names)
        EXPECT_EQ(ops.add(name), result) << name;
    EXPECT_EQ(ops.names(), (Names{"Вода 2", "Газ", "Долг"}));
    EXPECT_EQ(operators("").add("Долг"), AddResult::BadName);
    EXPECT_EQ(operators("a\\b").add("Долг"), AddResult::BadName);
    for (const auto& [binding, name] : {std::pair<const char*, const char*>{"Абоненты", "a\\b"},
                                        {"", "Газ"},
                                        {"Абоненты\\Операторы\\Газ", "Шаблоны"},
                                        {"Нет", "Газ"}})
        EXPECT_FALSE(tasks.task(binding, name)) << binding << " / " << name;
}

TEST_F(TaskStoreTest, RemovalsTakeTheWholeSubtreeAndNothingElse)
{
    ASSERT_TRUE(addTask());
    ASSERT_EQ(operators(kBinding).add("Газ"), AddResult::Added);
    ASSERT_EQ(tasks.addBinding("Должники", "/d.dbf", ""), AddResult::Added);
    ASSERT_EQ(operators("Должники").add("Долг"), AddResult::Added);
    ASSERT_TRUE(task().addRange(1, 2));

    EXPECT_TRUE(operators(kBinding).remove("долг"));
    EXPECT_FALSE(registry.keyExists(taskPath(kBinding, "Долг")));
    EXPECT_FALSE(operators(kBinding).remove("Долг"));
    for (const char* name : {"", "\\", "Газ\\Шаблоны"})
        EXPECT_FALSE(operators(kBinding).remove(name)) << name;
    EXPECT_TRUE(registry.keyExists(taskPath(kBinding, "Газ") + "\\Шаблоны")) << "no name reaches past its task";

    for (const char* name : {"", "\\", "Нет", "Абоненты\\Операторы"})
        EXPECT_FALSE(tasks.removeBinding(name)) << name;
    EXPECT_TRUE(tasks.removeBinding("абоненты"));
    EXPECT_FALSE(registry.keyExists(bindingPath(kBinding)));
    EXPECT_EQ(tasks.bindingNames(), (Names{"Должники"}));
    EXPECT_TRUE(registry.keyExists(taskPath("Должники", "Долг")));
}

TEST_F(TaskStoreTest, HandlesKeptPastARemovalDoNotBringAnythingBack)
{
    ASSERT_TRUE(addTask());
    auto binding = tasks.binding(kBinding);
    auto kept = tasks.task(kBinding, kTask);
    ASSERT_TRUE(binding && kept);
    ASSERT_TRUE(kept->setNumber(Behaviour, 2));
    ASSERT_TRUE(operators(kBinding).remove(kTask));

    EXPECT_FALSE(kept->exists());
    EXPECT_EQ(kept->number(Behaviour), 1u) << "getters give the defaults";
    EXPECT_TRUE(kept->ranges().empty());
    EXPECT_FALSE(kept->setNumber(Behaviour, 2));
    EXPECT_FALSE(kept->setValid(true));
    EXPECT_EQ(kept->setSort("SUMMA", "N", true), Change::NotFound);
    EXPECT_FALSE(kept->addRange(1, 2));
    EXPECT_FALSE(kept->schedules().add(dailyBlock({0, 86400}), 0, false));
    EXPECT_FALSE(kept->availablePorts().set({"COM1"}));
    EXPECT_FALSE(kept->open());
    EXPECT_FALSE(registry.keyExists(taskPath(kBinding, kTask)));

    ASSERT_TRUE(tasks.removeBinding(kBinding));
    EXPECT_NE(binding->operators().add("Новое"), AddResult::Added);
    EXPECT_EQ(binding->setFile("/c.dbf"), Change::NotFound);
    EXPECT_FALSE(binding->setComment("x"));
    EXPECT_FALSE(binding->setCodePage("866"));
    EXPECT_TRUE(tasks.bindingNames().empty());
}

TEST_F(TaskStoreTest, ADifferentTablePathWithdrawsEveryTaskOfThatBindingOnly)
{
    ASSERT_EQ(tasks.addBinding("Абоненты", "/a.dbf", ""), AddResult::Added);
    ASSERT_EQ(tasks.addBinding("Должники", "/d.dbf", ""), AddResult::Added);
    for (const char* binding : {"Абоненты", "Должники"})
        for (const char* name : {"Газ", "Долг", "Свет"}) {
            ASSERT_EQ(operators(binding).add(name), AddResult::Added);
            ASSERT_TRUE(tasks.task(binding, name)->setValid(true));
        }
    const auto validity = [&](const char* binding) {
        std::vector<bool> valid;
        for (const std::string& name : operators(binding).names())
            valid.push_back(tasks.task(binding, name)->valid());
        return valid;
    };
    auto binding = tasks.binding("Абоненты");
    EXPECT_EQ(binding->setFile("/a.dbf"), Change::Unchanged);
    EXPECT_TRUE(binding->setComment("новая")) << "the notes are not the table";
    EXPECT_EQ(validity("Абоненты"), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(binding->setFile("/b.dbf"), Change::Changed);
    EXPECT_EQ(binding->file(), "/b.dbf");
    EXPECT_EQ(validity("Абоненты"), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(validity("Должники"), (std::vector<bool>{true, true, true}));
}

TEST_F(TaskStoreTest, CodePageSettingsAreAutoOrAnUnmarkedTablesPage)
{
    ASSERT_TRUE(addTask());
    auto binding = tasks.binding(kBinding);
    EXPECT_EQ(binding->codePage(), "");
    EXPECT_FALSE(registry.getValue(bindingPath(kBinding), "CodePage")) << "reading writes nothing";
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"866", "866"}, {"1251", "1251"}, {"AUTO", ""}, {"auto", ""}, {"", ""}, {"1252", std::nullopt},
        {" 866", std::nullopt},
    };
    for (const auto& [text, setting] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(codePageSetting(text), setting);
        ASSERT_TRUE(binding->setCodePage("866"));
        EXPECT_EQ(binding->setCodePage(text), setting.has_value());
        EXPECT_EQ(binding->codePage(), setting.value_or("866"));
    }
}

TEST_F(TaskStoreTest, DefinitionsAreCopiesBindingByBindingInTheStoresOrder)
{
    ASSERT_EQ(tasks.addBinding("Должники", "/data/dolg.dbf", ""), AddResult::Added);
    ASSERT_TRUE(addTask());
    ASSERT_EQ(operators("Должники").add("Пеня"), AddResult::Added);
    ASSERT_EQ(operators(kBinding).add("Газ"), AddResult::Added);

    Operator debt = task();
    ASSERT_EQ(debt.setSort("SUMMA", "N", false), Change::Changed);
    ASSERT_TRUE(debt.setNumber(Typefilter, kFilterRanges));
    ASSERT_EQ(debt.setRangeField("SUMMA", "N"), Change::Changed);
    ASSERT_TRUE(debt.addRange(100, 500));
    const std::pair<TaskProperty, std::uint32_t> numbers[] = {{Behaviour, kStartFromBeginning}, {Repeat, 1},
        {RepeatType, 1}, {RepeatDay, 3}, {RepeatMinute, 40}, {RepeatTimes, 4}, {Arhive, 1}};
    for (const auto& [property, value] : numbers)
        ASSERT_TRUE(debt.setNumber(property, value));
    ASSERT_TRUE(debt.setText(RepeatField, "KOL"));
    ASSERT_TRUE(debt.setText(ArhiveFile, "/data/arh.dbf"));
    ASSERT_TRUE(debt.setText(Phonelast, "5000"));
    ASSERT_TRUE(debt.setValid(true));

    const std::vector<TaskDefinition> all = tasks.definitions();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].task, "Газ");
    EXPECT_EQ(all[2].binding, "Должники");
    EXPECT_EQ(all[2].file, "/data/dolg.dbf");
    const TaskDefinition& d = all[1];
    EXPECT_EQ(std::tie(d.binding, d.task, d.file, d.fieldSort, d.fieldSortType, d.phonelast, d.filterText,
                       d.repeatField, d.arhiveFile),
              std::make_tuple("Абоненты", "Долг", "/data/abon.dbf", "SUMMA", "N", "5000", "SUMMA>=100 AND SUMMA<=500",
                       "KOL", "/data/arh.dbf"));
    EXPECT_EQ(std::tie(d.ascend, d.valid, d.repeat, d.arhive), std::make_tuple(false, true, true, true));
    EXPECT_EQ(std::tie(d.behaviour, d.typefilter, d.repeatType, d.repeatDay, d.repeatMinute, d.repeatTimes),
              std::make_tuple(2u, 1u, 1u, 3u, 40u, 4u));
    // A task never touched reads its defaults, and they are now stored.
    const TaskDefinition& fresh = all[0];
    EXPECT_EQ(std::tie(fresh.behaviour, fresh.typefilter, fresh.repeatDay, fresh.repeatMinute, fresh.repeatTimes),
              std::make_tuple(1u, 0u, 1u, 15u, 2u));
    EXPECT_EQ(registry.getValue(taskPath(kBinding, "Газ"), "RepeatMinute"), RegistryValue::dword(15));
}

}  // namespace
}  // namespace peltra::config
