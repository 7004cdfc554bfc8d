// The error box: its text from an error record, and one box per record to show.
#include "data/forms/OdbcErrorMessageBox.h"

#include "ModalCatcher.h"
#include "data/Connection.h"

#include <QPlainTextEdit>
#include <QTest>

using peltra::data::OdbcError;
using peltra::data::OdbcErrorMessageBox;
using peltra::test::child;
using peltra::test::click;
using peltra::test::ModalCatcher;

class OdbcErrorMessageBoxTest : public QObject {
    Q_OBJECT

private slots:
    void theTextNamesFunctionReturnCodeStateAndMessage()
    {
        OdbcErrorMessageBox box;
        box.setError({11, -1, "42S22", 1, "no such column: NOSUCH"});
        QCOMPARE(box.text(), QStringLiteral("Функция SQLExecDirect вернула SQL_ERROR\n\n"
                                            "State 42S22 NativeCode 1\n"
                                            "no such column: NOSUCH"));
        // Each record replaces the text of the one before.
        box.setError({30, 1000, "01000", 0, "warning"});
        QCOMPARE(box.text(), QStringLiteral("Функция  вернула SQL_WCM_WARNING\n\nState 01000 NativeCode 0\nwarning"));
        auto* text = box.findChild<QPlainTextEdit*>(QStringLiteral("textb_error"));
        QVERIFY(text != nullptr && text->isReadOnly());
    }

    void oneBoxPerRecordToShowInOrder()
    {
        ModalCatcher boxes;
        peltra::data::showErrors(nullptr, std::vector<OdbcError>{{11, -1, "42000", 1, "first"},
                                                                 {11, 0, "00000", 0, "nothing to show"},
                                                                 {13, -1, "HY000", 10, "second"}});
        QCOMPARE(boxes.boxes().size(), 2);
        QVERIFY(boxes.boxes().front().errorBox);
        QVERIFY(boxes.texts().at(0).endsWith(QStringLiteral("first")));
        QVERIFY(boxes.texts().at(1).startsWith(QStringLiteral("Функция SQLFetch вернула SQL_ERROR")));
        QVERIFY(boxes.texts().at(1).endsWith(QStringLiteral("second")));
    }

    void aConnectionsErrorsAreTakenFromIt()
    {
        peltra::data::Connection connection;
        QVERIFY(!connection.bind("other"));
        ModalCatcher boxes;
        peltra::data::showErrors(nullptr, connection);
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY(boxes.texts().front().startsWith(QStringLiteral("Функция SQLConnect вернула SQL_ERROR\n\nState IM002")));
        QVERIFY(!connection.hasErrors());
        peltra::data::showErrors(nullptr, connection);
        QCOMPARE(boxes.boxes().size(), 1);
    }

};

QTEST_MAIN(OdbcErrorMessageBoxTest)
#include "OdbcErrorMessageBoxTest.moc"
