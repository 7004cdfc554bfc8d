// WAV files: every PCM layout read and mixed to mono, damaged and compressed files refused, and
// what the writer writes read back.
#include "platform/audio/WavFile.h"

#include "support/LineRiff.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace peltra::platform {
namespace {

using test::chunk;
using test::le16;
using test::le32;
using test::riff;

std::string le24(std::int32_t v)
{
    return le32(static_cast<std::uint32_t>(v)).substr(0, 3);
}

std::string floatBytes(float f)
{
    std::uint32_t word = 0;
    std::memcpy(&word, &f, sizeof word);
    return le32(word);
}

// The 16 bytes of a plain format chunk.
std::string fmtBody(std::uint16_t format, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits)
{
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    return le16(format) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}

// The 40 bytes of an extensible format chunk whose sub-format GUID starts with subFormat.
std::string extensibleBody(std::uint16_t subFormat, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits)
{
    static const char kGuidTail[] = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";
    return fmtBody(0xFFFE, channels, rate, bits) + le16(22) + le16(bits) + le32(3) + le16(subFormat) +
           std::string(kGuidTail, 14);
}

std::string simpleWav(const std::string& fmt, const std::string& data)
{
    return riff(chunk("fmt ", fmt) + chunk("data", data));
}

// Every frame is mixed down to one sample scaled to plus or minus one.
TEST(WavFileTest, EveryPcmLayoutIsScaledAndMixedToMonoPastOddChunks)
{
    std::string surround;  // six channels of 24 bits, one frame
    for (const std::int32_t v : {4194304, 4194304, 4194304, -4194304, 0, 0})
        surround += le24(v);
    const struct {
        const char* name;
        std::string fmt;   // empty: data is the whole file
        std::string data;
        std::vector<float> samples;
    } cases[] = {
        {"8-bit unsigned", fmtBody(1, 1, 11025, 8), std::string("\x00\x80\xFF\xC0", 4),
         {-1.0f, 0.0f, 127.0f / 128.0f, 0.5f}},
        {"16-bit", fmtBody(1, 1, 8000, 16), le16(0x8000) + le16(0) + le16(16384) + le16(0xFFFF) + le16(32767),
         {-1.0f, 0.0f, 0.5f, -1.0f / 32768.0f, 32767.0f / 32768.0f}},
        {"24-bit", fmtBody(1, 1, 48000, 24), le24(-8388608) + le24(4194304) + le24(-1) + le24(8388607),
         {-1.0f, 0.5f, -1.0f / 8388608.0f, 8388607.0f / 8388608.0f}},
        {"32-bit integer", fmtBody(1, 1, 44100, 32),
         le32(0x80000000u) + le32(0x40000000u) + le32(0xC0000000u) + le32(0), {-1.0f, 0.5f, -0.5f, 0.0f}},
        {"32-bit float", fmtBody(3, 1, 22050, 32), floatBytes(0.25f) + floatBytes(-0.75f) + floatBytes(1.0f),
         {0.25f, -0.75f, 1.0f}},
        {"extensible 24-bit PCM", extensibleBody(1, 1, 96000, 24), le24(4194304) + le24(-4194304), {0.5f, -0.5f}},
        {"extensible float", extensibleBody(3, 1, 48000, 32), floatBytes(-0.125f), {-0.125f}},
        // Left 0.5 and right -0.25, then both 0.5.
        {"stereo 16-bit", fmtBody(1, 2, 44100, 16), le16(16384) + le16(0xE000) + le16(16384) + le16(16384),
         {0.125f, 0.5f}},
        {"extensible six channels", extensibleBody(1, 6, 48000, 24), surround, {1.0f / 6.0f}},
        {"stereo 8-bit", fmtBody(1, 2, 8000, 8), std::string("\xC0\x40", 2), {0.0f}},
        // Odd chunks before the sound, each followed by a pad byte that is not a chunk.
        {"odd chunks", "", riff(chunk("LIST", "abc") + chunk("fmt ", fmtBody(1, 1, 8000, 16)) + chunk("junk", "z") +
                                chunk("data", le16(16384) + le16(0x8000))), {0.5f, -1.0f}},
        // A format chunk longer than 16 bytes (cbSize and extra bytes) is stepped over whole.
        {"long format", "", riff(chunk("fmt ", fmtBody(1, 1, 8000, 16) + le16(3) + "xyz") + chunk("data", le16(16384))),
         {0.5f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const auto audio = parseWav(c.fmt.empty() ? c.data : simpleWav(c.fmt, c.data), "x.wav", error);
        ASSERT_TRUE(audio) << error;
        ASSERT_EQ(audio->samples.size(), c.samples.size());
        for (std::size_t i = 0; i < c.samples.size(); ++i)
            EXPECT_NEAR(audio->samples[i], c.samples[i], 1e-6) << "sample " << i;
    }
}

TEST(WavFileTest, DamagedAndCompressedFilesAreRefusedWithTheReason)
{
    const std::string pcm = fmtBody(1, 1, 8000, 16);
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } cases[] = {
        {"empty", "", "not a WAV file"},
        {"not RIFF", "RIFX" + le32(4) + "WAVE" + chunk("fmt ", pcm) + chunk("data", le16(1)), "not a WAV file"},
        {"not WAVE", "RIFF" + le32(4) + "AVI " + chunk("fmt ", pcm), "not a WAV file"},
        {"MP3 (0x0055)", simpleWav(fmtBody(0x0055, 1, 8000, 16), le16(1)), "is not PCM (format 85)"},
        {"extensible ADPCM", simpleWav(extensibleBody(0x0002, 1, 8000, 16), le16(1)), "is not PCM (format 2)"},
        {"64-bit float", simpleWav(fmtBody(3, 1, 8000, 64), std::string(8, '\0')), "is not PCM"},
        {"12-bit", simpleWav(fmtBody(1, 1, 8000, 12), le16(1)), "12 bits is not supported"},
        {"no data chunk", riff(chunk("fmt ", pcm) + chunk("LIST", "info")), "no data chunk"},
        {"no format chunk", riff(chunk("data", le16(1))), "before its format chunk"},
        {"nothing after the header", riff(""), "no format chunk"},
        {"truncated fmt", riff("fmt " + le32(16) + pcm.substr(0, 10)), "format chunk is damaged"},
        {"fmt of 14 bytes", riff(chunk("fmt ", pcm.substr(0, 14)) + chunk("data", le16(1))), "format chunk is damaged"},
        {"short extensible fmt", simpleWav(fmtBody(0xFFFE, 1, 8000, 16) + le16(0), le16(1)),
         "extensible format chunk is damaged"},
        {"no channels", simpleWav(fmtBody(1, 0, 8000, 16), le16(1)), "inconsistent"},
        {"block align wrong", simpleWav(pcm.substr(0, 12) + le16(4) + le16(16), le16(1)), "inconsistent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(parseWav(c.bytes, "in/bad.wav", error));
        EXPECT_EQ(error.rfind("in/bad.wav: ", 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(WavFileTest, WrittenFileIsCanonicalAndReadsBack)
{
    test::TempDir dir;
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 5000; ++i)
        samples.push_back(static_cast<std::int16_t>(std::lround(32767.0 * std::sin(i * 0.3))));
    samples.push_back(-32768);
    samples.push_back(32767);
    std::string error;
    ASSERT_TRUE(writeWav(dir / "out.wav", samples, error)) << error;

    const std::string bytes = test::readFile(dir / "out.wav");
    ASSERT_EQ(bytes.size(), kWavHeaderBytes + 2 * samples.size());
    EXPECT_EQ(bytes.substr(0, 44), "RIFF" + le32(static_cast<std::uint32_t>(36 + 2 * samples.size())) + "WAVE" +
                                       "fmt " + le32(16) + fmtBody(1, 1, 8000, 16) + "data" +
                                       le32(static_cast<std::uint32_t>(2 * samples.size())));

    const auto audio = readWav(dir / "out.wav", error);
    ASSERT_TRUE(audio) << error;
    EXPECT_EQ(audio->sampleRate, kWavSampleRate);
    ASSERT_EQ(audio->samples.size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(std::lround(audio->samples[i] * 32768.0f), samples[i]) << "sample " << i;

    // Empty audio is a valid file with an empty data chunk.
    ASSERT_TRUE(writeWav(dir / "empty.wav", {}, error)) << error;
    EXPECT_TRUE(readWav(dir / "empty.wav", error).value_or(WavAudio{.samples = {1.0f}}).samples.empty()) << error;
}

}  // namespace
}  // namespace peltra::platform
