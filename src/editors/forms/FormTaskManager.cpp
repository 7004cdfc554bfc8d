// The task manager.
#include "editors/forms/FormTaskManager.h"

#include "config/Operator.h"
#include "data/Connection.h"
#include "config/forms/FormCondition.h"
#include "config/forms/FormRange.h"
#include "config/forms/FormSchedule.h"
#include "data/forms/FormTask.h"
#include "editors/forms/FormOperator.h"
#include "editors/forms/FormTemplate.h"
#include "editors/forms/FormTestOperator.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace peltra::editors {

namespace fs = std::filesystem;

namespace {

constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kBindingRole = Qt::UserRole + 2;
constexpr int kTaskRole = Qt::UserRole + 3;
// List rows: the element's name; the adding row has none.
constexpr int kElementRole = Qt::UserRole + 4;

constexpr char kRoot[] = "Базы данных";
constexpr char kRangesNode[] = "Диапазоны";
constexpr char kSchedulesNode[] = "Расписание";
constexpr char kConditionNode[] = "Логическое условие фильтрации";
constexpr char kTemplateNode[] = "Речевой шаблон";

QString q(const std::string& text) { return QString::fromStdString(text); }

QString numbered(const char* pattern, const std::string& keyName)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, static_cast<unsigned>(config::subKeyNumber(keyName)));
    return QString::fromUtf8(text);
}

}  // namespace

void changeTaskTelling(config::ConfigStore& store, const std::string& binding, const std::string& task,
                       QWidget* parent, const std::function<void()>& change)
{
    config::Operator definition(store, binding, task);
    const bool wasValid = definition.valid();
    change();
    if (wasValid && !definition.valid())
        QMessageBox::information(parent, parent->windowTitle(), QString::fromUtf8(kWithdrawalNotice));
}

bool editTaskProperties(config::TaskStore& tasks, const std::string& binding, const std::string& task,
                        QWidget* parent)
{
    // A task removed meanwhile gets no dialog: it would edit nothing.
    if (!tasks.task(binding, task))
        return false;
    changeTaskTelling(tasks.store(), binding, task, parent, [&] {
        FormOperator dialog(tasks, binding, task, parent);
        dialog.exec();
    });
    return true;
}

FormTaskManager::FormTaskManager(config::ConfigStore& store, QWidget* parent)
    : QDialog(parent),
      m_store(store),
      m_tasks(store),
      m_tree(new QTreeWidget(this)),
      m_list(new QTreeWidget(this)),
      m_add(new QPushButton(QStringLiteral("Добавить"), this)),
      m_delete(new QPushButton(QStringLiteral("Удалить"), this)),
      m_change(new QPushButton(QStringLiteral("Изменить"), this))
{
    setObjectName(QStringLiteral("FormTaskManager"));
    setWindowTitle(QStringLiteral("Редактор заданий"));
    m_tree->setObjectName(QStringLiteral("tv_tasks"));
    m_tree->setHeaderHidden(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setObjectName(QStringLiteral("lv_elements"));
    m_list->setRootIsDecorated(false);
    m_add->setObjectName(QStringLiteral("cb_add"));
    m_delete->setObjectName(QStringLiteral("cb_delete"));
    m_change->setObjectName(QStringLiteral("cb_change"));

    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this] { fillList(); });
    connect(m_tree, &QTreeWidget::customContextMenuRequested, this, &FormTaskManager::showContextMenu);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this] { changeElement(); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &FormTaskManager::listActivated);
    connect(m_add, &QPushButton::clicked, this, &FormTaskManager::addElement);
    connect(m_delete, &QPushButton::clicked, this, &FormTaskManager::deleteElement);
    connect(m_change, &QPushButton::clicked, this, &FormTaskManager::changeElement);

    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_tree);
    splitter->addWidget(m_list);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({320, 540});
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* button : {m_add, m_delete, m_change})
        buttons->addWidget(button);
    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    resize(900, 520);
    rebuild();
    selectPath(QString());
}

FormTaskManager::Node FormTaskManager::nodeOf(QTreeWidgetItem* item) const
{
    Node node;
    if (!item)
        return node;
    node.kind = static_cast<NodeKind>(item->data(0, kKindRole).toInt());
    node.binding = item->data(0, kBindingRole).toString().toStdString();
    node.task = item->data(0, kTaskRole).toString().toStdString();
    return node;
}

