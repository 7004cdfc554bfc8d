// The condition editor over a real store and table: the tree and SQL text as products and
// expressions are added, the four deletion questions, deferred deletion until OK, Отмена, Сброс,
// Применить with the withdrawal, and the test of the condition against the table.
#include "config/forms/FormCondition.h"

#include "config/TaskStore.h"
#include "config/forms/FormExpression.h"
#include "data/DbfTable.h"
#include "data/forms/FormViewDbf.h"
#include "data/forms/OdbcErrorMessageBox.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using peltra::config::ConditionSet;
using peltra::config::FormCondition;
using peltra::config::Operator;
using peltra::config::SimpleCondition;

namespace {

const std::string kBinding = "Абоненты";
const std::string kTask = "Долг";

// Answers the modal windows that open while a test runs, one step per window, in order. A step
// runs from a fresh timer turn, so a window it opens in turn is answered too.
class ModalScript : public QObject {
public:
    ModalScript()
    {
        connect(&m_poll, &QTimer::timeout, this, &ModalScript::poll);
        m_poll.start(10);
    }
    void then(std::function<void(QWidget*)> step) { m_steps.push_back(std::move(step)); }
    bool done() const { return m_steps.empty(); }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == m_last || m_steps.empty())
            return;
        m_last = modal;
        auto step = std::move(m_steps.front());
        m_steps.pop_front();
        QPointer<QWidget> target(modal);
        QTimer::singleShot(0, this, [target, step] {
            if (target)
                step(target);
        });
    }

    QTimer m_poll;
    QPointer<QWidget> m_last;
    std::deque<std::function<void(QWidget*)>> m_steps;
};

template <typename T>
T* control(QWidget& form, const char* name)
{
    T* widget = form.findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr)
        qFatal("control %s is missing", name);
    return widget;
}

SimpleCondition compare(const char* field, std::uint32_t code, const char* value)
{
    SimpleCondition condition;
    condition.field = field;
    condition.compare = code;
    condition.value = value;
    return condition;
}

SimpleCondition expression(const char* text)
{
    SimpleCondition condition;
    condition.type = peltra::config::kConditionExpression;
    condition.expression = text;
    return condition;
}

// What a question box showed, and the answer given.
struct Asked {
    QString title;
    QString text;
};

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
    QTest::mouseClick(control<QPushButton>(form, "cb_Test"), Qt::LeftButton);
    QVERIFY(answers.closed);
}

}  // namespace

class FormConditionTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<peltra::platform::RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::filesystem::path m_table;

    Operator task() { return Operator(*m_store, kBinding, kTask); }
    std::string filterKey() { return task().key() + "\\Фильтр"; }
    std::vector<std::string> keys(const std::string& below = "")
    {
        return m_store->subKeys(filterKey() + (below.empty() ? "" : "\\" + below));
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

    std::unique_ptr<FormCondition> form() { return std::make_unique<FormCondition>(*m_store, kBinding, kTask, m_table); }

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
            QTest::mouseClick(control<QPushButton>(*dialog, "cb_OK"), Qt::LeftButton);
        });
        QVERIFY(command(form, commandText));
        QVERIFY(script.done());
    }

    // Runs a deletion command, answering its question; what it asked.
    static Asked withQuestion(FormCondition& form, const QString& commandText, QMessageBox::StandardButton answer)
    {
        Asked asked;
        ModalScript script;
        script.then([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            asked = {box->windowTitle(), box->text()};
            box->button(answer)->click();
        });
        bool ran = command(form, commandText);
        if (!ran)
            qWarning("command %s did not run", qPrintable(commandText));
        if (!script.done())
            QTest::qFail("no question was asked", __FILE__, __LINE__);
        return asked;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<peltra::platform::RegistryStore>(*m_dir / "registry.db");
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_table = *m_dir / "abon.dbf";
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
        peltra::config::TaskStore tasks(*m_store);
        QCOMPARE(tasks.addBinding(kBinding, m_table.string(), ""), peltra::config::AddResult::Added);
        QCOMPARE(peltra::config::Operators(*m_store, kBinding).add(kTask), peltra::config::AddResult::Added);
    }

    void cleanup()
    {
        m_store.reset();
        m_registry.reset();
        m_dir.reset();
    }

    void showsItsTextsAndTheTablesFields()
    {
        auto f = form();
        QCOMPARE(f->windowTitle(), QStringLiteral("Логическое условие"));
        QCOMPARE(control<QLabel>(*f, "label_sql")->text(),
                 QStringLiteral("Полное условие, сформированное в синтаксисе SQL:"));
        QCOMPARE(control<QPushButton>(*f, "cb_Test")->text(), QStringLiteral("Тест"));
        QCOMPARE(control<QPushButton>(*f, "cb_OK")->text(), QStringLiteral("OK"));
        QCOMPARE(control<QPushButton>(*f, "cb_Cancel")->text(), QStringLiteral("Отмена"));
        QCOMPARE(control<QPushButton>(*f, "cb_Reset")->text(), QStringLiteral("Сброс"));
        QCOMPARE(control<QPushButton>(*f, "cb_Apply")->text(), QStringLiteral("Применить"));
        QCOMPARE(f->fields(), QStringList({"TELEF", "PROBA", "OTBOJ", "DATA", "CLOCK", "SUMMA", "FAM"}));
        QVERIFY(shownTree(*f).isEmpty());
        QCOMPARE(shownText(*f), QString());
    }

    void theMenuOffersWhatAppliesToTheSelection_data()
    {
        QTest::addColumn<int>("product");
        QTest::addColumn<int>("expression");
        QTest::addColumn<QString>("enabled");  // one letter per command, in menu order
        QTest::newRow("1 nothing selected") << -1 << -1 << "11000001";
        QTest::newRow("2 a product") << 0 << -1 << "11111001";
        QTest::newRow("3 an expression") << 0 << 1 << "11111111";
        QTest::newRow("4 a product without expressions") << 2 << -1 << "11110001";
    }

    void theMenuOffersWhatAppliesToTheSelection()
    {
        QFETCH(int, product);
        QFETCH(int, expression);
        QFETCH(QString, enabled);
        storeTwoProducts();
        ConditionSet set = task().conditions();
        set.addProduct();
        QVERIFY(task().applyConditions(set));
        auto f = form();
        selectItem(*f, product, expression);
        std::unique_ptr<QMenu> menu(f->contextMenu());
        QStringList texts;
        QString states;
        for (QAction* action : menu->actions())
            if (!action->isSeparator()) {
                texts << action->text();
                states += action->isEnabled() ? '1' : '0';
            }
        QCOMPARE(texts, QStringList({QStringLiteral("Добавить логическое произведение"),
                                     QStringLiteral("Удалить все логические произведения"),
                                     QStringLiteral("Удалить логическое произведение"),
                                     QStringLiteral("Добавить выражение"),
                                     QStringLiteral("Удалить все выражения этого произведения"),
                                     QStringLiteral("Изменить выражение"), QStringLiteral("Удалить выражение"),
                                     QStringLiteral("Отменить")}));
        QCOMPARE(states, enabled);
    }

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
    }

    void notLikeAppearsAsWritten()
    {
        auto f = form();
        QVERIFY(command(*f, QStringLiteral("Добавить логическое произведение")));
        withExpression(*f, QStringLiteral("Добавить выражение"), compare("FAM", 1, "'П%'"));
        QCOMPARE(shownText(*f), QStringLiteral("FAM NotLike 'П%'"));
        QTest::mouseClick(control<QPushButton>(*f, "cb_Apply"), Qt::LeftButton);
        QCOMPARE(QString::fromStdString(task().conditions().text(false)), QStringLiteral("FAM NotLike 'П%'"));
    }

    void changingAnExpressionReplacesIt()
    {
        storeTwoProducts();
        auto f = form();
        selectItem(*f, 0, 1);
        withExpression(*f, QStringLiteral("Изменить выражение"), compare("FAM", 2, "'Иванов'"));
        QCOMPARE(shownText(*f), QStringLiteral("SUMMA > 100 AND FAM = 'Иванов' AND PROBA < 3 OR OTBOJ IS NULL"));
        QCOMPARE(tree(*f)->currentItem()->text(0), QStringLiteral("FAM = 'Иванов'"));
    }

    void everyDeletionAsksItsQuestion_data()
    {
        QTest::addColumn<QString>("commandText");
        QTest::addColumn<int>("product");
        QTest::addColumn<int>("expression");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("textAfterYes");
        QTest::newRow("1 all products")
            << QStringLiteral("Удалить все логические произведения") << -1 << -1
            << QStringLiteral("Удаление всех условий")
            << QStringLiteral("Удалить все логические произведения и все входящие в них выражения?") << QString();
        QTest::newRow("2 one product")
            << QStringLiteral("Удалить логическое произведение") << 0 << -1
            << QStringLiteral("Удаление логическое произведение")
            << QStringLiteral("Удалить указанное логическое произведение и все входящие в него выражения?")
            << "OTBOJ IS NULL";
        QTest::newRow("3 all expressions of a product")
            << QStringLiteral("Удалить все выражения этого произведения") << 1 << -1
            << QStringLiteral("Удаление выражений")
            << QStringLiteral("Удалить все выражения этого логического произведения?")
            << QStringLiteral("SUMMA > 100 AND FAM Like 'ИВ%' AND PROBA < 3");
        QTest::newRow("4 one expression")
            << QStringLiteral("Удалить выражение") << 0 << 1 << QStringLiteral("Удаление выражения")
            << QStringLiteral("Удалить указанное выражение: \r\nFAM Like 'ИВ%'")
            << "SUMMA > 100 AND PROBA < 3 OR OTBOJ IS NULL";
    }

    void everyDeletionAsksItsQuestion()
    {
        QFETCH(QString, commandText);
        QFETCH(int, product);
        QFETCH(int, expression);
        QFETCH(QString, title);
        QFETCH(QString, question);
        QFETCH(QString, textAfterYes);
        storeTwoProducts();
        auto f = form();
        const QStringList treeBefore = shownTree(*f);

        selectItem(*f, product, expression);
        Asked asked = withQuestion(*f, commandText, QMessageBox::No);
        QCOMPARE(asked.title, title);
        QCOMPARE(asked.text, question);
        QCOMPARE(shownTree(*f), treeBefore);
        QCOMPARE(shownText(*f), QString::fromUtf8(twoProductsText()));

        selectItem(*f, product, expression);
        asked = withQuestion(*f, commandText, QMessageBox::Yes);
        QCOMPARE(asked.title, title);
        QCOMPARE(shownText(*f), textAfterYes);
        QVERIFY(shownTree(*f) != treeBefore);
        // Only marked: the store still holds everything.
        QCOMPARE(QString::fromStdString(task().conditions().text(false)), QString::fromUtf8(twoProductsText()));
    }

    void cancelDiscardsMarkedDeletions()
    {
        storeTwoProducts();
        const auto productsBefore = keys();
        auto f = form();
        selectItem(*f, 1);
        withQuestion(*f, QStringLiteral("Удалить логическое произведение"), QMessageBox::Yes);
        selectItem(*f, 0, 0);
        withQuestion(*f, QStringLiteral("Удалить выражение"), QMessageBox::Yes);
        QCOMPARE(shownText(*f), QStringLiteral("FAM Like 'ИВ%' AND PROBA < 3"));
        QCOMPARE(shownTree(*f), QStringList({QStringLiteral("Логическое произведение 1"),
                                             QStringLiteral("  FAM Like 'ИВ%'"), "  PROBA < 3"}));
        QSignalSpy stored(f.get(), &FormCondition::conditionsStored);
        f->show();
        QTest::mouseClick(control<QPushButton>(*f, "cb_Cancel"), Qt::LeftButton);
        QCOMPARE(f->result(), int(QDialog::Rejected));
        QCOMPARE(stored.count(), 0);
        QCOMPARE(keys(), productsBefore);
        QCOMPARE(keys("0001"), std::vector<std::string>({"0001", "0002", "0003"}));
        QCOMPARE(QString::fromStdString(task().conditions().text(false)), QString::fromUtf8(twoProductsText()));
    }

    void okCommitsMarkedDeletionsAndKeepsTheOtherNumbers()
    {
        storeTwoProducts();
        task().setValid(true);
        auto f = form();
        selectItem(*f, 0, 1);
        withQuestion(*f, QStringLiteral("Удалить выражение"), QMessageBox::Yes);
        selectItem(*f, 1);
        withQuestion(*f, QStringLiteral("Удалить логическое произведение"), QMessageBox::Yes);
        QSignalSpy stored(f.get(), &FormCondition::conditionsStored);
        f->show();
        QTest::mouseClick(control<QPushButton>(*f, "cb_OK"), Qt::LeftButton);
        QCOMPARE(f->result(), int(QDialog::Accepted));
        QVERIFY(!f->isVisible());
        QCOMPARE(stored.count(), 1);
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
        QTest::mouseClick(control<QPushButton>(*f, "cb_Apply"), Qt::LeftButton);
        QCOMPARE(stored.count(), 1);
        QVERIFY(task().valid());
        QVERIFY(f->isVisible());

        selectItem(*f, 0);
        withExpression(*f, QStringLiteral("Добавить выражение"), compare("TELEF", 3, "''"));
        QTest::mouseClick(control<QPushButton>(*f, "cb_Apply"), Qt::LeftButton);
        QCOMPARE(stored.count(), 2);
        QVERIFY(f->isVisible());
        QVERIFY(!task().valid());
        QCOMPARE(keys("0001"), std::vector<std::string>({"0001", "0002", "0003", "0004"}));
        QCOMPARE(QString::fromStdString(task().conditions().text(false)),
                 QStringLiteral("SUMMA > 100 AND FAM Like 'ИВ%' AND PROBA < 3 AND TELEF <> '' OR OTBOJ IS NULL"));

        // After the write the working copy is the store's again: a later deletion still commits.
        selectItem(*f, 0, 3);
        withQuestion(*f, QStringLiteral("Удалить выражение"), QMessageBox::Yes);
        QTest::mouseClick(control<QPushButton>(*f, "cb_Apply"), Qt::LeftButton);
        QCOMPARE(keys("0001"), std::vector<std::string>({"0001", "0002", "0003"}));
        QVERIFY2(tree(*f)->selectedItems().isEmpty(), "the places moved; nothing stale stays selected");
        QCOMPARE(shownText(*f), QString::fromUtf8(twoProductsText()));
    }

    void resetReloadsFromTheStore()
    {
        storeTwoProducts();
        auto f = form();
        QVERIFY(command(*f, QStringLiteral("Добавить логическое произведение")));
        withExpression(*f, QStringLiteral("Добавить выражение"), compare("SUMMA", 7, "1000"));
        selectItem(*f, 0);
        withQuestion(*f, QStringLiteral("Удалить логическое произведение"), QMessageBox::Yes);
        QCOMPARE(shownText(*f), QStringLiteral("OTBOJ IS NULL OR SUMMA >= 1000"));

        // Someone else changed the stored condition meanwhile: Сброс shows the store as it is now.
        ConditionSet other = task().conditions();
        other.markProductDeleted(1);
        QVERIFY(task().applyConditions(other));
        QTest::mouseClick(control<QPushButton>(*f, "cb_Reset"), Qt::LeftButton);
        QCOMPARE(shownText(*f), QStringLiteral("SUMMA > 100 AND FAM Like 'ИВ%' AND PROBA < 3"));
        QCOMPARE(shownTree(*f), QStringList({QStringLiteral("Логическое произведение 1"), "  SUMMA > 100",
                                             QStringLiteral("  FAM Like 'ИВ%'"), "  PROBA < 3"}));
        QCOMPARE(keys(), std::vector<std::string>({"0001"}));
    }

    void anEmptiedProductLeavesNoSeparator()
    {
        storeTwoProducts();
        auto f = form();
        selectItem(*f, 0);
        withQuestion(*f, QStringLiteral("Удалить все выражения этого произведения"), QMessageBox::Yes);
        QCOMPARE(shownText(*f), QStringLiteral("OTBOJ IS NULL"));
        QCOMPARE(shownTree(*f), QStringList({QStringLiteral("Логическое произведение 1"),
                                             QStringLiteral("Логическое произведение 2"), "  OTBOJ IS NULL"}));
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

    void aTaskThatIsGoneCannotBeWritten()
    {
        auto f = form();
        QVERIFY(command(*f, QStringLiteral("Добавить логическое произведение")));
        withExpression(*f, QStringLiteral("Добавить выражение"), compare("SUMMA", 5, "100"));
        QVERIFY(peltra::config::Operators(*m_store, kBinding).remove(kTask));
        f->show();
        QSignalSpy stored(f.get(), &FormCondition::conditionsStored);
        QString shown;
        ModalScript script;
        script.then([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            shown = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        QTest::mouseClick(control<QPushButton>(*f, "cb_OK"), Qt::LeftButton);
        QVERIFY(script.done());
        QCOMPARE(shown, QString::fromUtf8(FormCondition::kWriteFailed));
        QVERIFY(f->isVisible());
        QCOMPARE(stored.count(), 0);
        QCOMPARE(shownText(*f), QStringLiteral("SUMMA > 100"));  // the work is not lost
    }

    void screenshot()
    {
        storeTwoProducts();
        auto f = form();
        selectItem(*f, 0, 1);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.get()));
        QVERIFY(f->grab().save("FormCondition.png"));
    }
};

QTEST_MAIN(FormConditionTest)
#include "FormConditionTest.moc"
