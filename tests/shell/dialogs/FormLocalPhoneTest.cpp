// Tests of the local-phone dialog: enabling of its boxes, what OK and Отмена hand back, and the
// refusal of a number that cannot be dialled.
#include "shell/dialogs/FormLocalPhone.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using peltra::shell::FormLocalPhone;

class FormLocalPhoneTest : public QObject {
    Q_OBJECT
private slots:
    void modeBoxEnablesItsBoxesAndCancelChangesNothing();
    void okReturnsWhatWasTyped_data();
    void okReturnsWhatWasTyped();

private:
    static QCheckBox* modeBox(FormLocalPhone& form) { return form.findChild<QCheckBox*>("checkbox_local_phone"); }
    static QCheckBox* writeBox(FormLocalPhone& form) { return form.findChild<QCheckBox*>("checkbox_update"); }
    static QLineEdit* numberBox(FormLocalPhone& form) { return form.findChild<QLineEdit*>("textb_number"); }
    static QPushButton* button(FormLocalPhone& form, const char* name) { return form.findChild<QPushButton*>(name); }
};

void FormLocalPhoneTest::okReturnsWhatWasTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("turnOn");
    QTest::addColumn<bool>("writeResults");
    QTest::addColumn<bool>("refused");
    QTest::newRow("1 digits") << "2345678" << true << false << false;
    QTest::newRow("2 written as people write it") << " 8-(044) 123 45 67 " << true << true << false;
    QTest::newRow("3 pauses and tone symbols") << "9P*21#" << true << false << false;
    QTest::newRow("4 letters") << "abc" << true << true << true;
    QTest::newRow("5 a digit among letters") << "8-(044) abc" << true << true << true;
    QTest::newRow("6 empty") << "" << true << true << true;
    QTest::newRow("7 only blanks and dashes") << " - " << true << false << true;
    QTest::newRow("8 mode off, any number taken") << "abc" << false << false << false;
}

void FormLocalPhoneTest::okReturnsWhatWasTyped()
{
    QFETCH(QString, typed);
    QFETCH(bool, turnOn);
    QFETCH(bool, writeResults);
    QFETCH(bool, refused);
    FormLocalPhone form;
    form.setValues(true, "old", !writeResults);
    form.show();
    numberBox(form)->clear();
    QTest::keyClicks(numberBox(form), typed);
    QTest::mouseClick(writeBox(form), Qt::LeftButton);  // flips it to writeResults
    if (!turnOn)
        QTest::mouseClick(modeBox(form), Qt::LeftButton);
    QCOMPARE(form.number(), QStringLiteral("old"));  // nothing taken before ОК
    QString warning;
    QTimer::singleShot(0, this, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
        }
    });
    QTest::mouseClick(button(form, "cb_ok"), Qt::LeftButton);
    if (refused) {
        // A number that cannot be dialled is never taken: the dialog stays, the number in focus.
        QCOMPARE(warning, QStringLiteral("Номер \"%1\" набрать нельзя: режим \"Местный телефон\" не включен.\r\n"
                                         "Укажите номер из цифр (допустимы также *, #, паузы P и W).")
                              .arg(typed));
        QVERIFY(form.isVisible());
        QCOMPARE(form.focusWidget(), static_cast<QWidget*>(numberBox(form)));
        QVERIFY(form.isOn());
        QCOMPARE(form.number(), QStringLiteral("old"));
        return;
    }
    QVERIFY(warning.isEmpty());
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QVERIFY(!form.isVisible());
    QCOMPARE(form.isOn(), turnOn);
    QCOMPARE(form.number(), typed);
    QCOMPARE(form.writeResults(), writeResults);
}

void FormLocalPhoneTest::modeBoxEnablesItsBoxesAndCancelChangesNothing()
{
    FormLocalPhone form;
    form.setValues(true, "2345678", true);
    form.show();
    QTest::keyClicks(numberBox(form), "99");
    QTest::mouseClick(writeBox(form), Qt::LeftButton);
    for (bool expected : {false, true, false}) {
        QTest::mouseClick(modeBox(form), Qt::LeftButton);
        QCOMPARE(modeBox(form)->isChecked(), expected);
        QCOMPARE(numberBox(form)->isEnabled(), expected);
        QCOMPARE(writeBox(form)->isEnabled(), expected);
    }
    QTest::mouseClick(button(form, "cb_cancel"), Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Rejected));
    QVERIFY(!form.isVisible());
    QVERIFY(form.isOn());
    QCOMPARE(form.number(), QStringLiteral("2345678"));
    QVERIFY(form.writeResults());

    // Opened again with the caller's values, the boxes show them, not the abandoned edits.
    form.setValues(form.isOn(), form.number(), form.writeResults());
    QVERIFY(modeBox(form)->isChecked() && writeBox(form)->isEnabled());
    QCOMPARE(numberBox(form)->text(), QStringLiteral("2345678"));
    QVERIFY(writeBox(form)->isChecked());
}

QTEST_MAIN(FormLocalPhoneTest)
#include "FormLocalPhoneTest.moc"
