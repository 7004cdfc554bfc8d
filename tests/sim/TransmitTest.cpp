// The simulated port's transmit side: pacing, underruns, cancel and purge, unplugging, recordings.
#include "sim/Simulator.h"

#include "line/Modulator.h"
#include "sim/LineDriver.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

namespace peltra::sim {
namespace {

using test::hangUpAndLog;
using test::LineDriver;
using test::openLine;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

SimOptions paced(bool realTime = true)
{
    SimOptions options;
    options.realTime = realTime;
    options.digitTimeoutMs = 100;
    return options;
}

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

// Seizes the line, dials "1" by tone and waits for the answer 100 ms later.
void callAndWaitForAnswer(Simulator& simulator, LineDriver& driver)
{
    ASSERT_TRUE(simulator.setBehaviour("1", test::party(LineCondition::Ok, 100)));
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("1"));
    ASSERT_TRUE(driver.waitCarrier(false, 2000));
}

TEST(SimTransmit, RealTimePortSendsElevenThousandFiveHundredTwentyBytesASecond)
{
    Simulator simulator(1, paced());
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
    EXPECT_EQ(line->writeOutcome().written, second.size());
    EXPECT_EQ(line->writeOutcome().error, 0);
    EXPECT_GT(line->transmitQueued(), 3000u);

    ASSERT_TRUE(waitDrained(*line, 3000));
    const double drainedMs = test::msSince(start, Clock::now());
    EXPECT_GE(drainedMs, 1000 - 1);
    EXPECT_LE(drainedMs, 1000 + 60);

    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.bytesHeard, second.size());
    EXPECT_EQ(call.underruns, 0u);
}

TEST(SimTransmit, OnlyAWriterPausingAfterTheAnswerCausesUnderruns)
{
    for (const bool pausing : {true, false}) {
        SCOPED_TRACE(pausing ? "pausing" : "keeping the queue fed");
        Simulator simulator(1, paced());
        auto line = openLine(simulator);
        LineDriver driver(*line);
        callAndWaitForAnswer(simulator, driver);
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
        EXPECT_NE(call.describe().find(pausing ? "\nunderruns 2\n" : "\nunderruns 0\n"), std::string::npos);
    }
}

TEST(SimTransmit, PartyHearsOnlyWhatIsSentWhileItListens)
{
    Simulator simulator(1, paced(false));
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
    EXPECT_EQ(line->writeOutcome().written, minute.size());
    EXPECT_EQ(line->writeOutcome().error, 0);
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

TEST(SimTransmit, CancelDropsWhatIsNotQueuedAndPurgeSilencesTheLine)
{
    Simulator simulator(1, paced());
    auto line = openLine(simulator);
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());

    const Bytes second(11520, 0x55);
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
    EXPECT_EQ(line->transmitQueued(), 0u);
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_GE(call.bytesHeard, 1152u);
    EXPECT_LE(call.bytesHeard, 1152u + 700u);

    // A purge with a write pending lets the write refill the queue.
    ASSERT_TRUE(line->startWrite(second));
    ASSERT_TRUE(line->purgeTransmit());
    EXPECT_EQ(line->transmitQueued(), 4096u);
    EXPECT_FALSE(line->writeDone().isSet());
    line->cancelWrite();
    ASSERT_TRUE(line->purgeTransmit());
    EXPECT_EQ(line->transmitQueued(), 0u);
    EXPECT_EQ(line->writeOutcome().error, ECANCELED);
}

TEST(SimTransmit, UnpluggingFailsThePendingWriteAndEveryLaterOperation)
{
    Simulator simulator(1, paced());
    auto line = openLine(simulator);
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    const Bytes data(11520, 0x55);
    ASSERT_TRUE(line->startWrite(data));
    std::this_thread::sleep_for(milliseconds(50));
    line->carrierChanged().reset();
    line->unplug();

    EXPECT_TRUE(line->writeDone().isSet());
    EXPECT_EQ(line->writeOutcome().error, EIO);
    EXPECT_GE(line->writeOutcome().written, 4096u);
    EXPECT_LT(line->writeOutcome().written, data.size());
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

    ASSERT_TRUE(simulator.waitForCalls(1, 2000));
    const CallRecord call = simulator.calls().front();
    EXPECT_TRUE(call.unplugged);
    EXPECT_GE(call.callerHangupMs.value_or(0), 50);
    EXPECT_NE(call.describe().find("\nunplugged\n"), std::string::npos);
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
    SimOptions options = paced(false);
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
    EXPECT_NE(calls[1].describe().find("\nrecording " + (dir / "calls-2.wav").string() + "\n"), std::string::npos);

    // A file that cannot be written is reported with the call.
    Simulator failing(1, [&] {
        SimOptions o = paced(false);
        o.recordPath = dir / "missing" / "call.wav";
        return o;
    }());
    auto failingLine = openLine(failing);
    LineDriver failingDriver(*failingLine);
    const CallRecord call = test::callAndHangUp(failing, failingDriver, "1", 0);
    EXPECT_NE(call.recordingError, "");
    EXPECT_NE(call.describe().find("\nrecording failed "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing" / "call.wav"));
}

}  // namespace
}  // namespace peltra::sim
