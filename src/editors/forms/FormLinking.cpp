// The window that links tasks to the lines allowed to serve them, drawn as connecting lines.
#include "editors/forms/FormLinking.h"

#include "calls/PortSettings.h"
#include "calls/forms/FormComProperty.h"
#include "config/AppSettings.h"
#include "config/Operator.h"
#include "config/Ranges.h"
#include "config/TaskStore.h"
#include "editors/forms/FormTaskManager.h"
#include "engine/StationFlags.h"
#include "platform/registry/RegistryStore.h"
#include "platform/sync/Event.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontMetricsF>
#include <QGraphicsItem>
#include <QGraphicsLineItem>
#include <QGraphicsScene>
#include <QGraphicsSceneContextMenuEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPathStroker>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyleOptionGraphicsItem>
#include <QVBoxLayout>

#include <algorithm>

namespace peltra::editors {

const char* const FormLinking::kTitle = "Установка связи между заданиями и портами";
const char* const FormLinking::kQuestionTitle = "Связывание заданий с портами";
const char* const FormLinking::kQuestion = "Вы желаете сохранить внесенные изменения?";
const char* const FormLinking::kSaveFailed = "Не удалось сохранить связи заданий с портами.";

namespace {

constexpr int kNodeType = QGraphicsItem::UserType + 1;
constexpr int kLinkType = QGraphicsItem::UserType + 2;

// Geometry of the drawing, in scene units (pixels at the view's scale of 1).
constexpr qreal kNodeHeight = 26;
constexpr qreal kNodeGap = 10;
constexpr qreal kNodePadding = 10;
constexpr qreal kMinNodeWidth = 110;
constexpr qreal kColumnGap = 180;
constexpr qreal kHeaderHeight = 30;
// How far from a link a click still hits it: a 2 px line is too thin to aim at.
constexpr qreal kLinkHitWidth = 10;

const QColor kTaskFill(220, 232, 250);
const QColor kPortFill(222, 243, 222);
const QColor kMissingPortFill(235, 235, 235);
const QColor kLinkColour(40, 70, 150);
const QColor kHighlight(230, 120, 20);

using Kind = FormLinking::NodeKind;

// One task or port: a rounded box with its label. Links end at its inner side (a task's right
// edge, a port's left edge).
class NodeItem : public QGraphicsItem {
public:
    NodeItem(Kind kind, std::size_t index, QString label, const QRectF& rect, bool missing)
        : m_kind(kind), m_index(index), m_label(std::move(label)), m_rect(rect), m_missing(missing)
    {
        setZValue(1);
        if (missing)
            setToolTip(QStringLiteral("Порт не входит в список линий"));
    }

    int type() const override { return kNodeType; }
    Kind kind() const { return m_kind; }
    std::size_t index() const { return m_index; }
    bool missing() const { return m_missing; }
    QPointF anchor() const
    {
        return m_kind == Kind::Task ? QPointF(m_rect.right(), m_rect.center().y())
                                        : QPointF(m_rect.left(), m_rect.center().y());
    }

    void setHighlighted(bool on)
    {
        if (m_highlighted != on) {
            m_highlighted = on;
            update();
        }
    }

    QRectF boundingRect() const override { return m_rect.adjusted(-2, -2, 2, 2); }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override
    {
        painter->setRenderHint(QPainter::Antialiasing);
        QPen pen(m_highlighted ? kHighlight : QColor(90, 90, 90), m_highlighted ? 2 : 1);
        if (m_missing)
            pen.setStyle(Qt::DashLine);
        painter->setPen(pen);
        painter->setBrush(m_kind == Kind::Task ? kTaskFill : (m_missing ? kMissingPortFill : kPortFill));
        painter->drawRoundedRect(m_rect, 5, 5);
        painter->setPen(m_missing ? QColor(110, 110, 110) : QColor(0, 0, 0));
        painter->drawText(m_rect.adjusted(kNodePadding, 0, -kNodePadding, 0), Qt::AlignVCenter | Qt::AlignLeft,
                          m_label);
    }

private:
    Kind m_kind;
    std::size_t m_index;
    QString m_label;
    QRectF m_rect;
    bool m_missing;
    bool m_highlighted = false;
};

// One link. Its hit area is wider than the drawn line, and it lights up under the mouse so the
// user sees which link the menu will act on.
class LinkItem : public QGraphicsLineItem {
public:
    LinkItem(std::size_t index, const QLineF& line) : QGraphicsLineItem(line), m_index(index)
    {
        setPen(QPen(kLinkColour, 2));
        setAcceptHoverEvents(true);
        setZValue(0);
    }

