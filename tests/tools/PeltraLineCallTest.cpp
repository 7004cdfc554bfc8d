// peltra-line's test calls against the simulated exchange: every call result, tone and pulse
// dialing as the exchange recognises them, recording, the probe and sending a stream file.
#include "calls/PortSettings.h"
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "line/Modulator.h"
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "platform/registry/RegistryStore.h"
#include "sip/support/SippPeer.h"
#include "support/StationSetup.h"
#include "support/ToolsFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>

namespace peltra::test {
namespace {

using Ports = calls::PortSettings;

// Whether a line of text is wanted, or begins with it.
bool hasLine(const std::string& text, const std::string& wanted, bool prefix = false)
{
    return ("\n" + text).find("\n" + wanted + (prefix ? "" : "\n")) != std::string::npos;
}

std::string lastLine(std::string text)
{
    text.erase(text.find_last_not_of('\n') + 1);  // npos + 1 erases all: no line
    return text.substr(text.rfind('\n') + 1);     // npos + 1 is the start of the text
}

class PeltraLineCallTest : public ToolsFixture {
protected:
    PeltraLineCallTest() : ToolsFixture(PELTRA_LINE_PATH)
    {
        EXPECT_TRUE(line::PhonogramLibrary::write(m_library, line::PhonogramLibrary::pcmFormat(),
                                                  {{"_001", tonePcm(1000, 500)}, {"_002", tonePcm(1000, 500)},
                                                   {"_SHT", tonePcm(100, 500)}}));
        // Short waits so a call takes well under a second beyond its speech.
        configurePort([](Ports& ports) {
            ports.setDelayFirstMs("SIM1", 20);
            ports.setRingOffMs("SIM1", 20);
            ports.setWaitAnswerS("SIM1", 1);
            ports.setPulseDialing("SIM1", false);
            ports.setDelayPMs("SIM1", 50);
            ports.setDelayWMs("SIM1", 50);
        });
    }

    void configurePort(const std::function<void(Ports&)>& change)
    {
        std::filesystem::create_directories(home());
        platform::RegistryStore registry(config::registryFile(home()));
        config::ConfigStore store(registry);
        Ports ports(store);
        change(ports);
    }

    ProgramResult call(const std::string& phrases, std::vector<std::string> options, const std::string& number = "1234")
    {
        options.insert(options.begin(), {"call", "--port", "SIM1", "--library", m_library.string(), "--phrases", phrases});
        options.push_back(number);
        return run(options);
    }

