// The line simulator: simulated ports SIM1..SIMn, the exchange behind them and its call log.
#include "sim/Simulator.h"

#include "sim/SimulatorCore.h"
#include "platform/audio/WavFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>

namespace peltra::sim {
namespace {

bool isDialSymbol(char c)
{
    return (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
}

}  // namespace

// ---- SimulatorCore ----------------------------------------------------------------------------

SimulatorCore::SimulatorCore(unsigned lineCount, SimOptions options)
    : m_lineCount(lineCount), m_options(std::move(options)), m_lines(lineCount, nullptr)
{
}

void SimulatorCore::start()
{
    m_exchange = std::thread([this] { runExchange(); });
    m_recorder = std::thread([this] { runRecorder(); });
}

void SimulatorCore::stop()
{
    {
        const std::lock_guard lock(m_wakeMutex);
        m_exchangeStopping = true;
    }
    m_wakeChanged.notify_all();
    m_exchange.join();

    std::vector<FinishedCall> finished;
    {
        const std::lock_guard lock(m_linesMutex);
        for (SimLine*& line : m_lines) {
            if (line)
                line->detach(finished);
            line = nullptr;
        }
    }
    submit(finished);

    {
        const std::lock_guard lock(m_queueMutex);
        m_recorderStopping = true;
    }
    m_queueChanged.notify_all();
    m_recorder.join();
}

std::optional<unsigned> SimulatorCore::indexOf(const std::string& name) const
{
    if (name.size() < 4 || name.size() > 13)
        return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "SIM"[i])
            return std::nullopt;
    // A plain decimal number without leading zeros: "SIM01" is no line's name.
    if (name[3] == '0')
        return std::nullopt;
    std::uint64_t number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    if (number < 1 || number > m_lineCount)
        return std::nullopt;
    return static_cast<unsigned>(number - 1);
}

void SimulatorCore::removeLine(SimLine* line)
{
    const std::lock_guard lock(m_linesMutex);
    std::replace(m_lines.begin(), m_lines.end(), line, static_cast<SimLine*>(nullptr));
}

PartyBehaviour SimulatorCore::behaviourFor(const std::string& number) const
{
    std::shared_ptr<const std::function<PartyBehaviour(const std::string&)>> chooser;
    {
        const std::lock_guard lock(m_behaviourMutex);
        const auto it = m_behaviours.find(number);
        if (it != m_behaviours.end())
            return it->second;
        if (!m_chooser)
            return m_defaultBehaviour;
        chooser = m_chooser;
    }
    return (*chooser)(number);
}

PartyBehaviour SimulatorCore::defaultBehaviour() const
{
    const std::lock_guard lock(m_behaviourMutex);
    return m_defaultBehaviour;
}

bool SimulatorCore::isRegistered(const std::string& number) const
{
    const std::lock_guard lock(m_behaviourMutex);
    return m_behaviours.count(number) != 0;
}

LineCondition SimulatorCore::idleCondition() const
{
    const std::lock_guard lock(m_behaviourMutex);
    return m_defaultBehaviour.condition;
}

void SimulatorCore::wake()
{
    {
        const std::lock_guard lock(m_wakeMutex);
        m_wakePending = true;
    }
    m_wakeChanged.notify_one();
}

void SimulatorCore::submit(std::vector<FinishedCall>& calls)
{
    if (calls.empty())
        return;
    {
        const std::lock_guard lock(m_queueMutex);
        if (!m_recorderStopped)
            for (FinishedCall& call : calls)
                m_toRecord.push_back(std::move(call));
    }
    calls.clear();
    m_queueChanged.notify_one();
}

// The exchange thread: brings every open line up to the present whenever one of them is due or
// has changed, and passes on the calls that ended.
void SimulatorCore::runExchange()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock wakeLock(m_wakeMutex);
    while (!m_exchangeStopping) {
        m_wakePending = false;
        wakeLock.unlock();

        const Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        std::vector<FinishedCall> finished;
        {
            const std::lock_guard lock(m_linesMutex);
            for (SimLine* line : m_lines)
                if (line)
                    line->service(now, finished, next);
        }
        submit(finished);

        wakeLock.lock();
        const auto woken = [this] { return m_wakePending || m_exchangeStopping; };
        if (next == Clock::time_point::max())
            m_wakeChanged.wait(wakeLock, woken);
        else
            m_wakeChanged.wait_until(wakeLock, next, woken);
    }
}

