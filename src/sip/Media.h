// The audio of a SIP call: G.711 frames, the SDP offer and its answer, and the RTP that comes
// back. Runs on a trunk's event-loop thread, except the G.711 coding, which is pure.
#pragma once

#include "sip/TrunkSettings.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct mbuf;
struct sa;
struct rtp_header;
struct sdp_session;
struct sdp_media;

namespace peltra::sip {

// 20 ms of 8 kHz audio: one RTP packet, one G.711 byte per sample.
inline constexpr std::size_t kFrameSamples = 160;
inline constexpr std::uint32_t kFrameMs = 20;

std::uint8_t payloadType(Codec codec);
std::vector<std::uint8_t> encodeG711(Codec codec, std::span<const std::int16_t> samples);
void decodeG711(Codec codec, std::span<const std::uint8_t> bytes, std::vector<std::int16_t>& out);
// The G.711 byte of silence in a law, for the tail of the last frame.
std::uint8_t g711Silence(Codec codec);

// What an SDP answer settled: the law and where the far end takes its audio.
struct Negotiated {
    Codec codec = Codec::Pcma;
    std::string remoteAddress;  // "127.0.0.1"
    std::uint16_t remotePort = 0;
};

// One call's SDP session: the offer of the trunk's codecs on a local RTP address, and what the
// far end answered. Owned by the loop thread.
class MediaOffer {
public:
    // localIp: the address the offer names (no port); rtpPort: the local RTP port.
    MediaOffer(const std::string& localIp, std::uint16_t rtpPort, const std::vector<Codec>& codecs);
    ~MediaOffer();
    MediaOffer(const MediaOffer&) = delete;
    MediaOffer& operator=(const MediaOffer&) = delete;

    bool valid() const { return m_media != nullptr; }
    // The offer as an SDP body, or nullptr (the caller owns the reference).
    mbuf* encodeOffer();
    // Reads an answer (or a later offer from the far end, offer = true) and settles the codec and
    // the far end's address; nothing, with why, when there is no common law or no usable address.
    std::optional<Negotiated> readRemote(mbuf* body, bool offer, std::string* why);
    // After an offer from the far end was read: the answer to send, or nullptr.
    mbuf* encodeAnswer();

private:
    sdp_session* m_session = nullptr;
    sdp_media* m_media = nullptr;
};

// The RTP the far end sends: kept only from the negotiated address and payload type, decoded
// into a recording when one is asked for, and counted. Called on the loop thread; the
// recording and counts are read by others under the lock.
class RtpIntake {
public:
    void expect(const Negotiated& negotiated);
    void setRecording(bool on);
    // One packet as the RTP socket passed it on: its source, header and payload.
    void packet(const sa& source, const rtp_header& header, std::span<const std::uint8_t> payload);

    std::vector<std::int16_t> recording() const;
    std::uint64_t accepted() const;
    std::uint64_t dropped() const;
    // When the last packet of the call came (the timer service's clock, ns); 0 before any.
    std::int64_t lastPacketNs() const;

private:
    mutable std::mutex m_mutex;
    std::optional<Negotiated> m_expected;
    bool m_recording = false;
    std::vector<std::int16_t> m_recorded;
    std::uint64_t m_accepted = 0;
    std::uint64_t m_dropped = 0;
    std::int64_t m_lastPacketNs = 0;
};

}  // namespace peltra::sip
