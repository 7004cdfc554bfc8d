// The simulated adapter and exchange: port names, hook, pulse and tone dialing, party behaviours.
#include "sim/Simulator.h"

#include "sim/LineDriver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace peltra::sim {
namespace {

using test::Bracket;
using test::CarrierChange;
using test::LineDriver;
using test::openLine;
using test::party;
using test::PulseTiming;
using Clock = std::chrono::steady_clock;
using LC = LineCondition;

SimOptions fast(std::uint32_t digitTimeoutMs = 100)
{
    SimOptions options;
    options.digitTimeoutMs = digitTimeoutMs;
    return options;
}

TEST(SimulatorPorts, OpensItsOwnNamesInAnyCaseOnceAtATime)
{
    Simulator simulator(2, fast());
    const std::pair<const char*, const char*> cases[] = {
        {"sim2", "SIM2"}, {"Sim1", "SIM1"}, {"SIM3", ""}, {"SIM0", ""}, {"SIM01", ""}, {"SIM", ""},
        {"SIM1x", ""},    {"COM1", ""},     {"", ""},     {"SIM-1", ""}, {"SIM99999999999999999999", ""},
    };
    for (const auto& [name, opened] : cases) {
        int error = -1;
        const auto port = simulator.open(name, error);
        EXPECT_EQ(error, *opened ? 0 : ENOENT) << name;
        EXPECT_EQ(port ? port->name() : "", opened) << name;
    }
    EXPECT_EQ(simulator.candidateNames(), (std::vector<std::string>{"SIM1", "SIM2"}));

    // An open name is busy, unplugged or not, until its port is destroyed.
    auto first = openLine(simulator, "SIM1");
    EXPECT_EQ(simulator.line("sim1"), first.get());
    int error = 0;
    EXPECT_FALSE(simulator.open("sim1", error));
    EXPECT_EQ(error, EBUSY);
    first->unplug();
    EXPECT_FALSE(simulator.open("SIM1", error));
    EXPECT_EQ(error, EBUSY);
    first.reset();
    EXPECT_EQ(simulator.line("SIM1"), nullptr);
    auto second = openLine(simulator, "SIM1");
    bool carrier = false;
    EXPECT_TRUE(second->readCarrier(carrier) && carrier && !second->unplugged());

    EXPECT_FALSE(simulator.setBehaviour("", {}));
    EXPECT_FALSE(simulator.setBehaviour("12-34", {}));
    EXPECT_FALSE(simulator.setBehaviour("12a", {}));
    EXPECT_TRUE(simulator.setBehaviour("*12#AD", {}));
}

TEST(SimLineHook, OffHookExactlyWhileDtrIsDroppedAndRtsRaised)
{
    Simulator simulator(1, fast());
    auto line = openLine(simulator);
    EXPECT_FALSE(line->offHook());  // opens with both raised
    const bool cases[][3] = {{true, true, false}, {false, true, true}, {false, false, false}, {true, false, false}, {false, true, true}};
    for (const auto& [dtr, rts, offHook] : cases) {
        ASSERT_TRUE(line->setDtr(dtr) && line->setRts(rts));
        EXPECT_EQ(line->offHook(), offHook) << "DTR " << dtr << " RTS " << rts;
    }
}

TEST(SimLineHook, ShortOnHookIsADialBreakAndALongOneEndsTheCall)
{
    Simulator simulator(1, fast(5000));
    auto line = openLine(simulator);
    LineDriver driver(*line);

    const auto start = Clock::now();
    ASSERT_TRUE(driver.offHook());
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto breakFrom = Clock::now();
    ASSERT_TRUE(driver.onHook());
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    ASSERT_TRUE(driver.offHook());
    const auto breakTo = Clock::now();
    EXPECT_FALSE(simulator.waitForCalls(1, 400));  // still the same call

    // 300 ms on-hook is a hang-up: closing the loop after it starts a new call.
    const auto hangupFrom = Clock::now();
    ASSERT_TRUE(driver.onHook());
    const auto hangupTo = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(driver.offHook());
    EXPECT_TRUE(simulator.waitForCalls(1, 100));
    EXPECT_EQ(test::hangUpAndLog(simulator, driver).dialed, "");
    const CallRecord call = simulator.calls().front();
    EXPECT_EQ(call.dialed, "1");
    ASSERT_EQ(call.breakMs.size(), 1u);
    EXPECT_LE(call.breakMs[0], test::msSince(breakFrom, breakTo));
    EXPECT_GE(call.breakMs[0], 120);
    ASSERT_TRUE(call.callerHangupMs);
    EXPECT_GE(*call.callerHangupMs, test::msSince(started, hangupFrom) - 0.01);
    EXPECT_LE(*call.callerHangupMs, test::msSince(start, hangupTo) + 0.01);
}

void expectWithin(const std::vector<double>& measured, const std::vector<Bracket>& sent, const char* what)
{
    ASSERT_EQ(measured.size(), sent.size()) << what;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_GE(measured[i], sent[i].minMs - 0.01) << what << " " << i;
        EXPECT_LE(measured[i], sent[i].maxMs + 0.01) << what << " " << i;
    }
}

