// Delta modulation of 16-bit PCM into the bit stream the line adapter integrates back into sound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace peltra::line {

// Every 25 samples (50 bytes, 3.125 ms at 8000 samples/s) become 288 bits, sent as 36 serial
// characters; at 115200 baud with start and stop bits those last the same 3.125 ms, so the port's
// own pace plays the sound:
//
//   PCM s16le ──► 25→288 linear interpolation ──► 1-bit delta quantiser ──► 36 bytes, LSB first
inline constexpr std::size_t kPcmBlockBytes = 50;
inline constexpr std::size_t kPcmBlockSamples = 25;
inline constexpr std::size_t kStreamBlockBytes = 36;
inline constexpr std::size_t kStreamBlockBits = kStreamBlockBytes * 8;

// Quantiser steps: speech, and the coarser step of tone dialing, whose DTMF pairs have steeper
// slopes than speech.
inline constexpr int kSpeechStep = 800;
inline constexpr int kToneStep = 1600;

// Stream length for a PCM length in bytes: 36 bytes per complete 50, the remainder dropped.
std::size_t modulatedSize(std::size_t pcmBytes);

// Converts signed 16-bit little-endian mono PCM at 8000 samples/s into the port stream, with the
// quantiser step `step` (> 0). Each call starts afresh (carried sample and integrator at 0), so a
// phrase never depends on the one before it. A trailing part shorter than 50 bytes is dropped.
// Nothing when the output cannot be allocated or the step is not positive. Pure; safe on any
// thread.
std::optional<std::vector<std::uint8_t>> modulate(std::span<const std::uint8_t> pcm, int step);

// The same from samples already decoded; identical to modulate() on their little-endian bytes.
std::optional<std::vector<std::uint8_t>> modulateSamples(std::span<const std::int16_t> samples,
                                                         int step);

// Speech phrases from the phonogram library.
std::optional<std::vector<std::uint8_t>> modulateSpeech(std::span<const std::uint8_t> pcm);

// Tone-dialing sound.
std::optional<std::vector<std::uint8_t>> modulateTones(std::span<const std::uint8_t> pcm);
std::optional<std::vector<std::uint8_t>> modulateTones(std::span<const std::int16_t> samples);

}  // namespace peltra::line
