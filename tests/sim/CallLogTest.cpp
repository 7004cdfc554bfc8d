// The call log file (whole JSON lines, read back, appended by many writers at once) and the
// simulation plans whose parties it records: reading, drawing parties for numbers, applying.
#include "sim/CallLog.h"

#include "sim/LineDriver.h"
#include "sim/SimPlan.h"
#include "sim/Simulator.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <thread>

// Designated initializers name only the fields a record sets; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace peltra::sim {
namespace {

CallRecord sampleRecord()
{
    return {.callNumber = 3, .port = "SIM2", .dialed = "2345678", .completeMs = 8000.04, .answerMs = 9021.27,
            .partyHangupMs = 12000, .callerHangupMs = 13800.25, .behaviour = test::party(LineCondition::Reversed, 1021, 2979, true),
            .bytesHeard = 86400, .partyHeardBytes = 80000};
}

// An entry as one line of text, without the time it was logged.
std::string summary(const CallLogEntry& e)
{
    const auto ms = [](const std::optional<double>& v) { return v ? std::to_string(*v).substr(0, std::to_string(*v).size() - 5) : "null"; };
    return std::to_string(e.call) + " " + e.line + " " + e.number + " " + describeBehaviour(e.behaviour) + " answered " +
           std::to_string(e.answered) + " heard " + std::to_string(e.bytesHeard) + "/" + std::to_string(e.partyHeardBytes) +
           " hung up " + std::to_string(e.hungUp) + " unplugged " + std::to_string(e.unplugged) + " result " +
           std::to_string(e.result) + " ms " + ms(e.completeMs) + " " + ms(e.answerMs) + " " + ms(e.partyHangupMs) + " " +
           ms(e.callerHangupMs);
}

TEST(CallLogFile, WritesWholeLinesWithEveryKeyAndReadsThemBack)
{
    const std::string line = formatCallLogLine(sampleRecord(), kResultHungUp);
    const std::size_t stamp = line.find("\"logged_at\"");
    EXPECT_EQ(line.substr(0, stamp),
              R"({"call":3,"line":"SIM2","number":"2345678",)"
              R"("behaviour":{"line":"reversed","answer_after_ms":1021,"hangup_after_ms":2979,"pulse_reversal":true},)"
              R"("answered":true,"bytes_heard":86400,"party_heard_bytes":80000,"hung_up":true,"unplugged":false,)"
              R"("result":2,"complete_ms":8000.0,"answer_ms":9021.3,"party_hangup_ms":12000.0,)"
              R"("caller_hangup_ms":13800.3,)");
    EXPECT_EQ(line.substr(stamp).size(), std::string(R"("logged_at":"2024-05-01T12:00:00.123Z"})").size()) << line;

    test::TempDir dir;
    const auto path = dir / "calls.log";
    CallLog log;
    std::string error;
    ASSERT_TRUE(log.open(path, error)) << error;
    ASSERT_TRUE(log.write(sampleRecord(), kResultHungUp, error)) << error;
    // Written at once: the whole line is in the file while the log is still open.
    EXPECT_EQ(test::readFile(path).substr(0, stamp), line.substr(0, stamp));
    EXPECT_EQ(test::readFile(path).size(), line.size() + 1);

    // A call never answered, logged with the behaviour given rather than the record's.
    const CallRecord bare{.callNumber = 4, .port = "SIM1", .dialed = "*12#", .callerHangupMs = 50};
    ASSERT_TRUE(log.write(bare, test::party(LineCondition::Dead, std::nullopt), 4294967295u, error)) << error;

    const auto contents = readCallLog(path, error);
    ASSERT_TRUE(contents) << error;
    EXPECT_EQ(contents->tornLines, 0u);
    ASSERT_EQ(contents->entries.size(), 2u);
    EXPECT_EQ(summary(contents->entries[0]),
              "3 SIM2 2345678 " + describeBehaviour(sampleRecord().behaviour) +
                  " answered 1 heard 86400/80000 hung up 1 unplugged 0 result 2 ms 8000.0 9021.3 12000.0 13800.3");
    EXPECT_EQ(summary(contents->entries[1]),
              "4 SIM1 *12# " + describeBehaviour(test::party(LineCondition::Dead, std::nullopt)) +
                  " answered 0 heard 0/0 hung up 0 unplugged 0 result 4294967295 ms null null null 50.0");
    EXPECT_EQ(contents->entries[0].loggedAt.size(), 24u);

    // A writer stopped in the middle of a line: reopening ends that line before appending.
    log.close();
    std::ofstream(path, std::ios::binary | std::ios::app) << line.substr(0, 40);
    ASSERT_TRUE(log.open(path, error)) << error;
    ASSERT_TRUE(log.write(bare, test::party(LineCondition::Dead, std::nullopt), 9, error)) << error;
    const auto reopened = readCallLog(path, error);
    ASSERT_TRUE(reopened) << error;
    EXPECT_EQ(std::tuple(reopened->tornLines, reopened->entries.size(), reopened->entries.back().result),
              std::tuple(1u, 3u, 9u));

    // Failures name the file.
    CallLog closed;
    EXPECT_FALSE(closed.write(sampleRecord(), 0, error));
    EXPECT_EQ(error, "call log: the call log is not open");
    EXPECT_FALSE(closed.open(dir / "no" / "calls.log", error) || closed.isOpen());
    EXPECT_EQ(error, (dir / "no" / "calls.log").string() + ": cannot open the call log: No such file or directory");
    EXPECT_FALSE(readCallLog(dir / "missing.log", error));
    EXPECT_EQ(error, (dir / "missing.log").string() + ": cannot open the call log: No such file or directory");
}

TEST(CallLogRead, LinesThatAreNotEntriesAreErrorsNamingTheLine)
{
    test::TempDir dir;
    const auto path = dir / "calls.log";
    const std::string good = formatCallLogLine(sampleRecord(), 0);
    const struct {
        std::string text;
        std::string error;  // empty: reads
        std::size_t entries;
        std::size_t torn;
    } cases[] = {
        {"", "", 0, 0}, {good + "\n\n" + good + "\n", "", 2, 0},
        {good, "", 1, 0},  // complete, only the newline missing
        {good + "\n" + good.substr(0, good.size() - 1), "", 1, 1},
        {good + "\nnot json\n", ": line 2: not valid JSON", 0, 0},
        {good + "\n{\"call\":1}x\n", ": line 2: not valid JSON", 0, 0},
        {"[1]\n", ": line 1: not a JSON object", 0, 0}, {"{\"call\":1}\n", ": line 1: line: missing", 0, 0},
        {R"({"call":-1})" "\n", ": line 1: call: must be a whole number", 0, 0},
        {good.substr(0, good.find("\"result\"")) + R"("result":"0"})" "\n", ": line 1: result: must be a whole number", 0, 0},
        {good.substr(0, good.find("reversed")) + "gone" + good.substr(good.find("reversed") + 8) + "\n",
         ": line 1: behaviour.line: unknown line condition \"gone\": must be \"ok\", \"dead\" or \"reversed\"", 0, 0},
    };
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        std::string error;
        const auto contents = readCallLog(path, error);
        ASSERT_EQ(contents.has_value(), c.error.empty()) << c.text << ": " << error;
        if (contents)
            EXPECT_EQ(std::pair(contents->entries.size(), contents->tornLines), std::pair(c.entries, c.torn)) << c.text;
        else
            EXPECT_EQ(error.substr(0, path.string().size() + c.error.size()), path.string() + c.error);
    }
}

