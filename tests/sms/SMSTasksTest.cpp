// SMS tasks and their templates in the store: the linked order at its edges, the file and its
// readiness mark, names, the editing copy and saved templates, and the template's named lock.
#include "sms/SMSTasks.h"

#include "config/ConfigStore.h"
#include "platform/locks/NamedLock.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace peltra::sms {
namespace {

using config::ConfigStore;
using platform::RegistryStore;
using Names = std::vector<std::string>;

constexpr char kTask[] = "Долг";

class SMSTasksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A runtime folder of its own, so these tests never meet a running station's locks.
        setenv("XDG_RUNTIME_DIR", m_dir.path().c_str(), 1);
        ASSERT_EQ(m_tasks.addTask(kTask), AddTaskResult::Added);
        m_task = m_tasks.find(kTask);
        ASSERT_TRUE(m_task);
    }

    std::string itemText(const std::string& item, const std::string& name)
    {
        const auto value =
            m_registry.getValue(ConfigStore::fullPath(taskKey(kTask) + "\\Шаблоны\\" + item), name);
        return value ? value->asText() : "<missing>";
    }

    Names order(SMSPatterns& patterns)
    {
        std::vector<SMSPatternItem> items;
        EXPECT_TRUE(patterns.items(items));
        Names keys;
        for (const SMSPatternItem& item : items)
            keys.push_back(item.key);
        return keys;
    }
    Names order() { return order(m_task->patterns()); }

    // The links agree with the order, and every item key is in the chain once.
    void expectLinked(const Names& expected)
    {
        const Names listed = order();
        EXPECT_EQ(listed, expected);
        for (std::size_t i = 0; i < listed.size(); ++i) {
            SCOPED_TRACE(listed[i]);
            EXPECT_EQ(itemText(listed[i], "Prev"), i == 0 ? "" : listed[i - 1]);
            EXPECT_EQ(itemText(listed[i], "Next"), i + 1 == listed.size() ? "" : listed[i + 1]);
        }
        Names sorted = listed;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(m_store.subKeys(taskKey(kTask) + "\\Шаблоны"), sorted);
    }

    std::string add(const std::string& after, const std::string& text)
    {
        const auto key = m_task->patterns().addAfter(after, ItemType::Text, text);
        EXPECT_TRUE(key);
        return key.value_or("");
    }

    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
    SMSTasks m_tasks{m_store};
    std::shared_ptr<SMSTask> m_task;
};

TEST_F(SMSTasksTest, EditsKeepTheChainWhole)
{
    // Each step: the operation (a: add a text after key, e: append, r: remove key, m: move key after
    // other, p: make key a field), the key it returns ("-" when refused), the order after it.
    const struct { char op; const char* key; const char* other; const char* result; Names order; } steps[] = {
        {'a', "", "", "0001", {"0001"}},
        {'a', "0001", "", "0002", {"0001", "0002"}},
        {'e', "", "", "0003", {"0001", "0002", "0003"}},
        {'r', "0002", "", "0002", {"0001", "0003"}},
        {'a', "0001", "", "0004", {"0001", "0004", "0003"}},  // numbered after the largest
        {'m', "0003", "", "0003", {"0003", "0001", "0004"}},
        {'m', "0003", "0004", "0003", {"0001", "0004", "0003"}},
        {'m', "0004", "0004", "0004", {"0001", "0004", "0003"}},  // after itself: nothing changes
        {'a', "0009", "", "-", {"0001", "0004", "0003"}},  // missing items
        {'r', "0002", "", "-", {"0001", "0004", "0003"}},
        {'m', "0002", "", "-", {"0001", "0004", "0003"}},
        {'m', "0001", "0002", "-", {"0001", "0004", "0003"}},
        {'p', "0004", "", "0004", {"0001", "0004", "0003"}},
        {'r', "0001", "", "0001", {"0004", "0003"}},
        {'r', "0003", "", "0003", {"0004"}},
        {'r', "0004", "", "0004", {}},
    };
    SMSPatterns& p = m_task->patterns();
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(1, step.op) + " " + step.key + " " + step.other);
        const auto result = step.op == 'a'   ? p.addAfter(step.key, ItemType::Text, "x")
                            : step.op == 'e' ? p.append(ItemType::Text, "x")
                            : step.op == 'r' ? p.remove(step.key)
                            : step.op == 'm' ? p.moveAfter(step.key, step.other)
                                             : p.replace(step.key, ItemType::Field, "SUMMA");
        EXPECT_EQ(result.value_or("-"), step.result);
        expectLinked(step.order);
        if (step.op == 'p') {
            std::vector<SMSPatternItem> items;
            ASSERT_TRUE(p.items(items));
            EXPECT_EQ(items[1].type, ItemType::Field);
            EXPECT_EQ(items[1].value, "SUMMA");
        }
    }
}

