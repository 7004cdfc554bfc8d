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

PartyBehaviour party(LineCondition condition, std::optional<std::uint32_t> answerMs,
                     std::optional<std::uint32_t> hangUpMs = std::nullopt, bool pulse = false)
{
    PartyBehaviour p;
    p.condition = condition;
    p.answerAfterMs = answerMs;
    p.hangUpAfterMs = hangUpMs;
    p.pulseReversal = pulse;
    return p;
}

void expectSame(const PartyBehaviour& actual, const PartyBehaviour& expected, const std::string& what)
{
    EXPECT_EQ(actual.condition, expected.condition) << what;
    EXPECT_EQ(actual.answerAfterMs, expected.answerAfterMs) << what;
    EXPECT_EQ(actual.hangUpAfterMs, expected.hangUpAfterMs) << what;
    EXPECT_EQ(actual.pulseReversal, expected.pulseReversal) << what;
}

SimPlan parsed(const std::string& text)
{
    std::string error;
    const auto plan = parseSimPlan(text, "plan.json", error);
    EXPECT_TRUE(plan) << text << "\n" << error;
    return plan.value_or(SimPlan{});
}

// ---- Reading ---------------------------------------------------------------------------------

TEST(SimPlanParse, EmptyObjectGivesEveryDefault)
{
    const SimPlan plan = parsed("{}");
    EXPECT_EQ(plan.lines, 4u);
    EXPECT_EQ(plan.seed, 1u);
    EXPECT_FALSE(plan.realTime);
    EXPECT_EQ(plan.digitTimeoutMs, kDefaultDigitTimeoutMs);
    expectSame(plan.defaultBehaviour, party(LineCondition::Ok, 1000), "default");
    EXPECT_TRUE(plan.numbers.empty());
    EXPECT_TRUE(plan.mix.empty());
    EXPECT_EQ(plan.options().digitTimeoutMs, kDefaultDigitTimeoutMs);
    EXPECT_FALSE(plan.options().realTime);
    EXPECT_TRUE(plan.options().recordPath.empty());
}

TEST(SimPlanParse, EveryKeyIsRead)
{
    const SimPlan plan = parsed(R"({
        "lines": 64, "seed": 18446744073709551615, "realtime": true, "digit_timeout_ms": 150,
        "default": {"line": "reversed", "answer_after_ms": 0, "hangup_after_ms": 4294967295,
                    "pulse_reversal": true},
        "numbers": {"2345678": {"line": "dead", "answer_after_ms": null},
                    "*12#AD": {"hangup_after_ms": 500},
                    "0": {}},
        "mix": [{"weight": 3, "behaviour": {"answer_after_ms": null}},
                {"weight": 1, "behaviour": {"line": "ok", "answer_after_ms": 20, "hangup_after_ms": null,
                                            "pulse_reversal": false}},
                {"behaviour": {"pulse_reversal": true}},
                {"weight": 2}]
    })");
    EXPECT_EQ(plan.lines, 64u);
    EXPECT_EQ(plan.seed, 18446744073709551615ull);
    EXPECT_TRUE(plan.realTime);
    EXPECT_EQ(plan.digitTimeoutMs, 150u);
    EXPECT_TRUE(plan.options().realTime);
    EXPECT_EQ(plan.options().digitTimeoutMs, 150u);
    expectSame(plan.defaultBehaviour, party(LineCondition::Reversed, 0, 4294967295u, true), "default");

    ASSERT_EQ(plan.numbers.size(), 3u);
    expectSame(plan.numbers.at("2345678"), party(LineCondition::Dead, std::nullopt), "2345678");
    expectSame(plan.numbers.at("*12#AD"), party(LineCondition::Ok, 1000, 500), "*12#AD");
    expectSame(plan.numbers.at("0"), party(LineCondition::Ok, 1000), "0");

    ASSERT_EQ(plan.mix.size(), 4u);
    EXPECT_EQ(plan.mix[0].weight, 3u);
    expectSame(plan.mix[0].behaviour, party(LineCondition::Ok, std::nullopt), "mix 0");
    EXPECT_EQ(plan.mix[1].weight, 1u);
    expectSame(plan.mix[1].behaviour, party(LineCondition::Ok, 20), "mix 1");
    EXPECT_EQ(plan.mix[2].weight, 1u);  // weight left out
    expectSame(plan.mix[2].behaviour, party(LineCondition::Ok, 1000, std::nullopt, true), "mix 2");
    EXPECT_EQ(plan.mix[3].weight, 2u);  // behaviour left out: the simulator's default party
    expectSame(plan.mix[3].behaviour, party(LineCondition::Ok, 1000), "mix 3");
}

