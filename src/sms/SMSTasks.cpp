// SMS tasks and their templates in the configuration store.
#include "sms/SMSTasks.h"

#include "config/LinkedList.h"
#include "platform/registry/RegistryStore.h"
#include "platform/sync/Event.h"
#include "platform/text/CaseFold.h"

#include <algorithm>

namespace peltra::sms {
namespace {

using config::ConfigStore;
using platform::RegistryValue;

constexpr const char* kFile = "File";
constexpr const char* kValid = "Valid";
constexpr const char* kType = "Type";
constexpr const char* kValue = "Value";

// The lock of a saved template: a backslash, which no task name holds, keeps it apart from
// every task's lock.
std::string savedLockOwner(const std::string& name) { return "saved\\" + name; }

template <typename T>
std::optional<T> failed(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return std::nullopt;
}

bool fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

const char* itemTypeWord(ItemType type) { return type == ItemType::Field ? "FIELD" : "TEXT"; }

ItemType itemTypeOf(const std::string& word)
{
    return platform::equalsIgnoreCase(word, "FIELD") ? ItemType::Field : ItemType::Text;
}

std::string smsTemplateLockName(const std::string& task) { return "sms-template." + platform::foldCase(task); }

std::string taskKey(const std::string& task) { return std::string(kTasksKey) + "\\" + task; }

std::string savedTemplateKey(const std::string& name) { return std::string(kSavedTemplatesKey) + "\\" + name; }

bool isTaskName(const std::string& name)
{
    return config::isKeyName(name) && !platform::equalsIgnoreCase(name, kWorkingCopyName);
}

// ---- SMSPatterns ----------------------------------------------------------------------------

SMSPatterns::SMSPatterns(config::ConfigStore& store, std::string ownerKey, std::string taskName)
    : m_store(store), m_ownerKey(std::move(ownerKey)), m_key(m_ownerKey + "\\" + kTemplateKeyName),
      m_taskName(std::move(taskName)), m_lockName(smsTemplateLockName(m_taskName))
{
}

std::optional<platform::NamedLock> SMSPatterns::lock(std::string* error) const
{
    platform::LockFailure failure;
    auto held = platform::NamedLock::acquire(m_lockName, platform::infiniteTimeout, &failure);
    if (!held)
        fail(error, failure.message);
    return held;
}

bool SMSPatterns::ownerExists() { return m_store.registry().keyExists(ConfigStore::fullPath(m_ownerKey)); }

std::string SMSPatterns::itemPath(const std::string& item) const { return ConfigStore::fullPath(m_key + "\\" + item); }

bool SMSPatterns::items(std::vector<SMSPatternItem>& result, std::string* error)
{
    result.clear();
    const auto held = lock(error);
    if (!held)
        return false;
    platform::RegistryStore& registry = m_store.registry();
    return registry.snapshot([&] {
        for (const std::string& key : config::LinkedList(m_store, m_key).items()) {
            SMSPatternItem item;
            item.key = key;
            const auto type = registry.getValue(itemPath(key), kType);
            const auto value = registry.getValue(itemPath(key), kValue);
            item.type = itemTypeOf(type ? type->asText() : "");
            item.value = value ? value->asText() : "";
            result.push_back(std::move(item));
        }
        return true;
    });
}

std::optional<std::string> SMSPatterns::change(std::string* error, const ItemChange& body)
{
    const auto held = lock(error);
    if (!held)
        return std::nullopt;
    std::optional<std::string> touched;
    std::string reason;
    const bool committed = m_store.registry().transaction([&] {
        touched = body(reason);
        return touched.has_value();
    });
    if (!touched)
        return failed<std::string>(error, reason);
    if (!committed)
        return failed<std::string>(error, "cannot write the template: " + platform::RegistryStore::lastError());
    return touched;
}

std::optional<std::string> SMSPatterns::missingItem(std::string& reason, const std::string& item)
{
    reason = "there is no template item " + inQuotes(item);
    return std::nullopt;
}

std::optional<std::string> SMSPatterns::addAfter(const std::string& after, ItemType type, const std::string& value,
                                                 std::string* error)
{
    return change(error, [&](std::string& reason) -> std::optional<std::string> {
        if (!ownerExists()) {
            reason = "there is no SMS task " + inQuotes(m_taskName);
            return std::nullopt;
        }
        if (!after.empty() && !m_store.registry().keyExists(itemPath(after)))
            return missingItem(reason, after);
        auto created =
            config::LinkedList(m_store, m_key).insertAfter(after, {{kType, itemTypeWord(type)}, {kValue, value}});
        if (!created)
            reason = "cannot add the template item: " + platform::RegistryStore::lastError();
        return created;
    });
}

std::optional<std::string> SMSPatterns::append(ItemType type, const std::string& value, std::string* error)
{
    return change(error, [&](std::string& reason) -> std::optional<std::string> {
        if (!ownerExists()) {
            reason = "there is no SMS task " + inQuotes(m_taskName);
            return std::nullopt;
        }
        config::LinkedList list(m_store, m_key);
        const std::vector<std::string> order = list.items();
        auto created =
            list.insertAfter(order.empty() ? "" : order.back(), {{kType, itemTypeWord(type)}, {kValue, value}});
        if (!created)
            reason = "cannot add the template item: " + platform::RegistryStore::lastError();
        return created;
    });
}

std::optional<std::string> SMSPatterns::remove(const std::string& item, std::string* error)
{
    if (!config::isKeyName(item))
        return failed<std::string>(error, "there is no template item " + inQuotes(item));
    return change(error, [&](std::string& reason) -> std::optional<std::string> {
        if (!m_store.registry().keyExists(itemPath(item)))
            return missingItem(reason, item);
        if (!config::LinkedList(m_store, m_key).remove(item)) {
            reason = "cannot remove the template item " + inQuotes(item) + ": " +
                     platform::RegistryStore::lastError();
            return std::nullopt;
        }
        return item;
    });
}

std::optional<std::string> SMSPatterns::moveAfter(const std::string& item, const std::string& after,
                                                   std::string* error)
{
    if (!config::isKeyName(item))
        return failed<std::string>(error, "there is no template item " + inQuotes(item));
    return change(error, [&](std::string& reason) -> std::optional<std::string> {
        platform::RegistryStore& registry = m_store.registry();
        if (!registry.keyExists(itemPath(item)))
            return missingItem(reason, item);
        if (!after.empty() && !registry.keyExists(itemPath(after)))
            return missingItem(reason, after);
        if (!config::LinkedList(m_store, m_key).moveAfter(item, after)) {
            reason = "cannot move the template item " + inQuotes(item) + ": " +
                     platform::RegistryStore::lastError();
            return std::nullopt;
        }
        return item;
    });
}

std::optional<std::string> SMSPatterns::replace(const std::string& item, ItemType type, const std::string& value,
                                                std::string* error)
{
    if (!config::isKeyName(item))
        return failed<std::string>(error, "there is no template item " + inQuotes(item));
    return change(error, [&](std::string& reason) -> std::optional<std::string> {
        platform::RegistryStore& registry = m_store.registry();
        if (!registry.keyExists(itemPath(item)))
            return missingItem(reason, item);
        if (!registry.setValue(itemPath(item), kType, RegistryValue::text(itemTypeWord(type))) ||
            !registry.setValue(itemPath(item), kValue, RegistryValue::text(value))) {
            reason = "cannot change the template item " + inQuotes(item) + ": " +
                     platform::RegistryStore::lastError();
            return std::nullopt;
        }
        return item;
    });
}

// ---- SMSTask --------------------------------------------------------------------------------

SMSTask::SMSTask(config::ConfigStore& store, std::string name)
    : m_store(store), m_name(std::move(name)), m_key(taskKey(m_name)), m_patterns(store, m_key, m_name)
{
}

std::string SMSTask::file()
{
    const auto value = m_store.registry().getValue(ConfigStore::fullPath(m_key), kFile);
    return value ? value->asText() : std::string();
}

bool SMSTask::setFile(const std::string& path)
{
    platform::RegistryStore& registry = m_store.registry();
    const std::string full = ConfigStore::fullPath(m_key);
    return registry.transaction([&] {
        if (!registry.keyExists(full))
            return false;
        const auto old = registry.getValue(full, kFile);
        if (old && old->asText() == path)
            return true;
        // Another source table: whatever was checked about the old one no longer holds.
        return registry.setValue(full, kFile, RegistryValue::text(path)) &&
               registry.setValue(full, kValid, RegistryValue::dword(0));
    });
}

bool SMSTask::valid()
{
    const auto value = m_store.registry().getValue(ConfigStore::fullPath(m_key), kValid);
    return value && value->asDword() != 0;
}

// ---- SMSTasks -------------------------------------------------------------------------------

SMSTasks::SMSTasks(config::ConfigStore& store) : m_store(store) {}

bool SMSTasks::load()
{
    std::lock_guard guard(m_mutex);
    m_tasks.clear();
    for (const std::string& name : m_store.registry().subKeys(ConfigStore::fullPath(kTasksKey))) {
        if (isTaskName(name))
            m_tasks.push_back(std::make_shared<SMSTask>(m_store, name));
    }
    return m_store.registry().isOpen();
}

std::vector<std::string> SMSTasks::names() const
{
    std::lock_guard guard(m_mutex);
    std::vector<std::string> result;
    for (const auto& task : m_tasks)
        result.push_back(task->name());
    return result;
}

std::shared_ptr<SMSTask> SMSTasks::findLocked(const std::string& name) const
{
    for (const auto& task : m_tasks)
        if (platform::equalsIgnoreCase(task->name(), name))
            return task;
    return nullptr;
}

std::shared_ptr<SMSTask> SMSTasks::find(const std::string& name) const
{
    std::lock_guard guard(m_mutex);
    return findLocked(name);
}

AddTaskResult SMSTasks::addTask(const std::string& name)
{
    if (!isTaskName(name))
        return AddTaskResult::BadName;
    std::lock_guard guard(m_mutex);
    platform::RegistryStore& registry = m_store.registry();
    const std::string full = ConfigStore::fullPath(taskKey(name));
    AddTaskResult result = AddTaskResult::StoreError;
    registry.transaction([&] {
        // Another process may have made it since this collection was loaded.
        if (findLocked(name) || registry.keyExists(full)) {
            result = AddTaskResult::Duplicate;
            return false;
        }
        if (!registry.setValue(full, kFile, RegistryValue::text("")) ||
            !registry.setValue(full, kValid, RegistryValue::dword(0)) ||
            !registry.createKey(ConfigStore::fullPath(taskKey(name) + "\\" + kTemplateKeyName)))
            return false;
        result = AddTaskResult::Added;
        return true;
    });
    if (result == AddTaskResult::Added)
        m_tasks.push_back(std::make_shared<SMSTask>(m_store, name));
    return result;
}

bool SMSTasks::removeTask(const std::string& name)
{
    std::lock_guard guard(m_mutex);
    const auto task = findLocked(name);
    if (!task)
        return false;
    // Waits for a change of the template in progress, so none is left half done in a deleted key.
    const auto held = platform::NamedLock::acquire(task->patterns().lockName(), platform::infiniteTimeout);
    if (!held || !m_store.deleteKey(task->key()))
        return false;
    m_tasks.erase(std::find(m_tasks.begin(), m_tasks.end(), task));
    return true;
}

AddTaskResult SMSTasks::renameTask(const std::string& from, const std::string& to)
{
    if (!isTaskName(to))
        return AddTaskResult::BadName;
    std::lock_guard guard(m_mutex);
    const auto task = findLocked(from);
    if (!task)
        return AddTaskResult::StoreError;
    if (task->name() == to)
        return AddTaskResult::Added;
    const auto other = findLocked(to);
    if (other && other != task)
        return AddTaskResult::Duplicate;
    const std::string fromLock = smsTemplateLockName(from);
    const std::string toLock = smsTemplateLockName(to);
    // Both templates' locks, in name order; a change of letter case only keeps one lock.
    std::optional<platform::NamedLock> first = platform::NamedLock::acquire(std::min(fromLock, toLock),
                                                                             platform::infiniteTimeout);
    std::optional<platform::NamedLock> second;
    if (fromLock != toLock)
        second = platform::NamedLock::acquire(std::max(fromLock, toLock), platform::infiniteTimeout);
    if (!first || (fromLock != toLock && !second))
        return AddTaskResult::StoreError;
    platform::RegistryStore& registry = m_store.registry();
    const std::string fromFull = ConfigStore::fullPath(task->key());
    const std::string toFull = ConfigStore::fullPath(taskKey(to));
    // Outside "SMSTasks\", so that it can never stand for another task.
    const std::string tempFull = ConfigStore::fullPath(std::string("SMSRenaming\\") + to);
    AddTaskResult result = AddTaskResult::StoreError;
    registry.transaction([&] {
        if (!registry.keyExists(fromFull))
            return false;
        if (fromLock != toLock && registry.keyExists(toFull)) {
            result = AddTaskResult::Duplicate;
            return false;
        }
        // Through a key of another name, so that a change of letter case alone works too.
        if (!registry.deleteKey(tempFull) || !registry.copyKey(fromFull, tempFull) || !registry.deleteKey(fromFull) ||
            !registry.copyKey(tempFull, toFull) || !registry.deleteKey(ConfigStore::fullPath("SMSRenaming")))
            return false;
        result = AddTaskResult::Added;
        return true;
    });
    if (result == AddTaskResult::Added)
        *std::find(m_tasks.begin(), m_tasks.end(), task) = std::make_shared<SMSTask>(m_store, to);
    return result;
}

std::optional<std::string> SMSTasks::file(const std::string& task) const
{
    std::lock_guard guard(m_mutex);
    const auto found = findLocked(task);
    if (!found)
        return std::nullopt;
    return found->file();
}

bool SMSTasks::setFile(const std::string& task, const std::string& path)
{
    std::lock_guard guard(m_mutex);
    const auto found = findLocked(task);
    return found && found->setFile(path);
}

std::string SMSTasks::templateKeyOf(const std::string& ownerKey) const
{
    return ownerKey + "\\" + kTemplateKeyName;
}

bool SMSTasks::copyItems(const std::string& fromOwner, const std::string& fromLock, const std::string& toOwner,
                         const std::string& toLock, bool createOwner, std::string* error)
{
    if (fromLock == toLock)
        return true;
    platform::LockFailure failure;
    std::optional<platform::NamedLock> first =
        platform::NamedLock::acquire(std::min(fromLock, toLock), platform::infiniteTimeout, &failure);
    std::optional<platform::NamedLock> second;
    if (first)
        second = platform::NamedLock::acquire(std::max(fromLock, toLock), platform::infiniteTimeout, &failure);
    if (!first || !second)
        return fail(error, failure.message);
    platform::RegistryStore& registry = m_store.registry();
    std::string reason;
    const bool ok = registry.transaction([&] {
        if (!registry.keyExists(ConfigStore::fullPath(fromOwner)))
            return fail(&reason, "there is no " + inQuotes(fromOwner));
        if (!createOwner && !registry.keyExists(ConfigStore::fullPath(toOwner)))
            return fail(&reason, "there is no " + inQuotes(toOwner));
        const std::string fromTemplate = ConfigStore::fullPath(templateKeyOf(fromOwner));
        const std::string toTemplate = ConfigStore::fullPath(templateKeyOf(toOwner));
        if (!registry.deleteKey(toTemplate) || !registry.createKey(toTemplate))
            return fail(&reason, platform::RegistryStore::lastError());
        if (registry.keyExists(fromTemplate) && !registry.copyKey(fromTemplate, toTemplate))
            return fail(&reason, platform::RegistryStore::lastError());
        return true;
    });
    return ok || fail(error, reason);
}

bool SMSTasks::copyTemplate(const std::string& from, const std::string& to, std::string* error)
{
    std::lock_guard guard(m_mutex);
    return copyItems(taskKey(from), smsTemplateLockName(from), taskKey(to), smsTemplateLockName(to), false, error);
}

bool SMSTasks::beginEditing(const std::string& task, std::string* error)
{
    std::lock_guard guard(m_mutex);
    if (!findLocked(task))
        return fail(error, "there is no SMS task " + inQuotes(task));
    return copyItems(taskKey(task), smsTemplateLockName(task), taskKey(kWorkingCopyName),
                     smsTemplateLockName(kWorkingCopyName), true, error);
}

bool SMSTasks::applyEditing(const std::string& task, std::string* error)
{
    std::lock_guard guard(m_mutex);
    if (!findLocked(task))
        return fail(error, "there is no SMS task " + inQuotes(task));
    return copyItems(taskKey(kWorkingCopyName), smsTemplateLockName(kWorkingCopyName), taskKey(task),
                     smsTemplateLockName(task), false, error);
}

bool SMSTasks::cancelEditing()
{
    std::lock_guard guard(m_mutex);
    const auto held = platform::NamedLock::acquire(smsTemplateLockName(kWorkingCopyName), platform::infiniteTimeout);
    return held && m_store.deleteKey(taskKey(kWorkingCopyName));
}

SMSPatterns SMSTasks::workingCopy() { return SMSPatterns(m_store, taskKey(kWorkingCopyName), kWorkingCopyName); }

std::vector<std::string> SMSTasks::savedTemplates()
{
    return m_store.registry().subKeys(ConfigStore::fullPath(kSavedTemplatesKey));
}

bool SMSTasks::saveTemplate(const std::string& task, const std::string& templateName, std::string* error)
{
    if (!config::isKeyName(templateName))
        return fail(error, "a template name must not be empty or hold a backslash");
    std::lock_guard guard(m_mutex);
    return copyItems(taskKey(task), smsTemplateLockName(task), savedTemplateKey(templateName),
                     smsTemplateLockName(savedLockOwner(templateName)), true, error);
}

bool SMSTasks::loadTemplate(const std::string& templateName, const std::string& task, std::string* error)
{
    if (!config::isKeyName(templateName))
        return fail(error, "there is no saved template " + inQuotes(templateName));
    std::lock_guard guard(m_mutex);
    return copyItems(savedTemplateKey(templateName), smsTemplateLockName(savedLockOwner(templateName)),
                     taskKey(task), smsTemplateLockName(task), false, error);
}

bool SMSTasks::removeSavedTemplate(const std::string& templateName)
{
    if (!config::isKeyName(templateName))
        return false;
    std::lock_guard guard(m_mutex);
    const auto held = platform::NamedLock::acquire(smsTemplateLockName(savedLockOwner(templateName)),
                                                   platform::infiniteTimeout);
    return held && m_store.deleteKey(savedTemplateKey(templateName));
}

}  // namespace peltra::sms
