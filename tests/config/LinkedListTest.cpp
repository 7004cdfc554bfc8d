// Linked lists of item sub-keys: insertion, removal, moves, and lists with damaged links.
#include "config/LinkedList.h"

#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/ReadOnlyFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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

    // Starts the list afresh with `count` items in key order, made through the list itself.
    void rebuild(int count)
    {
        ASSERT_TRUE(m_store.deleteKey(kList));
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(m_list.insertAfter(i == 0 ? "" : "000" + std::to_string(i), {}));
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
        Names sorted = listed;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(m_store.subKeys(kList), sorted) << "an item key is outside the chain";
    }
};

TEST_F(LinkedListTest, InsertionsFollowTheirAfterItemNotTheKeyOrder)
{
    EXPECT_TRUE(m_list.items().empty());
    ASSERT_TRUE(m_registry.createKey(ConfigStore::fullPath(kList)));
    EXPECT_TRUE(m_list.items().empty());
    struct Step {
        const char* after;
        const char* created;
        Names order;
    };
    const Step steps[] = {
        {"", "0001", {"0001"}},
        {"0001", "0002", {"0001", "0002"}},
        {"", "0003", {"0003", "0001", "0002"}},                              // at the front
        {"0001", "0004", {"0003", "0001", "0004", "0002"}},                  // after a middle item
        {"0002", "0005", {"0003", "0001", "0004", "0002", "0005"}},          // after the tail
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
    rebuild(3);
    ASSERT_TRUE(m_list.remove("0003"));
    // "0003" is a stale selection: its name is also the number the new item would get, which
    // must not make the new item its own after-item.
    for (const char* after : {"0003", "0007", "Нет", "0001\\0002"}) {
        SCOPED_TRACE(after);
        EXPECT_FALSE(m_list.insertAfter(after, {{"Type", "TEXT"}}));
        expectConsistent({"0001", "0002"});
    }
    EXPECT_EQ(m_list.insertAfter("0002", {}), std::optional<std::string>("0003")) << "no number used up";

    ASSERT_TRUE(m_store.deleteKey(kList));
    makeItem("0001", "", "0009");  // a follower that is gone
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

TEST_F(LinkedListTest, ItemsKeepTheirTextFieldsThroughMoves)
{
    const auto first = m_list.insertAfter("", {{"Type", "TEXT"}, {"Value", "Уважаемый абонент"}});
    const auto second = m_list.insertAfter(first.value_or(""), {{"Type", "FIELD"}, {"Value", "SUMMA"}});
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(m_list.moveAfter(*second, ""));
    EXPECT_EQ(text(*first, "Type"), "TEXT");
    EXPECT_EQ(text(*first, "Value"), "Уважаемый абонент");
    EXPECT_EQ(text(*second, "Type"), "FIELD");
    EXPECT_EQ(text(*second, "Value"), "SUMMA");
    EXPECT_EQ(m_registry.values(path(*second)).size(), 4u);  // Prev, Next, Type, Value
    expectConsistent({*second, *first});
}

TEST_F(LinkedListTest, RemovalsAndMovesRelinkTheNeighbours)
{
    struct Case {
        int count;          // the list starts as items 0001, 0002, ... in key order
        const char* item;
        const char* after;  // nullptr: remove the item; else move it after this one
        bool ok;
        Names order;
    };
    const Names three = {"0001", "0002", "0003"};
    const Case cases[] = {
        {3, "0001", nullptr, true, {"0002", "0003"}},  // remove the head
        {3, "0002", nullptr, true, {"0001", "0003"}},  // the middle
        {3, "0003", nullptr, true, {"0001", "0002"}},  // the tail
        {1, "0001", nullptr, true, {}},                // the only item
        {4, "0003", "", true, {"0003", "0001", "0002", "0004"}},      // move to the front
        {4, "0004", "", true, {"0004", "0001", "0002", "0003"}},      // the tail to the front
        {4, "0001", "", true, {"0001", "0002", "0003", "0004"}},      // the head to the front
        {4, "0001", "0003", true, {"0002", "0003", "0001", "0004"}},  // the head into the middle
        {4, "0001", "0004", true, {"0002", "0003", "0004", "0001"}},  // the head to the tail
        {4, "0004", "0001", true, {"0001", "0004", "0002", "0003"}},  // the tail into the middle
        {4, "0002", "0001", true, {"0001", "0002", "0003", "0004"}},  // after its own predecessor
        {4, "0002", "0003", true, {"0001", "0003", "0002", "0004"}},  // after its own follower
        {4, "0003", "0003", true, {"0001", "0002", "0003", "0004"}},  // after itself
        {3, "0009", nullptr, false, three},  // missing items and targets change nothing
        {3, "", nullptr, false, three},
        {3, "0009", "0001", false, three},
        {3, "0009", "", false, three},
        {3, "0001", "0009", false, three},
        {3, "0003", "Нет", false, three},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.item) + (c.after ? std::string(" after '") + c.after + "'" : " removed"));
        rebuild(c.count);
        EXPECT_EQ(c.after ? m_list.moveAfter(c.item, c.after) : m_list.remove(c.item), c.ok);
        expectConsistent(c.order);
    }
}

