// The line device's port: opening, the hook relay, the monitor thread and shutdown.
#include "line/Form1.h"

#include "platform/errors/SystemError.h"

#include <cerrno>
#include <cstdio>

namespace peltra::line {

using platform::Event;
using platform::waitAny;

namespace {

// How long Stop waits for each thread.
constexpr std::uint32_t kJoinTimeoutMs = 20000;

}  // namespace

Form1::Form1(LineEnvironment environment) : m_env(environment) {}

Form1::~Form1()
{
    Stop();
    // A thread that outlasted Stop's limit is still joined (by its WorkerThread) before the port
    // it uses goes away.
    m_session.join();
    m_monitor.join();
    m_port.reset();
}

void Form1::setView(LineView* view)
{
    m_view = view != nullptr ? view : &m_silentView;
}

void Form1::setOwner(CallResultSink* owner)
{
    m_owner = owner;
}

void Form1::ReportSystemError(const std::string& caption)
{
    const int error = errno;
    m_view->showMessage(caption, platform::systemErrorReport(error));
}

bool Form1::Open(unsigned lineNumber, const std::string& portName)
{
    if (m_isOpen.load())
        return true;
    if (m_stopped.load())
        return false;
    m_lineNumber = lineNumber;
    m_portName = portName;
    m_view->showPortName(portName);
    m_errorCaption = "Ошибка работы с портом " + portName;

    int error = 0;
    m_port = m_env.ports.open(portName, error);
    if (!m_port) {
        m_view->showMessage(m_errorCaption + " Открытие", platform::systemErrorReport(error));
        m_view->setDisplayText("Ошибка открытия");
        m_view->showPolarity(true);
        m_view->showHook(false);
        m_isOpen.store(false);
        return false;
    }

    SetHook(false);
    // The first state is taken at once, without debouncing, before Open returns: a call started
    // right after Open sees the line as it is.
    bool carrier = false;
    if (m_port->readCarrier(carrier)) {
        m_polarityChangedNs.store(platform::counterNowNs());
        commitPolarity(carrier);
        m_view->showCarrier(carrier);
        m_view->showHook(m_hook.load() == 1);
        if (!m_monitor.start([this, carrier] { return monitorThread(carrier); })) {
            m_port.reset();
            return false;
        }
    } else {
        // Without the carrier input the line cannot see an answer: every call will end in error.
        const int error = errno;
        m_portFailure = m_errorCaption + ": " + platform::systemErrorReport(error);
        errno = error;
        ReportSystemError(m_errorCaption);
        m_portFailed.set();
    }
    m_isOpen.store(true);
    return true;
}

bool Form1::SetHook(bool offHook)
{
    if (!m_port)
        return false;
    const bool ok = offHook ? (m_port->setDtr(false) && m_port->setRts(true))
                            : (m_port->setDtr(true) && m_port->setRts(false));
    if (!ok) {
        ReportSystemError(m_errorCaption);
        return false;
    }
    m_hook.store(offHook ? 1 : 0);
    m_hookChanged.set();
    return true;
}

void Form1::Stop()
{
    if (m_stopped.exchange(true))
        return;
    m_close.set();
    if (!m_session.join(kJoinTimeoutMs))
        m_view->appendLog("Сеанс не завершился за 20 с\r\n");
    if (!m_monitor.join(kJoinTimeoutMs))
        m_view->appendLog("Монитор не завершился за 20 с\r\n");
}

bool Form1::closing() const
{
    return m_env.shutdown.isSet() || m_close.isSet();
}

bool Form1::pause(std::uint32_t ms)
{
    return waitAny({&m_env.shutdown, &m_close}, ms) == platform::waitTimedOut;
}

void Form1::commitPolarity(bool normal)
{
    m_carrierUnsettled.store(false);
    // The old state is withdrawn before the new one is signalled: a thread woken by the new
    // state must never still see the old one, or the writer would take the answer's reversal
    // for a hang-up.
    if (normal) {
        m_reversedPolarity.reset();
        m_normalPolarity.set();
    } else {
        m_normalPolarity.reset();
        m_reversedPolarity.set();
    }
    m_view->showPolarity(normal);
}

std::uint32_t Form1::monitorThread(bool raw)
{
    bool committed = raw;
    platform::TimerService::TimerId timer = platform::TimerService::invalidTimer;
    // A timer cancelled just as it fired may still have set the event: a signal before the
    // current deadline is such a stale one and is ignored.
    platform::TimerService::TimePoint deadline{};
    platform::TimerService::TimePoint changedAt{};
    auto killTimer = [&] {
        if (timer != platform::TimerService::invalidTimer)
            m_env.timers.cancel(timer);
        timer = platform::TimerService::invalidTimer;
    };

    for (;;) {
        const int which = waitAny({&m_env.shutdown, &m_close, &m_port->carrierChanged(),
                                   &m_hookChanged, &m_debounceElapsed},
                                  platform::infiniteTimeout);
        switch (which) {
        case 0:
        case 1:
            killTimer();
            return 0;
        case 2: {
            if (!m_port->readCarrier(raw)) {
                const int error = errno;
                m_portFailure = m_errorCaption + ": " + platform::systemErrorReport(error);
                errno = error;
                ReportSystemError(m_errorCaption);
                killTimer();
                m_portFailed.set();
                return kCallError;
            }
            const auto now = platform::counterNow();
            m_view->showCarrier(raw);
            killTimer();
            m_carrierUnsettled.store(raw != committed);
            if (raw != committed) {
                changedAt = now;
                deadline = now + std::chrono::milliseconds(m_env.timings.debounceMs);
                timer = m_env.timers.schedule(deadline, [this] { m_debounceElapsed.set(); });
            }
            break;
        }
        case 3:
            m_view->showHook(m_hook.load() == 1);
            break;
        case 4:
            if (timer == platform::TimerService::invalidTimer || platform::counterNow() < deadline)
                break;
            timer = platform::TimerService::invalidTimer;
            committed = raw;
            // The change happened when the carrier moved, not when the debounce confirmed it.
            m_polarityChangedNs.store(
                std::chrono::duration_cast<std::chrono::nanoseconds>(changedAt.time_since_epoch()).count());
            commitPolarity(committed);
            break;
        default:
            break;
        }
    }
}

std::vector<ComString> ProbePorts(platform::PortOpener& ports,
                                  const std::vector<std::string>& heldByLines)
{
    std::vector<ComString> present;
    for (const std::string& name : ports.candidateNames()) {
        std::string reason;
        const int error = ports.probe(name, reason);
        if (error == 0) {
            present.push_back({name, false, 0, {}});
            continue;
        }
        bool held = false;
        for (const std::string& line : heldByLines)
            held = held || line == name;
        if (held) {
            present.push_back({name, false, 0, {}});
            continue;
        }
        // Linux keeps device nodes for serial ports with no hardware behind them; opening one
        // fails with ENXIO, ENODEV or EIO, which means the same as a missing node.
        if (error != ENOENT && error != ENXIO && error != ENODEV && error != EIO)
            present.push_back({name, false, error, std::move(reason)});
    }
    return present;
}

}  // namespace peltra::line
