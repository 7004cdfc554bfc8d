// Schedules: the stored window block, the builders of the three kinds, the allowed test at exact
// instants, the text lists show, and the stored collection of a task.
#include "config/Schedules.h"

#include "config/Operator.h"
#include "config/TaskStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltra::config {
namespace {

using platform::Bytes;
using platform::RegistryStore;
using platform::RegistryValue;
using Names = std::vector<std::string>;

constexpr std::uint32_t kHour = 3600;
constexpr std::uint32_t kDay = 86400;
constexpr int kMonday = 1, kTuesday = 2, kWednesday = 3, kFriday = 5;

// A moment of a week; the day of the month only matters to month masks.
LocalTime at(int weekday, int hour, int minute, int second, int monthDay = 15)
{
    return {2024, 5, weekday, monthDay, hour, minute, second};
}

ScheduleData stored(ScheduleBlock block, std::uint32_t monthMask = 0)
{
    return {"0001", std::move(block), monthMask, false};
}

// The mask of the chosen days 1..31 with the "only chosen days" flag.
std::uint32_t chosenDays(std::initializer_list<int> days)
{
    std::uint32_t mask = kOnlyChosenDays;
    for (int day : days)
        mask |= 1u << (day - 1);
    return mask;
}

TEST(ScheduleBlockTest, EncodesPairsThenTheKindLittleEndian)
{
    const ScheduleBlock block{{{0x01020304u, 0x0A0B0C0Du}, {0xFFu, 0x10000u}}, kScheduleWeekly};
    EXPECT_EQ(encodeBlock(block), (Bytes{0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A,  //
                                        0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,  //
                                        20, 0, 0, 0}));
    for (std::size_t n : {0u, 1u, 7u}) {
        ScheduleBlock sized{std::vector<ScheduleWindow>(n, ScheduleWindow{1, 2}), kScheduleDaily};
        const Bytes bytes = encodeBlock(sized);
        EXPECT_EQ(bytes.size(), 8 * n + 4) << n;
        EXPECT_EQ(decodeBlock(bytes), sized) << n;
    }
    EXPECT_EQ(decodeBlock(encodeBlock(block)), block);
}

TEST(ScheduleBlockTest, DamagedBlocksReadWithoutCrashing)
{
    const Bytes whole = encodeBlock({{{100, 200}, {300, 400}}, kScheduleDaily});
    struct Case {
        const char* what;
        Bytes bytes;
        std::vector<ScheduleWindow> windows;
        std::uint32_t kind;
    };
    Bytes oneStray = whole;
    oneStray.insert(oneStray.begin() + 16, 0x77);  // 21 bytes: two pairs, a stray byte, the kind
    const Case cases[] = {
        {"empty", {}, {}, 0},
        {"one byte", {0x16}, {}, 0},
        {"three bytes", {0x16, 0, 0}, {}, 0},
        {"the kind alone", {22, 0, 0, 0}, {}, 22},
        {"a stray byte", oneStray, {{100, 200}, {300, 400}}, 22},
        {"a pair cut short", Bytes(whole.begin() + 4, whole.end()), {{200, 300}}, 22},
        {"half a pair and a kind", {1, 0, 0, 0, 22, 0, 0, 0}, {}, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ScheduleBlock block = decodeBlock(c.bytes);
        EXPECT_EQ(block.windows, c.windows);
        EXPECT_EQ(block.kind, c.kind);
    }
    // No window, no calling, and no window text.
    EXPECT_FALSE(scheduleAllows(stored(decodeBlock({})), at(kMonday, 12, 0, 0)));
    EXPECT_EQ(scheduleText(decodeBlock({}), 0), "");
}

TEST(ScheduleBuildersTest, ListThePairsMondayToSaturdayThenSunday)
{
    const DayWindow work{8 * kHour, 20 * kHour};
    const DayWindow rest{10 * kHour, 24 * kHour};
    auto days = [](std::initializer_list<int> weekdays, DayWindow w) {
        std::vector<ScheduleWindow> windows;
        for (int d : weekdays)
            windows.push_back({d * kDay + w.from, d * kDay + w.to});
        return windows;
    };

    const ScheduleBlock daily = dailyBlock(work);
    EXPECT_EQ(daily.kind, 22u);
    EXPECT_EQ(daily.windows, days({1, 2, 3, 4, 5, 6, 0}, work));

    std::array<std::optional<DayWindow>, 7> byWeekday{};
    byWeekday[kSunday] = rest;
    byWeekday[kWednesday] = work;
    byWeekday[kSaturday] = rest;
    const ScheduleBlock weekly = weeklyBlock(byWeekday);
    EXPECT_EQ(weekly.kind, 20u);
    EXPECT_EQ(weekly.windows, (std::vector<ScheduleWindow>{{3 * kDay + 8 * kHour, 3 * kDay + 20 * kHour},
                                                           {6 * kDay + 10 * kHour, 7 * kDay},
                                                           {10 * kHour, kDay}}));
    EXPECT_TRUE(weeklyBlock({}).windows.empty());

    struct Case {
        std::optional<DayWindow> workDays, weekend;
        std::vector<ScheduleWindow> windows;
    };
    std::vector<ScheduleWindow> both = days({1, 2, 3, 4, 5}, work);
    for (const ScheduleWindow& w : days({6, 0}, rest))
        both.push_back(w);
    const Case cases[] = {
        {work, rest, both},
        {work, std::nullopt, days({1, 2, 3, 4, 5}, work)},
        {std::nullopt, rest, days({6, 0}, rest)},
        {std::nullopt, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        const ScheduleBlock block = workWeekBlock(c.workDays, c.weekend);
        EXPECT_EQ(block.kind, 21u);
        EXPECT_EQ(block.windows, c.windows);
    }
}

TEST(ScheduleAllowedTest, WindowEdgesBelongToTheWindow)
{
    EXPECT_EQ(weekSeconds(at(kMonday, 9, 0, 0)), 118800u);
    EXPECT_EQ(weekSeconds(at(kSaturday, 23, 59, 59)), 604799u);

    const ScheduleData daily = stored(dailyBlock({8 * kHour, 20 * kHour}));
    std::array<std::optional<DayWindow>, 7> saturdayEvening{};
    saturdayEvening[kSaturday] = DayWindow{20 * kHour, 24 * kHour};
    const ScheduleData saturday = stored(weeklyBlock(saturdayEvening));
    ASSERT_EQ(saturday.block.windows, (std::vector<ScheduleWindow>{{6 * kDay + 20 * kHour, 604800u}}));
    std::array<std::optional<DayWindow>, 7> tuesdayOnly{};
    tuesdayOnly[kTuesday] = DayWindow{9 * kHour, 10 * kHour};
    const ScheduleData tuesday = stored(weeklyBlock(tuesdayOnly));
    const ScheduleData workWeek = stored(workWeekBlock(DayWindow{9 * kHour, 18 * kHour}, std::nullopt));

    struct Case {
        const char* what;
        const ScheduleData& schedule;
        LocalTime moment;
        bool allowed;
    };
    const Case cases[] = {
        {"daily, Monday 09:00", daily, at(kMonday, 9, 0, 0), true},
        {"daily, exactly the start", daily, at(kMonday, 8, 0, 0), true},
        {"daily, exactly the end", daily, at(kMonday, 20, 0, 0), true},
        {"daily, a second before", daily, at(kMonday, 7, 59, 59), false},
        {"daily, a second after", daily, at(kMonday, 20, 0, 1), false},
        {"daily, Sunday noon", daily, at(kSunday, 12, 0, 0), true},
        {"daily, Saturday 20:00", daily, at(kSaturday, 20, 0, 0), true},
        {"daily, Sunday night", daily, at(kSunday, 3, 0, 0), false},
        {"Saturday evening, 23:59:59", saturday, at(kSaturday, 23, 59, 59), true},
        {"Saturday evening, 20:00", saturday, at(kSaturday, 20, 0, 0), true},
        {"Saturday evening, 19:59:59", saturday, at(kSaturday, 19, 59, 59), false},
        {"Saturday evening does not wrap to Sunday", saturday, at(kSunday, 0, 0, 0), false},
        {"Tuesday only, on Tuesday", tuesday, at(kTuesday, 9, 30, 0), true},
        {"Tuesday only, on Wednesday", tuesday, at(kWednesday, 9, 30, 0), false},
        {"work days, Friday", workWeek, at(kFriday, 17, 59, 0), true},
        {"work days, Saturday", workWeek, at(kSaturday, 12, 0, 0), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scheduleAllows(c.schedule, c.moment), c.allowed) << c.what;
}

TEST(ScheduleAllowedTest, MonthMaskAndKindDecideBeforeTheWindows)
{
    const ScheduleBlock allDay = dailyBlock({0, 24 * kHour});
    struct Case {
        const char* what;
        std::uint32_t kind;
        std::uint32_t mask;
        int monthDay;
        bool allowed;
    };
    const Case cases[] = {
        {"days 1 and 2, on the 1st", 22, 0x80000003u, 1, true},
        {"days 1 and 2, on the 2nd", 22, 0x80000003u, 2, true},
        {"days 1 and 2, on the 3rd", 22, 0x80000003u, 3, false},
        {"day 31, on the 31st", 22, chosenDays({31}), 31, true},
        {"day 31, on the 30th", 22, chosenDays({31}), 30, false},
        {"days chosen but the flag off", 22, 0x00000003u, 3, true},
        {"no mask", 22, 0, 17, true},
        {"weekly kind", 20, 0, 17, true},
        {"work week kind", 21, 0, 17, true},
        {"any kind of the twenties", 29, 0, 17, true},
        {"kind 19", 19, 0, 17, false},
        {"kind 30", 30, 0, 17, false},
        {"kind 0", 0, 0, 17, false},
        {"kind 2", 2, 0, 17, false},
    };
    for (const Case& c : cases) {
        ScheduleBlock block = allDay;
        block.kind = c.kind;
        EXPECT_EQ(scheduleAllows(stored(block, c.mask), at(kWednesday, 12, 0, 0, c.monthDay)), c.allowed) << c.what;
    }

    // No schedules, no calling; any one open window is enough.
    const LocalTime noon = at(kWednesday, 12, 0, 0, 3);
    EXPECT_FALSE(anyScheduleAllows({}, noon));
    EXPECT_FALSE(anyScheduleAllows({stored(allDay, 0x80000003u)}, noon));
    EXPECT_TRUE(anyScheduleAllows({stored(allDay, 0x80000003u), stored(allDay)}, noon));
}

TEST(ScheduleTextTest, ShowsTheChosenDaysAndTheWindowsByKind)
{
    std::array<std::optional<DayWindow>, 7> byWeekday{};
    byWeekday[kMonday] = DayWindow{9 * kHour + 15 * 60, 12 * kHour + 30 * 60};
    byWeekday[kSaturday] = DayWindow{20 * kHour, 24 * kHour};
    byWeekday[kSunday] = DayWindow{8 * kHour, 9 * kHour};
    std::array<std::optional<DayWindow>, 7> everyDay{};
    for (auto& day : everyDay)
        day = DayWindow{7 * kHour + 45 * 60, 8 * kHour};
    const ScheduleBlock daily = dailyBlock({8 * kHour, 20 * kHour});
    ScheduleBlock unknown = daily;
    unknown.kind = 23;

    struct Case {
        const char* what;
        ScheduleBlock block;
        std::uint32_t mask;
        std::string text;
    };
    const Case cases[] = {
        {"daily", daily, 0, "Ежедневно: 08:00-20:00; "},
        {"daily round the clock", dailyBlock({0, 24 * kHour}), 0, "Ежедневно: 00:00-24:00; "},
        {"daily without pairs", {{}, kScheduleDaily}, 0, "Ежедневно: "},
        {"weekly", weeklyBlock(byWeekday), 0, "Еженедельно: Пн:09:15-12:30; Сб:20:00-24:00; Вс:08:00-09:00; "},
        {"weekly, every day", weeklyBlock(everyDay), 0,
         "Еженедельно: Пн:07:45-08:00; Вт:07:45-08:00; Ср:07:45-08:00; Чт:07:45-08:00; Пт:07:45-08:00; "
         "Сб:07:45-08:00; Вс:07:45-08:00; "},
        {"work days and weekend", workWeekBlock(DayWindow{8 * kHour, 18 * kHour}, DayWindow{10 * kHour, 14 * kHour}),
         0, "Еженедельно(раб/вых): Раб. дни: 08:00-18:00; Вых. дни: 10:00-14:00; "},
        {"weekend only", workWeekBlock(std::nullopt, DayWindow{10 * kHour, 24 * kHour}), 0,
         "Еженедельно(раб/вых): Вых. дни: 10:00-24:00; "},
        {"weekend first in the block", {{{0, 2 * kHour}, {kDay + kHour, kDay + 3 * kHour}}, kScheduleWorkWeek}, 0,
         "Еженедельно(раб/вых): Вых. дни: 00:00-02:00; Раб. дни: 01:00-03:00; "},
        {"unknown kind", unknown, 0, ""},
        {"kind 0", {{{kDay, kDay + kHour}}, 0}, 0, ""},
        {"days 1-3,10,11,20", daily, chosenDays({1, 2, 3, 10, 11, 20}),
         "1-3,10,11,20 числа каждого м-ца: 08:00-20:00; "},
        {"days 5 to 8", daily, chosenDays({5, 6, 7, 8}), "5-8 числа каждого м-ца: 08:00-20:00; "},
        {"days 30 and 31", daily, chosenDays({30, 31}), "30,31 числа каждого м-ца: 08:00-20:00; "},
        {"day 31 alone", daily, chosenDays({31}), "31 числа каждого м-ца: 08:00-20:00; "},
        {"every day of the month", daily, 0xFFFFFFFFu, "1-31 числа каждого м-ца: 08:00-20:00; "},
        {"days 1, 2 of an unknown kind", unknown, 0x80000003u, "1,2 числа каждого м-ца: "},
        {"days without the flag", daily, 0x00000003u, "Ежедневно: 08:00-20:00; "},
        {"weekly with chosen days", weeklyBlock(byWeekday), chosenDays({1, 15}),
         "1,15 числа каждого м-ца: Пн:09:15-12:30; Сб:20:00-24:00; Вс:08:00-09:00; "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scheduleText(c.block, c.mask), c.text) << c.what;
}

class SchedulesStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_tasks.addBinding("Абоненты", "", ""), AddResult::Added);
        ASSERT_EQ(m_tasks.binding("Абоненты")->operators().add("Долг"), AddResult::Added);
    }

    std::string scheduleKey(const std::string& name) const
    {
        return ConfigStore::fullPath(taskKey("Абоненты", "Долг") + "\\Расписания\\" + name);
    }

    test::TempDir m_dir;
    RegistryStore m_registry{m_dir / "registry.db"};
    ConfigStore m_store{m_registry};
    TaskStore m_tasks{m_store};
    Schedules m_schedules{m_store, taskKey("Абоненты", "Долг")};
};

TEST_F(SchedulesStoreTest, AddSetGetAndRemoveByName)
{
    EXPECT_TRUE(m_schedules.names().empty());
    const ScheduleBlock daily = dailyBlock({8 * kHour, 20 * kHour});
    const ScheduleBlock weekend = workWeekBlock(std::nullopt, DayWindow{10 * kHour, 14 * kHour});
    EXPECT_EQ(m_schedules.add(daily, 0, false), "0001");
    EXPECT_EQ(m_schedules.add(weekend, 0x80000003u, true), "0002");
    EXPECT_EQ(m_schedules.add(daily, 0, false), "0003");
    EXPECT_EQ(m_schedules.names(), (Names{"0001", "0002", "0003"}));

    // The stored values as another reader sees them.
    EXPECT_EQ(m_registry.getValue(scheduleKey("0002"), "Schedule"), RegistryValue::binary(encodeBlock(weekend)));
    EXPECT_EQ(m_registry.getValue(scheduleKey("0002"), "SchMonth"), RegistryValue::dword(0x80000003u));
    EXPECT_EQ(m_registry.getValue(scheduleKey("0002"), "SchNight"), RegistryValue::dword(1));

    const auto second = m_schedules.get("0002");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->name, "0002");
    EXPECT_EQ(second->block, weekend);
    EXPECT_EQ(second->monthMask, 0x80000003u);
    EXPECT_TRUE(second->night);

    EXPECT_TRUE(m_schedules.set("0002", daily, 0, false));
    EXPECT_EQ(m_schedules.get("0002")->block, daily);
    EXPECT_FALSE(m_schedules.get("0002")->night);
    EXPECT_FALSE(m_schedules.set("0009", daily, 0, false));
    EXPECT_FALSE(m_registry.keyExists(scheduleKey("0009"))) << "set must not create a schedule";
    EXPECT_FALSE(m_schedules.get("0009"));

    // Removing the largest and a middle one: numbers follow the largest remaining.
    EXPECT_TRUE(m_schedules.remove("0002"));
    EXPECT_FALSE(m_registry.keyExists(scheduleKey("0002")));
    EXPECT_FALSE(m_schedules.remove("0002"));
    EXPECT_EQ(m_schedules.add(daily, 0, false), "0004");
    EXPECT_TRUE(m_schedules.remove("0004"));
    EXPECT_TRUE(m_schedules.remove("0003"));
    EXPECT_EQ(m_schedules.add(daily, 0, false), "0002");

    const std::vector<ScheduleData> all = m_schedules.all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].name, "0001");
    EXPECT_EQ(all[1].name, "0002");
    EXPECT_EQ(all[1].block, daily);
}

