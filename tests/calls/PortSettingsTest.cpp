// Port settings: per-port values with their defaults, the configured ports, and the start-up
// clean-up of port names written with a trailing colon.
#include "calls/PortSettings.h"

#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace peltra::calls {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using platform::RegType;
using Names = std::vector<std::string>;

constexpr const char* kPorts = "Software\\PELTRA\\Ports";

class PortSettingsTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    config::ConfigStore m_store{m_registry};
    PortSettings m_settings{m_store};

    static std::string portPath(const std::string& port) { return std::string(kPorts) + "\\" + port; }

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

struct Default {
    const char* name;
    RegistryValue value;
};

const Default kDefaults[] = {
    {"CallMode", RegistryValue::dword(1)},      {"RingOff", RegistryValue::dword(1000)},
    {"DelayFirst", RegistryValue::dword(1000)}, {"WaitAnswer", RegistryValue::dword(30)},
    {"DelayW", RegistryValue::dword(1000)},     {"NeedPrefix", RegistryValue::dword(0)},
    {"Prefix", RegistryValue::text("")},        {"DelayP", RegistryValue::dword(1000)},
    {"NeedPrefixTown", RegistryValue::dword(0)}, {"PrefixTown", RegistryValue::text("")},
    {"TypeAnswer", RegistryValue::dword(0)},
};

TEST_F(PortSettingsTest, AFreshPortGetsAllElevenDefaultsWrittenOnFirstRead)
{
    EXPECT_TRUE(m_settings.pulseDialing("COM2"));
    EXPECT_EQ(m_settings.ringOffMs("COM2"), 1000u);
    EXPECT_EQ(m_settings.delayFirstMs("COM2"), 1000u);
    EXPECT_EQ(m_settings.waitAnswerS("COM2"), 30u);
    EXPECT_EQ(m_settings.delayWMs("COM2"), 1000u);
    EXPECT_FALSE(m_settings.needPrefix("COM2"));
    EXPECT_EQ(m_settings.prefix("COM2"), "");
    EXPECT_EQ(m_settings.delayPMs("COM2"), 1000u);
    EXPECT_FALSE(m_settings.needPrefixTown("COM2"));
    EXPECT_EQ(m_settings.prefixTown("COM2"), "");
    EXPECT_EQ(m_settings.answerType("COM2"), AnswerType::LongReversal);

    EXPECT_EQ(m_registry.values(portPath("COM2")).size(), std::size(kDefaults));
    for (const Default& d : kDefaults) {
        SCOPED_TRACE(d.name);
        const auto value = m_registry.getValue(portPath("COM2"), d.name);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, d.value.type);
        EXPECT_EQ(*value, d.value);
    }
    // Reading parameters does not make the port a line, nor touch other ports.
    EXPECT_TRUE(m_settings.configuredPorts().empty());
    EXPECT_EQ(m_registry.subKeys(kPorts), Names{"COM2"});
}

TEST_F(PortSettingsTest, EachGetterCreatesOnlyItsOwnValue)
{
    const std::vector<std::pair<const char*, std::function<void()>>> getters = {
        {"CallMode", [&] { m_settings.pulseDialing("COM1"); }},
        {"RingOff", [&] { m_settings.ringOffMs("COM1"); }},
        {"DelayFirst", [&] { m_settings.delayFirstMs("COM1"); }},
        {"WaitAnswer", [&] { m_settings.waitAnswerS("COM1"); }},
        {"DelayW", [&] { m_settings.delayWMs("COM1"); }},
        {"NeedPrefix", [&] { m_settings.needPrefix("COM1"); }},
        {"Prefix", [&] { m_settings.prefix("COM1"); }},
        {"DelayP", [&] { m_settings.delayPMs("COM1"); }},
        {"NeedPrefixTown", [&] { m_settings.needPrefixTown("COM1"); }},
        {"PrefixTown", [&] { m_settings.prefixTown("COM1"); }},
        {"TypeAnswer", [&] { m_settings.answerType("COM1"); }},
    };
    for (const auto& [name, get] : getters) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(m_registry.deleteKey(portPath("COM1")));
        get();
        const auto values = m_registry.values(portPath("COM1"));
        ASSERT_EQ(values.size(), 1u);
        EXPECT_EQ(values[0].name, name);
    }
}