TEST_F(SMSTasksTest, ValidIsClearedOnCreationAndWhenTheFileChanges)
{
    const std::string key = taskKey(kTask);
    EXPECT_EQ(m_store.readNumber(key, "Valid", 7), 0u);
    EXPECT_EQ(m_task->file(), "");
    struct Step { const char* path; bool clears; };
    const std::vector<Step> steps = {{"/data/abon.dbf", true}, {"/data/abon.dbf", false},
                                     {"/data/ABON.dbf", true}, {"", true}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.path);
        ASSERT_TRUE(m_store.writeNumber(key, "Valid", 1));
        ASSERT_TRUE(m_tasks.setFile(kTask, step.path));
        EXPECT_EQ(m_tasks.file(kTask), step.path);
        EXPECT_EQ(m_task->valid(), !step.clears);
    }
    EXPECT_FALSE(m_tasks.setFile("Нет такого", "/x.dbf"));
    EXPECT_FALSE(m_registry.keyExists(ConfigStore::fullPath(taskKey("Нет такого"))));
}

TEST_F(SMSTasksTest, NamesAreRefusedWhenEmptyDuplicateOrReserved)
{
    struct Case { const char* name; AddTaskResult result; };
    const std::vector<Case> cases = {
        {"", AddTaskResult::BadName},          {"a\\b", AddTaskResult::BadName},
        {"Temp", AddTaskResult::BadName},      {"TEMP", AddTaskResult::BadName},
        {"Долг", AddTaskResult::Duplicate},    {"ДОЛГ", AddTaskResult::Duplicate},
        {"Долг 2", AddTaskResult::Added},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(m_tasks.addTask(c.name), c.result);
    }
    EXPECT_EQ(m_tasks.names(), (Names{"Долг", "Долг 2"}));

    // A task another process made since this collection was loaded is a duplicate too.
    SMSTasks other(m_store);
    ASSERT_TRUE(other.load());
    ASSERT_EQ(m_tasks.addTask("Третье"), AddTaskResult::Added);
    EXPECT_EQ(other.addTask("третье"), AddTaskResult::Duplicate);
}

