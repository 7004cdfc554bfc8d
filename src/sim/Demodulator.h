// What the line adapter makes of the port stream: the 1-bit delta stream integrated back into audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace peltra::sim {

// The adapter integrates the transmit pin: each 0 bit raises the level by one step, each 1 bit
// lowers it (the speech modulator's convention, LSB of each byte first). Every 288 bits stand for
// 25 samples at 8000 samples/s, so each sample is the mean level over its 11.52-bit span:
//
//   bytes ──► bits, LSB first ──► ±step integrator (slow leak) ──► mean per 11.52 bits ──► s16
//
// The integrator leaks with a time constant of about 22 ms (a 7 Hz high-pass), as the line
// transformer blocks DC: the modulator starts every phrase from zero, and without the leak each
// phrase boundary would leave a lasting offset. Streams modulated with the tone step (twice the
// speech step) come out at half their PCM level, as they do from the real adapter. The sound
// comes out half a sample (62.5 µs) late: the modulator's interpolation fills each span from the
// sample before to the sample itself.
class Demodulator {
public:
    static constexpr int kStep = 800;
    static constexpr std::size_t kBitsPerBlock = 288;
    static constexpr std::size_t kSamplesPerBlock = 25;

    // Appends to `out` every sample the bytes complete. After n bytes in all since the last
    // reset(), floor(n · 25 / 36) samples have come out.
    void push(std::span<const std::uint8_t> bytes, std::vector<std::int16_t>& out);

    // Starts afresh: level 0, at the start of a 288-bit block.
    void reset();

private:
    double m_level = 0;
    std::size_t m_bit = 0;     // index of the next bit within its 288-bit block
    std::size_t m_sample = 0;  // index of the sample being averaged within the block
    double m_sum = 0;
    int m_count = 0;
};

// The whole stream at once, from a fresh demodulator.
std::vector<std::int16_t> demodulate(std::span<const std::uint8_t> bytes);

}  // namespace peltra::sim