TEST(SimPulseDialing, DigitsDecodeAndBreaksAndMakesAreMeasuredAsSent)
{
    Simulator simulator(2, fast(2000));
    simulator.setDefaultBehaviour(party(LC::Ok, std::nullopt));
    const std::pair<const char*, std::size_t> cases[] = {{"1234567", 28}, {"0", 10}};

    // Both lines dial at once, as two lines of a station do.
    PulseTiming timing[2];
    std::unique_ptr<SimLine> lines[2];
    std::thread dialers[2];
    for (int i = 0; i < 2; ++i) {
        lines[i] = openLine(simulator, "SIM" + std::to_string(i + 1));
        dialers[i] = std::thread([&, i] {
            LineDriver driver(*lines[i]);
            EXPECT_TRUE(driver.offHook());
            EXPECT_TRUE(driver.dialPulses(cases[i].first, 320, timing[i]));
            EXPECT_TRUE(driver.onHook());
        });
    }
    for (std::thread& dialer : dialers)
        dialer.join();
    ASSERT_TRUE(simulator.waitForCalls(2, 3000));

    for (const CallRecord& call : simulator.calls()) {
        const int i = call.port == "SIM1" ? 0 : 1;
        const auto& [digits, breaks] = cases[i];
        EXPECT_EQ(call.dialed, digits);
        EXPECT_EQ(call.pulses(), breaks);
        expectWithin(call.breakMs, timing[i].breaks, "break");
        expectWithin(call.makeMs, timing[i].makes, "make");
        // Measured against what was really sent: on a loaded machine the sender's own timing
        // drifts from the nominal 62/38 ms, and the exchange must follow what it got.
        EXPECT_LT(call.worstDeviationMs().value_or(99), 30);
        EXPECT_FALSE(call.answerMs);
        EXPECT_NE(call.describe().find("pulses " + std::to_string(breaks) + " break "), std::string::npos);
    }
}

TEST(SimToneDialing, EverySymbolIsRecognisedInOrderAndJoinsPulseDigits)
{
    Simulator simulator(1, fast(5000));
    simulator.setDefaultBehaviour(party(LC::Ok, std::nullopt));
    ASSERT_TRUE(simulator.setBehaviour("12", party(LC::Ok, std::nullopt)));
    auto line = openLine(simulator);
    LineDriver driver(*line);
    const std::pair<const char*, const char*> cases[] = {
        {"0123456789*#ABCD", "0123456789*#ABCD"}, {"1P3", "13"}, {"9P8W812 123-45-67", "988121234567"}, {"55", "55"},
        {"123", "12"},  // a listed number completes at once: later digits are not dialing
    };
    for (const auto& [dial, dialed] : cases) {
        ASSERT_TRUE(driver.offHook());
        ASSERT_TRUE(driver.dialTones(dial));
        const CallRecord call = test::hangUpAndLog(simulator, driver);
        EXPECT_EQ(call.dialed, dialed) << dial;
        EXPECT_EQ(call.pulses(), 0u);
        // Hung up long before the digit time-out: only the listed number completed.
        EXPECT_EQ(call.completeMs.has_value(), call.dialed == "12") << dial;
        EXPECT_LT(call.completeMs.value_or(0), 100);
    }
    PulseTiming timing;
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialPulses("2", 300, timing));
    ASSERT_TRUE(driver.dialTones("34"));
    const CallRecord call = test::hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.dialed, "234");
    EXPECT_EQ(call.pulses(), 2u);
}

TEST(SimNumbers, UnregisteredNumberCompletesAfterTheDigitTimeoutWithTheDefaultParty)
{
    Simulator simulator(1, fast(150));
    simulator.setDefaultBehaviour(party(LC::Ok, 50));
    ASSERT_TRUE(simulator.setBehaviour("777", party(LC::Ok, std::nullopt)));
    auto line = openLine(simulator);
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    const auto from = Clock::now();
    ASSERT_TRUE(driver.dialTones("77"));
    const auto changes = driver.watchCarrier(from, 400, true);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_FALSE(changes[0].on);
    EXPECT_GE(changes[0].atMs, 199);
    EXPECT_LE(changes[0].atMs, 280);
    const CallRecord call = test::hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.dialed, "77");
    ASSERT_TRUE(call.completeMs && call.answerMs);
    EXPECT_NEAR(*call.answerMs - *call.completeMs, 50, 1);

    // Without any digit the number never completes.
    ASSERT_TRUE(driver.offHook());
    EXPECT_FALSE(driver.waitCarrier(false, 300));
    const CallRecord none = test::hangUpAndLog(simulator, driver);
    EXPECT_FALSE(none.completeMs);
    EXPECT_EQ(none.describe().substr(0, 12), "dialed none\n");
}

