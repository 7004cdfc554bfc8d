// One simulated port: the passive line adapter and, behind it, the telephone exchange's line.
#include "sim/SimLine.h"

#include "platform/timer/TimerService.h"
#include "sim/Demodulator.h"
#include "sim/DtmfReceiver.h"
#include "sim/SimulatorCore.h"

#include <algorithm>
#include <cerrno>
#include <map>

// How time moves. Nothing here runs on its own: the line's state changes at the calls of its
// users (hook changes, writes) and at timed events (digit end, hang-up detection, digit time-out,
// the party's answer and hang-up, glitches, bytes leaving the transmit queue). Every entry point
// first brings the line up to the present with advanceTo(now), which handles the timed events in
// the order they fell due, each at its own moment; the exchange thread does the same at the
// moment the next one falls due, so carrier changes happen on time even with nobody calling.

namespace peltra::sim {
namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

Clock::duration ms(std::uint32_t n)
{
    return std::chrono::milliseconds(n);
}

// When byte k after the transmit epoch has left the port (rounded up to the next ns).
Clock::duration sendTime(std::uint64_t bytes)
{
    const std::uint64_t ns = (bytes * 1'000'000'000ull + SimLine::kBytesPerSecond - 1) / SimLine::kBytesPerSecond;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ns));
}

// How many bytes have left the port `elapsed` after the epoch.
std::uint64_t bytesSentIn(Clock::duration elapsed)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    return ns <= 0 ? 0 : static_cast<std::uint64_t>(ns) * SimLine::kBytesPerSecond / 1'000'000'000ull;
}

// While bytes are being sent the exchange looks at the line at least this often, so DTMF digits
// and the recording keep up with the sound. The ticks fall on one grid for every line, so many
// lines sending at once share the exchange's wake-ups.
constexpr Clock::duration kTransmitTick = std::chrono::milliseconds(20);

Clock::time_point nextTick(Clock::time_point now)
{
    const auto sinceOrigin = now.time_since_epoch();
    return Clock::time_point((sinceOrigin / kTransmitTick + 1) * kTransmitTick);
}

enum class PartyEvent { Answer, ReversalEnd, PartyHangup, FlickerOn, FlickerOff };

}  // namespace

// A call: from the loop closing while idle to the on-hook period that ends it.
struct SimLine::Call {
    TimePoint start;
    std::optional<TimePoint> onHookSince;  // the loop is open since then (a break or the end)

    // Dialing.
    std::uint32_t pulseCount = 0;  // breaks of the pulse digit being dialled
    TimePoint lastBreakEnd{};      // meaningful while pulseCount > 0
    TimePoint lastActivity{};      // last digit or break: the digit time-out runs from here
    std::string dialed;
    std::vector<double> breakMs;
    std::vector<double> makeMs;
    std::unique_ptr<DtmfReceiver> dtmf;  // until the number is complete

    // The party, once the number is complete.
    bool complete = false;
    TimePoint completeTime{};
    PartyBehaviour party;
    std::multimap<TimePoint, PartyEvent> events;
    std::optional<TimePoint> answerTime;
    std::optional<TimePoint> partyHangupTime;
    bool listening = false;  // answered and not yet hung up
    bool reversed = false;   // the exchange holds the polarity reversed
    int flickers = 0;        // glitches in progress

    // What was heard.
    std::uint64_t bytesHeard = 0;
    std::uint64_t partyHeardBytes = 0;
    std::uint32_t underruns = 0;
    Demodulator demodulator;
    std::vector<std::int16_t> audio;
};

SimLine::SimLine(std::shared_ptr<SimulatorCore> core, std::string name, LineCondition idleCondition)
    : m_core(std::move(core)),
      m_name(std::move(name)),
      m_realTime(m_core->m_options.realTime),
      m_digitTimeoutMs(m_core->m_options.digitTimeoutMs),
      m_idleCondition(idleCondition)
{
    m_carrier = idleCondition == LineCondition::Ok;
}

SimLine::~SimLine()
{
    m_core->removeLine(this);
    std::vector<FinishedCall> finished;
    {
        const std::lock_guard lock(m_mutex);
        const TimePoint now = platform::counterNow();
        advanceTo(now);
        if (m_call)
            endCall(m_call->onHookSince.value_or(now), false);
        finished = std::move(m_finished);
    }
    m_core->submit(finished);
}

// ---- SerialPort --------------------------------------------------------------------------------

bool SimLine::setDtr(bool raised)
{
    return setSignal(m_dtr, raised);
}

bool SimLine::setRts(bool raised)
{
    return setSignal(m_rts, raised);
}

