// Source and archive structure checks and their messages.
#include "data/SourceCheck.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace peltra::data {
namespace {

constexpr std::array<RequiredColumn, 5> kRequired = {{
    {"TELEF", "Num (7,0)"},
    {"PROBA", "Num (3,0)"},
    {"OTBOJ", "Num (3,0)"},
    {"DATA", "Date (8)"},
    {"CLOCK", "Char (8)"},
}};

char typeLetter(const FieldShape& field)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(field.type)));
}

bool isNumeric(char letter)
{
    return letter == 'N' || letter == 'F';
}

// Places left of the point, sign included; dBase counts the point in the width.
unsigned integerPlaces(const FieldShape& field)
{
    const unsigned taken = field.decimals + (field.decimals > 0 ? 1 : 0);
    return field.length > taken ? field.length - taken : 0;
}

bool tooSmall(const FieldShape& archive, const FieldShape& source)
{
    const char letter = typeLetter(source);
    if (letter == 'C')
        return archive.length < source.length;
    if (isNumeric(letter))
        return archive.length < source.length || archive.decimals < source.decimals ||
               integerPlaces(archive) < integerPlaces(source);
    return false;
}

std::string details(const FieldShape& archive, const FieldShape& source)
{
    return source.name + "; Файл архива: " + fieldTypeText(archive) + " Исх. файл: " +
           fieldTypeText(source);
}

}  // namespace

std::span<const RequiredColumn> requiredColumns()
{
    return kRequired;
}

std::vector<RequiredColumn> missingRequiredColumns(std::span<const std::string> columnNames)
{
    std::vector<RequiredColumn> missing;
    for (const RequiredColumn& required : kRequired) {
        const bool present = std::any_of(columnNames.begin(), columnNames.end(),
                                         [&](const std::string& n) { return n == required.name; });
        if (!present)
            missing.push_back(required);
    }
    return missing;
}

std::string missingColumnsMessage(std::span<const RequiredColumn> missing)
{
    std::string text = "В данной таблице отсутствуют следующие необходимые поля:\r\n\r\n";
    for (const RequiredColumn& column : missing) {
        text += column.name;
        text += '\t';
        text += column.shownType;
        text += "\r\n";
    }
    text += "\r\nТаблица не может быть источником задания.";
    return text;
}

std::optional<std::string> checkSourceColumns(std::span<const std::string> columnNames)
{
    const std::vector<RequiredColumn> missing = missingRequiredColumns(columnNames);
    if (missing.empty())
        return std::nullopt;
    return missingColumnsMessage(missing);
}

std::string fieldTypeText(const FieldShape& field)
{
    const char letter = typeLetter(field);
    std::string text(1, letter);
    if (isNumeric(letter))
        text += std::to_string(field.length) + "." + std::to_string(field.decimals);
    else if (letter != 'D' && letter != 'L')
        text += std::to_string(field.length);
    return text;
}

std::vector<UnfitColumn> unfitRequiredColumns(std::span<const FieldShape> fields)
{
    std::vector<UnfitColumn> unfit;
    for (const FieldShape& field : fields) {
        const char letter = typeLetter(field);
        std::string_view needed;
        if (field.name == "TELEF" && letter != 'C')
            needed = "Char";
        else if ((field.name == "PROBA" || field.name == "OTBOJ") && !isNumeric(letter))
            needed = "Num";
        else if (field.name == "DATA" && letter != 'D')
            needed = "Date (8)";
        else if (field.name == "CLOCK" && (letter != 'C' || field.length < 8))
            needed = "Char (8)";
        if (!needed.empty())
            unfit.push_back({field.name, fieldTypeText(field), needed});
    }
    return unfit;
}

std::string unfitColumnText(const UnfitColumn& column)
{
    return "Поле " + column.name + " (" + column.type + ") не может принять результат звонка: нужно " +
           std::string(column.needed);
}

std::string unfitColumnsMessage(std::span<const UnfitColumn> unfit)
{
    std::string text = "В данной таблице следующие необходимые поля не могут принять результаты звонков:\r\n\r\n";
    for (const UnfitColumn& column : unfit)
        text += column.name + "\t" + column.type + "\tнужно " + std::string(column.needed) + "\r\n";
    text += "\r\nТаблица не может быть источником задания.";
    return text;
}

std::vector<std::string> archiveFindings(std::span<const FieldShape> source,
                                         std::span<const FieldShape> archive)
{
    std::vector<std::string> findings;
    for (const FieldShape& field : source) {
        const auto match = std::find_if(archive.begin(), archive.end(),
                                        [&](const FieldShape& a) { return a.name == field.name; });
        if (match == archive.end())
            findings.push_back("\r\n Отсутствует поле: " + field.name);
        else if (typeLetter(*match) != typeLetter(field))
            findings.push_back("\r\nНесовпадение типов полей -" + details(*match, field));
        else if (tooSmall(*match, field))
            findings.push_back("\r\nНесовпадение размерности -" + details(*match, field));
    }
    return findings;
}

std::optional<std::string> checkArchiveStructure(std::span<const FieldShape> source,
                                                 std::span<const FieldShape> archive)
{
    const std::vector<std::string> findings = archiveFindings(source, archive);
    if (findings.empty())
        return std::nullopt;
    std::string text =
        "Структура выбранного для архивации файла не соответствует файлу базы данных:\r\n";
    for (const std::string& finding : findings)
        text += finding;
    return text;
}

}  // namespace peltra::data