TEST_F(SMSTasksTest, RenamingKeepsFileAndTemplateRemovingTakesThem)
{
    add("", "a");
    ASSERT_TRUE(m_tasks.setFile(kTask, "/d/a.dbf"));
    ASSERT_EQ(m_tasks.addTask("Другое"), AddTaskResult::Added);
    EXPECT_EQ(m_tasks.renameTask(kTask, "другое"), AddTaskResult::Duplicate);
    EXPECT_EQ(m_tasks.renameTask(kTask, "a\\b"), AddTaskResult::BadName);
    ASSERT_EQ(m_tasks.renameTask(kTask, "Новое"), AddTaskResult::Added);
    ASSERT_EQ(m_tasks.renameTask("Новое", "НОВОЕ"), AddTaskResult::Added);
    EXPECT_EQ(m_tasks.names(), (Names{"НОВОЕ", "Другое"})) << "a renamed task keeps its place";
    const auto renamed = m_tasks.find("НОВОЕ");
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->name(), "НОВОЕ");
    EXPECT_EQ(renamed->file(), "/d/a.dbf");
    EXPECT_EQ(order(renamed->patterns()), Names{"0001"});
    EXPECT_EQ(m_store.subKeys(kTasksKey), (Names{"Другое", "НОВОЕ"}));
    EXPECT_EQ(m_store.subKeys(""), (Names{"SMSTasks"})) << "the renaming key stays behind";

    // Removing takes the template along; a late write through the old task does not bring it back.
    ASSERT_TRUE(m_tasks.removeTask("НОВОЕ"));
    EXPECT_FALSE(m_tasks.find("НОВОЕ"));
    std::string error;
    EXPECT_FALSE(renamed->patterns().addAfter("", ItemType::Text, "late", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(renamed->patterns().append(ItemType::Text, "late"));
    EXPECT_FALSE(m_registry.keyExists(ConfigStore::fullPath(taskKey("НОВОЕ"))));
    EXPECT_FALSE(m_tasks.removeTask("НОВОЕ"));
}

TEST_F(SMSTasksTest, EditingCopyIsAppliedOrDroppedAndSavedAsATemplate)
{
    add("", "a");
    add("0001", "b");
    ASSERT_TRUE(m_tasks.beginEditing(kTask));
    SMSPatterns copy = m_tasks.workingCopy();
    EXPECT_EQ(order(copy), (Names{"0001", "0002"}));
    ASSERT_TRUE(copy.remove("0001"));
    ASSERT_TRUE(copy.append(ItemType::Field, "FIO"));
    EXPECT_EQ(order(), (Names{"0001", "0002"})) << "the task is untouched until applied";

    ASSERT_TRUE(m_tasks.applyEditing(kTask));
    expectLinked({"0002", "0003"});
    EXPECT_EQ(itemText("0003", "Value"), "FIO");

    // A new editing round starts from the task; cancelling leaves it as it was.
    ASSERT_TRUE(m_tasks.beginEditing(kTask));
    ASSERT_TRUE(copy.remove("0002"));
    ASSERT_TRUE(m_tasks.cancelEditing());
    EXPECT_FALSE(m_registry.keyExists(ConfigStore::fullPath(taskKey(kWorkingCopyName))));
    expectLinked({"0002", "0003"});
    EXPECT_FALSE(m_tasks.beginEditing("Нет такого"));

    // A template saved by name is loaded into another task; saving again replaces it.
    ASSERT_TRUE(m_tasks.saveTemplate(kTask, "Стандарт"));
    ASSERT_EQ(m_tasks.addTask("Другое"), AddTaskResult::Added);
    ASSERT_TRUE(m_tasks.loadTemplate("Стандарт", "Другое"));
    EXPECT_EQ(order(m_tasks.find("Другое")->patterns()), (Names{"0002", "0003"}));
    EXPECT_EQ(m_tasks.savedTemplates(), Names{"Стандарт"});
    ASSERT_TRUE(m_task->patterns().remove("0002"));
    ASSERT_TRUE(m_tasks.saveTemplate(kTask, "стандарт"));
    ASSERT_TRUE(m_tasks.loadTemplate("Стандарт", "Другое"));
    EXPECT_EQ(order(m_tasks.find("Другое")->patterns()), Names{"0003"});
    // The saved copy is not a task.
    SMSTasks loaded(m_store);
    ASSERT_TRUE(loaded.load());
    EXPECT_EQ(loaded.names(), (Names{"Долг", "Другое"}));

    std::string error;
    EXPECT_FALSE(m_tasks.loadTemplate("Нет такого", kTask, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(m_tasks.saveTemplate(kTask, "a\\b"));
    EXPECT_FALSE(m_tasks.loadTemplate("Стандарт", "Нет такого"));
    EXPECT_FALSE(m_registry.keyExists(ConfigStore::fullPath(taskKey("Нет такого"))));
    ASSERT_TRUE(m_tasks.removeSavedTemplate("Стандарт"));
    EXPECT_TRUE(m_tasks.savedTemplates().empty());
}

TEST_F(SMSTasksTest, ChangesWaitForTheTemplatesNamedLock)
{
    auto held = platform::NamedLock::acquire(smsTemplateLockName("ДОЛГ"), 1000);
    ASSERT_TRUE(held) << "the lock name folds the task name's case";
    std::optional<std::string> added;
    std::thread adder([&] { added = m_task->patterns().addAfter("", ItemType::Text, "a"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(m_store.subKeys(taskKey(kTask) + "\\Шаблоны").empty()) << "added while the lock was held";
    held->release();
    adder.join();
    EXPECT_EQ(added, "0001");
}

}  // namespace
}  // namespace peltra::sms
