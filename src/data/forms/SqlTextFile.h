// Loading and saving the text of an SQL query as a file, with the browser windows' messages.
#pragma once

#include "data/forms/FormNewTable.h"

#include <QString>

#include <optional>

class QWidget;

namespace peltra::data {

// The filters of the load and save dialogs: "SQL-файлы (*.sql)", "Текстовые файлы (*.txt)",
// "Все файлы (*.*)".
QString sqlFileFilter();

// Asks for a file ("Загрузка SQL запроса") and returns its whole text; nothing when the dialog was
// cancelled or the file could not be read ("Ошибка открытия файла." / "Ошибка чтения файла.",
// shown here). Text that is not UTF-8 is read as code page 1251. UI thread only.
std::optional<QString> loadSqlText(QWidget* owner, const FileDialog& dialog);

// Asks for a file ("Сохранение SQL запроса"; a new name without an extension gets ".sql") and writes
// the text to it as UTF-8. True once saved and the "сохранен в файле" box is shown; false when
// cancelled or failed ("Ошибка открытия файла." / "Ошибка сохранения файла.", shown here). A file
// is replaced only after the whole text was written. UI thread only.
bool saveSqlText(QWidget* owner, const FileDialog& dialog, const QString& text);

// Message box texts may carry CR LF line ends; Qt boxes take plain LF.
QString boxText(const char* utf8);

}  // namespace peltra::data
