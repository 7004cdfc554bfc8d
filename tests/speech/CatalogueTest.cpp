// Tests of the lexeme catalogue: folders and leaves, the depth-first code search, dictionaries.
#include "speech/Catalogue.h"

#include "config/ConfigStore.h"
#include "platform/registry/RegFile.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <string>
#include <vector>

namespace peltra::speech {
namespace {

using config::ConfigStore;
using platform::RegFile;
using platform::RegistryValue;
using Codes = std::vector<std::string>;

class CatalogueTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    platform::RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
    Catalogue m_catalogue{m_store};

    std::string key(const std::string& path) const { return ConfigStore::fullPath(catalogueKey(path)); }

    void setText(const std::string& path, const std::string& name, const std::string& value)
    {
        ASSERT_TRUE(m_registry.setValue(key(path), name, RegistryValue::text(value)));
    }

    // A dictionary entry written by hand, as another program or a damaged store may leave it.
    void makeEntry(const std::string& path, const std::string& keyname, const std::string& chunk,
                   const std::string& prev, const std::string& next)
    {
        setText(path, "Keyname", keyname);
        setText(path, "Chunk", chunk);
        setText(path, "Prev", prev);
        setText(path, "Next", next);
    }

    std::optional<std::string> tree() { return RegFile::exportKey(m_registry, "", RegFile::Encoding::Utf8); }

