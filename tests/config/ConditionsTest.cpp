// Filter conditions: the SQL text of each level, the working copy's numbering and deletion marks,
// and the stored form that commit writes.
#include "config/Conditions.h"

#include "config/Operator.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltra::config {
namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using Names = std::vector<std::string>;

SimpleCondition compare(const std::string& field, std::uint32_t code, const std::string& value)
{
    SimpleCondition c;
    c.type = kConditionCompare;
    c.field = field;
    c.compare = code;
    c.value = value;
    return c;
}

SimpleCondition expression(const std::string& text)
{
    SimpleCondition c;
    c.type = kConditionExpression;
    c.expression = text;
    return c;
}

AndConds product(const std::string& name, std::vector<SimpleCondition> conditions)
{
    AndConds p{name, {}, false};
    for (const SimpleCondition& c : conditions)
        p.add(c);
    return p;
}

TEST(CompareCodesTest, TextsByCodeAndTheEditorsOrder)
{
    const char* const texts[] = {"Like", "NotLike", "=", "<>", "<", ">", "<=", ">="};
    for (std::uint32_t code = 0; code < 8; ++code) {
        EXPECT_EQ(compareText(code), texts[code]) << code;
        EXPECT_EQ(compareCode(texts[code]), code) << code;
    }
    EXPECT_EQ(compareText(8), "");
    EXPECT_FALSE(compareCode("like")) << "the editor finds its entry by the exact text";
    EXPECT_FALSE(compareCode("NOT LIKE"));
    EXPECT_FALSE(compareCode(""));
    EXPECT_EQ(kCompareListOrder, (std::array<std::uint32_t, 8>{2, 3, 4, 5, 6, 7, 0, 1}));
}