    int type() const override { return kLinkType; }
    std::size_t index() const { return m_index; }

    QRectF boundingRect() const override
    {
        return QGraphicsLineItem::boundingRect().adjusted(-kLinkHitWidth, -kLinkHitWidth, kLinkHitWidth,
                                                          kLinkHitWidth);
    }

    QPainterPath shape() const override
    {
        QPainterPath path(line().p1());
        path.lineTo(line().p2());
        QPainterPathStroker stroker;
        stroker.setWidth(kLinkHitWidth);
        return stroker.createStroke(path);
    }

protected:
    void hoverEnterEvent(QGraphicsSceneHoverEvent*) override { setPen(QPen(kHighlight, 3)); }
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override { setPen(QPen(kLinkColour, 2)); }

private:
    std::size_t m_index;
};

template <typename Item>
Item* topItemAt(QGraphicsScene& scene, const QPointF& at, int itemType)
{
    for (QGraphicsItem* item : scene.items(at)) {
        if (item->type() == itemType)
            return static_cast<Item*>(item);
    }
    return nullptr;
}

QString fromUtf8(const char* text) { return QString::fromUtf8(text); }

}  // namespace

// The drawing: dragging from a node draws a dashed line after the mouse; letting go over a node
// of the other kind asks the form to link the two.
class LinkScene : public QGraphicsScene {
public:
    LinkScene(FormLinking& form, QObject* parent) : QGraphicsScene(parent), m_form(form) {}

    // The items are about to be deleted: forget the drag in progress.
    void forgetItems()
    {
        m_from = nullptr;
        m_rubber = nullptr;
        m_target = nullptr;
    }

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override
    {
        NodeItem* node = event->button() == Qt::LeftButton ? topItemAt<NodeItem>(*this, event->scenePos(), kNodeType)
                                                           : nullptr;
        if (node == nullptr) {
            QGraphicsScene::mousePressEvent(event);
            return;
        }
        endDrag();
        m_from = node;
        m_from->setHighlighted(true);
        m_rubber = addLine(QLineF(node->anchor(), event->scenePos()), QPen(kHighlight, 2, Qt::DashLine));
        m_rubber->setZValue(2);
        event->accept();
    }

    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override
    {
        if (m_from == nullptr) {
            QGraphicsScene::mouseMoveEvent(event);
            return;
        }
        m_rubber->setLine(QLineF(m_from->anchor(), event->scenePos()));
        NodeItem* over = topItemAt<NodeItem>(*this, event->scenePos(), kNodeType);
        if (over != nullptr && over->kind() == m_from->kind())
            over = nullptr;
        if (over != m_target) {
            if (m_target != nullptr)
                m_target->setHighlighted(false);
            m_target = over;
            if (m_target != nullptr)
                m_target->setHighlighted(true);
        }
        event->accept();
    }

    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override
    {
        if (m_from == nullptr) {
            QGraphicsScene::mouseReleaseEvent(event);
            return;
        }
        const Kind fromKind = m_from->kind();
        const std::size_t from = m_from->index();
        NodeItem* to = topItemAt<NodeItem>(*this, event->scenePos(), kNodeType);
        std::optional<std::pair<Kind, std::size_t>> target;
        if (to != nullptr)
            target.emplace(to->kind(), to->index());
        endDrag();
        event->accept();
        // Last: adding a link redraws the links.
        if (target)
            m_form.connectNodes(fromKind, from, target->first, target->second);
    }

    void contextMenuEvent(QGraphicsSceneContextMenuEvent* event) override
    {
        endDrag();
        event->accept();
        m_form.showContextMenu(event->scenePos(), event->screenPos());
    }

private:
    void endDrag()
    {
        if (m_target != nullptr)
            m_target->setHighlighted(false);
        if (m_from != nullptr)
            m_from->setHighlighted(false);
        delete m_rubber;
        forgetItems();
    }

