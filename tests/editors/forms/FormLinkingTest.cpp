// The linking window: links read from the store, links drawn by dragging either way, removed
// through the menus, and what Apply, OK, Отмена and closing leave in the store and the station.
#include "editors/forms/FormLinking.h"

#include "calls/PortSettings.h"
#include "calls/forms/FormComProperty.h"
#include "editors/forms/FormOperator.h"
#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "config/Operator.h"
#include "config/Ranges.h"
#include "config/TaskStore.h"
#include "engine/StationFlags.h"
#include "platform/registry/RegistryStore.h"
#include "platform/sync/Event.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using peltra::editors::FormLinking;
using peltra::platform::RegistryStore;
using NodeKind = FormLinking::NodeKind;
using Links = std::vector<std::pair<std::string, std::string>>;
using Names = std::vector<std::string>;

namespace {

// Watches for a popup menu or a modal box and answers it; dies with the test case, and its timer
// with it.
class Responder : public QObject {
public:
    // answer gets the open widget and returns true once it has handled it.
    explicit Responder(std::function<bool(QWidget*)> answer) : m_answer(std::move(answer))
    {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, timer] {
            QWidget* open = QApplication::activePopupWidget();
            if (open == nullptr)
                open = QApplication::activeModalWidget();
            if (open != nullptr && m_answer(open)) {
                ++m_handled;
                timer->stop();
            }
        });
        timer->start(10);
    }
    int handled() const { return m_handled; }

private:
    std::function<bool(QWidget*)> m_answer;
    int m_handled = 0;
};

QStringList actionTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << action->text();
    return texts;
}

}  // namespace

class FormLinkingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::engine::StationFlags> m_flags;
    std::unique_ptr<peltra::platform::Event> m_wake;

    // The stored "main" list of a task; nothing when the value is missing. Reads without writing.
    std::optional<Names> mainList(const std::string& binding, const std::string& task)
    {
        const auto value = m_registry->getValue(
            peltra::config::ConfigStore::fullPath(peltra::config::taskKey(binding, task) + "\\" +
                                                  peltra::config::kAvailablePortsKeyName),
            "main");
        if (!value)
            return std::nullopt;
        return value->asMultiText();
    }

    void setMain(const std::string& binding, const std::string& task, const Names& ports)
    {
        QVERIFY(peltra::config::AvailablePorts(*m_store, peltra::config::taskKey(binding, task)).set(ports));
    }

    std::optional<std::uint32_t> storedManualFlag()
    {
        const auto value = m_registry->getValue("Software\\PELTRA", "LinkTaskPortManual");
        if (!value)
            return std::nullopt;
        return value->asDword();
    }

    static QPushButton* button(QWidget& form, const char* name)
    {
        auto* widget = form.findChild<QPushButton*>(QString::fromLatin1(name));
        if (widget == nullptr)
            qFatal("button %s is missing", name);
        return widget;
    }

    static QCheckBox* manualBox(QWidget& form)
    {
        auto* box = form.findChild<QCheckBox*>("checkbox_manual");
        if (box == nullptr)
            qFatal("checkbox_manual is missing");
        return box;
    }

    // On the box itself: the check box spans the window, its empty right part takes no clicks.
    static void clickBox(QWidget& form)
    {
        QCheckBox* box = manualBox(form);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }

    static QPoint pointOf(FormLinking& form, NodeKind kind, const std::string& label)
    {
        const std::optional<QRectF> rect = form.nodeRect(kind, label);
        if (!rect)
            qFatal("node %s is not drawn", label.c_str());
        return form.view()->mapFromScene(rect->center());
    }

    // Presses on one point of the view, moves in steps and lets go on another, as a user drags.
    static void drag(FormLinking& form, QPoint from, QPoint to)
    {
        QWidget* viewport = form.view()->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, from);
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(viewport, from + (to - from) * step / 4);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
    }

    static int drawnLinks(FormLinking& form)
    {
        int count = 0;
        for (QGraphicsItem* item : form.view()->scene()->items())
            count += item->type() == QGraphicsItem::UserType + 2 ? 1 : 0;
        return count;
    }

    // Opens the context menu at a point of the view and clicks choice; a choice that is disabled
    // or missing closes the menu.
    static QStringList contextMenu(FormLinking& form, QPoint at, const QString& choice)
    {
        QStringList shown;
        Responder responder([&](QWidget* open) {
            auto* menu = qobject_cast<QMenu*>(open);
            if (menu == nullptr)
                return false;
            shown = actionTexts(menu);
            for (QAction* action : menu->actions()) {
                if (action->text() == choice && action->isEnabled()) {
                    menu->setActiveAction(action);
                    QTest::keyClick(menu, Qt::Key_Return);
                    return true;
                }
            }
            menu->close();
            return true;
        });
        QWidget* viewport = form.view()->viewport();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &event);
        return shown;
    }

    void showForm(FormLinking& form)
    {
        form.resize(760, 460);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<RegistryStore>(*m_dir / "registry.db");
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_flags = std::make_unique<peltra::engine::StationFlags>();
        m_wake = std::make_unique<peltra::platform::Event>(false, false);

        peltra::config::TaskStore tasks(*m_store);
        QCOMPARE(tasks.addBinding("Абоненты", "/data/abon.dbf", ""), peltra::config::AddResult::Added);
        QCOMPARE(tasks.addBinding("Долги", "/data/dolg.dbf", ""), peltra::config::AddResult::Added);
        QCOMPARE(tasks.binding("Абоненты")->operators().add("Вечер"), peltra::config::AddResult::Added);
        QCOMPARE(tasks.binding("Абоненты")->operators().add("Утро"), peltra::config::AddResult::Added);
        QCOMPARE(tasks.binding("Долги")->operators().add("Квартплата"), peltra::config::AddResult::Added);
        QVERIFY(peltra::calls::PortSettings(*m_store).setConfiguredPorts({"COM1", "COM2", "COM3"}));

        // Утро has two links in its own order and Квартплата one to a port that is no line;
        // Вечер has no list at all.
        setMain("Абоненты", "Утро", {"COM3", "COM1"});
        setMain("Долги", "Квартплата", {"COM7"});
        QVERIFY(peltra::config::AppSettings(*m_store).setLinkTaskPortManual(true));
        m_flags->setLinkTaskPortManual(true);
    }

    void cleanup()
    {
        m_store.reset();
        m_registry.reset();
        m_wake.reset();
        m_flags.reset();
        m_dir.reset();
    }

    void storedLinksAreDrawn()
    {
        FormLinking form(*m_store, m_flags.get(), m_wake.get());
        showForm(form);
        QCOMPARE(form.windowTitle(), QStringLiteral("Установка связи между заданиями и портами"));
        QCOMPARE(form.links(), (Links{{"Абоненты\\Утро", "COM3"}, {"Абоненты\\Утро", "COM1"},
                                      {"Долги\\Квартплата", "COM7"}}));
        QCOMPARE(drawnLinks(form), 3);
        for (const char* task : {"Абоненты\\Вечер", "Абоненты\\Утро", "Долги\\Квартплата"})
            QVERIFY(form.nodeRect(NodeKind::Task, task).has_value());
        // The port no line uses is drawn so that its link survives an apply.
        for (const char* port : {"COM1", "COM2", "COM3", "COM7"})
            QVERIFY(form.nodeRect(NodeKind::Port, port).has_value());
        QVERIFY(manualBox(form)->isChecked());
        QVERIFY(!form.isModified());
        // Opening wrote no empty list for the task without one.
        QVERIFY(!mainList("Абоненты", "Вечер").has_value());
        form.grab().save("FormLinking.png");
    }

    void draggingEitherWayAddsLinks()
    {
        FormLinking form(*m_store, m_flags.get(), m_wake.get());
        showForm(form);

        drag(form, pointOf(form, NodeKind::Task, "Абоненты\\Вечер"), pointOf(form, NodeKind::Port, "COM2"));
        QCOMPARE(form.links().size(), std::size_t{4});
        QVERIFY(form.isModified());
        drag(form, pointOf(form, NodeKind::Port, "COM2"), pointOf(form, NodeKind::Task, "Абоненты\\Утро"));
        QCOMPARE(form.links(), (Links{{"Абоненты\\Вечер", "COM2"}, {"Абоненты\\Утро", "COM3"},
                                      {"Абоненты\\Утро", "COM1"}, {"Абоненты\\Утро", "COM2"},
                                      {"Долги\\Квартплата", "COM7"}}));
        QCOMPARE(drawnLinks(form), 5);

        // What adds nothing: a link that exists, from either end; a task onto a task; a port onto
        // a port; letting go over empty space.
        drag(form, pointOf(form, NodeKind::Port, "COM3"), pointOf(form, NodeKind::Task, "Абоненты\\Утро"));
        drag(form, pointOf(form, NodeKind::Task, "Абоненты\\Утро"), pointOf(form, NodeKind::Port, "COM1"));
        drag(form, pointOf(form, NodeKind::Task, "Абоненты\\Вечер"), pointOf(form, NodeKind::Task, "Долги\\Квартплата"));
        drag(form, pointOf(form, NodeKind::Port, "COM1"), pointOf(form, NodeKind::Port, "COM2"));
        const QPoint task = pointOf(form, NodeKind::Task, "Долги\\Квартплата");
        const QPoint port = pointOf(form, NodeKind::Port, "COM1");
        drag(form, task, QPoint((task.x() + port.x()) / 2, task.y() + 60));
        QCOMPARE(form.links().size(), std::size_t{5});
        QCOMPARE(drawnLinks(form), 5);
        // The dashed line that follows the mouse is gone after each drag.
        QCOMPARE(form.view()->scene()->items().size(), qsizetype{2 + 3 + 4 + 5});
    }

    void menusRemoveLinksAndOpenPortSettings()
    {
        FormLinking form(*m_store, m_flags.get(), m_wake.get());
        showForm(form);
        const QPoint task = pointOf(form, NodeKind::Task, "Абоненты\\Утро");
        const QPoint com1 = pointOf(form, NodeKind::Port, "COM1");
        const QPoint onLink = (task + com1) / 2;

        QCOMPARE(contextMenu(form, onLink, QStringLiteral("Отмена")),
                 (QStringList{QStringLiteral("Удалить соединение"), QStringLiteral("Отмена")}));
        QCOMPARE(form.links().size(), std::size_t{3});
        QVERIFY(!form.isModified());

        contextMenu(form, onLink, QStringLiteral("Удалить соединение"));
        QCOMPARE(form.links(), (Links{{"Абоненты\\Утро", "COM3"}, {"Долги\\Квартплата", "COM7"}}));
        QCOMPARE(drawnLinks(form), 2);
        QVERIFY(form.isModified());

        // By default the task's own dialog opens, on that task.
        QString dialogTitle;
        std::pair<std::string, std::string> dialogTask;
        Responder taskDialog([&](QWidget* open) {
            auto* dialog = qobject_cast<peltra::editors::FormOperator*>(open);
            if (dialog == nullptr) {
                // A notice the dialog shows first (its table cannot be read here).
                if (auto* box = qobject_cast<QMessageBox*>(open))
                    box->accept();
                return false;
            }
            dialogTitle = dialog->windowTitle();
            dialogTask = {dialog->binding(), dialog->taskName()};
            dialog->reject();
            return true;
        });
        QCOMPARE(contextMenu(form, task, QStringLiteral("Свойства задания")),
                 (QStringList{QStringLiteral("Свойства задания"), QStringLiteral("Отмена")}));
        QTRY_COMPARE(taskDialog.handled(), 1);
        QCOMPARE(dialogTask, (std::pair<std::string, std::string>{"Абоненты", "Утро"}));
        QVERIFY(dialogTitle.contains(QStringLiteral("Абоненты")));

        std::vector<std::pair<std::string, std::string>> opened;
        form.setTaskOpener([&](QWidget*, const std::string& binding, const std::string& name) {
            opened.emplace_back(binding, name);
        });
        contextMenu(form, task, QStringLiteral("Свойства задания"));
        QCOMPARE(opened, (Links{{"Абоненты", "Утро"}}));

        QCOMPARE(contextMenu(form, com1, QStringLiteral("Свойства порта")),
                 (QStringList{QStringLiteral("Свойства порта"), QStringLiteral("Отмена")}));
        auto* settings = form.findChild<peltra::calls::FormComProperty*>();
        QVERIFY(settings != nullptr);
        QCOMPARE(settings->port(), std::string("COM1"));
        QVERIFY(settings->isVisible());
        settings->close();
    }

    void applyWritesListsFlagAndWakesTheController()
    {
        FormLinking form(*m_store, m_flags.get(), m_wake.get());
        showForm(form);
        // Утро loses COM3 and gains COM2 (kept in link order); Квартплата loses its only link;
        // Вечер gets its first.
        const QPoint morning = pointOf(form, NodeKind::Task, "Абоненты\\Утро");
        contextMenu(form, (morning + pointOf(form, NodeKind::Port, "COM3")) / 2, QStringLiteral("Удалить соединение"));
        drag(form, pointOf(form, NodeKind::Port, "COM2"), morning);
        const QPoint debt = pointOf(form, NodeKind::Task, "Долги\\Квартплата");
        contextMenu(form, (debt + pointOf(form, NodeKind::Port, "COM7")) / 2, QStringLiteral("Удалить соединение"));
        drag(form, pointOf(form, NodeKind::Task, "Абоненты\\Вечер"), pointOf(form, NodeKind::Port, "COM3"));
        QCOMPARE(form.links(), (Links{{"Абоненты\\Вечер", "COM3"}, {"Абоненты\\Утро", "COM1"},
                                      {"Абоненты\\Утро", "COM2"}}));
        // Nothing is stored before Apply.
        QCOMPARE(mainList("Абоненты", "Утро"), (std::optional<Names>{{"COM3", "COM1"}}));

        m_flags->setLinkTaskPortManual(false);
        QVERIFY(!m_wake->isSet());
        QTest::mouseClick(button(form, "cb_Apply"), Qt::LeftButton);

        QCOMPARE(mainList("Абоненты", "Утро"), (std::optional<Names>{{"COM1", "COM2"}}));
        QCOMPARE(mainList("Абоненты", "Вечер"), (std::optional<Names>{{"COM3"}}));
        QVERIFY(!mainList("Долги", "Квартплата").has_value());
        QCOMPARE(storedManualFlag(), std::optional<std::uint32_t>{1});
        QVERIFY(m_flags->linkTaskPortManual());
        QVERIFY(m_wake->isSet());
        QVERIFY(!form.isModified());
        QVERIFY(form.isVisible());
        // Redrawn from the store: COM7, which no line uses and no task names now, is gone.
        QVERIFY(!form.nodeRect(NodeKind::Port, "COM7").has_value());
        QCOMPARE(drawnLinks(form), 3);
    }

    void applyWithManualLinkingOffLeavesNoList()
    {
        FormLinking form(*m_store, m_flags.get(), m_wake.get());
        showForm(form);
        clickBox(form);
        QVERIFY(form.isModified());
        QTest::mouseClick(button(form, "cb_OK"), Qt::LeftButton);

        QVERIFY(!form.isVisible());
        for (const auto& [binding, task] : Links{{"Абоненты", "Вечер"}, {"Абоненты", "Утро"}, {"Долги", "Квартплата"}})
            QVERIFY2(!mainList(binding, task).has_value(), task.c_str());
        QCOMPARE(storedManualFlag(), std::optional<std::uint32_t>{0});
        QVERIFY(!m_flags->linkTaskPortManual());
        QVERIFY(m_wake->isSet());
        QVERIFY(form.links().empty());
    }

    void applyDoesNotBringBackARemovedTask()
    {
        FormLinking form(*m_store, m_flags.get(), m_wake.get());
        showForm(form);
        drag(form, pointOf(form, NodeKind::Task, "Долги\\Квартплата"), pointOf(form, NodeKind::Port, "COM1"));
        // The task manager removes the task while the window is open.
        QVERIFY(peltra::config::TaskStore(*m_store).binding("Долги")->operators().remove("Квартплата"));
        QVERIFY(form.apply());
        QVERIFY(!m_registry->keyExists(
            peltra::config::ConfigStore::fullPath(peltra::config::taskKey("Долги", "Квартплата"))));
        QVERIFY(!form.nodeRect(NodeKind::Task, "Долги\\Квартплата").has_value());
        QCOMPARE(mainList("Абоненты", "Утро"), (std::optional<Names>{{"COM3", "COM1"}}));
    }

    void cancelChangesNothing()
    {
        FormLinking form(*m_store, m_flags.get(), m_wake.get());
        showForm(form);
        drag(form, pointOf(form, NodeKind::Task, "Абоненты\\Вечер"), pointOf(form, NodeKind::Port, "COM2"));
        clickBox(form);

        Responder unexpected([](QWidget* open) {
            qWarning("unexpected window: %s", qPrintable(open->objectName()));
            open->close();
            return true;
        });
        QTest::mouseClick(button(form, "cb_Cancel"), Qt::LeftButton);
        QVERIFY(!form.isVisible());
        QCOMPARE(unexpected.handled(), 0);
        QVERIFY(!mainList("Абоненты", "Вечер").has_value());
        QCOMPARE(mainList("Абоненты", "Утро"), (std::optional<Names>{{"COM3", "COM1"}}));
        QCOMPARE(mainList("Долги", "Квартплата"), (std::optional<Names>{{"COM7"}}));
        QCOMPARE(storedManualFlag(), std::optional<std::uint32_t>{1});
        QVERIFY(m_flags->linkTaskPortManual());
        QVERIFY(!m_wake->isSet());
    }

    void closingWithChangesAsks()
    {
        struct Asked {
            QString title;
            QString text;
            QStringList buttons;
        };
        // Closes the window and answers the question with the button of that text.
        auto closeAnswering = [](FormLinking& form, const QString& answer) {
            Asked asked;
            Responder responder([&](QWidget* open) {
                auto* box = qobject_cast<QMessageBox*>(open);
                if (box == nullptr)
                    return false;
                asked.title = box->windowTitle();
                asked.text = box->text();
                for (QAbstractButton* b : box->buttons())
                    asked.buttons << b->text();
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == answer)
                        b->click();
                return true;
            });
            form.close();
            return asked;
        };

        {
            FormLinking form(*m_store, m_flags.get(), m_wake.get());
            showForm(form);
            // Unchanged: closes without a question.
            Responder unexpected([](QWidget* open) {
                open->close();
                return true;
            });
            form.close();
            QVERIFY(!form.isVisible());
            QCOMPARE(unexpected.handled(), 0);
        }
        {
            FormLinking form(*m_store, m_flags.get(), m_wake.get());
            showForm(form);
            drag(form, pointOf(form, NodeKind::Task, "Абоненты\\Вечер"), pointOf(form, NodeKind::Port, "COM2"));

            const Asked asked = closeAnswering(form, QStringLiteral("Отмена"));
            QCOMPARE(asked.title, QStringLiteral("Связывание заданий с портами"));
            QCOMPARE(asked.text, QStringLiteral("Вы желаете сохранить внесенные изменения?"));
            QCOMPARE(asked.buttons.size(), 3);
            for (const QString& b : {QStringLiteral("Да"), QStringLiteral("Нет"), QStringLiteral("Отмена")})
                QVERIFY(asked.buttons.contains(b));
            QVERIFY(form.isVisible());
            QVERIFY(form.isModified());

            closeAnswering(form, QStringLiteral("Нет"));
            QVERIFY(!form.isVisible());
            QVERIFY(!mainList("Абоненты", "Вечер").has_value());
            QVERIFY(!m_wake->isSet());
        }
        {
            FormLinking form(*m_store, m_flags.get(), m_wake.get());
            showForm(form);
            drag(form, pointOf(form, NodeKind::Task, "Абоненты\\Вечер"), pointOf(form, NodeKind::Port, "COM2"));
            closeAnswering(form, QStringLiteral("Да"));
            QVERIFY(!form.isVisible());
            QCOMPARE(form.result(), int(QDialog::Accepted));
            QCOMPARE(mainList("Абоненты", "Вечер"), (std::optional<Names>{{"COM2"}}));
            QVERIFY(m_wake->isSet());
        }
    }

    void everyOpeningShowsTheStore()
    {
        const Links stored{{"Абоненты\\Утро", "COM3"}, {"Абоненты\\Утро", "COM1"}, {"Долги\\Квартплата", "COM7"}};
        FormLinking form(*m_store, m_flags.get(), m_wake.get());
        // Discarded with "Отмена", and with "Нет" on closing: not drawn on the next opening.
        for (const bool byCancel : {true, false}) {
            showForm(form);
            drag(form, pointOf(form, NodeKind::Task, "Абоненты\\Вечер"), pointOf(form, NodeKind::Port, "COM2"));
            clickBox(form);
            if (byCancel) {
                QTest::mouseClick(button(form, "cb_Cancel"), Qt::LeftButton);
            } else {
                Responder no([](QWidget* open) {
                    auto* box = qobject_cast<QMessageBox*>(open);
                    if (box != nullptr)
                        box->button(QMessageBox::No)->click();
                    return box != nullptr;
                });
                form.close();
                QCOMPARE(no.handled(), 1);
            }
            QVERIFY(!form.isVisible());
            showForm(form);
            QCOMPARE(form.links(), stored);
            QCOMPARE(drawnLinks(form), 3);
            QVERIFY(manualBox(form)->isChecked());
            QVERIFY(!form.isModified());
            form.close();
        }

        // Changed elsewhere while the window was closed: a task removed, a list written.
        QVERIFY(peltra::config::TaskStore(*m_store).binding("Долги")->operators().remove("Квартплата"));
        setMain("Абоненты", "Вечер", {"COM2"});
        showForm(form);
        QCOMPARE(form.links(), (Links{{"Абоненты\\Вечер", "COM2"}, {"Абоненты\\Утро", "COM3"},
                                      {"Абоненты\\Утро", "COM1"}}));
        QVERIFY(!form.nodeRect(NodeKind::Task, "Долги\\Квартплата").has_value());

        // Removed while the window is open: it stays drawn until the next opening, but its
        // properties are not offered.
        std::vector<std::string> opened;
        form.setTaskOpener([&](QWidget*, const std::string&, const std::string& name) { opened.push_back(name); });
        const QPoint evening = pointOf(form, NodeKind::Task, "Абоненты\\Вечер");
        QVERIFY(peltra::config::TaskStore(*m_store).binding("Абоненты")->operators().remove("Вечер"));
        contextMenu(form, evening, QStringLiteral("Свойства задания"));
        contextMenu(form, pointOf(form, NodeKind::Task, "Абоненты\\Утро"), QStringLiteral("Свойства задания"));
        QCOMPARE(opened, (Names{"Утро"}));
    }

    void worksWithoutARunningStation()
    {
        FormLinking form(*m_store, nullptr, nullptr);
        showForm(form);
        clickBox(form);
        QVERIFY(form.apply());
        QCOMPARE(storedManualFlag(), std::optional<std::uint32_t>{0});
        QVERIFY(!mainList("Абоненты", "Утро").has_value());
    }
};

QTEST_MAIN(FormLinkingTest)
#include "FormLinkingTest.moc"
