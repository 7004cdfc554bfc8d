// Turning recorded or synthesised sound into library phrases: 8 kHz, 16-bit, mono PCM.
#pragma once

#include "platform/audio/WavFile.h"

#include <cstdint>
#include <span>
#include <vector>

namespace peltra::lexicon {

inline constexpr std::uint32_t kPhraseRate = 8000;

// Converts a sample rate with a windowed-sinc low-pass (Blackman window, 16 zero crossings)
// whose cut-off sits just under the lower rate's Nyquist frequency, so nothing folds back.
std::vector<float> resample(std::span<const float> samples, std::uint32_t fromRate, std::uint32_t toRate);

// Drops the quiet lead-in and tail: everything before the first and after the last sample above
// 2% of the peak, keeping 20 ms on each side. Silence stays empty.
std::vector<float> trimSilence(std::span<const float> samples, std::uint32_t rate);

// Little-endian 16-bit PCM, clipped to the range and rounded.
std::vector<std::uint8_t> toPcm16(std::span<const float> samples);
std::vector<float> fromPcm16(std::span<const std::uint8_t> pcm);

// Any decoded WAV as a library phrase: mixed to mono (already done by the reader), at 8 kHz.
std::vector<std::uint8_t> phraseFromWav(const platform::WavAudio& audio, bool trim);

// The pause phrase: 250 ms of silence.
std::vector<std::uint8_t> pausePhrase();
// What a dictionary speaks for a word it lacks ("NULL"): 20 ms of silence, so nothing is heard.
std::vector<std::uint8_t> noMatchPhrase();

}  // namespace peltra::lexicon
