// Task definitions: the defaults written on first read, the changes that withdraw a task from
// scheduling and those that do not, the sort's restart point, the ranges and the filter text.
#include "config/Operator.h"

#include "config/TaskStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using Names = std::vector<std::string>;
using enum TaskProperty;

constexpr char kBinding[] = "Абоненты";

class OperatorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_tasks.addBinding(kBinding, "/data/abon.dbf", ""), AddResult::Added); }

    // A new task of the binding, created as the task manager creates it.
    Operator newTask(const std::string& name)
    {
        EXPECT_EQ(m_tasks.binding(kBinding)->operators().add(name), AddResult::Added) << name;
        return Operator(m_store, kBinding, name);
    }

    std::string full(const std::string& name, const std::string& sub = "") const
    {
        return ConfigStore::fullPath(taskKey(kBinding, name) + (sub.empty() ? "" : "\\" + sub));
    }
    std::optional<RegistryValue> value(const std::string& task, const std::string& name, const std::string& sub = "")
    {
        return m_registry.getValue(full(task, sub), name);
    }

    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
    TaskStore m_tasks{m_store};
};

TEST_F(OperatorTest, CreateWritesTheSortFilterKindAndWithdrawsTheTask)
{
    Operator task = newTask("Долг");
    EXPECT_TRUE(task.exists());
    const auto values = m_registry.values(full("Долг"));
    Names names;
    for (const auto& v : values)
        names.push_back(v.name);
    EXPECT_EQ(names, (Names{"Ascend", "FieldSort", "Typefilter", "Valid"}));
    EXPECT_EQ(value("Долг", "FieldSort"), RegistryValue::text(""));
    EXPECT_EQ(value("Долг", "Ascend"), RegistryValue::dword(0));
    EXPECT_EQ(value("Долг", "Typefilter"), RegistryValue::dword(0));
    EXPECT_EQ(value("Долг", "Valid"), RegistryValue::dword(0));
    EXPECT_EQ(m_registry.subKeys(full("Долг")),
              (Names{"Диапазоны", "Доступные Порты", "Расписания", "Фильтр", "Шаблоны"}));

    // The name is taken: nothing is touched.
    ASSERT_TRUE(task.setValid(true));
    EXPECT_FALSE(Operator(m_store, kBinding, "Долг").create());
    EXPECT_FALSE(Operator(m_store, kBinding, "ДОЛГ").create()) << "names compare without regard to case";
    EXPECT_TRUE(task.valid());
}

TEST_F(OperatorTest, EveryPropertyIsWrittenWithItsDefaultOnFirstRead)
{
    struct Expected {
        const char* name;
        bool isText;
        std::uint32_t number;
        const char* text;
    };
    const Expected expected[] = {
        {"FieldSort", true, 0, ""},   {"FieldSortType", true, 0, ""}, {"Ascend", false, 0, ""},
        {"Valid", false, 0, ""},      {"Phonelast", true, 0, ""},     {"Behaviour", false, 1, ""},
        {"Typefilter", false, 0, ""}, {"Repeat", false, 0, ""},       {"RepeatType", false, 0, ""},
        {"RepeatDay", false, 1, ""},  {"RepeatMinute", false, 15, ""}, {"RepeatTimes", false, 2, ""},
        {"RepeatField", true, 0, ""}, {"Arhive", false, 0, ""},       {"ArhiveFile", true, 0, ""},
        {"RetryMinute", false, 0, ""}, {"MaxAttempts", false, 0, ""},
    };
    ASSERT_EQ(taskProperties().size(), std::size(expected));

    // A bare key, as another station or an old version may have left it.
    ASSERT_TRUE(m_registry.createKey(full("Голый")));
    Operator task(m_store, kBinding, "Голый");
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Expected& e = expected[i];
        const PropertyInfo& info = taskProperties()[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(info.name, e.name);
        EXPECT_EQ(info.isText, e.isText);
        EXPECT_EQ(&propertyInfo(info.id), &info);
        ASSERT_FALSE(value("Голый", e.name));
        if (e.isText) {
            EXPECT_EQ(task.text(info.id), e.text);
            EXPECT_EQ(value("Голый", e.name), RegistryValue::text(e.text));
        } else {
            EXPECT_EQ(task.number(info.id), e.number);
            EXPECT_EQ(value("Голый", e.name), RegistryValue::dword(e.number));
        }
    }
    EXPECT_EQ(m_registry.values(full("Голый")).size(), std::size(expected));

    // A stored value is read as it is, not replaced by the default.
    ASSERT_TRUE(m_registry.setValue(full("Голый"), "RepeatMinute", RegistryValue::dword(45)));
    EXPECT_EQ(task.number(RepeatMinute), 45u);
    ASSERT_TRUE(m_registry.setValue(full("Голый"), "Arhive", RegistryValue::dword(7)));
    EXPECT_TRUE(task.flag(Arhive)) << "any non-zero value reads as true";
}

