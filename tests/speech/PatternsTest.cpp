// The lexeme catalogue (leaves, code search, dictionaries) and task templates: insertion and loading
// under the named lock, damaged links, and the expansion of items against a row into phrase codes.
#include "speech/Patterns.h"

#include "config/ConfigStore.h"
#include "platform/locks/NamedLock.h"
#include "platform/registry/RegFile.h"
#include "platform/registry/RegistryStore.h"
#include "platform/sync/Event.h"
#include "speech/Catalogue.h"
#include "speech/RowValues.h"
#include "speech/TemplateFunctions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

// Designated initializers name only the fields a case sets; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace peltra::speech {
namespace {

using config::ConfigStore;
using platform::RegFile;
using platform::RegistryValue;
using Names = std::vector<std::string>;
using Codes = std::vector<std::string>;
using namespace std::chrono_literals;

constexpr CalendarDate kToday{15, 3};

// A registry store of its own; its whole tree shows that a refused write changed nothing.
class StoreTest : public ::testing::Test {
protected:
    std::optional<std::string> tree() { return RegFile::exportKey(m_registry, "", RegFile::Encoding::Utf8); }

    test::TempDir m_dir;
    platform::RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
};

class CatalogueTest : public StoreTest {
protected:
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

    std::string lookUp(const std::string& path, const std::string& text)
    {
        Codes list{"__PS"};
        m_catalogue.LookUpDictionary(path, text, list);
        EXPECT_EQ(list.size(), 2u) << "one code is appended, and nothing before it is touched";
        return list.size() == 2 && list[0] == "__PS" ? list[1] : "<list damaged>";
    }
};

TEST_F(CatalogueTest, FoldersAndLeavesAreWrittenReadBackAndGuarded)
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

