// The call session of the line device against a port under the test's hand: attempts on a dead
// line, tone dialing, the answer, playback failures, shutdown and a port that disappears.
#include "FakeSerialPort.h"
#include "RecordingView.h"
#include "support/TempDir.h"
#include "line/Form1.h"
#include "line/Modulator.h"
#include "line/PhonogramLibrary.h"
#include "line/TonePcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

namespace peltra::line {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A phrase of n samples of a 440 Hz tone.
std::vector<std::uint8_t> phrasePcm(std::size_t samples)
{
    std::vector<std::uint8_t> pcm;
    for (std::size_t k = 0; k < samples; ++k) {
        const auto s = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * k / 8000.0));
        pcm.push_back(static_cast<std::uint8_t>(s & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    return pcm;
}

CallSettings shortToneSettings()
{
    CallSettings settings;
    settings.dial.pulseMode = false;
    settings.dial.delayFirstMs = 5;
    settings.dial.delayPMs = 50;
    settings.dial.delayWMs = 50;
    settings.ringOffMs = 5;
    settings.waitAnswerS = 1;
    return settings;
}

class Form1CallTest : public ::testing::Test {
protected:
    Form1CallTest()
    {
        opener.addPort("COM1");
        std::string error;
        EXPECT_TRUE(PhonogramLibrary::write(library, PhonogramLibrary::pcmFormat(),
                                            {{"_001", phrasePcm(800)}, {"_002", phrasePcm(400)}},
                                            &error))
            << error;
    }

    // A line with the given settings, opened on COM1; the carrier starts as given.
    Form1& openLine(const CallSettings& callSettings, bool carrier = true)
    {
        settings = std::make_unique<test::FixedCallSettings>(callSettings);
        LineEnvironment environment{opener, timers, shutdown, *settings};
        environment.library = library;
        environment.timings.debounceMs = 20;
        environment.timings.lineReadyWaitMs = 20;
        environment.timings.polarityFaultMs = 10;
        environment.timings.interDigitMs = 10;
        opener.startWithCarrier("COM1", carrier);
        line = std::make_unique<Form1>(environment);
        line->setView(&view);
        line->setOwner(&owner);
        EXPECT_TRUE(line->Open(7, "COM1"));
        const auto until = Clock::now() + 1s;
        while (line->normalPolarity() != carrier && Clock::now() < until)
            std::this_thread::sleep_for(1ms);
        return *line;
    }

    test::FakeSerialPort& port() { return *opener.port("COM1"); }

    bool waitForResult(std::chrono::milliseconds limit)
    {
        const auto until = Clock::now() + limit;
        while (owner.results().empty() && Clock::now() < until)
            std::this_thread::sleep_for(2ms);
        return !owner.results().empty();
    }

    // Waits until at least bytes have been written to the port.
    bool waitForWritten(std::size_t bytes, std::chrono::milliseconds limit)
    {
        const auto until = Clock::now() + limit;
        while (port().written().size() < bytes && Clock::now() < until)
            std::this_thread::sleep_for(1ms);
        return port().written().size() >= bytes;
    }

    // Starts a call and waits until its tone dialing has reached the port.
    ::testing::AssertionResult startAndDial(Form1& device, std::vector<std::string> phrases,
                                            const std::string& number,
                                            const CallSettings& callSettings)
    {
        device.GetPhraseList() = std::move(phrases);
        if (!device.StartCall(number))
            return ::testing::AssertionFailure() << "the call did not start";
        const auto tones = buildToneStream(number, callSettings.dial);
        if (!tones || !waitForWritten(tones->size(), 3s))
            return ::testing::AssertionFailure() << "the number was not dialled";
        return ::testing::AssertionSuccess();
    }

    test::TempDir dir;
    std::filesystem::path library = dir.path() / "peltra.awf";
    platform::TimerService timers;
    platform::Event shutdown{true, false};
    test::FakePortOpener opener;
    test::RecordingView view;
    test::RecordingOwner owner;
    std::unique_ptr<test::FixedCallSettings> settings;
    std::unique_ptr<Form1> line;
};

TEST_F(Form1CallTest, ToneDialingSendsExactlyTheToneStreamAndNoAnswerGivesResult1)
{
    const CallSettings callSettings = shortToneSettings();
    Form1& tone = openLine(callSettings);
    tone.GetPhraseList() = {"_001", "_002"};
    ASSERT_TRUE(tone.StartCall("1P2"));
    ASSERT_TRUE(waitForResult(4s));
    EXPECT_EQ(owner.results().at(0).second, kCallNoAnswer);
    const auto expected = buildToneStream("1P2", callSettings.dial);
    ASSERT_TRUE(expected);
    EXPECT_EQ(port().written(), *expected);
    EXPECT_NE(view.log().find("0\r\n"), std::string::npos);  // the tone dialing's code
    EXPECT_EQ(view.display(), "1P2");
}

TEST_F(Form1CallTest, AnAnsweredCallPlaysThePhrasesInOrderAfterTheToneStream)
{
    CallSettings callSettings = shortToneSettings();
    callSettings.waitAnswerS = 5;
    Form1& answered = openLine(callSettings);
    ASSERT_TRUE(startAndDial(answered, {"_001", "____", "_002"}, "5", callSettings));
    port().setCarrier(false);  // the exchange reverses the polarity: answered
    ASSERT_TRUE(waitForResult(3s));
    EXPECT_EQ(owner.results().at(0).second, kCallDelivered);

    std::vector<std::uint8_t> expected = *buildToneStream("5", callSettings.dial);
    for (std::size_t samples : {800u, 400u}) {
        const auto speech = modulateSpeech(phrasePcm(samples));
        ASSERT_TRUE(speech);
        expected.insert(expected.end(), speech->begin(), speech->end());
    }
    EXPECT_EQ(port().written(), expected);
    EXPECT_EQ(view.phraseLog(), "_001\r\n_002\r\n");
    EXPECT_GE(port().purges(), 2);  // after the tones and after the speech
}

TEST_F(Form1CallTest, AMissingLibraryEndsTheCallInErrorWithoutWaitingForTheAnswer)
{
    CallSettings callSettings = shortToneSettings();
    callSettings.waitAnswerS = 30;
    std::filesystem::remove(library);
    Form1& noLibrary = openLine(callSettings);
    noLibrary.GetPhraseList() = {"_001"};
    const auto start = Clock::now();
    ASSERT_TRUE(noLibrary.StartCall("5"));
    ASSERT_TRUE(waitForResult(5s));
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(owner.results().at(0).second, kCallError);
    EXPECT_NE(view.log().find("peltra.awf"), std::string::npos);
    EXPECT_NE(owner.reasons().at(0).find("peltra.awf"), std::string::npos);
    EXPECT_TRUE(port().written().empty());
}

TEST_F(Form1CallTest, APortThatDisappearsDuringTheAnswerWaitEndsTheCallInError)
{
    CallSettings callSettings = shortToneSettings();
    callSettings.waitAnswerS = 30;
    Form1& vanishing = openLine(callSettings);
    ASSERT_TRUE(startAndDial(vanishing, {"_001"}, "5", callSettings));
    port().failCarrierRead(EIO);
    ASSERT_TRUE(waitForResult(2s));
    EXPECT_EQ(owner.results().at(0).second, kCallError);
}

}  // namespace
}  // namespace peltra::line
