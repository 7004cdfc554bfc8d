// The call log file: whole JSON lines, read back, appended by many writers at once.
#include "sim/CallLog.h"

#include "sim/LineDriver.h"
#include "sim/SimPlan.h"
#include "sim/Simulator.h"
#include "support/TempDir.h"

#include <nlohmann/json.hpp>

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

void append(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
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
    record.behaviour.condition = LineCondition::Reversed;
    record.behaviour.answerAfterMs = 1021;
    record.behaviour.hangUpAfterMs = 2979;
    record.behaviour.pulseReversal = true;
    return record;
}

TEST(CallLogFormat, OneLineWithEveryKey)
{
    const std::string line = formatCallLogLine(sampleRecord(), kResultHungUp);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const std::string logged = line.substr(line.find("\"logged_at\""));
    EXPECT_EQ(line.substr(0, line.size() - logged.size()),
              R"({"call":3,"line":"SIM2","number":"2345678",)"
              R"("behaviour":{"line":"reversed","answer_after_ms":1021,"hangup_after_ms":2979,"pulse_reversal":true},)"
              R"("answered":true,"bytes_heard":86400,"party_heard_bytes":80000,"hung_up":true,"unplugged":false,)"
              R"("result":2,"complete_ms":8000.0,"answer_ms":9021.3,"party_hangup_ms":12000.0,)"
              R"("caller_hangup_ms":13800.3,)");
    // "logged_at":"2024-05-01T12:00:00.123Z"}
    ASSERT_EQ(logged.size(), std::string(R"("logged_at":"2024-05-01T12:00:00.123Z"})").size()) << logged;
    EXPECT_EQ(logged.back(), '}');
}

TEST(CallLogFormat, ACallNeverAnsweredHasNullTimes)
{
    CallRecord record;
    record.callNumber = 1;
    record.port = "SIM1";
    record.callerHangupMs = 50;
    const auto json = nlohmann::json::parse(formatCallLogLine(record, 7));
    EXPECT_EQ(json["number"], "");
    EXPECT_EQ(json["answered"], false);
    EXPECT_EQ(json["hung_up"], false);
    EXPECT_TRUE(json["complete_ms"].is_null());
    EXPECT_TRUE(json["answer_ms"].is_null());
    EXPECT_TRUE(json["party_hangup_ms"].is_null());
    EXPECT_EQ(json["caller_hangup_ms"], 50.0);
    EXPECT_EQ(json["result"], 7);
    EXPECT_EQ(json["behaviour"]["answer_after_ms"], 1000);
}

TEST(CallLogFile, WritesWholeLinesAndReadsThemBack)
{
    test::TempDir dir;
    const auto path = dir / "calls.log";
    CallLog log;
    std::string error;
    ASSERT_TRUE(log.open(path, error)) << error;
    EXPECT_TRUE(log.isOpen());

    CallRecord first = sampleRecord();
    CallRecord second;
    second.callNumber = 4;
    second.port = "SIM1";
    second.dialed = "*12#";
    PartyBehaviour dead;
    dead.condition = LineCondition::Dead;
    dead.answerAfterMs.reset();
    ASSERT_TRUE(log.write(first, kResultDelivered, error)) << error;
    // Written at once: the whole line is in the file while the log is still open.
    const std::string line = formatCallLogLine(first, kResultDelivered);
    const std::string written = fileText(path);
    const std::size_t stamp = line.find("\"logged_at\"");
    EXPECT_EQ(written.substr(0, stamp), line.substr(0, stamp));
    EXPECT_EQ(written.size(), line.size() + 1);
    EXPECT_EQ(written.back(), '\n');
    ASSERT_TRUE(log.write(second, dead, 4294967295u, error)) << error;

    const auto contents = readCallLog(path, error);
    ASSERT_TRUE(contents) << error;
    EXPECT_EQ(contents->tornLines, 0u);
    ASSERT_EQ(contents->entries.size(), 2u);
    const CallLogEntry& a = contents->entries[0];
    EXPECT_EQ(a.call, 3u);
    EXPECT_EQ(a.line, "SIM2");
    EXPECT_EQ(a.number, "2345678");
    EXPECT_EQ(a.behaviour.condition, LineCondition::Reversed);
    EXPECT_EQ(a.behaviour.answerAfterMs, 1021u);
    EXPECT_EQ(a.behaviour.hangUpAfterMs, 2979u);
    EXPECT_TRUE(a.behaviour.pulseReversal);
    EXPECT_TRUE(a.answered);
    EXPECT_TRUE(a.hungUp);
    EXPECT_FALSE(a.unplugged);
    EXPECT_EQ(a.bytesHeard, 86400u);
    EXPECT_EQ(a.partyHeardBytes, 80000u);
    EXPECT_EQ(a.result, kResultDelivered);
    EXPECT_EQ(a.completeMs, 8000.0);
    EXPECT_EQ(a.answerMs, 9021.3);
    EXPECT_EQ(a.callerHangupMs, 13800.3);
    EXPECT_EQ(a.loggedAt.size(), 24u);

    const CallLogEntry& b = contents->entries[1];
    EXPECT_EQ(b.call, 4u);
    EXPECT_EQ(b.number, "*12#");
    EXPECT_EQ(b.behaviour.condition, LineCondition::Dead);  // the behaviour given, not the record's
    EXPECT_FALSE(b.behaviour.answerAfterMs);
    EXPECT_FALSE(b.answered);
    EXPECT_EQ(b.result, 4294967295u);
    EXPECT_FALSE(b.completeMs);
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
    append(path, formatCallLogLine(sampleRecord(), 1).substr(0, 40));
    {
        const auto contents = readCallLog(path, error);
        ASSERT_TRUE(contents) << error;
        EXPECT_EQ(contents->entries.size(), 1u);
        EXPECT_EQ(contents->tornLines, 1u);
    }
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
}

