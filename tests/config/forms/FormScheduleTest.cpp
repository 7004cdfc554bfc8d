// The schedule editor: the window block each page stores, the row labels, loading a stored
// schedule back, the night hours, the month-day grid and its refusal, removal and write failures;
// its two-handled slider (Shift selection, handle drags); and the range dialog (bounds
// stored swapped, unreadable entries, failed writes).
#include "config/forms/FormSchedule.h"

#include "config/Schedules.h"
#include "config/forms/FormRange.h"
#include "config/forms/RangeSlider.h"
#include "support/ConfigFormTools.h"
#include "support/ConfigTestStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <tuple>

using peltra::config::DayWindow;
using peltra::config::FormRange;
using peltra::config::FormSchedule;
using peltra::config::MonthDayGrid;
using peltra::config::RangeSlider;
using peltra::config::ScheduleBlock;
using peltra::config::ScheduleWindow;
using peltra::test::BoxAnswer;
using peltra::test::click;
using peltra::test::control;
using Ranges = QList<QPair<quint32, quint32>>;

namespace {

constexpr std::uint32_t kDay = 86400;
constexpr std::uint32_t kHour = 3600;
constexpr std::uint32_t kMinute = 60;

ScheduleWindow on(std::uint32_t weekday, std::uint32_t fromHour, std::uint32_t toHour)
{
    return {weekday * kDay + fromHour * kHour, weekday * kDay + toHour * kHour};
}

std::uint32_t at(std::uint32_t weekday, std::uint32_t hour, std::uint32_t minute)
{
    return weekday * kDay + hour * kHour + minute * kMinute;
}

void send(QWidget& widget, QEvent::Type type, int x, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons)
{
    const QPointF local(x, widget.height() / 3);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, widget.mapToGlobal(local), button, buttons, modifiers);
    QApplication::sendEvent(&widget, &event);
}

// Presses at one position, moves through to another and releases there.
void drag(RangeSlider& slider, int from, int to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    send(slider, QEvent::MouseButtonPress, slider.pixelOf(from), modifiers, Qt::LeftButton);
    const int step = from <= to ? 1 : -1;
    for (int p = from; p != to; p += step)
        send(slider, QEvent::MouseMove, slider.pixelOf(p + step), modifiers, Qt::LeftButton);
    send(slider, QEvent::MouseButtonRelease, slider.pixelOf(to), modifiers, Qt::NoButton);
}

QString bad(const char* which, unsigned taken)
{
    return QStringLiteral("Ошибка при вводе %1 значения.\r\nЧисло должно быть не менее 0 и не более "
                          "4294967295.\r\nБудет принято значение: %2")
        .arg(QString::fromUtf8(which))
        .arg(taken);
}

}  // namespace

class FormScheduleTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::ConfigTestStore> m_config;

    peltra::config::Schedules schedules() { return m_config->task().schedules(); }
    std::unique_ptr<FormSchedule> form(bool shown = true)
    {
        auto f = std::make_unique<FormSchedule>(m_config->store, m_config->kBinding, m_config->kTask);
        f->resize(760, 700);
        if (shown)
            f->show();
        return f;
    }
    template <typename T>
    static T* row(QWidget& form, const char* kind, const QString& name)
    {
        return control<T>(form, QString::fromLatin1(kind) + "_" + name);
    }

    // Clicks a checkbox on its square, which is where a stretched box still takes the click.
    static void tick(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2)); }

    // Switches a row on and selects its window with a Shift drag, as a user does.
    static void setRow(QWidget& form, const QString& name, int from, int to)
    {
        QCheckBox* box = row<QCheckBox>(form, "checkbox", name);
        if (!box->isChecked())
            tick(box);
        RangeSlider* slider = row<RangeSlider>(form, "slider", name);
        const int y = slider->height() / 3;
        QTest::mousePress(slider, Qt::LeftButton, Qt::ShiftModifier, QPoint(slider->pixelOf(from), y));
        QMouseEvent move(QEvent::MouseMove, QPointF(slider->pixelOf(to), y), slider->mapToGlobal(QPointF(0, 0)),
                         Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(slider, &move);
        QTest::mouseRelease(slider, Qt::LeftButton, Qt::ShiftModifier, QPoint(slider->pixelOf(to), y));
        QCOMPARE(slider->low(), std::min(from, to));
        QCOMPARE(slider->high(), std::max(from, to));
    }
    static QPair<int, int> slider(QWidget& form, const char* name)
    {
        auto* s = row<RangeSlider>(form, "slider", name);
        return {s->low(), s->high()};
    }
    static int page(QWidget& form) { return control<QTabWidget>(form, "tab_schedule")->currentIndex(); }

    // A quarter-hour day slider as the schedule editor uses it.
    static void setUpDay(RangeSlider& slider)
    {
        slider.setRange(32, 88);
        slider.setPageStep(4);
        slider.setTickInterval(4);
        slider.resize(500, slider.sizeHint().height());
        slider.show();
    }

    static QPair<int, int> range(const RangeSlider& slider) { return {slider.low(), slider.high()}; }

    std::unique_ptr<FormRange> rangeForm(std::optional<std::string> range = std::nullopt)
    {
        auto f = std::make_unique<FormRange>(m_config->store, m_config->kBinding, m_config->kTask, range);
        f->show();
        return f;
    }

    // Fills both boxes as typed; letters beyond Latin-1 are put in as an input method would.
    static void type(QWidget& form, const QString& minimum, const QString& maximum)
    {
        const std::pair<const char*, QString> boxes[] = {{"textb_min", minimum}, {"textb_max", maximum}};
        for (const auto& [box, text] : boxes) {
            auto* edit = control<QLineEdit>(form, box);
            edit->clear();
            edit->insert(text);
        }
    }

    Ranges storedRanges()
    {
        Ranges ranges;
        for (const auto& range : m_config->task().ranges())
            ranges.append({range.minValue, range.maxValue});
        return ranges;
    }

private slots:
    void init()
    {
        m_config = std::make_unique<peltra::test::ConfigTestStore>();
        QVERIFY(m_config->addTask());
        QVERIFY(m_config->task().setRangeField("SUMMA", "N") == peltra::config::Change::Changed);
    }

    void cleanup() { m_config.reset(); }

    void theRowLabelsFollowTheCheckboxAndTheSlider()
    {
        auto f = form();
        auto* box = control<QCheckBox>(*f, "checkbox_daily_0");
        auto* window = control<QLabel>(*f, "label_daily_0");
        QCOMPARE(box->text(), QStringLiteral("Каждый день\r\n<отключен>"));
        QCOMPARE(window->text(), QStringLiteral("<не выбран>"));
        QVERIFY(!control<RangeSlider>(*f, "slider_daily_0")->isEnabled());
        tick(box);
        QCOMPARE(box->text(), QStringLiteral("Каждый день\r\n<не выбран>"));
        setRow(*f, "daily_0", 33, 57);  // 08:15 - 14:15
        QCOMPARE(box->text(), QStringLiteral("Каждый день\r\n08:15-14:15"));
        QCOMPARE(window->text(), QStringLiteral("08:15 - 14:15"));
        tick(box);
        QCOMPARE(box->text(), QStringLiteral("Каждый день\r\n<отключен>"));
        QCOMPARE(window->text(), QStringLiteral("08:15 - 14:15"));  // kept for switching on again
    }

    void theNightFlagWidensEverySlider()
    {
        auto f = form(false);
        const char* const rows[] = {"daily_0", "weekly_0", "weekly_6", "workweek_0", "workweek_1"};
        for (const char* name : rows) {
            auto* s = row<RangeSlider>(*f, "slider", name);
            QCOMPARE(qMakePair(s->minimum(), s->maximum()), qMakePair(32, 88));
        }
        tick(control<QCheckBox>(*f, "checkbox_night"));
        for (const char* name : rows) {
            auto* s = row<RangeSlider>(*f, "slider", name);
            QCOMPARE(qMakePair(s->minimum(), s->maximum()), qMakePair(0, 96));
        }
        // Narrowing again cuts a window to the day's hours.
        control<RangeSlider>(*f, "slider_daily_0")->setSelection(20, 92);
        tick(control<QCheckBox>(*f, "checkbox_night"));
        QCOMPARE(slider(*f, "daily_0"), qMakePair(32, 88));
    }

    void eachPageStoresItsWindowsMondayToSunday()
    {
        const std::tuple<int, std::vector<std::tuple<const char*, int, int>>, ScheduleBlock, bool> cases[] = {
            {FormSchedule::DailyPage, {{"daily_0", 32, 80}},
             {{on(1, 8, 20), on(2, 8, 20), on(3, 8, 20), on(4, 8, 20), on(5, 8, 20), on(6, 8, 20), on(0, 8, 20)}, 22},
             false},
            // Monday and Saturday with windows; Tuesday on without one; Wednesday's window switched off.
            {FormSchedule::WeeklyPage, {{"weekly_0", 36, 48}, {"weekly_5", 80, 96}, {"weekly_1", -1, -1},
                                        {"weekly_2", 40, 44}, {"weekly_2", -1, -1}},
             {{on(1, 9, 12), {6 * kDay + 20 * kHour, 7 * kDay}}, 20}, true},
            // The daily row set first is not stored: only the current page is.
            {FormSchedule::WorkWeekPage, {{"daily_0", 32, 40}, {"workweek_0", 32, 72}, {"workweek_1", 40, 56}},
             {{on(1, 8, 18), on(2, 8, 18), on(3, 8, 18), on(4, 8, 18), on(5, 8, 18), on(6, 10, 14), on(0, 10, 14)}, 21},
             false},
        };
        for (const auto& [pageIndex, rows, expected, night] : cases) {
            QVERIFY(m_config->store.deleteKey(m_config->task().key() + "\\Расписания"));
            auto f = form();
            QSignalSpy storedSpy(f.get(), &FormSchedule::scheduleStored);
            if (night)
                tick(control<QCheckBox>(*f, "checkbox_night"));
            for (const auto& [name, from, to] : rows) {
                // A row is set on its own page, as only the shown page takes the mouse.
                const QString rowName = QString::fromLatin1(name);
                control<QTabWidget>(*f, "tab_schedule")
                    ->setCurrentIndex(rowName.startsWith("daily") ? 0 : rowName.startsWith("weekly") ? 1 : 2);
                if (from < 0)
                    tick(row<QCheckBox>(*f, "checkbox", name));
                else
                    setRow(*f, name, from, to);
            }
            control<QTabWidget>(*f, "tab_schedule")->setCurrentIndex(pageIndex);
            click(*f, "cb_OK");
            QVERIFY(!f->isVisible());
            QCOMPARE(storedSpy.size(), 1);
            const auto all = schedules().all();
            QCOMPARE(all.size(), std::size_t(1));
            QCOMPARE(all[0].name, std::string("0001"));
            QVERIFY(all[0].block == expected);
            QCOMPARE(all[0].night, night);
        }
    }

    void aStoredScheduleIsLoadedIntoItsPage()
    {
        // Saturday 20:00-24:00 and Wednesday 06:00-07:30 (night allowed), days 1 and 2 only.
        const ScheduleBlock weekly{{{at(3, 6, 0), at(3, 7, 30)}, {at(6, 20, 0), 7 * kDay}}, 20};
        QVERIFY(schedules().add(ScheduleBlock{{on(1, 8, 9)}, 22}, 0, false));
        QVERIFY(schedules().add(weekly, 0x80000003u, true));
        QVERIFY(schedules().add(peltra::config::workWeekBlock(std::nullopt, DayWindow{10 * kHour, 14 * kHour}), 0,
                                false));
        auto f = form(false);
        auto* list = control<QTreeWidget>(*f, "lv_schedules");
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("Расписание 2"));
        QCOMPARE(list->topLevelItem(1)->text(1),
                 QStringLiteral("1,2 числа каждого м-ца: Ср:06:00-07:30; Сб:20:00-24:00; "));

        f->selectSchedule("0002");
        QCOMPARE(f->current(), std::optional<std::string>("0002"));
        QCOMPARE(page(*f), int(FormSchedule::WeeklyPage));
        QVERIFY(control<QCheckBox>(*f, "checkbox_night")->isChecked());
        QVERIFY(control<QCheckBox>(*f, "checkbox_month")->isChecked());
        QCOMPARE(control<MonthDayGrid>(*f, "pictb_days")->days(), 3u);
        QCOMPARE(slider(*f, "weekly_2"), qMakePair(24, 30));
        QCOMPARE(slider(*f, "weekly_5"), qMakePair(80, 96));
        QCOMPARE(control<QLabel>(*f, "label_weekly_5")->text(), QStringLiteral("20:00 - 24:00"));

        // OK writes it back over itself, unchanged, and adds nothing.
        QSignalSpy storedSpy(f.get(), &FormSchedule::scheduleStored);
        click(*f, "cb_OK");
        QCOMPARE(storedSpy.size(), 1);
        QCOMPARE(schedules().all().size(), std::size_t(3));
        const auto second = schedules().get("0002");
        QVERIFY(second->block == weekly);
        QCOMPARE(second->monthMask, 0x80000003u);
        QCOMPARE(second->night, true);

        // A work week of the weekend alone: Saturday and Sunday both go to the second row.
        f->selectSchedule("0003");
        QCOMPARE(page(*f), int(FormSchedule::WorkWeekPage));
        QVERIFY(!control<QCheckBox>(*f, "checkbox_workweek_0")->isChecked());
        QCOMPARE(slider(*f, "workweek_1"), qMakePair(40, 56));
        QVERIFY(f->block() == schedules().get("0003")->block);

        // Choosing another moves to its page; "Новое" clears the editor.
        f->selectSchedule("0001");
        QCOMPARE(page(*f), int(FormSchedule::DailyPage));
        QVERIFY(!control<QCheckBox>(*f, "checkbox_night")->isChecked());
        QCOMPARE(slider(*f, "daily_0"), qMakePair(32, 36));
        click(*f, "cb_new");
        QVERIFY(!f->current());
        QVERIFY(!control<QCheckBox>(*f, "checkbox_daily_0")->isChecked());
        QVERIFY(!control<RangeSlider>(*f, "slider_daily_0")->hasSelection());
    }

    // Windows stored to the minute or second (by peltra-task or a .reg import) come back from OK
    // exactly as they were; only an end the operator moves takes the slider's quarter hours.
    void windowsNotMovedAreWrittenBackExactly()
    {
        const std::tuple<ScheduleBlock, const char*, QString> cases[] = {
            {peltra::config::dailyBlock({9 * kHour + 7 * kMinute, 17 * kHour + 53 * kMinute + 30}), "daily_0",
             QStringLiteral("09:07 - 17:53")},
            // Monday into the night, and Saturday past midnight into Sunday.
            {ScheduleBlock{{{at(1, 6, 5), at(1, 23, 59)}, {at(6, 20, 10), at(7, 1, 30)}}, 20}, "weekly_5",
             QStringLiteral("20:10 - 25:30")},
            {peltra::config::workWeekBlock(DayWindow{8 * kHour + 20 * kMinute, 18 * kHour + 10 * kMinute},
                                           DayWindow{10 * kHour + 1 * kMinute, 14 * kHour + 59 * kMinute}),
             "workweek_1", QStringLiteral("10:01 - 14:59")},
        };
        for (const auto& [block, name, shown] : cases)
            QVERIFY(schedules().add(block, 0, true));
        auto f = form(false);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            const auto& [block, name, shown] = cases[i];
            const std::string key = "000" + std::to_string(i + 1);
            f->selectSchedule(key);
            QCOMPARE(row<QLabel>(*f, "label", name)->text(), shown);
            QVERIFY(f->block() == block);
            click(*f, "cb_OK");
            QVERIFY(schedules().get(key)->block == block);
        }

        // Moving the start of the daily window puts that end on the grid; the end stays 17:53:30.
        f->selectSchedule("0001");
        auto* daily = control<RangeSlider>(*f, "slider_daily_0");
        QTest::keyClick(daily, Qt::Key_Home);
        QTest::keyClick(daily, Qt::Key_Right);
        QCOMPARE(control<QLabel>(*f, "label_daily_0")->text(), QStringLiteral("00:15 - 17:53"));
        click(*f, "cb_OK");
        QVERIFY(schedules().get("0001")->block == peltra::config::dailyBlock({15 * kMinute, 17 * kHour + 53 * kMinute + 30}));
        // The end brought back onto the start's quarter hour gives no window ending before it starts.
        daily->setSelection(36, 36);
        QVERIFY(f->block() == peltra::config::dailyBlock({9 * kHour, 9 * kHour}));

        // More than the rows can show (two windows on Monday; a morning window stored without the
        // night flag, which ticks the night box): OK with nothing changed keeps all of it, and a
        // changed month mask alone is stored with it.
        const ScheduleBlock twoOnMonday{{{at(1, 7, 0), at(1, 8, 30)}, {at(1, 13, 0), at(1, 15, 0)}}, 20};
        const std::optional<std::string> name = schedules().add(twoOnMonday, 0, false);
        QVERIFY(name);
        auto again = form();
        again->selectSchedule(*name);
        QVERIFY(again->nightAllowed());
        click(*again, "cb_OK");
        QVERIFY(schedules().get(*name)->block == twoOnMonday);
        QVERIFY(!schedules().get(*name)->night);
        again->selectSchedule(*name);
        tick(control<QCheckBox>(*again, "checkbox_month"));
        QTest::mouseClick(control<MonthDayGrid>(*again, "pictb_days"), Qt::LeftButton, Qt::NoModifier,
                          control<MonthDayGrid>(*again, "pictb_days")->dayRect(5).center());
        click(*again, "cb_OK");
        QCOMPARE(schedules().get(*name)->monthMask, 0x80000010u);
    }

    void theMonthFlagWithoutDaysIsRefusedAndTheGridChoosesDays()
    {
        auto f = form();
        setRow(*f, "daily_0", 32, 80);
        auto* grid = control<MonthDayGrid>(*f, "pictb_days");
        QVERIFY(!grid->isEnabled());  // until the flag is set
        tick(control<QCheckBox>(*f, "checkbox_month"));
        QCOMPARE(f->monthMask(), 0x80000000u);
        QSignalSpy storedSpy(f.get(), &FormSchedule::scheduleStored);
        {
            BoxAnswer answer(QMessageBox::Ok);
            click(*f, "cb_OK");
            QCOMPARE(answer.text, QStringLiteral("Установлен флажок \"только по определенным дням месяца\", но не "
                                                 "выбраны числа месяца!"));
            QCOMPARE(answer.title, QStringLiteral("Ошибка расписания"));
        }
        QVERIFY(f->isVisible());
        QVERIFY(schedules().all().empty());
        QVERIFY(storedSpy.isEmpty());
        QCOMPARE(f->focusWidget(), control<QWidget>(*f, "checkbox_month"));

        // Days are chosen with the left button and cleared with the right.
        QVERIFY(grid->isEnabled());
        QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));  // the top left cell is the 1st
        for (int day : {10, 31, 10})
            QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, grid->dayRect(day).center());
        QCOMPARE(grid->days(), (1u << 0) | (1u << 9) | (1u << 30));
        QTest::mouseClick(grid, Qt::RightButton, Qt::NoModifier, grid->dayRect(1).center());
        QTest::mouseClick(grid, Qt::RightButton, Qt::NoModifier, grid->dayRect(2).center());  // not chosen
        QCOMPARE(grid->days(), (1u << 9) | (1u << 30));
        click(*f, "cb_OK");
        QCOMPARE(schedules().all().at(0).monthMask, 0x80000000u | (1u << 9) | (1u << 30));
        QCOMPARE(control<QTreeWidget>(*f, "lv_schedules")->topLevelItem(0)->text(1),
                 QStringLiteral("10,31 числа каждого м-ца: 08:00-20:00; "));
    }

    void removeAsksFirst()
    {
        QVERIFY(schedules().add(ScheduleBlock{{on(1, 8, 9)}, 22}, 0, false));
        QVERIFY(schedules().add(ScheduleBlock{{on(2, 8, 9)}, 20}, 0, false));
        auto f = form(false);
        QSignalSpy storedSpy(f.get(), &FormSchedule::scheduleStored);
        // No, then Yes; then nothing is chosen, so nothing is asked.
        for (const auto& [answer, asked, left] : {std::tuple(QMessageBox::No, 1, 2), std::tuple(QMessageBox::Yes, 1, 1),
                                                  std::tuple(QMessageBox::Yes, 0, 1)}) {
            if (asked)
                f->selectSchedule("0002");
            BoxAnswer box(answer);
            click(*f, "cb_delete");
            QCOMPARE(box.count, asked);
            QCOMPARE(box.text, asked ? QStringLiteral("Вы желаете удалить 'Расписание 2' ?") : QString());
            QCOMPARE(int(schedules().all().size()), left);
            QCOMPARE(storedSpy.size(), 2 - left);
        }
        QCOMPARE(schedules().names(), std::vector<std::string>({"0001"}));
        QCOMPARE(control<QTreeWidget>(*f, "lv_schedules")->topLevelItemCount(), 1);
        QVERIFY(!f->current());
    }

    void aFailedScheduleWriteIsReported()
    {
        QVERIFY(schedules().add(ScheduleBlock{{on(1, 8, 9)}, 22}, 0, false));
        // A schedule removed meanwhile is not brought back as a new one; a new schedule of a task
        // removed meanwhile is not written either.
        auto existing = form();
        existing->selectSchedule("0001");
        QVERIFY(schedules().remove("0001"));
        auto fresh = form();
        setRow(*fresh, "daily_0", 32, 80);
        QVERIFY(m_config->tasks.binding(m_config->kBinding)->operators().remove(m_config->kTask));
        for (FormSchedule* editor : {existing.get(), fresh.get()}) {
            QSignalSpy storedSpy(editor, &FormSchedule::scheduleStored);
            BoxAnswer answer(QMessageBox::Ok);
            click(*editor, "cb_OK");
            QCOMPARE(answer.text, QStringLiteral("Ошибка записи расписания!"));
            QVERIFY(editor->isVisible());
            QVERIFY(storedSpy.isEmpty());
        }
        QVERIFY(!m_config->tasks.task(m_config->kBinding, m_config->kTask));
    }

    void shiftDragSelectsFromThePressPoint()
    {
        // from, to, low, high: rightwards, leftwards (ends swapped), past the right end, one step.
        const int cases[][4] = {{36, 48, 36, 48}, {80, 40, 40, 80}, {84, 200, 84, 88}, {50, 51, 50, 51}};
        for (const auto& [from, to, low, high] : cases) {
            RangeSlider slider;
            setUpDay(slider);
            slider.setSelection(60, 70);  // a previous selection is replaced, not extended
            QSignalSpy changed(&slider, &RangeSlider::rangeChanged);
            const int x = to > 88 ? slider.width() + 20 : slider.pixelOf(to);
            send(slider, QEvent::MouseButtonPress, slider.pixelOf(from), Qt::ShiftModifier, Qt::LeftButton);
            send(slider, QEvent::MouseMove, x, Qt::ShiftModifier, Qt::LeftButton);
            send(slider, QEvent::MouseButtonRelease, x, Qt::ShiftModifier, Qt::NoButton);
            QVERIFY(slider.hasSelection());
            QCOMPARE(range(slider), qMakePair(low, high));
            QVERIFY(!changed.isEmpty());
            QCOMPARE(changed.back(), (QVariantList{low, high}));
        }
    }

    void aPlainDragMovesTheHandleUpToTheOther()
    {
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(60, 40);  // given the wrong way round
        QCOMPARE(range(slider), qMakePair(40, 60));
        drag(slider, 60, 72);  // the high handle
        QCOMPARE(range(slider), qMakePair(40, 72));
        QVERIFY(slider.focusedHandle() == RangeSlider::Handle::High);
        drag(slider, 40, 36);  // the low handle
        QCOMPARE(range(slider), qMakePair(36, 72));
        QVERIFY(slider.focusedHandle() == RangeSlider::Handle::Low);
        // The low handle stops at the high one.
        send(slider, QEvent::MouseButtonPress, slider.pixelOf(36), Qt::NoModifier, Qt::LeftButton);
        send(slider, QEvent::MouseMove, slider.pixelOf(80), Qt::NoModifier, Qt::LeftButton);
        send(slider, QEvent::MouseButtonRelease, slider.pixelOf(80), Qt::NoModifier, Qt::NoButton);
        QCOMPARE(range(slider), qMakePair(72, 72));
        QVERIFY(slider.hasSelection());  // a handle drag never clears the range
    }

    void readingABound()
    {
        // text, is the maximum, readable, value taken.
        const std::tuple<const char*, bool, bool, quint32> cases[] = {
            {"  42 ", true, true, 42u},                          {"0000000000007", false, true, 7u},
            {"+7", false, true, 7u},                             {"4294967295", true, true, 4294967295u},
            {"4294967296", false, false, 4294967295u},           {"99999999999999999999", false, false, 4294967295u},
            {"-5", true, false, 0u},                             {"-0", false, true, 0u},
            {"", false, false, 0u},                              {"", true, false, 4294967295u},
            {"1.5", false, false, 0u},                           {"12ab", true, false, 4294967295u},
        };
        for (const auto& [text, isMaximum, readable, value] : cases) {
            const FormRange::Reading reading = FormRange::readBound(QString::fromUtf8(text), isMaximum);
            QCOMPARE(qMakePair(reading.readable, reading.value), qMakePair(readable, value));
        }
    }

    void aNewRangeIsStoredSwappedAndAnExistingOneChanged()
    {
        BoxAnswer none(QMessageBox::Ok);
        QVERIFY(m_config->task().setValid(true));
        auto f = rangeForm();
        QCOMPARE(f->windowTitle(), QStringLiteral("Новый диапазон"));
        type(*f, "500", "100");
        click(*f, "cb_OK");
        QCOMPARE(f->result(), int(QDialog::Accepted));
        QCOMPARE(f->range(), std::optional<std::string>("0001"));
        QCOMPARE(storedRanges(), (Ranges{{100u, 500u}}));
        QVERIFY(f->withdrawn());
        QVERIFY(!m_config->task().valid());

        QVERIFY(m_config->task().addRange(4000000000u, 4294967295u));
        QVERIFY(m_config->task().setValid(true));
        auto existing = rangeForm(std::string("0002"));
        QCOMPARE(existing->windowTitle(), QStringLiteral("Диапазон"));
        auto* list = control<QListWidget>(*existing, "lv_ranges");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Диапазон 1:  100 <= SUMMA <= 500"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("Диапазон 2:  4000000000 <= SUMMA <= 4294967295"));
        // Unchanged bounds write nothing and keep the task included.
        click(*existing, "cb_OK");
        QCOMPARE(existing->result(), int(QDialog::Accepted));
        QVERIFY(!existing->withdrawn());
        QVERIFY(m_config->task().valid());

        auto again = rangeForm(std::string("0002"));
        QCOMPARE(control<QLineEdit>(*again, "textb_min")->text(), QStringLiteral("4000000000"));
        type(*again, "4000000000", "4000000700");
        click(*again, "cb_OK");
        QCOMPARE(storedRanges(), (Ranges{{100u, 500u}, {4000000000u, 4000000700u}}));
        QVERIFY(again->withdrawn());
        QCOMPARE(none.count, 0);
    }

    void anUnreadableMinimumAsksAndCancelReturnsToTheField()
    {
        auto f = rangeForm();
        type(*f, "", "50");
        control<QLineEdit>(*f, "textb_max")->setFocus();
        {
            BoxAnswer answer(QMessageBox::Cancel);
            click(*f, "cb_OK");
            QCOMPARE(answer.text, bad("минимального", 0));
        }
        QVERIFY(f->isVisible());
        QCOMPARE(f->focusWidget(), control<QWidget>(*f, "textb_min"));
        QVERIFY(storedRanges().isEmpty());
        // OK takes the stated value.
        BoxAnswer answer(QMessageBox::Ok);
        click(*f, "cb_OK");
        QCOMPARE(answer.count, 1);
        QCOMPARE(f->result(), int(QDialog::Accepted));
        QCOMPARE(control<QLineEdit>(*f, "textb_min")->text(), QStringLiteral("0"));
        QCOMPARE(storedRanges(), (Ranges{{0u, 50u}}));
    }

    void unreadableMaximaTakeTheStatedValue()
    {
        const Ranges top{{10u, 4294967295u}};
        // Empty (open upwards), letters, too large, negative (0, then swapped), cancelled.
        const std::tuple<QString, bool, quint32, Ranges> cases[] = {
            {"", true, 4294967295u, top},         {"много", true, 4294967295u, top},
            {"5000000000", true, 4294967295u, top}, {"-1", true, 0u, Ranges{{0u, 10u}}},
            {"x", false, 4294967295u, Ranges{}},
        };
        for (const auto& [maximum, accept, taken, stored] : cases) {
            init();
            auto f = rangeForm();
            type(*f, "10", maximum);
            BoxAnswer answer(accept ? QMessageBox::Ok : QMessageBox::Cancel);
            click(*f, "cb_OK");
            QCOMPARE(answer.count, 1);
            QCOMPARE(answer.text, bad("максимального", taken));
            QCOMPARE(storedRanges(), stored);
            if (!accept) {
                QCOMPARE(f->focusWidget(), control<QWidget>(*f, "textb_max"));
                QCOMPARE(control<QLineEdit>(*f, "textb_max")->selectedText(), maximum);
            }
        }
    }

    void aFailedWriteIsReported()
    {
        for (const bool existing : {false, true}) {
            if (existing)
                QVERIFY(m_config->addTask());
            QVERIFY(m_config->task().addRange(1, 2));
            auto f = rangeForm(existing ? std::optional<std::string>("0001") : std::nullopt);
            type(*f, "5", "6");
            // The range, or the whole task, is removed meanwhile.
            if (existing)
                QVERIFY(m_config->task().removeRange("0001"));
            else
                QVERIFY(m_config->tasks.removeBinding(m_config->kBinding));
            BoxAnswer answer(QMessageBox::Ok);
            click(*f, "cb_OK");
            QCOMPARE(answer.text, QStringLiteral("Ошибка записи диапазона!"));
            QVERIFY(f->isVisible());
            QVERIFY(storedRanges().isEmpty());  // not brought back
        }
    }
};

QTEST_MAIN(FormScheduleTest)
#include "FormScheduleTest.moc"
