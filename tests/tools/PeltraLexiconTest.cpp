// peltra-lexicon run as the operator runs it: install the catalogue, synthesise a library, list,
// replace and take out phrases, and check a library against the catalogue and the templates.
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "config/TaskStore.h"
#include "line/PhonogramLibrary.h"
#include "platform/audio/WavFile.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"
#include "speech/Vocabulary.h"
#include "support/ReadOnlyFile.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace peltra::test {
namespace {

namespace fs = std::filesystem;
using line::PhonogramLibrary;

std::string le16(std::uint16_t v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string le32(std::uint32_t v)
{
    return le16(static_cast<std::uint16_t>(v)) + le16(static_cast<std::uint16_t>(v >> 16));
}

// A 16-bit PCM WAV file of any rate and channel count, or another format code.
std::string wavBytes(std::uint32_t rate, std::uint16_t channels, const std::vector<std::int16_t>& interleaved,
                     std::uint16_t format = 1)
{
    std::string data;
    for (std::int16_t s : interleaved)
        data += le16(static_cast<std::uint16_t>(s));
    const std::uint16_t align = static_cast<std::uint16_t>(2 * channels);
    const std::string fmt = le16(format) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(16);
    const std::string body = "fmt " + le32(16) + fmt + "data" + le32(static_cast<std::uint32_t>(data.size())) + data;
    return "RIFF" + le32(static_cast<std::uint32_t>(4 + body.size())) + "WAVE" + body;
}

// A stereo recording: a 1 kHz tone at 0.6 on the left and 0.2 on the right.
std::string stereoRecording(std::uint32_t rate, double seconds)
{
    std::vector<std::int16_t> frames;
    const auto count = static_cast<std::size_t>(rate * seconds);
    for (std::size_t i = 0; i < count; ++i) {
        const double s = std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(i) / rate);
        frames.push_back(static_cast<std::int16_t>(std::lround(0.6 * 32767 * s)));
        frames.push_back(static_cast<std::int16_t>(std::lround(0.2 * 32767 * s)));
    }
    return wavBytes(rate, 2, frames);
}

PhonogramLibrary::Bytes tone(std::size_t bytes)
{
    PhonogramLibrary::Bytes pcm;
    for (std::size_t i = 0; i < bytes / 2; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(8000 * std::sin(static_cast<double>(i) * 0.7)));
        pcm.push_back(static_cast<std::uint8_t>(v & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(v) >> 8) & 0xFF));
    }
    return pcm;
}

// One line of "list": path, code, text and whether it is missing.
struct Listed {
    std::string path, code, text;
    bool missing = false;
};

std::vector<Listed> parseList(const std::string& out)
{
    std::vector<Listed> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
        EXPECT_TRUE(fields.size() == 3 || (fields.size() == 4 && fields[3] == "missing")) << line;
        if (fields.size() >= 3)
            lines.push_back({fields[0], fields[1], fields[2], fields.size() == 4});
    }
    return lines;
}

class PeltraLexiconTest : public ::testing::Test {
protected:
    ProgramResult run(std::vector<std::string> args, const std::map<std::string, std::optional<std::string>>& env = {})
    {
        args.insert(args.begin(), {"--home", m_home.path().string()});
        return runProgram(PELTRA_LEXICON_PATH, args, m_work.path(), "", env);
    }

    void install()
    {
        const ProgramResult r = run({"install-catalogue"});
        ASSERT_EQ(r.code, 0) << r.err;
    }

    fs::path library() const { return m_home / "peltra.awf"; }

    void writeLibrary(const fs::path& path, const std::vector<PhonogramLibrary::Phrase>& phrases)
    {
        std::string error;
        ASSERT_TRUE(PhonogramLibrary::write(path, PhonogramLibrary::pcmFormat(), phrases, &error)) << error;
    }

    TempDir m_home;
    TempDir m_work;
};

