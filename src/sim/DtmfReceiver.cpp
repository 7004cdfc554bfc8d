// The exchange's DTMF digit receiver: spandsp's telephony-grade detector over 8 kHz audio.
#include "sim/DtmfReceiver.h"

#include <spandsp.h>

#include <algorithm>
#include <mutex>

namespace peltra::sim {
namespace {

// spandsp fills shared filter tables on its first initialisation, unguarded; lines start calls
// on several threads.
std::mutex& initMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Without a callback spandsp keeps recognised digits in a small buffer of its own (128) and drops
// any beyond it; half a second of audio holds at most four, so draining after each such chunk
// never loses one.
constexpr std::size_t kChunk = 4096;

}  // namespace

DtmfReceiver::DtmfReceiver()
{
    const std::lock_guard lock(initMutex());
    m_state = dtmf_rx_init(nullptr, nullptr, nullptr);
}

DtmfReceiver::~DtmfReceiver()
{
    if (m_state)
        dtmf_rx_free(m_state);
}

void DtmfReceiver::push(std::span<const std::int16_t> samples, std::string& digits)
{
    if (!m_state)
        return;
    char buffer[64];
    while (!samples.empty()) {
        const std::size_t n = std::min(samples.size(), kChunk);
        dtmf_rx(m_state, samples.data(), static_cast<int>(n));
        samples = samples.subspan(n);
        for (;;) {
            const std::size_t got = dtmf_rx_get(m_state, buffer, static_cast<int>(sizeof buffer - 1));
            if (got == 0)
                break;
            digits.append(buffer, got);
        }
    }
}

}  // namespace peltra::sim
