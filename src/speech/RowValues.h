// The values of one table row as a template expansion reads them, and a row given field by field.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace peltra::speech {

// A row of the task's query. Columns are numbered from 1, as template items' columns are.
class RowValues {
public:
    virtual ~RowValues() = default;
    // The column's value as UTF-8 text (a NULL value as empty text); nothing when the row has no
    // such column.
    virtual std::optional<std::string> columnText(int column) const = 0;
};

// A row given as named fields in order (FIELD=VALUE from a command line or a test); field n is
// column n. Field names compare without regard to case, as dBase field names do.
class FieldRow : public RowValues {
public:
    // Sets a field's value: replaces the field of the same name, or adds it as the last column.
    void set(const std::string& field, const std::string& value);
    // Sets a field from "FIELD=VALUE" (split at the first '='; blanks around FIELD dropped,
    // VALUE kept as written). false, changing nothing, when there is no '=' or no field name.
    bool setAssignment(std::string_view assignment);

    std::vector<std::string> fieldNames() const;
    std::optional<std::string> value(std::string_view field) const;
    std::optional<std::string> columnText(int column) const override;

private:
    std::vector<std::pair<std::string, std::string>> m_fields;
};

}  // namespace peltra::speech
