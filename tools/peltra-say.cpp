// peltra-say: what the station speaks for a value or for a task's template, as phrase codes, one
// per line.
#include "StationFolder.h"
#include "ToolOutput.h"
#include "config/ConfigStore.h"
#include "config/Operator.h"
#include "config/StationHome.h"
#include "engine/TaskDataSource.h"
#include "line/Modulator.h"
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "platform/registry/RegistryStore.h"
#include "speech/DatesAndAddresses.h"
#include "speech/Numbers.h"
#include "speech/Patterns.h"
#include "speech/RowValues.h"
#include "speech/TemplateFunctions.h"
#include "sim/Demodulator.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace peltra;
using peltra::tools::kExitFailure;
using peltra::tools::kExitOk;

constexpr char kUsage[] =
    R"(usage: peltra-say [--home DIR] COMMAND [ARGUMENTS]

Prints the phrase codes the station speaks, one per line, four characters each.

Commands:
  function N TEXT            template function N (0-13) for a field holding TEXT,
                             with the station's preparation (an empty sum is zero,
                             a date with fewer than three parts is today's)
  number [--feminine] N      a cardinal number 1-999
  groups TEXT                digits in groups of three (function 8)
  phone TEXT                 a telephone number (functions 0 and 1)
  money CURRENCY TEXT        a sum; CURRENCY is hryvnia, rouble, dollar, euro or 0-3
  date [--second] DAY MONTH  day and month; --second uses the second ordinal set
  time TEXT                  hours and minutes (function 2)
  address TEXT               a house or flat designation, without the lead word
  template BINDING TASK [FIELD=VALUE ...]
                             what the task's speech template speaks for a row with
                             those field values (field names ignore case)
  template BINDING TASK --row N
                             what a call to record N of the binding's table hears:
                             the record read and spoken exactly as the station does
                             when it hands the row to a line (N counts from 1, as
                             the table's record numbers do)

Options, with any command:
  --wav FILE                 also write what is spoken as one 8 kHz WAV file, from
                             the phonogram library
  --line                     with --wav: as the line delivers it, after the delta
                             modulation and the line adapter
  --library FILE             the phonogram library (default DIR/peltra.awf)

Texts are UTF-8. The template is read from the store DIR/registry.db; DIR is --home,
else $PELTRA_HOME, else ~/.local/share/peltra.

Exit status: 0 success, 1 failure (message on standard error), 2 bad arguments.
)";

const tools::ToolOutput output("peltra-say", kUsage);

int usageError(const std::string& message) { return output.usageError(message); }

// Where the spoken result goes besides the codes.
struct Listening {
    std::optional<fs::path> wav;
    bool line = false;
    std::optional<fs::path> library;
    std::optional<std::string> home;
};
Listening listening;