TEST(SimPlanParse, BadInputIsRefusedNamingThePlace)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        // 1. Not JSON, or not an object.
        {"", "plan.json: not valid JSON: parse error at line 1, column 1"},
        {"{\"lines\": 4,}", "plan.json: not valid JSON: parse error at line 1, column 13"},
        {"{\n \"lines\": 4\n} x", "plan.json: not valid JSON: parse error at line 3, column 3"},
        {"[1, 2]", "plan.json: the plan must be a JSON object"},
        {"{\"lines\": 2, \"lines\": 3}", "plan.json: the key \"lines\" is given twice in one object"},
        {R"({"numbers": {"1": {}, "1": {"line": "dead"}}})",
         "plan.json: the key \"1\" is given twice in one object"},
        // 2. Unknown keys.
        {R"({"line": 4})",
         "plan.json: unknown key \"line\" (known: lines, seed, realtime, digit_timeout_ms, default, numbers, mix)"},
        {R"({"default": {"answer_ms": 5}})",
         "plan.json: default: unknown key \"answer_ms\" (known: line, answer_after_ms, hangup_after_ms, "
         "pulse_reversal)"},
        {R"({"mix": [{"weight": 1, "party": {}}]})",
         "plan.json: mix[0]: unknown key \"party\" (known: weight, behaviour)"},
        // 3. Lines, seed, flags and time-out.
        {R"({"lines": 0})", "plan.json: lines: must be a whole number from 1 to 64"},
        {R"({"lines": 65})", "plan.json: lines: must be a whole number from 1 to 64"},
        {R"({"lines": -1})", "plan.json: lines: must be a whole number from 1 to 64"},
        {R"({"lines": 4.0})", "plan.json: lines: must be a whole number from 1 to 64"},
        {R"({"lines": "4"})", "plan.json: lines: must be a whole number from 1 to 64"},
        {R"({"seed": -5})", "plan.json: seed: must be a whole number from 0 to 18446744073709551615"},
        {R"({"seed": 1.5})", "plan.json: seed: must be a whole number from 0 to 18446744073709551615"},
        {R"({"realtime": 1})", "plan.json: realtime: must be true or false"},
        {R"({"digit_timeout_ms": 0})", "plan.json: digit_timeout_ms: must be a whole number of ms from 1 to 4294967295"},
        {R"({"digit_timeout_ms": null})",
         "plan.json: digit_timeout_ms: must be a whole number of ms from 1 to 4294967295"},
        // 4. Behaviours.
        {R"({"default": []})",
         "plan.json: default: must be an object with the keys line, answer_after_ms, hangup_after_ms, pulse_reversal"},
        {R"({"default": {"line": "broken"}})",
         "plan.json: default.line: unknown line condition \"broken\": must be \"ok\", \"dead\" or \"reversed\""},
        {R"({"default": {"line": "OK"}})",
         "plan.json: default.line: unknown line condition \"OK\": must be \"ok\", \"dead\" or \"reversed\""},
        {R"({"default": {"line": 1}})", "plan.json: default.line: must be \"ok\", \"dead\" or \"reversed\""},
        {R"({"default": {"answer_after_ms": -1}})",
         "plan.json: default.answer_after_ms: must be a whole number of ms from 0 to 4294967295, or null (never "
         "answers)"},
        {R"({"default": {"answer_after_ms": 2.5}})",
         "plan.json: default.answer_after_ms: must be a whole number of ms from 0 to 4294967295, or null (never "
         "answers)"},
        {R"({"default": {"answer_after_ms": 4294967296}})",
         "plan.json: default.answer_after_ms: must be a whole number of ms from 0 to 4294967295, or null (never "
         "answers)"},
        {R"({"numbers": {"5": {"hangup_after_ms": "10"}}})",
         "plan.json: numbers[\"5\"].hangup_after_ms: must be a whole number of ms from 0 to 4294967295, or null "
         "(listens to the end)"},
        {R"({"mix": [{"behaviour": {"pulse_reversal": "yes"}}]})",
         "plan.json: mix[0].behaviour.pulse_reversal: must be true or false"},
        // 5. Numbers.
        {R"({"numbers": []})", "plan.json: numbers: must be an object of numbers and their behaviours"},
        {R"({"numbers": {"": {}}})", "plan.json: numbers[\"\"]: a number must not be empty"},
        {R"({"numbers": {"12-34": {}}})", "plan.json: numbers[\"12-34\"]: a number holds only digits, *, # and A-D"},
        {R"({"numbers": {"12a": {}}})", "plan.json: numbers[\"12a\"]: a number holds only digits, *, # and A-D"},
        {R"({"numbers": {" 12": {}}})", "plan.json: numbers[\" 12\"]: a number holds only digits, *, # and A-D"},
        {R"({"numbers": {"12": {}, "123": {}}})",
         "plan.json: numbers[\"123\"]: can never be dialled: the number completes at \"12\", listed too"},
        // 6. Mix.
        {R"({"mix": {}})", "plan.json: mix: must be a list of {\"weight\": N, \"behaviour\": BEHAVIOUR}"},
        {R"({"mix": [3]})", "plan.json: mix[0]: must be an object {\"weight\": N, \"behaviour\": BEHAVIOUR}"},
        {R"({"mix": [{"weight": 1}, {"weight": 0}]})", "plan.json: mix[1].weight: must be a whole number from 1 to 4294967295"},
        {R"({"mix": [{"weight": -2}]})", "plan.json: mix[0].weight: must be a whole number from 1 to 4294967295"},
        {R"({"mix": [{"weight": 0.5}]})", "plan.json: mix[0].weight: must be a whole number from 1 to 4294967295"},
    };
    int number = 0;
    for (const Case& c : cases) {
        ++number;
        std::string error;
        EXPECT_FALSE(parseSimPlan(c.text, "plan.json", error)) << number << ": " << c.text;
        // Messages from the JSON parser go on with its own detail after the place.
        EXPECT_EQ(error.substr(0, std::string(c.error).size()), c.error) << number << ": " << c.text;
        if (std::string(c.error).find("not valid JSON") == std::string::npos) {
            EXPECT_EQ(error, c.error) << number << ": " << c.text;
        }
    }
}

