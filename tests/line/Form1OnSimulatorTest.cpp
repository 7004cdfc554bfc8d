// The line device against the simulated exchange: pulse timing as the exchange measures it,
// faults of the line and their reasons, delivery judged by what the party heard, a message the
// library cannot play, shutdown at every step of a call, and an adapter pulled out mid-call.
#include "LineRecorders.h"
#include "line/Form1.h"
#include "line/PhonogramLibrary.h"
#include "sim/Simulator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace peltra::line {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Form1OnSimulatorTest : public ::testing::Test {
protected:
    Form1OnSimulatorTest()
    {
        EXPECT_TRUE(PhonogramLibrary::write(library, PhonogramLibrary::pcmFormat(),
                                            {{"_LNG", test::tonePcm(16000, 6000, 400)},
                                             {"_SHT", test::tonePcm(800, 6000, 400)},
                                             {"_300", test::tonePcm(2400, 6000, 400)}}));
        settings.dial.delayFirstMs = 20;
        settings.ringOffMs = 20;
        settings.waitAnswerS = 2;
    }

    // Opens SIM1 of a simulator with the given options and party, with short fixed waits.
    Form1& openLine(const sim::SimOptions& options, const sim::PartyBehaviour& party)
    {
        line.reset();
        simulator = std::make_unique<sim::Simulator>(1, options);
        simulator->setDefaultBehaviour(party);
        source = std::make_unique<test::FixedCallSettings>(settings);
        LineEnvironment environment(*simulator, timers, shutdown, *source);
        environment.library = library;
        environment.timings.lineReadyWaitMs = 30;
        environment.timings.interDigitMs = 300;
        environment.timings.polarityFaultMs = 50;
        line = std::make_unique<Form1>(environment);
        line->setView(&view);
        line->setOwner(&owner);
        EXPECT_TRUE(line->Open(0, "SIM1"));
        return *line;
    }

    // Waits until the line has reported `count` results in all.
    bool waitForResult(std::chrono::milliseconds limit, std::size_t count = 1)
    {
        return test::waitUntil([&] { return owner.results().size() >= count; }, limit);
    }

    test::TempDir dir;
    std::filesystem::path library = dir / "peltra.awf";
    CallSettings settings;
    platform::TimerService timers;
    platform::Event shutdown{true, false};
    test::RecordingView view;
    test::RecordingOwner owner;
    std::unique_ptr<sim::Simulator> simulator;
    std::unique_ptr<test::FixedCallSettings> source;
    std::unique_ptr<Form1> line;
};

// The exchange counts the pulses: 0 is ten breaks of 62 ms with makes of 38 ms between them;
// separators are skipped and P pauses.
TEST_F(Form1OnSimulatorTest, PulseDialingAsTheExchangeCountsIt)
{
    settings.dial.pulseMode = true;
    settings.dial.delayPMs = 100;
    sim::PartyBehaviour party;
    party.answerAfterMs = 0;
    const std::pair<const char*, const char*> calls[] = {{"0", "0"}, {"2-P1", "21"}};
    for (const auto& [number, dialed] : calls) {
        SCOPED_TRACE(number);
        const std::size_t reported = owner.results().size();
        Form1& device = openLine({}, party);
        simulator->setBehaviour(dialed, party);
        device.GetPhraseList() = {"_SHT"};
        ASSERT_TRUE(device.StartCall(number));
        ASSERT_TRUE(waitForResult(6s, reported + 1));
        EXPECT_EQ(owner.results().back().second, kCallDelivered);
        ASSERT_TRUE(simulator->waitForCalls(1, 2000));
        const sim::CallRecord record = simulator->calls().at(0);
        EXPECT_EQ(record.dialed, dialed);
        EXPECT_EQ(view.displayHistory().back(), std::string(number) == "0" ? "0" : "2P1");
        if (std::string(dialed) != "0")
            continue;
        ASSERT_EQ(record.breakMs.size(), 10u);
        ASSERT_EQ(record.makeMs.size(), 9u);
        for (double b : record.breakMs)
            EXPECT_NEAR(b, 62, 4);
        for (double m : record.makeMs)
            EXPECT_NEAR(m, 38, 4);
    }
}

