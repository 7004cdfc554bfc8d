// The condition editor over a real store and table: the tree and SQL text as products and
// expressions are added, the four deletion questions, deferred deletion until OK, Отмена,
// Применить with the withdrawal, and the test of the condition against the table; the expression
// dialog alone: its refusals with the focus back on the box and the condition it hands back.
#include "config/forms/FormCondition.h"

#include "config/Conditions.h"
#include "config/forms/FormExpression.h"
#include "data/DbfTable.h"
#include "data/forms/FormViewDbf.h"
#include "data/forms/OdbcErrorMessageBox.h"
#include "support/ConfigFormTools.h"
#include "support/ConfigTestStore.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTreeWidget>

#include <memory>
#include <tuple>

using peltra::config::ConditionSet;
using peltra::config::FormCondition;
using peltra::config::FormExpression;
using peltra::config::SimpleCondition;
using peltra::test::click;
using peltra::test::control;
using peltra::test::ModalScript;

namespace {

SimpleCondition compare(const char* field, std::uint32_t code, const char* value)
{
    return {peltra::config::kConditionCompare, field, code, value, ""};
}

SimpleCondition expression(const char* text) { return {peltra::config::kConditionExpression, "", 2, "", text}; }

// Answers the query checker and its boxes, in whatever order they become active: the checker
// may show its verdict before the script has seen the checker itself.
struct CheckAnswers {
    QString title, verdict, details, status;
    QStringList phones;
    bool closed = false;

    void answer(QWidget* modal)
    {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            verdict = box->text();
            box->button(QMessageBox::Ok)->click();
        } else if (auto* errors = qobject_cast<peltra::data::OdbcErrorMessageBox*>(modal)) {
            details = errors->text();
            errors->accept();
        } else if (auto* check = qobject_cast<peltra::data::FormViewDbf*>(modal)) {
            title = check->windowTitle();
            if (!check->isFinished())
                return;
            status = control<QLabel>(*check, "label_status")->text();
            auto* rows = control<QTableWidget>(*check, "lv_rows");
            for (int r = 0; r < rows->rowCount(); ++r)
                phones << rows->item(r, 1)->text();
            check->grab().save("FormCondition-test.png");
            QTest::mouseClick(control<QPushButton>(*check, "cb_close"), Qt::LeftButton);
            closed = true;
        }
    }
};

void runCheck(FormCondition& form, CheckAnswers& answers)
{
    ModalScript script;
    for (int step = 0; step < 6; ++step)
        script.then([&](QWidget* modal) { answers.answer(modal); });
    click(form, "cb_Test");
    QVERIFY(answers.closed);
}

const QStringList kFields = {"TELEF", "PROBA", "OTBOJ", "DATA", "CLOCK", "SUMMA", "FAM"};

QStringList items(QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

}  // namespace

class FormConditionTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::ConfigTestStore> m_config;
    std::filesystem::path m_table;

    peltra::config::Operator task() { return m_config->task(); }
    std::vector<std::string> keys(const std::string& below = "")
    {
        return m_config->store.subKeys(task().key() + "\\Фильтр" + (below.empty() ? "" : "\\" + below));
    }

    // Two products: SUMMA > 100 AND FAM Like 'ИВ%' AND PROBA < 3, and OTBOJ IS NULL.
    void storeTwoProducts()
    {
        ConditionSet set;
        set.addProduct();
        set.products[0].add(compare("SUMMA", 5, "100"));
        set.products[0].add(compare("FAM", 0, "'ИВ%'"));
        set.products[0].add(compare("PROBA", 4, "3"));
        set.addProduct();
        set.products[1].add(expression("OTBOJ IS NULL"));
        QVERIFY(task().applyConditions(set));
    }
    static const char* twoProductsText() { return "SUMMA > 100 AND FAM Like 'ИВ%' AND PROBA < 3 OR OTBOJ IS NULL"; }

    std::unique_ptr<FormCondition> form()
    {
        return std::make_unique<FormCondition>(m_config->store, m_config->kBinding, m_config->kTask, m_table);
    }

    static QTreeWidget* tree(FormCondition& form) { return control<QTreeWidget>(form, "tv_conditions"); }

    // The tree as text: products, their expressions indented.
    static QStringList shownTree(FormCondition& form)
    {
        QStringList lines;
        QTreeWidget* view = tree(form);
        for (int p = 0; p < view->topLevelItemCount(); ++p) {
            lines << view->topLevelItem(p)->text(0);
            for (int e = 0; e < view->topLevelItem(p)->childCount(); ++e)
                lines << "  " + view->topLevelItem(p)->child(e)->text(0);
        }
        return lines;
    }

    static QString shownText(FormCondition& form) { return control<QPlainTextEdit>(form, "textb_sql")->toPlainText(); }

    // Selects the product (and its expression) by their places in the tree; -1 selects nothing.
    static void selectItem(FormCondition& form, int product, int expression = -1)
    {
        QTreeWidget* view = tree(form);
        if (product < 0) {
            view->setCurrentItem(nullptr);
            return;
        }
        QTreeWidgetItem* item = view->topLevelItem(product);
        QVERIFY(item != nullptr);
        if (expression >= 0)
            item = item->child(expression);
        QVERIFY(item != nullptr);
        view->setCurrentItem(item);
    }

    // Runs a context menu command by its text; false when it is missing or disabled.
    static bool command(FormCondition& form, const QString& text)
    {
        std::unique_ptr<QMenu> menu(form.contextMenu());
        for (QAction* action : menu->actions())
            if (action->text() == text) {
                if (!action->isEnabled())
                    return false;
                action->trigger();
                return true;
            }
        return false;
    }

    // Runs a command that opens the expression dialog and fills it in as a user would.
    static void withExpression(FormCondition& form, const QString& commandText, const SimpleCondition& condition)
    {
        ModalScript script;
        script.then([&](QWidget* modal) {
            QCOMPARE(modal->objectName(), QStringLiteral("FormExpression"));
            auto* dialog = static_cast<QDialog*>(modal);
            control<QComboBox>(*dialog, "combo_type")->setCurrentIndex(static_cast<int>(condition.type));
            if (condition.type == peltra::config::kConditionExpression) {
                control<QPlainTextEdit>(*dialog, "textb_expression")->setPlainText(QString::fromStdString(condition.expression));
            } else {
                auto* field = control<QComboBox>(*dialog, "combo_field");
                field->setCurrentIndex(field->findText(QString::fromStdString(condition.field)));
                auto* op = control<QComboBox>(*dialog, "combo_operator");
                const auto text = peltra::config::compareText(condition.compare);
                op->setCurrentIndex(op->findText(QString::fromUtf8(text.data(), text.size())));
                control<QLineEdit>(*dialog, "textb_value")->setText(QString::fromStdString(condition.value));
            }
            click(*dialog, "cb_OK");
        });
        QVERIFY(command(form, commandText));
        QVERIFY(script.done());
    }

    // Runs a deletion command, answering its question: "title|question", or "" when none was asked.
    static QString withQuestion(FormCondition& form, const QString& commandText, QMessageBox::StandardButton answer)
    {
        peltra::test::BoxAnswer box(answer);
        if (!command(form, commandText))
            qWarning("command %s did not run", qPrintable(commandText));
        return box.count == 1 ? box.title + "|" + box.text : QString();
    }



