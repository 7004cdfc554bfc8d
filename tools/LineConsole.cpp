// The line commands of peltra-line.
#include "LineConsole.h"

#include "calls/PortSettings.h"
#include "config/ConfigStore.h"
#include "StationFolder.h"
#include "config/StationHome.h"
#include "line/Form1.h"
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "platform/errors/SystemError.h"
#include "platform/registry/RegistryStore.h"
#include "platform/serial/PortDirectory.h"
#include "platform/timer/TimerService.h"
#include "sim/Simulator.h"
#include "sip/SipLine.h"
#include "sip/TrunkSettings.h"

#include <atomic>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace peltra::tools {
namespace {

namespace fs = std::filesystem;

std::atomic<bool> g_interrupted{false};

void onInterrupt(int)
{
    g_interrupted.store(true);
}

std::optional<std::uint32_t> parseNumber(const std::string& text)
{
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return items;
        start = comma + 1;
    }
}

bool isSimulatedPort(const std::string& name)
{
    return name.size() > 3 && (name[0] == 'S' || name[0] == 's') && (name[1] == 'I' || name[1] == 'i') &&
           (name[2] == 'M' || name[2] == 'm');
}

// What the command line asks of one line.
struct LineRequest {
    std::string port;
    std::optional<std::string> library;
    std::vector<std::string> phrases;
    sim::PartyBehaviour party;
    sim::SimOptions simulation;
    std::vector<std::string> positional;
    std::string record;  // --record: what came back from a SIP far end, as WAV
};

// Reads the options of call and play; the error text, or nothing when all were understood.
std::optional<std::string> parseRequest(const std::vector<std::string>& args, bool forCall,
                                        LineRequest& request)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        if (!option.starts_with("--") || option.size() == 2) {
            request.positional.push_back(option);
            continue;
        }
        if (option == "--sim-pulse-reversal") {
            request.party.pulseReversal = true;
            continue;
        }
        if (option == "--sim-realtime") {
            request.simulation.realTime = true;
            continue;
        }
        const bool known = option == "--port" || option == "--sim-answer" ||
                           option == "--sim-hangup-after" || option == "--sim-line" ||
                           option == "--sim-record" ||
                           (forCall && (option == "--library" || option == "--phrases" || option == "--record"));
        if (!known)
            return "unknown option " + option;
        const std::optional<std::string> text = value();
        if (!text)
            return option + " needs a value";
        if (option == "--port") {
            request.port = *text;
        } else if (option == "--library") {
            request.library = *text;
        } else if (option == "--phrases") {
            request.phrases = splitList(*text);
            for (const std::string& code : request.phrases) {
                if (code.empty())
                    return "--phrases has an empty phrase code";
            }
        } else if (option == "--sim-answer") {
            if (*text == "never") {
                request.party.answerAfterMs.reset();
            } else if (const auto ms = parseNumber(*text)) {
                request.party.answerAfterMs = *ms;
            } else {
                return "--sim-answer needs a number of ms or \"never\", not \"" + *text + "\"";
            }
        } else if (option == "--sim-hangup-after") {
            const auto ms = parseNumber(*text);
            if (!ms)
                return "--sim-hangup-after needs a number of ms, not \"" + *text + "\"";
            request.party.hangUpAfterMs = *ms;
        } else if (option == "--sim-line") {
            if (*text == "ok")
                request.party.condition = sim::LineCondition::Ok;
            else if (*text == "dead")
                request.party.condition = sim::LineCondition::Dead;
            else if (*text == "reversed")
                request.party.condition = sim::LineCondition::Reversed;
            else
                return "--sim-line needs ok, dead or reversed, not \"" + *text + "\"";
        } else if (option == "--sim-record") {
            request.simulation.recordPath = *text;
        } else if (option == "--record") {
            request.record = *text;
        }
    }
    if (request.port.empty())
        return std::string("--port is required");
    return std::nullopt;
}

// Shows what the line's monitor window would, as lines on standard output; message boxes go to
// standard error.
class ConsoleView : public line::LineView {
public:
    explicit ConsoleView(const char* program) : m_program(program) {}

    void setDisplayText(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_display = text;
        if (!text.empty())
            print("display " + text);
    }
    void appendDisplayText(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_display += text;
        print("display " + m_display);
    }
    void appendLog(const std::string& text) override { printLines("log ", text); }
    void replaceLog(const std::string& text) override { printLines("log ", text); }
    void appendPhraseLog(const std::string& text) override { printLines("phrase ", text); }
    void showMessage(const std::string& caption, const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        std::string body = text;
        while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
            body.pop_back();
        std::fprintf(stderr, "%s: %s: %s\n", m_program, caption.c_str(), body.c_str());
    }

private:
    void print(const std::string& line) { std::printf("%s\n", line.c_str()); }
    void printLines(const char* prefix, const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            if (end > start)
                print(prefix + text.substr(start, end - start));
            start = end + 1;
        }
    }

    const char* m_program;
    std::mutex m_mutex;
    std::string m_display;
};

