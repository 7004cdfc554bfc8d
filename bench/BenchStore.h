// A configuration store in a fresh temporary folder for benchmarks, removed afterwards.
#pragma once

#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"

#include <filesystem>
#include <memory>

namespace peltra::bench {

class BenchStore {
public:
    BenchStore();
    ~BenchStore();
    BenchStore(const BenchStore&) = delete;
    BenchStore& operator=(const BenchStore&) = delete;

    config::ConfigStore& config() { return *m_config; }

private:
    std::filesystem::path m_dir;
    std::unique_ptr<platform::RegistryStore> m_registry;
    std::unique_ptr<config::ConfigStore> m_config;
};

}  // namespace peltra::bench
