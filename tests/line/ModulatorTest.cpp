// Delta modulation of PCM into the port stream: lengths, known streams, and agreement with the
// plain per-value formula.
#include "line/Modulator.h"
#include "reference/ReferenceModulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

namespace peltra::line {
namespace {

using reference::referenceModulate;

std::vector<std::uint8_t> toBytes(const std::vector<std::int16_t>& samples)
{
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t s : samples) {
        const auto u = static_cast<std::uint16_t>(s);
        bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return bytes;
}

std::vector<std::uint8_t> modulated(const std::vector<std::uint8_t>& pcm, int step)
{
    const auto out = modulate(pcm, step);
    EXPECT_TRUE(out);
    return out ? *out : std::vector<std::uint8_t>{};
}

TEST(Modulator, OutputLengthCountsCompleteBlocksOnly)
{
    const std::pair<std::size_t, std::size_t> rows[] = {
        {0, 0}, {1, 0}, {49, 0}, {50, 36}, {99, 36}, {100, 72}, {150, 108}, {20480, 14724}, {1000001, 720000},
    };
    for (const auto& [inBytes, outBytes] : rows) {
        const std::vector<std::uint8_t> silence(inBytes, 0);
        EXPECT_EQ(modulatedSize(inBytes), outBytes);
        EXPECT_EQ(modulateSpeech(silence).value_or(std::vector<std::uint8_t>(1)).size(), outBytes) << inBytes;
        EXPECT_EQ(modulateTones(std::span<const std::uint8_t>(silence)).value_or(std::vector<std::uint8_t>(1)).size(),
                  outBytes) << inBytes;
    }
}

TEST(Modulator, MatchesPlainFormulaBitForBit)
{
    enum Signal { Noise, Walk, Extremes };  // full-range noise, speech-like, ±full scale jumps
    const struct {
        const char* name;
        std::size_t bytes;
        int step;
        Signal signal;
    } rows[] = {
        {"noise, speech step", 50 * 401 + 13, kSpeechStep, Noise},
        {"noise, tone step", 50 * 397 + 1, kToneStep, Noise},
        {"walk, speech step", 50 * 1000, kSpeechStep, Walk},
        {"walk, tone step", 50 * 999 + 49, kToneStep, Walk},
        {"extremes, speech step", 50 * 100, kSpeechStep, Extremes},
        {"extremes, tone step", 50 * 100 + 3, kToneStep, Extremes},
        {"walk, step 3", 50 * 200 + 7, 3, Walk},
        {"extremes, step 40000", 50 * 100, 40000, Extremes},
        {"noise, largest step", 50 * 50, INT_MAX, Noise},
    };
    std::mt19937 random(20240601);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (int round = 0; round < 5; ++round) {
            std::vector<std::int16_t> samples(row.bytes / 2 + 1);
            std::normal_distribution<double> delta(0, 900);
            double level = 0;
            for (std::size_t n = 0; n < samples.size(); ++n) {
                if (row.signal == Noise) {
                    samples[n] = static_cast<std::int16_t>(random());
                } else if (row.signal == Walk) {
                    level = std::clamp(level + delta(random), -32768.0, 32767.0);
                    samples[n] = static_cast<std::int16_t>(level);
                } else {
                    // Jumps between the extremes: the largest differences the interpolation sees.
                    samples[n] = (n + round) / 3 % 2 ? INT16_MIN : INT16_MAX;
                }
            }
            auto pcm = toBytes(samples);
            pcm.resize(row.bytes);
            ASSERT_EQ(modulated(pcm, row.step), referenceModulate(pcm, row.step)) << round;
        }
    }
}

TEST(Modulator, SamplesAndBytesGiveTheSameStreamAndABadStepNone)
{
    std::mt19937 random(3);
    std::vector<std::int16_t> samples(25 * 321 + 11);
    for (auto& s : samples)
        s = static_cast<std::int16_t>(random());
    const auto fromSamples = modulateTones(std::span<const std::int16_t>(samples));
    ASSERT_TRUE(fromSamples);
    EXPECT_EQ(*fromSamples, modulated(toBytes(samples), kToneStep));
    EXPECT_EQ(fromSamples->size(), 321u * 36);
    EXPECT_EQ(modulateSamples(samples, kSpeechStep), modulated(toBytes(samples), kSpeechStep));
    // A step that is not positive is refused.
    EXPECT_FALSE(modulate(toBytes(samples), 0));
    EXPECT_FALSE(modulateSamples(samples, INT_MIN));
}

}  // namespace
}  // namespace peltra::line
