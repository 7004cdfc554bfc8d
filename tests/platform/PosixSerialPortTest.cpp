// Tests of the real serial port, with pseudo-terminals as devices, and of the carrier watcher.
#include "platform/serial/PosixSerialPort.h"

#include "platform/errors/SystemError.h"
#include "PseudoTerminal.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace peltra::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Longest a wait that should end at once may take on a busy machine under a sanitizer.
constexpr std::uint32_t promptMs = 500;
// A limit for waits that are expected to end much sooner; only reached when something is wrong.
constexpr std::uint32_t safetyMs = 10000;
// More than a pseudo-terminal buffers when nobody reads the master, so the write stays pending.
constexpr std::size_t blockingSize = 4 * 1024 * 1024;

std::unique_ptr<PosixSerialPort> openPort(const std::string& path, int& error)
{
    return PosixSerialPort::open(path, "COM7", error);
}

// Bytes that do not repeat with any short period, so a lost, doubled or swapped chunk shows.
std::vector<std::uint8_t> pattern(std::size_t size)
{
    std::vector<std::uint8_t> data(size);
    std::uint32_t state = 12345;
    for (auto& byte : data) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return data;
}

// --- Opening --------------------------------------------------------------------------------------

TEST(PosixSerialPortOpenTest, RefusesWhatIsNoUsableTerminal)
{
    test::TempDir dir;
    std::ofstream(dir / "file") << "not a port";
    const std::pair<std::string, int> cases[] = {
        {(dir / "missing").string(), ENOENT}, {(dir / "file").string(), ENOTTY},
        {"/dev/null", ENOTTY},  // a character device, but not a terminal
        {dir.path().string(), EISDIR},
    };
    for (const auto& [path, expected] : cases) {
        int error = 0;
        EXPECT_EQ(openPort(path, error), nullptr) << path;
        EXPECT_EQ(error, expected) << path;
    }
}

// The port holds the device for itself until closed: against a second port and against a program
// that does not lock the device (by TIOCEXCL). Root passes TIOCEXCL, so as root the check runs in
// a child that gives it up.
TEST(PosixSerialPortOpenTest, HoldsTheDeviceForItselfUntilClosed)
{
    test::PseudoTerminal pty;
    enum Step { passed = 0, portNotOpened, secondPortNotRefused, plainOpenNotRefused, refusedAfterClose,
                cannotDropRoot };
    const auto check = [&]() -> int {
        int error = 0;
        auto port = openPort(pty.slavePath(), error);
        if (!port || error != 0 || port->name() != "COM7")
            return portNotOpened;
        if (openPort(pty.slavePath(), error) || error != EBUSY)
            return secondPortNotRefused;
        const int held = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (held >= 0 || errno != EBUSY)
            return plainOpenNotRefused;
        port.reset();
        const int afterwards = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (afterwards < 0)
            return refusedAfterClose;
        ::close(afterwards);
        return openPort(pty.slavePath(), error) ? passed : refusedAfterClose;
    };
    if (geteuid() != 0) {
        EXPECT_EQ(check(), passed);
        return;
    }
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 ? check() : cannotDropRoot);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), passed);
}

TEST(PosixSerialPortOpenTest, SetsRaw115200EightNoneOneWithoutFlowControl)
{
    test::PseudoTerminal pty;
    // Start from settings that differ in every respect the adapter cares about.
    const int held = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(held, &before), 0);
    cfsetspeed(&before, B9600);
    before.c_cflag = ((before.c_cflag & ~(CSIZE | CLOCAL | CREAD)) | CS7 | PARENB | CSTOPB | CRTSCTS);
    before.c_iflag |= IXON | IXOFF | ICRNL;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_oflag |= OPOST | ONLCR;
    ASSERT_EQ(tcsetattr(held, TCSANOW, &before), 0);

    int error = 0;
    auto port = openPort(pty.slavePath(), error);
    ASSERT_NE(port, nullptr) << systemMessage(error);
    termios after{};
    ASSERT_EQ(tcgetattr(held, &after), 0);
    ::close(held);

    EXPECT_EQ(cfgetospeed(&after), B115200);
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(after.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(after.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);
}

// --- An open port ---------------------------------------------------------------------------------

// A port open on a fresh pseudo-terminal.
class PosixSerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int error = 0;
        m_port = openPort(m_pty.slavePath(), error);
        ASSERT_NE(m_port, nullptr) << systemMessage(error);
    }
    // Starts a write no one reads and waits until the device has stopped taking bytes.
    void startStuckWrite()
    {
        ASSERT_TRUE(m_port->startWrite(m_stuck));
        std::this_thread::sleep_for(50ms);
        ASSERT_FALSE(m_port->writeDone().isSet());
    }

    test::PseudoTerminal m_pty;
    std::unique_ptr<PosixSerialPort> m_port;
    const std::vector<std::uint8_t> m_stuck = pattern(blockingSize);
};

