// The expression dialog: the refusals with the focus back on the box, the condition OK hands back,
// and the condition it opens on.
#include "config/forms/FormExpression.h"

#include "config/Conditions.h"
#include "support/ConfigFormTools.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <tuple>

using peltra::config::FormExpression;
using peltra::config::SimpleCondition;
using peltra::test::click;
using peltra::test::control;

namespace {

const QStringList kFields = {"TELEF", "PROBA", "OTBOJ", "DATA", "CLOCK", "SUMMA", "FAM"};

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

    void okHandsBackTheComparisonWithItsCode()
    {
        const std::pair<const char*, std::uint32_t> operators[] = {
            {"=", 2}, {"<>", 3}, {"<", 4}, {">", 5}, {"<=", 6}, {">=", 7}, {"Like", 0}, {"NotLike", 1},
        };
        for (const auto& [text, code] : operators) {
            FormExpression form(kFields);
            form.show();
            control<QComboBox>(form, "combo_field")->setCurrentText("FAM");
            auto* op = control<QComboBox>(form, "combo_operator");
            op->setCurrentIndex(op->findText(text));
            control<QLineEdit>(form, "textb_value")->setText(QStringLiteral("'ИВ%'"));
            click(form, "cb_OK");
            QCOMPARE(form.result(), int(QDialog::Accepted));
            QVERIFY(form.condition() == (SimpleCondition{peltra::config::kConditionCompare, "FAM", code, "'ИВ%'", ""}));
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

QTEST_MAIN(FormExpressionTest)
#include "FormExpressionTest.moc"
