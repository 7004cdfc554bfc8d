// The simulated port's transmit side: pacing, underruns, cancel and purge, unplugging, recordings.
#include "sim/Simulator.h"

#include "line/Modulator.h"
#include "sim/LineDriver.h"
#include "platform/audio/WavFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <thread>

namespace peltra::sim {
namespace {

using test::LineDriver;
using platform::kWavHeaderBytes;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

SimOptions paced(bool realTime = true)
{
    SimOptions options;
    options.realTime = realTime;
    options.digitTimeoutMs = 100;
    return options;
}

std::unique_ptr<SimLine> openLine(Simulator& simulator, const std::string& name = "SIM1")
{
    int error = -1;
    auto line = simulator.openLine(name, error);
    EXPECT_TRUE(line) << name << " errno " << error;
    return line;
}

// Waits until the transmit queue is empty; the ms it took, or nothing after timeoutMs.
std::optional<double> waitDrained(SimLine& line, std::uint32_t timeoutMs)
{
    const auto start = Clock::now();
    while (line.transmitQueued() != 0) {
        if (Clock::now() - start > milliseconds(timeoutMs))
            return std::nullopt;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return test::msSince(start, Clock::now());
}

CallRecord hangUpAndLog(Simulator& simulator, LineDriver& driver)
{
    const std::size_t before = simulator.calls().size();
    EXPECT_TRUE(driver.onHook());
    EXPECT_TRUE(simulator.waitForCalls(before + 1, 3000));
    const auto calls = simulator.calls();
    return calls.empty() ? CallRecord{} : calls.back();
}

// Seizes the line, dials "1" by tone and waits for the answer 100 ms later.
void callAndWaitForAnswer(Simulator& simulator, LineDriver& driver)
{
    PartyBehaviour party;
    party.answerAfterMs = 100;
    ASSERT_TRUE(simulator.setBehaviour("1", party));
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

    const std::vector<std::uint8_t> second(11520, 0x55);
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

TEST(SimTransmit, WithoutPacingEveryWriteCompletesAtOnce)
{
    Simulator simulator(1, paced(false));
    auto line = openLine(simulator);
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    const std::vector<std::uint8_t> minute(11520 * 60, 0x55);
    const auto start = Clock::now();
    ASSERT_TRUE(line->startWrite(minute));
    EXPECT_TRUE(line->writeDone().isSet());
    EXPECT_LT(test::msSince(start, Clock::now()), 2000);
    EXPECT_EQ(line->writeOutcome().written, minute.size());
    EXPECT_EQ(line->transmitQueued(), 0u);

    // Nothing is pending, so cancelling changes nothing; purging succeeds.
    line->cancelWrite();
    EXPECT_EQ(line->writeOutcome().written, minute.size());
    EXPECT_EQ(line->writeOutcome().error, 0);
    EXPECT_TRUE(line->purgeTransmit());

    // Sent with the loop open, while the exchange still holds the call: lost.
    ASSERT_TRUE(driver.onHook());
    ASSERT_TRUE(driver.write(std::vector<std::uint8_t>(1000, 0x55)));
    ASSERT_TRUE(simulator.waitForCalls(1, 2000));
    EXPECT_EQ(simulator.calls().front().bytesHeard, minute.size());
}

TEST(SimTransmit, WriterPausingAfterTheAnswerIsAnUnderrun)
{
    Simulator simulator(1, paced());
    auto line = openLine(simulator);
    LineDriver driver(*line);
    callAndWaitForAnswer(simulator, driver);

    const std::vector<std::uint8_t> phrase(1152, 0x55);  // 100 ms
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(driver.write(phrase));
        ASSERT_TRUE(waitDrained(*line, 2000));
        std::this_thread::sleep_for(milliseconds(20));
    }
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.underruns, 2u);  // the last drain ends the message
    EXPECT_EQ(call.partyHeardBytes, 3 * phrase.size());
    EXPECT_NE(call.describe().find("\nunderruns 2\n"), std::string::npos);
}

TEST(SimTransmit, WriterKeepingTheQueueFedCausesNoUnderrun)
{
    Simulator simulator(1, paced());
    auto line = openLine(simulator);
    LineDriver driver(*line);
    callAndWaitForAnswer(simulator, driver);

    const std::vector<std::uint8_t> phrase(2304, 0x55);  // 200 ms
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(driver.write(phrase));
    ASSERT_TRUE(waitDrained(*line, 3000));
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.underruns, 0u);
    EXPECT_EQ(call.partyHeardBytes, 4 * phrase.size());
    // The dialing tone was heard before the answer.
    EXPECT_GT(call.bytesHeard, call.partyHeardBytes);
}

TEST(SimTransmit, PartyHearsOnlyWhatIsSentWhileItListens)
{
    Simulator simulator(1, paced(false));
    PartyBehaviour party;
    party.answerAfterMs = 50;
    party.hangUpAfterMs = 100;
    ASSERT_TRUE(simulator.setBehaviour("1", party));
    auto line = openLine(simulator);
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("1"));
    const std::vector<std::uint8_t> phrase(1152, 0x55);
    ASSERT_TRUE(driver.write(phrase));  // before the answer
    ASSERT_TRUE(driver.waitCarrier(false, 1000));
    ASSERT_TRUE(driver.write(phrase));  // while the party listens
    ASSERT_TRUE(driver.waitCarrier(true, 1000));
    ASSERT_TRUE(driver.write(phrase));  // after it hung up
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_EQ(call.partyHeardBytes, phrase.size());
    EXPECT_GT(call.bytesHeard, 3 * phrase.size());
    ASSERT_TRUE(call.partyHangupMs && call.answerMs);
    EXPECT_NEAR(*call.partyHangupMs - *call.answerMs, 100, 1);
}