FormTaskManager::Node FormTaskManager::selectedNode() const { return nodeOf(m_tree->currentItem()); }

QString FormTaskManager::selectedPath() const
{
    QStringList path;
    for (QTreeWidgetItem* item = m_tree->currentItem(); item && item->parent(); item = item->parent())
        path.prepend(item->text(0));
    return path.join(QLatin1Char('\\'));
}

bool FormTaskManager::selectPath(const QString& path)
{
    QTreeWidgetItem* item = m_tree->topLevelItem(0);
    if (!item)
        return false;
    for (const QString& name : path.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i)
            if (item->child(i)->text(0) == name)
                next = item->child(i);
        if (!next)
            break;
        item = next;
    }
    m_tree->setCurrentItem(item);
    return true;
}

void FormTaskManager::rebuild()
{
    const QString keep = selectedPath();
    // The expanded nodes, by path, to open again.
    QStringList expanded;
    std::function<void(QTreeWidgetItem*, const QString&)> collect = [&](QTreeWidgetItem* item, const QString& path) {
        if (item->isExpanded())
            expanded << path;
        for (int i = 0; i < item->childCount(); ++i)
            collect(item->child(i), path + QLatin1Char('\\') + item->child(i)->text(0));
    };
    if (m_tree->topLevelItem(0))
        collect(m_tree->topLevelItem(0), QString());

    m_tree->clear();
    const auto node = [](QTreeWidgetItem* parent, const QString& text, NodeKind kind, const std::string& binding,
                         const std::string& task) {
        auto* item = new QTreeWidgetItem(parent, {text});
        item->setData(0, kKindRole, static_cast<int>(kind));
        item->setData(0, kBindingRole, q(binding));
        item->setData(0, kTaskRole, q(task));
        return item;
    };
    auto* root = new QTreeWidgetItem(m_tree, {QString::fromUtf8(kRoot)});
    root->setData(0, kKindRole, static_cast<int>(NodeKind::Root));
    for (const std::string& binding : m_tasks.bindingNames()) {
        QTreeWidgetItem* bindingItem = node(root, q(binding), NodeKind::Binding, binding, "");
        for (const std::string& task : config::Operators(m_store, binding).names()) {
            QTreeWidgetItem* taskItem = node(bindingItem, q(task), NodeKind::Task, binding, task);
            const bool valid = config::Operator(m_store, binding, task).valid();
            taskItem->setIcon(0, style()->standardIcon(valid ? QStyle::SP_DialogApplyButton : QStyle::SP_DialogNoButton));
            taskItem->setToolTip(0, valid ? QStringLiteral("Включено в планирование")
                                          : QStringLiteral("Исключено из планирования"));
            node(taskItem, QString::fromUtf8(kRangesNode), NodeKind::Ranges, binding, task);
            node(taskItem, QString::fromUtf8(kSchedulesNode), NodeKind::Schedules, binding, task);
            node(taskItem, QString::fromUtf8(kConditionNode), NodeKind::Condition, binding, task);
            node(taskItem, QString::fromUtf8(kTemplateNode), NodeKind::Template, binding, task);
        }
    }
    root->setExpanded(true);
    for (const QString& path : expanded) {
        if (selectPath(path) && m_tree->currentItem())
            m_tree->currentItem()->setExpanded(true);
    }
    selectPath(keep);
    fillList();
}

