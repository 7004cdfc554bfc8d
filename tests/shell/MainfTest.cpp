// The main window over a running station on simulated lines: the start-up's stored values, the
// task and line lists following the engine, the monitor windows, pause and resume, local-phone
// mode, the close prompts in each state, a failing line's reports, and a screenshot of the window
// at work.
#include "config/AppSettings.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "editors/forms/FormLinking.h"
#include "editors/forms/FormOperator.h"
#include "engine/Station.h"
#include "platform/errors/SystemError.h"
#include "platform/text/Trim.h"
#include "shell/Mainf.h"
#include "shell/QtTranslation.h"
#include "shell/QueuedViews.h"
#include "shell/dialogs/FormWaitCompletion.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"
#include "support/DesktopStation.h"
#include "support/StationSetup.h"

#include <QAction>
#include <QApplication>
#include <QGraphicsView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

using namespace peltra;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kLines = 2;
constexpr int kPeople = 6;

// Presses the button of the next modal box that shows up, and tells what the box said. Its
// timers end with it.
class BoxAnswer {
public:
    explicit BoxAnswer(QMessageBox::StandardButton button) : m_button(button)
    {
        QTimer::singleShot(50, &m_context, [this] { press(); });
    }
    const QString& text() const { return m_text; }
    // The caption of the button pressed, without its shortcut mark.
    const QString& buttonText() const { return m_buttonText; }

private:
    void press()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(20, &m_context, [this] { press(); });
            return;
        }
        m_text = box->text();
        m_buttonText = box->button(m_button)->text().remove(QLatin1Char('&'));
        box->button(m_button)->click();
    }
    QObject m_context;
    QMessageBox::StandardButton m_button;
    QString m_text;
    QString m_buttonText;
};

}  // namespace

class MainfTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void theStatusAndMenuFollowStartUpPauseResumeAndLocalPhone();
    void theListsFollowTheEngineAndAScreenshotIsTaken();
    void closingIdleAsksWhetherToStopScheduling();
    void closingWhileBusyAsksCancelKeepsItRunningAndYesWaitsForTheEndOfWork();
    void taskPropertiesFromTheLinkingWindowTellAWithdrawal();
    void aFailingLineShowsOneBoxPerFaultAndLogsTheRepeats();

private:
    void prepareHome();
    // Parties that never answer keep the task busy: every row stays to be called again.
    void start(bool neverAnswer = false);
    static bool eventually(const std::function<bool()>& condition,
                           std::chrono::milliseconds limit = std::chrono::seconds(15))
    {
        return test::eventually(condition, limit);
    }
    QString taskState();

    std::unique_ptr<test::DesktopStation> m_desk;
    fs::path m_home;
    fs::path m_workingFolder;
    // The started station's window and engine.
    shell::Mainf* m_window = nullptr;
    engine::Station* m_station = nullptr;
};

void MainfTest::initTestCase()
{
    // As the station program does at start: Qt's own buttons in Russian.
    QVERIFY(peltra::shell::installQtTranslation(*QCoreApplication::instance()));
}

void MainfTest::init()
{
    m_desk = std::make_unique<test::DesktopStation>();
    m_home = m_desk->home();
    m_workingFolder = m_desk->workingFolder();
    prepareHome();
}

void MainfTest::cleanup()
{
    m_window = nullptr;
    m_station = nullptr;
    m_desk.reset();
}

