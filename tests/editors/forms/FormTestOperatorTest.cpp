// The task test window: its lines are the test's report, shown while the test runs; the buttons
// stay disabled until it ends; OK only in mode 1 and only without a critical error.
#include "editors/forms/FormTestOperator.h"

#include "ModalCatcher.h"
#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "data/forms/FormViewDbf.h"
#include "editors/TaskTest.h"
#include "platform/registry/RegistryStore.h"
#include "speech/Patterns.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QColor>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using peltra::editors::FormTestOperator;
using peltra::editors::IncludeResult;
using peltra::editors::TaskTestReport;
namespace fs = std::filesystem;

namespace {

const std::string kBinding = "Абоненты";
const std::string kTask = "Долг";

// Lets a paced test go on when it is dropped, so that a failed check never leaves the worker
// waiting while the window joins it.
class Gate {
public:
    ~Gate() { open(); }
    void open()
    {
        if (!m_opened) {
            m_opened = true;
            m_promise.set_value();
        }
    }
    std::shared_future<void> future() { return m_future; }

private:
    std::promise<void> m_promise;
    std::shared_future<void> m_future = m_promise.get_future().share();
    bool m_opened = false;
};

}  // namespace

class FormTestOperatorTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_runtime;
    std::optional<std::string> m_savedRuntime;
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<peltra::platform::RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::config::TaskStore> m_tasks;

    template <typename T>
    static T* control(QWidget& form, const char* name)
    {
        T* widget = form.findChild<T*>(QString::fromLatin1(name));
        if (widget == nullptr)
            qFatal("control %s is missing", name);
        return widget;
    }

    static QStringList shown(FormTestOperator& form)
    {
        auto* list = control<QListWidget>(form, "lb_report");
        QStringList lines;
        for (int i = 0; i < list->count(); ++i)
            lines << list->item(i)->text();
        return lines;
    }

    static QStringList qLines(const std::vector<std::string>& lines)
    {
        QStringList out;
        for (const std::string& line : lines)
            out << QString::fromStdString(line);
        return out;
    }

    peltra::config::Operator task() { return *m_tasks->task(kBinding, kTask); }

    // Shows the window and waits for the end of its test.
    static bool runToEnd(FormTestOperator& form)
    {
        QSignalSpy finished(&form, &FormTestOperator::testFinished);
        form.show();
        return form.isFinished() || finished.wait(10000);
    }

