// A task definition: its values, their defaults, and the rules that withdraw it from scheduling.
#include "config/Operator.h"

#include "platform/text/CaseFold.h"

#include <array>

namespace peltra::config {

namespace {

using enum TaskProperty;
using enum PropertyAccess;

constexpr std::array<PropertyInfo, 17> kProperties = {{
    {FieldSort, "FieldSort", true, 0, "", Sort},
    {FieldSortType, "FieldSortType", true, 0, "", Sort},
    {Ascend, "Ascend", false, 0, "", Sort},
    {Valid, "Valid", false, 0, "", Validity},
    {Phonelast, "Phonelast", true, 0, "", Plain},
    {Behaviour, "Behaviour", false, kContinueFromLast, "", Plain},
    {Typefilter, "Typefilter", false, kFilterNone, "", Revoking},
    {Repeat, "Repeat", false, 0, "", Revoking},
    {RepeatType, "RepeatType", false, 0, "", Revoking},
    {RepeatDay, "RepeatDay", false, 1, "", Revoking},
    {RepeatMinute, "RepeatMinute", false, 15, "", Revoking},
    {RepeatTimes, "RepeatTimes", false, 2, "", Revoking},
    {RepeatField, "RepeatField", true, 0, "", Revoking},
    {Arhive, "Arhive", false, 0, "", Plain},
    {ArhiveFile, "ArhiveFile", true, 0, "", Plain},
    // The pace of redialing: the running task takes a change without selecting its rows again.
    {RetryMinute, "RetryMinute", false, 0, "", Plain},
    {MaxAttempts, "MaxAttempts", false, 0, "", Plain},
}};

// The sub-keys created with a task.
constexpr std::array<const char*, 5> kOwnedKeys = {kRangesKeyName, kSchedulesKeyName, kPatternsKeyName,
                                                   kFilterKeyName, kAvailablePortsKeyName};

}  // namespace

std::span<const PropertyInfo> taskProperties() { return kProperties; }

const PropertyInfo& propertyInfo(TaskProperty property) { return kProperties[static_cast<std::size_t>(property)]; }

const PropertyInfo* findTaskProperty(std::string_view name)
{
    for (const PropertyInfo& info : kProperties)
        if (platform::equalsIgnoreCase(info.name, name))
            return &info;
    return nullptr;
}

std::optional<std::string> checkPropertyValue(TaskProperty property, std::uint32_t value)
{
    const std::string name(propertyInfo(property).name);
    switch (property) {
    case Ascend:
    case Valid:
    case Repeat:
    case Arhive:
    case RepeatType:
        if (value > 1)
            return name + " takes 0 or 1";
        return std::nullopt;
    case Behaviour:
        if (value != kContinueFromLast && value != kStartFromBeginning)
            return name + " takes 1 (continue from the last row) or 2 (start from the beginning)";
        return std::nullopt;
    case Typefilter:
        if (value > kFilterCondition)
            return name + " takes 0 (no filter), 1 (ranges) or 2 (condition)";
        return std::nullopt;
    case RepeatDay:
    case RepeatMinute:
    case RepeatTimes:
        if (value == 0)
            return name + " must be at least 1";
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::string phonelastStart(const std::string& fieldType, bool ascending)
{
    if (fieldType == "N")
        return ascending ? "0" : "999999999999";
    if (fieldType == "C")
        return ascending ? "" : "я";
    return "";
}

std::string bindingKey(const std::string& binding) { return std::string(kTasksKeyName) + "\\" + binding; }

std::string taskKey(const std::string& binding, const std::string& task)
{
    return bindingKey(binding) + "\\" + kOperatorsKeyName + "\\" + task;
}

Operator::Operator(ConfigStore& store, std::string binding, std::string name)
    : m_store(store),
      m_binding(std::move(binding)),
      m_name(std::move(name)),
      m_key(taskKey(m_binding, m_name)),
      m_ranges(store, m_key),
      m_schedules(store, m_key),
      m_conditions(store, m_key),
      m_ports(store, m_key)
{
}

template <typename Work>
bool Operator::ifExists(Work&& work, bool write)
{
    // A name that would split into several keys never names this task.
    if (!isKeyName(m_binding) || !isKeyName(m_name))
        return false;
    const auto guarded = [&] { return m_store.registry().keyExists(ConfigStore::fullPath(m_key)) && work(); };
    return write ? m_store.registry().transaction(guarded) : m_store.registry().snapshot(guarded);
}

bool Operator::exists()
{
    return ifExists([] { return true; }, false);
}

bool Operator::create()
{
    if (!isKeyName(m_binding) || !isKeyName(m_name))
        return false;
    return m_store.registry().transaction([&] {
        // A task is made only in a binding that exists: never a bare binding without its table.
        const std::string full = ConfigStore::fullPath(m_key);
        if (!m_store.registry().keyExists(ConfigStore::fullPath(bindingKey(m_binding))) ||
            m_store.registry().keyExists(full) || !m_store.registry().createKey(full))
            return false;
        for (const char* owned : kOwnedKeys)
            if (!m_store.registry().createKey(full + "\\" + owned))
                return false;
        readText(propertyInfo(FieldSort));
        readNumber(propertyInfo(Ascend));
        readNumber(propertyInfo(Typefilter));
        return m_store.writeBool(m_key, "Valid", false);
    });
}

bool Operator::open()
{
    return ifExists(
        [&] {
            for (const char* owned : kOwnedKeys)
                if (!m_store.registry().createKey(ConfigStore::fullPath(m_key + "\\" + owned)))
                    return false;
            readText(propertyInfo(FieldSort));
            readNumber(propertyInfo(Ascend));
            readNumber(propertyInfo(Typefilter));
            return true;
        },
        true);
}

std::uint32_t Operator::readNumber(const PropertyInfo& info)
{
    std::uint32_t defaultValue = info.defaultNumber;
    // A task written before filter kinds existed filtered by its ranges whenever it had a field.
    if (info.id == Typefilter && !m_store.registry().getValue(ConfigStore::fullPath(m_key), std::string(info.name)))
        defaultValue = m_ranges.field().empty() ? kFilterNone : kFilterRanges;
    return m_store.readNumber(m_key, std::string(info.name), defaultValue);
}

std::string Operator::readText(const PropertyInfo& info)
{
    return m_store.readText(m_key, std::string(info.name), std::string(info.defaultText));
}

std::uint32_t Operator::number(TaskProperty property)
{
    const PropertyInfo& info = propertyInfo(property);
    std::uint32_t value = info.defaultNumber;
    if (!info.isText)
        ifExists([&] { value = readNumber(info); return true; }, false);
    return value;
}

std::string Operator::text(TaskProperty property)
{
    const PropertyInfo& info = propertyInfo(property);
    std::string value(info.defaultText);
    if (info.isText)
        ifExists([&] { value = readText(info); return true; }, false);
    return value;
}

bool Operator::setNumber(TaskProperty property, std::uint32_t value)
{
    const PropertyInfo& info = propertyInfo(property);
    if (info.isText || info.access == Sort || info.access == Validity || checkPropertyValue(property, value))
        return false;
    return ifExists(
        [&] {
            if (info.access == Revoking) {
                if (readNumber(info) == value)
                    return true;
                if (!m_store.writeBool(m_key, "Valid", false))
                    return false;
            }
            return m_store.writeNumber(m_key, std::string(info.name), value);
        },
        true);
}

bool Operator::setText(TaskProperty property, const std::string& value)
{
    const PropertyInfo& info = propertyInfo(property);
    if (!info.isText || info.access == Sort || info.access == Validity)
        return false;
    return ifExists(
        [&] {
            if (info.access == Revoking) {
                if (readText(info) == value)
                    return true;
                if (!m_store.writeBool(m_key, "Valid", false))
                    return false;
            }
            return m_store.writeText(m_key, std::string(info.name), value);
        },
        true);
}

bool Operator::setValid(bool on)
{
    return ifExists([&] { return m_store.writeBool(m_key, "Valid", on); }, true);
}

Change Operator::setSort(const std::string& field, const std::string& fieldType, bool ascending)
{
    Change change = Change::Unchanged;
    const bool ok = ifExists(
        [&] {
            const bool same = readText(propertyInfo(FieldSort)) == field &&
                              readText(propertyInfo(FieldSortType)) == fieldType &&
                              (readNumber(propertyInfo(Ascend)) != 0) == ascending;
            if (same)
                return true;
            change = Change::Changed;
            return m_store.writeText(m_key, "FieldSort", field) && m_store.writeText(m_key, "FieldSortType", fieldType) &&
                   m_store.writeBool(m_key, "Ascend", ascending) && m_store.writeBool(m_key, "Valid", false) &&
                   m_store.writeText(m_key, "Phonelast", phonelastStart(fieldType, ascending));
        },
        true);
    return ok ? change : Change::NotFound;
}

std::string Operator::rangeField()
{
    std::string field;
    ifExists([&] { field = m_ranges.field(); return true; }, false);
    return field;
}

std::string Operator::rangeType()
{
    std::string type;
    ifExists([&] { type = m_ranges.type(); return true; }, false);
    return type;
}

std::vector<Range> Operator::ranges()
{
    std::vector<Range> list;
    ifExists([&] { list = m_ranges.list(); return true; }, false);
    return list;
}

std::optional<std::string> Operator::addRange(std::uint32_t minValue, std::uint32_t maxValue)
{
    std::optional<std::string> name;
    const bool ok = ifExists(
        [&] {
            name = m_ranges.add(minValue, maxValue);
            return name && m_store.writeBool(m_key, "Valid", false);
        },
        true);
    return ok ? name : std::nullopt;
}

Change Operator::setRangeBounds(const std::string& name, std::uint32_t minValue, std::uint32_t maxValue)
{
    Change change = Change::NotFound;
    const bool ok = ifExists(
        [&] {
            change = m_ranges.setBounds(name, minValue, maxValue);
            return change != Change::NotFound && (change != Change::Changed || m_store.writeBool(m_key, "Valid", false));
        },
        true);
    return ok ? change : Change::NotFound;
}

bool Operator::removeRange(const std::string& name)
{
    // A removed range widens the selection: the task must be tested again.
    return ifExists([&] { return m_ranges.remove(name) && m_store.writeBool(m_key, "Valid", false); }, true);
}

Change Operator::setRangeField(const std::string& field, const std::string& fieldType)
{
    Change change = Change::NotFound;
    const bool ok = ifExists(
        [&] {
            change = m_ranges.setField(field, fieldType);
            return change != Change::NotFound && (change != Change::Changed || m_store.writeBool(m_key, "Valid", false));
        },
        true);
    return ok ? change : Change::NotFound;
}

ConditionSet Operator::conditions()
{
    ConditionSet set;
    ifExists([&] { set = m_conditions.load(); return true; }, false);
    return set;
}

bool Operator::applyConditions(const ConditionSet& working)
{
    return ifExists(
        [&] {
            const std::string before = m_conditions.text(false);
            if (!m_conditions.commit(working))
                return false;
            return m_conditions.text(false) == before || m_store.writeBool(m_key, "Valid", false);
        },
        true);
}

std::string Operator::filterTextOf(std::uint32_t typefilter, bool quote)
{
    switch (typefilter) {
    case kFilterRanges:
        return m_ranges.filterText(quote);
    case kFilterCondition:
        return m_conditions.text(quote);
    default:
        return "";
    }
}

std::string Operator::filterText(bool quote)
{
    std::string text;
    ifExists([&] { text = filterTextOf(readNumber(propertyInfo(Typefilter)), quote); return true; }, false);
    return text;
}

bool Operator::allowedAt(const SchedulingFlags& flags, const LocalTime& at)
{
    if (flags.paused() || flags.waitingForCompletion())
        return false;
    return anyScheduleAllows(m_schedules.all(), at);
}

TaskDefinition Operator::definition()
{
    TaskDefinition d;
    d.binding = m_binding;
    d.task = m_name;
    ifExists(
        [&] {
            // One read of the task key's values serves every property that is there.
            KeyValues values(m_store, m_key);
            const auto number = [&](TaskProperty property) {
                const PropertyInfo& info = propertyInfo(property);
                const std::string name(info.name);
                return values.find(name) ? values.number(name, 0) : readNumber(info);
            };
            const auto text = [&](TaskProperty property) {
                const PropertyInfo& info = propertyInfo(property);
                return values.text(std::string(info.name), std::string(info.defaultText));
            };
            d.file = m_store.readText(bindingKey(m_binding), "File", "");
            const KeyValues binding(m_store, bindingKey(m_binding));
            const platform::RegistryValue* codePage = binding.find(kCodePageValueName);
            d.codePage = codePage ? codePage->asText() : std::string();
            d.fieldSort = text(FieldSort);
            d.fieldSortType = text(FieldSortType);
            d.ascend = number(Ascend) != 0;
            d.valid = number(Valid) != 0;
            d.phonelast = text(Phonelast);
            d.behaviour = number(Behaviour);
            d.typefilter = number(Typefilter);
            d.repeat = number(Repeat) != 0;
            d.repeatType = number(RepeatType);
            d.repeatDay = number(RepeatDay);
            d.repeatMinute = number(RepeatMinute);
            d.repeatTimes = number(RepeatTimes);
            d.repeatField = text(RepeatField);
            d.arhive = number(Arhive) != 0;
            d.arhiveFile = text(ArhiveFile);
            d.retryMinute = number(RetryMinute);
            d.maxAttempts = number(MaxAttempts);
            d.filterText = filterTextOf(d.typefilter, false);
            return true;
        },
        false);
    return d;
}

}  // namespace peltra::config
