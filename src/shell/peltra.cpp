// peltra: the notification station, with its main window, or with --headless without windows:
// the same start-up and shutdown, with everything the window would show written as log lines.
#include "config/StationHome.h"
#include "engine/Station.h"
#include "shell/HeadlessLog.h"
#include "shell/Mainf.h"
#include "shell/QtTranslation.h"
#include "shell/QueuedViews.h"
#include "shell/SimulationRun.h"
#include "shell/StatusFile.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QSplashScreen>

#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace peltra;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// How long a shutdown waits for the calls in progress before it stops the lines.
constexpr auto kCompletionWait = std::chrono::milliseconds(20000);

constexpr char kUsage[] =
    R"(usage: peltra [--headless] [--home DIR] [--simulate PLAN.json [--sim-log FILE]]
              [--until-complete] [--tick-ms N]

Runs the notification station: it calls the people of the tasks' tables in the tasks'
time windows on the lines configured under Ports, and writes each outcome back into
the table. DIR holds the configuration store (registry.db), the phonogram library
(peltra.awf) and the TEMP folder; it is --home, else $PELTRA_HOME, else
~/.local/share/peltra. One station runs per DIR: a second start ends at once.

  --headless            run without windows, logging every line result, task state
                        change and error with a time stamp on standard output;
                        without it the station shows its main window
  --simulate PLAN       make the simulated lines SIM1..SIMn available, driven by the
                        plan (JSON: lines, seed, realtime, digit_timeout_ms, default,
                        numbers, mix); configure them under Ports like real ports
  --sim-log FILE        append one JSON object per call: what the simulated exchange
                        saw and the station's result
  --until-complete      (headless) stop once a pass finds no task busy after some
                        task has run, or no task able to run at all (every row
                        done, scheduling paused, no task included, a table that
                        cannot be opened), logging why; a task waiting for its
                        time window is waited for
  --tick-ms N           the scheduler's period (default 60000)
  /autorun, --autorun   accepted as at logon

SIGINT or SIGTERM stops the station: no new call starts, the calls in progress end
(at most 20 s), then the lines and tasks stop. A second signal stops at once.

Exit status: 0 after an orderly stop, 1 when the station cannot start, 2 bad arguments.
)";

int usageError(const std::string& message)
{
    std::fprintf(stderr, "peltra: %s\n\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "peltra: %s\n", message.c_str());
    return kExitFailure;
}

struct Arguments {
    bool headless = false;
    std::optional<std::string> home;
    std::optional<fs::path> plan;
    std::optional<fs::path> simLog;
    bool untilComplete = false;
    std::chrono::milliseconds tick{60000};
};

std::optional<Arguments> parse(int argc, char** argv, int& code)
{
    Arguments args;
    const auto value = [&](int& i, const std::string& option) -> std::optional<std::string> {
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            code = usageError(option + " needs a value");
            return std::nullopt;
        }
        return std::string(argv[++i]);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            code = kExitOk;
            return std::nullopt;
        }
        if (arg == "--headless") {
            args.headless = true;
        } else if (arg == "--until-complete") {
            args.untilComplete = true;
        } else if (arg == "/autorun" || arg == "--autorun") {
            // The station's folder is its home, whatever folder it was started from.
        } else if (arg == "--home" || arg == "--simulate" || arg == "--sim-log" || arg == "--tick-ms") {
            const auto given = value(i, arg);
            if (!given)
                return std::nullopt;
            if (arg == "--home") {
                args.home = *given;
            } else if (arg == "--simulate") {
                args.plan = fs::absolute(*given);
            } else if (arg == "--sim-log") {
                args.simLog = fs::absolute(*given);
            } else {
                unsigned ms = 0;
                const auto [end, ec] = std::from_chars(given->data(), given->data() + given->size(), ms);
                if (ec != std::errc() || end != given->data() + given->size() || ms < 10) {
                    code = usageError("--tick-ms takes a number of milliseconds, at least 10");
                    return std::nullopt;
                }
                args.tick = std::chrono::milliseconds(ms);
            }
        } else {
            code = usageError("unknown argument " + arg);
            return std::nullopt;
        }
    }
    if (args.simLog && !args.plan) {
        code = usageError("--sim-log goes with --simulate");
        return std::nullopt;
    }
    return args;
}

std::optional<fs::path> homeOf(const Arguments& args)
{
    if (args.home)
        return fs::absolute(*args.home);
    return config::stationHome();
}

// A file the station ships: beside the program in a build folder, else in the installed data folder.
fs::path shippedFile(const fs::path& program, const char* name)
{
    const fs::path beside = program.parent_path() / name;
    std::error_code ec;
    if (fs::exists(beside, ec))
        return beside;
    return fs::path(PELTRA_DATA_DIR) / name;
}

