// How the simulated exchange and the called party behave on a call.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace peltra::sim {

// The line's voltage as the adapter's carrier-detect input sees it.
enum class LineCondition {
    Ok,        // normal polarity: carrier on while idle, dialing and ringing
    Dead,      // no line voltage: carrier off, always; the party never answers
    Reversed,  // wires reversed: carrier off while idle and dialing; the exchange's answer reversal
               // then makes it normal, so carrier goes on for as long as the party listens
};

// A short carrier glitch: the carrier-detect input shows the opposite of the line's state for
// lengthMs. atMs counts from the moment the dialled number is complete, the same origin as
// answerAfterMs, so a glitch can fall while ringing or while the party listens.
struct Flicker {
    std::uint32_t atMs = 0;
    std::uint32_t lengthMs = 0;
};

// The behaviour of the party behind one number (or of every number not registered).
struct PartyBehaviour {
    LineCondition condition = LineCondition::Ok;
    // Answer delay from the moment the number is complete, in ms; nothing: never answers.
    // Answering reverses the polarity (carrier off) for as long as the party listens.
    std::optional<std::uint32_t> answerAfterMs = 1000;
    // How long the party listens after answering, in ms, before hanging up (polarity back to
    // normal, carrier on); nothing: listens until the caller hangs up.
    std::optional<std::uint32_t> hangUpAfterMs;
    // The exchange signals the answer with a short reversal only (pulseReversalMs long), then
    // keeps normal polarity while the party listens.
    bool pulseReversal = false;
    std::uint32_t pulseReversalMs = 300;
    // Carrier glitches of this call; those that would end after the call are never seen.
    std::vector<Flicker> flickers;
};

}  // namespace peltra::sim
