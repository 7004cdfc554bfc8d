// A timed tool: N simultaneous SIP calls from one station process to a SIPp far end on 127.0.0.1.
// SIPp answers every INVITE at once and points the media at a UDP socket of this tool, so the
// RTP the station paces is seen by a receiver that only timestamps it. Per N it reports the
// spacing of each call's packets (the kernel's arrival stamps; the receiver thread's steady-clock
// stamps as a check), the packets lost (gaps in the sequence numbers, and received against the
// message's length), the station's CPU time per call, and SIPp's CPU time. Where the time goes:
// the span of each tick's burst of packets at the receiver ("burst", p50/max ms, meaningful
// while the bursts stay apart), and the pacer thread's share of a core ("rt" when it runs
// SCHED_FIFO).
// "load" is the machine's one-minute load average: other work on the machine shows in the spacing.
//
// Usage: bench_sip_calls [N[,N...]] [messageSeconds]
// Defaults: 100 calls, a 5 s message. Example: bench_sip_calls 50,100,200,300,500 5
// A count given twice runs twice.
#include "BenchStore.h"
#include "calls/PortSettings.h"
#include "line/PhonogramLibrary.h"
#include "platform/sync/Event.h"
#include "sip/SipEndpoint.h"
#include "sip/SipLine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace peltra;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr unsigned kFramesPerSecond = 50;  // 20 ms of 8 kHz G.711 per packet
constexpr std::size_t kBatch = 64;

void die(const std::string& what)
{
    std::fprintf(stderr, "sip_calls_bench: %s\n", what.c_str());
    std::exit(1);
}

double seconds(const rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return seconds(usage);
}

double percentile(std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    const auto index = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::min(index == 0 ? 0 : index - 1, sorted.size() - 1)];
}

