// A channel of a SIP trunk as a line of the station.
#include "sip/SipLine.h"

#include "line/PhonogramLibrary.h"

extern "C" {
#include <re/re.h>
}

#include <algorithm>

namespace peltra::sip {
namespace {

constexpr unsigned kMaxAttempts = 10;
// How long a session waits for the loop to send its CANCEL or BYE and let go of the call.
constexpr std::uint32_t kReleaseWaitMs = 5000;
// After the last frame the BYE waits this long, so the far end's jitter buffer plays the message
// out before the session ends.
constexpr std::uint32_t kPlayOutMs = 200;
// A carrier that has not even said it is trying by then is not there: the attempt fails as a
// dead line's does, instead of waiting out WaitAnswer.
constexpr std::uint32_t kNoResponseMs = 5000;
// A far end whose audio stopped this long is asked whether the session stands; one that never
// sent audio is not (many send none while they listen).
constexpr std::int64_t kRtpSilenceNs = 3'000'000'000;
constexpr std::uint32_t kSilenceCheckMs = 250;

// The digits of a dial string for a request URI: the pauses of an analogue line and the
// separators of a written number mean nothing to SIP.
std::string sipDigits(const std::string& dialString)
{
    std::string digits;
    for (char c : dialString)
        if ((c >= '0' && c <= '9') || c == '*' || c == '#' || c == '+')
            digits += c;
    return digits;
}

// Busy and declined: the person did not take the call, as a ring without answer.
bool isRefusal(std::uint16_t status)
{
    return status == 486 || status == 600 || status == 603;
}

// The carrier or the trunk could not carry the call at all: worth the next attempt.
bool isCarrierFailure(std::uint16_t status)
{
    return status == 503 || status == 408;
}

}  // namespace

SipLine::SipLine(SipTrunks& trunks, platform::Event& shutdown, line::CallSettingsSource& settings,
                 std::filesystem::path library)
    : m_trunks(trunks), m_shutdown(shutdown), m_settingsSource(settings), m_library(std::move(library))
{
}

SipLine::~SipLine()
{
    Stop();
}

void SipLine::setView(line::LineView* view)
{
    m_view = view != nullptr ? view : &m_silentView;
}

void SipLine::setOwner(line::CallResultSink* owner)
{
    m_owner = owner;
}

bool SipLine::Open(unsigned lineNumber, const std::string& portName)
{
    if (m_isOpen.load())
        return true;
    m_lineNumber = lineNumber;
    m_portName = portName;
    m_view->showPortName(portName);
    std::string why;
    if (!m_endpoint)
        m_endpoint = m_trunks.endpoint(m_trunks.trunkOfPort(portName), &why);
    if (!m_endpoint) {
        m_view->showMessage("Ошибка работы с портом " + portName + " Открытие", why);
        m_view->setDisplayText("Ошибка открытия");
        m_view->appendLog(why + "\r\n");
        return false;
    }
    m_endpoint->addWatcher(this);
    if (!m_endpoint->ready(&why)) {
        m_view->setDisplayText("не готов");
        m_view->appendLog(why + "\r\n");
        m_view->showMessage("Линия " + portName + " не готова", why);
        return false;
    }
    m_isOpen = true;
    return true;
}

void SipLine::Stop()
{
    if (m_stopped.exchange(true))
        return;
    m_close.set();
    m_session.join(20000);
    if (m_endpoint) {
        m_endpoint->removeWatcher(this);
        // A report that had already begun ends before the line goes.
        std::lock_guard lock(m_watchMutex);
    }
    m_isOpen = false;
}

void SipLine::trunkReadiness(bool ready, const std::string& why)
{
    std::lock_guard lock(m_watchMutex);
    if (m_stopped.load())
        return;
    m_isOpen = ready;
    m_view->setDisplayText(ready ? "" : "не готов");
    m_view->appendLog(why + "\r\n");
    // Losing the trunk is told like a port error; its return only in the line's log.
    if (!ready)
        m_view->showMessage("Линия " + m_portName + " не готова", why);
    if (m_owner != nullptr)
        m_owner->lineReadiness(m_lineNumber, ready, why);
}

bool SipLine::StartCall(const std::string& number)
{
    if (!m_isOpen.load() || m_stopped.load() || m_session.running())
        return false;
    m_number = number;
    m_settings = m_settingsSource.callSettings(m_portName);
    return m_session.start([this] { return sessionThread(); });
}

std::vector<std::int16_t> SipLine::lastRecording() const
{
    std::lock_guard lock(m_recordingMutex);
    return m_lastRecording;
}

bool SipLine::pause(std::uint32_t ms)
{
    return platform::waitAny({&m_shutdown, &m_close}, ms) == platform::waitTimedOut;
}

bool SipLine::prepareMessage()
{
    m_message.clear();
    m_markerSample = 0;
    std::string error;
    std::optional<line::PhonogramLibrary> library = line::PhonogramLibrary::open(m_library, &error);
    bool marked = false;
    for (const std::string& code : m_phrases) {
        if (!library)
            break;
        if (code == line::kDeliveryMarker) {
            if (!marked)
                m_markerSample = m_message.size();
            marked = true;
            continue;
        }
        line::PhonogramLibrary::Bytes pcm;
        if (library->readPhrase(code, pcm, &error) != line::PhonogramLibrary::ReadStatus::Ok) {
            library.reset();
            break;
        }
        for (std::size_t i = 0; i + 1 < pcm.size(); i += 2)
            m_message.push_back(static_cast<std::int16_t>(pcm[i] | (pcm[i + 1] << 8)));
    }
    if (!library) {
        m_view->appendLog(error + "\r\n");
        m_failure = error;
        m_message.clear();
        return false;
    }
    if (!marked)
        m_markerSample = m_message.size();
    return true;
}

std::uint32_t SipLine::sessionThread()
{
    std::uint32_t result = line::kCallError;
    line::AttemptReasons reasons;
    m_failure.clear();
    const std::string dialled = sipDigits(line::buildDialString(m_number, m_settings.dial));

    unsigned attempts = 0;
    // A message that cannot be played is not worth a call, and neither is a number with no digits.
    if (!prepareMessage() || dialled.empty()) {
        if (dialled.empty() && m_failure.empty())
            m_failure = "номер без цифр";
        if (!pause(m_settings.ringOffMs))
            return line::kCallShutdown;
        reasons.take(m_failure);
        attempts = kMaxAttempts;
    }
    while (attempts < kMaxAttempts) {
        m_view->setDisplayColour(line::DisplayColour::Attempt);
        m_view->setDisplayText("");
        const Attempt outcome = attempt(dialled);
        if (outcome == Attempt::Shutdown)
            return line::kCallShutdown;
        m_view->showHook(false);
        if (!pause(m_settings.ringOffMs))
            return line::kCallShutdown;
        reasons.take(m_failure);
        ++attempts;
        if (outcome == Attempt::Dead)
            continue;
        switch (outcome) {
        case Attempt::Delivered:
            result = line::kCallDelivered;
            break;
        case Attempt::NoAnswer:
            result = line::kCallNoAnswer;
            break;
        case Attempt::HungUp:
            result = line::kCallHungUp;
            break;
        default:
            result = line::kCallError;
            break;
        }
        break;
    }

    m_message.clear();
    m_phrases.clear();
    m_view->clearStatus();
    m_view->setDisplayColour(line::DisplayColour::Finished);
    const bool failed = result != line::kCallDelivered && result != line::kCallNoAnswer && result != line::kCallHungUp;
    if (m_owner != nullptr)
        m_owner->callFinished(m_lineNumber, result, failed ? reasons.text() : std::string());
    return result;
}

SipLine::Attempt SipLine::attempt(const std::string& dialled)
{
    std::string why;
    if (!m_endpoint || !m_endpoint->ready(&why)) {
        m_failure = why;
        return Attempt::Dead;
    }
    if (!pause(m_settings.dial.delayFirstMs))
        return Attempt::Shutdown;

    auto call = std::make_shared<SipCall>();
    call->number = dialled;
    call->intake.setRecording(m_recording.load());
    m_view->showHook(true);
    m_view->setDisplayText(dialled);
    m_view->appendLog("→ INVITE " + dialled + "\r\n");
    m_endpoint->startCall(call);

    const std::uint64_t waitMs = std::uint64_t{m_settings.waitAnswerS} * 1000;
    const auto start = platform::counterNow();
    const auto deadline = start + std::chrono::milliseconds(waitMs);
    const auto silentUntil = start + std::chrono::milliseconds(std::min<std::uint64_t>(waitMs, kNoResponseMs));
    bool heard = false;
    for (;;) {
        const auto until = heard ? deadline : silentUntil;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - platform::counterNow());
        const auto timeoutMs =
            static_cast<std::uint32_t>(std::clamp<std::int64_t>(left.count(), 0, platform::infiniteTimeout - 1));
        const int which =
            platform::waitAny({&m_shutdown, &m_close, &call->answered, &call->ended, &call->progressed}, timeoutMs);
        if (which == 0 || which == 1) {
            release(call);
            return Attempt::Shutdown;
        }
        if (which == 4) {
            heard = true;
            const std::string status = call->lastStatus();
            m_view->setDisplayText(status);
            m_view->appendLog("← " + status + "\r\n");
            continue;
        }
        if (which == 2)
            return transmit(call);
        if (which == platform::waitTimedOut && !heard) {
            m_view->appendLog("no response\r\n");
            release(call);
            m_failure = "no response from " + m_endpoint->settings().proxy;
            return Attempt::Dead;
        }
        if (which == platform::waitTimedOut) {
            m_view->appendLog("→ CANCEL\r\n");
            release(call);
            return Attempt::NoAnswer;
        }
        break;
    }

