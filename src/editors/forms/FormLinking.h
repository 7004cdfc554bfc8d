// The window that links tasks to the lines allowed to serve them, drawn as connecting lines.
#pragma once

#include "config/ConfigStore.h"

#include <QDialog>
#include <QPointF>
#include <QRectF>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QGraphicsView;
class QPoint;
class QShowEvent;

namespace peltra::engine {
class StationFlags;
}
namespace peltra::platform {
class Event;
}

namespace peltra::editors {

class LinkScene;

// "Установка связи между заданиями и портами": every task of every binding on the left
// ("binding\task"), the lines on the right, one connecting line per link. Dragging from a task to
// a port or from a port to a task adds a link; the context menus remove a link and open the
// properties of a task or a port. Nothing reaches the store before OK, "Применить" or Yes on the
// closing question; "Отмена" leaves the store as it was, and every opening draws the store anew.
// Lives on the UI thread.
class FormLinking : public QDialog {
    Q_OBJECT

public:
    enum class NodeKind { Task, Port };

    // flags: the running station's mirror of the manual-linking flag; wake: the controller's
    // wake-up event. Either may be null (no station running).
    FormLinking(config::ConfigStore& store, engine::StationFlags* flags, platform::Event* wake,
                QWidget* parent = nullptr);
    ~FormLinking() override;

    // What "Свойства задания" opens: the task dialog as the task manager opens it (with its
    // withdrawal notice), then a wake-up of the controller; unless replaced (an empty opener
    // disables the item).
    using TaskOpener = std::function<void(QWidget* parent, const std::string& binding, const std::string& task)>;
    void setTaskOpener(TaskOpener opener) { m_taskOpener = std::move(opener); }

    // The drawn links as (task label "binding\task", port name), task by task in the order of
    // each task's links.
    std::vector<std::pair<std::string, std::string>> links() const;
    bool isModified() const { return m_modified; }
    // Where a node is drawn, in scene coordinates; nothing when there is no such node.
    std::optional<QRectF> nodeRect(NodeKind kind, const std::string& label) const;
    QGraphicsView* view() const { return m_view; }

    // Adds the link between two nodes when they are a task and a port, in either order, and the
    // link is not drawn yet; true when one was added. Where a drag between nodes ends.
    bool connectNodes(NodeKind fromKind, std::size_t from, NodeKind toKind, std::size_t to);
    // The context menu of whatever is drawn at scenePos, shown at screenPos.
    void showContextMenu(const QPointF& scenePos, const QPoint& screenPos);

    static const char* const kTitle;
    static const char* const kQuestionTitle;
    static const char* const kQuestion;
    static const char* const kSaveFailed;

public slots:
    // Writes the manual-linking flag and every task's ports, updates the station's flag and wakes
    // the controller. false, with a message shown and nothing changed, when the store fails.
    bool apply();
    void accept() override;
    // Closing the window: asks about unapplied changes first.
    void reject() override;
    // "Отмена": closes without saving.
    void cancel();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct TaskNode {
        std::string binding;
        std::string task;
        std::string label;
    };
    struct PortNode {
        std::string name;
        bool configured = true;  // false: only a task's stored list names it
    };
    struct Link {
        std::size_t task = 0;
        std::size_t port = 0;
    };

    // Reads the tasks, the lines, every task's links and the flag from the store and redraws.
    void load();
    void draw();
    void drawLinks();
    void setModified(bool on) { m_modified = on; }
    void removeLink(std::size_t index);
    void openPortProperties(const std::string& port);
    std::size_t portIndex(const std::string& name);

    config::ConfigStore& m_store;
    engine::StationFlags* m_flags;
    platform::Event* m_wake;
    TaskOpener m_taskOpener;

    std::vector<TaskNode> m_tasks;
    std::vector<PortNode> m_ports;
    std::vector<Link> m_links;  // in the order they were made
    bool m_modified = false;

    LinkScene* m_scene;
    QGraphicsView* m_view;
    QCheckBox* m_manual;
};

}  // namespace peltra::editors
