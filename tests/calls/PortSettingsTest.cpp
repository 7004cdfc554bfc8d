// Port settings: per-port values with their defaults, the configured ports, and the start-up
// clean-up of port names written with a trailing colon.
#include "calls/PortSettings.h"

#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace peltra::calls {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using Names = std::vector<std::string>;

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

class PortSettingsTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    config::ConfigStore m_store{m_registry};
    PortSettings m_settings{m_store};

    // Every value below a key, by "sub\key path|value name", to compare whole trees.
    std::map<std::string, RegistryValue> tree(const std::string& path, const std::string& prefix = "")
    {
        std::map<std::string, RegistryValue> result;
        for (const auto& value : m_registry.values(path))
            result.emplace(prefix + "|" + value.name, value.value);
        for (const std::string& sub : m_registry.subKeys(path)) {
            result.emplace(prefix + "\\" + sub, RegistryValue{});  // the key itself, even when empty
            result.merge(tree(path + "\\" + sub, prefix + "\\" + sub));
        }
        return result;
    }
};

TEST_F(PortSettingsTest, EachGetterWritesOnlyItsOwnDefaultOnFirstRead)
{
    for (const Param& p : kParams) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(m_registry.deleteKey(portPath("COM2")));
        EXPECT_EQ(p.get(m_settings, "COM2"), p.defaultValue);
        const auto values = m_registry.values(portPath("COM2"));
        ASSERT_EQ(values.size(), 1u);
        EXPECT_EQ(values[0].name, p.name);
        EXPECT_EQ(values[0].value, p.defaultValue);
    }
    // Reading parameters does not make the port a line, nor touch other ports.
    EXPECT_TRUE(m_settings.configuredPorts().empty());
    EXPECT_EQ(m_registry.subKeys(kPorts), Names{"COM2"});
}

TEST_F(PortSettingsTest, SettersWriteAtOnceForTheirPortOnly)
{
    for (const Param& p : kParams) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(p.set(m_settings, "COM3", p.sample));
        EXPECT_EQ(m_registry.getValue(portPath("COM3"), p.name), p.sample);
        EXPECT_EQ(p.get(m_settings, "COM3"), p.sample);
        EXPECT_EQ(p.get(m_settings, "COM4"), p.defaultValue);
        ASSERT_TRUE(p.set(m_settings, "COM3", p.defaultValue));
        EXPECT_EQ(m_registry.getValue(portPath("COM3"), p.name), p.defaultValue);
        if (p.isFlag) {
            ASSERT_TRUE(m_registry.setValue(portPath("COM3"), p.name, dword(0x100)));
            EXPECT_EQ(p.get(m_settings, "COM3"), dword(1)) << "any non-zero number is on";
            EXPECT_EQ(m_registry.getValue(portPath("COM3"), p.name), dword(0x100)) << "left as it is";
        }
    }
    EXPECT_EQ(m_registry.values(portPath("COM3")).size(), std::size(kParams));
}

TEST_F(PortSettingsTest, ValuesWrittenElsewhereTakeEffectOnTheNextRead)
{
    EXPECT_EQ(m_settings.ringOffMs("COM1"), 1000u);
    RegistryStore other(m_dir / "registry.db");
    config::ConfigStore otherStore(other);
    PortSettings otherSettings(otherStore);
    ASSERT_TRUE(otherSettings.setRingOffMs("COM1", 2200));
    ASSERT_TRUE(otherSettings.setPrefix("com1", "8"));  // port names ignore case
    EXPECT_EQ(m_settings.ringOffMs("COM1"), 2200u);
    EXPECT_EQ(m_settings.prefix("COM1"), "8");
    EXPECT_EQ(m_registry.subKeys(kPorts), Names{"COM1"});
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
    EXPECT_FALSE(m_registry.keyExists(kPorts));
}

