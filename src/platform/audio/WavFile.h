// WAV files: 8 kHz mono 16-bit audio written (what a line heard, a phrase taken out of the
// library), and PCM WAV files of any common rate, width and channel count read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <optional>
#include <string>
#include <vector>

namespace peltra::platform {

inline constexpr std::uint32_t kWavSampleRate = 8000;
inline constexpr std::size_t kWavHeaderBytes = 44;

// Writes a canonical 44-byte-header PCM WAV file (8000 samples/s, mono, 16 bits) through a
// temporary file and a rename, so the name never holds a part of a file. False with `error` set
// when it cannot be written or the audio is too long for the format's 32-bit sizes.
bool writeWav(const std::filesystem::path& path, std::span<const std::int16_t> samples, std::string& error);

// Decoded audio: the channels mixed down to one, samples scaled to -1 .. 1.
struct WavAudio {
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;     // as the file had them
    std::uint16_t bitsPerSample = 0;
    std::vector<float> samples;
};

// Reads a RIFF WAVE file of integer PCM (8, 16, 24 or 32 bits) or 32-bit float, plain or in the
// extensible format, with any rate and channel count. A data chunk whose size runs past the end
// of the file (as streaming writers leave it) is read to the end. Nothing, with error naming the
// file and the fault, for anything else (compressed formats, damaged files).
std::optional<WavAudio> readWav(const std::filesystem::path& path, std::string& error);
// The same over the bytes of a file; name stands for the file in errors.
std::optional<WavAudio> parseWav(const std::string& bytes, const std::string& name, std::string& error);

}  // namespace peltra::platform