    // Reading what is missing gives empty texts, and writes that would damage the catalogue are
    // refused: neither changes anything.
    ASSERT_TRUE(m_catalogue.addLeaf("Фразы", "Да", "DA  ", "да"));
    const auto before = tree();
    EXPECT_EQ(m_catalogue.Chunk("Фразы\\Нет такой"), "");
    EXPECT_EQ(m_catalogue.Text("Нет\\такой"), "");
    EXPECT_FALSE(m_catalogue.entry("Нет"));
    // Parent, name, the chunk of a leaf ("-": a folder), the error.
    const std::array<const char*, 4> cases[] = {
        {"", "", "-", "an empty name"}, {"", "Два\\уровня", "-", "holds a backslash"},
        {"", "ФРАЗЫ", "-", "\"ФРАЗЫ\" exists already"}, {"Фразы", "да", "DA  ", "\"Фразы\\да\" exists already"},
        {"Фразы\\Да", "Под листом", "-", "\"Фразы\\Да\" is not a folder"}, {"Нет", "Лист", "NO  ", "\"Нет\" is not a folder"},
        {"Фразы", "Короткий", "NO", "\"NO\" is not a phrase code"}, {"Фразы", "Длинный", "NOPE!", "\"NOPE!\" is not a phrase code"},
        {"Фразы", "Пустой", "", "\"\" is not a phrase code"}, {"Фразы", "Не в 1251", "NO✓ ", "is not a phrase code"},
    };
    for (const auto& [parent, name, chunk, expected] : cases) {
        std::string error;
        EXPECT_FALSE(std::string(chunk) == "-" ? m_catalogue.addFolder(parent, name, &error)
                                               : m_catalogue.addLeaf(parent, name, chunk, "", &error)) << name;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
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

TEST_F(CatalogueTest, EntriesAreAppendedAtTheTailWithWholeLinksOrRefused)
{
    const std::string d = "Месяцы";
    ASSERT_TRUE(m_catalogue.addLeaf("", d, "#001", ""));
    for (const char* word : {"январь", "февраль", "март"})
        ASSERT_TRUE(m_catalogue.addDictionaryEntry(d, word, "MON "));
    // Reordered by hand: the tail is the last in linked order, not the highest number.
    makeEntry(d + "\\0003", "март", "MON ", "", "0001");
    makeEntry(d + "\\0001", "январь", "MON ", "0003", "0002");
    makeEntry(d + "\\0002", "февраль", "MON ", "0001", "");
    EXPECT_EQ(m_catalogue.addDictionaryEntry(d, " апрель ", "APR "), "0004");

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

    // Entries that could never be spoken or would splice into damaged links are refused.
    ASSERT_TRUE(m_catalogue.addFolder("", "Папка"));
    ASSERT_TRUE(m_catalogue.addLeaf("", "Фраза", "PHR ", ""));
    ASSERT_TRUE(m_catalogue.addLeaf("", "Петля", "#001", ""));
    makeEntry("Петля\\0001", "а", "AAAA", "", "0002");
    makeEntry("Петля\\0002", "б", "BBBB", "0001", "0001");
    ASSERT_TRUE(m_catalogue.addLeaf("", "Без головы", "#001", ""));
    makeEntry("Без головы\\0001", "а", "AAAA", "0001", "");
    const auto before = tree();
    // Dictionary, word, chunk, the error.
    const std::array<const char*, 4> cases[] = {
        {"Папка", "слово", "WORD", "is not a dictionary"}, {"Фраза", "слово", "WORD", "is not a dictionary"},
        {"Нет", "слово", "WORD", "is not a dictionary"}, {"Месяцы", " март ", "WRD2", "has the word \"март\" already"},
        {"Месяцы", "май", "TOO LONG", "is not a phrase code"},
        {"Петля", "в", "VVVV", "links of the dictionary \"Петля\" are damaged"},
        {"Без головы", "в", "VVVV", "links of the dictionary \"Без головы\" are damaged"},
    };
    for (const auto& [dictionary, word, chunk, expected] : cases) {
        std::string error;
        EXPECT_FALSE(m_catalogue.addDictionaryEntry(dictionary, word, chunk, &error)) << dictionary;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
    EXPECT_EQ(tree(), before);
}

// A runtime folder of the program's own, set before any test, so that its locks never meet the station's.
const test::TempDir kRuntime;
const bool kRuntimeSet = setenv("XDG_RUNTIME_DIR", kRuntime.path().c_str(), 1) == 0;

// A store with a small catalogue.
class PatternsTest : public StoreTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kRuntimeSet);
        Catalogue& c = m_patterns.catalogue();
        for (const char* folder : {"Фразы", "Функции", "Словари"})
            ASSERT_TRUE(c.addFolder("", folder));
        const std::pair<std::string, const char*> leaves[] = {
            {"Фразы\\Здравствуйте", "ZDR "}, {"Фразы\\Конец", "____"},     {"Функции\\Телефон", "@001"},
            {"Функции\\Дата", "@003"},        {"Функции\\Пять", "@005"},    {"Функции\\Шесть", "@006"},
            {"Функции\\Гривны", "@007"},      {"Функции\\Нет", "@099"},     {"Функции\\Кривой", "@0x7"},
            {"Словари\\Улицы", "#001"},       {"Словари\\Другой", "#002"},
        };
        for (const auto& [path, chunk] : leaves)
            ASSERT_TRUE(c.addLeaf(path.substr(0, path.find('\\')), path.substr(path.find('\\') + 1), chunk, "текст " + path));
        ASSERT_TRUE(c.addDictionaryEntry("Словари\\Улицы", "Шевченко", "SHEV"));
        ASSERT_TRUE(c.addDictionaryEntry("Словари\\Другой", "Шевченко", "OTHR"));
    }
    std::string itemPath(const std::string& item) const { return ConfigStore::fullPath(m_patterns.key() + "\\" + item); }

