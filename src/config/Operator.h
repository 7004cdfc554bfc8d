// A notification task ("задание"): its values under Tasks\<binding>\Операторы\<task>, the
// owned ranges, schedules, condition and ports, and the validity flag that admits it to
// scheduling.
#pragma once

#include "config/Conditions.h"
#include "config/ConfigStore.h"
#include "config/Ranges.h"
#include "config/Schedules.h"
#include "config/SchedulingFlags.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::config {

inline constexpr char kTasksKeyName[] = "Tasks";
inline constexpr char kOperatorsKeyName[] = "Операторы";
inline constexpr char kPatternsKeyName[] = "Шаблоны";
// The value of a binding that names the code page of its table when the table carries no mark of
// its own: "866" or "1251"; empty (or missing) judges it from the table's text.
inline constexpr char kCodePageValueName[] = "CodePage";

enum class TaskProperty {
    FieldSort,
    FieldSortType,
    Ascend,
    Valid,
    Phonelast,
    Behaviour,
    Typefilter,
    Repeat,
    RepeatType,
    RepeatDay,
    RepeatMinute,
    RepeatTimes,
    RepeatField,
    Arhive,
    ArhiveFile,
    RetryMinute,
    MaxAttempts,
};

// Where a property can be changed from.
enum class PropertyAccess {
    Sort,      // only with the sort: field, type and direction together
    Validity,  // only by including or excluding the task
    Plain,     // written as given
    Revoking,  // a different value withdraws the task from scheduling; an equal one writes nothing
};

struct PropertyInfo {
    TaskProperty id;
    std::string_view name;  // the value name in the store
    bool isText;
    std::uint32_t defaultNumber;
    std::string_view defaultText;
    PropertyAccess access;
};

// Every property in the order the store lists them.
std::span<const PropertyInfo> taskProperties();
const PropertyInfo& propertyInfo(TaskProperty property);
// By value name, without regard to case.
const PropertyInfo* findTaskProperty(std::string_view name);
// Why a value cannot be stored in a property ("Behaviour" takes 1 or 2, and so on); nothing
// when it can.
std::optional<std::string> checkPropertyValue(TaskProperty property, std::uint32_t value);

// Filter kinds (Typefilter).
inline constexpr std::uint32_t kFilterNone = 0;
inline constexpr std::uint32_t kFilterRanges = 1;
inline constexpr std::uint32_t kFilterCondition = 2;

// Behaviour on restart.
inline constexpr std::uint32_t kContinueFromLast = 1;
inline constexpr std::uint32_t kStartFromBeginning = 2;

// A copy of everything the scheduler and the data source take from a definition.
struct TaskDefinition {
    std::string binding;
    std::string task;
    std::string file;      // the binding's table
    std::string codePage;  // the binding's code page of the table when unmarked; "" to judge it
    std::string fieldSort;
    std::string fieldSortType;
    bool ascend = false;
    bool valid = false;
    std::string phonelast;
    std::uint32_t behaviour = kContinueFromLast;
    std::uint32_t typefilter = kFilterNone;
    std::string filterText;  // field names as they stand
    bool repeat = false;
    std::uint32_t repeatType = 0;
    std::uint32_t repeatDay = 1;
    std::uint32_t repeatMinute = 15;
    std::uint32_t repeatTimes = 2;
    std::string repeatField;
    bool arhive = false;
    std::string arhiveFile;
    // Minutes a row waits after a failed attempt before it is dialled again; 0: no wait.
    std::uint32_t retryMinute = 0;
    // Attempts (PROBA) after which a row is dialled no more; 0: no limit.
    std::uint32_t maxAttempts = 0;
};

// The restart point of a new order: the value a first row is compared against.
std::string phonelastStart(const std::string& fieldType, bool ascending);

// A task of a binding, addressed by names. Nothing is cached: every getter reads the store (a
// missing value is written with its default), every setter writes at once, and every compound
// change (compare, write, withdraw) is one store transaction, so it is safe from any thread and
// against other processes. Once the task's key is gone, getters give defaults and setters fail
// without bringing the key back.
class Operator {
public:
    Operator(ConfigStore& store, std::string binding, std::string name);

    const std::string& binding() const { return m_binding; }
    const std::string& name() const { return m_name; }
    // The task key relative to the configuration root.
    const std::string& key() const { return m_key; }

    bool exists();
    // Creates the task with its sub-keys, withdrawn from scheduling. false when the name is
    // taken, the binding does not exist, a name is no key name, or the store fails.
    bool create();
    // Fills in the values a task key must hold (Typefilter inferred from the ranges' field).
    bool open();

    std::uint32_t number(TaskProperty property);
    std::string text(TaskProperty property);
    bool flag(TaskProperty property) { return number(property) != 0; }
    // Writes a number or text property by its access rule; false when the task is gone, the
    // property is of the other kind, or the value is refused by checkPropertyValue. Sort
    // properties go through setSort, Valid through setValid.
    bool setNumber(TaskProperty property, std::uint32_t value);
    bool setText(TaskProperty property, const std::string& value);

    bool valid() { return flag(TaskProperty::Valid); }
    bool setValid(bool on);
    void revokeValidity() { setValid(false); }

    // Writes field, type and direction; when any differs from the stored one the task is
    // withdrawn and Phonelast goes back to the start of the new order. Unchanged writes nothing.
    Change setSort(const std::string& field, const std::string& fieldType, bool ascending);

    // The ranges; every change withdraws the task.
    std::string rangeField();
    std::string rangeType();
    std::vector<Range> ranges();
    std::optional<std::string> addRange(std::uint32_t minValue, std::uint32_t maxValue);
    Change setRangeBounds(const std::string& name, std::uint32_t minValue, std::uint32_t maxValue);
    bool removeRange(const std::string& name);
    Change setRangeField(const std::string& field, const std::string& fieldType);

    // The condition as stored, a copy to edit, and its write-back: the task is withdrawn when the
    // condition's text changed.
    ConditionSet conditions();
    bool applyConditions(const ConditionSet& working);

    // The WHERE fragment of the task's filter kind: the ranges, the condition, or nothing.
    std::string filterText(bool quote);

    Schedules& schedules() { return m_schedules; }
    AvailablePorts& availablePorts() { return m_ports; }

    // Whether calling is allowed at that moment: not while scheduling is suspended, and only
    // inside a window of one of the task's schedules.
    bool allowedAt(const SchedulingFlags& flags, const LocalTime& at);

    TaskDefinition definition();

private:
    // Runs work inside one store transaction when the task exists; false otherwise.
    template <typename Work>
    bool ifExists(Work&& work, bool write);
    std::uint32_t readNumber(const PropertyInfo& info);
    std::string readText(const PropertyInfo& info);
    std::string filterTextOf(std::uint32_t typefilter, bool quote);

    ConfigStore& m_store;
    std::string m_binding;
    std::string m_name;
    std::string m_key;
    Ranges m_ranges;
    Schedules m_schedules;
    OrConds m_conditions;
    AvailablePorts m_ports;
};

// Key paths of the tree of bindings and tasks, relative to the configuration root.
std::string bindingKey(const std::string& binding);
std::string taskKey(const std::string& binding, const std::string& task);

}  // namespace peltra::config