TEST_F(OperatorTest, PropertiesAreFoundByNameWithoutRegardToCase)
{
    ASSERT_NE(findTaskProperty("typefilter"), nullptr);
    EXPECT_EQ(findTaskProperty("typefilter")->id, Typefilter);
    EXPECT_EQ(findTaskProperty("PHONELAST")->id, Phonelast);
    EXPECT_EQ(findTaskProperty("Nope"), nullptr);
    EXPECT_EQ(findTaskProperty(""), nullptr);
    EXPECT_EQ(findTaskProperty("Archive"), nullptr) << "the value is spelled Arhive";
}

TEST_F(OperatorTest, TheFilterKindOfAnOldTaskFollowsItsRangesField)
{
    struct Case {
        const char* what;
        std::optional<const char*> rangesField;
        std::optional<std::uint32_t> storedKind;
        bool throughOpen;
        std::uint32_t kind;
    };
    const Case cases[] = {
        {"a ranges field, opened", "SUMMA", std::nullopt, true, 1},
        {"a ranges field, first read", "SUMMA", std::nullopt, false, 1},
        {"an empty ranges field", "", std::nullopt, true, 0},
        {"no ranges key", std::nullopt, std::nullopt, true, 0},
        {"no ranges key, first read", std::nullopt, std::nullopt, false, 0},
        {"a stored kind is kept", "SUMMA", 2u, true, 2},
        {"a stored none is kept", "SUMMA", 0u, false, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "Старое" + std::to_string(++n);
        ASSERT_TRUE(m_registry.createKey(full(name)));
        if (c.rangesField) {
            ASSERT_TRUE(m_registry.setValue(full(name, "Диапазоны"), "Field", RegistryValue::text(*c.rangesField)));
        }
        if (c.storedKind) {
            ASSERT_TRUE(m_registry.setValue(full(name), "Typefilter", RegistryValue::dword(*c.storedKind)));
        }
        Operator task(m_store, kBinding, name);
        if (c.throughOpen) {
            ASSERT_TRUE(task.open());
            EXPECT_EQ(value(name, "Typefilter"), RegistryValue::dword(c.kind));
            EXPECT_EQ(value(name, "FieldSort"), RegistryValue::text(""));
            EXPECT_EQ(value(name, "Ascend"), RegistryValue::dword(0));
            EXPECT_EQ(m_registry.subKeys(full(name)).size(), 5u) << "open makes the owned keys";
        }
        EXPECT_EQ(task.number(Typefilter), c.kind);
        EXPECT_EQ(value(name, "Typefilter"), RegistryValue::dword(c.kind));
    }
    EXPECT_FALSE(Operator(m_store, kBinding, "Нет такого").open());
    EXPECT_FALSE(m_registry.keyExists(full("Нет такого"))) << "open does not make a task";
}

TEST_F(OperatorTest, RefusedValuesAreNotWritten)
{
    struct Case {
        TaskProperty property;
        std::uint32_t value;
        bool refused;
    };
    const Case cases[] = {
        {Ascend, 0, false},     {Ascend, 1, false},         {Ascend, 2, true},        {Valid, 2, true},
        {Repeat, 1, false},     {Repeat, 2, true},          {Arhive, 1, false},       {Arhive, 5, true},
        {RepeatType, 1, false}, {RepeatType, 2, true},      {Behaviour, 0, true},     {Behaviour, 1, false},
        {Behaviour, 2, false},  {Behaviour, 3, true},       {Typefilter, 2, false},   {Typefilter, 3, true},
        {RepeatDay, 0, true},   {RepeatDay, 1, false},      {RepeatMinute, 0, true},  {RepeatMinute, 1440, false},
        {RepeatTimes, 0, true}, {RepeatTimes, 100, false},
    };
    Operator task = newTask("Долг");
    for (const Case& c : cases) {
        const std::string name(propertyInfo(c.property).name);
        SCOPED_TRACE(name + " = " + std::to_string(c.value));
        const auto reason = checkPropertyValue(c.property, c.value);
        EXPECT_EQ(reason.has_value(), c.refused);
        if (reason) {
            EXPECT_NE(reason->find(name), std::string::npos) << *reason;
        }
        if (!c.refused || c.property == Ascend || c.property == Valid)
            continue;
        const std::uint32_t before = task.number(c.property);
        EXPECT_FALSE(task.setNumber(c.property, c.value));
        EXPECT_EQ(task.number(c.property), before);
    }

    // Each property only through its own door.
    ASSERT_TRUE(task.setValid(true));
    EXPECT_FALSE(task.setNumber(Ascend, 1)) << "the direction goes with the sort";
    EXPECT_FALSE(task.setNumber(Valid, 0)) << "validity has its own command";
    EXPECT_FALSE(task.setText(FieldSort, "SUMMA"));
    EXPECT_FALSE(task.setText(FieldSortType, "N"));
    EXPECT_FALSE(task.setNumber(Phonelast, 5)) << "a text property";
    EXPECT_FALSE(task.setText(Behaviour, "2")) << "a number property";
    EXPECT_EQ(value("Долг", "FieldSort"), RegistryValue::text(""));
    EXPECT_EQ(value("Долг", "Ascend"), RegistryValue::dword(0));
    EXPECT_EQ(task.text(Phonelast), "");
    EXPECT_EQ(task.number(Behaviour), 1u);
    EXPECT_TRUE(task.valid());
}

// Each change is made to a task that was valid; prepare sets the scene first.
struct ValidityCase {
    const char* what;
    std::function<void(Operator&)> prepare;
    std::function<void(Operator&)> change;
    bool staysValid;
};

void noPreparation(Operator&) {}

TEST_F(OperatorTest, KeyChangesWithdrawTheTaskAndOthersDoNot)
{
    const auto sorted = [](Operator& t) { ASSERT_EQ(t.setSort("SUMMA", "N", true), Change::Changed); };
    const auto withRanges = [](Operator& t) {
        ASSERT_EQ(t.setRangeField("SUMMA", "N"), Change::Changed);
        ASSERT_EQ(t.addRange(1, 100), "0001");
        ASSERT_EQ(t.addRange(500, 600), "0002");
    };
    const auto withCondition = [](Operator& t) {
        ConditionSet set;
        set.products.push_back({"0001", {}, false});
        set.products[0].add({kConditionCompare, "SUMMA", 5, "100", ""});
        set.products[0].add({kConditionExpression, "", 2, "", "PROBA = 0"});
        ASSERT_TRUE(t.applyConditions(set));
    };
    const auto number = [](TaskProperty p, std::uint32_t v) {
        return [p, v](Operator& t) { EXPECT_TRUE(t.setNumber(p, v)); };
    };
    const auto text = [](TaskProperty p, const char* v) {
        return [p, v](Operator& t) { EXPECT_TRUE(t.setText(p, v)); };
    };
    const auto sort = [](const char* field, const char* type, bool ascending, Change expected) {
        return [=](Operator& t) { EXPECT_EQ(t.setSort(field, type, ascending), expected); };
    };

    const ValidityCase cases[] = {
        // Withdrawn.
        {"sort by another field", sorted, sort("PROBA", "N", true, Change::Changed), false},
        {"sort with another type", sorted, sort("SUMMA", "C", true, Change::Changed), false},
        {"sort the other way", sorted, sort("SUMMA", "N", false, Change::Changed), false},
        {"first sort", noPreparation, sort("SUMMA", "N", false, Change::Changed), false},
        {"Typefilter 0 to 1", noPreparation, number(Typefilter, 1), false},
        {"Typefilter 1 to 2", number(Typefilter, 1), number(Typefilter, 2), false},
        {"Repeat", noPreparation, number(Repeat, 1), false},
        {"RepeatType", noPreparation, number(RepeatType, 1), false},
        {"RepeatDay", noPreparation, number(RepeatDay, 7), false},
        {"RepeatMinute", noPreparation, number(RepeatMinute, 30), false},
        {"RepeatTimes", noPreparation, number(RepeatTimes, 3), false},
        {"RepeatField", noPreparation, text(RepeatField, "KOL"), false},
        {"RepeatField emptied", text(RepeatField, "KOL"), text(RepeatField, ""), false},
        {"a range added", withRanges, [](Operator& t) { EXPECT_EQ(t.addRange(7, 8), "0003"); }, false},
        {"a range's bounds", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeBounds("0002", 500, 601), Change::Changed); }, false},
        {"a range removed", withRanges, [](Operator& t) { EXPECT_TRUE(t.removeRange("0001")); }, false},
        {"the ranges' field", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeField("PROBA", "N"), Change::Changed); }, false},
        {"the ranges' field type", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeField("SUMMA", "C"), Change::Changed); }, false},
        {"a condition changed", withCondition,
         [](Operator& t) {
             ConditionSet set = t.conditions();
             set.products[0].replace(0, {kConditionCompare, "SUMMA", 5, "200", ""});
             EXPECT_TRUE(t.applyConditions(set));
         },
         false},
        {"a condition deleted", withCondition,
         [](Operator& t) {
             ConditionSet set = t.conditions();
             set.products[0].markDeleted(1);
             EXPECT_TRUE(t.applyConditions(set));
         },
         false},
        {"a product added", withCondition,
         [](Operator& t) {
             ConditionSet set = t.conditions();
             set.products[set.addProduct()].add({kConditionExpression, "", 2, "", "OTBOJ > 0"});
             EXPECT_TRUE(t.applyConditions(set));
         },
         false},
        // Kept.
        {"the same sort", sorted, sort("SUMMA", "N", true, Change::Unchanged), true},
        {"the stored empty sort", noPreparation, sort("", "", false, Change::Unchanged), true},
        {"Typefilter as stored", noPreparation, number(Typefilter, 0), true},
        {"Typefilter 2 as stored", number(Typefilter, 2), number(Typefilter, 2), true},
        {"Repeat as stored", noPreparation, number(Repeat, 0), true},
        {"RepeatType as stored", noPreparation, number(RepeatType, 0), true},
        {"RepeatDay as its default", noPreparation, number(RepeatDay, 1), true},
        {"RepeatMinute as its default", noPreparation, number(RepeatMinute, 15), true},
        {"RepeatTimes as its default", noPreparation, number(RepeatTimes, 2), true},
        {"RepeatTimes as stored", number(RepeatTimes, 5), number(RepeatTimes, 5), true},
        {"RepeatField as stored", text(RepeatField, "KOL"), text(RepeatField, "KOL"), true},
        {"Phonelast", noPreparation, text(Phonelast, "2345678"), true},
        {"Behaviour", noPreparation, number(Behaviour, 2), true},
        {"Arhive", noPreparation, number(Arhive, 1), true},
        {"ArhiveFile", noPreparation, text(ArhiveFile, "/data/arhiv.dbf"), true},
        {"RetryMinute", noPreparation, number(RetryMinute, 30), true},
        {"MaxAttempts", noPreparation, number(MaxAttempts, 3), true},
        {"a refused value", noPreparation, [](Operator& t) { EXPECT_FALSE(t.setNumber(RepeatDay, 0)); }, true},
        {"a schedule added", noPreparation,
         [](Operator& t) { EXPECT_TRUE(t.schedules().add(dailyBlock({28800, 72000}), 0, false)); }, true},
        {"a schedule changed and removed",
         [](Operator& t) { ASSERT_TRUE(t.schedules().add(dailyBlock({28800, 72000}), 0, false)); },
         [](Operator& t) {
             EXPECT_TRUE(t.schedules().set("0001", dailyBlock({0, 86400}), 0x80000001u, true));
             EXPECT_TRUE(t.schedules().remove("0001"));
         },
         true},
        {"ports linked", noPreparation, [](Operator& t) { EXPECT_TRUE(t.availablePorts().set({"COM1", "COM2"})); },
         true},
        {"the same bounds", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeBounds("0002", 500, 600), Change::Unchanged); }, true},
        {"the same bounds given the wrong way round", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeBounds("0002", 600, 500), Change::Unchanged); }, true},
        {"bounds of a range that is not there", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeBounds("0007", 1, 2), Change::NotFound); }, true},
        {"removing a range that is not there", withRanges, [](Operator& t) { EXPECT_FALSE(t.removeRange("0007")); },
         true},
        {"the same ranges' field", withRanges,
         [](Operator& t) { EXPECT_EQ(t.setRangeField("SUMMA", "N"), Change::Unchanged); }, true},
        {"the same condition", withCondition, [](Operator& t) { EXPECT_TRUE(t.applyConditions(t.conditions())); },
         true},
        {"an empty product added", withCondition,
         [](Operator& t) {
             ConditionSet set = t.conditions();
             set.addProduct();
             EXPECT_TRUE(t.applyConditions(set));
         },
         true},
        {"a condition that cannot be written", withCondition,
         [](Operator& t) {
             ConditionSet set = t.conditions();
             set.products[0].replace(0, {kConditionCompare, "SUMMA", 5, "200", ""});
             set.products.push_back({"bad\\name", {}, false});
             EXPECT_FALSE(t.applyConditions(set));
         },
         true},
    };
    int n = 0;
    for (const ValidityCase& c : cases) {
        SCOPED_TRACE(c.what);
        Operator task = newTask("Задание " + std::to_string(++n));
        EXPECT_FALSE(task.valid()) << "a new task is withdrawn";
        c.prepare(task);
        ASSERT_TRUE(task.setValid(true));
        ASSERT_TRUE(task.valid());
        c.change(task);
        EXPECT_EQ(task.valid(), c.staysValid);
    }
}

