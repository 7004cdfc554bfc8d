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
using test::PulseTiming;
using Clock = std::chrono::steady_clock;

SimOptions fast(std::uint32_t digitTimeoutMs = 100)
{
    SimOptions options;
    options.digitTimeoutMs = digitTimeoutMs;
    return options;
}

PartyBehaviour answering(std::optional<std::uint32_t> afterMs)
{
    PartyBehaviour behaviour;
    behaviour.answerAfterMs = afterMs;
    return behaviour;
}

std::unique_ptr<SimLine> openLine(Simulator& simulator, const std::string& name)
{
    int error = -1;
    auto line = simulator.openLine(name, error);
    EXPECT_TRUE(line) << name << " errno " << error;
    return line;
}

// Hangs up and returns the call that ends (the simulator's last call).
CallRecord hangUpAndLog(Simulator& simulator, LineDriver& driver)
{
    const std::size_t before = simulator.calls().size();
    EXPECT_TRUE(driver.onHook());
    EXPECT_TRUE(simulator.waitForCalls(before + 1, 3000));
    const auto calls = simulator.calls();
    return calls.empty() ? CallRecord{} : calls.back();
}

// ---- Ports ----------------------------------------------------------------------------------

TEST(SimulatorPorts, OpensItsOwnNamesInAnyCaseAndNothingElse)
{
    Simulator simulator(2, fast());
    struct Case {
        const char* name;
        int error;
        const char* opened;
    };
    const Case cases[] = {
        {"SIM1", 0, "SIM1"}, {"sim2", 0, "SIM2"}, {"Sim1", 0, "SIM1"},
        {"SIM3", ENOENT, ""}, {"SIM0", ENOENT, ""}, {"SIM01", ENOENT, ""}, {"SIM", ENOENT, ""},
        {"SIM1x", ENOENT, ""}, {"COM1", ENOENT, ""}, {"", ENOENT, ""}, {"SIM-1", ENOENT, ""},
        {"SIM99999999999999999999", ENOENT, ""},
    };
    for (const Case& c : cases) {
        int error = -1;
        const auto port = simulator.open(c.name, error);
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(port != nullptr, c.error == 0) << c.name;
        if (port) {
            EXPECT_EQ(port->name(), c.opened);
        }
    }
    EXPECT_EQ(simulator.candidateNames(), (std::vector<std::string>{"SIM1", "SIM2"}));
}

TEST(SimulatorPorts, AnOpenNameIsBusyUntilItsPortIsDestroyed)
{
    Simulator simulator(1, fast());
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
    EXPECT_FALSE(second->unplugged());
    bool carrier = false;
    EXPECT_TRUE(second->readCarrier(carrier));
    EXPECT_TRUE(carrier);
}

// ---- Hook ----------------------------------------------------------------------------------

TEST(SimLineHook, OffHookExactlyWhileDtrIsDroppedAndRtsRaised)
{
    Simulator simulator(1, fast());
    auto line = openLine(simulator, "SIM1");
    EXPECT_FALSE(line->offHook());  // opens with both raised
    struct Case {
        bool dtr;
        bool rts;
        bool offHook;
    };
    const Case cases[] = {{true, true, false}, {false, true, true}, {false, false, false}, {true, false, false}, {false, true, true}};
    for (const Case& c : cases) {
        ASSERT_TRUE(line->setDtr(c.dtr));
        ASSERT_TRUE(line->setRts(c.rts));
        EXPECT_EQ(line->offHook(), c.offHook) << "DTR " << c.dtr << " RTS " << c.rts;
    }
}

TEST(SimLineHook, ShortOnHookIsADialBreakAndALongOneEndsTheCall)
{
    Simulator simulator(1, fast(5000));
    auto line = openLine(simulator, "SIM1");
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
    ASSERT_TRUE(driver.onHook());
    ASSERT_TRUE(simulator.waitForCalls(2, 2000));
    EXPECT_EQ(simulator.calls()[1].dialed, "");
    const CallRecord call = simulator.calls().front();
    EXPECT_EQ(call.dialed, "1");
    ASSERT_EQ(call.breakMs.size(), 1u);
    EXPECT_LE(call.breakMs[0], test::msSince(breakFrom, breakTo));
    EXPECT_GE(call.breakMs[0], 120);
    ASSERT_TRUE(call.callerHangupMs);
    EXPECT_GE(*call.callerHangupMs, test::msSince(started, hangupFrom) - 0.01);
    EXPECT_LE(*call.callerHangupMs, test::msSince(start, hangupTo) + 0.01);
}

