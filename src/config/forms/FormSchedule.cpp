// The schedule editor ("Установка расписания") of one task.
#include "config/forms/FormSchedule.h"

#include "config/TaskStore.h"
#include "config/forms/RangeSlider.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace peltra::config {

const char* const FormSchedule::kCaption = "Установка расписания";
const char* const FormSchedule::kNoDaysChosen =
    "Установлен флажок \"только по определенным дням месяца\", но не выбраны числа месяца!";
const char* const FormSchedule::kNoDaysTitle = "Ошибка расписания";
const char* const FormSchedule::kWriteFailed = "Ошибка записи расписания!";
const char* const FormSchedule::kShiftHint =
    "Для изменения диапазона перемещайте ползунок, удерживая клавишу <Shift> ";

namespace {

constexpr int kDaysInGrid = 31;
constexpr int kGridColumns = 7;
constexpr std::uint32_t kDayBits = 0x7FFFFFFFu;
constexpr int kStepsPerDay = FormSchedule::kDayLast;

// Weekday of each row of the weekly page, as the week counts them (0 = Sunday).
constexpr std::array<int, 7> kWeeklyRowDays = {1, 2, 3, 4, 5, 6, kSunday};

QString format4(const char* pattern, int a, int b, int c, int d)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, a, b, c, d);
    return QString::fromUtf8(buffer);
}

int hourOf(int position) { return position / 4; }

QString windowText(const char* pattern, const DayWindow& window)
{
    const auto hours = [](std::uint32_t seconds) { return static_cast<int>(seconds / 3600); };
    const auto minutes = [](std::uint32_t seconds) { return static_cast<int>(seconds % 3600 / 60); };
    return format4(pattern, hours(window.from), minutes(window.from), hours(window.to), minutes(window.to));
}

// A stored window as times of its start day: the end counts on past 24:00 when it lies on a later
// day.
DayWindow dayWindowOf(const ScheduleWindow& window)
{
    const std::uint32_t startDay = window.start / kSecondsPerDay;
    const std::uint32_t endDay = window.end / kSecondsPerDay;
    const std::uint32_t days = endDay >= startDay ? endDay - startDay : 0;
    return {window.start % kSecondsPerDay, window.end % kSecondsPerDay + kSecondsPerDay * days};
}

// The slider positions that show a window: its ends floored to the quarter hour, the end held at
// 24:00.
std::pair<int, int> positionsOf(const DayWindow& window)
{
    const auto step = [](std::uint32_t seconds) {
        return static_cast<int>(std::min<std::uint32_t>(seconds / FormSchedule::kSecondsPerStep, kStepsPerDay));
    };
    return {step(window.from), step(window.to)};
}

// The window a row holds now: the slider's quarter hours, except for an end not moved since it was
// loaded, which keeps its loaded time.
DayWindow windowShown(const ScheduleRow& row)
{
    const RangeSlider& slider = *row.slider;
    DayWindow window{static_cast<std::uint32_t>(slider.low() * FormSchedule::kSecondsPerStep),
                     static_cast<std::uint32_t>(slider.high() * FormSchedule::kSecondsPerStep)};
    if (!row.loaded)
        return window;
    const DayWindow grid = window;
    if (slider.low() == row.loadedLow)
        window.from = row.loaded->from;
    if (slider.high() == row.loadedHigh)
        window.to = row.loaded->to;
    // The end handle moved back onto the start's quarter hour: the start takes the grid as well.
    if (window.to < window.from)
        window.from = grid.from;
    return window;
}

// "Расписание 2" for the key "0002"; a key that is no number (brought in from elsewhere) is shown
// by its name.
QString scheduleTitle(const std::string& name)
{
    bool isNumber = false;
    const unsigned number = QString::fromStdString(name).toUInt(&isNumber);
    return isNumber ? QStringLiteral("Расписание %1").arg(number) : QString::fromStdString(name);
}

}  // namespace

// --- the month-day grid -------------------------------------------------------------------------

MonthDayGrid::MonthDayGrid(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setToolTip(QStringLiteral("Выбор - левая кнопка, отмена - правая"));
}

void MonthDayGrid::setDays(std::uint32_t days)
{
    days &= kDayBits;
    if (days == m_days)
        return;
    m_days = days;
    update();
    emit daysChanged(m_days);
}

QSize MonthDayGrid::cellSize() const
{
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(QStringLiteral("00")) + 14, metrics.height() + 8};
}

