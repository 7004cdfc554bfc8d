// Bindings, their tasks, and the by-name access to both.
#include "config/TaskStore.h"

#include "platform/text/CaseFold.h"

namespace peltra::config {

namespace {

std::string operatorsKey(const std::string& binding) { return bindingKey(binding) + "\\" + kOperatorsKeyName; }

}  // namespace

std::optional<std::string> codePageSetting(const std::string& text)
{
    if (text.empty() || platform::equalsIgnoreCase(text, "auto"))
        return std::string();
    if (text == "866" || text == "1251")
        return text;
    return std::nullopt;
}

Operators::Operators(ConfigStore& store, std::string binding) : m_store(store), m_binding(std::move(binding)) {}

std::vector<std::string> Operators::names()
{
    if (!isKeyName(m_binding))
        return {};
    return m_store.subKeys(operatorsKey(m_binding));
}

AddResult Operators::add(const std::string& task)
{
    if (!isKeyName(task) || !isKeyName(m_binding))
        return AddResult::BadName;
    Operator created(m_store, m_binding, task);
    if (created.create())
        return AddResult::Added;
    return created.exists() ? AddResult::Exists : AddResult::Failed;
}

bool Operators::remove(const std::string& task)
{
    return isKeyName(task) && isKeyName(m_binding) && m_store.registry().transaction([&] {
        const std::string key = taskKey(m_binding, task);
        return m_store.registry().keyExists(ConfigStore::fullPath(key)) && m_store.deleteKey(key);
    });
}

std::optional<Operator> Operators::find(const std::string& task)
{
    Operator found(m_store, m_binding, task);
    if (!found.exists())
        return std::nullopt;
    return found;
}

void Operators::revokeAll()
{
    m_store.registry().transaction([&] {
        for (const std::string& task : names())
            Operator(m_store, m_binding, task).revokeValidity();
        return true;
    });
}

Task::Task(ConfigStore& store, std::string name)
    : m_store(store), m_name(std::move(name)), m_key(bindingKey(m_name)), m_operators(store, m_name)
{
}

std::string Task::file() { return m_store.readText(m_key, "File", ""); }

std::string Task::comment() { return m_store.readText(m_key, "Comm", ""); }

Change Task::setFile(const std::string& path)
{
    Change change = Change::NotFound;
    const bool ok = m_store.registry().transaction([&] {
        if (!m_store.registry().keyExists(ConfigStore::fullPath(m_key)))
            return false;
        change = Change::Unchanged;
        if (file() == path)
            return true;
        change = Change::Changed;
        if (!m_store.writeText(m_key, "File", path))
            return false;
        m_operators.revokeAll();
        return true;
    });
    // A write that failed was rolled back whole: nothing changed.
    return ok ? change : Change::NotFound;
}

bool Task::setComment(const std::string& comment)
{
    return m_store.registry().transaction([&] {
        return m_store.registry().keyExists(ConfigStore::fullPath(m_key)) && m_store.writeText(m_key, "Comm", comment);
    });
}

std::string Task::codePage()
{
    // A binding without the value judges its table's text; reading it writes nothing.
    const KeyValues values(m_store, m_key);
    const platform::RegistryValue* value = values.find(kCodePageValueName);
    return value ? value->asText() : std::string();
}

bool Task::setCodePage(const std::string& setting)
{
    const auto stored = codePageSetting(setting);
    return stored && m_store.registry().transaction([&] {
        return m_store.registry().keyExists(ConfigStore::fullPath(m_key)) &&
               m_store.writeText(m_key, kCodePageValueName, *stored);
    });
}

TaskStore::TaskStore(ConfigStore& store) : m_store(store) {}

bool TaskStore::exists(const std::string& name)
{
    return isKeyName(name) && m_store.registry().keyExists(ConfigStore::fullPath(bindingKey(name)));
}

std::vector<std::string> TaskStore::bindingNames() { return m_store.subKeys(kTasksKeyName); }

AddResult TaskStore::addBinding(const std::string& name, const std::string& file, const std::string& comment)
{
    if (!isKeyName(name))
        return AddResult::BadName;
    AddResult result = AddResult::Failed;
    m_store.registry().transaction([&] {
        if (exists(name)) {
            result = AddResult::Exists;
            return false;
        }
        const std::string key = bindingKey(name);
        const bool ok = m_store.writeText(key, "File", file) && m_store.writeText(key, "Comm", comment) &&
                        m_store.registry().createKey(ConfigStore::fullPath(operatorsKey(name)));
        if (ok)
            result = AddResult::Added;
        return ok;
    });
    return result;
}

bool TaskStore::removeBinding(const std::string& name)
{
    return m_store.registry().transaction([&] { return exists(name) && m_store.deleteKey(bindingKey(name)); });
}

std::optional<Task> TaskStore::binding(const std::string& name)
{
    if (!exists(name))
        return std::nullopt;
    return Task(m_store, name);
}

std::optional<Operator> TaskStore::task(const std::string& binding, const std::string& task)
{
    return Operators(m_store, binding).find(task);
}

std::vector<TaskDefinition> TaskStore::definitions()
{
    std::vector<TaskDefinition> all;
    m_store.registry().snapshot([&] {
        for (const std::string& binding : bindingNames())
            for (const std::string& task : Operators(m_store, binding).names())
                all.push_back(Operator(m_store, binding, task).definition());
        return true;
    });
    return all;
}

void TaskStore::openAll()
{
    m_store.registry().transaction([&] {
        for (const std::string& binding : bindingNames())
            for (const std::string& task : Operators(m_store, binding).names())
                Operator(m_store, binding, task).open();
        return true;
    });
}

}  // namespace peltra::config
