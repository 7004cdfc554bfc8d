// The task test window: its lines are the test's report, shown while the test runs; the buttons
// stay disabled until it ends; OK only before including and only without a critical error.
#include "editors/forms/FormTestOperator.h"

#include "ModalCatcher.h"
#include "SoundTask.h"
#include "data/forms/FormViewDbf.h"
#include "editors/TaskTest.h"

#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <future>
#include <memory>
#include <utility>

using peltra::editors::FormTestOperator;
using peltra::test::SoundTask;
using peltra::config::TaskProperty;
namespace config = peltra::config;

namespace {

QStringList shown(FormTestOperator& form)
{
    auto* list = form.findChild<QListWidget*>("lb_report");
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

QPushButton* button(FormTestOperator& form, const char* name) { return form.findChild<QPushButton*>(name); }

// Shows the window and waits for the end of its test.
bool runToEnd(FormTestOperator& form)
{
    QSignalSpy finished(&form, &FormTestOperator::testFinished);
    form.show();
    return form.isFinished() || finished.wait(10000);
}

}  // namespace

class FormTestOperatorTest : public QObject {
    Q_OBJECT

private slots:
    // Each row: a window over the sound task, one thing changed, its buttons after the test,
    // and the findings in their colours.
    void theButtonsAfterTheTest()
    {
        const QColor red(0xb0, 0x00, 0x00);
        const QColor orange(0xa0, 0x50, 0x00);
        const struct {
            const char* name;
            int mode;
            std::function<void(SoundTask&)> change;
            bool okVisible;
            bool okEnabled;
        } rows[] = {
            {"sound", FormTestOperator::BeforeInclude, [](SoundTask&) {}, true, true},
            {"test only", FormTestOperator::TestOnly, [](SoundTask&) {}, false, false},
            {"no schedule", FormTestOperator::BeforeInclude,
             [](SoundTask& s) { QVERIFY(s.task().schedules().remove("0001")); }, true, false},
            {"a warning", FormTestOperator::BeforeInclude,
             [](SoundTask& s) { QVERIFY(s.task().setNumber(TaskProperty::Typefilter, config::kFilterCondition)); },
             true, true},
        };
        for (const auto& row : rows) {
            SoundTask fixture;
            QCOMPARE(fixture.error(), std::string());
            row.change(fixture);
            const peltra::editors::TaskTestReport expected =
                peltra::editors::runTaskTest(fixture.tasks(), SoundTask::kBinding, SoundTask::kTask);
            FormTestOperator form(fixture.tasks(), SoundTask::kBinding, SoundTask::kTask, row.mode);
            QVERIFY2(runToEnd(form), row.name);
            QStringList lines;
            for (const std::string& line : expected.lines)
                lines << QString::fromStdString(line);
            QCOMPARE(shown(form), lines);
            auto* list = form.findChild<QListWidget*>("lb_report");
            for (int i = 0; i < list->count(); ++i) {
                // Findings stand out; plain lines keep the palette.
                const QBrush brush = list->item(i)->foreground();
                if (lines[i].startsWith(QString::fromUtf8(peltra::editors::kCriticalPrefix)))
                    QCOMPARE(brush.color(), red);
                else if (lines[i].startsWith(QString::fromUtf8(peltra::editors::kWarningPrefix)))
                    QCOMPARE(brush.color(), orange);
                else
                    QCOMPARE(brush.style(), Qt::NoBrush);
            }
            QVERIFY2(button(form, "cb_OK")->isVisible() == row.okVisible, row.name);
            QVERIFY2(button(form, "cb_OK")->isEnabled() == row.okEnabled, row.name);
            QVERIFY(button(form, "cb_Cancel")->isEnabled());
            if (std::string(row.name) == "sound")
                QVERIFY(form.grab().save("FormTestOperator.png"));
            // OK closes the window only when it is offered.
            form.accept();
            QVERIFY2(form.isVisible() != row.okEnabled, row.name);
            QCOMPARE(form.result(), int(row.okEnabled ? QDialog::Accepted : QDialog::Rejected));
        }
    }

