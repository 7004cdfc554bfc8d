// The debt table, its task and the read-back that the engine's tests share.
#pragma once

#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "speech/Catalogue.h"
#include "speech/Patterns.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace peltra::test {

namespace fs = std::filesystem;

struct Person {
    std::string telef;
    double summa;
};

// A row of the table as read back from the file.
struct Stored {
    std::string telef;
    double proba = 0;
    std::optional<double> otboj;
    std::optional<data::DbfDate> data;
    std::string clock;
    double count = 0;  // KOL, the repeat counter
};

inline std::time_t localMoment(int year, int month, int day, int hour, int minute, int second)
{
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

inline data::DbfDate today()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

inline std::string fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::unique_ptr<data::DbfTable> writableTable(const fs::path& path)
{
    data::DbfTable::Options options;
    options.writable = true;
    std::string error;
    auto table = data::DbfTable::open(path, options, &error);
    EXPECT_TRUE(table) << error;
    return table;
}

// TELEF, the bookkeeping columns, SUMMA (5), KOL (6), and columns of every sortable type.
inline void makeDebtTable(const fs::path& path, const std::vector<Person>& people)
{
    const std::vector<data::DbfFieldSpec> fields = {
        {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},  {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0},
        {"CLOCK", 'C', 8, 0},  {"SUMMA", 'N', 10, 2}, {"KOL", 'N', 3, 0},   {"FVAL", 'F', 12, 2},
        {"FIO", 'C', 20, 0},   {"BIG", 'N', 15, 0},   {"DAY", 'D', 8, 0}};
    std::string error;
    ASSERT_TRUE(data::DbfTable::create(path, fields, 866, true, &error)) << error;
    auto table = writableTable(path);
    ASSERT_TRUE(table);
    for (const Person& person : people)
        ASSERT_TRUE(table->append({{0, data::DbfValue::ofText(person.telef)},
                                   {1, data::DbfValue::ofNumber(0)},
                                   {5, data::DbfValue::ofNumber(person.summa)}},
                                  nullptr, &error))
            << error;
}

inline std::vector<Stored> readStored(const fs::path& path)
{
    std::string error;
    auto table = data::DbfTable::open(path, {}, &error);
    EXPECT_TRUE(table) << error;
    std::vector<Stored> rows;
    for (std::uint32_t i = 0; table && i < table->recordCount(); ++i) {
        std::string bytes;
        EXPECT_TRUE(table->readRecord(i, bytes, &error)) << error;
        Stored row;
        row.telef = table->value(bytes, 0).text;
        row.proba = table->value(bytes, 1).number;
        if (const data::DbfValue otboj = table->value(bytes, 2); otboj.kind == data::DbfValue::Kind::Number)
            row.otboj = otboj.number;
        if (const data::DbfValue date = table->value(bytes, 3); date.kind == data::DbfValue::Kind::Date)
            row.data = date.date;
        row.clock = table->value(bytes, 4).text;
        if (table->fields().size() > 6)
            row.count = table->value(bytes, 6).number;
        rows.push_back(row);
    }
    return rows;
}

// The phrase "ZADL" and the function that speaks a sum in roubles.
inline void addDebtPhrases(config::ConfigStore& store)
{
    speech::Catalogue catalogue(store);
    ASSERT_TRUE(catalogue.addFolder("", "Фразы"));
    ASSERT_TRUE(catalogue.addLeaf("Фразы", "Долг", "ZADL", "Ваша задолженность"));
    ASSERT_TRUE(catalogue.addFolder("", "Функции"));
    ASSERT_TRUE(catalogue.addLeaf("Функции", "Рубли", "@009", "Сумма (рубли)"));
}

// A valid task on table, sorted by SUMMA, template "ZADL" then the sum, called every day in the
// window given.
inline void defineDebtTask(config::ConfigStore& store, const std::string& binding, const std::string& name,
                           const fs::path& table, config::DayWindow window = {0, config::kSecondsPerDay},
                           bool ascending = true)
{
    config::TaskStore tasks(store);
    const config::AddResult added = tasks.addBinding(binding, table.string(), "");
    ASSERT_TRUE(added == config::AddResult::Added || added == config::AddResult::Exists);
    ASSERT_EQ(config::Operators(store, binding).add(name), config::AddResult::Added);
    config::Operator task(store, binding, name);
    ASSERT_EQ(task.setSort("SUMMA", "N", ascending), config::Change::Changed);
    speech::Patterns patterns(store, binding, name);
    speech::PatternItem item;
    item.path = "Фразы\\Долг";
    ASSERT_TRUE(patterns.Insert("", item));
    item.path = "Функции\\Рубли";
    item.arg = "SUMMA";
    ASSERT_TRUE(patterns.Insert("0001", item));
    ASSERT_TRUE(task.schedules().add(config::dailyBlock(window), 0, false));
    ASSERT_TRUE(task.setValid(true));
}

// XDG_RUNTIME_DIR, where the table and station locks live, set to a folder of the test's own
// while it lives.
class ScopedRuntimeDir {
public:
    explicit ScopedRuntimeDir(const fs::path& dir)
    {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_saved = old;
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    ~ScopedRuntimeDir()
    {
        if (m_saved)
            setenv("XDG_RUNTIME_DIR", m_saved->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }

private:
    std::optional<std::string> m_saved;
};

}  // namespace peltra::test
