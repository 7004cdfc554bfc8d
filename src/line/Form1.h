// The line device: one telephone line on one serial port, from port signals to a whole call.
#pragma once

#include "line/LineDevice.h"
#include "line/LineInterfaces.h"
#include "line/PhonogramLibrary.h"
#include "platform/serial/SerialPort.h"
#include "platform/sync/Event.h"
#include "platform/sync/WorkerThread.h"
#include "platform/timer/TimerService.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace peltra::line {

// The line's fixed waits, in ms. Tests shorten them; the station keeps the defaults.
struct LineTimings {
    std::uint32_t debounceMs = 200;          // a carrier change must hold this long
    std::uint32_t lineReadyWaitMs = 5000;    // an attempt waits this long for normal polarity
    std::uint32_t polarityFaultMs = 2000;    // "полярность!" stays this long before giving up
    std::uint32_t interDigitMs = kInterDigitPauseMs;  // pause after each pulse-dialled digit
};

// What every line of the station shares.
struct LineEnvironment {
    LineEnvironment(platform::PortOpener& portOpener, platform::TimerService& timerService,
                    platform::Event& shutdownEvent, CallSettingsSource& settingsSource)
        : ports(portOpener), timers(timerService), shutdown(shutdownEvent), settings(settingsSource)
    {
    }

    platform::PortOpener& ports;
    platform::TimerService& timers;    // pulse dialing, debounce and every delay
    platform::Event& shutdown;         // the station's ShutdownEvent (manual reset)
    CallSettingsSource& settings;
    std::filesystem::path library = "peltra.awf";  // the phonogram library
    LineTimings timings;
};

// One line. The adapter is driven through three signals of its port:
//
//   DTR, RTS ──► hook relay (off-hook: DTR dropped and RTS raised); pulse dialing toggles them
//   carrier  ◄── line voltage of normal polarity; drops when the exchange reverses it (answer)
//   TXD      ──► 1-bit delta-modulated speech at 115200 baud
//
// A call runs on the session thread: check the line, dial, wait for the reversal, then play the
// phrase list, which flows
//
//   library chunk ──► modulator ──► hand-over slot ──► writer thread ──► port
//   (playback thread, one phrase ahead)                 (raised priority)
//
// and ends with exactly one result to the CallResultSink, unless the line or the station closes
// first; an error result carries its reason. The whole phrase list is looked up in the library
// before the line is seized, so a message that cannot be played is never dialled. The monitor
// thread turns the carrier input into the debounced polarity events.
//
// Delivery: the message counts as delivered once the port has sent the last byte before the
// delivery marker (or of the whole list, when it has none), not when the byte entered the port's
// transmit queue; a hang-up counts from the moment the carrier changed, not from the end of the
// debounce that confirmed it.
//
// Threads: Open, StartCall, Stop and the destructor are called by the line's owner, one at a
// time. The view and the owner are set before Open and stay alive until Stop.
class Form1 final : public LineDevice {
public:
    explicit Form1(LineEnvironment environment);
    // Stop, then the port is closed.
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    void setView(LineView* view) override;
    void setOwner(CallResultSink* owner) override;

    // Opens and sets up the port, puts the line on-hook and starts the monitor thread. True at
    // once when the line is already open. On failure the view gets the system's text under the
    // caption "Ошибка работы с портом <port> Открытие" and the display "Ошибка открытия".
    bool Open(unsigned lineNumber, const std::string& portName) override;

    // Off-hook: drop DTR, then raise RTS; on-hook: raise DTR, then drop RTS. A failure is reported
    // with the system's text and leaves the hook state as it was.
    bool SetHook(bool offHook);

    // Signals CloseEvent and joins the session and monitor threads (20 s each). Once only.
    void Stop() override;

    // The phrase codes of the next call, filled by the caller before StartCall. Not to be touched
    // while a call runs.
    std::vector<std::string>& GetPhraseList() override { return m_phrases; }

    // Starts a call of number with the port's settings read now. False when the line is not
    // open, is stopped, or a call is still running.
    bool StartCall(const std::string& number) override;

    // The system-error report of this line: the system's text for errno under caption.
    void ReportSystemError(const std::string& caption);

    bool isOpen() const { return m_isOpen.load(); }
    bool callRunning() const override { return m_session.running(); }
    unsigned lineNumber() const { return m_lineNumber; }
    const std::string& portName() const { return m_portName; }
    bool offHook() const { return m_hook.load() == 1; }
    // The debounced polarity: true while normal.
    bool normalPolarity() const { return m_normalPolarity.isSet(); }

    // Sends one pre-modulated stream (a .fon file's bytes) through the writer, as the line's test
    // console does, and returns the writer's code. Not while a call runs.
    std::uint32_t PlayStream(std::vector<std::uint8_t> stream);

private:
    // Monitor thread: carrier changes, debounced by 200 ms, become the polarity events. raw is
    // the carrier as Open read it.
    std::uint32_t monitorThread(bool raw);
    // Sets one polarity event and resets the other. Monitor thread (and Open, before it starts).
    void commitPolarity(bool normal);