    FormLinking& m_form;
    NodeItem* m_from = nullptr;
    NodeItem* m_target = nullptr;
    QGraphicsLineItem* m_rubber = nullptr;
};

FormLinking::FormLinking(config::ConfigStore& store, engine::StationFlags* flags, platform::Event* wake,
                         QWidget* parent)
    : QDialog(parent), m_store(store), m_flags(flags), m_wake(wake),
      m_taskOpener([this](QWidget* owner, const std::string& binding, const std::string& task) {
          config::TaskStore tasks(m_store);
          // A changed definition is looked at by the next pass at once, as from the task manager.
          if (editTaskProperties(tasks, binding, task, owner) && m_wake != nullptr)
              m_wake->set();
      })
{
    setObjectName("FormLinking");
    setWindowTitle(fromUtf8(kTitle));

    auto* hint = new QLabel(
        QStringLiteral("Захватите мышью задание или порт и протяните соединительную линию к целевому объекту"), this);
    hint->setObjectName("label_hint");
    hint->setWordWrap(true);

    m_scene = new LinkScene(*this, this);
    m_view = new QGraphicsView(m_scene, this);
    m_view->setObjectName("view_links");
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_view->setMinimumSize(560, 300);
    m_view->setBackgroundBrush(Qt::white);

    m_manual = new QCheckBox(QStringLiteral("Установить связь заданий с портами вручную"), this);
    m_manual->setObjectName("checkbox_manual");
    connect(m_manual, &QCheckBox::toggled, this, [this] { setModified(true); });

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_OK");
    ok->setDefault(true);
    QPushButton* cancelButton = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName("cb_Cancel");
    QPushButton* applyButton = buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::ApplyRole);
    applyButton->setObjectName("cb_Apply");
    connect(ok, &QPushButton::clicked, this, &FormLinking::accept);
    connect(cancelButton, &QPushButton::clicked, this, &FormLinking::cancel);
    connect(applyButton, &QPushButton::clicked, this, &FormLinking::apply);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_manual);
    layout->addWidget(buttons);

    load();
}

FormLinking::~FormLinking()
{
    // The scene's items go before the scene's drag state could point at them.
    m_scene->forgetItems();
}

void FormLinking::showEvent(QShowEvent* event)
{
    // Every opening draws what the store holds now: links left unapplied when the window was last
    // closed are gone, and so are tasks removed meanwhile.
    if (!event->spontaneous())
        load();
    QDialog::showEvent(event);
}

std::size_t FormLinking::portIndex(const std::string& name)
{
    // The controller matches port names exactly, so the drawing does too.
    for (std::size_t i = 0; i < m_ports.size(); ++i)
        if (m_ports[i].name == name)
            return i;
    m_ports.push_back({name, false});
    return m_ports.size() - 1;
}

void FormLinking::load()
{
    m_tasks.clear();
    m_ports.clear();
    m_links.clear();

    config::TaskStore tasks(m_store);
    for (const std::string& binding : tasks.bindingNames()) {
        std::optional<config::Task> found = tasks.binding(binding);
        if (!found)
            continue;
        for (const std::string& task : found->operators().names())
            m_tasks.push_back({binding, task, binding + "\\" + task});
    }
    for (const std::string& port : calls::PortSettings(m_store).configuredPorts())
        m_ports.push_back({port, true});

    // Read without writing a default: a task without a list has no links, and opening the
    // window must not give it an empty one.
    for (std::size_t t = 0; t < m_tasks.size(); ++t) {
        const std::string key = config::ConfigStore::fullPath(config::taskKey(m_tasks[t].binding, m_tasks[t].task) +
                                                              "\\" + config::kAvailablePortsKeyName);
        const std::optional<platform::RegistryValue> value = m_store.registry().getValue(key, "main");
        if (!value)
            continue;
        for (const std::string& name : value->asMultiText()) {
            if (name.empty())
                continue;
            // A port the list names but no line uses keeps its link, shown on a node of its own,
            // so that applying does not drop it behind the user's back.
            const std::size_t p = portIndex(name);
            const bool drawn = std::any_of(m_links.begin(), m_links.end(),
                                           [&](const Link& link) { return link.task == t && link.port == p; });
            if (!drawn)
                m_links.push_back({t, p});
        }
    }

    {
        const QSignalBlocker blocker(m_manual);
        m_manual->setChecked(config::AppSettings(m_store).linkTaskPortManual());
    }
    m_modified = false;
    draw();
}

