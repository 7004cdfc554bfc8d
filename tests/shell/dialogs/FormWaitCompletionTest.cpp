// Tests of the shutdown wait window: what may close it, and only once.
#include "shell/dialogs/FormWaitCompletion.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <thread>

using peltra::shell::FormWaitCompletion;

class FormWaitCompletionTest : public QObject {
    Q_OBJECT
private slots:
    void closeBoxAndEscapeAreVetoed();
    void workCompleteClosesIt();
    void laterNotificationsAreIgnored();
    void buttonClosesIt();
    void notificationFromAnotherThreadEndsExec();
    void notificationBeforeExecReturnsAtOnce();

private:
    static QPushButton* terminateButton(FormWaitCompletion& form)
    {
        return form.findChild<QPushButton*>("cb_terminate");
    }
};

void FormWaitCompletionTest::closeBoxAndEscapeAreVetoed()
{
    FormWaitCompletion form;
    QSignalSpy finished(&form, &QDialog::finished);
    form.open();
    QVERIFY(form.isVisible());
    QVERIFY(!form.close());
    QTest::keyClick(&form, Qt::Key_Escape);
    form.reject();
    QTest::qWait(10);
    QVERIFY(form.isVisible());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(form.outcome(), FormWaitCompletion::Waiting);
    terminateButton(form)->click();
}

void FormWaitCompletionTest::workCompleteClosesIt()
{
    FormWaitCompletion form;
    QSignalSpy finished(&form, &QDialog::finished);
    form.open();
    QMetaObject::invokeMethod(&form, &FormWaitCompletion::workComplete, Qt::QueuedConnection);
    QTRY_VERIFY(!form.isVisible());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(FormWaitCompletion::WorkCompleted));
    QCOMPARE(form.outcome(), FormWaitCompletion::WorkCompleted);
}

void FormWaitCompletionTest::laterNotificationsAreIgnored()
{
    FormWaitCompletion form;
    QSignalSpy finished(&form, &QDialog::finished);
    form.open();
    form.workComplete();
    QVERIFY(!form.isVisible());
    form.workComplete();
    terminateButton(form)->click();
    QVERIFY(!form.isVisible());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(form.outcome(), FormWaitCompletion::WorkCompleted);

    // Once closed, the close box is no longer held back.
    form.show();
    QVERIFY(form.close());
}

void FormWaitCompletionTest::buttonClosesIt()
{
    FormWaitCompletion form;
    QSignalSpy finished(&form, &QDialog::finished);
    form.open();
    QTest::mouseClick(terminateButton(form), Qt::LeftButton);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.outcome(), FormWaitCompletion::TerminatedByUser);
    form.workComplete();  // the end of work arriving afterwards changes nothing
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(FormWaitCompletion::TerminatedByUser));
    QCOMPARE(form.outcome(), FormWaitCompletion::TerminatedByUser);
}

void FormWaitCompletionTest::notificationFromAnotherThreadEndsExec()
{
    FormWaitCompletion form;
    // Should the notification never arrive, the wait ends anyway so that the test fails, not hangs.
    QTimer::singleShot(5000, &form, [&form] { form.done(-1); });
    std::thread engine([&form] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        QMetaObject::invokeMethod(&form, &FormWaitCompletion::workComplete, Qt::QueuedConnection);
    });
    const int result = form.exec();
    engine.join();
    QCOMPARE(result, int(FormWaitCompletion::WorkCompleted));
    QCOMPARE(form.outcome(), FormWaitCompletion::WorkCompleted);
}

void FormWaitCompletionTest::notificationBeforeExecReturnsAtOnce()
{
    FormWaitCompletion form;
    QTimer::singleShot(5000, &form, [&form] { form.done(-1); });
    form.workComplete();
    QCOMPARE(form.exec(), int(FormWaitCompletion::WorkCompleted));
    QVERIFY(!form.isVisible());
}

QTEST_MAIN(FormWaitCompletionTest)
#include "FormWaitCompletionTest.moc"
