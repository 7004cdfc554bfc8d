// The task manager over a store with one binding and two tasks: the tree and its lists, the
// delete confirmation, excluding, and including through the task test (cancelled: still
// excluded), with a screenshot.
#include "config/TaskStore.h"
#include "editors/forms/FormTaskManager.h"
#include "editors/forms/FormTestOperator.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace peltra;

namespace {

// Answers the next modal window: a message box by its button, the task test by cancelling it
// once it has finished. Its timers end with it.
class ModalAnswer {
public:
    explicit ModalAnswer(QMessageBox::StandardButton button) : m_button(button)
    {
        QTimer::singleShot(30, &m_context, [this] { answer(); });
    }
    const QString& text() const { return m_text; }
    bool answered() const { return m_answered; }

private:
    void answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_text = box->text();
            box->button(m_button)->click();
            m_answered = true;
            return;
        }
        if (auto* test = qobject_cast<editors::FormTestOperator*>(modal); test && test->isFinished()) {
            m_text = test->windowTitle();
            test->reject();
            m_answered = true;
            return;
        }
        QTimer::singleShot(20, &m_context, [this] { answer(); });
    }
    QObject m_context;
    QMessageBox::StandardButton m_button;
    QString m_text;
    bool m_answered = false;
};

}  // namespace

class FormTaskManagerTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void theTreeAndItsListsShowTheDefinitions();
    void deletingAsksFirst();
    void excludingAndACancelledInclusion();

private:
    QTreeWidgetItem* row(const QString& first) const;
    QStringList headers() const;

    std::unique_ptr<test::TempDir> m_dir;
    std::unique_ptr<platform::RegistryStore> m_registry;
    std::unique_ptr<config::ConfigStore> m_store;
    std::unique_ptr<editors::FormTaskManager> m_manager;
};

void FormTaskManagerTest::init()
{
    m_dir = std::make_unique<test::TempDir>();
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_dir->path().string()));
    m_registry = std::make_unique<platform::RegistryStore>(m_dir->path() / "registry.db");
    m_store = std::make_unique<config::ConfigStore>(*m_registry);
    config::TaskStore tasks(*m_store);
    QCOMPARE(tasks.addBinding("Абоненты", (m_dir->path() / "abon.dbf").string(), ""), config::AddResult::Added);
    QCOMPARE(config::Operators(*m_store, "Абоненты").add("Долг"), config::AddResult::Added);
    QCOMPARE(config::Operators(*m_store, "Абоненты").add("Пеня"), config::AddResult::Added);
    config::Operator debt = *tasks.task("Абоненты", "Долг");
    QCOMPARE(debt.setSort("SUMMA", "N", false), config::Change::Changed);
    QVERIFY(debt.setRangeField("SUMMA", "N") != config::Change::NotFound);
    QVERIFY(debt.addRange(100, 500));
    QVERIFY(debt.setNumber(config::TaskProperty::Typefilter, config::kFilterRanges));
    QVERIFY(debt.schedules().add(config::dailyBlock({8 * 3600, 20 * 3600}), 0, false));
    QVERIFY(debt.setValid(true));
    m_manager = std::make_unique<editors::FormTaskManager>(*m_store);
    m_manager->show();
}

void FormTaskManagerTest::cleanup()
{
    m_manager.reset();
    m_store.reset();
    m_registry.reset();
    m_dir.reset();
}

QTreeWidgetItem* FormTaskManagerTest::row(const QString& first) const
{
    QTreeWidget* list = m_manager->list();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == first)
            return list->topLevelItem(i);
    return nullptr;
}

QStringList FormTaskManagerTest::headers() const
{
    QStringList texts;
    for (int column = 0; column < m_manager->list()->columnCount(); ++column)
        texts << m_manager->list()->headerItem()->text(column);
    return texts;
}