struct BehaviourCase {
    const char* name;
    PartyBehaviour party;
    std::uint32_t watchMs;
    std::vector<CarrierChange> expected;  // from the moment the number was dialled
    std::optional<double> answerAfterMs;
    std::optional<double> hangUpAfterMs;
};

TEST(SimBehaviours, CarrierFollowsTheParty)
{
    const BehaviourCase cases[] = {
        {"answers after a delay", party(LC::Ok, 150), 400, {{150, false}}, 150, {}},
        {"never answers", party(LC::Ok, std::nullopt), 300, {}, {}, {}},
        {"hangs up after listening", party(LC::Ok, 80, 150), 400, {{80, false}, {230, true}}, 80, 150},
        {"answers with a short reversal", party(LC::Ok, 80, std::nullopt, true, 120), 400, {{80, false}, {200, true}}, 80, {}},
        {"glitches while ringing and listening", party(LC::Ok, 200, std::nullopt, false, 300, {{50, 60}, {300, 70}}), 500,
         {{50, false}, {110, true}, {200, false}, {300, true}, {370, false}}, 200, {}},
        {"dead behind the number", party(LC::Dead, 50), 300, {{0, false}}, {}, {}},
        {"reversed behind the number", party(LC::Reversed, 100), 300, {{0, false}, {100, true}}, 100, {}},
    };
    // Each party on a line of its own, all called at once.
    constexpr std::size_t count = std::size(cases);
    Simulator simulator(count, fast());
    std::vector<std::thread> callers;
    for (std::size_t n = 0; n < count; ++n) {
        const BehaviourCase& c = cases[n];
        const std::string number = std::to_string(n + 1);
        ASSERT_TRUE(simulator.setBehaviour(number, c.party));
        callers.emplace_back([&simulator, &c, number] {
            SCOPED_TRACE(c.name);
            auto line = openLine(simulator, "SIM" + number);
            LineDriver driver(*line);
            EXPECT_TRUE(driver.offHook());
            const auto from = Clock::now();
            EXPECT_TRUE(driver.dialTones(number));
            const auto changes = driver.watchCarrier(from, c.watchMs, true);
            EXPECT_EQ(changes.size(), c.expected.size());
            for (std::size_t i = 0; i < std::min(changes.size(), c.expected.size()); ++i) {
                EXPECT_EQ(changes[i].on, c.expected[i].on) << i;
                EXPECT_GE(changes[i].atMs, c.expected[i].atMs - 1) << i;
                EXPECT_LE(changes[i].atMs, c.expected[i].atMs + 60) << i;
            }
            EXPECT_TRUE(driver.onHook());
            EXPECT_TRUE(driver.waitCarrier(true, 1000));  // idle again: normal polarity
        });
    }
    for (std::thread& caller : callers)
        caller.join();

    ASSERT_TRUE(simulator.waitForCalls(count, 3000));
    for (const CallRecord& call : simulator.calls()) {
        const BehaviourCase& c = cases[std::stoul(call.dialed) - 1];
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(call.completeMs);
        ASSERT_EQ(call.answerMs.has_value(), c.answerAfterMs.has_value());
        if (call.answerMs) {
            EXPECT_NEAR(*call.answerMs - *call.completeMs, *c.answerAfterMs, 1);
        }
        ASSERT_EQ(call.partyHangupMs.has_value(), c.hangUpAfterMs.has_value());
        if (call.partyHangupMs) {
            EXPECT_NEAR(*call.partyHangupMs - *call.answerMs, *c.hangUpAfterMs, 1);
        }
    }
}

