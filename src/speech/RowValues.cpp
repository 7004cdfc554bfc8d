// A table row given field by field.
#include "speech/RowValues.h"

#include "platform/text/CaseFold.h"
#include "platform/text/Trim.h"

namespace peltra::speech {

void FieldRow::set(const std::string& field, const std::string& value)
{
    for (auto& [name, stored] : m_fields) {
        if (platform::equalsIgnoreCase(name, field)) {
            stored = value;
            return;
        }
    }
    m_fields.emplace_back(field, value);
}

bool FieldRow::setAssignment(std::string_view assignment)
{
    const auto equals = assignment.find('=');
    if (equals == std::string_view::npos)
        return false;
    const std::string field(platform::trimBlanks(assignment.substr(0, equals)));
    if (field.empty())
        return false;
    set(field, std::string(assignment.substr(equals + 1)));
    return true;
}

std::vector<std::string> FieldRow::fieldNames() const
{
    std::vector<std::string> names;
    names.reserve(m_fields.size());
    for (const auto& field : m_fields)
        names.push_back(field.first);
    return names;
}

std::optional<std::string> FieldRow::value(std::string_view field) const
{
    for (const auto& [name, stored] : m_fields) {
        if (platform::equalsIgnoreCase(name, field))
            return stored;
    }
    return std::nullopt;
}

std::optional<std::string> FieldRow::columnText(int column) const
{
    if (column < 1 || static_cast<std::size_t>(column) > m_fields.size())
        return std::nullopt;
    return m_fields[static_cast<std::size_t>(column) - 1].second;
}

}  // namespace peltra::speech
