// Ranges and available ports of a task.
#include "config/Ranges.h"

#include "platform/text/CaseFold.h"

#include <utility>

namespace peltra::config {

using platform::RegistryValue;

Ranges::Ranges(ConfigStore& store, std::string taskKey)
    : m_store(store), m_key(std::move(taskKey) + "\\" + kRangesKeyName)
{
}

std::string Ranges::rangeKey(const std::string& name) const { return m_key + "\\" + name; }

std::string Ranges::field() { return m_store.readText(m_key, "Field", ""); }

std::string Ranges::type() { return m_store.readText(m_key, "Type", ""); }

Change Ranges::setField(const std::string& field, const std::string& type)
{
    Change change = Change::Unchanged;
    const bool ok = m_store.registry().transaction([&] {
        if (this->field() == field && this->type() == type)
            return true;
        change = Change::Changed;
        return m_store.writeText(m_key, "Field", field) && m_store.writeText(m_key, "Type", type);
    });
    return ok ? change : Change::NotFound;
}

Range Ranges::read(const std::string& name)
{
    KeyValues values(m_store, rangeKey(name));
    return {name, values.number("minValue", 0), values.number("maxValue", 0)};
}

std::vector<Range> Ranges::list()
{
    std::vector<Range> ranges;
    m_store.registry().snapshot([&] {
        for (const std::string& name : m_store.subKeys(m_key))
            ranges.push_back(read(name));
        return true;
    });
    return ranges;
}

std::optional<std::string> Ranges::add(std::uint32_t minValue, std::uint32_t maxValue)
{
    if (minValue > maxValue)
        std::swap(minValue, maxValue);
    std::optional<std::string> name;
    const bool ok = m_store.registry().transaction([&] {
        name = m_store.createNumberedSubKey(m_key);
        return name && m_store.writeNumber(rangeKey(*name), "minValue", minValue) &&
               m_store.writeNumber(rangeKey(*name), "maxValue", maxValue);
    });
    return ok ? name : std::nullopt;
}

Change Ranges::setBounds(const std::string& name, std::uint32_t minValue, std::uint32_t maxValue)
{
    if (!isKeyName(name))
        return Change::NotFound;
    if (minValue > maxValue)
        std::swap(minValue, maxValue);
    Change change = Change::NotFound;
    const bool ok = m_store.registry().transaction([&] {
        if (!m_store.registry().keyExists(ConfigStore::fullPath(rangeKey(name))))
            return false;
        const Range stored = read(name);
        change = Change::Unchanged;
        if (stored.minValue == minValue && stored.maxValue == maxValue)
            return true;
        change = Change::Changed;
        return m_store.writeNumber(rangeKey(name), "minValue", minValue) &&
               m_store.writeNumber(rangeKey(name), "maxValue", maxValue);
    });
    // A write that failed changed nothing: the store rolled it back.
    return ok ? change : Change::NotFound;
}

bool Ranges::remove(const std::string& name)
{
    return isKeyName(name) && m_store.registry().transaction([&] {
        return m_store.registry().keyExists(ConfigStore::fullPath(rangeKey(name))) &&
               m_store.deleteKey(rangeKey(name));
    });
}

std::string Ranges::filterText(bool quote)
{
    std::string text;
    m_store.registry().snapshot([&] {
        KeyValues values(m_store, m_key);
        const std::string name = values.text("Field", "");
        if (name.empty() || values.text("Type", "") != "N")
            return true;
        const std::string reference = quote ? "\"" + name + "\"" : name;
        for (const Range& range : list()) {
            if (!text.empty())
                text += " OR ";
            text += reference + ">=" + std::to_string(range.minValue) + " AND " + reference +
                    "<=" + std::to_string(range.maxValue);
        }
        return true;
    });
    return text;
}

AvailablePorts::AvailablePorts(ConfigStore& store, std::string taskKey)
    : m_store(store),
      m_taskKey(ConfigStore::fullPath(taskKey)),
      m_key(ConfigStore::fullPath(taskKey + "\\" + kAvailablePortsKeyName))
{
}

std::vector<std::string> AvailablePorts::list()
{
    std::vector<std::string> ports;
    m_store.registry().snapshot([&] {
        if (!m_store.registry().keyExists(m_taskKey))
            return false;
        const auto value = m_store.registry().getOrSetDefault(m_key, "main", RegistryValue::multiText({}));
        if (value)
            ports = value->asMultiText();
        return true;
    });
    return ports;
}

bool AvailablePorts::set(const std::vector<std::string>& ports)
{
    return m_store.registry().transaction([&] {
        return m_store.registry().keyExists(m_taskKey) &&
               m_store.registry().setValue(m_key, "main", RegistryValue::multiText(ports));
    });
}

bool AvailablePorts::contains(const std::string& port)
{
    for (const std::string& listed : list())
        if (platform::equalsIgnoreCase(listed, port))
            return true;
    return false;
}

}  // namespace peltra::config
