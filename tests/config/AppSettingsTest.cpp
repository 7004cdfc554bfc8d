// The station-wide settings: created with their defaults on first read, written at once, never cached.
#include "config/AppSettings.h"

#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;

constexpr const char* kRoot = "Software\\PELTRA";

struct Flag {
    const char* name;
    bool (AppSettings::*get)(bool otherwise);
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

TEST_F(AppSettingsTest, EachFlagIsItsOwnRootValueCreatedOffOnFirstRead)
{
    for (const Flag& flag : kFlags) {
        SCOPED_TRACE(flag.name);
        const std::size_t before = m_registry.values(kRoot).size();
        EXPECT_FALSE((m_settings.*flag.get)(false));
        EXPECT_EQ(stored(flag.name), RegistryValue::dword(0));
        EXPECT_EQ(m_registry.values(kRoot).size(), before + 1) << "only the value read appears";

        ASSERT_TRUE((m_settings.*flag.set)(true));
        EXPECT_EQ(stored(flag.name), RegistryValue::dword(1));
        EXPECT_TRUE((m_settings.*flag.get)(false));
        ASSERT_TRUE(m_registry.setValue(kRoot, flag.name, RegistryValue::dword(0x100)));
        EXPECT_TRUE((m_settings.*flag.get)(false)) << "any non-zero number is on";
        ASSERT_TRUE((m_settings.*flag.set)(false));
        EXPECT_EQ(stored(flag.name), RegistryValue::dword(0));
        EXPECT_FALSE((m_settings.*flag.get)(false));
    }
    EXPECT_TRUE(m_registry.subKeys(kRoot).empty());
}

TEST_F(AppSettingsTest, LocalPhoneStringIsAnEmptyTextUntilSet)
{
    EXPECT_EQ(m_settings.localPhoneString(), "");
    EXPECT_EQ(stored("LocalPhoneString"), RegistryValue::text(""));
    for (const std::string number : {"8W044 123-45-67", "Дом", ""}) {
        ASSERT_TRUE(m_settings.setLocalPhoneString(number));
        EXPECT_EQ(stored("LocalPhoneString"), RegistryValue::text(number));
        EXPECT_EQ(m_settings.localPhoneString(), number);
    }
}

TEST_F(AppSettingsTest, NothingIsCachedBetweenProcessesSharingTheStore)
{
    RegistryStore otherRegistry(m_dir / "registry.db");
    ConfigStore otherStore(otherRegistry);
    AppSettings other(otherStore);
    EXPECT_FALSE(m_settings.frozen());
    ASSERT_TRUE(other.setFrozen(true));
    EXPECT_TRUE(m_settings.frozen());
    EXPECT_EQ(other.localPhoneString(), "");
    ASSERT_TRUE(m_settings.setLocalPhoneString("0441234567"));
    EXPECT_EQ(other.localPhoneString(), "0441234567");
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
        EXPECT_FALSE((settings.*flag.set)(true)) << flag.name;
        EXPECT_FALSE((settings.*flag.get)(false)) << flag.name;
    }
    EXPECT_FALSE(settings.setLocalPhoneString("1"));
    EXPECT_EQ(settings.localPhoneString(), "");
}

}  // namespace
}  // namespace peltra::config
