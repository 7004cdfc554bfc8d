// The simulated adapter and exchange: port names, hook, pulse and tone dialing, party behaviours, the
// transmit side (pacing, underruns, cancel and purge, unplugging, recordings) and the demodulator.
#include "sim/Simulator.h"

#include "line/Modulator.h"
#include "sim/Demodulator.h"
#include "sim/DtmfReceiver.h"
#include "sim/LineDriver.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

// Designated initializers name only the fields a case sets; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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

SimOptions fast(std::uint32_t digitTimeoutMs = 100, bool realTime = false)
{
    return {.realTime = realTime, .digitTimeoutMs = digitTimeoutMs};
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

    // Off-hook exactly while DTR is dropped and RTS raised; a port opens with both raised.
    EXPECT_FALSE(second->offHook());
    for (const auto& [dtr, rts, offHook] : {std::tuple{true, true, false}, {false, true, true}, {false, false, false},
                                            {true, false, false}, {false, true, true}}) {
        ASSERT_TRUE(second->setDtr(dtr) && second->setRts(rts));
        EXPECT_EQ(second->offHook(), offHook) << "DTR " << dtr << " RTS " << rts;
    }

    for (const auto& [number, accepted] : {std::pair{"", false}, {"12-34", false}, {"12a", false}, {"*12#AD", true}})
        EXPECT_EQ(simulator.setBehaviour(number, {}), accepted) << number;
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
    for (int i = 0; i < 2; ++i)
        lines[i] = openLine(simulator, "SIM" + std::to_string(i + 1));
    for (int i = 0; i < 2; ++i) {
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
        // Against what was really sent: on a loaded machine the sender drifts from the nominal 62/38 ms.
        EXPECT_LT(call.worstDeviationMs().value_or(99), 30);
        EXPECT_FALSE(call.answerMs);
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
    std::unique_ptr<SimLine> lines[count];
    for (std::size_t n = 0; n < count; ++n) {
        ASSERT_TRUE(simulator.setBehaviour(std::to_string(n + 1), cases[n].party));
        lines[n] = openLine(simulator, "SIM" + std::to_string(n + 1));
    }
    std::vector<std::thread> callers;
    for (std::size_t n = 0; n < count; ++n) {
        const BehaviourCase& c = cases[n];
        callers.emplace_back([&c, &line = *lines[n], number = std::to_string(n + 1)] {
            SCOPED_TRACE(c.name);
            LineDriver driver(line);
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
    bool carrier = true;  // a call over a dead line is the party table's
    ASSERT_TRUE(line->readCarrier(carrier));
    EXPECT_FALSE(carrier);

    // Reversed: no carrier while idle and dialing; the answer's reversal makes it normal. "5" only
    // starts the listed "55", so it completes at the digit time-out, with the default party.
    simulator.setDefaultBehaviour(party(LC::Reversed, 100));
    ASSERT_TRUE(simulator.setBehaviour("55", party(LC::Ok, std::nullopt)));
    ASSERT_TRUE(driver.offHook());
    const auto from = Clock::now();
    ASSERT_TRUE(driver.dialTones("5"));
    const auto changes = driver.watchCarrier(from, 350, false);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].on);
    EXPECT_GE(changes[0].atMs, 199);  // time-out 100 ms, answer 100 ms later
    EXPECT_LE(changes[0].atMs, 260);
    const CallRecord call = test::hangUpAndLog(simulator, driver);
    ASSERT_TRUE(call.completeMs && call.answerMs);
    EXPECT_NEAR(*call.answerMs - *call.completeMs, 100, 1);
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
    ASSERT_TRUE(driver.offHook() && driver.dialTones("5"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const CallRecord early = test::hangUpAndLog(*simulator, driver);
    EXPECT_FALSE(early.answerMs);
    EXPECT_GE(early.callerHangupMs.value_or(0), 50);
    EXPECT_TRUE(driver.watchCarrier(from, 450, true).empty());

    // Destroying an open line ends its call.
    ASSERT_TRUE(otherDriver.dialTones("42"));
    other.reset();
    ASSERT_TRUE(simulator->waitForCalls(2, 2000));
    const auto calls = simulator->calls();
    EXPECT_EQ(std::tuple(calls[0].callNumber, calls[0].port, calls[1].callNumber, calls[1].port, calls[1].dialed),
              std::tuple(1u, "SIM1", 2u, "SIM2", "42"));
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
    const CallRecord full{.port = "SIM1", .dialed = "31", .breakMs = {61.8, 62.9, 62.0, 61.6}, .makeMs = {37.6, 38.4},
                          .completeMs = 4500.4, .answerMs = 5021.2, .partyHangupMs = 9000, .callerHangupMs = 9800.6,
                          .bytesHeard = 86400, .partyHeardBytes = 80000, .underruns = 2, .recording = "/tmp/call.wav"};
    EXPECT_EQ(full.describe(), "dialed 31\nport SIM1\npulses 4 break 61.6/62.1/62.9 make 37.6/38.0/38.4 worst 0.9\n"
                               "complete 4500 ms\nanswer 5021 ms\nparty hangup 9000 ms\ncaller hangup 9801 ms\n"
                               "heard 86400 bytes\nparty heard 80000 bytes\nunderruns 2\nrecording /tmp/call.wav\n");
    const CallRecord bare{.port = "SIM2", .dialed = "", .breakMs = {70.0}, .callerHangupMs = 300, .unplugged = true,
                          .recording = "/x/y.wav", .recordingError = "cannot create a file"};
    EXPECT_EQ(bare.describe(), "dialed none\nport SIM2\npulses 1 break 70.0/70.0/70.0 make none worst 8.0\nno answer\n"
                               "caller hangup 300 ms\nunplugged\nheard 0 bytes\nparty heard 0 bytes\nunderruns 0\n"
                               "recording failed cannot create a file\n");
}


using test::hangUpAndLog;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

// Waits until the transmit queue is empty; false after timeoutMs.
bool waitDrained(SimLine& line, std::uint32_t timeoutMs)
{
    const auto start = Clock::now();
    while (line.transmitQueued() != 0) {
        if (Clock::now() - start > milliseconds(timeoutMs))
            return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

TEST(SimTransmit, RealTimePortPacesWritesCancelsPurgesAndUnplugs)
{
    Simulator simulator(1, fast(100, true));
    auto line = openLine(simulator);
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());

    const Bytes second(11520, 0x55);
    const auto start = Clock::now();
    ASSERT_TRUE(line->startWrite(second));
    // The write is done once its last byte is in the 4096-byte queue: after 7424 bytes left.
    ASSERT_TRUE(line->writeDone().wait(3000));
    const double doneMs = test::msSince(start, Clock::now());
    EXPECT_GE(doneMs, 7424.0 / 11.52 - 1);
    EXPECT_LE(doneMs, 7424.0 / 11.52 + 60);
    EXPECT_EQ(std::pair(line->writeOutcome().written, line->writeOutcome().error), std::pair(second.size(), 0));
    EXPECT_GT(line->transmitQueued(), 3000u);

    ASSERT_TRUE(waitDrained(*line, 3000));
    const double drainedMs = test::msSince(start, Clock::now());
    EXPECT_GE(drainedMs, 1000 - 1);
    EXPECT_LE(drainedMs, 1000 + 60);

    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.bytesHeard, second.size());
    EXPECT_EQ(call.underruns, 0u);

    // Cancel drops what is not queued; a purge silences the line.
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(line->startWrite(second));

    errno = 0;
    EXPECT_FALSE(line->startWrite(second));  // one write at a time
    EXPECT_EQ(errno, EBUSY);
    std::this_thread::sleep_for(milliseconds(100));
    line->cancelWrite();
    EXPECT_TRUE(line->writeDone().isSet());
    const platform::WriteOutcome outcome = line->writeOutcome();
    EXPECT_EQ(outcome.error, ECANCELED);
    // The queue's 4096 bytes and what drained in 100 ms (1152).
    EXPECT_GE(outcome.written, 4096u + 1152u);
    EXPECT_LE(outcome.written, 4096u + 1152u + 700u);

    // What was queued is still being sent, until the purge.
    EXPECT_GT(line->transmitQueued(), 3000u);
    ASSERT_TRUE(line->purgeTransmit());
    EXPECT_EQ(line->transmitQueued(), 0u);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(line->transmitQueued(), 0u) << "stays silent";
    const CallRecord cancelled = hangUpAndLog(simulator, driver);
    EXPECT_GE(cancelled.bytesHeard, 1152u);
    EXPECT_LE(cancelled.bytesHeard, 1152u + 700u);

    // A purge with a write pending lets the write refill the queue.
    ASSERT_TRUE(line->startWrite(second));
    ASSERT_TRUE(line->purgeTransmit());
    EXPECT_EQ(line->transmitQueued(), 4096u);
    EXPECT_FALSE(line->writeDone().isSet());
    line->cancelWrite();
    ASSERT_TRUE(line->purgeTransmit());
    EXPECT_EQ(line->transmitQueued(), 0u);
    EXPECT_EQ(line->writeOutcome().error, ECANCELED);

    // Unplugging fails the pending write and every later operation.
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(line->startWrite(second));
    std::this_thread::sleep_for(milliseconds(50));
    line->carrierChanged().reset();
    line->unplug();

    EXPECT_TRUE(line->writeDone().isSet());
    EXPECT_EQ(line->writeOutcome().error, EIO);
    EXPECT_GE(line->writeOutcome().written, 4096u);
    EXPECT_LT(line->writeOutcome().written, second.size());
    EXPECT_TRUE(line->carrierChanged().isSet());
    EXPECT_FALSE(line->offHook());

    bool carrier = false;
    const std::uint8_t byte = 0x55;
    const std::pair<const char*, std::function<bool()>> operations[] = {
        {"setDtr", [&] { return line->setDtr(false); }},
        {"setRts", [&] { return line->setRts(true); }},
        {"readCarrier", [&] { return line->readCarrier(carrier); }},
        {"startWrite", [&] { return line->startWrite({&byte, 1}); }},
        {"purgeTransmit", [&] { return line->purgeTransmit(); }},
    };
    for (const auto& [name, run] : operations) {
        errno = 0;
        EXPECT_FALSE(run()) << name;
        EXPECT_EQ(errno, EIO) << name;
    }
    line->cancelWrite();  // harmless

    ASSERT_TRUE(simulator.waitForCalls(3, 2000));
    const CallRecord unplugged = simulator.calls().back();
    EXPECT_TRUE(unplugged.unplugged);
    EXPECT_GE(unplugged.callerHangupMs.value_or(0), 50);
}

TEST(SimTransmit, OnlyAWriterPausingAfterTheAnswerCausesUnderruns)
{
    for (const bool pausing : {true, false}) {
        SCOPED_TRACE(pausing ? "pausing" : "keeping the queue fed");
        Simulator simulator(1, fast(100, true));
        auto line = openLine(simulator);
        LineDriver driver(*line);
        ASSERT_TRUE(simulator.setBehaviour("1", test::party(LineCondition::Ok, 100)));
        ASSERT_TRUE(driver.offHook() && driver.dialTones("1"));
        ASSERT_TRUE(driver.waitCarrier(false, 2000));
        const Bytes phrase(1152, 0x55);  // 100 ms
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(driver.write(phrase));
            if (pausing) {
                ASSERT_TRUE(waitDrained(*line, 2000));
                std::this_thread::sleep_for(milliseconds(20));
            }
        }
        ASSERT_TRUE(waitDrained(*line, 3000));
        const CallRecord call = hangUpAndLog(simulator, driver);
        EXPECT_EQ(call.underruns, pausing ? 2u : 0u);  // the last drain ends the message
        EXPECT_EQ(call.partyHeardBytes, 3 * phrase.size());
        EXPECT_GT(call.bytesHeard, call.partyHeardBytes) << "the dialing tone was heard before the answer";
    }
}

TEST(SimTransmit, PartyHearsOnlyWhatIsSentWhileItListens)
{
    Simulator simulator(1, fast());
    ASSERT_TRUE(simulator.setBehaviour("1", test::party(LineCondition::Ok, 300, 100)));
    auto line = openLine(simulator);
    LineDriver driver(*line);
    const Bytes phrase(1152, 0x55);
    // Sent with the loop open, while the exchange still holds the call: lost.
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.onHook());
    ASSERT_TRUE(driver.write(phrase));
    ASSERT_TRUE(simulator.waitForCalls(1, 2000));
    EXPECT_EQ(simulator.calls().front().bytesHeard, 0u);

    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("1"));
    // Without pacing every write completes at once, a minute as well.
    const Bytes minute(11520 * 60, 0x55);
    const auto start = Clock::now();
    ASSERT_TRUE(line->startWrite(minute));
    EXPECT_TRUE(line->writeDone().isSet());
    EXPECT_LT(test::msSince(start, Clock::now()), 2000);
    EXPECT_EQ(line->transmitQueued(), 0u);
    line->cancelWrite();  // nothing is pending: changes nothing
    EXPECT_EQ(std::pair(line->writeOutcome().written, line->writeOutcome().error), std::pair(minute.size(), 0));
    ASSERT_TRUE(driver.write(phrase));  // before the answer too
    ASSERT_TRUE(driver.waitCarrier(false, 1000));
    ASSERT_TRUE(driver.write(phrase));  // while the party listens
    ASSERT_TRUE(driver.waitCarrier(true, 1000));
    ASSERT_TRUE(driver.write(phrase));  // after it hung up
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.partyHeardBytes, phrase.size());
    EXPECT_GT(call.bytesHeard, minute.size() + 3 * phrase.size());
    ASSERT_TRUE(call.partyHangupMs && call.answerMs);
    EXPECT_NEAR(*call.partyHangupMs - *call.answerMs, 100, 1);
}

