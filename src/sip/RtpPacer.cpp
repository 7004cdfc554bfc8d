// Paced RTP sending for all SIP calls.
#include "sip/RtpPacer.h"

extern "C" {
#include <re/re.h>
}

#include <algorithm>

namespace peltra::sip {
namespace {

constexpr auto kFrame = std::chrono::milliseconds(kFrameMs);
constexpr auto kSlotPeriod = std::chrono::duration_cast<std::chrono::steady_clock::duration>(kFrame) / RtpPacer::kSlots;
// A tick this late has lost its place: the chain starts again from now instead of sending a
// burst of frames the far end's jitter buffer would drop.
constexpr auto kResyncLateness = std::chrono::milliseconds(3 * kFrameMs);
constexpr std::size_t kRtpHeaderBytes = 12;

}  // namespace

RtpPacer::RtpPacer() : m_packet(mbuf_alloc(kRtpHeaderBytes + kFrameSamples)) {}

RtpPacer::~RtpPacer()
{
    {
        std::lock_guard lock(m_mutex);
        for (auto& slot : m_slots)
            slot.clear();
    }
    // The timer service's destructor drops the pending tick; a running one has the lock.
    std::lock_guard lock(m_mutex);
    mem_deref(m_packet);
    m_packet = nullptr;
}

void RtpPacer::add(std::shared_ptr<RtpStream> stream)
{
    std::lock_guard lock(m_mutex);
    auto* least = &m_slots.front();
    for (auto& slot : m_slots)
        if (slot.size() < least->size())
            least = &slot;
    least->push_back(std::move(stream));
    if (!m_ticking) {
        m_ticking = true;
        m_slot = 0;
        m_deadline = platform::TimerService::Clock::now() + kSlotPeriod;
        m_timers.schedule(m_deadline, [this] { tick(); });
    }
}

void RtpPacer::remove(const std::shared_ptr<RtpStream>& stream)
{
    std::lock_guard lock(m_mutex);
    for (auto& slot : m_slots)
        slot.erase(std::remove(slot.begin(), slot.end(), stream), slot.end());
}

std::size_t RtpPacer::streams() const
{
    std::lock_guard lock(m_mutex);
    std::size_t count = 0;
    for (const auto& slot : m_slots)
        count += slot.size();
    return count;
}

void RtpPacer::tick()
{
    std::lock_guard lock(m_mutex);
    auto& slot = m_slots[m_slot];
    for (const std::shared_ptr<RtpStream>& stream : slot)
        sendFrame(*stream);
    slot.erase(std::remove_if(slot.begin(), slot.end(),
                              [](const std::shared_ptr<RtpStream>& s) { return s->finished.isSet(); }),
               slot.end());
    if (std::all_of(m_slots.begin(), m_slots.end(), [](const auto& s) { return s.empty(); })) {
        m_ticking = false;
        return;
    }
    m_slot = (m_slot + 1) % kSlots;
    m_deadline += kSlotPeriod;
    const auto now = platform::TimerService::Clock::now();
    if (now > m_deadline + kResyncLateness)
        m_deadline = now + kSlotPeriod;
    m_timers.schedule(m_deadline, [this] { tick(); });
}

void RtpPacer::sendFrame(RtpStream& stream)
{
    if (m_packet == nullptr || stream.finished.isSet())
        return;
    const std::size_t offset = stream.sent.load();
    const std::size_t size = stream.audio.size();
    const std::size_t take = std::min(kFrameSamples, size - std::min(offset, size));

    mbuf_rewind(m_packet);
    m_packet->pos = kRtpHeaderBytes;
    m_packet->end = kRtpHeaderBytes;
    int error = mbuf_write_mem(m_packet, stream.audio.data() + offset, take);
    for (std::size_t i = take; i < kFrameSamples && error == 0; ++i)
        error = mbuf_write_u8(m_packet, g711Silence(stream.peer.codec));
    m_packet->pos = kRtpHeaderBytes;

    sa destination{};
    if (error == 0)
        error = sa_set_str(&destination, stream.peer.remoteAddress.c_str(), stream.peer.remotePort);
    const auto timestamp = stream.firstTimestamp + static_cast<std::uint32_t>(offset);
    if (error == 0)
        error = rtp_send(stream.socket, &destination, false, offset == 0, payloadType(stream.peer.codec),
                         timestamp, m_packet);
    if (error != 0)
        stream.sendErrors.fetch_add(1);

    const std::size_t sent = offset + take;
    stream.sent.store(sent);
    if (sent >= stream.deliveryOffset)
        stream.delivered.store(true);
    if (sent >= size)
        stream.finished.set();
}

}  // namespace peltra::sip