    std::filesystem::path m_library = work("peltra.awf");
};

TEST_F(PeltraLineCallTest, EveryResultOfACall)
{
    const struct {
        const char* name;
        std::string phrases;
        std::vector<std::string> options;
        const char* result;
        bool dialled = true;
        const char* reason = nullptr;
    } cases[] = {
        {"answered and listened", "_SHT,_001", {"--sim-answer", "100"}, "result 0 Нормально"},
        {"never answered", "_SHT", {"--sim-answer", "never"}, "result 1 Нет ответа"},
        {"hung up before the marker", "_001,_002,____,_SHT",
         {"--sim-answer", "50", "--sim-hangup-after", "400", "--sim-realtime"}, "result 2 Положили трубку"},
        {"hung up after the marker", "_SHT,____,_001",
         {"--sim-answer", "50", "--sim-hangup-after", "500", "--sim-realtime"}, "result 0 Нормально"},
        // Without a marker the whole message must have been sent.
        {"hung up during the last phrase of a message without marker", "_SHT,_001",
         {"--sim-answer", "50", "--sim-hangup-after", "500", "--sim-realtime"}, "result 2 Положили трубку"},
        {"a phrase missing from the library", "_SHT,_XXX,____,_YYY", {"--sim-answer", "50"},
         "result 2147483648 Ошибка", false, ": no phrases \"_XXX\", \"_YYY\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ProgramResult r = call(c.phrases, c.options);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(lastLine(r.out), c.result) << r.out;
        EXPECT_EQ(hasLine(r.out, "dialed 1234"), c.dialled) << r.out;
        EXPECT_TRUE(!c.reason || (hasLine(r.out, "reason ", true) && r.out.find(c.reason) != std::string::npos))
            << r.out;
    }
    // A pulse-reversal answer is not ended by the line going back to normal polarity: both
    // phrases go down the line.
    configurePort([](Ports& ports) { ports.setAnswerType("SIM1", calls::AnswerType::PulseReversal); });
    const ProgramResult r = call("_001,_002", {"--sim-answer", "50", "--sim-pulse-reversal", "--sim-hangup-after",
                                               "600", "--sim-realtime"});
    EXPECT_EQ(lastLine(r.out), "result 0 Нормально") << r.out << r.err;
    EXPECT_TRUE(hasLine(r.out, "phrase _002")) << r.out;
}

TEST_F(PeltraLineCallTest, DialingIsRecognisedAsTheExchangeHearsIt)
{
    ProgramResult r = call("_SHT", {"--sim-answer", "50"}, "0123456789*#ABCD");
    EXPECT_TRUE(hasLine(r.out, "dialed 0123456789*#ABCD")) << r.out;
    EXPECT_EQ(lastLine(r.out), "result 0 Нормально");

    configurePort([](Ports& ports) {
        ports.setNeedPrefixTown("SIM1", true);
        ports.setPrefixTown("SIM1", "9");
        ports.setNeedPrefix("SIM1", true);
        ports.setPrefix("SIM1", "812");
    });
    r = call("_SHT", {"--sim-answer", "50"}, "1234567");
    EXPECT_TRUE(hasLine(r.out, "dialed 988121234567")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "display 9P8W8121234567")) << r.out;

    // Twelve breaks for "20": two for '2', ten for '0'.
    configurePort([](Ports& ports) {
        ports.setNeedPrefixTown("SIM1", false);
        ports.setNeedPrefix("SIM1", false);
        ports.setPulseDialing("SIM1", true);
    });
    r = call("_SHT", {"--sim-answer", "50"}, "20");
    EXPECT_TRUE(hasLine(r.out, "dialed 20")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "pulses 12 break ", true)) << r.out;
    EXPECT_EQ(lastLine(r.out), "result 0 Нормально");

