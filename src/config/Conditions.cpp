// Filter conditions: their SQL text, their working copies and their stored form.
#include "config/Conditions.h"

#include <algorithm>
#include <cstdio>

namespace peltra::config {

namespace {

// "%04u" of the largest number among the names plus one.
template <typename Items>
std::string nextName(const Items& items)
{
    std::uint64_t largest = 0;
    for (const auto& item : items)
        largest = std::max(largest, subKeyNumber(item.keyName));
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04llu", static_cast<unsigned long long>(largest + 1));
    return buffer;
}

// Joins the texts of the unmarked items with a separator, skipping empty texts.
template <typename Items, typename TextOf>
std::string joinUnmarked(const Items& items, const char* separator, TextOf textOf)
{
    std::string text;
    for (const auto& item : items) {
        if (item.deleted)
            continue;
        const std::string part = textOf(item);
        if (!part.empty() && !text.empty())
            text += separator;
        text += part;
    }
    return text;
}

SimpleCondition readCondition(ConfigStore& store, const std::string& key)
{
    SimpleCondition condition;
    KeyValues values(store, key);
    condition.type = values.number("Type", kConditionCompare);
    if (condition.type == kConditionExpression) {
        condition.expression = values.text("Expression", "");
    } else {
        condition.field = values.text("Field", "");
        condition.compare = values.number("Compare", 2);
        condition.value = values.text("Value", "");
    }
    return condition;
}

bool writeCondition(ConfigStore& store, const std::string& key, const SimpleCondition& condition)
{
    if (!store.writeNumber(key, "Type", condition.type))
        return false;
    if (condition.type == kConditionExpression)
        return store.writeText(key, "Expression", condition.expression);
    return store.writeText(key, "Field", condition.field) && store.writeNumber(key, "Compare", condition.compare) &&
           store.writeText(key, "Value", condition.value);
}

}  // namespace

std::string_view compareText(std::uint32_t code)
{
    return code < kCompareTexts.size() ? kCompareTexts[code] : std::string_view();
}

std::optional<std::uint32_t> compareCode(std::string_view text)
{
    for (std::uint32_t code = 0; code < kCompareTexts.size(); ++code)
        if (kCompareTexts[code] == text)
            return code;
    return std::nullopt;
}

std::string SimpleCondition::text(bool quote) const
{
    if (type == kConditionExpression)
        return expression;
    const char* q = quote ? "\"" : "";
    return q + field + q + " " + std::string(compareText(compare)) + " " + value;
}

std::string AndConds::text(bool quote) const
{
    return joinUnmarked(conditions, " AND ", [&](const AndCond& item) { return item.condition.text(quote); });
}

std::string AndConds::add(const SimpleCondition& condition)
{
    AndCond item{nextName(conditions), condition, false};
    conditions.push_back(item);
    return item.keyName;
}

bool AndConds::replace(std::size_t index, const SimpleCondition& condition)
{
    if (index >= conditions.size())
        return false;
    conditions[index].condition = condition;
    return true;
}

bool AndConds::markDeleted(std::size_t index)
{
    if (index >= conditions.size())
        return false;
    conditions[index].deleted = true;
    return true;
}

void AndConds::markAllDeleted()
{
    for (AndCond& item : conditions)
        item.deleted = true;
}

std::string ConditionSet::text(bool quote) const
{
    return joinUnmarked(products, " OR ", [&](const AndConds& product) { return product.text(quote); });
}

std::size_t ConditionSet::addProduct()
{
    products.push_back(AndConds{nextName(products), {}, false});
    return products.size() - 1;
}

AndConds* ConditionSet::product(std::size_t index)
{
    return index < products.size() ? &products[index] : nullptr;
}

AndConds* ConditionSet::product(const std::string& keyName)
{
    for (AndConds& product : products)
        if (product.keyName == keyName)
            return &product;
    return nullptr;
}

bool ConditionSet::markProductDeleted(std::size_t index)
{
    if (index >= products.size())
        return false;
    products[index].deleted = true;
    return true;
}

void ConditionSet::markAllProductsDeleted()
{
    for (AndConds& product : products)
        product.deleted = true;
}

OrConds::OrConds(ConfigStore& store, std::string taskKey)
    : m_store(store), m_key(std::move(taskKey) + "\\" + kFilterKeyName)
{
}

ConditionSet OrConds::load()
{
    ConditionSet set;
    m_store.registry().snapshot([&] {
        for (const std::string& productName : m_store.subKeys(m_key)) {
            AndConds product{productName, {}, false};
            const std::string productKey = m_key + "\\" + productName;
            for (const std::string& conditionName : m_store.subKeys(productKey))
                product.conditions.push_back(
                    {conditionName, readCondition(m_store, productKey + "\\" + conditionName), false});
            set.products.push_back(std::move(product));
        }
        return true;
    });
    return set;
}

std::string OrConds::text(bool quote) { return load().text(quote); }

bool OrConds::commit(const ConditionSet& working)
{
    return m_store.registry().transaction([&] {
        for (const AndConds& product : working.products) {
            if (!isKeyName(product.keyName))
                return false;
            const std::string productKey = m_key + "\\" + product.keyName;
            if (product.deleted) {
                if (!m_store.deleteKey(productKey))
                    return false;
                continue;
            }
            if (!m_store.registry().createKey(ConfigStore::fullPath(productKey)))
                return false;
            for (const AndCond& item : product.conditions) {
                if (!isKeyName(item.keyName))
                    return false;
                const std::string conditionKey = productKey + "\\" + item.keyName;
                if (item.deleted ? !m_store.deleteKey(conditionKey)
                                 : !writeCondition(m_store, conditionKey, item.condition))
                    return false;
            }
        }
        return true;
    });
}

}  // namespace peltra::config
