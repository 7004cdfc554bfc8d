// peltra-lexicon: the operator's tool for the lexeme catalogue and the phonogram library: install
// the standard catalogue, synthesise a library from it, replace or take out single phrases, and
// check that a library holds everything the catalogue and the templates can speak.
#include "StationFolder.h"
#include "ToolOutput.h"
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "lexicon/LibraryBuild.h"
#include "lexicon/PhraseAudio.h"
#include "lexicon/StandardCatalogue.h"
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Catalogue.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace peltra;
using peltra::tools::kExitFailure;
using peltra::tools::kExitOk;

constexpr char kUsage[] =
    R"(usage: peltra-lexicon [--home DIR] COMMAND [ARGUMENTS]

Keeps the lexeme catalogue (in the store DIR/registry.db) and the phonogram library
(DIR/peltra.awf unless --library or --out names another file).

Commands:
  install-catalogue [--force]   write the standard catalogue: the template functions,
                                every word the number, date, time and address functions
                                speak, the delivery marker "____", the phrases of a debt
                                notice and an example dictionary; leaves that exist are
                                kept unless --force is given
  build [--voice V] [--out FILE]
                                synthesise every phrase of the catalogue with espeak-ng
                                (voice V, default ru) into a new library
  list [--library FILE]         one line per catalogue phrase: path, code and text, with
                                "missing" when the library has no such phrase
  set CODE FILE.wav [--library FILE]
                                replace one phrase by a recording (any PCM WAV: its
                                rate, width and channels are converted)
  extract CODE FILE.wav [--library FILE]
                                write one phrase as an 8 kHz WAV file
  check [--library FILE]        list the codes the catalogue and the task templates can
                                speak that the library lacks, and every template item
                                whose leaf the catalogue lacks; exit 1 when there are any

DIR is --home, else $PELTRA_HOME, else ~/.local/share/peltra. Codes are four characters
(code page 1251 must hold them; shorter codes carry trailing blanks, as in "+RR ").

Exit status: 0 success, 1 failure (message on standard error), 2 bad arguments.
)";

const tools::ToolOutput output("peltra-lexicon", kUsage);

int usageError(const std::string& message) { return output.usageError(message); }

// The command's arguments with its options taken out.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;  // --library, --out, --voice
    bool force = false;
};

std::optional<Arguments> parseArguments(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                                        bool forceAllowed)
{
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool known = false;
        for (const std::string& option : valued) {
            if (arg == option) {
                if (i + 1 >= args.size() || args[i + 1].empty()) {
                    usageError(option + " needs a value");
                    return std::nullopt;
                }
                parsed.values[option] = args[++i];
                known = true;
            }
        }
        if (known)
            continue;
        if (forceAllowed && arg == "--force") {
            parsed.force = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            usageError("unknown option " + arg);
            return std::nullopt;
        } else {
            parsed.positional.push_back(arg);
        }
    }
    return parsed;
}

// The station's store, opened; created only when create is set.
class Station {
public:
    static std::unique_ptr<Station> open(const std::optional<std::string>& home, bool create)
    {
        const std::optional<fs::path> folder = tools::stationFolder(output, home);
        if (!folder)
            return nullptr;
        const fs::path file = config::registryFile(*folder);
        std::error_code ec;
        if (!create && !fs::exists(file, ec)) {
            output.fail("no configuration store " + file.string() + "; run install-catalogue first");
            return nullptr;
        }
        if (create)
            fs::create_directories(*folder, ec);
        auto station = std::unique_ptr<Station>(new Station(*folder, file));
        if (!station->m_registry.isOpen()) {
            output.fail(station->m_registry.openError());
            return nullptr;
        }
        return station;
    }

    const fs::path& folder() const { return m_folder; }
    config::ConfigStore& store() { return m_store; }

private:
    Station(fs::path folder, const fs::path& file) : m_folder(std::move(folder)), m_registry(file), m_store(m_registry) {}

    fs::path m_folder;
    platform::RegistryStore m_registry;
    config::ConfigStore m_store;
};

fs::path libraryPath(const Arguments& args, const std::string& option, const fs::path& folder)
{
    const auto given = args.values.find(option);
    return given != args.values.end() ? fs::path(given->second) : folder / "peltra.awf";
}