    // Pauses longer than an exchange's usual few seconds, as a port may set them: the number
    // still ends only after its last digit, in either dialing mode.
    for (const bool pulse : {false, true}) {
        SCOPED_TRACE(pulse ? "pulse" : "tone");
        configurePort([pulse](Ports& ports) {
            ports.setNeedPrefixTown("SIM1", true);
            ports.setPrefixTown("SIM1", "1");
            ports.setDelayPMs("SIM1", 3500);
            ports.setPulseDialing("SIM1", pulse);
        });
        r = call("_SHT", {"--sim-answer", "50"}, "2");
        EXPECT_TRUE(hasLine(r.out, "dialed 12")) << r.out;
        EXPECT_EQ(lastLine(r.out), "result 0 Нормально");
    }
}

TEST_F(PeltraLineCallTest, TheCallIsRecordedAndAStreamFilePlayed)
{
    const auto callWav = work() / "call.wav";
    const ProgramResult called = call("_SHT", {"--sim-answer", "50", "--sim-record", callWav.string()});
    ASSERT_EQ(lastLine(called.out), "result 0 Нормально") << called.out << called.err;
    const std::string bytes = readFile(callWav);
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4) + bytes.substr(8, 4), "RIFFWAVE");

    // A second of a tone, as the line sends it.
    const std::optional<std::vector<std::uint8_t>> stream = line::modulateSpeech(tonePcm(1000, 500));
    ASSERT_TRUE(stream);
    writeFile(work() / "prob.fon", std::string(stream->begin(), stream->end()));
    const auto wav = work() / "play.wav";
    const ProgramResult r =
        run({"play", "--port", "SIM1", "--sim-record", wav.string(), (work() / "prob.fon").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(hasLine(r.out, "log Начало передачи")) << r.out;
    EXPECT_EQ(lastLine(r.out), "sent " + std::to_string(stream->size()) + " bytes, code 0");
    // The exchange heard it: the line was off-hook while the stream went down it.
    std::string error;
    const std::optional<platform::WavAudio> heard = platform::readWav(wav, error);
    ASSERT_TRUE(heard) << error << "\n" << r.out;
    ASSERT_EQ(heard->sampleRate, 8000u);
    EXPECT_NEAR(static_cast<double>(heard->samples.size()) / 8000.0, 1.0, 0.25);
    double energy = 0;
    for (const float sample : heard->samples)
        energy += static_cast<double>(sample) * sample;
    EXPECT_GT(std::sqrt(energy / std::max<std::size_t>(heard->samples.size(), 1)), 0.05) << "silence";
    EXPECT_TRUE(hasLine(fails({"play", "--port", "SIM1", (work() / "none.fon").string()}, 1, "none.fon: no such file").out,
                        "log Ошибка открытия"));
}

TEST_F(PeltraLineCallTest, ProbeAndBadRequests)
{
    const ProgramResult probe = run({"probe", "--sim", "2"});
    ASSERT_EQ(probe.code, 0) << probe.err;
    EXPECT_TRUE(hasLine(probe.out, "SIM1\tok") && hasLine(probe.out, "SIM2\tok")) << probe.out;
    EXPECT_FALSE(hasLine(run({"probe"}).out, "SIM1\tok"));
    const std::tuple<Args, int, const char*> cases[] = {
        {{"call", "1234"}, 2, "--port is required"},
        {{"call", "--port", "SIM1"}, 2, "call needs one NUMBER"},
        {{"call", "--port", "SIM1", "--sim-answer", "soon", "1"}, 2, "--sim-answer needs"},
        {{"call", "--port", "SIM1", "--phrases", "_001,,_002", "1"}, 2, "empty phrase code"},
        {{"call", "--port", "SIM0", "1"}, 2, "SIM1 to SIM256"},
        {{"call", "--port", "SIM257", "1"}, 2, "SIM1 to SIM256"},
        {{"call", "--port", "COM999", "1"}, 1, "cannot open port COM999"},
        {{"probe", "--sim", "257"}, 2, "--sim needs a number of lines up to 256"},
    };
    for (const auto& [args, code, says] : cases)
        fails(args, code, says);
}

// Over a SIP channel the console shows the exchange one line per message, and --record keeps what
// the far end sent back: here an echo of the whole message. The probe lists the trunk registered.
TEST_F(PeltraLineCallTest, SipCallShowsTheExchangeAndRecordsWhatCameBack)
{
    SippPeer far({"answer", {{"ring_ms", "100"}, {"codec_pt", "8"}, {"codec_name", "PCMA"}}, true, 1, {}, {}},
                 work("far"));
    SippPeer registrar({"register", {}, false, 0, {}, {}}, work("registrar"));
    ASSERT_TRUE(far.started() && registrar.started()) << far.error() << registrar.error();
    {
        std::filesystem::create_directories(home());
        platform::RegistryStore registry(config::registryFile(home()));
        config::ConfigStore store(registry);
        Ports(store).setDelayFirstMs("SIP1", 0);
        for (const auto& [trunk, peer] : {std::pair{"main", &far}, std::pair{"office", &registrar}}) {
            const std::string key = std::string("Sip\\") + trunk;
            store.writeText(key, "Proxy", "sip:127.0.0.1:" + std::to_string(peer->port()));
            store.writeText(key, "Domain", "127.0.0.1");
            store.writeText(key, "LocalAddress", "127.0.0.1");
            store.writeText(key, "Password", "hidden-Pw");
            store.writeNumber(key, "Register", peer == &registrar);
        }
    }
    const std::string out = ok({"call", "--port", "SIP1", "--library", m_library.string(), "--phrases", "_001,____,_SHT",
                                "--record", work("back.wav").string(), "7654321"});
    for (const char* wanted : {"sip → INVITE sip:7654321@127.0.0.1", "sip ← 180 Ringing", "sip ← 200 OK",
                               "sip → BYE sip:127.0.0.1:" , "result 0 Нормально"})
        EXPECT_TRUE(hasLine(out, wanted, true)) << wanted << "\n" << out;
    std::string error;
    const auto back = platform::readWav(work("back.wav"), error);
    ASSERT_TRUE(back) << error;
    // 1.1 s of message, in whole 20 ms frames.
    EXPECT_EQ(back->samples.size(), 8800u);
    EXPECT_EQ(back->sampleRate, 8000u);
    const std::string probe = ok({"probe"});
    EXPECT_TRUE(hasLine(probe, "trunk office\tsip:127.0.0.1:" + std::to_string(registrar.port()) + "\tregistered"))
        << probe;
    EXPECT_EQ((out + probe).find("hidden-Pw"), std::string::npos);
}

}  // namespace
}  // namespace peltra::test
