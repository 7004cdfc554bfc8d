// Linked lists of item sub-keys: insertion, removal, moves, and lists with damaged links.
#include "config/LinkedList.h"

#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using Names = std::vector<std::string>;

const std::string kList = "SMSTasks\\Долг\\Шаблоны";

class LinkedListTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
    LinkedList m_list{m_store, kList};

    std::string path(const std::string& item) const { return ConfigStore::fullPath(kList + "\\" + item); }

    std::string text(const std::string& item, const std::string& name)
    {
        const auto value = m_registry.getValue(path(item), name);
        return value ? value->asText() : "<missing>";
    }

    // Writes an item by hand, as another program or a damaged store may leave it.
    void makeItem(const std::string& item, const std::string& prev, const std::string& next)
    {
        ASSERT_TRUE(m_registry.setValue(path(item), "Prev", RegistryValue::text(prev)));
        ASSERT_TRUE(m_registry.setValue(path(item), "Next", RegistryValue::text(next)));
    }

    // Builds a list of `count` items in key order through the list itself.
    Names build(int count)
    {
        Names names;
        for (int i = 0; i < count; ++i) {
            const auto created = m_list.insertAfter(names.empty() ? "" : names.back(), {});
            EXPECT_TRUE(created);
            if (created)
                names.push_back(*created);
        }
        return names;
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
        }
        Names keys = m_store.subKeys(kList);
        Names sorted = listed;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(keys, sorted) << "an item key is outside the chain";
    }
};

TEST_F(LinkedListTest, AnEmptyOrMissingListHasNoItems)
{
    EXPECT_TRUE(m_list.items().empty());
    ASSERT_TRUE(m_registry.createKey(ConfigStore::fullPath(kList)));
    EXPECT_TRUE(m_list.items().empty());
}

TEST_F(LinkedListTest, AddingToAnEmptyListCreatesTheFirstItemWithEmptyLinks)
{
    EXPECT_EQ(m_list.insertAfter("", {}), std::optional<std::string>("0001"));
    EXPECT_EQ(text("0001", "Prev"), "");
    EXPECT_EQ(text("0001", "Next"), "");
    expectConsistent({"0001"});
}

TEST_F(LinkedListTest, AddingAtTheFrontLinksTheNewItemBeforeTheHead)
{
    ASSERT_EQ(m_list.insertAfter("", {}), std::optional<std::string>("0001"));
    EXPECT_EQ(m_list.insertAfter("", {}), std::optional<std::string>("0002"));
    EXPECT_EQ(text("0002", "Prev"), "");
    EXPECT_EQ(text("0002", "Next"), "0001");
    EXPECT_EQ(text("0001", "Prev"), "0002");
    EXPECT_EQ(text("0001", "Next"), "");
    expectConsistent({"0002", "0001"});
}

TEST_F(LinkedListTest, InsertionsFollowTheirAfterItemNotTheKeyOrder)
{
    struct Step {
        const char* after;
        const char* created;
        Names order;
    };
    const Step steps[] = {
        {"", "0001", {"0001"}},
        {"0001", "0002", {"0001", "0002"}},
        {"", "0003", {"0003", "0001", "0002"}},          // at the front
        {"0001", "0004", {"0003", "0001", "0004", "0002"}},  // after a middle item
        {"0002", "0005", {"0003", "0001", "0004", "0002", "0005"}},  // after the tail
        {"0003", "0006", {"0003", "0006", "0001", "0004", "0002", "0005"}},  // after the head
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string("after '") + step.after + "'");
        EXPECT_EQ(m_list.insertAfter(step.after, {}), std::optional<std::string>(step.created));
        expectConsistent(step.order);
    }
}

TEST_F(LinkedListTest, InsertingAfterAMissingItemFailsAndCreatesNothing)
{
    const Names items = build(2);
    for (const char* after : {"0007", "Нет", "0001\\0002"}) {
        SCOPED_TRACE(after);
        EXPECT_FALSE(m_list.insertAfter(after, {{"Type", "TEXT"}}));
        expectConsistent(items);
    }
    // The failed attempts used up no number.
    EXPECT_EQ(m_list.insertAfter("0002", {}), std::optional<std::string>("0003"));
}

