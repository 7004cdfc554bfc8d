// Port names to devices: the configured map, COMn as /dev/ttyS(n−1), SIMn to the simulator.
#include "platform/serial/PortDirectory.h"

#include "platform/serial/PosixSerialPort.h"
#include "platform/text/CaseFold.h"

#include <cerrno>
#include <string_view>

namespace peltra::platform {

namespace {

constexpr std::string_view comPrefix = "COM";
constexpr std::string_view simPrefix = "SIM";

bool hasPrefix(const std::string& name, std::string_view prefix)
{
    return name.size() >= prefix.size() && equalsIgnoreCase(std::string_view(name).substr(0, prefix.size()), prefix);
}

// n of "COMn" for n in 1..256 written without leading zeros (Windows knows no "COM03"); else 0.
int comNumber(const std::string& name)
{
    if (!hasPrefix(name, comPrefix))
        return 0;
    const std::string_view digits = std::string_view(name).substr(comPrefix.size());
    if (digits.empty() || digits.size() > 3 || digits.front() == '0')
        return 0;
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + (c - '0');
    }
    return number <= PortDirectory::lastComNumber ? number : 0;
}

std::string comDevice(const std::string& root, int number)
{
    return root + std::to_string(number - 1);
}

}  // namespace

PortDirectory::PortDirectory(std::map<std::string, std::string> deviceMap, PortOpener* simulator)
    : m_simulator(simulator)
{
    for (auto& [name, path] : deviceMap) {
        if (hasPrefix(name, simPrefix) || findMapping(name))
            continue;
        m_mappings.push_back({name, std::move(path)});
    }
}

const PortDirectory::Mapping* PortDirectory::findMapping(const std::string& name) const
{
    for (const Mapping& mapping : m_mappings) {
        if (equalsIgnoreCase(mapping.name, name))
            return &mapping;
    }
    return nullptr;
}

std::unique_ptr<SerialPort> PortDirectory::open(const std::string& name, int& error)
{
    error = ENOENT;
    if (hasPrefix(name, simPrefix))
        return m_simulator ? m_simulator->open(name, error) : nullptr;
    std::string device;
    if (const Mapping* mapping = findMapping(name))
        device = mapping->devicePath;
    else if (const int number = comNumber(name))
        device = comDevice(m_deviceRoot, number);
    if (device.empty())
        return nullptr;
    return PosixSerialPort::open(device, name, error);
}

std::vector<std::string> PortDirectory::candidateNames()
{
    std::vector<std::string> names;
    for (int number = firstComNumber; number <= lastComNumber; ++number)
        names.push_back(std::string(comPrefix) + std::to_string(number));
    if (m_simulator) {
        for (std::string& name : m_simulator->candidateNames())
            names.push_back(std::move(name));
    }
    for (const Mapping& mapping : m_mappings) {
        if (comNumber(mapping.name) == 0)
            names.push_back(mapping.name);
    }
    return names;
}

std::string PortDirectory::defaultDevicePath(const std::string& comName)
{
    const int number = comNumber(comName);
    return number ? comDevice(standardDeviceRoot, number) : std::string();
}

}  // namespace peltra::platform
