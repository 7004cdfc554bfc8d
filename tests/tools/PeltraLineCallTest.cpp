// peltra-line's test calls against the simulated exchange: every call result, tone and pulse
// dialing as the exchange recognises them, recording, the probe and sending a stream file.
#include "calls/PortSettings.h"
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "line/Modulator.h"
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "platform/registry/RegistryStore.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>

namespace peltra::test {
namespace {

// n samples of a tone, as library PCM.
std::vector<std::uint8_t> tonePcm(std::size_t samples)
{
    std::vector<std::uint8_t> pcm;
    for (std::size_t k = 0; k < samples; ++k) {
        const auto s = static_cast<std::int16_t>(6000 * std::sin(2 * M_PI * 500 * k / 8000.0));
        pcm.push_back(static_cast<std::uint8_t>(s & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    return pcm;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

bool hasLine(const std::string& text, const std::string& wanted)
{
    for (const std::string& line : lines(text)) {
        if (line == wanted)
            return true;
    }
    return false;
}

std::string lastLine(const std::string& text)
{
    const auto all = lines(text);
    return all.empty() ? std::string() : all.back();
}

class PeltraLineCallTest : public ::testing::Test {
protected:
    PeltraLineCallTest()
    {
        std::string error;
        EXPECT_TRUE(line::PhonogramLibrary::write(
            m_library, line::PhonogramLibrary::pcmFormat(),
            {{"_001", tonePcm(8000)}, {"_002", tonePcm(8000)}, {"_SHT", tonePcm(800)}}, &error))
            << error;
        // Short waits so a call takes well under a second beyond its speech.
        configurePort([](calls::PortSettings& ports) {
            ports.setDelayFirstMs("SIM1", 20);
            ports.setRingOffMs("SIM1", 20);
            ports.setWaitAnswerS("SIM1", 1);
            ports.setPulseDialing("SIM1", false);
            ports.setDelayPMs("SIM1", 50);
            ports.setDelayWMs("SIM1", 50);
        });
    }

    void configurePort(const std::function<void(calls::PortSettings&)>& change)
    {
        std::filesystem::create_directories(m_home.path());
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        calls::PortSettings ports(store);
        change(ports);
    }

    ProgramResult run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--home", m_home.path().string()});
        return runProgram(PELTRA_LINE_PATH, args, m_work.path());
    }

    ProgramResult call(const std::string& phrases, const std::vector<std::string>& extra,
                       const std::string& number = "1234")
    {
        std::vector<std::string> args = {"call", "--port", "SIM1", "--library", m_library.string(),
                                          "--phrases", phrases};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(number);
        return run(args);
    }

    TempDir m_home;
    TempDir m_work;
    std::filesystem::path m_library = m_work / "peltra.awf";
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
         {"--sim-answer", "50", "--sim-hangup-after", "400", "--sim-realtime"},
         "result 2 Положили трубку"},
        {"hung up after the marker", "_SHT,____,_001",
         {"--sim-answer", "50", "--sim-hangup-after", "500", "--sim-realtime"},
         "result 0 Нормально"},
        // Without a marker the whole message must have been sent.
        {"hung up during the last phrase of a message without marker", "_SHT,_001",
         {"--sim-answer", "50", "--sim-hangup-after", "500", "--sim-realtime"},
         "result 2 Положили трубку"},
        {"a phrase missing from the library", "_SHT,_XXX,____,_YYY", {"--sim-answer", "50"},
         "result 2147483648 Ошибка", false,
         ": no phrases \"_XXX\", \"_YYY\""},
    };
    for (const auto& c : cases) {
        const ProgramResult r = call(c.phrases, c.options);
        EXPECT_EQ(r.code, 0) << c.name << "\n" << r.err;
        EXPECT_EQ(lastLine(r.out), c.result) << c.name << "\n" << r.out;
        EXPECT_EQ(hasLine(r.out, "dialed 1234"), c.dialled) << c.name << "\n" << r.out;
        if (c.reason) {
            const auto all = lines(r.out);
            EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const std::string& line) {
                return line.rfind("reason ", 0) == 0 && line.find(c.reason) != std::string::npos;
            })) << c.name << "\n" << r.out;
        }
    }
}

TEST_F(PeltraLineCallTest, APulseReversalAnswerIsNotEndedByNormalPolarity)
{
    configurePort([](calls::PortSettings& ports) {
        ports.setAnswerType("SIM1", calls::AnswerType::PulseReversal);
    });
    const ProgramResult r = call("_001,_002", {"--sim-answer", "50", "--sim-pulse-reversal",
                                               "--sim-hangup-after", "600", "--sim-realtime"});
    EXPECT_EQ(lastLine(r.out), "result 0 Нормально") << r.out << r.err;
    // Both phrases went down the line: 2 s of speech, 23,040 bytes.
    EXPECT_TRUE(hasLine(r.out, "phrase _002")) << r.out;
}

