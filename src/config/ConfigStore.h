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

// The number a numbered sub-key name carries: its leading decimal digits, 0 when there are none.
std::uint64_t subKeyNumber(const std::string& name);

}  // namespace peltra::config
