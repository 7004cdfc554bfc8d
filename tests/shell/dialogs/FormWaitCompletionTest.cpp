// Tests of the shutdown wait window: what may close it, and only once.
#include "shell/dialogs/FormWaitCompletion.h"

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
    void closeBoxAndEscapeAreVetoedTheButtonClosesIt();
    void workCompleteClosesItOnceAndLaterNotificationsAreIgnored();
    void notificationFromAnotherThreadOrBeforeExecEndsExec();
};

void FormWaitCompletionTest::closeBoxAndEscapeAreVetoedTheButtonClosesIt()
{
    FormWaitCompletion form;
    QSignalSpy finished(&form, &QDialog::finished);
    form.open();
    QVERIFY(!form.close());
    QTest::keyClick(&form, Qt::Key_Escape);
    form.reject();
    QTest::qWait(10);
    QVERIFY(form.isVisible());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(form.outcome(), FormWaitCompletion::Waiting);
    QTest::mouseClick(form.findChild<QPushButton*>("cb_terminate"), Qt::LeftButton);
    QVERIFY(!form.isVisible());
    form.workComplete();  // the end of work arriving afterwards changes nothing
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(FormWaitCompletion::TerminatedByUser));
    QCOMPARE(form.outcome(), FormWaitCompletion::TerminatedByUser);
}

void FormWaitCompletionTest::workCompleteClosesItOnceAndLaterNotificationsAreIgnored()
{
    FormWaitCompletion form;
    QSignalSpy finished(&form, &QDialog::finished);
    form.open();
    QMetaObject::invokeMethod(&form, &FormWaitCompletion::workComplete, Qt::QueuedConnection);
    QTRY_VERIFY(!form.isVisible());
    form.workComplete();
    form.findChild<QPushButton*>("cb_terminate")->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(FormWaitCompletion::WorkCompleted));
    QCOMPARE(form.outcome(), FormWaitCompletion::WorkCompleted);
    // Once closed, the close box is no longer held back.
    form.show();
    QVERIFY(form.close());
}

void FormWaitCompletionTest::notificationFromAnotherThreadOrBeforeExecEndsExec()
{
    for (const bool before : {false, true}) {
        FormWaitCompletion form;
        // Should the notification never arrive, the wait ends anyway so that the test fails, not hangs.
        QTimer::singleShot(5000, &form, [&form] { form.done(-1); });
        if (before)
            form.workComplete();
        std::thread engine([&form, before] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            if (!before)
                QMetaObject::invokeMethod(&form, &FormWaitCompletion::workComplete, Qt::QueuedConnection);
        });
        const int result = form.exec();
        engine.join();
        QCOMPARE(result, int(FormWaitCompletion::WorkCompleted));
        QVERIFY(!form.isVisible());
    }
}

QTEST_MAIN(FormWaitCompletionTest)
#include "FormWaitCompletionTest.moc"
