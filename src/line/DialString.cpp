// The dial string built from a number and the port's dialing settings, and its pulse-dialing plan.
#include "line/DialString.h"

#include "platform/text/Trim.h"

namespace peltra::line {

bool isDialableNumber(std::string_view number)
{
    bool digit = false;
    for (const char c : number) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (std::string_view("*#PpWw -()+\t").find(c) == std::string_view::npos)
            return false;
    }
    return digit;
}

std::string buildDialString(std::string_view number, const DialSettings& settings)
{
    std::string dial(number);
    if (settings.needPrefix)
        dial = "8W" + settings.prefix + dial;
    if (settings.needPrefixTown)
        dial = settings.prefixTown + "P" + dial;

    return std::string(platform::trimBlanks(dial));
}

std::vector<PulseStep> pulsePlan(std::string_view dialString, const DialSettings& settings)
{
    std::vector<PulseStep> plan;
    for (const char c : dialString) {
        if (c >= '1' && c <= '9')
            plan.push_back({c, static_cast<std::uint32_t>(c - '0'), kInterDigitPauseMs});
        else if (c == '0')
            plan.push_back({c, 10, kInterDigitPauseMs});
        else if (c == 'P' || c == 'p')
            plan.push_back({c, 0, settings.delayPMs});
        else if (c == 'W' || c == 'w')
            plan.push_back({c, 0, settings.delayWMs});
    }
    return plan;
}

std::string pulseDisplayText(const std::vector<PulseStep>& plan)
{
    std::string text;
    text.reserve(plan.size());
    for (const PulseStep& step : plan)
        text += step.symbol;
    return text;
}

}  // namespace peltra::line
