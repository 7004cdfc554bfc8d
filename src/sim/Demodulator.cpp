// What the line adapter makes of the port stream: the 1-bit delta stream integrated back into audio.
#include "sim/Demodulator.h"

#include <algorithm>
#include <cmath>

namespace peltra::sim {
namespace {

// Fraction of the level lost per bit: a time constant of 2048 bits, 22 ms at 92,160 bits/s.
constexpr double kLeak = 1.0 / 2048;

std::int16_t clampSample(double v)
{
    return static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

}  // namespace

void Demodulator::push(std::span<const std::uint8_t> bytes, std::vector<std::int16_t>& out)
{
    out.reserve(out.size() + bytes.size() * kSamplesPerBlock * 8 / kBitsPerBlock + 1);
    for (const std::uint8_t byte : bytes) {
        for (unsigned b = 0; b < 8; ++b) {
            const bool down = (byte >> b) & 1u;
            m_level += down ? -kStep : kStep;
            m_level -= m_level * kLeak;
            m_sum += m_level;
            ++m_count;

            // Bit k of a block belongs to sample floor(k · 25 / 288).
            ++m_bit;
            const std::size_t next = m_bit == kBitsPerBlock ? kSamplesPerBlock : m_bit * kSamplesPerBlock / kBitsPerBlock;
            if (next != m_sample) {
                out.push_back(clampSample(m_sum / m_count));
                m_sum = 0;
                m_count = 0;
                m_sample = next;
            }
            if (m_bit == kBitsPerBlock) {
                m_bit = 0;
                m_sample = 0;
            }
        }
    }
}

void Demodulator::reset()
{
    *this = Demodulator{};
}

std::vector<std::int16_t> demodulate(std::span<const std::uint8_t> bytes)
{
    Demodulator demodulator;
    std::vector<std::int16_t> out;
    demodulator.push(bytes, out);
    return out;
}

}  // namespace peltra::sim
