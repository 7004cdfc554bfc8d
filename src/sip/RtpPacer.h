// Sends the messages of every SIP call in progress as RTP, one 20 ms frame per call per tick.
#pragma once

#include "platform/sync/Event.h"
#include "platform/timer/TimerService.h"
#include "sip/Media.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct rtp_sock;
struct mbuf;

namespace peltra::sip {

// One message on its way: G.711 bytes, the RTP socket of the call and the far end's address.
// The pacer writes position, delivered and finished; the call's session reads them.
struct RtpStream {
    struct rtp_sock* socket = nullptr;       // owned by the call; valid until the stream is removed
    Negotiated peer;
    std::vector<std::uint8_t> audio;  // the whole message in the negotiated law
    std::size_t deliveryOffset = 0;   // bytes before the delivery marker (audio.size() without one)
    std::uint32_t firstTimestamp = 0; // RTP timestamps start at a random value

    std::atomic<std::size_t> sent{0};       // bytes sent so far
    std::atomic<bool> delivered{false};     // everything before the marker has been sent
    platform::Event finished{true, false};  // the last frame has been sent
    std::atomic<std::uint64_t> sendErrors{0};
};

// All streams share one tick chain on a timer service of their own, at absolute deadlines, so a
// late tick does not shift the ones after it. The 20 ms frame is cut into slots and each stream
// keeps the slot it was given, the least filled one: a tick sends the frames of one slot only, so
// a call's packet waits behind a tenth of the others, not all of them, and the spacing the far end
// sees stays even with many calls.
// Sending from this thread while the loop thread receives on the same socket is how libre's own
// softphone sends audio: RTP sockets take it.
class RtpPacer {
public:
    // The slots of one 20 ms frame.
    static constexpr std::size_t kSlots = 10;

    RtpPacer();
    ~RtpPacer();
    RtpPacer(const RtpPacer&) = delete;
    RtpPacer& operator=(const RtpPacer&) = delete;

    // Starts sending at the next tick of the stream's slot; the first packet carries the marker bit.
    void add(std::shared_ptr<RtpStream> stream);
    // Once this returns, the stream's socket is not touched again.
    void remove(const std::shared_ptr<RtpStream>& stream);

    std::size_t streams() const;

private:
    void tick();
    void sendFrame(RtpStream& stream);

    mutable std::mutex m_mutex;
    std::array<std::vector<std::shared_ptr<RtpStream>>, kSlots> m_slots;
    std::size_t m_slot = 0;  // the slot of the next tick
    platform::TimerService::TimePoint m_deadline{};
    bool m_ticking = false;
    mbuf* m_packet = nullptr;  // reused for every frame, under the lock
    // Last, so it is destroyed first: its thread ends before what the ticks touch goes.
    platform::TimerService m_timers;
};

}  // namespace peltra::sip
