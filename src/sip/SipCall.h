// One SIP call attempt as its session thread and the trunk's event loop share it.
#pragma once

#include "platform/sync/Event.h"
#include "sip/Media.h"
#include "sip/RtpPacer.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct sipsess;
struct rtp_sock;

namespace peltra::sip {

// How an attempt ended before or instead of an answer.
enum class CallEnd {
    None,         // still running (answered or not)
    Rejected,     // a final failure response: its status says which
    NoResponse,   // no final response, or the transport failed
    FarHangUp,    // BYE from the far end, or the session was lost
};

// What the session asks for and what the loop reports. Fields below "loop" are written by the
// loop thread before it sets the event that announces them and read by the session after it.
class SipCall {
public:
    // Asked for by the session.
    std::string number;        // the digits to put in the request URI
    bool recordAudio = false;  // keep what comes back, decoded

    // Announced by the loop.
    platform::Event progressed{false, false};  // a provisional response came (statusLine)
    platform::Event answered{true, false};     // 200 OK with a usable SDP answer (negotiated)
    platform::Event ended{true, false};        // the attempt or the call is over (end, status)
    platform::Event released{true, false};     // the loop has let go of every libre object

    std::string lastStatus() const;
    CallEnd end() const;
    std::uint16_t finalStatus() const;
    std::string endReason() const;

    Negotiated negotiated;       // valid once answered
    struct rtp_sock* socket = nullptr;  // valid from answered until the session asks for the release
    RtpIntake intake;

    // Loop side.
    void noteProgress(const std::string& status);
    void noteAnswer(const Negotiated& peer);
    // The first end counts; later ones (a BYE after a lost session) are ignored.
    void noteEnd(CallEnd end, std::uint16_t status, const std::string& reason);

    // Owned by the loop thread.
    sipsess* session = nullptr;
    std::unique_ptr<MediaOffer> offer;

private:
    mutable std::mutex m_mutex;
    std::string m_lastStatus;
    CallEnd m_end = CallEnd::None;
    std::uint16_t m_finalStatus = 0;
    std::string m_endReason;
};

}  // namespace peltra::sip