QSize MonthDayGrid::sizeHint() const
{
    const QSize cell = cellSize();
    const int rows = (kDaysInGrid + kGridColumns - 1) / kGridColumns;
    return {cell.width() * kGridColumns + 1, cell.height() * rows + 1};
}

QRect MonthDayGrid::dayRect(int day) const
{
    const QSize cell = cellSize();
    const int index = day - 1;
    return {(index % kGridColumns) * cell.width(), (index / kGridColumns) * cell.height(), cell.width(),
            cell.height()};
}

int MonthDayGrid::dayAt(QPoint point) const
{
    for (int day = 1; day <= kDaysInGrid; ++day)
        if (dayRect(day).contains(point))
            return day;
    return 0;
}

void MonthDayGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QColor line = palette().color(group, QPalette::Mid);
    for (int day = 1; day <= kDaysInGrid; ++day) {
        const QRect cell = dayRect(day);
        const bool chosen = m_days & (1u << (day - 1));
        painter.fillRect(cell, palette().color(group, chosen ? QPalette::Highlight : QPalette::Base));
        painter.setPen(line);
        painter.drawRect(cell);
        painter.setPen(palette().color(group, chosen ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(cell, Qt::AlignCenter, QString::number(day));
    }
}

void MonthDayGrid::mousePressEvent(QMouseEvent* event)
{
    const int day = dayAt(event->position().toPoint());
    if (day == 0) {
        event->ignore();
        return;
    }
    const std::uint32_t bit = 1u << (day - 1);
    if (event->button() == Qt::LeftButton)
        setDays(m_days | bit);
    else if (event->button() == Qt::RightButton)
        setDays(m_days & ~bit);
    else
        event->ignore();
}

// --- the editor ---------------------------------------------------------------------------------

FormSchedule::FormSchedule(ConfigStore& store, std::string binding, std::string task, QWidget* parent)
    : QDialog(parent), m_task(store, binding, task)
{
    setObjectName("FormSchedule");
    setWindowTitle(QString::fromUtf8(kCaption));
    setModal(false);

    std::string file;
    if (auto owner = TaskStore(store).binding(binding))
        file = owner->file();
    m_taskLabel = new QLabel(QStringLiteral("Задание: ") + QString::fromStdString(task), this);
    m_taskLabel->setObjectName("label_task");
    m_taskLabel->setTextFormat(Qt::PlainText);
    m_pathLabel = new QLabel(QString::fromStdString(binding) + QStringLiteral(": ") + QString::fromStdString(file),
                             this);
    m_pathLabel->setObjectName("label_path");
    m_pathLabel->setTextFormat(Qt::PlainText);

    m_list = new QTreeWidget(this);
    m_list->setObjectName("lv_schedules");
    m_list->setHeaderLabels({QStringLiteral("Название"), QStringLiteral("Расписание")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->setMaximumHeight(120);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &FormSchedule::loadSelected);

    auto* newButton = new QPushButton(QStringLiteral("Новое"), this);
    newButton->setObjectName("cb_new");
    newButton->setToolTip(QStringLiteral("Новое расписание"));
    newButton->setAutoDefault(false);
    connect(newButton, &QPushButton::clicked, this, &FormSchedule::newSchedule);
    auto* removeButton = new QPushButton(QStringLiteral("Удалить"), this);
    removeButton->setObjectName("cb_delete");
    removeButton->setAutoDefault(false);
    connect(removeButton, &QPushButton::clicked, this, &FormSchedule::removeSchedule);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(newButton);
    listButtons->addWidget(removeButton);
    listButtons->addStretch();
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_list, 1);
    listRow->addLayout(listButtons);

    m_pages = new QTabWidget(this);
    m_pages->setObjectName("tab_schedule");
    QWidget* daily = buildPage(m_daily, QStringLiteral("daily"), {QStringLiteral("Каждый день")});
    daily->setObjectName("TabFormDaily");
    QWidget* weekly = buildPage(m_weekly, QStringLiteral("weekly"),
                                {QStringLiteral("Понедельник"), QStringLiteral("Вторник"), QStringLiteral("Среда"),
                                 QStringLiteral("Четверг"), QStringLiteral("Пятница"), QStringLiteral("Суббота"),
                                 QStringLiteral("Воскресенье")});
    weekly->setObjectName("TabFormWeekly");
    QWidget* workWeek = buildPage(m_workWeek, QStringLiteral("workweek"),
                                  {QStringLiteral("Рабочие дни"), QStringLiteral("Выходные дни")});
    workWeek->setObjectName("TabFormWorkWeek");
    m_pages->addTab(daily, QStringLiteral("Ежедневно"));
    m_pages->addTab(weekly, QStringLiteral("Еженедельно"));
    m_pages->addTab(workWeek, QStringLiteral("Еженедельно(раб/вых)"));

    auto* hint = new QLabel(QString::fromUtf8(kShiftHint), this);
    hint->setObjectName("label_hint");
    hint->setTextFormat(Qt::PlainText);

    m_night = new QCheckBox(QStringLiteral("Разрешить ночное оповещение"), this);
    m_night->setObjectName("checkbox_night");
    connect(m_night, &QCheckBox::toggled, this, &FormSchedule::applyNight);

    auto* month = new QGroupBox(this);
    month->setObjectName("groupb_month");
    m_onlyChosenDays = new QCheckBox(QStringLiteral("только по определенным дням месяца"), month);
    m_onlyChosenDays->setObjectName("checkbox_month");
    m_days = new MonthDayGrid(month);
    m_days->setObjectName("pictb_days");
    m_days->setEnabled(false);
    connect(m_onlyChosenDays, &QCheckBox::toggled, m_days, &QWidget::setEnabled);
    auto* daysHint = new QLabel(QStringLiteral("Выбор - левая кнопка, отмена - правая"), month);
    daysHint->setObjectName("label_days");
    auto* monthLayout = new QGridLayout(month);
    monthLayout->addWidget(m_onlyChosenDays, 0, 0, 1, 2);
    monthLayout->addWidget(m_days, 1, 0);
    monthLayout->addWidget(daysHint, 1, 1, Qt::AlignTop);
    monthLayout->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_OK");
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cb_Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &FormSchedule::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FormSchedule::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_taskLabel);
    layout->addWidget(m_pathLabel);
    layout->addLayout(listRow);
    layout->addWidget(m_pages);
    layout->addWidget(hint);
    layout->addWidget(m_night);
    layout->addWidget(month);
    layout->addWidget(buttons);

    applyNight();
    fillList(std::nullopt);
    newSchedule();
}

