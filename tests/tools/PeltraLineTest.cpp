// peltra-line run as the technician runs it: stream files from PCM and from dial strings.
#include "line/Modulator.h"
#include "line/TonePcm.h"
#include "support/ToolsFixture.h"

#include <gtest/gtest.h>

namespace peltra::test {
namespace {

class PeltraLineTest : public ToolsFixture {
protected:
    PeltraLineTest() : ToolsFixture(PELTRA_LINE_PATH) { m_lead.clear(); }
    std::string path(const char* name) const { return work(name).string(); }
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

    ok({"modulate", path("Prob.wav"), path("Prez.fon")});
    const auto expected = line::modulateSpeech(
        std::span(reinterpret_cast<const std::uint8_t*>(pcm.data()), pcm.size()));
    ASSERT_TRUE(expected);
    EXPECT_EQ(readFile(path("Prez.fon")), asString(*expected));
    EXPECT_EQ(expected->size(), pcm.size() / 50 * 36);
}

TEST_F(PeltraLineTest, TonesWritesWhatToneDialingSends)
{
    ok({"tones", "--pause-p", "1000", "1P2", path("tones.fon")});
    EXPECT_EQ(readFile(path("tones.fon")).size(), 14724u);

    line::DialSettings settings;
    settings.delayWMs = 250;
    ok({"tones", "--pause-w", "250", "8W*#A", path("w.fon")});
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
        {{"modulate", path("."), path("out.fon")}, 1, ": is a folder, not a file"},
        {{"modulate", path("one-argument")}, 2, "modulate needs IN and OUT"},
        {{"tones", "--pause-p", "x", "1", path("out.fon")}, 2, "whole number of ms"},
        {{"tones", "--pause-w", "4000000000", "W", path("out.fon")}, 1, "more sound than a line may send"},
        {{"tones", "--loud", "1", path("out.fon")}, 2, "unknown option --loud"},
        {{"ring"}, 2, "unknown command ring"},
        {{}, 2, "usage"},
    };
    for (const auto& c : cases)
        fails(c.args, c.code, c.message);
    EXPECT_FALSE(std::filesystem::exists(path("out.fon")));
}

}  // namespace
}  // namespace peltra::test
