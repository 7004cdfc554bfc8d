// The line device's port handling: opening, the hook relay, debouncing of the polarity, stopping,
// and the probe of present ports.
#include "FakeSerialPort.h"
#include "RecordingView.h"
#include "line/Form1.h"
#include "platform/errors/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace peltra::line {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Form1PortTest : public ::testing::Test {
protected:
    Form1PortTest()
    {
        opener.addPort("COM3");
        line.setView(&view);
    }

    test::FakeSerialPort& port() { return *opener.port("COM3"); }

    // Time from `from` until the debounced polarity becomes `normal`, or nothing within limit.
    std::optional<Clock::duration> timeUntilPolarity(bool normal, Clock::time_point from,
                                                     Clock::duration limit = 1s)
    {
        while (Clock::now() - from < limit) {
            if (line.normalPolarity() == normal)
                return Clock::now() - from;
            std::this_thread::sleep_for(1ms);
        }
        return std::nullopt;
    }

    platform::TimerService timers;
    platform::Event shutdown{true, false};
    test::FakePortOpener opener;
    test::FixedCallSettings settings{CallSettings{}};
    test::RecordingView view;
    Form1 line{LineEnvironment{opener, timers, shutdown, settings}};
};

TEST_F(Form1PortTest, OpenPutsTheLineOnHookOnceAndASecondOpenChangesNothing)
{
    ASSERT_TRUE(line.Open(4, "COM3"));
    EXPECT_EQ(view.portName(), "COM3");
    EXPECT_EQ(line.lineNumber(), 4u);
    EXPECT_TRUE(port().dtr());
    EXPECT_FALSE(port().rts());
    EXPECT_FALSE(line.offHook());
    EXPECT_TRUE(line.Open(5, "COM3"));
    EXPECT_EQ(opener.opens(), 1);
    EXPECT_EQ(line.lineNumber(), 4u);
}

TEST_F(Form1PortTest, HookFollowsDtrAndRtsAndAFailureKeepsTheLastState)
{
    ASSERT_TRUE(line.Open(0, "COM3"));
    ASSERT_TRUE(line.SetHook(true));
    EXPECT_TRUE(port().offHook());
    EXPECT_TRUE(line.offHook());

    port().failModemControl(EIO);
    EXPECT_FALSE(line.SetHook(false));
    EXPECT_TRUE(line.offHook());
    const auto messages = view.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Ошибка работы с портом COM3");
    EXPECT_EQ(messages[0].text, platform::systemErrorReport(EIO));
}

TEST_F(Form1PortTest, AFlickerShorterThanTheDebounceChangesNothing)
{
    ASSERT_TRUE(line.Open(0, "COM3"));
    ASSERT_TRUE(timeUntilPolarity(true, Clock::now()));
    port().setCarrier(false);
    std::this_thread::sleep_for(150ms);
    port().setCarrier(true);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(line.normalPolarity());
    EXPECT_EQ(view.polarityHistory(), std::vector<bool>{true});
}

TEST_F(Form1PortTest, AReversalHeldPastTheDebounceIsCommittedAfter200Ms)
{
    ASSERT_TRUE(line.Open(0, "COM3"));
    ASSERT_TRUE(timeUntilPolarity(true, Clock::now()));
    const auto start = Clock::now();
    port().setCarrier(false);
    const auto took = timeUntilPolarity(false, start);
    ASSERT_TRUE(took);
    EXPECT_GE(*took, 195ms);
    EXPECT_LE(*took, 320ms);
    EXPECT_EQ(view.polarityHistory(), (std::vector<bool>{true, false}));
}

TEST_F(Form1PortTest, EveryChangeRestartsTheDebounce)
{
    ASSERT_TRUE(line.Open(0, "COM3"));
    ASSERT_TRUE(timeUntilPolarity(true, Clock::now()));
    const auto start = Clock::now();
    port().setCarrier(false);
    std::this_thread::sleep_until(start + 60ms);
    port().setCarrier(true);
    std::this_thread::sleep_until(start + 120ms);
    port().setCarrier(false);
    const auto took = timeUntilPolarity(false, start);
    ASSERT_TRUE(took);
    EXPECT_GE(*took, 315ms);
    EXPECT_LE(*took, 450ms);
}

TEST_F(Form1PortTest, LosingThePortIsReportedAndEndsTheMonitor)
{
    ASSERT_TRUE(line.Open(0, "COM3"));
    ASSERT_TRUE(timeUntilPolarity(true, Clock::now()));
    port().failCarrierRead(EIO);
    const auto until = Clock::now() + 1s;
    while (view.messages().empty() && Clock::now() < until)
        std::this_thread::sleep_for(1ms);
    const auto messages = view.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Ошибка работы с портом COM3");
    EXPECT_EQ(messages[0].text, platform::systemErrorReport(EIO));
    // The polarity keeps its last value.
    EXPECT_TRUE(line.normalPolarity());
}

TEST(ProbePortsTest, ListsPortsThatExistWhetherUsableOrNot)
{
    test::FakePortOpener opener;
    for (const char* name : {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"})
        opener.addPort(name);
    opener.failWith("COM2", EBUSY);
    opener.failWith("COM3", ENOENT);
    opener.failWith("COM4", EIO);     // a device node with no hardware behind it
    opener.failWith("COM5", EBUSY);   // held by one of the station's own lines
    opener.failWith("COM6", EACCES);

    const auto present = ProbePorts(opener, {"COM5"});
    ASSERT_EQ(present.size(), 4u);
    EXPECT_EQ(present[0].name, "COM1");
    EXPECT_EQ(present[0].openError, 0);
    EXPECT_EQ(present[1].name, "COM2");
    EXPECT_EQ(present[1].openError, EBUSY);
    EXPECT_EQ(present[2].name, "COM5");
    EXPECT_EQ(present[2].openError, 0);
    EXPECT_EQ(present[3].name, "COM6");
    EXPECT_EQ(present[3].openError, EACCES);
    for (const auto& entry : present)
        EXPECT_FALSE(entry.usedAsLine);
}

}  // namespace
}  // namespace peltra::line
