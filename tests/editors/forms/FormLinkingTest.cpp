// The linking window: links drawn by dragging, removed through menus, and what Apply, OK, Отмена and closing store.
#include "editors/forms/FormLinking.h"

#include "FormsTest.h"

#include "calls/PortSettings.h"
#include "calls/forms/FormComProperty.h"
#include "config/AppSettings.h"
#include "config/Ranges.h"
#include "editors/forms/FormOperator.h"
#include "engine/StationFlags.h"
#include "platform/sync/Event.h"

#include <QContextMenuEvent>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QMenu>
#include <QTimer>

using peltra::editors::FormLinking;
using NodeKind = FormLinking::NodeKind;
using Links = std::vector<std::pair<std::string, std::string>>;

namespace {

constexpr NodeKind kTask = NodeKind::Task, kPort = NodeKind::Port;
const Links kTasks{{"Абоненты", "Вечер"}, {"Абоненты", "Утро"}, {"Долги", "Квартплата"}};
const Links kStored{{"Абоненты\\Утро", "COM3"}, {"Абоненты\\Утро", "COM1"}, {"Долги\\Квартплата", "COM7"}};
const std::string kStoredText = "Абоненты\\Вечер: -; Абоненты\\Утро: COM3 COM1; Долги\\Квартплата: COM7; manual=1";
const std::string kCleared = "Абоненты\\Вечер: -; Абоненты\\Утро: -; Долги\\Квартплата: -; manual=0";

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
    return rect ? form.view()->mapFromScene(rect->center()) : (qFatal("node %s is not drawn", label.c_str()), QPoint());
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
    const QList<QGraphicsItem*> items = form.view()->scene()->items();
    return std::count_if(items.begin(), items.end(), [](auto* item) { return item->type() == QGraphicsItem::UserType + 2; });
}

// Opens the context menu at a point and clicks choice (a disabled or missing one closes it); returns its entries.
QStringList contextMenu(FormLinking& form, QPoint at, const QString& choice)
{
    QStringList shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        poll.stop();
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions()) {
            shown << action->text();
            chosen = action->text() == choice && action->isEnabled() ? action : chosen;
        }
        if (chosen == nullptr)
            return void(menu->close());
        menu->setActiveAction(chosen);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    poll.start(10);
    QWidget* viewport = form.view()->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
    return shown;
}

void clickManual(FormLinking& form)  // on the box itself: its empty right part takes no clicks
{
    auto* box = form.findChild<QCheckBox*>("checkbox_manual");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

}  // namespace

class FormLinkingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Home> m_home;

    // Each task's stored "main" list (read without writing; "-" when missing) and the manual flag.
    std::string stored()
    {
        std::string text;
        for (const auto& [binding, task] : kTasks) {
            const auto value = m_home->registry.getValue(
                peltra::config::ConfigStore::fullPath(peltra::config::taskKey(binding, task) + "\\" +
                                                      peltra::config::kAvailablePortsKeyName), "main");
            text += binding + "\\" + task + ":";
            for (const std::string& port : value ? value->asMultiText() : std::vector<std::string>{"-"})
                text += " " + port;
            text += "; ";
        }
        const auto manual = m_home->registry.getValue("Software\\PELTRA", "LinkTaskPortManual");
        return text + "manual=" + (manual ? std::to_string(manual->asDword()) : "-");
    }

    bool removeTask(const std::string& binding, const std::string& task)
    {
        return peltra::config::TaskStore(m_home->store).binding(binding)->operators().remove(task);
    }

    bool keyExists(const std::string& binding, const std::string& task)
    {
        return m_home->registry.keyExists(peltra::config::ConfigStore::fullPath(peltra::config::taskKey(binding, task)));
    }

    std::unique_ptr<FormLinking> shownForm(bool station = true)
    {
        auto form = std::make_unique<FormLinking>(m_home->store, station ? &m_home->flags : nullptr,
                                                  station ? &m_home->wake : nullptr);
        form->resize(760, 460);
        form->show();
        return QTest::qWaitForWindowExposed(form.get()) ? std::move(form) : (qFatal("the window is not shown"), nullptr);
    }