TEST(CallLogFile, ConcurrentWritersNeverMixTheirLines)
{
    test::TempDir dir;
    const auto path = dir / "calls.log";
    std::string error;
    // Two logs on one file stand for two processes; two threads write through each.
    CallLog one;
    CallLog two;
    ASSERT_TRUE(one.open(path, error)) << error;
    ASSERT_TRUE(two.open(path, error)) << error;
    constexpr int kThreads = 4;
    constexpr int kCalls = 300;
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            CallLog& log = t % 2 ? two : one;
            CallRecord record = sampleRecord();
            record.port = "SIM" + std::to_string(t + 1);
            // Long numbers make long lines, so a mixed write would show.
            record.dialed = std::string(2000, static_cast<char>('0' + t));
            std::string writeError;
            for (int i = 0; i < kCalls; ++i) {
                record.callNumber = static_cast<std::size_t>(t * kCalls + i + 1);
                if (!log.write(record, 0, writeError))
                    ++failures;
            }
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(failures, 0);

    const auto contents = readCallLog(path, error);
    ASSERT_TRUE(contents) << error;
    EXPECT_EQ(contents->tornLines, 0u);
    ASSERT_EQ(contents->entries.size(), static_cast<std::size_t>(kThreads * kCalls));
    std::set<std::size_t> seen;
    for (const CallLogEntry& entry : contents->entries) {
        EXPECT_EQ(entry.number, std::string(2000, static_cast<char>('0' + entry.line.back() - '1')));
        seen.insert(entry.call);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kCalls));
}

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
    EXPECT_EQ(std::pair(plan.options().realTime, plan.options().digitTimeoutMs), std::pair(true, 150u));
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