int runWindows(int argc, char** argv, const Arguments& args)
{
    QApplication application(argc, argv);
    if (!shell::installQtTranslation(application))
        std::fprintf(stderr, "peltra: Qt's Russian translation (qtbase_ru) is not installed; buttons stay in English\n");
    const auto failInBox = [](const std::string& message) {
        const int code = fail(message);
        shell::Mainf::reportStartFailure(message);
        return code;
    };
    const std::optional<fs::path> home = homeOf(args);
    if (!home)
        return failInBox("no home folder: give --home DIR or set PELTRA_HOME");
    std::error_code ec;
    fs::create_directories(*home, ec);

    std::unique_ptr<shell::SimulationRun> simulation;
    if (args.plan) {
        std::string error;
        const auto plan = sim::loadSimPlan(*args.plan, error);
        if (!plan)
            return failInBox(error);
        simulation = std::make_unique<shell::SimulationRun>(*plan, nullptr);
        if (args.simLog && !simulation->openLog(*args.simLog, error))
            return failInBox(error);
    }
    engine::StationOptions options;
    options.home = *home;
    options.simulator = simulation ? &simulation->simulator() : nullptr;
    options.tickInterval = args.tick;

    const fs::path program = fs::absolute(fs::path(QCoreApplication::applicationFilePath().toStdString()));
    shell::Mainf window({*home, program, shippedFile(program, "peltra-help.html")});
    shell::QueuedViews views(&window);
    engine::StationViews stationViews = views.stationViews();
    stationViews.outcomes = simulation.get();
    shell::StatusFile status(*home, args.tick, stationViews);
    engine::Station station(options, status.views());
    // A second start ends at once, silently, before any window shows.
    if (!station.claimInstance())
        return kExitOk;

    std::unique_ptr<QSplashScreen> splash;
    const QString logo = QDir(QString::fromStdString(home->string())).filePath(QStringLiteral("LOGO.BMP"));
    const QString shipped = QString::fromStdString(shippedFile(program, "LOGO.BMP").string());
    for (const QString& file : {logo, shipped}) {
        QPixmap picture(file);
        if (!picture.isNull()) {
            splash = std::make_unique<QSplashScreen>(picture);
            splash->show();
            application.processEvents();
            break;
        }
    }
    std::string error;
    if (!window.startStation(station, error)) {
        if (error.empty())
            return kExitOk;
        // The splash stays on top: it goes before the box shows.
        splash.reset();
        return failInBox(error);
    }
    window.show();
    if (splash)
        splash->finish(&window);
    if (station.settings().minimizeLaunch())
        window.showMinimized();
    return application.exec() == 0 ? kExitOk : kExitFailure;
}

int runHeadless(const Arguments& args)
{
    // The signals are taken by this thread alone: every thread started from here on blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const std::optional<fs::path> home = homeOf(args);
    if (!home)
        return fail("no home folder: give --home DIR or set PELTRA_HOME");
    std::error_code ec;
    fs::create_directories(*home, ec);

    shell::HeadlessLog log(stdout);
    std::unique_ptr<shell::SimulationRun> simulation;
    if (args.plan) {
        std::string error;
        const auto plan = sim::loadSimPlan(*args.plan, error);
        if (!plan)
            return fail(error);
        simulation = std::make_unique<shell::SimulationRun>(*plan, &log);
        if (args.simLog && !simulation->openLog(*args.simLog, error))
            return fail(error);
    }

    engine::StationOptions options;
    options.home = *home;
    options.simulator = simulation ? &simulation->simulator() : nullptr;
    options.tickInterval = args.tick;
    engine::StationViews views;
    views.tasks = &log;
    views.lines = &log;
    views.station = &log;
    views.lineView = [&log](unsigned number, const std::string& port) { return log.lineView(number, port); };
    views.outcomes = simulation ? static_cast<engine::CallOutcomeListener*>(simulation.get()) : &log;

    shell::StatusFile status(*home, args.tick, views);
    engine::Station station(options, status.views());
    std::string error;
    switch (station.start(error)) {
    case engine::Station::StartResult::AlreadyRunning:
        return kExitOk;
    case engine::Station::StartResult::Failed:
        return fail(error);
    case engine::Station::StartResult::Started:
        break;
    }
    log.write("station started in " + home->string());

    const timespec poll{0, 200 * 1000 * 1000};
    bool signalled = false;
    for (;;) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &poll);
        if (signal == SIGINT || signal == SIGTERM) {
            log.write(std::string("stop requested (") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + ")");
            signalled = true;
            break;
        }
        if (args.untilComplete && log.completed().isSet())
            break;
    }

    if (signalled && station.hasUnfinishedSessions()) {
        log.write("waiting for the calls in progress to end");
        // A second signal stops at once; otherwise the wait ends with the last call or the limit.
        const auto deadline = std::chrono::steady_clock::now() + kCompletionWait;
        while (!station.waitForCompletion(std::chrono::milliseconds(200))) {
            if (sigtimedwait(&stopSignals, nullptr, &poll) > 0 || std::chrono::steady_clock::now() >= deadline) {
                log.write("stopping without waiting further");
                break;
            }
        }
    }
    station.shutdown();
    if (simulation && !simulation->logError().empty())
        log.write("simulator call log: " + simulation->logError());
    log.write("station stopped");
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    int code = kExitOk;
    const std::optional<Arguments> args = parse(argc, argv, code);
    if (!args)
        return code;
    return args->headless ? runHeadless(*args) : runWindows(argc, argv, *args);
}
