// The schedule editor ("Установка расписания") of one task: its schedules, and the weekly time
// windows of one of them set on sliders of 15-minute steps.
#pragma once

#include "config/ConfigStore.h"
#include "config/Operator.h"
#include "config/Schedules.h"

#include <QDialog>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QTabWidget;
class QTreeWidget;

namespace peltra::config {

class RangeSlider;

// The days 1..31 of a month in a grid: a left click chooses a day, a right click clears it.
class MonthDayGrid : public QWidget {
    Q_OBJECT

public:
    explicit MonthDayGrid(QWidget* parent = nullptr);

    // Bit k set = day k+1 chosen (bits 0..30 only).
    std::uint32_t days() const { return m_days; }
    void setDays(std::uint32_t days);
    // Where a day's cell lies, in this widget.
    QRect dayRect(int day) const;

    QSize sizeHint() const override;

signals:
    void daysChanged(std::uint32_t days);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int dayAt(QPoint point) const;
    QSize cellSize() const;

    std::uint32_t m_days = 0;
};

// One row of a page: the checkbox that switches a day (or group of days) on, with its name and
// window in its label, the slider of its window and the window shown on its own.
struct ScheduleRow {
    QString dayName;
    QCheckBox* enabled = nullptr;
    RangeSlider* slider = nullptr;
    QLabel* window = nullptr;
    // The window as loaded, to the second, and the slider positions it was shown at: an end whose
    // handle still stands there keeps its loaded time rather than the slider's quarter hour.
    std::optional<DayWindow> loaded;
    int loadedLow = 0;
    int loadedHigh = 0;
};

// The editor of one task's schedules. The list shows every schedule ("Расписание %d" with its
// text); choosing one loads it into the page of its kind, "Новое" starts a new one, "Удалить"
// removes the chosen one. OK stores the current page's windows as a new schedule or over the
// chosen one and closes; "Отмена" closes without storing. Modeless: the caller shows it. User
// interface thread only.
class FormSchedule : public QDialog {
    Q_OBJECT

public:
    enum Page { DailyPage = 0, WeeklyPage = 1, WorkWeekPage = 2 };

    FormSchedule(ConfigStore& store, std::string binding, std::string task, QWidget* parent = nullptr);

    // The schedule being edited, or nothing for a new one.
    const std::optional<std::string>& current() const { return m_current; }
    // Chooses a schedule of the list ("0002") and loads it, as a click on it does.
    void selectSchedule(const std::string& name);

    // The block, month mask and night flag that OK would store now.
    ScheduleBlock block() const;
    std::uint32_t monthMask() const;
    bool nightAllowed() const;

    // Slider positions are quarter hours after midnight; these are the limits with and without
    // night hours (00:00-24:00 and 08:00-22:00).
    static constexpr int kDayFirst = 0;
    static constexpr int kDayLast = 96;
    static constexpr int kWorkFirst = 32;
    static constexpr int kWorkLast = 88;
    static constexpr int kSecondsPerStep = 900;

    static const char* const kCaption;
    static const char* const kNoDaysChosen;
    static const char* const kNoDaysTitle;
    static const char* const kWriteFailed;
    static const char* const kShiftHint;

signals:
    // A schedule was added, written or removed. withdrawn: the task was admitted to scheduling
    // before the change and is not any more.
    void scheduleStored(bool withdrawn);

public slots:
    void accept() override;
    // Clears the editor for a new schedule; OK then adds one.
    void newSchedule();
    // Asks, then removes the chosen schedule.
    void removeSchedule();

private:
    QWidget* buildPage(std::vector<ScheduleRow>& rows, const QString& pageName, const std::vector<QString>& names);
    void fillList(const std::optional<std::string>& select);
    void loadSelected();
    void load(const ScheduleData& schedule);
    void clearRows();
    void applyNight();
    void showRow(const ScheduleRow& row);
    std::optional<DayWindow> windowOf(const ScheduleRow& row) const;
    bool store();
    void showMessage(const QString& text, const QString& title);

    // A schedule as stored and as the editor showed it on loading. The rows hold one window a day
    // (one for all work days) and tick the night box for a window outside the day's hours, so OK
    // with nothing changed writes the stored schedule back as it was, rather than what the rows
    // could show of it.
    struct Loaded {
        ScheduleData stored;
        ScheduleBlock shownBlock;
        std::uint32_t shownMonthMask = 0;
        bool shownNight = false;
    };

    Operator m_task;
    std::optional<std::string> m_current;
    std::optional<Loaded> m_loaded;
    bool m_loading = false;

    QLabel* m_taskLabel;
    QLabel* m_pathLabel;
    QTreeWidget* m_list;
    QTabWidget* m_pages;
    std::vector<ScheduleRow> m_daily;
    std::vector<ScheduleRow> m_weekly;  // Monday ... Sunday
    std::vector<ScheduleRow> m_workWeek;  // work days, weekend
    QCheckBox* m_night;
    QCheckBox* m_onlyChosenDays;
    MonthDayGrid* m_days;
};

}  // namespace peltra::config
