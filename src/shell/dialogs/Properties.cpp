// The operator's preferences and the XDG autostart entry that starts the station at logon.
#include "shell/dialogs/Properties.h"

#include "platform/files/ReplaceFile.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace peltra::shell {
namespace {

// Characters that make an Exec argument need double quotes (the desktop entry format's quoting rules).
bool needsQuotes(const std::string& text)
{
    return text.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`") != std::string::npos;
}

// One Exec argument: quoted when needed, with '%' doubled so that it is no field code.
std::string execArgument(const std::string& text)
{
    const bool quote = needsQuotes(text);
    std::string out;
    if (quote)
        out += '"';
    for (char c : text) {
        if (c == '%')
            out += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += {'\\', c};
        else
            out += c;
    }
    if (quote)
        out += '"';
    return out;
}

// The string-value escapes of a desktop file, applied after the Exec quoting.
std::string escapeValue(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

void setError(std::string* error, const std::string& text)
{
    if (error && error->empty())
        *error = text;
}

}  // namespace

void Properties::load(config::AppSettings& settings)
{
    // A missing value is created with the field's value before loading, false.
    m_minimizeLaunch = settings.minimizeLaunch();
    m_minimizeIcon = settings.minimizeIcon();
    m_autoRun = settings.autoRun();
}

bool Properties::save(config::AppSettings& settings, const std::filesystem::path& program,
                      const std::filesystem::path& home, std::string* error)
{
    if (error)
        error->clear();
    bool ok = settings.setMinimizeLaunch(m_minimizeLaunch);
    ok = settings.setMinimizeIcon(m_minimizeIcon) && ok;
    ok = settings.setAutoRun(m_autoRun) && ok;
    if (!ok)
        setError(error, "Не удалось записать параметры в хранилище настроек.");

    const std::optional<std::filesystem::path> entry = autostartFile();
    if (!entry) {
        setError(error, "Не найдена домашняя папка пользователя для элемента автозапуска.");
        return false;
    }
    std::error_code ec;
    if (!m_autoRun) {
        std::filesystem::remove(*entry, ec);
        if (ec) {
            setError(error, "Не удалось удалить элемент автозапуска \"" + entry->string() + "\": " + ec.message());
            return false;
        }
        return ok;
    }

    if (program.empty()) {
        setError(error, "Не известен путь к программе для элемента автозапуска.");
        return false;
    }
    if (home.empty()) {
        setError(error, "Не известна папка станции для элемента автозапуска.");
        return false;
    }
    const std::filesystem::path absolute = std::filesystem::absolute(program, ec).lexically_normal();
    if (ec) {
        setError(error, "Не удалось определить путь к программе \"" + program.string() + "\": " + ec.message());
        return false;
    }
    const std::filesystem::path absoluteHome = std::filesystem::absolute(home, ec).lexically_normal();
    if (ec) {
        setError(error, "Не удалось определить путь к папке станции \"" + home.string() + "\": " + ec.message());
        return false;
    }
    std::filesystem::create_directories(entry->parent_path(), ec);
    if (ec) {
        setError(error,
                 "Не удалось создать папку автозапуска \"" + entry->parent_path().string() + "\": " + ec.message());
        return false;
    }
    std::string why;
    if (!platform::replaceFile(*entry, desktopEntry(absolute, absoluteHome), why)) {
        setError(error, "Не удалось записать элемент автозапуска \"" + entry->string() + "\": " + why);
        return false;
    }
    return ok;
}

std::optional<std::filesystem::path> Properties::autostartFile()
{
    std::filesystem::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* user = getpwuid(getuid());
            if (!user || !user->pw_dir || !*user->pw_dir)
                return std::nullopt;
            home = user->pw_dir;
        }
        config = std::filesystem::path(home) / ".config";
    }
    return config / "autostart" / "peltra.desktop";
}

std::string Properties::desktopEntry(const std::filesystem::path& program, const std::filesystem::path& home)
{
    // The home is named outright: at logon neither $PELTRA_HOME nor the working folder is the station's.
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Peltra\n"
           "Comment=Станция голосового оповещения по телефону\n"
           "Exec=" + escapeValue(execArgument(program.string()) + " --home " + execArgument(home.string()) + " /autorun") + "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace peltra::shell
