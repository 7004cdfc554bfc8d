// The task manager over the sound task and a second one: the tree and its lists, the delete
// confirmation and the withdrawal notice, excluding, including through the task test, and the
// template window it opens.
#include "editors/forms/FormTaskManager.h"

#include "ModalCatcher.h"
#include "SoundTask.h"
#include "editors/forms/FormTemplate.h"
#include "editors/forms/FormTestOperator.h"
#include "speech/Patterns.h"

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>

using namespace peltra;
using test::SoundTask;

class FormTaskManagerTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void theTreeAndItsListsShowTheDefinitions();
    void deletingAsksFirstAndTellsOfAWithdrawal();
    void includedOnlyThroughThePassedTest();
    void theTemplateWindowMovesAPhraseUp();

private:
    QTreeWidgetItem* row(const QString& first) const;
    QStringList headers() const;
    bool valid() { return m_fixture->task().valid(); }

    std::unique_ptr<SoundTask> m_fixture;
    std::unique_ptr<editors::FormTaskManager> m_manager;
};

// Долг takes the rows of two SUMMA ranges and is included; Пеня has nothing set.
void FormTaskManagerTest::init()
{
    m_fixture = std::make_unique<SoundTask>();
    QCOMPARE(m_fixture->error(), std::string());
    QCOMPARE(config::Operators(m_fixture->store(), SoundTask::kBinding).add("Пеня"), config::AddResult::Added);
    config::Operator debt = m_fixture->task();
    QCOMPARE(debt.setSort("SUMMA", "N", false), config::Change::Changed);
    QVERIFY(debt.setRangeField("SUMMA", "N") != config::Change::NotFound);
    QVERIFY(debt.addRange(100, 500) && debt.addRange(900, 1000));
    QVERIFY(debt.setNumber(config::TaskProperty::Typefilter, config::kFilterRanges));
    QVERIFY(debt.setValid(true));
    m_manager = std::make_unique<editors::FormTaskManager>(m_fixture->store());
    m_manager->show();
}

void FormTaskManagerTest::cleanup()
{
    m_manager.reset();
    m_fixture.reset();
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
    QCOMPARE(row(QStringLiteral("Абоненты"))->text(1), QStringLiteral("abon.dbf"));
    QVERIFY(row(QStringLiteral("Добавить базу данных")));

    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты")));
    QTreeWidgetItem* debt = row(QStringLiteral("Долг"));
    QVERIFY(debt);
    QCOMPARE(debt->text(1), QStringLiteral("SUMMA убыв."));
    QCOMPARE(debt->text(2), QStringLiteral("Диапазоны по полю \"SUMMA\""));
    QCOMPARE(row(QStringLiteral("Пеня"))->text(2), QStringLiteral("Не задан"));
    QVERIFY(row(QStringLiteral("Добавить задание")));

    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Диапазоны")));
    QTreeWidgetItem* range = row(QStringLiteral("Диапазон 2"));
    QVERIFY(range);
    QCOMPARE(range->text(1), QStringLiteral("900"));
    QCOMPARE(range->text(3), QStringLiteral("1000"));
    QCOMPARE(row(QStringLiteral("Добавить диапазон"))->text(2), QStringLiteral("SUMMA"));

    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Расписание")));
    QCOMPARE(row(QStringLiteral("Расписание 1"))->text(1), QStringLiteral("Ежедневно: 08:00-20:00; "));
    // After the ranges' four columns, each node shows only its own.
    QCOMPARE(headers(), (QStringList{QStringLiteral("Название"), QStringLiteral("Расписание")}));
    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Речевой шаблон")));
    QCOMPARE(row(QStringLiteral("Изменить шаблон"))->text(0), QStringLiteral("Изменить шаблон"));
    QCOMPARE(m_manager->list()->topLevelItemCount(), 4);
    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Пеня\\Диапазоны")));
    QCOMPARE(row(QStringLiteral("Добавить диапазон"))->text(2), QStringLiteral("<нет>"));

    // A rebuild keeps the selection by its path.
    m_manager->rebuild();
    QCOMPARE(m_manager->selectedPath(), QStringLiteral("Абоненты\\Пеня\\Диапазоны"));
    QVERIFY(m_manager->grab().save(QStringLiteral("FormTaskManager.png")));
}