TEST_F(SchedulesStoreTest, NamesThatWouldReachOtherKeysAreRefused)
{
    ASSERT_EQ(m_schedules.add(dailyBlock({0, kDay}), 0, false), "0001");
    for (const char* name : {"", "\\", "0001\\x", "..\\0001"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(m_schedules.get(name));
        EXPECT_FALSE(m_schedules.set(name, {}, 0, false));
        EXPECT_FALSE(m_schedules.remove(name));
    }
    EXPECT_EQ(m_schedules.names(), (Names{"0001"}));
    EXPECT_FALSE(m_registry.keyExists(scheduleKey("0001\\x")));
}

TEST_F(SchedulesStoreTest, MissingValuesReadAsNoWindowAndAreWrittenBack)
{
    ASSERT_TRUE(m_registry.createKey(scheduleKey("0001")));
    ASSERT_TRUE(m_registry.setValue(scheduleKey("0002"), "Schedule", RegistryValue::binary({1, 2, 3})));
    const std::vector<ScheduleData> all = m_schedules.all();
    ASSERT_EQ(all.size(), 2u);
    for (const ScheduleData& data : all) {
        SCOPED_TRACE(data.name);
        EXPECT_TRUE(data.block.windows.empty());
        EXPECT_EQ(data.block.kind, 0u);
        EXPECT_EQ(data.monthMask, 0u);
        EXPECT_FALSE(data.night);
        EXPECT_FALSE(scheduleAllows(data, at(kMonday, 12, 0, 0)));
        EXPECT_EQ(m_registry.getValue(scheduleKey(data.name), "SchMonth"), RegistryValue::dword(0));
        EXPECT_EQ(m_registry.getValue(scheduleKey(data.name), "SchNight"), RegistryValue::dword(0));
    }
    EXPECT_EQ(m_registry.getValue(scheduleKey("0001"), "Schedule"), RegistryValue::binary({}));
    EXPECT_EQ(m_registry.getValue(scheduleKey("0002"), "Schedule"), RegistryValue::binary({1, 2, 3}))
        << "a damaged block is left as it is";
}

struct Flags : SchedulingFlags {
    bool m_paused = false;
    bool m_waiting = false;
    bool paused() const override { return m_paused; }
    bool waitingForCompletion() const override { return m_waiting; }
};

TEST_F(SchedulesStoreTest, TheTaskIsAllowedOnlyInsideAWindowAndWhileSchedulingRuns)
{
    auto task = m_tasks.task("Абоненты", "Долг");
    ASSERT_TRUE(task);
    Flags flags;
    const LocalTime mondayNine = at(kMonday, 9, 0, 0, 3);
    EXPECT_FALSE(task->allowedAt(flags, mondayNine)) << "no schedules";

    ASSERT_TRUE(task->schedules().add(dailyBlock({8 * kHour, 20 * kHour}), 0x80000003u, false));
    EXPECT_FALSE(task->allowedAt(flags, mondayNine)) << "the 3rd is not a chosen day";
    ASSERT_TRUE(task->schedules().add(dailyBlock({8 * kHour, 20 * kHour}), 0, false));
    EXPECT_TRUE(task->allowedAt(flags, mondayNine));
    EXPECT_FALSE(task->allowedAt(flags, at(kMonday, 20, 0, 1, 3)));

    flags.m_paused = true;
    EXPECT_FALSE(task->allowedAt(flags, mondayNine));
    flags.m_paused = false;
    flags.m_waiting = true;
    EXPECT_FALSE(task->allowedAt(flags, mondayNine));
    flags.m_waiting = false;
    EXPECT_TRUE(task->allowedAt(flags, mondayNine));
}

}  // namespace
}  // namespace peltra::config
