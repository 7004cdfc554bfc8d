// Sample-rate conversion, trimming and 16-bit coding of library phrases.
#include "lexicon/PhraseAudio.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace peltra::lexicon {

namespace {

constexpr double kZeroCrossings = 16;
constexpr float kSilenceShareOfPeak = 0.02f;
constexpr std::uint32_t kMarginMs = 20;
constexpr std::uint32_t kPauseMs = 250;
constexpr std::uint32_t kNoMatchMs = 20;

std::vector<std::uint8_t> silence(std::uint32_t ms)
{
    return std::vector<std::uint8_t>(static_cast<std::size_t>(kPhraseRate) * ms / 1000 * 2, 0);
}

double sinc(double x)
{
    if (std::abs(x) < 1e-12)
        return 1.0;
    const double px = std::numbers::pi * x;
    return std::sin(px) / px;
}

}  // namespace

std::vector<float> resample(std::span<const float> samples, std::uint32_t fromRate, std::uint32_t toRate)
{
    if (fromRate == toRate || samples.empty() || fromRate == 0 || toRate == 0)
        return {samples.begin(), samples.end()};
    const double ratio = static_cast<double>(toRate) / fromRate;
    // The cut-off as a share of the input's Nyquist frequency, a little under the lower rate's.
    const double cutoff = std::min(1.0, ratio) * 0.95;
    const double halfWidth = kZeroCrossings / cutoff;  // in input samples
    const auto outCount = static_cast<std::size_t>(std::floor(static_cast<double>(samples.size()) * ratio));
    const auto last = static_cast<long long>(samples.size()) - 1;
    std::vector<float> out;
    out.reserve(outCount);
    for (std::size_t n = 0; n < outCount; ++n) {
        const double t = static_cast<double>(n) / ratio;
        const auto from = std::max(0LL, static_cast<long long>(std::ceil(t - halfWidth)));
        const auto to = std::min(last, static_cast<long long>(std::floor(t + halfWidth)));
        double sum = 0;
        for (long long k = from; k <= to; ++k) {
            const double x = static_cast<double>(k) - t;
            const double window = 0.42 + 0.5 * std::cos(std::numbers::pi * x / halfWidth) +
                                  0.08 * std::cos(2 * std::numbers::pi * x / halfWidth);
            sum += samples[static_cast<std::size_t>(k)] * cutoff * sinc(cutoff * x) * window;
        }
        out.push_back(static_cast<float>(sum));
    }
    return out;
}

std::vector<float> trimSilence(std::span<const float> samples, std::uint32_t rate)
{
    float peak = 0;
    for (float s : samples)
        peak = std::max(peak, std::abs(s));
    if (peak <= 0)
        return {};
    const float threshold = peak * kSilenceShareOfPeak;
    const auto loud = [&](float s) { return std::abs(s) > threshold; };
    const auto first = static_cast<std::size_t>(std::find_if(samples.begin(), samples.end(), loud) - samples.begin());
    const auto end = samples.size() -
                     static_cast<std::size_t>(std::find_if(samples.rbegin(), samples.rend(), loud) - samples.rbegin());
    const std::size_t margin = static_cast<std::size_t>(rate) * kMarginMs / 1000;
    const std::size_t begin = first > margin ? first - margin : 0;
    const std::size_t stop = std::min(samples.size(), end + margin);
    return {samples.begin() + static_cast<std::ptrdiff_t>(begin), samples.begin() + static_cast<std::ptrdiff_t>(stop)};
}

std::vector<std::uint8_t> toPcm16(std::span<const float> samples)
{
    std::vector<std::uint8_t> pcm;
    pcm.reserve(samples.size() * 2);
    for (float s : samples) {
        const float clipped = std::isfinite(s) ? std::clamp(s, -1.0f, 1.0f) : 0.0f;
        const auto v = static_cast<std::int16_t>(std::lround(std::clamp(clipped * 32768.0f, -32768.0f, 32767.0f)));
        pcm.push_back(static_cast<std::uint8_t>(v & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(v) >> 8) & 0xFF));
    }
    return pcm;
}

std::vector<float> fromPcm16(std::span<const std::uint8_t> pcm)
{
    std::vector<float> samples;
    samples.reserve(pcm.size() / 2);
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const auto v = static_cast<std::int16_t>(pcm[i] | (pcm[i + 1] << 8));
        samples.push_back(static_cast<float>(v) / 32768.0f);
    }
    return samples;
}

std::vector<std::uint8_t> phraseFromWav(const platform::WavAudio& audio, bool trim)
{
    std::vector<float> samples = resample(audio.samples, audio.sampleRate, kPhraseRate);
    if (trim)
        samples = trimSilence(samples, kPhraseRate);
    return toPcm16(samples);
}

std::vector<std::uint8_t> pausePhrase()
{
    return silence(kPauseMs);
}

std::vector<std::uint8_t> noMatchPhrase()
{
    return silence(kNoMatchMs);
}

}  // namespace peltra::lexicon