TEST_F(PortSettingsTest, ConfiguredPortsAreReplacedWholeAndKeepTheirParameterKeys)
{
    EXPECT_TRUE(m_settings.configuredPorts().empty());
    ASSERT_TRUE(m_settings.setConfiguredPorts({"COM2", "COM10", "SIM1"}));
    for (const auto& value : m_registry.values(kPorts))
        EXPECT_EQ(value.value, RegistryValue::text(value.name)) << "a port's value holds its own name";
    Names ports = m_settings.configuredPorts();
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, (Names{"COM10", "COM2", "SIM1"}));

    ASSERT_TRUE(m_settings.setRingOffMs("COM1", 2500));
    ASSERT_TRUE(m_settings.setDelayWMs("COM2", 900));
    // Foreign or stale values of Ports go too, whatever their type.
    ASSERT_TRUE(m_registry.setValue(kPorts, "Old", dword(3)));
    ASSERT_TRUE(m_registry.setValue(kPorts, "COM9:", RegistryValue::text("COM9:")));
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
    EXPECT_EQ(m_registry.subKeys(kPorts), (Names{"COM1", "COM2"}));
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
        ASSERT_TRUE(m_registry.setValue(kPorts, c.name, RegistryValue::text(c.data)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:"), "CallMode", dword(0)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:"), "Prefix", RegistryValue::text("044")));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:") + "\\Modem", "Init", RegistryValue::text("ATZ")));
    ASSERT_TRUE(m_registry.createKey(portPath("COM3:") + "\\Modem\\Empty"));
    const auto held = tree(portPath("COM3:"));
    // Merging into an existing key keeps that key's other values.
    ASSERT_TRUE(m_registry.setValue(portPath("COM5"), "DelayP", dword(700)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM5:"), "RingOff", dword(2000)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM1"), "RingOff", dword(1500)));
    const auto untouched = tree(portPath("COM1"));
    // A key named only by colons has no port to move to; moved, its parameters would pour into
    // "Ports" itself and read as configured ports.
    ASSERT_TRUE(m_registry.setValue(portPath(":") + "\\Inner", "X", dword(1)));

    ASSERT_TRUE(m_settings.removeTrailingColons());

    EXPECT_EQ(m_registry.values(kPorts).size(), std::size(cases));
    for (const Case& c : cases)
        EXPECT_EQ(m_registry.getValue(kPorts, c.fixedName), RegistryValue::text(c.fixedData)) << c.name;
    EXPECT_EQ(m_registry.subKeys(kPorts), (Names{":", "COM1", "COM3", "COM5"}));
    EXPECT_EQ(tree(portPath("COM3")), held);
    EXPECT_FALSE(m_settings.pulseDialing("COM3"));
    EXPECT_EQ(m_settings.delayPMs("COM5"), 700u);
    EXPECT_EQ(m_settings.ringOffMs("COM5"), 2000u);
    EXPECT_EQ(tree(portPath("COM1")), untouched);

    const auto once = tree(kPorts);
    ASSERT_TRUE(m_settings.removeTrailingColons());
    EXPECT_EQ(tree(kPorts), once) << "a second clean-up changes nothing";
}

TEST(PortSettingsUnusable, GettersGiveDefaultsAndChangesFail)
{
    test::TempDir dir;
    std::ofstream(dir / "registry.db") << "not a store";
    RegistryStore registry(dir / "registry.db");
    ASSERT_FALSE(registry.isOpen());
    config::ConfigStore store(registry);
    PortSettings settings(store);
    for (const Param& p : kParams) {
        EXPECT_EQ(p.get(settings, "COM1"), p.defaultValue) << p.name;
        EXPECT_FALSE(p.set(settings, "COM1", p.sample)) << p.name;
    }
    EXPECT_FALSE(settings.setConfiguredPorts({"COM1"}));
    EXPECT_TRUE(settings.configuredPorts().empty());
    EXPECT_FALSE(settings.removeTrailingColons());
}

}  // namespace
}  // namespace peltra::calls
