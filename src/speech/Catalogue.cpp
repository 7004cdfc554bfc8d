// Reading and writing the lexeme catalogue's folders, leaves and dictionaries.
#include "speech/Catalogue.h"

#include "config/LinkedList.h"
#include "platform/text/CodePage.h"
#include "platform/text/Trim.h"
#include "platform/text/Utf8.h"

namespace peltra::speech {
namespace {

using config::ConfigStore;
using platform::RegistryValue;

constexpr const char* kChild = "Child";
constexpr const char* kChunk = "Chunk";
constexpr const char* kText = "Text";
constexpr const char* kKeyname = "Keyname";
constexpr const char* kNext = "Next";

std::string joinPath(const std::string& parent, const std::string& name)
{
    return parent.empty() ? name : parent + "\\" + name;
}

bool fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

bool validKeyName(const std::string& name, std::string* error)
{
    if (name.empty())
        return fail(error, "an empty name");
    if (name.find('\\') != std::string::npos)
        return fail(error, "the name \"" + name + "\" holds a backslash");
    if (!platform::isValidUtf8(name))
        return fail(error, "the name is not valid UTF-8");
    return true;
}

bool validCode(const std::string& code, std::string* error)
{
    if (!isPhraseCode(code))
        return fail(error, "\"" + code + "\" is not a phrase code of four characters of code page 1251");
    return true;
}

}  // namespace

Catalogue::Catalogue(config::ConfigStore& store) : m_store(store) {}

std::string catalogueKey(const std::string& path)
{
    return path.empty() ? std::string(kCatalogueKey) : std::string(kCatalogueKey) + "\\" + path;
}

bool isPhraseCode(std::string_view code)
{
    const auto bytes = platform::fromUtf8(code, platform::CodePage::Cp1251);
    return bytes && bytes->size() == 4;
}


std::string Catalogue::text(const std::string& path, const char* name)
{
    const auto value = m_store.registry().getValue(ConfigStore::fullPath(catalogueKey(path)), name);
    return value ? value->asText() : std::string();
}

std::optional<CatalogueEntry> Catalogue::entry(const std::string& path)
{
    std::optional<CatalogueEntry> found;
    m_store.registry().snapshot([&] {
        const std::string key = ConfigStore::fullPath(catalogueKey(path));
        if (!m_store.registry().keyExists(key))
            return true;
        CatalogueEntry entry;
        entry.path = path;
        const auto child = m_store.registry().getValue(key, kChild);
        // Only a stored 0 makes a leaf: a key without "Child" is searched like a folder.
        entry.isLeaf = child && child->asDword() == 0;
        entry.chunk = text(path, kChunk);
        entry.text = text(path, kText);
        found = std::move(entry);
        return true;
    });
    return found;
}

std::vector<std::string> Catalogue::children(const std::string& path)
{
    return m_store.subKeys(catalogueKey(path));
}

std::string Catalogue::Chunk(const std::string& path)
{
    return text(path, kChunk);
}

std::string Catalogue::Text(const std::string& path)
{
    return text(path, kText);
}

std::string Catalogue::FindChunkPath(const std::string& code)
{
    std::string result;
    m_store.registry().snapshot([&] {
        // An explicit stack rather than recursion: a deeply nested imported tree cannot
        // exhaust the thread's stack. Children are pushed in reverse so the first is searched first.
        std::vector<std::string> pending;
        const auto pushChildren = [&](const std::string& path) {
            const auto names = children(path);
            for (auto it = names.rbegin(); it != names.rend(); ++it)
                pending.push_back(joinPath(path, *it));
        };
        pushChildren("");
        while (!pending.empty()) {
            const std::string path = std::move(pending.back());
            pending.pop_back();
            const auto found = entry(path);
            if (!found)
                continue;
            if (found->isLeaf) {
                if (found->chunk == code) {
                    result = path;
                    return true;
                }
            } else {
                pushChildren(path);
            }
        }
        return true;
    });
    return result;
}

std::vector<DictionaryEntry> Catalogue::dictionaryEntries(const std::string& path)
{
    std::vector<DictionaryEntry> entries;
    m_store.registry().snapshot([&] {
        if (!m_store.registry().keyExists(ConfigStore::fullPath(catalogueKey(path))))
            return true;
        config::LinkedList list(m_store, catalogueKey(path));
        for (const std::string& name : list.items()) {
            const std::string entryPath = joinPath(path, name);
            entries.push_back({name, text(entryPath, kKeyname), text(entryPath, kChunk)});
        }
        return true;
    });
    return entries;
}

void Catalogue::LookUpDictionary(const std::string& path, const std::string& text, PhraseList& list)
{
    std::string result = kNoMatch;
    for (const DictionaryEntry& entry : dictionaryEntries(path)) {
        if (platform::trimBlanks(entry.keyname) == text) {
            if (!entry.chunk.empty())
                result = entry.chunk;
            break;
        }
    }
    list.push_back(result);
}

bool Catalogue::isFolderOrRoot(const std::string& path)
{
    if (platform::splitKeyPath(path).empty())
        return true;
    const auto found = entry(path);
    return found && !found->isLeaf;
}

bool Catalogue::addKey(const std::string& parent, const std::string& name, bool leaf, const std::string& chunk,
                       const std::string& text, std::string* error)
{
    if (!validKeyName(name, error) || (leaf && !validCode(chunk, error)))
        return false;
    std::string reason;
    const bool ok = m_store.registry().transaction([&] {
        if (!isFolderOrRoot(parent))
            return fail(&reason, "\"" + parent + "\" is not a folder of the catalogue");
        const std::string path = joinPath(parent, name);
        const std::string key = catalogueKey(path);
        if (m_store.registry().keyExists(ConfigStore::fullPath(key)))
            return fail(&reason, "\"" + path + "\" exists already");
        bool written = m_store.writeNumber(key, kChild, leaf ? 0 : 1);
        if (leaf)
            written = written && m_store.writeText(key, kChunk, chunk) && m_store.writeText(key, kText, text);
        if (!written)
            reason = platform::RegistryStore::lastError();
        return written;
    });
    if (!ok)
        return fail(error, reason.empty() ? platform::RegistryStore::lastError() : reason);
    return true;
}

bool Catalogue::addFolder(const std::string& parent, const std::string& name, std::string* error)
{
    return addKey(parent, name, false, {}, {}, error);
}

bool Catalogue::addLeaf(const std::string& parent, const std::string& name, const std::string& chunk,
                        const std::string& text, std::string* error)
{
    return addKey(parent, name, true, chunk, text, error);
}

std::optional<std::string> Catalogue::addDictionaryEntry(const std::string& dictionary, const std::string& keyname,
                                                         const std::string& chunk, std::string* error)
{
    if (!validCode(chunk, error))
        return std::nullopt;
    const std::string word(platform::trimBlanks(keyname));
    std::string reason;
    std::optional<std::string> created;
    const bool ok = m_store.registry().transaction([&] {
        const auto leaf = entry(dictionary);
        if (!leaf || !leaf->isLeaf || leaf->chunk.empty() || leaf->chunk[0] != '#')
            return fail(&reason, "\"" + dictionary + "\" is not a dictionary of the catalogue");
        const std::string key = catalogueKey(dictionary);
        config::LinkedList list(m_store, key);
        const std::vector<std::string> items = list.items();
        // Appending to a list whose walk ends early would splice the new entry into the damage.
        const bool damaged = items.empty() ? !m_store.subKeys(key).empty()
                                           : !text(joinPath(dictionary, items.back()), kNext).empty();
        if (damaged)
            return fail(&reason, "the links of the dictionary \"" + dictionary + "\" are damaged");
        for (const std::string& item : items) {
            if (platform::trimBlanks(text(joinPath(dictionary, item), kKeyname)) == word)
                return fail(&reason, "the dictionary \"" + dictionary + "\" has the word \"" + word + "\" already");
        }
        created = list.insertAfter(items.empty() ? std::string() : items.back(),
                                   {{kKeyname, word}, {kChunk, chunk}});
        if (!created)
            reason = platform::RegistryStore::lastError();
        return created.has_value();
    });
    if (!ok) {
        fail(error, reason);
        return std::nullopt;
    }
    return created;
}

}  // namespace peltra::speech
