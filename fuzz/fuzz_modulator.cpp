// libFuzzer target: the modulator on arbitrary PCM, and dial strings through tone and pulse dialing.
#include "line/DialString.h"
#include "line/Modulator.h"
#include "line/TonePcm.h"
#include "reference/ReferenceModulator.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace peltra::line;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void fuzzModulator(const std::uint8_t* data, std::size_t size, int step)
{
    const auto out = modulate(std::span<const std::uint8_t>(data, size), step);
    check(out.has_value());
    check(out->size() == 36 * (size / 50));
    check(out->size() == modulatedSize(size));
    if (size <= 4096)
        check(*out == peltra::reference::referenceModulate(std::span(data, size), step));
}

void fuzzDialString(const std::uint8_t* data, std::size_t size)
{
    // Pauses up to 31 ms and at most 40 characters keep every buffer small and each run fast
    // (the modulator's inner loop is costly under coverage tracing); the lengths are checked all
    // the same.
    DialSettings settings;
    settings.pulseMode = false;
    settings.delayPMs = size > 0 ? data[0] & 31u : 0;
    settings.delayWMs = size > 1 ? data[1] & 31u : 0;
    settings.needPrefix = size > 2 && (data[2] & 1);
    settings.needPrefixTown = size > 2 && (data[2] & 2);
    settings.prefix = "812";
    settings.prefixTown = "9";
    const std::string_view number(reinterpret_cast<const char*>(data) + (size > 3 ? 3 : size),
                                  size > 3 ? size - 3 : 0);
    if (number.size() > 40)
        return;
    const std::string dial = buildDialString(number, settings);

    std::size_t symbols = 0;
    std::size_t pauseSamples = 0;
    std::size_t digits = 0;
    std::size_t pauses = 0;
    for (const char c : dial) {
        if (dtmfFrequencies(c))
            ++symbols;
        if (c == 'P' || c == 'p')
            pauseSamples += settings.delayPMs * 8u;
        if (c == 'W' || c == 'w')
            pauseSamples += settings.delayWMs * 8u;
        if (c >= '0' && c <= '9')
            ++digits;
        if (c == 'P' || c == 'p' || c == 'W' || c == 'w')
            ++pauses;
    }

    const auto pcm = buildTonePcm(dial, settings);
    check(pcm.has_value());
    check(pcm->size() == symbols * 1120 + pauseSamples);
    const auto stream = buildToneStream(dial, settings);
    check(stream.has_value());
    check(stream->size() == modulatedSize(pcm->size() * 2));
    if (pcm->size() <= 8000) {
        const auto direct = modulateTones(std::span<const std::int16_t>(*pcm));
        check(direct.has_value() && *direct == *stream);
    }

    const auto plan = pulsePlan(dial, settings);
    check(plan.size() == digits + pauses);
    for (const PulseStep& step : plan)
        check(step.breaks <= 10 && (step.breaks > 0) == (step.symbol >= '0' && step.symbol <= '9'));
    if (!dial.empty()) {
        check(dial.front() != ' ' && dial.back() != ' ');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    switch (mode % 4) {
    case 0: fuzzModulator(data, size, kSpeechStep); break;
    case 1: fuzzModulator(data, size, kToneStep); break;
    case 2: fuzzModulator(data, size, 1 + (mode >> 2) * 997); break;
    default: fuzzDialString(data, size); break;
    }
    return 0;
}
