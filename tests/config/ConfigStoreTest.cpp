// The configuration store API: read-with-default, booleans, numbered sub-keys, deleting keys, and
// a store file that cannot be used.
#include "config/ConfigStore.h"

#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using platform::RegType;

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

TEST_F(ConfigStoreTest, FullPathHangsKeysBelowTheStationRoot)
{
    EXPECT_EQ(std::string(kRootPath), "Software\\PELTRA\\");
    EXPECT_EQ(ConfigStore::fullPath(""), "Software\\PELTRA\\");
    EXPECT_EQ(ConfigStore::fullPath("Ports\\COM1"), "Software\\PELTRA\\Ports\\COM1");
    EXPECT_EQ(ConfigStore::fullPath("Tasks\\Абоненты\\Операторы"),
              "Software\\PELTRA\\Tasks\\Абоненты\\Операторы");
}

struct KeyCase {
    const char* key;       // relative to the station root
    const char* fullPath;  // where the value must appear in the hive
};

const KeyCase kKeys[] = {
    {"", "Software\\PELTRA"},
    {"Ports\\COM1", "Software\\PELTRA\\Ports\\COM1"},
    {"Tasks\\Абоненты\\Операторы\\Долг", "Software\\PELTRA\\Tasks\\Абоненты\\Операторы\\Долг"},
    {"Лексемы и функции", "Software\\PELTRA\\Лексемы и функции"},
};

TEST_F(ConfigStoreTest, ReadNumberWritesTheDefaultWhenMissingAndKeepsItAfterwards)
{
    for (const KeyCase& c : kKeys) {
        SCOPED_TRACE(c.key);
        ASSERT_FALSE(m_registry.getValue(c.fullPath, "Delay"));
        EXPECT_EQ(m_store.readNumber(c.key, "Delay", 1500), 1500u);
        EXPECT_EQ(m_registry.getValue(c.fullPath, "Delay"), RegistryValue::dword(1500));
        // Stored now: another default does not replace it.
        EXPECT_EQ(m_store.readNumber(c.key, "Delay", 77), 1500u);
        EXPECT_EQ(m_registry.getValue(c.fullPath, "Delay"), RegistryValue::dword(1500));
    }
}

TEST_F(ConfigStoreTest, ReadTextWritesTheDefaultWhenMissingAndKeepsItAfterwards)
{
    for (const KeyCase& c : kKeys) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(m_store.readText(c.key, "Comm", "Первый"), "Первый");
        EXPECT_EQ(m_registry.getValue(c.fullPath, "Comm"), RegistryValue::text("Первый"));
        EXPECT_EQ(m_store.readText(c.key, "Comm", "другой"), "Первый");

        // An empty default is still written, as an empty REG_SZ.
        EXPECT_EQ(m_store.readText(c.key, "File", ""), "");
        const auto file = m_registry.getValue(c.fullPath, "File");
        ASSERT_TRUE(file);
        EXPECT_EQ(file->type, RegType::Sz);
        EXPECT_EQ(file->asText(), "");
    }
}

