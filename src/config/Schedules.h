// A task's schedules: weekly time windows under its "Расписания" key, the test whether calling
// is allowed at a given moment, and the schedule text shown in lists.
#pragma once

#include "config/ConfigStore.h"
#include "platform/registry/RegistryValue.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace peltra::config {

inline constexpr char kSchedulesKeyName[] = "Расписания";

// Kind words of a window block.
inline constexpr std::uint32_t kScheduleWeekly = 20;    // a window per chosen weekday
inline constexpr std::uint32_t kScheduleWorkWeek = 21;  // work days and weekend
inline constexpr std::uint32_t kScheduleDaily = 22;     // the same window every day

// Month mask: the flag "only on chosen days of the month"; bit k below it chooses day k+1.
inline constexpr std::uint32_t kOnlyChosenDays = 0x80000000u;

inline constexpr std::uint32_t kSecondsPerDay = 86400;

// One window: seconds from Sunday 00:00 of the week, both ends inside. The end may be 00:00 of
// the next day, which shows as 24:00.
struct ScheduleWindow {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    bool operator==(const ScheduleWindow&) const = default;
};

// The stored block: n windows as little-endian (start, end) pairs, then the kind word.
struct ScheduleBlock {
    std::vector<ScheduleWindow> windows;
    std::uint32_t kind = 0;
    bool operator==(const ScheduleBlock&) const = default;
};

platform::Bytes encodeBlock(const ScheduleBlock& block);
// The pairs wholly before the last 32-bit word, and that word as the kind. A block shorter than
// one word has no windows and kind 0; stray bytes of a damaged block are ignored.
ScheduleBlock decodeBlock(const platform::Bytes& bytes);

// A time of day in seconds, 0 (00:00) to 86400 (24:00).
struct DayWindow {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
};

// Weekdays as the week counts them: 0 = Sunday ... 6 = Saturday.
inline constexpr int kSunday = 0;
inline constexpr int kSaturday = 6;

// Blocks of the three kinds, pairs in the order Monday ... Saturday, Sunday.
ScheduleBlock dailyBlock(DayWindow window);
// byWeekday is indexed Sunday = 0 ... Saturday = 6; days without a window are left out.
ScheduleBlock weeklyBlock(const std::array<std::optional<DayWindow>, 7>& byWeekday);
ScheduleBlock workWeekBlock(std::optional<DayWindow> workDays, std::optional<DayWindow> weekend);

// One schedule as stored.
struct ScheduleData {
    std::string name;  // "0001"
    ScheduleBlock block;
    std::uint32_t monthMask = 0;
    bool night = false;
};

// The moment the allowed test looks at.
struct LocalTime {
    int year = 1970;
    int month = 1;      // 1..12
    int dayOfWeek = 0;  // 0 = Sunday
    int day = 1;        // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};
LocalTime localTime(std::time_t when);
LocalTime localTimeNow();

// Seconds from Sunday 00:00 of the week.
std::uint32_t weekSeconds(const LocalTime& at);

// Whether one schedule opens a window at that moment: its month mask lets the day through, its
// kind is one of the weekly kinds, and some window holds the moment (ends included).
bool scheduleAllows(const ScheduleData& schedule, const LocalTime& at);
// Whether any of them does; no schedules, no calling.
bool anyScheduleAllows(const std::vector<ScheduleData>& schedules, const LocalTime& at);

// The text lists show for a schedule: the chosen days of the month, then the windows by kind.
std::string scheduleText(const ScheduleBlock& block, std::uint32_t monthMask);

// A task's schedules. Every operation reads or writes the store at once and is one store
// transaction; nothing is kept in memory, so changes made by another process are seen at once.
// Once the task is removed, reads give nothing and writes fail.
class Schedules {
public:
    // taskKey is relative to the configuration root.
    Schedules(ConfigStore& store, std::string taskKey);

    std::vector<std::string> names();
    // Every schedule with its values, missing values written with their defaults.
    std::vector<ScheduleData> all();
    std::optional<ScheduleData> get(const std::string& name);
    // Creates the next numbered schedule; its name.
    std::optional<std::string> add(const ScheduleBlock& block, std::uint32_t monthMask, bool night);
    // false when no schedule has that name.
    bool set(const std::string& name, const ScheduleBlock& block, std::uint32_t monthMask, bool night);
    bool remove(const std::string& name);

private:
    std::string scheduleKey(const std::string& name) const;
    // Whether the owning task still exists: a removed task is never brought back by its schedules.
    bool taskExists();
    ScheduleData read(const std::string& name);
    bool write(const std::string& name, const ScheduleBlock& block, std::uint32_t monthMask, bool night);

    ConfigStore& m_store;
    std::string m_taskKey;
    std::string m_key;
};

}  // namespace peltra::config
