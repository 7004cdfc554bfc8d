// The condition editor: a task's filter condition as logical products of expressions, edited on
// a working copy and written back on "Применить" or "OK".
#include "config/forms/FormCondition.h"

#include "config/forms/FormExpression.h"
#include "data/DbfTable.h"
#include "data/forms/FormViewDbf.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>
#include <utility>

namespace peltra::config {

const char* const FormCondition::kDeleteAllProductsQuestion =
    "Удалить все логические произведения и все входящие в них выражения?";
const char* const FormCondition::kDeleteAllProductsTitle = "Удаление всех условий";
const char* const FormCondition::kDeleteProductQuestion =
    "Удалить указанное логическое произведение и все входящие в него выражения?";
const char* const FormCondition::kDeleteProductTitle = "Удаление логическое произведение";
const char* const FormCondition::kDeleteExpressionsQuestion = "Удалить все выражения этого логического произведения?";
const char* const FormCondition::kDeleteExpressionsTitle = "Удаление выражений";
const char* const FormCondition::kDeleteExpressionQuestion = "Удалить указанное выражение: \r\n";
const char* const FormCondition::kDeleteExpressionTitle = "Удаление выражения";
const char* const FormCondition::kTestTitle = "Проверка логического условия фильтрации";
const char* const FormCondition::kWriteFailed = "Не удалось записать логическое условие.";

namespace {

// Where a tree element stands in the working copy.
constexpr int kProductRole = Qt::UserRole;
constexpr int kExpressionRole = Qt::UserRole + 1;

QStringList tableFields(const std::filesystem::path& table)
{
    QStringList names;
    if (auto dbf = data::DbfTable::open(table, {}))
        for (const data::DbfField& field : dbf->fields())
            names << QString::fromStdString(field.name);
    return names;
}

QPushButton* button(const char* name, const QString& text, QWidget* parent)
{
    auto* made = new QPushButton(text, parent);
    made->setObjectName(name);
    made->setAutoDefault(false);
    return made;
}

}  // namespace

FormCondition::FormCondition(Operator task, std::filesystem::path table, QWidget* parent)
    : QDialog(parent), m_task(std::move(task)), m_table(std::move(table)), m_fields(tableFields(m_table))
{
    setObjectName("FormCondition");
    setWindowTitle(QStringLiteral("Логическое условие"));

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName("tv_conditions");
    m_tree->setHeaderHidden(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setMinimumSize(520, 220);
    connect(m_tree, &QTreeWidget::customContextMenuRequested, this, &FormCondition::showMenu);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item->parent() != nullptr)
            changeExpression();
    });

    auto* hint = new QLabel(QStringLiteral("Команды изменения условия — в контекстном меню (правая кнопка мыши)."),
                            this);
    hint->setObjectName("label_hint");
    hint->setEnabled(false);

    auto* textLabel = new QLabel(QStringLiteral("Полное условие, сформированное в синтаксисе SQL:"), this);
    textLabel->setObjectName("label_sql");
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName("textb_sql");
    m_text->setReadOnly(true);
    m_text->setFixedHeight(m_text->fontMetrics().lineSpacing() * 4 + 12);

    // The commands in their usual order; the test stands apart on the left.
    auto* testButton = button("cb_Test", QStringLiteral("Тест"), this);
    auto* ok = button("cb_OK", QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto* cancel = button("cb_Cancel", QStringLiteral("Отмена"), this);
    auto* reset = button("cb_Reset", QStringLiteral("Сброс"), this);
    auto* applyButton = button("cb_Apply", QStringLiteral("Применить"), this);
    connect(testButton, &QPushButton::clicked, this, &FormCondition::test);
    connect(ok, &QPushButton::clicked, this, &FormCondition::accept);
    connect(cancel, &QPushButton::clicked, this, &FormCondition::reject);
    connect(reset, &QPushButton::clicked, this, &FormCondition::reload);
    connect(applyButton, &QPushButton::clicked, this, [this] { apply(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(testButton);
    buttons->addStretch(1);
    for (QPushButton* command : {ok, cancel, reset, applyButton})
        buttons->addWidget(command);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tree, 1);
    layout->addWidget(hint);
    layout->addWidget(textLabel);
    layout->addWidget(m_text);
    layout->addLayout(buttons);

    reload();
}

FormCondition::FormCondition(ConfigStore& store, const std::string& binding, const std::string& task,
                             std::filesystem::path table, QWidget* parent)
    : FormCondition(Operator(store, binding, task), std::move(table), parent)
{
}

QString FormCondition::conditionText() const { return QString::fromStdString(m_working.text(false)); }

FormCondition::Selection FormCondition::selection() const
{
    Selection selected;
    const QTreeWidgetItem* item = m_tree->currentItem();
    if (item == nullptr || !item->isSelected())
        return selected;
    selected.product = item->data(0, kProductRole).toULongLong();
    if (item->parent() != nullptr)
        selected.expression = item->data(0, kExpressionRole).toULongLong();
    return selected;
}

void FormCondition::select(const Selection& wanted)
{
    for (int p = 0; p < m_tree->topLevelItemCount(); ++p) {
        QTreeWidgetItem* product = m_tree->topLevelItem(p);
        if (!wanted.product || product->data(0, kProductRole).toULongLong() != *wanted.product)
            continue;
        QTreeWidgetItem* target = product;
        if (wanted.expression)
            for (int e = 0; e < product->childCount(); ++e)
                if (product->child(e)->data(0, kExpressionRole).toULongLong() == *wanted.expression)
                    target = product->child(e);
        m_tree->setCurrentItem(target);
        return;
    }
    m_tree->setCurrentItem(nullptr);
}

void FormCondition::refresh(const Selection& keep)
{
    m_tree->clear();
    int ordinal = 0;
    for (std::size_t p = 0; p < m_working.products.size(); ++p) {
        const AndConds& product = m_working.products[p];
        if (product.deleted)
            continue;
        auto* productItem =
            new QTreeWidgetItem(m_tree, {QStringLiteral("Логическое произведение %1").arg(++ordinal)});
        productItem->setData(0, kProductRole, static_cast<qulonglong>(p));
        for (std::size_t e = 0; e < product.conditions.size(); ++e) {
            const AndCond& item = product.conditions[e];
            if (item.deleted)
                continue;
            auto* expressionItem =
                new QTreeWidgetItem(productItem, {QString::fromStdString(item.condition.text(false))});
            expressionItem->setData(0, kProductRole, static_cast<qulonglong>(p));
            expressionItem->setData(0, kExpressionRole, static_cast<qulonglong>(e));
        }
    }
    m_tree->expandAll();
    select(keep);
    m_text->setPlainText(conditionText());
}

QMenu* FormCondition::contextMenu()
{
    const Selection selected = selection();
    auto* menu = new QMenu(this);
    menu->setObjectName("menu_condition");
    auto add = [&](const QString& text, void (FormCondition::*command)(), bool enabled) {
        QAction* action = menu->addAction(text, this, command);
        action->setEnabled(enabled);
    };
    const bool anyProduct = m_tree->topLevelItemCount() > 0;
    const bool onProduct = selected.product.has_value();
    const bool onExpression = selected.expression.has_value();
    add(QStringLiteral("Добавить логическое произведение"), &FormCondition::addProduct, true);
    add(QStringLiteral("Удалить все логические произведения"), &FormCondition::deleteAllProducts, anyProduct);
    add(QStringLiteral("Удалить логическое произведение"), &FormCondition::deleteProduct, onProduct);
    menu->addSeparator();
    add(QStringLiteral("Добавить выражение"), &FormCondition::addExpression, onProduct);
    const AndConds* product = onProduct ? m_working.product(*selected.product) : nullptr;
    const bool anyExpression = product != nullptr && !product->text(false).empty();
    add(QStringLiteral("Удалить все выражения этого произведения"), &FormCondition::deleteAllExpressions,
        anyExpression);
    add(QStringLiteral("Изменить выражение"), &FormCondition::changeExpression, onExpression);
    add(QStringLiteral("Удалить выражение"), &FormCondition::deleteExpression, onExpression);
    menu->addSeparator();
    // Closes the menu without doing anything.
    menu->addAction(QStringLiteral("Отменить"));
    return menu;
}

void FormCondition::showMenu(const QPoint& at)
{
    if (QTreeWidgetItem* item = m_tree->itemAt(at))
        m_tree->setCurrentItem(item);
    else
        m_tree->setCurrentItem(nullptr);
    std::unique_ptr<QMenu> menu(contextMenu());
    menu->exec(m_tree->viewport()->mapToGlobal(at));
}

bool FormCondition::ask(const char* title, const QString& question)
{
    return QMessageBox::question(this, QString::fromUtf8(title), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void FormCondition::addProduct()
{
    const std::size_t index = m_working.addProduct();
    refresh({index, std::nullopt});
}

void FormCondition::deleteAllProducts()
{
    if (m_tree->topLevelItemCount() == 0 || !ask(kDeleteAllProductsTitle, QString::fromUtf8(kDeleteAllProductsQuestion)))
        return;
    m_working.markAllProductsDeleted();
    refresh({});
}

void FormCondition::deleteProduct()
{
    const Selection selected = selection();
    if (!selected.product || !ask(kDeleteProductTitle, QString::fromUtf8(kDeleteProductQuestion)))
        return;
    m_working.markProductDeleted(*selected.product);
    refresh({});
}

void FormCondition::addExpression()
{
    const Selection selected = selection();
    if (!selected.product)
        return;
    FormExpression dialog(m_fields, std::nullopt, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    AndConds* product = m_working.product(*selected.product);
    if (product == nullptr)
        return;
    product->add(dialog.condition());
    refresh({selected.product, product->conditions.size() - 1});
}

void FormCondition::deleteAllExpressions()
{
    const Selection selected = selection();
    AndConds* product = selected.product ? m_working.product(*selected.product) : nullptr;
    if (product == nullptr || !ask(kDeleteExpressionsTitle, QString::fromUtf8(kDeleteExpressionsQuestion)))
        return;
    product->markAllDeleted();
    refresh({selected.product, std::nullopt});
}

void FormCondition::changeExpression()
{
    const Selection selected = selection();
    AndConds* product = selected.product ? m_working.product(*selected.product) : nullptr;
    if (product == nullptr || !selected.expression || *selected.expression >= product->conditions.size())
        return;
    FormExpression dialog(m_fields, product->conditions[*selected.expression].condition, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    product->replace(*selected.expression, dialog.condition());
    refresh(selected);
}

void FormCondition::deleteExpression()
{
    const Selection selected = selection();
    AndConds* product = selected.product ? m_working.product(*selected.product) : nullptr;
    if (product == nullptr || !selected.expression || *selected.expression >= product->conditions.size())
        return;
    const QString text = QString::fromStdString(product->conditions[*selected.expression].condition.text(false));
    if (!ask(kDeleteExpressionTitle, QString::fromUtf8(kDeleteExpressionQuestion) + text))
        return;
    product->markDeleted(*selected.expression);
    refresh({selected.product, std::nullopt});
}

bool FormCondition::apply()
{
    if (!m_task.applyConditions(m_working)) {
        QMessageBox::warning(this, windowTitle(), QString::fromUtf8(kWriteFailed));
        return false;
    }
    // The marks are spent and the numbers of new elements are now the store's. Deleted elements
    // are gone from the copy, so the places of the others may have moved.
    bool anyDeleted = false;
    for (const AndConds& product : m_working.products) {
        anyDeleted = anyDeleted || product.deleted;
        for (const AndCond& item : product.conditions)
            anyDeleted = anyDeleted || item.deleted;
    }
    if (anyDeleted)
        m_tree->setCurrentItem(nullptr);
    reload();
    emit conditionsStored();
    return true;
}

void FormCondition::reload()
{
    const Selection keep = selection();
    m_working = m_task.conditions();
    refresh(keep);
}

void FormCondition::accept()
{
    if (apply())
        QDialog::accept();
}

void FormCondition::test()
{
    // The query checker runs the working copy on a worker thread, so a large table does not
    // freeze the editor, and shows the rows, the status and any error records.
    data::FormViewDbf check(QString::fromUtf8(kTestTitle), m_table, m_working.text(false),
                            m_task.text(TaskProperty::FieldSort), m_task.flag(TaskProperty::Ascend), this);
    check.setUnmarkedCodePage(m_task.definition().codePage);
    check.exec();
}

}  // namespace peltra::config
