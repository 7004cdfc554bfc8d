// Tests of port names: the configured map, COMn devices, simulator names and the probing list.
#include "platform/serial/PortDirectory.h"

#include "platform/errors/SystemError.h"
#include "PseudoTerminal.h"
#include "support/LineFakePort.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <termios.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace peltra::platform {
namespace {

// The simulator serves "SIM1" and "sim2"; other names it refuses with EACCES, distinct from the
// directory's own ENOENT.
struct FakeSimulator : test::FakePortOpener {
    FakeSimulator()
    {
        addPort("SIM1");
        addPort("sim2");
        for (const char* name : {"SIM3", "Sim", "SIMULATOR"})
            failWith(name, EACCES);
    }
};

bool sameSettings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           ::cfgetospeed(&a) == ::cfgetospeed(&b);
}

// A device folder where some ttySn are regular files: opening one fails with ENOTTY, which shows
// that exactly that path was tried, while a path with nothing behind it fails with ENOENT.
class PortDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* file : {"ttyS0", "ttyS2", "ttyS255", "usb0"})
            std::ofstream(m_dir / file) << "x";
    }
    PortDirectory directory(std::map<std::string, std::string> map, PortOpener* simulator = nullptr)
    {
        PortDirectory ports(std::move(map), simulator);
        ports.setDeviceRoot((m_dir / "ttyS").string());
        // Not this machine's console and locks: those the test writes, if any.
        ports.setHolderFiles(m_dir / "cmdline", m_dir / "lock");
        return ports;
    }
    std::string file(const char* name) const { return (m_dir / name).string(); }

    test::TempDir m_dir;
};

