// The SIPp far-end harness: peers answer on ports of their own, count calls, and leave nothing.
#include "sip/support/SippPeer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

namespace peltra::test {
namespace {

// A UDP socket on 127.0.0.1:port (0: any), receiving for at most 1 s; -1 if the port is taken.
int udpAt(unsigned short port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in at{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const timeval wait{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    return bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0 ? fd : (close(fd), -1);
}

// The start line of SIPp's answer to a REGISTER sent to 127.0.0.1:port, "" if none came.
std::string registerAt(unsigned short port, const std::string& id)
{
    const int fd = udpAt(0);
    const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const std::string request = "REGISTER sip:127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5;branch=z9hG4bK" + id +
                                "\r\nFrom: <sip:s@h>;tag=1\r\nTo: <sip:s@h>\r\nCall-ID: " + id + "\r\nCSeq: 1 REGISTER\r\n\r\n";
    sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    char reply[2048] = {};
    recv(fd, reply, sizeof reply - 1, 0), close(fd);
    return std::string(reply).substr(0, std::string(reply).find("\r\n"));
}

TEST(SippPeer, PeersAnswerOnTheirOwnPortsCountCallsReportMissingKeysAndLeaveNothingBound)
{
    TempDir dir;
    SippOptions once, open, reject;
    once.scenario = open.scenario = "register", once.calls = 1, reject.scenario = "reject";
    EXPECT_NE(SippPeer(reject, dir / "reject").error().find("Unsupported keyword 'reject_code'"), std::string::npos);
    unsigned short ports[2] = {};
    {
        SippPeer a(once, dir / "a"), b(open, dir / "b");
        ASSERT_TRUE(a.started() && b.started()) << a.error() << b.error();
        ports[0] = a.port(), ports[1] = b.port();
        EXPECT_NE(a.port(), b.port());
        EXPECT_EQ(registerAt(a.port(), "one"), "SIP/2.0 200 OK");
        EXPECT_EQ(registerAt(b.port(), "two"), "SIP/2.0 200 OK");
        ASSERT_TRUE(a.waitExit(std::chrono::seconds(3)));
        EXPECT_EQ(a.exitCode(), 0);
        EXPECT_EQ(a.counts().successful, 1u);
        EXPECT_EQ(a.receivedRequests(), std::vector<std::string>{"REGISTER"});
    }
    for (const unsigned short port : ports)
        EXPECT_EQ(close(udpAt(port)), 0) << port << " is still bound";
}

}  // namespace
}  // namespace peltra::test
