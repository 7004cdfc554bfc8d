// SQL text files of the browser windows.
#include "data/forms/SqlTextFile.h"

#include "data/DbfCodePage.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QStringDecoder>

namespace peltra::data {

namespace {

const char* const kOpenError = "Ошибка открытия файла.";
const char* const kReadError = "Ошибка чтения файла.";
const char* const kWriteError = "Ошибка сохранения файла.";
const char* const kSaved = "Текст SQL-запроса сохранен в файле\r\n";

void error(QWidget* owner, const char* text)
{
    QMessageBox::warning(owner, QStringLiteral("Ошибка"), QString::fromUtf8(text));
}

// Files written by older tools are in code page 1251; anything that is valid UTF-8 is taken as such.
QString decodeText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    if (const auto page = DbfCodePage::get(1251)) {
        std::string decoded;
        page->decode(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), decoded);
        return QString::fromStdString(decoded);
    }
    return QString::fromLocal8Bit(bytes);
}

}  // namespace

QString sqlFileFilter()
{
    return QStringLiteral("SQL-файлы (*.sql);;Текстовые файлы (*.txt);;Все файлы (*.*)");
}

QString boxText(const char* utf8)
{
    QString text = QString::fromUtf8(utf8);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::optional<QString> loadSqlText(QWidget* owner, const FileDialog& dialog)
{
    const QString caption = QStringLiteral("Загрузка SQL запроса");
    const QString path = dialog ? dialog(owner, caption, sqlFileFilter())
                                : QFileDialog::getOpenFileName(owner, caption, QString(), sqlFileFilter());
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error(owner, kOpenError);
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error(owner, kReadError);
        return std::nullopt;
    }
    return decodeText(bytes);
}

bool saveSqlText(QWidget* owner, const FileDialog& dialog, const QString& text)
{
    const QString caption = QStringLiteral("Сохранение SQL запроса");
    QString path;
    if (dialog) {
        path = dialog(owner, caption, sqlFileFilter());
    } else {
        QFileDialog fileDialog(owner, caption, QString(), sqlFileFilter());
        fileDialog.setAcceptMode(QFileDialog::AcceptSave);
        fileDialog.setDefaultSuffix(QStringLiteral("sql"));
        if (fileDialog.exec() == QDialog::Accepted && !fileDialog.selectedFiles().isEmpty())
            path = fileDialog.selectedFiles().front();
    }
    if (path.isEmpty())
        return false;
    // The default extension goes to a new name only; an existing file chosen is the one meant.
    if (QFileInfo(path).suffix().isEmpty() && !path.endsWith(QLatin1Char('.')) && !QFileInfo::exists(path))
        path += QStringLiteral(".sql");

    // A regular file is written beside the target and renamed over it, so a failed save never
    // leaves half a file; devices and other special files are written in place.
    const QFileInfo target(path);
    const QByteArray bytes = text.toUtf8();
    if (!target.exists() || target.isFile()) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            error(owner, kOpenError);
            return false;
        }
        if (file.write(bytes) != bytes.size() || !file.commit()) {
            file.cancelWriting();
            error(owner, kWriteError);
            return false;
        }
    } else {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            error(owner, kOpenError);
            return false;
        }
        const bool written = file.write(bytes) == bytes.size() && file.flush();
        file.close();
        if (!written || file.error() != QFileDevice::NoError) {
            error(owner, kWriteError);
            return false;
        }
    }
    QMessageBox::information(owner, owner != nullptr ? owner->windowTitle() : QString(),
                             boxText(kSaved) + QDir::toNativeSeparators(path));
    return true;
}

}  // namespace peltra::data