TEST(SimpleConditionTest, TextWithAndWithoutQuotes)
{
    struct Case {
        SimpleCondition condition;
        const char* plain;
        const char* quoted;
    };
    const Case cases[] = {
        {compare("SUMMA", 5, "100"), "SUMMA > 100", "\"SUMMA\" > 100"},
        {compare("FAM", 0, "'ИВ%'"), "FAM Like 'ИВ%'", "\"FAM\" Like 'ИВ%'"},
        {compare("FAM", 1, "'ИВ%'"), "FAM NotLike 'ИВ%'", "\"FAM\" NotLike 'ИВ%'"},
        {compare("TELEF", 2, "'2345678'"), "TELEF = '2345678'", "\"TELEF\" = '2345678'"},
        {compare("PROBA", 3, "0"), "PROBA <> 0", "\"PROBA\" <> 0"},
        {compare("PROBA", 4, "3"), "PROBA < 3", "\"PROBA\" < 3"},
        {compare("DATA", 6, "'2024-03-05'"), "DATA <= '2024-03-05'", "\"DATA\" <= '2024-03-05'"},
        {compare("SUMMA", 7, "\"X\""), "SUMMA >= \"X\"", "\"SUMMA\" >= \"X\""},  // the value is never touched
        {expression("SUMMA > 100 AND \"FIO\" LIKE 'А%'"), "SUMMA > 100 AND \"FIO\" LIKE 'А%'",
         "SUMMA > 100 AND \"FIO\" LIKE 'А%'"},
        {expression("FIO NotLike 'П%'"), "FIO NotLike 'П%'", "FIO NotLike 'П%'"},
        {expression(""), "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.condition.text(false), c.plain);
        EXPECT_EQ(c.condition.text(true), c.quoted);
    }
    // An expression condition ignores whatever comparison fields it still carries.
    SimpleCondition mixed = compare("SUMMA", 5, "1");
    mixed.type = kConditionExpression;
    mixed.expression = "PROBA = 0";
    EXPECT_EQ(mixed.text(true), "PROBA = 0");
}

TEST(ConditionSetTest, TextsJoinWhatIsNotMarkedWithoutStraySeparators)
{
    struct Case {
        const char* what;
        ConditionSet set;
        const char* text;
    };
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

    const Case cases[] = {
        {"nothing", {}, ""},
        {"one expression", {{product("0001", {expression("SUMMA BETWEEN 1 AND 5")})}}, "SUMMA BETWEEN 1 AND 5"},
        {"one product", {{product("0001", {compare("A", 5, "1"), expression("B IS NULL"), compare("C", 0, "'x%'")})}},
         "A > 1 AND B IS NULL AND C Like 'x%'"},
        {"two products", {{product("0001", {compare("A", 5, "1"), compare("B", 4, "9")}),
                           product("0002", {compare("C", 2, "3")})}},
         "A > 1 AND B < 9 OR C = 3"},
        {"the first emptied by deletion", firstEmptied, "C > 3"},
        {"an empty product between", {{product("0001", {compare("A", 2, "1")}), product("0002", {}),
                                       product("0003", {compare("C", 2, "3")})}},
         "A = 1 OR C = 3"},
        {"an empty product first", {{product("0001", {}), product("0002", {compare("B", 2, "2")})}}, "B = 2"},
        {"empty expressions skipped", {{product("0001", {expression(""), compare("A", 2, "1"), expression("")})}},
         "A = 1"},
        {"a product marked", middleMarked, "A = 1 OR C = 3"},
        {"a condition marked", conditionMarked, "A = 1 AND C = 3"},
        {"everything marked", allMarked, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.set.text(false), c.text) << c.what;

    const ConditionSet quoted{{product("0001", {compare("FAM", 1, "'ИВ%'"), expression("\"X\" = 1")}),
                               product("0002", {compare("SUMMA", 7, "100")})}};
    EXPECT_EQ(quoted.text(true), "\"FAM\" NotLike 'ИВ%' AND \"X\" = 1 OR \"SUMMA\" >= 100");
}

TEST(ConditionSetTest, NewNamesFollowTheLargestNumber)
{
    ConditionSet set;
    EXPECT_EQ(set.addProduct(), 0u);
    EXPECT_EQ(set.products[0].keyName, "0001");
    set.products.push_back({"0003", {}, false});
    EXPECT_EQ(set.addProduct(), 2u);
    EXPECT_EQ(set.products[2].keyName, "0004");
    set.markProductDeleted(2);  // a marked product still holds its number
    set.addProduct();
    EXPECT_EQ(set.products[3].keyName, "0005");

    AndConds* p = set.product("0003");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->add(compare("A", 2, "1")), "0001");
    p->conditions.push_back({"0007", compare("B", 2, "2"), false});
    EXPECT_EQ(p->add(compare("C", 2, "3")), "0008");
    EXPECT_EQ(set.product(std::size_t{1}), p);
    EXPECT_EQ(set.product("0009"), nullptr);
    EXPECT_EQ(set.product(std::size_t{9}), nullptr);

    EXPECT_TRUE(p->replace(1, expression("B IN (1, 2)")));
    EXPECT_FALSE(p->replace(3, expression("X")));
    EXPECT_EQ(p->conditions[1].keyName, "0007");
    EXPECT_EQ(p->text(false), "A = 1 AND B IN (1, 2) AND C = 3");
    EXPECT_FALSE(p->markDeleted(3));
    EXPECT_FALSE(set.markProductDeleted(9));
}

class OrCondsTest : public ::testing::Test {
protected:
    std::string key(const std::string& path) const
    {
        return ConfigStore::fullPath(m_task + "\\Фильтр" + (path.empty() ? "" : "\\" + path));
    }
    Names stored(const std::string& path = "") { return m_registry.subKeys(key(path)); }

    // Two products: (A = 1 AND B > 2 AND C Like 'x%') OR (FIO NotLike 'И%').
    ConditionSet twoProducts()
    {
        return {{product("0001", {compare("A", 2, "1"), compare("B", 5, "2"), compare("C", 0, "'x%'")}),
                 product("0002", {expression("FIO NotLike 'И%'")})}};
    }

    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
    std::string m_task = taskKey("Абоненты", "Долг");
    OrConds m_conditions{m_store, m_task};
};

TEST_F(OrCondsTest, CommitWritesOnlyTheValuesOfEachConditionsType)
{
    EXPECT_TRUE(m_conditions.load().products.empty());
    EXPECT_EQ(m_conditions.text(false), "");
    ASSERT_TRUE(m_conditions.commit(twoProducts()));

    EXPECT_EQ(stored(), (Names{"0001", "0002"}));
    EXPECT_EQ(stored("0001"), (Names{"0001", "0002", "0003"}));
    const auto values = m_registry.values(key("0001\\0002"));
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(m_registry.getValue(key("0001\\0002"), "Type"), RegistryValue::dword(0));
    EXPECT_EQ(m_registry.getValue(key("0001\\0002"), "Field"), RegistryValue::text("B"));
    EXPECT_EQ(m_registry.getValue(key("0001\\0002"), "Compare"), RegistryValue::dword(5));
    EXPECT_EQ(m_registry.getValue(key("0001\\0002"), "Value"), RegistryValue::text("2"));
    EXPECT_EQ(m_registry.values(key("0002\\0001")).size(), 2u);
    EXPECT_EQ(m_registry.getValue(key("0002\\0001"), "Type"), RegistryValue::dword(1));
    EXPECT_EQ(m_registry.getValue(key("0002\\0001"), "Expression"), RegistryValue::text("FIO NotLike 'И%'"));

    const ConditionSet loaded = m_conditions.load();
    ASSERT_EQ(loaded.products.size(), 2u);
    EXPECT_EQ(loaded.products[0].keyName, "0001");
    ASSERT_EQ(loaded.products[0].conditions.size(), 3u);
    EXPECT_EQ(loaded.products[0].conditions[2].keyName, "0003");
    EXPECT_EQ(loaded.products[0].conditions[2].condition, compare("C", 0, "'x%'"));
    EXPECT_EQ(loaded.products[1].conditions[0].condition, expression("FIO NotLike 'И%'"));
    EXPECT_EQ(m_conditions.text(false), "A = 1 AND B > 2 AND C Like 'x%' OR FIO NotLike 'И%'");
    EXPECT_EQ(m_conditions.text(true), "\"A\" = 1 AND \"B\" > 2 AND \"C\" Like 'x%' OR FIO NotLike 'И%'");
}

TEST_F(OrCondsTest, MarkedConditionsLeaveTheTextAtOnceAndTheStoreAtCommit)
{
    ASSERT_TRUE(m_conditions.commit(twoProducts()));
    ConditionSet working = m_conditions.load();
    ASSERT_TRUE(working.products[0].markDeleted(1));
    EXPECT_EQ(working.text(false), "A = 1 AND C Like 'x%' OR FIO NotLike 'И%'");
    EXPECT_EQ(stored("0001"), (Names{"0001", "0002", "0003"})) << "nothing deleted before commit";
    EXPECT_EQ(m_conditions.text(false), "A = 1 AND B > 2 AND C Like 'x%' OR FIO NotLike 'И%'");

    ASSERT_TRUE(m_conditions.commit(working));
    EXPECT_EQ(stored("0001"), (Names{"0001", "0003"})) << "the others keep their numbers";
    EXPECT_EQ(m_conditions.text(false), "A = 1 AND C Like 'x%' OR FIO NotLike 'И%'");

    // The next condition follows the largest number; a gap is never filled.
    working = m_conditions.load();
    EXPECT_EQ(working.products[0].add(compare("D", 4, "5")), "0004");
    ASSERT_TRUE(m_conditions.commit(working));
    EXPECT_EQ(stored("0001"), (Names{"0001", "0003", "0004"}));

    // A product whose conditions were all deleted stays as an empty key and adds nothing.
    working = m_conditions.load();
    working.products[0].markAllDeleted();
    EXPECT_EQ(working.text(false), "FIO NotLike 'И%'");
    ASSERT_TRUE(m_conditions.commit(working));
    EXPECT_EQ(stored(), (Names{"0001", "0002"}));
    EXPECT_TRUE(stored("0001").empty());
    EXPECT_EQ(m_conditions.text(false), "FIO NotLike 'И%'");
    EXPECT_EQ(m_conditions.load().products.size(), 2u);
}

TEST_F(OrCondsTest, MarkedProductsAreDeletedWithTheirConditions)
{
    ConditionSet three = twoProducts();
    three.addProduct();
    three.products[2].add(compare("Z", 2, "0"));
    ASSERT_TRUE(m_conditions.commit(three));
    ASSERT_EQ(stored(), (Names{"0001", "0002", "0003"}));

    ConditionSet working = m_conditions.load();
    working.markProductDeleted(0);
    EXPECT_EQ(working.text(false), "FIO NotLike 'И%' OR Z = 0") << "no leading OR";
    ASSERT_TRUE(m_conditions.commit(working));
    EXPECT_EQ(stored(), (Names{"0002", "0003"}));
    EXPECT_FALSE(m_registry.keyExists(key("0001\\0001")));
    EXPECT_EQ(m_conditions.text(false), "FIO NotLike 'И%' OR Z = 0");

    working = m_conditions.load();
    EXPECT_EQ(working.products[working.addProduct()].keyName, "0004");

    working = m_conditions.load();
    working.markAllProductsDeleted();
    EXPECT_EQ(working.text(false), "");
    ASSERT_TRUE(m_conditions.commit(working));
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(m_registry.keyExists(key(""))) << "the filter key itself stays";
    EXPECT_EQ(m_conditions.text(false), "");
}

TEST_F(OrCondsTest, ACommitThatCannotFinishChangesNothing)
{
    ASSERT_TRUE(m_conditions.commit(twoProducts()));
    ConditionSet working = m_conditions.load();
    working.products[0].replace(0, compare("A", 2, "999"));
    working.products[1].markDeleted(0);
    // A product name that would reach another key ends the commit after the first product.
    working.products.push_back(AndConds{"0003\\..", {}, false});
    EXPECT_FALSE(m_conditions.commit(working));
    EXPECT_EQ(m_conditions.text(false), "A = 1 AND B > 2 AND C Like 'x%' OR FIO NotLike 'И%'");
    EXPECT_EQ(stored(), (Names{"0001", "0002"}));

    working.products.back().keyName = "";
    EXPECT_FALSE(m_conditions.commit(working));
    working.products.pop_back();
    working.products[0].conditions.push_back({"x\\y", compare("Q", 2, "1"), false});
    EXPECT_FALSE(m_conditions.commit(working));
    EXPECT_EQ(m_conditions.text(false), "A = 1 AND B > 2 AND C Like 'x%' OR FIO NotLike 'И%'");
}

}  // namespace
}  // namespace peltra::config
