// Task definitions: what a task is given on first read, the changes that withdraw a task from
// scheduling and those that do not, the sort's restart point, the ranges and the filter text;
// bindings and their tasks by name: adding and removing them, refused names, handles kept past a
// removal, the table path that withdraws every task, and the definitions' copies.
#include "config/Operator.h"
#include "config/TaskStore.h"

#include "support/ConfigTestStore.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <thread>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using test::Names;
using enum TaskProperty;

class OperatorTest : public ::testing::Test, protected test::ConfigTestStore {
protected:
    void SetUp() override { ASSERT_EQ(tasks.addBinding(kBinding, "/data/abon.dbf", ""), AddResult::Added); }

    // A new task of the binding, created as the task manager creates it.
    Operator newTask(const std::string& name)
    {
        EXPECT_EQ(tasks.binding(kBinding)->operators().add(name), AddResult::Added) << name;
        return Operator(store, kBinding, name);
    }

    std::string full(const std::string& name, const std::string& sub = "") const
    {
        return ConfigStore::fullPath(taskKey(kBinding, name) + (sub.empty() ? "" : "\\" + sub));
    }
    std::optional<RegistryValue> value(const std::string& task, const std::string& name, const std::string& sub = "")
    {
        return registry.getValue(full(task, sub), name);
    }
};

TEST_F(OperatorTest, CreateWritesTheSortFilterKindAndWithdrawsTheTask)
{
    Operator task = newTask("Долг");
    EXPECT_TRUE(task.exists());
    Names names;
    for (const auto& v : registry.values(full("Долг")))
        names.push_back(v.name);
    EXPECT_EQ(names, (Names{"Ascend", "FieldSort", "Typefilter", "Valid"}));
    EXPECT_FALSE(task.valid());
    EXPECT_EQ(registry.subKeys(full("Долг")),
              (Names{"Диапазоны", "Доступные Порты", "Расписания", "Фильтр", "Шаблоны"}));
}

TEST_F(OperatorTest, TheFilterKindOfAnOldTaskFollowsItsRangesField)
{
    const std::tuple<const char*, std::optional<const char*>, std::optional<std::uint32_t>, bool, std::uint32_t>
        cases[] = {
        {"a ranges field, opened", "SUMMA", std::nullopt, true, 1},
        {"a ranges field, first read", "SUMMA", std::nullopt, false, 1},
        {"an empty ranges field", "", std::nullopt, true, 0},
        {"no ranges key", std::nullopt, std::nullopt, true, 0},
        {"no ranges key, first read", std::nullopt, std::nullopt, false, 0},
        {"a stored kind is kept", "SUMMA", 2u, true, 2},
        {"a stored none is kept", "SUMMA", 0u, false, 0},
    };
    int n = 0;
    for (const auto& [what, rangesField, storedKind, throughOpen, kind] : cases) {
        SCOPED_TRACE(what);
        const std::string name = "Старое" + std::to_string(++n);
        ASSERT_TRUE(registry.createKey(full(name)));
        if (rangesField) {
            ASSERT_TRUE(registry.setValue(full(name, "Диапазоны"), "Field", RegistryValue::text(*rangesField)));
        }
        if (storedKind) {
            ASSERT_TRUE(registry.setValue(full(name), "Typefilter", RegistryValue::dword(*storedKind)));
        }
        Operator task(store, kBinding, name);
        if (throughOpen) {
            ASSERT_TRUE(task.open());
            EXPECT_EQ(value(name, "Typefilter"), RegistryValue::dword(kind));
            EXPECT_EQ(value(name, "FieldSort"), RegistryValue::text(""));
            EXPECT_EQ(registry.subKeys(full(name)).size(), 5u) << "open makes the owned keys";
        }
        EXPECT_EQ(task.number(Typefilter), kind);
        EXPECT_EQ(value(name, "Typefilter"), RegistryValue::dword(kind));
    }
    EXPECT_FALSE(Operator(store, kBinding, "Нет такого").open());
    EXPECT_FALSE(registry.keyExists(full("Нет такого"))) << "open does not make a task";
}

