// The condition editor: a task's filter condition as logical products of expressions, edited on
// a working copy and written back on "Применить" or "OK".
#pragma once

#include "config/Conditions.h"
#include "config/ConfigStore.h"
#include "config/Operator.h"

#include <QDialog>
#include <QStringList>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

class QMenu;
class QPlainTextEdit;
class QPoint;
class QTreeWidget;
class QTreeWidgetItem;

namespace peltra::config {

// "Логическое условие" of one task. The tree shows the products ("Логическое произведение %d",
// numbered as shown) with their expressions, the box below the SQL text of the whole condition;
// both follow every change at once. Deletions ask first and only mark, so "Отмена" and "Сброс"
// still bring everything back. "Применить" and "OK" write the working copy back through the
// task (which withdraws it from scheduling when the text changed) and reload it; "Сброс" reloads
// from the store; "Тест" runs the condition against the table. Modal; user interface thread only.
class FormCondition : public QDialog {
    Q_OBJECT

public:
    // table: the binding's table, for the field list and the test.
    FormCondition(Operator task, std::filesystem::path table, QWidget* parent = nullptr);
    FormCondition(ConfigStore& store, const std::string& binding, const std::string& task,
                  std::filesystem::path table, QWidget* parent = nullptr);

    // The working copy and its text, as shown.
    const ConditionSet& working() const { return m_working; }
    QString conditionText() const;
    QStringList fields() const { return m_fields; }

    // The context menu for the selected tree element (every command, those that do not apply
    // disabled). The caller owns it.
    QMenu* contextMenu();

    // Titles and texts of the questions and messages.
    static const char* const kDeleteAllProductsQuestion;
    static const char* const kDeleteAllProductsTitle;
    static const char* const kDeleteProductQuestion;
    static const char* const kDeleteProductTitle;
    static const char* const kDeleteExpressionsQuestion;
    static const char* const kDeleteExpressionsTitle;
    static const char* const kDeleteExpressionQuestion;  // followed by the expression's text
    static const char* const kDeleteExpressionTitle;
    static const char* const kTestTitle;
    static const char* const kWriteFailed;

signals:
    // The condition was written to the store; the task may have been withdrawn from scheduling.
    void conditionsStored();

public slots:
    void accept() override;
    // "Применить": false (with a message) when the store could not be written.
    bool apply();
    // "Сброс": the condition as stored, without the changes made since.
    void reload();
    // "Тест": the whole condition against the table, with the task's sort.
    void test();

    void addProduct();
    void deleteAllProducts();
    void deleteProduct();
    void addExpression();
    void deleteAllExpressions();
    void changeExpression();
    void deleteExpression();

private:
    // The product and expression of the selected element; the expression only on one.
    struct Selection {
        std::optional<std::size_t> product;
        std::optional<std::size_t> expression;
    };
    Selection selection() const;
    void select(const Selection& selection);
    // Rebuilds the tree and the text from the working copy, keeping the selection when it stays.
    void refresh(const Selection& keep);
    bool ask(const char* title, const QString& question);
    void showMenu(const QPoint& at);

    Operator m_task;
    std::filesystem::path m_table;
    QStringList m_fields;
    ConditionSet m_working;
    QTreeWidget* m_tree;
    QPlainTextEdit* m_text;
};

}  // namespace peltra::config