// ---- Pulse dialing ------------------------------------------------------------------------------

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
    simulator.setDefaultBehaviour(answering(std::nullopt));
    struct Case {
        const char* port;
        const char* digits;
        std::size_t breaks;
    };
    const Case cases[] = {{"SIM1", "1234567", 28}, {"SIM2", "0", 10}};

    // Both lines dial at once, as two lines of a station do.
    PulseTiming timing[2];
    std::unique_ptr<SimLine> lines[2];
    std::thread dialers[2];
    for (int i = 0; i < 2; ++i) {
        lines[i] = openLine(simulator, cases[i].port);
        dialers[i] = std::thread([&, i] {
            LineDriver driver(*lines[i]);
            EXPECT_TRUE(driver.offHook());
            EXPECT_TRUE(driver.dialPulses(cases[i].digits, 320, timing[i]));
            EXPECT_TRUE(driver.onHook());
        });
    }
    for (std::thread& dialer : dialers)
        dialer.join();
    ASSERT_TRUE(simulator.waitForCalls(2, 3000));

    for (int i = 0; i < 2; ++i) {
        const Case& c = cases[i];
        CallRecord call;
        for (const CallRecord& r : simulator.calls())
            if (r.port == c.port)
                call = r;
        EXPECT_EQ(call.dialed, c.digits);
        EXPECT_EQ(call.pulses(), c.breaks);
        EXPECT_EQ(call.makeMs.size(), c.breaks - std::string(c.digits).size());
        expectWithin(call.breakMs, timing[i].breaks, "break");
        expectWithin(call.makeMs, timing[i].makes, "make");
        // Measured against what was really sent: on a loaded machine the sender's own timing
        // drifts from the nominal 62/38 ms, and the exchange must follow what it got.
        ASSERT_TRUE(call.breakSpread() && call.makeSpread());
        EXPECT_LT(*call.worstDeviationMs(), 30);
        EXPECT_FALSE(call.answerMs);
        EXPECT_NE(call.describe().find("pulses " + std::to_string(c.breaks) + " break "), std::string::npos);
    }
}

// ---- Tone dialing --------------------------------------------------------------------------

TEST(SimToneDialing, EverySymbolIsRecognisedInOrder)
{
    struct Case {
        const char* dial;
        const char* dialed;
    };
    const Case cases[] = {
        {"0123456789*#ABCD", "0123456789*#ABCD"},
        {"1P2", "12"},
        {"9P8W812 123-45-67", "98812123" "4567"},
        {"55", "55"},
    };
    Simulator simulator(1, fast(5000));
    simulator.setDefaultBehaviour(answering(std::nullopt));
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    for (const Case& c : cases) {
        ASSERT_TRUE(driver.offHook());
        ASSERT_TRUE(driver.dialTones(c.dial));
        const CallRecord call = hangUpAndLog(simulator, driver);
        EXPECT_EQ(call.dialed, c.dialed) << c.dial;
        EXPECT_EQ(call.pulses(), 0u);
        EXPECT_FALSE(call.completeMs);  // hung up long before the digit time-out
    }
}

TEST(SimToneDialing, PulseAndToneDigitsJoinInOneNumber)
{
    Simulator simulator(1, fast(5000));
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    PulseTiming timing;
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialPulses("2", 300, timing));
    ASSERT_TRUE(driver.dialTones("34"));
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.dialed, "234");
    EXPECT_EQ(call.pulses(), 2u);
}

// ---- Numbers -------------------------------------------------------------------------------

TEST(SimNumbers, RegisteredNumberCompletesAtOnceAndLaterDigitsAreNotDialing)
{
    Simulator simulator(1, fast(5000));
    ASSERT_TRUE(simulator.setBehaviour("12", answering(std::nullopt)));
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("123"));
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.dialed, "12");
    ASSERT_TRUE(call.completeMs);
    EXPECT_LT(*call.completeMs, 100);
}

TEST(SimNumbers, OnlyDialSymbolsMakeARegisteredNumber)
{
    Simulator simulator(1, fast());
    EXPECT_FALSE(simulator.setBehaviour("", {}));
    EXPECT_FALSE(simulator.setBehaviour("12-34", {}));
    EXPECT_FALSE(simulator.setBehaviour("12a", {}));
    EXPECT_TRUE(simulator.setBehaviour("*12#AD", {}));
}

TEST(SimNumbers, UnregisteredNumberCompletesAfterTheDigitTimeoutWithTheDefaultParty)
{
    Simulator simulator(1, fast(150));
    simulator.setDefaultBehaviour(answering(50));
    ASSERT_TRUE(simulator.setBehaviour("777", answering(std::nullopt)));
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    const auto from = Clock::now();
    ASSERT_TRUE(driver.dialTones("77"));
    const auto changes = driver.watchCarrier(from, 400, true);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_FALSE(changes[0].on);
    EXPECT_GE(changes[0].atMs, 199);
    EXPECT_LE(changes[0].atMs, 280);
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.dialed, "77");
    ASSERT_TRUE(call.completeMs && call.answerMs);
    EXPECT_NEAR(*call.answerMs - *call.completeMs, 50, 1);
}