TEST_F(OperatorTest, RefusedValuesAreNotWritten)
{
    const std::tuple<TaskProperty, std::uint32_t, bool> cases[] = {
        {Ascend, 0, false},     {Ascend, 1, false},         {Ascend, 2, true},        {Valid, 2, true},
        {Repeat, 1, false},     {Repeat, 2, true},          {Arhive, 1, false},       {Arhive, 5, true},
        {RepeatType, 1, false}, {RepeatType, 2, true},      {Behaviour, 0, true},     {Behaviour, 1, false},
        {Behaviour, 2, false},  {Behaviour, 3, true},       {Typefilter, 2, false},   {Typefilter, 3, true},
        {RepeatDay, 0, true},   {RepeatDay, 1, false},      {RepeatMinute, 0, true},  {RepeatMinute, 1440, false},
        {RepeatTimes, 0, true}, {RepeatTimes, 100, false},
    };
    Operator task = newTask("Долг");
    for (const auto& [property, number, refused] : cases) {
        const std::string name(propertyInfo(property).name);
        SCOPED_TRACE(name + " = " + std::to_string(number));
        const auto reason = checkPropertyValue(property, number);
        EXPECT_EQ(reason.has_value(), refused);
        EXPECT_NE(reason.value_or(name).find(name), std::string::npos) << reason.value_or("");
        if (!refused || property == Ascend || property == Valid)
            continue;
        const std::uint32_t before = task.number(property);
        EXPECT_FALSE(task.setNumber(property, number));
        EXPECT_EQ(task.number(property), before);
    }

    // Each property only through its own door.
    EXPECT_FALSE(task.setNumber(Ascend, 1)) << "the direction goes with the sort";
    EXPECT_FALSE(task.setText(FieldSort, "SUMMA"));
    EXPECT_FALSE(task.setText(Behaviour, "2")) << "a number property";
    EXPECT_EQ(value("Долг", "Ascend"), RegistryValue::dword(0));
    EXPECT_EQ(value("Долг", "FieldSort"), RegistryValue::text(""));
}

// Each change is made to a task that was valid; prepare sets the scene first.
struct ValidityCase {
    std::string what;
    std::function<void(Operator&)> prepare;
    std::function<void(Operator&)> change;
    bool staysValid;
};