TEST(SimBehaviours, IdleCarrierFollowsTheDefaultLine)
{
    Simulator simulator(1, fast(100));
    simulator.setDefaultBehaviour(party(LC::Dead, 0));
    auto line = openLine(simulator);
    LineDriver driver(*line);
    bool carrier = true;
    ASSERT_TRUE(line->readCarrier(carrier));
    EXPECT_FALSE(carrier);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("5"));
    EXPECT_FALSE(driver.waitCarrier(true, 300));  // nothing comes over a dead line
    const CallRecord dead = test::hangUpAndLog(simulator, driver);
    EXPECT_TRUE(dead.completeMs && !dead.answerMs);

    // Reversed: no carrier while idle and dialing; the answer's reversal makes it normal.
    simulator.setDefaultBehaviour(party(LC::Reversed, 100));
    ASSERT_TRUE(driver.offHook());
    const auto from = Clock::now();
    ASSERT_TRUE(driver.dialTones("5"));
    const auto changes = driver.watchCarrier(from, 350, false);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].on);
    EXPECT_GE(changes[0].atMs, 199);  // time-out 100 ms, answer 100 ms later
    EXPECT_LE(changes[0].atMs, 260);
    test::hangUpAndLog(simulator, driver);
    EXPECT_TRUE(driver.waitCarrier(false, 500));

    line->carrierChanged().reset();
    simulator.setDefaultBehaviour(party(LC::Ok, 0));
    EXPECT_TRUE(line->carrierChanged().wait(1000));
    EXPECT_TRUE(driver.waitCarrier(true, 0));
}

TEST(SimCalls, EndsOfCallsAreLoggedInOrder)
{
    auto simulator = std::make_unique<Simulator>(2, fast());
    ASSERT_TRUE(simulator->setBehaviour("5", party(LC::Ok, 300)));
    auto line = openLine(*simulator);
    auto other = openLine(*simulator, "SIM2");
    LineDriver driver(*line);
    LineDriver otherDriver(*other);

    // The caller hanging up before the answer ends the call; the answer never comes.
    ASSERT_TRUE(otherDriver.offHook());
    const auto from = Clock::now();
    const CallRecord early = test::callAndHangUp(*simulator, driver, "5", 50);
    EXPECT_FALSE(early.answerMs);
    EXPECT_GE(early.callerHangupMs.value_or(0), 50);
    EXPECT_TRUE(driver.watchCarrier(from, 450, true).empty());
    EXPECT_NE(early.describe().find("\nno answer\n"), std::string::npos);

    // Destroying an open line ends its call.
    ASSERT_TRUE(otherDriver.dialTones("42"));
    other.reset();
    ASSERT_TRUE(simulator->waitForCalls(2, 2000));
    const auto calls = simulator->calls();
    EXPECT_EQ(calls[0].callNumber, 1u);
    EXPECT_EQ(calls[0].port, "SIM1");
    EXPECT_EQ(calls[1].callNumber, 2u);
    EXPECT_EQ(calls[1].port, "SIM2");
    EXPECT_EQ(calls[1].dialed, "42");
    EXPECT_TRUE(calls[1].callerHangupMs && !calls[1].unplugged);
    EXPECT_TRUE(openLine(*simulator, "SIM2"));

    // Lines outliving the simulator are unplugged (what that does is the transmit test's).
    ASSERT_TRUE(driver.offHook());
    simulator.reset();
    EXPECT_TRUE(line->unplugged());
    EXPECT_FALSE(line->offHook());
    EXPECT_TRUE(line->carrierChanged().wait(0));
}

TEST(CallRecord, DescribeGivesOneFactPerLine)
{
    CallRecord full;
    full.port = "SIM1";
    full.dialed = "31";
    full.breakMs = {61.8, 62.9, 62.0, 61.6};
    full.makeMs = {37.6, 38.4};
    full.completeMs = 4500.4;
    full.answerMs = 5021.2;
    full.partyHangupMs = 9000;
    full.callerHangupMs = 9800.6;
    full.bytesHeard = 86400;
    full.partyHeardBytes = 80000;
    full.underruns = 2;
    full.recording = "/tmp/call.wav";
    EXPECT_EQ(full.describe(), "dialed 31\nport SIM1\npulses 4 break 61.6/62.1/62.9 make 37.6/38.0/38.4 worst 0.9\n"
                               "complete 4500 ms\nanswer 5021 ms\nparty hangup 9000 ms\ncaller hangup 9801 ms\n"
                               "heard 86400 bytes\nparty heard 80000 bytes\nunderruns 2\nrecording /tmp/call.wav\n");

    CallRecord bare;
    bare.port = "SIM2";
    bare.dialed = "1";
    bare.breakMs = {70.0};
    bare.callerHangupMs = 300;
    bare.unplugged = true;
    bare.recording = "/x/y.wav";
    bare.recordingError = "cannot create a file";
    EXPECT_EQ(bare.describe(), "dialed 1\nport SIM2\npulses 1 break 70.0/70.0/70.0 make none worst 8.0\nno answer\n"
                               "caller hangup 300 ms\nunplugged\nheard 0 bytes\nparty heard 0 bytes\nunderruns 0\n"
                               "recording failed cannot create a file\n");
}

}  // namespace
}  // namespace peltra::sim
