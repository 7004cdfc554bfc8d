// The lexeme catalogue under "Лексемы и функции": folders of recorded phrases, template functions
// and dictionaries, read when templates are loaded and expanded, and written by the lexicon tool.
#pragma once

#include "config/ConfigStore.h"
#include "speech/PhraseList.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::speech {

// The catalogue's key below the configuration root.
inline constexpr char kCatalogueKey[] = "Лексемы и функции";
// The code a dictionary look-up yields when it finds nothing.
inline constexpr char kNoMatch[] = "NULL";

// One key of the catalogue. A folder ("Child" not 0) groups other keys; a leaf ("Child" 0) is one
// phrase, function ("@NNN") or dictionary ("#NNN"), whose entries are the leaf's sub-keys.
struct CatalogueEntry {
    std::string path;
    bool isLeaf = false;
    std::string chunk;
    std::string text;
};

// One word of a dictionary: the field text it stands for and the phrase code spoken for it.
struct DictionaryEntry {
    std::string name;  // the entry's sub-key name
    std::string keyname;
    std::string chunk;
};

// Paths are relative to the catalogue root: sub-key names joined by backslashes, "" for the root.
// Reads never create or change anything. Every write is one store transaction. Safe to call from
// any thread; the object keeps no state of its own beyond the store it reads.
class Catalogue {
public:
    explicit Catalogue(config::ConfigStore& store);

    config::ConfigStore& store() { return m_store; }

    // The key at path, nothing when it does not exist.
    std::optional<CatalogueEntry> entry(const std::string& path);
    // Names of the sub-keys of the key at path, in enumeration order.
    std::vector<std::string> children(const std::string& path);

    // The "Chunk" or "Text" of the key at path; empty when the key or the value is missing.
    std::string Chunk(const std::string& path);
    std::string Text(const std::string& path);

    // The path of the first leaf whose "Chunk" equals code exactly, searching depth first in
    // sub-key enumeration order; empty when none.
    std::string FindChunkPath(const std::string& code);

    // Appends the phrase code of the first entry (in linked order) of the dictionary at path whose
    // trimmed "Keyname" equals text exactly, or "NULL" when the dictionary is missing, no entry
    // matches, or the matching entry has no code. Damaged links end the walk; it never loops.
    void LookUpDictionary(const std::string& path, const std::string& text, PhraseList& list);

    // The entries of the dictionary at path in linked order.
    std::vector<DictionaryEntry> dictionaryEntries(const std::string& path);

    // Writing. Each refuses, changing nothing and saying why in *error, a name that is empty or
    // holds a backslash, a key that exists already, a parent that is not the root or a folder,
    // and a code that is not a phrase code.
    bool addFolder(const std::string& parent, const std::string& name, std::string* error = nullptr);
    bool addLeaf(const std::string& parent, const std::string& name, const std::string& chunk,
                 const std::string& text, std::string* error = nullptr);
    // Appends an entry at the dictionary's tail, keeping the links. The dictionary must be a leaf
    // whose code begins with "#", with whole links, and hold no entry of the same (trimmed)
    // keyname, which could never be spoken. Returns the new entry's sub-key name.
    std::optional<std::string> addDictionaryEntry(const std::string& dictionary, const std::string& keyname,
                                                  const std::string& chunk, std::string* error = nullptr);

private:
    std::string text(const std::string& path, const char* name);
    bool isFolderOrRoot(const std::string& path);
    bool addKey(const std::string& parent, const std::string& name, bool leaf, const std::string& chunk,
                const std::string& text, std::string* error);

    config::ConfigStore& m_store;
};

// The key of a catalogue path relative to the configuration root.
std::string catalogueKey(const std::string& path);

// True for a phrase code: exactly four characters, each one that code page 1251 holds.
bool isPhraseCode(std::string_view code);

}  // namespace peltra::speech