    // The attempt ended before any answer.
    release(call);
    const std::uint16_t status = call->finalStatus();
    const std::string reason = call->endReason();
    m_view->appendLog("← " + reason + "\r\n");
    if (call->end() == CallEnd::NoResponse || isCarrierFailure(status)) {
        m_failure = reason;
        return Attempt::Dead;
    }
    if (isRefusal(status))
        return Attempt::NoAnswer;
    m_failure = reason;
    return Attempt::Failed;
}

SipLine::Attempt SipLine::transmit(const std::shared_ptr<SipCall>& call)
{
    const Negotiated peer = call->negotiated;
    m_view->setDisplayText("200 OK");
    m_view->appendLog("← 200 OK " + codecName(peer.codec) + " " + peer.remoteAddress + ":" +
                      std::to_string(peer.remotePort) + "\r\n");
    auto stream = std::make_shared<RtpStream>();
    stream->socket = call->socket;
    stream->peer = peer;
    stream->audio = encodeG711(peer.codec, m_message);
    stream->deliveryOffset = m_markerSample;
    stream->firstTimestamp = rand_u32();
    RtpPacer& pacer = m_endpoint->pacer();
    if (stream->audio.empty())
        stream->finished.set();
    else
        pacer.add(stream);

    int which = platform::waitTimedOut;
    std::int64_t probedAt = 0;
    while (which == platform::waitTimedOut) {
        which = platform::waitAny({&m_shutdown, &m_close, &stream->finished, &call->ended}, kSilenceCheckMs);
        const std::int64_t last = call->intake.lastPacketNs();
        const std::int64_t now = platform::counterNowNs();
        if (which == platform::waitTimedOut && last != 0 && now - std::max(last, probedAt) > kRtpSilenceNs) {
            m_view->appendLog("→ OPTIONS (no audio from the far end)\r\n");
            m_endpoint->probeCall(call);
            probedAt = now;
        }
    }
    pacer.remove(stream);
    if (which == 2 && platform::waitAny({&m_shutdown, &m_close, &call->ended}, kPlayOutMs) != platform::waitTimedOut)
        which = call->ended.isSet() ? 3 : 0;
    const bool delivered = stream->delivered.load() || stream->finished.isSet();
    if (which == 2)
        m_view->appendLog("→ BYE\r\n");
    else if (which == 3)
        m_view->appendLog("← " + call->endReason() + "\r\n");
    release(call);
    {
        std::lock_guard lock(m_recordingMutex);
        m_lastRecording = call->intake.recording();
    }
    if (which == 0 || which == 1)
        return Attempt::Shutdown;
    if (which == 2)
        return Attempt::Delivered;
    return delivered ? Attempt::Delivered : Attempt::HungUp;
}

void SipLine::release(const std::shared_ptr<SipCall>& call)
{
    m_endpoint->endCall(call);
    call->released.wait(kReleaseWaitMs);
}

}  // namespace peltra::sip