// A dead line is tried ten times and never dialled. A line reversed while the device waits
// off-hook before the first digit is caught before that digit (the party's line is reversed only
// once the number would be complete, so the line was ready), then no longer ready at the retries.
TEST_F(Form1OnSimulatorTest, ALineNotReadyEndsTheCallInError)
{
    settings.dial.pulseMode = true;
    for (const bool dead : {true, false}) {
        SCOPED_TRACE(dead ? "dead" : "reversed");
        settings.dial.delayFirstMs = dead ? 20 : 300;
        const std::size_t reported = owner.results().size();
        sim::PartyBehaviour party;
        party.condition = dead ? sim::LineCondition::Dead : sim::LineCondition::Ok;
        party.answerAfterMs.reset();
        Form1& device = openLine({}, party);
        device.GetPhraseList() = {"_SHT"};
        ASSERT_TRUE(device.StartCall("5"));
        std::this_thread::sleep_for(100ms);
        party.condition = sim::LineCondition::Reversed;
        if (!dead)
            simulator->setDefaultBehaviour(party);
        ASSERT_TRUE(waitForResult(10s, reported + 1));
        EXPECT_EQ(owner.results().back().second, kCallError);
        EXPECT_EQ(owner.reasons().back(), dead ? "неисправность" : "полярность!; неисправность");
        const auto history = view.displayHistory();
        EXPECT_EQ(std::count(history.begin(), history.end(), dead ? "неисправность" : "полярность!"), dead ? 10 : 1);
        EXPECT_TRUE(!dead || simulator->calls().empty());
    }
}

// The exchange's log is the judge: a call is delivered exactly when the party heard every byte
// before the delivery marker (all of the message without one). The port's transmit queue runs
// about 0.36 s ahead of the line and a hang-up is confirmed only 200 ms after it happened, so
// neither a queued phrase nor the moment a hang-up is seen may decide.
TEST_F(Form1OnSimulatorTest, DeliveryIsWhatThePartyHeardBeforeTheMarker)
{
    const std::size_t shortBytes = 3456;  // _300: 0.3 s of speech
    const std::size_t longBytes = 23040;  // _LNG: 2 s
    const struct {
        const char* name;
        std::vector<std::string> phrases;
        std::size_t markerBytes;
        std::optional<std::uint32_t> hangUpMs;  // after the answer; speech starts some 200 ms in
        std::uint32_t expected;
    } cases[] = {
        {"hung up 0.45 s into a 2 s message before the marker", {"_LNG", "____", "_SHT"}, longBytes, 450, kCallHungUp},
        {"hung up with the marker queued, not yet sent", {"_300", "____", "_LNG"}, shortBytes, 350, kCallHungUp},
        {"hung up after the marker was sent", {"_300", "____", "_LNG"}, shortBytes, 850, kCallDelivered},
        // Some 100 ms before the end: the hang-up is confirmed only after the port has sent it all.
        {"hung up during the last phrase, no marker", {"_300", "_300"}, 2 * shortBytes, 700, kCallHungUp},
        {"listened to the end", {"_300", "____", "_SHT"}, shortBytes, std::nullopt, kCallDelivered},
    };
    settings.dial.pulseMode = false;
    sim::SimOptions options;
    options.realTime = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::PartyBehaviour party;
        party.answerAfterMs = 0;
        party.hangUpAfterMs = c.hangUpMs;
        const std::size_t reported = owner.results().size();
        Form1& device = openLine(options, party);
        ASSERT_TRUE(simulator->setBehaviour("5", party));
        device.GetPhraseList() = c.phrases;
        ASSERT_TRUE(device.StartCall("5"));
        ASSERT_TRUE(waitForResult(8s, reported + 1));
        ASSERT_TRUE(simulator->waitForCalls(1, 2000));
        const sim::CallRecord call = simulator->calls().at(0);
        const bool heardAll = call.partyHeardBytes >= c.markerBytes;
        EXPECT_EQ(heardAll, c.expected == kCallDelivered) << call.describe();
        EXPECT_EQ(owner.results().back().second, heardAll ? kCallDelivered : kCallHungUp) << call.describe();
        EXPECT_EQ(owner.reasons().back(), "");
    }
}