bool SimLine::setSignal(bool& signal, bool raised)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_unplugged) {
            errno = EIO;
            return false;
        }
        const TimePoint now = platform::counterNow();
        advanceTo(now);
        const bool wasClosed = loopClosed();
        signal = raised;
        if (loopClosed() != wasClosed)
            hookChanged(loopClosed(), now);
        updateCarrier();
    }
    m_core->wake();
    return true;
}

bool SimLine::readCarrier(bool& on)
{
    bool finished = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_unplugged) {
            errno = EIO;
            return false;
        }
        advanceTo(platform::counterNow());
        on = m_carrier;
        finished = !m_finished.empty();
    }
    if (finished)
        m_core->wake();
    return true;
}

bool SimLine::startWrite(std::span<const std::uint8_t> data)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_unplugged) {
            errno = EIO;
            return false;
        }
        if (m_writePending) {
            errno = EBUSY;
            return false;
        }
        const TimePoint now = platform::counterNow();
        advanceTo(now);
        m_writeDone.reset();
        m_outcome = {};
        if (!m_realTime || data.empty()) {
            hear(data, now);
            m_outcome.written = data.size();
            m_writeDone.set();
        } else {
            enqueue(data, now);
        }
    }
    // Hearing DTMF may have completed the number and so set the party's timers.
    m_core->wake();
    return true;
}

void SimLine::enqueue(std::span<const std::uint8_t> data, TimePoint now)
{
    if (m_queue.empty()) {
        // The queue ran dry by sending after the answer and the writer had more to say: the
        // party heard a gap.
        if (m_call && m_call->answerTime && m_queueEmptyAt && *m_queueEmptyAt >= *m_call->answerTime)
            ++m_call->underruns;
        m_txEpoch = now;
        m_txSent = 0;
        m_queueEmptyAt.reset();
    }
    m_pending = data;
    m_pendingPos = 0;
    m_writePending = true;
    fillQueue();
}

platform::WriteOutcome SimLine::writeOutcome()
{
    const std::lock_guard lock(m_mutex);
    return m_outcome;
}

void SimLine::cancelWrite()
{
    const std::lock_guard lock(m_mutex);
    if (!m_writePending)
        return;
    advanceTo(platform::counterNow());
    if (!m_writePending)
        return;
    m_outcome = {m_pendingPos, ECANCELED};
    m_writePending = false;
    m_pending = {};
    m_writeDone.set();
}

bool SimLine::purgeTransmit()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_unplugged) {
            errno = EIO;
            return false;
        }
        const TimePoint now = platform::counterNow();
        advanceTo(now);
        m_queue.clear();
        m_queueEmptyAt.reset();
        if (m_writePending) {
            m_txEpoch = now;
            m_txSent = 0;
            fillQueue();
        }
    }
    m_core->wake();
    return true;
}

// ---- Simulator controls ------------------------------------------------------------------------

void SimLine::unplug()
{
    std::vector<FinishedCall> finished;
    {
        const std::lock_guard lock(m_mutex);
        if (m_unplugged)
            return;
        pullPlug(platform::counterNow(), finished);
    }
    m_core->submit(finished);
}

bool SimLine::unplugged() const
{
    const std::lock_guard lock(m_mutex);
    return m_unplugged;
}

bool SimLine::offHook() const
{
    const std::lock_guard lock(m_mutex);
    return loopClosed();
}

std::size_t SimLine::transmitQueued()
{
    const std::lock_guard lock(m_mutex);
    advanceTo(platform::counterNow());
    return m_queue.size();
}

bool SimLine::transmitPending(std::size_t& bytes)
{
    const std::lock_guard lock(m_mutex);
    if (m_unplugged) {
        errno = EIO;
        return false;
    }
    advanceTo(platform::counterNow());
    bytes = m_queue.size();
    return true;
}

void SimLine::service(TimePoint now, std::vector<FinishedCall>& finished, TimePoint& next)
{
    const std::lock_guard lock(m_mutex);
    advanceTo(now);
    for (FinishedCall& call : m_finished)
        finished.push_back(std::move(call));
    m_finished.clear();
    if (const auto due = nextEvent())
        next = std::min(next, due->at);
    if (const auto transmit = transmitDeadline(now))
        next = std::min(next, *transmit);
}

void SimLine::setIdleCondition(LineCondition condition)
{
    const std::lock_guard lock(m_mutex);
    advanceTo(platform::counterNow());
    m_idleCondition = condition;
    updateCarrier();
}

void SimLine::detach(std::vector<FinishedCall>& finished)
{
    const std::lock_guard lock(m_mutex);
    if (!m_unplugged)
        pullPlug(platform::counterNow(), finished);
}

