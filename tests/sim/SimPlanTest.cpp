// Simulation plans: reading the plan file, drawing parties for numbers, applying a plan to a simulator.
#include "sim/SimPlan.h"

#include "sim/LineDriver.h"
#include "sim/Simulator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace peltra::sim {
namespace {

using test::party;
using LC = LineCondition;

SimPlan parsed(const std::string& text)
{
    std::string error;
    const auto plan = parseSimPlan(text, "plan.json", error);
    EXPECT_TRUE(plan) << text << "\n" << error;
    return plan.value_or(SimPlan{});
}

// Behaviours compared by their description, which names every field a plan sets.
#define EXPECT_PARTY(actual, expected) EXPECT_EQ(describeBehaviour(actual), describeBehaviour(expected))

TEST(SimPlanParse, EveryKeyIsReadAndMissingOnesTakeTheirDefaults)
{
    const SimPlan empty = parsed("{}");
    EXPECT_EQ(std::tuple(empty.lines, empty.seed, empty.realTime, empty.digitTimeoutMs, empty.numbers.size(), empty.mix.size()),
              std::tuple(4u, 1ull, false, kDefaultDigitTimeoutMs, 0u, 0u));
    EXPECT_PARTY(empty.defaultBehaviour, party(LC::Ok, 1000));

    const SimPlan plan = parsed(R"({
        "lines": 64, "seed": 18446744073709551615, "realtime": true, "digit_timeout_ms": 150,
        "default": {"line": "reversed", "answer_after_ms": 0, "hangup_after_ms": 4294967295, "pulse_reversal": true},
        "numbers": {"2345678": {"line": "dead", "answer_after_ms": null}, "*12#AD": {"hangup_after_ms": 500}, "0": {}},
        "mix": [{"weight": 3, "behaviour": {"answer_after_ms": null}},
                {"weight": 1, "behaviour": {"line": "ok", "answer_after_ms": 20, "hangup_after_ms": null,
                                            "pulse_reversal": false}},
                {"behaviour": {"pulse_reversal": true}},
                {"weight": 2}]
    })");
    EXPECT_EQ(std::tuple(plan.lines, plan.seed, plan.realTime, plan.digitTimeoutMs),
              std::tuple(64u, 18446744073709551615ull, true, 150u));
    EXPECT_TRUE(plan.options().realTime);
    EXPECT_EQ(plan.options().digitTimeoutMs, 150u);
    EXPECT_PARTY(plan.defaultBehaviour, party(LC::Reversed, 0, 4294967295u, true));
    ASSERT_EQ(plan.numbers.size(), 3u);
    EXPECT_PARTY(plan.numbers.at("2345678"), party(LC::Dead, std::nullopt));
    EXPECT_PARTY(plan.numbers.at("*12#AD"), party(LC::Ok, 1000, 500));
    EXPECT_PARTY(plan.numbers.at("0"), party(LC::Ok, 1000));
    // A weight left out is 1; a behaviour left out is the simulator's default party.
    const std::pair<std::uint32_t, PartyBehaviour> mix[] = {{3, party(LC::Ok, std::nullopt)}, {1, party(LC::Ok, 20)},
                                                            {1, party(LC::Ok, 1000, std::nullopt, true)}, {2, party(LC::Ok, 1000)}};
    ASSERT_EQ(plan.mix.size(), std::size(mix));
    for (std::size_t i = 0; i < plan.mix.size(); ++i) {
        EXPECT_EQ(plan.mix[i].weight, mix[i].first) << i;
        EXPECT_PARTY(plan.mix[i].behaviour, mix[i].second);
    }
}

