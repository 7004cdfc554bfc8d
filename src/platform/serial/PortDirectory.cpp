// Port names to devices: the configured map, COMn as /dev/ttyS(n−1), SIMn to the simulator.
#include "platform/serial/PortDirectory.h"

#include "platform/serial/PosixSerialPort.h"
#include "platform/text/CaseFold.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>
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

std::string readSmallFile(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return {};
    std::ifstream in(path, std::ios::binary);
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// The names a device is known by in /dev: its own file name and, for a link such as
// /dev/serial/by-id/..., the name of the device it leads to.
std::vector<std::string> deviceNames(const std::string& device)
{
    const std::filesystem::path path(device);
    std::vector<std::string> names = {path.filename().string()};
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(path, ec);
    if (!ec && target.filename() != path.filename())
        names.push_back(target.filename().string());
    return names;
}

// The pid a UUCP lock file names: ten ASCII digits (HDB style) or, from old programs, a binary
// int; nothing when it holds neither.
std::optional<pid_t> lockHolder(const std::string& text)
{
    std::istringstream in(text);
    long pid = 0;
    if (in >> pid && pid > 0)
        return static_cast<pid_t>(pid);
    if (text.size() == sizeof(int)) {
        int binary = 0;
        text.copy(reinterpret_cast<char*>(&binary), sizeof binary);
        if (binary > 0)
            return binary;
    }
    return std::nullopt;
}

bool processLives(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
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

void PortDirectory::setHolderFiles(std::filesystem::path kernelCommandLine, std::filesystem::path lockFolder)
{
    m_kernelCommandLine = std::move(kernelCommandLine);
    m_lockFolder = std::move(lockFolder);
}

std::string PortDirectory::devicePath(const std::string& name) const
{
    if (const Mapping* mapping = findMapping(name))
        return mapping->devicePath;
    if (const int number = comNumber(name))
        return comDevice(m_deviceRoot, number);
    return {};
}

std::string PortDirectory::heldElsewhere(const std::string& device) const
{
    const std::vector<std::string> names = deviceNames(device);
    std::istringstream words(readSmallFile(m_kernelCommandLine));
    // Words after "--" are for init, not the kernel.
    for (std::string word; words >> word && word != "--";) {
        if (!word.starts_with("console="))
            continue;
        // console=ttyS0,115200n8: the device, then its settings.
        std::string console = word.substr(8);
        console.resize(std::min(console.size(), console.find(',')));
        for (const std::string& name : names) {
            if (name == console)
                return "the kernel's console (console=" + console + ")";
        }
    }
    for (const std::string& name : names) {
        const std::filesystem::path lock = m_lockFolder / ("LCK.." + name);
        const std::optional<pid_t> holder = lockHolder(readSmallFile(lock));
        if (holder && *holder != ::getpid() && processLives(*holder))
            return "locked by process " + std::to_string(*holder) + " (" + lock.string() + ")";
    }
    return {};
}

std::unique_ptr<SerialPort> PortDirectory::open(const std::string& name, int& error)
{
    error = ENOENT;
    if (hasPrefix(name, simPrefix))
        return m_simulator ? m_simulator->open(name, error) : nullptr;
    const std::string device = devicePath(name);
    if (device.empty())
        return nullptr;
    if (!heldElsewhere(device).empty()) {
        error = EBUSY;
        return nullptr;
    }
    return PosixSerialPort::open(device, name, error);
}

int PortDirectory::probe(const std::string& name, std::string& reason)
{
    reason.clear();
    if (hasPrefix(name, simPrefix))
        return m_simulator ? m_simulator->probe(name, reason) : ENOENT;
    const std::string device = devicePath(name);
    if (device.empty())
        return ENOENT;
    reason = heldElsewhere(device);
    if (!reason.empty())
        return EBUSY;
    return PosixSerialPort::probe(device);
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
