// SIP lines against SIPp far ends on 127.0.0.1: every ending of a call, the audio the far end
// heard (echoed back), the codecs, challenges and registration; over TCP, and over TLS against
// openssl s_server.
#include "calls/PortSettings.h"
#include "e2e/StationProcess.h"
#include "sip/SipLine.h"
#include "support/ConfigTestStore.h"
#include "support/LineRiff.h"
#include "support/RunProgram.h"
#include "sip/support/SippPeer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

namespace peltra::test {
namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

// Two phrases of different tones, written as the lexicon writes a library: 8 kHz s16le chunks.
std::vector<std::int16_t> tone(double hz, double amplitude, std::size_t samples)
{
    std::vector<std::int16_t> pcm(samples);
    for (std::size_t i = 0; i < samples; ++i)
        pcm[i] = static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / 8000));
    return pcm;
}
const std::vector<std::int16_t> kLow = tone(400, 6000, 3200);    // "TON1", 0.4 s
const std::vector<std::int16_t> kHigh = tone(1000, 12000, 4000);  // "TON2", 0.5 s

std::string pcmBytes(const std::vector<std::int16_t>& samples)
{
    std::string bytes;
    for (std::int16_t s : samples)
        bytes += le16(static_cast<std::uint16_t>(s));
    return bytes;
}

class RecordingView : public line::LineView {
public:
    void appendLog(const std::string& text) override { add(text); }
    void showMessage(const std::string& caption, const std::string& text) override { add(caption + ": " + text); }
    std::string log()
    {
        std::lock_guard lock(m_mutex);
        return m_log;
    }

private:
    void add(const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        m_log += text;
    }
    std::mutex m_mutex;
    std::string m_log;
};

class ResultSink : public line::CallResultSink {
public:
    void callFinished(unsigned, std::uint32_t result, const std::string& reason) override
    {
        this->result = result;
        this->reason = reason;
        done.set();
    }
    platform::Event done{true, false};
    std::uint32_t result = 99;
    std::string reason;
};

struct Outcome {
    std::uint32_t result = 99;
    std::string reason;
    std::vector<std::int16_t> heard;  // what the far end echoed back
    std::string log;
};

class SipLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(m_config.dir / "lib.awf", std::ios::binary)
            << riff(chunk("fmt ", le16(1) + le16(1) + le32(8000) + le32(16000) + le16(2) + le16(16)) +
                    chunk("TON1", pcmBytes(kLow)) + chunk("TON2", pcmBytes(kHigh)));
        set("Domain", "127.0.0.1");
        set("LocalAddress", "127.0.0.1");
        set("User", "peltra");
        set("Password", "s3cret-Pw");
        m_config.store.writeNumber("Sip\\main", "RtpPortMin", 20000);
        m_config.store.writeNumber("Sip\\main", "RtpPortMax", 29999);
        calls::PortSettings ports(m_config.store);
        ports.setWaitAnswerS("SIP1", 2);
        ports.setDelayFirstMs("SIP1", 0);
        ports.setRingOffMs("SIP1", 20);
    }

    void set(const std::string& name, const std::string& value) { m_config.store.writeText("Sip\\main", name, value); }

    std::unique_ptr<SippPeer> peer(const std::string& scenario, Keys keys, unsigned calls = 1, bool echo = false)
    {
        SippOptions options{scenario, std::move(keys), echo, calls, {}, {}};
        auto far = std::make_unique<SippPeer>(options, m_config.dir / ("peer" + std::to_string(++m_peers)));
        EXPECT_TRUE(far->started()) << far->error();
        set("Proxy", "sip:127.0.0.1:" + std::to_string(far->port()));
        return far;
    }

    // One call on SIP1; over `running` when given, so the trunk outlives the call, else over a
    // trunk of its own.
    Outcome call(std::vector<std::string> phrases = {"TON1", "____", "TON2"}, sip::SipTrunks* running = nullptr)
    {
        std::optional<sip::SipTrunks> own;
        sip::SipTrunks& trunks = running != nullptr ? *running : own.emplace(m_config.store);
        calls::StoredCallSettings settings(m_config.store);
        RecordingView view;
        ResultSink sink;
        Outcome outcome;
        {
            sip::SipLine line(trunks, m_shutdown, settings, m_config.dir / "lib.awf");
            line.setView(&view);
            line.setOwner(&sink);
            line.setRecording(true);
            if (!line.Open(0, "SIP1"))
                return {99, "not open", {}, view.log()};
            line.GetPhraseList() = std::move(phrases);
            EXPECT_TRUE(line.StartCall("8 (123) 45-67"));
            EXPECT_TRUE(sink.done.wait(60000));
            outcome.heard = line.lastRecording();
        }
        outcome.result = sink.result;
        outcome.reason = sink.reason;
        outcome.log = view.log();
        return outcome;
    }

    ConfigTestStore m_config;
    platform::Event m_shutdown{true, false};
    unsigned m_peers = 0;
};

