// Test fixture: a store in a temporary folder holding one sound task, for the task test and its
// window to spoil one thing at a time.
#pragma once

#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <filesystem>
#include <optional>
#include <string>

namespace peltra::test {

// The binding Абоненты on a table python3-dbf writes (the columns a source needs, FIO and SUMMA;
// TELEF 2001..2004 with SUMMA 150, 50, 550, 1000) and its task Долг: sorted by SUMMA ascending,
// a daily schedule 08:00-20:00, a template of three phrases. The template's named lock lives in
// a runtime folder of the fixture's own; the old one is put back when the fixture goes.
class SoundTask {
public:
    static constexpr char kBinding[] = "Абоненты";
    static constexpr char kTask[] = "Долг";

    SoundTask();
    ~SoundTask();
    SoundTask(const SoundTask&) = delete;
    SoundTask& operator=(const SoundTask&) = delete;

    // What went wrong while setting up; empty when all went right.
    const std::string& error() const { return m_error; }
    const std::filesystem::path& folder() const { return m_dir.path(); }
    const std::filesystem::path& table() const { return m_table; }
    config::ConfigStore& store() { return m_store; }
    config::TaskStore& tasks() { return m_tasks; }
    config::Operator task() { return *m_tasks.task(kBinding, kTask); }

private:
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
