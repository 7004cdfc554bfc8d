// Test fixture: a temporary store holding one sound task, for tests to spoil one thing at a time.
#pragma once

#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <filesystem>
#include <optional>
#include <string>

namespace peltra::test {

// Абоненты on a table python3-dbf writes (TELEF 2001..2004, SUMMA 150, 50, 550, 1000) and its task Долг:
// SUMMA ascending, daily 08:00-20:00, three phrases. The template's lock lives in a runtime folder of its own.
class SoundTask {
public:
    static constexpr char kBinding[] = "Абоненты";
    static constexpr char kTask[] = "Долг";

    SoundTask();
    ~SoundTask();

    const std::string& error() const { return m_error; }  // what went wrong while setting up, if anything
    const std::filesystem::path& folder() const { return m_dir.path(); }
    const std::filesystem::path& table() const { return m_table; }
    config::ConfigStore& store() { return m_store; }
    config::TaskStore& tasks() { return m_tasks; }
    config::Operator task() { return *m_tasks.task(kBinding, kTask); }

private:
    std::string setUp();  // the error, if any
    std::optional<std::string> m_savedRuntime;
    TempDir m_runtime;
    TempDir m_dir;
    std::filesystem::path m_table;
    platform::RegistryStore m_registry;
    config::ConfigStore m_store;
    config::TaskStore m_tasks;
    std::string m_error;
};

}  // namespace peltra::test
