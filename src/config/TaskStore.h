// Database bindings ("Task": a named table with its notes) and their tasks ("Operators"), and the
// store object through which the windows, the tools and the engine reach every definition by
// binding name and task name.
#pragma once

#include "config/ConfigStore.h"
#include "config/Operator.h"

#include <optional>
#include <string>
#include <vector>

namespace peltra::config {

enum class AddResult {
    Added,
    Exists,   // the name is taken (names compare without regard to case)
    BadName,  // empty, or holds a backslash
    Failed,   // the store could not be written
};

// The tasks of one binding, under its "Операторы" key.
class Operators {
public:
    Operators(ConfigStore& store, std::string binding);

    std::vector<std::string> names();
    AddResult add(const std::string& task);
    bool remove(const std::string& task);
    // The task when it exists.
    std::optional<Operator> find(const std::string& task);
    // Withdraws every task of the binding from scheduling.
    void revokeAll();

private:
    ConfigStore& m_store;
    std::string m_binding;
};

// The stored form of a code page setting: "866", "1251", or "" for "auto" and "" itself; nothing
// for any other text.
std::optional<std::string> codePageSetting(const std::string& text);

// A database binding: the value File (the table's path), Comm (the operator's notes), CodePage and
// its tasks. Like the tasks, it reads and writes the store at once.
class Task {
public:
    Task(ConfigStore& store, std::string name);

    const std::string& name() const { return m_name; }
    std::string file();
    std::string comment();
    // Stores the table's path. A different path withdraws every task of the binding, in the same
    // transaction: their definitions were tested against the other table.
    Change setFile(const std::string& path);
    bool setComment(const std::string& comment);
    // The table's code page when it is unmarked, as stored ("866", "1251" or "" to judge it).
    std::string codePage();
    // Stores a setting codePageSetting accepts; false for other text or a binding that is gone.
    bool setCodePage(const std::string& setting);
    Operators& operators() { return m_operators; }

private:
    ConfigStore& m_store;
    std::string m_name;
    std::string m_key;
    Operators m_operators;
};

// Every binding and task of the station. Each operation finds its binding and task in the store
// by name at the moment it is called and returns copies, so a definition removed meanwhile is
// simply not found.
class TaskStore {
public:
    explicit TaskStore(ConfigStore& store);

    ConfigStore& store() { return m_store; }

    std::vector<std::string> bindingNames();
    AddResult addBinding(const std::string& name, const std::string& file, const std::string& comment);
    // Removes the binding with all its tasks.
    bool removeBinding(const std::string& name);
    std::optional<Task> binding(const std::string& name);
    std::optional<Operator> task(const std::string& binding, const std::string& task);

    // Every task's definition, binding by binding in the store's order.
    std::vector<TaskDefinition> definitions();
    // Fills in the missing values of every task, as the station does once at start-up.
    void openAll();

private:
    bool exists(const std::string& name);

    ConfigStore& m_store;
};

}  // namespace peltra::config
