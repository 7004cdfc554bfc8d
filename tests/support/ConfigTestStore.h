// Test helper: a station configuration in a temporary folder, optionally with one binding and task.
#pragma once

#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <string>
#include <vector>

namespace peltra::test {

using Names = std::vector<std::string>;

struct ConfigTestStore {
    TempDir dir;
    platform::RegistryStore registry{dir / "registry.db"};
    config::ConfigStore store{registry};
    config::TaskStore tasks{store};

    // The binding "Абоненты" over `file` with its task "Долг", as the task manager makes them.
    bool addTask(const std::string& file = "/data/abon.dbf")
    {
        return tasks.addBinding(kBinding, file, "") == config::AddResult::Added &&
               tasks.binding(kBinding)->operators().add(kTask) == config::AddResult::Added;
    }
    config::Operator task() { return config::Operator(store, kBinding, kTask); }

    static constexpr const char* kBinding = "Абоненты";
    static constexpr const char* kTask = "Долг";
};

}  // namespace peltra::test
