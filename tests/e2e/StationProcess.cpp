// Test helper: the station program started in the background with fork and exec.
#include "e2e/StationProcess.h"

#include "support/RunProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace peltra::test {

namespace fs = std::filesystem;

StationProcess::~StationProcess()
{
    if (running()) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

bool StationProcess::start(const std::string& program, const std::vector<std::string>& args, const fs::path& workDir,
                           const std::string& tag)
{
    m_out = workDir / (tag + ".out");
    m_err = workDir / (tag + ".err");
    // Everything the child needs is made before fork: after it only exec-safe calls are allowed.
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("HOME=", 0) != 0)
            envText.emplace_back(*e);
    envText.push_back("HOME=" + (workDir / "user").string());
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argText = {program};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argText)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const int fdOut = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int fdErr = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int fdIn = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fdOut < 0 || fdErr < 0 || fdIn < 0)
        return false;
    m_status.reset();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fdIn, 0);
        ::dup2(fdOut, 1);
        ::dup2(fdErr, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(fdOut);
    ::close(fdErr);
    ::close(fdIn);
    return m_pid > 0;
}

void StationProcess::signal(int signalNumber)
{
    if (running())
        ::kill(m_pid, signalNumber);
}

std::optional<int> StationProcess::wait(std::chrono::milliseconds limit)
{
    if (m_pid <= 0)
        return m_status;
    eventually(
        [this] {
            if (m_status)
                return true;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
                return false;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        },
        limit);
    return m_status;
}

std::string StationProcess::out() const { return readFile(m_out); }

std::string StationProcess::err() const { return readFile(m_err); }

void pauseBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

}  // namespace peltra::test
