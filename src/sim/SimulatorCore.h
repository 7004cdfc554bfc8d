// Internal: the state a simulator shares with its lines (behaviours, open lines, threads, log).
#pragma once

#include "sim/CallRecord.h"
#include "sim/PartyBehaviour.h"
#include "sim/SimOptions.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace peltra::sim {

class SimLine;

// A call as it ended, with its audio still to be recorded.
struct FinishedCall {
    CallRecord record;
    std::vector<std::int16_t> audio;
};

// Owned jointly by the simulator and its open lines, so a line that outlives the simulator
// still has it. Lock order: m_linesMutex, then a line's mutex, then m_behaviourMutex; the
// wake, queue and log mutexes are taken alone.
struct SimulatorCore {
    SimulatorCore(unsigned lineCount, SimOptions options);

    void start();
    // Stops the exchange, fails the open lines, logs their calls and stops the recorder.
    void stop();

    // Index of a line name ("sim3" → 2), or nothing.
    std::optional<unsigned> indexOf(const std::string& name) const;
    void removeLine(SimLine* line);

    // The registered party of the number, else the chooser's, else the default.
    PartyBehaviour behaviourFor(const std::string& number) const;
    PartyBehaviour defaultBehaviour() const;
    bool isRegistered(const std::string& number) const;
    LineCondition idleCondition() const;

    // Asks the exchange thread to look at the lines again.
    void wake();
    // Hands ended calls to the recorder thread.
    void submit(std::vector<FinishedCall>& calls);

    void runExchange();
    void runRecorder();
    std::filesystem::path recordingPath(std::size_t callNumber) const;

    const unsigned m_lineCount;
    const SimOptions m_options;

    mutable std::mutex m_behaviourMutex;
    PartyBehaviour m_defaultBehaviour;
    std::map<std::string, PartyBehaviour> m_behaviours;
    // Shared so that a call can run it outside m_behaviourMutex while another thread replaces it.
    std::shared_ptr<const std::function<PartyBehaviour(const std::string&)>> m_chooser;

    std::mutex m_linesMutex;
    std::vector<SimLine*> m_lines;  // by index; null when not open

    std::mutex m_wakeMutex;
    std::condition_variable m_wakeChanged;
    bool m_wakePending = false;
    bool m_exchangeStopping = false;
    std::thread m_exchange;

    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::deque<FinishedCall> m_toRecord;
    bool m_recorderStopping = false;
    bool m_recorderStopped = false;
    std::thread m_recorder;

    mutable std::mutex m_logMutex;
    mutable std::condition_variable m_logChanged;
    std::vector<CallRecord> m_log;
};

}  // namespace peltra::sim
