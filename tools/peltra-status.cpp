// peltra-status: the running station's state as it last wrote it into its home, for a person, as
// JSON, or in the Prometheus text format, and whether the station is running and up to date.
#include "StationFolder.h"
#include "ToolOutput.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace peltra;
using peltra::tools::kExitFailure;
using peltra::tools::kExitOk;

constexpr char kUsage[] =
    R"(usage: peltra-status [--home DIR] [--json | --prometheus]

Prints the state the running station keeps in DIR/status.json: the time, the
scheduler paused or running, local-phone mode, every line (port, state, task, last
result), every running task (state, notified of selected, last error) and the calls
since the station started. --json prints the file as it is, --prometheus in the
Prometheus text format. DIR is --home, else $PELTRA_HOME, else ~/.local/share/peltra
(the packaged service runs on /var/lib/peltra).

Exit status: 0 the station runs and its status is fresh; 1 no station runs on DIR,
its status is older than two scheduler periods or cannot be read (the reason on
standard error, the last status still printed when there is one); 2 bad arguments.
)";

const tools::ToolOutput output("peltra-status", kUsage);

enum class Format { Person, Json, Prometheus };

constexpr const char* kResults[] = {"delivered", "no_answer", "hung_up", "error"};
constexpr const char* kLineStates[] = {"free", "working", "out_of_order"};
constexpr const char* kTaskStates[] = {"stopped", "running", "idle", "finished", "withdrawing"};

