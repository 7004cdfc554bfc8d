// Settings of a line simulator, fixed when it is created.
#pragma once

#include <cstdint>
#include <filesystem>

namespace peltra::sim {

// The longest gap a station's dial string leaves between two digits: a 'P' or 'W' pause at the
// longest a port may set (10 s), after the 1 s pause that follows every pulse-dialled digit.
inline constexpr std::uint32_t kLongestDialGapMs = 10000 + 1000;
// Like a real exchange, the simulated one ends a number only when the caller has stopped dialing
// for longer than any gap dialing itself makes.
inline constexpr std::uint32_t kDefaultDigitTimeoutMs = kLongestDialGapMs + 1000;

struct SimOptions {
    // false: the port takes bytes as fast as they are written (every write completes at once);
    // true: it sends them at the real port's 11,520 bytes/s through a 4096-byte transmit queue.
    bool realTime = false;
    // A number not registered is complete once no digit has come for this long, in ms.
    std::uint32_t digitTimeoutMs = kDefaultDigitTimeoutMs;
    // Where to record each call's audio as a WAV file; empty: no recording. The first call to end
    // goes to this path, call n (n ≥ 2, in order of ending) to the same name with "-n" before the
    // extension: calls.wav, calls-2.wav, calls-3.wav, ...
    std::filesystem::path recordPath;
};

}  // namespace peltra::sim