TEST_F(PortDirectoryTest, NamesLeadToTheirDevices)
{
    FakeSimulator simulator;
    PortDirectory ports = directory({{"com5", file("usb0")}, {"Line7", file("usb0")}, {"COM6", file("none")}},
                                    &simulator);
    struct Case {
        const char* name;
        int error;
    };
    const Case cases[] = {
        {"COM1", ENOTTY},    // ttyS0
        {"COM3", ENOTTY},    // ttyS2
        {"com3", ENOTTY},
        {"CoM3", ENOTTY},
        {"COM2", ENOENT},    // no ttyS1
        {"COM256", ENOTTY},  // ttyS255
        {"COM5", ENOTTY},    // mapped to usb0, although ttyS4 does not exist
        {"COM6", ENOENT},    // mapped to a missing device: the map wins over ttyS5
        {"LINE7", ENOTTY},   // mapped name that is no COMn
        {"line7", ENOTTY},
        {"COM0", ENOENT},
        {"COM257", ENOENT},
        {"COM1000", ENOENT},
        {"COM03", ENOENT},
        {"COM", ENOENT},
        {"COM1x", ENOENT},
        {"COM-1", ENOENT},
        {" COM1", ENOENT},
        {"LPT1", ENOENT},
        {"", ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int error = 0;
        EXPECT_EQ(ports.open(c.name, error), nullptr);
        EXPECT_EQ(error, c.error) << systemMessage(error);
    }
    EXPECT_TRUE(simulator.asked.empty());
}

TEST_F(PortDirectoryTest, TheConsoleAndLockedPortsAreNamedAndNoPortIsSetUpByTheProbe)
{
    // COM5 is the kernel's console, COM6 locked by a live process (pid 1), COM7 by a dead one.
    std::vector<std::unique_ptr<test::PseudoTerminal>> ptys;
    for (int n = 4; n <= 8; ++n) {
        ptys.push_back(std::make_unique<test::PseudoTerminal>());
        std::filesystem::create_symlink(ptys.back()->slavePath(), m_dir / ("ttyS" + std::to_string(n)));
    }
    std::ofstream(m_dir / "cmdline") << "BOOT_IMAGE=/vmlinuz console=tty0 console=ttyS4,115200n8 quiet -- console=ttyS8\n";
    std::filesystem::create_directories(m_dir / "lock");
    std::ofstream(m_dir / "lock" / "LCK..ttyS5") << "         1\n";
    std::ofstream(m_dir / "lock" / "LCK..ttyS6") << "2147483600\n";
    PortDirectory ports = directory({});

    std::vector<termios> before(ptys.size());
    for (std::size_t i = 0; i < ptys.size(); ++i)
        ASSERT_EQ(::tcgetattr(ptys[i]->master(), &before[i]), 0);
    const struct {
        const char* name;
        int error;
        std::string reason;
    } cases[] = {
        {"COM5", EBUSY, "the kernel's console (console=ttyS4)"},
        {"COM6", EBUSY, "locked by process 1 (" + (m_dir / "lock" / "LCK..ttyS5").string() + ")"},
        {"COM7", 0, ""},  // the lock's process is gone
        {"COM8", 0, ""},
        {"COM2", ENOENT, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string reason = "stale";
        EXPECT_EQ(ports.probe(c.name, reason), c.error) << systemMessage(c.error);
        EXPECT_EQ(reason, c.reason);
        int error = -1;
        EXPECT_EQ(ports.open(c.name, error) != nullptr, c.error == 0);
        EXPECT_EQ(error, c.error);
    }
    // The console and the locked port were never opened: nothing set them up.
    for (std::size_t i : {0u, 1u}) {
        termios after{};
        ASSERT_EQ(::tcgetattr(ptys[i]->master(), &after), 0);
        EXPECT_TRUE(sameSettings(after, before[i])) << "ttyS" << i + 4 << " was set up";
    }
    // A usable port is only looked at by the probe.
    ptys.push_back(std::make_unique<test::PseudoTerminal>());
    std::filesystem::create_symlink(ptys.back()->slavePath(), m_dir / "ttyS9");
    termios fresh{};
    termios probed{};
    ASSERT_EQ(::tcgetattr(ptys.back()->master(), &fresh), 0);
    std::string reason;
    EXPECT_EQ(ports.probe("COM10", reason), 0);
    ASSERT_EQ(::tcgetattr(ptys.back()->master(), &probed), 0);
    EXPECT_TRUE(sameSettings(fresh, probed)) << "the probe set the port up";
}

TEST_F(PortDirectoryTest, SimulatorNamesGoToTheSimulator)
{
    FakeSimulator simulator;
    // A mapping for a simulator name is ignored: those names are the simulator's.
    PortDirectory ports = directory({{"SIM2", file("usb0")}}, &simulator);
    struct Case {
        const char* name;
        int error;
    };
    const Case cases[] = {{"SIM1", 0}, {"sim2", 0}, {"SIM3", EACCES}, {"Sim", EACCES}, {"SIMULATOR", EACCES}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int error = -1;
        auto port = ports.open(c.name, error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(port != nullptr, c.error == 0);
        if (port) {
            EXPECT_EQ(port->name(), c.name);
        }
    }
    EXPECT_EQ(simulator.asked, (std::vector<std::string>{"SIM1", "sim2", "SIM3", "Sim", "SIMULATOR"}));

    PortDirectory withoutSimulator = directory({{"SIM1", file("usb0")}});
    int error = 0;
    EXPECT_EQ(withoutSimulator.open("SIM1", error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

TEST(PortDirectoryDefaultPathTest, ComNamesMapToTtyS)
{
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"}, {"com3", "/dev/ttyS2"}, {"COM10", "/dev/ttyS9"}, {"COM256", "/dev/ttyS255"},
        {"COM0", ""},           {"COM257", ""},         {"COM01", ""},          {"LPT1", ""},
        {"SIM1", ""},           {"COM", ""},            {"", ""},
    };
    for (const auto& [name, path] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(PortDirectory::defaultDevicePath(name), path);
    }
}

}  // namespace
}  // namespace peltra::platform
