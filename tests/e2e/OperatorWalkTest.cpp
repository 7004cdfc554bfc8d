// An operator's first day, through the windows alone: the station runs with no task at all; the
// operator binds a table, creates a task sorted by debt with a range filter, gives it a schedule
// and a spoken template, tests and includes it, links it to one line, and watches it run to the
// end in the main window. The lines, the phrase catalogue and its library are the installation's
// (set up as the port and lexicon tools would), not the operator's.
#include "support/ModalCatcher.h"
#include "config/TaskStore.h"
#include "config/forms/FormRange.h"
#include "config/forms/FormSchedule.h"
#include "config/forms/RangeSlider.h"
#include "data/DbfTable.h"
#include "data/forms/FormTask.h"
#include "editors/forms/FormLinking.h"
#include "editors/forms/FormOperator.h"
#include "editors/forms/FormTaskManager.h"
#include "editors/forms/FormTemplate.h"
#include "editors/forms/FormTestOperator.h"
#include "shell/Mainf.h"
#include "speech/Catalogue.h"
#include "support/DesktopStation.h"
#include "support/StationSetup.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

using namespace peltra;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kLines = 2;
// Debts of the people in the table; the task calls those owing 100 to 500 only.
constexpr int kDebts[] = {50, 120, 480, 510, 300, 99, 500, 100, 700, 250};

void setText(QWidget* form, const char* name, const QString& text)
{
    auto* box = test::child<QLineEdit>(*form, name);
    box->setFocus();
    box->selectAll();
    test::typeText(box, text);
}

QTreeWidgetItem* findItem(QTreeWidget* tree, const QString& text)
{
    std::function<QTreeWidgetItem*(QTreeWidgetItem*)> search = [&](QTreeWidgetItem* item) -> QTreeWidgetItem* {
        if (item->text(0) == text && item->childCount() == 0)
            return item;
        for (int i = 0; i < item->childCount(); ++i)
            if (QTreeWidgetItem* found = search(item->child(i)))
                return found;
        return nullptr;
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (QTreeWidgetItem* found = search(tree->topLevelItem(i)))
            return found;
    return nullptr;
}

}  // namespace

class OperatorWalkTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fromAnEmptyStoreToATaskRunInTheMainWindow();

private:
    void prepareInstallation();
    void startStation();
    // The dialogs the task manager opens, filled in as the operator would.
    void fillDialog(QDialog* dialog);

    std::unique_ptr<test::DesktopStation> m_desk;
    fs::path m_home;
    fs::path m_table;
    shell::Mainf* m_window = nullptr;
    bool m_testAllowedInclusion = false;
    QString m_testReport;
};

void OperatorWalkTest::init()
{
    m_desk = std::make_unique<test::DesktopStation>();
    m_home = m_desk->home();
    prepareInstallation();
}

void OperatorWalkTest::cleanup()
{
    m_window = nullptr;
    m_desk.reset();
}

void OperatorWalkTest::prepareInstallation()
{
    m_table = m_home / "debtors.dbf";
    std::string error;
    QVERIFY(data::DbfTable::create(m_table,
                                   {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
                                    {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 8, 0}, {"SUMMA", 'N', 10, 2}},
                                   866, false, &error));
    data::DbfTable::Options options;
    options.writable = true;
    auto file = data::DbfTable::open(m_table, options, &error);
    QVERIFY(file);
    for (std::size_t i = 0; i < std::size(kDebts); ++i)
        QVERIFY(file->append({{0, data::DbfValue::ofText(std::to_string(2400000 + i))},
                              {5, data::DbfValue::ofText(std::to_string(kDebts[i]))}},
                             nullptr, &error));
    file.reset();

    platform::RegistryStore registry(m_home / "registry.db");
    config::ConfigStore store(registry);
    QVERIFY(test::configureFastLines(store, kLines, 1));
    speech::Catalogue catalogue(store);
    QVERIFY(catalogue.addFolder("", "Фразы"));
    QVERIFY(catalogue.addLeaf("Фразы", "Долг", "ZADL", "Ваша задолженность"));
    QVERIFY(test::writeToneLibrary(m_home / "peltra.awf", {{"ZADL", 80}}));
    QVERIFY(config::TaskStore(store).bindingNames().empty());
}

