// Speed of the delta modulator on a 60 s phrase, as samples/s and as a multiple of real time.
#include "line/Modulator.h"
#include "reference/ReferenceModulator.h"
#include "line/TonePcm.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace peltra::line;

constexpr std::size_t kSampleRate = 8000;
constexpr std::size_t kPhraseSamples = 60 * kSampleRate;

// A minute of speech-like PCM: a few wandering partials under an envelope, plus noise.
const std::vector<std::int16_t>& phraseSamples()
{
    static const std::vector<std::int16_t> samples = [] {
        std::vector<std::int16_t> out(kPhraseSamples);
        std::mt19937 random(1);
        std::normal_distribution<double> noise(0, 300);
        for (std::size_t n = 0; n < out.size(); ++n) {
            const double t = static_cast<double>(n) / kSampleRate;
            const double envelope = 0.5 + 0.5 * std::sin(2 * 3.14159265 * 3 * t);
            const double voice = 6000 * std::sin(2 * 3.14159265 * (140 + 20 * std::sin(t)) * t) +
                                 3000 * std::sin(2 * 3.14159265 * 720 * t) +
                                 1500 * std::sin(2 * 3.14159265 * 2300 * t);
            out[n] = static_cast<std::int16_t>(std::clamp(envelope * voice + noise(random), -32768.0, 32767.0));
        }
        return out;
    }();
    return samples;
}

const std::vector<std::uint8_t>& phraseBytes()
{
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> out;
        for (const std::int16_t s : phraseSamples()) {
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xFF));
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
        }
        return out;
    }();
    return bytes;
}

void reportRates(benchmark::State& state, std::size_t samplesPerIteration)
{
    const auto samples = static_cast<double>(samplesPerIteration) * static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    // items_per_second / 8000: how many lines one core could feed with speech. Google Benchmark
    // prints every rate with a "/s" suffix; the figure is a plain factor ("4.7k/s" = 4700x).
    state.counters["x_real_time"] = benchmark::Counter(samples / kSampleRate, benchmark::Counter::kIsRate);
}

void BM_ModulateSpeech(benchmark::State& state)
{
    const auto& pcm = phraseBytes();
    for (auto _ : state) {
        auto out = modulateSpeech(pcm);
        if (!out)
            std::abort();
        benchmark::DoNotOptimize(out->data());
    }
    reportRates(state, kPhraseSamples);
}
BENCHMARK(BM_ModulateSpeech)->Unit(benchmark::kMillisecond);

void BM_ModulateTonesFromSamples(benchmark::State& state)
{
    const auto& samples = phraseSamples();
    for (auto _ : state) {
        auto out = modulateTones(std::span<const std::int16_t>(samples));
        if (!out)
            std::abort();
        benchmark::DoNotOptimize(out->data());
    }
    reportRates(state, kPhraseSamples);
}
BENCHMARK(BM_ModulateTonesFromSamples)->Unit(benchmark::kMillisecond);

// The plain reference formula: the baseline the table-driven modulator is measured against.
void BM_PlainFormulaBaseline(benchmark::State& state)
{
    const auto& pcm = phraseBytes();
    for (auto _ : state) {
        auto out = peltra::reference::referenceModulate(pcm, kSpeechStep);
        benchmark::DoNotOptimize(out.data());
    }
    reportRates(state, kPhraseSamples);
}
BENCHMARK(BM_PlainFormulaBaseline)->Unit(benchmark::kMillisecond);

// A whole tone-dialing buffer for a long-distance number: synthesis plus modulation.
void BM_BuildToneStream(benchmark::State& state)
{
    DialSettings settings;
    settings.pulseMode = false;
    std::size_t samples = 0;
    for (auto _ : state) {
        auto out = buildToneStream("9P8W8121234567", settings);
        if (!out)
            std::abort();
        samples = out->size() / kStreamBlockBytes * kPcmBlockSamples;
        benchmark::DoNotOptimize(out->data());
    }
    reportRates(state, samples);
}
BENCHMARK(BM_BuildToneStream)->Unit(benchmark::kMicrosecond);

}  // namespace