    void makeItem(const std::string& item, const std::string& prev, const std::string& next)
    {
        ASSERT_TRUE(m_registry.setValue(itemPath(item), "Prev", RegistryValue::text(prev)));
        ASSERT_TRUE(m_registry.setValue(itemPath(item), "Next", RegistryValue::text(next)));
        ASSERT_TRUE(m_registry.setValue(itemPath(item), "Path", RegistryValue::text("Фразы\\Здравствуйте")));
    }

    static PatternItem item(const std::string& path, const std::string& arg = "") { return {.path = path, .arg = arg}; }

    Names loadedNames()
    {
        std::vector<PatternItem> items{item("stale")};
        EXPECT_TRUE(m_patterns.Load(items));
        Names names;
        for (const PatternItem& loaded : items)
            names.push_back(loaded.keyName);
        return names;
    }

    // The task exists before its template is opened.
    bool m_taskMade = m_registry.createKey(ConfigStore::fullPath("Tasks\\Долги\\Операторы\\Май"));
    Patterns m_patterns{m_store, "Долги", "Май"};
};

TEST_F(PatternsTest, ItemsLoadInLinkedOrderAndAreInsertedMovedAndRemoved)
{
    EXPECT_EQ(m_patterns.key(), "Tasks\\Долги\\Операторы\\Май\\Шаблоны");
    EXPECT_TRUE(m_registry.keyExists(ConfigStore::fullPath(m_patterns.key()))) << "created when opened";
    // A task that does not exist is not made by opening its template.
    Patterns missing(m_store, "Долги", "Июнь");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_NE(missing.openError().find("there is no task"), std::string::npos) << missing.openError();
    EXPECT_FALSE(m_registry.keyExists(ConfigStore::fullPath("Tasks\\Долги\\Операторы\\Июнь")));
    EXPECT_TRUE(loadedNames().empty());

    // P1 into the empty template, P2 after P1, P3 at the front: P3 P1 P2.
    for (const auto& [after, path, arg, created] : {std::tuple{"", "Функции\\Гривны", "SUMMA", "0001"},
                                                     {"0001", "Фразы\\Конец", "", "0002"},
                                                     {"", "Фразы\\Здравствуйте", "", "0003"}})
        EXPECT_EQ(m_patterns.Insert(after, item(path, arg)), created);

    // Every field of every item: key name, path, text, chunk, arg, prev, next, column.
    std::vector<PatternItem> items;
    ASSERT_TRUE(m_patterns.Load(items));
    Names fields;
    for (const PatternItem& i : items)
        fields.push_back(i.keyName + "|" + i.path + "|" + i.text + "|" + i.chunk + "|" + i.arg + "|" + i.prev +
                         "|" + i.next + "|" + std::to_string(i.column));
    EXPECT_EQ(fields, (Names{
                          "0003|Фразы\\Здравствуйте|текст Фразы\\Здравствуйте|ZDR |||0001|0",
                          "0001|Функции\\Гривны|текст Функции\\Гривны|@007|SUMMA|0003|0002|0",
                          "0002|Фразы\\Конец|текст Фразы\\Конец|____||0001||0",
                      }));

    // Insertion in the middle, and a leaf changed by the editor is read afresh on the next load.
    EXPECT_EQ(m_patterns.Insert("0003", item("Словари\\Улицы", "ULICA")), "0004");
    ASSERT_TRUE(m_registry.setValue(ConfigStore::fullPath(catalogueKey("Фразы\\Здравствуйте")), "Chunk",
                                    RegistryValue::text("HELO")));
    ASSERT_TRUE(m_patterns.Load(items));
    EXPECT_EQ(loadedNames(), (Names{"0003", "0004", "0001", "0002"}));
    EXPECT_EQ(items[0].chunk, "HELO");

    // Removing and moving keep one whole list, under the same lock as insertion.
    EXPECT_TRUE(m_patterns.MoveAfter("0003", "0002"));
    EXPECT_EQ(loadedNames(), (Names{"0004", "0001", "0002", "0003"}));
    EXPECT_TRUE(m_patterns.MoveAfter("0003", ""));
    EXPECT_TRUE(m_patterns.Remove("0001"));
    EXPECT_EQ(loadedNames(), (Names{"0003", "0004", "0002"}));
    EXPECT_EQ(m_patterns.Insert("0002", item("Фразы\\Конец")), "0005") << "after the highest number, not the count";
    ASSERT_TRUE(m_patterns.Remove("0005"));
    std::string error;
    EXPECT_FALSE(m_patterns.Remove("0001", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(m_patterns.MoveAfter("0003", "0009", &error));
    EXPECT_FALSE(m_patterns.Remove("..\\0003", &error));
    EXPECT_EQ(loadedNames(), (Names{"0003", "0004", "0002"}));
}

TEST_F(PatternsTest, DamagedLinksLoadWhatCanBeReachedWithoutLooping)
{
    // Name, Prev, Next: no head; a loop to the head; an item linked to itself; a link to a missing item.
    const std::pair<std::vector<std::array<const char*, 3>>, Names> cases[] = {
        {{{"0001", "0002", "0002"}, {"0002", "0001", "0001"}}, {}},
        {{{"0001", "", "0002"}, {"0002", "0001", "0003"}, {"0003", "0002", "0001"}}, {"0001", "0002", "0003"}},
        {{{"0001", "", "0002"}, {"0002", "0001", "0002"}}, {"0001", "0002"}},
        {{{"0001", "", "0002"}, {"0002", "0001", "0009"}}, {"0001", "0002"}},
    };
    for (const auto& [items, loaded] : cases) {
        ASSERT_TRUE(m_store.deleteKey(m_patterns.key()));
        for (const auto& [name, prev, next] : items)
            makeItem(name, prev, next);
        EXPECT_EQ(loadedNames(), loaded) << items.size() << " items, the last linked to " << items.back()[2];
    }
}

TEST_F(PatternsTest, InsertionNextToAMissingItemOrUnderABadNameChangesNothing)
{
    ASSERT_TRUE(m_patterns.Insert("", item("Фразы\\Здравствуйте")));
    ASSERT_TRUE(m_patterns.Insert("0001", item("Фразы\\Конец")));
    // 0002 is linked to a follower that is gone.
    ASSERT_TRUE(m_registry.setValue(itemPath("0002"), "Next", RegistryValue::text("0005")));
    const auto before = tree();
    // 0003 would be the new item's own number.
    for (const auto& [after, expected] : {std::pair{"0003", "the template item 0003 does not exist"},
                                          {"0009", "the template item 0009 does not exist"},
                                          {"0002", "the template item 0005 following 0002 does not exist"}}) {
        std::string error;
        EXPECT_FALSE(m_patterns.Insert(after, item("Фразы\\Конец"), &error)) << after;
        EXPECT_EQ(error, expected);
    }
    // Names that would reach another key are refused.
    for (const auto& [binding, task] : {std::pair{"", "Май"}, {"Долги", ""}, {"Долги\\Операторы", "Май"},
                                        {"Долги", "Май\\Шаблоны"}}) {
        SCOPED_TRACE(std::string(binding) + "|" + task);
        Patterns patterns(m_store, binding, task);
        EXPECT_FALSE(patterns.isOpen());
        EXPECT_NE(patterns.openError().find("empty or holds a backslash"), std::string::npos);
        EXPECT_FALSE(patterns.Insert("", item("Фразы\\Конец")));
        std::vector<PatternItem> items{item("stale")};
        EXPECT_FALSE(patterns.Load(items));
        EXPECT_TRUE(items.empty());
    }
    EXPECT_EQ(tree(), before);

    // A template deleted with its task is not brought back by an insertion.
    ASSERT_TRUE(m_store.deleteKey("Tasks\\Долги\\Операторы\\Май"));
    std::string error;
    EXPECT_FALSE(m_patterns.Insert("", item("Фразы\\Конец"), &error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_FALSE(m_registry.keyExists(ConfigStore::fullPath("Tasks\\Долги\\Операторы\\Май")));
}

TEST_F(PatternsTest, InsertAndLoadWaitForTheTemplateLock)
{
    EXPECT_NE(templateLockName("ab", "c"), templateLockName("a", "bc"));
    EXPECT_NE(templateLockName("PELTRA", "2001"), "PELTRA2001") << "never the single-instance guard";
    EXPECT_EQ(m_patterns.lockName(), templateLockName("Долги", "Май"));
    // Another holder of the same template, spelled in other letter cases.
    auto held = platform::NamedLock::acquire(templateLockName("ДОЛГИ", "МАЙ"), 1000);
    ASSERT_TRUE(held);
    std::atomic<bool> inserted{false}, loaded{false};
    std::thread inserter([&] { inserted = m_patterns.Insert("", item("Фразы\\Конец")).has_value(); });
    std::thread loader([&] {
        std::vector<PatternItem> items;
        loaded = m_patterns.Load(items);
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(inserted || loaded || m_registry.keyExists(itemPath("0001")));
    held->release();
    inserter.join();
    loader.join();
    EXPECT_TRUE(inserted && loaded);
}

TEST_F(PatternsTest, ConcurrentInsertionsKeepOneWholeList)
{
    constexpr int perThread = 15;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            // Each thread opens the store and the template itself, as another process would.
            platform::RegistryStore registry(m_dir / "registry.db");
            ConfigStore store(registry);
            Patterns patterns(store, "Долги", "Май");
            std::string last;
            for (int i = 0; i < perThread; ++i) {
                // One thread always inserts at the front, the other after its own last item.
                if (const auto created = patterns.Insert(t == 0 ? "" : last, item("Фразы\\Конец", std::to_string(t))))
                    last = *created;
                else
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);

    std::vector<PatternItem> items;
    ASSERT_TRUE(m_patterns.Load(items));
    ASSERT_EQ(items.size(), 2u * perThread);
    std::set<std::string> names;
    for (std::size_t i = 0; i < items.size(); ++i) {
        names.insert(items[i].keyName);
        EXPECT_EQ(items[i].prev, i == 0 ? "" : items[i - 1].keyName);
        EXPECT_EQ(items[i].next, i + 1 == items.size() ? "" : items[i + 1].keyName);
    }
    EXPECT_EQ(names.size(), items.size());
    EXPECT_EQ(m_store.subKeys(m_patterns.key()).size(), items.size()) << "no item outside the chain";
}

// Items as the data source hands them over: loaded leaves with their columns set.
PatternItem expanded(const std::string& chunk, std::int16_t column, const std::string& path = "", const std::string& arg = "")
{
    return {.path = path, .chunk = chunk, .arg = arg, .column = column};
}

Codes spoken(unsigned function, const std::string& text)
{
    Codes list;
    SpeakFunction(function, text, kToday, list);
    return list;
}

// A row that has a value in every column, even in the ones that do not exist.
class AnyColumnRow : public RowValues {
public:
    std::optional<std::string> columnText(int) const override { return "Шевченко"; }
};

TEST_F(PatternsTest, EachKindOfItemExpandsAsItsCodeSays)
{
    FieldRow row;
    for (const char* assignment : {"SUMMA=", "DATA=03.02.2024", "TELEF=123456", "ULICA=Шевченко  ", "NOLL=0"})
        ASSERT_TRUE(row.setAssignment(assignment));
    // A fixed phrase even with Arg set; a missing leaf is an empty code; an empty sum is zero hryvnias;
    // "@0x7" is no function number, column 9 is not in the row; only "#001" looks words up.
    const std::pair<PatternItem, Codes> cases[] = {
        {expanded("ZDR ", 1, "", "SUMMA"), {"ZDR "}}, {expanded("____", 0), {"____"}}, {expanded("", 0, "Фразы\\Нет такой"), {""}},
        {expanded("@005", 5), {}}, {expanded("@006", 5), {}}, {expanded("@007", 1), {"_000", "__PS", "+GRE"}},
        {expanded("@007", 0), {}}, {expanded("@003", 2), spoken(3, "03.02.2024")}, {expanded("@001", 3), spoken(1, "123456")},
        {expanded("@099", 3), {}}, {expanded("@0x7", 1), {}}, {expanded("@007", 9), {}},
        {expanded("#001", 4, "Словари\\Улицы"), {"SHEV"}}, {expanded("#001", 5, "Словари\\Улицы"), {"NULL"}},
        {expanded("#001", 0, "Словари\\Улицы"), {}}, {expanded("#002", 4, "Словари\\Другой"), {}},
        {expanded("#001", 4, "Словари\\Нет"), {"NULL"}},
    };
    for (const auto& [item, codes] : cases) {
        SCOPED_TRACE(item.chunk + " column " + std::to_string(item.column));
        Codes list{"__PS"};
        m_patterns.BuildPhraseList({item}, row, kToday, list);
        Codes expected{"__PS"};
        expected.insert(expected.end(), codes.begin(), codes.end());
        EXPECT_EQ(list, expected);
    }

    // Items without a column speak nothing, whatever the row holds.
    Codes list;
    m_patterns.BuildPhraseList({expanded("@007", 0), expanded("@001", -1), expanded("#001", 0, "Словари\\Улицы"),
                                expanded("#001", 1, "Словари\\Улицы")},
                               AnyColumnRow(), kToday, list);
    EXPECT_EQ(list, Codes{"SHEV"});
}

TEST_F(PatternsTest, ATemplateSpeaksARowGivenFieldByField)
{
    ASSERT_TRUE(m_patterns.Insert("", item("Фразы\\Здравствуйте")));
    ASSERT_TRUE(m_patterns.Insert("0001", item("Словари\\Улицы", "ulica")));
    ASSERT_TRUE(m_patterns.Insert("0002", item("Функции\\Гривны", "Summa")));
    ASSERT_TRUE(m_patterns.Insert("0003", item("Функции\\Дата", "DATA")));  // not in the row
    ASSERT_TRUE(m_patterns.Insert("0004", item("Фразы\\Конец")));
    std::vector<PatternItem> items;
    ASSERT_TRUE(m_patterns.Load(items));

    FieldRow row;
    for (const char* assignment : {"TELEF=5551234", "ULICA= Шевченко ", "SUMMA=", "summa=0"})
        ASSERT_TRUE(row.setAssignment(assignment));
    EXPECT_EQ(row.fieldNames(), (Names{"TELEF", "ULICA", "SUMMA"})) << "a field set twice keeps its place";
    assignColumns(items, row.fieldNames());
    std::vector<int> columns;
    for (const PatternItem& loaded : items)
        columns.push_back(loaded.column);
    EXPECT_EQ(columns, (std::vector<int>{0, 2, 3, 0, 0}));

    Codes list;
    m_patterns.BuildPhraseList(items, row, kToday, list);
    EXPECT_EQ(list, (Codes{"ZDR ", "SHEV", "_000", "__PS", "+GRE", "____"}));
}

TEST(FieldRowTest, AssignmentsNameFieldsAndColumnsCountFromOne)
{
    FieldRow row;
    for (const auto& [assignment, accepted] : {std::pair{"TELEF=123", true}, {" Data =01.01=2024", true}, {"EMPTY=", true},
                                               {"=123", false}, {"  =1", false}, {"NOEQUALS", false}})
        EXPECT_EQ(row.setAssignment(assignment), accepted) << assignment;
    EXPECT_EQ(row.fieldNames(), (Names{"TELEF", "Data", "EMPTY"}));
    EXPECT_EQ((std::vector{row.value("data"), row.value("NONE"), row.columnText(1), row.columnText(3), row.columnText(0),
                           row.columnText(-1), row.columnText(4)}),
              (std::vector<std::optional<std::string>>{"01.01=2024", {}, "123", "", {}, {}, {}}));
}

}  // namespace
}  // namespace peltra::speech