void OperatorWalkTest::startStation()
{
    std::string error;
    QVERIFY2(m_desk->start(kLines, 300, error), error.c_str());
    m_window = &m_desk->window();
}

void OperatorWalkTest::fillDialog(QDialog* dialog)
{
    if (dialog->objectName() == QStringLiteral("FormTask")) {
        setText(dialog, "textb_name", QStringLiteral("Должники"));
        setText(dialog, "textb_path", QString::fromStdString(m_table.string()));
        QTest::mouseClick(test::child<QPushButton>(*dialog, "cb_ok"), Qt::LeftButton);
    } else if (dialog->objectName() == QStringLiteral("FormOperator")) {
        setText(dialog, "textb_name", QStringLiteral("Долг"));
        auto* sortFields = test::child<QTreeWidget>(*dialog, "lv_sort");
        sortFields->setCurrentItem(findItem(sortFields, QStringLiteral("SUMMA")));
        test::child<QRadioButton>(*dialog, "optb_descend")->click();
        test::child<QRadioButton>(*dialog, "optb_filter_ranges")->click();
        auto* rangeField = test::child<QComboBox>(*dialog, "combo_range_field");
        rangeField->setCurrentIndex(rangeField->findText(QStringLiteral("SUMMA")));
        QTest::mouseClick(test::child<QPushButton>(*dialog, "cb_OK"), Qt::LeftButton);
    } else if (dialog->objectName() == QStringLiteral("FormRange")) {
        // Typed the wrong way round; stored as 100..500.
        setText(dialog, "textb_min", QStringLiteral("500"));
        setText(dialog, "textb_max", QStringLiteral("100"));
        QTest::mouseClick(test::child<QPushButton>(*dialog, "cb_OK"), Qt::LeftButton);
    } else if (dialog->objectName() == QStringLiteral("FormSchedule")) {
        test::child<QTabWidget>(*dialog, "tab_schedule")->setCurrentIndex(config::FormSchedule::DailyPage);
        // Round the clock, so the task may run whenever the test does.
        auto* night = test::child<QCheckBox>(*dialog, "checkbox_night");
        if (!night->isChecked())
            night->click();
        auto* day = test::child<QCheckBox>(*dialog, "checkbox_daily_0");
        if (!day->isChecked())
            day->click();
        test::child<config::RangeSlider>(*dialog, "slider_daily_0")->setSelection(0, 96);
        QTest::mouseClick(test::child<QPushButton>(*dialog, "cb_OK"), Qt::LeftButton);
    } else if (auto* words = qobject_cast<editors::FormTemplate*>(dialog)) {
        words->catalogueTree()->setCurrentItem(findItem(words->catalogueTree(), QStringLiteral("Ваша задолженность")));
        words->addSelected();
        QCOMPARE(words->items().size(), std::size_t(1));
        words->accept();
    } else if (auto* test = qobject_cast<editors::FormTestOperator*>(dialog)) {
        QVERIFY(test::eventually([&] { return test->isFinished(); }, std::chrono::seconds(20)));
        auto* ok = test::child<QPushButton>(*dialog, "cb_OK");
        m_testAllowedInclusion = ok->isEnabled();
        for (const std::string& line : test->report().lines)
            m_testReport += QString::fromStdString(line) + QLatin1Char('\n');
        if (m_testAllowedInclusion)
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            test->reject();
    } else {
        qWarning("an unexpected dialog %s", qPrintable(dialog->objectName()));
        dialog->reject();
    }
}

