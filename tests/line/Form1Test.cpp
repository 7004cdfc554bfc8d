// The line device against a port under the test's hand: opening, the hook relay, debouncing of the
// polarity, a port that fails or disappears, the probe of present ports, tone dialing, the answer
// and a missing library.
#include "LineRecorders.h"
#include "line/Form1.h"
#include "line/Modulator.h"
#include "line/PhonogramLibrary.h"
#include "line/TonePcm.h"
#include "platform/errors/SystemError.h"
#include "support/LineFakePort.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace peltra::line {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

CallSettings shortToneSettings(std::uint32_t waitAnswerS = 1)
{
    const DialSettings dial{.pulseMode = false, .delayFirstMs = 5, .delayWMs = 50, .delayPMs = 50, .prefix = {},
                            .prefixTown = {}};
    return {.dial = dial, .ringOffMs = 5, .waitAnswerS = waitAnswerS};
}

class Form1Test : public ::testing::Test {
protected:
    Form1Test()
    {
        opener.addPort("COM1");
        EXPECT_TRUE(PhonogramLibrary::write(library, PhonogramLibrary::pcmFormat(),
                                            {{"_001", test::tonePcm(800)}, {"_002", test::tonePcm(400)}}));
    }

    // Line 7 on COM1, once its polarity follows the carrier. Calls shorten the line's own waits;
    // the port checks keep the station's.
    Form1& openLine(const CallSettings& callSettings, bool shortWaits = true)
    {
        settings = std::make_unique<test::FixedCallSettings>(callSettings);
        LineEnvironment environment{opener, timers, shutdown, *settings};
        environment.library = library;
        if (shortWaits)
            environment.timings = {.debounceMs = 20, .lineReadyWaitMs = 20, .polarityFaultMs = 10, .interDigitMs = 10};
        line = std::make_unique<Form1>(environment);
        line->setView(&view);
        line->setOwner(&owner);
        EXPECT_TRUE(line->Open(7, "COM1"));
        EXPECT_TRUE(test::waitUntil([&] { return line->normalPolarity(); }));
        return *line;
    }
    Form1& portLine() { return openLine({}, false); }

    test::FakeSerialPort& port() { return *opener.port("COM1"); }
    bool waitForResult(Clock::duration limit)
    {
        return test::waitUntil([&] { return !owner.results().empty(); }, limit);
    }

    // Time until the debounced polarity becomes `normal`, from `start`.
    std::optional<Clock::duration> polarityAfter(bool normal, Clock::time_point start)
    {
        if (!test::waitUntil([&] { return line->normalPolarity() == normal; }))
            return std::nullopt;
        return Clock::now() - start;
    }

    // Starts a call and waits until its tone dialing has reached the port.
    ::testing::AssertionResult startAndDial(std::vector<std::string> phrases, const std::string& number,
                                            const CallSettings& callSettings)
    {
        line->GetPhraseList() = std::move(phrases);
        if (!line->StartCall(number))
            return ::testing::AssertionFailure() << "the call did not start";
        const auto tones = buildToneStream(number, callSettings.dial);
        if (!tones || !test::waitUntil([&] { return port().written().size() >= tones->size(); }, 3s))
            return ::testing::AssertionFailure() << "the number was not dialled";
        return ::testing::AssertionSuccess();
    }

    void expectOnePortError()
    {
        const auto messages = view.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].caption, "Ошибка работы с портом COM1");
        EXPECT_EQ(messages[0].text, platform::systemErrorReport(EIO));
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

// ------------------------------------------------------------------ the port

// Open puts the line on hook once (a second open changes nothing); the hook follows DTR and RTS,
// and a failure keeps the last state.
TEST_F(Form1Test, OpenPutsTheLineOnHookAndTheHookFollowsDtrAndRts)
{
    portLine();
    EXPECT_EQ(view.portName(), "COM1");
    EXPECT_TRUE(port().dtr() && !port().rts() && !line->offHook());
    EXPECT_TRUE(line->Open(5, "COM1"));
    EXPECT_EQ(opener.asked.size(), 1u);
    EXPECT_EQ(line->lineNumber(), 7u);
    ASSERT_TRUE(line->SetHook(true));
    EXPECT_TRUE(port().offHook());
    EXPECT_TRUE(line->offHook());
    port().failModemControl(EIO);
    EXPECT_FALSE(line->SetHook(false));
    EXPECT_TRUE(line->offHook());
    expectOnePortError();
}