void FormTaskManagerTest::theTreeAndItsListsShowTheDefinitions()
{
    QCOMPARE(m_manager->tree()->topLevelItem(0)->text(0), QStringLiteral("Базы данных"));
    QVERIFY(row(QStringLiteral("Абоненты")));
    QVERIFY(row(QStringLiteral("Добавить базу данных")));

    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты")));
    QTreeWidgetItem* debt = row(QStringLiteral("Долг"));
    QVERIFY(debt);
    QCOMPARE(debt->text(1), QStringLiteral("SUMMA убыв."));
    QCOMPARE(debt->text(2), QStringLiteral("Диапазоны по полю \"SUMMA\""));
    QCOMPARE(row(QStringLiteral("Пеня"))->text(2), QStringLiteral("Не задан"));
    QVERIFY(row(QStringLiteral("Добавить задание")));

    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Диапазоны")));
    QTreeWidgetItem* range = row(QStringLiteral("Диапазон 1"));
    QVERIFY(range);
    QCOMPARE(range->text(1), QStringLiteral("100"));
    QCOMPARE(range->text(3), QStringLiteral("500"));
    QCOMPARE(row(QStringLiteral("Добавить диапазон"))->text(2), QStringLiteral("SUMMA"));

    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Расписание")));
    QCOMPARE(row(QStringLiteral("Расписание 1"))->text(1), QStringLiteral("Ежедневно: 08:00-20:00; "));
    // After the ranges' four columns, each node shows only its own.
    QCOMPARE(headers(), (QStringList{QStringLiteral("Название"), QStringLiteral("Расписание")}));
    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Логическое условие фильтрации")));
    QCOMPARE(headers(), (QStringList{QStringLiteral("Название"), QStringLiteral("Значение")}));
    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Пеня\\Диапазоны")));
    QCOMPARE(row(QStringLiteral("Добавить диапазон"))->text(2), QStringLiteral("<нет>"));

    // A rebuild keeps the selection by its path.
    m_manager->rebuild();
    QCOMPARE(m_manager->selectedPath(), QStringLiteral("Абоненты\\Пеня\\Диапазоны"));
    QVERIFY(m_manager->grab().save(QStringLiteral("FormTaskManager.png")));
}

void FormTaskManagerTest::deletingAsksFirst()
{
    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Диапазоны")));
    m_manager->list()->setCurrentItem(row(QStringLiteral("Диапазон 1")));
    {
        ModalAnswer no(QMessageBox::No);
        m_manager->deleteElement();
        QCOMPARE(no.text(), QStringLiteral("Вы желаете удалить 'Диапазон 1' ?"));
    }
    QVERIFY(row(QStringLiteral("Диапазон 1")));
    // Removing a range widens the selection: the included task is withdrawn, and told so.
    ModalAnswer yes(QMessageBox::Yes);
    ModalAnswer notice(QMessageBox::Ok);
    m_manager->list()->setCurrentItem(row(QStringLiteral("Диапазон 1")));
    m_manager->deleteElement();
    QVERIFY(!row(QStringLiteral("Диапазон 1")));
    QVERIFY(notice.text().startsWith(QStringLiteral("Вы изменили ключевые свойства.")));
    QVERIFY(!config::Operator(*m_store, "Абоненты", "Долг").valid());
}

void FormTaskManagerTest::excludingAndACancelledInclusion()
{
    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг")));
    m_manager->excludeTask();
    QVERIFY(!config::Operator(*m_store, "Абоненты", "Долг").valid());
    // The test runs, is cancelled: the task stays excluded.
    ModalAnswer cancel(QMessageBox::Cancel);
    m_manager->includeTask();
    QVERIFY(cancel.answered());
    QVERIFY(!config::Operator(*m_store, "Абоненты", "Долг").valid());
    QCOMPARE(m_manager->selectedPath(), QStringLiteral("Абоненты\\Долг"));
}

QTEST_MAIN(FormTaskManagerTest)
#include "FormTaskManagerTest.moc"
