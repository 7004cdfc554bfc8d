// Schedules: the stored window block (also damaged), the builders of the three kinds, the allowed
// test at exact instants, the text lists show, and the stored collection of a task.
#include "config/Schedules.h"

#include "config/Operator.h"
#include "support/ConfigTestStore.h"

#include <gtest/gtest.h>

namespace peltra::config {

bool operator==(const ScheduleData& a, const ScheduleData& b)
{
    return a.name == b.name && a.block == b.block && a.monthMask == b.monthMask && a.night == b.night;
}

namespace {

using platform::Bytes;
using platform::RegistryValue;
using test::Names;

constexpr std::uint32_t kHour = 3600;
constexpr std::uint32_t kDay = 86400;
constexpr int kMonday = 1, kTuesday = 2, kWednesday = 3, kFriday = 5;

// A moment of a week; the day of the month only matters to month masks.
LocalTime at(int weekday, int hour, int minute, int second, int monthDay = 15)
{
    return {2024, 5, weekday, monthDay, hour, minute, second};
}

ScheduleData stored(ScheduleBlock block, std::uint32_t monthMask = 0) { return {"0001", std::move(block), monthMask, false}; }

// The mask of the chosen days 1..31 with the "only chosen days" flag.
std::uint32_t chosenDays(std::initializer_list<int> days)
{
    std::uint32_t mask = kOnlyChosenDays;
    for (int day : days)
        mask |= 1u << (day - 1);
    return mask;
}

TEST(ScheduleBlockTest, PairsThenTheKindLittleEndianAndDamagedBlocksReadWithoutCrashing)
{
    const ScheduleBlock block{{{0x01020304u, 0x0A0B0C0Du}, {0xFFu, 0x10000u}}, kScheduleWeekly};
    EXPECT_EQ(encodeBlock(block), (Bytes{0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A,  //
                                        0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,  //
                                        20, 0, 0, 0}));
    EXPECT_EQ(decodeBlock(encodeBlock(block)), block);

    const Bytes whole = encodeBlock({{{100, 200}, {300, 400}}, kScheduleDaily});
    Bytes oneStray = whole;
    oneStray.insert(oneStray.begin() + 16, 0x77);  // 21 bytes: two pairs, a stray byte, the kind
    const std::tuple<const char*, Bytes, std::vector<ScheduleWindow>, std::uint32_t> cases[] = {
        {"empty", {}, {}, 0},
        {"three bytes", {0x16, 0, 0}, {}, 0},
        {"the kind alone", {22, 0, 0, 0}, {}, 22},
        {"a stray byte", oneStray, {{100, 200}, {300, 400}}, 22},
        {"a pair cut short", Bytes(whole.begin() + 4, whole.end()), {{200, 300}}, 22},
        {"half a pair and a kind", {1, 0, 0, 0, 22, 0, 0, 0}, {}, 22},
    };
    for (const auto& [what, bytes, windows, kind] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(decodeBlock(bytes).windows, windows);
        EXPECT_EQ(decodeBlock(bytes).kind, kind);
    }
}

TEST(ScheduleAllowedTest, WindowEdgesBelongToTheWindow)
{
    const ScheduleData daily = stored(dailyBlock({8 * kHour, 20 * kHour}));
    ASSERT_EQ(daily.block.windows.size(), 7u);
    EXPECT_EQ(daily.block.windows[6], (ScheduleWindow{8 * kHour, 20 * kHour})) << "Sunday comes last, as day 0";
    std::array<std::optional<DayWindow>, 7> saturdayEvening{};
    saturdayEvening[kSaturday] = DayWindow{20 * kHour, 24 * kHour};
    const ScheduleData saturday = stored(weeklyBlock(saturdayEvening));
    std::array<std::optional<DayWindow>, 7> tuesdayOnly{};
    tuesdayOnly[kTuesday] = DayWindow{9 * kHour, 10 * kHour};
    const ScheduleData tuesday = stored(weeklyBlock(tuesdayOnly));
    const ScheduleData workWeek = stored(workWeekBlock(DayWindow{9 * kHour, 18 * kHour}, std::nullopt));

    const std::tuple<const char*, const ScheduleData&, LocalTime, bool> cases[] = {
        {"daily, exactly the start", daily, at(kMonday, 8, 0, 0), true},
        {"daily, exactly the end", daily, at(kMonday, 20, 0, 0), true},
        {"daily, a second before", daily, at(kMonday, 7, 59, 59), false},
        {"daily, a second after", daily, at(kMonday, 20, 0, 1), false},
        {"daily, Sunday noon", daily, at(kSunday, 12, 0, 0), true},
        {"daily, Sunday night", daily, at(kSunday, 3, 0, 0), false},
        {"Saturday evening, 23:59:59", saturday, at(kSaturday, 23, 59, 59), true},
        {"Saturday evening, 19:59:59", saturday, at(kSaturday, 19, 59, 59), false},
        {"Saturday evening does not wrap to Sunday", saturday, at(kSunday, 0, 0, 0), false},
        {"Tuesday only, on Tuesday", tuesday, at(kTuesday, 9, 30, 0), true},
        {"Tuesday only, on Wednesday", tuesday, at(kWednesday, 9, 30, 0), false},
        {"work days, Friday", workWeek, at(kFriday, 17, 59, 0), true},
        {"work days, Saturday", workWeek, at(kSaturday, 12, 0, 0), false},
        {"work days, Sunday", workWeek, at(kSunday, 12, 0, 0), false},
    };
    for (const auto& [what, schedule, moment, allowed] : cases)
        EXPECT_EQ(scheduleAllows(schedule, moment), allowed) << what;
}

TEST(ScheduleAllowedTest, MonthMaskAndKindDecideBeforeTheWindows)
{
    const std::tuple<const char*, std::uint32_t, std::uint32_t, int, bool> cases[] = {
        {"days 1 and 2, on the 1st", 22, 0x80000003u, 1, true},
        {"days 1 and 2, on the 2nd", 22, 0x80000003u, 2, true},
        {"days 1 and 2, on the 3rd", 22, 0x80000003u, 3, false},
        {"day 31, on the 31st", 22, chosenDays({31}), 31, true},
        {"day 31, on the 30th", 22, chosenDays({31}), 30, false},
        {"days chosen but the flag off", 22, 0x00000003u, 3, true},
        {"any kind of the twenties", 29, 0, 17, true},
        {"kind 19", 19, 0, 17, false},
        {"kind 30", 30, 0, 17, false},
        {"kind 2", 2, 0, 17, false},
    };
    for (const auto& [what, kind, mask, monthDay, allowed] : cases) {
        ScheduleBlock block = dailyBlock({0, 24 * kHour});
        block.kind = kind;
        EXPECT_EQ(scheduleAllows(stored(block, mask), at(kWednesday, 12, 0, 0, monthDay)), allowed) << what;
    }
    // No schedules, no calling; any one open window is enough.
    const ScheduleBlock allDay = dailyBlock({0, 24 * kHour});
    const LocalTime third = at(kWednesday, 12, 0, 0, 3);
    EXPECT_FALSE(anyScheduleAllows({}, third));
    EXPECT_FALSE(anyScheduleAllows({stored(allDay, 0x80000003u)}, third));
    EXPECT_TRUE(anyScheduleAllows({stored(allDay, 0x80000003u), stored(allDay)}, third));
}

TEST(ScheduleTextTest, ShowsTheChosenDaysAndTheWindowsByKind)
{
    std::array<std::optional<DayWindow>, 7> byWeekday{};
    byWeekday[kMonday] = DayWindow{9 * kHour + 15 * 60, 12 * kHour + 30 * 60};
    byWeekday[kSaturday] = DayWindow{20 * kHour, 24 * kHour};
    byWeekday[kSunday] = DayWindow{8 * kHour, 9 * kHour};
    const ScheduleBlock daily = dailyBlock({8 * kHour, 20 * kHour});
    ScheduleBlock unknown = daily;
    unknown.kind = 23;

    const std::tuple<const char*, ScheduleBlock, std::uint32_t, std::string> cases[] = {
        {"daily", daily, 0, "Ежедневно: 08:00-20:00; "},
        {"daily round the clock", dailyBlock({0, 24 * kHour}), 0, "Ежедневно: 00:00-24:00; "},
        {"daily without pairs", {{}, kScheduleDaily}, 0, "Ежедневно: "},
        {"weekly", weeklyBlock(byWeekday), 0, "Еженедельно: Пн:09:15-12:30; Сб:20:00-24:00; Вс:08:00-09:00; "},
        {"past midnight", {{{6 * kDay + 20 * kHour, 7 * kDay + 90 * 60}}, kScheduleWeekly}, 0,
         "Еженедельно: Сб:20:00-25:30; "},
        {"work days and weekend", workWeekBlock(DayWindow{8 * kHour, 18 * kHour}, DayWindow{10 * kHour, 14 * kHour}),
         0, "Еженедельно(раб/вых): Раб. дни: 08:00-18:00; Вых. дни: 10:00-14:00; "},
        {"weekend first in the block", {{{0, 2 * kHour}, {kDay + kHour, kDay + 3 * kHour}}, kScheduleWorkWeek}, 0,
         "Еженедельно(раб/вых): Вых. дни: 00:00-02:00; Раб. дни: 01:00-03:00; "},
        {"unknown kind", unknown, 0, ""},
        {"days 1-3,10,11,20", daily, chosenDays({1, 2, 3, 10, 11, 20}),
         "1-3,10,11,20 числа каждого м-ца: 08:00-20:00; "},
        {"days 30 and 31", daily, chosenDays({30, 31}), "30,31 числа каждого м-ца: 08:00-20:00; "},
        {"every day of the month", daily, 0xFFFFFFFFu, "1-31 числа каждого м-ца: 08:00-20:00; "},
        {"days 1, 2 of an unknown kind", unknown, 0x80000003u, "1,2 числа каждого м-ца: "},
        {"days without the flag", daily, 0x00000003u, "Ежедневно: 08:00-20:00; "},
    };
    for (const auto& [what, block, mask, text] : cases)
        EXPECT_EQ(scheduleText(block, mask), text) << what;
}

class SchedulesStoreTest : public ::testing::Test, protected test::ConfigTestStore {
protected:
    void SetUp() override { ASSERT_TRUE(addTask()); }
    std::string scheduleKey(const std::string& name) const
    {
        return ConfigStore::fullPath(taskKey(kBinding, kTask) + "\\Расписания\\" + name);
    }
    Schedules m_schedules{store, taskKey(kBinding, kTask)};
};

TEST_F(SchedulesStoreTest, AddSetGetAndRemoveByName)
{
    const ScheduleBlock daily = dailyBlock({8 * kHour, 20 * kHour});
    const ScheduleBlock weekend = workWeekBlock(std::nullopt, DayWindow{10 * kHour, 14 * kHour});
    EXPECT_EQ(m_schedules.add(daily, 0, false), "0001");
    EXPECT_EQ(m_schedules.add(weekend, 0x80000003u, true), "0002");
    EXPECT_EQ(m_schedules.add(daily, 0, false), "0003");

    // The stored values as another reader sees them.
    EXPECT_EQ(registry.getValue(scheduleKey("0002"), "Schedule"), RegistryValue::binary(encodeBlock(weekend)));
    EXPECT_EQ(registry.getValue(scheduleKey("0002"), "SchMonth"), RegistryValue::dword(0x80000003u));
    EXPECT_EQ(registry.getValue(scheduleKey("0002"), "SchNight"), RegistryValue::dword(1));
    EXPECT_EQ(*m_schedules.get("0002"), (ScheduleData{"0002", weekend, 0x80000003u, true}));

    EXPECT_TRUE(m_schedules.set("0002", daily, 0, false));
    EXPECT_EQ(*m_schedules.get("0002"), (ScheduleData{"0002", daily, 0, false}));
    EXPECT_FALSE(m_schedules.set("0009", daily, 0, false));
    EXPECT_FALSE(registry.keyExists(scheduleKey("0009"))) << "set must not create a schedule";
    for (const char* name : {"", "\\", "0001\\x", "..\\0001"}) {
        EXPECT_FALSE(m_schedules.get(name)) << name;
        EXPECT_FALSE(m_schedules.set(name, {}, 0, false)) << name;
        EXPECT_FALSE(m_schedules.remove(name)) << name;
    }

    // Removing the largest and a middle one: numbers follow the largest remaining.
    EXPECT_TRUE(m_schedules.remove("0002"));
    EXPECT_FALSE(m_schedules.remove("0002"));
    EXPECT_TRUE(m_schedules.remove("0003"));
    EXPECT_EQ(m_schedules.add(daily, 0, false), "0002");
    EXPECT_EQ(m_schedules.names(), (Names{"0001", "0002"}));
    EXPECT_EQ(m_schedules.all().size(), 2u);
}

TEST_F(SchedulesStoreTest, MissingValuesReadAsNoWindowAndAreWrittenBack)
{
    ASSERT_TRUE(registry.createKey(scheduleKey("0001")));
    ASSERT_TRUE(registry.setValue(scheduleKey("0002"), "Schedule", RegistryValue::binary({1, 2, 3})));
    const std::vector<ScheduleData> all = m_schedules.all();
    ASSERT_EQ(all.size(), 2u);
    for (const ScheduleData& data : all) {
        SCOPED_TRACE(data.name);
        EXPECT_EQ(data, (ScheduleData{data.name, {}, 0, false}));
        EXPECT_FALSE(scheduleAllows(data, at(kMonday, 12, 0, 0)));
        EXPECT_EQ(registry.getValue(scheduleKey(data.name), "SchMonth"), RegistryValue::dword(0));
        EXPECT_EQ(registry.getValue(scheduleKey(data.name), "SchNight"), RegistryValue::dword(0));
    }
    EXPECT_EQ(registry.getValue(scheduleKey("0001"), "Schedule"), RegistryValue::binary({}));
    EXPECT_EQ(registry.getValue(scheduleKey("0002"), "Schedule"), RegistryValue::binary({1, 2, 3}))
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
    Operator op = task();
    Flags flags;
    const LocalTime mondayNine = at(kMonday, 9, 0, 0, 3);
    EXPECT_FALSE(op.allowedAt(flags, mondayNine)) << "no schedules";
    ASSERT_TRUE(op.schedules().add(dailyBlock({8 * kHour, 20 * kHour}), 0x80000003u, false));
    EXPECT_FALSE(op.allowedAt(flags, mondayNine)) << "the 3rd is not a chosen day";
    ASSERT_TRUE(op.schedules().add(dailyBlock({8 * kHour, 20 * kHour}), 0, false));
    EXPECT_TRUE(op.allowedAt(flags, mondayNine));
    EXPECT_FALSE(op.allowedAt(flags, at(kMonday, 20, 0, 1, 3)));
    flags.m_paused = true;
    EXPECT_FALSE(op.allowedAt(flags, mondayNine));
    flags.m_paused = false;
    flags.m_waiting = true;
    EXPECT_FALSE(op.allowedAt(flags, mondayNine));
}

}  // namespace
}  // namespace peltra::config
