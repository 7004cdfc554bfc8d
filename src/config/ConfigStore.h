// The station's configuration tree under "Software\PELTRA\" and the operations every owner of a
// sub-tree reads and writes it with.
#pragma once

#include "platform/registry/RegistryStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace peltra::config {

// The root of the station's tree below HKEY_LOCAL_MACHINE, with its trailing backslash.
inline constexpr const char* kRootPath = "Software\\PELTRA\\";

// Key paths given to ConfigStore are relative to the root ("Ports\COM1"; "" is the root).
// Nothing is cached: every read goes to the store, every write goes there at once. A store that
// cannot be used makes reads return their defaults and writes fail; no call throws. Safe to call
// from any thread.
class ConfigStore {
public:
    explicit ConfigStore(platform::RegistryStore& store);

    platform::RegistryStore& registry() { return m_store; }
    // The full path below HKEY_LOCAL_MACHINE of a key relative to the root.
    static std::string fullPath(const std::string& key);

    // Read with default: the stored value (of any type, read as a number or as text), or else the
    // default, which is written to the store before it is returned.
    std::uint32_t readNumber(const std::string& key, const std::string& name, std::uint32_t defaultValue);
    std::string readText(const std::string& key, const std::string& name, const std::string& defaultValue);
    // Booleans are stored as 0 or 1 and read as true when non-zero.
    bool readBool(const std::string& key, const std::string& name, bool defaultValue);

    bool writeNumber(const std::string& key, const std::string& name, std::uint32_t value);
    bool writeText(const std::string& key, const std::string& name, const std::string& text);
    bool writeBool(const std::string& key, const std::string& name, bool value);

    std::vector<std::string> subKeys(const std::string& key);
    // Deletes a key with all its sub-keys; the root itself is refused.
    bool deleteKey(const std::string& key);

    // Creates the next numbered sub-key of key: "%04u" of the largest number among the existing
    // sub-key names plus one (names read as unsigned decimals). Numbers are never compacted, so
    // after removals the next number follows the largest remaining. Returns the new name.
    std::optional<std::string> createNumberedSubKey(const std::string& key);

private:
    platform::RegistryStore& m_store;
};

// The values of one key read at once, for readers of many values of one key. A value that is
// missing is written with its default when asked for, as ConfigStore's reads do.
class KeyValues {
public:
    KeyValues(ConfigStore& store, std::string key);

    std::uint32_t number(const std::string& name, std::uint32_t defaultValue);
    std::string text(const std::string& name, const std::string& defaultValue);
    bool flag(const std::string& name, bool defaultValue) { return number(name, defaultValue ? 1 : 0) != 0; }
    // The stored value itself, when there is one.
    const platform::RegistryValue* find(const std::string& name) const;

private:
    ConfigStore& m_store;
    std::string m_key;
    std::vector<platform::NamedValue> m_values;
};

// Whether a name can name one key of the tree: not empty, no backslash (which would split it).
bool isKeyName(const std::string& name);

// The number a numbered sub-key name carries: its leading decimal digits, 0 when there are none.
std::uint64_t subKeyNumber(const std::string& name);

}  // namespace peltra::config