// A pseudo-terminal has no modem lines: it still opens, and every use of them reports the error.
TEST_F(PosixSerialPortTest, DeviceWithoutModemLinesReportsErrors)
{
    bool on = false;
    const bool results[] = {m_port->setDtr(true), m_port->setDtr(false), m_port->setRts(true),
                            m_port->setRts(false), m_port->readCarrier(on)};
    for (std::size_t i = 0; i < std::size(results); ++i)
        EXPECT_FALSE(results[i]) << i;
    EXPECT_NE(errno, 0);
    // The watcher cannot read the input either: it says so once, and the waiter then reads the
    // failure itself.
    EXPECT_TRUE(m_port->carrierChanged().wait(promptMs));
    EXPECT_FALSE(m_port->carrierChanged().wait(50));
}

TEST_F(PosixSerialPortTest, EveryByteArrivesInOrder)
{
    EXPECT_TRUE(m_port->writeDone().isSet());  // no write pending
    for (std::size_t size : {200'000, 1, 0, 70'001}) {
        SCOPED_TRACE(size);
        const auto data = pattern(size);
        std::vector<std::uint8_t> received;
        std::jthread reader([&] { received = m_pty.read(size, 2000ms); });
        ASSERT_TRUE(m_port->startWrite(data));
        EXPECT_TRUE(m_port->writeDone().wait(safetyMs));
        reader.join();
        EXPECT_EQ(m_port->writeOutcome().written, size);
        EXPECT_EQ(m_port->writeOutcome().error, 0);
        EXPECT_TRUE(received == data);
    }
}

TEST_F(PosixSerialPortTest, CancelEndsAStuckWriteAndTheNextWriteWorks)
{
    startStuckWrite();
    const auto start = Clock::now();
    m_port->cancelWrite();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(promptMs));
    EXPECT_TRUE(m_port->writeDone().isSet());
    const WriteOutcome outcome = m_port->writeOutcome();
    EXPECT_EQ(outcome.error, ECANCELED);
    EXPECT_GT(outcome.written, 0u);
    EXPECT_LT(outcome.written, m_stuck.size());

    // What was taken arrived; the cancel does not carry over to the next write, and with nothing
    // pending, cancelling changes nothing.
    EXPECT_EQ(m_pty.read(outcome.written, 500ms).size(), outcome.written);
    const auto next = pattern(1000);
    ASSERT_TRUE(m_port->startWrite(next));
    EXPECT_TRUE(m_port->writeDone().wait(safetyMs));
    m_port->cancelWrite();
    EXPECT_EQ(m_port->writeOutcome().error, 0);
    EXPECT_EQ(m_port->writeOutcome().written, next.size());
    EXPECT_TRUE(m_pty.read(next.size(), 500ms) == next);
}

// An adapter that is unplugged mid-write ends the write with the device's error.
TEST_F(PosixSerialPortTest, WriteFailsWhenTheDeviceGoes)
{
    startStuckWrite();
    m_pty.closeMaster();
    ASSERT_TRUE(m_port->writeDone().wait(promptMs));
    EXPECT_EQ(m_port->writeOutcome().error, EIO);
    EXPECT_LT(m_port->writeOutcome().written, m_stuck.size());
}

// --- Carrier watcher ------------------------------------------------------------------------------

// Each change is signalled and nothing else; a failing read is signalled once and polling stops.
TEST(CarrierWatcherTest, SignalsEachChangeAndAFailureOnce)
{
    std::atomic<bool> on{false};
    std::atomic<int> reads{0}, failFrom{INT_MAX};  // the read (0-based) from which reads fail
    Event changed(false, false);
    int error = -1;
    auto watcher = CarrierWatcher::start(
        [&](bool& value) { return reads++ >= failFrom ? (errno = EIO, false) : (value = on, true); }, changed, 1ms,
        error);
    ASSERT_NE(watcher, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(changed.wait(30));
    for (bool value : {true, false, true}) {
        on = value;
        EXPECT_TRUE(changed.wait(promptMs)) << value;
        EXPECT_FALSE(changed.wait(30)) << value;
    }
    failFrom = reads + 2;
    EXPECT_TRUE(changed.wait(promptMs));
    const int readsBefore = reads.load();
    on = false;
    EXPECT_FALSE(changed.wait(50));
    EXPECT_EQ(reads.load(), readsBefore);
}

}  // namespace
}  // namespace peltra::platform
