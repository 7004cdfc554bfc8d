// Test helper: the station program run in the background, so a test can signal or kill it
// mid-run and read what it has logged so far.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace peltra::test {

class StationProcess {
public:
    StationProcess() = default;
    // Kills the program (SIGKILL) if it is still running, so a failed test leaves nothing behind.
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // Starts program with args; its standard output and error go to files in workDir named after
    // tag, and HOME is workDir/user. false when it could not be started.
    bool start(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& workDir,
               const std::string& tag);

    bool running() const { return m_pid > 0 && !m_status; }
    void signal(int signalNumber);

    // Waits up to limit for the program to end: its exit code, or 128 + the signal that ended
    // it; nothing while it still runs.
    std::optional<int> wait(std::chrono::milliseconds limit);

    std::string out() const;
    std::string err() const;

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
};

// Sleeps 20 ms.
void pauseBriefly();

// Polls condition every 20 ms until it holds or limit passes; whether it held.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        pauseBriefly();
    }
}

}  // namespace peltra::test