private slots:
    // Утро has two links in its own order, Квартплата one to a port that is no line, Вечер none; manual is on.
    void init()
    {
        m_home = std::make_unique<Home>();
        peltra::config::TaskStore tasks(m_home->store);
        for (const auto& [binding, task] : kTasks) {
            tasks.addBinding(binding, "/data/" + binding + ".dbf", "");
            QCOMPARE(tasks.binding(binding)->operators().add(task), peltra::config::AddResult::Added);
        }
        QVERIFY(peltra::calls::PortSettings(m_home->store).setConfiguredPorts({"COM1", "COM2", "COM3"}));
        QVERIFY(peltra::config::AvailablePorts(m_home->store, peltra::config::taskKey("Абоненты", "Утро")).set({"COM3", "COM1"}));
        QVERIFY(peltra::config::AvailablePorts(m_home->store, peltra::config::taskKey("Долги", "Квартплата")).set({"COM7"}));
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
        // Nothing added: an existing link from either end, task onto task, port onto port, empty space.
        drag(*form, kPort, "COM3", pointOf(*form, kTask, "Абоненты\\Утро"));
        link(*form, "Абоненты\\Утро", "COM1");
        drag(*form, kTask, "Абоненты\\Вечер", pointOf(*form, kTask, "Долги\\Квартплата"));
        drag(*form, kPort, "COM1", pointOf(*form, kPort, "COM2"));
        drag(*form, kTask, "Долги\\Квартплата", midway(*form, "Долги\\Квартплата", "COM1") + QPoint(0, 60));
        QCOMPARE(form->links(), expected);
        QCOMPARE(drawnLinks(*form), 5);
        // The dashed drag line is gone: two headings, three tasks, four ports, five links.
        QCOMPARE(form->view()->scene()->items().size(), qsizetype{2 + 3 + 4 + 5});
    }

    void menusRemoveLinksAndOpenProperties()
    {
        auto form = shownForm();
        const QPoint onLink = midway(*form, "Абоненты\\Утро", "COM1");
        QCOMPARE(contextMenu(*form, onLink, "Отмена"), (QStringList{"Удалить соединение", "Отмена"}));
        QVERIFY(!form->isModified());
        contextMenu(*form, onLink, "Удалить соединение");
        QCOMPARE(form->links(), (Links{{"Абоненты\\Утро", "COM3"}, {"Долги\\Квартплата", "COM7"}}));
        QVERIFY(drawnLinks(*form) == 2 && form->isModified());

        peltra::test::ModalCatcher windows;  // by default the task's own dialog opens, on that task
        Links opened;
        windows.onDialog([&](QDialog* dialog) {
            if (auto* properties = qobject_cast<peltra::editors::FormOperator*>(dialog)) {
                opened.emplace_back(properties->binding(), properties->taskName());
                properties->reject();
            }
        });
        const QPoint morning = pointOf(*form, kTask, "Абоненты\\Утро");
        QCOMPARE(contextMenu(*form, morning, "Свойства задания"), (QStringList{"Свойства задания", "Отмена"}));
        QTRY_COMPARE(opened, (Links{{"Абоненты", "Утро"}}));

        // A task removed while the window is open stays drawn, but its properties are not offered.
        form->setTaskOpener([&](QWidget*, const std::string& b, const std::string& n) { opened.emplace_back(b, n); });
        QVERIFY(removeTask("Абоненты", "Вечер"));
        contextMenu(*form, pointOf(*form, kTask, "Абоненты\\Вечер"), "Свойства задания");
        contextMenu(*form, morning, "Свойства задания");
        QCOMPARE(opened, (Links{{"Абоненты", "Утро"}, {"Абоненты", "Утро"}}));

        QCOMPARE(contextMenu(*form, pointOf(*form, kPort, "COM1"), "Свойства порта"),
                 (QStringList{"Свойства порта", "Отмена"}));
        auto* settings = form->findChild<peltra::calls::FormComProperty*>();
        QVERIFY(settings != nullptr && settings->isVisible() && settings->port() == "COM1");
        settings->close();
    }

    // Утро swaps COM3 for COM2 (link order kept), Вечер gets one, Квартплата removed meanwhile stays removed;
    // nothing is stored before Apply, which stores, tells the station and wakes it.
    void applyWritesListsFlagAndWakesTheController()
    {
        auto form = shownForm();
        contextMenu(*form, midway(*form, "Абоненты\\Утро", "COM3"), "Удалить соединение");
        drag(*form, kPort, "COM2", pointOf(*form, kTask, "Абоненты\\Утро"));
        link(*form, "Абоненты\\Вечер", "COM3");
        QCOMPARE(stored(), kStoredText);
        QVERIFY(removeTask("Долги", "Квартплата"));
        m_home->flags.setLinkTaskPortManual(false);
        peltra::test::ModalCatcher boxes;  // a failed apply says so; the test never hangs on its box
        peltra::test::click(*form, "cb_Apply");
        QCOMPARE(stored(),
                 std::string("Абоненты\\Вечер: COM3; Абоненты\\Утро: COM1 COM2; Долги\\Квартплата: -; manual=1"));
        QVERIFY(!keyExists("Долги", "Квартплата"));
        QVERIFY(boxes.texts().isEmpty() && m_home->flags.linkTaskPortManual() && m_home->wake.isSet());
        QVERIFY(!form->isModified() && form->isVisible());
        // Redrawn from the store: COM7, which no line uses and no task names now, is gone.
        QVERIFY(!form->nodeRect(kPort, "COM7").has_value());
        QCOMPARE(drawnLinks(*form), 3);
    }

    // Without manual linking no task keeps links; a removed task stays removed; with or without a station.
    void applyWithManualLinkingOff()
    {
        for (const bool station : {true, false}) {
            init();
            auto form = shownForm(station);
            link(*form, "Долги\\Квартплата", "COM1");
            QVERIFY(removeTask("Долги", "Квартплата"));
            clickManual(*form);
            peltra::test::ModalCatcher boxes;  // a failed apply would say so
            peltra::test::click(*form, "cb_OK");
            QVERIFY(boxes.texts().isEmpty() && !form->isVisible());
            QCOMPARE(stored(), kCleared);
            QVERIFY(!keyExists("Долги", "Квартплата"));
            QVERIFY(m_home->flags.linkTaskPortManual() == !station && m_home->wake.isSet() == station);
        }
    }

    // Each row: closing with a link drawn and manual off, the answer asked, and what is left; reopened shows the store.
    void closingWithChangesAsks()
    {
        const struct { const char* how; QMessageBox::StandardButton answer; bool open; std::string left; } rows[] = {
            {"close", QMessageBox::Cancel, true, kStoredText},
            {"close", QMessageBox::No, false, kStoredText},
            {"cancel", QMessageBox::NoButton, false, kStoredText},
            {"close", QMessageBox::Yes, false, kCleared},
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
                peltra::test::click(*form, "cb_Cancel");
            else
                form->close();
            QCOMPARE(boxes.texts(), row.answer == QMessageBox::NoButton ? QStringList{}
                                        : QStringList{QStringLiteral("Вы желаете сохранить внесенные изменения?")});
            QCOMPARE(stored(), row.left);
            QVERIFY(form->isVisible() == row.open && m_home->wake.isSet() == (row.answer == QMessageBox::Yes));
            if (row.open) {
                QVERIFY(form->isModified());
                form->cancel();
                continue;
            }
            form->show();
            QCOMPARE(form->links(), row.answer == QMessageBox::Yes ? Links{} : kStored);
            QVERIFY(form->findChild<QCheckBox*>("checkbox_manual")->isChecked() == (row.answer != QMessageBox::Yes) &&
                    !form->isModified());
            form->close();
        }
        peltra::test::ModalCatcher boxes;  // unchanged, it closes without a question
        form->show();
        form->close();
        QVERIFY(!form->isVisible() && boxes.boxes().isEmpty());
    }
};

PELTRA_FORMS_TEST(FormLinkingTest)
#include "FormLinkingTest.moc"
