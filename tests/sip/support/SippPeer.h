// Test helper: one SIPp process playing a scripted SIP far end on 127.0.0.1, and what it saw.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace peltra::test {

struct SippOptions {
    // A file name under tests/sip/scenarios ("answer.xml" or just "answer"), or a path with a '/'.
    std::string scenario;
    // Passed as `-key name value`; SIPp puts the value where a message says [name]. SIPp refuses
    // to load a scenario whose keys are not all given.
    std::vector<std::pair<std::string, std::string>> keys;
    bool rtpEcho = false;  // echo every RTP packet back to its sender from the media port
    unsigned calls = 0;    // SIPp exits by itself after this many calls; 0: runs until stopped
    // When not empty, given as the keys auth_user and auth_password.
    std::string authUser, authPassword;
    bool tcp = false;  // SIP over TCP (`-t t1`): SIPp listens on port() over TCP instead of UDP
};

// A port on 127.0.0.1 that is free now for TCP or UDP, and not yet handed out by this process.
unsigned short freeLoopbackPort(bool tcp);
// Whether a socket listens on 127.0.0.1:port over TCP, from the kernel's socket table.
bool listensOnLoopbackTcp(unsigned short port);

// Starts SIPp in the constructor and waits, at most a few seconds, until it holds its SIP and
// media ports. SIPp's files go to workDir (one peer per folder): messages.log, stat.csv,
// errors.log, stdout.log, stderr.log. The destructor ends SIPp's whole process group. Not
// thread-safe: use a peer from the thread that made it, which must outlive SIPp (SIPp is told to
// die with that thread).
class SippPeer {
public:
    SippPeer(SippOptions options, std::filesystem::path workDir);
    ~SippPeer();
    SippPeer(const SippPeer&) = delete;
    SippPeer& operator=(const SippPeer&) = delete;

    bool started() const { return m_started; }
    std::string error() const { return m_error; }
    unsigned short port() const { return m_port; }            // SIP over UDP or TCP, 127.0.0.1
    unsigned short mediaPort() const { return m_mediaPort; }  // [media_port] in the SDP

    // True once SIPp has exited, waiting at most `limit` for it (after `calls` calls it exits by
    // itself).
    bool waitExit(std::chrono::milliseconds limit);
    // SIPp's exit code: 0 every call succeeded, 1 some failed, 97 stopped by a command, 99 no
    // call at all, 255 fatal error; -1 while it runs or when it had to be killed.
    int exitCode() const { return m_exitCode; }
    // Asks SIPp to end (it then writes its final counts), kills it if it lingers.
    void stop();

    std::string messages() const;  // SIPp's message trace, as far as written
    struct Counts {
        unsigned successful = 0, failed = 0;
    };
    // The cumulative counts of the last statistics row; final once SIPp has exited.
    Counts counts() const;
    // The methods of the requests SIPp received over its transport, in order, retransmissions included.
    std::vector<std::string> receivedRequests() const;

private:
    bool launch(const std::vector<std::string>& args);
    bool ownsPort(bool tcp, unsigned short port) const;
    bool reap(bool block);

    SippOptions m_options;
    std::filesystem::path m_dir;
    pid_t m_pid = -1;  // while SIPp runs
    bool m_started = false;
    int m_exitCode = -1;
    unsigned short m_port = 0;
    unsigned short m_mediaPort = 0;
    std::string m_error;
};

}  // namespace peltra::test