int installCatalogue(const std::optional<std::string>& home, const Arguments& args)
{
    if (!args.positional.empty())
        return usageError("install-catalogue takes no arguments");
    auto station = Station::open(home, true);
    if (!station)
        return kExitFailure;
    speech::Catalogue catalogue(station->store());
    const lexicon::InstallReport report = lexicon::installStandardCatalogue(catalogue, args.force);
    std::fprintf(stderr, "peltra-lexicon: %d added, %d replaced, %d kept\n", report.added, report.replaced,
                 report.kept);
    for (const std::string& problem : report.problems)
        output.fail(problem);
    return report.problems.empty() ? kExitOk : kExitFailure;
}

int build(const std::optional<std::string>& home, const Arguments& args)
{
    if (!args.positional.empty())
        return usageError("build takes no arguments");
    auto station = Station::open(home, false);
    if (!station)
        return kExitFailure;
    speech::Catalogue catalogue(station->store());
    const std::vector<lexicon::CataloguePhrase> phrases = lexicon::cataloguePhrases(catalogue);
    if (phrases.empty())
        return output.fail("the catalogue holds no phrases; run install-catalogue first");
    const auto voice = args.values.find("--voice");
    const lexicon::EspeakSynthesizer synthesizer(voice != args.values.end() ? voice->second : "ru");
    const fs::path out = libraryPath(args, "--out", station->folder());
    std::string error;
    const bool ok = lexicon::buildLibrary(
        phrases, synthesizer, out,
        [](std::size_t done, std::size_t total, const std::string& code) {
            if (done < total)
                std::fprintf(stderr, "peltra-lexicon: phrase %zu of %zu: \"%s\"\n", done + 1, total, code.c_str());
        },
        error);
    if (!ok)
        return output.fail(error);
    std::printf("%s: %zu phrases\n", out.string().c_str(), phrases.size());
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

std::optional<line::PhonogramLibrary> openLibrary(const fs::path& path)
{
    std::string error;
    auto library = line::PhonogramLibrary::open(path, &error);
    if (!library)
        output.fail(error);
    return library;
}

int list(const std::optional<std::string>& home, const Arguments& args)
{
    if (!args.positional.empty())
        return usageError("list takes no arguments");
    auto station = Station::open(home, false);
    if (!station)
        return kExitFailure;
    const fs::path path = libraryPath(args, "--library", station->folder());
    // No library yet lists every phrase as missing; one asked for by name must be there.
    if (args.values.contains("--library") && !output.inputFile(path.string()))
        return kExitFailure;
    std::error_code ec;
    std::optional<line::PhonogramLibrary> library;
    if (fs::exists(path, ec) && !(library = openLibrary(path)))
        return kExitFailure;
    speech::Catalogue catalogue(station->store());
    for (const lexicon::CataloguePhrase& phrase : lexicon::cataloguePhrases(catalogue)) {
        const bool missing = !library || !library->contains(phrase.code);
        std::printf("%s\t%s\t%s%s\n", phrase.path.c_str(), phrase.code.c_str(), phrase.text.c_str(),
                    missing ? "\tmissing" : "");
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

// Every phrase of a library, read into memory, for rewriting it.
std::optional<std::vector<line::PhonogramLibrary::Phrase>> readAll(line::PhonogramLibrary& library)
{
    std::vector<line::PhonogramLibrary::Phrase> phrases;
    for (std::size_t i = 0; i < library.chunks().size(); ++i) {
        const auto code = line::PhonogramLibrary::codeOf(library.chunks()[i].id);
        line::PhonogramLibrary::Phrase phrase;
        std::string error;
        if (!code || library.readChunk(i, phrase.pcm, &error) != line::PhonogramLibrary::ReadStatus::Ok) {
            output.fail(code ? error : library.name() + ": a chunk identifier is not a phrase code");
            return std::nullopt;
        }
        phrase.code = *code;
        phrases.push_back(std::move(phrase));
    }
    return phrases;
}

int setPhrase(const std::optional<std::string>& home, const Arguments& args)
{
    if (args.positional.size() != 2)
        return usageError("set needs CODE and FILE.wav");
    const std::string& code = args.positional[0];
    if (!line::PhonogramLibrary::idOf(code))
        return output.fail("\"" + code + "\" is not a phrase code: four characters code page 1251 holds");
    if (!output.inputFile(args.positional[1]))
        return kExitFailure;
    std::string error;
    const auto audio = platform::readWav(args.positional[1], error);
    if (!audio)
        return output.fail(error);
    std::vector<std::uint8_t> pcm = lexicon::phraseFromWav(*audio, false);
    if (pcm.empty())
        return output.fail(args.positional[1] + ": holds no sound");

    const std::optional<fs::path> folder = tools::stationFolder(output, home);
    if (!folder)
        return kExitFailure;
    const fs::path path = libraryPath(args, "--library", *folder);
    std::vector<line::PhonogramLibrary::Phrase> phrases;
    std::error_code ec;
    if (fs::exists(path, ec)) {
        auto library = openLibrary(path);
        if (!library)
            return kExitFailure;
        auto all = readAll(*library);
        if (!all)
            return kExitFailure;
        phrases = std::move(*all);
    }
    bool replaced = false;
    for (auto& phrase : phrases) {
        if (phrase.code == code) {
            phrase.pcm = pcm;
            replaced = true;
        }
    }
    if (!replaced)
        phrases.push_back({code, std::move(pcm)});
    if (!line::PhonogramLibrary::write(path, line::PhonogramLibrary::pcmFormat(), phrases, &error))
        return output.fail(error);
    std::fprintf(stderr, "peltra-lexicon: \"%s\" %s in %s\n", code.c_str(), replaced ? "replaced" : "added",
                 path.string().c_str());
    return kExitOk;
}

int extractPhrase(const std::optional<std::string>& home, const Arguments& args)
{
    if (args.positional.size() != 2)
        return usageError("extract needs CODE and FILE.wav");
    const std::optional<fs::path> folder = tools::stationFolder(output, home);
    if (!folder)
        return kExitFailure;
    auto library = openLibrary(libraryPath(args, "--library", *folder));
    if (!library)
        return kExitFailure;
    line::PhonogramLibrary::Bytes pcm;
    std::string error;
    if (library->readPhrase(args.positional[0], pcm, &error) != line::PhonogramLibrary::ReadStatus::Ok)
        return output.fail(error);
    std::vector<std::int16_t> samples(pcm.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
    if (!platform::writeWav(args.positional[1], samples, error))
        return output.fail(args.positional[1] + ": " + error);
    return kExitOk;
}

int check(const std::optional<std::string>& home, const Arguments& args)
{
    if (!args.positional.empty())
        return usageError("check takes no arguments");
    auto station = Station::open(home, false);
    if (!station)
        return kExitFailure;
    auto library = openLibrary(libraryPath(args, "--library", station->folder()));
    if (!library)
        return kExitFailure;
    std::size_t missing = 0;
    const std::vector<lexicon::NeededCode> needed = lexicon::neededCodes(station->store());
    for (const lexicon::NeededCode& code : needed) {
        if (code.code.empty()) {
            std::printf("(no leaf)\tmissing from the catalogue, needed by %s\n", code.neededBy.c_str());
            ++missing;
        } else if (!library->contains(code.code)) {
            std::printf("\"%s\"\tmissing, needed by %s\n", code.code.c_str(), code.neededBy.c_str());
            ++missing;
        }
    }
    std::fflush(stdout);
    if (missing != 0)
        return output.fail(std::to_string(missing) + " of " + std::to_string(needed.size()) +
                           " codes are missing from " + library->name());
    std::fprintf(stderr, "peltra-lexicon: all %zu codes are in %s\n", needed.size(), library->name().c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::optional<std::string> home;
    std::string command;
    if (const auto done = tools::takeCommand(output, args, home, command))
        return *done;
    const bool forceAllowed = command == "install-catalogue";
    const auto parsed = parseArguments(args, {"--library", "--out", "--voice"}, forceAllowed);
    if (!parsed)
        return tools::kExitUsage;
    if (command == "install-catalogue")
        return installCatalogue(home, *parsed);
    if (command == "build")
        return build(home, *parsed);
    if (command == "list")
        return list(home, *parsed);
    if (command == "set")
        return setPhrase(home, *parsed);
    if (command == "extract")
        return extractPhrase(home, *parsed);
    if (command == "check")
        return check(home, *parsed);
    return usageError("unknown command " + command);
}
