// Phonogram library: reading phrases by code, refusing damaged files, and writing libraries.
#include "line/PhonogramLibrary.h"

#include "support/LineRiff.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace peltra::line {
namespace {

using Bytes = PhonogramLibrary::Bytes;
using ReadStatus = PhonogramLibrary::ReadStatus;
using test::chunk;
using test::le32;
using test::riff;

std::string fmtChunk()
{
    const Bytes format = PhonogramLibrary::pcmFormat();
    return chunk("fmt ", std::string(format.begin(), format.end()));
}

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// PCM that differs from byte to byte, so a shifted or cut read shows.
Bytes pattern(std::size_t size, std::uint32_t seed)
{
    Bytes out(size);
    std::uint32_t state = seed;
    for (auto& byte : out) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return out;
}

std::string cp1251(const char* utf8)
{
    const auto id = PhonogramLibrary::idOf(utf8);
    return id ? std::string(id->begin(), id->end()) : std::string();
}

class PhonogramLibraryTest : public ::testing::Test {
protected:
    std::filesystem::path save(const std::string& bytes, const char* name = "peltra.awf")
    {
        const auto path = m_dir / name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }

    std::string prefix(const std::filesystem::path& path)
    {
        return "Phonogram library \"" + path.string() + "\": ";
    }

    test::TempDir m_dir;
};

TEST_F(PhonogramLibraryTest, BuildLaysOutChunksWithPadBytes)
{
    const Bytes format{1, 2, 3};  // odd, so it is padded too
    const std::vector<PhonogramLibrary::Phrase> phrases{
        {"_000", bytesOf("ab")},
        {"+T01", bytesOf("xyz")},
        {"+ДН1", {}},
    };
    const auto built = PhonogramLibrary::build(format, phrases);
    ASSERT_TRUE(built);
    const std::string expected = "RIFF" + le32(4 + 12 + 10 + 12 + 8) + "WAVE"
        + "fmt " + le32(3) + std::string("\1\2\3\0", 4)
        + "_000" + le32(2) + "ab"
        + "+T01" + le32(3) + std::string("xyz\0", 4)
        + "+\xC4\xCD" "1" + le32(0);
    EXPECT_EQ(*built, expected);
}

TEST_F(PhonogramLibraryTest, WrittenLibraryReadsBackEveryPhrase)
{
    const std::vector<PhonogramLibrary::Phrase> phrases{
        {"_000", pattern(100, 1)},
        {"+T01", pattern(51, 2)},  // odd: followed by a pad byte
        {"+ДН1", pattern(250, 4)},  // Cyrillic code, cp1251 in the file
        {"_001", {}},  // a phrase with no sound
        {"Ёж€9", pattern(7, 5)},
    };
    const auto path = m_dir / "peltra.awf";
    std::string error;
    ASSERT_TRUE(PhonogramLibrary::write(path, PhonogramLibrary::pcmFormat(), phrases, &error)) << error;
    EXPECT_EQ(test::readFile(path), PhonogramLibrary::build(PhonogramLibrary::pcmFormat(), phrases));

    auto library = PhonogramLibrary::open(path, &error);
    ASSERT_TRUE(library) << error;
    EXPECT_EQ(library->format(), PhonogramLibrary::pcmFormat());
    ASSERT_EQ(library->chunks().size(), phrases.size());
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        SCOPED_TRACE(phrases[i].code);
        const auto& listed = library->chunks()[i];
        EXPECT_EQ(PhonogramLibrary::codeOf(listed.id), phrases[i].code);
        EXPECT_EQ(listed.size, phrases[i].pcm.size());
        EXPECT_TRUE(library->contains(phrases[i].code));
        Bytes pcm{9, 9};
        EXPECT_EQ(library->readPhrase(phrases[i].code, pcm, &error), ReadStatus::Ok) << error;
        EXPECT_EQ(pcm, phrases[i].pcm);
    }
    // Offsets follow from the padded sizes: header 12, "fmt " 8 + 16.
    EXPECT_EQ(library->chunks()[0].offset, 12u + 24u + 8u);
    EXPECT_EQ(library->chunks()[2].offset, 152u + 52u + 8u);

    // Codes are compared exactly, in cp1251.
    const std::pair<const char*, const char*> absent[] = {
        {"+t01", "no phrase \"+t01\""},  // no case folding
        {"+дн1", "no phrase \"+дн1\""},  // nor for Cyrillic letters
        {"+RR", "no phrase \"+RR\": a phrase code is four characters in cp1251"},
        {"✓abc", "no phrase \"✓abc\": a phrase code is four characters in cp1251"},
        {"\xFF" "abc", "no phrase \"\\xFFabc\": a phrase code is four characters in cp1251"},
    };
    for (const auto& [code, message] : absent) {
        EXPECT_FALSE(library->contains(code)) << code;
        Bytes pcm{1};
        EXPECT_EQ(library->readPhrase(code, pcm, &error), ReadStatus::NotFound) << code;
        EXPECT_TRUE(pcm.empty()) << code;
        EXPECT_EQ(error, prefix(path) + message);
    }
}

