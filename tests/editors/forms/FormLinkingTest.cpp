// The linking window: links read from the store, links drawn by dragging either way, removed
// through the menus, and what Apply, OK, Отмена and closing leave in the store and the station.
#include "editors/forms/FormLinking.h"

#include "ModalCatcher.h"
#include "calls/PortSettings.h"
#include "calls/forms/FormComProperty.h"
#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "config/Ranges.h"
#include "config/TaskStore.h"
#include "editors/forms/FormOperator.h"
#include "engine/StationFlags.h"
#include "platform/registry/RegistryStore.h"
#include "platform/sync/Event.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

using peltra::editors::FormLinking;
using NodeKind = FormLinking::NodeKind;
using Links = std::vector<std::pair<std::string, std::string>>;

namespace {

constexpr NodeKind kTask = NodeKind::Task;
constexpr NodeKind kPort = NodeKind::Port;
const Links kTasks{{"Абоненты", "Вечер"}, {"Абоненты", "Утро"}, {"Долги", "Квартплата"}};
const Links kStored{{"Абоненты\\Утро", "COM3"}, {"Абоненты\\Утро", "COM1"}, {"Долги\\Квартплата", "COM7"}};
// The store as init leaves it, in the form of stored().
const std::string kStoredText = "Абоненты\\Вечер: -; Абоненты\\Утро: COM3 COM1; Долги\\Квартплата: COM7; manual=1";

struct Home {
    peltra::test::TempDir dir;
    peltra::platform::RegistryStore registry{dir / "registry.db"};
    peltra::config::ConfigStore store{registry};
    peltra::engine::StationFlags flags;
    peltra::platform::Event wake{false, false};
};

QPoint pointOf(FormLinking& form, NodeKind kind, const std::string& label)
{
    const std::optional<QRectF> rect = form.nodeRect(kind, label);
    if (!rect)
        qFatal("node %s is not drawn", label.c_str());
    return form.view()->mapFromScene(rect->center());
}

QPoint midway(FormLinking& form, const std::string& task, const std::string& port)
{
    return (pointOf(form, kTask, task) + pointOf(form, kPort, port)) / 2;
}

// Presses on one node, moves in steps and lets go on a point, as a user drags.
void drag(FormLinking& form, NodeKind kind, const std::string& label, QPoint to)
{
    QWidget* viewport = form.view()->viewport();
    const QPoint from = pointOf(form, kind, label);
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(viewport, from + (to - from) * step / 4);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
}

void link(FormLinking& form, const std::string& task, const std::string& port)
{
    drag(form, kTask, task, pointOf(form, kPort, port));
}

int drawnLinks(FormLinking& form)
{
    int count = 0;
    for (QGraphicsItem* item : form.view()->scene()->items())
        count += item->type() == QGraphicsItem::UserType + 2 ? 1 : 0;
    return count;
}

// Opens the context menu at a point of the view and clicks choice; a choice that is disabled or
// missing closes the menu. Returns the menu's entries.
QStringList contextMenu(FormLinking& form, QPoint at, const QString& choice)
{
    QStringList shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        poll.stop();
        for (QAction* action : menu->actions())
            shown << action->text();
        for (QAction* action : menu->actions()) {
            if (action->text() == choice && action->isEnabled()) {
                menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        }
        menu->close();
    });
    poll.start(10);
    QWidget* viewport = form.view()->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
    return shown;
}

void clickManual(FormLinking& form)
{
    // On the box itself: the check box spans the window, its empty right part takes no clicks.
    auto* box = form.findChild<QCheckBox*>("checkbox_manual");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

void press(FormLinking& form, const char* name)
{
    QTest::mouseClick(form.findChild<QPushButton*>(name), Qt::LeftButton);
}

}  // namespace

class FormLinkingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Home> m_home;

    // The stored "main" list of each task (read without writing; "-" when missing) and the
    // manual-linking flag, in one line.
    std::string stored()
    {
        std::string text;
        for (const auto& [binding, task] : kTasks) {
            const auto value = m_home->registry.getValue(
                peltra::config::ConfigStore::fullPath(peltra::config::taskKey(binding, task) + "\\" +
                                                      peltra::config::kAvailablePortsKeyName),
                "main");
            text += binding + "\\" + task + ":";
            for (const std::string& port : value ? value->asMultiText() : std::vector<std::string>{"-"})
                text += " " + port;
            text += "; ";
        }
        const auto manual = m_home->registry.getValue("Software\\PELTRA", "LinkTaskPortManual");
        return text + "manual=" + (manual ? std::to_string(manual->asDword()) : "-");
    }

    void setMain(const std::string& binding, const std::string& task, const std::vector<std::string>& ports)
    {
        QVERIFY(peltra::config::AvailablePorts(m_home->store, peltra::config::taskKey(binding, task)).set(ports));
    }

    bool removeTask(const std::string& binding, const std::string& task)
    {
        return peltra::config::TaskStore(m_home->store).binding(binding)->operators().remove(task);
    }

    std::unique_ptr<FormLinking> shownForm(bool station = true)
    {
        auto form = std::make_unique<FormLinking>(m_home->store, station ? &m_home->flags : nullptr,
                                                  station ? &m_home->wake : nullptr);
        form->resize(760, 460);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qFatal("the window is not shown");
        return form;
    }

