// A running station: the process-wide objects (the three events, the flags, the line pool, the
// running tasks, the controller) in their start-up and shutdown order, shared by the desktop
// station and the headless one.
#pragma once

#include "calls/ListLine.h"
#include "calls/PortSettings.h"
#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "engine/Controller.h"
#include "engine/ListActiveTasks.h"
#include "engine/StationFlags.h"
#include "platform/locks/NamedLock.h"
#include "platform/registry/RegistryStore.h"
#include "platform/serial/PortDirectory.h"
#include "sip/SipEndpoint.h"
#include "platform/sync/Event.h"
#include "platform/timer/TimerService.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace peltra::engine {

// What the station shows: the task list, the line list, the monitor view of each line, the
// status texts and notices, and each line's finished call. Every member must return at once
// (the GUI queues to its thread, the headless station writes a log line).
struct StationViews {
    TaskListView* tasks = nullptr;
    calls::LineListView* lines = nullptr;
    StationView* station = nullptr;
    calls::ListLine::LineViewFactory lineView;
    CallOutcomeListener* outcomes = nullptr;
};

struct StationOptions {
    std::filesystem::path home;  // the store, the phonogram library, the TEMP folder
    // Ports opened by name instead of the serial devices and the simulator (tests); null: the
    // station's own directory.
    platform::PortOpener* ports = nullptr;
    // The simulator serving SIMn, when the station runs on simulated lines.
    platform::PortOpener* simulator = nullptr;
    std::chrono::milliseconds tickInterval{60000};
    std::chrono::milliseconds passInterval{1000};
    line::LineTimings timings;
};

class Station {
public:
    enum class StartResult { Started, AlreadyRunning, Failed };

    Station(StationOptions options, StationViews views);
    // Shuts down if still running.
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The single-instance guard alone: false when a station runs on this home already. start()
    // claims it itself when it has not been claimed.
    bool claimInstance();

    // Start-up in order: one station per home (a second start ends at once), the working folder
    // and TEMP, the store, the flags, the port names cleaned up, the task definitions opened, the
    // first scheduler pass, the port probe, the line pool, the controller, the first wake-up.
    StartResult start(std::string& error);

    // Whether some task still has rows out or open.
    bool hasUnfinishedSessions();
    // The shutdown prompt's "wait": no new task starts, every task is asked to stop, and the
    // station waits until none is busy or the limit passed; true when none is.
    bool waitForCompletion(std::chrono::milliseconds limit);
    // Shutdown in order: ShutdownEvent, the controller (at most 20 s), the lines (each at most
    // 20 s), then every task. Once only.
    void shutdown();

    Controller& controller() { return *m_controller; }
    ListActiveTasks& tasks() { return *m_tasks; }
    calls::ListLine& lines() { return *m_lines; }
    StationFlags& flags() { return m_flags; }
    config::ConfigStore& store() { return *m_store; }
    config::AppSettings& settings() { return *m_settings; }
    // The ports present now (what the port dialog offers), each with the error opening gave; a
    // port held by one of the station's lines counts as present. The lines follow this list from
    // the next synchronisation on.
    std::vector<line::ComString> probePorts();
    platform::Event& schedulerWake() { return m_schedulerWake; }
    platform::Event& linesChanged() { return m_linesChanged; }

private:
    // The ports present at start-up, stored as lines, that opened.
    std::vector<std::string> configuredPorts();
    // On the controller thread at every wake-up: the ports stored as lines now. A changed list,
    // or a configured port without a line that has come to be present, starts a synchronisation
    // of the lines; a configured port that is absent is told once, and again when it is back.
    void followPorts();

    StationOptions m_options;
    StationViews m_views;
    std::optional<platform::NamedLock> m_instance;

    platform::Event m_shutdown{true, false};
    platform::Event m_schedulerWake{false, false};
    platform::Event m_linesChanged{false, false};
    StationFlags m_flags;

    std::unique_ptr<platform::RegistryStore> m_registry;
    std::unique_ptr<config::ConfigStore> m_store;
    std::unique_ptr<config::AppSettings> m_settings;
    std::unique_ptr<calls::StoredCallSettings> m_callSettings;
    std::unique_ptr<platform::PortDirectory> m_directory;
    platform::TimerService m_timers;
    std::mutex m_presentMutex;
    std::vector<std::string> m_presentPorts;
    // Only followPorts uses these: the port list it last saw, and the ports it told absent.
    std::vector<std::string> m_followedPorts;
    std::vector<std::string> m_absentPorts;
    std::unique_ptr<ListActiveTasks> m_tasks;
    // Before the lines: the SIP channels among them use the trunks until they are stopped.
    std::unique_ptr<sip::SipTrunks> m_sipTrunks;
    std::unique_ptr<calls::ListLine> m_lines;
    std::unique_ptr<Controller> m_controller;
    bool m_started = false;
    bool m_shutDown = false;
};

// The lock that keeps one station per home folder.
std::string stationLockName(const std::filesystem::path& home);

}  // namespace peltra::engine