TEST_F(PhonogramLibraryTest, StructuresOtherToolsWrite)
{
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::string> ids;  // phrase chunks in order
        std::string firstData;  // what the first listed id reads as
    } cases[] = {
        {"chunks before \"fmt \" are not phrases",
         riff(chunk("_000", "LIST") + chunk("junk", "x") + fmtChunk() + chunk("_001", "one")), {"_001"}, "one"},
        {"duplicate code: the first one wins",
         riff(fmtChunk() + chunk("_000", "first") + chunk("_000", "second!")), {"_000", "_000"}, "first"},
        {"no pad byte after the last odd chunk",
         riff(fmtChunk() + chunk("_000", "abc", false)), {"_000"}, "abc"},
        {"odd RIFF size with its pad byte after the RIFF chunk",
         riff(fmtChunk() + chunk("_000", "abc", false)) + std::string(1, '\0'), {"_000"}, "abc"},
        {"a RIFF size short of the file leaves the rest outside",
         riff(fmtChunk() + chunk("_000", "ab"), 4 + 24), {}, ""},
        {"a second \"fmt \" is an ordinary phrase code",
         riff(fmtChunk() + chunk("fmt ", "again")), {"fmt "}, "again"},
        {"Cyrillic identifier", riff(fmtChunk() + chunk(cp1251("ЯЮЭЪ"), "ya")), {cp1251("ЯЮЭЪ")}, "ya"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        auto library = PhonogramLibrary::open(save(c.bytes), &error);
        ASSERT_TRUE(library) << error;
        std::vector<std::string> ids;
        for (const auto& listed : library->chunks())
            ids.emplace_back(listed.id.begin(), listed.id.end());
        EXPECT_EQ(ids, c.ids);
        if (!ids.empty()) {
            Bytes pcm;
            const auto code = PhonogramLibrary::codeOf(library->chunks()[0].id);
            ASSERT_TRUE(code);
            EXPECT_EQ(library->readPhrase(*code, pcm, &error), ReadStatus::Ok) << error;
            EXPECT_EQ(pcm, bytesOf(c.firstData));
        }
    }
}

TEST_F(PhonogramLibraryTest, DamagedFilesAreRefusedWithTheirFault)
{
    const std::string fmt = fmtChunk();  // 24 bytes, so the first phrase header is at offset 36
    const struct {
        const char* name;
        std::string bytes;
        std::string error;  // after the file's prefix
    } cases[] = {
        {"empty file", "", "the file is 0 bytes long, too short for a RIFF header"},
        {"not RIFF", "RIFX" + le32(4) + "WAVE", "not a RIFF file"},
        {"other form", "RIFF" + le32(4) + "AVI ", "a RIFF file of form \"AVI \", not \"WAVE\""},
        {"RIFF size below the form type", riff("", 2), "the RIFF chunk declares 2 bytes, too few for its form type"},
        {"RIFF size beyond the file", riff(fmt, 4 + 24 + 100),
         "the RIFF chunk declares 128 bytes but the file holds only 28 bytes after its header; the file is truncated"},
        {"no \"fmt \" chunk", riff(chunk("_000", "ab") + chunk("_001", "cd")), "no \"fmt \" chunk"},
        {"chunk header cut short", riff(fmt + "_00"),
         "the chunk header at offset 36 is cut short by the end of the RIFF chunk"},
        {"phrase longer than the file", riff(fmt + "_000" + le32(1000) + "abcd"),
         "chunk \"_000\" at offset 36 declares 1000 bytes but the RIFF chunk has only 4 bytes left"},
        {"huge \"fmt \" length", riff("fmt " + le32(0xFFFFFFF0) + std::string(16, '\0')),
         "chunk \"fmt \" at offset 12 declares 4294967280 bytes but the RIFF chunk has only 16 bytes left"},
        {"phrase past an odd RIFF end, inside the file", riff(fmt + "_000" + le32(2) + "ab", 4 + 24 + 8 + 1),
         "chunk \"_000\" at offset 36 declares 2 bytes but the RIFF chunk has only 1 byte left"},
        {"garbage identifier with a bad length", riff(fmt + std::string("\x01\x98\xFFz", 4) + le32(9)),
         "chunk \"\\x01\\x98\\xFFz\" at offset 36 declares 9 bytes but the RIFF chunk has only 0 bytes left"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = save(c.bytes);
        std::string error;
        EXPECT_FALSE(PhonogramLibrary::open(path, &error));
        EXPECT_EQ(error, prefix(path) + c.error);
    }
}

}  // namespace
}  // namespace peltra::line