// Takes --wav, --line and --library out of the arguments; false after a usage message.
bool takeListeningOptions(std::vector<std::string>& args, int& code)
{
    for (std::size_t i = 0; i < args.size();) {
        const std::string option = args[i];
        if (option == "--line") {
            listening.line = true;
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (option != "--wav" && option != "--library") {
            ++i;
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            code = output.usageError(option + " needs a file");
            return false;
        }
        (option == "--wav" ? listening.wav : listening.library) = fs::path(args[i + 1]);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
    if (listening.line && !listening.wav) {
        code = output.usageError("--line goes with --wav");
        return false;
    }
    return true;
}

// The phrases of the list from the library, one after another; with line, each phrase as the
// line plays it: modulated on its own, then integrated by the adapter.
int writeSpoken(const speech::PhraseList& list)
{
    fs::path libraryFile;
    if (listening.library) {
        libraryFile = *listening.library;
    } else {
        const std::optional<fs::path> folder = tools::stationFolder(output, listening.home);
        if (!folder)
            return kExitFailure;
        libraryFile = *folder / "peltra.awf";
    }
    std::string error;
    auto library = line::PhonogramLibrary::open(libraryFile, &error);
    if (!library)
        return output.fail(error);
    std::vector<std::int16_t> samples;
    sim::Demodulator adapter;
    for (const std::string& code : list) {
        if (code == speech::kDeliveryMarker)
            continue;
        line::PhonogramLibrary::Bytes pcm;
        if (library->readPhrase(code, pcm, &error) != line::PhonogramLibrary::ReadStatus::Ok)
            return output.fail(error);
        if (listening.line) {
            const auto stream = line::modulateSpeech(pcm);
            if (!stream)
                return output.fail("the phrase \"" + code + "\" cannot be modulated");
            adapter.push(*stream, samples);
        } else {
            for (std::size_t i = 0; i + 1 < pcm.size(); i += 2)
                samples.push_back(static_cast<std::int16_t>(pcm[i] | (pcm[i + 1] << 8)));
        }
    }
    if (!platform::writeWav(*listening.wav, samples, error))
        return output.fail(listening.wav->string() + ": " + error);
    return kExitOk;
}

int print(const speech::PhraseList& list)
{
    for (const std::string& code : list)
        std::printf("%s\n", code.c_str());
    if (std::fflush(stdout) != 0)
        return kExitFailure;
    return listening.wav ? writeSpoken(list) : kExitOk;
}

std::optional<unsigned> parseUnsigned(const std::string& text)
{
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<speech::Currency> parseCurrency(const std::string& text)
{
    const struct {
        const char* name;
        speech::Currency currency;
    } names[] = {{"hryvnia", speech::Currency::Hryvnia},
                 {"rouble", speech::Currency::Rouble},
                 {"dollar", speech::Currency::Dollar},
                 {"euro", speech::Currency::Euro}};
    for (const auto& entry : names) {
        if (text == entry.name)
            return entry.currency;
    }
    const std::optional<unsigned> number = parseUnsigned(text);
    if (number && *number <= 3)
        return static_cast<speech::Currency>(*number);
    return std::nullopt;
}

// Takes a leading flag off the arguments; true when it was there.
bool takeFlag(std::vector<std::string>& args, const char* flag)
{
    if (args.empty() || args[0] != flag)
        return false;
    args.erase(args.begin());
    return true;
}

int sayTemplate(const std::optional<std::string>& home, const std::vector<std::string>& args)
{
    if (args.size() < 2)
        return usageError("template needs BINDING and TASK");
    std::optional<unsigned> record;
    speech::FieldRow row;
    if (args.size() > 2 && args[2] == "--row") {
        record = args.size() == 4 ? parseUnsigned(args[3]) : std::nullopt;
        if (!record || *record == 0)
            return usageError("--row needs one record number N from 1");
    }
    for (std::size_t i = 2; !record && i < args.size(); ++i) {
        if (!row.setAssignment(args[i]))
            return usageError("\"" + args[i] + "\" is not FIELD=VALUE");
    }
    const std::optional<fs::path> folder = tools::stationFolder(output, home);
    if (!folder)
        return kExitFailure;
    const fs::path file = config::registryFile(*folder);
    std::error_code ec;
    if (!fs::exists(file, ec))
        return output.fail("no configuration store " + file.string());
    platform::RegistryStore registry(file);
    if (!registry.isOpen())
        return output.fail(registry.openError());
    config::ConfigStore store(registry);
    // Only an existing task: a mistyped name must not leave an empty template behind.
    const std::string taskKey = "Tasks\\" + args[0] + "\\Операторы\\" + args[1];
    if (args[0].find('\\') != std::string::npos || args[1].find('\\') != std::string::npos ||
        !registry.keyExists(config::ConfigStore::fullPath(taskKey)))
        return output.fail("no task \"" + args[1] + "\" in binding \"" + args[0] + "\"");

    std::string error;
    speech::PhraseList list;
    if (record) {
        engine::TaskDataSource source(store);
        source.setDefinition(config::Operator(store, args[0], args[1]).definition());
        if (!source.speakRecord(*record, list, error))
            return output.fail(error);
        return print(list);
    }
    speech::Patterns patterns(store, args[0], args[1]);
    std::vector<speech::PatternItem> items;
    if (!patterns.isOpen())
        return output.fail(patterns.openError());
    if (!patterns.Load(items, &error))
        return output.fail(error);
    speech::assignColumns(items, row.fieldNames());
    patterns.BuildPhraseList(items, row, speech::today(), list);
    return print(list);
}

int say(const std::string& command, std::vector<std::string> args)
{
    speech::PhraseList list;
    if (command == "function") {
        if (args.size() != 2)
            return usageError("function needs N and TEXT");
        const std::optional<unsigned> number = parseUnsigned(args[0]);
        if (!number || *number > 13)
            return usageError("N must be a template function number 0-13, not \"" + args[0] + "\"");
        speech::SpeakFunction(*number, args[1], speech::today(), list);
    } else if (command == "number") {
        const bool feminine = takeFlag(args, "--feminine");
        const std::optional<unsigned> number = args.size() == 1 ? parseUnsigned(args[0]) : std::nullopt;
        if (!number || *number < 1 || *number > 999)
            return usageError("number needs one N from 1 to 999");
        speech::SayNumber(list, *number, feminine);
    } else if (command == "groups" || command == "phone" || command == "time" ||
               command == "address") {
        if (args.size() != 1)
            return usageError(command + " needs one TEXT");
        if (command == "groups")
            speech::SayDigitGroups(list, args[0]);
        else if (command == "phone")
            speech::SayPhone(list, args[0]);
        else if (command == "time")
            speech::SayTime(list, args[0]);
        else
            speech::SayAddress(list, args[0]);
    } else if (command == "money") {
        if (args.size() != 2)
            return usageError("money needs CURRENCY and TEXT");
        const std::optional<speech::Currency> currency = parseCurrency(args[0]);
        if (!currency)
            return usageError("CURRENCY is hryvnia, rouble, dollar, euro or 0-3, not \"" + args[0] + "\"");
        speech::SayMoney(list, args[1], *currency);
    } else if (command == "date") {
        const bool second = takeFlag(args, "--second");
        if (args.size() != 2)
            return usageError("date needs DAY and MONTH");
        speech::SayDate(list, args[0], args[1], second);
    } else {
        return usageError("unknown command " + command);
    }
    return print(list);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    int code = kExitOk;
    if (!takeListeningOptions(args, code))
        return code;
    std::optional<std::string> home;
    std::string command;
    if (const auto done = tools::takeCommand(output, args, home, command))
        return *done;
    listening.home = home;
    if (command == "template")
        return sayTemplate(home, args);
    return say(command, args);
}
