// The simulated lines of a headless station and their call log.
#include "shell/SimulationRun.h"

#include "platform/text/CaseFold.h"

#include <chrono>
#include <thread>

namespace peltra::shell {

namespace {

// How long the station's result may run ahead of the simulator's record of the call.
constexpr auto kRecordWait = std::chrono::milliseconds(2000);

}  // namespace

SimulationRun::SimulationRun(const sim::SimPlan& plan, engine::CallOutcomeListener* next)
    : m_simulator(plan.lines, plan.options()), m_next(next)
{
    sim::applyPlan(m_simulator, plan);
}

bool SimulationRun::openLog(const std::filesystem::path& path, std::string& error) { return m_log.open(path, error); }

std::string SimulationRun::logError()
{
    std::lock_guard lock(m_mutex);
    return m_logError;
}

void SimulationRun::callEnded(unsigned line, const std::string& port, std::uint32_t result,
                              const calls::TaskLink& link, const std::string& reason)
{
    if (m_next)
        m_next->callEnded(line, port, result, link, reason);
    if (!m_log.isOpen())
        return;
    // The exchange logs a call when the line goes on-hook, before the station reports it; the
    // result belongs to the port's next call not yet logged.
    std::lock_guard lock(m_mutex);
    std::size_t& logged = m_loggedPerPort[platform::foldCase(port)];
    const auto deadline = std::chrono::steady_clock::now() + kRecordWait;
    for (;;) {
        std::size_t seen = 0;
        for (const sim::CallRecord& record : m_simulator.calls()) {
            if (!platform::equalsIgnoreCase(record.port, port) || seen++ < logged)
                continue;
            ++logged;
            std::string error;
            if (!m_log.write(record, result, error))
                m_logError = error;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // The line never went off-hook (no line voltage): the exchange saw no call at all.
            sim::CallRecord never;
            never.port = port;
            std::string error;
            if (!m_log.write(never, result, error))
                m_logError = error;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace peltra::shell
