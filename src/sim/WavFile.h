// Plain WAV files of 8 kHz mono 16-bit audio: what the simulator heard on a call.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace peltra::sim {

inline constexpr std::uint32_t kWavSampleRate = 8000;
inline constexpr std::size_t kWavHeaderBytes = 44;

// Writes a canonical 44-byte-header PCM WAV file (8000 samples/s, mono, 16 bits) through a
// temporary file and a rename, so the name never holds a part of a file. False with `error` set
// when it cannot be written or the audio is too long for the format's 32-bit sizes.
bool writeWav(const std::filesystem::path& path, std::span<const std::int16_t> samples, std::string& error);

}  // namespace peltra::sim