void FormTaskManager::fillList()
{
    m_list->clear();
    const Node node = selectedNode();
    const auto row = [&](const QStringList& texts, const std::string& element) {
        auto* item = new QTreeWidgetItem(m_list, texts);
        item->setData(0, kElementRole, q(element));
        return item;
    };
    // Each node shows its own columns only, never those of a wider list shown before it.
    const auto headers = [&](const QStringList& labels) {
        m_list->setColumnCount(static_cast<int>(labels.size()));
        m_list->setHeaderLabels(labels);
    };
    const auto addingRow = [&](const QStringList& texts) {
        auto* item = new QTreeWidgetItem(m_list, texts);
        QFont italic = item->font(0);
        italic.setItalic(true);
        item->setFont(0, italic);
        item->setForeground(0, palette().brush(QPalette::Link));
    };
    switch (node.kind) {
    case NodeKind::Root:
        headers({QStringLiteral("Название"), QStringLiteral("Файл"), QStringLiteral("Путь")});
        for (const std::string& binding : m_tasks.bindingNames()) {
            const fs::path file = tableOf(binding);
            row({q(binding), q(file.filename().string()), q(file.parent_path().string())}, binding);
        }
        addingRow({QStringLiteral("Добавить базу данных")});
        break;
    case NodeKind::Binding:
        headers({QStringLiteral("Название"), QStringLiteral("Сортировка"), QStringLiteral("Фильтр")});
        for (const std::string& task : config::Operators(m_store, node.binding).names()) {
            const config::TaskDefinition d = config::Operator(m_store, node.binding, task).definition();
            const QString sort = d.fieldSort.empty() ? QString()
                                                     : q(d.fieldSort) + (d.ascend ? QStringLiteral(" возр.")
                                                                                  : QStringLiteral(" убыв."));
            QString filter = QStringLiteral("Не задан");
            if (d.typefilter == config::kFilterRanges)
                filter = QStringLiteral("Диапазоны по полю \"") +
                         q(config::Operator(m_store, node.binding, task).rangeField()) + QStringLiteral("\"");
            else if (d.typefilter == config::kFilterCondition)
                filter = QStringLiteral("Логическое условие");
            QTreeWidgetItem* item = row({q(task), sort, filter}, task);
            item->setIcon(0, style()->standardIcon(d.valid ? QStyle::SP_DialogApplyButton : QStyle::SP_DialogNoButton));
        }
        addingRow({QStringLiteral("Добавить задание")});
        break;
    case NodeKind::Task:
        headers({QStringLiteral("Название")});
        break;
    case NodeKind::Ranges: {
        headers({QStringLiteral("Название"), QStringLiteral("Min"), QStringLiteral("Поле"), QStringLiteral("Max")});
        config::Operator task(m_store, node.binding, node.task);
        const QString field = q(task.rangeField());
        for (const config::Range& range : task.ranges())
            row({numbered("Диапазон %u", range.name), QString::number(range.minValue), field,
                 QString::number(range.maxValue)},
                range.name);
        addingRow({QStringLiteral("Добавить диапазон"), QString(),
                   field.isEmpty() ? QStringLiteral("<нет>") : field, QString()});
        break;
    }
    case NodeKind::Schedules: {
        headers({QStringLiteral("Название"), QStringLiteral("Расписание")});
        config::Operator task(m_store, node.binding, node.task);
        for (const config::ScheduleData& schedule : task.schedules().all())
            row({numbered("Расписание %u", schedule.name), q(config::scheduleText(schedule.block, schedule.monthMask))},
                schedule.name);
        addingRow({QStringLiteral("Добавить расписание")});
        break;
    }
    case NodeKind::Condition:
        headers({QStringLiteral("Название"), QStringLiteral("Значение")});
        row({QStringLiteral("Условие отбора"),
             q(config::Operator(m_store, node.binding, node.task).conditions().text(false))},
            "condition");
        break;
    case NodeKind::Template: {
        headers({QStringLiteral("Фраза"), QStringLiteral("Код"), QStringLiteral("Поле")});
        speech::Patterns patterns(m_store, node.binding, node.task);
        std::vector<speech::PatternItem> items;
        patterns.Load(items);
        for (const speech::PatternItem& item : items)
            row({q(item.text.empty() ? item.path : item.text), q(item.chunk), q(item.arg)}, item.keyName);
        addingRow({QStringLiteral("Изменить шаблон")});
        break;
    }
    }
    for (int column = 0; column < m_list->columnCount(); ++column)
        m_list->resizeColumnToContents(column);
    m_delete->setEnabled(node.kind != NodeKind::Root && node.kind != NodeKind::Condition);
}

std::filesystem::path FormTaskManager::tableOf(const std::string& binding)
{
    std::optional<config::Task> found = m_tasks.binding(binding);
    return found ? fs::path(found->file()) : fs::path();
}

std::vector<std::string> FormTaskManager::fieldNames(const std::string& binding)
{
    const fs::path table = tableOf(binding);
    data::Connection connection;
    std::vector<std::string> names;
    if (!connection.bind("peltra") || !connection.connect() ||
        !connection.setConnectOption(data::kCurrentQualifierOption, table.parent_path().string()))
        return names;
    if (const auto columns = connection.columns(table.filename().string()))
        for (const data::ColumnInfo& column : *columns)
            names.push_back(column.name);
    return names;
}