TEST_F(LinkedListTest, InsertingAfterAnItemThatWasJustRemovedFails)
{
    // A stale selection: the tail is removed elsewhere, then an item is added after it. Its name
    // is also the number the new item would get, which must not make the new item its own
    // after-item.
    build(3);
    ASSERT_TRUE(m_list.remove("0003"));
    EXPECT_FALSE(m_list.insertAfter("0003", {{"Type", "TEXT"}}));
    expectConsistent({"0001", "0002"});
}

TEST_F(LinkedListTest, InsertingBeforeAFollowerThatIsGoneFailsAndChangesNothing)
{
    makeItem("0001", "", "0009");  // "0009" does not exist
    EXPECT_FALSE(m_list.insertAfter("0001", {}));
    EXPECT_EQ(m_store.subKeys(kList), Names{"0001"});
    EXPECT_EQ(text("0001", "Next"), "0009");
}

TEST_F(LinkedListTest, NewItemsNumberFromTheLargestKey)
{
    makeItem("0001", "", "0007");
    makeItem("0007", "0001", "0002");
    makeItem("0002", "0007", "");
    EXPECT_EQ(m_list.insertAfter("0002", {}), std::optional<std::string>("0008"));
    expectConsistent({"0001", "0007", "0002", "0008"});
}

TEST_F(LinkedListTest, TheExtraTextFieldsAreStoredWithTheItem)
{
    const auto first = m_list.insertAfter("", {{"Type", "TEXT"}, {"Value", "Уважаемый абонент"}});
    ASSERT_TRUE(first);
    const auto second = m_list.insertAfter(*first, {{"Type", "FIELD"}, {"Value", "SUMMA"}});
    ASSERT_TRUE(second);
    EXPECT_EQ(text(*first, "Type"), "TEXT");
    EXPECT_EQ(text(*first, "Value"), "Уважаемый абонент");
    EXPECT_EQ(text(*second, "Type"), "FIELD");
    EXPECT_EQ(text(*second, "Value"), "SUMMA");
    EXPECT_EQ(m_registry.values(path(*second)).size(), 4u);  // Prev, Next, Type, Value
    expectConsistent({*first, *second});
}

TEST_F(LinkedListTest, RemovalRelinksTheNeighbours)
{
    struct Case {
        const char* removed;
        Names order;
    };
    const Case cases[] = {
        {"0001", {"0002", "0003"}},  // the head
        {"0002", {"0001", "0003"}},  // the middle
        {"0003", {"0001", "0002"}},  // the tail
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.removed);
        ASSERT_TRUE(m_store.deleteKey(kList));
        ASSERT_EQ(build(3), (Names{"0001", "0002", "0003"}));
        EXPECT_TRUE(m_list.remove(c.removed));
        EXPECT_FALSE(m_registry.keyExists(path(c.removed)));
        expectConsistent(c.order);
    }
}

TEST_F(LinkedListTest, RemovingTheOnlyItemLeavesAnEmptyList)
{
    build(1);
    EXPECT_TRUE(m_list.remove("0001"));
    expectConsistent({});
    // A removed number is free again when it was the largest.
    EXPECT_EQ(m_list.insertAfter("", {}), std::optional<std::string>("0001"));
}

TEST_F(LinkedListTest, RemovalDeletesTheItemWithItsSubKeys)
{
    build(2);
    ASSERT_TRUE(m_registry.setValue(path("0001") + "\\Extra", "X", RegistryValue::dword(1)));
    EXPECT_TRUE(m_list.remove("0001"));
    EXPECT_FALSE(m_registry.keyExists(path("0001") + "\\Extra"));
    expectConsistent({"0002"});
}

TEST_F(LinkedListTest, RemovingOrMovingAMissingItemFailsAndChangesNothing)
{
    const Names items = build(3);
    EXPECT_FALSE(m_list.remove("0009"));
    EXPECT_FALSE(m_list.remove(""));
    EXPECT_FALSE(m_list.moveAfter("0009", "0001"));
    EXPECT_FALSE(m_list.moveAfter("0009", ""));
    EXPECT_FALSE(m_list.moveAfter("0001", "0009"));  // a missing target
    EXPECT_FALSE(m_list.moveAfter("0003", "Нет"));
    expectConsistent(items);
}

