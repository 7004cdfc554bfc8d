// The simulator's log entry for one finished call: what the exchange saw from off-hook to on-hook.
#pragma once

#include "sim/PartyBehaviour.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace peltra::sim {

// Nominal pulse-dialing timing the statistics compare with, in ms.
inline constexpr double kNominalBreakMs = 62;
inline constexpr double kNominalMakeMs = 38;

// Smallest, mean and largest of a set of lengths, in ms.
struct Spread {
    double min = 0;
    double mean = 0;
    double max = 0;
};

struct CallRecord {
    std::size_t callNumber = 0;  // 1, 2, ... in the order calls ended (calls() index + 1)
    std::string port;            // "SIM1"

    // Digits the exchange recognised until the number was complete, pulse and DTMF alike, in
    // order. A pulse train of more than ten breaks shows as '?'.
    std::string dialed;
    // Every dial break, and every make between two breaks of one digit, in dialing order, in ms
    // measured at the hook changes. A digit of n breaks has n − 1 such makes.
    std::vector<double> breakMs;
    std::vector<double> makeMs;

    // The moment of going off-hook, to set calls on different lines side by side.
    std::chrono::steady_clock::time_point offHookAt{};
    // Times in ms from going off-hook.
    std::optional<double> completeMs;       // the number was complete (match or digit time-out)
    std::optional<double> answerMs;         // the party answered
    std::optional<double> partyHangupMs;    // the party hung up
    std::optional<double> callerHangupMs;   // the caller went on-hook for good (or was unplugged)
    bool unplugged = false;                 // the call ended because the port was unplugged

    // The party the call met: the one chosen when the number was complete, else the default
    // party as the call ended.
    PartyBehaviour behaviour;

    std::uint64_t bytesHeard = 0;       // stream bytes that reached the line while off-hook
    std::uint64_t partyHeardBytes = 0;  // of those, the bytes sent while the party listened
    std::uint32_t underruns = 0;        // times the transmit queue ran dry after the answer and
                                        // more data came later in the call (real-time pacing only)

    std::filesystem::path recording;    // the WAV file of the call's audio, when recording
    std::string recordingError;         // why it could not be written; empty when it was

    std::size_t pulses() const { return breakMs.size(); }
    std::optional<Spread> breakSpread() const;
    std::optional<Spread> makeSpread() const;
    // The largest distance of any break from 62 ms or make from 38 ms; nothing without pulses.
    std::optional<double> worstDeviationMs() const;

    // One fact per line, each line "word(s) value", ending in '\n'. Always in this order, the
    // optional lines only when they apply:
    //   dialed 1234567                (dialed none: no digit)
    //   port SIM1
    //   pulses 28 break 61.8/62.1/62.9 make 37.6/38.0/38.4 worst 0.9
    //                                 (min/mean/max in ms; "make none" when no make was measured)
    //   complete 8000 ms
    //   answer 9021 ms                (no answer: the party never answered)
    //   party hangup 12000 ms
    //   caller hangup 13800 ms
    //   unplugged
    //   heard 86400 bytes
    //   party heard 80000 bytes
    //   underruns 0
    //   recording /path/call.wav      (recording failed <reason>: it could not be written)
    // Times are whole ms, rounded.
    std::string describe() const;
};

}  // namespace peltra::sim
