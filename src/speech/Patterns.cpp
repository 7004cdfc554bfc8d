// A task's speech template: insertion and loading under the task's named lock, and expansion.
#include "speech/Patterns.h"

#include "config/LinkedList.h"
#include "platform/sync/Event.h"
#include "platform/text/CaseFold.h"
#include "platform/text/Trim.h"

#include <algorithm>
#include <limits>

namespace peltra::speech {
namespace {

using config::ConfigStore;

constexpr const char* kPrev = "Prev";
constexpr const char* kNext = "Next";
constexpr const char* kPath = "Path";
constexpr const char* kArg = "Arg";

// The only dictionary function: look the field's word up.
constexpr unsigned kDictionaryLookUp = 1;

bool fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

std::string taskKeyOf(const std::string& binding, const std::string& task)
{
    return "Tasks\\" + binding + "\\Операторы\\" + task;
}

bool usableName(const std::string& name)
{
    return !name.empty() && name.find('\\') == std::string::npos;
}

}  // namespace

std::string templateKey(const std::string& binding, const std::string& task)
{
    return taskKeyOf(binding, task) + "\\" + kTemplateKeyName;
}

std::string templateLockName(const std::string& binding, const std::string& task)
{
    return "template." + platform::foldCase(binding) + "\\" + platform::foldCase(task);
}

Patterns::Patterns(config::ConfigStore& store, std::string binding, std::string task)
    : m_store(store), m_catalogue(store), m_key(templateKey(binding, task)),
      m_lockName(templateLockName(binding, task))
{
    if (!usableName(binding) || !usableName(task)) {
        m_openError = "the template of task \"" + task + "\" of binding \"" + binding +
                      "\": a name is empty or holds a backslash";
        return;
    }
    // Only a task that exists gets its template key: opening never brings back a removed task.
    const std::string full = ConfigStore::fullPath(m_key);
    const std::string taskFull = ConfigStore::fullPath(taskKeyOf(binding, task));
    bool taskExists = false;
    m_open = m_store.registry().transaction([&] {
        taskExists = m_store.registry().keyExists(taskFull);
        return taskExists && (m_store.registry().keyExists(full) || m_store.registry().createKey(full));
    });
    if (!m_open)
        m_openError = taskExists ? platform::RegistryStore::lastError()
                                 : "there is no task \"" + task + "\" in binding \"" + binding + "\"";
}

std::string Patterns::itemKey(const std::string& item) const
{
    return ConfigStore::fullPath(m_key + "\\" + item);
}

std::optional<platform::NamedLock> Patterns::lock(std::string* error) const
{
    platform::LockFailure failure;
    auto held = platform::NamedLock::acquire(m_lockName, platform::infiniteTimeout, &failure);
    if (!held)
        fail(error, failure.message);
    return held;
}

std::optional<std::string> Patterns::Insert(const std::string& afterName, const PatternItem& item,
                                            std::string* error)
{
    if (!m_open) {
        fail(error, m_openError);
        return std::nullopt;
    }
    const auto held = lock(error);
    if (!held)
        return std::nullopt;
    std::string reason;
    std::optional<std::string> created;
    platform::RegistryStore& registry = m_store.registry();
    registry.transaction([&] {
        // A template deleted with its task since it was opened is not brought back.
        if (!registry.keyExists(ConfigStore::fullPath(m_key)))
            return fail(&reason, "the template " + m_key + " does not exist");
        if (!afterName.empty()) {
            if (!registry.keyExists(itemKey(afterName)))
                return fail(&reason, "the template item " + afterName + " does not exist");
            const auto next = registry.getValue(itemKey(afterName), kNext);
            const std::string follower = next ? next->asText() : std::string();
            if (!follower.empty() && !registry.keyExists(itemKey(follower)))
                return fail(&reason, "the template item " + follower + " following " + afterName +
                                         " does not exist");
        }
        config::LinkedList list(m_store, m_key);
        created = list.insertAfter(afterName, {{kPath, item.path}, {kArg, item.arg}});
        if (!created)
            reason = platform::RegistryStore::lastError();
        return created.has_value();
    });
    if (!created)
        fail(error, reason);
    return created;
}

bool Patterns::Remove(const std::string& name, std::string* error)
{
    if (!m_open)
        return fail(error, m_openError);
    if (!usableName(name))
        return fail(error, "the template item \"" + name + "\" does not exist");
    const auto held = lock(error);
    if (!held)
        return false;
    if (!config::LinkedList(m_store, m_key).remove(name))
        return fail(error, "the template item " + name + " cannot be removed: " + platform::RegistryStore::lastError());
    return true;
}

bool Patterns::MoveAfter(const std::string& name, const std::string& afterName, std::string* error)
{
    if (!m_open)
        return fail(error, m_openError);
    if (!usableName(name) || (!afterName.empty() && !usableName(afterName)))
        return fail(error, "no such template item");
    const auto held = lock(error);
    if (!held)
        return false;
    if (!config::LinkedList(m_store, m_key).moveAfter(name, afterName))
        return fail(error, "the template item " + name + " cannot be moved: " + platform::RegistryStore::lastError());
    return true;
}

bool Patterns::Load(std::vector<PatternItem>& items, std::string* error)
{
    items.clear();
    if (!m_open)
        return fail(error, m_openError);
    const auto held = lock(error);
    if (!held)
        return false;
    platform::RegistryStore& registry = m_store.registry();
    const auto read = [&](const std::string& item, const char* name) {
        const auto value = registry.getValue(itemKey(item), name);
        return value ? value->asText() : std::string();
    };
    const bool ok = registry.snapshot([&] {
        config::LinkedList list(m_store, m_key);
        for (const std::string& name : list.items()) {
            PatternItem item;
            item.keyName = name;
            item.path = read(name, kPath);
            item.text = m_catalogue.Text(item.path);
            item.chunk = m_catalogue.Chunk(item.path);
            item.arg = read(name, kArg);
            item.prev = read(name, kPrev);
            item.next = read(name, kNext);
            items.push_back(std::move(item));
        }
        return true;
    });
    if (!ok) {
        items.clear();
        return fail(error, platform::RegistryStore::lastError());
    }
    return true;
}

void Patterns::BuildPhraseList(const std::vector<PatternItem>& items, const RowValues& row,
                               const CalendarDate& today, PhraseList& list)
{
    for (const PatternItem& item : items) {
        const bool function = !item.chunk.empty() && item.chunk[0] == '@';
        const bool dictionary = !item.chunk.empty() && item.chunk[0] == '#';
        if (!function && !dictionary) {
            // A fixed phrase, the delivery marker, or the empty code of a missing leaf.
            list.push_back(item.chunk);
            continue;
        }
        const auto number = codeNumber(item.chunk);
        if (!number || item.column < 1)
            continue;
        const auto text = row.columnText(item.column);
        if (!text)
            continue;
        if (function) {
            SpeakFunction(*number, *text, today, list);
        } else if (*number == kDictionaryLookUp) {
            // Field texts arrive decoded from the table's code page, and dictionary words are
            // stored as text, so a word kept in a cp866 table matches its entry as one kept in a
            // cp1251 table does: the byte conversion between the two is already done.
            m_catalogue.LookUpDictionary(item.path, std::string(platform::trimBlanks(*text)), list);
        }
    }
}

void assignColumns(std::vector<PatternItem>& items, const std::vector<std::string>& fieldNames)
{
    for (PatternItem& item : items) {
        item.column = 0;
        if (item.arg.empty())
            continue;
        const std::size_t limit =
            std::min<std::size_t>(fieldNames.size(), std::numeric_limits<std::int16_t>::max());
        for (std::size_t i = 0; i < limit; ++i) {
            if (platform::equalsIgnoreCase(fieldNames[i], item.arg)) {
                item.column = static_cast<std::int16_t>(i + 1);
                break;
            }
        }
    }
}

std::optional<unsigned> codeNumber(const std::string& chunk)
{
    if (chunk.size() != 4)
        return std::nullopt;
    unsigned number = 0;
    for (std::size_t i = 1; i < 4; ++i) {
        if (chunk[i] < '0' || chunk[i] > '9')
            return std::nullopt;
        number = number * 10 + static_cast<unsigned>(chunk[i] - '0');
    }
    return number;
}

}  // namespace peltra::speech
