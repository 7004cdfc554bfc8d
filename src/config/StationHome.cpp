#include "config/StationHome.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace peltra::config {

std::optional<std::filesystem::path> stationHome()
{
    if (const char* home = std::getenv("PELTRA_HOME"); home && *home)
        return std::filesystem::path(home);
    const char* userHome = std::getenv("HOME");
    if (!userHome || !*userHome) {
        const passwd* entry = getpwuid(getuid());
        if (!entry || !entry->pw_dir || !*entry->pw_dir)
            return std::nullopt;
        userHome = entry->pw_dir;
    }
    return std::filesystem::path(userHome) / ".local" / "share" / "peltra";
}

std::filesystem::path registryFile(const std::filesystem::path& home)
{
    return home / "registry.db";
}

}  // namespace peltra::config
