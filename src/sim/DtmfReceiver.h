// The exchange's DTMF digit receiver: spandsp's telephony-grade detector over 8 kHz audio.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct dtmf_rx_state_s;

namespace peltra::sim {

// One receiver per call. Not thread-safe; the owner serialises calls.
class DtmfReceiver {
public:
    DtmfReceiver();
    ~DtmfReceiver();
    DtmfReceiver(const DtmfReceiver&) = delete;
    DtmfReceiver& operator=(const DtmfReceiver&) = delete;

    // False when the receiver could not be created; push() then recognises nothing.
    bool valid() const { return m_state != nullptr; }

    // Runs the receiver over 8000 samples/s audio and appends the digits it recognised, in order
    // ('0'-'9', '*', '#', 'A'-'D').
    void push(std::span<const std::int16_t> samples, std::string& digits);

private:
    dtmf_rx_state_s* m_state = nullptr;
};

}  // namespace peltra::sim
