// Port settings: per-port values with their defaults, the configured ports, and the start-up
// clean-up of port names written with a trailing colon.
#include "calls/PortSettings.h"

#include "support/ConfigTestStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace peltra::calls {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using test::Names;

constexpr const char* kPorts = "Software\\PELTRA\\Ports";

std::string portPath(const std::string& port)
{
    return std::string(kPorts) + "\\" + port;
}

RegistryValue dword(std::uint32_t n)
{
    return RegistryValue::dword(n);
}

// One per-port setting: its value name, its default, a value other than the default, whether any
// non-zero number reads as on, and its getter and setter seen through the value they read or write.
struct Param {
    const char* name;
    RegistryValue defaultValue;
    RegistryValue sample;
    bool isFlag;
    RegistryValue (*get)(PortSettings&, const std::string&);
    bool (*set)(PortSettings&, const std::string&, const RegistryValue&);
};

using P = PortSettings;
using S = const std::string&;
using V = const RegistryValue&;

const Param kParams[] = {
    {"CallMode", dword(1), dword(0), true, [](P& p, S port) { return dword(p.pulseDialing(port)); },
     [](P& p, S port, V v) { return p.setPulseDialing(port, v.asDword() != 0); }},
    {"RingOff", dword(1000), dword(2500), false, [](P& p, S port) { return dword(p.ringOffMs(port)); },
     [](P& p, S port, V v) { return p.setRingOffMs(port, v.asDword()); }},
    {"DelayFirst", dword(1000), dword(0), false, [](P& p, S port) { return dword(p.delayFirstMs(port)); },
     [](P& p, S port, V v) { return p.setDelayFirstMs(port, v.asDword()); }},
    {"WaitAnswer", dword(30), dword(0xFFFFFFFFu), false, [](P& p, S port) { return dword(p.waitAnswerS(port)); },
     [](P& p, S port, V v) { return p.setWaitAnswerS(port, v.asDword()); }},
    {"DelayW", dword(1000), dword(800), false, [](P& p, S port) { return dword(p.delayWMs(port)); },
     [](P& p, S port, V v) { return p.setDelayWMs(port, v.asDword()); }},
    {"NeedPrefix", dword(0), dword(1), true, [](P& p, S port) { return dword(p.needPrefix(port)); },
     [](P& p, S port, V v) { return p.setNeedPrefix(port, v.asDword() != 0); }},
    {"Prefix", RegistryValue::text(""), RegistryValue::text("044"), false,
     [](P& p, S port) { return RegistryValue::text(p.prefix(port)); },
     [](P& p, S port, V v) { return p.setPrefix(port, v.asText()); }},
    {"DelayP", dword(1000), dword(3000), false, [](P& p, S port) { return dword(p.delayPMs(port)); },
     [](P& p, S port, V v) { return p.setDelayPMs(port, v.asDword()); }},
    {"NeedPrefixTown", dword(0), dword(1), true, [](P& p, S port) { return dword(p.needPrefixTown(port)); },
     [](P& p, S port, V v) { return p.setNeedPrefixTown(port, v.asDword() != 0); }},
    {"PrefixTown", RegistryValue::text(""), RegistryValue::text("9"), false,
     [](P& p, S port) { return RegistryValue::text(p.prefixTown(port)); },
     [](P& p, S port, V v) { return p.setPrefixTown(port, v.asText()); }},
    {"TypeAnswer", dword(0), dword(1), true,
     [](P& p, S port) { return dword(static_cast<std::uint32_t>(p.answerType(port))); },
     [](P& p, S port, V v) { return p.setAnswerType(port, static_cast<AnswerType>(v.asDword())); }},
};

class PortSettingsTest : public ::testing::Test, protected test::ConfigTestStore {
protected:
    PortSettings m_settings{store};

    // Every value below a key, by "sub\key path|value name", to compare whole trees.
    std::map<std::string, RegistryValue> tree(const std::string& path, const std::string& prefix = "")
    {
        std::map<std::string, RegistryValue> result;
        for (const auto& value : registry.values(path))
            result.emplace(prefix + "|" + value.name, value.value);
        for (const std::string& sub : registry.subKeys(path)) {
            result.emplace(prefix + "\\" + sub, RegistryValue{});  // the key itself, even when empty
            result.merge(tree(path + "\\" + sub, prefix + "\\" + sub));
        }
        return result;
    }
};