TEST_F(OperatorTest, ANewSortRestartsTheListFromItsStart)
{
    struct Case {
        const char* type;
        bool ascending;
        const char* start;
    };
    const Case cases[] = {
        {"N", true, "0"}, {"N", false, "999999999999"}, {"C", true, ""}, {"C", false, "я"},
        {"D", true, ""},  {"D", false, ""},             {"L", false, ""}, {"", true, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + (c.ascending ? " ascending" : " descending"));
        EXPECT_EQ(phonelastStart(c.type, c.ascending), c.start);
        const std::string name = "Сортировка " + std::to_string(++n);
        Operator task = newTask(name);
        ASSERT_TRUE(task.setText(Phonelast, "12345"));
        ASSERT_TRUE(task.setValid(true));
        EXPECT_EQ(task.setSort("POLE", c.type, c.ascending), Change::Changed);
        EXPECT_EQ(value(name, "Phonelast"), RegistryValue::text(c.start));
        EXPECT_EQ(value(name, "FieldSort"), RegistryValue::text("POLE"));
        EXPECT_EQ(value(name, "FieldSortType"), RegistryValue::text(c.type));
        EXPECT_EQ(value(name, "Ascend"), RegistryValue::dword(c.ascending ? 1 : 0));
        EXPECT_FALSE(task.valid());

        // The same sort again keeps the restart point the rows have moved it to.
        ASSERT_TRUE(task.setText(Phonelast, "777"));
        ASSERT_TRUE(task.setValid(true));
        EXPECT_EQ(task.setSort("POLE", c.type, c.ascending), Change::Unchanged);
        EXPECT_EQ(task.text(Phonelast), "777");
        EXPECT_TRUE(task.valid());
    }
}