TEST(SimTransmit, CancelDropsWhatIsNotQueuedAndPurgeSilencesTheLine)
{
    Simulator simulator(1, paced());
    auto line = openLine(simulator);
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());

    const std::vector<std::uint8_t> second(11520, 0x55);
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
}

TEST(SimTransmit, PurgeWithAWritePendingLetsTheWriteRefillTheQueue)
{
    Simulator simulator(1, paced());
    auto line = openLine(simulator);
    const std::vector<std::uint8_t> data(11520, 0x55);
    ASSERT_TRUE(line->startWrite(data));
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
    const std::vector<std::uint8_t> data(11520, 0x55);
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
    struct Operation {
        const char* name;
        std::function<bool()> run;
    };
    const Operation operations[] = {
        {"setDtr", [&] { return line->setDtr(false); }},
        {"setRts", [&] { return line->setRts(true); }},
        {"readCarrier", [&] { return line->readCarrier(carrier); }},
        {"startWrite", [&] { return line->startWrite({&byte, 1}); }},
        {"purgeTransmit", [&] { return line->purgeTransmit(); }},
    };
    for (const Operation& operation : operations) {
        errno = 0;
        EXPECT_FALSE(operation.run()) << operation.name;
        EXPECT_EQ(errno, EIO) << operation.name;
    }
    line->cancelWrite();  // harmless

    ASSERT_TRUE(simulator.waitForCalls(1, 2000));
    const CallRecord call = simulator.calls().front();
    EXPECT_TRUE(call.unplugged);
    ASSERT_TRUE(call.callerHangupMs);
    EXPECT_GE(*call.callerHangupMs, 50);
    EXPECT_NE(call.describe().find("\nunplugged\n"), std::string::npos);
}

// ---- Recordings ------------------------------------------------------------------------------

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// Checks the file is a canonical 8 kHz mono 16-bit WAV; returns its sample count.
std::size_t wavSamples(const std::filesystem::path& path)
{
    const auto bytes = readFile(path);
    EXPECT_GE(bytes.size(), kWavHeaderBytes) << path;
    if (bytes.size() < kWavHeaderBytes)
        return 0;
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(std::memcmp(&bytes[8], "WAVEfmt ", 8), 0);
    EXPECT_EQ(le32(bytes, 16), 16u);
    EXPECT_EQ(le16(bytes, 20), 1u);      // PCM
    EXPECT_EQ(le16(bytes, 22), 1u);      // mono
    EXPECT_EQ(le32(bytes, 24), 8000u);
    EXPECT_EQ(le32(bytes, 28), 16000u);
    EXPECT_EQ(le16(bytes, 32), 2u);
    EXPECT_EQ(le16(bytes, 34), 16u);
    EXPECT_EQ(std::memcmp(&bytes[36], "data", 4), 0);
    EXPECT_EQ(le32(bytes, 40), bytes.size() - kWavHeaderBytes);
    return (bytes.size() - kWavHeaderBytes) / 2;
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
    std::vector<std::uint8_t> pcm;
    for (int n = 0; n < 4000; ++n) {
        const auto s = static_cast<std::int16_t>(std::lround(8000 * std::sin(2 * std::numbers::pi * 1000 * n / 8000.0)));
        pcm.push_back(static_cast<std::uint8_t>(s & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    const auto speech = line::modulateSpeech(pcm);
    ASSERT_TRUE(speech);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.write(*speech));
    hangUpAndLog(simulator, driver);

    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("12"));
    ASSERT_TRUE(driver.write(std::vector<std::uint8_t>(1001, 0x55)));
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
}

TEST(SimRecording, AFileThatCannotBeWrittenIsReportedInTheLog)
{
    test::TempDir dir;
    SimOptions options = paced(false);
    options.recordPath = dir / "missing" / "call.wav";
    Simulator simulator(1, options);
    auto line = openLine(simulator);
    LineDriver driver(*line);
    ASSERT_TRUE(driver.offHook());
    ASSERT_TRUE(driver.dialTones("1"));
    const CallRecord call = hangUpAndLog(simulator, driver);
    EXPECT_NE(call.recordingError, "");
    EXPECT_NE(call.describe().find("\nrecording failed "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(options.recordPath));
}

}  // namespace
}  // namespace peltra::sim