void FormLinking::draw()
{
    m_scene->forgetItems();
    m_scene->clear();

    QFont headerFont = font();
    headerFont.setBold(true);
    const QString taskTitle = QStringLiteral("Назначенные задания");
    const QString portTitle = QStringLiteral("Телефонные каналы");
    const QFontMetricsF metrics(font());
    const QFontMetricsF headerMetrics(headerFont);
    // Each column is as wide as its longest label, and never narrower than its heading.
    qreal taskWidth = std::max(kMinNodeWidth, headerMetrics.horizontalAdvance(taskTitle));
    for (const TaskNode& task : m_tasks)
        taskWidth = std::max(taskWidth, metrics.horizontalAdvance(QString::fromStdString(task.label)) + 2 * kNodePadding + 4);
    qreal portWidth = std::max(kMinNodeWidth, headerMetrics.horizontalAdvance(portTitle));
    for (const PortNode& port : m_ports)
        portWidth = std::max(portWidth, metrics.horizontalAdvance(QString::fromStdString(port.name)) + 2 * kNodePadding + 4);
    const qreal portX = taskWidth + kColumnGap;

    m_scene->addSimpleText(taskTitle, headerFont)->setPos(0, 4);
    m_scene->addSimpleText(portTitle, headerFont)->setPos(portX, 4);

    for (std::size_t i = 0; i < m_tasks.size(); ++i) {
        const QRectF rect(0, kHeaderHeight + static_cast<qreal>(i) * (kNodeHeight + kNodeGap), taskWidth, kNodeHeight);
        m_scene->addItem(new NodeItem(Kind::Task, i, QString::fromStdString(m_tasks[i].label), rect, false));
    }
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        const QRectF rect(portX, kHeaderHeight + static_cast<qreal>(i) * (kNodeHeight + kNodeGap), portWidth,
                          kNodeHeight);
        m_scene->addItem(new NodeItem(Kind::Port, i, QString::fromStdString(m_ports[i].name), rect,
                                      !m_ports[i].configured));
    }
    drawLinks();
    m_scene->setSceneRect(m_scene->itemsBoundingRect().adjusted(-8, -8, 8, 8));
}

void FormLinking::drawLinks()
{
    for (QGraphicsItem* item : m_scene->items()) {
        if (item->type() == kLinkType) {
            m_scene->removeItem(item);
            delete item;
        }
    }
    std::vector<NodeItem*> taskNodes(m_tasks.size(), nullptr);
    std::vector<NodeItem*> portNodes(m_ports.size(), nullptr);
    for (QGraphicsItem* item : m_scene->items()) {
        if (item->type() != kNodeType)
            continue;
        auto* node = static_cast<NodeItem*>(item);
        (node->kind() == Kind::Task ? taskNodes : portNodes)[node->index()] = node;
    }
    for (std::size_t i = 0; i < m_links.size(); ++i) {
        NodeItem* task = taskNodes[m_links[i].task];
        NodeItem* port = portNodes[m_links[i].port];
        if (task != nullptr && port != nullptr)
            m_scene->addItem(new LinkItem(i, QLineF(task->anchor(), port->anchor())));
    }
}

std::vector<std::pair<std::string, std::string>> FormLinking::links() const
{
    std::vector<std::pair<std::string, std::string>> result;
    for (std::size_t t = 0; t < m_tasks.size(); ++t)
        for (const Link& link : m_links)
            if (link.task == t)
                result.emplace_back(m_tasks[t].label, m_ports[link.port].name);
    return result;
}

std::optional<QRectF> FormLinking::nodeRect(Kind kind, const std::string& label) const
{
    for (QGraphicsItem* item : m_scene->items()) {
        if (item->type() != kNodeType)
            continue;
        auto* node = static_cast<NodeItem*>(item);
        if (node->kind() != kind)
            continue;
        const std::string& name = kind == Kind::Task ? m_tasks[node->index()].label : m_ports[node->index()].name;
        if (name == label)
            return node->boundingRect().adjusted(2, 2, -2, -2);
    }
    return std::nullopt;
}

bool FormLinking::connectNodes(Kind fromKind, std::size_t from, Kind toKind, std::size_t to)
{
    if (fromKind == toKind)
        return false;
    const std::size_t task = fromKind == Kind::Task ? from : to;
    const std::size_t port = fromKind == Kind::Port ? from : to;
    if (task >= m_tasks.size() || port >= m_ports.size())
        return false;
    for (const Link& link : m_links)
        if (link.task == task && link.port == port)
            return false;
    m_links.push_back({task, port});
    setModified(true);
    drawLinks();
    return true;
}