TEST(SimNumbers, WithoutAnyDigitTheNumberNeverCompletes)
{
    Simulator simulator(1, fast(50));
    simulator.setDefaultBehaviour(answering(0));
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    EXPECT_FALSE(driver.waitCarrier(false, 300));
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.dialed, "");
    EXPECT_FALSE(call.completeMs);
    EXPECT_EQ(call.describe().substr(0, 12), "dialed none\n");
}

// ---- Behaviours ------------------------------------------------------------------------------

struct BehaviourCase {
    const char* name;
    PartyBehaviour party;
    std::uint32_t watchMs;
    std::vector<CarrierChange> expected;  // from the moment the number was dialled
    std::optional<double> answerAfterMs;
    std::optional<double> hangUpAfterMs;
};

PartyBehaviour party(LineCondition condition, std::optional<std::uint32_t> answerMs,
                     std::optional<std::uint32_t> hangUpMs = std::nullopt, bool pulse = false,
                     std::uint32_t pulseMs = 300, std::vector<Flicker> flickers = {})
{
    PartyBehaviour p;
    p.condition = condition;
    p.answerAfterMs = answerMs;
    p.hangUpAfterMs = hangUpMs;
    p.pulseReversal = pulse;
    p.pulseReversalMs = pulseMs;
    p.flickers = std::move(flickers);
    return p;
}

TEST(SimBehaviours, CarrierFollowsTheParty)
{
    using LC = LineCondition;
    const BehaviourCase cases[] = {
        {"answers after a delay", party(LC::Ok, 150), 400, {{150, false}}, 150, {}},
        {"never answers", party(LC::Ok, std::nullopt), 300, {}, {}, {}},
        {"hangs up after listening", party(LC::Ok, 80, 150), 400, {{80, false}, {230, true}}, 80, 150},
        {"answers with a short reversal", party(LC::Ok, 80, std::nullopt, true, 120), 400, {{80, false}, {200, true}}, 80, {}},
        {"glitches while ringing and listening",
         party(LC::Ok, 200, std::nullopt, false, 300, {{50, 60}, {300, 70}}),
         500,
         {{50, false}, {110, true}, {200, false}, {300, true}, {370, false}},
         200,
         {}},
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
            // The line is idle again: normal polarity.
            EXPECT_TRUE(driver.waitCarrier(true, 1000));
        });
    }
    for (std::thread& caller : callers)
        caller.join();

    ASSERT_TRUE(simulator.waitForCalls(count, 3000));
    for (const CallRecord& call : simulator.calls()) {
        const BehaviourCase& c = cases[std::stoul(call.dialed) - 1];
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(call.completeMs);
        EXPECT_EQ(call.answerMs.has_value(), c.answerAfterMs.has_value());
        if (call.answerMs && c.answerAfterMs) {
            EXPECT_NEAR(*call.answerMs - *call.completeMs, *c.answerAfterMs, 1);
        }
        EXPECT_EQ(call.partyHangupMs.has_value(), c.hangUpAfterMs.has_value());
        if (call.partyHangupMs && call.answerMs && c.hangUpAfterMs) {
            EXPECT_NEAR(*call.partyHangupMs - *call.answerMs, *c.hangUpAfterMs, 1);
        }
    }
}

TEST(SimBehaviours, DeadLineHasNoCarrierUntilItIsMended)
{
    Simulator simulator(1, fast());
    simulator.setDefaultBehaviour(party(LineCondition::Dead, 0));
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    bool carrier = true;
    ASSERT_TRUE(line->readCarrier(carrier));
    EXPECT_FALSE(carrier);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("5"));
    EXPECT_FALSE(driver.waitCarrier(true, 300));  // nothing comes over a dead line
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_TRUE(call.completeMs);
    EXPECT_FALSE(call.answerMs);

    line->carrierChanged().reset();
    simulator.setDefaultBehaviour(party(LineCondition::Ok, 0));
    EXPECT_TRUE(line->carrierChanged().wait(1000));
    ASSERT_TRUE(line->readCarrier(carrier));
    EXPECT_TRUE(carrier);
}

TEST(SimBehaviours, ReversedLineShowsNoCarrierWhileIdleAndDialing)
{
    Simulator simulator(1, fast(100));
    simulator.setDefaultBehaviour(party(LineCondition::Reversed, 100));
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    bool carrier = true;
    ASSERT_TRUE(line->readCarrier(carrier));
    EXPECT_FALSE(carrier);
    ASSERT_TRUE(driver.offHook());
    const auto from = Clock::now();
    ASSERT_TRUE(driver.dialTones("5"));
    // Time-out 100 ms, answer 100 ms later: the reversal makes the polarity normal.
    const auto changes = driver.watchCarrier(from, 350, false);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].on);
    EXPECT_GE(changes[0].atMs, 199);
    EXPECT_LE(changes[0].atMs, 260);
    hangUpAndLog(simulator, driver);
    EXPECT_TRUE(driver.waitCarrier(false, 500));
}