    std::string lookUp(const std::string& path, const std::string& text)
    {
        Codes list{"__PS"};
        m_catalogue.LookUpDictionary(path, text, list);
        EXPECT_EQ(list.size(), 2u) << "one code is appended, and nothing before it is touched";
        return list.size() == 2 && list[0] == "__PS" ? list[1] : "<list damaged>";
    }
};

TEST_F(CatalogueTest, FoldersAndLeavesAreWrittenAndReadBack)
{
    ASSERT_TRUE(m_catalogue.addFolder("", "Фразы"));
    ASSERT_TRUE(m_catalogue.addLeaf("Фразы", "Здравствуйте", "ZDR ", "Здравствуйте!"));
    ASSERT_TRUE(m_catalogue.addFolder("фразы", "Вежливые"));
    ASSERT_TRUE(m_catalogue.addLeaf("Фразы\\Вежливые", "Конец", "____", "конец сообщения"));

    EXPECT_EQ(m_registry.getValue(key("Фразы"), "Child"), RegistryValue::dword(1));
    EXPECT_EQ(m_registry.getValue(key("Фразы\\Здравствуйте"), "Child"), RegistryValue::dword(0));
    EXPECT_EQ(m_catalogue.Chunk("Фразы\\Здравствуйте"), "ZDR ");
    EXPECT_EQ(m_catalogue.Text("ФРАЗЫ\\здравствуйте"), "Здравствуйте!");
    EXPECT_EQ(m_catalogue.children("Фразы"), (Codes{"Вежливые", "Здравствуйте"}));

    const auto leaf = m_catalogue.entry("Фразы\\Вежливые\\Конец");
    ASSERT_TRUE(leaf);
    EXPECT_EQ(std::tie(leaf->isLeaf, leaf->chunk, leaf->text), std::make_tuple(true, "____", "конец сообщения"));
    EXPECT_FALSE(m_catalogue.entry("Фразы\\Вежливые")->isLeaf);

    // Reading what is missing gives empty texts and creates nothing.
    const auto before = tree();
    EXPECT_EQ(m_catalogue.Chunk("Фразы\\Нет такой"), "");
    EXPECT_EQ(m_catalogue.Text("Нет\\такой"), "");
    EXPECT_FALSE(m_catalogue.entry("Нет"));
    EXPECT_EQ(tree(), before);
}

TEST_F(CatalogueTest, WritesThatWouldDamageTheCatalogueAreRefused)
{
    ASSERT_TRUE(m_catalogue.addFolder("", "Фразы"));
    ASSERT_TRUE(m_catalogue.addLeaf("Фразы", "Да", "DA  ", "да"));
    const auto before = tree();
    struct Case {
        const char* parent;
        const char* name;
        std::optional<std::string> chunk;  // a leaf when set
        const char* error;
    } cases[] = {
        {"", "", std::nullopt, "an empty name"},
        {"", "Два\\уровня", std::nullopt, "holds a backslash"},
        {"", "ФРАЗЫ", std::nullopt, "\"ФРАЗЫ\" exists already"},
        {"Фразы", "да", "DA  ", "\"Фразы\\да\" exists already"},
        {"Фразы\\Да", "Под листом", std::nullopt, "\"Фразы\\Да\" is not a folder"},
        {"Нет", "Лист", "NO  ", "\"Нет\" is not a folder"},
        {"Фразы", "Короткий", "NO", "\"NO\" is not a phrase code"},
        {"Фразы", "Длинный", "NOPE!", "\"NOPE!\" is not a phrase code"},
        {"Фразы", "Пустой", "", "\"\" is not a phrase code"},
        {"Фразы", "Не в 1251", "NO✓ ", "is not a phrase code"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.parent) + " / " + c.name);
        std::string error;
        const bool ok = c.chunk ? m_catalogue.addLeaf(c.parent, c.name, *c.chunk, "", &error)
                                : m_catalogue.addFolder(c.parent, c.name, &error);
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    EXPECT_EQ(tree(), before);
    EXPECT_TRUE(isPhraseCode("Ёж№€")) << "letters and signs of code page 1251 make codes";
}

TEST_F(CatalogueTest, FindChunkPathSearchesDepthFirstInEnumerationOrder)
{
    // "b" is a leaf at the top, but "a" comes first and is searched to the bottom before it.
    ASSERT_TRUE(m_catalogue.addFolder("", "b-folder"));
    ASSERT_TRUE(m_catalogue.addFolder("", "A"));
    ASSERT_TRUE(m_catalogue.addFolder("A", "z"));
    ASSERT_TRUE(m_catalogue.addLeaf("A\\z", "deep", "DUPL", ""));
    ASSERT_TRUE(m_catalogue.addLeaf("", "b", "DUPL", ""));
    ASSERT_TRUE(m_catalogue.addLeaf("b-folder", "Ёлка", "ELKA", ""));
    // Case-insensitive order: "a" before "B", though binary order would put "B" first.
    ASSERT_TRUE(m_catalogue.addFolder("", "C"));
    ASSERT_TRUE(m_catalogue.addLeaf("C", "B", "CASE", ""));
    ASSERT_TRUE(m_catalogue.addLeaf("C", "a", "CASE", ""));
    // Dictionary entries are not leaves, even when their code matches.
    ASSERT_TRUE(m_catalogue.addLeaf("C", "Словарь", "#001", ""));
    ASSERT_TRUE(m_catalogue.addDictionaryEntry("C\\Словарь", "слово", "WORD"));
    ASSERT_TRUE(m_catalogue.addLeaf("", "Слово", "WORD", ""));
    // A key without "Child" is searched like a folder.
    setText("Без признака\\Лист", "Chunk", "NOCH");
    ASSERT_TRUE(m_registry.setValue(key("Без признака\\Лист"), "Child", RegistryValue::dword(0)));

    for (const auto& [code, path] : {std::pair{"DUPL", "A\\z\\deep"}, {"ELKA", "b-folder\\Ёлка"}, {"CASE", "C\\a"},
                                     {"WORD", "Слово"}, {"NOCH", "Без признака\\Лист"}, {"#001", "C\\Словарь"},
                                     {"NONE", ""}, {"DUP", ""}})
        EXPECT_EQ(m_catalogue.FindChunkPath(code), path) << code;
}

TEST_F(CatalogueTest, DictionaryLookUpMatchesTheTrimmedKeynameExactly)
{
    ASSERT_TRUE(m_catalogue.addFolder("", "Словари"));
    ASSERT_TRUE(m_catalogue.addLeaf("Словари", "Улицы", "#001", "улицы"));
    for (const auto& [word, code] : {std::pair{"Ленина", "LEN "}, {"  Мира ", "MIR "}, {"Ленина-2", "LEN2"}})
        ASSERT_TRUE(m_catalogue.addDictionaryEntry("Словари\\Улицы", word, code)) << word;
    // Entries written by another program may keep blanks around the word.
    const auto tail = m_catalogue.dictionaryEntries("Словари\\Улицы").back().name;
    setText("Словари\\Улицы\\" + tail, "Keyname", " Ленина-2\t ");

    // Exact: case counts, and the text is compared as it comes.
    for (const auto& [text, code] : {std::pair{"Ленина", "LEN "}, {"Мира", "MIR "}, {"Ленина-2", "LEN2"},
                                     {"мира", "NULL"}, {"Мира ", "NULL"}, {"", "NULL"}, {"Пушкина", "NULL"}})
        EXPECT_EQ(lookUp("Словари\\Улицы", text), code) << text;

    // A dictionary that cannot be opened yields "NULL", and the look-up does not create it.
    const auto before = tree();
    EXPECT_EQ(lookUp("Словари\\Нет такого", "Мира"), "NULL");
    EXPECT_EQ(tree(), before);
}

TEST_F(CatalogueTest, DamagedDictionariesEndTheWalkWithoutLooping)
{
    const std::string d = "Словарь";
    ASSERT_TRUE(m_catalogue.addLeaf("", d, "#001", ""));
    // A loop: 0001 -> 0002 -> 0001; the word of 0003 is out of the chain.
    makeEntry(d + "\\0001", "раз", "ONE ", "", "0002");
    makeEntry(d + "\\0002", "два", "TWO ", "0001", "0001");
    makeEntry(d + "\\0003", "три", "THRE", "0002", "");
    EXPECT_EQ(lookUp(d, "два"), "TWO ");
    EXPECT_EQ(lookUp(d, "три"), "NULL");

    // A link to a missing entry ends the walk; what came before it is still found.
    setText(d + "\\0002", "Next", "0009");
    EXPECT_EQ(lookUp(d, "два"), "TWO ");
    EXPECT_EQ(lookUp(d, "три"), "NULL");

    // The first match ends the walk even without a code: a later entry of the word is not used.
    setText(d + "\\0002", "Next", "0003");
    setText(d + "\\0003", "Keyname", "раз");
    setText(d + "\\0001", "Chunk", "");
    EXPECT_EQ(lookUp(d, "раз"), "NULL");

    // No head at all.
    setText(d + "\\0001", "Prev", "0003");
    EXPECT_EQ(lookUp(d, "два"), "NULL");
}

TEST_F(CatalogueTest, EntriesAreAppendedAtTheTailWithWholeLinks)
{
    const std::string d = "Месяцы";
    ASSERT_TRUE(m_catalogue.addLeaf("", d, "#001", ""));
    for (const char* word : {"январь", "февраль", "март"})
        ASSERT_TRUE(m_catalogue.addDictionaryEntry(d, word, "MON "));
    // Reordered by hand: the tail is the last in linked order, not the highest number.
    makeEntry(d + "\\0003", "март", "MON ", "", "0001");
    makeEntry(d + "\\0001", "январь", "MON ", "0003", "0002");
    makeEntry(d + "\\0002", "февраль", "MON ", "0001", "");
    const auto created = m_catalogue.addDictionaryEntry(d, " апрель ", "APR ");
    ASSERT_TRUE(created);
    EXPECT_EQ(*created, "0004");

    std::vector<std::string> words;
    const auto entries = m_catalogue.dictionaryEntries(d);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        words.push_back(entries[i].keyname);
        const std::string path = d + "\\" + entries[i].name;
        EXPECT_EQ(m_registry.getValue(key(path), "Prev")->asText(), i == 0 ? "" : entries[i - 1].name);
        EXPECT_EQ(m_registry.getValue(key(path), "Next")->asText(), i + 1 == entries.size() ? "" : entries[i + 1].name);
    }
    EXPECT_EQ(words, (Codes{"март", "январь", "февраль", "апрель"}));
    EXPECT_EQ(lookUp(d, "апрель"), "APR ");
}

