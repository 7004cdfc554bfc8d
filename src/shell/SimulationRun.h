// A station run on simulated lines: the simulator driven by a plan, and the call log that puts the
// station's result beside what the simulated exchange saw of each call.
#pragma once

#include "engine/Controller.h"
#include "sim/CallLog.h"
#include "sim/SimPlan.h"
#include "sim/Simulator.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace peltra::shell {

class SimulationRun : public engine::CallOutcomeListener {
public:
    // next: who else hears of every ended call (the station's log).
    SimulationRun(const sim::SimPlan& plan, engine::CallOutcomeListener* next);

    sim::Simulator& simulator() { return m_simulator; }
    // Starts the call log; false with error when the file cannot be opened.
    bool openLog(const std::filesystem::path& path, std::string& error);
    // Why the last log line could not be written, if one could not.
    std::string logError();

    void callEnded(unsigned line, const std::string& port, std::uint32_t result, const calls::TaskLink& link,
                   const std::string& reason) override;

private:
    sim::Simulator m_simulator;
    engine::CallOutcomeListener* m_next;
    sim::CallLog m_log;
    std::mutex m_mutex;
    std::map<std::string, std::size_t> m_loggedPerPort;  // calls of each port already logged
    std::string m_logError;
};

}  // namespace peltra::shell
