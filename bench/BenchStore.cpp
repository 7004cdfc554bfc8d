// A configuration store in a fresh temporary folder for benchmarks.
#include "BenchStore.h"

#include <cstdlib>
#include <string>

namespace peltra::bench {

BenchStore::BenchStore()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "peltra-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    m_dir = pattern;
    m_registry = std::make_unique<platform::RegistryStore>(m_dir / "registry.db");
    m_config = std::make_unique<config::ConfigStore>(*m_registry);
}

BenchStore::~BenchStore()
{
    m_config.reset();
    m_registry.reset();
    std::filesystem::remove_all(m_dir);
}

}  // namespace peltra::bench