TEST_F(PortSettingsTest, EachValueIsWrittenWithItsDefaultOnFirstReadAndAtOnceWhenSet)
{
    for (const Param& p : kParams) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(registry.deleteKey(portPath("COM2")));
        EXPECT_EQ(p.get(m_settings, "COM2"), p.defaultValue);
        const auto values = registry.values(portPath("COM2"));
        ASSERT_EQ(values.size(), 1u) << "only its own value";
        EXPECT_EQ(values[0].name, p.name);
        EXPECT_EQ(values[0].value, p.defaultValue);

        ASSERT_TRUE(p.set(m_settings, "COM3", p.sample));
        EXPECT_EQ(registry.getValue(portPath("COM3"), p.name), p.sample);
        EXPECT_EQ(p.get(m_settings, "COM3"), p.sample);
        if (p.isFlag) {
            ASSERT_TRUE(registry.setValue(portPath("COM4"), p.name, dword(0x100)));
            EXPECT_EQ(p.get(m_settings, "COM4"), dword(1)) << "any non-zero number is on";
            EXPECT_EQ(registry.getValue(portPath("COM4"), p.name), dword(0x100)) << "left as it is";
        }
    }
    // Reading and writing parameters does not make a port a line.
    EXPECT_TRUE(m_settings.configuredPorts().empty());
}

TEST_F(PortSettingsTest, ALineCallsWithTheValuesAnotherProcessWrote)
{
    RegistryStore other(dir / "registry.db");
    config::ConfigStore otherStore(other);
    PortSettings otherSettings(otherStore);
    StoredCallSettings stored(store);
    EXPECT_EQ(stored.callSettings("COM1").dial.delayPMs, 1000u);
    // The samples differ from each other, so that one read in another's place shows.
    for (const Param& p : kParams)
        ASSERT_TRUE(p.set(otherSettings, "com1", p.sample)) << p.name;  // port names ignore case
    const line::CallSettings s = stored.callSettings("COM1");
    EXPECT_EQ(std::tie(s.dial.pulseMode, s.dial.needPrefix, s.dial.needPrefixTown, s.pulseReversalAnswer),
              std::make_tuple(false, true, true, true));
    EXPECT_EQ(std::tie(s.ringOffMs, s.dial.delayFirstMs, s.waitAnswerS, s.dial.delayWMs, s.dial.delayPMs),
              std::make_tuple(2500u, 0u, 0xFFFFFFFFu, 800u, 3000u));
    EXPECT_EQ(std::tie(s.dial.prefix, s.dial.prefixTown), std::make_tuple("044", "9"));
}

TEST_F(PortSettingsTest, NamesThatAreNotPortNamesNeverReachThePortsKey)
{
    for (const std::string bad : {"", "COM1\\Deeper"}) {
        for (const Param& p : kParams) {
            SCOPED_TRACE(bad + " " + p.name);
            EXPECT_EQ(p.get(m_settings, bad), p.defaultValue);
            EXPECT_FALSE(p.set(m_settings, bad, p.sample));
        }
    }
    EXPECT_FALSE(m_settings.setConfiguredPorts({"COM1", ""}));
    EXPECT_FALSE(registry.keyExists(kPorts));
}

TEST_F(PortSettingsTest, ConfiguredPortsAreReplacedWholeAndKeepTheirParameterKeys)
{
    EXPECT_TRUE(m_settings.configuredPorts().empty());
    ASSERT_TRUE(m_settings.setConfiguredPorts({"COM2", "COM10", "SIM1"}));
    for (const auto& value : registry.values(kPorts))
        EXPECT_EQ(value.value, RegistryValue::text(value.name)) << "a port's value holds its own name";
    Names ports = m_settings.configuredPorts();
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, (Names{"COM10", "COM2", "SIM1"}));

    ASSERT_TRUE(m_settings.setRingOffMs("COM1", 2500));
    ASSERT_TRUE(m_settings.setDelayWMs("COM2", 900));
    // Foreign or stale values of Ports go too, whatever their type.
    ASSERT_TRUE(registry.setValue(kPorts, "Old", dword(3)));
    ASSERT_TRUE(registry.setValue(kPorts, "COM9:", RegistryValue::text("COM9:")));
    const auto parameters = tree(portPath("COM1"));

    ASSERT_TRUE(m_settings.setConfiguredPorts({"COM2", "COM5"}));
    EXPECT_EQ(m_settings.configuredPorts(), (Names{"COM2", "COM5"}));
    EXPECT_EQ(tree(portPath("COM1")), parameters);
    EXPECT_EQ(m_settings.delayWMs("COM2"), 900u);

    EXPECT_FALSE(m_settings.setConfiguredPorts({"COM7", "A\\B"}));
    EXPECT_EQ(m_settings.configuredPorts(), (Names{"COM2", "COM5"})) << "a refused list changes nothing";

    // No lines at all is a valid configuration; the parameter keys still stay.
    ASSERT_TRUE(m_settings.setConfiguredPorts({}));
    EXPECT_TRUE(m_settings.configuredPorts().empty());
    EXPECT_EQ(registry.subKeys(kPorts), (Names{"COM1", "COM2"}));

    // Device paths of ports live beside them, one value per port.
    EXPECT_TRUE(m_settings.setDevicePath("com2", "/dev/ttyS1"));
    EXPECT_TRUE(m_settings.setDevicePath("COM5", "/dev/ttyUSB0"));
    EXPECT_TRUE(m_settings.setDevicePath("COM2", ""));  // a path stored under another case goes too
    EXPECT_EQ(m_settings.deviceMap(), (std::map<std::string, std::string>{{"COM5", "/dev/ttyUSB0"}}));
    EXPECT_TRUE(m_settings.configuredPorts().empty());
}