void FormTaskManager::changeTask(const std::string& binding, const std::string& task,
                                 const std::function<void()>& change)
{
    changeTaskTelling(m_store, binding, task, this, change);
    finishChange();
}

void FormTaskManager::finishChange()
{
    rebuild();
    emit definitionsChanged();
}

bool FormTaskManager::confirmDelete(const QString& name)
{
    return QMessageBox::warning(this, windowTitle(), QStringLiteral("Вы желаете удалить '") + name +
                                                         QStringLiteral("' ?"),
                                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void FormTaskManager::listActivated(QTreeWidgetItem* row)
{
    if (!row)
        return;
    if (row->data(0, kElementRole).toString().isEmpty())
        addElement();
    else
        changeElement();
}

void FormTaskManager::addElement()
{
    const Node node = selectedNode();
    switch (node.kind) {
    case NodeKind::Root: {
        data::FormTask dialog(m_tasks, std::nullopt, this);
        if (dialog.exec() == QDialog::Accepted)
            finishChange();
        break;
    }
    case NodeKind::Binding: {
        FormOperator dialog(m_tasks, node.binding, {}, this);
        if (dialog.exec() == QDialog::Accepted && dialog.created()) {
            finishChange();
            selectPath(q(node.binding) + QLatin1Char('\\') + q(dialog.taskName()));
            QMessageBox::information(this, windowTitle(), QString::fromUtf8(kNewTaskNotice));
        }
        break;
    }
    case NodeKind::Ranges: {
        config::Operator task(m_store, node.binding, node.task);
        if (task.number(config::TaskProperty::Typefilter) == config::kFilterRanges && task.rangeField().empty()) {
            QMessageBox::information(this, windowTitle(),
                                     QStringLiteral("Для '") + q(node.task) +
                                         QStringLiteral("' не установлено поле диапазона!\r\nВам необходимо его определить"));
            break;
        }
        changeTask(node.binding, node.task, [&] {
            config::FormRange dialog(m_store, node.binding, node.task, std::nullopt, this);
            dialog.exec();
        });
        break;
    }
    case NodeKind::Schedules:
        changeTask(node.binding, node.task, [&] {
            config::FormSchedule dialog(m_store, node.binding, node.task, this);
            dialog.newSchedule();
            dialog.exec();
        });
        break;
    case NodeKind::Condition:
    case NodeKind::Template:
    case NodeKind::Task:
        changeElement();
        break;
    }
}

void FormTaskManager::changeElement()
{
    const Node node = selectedNode();
    QTreeWidgetItem* current = m_list->currentItem();
    const std::string element = current ? current->data(0, kElementRole).toString().toStdString() : std::string();
    switch (node.kind) {
    case NodeKind::Root:
        if (!element.empty()) {
            data::FormTask dialog(m_tasks, element, this);
            if (dialog.exec() == QDialog::Accepted)
                finishChange();
        }
        break;
    case NodeKind::Binding:
        if (!element.empty()) {
            editTaskProperties(m_tasks, node.binding, element, this);
            finishChange();
        } else {
            data::FormTask dialog(m_tasks, node.binding, this);
            if (dialog.exec() == QDialog::Accepted)
                finishChange();
        }
        break;
    case NodeKind::Task:
        editTaskProperties(m_tasks, node.binding, node.task, this);
        finishChange();
        break;
    case NodeKind::Ranges:
        if (element.empty()) {
            addElement();
            break;
        }
        changeTask(node.binding, node.task, [&] {
            config::FormRange dialog(m_store, node.binding, node.task, element, this);
            dialog.exec();
        });
        break;
    case NodeKind::Schedules:
        changeTask(node.binding, node.task, [&] {
            config::FormSchedule dialog(m_store, node.binding, node.task, this);
            if (element.empty())
                dialog.newSchedule();
            else
                dialog.selectSchedule(element);
            dialog.exec();
        });
        break;
    case NodeKind::Condition:
        changeTask(node.binding, node.task, [&] {
            config::FormCondition dialog(m_store, node.binding, node.task, tableOf(node.binding), this);
            dialog.exec();
        });
        break;
    case NodeKind::Template: {
        FormTemplate dialog(m_store, node.binding, node.task, fieldNames(node.binding), this);
        dialog.exec();
        finishChange();
        break;
    }
    }
}

void FormTaskManager::deleteElement()
{
    const Node node = selectedNode();
    QTreeWidgetItem* current = m_list->currentItem();
    const std::string element = current ? current->data(0, kElementRole).toString().toStdString() : std::string();
    switch (node.kind) {
    case NodeKind::Root:
        if (!element.empty() && confirmDelete(q(element)) && m_tasks.removeBinding(element))
            finishChange();
        break;
    case NodeKind::Binding:
        if (element.empty()) {
            if (confirmDelete(q(node.binding)) && m_tasks.removeBinding(node.binding)) {
                finishChange();
                selectPath(QString());
            }
        } else if (confirmDelete(q(element)) && config::Operators(m_store, node.binding).remove(element)) {
            finishChange();
        }
        break;
    case NodeKind::Task:
        if (confirmDelete(q(node.task)) && config::Operators(m_store, node.binding).remove(node.task)) {
            finishChange();
            selectPath(q(node.binding));
        }
        break;
    case NodeKind::Ranges:
        if (!element.empty() && confirmDelete(current->text(0)))
            changeTask(node.binding, node.task,
                       [&] { config::Operator(m_store, node.binding, node.task).removeRange(element); });
        break;
    case NodeKind::Schedules:
        if (!element.empty() && confirmDelete(current->text(0)))
            changeTask(node.binding, node.task,
                       [&] { config::Operator(m_store, node.binding, node.task).schedules().remove(element); });
        break;
    case NodeKind::Template:
        if (!element.empty() && confirmDelete(current->text(0))) {
            speech::Patterns(m_store, node.binding, node.task).Remove(element);
            finishChange();
        }
        break;
    case NodeKind::Condition:
        break;
    }
}

void FormTaskManager::includeTask()
{
    const Node node = selectedNode();
    if (node.kind != NodeKind::Task)
        return;
    FormTestOperator dialog(m_tasks, node.binding, node.task, FormTestOperator::BeforeInclude, this);
    // Included only on OK, and only as tested.
    if (dialog.exec() == QDialog::Accepted) {
        const IncludeResult result = includeTestedTask(m_tasks, dialog.report());
        if (result == IncludeResult::Changed)
            QMessageBox::information(this, windowTitle(),
                                     QStringLiteral("Задание изменилось во время тестирования.\r\nПроверьте его ещё раз."));
    }
    finishChange();
}

void FormTaskManager::excludeTask()
{
    const Node node = selectedNode();
    if (node.kind != NodeKind::Task)
        return;
    config::Operator(m_store, node.binding, node.task).setValid(false);
    finishChange();
}

void FormTaskManager::testTask()
{
    const Node node = selectedNode();
    if (node.kind != NodeKind::Task)
        return;
    FormTestOperator dialog(m_tasks, node.binding, node.task, FormTestOperator::TestOnly, this);
    dialog.exec();
}

void FormTaskManager::showContextMenu(const QPoint& at)
{
    if (QTreeWidgetItem* item = m_tree->itemAt(at))
        m_tree->setCurrentItem(item);
    const Node node = selectedNode();
    QMenu menu(this);
    menu.addAction(QStringLiteral("Открыть"), this, [this] { m_tree->currentItem()->setExpanded(true); });
    if (node.kind == NodeKind::Binding || node.kind == NodeKind::Task) {
        menu.addAction(QStringLiteral("Удалить"), this, &FormTaskManager::deleteElement);
        menu.addAction(QStringLiteral("Свойства"), this, [this] {
            m_list->setCurrentItem(nullptr);
            changeElement();
        });
    }
    if (node.kind == NodeKind::Task) {
        const bool valid = config::Operator(m_store, node.binding, node.task).valid();
        menu.addSeparator();
        menu.addAction(QStringLiteral("Включить в планирование"), this, &FormTaskManager::includeTask)->setEnabled(!valid);
        menu.addAction(QStringLiteral("Исключить из планирования"), this, &FormTaskManager::excludeTask)->setEnabled(valid);
        menu.addAction(QStringLiteral("Тест параметров"), this, &FormTaskManager::testTask);
    }
    menu.exec(m_tree->viewport()->mapToGlobal(at));
}

}  // namespace peltra::editors