// ---- Ends of calls -------------------------------------------------------------------------

TEST(SimCalls, CallerHangingUpBeforeTheAnswerEndsTheCallAndTheAnswerNeverComes)
{
    Simulator simulator(1, fast());
    ASSERT_TRUE(simulator.setBehaviour("5", party(LineCondition::Ok, 300)));
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    const auto from = Clock::now();
    ASSERT_TRUE(driver.dialTones("5"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_FALSE(call.answerMs);
    ASSERT_TRUE(call.callerHangupMs);
    EXPECT_GE(*call.callerHangupMs, 50);
    EXPECT_TRUE(driver.watchCarrier(from, 450, true).empty());
    EXPECT_NE(call.describe().find("\nno answer\n"), std::string::npos);
}

TEST(SimCalls, DestroyingAnOpenLineEndsItsCall)
{
    Simulator simulator(1, fast());
    auto line = openLine(simulator, "SIM1");
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("42"));
    line.reset();
    ASSERT_TRUE(simulator.waitForCalls(1, 2000));
    const CallRecord call = simulator.calls().front();
    EXPECT_EQ(call.dialed, "42");
    EXPECT_TRUE(call.callerHangupMs);
    EXPECT_FALSE(call.unplugged);
    EXPECT_TRUE(openLine(simulator, "SIM1"));
}

TEST(SimCalls, LinesOutlivingTheSimulatorFailEveryOperation)
{
    auto simulator = std::make_unique<Simulator>(1, fast());
    auto line = openLine(*simulator, "SIM1");
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    simulator.reset();

    EXPECT_TRUE(line->unplugged());
    EXPECT_FALSE(line->offHook());
    errno = 0;
    EXPECT_FALSE(line->setDtr(true));
    EXPECT_EQ(errno, EIO);
    bool carrier = false;
    errno = 0;
    EXPECT_FALSE(line->readCarrier(carrier));
    EXPECT_EQ(errno, EIO);
    const std::uint8_t byte = 0x55;
    EXPECT_FALSE(line->startWrite({&byte, 1}));
    EXPECT_TRUE(line->carrierChanged().wait(0));
}

TEST(SimCalls, CallsAreNumberedInOrderOfEnding)
{
    Simulator simulator(2, fast());
    auto first = openLine(simulator, "SIM1");
    auto second = openLine(simulator, "SIM2");
    LineDriver one(*first);
    LineDriver two(*second);
    ASSERT_TRUE(one.offHook());
    ASSERT_TRUE(two.offHook());
    ASSERT_TRUE(two.dialTones("2"));
    hangUpAndLog(simulator, two);
    ASSERT_TRUE(one.dialTones("1"));
    hangUpAndLog(simulator, one);
    const auto calls = simulator.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].callNumber, 1u);
    EXPECT_EQ(calls[0].port, "SIM2");
    EXPECT_EQ(calls[0].dialed, "2");
    EXPECT_EQ(calls[1].callNumber, 2u);
    EXPECT_EQ(calls[1].port, "SIM1");
}

// ---- Call record text ------------------------------------------------------------------------

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
    EXPECT_EQ(full.describe(),
              "dialed 31\n"
              "port SIM1\n"
              "pulses 4 break 61.6/62.1/62.9 make 37.6/38.0/38.4 worst 0.9\n"
              "complete 4500 ms\n"
              "answer 5021 ms\n"
              "party hangup 9000 ms\n"
              "caller hangup 9801 ms\n"
              "heard 86400 bytes\n"
              "party heard 80000 bytes\n"
              "underruns 2\n"
              "recording /tmp/call.wav\n");

    CallRecord bare;
    bare.port = "SIM2";
    bare.dialed = "1";
    bare.breakMs = {70.0};
    bare.callerHangupMs = 300;
    bare.unplugged = true;
    bare.recording = "/x/y.wav";
    bare.recordingError = "cannot create a file in \"/x\": No such file or directory";
    EXPECT_EQ(bare.describe(),
              "dialed 1\n"
              "port SIM2\n"
              "pulses 1 break 70.0/70.0/70.0 make none worst 8.0\n"
              "no answer\n"
              "caller hangup 300 ms\n"
              "unplugged\n"
              "heard 0 bytes\n"
              "party heard 0 bytes\n"
              "underruns 0\n"
              "recording failed cannot create a file in \"/x\": No such file or directory\n");
}

}  // namespace
}  // namespace peltra::sim
