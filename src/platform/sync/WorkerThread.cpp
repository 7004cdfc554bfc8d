// A thread that runs one job and keeps its exit code.
#include "platform/sync/WorkerThread.h"

#include <system_error>

namespace peltra::platform {

WorkerThread::WorkerThread() : m_finished(true, true) {}

WorkerThread::~WorkerThread()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool WorkerThread::running() const
{
    return m_thread.joinable() && !m_finished.isSet();
}

bool WorkerThread::start(Body body)
{
    if (m_thread.joinable()) {
        if (!m_finished.isSet())
            return false;
        m_thread.join();
    }
    m_finished.reset();
    try {
        m_thread = std::thread([this, body = std::move(body)] {
            m_exitCode.store(body());
            m_finished.set();
        });
    } catch (const std::system_error&) {
        m_finished.set();
        return false;
    }
    return true;
}

bool WorkerThread::join(std::uint32_t timeoutMs)
{
    if (!m_thread.joinable())
        return true;
    if (!m_finished.wait(timeoutMs))
        return false;
    m_thread.join();
    return true;
}

}  // namespace peltra::platform
