// Settings of a line simulator, fixed when it is created.
#pragma once

#include <cstdint>
#include <filesystem>

namespace peltra::sim {

struct SimOptions {
    // false: the port takes bytes as fast as they are written (every write completes at once);
    // true: it sends them at the real port's 11,520 bytes/s through a 4096-byte transmit queue.
    bool realTime = false;
    // A number not registered is complete once no digit has come for this long, in ms.
    std::uint32_t digitTimeoutMs = 3000;
    // Where to record each call's audio as a WAV file; empty: no recording. The first call to end
    // goes to this path, call n (n ≥ 2, in order of ending) to the same name with "-n" before the
    // extension: calls.wav, calls-2.wav, calls-3.wav, ...
    std::filesystem::path recordPath;
};

}  // namespace peltra::sim
