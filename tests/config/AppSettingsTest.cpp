// The station-wide settings: created with their defaults on first read, written at once, never cached.
#include "config/AppSettings.h"

#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using platform::RegType;

constexpr const char* kRoot = "Software\\PELTRA";

struct Flag {
    const char* name;
    bool (AppSettings::*get)();
    bool (AppSettings::*set)(bool);
};

const Flag kFlags[] = {
    {"Frozen", &AppSettings::frozen, &AppSettings::setFrozen},
    {"LocalPhone", &AppSettings::localPhone, &AppSettings::setLocalPhone},
    {"LocalPhoneUpdate", &AppSettings::localPhoneUpdate, &AppSettings::setLocalPhoneUpdate},
    {"LinkTaskPortManual", &AppSettings::linkTaskPortManual, &AppSettings::setLinkTaskPortManual},
    {"MinimizeLaunch", &AppSettings::minimizeLaunch, &AppSettings::setMinimizeLaunch},
    {"MinimizeIcon", &AppSettings::minimizeIcon, &AppSettings::setMinimizeIcon},
    {"AutoRun", &AppSettings::autoRun, &AppSettings::setAutoRun},
};

class AppSettingsTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
    AppSettings m_settings{m_store};

    std::optional<RegistryValue> stored(const std::string& name) { return m_registry.getValue(kRoot, name); }
};

TEST_F(AppSettingsTest, FirstReadOfEachValueCreatesItWithItsDefault)
{
    ASSERT_TRUE(m_registry.values(kRoot).empty());
    std::size_t created = 0;
    for (const Flag& flag : kFlags) {
        SCOPED_TRACE(flag.name);
        ASSERT_FALSE(stored(flag.name));
        EXPECT_FALSE((m_settings.*flag.get)());
        EXPECT_EQ(stored(flag.name), RegistryValue::dword(0));
        // Only the value that was read appears.
        EXPECT_EQ(m_registry.values(kRoot).size(), ++created);
    }

    ASSERT_FALSE(stored("LocalPhoneString"));
    EXPECT_EQ(m_settings.localPhoneString(), "");
    const auto text = stored("LocalPhoneString");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->type, RegType::Sz);
    EXPECT_TRUE(text->data.empty());
    EXPECT_EQ(m_registry.values(kRoot).size(), 8u);

    // All eight live directly under the station root, not at the top of the hive or below it.
    EXPECT_TRUE(m_registry.values("").empty());
    EXPECT_TRUE(m_registry.values("Software").empty());
    EXPECT_TRUE(m_registry.subKeys(kRoot).empty());
}

TEST_F(AppSettingsTest, FlagSettersRoundTripAndStoreZeroOrOne)
{
    for (const Flag& flag : kFlags) {
        SCOPED_TRACE(flag.name);
        ASSERT_TRUE((m_settings.*flag.set)(true));
        EXPECT_EQ(stored(flag.name), RegistryValue::dword(1));
        EXPECT_TRUE((m_settings.*flag.get)());
        // The other flags are untouched by this one.
        for (const Flag& other : kFlags) {
            if (&other != &flag) {
                EXPECT_NE(stored(other.name), RegistryValue::dword(1)) << other.name;
            }
        }
        ASSERT_TRUE((m_settings.*flag.set)(false));
        EXPECT_EQ(stored(flag.name), RegistryValue::dword(0));
        EXPECT_FALSE((m_settings.*flag.get)());
    }
}

TEST_F(AppSettingsTest, LocalPhoneStringRoundTrips)
{
    for (const std::string number : {"0612345678", "8W044 123-45-67", "", "Дом"}) {
        SCOPED_TRACE(number);
        ASSERT_TRUE(m_settings.setLocalPhoneString(number));
        EXPECT_EQ(stored("LocalPhoneString"), RegistryValue::text(number));
        EXPECT_EQ(m_settings.localPhoneString(), number);
    }
}