TEST_F(OperatorTest, KeyChangesWithdrawTheTaskAndOthersDoNot)
{
    const auto none = [](Operator&) {};
    const auto sorted = [](Operator& t) { ASSERT_EQ(t.setSort("SUMMA", "N", true), Change::Changed); };
    const auto withRanges = [](Operator& t) {
        ASSERT_EQ(t.setRangeField("SUMMA", "N"), Change::Changed);
        ASSERT_EQ(t.addRange(1, 100), "0001");
        ASSERT_EQ(t.addRange(500, 600), "0002");
    };
    const auto withCondition = [](Operator& t) {
        ConditionSet set;
        set.products[set.addProduct()].add({kConditionCompare, "SUMMA", 5, "100", ""});
        set.products[0].add({kConditionExpression, "", 2, "", "PROBA = 0"});
        ASSERT_TRUE(t.applyConditions(set));
    };
    const auto conditions = [](std::function<void(ConditionSet&)> edit, bool written = true) {
        return [=](Operator& t) {
            ConditionSet set = t.conditions();
            edit(set);
            EXPECT_EQ(t.applyConditions(set), written);
        };
    };
    const auto sort = [](const char* field, const char* type, bool ascending, Change expected) {
        return [=](Operator& t) { EXPECT_EQ(t.setSort(field, type, ascending), expected); };
    };

    std::vector<ValidityCase> cases = {
        {"sort by another field", sorted, sort("PROBA", "N", true, Change::Changed), false},
        {"sort the other way", sorted, sort("SUMMA", "N", false, Change::Changed), false},
        {"first sort", none, sort("SUMMA", "N", false, Change::Changed), false},
        {"the same sort", sorted, sort("SUMMA", "N", true, Change::Unchanged), true},
        {"RepeatField", none, [](Operator& t) { EXPECT_TRUE(t.setText(RepeatField, "KOL")); }, false},
        {"Phonelast", none, [](Operator& t) { EXPECT_TRUE(t.setText(Phonelast, "2345678")); }, true},
        {"a range added", withRanges, [](Operator& t) { EXPECT_EQ(t.addRange(7, 8), "0003"); }, false},
        {"a range's bounds", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeBounds("0002", 500, 601), Change::Changed); }, false},
        {"a range removed", withRanges, [](Operator& t) { EXPECT_TRUE(t.removeRange("0001")); }, false},
        {"the ranges' field", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeField("PROBA", "N"), Change::Changed); }, false},
        {"the same bounds", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeBounds("0002", 500, 600), Change::Unchanged); }, true},
        {"a condition changed", withCondition,
         conditions([](ConditionSet& set) { set.products[0].replace(0, {kConditionCompare, "SUMMA", 5, "200", ""}); }),
         false},
        {"a condition deleted", withCondition, conditions([](ConditionSet& set) { set.products[0].markDeleted(1); }),
         false},
        {"the same condition", withCondition, conditions([](ConditionSet&) {}), true},
        {"an empty product added", withCondition, conditions([](ConditionSet& set) { set.addProduct(); }), true},
        {"a condition that cannot be written", withCondition,
         conditions(
             [](ConditionSet& set) {
                 set.products[0].replace(0, {kConditionCompare, "SUMMA", 5, "200", ""});
                 set.products.push_back({"bad\\name", {}, false});
             },
             false),
         true},
        {"schedules added, changed and removed", none,
         [](Operator& t) {
             EXPECT_TRUE(t.schedules().add(dailyBlock({28800, 72000}), 0, false));
             EXPECT_TRUE(t.schedules().set("0001", dailyBlock({0, 86400}), 0x80000001u, true));
             EXPECT_TRUE(t.schedules().remove("0001"));
         },
         true},
        {"ports linked", none,
         [](Operator& t) {
             EXPECT_TRUE(t.availablePorts().set({"COM1", "SIM2"}));
             EXPECT_TRUE(t.availablePorts().contains("sim2") && !t.availablePorts().contains("COM2"));
         },
         true},
    };
    // Numbers: another value withdraws the task when it is a key one; the stored value never does.
    const std::tuple<TaskProperty, std::uint32_t, std::uint32_t, bool> numbers[] = {
        {Typefilter, 0, 1, true},    {Repeat, 0, 1, true},       {RepeatType, 0, 1, true},
        {RepeatDay, 1, 7, true},     {RepeatMinute, 15, 30, true}, {RepeatTimes, 2, 3, true},
        {Behaviour, 1, 2, false},    {Arhive, 0, 1, false},      {RetryMinute, 0, 30, false},
    };
    for (const auto& [property, stored, other, key] : numbers) {
        const std::string name(propertyInfo(property).name);
        cases.push_back({name, none, [=](Operator& t) { EXPECT_TRUE(t.setNumber(property, other)); }, !key});
        cases.push_back({name + " as stored", none, [=](Operator& t) { EXPECT_TRUE(t.setNumber(property, stored)); },
                         true});
    }
    int n = 0;
    for (const ValidityCase& c : cases) {
        SCOPED_TRACE(c.what);
        Operator task = newTask("Задание " + std::to_string(++n));
        EXPECT_FALSE(task.valid()) << "a new task is withdrawn";
        c.prepare(task);
        ASSERT_TRUE(task.setValid(true));
        c.change(task);
        EXPECT_EQ(task.valid(), c.staysValid);
    }
}