TEST_F(OperatorTest, RangesAreNumberedAfterTheLargestAndStoredInOrder)
{
    Operator task = newTask("Долг");
    ASSERT_TRUE(m_registry.createKey(full("Долг", "Диапазоны\\0001")));
    ASSERT_TRUE(m_registry.createKey(full("Долг", "Диапазоны\\0003")));
    EXPECT_EQ(task.addRange(10, 20), "0004");
    EXPECT_EQ(task.addRange(100, 1), "0005") << "bounds the wrong way round";
    EXPECT_EQ(value("Долг", "minValue", "Диапазоны\\0005"), RegistryValue::dword(1));
    EXPECT_EQ(value("Долг", "maxValue", "Диапазоны\\0005"), RegistryValue::dword(100));

    const std::vector<Range> ranges = task.ranges();
    ASSERT_EQ(ranges.size(), 4u);
    EXPECT_EQ(ranges[0].name, "0001");
    EXPECT_EQ(ranges[0].minValue, 0u) << "a bare range reads as 0..0";
    EXPECT_EQ(ranges[0].maxValue, 0u);
    EXPECT_EQ(value("Долг", "maxValue", "Диапазоны\\0001"), RegistryValue::dword(0));
    EXPECT_EQ(ranges[2].name, "0004");
    EXPECT_EQ(ranges[2].minValue, 10u);
    EXPECT_EQ(ranges[2].maxValue, 20u);

    EXPECT_EQ(task.setRangeBounds("0004", 10, 20), Change::Unchanged);
    EXPECT_EQ(task.setRangeBounds("0004", 30, 25), Change::Changed);
    EXPECT_EQ(value("Долг", "minValue", "Диапазоны\\0004"), RegistryValue::dword(25));
    EXPECT_EQ(value("Долг", "maxValue", "Диапазоны\\0004"), RegistryValue::dword(30));
    for (const char* name : {"0002", "", "0004\\x", "0009"}) {
        EXPECT_EQ(task.setRangeBounds(name, 1, 2), Change::NotFound) << name;
        EXPECT_FALSE(task.removeRange(name)) << name;
    }
    EXPECT_FALSE(m_registry.keyExists(full("Долг", "Диапазоны\\0002")));
    EXPECT_FALSE(m_registry.keyExists(full("Долг", "Диапазоны\\0009")));

    EXPECT_TRUE(task.removeRange("0005"));
    EXPECT_FALSE(m_registry.keyExists(full("Долг", "Диапазоны\\0005")));
    EXPECT_EQ(task.addRange(1, 2), "0005") << "the next follows the largest remaining";
    EXPECT_TRUE(task.removeRange("0001"));
    EXPECT_EQ(task.addRange(1, 2), "0006");
    Names names;
    for (const Range& r : task.ranges())
        names.push_back(r.name);
    EXPECT_EQ(names, (Names{"0003", "0004", "0005", "0006"}));
    EXPECT_EQ(m_registry.subKeys(full("Долг", "Диапазоны")), names);

    EXPECT_EQ(task.setRangeField("SUMMA", "N"), Change::Changed);
    EXPECT_EQ(task.rangeField(), "SUMMA");
    EXPECT_EQ(task.rangeType(), "N");
    EXPECT_EQ(value("Долг", "Field", "Диапазоны"), RegistryValue::text("SUMMA"));
    EXPECT_EQ(value("Долг", "Type", "Диапазоны"), RegistryValue::text("N"));
}

