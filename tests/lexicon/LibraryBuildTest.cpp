// Building the phonogram library from the catalogue with a stand-in synthesiser, and the codes
// the catalogue asks it to record.
#include "lexicon/LibraryBuild.h"

#include "lexicon/PhraseAudio.h"
#include "line/PhonogramLibrary.h"
#include "platform/registry/RegistryStore.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace peltra::lexicon {
namespace {

namespace fs = std::filesystem;

// Speaks every text as a 300 ms tone at 16 kHz between 200 ms of silence on each side; the
// tone's frequency follows the text's length, so phrases differ. One text can be made to fail.
class FakeSynthesizer : public Synthesizer {
public:
    std::optional<platform::WavAudio> speak(const std::string& text, std::string& error) const override
    {
        m_spoken.push_back(text);
        if (text == failing) {
            error = "the fake voice cannot say that";
            return std::nullopt;
        }
        platform::WavAudio audio{.sampleRate = 16000, .channels = 1, .bitsPerSample = 16, .samples = {}};
        audio.samples.assign(3200, 0.0f);
        const double frequency = 300.0 + 50.0 * static_cast<double>(text.size() % 10);
        for (int i = 0; i < 4800; ++i)
            audio.samples.push_back(static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * frequency * i / 16000.0)));
        audio.samples.resize(audio.samples.size() + 3200, 0.0f);
        return audio;
    }

    std::string failing;
    mutable std::vector<std::string> m_spoken;
};

class LibraryBuildTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    platform::RegistryStore m_registry{m_dir / "registry.db"};
    config::ConfigStore m_store{m_registry};
    speech::Catalogue m_catalogue{m_store};
    FakeSynthesizer m_voice;

    const std::vector<CataloguePhrase> m_phrases = {
        {"_001", "один", "Слова\\один"},
        {"___А", "а", "Слова\\а"},
        {"+RR ", "рубль", "Слова\\рубль"},
        {"__PS", "пауза", "Слова\\пауза"},
        {"NULL", "тишина", "Слова\\Нет в словаре"},
        {"RN01", "ЦЕНТРАЛЬНЫЙ", "Словари\\Район: ЦЕНТРАЛЬНЫЙ"},
    };

    // The names in the library's folder, to see that nothing was left behind.
    std::set<std::string> files()
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir.path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    // Catalogue items: {folder, name} adds a folder, {folder, name, code, text} a leaf.
    void addItems(const std::vector<std::vector<std::string>>& items)
    {
        for (const auto& item : items)
            ASSERT_TRUE(item.size() == 2 ? m_catalogue.addFolder(item[0], item[1])
                                         : m_catalogue.addLeaf(item[0], item[1], item[2], item[3]))
                << item[1];
    }
};

TEST_F(LibraryBuildTest, EveryPhraseReadsBackTrimmedAndThePauseIsSilence)
{
    const fs::path out = m_dir / "peltra.awf";
    std::vector<std::tuple<std::size_t, std::size_t, std::string>> progress;
    std::string error;
    ASSERT_TRUE(buildLibrary(
        m_phrases, m_voice, out,
        [&](std::size_t done, std::size_t total, const std::string& code) { progress.emplace_back(done, total, code); },
        error))
        << error;

    auto library = line::PhonogramLibrary::open(out, &error);
    ASSERT_TRUE(library) << error;
    EXPECT_EQ(library->format(), line::PhonogramLibrary::pcmFormat());
    ASSERT_EQ(library->chunks().size(), m_phrases.size());
    for (std::size_t i = 0; i < m_phrases.size(); ++i) {
        SCOPED_TRACE(m_phrases[i].code);
        EXPECT_EQ(line::PhonogramLibrary::codeOf(library->chunks()[i].id), m_phrases[i].code);
        line::PhonogramLibrary::Bytes pcm;
        ASSERT_EQ(library->readPhrase(m_phrases[i].code, pcm, &error), line::PhonogramLibrary::ReadStatus::Ok)
            << error;
        if (m_phrases[i].code == "__PS") {
            EXPECT_EQ(pcm, pausePhrase());
        } else if (m_phrases[i].code == "NULL") {  // a word the dictionary lacks: not heard, over at once
            EXPECT_TRUE(!pcm.empty() && pcm.size() <= 800u) << pcm.size() << " bytes: up to 50 ms";
            EXPECT_EQ(std::count(pcm.begin(), pcm.end(), 0), static_cast<std::ptrdiff_t>(pcm.size()));
        }
        if (m_phrases[i].code == "__PS" || m_phrases[i].code == "NULL")
            continue;
        // 300 ms of tone at 8 kHz with 20 ms kept each side, the 200 ms silences gone.
        EXPECT_NEAR(pcm.size() / 2.0, 2400 + 2 * 160, 30);
        const auto samples = fromPcm16(pcm);
        EXPECT_NEAR(*std::ranges::max_element(samples), 0.5f, 0.03f);
        for (std::size_t k = 0; k < 100; ++k)
            ASSERT_LT(std::abs(samples[k]), 0.011f) << "the margin is quiet";
    }

    // The pause and the silence of a missing word are never synthesised; every other text is, once.
    EXPECT_EQ(m_voice.m_spoken, (std::vector<std::string>{"один", "а", "рубль", "ЦЕНТРАЛЬНЫЙ"}));
    const std::vector<std::tuple<std::size_t, std::size_t, std::string>> expected = {
        {0, 6, "_001"}, {1, 6, "___А"}, {2, 6, "+RR "}, {3, 6, "__PS"}, {4, 6, "NULL"}, {5, 6, "RN01"}, {6, 6, ""}};
    EXPECT_EQ(progress, expected);
}

