// Test helper: a station home ready to call on simulated lines: fast line settings, phrase
// libraries of short tones, and tables of people.
#pragma once

#include "config/ConfigStore.h"
#include "line/PhonogramLibrary.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace peltra::test {

// ms of a quiet tone as 8 kHz 16-bit PCM.
line::PhonogramLibrary::Bytes tonePcm(std::uint32_t ms, double hz = 400);

// Lines SIM1..SIMn configured with tone dialing and 50 ms pauses, so a call takes a moment. The
// on-hook time is 250 ms: the exchange takes anything shorter than 200 ms for a flash, not a new call.
bool configureFastLines(config::ConfigStore& store, unsigned lines, std::uint32_t waitAnswerS = 1);

// A phonogram library at path: each code a tone of the given length, and "__PS" silence.
bool writeToneLibrary(const std::filesystem::path& path,
                      const std::vector<std::pair<std::string, std::uint32_t>>& codesMs);

}  // namespace peltra::test