TEST_F(PeltraLineCallTest, ToneDialingIsRecognisedDigitForDigitWithPrefixes)
{
    const ProgramResult plain = call("_SHT", {"--sim-answer", "50"}, "0123456789*#ABCD");
    EXPECT_TRUE(hasLine(plain.out, "dialed 0123456789*#ABCD")) << plain.out;
    EXPECT_EQ(lastLine(plain.out), "result 0 Нормально");

    configurePort([](calls::PortSettings& ports) {
        ports.setNeedPrefixTown("SIM1", true);
        ports.setPrefixTown("SIM1", "9");
        ports.setNeedPrefix("SIM1", true);
        ports.setPrefix("SIM1", "812");
    });
    const ProgramResult prefixed = call("_SHT", {"--sim-answer", "50"}, "1234567");
    EXPECT_TRUE(hasLine(prefixed.out, "dialed 988121234567")) << prefixed.out;
    EXPECT_TRUE(hasLine(prefixed.out, "display 9P8W8121234567")) << prefixed.out;
}

TEST_F(PeltraLineCallTest, PulseDialingSendsTheDigitsWithTheirTiming)
{
    configurePort([](calls::PortSettings& ports) { ports.setPulseDialing("SIM1", true); });
    const ProgramResult r = call("_SHT", {"--sim-answer", "50"}, "20");
    EXPECT_TRUE(hasLine(r.out, "dialed 20")) << r.out;
    EXPECT_EQ(lastLine(r.out), "result 0 Нормально");
    // Twelve breaks: two for '2', ten for '0'.
    bool pulses = false;
    for (const std::string& line : lines(r.out))
        pulses = pulses || line.starts_with("pulses 12 break ");
    EXPECT_TRUE(pulses) << r.out;
}

TEST_F(PeltraLineCallTest, TheExchangeWaitsOutTheDialStringsOwnPauses)
{
    // Pauses longer than an exchange's usual few seconds, as a port may set them: the number
    // still ends only after its last digit, in either dialing mode.
    configurePort([](calls::PortSettings& ports) {
        ports.setNeedPrefixTown("SIM1", true);
        ports.setPrefixTown("SIM1", "1");
        ports.setDelayPMs("SIM1", 3500);
    });
    for (const bool pulse : {false, true}) {
        SCOPED_TRACE(pulse ? "pulse" : "tone");
        configurePort([pulse](calls::PortSettings& ports) { ports.setPulseDialing("SIM1", pulse); });
        const ProgramResult r = call("_SHT", {"--sim-answer", "50"}, "2");
        EXPECT_TRUE(hasLine(r.out, "dialed 12")) << r.out;
        EXPECT_EQ(lastLine(r.out), "result 0 Нормально");
    }
}

TEST_F(PeltraLineCallTest, TheCallIsRecordedForListening)
{
    const auto wav = m_work / "call.wav";
    const ProgramResult r = call("_SHT", {"--sim-answer", "50", "--sim-record", wav.string()});
    ASSERT_EQ(lastLine(r.out), "result 0 Нормально") << r.out << r.err;
    const std::string bytes = readFile(wav);
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 4), "WAVE");
}

TEST_F(PeltraLineCallTest, ProbeListsSimulatedLinesWhenAsked)
{
    const ProgramResult r = run({"probe", "--sim", "2"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(hasLine(r.out, "SIM1\tok"));
    EXPECT_TRUE(hasLine(r.out, "SIM2\tok"));
    EXPECT_FALSE(hasLine(run({"probe"}).out, "SIM1\tok"));
}

TEST_F(PeltraLineCallTest, PlaySendsAStreamFileOnTheTakenLine)
{
    // A second of a 500 Hz tone, as the line sends it.
    const std::optional<std::vector<std::uint8_t>> stream = line::modulateSpeech(tonePcm(8000));
    ASSERT_TRUE(stream);
    writeFile(m_work / "prob.fon", std::string(stream->begin(), stream->end()));
    const auto wav = m_work / "play.wav";
    const ProgramResult r =
        run({"play", "--port", "SIM1", "--sim-record", wav.string(), (m_work / "prob.fon").string()});
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

    const ProgramResult missing = run({"play", "--port", "SIM1", (m_work / "none.fon").string()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(hasLine(missing.out, "log Ошибка открытия")) << missing.out;
}

TEST_F(PeltraLineCallTest, BadRequestsAreRefused)
{
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {
        {{"call", "1234"}, 2, "--port is required"},
        {{"call", "--port", "SIM1"}, 2, "call needs one NUMBER"},
        {{"call", "--port", "SIM1", "--sim-line", "wet", "1"}, 2, "--sim-line needs ok, dead or reversed"},
        {{"call", "--port", "SIM1", "--sim-answer", "soon", "1"}, 2, "--sim-answer needs"},
        {{"call", "--port", "SIM1", "--phrases", "_001,,_002", "1"}, 2, "empty phrase code"},
        {{"call", "--port", "SIM0", "1"}, 2, "SIM1 to SIM256"},
        {{"call", "--port", "COM999", "1"}, 1, "cannot open port COM999"},
        {{"play", "--port", "SIM1", "--phrases", "_001", "x.fon"}, 2, "unknown option --phrases"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.says << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace peltra::test
