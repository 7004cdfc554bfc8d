// The expression dialog: its lists in their order, the two types, the refusals with the focus
// back on the box, and the condition OK hands back.
#include "config/forms/FormExpression.h"

#include "config/Conditions.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

using peltra::config::FormExpression;
using peltra::config::SimpleCondition;

namespace {

const QStringList kFields = {"TELEF", "PROBA", "OTBOJ", "DATA", "CLOCK", "SUMMA", "FAM"};

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

QStringList items(QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

}  // namespace

class FormExpressionTest : public QObject {
    Q_OBJECT

private slots:
    void showsItsTextsAndListsInOrder()
    {
        FormExpression form(kFields);
        QCOMPARE(form.windowTitle(), QStringLiteral("Условие"));
        QCOMPARE(items(control<QComboBox>(form, "combo_type")),
                 QStringList({QStringLiteral("Значение поля"), QStringLiteral("Выражение")}));
        QCOMPARE(items(control<QComboBox>(form, "combo_operator")),
                 QStringList({"=", "<>", "<", ">", "<=", ">=", "Like", "NotLike"}));
        QCOMPARE(items(control<QComboBox>(form, "combo_field")), kFields);
        QVERIFY(!control<QComboBox>(form, "combo_field")->isEditable());
        QCOMPARE(control<QLabel>(form, "label_field")->text(), QStringLiteral("Поле"));
        QCOMPARE(control<QLabel>(form, "label_operator")->text(), QStringLiteral("Оператор"));
        QCOMPARE(control<QLabel>(form, "label_value")->text(), QStringLiteral("Значение"));
        QCOMPARE(control<QLabel>(form, "label_expression")->text(), QStringLiteral("Логическое выражение"));
        QCOMPARE(control<QPushButton>(form, "cb_OK")->text(), QStringLiteral("OK"));
        QCOMPARE(control<QPushButton>(form, "cb_Cancel")->text(), QStringLiteral("Отмена"));
    }

    void theTypeListSwitchesBetweenComparisonAndExpression()
    {
        FormExpression form(kFields);
        form.show();
        auto* type = control<QComboBox>(form, "combo_type");
        auto* value = control<QLineEdit>(form, "textb_value");
        auto* expression = control<QPlainTextEdit>(form, "textb_expression");
        QCOMPARE(type->currentIndex(), 0);
        QVERIFY(value->isVisible());
        QVERIFY(!expression->isVisible());
        type->setCurrentIndex(1);
        QVERIFY(!value->isVisible());
        QVERIFY(expression->isVisible());
        type->setCurrentIndex(0);
        QVERIFY(value->isVisible());
    }

    void okRefusesWhatIsMissing_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        const QString noField = QString::fromUtf8(FormExpression::kNoField);
        const QString noValue = QString::fromUtf8(FormExpression::kNoValue);
        const QString noExpression = QString::fromUtf8(FormExpression::kNoExpression);
        QTest::newRow("1 no field known or typed") << QStringList() << 0 << "1" << "" << noField << "combo_field";
        QTest::newRow("2 empty value") << kFields << 0 << "" << "" << noValue << "textb_value";
        QTest::newRow("3 blank value") << kFields << 0 << "   " << "" << noValue << "textb_value";
        QTest::newRow("4 empty expression") << kFields << 1 << "1" << "" << noExpression << "textb_expression";
        QTest::newRow("5 blank expression") << kFields << 1 << "" << " \n " << noExpression << "textb_expression";
    }

    void okRefusesWhatIsMissing()
    {
        QFETCH(QStringList, fields);
        QFETCH(int, type);
        QFETCH(QString, value);
        QFETCH(QString, expression);
        QFETCH(QString, message);
        QFETCH(QString, focus);

        FormExpression form(fields);
        control<QComboBox>(form, "combo_type")->setCurrentIndex(type);
        control<QLineEdit>(form, "textb_value")->setText(value);
        control<QPlainTextEdit>(form, "textb_expression")->setPlainText(expression);

        QString shown, title;
        ModalScript script;
        script.then([&](QWidget*) { QTest::mouseClick(control<QPushButton>(form, "cb_OK"), Qt::LeftButton); });
        script.then([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            shown = box->text();
            title = box->windowTitle();
            box->button(QMessageBox::Ok)->click();
        });
        script.then([&](QWidget* modal) {
            QCOMPARE(modal, &form);
            QVERIFY(form.isVisible());
            QCOMPARE(form.focusWidget() ? form.focusWidget()->objectName() : QString(), focus);
            form.reject();
        });
        QCOMPARE(form.exec(), int(QDialog::Rejected));
        QVERIFY(script.done());
        QCOMPARE(shown, message);
        QCOMPARE(title, QStringLiteral("Условие"));
    }

