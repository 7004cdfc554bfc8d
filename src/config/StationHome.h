// Where the station keeps its files: the home folder and the configuration store in it.
#pragma once

#include <filesystem>
#include <optional>

namespace peltra::config {

// $PELTRA_HOME when set and not empty, else ~/.local/share/peltra ($HOME, or the password
// database when $HOME is unset). Nothing when neither can be found.
std::optional<std::filesystem::path> stationHome();

// The configuration store file inside a home folder: "registry.db".
std::filesystem::path registryFile(const std::filesystem::path& home);

}  // namespace peltra::config