QWidget* FormSchedule::buildPage(std::vector<ScheduleRow>& rows, const QString& pageName,
                                 const std::vector<QString>& names)
{
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    grid->setColumnStretch(1, 1);
    // Wide enough for the longest day name and for a window, so switching a row never moves the
    // sliders.
    const QFontMetrics metrics = fontMetrics();
    const int labelWidth = std::max(metrics.horizontalAdvance(QStringLiteral("Воскресенье")),
                                    metrics.horizontalAdvance(QStringLiteral("<отключен>"))) +
                           40;
    const int windowWidth = metrics.horizontalAdvance(QStringLiteral("<не выбран>")) + 12;
    for (std::size_t i = 0; i < names.size(); ++i) {
        ScheduleRow row;
        row.dayName = names[i];
        row.enabled = new QCheckBox(page);
        row.enabled->setObjectName(QStringLiteral("checkbox_%1_%2").arg(pageName).arg(i));
        row.enabled->setMinimumWidth(labelWidth);
        row.slider = new RangeSlider(page);
        row.slider->setObjectName(QStringLiteral("slider_%1_%2").arg(pageName).arg(i));
        row.slider->setPageStep(4);
        row.slider->setTickInterval(4);
        row.slider->setTickLabels([](int position) {
            return position % 8 == 0 ? QString::number(hourOf(position)) : QString();
        });
        row.window = new QLabel(page);
        row.window->setObjectName(QStringLiteral("label_%1_%2").arg(pageName).arg(i));
        row.window->setMinimumWidth(windowWidth);
        row.window->setTextFormat(Qt::PlainText);
        grid->addWidget(row.enabled, static_cast<int>(i), 0);
        grid->addWidget(row.slider, static_cast<int>(i), 1);
        grid->addWidget(row.window, static_cast<int>(i), 2);
        rows.push_back(row);
    }
    grid->setRowStretch(static_cast<int>(names.size()), 1);
    // The rows' signals are wired once the vector no longer moves.
    for (const ScheduleRow& row : rows) {
        const ScheduleRow* stable = &row;
        connect(row.enabled, &QCheckBox::toggled, this, [this, stable] { showRow(*stable); });
        connect(row.slider, &RangeSlider::rangeChanged, this, [this, stable] { showRow(*stable); });
        connect(row.slider, &RangeSlider::rangeCleared, this, [this, stable] { showRow(*stable); });
        showRow(row);
    }
    return page;
}

