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
#include <tuple>
#include <vector>

namespace peltra::platform {
namespace {

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

// COMn leads to ttyS(n-1), the map wins over that, and simulator names go to the simulator (a
// mapping for one is ignored).
TEST_F(PortDirectoryTest, NamesLeadToTheirDevices)
{
    // The simulator serves "SIM1" and "sim2"; others it refuses with EACCES, not the directory's ENOENT.
    test::FakePortOpener simulator;
    simulator.addPort("SIM1");
    simulator.addPort("sim2");
    for (const char* name : {"SIM3", "Sim"})
        simulator.failWith(name, EACCES);
    PortDirectory ports = directory(
        {{"com5", file("usb0")}, {"Line7", file("usb0")}, {"COM6", file("none")}, {"SIM2", file("usb0")}}, &simulator);
    const std::pair<const char*, int> cases[] = {
        {"COM1", ENOTTY}, {"COM3", ENOTTY}, {"CoM3", ENOTTY}, {"COM2", ENOENT},  // ttyS0, ttyS2, no ttyS1
        {"COM256", ENOTTY},                                                      // ttyS255
        {"COM5", ENOTTY},  // mapped to usb0, although ttyS4 does not exist
        {"COM6", ENOENT},  // mapped to a missing device: the map wins over ttyS5
        {"line7", ENOTTY}, {"COM0", ENOENT},  {"COM257", ENOENT}, {"COM03", ENOENT}, {"COM1x", ENOENT},
        {" COM1", ENOENT}, {"LPT1", ENOENT},  {"", ENOENT},       {"SIM1", 0},       {"sim2", 0},
        {"SIM3", EACCES},  {"Sim", EACCES},
    };
    for (const auto& [name, expected] : cases) {
        int error = -1;
        auto port = ports.open(name, error);
        EXPECT_EQ(error, expected) << name << ": " << systemMessage(error);
        EXPECT_EQ(port ? port->name() : "", expected == 0 ? name : "");
    }
    EXPECT_EQ(simulator.asked, (std::vector<std::string>{"SIM1", "sim2", "SIM3", "Sim"}));
    int error = 0;
    EXPECT_EQ(directory({{"SIM1", file("usb0")}}).open("SIM1", error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(PortDirectory::defaultDevicePath("com3") + PortDirectory::defaultDevicePath("COM0"), "/dev/ttyS2");
}

TEST_F(PortDirectoryTest, TheConsoleAndLockedPortsAreNamedAndNoPortIsSetUpByTheProbe)
{
    // COM5 is the kernel's console, COM6 locked by a live process (pid 1), COM7 by a dead one.
    std::vector<std::unique_ptr<test::PseudoTerminal>> ptys;
    for (int n = 4; n <= 9; ++n) {
        ptys.push_back(std::make_unique<test::PseudoTerminal>());
        std::filesystem::create_symlink(ptys.back()->slavePath(), m_dir / ("ttyS" + std::to_string(n)));
    }
    std::ofstream(m_dir / "cmdline") << "BOOT_IMAGE=/vmlinuz console=tty0 console=ttyS4,115200n8 quiet -- console=ttyS8\n";
    std::filesystem::create_directories(m_dir / "lock");
    std::ofstream(m_dir / "lock" / "LCK..ttyS5") << "         1\n";
    std::ofstream(m_dir / "lock" / "LCK..ttyS6") << "2147483600\n";
    PortDirectory ports = directory({});
    const auto settingsOf = [&](std::size_t i) {
        termios t{};
        EXPECT_EQ(::tcgetattr(ptys[i]->master(), &t), 0);
        return std::tuple(t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, ::cfgetospeed(&t));
    };
    const auto console = settingsOf(0), locked = settingsOf(1), usable = settingsOf(5);
    const std::tuple<const char*, int, std::string> cases[] = {
        {"COM5", EBUSY, "the kernel's console (console=ttyS4)"},
        {"COM6", EBUSY, "locked by process 1 (" + (m_dir / "lock" / "LCK..ttyS5").string() + ")"},
        {"COM7", 0, ""},  // the lock's process is gone
        {"COM8", 0, ""}, {"COM2", ENOENT, ""},
    };
    for (const auto& [name, expected, why] : cases) {
        std::string reason = "stale";
        EXPECT_EQ(ports.probe(name, reason), expected) << name << ": " << systemMessage(expected);
        EXPECT_EQ(reason, why);
        int error = -1;
        EXPECT_EQ(ports.open(name, error) != nullptr, expected == 0) << name;
        EXPECT_EQ(error, expected) << name;
    }
    // The console and the locked port were never opened, and a usable port is only looked at by
    // the probe: nothing set them up.
    std::string reason;
    EXPECT_EQ(ports.probe("COM10", reason), 0);
    EXPECT_TRUE(settingsOf(0) == console && settingsOf(1) == locked && settingsOf(5) == usable);
}

}  // namespace
}  // namespace peltra::platform
