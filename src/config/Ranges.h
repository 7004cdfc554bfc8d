// A task's numeric range filter (under its "Диапазоны" key) and the ports that may serve it
// (under "Доступные Порты").
#pragma once

#include "config/ConfigStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace peltra::config {

inline constexpr char kRangesKeyName[] = "Диапазоны";
inline constexpr char kAvailablePortsKeyName[] = "Доступные Порты";

// One range as stored: its key name ("0001") and inclusive bounds.
struct Range {
    std::string name;
    std::uint32_t minValue = 0;
    std::uint32_t maxValue = 0;
};

enum class Change { Unchanged, Changed, NotFound };

// The ranges of one task. Every operation reads or writes the store at once as one transaction.
// Bounds given the wrong way round are stored swapped, so a range always reads min <= max.
class Ranges {
public:
    // taskKey is relative to the configuration root.
    Ranges(ConfigStore& store, std::string taskKey);

    const std::string& key() const { return m_key; }
    std::string field();
    std::string type();
    // Sets the field the ranges apply to and its type letter; Unchanged (nothing written) when
    // both are as stored.
    Change setField(const std::string& field, const std::string& type);

    std::vector<Range> list();
    // Creates the next numbered range; its name.
    std::optional<std::string> add(std::uint32_t minValue, std::uint32_t maxValue);
    // Unchanged (nothing written) when the bounds are as stored.
    Change setBounds(const std::string& name, std::uint32_t minValue, std::uint32_t maxValue);
    bool remove(const std::string& name);

    // "F>=a AND F<=b OR F>=c AND F<=d ..." over the ranges in order; empty unless the field is
    // set and numeric ("N"). With quote the field name is put in double quotes.
    std::string filterText(bool quote);

private:
    std::string rangeKey(const std::string& name) const;
    Range read(const std::string& name);

    ConfigStore& m_store;
    std::string m_key;
};

// The ports linked to a task: the multi-string value "main". Reading a missing value writes the
// empty list. Once the task is removed, the list is empty and cannot be set.
class AvailablePorts {
public:
    AvailablePorts(ConfigStore& store, std::string taskKey);

    std::vector<std::string> list();
    bool set(const std::vector<std::string>& ports);
    bool contains(const std::string& port);

private:
    ConfigStore& m_store;
    std::string m_taskKey;
    std::string m_key;
};

}  // namespace peltra::config
