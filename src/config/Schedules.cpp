// Schedules: the window block, the allowed test and the schedule text.
#include "config/Schedules.h"

#include <cstdio>

namespace peltra::config {

using platform::Bytes;
using platform::RegistryValue;

namespace {

void putWord(Bytes& bytes, std::uint32_t word)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(word >> shift));
}

std::uint32_t wordAt(const Bytes& bytes, std::size_t offset)
{
    std::uint32_t word = 0;
    for (int i = 3; i >= 0; --i)
        word = (word << 8) | bytes[offset + static_cast<std::size_t>(i)];
    return word;
}

// The weekdays in the order blocks list them: Monday ... Saturday, then Sunday.
constexpr std::array<int, 7> kBlockOrder = {1, 2, 3, 4, 5, 6, kSunday};

ScheduleWindow onDay(int weekday, DayWindow window)
{
    const auto dayStart = static_cast<std::uint32_t>(weekday) * kSecondsPerDay;
    return {dayStart + window.from, dayStart + window.to};
}

bool isWeekend(int weekday) { return weekday == kSaturday || weekday == kSunday; }

std::string format(const char* pattern, unsigned a, unsigned b, unsigned c, unsigned d)
{
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, pattern, a, b, c, d);
    return buffer;
}

// "HH:MM-HH:MM" fields of a window: the end hour counts on past 24 when the end lies on a later
// day than the start, so a window ending at midnight shows 24:00.
struct WindowFields {
    unsigned startHour, startMinute, endHour, endMinute;
};

WindowFields fieldsOf(const ScheduleWindow& window)
{
    const unsigned startDay = window.start / kSecondsPerDay;
    const unsigned endDay = window.end / kSecondsPerDay;
    const unsigned dayDifference = endDay >= startDay ? endDay - startDay : 0;
    return {(window.start % kSecondsPerDay) / 3600, (window.start % 3600) / 60,
            (window.end % kSecondsPerDay) / 3600 + 24 * dayDifference, (window.end % 3600) / 60};
}

std::string windowText(const char* pattern, const ScheduleWindow& window)
{
    const WindowFields f = fieldsOf(window);
    return format(pattern, f.startHour, f.startMinute, f.endHour, f.endMinute);
}

// The chosen days 1..31 as runs: "5", "5,6", "5-8", runs joined by ",".
std::string chosenDaysText(std::uint32_t monthMask)
{
    std::string text;
    int day = 1;
    while (day <= 31) {
        if (!(monthMask & (1u << (day - 1)))) {
            ++day;
            continue;
        }
        int last = day;
        while (last < 31 && (monthMask & (1u << last)))
            ++last;
        if (!text.empty())
            text += ",";
        if (last == day)
            text += std::to_string(day);
        else if (last == day + 1)
            text += std::to_string(day) + "," + std::to_string(last);
        else
            text += std::to_string(day) + "-" + std::to_string(last);
        day = last + 1;
    }
    return text;
}

const char* const kWeekdayPatterns[7] = {
    "Вс:%02d:%02d-%02d:%02d; ", "Пн:%02d:%02d-%02d:%02d; ", "Вт:%02d:%02d-%02d:%02d; ",
    "Ср:%02d:%02d-%02d:%02d; ", "Чт:%02d:%02d-%02d:%02d; ", "Пт:%02d:%02d-%02d:%02d; ",
    "Сб:%02d:%02d-%02d:%02d; ",
};

}  // namespace

Bytes encodeBlock(const ScheduleBlock& block)
{
    Bytes bytes;
    bytes.reserve(block.windows.size() * 8 + 4);
    for (const ScheduleWindow& window : block.windows) {
        putWord(bytes, window.start);
        putWord(bytes, window.end);
    }
    putWord(bytes, block.kind);
    return bytes;
}

ScheduleBlock decodeBlock(const Bytes& bytes)
{
    ScheduleBlock block;
    if (bytes.size() < 4)
        return block;
    const std::size_t kindOffset = bytes.size() - 4;
    block.kind = wordAt(bytes, kindOffset);
    for (std::size_t offset = 0; offset + 8 <= kindOffset; offset += 8)
        block.windows.push_back({wordAt(bytes, offset), wordAt(bytes, offset + 4)});
    return block;
}

ScheduleBlock dailyBlock(DayWindow window)
{
    ScheduleBlock block{{}, kScheduleDaily};
    for (int weekday : kBlockOrder)
        block.windows.push_back(onDay(weekday, window));
    return block;
}

ScheduleBlock weeklyBlock(const std::array<std::optional<DayWindow>, 7>& byWeekday)
{
    ScheduleBlock block{{}, kScheduleWeekly};
    for (int weekday : kBlockOrder)
        if (byWeekday[static_cast<std::size_t>(weekday)])
            block.windows.push_back(onDay(weekday, *byWeekday[static_cast<std::size_t>(weekday)]));
    return block;
}

ScheduleBlock workWeekBlock(std::optional<DayWindow> workDays, std::optional<DayWindow> weekend)
{
    ScheduleBlock block{{}, kScheduleWorkWeek};
    for (int weekday : kBlockOrder) {
        const std::optional<DayWindow>& window = isWeekend(weekday) ? weekend : workDays;
        if (window)
            block.windows.push_back(onDay(weekday, *window));
    }
    return block;
}

