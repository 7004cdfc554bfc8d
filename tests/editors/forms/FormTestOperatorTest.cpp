// The task test window: the report shown as it runs; buttons disabled till the end; OK only when it may include.
#include "editors/forms/FormTestOperator.h"

#include "FormsTest.h"

#include "editors/TaskTest.h"

#include <QListWidget>
#include <QSignalSpy>

#include <future>
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

QPushButton* button(FormTestOperator& form, const char* name) { return peltra::test::child<QPushButton>(form, name); }

}  // namespace

class FormTestOperatorTest : public QObject {
    Q_OBJECT

private slots:
    // Each row: the sound task with one thing changed, the buttons after the test, the findings' colours.
    void theButtonsAfterTheTest()
    {
        const QColor red(0xb0, 0x00, 0x00), orange(0xa0, 0x50, 0x00);
        const struct { const char* name; int mode; std::function<void(SoundTask&)> change; bool okVisible, okEnabled; } rows[] = {
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
            QSignalSpy finished(&form, &FormTestOperator::testFinished);
            form.show();
            QVERIFY2(form.isFinished() || finished.wait(10000), row.name);
            QStringList lines;
            for (const std::string& line : expected.lines)
                lines << QString::fromStdString(line);
            QCOMPARE(shown(form), lines);
            auto* list = form.findChild<QListWidget*>("lb_report");
            for (int i = 0; i < list->count(); ++i) {  // findings stand out; plain lines keep the palette
                const QBrush brush = list->item(i)->foreground();
                QCOMPARE(brush.style() == Qt::NoBrush ? QColor() : brush.color(),
                         lines[i].startsWith(QString::fromUtf8(peltra::editors::kCriticalPrefix))  ? red
                         : lines[i].startsWith(QString::fromUtf8(peltra::editors::kWarningPrefix)) ? orange : QColor());
            }
            QVERIFY2(button(form, "cb_OK")->isVisible() == row.okVisible &&
                         button(form, "cb_OK")->isEnabled() == row.okEnabled && button(form, "cb_Cancel")->isEnabled(),
                     row.name);
            if (std::string(row.name) == "sound")
                QVERIFY(form.grab().save("FormTestOperator.png"));
            // OK closes the window only when it is offered.
            form.accept();
            QVERIFY2(form.isVisible() != row.okEnabled && form.result() == (row.okEnabled ? QDialog::Accepted : QDialog::Rejected), row.name);
        }
    }

    void theButtonsWaitForTheEndOfTheTest()
    {
        SoundTask fixture;
        QCOMPARE(fixture.error(), std::string());
        FormTestOperator form(fixture.tasks(), SoundTask::kBinding, SoundTask::kTask, FormTestOperator::BeforeInclude);
        // Holds the test after its fourth line; destroyed after the window, it never leaves the worker waiting.
        struct Gate {
            std::promise<void> promise;
            bool opened = false;
            void open() { std::exchange(opened, true) ? void() : promise.set_value(); }
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
        QVERIFY(form.isRunning() && !button(form, "cb_OK")->isEnabled() && !button(form, "cb_Cancel")->isEnabled());
        form.reject();
        QVERIFY(!form.close() && form.isVisible());

        gate.open();
        QVERIFY(finished.wait(10000));
        QVERIFY(!form.isRunning() && button(form, "cb_OK")->isEnabled());
        QCOMPARE(shown(form).size(), int(form.report().lines.size()));
        QTest::mouseClick(button(form, "cb_Cancel"), Qt::LeftButton);
        QVERIFY(form.result() == QDialog::Rejected && !form.isVisible());
    }
};

PELTRA_FORMS_TEST(FormTestOperatorTest)
#include "FormTestOperatorTest.moc"
