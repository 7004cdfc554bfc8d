// SMS tasks kept under "SMSTasks\": each names a source table and holds a text template, the
// linked list of text and field items under its "Шаблоны" key; saved templates and the editing
// copy "Temp" beside them.
//
// Layout below the configuration root:
//   SMSTasks\<task>            File (text), Valid (number), Шаблоны\0001.. (Prev, Next, Type, Value)
//   SMSTasks\Temp              the editing copy of the window (a task of its own, never listed)
//   SMSTemplates\<name>\Шаблоны  templates saved under a name, in the same item form; kept apart
//                              from SMSTasks so that a saved template never shows up as a task
#pragma once

#include "config/ConfigStore.h"
#include "platform/locks/NamedLock.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace peltra::sms {

inline constexpr char kTasksKey[] = "SMSTasks";
inline constexpr char kSavedTemplatesKey[] = "SMSTemplates";
inline constexpr char kTemplateKeyName[] = "Шаблоны";
// The editing copy; a task cannot be given this name.
inline constexpr char kWorkingCopyName[] = "Temp";
// The required column that holds the telephone number a message goes to.
inline constexpr char kPhoneField[] = "TELEF";

enum class ItemType { Text, Field };

// "TEXT" / "FIELD" as stored; the stored word is read without regard to case, and anything else
// counts as text so that a damaged item still shows what it holds.
const char* itemTypeWord(ItemType type);
ItemType itemTypeOf(const std::string& word);

struct SMSPatternItem {
    std::string key;  // the item's sub-key name ("0001")
    ItemType type = ItemType::Text;
    std::string value;  // the text, or the field name
};

// The named lock of an SMS task's template: "sms-template." and the folded task name. The prefix
// keeps it apart from a voice task's template lock of the same name (those begin "template.").
std::string smsTemplateLockName(const std::string& task);

// A template: a linked list of items under a "Шаблоны" key. Every change and every listing holds
// the owning task's named lock, waiting without limit, so two processes editing one template
// never interleave their relinking; each change is also one store transaction that first checks
// that the owner's key still exists, so a removed task is never brought back. Safe from any
// thread, but not inside a store transaction or a hold of the same lock of the caller's.
class SMSPatterns {
public:
    // ownerKey: the task's (or saved template's) key relative to the root; taskName names the lock.
    SMSPatterns(config::ConfigStore& store, std::string ownerKey, std::string taskName);

    const std::string& key() const { return m_key; }
    const std::string& name() const { return m_name; }
    const std::string& taskName() const { return m_taskName; }
    const std::string& lockName() const { return m_lockName; }

    // The items in linked order (damaged links end the list). false when the lock cannot be taken.
    bool items(std::vector<SMSPatternItem>& result, std::string* error = nullptr);

    // Each returns the key of the item it created or touched; nothing (and *error) on failure,
    // changing nothing. after empty: at the front.
    std::optional<std::string> addAfter(const std::string& after, ItemType type, const std::string& value,
                                        std::string* error = nullptr);
    // After the current last item, found under the same hold of the lock.
    std::optional<std::string> append(ItemType type, const std::string& value, std::string* error = nullptr);
    std::optional<std::string> remove(const std::string& item, std::string* error = nullptr);
    std::optional<std::string> moveAfter(const std::string& item, const std::string& after,
                                         std::string* error = nullptr);
    std::optional<std::string> replace(const std::string& item, ItemType type, const std::string& value,
                                       std::string* error = nullptr);

private:
    // One change of the list: the key of the item it touched, or nothing with reason set.
    using ItemChange = std::function<std::optional<std::string>(std::string& reason)>;

    // Runs a change under the template's lock as one store transaction; a change that fails
    // leaves the list as it was.
    std::optional<std::string> change(std::string* error, const ItemChange& body);
    static std::optional<std::string> missingItem(std::string& reason, const std::string& item);
    std::optional<platform::NamedLock> lock(std::string* error) const;
    bool ownerExists();
    std::string itemPath(const std::string& item) const;

    config::ConfigStore& m_store;
    std::string m_ownerKey;
    std::string m_key;
    std::string m_name = kTemplateKeyName;
    std::string m_taskName;
    std::string m_lockName;
};

// One SMS task. Nothing is cached: every getter reads the store.
class SMSTask {
public:
    SMSTask(config::ConfigStore& store, std::string name);

    const std::string& name() const { return m_name; }
    const std::string& key() const { return m_key; }
    SMSPatterns& patterns() { return m_patterns; }

    // "" when the task or its File is missing (a missing task is not created by reading).
    std::string file();
    bool setFile(const std::string& path);
    bool valid();

private:
    config::ConfigStore& m_store;
    std::string m_name;
    std::string m_key;
    SMSPatterns m_patterns;
};

enum class AddTaskResult { Added, BadName, Duplicate, StoreError };

// The SMS tasks. Every operation takes the collection's mutex, then (for template changes) the
// template's named lock, then the store. Found tasks are shared, so one removed from the
// collection stays usable by whoever holds it (its store operations then fail).
class SMSTasks {
public:
    explicit SMSTasks(config::ConfigStore& store);

    config::ConfigStore& store() { return m_store; }

    // Reads the task names from the store, replacing what was loaded. The editing copy is left out.
    bool load();
    std::vector<std::string> names() const;
    std::shared_ptr<SMSTask> find(const std::string& name) const;

    // A name that is empty, holds a backslash or is the editing copy's is BadName; one in use
    // (compared without regard to case) is Duplicate. A new task has File "" and Valid 0.
    AddTaskResult addTask(const std::string& name);
    bool removeTask(const std::string& name);
    // Gives a task a new name, keeping its file and template. Same refusals as addTask.
    AddTaskResult renameTask(const std::string& from, const std::string& to);

    std::optional<std::string> file(const std::string& task) const;
    // Valid is written 0 when the path differs from the stored one.
    bool setFile(const std::string& task, const std::string& path);

    // Replaces to's template by a copy of from's (both task names, editing copy included).
    bool copyTemplate(const std::string& from, const std::string& to, std::string* error = nullptr);

    // The editing copy: begin copies the task's template into "Temp" (made anew), apply writes it
    // back into the task, cancel drops it. Apply leaves the copy in place for further editing.
    bool beginEditing(const std::string& task, std::string* error = nullptr);
    bool applyEditing(const std::string& task, std::string* error = nullptr);
    bool cancelEditing();
    // The editing copy's template; usable after beginEditing.
    SMSPatterns workingCopy();

    // Saved templates under SMSTemplates\<name>; names as for tasks. Saving over an existing
    // name replaces it.
    std::vector<std::string> savedTemplates();
    bool saveTemplate(const std::string& task, const std::string& templateName, std::string* error = nullptr);
    bool loadTemplate(const std::string& templateName, const std::string& task, std::string* error = nullptr);
    bool removeSavedTemplate(const std::string& templateName);

private:
    std::string templateKeyOf(const std::string& ownerKey) const;
    // Copies under both owners' locks, taken in name order.
    bool copyItems(const std::string& fromOwner, const std::string& fromLock, const std::string& toOwner,
                   const std::string& toLock, bool createOwner, std::string* error);
    std::shared_ptr<SMSTask> findLocked(const std::string& name) const;

    config::ConfigStore& m_store;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<SMSTask>> m_tasks;
};

// The key of a task relative to the configuration root.
std::string taskKey(const std::string& task);
// The key of a saved template's owner.
std::string savedTemplateKey(const std::string& name);
// Whether a name can be a task's or saved template's: a key name that is not the editing copy's.
bool isTaskName(const std::string& name);

}  // namespace peltra::sms