TEST(SimPlanParse, BadInputIsRefusedNamingThePlaceAndTheFile)
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
        {R"({"lines": 4.0})", "lines: must be a whole number from 1 to 64"},
        {R"({"seed": -5})", "seed: must be a whole number from 0 to 18446744073709551615"},
        {R"({"realtime": 1})", "realtime: must be true or false"},
        {R"({"digit_timeout_ms": 0})", "digit_timeout_ms: must be a whole number of ms from 1 to 4294967295"},
        {R"({"default": []})",
         "default: must be an object with the keys line, answer_after_ms, hangup_after_ms, pulse_reversal"},
        {R"({"default": {"line": "OK"}})", "default.line: unknown line condition \"OK\": " + line},
        {R"({"default": {"answer_after_ms": -1}})", "default.answer_after_ms: " + ms + " (never answers)"},
        {R"({"numbers": {"5": {"hangup_after_ms": "10"}}})", "numbers[\"5\"].hangup_after_ms: " + ms + " (listens to the end)"},
        {R"({"mix": [{"behaviour": {"pulse_reversal": "yes"}}]})", "mix[0].behaviour.pulse_reversal: must be true or false"},
        {R"({"numbers": []})", "numbers: must be an object of numbers and their behaviours"},
        {R"({"numbers": {"": {}}})", "numbers[\"\"]: a number must not be empty"},
        {R"({"numbers": {"12a": {}}})", "numbers[\"12a\"]: a number holds only digits, *, # and A-D"},
        {R"({"numbers": {"12": {}, "13": {}, "1": {}}})", "numbers[\"12\"]: can never be dialled: the number completes at \"1\", listed too"},
        {R"({"mix": {}})", "mix: must be a list of {\"weight\": N, \"behaviour\": BEHAVIOUR}"},
        {R"({"mix": [3]})", "mix[0]: must be an object {\"weight\": N, \"behaviour\": BEHAVIOUR}"},
        {R"({"mix": [{"weight": 1}, {"weight": 0}]})", "mix[1].weight: must be a whole number from 1 to 4294967295"},
    };
    for (const auto& [text, problem] : cases) {
        std::string error;
        EXPECT_FALSE(parseSimPlan(text, "plan.json", error)) << text;
        // Messages from the JSON parser go on with its own detail after the place.
        const std::string expected = "plan.json: " + problem;
        EXPECT_EQ(problem.starts_with("not valid JSON") ? error.substr(0, expected.size()) : error, expected) << text;
    }

    // A plan file is named in its errors.
    test::TempDir dir;
    const auto path = dir / "plan.json";
    std::ofstream(path) << R"({"lines": 2, "numbers": {"77": {"line": "dead"}}})";
    std::string error;
    const auto plan = loadSimPlan(path, error);
    ASSERT_TRUE(plan) << error;
    EXPECT_EQ(std::pair(plan->lines, plan->numbers.count("77")), std::pair(2u, std::size_t{1}));
    std::ofstream(path) << R"({"lines": 99})";
    for (const auto& [file, problem] : {std::pair{path, ": lines: must be a whole number from 1 to 64"},
                                        {dir / "missing.json", ": cannot open: No such file or directory"},
                                        {dir.path(), ": is a folder, not a plan file"}}) {
        EXPECT_FALSE(loadSimPlan(file, error));
        EXPECT_EQ(error, file.string() + problem);
    }
}

