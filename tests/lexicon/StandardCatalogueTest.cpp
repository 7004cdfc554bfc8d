// The standard catalogue: what a fresh installation holds, and how a second installation treats
// what the operator has changed meanwhile.
#include "lexicon/StandardCatalogue.h"

#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Vocabulary.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace peltra::lexicon {
namespace {

class StandardCatalogueTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    platform::RegistryStore m_registry{m_dir / "registry.db"};
    config::ConfigStore m_store{m_registry};
    speech::Catalogue m_catalogue{m_store};

    // Every leaf below path: its path and its entry.
    void leaves(const std::string& path, std::map<std::string, speech::CatalogueEntry>& found)
    {
        for (const std::string& child : m_catalogue.children(path)) {
            const std::string childPath = path.empty() ? child : path + "\\" + child;
            const auto entry = m_catalogue.entry(childPath);
            ASSERT_TRUE(entry) << childPath;
            if (entry->isLeaf)
                found.emplace(childPath, *entry);
            else
                leaves(childPath, found);
        }
    }

    std::string lookUp(const std::string& dictionary, const std::string& word)
    {
        speech::PhraseList list;
        m_catalogue.LookUpDictionary(dictionary, word, list);
        return list.size() == 1 ? list[0] : "<" + std::to_string(list.size()) + " codes>";
    }
};

TEST_F(StandardCatalogueTest, AFreshInstallHoldsEveryFunctionWordPhraseAndTheDictionary)
{
    const InstallReport report = installStandardCatalogue(m_catalogue, false);
    EXPECT_TRUE(report.problems.empty()) << report.problems.front();

    std::map<std::string, speech::CatalogueEntry> all;
    leaves("", all);
    const auto entries = m_catalogue.dictionaryEntries("Словари\\Район");
    EXPECT_EQ(report.added, static_cast<int>(all.size() + entries.size()));

    // The template functions, @000 ... @013, named as the functions are.
    for (const speech::FunctionName& function : speech::templateFunctionNames()) {
        char code[8];
        std::snprintf(code, sizeof code, "@%03u", function.number);
        EXPECT_EQ(m_catalogue.FindChunkPath(code), std::string(kFunctionsFolder) + "\\" + std::string(function.name));
    }
    EXPECT_EQ(m_catalogue.children(kFunctionsFolder).size(), 14u);

    // Every word the converters speak, under its group, found by its code.
    for (const speech::VocabularyWord& word : speech::converterVocabulary()) {
        const std::string path =
            std::string(kWordsFolder) + "\\" + std::string(word.group) + "\\" + std::string(word.text);
        EXPECT_EQ(m_catalogue.FindChunkPath(std::string(word.code)), path) << word.code;
        EXPECT_EQ(m_catalogue.Text(path), word.text);
    }

    // The delivery marker, and the phrases of a notice.
    EXPECT_FALSE(m_catalogue.FindChunkPath(speech::kDeliveryMarker).empty());
    EXPECT_GE(m_catalogue.children(kPhrasesFolder).size(), 3u);

    // Every leaf is a phrase code with a text, and no two leaves share one.
    std::map<std::string, std::string> byCode;
    for (const auto& [path, leaf] : all) {
        EXPECT_TRUE(speech::isPhraseCode(leaf.chunk) && !leaf.text.empty()) << path;
        EXPECT_TRUE(byCode.emplace(leaf.chunk, path).second) << leaf.chunk << " at " << path << " and "
                                                              << byCode[leaf.chunk];
    }

    // The example dictionary: a "#001" leaf whose linked entries speak recorded phrases.
    EXPECT_EQ(m_catalogue.Chunk("Словари\\Район"), "#001");
    ASSERT_GE(entries.size(), 2u);
    for (const speech::DictionaryEntry& entry : entries) {
        EXPECT_EQ(lookUp("Словари\\Район", entry.keyname), entry.chunk) << entry.keyname;
        EXPECT_FALSE(m_catalogue.FindChunkPath(entry.chunk).empty()) << "no leaf speaks " << entry.chunk;
    }
    // A word the dictionary lacks speaks a phrase of the catalogue too, so a library built from
    // it can play every call.
    EXPECT_EQ(lookUp("Словари\\Район", "НЕТ ТАКОГО"), speech::kNoMatch);
    EXPECT_EQ(m_catalogue.FindChunkPath(speech::kNoMatch), "Слова\\Служебные\\Нет в словаре");
}

