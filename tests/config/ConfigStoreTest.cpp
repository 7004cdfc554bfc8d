// The configuration store and the station-wide settings: read-with-default, stored values of any
// type, numbered sub-keys, deleting keys, another process on the same file, and an unusable file;
// the linked lists of item sub-keys kept in it: insertion, removal, moves and damaged links.
#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "config/LinkedList.h"

#include "support/ConfigTestStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using test::Names;

class ConfigStoreTest : public ::testing::Test, protected test::ConfigTestStore {
protected:
    std::optional<RegistryValue> stored(const std::string& key, const std::string& name)
    {
        return registry.getValue(ConfigStore::fullPath(key), name);
    }
};

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

TEST_F(ConfigStoreTest, ReadsWriteTheDefaultWhenMissingAndKeepItAfterwards)
{
    for (const char* key : {"", "Tasks\\Абоненты\\Операторы\\Долг"}) {
        SCOPED_TRACE(key);
        const std::string full = key[0] ? std::string("Software\\PELTRA\\") + key : "Software\\PELTRA";
        EXPECT_EQ(store.readNumber(key, "Delay", 1500), 1500u);
        EXPECT_EQ(store.readNumber(key, "Delay", 77), 1500u);
        EXPECT_EQ(store.readText(key, "Comm", "Первый"), "Первый");
        EXPECT_EQ(store.readText(key, "Comm", "другой"), "Первый");
        EXPECT_TRUE(store.readBool(key, "On", true));
        EXPECT_FALSE(store.readBool(key, "Off", false));
        EXPECT_EQ(registry.getValue(full, "Delay"), RegistryValue::dword(1500));
        EXPECT_EQ(registry.getValue(full, "Comm"), RegistryValue::text("Первый"));
        EXPECT_EQ(registry.getValue(full, "On"), RegistryValue::dword(1));
        EXPECT_EQ(registry.getValue(full, "Off"), RegistryValue::dword(0));
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
        {RegistryValue::dword(0x00343332u), 0x00343332u, "234", true},
        {RegistryValue::text("7"), 0x37u, "7", true},
        {RegistryValue::text("ABCDE"), 0x44434241u, "ABCDE", true},
        {RegistryValue::text(""), 0u, "", false},
        {RegistryValue::qword(0x100000005ull), 5u, "\x05", true},
        {RegistryValue::binary({0x01, 0x02}), 0x0201u, "\x01\x02", true},
        {RegistryValue::multiText({"ab", "cd"}), 0x63006261u, "ab", true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        const std::string name = "V" + std::to_string(i);
        ASSERT_TRUE(registry.setValue("Software\\PELTRA\\Mixed", name, c.storedValue));
        EXPECT_EQ(store.readNumber("Mixed", name, 12345), c.asNumber);
        EXPECT_EQ(store.readText("Mixed", name, "default"), c.asText);
        EXPECT_EQ(store.readBool("Mixed", name, !c.asBool), c.asBool);
        // Value names ignore case, as another program may have written them.
        const KeyValues values(store, "Mixed");
        const RegistryValue* found = values.find("v" + std::to_string(i));
        EXPECT_TRUE(found && *found == c.storedValue);
        EXPECT_EQ(stored("Mixed", name), c.storedValue) << "a read must not replace a stored value";
    }
    EXPECT_EQ(registry.values("Software\\PELTRA\\Mixed").size(), std::size(cases));
}

TEST_F(ConfigStoreTest, WritesAndSettingsAreSeenAtOnceByAnotherProcess)
{
    const std::string key = "Tasks\\Абоненты\\Операторы\\Долг";
    ASSERT_TRUE(store.writeNumber(key, "Repeat", 3));
    ASSERT_TRUE(store.writeText(key, "Repeat", "пять"));
    EXPECT_EQ(stored(key, "Repeat"), RegistryValue::text("пять"));
    ASSERT_TRUE(store.writeBool(key, "Repeat", true));
    EXPECT_EQ(stored(key, "Repeat"), RegistryValue::dword(1));

    // A second connection to the same file stands in for another process.
    RegistryStore otherRegistry(dir / "registry.db");
    ConfigStore otherStore(otherRegistry);
    AppSettings mine(store), other(otherStore);
    for (const Flag& flag : kFlags) {
        SCOPED_TRACE(flag.name);
        EXPECT_FALSE((mine.*flag.get)(false));
        EXPECT_EQ(registry.getValue("Software\\PELTRA", flag.name), RegistryValue::dword(0)) << "created off on first read";
        ASSERT_TRUE((other.*flag.set)(true));
        EXPECT_EQ(registry.getValue("Software\\PELTRA", flag.name), RegistryValue::dword(1));
        EXPECT_TRUE((mine.*flag.get)(false));
        ASSERT_TRUE(registry.setValue("Software\\PELTRA", flag.name, RegistryValue::dword(0x100)));
        EXPECT_TRUE((other.*flag.get)(false)) << "any non-zero number is on";
    }
    EXPECT_EQ(registry.values("Software\\PELTRA").size(), std::size(kFlags)) << "one value per flag";
    ASSERT_TRUE(mine.setLocalPhoneString("8W044 123-45-67"));
    EXPECT_EQ(other.localPhoneString(), "8W044 123-45-67");
}

TEST_F(ConfigStoreTest, DeleteKeyRemovesTheSubtreeButNeverTheRoot)
{
    ASSERT_TRUE(store.writeText("Tasks\\A\\Операторы\\T1\\Шаблоны\\0001", "Path", "x"));
    ASSERT_TRUE(store.writeText("Tasks\\A\\Операторы\\T2", "Comm", "stays"));
    ASSERT_TRUE(store.deleteKey("Tasks\\A\\Операторы\\T1"));
    EXPECT_EQ(store.subKeys("Tasks\\A\\Операторы"), Names{"T2"});
    EXPECT_TRUE(store.deleteKey("Tasks\\A\\Нет такого"));
    // A path that names no key below the root (an empty name joined in) deletes nothing.
    for (const std::string root : {"", "\\", "\\\\"})
        EXPECT_FALSE(store.deleteKey(root));
    EXPECT_EQ(stored("Tasks\\A\\Операторы\\T2", "Comm"), RegistryValue::text("stays"));
}

TEST_F(ConfigStoreTest, NumberedSubKeyIsTheLargestExistingNumberPlusOneAndNeverAnExistingKey)
{
    const std::pair<Names, const char*> cases[] = {
        {{}, "0001"},
        {{"0001", "0007", "0002"}, "0008"},
        {{"0999", "0010"}, "1000"},
        {{"9999"}, "10000"},
        {{"12"}, "0013"},                     // names need not have four digits
        {{"Temp", "Новое", "0003"}, "0004"},  // names without digits count as 0
        {{"12ab", "0005"}, "0013"},           // leading digits carry the number
        {{"x9"}, "0001"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string key = "List" + std::to_string(i);
        SCOPED_TRACE(key);
        for (const std::string& name : cases[i].first)
            ASSERT_TRUE(registry.createKey(ConfigStore::fullPath(key) + "\\" + name));
        EXPECT_EQ(store.createNumberedSubKey(key), std::optional<std::string>(cases[i].second));
        EXPECT_TRUE(registry.keyExists(ConfigStore::fullPath(key) + "\\" + cases[i].second));
    }

    // Past the 32-bit range the number saturates; refusing is fine, handing out a live key is not.
    ASSERT_TRUE(registry.createKey(ConfigStore::fullPath("Big\\4294967295")));
    for (int round = 0; round < 3; ++round) {
        const Names before = store.subKeys("Big");
        const auto created = store.createNumberedSubKey("Big");
        EXPECT_EQ(std::count(before.begin(), before.end(), created.value_or("")), 0) << created.value_or("-");
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
    EXPECT_FALSE(store.writeNumber("", "Frozen", 1));
    EXPECT_FALSE(store.writeText("", "LocalPhoneString", "1"));
    EXPECT_FALSE(store.createNumberedSubKey("Ranges"));
    EXPECT_FALSE(store.deleteKey("Ports"));
    EXPECT_TRUE(store.subKeys("").empty());
    AppSettings settings(store);
    for (const Flag& flag : kFlags) {
        EXPECT_FALSE((settings.*flag.set)(true)) << flag.name;
        EXPECT_TRUE((settings.*flag.get)(true)) << flag.name;
    }
}

const std::string kList = "SMSTasks\\Долг\\Шаблоны";

class LinkedListTest : public ::testing::Test, protected test::ConfigTestStore {
protected:
    LinkedList m_list{store, kList};

    std::string path(const std::string& item) const { return ConfigStore::fullPath(kList + "\\" + item); }
    std::string text(const std::string& item, const std::string& name)
    {
        const auto value = registry.getValue(path(item), name);
        return value ? value->asText() : "<missing>";
    }

    // Writes an item by hand, as another program or a damaged store may leave it.
    void makeItem(const std::string& item, const std::string& prev, const std::string& next)
    {
        ASSERT_TRUE(registry.setValue(path(item), "Prev", RegistryValue::text(prev)));
        ASSERT_TRUE(registry.setValue(path(item), "Next", RegistryValue::text(next)));
    }

    // Starts the list afresh with `count` items in key order, made through the list itself.
    void rebuild(int count)
    {
        ASSERT_TRUE(store.deleteKey(kList));
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(m_list.insertAfter(i == 0 ? "" : "000" + std::to_string(i), {{"Value", "v"}}));
    }

    // The links agree with the listed order, and every item key is in the list exactly once.
    void expectConsistent(const Names& expected)
    {
        const Names listed = m_list.items();
        EXPECT_EQ(listed, expected);
        for (std::size_t i = 0; i < listed.size(); ++i) {
            SCOPED_TRACE(listed[i]);
            EXPECT_EQ(text(listed[i], "Prev"), i == 0 ? "" : listed[i - 1]);
            EXPECT_EQ(text(listed[i], "Next"), i + 1 == listed.size() ? "" : listed[i + 1]);
            EXPECT_EQ(text(listed[i], "Value"), "v") << "an item keeps its fields";
        }
        Names sorted = listed;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(store.subKeys(kList), sorted) << "an item key is outside the chain";
    }
};

TEST_F(LinkedListTest, InsertionsFollowTheirAfterItemNotTheKeyOrder)
{
    EXPECT_TRUE(m_list.items().empty());
    const std::tuple<const char*, const char*, Names> steps[] = {
        {"", "0001", {"0001"}},
        {"0001", "0002", {"0001", "0002"}},
        {"", "0003", {"0003", "0001", "0002"}},                              // at the front
        {"0001", "0004", {"0003", "0001", "0004", "0002"}},                  // after a middle item
        {"0002", "0005", {"0003", "0001", "0004", "0002", "0005"}},          // after the tail
        {"0003", "0006", {"0003", "0006", "0001", "0004", "0002", "0005"}},  // after the head
    };
    for (const auto& [after, created, order] : steps) {
        SCOPED_TRACE(std::string("after '") + after + "'");
        EXPECT_EQ(m_list.insertAfter(after, {{"Value", "v"}}), std::optional<std::string>(created));
        expectConsistent(order);
    }

    // After a missing item nothing is made. "0007" is also the number the new item would get,
    // which must not make the new item its own after-item.
    for (const char* after : {"0007", "Нет", "0001\\0002"}) {
        EXPECT_FALSE(m_list.insertAfter(after, {{"Value", "v"}})) << after;
        expectConsistent({"0003", "0006", "0001", "0004", "0002", "0005"});
    }
    makeItem("0009", "0005", "0042");  // a follower that is gone
    EXPECT_FALSE(m_list.insertAfter("0009", {}));
    EXPECT_EQ(text("0009", "Next"), "0042");
}

TEST_F(LinkedListTest, RemovalsAndMovesRelinkTheNeighbours)
{
    const Names three = {"0001", "0002", "0003"};
    // The list starts as items 0001, 0002, ... in key order; no after-item means a removal.
    const std::tuple<int, const char*, const char*, bool, Names> cases[] = {
        {3, "0001", nullptr, true, {"0002", "0003"}},                 // remove the head
        {3, "0002", nullptr, true, {"0001", "0003"}},                 // the middle
        {3, "0003", nullptr, true, {"0001", "0002"}},                 // the tail
        {1, "0001", nullptr, true, {}},                               // the only item
        {4, "0003", "", true, {"0003", "0001", "0002", "0004"}},      // move to the front
        {4, "0004", "", true, {"0004", "0001", "0002", "0003"}},      // the tail to the front
        {4, "0001", "", true, {"0001", "0002", "0003", "0004"}},      // the head to the front
        {4, "0001", "0004", true, {"0002", "0003", "0004", "0001"}},  // the head to the tail
        {4, "0004", "0001", true, {"0001", "0004", "0002", "0003"}},  // the tail into the middle
        {4, "0002", "0003", true, {"0001", "0003", "0002", "0004"}},  // after its own follower
        {4, "0003", "0003", true, {"0001", "0002", "0003", "0004"}},  // after itself
        {3, "0009", nullptr, false, three},                           // missing items change nothing
        {3, "", nullptr, false, three},
        {3, "0009", "", false, three},
        {3, "0001", "0009", false, three},
    };
    for (const auto& [count, item, after, ok, order] : cases) {
        SCOPED_TRACE(std::string(item) + (after ? std::string(" after '") + after + "'" : " removed"));
        rebuild(count);
        EXPECT_EQ(after ? m_list.moveAfter(item, after) : m_list.remove(item), ok);
        expectConsistent(order);
    }
}

TEST_F(LinkedListTest, DamagedLinksEndTheListInsteadOfLooping)
{
    using Items = std::map<std::string, std::pair<std::string, std::string>>;  // name → (Prev, Next)
    const std::tuple<const char*, Items, Names> cases[] = {
        {"no empty Prev", {{"0001", {"0002", "0002"}}, {"0002", {"0001", "0001"}}}, {}},
        {"back to the head", {{"0001", {"", "0002"}}, {"0002", {"0001", "0003"}}, {"0003", {"0002", "0001"}}},
         {"0001", "0002", "0003"}},
        {"onto itself", {{"0001", {"", "0002"}}, {"0002", {"0001", "0002"}}}, {"0001", "0002"}},
        {"Next names a missing item", {{"0001", {"", "0002"}}, {"0002", {"0001", "0005"}}}, {"0001", "0002"}},
        {"two chains: the head first in key order wins",
         {{"0003", {"", "0004"}}, {"0004", {"0003", ""}}, {"0001", {"", "0002"}}, {"0002", {"0001", ""}}},
         {"0001", "0002"}},
    };
    for (const auto& [what, items, order] : cases) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(store.deleteKey(kList));
        for (const auto& [name, links] : items)
            makeItem(name, links.first, links.second);
        EXPECT_EQ(m_list.items(), order);
    }
}

}  // namespace
}  // namespace peltra::config