TEST_F(LibraryBuildTest, AFailedSynthesisLeavesTheOldLibraryWhole)
{
    const fs::path out = m_dir / "peltra.awf";
    ASSERT_TRUE(line::PhonogramLibrary::write(out, line::PhonogramLibrary::pcmFormat(), {{"_000", {1, 2, 3, 4}}}));
    const std::string before = test::readFile(out);
    const auto namesBefore = files();

    m_voice.failing = "рубль";
    std::string error;
    EXPECT_FALSE(buildLibrary(m_phrases, m_voice, out, nullptr, error));
    for (const char* part : {"\"+RR \"", "Слова\\рубль", "the fake voice cannot say that"})
        EXPECT_NE(error.find(part), std::string::npos) << error;
    EXPECT_EQ(test::readFile(out), before);
    EXPECT_EQ(files(), namesBefore);

    // Without an old library, none is made.
    const fs::path fresh = m_dir / "fresh.awf";
    EXPECT_FALSE(buildLibrary(m_phrases, m_voice, fresh, nullptr, error));
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(files(), namesBefore);
}

TEST_F(LibraryBuildTest, CataloguePhrasesAreTheRecordedCodesOnce)
{
    addItems({{"", "Функции"}, {"Функции", "Сумма", "@009", "Сумма (рубли)"}, {"", "Фразы"},
              {"Фразы", "Долг", "DEBT", "Ваш долг"}, {"Фразы", "Доставлено", "____", "отметка"},
              {"Фразы", "Пауза", "__PS", "пауза"}, {"Фразы", "Долг ещё раз", "DEBT", "Ваш долг снова"},
              {"", "Словари"}, {"Словари", "Район", "#001", "Район"}});
    for (const auto& [word, code] : {std::pair{"СЕВЕРНЫЙ", "RN02"}, {"ДОЛГОВОЙ", "DEBT"}, {"ЮЖНЫЙ", "RN03"}})
        ASSERT_TRUE(m_catalogue.addDictionaryEntry("Словари\\Район", word, code));
    addItems({{"Словари", "Районы"}, {"Словари\\Районы", "Южный район", "RN03", "Южный район"}});

    std::vector<std::string> got;
    for (const CataloguePhrase& phrase : cataloguePhrases(m_catalogue))
        got.push_back(phrase.code + "=" + phrase.text + "@" + phrase.path);
    // Leaves depth first in key order, the first of each code; then the entries no leaf speaks,
    // spoken as their word. Functions, dictionaries and the delivery marker need no recording.
    EXPECT_EQ(got, (std::vector<std::string>{"RN03=Южный район@Словари\\Районы\\Южный район",
                                             "DEBT=Ваш долг@Фразы\\Долг", "__PS=пауза@Фразы\\Пауза",
                                             "RN02=СЕВЕРНЫЙ@Словари\\Район: СЕВЕРНЫЙ"}));
}

}  // namespace
}  // namespace peltra::lexicon
