// The DTMF sound of a dial string: lengths, pauses, and the frequencies each symbol really contains.
#include "line/TonePcm.h"

#include "line/Modulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace peltra::line {
namespace {

// Signal power at one frequency over a stretch of samples (Goertzel).
double powerAt(const std::int16_t* samples, std::size_t count, double hz)
{
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / 8000.0);
    double s1 = 0;
    double s2 = 0;
    for (std::size_t n = 0; n < count; ++n) {
        const double s0 = samples[n] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

DialSettings pauses(std::uint32_t pMs, std::uint32_t wMs)
{
    return {.pulseMode = false, .delayWMs = wMs, .delayPMs = pMs, .prefix = {}, .prefixTown = {}};
}

std::vector<std::int16_t> pcmOf(std::string_view dial, const DialSettings& settings = pauses(1000, 1000))
{
    const auto pcm = buildTonePcm(dial, settings);
    EXPECT_TRUE(pcm) << dial;
    return pcm ? *pcm : std::vector<std::int16_t>{};
}

bool silent(const std::vector<std::int16_t>& pcm, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        if (pcm[i] != 0)
            return false;
    return true;
}

TEST(TonePcm, EverySymbolCarriesItsTwoFrequenciesAndNoOthers)
{
    const double rows[] = {697, 770, 852, 941};
    const double columns[] = {1209, 1336, 1477, 1633};
    const char* const keypad[] = {"123A", "456B", "789C", "*0#D"};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const char symbol = keypad[r][c];
            SCOPED_TRACE(std::string(1, symbol));
            const auto pcm = pcmOf(std::string(1, symbol));
            ASSERT_EQ(pcm.size(), 1120u);
            EXPECT_TRUE(silent(pcm, 0, 560));
            const std::int16_t* tone = pcm.data() + 560;

            // Each sine of amplitude 32767/2 over 560 samples has power (560 · 16383.5 / 2)².
            const double full = std::pow(560 * 16383.5 / 2, 2);
            double strongestOther = 0;
            for (int i = 0; i < 8; ++i) {
                const double power = powerAt(tone, 560, i < 4 ? rows[i] : columns[i - 4]);
                if (i == r || i == c + 4)
                    EXPECT_NEAR(power, full, 0.1 * full) << i;
                else
                    strongestOther = std::max(strongestOther, power);
            }
            EXPECT_LT(50 * strongestOther, 0.9 * full);
        }
    }
}

TEST(TonePcm, LengthsFollowSymbolsAndPauses)
{
    const struct {
        const char* dial;
        std::uint32_t pMs, wMs;
        std::size_t samples;
    } rows[] = {
        {"", 1000, 1000, 0}, {"1p2", 1000, 1000, 1120 + 8000 + 1120}, {"w", 1000, 800, 6400},
        {"PW", 3000, 800, 24000 + 6400}, {"12-34 56", 1000, 1000, 6 * 1120},  // blanks and dashes add nothing
        {"*#ABCD", 1000, 1000, 6 * 1120}, {"abcd+()xyz", 1000, 1000, 0},       // lowercase a-d are no DTMF
        {"9P8W8121234567", 2000, 1500, 12 * 1120 + 16000 + 12000}, {"P", 0, 0, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(pcmOf(row.dial, pauses(row.pMs, row.wMs)).size(), row.samples) << row.dial;
}

TEST(TonePcm, RefusesSoundLongerThanTheLimit)
{
    // Ten minutes is the most a dial string may sound; absurd pause settings are refused instead
    // of filling memory, also when the sum would overflow 32 bits.
    EXPECT_EQ(pcmOf("P", pauses(600000, 0)).size(), kMaxTonePcmSamples);
    EXPECT_FALSE(buildTonePcm("P", pauses(600001, 0)));
    EXPECT_FALSE(buildTonePcm("1P", pauses(600000, 0)));
    EXPECT_FALSE(buildTonePcm("W", pauses(0, UINT32_MAX)));
    EXPECT_FALSE(buildTonePcm(std::string(1000, 'p'), pauses(UINT32_MAX, 0)));
    EXPECT_FALSE(buildToneStream("WW", pauses(0, 300001)));
    // Dial strings of ordinary length are nowhere near it.
    EXPECT_TRUE(buildTonePcm(std::string(500, '5'), pauses(10000, 10000)));
}

}  // namespace
}  // namespace peltra::line