TEST(SimPlanParse, AnEmptyMixMeansEveryOtherNumberGetsTheDefault)
{
    const SimPlan plan = parsed(R"({"default": {"line": "dead"}, "mix": []})");
    EXPECT_TRUE(plan.mix.empty());
    EXPECT_EQ(plan.behaviourFor("123").source, BehaviourSource::Default);
    EXPECT_EQ(plan.behaviourFor("123").behaviour.condition, LineCondition::Dead);
}

TEST(SimPlanLoad, ReadsAFileAndNamesItInErrors)
{
    test::TempDir dir;
    const auto path = dir / "plan.json";
    {
        std::ofstream(path) << R"({"lines": 2, "numbers": {"77": {"line": "dead"}}})";
    }
    std::string error;
    const auto plan = loadSimPlan(path, error);
    ASSERT_TRUE(plan) << error;
    EXPECT_EQ(plan->lines, 2u);
    EXPECT_EQ(plan->numbers.count("77"), 1u);

    {
        std::ofstream(path) << R"({"lines": 99})";
    }
    EXPECT_FALSE(loadSimPlan(path, error));
    EXPECT_EQ(error, path.string() + ": lines: must be a whole number from 1 to 64");

    EXPECT_FALSE(loadSimPlan(dir / "missing.json", error));
    EXPECT_EQ(error, (dir / "missing.json").string() + ": cannot open: No such file or directory");

    EXPECT_FALSE(loadSimPlan(dir.path(), error));
    EXPECT_EQ(error, dir.path().string() + ": is a folder, not a plan file");
}

