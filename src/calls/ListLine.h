// The line pool: one line device per configured port, each line's state and task link, the line
// list it shows, and the call outcome entry every line reports to.
#pragma once

#include "line/Form1.h"
#include "line/LineDevice.h"
#include "line/LineInterfaces.h"
#include "platform/sync/Event.h"
#include "platform/sync/WorkerThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace peltra::calls {

// Line states as the distributor and the pool use them.
inline constexpr int kLineNotInService = 0;
inline constexpr int kLineFree = 1;
inline constexpr int kLineBusy = 2;
inline constexpr int kLineOutOfOrder = 3;
inline constexpr int kLineDelivered = 4;   // result "Нормально" waiting for the distributor
inline constexpr int kLineNoAnswer = 5;    // result "Нет ответа" waiting
inline constexpr int kLineHungUp = 6;      // result "Положили трубку" waiting
inline constexpr int kLineError = 7;       // result "Ошибка" waiting
inline constexpr int kLineLastState = kLineError;

// The icon of a line's row: free, out of order, or working (a call or its waiting result).
enum class LineIcon { Free, OutOfOrder, Working };

// The "Состояние" text of a state; nothing for state 0 (the row keeps its text) or a value that
// is no state.
std::optional<std::string> lineStateText(int state);
// The row icon of a state; nothing where the row keeps its icon.
std::optional<LineIcon> lineStateIcon(int state);
// The line state that holds a call result: 0 → 4, 1 → 5, 2 → 6, anything else → 7.
int lineStateForResult(std::uint32_t result);
// The answer word of a call result: "Нормально", "Нет ответа", "Положили трубку" or "Ошибка".
std::string answerWord(std::uint32_t result);

// The main window's line list ("Порт", "Состояние", "Задание", "Примечания"), its answer field
// and its message boxes. The pool calls it from its own thread, the distributor's thread and the
// lines' session threads, but never while holding its lock and one call at a time, in the order
// the changes happened. A call must return quickly (the GUI queues the change to its UI thread;
// the headless station writes a log line); it may call back into the pool.
class LineListView {
public:
    virtual ~LineListView() = default;

    virtual void lineAdded(unsigned /*number*/, const std::string& /*port*/) {}
    virtual void lineRemoved(unsigned /*number*/) {}
    // The whole row after a change. remark is "Номер <number>" while a call runs, else empty.
    virtual void lineChanged(unsigned /*number*/, const std::string& /*stateText*/,
                             const std::string& /*taskText*/, LineIcon /*icon*/,
                             const std::string& /*remark*/) {}
    // The word of the last call result, for the answer field.
    virtual void showAnswer(const std::string& /*word*/) {}
    // A message box, shown without anyone waiting for it.
    virtual void showMessage(const std::string& /*caption*/, const std::string& /*text*/) {}
};

// The distributor side: "look at this line" (a call result waits, or a new line is free). Called
// after the pool's lock is released, from the pool thread or a line's session thread. Must only
// queue the request and return; it must not call back into the pool on the calling thread.
class LineEvents {
public:
    virtual ~LineEvents() = default;
    virtual void postLineEvent(unsigned lineNumber) = 0;
};

// The distributor's link from a line to the row it is calling.
struct TaskLink {
    unsigned taskId = 0;
    long long row = 0;
    std::string text;  // names the task in the "Задание" column
};

// One line: its port, number, device and where it stands. Owned by the pool; every field but
// the device is guarded by the pool's lock. Destroying it stops the device, joining its threads.
class Line {
public:
    Line(unsigned number, std::string port, std::unique_ptr<line::LineDevice> device,
         std::unique_ptr<line::LineView> view);
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const unsigned number;
    const std::string portName;
    int state = kLineOutOfOrder;
    TaskLink task;
    bool toBeRemoved = false;
    // Why the last call ended in error (the line's own text); empty after any other result.
    std::string callError;

    // The row as last shown.
    std::string stateText;
    std::string taskText;
    std::string remark;
    LineIcon icon = LineIcon::OutOfOrder;

    // Declared before the device, so the device (which uses it) goes first.
    std::unique_ptr<line::LineView> view;
    std::unique_ptr<line::LineDevice> device;
};

// The pool. A pool thread, started by the constructor, brings the set of lines into line with
// the configured ports each time LinesChangedEvent is signalled, and stops every line when the
// station's ShutdownEvent (the environment's) or Shutdown comes.
//
// Locking: one mutex guards the vector and every record's state, task link and row. It is never
// held while calling the list view, LineEvents, the configured-port source or a device operation
// that waits for a line's threads (Stop): a line's session thread reports through callFinished,
// which takes the lock, so stopping a line under it could deadlock. Records leave the vector
// under the lock and are stopped and destroyed after it is released; a session that reports
// after that finds no line and reports nothing. Open and StartCall of a device do run under the
// lock: they start threads but never wait for one that could want the lock.
//
// Every operation may be called from any thread. An unknown line number makes an operation do
// nothing and return the neutral value given.
class ListLine : public line::CallResultSink {
public:
    // The names of the ports that are present and marked as lines. Called on the pool thread at
    // every synchronisation, without the pool's lock held (it may call FindByPortName).
    using ConfiguredPorts = std::function<std::vector<std::string>()>;
    // The monitor view of a new line (nothing: a silent one). Called under the pool's lock, like
    // the device's Open that follows, so neither it nor the view may call the pool on the
    // calling thread. The view lives as long as the line.
    using LineViewFactory =
        std::function<std::unique_ptr<line::LineView>(unsigned number, const std::string& port)>;
    // The device of a new line's port, called under the pool's lock like the view factory.
    // Nothing given: every port is a serial line (Form1).
    using LineDeviceFactory = std::function<std::unique_ptr<line::LineDevice>(const std::string& port)>;