void MainfTest::prepareHome()
{
    const fs::path table = m_home / "abon.dbf";
    std::string error;
    QVERIFY(data::DbfTable::create(table,
                                   {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
                                    {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 8, 0}},
                                   866, false, &error));
    {
        data::DbfTable::Options options;
        options.writable = true;
        auto file = data::DbfTable::open(table, options, &error);
        QVERIFY(file);
        for (int i = 1; i <= kPeople; ++i)
            QVERIFY(file->append({{0, data::DbfValue::ofText(std::to_string(2400000 + i))}}, nullptr, &error));
    }
    platform::RegistryStore registry(m_home / "registry.db");
    config::ConfigStore store(registry);
    QVERIFY(test::configureFastLines(store, kLines, 1));
    speech::Catalogue catalogue(store);
    QVERIFY(catalogue.addFolder("", "Фразы"));
    QVERIFY(catalogue.addLeaf("Фразы", "Долг", "ZADL", "Ваша задолженность"));
    QVERIFY(test::writeToneLibrary(m_home / "peltra.awf", {{"ZADL", 80}}));
    config::TaskStore tasks(store);
    QCOMPARE(tasks.addBinding("Абоненты", table.string(), ""), config::AddResult::Added);
    QCOMPARE(config::Operators(store, "Абоненты").add("Долг"), config::AddResult::Added);
    config::Operator task = *tasks.task("Абоненты", "Долг");
    QVERIFY(task.schedules().add(config::dailyBlock({0, 86400}), 0, false));
    speech::Patterns patterns(store, "Абоненты", "Долг");
    speech::PatternItem item;
    item.path = "Фразы\\Долг";
    QVERIFY(patterns.Insert("", item));
    QVERIFY(task.setValid(true));
}

void MainfTest::start(bool neverAnswer)
{
    std::string error;
    QVERIFY2(m_desk->start(kLines, neverAnswer ? std::nullopt : std::optional<std::uint32_t>(300), error), error.c_str());
    m_window = &m_desk->window();
    m_station = &m_desk->station();
}

QString MainfTest::taskState()
{
    QTreeWidget* list = m_window->taskList();
    return list->topLevelItemCount() == 1 ? list->topLevelItem(0)->text(1) : QString();
}

void MainfTest::theStatusAndMenuFollowStartUpPauseResumeAndLocalPhone()
{
    start();
    for (const char* name : {"Frozen", "LocalPhone", "LocalPhoneString", "LocalPhoneUpdate", "LinkTaskPortManual",
                             "MinimizeLaunch", "MinimizeIcon", "AutoRun"})
        QVERIFY2(m_station->store().registry().getValue("Software\\PELTRA", name).has_value(), name);
    QCOMPARE(m_window->windowTitle(), QStringLiteral("PELTRA"));
    QVERIFY(eventually([&] { return m_window->statusText(0) == QStringLiteral("Планировщик заданий работает"); }));
    QCOMPARE(m_window->statusText(1), QStringLiteral("Включен режим реальной прозвонки."));
    QVERIFY(m_window->action(shell::kMenuPause)->isEnabled());
    QVERIFY(!m_window->action(shell::kMenuResume)->isEnabled());
    QCOMPARE(m_window->trayIcon()->toolTip(), QStringLiteral("Peltra 2001"));
    BoxAnswer notice(QMessageBox::Ok);
    m_window->action(shell::kMenuPause)->trigger();
    QVERIFY(eventually([&] { return m_window->statusText(0) == QStringLiteral("Внимание: планировщик заданий остановлен"); }));
    QVERIFY(!m_window->action(shell::kMenuPause)->isEnabled());
    QVERIFY(m_window->action(shell::kMenuResume)->isEnabled());
    QVERIFY(config::AppSettings(m_station->store()).frozen());
    QVERIFY(eventually([&] { return notice.text().startsWith(QStringLiteral("Планирование заданий приостановлено.")); }));
    QVERIFY(eventually([&] { return taskState() == QStringLiteral("Остановлено"); }));

    BoxAnswer resumed(QMessageBox::Ok);
    m_window->action(shell::kMenuResume)->trigger();
    QVERIFY(eventually([&] { return m_window->statusText(0) == QStringLiteral("Планировщик заданий работает"); }));
    QVERIFY(m_window->action(shell::kMenuPause)->isEnabled());
    QVERIFY(!config::AppSettings(m_station->store()).frozen());
    QVERIFY(eventually([&] { return resumed.text() == QStringLiteral("Планирование заданий продолжено.\r\n"); }));
    BoxAnswer on(QMessageBox::Ok);
    m_station->controller().setLocalPhone(true, "777", false);
    QVERIFY(eventually([&] {
        return m_window->statusText(1) == QStringLiteral("Внимание: включен режим \"Местный телефон\": 777");
    }));
    QVERIFY(m_window->action(shell::kMenuLocalPhone)->isChecked());
    QVERIFY(eventually([&] { return on.text().endsWith(QStringLiteral("телефон: 777")); }));
    BoxAnswer off(QMessageBox::Ok);
    m_station->controller().setLocalPhone(false, "777", false);
    QVERIFY(eventually([&] { return m_window->statusText(1) == QStringLiteral("Включен режим реальной прозвонки."); }));
    QVERIFY(!m_window->action(shell::kMenuLocalPhone)->isChecked());
    QVERIFY(eventually([&] { return !off.text().isEmpty(); }));

    // Paused with no call in progress, the window closes without a question.
    BoxAnswer again(QMessageBox::Ok);
    m_window->action(shell::kMenuPause)->trigger();
    QVERIFY(eventually([&] { return taskState() == QStringLiteral("Остановлено") && !again.text().isEmpty(); }));
    QVERIFY(eventually([&] { return !m_station->hasUnfinishedSessions(); }));
    QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
}


