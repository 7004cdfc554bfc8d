// Doubly linked lists of item sub-keys in the configuration tree.
#include "config/LinkedList.h"

#include "platform/text/CaseFold.h"

#include <set>

namespace peltra::config {
namespace {

constexpr const char* kPrev = "Prev";
constexpr const char* kNext = "Next";

}  // namespace

LinkedList::LinkedList(ConfigStore& store, std::string listKey)
    : m_store(store), m_listKey(std::move(listKey))
{
}

std::string LinkedList::itemKey(const std::string& item) const
{
    return m_listKey + "\\" + item;
}

std::string LinkedList::readLink(const std::string& item, const char* link)
{
    const auto value = m_store.registry().getValue(ConfigStore::fullPath(itemKey(item)), link);
    return value ? value->asText() : std::string();
}

bool LinkedList::exists(const std::string& item)
{
    return !item.empty() && m_store.registry().keyExists(ConfigStore::fullPath(itemKey(item)));
}

bool LinkedList::writeItemText(const std::string& item, const char* name, const std::string& value)
{
    return m_store.writeText(itemKey(item), name, value);
}

std::optional<std::string> LinkedList::head()
{
    for (const std::string& item : m_store.subKeys(m_listKey)) {
        if (readLink(item, kPrev).empty())
            return item;
    }
    return std::nullopt;
}

std::vector<std::string> LinkedList::items()
{
    std::vector<std::string> order;
    m_store.registry().snapshot([&] {
        std::set<std::string> seen;
        std::optional<std::string> item = head();
        while (item && exists(*item) && seen.insert(platform::foldCase(*item)).second) {
            order.push_back(*item);
            const std::string next = readLink(*item, kNext);
            item = next.empty() ? std::nullopt : std::optional(next);
        }
        return true;
    });
    return order;
}

// Links a (new or unlinked) item after `after`, or at the front; the item's own links are set.
bool LinkedList::link(const std::string& item, const std::string& after)
{
    std::string follower;
    if (!after.empty()) {
        if (!exists(after))
            return false;
        follower = readLink(after, kNext);
        if (!follower.empty() && !exists(follower))
            return false;
    } else {
        follower = head().value_or("");
    }
    if (!follower.empty() && !writeItemText(follower, kPrev, item))
        return false;
    if (!after.empty() && !writeItemText(after, kNext, item))
        return false;
    return writeItemText(item, kPrev, after) && writeItemText(item, kNext, follower);
}

// Joins an item's neighbours to each other; the item keeps its own (now stale) links.
bool LinkedList::unlink(const std::string& item)
{
    const std::string prev = readLink(item, kPrev);
    const std::string next = readLink(item, kNext);
    if (exists(prev) && !writeItemText(prev, kNext, next))
        return false;
    return !exists(next) || writeItemText(next, kPrev, prev);
}

std::optional<std::string> LinkedList::insertAfter(const std::string& after, const TextFields& fields)
{
    std::string name;
    const bool ok = m_store.registry().transaction([&] {
        // Checked before the new key exists: a missing item may bear the number it would get.
        if (!after.empty() && !exists(after))
            return false;
        // The new key has no links yet, so it must not be taken for the head: mark it first.
        const auto created = m_store.createNumberedSubKey(m_listKey);
        if (!created)
            return false;
        name = *created;
        if (!writeItemText(name, kPrev, name) || !link(name, after))
            return false;
        for (const auto& [field, value] : fields) {
            if (!writeItemText(name, field.c_str(), value))
                return false;
        }
        return true;
    });
    if (!ok)
        return std::nullopt;
    return name;
}

bool LinkedList::remove(const std::string& item)
{
    return m_store.registry().transaction([&] {
        return exists(item) && unlink(item) && m_store.deleteKey(itemKey(item));
    });
}

bool LinkedList::moveAfter(const std::string& item, const std::string& after)
{
    if (platform::equalsIgnoreCase(item, after))
        return exists(item);
    return m_store.registry().transaction([&] {
        if (!exists(item) || !unlink(item))
            return false;
        // Out of the chain now; a non-empty Prev keeps it from being taken for the head.
        return writeItemText(item, kPrev, item) && link(item, after);
    });
}

}  // namespace peltra::config