// The echoed audio holds the message in order and length, within G.711's quantisation.
void expectHeard(const std::vector<std::int16_t>& heard, const std::vector<std::int16_t>& message)
{
    ASSERT_GE(heard.size(), message.size());
    EXPECT_LT(heard.size(), message.size() + 160);  // only the last frame's padding is extra
    std::size_t off = 0;
    for (std::size_t i = 0; i < message.size(); ++i)
        off += std::abs(heard[i] - message[i]) > std::abs(message[i]) / 8 + 64;
    EXPECT_EQ(off, 0u);
}

TEST_F(SipLineTest, AnsweredCallSendsTheMessageInTheAnsweredLaw)
{
    for (const auto& [pt, name] : {std::pair{"8", "PCMA"}, std::pair{"0", "PCMU"}}) {
        SCOPED_TRACE(name);
        auto far = peer("answer", {{"ring_ms", "300"}, {"codec_pt", pt}, {"codec_name", name}}, 1, true);
        const Outcome outcome = call();
        EXPECT_EQ(outcome.result, line::kCallDelivered) << outcome.log;
        EXPECT_EQ(outcome.reason, "");
        std::vector<std::int16_t> message = kLow;
        message.insert(message.end(), kHigh.begin(), kHigh.end());
        expectHeard(outcome.heard, message);
        ASSERT_TRUE(far->waitExit(std::chrono::seconds(5)));
        EXPECT_EQ(far->receivedRequests(), (std::vector<std::string>{"INVITE", "ACK", "BYE"}));
        EXPECT_EQ(far->counts().successful, 1u);
        // The prefixes and separators of a written number are not dialled over SIP.
        EXPECT_NE(far->messages().find("INVITE sip:81234567@127.0.0.1"), std::string::npos);
    }
}

TEST_F(SipLineTest, FinalResponsesMapToResults)
{
    struct Case {
        const char* code;
        std::uint32_t result;
        const char* reason;
    };
    for (const Case& c : {Case{"486", line::kCallNoAnswer, ""}, Case{"600", line::kCallNoAnswer, ""},
                          Case{"603", line::kCallNoAnswer, ""}, Case{"404", line::kCallError, "404 Not Found"},
                          Case{"484", line::kCallError, "484 Address Incomplete"}}) {
        SCOPED_TRACE(c.code);
        auto far = peer("reject", {{"reject_code", c.code}});
        const Outcome outcome = call();
        EXPECT_EQ(outcome.result, c.result) << outcome.log;
        EXPECT_EQ(outcome.reason, c.reason);
        ASSERT_TRUE(far->waitExit(std::chrono::seconds(5)));
        EXPECT_EQ(far->receivedRequests(), (std::vector<std::string>{"INVITE", "ACK"}));
    }
}