void FormLinking::removeLink(std::size_t index)
{
    if (index >= m_links.size())
        return;
    m_links.erase(m_links.begin() + static_cast<std::ptrdiff_t>(index));
    setModified(true);
    drawLinks();
}

void FormLinking::showContextMenu(const QPointF& scenePos, const QPoint& screenPos)
{
    QMenu menu(this);
    menu.setObjectName("menu_links");
    if (NodeItem* node = topItemAt<NodeItem>(*m_scene, scenePos, kNodeType)) {
        const Kind kind = node->kind();
        const std::size_t index = node->index();
        QAction* properties = nullptr;
        if (kind == Kind::Task) {
            properties = menu.addAction(QStringLiteral("Свойства задания"));
            // A task removed since the window opened has no properties left to show.
            properties->setEnabled(m_taskOpener &&
                                   config::TaskStore(m_store).task(m_tasks[index].binding, m_tasks[index].task));
        } else {
            properties = menu.addAction(QStringLiteral("Свойства порта"));
            // The settings of a port that is no line would only be written for nothing.
            properties->setEnabled(m_ports[index].configured);
        }
        menu.addAction(QStringLiteral("Отмена"));
        if (menu.exec(screenPos) != properties)
            return;
        if (kind == Kind::Task)
            m_taskOpener(this, m_tasks[index].binding, m_tasks[index].task);
        else
            openPortProperties(m_ports[index].name);
        return;
    }
    if (LinkItem* link = topItemAt<LinkItem>(*m_scene, scenePos, kLinkType)) {
        const std::size_t index = link->index();
        QAction* remove = menu.addAction(QStringLiteral("Удалить соединение"));
        menu.addAction(QStringLiteral("Отмена"));
        if (menu.exec(screenPos) == remove)
            removeLink(index);
    }
}

void FormLinking::openPortProperties(const std::string& port)
{
    auto* form = new calls::FormComProperty(m_store, port, this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    form->raise();
    form->activateWindow();
}

bool FormLinking::apply()
{
    const bool manual = m_manual->isChecked();
    // Without manual linking no task keeps links.
    if (!manual && !m_links.empty()) {
        m_links.clear();
        drawLinks();
    }

    config::AppSettings settings(m_store);
    platform::RegistryStore& registry = m_store.registry();
    // One transaction: the controller never sees the flag of one apply with the lists of another.
    const bool saved = registry.transaction([&] {
        if (!settings.setLinkTaskPortManual(manual))
            return false;
        for (std::size_t t = 0; t < m_tasks.size(); ++t) {
            const std::string key = config::taskKey(m_tasks[t].binding, m_tasks[t].task);
            // A task removed meanwhile (in the task manager) stays removed.
            if (!registry.keyExists(config::ConfigStore::fullPath(key)))
                continue;
            std::vector<std::string> ports;
            for (const Link& link : m_links)
                if (link.task == t)
                    ports.push_back(m_ports[link.port].name);
            if (ports.empty()) {
                const std::string portsKey = config::ConfigStore::fullPath(key + "\\" + config::kAvailablePortsKeyName);
                if (!registry.deleteValue(portsKey, "main"))
                    return false;
            } else if (!config::AvailablePorts(m_store, key).set(ports)) {
                return false;
            }
        }
        return true;
    });
    if (!saved) {
        const std::string reason = platform::RegistryStore::lastError();
        QString text = fromUtf8(kSaveFailed);
        if (!reason.empty())
            text += QStringLiteral("\r\n") + QString::fromStdString(reason);
        QMessageBox::warning(this, fromUtf8(kQuestionTitle), text);
        return false;
    }

    if (m_flags != nullptr)
        m_flags->setLinkTaskPortManual(manual);
    // Redrawn from the store, which also brings in tasks and lines added meanwhile.
    load();
    if (m_wake != nullptr)
        m_wake->set();
    return true;
}

void FormLinking::accept()
{
    if (apply())
        QDialog::accept();
}

void FormLinking::cancel()
{
    m_modified = false;
    QDialog::reject();
}

void FormLinking::reject()
{
    if (!m_modified) {
        QDialog::reject();
        return;
    }
    QMessageBox box(QMessageBox::Question, fromUtf8(kQuestionTitle), fromUtf8(kQuestion),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
    box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
    case QMessageBox::Yes:
        if (apply())
            QDialog::accept();
        break;
    case QMessageBox::No:
        m_modified = false;
        QDialog::reject();
        break;
    default:
        break;  // stays open
    }
}

}  // namespace peltra::editors