LocalTime localTime(std::time_t when)
{
    std::tm parts{};
    localtime_r(&when, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_wday, parts.tm_mday,
            parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

LocalTime localTimeNow() { return localTime(std::time(nullptr)); }

std::uint32_t weekSeconds(const LocalTime& at)
{
    return static_cast<std::uint32_t>(at.dayOfWeek) * kSecondsPerDay + static_cast<std::uint32_t>(at.hour) * 3600 +
           static_cast<std::uint32_t>(at.minute) * 60 + static_cast<std::uint32_t>(at.second);
}

bool scheduleAllows(const ScheduleData& schedule, const LocalTime& at)
{
    if ((schedule.monthMask & kOnlyChosenDays) && at.day >= 1 && at.day <= 31 &&
        !(schedule.monthMask & (1u << (at.day - 1))))
        return false;
    if (schedule.block.kind / 10 != 2)
        return false;
    const std::uint32_t now = weekSeconds(at);
    for (const ScheduleWindow& window : schedule.block.windows)
        if (window.start <= now && now <= window.end)
            return true;
    return false;
}

bool anyScheduleAllows(const std::vector<ScheduleData>& schedules, const LocalTime& at)
{
    for (const ScheduleData& schedule : schedules)
        if (scheduleAllows(schedule, at))
            return true;
    return false;
}

std::string scheduleText(const ScheduleBlock& block, std::uint32_t monthMask)
{
    std::string text;
    if (monthMask & kOnlyChosenDays)
        text = chosenDaysText(monthMask) + " числа каждого м-ца: ";
    const auto prefix = [&](const char* kindWord) {
        if (text.empty())
            text = kindWord;
    };
    switch (block.kind) {
    case kScheduleWeekly:
        prefix("Еженедельно: ");
        for (const ScheduleWindow& window : block.windows)
            text += windowText(kWeekdayPatterns[(window.start / kSecondsPerDay) % 7], window);
        break;
    case kScheduleWorkWeek: {
        prefix("Еженедельно(раб/вых): ");
        bool weekendShown = false;
        bool workShown = false;
        for (const ScheduleWindow& window : block.windows) {
            const int weekday = static_cast<int>((window.start / kSecondsPerDay) % 7);
            if (isWeekend(weekday) && !weekendShown) {
                text += windowText("Вых. дни: %02d:%02d-%02d:%02d; ", window);
                weekendShown = true;
            } else if (!isWeekend(weekday) && !workShown) {
                text += windowText("Раб. дни: %02d:%02d-%02d:%02d; ", window);
                workShown = true;
            }
        }
        break;
    }
    case kScheduleDaily:
        prefix("Ежедневно: ");
        if (!block.windows.empty())
            text += windowText("%02d:%02d-%02d:%02d; ", block.windows.front());
        break;
    default:
        break;
    }
    return text;
}

Schedules::Schedules(ConfigStore& store, std::string taskKey)
    : m_store(store), m_taskKey(std::move(taskKey)), m_key(m_taskKey + "\\" + kSchedulesKeyName)
{
}

std::string Schedules::scheduleKey(const std::string& name) const { return m_key + "\\" + name; }

bool Schedules::taskExists() { return m_store.registry().keyExists(ConfigStore::fullPath(m_taskKey)); }

std::vector<std::string> Schedules::names() { return m_store.subKeys(m_key); }

ScheduleData Schedules::read(const std::string& name)
{
    ScheduleData data;
    data.name = name;
    const std::string key = scheduleKey(name);
    KeyValues values(m_store, key);
    if (const RegistryValue* block = values.find("Schedule")) {
        data.block = decodeBlock(block->data);
    } else {
        // No block yet: no windows, and the empty block is written as every missing value is.
        m_store.registry().setValue(ConfigStore::fullPath(key), "Schedule", RegistryValue::binary({}));
    }
    data.monthMask = values.number("SchMonth", 0);
    data.night = values.flag("SchNight", false);
    return data;
}

std::vector<ScheduleData> Schedules::all()
{
    std::vector<ScheduleData> schedules;
    m_store.registry().snapshot([&] {
        if (!taskExists())
            return false;
        for (const std::string& name : names())
            schedules.push_back(read(name));
        return true;
    });
    return schedules;
}

std::optional<ScheduleData> Schedules::get(const std::string& name)
{
    std::optional<ScheduleData> data;
    if (!isKeyName(name))
        return data;
    m_store.registry().snapshot([&] {
        if (m_store.registry().keyExists(ConfigStore::fullPath(scheduleKey(name))))
            data = read(name);
        return true;
    });
    return data;
}

bool Schedules::write(const std::string& name, const ScheduleBlock& block, std::uint32_t monthMask, bool night)
{
    const std::string key = scheduleKey(name);
    return m_store.registry().setValue(ConfigStore::fullPath(key), "Schedule", RegistryValue::binary(encodeBlock(block))) &&
           m_store.writeNumber(key, "SchMonth", monthMask) && m_store.writeBool(key, "SchNight", night);
}

std::optional<std::string> Schedules::add(const ScheduleBlock& block, std::uint32_t monthMask, bool night)
{
    std::optional<std::string> name;
    const bool ok = m_store.registry().transaction([&] {
        if (!taskExists())
            return false;
        name = m_store.createNumberedSubKey(m_key);
        return name && write(*name, block, monthMask, night);
    });
    return ok ? name : std::nullopt;
}

bool Schedules::set(const std::string& name, const ScheduleBlock& block, std::uint32_t monthMask, bool night)
{
    return isKeyName(name) && m_store.registry().transaction([&] {
        return m_store.registry().keyExists(ConfigStore::fullPath(scheduleKey(name))) &&
               write(name, block, monthMask, night);
    });
}

bool Schedules::remove(const std::string& name)
{
    return isKeyName(name) && m_store.registry().transaction([&] {
        return m_store.registry().keyExists(ConfigStore::fullPath(scheduleKey(name))) &&
               m_store.deleteKey(scheduleKey(name));
    });
}

}  // namespace peltra::config