TEST_F(ConfigStoreTest, ReadsReturnWhatIsStoredWithoutRewritingIt)
{
    ASSERT_TRUE(m_registry.setValue("Software\\PELTRA\\Ports\\COM2", "RingOff", RegistryValue::dword(2500)));
    ASSERT_TRUE(m_registry.setValue("Software\\PELTRA\\Ports\\COM2", "Prefix", RegistryValue::text("044")));
    ASSERT_TRUE(m_registry.setValue("Software\\PELTRA\\Ports\\COM2", "Zero", RegistryValue::dword(0)));

    EXPECT_EQ(m_store.readNumber("Ports\\COM2", "RingOff", 1000), 2500u);
    EXPECT_EQ(m_store.readText("Ports\\COM2", "Prefix", ""), "044");
    EXPECT_EQ(m_store.readNumber("Ports\\COM2", "Zero", 9), 0u);  // a stored 0 is not "missing"
    EXPECT_EQ(m_store.readNumber("Ports\\COM2", "Max", 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(stored("Ports\\COM2", "RingOff"), RegistryValue::dword(2500));
    EXPECT_EQ(stored("Ports\\COM2", "Zero"), RegistryValue::dword(0));
}

TEST_F(ConfigStoreTest, ValueNamesAndKeyNamesIgnoreCase)
{
    ASSERT_TRUE(m_store.writeNumber("PORTS\\com1", "ringoff", 1200));
    EXPECT_EQ(m_store.readNumber("Ports\\COM1", "RingOff", 1000), 1200u);
    EXPECT_EQ(m_registry.values("Software\\PELTRA\\Ports\\COM1").size(), 1u);
    // The stored spelling stays the one it was created with.
    EXPECT_EQ(m_registry.values("Software\\PELTRA\\Ports\\COM1")[0].name, "ringoff");
    EXPECT_EQ(m_store.subKeys("Ports"), std::vector<std::string>{"com1"});
}

struct ForeignTypeCase {
    const char* what;
    RegistryValue storedValue;
    std::uint32_t asNumber;
    std::string asText;
};

TEST_F(ConfigStoreTest, AValueOfAnotherTypeIsReadAsItsBytesAndLeftAsItIs)
{
    const ForeignTypeCase cases[] = {
        {"text digit", RegistryValue::text("7"), 0x37u, "7"},
        {"longer text", RegistryValue::text("ABCDE"), 0x44434241u, "ABCDE"},
        {"empty text", RegistryValue::text(""), 0u, ""},
        {"number as text", RegistryValue::dword(0x00343332u), 0x00343332u, "234"},
        {"number zero", RegistryValue::dword(0), 0u, ""},
        {"qword", RegistryValue::qword(0x100000005ull), 5u, "\x05"},
        {"short binary", RegistryValue::binary({0x01, 0x02}), 0x0201u, "\x01\x02"},
        {"empty binary", RegistryValue::binary({}), 0u, ""},
        {"string list", RegistryValue::multiText({"ab", "cd"}), 0x63006261u, "ab"},
    };
    int index = 0;
    for (const ForeignTypeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "V" + std::to_string(index++);
        ASSERT_TRUE(m_registry.setValue("Software\\PELTRA\\Mixed", name, c.storedValue));
        EXPECT_EQ(m_store.readNumber("Mixed", name, 12345), c.asNumber);
        EXPECT_EQ(m_store.readText("Mixed", name, "default"), c.asText);
        EXPECT_EQ(stored("Mixed", name), c.storedValue) << "a read must not replace a stored value";
    }
}

TEST_F(ConfigStoreTest, BooleansAreStoredAsZeroOrOneAndReadAsNonZero)
{
    struct Case {
        RegistryValue storedValue;
        bool expected;
    };
    const Case cases[] = {
        {RegistryValue::dword(0), false},
        {RegistryValue::dword(1), true},
        {RegistryValue::dword(7), true},
        {RegistryValue::dword(0x100), true},  // every byte counts, not only the lowest
        {RegistryValue::dword(0x01000000), true},
        {RegistryValue::dword(0xFFFFFFFFu), true},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "B" + std::to_string(index++);
        SCOPED_TRACE(name);
        ASSERT_TRUE(m_registry.setValue("Software\\PELTRA\\Flags", name, c.storedValue));
        EXPECT_EQ(m_store.readBool("Flags", name, !c.expected), c.expected);
    }

    EXPECT_TRUE(m_store.readBool("Flags", "MissingOn", true));
    EXPECT_EQ(stored("Flags", "MissingOn"), RegistryValue::dword(1));
    EXPECT_FALSE(m_store.readBool("Flags", "MissingOff", false));
    EXPECT_EQ(stored("Flags", "MissingOff"), RegistryValue::dword(0));

    ASSERT_TRUE(m_store.writeBool("Flags", "W", true));
    EXPECT_EQ(stored("Flags", "W"), RegistryValue::dword(1));
    ASSERT_TRUE(m_store.writeBool("Flags", "W", false));
    EXPECT_EQ(stored("Flags", "W"), RegistryValue::dword(0));
}

TEST_F(ConfigStoreTest, WritesCreateKeysAndReplaceValueAndType)
{
    ASSERT_TRUE(m_store.writeNumber("Tasks\\Абоненты\\Операторы\\Долг", "Repeat", 3));
    EXPECT_TRUE(m_registry.keyExists("Software\\PELTRA\\Tasks\\Абоненты\\Операторы\\Долг"));
    EXPECT_EQ(stored("Tasks\\Абоненты\\Операторы\\Долг", "Repeat"), RegistryValue::dword(3));

    ASSERT_TRUE(m_store.writeText("Tasks\\Абоненты", "File", "/srv/data/абоненты.dbf"));
    EXPECT_EQ(m_store.readText("Tasks\\Абоненты", "File", ""), "/srv/data/абоненты.dbf");

    // A write replaces both the data and the type of what was there.
    ASSERT_TRUE(m_store.writeText("Tasks\\Абоненты\\Операторы\\Долг", "Repeat", "пять"));
    EXPECT_EQ(stored("Tasks\\Абоненты\\Операторы\\Долг", "Repeat"), RegistryValue::text("пять"));
    ASSERT_TRUE(m_store.writeNumber("Tasks\\Абоненты\\Операторы\\Долг", "Repeat", 5));
    EXPECT_EQ(stored("Tasks\\Абоненты\\Операторы\\Долг", "Repeat"), RegistryValue::dword(5));
}

TEST_F(ConfigStoreTest, NothingIsCachedBetweenTwoStoresOnOneFile)
{
    RegistryStore other(m_dir / "registry.db");
    ConfigStore otherStore(other);
    EXPECT_EQ(m_store.readNumber("", "Frozen", 0), 0u);
    ASSERT_TRUE(otherStore.writeNumber("", "Frozen", 1));
    EXPECT_EQ(m_store.readNumber("", "Frozen", 0), 1u);
    ASSERT_TRUE(m_store.writeText("", "LocalPhoneString", "123"));
    EXPECT_EQ(otherStore.readText("", "LocalPhoneString", ""), "123");
}

TEST_F(ConfigStoreTest, DeleteKeyRemovesTheWholeSubtreeAndNothingElse)
{
    ASSERT_TRUE(m_store.writeNumber("Tasks\\A\\Операторы\\T1", "Valid", 1));
    ASSERT_TRUE(m_store.writeText("Tasks\\A\\Операторы\\T1\\Шаблоны\\0001", "Path", "x"));
    ASSERT_TRUE(m_store.writeText("Tasks\\A\\Операторы\\T2", "Comm", "stays"));
    ASSERT_TRUE(m_store.writeText("Tasks\\A", "File", "a.dbf"));

    ASSERT_TRUE(m_store.deleteKey("Tasks\\A\\Операторы\\T1"));
    EXPECT_FALSE(m_registry.keyExists("Software\\PELTRA\\Tasks\\A\\Операторы\\T1"));
    EXPECT_FALSE(m_registry.keyExists("Software\\PELTRA\\Tasks\\A\\Операторы\\T1\\Шаблоны\\0001"));
    EXPECT_EQ(m_store.subKeys("Tasks\\A\\Операторы"), std::vector<std::string>{"T2"});
    EXPECT_EQ(stored("Tasks\\A\\Операторы\\T2", "Comm"), RegistryValue::text("stays"));
    EXPECT_EQ(stored("Tasks\\A", "File"), RegistryValue::text("a.dbf"));

    // Re-creating a deleted key starts empty: no value of the old subtree comes back.
    ASSERT_TRUE(m_registry.createKey("Software\\PELTRA\\Tasks\\A\\Операторы\\T1"));
    EXPECT_TRUE(m_registry.values("Software\\PELTRA\\Tasks\\A\\Операторы\\T1").empty());
    EXPECT_TRUE(m_store.subKeys("Tasks\\A\\Операторы\\T1").empty());

    // Deleting what is not there is not an error; the key name ignores case.
    EXPECT_TRUE(m_store.deleteKey("Tasks\\A\\Нет такого"));
    EXPECT_TRUE(m_store.deleteKey("TASKS\\a"));
    EXPECT_FALSE(m_registry.keyExists("Software\\PELTRA\\Tasks\\A"));
    EXPECT_TRUE(m_registry.keyExists("Software\\PELTRA\\Tasks"));

    // A path that names no key below the root (an empty name joined in) deletes nothing.
    for (const std::string root : {"", "\\", "\\\\"})
        EXPECT_FALSE(m_store.deleteKey(root));
    EXPECT_TRUE(m_registry.keyExists("Software\\PELTRA\\Tasks"));
}

// Numbered sub-keys.

void makeKeys(RegistryStore& registry, const std::string& key, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        ASSERT_TRUE(registry.createKey(ConfigStore::fullPath(key) + "\\" + name)) << name;
}

TEST_F(ConfigStoreTest, NumberedSubKeyIsTheLargestExistingNumberPlusOne)
{
    struct Case {
        std::vector<std::string> existing;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "0001"},
        {{"0001"}, "0002"},
        {{"0001", "0005"}, "0006"},
        {{"0001", "0007", "0002"}, "0008"},
        {{"0099"}, "0100"},
        {{"0999", "0010"}, "1000"},
        {{"9999"}, "10000"},
        {{"10000", "0002"}, "10001"},
        {{"12"}, "0013"},                       // names need not have four digits
        {{"Temp", "Новое", "0003"}, "0004"},    // names without digits count as 0
        {{"Temp"}, "0001"},
        {{"12ab", "0005"}, "0013"},             // leading digits carry the number
        {{"x9"}, "0001"},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string key = "List" + std::to_string(index++);
        SCOPED_TRACE(key + " expecting " + c.expected);
        makeKeys(m_registry, key, c.existing);
        const auto created = m_store.createNumberedSubKey(key);
        ASSERT_TRUE(created);
        EXPECT_EQ(*created, c.expected);
        EXPECT_TRUE(m_registry.keyExists(ConfigStore::fullPath(key) + "\\" + c.expected));
        EXPECT_EQ(m_store.subKeys(key).size(), c.existing.size() + 1);
    }
}

TEST_F(ConfigStoreTest, NumberedSubKeysAreNeverCompacted)
{
    for (const char* expected : {"0001", "0002", "0003", "0004"})
        EXPECT_EQ(m_store.createNumberedSubKey("Ranges"), std::optional<std::string>(expected));

    // A gap in the middle stays a gap.
    ASSERT_TRUE(m_store.deleteKey("Ranges\\0002"));
    EXPECT_EQ(m_store.createNumberedSubKey("Ranges"), std::optional<std::string>("0005"));

    // After the largest goes, the next follows the largest that remains.
    ASSERT_TRUE(m_store.deleteKey("Ranges\\0005"));
    ASSERT_TRUE(m_store.deleteKey("Ranges\\0004"));
    EXPECT_EQ(m_store.createNumberedSubKey("Ranges"), std::optional<std::string>("0004"));
    EXPECT_EQ(m_store.subKeys("Ranges"), (std::vector<std::string>{"0001", "0003", "0004"}));

    // Each key numbers its own sub-keys.
    EXPECT_EQ(m_store.createNumberedSubKey("Ranges\\0001"), std::optional<std::string>("0001"));
    EXPECT_EQ(m_store.createNumberedSubKey("Schedules"), std::optional<std::string>("0001"));
}

TEST_F(ConfigStoreTest, NumberedSubKeyIsNeverAKeyThatAlreadyExists)
{
    // Numbers past the 32-bit range must not make the store hand out an existing key twice:
    // the caller would fill a live item as if it were new.
    makeKeys(m_registry, "Big", {"4294967295"});
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const std::vector<std::string> before = m_store.subKeys("Big");
        const auto created = m_store.createNumberedSubKey("Big");
        if (!created)
            continue;  // refusing is fine; reusing is not
        EXPECT_EQ(std::count(before.begin(), before.end(), *created), 0) << *created << " already existed";
        EXPECT_EQ(m_store.subKeys("Big").size(), before.size() + 1);
    }
}

