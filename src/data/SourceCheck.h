// Structure checks of tables: whether a table can be a task's source, and whether an archive
// file can take the rows of a source table. Pure functions over column lists; the caller lists
// the columns and shows the returned messages.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::data {

// Shown when the table file of a source or archive does not exist.
inline constexpr std::string_view kTableNotFoundMessage =
    "Данная таблица не обнаружена. Возможно задан неверный путь.";
// Caption of the archive structure message.
inline constexpr std::string_view kArchiveCheckCaption = "Ошибка";

// One of the five bookkeeping columns every source table must have.
struct RequiredColumn {
    std::string_view name;       // exact column name: TELEF, PROBA, OTBOJ, DATA, CLOCK
    std::string_view shownType;  // as the missing-columns message writes it, "Num (7,0)" etc.
};

// The required columns in the order the message lists them.
std::span<const RequiredColumn> requiredColumns();

// The required columns that are not among columnNames (the names the table reports, compared
// exactly, case included), in their own order.
std::vector<RequiredColumn> missingRequiredColumns(std::span<const std::string> columnNames);

// The message listing the missing columns: a heading, one "NAME\tTYPE\r\n" line each, and the
// closing sentence. Meant for a non-empty list.
std::string missingColumnsMessage(std::span<const RequiredColumn> missing);

// The whole source check over the columns of a table that exists: nothing when the table can
// be a source, otherwise the message to show.
std::optional<std::string> checkSourceColumns(std::span<const std::string> columnNames);

// A field as a .dbf header describes it.
struct FieldShape {
    std::string name;
    char type = 'C';         // dBase type letter: C, N, F, D, L, M, ...
    unsigned length = 0;     // width in characters
    unsigned decimals = 0;   // digits after the point (N and F)
};

// A required column whose type cannot take what the station writes into it.
struct UnfitColumn {
    std::string name;         // TELEF, PROBA, OTBOJ, DATA or CLOCK
    std::string type;         // what it is, as fieldTypeText writes it
    std::string_view needed;  // what it must be: "Char", "Num", "Date (8)", "Char (8)"
};

// The required columns among fields that cannot take the station's values: TELEF must be text,
// PROBA and OTBOJ numbers, DATA a date, and CLOCK text of at least 8 characters ("HH:MM:SS").
// Columns that are missing are no finding here.
std::vector<UnfitColumn> unfitRequiredColumns(std::span<const FieldShape> fields);

// One line for a task's remark: "Поле CLOCK (C5) не может принять результат звонка: нужно Char (8)".
std::string unfitColumnText(const UnfitColumn& column);

// The message listing the unfit columns, one "NAME\tTYPE\tнужно NEEDED\r\n" line each, between
// a heading and the closing sentence of the missing-columns message.
std::string unfitColumnsMessage(std::span<const UnfitColumn> unfit);

// The field's type as the archive message writes it: "N10.2", "C12", "D", "L"; F like N, any
// other type its letter and length.
std::string fieldTypeText(const FieldShape& field);

// The findings of comparing every field of the source table with the archive's field of the
// same name (exact), in the source's field order, each starting with CR LF:
//   missing            "\r\n Отсутствует поле: NAME"
//   other type         "\r\nНесовпадение типов полей -NAME; Файл архива: X Исх. файл: Y"
//   too small          "\r\nНесовпадение размерности -NAME; Файл архива: X Исх. файл: Y"
// Too small: a character field shorter than the source's; a numeric field with a smaller
// width or scale, or with fewer places before the point (a wider scale taken out of the same
// width would cut off the source's large values). Extra archive fields are no finding.
std::vector<std::string> archiveFindings(std::span<const FieldShape> source,
                                         std::span<const FieldShape> archive);

// The whole archive check: nothing when the archive fits the source, otherwise the message to
// show (caption kArchiveCheckCaption).
std::optional<std::string> checkArchiveStructure(std::span<const FieldShape> source,
                                                 std::span<const FieldShape> archive);

}  // namespace peltra::data
