// The operator's preferences for the main window and start at logon, with the autostart entry.
#pragma once

#include "config/AppSettings.h"

#include <filesystem>
#include <optional>
#include <string>

namespace peltra::shell {

// A plain value object: three flags, all false until loaded. Call from the user interface thread.
class Properties {
public:
    // Reads the three values from the store; a missing value is created as false.
    void load(config::AppSettings& settings);
    // Writes the three values, then creates (AutoRun set) or deletes (AutoRun clear) the autostart
    // entry, whose command runs `program` on the station home `home` (both made absolute) with
    // " /autorun", so that the logon starts this very station. A folder that cannot be
    // written leaves the entry as it was; the values are written all the same. false when anything
    // failed, and `error` (when given) then says what, in Russian for the operator.
    bool save(config::AppSettings& settings, const std::filesystem::path& program, const std::filesystem::path& home,
              std::string* error = nullptr);

    bool minimizeLaunch() const { return m_minimizeLaunch; }
    bool minimizeIcon() const { return m_minimizeIcon; }
    bool autoRun() const { return m_autoRun; }
    void setMinimizeLaunch(bool on) { m_minimizeLaunch = on; }
    void setMinimizeIcon(bool on) { m_minimizeIcon = on; }
    void setAutoRun(bool on) { m_autoRun = on; }

    // The autostart entry: $XDG_CONFIG_HOME/autostart/peltra.desktop when that variable holds an
    // absolute path, else ~/.config/autostart/peltra.desktop. Nothing when no home can be found.
    static std::optional<std::filesystem::path> autostartFile();
    // The text of the entry that starts `program` on `home` (absolute paths) at logon.
    static std::string desktopEntry(const std::filesystem::path& program, const std::filesystem::path& home);

private:
    bool m_minimizeLaunch = false;
    bool m_minimizeIcon = false;
    bool m_autoRun = false;
};

}  // namespace peltra::shell
