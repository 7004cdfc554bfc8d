// A thread that runs one job, keeps its exit code and signals its end, so others can wait for it
// among their events.
#pragma once

#include "platform/sync/Event.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace peltra::platform {

// Owned and started by one thread; finished() and exitCode() may be read from any thread.
class WorkerThread {
public:
    using Body = std::function<std::uint32_t()>;

    WorkerThread();
    // Joins the thread, however long it takes: a running job must never outlive what it uses.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs body on a new thread; its return value becomes the exit code. Joins a previous job that
    // has finished. False when a job is still running or no thread could be created.
    bool start(Body body);

    // Manual-reset; reset by start(), set when the body has returned.
    Event& finished() { return m_finished; }
    bool running() const;

    // Waits up to timeoutMs for the body to return, then joins. False on time-out (the thread
    // goes on running and stays joinable).
    bool join(std::uint32_t timeoutMs = infiniteTimeout);

    // The body's return value, once finished.
    std::uint32_t exitCode() const { return m_exitCode.load(); }

private:
    Event m_finished;
    std::atomic<std::uint32_t> m_exitCode{0};
    std::thread m_thread;
};

}  // namespace peltra::platform
