// The dial string built from a number and the port's dialing settings, and its pulse-dialing plan.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::line {

// The port settings dialing uses, filled by the line device from the port's stored values before
// every call. The defaults are those of a fresh port.
struct DialSettings {
    bool pulseMode = true;             // CallMode: pulse dialing, else tone dialing
    std::uint32_t delayFirstMs = 1000; // DelayFirst: on-hook before seizing, off-hook before the first digit
    std::uint32_t delayWMs = 1000;     // DelayW: pause for each 'W'
    std::uint32_t delayPMs = 1000;     // DelayP: pause for each 'P'
    bool needPrefix = false;           // NeedPrefix: dial "8", pause W, then `prefix`
    std::string prefix;                // Prefix: long-distance prefix
    bool needPrefixTown = false;       // NeedPrefixTown: dial `prefixTown`, pause P, before everything
    std::string prefixTown;            // PrefixTown: exit prefix to the public network
};

// The string to dial: "8W" + prefix in front of the number when needPrefix is set, then
// prefixTown + "P" in front of that when needPrefixTown is set, and leading and trailing blanks
// (spaces, tabs, line breaks) removed. Exit 9 and long-distance 812 make 1234567 "9P8W8121234567".
std::string buildDialString(std::string_view number, const DialSettings& settings);

// Whether a number can be dialled at all: at least one digit, and besides digits only what a
// written number holds ('*', '#', the pauses P and W, blanks, '-', '(', ')', '+'). "abc" or an
// empty text would be dialled as nothing.
bool isDialableNumber(std::string_view number);

// Pause after every pulse-dialled digit, before the next character, in ms.
inline constexpr std::uint32_t kInterDigitPauseMs = 1000;

// One dialled character of pulse dialing. The dialer shows `symbol` in the line's display, sends
// `breaks` loop breaks (none for a pause), then waits `waitAfterMs`.
struct PulseStep {
    char symbol;
    std::uint32_t breaks;       // '1'..'9' → 1..9, '0' → 10; 0 for 'P'/'W'
    std::uint32_t waitAfterMs;  // the inter-digit pause after a digit, the P or W pause for a pause
    bool operator==(const PulseStep&) const = default;
};

// The pulse-dialing plan of a dial string: digits and the pauses 'P'/'p' (delayPMs) and 'W'/'w'
// (delayWMs), in order. Every other character (blanks, dashes, '*', '#', letters) is skipped
// without a trace.
std::vector<PulseStep> pulsePlan(std::string_view dialString, const DialSettings& settings);

// What the line's display shows once the whole plan has been dialled: the symbols in order.
std::string pulseDisplayText(const std::vector<PulseStep>& plan);

}  // namespace peltra::line