// CPU seconds of this process's threads named name, and whether one of them runs SCHED_FIFO.
double threadCpu(const std::string& name, bool& realTime)
{
    double total = 0;
    realTime = false;
    std::error_code ec;
    for (const fs::directory_entry& task : fs::directory_iterator("/proc/self/task", ec)) {
        std::ifstream commFile(task.path() / "comm");
        std::string comm;
        std::getline(commFile, comm);
        if (comm != name)
            continue;
        std::ifstream statFile(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::vector<std::string> values;
        for (std::string value; fields >> value;)
            values.push_back(value);
        // Fields from the state on: utime and stime are the 12th and 13th, the policy the 39th.
        if (values.size() < 39)
            continue;
        total += (std::stod(values[11]) + std::stod(values[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
        realTime = realTime || values[38] == "1";
    }
    return total;
}

double loadAverage()
{
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A UDP socket on 127.0.0.1 at port (0: any); -1 when it cannot be bound.
int boundUdp(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t localPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// One packet as the receiver saw it.
struct Arrival {
    std::uint32_t ssrc;
    std::uint16_t sequence;
    std::int64_t kernelNs;  // the kernel's receive stamp (wall clock, used for differences only)
    std::int64_t steadyNs;  // when the receiver thread read it
};

// Reads RTP on one socket until stopped, keeping every packet's stamps.
class Receiver {
public:
    explicit Receiver(std::size_t expectedPackets)
    {
        m_fd = boundUdp(0);
        if (m_fd < 0)
            die("cannot bind the RTP receiver");
        // Room for several ticks of every call, so a late read is not a loss.
        const int buffer = 32 * 1024 * 1024;
        if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        ::setsockopt(m_fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
        m_arrivals.reserve(expectedPackets + expectedPackets / 4);
        m_thread = std::thread([this] { run(); });
    }
    ~Receiver()
    {
        stop();
        ::close(m_fd);
    }
    std::uint16_t port() const { return localPort(m_fd); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    const std::vector<Arrival>& arrivals() const { return m_arrivals; }
    std::uint32_t socketDrops() const { return m_drops; }
    std::uint64_t foreign() const { return m_foreign; }
    double cpuSeconds() const { return m_cpu; }

private:
    void run()
    {
        std::vector<std::array<std::uint8_t, 256>> data(kBatch);
        std::vector<std::array<char, 256>> control(kBatch);
        std::vector<iovec> vectors(kBatch);
        std::vector<mmsghdr> messages(kBatch);
        while (!m_stop.load()) {
            pollfd ready{m_fd, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            for (std::size_t i = 0; i < kBatch; ++i) {
                vectors[i] = {data[i].data(), data[i].size()};
                messages[i] = {};
                messages[i].msg_hdr.msg_iov = &vectors[i];
                messages[i].msg_hdr.msg_iovlen = 1;
                messages[i].msg_hdr.msg_control = control[i].data();
                messages[i].msg_hdr.msg_controllen = control[i].size();
            }
            const int count = ::recvmmsg(m_fd, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
            const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         Clock::now().time_since_epoch()).count();
            for (int i = 0; i < count; ++i) {
                const std::uint8_t* p = data[i].data();
                if (messages[i].msg_len < 12 || (p[0] >> 6) != 2) {
                    ++m_foreign;
                    continue;
                }
                Arrival arrival{};
                arrival.sequence = static_cast<std::uint16_t>(p[2] << 8 | p[3]);
                arrival.ssrc =
                    std::uint32_t{p[8]} << 24 | std::uint32_t{p[9]} << 16 | std::uint32_t{p[10]} << 8 | p[11];
                arrival.steadyNs = now;
                arrival.kernelNs = now;
                for (cmsghdr* c = CMSG_FIRSTHDR(&messages[i].msg_hdr); c != nullptr;
                     c = CMSG_NXTHDR(&messages[i].msg_hdr, c)) {
                    if (c->cmsg_level != SOL_SOCKET)
                        continue;
                    if (c->cmsg_type == SO_TIMESTAMPNS) {
                        timespec stamp{};
                        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                        arrival.kernelNs = std::int64_t{stamp.tv_sec} * 1000000000 + stamp.tv_nsec;
                    } else if (c->cmsg_type == SO_RXQ_OVFL) {
                        std::memcpy(&m_drops, CMSG_DATA(c), sizeof m_drops);
                    }
                }
                m_arrivals.push_back(arrival);
            }
        }
        m_cpu = ::cpuSeconds(RUSAGE_THREAD);
    }

    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::vector<Arrival> m_arrivals;
    std::uint32_t m_drops = 0;
    std::uint64_t m_foreign = 0;
    double m_cpu = 0;
    std::thread m_thread;
};

// SIPp as the far end, answering on 127.0.0.1:port.
class FarEnd {
public:
    FarEnd(const fs::path& folder, unsigned calls, std::uint16_t mediaPort, unsigned timeoutS)
    {
        // A port that is free now; SIPp takes it a moment later.
        const int probe = boundUdp(0);
        m_port = localPort(probe);
        ::close(probe);
        m_log = folder / "sipp.log";
        const std::vector<std::string> args = {
            "sipp", "-sf", PELTRA_SIP_CALLS_SCENARIO, "-i", "127.0.0.1", "-mi", "127.0.0.1",
            "-p", std::to_string(m_port), "-key", "rtpport", std::to_string(mediaPort),
            "-m", std::to_string(calls), "-l", "100000", "-r", "10000", "-rp", "1000",
            "-max_recv_loops", "100000", "-buff_size", "4194304", "-nostdin",
            "-timeout", std::to_string(timeoutS) + "s", "-timeout_error",
            "-trace_err", "-error_file", (folder / "sipp_errors.log").string()};
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int error = posix_spawnp(&m_pid, "sipp", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0)
            die(std::string("cannot start sipp: ") + std::strerror(error));
        // Ready once its port can no longer be bound here.
        for (int i = 0; i < 100; ++i) {
            const int fd = boundUdp(m_port);
            if (fd < 0)
                return;
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        die("sipp did not take port " + std::to_string(m_port) + "; see " + m_log.string());
    }
    ~FarEnd()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    std::uint16_t port() const { return m_port; }
    // Waits for SIPp to end (it stops after its N calls); its exit status, -1 when it had to be
    // ended; cpu: its user+system time.
    int finish(unsigned waitMs, double& cpu)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        int status = 0;
        rusage usage{};
        for (;;) {
            const pid_t done = ::wait4(m_pid, &status, WNOHANG, &usage);
            if (done == m_pid)
                break;
            if (Clock::now() > deadline) {
                ::kill(m_pid, SIGTERM);
                ::wait4(m_pid, &status, 0, &usage);
                m_pid = -1;
                cpu = seconds(usage);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_pid = -1;
        cpu = seconds(usage);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const fs::path& log() const { return m_log; }

private:
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
    fs::path m_log;
};

class Results : public line::CallResultSink {
public:
    void callFinished(unsigned, std::uint32_t result, const std::string& reason) override
    {
        std::lock_guard lock(m_mutex);
        ++m_finished;
        if (result == line::kCallDelivered)
            ++m_delivered;
        else if (m_firstProblem.empty())
            m_firstProblem = std::to_string(result) + " " + reason;
    }
    unsigned finished()
    {
        std::lock_guard lock(m_mutex);
        return m_finished;
    }
    unsigned delivered()
    {
        std::lock_guard lock(m_mutex);
        return m_delivered;
    }
    std::string firstProblem()
    {
        std::lock_guard lock(m_mutex);
        return m_firstProblem;
    }

private:
    std::mutex m_mutex;
    unsigned m_finished = 0;
    unsigned m_delivered = 0;
    std::string m_firstProblem;
};

fs::path writeLibrary(const fs::path& folder, unsigned messageSeconds, std::vector<std::string>& phrases)
{
    // One-second tones, one phrase per second of the message.
    std::vector<line::PhonogramLibrary::Phrase> chunks;
    for (int i = 0; i < 5; ++i) {
        line::PhonogramLibrary::Bytes pcm;
        for (int k = 0; k < 8000; ++k) {
            const auto s = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * (300 + 100 * i) * k / 8000.0));
            pcm.push_back(static_cast<std::uint8_t>(s & 0xFF));
            pcm.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(s) >> 8) & 0xFF));
        }
        chunks.push_back({"TON" + std::to_string(i), std::move(pcm)});
    }
    for (unsigned i = 0; i < messageSeconds; ++i)
        phrases.push_back("TON" + std::to_string(i % 5));
    const fs::path path = folder / "bench.awf";
    std::string error;
    if (!line::PhonogramLibrary::write(path, line::PhonogramLibrary::pcmFormat(), chunks, &error))
        die(error);
    return path;
}

struct Row {
    unsigned calls = 0;
    unsigned delivered = 0;
    double p1 = 0, p50 = 0, p99 = 0, max = 0;  // spacing, kernel stamps, ms
    double p99Read = 0;                        // spacing, receiver-thread stamps, ms
    std::uint64_t sequenceGaps = 0;
    std::uint64_t missing = 0;  // expected minus received, over all calls
    std::uint32_t socketDrops = 0;
    double cpuMsPerCall = 0;
    double sippCpuS = 0;
    int sippStatus = 0;
    double tickSpanP50 = 0, tickSpanMax = 0;  // how long one tick's packets took to arrive, ms
    double pacerBusy = 0;  // the pacer thread's CPU time over the wall time, %
    bool pacerRealTime = false;
    double load = 0;  // the machine's load average over the last minute, at the end
    double wallS = 0;
    bool holds() const
    {
        return delivered == calls && sequenceGaps == 0 && missing == 0 && std::abs(p99 - 20.0) <= 1.0;
    }
};

Row runCalls(unsigned calls, unsigned messageSeconds)
{
    Row row;
    row.calls = calls;
    std::string pattern = (fs::temp_directory_path() / "peltra-sip-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        die("cannot create a temporary folder");
    const fs::path folder = pattern;
    std::vector<std::string> phrases;
    const fs::path library = writeLibrary(folder, messageSeconds, phrases);
    const std::uint64_t perCall = std::uint64_t{messageSeconds} * kFramesPerSecond;

    Receiver receiver(perCall * calls);
    const unsigned timeoutS = messageSeconds + 60 + calls / 10;
    auto farEnd = std::make_unique<FarEnd>(folder, calls, receiver.port(), timeoutS);

    bench::BenchStore store;
    config::ConfigStore& config = store.config();
    const std::string trunk = "Sip\\main";
    config.writeText(trunk, "Proxy", "sip:127.0.0.1:" + std::to_string(farEnd->port()));
    config.writeText(trunk, "Domain", "127.0.0.1");
    config.writeText(trunk, "LocalAddress", "127.0.0.1");
    config.writeNumber(trunk, "RtpPortMin", 20000);
    config.writeNumber(trunk, "RtpPortMax", 40000);
    config.writeText(trunk, "Codecs", "PCMA");
    calls::PortSettings ports(config);
    for (unsigned i = 1; i <= calls; ++i) {
        const std::string port = "SIP" + std::to_string(i);
        ports.setWaitAnswerS(port, 30);
        ports.setDelayFirstMs(port, 0);
        ports.setRingOffMs(port, 10);
        ports.setPulseDialing(port, false);
    }
    calls::StoredCallSettings settings(config);

    platform::Event shutdown{true, false};
    Results results;
    double cpuStart = 0;
    Clock::time_point start;
    {
        sip::SipTrunks trunks(config);
        std::vector<std::unique_ptr<sip::SipLine>> lines;
        for (unsigned i = 0; i < calls; ++i) {
            auto line = std::make_unique<sip::SipLine>(trunks, shutdown, settings, library);
            line->setOwner(&results);
            if (!line->Open(i, "SIP" + std::to_string(i + 1)))
                die("cannot open SIP" + std::to_string(i + 1));
            line->GetPhraseList() = phrases;
            lines.push_back(std::move(line));
        }
        cpuStart = cpuSeconds(RUSAGE_SELF);
        start = Clock::now();
        for (unsigned i = 0; i < calls; ++i)
            if (!lines[i]->StartCall(std::to_string(1000 + i)))
                die("cannot start the call on SIP" + std::to_string(i + 1));
        const auto deadline = start + std::chrono::seconds(timeoutS);
        while (results.finished() < calls && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        row.wallS = std::chrono::duration<double>(Clock::now() - start).count();
        // The pacer runs on the only timer thread of this process.
        row.pacerBusy = 100 * threadCpu("peltra-timer", row.pacerRealTime) / row.wallS;
        row.load = loadAverage();
        shutdown.set();
        lines.clear();
    }
    row.delivered = results.delivered();
    row.sippStatus = farEnd->finish(5000, row.sippCpuS);
    receiver.stop();
    row.cpuMsPerCall = 1000 * (cpuSeconds(RUSAGE_SELF) - cpuStart - receiver.cpuSeconds()) / calls;
    row.socketDrops = receiver.socketDrops();
    if (row.delivered != calls)
        std::fprintf(stderr, "  %u of %u calls not delivered; first: %s\n", calls - row.delivered, calls,
                     results.firstProblem().c_str());
    if (row.sippStatus != 0)
        std::fprintf(stderr, "  sipp ended with %d; its screen is in %s\n", row.sippStatus, farEnd->log().c_str());

    // Per call: spacing in arrival order, sequence gaps, and received against the message.
    std::map<std::uint32_t, std::vector<const Arrival*>> byCall;
    for (const Arrival& arrival : receiver.arrivals())
        byCall[arrival.ssrc].push_back(&arrival);
    std::vector<double> spacing, spacingRead;
    spacing.reserve(receiver.arrivals().size());
    spacingRead.reserve(receiver.arrivals().size());
    for (const auto& [ssrc, packets] : byCall) {
        std::int64_t extended = packets.front()->sequence;
        std::int64_t lowest = extended, highest = extended;
        for (std::size_t i = 1; i < packets.size(); ++i) {
            spacing.push_back(static_cast<double>(packets[i]->kernelNs - packets[i - 1]->kernelNs) / 1e6);
            spacingRead.push_back(static_cast<double>(packets[i]->steadyNs - packets[i - 1]->steadyNs) / 1e6);
            extended += static_cast<std::int16_t>(packets[i]->sequence - packets[i - 1]->sequence);
            lowest = std::min(lowest, extended);
            highest = std::max(highest, extended);
        }
        const auto span = static_cast<std::uint64_t>(highest - lowest + 1);
        row.sequenceGaps += span > packets.size() ? span - packets.size() : 0;
        row.missing += packets.size() < perCall ? perCall - packets.size() : 0;
    }
    // Calls whose RTP never arrived lose all of it.
    if (byCall.size() < calls)
        row.missing += (calls - byCall.size()) * perCall;
    std::sort(spacing.begin(), spacing.end());
    std::sort(spacingRead.begin(), spacingRead.end());
    row.p1 = percentile(spacing, 0.01);
    row.p50 = percentile(spacing, 0.50);
    row.p99 = percentile(spacing, 0.99);
    row.max = spacing.empty() ? 0 : spacing.back();
    row.p99Read = percentile(spacingRead, 0.99);

    // A tick sends one packet of each of its calls back to back: arrivals cluster, and a cluster's
    // length is how long the pacer took to send that tick (clusters closer than 1 ms merge).
    std::vector<std::int64_t> stamps;
    stamps.reserve(receiver.arrivals().size());
    for (const Arrival& arrival : receiver.arrivals())
        stamps.push_back(arrival.kernelNs);
    std::sort(stamps.begin(), stamps.end());
    std::vector<double> spans;
    std::size_t first = 0;
    for (std::size_t i = 1; i <= stamps.size(); ++i) {
        if (i == stamps.size() || stamps[i] - stamps[i - 1] > 1000000) {
            spans.push_back(static_cast<double>(stamps[i - 1] - stamps[first]) / 1e6);
            first = i;
        }
    }
    std::sort(spans.begin(), spans.end());
    row.tickSpanP50 = percentile(spans, 0.5);
    row.tickSpanMax = spans.empty() ? 0 : spans.back();
    if (receiver.foreign() != 0)
        std::fprintf(stderr, "  %llu packets on the receiver were not RTP\n",
                     static_cast<unsigned long long>(receiver.foreign()));

    farEnd.reset();
    // SIPp's screen and error log stay for a look when it counted a failed call.
    std::error_code ec;
    if (row.sippStatus == 0)
        fs::remove_all(folder, ec);
    return row;
}

std::vector<unsigned> parseCounts(const std::string& text)
{
    std::vector<unsigned> counts;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || value == 0 || value > 10000)
            die("call counts are numbers from 1 to 10000, separated by commas: \"" + text + "\"");
        counts.push_back(static_cast<unsigned>(value));
    }
    return counts;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 3)
        die("usage: bench_sip_calls [N[,N...]] [messageSeconds]");
    const std::vector<unsigned> counts = parseCounts(argc > 1 ? argv[1] : "100");
    const unsigned messageSeconds = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 5;
    if (messageSeconds == 0 || messageSeconds > 600)
        die("the message lasts 1 to 600 s");
    raiseDescriptorLimit();
    signal(SIGPIPE, SIG_IGN);

    std::printf("message %u s (%u packets per call); spacing in ms from the kernel's receive stamps, "
                "'read p99' from the receiver thread's steady clock\n",
                messageSeconds, messageSeconds * kFramesPerSecond);
    std::printf("%6s %9s %7s %7s %7s %7s %9s %6s %8s %6s %10s %11s %9s %10s %6s %5s %s\n", "calls",
                "delivered", "p1", "p50", "p99", "max", "read p99", "gaps", "missing", "drops", "cpu ms/call", "burst",
                "pacer", "sipp cpu", "wall", "load", "holds");
    bool allHold = true;
    std::vector<Row> rows;
    for (unsigned calls : counts) {
        const Row row = runCalls(calls, messageSeconds);
        std::printf("%6u %9u %7.2f %7.2f %7.2f %7.2f %9.2f %6llu %8llu %6u %10.1f %5.2f/%-5.2f "
                    "%5.1f%%%-3s %8.1f s %6.1f %5.1f %s\n",
                    row.calls, row.delivered, row.p1, row.p50, row.p99, row.max, row.p99Read,
                    static_cast<unsigned long long>(row.sequenceGaps), static_cast<unsigned long long>(row.missing),
                    row.socketDrops, row.cpuMsPerCall, row.tickSpanP50, row.tickSpanMax, row.pacerBusy,
                    row.pacerRealTime ? " rt" : "", row.sippCpuS, row.wallS, row.load,
                    row.holds() ? "yes" : "no");
        std::fflush(stdout);
        allHold = allHold && row.holds();
        rows.push_back(row);
    }
    // A count holds when every run with it and with every smaller count held; a count may be
    // given more than once, as the spacing varies with what else the machine is doing.
    unsigned largest = 0;
    for (const Row& row : rows)
        if (std::all_of(rows.begin(), rows.end(), [&](const Row& r) { return r.calls > row.calls || r.holds(); }))
            largest = std::max(largest, row.calls);
    if (counts.size() > 1)
        std::printf("largest N that holds (p99 within 1 ms of 20 ms, nothing lost, in every run up to it): %u\n",
                    largest);
    return allHold ? 0 : 1;
}