TEST_F(PortSettingsTest, NumberSettersRoundTrip)
{
    struct Setting {
        const char* name;
        bool (PortSettings::*set)(const std::string&, std::uint32_t);
        std::uint32_t (PortSettings::*get)(const std::string&);
    };
    const Setting settings[] = {
        {"RingOff", &PortSettings::setRingOffMs, &PortSettings::ringOffMs},
        {"DelayFirst", &PortSettings::setDelayFirstMs, &PortSettings::delayFirstMs},
        {"WaitAnswer", &PortSettings::setWaitAnswerS, &PortSettings::waitAnswerS},
        {"DelayW", &PortSettings::setDelayWMs, &PortSettings::delayWMs},
        {"DelayP", &PortSettings::setDelayPMs, &PortSettings::delayPMs},
    };
    for (const Setting& s : settings) {
        for (const std::uint32_t value : {800u, 3000u, 10000u, 5u, 0u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(std::string(s.name) + " = " + std::to_string(value));
            ASSERT_TRUE((m_settings.*s.set)("COM3", value));
            EXPECT_EQ(m_registry.getValue(portPath("COM3"), s.name), RegistryValue::dword(value));
            EXPECT_EQ((m_settings.*s.get)("COM3"), value);
            // The same setting of another port keeps its default.
            EXPECT_EQ((m_settings.*s.get)("COM4"), s.name == std::string("WaitAnswer") ? 30u : 1000u);
        }
    }
}

TEST_F(PortSettingsTest, FlagAndTextSettersRoundTrip)
{
    struct Flag {
        const char* name;
        bool (PortSettings::*set)(const std::string&, bool);
        bool (PortSettings::*get)(const std::string&);
    };
    const Flag flags[] = {
        {"CallMode", &PortSettings::setPulseDialing, &PortSettings::pulseDialing},
        {"NeedPrefix", &PortSettings::setNeedPrefix, &PortSettings::needPrefix},
        {"NeedPrefixTown", &PortSettings::setNeedPrefixTown, &PortSettings::needPrefixTown},
    };
    for (const Flag& f : flags) {
        for (const bool on : {false, true, false}) {
            SCOPED_TRACE(std::string(f.name) + (on ? " on" : " off"));
            ASSERT_TRUE((m_settings.*f.set)("COM1", on));
            EXPECT_EQ(m_registry.getValue(portPath("COM1"), f.name), RegistryValue::dword(on ? 1 : 0));
            EXPECT_EQ((m_settings.*f.get)("COM1"), on);
        }
    }

    ASSERT_TRUE(m_settings.setPrefix("COM1", "044"));
    ASSERT_TRUE(m_settings.setPrefixTown("COM1", "9"));
    EXPECT_EQ(m_settings.prefix("COM1"), "044");
    EXPECT_EQ(m_settings.prefixTown("COM1"), "9");
    EXPECT_EQ(m_registry.getValue(portPath("COM1"), "Prefix"), RegistryValue::text("044"));
    EXPECT_EQ(m_registry.getValue(portPath("COM1"), "PrefixTown"), RegistryValue::text("9"));
    ASSERT_TRUE(m_settings.setPrefix("COM1", ""));
    EXPECT_EQ(m_settings.prefix("COM1"), "");
    EXPECT_EQ(m_settings.prefixTown("COM1"), "9");
}

TEST_F(PortSettingsTest, AnswerTypeIsTestedForNonZero)
{
    struct Case {
        std::uint32_t stored;
        AnswerType expected;
    };
    const Case cases[] = {
        {0, AnswerType::LongReversal},
        {1, AnswerType::PulseReversal},
        {5, AnswerType::PulseReversal},
        {0x100, AnswerType::PulseReversal},
        {0xFFFFFFFFu, AnswerType::PulseReversal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(m_registry.setValue(portPath("COM1"), "TypeAnswer", RegistryValue::dword(c.stored)));
        EXPECT_EQ(m_settings.answerType("COM1"), c.expected);
        EXPECT_EQ(m_registry.getValue(portPath("COM1"), "TypeAnswer"), RegistryValue::dword(c.stored));
    }

    ASSERT_TRUE(m_settings.setAnswerType("COM1", AnswerType::PulseReversal));
    EXPECT_EQ(m_registry.getValue(portPath("COM1"), "TypeAnswer"), RegistryValue::dword(1));
    ASSERT_TRUE(m_settings.setAnswerType("COM1", AnswerType::LongReversal));
    EXPECT_EQ(m_registry.getValue(portPath("COM1"), "TypeAnswer"), RegistryValue::dword(0));

    // Dialing mode likewise: any non-zero CallMode is pulse, 0 is tone.
    ASSERT_TRUE(m_registry.setValue(portPath("COM1"), "CallMode", RegistryValue::dword(0)));
    EXPECT_FALSE(m_settings.pulseDialing("COM1"));
    ASSERT_TRUE(m_registry.setValue(portPath("COM1"), "CallMode", RegistryValue::dword(2)));
    EXPECT_TRUE(m_settings.pulseDialing("COM1"));
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

// Configured ports.

TEST_F(PortSettingsTest, ConfiguredPortsAreValuesWhoseNameAndDataAreThePortName)
{
    EXPECT_TRUE(m_settings.configuredPorts().empty());
    ASSERT_TRUE(m_settings.setConfiguredPorts({"COM2", "COM10", "SIM1"}));
    const auto values = m_registry.values(kPorts);
    ASSERT_EQ(values.size(), 3u);
    for (const auto& value : values) {
        SCOPED_TRACE(value.name);
        EXPECT_EQ(value.value, RegistryValue::text(value.name));
    }
    Names ports = m_settings.configuredPorts();
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, (Names{"COM10", "COM2", "SIM1"}));
}

TEST_F(PortSettingsTest, SettingThePortsReplacesAllValuesAndKeepsParameterKeys)
{
    ASSERT_TRUE(m_settings.setConfiguredPorts({"COM1", "COM2"}));
    ASSERT_TRUE(m_settings.setRingOffMs("COM1", 2500));
    ASSERT_TRUE(m_settings.setPrefix("COM1", "044"));
    ASSERT_TRUE(m_settings.setDelayWMs("COM2", 900));
    // Foreign or stale values of Ports go too, whatever their type.
    ASSERT_TRUE(m_registry.setValue(kPorts, "Old", RegistryValue::dword(3)));
    ASSERT_TRUE(m_registry.setValue(kPorts, "COM9:", RegistryValue::text("COM9:")));
    const auto parametersBefore = tree(portPath("COM1"));

    // Removing COM1 drops its value but not its parameters.
    ASSERT_TRUE(m_settings.setConfiguredPorts({"COM2", "COM5"}));
    Names ports = m_settings.configuredPorts();
    EXPECT_EQ(ports, (Names{"COM2", "COM5"}));
    EXPECT_EQ(tree(portPath("COM1")), parametersBefore);
    EXPECT_EQ(m_settings.delayWMs("COM2"), 900u);

    // Adding it back restores its old parameters.
    ASSERT_TRUE(m_settings.setConfiguredPorts({"COM1", "COM2", "COM5"}));
    EXPECT_EQ(m_settings.ringOffMs("COM1"), 2500u);
    EXPECT_EQ(m_settings.prefix("COM1"), "044");

    // No lines at all is a valid configuration; the parameter keys still stay.
    ASSERT_TRUE(m_settings.setConfiguredPorts({}));
    EXPECT_TRUE(m_settings.configuredPorts().empty());
    EXPECT_EQ(m_registry.subKeys(kPorts), (Names{"COM1", "COM2"}));
}

// The clean-up of trailing colons.

TEST_F(PortSettingsTest, CleanUpMovesAColonPortWithEverythingItHolds)
{
    ASSERT_TRUE(m_registry.setValue(kPorts, "COM3:", RegistryValue::text("COM3:")));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:"), "CallMode", RegistryValue::dword(0)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:"), "RingOff", RegistryValue::dword(2000)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:"), "Prefix", RegistryValue::text("044")));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:") + "\\Modem", "Init", RegistryValue::text("ATZ")));
    ASSERT_TRUE(m_registry.createKey(portPath("COM3:") + "\\Modem\\Empty"));
    const auto held = tree(portPath("COM3:"));

    ASSERT_TRUE(m_settings.removeTrailingColons());

    EXPECT_EQ(m_settings.configuredPorts(), Names{"COM3"});
    EXPECT_EQ(m_registry.getValue(kPorts, "COM3"), RegistryValue::text("COM3"));
    EXPECT_EQ(m_registry.subKeys(kPorts), Names{"COM3"});
    EXPECT_FALSE(m_registry.keyExists(portPath("COM3:")));
    EXPECT_EQ(tree(portPath("COM3")), held);
    EXPECT_FALSE(m_settings.pulseDialing("COM3"));
    EXPECT_EQ(m_settings.ringOffMs("COM3"), 2000u);
    EXPECT_EQ(m_settings.prefix("COM3"), "044");
}

