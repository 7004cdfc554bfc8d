// The audio of a SIP call: G.711, SDP offer and answer, and the RTP that comes back.
#include "sip/Media.h"

#include "platform/text/CaseFold.h"
#include "platform/timer/TimerService.h"

extern "C" {
#include <re/re.h>
}
#include <spandsp.h>

#include <algorithm>

namespace peltra::sip {
namespace {

std::optional<Codec> codecOfFormat(const sdp_format& format)
{
    if (format.name != nullptr) {
        if (platform::equalsIgnoreCase(format.name, "PCMA"))
            return Codec::Pcma;
        if (platform::equalsIgnoreCase(format.name, "PCMU"))
            return Codec::Pcmu;
    }
    // The static payload types need no rtpmap line.
    if (format.pt == 8)
        return Codec::Pcma;
    if (format.pt == 0)
        return Codec::Pcmu;
    return std::nullopt;
}

std::string addressText(const sa& address)
{
    char text[64] = {};
    if (sa_ntop(&address, text, sizeof text) != 0)
        return {};
    return text;
}

}  // namespace

std::uint8_t payloadType(Codec codec)
{
    return codec == Codec::Pcmu ? 0 : 8;
}

std::uint8_t g711Silence(Codec codec)
{
    return codec == Codec::Pcmu ? linear_to_ulaw(0) : linear_to_alaw(0);
}

std::vector<std::uint8_t> encodeG711(Codec codec, std::span<const std::int16_t> samples)
{
    std::vector<std::uint8_t> bytes(samples.size());
    if (codec == Codec::Pcmu)
        std::transform(samples.begin(), samples.end(), bytes.begin(), [](std::int16_t s) { return linear_to_ulaw(s); });
    else
        std::transform(samples.begin(), samples.end(), bytes.begin(), [](std::int16_t s) { return linear_to_alaw(s); });
    return bytes;
}

void decodeG711(Codec codec, std::span<const std::uint8_t> bytes, std::vector<std::int16_t>& out)
{
    out.reserve(out.size() + bytes.size());
    for (std::uint8_t b : bytes)
        out.push_back(codec == Codec::Pcmu ? ulaw_to_linear(b) : alaw_to_linear(b));
}

MediaOffer::MediaOffer(const std::string& localIp, std::uint16_t rtpPort, const std::vector<Codec>& codecs)
{
    sa local{};
    if (sa_set_str(&local, localIp.c_str(), 0) != 0 || sdp_session_alloc(&m_session, &local) != 0)
        return;
    if (sdp_media_add(&m_media, m_session, "audio", rtpPort, "RTP/AVP") != 0) {
        m_media = nullptr;
        return;
    }
    for (Codec codec : codecs) {
        const std::string id = std::to_string(payloadType(codec));
        if (sdp_format_add(nullptr, m_media, false, id.c_str(), codecName(codec).c_str(), 8000, 1, nullptr,
                           nullptr, nullptr, false, nullptr) != 0) {
            m_media = nullptr;
            return;
        }
    }
}

MediaOffer::~MediaOffer()
{
    mem_deref(m_session);
}

mbuf* MediaOffer::encodeOffer()
{
    mbuf* body = nullptr;
    if (!valid() || sdp_encode(&body, m_session, true) != 0)
        return nullptr;
    return body;
}

mbuf* MediaOffer::encodeAnswer()
{
    mbuf* body = nullptr;
    if (!valid() || sdp_encode(&body, m_session, false) != 0)
        return nullptr;
    return body;
}

std::optional<Negotiated> MediaOffer::readRemote(mbuf* body, bool offer, std::string* why)
{
    const auto fail = [&](const char* text) -> std::optional<Negotiated> {
        if (why != nullptr)
            *why = text;
        return std::nullopt;
    };
    if (!valid() || body == nullptr)
        return fail("no SDP");
    if (sdp_decode(m_session, body, offer) != 0)
        return fail("SDP not understood");
    // A declined stream (port 0) has no formats either: say which it is.
    const sa* remote = sdp_media_raddr(m_media);
    if (remote == nullptr || sa_port(remote) == 0 || !sa_isset(remote, SA_ADDR))
        return fail("no audio address in SDP");
    // The first of the far end's formats that matches one we offered: it chose the order.
    const sdp_format* format = sdp_media_rformat(m_media, nullptr);
    const std::optional<Codec> codec = format != nullptr ? codecOfFormat(*format) : std::nullopt;
    if (!codec)
        return fail("no common codec");
    Negotiated negotiated;
    negotiated.codec = *codec;
    negotiated.remoteAddress = addressText(*remote);
    negotiated.remotePort = sa_port(remote);
    if (negotiated.remoteAddress.empty())
        return fail("no audio address in SDP");
    return negotiated;
}

void RtpIntake::expect(const Negotiated& negotiated)
{
    std::lock_guard lock(m_mutex);
    m_expected = negotiated;
}

void RtpIntake::setRecording(bool on)
{
    std::lock_guard lock(m_mutex);
    m_recording = on;
}

void RtpIntake::packet(const sa& source, const rtp_header& header, std::span<const std::uint8_t> payload)
{
    std::lock_guard lock(m_mutex);
    // Audio from anywhere but the negotiated address, or in a law not agreed, is not the call's.
    const bool fromPeer = m_expected && sa_port(&source) == m_expected->remotePort &&
                          addressText(source) == m_expected->remoteAddress &&
                          header.pt == payloadType(m_expected->codec);
    if (!fromPeer) {
        ++m_dropped;
        return;
    }
    ++m_accepted;
    m_lastPacketNs = platform::counterNowNs();
    // Padding is not audio: its last byte says how much of the payload's end it takes.
    if (header.pad && !payload.empty())
        payload = payload.first(payload.size() - std::min<std::size_t>(payload.back(), payload.size()));
    if (m_recording)
        decodeG711(m_expected->codec, payload, m_recorded);
}

std::vector<std::int16_t> RtpIntake::recording() const
{
    std::lock_guard lock(m_mutex);
    return m_recorded;
}

std::uint64_t RtpIntake::accepted() const
{
    std::lock_guard lock(m_mutex);
    return m_accepted;
}

std::int64_t RtpIntake::lastPacketNs() const
{
    std::lock_guard lock(m_mutex);
    return m_lastPacketNs;
}

std::uint64_t RtpIntake::dropped() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

}  // namespace peltra::sip