void OperatorWalkTest::fromAnEmptyStoreToATaskRunInTheMainWindow()
{
    startStation();
    QCOMPARE(m_window->taskList()->topLevelItemCount(), 0);
    test::ModalCatcher catcher;
    catcher.onDialog([this](QDialog* dialog) { fillDialog(dialog); });

    // "Задания" → "Редактор заданий".
    m_window->action(shell::kMenuTaskEditor)->trigger();
    auto* manager = m_window->findChild<editors::FormTaskManager*>();
    QVERIFY(manager);
    QVERIFY(manager->isVisible());

    QVERIFY(manager->selectPath(QString()));
    manager->addElement();
    config::TaskStore tasks(m_desk->station().store());
    QCOMPARE(tasks.bindingNames(), std::vector<std::string>{"Должники"});

    QVERIFY(manager->selectPath(QStringLiteral("Должники")));
    manager->addElement();
    QVERIFY(catcher.texts().contains(QString::fromUtf8(editors::kNewTaskNotice)));
    std::optional<config::Operator> task = tasks.task("Должники", "Долг");
    QVERIFY(task);
    QCOMPARE(task->text(config::TaskProperty::FieldSort), std::string("SUMMA"));

    QVERIFY(manager->selectPath(QStringLiteral("Должники\\Долг\\Диапазоны")));
    manager->addElement();
    const auto ranges = task->ranges();
    QCOMPARE(ranges.size(), std::size_t(1));
    QCOMPARE(ranges[0].minValue, 100u);
    QCOMPARE(ranges[0].maxValue, 500u);

    QVERIFY(manager->selectPath(QStringLiteral("Должники\\Долг\\Расписание")));
    manager->addElement();
    QCOMPARE(task->schedules().names().size(), std::size_t(1));
    QCOMPARE(manager->list()->topLevelItem(0)->text(1), QStringLiteral("Ежедневно: 00:00-24:00; "));

    QVERIFY(manager->selectPath(QStringLiteral("Должники\\Долг\\Речевой шаблон")));
    manager->addElement();

    // Nothing runs before the task is included.
    QTest::qWait(500);
    QCOMPARE(m_window->taskList()->topLevelItemCount(), 0);

    // "Сервис" → "Связывание заданий с портами": the task on SIM1 only, before it may run.
    m_window->action(shell::kMenuLinking)->trigger();
    auto* linking = m_window->findChild<editors::FormLinking*>();
    QVERIFY(linking);
    test::child<QCheckBox>(*linking, "checkbox_manual")->setChecked(true);
    QVERIFY(linking->connectNodes(editors::FormLinking::NodeKind::Task, 0, editors::FormLinking::NodeKind::Port, 0));
    QCOMPARE(linking->links().front(), (std::pair<std::string, std::string>("Должники\\Долг", "SIM1")));
    QTest::mouseClick(test::child<QPushButton>(*linking, "cb_OK"), Qt::LeftButton);
    QVERIFY(!linking->isVisible());

    QVERIFY(manager->selectPath(QStringLiteral("Должники\\Долг")));
    manager->includeTask();
    QVERIFY2(m_testAllowedInclusion, qPrintable(m_testReport));
    QVERIFY(task->valid());

    // The main window shows the task run to its end: six people owe 100 to 500.
    QTreeWidget* running = m_window->taskList();
    QVERIFY(test::eventually([&] { return running->topLevelItemCount() == 1; }, std::chrono::seconds(10)));
    QCOMPARE(running->topLevelItem(0)->text(0), QStringLiteral("Должники\\Долг"));
    QVERIFY(test::eventually([&] { return running->topLevelItem(0)->text(1) == QStringLiteral("Завершено"); },
                             std::chrono::seconds(40)));
    QCOMPARE(running->topLevelItem(0)->text(2), QStringLiteral("6 из 6"));
    QVERIFY(m_window->grab().save(QString::fromStdString((m_desk->workingFolder() / "operator-walk.png").string())));

    // Only SIM1 called, only the people in the range, most owing first.
    std::vector<std::string> dialed;
    for (const sim::CallRecord& call : m_desk->simulator().calls()) {
        QCOMPARE(call.port, std::string("SIM1"));
        dialed.push_back(call.dialed);
    }
    QCOMPARE(dialed, (std::vector<std::string>{"2400006", "2400002", "2400004", "2400009", "2400001", "2400007"}));
    QVERIFY(!catcher.texts().contains(QString::fromUtf8(editors::kWithdrawalNotice)));
}

QTEST_MAIN(OperatorWalkTest)
#include "OperatorWalkTest.moc"