// Whether some process holds a flock() on the file: /proc/locks lists every lock with its
// file's device and inode. Looking, unlike trying the lock, cannot keep a station from starting.
// A file that is gone is not held; nothing, with the reason, when the file cannot be looked at.
std::optional<bool> lockHeld(const fs::path& file, std::string& error)
{
    struct stat info {};
    if (stat(file.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return false;
        error = "cannot tell whether a station runs: " + file.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, device;
        fields >> number >> kind;
        // A waiting lock is shown as "1: -> FLOCK ...".
        if (kind == "->")
            fields >> kind;
        fields >> mode >> access >> pid >> device;
        if (kind == "FLOCK" && device == wanted)
            return true;
    }
    return false;
}

std::string text(const json& value, const char* key)
{
    const auto it = value.find(key);
    return it != value.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double number(const json& value, const char* key)
{
    const auto it = value.find(key);
    return it != value.end() && it->is_number() ? it->get<double>() : 0.0;
}

std::string localTime(std::time_t moment)
{
    std::tm parts{};
    localtime_r(&moment, &parts);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &parts);
    return out;
}

// Counts of the names, each present with 0 when none has it.
std::map<std::string, int> countBy(const json& items, const char* key, const std::vector<const char*>& names)
{
    std::map<std::string, int> counts;
    for (const char* name : names)
        counts[name] = 0;
    if (items.is_array())
        for (const json& item : items)
            ++counts[text(item, key)];
    return counts;
}

std::string labelValue(const std::string& value)
{
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

void printPrometheus(const json& status, bool up, double now)
{
    const auto metric = [](const char* name, const char* type, const char* help) {
        std::printf("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
    };
    metric("peltra_up", "gauge", "1 when a station runs on the home and its status is fresh.");
    std::printf("peltra_up %d\n", up ? 1 : 0);
    metric("peltra_lines", "gauge", "Lines by state.");
    for (const auto& [state, count] :
         countBy(status.value("lines", json::array()), "state", {std::begin(kLineStates), std::end(kLineStates)}))
        std::printf("peltra_lines{state=\"%s\"} %d\n", labelValue(state).c_str(), count);
    metric("peltra_calls_total", "counter", "Calls by result since the station started.");
    const json calls = status.value("calls", json::object());
    for (const char* result : kResults)
        std::printf("peltra_calls_total{result=\"%s\"} %.0f\n", result, number(calls, result));
    metric("peltra_tasks", "gauge", "Running tasks by state.");
    for (const auto& [state, count] :
         countBy(status.value("tasks", json::array()), "state", {std::begin(kTaskStates), std::end(kTaskStates)}))
        std::printf("peltra_tasks{state=\"%s\"} %d\n", labelValue(state).c_str(), count);
    metric("peltra_scheduler_paused", "gauge", "1 while scheduling is paused.");
    std::printf("peltra_scheduler_paused %d\n", status.value("/scheduler/paused"_json_pointer, false) ? 1 : 0);
    metric("peltra_local_phone", "gauge", "1 while every call dials the local phone.");
    std::printf("peltra_local_phone %d\n", status.value("/local_phone/on"_json_pointer, false) ? 1 : 0);
    if (status.contains("last_pass_unix") && status["last_pass_unix"].is_number()) {
        metric("peltra_seconds_since_last_pass", "gauge", "Seconds since the last scheduler pass.");
        std::printf("peltra_seconds_since_last_pass %.3f\n", now - status["last_pass_unix"].get<double>());
    }
}

void printForPerson(const json& status, const fs::path& home, double now)
{
    const auto written = static_cast<std::time_t>(number(status, "unix_time"));
    std::printf("station on %s, pid %.0f, status of %s (%.0f s ago)\n", home.string().c_str(),
                number(status, "pid"), localTime(written).c_str(), now - static_cast<double>(written));
    const json none = json::object();
    const json& scheduler = status.contains("scheduler") ? status["scheduler"] : none;
    const json& phone = status.contains("local_phone") ? status["local_phone"] : none;
    std::printf("scheduler: %s (%s)\n", scheduler.value("paused", false) ? "paused" : "running",
                text(scheduler, "text").c_str());
    std::printf("local phone: %s (%s)\n", phone.value("on", false) ? "on" : "off", text(phone, "text").c_str());
    const json lines = status.value("lines", json::array());
    std::printf("lines: %zu\n", lines.size());
    for (const json& line : lines) {
        std::string last = "none";
        if (line.contains("last_result") && line["last_result"].is_object())
            last = text(line["last_result"], "word") + " (" + text(line["last_result"], "name") + ")";
        std::printf("  %.0f %s: %s", number(line, "number"), text(line, "port").c_str(), text(line, "state").c_str());
        if (!text(line, "state_text").empty())
            std::printf(" (%s)", text(line, "state_text").c_str());
        if (!text(line, "task").empty())
            std::printf(", task %s", text(line, "task").c_str());
        std::printf(", last result %s\n", last.c_str());
    }
    const json tasks = status.value("tasks", json::array());
    std::printf("tasks: %zu\n", tasks.size());
    for (const json& task : tasks) {
        std::printf("  %s: %s (%s), notified %s", text(task, "name").c_str(), text(task, "state").c_str(),
                    text(task, "state_text").c_str(), text(task, "notified").c_str());
        if (!text(task, "last_error").empty())
            std::printf(", last error: %s", text(task, "last_error").c_str());
        std::printf("\n");
    }
    const json calls = status.value("calls", json::object());
    std::printf("calls since start:");
    for (const char* result : kResults)
        std::printf(" %s %.0f%s", result, number(calls, result), result == kResults[3] ? "\n" : ",");
}

}  // namespace

int main(int argc, char** argv)
{
    std::optional<std::string> home;
    Format format = Format::Person;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return output.help();
        if (arg == "--json") {
            format = Format::Json;
        } else if (arg == "--prometheus") {
            format = Format::Prometheus;
        } else if (arg == "--home" || arg.rfind("--home=", 0) == 0) {
            std::string value = arg == "--home" ? (i + 1 < argc ? argv[++i] : "") : arg.substr(7);
            if (value.empty())
                return output.usageError("--home needs a folder");
            home = value;
        } else {
            return output.usageError("unknown argument " + arg);
        }
    }
    const std::optional<fs::path> folder = tools::stationFolder(output, home);
    if (!folder)
        return kExitFailure;

    const fs::path file = *folder / "status.json";
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return output.fail("no station has written its status in " + folder->string() + " (" + file.string() +
                           " cannot be read)");
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    json status = json::parse(content, nullptr, false);
    if (status.is_discarded() || !status.is_object())
        return output.fail(file.string() + " is not a status the station wrote");

    // Running: the lock the station keeps on its home is held. Fresh: written within two periods.
    const double now = static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::system_clock::now().time_since_epoch())
                                               .count()) /
                       1000.0;
    std::string problem;
    const std::string lock = text(status, "lock");
    const std::optional<bool> held = lock.empty() ? std::optional<bool>(false) : lockHeld(lock, problem);
    if (held && !*held)
        problem = "no station runs on " + folder->string();
    else if (held && now - number(status, "unix_time") > 2 * number(status, "tick_ms") / 1000.0)
        problem = "the status is older than two scheduler periods: the station is not keeping up";

    switch (format) {
    case Format::Json:
        std::fputs(content.c_str(), stdout);
        break;
    case Format::Prometheus:
        printPrometheus(status, problem.empty(), now);
        break;
    case Format::Person:
        printForPerson(status, *folder, now);
        break;
    }
    if (std::fflush(stdout) != 0)
        return output.fail("cannot write the status");
    return problem.empty() ? kExitOk : output.fail(problem);
}