TEST(SimPlanBehaviour, DescriptionReadsBackAsTheSameBehaviour)
{
    const PartyBehaviour cases[] = {
        party(LineCondition::Ok, 1000),
        party(LineCondition::Dead, std::nullopt),
        party(LineCondition::Reversed, 0, 4294967295u, true),
        party(LineCondition::Ok, std::nullopt, 25),
    };
    EXPECT_EQ(describeBehaviour(cases[0]),
              R"({"line":"ok","answer_after_ms":1000,"hangup_after_ms":null,"pulse_reversal":false})");
    EXPECT_EQ(describeBehaviour(cases[2]),
              R"({"line":"reversed","answer_after_ms":0,"hangup_after_ms":4294967295,"pulse_reversal":true})");
    for (const PartyBehaviour& c : cases) {
        const std::string text = describeBehaviour(c);
        std::string error;
        const auto back = parseBehaviour(text, "here", error);
        ASSERT_TRUE(back) << text << ": " << error;
        expectSame(*back, c, text);
        // The description is a plan's BEHAVIOUR: it reads as a plan's default too.
        const SimPlan plan = parsed("{\"default\": " + text + "}");
        expectSame(plan.defaultBehaviour, c, text);
    }
    std::string error;
    EXPECT_FALSE(parseBehaviour(R"({"line":"gone"})", "calls.log: line 2", error));
    EXPECT_EQ(error, "calls.log: line 2: behaviour.line: unknown line condition \"gone\": must be \"ok\", \"dead\" or "
                     "\"reversed\"");
}

// ---- Drawing ---------------------------------------------------------------------------------

SimPlan threeToOne(std::uint64_t seed)
{
    return parsed(R"({"seed": )" + std::to_string(seed) + R"(,
        "default": {"line": "dead"},
        "numbers": {"5550001": {"answer_after_ms": 7}},
        "mix": [{"weight": 3, "behaviour": {"answer_after_ms": 100}},
                {"weight": 1, "behaviour": {"answer_after_ms": null}}]})");
}

TEST(SimPlanDraw, ListedNumbersWinOverTheMix)
{
    const SimPlan plan = threeToOne(1);
    const BehaviourChoice choice = plan.behaviourFor("5550001");
    EXPECT_EQ(choice.source, BehaviourSource::Number);
    EXPECT_EQ(choice.behaviour.answerAfterMs, 7u);
    // A longer or shorter number is not the listed one.
    EXPECT_EQ(plan.behaviourFor("55500012").source, BehaviourSource::Mix);
    EXPECT_EQ(plan.behaviourFor("555000").source, BehaviourSource::Mix);
}

TEST(SimPlanDraw, WithoutAMixEveryOtherNumberGetsTheDefault)
{
    const SimPlan plan = parsed(R"({"default": {"answer_after_ms": 5}, "numbers": {"1": {"line": "dead"}}})");
    for (const char* number : {"2", "11", "*", "5550001"}) {
        const BehaviourChoice choice = plan.behaviourFor(number);
        EXPECT_EQ(choice.source, BehaviourSource::Default) << number;
        EXPECT_EQ(choice.behaviour.answerAfterMs, 5u) << number;
    }
}

TEST(SimPlanDraw, TheSameNumberAndSeedAlwaysDrawTheSameEntry)
{
    const SimPlan plan = threeToOne(42);
    const SimPlan again = threeToOne(42);
    std::map<std::string, std::size_t> first;
    for (int i = 0; i < 500; ++i) {
        const std::string number = std::to_string(1000000 + i * 7919);
        first[number] = plan.behaviourFor(number).mixIndex;
    }
    // In reverse order, from another plan object: the draw does not depend on earlier draws.
    for (auto it = first.rbegin(); it != first.rend(); ++it) {
        EXPECT_EQ(again.behaviourFor(it->first).mixIndex, it->second) << it->first;
        EXPECT_EQ(plan.behaviourFor(it->first).mixIndex, it->second) << it->first;
    }
}

TEST(SimPlanDraw, AnotherSeedDrawsOtherwise)
{
    const SimPlan one = threeToOne(1);
    const SimPlan two = threeToOne(2);
    int differ = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::string number = std::to_string(2000000 + i);
        differ += one.behaviourFor(number).mixIndex != two.behaviourFor(number).mixIndex;
    }
    // Independent draws at 3:1 differ with probability 2 · 0.75 · 0.25 = 0.375.
    EXPECT_GT(differ, 300);
    EXPECT_LT(differ, 450);
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
            if (choice.mixIndex == 0) {
                ++first;
                EXPECT_EQ(choice.behaviour.answerAfterMs, 100u);
            } else {
                EXPECT_EQ(choice.mixIndex, 1u);
                EXPECT_FALSE(choice.behaviour.answerAfterMs);
            }
        }
        EXPECT_NEAR(static_cast<double>(first) / total, 0.75, 0.02) << "seed " << seed;
    }
}