// A store that cannot be used.

enum class Unusable { Garbage, ForeignDatabase, Directory };

struct UnusableCase {
    const char* what;
    Unusable kind;
};

std::string readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ConfigStoreUnusable, ReadsGiveDefaultsAndWritesFailWithoutTouchingTheFile)
{
    const UnusableCase cases[] = {
        {"a text file", Unusable::Garbage},
        {"another program's SQLite database", Unusable::ForeignDatabase},
        {"a folder", Unusable::Directory},
    };
    for (const UnusableCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const auto file = dir / "registry.db";
        switch (c.kind) {
        case Unusable::Garbage: {
            std::ofstream(file, std::ios::binary) << "This is not a database, only some notes.\n";
            break;
        }
        case Unusable::ForeignDatabase: {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('keep');",
                                   nullptr, nullptr, nullptr),
                      SQLITE_OK);
            sqlite3_close(db);
            break;
        }
        case Unusable::Directory:
            std::filesystem::create_directory(file);
            break;
        }
        const std::string before = c.kind == Unusable::Directory ? "" : readFile(file);

        {
            RegistryStore registry(file);
            EXPECT_FALSE(registry.isOpen());
            EXPECT_FALSE(registry.openError().empty());
            ConfigStore store(registry);

            EXPECT_EQ(store.readNumber("", "Frozen", 0), 0u);
            EXPECT_EQ(store.readNumber("Ports\\COM1", "RingOff", 1000), 1000u);
            EXPECT_EQ(store.readText("", "LocalPhoneString", "0-00"), "0-00");
            EXPECT_TRUE(store.readBool("", "Flag", true));
            EXPECT_FALSE(store.readBool("", "Flag", false));

            EXPECT_FALSE(store.writeNumber("", "Frozen", 1));
            EXPECT_FALSE(store.writeText("", "LocalPhoneString", "1"));
            EXPECT_FALSE(store.writeBool("", "Flag", true));
            EXPECT_FALSE(store.createNumberedSubKey("Ranges"));
            EXPECT_FALSE(store.deleteKey("Ports"));
            EXPECT_TRUE(store.subKeys("").empty());
            // A write that failed leaves nothing behind to be read back.
            EXPECT_EQ(store.readNumber("", "Frozen", 0), 0u);
        }

        if (c.kind != Unusable::Directory)
            EXPECT_TRUE(readFile(file) == before) << "the file that is not ours must stay byte for byte as it was";
        else
            EXPECT_TRUE(std::filesystem::is_directory(file));
    }
}

}  // namespace
}  // namespace peltra::config