// Keeps the one result of the call.
class ResultReceiver : public line::CallResultSink {
public:
    void callFinished(unsigned, std::uint32_t result, const std::string& reason) override
    {
        m_result.store(result);
        m_reason = reason;
        m_done.set();
    }
    platform::Event& done() { return m_done; }
    std::uint32_t result() const { return m_result.load(); }
    // Read once done() is set.
    const std::string& reason() const { return m_reason; }

private:
    platform::Event m_done{true, false};
    std::atomic<std::uint32_t> m_result{line::kCallError};
    std::string m_reason;
};

// The part of the station one console command needs: the store, the ports and, for a simulated
// port, the simulator behind it.
class ConsoleStation {
public:
    bool open(const fs::path& folder, std::string& error)
    {
        std::error_code ec;
        fs::create_directories(folder, ec);
        m_registry = std::make_unique<platform::RegistryStore>(config::registryFile(folder));
        if (!m_registry->isOpen()) {
            error = m_registry->openError();
            return false;
        }
        m_config = std::make_unique<config::ConfigStore>(*m_registry);
        m_settings = std::make_unique<calls::StoredCallSettings>(*m_config);
        return true;
    }

    // Switches the simulator on with lines SIM1..SIMn.
    void simulate(unsigned lines, const sim::SimOptions& options)
    {
        m_simulator = std::make_unique<sim::Simulator>(lines, options);
    }
    sim::Simulator* simulator() { return m_simulator.get(); }

    platform::PortOpener& ports()
    {
        if (!m_directory) {
            calls::PortSettings settings(*m_config);
            m_directory = std::make_unique<platform::PortDirectory>(settings.deviceMap(),
                                                                     m_simulator.get());
        }
        return *m_directory;
    }
    config::ConfigStore& config() { return *m_config; }
    line::CallSettingsSource& callSettings() { return *m_settings; }
    platform::TimerService& timers() { return m_timers; }
    platform::Event& shutdown() { return m_shutdown; }

private:
    std::unique_ptr<platform::RegistryStore> m_registry;
    std::unique_ptr<config::ConfigStore> m_config;
    std::unique_ptr<calls::StoredCallSettings> m_settings;
    std::unique_ptr<sim::Simulator> m_simulator;
    std::unique_ptr<platform::PortDirectory> m_directory;
    platform::TimerService m_timers;
    platform::Event m_shutdown{true, false};
};

// The simulated line count that makes the port's name exist: SIM7 needs seven lines.
std::optional<unsigned> simulatedLineNumber(const std::string& port)
{
    const auto number = parseNumber(port.substr(3));
    if (!number || *number == 0 || *number > 256)
        return std::nullopt;
    return *number;
}

// The digits the exchange will recognise from a dial string, so the simulator can treat the
// number as complete the moment its last digit arrives.
std::string recognisedDigits(const std::string& dialString, bool pulseMode)
{
    std::string digits;
    for (const char c : dialString) {
        const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
        const bool tone = c == '*' || c == '#' || (c >= 'A' && c <= 'D');
        if (digit || (!pulseMode && tone))
            digits += c;
    }
    return digits;
}

// Lets Ctrl-C end a call the way the station's shutdown does.
void catchInterrupts()
{
    g_interrupted.store(false);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

void printSimulatorLog(sim::Simulator* simulator, std::size_t calls)
{
    if (simulator == nullptr)
        return;
    simulator->waitForCalls(calls, 5000);
    for (const sim::CallRecord& record : simulator->calls())
        std::fputs(record.describe().c_str(), stdout);
}

// Whether the files the request names can serve: a phonogram library to read, a recording to
// write. False after a message.
bool inputsUsable(const ToolOutput& output, const LineRequest& request)
{
    std::string error;
    if (request.library && !line::PhonogramLibrary::open(*request.library, &error)) {
        output.fail(error);
        return false;
    }
    if (!request.record.empty() && !sip::isSipPort(request.port)) {
        output.usageError("--record is for a SIP port; a simulated line records with --sim-record");
        return false;
    }
    if (!request.record.empty() && !output.outputFile(request.record))
        return false;
    return request.simulation.recordPath.empty() || output.outputFile(request.simulation.recordPath.string());
}

// Opens the store and, for a simulated port, the simulator; the exit code when that failed.
std::optional<int> openStation(const ToolOutput& output, const std::optional<std::string>& home,
                               const LineRequest& request, ConsoleStation& station)
{
    const std::optional<fs::path> folder = stationFolder(output, home);
    if (!folder)
        return kExitFailure;
    std::string error;
    if (!station.open(*folder, error))
        return output.fail(error);
    if (isSimulatedPort(request.port)) {
        const auto lines = simulatedLineNumber(request.port);
        if (!lines)
            return output.usageError("a simulated port is named SIM1 to SIM256");
        station.simulate(*lines, request.simulation);
        station.simulator()->setDefaultBehaviour(request.party);
    }
    return std::nullopt;
}

}  // namespace