TEST_F(SipLineTest, UnavailableCarrierIsADeadLineOfTenAttempts)
{
    auto far = peer("reject", {{"reject_code", "503"}}, 10);
    const Outcome outcome = call();
    EXPECT_EQ(outcome.result, line::kCallError);
    EXPECT_EQ(outcome.reason, "503 Service Unavailable");
    ASSERT_TRUE(far->waitExit(std::chrono::seconds(5)));
    const std::vector<std::string> requests = far->receivedRequests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "INVITE"), 10);
}

TEST_F(SipLineTest, RingingWithoutAnswerIsCancelled)
{
    auto far = peer("ring", {});
    // The CANCEL goes when the wait runs out, not when the trunk closes.
    sip::SipTrunks trunks(m_config.store);
    const Outcome outcome = call({"TON1"}, &trunks);
    EXPECT_EQ(outcome.result, line::kCallNoAnswer) << outcome.log;
    ASSERT_TRUE(far->waitExit(std::chrono::seconds(5)));
    EXPECT_EQ(far->receivedRequests(), (std::vector<std::string>{"INVITE", "CANCEL", "ACK"}));
}

TEST_F(SipLineTest, FarEndHangUpCountsAgainstTheDeliveryMarker)
{
    // The far end hangs up 300 ms after answering: during the first phrase, or after the marker
    // that follows a phrase shorter than that.
    const std::vector<std::int16_t> shortPhrase(kLow.begin(), kLow.begin() + 800);
    std::ofstream(m_config.dir / "lib.awf", std::ios::binary)
        << riff(chunk("fmt ", le16(1) + le16(1) + le32(8000) + le32(16000) + le16(2) + le16(16)) +
                chunk("TON1", pcmBytes(kLow)) + chunk("TON2", pcmBytes(kHigh)) + chunk("TON3", pcmBytes(shortPhrase)));
    struct Case {
        std::vector<std::string> phrases;
        std::uint32_t result;
    };
    for (const Case& c : {Case{{"TON1", "____", "TON2"}, line::kCallHungUp},
                          Case{{"TON3", "____", "TON2", "TON1"}, line::kCallDelivered}}) {
        auto far = peer("hangup", {{"ring_ms", "0"}, {"talk_ms", "300"}, {"codec_pt", "8"}, {"codec_name", "PCMA"}});
        const Outcome outcome = call(c.phrases);
        EXPECT_EQ(outcome.result, c.result) << outcome.log;
        ASSERT_TRUE(far->waitExit(std::chrono::seconds(5)));
        EXPECT_EQ(far->receivedRequests(), (std::vector<std::string>{"INVITE", "ACK"}));
        EXPECT_EQ(far->counts().successful, 1u);
    }
}

// A far end that vanishes mid-message (its audio stops, and it answers no OPTIONS) is a lost
// session: before the marker, a hang-up.
TEST_F(SipLineTest, AFarEndThatVanishesIsALostSession)
{
    auto far = peer("answer", {{"ring_ms", "0"}, {"codec_pt", "8"}, {"codec_name", "PCMA"}}, 1, true);
    std::thread vanish([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        far->stop();
    });
    const Outcome outcome = call(std::vector<std::string>(16, "TON2"));
    vanish.join();
    EXPECT_EQ(outcome.result, line::kCallHungUp) << outcome.log;
    EXPECT_NE(outcome.log.find("→ OPTIONS"), std::string::npos) << outcome.log;
    EXPECT_NE(outcome.log.find("session lost"), std::string::npos) << outcome.log;
}

