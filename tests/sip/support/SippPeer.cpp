#include "sip/support/SippPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace peltra::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kStartLimit = 5s;
constexpr auto kStopLimit = 2s;
constexpr auto kPoll = 5ms;
constexpr int kStartAttempts = 5;  // another program may take a chosen port before SIPp binds it

fs::path scenarioDir()
{
#ifdef PELTRA_SIPP_SCENARIO_DIR
    return PELTRA_SIPP_SCENARIO_DIR;
#else
    return fs::path(__FILE__).parent_path().parent_path() / "scenarios";
#endif
}

fs::path scenarioPath(const std::string& scenario)
{
    if (scenario.find('/') != std::string::npos)
        return scenario;
    fs::path name = scenario;
    if (name.extension() != ".xml")
        name += ".xml";
    return scenarioDir() / name;
}

std::string findInPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

std::string readText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int boundSocket(int type, unsigned short port)
{
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A port on 127.0.0.1 (UDP or TCP, by type) that is free now and not yet handed to another peer
// of this process; with `alsoPlusTwo` the port two above is free too, because SIPp binds the media
// port and that one (for video). The kernel picks the port, so parallel test processes rarely collide, and a
// collision only costs a retry.
unsigned short freePort(int type, bool alsoPlusTwo)
{
    static std::mutex mutex;
    static std::set<unsigned short> handedOut;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = boundSocket(type, 0);
        if (fd < 0)
            return 0;
        sockaddr_in address{};
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        const unsigned short port = ntohs(address.sin_port);
        int second = -1;
        const bool usable = !alsoPlusTwo || (port < 65534 && (second = boundSocket(type, port + 2)) >= 0);
        close(fd);
        if (second >= 0)
            close(second);
        if (!usable)
            continue;
        std::lock_guard lock(mutex);
        if (handedOut.count(port) != 0 || (alsoPlusTwo && handedOut.count(port + 2) != 0))
            continue;
        handedOut.insert(port);
        if (alsoPlusTwo)
            handedOut.insert(port + 2);
        return port;
    }
    return 0;
}

// Inodes of the UDP sockets bound to 127.0.0.1:port, or of the TCP ones listening there, from the
// kernel's socket table.
std::set<unsigned long> loopbackInodes(bool tcp, unsigned short port)
{
    constexpr unsigned int kListen = 0x0A;
    std::set<unsigned long> inodes;
    std::ifstream table(tcp ? "/proc/net/tcp" : "/proc/net/udp");
    std::string line;
    std::getline(table, line);  // column titles
    while (std::getline(table, line)) {
        unsigned int address = 0, localPort = 0, state = 0;
        unsigned long inode = 0;
        if (std::sscanf(line.c_str(), " %*d: %8X:%4X %*8X:%*4X %2X %*8X:%*8X %*2X:%*8X %*8X %*u %*d %lu",
                        &address, &localPort, &state, &inode) == 4 &&
            address == htonl(INADDR_LOOPBACK) && localPort == port && (!tcp || state == kListen))
            inodes.insert(inode);
    }
    return inodes;
}

}  // namespace

unsigned short freeLoopbackPort(bool tcp)
{
    return freePort(tcp ? SOCK_STREAM : SOCK_DGRAM, false);
}

bool listensOnLoopbackTcp(unsigned short port)
{
    return !loopbackInodes(true, port).empty();
}

SippPeer::SippPeer(SippOptions options, fs::path workDir)
    : m_options(std::move(options)), m_dir(fs::absolute(workDir))
{
    std::error_code ec;
    fs::create_directories(m_dir, ec);
    if (!fs::is_directory(m_dir)) {
        m_error = "cannot make the folder " + m_dir.string();
        return;
    }
    // Absolute, because SIPp runs in workDir.
    const fs::path scenario = fs::absolute(scenarioPath(m_options.scenario));
    if (!fs::exists(scenario)) {
        m_error = "no scenario " + scenario.string();
        return;
    }
    const std::string sipp = findInPath("sipp");
    if (sipp.empty()) {
        m_error = "sipp is not on the PATH (Debian package sip-tester)";
        return;
    }
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        m_port = freeLoopbackPort(m_options.tcp);
        m_mediaPort = freePort(SOCK_DGRAM, true);
        if (m_port == 0 || m_mediaPort == 0) {
            m_error = "no free port on 127.0.0.1";
            return;
        }
        // Everything binds and advertises 127.0.0.1 only, the control socket included (it
        // would listen on every interface otherwise). A short dead-call wait lets a REGISTER
        // refresh with the same Call-ID start a new call instead of being swallowed.
        std::vector<std::string> args = {sipp,
                                         "-sf", scenario.string(),
                                         "-i", "127.0.0.1",
                                         "-mi", "127.0.0.1",
                                         "-ci", "127.0.0.1",
                                         "-p", std::to_string(m_port),
                                         "-mp", std::to_string(m_mediaPort),
                                         "-nostdin",
                                         "-deadcall_wait", "0",
                                         "-trace_msg", "-message_file", (m_dir / "messages.log").string(),
                                         "-trace_stat", "-stf", (m_dir / "stat.csv").string(),
                                         "-trace_err", "-error_file", (m_dir / "errors.log").string()};
        if (m_options.tcp)
            args.insert(args.end(), {"-t", "t1"});
        if (m_options.rtpEcho)
            args.push_back("-rtp_echo");
        if (m_options.calls > 0)
            args.insert(args.end(), {"-m", std::to_string(m_options.calls)});
        auto keys = m_options.keys;
        if (!m_options.authUser.empty())
            keys.emplace_back("auth_user", m_options.authUser);
        if (!m_options.authPassword.empty())
            keys.emplace_back("auth_password", m_options.authPassword);
        for (const auto& [name, value] : keys)
            args.insert(args.end(), {"-key", name, value});
        if (launch(args))
            return;
        if (m_error.find("Unable to bind") == std::string::npos)
            return;
    }
}

