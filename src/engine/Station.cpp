// The station's start-up and shutdown order.
#include "engine/Station.h"

#include "config/StationHome.h"
#include "config/TaskStore.h"
#include "line/Form1.h"
#include "platform/text/CaseFold.h"
#include "sip/SipLine.h"
#include "sip/TrunkSettings.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <thread>

namespace peltra::engine {

namespace fs = std::filesystem;

namespace {

// How long the controller and each line get to end at shutdown.
constexpr std::uint32_t kJoinLimitMs = 20000;

}  // namespace

std::string stationLockName(const fs::path& home)
{
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(home, ec);
    return "PELTRA2001." + (ec ? home : canonical).string();
}

Station::Station(StationOptions options, StationViews views) : m_options(std::move(options)), m_views(std::move(views))
{
}

Station::~Station()
{
    if (m_started)
        shutdown();
}

std::vector<std::string> Station::configuredPorts()
{
    std::lock_guard lock(m_presentMutex);
    std::vector<std::string> ports;
    for (const std::string& port : calls::PortSettings(*m_store).configuredPorts()) {
        // A SIP channel is always there: whether its trunk can carry calls is the line's own state.
        if (sip::isSipPort(port)) {
            ports.push_back(port);
            continue;
        }
        for (const std::string& present : m_presentPorts)
            if (platform::equalsIgnoreCase(port, present))
                ports.push_back(present);
    }
    return ports;
}

void Station::followPorts()
{
    const std::vector<std::string> configured = calls::PortSettings(*m_store).configuredPorts();
    const std::vector<std::string> held = m_lines->portNames();
    const auto contains = [](const std::vector<std::string>& names, const std::string& name) {
        return std::any_of(names.begin(), names.end(),
                           [&](const std::string& n) { return platform::equalsIgnoreCase(n, name); });
    };
    platform::PortOpener& opener = m_options.ports ? *m_options.ports : *m_directory;
    bool synchronise = configured != m_followedPorts;
    m_followedPorts = configured;
    std::vector<std::pair<std::string, std::string>> absent;  // port, why
    {
        std::lock_guard lock(m_presentMutex);
        for (const std::string& port : configured) {
            if (sip::isSipPort(port) || contains(held, port) || contains(m_presentPorts, port))
                continue;
            // Stored as a line but not there at the last look: is it there now?
            int error = 0;
            if (opener.open(port, error)) {
                m_presentPorts.push_back(port);
                synchronise = true;
                continue;
            }
            absent.emplace_back(port, std::generic_category().message(error));
        }
    }
    if (synchronise)
        m_linesChanged.set();

    // Told once per change: gone, and back (or no longer a line).
    std::vector<std::string> stillAbsent;
    for (const auto& [port, why] : absent) {
        stillAbsent.push_back(port);
        if (!contains(m_absentPorts, port) && m_views.station)
            m_views.station->noteChange("port " + port + " under Ports is absent (" + why + "): it gets no line");
    }
    for (const std::string& port : m_absentPorts)
        if (!contains(stillAbsent, port) && contains(configured, port) && m_views.station)
            m_views.station->noteChange("port " + port + " under Ports is present again: it gets a line");
    m_absentPorts = std::move(stillAbsent);
}

bool Station::claimInstance()
{
    if (!m_instance)
        m_instance = platform::NamedLock::tryAcquire(stationLockName(m_options.home));
    return m_instance.has_value();
}

Station::StartResult Station::start(std::string& error)
{
    // One station per home: a second start ends at once, quietly.
    if (!claimInstance())
        return StartResult::AlreadyRunning;

    // The working folder, and TEMP inside it for every temporary file.
    std::error_code ec;
    fs::create_directories(m_options.home / "TEMP", ec);
    fs::current_path(m_options.home, ec);
    if (ec) {
        error = "cannot work in " + m_options.home.string() + ": " + ec.message();
        return StartResult::Failed;
    }
    const std::string temp = (m_options.home / "TEMP").string();
    setenv("TMP", temp.c_str(), 1);
    setenv("TEMP", temp.c_str(), 1);
    setenv("TMPDIR", temp.c_str(), 1);

    m_registry = std::make_unique<platform::RegistryStore>(config::registryFile(m_options.home));
    if (!m_registry->isOpen()) {
        error = m_registry->openError();
        return StartResult::Failed;
    }
    m_store = std::make_unique<config::ConfigStore>(*m_registry);
    m_settings = std::make_unique<config::AppSettings>(*m_store);
    m_flags.load(*m_settings);
    calls::PortSettings ports(*m_store);
    ports.removeTrailingColons();
    config::TaskStore(*m_store).openAll();

    // The running tasks and the first pass, before any line exists.
    m_tasks = std::make_unique<ListActiveTasks>(*m_store, m_flags);
    m_tasks->setPassInterval(m_options.passInterval);
    m_tasks->setView(m_views.tasks);
    m_tasks->schedulerPass();
    if (m_views.station) {
        m_views.station->showSchedulerState(schedulerStateText(m_flags.paused()), m_flags.paused());
        m_views.station->showLocalPhoneState(localPhoneStateText(m_flags.localPhone(), m_flags.localPhoneString()),
                                             m_flags.localPhone());
    }

    // The ports present now; the stored lines among them get a line each.
    m_directory = std::make_unique<platform::PortDirectory>(ports.deviceMap(), m_options.simulator);
    platform::PortOpener& opener = m_options.ports ? *m_options.ports : *m_directory;
    probePorts();
    m_callSettings = std::make_unique<calls::StoredCallSettings>(*m_store);
    line::LineEnvironment environment(opener, m_timers, m_shutdown, *m_callSettings);
    environment.library = m_options.home / "peltra.awf";
    environment.timings = m_options.timings;
    m_sipTrunks = std::make_unique<sip::SipTrunks>(*m_store);
    auto device = [this, environment](const std::string& port) -> std::unique_ptr<line::LineDevice> {
        if (sip::isSipPort(port))
            return std::make_unique<sip::SipLine>(*m_sipTrunks, m_shutdown, *m_callSettings, environment.library);
        return std::make_unique<line::Form1>(environment);
    };
    m_lines = std::make_unique<calls::ListLine>(environment, m_linesChanged, [this] { return configuredPorts(); },
                                                m_views.lineView, m_views.lines, device);

    m_controller = std::make_unique<Controller>(*m_tasks, *m_lines, m_flags, *m_settings, m_shutdown, m_schedulerWake);
    m_controller->setView(m_views.station);
    m_controller->setOutcomeListener(m_views.outcomes);
    m_controller->setTickInterval(m_options.tickInterval);
    m_followedPorts = ports.configuredPorts();
    m_controller->setPortCheck([this] { followPorts(); });
    m_lines->setLineEvents(m_controller.get());
    m_controller->start();
    m_started = true;
    m_linesChanged.set();
    m_schedulerWake.set();
    return StartResult::Started;
}

std::vector<line::ComString> Station::probePorts()
{
    platform::PortOpener& opener = m_options.ports ? *m_options.ports : *m_directory;
    std::vector<line::ComString> present =
        line::ProbePorts(opener, m_lines ? m_lines->portNames() : std::vector<std::string>{});
    // What the next synchronisation of the lines takes as present.
    std::lock_guard lock(m_presentMutex);
    m_presentPorts.clear();
    for (const line::ComString& port : present)
        if (port.openError == 0)
            m_presentPorts.push_back(port.name);
    return present;
}

bool Station::hasUnfinishedSessions() { return m_tasks && m_tasks->hasUnfinishedSessions(); }

bool Station::waitForCompletion(std::chrono::milliseconds limit)
{
    if (!m_tasks)
        return true;
    m_flags.setWaitForCompletion(true);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!m_tasks->requestStopAll()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

void Station::shutdown()
{
    if (!m_started || m_shutDown)
        return;
    m_shutDown = true;
    m_shutdown.set();
    m_controller->join(kJoinLimitMs);
    m_lines->Shutdown();
    m_tasks->clear();
}

}  // namespace peltra::engine