void MainfTest::theListsFollowTheEngineAndAScreenshotIsTaken()
{
    start();
    QVERIFY(eventually([&] { return m_window->lineList()->topLevelItemCount() == static_cast<int>(kLines); }));
    QVERIFY(eventually([&] { return m_window->monitor(0) && m_window->monitor(1); }));
    QTreeWidget* tasks = m_window->taskList();
    QVERIFY(eventually([&] { return tasks->topLevelItemCount() == 1; }));
    QCOMPARE(tasks->topLevelItem(0)->text(0), QStringLiteral("Абоненты\\Долг"));
    // A call in progress: a line shows "Работает" with the task and the number dialled.
    QVERIFY(eventually([&] {
        for (int row = 0; row < m_window->lineList()->topLevelItemCount(); ++row) {
            QTreeWidgetItem* line = m_window->lineList()->topLevelItem(row);
            if (line->text(1) == QStringLiteral("Работает") && line->text(3).startsWith(QStringLiteral("Номер 24")))
                return true;
        }
        return false;
    }));
    const QImage running = m_window->grab().toImage();
    QVERIFY(running.save(QString::fromStdString((m_workingFolder / "mainf-running.png").string())));
    // Every answer delivers: the task finishes with everyone notified.
    QVERIFY(eventually([&] { return taskState() == QStringLiteral("Завершено"); }, std::chrono::seconds(30)));
    QCOMPARE(tasks->topLevelItem(0)->text(2), QStringLiteral("6 из 6"));
    QCOMPARE(m_window->answer(), QStringLiteral("Нормально"));
    QVERIFY(!m_window->monitor(0)->logText().isEmpty());
    QVERIFY(m_window->grab().toImage().save(QString::fromStdString((m_workingFolder / "mainf-finished.png").string())));
}

void MainfTest::closingIdleAsksWhetherToStopScheduling()
{
    start();
    QVERIFY(eventually([&] { return taskState() == QStringLiteral("Завершено"); }, std::chrono::seconds(30)));
    {
        BoxAnswer no(QMessageBox::No);
        QVERIFY(!m_window->close());
        QVERIFY(no.text().startsWith(QStringLiteral("Внимание! После закрытия системы оповещения PELTRA будет "
                                                    "остановлено планирование заданий")));
        // The prompt names the button the operator sees.
        QVERIFY(no.text().contains(QStringLiteral("\"Нет\"")));
        QCOMPARE(no.buttonText(), QStringLiteral("Нет"));
        QVERIFY(m_window->isVisible());
    }
    BoxAnswer yes(QMessageBox::Yes);
    QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
}

