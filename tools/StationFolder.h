// The station's home folder as the tools find it: --home, else $PELTRA_HOME, else the default.
#pragma once

#include "ToolOutput.h"
#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace peltra::tools {

// Takes leading "--home DIR" / "--home=DIR" options off args into home (the last one counts).
// Nothing when all is well; else the exit code after the usage message (DIR missing or empty).
std::optional<int> takeHomeOption(const ToolOutput& output, std::vector<std::string>& args,
                                  std::optional<std::string>& home);

// A tool's command line up to its command: leading --home options into home, then the command
// word into command, leaving its arguments in args. Nothing when a command was found; else the
// exit code after the usage (on stdout for --help or -h, on stderr when no command is given).
std::optional<int> takeCommand(const ToolOutput& output, std::vector<std::string>& args,
                               std::optional<std::string>& home, std::string& command);

// The folder home names, else the station's default home. Nothing, after a message, when there
// is none.
std::optional<std::filesystem::path> stationFolder(const ToolOutput& output,
                                                   const std::optional<std::string>& home);

// The station's configuration store, open.
struct OpenStore {
    std::unique_ptr<platform::RegistryStore> registry;
    std::unique_ptr<config::ConfigStore> config;
};

// Opens the store file. Without create, a missing file is a failure that says nothing of the
// kind (e.g. "bindings") exists yet, rather than an empty store made on the way. Nothing, after a
// message, when it cannot be opened.
std::optional<OpenStore> openStore(const ToolOutput& output, const std::filesystem::path& file, bool create,
                                   const std::string& nothingYet);

}  // namespace peltra::tools
