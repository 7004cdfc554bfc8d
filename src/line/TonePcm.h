// The DTMF sound of a dial string for tone dialing, as PCM and as the modulated port stream.
#pragma once

#include "line/DialString.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace peltra::line {

inline constexpr std::size_t kToneSampleRate = 8000;
inline constexpr std::size_t kSamplesPerMs = kToneSampleRate / 1000;
// Each DTMF symbol: 70 ms of silence, then 70 ms of its tone pair.
inline constexpr std::size_t kDtmfSilenceSamples = 560;
inline constexpr std::size_t kDtmfToneSamples = 560;
// Longest sound a dial string may make (ten minutes). A longer one comes only from absurd pause
// settings and is refused rather than filling memory.
inline constexpr std::size_t kMaxTonePcmSamples = 600 * kToneSampleRate;

// The low and high frequency (Hz) of a DTMF symbol: '0'-'9', 'A'-'D', '*', '#'. Nothing for any
// other character; lowercase 'a'-'d' are not DTMF symbols here, as in the station's dial strings
// only the pause letters are accepted in either case.
std::optional<std::pair<int, int>> dtmfFrequencies(char symbol);

// 16-bit mono PCM at 8000 samples/s for a dial string, in order: each DTMF symbol adds 560 samples
// of silence and 560 of its tone, sample k = trunc((sin(c·f1·k) + sin(c·f2·k)) · 32767 · 0.5) with
// c = 0.0007854; 'P'/'p' adds delayPMs and 'W'/'w' delayWMs of silence (8 samples per ms); every
// other character adds nothing. Nothing when the sound would be longer than kMaxTonePcmSamples or
// memory cannot be allocated. Pure; safe on any thread.
std::optional<std::vector<std::int16_t>> buildTonePcm(std::string_view dialString, const DialSettings& settings);

// That PCM modulated with the tone step: exactly what tone dialing writes to the port.
std::optional<std::vector<std::uint8_t>> buildToneStream(std::string_view dialString, const DialSettings& settings);

}  // namespace peltra::line
