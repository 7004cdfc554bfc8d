// The configuration store API: read-with-default, booleans, numbered sub-keys, deleting keys, and
// a store file that cannot be used.
#include "config/ConfigStore.h"

#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using Names = std::vector<std::string>;

class ConfigStoreTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};

    std::optional<RegistryValue> stored(const std::string& key, const std::string& name)
    {
        return m_registry.getValue(ConfigStore::fullPath(key), name);
    }
};

TEST_F(ConfigStoreTest, ReadsWriteTheDefaultWhenMissingAndKeepItAfterwards)
{
    EXPECT_EQ(ConfigStore::fullPath(""), "Software\\PELTRA\\");
    EXPECT_EQ(ConfigStore::fullPath("Ports\\COM1"), "Software\\PELTRA\\Ports\\COM1");
    const std::pair<const char*, const char*> keys[] = {
        {"", "Software\\PELTRA"},
        {"Tasks\\Абоненты\\Операторы\\Долг", "Software\\PELTRA\\Tasks\\Абоненты\\Операторы\\Долг"},
    };
    for (const auto& [key, fullPath] : keys) {
        SCOPED_TRACE(key);
        EXPECT_EQ(m_store.readNumber(key, "Delay", 1500), 1500u);
        EXPECT_EQ(m_registry.getValue(fullPath, "Delay"), RegistryValue::dword(1500));
        EXPECT_EQ(m_store.readNumber(key, "Delay", 77), 1500u);
        EXPECT_EQ(m_store.readText(key, "Comm", "Первый"), "Первый");
        EXPECT_EQ(m_registry.getValue(fullPath, "Comm"), RegistryValue::text("Первый"));
        EXPECT_EQ(m_store.readText(key, "Comm", "другой"), "Первый");
        EXPECT_EQ(m_store.readText(key, "File", ""), "");
        EXPECT_EQ(m_registry.getValue(fullPath, "File"), RegistryValue::text("")) << "an empty REG_SZ";
        EXPECT_TRUE(m_store.readBool(key, "On", true));
        EXPECT_EQ(m_registry.getValue(fullPath, "On"), RegistryValue::dword(1));
        EXPECT_FALSE(m_store.readBool(key, "Off", false));
        EXPECT_EQ(m_registry.getValue(fullPath, "Off"), RegistryValue::dword(0));
    }
}