void SimLine::pullPlug(TimePoint now, std::vector<FinishedCall>& finished)
{
    advanceTo(now);
    // The adapter's relay drops with its power: the caller is gone at once.
    if (m_call)
        endCall(m_call->onHookSince.value_or(now), true);
    m_unplugged = true;
    if (m_writePending) {
        m_outcome = {m_pendingPos, EIO};
        m_writePending = false;
        m_pending = {};
        m_writeDone.set();
    }
    m_queue.clear();
    // Wakes a monitor so that it reads the input and meets the failure.
    m_carrierChanged.set();
    for (FinishedCall& call : m_finished)
        finished.push_back(std::move(call));
    m_finished.clear();
}

// ---- Time ------------------------------------------------------------------------------------

void SimLine::advanceTo(TimePoint t)
{
    for (;;) {
        const auto due = nextEvent();
        if (!due || due->at > t)
            break;
        advanceQueue(due->at);
        processEvent(*due);
    }
    advanceQueue(t);
    updateCarrier();
}

std::optional<SimLine::Due> SimLine::nextEvent() const
{
    if (!m_call)
        return std::nullopt;
    const Call& call = *m_call;
    std::optional<Due> line;
    if (call.onHookSince)
        line = Due{*call.onHookSince + ms(kMaxBreakMs), LineEvent::CallerGone};
    else if (call.pulseCount > 0)
        line = Due{call.lastBreakEnd + ms(kDigitGapMs), LineEvent::DigitEnd};
    else if (!call.complete && !call.dialed.empty())
        line = Due{call.lastActivity + ms(m_digitTimeoutMs), LineEvent::DigitTimeout};
    if (!call.events.empty() && (!line || call.events.begin()->first < line->at))
        return Due{call.events.begin()->first, LineEvent::Party};
    return line;
}

void SimLine::processEvent(const Due& due)
{
    Call& call = *m_call;
    switch (due.kind) {
    case LineEvent::CallerGone:
        endCall(*call.onHookSince, false);
        break;
    case LineEvent::DigitEnd:
        finishDigit(due.at);
        break;
    case LineEvent::DigitTimeout:
        completeNumber(due.at);
        break;
    case LineEvent::Party:
        processPartyEvent();
        break;
    }
    updateCarrier();
}

void SimLine::processPartyEvent()
{
    Call& call = *m_call;
    const auto [at, event] = *call.events.begin();
    call.events.erase(call.events.begin());
    switch (event) {
    case PartyEvent::Answer:
        call.answerTime = at;
        call.listening = true;
        call.reversed = true;
        if (call.party.pulseReversal)
            call.events.emplace(at + ms(call.party.pulseReversalMs), PartyEvent::ReversalEnd);
        if (call.party.hangUpAfterMs)
            call.events.emplace(at + ms(*call.party.hangUpAfterMs), PartyEvent::PartyHangup);
        break;
    case PartyEvent::ReversalEnd:
        call.reversed = false;
        break;
    case PartyEvent::PartyHangup:
        call.partyHangupTime = at;
        call.listening = false;
        call.reversed = false;
        break;
    case PartyEvent::FlickerOn:
        ++call.flickers;
        break;
    case PartyEvent::FlickerOff:
        --call.flickers;
        break;
    }
}

std::optional<SimLine::TimePoint> SimLine::transmitDeadline(TimePoint now) const
{
    if (!m_realTime || m_queue.empty())
        return std::nullopt;
    // The pending write completes when its last byte fits; otherwise the queue runs dry.
    const std::uint64_t target = m_writePending ? m_txSent + (m_pending.size() - m_pendingPos)
                                                : m_txSent + m_queue.size();
    return std::min(m_txEpoch + sendTime(target), nextTick(now));
}

// ---- Hook and dialing --------------------------------------------------------------------------

void SimLine::hookChanged(bool closed, TimePoint t)
{
    if (!closed) {
        if (m_call)
            m_call->onHookSince = t;
        return;
    }
    if (!m_call) {
        m_call = std::make_unique<Call>();
        m_call->start = t;
        m_call->lastActivity = t;
        m_call->dtmf = std::make_unique<DtmfReceiver>();
        return;
    }
    // The loop closes again within kMaxBreakMs (a longer break has already ended the call).
    Call& call = *m_call;
    if (!call.onHookSince)
        return;
    const TimePoint breakStart = *call.onHookSince;
    call.onHookSince.reset();
    if (call.complete)
        return;  // a flash after dialing: not a digit
    if (call.pulseCount > 0)
        call.makeMs.push_back(msBetween(call.lastBreakEnd, breakStart));
    call.breakMs.push_back(msBetween(breakStart, t));
    ++call.pulseCount;
    call.lastBreakEnd = t;
    call.lastActivity = t;
}

void SimLine::finishDigit(TimePoint t)
{
    Call& call = *m_call;
    const std::uint32_t breaks = call.pulseCount;
    call.pulseCount = 0;
    appendDigit(breaks == 10 ? '0' : breaks < 10 ? static_cast<char>('0' + breaks) : '?', t);
}

