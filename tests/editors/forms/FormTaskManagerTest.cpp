// The task manager over the sound task and a second one: tree, lists, deleting, including, the template window.
#include "editors/forms/FormTaskManager.h"

#include "FormsTest.h"

#include "editors/forms/FormTemplate.h"
#include "editors/forms/FormTestOperator.h"
#include "speech/Patterns.h"

using namespace peltra;
using test::SoundTask;

class FormTaskManagerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SoundTask> m_fixture;
    std::unique_ptr<editors::FormTaskManager> m_manager;

    bool valid() { return m_fixture->task().valid(); }

    // The row of the manager's list whose first column says first, all its columns joined by |.
    QTreeWidgetItem* row(const QString& first) const
    {
        const auto found = m_manager->list()->findItems(first, Qt::MatchExactly, 0);
        return found.isEmpty() ? nullptr : found.front();
    }
    QString texts(QTreeWidgetItem* item) const
    {
        QStringList texts;
        for (int column = 0; column < m_manager->list()->columnCount(); ++column)
            texts << (item ? item->text(column) : QStringLiteral("?"));
        return texts.join('|');
    }

private slots:
    // Долг takes the rows of two SUMMA ranges and is included; Пеня has nothing set.
    void init()
    {
        m_fixture = std::make_unique<SoundTask>();
        QCOMPARE(m_fixture->error(), std::string());
        QCOMPARE(config::Operators(m_fixture->store(), SoundTask::kBinding).add("Пеня"), config::AddResult::Added);
        config::Operator debt = m_fixture->task();
        QCOMPARE(debt.setSort("SUMMA", "N", false), config::Change::Changed);
        QVERIFY(debt.setRangeField("SUMMA", "N") != config::Change::NotFound);
        QVERIFY(debt.addRange(100, 500) && debt.addRange(900, 1000) &&
                debt.setNumber(config::TaskProperty::Typefilter, config::kFilterRanges) && debt.setValid(true));
        m_manager = std::make_unique<editors::FormTaskManager>(m_fixture->store());
        m_manager->show();
    }

    void cleanup() { m_manager.reset(), m_fixture.reset(); }

    void theTreeAndItsListsShowTheDefinitions()
    {
        QCOMPARE(m_manager->tree()->topLevelItem(0)->text(0), QStringLiteral("Базы данных"));
        QCOMPARE(row("Абоненты")->text(1), QStringLiteral("abon.dbf"));
        QVERIFY(m_manager->selectPath("Абоненты"));
        QCOMPARE(texts(row("Долг")).section('|', 1, 2), QStringLiteral("SUMMA убыв.|Диапазоны по полю \"SUMMA\""));
        QCOMPARE(row("Пеня")->text(2), QStringLiteral("Не задан"));
        QVERIFY(row("Добавить задание"));
        QVERIFY(m_manager->selectPath("Абоненты\\Долг\\Диапазоны"));
        QCOMPARE(texts(row("Диапазон 2")).section('|', 1, 3), QStringLiteral("900|SUMMA|1000"));
        QCOMPARE(row("Добавить диапазон")->text(2), QStringLiteral("SUMMA"));
        // After the ranges' four columns, each node shows only its own.
        QVERIFY(m_manager->selectPath("Абоненты\\Долг\\Расписание"));
        QCOMPARE(texts(row("Расписание 1")), QStringLiteral("Расписание 1|Ежедневно: 08:00-20:00; "));
        QCOMPARE(texts(m_manager->list()->headerItem()), QStringLiteral("Название|Расписание"));
        m_manager->rebuild();  // keeps the selection by its path
        QCOMPARE(m_manager->selectedPath(), QStringLiteral("Абоненты\\Долг\\Расписание"));
        QVERIFY(m_manager->grab().save(QStringLiteral("FormTaskManager.png")));
    }

    // Removing a range withdraws the included task, told once; nothing goes without a yes.
    void deletingAsksFirstAndTellsOfAWithdrawal()
    {
        QVERIFY(m_manager->selectPath(QStringLiteral("Абоненты\\Долг\\Диапазоны")));
        const struct { const char* range; QMessageBox::StandardButton answer; bool notice; } rows[] = {
            {"Диапазон 1", QMessageBox::No, false}, {"Диапазон 1", QMessageBox::Yes, true},
                    {"Диапазон 2", QMessageBox::Yes, false}};
        for (const auto& r : rows) {
            const QString range = QString::fromUtf8(r.range);
            test::ModalCatcher boxes;
            boxes.answerNext(r.answer);
            m_manager->list()->setCurrentItem(row(range));
            m_manager->deleteElement();
            QStringList expected{QStringLiteral("Вы желаете удалить '%1' ?").arg(range)};
            if (r.notice)
                expected << QString::fromUtf8(editors::kWithdrawalNotice);
            QCOMPARE(boxes.texts(), expected);
            QCOMPARE(std::pair(row(range) != nullptr, valid()), std::pair(r.answer == QMessageBox::No, r.answer == QMessageBox::No));
        }
    }

    // The test runs each time: cancelled, the task stays excluded; confirmed, it is included.
    void includedOnlyThroughThePassedTest()
    {
        QVERIFY(m_manager->selectPath("Абоненты\\Долг"));
        m_manager->excludeTask();
        QVERIFY(!valid());
        for (const bool confirm : {false, true}) {
            test::ModalCatcher windows;
            QString title;
            windows.onDialog([&](QDialog* dialog) {
                auto* test = qobject_cast<editors::FormTestOperator*>(dialog);
                if (test == nullptr)
                    return;
                QVERIFY(QTest::qWaitFor([&] { return test->isFinished(); }, 10000));
                title = test->windowTitle();
                confirm ? test->accept() : test->reject();
            });
            m_manager->includeTask();
            QCOMPARE(title, QStringLiteral("Peltra - тестирование задания"));
            QVERIFY(valid() == confirm && m_manager->selectedPath() == "Абоненты\\Долг");
        }
    }

    void theTemplateWindowMovesPhrases()
    {
        editors::FormTemplate form(m_fixture->store(), SoundTask::kBinding, SoundTask::kTask, {"SUMMA"});
        const auto move = [&](int from, const char* button) {
            form.itemList()->setCurrentItem(form.itemList()->topLevelItem(from));
            form.findChild<QPushButton*>(button)->click();
            std::vector<speech::PatternItem> items;
            speech::Patterns(m_fixture->store(), SoundTask::kBinding, SoundTask::kTask).Load(items);
            QStringList paths;
            for (const speech::PatternItem& item : items)
                paths << QString::fromStdString(item.path);
            return paths;
        };
        QCOMPARE(move(2, "cb_up"), (QStringList{"Фразы\\Здравствуйте", "Фразы\\Конец", "Функции\\Гривны"}));
        QCOMPARE(move(1, "cb_up"), (QStringList{"Фразы\\Конец", "Фразы\\Здравствуйте", "Функции\\Гривны"}));
        QCOMPARE(move(0, "cb_down"), (QStringList{"Фразы\\Здравствуйте", "Фразы\\Конец", "Функции\\Гривны"}));
    }
};

PELTRA_FORMS_TEST(FormTaskManagerTest)
#include "FormTaskManagerTest.moc"
