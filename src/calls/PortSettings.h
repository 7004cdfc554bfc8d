// Which serial ports serve as lines, and how each line dials and recognises an answer: the
// "Ports" branch of the configuration tree.
#pragma once

#include "config/ConfigStore.h"
#include "line/LineInterfaces.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace peltra::calls {

// How the exchange signals the answer.
enum class AnswerType : std::uint32_t {
    LongReversal = 0,   // the line stays reversed while the party listens; normal polarity is a hang-up
    PulseReversal = 1,  // a short reversal marks the answer; normal polarity is not a hang-up
};

// Every getter reads the store afresh, creating the port's sub-key and writing the default when
// the value is missing, so a change takes effect from the next call on. Every setter writes at
// once. An empty port name, or one with a backslash, reads as the defaults and is never written.
// Safe to call from any thread.
class PortSettings {
public:
    explicit PortSettings(config::ConfigStore& store);

    bool pulseDialing(const std::string& port);          // CallMode, default on
    std::uint32_t ringOffMs(const std::string& port);    // RingOff, default 1000 ms
    std::uint32_t delayFirstMs(const std::string& port); // DelayFirst, default 1000 ms
    std::uint32_t waitAnswerS(const std::string& port);  // WaitAnswer, default 30 s
    std::uint32_t delayWMs(const std::string& port);     // DelayW, default 1000 ms
    bool needPrefix(const std::string& port);            // NeedPrefix, default off
    std::string prefix(const std::string& port);         // Prefix, default ""
    std::uint32_t delayPMs(const std::string& port);     // DelayP, default 1000 ms
    bool needPrefixTown(const std::string& port);        // NeedPrefixTown, default off
    std::string prefixTown(const std::string& port);     // PrefixTown, default ""
    AnswerType answerType(const std::string& port);      // TypeAnswer, default long reversal

    bool setPulseDialing(const std::string& port, bool pulse);
    bool setRingOffMs(const std::string& port, std::uint32_t ms);
    bool setDelayFirstMs(const std::string& port, std::uint32_t ms);
    bool setWaitAnswerS(const std::string& port, std::uint32_t seconds);
    bool setDelayWMs(const std::string& port, std::uint32_t ms);
    bool setNeedPrefix(const std::string& port, bool on);
    bool setPrefix(const std::string& port, const std::string& digits);
    bool setDelayPMs(const std::string& port, std::uint32_t ms);
    bool setNeedPrefixTown(const std::string& port, bool on);
    bool setPrefixTown(const std::string& port, const std::string& digit);
    bool setAnswerType(const std::string& port, AnswerType type);

    // The ports configured as lines, in the store's order.
    std::vector<std::string> configuredPorts();
    // Replaces the configured ports; their parameter sub-keys are left as they are. Fails,
    // changing nothing, when a name is not a port name.
    bool setConfiguredPorts(const std::vector<std::string>& ports);

    // Devices of ports that are not where their name puts them: the text values of
    // "Ports\Devices", port name → device path ("COM3" = "/dev/ttyUSB0"). COMn is otherwise
    // /dev/ttyS(n-1).
    std::map<std::string, std::string> deviceMap();
    // Maps a port to a device path; an empty path removes the mapping.
    bool setDevicePath(const std::string& port, const std::string& devicePath);

    // Older configurations wrote port names with a trailing colon ("COM1:"). Rewrites every such
    // value of "Ports" without it, and moves every such parameter sub-key, with all it holds, to
    // the name without it. Run once at start-up, before the lines are created.
    bool removeTrailingColons();

private:
    std::uint32_t number(const std::string& port, const char* name, std::uint32_t defaultValue);
    bool setNumber(const std::string& port, const char* name, std::uint32_t value);
    std::string text(const std::string& port, const char* name);
    bool setText(const std::string& port, const char* name, const std::string& value);

    config::ConfigStore& m_store;
};

// A line's call settings, read from the port's stored values when each call starts.
class StoredCallSettings : public line::CallSettingsSource {
public:
    explicit StoredCallSettings(config::ConfigStore& store) : m_ports(store) {}
    line::CallSettings callSettings(const std::string& port) override;

private:
    PortSettings m_ports;
};

}  // namespace peltra::calls