private slots:
    // A sound task: a table with the columns a source needs, sorted by SUMMA, one daily schedule,
    // a template of three items.
    void init()
    {
        m_runtime = std::make_unique<peltra::test::TempDir>();
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_savedRuntime = old;
        setenv("XDG_RUNTIME_DIR", m_runtime->path().c_str(), 1);

        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<peltra::platform::RegistryStore>(*m_dir / "registry.db");
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_tasks = std::make_unique<peltra::config::TaskStore>(*m_store);

        const fs::path table = *m_dir / "abon.dbf";
        const std::vector<peltra::data::DbfFieldSpec> fields = {
            {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0},
            {"CLOCK", 'C', 8, 0},  {"FIO", 'C', 20, 0},  {"SUMMA", 'N', 10, 0}};
        std::string error;
        QVERIFY2(peltra::data::DbfTable::create(table, fields, 866, true, &error), error.c_str());
        peltra::data::DbfTable::Options options;
        options.writable = true;
        auto dbf = peltra::data::DbfTable::open(table, options, &error);
        QVERIFY2(dbf, error.c_str());
        QVERIFY2(dbf->append({{0, peltra::data::DbfValue::ofText("2001")}, {6, peltra::data::DbfValue::ofNumber(150)}},
                             nullptr, &error),
                 error.c_str());
        dbf.reset();

        QCOMPARE(m_tasks->addBinding(kBinding, table.string(), ""), peltra::config::AddResult::Added);
        QCOMPARE(peltra::config::Operators(*m_store, kBinding).add(kTask), peltra::config::AddResult::Added);
        QCOMPARE(task().setSort("SUMMA", "N", true), peltra::config::Change::Changed);
        QVERIFY(task().schedules().add(peltra::config::dailyBlock({8 * 3600, 20 * 3600}), 0, false));
        peltra::speech::Patterns patterns(*m_store, kBinding, kTask);
        QVERIFY2(patterns.isOpen(), patterns.openError().c_str());
        peltra::speech::PatternItem item;
        item.path = "Фразы\\Здравствуйте";
        QCOMPARE(patterns.Insert("", item), std::string("0001"));
        item.path = "Фразы\\Конец";
        QCOMPARE(patterns.Insert("0001", item), std::string("0002"));
    }

    void cleanup()
    {
        m_tasks.reset();
        m_store.reset();
        m_registry.reset();
        m_dir.reset();
        if (m_savedRuntime)
            setenv("XDG_RUNTIME_DIR", m_savedRuntime->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        m_savedRuntime.reset();
        m_runtime.reset();
    }

    void aSoundTaskCanBeIncluded()
    {
        const TaskTestReport expected = peltra::editors::runTaskTest(*m_tasks, kBinding, kTask);
        QVERIFY(expected.passed());
        QVERIFY(!expected.warning);

        FormTestOperator form(*m_tasks, kBinding, kTask, FormTestOperator::BeforeInclude);
        QCOMPARE(form.windowTitle(), QStringLiteral("Peltra - тестирование задания"));
        auto* ok = control<QPushButton>(form, "cb_OK");
        auto* cancel = control<QPushButton>(form, "cb_Cancel");
        QVERIFY(runToEnd(form));
        QCOMPARE(shown(form), qLines(expected.lines));
        QCOMPARE(form.report().lines, expected.lines);
        QVERIFY(ok->isVisible());
        QVERIFY(ok->isEnabled());
        QVERIFY(cancel->isEnabled());
        QVERIFY(!task().valid());

        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        // What the task manager does on OK.
        QCOMPARE(peltra::editors::includeTestedTask(*m_tasks, form.report()), IncludeResult::Included);
        QVERIFY(task().valid());
    }

    void theButtonsWaitForTheEndOfTheTest()
    {
        Gate gate;
        FormTestOperator form(*m_tasks, kBinding, kTask, FormTestOperator::BeforeInclude);
        // Holds the test after its fourth line until the gate opens.
        form.setRunner([future = gate.future()](peltra::config::TaskStore& tasks, const std::string& binding,
                                                const std::string& name,
                                                const std::function<void(const std::string&)>& onLine) {
            int count = 0;
            return peltra::editors::runTaskTest(tasks, binding, name, [&](const std::string& line) {
                onLine(line);
                if (++count == 4)
                    future.wait();
            });
        });
        auto* ok = control<QPushButton>(form, "cb_OK");
        auto* cancel = control<QPushButton>(form, "cb_Cancel");
        QSignalSpy finished(&form, &FormTestOperator::testFinished);
        form.show();
        QVERIFY(form.isRunning());
        QVERIFY(!ok->isEnabled());
        QVERIFY(!cancel->isEnabled());

        // The lines written so far are shown while the test goes on.
        QTRY_COMPARE(control<QListWidget>(form, "lb_report")->count(), 4);
        QCOMPARE(shown(form).front(), QStringLiteral("База данных: \"Абоненты\""));
        QVERIFY(form.isRunning());
        QVERIFY(!ok->isEnabled());
        QVERIFY(!cancel->isEnabled());
        form.reject();
        QVERIFY(!form.close());
        QVERIFY2(form.isVisible(), "the window cannot be closed in the middle of a test");

        gate.open();
        QVERIFY(finished.wait(10000));
        QVERIFY(!form.isRunning());
        QVERIFY(ok->isEnabled());
        QVERIFY(cancel->isEnabled());
        QCOMPARE(shown(form), qLines(form.report().lines));
        QTest::mouseClick(cancel, Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(!form.isVisible());
    }

    void okIsHiddenInTestOnlyMode()
    {
        FormTestOperator form(*m_tasks, kBinding, kTask, FormTestOperator::TestOnly);
        auto* ok = control<QPushButton>(form, "cb_OK");
        QVERIFY(runToEnd(form));
        QVERIFY(!ok->isVisible());
        QVERIFY(!ok->isEnabled());
        QVERIFY(control<QPushButton>(form, "cb_Cancel")->isEnabled());
        form.accept();
        QVERIFY2(form.isVisible(), "there is nothing to confirm");
        QCOMPARE(shown(form).back(), QStringLiteral("Задание может быть включенным в планирование."));
    }

    void aCriticalErrorKeepsOkDisabled()
    {
        QVERIFY(task().schedules().remove("0001"));
        FormTestOperator form(*m_tasks, kBinding, kTask, FormTestOperator::BeforeInclude);
        QVERIFY(runToEnd(form));
        const QStringList lines = shown(form);
        const int critical = lines.indexOf(QStringLiteral("!!!!! Критическая ошибка !!!!! Не начначено расписание."));
        QVERIFY(critical >= 0);
        auto* list = control<QListWidget>(form, "lb_report");
        QCOMPARE(list->item(critical)->foreground().color(), QColor(0xb0, 0x00, 0x00));
        QCOMPARE(list->item(0)->foreground().style(), Qt::NoBrush);  // plain text keeps the palette
        QCOMPARE(lines.mid(lines.size() - 2),
                 (QStringList{"В процессе тестирования обнаружены критические ошибки.",
                              "Задание не может быть включенным в планирование."}));
        QVERIFY(control<QPushButton>(form, "cb_OK")->isVisible());
        QVERIFY(!control<QPushButton>(form, "cb_OK")->isEnabled());
        QVERIFY(control<QPushButton>(form, "cb_Cancel")->isEnabled());
        form.accept();
        QVERIFY(form.isVisible());
        QCOMPARE(peltra::editors::includeTestedTask(*m_tasks, form.report()), IncludeResult::Refused);
        QVERIFY(!task().valid());
    }

    void aWarningStillAllowsOk()
    {
        QVERIFY(task().setNumber(peltra::config::TaskProperty::Typefilter, peltra::config::kFilterCondition));
        FormTestOperator form(*m_tasks, kBinding, kTask, FormTestOperator::BeforeInclude);
        QVERIFY(runToEnd(form));
        QVERIFY(shown(form).contains(
            QStringLiteral("!!!!! Предупреждение !!!!! Назначен фильтр по логическому условию, но не определено условие!")));
        QVERIFY(form.report().warning);
        QVERIFY(control<QPushButton>(form, "cb_OK")->isEnabled());
    }

    void aFailedQueryOpensTheCheckerWithItsError()
    {
        peltra::config::ConditionSet set = task().conditions();
        set.products[set.addProduct()].add({peltra::config::kConditionExpression, "", 2, "", "NOSUCHFIELD > 1"});
        QVERIFY(task().applyConditions(set));
        QVERIFY(task().setNumber(peltra::config::TaskProperty::Typefilter, peltra::config::kFilterCondition));

        peltra::test::ModalCatcher boxes;
        QString title;
        QString log;
        // Closes the checker once its boxes are answered.
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* checker = qobject_cast<peltra::data::FormViewDbf*>(QApplication::activeModalWidget());
            if (checker == nullptr || !checker->isFinished() || !title.isEmpty())
                return;
            title = checker->windowTitle();
            log = control<QPlainTextEdit>(*checker, "textb_log")->toPlainText();
            control<QPushButton>(*checker, "cb_close")->click();
        });
        closer.start(10);

        FormTestOperator form(*m_tasks, kBinding, kTask, FormTestOperator::TestOnly);
        QVERIFY(runToEnd(form));
        QCOMPARE(title, QStringLiteral("Проверка логического условия фильтрации"));
        QVERIFY2(log.contains(QStringLiteral("SQL Statement=SELECT ")), qPrintable(log));
        QVERIFY2(log.endsWith(QStringLiteral(" FROM abon.dbf WHERE NOSUCHFIELD > 1 ORDER BY SUMMA ASC")), qPrintable(log));
        QVERIFY(boxes.boxes().size() >= 2);
        QCOMPARE(boxes.boxes().front().title, QStringLiteral("Проверка SQL запроса"));
        QCOMPARE(boxes.texts().front(), QStringLiteral("Ошибка выполнения SQL запроса."));
        // The driver's error record, naming what it could not find.
        QVERIFY(boxes.boxes().at(1).errorBox);
        QVERIFY2(boxes.texts().at(1).contains(QStringLiteral("NOSUCHFIELD")), qPrintable(boxes.texts().at(1)));
        QVERIFY(shown(form).contains(QStringLiteral("!!!!! Критическая ошибка !!!!! Ошибка выполнения SQL запроса.")));
        QVERIFY(control<QPushButton>(form, "cb_Cancel")->isEnabled());
    }

    void aTaskChangedAfterItsTestIsNotIncluded()
    {
        FormTestOperator form(*m_tasks, kBinding, kTask, FormTestOperator::BeforeInclude);
        QVERIFY(runToEnd(form));
        QCOMPARE(task().setSort("SUMMA", "N", false), peltra::config::Change::Changed);
        QTest::mouseClick(control<QPushButton>(form, "cb_OK"), Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(peltra::editors::includeTestedTask(*m_tasks, form.report()), IncludeResult::Changed);
        QVERIFY(!task().valid());
    }

    void closingTheWindowWhileTheTestRunsIsSafe()
    {
        // Dropped at once: the window waits for its worker, whose queued lines die with it.
        for (int i = 0; i < 3; ++i) {
            auto form = std::make_unique<FormTestOperator>(*m_tasks, kBinding, kTask, FormTestOperator::TestOnly);
            form->show();
            QVERIFY(form->isRunning());
            form.reset();
        }
        QCoreApplication::processEvents();
    }

    void screenshot()
    {
        QVERIFY(task().setNumber(peltra::config::TaskProperty::Typefilter, peltra::config::kFilterRanges));
        QCOMPARE(task().setRangeField("SUMMA", "N"), peltra::config::Change::Changed);
        FormTestOperator form(*m_tasks, kBinding, kTask, FormTestOperator::BeforeInclude);
        QVERIFY(runToEnd(form));
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.grab().save("FormTestOperator.png"));
    }
};

QTEST_MAIN(FormTestOperatorTest)
#include "FormTestOperatorTest.moc"