TEST_F(StandardCatalogueTest, TheOperatorsChangesAreKeptUnlessForced)
{
    ASSERT_TRUE(installStandardCatalogue(m_catalogue, false).problems.empty());
    const std::string zero = std::string(kWordsFolder) + "\\Количественные числительные\\ноль";
    const std::string key = speech::catalogueKey(zero);
    ASSERT_EQ(m_catalogue.Chunk(zero), "_000");
    ASSERT_TRUE(m_store.writeText(key, "Chunk", "NOL0"));
    ASSERT_TRUE(m_store.writeText(key, "Text", "нуль"));
    // The operator's own phrase and dictionary word.
    ASSERT_TRUE(m_catalogue.addLeaf(kPhrasesFolder, "Своя фраза", "OWN1", "Своя фраза"));
    ASSERT_TRUE(m_catalogue.addDictionaryEntry("Словари\\Район", "ЗАРЕЧНЫЙ", "OWN1"));
    const auto entriesBefore = m_catalogue.dictionaryEntries("Словари\\Район").size();

    InstallReport report = installStandardCatalogue(m_catalogue, false);
    EXPECT_EQ(report.added + report.replaced, 0);
    EXPECT_EQ(m_catalogue.Chunk(zero), "NOL0");
    EXPECT_EQ(m_catalogue.Text(zero), "нуль");

    report = installStandardCatalogue(m_catalogue, true);
    EXPECT_GT(report.replaced, 0);
    EXPECT_EQ(m_catalogue.Chunk(zero), "_000");
    EXPECT_EQ(m_catalogue.Text(zero), "ноль");
    // What the standard catalogue does not hold is never touched.
    EXPECT_EQ(m_catalogue.Chunk(std::string(kPhrasesFolder) + "\\Своя фраза"), "OWN1");
    EXPECT_EQ(m_catalogue.dictionaryEntries("Словари\\Район").size(), entriesBefore);
    EXPECT_EQ(lookUp("Словари\\Район", "ЗАРЕЧНЫЙ"), "OWN1");
}

TEST_F(StandardCatalogueTest, AFolderWhereALeafBelongsIsReportedAndLeftAlone)
{
    const std::string function0 = std::string(kFunctionsFolder) + "\\" +
                                  std::string(speech::templateFunctionNames()[0].name);
    ASSERT_TRUE(m_catalogue.addFolder("", kFunctionsFolder));
    ASSERT_TRUE(m_catalogue.addFolder(kFunctionsFolder, std::string(speech::templateFunctionNames()[0].name)));
    ASSERT_TRUE(m_catalogue.addLeaf(function0, "Моё", "MINE", "моё"));

    for (const bool force : {false, true}) {
        SCOPED_TRACE(force ? "forced" : "not forced");
        const InstallReport report = installStandardCatalogue(m_catalogue, force);
        ASSERT_EQ(report.problems.size(), 1u);
        EXPECT_NE(report.problems[0].find(function0 + "\" is a folder where a leaf belongs"), std::string::npos)
            << report.problems[0];
        const auto entry = m_catalogue.entry(function0);
        EXPECT_TRUE(entry && !entry->isLeaf);
        EXPECT_EQ(m_catalogue.Chunk(function0 + "\\Моё"), "MINE");
        // Everything else was installed all the same.
        EXPECT_EQ(m_catalogue.Chunk(std::string(kFunctionsFolder) + "\\" +
                                    std::string(speech::templateFunctionNames()[1].name)),
                  "@001");
        EXPECT_FALSE(m_catalogue.FindChunkPath("__PS").empty());
    }
}

}  // namespace
}  // namespace peltra::lexicon
