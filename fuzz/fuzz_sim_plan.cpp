// libFuzzer target: arbitrary text as a simulation plan; a plan that is accepted draws a party
// for any number without failing.
#include "sim/SimPlan.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto plan = peltra::sim::parseSimPlan(text, "fuzz.json", error);
    if (!plan) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (plan->lines < 1 || plan->lines > peltra::sim::SimPlan::kMaxLines)
        std::abort();
    for (const char* number : {"1", "2345678", "*#"}) {
        const auto choice = plan->behaviourFor(number);
        if (choice.source == peltra::sim::BehaviourSource::Mix && choice.mixIndex >= plan->mix.size())
            std::abort();
    }
    return 0;
}