TEST_F(LinkedListTest, MovesKeepTheLinksConsistent)
{
    struct Case {
        const char* item;
        const char* after;
        Names order;
    };
    // Each case starts from 0001, 0002, 0003, 0004.
    const Case cases[] = {
        {"0003", "", {"0003", "0001", "0002", "0004"}},  // to the front
        {"0004", "", {"0004", "0001", "0002", "0003"}},  // the tail to the front
        {"0001", "", {"0001", "0002", "0003", "0004"}},  // the head to the front
        {"0001", "0003", {"0002", "0003", "0001", "0004"}},  // the head into the middle
        {"0001", "0004", {"0002", "0003", "0004", "0001"}},  // the head to the tail
        {"0004", "0001", {"0001", "0004", "0002", "0003"}},  // the tail into the middle
        {"0002", "0001", {"0001", "0002", "0003", "0004"}},  // after its own predecessor
        {"0002", "0003", {"0001", "0003", "0002", "0004"}},  // after its own follower
        {"0003", "0003", {"0001", "0002", "0003", "0004"}},  // after itself
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.item) + " after '" + c.after + "'");
        ASSERT_TRUE(m_store.deleteKey(kList));
        ASSERT_EQ(build(4), (Names{"0001", "0002", "0003", "0004"}));
        EXPECT_TRUE(m_list.moveAfter(c.item, c.after));
        expectConsistent(c.order);
    }
}

TEST_F(LinkedListTest, MovingToTheFrontPointsTheFormerHeadAtTheMovedItem)
{
    build(3);
    ASSERT_TRUE(m_list.moveAfter("0002", ""));
    EXPECT_EQ(text("0002", "Prev"), "");
    EXPECT_EQ(text("0001", "Prev"), "0002");
    expectConsistent({"0002", "0001", "0003"});
}

TEST_F(LinkedListTest, MovesKeepTheItemsFields)
{
    const auto first = m_list.insertAfter("", {{"Type", "TEXT"}, {"Value", "a"}});
    const auto second = m_list.insertAfter(first.value_or(""), {{"Type", "FIELD"}, {"Value", "b"}});
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(m_list.moveAfter(*second, ""));
    EXPECT_EQ(text(*second, "Type"), "FIELD");
    EXPECT_EQ(text(*second, "Value"), "b");
    expectConsistent({*second, *first});
}

// Links written by hand or damaged.

TEST_F(LinkedListTest, AListWithoutAnEmptyPrevListsAsEmpty)
{
    makeItem("0001", "0002", "0002");
    makeItem("0002", "0001", "0001");
    EXPECT_TRUE(m_list.items().empty());
}