TEST(SimPlanParse, BadInputIsRefusedNamingThePlace)
{
    const std::string ms = "must be a whole number of ms from 0 to 4294967295, or null";
    const std::string line = "must be \"ok\", \"dead\" or \"reversed\"";
    const std::pair<std::string, std::string> cases[] = {
        {"", "not valid JSON: parse error at line 1, column 1"},
        {"{\n \"lines\": 4\n} x", "not valid JSON: parse error at line 3, column 3"},
        {"[1, 2]", "the plan must be a JSON object"},
        {R"({"numbers": {"1": {}, "1": {"line": "dead"}}})", "the key \"1\" is given twice in one object"},
        {R"({"line": 4})", "unknown key \"line\" (known: lines, seed, realtime, digit_timeout_ms, default, numbers, mix)"},
        {R"({"default": {"answer_ms": 5}})",
         "default: unknown key \"answer_ms\" (known: line, answer_after_ms, hangup_after_ms, pulse_reversal)"},
        {R"({"mix": [{"weight": 1, "party": {}}]})", "mix[0]: unknown key \"party\" (known: weight, behaviour)"},
        {R"({"lines": 0})", "lines: must be a whole number from 1 to 64"},
        {R"({"lines": 65})", "lines: must be a whole number from 1 to 64"},
        {R"({"lines": 4.0})", "lines: must be a whole number from 1 to 64"},
        {R"({"seed": -5})", "seed: must be a whole number from 0 to 18446744073709551615"},
        {R"({"realtime": 1})", "realtime: must be true or false"},
        {R"({"digit_timeout_ms": 0})", "digit_timeout_ms: must be a whole number of ms from 1 to 4294967295"},
        {R"({"default": []})",
         "default: must be an object with the keys line, answer_after_ms, hangup_after_ms, pulse_reversal"},
        {R"({"default": {"line": "OK"}})", "default.line: unknown line condition \"OK\": " + line},
        {R"({"default": {"line": 1}})", "default.line: " + line},
        {R"({"default": {"answer_after_ms": -1}})", "default.answer_after_ms: " + ms + " (never answers)"},
        {R"({"default": {"answer_after_ms": 4294967296}})", "default.answer_after_ms: " + ms + " (never answers)"},
        {R"({"numbers": {"5": {"hangup_after_ms": "10"}}})", "numbers[\"5\"].hangup_after_ms: " + ms + " (listens to the end)"},
        {R"({"mix": [{"behaviour": {"pulse_reversal": "yes"}}]})", "mix[0].behaviour.pulse_reversal: must be true or false"},
        {R"({"numbers": []})", "numbers: must be an object of numbers and their behaviours"},
        {R"({"numbers": {"": {}}})", "numbers[\"\"]: a number must not be empty"},
        {R"({"numbers": {"12a": {}}})", "numbers[\"12a\"]: a number holds only digits, *, # and A-D"},
        {R"({"numbers": {"12": {}, "123": {}}})", "numbers[\"123\"]: can never be dialled: the number completes at \"12\", listed too"},
        {R"({"numbers": {"12": {}, "13": {}, "1": {}}})", "numbers[\"12\"]: can never be dialled: the number completes at \"1\", listed too"},
        {R"({"mix": {}})", "mix: must be a list of {\"weight\": N, \"behaviour\": BEHAVIOUR}"},
        {R"({"mix": [3]})", "mix[0]: must be an object {\"weight\": N, \"behaviour\": BEHAVIOUR}"},
        {R"({"mix": [{"weight": 1}, {"weight": 0}]})", "mix[1].weight: must be a whole number from 1 to 4294967295"},
        {R"({"mix": [{"weight": 0.5}]})", "mix[0].weight: must be a whole number from 1 to 4294967295"},
    };
    for (const auto& [text, problem] : cases) {
        std::string error;
        EXPECT_FALSE(parseSimPlan(text, "plan.json", error)) << text;
        // Messages from the JSON parser go on with its own detail after the place.
        const std::string expected = "plan.json: " + problem;
        EXPECT_EQ(problem.starts_with("not valid JSON") ? error.substr(0, expected.size()) : error, expected) << text;
    }
}

