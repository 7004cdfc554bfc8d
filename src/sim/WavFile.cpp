// Plain WAV files of 8 kHz mono 16-bit audio: what the simulator heard on a call.
#include "sim/WavFile.h"

#include "platform/files/ReplaceFile.h"

#include <array>
#include <cstring>
#include <limits>

namespace peltra::sim {
namespace {

void put32(std::uint8_t* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put16(std::uint8_t* at, std::uint16_t v)
{
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

bool writeWav(const std::filesystem::path& path, std::span<const std::int16_t> samples, std::string& error)
{
    const std::uint64_t dataBytes = std::uint64_t{samples.size()} * 2;
    if (dataBytes > std::numeric_limits<std::uint32_t>::max() - (kWavHeaderBytes - 8)) {
        error = "the audio is too long for a WAV file";
        return false;
    }

    std::array<std::uint8_t, kWavHeaderBytes> header{};
    std::memcpy(&header[0], "RIFF", 4);
    put32(&header[4], static_cast<std::uint32_t>(kWavHeaderBytes - 8 + dataBytes));
    std::memcpy(&header[8], "WAVE", 4);
    std::memcpy(&header[12], "fmt ", 4);
    put32(&header[16], 16);                     // format chunk size
    put16(&header[20], 1);                      // PCM
    put16(&header[22], 1);                      // mono
    put32(&header[24], kWavSampleRate);
    put32(&header[28], kWavSampleRate * 2);     // bytes per second
    put16(&header[32], 2);                      // bytes per frame
    put16(&header[34], 16);                     // bits per sample
    std::memcpy(&header[36], "data", 4);
    put32(&header[40], static_cast<std::uint32_t>(dataBytes));

    return platform::replaceFile(
        path,
        [&](const platform::ByteSink& sink) {
            if (!sink(header.data(), header.size()))
                return false;
            // Little-endian samples, converted a block at a time.
            std::array<std::uint8_t, 8192> block{};
            std::size_t done = 0;
            while (done < samples.size()) {
                const std::size_t n = std::min(block.size() / 2, samples.size() - done);
                for (std::size_t i = 0; i < n; ++i)
                    put16(&block[2 * i], static_cast<std::uint16_t>(samples[done + i]));
                if (!sink(block.data(), 2 * n))
                    return false;
                done += n;
            }
            return true;
        },
        error);
}

}  // namespace peltra::sim