TEST_F(LinkedListTest, ACycleInNextEndsTheListInsteadOfLooping)
{
    struct Case {
        const char* what;
        std::map<std::string, std::pair<std::string, std::string>> items;  // name → (Prev, Next)
        Names order;
    };
    const Case cases[] = {
        {"back to the head", {{"0001", {"", "0002"}}, {"0002", {"0001", "0003"}}, {"0003", {"0002", "0001"}}},
         {"0001", "0002", "0003"}},
        {"onto itself", {{"0001", {"", "0002"}}, {"0002", {"0001", "0002"}}}, {"0001", "0002"}},
        {"into the middle",
         {{"0001", {"", "0002"}}, {"0002", {"0001", "0003"}}, {"0003", {"0002", "0002"}}},
         {"0001", "0002", "0003"}},
        {"the head onto itself", {{"0001", {"", "0001"}}}, {"0001"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_store.deleteKey(kList));
        for (const auto& [name, links] : c.items)
            makeItem(name, links.first, links.second);
        EXPECT_EQ(m_list.items(), c.order);
    }
}

TEST_F(LinkedListTest, ANextNamingAMissingItemEndsTheList)
{
    makeItem("0001", "", "0002");
    makeItem("0002", "0001", "0005");
    EXPECT_EQ(m_list.items(), (Names{"0001", "0002"}));
}

TEST_F(LinkedListTest, TheHeadIsTheFirstItemWithEmptyPrevInKeyOrder)
{
    // Two chains: the one whose head comes first in enumeration order is listed.
    makeItem("0003", "", "0004");
    makeItem("0004", "0003", "");
    makeItem("0001", "", "0002");
    makeItem("0002", "0001", "");
    EXPECT_EQ(m_list.items(), (Names{"0001", "0002"}));
}

TEST_F(LinkedListTest, LinkNamesIgnoreCase)
{
    ASSERT_TRUE(m_registry.setValue(path("0002"), "prev", RegistryValue::text("")));
    ASSERT_TRUE(m_registry.setValue(path("0002"), "NEXT", RegistryValue::text("0001")));
    ASSERT_TRUE(m_registry.setValue(path("0001"), "pReV", RegistryValue::text("0002")));
    ASSERT_TRUE(m_registry.setValue(path("0001"), "next", RegistryValue::text("")));
    EXPECT_EQ(m_list.items(), (Names{"0002", "0001"}));

    // Changes go to the existing values, not to new ones beside them.
    EXPECT_EQ(m_list.insertAfter("0002", {}), std::optional<std::string>("0003"));
    EXPECT_EQ(m_registry.values(path("0002")).size(), 2u);
    EXPECT_EQ(m_registry.values(path("0001")).size(), 2u);
    expectConsistent({"0002", "0003", "0001"});
}

TEST_F(LinkedListTest, ListsUnderDifferentKeysAreIndependent)
{
    LinkedList other(m_store, "Tasks\\A\\Операторы\\T\\Шаблоны");
    build(3);
    EXPECT_EQ(other.insertAfter("", {}), std::optional<std::string>("0001"));
    EXPECT_EQ(other.items(), Names{"0001"});
    expectConsistent({"0001", "0002", "0003"});
    // An item of this list is not an item of the other one.
    EXPECT_FALSE(other.insertAfter("0003", {}));
    EXPECT_EQ(other.items(), Names{"0001"});
}

// A store that can be read but not written, as for a station whose configuration is locked down.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::filesystem::path& file) : m_file(file)
    {
        // Root ignores permission bits, so mark the file immutable when we may.
        m_fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        if (m_fd >= 0 && ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            m_immutable = ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        chmod(file.c_str(), 0444);
    }
    ~ReadOnlyFile()
    {
        int flags = 0;
        if (m_immutable && ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
        }
        if (m_fd >= 0)
            ::close(m_fd);
        chmod(m_file.c_str(), 0600);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

private:
    std::filesystem::path m_file;
    int m_fd = -1;
    bool m_immutable = false;
};

TEST(LinkedListReadOnly, AStoreThatCannotBeWrittenStillListsItsItems)
{
    test::TempDir dir;
    const auto file = dir / "registry.db";
    {
        RegistryStore registry(file);
        ConfigStore store(registry);
        LinkedList list(store, kList);
        ASSERT_TRUE(list.insertAfter("", {{"Type", "TEXT"}}));
        ASSERT_TRUE(list.insertAfter("", {{"Type", "FIELD"}}));
    }
    ReadOnlyFile readOnly(file);
    RegistryStore registry(file);
    if (!registry.isReadOnly())
        GTEST_SKIP() << "this file system lets the test write a read-only file";
    ASSERT_TRUE(registry.isOpen()) << registry.openError();
    ConfigStore store(registry);
    LinkedList list(store, kList);

    EXPECT_EQ(list.items(), (Names{"0002", "0001"})) << RegistryStore::lastError();
    EXPECT_FALSE(list.insertAfter("0001", {}));
    EXPECT_FALSE(list.remove("0001"));
    EXPECT_FALSE(list.moveAfter("0001", ""));
    EXPECT_EQ(store.subKeys(kList), (Names{"0001", "0002"}));
}

TEST(LinkedListUnusable, AStoreThatCannotBeOpenedFailsEveryChange)
{
    test::TempDir dir;
    std::ofstream(dir / "registry.db") << "not a store";
    RegistryStore registry(dir / "registry.db");
    ASSERT_FALSE(registry.isOpen());
    ConfigStore store(registry);
    LinkedList list(store, kList);
    EXPECT_TRUE(list.items().empty());
    EXPECT_FALSE(list.insertAfter("", {}));
    EXPECT_FALSE(list.remove("0001"));
    EXPECT_FALSE(list.moveAfter("0001", ""));
}

}  // namespace
}  // namespace peltra::config