const char* resultWord(std::uint32_t result)
{
    switch (result) {
    case line::kCallDelivered:
        return "Нормально";
    case line::kCallNoAnswer:
        return "Нет ответа";
    case line::kCallHungUp:
        return "Положили трубку";
    default:
        return "Ошибка";
    }
}

namespace {

// How long the probe lets a registering trunk get its answer.
constexpr std::uint32_t kRegistrationWaitMs = 5000;

// The trunks of the store, one line each with its registration state. A trunk that registers is
// started and given a few seconds for its answer.
void probeTrunks(config::ConfigStore& store)
{
    sip::SipTrunks trunks(store);
    for (const std::string& name : sip::TrunkStore(store).trunkNames()) {
        std::string why;
        const std::shared_ptr<sip::SipEndpoint> endpoint = trunks.endpoint(name, &why);
        for (std::uint32_t waited = 0;
             endpoint && endpoint->registration() == sip::Registration::Pending && waited < kRegistrationWaitMs;
             waited += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::string state = why;
        if (endpoint) {
            state = sip::registrationText(endpoint->registration());
            if (!endpoint->ready(&why))
                state += " (" + why + ")";
        }
        const std::optional<sip::TrunkSettings> settings = sip::TrunkStore(store).read(name);
        std::printf("trunk %s\t%s\t%s\n", name.c_str(), settings ? settings->proxy.c_str() : "-", state.c_str());
    }
}

// Opens the line and places one call; nothing once its result has come, else the exit code (the
// line could not open or call, or Ctrl-C abandoned the call).
std::optional<int> placeCall(const ToolOutput& output, ConsoleStation& station, line::LineDevice& device,
                             line::LineView& view, ResultReceiver& receiver, const LineRequest& request,
                             const std::string& number)
{
    device.setView(&view);
    device.setOwner(&receiver);
    if (!device.Open(0, request.port))
        return output.fail("cannot open port " + request.port);
    device.GetPhraseList() = request.phrases;
    catchInterrupts();
    if (!device.StartCall(number))
        return output.fail("cannot start a call on " + request.port);
    while (!receiver.done().wait(100)) {
        if (g_interrupted.load()) {
            station.shutdown().set();
            device.Stop();
            return output.fail("interrupted: the call was abandoned");
        }
    }
    device.Stop();
    return std::nullopt;
}

int printResult(const ResultReceiver& receiver)
{
    if (!receiver.reason().empty())
        std::printf("reason %s\n", receiver.reason().c_str());
    std::printf("result %u %s\n", receiver.result(), resultWord(receiver.result()));
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

// One call over a SIP channel: the SIP exchange in short, the line's log and the result; with
// --record, what the far end sent back, also of an abandoned call.
int callSip(const ToolOutput& output, ConsoleStation& station, const LineRequest& request, const std::string& number)
{
    sip::SipTrunks trunks(station.config());
    std::string why;
    const std::shared_ptr<sip::SipEndpoint> endpoint = trunks.endpoint(trunks.trunkOfPort(request.port), &why);
    if (!endpoint)
        return output.fail(why);
    std::mutex printing;
    endpoint->setTrace([&printing](const std::string& line) {
        std::lock_guard lock(printing);
        std::printf("sip %s\n", line.c_str());
        std::fflush(stdout);
    });
    ConsoleView view("peltra-line");
    ResultReceiver receiver;
    std::optional<int> failed;
    std::vector<std::int16_t> recording;
    {
        sip::SipLine device(trunks, station.shutdown(), station.callSettings(),
                            request.library ? fs::path(*request.library) : fs::path("peltra.awf"));
        device.setRecording(!request.record.empty());
        for (std::uint32_t waited = 0; endpoint->registration() == sip::Registration::Pending &&
                                       waited < kRegistrationWaitMs;
             waited += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        failed = placeCall(output, station, device, view, receiver, request, number);
        recording = device.lastRecording();
    }
    endpoint->setTrace({});
    if (!request.record.empty()) {
        std::string error;
        if (!platform::writeWav(request.record, recording, error))
            return output.fail(error);
        std::printf("recorded %zu samples to %s\n", recording.size(), request.record.c_str());
    }
    return failed ? *failed : printResult(receiver);
}

}  // namespace

int LineConsole::probe(const std::vector<std::string>& args)
{
    unsigned simulated = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--sim" && i + 1 < args.size()) {
            const auto count = parseNumber(args[++i]);
            if (!count || *count > 256)
                return m_output.usageError("--sim needs a number of lines up to 256");
            simulated = *count;
        } else {
            return m_output.usageError("probe takes only --sim N");
        }
    }
    ConsoleStation station;
    const std::optional<fs::path> folder = stationFolder(m_output, m_home);
    if (!folder)
        return kExitFailure;
    std::string error;
    if (!station.open(*folder, error))
        return m_output.fail(error);
    if (simulated > 0)
        station.simulate(simulated, {});
    for (const line::ComString& port : line::ProbePorts(station.ports(), {})) {
        const std::string state = port.openError == 0 ? std::string("ok")
                                  : port.reason.empty() ? platform::systemMessage(port.openError)
                                                        : port.reason;
        std::printf("%s\t%s\n", port.name.c_str(), state.c_str());
    }
    probeTrunks(station.config());
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int LineConsole::call(const std::vector<std::string>& args)
{
    LineRequest request;
    if (const auto problem = parseRequest(args, true, request))
        return m_output.usageError(*problem);
    if (request.positional.size() != 1 || request.positional[0].empty())
        return m_output.usageError("call needs one NUMBER");
    const std::string& number = request.positional[0];
    if (!inputsUsable(m_output, request))
        return kExitFailure;

    ConsoleStation station;
    if (const auto failed = openStation(m_output, m_home, request, station))
        return *failed;
    if (sip::isSipPort(request.port))
        return callSip(m_output, station, request, number);
    if (station.simulator() != nullptr) {
        const line::CallSettings settings = station.callSettings().callSettings(request.port);
        const std::string digits = recognisedDigits(
            line::buildDialString(number, settings.dial), settings.dial.pulseMode);
        if (!digits.empty())
            station.simulator()->setBehaviour(digits, request.party);
    }

    line::LineEnvironment environment(station.ports(), station.timers(), station.shutdown(),
                                      station.callSettings());
    if (request.library)
        environment.library = *request.library;
    ConsoleView view("peltra-line");
    ResultReceiver receiver;
    std::optional<int> failed;
    {
        line::Form1 device(environment);
        failed = placeCall(m_output, station, device, view, receiver, request, number);
    }
    printSimulatorLog(station.simulator(), 1);
    return failed ? *failed : printResult(receiver);
}

int LineConsole::play(const std::vector<std::string>& args)
{
    LineRequest request;
    if (const auto problem = parseRequest(args, false, request))
        return m_output.usageError(*problem);
    if (request.positional.size() != 1)
        return m_output.usageError("play needs one FILE.fon");
    if (!inputsUsable(m_output, request))
        return kExitFailure;

    ConsoleStation station;
    if (const auto failed = openStation(m_output, m_home, request, station))
        return *failed;
    line::LineEnvironment environment(station.ports(), station.timers(), station.shutdown(),
                                      station.callSettings());
    ConsoleView view("peltra-line");
    std::uint32_t code = line::kCallError;
    std::size_t bytes = 0;
    {
        line::Form1 device(environment);
        device.setView(&view);
        if (!device.Open(0, request.port))
            return m_output.fail("cannot open port " + request.port);
        std::optional<std::string> file = m_output.readInputFile(request.positional[0]);
        if (!file) {
            view.appendLog("Ошибка открытия\r\n");
            return kExitFailure;
        }
        std::vector<std::uint8_t> stream(file->begin(), file->end());
        bytes = stream.size();
        // The line's test console plays a stream on a line it has taken: off-hook, the stream,
        // on-hook; on-hook, nobody would hear it.
        if (!device.SetHook(true))
            return m_output.fail("cannot take the line on " + request.port + " off-hook");
        code = device.PlayStream(std::move(stream));
        device.SetHook(false);
        device.Stop();
    }
    printSimulatorLog(station.simulator(), 1);
    std::printf("sent %zu bytes, code %u\n", bytes, code);
    std::fflush(stdout);
    return code == 0 ? kExitOk : kExitFailure;
}

}  // namespace peltra::tools
