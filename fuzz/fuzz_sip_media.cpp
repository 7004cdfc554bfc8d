// libFuzzer target: what a far end sends about and as media, the SDP answer (or offer) and the RTP
// packets, never crashes the station, and the intake keeps only the negotiated peer's audio.
//
// Input: flags, SDP length / 2, SDP bytes, then packets as [source][length][bytes]...
//   flags & 3: the head the SDP bytes follow, so that short inputs reach the codec and address
//              code: none, a valid one, one with the audio declined (port 0), one on hold (0.0.0.0)
//   flags bit 2: the SDP is the far end's offer (answered) rather than its answer
//   flags bit 3: the intake expects a peer (the SDP's when it negotiated, else a fixed one)
//   flags bit 4: recording on
//   flags bit 5: the law of the G.711 round trip
//   source & 3: 0 the peer, 1 its address on the next port, 2 another IPv4 address, 3 an IPv6 one
#include "sip/Media.h"

extern "C" {
#include <re/re.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using peltra::sip::Codec;
using peltra::sip::Negotiated;

constexpr std::string_view kHeads[] = {
    "",
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio 6000 RTP/AVP 8 0\r\n",
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio 0 RTP/AVP 8 0\r\n",
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\nm=audio 6000 RTP/AVP 8 0\r\n",
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

mbuf* bufferOf(std::span<const std::uint8_t> head, std::span<const std::uint8_t> bytes)
{
    // Exactly the bytes' size, so that reading past them meets AddressSanitizer's red zone.
    mbuf* buffer = mbuf_alloc(std::max<std::size_t>(head.size() + bytes.size(), 1));
    check(buffer != nullptr);
    // libre refuses to write from a null pointer, which an empty span may hold.
    for (std::span<const std::uint8_t> part : {head, bytes})
        if (!part.empty())
            check(mbuf_write_mem(buffer, part.data(), part.size()) == 0);
    buffer->pos = 0;
    return buffer;
}

// The packet's source for a selector: the peer itself or something near it that is not it.
std::optional<sa> sourceFor(std::uint8_t selector, const Negotiated& peer)
{
    std::string address = peer.remoteAddress;
    std::uint16_t port = peer.remotePort;
    switch (selector & 3) {
    case 1:
        ++port;
        break;
    case 2:
        address = address == "127.0.0.2" ? "127.0.0.3" : "127.0.0.2";
        break;
    case 3:
        address = address == "::1" ? "::2" : "::1";
        break;
    default:
        break;
    }
    sa source{};
    if (sa_set_str(&source, address.c_str(), port) != 0)
        return std::nullopt;
    return source;
}

// Law to linear to law to linear gives the same samples: the coding is stable for any byte a peer sends.
void roundTripG711(Codec codec, std::span<const std::uint8_t> bytes)
{
    std::vector<std::int16_t> samples;
    peltra::sip::decodeG711(codec, bytes, samples);
    check(samples.size() == bytes.size());
    const std::vector<std::uint8_t> again = peltra::sip::encodeG711(codec, samples);
    std::vector<std::int16_t> resampled;
    peltra::sip::decodeG711(codec, again, resampled);
    check(resampled == samples);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // MediaOffer uses only libre's memory and SDP code: no thread or main loop is needed.
    return libre_init();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t flags = data[0];
    std::span<const std::uint8_t> rest(data + 2, size - 2);
    const std::size_t sdpSize = std::min<std::size_t>(rest.size(), data[1] * 2u);
    const std::span<const std::uint8_t> sdpBytes = rest.first(sdpSize);
    rest = rest.subspan(sdpSize);

    // (a) The SDP, as the far end's answer or offer, read by a fresh offer of ours.
    std::optional<Negotiated> negotiated;
    {
        peltra::sip::MediaOffer offer("127.0.0.1", 10000, {Codec::Pcma, Codec::Pcmu});
        check(offer.valid());
        const bool isOffer = (flags & 4) != 0;
        const std::string_view headText = kHeads[flags & 3];
        const std::span<const std::uint8_t> head(reinterpret_cast<const std::uint8_t*>(headText.data()),
                                                 headText.size());
        if (!isOffer) {
            // An answer is read against the offer sent before it, as a call does: libre takes the
            // offered media into the session only when the offer is encoded.
            mbuf* sent = offer.encodeOffer();
            check(sent != nullptr);
            mem_deref(sent);
        }
        mbuf* body = bufferOf(head, sdpBytes);
        std::string why;
        negotiated = offer.readRemote(body, isOffer, &why);
        mem_deref(body);
        if (negotiated) {
            // Somewhere audio can be sent: a port and an address that is not the unspecified one.
            check(negotiated->remotePort != 0 && !negotiated->remoteAddress.empty() &&
                  negotiated->remoteAddress != "0.0.0.0" && negotiated->remoteAddress != "::");
            if (isOffer) {
                mbuf* answer = offer.encodeAnswer();
                check(answer != nullptr);
                mem_deref(answer);
            }
        } else {
            check(!why.empty());
        }
    }

    // (b) The RTP packets, against the negotiated peer or a fixed one.
    const Negotiated peer = negotiated.value_or(Negotiated{Codec::Pcma, "127.0.0.1", 6000});
    const bool expecting = (flags & 8) != 0;
    const bool recording = (flags & 16) != 0;
    peltra::sip::RtpIntake intake;
    if (expecting)
        intake.expect(peer);
    intake.setRecording(recording);

    std::uint64_t decoded = 0;
    std::uint64_t fromPeer = 0;
    std::size_t peerSamples = 0;
    while (rest.size() >= 2) {
        const std::uint8_t selector = rest[0];
        const std::size_t length = std::min<std::size_t>(rest[1], rest.size() - 2);
        const std::span<const std::uint8_t> bytes = rest.subspan(2, length);
        rest = rest.subspan(2 + length);
        const std::optional<sa> source = sourceFor(selector, peer);
        if (!source)
            continue;
        mbuf* packet = bufferOf({}, bytes);
        rtp_header header{};
        if (rtp_hdr_decode(&header, packet) == 0) {
            const std::span<const std::uint8_t> payload(mbuf_buf(packet), mbuf_get_left(packet));
            intake.packet(*source, header, payload);
            ++decoded;
            if (expecting && (selector & 3) == 0 && header.pt == peltra::sip::payloadType(peer.codec)) {
                ++fromPeer;
                // A padded packet's last byte counts the padding, which is no audio.
                const std::size_t padding = header.pad && !payload.empty() ? payload.back() : 0;
                peerSamples += payload.size() - std::min(padding, payload.size());
            }
        }
        mem_deref(packet);
    }
    // Only the peer's packets in the agreed law count, and only their payload, without padding, is recorded.
    check(intake.accepted() == fromPeer);
    check(intake.accepted() + intake.dropped() == decoded);
    check(intake.recording().size() == (recording ? peerSamples : 0));

    roundTripG711((flags & 32) != 0 ? Codec::Pcmu : Codec::Pcma, sdpBytes);
    return 0;
}