private slots:
    void init()
    {
        m_config = std::make_unique<peltra::test::ConfigTestStore>();
        m_table = m_config->dir / "abon.dbf";
        const std::vector<peltra::data::DbfFieldSpec> fields = {
            {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0},
            {"CLOCK", 'C', 8, 0},  {"SUMMA", 'N', 10, 2}, {"FAM", 'C', 20, 0}};
        std::string error;
        QVERIFY2(peltra::data::DbfTable::create(m_table, fields, 866, true, &error), error.c_str());
        auto table = peltra::data::DbfTable::open(m_table, {true, std::nullopt}, &error);
        QVERIFY2(table, error.c_str());
        const struct {
            const char* telef;
            double summa;
            const char* fam;
        } rows[] = {{"2001", 150, "Иванов"}, {"2002", 50, "Петров"}, {"2003", 550, "Ивлев"}, {"2004", 80, "Сидоров"}};
        for (const auto& row : rows)
            QVERIFY(table->append({{0, peltra::data::DbfValue::ofText(row.telef)},
                                   {5, peltra::data::DbfValue::ofNumber(row.summa)},
                                   {6, peltra::data::DbfValue::ofText(row.fam)}}));
        QVERIFY(m_config->addTask(m_table.string()));
    }

    void cleanup() { m_config.reset(); }

    void addingProductsAndExpressionsBuildsTheText()
    {
        auto f = form();
        QVERIFY(command(*f, QStringLiteral("Добавить логическое произведение")));
        QCOMPARE(shownTree(*f), QStringList({QStringLiteral("Логическое произведение 1")}));
        QCOMPARE(shownText(*f), QString());
        withExpression(*f, QStringLiteral("Добавить выражение"), compare("SUMMA", 5, "100"));
        QCOMPARE(shownText(*f), QStringLiteral("SUMMA > 100"));
        // The new expression is selected; adding from it adds to its product.
        withExpression(*f, QStringLiteral("Добавить выражение"), compare("FAM", 0, "'ИВ%'"));
        QCOMPARE(shownText(*f), QStringLiteral("SUMMA > 100 AND FAM Like 'ИВ%'"));
        QVERIFY(command(*f, QStringLiteral("Добавить логическое произведение")));
        withExpression(*f, QStringLiteral("Добавить выражение"), expression("PROBA < 3"));
        QCOMPARE(shownTree(*f), QStringList({QStringLiteral("Логическое произведение 1"), "  SUMMA > 100",
                                             QStringLiteral("  FAM Like 'ИВ%'"),
                                             QStringLiteral("Логическое произведение 2"), "  PROBA < 3"}));
        QCOMPARE(shownText(*f), QStringLiteral("SUMMA > 100 AND FAM Like 'ИВ%' OR PROBA < 3"));
        QCOMPARE(f->conditionText(), shownText(*f));
        QVERIFY(keys().empty());  // nothing stored before OK or Применить

        // Changing an expression replaces it in its place.
        selectItem(*f, 0, 1);
        withExpression(*f, QStringLiteral("Изменить выражение"), compare("FAM", 2, "'Иванов'"));
        QCOMPARE(shownText(*f), QStringLiteral("SUMMA > 100 AND FAM = 'Иванов' OR PROBA < 3"));
        QCOMPARE(tree(*f)->currentItem()->text(0), QStringLiteral("FAM = 'Иванов'"));
    }

    void everyDeletionAsksItsQuestion()
    {
        // The command, the product and expression selected, the box's "title|question", the text after Yes.
        const std::tuple<const char*, int, int, const char*, const char*> cases[] = {
            {"Удалить все логические произведения", -1, -1,
             "Удаление всех условий|Удалить все логические произведения и все входящие в них выражения?", ""},
            {"Удалить логическое произведение", 0, -1,
             "Удаление логическое произведение|Удалить указанное логическое произведение и все входящие в него "
             "выражения?",
             "OTBOJ IS NULL"},
            {"Удалить все выражения этого произведения", 1, -1,
             "Удаление выражений|Удалить все выражения этого логического произведения?",
             "SUMMA > 100 AND FAM Like 'ИВ%' AND PROBA < 3"},
            {"Удалить выражение", 0, 1, "Удаление выражения|Удалить указанное выражение: \r\nFAM Like 'ИВ%'",
             "SUMMA > 100 AND PROBA < 3 OR OTBOJ IS NULL"},
        };
        storeTwoProducts();
        for (const auto& [commandText, product, expression, question, textAfterYes] : cases) {
            auto f = form();
            const QStringList treeBefore = shownTree(*f);
            selectItem(*f, product, expression);
            QCOMPARE(withQuestion(*f, QString::fromUtf8(commandText), QMessageBox::No), QString::fromUtf8(question));
            QCOMPARE(shownTree(*f), treeBefore);
            QCOMPARE(shownText(*f), QString::fromUtf8(twoProductsText()));

            selectItem(*f, product, expression);
            QCOMPARE(withQuestion(*f, QString::fromUtf8(commandText), QMessageBox::Yes), QString::fromUtf8(question));
            QCOMPARE(shownText(*f), QString::fromUtf8(textAfterYes));
            QVERIFY(shownTree(*f) != treeBefore);
            // Only marked: the store still holds everything.
            QCOMPARE(QString::fromStdString(task().conditions().text(false)), QString::fromUtf8(twoProductsText()));
        }
    }

    void markedDeletionsWaitForOkAndCancelDiscardsThem()
    {
        storeTwoProducts();
        task().setValid(true);
        for (const bool ok : {false, true}) {
            auto f = form();
            selectItem(*f, 0, 1);
            withQuestion(*f, QStringLiteral("Удалить выражение"), QMessageBox::Yes);
            selectItem(*f, 1);
            withQuestion(*f, QStringLiteral("Удалить логическое произведение"), QMessageBox::Yes);
            QCOMPARE(shownTree(*f), QStringList({QStringLiteral("Логическое произведение 1"), "  SUMMA > 100",
                                                 "  PROBA < 3"}));
            QSignalSpy stored(f.get(), &FormCondition::conditionsStored);
            f->show();
            click(*f, ok ? "cb_OK" : "cb_Cancel");
            QCOMPARE(f->result(), int(ok ? QDialog::Accepted : QDialog::Rejected));
            QVERIFY(!f->isVisible());
            QCOMPARE(stored.count(), ok ? 1 : 0);
        }
        // Only OK deleted; the others keep their numbers.
        QCOMPARE(keys(), std::vector<std::string>({"0001"}));
        QCOMPARE(keys("0001"), std::vector<std::string>({"0001", "0003"}));
        QCOMPARE(QString::fromStdString(task().conditions().text(false)), QStringLiteral("SUMMA > 100 AND PROBA < 3"));
        QVERIFY2(!task().valid(), "a changed condition withdraws the task");
    }

    void applyStoresAndStaysOpen()
    {
        storeTwoProducts();
        task().setValid(true);
        auto f = form();
        f->show();
        QSignalSpy stored(f.get(), &FormCondition::conditionsStored);

        // Nothing changed: stored again, the task stays included.
        click(*f, "cb_Apply");
        QCOMPARE(stored.count(), 1);
        QVERIFY(task().valid());
        QVERIFY(f->isVisible());

        selectItem(*f, 0);
        withExpression(*f, QStringLiteral("Добавить выражение"), compare("TELEF", 3, "''"));
        click(*f, "cb_Apply");
        QCOMPARE(stored.count(), 2);
        QVERIFY(f->isVisible());
        QVERIFY(!task().valid());
        QCOMPARE(keys("0001"), std::vector<std::string>({"0001", "0002", "0003", "0004"}));
        QCOMPARE(QString::fromStdString(task().conditions().text(false)),
                 QStringLiteral("SUMMA > 100 AND FAM Like 'ИВ%' AND PROBA < 3 AND TELEF <> '' OR OTBOJ IS NULL"));

        // After the write the working copy is the store's again: a later deletion still commits.
        selectItem(*f, 0, 3);
        withQuestion(*f, QStringLiteral("Удалить выражение"), QMessageBox::Yes);
        click(*f, "cb_Apply");
        QCOMPARE(keys("0001"), std::vector<std::string>({"0001", "0002", "0003"}));
        QVERIFY2(tree(*f)->selectedItems().isEmpty(), "the places moved; nothing stale stays selected");
        QCOMPARE(shownText(*f), QString::fromUtf8(twoProductsText()));
    }

    void testRunsTheConditionAgainstTheTable()
    {
        task().setSort("SUMMA", "N", false);
        auto f = form();
        QVERIFY(command(*f, QStringLiteral("Добавить логическое произведение")));
        withExpression(*f, QStringLiteral("Добавить выражение"), compare("SUMMA", 5, "100"));

        // The query checker runs the condition on a worker thread, tells its verdict, shows the rows.
        CheckAnswers answers;
        runCheck(*f, answers);
        QCOMPARE(answers.title, QStringLiteral("Проверка логического условия фильтрации"));
        QVERIFY2(answers.verdict.startsWith(QStringLiteral("Ошибок не обнаружено")), qPrintable(answers.verdict));
        QCOMPARE(answers.status, QStringLiteral("Выбрано 2 строк."));
        QCOMPARE(answers.phones, QStringList({"2003", "2001"}));  // by SUMMA, descending
        QVERIFY(keys().empty());  // the test runs the working copy and writes nothing
    }

    void aFailingTestShowsTheErrorRecords()
    {
        auto f = form();
        QVERIFY(command(*f, QStringLiteral("Добавить логическое произведение")));
        withExpression(*f, QStringLiteral("Добавить выражение"), expression("SUMMA >"));

        CheckAnswers answers;
        runCheck(*f, answers);
        QCOMPARE(answers.verdict, QStringLiteral("Ошибка выполнения SQL запроса."));
        QVERIFY2(answers.details.contains("State 42000"), qPrintable(answers.details));
    }

    void okRefusesWhatIsMissing()
    {
        const QString noField = QString::fromUtf8(FormExpression::kNoField);
        const QString noValue = QString::fromUtf8(FormExpression::kNoValue);
        const QString noExpression = QString::fromUtf8(FormExpression::kNoExpression);
        // fields, type, value, expression, message, focus.
        const std::tuple<QStringList, int, QString, QString, QString, QString> cases[] = {
            {QStringList(), 0, "1", "", noField, "combo_field"},  // no field known or typed
            {kFields, 0, "", "", noValue, "textb_value"},          {kFields, 0, "   ", "", noValue, "textb_value"},
            {kFields, 1, "1", "", noExpression, "textb_expression"},
            {kFields, 1, "", " \n ", noExpression, "textb_expression"},
        };
        for (const auto& [fields, type, value, expression, message, focus] : cases) {
            FormExpression form(fields);
            control<QComboBox>(form, "combo_type")->setCurrentIndex(type);
            control<QLineEdit>(form, "textb_value")->setText(value);
            control<QPlainTextEdit>(form, "textb_expression")->setPlainText(expression);

            QString shown, title;
            peltra::test::ModalScript script;
            script.then([&](QWidget*) { click(form, "cb_OK"); });
            script.then([&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box != nullptr);
                shown = box->text();
                title = box->windowTitle();
                box->button(QMessageBox::Ok)->click();
            });
            script.then([&](QWidget* modal) {
                QCOMPARE(modal, &form);
                QCOMPARE(form.focusWidget() ? form.focusWidget()->objectName() : QString(), focus);
                form.reject();
            });
            QCOMPARE(form.exec(), int(QDialog::Rejected));
            QVERIFY(script.done());
            QCOMPARE(shown, message);
            QCOMPARE(title, QStringLiteral("Условие"));
        }
    }

    void okHandsBackAnExpressionOrATypedFieldAsTyped()
    {
        FormExpression form(kFields);
        form.show();
        control<QComboBox>(form, "combo_type")->setCurrentIndex(1);
        control<QPlainTextEdit>(form, "textb_expression")->setPlainText("PROBA < 3 OR OTBOJ IS NULL");
        click(form, "cb_OK");
        QVERIFY(form.condition() ==
                (SimpleCondition{peltra::config::kConditionExpression, "", 2, "", "PROBA < 3 OR OTBOJ IS NULL"}));

        // Without the table's fields a field can be typed.
        FormExpression typed({});
        auto* field = control<QComboBox>(typed, "combo_field");
        QVERIFY(field->isEditable());
        field->setEditText("SUMMA");
        control<QLineEdit>(typed, "textb_value")->setText("100");
        typed.accept();
        QCOMPARE(typed.result(), int(QDialog::Accepted));
        QCOMPARE(typed.condition().field, std::string("SUMMA"));
    }

    void opensOnTheConditionToChange()
    {
        // code, field, operator shown, field list: an unknown code falls back to =, a field no
        // longer in the table is kept.
        const std::tuple<uint, QString, QString, QStringList> cases[] = {
            {5u, "SUMMA", ">", kFields}, {1u, "FAM", "NotLike", kFields}, {99u, "SUMMA", "=", kFields},
            {2u, "OLD", "=", QStringList(kFields) << "OLD"},
        };
        for (const auto& [code, field, operatorShown, fieldList] : cases) {
            FormExpression form(kFields, SimpleCondition{peltra::config::kConditionCompare, field.toStdString(), code, "100", ""});
            QCOMPARE(control<QComboBox>(form, "combo_type")->currentIndex(), 0);
            QCOMPARE(control<QComboBox>(form, "combo_field")->currentText(), field);
            QCOMPARE(items(control<QComboBox>(form, "combo_field")), fieldList);
            QCOMPARE(control<QComboBox>(form, "combo_operator")->currentText(), operatorShown);
            QCOMPARE(control<QLineEdit>(form, "textb_value")->text(), QStringLiteral("100"));
        }
    }
};

QTEST_MAIN(FormConditionTest)
#include "FormConditionTest.moc"