TEST_F(Form1OnSimulatorTest, AMessageWithPhrasesMissingFromTheLibraryIsNeverDialled)
{
    sim::PartyBehaviour party;
    party.answerAfterMs = 0;
    Form1& device = openLine({}, party);
    device.GetPhraseList() = {"_SHT", "_XXX", "____", "_YYY", "_XXX"};
    ASSERT_TRUE(device.StartCall("5"));
    ASSERT_TRUE(waitForResult(3s));
    EXPECT_EQ(owner.results().at(0).second, kCallError);
    const std::string reason = "Phonogram library \"" + library.string() + "\": no phrases \"_XXX\", \"_YYY\"";
    EXPECT_EQ(owner.reasons().at(0), reason);
    EXPECT_NE(view.log().find(reason), std::string::npos) << view.log();
    EXPECT_EQ(view.phraseLog(), "");
    // The exchange never saw the line off-hook.
    EXPECT_FALSE(simulator->waitForCalls(1, 400));
    EXPECT_TRUE(device.GetPhraseList().empty());
}

TEST_F(Form1OnSimulatorTest, ShutdownEndsEveryStepOfACallWithinASecond)
{
    const struct {
        const char* step;
        bool pulse;
        std::optional<std::uint32_t> answer;
        std::chrono::milliseconds after;
    } cases[] = {
        {"pulse dialing", true, 0, 400ms},
        {"answer wait", false, std::nullopt, 1000ms},
        {"speech", false, 0, 1500ms},
    };
    for (const auto& c : cases) {
        shutdown.reset();
        settings.dial.pulseMode = c.pulse;
        settings.waitAnswerS = 30;
        settings.ringOffMs = 3000;
        sim::SimOptions options;
        options.realTime = true;
        sim::PartyBehaviour party;
        party.answerAfterMs = c.answer;
        Form1& device = openLine(options, party);
        simulator->setBehaviour("9999", party);
        device.GetPhraseList() = {"_LNG", "_LNG"};
        ASSERT_TRUE(device.StartCall("9999"));
        std::this_thread::sleep_for(c.after);
        const auto start = Clock::now();
        shutdown.set();
        device.Stop();
        EXPECT_LT(Clock::now() - start, 1s) << c.step;
        EXPECT_TRUE(owner.results().empty()) << c.step;
        EXPECT_FALSE(simulator->line("SIM1")->offHook()) << c.step;
    }
}

TEST_F(Form1OnSimulatorTest, AnAdapterPulledOutDuringSpeechEndsTheCallInError)
{
    settings.dial.pulseMode = false;
    sim::SimOptions options;
    options.realTime = true;
    sim::PartyBehaviour party;
    party.answerAfterMs = 0;
    Form1& device = openLine(options, party);
    simulator->setBehaviour("5", party);
    device.GetPhraseList() = {"_LNG", "_LNG"};
    ASSERT_TRUE(device.StartCall("5"));
    test::waitUntil([&] { return view.phraseLog().find("_LNG\r\n_LNG") != std::string::npos; }, 3s);
    simulator->line("SIM1")->unplug();
    ASSERT_TRUE(waitForResult(2s));
    EXPECT_EQ(owner.results().at(0).second, kCallError) << view.log();
}

}  // namespace
}  // namespace peltra::line
