// The station's home folder as the tools find it.
#include "StationFolder.h"

#include "config/StationHome.h"

namespace peltra::tools {

std::optional<int> takeHomeOption(const ToolOutput& output, std::vector<std::string>& args,
                                  std::optional<std::string>& home)
{
    while (!args.empty() && (args[0] == "--home" || args[0].starts_with("--home="))) {
        if (args[0] == "--home") {
            if (args.size() < 2)
                return output.usageError("--home needs a folder");
            home = args[1];
            args.erase(args.begin(), args.begin() + 2);
        } else {
            home = args[0].substr(7);
            args.erase(args.begin());
        }
        if (home->empty())
            return output.usageError("--home needs a folder");
    }
    return std::nullopt;
}

std::optional<int> takeCommand(const ToolOutput& output, std::vector<std::string>& args,
                               std::optional<std::string>& home, std::string& command)
{
    if (const auto failed = takeHomeOption(output, args, home))
        return failed;
    if (args.empty())
        return output.usageError("no command given");
    if (args[0] == "--help" || args[0] == "-h")
        return output.help();
    command = args[0];
    args.erase(args.begin());
    return std::nullopt;
}

std::optional<std::filesystem::path> stationFolder(const ToolOutput& output,
                                                   const std::optional<std::string>& home)
{
    if (home)
        return std::filesystem::path(*home);
    std::optional<std::filesystem::path> folder = config::stationHome();
    if (!folder)
        output.fail("cannot find the station's home folder: set PELTRA_HOME or use --home");
    return folder;
}

std::optional<OpenStore> openStore(const ToolOutput& output, const std::filesystem::path& file, bool create,
                                   const std::string& nothingYet)
{
    std::error_code ec;
    if (!create && !std::filesystem::exists(file, ec)) {
        output.fail("no configuration store " + file.string() + ": there are no " + nothingYet + " yet");
        return std::nullopt;
    }
    OpenStore store;
    store.registry = std::make_unique<platform::RegistryStore>(file);
    if (!store.registry->isOpen()) {
        output.fail(store.registry->openError());
        return std::nullopt;
    }
    store.config = std::make_unique<config::ConfigStore>(*store.registry);
    return store;
}

}  // namespace peltra::tools