    // Session thread: up to ten attempts until a dial succeeds, then one result.
    std::uint32_t sessionThread();
    // The answer wait after dialing: 0 or 1 (the station or the line closes), kAnswerCame,
    // kPortLost, kPlaybackFailed, or waitTimedOut when WaitAnswer seconds passed.
    static constexpr int kAnswerCame = 2;
    static constexpr int kPortLost = 3;
    static constexpr int kPlaybackFailed = 4;
    int waitForAnswer();
    // Playback thread: phrases from the library, one ahead, into the hand-over slot.
    std::uint32_t playbackThread();
    // Writer thread: the slot's buffers to the port until the end, a hang-up or shutdown.
    std::uint32_t writerThread();
    std::uint32_t WriteBlock(std::span<const std::uint8_t> data);
    // Waits until the port has sent what it queued, and for the verdict on a hang-up the debounce
    // has not yet confirmed; 0, or the hang-up or shutdown that came first.
    std::uint32_t drainTransmit();
    // Writer: once the delivery offset is in the port, when its last byte leaves the line.
    void noteDelivery();
    // Writer: the error text of a failed write, for the line's log and the call's reason.
    std::uint32_t writeFailed(const std::string& text);
    // Session: the library opened for the call, with every phrase of the list in it; false with
    // the reason when the message cannot be played.
    bool prepareMessage();
    // Ends the writer when it no longer takes buffers: cancels its write, signals it, joins it.
    void abortWriter();
    // Whether a return to normal polarity ends the writer as a hang-up.
    bool hangUpWatching() const;
    // Sends one stream through a writer of its own with no hang-up watch (tone dialing, the
    // test console); the writer's code.
    std::uint32_t sendStream(std::vector<std::uint8_t> stream);

    bool Dial(const std::string& number);
    bool DialPulses(std::uint32_t breaks);
    std::uint32_t DialTones(const std::string& dialString);
    // Pulse dialing's hook change from the timer callback: no report, no waiting.
    void switchLoop(bool closed);
    struct PulseDigit;
    // The pulse timer callback: the next make or break of a digit, or its end.
    void pulseTick(const std::shared_ptr<PulseDigit>& digit);

    // Waits ms, or less when the line or the station closes; true when the whole time passed.
    bool pause(std::uint32_t ms);
    bool closing() const;
    void resetHandOver();

    LineEnvironment m_env;
    LineView m_silentView;
    LineView* m_view = &m_silentView;
    CallResultSink* m_owner = nullptr;

    unsigned m_lineNumber = 0;
    std::string m_portName;
    std::string m_errorCaption;
    std::unique_ptr<platform::SerialPort> m_port;
    std::atomic<bool> m_isOpen{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<std::uint8_t> m_hook{0};

    platform::Event m_close{true, false};
    platform::Event m_normalPolarity{true, false};
    platform::Event m_reversedPolarity{true, false};
    platform::Event m_hookChanged{false, false};
    // Set when the monitor lost the port (an adapter pulled out): a call in progress ends in error.
    // m_portFailure, written before the event is set, says why.
    platform::Event m_portFailed{true, false};
    std::string m_portFailure;
    platform::Event m_debounceElapsed{false, false};

    platform::Event m_writerStart{false, false};
    platform::Event m_bufferReady{false, false};
    platform::Event m_bufferTaken{false, false};
    platform::Event m_endOfData{false, false};
    platform::Event m_playbackError{false, false};
    platform::Event m_answered{false, false};
    platform::Event m_noAnswer{false, false};
    // Asks a writer that stopped taking buffers to give up.
    platform::Event m_writerAbort{true, false};

    // The hand-over slot: written by the playback thread (or tone dialing) only while the writer
    // is idle, read by the writer only after BufferReadyEvent.
    std::vector<std::uint8_t> m_slot;
    bool m_slotFull = false;
    std::atomic<bool> m_noHangUpWatch{false};

    std::vector<std::string> m_phrases;
    std::string m_number;
    CallSettings m_settings;
    // The library of the call, opened by the session before dialing and read by the playback.
    std::optional<PhonogramLibrary> m_library;

    // Why the call failed: the session's reason, and the playback's and the writer's, each
    // written by its own thread and read by the one that joins it.
    std::string m_failure;
    std::string m_playbackFailure;
    std::string m_writerFailure;

    // Delivery bookkeeping. The monitor stamps (steady clock, ns) the carrier change it commits
    // before it signals the polarity, and keeps m_carrierUnsettled while a change waits for its
    // debounce. The playback publishes the stream offset at which the message is delivered; the
    // writer counts the bytes the port accepted and works out when that offset leaves the line.
    static constexpr std::uint64_t kOffsetUnknown = ~std::uint64_t{0};
    static constexpr std::int64_t kMomentUnknown = INT64_MAX;
    std::atomic<std::int64_t> m_polarityChangedNs{0};
    std::atomic<bool> m_carrierUnsettled{false};
    std::atomic<std::uint64_t> m_deliveryOffset{kOffsetUnknown};
    std::uint64_t m_queuedBytes = 0;
    std::int64_t m_deliveredNs = kMomentUnknown;

    platform::WorkerThread m_monitor;
    platform::WorkerThread m_session;
    platform::WorkerThread m_playback;
    platform::WorkerThread m_writer;
};

// One entry of the probe's list of present ports.
struct ComString {
    std::string name;
    bool usedAsLine = false;
    int openError = 0;  // 0: usable; else the errno that opening gave
    std::string reason;  // why it is not usable when the errno's text does not say (held by whom)
};

// Tries every name the opener knows, without setting any port up, and lists the ports that
// exist: those that could be opened, those held by one of the station's own lines (heldByLine),
// and those that fail for a reason other than "no such device".
std::vector<ComString> ProbePorts(platform::PortOpener& ports,
                                  const std::vector<std::string>& heldByLines);

}  // namespace peltra::line
