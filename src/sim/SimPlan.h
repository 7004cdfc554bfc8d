// A simulation plan: the simulated lines of a headless station and the parties behind the numbers.
#pragma once

#include "sim/PartyBehaviour.h"
#include "sim/SimOptions.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::sim {

class Simulator;

// Where a number's party came from.
enum class BehaviourSource {
    Number,   // listed under "numbers"
    Mix,      // drawn from "mix"
    Default,  // the plan's "default"
};

struct BehaviourChoice {
    PartyBehaviour behaviour;
    BehaviourSource source = BehaviourSource::Default;
    std::size_t mixIndex = 0;  // the entry drawn, for BehaviourSource::Mix
};

struct MixEntry {
    std::uint32_t weight = 1;  // > 0
    PartyBehaviour behaviour;
};

// The plan file is one JSON object, every key optional:
//   {"lines": 4, "seed": 1, "realtime": false, "digit_timeout_ms": 12000,
//    "default": BEHAVIOUR,
//    "numbers": {"2345678": BEHAVIOUR, ...},
//    "mix": [{"weight": 3, "behaviour": BEHAVIOUR}, ...]}
//   BEHAVIOUR = {"line": "ok"|"dead"|"reversed", "answer_after_ms": N or null (never answers),
//                "hangup_after_ms": N or null (listens to the end), "pulse_reversal": true|false}
// A behaviour's missing keys are the simulator's default party: ok, answers after 1000 ms,
// listens to the end, no pulse reversal.
struct SimPlan {
    static constexpr unsigned kMaxLines = 64;

    unsigned lines = 4;  // 1 .. kMaxLines
    std::uint64_t seed = 1;
    bool realTime = false;
    std::uint32_t digitTimeoutMs = kDefaultDigitTimeoutMs;  // ≥ 1
    PartyBehaviour defaultBehaviour;
    std::map<std::string, PartyBehaviour> numbers;
    std::vector<MixEntry> mix;  // empty: every number not listed gets the default

    // The party of a dialled number: its own when listed, else one drawn from the mix by the seed
    // and the number alone (the same number draws the same entry whatever the order of calls;
    // each entry with probability weight / sum of weights), else the default.
    BehaviourChoice behaviourFor(const std::string& number) const;

    // The simulator settings the plan fixes (pacing and digit time-out); no recording.
    SimOptions options() const;
};

// Parses the plan text; `name` (the file's name) starts every error message, which also names
// the place: "plan.json: numbers[\"12a\"]: a number holds only digits, *, # and A-D".
std::optional<SimPlan> parseSimPlan(std::string_view text, const std::string& name, std::string& error);
// Reads and parses the plan file.
std::optional<SimPlan> loadSimPlan(const std::filesystem::path& path, std::string& error);

// The behaviour as a plan's BEHAVIOUR object, on one line with every key present:
// {"line":"ok","answer_after_ms":1000,"hangup_after_ms":null,"pulse_reversal":false}.
// Glitches and the pulse length, which a plan cannot state, are left out.
std::string describeBehaviour(const PartyBehaviour& behaviour);
// Reads a BEHAVIOUR object back; `place` starts the error message.
std::optional<PartyBehaviour> parseBehaviour(std::string_view text, const std::string& place, std::string& error);

// "ok", "dead", "reversed".
const char* lineConditionName(LineCondition condition);

// Gives the simulator the plan's parties: registers the listed numbers (replacing any registered
// before), sets the default party and draws the others from the mix. The line count, pacing and
// digit time-out are fixed when the simulator is made: Simulator(plan.lines, plan.options()).
void applyPlan(Simulator& simulator, const SimPlan& plan);

}  // namespace peltra::sim
