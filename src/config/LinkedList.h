// Ordered lists kept in the configuration tree: item sub-keys linked by their "Prev" and "Next"
// text values, which name the neighbouring items and are empty at the ends. The items' key names
// ("%04u") carry no order.
#pragma once

#include "config/ConfigStore.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace peltra::config {

using TextFields = std::vector<std::pair<std::string, std::string>>;

// Every change is one store transaction; callers that share a list with other processes also
// hold the list's named lock around read-modify sequences of their own.
class LinkedList {
public:
    // listKey is relative to the configuration root, e.g. a template's "Шаблоны" key.
    LinkedList(ConfigStore& store, std::string listKey);

    // Item names in linked order: the first item whose "Prev" is empty (in enumeration order)
    // is the head, then "Next" is followed until it is empty, names an item that does not exist,
    // or would visit an item a second time (damaged links end the list rather than loop).
    std::vector<std::string> items();

    // Creates a new numbered item after the item named `after` (at the front when empty), with
    // the given text values besides its links. Fails, creating nothing, when `after` or its
    // follower does not exist. Returns the new item's name.
    std::optional<std::string> insertAfter(const std::string& after, const TextFields& fields);
    // Unlinks and deletes an item with its sub-keys.
    bool remove(const std::string& item);
    // Moves an item after another one (to the front when `after` is empty).
    bool moveAfter(const std::string& item, const std::string& after);

private:
    std::string itemKey(const std::string& item) const;
    std::string readLink(const std::string& item, const char* link);
    // Writes one text value of an item: a link or a field.
    bool writeItemText(const std::string& item, const char* name, const std::string& value);
    bool exists(const std::string& item);
    std::optional<std::string> head();
    bool unlink(const std::string& item);
    bool link(const std::string& item, const std::string& after);

    ConfigStore& m_store;
    std::string m_listKey;
};

}  // namespace peltra::config