// Checks the file is a canonical 8 kHz mono 16-bit WAV, header field by field; returns its sample count.
std::size_t wavSamples(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_GE(file.size(), 44u) << path;
    const auto le = [](std::uint32_t value, int bytes) {
        std::string text;
        for (int i = 0; i < bytes; ++i, value >>= 8)
            text += static_cast<char>(value & 0xFF);
        return text;
    };
    const auto data = static_cast<std::uint32_t>(file.size() - std::min<std::size_t>(file.size(), 44));
    // fmt chunk of 16 bytes: PCM, mono, 8000 Hz, 16000 bytes/s, 2-byte frames of 16 bits.
    EXPECT_EQ(file.substr(0, 44), "RIFF" + le(36 + data, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) +
                                      le(16000, 4) + le(2, 2) + le(16, 2) + "data" + le(data, 4));
    return data / 2;
}

TEST(SimRecording, EachCallIsRecordedAsAPlayableWavFile)
{
    test::TempDir dir;
    SimOptions options = fast();
    options.recordPath = dir / "calls.wav";
    Simulator simulator(1, options);
    auto line = openLine(simulator);
    LineDriver driver(*line);

    // Call 1: a 1 kHz tone of half a second; call 2: tone dialing and 1001 odd bytes.
    const auto speech = line::modulateSpeech(test::bytesOf(test::sine(1000, 8000, 4000)));
    ASSERT_TRUE(speech);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.write(*speech));
    hangUpAndLog(simulator, driver);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("12"));
    ASSERT_TRUE(driver.write(Bytes(1001, 0x55)));
    hangUpAndLog(simulator, driver);

    const auto calls = simulator.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].recording, dir / "calls.wav");
    EXPECT_EQ(calls[1].recording, dir / "calls-2.wav");
    for (const CallRecord& call : calls) {
        EXPECT_EQ(call.recordingError, "");
        EXPECT_EQ(wavSamples(call.recording), call.bytesHeard * 25 / 36) << call.recording;
    }
    EXPECT_EQ(calls[0].bytesHeard, speech->size());
    EXPECT_EQ(wavSamples(calls[0].recording), 4000u);

    // A file that cannot be written is reported with the call.
    options.recordPath = dir / "missing" / "call.wav";
    Simulator failing(1, options);
    auto failingLine = openLine(failing);
    LineDriver failingDriver(*failingLine);
    ASSERT_TRUE(failingDriver.offHook() && failingDriver.dialTones("1"));
    const CallRecord call = test::hangUpAndLog(failing, failingDriver);
    EXPECT_NE(call.recordingError, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing" / "call.wav"));
}