TEST(SimPlanDraw, ManyEntriesAreEachDrawnInProportion)
{
    const SimPlan plan = parsed(R"({"mix": [{"weight": 1}, {"weight": 2}, {"weight": 3}, {"weight": 4}]})");
    int counts[4] = {};
    const int total = 20000;
    for (int i = 0; i < total; ++i)
        ++counts[plan.behaviourFor("8" + std::to_string(i)).mixIndex];
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(static_cast<double>(counts[k]) / total, (k + 1) / 10.0, 0.015) << "entry " << k;
}

// ---- Applied to a simulator -----------------------------------------------------------------

TEST(SimPlanApply, AnUnregisteredNumberGetsItsDrawnPartyAndTheCallRecordsIt)
{
    // Dead parties from the mix, answering ones by default: the carrier shows which one applied.
    SimPlan plan = parsed(R"({"digit_timeout_ms": 60,
        "default": {"answer_after_ms": 0},
        "numbers": {"12": {"answer_after_ms": null, "hangup_after_ms": 5}},
        "mix": [{"weight": 1, "behaviour": {"line": "dead", "answer_after_ms": 20}},
                {"weight": 1, "behaviour": {"line": "ok", "answer_after_ms": 20, "hangup_after_ms": 40}}]})");
    // Numbers of both kinds.
    std::string deadNumber;
    std::string okNumber;
    for (int i = 30; i < 99 && (deadNumber.empty() || okNumber.empty()); ++i) {
        const std::string number = std::to_string(i);
        (plan.behaviourFor(number).mixIndex == 0 ? deadNumber : okNumber) = number;
    }
    ASSERT_FALSE(deadNumber.empty());
    ASSERT_FALSE(okNumber.empty());

    Simulator simulator(1, plan.options());
    applyPlan(simulator, plan);
    int error = 0;
    auto line = simulator.openLine("SIM1", error);
    ASSERT_TRUE(line);
    test::LineDriver driver(*line);

    struct Case {
        std::string number;
        bool carrierGoesOff;  // the party answers (reversal) or the line is dead
        PartyBehaviour expected;
        bool answers;
    };
    const Case cases[] = {
        {deadNumber, true, plan.mix[0].behaviour, false},
        {okNumber, true, plan.mix[1].behaviour, true},
        {"12", false, plan.numbers.at("12"), false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(driver.offHook());
        ASSERT_TRUE(driver.dialTones(c.number));
        EXPECT_EQ(driver.waitCarrier(false, 400).has_value(), c.carrierGoesOff) << c.number;
        const std::size_t before = simulator.calls().size();
        ASSERT_TRUE(driver.onHook());
        ASSERT_TRUE(simulator.waitForCalls(before + 1, 2000));
        const CallRecord call = simulator.calls().back();
        EXPECT_EQ(call.dialed, c.number);
        ASSERT_TRUE(call.completeMs) << c.number;
        EXPECT_EQ(call.answerMs.has_value(), c.answers) << c.number;
        expectSame(call.behaviour, c.expected, c.number);
    }
}

TEST(SimPlanApply, ApplyingAnotherPlanReplacesTheNumbersAndTheChooser)
{
    const SimPlan first = parsed(R"({"digit_timeout_ms": 40, "numbers": {"5": {"line": "dead"}},
        "mix": [{"behaviour": {"line": "reversed"}}]})");
    const SimPlan second = parsed(R"({"digit_timeout_ms": 40, "default": {"answer_after_ms": 3},
        "numbers": {"6": {"answer_after_ms": 4}}})");
    Simulator simulator(1, first.options());
    applyPlan(simulator, first);
    applyPlan(simulator, second);
    int error = 0;
    auto line = simulator.openLine("SIM1", error);
    ASSERT_TRUE(line);
    test::LineDriver driver(*line);
    for (const char* number : {"5", "7", "6"}) {
        ASSERT_TRUE(driver.offHook());
        ASSERT_TRUE(driver.dialTones(number));
        EXPECT_TRUE(driver.waitCarrier(false, 400)) << number;  // every party answers
        const std::size_t before = simulator.calls().size();
        ASSERT_TRUE(driver.onHook());
        ASSERT_TRUE(simulator.waitForCalls(before + 1, 2000));
        const CallRecord call = simulator.calls().back();
        EXPECT_EQ(call.behaviour.condition, LineCondition::Ok) << number;
        EXPECT_EQ(call.behaviour.answerAfterMs, std::string(number) == "6" ? 4u : 3u) << number;
    }
}

}  // namespace
}  // namespace peltra::sim