TEST_F(SipLineTest, ChallengeIsAnsweredAndThePasswordNeverShows)
{
    for (const bool right : {true, false}) {
        SCOPED_TRACE(right);
        SippOptions options{"challenge", {{"ring_ms", "0"}, {"codec_pt", "8"}, {"codec_name", "PCMA"}}, false, 1,
                            "peltra", right ? "s3cret-Pw" : "other"};
        SippPeer far(options, m_config.dir / ("challenge" + std::to_string(right)));
        ASSERT_TRUE(far.started()) << far.error();
        set("Proxy", "sip:127.0.0.1:" + std::to_string(far.port()));
        const Outcome outcome = call();
        EXPECT_EQ(outcome.result, right ? line::kCallDelivered : line::kCallError) << outcome.log;
        if (!right) {
            EXPECT_EQ(outcome.reason.substr(0, 3), "403");
        }
        EXPECT_EQ(outcome.log.find("s3cret-Pw"), std::string::npos);
        ASSERT_TRUE(far.waitExit(std::chrono::seconds(5)));
        EXPECT_EQ(far.messages().find("s3cret-Pw"), std::string::npos);
    }
}

TEST_F(SipLineTest, CodecsAndBrokenAnswersNeverCarryTheMessage)
{
    struct Case {
        const char* scenario;
        Keys keys;
        const char* codecs;
        std::uint32_t result;
    };
    const Keys pcmu{{"ring_ms", "0"}, {"codec_pt", "0"}, {"codec_name", "PCMU"}};
    for (const Case& c : {Case{"answer", pcmu, "PCMA", line::kCallError},
                          Case{"answer", pcmu, "PCMU", line::kCallDelivered},
                          Case{"garbage", {{"garbage", "sdp"}}, "PCMA,PCMU", line::kCallError},
                          Case{"garbage", {{"garbage", "nomedia"}}, "PCMA,PCMU", line::kCallError},
                          Case{"garbage", {{"garbage", "headers"}}, "PCMA,PCMU", line::kCallDelivered}}) {
        SCOPED_TRACE(std::string(c.scenario) + " " + c.codecs);
        set("Codecs", c.codecs);
        auto far = peer(c.scenario, c.keys);
        const Outcome outcome = call();
        EXPECT_EQ(outcome.result, c.result) << outcome.log;
        ASSERT_TRUE(far->waitExit(std::chrono::seconds(5)));
        // A far end that answered is always hung up on.
        const std::vector<std::string> requests = far->receivedRequests();
        EXPECT_EQ(requests.back(), "BYE");
    }
}

