// Building the phonogram library from the catalogue, and checking one against it.
#include "lexicon/LibraryBuild.h"

#include "config/TaskStore.h"
#include "lexicon/PhraseAudio.h"
#include "line/PhonogramLibrary.h"
#include "speech/Patterns.h"
#include "speech/PhraseList.h"
#include "speech/Vocabulary.h"

#include <set>

namespace peltra::lexicon {

namespace {

bool recordedCode(const std::string& code)
{
    return speech::isPhraseCode(code) && code[0] != '@' && code[0] != '#' && code != speech::kDeliveryMarker;
}

void walk(speech::Catalogue& catalogue, const std::string& path, std::vector<CataloguePhrase>& leaves,
          std::vector<CataloguePhrase>& entries)
{
    for (const std::string& child : catalogue.children(path)) {
        const std::string childPath = path.empty() ? child : path + "\\" + child;
        const auto entry = catalogue.entry(childPath);
        if (!entry)
            continue;
        if (!entry->isLeaf) {
            walk(catalogue, childPath, leaves, entries);
        } else if (entry->chunk.rfind('#', 0) == 0) {
            for (const speech::DictionaryEntry& word : catalogue.dictionaryEntries(childPath))
                entries.push_back({word.chunk, word.keyname, childPath + ": " + word.keyname});
        } else {
            leaves.push_back({entry->chunk, entry->text, childPath});
        }
    }
}

// Adds each code once, keeping the first.
template <typename Item>
void addOnce(std::vector<Item>& list, std::set<std::string>& seen, Item item)
{
    if (seen.insert(item.code).second)
        list.push_back(std::move(item));
}

}  // namespace

std::vector<CataloguePhrase> cataloguePhrases(speech::Catalogue& catalogue)
{
    std::vector<CataloguePhrase> leaves;
    std::vector<CataloguePhrase> entries;
    walk(catalogue, "", leaves, entries);
    std::vector<CataloguePhrase> phrases;
    std::set<std::string> seen;
    for (CataloguePhrase& leaf : leaves)
        if (recordedCode(leaf.code))
            addOnce(phrases, seen, std::move(leaf));
    for (CataloguePhrase& entry : entries)
        if (recordedCode(entry.code))
            addOnce(phrases, seen, std::move(entry));
    return phrases;
}

bool buildLibrary(const std::vector<CataloguePhrase>& phrases, const Synthesizer& synthesizer,
                  const std::filesystem::path& out, const BuildProgress& progress, std::string& error)
{
    std::vector<line::PhonogramLibrary::Phrase> library;
    library.reserve(phrases.size());
    std::size_t done = 0;
    for (const CataloguePhrase& phrase : phrases) {
        if (progress)
            progress(done, phrases.size(), phrase.code);
        if (phrase.code == speech::kPause) {
            library.push_back({phrase.code, pausePhrase()});
        } else if (phrase.code == speech::kNoMatch) {
            library.push_back({phrase.code, noMatchPhrase()});
        } else {
            std::string why;
            const auto audio = synthesizer.speak(phrase.text, why);
            if (!audio) {
                error = "\"" + phrase.code + "\" (" + phrase.path + "): " + why;
                return false;
            }
            auto pcm = phraseFromWav(*audio, true);
            if (pcm.empty()) {
                error = "\"" + phrase.code + "\" (" + phrase.path + "): the synthesised phrase is silent";
                return false;
            }
            library.push_back({phrase.code, std::move(pcm)});
        }
        ++done;
    }
    if (progress)
        progress(done, phrases.size(), "");
    return line::PhonogramLibrary::write(out, line::PhonogramLibrary::pcmFormat(), library, &error);
}

std::vector<NeededCode> neededCodes(config::ConfigStore& store)
{
    std::vector<NeededCode> needed;
    std::set<std::string> seen;
    speech::Catalogue catalogue(store);
    for (const CataloguePhrase& phrase : cataloguePhrases(catalogue))
        addOnce(needed, seen, NeededCode{phrase.code, "catalogue " + phrase.path});

    config::TaskStore tasks(store);
    for (const std::string& binding : tasks.bindingNames()) {
        for (const std::string& task : tasks.binding(binding)->operators().names()) {
            const std::string who = "template of " + binding + " / " + task;
            speech::Patterns patterns(store, binding, task);
            std::vector<speech::PatternItem> items;
            patterns.Load(items);
            for (const speech::PatternItem& item : items) {
                if (const auto number = speech::codeNumber(item.chunk); number && item.chunk[0] == '@') {
                    for (std::string_view code : speech::functionVocabulary(*number))
                        addOnce(needed, seen, NeededCode{std::string(code), who + " (" + item.path + ")"});
                } else if (number) {
                    for (const speech::DictionaryEntry& entry : catalogue.dictionaryEntries(item.path))
                        addOnce(needed, seen, NeededCode{entry.chunk, who + " (" + item.path + ")"});
                    // A word the dictionary lacks is spoken as this.
                    addOnce(needed, seen, NeededCode{speech::kNoMatch, who + " (" + item.path + ")"});
                } else if (item.chunk.empty()) {
                    // The item's leaf is gone: nothing could ever play it, in any template that
                    // has such an item, so each of them is named.
                    needed.push_back(NeededCode{item.chunk, who + " (" + item.path + ")"});
                } else if (item.chunk != speech::kDeliveryMarker) {
                    addOnce(needed, seen, NeededCode{item.chunk, who + " (" + item.path + ")"});
                }
            }
        }
    }
    return needed;
}

}  // namespace peltra::lexicon
