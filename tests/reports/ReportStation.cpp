// Test helper: a station home with a store and generated subscriber tables.
#include "ReportStation.h"

#include "config/StationHome.h"
#include "data/DbfTable.h"

#include <gtest/gtest.h>

#include <random>

namespace peltra::test {

std::vector<data::DbfFieldSpec> subscriberFields()
{
    return {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0},
            {"CLOCK", 'C', 8, 0},  {"SUMMA", 'N', 10, 2}, {"FIO", 'C', 20, 0}, {"KV", 'N', 4, 0},
            {"PAID", 'L', 1, 0}};
}

std::vector<SubscriberRow> generateRows(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    const char* names[] = {"Иванов", "Петров, П.", "Сидоров \"мл\"", "Ivanova", "Кузнецов"};
    std::vector<SubscriberRow> rows;
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        SubscriberRow row;
        const int digits = 5 + static_cast<int>(random() % 5);
        long long phone = 1 + static_cast<long long>(random() % 9);
        for (int d = 1; d < digits; ++d)
            phone = phone * 10 + static_cast<long long>(random() % 10);
        // Unique telephones: the row number is folded into the last digits.
        row.telef = std::to_string(phone) + std::to_string(i % 10) + std::to_string(i / 10 % 10);
        row.proba = static_cast<int>(random() % 4);
        if (random() % 3 != 0) {
            // 2024-02-20 .. 2024-03-10, over the leap day.
            const int offset = static_cast<int>(random() % 20);
            row.data = offset < 10 ? data::DbfDate{2024, 2, 20 + offset} : data::DbfDate{2024, 3, offset - 9};
            row.clock = "10:00:00";
        }
        if (random() % 7 != 0)
            row.summa = static_cast<double>(random() % 80000) / 100.0;
        row.fio = names[random() % 5];
        row.kv = static_cast<int>(random() % 30);
        row.paid = random() % 2 == 0;
        rows.push_back(std::move(row));
    }
    return rows;
}

bool writeSubscriberTable(const std::filesystem::path& file, const std::vector<SubscriberRow>& rows)
{
    std::string error;
    if (!data::DbfTable::create(file, subscriberFields(), 866, true, &error)) {
        ADD_FAILURE() << error;
        return false;
    }
    data::DbfTable::Options options;
    options.writable = true;
    auto table = data::DbfTable::open(file, options, &error);
    if (!table) {
        ADD_FAILURE() << error;
        return false;
    }
    for (const SubscriberRow& row : rows) {
        data::DbfFieldValues values = {{0, data::DbfValue::ofText(row.telef)},
                                       {1, data::DbfValue::ofNumber(row.proba)},
                                       {2, data::DbfValue::ofNumber(0)},
                                       {4, data::DbfValue::ofText(row.clock)},
                                       {6, data::DbfValue::ofText(row.fio)},
                                       {7, data::DbfValue::ofNumber(row.kv)},
                                       {8, data::DbfValue::ofLogical(row.paid)}};
        if (row.data)
            values.push_back({3, data::DbfValue::ofDate(*row.data)});
        if (row.summa)
            values.push_back({5, data::DbfValue::ofNumber(*row.summa)});
        if (!table->append(values, nullptr, &error)) {
            ADD_FAILURE() << error;
            return false;
        }
    }
    return true;
}

ReportStation::ReportStation() : m_home(m_dir / "home")
{
    std::filesystem::create_directories(m_home);
    std::filesystem::create_directories(m_dir / "db");
    m_registry = std::make_unique<platform::RegistryStore>(config::registryFile(m_home));
    m_store = std::make_unique<config::ConfigStore>(*m_registry);
    m_tasks = std::make_unique<config::TaskStore>(*m_store);
}

ReportStation::~ReportStation() { closeStore(); }

void ReportStation::closeStore()
{
    m_tasks.reset();
    m_store.reset();
    m_registry.reset();
}

}  // namespace peltra::test