TEST_F(OperatorTest, RangeFilterTextCoversTheBoundsInOrder)
{
    struct Case {
        const char* what;
        const char* field;
        const char* type;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> bounds;
        const char* plain;
        const char* quoted;
    };
    const Case cases[] = {
        {"two ranges", "SUMMA", "N", {{1, 100}, {500, 600}},
         "SUMMA>=1 AND SUMMA<=100 OR SUMMA>=500 AND SUMMA<=600",
         "\"SUMMA\">=1 AND \"SUMMA\"<=100 OR \"SUMMA\">=500 AND \"SUMMA\"<=600"},
        {"one point", "PROBA", "N", {{7, 7}}, "PROBA>=7 AND PROBA<=7", "\"PROBA\">=7 AND \"PROBA\"<=7"},
        {"the whole unsigned span", "SUMMA", "N", {{4294967295u, 0}},
         "SUMMA>=0 AND SUMMA<=4294967295", "\"SUMMA\">=0 AND \"SUMMA\"<=4294967295"},
        {"no ranges", "SUMMA", "N", {}, "", ""},
        {"a character field", "FIO", "C", {{1, 2}}, "", ""},
        {"a date field", "DATA", "D", {{1, 2}}, "", ""},
        {"no field", "", "N", {{1, 2}}, "", ""},
        {"no type", "SUMMA", "", {{1, 2}}, "", ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Operator task = newTask("Диапазоны " + std::to_string(++n));
        ASSERT_TRUE(task.setNumber(Typefilter, kFilterRanges));
        task.setRangeField(c.field, c.type);
        for (const auto& [from, to] : c.bounds)
            ASSERT_TRUE(task.addRange(from, to));
        EXPECT_EQ(task.filterText(false), c.plain);
        EXPECT_EQ(task.filterText(true), c.quoted);
        EXPECT_EQ(Ranges(m_store, task.key()).filterText(false), c.plain);
    }
}

TEST_F(OperatorTest, TheFilterTextFollowsTheFilterKind)
{
    Operator task = newTask("Долг");
    ASSERT_EQ(task.setRangeField("SUMMA", "N"), Change::Changed);
    ASSERT_TRUE(task.addRange(1, 100));
    ConditionSet set;
    set.addProduct();
    set.products[0].add({kConditionCompare, "FIO", 1, "'И%'", ""});
    set.addProduct();
    set.products[1].add({kConditionExpression, "", 2, "", "PROBA = 0"});
    ASSERT_TRUE(task.applyConditions(set));

    struct Case {
        std::uint32_t kind;
        const char* plain;
        const char* quoted;
    };
    const Case cases[] = {
        {kFilterNone, "", ""},
        {kFilterRanges, "SUMMA>=1 AND SUMMA<=100", "\"SUMMA\">=1 AND \"SUMMA\"<=100"},
        {kFilterCondition, "FIO NotLike 'И%' OR PROBA = 0", "\"FIO\" NotLike 'И%' OR PROBA = 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        ASSERT_TRUE(task.setNumber(Typefilter, c.kind));
        EXPECT_EQ(task.filterText(false), c.plain);
        EXPECT_EQ(task.filterText(true), c.quoted);
        EXPECT_EQ(task.definition().filterText, c.plain);
    }
    // A kind written by something else than the editor filters nothing.
    ASSERT_TRUE(m_registry.setValue(full("Долг"), "Typefilter", RegistryValue::dword(7)));
    EXPECT_EQ(task.filterText(false), "");
}

TEST_F(OperatorTest, PortsAreAMultiStringWrittenEmptyOnFirstRead)
{
    Operator task = newTask("Долг");
    EXPECT_TRUE(task.availablePorts().list().empty());
    EXPECT_EQ(value("Долг", "main", "Доступные Порты"), RegistryValue::multiText({}));
    ASSERT_TRUE(task.availablePorts().set({"COM1", "SIM2"}));
    EXPECT_EQ(task.availablePorts().list(), (Names{"COM1", "SIM2"}));
    EXPECT_TRUE(task.availablePorts().contains("sim2"));
    EXPECT_FALSE(task.availablePorts().contains("COM2"));
}

TEST_F(OperatorTest, RangesAddedAtOnceFromTwoStoresGetDistinctNumbers)
{
    Operator task = newTask("Долг");
    ASSERT_EQ(task.setRangeField("SUMMA", "N"), Change::Changed);
    constexpr int kEach = 15;
    // A second connection to the same file stands in for another process.
    RegistryStore otherRegistry(m_dir / "registry.db");
    ConfigStore otherStore(otherRegistry);
    std::vector<std::string> names[2];
    std::vector<std::thread> threads;
    ConfigStore* stores[2] = {&m_store, &otherStore};
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

}  // namespace
}  // namespace peltra::config
