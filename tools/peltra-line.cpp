// peltra-line: the technician's console for one line. It lists the ports present, places test
// calls and sends stream files on a real or simulated line, and converts sound into the stream a
// line sends: recorded PCM into a stream file (.fon), a dial string into the tone-dialing stream.
#include "LineConsole.h"
#include "StationFolder.h"
#include "ToolOutput.h"
#include "line/DialString.h"
#include "line/Modulator.h"
#include "line/TonePcm.h"
#include "platform/files/ReplaceFile.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using peltra::tools::kExitOk;
using peltra::tools::kExitUsage;

constexpr char kUsage[] =
    R"(usage: peltra-line [--home DIR] COMMAND [ARGUMENTS]

Commands:
  probe [--sim N]            list the ports present: NAME<TAB>ok, or NAME<TAB>why it
                             cannot be used (the kernel's console and ports locked by
                             another program are never opened); --sim N adds simulated
                             lines SIM1..SIMN
  call --port NAME [--library FILE] [--phrases C1,C2,...] [SIMULATION] NUMBER
                             place one call with the port's stored settings and print
                             its result as the last line: result CODE WORD; an error
                             result is preceded by "reason TEXT", why it failed
  play --port NAME [SIMULATION] FILE.fon
                             take the line off-hook, send a stream file down it and
                             put it on-hook
  modulate IN OUT            convert raw 16-bit PCM at 8000 samples/s (the whole file,
                             any header included, taken as samples) into a stream file
                             (.fon): exactly the bytes a line sends for it
  tones [--pause-p MS] [--pause-w MS] DIALSTRING OUT
                             write the tone-dialing stream of a dial string: DTMF for
                             0-9, A-D, * and #, silence for P and W (1000 ms each unless
                             given), other characters skipped

Simulation (ports SIM1, SIM2, ...: a simulated adapter and exchange; its log is
printed before the result, beginning with "dialed DIGITS"):
  --sim-answer MS|never      the party answers MS ms after the number (default 1000)
  --sim-hangup-after MS      the party hangs up after listening MS ms
  --sim-line ok|dead|reversed   line voltage: normal, none, or reversed before the call
  --sim-pulse-reversal       the answer is a short reversal, then normal polarity
  --sim-realtime             send at the real port's 11,520 bytes/s (default: at once)
  --sim-record FILE.wav      record what the line heard

The port's settings are read from the store DIR/registry.db; DIR is --home, else
$PELTRA_HOME, else ~/.local/share/peltra. The phonogram library is peltra.awf in the
current folder unless --library is given.

Exit status: 0 success (a call that ran to any result), 1 failure (message on standard
error), 2 bad arguments.
)";

const peltra::tools::ToolOutput output("peltra-line", kUsage);

int fail(const std::string& message) { return output.fail(message); }
int usageError(const std::string& message) { return output.usageError(message); }

int writeStream(const std::string& path, const std::vector<std::uint8_t>& stream)
{
    std::string error;
    const std::string_view bytes(reinterpret_cast<const char*>(stream.data()), stream.size());
    if (!peltra::platform::replaceFile(path, bytes, error))
        return fail(path + ": " + error);
    std::printf("%s: %zu bytes, %.3f s at 115200 baud\n", path.c_str(), stream.size(),
                static_cast<double>(stream.size()) * 10.0 / 115200.0);
    return kExitOk;
}

int cmdModulate(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return usageError("modulate needs IN and OUT");
    const std::optional<std::string> pcm = output.readInputFile(args[0]);
    if (!pcm)
        return peltra::tools::kExitFailure;
    const auto stream = peltra::line::modulateSpeech(
        std::span(reinterpret_cast<const std::uint8_t*>(pcm->data()), pcm->size()));
    if (!stream)
        return fail("not enough memory to modulate " + args[0]);
    return writeStream(args[1], *stream);
}

// A pause in ms: a whole decimal number.
std::optional<std::uint32_t> parseMs(const std::string& text)
{
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

int cmdTones(const std::vector<std::string>& args)
{
    peltra::line::DialSettings settings;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--pause-p" || option == "--pause-w") {
            if (i + 1 >= args.size())
                return usageError(option + " needs a number of ms");
            const std::optional<std::uint32_t> ms = parseMs(args[++i]);
            if (!ms)
                return usageError(option + " needs a whole number of ms, not \"" + args[i] + "\"");
            (option == "--pause-p" ? settings.delayPMs : settings.delayWMs) = *ms;
        } else if (option.starts_with("--") && option.size() > 2) {
            return usageError("unknown option " + option);
        } else {
            positional.push_back(option);
        }
    }
    if (positional.size() != 2)
        return usageError("tones needs DIALSTRING and OUT");
    const auto stream = peltra::line::buildToneStream(positional[0], settings);
    if (!stream)
        return fail("the dial string \"" + positional[0] + "\" makes more sound than a line may send "
                    "(the pauses are too long)");
    return writeStream(positional[1], *stream);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::optional<std::string> home;
    std::string command;
    if (const auto done = peltra::tools::takeCommand(output, args, home, command))
        return *done;
    if (command == "modulate")
        return cmdModulate(args);
    if (command == "tones")
        return cmdTones(args);
    if (command == "probe" || command == "call" || command == "play") {
        peltra::tools::LineConsole console(output, home);
        if (command == "probe")
            return console.probe(args);
        if (command == "call")
            return console.call(args);
        return console.play(args);
    }
    return usageError("unknown command " + command);
}