TEST_F(AppSettingsTest, AnyNonZeroNumberIsOn)
{
    for (const Flag& flag : kFlags) {
        SCOPED_TRACE(flag.name);
        for (const std::uint32_t value : {7u, 0x100u, 0xFFFFFFFFu}) {
            ASSERT_TRUE(m_registry.setValue(kRoot, flag.name, RegistryValue::dword(value)));
            EXPECT_TRUE((m_settings.*flag.get)()) << value;
            EXPECT_EQ(stored(flag.name), RegistryValue::dword(value)) << "a read must not rewrite it";
        }
    }
}

TEST_F(AppSettingsTest, DeletingAValueResetsItToItsDefaultOnTheNextRead)
{
    for (const Flag& flag : kFlags) {
        SCOPED_TRACE(flag.name);
        ASSERT_TRUE((m_settings.*flag.set)(true));
        ASSERT_TRUE(m_registry.deleteValue(kRoot, flag.name));
        EXPECT_FALSE((m_settings.*flag.get)());
        EXPECT_EQ(stored(flag.name), RegistryValue::dword(0));
    }
    ASSERT_TRUE(m_settings.setLocalPhoneString("123"));
    ASSERT_TRUE(m_registry.deleteValue(kRoot, "LocalPhoneString"));
    EXPECT_EQ(m_settings.localPhoneString(), "");
    EXPECT_EQ(stored("LocalPhoneString"), RegistryValue::text(""));

    // The same after the whole tree is gone, as on a machine that was cleaned up.
    ASSERT_TRUE(m_settings.setFrozen(true));
    ASSERT_TRUE(m_registry.deleteKey("Software"));
    EXPECT_FALSE(m_settings.frozen());
    EXPECT_EQ(stored("Frozen"), RegistryValue::dword(0));
}

TEST_F(AppSettingsTest, ValueNamesIgnoreCase)
{
    ASSERT_TRUE(m_registry.setValue(kRoot, "frozen", RegistryValue::dword(1)));
    ASSERT_TRUE(m_registry.setValue(kRoot, "LOCALPHONESTRING", RegistryValue::text("555")));
    EXPECT_TRUE(m_settings.frozen());
    EXPECT_EQ(m_settings.localPhoneString(), "555");
    // No second value under the canonical spelling, and the stored spelling is kept.
    const auto values = m_registry.values(kRoot);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "frozen");
    EXPECT_EQ(values[1].name, "LOCALPHONESTRING");

    ASSERT_TRUE(m_settings.setFrozen(false));
    EXPECT_EQ(m_registry.getValue(kRoot, "FROZEN"), RegistryValue::dword(0));
    EXPECT_EQ(m_registry.values(kRoot).size(), 2u);
}

TEST_F(AppSettingsTest, NothingIsCachedBetweenProcessesSharingTheStore)
{
    RegistryStore otherRegistry(m_dir / "registry.db");
    ConfigStore otherStore(otherRegistry);
    AppSettings other(otherStore);

    EXPECT_FALSE(m_settings.frozen());
    ASSERT_TRUE(other.setFrozen(true));
    EXPECT_TRUE(m_settings.frozen());
    ASSERT_TRUE(m_settings.setLocalPhoneString("0441234567"));
    EXPECT_EQ(other.localPhoneString(), "0441234567");
    ASSERT_TRUE(other.setLocalPhone(true));
    EXPECT_TRUE(m_settings.localPhone());
}

TEST(AppSettingsUnusable, GettersGiveDefaultsAndSettersFail)
{
    test::TempDir dir;
    std::ofstream(dir / "registry.db") << "not a store";
    RegistryStore registry(dir / "registry.db");
    ASSERT_FALSE(registry.isOpen());
    ConfigStore store(registry);
    AppSettings settings(store);

    for (const Flag& flag : kFlags) {
        SCOPED_TRACE(flag.name);
        EXPECT_FALSE((settings.*flag.set)(true));
        EXPECT_FALSE((settings.*flag.get)());
    }
    EXPECT_FALSE(settings.setLocalPhoneString("1"));
    EXPECT_EQ(settings.localPhoneString(), "");
}

}  // namespace
}  // namespace peltra::config
