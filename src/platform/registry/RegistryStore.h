// The configuration store: a tree of keys with typed values, kept in one SQLite file.
//
// It stands in for HKEY_LOCAL_MACHINE. Key paths are relative to the hive, with backslashes
// ("Software\PELTRA\Ports\COM1"); empty path components are ignored, so a trailing backslash
// is harmless. Key and value names compare without regard to case (Cyrillic included) and keep
// the spelling they were created with. Sub-keys and values enumerate in that case-insensitive
// order. Every operation is one atomic transaction, and several processes may use one file.
#pragma once

#include "platform/registry/RegistryValue.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace peltra::platform {

struct NamedValue {
    std::string name;
    RegistryValue value;
};

class RegistryStore {
public:
    // Opens or creates the store file (permissions 0600). Never throws: on failure the store
    // is not open, every read returns nothing and every write fails; openError() says why,
    // naming the file. A file that cannot be written is opened for reading only.
    explicit RegistryStore(std::filesystem::path file);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    bool isOpen() const;
    bool isReadOnly() const;
    const std::string& openError() const;
    const std::filesystem::path& file() const;

    // How long an operation waits for another process's write to end, in ms (default 5000).
    void setBusyTimeout(int ms);

    // Reads. A missing key or value gives nothing / false / an empty list.
    bool keyExists(const std::string& keyPath);
    std::optional<RegistryValue> getValue(const std::string& keyPath, const std::string& name);
    std::vector<std::string> subKeys(const std::string& keyPath);
    std::vector<NamedValue> values(const std::string& keyPath);

    // Writes. Each creates the missing keys of its path. false on failure; lastError() says why.
    bool createKey(const std::string& keyPath);
    bool setValue(const std::string& keyPath, const std::string& name, const RegistryValue& value);
    // Returns the stored value when present, otherwise stores the default and returns it; both
    // steps in one transaction so that two processes agree on the value.
    std::optional<RegistryValue> getOrSetDefault(const std::string& keyPath, const std::string& name,
                                                 const RegistryValue& defaultValue);
    // Deleting what does not exist succeeds.
    bool deleteValue(const std::string& keyPath, const std::string& name);
    // Deletes the key with all its sub-keys and values.
    bool deleteKey(const std::string& keyPath);
    // Copies a key with all its values and sub-keys under a new path (merging into what is there).
    bool copyKey(const std::string& fromPath, const std::string& toPath);

    // Runs work as one transaction: every store operation called by work on this thread joins it,
    // and it is committed when work returns true, rolled back when it returns false. Other threads
    // using this store object wait meanwhile.
    bool transaction(const std::function<bool()>& work);
    // Runs work inside one read snapshot; works on a read-only store too. Store operations
    // called by work on this thread join it.
    bool snapshot(const std::function<bool()>& work);

    // The text of the last failure of an operation on this thread, naming the file.
    static std::string lastError();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

// Splits a key path at backslashes, dropping empty components.
std::vector<std::string> splitKeyPath(const std::string& keyPath);
// Joins key path components with backslashes.
std::string joinKeyPath(const std::vector<std::string>& components);

}  // namespace peltra::platform
