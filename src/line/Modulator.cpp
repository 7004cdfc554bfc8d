// Delta modulation of 16-bit PCM into the bit stream the line adapter integrates back into sound.
#include "line/Modulator.h"

#include <array>
#include <new>
#include <stdexcept>

// The stream is defined by a separate multiply and add in double. A fused multiply-add (which
// compilers emit when the target has one) rounds once instead of twice and changes bits of it.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace peltra::line {
namespace {

// Where output value k of a block falls between the block's samples: between s_index and
// s_(index+1), at `fraction` of the way. s_0 is the last sample of the previous block (0 for the
// first block).
struct Tap {
    int index;
    double fraction;
};

// The interpolation positions are the same for every block, so they are worked out once. The
// fraction is the double p − i with p = k·25/288, exactly as the per-value formula has it, so the
// stream stays bit for bit the same as evaluating that formula directly.
constexpr std::array<Tap, kStreamBlockBits> makeTaps()
{
    std::array<Tap, kStreamBlockBits> taps{};
    for (int k = 0; k < static_cast<int>(kStreamBlockBits); ++k) {
        const int i = k * static_cast<int>(kPcmBlockSamples) / static_cast<int>(kStreamBlockBits);
        const double p = k * static_cast<int>(kPcmBlockSamples) / static_cast<double>(kStreamBlockBits);
        taps[k] = Tap{i, p - i};
    }
    return taps;
}

constexpr std::array<Tap, kStreamBlockBits> kTaps = makeTaps();

// Reads sample j of a block of little-endian bytes.
struct ByteSamples {
    const std::uint8_t* data;
    int operator()(std::size_t j) const
    {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(data[2 * j] | (data[2 * j + 1] << 8)));
    }
};

struct WordSamples {
    const std::int16_t* data;
    int operator()(std::size_t j) const { return data[j]; }
};

// The quantiser compares the interpolated value v with the integrator, which only ever holds
// whole multiples of the step. For a whole number a, v > a exactly when ceil(v) > a, so each v is
// reduced to the integer ceil(v) outside the integrator's serial dependency chain, and the chain
// itself (compare, add) runs in integers, a cycle or two per value instead of a double compare
// and add.
inline int ceilToInt(double v)
{
    const int truncated = static_cast<int>(v);  // |v| stays within the 16-bit sample range
    return truncated + (v > truncated ? 1 : 0);
}

template <typename Samples>
std::optional<std::vector<std::uint8_t>> modulateBlocks(Samples samples, std::size_t blocks, int step)
{
    if (step <= 0)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    try {
        out.resize(blocks * kStreamBlockBytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }

    std::int64_t acc = 0;
    int prev = 0;
    std::array<double, kPcmBlockSamples> level{};
    std::array<double, kPcmBlockSamples> slope{};
    std::array<int, kStreamBlockBits> ceilings{};
    std::uint8_t* outByte = out.data();
    for (std::size_t block = 0; block < blocks; ++block) {
        // Samples and their differences as doubles once per block rather than once per value;
        // both are exact, so v comes out the same.
        int sample = prev;
        const std::size_t first = block * kPcmBlockSamples;
        for (std::size_t j = 0; j < kPcmBlockSamples; ++j) {
            const int next = samples(first + j);
            level[j] = sample;
            slope[j] = next - sample;
            sample = next;
        }
        prev = sample;

        for (std::size_t k = 0; k < kStreamBlockBits; ++k) {
            const Tap& tap = kTaps[k];
            const double v = level[tap.index] + tap.fraction * slope[tap.index];
            ceilings[k] = ceilToInt(v);
        }

        // Bit 0 when v > acc (integrator rises), bit 1 otherwise (it falls); the first value of
        // each eight goes into bit 0, which the UART sends first.
        const int* ceiling = ceilings.data();
        for (std::size_t byte = 0; byte < kStreamBlockBytes; ++byte, ceiling += 8) {
            unsigned packed = 0;
#pragma GCC unroll 8
            for (unsigned bit = 0; bit < 8; ++bit) {
                const bool one = acc >= ceiling[bit];
                acc += one ? -step : step;
                packed |= static_cast<unsigned>(one) << bit;
            }
            *outByte++ = static_cast<std::uint8_t>(packed);
        }
    }
    return out;
}

}  // namespace

std::size_t modulatedSize(std::size_t pcmBytes)
{
    return pcmBytes / kPcmBlockBytes * kStreamBlockBytes;
}

std::optional<std::vector<std::uint8_t>> modulate(std::span<const std::uint8_t> pcm, int step)
{
    return modulateBlocks(ByteSamples{pcm.data()}, pcm.size() / kPcmBlockBytes, step);
}

std::optional<std::vector<std::uint8_t>> modulateSamples(std::span<const std::int16_t> samples, int step)
{
    return modulateBlocks(WordSamples{samples.data()}, samples.size() / kPcmBlockSamples, step);
}

std::optional<std::vector<std::uint8_t>> modulateSpeech(std::span<const std::uint8_t> pcm)
{
    return modulate(pcm, kSpeechStep);
}

std::optional<std::vector<std::uint8_t>> modulateTones(std::span<const std::uint8_t> pcm)
{
    return modulate(pcm, kToneStep);
}

std::optional<std::vector<std::uint8_t>> modulateTones(std::span<const std::int16_t> samples)
{
    return modulateSamples(samples, kToneStep);
}

}  // namespace peltra::line
