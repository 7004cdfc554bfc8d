// One simulated port: the passive line adapter and, behind it, the telephone exchange's line.
#pragma once

#include "platform/serial/SerialPort.h"
#include "platform/sync/Event.h"
#include "sim/PartyBehaviour.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace peltra::sim {

struct SimulatorCore;
struct FinishedCall;

// What the adapter and the exchange make of the port's signals:
//
// - Hook: the loop is closed (off-hook) exactly while DTR is dropped and RTS raised. The port
//   opens with both raised, on-hook. Going off-hook while idle starts a call.
// - Pulse dialing: a loop break shorter than kMaxBreakMs is a dial break; a make of kDigitGapMs
//   after the last break ends the digit (n breaks give digit n, ten give '0'). An on-hook period
//   of kMaxBreakMs or more ends the call, at the moment the loop opened. Breaks and makes are
//   timed with counterNow() inside setDtr / setRts.
// - Tone dialing: the stream is demodulated back into audio (see Demodulator) and run through a
//   DTMF receiver while the number is not complete.
// - The number is complete when the digits equal a registered number, or when no digit has come
//   for the digit time-out; then the party's behaviour applies (see PartyBehaviour). Digits and
//   loop breaks after that are not taken as dialing.
// - Carrier detect: on while the line has voltage of normal polarity.
// - Transmit: bytes written while the loop is closed are heard: counted, recorded and, while
//   dialing, listened to for DTMF. Bytes sent while on-hook are lost.
//
// Every member may be called from any thread (see SerialPort), including a timer callback:
// none of them blocks for longer than the bookkeeping takes. Destroying an open line ends its
// call as if the caller hung up.
class SimLine final : public platform::SerialPort {
public:
    // Loop breaks shorter than this are dial breaks; longer on-hook periods end the call (ms).
    static constexpr std::uint32_t kMaxBreakMs = 200;
    // A make this long after a break ends the pulse digit (ms).
    static constexpr std::uint32_t kDigitGapMs = 250;
    // The real port's pace (115200 baud, 10 bits a character) and transmit queue, for real-time
    // pacing.
    static constexpr std::uint32_t kBytesPerSecond = 11520;
    static constexpr std::size_t kTransmitQueueBytes = 4096;

    ~SimLine() override;
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // "SIM1", "SIM2", ...: always in capitals, whatever case the port was opened by.
    const std::string& name() const override { return m_name; }

    bool setDtr(bool raised) override;
    bool setRts(bool raised) override;
    bool readCarrier(bool& on) override;
    platform::Event& carrierChanged() override { return m_carrierChanged; }

    // Without real-time pacing every write completes at once. With it the bytes enter the
    // transmit queue as it drains, and the write completes when its last byte is in the queue.
    // Fails with EBUSY while a write is pending.
    bool startWrite(std::span<const std::uint8_t> data) override;
    platform::Event& writeDone() override { return m_writeDone; }
    platform::WriteOutcome writeOutcome() override;
    // The bytes not yet queued are dropped; those already queued are still sent.
    void cancelWrite() override;
    // Empties the transmit queue. A pending write goes on filling it, as on a real port: cancel
    // the write first to silence the line.
    bool purgeTransmit() override;
    // What the transmit queue still holds (transmitQueued()); fails with EIO once unplugged.
    bool transmitPending(std::size_t& bytes) override;

    // Pulls the adapter out: the call ends (the relay drops), a pending write fails with EIO,
    // carrierChanged() is set, and every later operation fails with EIO. The name stays taken
    // until this object is destroyed.
    void unplug();
    bool unplugged() const;
    // The loop is closed.
    bool offHook() const;
    // Bytes waiting in the transmit queue (0 without real-time pacing).
    std::size_t transmitQueued();

private:
    friend class Simulator;
    friend struct SimulatorCore;
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    struct Call;

    SimLine(std::shared_ptr<SimulatorCore> core, std::string name, LineCondition idleCondition);

    // Exchange thread: brings the line up to `now`, hands over finished calls and lowers `next` to
    // the moment the line next needs attention.
    void service(TimePoint now, std::vector<FinishedCall>& finished, TimePoint& next);
    // The condition of the line while idle and dialing (the default party's).
    void setIdleCondition(LineCondition condition);
    // The simulator is going away: end the call and fail as if unplugged.
    void detach(std::vector<FinishedCall>& finished);

    // All below with m_mutex held.
    bool setSignal(bool& signal, bool raised);
    bool loopClosed() const { return !m_dtr && m_rts && !m_unplugged; }
    void advanceTo(TimePoint t);
    // The line's next timed event: what falls due first, and when.
    enum class LineEvent { CallerGone, DigitEnd, DigitTimeout, Party };
    struct Due {
        TimePoint at;
        LineEvent kind;
    };
    std::optional<Due> nextEvent() const;
    void processEvent(const Due& due);
    void processPartyEvent();
    std::optional<TimePoint> transmitDeadline(TimePoint now) const;
    void hookChanged(bool closed, TimePoint t);
    void finishDigit(TimePoint t);
    void appendDigit(char digit, TimePoint t);
    void completeNumber(TimePoint t);
    void endCall(TimePoint hangupAt, bool unplugged);
    void updateCarrier();
    void advanceQueue(TimePoint t);
    void enqueue(std::span<const std::uint8_t> data, TimePoint now);
    void fillQueue();
    void hear(std::span<const std::uint8_t> bytes, TimePoint t);
    void pullPlug(TimePoint now, std::vector<FinishedCall>& finished);

    const std::shared_ptr<SimulatorCore> m_core;
    const std::string m_name;
    const bool m_realTime;
    const std::uint32_t m_digitTimeoutMs;
    platform::Event m_carrierChanged{false, false};
    platform::Event m_writeDone{true, true};

    mutable std::mutex m_mutex;
    bool m_dtr = true;
    bool m_rts = true;
    bool m_unplugged = false;
    LineCondition m_idleCondition;
    bool m_carrier = false;
    std::unique_ptr<Call> m_call;
    std::vector<FinishedCall> m_finished;  // ended, not yet handed to the call log

    // Transmit queue, for real-time pacing. Byte k after m_txEpoch has left the port at
    // m_txEpoch + k / kBytesPerSecond; m_txSent bytes have left since then.
    std::deque<std::uint8_t> m_queue;
    TimePoint m_txEpoch{};
    std::uint64_t m_txSent = 0;
    std::optional<TimePoint> m_queueEmptyAt;  // when the queue last ran dry by sending
    std::span<const std::uint8_t> m_pending;  // the pending write's data
    std::size_t m_pendingPos = 0;             // how much of it is in the queue
    bool m_writePending = false;
    platform::WriteOutcome m_outcome;
};

}  // namespace peltra::sim
