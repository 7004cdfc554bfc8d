// Filter conditions: the SQL text of each level, the working copy's numbering and deletion marks,
// and the stored form that commit writes.
#include "config/Conditions.h"

#include "config/Operator.h"
#include "support/ConfigTestStore.h"

#include <gtest/gtest.h>

namespace peltra::config {
namespace {

using platform::RegistryValue;
using test::Names;

SimpleCondition compare(const std::string& field, std::uint32_t code, const std::string& value)
{
    return {kConditionCompare, field, code, value, ""};
}

SimpleCondition expression(const std::string& text) { return {kConditionExpression, "", 2, "", text}; }

AndConds product(const std::string& name, std::vector<SimpleCondition> conditions)
{
    AndConds p{name, {}, false};
    for (const SimpleCondition& c : conditions)
        p.add(c);
    return p;
}

TEST(ConditionTextTest, CompareCodesAndTheTextOfEachCondition)
{
    const char* const texts[] = {"Like", "NotLike", "=", "<>", "<", ">", "<=", ">="};
    for (std::uint32_t code = 0; code < 8; ++code) {
        EXPECT_EQ(compareText(code), texts[code]) << code;
        EXPECT_EQ(compareCode(texts[code]), code) << code;
    }
    EXPECT_EQ(compareText(8), "");
    EXPECT_FALSE(compareCode("like")) << "the editor finds its entry by the exact text";

    const std::tuple<SimpleCondition, const char*, const char*> cases[] = {
        {compare("SUMMA", 5, "100"), "SUMMA > 100", "\"SUMMA\" > 100"},
        {compare("FAM", 1, "'ИВ%'"), "FAM NotLike 'ИВ%'", "\"FAM\" NotLike 'ИВ%'"},
        {compare("DATA", 6, "'2024-03-05'"), "DATA <= '2024-03-05'", "\"DATA\" <= '2024-03-05'"},
        {compare("SUMMA", 7, "\"X\""), "SUMMA >= \"X\"", "\"SUMMA\" >= \"X\""},  // the value is never touched
        {expression("SUMMA > 100 AND \"FIO\" LIKE 'А%'"), "SUMMA > 100 AND \"FIO\" LIKE 'А%'",
         "SUMMA > 100 AND \"FIO\" LIKE 'А%'"},
        // An expression ignores whatever comparison fields it still carries.
        {{kConditionExpression, "SUMMA", 5, "1", "PROBA = 0"}, "PROBA = 0", "PROBA = 0"},
    };
    for (const auto& [condition, plain, quoted] : cases) {
        EXPECT_EQ(condition.text(false), plain);
        EXPECT_EQ(condition.text(true), quoted);
    }
}

TEST(ConditionSetTest, TextsJoinWhatIsNotMarkedWithoutStraySeparators)
{
    ConditionSet firstEmptied{{product("0001", {compare("A", 2, "1"), compare("B", 2, "2")}),
                               product("0002", {compare("C", 5, "3")})}};
    firstEmptied.products[0].markAllDeleted();
    ConditionSet middleMarked{{product("0001", {compare("A", 2, "1")}), product("0002", {compare("B", 2, "2")}),
                               product("0003", {compare("C", 2, "3")})}};
    middleMarked.markProductDeleted(1);
    ConditionSet conditionMarked{{product("0001", {compare("A", 2, "1"), compare("B", 2, "2"), compare("C", 2, "3")})}};
    conditionMarked.products[0].markDeleted(1);
    ConditionSet allMarked{{product("0001", {compare("A", 2, "1")}), product("0002", {compare("B", 2, "2")})}};
    allMarked.markAllProductsDeleted();

    const std::tuple<const char*, ConditionSet, const char*> cases[] = {
        {"nothing", {}, ""},
        {"two products", {{product("0001", {compare("A", 5, "1"), expression("B IS NULL")}),
                           product("0002", {compare("C", 2, "3")})}},
         "A > 1 AND B IS NULL OR C = 3"},
        {"the first emptied by deletion", firstEmptied, "C > 3"},
        {"an empty product between", {{product("0001", {compare("A", 2, "1")}), product("0002", {}),
                                       product("0003", {compare("C", 2, "3")})}},
         "A = 1 OR C = 3"},
        {"empty expressions skipped", {{product("0001", {expression(""), compare("A", 2, "1"), expression("")})}},
         "A = 1"},
        {"a product marked", middleMarked, "A = 1 OR C = 3"},
        {"a condition marked", conditionMarked, "A = 1 AND C = 3"},
        {"everything marked", allMarked, ""},
    };
    for (const auto& [what, set, text] : cases)
        EXPECT_EQ(set.text(false), text) << what;
}

TEST(ConditionSetTest, NewNamesFollowTheLargestNumber)
{
    ConditionSet set;
    EXPECT_EQ(set.addProduct(), 0u);
    set.products.push_back({"0003", {}, false});
    EXPECT_EQ(set.addProduct(), 2u);
    set.markProductDeleted(2);  // a marked product still holds its number
    set.addProduct();
    EXPECT_EQ(set.products[0].keyName, "0001");
    EXPECT_EQ(set.products[2].keyName, "0004");
    EXPECT_EQ(set.products[3].keyName, "0005");

    AndConds* p = set.product("0003");
    ASSERT_EQ(p, set.product(std::size_t{1}));
    EXPECT_EQ(p->add(compare("A", 2, "1")), "0001");
    p->conditions.push_back({"0007", compare("B", 2, "2"), false});
    EXPECT_EQ(p->add(compare("C", 2, "3")), "0008");
    EXPECT_EQ(set.product("0009"), nullptr);
    EXPECT_EQ(set.product(std::size_t{9}), nullptr);
    EXPECT_TRUE(p->replace(1, expression("B IN (1, 2)")));
    EXPECT_FALSE(p->replace(3, expression("X")));
    EXPECT_EQ(p->text(false), "A = 1 AND B IN (1, 2) AND C = 3");
    EXPECT_FALSE(p->markDeleted(3));
    EXPECT_FALSE(set.markProductDeleted(9));
}

class OrCondsTest : public ::testing::Test, protected test::ConfigTestStore {
protected:
    std::string key(const std::string& path) const
    {
        return config::ConfigStore::fullPath(m_task + "\\Фильтр" + (path.empty() ? "" : "\\" + path));
    }
    Names stored(const std::string& path = "") { return registry.subKeys(key(path)); }