TEST_F(PeltraLexiconTest, InstallBuildAndCheckGiveASpeakingLibrary)
{
    ProgramResult r = run({"install-catalogue"});
    ASSERT_EQ(r.code, 0) << r.err;
    int added = 0, replaced = -1, kept = -1;
    ASSERT_EQ(std::sscanf(r.err.c_str(), "peltra-lexicon: %d added, %d replaced, %d kept", &added, &replaced, &kept), 3)
        << r.err;
    EXPECT_GT(added, 0);
    EXPECT_EQ(replaced, 0);
    EXPECT_EQ(kept, 0);
    r = run({"install-catalogue"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "peltra-lexicon: 0 added, 0 replaced, " + std::to_string(added) + " kept\n");
    // A dictionary word stored with blanks around it (by hand, or from an import) is the same word.
    {
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        const std::string dictionary = "Словари\\Район";
        const auto words = speech::Catalogue(store).dictionaryEntries(dictionary);
        ASSERT_FALSE(words.empty());
        ASSERT_TRUE(store.writeText(speech::catalogueKey(dictionary + "\\" + words[0].name), "Keyname",
                                    " " + words[0].keyname + "  "));
    }
    r = run({"install-catalogue"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "peltra-lexicon: 0 added, 0 replaced, " + std::to_string(added) + " kept\n");

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
    PhonogramLibrary::Bytes pause;
    ASSERT_EQ(built->readPhrase("__PS", pause), PhonogramLibrary::ReadStatus::Ok);
    EXPECT_EQ(pause, PhonogramLibrary::Bytes(4000, 0));
    // A word missing from a dictionary speaks "NULL": a moment of silence.
    PhonogramLibrary::Bytes nothing;
    ASSERT_EQ(built->readPhrase("NULL", nothing), PhonogramLibrary::ReadStatus::Ok);
    EXPECT_EQ(nothing, PhonogramLibrary::Bytes(320, 0));
    EXPECT_FALSE(built->contains("____"));
    EXPECT_FALSE(built->contains("@009"));

    r = run({"check"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("all "), std::string::npos) << r.err;

    r = run({"list"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto listed = parseList(r.out);
    EXPECT_EQ(listed.size(), phrases);
    for (const Listed& line : listed)
        EXPECT_FALSE(line.missing) << line.code;

    // A phrase taken out is the chunk as an 8 kHz WAV file.
    PhonogramLibrary::Bytes five;
    ASSERT_EQ(built->readPhrase("_005", five), PhonogramLibrary::ReadStatus::Ok);
    r = run({"extract", "_005", (m_work / "five.wav").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string wav = readFile(m_work / "five.wav");
    EXPECT_EQ(wav.substr(44), std::string(five.begin(), five.end()));
}

TEST_F(PeltraLexiconTest, ListMarksTheCodesTheLibraryLacks)
{
    install();
    // No library yet: everything is missing.
    ProgramResult r = run({"list"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto listed = parseList(r.out);
    ASSERT_FALSE(listed.empty());
    std::set<std::string> codes;
    for (const Listed& line : listed) {
        EXPECT_TRUE(line.missing) << line.code;
        EXPECT_TRUE(speech::isPhraseCode(line.code)) << line.code;
        EXPECT_TRUE(codes.insert(line.code).second) << line.code << " listed twice";
    }
    EXPECT_EQ(codes.count("___А"), 1u);
    EXPECT_EQ(codes.count("+RR "), 1u);

    const fs::path partial = m_work / "partial.awf";
    writeLibrary(partial, {{"_000", tone(100)}, {"___А", tone(100)}, {"+RR ", tone(100)}});
    r = run({"list", "--library", partial.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    listed = parseList(r.out);
    std::size_t present = 0;
    for (const Listed& line : listed) {
        const bool inLibrary = line.code == "_000" || line.code == "___А" || line.code == "+RR ";
        EXPECT_EQ(line.missing, !inLibrary) << line.code;
        present += inLibrary;
        if (line.code == "_000") {
            EXPECT_EQ(line.path, "Слова\\Количественные числительные\\ноль");
            EXPECT_EQ(line.text, "ноль");
        }
    }
    EXPECT_EQ(present, 3u);

    // A damaged library is refused, not taken as empty.
    writeFile(m_work / "damaged.awf", "RIFF1234WAVEjunk");
    r = run({"list", "--library", (m_work / "damaged.awf").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("damaged.awf"), std::string::npos) << r.err;
}

TEST_F(PeltraLexiconTest, SetConvertsARecordingAndExtractGivesItBack)
{
    const fs::path lib = m_work / "lib.awf";
    const PhonogramLibrary::Bytes zero = tone(802);
    writeLibrary(lib, {{"_000", zero}});
    writeFile(m_work / "rec.wav", stereoRecording(44100, 0.5));

    ProgramResult r = run({"set", "ДОЛГ", (m_work / "rec.wav").string(), "--library", lib.string()});
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

    r = run({"extract", "ДОЛГ", (m_work / "out.wav").string(), "--library", lib.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto audio = platform::readWav(m_work / "out.wav", error);
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

    // A second recording replaces the phrase in place.
    writeFile(m_work / "short.wav", wavBytes(16000, 1, std::vector<std::int16_t>(1600, 1000)));
    r = run({"set", "ДОЛГ", (m_work / "short.wav").string(), "--library", lib.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("replaced"), std::string::npos) << r.err;
    auto replacedLibrary = PhonogramLibrary::open(lib, &error);
    ASSERT_TRUE(replacedLibrary) << error;
    ASSERT_EQ(replacedLibrary->chunks().size(), 2u);
    EXPECT_EQ(replacedLibrary->chunks()[1].size, 2u * 800u);

    // Without a library, set makes one in the station folder.
    r = run({"set", "+RR ", (m_work / "short.wav").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    auto fresh = PhonogramLibrary::open(library(), &error);
    ASSERT_TRUE(fresh) << error;
    EXPECT_TRUE(fresh->contains("+RR "));
}

TEST_F(PeltraLexiconTest, SetRefusesWhatItCannotStoreAndKeepsTheLibrary)
{
    const fs::path lib = m_work / "lib.awf";
    writeLibrary(lib, {{"_000", tone(100)}});
    const std::string before = readFile(lib);
    writeFile(m_work / "good.wav", wavBytes(8000, 1, std::vector<std::int16_t>(800, 500)));
    writeFile(m_work / "mp3.wav", wavBytes(44100, 2, std::vector<std::int16_t>(800, 500), 0x0055));
    writeFile(m_work / "adpcm.wav", wavBytes(8000, 1, std::vector<std::int16_t>(800, 500), 0x0002));
    writeFile(m_work / "empty.wav", wavBytes(8000, 1, {}));
    writeFile(m_work / "text.wav", "this is not a recording");

    const struct {
        std::string code;
        std::string file;
        const char* says;
    } cases[] = {
        {"ZZZ1", "mp3.wav", "mp3.wav: its sound is not PCM (format 85)"},
        {"ZZZ1", "adpcm.wav", "adpcm.wav: its sound is not PCM (format 2)"},
        {"ZZZ1", "empty.wav", "empty.wav: holds no sound"},
        {"ZZZ1", "text.wav", "text.wav: not a WAV file"},
        {"ZZZ1", "absent.wav", "absent.wav: no such file"},
        {"ABC", "good.wav", "\"ABC\" is not a phrase code"},
        {"ABCDE", "good.wav", "\"ABCDE\" is not a phrase code"},
        {"✓abc", "good.wav", "\"✓abc\" is not a phrase code"},
        {"", "good.wav", "\"\" is not a phrase code"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code + " " + c.file);
        const ProgramResult r = run({"set", c.code, (m_work / c.file).string(), "--library", lib.string()});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(readFile(lib), before);
    }
    // extract of a code the library lacks, or one that is no code.
    for (const char* code : {"ZZZ1", "AB"}) {
        const ProgramResult r = run({"extract", code, (m_work / "x.wav").string(), "--library", lib.string()});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("no phrase \"" + std::string(code) + "\""), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(m_work / "x.wav"));
    }
}

TEST_F(PeltraLexiconTest, BuildWithoutEspeakNamesThePackage)
{
    install();
    TempDir emptyBin;
    const ProgramResult r = run({"build"}, {{"PATH", emptyBin.path().string()}});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("install the Debian package espeak-ng"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(library()));
    for (const auto& entry : fs::directory_iterator(m_home.path()))
        EXPECT_NE(entry.path().extension(), ".awf") << entry.path();
}

TEST_F(PeltraLexiconTest, AnUnwritableOutputIsAClearError)
{
    // A catalogue of one phrase keeps the real synthesis short.
    {
        fs::create_directories(m_home.path());
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Да", "YES1", "да"));
    }
    const fs::path locked = m_work / "locked";
    fs::create_directories(locked);
    ReadOnlyFile readOnly(locked);
    if (!readOnly.isReadOnly())
        GTEST_SKIP() << "the folder cannot be made read-only here";

    ProgramResult r = run({"build", "--out", (locked / "peltra.awf").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find((locked / "peltra.awf").string()), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(locked / "peltra.awf"));

    writeFile(m_work / "good.wav", wavBytes(8000, 1, std::vector<std::int16_t>(800, 500)));
    r = run({"set", "YES1", (m_work / "good.wav").string(), "--library", (locked / "peltra.awf").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find((locked / "peltra.awf").string()), std::string::npos) << r.err;

    writeLibrary(library(), {{"YES1", tone(100)}});
    r = run({"extract", "YES1", (locked / "out.wav").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find((locked / "out.wav").string()), std::string::npos) << r.err;
}

TEST_F(PeltraLexiconTest, CheckListsTheCodesATemplateNeedsAndTheLibraryLacks)
{
    fs::create_directories(m_home.path());
    std::vector<PhonogramLibrary::Phrase> phrases = {{"DEBT", tone(100)}};
    {
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Долг", "DEBT", "Ваш долг"));
        ASSERT_TRUE(catalogue.addFolder("", "Функции"));
        ASSERT_TRUE(catalogue.addLeaf("Функции", "Сумма (рубли)", "@009", "Сумма (рубли)"));
        config::TaskStore tasks(store);
        ASSERT_EQ(tasks.addBinding("Абоненты", "/data/abon.dbf", ""), config::AddResult::Added);
        ASSERT_EQ(tasks.binding("Абоненты")->operators().add("Долг"), config::AddResult::Added);
        speech::Patterns patterns(store, "Абоненты", "Долг");
        speech::PatternItem item;
        item.path = "Фразы\\Долг";
        const auto first = patterns.Insert("", item);
        ASSERT_TRUE(first);
        item.path = "Функции\\Сумма (рубли)";
        item.arg = "SUMMA";
        const auto second = patterns.Insert(*first, item);
        ASSERT_TRUE(second);
        // A dictionary speaks "NULL" for a word it lacks; a leaf taken out of the catalogue
        // leaves items that nothing can play, in this task and in another.
        ASSERT_TRUE(catalogue.addFolder("", "Словари"));
        ASSERT_TRUE(catalogue.addLeaf("Словари", "Район", "#001", "Район"));
        ASSERT_TRUE(catalogue.addDictionaryEntry("Словари\\Район", "Центр", "CNTR"));
        item.path = "Словари\\Район";
        item.arg = "RAION";
        const auto third = patterns.Insert(*second, item);
        ASSERT_TRUE(third);
        item.path = "Фразы\\Пропавшая";
        item.arg.clear();
        ASSERT_TRUE(patterns.Insert(*third, item));
        ASSERT_EQ(tasks.binding("Абоненты")->operators().add("Пени"), config::AddResult::Added);
        ASSERT_TRUE(speech::Patterns(store, "Абоненты", "Пени").Insert("", item));
    }
    phrases.push_back({"CNTR", tone(100)});
    for (std::string_view code : speech::functionVocabulary(9))
        if (code != "+RRE")
            phrases.push_back({std::string(code), tone(100)});
    writeLibrary(library(), phrases);

    ProgramResult r = run({"check"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "\"+RRE\"\tmissing, needed by template of Абоненты / Долг (Функции\\Сумма (рубли))\n"
                     "\"NULL\"\tmissing, needed by template of Абоненты / Долг (Словари\\Район)\n"
                     "(no leaf)\tmissing from the catalogue, needed by template of Абоненты / Долг (Фразы\\Пропавшая)\n"
                     "(no leaf)\tmissing from the catalogue, needed by template of Абоненты / Пени (Фразы\\Пропавшая)\n");
    // DEBT, CNTR, the function's words, NULL and the two items without a leaf.
    const std::size_t needed = 2 + speech::functionVocabulary(9).size() + 1 + 2;
    EXPECT_NE(r.err.find("4 of " + std::to_string(needed) + " codes are missing from " + library().string()),
              std::string::npos)
        << r.err;

    phrases.push_back({"+RRE", tone(100)});
    phrases.push_back({"NULL", tone(100)});
    writeLibrary(library(), phrases);
    {
        platform::RegistryStore registry(config::registryFile(m_home.path()));
        config::ConfigStore store(registry);
        config::TaskStore tasks(store);
        ASSERT_TRUE(tasks.binding("Абоненты")->operators().remove("Пени"));
        speech::Patterns patterns(store, "Абоненты", "Долг");
        std::vector<speech::PatternItem> items;
        ASSERT_TRUE(patterns.Load(items));
        ASSERT_TRUE(patterns.Remove(items.back().keyName));
    }
    r = run({"check"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");

    // No library at all is an error, not a pass.
    r = run({"check", "--library", (m_work / "none.awf").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("none.awf"), std::string::npos) << r.err;
}

TEST_F(PeltraLexiconTest, BadRequestsAreRefused)
{
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {
        {{"recite"}, 2, "unknown command recite"},
        {{"build", "extra"}, 2, "build takes no arguments"},
        {{"build", "--out"}, 2, "--out needs a value"},
        {{"list", "--force"}, 2, "unknown option --force"},
        {{"set", "_000"}, 2, "set needs CODE and FILE.wav"},
        {{"extract"}, 2, "extract needs CODE and FILE.wav"},
        {{"build"}, 1, "run install-catalogue first"},
        {{"check"}, 1, "run install-catalogue first"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const ProgramResult r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(config::registryFile(m_home.path()))) << "a refused command creates no store";
}

}  // namespace
}  // namespace peltra::test