double rms(std::span<const std::int16_t> samples)
{
    return std::sqrt(std::inner_product(samples.begin(), samples.end(), samples.begin(), 0.0) /
                     static_cast<double>(samples.size()));
}

// Pearson correlation of two equally long stretches.
double correlation(std::span<const std::int16_t> a, std::span<const std::int16_t> b)
{
    const auto mean = [](auto s) { return std::accumulate(s.begin(), s.end(), 0.0) / static_cast<double>(s.size()); };
    const double ma = mean(a);
    const double mb = mean(b);
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

TEST(Demodulator, SpeechStreamOfASineComesBackAsThatSine)
{
    const std::vector<std::int16_t> original = test::sine(1000, 8000, 8000);
    const auto stream = line::modulateSpeech(test::bytesOf(original));
    ASSERT_TRUE(stream);
    const std::vector<std::int16_t> heard = demodulate(*stream);
    ASSERT_EQ(heard.size(), original.size());

    // Past the first 100 ms, where the integrator settles.
    const std::span<const std::int16_t> tail = std::span(heard).subspan(800);
    EXPECT_NEAR(rms(tail), 8000 / std::sqrt(2.0), 8000 / std::sqrt(2.0) * 0.1);

    // The same waveform half a sample late: each sample is the mean of the modulator's interpolated span.
    std::vector<std::int16_t> halfLate(original.size());
    for (std::size_t n = 1; n < original.size(); ++n)
        halfLate[n] = static_cast<std::int16_t>((original[n] + original[n - 1]) / 2);
    EXPECT_GT(correlation(std::span(halfLate).subspan(800), tail), 0.999);

    // The tone-step stream comes out at half the level; silence settles to quiet.
    const auto tones = line::modulateTones(std::span<const std::int16_t>(original));
    ASSERT_TRUE(tones);
    const std::vector<std::int16_t> tone = demodulate(*tones);
    EXPECT_NEAR(rms(std::span(tone).subspan(800)), 4000 / std::sqrt(2.0), 4000 / std::sqrt(2.0) * 0.1);

    const std::vector<std::int16_t> quiet = demodulate(std::vector<std::uint8_t>(36 * 320, 0x55));  // 1 s of silence
    ASSERT_EQ(quiet.size(), 8000u);
    EXPECT_LT(std::abs(*std::max_element(quiet.begin() + 800, quiet.end(), [](int a, int b) { return std::abs(a) < std::abs(b); })), 50);

    // All zero bits: the level only rises, far past the 16-bit range, and is clamped, not wrapped.
    const std::vector<std::int16_t> rising = demodulate(std::vector<std::uint8_t>(3600, 0x00));
    ASSERT_FALSE(rising.empty());
    EXPECT_EQ(rising.back(), 32767);
    EXPECT_TRUE(std::all_of(rising.begin(), rising.end(), [](std::int16_t s) { return s >= 0; }));
}

TEST(Demodulator, EveryElevenAndAHalfBitsLowFirstGiveOneSampleWhateverThePieces)
{
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 0}, {1, 0}, {2, 1}, {35, 24}, {36, 25}, {37, 25}, {72, 50}, {1000, 694}};
    std::vector<std::uint8_t> stream(1000);
    for (std::size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (const auto& [bytes, samples] : cases)
        EXPECT_EQ(demodulate(std::span(stream).first(bytes)).size(), samples) << bytes;

    // Pushing in odd pieces changes nothing.
    Demodulator pieces;
    std::vector<std::int16_t> out;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min<std::size_t>(at % 7 + 1, stream.size() - at);
        pieces.push(std::span(stream).subspan(at, n), out);
        at += n;
    }
    EXPECT_EQ(out, demodulate(stream));

    // Reset starts a new stream: its first 36 bytes give what they give alone.
    pieces.reset();
    out.clear();
    pieces.push(std::span(stream).first(36), out);
    EXPECT_EQ(out, demodulate(std::span(stream).first(36)));

    // The first bit of each byte is its least significant: 0x00 then 0xF0 make twelve rises if the
    // low bits go first (mean 5200), 8 rises and 4 falls if not (3870).
    const std::vector<std::int16_t> heard = demodulate(std::vector<std::uint8_t>{0x00, 0xF0, 0x00});
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_NEAR(heard[0], 5200, 60);
}

// Every symbol through the adapter is heard in the simulator's tone-dialing test; here what is no digit.
TEST(DtmfReceiver, ASpeechLikeSineOrOneHalfOfAPairIsNoDigit)
{
    DtmfReceiver receiver;
    ASSERT_TRUE(receiver.valid());
    std::string digits;
    receiver.push(test::sine(1000, 8000, 8000), digits);
    receiver.push(test::sine(697, 8000, 8000), digits);
    receiver.push(demodulate(*line::modulateTones(std::span<const std::int16_t>(test::sine(770, 8000, 8000)))), digits);
    EXPECT_EQ(digits, "");
}

}  // namespace
}  // namespace peltra::sim