void MainfTest::closingWhileBusyAsksCancelKeepsItRunningAndYesWaitsForTheEndOfWork()
{
    start(true);
    QVERIFY(eventually([&] { return m_station->hasUnfinishedSessions(); }));
    {
        BoxAnswer cancel(QMessageBox::Cancel);
        QVERIFY(!m_window->close());
        QVERIFY(cancel.text().startsWith(QStringLiteral("Внимание! Приложение PELTRA имеет незавершенные сеансы")));
        QVERIFY(m_window->isVisible());
    }
    // "Yes": the wait window closes by itself once the calls in progress have ended.
    BoxAnswer yes(QMessageBox::Yes);
    QVERIFY(m_window->close());
    QVERIFY(!m_station->hasUnfinishedSessions());
    QVERIFY(!m_window->isVisible());
}

void MainfTest::taskPropertiesFromTheLinkingWindowTellAWithdrawal()
{
    start();
    m_window->action(shell::kMenuLinking)->trigger();
    auto* linking = m_window->findChild<editors::FormLinking*>();
    QVERIFY(linking && linking->isVisible());
    const std::optional<QRectF> node = linking->nodeRect(editors::FormLinking::NodeKind::Task, "Абоненты\\Долг");
    QVERIFY(node);

    // The menu's "Свойства задания"; in the task dialog a key property changes, as its OK would
    // change it; then whatever boxes follow.
    bool dialogShown = false;
    QStringList boxes;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* item : menu->actions())
                if (item->text() == QStringLiteral("Свойства задания"))
                    menu->setActiveAction(item);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<editors::FormOperator*>(modal); dialog && !dialogShown) {
            dialogShown = true;
            QCOMPARE(config::Operator(m_station->store(), "Абоненты", "Долг").setSort("TELEF", "C", false),
                     config::Change::Changed);
            dialog->reject();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->text();
            box->accept();
        }
    });
    answer.start(20);
    const QPoint at = linking->view()->mapFromScene(node->center());
    linking->showContextMenu(node->center(), linking->view()->viewport()->mapToGlobal(at));
    QVERIFY(dialogShown);
    QVERIFY(!config::Operator(m_station->store(), "Абоненты", "Долг").valid());
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.front().startsWith(QStringLiteral("Вы изменили ключевые свойства. Задание исключается из "
                                                     "планирования.")),
             qPrintable(boxes.front()));
}

void MainfTest::aFailingLineShowsOneBoxPerFaultAndLogsTheRepeats()
{
    shell::Mainf window({m_home, m_home / "peltra", m_home / "help.html"});
    window.setQuiet(true);
    shell::QueuedViews views(&window);
    const std::unique_ptr<line::LineView> line = views.lineView(1, "COM3");
    const std::string caption = "Ошибка работы с портом COM3";
    const std::string failed = platform::systemErrorReport(EIO);
    const auto openBoxes = [&] {
        QList<QMessageBox*> open;
        for (QMessageBox* box : window.findChildren<QMessageBox*>())
            if (box->isVisible())
                open.push_back(box);
        return open;
    };
    // Three calls failing alike, then one failing otherwise: a box for each fault, the repeats logged.
    for (int call = 0; call < 3; ++call)
        line->showMessage(caption, failed);
    line->showMessage(caption, platform::systemErrorReport(ENOTTY));
    QVERIFY(eventually([&] { return openBoxes().size() == 2; }));
    QTest::qWait(100);
    QCOMPARE(openBoxes().size(), 2);
    QCOMPARE(openBoxes()[0]->text(), QString::fromStdString(failed));
    QVERIFY(openBoxes()[0]->text().contains(QStringLiteral("\r\nКод ошибки = 5")));
    const QString repeat = QString::fromStdString(caption + ": " + platform::oneLine(failed));
    QCOMPARE(window.monitor(1)->logText().count(repeat), 2);

    // Once its box is answered, the fault opens a box again.
    openBoxes()[0]->button(QMessageBox::Ok)->click();
    QVERIFY(eventually([&] { return openBoxes().size() == 1; }));
    line->showMessage(caption, failed);
    QVERIFY(eventually([&] { return openBoxes().size() == 2; }));
    QCOMPARE(window.monitor(1)->logText().count(repeat), 2);
}

QTEST_MAIN(MainfTest)
#include "MainfTest.moc"