void FormSchedule::showRow(const ScheduleRow& row)
{
    const bool on = row.enabled->isChecked();
    const bool chosen = row.slider->hasSelection();
    QString state;
    if (!on)
        state = QStringLiteral("<отключен>");
    else if (chosen)
        state = windowText("%02d:%02d-%02d:%02d", windowShown(row));
    else
        state = QStringLiteral("<не выбран>");
    row.enabled->setText(row.dayName + QStringLiteral("\r\n") + state);
    row.slider->setEnabled(on);
    row.window->setEnabled(on);
    row.window->setText(chosen ? windowText("%02d:%02d - %02d:%02d", windowShown(row)) : QStringLiteral("<не выбран>"));
}

void FormSchedule::applyNight()
{
    const bool night = m_night->isChecked();
    for (auto* rows : {&m_daily, &m_weekly, &m_workWeek})
        for (const ScheduleRow& row : *rows)
            row.slider->setRange(night ? kDayFirst : kWorkFirst, night ? kDayLast : kWorkLast);
}

void FormSchedule::fillList(const std::optional<std::string>& select)
{
    m_loading = true;
    m_list->clear();
    QTreeWidgetItem* selected = nullptr;
    for (const ScheduleData& schedule : m_task.schedules().all()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, scheduleTitle(schedule.name));
        item->setText(1, QString::fromStdString(scheduleText(schedule.block, schedule.monthMask)));
        item->setData(0, Qt::UserRole, QString::fromStdString(schedule.name));
        if (select && *select == schedule.name)
            selected = item;
    }
    if (selected)
        m_list->setCurrentItem(selected);
    m_loading = false;
}

void FormSchedule::loadSelected()
{
    if (m_loading)
        return;
    const auto items = m_list->selectedItems();
    if (items.isEmpty())
        return;
    const std::string name = items.front()->data(0, Qt::UserRole).toString().toStdString();
    const std::optional<ScheduleData> schedule = m_task.schedules().get(name);
    if (!schedule) {
        // Removed meanwhile (by another window or process).
        fillList(std::nullopt);
        newSchedule();
        return;
    }
    m_current = name;
    load(*schedule);
    m_loaded = Loaded{*schedule, block(), monthMask(), nightAllowed()};
}

void FormSchedule::clearRows()
{
    for (auto* rows : {&m_daily, &m_weekly, &m_workWeek})
        for (ScheduleRow& row : *rows) {
            row.loaded.reset();
            row.enabled->setChecked(false);
            row.slider->clearSelection();
            showRow(row);
        }
}

void FormSchedule::load(const ScheduleData& schedule)
{
    clearRows();
    std::vector<DayWindow> days;
    bool outsideWorkHours = false;
    for (const ScheduleWindow& window : schedule.block.windows) {
        days.push_back(dayWindowOf(window));
        const std::pair<int, int> steps = positionsOf(days.back());
        outsideWorkHours = outsideWorkHours || steps.first < kWorkFirst || steps.second > kWorkLast;
    }
    // A window reaching into the night is shown whole, rather than cut to the day's sliders and
    // stored cut on OK.
    m_night->setChecked(schedule.night || outsideWorkHours);
    applyNight();
    m_onlyChosenDays->setChecked(schedule.monthMask & kOnlyChosenDays);
    m_days->setDays(schedule.monthMask & kDayBits);

    auto put = [this](ScheduleRow& row, const DayWindow& window) {
        const std::pair<int, int> steps = positionsOf(window);
        row.loaded = window;
        row.loadedLow = steps.first;
        row.loadedHigh = steps.second;
        row.enabled->setChecked(true);
        row.slider->setSelection(steps.first, steps.second);
        showRow(row);
    };
    const auto& windows = schedule.block.windows;
    switch (schedule.block.kind) {
    case kScheduleDaily:
        m_pages->setCurrentIndex(DailyPage);
        if (!windows.empty())
            put(m_daily[0], days[0]);
        break;
    case kScheduleWeekly:
        m_pages->setCurrentIndex(WeeklyPage);
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const int weekday = static_cast<int>((windows[i].start / kSecondsPerDay) % 7);
            const auto row = std::find(kWeeklyRowDays.begin(), kWeeklyRowDays.end(), weekday);
            const auto index = static_cast<std::size_t>(row - kWeeklyRowDays.begin());
            if (!m_weekly[index].enabled->isChecked())
                put(m_weekly[index], days[i]);
        }
        break;
    case kScheduleWorkWeek:
        m_pages->setCurrentIndex(WorkWeekPage);
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const int weekday = static_cast<int>((windows[i].start / kSecondsPerDay) % 7);
            ScheduleRow& row = (weekday == kSunday || weekday == kSaturday) ? m_workWeek[1] : m_workWeek[0];
            if (!row.enabled->isChecked())
                put(row, days[i]);
        }
        break;
    default:
        break;
    }
}