TEST(SimPlanLoad, ReadsAFileAndNamesItInErrors)
{
    test::TempDir dir;
    const auto path = dir / "plan.json";
    std::ofstream(path) << R"({"lines": 2, "numbers": {"77": {"line": "dead"}}})";
    std::string error;
    const auto plan = loadSimPlan(path, error);
    ASSERT_TRUE(plan) << error;
    EXPECT_EQ(plan->lines, 2u);
    EXPECT_EQ(plan->numbers.count("77"), 1u);

    std::ofstream(path) << R"({"lines": 99})";
    EXPECT_FALSE(loadSimPlan(path, error));
    EXPECT_EQ(error, path.string() + ": lines: must be a whole number from 1 to 64");
    EXPECT_FALSE(loadSimPlan(dir / "missing.json", error));
    EXPECT_EQ(error, (dir / "missing.json").string() + ": cannot open: No such file or directory");
    EXPECT_FALSE(loadSimPlan(dir.path(), error));
    EXPECT_EQ(error, dir.path().string() + ": is a folder, not a plan file");
}

// Descriptions read back through the call log (its own test); a bad one names its place.
TEST(SimPlanBehaviour, ABadDescriptionNamesItsPlace)
{
    for (const PartyBehaviour& c : {party(LC::Dead, std::nullopt), party(LC::Reversed, 0, 4294967295u, true)})
        EXPECT_PARTY(parsed("{\"default\": " + describeBehaviour(c) + "}").defaultBehaviour, c);
    std::string error;
    EXPECT_FALSE(parseBehaviour(R"({"line":"gone"})", "calls.log: line 2", error));
    EXPECT_EQ(error, "calls.log: line 2: behaviour.line: unknown line condition \"gone\": must be \"ok\", \"dead\" or "
                     "\"reversed\"");
}

SimPlan threeToOne(std::uint64_t seed)
{
    return parsed(R"({"seed": )" + std::to_string(seed) + R"(, "default": {"line": "dead"},
        "numbers": {"5550001": {"answer_after_ms": 7}},
        "mix": [{"weight": 3, "behaviour": {"answer_after_ms": 100}}, {"weight": 1, "behaviour": {"answer_after_ms": null}}]})");
}

TEST(SimPlanDraw, ListedNumbersWinAndOthersAreDrawnByTheirNumberAndSeed)
{
    const SimPlan plan = threeToOne(42);
    const BehaviourChoice listed = plan.behaviourFor("5550001");
    EXPECT_EQ(listed.source, BehaviourSource::Number);
    EXPECT_EQ(listed.behaviour.answerAfterMs, 7u);
    EXPECT_EQ(plan.behaviourFor("55500012").source, BehaviourSource::Mix);  // a longer number is not the listed one
    EXPECT_EQ(plan.behaviourFor("555000").source, BehaviourSource::Mix);

    // In reverse order, from another plan object: a draw does not depend on earlier draws.
    const SimPlan again = threeToOne(42);
    const SimPlan other = threeToOne(2);
    std::map<std::string, std::size_t> first;
    for (int i = 0; i < 1000; ++i) {
        const std::string number = std::to_string(2000000 + i);
        first[number] = plan.behaviourFor(number).mixIndex;
    }
    int differ = 0;
    for (auto it = first.rbegin(); it != first.rend(); ++it) {
        EXPECT_EQ(again.behaviourFor(it->first).mixIndex, it->second) << it->first;
        differ += other.behaviourFor(it->first).mixIndex != it->second;
    }
    // Independent draws at 3:1 differ with probability 2 · 0.75 · 0.25 = 0.375.
    EXPECT_GT(differ, 300);
    EXPECT_LT(differ, 450);

    // Without a mix every other number gets the default.
    const SimPlan noMix = parsed(R"({"default": {"answer_after_ms": 5}, "numbers": {"1": {"line": "dead"}}, "mix": []})");
    for (const char* number : {"2", "11", "*"}) {
        EXPECT_EQ(noMix.behaviourFor(number).source, BehaviourSource::Default) << number;
        EXPECT_EQ(noMix.behaviourFor(number).behaviour.answerAfterMs, 5u) << number;
    }
}

