// The station's port names and the devices behind them: COMn, names mapped by the configuration,
// and the simulator's SIMn lines.
#pragma once

#include "platform/serial/SerialPort.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace peltra::platform {

// Opens ports by name. A name configured in the device map opens its device; any other COMn (1 to
// 256) opens /dev/ttyS(n−1); a name starting with "SIM" goes to the simulator. Names are compared
// without regard to case ("com3" is "COM3"). Immutable once set up, so open and candidateNames may
// be called from any thread.
class PortDirectory : public PortOpener {
public:
    static constexpr int firstComNumber = 1;
    static constexpr int lastComNumber = 256;
    static constexpr const char* standardDeviceRoot = "/dev/ttyS";

    // deviceMap: port name → device path ("COM3" → "/dev/ttyUSB0"). Of names that differ only in
    // case, the first in map order counts. A mapped name starting with "SIM" is ignored: those
    // names belong to the simulator. simulator may be null (simulated lines switched off); it must
    // outlive the directory.
    explicit PortDirectory(std::map<std::string, std::string> deviceMap, PortOpener* simulator = nullptr);

    // The prefix of unmapped COMn devices, "/dev/ttyS" unless changed; set before first use.
    void setDeviceRoot(std::string root) { m_deviceRoot = std::move(root); }

    // Where the devices other programs hold are named: the kernel's command line, whose
    // console= device is the system console, and the folder of UUCP lock files (LCK..ttyS0 with
    // the holder's pid). /proc/cmdline and /var/lock unless changed; set before first use.
    void setHolderFiles(std::filesystem::path kernelCommandLine, std::filesystem::path lockFolder);

    // Fails with ENOENT for a name that is neither mapped, nor COM1..COM256, nor served by the
    // simulator; with EBUSY, without touching the device, for the kernel's console and a device
    // locked by a live process; otherwise as the device or the simulator fails. The port's
    // name() is name.
    std::unique_ptr<SerialPort> open(const std::string& name, int& error) override;

    // As open, with the reason for the console and a locked device: "the kernel's console
    // (console=ttyS0)", "locked by process 123 (/var/lock/LCK..ttyS0)".
    int probe(const std::string& name, std::string& reason) override;

    // "COM1" ... "COM256", the simulator's names, then the mapped names that are not COMn.
    std::vector<std::string> candidateNames() override;

    // The device of an unmapped COMn under the standard root: "/dev/ttyS2" for "COM3"; empty when
    // the name is not COM1..COM256.
    static std::string defaultDevicePath(const std::string& comName);

private:
    struct Mapping {
        std::string name;
        std::string devicePath;
    };

    const Mapping* findMapping(const std::string& name) const;
    // The device behind a COMn or mapped name; empty for any other.
    std::string devicePath(const std::string& name) const;
    // Why the device belongs to someone else (the console, a lock file); empty when it does not.
    std::string heldElsewhere(const std::string& device) const;

    std::vector<Mapping> m_mappings;  // in map order, one per name regardless of case
    PortOpener* m_simulator;
    std::string m_deviceRoot = standardDeviceRoot;
    std::filesystem::path m_kernelCommandLine = "/proc/cmdline";
    std::filesystem::path m_lockFolder = "/var/lock";
};

}  // namespace peltra::platform
