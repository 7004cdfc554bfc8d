// libFuzzer target: arbitrary bytes as a WAV recording handed to the lexicon tool.
#include "platform/audio/WavFile.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto audio = peltra::platform::parseWav(bytes, "fuzz.wav", error);
    if (!audio) {
        if (error.empty())
            std::abort();  // every refusal says why
        return 0;
    }
    // A file's samples can never outnumber its bytes, and every sample is on the scale.
    if (audio->samples.size() > size || audio->channels == 0 || audio->sampleRate == 0)
        std::abort();
    for (float sample : audio->samples)
        if (std::isfinite(sample) && std::fabs(sample) > 1.0001f && audio->bitsPerSample != 32)
            std::abort();
    return 0;
}