TEST(SimPlanDraw, DrawsFollowTheWeights)
{
    for (const std::uint64_t seed : {1ull, 7ull, 123456789ull}) {
        const SimPlan plan = threeToOne(seed);
        int first = 0;
        const int total = 10000;
        for (int i = 0; i < total; ++i) {
            // Neighbouring numbers, as a table of subscribers has them.
            const BehaviourChoice choice = plan.behaviourFor(std::to_string(3000000 + i));
            ASSERT_EQ(choice.source, BehaviourSource::Mix);
            first += choice.mixIndex == 0;
            EXPECT_EQ(choice.behaviour.answerAfterMs, choice.mixIndex == 0 ? std::optional<std::uint32_t>(100) : std::nullopt);
        }
        EXPECT_NEAR(static_cast<double>(first) / total, 0.75, 0.02) << "seed " << seed;
    }
    // Weights 1:1: a one-sided draw would show an even split, not an exact one.
    const SimPlan plan = parsed(R"({"mix": [{"weight": 1}, {"weight": 2}, {"weight": 3}, {"weight": 4}, {"weight": 1}]})");
    int counts[5] = {};
    const int total = 22000;
    for (int i = 0; i < total; ++i)
        ++counts[plan.behaviourFor("8" + std::to_string(i)).mixIndex];
    for (int k = 0; k < 5; ++k)
        EXPECT_NEAR(static_cast<double>(counts[k]) / total, (k == 4 ? 1 : k + 1) / 11.0, 0.015) << "entry " << k;
}

TEST(SimPlanApply, NumbersGetTheirPartiesAndAnotherPlanReplacesThem)
{
    // Dead parties from the mix, answering ones by default: the carrier shows which one applied.
    const SimPlan plan = parsed(R"({"digit_timeout_ms": 60, "default": {"answer_after_ms": 0},
        "numbers": {"12": {"answer_after_ms": null, "hangup_after_ms": 5}},
        "mix": [{"weight": 1, "behaviour": {"line": "dead", "answer_after_ms": 20}},
                {"weight": 1, "behaviour": {"line": "ok", "answer_after_ms": 20, "hangup_after_ms": 40}}]})");
    std::string numbers[2];  // a number drawing each entry
    for (int i = 30; i < 99; ++i)
        numbers[plan.behaviourFor(std::to_string(i)).mixIndex] = std::to_string(i);
    ASSERT_FALSE(numbers[0].empty() || numbers[1].empty());
    const SimPlan second = parsed(R"({"digit_timeout_ms": 40, "default": {"answer_after_ms": 3},
        "numbers": {"6": {"answer_after_ms": 4}}})");

    Simulator simulator(1, plan.options());
    applyPlan(simulator, plan);
    auto line = test::openLine(simulator);
    test::LineDriver driver(*line);
    const struct {
        std::string number;
        bool carrierGoesOff;  // the party answers (reversal) or the line is dead
        PartyBehaviour expected;
        bool answers;
    } cases[] = {
        {numbers[0], true, plan.mix[0].behaviour, false}, {numbers[1], true, plan.mix[1].behaviour, true},
        {"12", false, plan.numbers.at("12"), false},
        // After the second plan: its default for the first plan's listed number, its own for "6".
        {"12", true, party(LC::Ok, 3), true}, {"6", true, party(LC::Ok, 4), true},
    };
    for (const auto& c : cases) {
        if (&c == &cases[3])
            applyPlan(simulator, second);
        ASSERT_TRUE(driver.offHook());
        ASSERT_TRUE(driver.dialTones(c.number));
        EXPECT_EQ(driver.waitCarrier(false, 400).has_value(), c.carrierGoesOff) << c.number;
        const CallRecord call = test::hangUpAndLog(simulator, driver);
        EXPECT_EQ(call.dialed, c.number);
        ASSERT_TRUE(call.completeMs) << c.number;
        EXPECT_EQ(call.answerMs.has_value(), c.answers) << c.number;
        EXPECT_PARTY(call.behaviour, c.expected);
    }
}

}  // namespace
}  // namespace peltra::sim