// A flicker shorter than the debounce changes nothing; a reversal held past it is committed after
// 200 ms, and every change restarts that wait.
TEST_F(Form1Test, PolarityIsDebounced)
{
    portLine();
    port().setCarrier(false);
    std::this_thread::sleep_for(150ms);
    port().setCarrier(true);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(line->normalPolarity());
    EXPECT_EQ(view.polarityHistory(), std::vector<bool>{true});

    auto start = Clock::now();
    port().setCarrier(false);
    auto took = polarityAfter(false, start);
    ASSERT_TRUE(took);
    EXPECT_GE(*took, 195ms);
    EXPECT_LE(*took, 320ms);
    EXPECT_EQ(view.polarityHistory(), (std::vector<bool>{true, false}));

    start = Clock::now();
    port().setCarrier(true);
    std::this_thread::sleep_until(start + 60ms);
    port().setCarrier(false);
    std::this_thread::sleep_until(start + 120ms);
    port().setCarrier(true);
    took = polarityAfter(true, start);
    ASSERT_TRUE(took);
    EXPECT_GE(*took, 315ms);
    EXPECT_LE(*took, 450ms);
}

TEST_F(Form1Test, LosingThePortIsReportedAndEndsTheMonitor)
{
    portLine();
    port().failCarrierRead(EIO);
    ASSERT_TRUE(test::waitUntil([&] { return !view.messages().empty(); }));
    expectOnePortError();
    EXPECT_TRUE(line->normalPolarity()) << "the polarity keeps its last value";
}

TEST(ProbePortsTest, ListsPortsThatExistWhetherUsableOrNot)
{
    test::FakePortOpener opener;
    for (const char* name : {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"})
        opener.addPort(name);
    const std::pair<const char*, int> failures[] = {{"COM2", EBUSY}, {"COM3", ENOENT}, {"COM4", EIO}, {"COM5", EBUSY},
                                                    {"COM6", EACCES}};  // COM4: no hardware; COM5: a line's own
    for (const auto& [name, error] : failures)
        opener.failWith(name, error);
    std::vector<std::pair<std::string, int>> present;
    for (const auto& entry : ProbePorts(opener, {"COM5"})) {
        present.emplace_back(entry.name, entry.openError);
        EXPECT_FALSE(entry.usedAsLine);
    }
    EXPECT_EQ(present, (std::vector<std::pair<std::string, int>>{{"COM1", 0}, {"COM2", EBUSY}, {"COM5", 0},
                                                                 {"COM6", EACCES}}));
}

// ------------------------------------------------------------------ calls

TEST_F(Form1Test, ToneDialingSendsExactlyTheToneStreamAndNoAnswerGivesResult1)
{
    const CallSettings callSettings = shortToneSettings();
    openLine(callSettings).GetPhraseList() = {"_001", "_002"};
    ASSERT_TRUE(line->StartCall("1P2"));
    ASSERT_TRUE(waitForResult(4s));
    EXPECT_EQ(owner.results().at(0).second, kCallNoAnswer);
    EXPECT_EQ(port().written(), buildToneStream("1P2", callSettings.dial).value());
    EXPECT_NE(view.log().find("0\r\n"), std::string::npos);  // the tone dialing's code
    EXPECT_EQ(view.displayHistory().back(), "1P2");
}

TEST_F(Form1Test, AnAnsweredCallPlaysThePhrasesInOrderAfterTheToneStream)
{
    const CallSettings callSettings = shortToneSettings(5);
    openLine(callSettings);
    ASSERT_TRUE(startAndDial({"_001", "____", "_002"}, "5", callSettings));
    port().setCarrier(false);  // the exchange reverses the polarity: answered
    ASSERT_TRUE(waitForResult(3s));
    EXPECT_EQ(owner.results().at(0).second, kCallDelivered);

    std::vector<std::uint8_t> expected = *buildToneStream("5", callSettings.dial);
    for (std::size_t samples : {800u, 400u}) {
        const auto speech = modulateSpeech(test::tonePcm(samples));
        ASSERT_TRUE(speech);
        expected.insert(expected.end(), speech->begin(), speech->end());
    }
    EXPECT_EQ(port().written(), expected);
    EXPECT_EQ(view.phraseLog(), "_001\r\n_002\r\n");
    EXPECT_GE(port().purges(), 2);  // after the tones and after the speech
}

TEST_F(Form1Test, AMissingLibraryEndsTheCallInErrorWithoutWaitingForTheAnswer)
{
    std::filesystem::remove(library);
    openLine(shortToneSettings(30)).GetPhraseList() = {"_001"};
    const auto start = Clock::now();
    ASSERT_TRUE(line->StartCall("5"));
    ASSERT_TRUE(waitForResult(5s));
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(owner.results().at(0).second, kCallError);
    EXPECT_NE(view.log().find("peltra.awf"), std::string::npos);
    EXPECT_NE(owner.reasons().at(0).find("peltra.awf"), std::string::npos);
    EXPECT_TRUE(port().written().empty());
}

}  // namespace
}  // namespace peltra::line