TEST_F(CatalogueTest, EntriesThatCouldNeverBeSpokenOrWouldSpliceDamageAreRefused)
{
    ASSERT_TRUE(m_catalogue.addFolder("", "Папка"));
    ASSERT_TRUE(m_catalogue.addLeaf("", "Фраза", "PHR ", ""));
    ASSERT_TRUE(m_catalogue.addLeaf("", "Цел", "#001", ""));
    ASSERT_TRUE(m_catalogue.addDictionaryEntry("Цел", "слово", "WORD"));
    ASSERT_TRUE(m_catalogue.addLeaf("", "Петля", "#001", ""));
    makeEntry("Петля\\0001", "а", "AAAA", "", "0002");
    makeEntry("Петля\\0002", "б", "BBBB", "0001", "0001");
    ASSERT_TRUE(m_catalogue.addLeaf("", "Без головы", "#001", ""));
    makeEntry("Без головы\\0001", "а", "AAAA", "0001", "");
    const auto before = tree();
    const struct {
        const char* dictionary;
        const char* word;
        const char* chunk;
        const char* error;
    } cases[] = {
        {"Папка", "слово", "WORD", "is not a dictionary"},
        {"Фраза", "слово", "WORD", "is not a dictionary"},
        {"Нет", "слово", "WORD", "is not a dictionary"},
        {"Цел", " слово ", "WRD2", "has the word \"слово\" already"},
        {"Цел", "другое", "TOO LONG", "is not a phrase code"},
        {"Петля", "в", "VVVV", "links of the dictionary \"Петля\" are damaged"},
        {"Без головы", "в", "VVVV", "links of the dictionary \"Без головы\" are damaged"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(m_catalogue.addDictionaryEntry(c.dictionary, c.word, c.chunk, &error)) << c.dictionary;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    EXPECT_EQ(tree(), before);
}

}  // namespace
}  // namespace peltra::speech