TEST_F(OperatorTest, ANewSortRestartsTheListFromItsStart)
{
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"N", true, "0"}, {"N", false, "999999999999"}, {"C", true, ""}, {"C", false, "я"}, {"D", false, ""},
    };
    int n = 0;
    for (const auto& [type, ascending, start] : cases) {
        SCOPED_TRACE(std::string(type) + (ascending ? " ascending" : " descending"));
        EXPECT_EQ(phonelastStart(type, ascending), start);
        const std::string name = "Сортировка " + std::to_string(++n);
        Operator task = newTask(name);
        ASSERT_TRUE(task.setText(Phonelast, "12345"));
        ASSERT_TRUE(task.setValid(true));
        EXPECT_EQ(task.setSort("POLE", type, ascending), Change::Changed);
        EXPECT_EQ(value(name, "Phonelast"), RegistryValue::text(start));
        EXPECT_EQ(value(name, "FieldSort"), RegistryValue::text("POLE"));
        EXPECT_EQ(value(name, "FieldSortType"), RegistryValue::text(type));
        EXPECT_EQ(value(name, "Ascend"), RegistryValue::dword(ascending ? 1 : 0));
        EXPECT_FALSE(task.valid());

        // The same sort again keeps the restart point the rows have moved it to.
        ASSERT_TRUE(task.setText(Phonelast, "777"));
        ASSERT_TRUE(task.setValid(true));
        EXPECT_EQ(task.setSort("POLE", type, ascending), Change::Unchanged);
        EXPECT_EQ(task.text(Phonelast), "777");
        EXPECT_TRUE(task.valid());
    }
}

TEST_F(OperatorTest, RangesAreStoredSwappedAndRefusedNamesChangeNothing)
{
    Operator task = newTask("Долг");
    ASSERT_TRUE(registry.createKey(full("Долг", "Диапазоны\\0001")));
    EXPECT_EQ(task.addRange(100, 1), "0002") << "bounds the wrong way round";
    EXPECT_EQ(value("Долг", "minValue", "Диапазоны\\0002"), RegistryValue::dword(1));
    EXPECT_EQ(value("Долг", "maxValue", "Диапазоны\\0002"), RegistryValue::dword(100));
    const std::vector<Range> ranges = task.ranges();
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(std::tie(ranges[0].name, ranges[0].minValue, ranges[0].maxValue), std::make_tuple("0001", 0u, 0u))
        << "a bare range reads as 0..0";
    EXPECT_EQ(value("Долг", "maxValue", "Диапазоны\\0001"), RegistryValue::dword(0));

    EXPECT_EQ(task.setRangeBounds("0002", 30, 25), Change::Changed);
    EXPECT_EQ(value("Долг", "minValue", "Диапазоны\\0002"), RegistryValue::dword(25));
    EXPECT_EQ(value("Долг", "maxValue", "Диапазоны\\0002"), RegistryValue::dword(30));
    for (const char* name : {"", "0002\\x", "0009"}) {
        EXPECT_EQ(task.setRangeBounds(name, 1, 2), Change::NotFound) << name;
        EXPECT_FALSE(task.removeRange(name)) << name;
    }
    EXPECT_FALSE(registry.keyExists(full("Долг", "Диапазоны\\0009")));
    EXPECT_TRUE(task.removeRange("0001"));
    EXPECT_EQ(registry.subKeys(full("Долг", "Диапазоны")), Names{"0002"});
}

