// The adapter's demodulator inverts the station's modulator, and the DTMF receiver hears tone dialing.
#include "sim/Demodulator.h"

#include "line/DialString.h"
#include "line/Modulator.h"
#include "line/TonePcm.h"
#include "sim/DtmfReceiver.h"
#include "sim/LineDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <string>
#include <vector>

namespace peltra::sim {
namespace {

using test::bytesOf;
using test::sine;

// Signal power at one frequency over a stretch of samples (Goertzel).
double powerAt(std::span<const std::int16_t> samples, double hz)
{
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / 8000.0);
    double s1 = 0;
    double s2 = 0;
    for (const std::int16_t sample : samples) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

double rms(std::span<const std::int16_t> samples)
{
    return std::sqrt(std::inner_product(samples.begin(), samples.end(), samples.begin(), 0.0) /
                     static_cast<double>(samples.size()));
}

// Pearson correlation of two equally long stretches.
double correlation(std::span<const std::int16_t> a, std::span<const std::int16_t> b)
{
    const auto mean = [](auto s) { return std::accumulate(s.begin(), s.end(), 0.0) / static_cast<double>(s.size()); };
    const double ma = mean(a);
    const double mb = mean(b);
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

TEST(Demodulator, SpeechStreamOfASineComesBackAsThatSine)
{
    const std::vector<std::int16_t> original = sine(1000, 8000, 8000);
    const auto stream = line::modulateSpeech(bytesOf(original));
    ASSERT_TRUE(stream);
    const std::vector<std::int16_t> heard = demodulate(*stream);
    ASSERT_EQ(heard.size(), original.size());

    // Past the first 100 ms, where the integrator settles.
    const std::span<const std::int16_t> tail = std::span(heard).subspan(800);
    const double at1k = powerAt(tail, 1000);
    for (const double other : {300.0, 500.0, 1500.0, 2000.0, 3000.0})
        EXPECT_GT(at1k, 1000 * powerAt(tail, other)) << other << " Hz";  // 30 dB below
    EXPECT_NEAR(rms(tail), 8000 / std::sqrt(2.0), 8000 / std::sqrt(2.0) * 0.1);

    // The same waveform, half a sample late: each sample is the mean over a span that the
    // modulator's interpolation fills from the sample before to the sample itself.
    std::vector<std::int16_t> halfLate(original.size());
    for (std::size_t n = 1; n < original.size(); ++n)
        halfLate[n] = static_cast<std::int16_t>((original[n] + original[n - 1]) / 2);
    const double similarity = correlation(std::span(halfLate).subspan(800), tail);
    EXPECT_GT(similarity, 0.99);
}

TEST(Demodulator, ToneStepStreamComesOutAtHalfItsLevelAndSilenceSettlesToQuiet)
{
    const auto stream = line::modulateTones(std::span<const std::int16_t>(sine(1000, 8000, 8000)));
    ASSERT_TRUE(stream);
    const std::vector<std::int16_t> tone = demodulate(*stream);
    EXPECT_NEAR(rms(std::span(tone).subspan(800)), 4000 / std::sqrt(2.0), 4000 / std::sqrt(2.0) * 0.1);

    const std::vector<std::int16_t> heard = demodulate(std::vector<std::uint8_t>(36 * 320, 0x55));  // 1 s of silence
    ASSERT_EQ(heard.size(), 8000u);
    EXPECT_LT(*std::max_element(heard.begin() + 800, heard.end(), [](int a, int b) { return std::abs(a) < std::abs(b); }), 50);
    EXPECT_GT(*std::min_element(heard.begin() + 800, heard.end()), -50);

    // All zero bits: the level only rises, far past the 16-bit range, and is clamped, not wrapped.
    const std::vector<std::int16_t> rising = demodulate(std::vector<std::uint8_t>(3600, 0x00));
    ASSERT_FALSE(rising.empty());
    EXPECT_EQ(rising.back(), 32767);
    EXPECT_TRUE(std::all_of(rising.begin(), rising.end(), [](std::int16_t s) { return s >= 0; }));
}

TEST(Demodulator, EveryElevenAndAHalfBitsGiveOneSampleWhateverThePieces)
{
    struct Case {
        std::size_t bytes;
        std::size_t samples;
    };
    const Case cases[] = {{0, 0}, {1, 0}, {2, 1}, {35, 24}, {36, 25}, {37, 25}, {72, 50}, {1000, 694}};
    std::vector<std::uint8_t> stream(1000);
    for (std::size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (const Case& c : cases)
        EXPECT_EQ(demodulate(std::span(stream).first(c.bytes)).size(), c.samples) << c.bytes;

    // Pushing in odd pieces changes nothing.
    Demodulator pieces;
    std::vector<std::int16_t> out;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min<std::size_t>(at % 7 + 1, stream.size() - at);
        pieces.push(std::span(stream).subspan(at, n), out);
        at += n;
    }
    EXPECT_EQ(out, demodulate(stream));

    pieces.reset();
    out.clear();
    pieces.push(std::span(stream).first(36), out);
    EXPECT_EQ(out, demodulate(std::span(stream).first(36)));
}

TEST(Demodulator, FirstBitOfEachByteIsItsLeastSignificant)
{
    // 0x00 then 0xF0: twelve rises in a row when the low bits go first (mean 5200), only eight
    // and then four falls when the high bits go first (mean about 3870).
    const std::vector<std::int16_t> heard = demodulate(std::vector<std::uint8_t>{0x00, 0xF0, 0x00});
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_NEAR(heard[0], 5200, 60);
}

TEST(DtmfReceiver, HearsEveryToneDialingSymbolThroughTheAdapter)
{
    struct Case {
        const char* dial;
        const char* digits;
    };
    const Case cases[] = {
        {"0123456789*#ABCD", "0123456789*#ABCD"},
        {"1P2", "12"},
        {"1122", "1122"},
        {"8W-812 555", "8812555"},
    };
    line::DialSettings settings;
    settings.pulseMode = false;
    settings.delayPMs = 1000;
    settings.delayWMs = 300;
    for (const Case& c : cases) {
        const auto stream = line::buildToneStream(c.dial, settings);
        ASSERT_TRUE(stream) << c.dial;
        DtmfReceiver receiver;
        ASSERT_TRUE(receiver.valid());
        std::string digits;
        receiver.push(demodulate(*stream), digits);
        EXPECT_EQ(digits, c.digits) << c.dial;
    }
    // A speech-like sine, or one half of a pair alone, is no digit.
    DtmfReceiver receiver;
    std::string digits;
    receiver.push(sine(1000, 8000, 8000), digits);
    receiver.push(sine(697, 8000, 8000), digits);
    EXPECT_EQ(digits, "");
}

}  // namespace
}  // namespace peltra::sim
