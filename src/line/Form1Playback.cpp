// The line device's speech: the playback thread that prepares phrases one ahead, and the writer
// thread that keeps the port's transmit queue fed.
#include "line/Form1.h"

#include "line/Modulator.h"
#include "line/PhonogramLibrary.h"
#include "platform/errors/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <pthread.h>
#include <sched.h>

namespace peltra::line {

using platform::waitAny;

namespace {

constexpr char kChannelError[] = "Ошибка канала";
constexpr char kOutOfMemory[] = "Ошибка распределения памяти.\r\n";
constexpr char kStreamError[] = "Ошибка потока.\r\n";

// How long a buffer may take to be written: its sending time at 115200 baud (10 bits a
// character) plus 20 s of grace for a slow driver.
std::uint32_t handOverLimitMs(std::size_t bytes)
{
    return static_cast<std::uint32_t>(bytes * 10 * 1000 / 115200) + 20000;
}

// The most the writer waits at the end of a message for the port to send what it queued.
constexpr std::uint32_t kFinishLimitMs = 60000;
// How often the writer looks at the transmit queue while it drains.
constexpr std::uint32_t kDrainPollMs = 5;
// The port's pace: 115200 baud, 10 bits a character.
constexpr std::int64_t kBytesPerSecond = 11520;
// Beyond the debounce, how long the end of a message waits for a hang-up being confirmed.
constexpr std::uint32_t kSettleMarginMs = 50;

std::string hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

// The writer runs above normal priority so the transmit queue never runs dry between two
// writes. Real-time priority needs a permission most installations grant; without it the writer
// runs at normal priority and the queue's depth covers the gaps.
void raiseWriterPriority()
{
    sched_param param{};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace

bool Form1::hangUpWatching() const
{
    return !m_noHangUpWatch.load() && !m_settings.pulseReversalAnswer;
}

void Form1::resetHandOver()
{
    m_slot.clear();
    m_slot.shrink_to_fit();
    m_slotFull = false;
    m_bufferReady.reset();
    m_bufferTaken.reset();
    m_writerStart.reset();
    m_endOfData.reset();
    m_playbackError.reset();
    m_writerAbort.reset();
    m_deliveryOffset.store(kOffsetUnknown);
}

void Form1::noteDelivery()
{
    const std::uint64_t offset = m_deliveryOffset.load();
    if (m_deliveredNs != kMomentUnknown || offset == kOffsetUnknown || m_queuedBytes < offset)
        return;
    // What the queue holds leaves at the line's pace, so the moment the offset's last byte goes
    // out follows from what is still queued. A port that cannot tell reports nothing queued.
    std::size_t pending = 0;
    if (!m_port->transmitPending(pending))
        pending = 0;
    const auto sent = static_cast<std::int64_t>(m_queuedBytes - std::min<std::uint64_t>(pending, m_queuedBytes));
    const std::int64_t ahead = static_cast<std::int64_t>(offset) - sent;
    m_deliveredNs = platform::counterNowNs() + ahead * 1'000'000'000 / kBytesPerSecond;
}

std::uint32_t Form1::writeFailed(const std::string& text)
{
    m_view->appendLog(text);
    m_writerFailure = text;
    return kCallError;
}

void Form1::abortWriter()
{
    m_writerAbort.set();
    m_port->cancelWrite();
    m_writer.join();
}

std::uint32_t Form1::WriteBlock(std::span<const std::uint8_t> data)
{
    const bool watching = hangUpWatching();
    while (!data.empty()) {
        if (!m_port->startWrite(data)) {
            const int error = errno;
            if (error == EBADF) {
                m_view->replaceLog("ERROR_INVALID_HANDLE,\r\n ");
                m_writerFailure = "ERROR_INVALID_HANDLE";
                return kCallError;
            }
            char text[64];
            std::snprintf(text, sizeof text, "Ошибка записи в CommFile %x\r\n", static_cast<unsigned>(error));
            return writeFailed(text);
        }
        platform::Event* events[] = {&m_env.shutdown, &m_close, &m_writerAbort,
                                     &m_port->writeDone(), &m_normalPolarity};
        const int which = waitAny(std::span(events, watching ? 5 : 4), platform::infiniteTimeout);
        switch (which) {
        case 3: {
            const platform::WriteOutcome outcome = m_port->writeOutcome();
            m_queuedBytes += std::min(outcome.written, data.size());
            if (outcome.error != 0) {
                m_writerFailure = m_errorCaption + ": " + platform::systemErrorReport(outcome.error);
                errno = outcome.error;
                ReportSystemError(m_errorCaption);
                if (outcome.error == EBADF)
                    m_view->appendLog("ERROR_INVALID_HANDLE, ");
                return kCallError;
            }
            data = data.subspan(std::min(outcome.written, data.size()));
            noteDelivery();
            break;
        }
        case 0:
        case 1:
            m_port->cancelWrite();
            m_view->appendLog("Взведен CloseEvent\r\n");
            return kCallShutdown;
        case 2:
            m_port->cancelWrite();
            return kCallError;
        case 4:
            // What the port took of this write before the hang-up still counts as sent.
            m_port->cancelWrite();
            m_queuedBytes += std::min(m_port->writeOutcome().written, data.size());
            noteDelivery();
            m_view->appendLog("Положили трубку\r\n");
            return kCallHungUp;
        case platform::waitFailed: {
            const int error = errno;
            m_port->cancelWrite();
            return writeFailed("Запись WAIT_FAILED\r\n" + hex(static_cast<unsigned>(error)) + "\r\n");
        }
        default:
            m_port->cancelWrite();
            return writeFailed("Неопределенный возврат из WAIT\r\n");
        }
    }
    return 0;
}

std::uint32_t Form1::drainTransmit()
{
    const bool watching = hangUpWatching();
    const auto limit = platform::counterNow() + std::chrono::milliseconds(kFinishLimitMs);
    platform::Event* events[] = {&m_env.shutdown, &m_close, &m_writerAbort, &m_normalPolarity};
    auto verdict = [&](std::uint32_t waitMs) -> std::optional<std::uint32_t> {
        switch (waitAny(std::span(events, watching ? 4 : 3), waitMs)) {
        case 0:
        case 1:
            return kCallShutdown;
        case 2:
            return kCallError;
        case 3:
            noteDelivery();
            m_view->appendLog("Положили трубку\r\n");
            return kCallHungUp;
        default:
            return std::nullopt;
        }
    };
    for (;;) {
        noteDelivery();
        std::size_t pending = 0;
        if (!m_port->transmitPending(pending) || pending == 0 || platform::counterNow() > limit)
            break;
        if (const auto code = verdict(kDrainPollMs))
            return *code;
    }
    // Everything is out. A carrier change still in its debounce may be a hang-up that came
    // before the end: wait for the verdict, so it is judged by when it happened.
    if (watching && m_carrierUnsettled.load()) {
        if (const auto code = verdict(m_env.timings.debounceMs + kSettleMarginMs))
            return *code;
    }
    return 0;
}

std::uint32_t Form1::writerThread()
{
    m_queuedBytes = 0;
    m_deliveredNs = kMomentUnknown;
    m_writerFailure.clear();
    std::uint32_t code = 0;
    switch (waitAny({&m_env.shutdown, &m_close, &m_endOfData, &m_writerStart, &m_writerAbort},
                    platform::infiniteTimeout)) {
    case 0:
    case 1:
        return kCallShutdown;
    case 2:
        return 0;
    case 3:
        break;
    default:
        return kCallError;
    }

    raiseWriterPriority();
    const bool watching = hangUpWatching();
    for (bool running = true; running;) {
        platform::Event* events[] = {&m_env.shutdown,   &m_close,     &m_writerAbort,
                                     &m_playbackError,  &m_endOfData, &m_bufferReady,
                                     &m_normalPolarity};
        switch (waitAny(std::span(events, watching ? 7 : 6), platform::infiniteTimeout)) {
        case 0:
        case 1:
            code = kCallShutdown;
            running = false;
            break;
        case 4:
            // The whole message is queued; let the port send its end before the purge below.
            code = drainTransmit();
            running = false;
            break;
        case 5: {
            // Only a buffer written whole counts as taken; a hang-up, a close or a failed write in
            // the middle of it ends the writer instead.
            const std::uint32_t written = WriteBlock(m_slot);
            if (written != 0) {
                code = written;
                running = false;
                break;
            }
            m_bufferTaken.set();
            break;
        }
        case 6:
            noteDelivery();
            code = kCallHungUp;
            running = false;
            break;
        default:
            if (!m_playbackError.isSet() && !m_writerAbort.isSet())
                m_writerFailure = "Неопределенный возврат из WAIT";
            code = kCallError;
            running = false;
            break;
        }
    }
    if (!m_port->purgeTransmit())
        ReportSystemError(m_errorCaption);
    return code;
}

std::uint32_t Form1::playbackThread()
{
    resetHandOver();
    m_playbackFailure.clear();
    // The session opened the library for this call and found every phrase in it.
    std::string error;
    if (!m_library || !m_writer.start([this] { return writerThread(); })) {
        m_phrases.clear();
        return kCallError;
    }

    bool phraseFailed = false;
    bool firstPrepared = false;
    bool writerEnded = false;
    bool timedOut = false;
    std::uint64_t handedOver = 0;  // stream bytes put in the slot so far
    std::vector<std::uint8_t> next;

    // Waits for the writer to take the buffer in the slot; false when the writer ended first or
    // did not take it in time.
    auto waitTaken = [&]() -> bool {
        switch (waitAny({&m_writer.finished(), &m_bufferTaken}, handOverLimitMs(m_slot.size()))) {
        case 1:
            m_slotFull = false;
            return true;
        case 0:
            writerEnded = true;
            return false;
        default:
            timedOut = true;
            return false;
        }
    };
    // The message is delivered once the stream up to here has left the port (the first marker
    // decides).
    auto deliveredAt = [&](std::uint64_t offset) {
        std::uint64_t unknown = kOffsetUnknown;
        m_deliveryOffset.compare_exchange_strong(unknown, offset);
    };

    std::size_t index = 0;
    for (; index < m_phrases.size(); ++index) {
        const std::string& code = m_phrases[index];
        if (code == kDeliveryMarker) {
            deliveredAt(handedOver);
            continue;
        }
        m_view->appendPhraseLog(code + "\r\n");
        std::vector<std::uint8_t> pcm;
        const PhonogramLibrary::ReadStatus status = m_library->readPhrase(code, pcm, &error);
        std::optional<std::vector<std::uint8_t>> stream;
        if (status == PhonogramLibrary::ReadStatus::Ok)
            stream = modulateSpeech(pcm);
        if (status == PhonogramLibrary::ReadStatus::OutOfMemory ||
            (status == PhonogramLibrary::ReadStatus::Ok && !stream)) {
            m_view->showMessage(kChannelError, kOutOfMemory);
            m_playbackFailure = kOutOfMemory;
        }
        if (!stream) {
            if (status != PhonogramLibrary::ReadStatus::Ok) {
                m_view->appendLog(error + "\r\n");
                m_playbackFailure = error;
            }
            phraseFailed = true;
            m_playbackError.set();
            break;
        }
        next = std::move(*stream);

        if (!firstPrepared) {
            firstPrepared = true;
            const int which = waitAny({&m_env.shutdown, &m_close, &m_noAnswer, &m_answered},
                                      platform::infiniteTimeout);
            if (which == 2)
                m_endOfData.set();
            if (which != 3)
                break;
            m_writerStart.set();
        }

        if (m_slotFull && !waitTaken())
            break;
        handedOver += next.size();
        m_slot = std::move(next);
        m_slotFull = true;
        m_bufferReady.set();
    }
    // A list without a marker is delivered once all of it has been sent.
    if (index == m_phrases.size())
        deliveredAt(handedOver);

    std::uint32_t result = kCallError;
    if (!writerEnded && !timedOut) {
        if (!m_slotFull || waitTaken()) {
            m_endOfData.set();
            if (!m_writer.finished().wait(kFinishLimitMs))
                timedOut = true;
        }
    }
    if (timedOut) {
        m_view->showMessage(kChannelError, kStreamError);
        m_playbackFailure = kStreamError;
        abortWriter();
        result = kCallError;
    } else {
        m_writer.join();
        result = m_writer.exitCode();
        // A hang-up after the delivery offset had left the line is a normal end.
        if (result == kCallHungUp && m_deliveredNs <= m_polarityChangedNs.load())
            result = kCallDelivered;
        if (result == kCallError && m_playbackFailure.empty())
            m_playbackFailure = m_writerFailure;
        if (phraseFailed)
            result = kCallError;
    }
    resetHandOver();
    m_phrases.clear();
    return result;
}

std::uint32_t Form1::sendStream(std::vector<std::uint8_t> stream)
{
    resetHandOver();
    m_noHangUpWatch.store(true);
    std::uint32_t code = kCallError;
    if (m_writer.start([this] { return writerThread(); })) {
        const std::size_t bytes = stream.size();
        m_slot = std::move(stream);
        m_slotFull = true;
        m_bufferReady.set();
        m_writerStart.set();
        bool taken = waitAny({&m_writer.finished(), &m_bufferTaken}, handOverLimitMs(bytes)) !=
                     platform::waitTimedOut;
        if (taken) {
            m_endOfData.set();
            taken = m_writer.finished().wait(kFinishLimitMs);
        }
        if (taken) {
            m_writer.join();
            code = m_writer.exitCode();
        } else {
            m_view->showMessage(kChannelError, kStreamError);
            abortWriter();
        }
    }
    m_noHangUpWatch.store(false);
    resetHandOver();
    return code;
}

std::uint32_t Form1::PlayStream(std::vector<std::uint8_t> stream)
{
    if (!m_isOpen.load() || m_session.running())
        return kCallError;
    m_view->appendLog("Начало передачи\r\n");
    return sendStream(std::move(stream));
}

}  // namespace peltra::line