TEST(CallLogFile, FailuresAreReportedWithTheFileName)
{
    test::TempDir dir;
    std::string error;
    CallLog log;
    EXPECT_FALSE(log.write(sampleRecord(), 0, error));
    EXPECT_EQ(error, "call log: the call log is not open");

    EXPECT_FALSE(log.open(dir / "no" / "calls.log", error));
    EXPECT_EQ(error, (dir / "no" / "calls.log").string() + ": cannot open the call log: No such file or directory");
    EXPECT_FALSE(log.isOpen());

    EXPECT_FALSE(readCallLog(dir / "missing.log", error));
    EXPECT_EQ(error, (dir / "missing.log").string() + ": cannot open the call log: No such file or directory");
}

TEST(CallLogRead, LinesThatAreNotEntriesAreErrorsNamingTheLine)
{
    test::TempDir dir;
    const auto path = dir / "calls.log";
    const std::string good = formatCallLogLine(sampleRecord(), 0);
    struct Case {
        std::string text;
        std::string error;  // empty: reads
        std::size_t entries;
        std::size_t torn;
    };
    const Case cases[] = {
        {"", "", 0, 0},
        {good + "\n\n" + good + "\n", "", 2, 0},
        {good, "", 1, 0},                                  // complete, only the newline missing
        {good + "\n" + good.substr(0, good.size() - 1), "", 1, 1},
        {good + "\nnot json\n", ": line 2: not valid JSON", 0, 0},
        {good + "\n{\"call\":1}x\n", ": line 2: not valid JSON", 0, 0},
        {"[1]\n", ": line 1: not a JSON object", 0, 0},
        {"{\"call\":1}\n", ": line 1: line: missing", 0, 0},
        {R"({"call":-1})" "\n", ": line 1: call: must be a whole number", 0, 0},
        {good.substr(0, good.find("\"result\"")) + R"("result":"0"})" "\n", ": line 1: result: must be a whole number",
         0, 0},
    };
    int number = 0;
    for (const Case& c : cases) {
        ++number;
        {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        }
        std::string error;
        const auto contents = readCallLog(path, error);
        if (c.error.empty()) {
            ASSERT_TRUE(contents) << number << ": " << error;
            EXPECT_EQ(contents->entries.size(), c.entries) << number;
            EXPECT_EQ(contents->tornLines, c.torn) << number;
        } else {
            EXPECT_FALSE(contents) << number;
            const std::string expected = path.string() + c.error;
            EXPECT_EQ(error.substr(0, expected.size()), expected) << number << ": " << error;
        }
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
        const int t = entry.line.back() - '1';
        EXPECT_EQ(entry.number, std::string(2000, static_cast<char>('0' + t)));
        seen.insert(entry.call);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kCalls));
}

TEST(CallLogSimulator, EveryCallOfAPlanIsLoggedWithItsParty)
{
    std::string error;
    const auto plan = parseSimPlan(R"({"lines": 2, "digit_timeout_ms": 50,
        "numbers": {"11": {"answer_after_ms": 0}},
        "mix": [{"behaviour": {"answer_after_ms": null}}]})",
                                   "plan.json", error);
    ASSERT_TRUE(plan) << error;
    test::TempDir dir;
    CallLog log;
    ASSERT_TRUE(log.open(dir / "calls.log", error)) << error;
    {
        Simulator simulator(plan->lines, plan->options());
        applyPlan(simulator, *plan);
        int openError = 0;
        auto line = simulator.openLine("SIM2", openError);
        ASSERT_TRUE(line);
        test::LineDriver driver(*line);
        const std::pair<const char*, std::uint32_t> calls[] = {{"11", kResultDelivered}, {"22", kResultNoAnswer}, {"", 9}};
        for (const auto& [number, result] : calls) {
            ASSERT_TRUE(driver.offHook());
            if (*number) {
                ASSERT_TRUE(driver.dialTones(number));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(90));  // past the digit time-out
            const std::size_t before = simulator.calls().size();
            ASSERT_TRUE(driver.onHook());
            ASSERT_TRUE(simulator.waitForCalls(before + 1, 2000));
            ASSERT_TRUE(log.write(simulator.calls().back(), result, error)) << error;
        }
    }
    const auto contents = readCallLog(dir / "calls.log", error);
    ASSERT_TRUE(contents) << error;
    ASSERT_EQ(contents->entries.size(), 3u);
    const auto& e = contents->entries;
    EXPECT_EQ(e[0].number, "11");
    EXPECT_EQ(e[0].line, "SIM2");
    EXPECT_TRUE(e[0].answered);
    EXPECT_EQ(e[0].behaviour.answerAfterMs, 0u);
    EXPECT_EQ(e[0].result, kResultDelivered);
    EXPECT_EQ(e[1].number, "22");
    EXPECT_FALSE(e[1].answered);
    EXPECT_FALSE(e[1].behaviour.answerAfterMs);  // drawn from the mix
    EXPECT_TRUE(e[1].completeMs);
    EXPECT_EQ(e[1].result, kResultNoAnswer);
    // Nothing dialled: the number never completed, the call met the default party.
    EXPECT_EQ(e[2].number, "");
    EXPECT_FALSE(e[2].completeMs);
    EXPECT_EQ(e[2].behaviour.answerAfterMs, 1000u);
    EXPECT_EQ(e[2].result, 9u);
    for (std::size_t i = 0; i < e.size(); ++i)
        EXPECT_EQ(e[i].call, i + 1);
}

}  // namespace
}  // namespace peltra::sim