    void okHandsBackTheComparisonWithItsCode_data()
    {
        QTest::addColumn<QString>("operatorText");
        QTest::addColumn<uint>("code");
        QTest::newRow("1 =") << "=" << 2u;
        QTest::newRow("2 <>") << "<>" << 3u;
        QTest::newRow("3 <") << "<" << 4u;
        QTest::newRow("4 >") << ">" << 5u;
        QTest::newRow("5 <=") << "<=" << 6u;
        QTest::newRow("6 >=") << ">=" << 7u;
        QTest::newRow("7 Like") << "Like" << 0u;
        QTest::newRow("8 NotLike") << "NotLike" << 1u;
    }

    void okHandsBackTheComparisonWithItsCode()
    {
        QFETCH(QString, operatorText);
        QFETCH(uint, code);
        FormExpression form(kFields);
        form.show();
        control<QComboBox>(form, "combo_field")->setCurrentText("FAM");
        auto* op = control<QComboBox>(form, "combo_operator");
        op->setCurrentIndex(op->findText(operatorText));
        control<QLineEdit>(form, "textb_value")->setText(QStringLiteral("'ИВ%'"));
        QTest::mouseClick(control<QPushButton>(form, "cb_OK"), Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        const SimpleCondition& got = form.condition();
        QCOMPARE(got.type, peltra::config::kConditionCompare);
        QCOMPARE(QString::fromStdString(got.field), QStringLiteral("FAM"));
        QCOMPARE(got.compare, code);
        QCOMPARE(QString::fromStdString(got.value), QStringLiteral("'ИВ%'"));
        QVERIFY(got.expression.empty());
    }

    void okHandsBackAnExpressionAsTyped()
    {
        FormExpression form(kFields);
        form.show();
        control<QComboBox>(form, "combo_type")->setCurrentIndex(1);
        control<QPlainTextEdit>(form, "textb_expression")->setPlainText("PROBA < 3 OR OTBOJ IS NULL");
        QTest::mouseClick(control<QPushButton>(form, "cb_OK"), Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(form.condition().type, peltra::config::kConditionExpression);
        QCOMPARE(form.condition().expression, std::string("PROBA < 3 OR OTBOJ IS NULL"));
        QVERIFY(form.condition().field.empty());
        QVERIFY(form.condition().value.empty());
    }

    void withoutTheTablesFieldsAFieldCanBeTyped()
    {
        FormExpression form({});
        auto* field = control<QComboBox>(form, "combo_field");
        QVERIFY(field->isEditable());
        field->setEditText("SUMMA");
        control<QLineEdit>(form, "textb_value")->setText("100");
        form.accept();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(form.condition().field, std::string("SUMMA"));
    }

    void opensOnTheConditionToChange_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("operatorShown");
        QTest::addColumn<QStringList>("fieldList");
        QTest::newRow("1 >") << 5u << "SUMMA" << ">" << kFields;
        QTest::newRow("2 NotLike") << 1u << "FAM" << "NotLike" << kFields;
        QTest::newRow("3 unknown code falls back to =") << 99u << "SUMMA" << "=" << kFields;
        QTest::newRow("4 field no longer in the table is kept")
            << 2u << "OLD" << "=" << (QStringList(kFields) << "OLD");
    }

    void opensOnTheConditionToChange()
    {
        QFETCH(uint, code);
        QFETCH(QString, field);
        QFETCH(QString, operatorShown);
        QFETCH(QStringList, fieldList);
        SimpleCondition editing;
        editing.field = field.toStdString();
        editing.compare = code;
        editing.value = "100";
        FormExpression form(kFields, editing);
        QCOMPARE(control<QComboBox>(form, "combo_type")->currentIndex(), 0);
        QCOMPARE(control<QComboBox>(form, "combo_field")->currentText(), field);
        QCOMPARE(items(control<QComboBox>(form, "combo_field")), fieldList);
        QCOMPARE(control<QComboBox>(form, "combo_operator")->currentText(), operatorShown);
        QCOMPARE(control<QLineEdit>(form, "textb_value")->text(), QStringLiteral("100"));
    }

    void opensOnAnExpressionAndCancelHandsBackNothing()
    {
        SimpleCondition editing;
        editing.type = peltra::config::kConditionExpression;
        editing.expression = "SUMMA BETWEEN 1 AND 5";
        FormExpression form(kFields, editing);
        QCOMPARE(control<QComboBox>(form, "combo_type")->currentIndex(), 1);
        QCOMPARE(control<QPlainTextEdit>(form, "textb_expression")->toPlainText(),
                 QStringLiteral("SUMMA BETWEEN 1 AND 5"));
        form.show();
        QTest::mouseClick(control<QPushButton>(form, "cb_Cancel"), Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(form.condition() == SimpleCondition{});
    }

    void screenshot()
    {
        SimpleCondition editing;
        editing.field = "FAM";
        editing.compare = 0;
        editing.value = "'ИВ%'";
        FormExpression form(kFields, editing);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.grab().save("FormExpression.png"));
        control<QComboBox>(form, "combo_type")->setCurrentIndex(1);
        control<QPlainTextEdit>(form, "textb_expression")->setPlainText("PROBA < 3 OR OTBOJ IS NULL");
        QVERIFY(form.grab().save("FormExpression-expression.png"));
    }
};

QTEST_MAIN(FormExpressionTest)
#include "FormExpressionTest.moc"
