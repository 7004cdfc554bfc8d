// The dial string built from a number and port settings, and the pulse-dialing plan of a string.
#include "line/DialString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltra::line {
namespace {

DialSettings prefixes(bool needPrefix, std::string prefix, bool needTown, std::string town)
{
    return {.needPrefix = needPrefix, .prefix = std::move(prefix), .needPrefixTown = needTown, .prefixTown = std::move(town)};
}

TEST(DialString, BuiltFromNumberAndPrefixes)
{
    const struct {
        const char* number;
        DialSettings settings;
        const char* expected;
    } rows[] = {
        {"1234567", prefixes(false, "812", false, "9"), "1234567"},  // prefixes unused without flags
        {"1234567", prefixes(true, "812", true, "9"), "9P8W8121234567"},
        {"1234567", prefixes(true, "812", false, "9"), "8W8121234567"},
        {"1234567", prefixes(false, "812", true, "9"), "9P1234567"},
        {"555", prefixes(true, "", false, ""), "8W555"},              // empty prefix: still 8, W
        {"555", prefixes(false, "", true, ""), "P555"},               // empty exit prefix: still P
        {"  12 34\t", prefixes(false, "", false, ""), "12 34"},        // outer blanks go, inner stay
        {"123", prefixes(true, "812", true, " "), "P8W812123"},       // a blank exit prefix is stripped
        {"", prefixes(false, "", false, ""), ""},
        {"\r\n12-34\r\n", prefixes(false, "", false, ""), "12-34"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(buildDialString(row.number, row.settings), row.expected) << row.number;
}

TEST(PulsePlan, CharactersMapToBreaksPausesOrNothing)
{
    DialSettings settings;
    settings.delayPMs = 2500;
    settings.delayWMs = 1200;
    const struct {
        const char* dial;
        std::vector<PulseStep> plan;
        const char* display;
    } rows[] = {
        {"0", {{'0', 10, 1000}}, "0"},  // ten breaks: 38 + 10·100 ms, then the 1000 ms pause
        {"12-34", {{'1', 1, 1000}, {'2', 2, 1000}, {'3', 3, 1000}, {'4', 4, 1000}}, "1234"},
        {"5 0", {{'5', 5, 1000}, {'0', 10, 1000}}, "50"},
        {"pP", {{'p', 0, 2500}, {'P', 0, 2500}}, "pP"},
        {"wW", {{'w', 0, 1200}, {'W', 0, 1200}}, "wW"},
        {"*#ABCDabcd+()x", {}, ""},  // no pulse form: skipped without a trace
        {"", {}, ""},
    };
    for (const auto& row : rows) {
        const auto plan = pulsePlan(row.dial, settings);
        EXPECT_EQ(plan, row.plan) << row.dial;
        EXPECT_EQ(pulseDisplayText(plan), row.display) << row.dial;
    }
}

}  // namespace
}  // namespace peltra::line