TEST_F(PortSettingsTest, CleanUpRemovesTrailingColonsAndMovesKeysWithEverythingTheyHold)
{
    EXPECT_TRUE(m_settings.removeTrailingColons()) << "no Ports key yet";
    struct Case {
        const char* name;
        const char* data;
        const char* fixedName;
        const char* fixedData;
    };
    const Case cases[] = {
        {"COM3:", "COM3:", "COM3", "COM3"},
        {"COM4", "COM4:", "COM4", "COM4"},  // only the data
        {"COM6:", "COM6", "COM6", "COM6"},  // only the name
        {"COM7::", "COM7::", "COM7", "COM7"},
        {"COM1", "COM1", "COM1", "COM1"},      // nothing to do
        {"COM:8", "COM:8", "COM:8", "COM:8"},  // a colon inside is not a trailing one
    };
    for (const Case& c : cases)
        ASSERT_TRUE(registry.setValue(kPorts, c.name, RegistryValue::text(c.data)));
    ASSERT_TRUE(registry.setValue(portPath("COM3:"), "CallMode", dword(0)));
    ASSERT_TRUE(registry.setValue(portPath("COM3:"), "Prefix", RegistryValue::text("044")));
    ASSERT_TRUE(registry.setValue(portPath("COM3:") + "\\Modem", "Init", RegistryValue::text("ATZ")));
    ASSERT_TRUE(registry.createKey(portPath("COM3:") + "\\Modem\\Empty"));
    const auto held = tree(portPath("COM3:"));
    // Merging into an existing key keeps that key's other values.
    ASSERT_TRUE(registry.setValue(portPath("COM5"), "DelayP", dword(700)));
    ASSERT_TRUE(registry.setValue(portPath("COM5:"), "RingOff", dword(2000)));
    ASSERT_TRUE(registry.setValue(portPath("COM1"), "RingOff", dword(1500)));
    const auto untouched = tree(portPath("COM1"));
    // A key named only by colons has no port to move to; moved, its parameters would pour into
    // "Ports" itself and read as configured ports.
    ASSERT_TRUE(registry.setValue(portPath(":") + "\\Inner", "X", dword(1)));

    ASSERT_TRUE(m_settings.removeTrailingColons());

    EXPECT_EQ(registry.values(kPorts).size(), std::size(cases));
    for (const Case& c : cases)
        EXPECT_EQ(registry.getValue(kPorts, c.fixedName), RegistryValue::text(c.fixedData)) << c.name;
    EXPECT_EQ(registry.subKeys(kPorts), (Names{":", "COM1", "COM3", "COM5"}));
    EXPECT_EQ(tree(portPath("COM3")), held);
    EXPECT_FALSE(m_settings.pulseDialing("COM3"));
    EXPECT_EQ(m_settings.delayPMs("COM5"), 700u);
    EXPECT_EQ(m_settings.ringOffMs("COM5"), 2000u);
    EXPECT_EQ(tree(portPath("COM1")), untouched);

    const auto once = tree(kPorts);
    ASSERT_TRUE(m_settings.removeTrailingColons());
    EXPECT_EQ(tree(kPorts), once) << "a second clean-up changes nothing";
}

}  // namespace
}  // namespace peltra::calls