TEST_F(SipLineTest, RegistrationDecidesWhetherTheLineIsReady)
{
    for (const bool right : {true, false}) {
        SCOPED_TRACE(right);
        SippOptions options{"register_auth", {}, false, 0, "peltra", right ? "s3cret-Pw" : "other"};
        SippPeer far(options, m_config.dir / ("register" + std::to_string(right)));
        ASSERT_TRUE(far.started()) << far.error();
        set("Proxy", "sip:127.0.0.1:" + std::to_string(far.port()));
        m_config.store.writeNumber("Sip\\main", "Register", 1);
        sip::SipTrunks trunks(m_config.store);
        std::string why;
        const std::shared_ptr<sip::SipEndpoint> endpoint = trunks.endpoint("main", &why);
        ASSERT_TRUE(endpoint) << why;
        for (int i = 0; i < 100 && endpoint->registration() == sip::Registration::Pending; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(endpoint->registration(), right ? sip::Registration::Registered : sip::Registration::Failed);
        calls::StoredCallSettings settings(m_config.store);
        RecordingView view;
        sip::SipLine line(trunks, m_shutdown, settings, m_config.dir / "lib.awf");
        line.setView(&view);
        EXPECT_EQ(line.Open(0, "SIP1"), right);
        if (!right) {
            EXPECT_NE(view.log().find("REGISTER: 403"), std::string::npos) << view.log();
        }
    }
}

TEST_F(SipLineTest, AnsweredCallOverTcp)
{
    SippOptions options{"answer", {{"ring_ms", "0"}, {"codec_pt", "8"}, {"codec_name", "PCMA"}}, false, 1, {}, {}, true};
    SippPeer far(options, m_config.dir / "tcp");
    ASSERT_TRUE(far.started()) << far.error();
    set("Transport", "tcp");
    set("Proxy", "sip:127.0.0.1:" + std::to_string(far.port()) + ";transport=tcp");
    const Outcome outcome = call();
    EXPECT_EQ(outcome.result, line::kCallDelivered) << outcome.log;
    ASSERT_TRUE(far.waitExit(std::chrono::seconds(5)));
    // Only the requests SIPp logged as received over TCP.
    EXPECT_EQ(far.receivedRequests(), (std::vector<std::string>{"INVITE", "ACK", "BYE"}));
    EXPECT_EQ(far.counts().successful, 1u);
}

// openssl s_server as the proxy's TLS socket, with a self-signed certificate made for the case:
// the INVITE reaches it only when CaFile vouches for the certificate and the certificate names
// the proxy's address; a refused server hears the station's alert.
TEST_F(SipLineTest, TlsCarriesTheCallOnlyToACertifiedProxy)
{
    struct Case {
        const char* subject;
        const char* altNames;
        bool trusted;       // CaFile is the certificate itself; the system's CAs otherwise
        const char* alert;  // what s_server logs when the station refuses it; empty: accepted
    };
    calls::PortSettings(m_config.store).setWaitAnswerS("SIP1", 1);
    for (const Case& c : {Case{"/CN=127.0.0.1", "IP:127.0.0.1", false, "alert unknown ca"},
                          Case{"/CN=127.0.0.1", "IP:127.0.0.1", true, ""},
                          Case{"/CN=other.example", "DNS:other.example", true, "alert bad certificate"},
                          Case{"/CN=proxy", "IP:127.0.0.1", true, ""},
                          Case{"/CN=127.0.0.1", "IP:127.0.0.2", true, "alert bad certificate"}}) {
        SCOPED_TRACE(std::string(c.subject) + " " + c.altNames + (c.trusted ? " CaFile" : ""));
        const std::filesystem::path dir = m_config.dir / ("tls" + std::to_string(++m_peers));
        std::filesystem::create_directories(dir);
        const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
        const ProgramResult made = runProgram(
            "/usr/bin/openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                                 "-days", "1", "-keyout", key, "-out", cert, "-subj", c.subject, "-addext",
                                 std::string("subjectAltName=") + c.altNames}, dir);
        ASSERT_EQ(made.code, 0) << made.err;
        // s_server drops a connection once its input ends: it reads a FIFO it also holds open.
        const std::string input = (dir / "input").string();
        ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
        const unsigned short port = freeLoopbackPort(true);
        StationProcess server;
        ASSERT_TRUE(server.start("/bin/sh", {"-c", "exec /usr/bin/openssl \"$@\" 0<>\"$0\"", input, "s_server", "-quiet",
                                             "-accept", "127.0.0.1:" + std::to_string(port), "-cert", cert, "-key", key},
                                 dir, "s_server"));
        ASSERT_TRUE(eventually([&] { return listensOnLoopbackTcp(port); }, std::chrono::seconds(5))) << server.err();
        set("Transport", "tls");
        set("Proxy", "sip:127.0.0.1:" + std::to_string(port) + ";transport=tls");
        set("CaFile", c.trusted ? cert : "");
        // s_server never answers: once the INVITE is through it is ended, so only the first
        // attempt waits out WaitAnswer and the rest fail at once.
        const std::string invite = "INVITE sip:81234567@127.0.0.1 SIP/2.0";
        std::atomic<bool> over = false;
        std::thread watcher([&] {
            if (eventually([&] { return over || server.out().find(invite) != std::string::npos; },
                           std::chrono::seconds(30)) && !over)
                server.signal(SIGTERM);
        });
        const Outcome outcome = call();
        over = true;
        watcher.join();
        EXPECT_EQ(outcome.result, line::kCallError) << outcome.log;
        const bool accepted = *c.alert == '\0';
        EXPECT_EQ(server.out().find(invite) != std::string::npos, accepted) << server.err() << outcome.log;
        if (!accepted) {
            EXPECT_NE(server.err().find(c.alert), std::string::npos) << server.err();
        }
    }
}

}  // namespace
}  // namespace peltra::test
