// Phrase audio: rate conversion without aliasing, silence trimming, 16-bit coding, the pause.
#include "lexicon/PhraseAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

namespace peltra::lexicon {
namespace {

std::vector<float> sine(double frequency, std::uint32_t rate, double seconds, double amplitude)
{
    std::vector<float> out(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate));
    return out;
}

// The middle of a signal, away from the filter's run-in at both ends.
std::vector<float> middle(const std::vector<float>& samples, std::size_t margin)
{
    if (samples.size() <= 2 * margin)
        return {};
    return {samples.begin() + static_cast<std::ptrdiff_t>(margin), samples.end() - static_cast<std::ptrdiff_t>(margin)};
}

// The amplitude of one frequency's sinusoid in the samples (Goertzel).
double amplitudeAt(const std::vector<float>& samples, double frequency, std::uint32_t rate)
{
    const double w = 2 * std::numbers::pi * frequency / rate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (float x : samples) {
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / static_cast<double>(samples.size());
}

std::size_t zeroCrossings(const std::vector<float>& samples)
{
    std::size_t n = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        n += (samples[i - 1] < 0) != (samples[i] < 0);
    return n;
}

TEST(PhraseAudioTest, AToneKeepsItsFrequencyAndAmplitudeThroughEveryRate)
{
    for (const std::uint32_t from : {22050u, 44100u, 48000u, 16000u, 11025u, 8000u, 4000u}) {
        SCOPED_TRACE("from " + std::to_string(from) + " Hz");
        const auto in = sine(1000, from, 1.0, 0.5);
        const auto out = resample(in, from, kPhraseRate);
        EXPECT_EQ(out.size(), static_cast<std::size_t>(std::floor(in.size() * 8000.0 / from)));
        const auto steady = middle(out, 400);  // 50 ms each side
        ASSERT_FALSE(steady.empty());
        const double seconds = static_cast<double>(steady.size()) / kPhraseRate;
        EXPECT_NEAR(static_cast<double>(zeroCrossings(steady)), 2 * 1000 * seconds, 3);
        EXPECT_NEAR(amplitudeAt(steady, 1000, kPhraseRate), 0.5, 0.5 * 0.03);
        // Nothing of it lands at another frequency.
        EXPECT_LT(amplitudeAt(steady, 2000, kPhraseRate), 0.005);
    }
}

TEST(PhraseAudioTest, TrimSilenceKeepsTwentyMillisecondsEachSide)
{
    const struct {
        std::uint32_t rate;
        std::size_t lead, loud, tail;
        std::size_t keptLead, keptTail;
    } cases[] = {
        {8000, 8000, 1600, 8000, 160, 160},
        {16000, 4000, 100, 4000, 320, 320},
        {8000, 50, 800, 8000, 50, 160},  // less lead-in than the margin: all of it stays
        {8000, 8000, 800, 0, 160, 0},
        {8000, 0, 1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lead);
        std::vector<float> in(c.lead, 0.0f);
        for (std::size_t i = 0; i < c.loud; ++i)
            in.push_back(i % 2 ? 0.6f : -0.6f);
        in.resize(in.size() + c.tail, 0.0f);
        const auto out = trimSilence(in, c.rate);
        ASSERT_EQ(out.size(), c.keptLead + c.loud + c.keptTail);
        for (std::size_t i = 0; i < c.keptLead; ++i)
            ASSERT_EQ(out[i], 0.0f);
        EXPECT_EQ(out[c.keptLead], -0.6f);
        EXPECT_EQ(out[c.keptLead + c.loud - 1], c.loud % 2 ? -0.6f : 0.6f);
    }
}

std::int16_t pcmValue(const std::vector<std::uint8_t>& pcm, std::size_t i)
{
    return static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
}

TEST(PhraseAudioTest, Pcm16IsClippedRoundedAndLittleEndian)
{
    const struct {
        float in;
        std::int16_t out;
    } cases[] = {
        {0.0f, 0}, {0.5f, 16384}, {-0.5f, -16384}, {1.0f, 32767}, {1.5f, 32767}, {-1.0f, -32768}, {-2.0f, -32768},
        {0.6f / 32768.0f, 1}, {0.4f / 32768.0f, 0}, {-0.6f / 32768.0f, -1}, {100.6f / 32768.0f, 101},
        {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    std::vector<float> in;
    for (const auto& c : cases)
        in.push_back(c.in);
    const auto pcm = toPcm16(in);
    ASSERT_EQ(pcm.size(), 2 * in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        EXPECT_EQ(pcmValue(pcm, i), cases[i].out) << "input " << cases[i].in;
    EXPECT_EQ(toPcm16(std::vector<float>{0x1234 / 32768.0f}), (std::vector<std::uint8_t>{0x34, 0x12}));
}

// The trimmed phrase itself is read back in the library build test; here what stays whole.
TEST(PhraseAudioTest, UntrimmedWavKeepsItsLengthAndSilenceTrimsToNothing)
{
    platform::WavAudio audio;
    audio.sampleRate = 16000;
    audio.samples = sine(500, 16000, 0.3, 0.5);
    audio.samples.resize(audio.samples.size() + 8001, 0.0f);
    EXPECT_EQ(phraseFromWav(audio, false).size(), 2u * (audio.samples.size() / 2));
    audio.samples.assign(16000, 0.0f);
    EXPECT_TRUE(phraseFromWav(audio, true).empty());
    EXPECT_EQ(pausePhrase(), std::vector<std::uint8_t>(4000, 0));  // 250 ms at 8000 samples/s, 2 bytes each
}

}  // namespace
}  // namespace peltra::lexicon