private slots:
    // Утро has two links in its own order and Квартплата one to a port that is no line; Вечер
    // has no list at all. Manual linking is on, in the store and in the station.
    void init()
    {
        m_home = std::make_unique<Home>();
        peltra::config::TaskStore tasks(m_home->store);
        QCOMPARE(tasks.addBinding("Абоненты", "/data/abon.dbf", ""), peltra::config::AddResult::Added);
        QCOMPARE(tasks.addBinding("Долги", "/data/dolg.dbf", ""), peltra::config::AddResult::Added);
        for (const char* task : {"Вечер", "Утро"})
            QCOMPARE(tasks.binding("Абоненты")->operators().add(task), peltra::config::AddResult::Added);
        QCOMPARE(tasks.binding("Долги")->operators().add("Квартплата"), peltra::config::AddResult::Added);
        QVERIFY(peltra::calls::PortSettings(m_home->store).setConfiguredPorts({"COM1", "COM2", "COM3"}));
        setMain("Абоненты", "Утро", {"COM3", "COM1"});
        setMain("Долги", "Квартплата", {"COM7"});
        QVERIFY(peltra::config::AppSettings(m_home->store).setLinkTaskPortManual(true));
        m_home->flags.setLinkTaskPortManual(true);
    }

    void cleanup() { m_home.reset(); }

    void draggingEitherWayAddsLinks()
    {
        auto form = shownForm();
        link(*form, "Абоненты\\Вечер", "COM2");
        QVERIFY(form->isModified());
        drag(*form, kPort, "COM2", pointOf(*form, kTask, "Абоненты\\Утро"));
        const Links expected{{"Абоненты\\Вечер", "COM2"}, {"Абоненты\\Утро", "COM3"}, {"Абоненты\\Утро", "COM1"},
                             {"Абоненты\\Утро", "COM2"}, {"Долги\\Квартплата", "COM7"}};
        QCOMPARE(form->links(), expected);
        // What adds nothing: a link that exists, from either end; a task onto a task; a port onto
        // a port; letting go over empty space.
        drag(*form, kPort, "COM3", pointOf(*form, kTask, "Абоненты\\Утро"));
        link(*form, "Абоненты\\Утро", "COM1");
        drag(*form, kTask, "Абоненты\\Вечер", pointOf(*form, kTask, "Долги\\Квартплата"));
        drag(*form, kPort, "COM1", pointOf(*form, kPort, "COM2"));
        drag(*form, kTask, "Долги\\Квартплата", midway(*form, "Долги\\Квартплата", "COM1") + QPoint(0, 60));
        QCOMPARE(form->links(), expected);
        QCOMPARE(drawnLinks(*form), 5);
        // The dashed line that follows the mouse is gone after each drag: two headings, three
        // tasks, four ports, five links.
        QCOMPARE(form->view()->scene()->items().size(), qsizetype{2 + 3 + 4 + 5});
    }

    void menusRemoveLinksAndOpenProperties()
    {
        auto form = shownForm();
        const QPoint onLink = midway(*form, "Абоненты\\Утро", "COM1");
        QCOMPARE(contextMenu(*form, onLink, QStringLiteral("Отмена")),
                 (QStringList{QStringLiteral("Удалить соединение"), QStringLiteral("Отмена")}));
        QVERIFY(!form->isModified());
        contextMenu(*form, onLink, QStringLiteral("Удалить соединение"));
        QCOMPARE(form->links(), (Links{{"Абоненты\\Утро", "COM3"}, {"Долги\\Квартплата", "COM7"}}));
        QCOMPARE(drawnLinks(*form), 2);
        QVERIFY(form->isModified());

        // By default the task's own dialog opens, on that task.
        peltra::test::ModalCatcher windows;
        Links opened;
        windows.onDialog([&](QDialog* dialog) {
            if (auto* properties = qobject_cast<peltra::editors::FormOperator*>(dialog)) {
                opened.emplace_back(properties->binding(), properties->taskName());
                properties->reject();
            }
        });
        const QPoint morning = pointOf(*form, kTask, "Абоненты\\Утро");
        QCOMPARE(contextMenu(*form, morning, QStringLiteral("Свойства задания")),
                 (QStringList{QStringLiteral("Свойства задания"), QStringLiteral("Отмена")}));
        QTRY_COMPARE(opened, (Links{{"Абоненты", "Утро"}}));

        // A task removed while the window is open stays drawn, but its properties are not offered.
        form->setTaskOpener([&](QWidget*, const std::string& binding, const std::string& name) {
            opened.emplace_back(binding, name);
        });
        QVERIFY(removeTask("Абоненты", "Вечер"));
        contextMenu(*form, pointOf(*form, kTask, "Абоненты\\Вечер"), QStringLiteral("Свойства задания"));
        contextMenu(*form, morning, QStringLiteral("Свойства задания"));
        QCOMPARE(opened, (Links{{"Абоненты", "Утро"}, {"Абоненты", "Утро"}}));

        QCOMPARE(contextMenu(*form, pointOf(*form, kPort, "COM1"), QStringLiteral("Свойства порта")),
                 (QStringList{QStringLiteral("Свойства порта"), QStringLiteral("Отмена")}));
        auto* settings = form->findChild<peltra::calls::FormComProperty*>();
        QVERIFY(settings != nullptr && settings->isVisible());
        QCOMPARE(settings->port(), std::string("COM1"));
        settings->close();
    }

    // Утро loses COM3 and gains COM2 (kept in link order); Вечер gets its first; Квартплата is
    // removed meanwhile (in the task manager) and stays removed. Nothing is stored before Apply;
    // Apply stores, tells the station and wakes it.
    void applyWritesListsFlagAndWakesTheController()
    {
        auto form = shownForm();
        contextMenu(*form, midway(*form, "Абоненты\\Утро", "COM3"), QStringLiteral("Удалить соединение"));
        drag(*form, kPort, "COM2", pointOf(*form, kTask, "Абоненты\\Утро"));
        link(*form, "Абоненты\\Вечер", "COM3");
        QCOMPARE(stored(), kStoredText);
        QVERIFY(removeTask("Долги", "Квартплата"));
        m_home->flags.setLinkTaskPortManual(false);
        press(*form, "cb_Apply");
        QCOMPARE(stored(),
                 std::string("Абоненты\\Вечер: COM3; Абоненты\\Утро: COM1 COM2; Долги\\Квартплата: -; manual=1"));
        QVERIFY(!m_home->registry.keyExists(
            peltra::config::ConfigStore::fullPath(peltra::config::taskKey("Долги", "Квартплата"))));
        QVERIFY(m_home->flags.linkTaskPortManual());
        QVERIFY(m_home->wake.isSet());
        QVERIFY(!form->isModified());
        QVERIFY(form->isVisible());
        // Redrawn from the store: COM7, which no line uses and no task names now, is gone.
        QVERIFY(!form->nodeRect(kPort, "COM7").has_value());
        QCOMPARE(drawnLinks(*form), 3);
    }

    // Without manual linking no task keeps links; a task removed meanwhile stays removed; the
    // window works without a running station too.
    void applyWithManualLinkingOff()
    {
        for (const bool station : {true, false}) {
            init();
            auto form = shownForm(station);
            link(*form, "Долги\\Квартплата", "COM1");
            QVERIFY(removeTask("Долги", "Квартплата"));
            clickManual(*form);
            peltra::test::ModalCatcher boxes;  // a failed apply would say so
            press(*form, "cb_OK");
            QCOMPARE(boxes.texts(), QStringList{});
            QVERIFY(!form->isVisible());
            QCOMPARE(stored(), std::string("Абоненты\\Вечер: -; Абоненты\\Утро: -; Долги\\Квартплата: -; manual=0"));
            QVERIFY(!m_home->registry.keyExists(
                peltra::config::ConfigStore::fullPath(peltra::config::taskKey("Долги", "Квартплата"))));
            QCOMPARE(m_home->flags.linkTaskPortManual(), !station);
            QCOMPARE(m_home->wake.isSet(), station);
        }
    }

    // Each row: closing the window with a link drawn and manual linking turned off, the answer to
    // the question, and what is left. Отмена keeps it open; Нет and the Отмена button discard the
    // changes, Да applies them; the next opening draws what the store holds.
    void closingWithChangesAsks()
    {
        const struct {
            const char* how;
            QMessageBox::StandardButton answer;
            bool open;
            std::string left;
        } rows[] = {
            {"close", QMessageBox::Cancel, true, kStoredText},
            {"close", QMessageBox::No, false, kStoredText},
            {"cancel", QMessageBox::NoButton, false, kStoredText},
            {"close", QMessageBox::Yes, false, "Абоненты\\Вечер: -; Абоненты\\Утро: -; Долги\\Квартплата: -; manual=0"},
        };
        auto form = shownForm();
        for (const auto& row : rows) {
            if (!form->isVisible())
                form->show();
            link(*form, "Абоненты\\Вечер", "COM2");
            clickManual(*form);
            peltra::test::ModalCatcher boxes;
            boxes.answerNext(row.answer);
            if (std::string(row.how) == "cancel")
                press(*form, "cb_Cancel");
            else
                form->close();
            QCOMPARE(boxes.texts(), row.answer == QMessageBox::NoButton
                                        ? QStringList{}
                                        : QStringList{QStringLiteral("Вы желаете сохранить внесенные изменения?")});
            QCOMPARE(form->isVisible(), row.open);
            QCOMPARE(stored(), row.left);
            QCOMPARE(m_home->wake.isSet(), row.answer == QMessageBox::Yes);
            if (row.open) {
                QVERIFY(form->isModified());
                form->cancel();
                continue;
            }
            form->show();
            QCOMPARE(form->links(), row.answer == QMessageBox::Yes ? Links{} : kStored);
            QCOMPARE(form->findChild<QCheckBox*>("checkbox_manual")->isChecked(), row.answer != QMessageBox::Yes);
            QVERIFY(!form->isModified());
            form->close();
        }
        // Unchanged, it closes without a question.
        peltra::test::ModalCatcher boxes;
        form->show();
        form->close();
        QVERIFY(!form->isVisible());
        QVERIFY(boxes.boxes().isEmpty());
    }

    // The port no line uses is drawn so that its link survives an apply; opening writes no empty
    // list for the task without one. Changed elsewhere while the window was closed (a task
    // removed, a list written), it is drawn anew.
    void everyOpeningShowsTheStore()
    {
        auto form = shownForm();
        QCOMPARE(form->windowTitle(), QStringLiteral("Установка связи между заданиями и портами"));
        QCOMPARE(form->links(), kStored);
        QCOMPARE(drawnLinks(*form), 3);
        for (const char* port : {"COM1", "COM2", "COM3", "COM7"})
            QVERIFY(form->nodeRect(kPort, port).has_value());
        QVERIFY(form->findChild<QCheckBox*>("checkbox_manual")->isChecked());
        QVERIFY(!form->isModified());
        QCOMPARE(stored(), kStoredText);
        form->grab().save("FormLinking.png");
        form->close();
        QVERIFY(removeTask("Долги", "Квартплата"));
        setMain("Абоненты", "Вечер", {"COM2"});
        form->show();
        QCOMPARE(form->links(),
                 (Links{{"Абоненты\\Вечер", "COM2"}, {"Абоненты\\Утро", "COM3"}, {"Абоненты\\Утро", "COM1"}}));
        QVERIFY(!form->nodeRect(kTask, "Долги\\Квартплата").has_value());
    }
};

QTEST_MAIN(FormLinkingTest)
#include "FormLinkingTest.moc"