void FormSchedule::newSchedule()
{
    m_loading = true;
    m_list->clearSelection();
    m_list->setCurrentItem(nullptr);
    m_loading = false;
    m_current.reset();
    m_loaded.reset();
    clearRows();
    m_night->setChecked(false);
    applyNight();
    m_onlyChosenDays->setChecked(false);
    m_days->setDays(0);
}

void FormSchedule::selectSchedule(const std::string& name)
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->data(0, Qt::UserRole).toString().toStdString() == name) {
            m_list->setCurrentItem(item);
            return;
        }
    }
}

std::optional<DayWindow> FormSchedule::windowOf(const ScheduleRow& row) const
{
    if (!row.enabled->isChecked() || !row.slider->hasSelection())
        return std::nullopt;
    return windowShown(row);
}

ScheduleBlock FormSchedule::block() const
{
    switch (m_pages->currentIndex()) {
    case WeeklyPage: {
        std::array<std::optional<DayWindow>, 7> byWeekday;
        for (std::size_t i = 0; i < m_weekly.size(); ++i)
            byWeekday[static_cast<std::size_t>(kWeeklyRowDays[i])] = windowOf(m_weekly[i]);
        return weeklyBlock(byWeekday);
    }
    case WorkWeekPage:
        return workWeekBlock(windowOf(m_workWeek[0]), windowOf(m_workWeek[1]));
    default: {
        const std::optional<DayWindow> window = windowOf(m_daily[0]);
        return window ? dailyBlock(*window) : ScheduleBlock{{}, kScheduleDaily};
    }
    }
}

std::uint32_t FormSchedule::monthMask() const
{
    return (m_onlyChosenDays->isChecked() ? kOnlyChosenDays : 0u) | m_days->days();
}

bool FormSchedule::nightAllowed() const { return m_night->isChecked(); }

void FormSchedule::accept()
{
    if (store())
        QDialog::accept();
}

bool FormSchedule::store()
{
    std::uint32_t mask = monthMask();
    if ((mask & kOnlyChosenDays) && (mask & kDayBits) == 0) {
        showMessage(QString::fromUtf8(kNoDaysChosen), QString::fromUtf8(kNoDaysTitle));
        m_onlyChosenDays->setFocus();
        return false;
    }
    ScheduleBlock windows = block();
    bool night = nightAllowed();
    if (m_current && m_loaded && m_loaded->shownBlock == windows && m_loaded->shownMonthMask == mask &&
        m_loaded->shownNight == night) {
        windows = m_loaded->stored.block;
        mask = m_loaded->stored.monthMask;
        night = m_loaded->stored.night;
    }
    const bool wasValid = m_task.valid();
    bool stored = false;
    if (m_current) {
        stored = m_task.schedules().set(*m_current, windows, mask, night);
    } else if (std::optional<std::string> name = m_task.schedules().add(windows, mask, night)) {
        m_current = *name;
        stored = true;
    }
    if (!stored) {
        showMessage(QString::fromUtf8(kWriteFailed), windowTitle());
        return false;
    }
    fillList(m_current);
    emit scheduleStored(wasValid && !m_task.valid());
    return true;
}

void FormSchedule::removeSchedule()
{
    if (!m_current)
        return;
    const QString question = QStringLiteral("Вы желаете удалить '") + scheduleTitle(*m_current) + QStringLiteral("' ?");
    if (QMessageBox::warning(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) !=
        QMessageBox::Yes)
        return;
    const bool wasValid = m_task.valid();
    const bool removed = m_task.schedules().remove(*m_current);
    fillList(std::nullopt);
    newSchedule();
    if (removed)
        emit scheduleStored(wasValid && !m_task.valid());
}

void FormSchedule::showMessage(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box.exec();
}

}  // namespace peltra::config