SippPeer::~SippPeer()
{
    stop();
}

bool SippPeer::launch(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string out = (m_dir / "stdout.log").string(), err = (m_dir / "stderr.log").string();
    const std::string dir = m_dir.string();
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(125);
        const int in = open("/dev/null", O_RDONLY);
        const int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || fdOut < 0 || fdErr < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        dup2(in, 0);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        close_range(3, ~0U, 0);  // the station's sockets stay the station's
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0) {
        m_error = "fork failed";
        return false;
    }
    setpgid(pid, pid);  // whichever of the two runs first
    m_pid = pid;
    m_exitCode = -1;

    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (reap(false)) {
            m_error = "sipp exited with code " + std::to_string(m_exitCode) + ": " + readText(err);
            return false;
        }
        if (ownsPort(m_options.tcp, m_port) && ownsPort(false, m_mediaPort)) {
            m_started = true;
            m_error.clear();
            return true;
        }
        std::this_thread::sleep_for(kPoll);
    }
    stop();
    m_error = "sipp did not bind its ports within 5 s: " + readText(err);
    return false;
}

bool SippPeer::ownsPort(bool tcp, unsigned short port) const
{
    const std::set<unsigned long> inodes = loopbackInodes(tcp, port);
    if (inodes.empty())
        return false;
    std::error_code ec;
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/" + std::to_string(m_pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        unsigned long inode = 0;
        if (!ec && std::sscanf(target.c_str(), "socket:[%lu]", &inode) == 1 && inodes.count(inode) != 0)
            return true;
    }
    return false;
}

// Collects SIPp's exit status; true once it has exited.
bool SippPeer::reap(bool block)
{
    if (m_pid <= 0)
        return true;
    int status = 0;
    const pid_t done = waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (done == 0)
        return false;
    if (done == m_pid && WIFEXITED(status))
        m_exitCode = WEXITSTATUS(status);
    m_pid = -1;
    return true;
}

bool SippPeer::waitExit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

void SippPeer::stop()
{
    if (m_pid <= 0)
        return;
    kill(-m_pid, SIGTERM);
    if (!waitExit(std::chrono::duration_cast<std::chrono::milliseconds>(kStopLimit))) {
        kill(-m_pid, SIGKILL);
        reap(true);
    }
}

std::string SippPeer::messages() const
{
    return readText(m_dir / "messages.log");
}

SippPeer::Counts SippPeer::counts() const
{
    // stat.csv: a row of column names, then one row per dump; SIPp dumps at start and at exit.
    std::ifstream in(m_dir / "stat.csv");
    std::string header, line, last;
    std::getline(in, header);
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    const auto split = [](const std::string& row) {
        std::vector<std::string> cells;
        std::istringstream stream(row);
        for (std::string cell; std::getline(stream, cell, ';');)
            cells.push_back(cell);
        return cells;
    };
    const std::vector<std::string> names = split(header), values = split(last);
    Counts counts;
    for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) {
        if (names[i] == "SuccessfulCall(C)")
            counts.successful = static_cast<unsigned>(std::strtoul(values[i].c_str(), nullptr, 10));
        else if (names[i] == "FailedCall(C)")
            counts.failed = static_cast<unsigned>(std::strtoul(values[i].c_str(), nullptr, 10));
    }
    return counts;
}

std::vector<std::string> SippPeer::receivedRequests() const
{
    // Each trace entry opens with "UDP message received [n] bytes :" ("TCP" over TCP), a blank
    // line, then the start line; a request's start line begins with its method.
    const std::string received = m_options.tcp ? "TCP message received" : "UDP message received";
    std::istringstream trace(messages());
    std::vector<std::string> methods;
    bool inEntry = false;
    for (std::string line; std::getline(trace, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(received, 0) == 0) {
            inEntry = true;
            continue;
        }
        if (!inEntry || line.empty())
            continue;
        inEntry = false;
        const std::string method = line.substr(0, line.find(' '));
        const bool isMethod = !method.empty() && method.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
        if (isMethod && line.find(" SIP/2.0") != std::string::npos)
            methods.push_back(method);
    }
    return methods;
}

}  // namespace peltra::test
