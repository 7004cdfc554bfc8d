// peltra-line run as the technician runs it: stream files from PCM and from dial strings.
#include "line/Modulator.h"
#include "line/TonePcm.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace peltra::test {
namespace {

class PeltraLineTest : public ::testing::Test {
protected:
    ProgramResult run(const std::vector<std::string>& args)
    {
        return runProgram(PELTRA_LINE_PATH, args, m_dir.path());
    }
    std::string path(const char* name) const { return (m_dir / name).string(); }

    TempDir m_dir;
};

std::string asString(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(PeltraLineTest, ModulateTakesTheWholeFileAsSamples)
{
    // A WAV header is not skipped: the console converts raw files whole, header bytes included.
    std::string pcm = std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16);
    for (int i = 0; i < 4000; ++i)
        pcm += static_cast<char>((i * 37) & 0xFF);
    pcm += "tail";  // a partial block at the end is dropped
    writeFile(path("Prob.wav"), pcm);

    const ProgramResult r = run({"modulate", path("Prob.wav"), path("Prez.fon")});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto expected = line::modulateSpeech(
        std::span(reinterpret_cast<const std::uint8_t*>(pcm.data()), pcm.size()));
    ASSERT_TRUE(expected);
    EXPECT_EQ(readFile(path("Prez.fon")), asString(*expected));
    EXPECT_EQ(expected->size(), pcm.size() / 50 * 36);
}

TEST_F(PeltraLineTest, TonesWritesWhatToneDialingSends)
{
    const ProgramResult r = run({"tones", "--pause-p", "1000", "1P2", path("tones.fon")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(path("tones.fon")).size(), 14724u);

    line::DialSettings settings;
    settings.delayWMs = 250;
    ASSERT_EQ(run({"tones", "--pause-w", "250", "8W*#A", path("w.fon")}).code, 0);
    EXPECT_EQ(readFile(path("w.fon")), asString(*line::buildToneStream("8W*#A", settings)));
}

TEST_F(PeltraLineTest, BadInputIsRefusedAndWritesNothing)
{
    const struct {
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {{"modulate", path("missing.raw"), path("out.fon")}, 1, "missing.raw: no such file"},
        {{"modulate", path("one-argument")}, 2, "modulate needs IN and OUT"},
        {{"tones", "--pause-p", "x", "1", path("out.fon")}, 2, "whole number of ms"},
        {{"tones", "--pause-w", "4000000000", "W", path("out.fon")}, 1, "more sound than a line may send"},
        {{"tones", "--loud", "1", path("out.fon")}, 2, "unknown option --loud"},
        {{"ring"}, 2, "unknown command ring"},
        {{}, 2, "usage"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const ProgramResult r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(path("out.fon")));
}

}  // namespace
}  // namespace peltra::test
