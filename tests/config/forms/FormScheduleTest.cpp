// The schedule editor: the window block each page stores, the row labels, loading a stored
// schedule back, the night hours, the month-day grid and its refusal, removal and write failures.
#include "config/forms/FormSchedule.h"

#include "config/ConfigStore.h"
#include "config/Schedules.h"
#include "config/TaskStore.h"
#include "config/forms/RangeSlider.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using peltra::config::FormSchedule;
using peltra::config::MonthDayGrid;
using peltra::config::RangeSlider;
using peltra::config::ScheduleBlock;
using peltra::config::ScheduleWindow;
using peltra::platform::RegistryStore;
using peltra::platform::RegistryValue;

namespace {

const std::string kBinding = "Абоненты";
const std::string kTask = "Долг";
constexpr std::uint32_t kDay = 86400;
constexpr std::uint32_t kHour = 3600;

// Presses a button of the next modal box that shows up and keeps what it said. Its timers end
// with it.
class BoxAnswer {
public:
    explicit BoxAnswer(QMessageBox::StandardButton button) : m_button(button)
    {
        QTimer::singleShot(0, &m_context, [this] { press(); });
    }
    const QString& text() const { return m_text; }
    const QString& title() const { return m_title; }
    int count() const { return m_count; }

private:
    void press()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, &m_context, [this] { press(); });
            return;
        }
        m_text = box->text();
        m_title = box->windowTitle();
        ++m_count;
        box->button(m_button)->click();
    }
    QObject m_context;
    QMessageBox::StandardButton m_button;
    QString m_text;
    QString m_title;
    int m_count = 0;
};

ScheduleWindow on(std::uint32_t weekday, std::uint32_t fromHour, std::uint32_t toHour)
{
    return {weekday * kDay + fromHour * kHour, weekday * kDay + toHour * kHour};
}

}  // namespace

class FormScheduleTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::config::TaskStore> m_tasks;

    peltra::config::Operator task() { return *m_tasks->task(kBinding, kTask); }

    template <typename T>
    static T* control(QWidget& form, const QString& name)
    {
        T* widget = form.findChild<T*>(name);
        if (widget == nullptr)
            qFatal("control %s is missing", qPrintable(name));
        return widget;
    }

    // Clicks a checkbox on its square, which is where a stretched box still takes the click.
    static void tick(QCheckBox* box)
    {
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
    }

    static void click(QWidget& form, const char* button)
    {
        QTest::mouseClick(control<QPushButton>(form, button), Qt::LeftButton);
    }

    // Switches a row on and selects its window with a Shift drag, as a user does.
    static void setRow(QWidget& form, const QString& row, int from, int to)
    {
        QCheckBox* box = control<QCheckBox>(form, "checkbox_" + row);
        if (!box->isChecked())
            tick(box);
        RangeSlider* slider = control<RangeSlider>(form, "slider_" + row);
        const int y = slider->height() / 3;
        QTest::mousePress(slider, Qt::LeftButton, Qt::ShiftModifier, QPoint(slider->pixelOf(from), y));
        QMouseEvent move(QEvent::MouseMove, QPointF(slider->pixelOf(to), y), slider->mapToGlobal(QPointF(0, 0)),
                         Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(slider, &move);
        QTest::mouseRelease(slider, Qt::LeftButton, Qt::ShiftModifier, QPoint(slider->pixelOf(to), y));
        QCOMPARE(slider->low(), std::min(from, to));
        QCOMPARE(slider->high(), std::max(from, to));
    }

    static void choosePage(QWidget& form, int page)
    {
        control<QTabWidget>(form, "tab_schedule")->setCurrentIndex(page);
    }

    std::vector<peltra::config::ScheduleData> stored() { return task().schedules().all(); }

    static void save(QWidget& form, const char* file)
    {
        QVERIFY(form.grab().save(QString::fromLatin1(file)));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<RegistryStore>(*m_dir / "registry.db");
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_tasks = std::make_unique<peltra::config::TaskStore>(*m_store);
        QVERIFY(m_tasks->addBinding(kBinding, "/data/abon.dbf", "") == peltra::config::AddResult::Added);
        QVERIFY(m_tasks->binding(kBinding)->operators().add(kTask) == peltra::config::AddResult::Added);
    }

    void cleanup()
    {
        m_tasks.reset();
        m_store.reset();
        m_registry.reset();
        m_dir.reset();
    }

    void theEditorShowsTheTaskAndItsControls()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        QCOMPARE(form.windowTitle(), QStringLiteral("Установка расписания"));
        QVERIFY(!form.isModal());
        QVERIFY(control<QLabel>(form, "label_task")->text().contains(QStringLiteral("Долг")));
        QVERIFY(control<QLabel>(form, "label_path")->text().contains(QStringLiteral("/data/abon.dbf")));
        auto* pages = control<QTabWidget>(form, "tab_schedule");
        QCOMPARE(pages->count(), 3);
        QCOMPARE(pages->tabText(0), QStringLiteral("Ежедневно"));
        QCOMPARE(pages->tabText(1), QStringLiteral("Еженедельно"));
        QCOMPARE(pages->tabText(2), QStringLiteral("Еженедельно(раб/вых)"));
        QCOMPARE(control<QLabel>(form, "label_hint")->text(),
                 QStringLiteral("Для изменения диапазона перемещайте ползунок, удерживая клавишу <Shift> "));
        QCOMPARE(control<QPushButton>(form, "cb_new")->text(), QStringLiteral("Новое"));
        QCOMPARE(control<QPushButton>(form, "cb_delete")->text(), QStringLiteral("Удалить"));
        QCOMPARE(control<QCheckBox>(form, "checkbox_night")->text(), QStringLiteral("Разрешить ночное оповещение"));
        QCOMPARE(control<QCheckBox>(form, "checkbox_month")->text(),
                 QStringLiteral("только по определенным дням месяца"));
        QCOMPARE(control<QLabel>(form, "label_days")->text(), QStringLiteral("Выбор - левая кнопка, отмена - правая"));
        const QStringList weekdays = {"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота",
                                      "Воскресенье"};
        for (int i = 0; i < 7; ++i)
            QCOMPARE(control<QCheckBox>(form, QStringLiteral("checkbox_weekly_%1").arg(i))->text(),
                     weekdays[i] + QStringLiteral("\r\n<отключен>"));
        QCOMPARE(control<QCheckBox>(form, "checkbox_workweek_0")->text(), QStringLiteral("Рабочие дни\r\n<отключен>"));
        QCOMPARE(control<QCheckBox>(form, "checkbox_workweek_1")->text(), QStringLiteral("Выходные дни\r\n<отключен>"));
        QVERIFY(!form.current());
    }

    void theRowLabelsFollowTheCheckboxAndTheSlider()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        auto* box = control<QCheckBox>(form, "checkbox_daily_0");
        auto* window = control<QLabel>(form, "label_daily_0");
        auto* slider = control<RangeSlider>(form, "slider_daily_0");
        QCOMPARE(box->text(), QStringLiteral("Каждый день\r\n<отключен>"));
        QCOMPARE(window->text(), QStringLiteral("<не выбран>"));
        QVERIFY(!slider->isEnabled());
        tick(box);
        QVERIFY(slider->isEnabled());
        QCOMPARE(box->text(), QStringLiteral("Каждый день\r\n<не выбран>"));
        setRow(form, "daily_0", 33, 57);  // 08:15 - 14:15
        QCOMPARE(box->text(), QStringLiteral("Каждый день\r\n08:15-14:15"));
        QCOMPARE(window->text(), QStringLiteral("08:15 - 14:15"));
        tick(box);
        QCOMPARE(box->text(), QStringLiteral("Каждый день\r\n<отключен>"));
        QCOMPARE(window->text(), QStringLiteral("08:15 - 14:15"));  // kept for switching on again
    }

    void theNightFlagWidensEverySlider()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        const QStringList rows = {"daily_0",   "weekly_0",   "weekly_3",  "weekly_6",
                                  "workweek_0", "workweek_1"};
        for (const QString& row : rows) {
            auto* slider = control<RangeSlider>(form, "slider_" + row);
            QCOMPARE(slider->minimum(), 32);
            QCOMPARE(slider->maximum(), 88);
            QCOMPARE(slider->pageStep(), 4);
            QCOMPARE(slider->tickInterval(), 4);
        }
        tick(control<QCheckBox>(form, "checkbox_night"));
        for (const QString& row : rows) {
            auto* slider = control<RangeSlider>(form, "slider_" + row);
            QCOMPARE(slider->minimum(), 0);
            QCOMPARE(slider->maximum(), 96);
        }
        QVERIFY(form.nightAllowed());
        // Narrowing again cuts a window to the day's hours.
        control<RangeSlider>(form, "slider_daily_0")->setSelection(20, 92);
        tick(control<QCheckBox>(form, "checkbox_night"));
        QCOMPARE(control<RangeSlider>(form, "slider_daily_0")->low(), 32);
        QCOMPARE(control<RangeSlider>(form, "slider_daily_0")->high(), 88);
    }

    void dailyStoresSevenPairsMondayToSunday()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        QSignalSpy storedSpy(&form, &FormSchedule::scheduleStored);
        choosePage(form, FormSchedule::DailyPage);
        setRow(form, "daily_0", 32, 80);  // 08:00-20:00
        click(form, "cb_OK");
        QVERIFY(!form.isVisible());
        QCOMPARE(storedSpy.size(), 1);
        QCOMPARE(storedSpy.front().at(0).toBool(), false);

        const auto schedules = stored();
        QCOMPARE(schedules.size(), std::size_t(1));
        QCOMPARE(schedules[0].name, std::string("0001"));
        const ScheduleBlock expected{{on(1, 8, 20), on(2, 8, 20), on(3, 8, 20), on(4, 8, 20), on(5, 8, 20),
                                      on(6, 8, 20), on(0, 8, 20)},
                                     22};
        QVERIFY(schedules[0].block == expected);
        QCOMPARE(schedules[0].monthMask, 0u);
        QCOMPARE(schedules[0].night, false);
        // The bytes as stored: 7 pairs and the kind word, little-endian.
        const auto raw = m_registry->getValue(
            peltra::config::ConfigStore::fullPath(task().key() + "\\Расписания\\0001"), "Schedule");
        QVERIFY(raw.has_value());
        QCOMPARE(raw->data.size(), std::size_t(7 * 8 + 4));
        QCOMPARE(int(raw->data[0]), int((kDay + 8 * kHour) & 0xFF));
        QCOMPARE(int(raw->data[56]), 22);
    }

    void weeklyStoresOnlySwitchedOnDaysWithAWindow()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        choosePage(form, FormSchedule::WeeklyPage);
        tick(control<QCheckBox>(form, "checkbox_night"));
        setRow(form, "weekly_0", 36, 48);  // Monday 09:00-12:00
        setRow(form, "weekly_5", 80, 96);  // Saturday 20:00-24:00
        QCOMPARE(control<QCheckBox>(form, "checkbox_weekly_5")->text(), QStringLiteral("Суббота\r\n20:00-24:00"));
        // Tuesday switched on without a window, Wednesday with a window but switched off.
        tick(control<QCheckBox>(form, "checkbox_weekly_1"));
        setRow(form, "weekly_2", 40, 44);
        tick(control<QCheckBox>(form, "checkbox_weekly_2"));
        click(form, "cb_OK");

        const auto schedules = stored();
        QCOMPARE(schedules.size(), std::size_t(1));
        const ScheduleBlock expected{{{kDay + 9 * kHour, kDay + 12 * kHour}, {6 * kDay + 20 * kHour, 7 * kDay}}, 20};
        QVERIFY(schedules[0].block == expected);
        QCOMPARE(schedules[0].night, true);
        QCOMPARE(QString::fromStdString(peltra::config::scheduleText(schedules[0].block, 0)),
                 QStringLiteral("Еженедельно: Пн:09:00-12:00; Сб:20:00-24:00; "));
    }

    void workWeekStoresFiveWorkDaysThenTheWeekend()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        choosePage(form, FormSchedule::WorkWeekPage);
        setRow(form, "workweek_0", 32, 72);  // 08:00-18:00
        setRow(form, "workweek_1", 40, 56);  // 10:00-14:00
        click(form, "cb_OK");
        const auto schedules = stored();
        QCOMPARE(schedules.size(), std::size_t(1));
        const ScheduleBlock expected{{on(1, 8, 18), on(2, 8, 18), on(3, 8, 18), on(4, 8, 18), on(5, 8, 18),
                                      on(6, 10, 14), on(0, 10, 14)},
                                     21};
        QVERIFY(schedules[0].block == expected);
    }

    void onlyTheCurrentPageIsStored()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        choosePage(form, FormSchedule::DailyPage);
        setRow(form, "daily_0", 32, 40);
        choosePage(form, FormSchedule::WorkWeekPage);
        setRow(form, "workweek_1", 40, 44);
        const ScheduleBlock expected{{on(6, 10, 11), on(0, 10, 11)}, 21};
        QVERIFY(form.block() == expected);
    }

    void aStoredScheduleIsLoadedIntoItsPage()
    {
        // Saturday 20:00-24:00 and Wednesday 06:00-07:30 (night allowed), days 1 and 2 only.
        const ScheduleBlock weekly{
            {{3 * kDay + 6 * kHour, 3 * kDay + 7 * kHour + 1800}, {6 * kDay + 20 * kHour, 7 * kDay}}, 20};
        QVERIFY(task().schedules().add(ScheduleBlock{{on(1, 8, 9)}, 22}, 0, false));
        QVERIFY(task().schedules().add(weekly, 0x80000003u, true));
        FormSchedule form(*m_store, kBinding, kTask);
        auto* list = control<QTreeWidget>(form, "lv_schedules");
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("Расписание 2"));
        QCOMPARE(list->topLevelItem(1)->text(1),
                 QStringLiteral("1,2 числа каждого м-ца: Ср:06:00-07:30; Сб:20:00-24:00; "));

        form.selectSchedule("0002");
        QCOMPARE(form.current(), std::optional<std::string>("0002"));
        QCOMPARE(control<QTabWidget>(form, "tab_schedule")->currentIndex(), int(FormSchedule::WeeklyPage));
        QVERIFY(control<QCheckBox>(form, "checkbox_night")->isChecked());
        QVERIFY(control<QCheckBox>(form, "checkbox_month")->isChecked());
        QCOMPARE(control<MonthDayGrid>(form, "pictb_days")->days(), 3u);
        QVERIFY(control<QCheckBox>(form, "checkbox_weekly_2")->isChecked());
        QCOMPARE(control<RangeSlider>(form, "slider_weekly_2")->low(), 24);
        QCOMPARE(control<RangeSlider>(form, "slider_weekly_2")->high(), 30);
        QVERIFY(control<QCheckBox>(form, "checkbox_weekly_5")->isChecked());
        QCOMPARE(control<RangeSlider>(form, "slider_weekly_5")->low(), 80);
        QCOMPARE(control<RangeSlider>(form, "slider_weekly_5")->high(), 96);
        QCOMPARE(control<QLabel>(form, "label_weekly_5")->text(), QStringLiteral("20:00 - 24:00"));
        for (int i : {0, 1, 3, 4, 6})
            QVERIFY(!control<QCheckBox>(form, QStringLiteral("checkbox_weekly_%1").arg(i))->isChecked());

        // OK writes it back over itself, unchanged, and adds nothing.
        QSignalSpy storedSpy(&form, &FormSchedule::scheduleStored);
        click(form, "cb_OK");
        QCOMPARE(storedSpy.size(), 1);
        const auto schedules = stored();
        QCOMPARE(schedules.size(), std::size_t(2));
        QVERIFY(schedules[1].block == weekly);
        QCOMPARE(schedules[1].monthMask, 0x80000003u);
        QCOMPARE(schedules[1].night, true);

        // Choosing the other one moves to its page; "Новое" clears the editor.
        form.selectSchedule("0001");
        QCOMPARE(control<QTabWidget>(form, "tab_schedule")->currentIndex(), int(FormSchedule::DailyPage));
        QVERIFY(!control<QCheckBox>(form, "checkbox_night")->isChecked());
        QCOMPARE(control<RangeSlider>(form, "slider_daily_0")->low(), 32);
        QCOMPARE(control<RangeSlider>(form, "slider_daily_0")->high(), 36);
        click(form, "cb_new");
        QVERIFY(!form.current());
        QVERIFY(!control<QCheckBox>(form, "checkbox_daily_0")->isChecked());
        QVERIFY(!control<RangeSlider>(form, "slider_daily_0")->hasSelection());
    }

    void aWorkWeekScheduleIsLoadedIntoItsTwoRows()
    {
        const ScheduleBlock block{{on(1, 8, 18), on(2, 8, 18), on(3, 8, 18), on(4, 8, 18), on(5, 8, 18),
                                   on(6, 10, 14), on(0, 10, 14)},
                                  21};
        QVERIFY(task().schedules().add(block, 0, false));
        FormSchedule form(*m_store, kBinding, kTask);
        form.selectSchedule("0001");
        QCOMPARE(control<QTabWidget>(form, "tab_schedule")->currentIndex(), int(FormSchedule::WorkWeekPage));
        QCOMPARE(control<RangeSlider>(form, "slider_workweek_0")->low(), 32);
        QCOMPARE(control<RangeSlider>(form, "slider_workweek_0")->high(), 72);
        QCOMPARE(control<RangeSlider>(form, "slider_workweek_1")->low(), 40);
        QCOMPARE(control<RangeSlider>(form, "slider_workweek_1")->high(), 56);
        QVERIFY(form.block() == block);
    }

    void aNightWindowStoredWithoutTheNightFlagIsShownWhole()
    {
        const ScheduleBlock block{{{0 * kDay + 6 * kHour, 0 * kDay + 23 * kHour}}, 20};
        QVERIFY(task().schedules().add(block, 0, false));
        FormSchedule form(*m_store, kBinding, kTask);
        form.selectSchedule("0001");
        QVERIFY(control<QCheckBox>(form, "checkbox_night")->isChecked());
        QCOMPARE(control<RangeSlider>(form, "slider_weekly_6")->low(), 24);
        QCOMPARE(control<RangeSlider>(form, "slider_weekly_6")->high(), 92);
        QVERIFY(form.block() == block);
    }

    // Windows stored to the minute or second (by peltra-task or a .reg import) come back from OK
    // exactly as they were; only an end the operator moves takes the slider's quarter hours.
    void windowsNotMovedAreWrittenBackExactly()
    {
        constexpr std::uint32_t kMinute = 60;
        const auto at = [](std::uint32_t weekday, std::uint32_t hour, std::uint32_t minute) {
            return weekday * kDay + hour * kHour + minute * kMinute;
        };
        const struct {
            ScheduleBlock block;
            const char* row;
            QString shown;
        } cases[] = {
            {peltra::config::dailyBlock({9 * kHour + 7 * kMinute, 17 * kHour + 53 * kMinute + 30}), "daily_0",
             QStringLiteral("09:07 - 17:53")},
            // Monday into the night, and Saturday past midnight into Sunday.
            {ScheduleBlock{{{at(1, 6, 5), at(1, 23, 59)}, {at(6, 20, 10), at(7, 1, 30)}}, 20}, "weekly_5",
             QStringLiteral("20:10 - 25:30")},
            {peltra::config::workWeekBlock(peltra::config::DayWindow{8 * kHour + 20 * kMinute, 18 * kHour + 10 * kMinute},
                                           peltra::config::DayWindow{10 * kHour + 1 * kMinute, 14 * kHour + 59 * kMinute}),
             "workweek_1", QStringLiteral("10:01 - 14:59")},
        };
        for (const auto& c : cases)
            QVERIFY(task().schedules().add(c.block, 0, true));
        FormSchedule form(*m_store, kBinding, kTask);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            const std::string name = "000" + std::to_string(i + 1);
            form.selectSchedule(name);
            QCOMPARE(control<QLabel>(form, QStringLiteral("label_") + cases[i].row)->text(), cases[i].shown);
            QVERIFY(form.block() == cases[i].block);
            click(form, "cb_OK");
            QVERIFY(task().schedules().get(name)->block == cases[i].block);
        }

        // Moving the start of the daily window puts that end on the grid; the end stays 17:53:30.
        form.selectSchedule("0001");
        auto* slider = control<RangeSlider>(form, "slider_daily_0");
        QTest::keyClick(slider, Qt::Key_Home);
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(control<QLabel>(form, "label_daily_0")->text(), QStringLiteral("00:15 - 17:53"));
        click(form, "cb_OK");
        QVERIFY(task().schedules().get("0001")->block ==
                peltra::config::dailyBlock({15 * kMinute, 17 * kHour + 53 * kMinute + 30}));
        // The end brought back onto the start's quarter hour gives no window ending before it starts.
        slider->setSelection(36, 36);
        QVERIFY(form.block() == peltra::config::dailyBlock({9 * kHour, 9 * kHour}));

        // More than the rows can show (two windows on Monday; a morning window stored without the
        // night flag, which ticks the night box): OK with nothing changed keeps all of it.
        const ScheduleBlock twoOnMonday{{{at(1, 7, 0), at(1, 8, 30)}, {at(1, 13, 0), at(1, 15, 0)}}, 20};
        const std::optional<std::string> name = task().schedules().add(twoOnMonday, 0, false);
        QVERIFY(name);
        FormSchedule again(*m_store, kBinding, kTask);
        again.selectSchedule(*name);
        QVERIFY(again.nightAllowed());
        click(again, "cb_OK");
        QVERIFY(task().schedules().get(*name)->block == twoOnMonday);
        QVERIFY(!task().schedules().get(*name)->night);
    }

    void theMonthFlagWithoutDaysIsRefused()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        setRow(form, "daily_0", 32, 80);
        tick(control<QCheckBox>(form, "checkbox_month"));
        QCOMPARE(form.monthMask(), 0x80000000u);
        QSignalSpy storedSpy(&form, &FormSchedule::scheduleStored);
        BoxAnswer answer(QMessageBox::Ok);
        click(form, "cb_OK");
        QCOMPARE(answer.text(), QStringLiteral("Установлен флажок \"только по определенным дням месяца\", но не "
                                               "выбраны числа месяца!"));
        QCOMPARE(answer.title(), QStringLiteral("Ошибка расписания"));
        QVERIFY(form.isVisible());
        QVERIFY(stored().empty());
        QVERIFY(storedSpy.isEmpty());
        QCOMPARE(form.focusWidget(), control<QWidget>(form, "checkbox_month"));
    }

    void theGridChoosesWithTheLeftButtonAndClearsWithTheRight()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        auto* grid = control<MonthDayGrid>(form, "pictb_days");
        QVERIFY(!grid->isEnabled());  // until the flag is set
        tick(control<QCheckBox>(form, "checkbox_month"));
        QVERIFY(grid->isEnabled());
        for (int day : {1, 10, 31, 10})
            QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, grid->dayRect(day).center());
        QCOMPARE(grid->days(), (1u << 0) | (1u << 9) | (1u << 30));
        QTest::mouseClick(grid, Qt::RightButton, Qt::NoModifier, grid->dayRect(1).center());
        QTest::mouseClick(grid, Qt::RightButton, Qt::NoModifier, grid->dayRect(2).center());  // not chosen
        QCOMPARE(grid->days(), (1u << 9) | (1u << 30));
        setRow(form, "daily_0", 32, 80);
        save(form, "FormSchedule-Daily.png");
        click(form, "cb_OK");
        const auto schedules = stored();
        QCOMPARE(schedules.size(), std::size_t(1));
        QCOMPARE(schedules[0].monthMask, 0x80000000u | (1u << 9) | (1u << 30));
        QCOMPARE(QString::fromStdString(peltra::config::scheduleText(schedules[0].block, schedules[0].monthMask)),
                 QStringLiteral("10,31 числа каждого м-ца: 08:00-20:00; "));
    }

    void removeAsksFirst()
    {
        QVERIFY(task().schedules().add(ScheduleBlock{{on(1, 8, 9)}, 22}, 0, false));
        QVERIFY(task().schedules().add(ScheduleBlock{{on(2, 8, 9)}, 20}, 0, false));
        FormSchedule form(*m_store, kBinding, kTask);
        QSignalSpy storedSpy(&form, &FormSchedule::scheduleStored);
        form.selectSchedule("0002");
        {
            BoxAnswer answer(QMessageBox::No);
            click(form, "cb_delete");
            QCOMPARE(answer.text(), QStringLiteral("Вы желаете удалить 'Расписание 2' ?"));
        }
        QCOMPARE(stored().size(), std::size_t(2));
        QVERIFY(storedSpy.isEmpty());
        {
            BoxAnswer answer(QMessageBox::Yes);
            click(form, "cb_delete");
            QCOMPARE(answer.count(), 1);
        }
        const auto schedules = stored();
        QCOMPARE(schedules.size(), std::size_t(1));
        QCOMPARE(schedules[0].name, std::string("0001"));
        QCOMPARE(storedSpy.size(), 1);
        QCOMPARE(control<QTreeWidget>(form, "lv_schedules")->topLevelItemCount(), 1);
        QVERIFY(!form.current());
        // Nothing chosen, nothing to remove: no question.
        BoxAnswer none(QMessageBox::Yes);
        click(form, "cb_delete");
        QCOMPARE(none.count(), 0);
    }

    void aFailedWriteIsReportedAndTheEditorStaysOpen()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        setRow(form, "daily_0", 32, 80);
        // The task goes away while the editor is open.
        QVERIFY(m_tasks->binding(kBinding)->operators().remove(kTask));
        QSignalSpy storedSpy(&form, &FormSchedule::scheduleStored);
        BoxAnswer answer(QMessageBox::Ok);
        click(form, "cb_OK");
        QCOMPARE(answer.text(), QStringLiteral("Ошибка записи расписания!"));
        QVERIFY(form.isVisible());
        QVERIFY(storedSpy.isEmpty());
    }

    void anOverwrittenScheduleRemovedMeanwhileIsAFailedWrite()
    {
        QVERIFY(task().schedules().add(ScheduleBlock{{on(1, 8, 9)}, 22}, 0, false));
        FormSchedule form(*m_store, kBinding, kTask);
        form.selectSchedule("0001");
        QVERIFY(task().schedules().remove("0001"));
        BoxAnswer answer(QMessageBox::Ok);
        click(form, "cb_OK");
        QCOMPARE(answer.text(), QStringLiteral("Ошибка записи расписания!"));
        QVERIFY(stored().empty());  // not brought back as a new one
    }

    void cancelStoresNothing()
    {
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(760, 700);
        form.show();
        setRow(form, "daily_0", 32, 80);
        click(form, "cb_Cancel");
        QVERIFY(!form.isVisible());
        QVERIFY(stored().empty());
    }

    void screenshotsOfThePages()
    {
        QVERIFY(task().schedules().add(ScheduleBlock{{on(1, 8, 20)}, 22}, 0, false));
        FormSchedule form(*m_store, kBinding, kTask);
        form.resize(form.sizeHint().expandedTo(QSize(760, 0)));
        form.show();
        choosePage(form, FormSchedule::WeeklyPage);
        tick(control<QCheckBox>(form, "checkbox_night"));
        setRow(form, "weekly_0", 36, 48);
        setRow(form, "weekly_2", 30, 70);
        setRow(form, "weekly_5", 80, 96);
        tick(control<QCheckBox>(form, "checkbox_weekly_6"));
        save(form, "FormSchedule.png");
        choosePage(form, FormSchedule::WorkWeekPage);
        setRow(form, "workweek_0", 32, 72);
        setRow(form, "workweek_1", 40, 56);
        save(form, "FormSchedule-WorkWeek.png");
    }
};

QTEST_MAIN(FormScheduleTest)
#include "FormScheduleTest.moc"