TEST_F(LinkedListTest, DamagedLinksEndTheListInsteadOfLooping)
{
    struct Case {
        const char* what;
        std::map<std::string, std::pair<std::string, std::string>> items;  // name → (Prev, Next)
        Names order;
    };
    const Case cases[] = {
        {"no empty Prev", {{"0001", {"0002", "0002"}}, {"0002", {"0001", "0001"}}}, {}},
        {"back to the head", {{"0001", {"", "0002"}}, {"0002", {"0001", "0003"}}, {"0003", {"0002", "0001"}}},
         {"0001", "0002", "0003"}},
        {"onto itself", {{"0001", {"", "0002"}}, {"0002", {"0001", "0002"}}}, {"0001", "0002"}},
        {"into the middle", {{"0001", {"", "0002"}}, {"0002", {"0001", "0003"}}, {"0003", {"0002", "0002"}}},
         {"0001", "0002", "0003"}},
        {"the head onto itself", {{"0001", {"", "0001"}}}, {"0001"}},
        {"Next names a missing item", {{"0001", {"", "0002"}}, {"0002", {"0001", "0005"}}}, {"0001", "0002"}},
        {"two chains: the head first in key order wins",
         {{"0003", {"", "0004"}}, {"0004", {"0003", ""}}, {"0001", {"", "0002"}}, {"0002", {"0001", ""}}},
         {"0001", "0002"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_store.deleteKey(kList));
        for (const auto& [name, links] : c.items)
            makeItem(name, links.first, links.second);
        EXPECT_EQ(m_list.items(), c.order);
    }
}

TEST_F(LinkedListTest, ListsUnderDifferentKeysAreIndependent)
{
    LinkedList other(m_store, "Tasks\\A\\Операторы\\T\\Шаблоны");
    rebuild(3);
    EXPECT_EQ(other.insertAfter("", {}), std::optional<std::string>("0001"));
    EXPECT_FALSE(other.insertAfter("0003", {})) << "an item of this list is not one of the other";
    EXPECT_EQ(other.items(), Names{"0001"});
    expectConsistent({"0001", "0002", "0003"});
}

// A store that can only be read (as on a station whose configuration is locked down) lists its
// items; one that cannot be opened lists none. Neither lets a change through.
TEST(LinkedListFaults, AStoreThatCannotBeWrittenFailsEveryChange)
{
    for (const bool readable : {true, false}) {
        SCOPED_TRACE(readable ? "read-only" : "not a store");
        test::TempDir dir;
        const auto file = dir / "registry.db";
        if (readable) {
            RegistryStore registry(file);
            ConfigStore store(registry);
            LinkedList list(store, kList);
            ASSERT_TRUE(list.insertAfter("", {{"Type", "TEXT"}}));
            ASSERT_TRUE(list.insertAfter("", {{"Type", "FIELD"}}));
        } else {
            std::ofstream(file) << "not a store";
        }
        test::ReadOnlyFile readOnly(file);
        if (!readOnly.isReadOnly())
            GTEST_SKIP() << "cannot make a file read-only here";
        RegistryStore registry(file);
        ASSERT_EQ(registry.isOpen(), readable) << registry.openError();
        ConfigStore store(registry);
        LinkedList list(store, kList);
        EXPECT_EQ(list.items(), (readable ? Names{"0002", "0001"} : Names{})) << RegistryStore::lastError();
        EXPECT_FALSE(list.insertAfter("0001", {}));
        EXPECT_FALSE(list.remove("0001"));
        EXPECT_FALSE(list.moveAfter("0001", ""));
        EXPECT_EQ(store.subKeys(kList), (readable ? Names{"0001", "0002"} : Names{}));
    }
}

}  // namespace
}  // namespace peltra::config
