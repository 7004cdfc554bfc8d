// peltra-lexicon run as the operator runs it: install the catalogue, synthesise a library with
// espeak-ng, list, check, replace and take out phrases.
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "speech/Catalogue.h"
#include "speech/Vocabulary.h"
#include "support/LineRiff.h"
#include "support/StationSetup.h"
#include "support/TempDir.h"
#include "support/ToolsFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;
using line::PhonogramLibrary;

// A 16-bit PCM WAV file of any rate and channel count.
std::string wavBytes(std::uint32_t rate, std::uint16_t channels, const std::vector<std::int16_t>& interleaved)
{
    std::string data;
    for (std::int16_t s : interleaved)
        data += le16(static_cast<std::uint16_t>(s));
    const std::uint16_t align = 2 * channels;
    return riff(chunk("fmt ", le16(1) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(16)) +
                chunk("data", data));
}

// The codes "list" prints (path, code, text and "missing" when the library lacks it), each with
// whether it is missing.
std::vector<std::pair<std::string, bool>> parseList(const std::string& out)
{
    std::vector<std::pair<std::string, bool>> codes;
    std::istringstream in(out);
    for (std::string path, code, rest; std::getline(in, path, '\t') && std::getline(in, code, '\t') &&
                                       std::getline(in, rest);)
        codes.emplace_back(code, rest.ends_with("\tmissing"));
    return codes;
}

class PeltraLexiconTest : public ToolsFixture {
protected:
    PeltraLexiconTest() : ToolsFixture(PELTRA_LEXICON_PATH) { fs::create_directories(home()); }

    fs::path library() const { return home() / "peltra.awf"; }

    void writeLibrary(const fs::path& path, const std::vector<PhonogramLibrary::Phrase>& phrases)
    {
        std::string error;
        ASSERT_TRUE(PhonogramLibrary::write(path, PhonogramLibrary::pcmFormat(), phrases, &error)) << error;
    }
};