    void theButtonsWaitForTheEndOfTheTest()
    {
        SoundTask fixture;
        QCOMPARE(fixture.error(), std::string());
        FormTestOperator form(fixture.tasks(), SoundTask::kBinding, SoundTask::kTask, FormTestOperator::BeforeInclude);
        // Holds the test after its fourth line until it opens. It goes before the window, opening,
        // so that the window never joins a worker that waits, also when a check fails.
        struct Gate {
            std::promise<void> promise;
            bool opened = false;
            void open()
            {
                if (!std::exchange(opened, true))
                    promise.set_value();
            }
            ~Gate() { open(); }
        } gate;
        form.setRunner([opened = gate.promise.get_future().share()](
                           peltra::config::TaskStore& tasks, const std::string& binding, const std::string& name,
                           const std::function<void(const std::string&)>& onLine) {
            int count = 0;
            return peltra::editors::runTaskTest(tasks, binding, name, [&](const std::string& line) {
                onLine(line);
                if (++count == 4)
                    opened.wait();
            });
        });
        QSignalSpy finished(&form, &FormTestOperator::testFinished);
        form.show();
        // The lines written so far are shown while the test goes on; it cannot be closed then.
        QTRY_COMPARE(shown(form).size(), 4);
        QCOMPARE(shown(form).front(), QStringLiteral("База данных: \"Абоненты\""));
        QVERIFY(form.isRunning());
        QVERIFY(!button(form, "cb_OK")->isEnabled());
        QVERIFY(!button(form, "cb_Cancel")->isEnabled());
        form.reject();
        QVERIFY(!form.close());
        QVERIFY(form.isVisible());

        gate.open();
        QVERIFY(finished.wait(10000));
        QVERIFY(!form.isRunning());
        QVERIFY(button(form, "cb_OK")->isEnabled());
        QCOMPARE(shown(form).size(), int(form.report().lines.size()));
        QTest::mouseClick(button(form, "cb_Cancel"), Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(!form.isVisible());
    }

    // The query checker opens with the statement and the driver's error record naming what it
    // could not find, as the condition editor's test shows them.
    void aFailedQueryOpensTheCheckerWithItsError()
    {
        SoundTask fixture;
        QCOMPARE(fixture.error(), std::string());
        peltra::config::ConditionSet set = fixture.task().conditions();
        set.products[set.addProduct()].add({peltra::config::kConditionExpression, "", 2, "", "NOSUCHFIELD > 1"});
        QVERIFY(fixture.task().applyConditions(set));
        QVERIFY(fixture.task().setNumber(TaskProperty::Typefilter, peltra::config::kFilterCondition));
        peltra::test::ModalCatcher windows;
        QString title;
        QString log;
        windows.onDialog([&](QDialog* dialog) {
            auto* checker = qobject_cast<peltra::data::FormViewDbf*>(dialog);
            if (checker == nullptr)
                return;  // the test window itself
            QVERIFY(QTest::qWaitFor([&] { return checker->isFinished(); }, 10000));
            title = checker->windowTitle();
            log = checker->findChild<QPlainTextEdit*>("textb_log")->toPlainText();
            checker->findChild<QPushButton*>("cb_close")->click();
        });
        FormTestOperator form(fixture.tasks(), SoundTask::kBinding, SoundTask::kTask, FormTestOperator::TestOnly);
        QVERIFY(runToEnd(form));
        QCOMPARE(title, QStringLiteral("Проверка логического условия фильтрации"));
        QVERIFY2(log.endsWith(" FROM abon.dbf WHERE NOSUCHFIELD > 1 ORDER BY SUMMA ASC"), qPrintable(log));
        QCOMPARE(windows.boxes().size(), 2);
        QCOMPARE(windows.boxes().front().title, QStringLiteral("Проверка SQL запроса"));
        QCOMPARE(windows.texts().front(), QStringLiteral("Ошибка выполнения SQL запроса."));
        QVERIFY(windows.boxes().at(1).errorBox);
        QVERIFY2(windows.texts().at(1).contains("NOSUCHFIELD"), qPrintable(windows.texts().at(1)));
    }

    void closingTheWindowWhileTheTestRunsIsSafe()
    {
        SoundTask fixture;
        QCOMPARE(fixture.error(), std::string());
        // Dropped at once: the window waits for its worker, whose queued lines die with it.
        for (int i = 0; i < 3; ++i) {
            auto form = std::make_unique<FormTestOperator>(fixture.tasks(), SoundTask::kBinding, SoundTask::kTask,
                                                           FormTestOperator::TestOnly);
            form->show();
            QVERIFY(form->isRunning());
            form.reset();
        }
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(FormTestOperatorTest)
#include "FormTestOperatorTest.moc"