TEST_F(PortSettingsTest, CleanUpFixesEachKindOfColonAndLeavesTheRestAlone)
{
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
        {"COM1", "COM1", "COM1", "COM1"},   // nothing to do
        {"SIM2", "SIM2", "SIM2", "SIM2"},
        {"COM:8", "COM:8", "COM:8", "COM:8"},  // a colon inside is not a trailing one
    };
    for (const Case& c : cases)
        ASSERT_TRUE(m_registry.setValue(kPorts, c.name, RegistryValue::text(c.data)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM1"), "RingOff", RegistryValue::dword(1500)));
    const auto untouched = tree(portPath("COM1"));

    ASSERT_TRUE(m_settings.removeTrailingColons());

    const auto values = m_registry.values(kPorts);
    EXPECT_EQ(values.size(), std::size(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(m_registry.getValue(kPorts, c.fixedName), RegistryValue::text(c.fixedData));
    }
    for (const auto& value : values) {
        EXPECT_NE(value.name.back(), ':') << value.name;
        EXPECT_NE(value.value.asText().back(), ':') << value.name;
    }
    EXPECT_EQ(tree(portPath("COM1")), untouched);
}

TEST_F(PortSettingsTest, CleanUpMergesIntoAnExistingKeyWithoutLosingItsOtherValues)
{
    ASSERT_TRUE(m_registry.setValue(portPath("COM5"), "DelayP", RegistryValue::dword(700)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM5:"), "RingOff", RegistryValue::dword(2000)));
    ASSERT_TRUE(m_settings.removeTrailingColons());
    EXPECT_EQ(m_registry.subKeys(kPorts), Names{"COM5"});
    EXPECT_EQ(m_settings.delayPMs("COM5"), 700u);
    EXPECT_EQ(m_settings.ringOffMs("COM5"), 2000u);
}

TEST_F(PortSettingsTest, CleanUpTwiceChangesNothingMore)
{
    ASSERT_TRUE(m_registry.setValue(kPorts, "COM3:", RegistryValue::text("COM3:")));
    ASSERT_TRUE(m_registry.setValue(kPorts, "COM4", RegistryValue::text("COM4:")));
    ASSERT_TRUE(m_registry.setValue(kPorts, "COM1", RegistryValue::text("COM1")));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:") + "\\Nested", "X", RegistryValue::dword(1)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM3:"), "WaitAnswer", RegistryValue::dword(45)));
    ASSERT_TRUE(m_registry.setValue(portPath("COM1"), "WaitAnswer", RegistryValue::dword(60)));

    ASSERT_TRUE(m_settings.removeTrailingColons());
    const auto once = tree(kPorts);
    ASSERT_TRUE(m_settings.removeTrailingColons());
    EXPECT_EQ(tree(kPorts), once);
    EXPECT_EQ(m_settings.waitAnswerS("COM3"), 45u);
    EXPECT_EQ(m_settings.waitAnswerS("COM1"), 60u);
}

TEST_F(PortSettingsTest, CleanUpOfAnEmptyOrMissingPortsKeySucceeds)
{
    EXPECT_TRUE(m_settings.removeTrailingColons());
    ASSERT_TRUE(m_registry.createKey(kPorts));
    EXPECT_TRUE(m_settings.removeTrailingColons());
    EXPECT_TRUE(tree(kPorts).empty());
}

TEST_F(PortSettingsTest, CleanUpNeverMovesAKeyNamedOnlyByColonsOntoThePortsKey)
{
    // A key whose name is only colons has no port name to move to. Moving it would pour its
    // parameters into "Ports" itself, where they would read as configured ports.
    ASSERT_TRUE(m_settings.setConfiguredPorts({"COM1"}));
    ASSERT_TRUE(m_registry.setValue(portPath(":"), "CallMode", RegistryValue::dword(1)));
    ASSERT_TRUE(m_registry.setValue(portPath(":") + "\\Inner", "X", RegistryValue::dword(1)));

    m_settings.removeTrailingColons();

    EXPECT_EQ(m_settings.configuredPorts(), Names{"COM1"});
    EXPECT_FALSE(m_registry.keyExists(portPath("Inner")));
}

TEST(PortSettingsUnusable, GettersGiveDefaultsAndChangesFail)
{
    test::TempDir dir;
    std::ofstream(dir / "registry.db") << "not a store";
    RegistryStore registry(dir / "registry.db");
    ASSERT_FALSE(registry.isOpen());
    config::ConfigStore store(registry);
    PortSettings settings(store);

    EXPECT_TRUE(settings.pulseDialing("COM1"));
    EXPECT_EQ(settings.ringOffMs("COM1"), 1000u);
    EXPECT_EQ(settings.delayFirstMs("COM1"), 1000u);
    EXPECT_EQ(settings.waitAnswerS("COM1"), 30u);
    EXPECT_EQ(settings.delayWMs("COM1"), 1000u);
    EXPECT_FALSE(settings.needPrefix("COM1"));
    EXPECT_EQ(settings.prefix("COM1"), "");
    EXPECT_EQ(settings.delayPMs("COM1"), 1000u);
    EXPECT_FALSE(settings.needPrefixTown("COM1"));
    EXPECT_EQ(settings.prefixTown("COM1"), "");
    EXPECT_EQ(settings.answerType("COM1"), AnswerType::LongReversal);

    EXPECT_FALSE(settings.setRingOffMs("COM1", 2000));
    EXPECT_FALSE(settings.setPrefix("COM1", "8"));
    EXPECT_FALSE(settings.setConfiguredPorts({"COM1"}));
    EXPECT_TRUE(settings.configuredPorts().empty());
    EXPECT_FALSE(settings.removeTrailingColons());
}

}  // namespace
}  // namespace peltra::calls

namespace peltra::calls {
namespace {

TEST_F(PortSettingsTest, NamesThatAreNotPortNamesNeverReachThePortsKey)
{
    for (const std::string bad : {"", "COM1\\Deeper"}) {
        EXPECT_EQ(m_settings.ringOffMs(bad), 1000u) << bad;
        EXPECT_EQ(m_settings.prefix(bad), "") << bad;
        EXPECT_FALSE(m_settings.setRingOffMs(bad, 900)) << bad;
        EXPECT_FALSE(m_settings.setPrefixTown(bad, "9")) << bad;
    }
    EXPECT_FALSE(m_settings.setConfiguredPorts({"COM1", ""}));
    EXPECT_TRUE(m_registry.values(kPorts).empty());
    EXPECT_TRUE(m_registry.subKeys(kPorts).empty());
}

}  // namespace
}  // namespace peltra::calls