TEST_F(ConfigStoreTest, AStoredValueOfAnyTypeIsReadAsItsBytesAndLeftAsItIs)
{
    struct Case {
        RegistryValue storedValue;
        std::uint32_t asNumber;
        std::string asText;
        bool asBool;
    };
    const Case cases[] = {
        {RegistryValue::dword(2500), 2500u, "\xC4\x09", true},
        {RegistryValue::dword(0), 0u, "", false},  // a stored 0 is not "missing"
        {RegistryValue::dword(0x100), 0x100u, "", true},  // every byte counts, not only the lowest
        {RegistryValue::dword(0x01000000), 0x01000000u, "", true},
        {RegistryValue::dword(0x00343332u), 0x00343332u, "234", true},
        {RegistryValue::text("7"), 0x37u, "7", true},
        {RegistryValue::text("ABCDE"), 0x44434241u, "ABCDE", true},
        {RegistryValue::text(""), 0u, "", false},
        {RegistryValue::qword(0x100000005ull), 5u, "\x05", true},
        {RegistryValue::binary({0x01, 0x02}), 0x0201u, "\x01\x02", true},
        {RegistryValue::binary({}), 0u, "", false},
        {RegistryValue::multiText({"ab", "cd"}), 0x63006261u, "ab", true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        const std::string name = "V" + std::to_string(i);
        ASSERT_TRUE(m_registry.setValue("Software\\PELTRA\\Mixed", name, c.storedValue));
        EXPECT_EQ(m_store.readNumber("Mixed", name, 12345), c.asNumber);
        EXPECT_EQ(m_store.readText("Mixed", name, "default"), c.asText);
        EXPECT_EQ(m_store.readBool("Mixed", name, !c.asBool), c.asBool);
        EXPECT_EQ(stored("Mixed", name), c.storedValue) << "a read must not replace a stored value";
    }
}

TEST_F(ConfigStoreTest, WritesCreateKeysAndReplaceValueAndTypeWithNothingCached)
{
    const std::string key = "Tasks\\Абоненты\\Операторы\\Долг";
    ASSERT_TRUE(m_store.writeNumber(key, "Repeat", 3));
    EXPECT_EQ(stored(key, "Repeat"), RegistryValue::dword(3));
    ASSERT_TRUE(m_store.writeText(key, "Repeat", "пять"));
    EXPECT_EQ(stored(key, "Repeat"), RegistryValue::text("пять"));
    ASSERT_TRUE(m_store.writeBool(key, "Repeat", true));
    EXPECT_EQ(stored(key, "Repeat"), RegistryValue::dword(1));
    ASSERT_TRUE(m_store.writeBool(key, "Repeat", false));
    EXPECT_EQ(stored(key, "Repeat"), RegistryValue::dword(0));

    RegistryStore other(m_dir / "registry.db");
    ConfigStore otherStore(other);
    EXPECT_EQ(m_store.readNumber("", "Frozen", 0), 0u);
    ASSERT_TRUE(otherStore.writeNumber("", "Frozen", 1));
    EXPECT_EQ(m_store.readNumber("", "Frozen", 0), 1u);
    ASSERT_TRUE(m_store.writeText("", "LocalPhoneString", "123"));
    EXPECT_EQ(otherStore.readText("", "LocalPhoneString", ""), "123");
}

TEST_F(ConfigStoreTest, DeleteKeyRemovesTheSubtreeButNeverTheRoot)
{
    ASSERT_TRUE(m_store.writeText("Tasks\\A\\Операторы\\T1\\Шаблоны\\0001", "Path", "x"));
    ASSERT_TRUE(m_store.writeText("Tasks\\A\\Операторы\\T2", "Comm", "stays"));
    ASSERT_TRUE(m_store.writeText("Tasks\\A", "File", "a.dbf"));

    ASSERT_TRUE(m_store.deleteKey("Tasks\\A\\Операторы\\T1"));
    EXPECT_FALSE(m_registry.keyExists("Software\\PELTRA\\Tasks\\A\\Операторы\\T1"));
    EXPECT_EQ(m_store.subKeys("Tasks\\A\\Операторы"), Names{"T2"});
    EXPECT_EQ(stored("Tasks\\A", "File"), RegistryValue::text("a.dbf"));
    EXPECT_TRUE(m_store.deleteKey("Tasks\\A\\Нет такого"));

    // A path that names no key below the root (an empty name joined in) deletes nothing.
    for (const std::string root : {"", "\\", "\\\\"})
        EXPECT_FALSE(m_store.deleteKey(root));
    EXPECT_EQ(stored("Tasks\\A\\Операторы\\T2", "Comm"), RegistryValue::text("stays"));
}

TEST_F(ConfigStoreTest, NumberedSubKeyIsTheLargestExistingNumberPlusOne)
{
    struct Case {
        Names existing;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "0001"},
        {{"0001", "0007", "0002"}, "0008"},
        {{"0099"}, "0100"},
        {{"0999", "0010"}, "1000"},
        {{"9999"}, "10000"},
        {{"10000", "0002"}, "10001"},
        {{"12"}, "0013"},                     // names need not have four digits
        {{"Temp", "Новое", "0003"}, "0004"},  // names without digits count as 0
        {{"Temp"}, "0001"},
        {{"12ab", "0005"}, "0013"},  // leading digits carry the number
        {{"x9"}, "0001"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string key = "List" + std::to_string(i);
        SCOPED_TRACE(key);
        for (const std::string& name : cases[i].existing)
            ASSERT_TRUE(m_registry.createKey(ConfigStore::fullPath(key) + "\\" + name));
        EXPECT_EQ(m_store.createNumberedSubKey(key), std::optional<std::string>(cases[i].expected));
        EXPECT_TRUE(m_registry.keyExists(ConfigStore::fullPath(key) + "\\" + cases[i].expected));
    }

    // Numbers are never compacted: after removals the next follows the largest that remains.
    for (const char* expected : {"0001", "0002", "0003"})
        EXPECT_EQ(m_store.createNumberedSubKey("Ranges"), std::optional<std::string>(expected));
    ASSERT_TRUE(m_store.deleteKey("Ranges\\0002"));
    EXPECT_EQ(m_store.createNumberedSubKey("Ranges"), std::optional<std::string>("0004"));
    ASSERT_TRUE(m_store.deleteKey("Ranges\\0004"));
    EXPECT_EQ(m_store.createNumberedSubKey("Ranges"), std::optional<std::string>("0004"));
    EXPECT_EQ(m_store.subKeys("Ranges"), (Names{"0001", "0003", "0004"}));
    EXPECT_EQ(m_store.createNumberedSubKey("Ranges\\0001"), std::optional<std::string>("0001"));
}

TEST_F(ConfigStoreTest, NumberedSubKeyIsNeverAKeyThatAlreadyExists)
{
    // Numbers past the 32-bit range must not make the store hand out an existing key twice:
    // the caller would fill a live item as if it were new.
    ASSERT_TRUE(m_registry.createKey(ConfigStore::fullPath("Big\\4294967295")));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const Names before = m_store.subKeys("Big");
        const auto created = m_store.createNumberedSubKey("Big");
        if (!created)
            continue;  // refusing is fine; reusing is not
        EXPECT_EQ(std::count(before.begin(), before.end(), *created), 0) << *created << " already existed";
        EXPECT_EQ(m_store.subKeys("Big").size(), before.size() + 1);
    }
}

TEST(ConfigStoreUnusable, ReadsGiveDefaultsAndWritesFail)
{
    test::TempDir dir;
    std::ofstream(dir / "registry.db") << "This is not a database, only some notes.\n";
    RegistryStore registry(dir / "registry.db");
    ASSERT_FALSE(registry.isOpen());
    ConfigStore store(registry);

    EXPECT_EQ(store.readNumber("Ports\\COM1", "RingOff", 1000), 1000u);
    EXPECT_EQ(store.readText("", "LocalPhoneString", "0-00"), "0-00");
    EXPECT_TRUE(store.readBool("", "Flag", true));
    EXPECT_FALSE(store.writeNumber("", "Frozen", 1));
    EXPECT_FALSE(store.writeText("", "LocalPhoneString", "1"));
    EXPECT_FALSE(store.writeBool("", "Flag", true));
    EXPECT_FALSE(store.createNumberedSubKey("Ranges"));
    EXPECT_FALSE(store.deleteKey("Ports"));
    EXPECT_TRUE(store.subKeys("").empty());
    EXPECT_EQ(store.readNumber("", "Frozen", 0), 0u);
}

}  // namespace
}  // namespace peltra::config
