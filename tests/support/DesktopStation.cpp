// The desktop station of the window tests.
#include "support/DesktopStation.h"

#include <QTest>

namespace peltra::test {

namespace fs = std::filesystem;

namespace {
const char* const kTempVariables[] = {"TMPDIR", "TMP", "TEMP"};
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QTest::qWait(20);
    }
    return true;
}

DesktopStation::DesktopStation() : m_workingFolder(fs::current_path())
{
    for (int i = 0; i < 3; ++i)
        m_savedTemp[i] = qgetenv(kTempVariables[i]);
    m_dir = std::make_unique<TempDir>();
    m_home = m_dir->path() / "home";
    fs::create_directories(m_home);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_dir->path().string()));
}

DesktopStation::~DesktopStation()
{
    if (m_window)
        m_window->setQuiet(true);
    m_window.reset();
    m_station.reset();
    m_views.reset();
    m_simulator.reset();
    fs::current_path(m_workingFolder);
    for (int i = 0; i < 3; ++i) {
        if (m_savedTemp[i].isEmpty())
            qunsetenv(kTempVariables[i]);
        else
            qputenv(kTempVariables[i], m_savedTemp[i]);
    }
}

bool DesktopStation::start(unsigned lines, std::optional<std::uint32_t> answerAfterMs, std::string& error)
{
    sim::SimOptions options;
    options.digitTimeoutMs = 100;
    m_simulator = std::make_unique<sim::Simulator>(lines, options);
    sim::PartyBehaviour party;
    party.answerAfterMs = answerAfterMs;
    m_simulator->setDefaultBehaviour(party);
    m_window = std::make_unique<shell::Mainf>(shell::Mainf::Paths{m_home, m_home / "peltra", m_home / "help.html"});
    m_views = std::make_unique<shell::QueuedViews>(m_window.get());
    engine::StationOptions stationOptions;
    stationOptions.home = m_home;
    stationOptions.simulator = m_simulator.get();
    stationOptions.tickInterval = std::chrono::milliseconds(200);
    stationOptions.passInterval = std::chrono::milliseconds(0);
    m_station = std::make_unique<engine::Station>(stationOptions, m_views->stationViews());
    if (!m_window->startStation(*m_station, error))
        return false;
    m_window->show();
    return true;
}

}  // namespace peltra::test
