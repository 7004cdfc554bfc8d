// Linked lists of item sub-keys: insertion, removal, moves and damaged links.
#include "config/LinkedList.h"

#include "support/ConfigTestStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace peltra::config {
namespace {

using platform::RegistryValue;
using test::Names;

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