void SimLine::appendDigit(char digit, TimePoint t)
{
    Call& call = *m_call;
    if (call.complete)
        return;
    call.dialed += digit;
    call.lastActivity = t;
    if (m_core->isRegistered(call.dialed))
        completeNumber(t);
}

void SimLine::completeNumber(TimePoint t)
{
    Call& call = *m_call;
    call.complete = true;
    call.completeTime = t;
    call.party = m_core->behaviourFor(call.dialed);
    call.dtmf.reset();
    if (call.party.condition == LineCondition::Dead)
        return;  // nothing reaches the caller over a dead line
    if (call.party.answerAfterMs)
        call.events.emplace(t + ms(*call.party.answerAfterMs), PartyEvent::Answer);
    for (const Flicker& flicker : call.party.flickers) {
        if (flicker.lengthMs == 0)
            continue;
        call.events.emplace(t + ms(flicker.atMs), PartyEvent::FlickerOn);
        call.events.emplace(t + ms(flicker.atMs) + ms(flicker.lengthMs), PartyEvent::FlickerOff);
    }
}

void SimLine::endCall(TimePoint hangupAt, bool unplugged)
{
    Call& call = *m_call;
    FinishedCall finished;
    CallRecord& record = finished.record;
    record.port = m_name;
    record.dialed = call.dialed;
    record.offHookAt = call.start;
    record.breakMs = std::move(call.breakMs);
    record.makeMs = std::move(call.makeMs);
    if (call.complete)
        record.completeMs = msBetween(call.start, call.completeTime);
    if (call.answerTime)
        record.answerMs = msBetween(call.start, *call.answerTime);
    if (call.partyHangupTime)
        record.partyHangupMs = msBetween(call.start, *call.partyHangupTime);
    record.callerHangupMs = msBetween(call.start, hangupAt);
    record.unplugged = unplugged;
    record.behaviour = call.complete ? call.party : m_core->defaultBehaviour();
    record.bytesHeard = call.bytesHeard;
    record.partyHeardBytes = call.partyHeardBytes;
    record.underruns = call.underruns;
    finished.audio = std::move(call.audio);
    m_finished.push_back(std::move(finished));
    m_call.reset();
    updateCarrier();
}

void SimLine::updateCarrier()
{
    const LineCondition condition = m_call && m_call->complete ? m_call->party.condition : m_idleCondition;
    bool carrier = false;
    if (condition != LineCondition::Dead) {
        carrier = condition == LineCondition::Ok;
        if (m_call && m_call->reversed)
            carrier = !carrier;
        if (m_call && m_call->flickers > 0)
            carrier = !carrier;
    }
    if (carrier != m_carrier) {
        m_carrier = carrier;
        m_carrierChanged.set();
    }
}

// ---- Transmit ----------------------------------------------------------------------------------

void SimLine::advanceQueue(TimePoint t)
{
    if (!m_realTime)
        return;
    std::vector<std::uint8_t> sent;
    while (!m_queue.empty()) {
        const std::uint64_t due = bytesSentIn(t - m_txEpoch);
        if (due <= m_txSent)
            break;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(due - m_txSent, m_queue.size()));
        sent.assign(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(n));
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(n));
        m_txSent += n;
        hear(sent, t);
        // The pending write refills the queue as it drains, so sending goes on without a gap.
        fillQueue();
        if (m_queue.empty())
            m_queueEmptyAt = m_txEpoch + sendTime(m_txSent);
    }
}

void SimLine::fillQueue()
{
    if (!m_writePending)
        return;
    const std::size_t n = std::min(m_pending.size() - m_pendingPos, kTransmitQueueBytes - m_queue.size());
    m_queue.insert(m_queue.end(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingPos),
                   m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingPos + n));
    m_pendingPos += n;
    if (m_pendingPos == m_pending.size()) {
        m_outcome = {m_pendingPos, 0};
        m_writePending = false;
        m_pending = {};
        m_writeDone.set();
    }
}

void SimLine::hear(std::span<const std::uint8_t> bytes, TimePoint t)
{
    if (!m_call || !loopClosed() || bytes.empty())
        return;
    Call& call = *m_call;
    call.bytesHeard += bytes.size();
    if (call.listening)
        call.partyHeardBytes += bytes.size();
    const std::size_t first = call.audio.size();
    call.demodulator.push(bytes, call.audio);
    if (call.dtmf) {
        std::string digits;
        call.dtmf->push(std::span(call.audio).subspan(first), digits);
        for (const char digit : digits)
            appendDigit(digit, t);
    }
}

}  // namespace peltra::sim