    // (A = 1 AND B > 2 AND C Like 'x%') OR (FIO NotLike 'И%').
    static ConditionSet twoProducts()
    {
        return {{product("0001", {compare("A", 2, "1"), compare("B", 5, "2"), compare("C", 0, "'x%'")}),
                 product("0002", {expression("FIO NotLike 'И%'")})}};
    }
    static constexpr const char* kTwoProducts = "A = 1 AND B > 2 AND C Like 'x%' OR FIO NotLike 'И%'";

    std::string m_task = taskKey(kBinding, kTask);
    OrConds m_conditions{store, m_task};
};

TEST_F(OrCondsTest, CommitWritesOnlyTheValuesOfEachConditionsType)
{
    EXPECT_EQ(m_conditions.text(false), "");
    ASSERT_TRUE(m_conditions.commit(twoProducts()));
    EXPECT_EQ(stored(), (Names{"0001", "0002"}));
    EXPECT_EQ(stored("0001"), (Names{"0001", "0002", "0003"}));
    EXPECT_EQ(registry.values(key("0001\\0002")).size(), 4u);
    EXPECT_EQ(registry.getValue(key("0001\\0002"), "Type"), RegistryValue::dword(0));
    EXPECT_EQ(registry.getValue(key("0001\\0002"), "Field"), RegistryValue::text("B"));
    EXPECT_EQ(registry.getValue(key("0001\\0002"), "Compare"), RegistryValue::dword(5));
    EXPECT_EQ(registry.getValue(key("0001\\0002"), "Value"), RegistryValue::text("2"));
    EXPECT_EQ(registry.values(key("0002\\0001")).size(), 2u);
    EXPECT_EQ(registry.getValue(key("0002\\0001"), "Type"), RegistryValue::dword(1));
    EXPECT_EQ(registry.getValue(key("0002\\0001"), "Expression"), RegistryValue::text("FIO NotLike 'И%'"));

    const ConditionSet loaded = m_conditions.load();
    ASSERT_EQ(loaded.products.size(), 2u);
    EXPECT_EQ(loaded.products[0].conditions[2].keyName, "0003");
    EXPECT_EQ(loaded.products[0].conditions[2].condition, compare("C", 0, "'x%'"));
    EXPECT_EQ(m_conditions.text(false), kTwoProducts);
    EXPECT_EQ(m_conditions.text(true), "\"A\" = 1 AND \"B\" > 2 AND \"C\" Like 'x%' OR FIO NotLike 'И%'");
}

TEST_F(OrCondsTest, MarkedItemsLeaveTheTextAtOnceAndTheStoreAtCommit)
{
    ConditionSet three = twoProducts();
    three.products[three.addProduct()].add(compare("Z", 2, "0"));
    ASSERT_TRUE(m_conditions.commit(three));

    ConditionSet working = m_conditions.load();
    ASSERT_TRUE(working.products[0].markDeleted(1));
    EXPECT_EQ(working.text(false), "A = 1 AND C Like 'x%' OR FIO NotLike 'И%' OR Z = 0");
    EXPECT_EQ(stored("0001"), (Names{"0001", "0002", "0003"})) << "nothing deleted before commit";
    ASSERT_TRUE(m_conditions.commit(working));
    EXPECT_EQ(stored("0001"), (Names{"0001", "0003"})) << "the others keep their numbers";

    // The next condition follows the largest number; a gap is never filled.
    working = m_conditions.load();
    EXPECT_EQ(working.products[0].add(compare("D", 4, "5")), "0004");

    // A product whose conditions were all deleted stays as an empty key; a marked one goes whole.
    working = m_conditions.load();
    working.products[0].markAllDeleted();
    working.markProductDeleted(1);
    EXPECT_EQ(working.text(false), "Z = 0") << "no leading OR";
    ASSERT_TRUE(m_conditions.commit(working));
    EXPECT_EQ(stored(), (Names{"0001", "0003"}));
    EXPECT_TRUE(stored("0001").empty());
    EXPECT_FALSE(registry.keyExists(key("0002")));
    EXPECT_EQ(m_conditions.text(false), "Z = 0");
    working = m_conditions.load();
    EXPECT_EQ(working.products[working.addProduct()].keyName, "0004");

    working = m_conditions.load();
    working.markAllProductsDeleted();
    ASSERT_TRUE(m_conditions.commit(working));
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(registry.keyExists(key(""))) << "the filter key itself stays";
}

TEST_F(OrCondsTest, ACommitThatCannotFinishChangesNothing)
{
    ASSERT_TRUE(m_conditions.commit(twoProducts()));
    ConditionSet working = m_conditions.load();
    working.products[0].replace(0, compare("A", 2, "999"));
    working.products[1].markDeleted(0);
    // A product name that would reach another key ends the commit after the first product.
    for (const char* bad : {"0003\\..", ""}) {
        working.products.push_back(AndConds{bad, {}, false});
        EXPECT_FALSE(m_conditions.commit(working)) << bad;
        working.products.pop_back();
    }
    working.products[0].conditions.push_back({"x\\y", compare("Q", 2, "1"), false});
    EXPECT_FALSE(m_conditions.commit(working));
    EXPECT_EQ(m_conditions.text(false), kTwoProducts);
    EXPECT_EQ(stored(), (Names{"0001", "0002"}));
}

}  // namespace
}  // namespace peltra::config
