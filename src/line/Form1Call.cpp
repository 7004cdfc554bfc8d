// The line device's call: the session thread with its attempts, and dialing by pulses or tones.
#include "line/Form1.h"

#include "line/TonePcm.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace peltra::line {

using platform::waitAny;

namespace {

// Attempts to get a ready line before the call is given up as an error.
constexpr unsigned kMaxAttempts = 10;

// Pulse timing: a break of 62 ms and a make of 38 ms, ten pulses a second. A timer callback later
// than these limits fails the digit rather than send a distorted pulse.
constexpr auto kMake = std::chrono::milliseconds(38);
constexpr auto kBreak = std::chrono::milliseconds(62);
constexpr std::int64_t kMakeLimitMs = 43;
constexpr std::int64_t kBreakLimitMs = 72;

}  // namespace

// The state one pulse-dialled digit shares between the dialing thread and the timer callbacks.
// Callbacks hold it by shared pointer, so it outlives the last of them.
struct Form1::PulseDigit {
    std::mutex mutex;
    std::uint32_t remaining = 0;
    bool make = true;
    platform::TimerService::TimePoint lastTransition{};
    bool sent = false;
    bool abandoned = false;
    platform::Event done{true, false};
};

bool Form1::StartCall(const std::string& number)
{
    if (!m_isOpen.load() || m_stopped.load() || m_session.running())
        return false;
    m_number = number;
    m_settings = m_env.settings.callSettings(m_portName);
    return m_session.start([this] { return sessionThread(); });
}

bool Form1::prepareMessage()
{
    std::string error;
    m_library = PhonogramLibrary::open(m_env.library, &error);
    std::vector<std::string> phrases;
    for (const std::string& code : m_phrases)
        if (code != kDeliveryMarker)
            phrases.push_back(code);
    if (m_library && m_library->missing(phrases, &error).empty())
        return true;
    m_library.reset();
    m_view->appendLog(error + "\r\n");
    m_failure = error;
    return false;
}

std::uint32_t Form1::sessionThread()
{
    unsigned attempts = 0;
    bool dialled = false;
    std::uint32_t result = kCallError;
    AttemptReasons reasons;
    m_failure.clear();

    // A message that cannot be played is not worth a call: nobody is rung to hear silence. The
    // on-hook pause keeps such calls from racing through a table.
    if (!prepareMessage()) {
        if (!pause(m_settings.ringOffMs))
            return kCallShutdown;
        reasons.take(m_failure);
        attempts = kMaxAttempts;
    }

    while (attempts < kMaxAttempts) {
        m_view->setDisplayColour(DisplayColour::Attempt);
        m_view->setDisplayText("");
        if (!m_normalPolarity.isSet())
            m_view->setDisplayText("неисправность");

        const int ready = waitAny({&m_env.shutdown, &m_close, &m_normalPolarity, &m_portFailed},
                                  m_env.timings.lineReadyWaitMs);
        if (ready == 0 || ready == 1)
            return kCallShutdown;
        if (ready == 3)
            m_failure = m_portFailure;
        else if (ready != 2)
            m_failure = "неисправность";

        if (ready == 2) {
            m_view->setDisplayText("");
            const bool dialOk = Dial(m_number);
            if (closing()) {
                SetHook(false);
                return kCallShutdown;
            }
            if (dialOk) {
                dialled = true;
                m_noAnswer.reset();
                m_answered.reset();
                if (!m_playback.start([this] { return playbackThread(); })) {
                    result = kCallError;
                } else {
                    const int which = waitForAnswer();
                    if (which == kAnswerCame)
                        m_answered.set();
                    else if (which != kPlaybackFailed)
                        m_noAnswer.set();
                    m_playback.join();
                    const std::uint32_t code = m_playback.exitCode();
                    if (which == 0 || which == 1 || code == kCallShutdown) {
                        SetHook(false);
                        pause(m_settings.ringOffMs);
                        return kCallShutdown;
                    }
                    if (which == kAnswerCame || which == kPlaybackFailed) {
                        result = code;
                        m_failure = m_playbackFailure;
                    } else if (which == platform::waitTimedOut) {
                        result = kCallNoAnswer;
                    } else {
                        result = kCallError;
                        m_failure = which == kPortLost ? m_portFailure : "Ожидание ответа WAIT_FAILED";
                    }
                }
            }
        }

        SetHook(false);
        pause(m_settings.ringOffMs);
        reasons.take(m_failure);
        ++attempts;
        if (dialled || attempts >= kMaxAttempts)
            break;
        if (closing())
            return kCallShutdown;
    }

    // The library is held for one call only, so a rebuilt one is read at the next.
    m_library.reset();
    m_phrases.clear();
    m_view->clearStatus();
    m_view->setDisplayColour(DisplayColour::Finished);
    const bool failed = result != kCallDelivered && result != kCallNoAnswer && result != kCallHungUp;
    if (m_owner != nullptr)
        m_owner->callFinished(m_lineNumber, result, failed ? reasons.text() : std::string());
    return result;
}