SimPlan threeToOne(std::uint64_t seed)
{
    return parsed(R"({"seed": )" + std::to_string(seed) + R"(, "default": {"line": "dead"},
        "numbers": {"5550001": {"answer_after_ms": 7}},
        "mix": [{"weight": 3, "behaviour": {"answer_after_ms": 100}}, {"weight": 1, "behaviour": {"answer_after_ms": null}}]})");
}

TEST(SimPlanDraw, ListedNumbersWinAndOthersAreDrawnByNumberSeedAndWeight)
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
        const BehaviourChoice choice = plan.behaviourFor(number);
        first[number] = choice.mixIndex;
        EXPECT_EQ(choice.behaviour.answerAfterMs, choice.mixIndex == 0 ? std::optional<std::uint32_t>(100) : std::nullopt);
    }
    int differ = 0;
    for (auto it = first.rbegin(); it != first.rend(); ++it) {
        EXPECT_EQ(again.behaviourFor(it->first).mixIndex, it->second) << it->first;
        differ += other.behaviourFor(it->first).mixIndex != it->second;
    }
    // Independent draws at 3:1 differ with probability 2 · 0.75 · 0.25 = 0.375.
    EXPECT_GT(differ, 300);
    EXPECT_LT(differ, 450);

    // Weights 1:2:3:4:1, over neighbouring numbers as a table of subscribers has them; a one-sided
    // draw shows in the first and last entries of weight 1.
    const SimPlan weighted = parsed(R"({"mix": [{"weight": 1}, {"weight": 2}, {"weight": 3}, {"weight": 4}, {"weight": 1}]})");
    int counts[5] = {};
    const int total = 22000;
    for (int i = 0; i < total; ++i)
        ++counts[weighted.behaviourFor("8" + std::to_string(i)).mixIndex];
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

    // Real calls, logged and read back row by row.
    test::TempDir dir;
    CallLog log;
    std::string error;
    ASSERT_TRUE(log.open(dir / "calls.log", error)) << error;
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
        {"", false, plan.defaultBehaviour, false},  // nothing dialled, never complete: the default party
        // After the second plan: its default for the first plan's listed number, its own for "6".
        {"12", true, party(LC::Ok, 3), true}, {"6", true, party(LC::Ok, 4), true},
    };
    for (const auto& c : cases) {
        if (&c == &cases[4])
            applyPlan(simulator, second);
        ASSERT_TRUE(driver.offHook());
        ASSERT_TRUE(c.number.empty() || driver.dialTones(c.number));
        EXPECT_EQ(driver.waitCarrier(false, 400).has_value(), c.carrierGoesOff) << c.number;
        const CallRecord call = test::hangUpAndLog(simulator, driver);
        EXPECT_EQ(call.dialed, c.number);
        EXPECT_EQ(call.completeMs.has_value(), !c.number.empty()) << c.number;
        EXPECT_EQ(call.answerMs.has_value(), c.answers) << c.number;
        EXPECT_PARTY(call.behaviour, c.expected);
        ASSERT_TRUE(log.write(call, static_cast<std::uint32_t>(&c - cases), error)) << error;
    }
    const auto contents = readCallLog(dir / "calls.log", error);
    ASSERT_TRUE(contents) << error;
    ASSERT_EQ(contents->entries.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const CallLogEntry& e = contents->entries[i];
        EXPECT_EQ(std::tuple(e.call, e.line, e.number, e.answered, e.result), std::tuple(i + 1, "SIM1", cases[i].number, cases[i].answers, i));
        EXPECT_PARTY(e.behaviour, cases[i].expected);
        EXPECT_TRUE(e.callerHangupMs.has_value());
    }
}

}  // namespace
}  // namespace peltra::sim
