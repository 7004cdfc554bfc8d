// The call log file: whole JSON lines, read back, appended by many writers at once.
#include "sim/CallLog.h"

#include "sim/LineDriver.h"
#include "sim/SimPlan.h"
#include "sim/Simulator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace peltra::sim {
namespace {

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CallRecord sampleRecord()
{
    CallRecord record;
    record.callNumber = 3;
    record.port = "SIM2";
    record.dialed = "2345678";
    record.completeMs = 8000.04;
    record.answerMs = 9021.27;
    record.partyHangupMs = 12000;
    record.callerHangupMs = 13800.25;
    record.bytesHeard = 86400;
    record.partyHeardBytes = 80000;
    record.behaviour = test::party(LineCondition::Reversed, 1021, 2979, true);
    return record;
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
    EXPECT_EQ(fileText(path).substr(0, stamp), line.substr(0, stamp));
    EXPECT_EQ(fileText(path).size(), line.size() + 1);

    // A call never answered, logged with the behaviour given rather than the record's.
    CallRecord bare;
    bare.callNumber = 4;
    bare.port = "SIM1";
    bare.dialed = "*12#";
    bare.callerHangupMs = 50;
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
}

TEST(CallLogFile, ReopeningAppendsAndEndsATornLastLineFirst)
{
    test::TempDir dir;
    const auto path = dir / "calls.log";
    std::string error;
    {
        CallLog log;
        ASSERT_TRUE(log.open(path, error)) << error;
        ASSERT_TRUE(log.write(sampleRecord(), 0, error)) << error;
    }
    // A writer stopped in the middle of a line.
    std::ofstream(path, std::ios::binary | std::ios::app) << formatCallLogLine(sampleRecord(), 1).substr(0, 40);
    CallLog log;
    ASSERT_TRUE(log.open(path, error)) << error;
    CallRecord next = sampleRecord();
    next.callNumber = 9;
    ASSERT_TRUE(log.write(next, 2, error)) << error;
    const auto contents = readCallLog(path, error);
    ASSERT_TRUE(contents) << error;
    EXPECT_EQ(contents->tornLines, 1u);
    ASSERT_EQ(contents->entries.size(), 2u);
    EXPECT_EQ(contents->entries[0].call, 3u);
    EXPECT_EQ(contents->entries[1].call, 9u);
    EXPECT_EQ(contents->entries[1].result, 2u);

    // Failures name the file.
    CallLog closed;
    EXPECT_FALSE(closed.write(sampleRecord(), 0, error));
    EXPECT_EQ(error, "call log: the call log is not open");
    EXPECT_FALSE(closed.open(dir / "no" / "calls.log", error));
    EXPECT_EQ(error, (dir / "no" / "calls.log").string() + ": cannot open the call log: No such file or directory");
    EXPECT_FALSE(closed.isOpen());
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

// Real calls on the simulator, logged and read back row by row.
TEST(CallLogSimulator, EveryCallOfAPlanIsLoggedWithItsParty)
{
    std::string error;
    const auto plan = parseSimPlan(R"({"lines": 2, "digit_timeout_ms": 50,
        "numbers": {"11": {"answer_after_ms": 0, "hangup_after_ms": 10}},
        "mix": [{"behaviour": {"answer_after_ms": null}}]})",
                                   "plan.json", error);
    ASSERT_TRUE(plan) << error;
    test::TempDir dir;
    CallLog log;
    ASSERT_TRUE(log.open(dir / "calls.log", error)) << error;
    {
        Simulator simulator(plan->lines, plan->options());
        applyPlan(simulator, *plan);
        auto line = test::openLine(simulator, "SIM2");
        test::LineDriver driver(*line);
        const std::pair<const char*, std::uint32_t> calls[] = {{"11", kResultDelivered}, {"22", kResultNoAnswer}, {"", 9}};
        for (const auto& [number, result] : calls) {
            // Held past the digit time-out and the listed party's hang-up.
            ASSERT_TRUE(log.write(test::callAndHangUp(simulator, driver, number, 90), result, error)) << error;
        }
    }
    const auto contents = readCallLog(dir / "calls.log", error);
    ASSERT_TRUE(contents) << error;
    ASSERT_EQ(contents->entries.size(), 3u);
    const auto& e = contents->entries;
    for (std::size_t i = 0; i < e.size(); ++i)
        EXPECT_EQ(std::pair(e[i].call, e[i].line), std::pair(i + 1, std::string("SIM2")));
    EXPECT_EQ(e[0].number, "11");
    EXPECT_TRUE(e[0].answered && e[0].hungUp);
    EXPECT_NEAR(*e[0].partyHangupMs - *e[0].answerMs, 10, 1);
    EXPECT_NEAR(*e[0].answerMs, *e[0].completeMs, 1);
    EXPECT_EQ(e[0].behaviour.answerAfterMs, 0u);
    EXPECT_EQ(e[0].result, kResultDelivered);
    EXPECT_EQ(e[1].number, "22");
    EXPECT_FALSE(e[1].answered || e[1].hungUp);
    EXPECT_FALSE(e[1].behaviour.answerAfterMs);  // drawn from the mix
    EXPECT_TRUE(e[1].completeMs);
    EXPECT_EQ(e[1].result, kResultNoAnswer);
    // Nothing dialled: the number never completed, the call met the default party.
    EXPECT_EQ(e[2].number, "");
    EXPECT_FALSE(e[2].completeMs);
    EXPECT_EQ(e[2].behaviour.answerAfterMs, 1000u);
    EXPECT_EQ(e[2].result, 9u);
    for (const CallLogEntry& entry : e)
        EXPECT_GE(*entry.callerHangupMs, 90 - 1);
}

}  // namespace
}  // namespace peltra::sim