int Form1::waitForAnswer()
{
    const std::uint64_t waitMs = std::uint64_t{m_settings.waitAnswerS} * 1000;
    const auto deadline = platform::counterNow() + std::chrono::milliseconds(waitMs);
    bool playbackRunning = true;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - platform::counterNow());
        const auto timeoutMs = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(left.count(), 0, platform::infiniteTimeout - 1));
        platform::Event* events[] = {&m_env.shutdown, &m_close, &m_reversedPolarity, &m_portFailed,
                                     &m_playback.finished()};
        const int which = waitAny(std::span(events, playbackRunning ? 5 : 4), timeoutMs);
        if (which != kPlaybackFailed)
            return which;
        // A playback that could not even prepare the message ends the call now: nobody is
        // called to silence. One that ended otherwise (an empty message) waits for the answer.
        if (m_playback.exitCode() == kCallError)
            return kPlaybackFailed;
        playbackRunning = false;
    }
}

bool Form1::Dial(const std::string& number)
{
    const std::string dialString = buildDialString(number, m_settings.dial);
    SetHook(false);
    pause(m_settings.dial.delayFirstMs);
    SetHook(true);
    pause(m_settings.dial.delayFirstMs);

    // Nothing is dialled into a reversed or dead line: the exchange is not listening.
    auto lineFault = [this] {
        if (!m_reversedPolarity.isSet())
            return false;
        m_view->setDisplayText("полярность!");
        m_failure = "полярность!";
        pause(m_env.timings.polarityFaultMs);
        return true;
    };

    if (!m_settings.dial.pulseMode) {
        if (closing())
            return true;
        if (lineFault())
            return false;
        m_view->setDisplayText(dialString);
        const std::uint32_t code = DialTones(dialString);
        char text[32];
        std::snprintf(text, sizeof text, "%d\r\n", static_cast<std::int32_t>(code));
        m_view->appendLog(text);
        return true;
    }

    for (const PulseStep& step : pulsePlan(dialString, m_settings.dial)) {
        if (closing())
            return true;
        if (lineFault())
            return false;
        m_view->appendDisplayText(std::string(1, step.symbol));
        if (step.breaks > 0 && !DialPulses(step.breaks)) {
            SetHook(false);
            m_failure = "Сбой импульсного набора";
            m_view->appendLog(m_failure + "\r\n");
            return false;
        }
        pause(step.breaks > 0 ? m_env.timings.interDigitMs : step.waitAfterMs);
    }
    return true;
}

void Form1::switchLoop(bool closed)
{
    if (closed) {
        m_port->setDtr(false);
        m_port->setRts(true);
    } else {
        m_port->setDtr(true);
        m_port->setRts(false);
    }
    m_hook.store(closed ? 1 : 0);
    m_hookChanged.set();
}

void Form1::pulseTick(const std::shared_ptr<PulseDigit>& digit)
{
    std::lock_guard lock(digit->mutex);
    if (digit->abandoned || digit->remaining == 0) {
        digit->sent = !digit->abandoned;
        digit->done.set();
        return;
    }
    const auto now = platform::counterNow();
    const std::int64_t elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - digit->lastTransition).count();
    if (elapsedMs > (digit->make ? kMakeLimitMs : kBreakLimitMs)) {
        digit->sent = false;
        digit->done.set();
        return;
    }
    digit->lastTransition = now;
    m_env.timers.schedule(now + (digit->make ? kBreak : kMake),
                          [this, digit] { pulseTick(digit); });
    switchLoop(!digit->make);
    if (!digit->make)
        --digit->remaining;
    digit->make = !digit->make;
}

bool Form1::DialPulses(std::uint32_t breaks)
{
    auto digit = std::make_shared<PulseDigit>();
    digit->remaining = breaks;
    if (!SetHook(true))
        return false;
    {
        std::lock_guard lock(digit->mutex);
        digit->lastTransition = platform::counterNow();
        m_env.timers.schedule(digit->lastTransition + kMake, [this, digit] { pulseTick(digit); });
    }
    // A digit lasts at most about a second; on shutdown it is abandoned at the next transition.
    if (waitAny({&digit->done, &m_env.shutdown, &m_close}, platform::infiniteTimeout) != 0) {
        {
            std::lock_guard lock(digit->mutex);
            digit->abandoned = true;
        }
        digit->done.wait();
    }
    std::lock_guard lock(digit->mutex);
    return digit->sent;
}

std::uint32_t Form1::DialTones(const std::string& dialString)
{
    if (m_slotFull) {
        m_view->showMessage("Ошибка канала", "Ошибка распределения памяти.\r\n");
        return kCallError;
    }
    std::optional<std::vector<std::uint8_t>> stream = buildToneStream(dialString, m_settings.dial);
    if (!stream)
        return kCallError;
    return sendStream(std::move(*stream));
}

}  // namespace peltra::line