    // environment: what every line shares; its shutdown event is the station's ShutdownEvent.
    // linesChanged: the auto-reset LinesChangedEvent. listView may be null. All of them, and
    // what the environment refers to, must outlive the pool.
    ListLine(const line::LineEnvironment& environment, platform::Event& linesChanged,
             ConfiguredPorts configuredPorts, LineViewFactory viewFactory = {},
             LineListView* listView = nullptr, LineDeviceFactory deviceFactory = {});
    // Shutdown, then waits for the pool thread however long it takes, and stops what is left.
    ~ListLine() override;
    ListLine(const ListLine&) = delete;
    ListLine& operator=(const ListLine&) = delete;

    // Where "look at this line" goes; null: nowhere. Once this returns with another target, the
    // old one is no longer called.
    void setLineEvents(LineEvents* events);

    // Creates a line for port, opens it and shows its row: state 1 when it opened, else state 3
    // with the message "Невозможно инициализировать порт <port>". The new number, or nothing
    // once the pool has stopped.
    std::optional<unsigned> Add(const std::string& port);

    // Stores the state (0 to 7) and updates the row. A line that is to be removed and reaches 1
    // or 3 signals LinesChangedEvent, so the next synchronisation removes it. A waiting result
    // (4 to 7) is never replaced by 2: the call has already ended. False for an unknown line, a
    // value that is no state, or that refused change.
    bool SetState(unsigned lineNumber, int state);
    // The state, or 0.
    int GetState(unsigned lineNumber) const;

    bool SetTaskInfo(unsigned lineNumber, const TaskLink& link);
    std::optional<TaskLink> GetTaskInfo(unsigned lineNumber) const;

    // The phrase list of the line's next call, copied in and out under the lock, so the line may
    // go away meanwhile. Both fail (false / nothing) while a call runs on the line.
    bool SetPhraseList(unsigned lineNumber, std::vector<std::string> phrases);
    std::optional<std::vector<std::string>> GetPhraseList(unsigned lineNumber) const;

    // Starts a call of number on a free line and shows "Номер <number>" in its row. The line is
    // then in state 2 before anyone else sees it, so a result that comes at once is never
    // overwritten; on failure it is in state 3. False, and nothing changed, when the line is
    // not free (state 1) or is to be removed (its port has left the configuration).
    bool StartCall(unsigned lineNumber, const std::string& number);

    // The port name, or "".
    std::string GetPortName(unsigned lineNumber) const;
    // Why the line's last call ended in error, or "" (also after any other result).
    std::string GetCallError(unsigned lineNumber) const;

    // The first line in creation order that is free (state 1) and not to be removed, or nothing.
    std::optional<unsigned> FirstFree() const;
    // The next such line after lineNumber, or nothing (also for an unknown lineNumber).
    std::optional<unsigned> NextFree(unsigned lineNumber) const;

    // Whether a line exists for port (compared without regard to case).
    bool FindByPortName(const std::string& port) const;
    // The ports of all lines, in creation order (the port probe's "held by a line" list).
    std::vector<std::string> portNames() const;

    // Stops the pool thread, which stops and destroys every line, waiting at most 20000 ms.
    // Only the first call does anything.
    void Shutdown();

    // How many synchronisations have completed.
    std::uint64_t synchronisations() const;

    // The call outcome entry, on a line's session thread: the state for the result and the error's
    // reason, the answer word, then "look at this line" to the distributor.
    void callFinished(unsigned lineNumber, std::uint32_t result, const std::string& reason) override;
    // A free line whose carrier went away is out of order (3) until it comes back; one that was
    // out of order becomes free and is offered to the distributor.
    void lineReadiness(unsigned lineNumber, bool ready, const std::string& why) override;

private:
    using Note = std::function<void(LineListView&)>;
    using LineHandle = std::unique_ptr<Line>;

    std::uint32_t poolThread();
    void synchronise();

    // The rest assume the lock is held.
    Line* find(unsigned lineNumber) const;
    std::optional<unsigned> freeFrom(std::size_t index) const;
    unsigned addLocked(const std::string& port);
    void applyState(Line& line, int state);
    void noteRow(const Line& line);
    // Waits, a bounded time, for the thread of a session that has already reported to end.
    static bool sessionEnded(const Line& line);

    // Shows the queued notes, in order, once the lock is released.
    void deliverNotes();
    void post(unsigned lineNumber);
    void stopLines(std::vector<LineHandle> lines);

    line::LineEnvironment m_environment;
    platform::Event& m_linesChanged;
    ConfiguredPorts m_configuredPorts;
    LineViewFactory m_viewFactory;
    LineListView* m_listView;
    LineDeviceFactory m_deviceFactory;

    mutable std::mutex m_mutex;
    std::vector<LineHandle> m_lines;     // in creation order
    unsigned m_nextNumber = 0;
    std::vector<Note> m_notes;           // queued for the list view
    bool m_delivering = false;           // some thread is showing the notes
    std::uint64_t m_synchronisations = 0;
    bool m_closed = false;               // the pool thread has taken every line away

    std::mutex m_eventsMutex;            // held while posting, so setLineEvents can retire one
    LineEvents* m_events = nullptr;

    platform::Event m_stop{true, false};
    std::atomic<bool> m_stopped{false};
    platform::WorkerThread m_thread;
};

}  // namespace peltra::calls