TEST_F(PeltraLexiconTest, InstallListBuildAndCheckGiveASpeakingLibrary)
{
    ProgramResult r = run({"install-catalogue"});
    ASSERT_EQ(r.code, 0) << r.err;
    int added = 0, replaced = -1, kept = -1;
    ASSERT_EQ(std::sscanf(r.err.c_str(), "peltra-lexicon: %d added, %d replaced, %d kept", &added, &replaced, &kept), 3)
        << r.err;
    EXPECT_GT(added, 0);
    EXPECT_EQ(replaced + kept, 0);
    r = run({"install-catalogue"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "peltra-lexicon: 0 added, 0 replaced, " + std::to_string(added) + " kept\n");

    // No library yet: every code is missing, each once.
    std::set<std::string> codes;
    for (const auto& [code, missing] : parseList(run({"list"}).out)) {
        EXPECT_TRUE(missing && speech::isPhraseCode(code)) << code;
        EXPECT_TRUE(codes.insert(code).second) << code << " listed twice";
    }
    EXPECT_EQ(codes.count("___А") + codes.count("+RR "), 2u);
    // A damaged library is refused, not taken as empty; so are an empty option and a folder as a recording.
    writeFile(work() / "damaged.awf", "RIFF1234WAVEjunk");
    fails({"list", "--library", (work() / "damaged.awf").string()}, 1, "damaged.awf");
    fails({"build", "--out", ""}, 2, "--out needs a value");
    fails({"set", "_000", work().string()}, 1, "is a folder, not a file");

    // Without espeak-ng nothing is built, and the package is named.
    TempDir emptyBin;
    r = run({"build"}, "", {{"PATH", emptyBin.path().string()}});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("install the Debian package espeak-ng"), std::string::npos) << r.err;
    for (const auto& entry : fs::directory_iterator(home()))
        EXPECT_NE(entry.path().extension(), ".awf") << entry.path();

    r = run({"build"});  // espeak-ng, for real
    ASSERT_EQ(r.code, 0) << r.err;
    std::size_t phrases = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str(), (library().string() + ": %zu phrases").c_str(), &phrases), 1) << r.out;
    EXPECT_NE(r.err.find("phrase 1 of " + std::to_string(phrases) + ": "), std::string::npos) << r.err;
    std::string error;
    auto built = PhonogramLibrary::open(library(), &error);
    ASSERT_TRUE(built) << error;
    EXPECT_EQ(built->format(), PhonogramLibrary::pcmFormat());
    EXPECT_EQ(built->chunks().size(), phrases);
    for (const speech::VocabularyWord& word : speech::converterVocabulary()) {
        PhonogramLibrary::Bytes pcm;
        ASSERT_EQ(built->readPhrase(word.code, pcm, &error), PhonogramLibrary::ReadStatus::Ok) << error;
        EXPECT_GE(pcm.size(), 800u) << word.code << " lasts under 50 ms";
        EXPECT_LE(pcm.size(), 16000u * 4) << word.code << " lasts over 4 s";
    }
    // The pause, and "NULL" (what a dictionary speaks for a word it lacks): silence.
    for (const auto& [code, bytes] : {std::pair{"__PS", 4000u}, std::pair{"NULL", 320u}}) {
        PhonogramLibrary::Bytes pcm;
        ASSERT_EQ(built->readPhrase(code, pcm), PhonogramLibrary::ReadStatus::Ok);
        EXPECT_EQ(pcm, PhonogramLibrary::Bytes(bytes, 0)) << code;
    }
    EXPECT_FALSE(built->contains("____"));
    EXPECT_FALSE(built->contains("@009"));

    r = run({"check"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("all "), std::string::npos) << r.err;
    for (const auto& [code, missing] : parseList(run({"list"}).out))
        EXPECT_FALSE(missing) << code;

    // A phrase taken out is the chunk as an 8 kHz WAV file.
    PhonogramLibrary::Bytes five;
    ASSERT_EQ(built->readPhrase("_005", five), PhonogramLibrary::ReadStatus::Ok);
    r = run({"extract", "_005", (work() / "five.wav").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(work() / "five.wav").substr(44), std::string(five.begin(), five.end()));
}

TEST_F(PeltraLexiconTest, SetConvertsARecordingAndExtractGivesItBack)
{
    const fs::path lib = work() / "lib.awf";
    const PhonogramLibrary::Bytes zero = tonePcm(50);
    writeLibrary(lib, {{"_000", zero}});
    // A stereo recording at 44.1 kHz: a 1 kHz tone at 0.6 on the left and 0.2 on the right.
    std::vector<std::int16_t> frames;
    for (std::size_t i = 0; i < 22050; ++i) {
        const double s = std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 44100);
        frames.push_back(static_cast<std::int16_t>(std::lround(0.6 * 32767 * s)));
        frames.push_back(static_cast<std::int16_t>(std::lround(0.2 * 32767 * s)));
    }
    writeFile(work() / "rec.wav", wavBytes(44100, 2, frames));

    ProgramResult r = run({"set", "ДОЛГ", (work() / "rec.wav").string(), "--library", lib.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("\"ДОЛГ\" added in " + lib.string()), std::string::npos) << r.err;
    std::string error;
    {
        auto library = PhonogramLibrary::open(lib, &error);
        ASSERT_TRUE(library) << error;
        ASSERT_EQ(library->chunks().size(), 2u);
        PhonogramLibrary::Bytes pcm;
        ASSERT_EQ(library->readPhrase("_000", pcm), PhonogramLibrary::ReadStatus::Ok);
        EXPECT_EQ(pcm, zero) << "the other phrases are kept as they were";
        ASSERT_EQ(library->readPhrase("ДОЛГ", pcm), PhonogramLibrary::ReadStatus::Ok);
        EXPECT_EQ(pcm.size(), 2u * 4000u) << "0.5 s at 8 kHz, untrimmed";
    }
    r = run({"extract", "ДОЛГ", (work() / "out.wav").string(), "--library", lib.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto audio = platform::readWav(work() / "out.wav", error);
    ASSERT_TRUE(audio) << error;
    EXPECT_EQ(audio->sampleRate, 8000u);
    EXPECT_EQ(audio->channels, 1);
    EXPECT_EQ(audio->bitsPerSample, 16);
    ASSERT_EQ(audio->samples.size(), 4000u);
    // The mix of 0.6 and 0.2 is a 0.4 tone; away from the ends it keeps its level and frequency.
    double sum = 0;
    std::size_t crossings = 0;
    for (std::size_t i = 400; i < 3600; ++i) {
        sum += audio->samples[i] * audio->samples[i];
        crossings += (audio->samples[i - 1] < 0) != (audio->samples[i] < 0);
    }
    EXPECT_NEAR(std::sqrt(sum / 3200), 0.4 / std::sqrt(2.0), 0.4 * 0.03);
    EXPECT_NEAR(static_cast<double>(crossings), 800, 3);

    // Without a library, set makes one in the station folder.
    writeFile(work() / "short.wav", wavBytes(16000, 1, std::vector<std::int16_t>(1600, 1000)));
    r = run({"set", "+RR ", (work() / "short.wav").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    auto fresh = PhonogramLibrary::open(library(), &error);
    ASSERT_TRUE(fresh) << error;
    EXPECT_TRUE(fresh->contains("+RR "));
}

}  // namespace
}  // namespace peltra::test
