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
#include "support/StationSetup.h"
#include "support/TempDir.h"
#include "support/ToolsFixture.h"

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

std::string le(std::uint32_t v, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

// A 16-bit WAV file of any rate and channel count, or with another format code.
std::string wavBytes(std::uint32_t rate, std::uint16_t channels, const std::vector<std::int16_t>& interleaved,
                     std::uint16_t format = 1)
{
    std::string data;
    for (std::int16_t s : interleaved)
        data += le(static_cast<std::uint16_t>(s), 2);
    const std::uint32_t align = 2u * channels;
    const std::string body = "fmt " + le(16, 4) + le(format, 2) + le(channels, 2) + le(rate, 4) + le(rate * align, 4) +
                             le(align, 2) + le(16, 2) + "data" + le(static_cast<std::uint32_t>(data.size()), 4) + data;
    return "RIFF" + le(static_cast<std::uint32_t>(4 + body.size()), 4) + "WAVE" + body;
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
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        EXPECT_TRUE(fields.size() == 3 || (fields.size() == 4 && fields[3] == "missing")) << line;
        if (fields.size() >= 3)
            lines.push_back({fields[0], fields[1], fields[2], fields.size() == 4});
    }
    return lines;
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
    // A dictionary word stored with blanks around it (by hand, or from an import) is the same word.
    {
        platform::RegistryStore registry(config::registryFile(home()));
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

    // No library yet: every code is missing, each once.
    std::set<std::string> codes;
    for (const Listed& line : parseList(run({"list"}).out)) {
        EXPECT_TRUE(line.missing) << line.code;
        EXPECT_TRUE(speech::isPhraseCode(line.code)) << line.code;
        EXPECT_TRUE(codes.insert(line.code).second) << line.code << " listed twice";
    }
    EXPECT_EQ(codes.count("___А") + codes.count("+RR "), 2u);
    // Against a library of three codes, those three are there.
    const fs::path partial = work() / "partial.awf";
    writeLibrary(partial, {{"_000", tonePcm(10)}, {"___А", tonePcm(10)}, {"+RR ", tonePcm(10)}});
    r = run({"list", "--library", partial.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    std::size_t present = 0;
    for (const Listed& line : parseList(r.out)) {
        const bool inLibrary = line.code == "_000" || line.code == "___А" || line.code == "+RR ";
        EXPECT_EQ(line.missing, !inLibrary) << line.code;
        present += inLibrary;
        if (line.code == "_000") {
            EXPECT_EQ(line.path + "|" + line.text, "Слова\\Количественные числительные\\ноль|ноль");
        }
    }
    EXPECT_EQ(present, 3u);
    // A damaged library is refused, not taken as empty.
    writeFile(work() / "damaged.awf", "RIFF1234WAVEjunk");
    r = run({"list", "--library", (work() / "damaged.awf").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("damaged.awf"), std::string::npos) << r.err;

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
    r = run({"list"});
    const auto listed = parseList(r.out);
    EXPECT_EQ(listed.size(), phrases);
    for (const Listed& line : listed)
        EXPECT_FALSE(line.missing) << line.code;

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

    // A second recording replaces the phrase in place.
    writeFile(work() / "short.wav", wavBytes(16000, 1, std::vector<std::int16_t>(1600, 1000)));
    r = run({"set", "ДОЛГ", (work() / "short.wav").string(), "--library", lib.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("replaced"), std::string::npos) << r.err;
    auto replacedLibrary = PhonogramLibrary::open(lib, &error);
    ASSERT_TRUE(replacedLibrary) << error;
    ASSERT_EQ(replacedLibrary->chunks().size(), 2u);
    EXPECT_EQ(replacedLibrary->chunks()[1].size, 2u * 800u);

    // Without a library, set makes one in the station folder.
    r = run({"set", "+RR ", (work() / "short.wav").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    auto fresh = PhonogramLibrary::open(library(), &error);
    ASSERT_TRUE(fresh) << error;
    EXPECT_TRUE(fresh->contains("+RR "));
}

TEST_F(PeltraLexiconTest, RefusedRequestsKeepTheLibraryAndTheStore)
{
    const fs::path lib = work() / "lib.awf";
    writeLibrary(lib, {{"_000", tonePcm(10)}});
    const std::string before = readFile(lib);
    writeFile(work() / "good.wav", wavBytes(8000, 1, std::vector<std::int16_t>(800, 500)));
    writeFile(work() / "mp3.wav", wavBytes(44100, 2, std::vector<std::int16_t>(800, 500), 0x0055));
    writeFile(work() / "adpcm.wav", wavBytes(8000, 1, std::vector<std::int16_t>(800, 500), 0x0002));
    writeFile(work() / "empty.wav", wavBytes(8000, 1, {}));
    writeFile(work() / "text.wav", "this is not a recording");
    const std::string x = (work() / "x.wav").string();
    const struct {
        std::vector<std::string> args;
        int code;
        std::string says;
    } cases[] = {
        {{"set", "ZZZ1", "mp3.wav"}, 1, "mp3.wav: its sound is not PCM (format 85)"},
        {{"set", "ZZZ1", "adpcm.wav"}, 1, "adpcm.wav: its sound is not PCM (format 2)"},
        {{"set", "ZZZ1", "empty.wav"}, 1, "empty.wav: holds no sound"},
        {{"set", "ZZZ1", "text.wav"}, 1, "text.wav: not a WAV file"},
        {{"set", "ZZZ1", "absent.wav"}, 1, "absent.wav: no such file"},
        {{"set", "ABC", "good.wav"}, 1, "\"ABC\" is not a phrase code"},
        {{"set", "ABCDE", "good.wav"}, 1, "\"ABCDE\" is not a phrase code"},
        {{"set", "✓abc", "good.wav"}, 1, "\"✓abc\" is not a phrase code"},
        {{"set", "", "good.wav"}, 1, "\"\" is not a phrase code"},
        {{"extract", "ZZZ1", x}, 1, "no phrase \"ZZZ1\""},
        {{"extract", "AB", x}, 1, "no phrase \"AB\""},
        {{"recite"}, 2, "unknown command recite"},
        {{"build", "extra"}, 2, "build takes no arguments"},
        {{"build", "--out"}, 2, "--out needs a value"},
        {{"build", "--out", ""}, 2, "--out needs a value"},
        {{"list", "--force"}, 2, "unknown option --force"},
        {{"set", "_000"}, 2, "set needs CODE and FILE.wav"},
        {{"extract"}, 2, "extract needs CODE and FILE.wav"},
        {{"build"}, 1, "run install-catalogue first"},
        {{"check"}, 1, "run install-catalogue first"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<std::string> args = c.args;
        if (args[0] == "set" && args.size() == 3)
            args[2] = (work() / args[2]).string();
        if (args.size() == 3 && args[0] != "build")
            args.insert(args.end(), {"--library", lib.string()});
        const ProgramResult r = run(args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(readFile(lib), before);
    }
    EXPECT_FALSE(fs::exists(x));
    EXPECT_FALSE(fs::exists(config::registryFile(home()))) << "a refused command creates no store";
}

TEST_F(PeltraLexiconTest, AnUnwritableOutputIsAClearError)
{
    // A catalogue of one phrase keeps the real synthesis short.
    {
        platform::RegistryStore registry(config::registryFile(home()));
        config::ConfigStore store(registry);
        speech::Catalogue catalogue(store);
        ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
        ASSERT_TRUE(catalogue.addLeaf("Фразы", "Да", "YES1", "да"));
    }
    const fs::path locked = work() / "locked";
    fs::create_directories(locked);
    ReadOnlyFile readOnly(locked);
    if (!readOnly.isReadOnly())
        GTEST_SKIP() << "the folder cannot be made read-only here";
    writeFile(work() / "good.wav", wavBytes(8000, 1, std::vector<std::int16_t>(800, 500)));
    writeLibrary(library(), {{"YES1", tonePcm(10)}});
    const std::string out = (locked / "peltra.awf").string();
    for (const auto& args : {std::vector<std::string>{"build", "--out", out},
                             {"set", "YES1", (work() / "good.wav").string(), "--library", out},
                             {"extract", "YES1", (locked / "out.wav").string()}}) {
        SCOPED_TRACE(args[0]);
        const ProgramResult r = run(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(locked.string()), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_empty(locked));
    }
}

TEST_F(PeltraLexiconTest, CheckListsTheCodesATemplateNeedsAndTheLibraryLacks)
{
    std::vector<PhonogramLibrary::Phrase> phrases = {{"DEBT", tonePcm(10)}, {"CNTR", tonePcm(10)}};
    {
        platform::RegistryStore registry(config::registryFile(home()));
        config::ConfigStore store(registry);
        speech::Catalogue catalogue(store);
        config::TaskStore tasks(store);
        ASSERT_EQ(tasks.addBinding("Абоненты", "/data/abon.dbf", ""), config::AddResult::Added);
        for (const char* task : {"Долг", "Пени"})
            ASSERT_EQ(tasks.binding("Абоненты")->operators().add(task), config::AddResult::Added);
        // A dictionary speaks "NULL" for a word it lacks; a leaf taken out of the catalogue
        // leaves items that nothing can play, in this task and in another.
        const struct {
            const char* folder;
            const char* leaf;
            const char* code;
            const char* arg;
        } items[] = {{"Фразы", "Долг", "DEBT", ""}, {"Функции", "Сумма (рубли)", "@009", "SUMMA"},
                     {"Словари", "Район", "#001", "RAION"}, {"Фразы", "Пропавшая", nullptr, ""}};
        speech::Patterns patterns(store, "Абоненты", "Долг");
        std::string after;
        for (const auto& i : items) {
            catalogue.addFolder("", i.folder);
            if (i.code) {
                ASSERT_TRUE(catalogue.addLeaf(i.folder, i.leaf, i.code, i.leaf));
            }
            speech::PatternItem item;
            item.path = std::string(i.folder) + "\\" + i.leaf;
            item.arg = i.arg;
            const auto key = patterns.Insert(after, item);
            ASSERT_TRUE(key);
            after = *key;
            if (!i.code) {
                ASSERT_TRUE(speech::Patterns(store, "Абоненты", "Пени").Insert("", item));
            }
        }
        ASSERT_TRUE(catalogue.addDictionaryEntry("Словари\\Район", "Центр", "CNTR"));
    }
    for (std::string_view code : speech::functionVocabulary(9))
        if (code != "+RRE")
            phrases.push_back({std::string(code), tonePcm(10)});
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

    phrases.push_back({"+RRE", tonePcm(10)});
    phrases.push_back({"NULL", tonePcm(10)});
    writeLibrary(library(), phrases);
    {
        platform::RegistryStore registry(config::registryFile(home()));
        config::ConfigStore store(registry);
        ASSERT_TRUE(config::TaskStore(store).binding("Абоненты")->operators().remove("Пени"));
        speech::Patterns patterns(store, "Абоненты", "Долг");
        std::vector<speech::PatternItem> items;
        ASSERT_TRUE(patterns.Load(items));
        ASSERT_TRUE(patterns.Remove(items.back().keyName));
    }
    r = run({"check"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    // No library at all is an error, not a pass.
    r = run({"check", "--library", (work() / "none.awf").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("none.awf"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace peltra::test
