// The task manager: the tree of bindings, tasks, their ranges, schedules, condition and speech
// template, the list of the selected node's elements with its adding row, and every command that
// creates, changes, removes, includes or excludes them.
#pragma once

#include "config/ConfigStore.h"
#include "config/TaskStore.h"

#include <QDialog>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace peltra::editors {

// The notices the manager shows after a command.
inline constexpr char kWithdrawalNotice[] =
    "Вы изменили ключевые свойства. Задание исключается из планирования.\r\nВам необходимо проверить и "
    "привести в соответствие остальные параметры,\r\nа затем выбрать в меню команду \"Включить в планирование\"";
inline constexpr char kNewTaskNotice[] =
    "Вы создали новое задание, но оно пока не включено в планирование.\r\nВам необходимо задать остальные "
    "параметры (фильтр, расписание, речевой шаблон)\r\nа затем выбрать в меню команду \"Включить в планирование\"";

// Runs a change of a task and, when the change withdrew the task from scheduling, tells the user
// so in a box over parent. Every window that changes a task's definition goes through it.
void changeTaskTelling(config::ConfigStore& store, const std::string& binding, const std::string& task,
                       QWidget* parent, const std::function<void()>& change);
// "Свойства" of a task: its dialog, modal over parent, then the withdrawal notice when the change
// took the task out of scheduling. false, with nothing opened, when the task no longer exists.
bool editTaskProperties(config::TaskStore& tasks, const std::string& binding, const std::string& task,
                        QWidget* parent);

// Node kinds of the tree.
enum class NodeKind { Root, Binding, Task, Ranges, Schedules, Condition, Template };

class FormTaskManager : public QDialog {
    Q_OBJECT
public:
    explicit FormTaskManager(config::ConfigStore& store, QWidget* parent = nullptr);

    QTreeWidget* tree() const { return m_tree; }
    QTreeWidget* list() const { return m_list; }
    // The selected node as a path of names joined by "\"; "" for the root.
    QString selectedPath() const;
    bool selectPath(const QString& path);
    // Rebuilds the tree from the store, keeping the expanded nodes and the selection by path.
    void rebuild();

    // The commands; each works on the selected node and, for the list commands, the list row.
    void addElement();
    void changeElement();
    void deleteElement();
    void includeTask();
    void excludeTask();
    void testTask();

signals:
    // A definition changed (the station wakes its scheduler on it).
    void definitionsChanged();

private:
    struct Node {
        NodeKind kind = NodeKind::Root;
        std::string binding;
        std::string task;
    };

    Node nodeOf(QTreeWidgetItem* item) const;
    Node selectedNode() const;
    void fillList();
    void showContextMenu(const QPoint& at);
    void listActivated(QTreeWidgetItem* row);
    // Runs a change of a task and tells when it withdrew the task from scheduling.
    void changeTask(const std::string& binding, const std::string& task, const std::function<void()>& change);
    std::filesystem::path tableOf(const std::string& binding);
    std::vector<std::string> fieldNames(const std::string& binding);
    bool confirmDelete(const QString& name);
    void finishChange();

    config::ConfigStore& m_store;
    config::TaskStore m_tasks;
    QTreeWidget* m_tree;
    QTreeWidget* m_list;
    QPushButton* m_add;
    QPushButton* m_delete;
    QPushButton* m_change;
};

}  // namespace peltra::editors
