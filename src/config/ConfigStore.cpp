// Read-with-default and the other shared operations on the station's configuration tree.
#include "config/ConfigStore.h"

#include "platform/text/CaseFold.h"

#include <cstdio>

namespace peltra::config {

using platform::RegistryValue;

ConfigStore::ConfigStore(platform::RegistryStore& store) : m_store(store) {}

std::string ConfigStore::fullPath(const std::string& key)
{
    return kRootPath + key;
}

std::uint32_t ConfigStore::readNumber(const std::string& key, const std::string& name,
                                      std::uint32_t defaultValue)
{
    const auto value = m_store.getOrSetDefault(fullPath(key), name, RegistryValue::dword(defaultValue));
    return value ? value->asDword() : defaultValue;
}

std::string ConfigStore::readText(const std::string& key, const std::string& name,
                                  const std::string& defaultValue)
{
    const auto value = m_store.getOrSetDefault(fullPath(key), name, RegistryValue::text(defaultValue));
    return value ? value->asText() : defaultValue;
}

bool ConfigStore::readBool(const std::string& key, const std::string& name, bool defaultValue)
{
    return readNumber(key, name, defaultValue ? 1 : 0) != 0;
}

bool ConfigStore::writeNumber(const std::string& key, const std::string& name, std::uint32_t value)
{
    return m_store.setValue(fullPath(key), name, RegistryValue::dword(value));
}

bool ConfigStore::writeText(const std::string& key, const std::string& name, const std::string& text)
{
    return m_store.setValue(fullPath(key), name, RegistryValue::text(text));
}

bool ConfigStore::writeBool(const std::string& key, const std::string& name, bool value)
{
    return writeNumber(key, name, value ? 1 : 0);
}

std::vector<std::string> ConfigStore::subKeys(const std::string& key)
{
    return m_store.subKeys(fullPath(key));
}

bool ConfigStore::deleteKey(const std::string& key)
{
    // An empty name (say, "Tasks\" + an empty binding) must never wipe the station's whole tree.
    if (platform::splitKeyPath(key).empty())
        return false;
    return m_store.deleteKey(fullPath(key));
}

std::optional<std::string> ConfigStore::createNumberedSubKey(const std::string& key)
{
    std::string name;
    const bool ok = m_store.transaction([&] {
        std::uint64_t largest = 0;
        for (const std::string& existing : m_store.subKeys(fullPath(key)))
            largest = std::max(largest, subKeyNumber(existing));
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%04llu", static_cast<unsigned long long>(largest + 1));
        name = buffer;
        // Past the 32-bit range the number saturates; never hand out a key that exists.
        if (m_store.keyExists(fullPath(key) + "\\" + name))
            return false;
        return m_store.createKey(fullPath(key) + "\\" + name);
    });
    if (!ok)
        return std::nullopt;
    return name;
}

KeyValues::KeyValues(ConfigStore& store, std::string key)
    : m_store(store), m_key(std::move(key)), m_values(store.registry().values(ConfigStore::fullPath(m_key)))
{
}

const RegistryValue* KeyValues::find(const std::string& name) const
{
    for (const platform::NamedValue& value : m_values)
        if (platform::equalsIgnoreCase(value.name, name))
            return &value.value;
    return nullptr;
}

std::uint32_t KeyValues::number(const std::string& name, std::uint32_t defaultValue)
{
    if (const RegistryValue* value = find(name))
        return value->asDword();
    return m_store.readNumber(m_key, name, defaultValue);
}

std::string KeyValues::text(const std::string& name, const std::string& defaultValue)
{
    if (const RegistryValue* value = find(name))
        return value->asText();
    return m_store.readText(m_key, name, defaultValue);
}

bool isKeyName(const std::string& name)
{
    return !name.empty() && name.find('\\') == std::string::npos;
}

std::uint64_t subKeyNumber(const std::string& name)
{
    std::uint64_t number = 0;
    for (char c : name) {
        if (c < '0' || c > '9')
            break;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > 0xFFFFFFFFull)  // past the largest unsigned, as the C conversion saturates
            return 0xFFFFFFFFull;
    }
    return number;
}

}  // namespace peltra::config