// The recorder thread: numbers the ended calls, writes their recordings and logs them.
void SimulatorCore::runRecorder()
{
    for (;;) {
        FinishedCall call;
        {
            std::unique_lock lock(m_queueMutex);
            m_queueChanged.wait(lock, [this] { return !m_toRecord.empty() || m_recorderStopping; });
            if (m_toRecord.empty()) {
                m_recorderStopped = true;
                return;
            }
            call = std::move(m_toRecord.front());
            m_toRecord.pop_front();
        }
        std::size_t number = 0;
        {
            const std::lock_guard lock(m_logMutex);
            number = m_log.size() + 1;
        }
        call.record.callNumber = number;
        if (!m_options.recordPath.empty()) {
            call.record.recording = recordingPath(number);
            if (!platform::writeWav(call.record.recording, call.audio, call.record.recordingError) &&
                call.record.recordingError.empty())
                call.record.recordingError = "cannot write the recording";
        }
        {
            const std::lock_guard lock(m_logMutex);
            m_log.push_back(std::move(call.record));
        }
        m_logChanged.notify_all();
    }
}

std::filesystem::path SimulatorCore::recordingPath(std::size_t callNumber) const
{
    if (callNumber <= 1)
        return m_options.recordPath;
    std::filesystem::path path = m_options.recordPath;
    const std::string stem = path.stem().string() + "-" + std::to_string(callNumber);
    path.replace_filename(stem + path.extension().string());
    return path;
}

// ---- Simulator --------------------------------------------------------------------------------

Simulator::Simulator(unsigned lineCount, SimOptions options)
    : m_core(std::make_shared<SimulatorCore>(lineCount, std::move(options)))
{
    m_core->start();
}

Simulator::~Simulator()
{
    m_core->stop();
}

unsigned Simulator::lineCount() const
{
    return m_core->m_lineCount;
}

const SimOptions& Simulator::options() const
{
    return m_core->m_options;
}

void Simulator::setDefaultBehaviour(PartyBehaviour behaviour)
{
    const LineCondition condition = behaviour.condition;
    {
        const std::lock_guard lock(m_core->m_behaviourMutex);
        m_core->m_defaultBehaviour = std::move(behaviour);
    }
    {
        const std::lock_guard lock(m_core->m_linesMutex);
        for (SimLine* line : m_core->m_lines)
            if (line)
                line->setIdleCondition(condition);
    }
    m_core->wake();
}

bool Simulator::setBehaviour(const std::string& number, PartyBehaviour behaviour)
{
    if (number.empty() || !std::all_of(number.begin(), number.end(), isDialSymbol))
        return false;
    const std::lock_guard lock(m_core->m_behaviourMutex);
    m_core->m_behaviours[number] = std::move(behaviour);
    return true;
}

void Simulator::clearBehaviours()
{
    const std::lock_guard lock(m_core->m_behaviourMutex);
    m_core->m_behaviours.clear();
}

void Simulator::setBehaviourChooser(std::function<PartyBehaviour(const std::string& dialed)> chooser)
{
    auto shared = chooser ? std::make_shared<const std::function<PartyBehaviour(const std::string&)>>(std::move(chooser))
                          : nullptr;
    const std::lock_guard lock(m_core->m_behaviourMutex);
    m_core->m_chooser = std::move(shared);
}

std::vector<CallRecord> Simulator::calls() const
{
    const std::lock_guard lock(m_core->m_logMutex);
    return m_core->m_log;
}

bool Simulator::waitForCalls(std::size_t count, std::uint32_t timeoutMs) const
{
    std::unique_lock lock(m_core->m_logMutex);
    return m_core->m_logChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [&] { return m_core->m_log.size() >= count; });
}

std::unique_ptr<SimLine> Simulator::openLine(const std::string& name, int& error)
{
    const auto index = m_core->indexOf(name);
    if (!index) {
        error = ENOENT;
        return nullptr;
    }
    const std::lock_guard lock(m_core->m_linesMutex);
    if (m_core->m_lines[*index]) {
        error = EBUSY;
        return nullptr;
    }
    std::unique_ptr<SimLine> line(new SimLine(m_core, "SIM" + std::to_string(*index + 1), m_core->idleCondition()));
    m_core->m_lines[*index] = line.get();
    error = 0;
    return line;
}

std::unique_ptr<platform::SerialPort> Simulator::open(const std::string& name, int& error)
{
    return openLine(name, error);
}

std::vector<std::string> Simulator::candidateNames()
{
    std::vector<std::string> names;
    for (unsigned i = 1; i <= m_core->m_lineCount; ++i)
        names.push_back("SIM" + std::to_string(i));
    return names;
}

SimLine* Simulator::line(const std::string& name)
{
    const auto index = m_core->indexOf(name);
    if (!index)
        return nullptr;
    const std::lock_guard lock(m_core->m_linesMutex);
    return m_core->m_lines[*index];
}

}  // namespace peltra::sim
