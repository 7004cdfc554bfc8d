// A task's filter condition: a disjunction of logical products of simple conditions, under the
// task's "Фильтр" key, with the SQL text it yields and the deferred deletion of the editor.
#pragma once

#include "config/ConfigStore.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::config {

inline constexpr char kFilterKeyName[] = "Фильтр";

inline constexpr std::uint32_t kConditionCompare = 0;     // a field compared with a value
inline constexpr std::uint32_t kConditionExpression = 1;  // a free SQL expression

// Comparison codes: the stored number indexes these texts, which are also the SQL operators.
inline constexpr std::array<std::string_view, 8> kCompareTexts = {"Like", "NotLike", "=", "<>",
                                                                  "<",    ">",       "<=", ">="};
// The order the condition editor lists the comparisons in.
inline constexpr std::array<std::uint32_t, 8> kCompareListOrder = {2, 3, 4, 5, 6, 7, 0, 1};

// The text of a comparison code; empty for a code past the table.
std::string_view compareText(std::uint32_t code);
// The code of a comparison text (exact), if any.
std::optional<std::uint32_t> compareCode(std::string_view text);

struct SimpleCondition {
    std::uint32_t type = kConditionCompare;
    std::string field;
    std::uint32_t compare = 2;
    std::string value;       // SQL text as typed, literals with their own quotes
    std::string expression;  // a whole SQL condition

    // The condition as SQL. With quote, the field name of a comparison is put in double quotes;
    // values and expressions are never changed.
    std::string text(bool quote) const;
    bool operator==(const SimpleCondition&) const = default;
};

// A condition of a product, with the editor's deletion mark (never stored).
struct AndCond {
    std::string keyName;
    SimpleCondition condition;
    bool deleted = false;
};

// One logical product.
struct AndConds {
    std::string keyName;
    std::vector<AndCond> conditions;
    bool deleted = false;

    // The conditions not marked deleted, joined by " AND ".
    std::string text(bool quote) const;
    // Appends a condition named after the largest number in the product; its name.
    std::string add(const SimpleCondition& condition);
    bool replace(std::size_t index, const SimpleCondition& condition);
    bool markDeleted(std::size_t index);
    void markAllDeleted();
};

// The whole condition as the editor works on it: a plain value, copied from and back to the
// task's OrConds. Deletions only set marks; the marked elements leave the text at once and the
// store at commit.
struct ConditionSet {
    std::vector<AndConds> products;

    // The products not marked deleted, joined by " OR " (AND binds tighter, so no parentheses).
    std::string text(bool quote) const;
    // Appends an empty product named after the largest number among the products; its index.
    std::size_t addProduct();
    AndConds* product(std::size_t index);
    AndConds* product(const std::string& keyName);
    bool markProductDeleted(std::size_t index);
    void markAllProductsDeleted();
};

// The stored condition of one task. Every operation is one store transaction.
class OrConds {
public:
    // taskKey is relative to the configuration root.
    OrConds(ConfigStore& store, std::string taskKey);

    // Reads the products and their conditions in the store's order.
    ConditionSet load();
    // The stored condition's text.
    std::string text(bool quote);
    // Writes a working copy back: marked products and conditions are deleted with their keys
    // (the others keep their numbers), every other one is written with the values of its type.
    // All or nothing.
    bool commit(const ConditionSet& working);

private:
    ConfigStore& m_store;
    std::string m_key;
};

}  // namespace peltra::config
