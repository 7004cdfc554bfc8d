// Test helper: the desktop station in-process, as the window tests run it: a temporary home, the
// main window with its queued views, and a station on simulated lines whose parties answer.
#pragma once

#include "engine/Station.h"
#include "shell/Mainf.h"
#include "shell/QueuedViews.h"
#include "sim/Simulator.h"
#include "support/TempDir.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace peltra::test {

// Keeps the Qt event loop turning until the condition holds; false when the limit passed first.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// The station makes its home the working folder and its TEMP the temporary folder; both, and
// the temporary-folder variables, are put back when the object goes. Lives on the UI thread.
class DesktopStation {
public:
    DesktopStation();
    ~DesktopStation();
    DesktopStation(const DesktopStation&) = delete;
    DesktopStation& operator=(const DesktopStation&) = delete;

    const std::filesystem::path& home() const { return m_home; }
    // The folder the test started in (the build folder, where screenshots go).
    const std::filesystem::path& workingFolder() const { return m_workingFolder; }

    // Starts the station in the main window on `lines` simulated lines, the scheduler ticking
    // every 200 ms; the parties answer after answerAfterMs, or never. The window is shown.
    bool start(unsigned lines, std::optional<std::uint32_t> answerAfterMs, std::string& error);

    shell::Mainf& window() { return *m_window; }
    engine::Station& station() { return *m_station; }
    sim::Simulator& simulator() { return *m_simulator; }

private:
    std::filesystem::path m_workingFolder;
    QByteArray m_savedTemp[3];
    std::unique_ptr<TempDir> m_dir;
    std::filesystem::path m_home;
    std::unique_ptr<sim::Simulator> m_simulator;
    std::unique_ptr<shell::Mainf> m_window;
    std::unique_ptr<shell::QueuedViews> m_views;
    std::unique_ptr<engine::Station> m_station;
};

}  // namespace peltra::test
