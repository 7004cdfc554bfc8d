// The DTMF sound of a dial string for tone dialing, as PCM and as the modulated port stream.
#include "line/TonePcm.h"

#include "line/Modulator.h"

#include <cmath>
#include <new>
#include <stdexcept>

namespace peltra::line {
namespace {

// 2π/8000 to the precision the tone generator has always used.
constexpr double kRadiansPerHzSample = 0.0007854;

// Samples a character adds to the sound.
std::uint64_t samplesFor(char c, const DialSettings& settings)
{
    if (dtmfFrequencies(c))
        return kDtmfSilenceSamples + kDtmfToneSamples;
    if (c == 'P' || c == 'p')
        return std::uint64_t{settings.delayPMs} * kSamplesPerMs;
    if (c == 'W' || c == 'w')
        return std::uint64_t{settings.delayWMs} * kSamplesPerMs;
    return 0;
}

void appendTone(std::vector<std::int16_t>& pcm, int f1, int f2)
{
    for (std::size_t k = 0; k < kDtmfToneSamples; ++k) {
        const double x = kRadiansPerHzSample * f1 * static_cast<double>(k);
        const double y = kRadiansPerHzSample * f2 * static_cast<double>(k);
        pcm.push_back(static_cast<std::int16_t>((std::sin(x) + std::sin(y)) * 32767 * 0.5));
    }
}

}  // namespace

std::optional<std::pair<int, int>> dtmfFrequencies(char symbol)
{
    // Rows 697, 770, 852, 941 Hz; columns 1209, 1336, 1477, 1633 Hz.
    switch (symbol) {
    case '1': return std::pair{697, 1209};
    case '2': return std::pair{697, 1336};
    case '3': return std::pair{697, 1477};
    case 'A': return std::pair{697, 1633};
    case '4': return std::pair{770, 1209};
    case '5': return std::pair{770, 1336};
    case '6': return std::pair{770, 1477};
    case 'B': return std::pair{770, 1633};
    case '7': return std::pair{852, 1209};
    case '8': return std::pair{852, 1336};
    case '9': return std::pair{852, 1477};
    case 'C': return std::pair{852, 1633};
    case '*': return std::pair{941, 1209};
    case '0': return std::pair{941, 1336};
    case '#': return std::pair{941, 1477};
    case 'D': return std::pair{941, 1633};
    default: return std::nullopt;
    }
}

std::optional<std::vector<std::int16_t>> buildTonePcm(std::string_view dialString, const DialSettings& settings)
{
    // Sized up front: a limit check that cannot overflow, and one allocation.
    std::uint64_t total = 0;
    for (const char c : dialString) {
        total += samplesFor(c, settings);
        if (total > kMaxTonePcmSamples)
            return std::nullopt;
    }

    std::vector<std::int16_t> pcm;
    try {
        pcm.reserve(static_cast<std::size_t>(total));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    for (const char c : dialString) {
        if (const auto pair = dtmfFrequencies(c)) {
            pcm.insert(pcm.end(), kDtmfSilenceSamples, 0);
            appendTone(pcm, pair->first, pair->second);
        } else {
            pcm.insert(pcm.end(), static_cast<std::size_t>(samplesFor(c, settings)), 0);
        }
    }
    return pcm;
}

std::optional<std::vector<std::uint8_t>> buildToneStream(std::string_view dialString, const DialSettings& settings)
{
    const auto pcm = buildTonePcm(dialString, settings);
    if (!pcm)
        return std::nullopt;
    return modulateTones(*pcm);
}

}  // namespace peltra::line