void FormTaskManagerTest::deletingAsksFirstAndTellsOfAWithdrawal()
{
    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Диапазоны")));
    test::ModalCatcher boxes;
    boxes.answerNext(QMessageBox::No);
    m_manager->list()->setCurrentItem(row(QStringLiteral("Диапазон 1")));
    m_manager->deleteElement();
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Вы желаете удалить 'Диапазон 1' ?")});
    QVERIFY(row(QStringLiteral("Диапазон 1")));
    QVERIFY(valid());

    // Removing a range widens the selection: the included task is withdrawn, and told so; a task
    // already withdrawn is not told again.
    for (const char* range : {"Диапазон 1", "Диапазон 2"}) {
        boxes.clear();
        boxes.answerNext(QMessageBox::Yes);
        m_manager->list()->setCurrentItem(row(QString::fromUtf8(range)));
        m_manager->deleteElement();
        QVERIFY(!row(QString::fromUtf8(range)));
        QStringList expected{QStringLiteral("Вы желаете удалить '%1' ?").arg(QString::fromUtf8(range))};
        if (range == std::string("Диапазон 1"))
            expected << QString::fromUtf8(editors::kWithdrawalNotice);
        QCOMPARE(boxes.texts(), expected);
        QVERIFY(!valid());
    }
}

// The test runs each time: cancelled, the task stays excluded; confirmed, it is included.
void FormTaskManagerTest::includedOnlyThroughThePassedTest()
{
    QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг")));
    m_manager->excludeTask();
    QVERIFY(!valid());
    for (const bool confirm : {false, true}) {
        test::ModalCatcher windows;
        QString title;
        windows.onDialog([&](QDialog* dialog) {
            auto* test = qobject_cast<editors::FormTestOperator*>(dialog);
            QVERIFY(test && QTest::qWaitFor([&] { return test->isFinished(); }, 10000));
            title = test->windowTitle();
            confirm ? test->accept() : test->reject();
        });
        m_manager->includeTask();
        QCOMPARE(title, QStringLiteral("Peltra - тестирование задания"));
        QCOMPARE(valid(), confirm);
        QCOMPARE(m_manager->selectedPath(), QStringLiteral("Абоненты\\Долг"));
    }
}

void FormTaskManagerTest::theTemplateWindowMovesAPhraseUp()
{
    editors::FormTemplate form(m_fixture->store(), SoundTask::kBinding, SoundTask::kTask, {"SUMMA"});
    const auto paths = [&] {
        std::vector<speech::PatternItem> items;
        speech::Patterns(m_fixture->store(), SoundTask::kBinding, SoundTask::kTask).Load(items);
        QStringList out;
        for (const speech::PatternItem& item : items)
            out << QString::fromStdString(item.path);
        return out;
    };
    for (const int from : {2, 1}) {
        form.itemList()->setCurrentItem(form.itemList()->topLevelItem(from));
        form.findChild<QPushButton*>("cb_up")->click();
    }
    QCOMPARE(paths(), (QStringList{"Фразы\\Конец", "Фразы\\Здравствуйте", "Функции\\Гривны"}));
    form.itemList()->setCurrentItem(form.itemList()->topLevelItem(0));
    form.findChild<QPushButton*>("cb_down")->click();
    QCOMPARE(paths(), (QStringList{"Фразы\\Здравствуйте", "Фразы\\Конец", "Функции\\Гривны"}));
}

QTEST_MAIN(FormTaskManagerTest)
#include "FormTaskManagerTest.moc"