TEST_F(OperatorTest, TheFilterTextFollowsTheFilterKindAndCoversTheRangesInOrder)
{
    using Bounds = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    const std::tuple<const char*, const char*, Bounds, const char*, const char*> cases[] = {
        {"SUMMA", "N", {{1, 100}, {500, 600}}, "SUMMA>=1 AND SUMMA<=100 OR SUMMA>=500 AND SUMMA<=600",
         "\"SUMMA\">=1 AND \"SUMMA\"<=100 OR \"SUMMA\">=500 AND \"SUMMA\"<=600"},
        {"SUMMA", "N", {{4294967295u, 0}}, "SUMMA>=0 AND SUMMA<=4294967295", "\"SUMMA\">=0 AND \"SUMMA\"<=4294967295"},
        {"SUMMA", "N", {}, "", ""},
        {"FIO", "C", {{1, 2}}, "", ""},  // only a number field has ranges
        {"", "N", {{1, 2}}, "", ""},
    };
    int n = 0;
    for (const auto& [field, type, bounds, plain, quoted] : cases) {
        SCOPED_TRACE(plain);
        Operator task = newTask("Диапазоны " + std::to_string(++n));
        ASSERT_TRUE(task.setNumber(Typefilter, kFilterRanges));
        task.setRangeField(field, type);
        for (const auto& [from, to] : bounds)
            ASSERT_TRUE(task.addRange(from, to));
        EXPECT_EQ(task.filterText(false), plain);
        EXPECT_EQ(task.filterText(true), quoted);
        EXPECT_EQ(task.definition().filterText, plain);
    }

    Operator task = newTask("Долг");
    ASSERT_EQ(task.setRangeField("SUMMA", "N"), Change::Changed);
    ASSERT_TRUE(task.addRange(1, 100));
    ConditionSet set;
    set.products[set.addProduct()].add({kConditionCompare, "FIO", 1, "'И%'", ""});
    set.products[set.addProduct()].add({kConditionExpression, "", 2, "", "PROBA = 0"});
    ASSERT_TRUE(task.applyConditions(set));
    const std::tuple<std::uint32_t, const char*, const char*> kinds[] = {
        {kFilterNone, "", ""},
        {kFilterRanges, "SUMMA>=1 AND SUMMA<=100", "\"SUMMA\">=1 AND \"SUMMA\"<=100"},
        {kFilterCondition, "FIO NotLike 'И%' OR PROBA = 0", "\"FIO\" NotLike 'И%' OR PROBA = 0"},
        {7, "", ""},  // a kind written by something else than the editor filters nothing
    };
    for (const auto& [kind, plain, quoted] : kinds) {
        ASSERT_TRUE(registry.setValue(full("Долг"), "Typefilter", RegistryValue::dword(kind)));
        EXPECT_EQ(task.filterText(false), plain) << kind;
        EXPECT_EQ(task.filterText(true), quoted) << kind;
    }
}

TEST_F(OperatorTest, RangesAddedAtOnceFromTwoStoresGetDistinctNumbers)
{
    Operator task = newTask("Долг");
    ASSERT_EQ(task.setRangeField("SUMMA", "N"), Change::Changed);
    constexpr int kEach = 15;
    // A second connection to the same file stands in for another process.
    RegistryStore otherRegistry(dir / "registry.db");
    ConfigStore otherStore(otherRegistry);
    std::vector<std::string> names[2];
    std::vector<std::thread> threads;
    ConfigStore* stores[2] = {&store, &otherStore};
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            Operator mine(*stores[t], kBinding, "Долг");
            for (int i = 0; i < kEach; ++i) {
                const auto name = mine.addRange(static_cast<std::uint32_t>(t * 1000 + i), 5000);
                names[t].push_back(name.value_or("failed"));
                mine.filterText(false);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::string> all(names[0].begin(), names[0].end());
    all.insert(names[1].begin(), names[1].end());
    EXPECT_EQ(all.size(), 2u * kEach);
    EXPECT_EQ(all.count("failed"), 0u);
    EXPECT_EQ(*all.rbegin(), "0030");
    EXPECT_EQ(task.ranges().size(), 2u * kEach);
}

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
}

}  // namespace
}  // namespace peltra::config
