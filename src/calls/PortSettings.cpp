// The "Ports" branch of the configuration tree.
#include "calls/PortSettings.h"

#include "platform/text/CaseFold.h"

namespace peltra::calls {
namespace {

const std::string kPorts = "Ports";
const std::string kDevices = "Ports\\Devices";

std::string portKey(const std::string& port)
{
    return kPorts + "\\" + port;
}

std::string withoutTrailingColons(std::string name)
{
    while (!name.empty() && name.back() == ':')
        name.pop_back();
    return name;
}

// A port name must name a sub-key of its own, never "Ports" itself or a deeper key.
bool isPortName(const std::string& port)
{
    return !port.empty() && port.find('\\') == std::string::npos;
}

bool endsWithColon(const std::string& name)
{
    return !name.empty() && name.back() == ':';
}

}  // namespace

PortSettings::PortSettings(config::ConfigStore& store) : m_store(store) {}

std::uint32_t PortSettings::number(const std::string& port, const char* name, std::uint32_t defaultValue)
{
    return isPortName(port) ? m_store.readNumber(portKey(port), name, defaultValue) : defaultValue;
}

bool PortSettings::setNumber(const std::string& port, const char* name, std::uint32_t value)
{
    return isPortName(port) && m_store.writeNumber(portKey(port), name, value);
}

std::string PortSettings::text(const std::string& port, const char* name)
{
    return isPortName(port) ? m_store.readText(portKey(port), name, "") : std::string();
}

bool PortSettings::setText(const std::string& port, const char* name, const std::string& value)
{
    return isPortName(port) && m_store.writeText(portKey(port), name, value);
}

bool PortSettings::pulseDialing(const std::string& port) { return number(port, "CallMode", 1) != 0; }
std::uint32_t PortSettings::ringOffMs(const std::string& port) { return number(port, "RingOff", 1000); }
std::uint32_t PortSettings::delayFirstMs(const std::string& port) { return number(port, "DelayFirst", 1000); }
std::uint32_t PortSettings::waitAnswerS(const std::string& port) { return number(port, "WaitAnswer", 30); }
std::uint32_t PortSettings::delayWMs(const std::string& port) { return number(port, "DelayW", 1000); }
bool PortSettings::needPrefix(const std::string& port) { return number(port, "NeedPrefix", 0) != 0; }
std::string PortSettings::prefix(const std::string& port) { return text(port, "Prefix"); }
std::uint32_t PortSettings::delayPMs(const std::string& port) { return number(port, "DelayP", 1000); }
bool PortSettings::needPrefixTown(const std::string& port) { return number(port, "NeedPrefixTown", 0) != 0; }
std::string PortSettings::prefixTown(const std::string& port) { return text(port, "PrefixTown"); }
AnswerType PortSettings::answerType(const std::string& port)
{
    return number(port, "TypeAnswer", 0) != 0 ? AnswerType::PulseReversal : AnswerType::LongReversal;
}

bool PortSettings::setPulseDialing(const std::string& port, bool pulse) { return setNumber(port, "CallMode", pulse ? 1 : 0); }
bool PortSettings::setRingOffMs(const std::string& port, std::uint32_t ms) { return setNumber(port, "RingOff", ms); }
bool PortSettings::setDelayFirstMs(const std::string& port, std::uint32_t ms) { return setNumber(port, "DelayFirst", ms); }
bool PortSettings::setWaitAnswerS(const std::string& port, std::uint32_t s) { return setNumber(port, "WaitAnswer", s); }
bool PortSettings::setDelayWMs(const std::string& port, std::uint32_t ms) { return setNumber(port, "DelayW", ms); }
bool PortSettings::setNeedPrefix(const std::string& port, bool on) { return setNumber(port, "NeedPrefix", on ? 1 : 0); }
bool PortSettings::setPrefix(const std::string& port, const std::string& digits)
{
    return setText(port, "Prefix", digits);
}
bool PortSettings::setDelayPMs(const std::string& port, std::uint32_t ms) { return setNumber(port, "DelayP", ms); }
bool PortSettings::setNeedPrefixTown(const std::string& port, bool on)
{
    return setNumber(port, "NeedPrefixTown", on ? 1 : 0);
}
bool PortSettings::setPrefixTown(const std::string& port, const std::string& digit)
{
    return setText(port, "PrefixTown", digit);
}
bool PortSettings::setAnswerType(const std::string& port, AnswerType type)
{
    return setNumber(port, "TypeAnswer", static_cast<std::uint32_t>(type));
}

std::map<std::string, std::string> PortSettings::deviceMap()
{
    std::map<std::string, std::string> devices;
    for (const auto& value : m_store.registry().values(config::ConfigStore::fullPath(kDevices))) {
        const std::string path = value.value.asText();
        if (!path.empty())
            devices.emplace(value.name, path);
    }
    return devices;
}

bool PortSettings::setDevicePath(const std::string& port, const std::string& devicePath)
{
    if (!isPortName(port))
        return false;
    if (devicePath.empty()) {
        auto& registry = m_store.registry();
        const std::string key = config::ConfigStore::fullPath(kDevices);
        for (const auto& value : registry.values(key)) {
            if (platform::equalsIgnoreCase(value.name, port))
                return registry.deleteValue(key, value.name);
        }
        return true;
    }
    return m_store.writeText(kDevices, port, devicePath);
}

std::vector<std::string> PortSettings::configuredPorts()
{
    std::vector<std::string> ports;
    for (const auto& value : m_store.registry().values(config::ConfigStore::fullPath(kPorts)))
        ports.push_back(value.name);
    return ports;
}

bool PortSettings::setConfiguredPorts(const std::vector<std::string>& ports)
{
    auto& registry = m_store.registry();
    const std::string path = config::ConfigStore::fullPath(kPorts);
    return registry.transaction([&] {
        for (const auto& value : registry.values(path)) {
            if (!registry.deleteValue(path, value.name))
                return false;
        }
        for (const std::string& port : ports) {
            if (!isPortName(port) || !registry.setValue(path, port, platform::RegistryValue::text(port)))
                return false;
        }
        return true;
    });
}

bool PortSettings::removeTrailingColons()
{
    auto& registry = m_store.registry();
    const std::string path = config::ConfigStore::fullPath(kPorts);
    return registry.transaction([&] {
        for (const auto& value : registry.values(path)) {
            const std::string data = value.value.asText();
            if (!endsWithColon(value.name) && !endsWithColon(data))
                continue;
            const std::string name = withoutTrailingColons(value.name);
            if (name.empty())
                continue;  // a bare ":" would become the default value; leave it alone
            if (!registry.deleteValue(path, value.name) ||
                !registry.setValue(path, name, platform::RegistryValue::text(withoutTrailingColons(data))))
                return false;
        }
        for (const std::string& key : registry.subKeys(path)) {
            if (!endsWithColon(key) || withoutTrailingColons(key).empty())
                continue;  // a name of colons only has no port to move to
            const std::string from = path + "\\" + key;
            if (!registry.copyKey(from, path + "\\" + withoutTrailingColons(key)) || !registry.deleteKey(from))
                return false;
        }
        return true;
    });
}

}  // namespace peltra::calls

namespace peltra::calls {

line::CallSettings StoredCallSettings::callSettings(const std::string& port)
{
    line::CallSettings settings;
    settings.dial.pulseMode = m_ports.pulseDialing(port);
    settings.dial.delayFirstMs = m_ports.delayFirstMs(port);
    settings.dial.delayWMs = m_ports.delayWMs(port);
    settings.dial.delayPMs = m_ports.delayPMs(port);
    settings.dial.needPrefix = m_ports.needPrefix(port);
    settings.dial.prefix = m_ports.prefix(port);
    settings.dial.needPrefixTown = m_ports.needPrefixTown(port);
    settings.dial.prefixTown = m_ports.prefixTown(port);
    settings.ringOffMs = m_ports.ringOffMs(port);
    settings.waitAnswerS = m_ports.waitAnswerS(port);
    settings.pulseReversalAnswer = m_ports.answerType(port) == AnswerType::PulseReversal;
    return settings;
}

}  // namespace peltra::calls
