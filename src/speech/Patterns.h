// A task's speech template: its items under the task's "Шаблоны" key, and their expansion
// against a table row into the phrase list of one call.
#pragma once

#include "config/ConfigStore.h"
#include "platform/locks/NamedLock.h"
#include "speech/Catalogue.h"
#include "speech/PhraseList.h"
#include "speech/RowValues.h"
#include "speech/TemplateFunctions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace peltra::speech {

// The template's key below a task key.
inline constexpr char kTemplateKeyName[] = "Шаблоны";

// One loaded template item.
struct PatternItem {
    std::string keyName;  // the item's sub-key name ("0001")
    std::string path;     // "Path": the catalogue leaf the item speaks
    std::string text;     // "Text" of that leaf
    std::string chunk;    // "Chunk" of that leaf
    std::string arg;      // "Arg": the column a function or dictionary speaks; empty for a phrase
    std::string prev;
    std::string next;
    // Position of Arg's column in the row (1-based); 0 = none. 0 on loading: whoever builds the
    // row sets it (the task data source, or assignColumns).
    std::int16_t column = 0;
};

// The template of one task. Insert and Load hold the task's named lock for their whole run,
// waiting without limit, so that every holder of the same template, in this process or another,
// sees whole links; Insert is also one store transaction. Safe to call from any thread, but not
// inside a store transaction of the caller's: the lock is always taken before the store.
class Patterns {
public:
    // Opens the template key Tasks\<binding>\Операторы\<task>\Шаблоны, creating it when the task
    // exists and the key is missing. A task that does not exist, or a binding or task name that
    // is empty or holds a backslash (it would name another key), leaves the object not open:
    // Insert fails and Load gives nothing.
    Patterns(config::ConfigStore& store, std::string binding, std::string task);

    bool isOpen() const { return m_open; }
    // Why the object is not open.
    const std::string& openError() const { return m_openError; }
    // The template key relative to the configuration root.
    const std::string& key() const { return m_key; }
    const std::string& lockName() const { return m_lockName; }
    Catalogue& catalogue() { return m_catalogue; }

    // Adds an item (its path and arg are used) after the item named afterName, or first when
    // afterName is empty. Fails, creating and changing nothing, when afterName or its follower
    // does not exist. Returns the new item's key name: the highest item number plus one.
    std::optional<std::string> Insert(const std::string& afterName, const PatternItem& item,
                                      std::string* error = nullptr);

    // Removes an item, keeping the links whole; false when it does not exist.
    bool Remove(const std::string& name, std::string* error = nullptr);
    // Moves an item after another one (to the front when afterName is empty).
    bool MoveAfter(const std::string& name, const std::string& afterName, std::string* error = nullptr);

    // Empties items and fills them in spoken order, with each leaf's Chunk and Text read afresh
    // and every column 0. Damaged links end the list: no head gives nothing, and the walk stops at
    // an item that is missing or already listed. false (items empty) when the lock cannot be taken.
    bool Load(std::vector<PatternItem>& items, std::string* error = nullptr);

    // Appends the phrase codes the items speak for row, in order. Takes no lock: the caller must
    // not reload items meanwhile. today is the date the date functions fall back on.
    void BuildPhraseList(const std::vector<PatternItem>& items, const RowValues& row, const CalendarDate& today,
                         PhraseList& list);

private:
    std::string itemKey(const std::string& item) const;
    std::optional<platform::NamedLock> lock(std::string* error) const;

    config::ConfigStore& m_store;
    Catalogue m_catalogue;
    std::string m_key;
    std::string m_lockName;
    bool m_open = false;
    std::string m_openError;
};

// The key of a task's template relative to the configuration root.
std::string templateKey(const std::string& binding, const std::string& task);

// The named lock of a task's template. Binding and task names compare without regard to case as
// keys do, so the names are folded: two spellings of one task share one lock. The names are
// separated by a backslash, which no key name holds, so "ab"+"c" and "a"+"bc" stay apart; the
// prefix keeps template locks apart from the station's other locks.
std::string templateLockName(const std::string& binding, const std::string& task);

// Sets each item's column to the 1-based position of its Arg among fieldNames (compared without
// regard to case), 0 when Arg is empty or not among them.
void assignColumns(std::vector<PatternItem>& items, const std::vector<std::string>& fieldNames);

// The function number of an "@NNN" or dictionary number of a "#NNN" code: the value of its last
// three characters, which must be decimal digits; nothing for any other code.
std::optional<unsigned> codeNumber(const std::string& chunk);

}  // namespace peltra::speech
