// The controller thread, the only place where tasks and lines meet: it hands rows to free lines,
// takes each call's outcome to the task that owns the row, runs the scheduler every minute, and
// carries out the operator's pause, resume and local-phone commands.
#pragma once

#include "calls/ListLine.h"
#include "config/AppSettings.h"
#include "engine/ListActiveTasks.h"
#include "engine/StationFlags.h"
#include "platform/sync/Event.h"
#include "platform/sync/WorkerThread.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace peltra::engine {

// The caption of the controller's notices.
inline constexpr char kStationCaption[] = "PELTRA";

// The scheduling state and the local-phone state as the status bar shows them, and the notices
// the commands give. Called on the thread that gave the command, or on the controller thread
// for a change it followed; must not block.
class StationView {
public:
    virtual ~StationView() = default;
    virtual void showSchedulerState(const std::string& /*text*/, bool /*paused*/) {}
    virtual void showLocalPhoneState(const std::string& /*text*/, bool /*on*/) {}
    virtual void showNotice(const std::string& /*caption*/, const std::string& /*text*/) {}
    // A change the station followed without being told: a station-wide value changed in the
    // store by another program, a configured port gone or back. One line.
    virtual void noteChange(const std::string& /*text*/) {}
};

// Told of every call that ended, when the controller takes its result: the line, its port, the
// call's result code (0 delivered, 1 no answer, 2 hung up, else an error), the row called and,
// for an error, its reason as the line gave it. Called on the controller thread; must not block.
class CallOutcomeListener {
public:
    virtual ~CallOutcomeListener() = default;
    virtual void callEnded(unsigned line, const std::string& port, std::uint32_t result,
                           const calls::TaskLink& link, const std::string& reason) = 0;
};

// The status texts for the flags as they are. Local-phone mode with a number that cannot be
// dialled makes no calls at all, and its text says so.
std::string schedulerStateText(bool paused);
std::string localPhoneStateText(bool on, const std::string& number);
// The notices of the pause and resume commands, and of local-phone mode switched on or off.
std::string schedulerNotice(bool paused);
std::string localPhoneNotice(bool on, const std::string& number);
// Why local-phone mode is not switched on with that number.
std::string localPhoneRefusal(const std::string& number);

class Controller : public calls::LineEvents {
public:
    // shutdown: the station's ShutdownEvent; wake: SchedulerWakeEvent (auto reset). Everything
    // given must outlive the controller.
    Controller(ListActiveTasks& tasks, calls::ListLine& lines, StationFlags& flags, config::AppSettings& settings,
               platform::Event& shutdown, platform::Event& wake);
    ~Controller() override;
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    void setView(StationView* view) { m_view = view; }
    void setOutcomeListener(CallOutcomeListener* listener) { m_outcomes = listener; }
    // The scheduler timer's period (one minute at the station).
    void setTickInterval(std::chrono::milliseconds interval) { m_tickInterval = interval; }
    // Run on the controller thread at every wake-up, after the flags have been read from the
    // store again and before the pass: the station's look at the configured ports.
    void setPortCheck(std::function<void()> check) { m_portCheck = std::move(check); }

    void start();
    bool running() const { return m_thread.running(); }
    // Waits for the thread to end after ShutdownEvent, at most timeoutMs; true when it did.
    bool join(std::uint32_t timeoutMs);

    // "Look at this line": a call result waits, or the line is new and free. Any thread.
    void postLineEvent(unsigned lineNumber) override;
    // "Offer work to every free line" (what each wake-up does).
    void postOfferAll();

    // The operator's commands: each changes the flag, writes the store, wakes the scheduler at
    // once and tells the view.
    void pause();
    void resume();
    // Local-phone mode: every call dials number; without update nothing is written to the tables.
    // Switching it on with a number that cannot be dialled is refused with a notice: nothing is
    // changed or stored, and false is returned.
    bool setLocalPhone(bool on, const std::string& number, bool update);

private:
    enum class Kind { Line, OfferAll };
    struct Message {
        Kind kind;
        unsigned line;
    };

    std::uint32_t run();
    void post(Message message);
    void handle(const Message& message);
    void lineEvent(unsigned line);
    void offer(unsigned line);
    // Takes the flags changed in the store since the last wake-up and shows each change.
    void followStore();

    ListActiveTasks& m_tasks;
    calls::ListLine& m_lines;
    StationFlags& m_flags;
    config::AppSettings& m_settings;
    platform::Event& m_shutdown;
    platform::Event& m_wake;
    StationView* m_view = nullptr;
    CallOutcomeListener* m_outcomes = nullptr;
    std::chrono::milliseconds m_tickInterval{60000};
    std::function<void()> m_portCheck;

    std::mutex m_queueMutex;
    std::deque<Message> m_queue;
    platform::Event m_posted{false, false};
    platform::WorkerThread m_thread;
};

}  // namespace peltra::engine
